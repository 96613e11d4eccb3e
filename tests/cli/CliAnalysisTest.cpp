#include "Signals.h"
#include "VowelCorpus.h"
#include "cli/CliCommands.h"
#include "cli/PngWriter.h"
#include "document/Configuration.h"
#include "document/FileIO.h"
#include "document/MyDocument.h"
#include "support/CliRunning.h"
#include "support/PngDecoding.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <span>
#include <sstream>
#include <string>
#include <tuple>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;

using CliRun = test::CliResult;
using test::runCli;

// A saved log: its header line and, per row, the definition and the values
// (the name and the empty comment dropped).
struct LogText {
    std::string header;
    std::vector<std::string> definitions;
    std::vector<std::vector<double>> rows;
};

LogText parseLog(const std::string& text)
{
    LogText log;
    std::istringstream lines(text);
    std::getline(lines, log.header);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string field;
        std::getline(fields, field, '\t');
        log.definitions.emplace_back();
        std::getline(fields, log.definitions.back(), '\t');
        log.rows.emplace_back();
        while (std::getline(fields, field, '\t') && !field.empty()) {
            log.rows.back().push_back(std::strtod(field.c_str(), nullptr));
        }
    }
    return log;
}

// The "values" arrays of a JSON log.
std::vector<std::vector<double>> parseJsonValues(const std::string& text)
{
    std::vector<std::vector<double>> rows;
    for (std::size_t at = text.find("\"values\": ["); at != std::string::npos;
         at = text.find("\"values\": [", at + 1)) {
        rows.emplace_back();
        for (const char* p = text.c_str() + at + 11; *p != ']';) {
            char* end = nullptr;
            rows.back().push_back(std::strtod(p, &end));
            p = end + std::strspn(end, ", ");
            if (end == p && *p != ']') {
                break; // not a number
            }
        }
    }
    return rows;
}

class CliAnalysisTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // One folder per test process: ctest runs the cases of this suite in
        // parallel processes, each with its own set-up and tear-down.
        s_dir = fs::temp_directory_path() /
                ("phonaxis-cli-analysis-" + std::to_string(::getpid()));
        fs::remove_all(s_dir);
        fs::create_directories(s_dir);
        test::ScriptedPrompts prompts;
        const signals::Vowel vowel = signals::vowel({});
        s_demo = std::make_unique<signals::DemoRecording>(signals::demoRecording());
        const std::span<const float> vowelChannels[] = {vowel.samples};
        const std::span<const float> demoChannels[] = {s_demo->speech.audio, s_demo->egg.samples};
        using ChannelList = std::span<const std::span<const float>>;
        for (const auto& [name, rate, channels] :
             {std::tuple{"vowel.wav", vowel.rateHz, ChannelList(vowelChannels)},
              std::tuple{"demo.wav", s_demo->speech.rateHz, ChannelList(demoChannels)}}) {
            const auto bytes = signals::waveFileBytes(rate, channels, prompts);
            std::string error;
            ASSERT_TRUE(bytes && writeFileAtomically((s_dir / name).string(), *bytes, error));
        }
    }
    static void TearDownTestSuite()
    {
        fs::remove_all(s_dir);
        s_demo.reset();
    }

    static std::string path(const char* name) { return (s_dir / name).string(); }

    static inline fs::path s_dir;
    static inline std::unique_ptr<signals::DemoRecording> s_demo;
};

TEST_F(CliAnalysisTest, SpectrumFindsTheVowelFormants)
{
    for (const std::vector<std::string>& place :
         {std::vector<std::string>{"--at", "250"}, {"--from", "100", "--to", "400"}}) {
        // The classic LPC formants of this flat-source vowel lie near its truth.
        std::vector<std::string> args = {"spectrum", path("vowel.wav"), "--classic"};
        args.insert(args.end(), place.begin(), place.end());
        const CliRun r = runCli(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const LogText log = parseLog(r.out);
        EXPECT_EQ(log.header, "File Name\tEntry definitions and order\tEntry 1\tEntry 2\tEntry 3\t"
                              "Entry 4\tEntry 5\tEntry 6\tEntry 7\tEntry 8\tEntry 9\tEntry 10\t"
                              "Comments\t");
        ASSERT_EQ(log.rows.size(), 1u);
        EXPECT_EQ(r.out.substr(log.header.size() + 1, 10), "vowel.wav\t");
        for (int k = 0; k < 3; ++k) {
            const double truth = signals::kVowelA[std::size_t(k)].frequencyHz;
            EXPECT_NEAR(log.rows[0][std::size_t(k)], truth, 0.06 * truth) << "F" << k + 1;
        }

        // The JSON output carries the same numbers.
        args.push_back("--json");
        const CliRun json = runCli(args);
        ASSERT_EQ(json.status, 0) << json.err;
        const auto values = parseJsonValues(json.out);
        ASSERT_EQ(values.size(), 1u);
        ASSERT_EQ(values[0].size(), log.rows[0].size());
        for (std::size_t i = 0; i < values[0].size(); ++i) {
            EXPECT_NEAR(values[0][i], log.rows[0][i], 0.0005);
        }
    }
}

// Without a setting touched, a woman's /i/ keeps its F1: the default is the
// precise analysis, whose model spends no pole on the empty band above the
// ceiling. (The classic LPC of order 48 at 44.1 kHz dropped F1 and moved
// every formant a slot down at every marker.) --precise and --classic choose.
TEST_F(CliAnalysisTest, DefaultSpectrumKeepsTheF1OfAHighVoice)
{
    const corpus::VowelRecipe recipe =
        corpus::vowelRecipe("iy", corpus::Speaker::Woman, 220.0, 44100.0);
    const std::vector<double> samples = corpus::synthesiseVowel(recipe);
    const std::vector<float> floats(samples.begin(), samples.end());
    test::ScriptedPrompts prompts;
    const std::span<const float> channels[] = {floats};
    const auto bytes = signals::waveFileBytes(recipe.rateHz, channels, prompts);
    std::string error;
    ASSERT_TRUE(bytes && writeFileAtomically(path("woman-iy.wav"), *bytes, error)) << error;
    for (int at = 50; at <= 450; at += 25) {
        SCOPED_TRACE(at);
        const std::vector<std::string> args = {"spectrum", path("woman-iy.wav"), "--at",
                                               std::to_string(at)};
        const CliRun r = runCli(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<double> row = parseLog(r.out).rows.at(0);
        // Harmonics 220 Hz apart pull an F1 of 310 Hz up by some 60 Hz, in
        // the reference tool as here; a dropped F1 would read 2,800 Hz.
        EXPECT_NEAR(row.at(0), recipe.formantsHz[0], 0.25 * recipe.formantsHz[0]);
        EXPECT_NEAR(row.at(1), recipe.formantsHz[1], 0.05 * recipe.formantsHz[1]);
        std::vector<std::string> precise = args;
        precise.push_back("--precise");
        EXPECT_EQ(runCli(precise).out, r.out);
        std::vector<std::string> classic = args;
        classic.push_back("--classic");
        EXPECT_NE(runCli(classic).out, r.out);
    }
}

TEST_F(CliAnalysisTest, SettingsAndConfigurationsChangeTheResult)
{
    // An LPC order of 4 finds two formants: F3 stays −1 in a single frame.
    const std::vector<std::string> at = {"spectrum", path("vowel.wav"), "--at", "250",
                                         "--classic"};
    auto withOptions = [&](std::vector<std::string> extra) {
        std::vector<std::string> args = at;
        args.insert(args.end(), extra.begin(), extra.end());
        return runCli(args);
    };
    const CliRun set = withOptions({"--set", "m_nLPCNumberofCoefficients=4"});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(parseLog(set.out).rows.at(0).at(2), -1.0);

    test::ScriptedPrompts prompts;
    AppSettings settings;
    auto document = std::make_unique<MyDocument>(prompts, settings);
    document->m_nLPCNumberofCoefficients = 4;
    const Configuration record = userConfiguration(*document, settings);
    std::string error;
    ASSERT_TRUE(writeFileAtomically(path("order4.cfg"), record.bytes(), error)) << error;
    const CliRun config = withOptions({"--config", path("order4.cfg")});
    ASSERT_EQ(config.status, 0) << config.err;
    EXPECT_EQ(config.out, set.out);
    // --set comes after --config whatever the order on the line.
    const CliRun both =
        withOptions({"--set", "m_nLPCNumberofCoefficients=14", "--config", path("order4.cfg")});
    EXPECT_EQ(both.out, runCli(at).out);

    // `settings` lists what --set accepts, with the configuration applied.
    const CliRun list = runCli({"settings", "--config", path("order4.cfg")});
    // (A line may go on after a tab with the setting's unit and meaning.)
    const std::size_t line = list.out.find("\nm_nLPCNumberofCoefficients=4");
    ASSERT_NE(line, std::string::npos) << list.out;
    EXPECT_NE(std::string("\n\t").find(list.out.at(line + 29)), std::string::npos) << list.out;

    // --precise (the default) and --classic are the mode's setting; a
    // configuration carries it in the file beside its record.
    for (const char* command : {"spectrum", "pitch", "spectrogram", "formant-track"}) {
        SCOPED_TRACE(command);
        std::vector<std::string> args = {command, path("vowel.wav")};
        if (std::string(command) == "spectrum") {
            args.insert(args.end(), {"--at", "250"});
        }
        auto with = [&](std::vector<std::string> extra) {
            std::vector<std::string> all = args;
            all.insert(all.end(), extra.begin(), extra.end());
            return runCli(all);
        };
        const CliRun flag = with({"--precise"});
        ASSERT_EQ(flag.status, 0) << flag.err;
        EXPECT_EQ(flag.out, with({"--set", "m_bPreciseAnalysis=true"}).out);
        document->m_nLPCNumberofCoefficients = 14;
        document->m_bPreciseAnalysis = true;
        ASSERT_TRUE(didEndSaveConfig(*document, settings, prompts, path("precise.cfg")));
        EXPECT_EQ(with({"--config", path("precise.cfg")}).out, flag.out);
        EXPECT_EQ(with({}).out, flag.out);
        const CliRun classic = with({"--classic"});
        ASSERT_EQ(classic.status, 0) << classic.err;
        EXPECT_NE(classic.out, flag.out);
        EXPECT_EQ(classic.out, with({"--set", "m_bPreciseAnalysis=false"}).out);
        document->m_bPreciseAnalysis = false;
        ASSERT_TRUE(didEndSaveConfig(*document, settings, prompts, path("classic.cfg")));
        EXPECT_EQ(with({"--config", path("classic.cfg")}).out, classic.out);
        // The line wins over the file.
        EXPECT_EQ(with({"--config", path("classic.cfg"), "--precise"}).out, flag.out);
    }
}

TEST_F(CliAnalysisTest, MistakesAreRefusedWithTheirStatus)
{
    const std::string vowel = path("vowel.wav");
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {{"spectrum", vowel}, 2, "either --at"},
        {{"spectrum", vowel, "--at", "501"}, 2, "beyond the recording's 500 ms"},
        {{"info", vowel, "--png", "x.png"}, 2, "does not take --png"},
        {{"egg", vowel, "--channel", "0", "--precise"}, 2, "does not take --precise"},
        {{"pitch", vowel, "--classic", "--precise"}, 2, "--classic and --precise"},
        {{"pitch", vowel, "--config", path("badside.cfg")},
         1,
         "were not used: m_bPreciseAnalysis=2"},
        {{"pitch", vowel, "--from", "300", "--to", "100"}, 2, "earlier"},
        {{"egg", vowel}, 2, "needs --channel"},
        {{"egg", vowel, "--channel", "1"}, 2, "beyond the file's 1 channels"},
        {{"pitch", vowel, "--channel", "5"}, 2, "--channel 5 is beyond the file's 1 channels"},
        {{"pitch", vowel, "--set", "m_dCalculationLow=600"},
         2,
         "m_dCalculationLow (600 Hz) must be below m_dCalculationHigh (500 Hz)"},
        {{"spectrogram", vowel, "--columns", "20000", "--rows", "8192"}, 2, "cells"},
        {{"pitch", vowel, "--set", "m_nNoSuchThing=1"}, 2, "unknown setting m_nNoSuchThing"},
        {{"pitch", vowel, "--set", "m_dPitchStepSize"}, 2, "NAME=VALUE"},
        {{"pitch", vowel, "--set", "m_dPitchStepSize=nan"}, 2, "takes a finite number"},
        {{"pitch", path("missing.wav")}, 1, "Cannot open"},
        {{"pitch", vowel, "--config", path("missing.cfg")}, 1, "Cannot open"},
        {{"pitch", vowel, "--config", path("short.cfg")}, 1, "is not a configuration file"},
        {{"pitch", vowel, "--config", path("zeroed.cfg")}, 1, "m_nFFTWindowLength to 0"},
        {{"spectrum", vowel, "--at", "1", "--set", "m_nFFTfrequencyRange=6000"},
         1,
         "Frequency range is beyond allowable value. Use Option->FFT/LPC"},
    };
    std::ofstream(path("short.cfg")) << "not a configuration";
    const Configuration zeroed; // a whole record whose transform length is 0
    std::string error;
    ASSERT_TRUE(writeFileAtomically(path("zeroed.cfg"), zeroed.bytes(), error)) << error;
    test::ScriptedPrompts prompts;
    AppSettings settings;
    const Configuration whole = userConfiguration(MyDocument(prompts, settings), settings);
    ASSERT_TRUE(writeFileAtomically(path("badside.cfg"), whole.bytes(), error)) << error;
    std::ofstream(supplementPath(path("badside.cfg"))) << "m_bPreciseAnalysis=2\n";
    for (const Case& c : cases) {
        const CliRun r = runCli(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[2] << ": " << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
        if (c.status == 2) {
            EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
        }
    }
}

TEST_F(CliAnalysisTest, PitchStepShorterThanASampleIsRefusedBeforeWork)
{
    test::ScriptedPrompts prompts;
    const std::vector<float> tone = signals::tone(200.0, 8000.0, 300.0);
    const std::span<const float> channels[] = {tone};
    const auto bytes = signals::waveFileBytes(8000.0, channels, prompts);
    std::string error;
    ASSERT_TRUE(bytes && writeFileAtomically(path("tone8k.wav"), *bytes, error)) << error;
    const CliRun refused = runCli({"pitch", path("tone8k.wav"), "--set", "m_dPitchStepSize=0.1"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("m_dPitchStepSize=0.1 is shorter than one sample at 8000 Hz "
                               "(0.125 ms)"),
              std::string::npos)
        << refused.err;
    EXPECT_TRUE(refused.out.empty()) << refused.out;
    EXPECT_EQ(runCli({"pitch", path("tone8k.wav"), "--set", "m_dPitchStepSize=0.125"}).status, 0);
}

TEST_F(CliAnalysisTest, PitchLogsEveryFrameOfTheRange)
{
    // 500 ms at 10 kHz with a 10 ms step: 50 frames 10 ms apart.
    const CliRun r = runCli({"pitch", path("vowel.wav"), "--from", "100", "--to", "300"});
    ASSERT_EQ(r.status, 0) << r.err;
    const LogText log = parseLog(r.out);
    ASSERT_EQ(log.rows.size(), 21u);
    int voiced = 0;
    for (std::size_t i = 0; i < log.rows.size(); ++i) {
        EXPECT_EQ(log.definitions[i], "Pitch Selection Entry: time, pitch, intensity ");
        EXPECT_NEAR(log.rows[i][0], 100.0 + 10.0 * double(i), 1e-9);
        if (log.rows[i][1] > 0) {
            ++voiced;
            EXPECT_NEAR(log.rows[i][1], 100.0, 3.0);
            // The intensity pane is on by default: the vowel's level in dBFS.
            EXPECT_LT(log.rows[i][2], -3.0);
            EXPECT_GT(log.rows[i][2], -40.0);
        }
    }
    EXPECT_GE(voiced, 19);

    const CliRun quiet =
        runCli({"pitch", path("vowel.wav"), "--json", "--set", "m_bPitchDrawIntensity=false"});
    const auto rows = parseJsonValues(quiet.out);
    ASSERT_EQ(rows.size(), 50u); // frames 0 … 49 at 0 … 490 ms
    for (const auto& row : rows) {
        EXPECT_EQ(row.at(2), 0.0);
    }
}

// A track longer than a block of rows comes out as one output in every
// format: one header, every frame once in order, JSON objects separated by
// commas inside one array. A precise stretch gives the whole track's rows.
TEST_F(CliAnalysisTest, PitchRowsOfALongTrackComeOutAsOneOutput)
{
    test::ScriptedPrompts prompts;
    // 25 s at 8 kHz: 2,500 frames, more than one block of rows.
    std::vector<float> tone = signals::tone(180.0, 8000.0, 25000.0);
    for (std::size_t i = 0; i < tone.size(); ++i) {
        // Pauses, so that rows differ in voicing and level.
        tone[i] *= (i / 8000) % 3 == 2 ? 0.0F : 0.5F;
    }
    const std::span<const float> channels[] = {tone};
    const auto bytes = signals::waveFileBytes(8000.0, channels, prompts);
    std::string error;
    ASSERT_TRUE(bytes && writeFileAtomically(path("long8k.wav"), *bytes, error)) << error;
    const auto lines = [](const std::string& text) {
        std::vector<std::string> result;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            result.push_back(line);
        }
        return result;
    };
    for (const char* mode : {"--classic", "--precise"}) {
        SCOPED_TRACE(mode);
        for (const char* format : {"--table", "--csv"}) {
            const CliRun r = runCli({"pitch", path("long8k.wav"), mode, format});
            ASSERT_EQ(r.status, 0) << r.err;
            const std::vector<std::string> rows = lines(r.out);
            ASSERT_EQ(rows.size(), 2501u) << format;
            EXPECT_EQ(rows[0].find("file"), 0u);
            for (std::size_t k = 1; k < rows.size(); ++k) {
                const char separator = format[2] == 't' ? '\t' : ',';
                std::istringstream fields(rows[k]);
                std::string field;
                for (int c = 0; c < 3; ++c) {
                    std::getline(fields, field, separator);
                }
                ASSERT_EQ(std::strtod(field.c_str(), nullptr), 10.0 * double(k - 1))
                    << format << " row " << k;
            }
        }
        const CliRun log = runCli({"pitch", path("long8k.wav"), mode});
        const LogText parsed = parseLog(log.out);
        EXPECT_EQ(parsed.header.find("File Name"), 0u);
        ASSERT_EQ(parsed.rows.size(), 2500u);
        const CliRun json = runCli({"pitch", path("long8k.wav"), mode, "--json"});
        EXPECT_EQ(json.out.rfind("[\n  {", 0), 0u);
        EXPECT_EQ(json.out.substr(json.out.size() - 4), "}\n]\n");
        EXPECT_EQ(json.out.find(",\n  ,"), std::string::npos);
        const auto values = parseJsonValues(json.out);
        ASSERT_EQ(values.size(), 2500u);
        for (std::size_t k = 0; k < values.size(); ++k) {
            ASSERT_EQ(values[k].size(), 3u);
            EXPECT_NEAR(values[k][0], parsed.rows[k][0], 0.0005);
            EXPECT_NEAR(values[k][1], parsed.rows[k][1], 0.0005);
        }
    }
    const std::vector<std::string> whole =
        lines(runCli({"pitch", path("long8k.wav"), "--table"}).out);
    const CliRun stretch =
        runCli({"pitch", path("long8k.wav"), "--table", "--from", "20000", "--to", "23000"});
    ASSERT_EQ(stretch.status, 0) << stretch.err;
    std::vector<std::string> expected(whole.begin(), whole.begin() + 1);
    expected.insert(expected.end(), whole.begin() + 2001, whole.begin() + 2302);
    EXPECT_EQ(lines(stretch.out), expected);
}

TEST_F(CliAnalysisTest, EggFindsTheDemoCycles)
{
    const CliRun r = runCli({"egg", path("demo.wav"), "--channel", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    const LogText log = parseLog(r.out);
    const std::vector<signals::EggCycleTruth>& truth = s_demo->egg.cycles;
    // One row per cycle but the last; cycles at the voicing edges may be missed.
    EXPECT_NEAR(double(log.rows.size()), double(truth.size() - 1), 0.03 * double(truth.size()));
    ASSERT_FALSE(log.rows.empty());
    std::size_t matched = 0;
    for (const auto& row : log.rows) {
        const double contactMs = row[0];
        const auto near = std::find_if(truth.begin(), truth.end(), [&](const auto& c) {
            return std::abs(c.contactMs - contactMs) < 0.5;
        });
        matched += near != truth.end();
        EXPECT_GT(row[3], 0.2); // closed quotient
        EXPECT_LT(row[3], 0.7);
    }
    EXPECT_GE(matched, log.rows.size() * 9 / 10);
}

// --- the spectrogram image -------------------------------------------------------------

TEST(PngWriterTest, ChecksumsMatchKnownValues)
{
    const std::string iend = "IEND";
    EXPECT_EQ(cli::crc32({reinterpret_cast<const std::uint8_t*>(iend.data()), 4}), 0xAE426082u);
    const std::string wiki = "Wikipedia";
    EXPECT_EQ(cli::adler32({reinterpret_cast<const std::uint8_t*>(wiki.data()), wiki.size()}),
              0x11E60398u);
}

#ifndef PHONAXIS_HAVE_DISPLAY
TEST_F(CliAnalysisTest, SpectrogramImageShowsEnergyAndFormantDots)
{
    // The demo's first second: 250 ms of silence, then the vowel 'a'.
    const std::string out = path("demo.png");
    const CliRun r = runCli({"spectrogram", path("demo.wav"), "--columns", "200", "--rows", "128",
                             "--png", out, "--from", "0", "--to", "1000"});
    ASSERT_EQ(r.status, 0) << r.err;
    // A row every 1 ms; F1 near the vowel's in the voiced part.
    const LogText log = parseLog(r.out);
    ASSERT_EQ(log.rows.size(), 1000u);
    EXPECT_NEAR(log.rows[600][0], 600.0, 1e-9);
    EXPECT_EQ(log.rows[100][1], -1.0);
    EXPECT_NEAR(log.rows[600][1], 730.0, 60.0);

    FileContents file;
    std::string error;
    ASSERT_TRUE(file.open(out, error)) << error;
    const testing::DecodedPng png = testing::decodePng({file.bytes().begin(), file.bytes().end()});
    ASSERT_EQ(png.width, 200);
    ASSERT_EQ(png.height, 128);
    // Its comment says which analysis the dots are.
    const std::string bytes(file.bytes().begin(), file.bytes().end());
    EXPECT_NE(bytes.find(std::string("tEXtComment\0Precise analysis: formants up to 5000 Hz", 52)),
              std::string::npos);
    // Columns of 5 ms: the silence up to x = 50 is white without dots; the
    // vowel is dark below 1 kHz, with F1's dots (int)(730·128/5000) = 18 rows
    // above the bottom (the range shown by default is 5,000 Hz).
    double silenceGrey = 0, vowelGrey = 0;
    int redInSilence = 0, redNearF1 = 0;
    for (int y = 0; y < 128; ++y) {
        for (int x = 0; x < 200; ++x) {
            const std::uint8_t* p = &png.rgb[(std::size_t(y) * 200 + std::size_t(x)) * 3];
            const bool red = p[0] == 255 && p[1] == 0 && p[2] == 0;
            redInSilence += x < 45 && red;
            redNearF1 += x >= 70 && std::abs(y - (127 - 18)) <= 3 && red;
            silenceGrey += x < 45 ? p[0] / (45.0 * 128) : 0;
            vowelGrey += x >= 70 && y >= 100 ? p[0] / (130.0 * 28) : 0;
        }
    }
    EXPECT_EQ(redInSilence, 0);
    EXPECT_GT(silenceGrey, 240.0);
    EXPECT_LT(vowelGrey, 160.0);
    EXPECT_GT(redNearF1, 130 * 3);

    // Formant tracking off: no dots, and the log is its header line.
    const CliRun off = runCli({"spectrogram", path("vowel.wav"), "--columns", "200", "--rows",
                               "128", "--png", out, "--set", "m_bSpecDrawFormantTracking=0"});
    ASSERT_EQ(off.status, 0) << off.err;
    EXPECT_EQ(off.out, "File Name\tEntry definitions and order\tComments\t\n");
    ASSERT_TRUE(file.open(out, error)) << error;
    const testing::DecodedPng plain =
        testing::decodePng({file.bytes().begin(), file.bytes().end()});
    for (std::size_t i = 0; i < plain.rgb.size(); i += 3) {
        ASSERT_TRUE(plain.rgb[i] == plain.rgb[i + 1] && plain.rgb[i] == plain.rgb[i + 2]);
    }
}

#endif

// --- the pitch picture ------------------------------------------------------------------

#ifdef PHONAXIS_HAVE_DISPLAY
} // namespace
} // namespace phonaxis

#include "display/PitchGraph.h"
#include "display/SpectrogramGraph.h"

#include <QGuiApplication>
#include <QImage>

#include <optional>

namespace phonaxis {
namespace {

// The GUI application measuring a picture's layout needs (its text size
// sets its margins), on the offscreen platform as phonaxis-cli draws; made
// once for the process when it has none.
void ensurePictureFonts()
{
    if (QCoreApplication::instance() != nullptr) {
        return;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static int argc = 1;
    static char name[] = "phonaxis_cli_tests";
    static char* argv[] = {name, nullptr};
    static QGuiApplication gui(argc, argv);
}

TEST_F(CliAnalysisTest, PitchPictureShowsTheTrackBesideTheLog)
{
    // vowel.wav: F0 100 Hz, 500 ms. In a 640 × 360 view the waveform and
    // intensity panes come first, then the pitch pane over 50 … 500 Hz:
    // 100 Hz at its bottom − (int)(50 × its height / 450).
    const std::string out = path("pitch.png");
    const CliRun r =
        runCli({"pitch", path("vowel.wav"), "--png", out, "--width", "640", "--height", "360"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, runCli({"pitch", path("vowel.wav")}).out);
    const QImage image(QString::fromStdString(out));
    ASSERT_EQ(image.size(), QSize(640, 360));
    ensurePictureFonts();
    const PitchGraphLayout panes = PitchGraphLayout::forView(image.size(), false, true, true);
    const int at100 =
        panes.pitch.bottom - 50 * (panes.pitch.bottom - panes.pitch.top) / 450;
    int redAt100 = 0, redElsewhere = 0, blueIntensity = 0, greenWaveform = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            const bool red = qRed(p) == 255 && qGreen(p) == 0 && qBlue(p) == 0;
            (std::abs(y - at100) <= 2 ? redAt100 : redElsewhere) += red;
            blueIntensity += y > panes.intensity.top && y < panes.intensity.bottom &&
                             p == qRgb(0, 0, 255);
            greenWaveform +=
                y > panes.audio.top && y < panes.audio.bottom && p == qRgb(0, 128, 0);
        }
    }
    EXPECT_GT(redAt100, 40 * 3); // most of the 50 frames, dots 3 pixels wide
    EXPECT_EQ(redElsewhere, 0);
    EXPECT_GT(blueIntensity, 300);
    EXPECT_GT(greenWaveform, 300);

    // A stretch draws another picture; the extension names the format.
    ASSERT_EQ(runCli({"pitch", path("vowel.wav"), "--from", "100", "--to", "300", "--png",
                      path("part.png"), "--width", "640", "--height", "360"})
                  .status,
              0);
    EXPECT_NE(QImage(QString::fromStdString(path("part.png"))), image);
    for (const auto& [name, magic] :
         {std::pair{"pitch.tif", std::string("II*\0", 4)}, {"pitch.pdf", std::string("%PDF")}}) {
        ASSERT_EQ(runCli({"pitch", path("vowel.wav"), "--png", path(name)}).status, 0) << name;
        std::string start(4, '\0');
        std::ifstream(path(name), std::ios::binary).read(start.data(), 4);
        EXPECT_EQ(start, magic) << name;
    }
}

TEST_F(CliAnalysisTest, SpectrogramPictureShowsImageTracksWaveformAndGrids)
{
    // The demo's first second: 250 ms of silence, then the vowel 'a'. In a
    // 640 × 360 view without labels the waveform pane takes the top fifth of
    // the area and the image the rest; F1 (about 730 Hz) lies
    // (int)(730 × rows / 5000) above the image's bottom.
    const std::vector<std::string> common = {"spectrogram", path("demo.wav"),
                                             "--from",      "0",
                                             "--to",        "1000",
                                             "--set",       "m_bSpecDrawLabels=0",
                                             "--set",       "m_nSpecfrequencyRange=5000"};
    std::vector<std::string> args = common;
    const std::string out = path("spectrogram.png");
    args.insert(args.end(), {"--png", out, "--width", "640", "--height", "360"});
    const CliRun r = runCli(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, runCli(common).out); // the records as without a picture
    const QImage image = QImage(QString::fromStdString(out)).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(image.size(), QSize(640, 360));
    ensurePictureFonts();
    const SpectrogramGraphLayout panes = SpectrogramGraphLayout::forView(image.size(), false, true);
    const int columns = panes.columns();
    const int f1Y = panes.image.bottom - 730 * panes.rows() / 5000;
    // Silence: the columns up to 210 ms, whose formant frames lie wholly
    // before the vowel (the classic LPC frame runs 26 ms from its column's
    // start, the precise window reaches 25 ms either side of its middle).
    const int silentColumns = columns * 21 / 100;
    int blueNearF1 = 0, blueInSilence = 0, greenWaveform = 0, darkLow = 0, whiteSilence = 0;
    for (int y = panes.audio.top; y < panes.image.bottom; ++y) {
        for (int x = panes.image.left + 1; x < panes.image.right; ++x) {
            const QRgb p = image.pixel(x, y);
            const bool blue = p == qRgb(255, 0, 0); // the formant dots
            const bool silence = x < panes.image.left + silentColumns;
            const bool vowel = x > panes.image.left + columns * 3 / 10;
            blueNearF1 += vowel && std::abs(y - f1Y) <= 4 && blue;
            blueInSilence += silence && blue;
            greenWaveform += y < panes.audio.bottom && vowel && p == qRgb(0, 128, 0);
            darkLow += vowel && y > panes.image.bottom - 20 && qGray(p) < 128;
            whiteSilence += silence && y > panes.image.top && qGray(p) >= 250; // entry 0: 254
        }
    }
    const int vowelColumns = columns - columns * 3 / 10;
    EXPECT_GT(blueNearF1, vowelColumns * 2);
    EXPECT_EQ(blueInSilence, 0);
    EXPECT_GT(greenWaveform, vowelColumns);
    EXPECT_GT(darkLow, vowelColumns * 5);
    EXPECT_GT(whiteSilence, silentColumns * panes.rows() * 8 / 10);
    // The frequency grid's labels and lines: light grey across the image at 1 kHz.
    const int grid1k = panes.image.bottom - 1000 * panes.rows() / 5000;
    EXPECT_EQ(image.pixel(panes.image.left + 5, grid1k), qRgb(170, 170, 170));

    for (const auto& [name, magic] : {std::pair{"spectrogram.tif", std::string("II*\0", 4)},
                                      {"spectrogram.pdf", std::string("%PDF")}}) {
        ASSERT_EQ(runCli({"spectrogram", path("vowel.wav"), "--png", path(name)}).status, 0)
            << name;
        std::string start(4, '\0');
        std::ifstream(path(name), std::ios::binary).read(start.data(), 4);
        EXPECT_EQ(start, magic) << name;
    }
}

TEST_F(CliAnalysisTest, PictureMistakesWriteNothing)
{
    const std::string out = path("refused.png");
    const std::pair<std::vector<std::string>, int> cases[] = {
        {{"--width", "640"}, 2},
        {{"--png", path("refused.bmp")}, 2},
        {{"--png", path("vowel.wav")}, 2},
        {{"--png", out, "--width", "16384", "--height", "16384"}, 2},
        {{"--png", out, "--width", "50", "--height", "300"}, 2},
        {{"--png", out, "--from", "0", "--to", "5000"}, 2},
        {{"--png", path("no/dir/refused.png")}, 1},
    };
    for (const char* command : {"pitch", "spectrogram"}) {
        for (const auto& [options, status] : cases) {
            if (std::string(command) == "pitch" && options.size() > 2 && options[2] == "--width" &&
                options[3] == "50") {
                continue; // a pitch graph of any size is drawn
            }
            std::vector<std::string> args{command, path("vowel.wav")};
            args.insert(args.end(), options.begin(), options.end());
            const CliRun r = runCli(args);
            EXPECT_EQ(r.status, status) << command << " " << options.back();
            EXPECT_FALSE(r.err.empty()) << command << " " << options.back();
            EXPECT_TRUE(r.out.empty()) << command << " " << options.back();
        }
    }
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(fs::exists(path("refused.bmp")));
    EXPECT_GT(fs::file_size(path("vowel.wav")), 1000U);
}

#endif

} // namespace
} // namespace phonaxis
