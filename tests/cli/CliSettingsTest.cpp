#include "support/VowelRecording.h"

#include "cli/CliCommands.h"
#include "document/AppSettings.h"
#include "document/Configuration.h"
#include "document/DocumentSettings.h"
#include "document/FileIO.h"
#include "document/MyDocument.h"
#include "support/CliRunning.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;

using test::CliResult;
using test::runCli;

class CliSettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() /
                ("phonaxis-cli-settings-" +
                 std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        const auto bytes = test::vowelWav();
        std::string error;
        ASSERT_TRUE(bytes && writeFileAtomically(path("vowel.wav"), *bytes, error)) << error;
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string path(const char* name) const { return (m_dir / name).string(); }

    fs::path m_dir;
};

TEST_F(CliSettingsTest, SaveConfigWritesWhatTheApplicationLoads)
{
    const CliResult saved = runCli({"settings", "--set", "m_nLPCNumberofCoefficients=12",
                                    "--save-config", path("order12.cfg")});
    ASSERT_EQ(saved.status, 0) << saved.err;
    EXPECT_EQ(saved.out, "");
    EXPECT_EQ(saved.err, "");
    EXPECT_EQ(fs::file_size(path("order12.cfg")), Configuration::kSize);

    // The application's loader takes it, with the value set.
    test::ScriptedPrompts prompts;
    AppSettings settings;
    auto document = std::make_unique<MyDocument>(prompts, settings);
    ASSERT_TRUE(loadUserConfiguration(*document, settings, prompts, path("order12.cfg")));
    EXPECT_EQ(document->m_nLPCNumberofCoefficients, 12);
    // Byte for byte the record the application saves from the same settings.
    FileContents file;
    std::string error;
    ASSERT_TRUE(file.open(path("order12.cfg"), kConfigurationFile, error)) << error;
    EXPECT_EQ(*Configuration::fromBytes(file.bytes()), userConfiguration(*document, settings));

    // An analysis with the file gives what it gives with the --set.
    const std::vector<std::string> spectrum = {"spectrum", path("vowel.wav"), "--at", "250"};
    auto with = [&](const std::vector<std::string>& extra) {
        std::vector<std::string> args = spectrum;
        args.insert(args.end(), extra.begin(), extra.end());
        return runCli(args);
    };
    const CliResult bySet = with({"--set", "m_nLPCNumberofCoefficients=12"});
    ASSERT_EQ(bySet.status, 0) << bySet.err;
    EXPECT_NE(bySet.out, runCli(spectrum).out);
    EXPECT_EQ(with({"--config", path("order12.cfg")}).out, bySet.out);
}

TEST_F(CliSettingsTest, SaveConfigTellsWhatTheFileDoesNotKeep)
{
    struct Case {
        const char* assignment;
        const char* notice; // "" when the value is kept
    };
    const Case cases[] = {
        {"m_dLogStepSize=5", "phonaxis-cli: m_dLogStepSize is not kept in a configuration file\n"},
        {"m_nPlotType=1", "phonaxis-cli: m_nPlotType is not kept in a configuration file\n"},
        {"m_dZoomRange=2000.5",
         "phonaxis-cli: m_dZoomRange is kept as 2000 in a configuration file\n"},
        {"m_dFormantCeiling=5500", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.assignment);
        const CliResult r =
            runCli({"settings", "--set", c.assignment, "--save-config", path("out.cfg")});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, c.notice);
    }
}

TEST_F(CliSettingsTest, SaveConfigNeverReplacesTheConfigurationItReads)
{
    ASSERT_EQ(runCli({"settings", "--save-config", path("in.cfg")}).status, 0);
    const std::uintmax_t size = fs::file_size(path("in.cfg"));
    for (const char* out : {"in.cfg", "in.cfg.settings"}) {
        SCOPED_TRACE(out);
        const CliResult r = runCli({"settings", "--config", path("in.cfg"), "--set",
                                    "m_nLPCNumberofCoefficients=12", "--save-config", path(out)});
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("an output never replaces an input"), std::string::npos) << r.err;
    }
    EXPECT_EQ(fs::file_size(path("in.cfg")), size);
}

TEST_F(CliSettingsTest, TheListNamesUnitRangeAndMeaning)
{
    const CliResult list = runCli({"settings"});
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("\nm_nLPCNumberofCoefficients=14\t# coefficients; an integer from 1 "
                            "to 400; LPC order of the spectrum\n"),
              std::string::npos)
        << list.out;
    // Cut at the tab, every line is --set text that changes nothing.
    std::vector<std::string> args = {"settings"};
    std::istringstream lines(list.out);
    for (std::string line; std::getline(lines, line);) {
        args.insert(args.end(), {"--set", line.substr(0, line.find('\t'))});
    }
    EXPECT_EQ(args.size(), 1 + 2 * documentSettings().size());
    EXPECT_EQ(runCli(args).out, list.out);

    const CliResult json = runCli({"settings", "--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_NE(json.out.find("{\"name\": \"m_nSpecDynamicRange\", \"value\": 55, \"unit\": \"dB\", "
                            "\"minimum\": 1, \"maximum\": 1000, \"meaning\": \"spectrogram dynamic "
                            "range\", \"readBy\": [\"spectrogram\", \"spectrogram picture\"]}"),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("{\"name\": \"m_bCepstral\", \"value\": true, \"unit\": \"\", "
                            "\"minimum\": null, \"maximum\": null, "),
              std::string::npos);
}

TEST_F(CliSettingsTest, ASettingTheCommandDoesNotReadIsTold)
{
    struct Case {
        std::vector<std::string> args;
        const char* notice; // "" when the setting is read
    };
    const std::string vowel = path("vowel.wav");
    const Case cases[] = {
        {{"pitch", vowel, "--set", "m_bCepstral=false"},
         "phonaxis-cli: m_bCepstral is read by no analysis of pitch; the output is the same "
         "without it\n"},
        {{"spectrum", vowel, "--at", "250", "--set", "m_dLogStepSize=5"},
         "phonaxis-cli: m_dLogStepSize is read by no analysis of spectrum; the output is the same "
         "without it\n"},
        {{"egg", vowel, "--channel", "0", "--set", "m_nLPCNumberofCoefficients=12"},
         "phonaxis-cli: m_nLPCNumberofCoefficients is read by no analysis of egg; the output is "
         "the same without it\n"},
        {{"pitch", vowel, "--set", "m_dPitchStepSize=5"}, ""},
        {{"pitch", vowel, "--set", "m_dCalculationHigh=200"}, ""},
        {{"spectrogram", vowel, "--set", "m_dLogStepSize=5"}, ""},
        {{"spectrum", vowel, "--at", "250", "--set", "m_bFFTDrawLPC=false"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args.back());
        const CliResult r = runCli(c.args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, c.notice);
        if (*c.notice != '\0') {
            std::vector<std::string> without = c.args;
            without.resize(without.size() - 2);
            EXPECT_EQ(r.out, runCli(without).out);
        }
    }
}

} // namespace
} // namespace phonaxis
