#include "Signals.h"
#include "cli/CliTable.h"
#include "document/FileIO.h"
#include "support/CliRunning.h"
#include "support/CliTables.h"
#include "support/ScriptedPrompts.h"
#include "support/TidyReader.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <filesystem>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;
using test::TidyFormat;
using test::TidyTable;

std::vector<std::string> words(const std::string& text)
{
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), {}};
}

const std::string kFormants = "F1_hz F2_hz F3_hz F4_hz F5_hz";
const std::string kBandwidths = "B1_hz B2_hz B3_hz B4_hz B5_hz";

class CliTableTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = fs::temp_directory_path() / ("phonaxis-cli-table-" + std::to_string(::getpid()));
        fs::remove_all(s_dir);
        fs::create_directories(s_dir);
        const std::vector<float> vowel = signals::vowel({}).samples;
        std::vector<float> quiet(vowel.size());
        std::ranges::transform(vowel, quiet.begin(), [](float x) { return 0.1F * x; });
        std::vector<float> padded(5000, 0.0F); // 0.5 s at 10 kHz
        padded.insert(padded.end(), vowel.begin(), vowel.end());
        write("vowel, take \"2\".wav", 10000.0, {vowel});
        write("quiet.wav", 10000.0, {quiet});
        write("padded.wav", 10000.0, {padded});
        write("sine.wav", 10000.0, {signals::tone(200.0, 10000.0, 500.0, 1.0)});
        write("stereo.wav", 10000.0, {std::vector<float>(vowel.size()), vowel});
        // A length that is no whole number of pitch steps.
        for (const double rate : {16000.0, 44100.0}) {
            write("vowel" + std::to_string(int(rate)) + ".wav", rate,
                  {signals::vowel({.rateHz = rate, .durationMs = 503.7}).samples});
        }
        const signals::DemoRecording demo = signals::demoRecording();
        write("demo.wav", demo.speech.rateHz, {demo.speech.audio, demo.egg.samples});
    }
    static void TearDownTestSuite() { fs::remove_all(s_dir); }

    static void write(const std::string& name, double rate, std::vector<std::vector<float>> data)
    {
        std::vector<std::span<const float>> channels(data.begin(), data.end());
        test::ScriptedPrompts prompts;
        const auto bytes = signals::waveFileBytes(rate, channels, prompts);
        std::string error;
        ASSERT_TRUE(bytes && writeFileAtomically(path(name), *bytes, error)) << error;
    }
    static std::string path(const std::string& name) { return (s_dir / name).string(); }

    // The command's --table, --csv or --json output, read back.
    static TidyTable table(std::vector<std::string> args, TidyFormat format = TidyFormat::Tsv)
    {
        return test::cliTable(std::move(args), format, {"file", "name", "definition", "values"});
    }

    static inline fs::path s_dir;
};

TEST_F(CliTableTest, EveryNamedOutputReadsAsATidyTable)
{
    const std::string vowel = path("vowel, take \"2\".wav"); // a comma and quotes for CSV
    const std::string demo = path("demo.wav");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"pitch", demo}, "time_ms f0_hz intensity_dbfs"},
        {{"spectrum", vowel, "--at", "250"}, "time_ms " + kFormants + " " + kBandwidths},
        {{"spectrum", vowel, "--from", "100", "--to", "400"},
         "from_ms to_ms " + kFormants + " " + kBandwidths},
        {{"spectrum", vowel, "--at", "250", "--frame"},
         "time_ms frequency_hz fft_rel_db lpc_rel_db"},
        {{"spectrogram", vowel}, "time_ms " + kFormants},
        {{"egg", demo, "--channel", "1"},
         "contact_ms decontact_ms next_contact_ms cq cq_hb cq_pm cq_ht peak_velocity_per_s "
         "peak_velocity_ms"},
    };
    for (const auto& [args, columns] : cases) {
        for (const TidyFormat format : {TidyFormat::Tsv, TidyFormat::Csv, TidyFormat::Json}) {
            SCOPED_TRACE(args[0] + " " + args.back() + " format " + std::to_string(int(format)));
            const TidyTable t = table(args, format);
            // JSON keeps the log's name, definition and values before the named fields.
            const bool json = format == TidyFormat::Json;
            EXPECT_EQ(t.columns, words(std::string(json ? "name definition values " : "") +
                                       "file channel " + columns));
            ASSERT_FALSE(t.rows.empty());
            for (const TidyTable::Row& row : t.rows) {
                EXPECT_EQ(row.at("file"), args[1]);
                for (const auto& [column, cell] : row) {
                    // No 0 for an unvoiced frame, no -1 for an empty formant slot.
                    const bool positive = column.ends_with("_hz") && column != "frequency_hz";
                    EXPECT_TRUE(!positive || !cell || std::stod(*cell) > 0.0) << column;
                }
            }
        }
    }
}

TEST_F(CliTableTest, MissingValuesAreEmptyWhereTheLogWritesAMarker)
{
    // A JSON object holds both the log's values, 0 or -1 for "none", and the named fields.
    const std::tuple<std::vector<std::string>, int, const char*> cases[] = {
        {{"pitch", path("demo.wav")}, 1, "f0_hz"},
        {{"spectrum", path("demo.wav"), "--at", "500"}, 4, "F5_hz"},
        {{"egg", path("demo.wav"), "--channel", "1"}, 4, "cq_hb"},
    };
    for (const auto& [args, slot, column] : cases) {
        int missing = 0;
        for (const TidyTable::Row& row : table(args, TidyFormat::Json).rows) {
            std::istringstream values(row.at("values").value_or("[").substr(1));
            double value = 0.0;
            for (int k = 0; k <= slot; ++k) {
                values >> value;
                values.ignore(1); // the comma
            }
            const bool none = value == 0.0 || value == -1.0;
            missing += none ? 1 : 0;
            EXPECT_EQ(row.at(column).has_value(), !none) << column << " " << value;
        }
        EXPECT_GT(missing, 0) << column;
    }
}

TEST_F(CliTableTest, IntensityIsInDecibelsReFullScaleAndOnlyItsOwnFrame)
{
    const auto level = [](const char* name) {
        return table({"pitch", path(name)}).numbers("intensity_dbfs");
    };
    const auto vowel = level("vowel, take \"2\".wav");
    const auto quiet = level("quiet.wav");
    const auto padded = level("padded.wav");
    const auto sine = level("sine.wav");
    ASSERT_EQ(padded.size(), vowel.size() + 50);
    ASSERT_FALSE(padded[0]); // digital silence is no level
    for (std::size_t k = 0; k + 3 < vowel.size(); ++k) {
        ASSERT_TRUE(vowel[k] && quiet[k] && padded[k + 50]);
        EXPECT_NEAR(*quiet[k], *vowel[k] - 20.0, 0.01) << k;
        EXPECT_NEAR(*padded[k + 50], *vowel[k], 1e-9) << k;
        EXPECT_NEAR(*sine[k], -3.0103, 0.01) << k;
    }
}

// The log's intensity is the table's figure to the last digit wherever the
// record and the row are at the same time (every frame of the precise
// analysis; the classic one where its frame times fall on the step grid),
// and the floor where the table is empty (digital silence).
TEST_F(CliTableTest, LoggedIntensityIsTheTablesFigure)
{
    const std::pair<std::string, std::string> cases[] = {
        {"demo.wav", "m_bPreciseAnalysis=true"},       {"demo.wav", "m_bPreciseAnalysis=false"},
        {"padded.wav", "m_bPreciseAnalysis=true"},     {"padded.wav", "m_bPreciseAnalysis=false"},
        {"vowel44100.wav", "m_bPreciseAnalysis=true"},
    };
    for (const auto& [name, mode] : cases) {
        SCOPED_TRACE(name + " " + mode);
        int compared = 0;
        int silent = 0;
        for (const TidyTable::Row& row :
             table({"pitch", path(name), "--set", mode}, TidyFormat::Json).rows) {
            std::istringstream values(row.at("values").value_or("[").substr(1));
            double timeMs = 0.0;
            double pitchHz = 0.0;
            double level = 0.0;
            char comma = 0;
            values >> timeMs >> comma >> pitchHz >> comma >> level;
            if (timeMs != std::stod(row.at("time_ms").value_or("-1"))) {
                continue;
            }
            const std::optional<std::string> dbfs = row.at("intensity_dbfs");
            if (dbfs) {
                EXPECT_EQ(level, std::stod(*dbfs)) << timeMs;
                EXPECT_LT(level, 0.0) << timeMs;
            } else {
                EXPECT_EQ(level, -200.0) << timeMs;
                ++silent;
            }
            ++compared;
        }
        EXPECT_GE(compared, 50);
        EXPECT_TRUE(silent > 0 || name != "padded.wav");
    }
}

TEST_F(CliTableTest, PitchRowsLieOnTheStepGridAtEveryRate)
{
    for (const char* name : {"vowel16000.wav", "vowel44100.wav"}) {
        const auto times = table({"pitch", path(name)}).numbers("time_ms");
        ASSERT_EQ(times.size(), 50u) << name;
        for (std::size_t k = 0; k < times.size(); ++k) {
            EXPECT_NEAR(times[k].value_or(-1.0), 10.0 * double(k), 1e-9) << name;
        }
    }
}

TEST_F(CliTableTest, ChannelChoosesWhatTheAudioAnalysesRead)
{
    const auto voiced = [](const std::vector<std::string>& args) {
        const auto f0 = table(args).numbers("f0_hz");
        return double(std::count_if(f0.begin(), f0.end(), [](auto v) { return v.has_value(); })) /
               double(f0.size());
    };
    const std::string stereo = path("stereo.wav");
    EXPECT_EQ(voiced({"pitch", stereo}), 0.0); // the left channel is silent
    EXPECT_GT(voiced({"pitch", stereo, "--channel", "1"}), 0.8);
    // The classic LPC formants of this flat-source vowel lie near its truth.
    const TidyTable right =
        table({"spectrum", stereo, "--at", "250", "--channel", "1", "--classic"});
    EXPECT_EQ(right.numbers("channel").at(0), 1.0);
    const double truth = signals::kVowelA[0].frequencyHz;
    EXPECT_NEAR(right.numbers("F1_hz").at(0).value_or(0.0), truth, 0.06 * truth);
}

// The demo's steady 'a' at 500 ms, at the LPC orders suited to higher rates
// (its fifth formant is wider than a listed formant may be).
TEST_F(CliTableTest, HighLpcOrdersGiveTheDemoVowelItsFormants)
{
    for (const char* order : {"26", "40"}) {
        const TidyTable t = table({"spectrum", path("demo.wav"), "--at", "500", "--set",
                                   std::string("m_nLPCNumberofCoefficients=") + order});
        for (std::size_t k = 0; k < 4; ++k) {
            const double truth = signals::kVowelA[k].frequencyHz;
            EXPECT_NEAR(t.numbers("F" + std::to_string(k + 1) + "_hz").at(0).value_or(0.0), truth,
                        0.05 * truth)
                << "order " << order << ", F" << k + 1;
        }
    }
}

// Text that would break a row is quoted in CSV and blanked in TSV; a value
// that is no number (either infinity, NaN) or absent is an empty cell, null
// in JSON.
TEST(CliTableCellsTest, CellsThatWouldBreakARowAreWrittenSafely)
{
    constexpr double kInf = std::numeric_limits<double>::infinity();
    cli::Table table;
    table.columns = {"file", "value"};
    table.rows = {
        {std::string("a,b"), cli::numberCell(1.5)},
        {std::string("say \"hi\""), cli::numberCell(kInf)},
        {std::string("two\nlines"), cli::numberCell(-kInf)},
        {std::string("cr\rx"), cli::numberCell(std::nan(""))},
        {std::string("plain"), cli::cellIf(false, 2.0)},
        {std::string("kept"), cli::cellIf(true, -2.0)},
    };
    std::ostringstream csv;
    cli::writeCsv(table, csv);
    EXPECT_EQ(csv.str(), "file,value\n\"a,b\",1.5\n\"say \"\"hi\"\"\",\n\"two\nlines\",\n"
                         "\"cr\rx\",\nplain,\nkept,-2\n");
    std::ostringstream tsv;
    cli::writeTsv(table, tsv);
    EXPECT_EQ(tsv.str(),
              "file\tvalue\na,b\t1.5\nsay \"hi\"\t\ntwo lines\t\ncr x\t\nplain\t\nkept\t-2\n");
    const char* const json[] = {"1.5", "null", "null", "null", "null", "-2"};
    for (std::size_t r = 0; r < table.rows.size(); ++r) {
        const std::string fields = cli::jsonFields(table.columns, table.rows[r]);
        EXPECT_TRUE(fields.ends_with(std::string(", \"value\": ") + json[r])) << fields;
    }
    // A row shorter than the columns names only the cells it has.
    EXPECT_EQ(cli::jsonFields(table.columns, {std::string("short")}), ", \"file\": \"short\"");
}

} // namespace
} // namespace phonaxis
