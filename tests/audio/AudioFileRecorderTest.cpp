#include "AudioDevices.h"
#include "audio/AudioFileRecorder.h"
#include "audio/AudioNoticeQueue.h"
#include "audio/portaudio/PortAudioBackend.h"

#include <cmath>
#include <cstring>

namespace phonaxis {
namespace {

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
RecordedWav parseFloatWav(const TrackBuffer<std::uint8_t>& bytes) {
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
    std::memcpy(wav.samples.data(), b + 48, wav.samples.size() * 4);
    return wav;
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

        TrackBuffer<std::uint8_t> bytes;
        std::string error;
        ASSERT_TRUE(recorder.readRecording(bytes, error)) << error;
        const RecordedWav wav = parseFloatWav(bytes);
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
    TrackBuffer<std::uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(recorder.readRecording(bytes, error)) << error;
    const RecordedWav wav = parseFloatWav(bytes);
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

} // namespace
} // namespace phonaxis
