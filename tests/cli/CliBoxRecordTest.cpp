// phonaxis-cli record --box, run in-process against the simulated box.

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
#include <memory>

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
        FirmwareRecord record;
        record.Length = 4;
        record.Data = {1, 2, 3, 4};
        image.records.push_back(record);
        FirmwareRecord end;
        end.Type = 1;
        image.records.push_back(end);
        std::ofstream(m_dir / "box.hex") << image.toHex();
    }
    void TearDown() override
    {
        if (m_oldCache)
            ::setenv("XDG_CACHE_HOME", m_oldCache->c_str(), 1);
        else
            ::unsetenv("XDG_CACHE_HOME");
        fs::remove_all(m_dir);
    }
    std::string path(const char* name) const { return (m_dir / name).string(); }
    fs::path rawFolder() const { return m_dir / "Phonaxis" / "tmp"; }

    fs::path m_dir;
    std::optional<std::string> m_oldCache;
};

// The first frame of the box's stream the channels hold: the one at which
// every channel matches the box's signals for a few samples.
std::optional<std::uint64_t> firstFrame(const MyDocument& document, const std::vector<int>& entries)
{
    for (std::uint64_t n = 0; n < 10 * 22050; ++n) {
        bool all = true;
        for (std::size_t c = 0; c < entries.size() && all; ++c)
            for (std::size_t i = 0; i < 8 && all; ++i) {
                const std::size_t slot = entries[c] == 0 ? 0 : std::size_t(entries[c]) + 3;
                all = document.getChannel(int(c)).samples()[i] ==
                      static_cast<float>(usb::SimulatedBox::slotValue(slot, n + i) / 32768.0);
            }
        if (all)
            return n;
    }
    return std::nullopt;
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
    // The raw file is gone once the document is written.
    EXPECT_TRUE(fs::is_empty(rawFolder()));

    ScriptedPrompts prompts;
    AppSettings settings;
    auto document = std::make_unique<MyDocument>(prompts, settings);
    FileContents file;
    std::string error;
    ASSERT_TRUE(file.open(out, error)) << error;
    ASSERT_TRUE(document->readFromData(file.bytes(), "pmf"));
    const std::vector<int> entries = {0, 1, 2, 4};
    const char* titles[] = {"Audio", "ch1", "ch2", "ch4"};
    ASSERT_EQ(document->m_nNumofChannels, 4);
    const auto first = firstFrame(*document, entries);
    ASSERT_TRUE(first.has_value());
    for (std::size_t c = 0; c < entries.size(); ++c) {
        SCOPED_TRACE(titles[c]);
        const Channels& channel = document->getChannel(int(c));
        EXPECT_EQ(channel.GetTitle(), titles[c]);
        EXPECT_EQ(channel.m_dSampleRate, 22050.0);
        ASSERT_EQ(channel.m_dwFileLength, 22050.0); // exactly the time asked for
        const std::size_t slot = entries[c] == 0 ? 0 : std::size_t(entries[c]) + 3;
        for (std::size_t i = 0; i < 22050; ++i)
            ASSERT_EQ(channel.samples()[i],
                      static_cast<float>(usb::SimulatedBox::slotValue(slot, *first + i) / 32768.0))
                << "sample " << i;
    }
}

TEST_F(CliBoxRecord, WrongCommandLinesAreRefusedBeforeAnythingIsRecorded)
{
    const std::string out = path("x.pmf");
    const std::string hex = path("box.hex");
    const struct {
        std::vector<std::string> args;
        int status;
        const char* says;
    } cases[] = {
        {{"record", out, "--box", "--seconds", "1", "--channels", "0,5", "--simulate-box=5",
          "--firmware", hex},
         2, "--channels: the box has 5 channels (entries 0 to 4), not 5"},
        {{"record", out, "--box", "--seconds", "1", "--channels", "2,2"}, 2, "each once"},
        {{"record", out, "--box", "--seconds", "1", "--channels", ""}, 2, "--channels"},
        {{"record", out, "--box", "--seconds", "1", "--simulate-box=3"}, 2, "9, 5 or 2"},
        {{"record", out, "--box", "--seconds", "1", "--rate", "22050"}, 2, "does not take --rate"},
        {{"record", out, "--seconds", "1", "--channels", "1"}, 2, "does not take --channels"},
        {{"record", path("x.wav"), "--box", "--seconds", "1"}, 2, ".pmf"},
        {{"record", out, "--box", "--simulate-box=2"}, 2, "--seconds"},
        {{"record", out, "--box", "--seconds", "1", "--simulate-box=2", "--firmware",
          path("missing.hex")},
         1, "missing.hex"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        const CliResult r = runCli(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(out));
    }
}

} // namespace
} // namespace phonaxis::test
