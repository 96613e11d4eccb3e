// phonaxis-cli record --box and box, run in-process against the simulated
// box: the time asked for exactly, the chosen channels, the raw file gone,
// command lines refused before anything is recorded, what box answers, and
// no output of any command replacing one of its inputs.

#include "cli/CliCommands.h"
#include "document/FileIO.h"
#include "document/MyDocument.h"
#include "hardware/FirmwareImage.h"
#include "hardware/SimulatedBox.h"
#include "support/CliRunning.h"
#include "support/RunawayGuard.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <csignal>
#include <chrono>
#include <unistd.h>

namespace phonaxis::test {
namespace {

namespace fs = std::filesystem;

class CliBoxRecord : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/cliboxrecordXXXXXX";
        m_dir = ::mkdtemp(pattern);
        // The raw recording goes to this test's own cache folder.
        if (const char* old = std::getenv("XDG_CACHE_HOME"))
            m_oldCache = old;
        ::setenv("XDG_CACHE_HOME", m_dir.c_str(), 1);
        ::unsetenv("PHONAXIS_SIMULATE_BOX");
        FirmwareImage image;
        image.records.resize(2);
        image.records[0].Length = 4;
        image.records[0].Data = {1, 2, 3, 4};
        image.records[1].Type = 1;
        std::ofstream(m_dir / "box.hex") << image.toHex();
    }
    void TearDown() override
    {
        m_oldCache ? ::setenv("XDG_CACHE_HOME", m_oldCache->c_str(), 1)
                   : ::unsetenv("XDG_CACHE_HOME");
        fs::remove_all(m_dir);
    }
    std::string path(const char* name) const { return (m_dir / name).string(); }

    RunawayGuard m_guard; // a recording that never ends fails, bounded
    fs::path m_dir;
    std::optional<std::string> m_oldCache;
};

// The native file `path` as a document; null when it cannot be read.
std::unique_ptr<MyDocument> readRecording(const std::string& path, Prompts& prompts,
                                          AppSettings& settings)
{
    auto document = std::make_unique<MyDocument>(prompts, settings);
    FileContents file;
    std::string error;
    if (!file.open(path, error) || !document->readFromData(file.bytes(), "pmf")) {
        ADD_FAILURE() << path << ": " << error;
        return nullptr;
    }
    return document;
}

TEST_F(CliBoxRecord, RecordsTheChosenChannelsOfTheBoxSampleForSample)
{
    const std::string out = path("rec.pmf");
    const CliResult r = runCli({"record", out, "--box", "--seconds", "1", "--channels", "0,1,2,4",
                                "--simulate-box=5", "--firmware", path("box.hex")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("recorded 1.00 s (22050 frames at 22050 Hz) from a 5-channel simulated "
                         "box: Audio, ch1, ch2, ch4\n"),
              std::string::npos)
        << r.out;
    EXPECT_TRUE(fs::is_empty(m_dir / "Phonaxis" / "tmp")); // the raw file is gone

    ScriptedPrompts prompts;
    AppSettings settings;
    const auto document = readRecording(out, prompts, settings);
    ASSERT_TRUE(document);
    ASSERT_EQ(document->m_nNumofChannels, 4);
    const char* titles[] = {"Audio", "ch1", "ch2", "ch4"};
    for (int c = 0; c < 4; ++c) {
        const Channels& channel = document->getChannel(c);
        EXPECT_EQ(channel.GetTitle(), titles[c]);
        EXPECT_EQ(channel.m_dSampleRate, 22050.0);
        ASSERT_EQ(channel.m_dwFileLength, 22050.0); // exactly the time asked for
    }
    // Whether every channel holds `count` samples of the box's signals from
    // the stream's frame `n` on (the audio's slots 0..3 are alike).
    auto matches = [&](std::uint64_t n, std::size_t count) {
        const std::size_t slots[] = {0, 4, 5, 7};
        for (std::size_t c = 0; c < 4; ++c)
            for (std::size_t i = 0; i < count; ++i)
                if (document->getChannel(int(c)).samples()[i] !=
                    float(usb::SimulatedBox::slotValue(slots[c], n + i) / 32768.0))
                    return false;
        return true;
    };
    std::uint64_t first = 0; // where the recording starts in the stream
    while (first < 10 * 22050 && !matches(first, 8))
        ++first;
    EXPECT_TRUE(matches(first, 22050));
}

// Ctrl+C ends a long recording with what was received written to OUT.
TEST_F(CliBoxRecord, AnInterruptEndsTheRecordingWithWhatWasReceivedWritten)
{
    const std::string out = path("cut.pmf");
    std::thread interrupter([this] {
        // Once the raw recording holds data (5 s at most), or anyway.
        for (int tries = 0; tries < 500; ++tries) {
            std::error_code ec;
            bool holds = false;
            for (const auto& entry : fs::directory_iterator(m_dir / "Phonaxis" / "tmp", ec))
                holds = holds || (entry.is_regular_file() && entry.file_size() > 100000);
            if (holds)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(::getpid(), SIGINT);
    });
    const CliResult r = runCli({"record", out, "--box", "--seconds", "30", "--simulate-box=2",
                                "--firmware", path("box.hex")});
    interrupter.join();
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("phonaxis-cli: interrupted after "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" s; " + out + " holds what was recorded\n"), std::string::npos) << r.err;
    ScriptedPrompts prompts;
    AppSettings settings;
    const auto document = readRecording(out, prompts, settings);
    ASSERT_TRUE(document);
    const std::size_t samples = document->getChannel(0).samples().size();
    EXPECT_GT(samples, 0u);
    EXPECT_LT(samples, 30u * 22050u);
}

TEST_F(CliBoxRecord, WrongCommandLinesAreRefusedBeforeAnythingIsRecorded)
{
    const std::string out = path("x.pmf");
    const std::vector<std::string> record = {"record", out, "--box", "--seconds", "1"};
    auto with = [&](std::vector<std::string> args) {
        args.insert(args.begin(), record.begin(), record.end());
        return args;
    };
    const std::tuple<std::vector<std::string>, int, const char*> cases[] = {
        {with({"--channels", "0,5", "--simulate-box=5", "--firmware", path("box.hex")}), 2,
         "--channels: the box has 5 channels (entries 0 to 4), not 5"},
        {with({"--channels", "2,2"}), 2, "each once"},
        {with({"--channels", ""}), 2, "--channels"},
        {with({"--simulate-box=3"}), 2, "9, 5 or 2"},
        {with({"--rate", "22050"}), 2, "does not take --rate"},
        {{"record", out, "--seconds", "1", "--channels", "1"}, 2, "does not take --channels"},
        {{"record", path("x.wav"), "--box", "--seconds", "1"}, 2, ".pmf"},
        {{"record", out, "--box", "--simulate-box=2"}, 2, "--seconds"},
        {with({"--simulate-box=2", "--firmware", path("missing.hex")}), 1, "missing.hex"},
        // A destination that cannot be written is found before recording.
        {{"record", path("folder.pmf"), "--box", "--seconds", "1", "--simulate-box=2",
          "--firmware", path("box.hex")},
         1, "folder.pmf\": it is a folder, not a regular file; nothing was recorded\n"},
    };
    fs::create_directory(path("folder.pmf"));
    for (const auto& [args, status, says] : cases) {
        SCOPED_TRACE(args.back());
        const CliResult r = runCli(args);
        EXPECT_EQ(r.status, status) << r.err;
        EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(out));
    }
}

std::string contents(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST_F(CliBoxRecord, TheBoxCommandProgramsTheBoxAndSaysWhatAnswered)
{
    for (const int channels : {9, 5, 2}) {
        SCOPED_TRACE(channels);
        const CliResult r = runCli({"box", "--simulate-box=" + std::to_string(channels),
                                    "--firmware", path("box.hex")});
        ASSERT_EQ(r.status, 0) << r.err;
        for (const std::string& line :
             {"acquisition box: " + std::to_string(channels) + " channels (simulated)\n",
              std::string("  USB device: vendor 2E7B, product 1601, "),
              "  firmware: " + path("box.hex") + " (1 records, 4 bytes), loaded into its "
                                                "controller\n",
              std::string("  interface: class 255, subclass 0, 2 endpoints\n"),
              std::string("  pipe 1: endpoint 2 out, bulk, 512-byte packets\n"),
              std::string("  pipe 2: endpoint 6 in, bulk, 512-byte packets\n")})
            EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    }
}

TEST_F(CliBoxRecord, TheBoxCommandSaysWhyNoBoxAnswered)
{
    // Data the controller cannot hold: refused when read, naming the line,
    // before any box is held in reset for it.
    std::ofstream(path("high.hex")) << ":01800000AAD5\n:00000001FF\n";
    std::ofstream(path("empty.hex")) << ":00000001FF\n";
    const std::tuple<std::vector<std::string>, int, const char*> cases[] = {
        {{"box", "--simulate-box=9", "--firmware", path("high.hex")}, 1,
         "is damaged at line 1: its data at 0x8000 lies beyond the controller's RAM"},
        {{"box", "--simulate-box=9", "--firmware", path("empty.hex")}, 1,
         "is damaged at line 1: the image ends before any data"},
        {{"box", "--simulate-box=9", "--firmware", path("missing.hex")}, 1, "missing.hex"},
        {{"box", "--simulate-box=3"}, 2, "9, 5 or 2"},
        {{"box", "--seconds", "1"}, 2, "box does not take --seconds"},
        {{"box", path("x.pmf")}, 2, "box takes no file"},
    };
    for (const auto& [args, status, says] : cases) {
        SCOPED_TRACE(args.back());
        const CliResult r = runCli(args);
        EXPECT_EQ(r.status, status) << r.err;
        EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("\n\n"), std::string::npos) << "one line each: " << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_NE(runCli({"--help"}).out.find("phonaxis-cli box [--simulate-box=N] [--firmware "
                                          "FILE.hex]\n"),
              std::string::npos);
    EXPECT_NE(runCli({"box", "--help"}).out.find("exit 0 when a box answered"), std::string::npos);
}

TEST_F(CliBoxRecord, NoOutputOfAnyCommandReplacesOneOfItsInputs)
{
    // The firmware image under a recording's name, a configuration and its
    // settings file, a formant table: inputs each of them, reached by the
    // same name, a hard link or a symbolic link.
    const std::string image = contents(path("box.hex"));
    std::ofstream(path("fw.pmf")) << image;
    std::ofstream(path("c.cfg")) << "configuration";
    std::ofstream(path("c.cfg.settings")) << "m_dFormantCeiling=5000\n";
    fs::create_hard_link(path("fw.pmf"), path("hard.pmf"));
    fs::create_symlink(path("fw.pmf"), path("soft.pmf"));
    fs::create_hard_link(path("c.cfg.settings"), path("settings.png"));
    fs::create_hard_link(path("c.cfg"), path("config.png"));
    const std::string box[] = {"--box", "--seconds", "0.1", "--simulate-box=9"};
    auto record = [&](const std::string& out, std::vector<std::string> more) {
        std::vector<std::string> args = {"record", out};
        args.insert(args.end(), std::begin(box), std::end(box));
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };
    const struct {
        std::vector<std::string> args;
        const char* environmentFirmware; // PHONAXIS_FIRMWARE, or null
    } cases[] = {
        {record(path("fw.pmf"), {"--firmware", path("fw.pmf")}), nullptr},
        {record(path("fw.pmf"), {}), "fw.pmf"},
        {record(path("hard.pmf"), {"--firmware", path("fw.pmf")}), nullptr},
        {record(path("soft.pmf"), {"--firmware=" + path("fw.pmf")}), nullptr},
        {{"box", "--simulate-box=9", "--firmware", path("fw.pmf")}, nullptr}, // nothing written
        {{"pitch", path("x.wav"), "--config", path("c.cfg"), "--png", path("config.png")},
         nullptr},
        {{"spectrum", path("x.wav"), "--at", "10", "--config", path("c.cfg"), "--png",
          path("settings.png")},
         nullptr},
        {{"settings", "--config", path("c.cfg"), "--save-config", path("config.png")}, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        if (c.environmentFirmware)
            ::setenv("PHONAXIS_FIRMWARE", path(c.environmentFirmware).c_str(), 1);
        const CliResult r = runCli(c.args);
        ::unsetenv("PHONAXIS_FIRMWARE");
        if (c.args[0] == "box") {
            EXPECT_EQ(r.status, 0) << r.err;
        } else {
            EXPECT_EQ(r.status, 2) << r.err;
            EXPECT_NE(r.err.find("an output never replaces an input"), std::string::npos) << r.err;
            EXPECT_EQ(r.out, ""); // refused before any work
        }
        EXPECT_EQ(contents(path("fw.pmf")), image);
        EXPECT_EQ(contents(path("c.cfg")), "configuration");
        EXPECT_EQ(contents(path("c.cfg.settings")), "m_dFormantCeiling=5000\n");
        EXPECT_TRUE(fs::is_symlink(path("soft.pmf")));
    }
    EXPECT_FALSE(fs::exists(m_dir / "Phonaxis" / "tmp") &&
                 !fs::is_empty(m_dir / "Phonaxis" / "tmp")); // nothing was recorded
}

} // namespace
} // namespace phonaxis::test
