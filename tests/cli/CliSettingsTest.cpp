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

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>

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
    EXPECT_EQ(saved.out + saved.err, "");
    EXPECT_EQ(fs::file_size(path("order12.cfg")), Configuration::kSize);

    // The application loads it and, from what it loaded, saves the same bytes.
    test::ScriptedPrompts prompts;
    AppSettings settings;
    auto document = std::make_unique<MyDocument>(prompts, settings);
    ASSERT_TRUE(loadUserConfiguration(*document, settings, prompts, path("order12.cfg")));
    FileContents file;
    std::string error;
    ASSERT_TRUE(file.open(path("order12.cfg"), kConfigurationFile, error)) << error;
    EXPECT_EQ(*Configuration::fromBytes(file.bytes()), userConfiguration(*document, settings));

    // An analysis with the file gives what it gives with the --set.
    const auto spectrum = [&](const std::string& option, const std::string& value) {
        return runCli({"spectrum", path("vowel.wav"), "--at", "250", "--classic", option, value})
            .out;
    };
    const std::string bySet = spectrum("--set", "m_nLPCNumberofCoefficients=12");
    EXPECT_NE(bySet, spectrum("--set", "m_nLPCNumberofCoefficients=14"));
    EXPECT_EQ(spectrum("--config", path("order12.cfg")), bySet);
}

// A configuration made at one rate analyses a file of another as that
// file's own defaults do: its saved model (LPC order 14 and a 5 kHz range,
// the defaults of 11,025 Hz) is not imposed on a 44.1 kHz file, whether it
// was saved by phonaxis-cli or from a 22,050 Hz recording; a --set on the
// analysis still wins.
TEST_F(CliSettingsTest, ConfigurationOfAnotherRateGivesTheFilesOwnResults)
{
    const signals::Vowel vowel = signals::vowel({.rateHz = 44100.0});
    test::ScriptedPrompts prompts;
    const std::span<const float> channels[] = {vowel.samples};
    const auto bytes = signals::waveFileBytes(vowel.rateHz, channels, prompts);
    std::string error;
    ASSERT_TRUE(bytes && writeFileAtomically(path("a44.wav"), *bytes, error)) << error;

    ASSERT_EQ(runCli({"settings", "--save-config", path("plain.cfg")}).status, 0);
    AppSettings settings;
    MyDocument at22050(prompts, settings);
    at22050.m_bHaveData = true;
    at22050.m_dAnalysisSampleRate = 22050.0;
    at22050.recomputeRateDependentSettings(22050.0);
    at22050.m_bPreciseAnalysis = false;
    ASSERT_TRUE(didEndSaveConfig(at22050, settings, prompts, path("at22050.cfg")));

    const std::vector<std::vector<std::string>> analyses = {
        {"spectrum", path("a44.wav"), "--at", "300", "--classic"},
        {"spectrum", path("a44.wav"), "--at", "300"},
        {"spectrogram", path("a44.wav"), "--classic", "--columns", "200"},
        {"pitch", path("a44.wav"), "--classic"},
    };
    for (const std::vector<std::string>& analysis : analyses) {
        SCOPED_TRACE(analysis[0] + " " + analysis.back());
        const CliResult own = runCli(analysis);
        ASSERT_EQ(own.status, 0) << own.err;
        for (const char* config : {"plain.cfg", "at22050.cfg"}) {
            std::vector<std::string> args = analysis;
            args.insert(args.end(), {"--config", path(config), "--classic"});
            if (std::find(analysis.begin(), analysis.end(), "--classic") == analysis.end()) {
                args.back() = "--precise";
            }
            EXPECT_EQ(runCli(args).out, own.out) << config;
        }
    }
    // What --set asks for is what is used.
    const std::vector<std::string> spectrum = {"spectrum", path("a44.wav"), "--at", "300",
                                               "--classic", "--set",
                                               "m_nLPCNumberofCoefficients=14"};
    std::vector<std::string> withConfig = spectrum;
    withConfig.insert(withConfig.end(), {"--config", path("plain.cfg")});
    EXPECT_EQ(runCli(withConfig).out, runCli(spectrum).out);
    EXPECT_NE(runCli(spectrum).out, runCli(analyses[0]).out);
}

TEST_F(CliSettingsTest, SaveConfigTellsWhatTheFileDoesNotKeep)
{
    const std::pair<const char*, const char*> cases[] = {
        {"m_dLogStepSize=5", "m_dLogStepSize is not kept in a configuration file\n"},
        {"m_dZoomRange=2000.5", "m_dZoomRange is kept as 2000 in a configuration file\n"},
        {"m_dFormantCeiling=5500", nullptr},
    };
    for (const auto& [assignment, notice] : cases) {
        const CliResult r =
            runCli({"settings", "--set", assignment, "--save-config", path("out.cfg")});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, notice ? std::string("phonaxis-cli: ") + notice : "") << assignment;
    }
}

TEST_F(CliSettingsTest, SaveConfigNeverReplacesTheConfigurationItReads)
{
    ASSERT_EQ(runCli({"settings", "--save-config", path("in.cfg")}).status, 0);
    const std::uintmax_t size = fs::file_size(path("in.cfg"));
    for (const char* out : {"in.cfg", "in.cfg.settings"}) { // the record, the settings beside it
        const CliResult r = runCli({"settings", "--config", path("in.cfg"), "--set",
                                    "m_nLPCNumberofCoefficients=12", "--save-config", path(out)});
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("an output never replaces an input"), std::string::npos) << r.err;
    }
    EXPECT_EQ(fs::file_size(path("in.cfg")), size);
}

// --save-config writes the configuration and its settings file together or
// not at all: a settings path that is a folder or a pipe, or a link to the
// configuration itself, is refused before either is written, the message
// says so, and an old configuration there stays as it was.
TEST_F(CliSettingsTest, SaveConfigWritesBothFilesOrNeither)
{
    const std::string old = "an older configuration";
    const struct {
        const char* what;
        std::function<void(const std::string& settings, const std::string& config)> make;
        const char* reason;
    } cases[] = {
        {"folder", [](const std::string& p, const std::string&) { fs::create_directory(p); },
         "it is a folder, not a regular file."},
        {"pipe", [](const std::string& p, const std::string&) { ::mkfifo(p.c_str(), 0600); },
         "it is a pipe, not a regular file."},
        {"link to the configuration",
         [](const std::string& p, const std::string& c) { fs::create_symlink(c, p); },
         "it leads to \""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string config = path("out.cfg");
        const std::string settings = config + ".settings";
        fs::remove_all(settings);
        std::ofstream(config) << old;
        c.make(settings, config);
        const CliResult r = runCli({"settings", "--save-config", config});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("Cannot write \"" + settings + "\": " + c.reason), std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find("Neither file was written."), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("phonaxis-cli:"), r.err.rfind("phonaxis-cli:")) << r.err;
        std::ifstream in(config);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), old);
    }
    fs::remove_all(path("out.cfg.settings"));
    EXPECT_EQ(runCli({"settings", "--save-config", path("out.cfg")}).status, 0);
    EXPECT_EQ(fs::file_size(path("out.cfg")), Configuration::kSize);
    EXPECT_TRUE(fs::is_regular_file(path("out.cfg.settings")));
}

// The settings file of a --config: bytes it holds are quoted escaped, so
// that an escape sequence never reaches the terminal; a link there that
// leads nowhere or loops is told, not taken for a file never made.
TEST_F(CliSettingsTest, ConfigSettingsFileFaultsAreToldSafely)
{
    ASSERT_EQ(runCli({"settings", "--save-config", path("in.cfg")}).status, 0);
    const std::string settings = path("in.cfg.settings");
    const struct {
        const char* what;
        std::function<void()> make;
        std::string message;
    } cases[] = {
        {"escape bytes",
         [&] { std::ofstream(settings) << "m_dFormantCeiling=\x1b]0;owned\x07\x1b[2J\xc2\x9b\n"; },
         "\" holds lines that were not used: m_dFormantCeiling=\\x1b]0;owned\\x07\\x1b[2J\\xc2"
         "\\x9b."},
        {"dangling link", [&] { fs::create_symlink(path("gone"), settings); },
         "\" is a symbolic link to \"" + path("gone") +
             "\", which does not exist; the settings it held were not loaded."},
        {"looping link", [&] { fs::create_symlink(settings, settings); },
         "\" is a symbolic link that leads back to itself; the settings it held were not "
         "loaded."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(settings);
        c.make();
        const CliResult r = runCli({"settings", "--config", path("in.cfg")});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "phonaxis-cli: \"" + settings + c.message + "\n");
    }
}

TEST_F(CliSettingsTest, TheListNamesUnitRangeAndMeaning)
{
    const CliResult list = runCli({"settings"});
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("\nm_nLPCNumberofCoefficients=14\t# coefficients; an integer from 1 "
                            "to 400; LPC order of the spectrum\n"),
              std::string::npos)
        << list.out;
    // A setting without a unit has no unit part.
    EXPECT_NE(list.out.find("\nm_bCepstral=true\t# true or false; cepstral pitch choice; not used\n"),
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
    EXPECT_NE(runCli({"settings", "--json"})
                  .out.find("{\"name\": \"m_nSpecDynamicRange\", \"value\": 55, \"unit\": \"dB\", "
                            "\"minimum\": 1, \"maximum\": 1000, \"meaning\": \"spectrogram dynamic "
                            "range\", \"readBy\": [\"spectrogram\", \"spectrogram picture\"]}"),
              std::string::npos);
}

TEST_F(CliSettingsTest, ASettingTheCommandDoesNotReadIsTold)
{
    const std::string vowel = path("vowel.wav");
    const auto unread = [](const std::string& name, const std::string& command) {
        return "phonaxis-cli: " + name + " is read by no analysis of " + command +
               "; the output is the same without it\n";
    };
    std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"pitch", vowel, "--set", "m_bCepstral=false"}, unread("m_bCepstral", "pitch")},
        {{"spectrum", vowel, "--at", "250", "--set", "m_dLogStepSize=5"},
         unread("m_dLogStepSize", "spectrum")},
        {{"egg", vowel, "--channel", "0", "--set", "m_nLPCNumberofCoefficients=12"},
         unread("m_nLPCNumberofCoefficients", "egg")},
        {{"spectrogram", vowel, "--set", "m_dLogStepSize=5"}, ""},
        // Told once however often it is set.
        {{"pitch", vowel, "--set", "m_bCepstral=true", "--set", "m_bCepstral=false"},
         unread("m_bCepstral", "pitch")},
        // A picture's setting is read only when the picture is drawn.
        {{"spectrum", vowel, "--at", "250", "--set", "m_bFFTColor=false"},
         unread("m_bFFTColor", "spectrum")},
        {{"pitch", vowel, "--set", "m_dCalculationHigh=200"}, ""},
    };
#ifdef PHONAXIS_HAVE_DISPLAY
    // (Without the display library the spectrum draws no picture.)
    cases.push_back({{"spectrum", vowel, "--at", "250", "--png", path("spectrum.png"), "--set",
                      "m_bFFTColor=false"},
                     ""});
#endif
    for (const auto& [args, notice] : cases) {
        const CliResult r = runCli(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, notice) << args[0];
        if (!notice.empty()) {
            EXPECT_EQ(r.out, runCli({args.begin(), args.end() - 2}).out) << args[0];
        }
    }
}

} // namespace
} // namespace phonaxis
