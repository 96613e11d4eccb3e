#include "AudioDevices.h"
#include "cli/CliCommands.h"
#include "support/CliRunning.h"

#include "audio/LeftSoundRecordings.h"
#include "cli/CliAudio.h"
#include "document/PrivateFiles.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace phonaxis {
namespace {

using test::runCli;

std::vector<float> wavSamples(const std::string& path, std::uint32_t& rate) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 48) {
        ADD_FAILURE() << path << " is too short";
        return {};
    }
    std::memcpy(&rate, bytes.data() + 24, 4);
    std::vector<float> samples((bytes.size() - 48) / 4);
    std::memcpy(samples.data(), bytes.data() + 48, samples.size() * 4);
    return samples;
}

// Recording a known input and playing the file back: what was recorded is
// the input, exactly as long as asked, and what is played is the recording.
TEST(CliAudioTest, RecordThenPlayRoundTrip) {
    test::AlsaFileDevices devices;
    std::vector<float> input(22050);
    for (std::size_t i = 0; i < input.size(); ++i) {
        input[i] = static_cast<float>(0.3 + 0.4 * std::sin(0.02 * static_cast<double>(i)));
    }
    devices.writeInput(input);
    const std::string wav = devices.inputPath() + ".recorded.wav";

    const test::CliResult record =
        runCli({"record", wav, "--seconds", "0.2", "--rate", "22050", "--device", "phxrec"});
    ASSERT_EQ(record.status, cli::kExitOk) << record.err;
    EXPECT_NE(record.out.find("recording from phxrec at 22050 Hz"), std::string::npos) << record.out;
    std::uint32_t rate = 0;
    const auto recorded = wavSamples(wav, rate);
    EXPECT_EQ(rate, 22050u);
    ASSERT_EQ(recorded.size(), 4410u);
    EXPECT_EQ(std::memcmp(recorded.data(), input.data(), recorded.size() * 4), 0);

    const test::CliResult play = runCli({"play", wav, "--from", "50", "--to", "150", "--device", "phxplay"});
    ASSERT_EQ(play.status, cli::kExitOk) << play.err;
    EXPECT_NE(play.out.find("playing on phxplay at 22050 Hz"), std::string::npos) << play.out;
    const auto played = devices.readPlayed();
    ASSERT_GE(played.size(), 2205u);
    EXPECT_EQ(std::memcmp(played.data(), recorded.data() + 1102, 2205 * 4), 0);
}

TEST(CliAudioTest, NoDeviceOrBadCommandLineFails) {
    test::AlsaFileDevices devices;
    const std::string wav = devices.inputPath() + ".cli.wav";
    devices.writeInput(std::vector<float>(4000, 0.5f));
    ASSERT_EQ(runCli({"record", wav, "--seconds", "0.05", "--device", "phxrec"}).status,
              cli::kExitOk);
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {{"play", wav, "--device", "phx-none"}, cli::kExitFailure,
         "phonaxis-cli: There is no audio output device named \"phx-none\".\n"},
        {{"record", wav + "2.wav", "--seconds", "1", "--device", "phx-none"}, cli::kExitFailure,
         "phonaxis-cli: There is no audio input device named \"phx-none\".\n"},
        {{"record", wav + "2.wav"}, cli::kExitUsage,
         "phonaxis-cli: record needs --seconds S, how long to record\n"},
        {{"record", wav + "2.wav", "--seconds", "1", "--rate", "48000"}, cli::kExitUsage,
         "phonaxis-cli: --rate takes 44100, 22050 or 11025, not \"48000\"\n"},
        {{"record", wav + ".txt", "--seconds", "1"}, cli::kExitUsage,
         "phonaxis-cli: record writes a WAV file, to a name ending in .wav\n"},
        {{"play", wav, "--from", "10"}, cli::kExitUsage, "phonaxis-cli: --from and --to go together\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args.back());
        const test::CliResult run = runCli(c.args);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.err, c.message);
    }
    EXPECT_FALSE(std::filesystem::exists(wav + "2.wav"));
}

// An input device that delivers a known ramp at the pace of real time, in
// blocks of 10 ms, from a thread of its own, as a sound card does.
class PacedInput final : public AudioBackend {
public:
    class Stream final : public AudioStream {
    public:
        Stream(AudioCapturer& capturer, double rateHz) : m_capturer(capturer), m_rateHz(rateHz) {}
        ~Stream() override { stop(false); }
        AudioResult start() override
        {
            m_thread = std::thread([this] {
                const auto block = static_cast<std::size_t>(m_rateHz / 100.0);
                std::vector<float> samples(block);
                for (std::uint64_t next = 0; !m_stop.load(); next += block) {
                    for (std::size_t i = 0; i < block; ++i) {
                        samples[i] = rampSample(next + i);
                    }
                    m_capturer.capture(samples.data(), block);
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
            });
            return {};
        }
        void stop(bool) noexcept override
        {
            m_stop.store(true);
            if (m_thread.joinable()) {
                m_thread.join();
            }
        }
        bool isActive() const override { return !m_stop.load(); }
        double rateHz() const override { return m_rateHz; }
        const std::string& deviceName() const override { return m_name; }

    private:
        AudioCapturer& m_capturer;
        double m_rateHz;
        std::atomic<bool> m_stop{false};
        std::thread m_thread;
        std::string m_name = "paced";
    };

    static float rampSample(std::uint64_t i) { return static_cast<float>(i % 1000) / 2000.0f; }

    double outputRateFor(const std::string&, double rateHz, std::string&) override { return rateHz; }
    double inputRateFor(const std::string&, double rateHz, std::string&) override { return rateHz; }
    std::unique_ptr<AudioStream> openOutput(const std::string&, double, AudioRenderer&,
                                            std::string& error) override
    {
        error = "no output";
        return nullptr;
    }
    std::unique_ptr<AudioStream> openInput(const std::string&, double rateHz,
                                           AudioCapturer& capturer, std::string&) override
    {
        return std::make_unique<Stream>(capturer, rateHz);
    }
    bool convertRate(std::span<const float>, double, double, std::vector<float>&,
                     std::string& error) override
    {
        error = "no conversion";
        return false;
    }
};

// A recording's temporary file made by this process, once one exists (up to
// five seconds), or "".
std::filesystem::path ownRecordingFile()
{
    const std::string mine = "recording-" + std::to_string(::getpid()) + "-";
    for (int tries = 0; tries < 500; ++tries) {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(privateTemporaryFolder(), ec)) {
            if (entry.path().filename().string().starts_with(mine)) {
                return entry.path();
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {};
}

test::CliResult recordPaced(const std::string& out, double seconds)
{
    cli::Options options;
    options.positional = {out};
    options.seconds = seconds;
    options.rateHz = 22050;
    PacedInput backend;
    std::ostringstream o;
    std::ostringstream e;
    test::CliResult result;
    result.status = cli::recordCommand(options, backend, o, e);
    result.out = o.str();
    result.err = e.str();
    return result;
}

bool isRamp(const std::vector<float>& samples)
{
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (samples[i] != PacedInput::rampSample(i)) {
            return false;
        }
    }
    return true;
}

// The destination is checked before anything is recorded; one that cannot
// be written by the end keeps the recording in the temporary folder and
// says where; the next recording tells of one an ended run left; an
// interrupt ends the recording with what was recorded written.
TEST(CliAudioTest, RecordNeverLosesTheRecordingWhateverItsDestination) {
    test::AlsaFileDevices devices;
    const std::filesystem::path folder = devices.inputPath() + ".out";
    std::filesystem::create_directories(folder);

    // Refused before recording: no "recording from" line.
    const std::string aFolder = (folder / "d.wav").string();
    std::filesystem::create_directory(aFolder);
    const std::string missing = (folder / "none" / "x.wav").string();
    const std::pair<std::string, std::string> refusals[] = {
        {aFolder, "phonaxis-cli: Cannot write \"" + aFolder +
                      "\": it is a folder, not a regular file; nothing was recorded\n"},
        {missing, "phonaxis-cli: Cannot write \"" + missing +
                      "\": No such file or directory; nothing was recorded\n"},
    };
    for (const auto& [path, message] : refusals) {
        SCOPED_TRACE(path);
        const test::CliResult run = recordPaced(path, 0.2);
        EXPECT_EQ(run.status, cli::kExitFailure);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, message);
    }

    // The destination becomes a folder while recording: the recording stays.
    const std::string late = (folder / "late.wav").string();
    std::thread spoiler([&] {
        if (!ownRecordingFile().empty()) {
            std::filesystem::create_directory(late);
        }
    });
    const test::CliResult spoiled = recordPaced(late, 0.3);
    spoiler.join();
    EXPECT_EQ(spoiled.status, cli::kExitFailure);
    EXPECT_TRUE(spoiled.err.starts_with("phonaxis-cli: Cannot write \"" + late + "\": it is a folder"))
        << spoiled.err;
    const std::string keptAt = "; the recording is kept in \"";
    const std::size_t at = spoiled.err.find(keptAt);
    ASSERT_NE(at, std::string::npos) << spoiled.err;
    const std::string kept =
        spoiled.err.substr(at + keptAt.size(), spoiled.err.size() - at - keptAt.size() - 2);
    std::uint32_t rate = 0;
    const auto recorded = wavSamples(kept, rate);
    EXPECT_EQ(rate, 22050u);
    EXPECT_GE(recorded.size(), 6615u);
    EXPECT_TRUE(isRamp(recorded));

    // As if a run that ended had left it: the next recording says where.
    const pid_t gone = ::fork();
    if (gone == 0) {
        ::_exit(0);
    }
    ::waitpid(gone, nullptr, 0);
    const std::filesystem::path left = std::filesystem::path(kept).parent_path() /
                                       ("recording-" + std::to_string(gone) + "-1-7.wav");
    std::filesystem::rename(kept, left);

    // An interrupt ends a long recording with what was recorded written.
    const std::string cut = (folder / "cut.wav").string();
    std::thread interrupter([] {
        ownRecordingFile();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ::kill(::getpid(), SIGINT);
    });
    const test::CliResult interrupted = recordPaced(cut, 30.0);
    interrupter.join();
    EXPECT_EQ(interrupted.status, cli::kExitFailure);
    EXPECT_TRUE(interrupted.err.starts_with("phonaxis-cli: a recording of ")) << interrupted.err;
    EXPECT_NE(interrupted.err.find(" s that an earlier run did not save is kept in \"" +
                                   left.string() + "\""),
              std::string::npos)
        << interrupted.err;
    EXPECT_NE(interrupted.err.find("phonaxis-cli: interrupted after "), std::string::npos)
        << interrupted.err;
    const auto partial = wavSamples(cut, rate);
    EXPECT_GT(partial.size(), 2205u);
    EXPECT_LT(partial.size(), 10u * 22050u);
    EXPECT_TRUE(isRamp(partial));
    std::filesystem::remove(left);
}

} // namespace
} // namespace phonaxis
