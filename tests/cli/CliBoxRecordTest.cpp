// phonaxis-cli record --box, run in-process against the simulated box: the
// time asked for exactly, the chosen channels, the raw file gone, and
// command lines refused before anything is recorded.

#include "cli/CliCommands.h"
#include "document/FileIO.h"
#include "document/MyDocument.h"
#include "hardware/FirmwareImage.h"
#include "hardware/SimulatedBox.h"
#include "support/CliRunning.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

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

    fs::path m_dir;
    std::optional<std::string> m_oldCache;
};

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
    auto document = std::make_unique<MyDocument>(prompts, settings);
    FileContents file;
    std::string error;
    ASSERT_TRUE(file.open(out, error)) << error;
    ASSERT_TRUE(document->readFromData(file.bytes(), "pmf"));
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
    };
    for (const auto& [args, status, says] : cases) {
        SCOPED_TRACE(args.back());
        const CliResult r = runCli(args);
        EXPECT_EQ(r.status, status) << r.err;
        EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(out));
    }
}

} // namespace
} // namespace phonaxis::test
