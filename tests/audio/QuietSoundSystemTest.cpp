#include "AudioDevices.h"
#include "support/CliRunning.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>

#include <unistd.h>

namespace phonaxis {
namespace {

// Everything written to the process's stderr (fd 2) while `run` runs.
std::string stderrDuring(const std::function<void()>& run)
{
    std::fflush(stderr);
    std::FILE* capture = std::tmpfile();
    EXPECT_NE(capture, nullptr);
    if (!capture) {
        return {};
    }
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(::fileno(capture), STDERR_FILENO);
    run();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    std::string text;
    std::rewind(capture);
    for (int c; (c = std::fgetc(capture)) != EOF;) {
        text.push_back(static_cast<char>(c));
    }
    std::fclose(capture);
    return text;
}

// Starting the sound system probes JACK and every ALSA device, and testing a
// rate a device refuses makes PortAudio print the failed ALSA call; none of
// that reaches the user's terminal, while what the program itself writes to
// stderr afterwards still does.
TEST(QuietSoundSystemTest, PlayAndRecordPrintNothingOfTheSoundLibraries)
{
    test::AlsaFileDevices devices;
    std::vector<float> input(48000);
    for (std::size_t i = 0; i < input.size(); ++i) {
        input[i] = static_cast<float>(0.3 + 0.4 * std::sin(0.02 * static_cast<double>(i)));
    }
    devices.writeInput(input);
    const std::string wav = devices.inputPath() + ".quiet.wav";
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    const Case cases[] = {
        // The device refuses 11025 Hz: the recording runs at 48000 Hz.
        {{"record", wav, "--seconds", "0.1", "--rate", "11025", "--device", "phxrec48"},
         cli::kExitOk},
        {{"play", wav, "--device", "phxplay"}, cli::kExitOk},
        {{"play", wav, "--device", "phx-none"}, cli::kExitFailure},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args.back());
        test::CliResult run;
        const std::string printed = stderrDuring([&] {
            run = test::runCli(c.args);
            std::fputs("the program's own line\n", stderr);
        });
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(printed, "the program's own line\n");
        if (c.args[0] == "record") {
            EXPECT_NE(
                run.out.find("at 11025 Hz (the device runs at 48000 Hz; the file is converted)"),
                std::string::npos)
                << run.out;
        }
    }
}

} // namespace
} // namespace phonaxis
