#include "AudioDevices.h"
#include "audio/AudioFileRecorder.h"
#include "audio/AudioNoticeQueue.h"
#include "audio/portaudio/PortAudioBackend.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

namespace phonaxis {
namespace {

constexpr double kPi = 3.14159265358979;

// A tone whose first sample is not 0.
std::vector<float> tone(std::size_t count, double rateHz, double frequencyHz)
{
    std::vector<float> samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        samples[i] = static_cast<float>(
            0.5 * std::sin(2.0 * kPi * frequencyHz * static_cast<double>(i) / rateHz + 0.5));
    }
    return samples;
}

std::uint32_t u32(const std::uint8_t* at) {
    return std::uint32_t{at[0]} | std::uint32_t{at[1]} << 8 | std::uint32_t{at[2]} << 16 |
           std::uint32_t{at[3]} << 24;
}

struct RecordedWav {
    std::uint32_t rate = 0;
    std::vector<float> samples;
};

// The recording's bytes as a mono float WAV: the layout the document's
// reader loads.
template <typename Bytes> RecordedWav parseFloatWav(const Bytes& bytes)
{
    RecordedWav wav;
    const std::uint8_t* b = bytes.data();
    EXPECT_GE(bytes.size(), 48u);
    if (bytes.size() < 48) {
        return wav;
    }
    EXPECT_EQ(std::memcmp(b, "RIFF", 4), 0);
    EXPECT_EQ(std::memcmp(b + 8, "WAVEfmt ", 8), 0);
    EXPECT_EQ(u32(b + 4), bytes.size() - 8);
    EXPECT_EQ(b[20] | b[21] << 8, 3);  // IEEE float
    EXPECT_EQ(b[22] | b[23] << 8, 1);  // mono
    EXPECT_EQ(std::memcmp(b + 40, "data", 4), 0);
    EXPECT_EQ(u32(b + 44), bytes.size() - 48);
    wav.rate = u32(b + 24);
    wav.samples.resize((bytes.size() - 48) / 4);
    if (!wav.samples.empty()) {
        std::memcpy(wav.samples.data(), b + 48, wav.samples.size() * 4);
    }
    return wav;
}

// The finished recording's file, read back and parsed.
RecordedWav recordedWav(const AudioFileRecorder& recorder)
{
    TrackBuffer<std::uint8_t> bytes;
    std::string error;
    if (!recorder.readRecording(bytes, error)) {
        ADD_FAILURE() << error;
        return {};
    }
    return parseFloatWav(bytes);
}

class AudioFileRecorderTest : public ::testing::Test {
protected:
    // Hands notices over until `ms` of sound have been recorded.
    bool waitForRecorded(const AudioFileRecorder& recorder, double ms) {
        for (;;) {
            const auto notice = m_notices.next(std::chrono::seconds(20));
            if (!notice) {
                ADD_FAILURE() << "no notice from the recording";
                return false;
            }
            if (notice->session == recorder.session() && notice->elapsedMs >= ms) {
                return true;
            }
        }
    }

    test::AlsaFileDevices m_devices;
    AudioNoticeQueue m_notices;
};

// A known signal on the input reaches the file sample for sample, at the
// chosen rate, and the level and elapsed time follow it.
TEST_F(AudioFileRecorderTest, RecordsTheInputSignal) {
    const double rates[] = {11025.0, 22050.0, 44100.0};
    for (const double rate : rates) {
        SCOPED_TRACE(rate);
        std::vector<float> input(static_cast<std::size_t>(rate));
        for (std::size_t i = 0; i < input.size(); ++i) {
            input[i] = static_cast<float>(0.25 + 0.5 * std::sin(0.01 * static_cast<double>(i)));
        }
        m_devices.writeInput(input);
        PortAudioBackend backend;
        AudioFileRecorder recorder(backend, m_notices.poster());
        const AudioResult started = recorder.start(rate, "phxrec");
        ASSERT_TRUE(started.ok) << started.message;
        EXPECT_TRUE(recorder.isRecording());
        EXPECT_EQ(recorder.deviceName(), "phxrec");
        ASSERT_TRUE(waitForRecorded(recorder, 300.0));
        const AudioResult stopped = recorder.stop();
        ASSERT_TRUE(stopped.ok) << stopped.message;
        EXPECT_FALSE(recorder.isRecording());
        EXPECT_GE(recorder.elapsedSeconds(), 0.3);
        EXPECT_GE(recorder.newestMinimum(), -0.25f);
        EXPECT_LE(recorder.newestMaximum(), 0.75f);

        const RecordedWav wav = recordedWav(recorder);
        EXPECT_EQ(wav.rate, static_cast<std::uint32_t>(rate));
        EXPECT_EQ(wav.samples.size(), recorder.writtenSamples());
        // The start of the recording, before the writer could ever have
        // fallen behind, is the input exactly.
        const std::size_t compared = std::min<std::size_t>(wav.samples.size(), 4000);
        ASSERT_GE(compared, 2000u);
        EXPECT_EQ(std::memcmp(wav.samples.data(), input.data(), compared * sizeof(float)), 0);
    }
}

// Every recording gets a file of its own: a second recording, or a second
// recorder, never overwrites one not yet saved.
TEST_F(AudioFileRecorderTest, EachRecordingHasItsOwnFile) {
    m_devices.writeInput(std::vector<float>(4000, 0.5f));
    PortAudioBackend backend;
    AudioFileRecorder first(backend, m_notices.poster());
    AudioFileRecorder second(backend, m_notices.poster());
    ASSERT_TRUE(first.start(22050.0, "phxrec").ok);
    ASSERT_TRUE(first.stop().ok);
    const std::string firstPath = first.outputFilePath();
    ASSERT_TRUE(second.start(22050.0, "phxrec").ok);
    ASSERT_TRUE(second.stop().ok);
    EXPECT_NE(firstPath, second.outputFilePath());
    EXPECT_TRUE(std::filesystem::exists(firstPath));
    ASSERT_TRUE(first.start(22050.0, "phxrec").ok);
    ASSERT_TRUE(first.stop().ok);
    EXPECT_NE(firstPath, first.outputFilePath());
    EXPECT_NE(second.outputFilePath(), first.outputFilePath());
}

// Stopped at once, the recording is still a valid WAV file.
TEST_F(AudioFileRecorderTest, StartingTwiceAndStoppingAtOnce) {
    PortAudioBackend backend;
    AudioFileRecorder recorder(backend, m_notices.poster());
    ASSERT_TRUE(recorder.start(11025.0, "phxrec").ok);
    const std::string path = recorder.outputFilePath();
    EXPECT_TRUE(recorder.start(11025.0, "phxrec").ok);
    EXPECT_EQ(recorder.outputFilePath(), path);
    ASSERT_TRUE(recorder.stop().ok);
    const RecordedWav wav = recordedWav(recorder);
    EXPECT_EQ(wav.rate, 11025u);
    EXPECT_TRUE(recorder.stop().ok);
}

TEST_F(AudioFileRecorderTest, ErrorsLeaveTheRecorderIdle) {
    struct Case {
        const char* what;
        const char* device;
        double rate;
        const char* message;
    };
    const Case cases[] = {
        {"no such device", "phx-no-such-device", 22050.0,
         "There is no audio input device named \"phx-no-such-device\"."},
        {"no rate", "phxrec", 0.0, "The recording rate is not one a sound card can use."},
        {"beyond any card", "phxrec", 2.0e6, "The recording rate is not one a sound card can use."},
    };
    PortAudioBackend backend;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AudioFileRecorder recorder(backend, m_notices.poster());
        const AudioResult result = recorder.start(c.rate, c.device);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.message, c.message);
        EXPECT_FALSE(recorder.isRecording());
        TrackBuffer<std::uint8_t> bytes;
        std::string error;
        EXPECT_FALSE(recorder.readRecording(bytes, error));
    }
}

// An input device that runs only at 48000 Hz and delivers the blocks the
// test hands it, so that what was captured is certain. Rates are converted
// by the real converter, or fail when `conversionFails`.
class FixedRateInput final : public AudioBackend {
public:
    static constexpr double kRateHz = 48000.0;

    class Stream final : public AudioStream {
    public:
        AudioResult start() override { return {}; }
        void stop(bool) noexcept override {}
        bool isActive() const override { return true; }
        double rateHz() const override { return kRateHz; }
        const std::string& deviceName() const override { return m_name; }

    private:
        std::string m_name = "fixed";
    };

    double outputRateFor(const std::string&, double, std::string&) override { return kRateHz; }
    double inputRateFor(const std::string&, double, std::string&) override { return kRateHz; }
    std::unique_ptr<AudioStream> openOutput(const std::string&, double, AudioRenderer&,
                                            std::string& error) override
    {
        error = "no output";
        return nullptr;
    }
    std::unique_ptr<AudioStream> openInput(const std::string&, double rateHz,
                                           AudioCapturer& capturer, std::string& error) override
    {
        if (rateHz != kRateHz) {
            error = "The audio input cannot record at that rate.";
            return nullptr;
        }
        m_capturer = &capturer;
        return std::make_unique<Stream>();
    }
    bool convertRate(std::span<const float> in, double fromHz, double toHz, std::vector<float>& out,
                     std::string& error) override
    {
        if (conversionFails) {
            error = "The sound cannot be converted.";
            return false;
        }
        return m_real.convertRate(in, fromHz, toHz, out, error);
    }

    // Delivers `samples` in blocks of 480 frames, as the audio thread does.
    void deliver(const std::vector<float>& samples)
    {
        for (std::size_t at = 0; at < samples.size(); at += 480) {
            m_capturer->capture(samples.data() + at,
                                std::min<std::size_t>(480, samples.size() - at));
        }
    }

    bool conversionFails = false;

private:
    PortAudioBackend m_real;
    AudioCapturer* m_capturer = nullptr;
};

// An input that cannot run at the chosen rate records at its own and the
// file is converted to the chosen rate when the recording stops: the header
// says the chosen rate, the length is the time recorded at that rate, and the
// samples are the input's sound at that rate. Elapsed time is in seconds of
// sound throughout.
TEST_F(AudioFileRecorderTest, InputAtAnotherRateIsConvertedToTheChosenRate)
{
    const double rates[] = {11025.0, 22050.0, 44100.0};
    for (const double rate : rates) {
        SCOPED_TRACE(rate);
        FixedRateInput backend;
        AudioFileRecorder recorder(backend, m_notices.poster());
        const AudioResult started = recorder.start(rate);
        ASSERT_TRUE(started.ok) << started.message;
        EXPECT_EQ(recorder.deviceRateHz(), FixedRateInput::kRateHz);
        backend.deliver(tone(48000, FixedRateInput::kRateHz, 440.0));
        EXPECT_DOUBLE_EQ(recorder.elapsedSeconds(), 1.0);
        double lastElapsedMs = 0.0;
        while (const auto notice = m_notices.next(std::chrono::milliseconds(0))) {
            if (notice->session == recorder.session()) {
                lastElapsedMs = notice->elapsedMs;
            }
        }
        EXPECT_GT(lastElapsedMs, 900.0);
        EXPECT_LE(lastElapsedMs, 1000.0);
        const AudioResult stopped = recorder.stop();
        ASSERT_TRUE(stopped.ok) << stopped.message;

        const RecordedWav wav = recordedWav(recorder);
        EXPECT_EQ(wav.rate, static_cast<std::uint32_t>(rate));
        EXPECT_EQ(wav.samples.size(), recorder.writtenSamples());
        // One second of sound, give or take a block of the device.
        EXPECT_NEAR(static_cast<double>(wav.samples.size()), rate, 480.0 * rate / 48000.0);
        const auto expected = tone(wav.samples.size(), rate, 440.0);
        // Away from the two ends, where the converter's filter starts and stops.
        for (std::size_t i = 200; i + 200 < wav.samples.size(); ++i) {
            ASSERT_NEAR(wav.samples[i], expected[i], 2e-3) << "at " << i;
        }
    }
}

// A conversion that fails is told by `stop`, and the file says the rate its
// samples are really at: the recording is kept, never passed off as being at
// the chosen rate.
TEST_F(AudioFileRecorderTest, FailedConversionKeepsTheDeviceRate)
{
    FixedRateInput backend;
    backend.conversionFails = true;
    AudioFileRecorder recorder(backend, m_notices.poster());
    ASSERT_TRUE(recorder.start(11025.0).ok);
    const auto input = tone(4800, FixedRateInput::kRateHz, 440.0);
    backend.deliver(input);
    const AudioResult stopped = recorder.stop();
    EXPECT_FALSE(stopped.ok);
    EXPECT_EQ(stopped.message, "The sound cannot be converted.");
    const RecordedWav wav = recordedWav(recorder);
    EXPECT_EQ(wav.rate, 48000u);
    EXPECT_EQ(wav.samples, input);
}

// A recording kept with `keepRecording`, read back, removed and parsed.
RecordedWav keptWav(AudioFileRecorder& recorder, std::uint64_t samples)
{
    std::string error;
    const std::string path = recorder.keepRecording(samples, error);
    if (path.empty()) {
        ADD_FAILURE() << error;
        return {};
    }
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                          std::istreambuf_iterator<char>()};
    std::filesystem::remove(path);
    return parseFloatWav(bytes); // the header against the file's size
}

// A recording the disk does not take whole is told by `stop`, never passed
// off as complete; what was written before the disk refused can be kept, at
// the rate it was recorded at, since nothing was converted.
TEST_F(AudioFileRecorderTest, AWriteTheDiskRefusesIsTold)
{
    FixedRateInput backend;
    AudioFileRecorder recorder(backend, m_notices.poster());
    ASSERT_TRUE(recorder.start(22050.0).ok);
    const auto input = tone(48000, FixedRateInput::kRateHz, 440.0);
    AudioResult stopped;
    {
        const test::RunawayGuard full(16384, std::chrono::seconds(60));
        backend.deliver(input);
        stopped = recorder.stop();
    }
    EXPECT_FALSE(stopped.ok);
    EXPECT_EQ(stopped.message, "The recording could not be written to disk.");
    const RecordedWav wav = keptWav(recorder, recorder.writtenSamples());
    EXPECT_EQ(wav.rate, 48000u);
    EXPECT_EQ(wav.samples.size(), recorder.writtenSamples());
    EXPECT_EQ(wav.samples, std::vector<float>(input.begin(),
                                              input.begin() + std::ptrdiff_t(wav.samples.size())));
}

// A conversion the disk does not take whole leaves samples at two rates in
// the file: `stop` tells it and the file is never offered as a recording.
TEST_F(AudioFileRecorderTest, AConversionTheDiskDoesNotTakeWholeIsNotOffered)
{
    FixedRateInput backend;
    AudioFileRecorder recorder(backend, m_notices.poster());
    ASSERT_TRUE(recorder.start(2 * FixedRateInput::kRateHz).ok);
    AudioResult stopped;
    {
        // Room for the 4,800 samples recorded, not for the 9,600 converted.
        const test::RunawayGuard full(30000, std::chrono::seconds(60));
        backend.deliver(tone(4800, FixedRateInput::kRateHz, 440.0));
        stopped = recorder.stop();
    }
    EXPECT_FALSE(stopped.ok);
    EXPECT_EQ(stopped.message, "The recording could not be completed on disk.");
    TrackBuffer<std::uint8_t> bytes;
    std::string error;
    EXPECT_FALSE(recorder.readRecording(bytes, error));
    EXPECT_EQ(recorder.keepRecording(recorder.writtenSamples(), error), "");
    EXPECT_EQ(error, "The recording could not be completed on disk.");
}

// A recording kept for later is cut to the samples asked for, and its
// header never claims more than the file holds.
TEST_F(AudioFileRecorderTest, AKeptRecordingHoldsWhatItsHeaderSays)
{
    const auto input = tone(4800, FixedRateInput::kRateHz, 440.0);
    for (const auto& [asked, kept] :
         {std::pair<std::uint64_t, std::size_t>{100, 100}, {1'000'000, 4800}}) {
        SCOPED_TRACE(asked);
        FixedRateInput backend;
        AudioFileRecorder recorder(backend, m_notices.poster());
        ASSERT_TRUE(recorder.start(FixedRateInput::kRateHz).ok);
        backend.deliver(input);
        ASSERT_TRUE(recorder.stop().ok);
        const RecordedWav wav = keptWav(recorder, asked);
        EXPECT_EQ(wav.rate, 48000u);
        EXPECT_EQ(wav.samples,
                  std::vector<float>(input.begin(), input.begin() + std::ptrdiff_t(kept)));
    }
}

// The same through the real stack: an ALSA device that opens only at
// 48000 Hz, recorded at 22050 Hz.
TEST_F(AudioFileRecorderTest, FixedRateDeviceRecordsAtTheChosenRate)
{
    m_devices.writeInput(tone(48000, 48000.0, 300.0));
    PortAudioBackend backend;
    std::string error;
    ASSERT_EQ(backend.inputRateFor("phxrec48", 22050.0, error), 48000.0) << error;
    AudioFileRecorder recorder(backend, m_notices.poster());
    const AudioResult started = recorder.start(22050.0, "phxrec48");
    ASSERT_TRUE(started.ok) << started.message;
    ASSERT_TRUE(waitForRecorded(recorder, 300.0));
    const AudioResult stopped = recorder.stop();
    ASSERT_TRUE(stopped.ok) << stopped.message;
    const RecordedWav wav = recordedWav(recorder);
    EXPECT_EQ(wav.rate, 22050u);
    // Everything captured is in the file, converted, except what a writer
    // that fell behind on a loaded machine dropped and counted.
    const double keptSeconds =
        recorder.elapsedSeconds() - static_cast<double>(recorder.droppedSamples()) / 48000.0;
    EXPECT_NEAR(static_cast<double>(wav.samples.size()), keptSeconds * 22050.0, 2.0);
    // The start of the recording, before the writer could have fallen behind.
    const std::size_t compared = std::min<std::size_t>(wav.samples.size(), 4000);
    ASSERT_GE(compared, 2000u);
    const auto expected = tone(compared, 22050.0, 300.0);
    for (std::size_t i = 200; i < compared; ++i) {
        ASSERT_NEAR(wav.samples[i], expected[i], 2e-3) << "at " << i;
    }
}

} // namespace
} // namespace phonaxis
