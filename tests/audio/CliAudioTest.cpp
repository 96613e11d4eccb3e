#include "AudioDevices.h"
#include "cli/CliCommands.h"
#include "support/CliRunning.h"

#include <cmath>

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

} // namespace
} // namespace phonaxis
