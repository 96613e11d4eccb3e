#include "Signals.h"
#include "cli/CliCommands.h"
#include "document/FileIO.h"
#include "support/CliRunning.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <sstream>
#include <string>
#include <vector>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;

using test::CliResult;
using test::runCli;

constexpr const char* kDefinition =
    "Formant Track Entry: time, F1, F2, F3, F4, F5, BW1, BW2, BW3, BW4, BW5 ";

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

std::vector<std::string> fields(const std::string& line, char separator)
{
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, separator);) {
        out.push_back(field);
    }
    if (!line.empty() && line.back() == separator) {
        out.emplace_back();
    }
    return out;
}

class CliFormantTrackTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = fs::temp_directory_path() /
                ("phonaxis-cli-formant-track-" + std::to_string(::getpid()));
        fs::remove_all(s_dir);
        fs::create_directories(s_dir);
        test::ScriptedPrompts prompts;
        // The demo's a-i-u sequence (3.5 s at 22,050 Hz), and the same
        // repeated over two minutes at 16,000 Hz.
        const signals::VowelSequence demo = signals::vowelSequence(22050.0, 3500.0);
        const signals::VowelSequence slow = signals::vowelSequence(16000.0, 3500.0);
        std::vector<float> minutes;
        while (minutes.size() < std::size_t{16000} * 120) {
            minutes.insert(minutes.end(), slow.audio.begin(), slow.audio.end());
        }
        for (const auto& [name, rate, samples] :
             {std::tuple{"demo.wav", 22050.0, std::span<const float>(demo.audio)},
              std::tuple{"minutes.wav", 16000.0, std::span<const float>(minutes)}}) {
            const std::span<const float> channels[] = {samples};
            const auto bytes = signals::waveFileBytes(rate, channels, prompts);
            std::string error;
            ASSERT_TRUE(bytes && bytes->size() < (std::size_t{16} << 20));
            ASSERT_TRUE(writeFileAtomically((s_dir / name).string(), *bytes, error)) << error;
        }
    }
    static void TearDownTestSuite() { fs::remove_all(s_dir); }

    static std::string path(const char* name) { return (s_dir / name).string(); }

    static inline fs::path s_dir;
};

// The log format, the named table, CSV and JSON carry the same rows: time
// k × step, F1 … F5 and B1 … B5, missing values −1 in the log and empty (or
// null) in the others.
TEST_F(CliFormantTrackTest, OutputsCarryTheSameRowsInEveryForm)
{
    const std::vector<std::string> base = {"formant-track", path("demo.wav"), "--from",
                                           "200",           "--to",           "400"};
    const auto run = [&](std::vector<std::string> extra) {
        std::vector<std::string> args = base;
        args.insert(args.end(), extra.begin(), extra.end());
        const CliResult r = runCli(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        return lines(r.out);
    };
    const std::vector<std::string> log = run({});
    ASSERT_EQ(log.size(), 21u); // header, 200 … 390 ms
    EXPECT_EQ(log[0], "File Name\tEntry definitions and order\tEntry 1\tEntry 2\tEntry 3\tEntry "
                      "4\tEntry 5\tEntry 6\tEntry 7\tEntry 8\tEntry 9\tEntry 10\tEntry 11\t"
                      "Comments\t");
    const std::vector<std::string> table = run({"--table"});
    const std::vector<std::string> csv = run({"--csv"});
    ASSERT_EQ(table.size(), log.size());
    ASSERT_EQ(csv.size(), log.size());
    EXPECT_EQ(table[0], "file\tchannel\ttime_ms\tF1_hz\tF2_hz\tF3_hz\tF4_hz\tF5_hz\tB1_hz\tB2_hz\t"
                        "B3_hz\tB4_hz\tB5_hz");
    EXPECT_EQ(csv[0], "file,channel,time_ms,F1_hz,F2_hz,F3_hz,F4_hz,F5_hz,B1_hz,B2_hz,B3_hz,"
                      "B4_hz,B5_hz");
    for (std::size_t i = 1; i < log.size(); ++i) {
        const auto logged = fields(log[i], '\t');
        const auto named = fields(table[i], '\t');
        ASSERT_EQ(logged.size(), 15u) << log[i];
        ASSERT_EQ(named.size(), 13u) << table[i];
        EXPECT_EQ(logged[0], "demo.wav");
        EXPECT_EQ(logged[1], kDefinition);
        EXPECT_EQ(std::strtod(logged[2].c_str(), nullptr), 190.0 + 10.0 * double(i));
        EXPECT_EQ(named[2], std::to_string(190 + 10 * i));
        EXPECT_EQ(fields(csv[i], ','), named);
        for (std::size_t v = 0; v < 10; ++v) {
            const double value = std::strtod(logged[3 + v].c_str(), nullptr);
            if (named[3 + v].empty()) {
                EXPECT_EQ(value, -1.0) << i << " " << v;
            } else {
                EXPECT_NEAR(value, std::strtod(named[3 + v].c_str(), nullptr), 0.0005);
            }
        }
        // Voicing starts at 250 ms; windows reach 25 ms at most.
        const int timeMs = 190 + 10 * static_cast<int>(i);
        if (timeMs <= 220 || timeMs >= 280) {
            EXPECT_EQ(named[3].empty(), timeMs <= 220) << timeMs;
        }
    }
    const std::vector<std::string> json = run({"--json"});
    int objects = 0;
    for (const std::string& line : json) {
        objects += line.find("{\"name\": \"demo.wav\"") != std::string::npos &&
                   line.find("\"time_ms\": ") != std::string::npos &&
                   line.find("\"B5_hz\": ") != std::string::npos;
    }
    EXPECT_EQ(objects, 20);
    EXPECT_EQ(json.front(), "[");
    EXPECT_EQ(json.back(), "]");

    // Rows are written in blocks as they are computed; a track of several
    // blocks is still one table and one JSON array.
    const std::vector<std::string> manyJson =
        lines(runCli({"formant-track", path("demo.wav"), "--step", "1", "--json"}).out);
    ASSERT_EQ(manyJson.size(), 3502u);
    for (std::size_t i = 1; i <= 3500; ++i) {
        ASSERT_EQ(manyJson[i].rfind("  {\"name\": \"demo.wav\"", 0), 0u) << i;
        EXPECT_EQ(manyJson[i].back(), i == 3500 ? '}' : ',') << i;
        EXPECT_NE(manyJson[i].find("\"time_ms\": " + std::to_string(i - 1) + ","),
                  std::string::npos)
            << i;
    }
    const std::vector<std::string> manyRows =
        lines(runCli({"formant-track", path("demo.wav"), "--step", "1", "--table"}).out);
    ASSERT_EQ(manyRows.size(), 3501u);
    EXPECT_EQ(std::count(manyRows.begin(), manyRows.end(), table[0]), 1);

    // A finer step, a gate above every frame, a channel chosen by number.
    EXPECT_EQ(run({"--step", "2.5"}).size(), 81u);
    for (const std::string& row : run({"--table", "--set", "m_dFormantSilenceLevel=0"})) {
        EXPECT_EQ(fields(row, '\t').at(3), row == table[0] ? "F1_hz" : "");
    }
    EXPECT_EQ(run({"--channel", "0"}), log);
    const CliResult help = runCli({"formant-track", "--help"});
    EXPECT_NE(help.out.find("the centre of the window"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("B1_hz .. B5_hz"), std::string::npos) << help.out;
}

// --from/--to keep exactly the rows of the whole file inside [from, to).
TEST_F(CliFormantTrackTest, PiecesGiveTheRowsOfTheWholeFile)
{
    for (const char* analysis : {"--set", "--precise"}) {
        SCOPED_TRACE(analysis);
        std::vector<std::string> args = {"formant-track", path("demo.wav"), "--step", "7.5"};
        if (std::string(analysis) == "--precise") {
            args.push_back("--precise");
        }
        const std::vector<std::string> whole = lines(runCli(args).out);
        ASSERT_EQ(whole.size(), 468u); // header and 0 … 3495 ms
        std::vector<std::string> joined = {whole[0]};
        for (const auto& [from, to] :
             {std::pair{"0", "1000"}, std::pair{"1000", "1912.5"}, std::pair{"1912.5", "3500"}}) {
            std::vector<std::string> piece = args;
            piece.insert(piece.end(), {"--from", from, "--to", to});
            const std::vector<std::string> rows = lines(runCli(piece).out);
            ASSERT_FALSE(rows.empty());
            EXPECT_EQ(rows[0], whole[0]);
            joined.insert(joined.end(), rows.begin() + 1, rows.end());
        }
        EXPECT_EQ(joined, whole);
    }
}

TEST_F(CliFormantTrackTest, MistakesExitTwoWithOneLine)
{
    const std::string demo = path("demo.wav");
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"formant-track", demo, "--step", "0"}, "--step takes a time in ms above 0"},
        {{"formant-track", demo, "--step", "-5"}, "--step takes a time in ms"},
        {{"formant-track", demo, "--step", "0.01"},
         "--step 0.01 ms is shorter than one sample at 22050 Hz"},
        {{"formant-track", demo, "--from", "100"}, "--from and --to go together"},
        {{"formant-track", demo, "--from", "300", "--to", "100"}, "earlier"},
        {{"formant-track", demo, "--to", "3600", "--from", "0"}, "beyond the recording's"},
        {{"formant-track", demo, "--columns", "10"}, "does not take --columns"},
        {{"formant-track", demo, "--png", "x.png"}, "does not take --png"},
        {{"formant-track", demo, "--channel", "1"}, "beyond the file's 1 channels"},
        {{"formant-track", demo, "--set", "m_dFormantSilenceLevel=5"},
         "m_dFormantSilenceLevel takes a finite number from -400 to 0"},
        {{"formant-track"}, "formant-track takes one FILE"},
        {{"spectrum", demo, "--at", "5", "--step", "5"}, "does not take --step"},
    };
    for (const auto& [args, message] : cases) {
        const CliResult r = runCli(args);
        EXPECT_EQ(r.status, 2) << args.back() << ": " << r.err;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
    // A setting the track does not read is told; the track is the same.
    const CliResult told = runCli(
        {"formant-track", demo, "--to", "500", "--from", "0", "--set", "m_nSpecDynamicRange=40"});
    EXPECT_EQ(told.status, 0);
    EXPECT_EQ(told.err,
              "phonaxis-cli: m_nSpecDynamicRange is read by no analysis of formant-track; "
              "the output is the same without it\n");
    EXPECT_EQ(told.out, runCli({"formant-track", demo, "--to", "500", "--from", "0"}).out);
}

// Two minutes at the default step: 12,000 rows, one every 10 ms, in both
// modes, with formants wherever the sequence is voiced.
TEST_F(CliFormantTrackTest, MinutesLongFileIsTrackedAtTheDefaultStep)
{
    for (const bool precise : {false, true}) {
        std::vector<std::string> args = {"formant-track", path("minutes.wav"), "--csv"};
        if (precise) {
            args.push_back("--precise");
        }
        const CliResult r = runCli(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<std::string> rows = lines(r.out);
        ASSERT_EQ(rows.size(), 1u + 12250u) << precise; // 35 sequences of 3.5 s: 122.5 s
        int sampled = 0;
        int withF1 = 0;
        for (std::size_t i = 1; i < rows.size(); i += 97) {
            const auto cells = fields(rows[i], ',');
            ASSERT_EQ(cells.size(), 13u);
            EXPECT_EQ(cells[2], std::to_string(10 * (i - 1)));
            ++sampled;
            withF1 += !cells[3].empty();
        }
        // Voiced 3 s of every 3.5 s.
        EXPECT_GT(withF1, sampled * 3 / 4) << precise;
    }
}

} // namespace
} // namespace phonaxis
