#include "Signals.h"
#include "document/FileIO.h"
#include "support/CliRunning.h"
#include "support/ScriptedPrompts.h"
#include "support/TidyReader.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;
using test::runCli;
using test::TidyFormat;
using test::TidyTable;

const std::vector<std::string> kFormantColumns = {"F1_hz", "F2_hz", "F3_hz", "F4_hz", "F5_hz"};
const std::vector<std::string> kBandwidthColumns = {"B1_hz", "B2_hz", "B3_hz", "B4_hz", "B5_hz"};

std::vector<std::string> joined(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class CliTableTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = fs::temp_directory_path() / ("phonaxis-cli-table-" + std::to_string(::getpid()));
        fs::remove_all(s_dir);
        fs::create_directories(s_dir);
        const std::vector<float> vowel = signals::vowel({}).samples;
        std::vector<float> quiet = vowel;
        for (float& x : quiet) {
            x *= 0.1F;
        }
        std::vector<float> padded(5000, 0.0F); // 0.5 s at 10 kHz
        padded.insert(padded.end(), vowel.begin(), vowel.end());
        const std::vector<float> silence(vowel.size(), 0.0F);
        write("vowel.wav", 10000.0, {vowel});
        write("vowel, take \"2\".wav", 10000.0, {vowel});
        write("quiet.wav", 10000.0, {quiet});
        write("padded.wav", 10000.0, {padded});
        write("sine.wav", 10000.0, {signals::tone(200.0, 10000.0, 500.0, 1.0)});
        write("stereo.wav", 10000.0, {silence, vowel});
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
        args.push_back(format == TidyFormat::Tsv   ? "--table"
                       : format == TidyFormat::Csv ? "--csv"
                                                   : "--json");
        const test::CliResult r = runCli(args);
        EXPECT_EQ(r.status, 0) << r.err;
        std::string error;
        const auto read =
            test::readTidy(r.out, format, {"file", "name", "definition", "values"}, error);
        EXPECT_TRUE(read) << error << "\n" << r.out.substr(0, 400);
        return read.value_or(TidyTable{});
    }

    static inline fs::path s_dir;
};

TEST_F(CliTableTest, EveryNamedOutputReadsAsATidyTable)
{
    const std::string vowel = path("vowel, take \"2\".wav");
    const std::string demo = path("demo.wav");
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> columns; // after file and channel
    } cases[] = {
        {{"pitch", demo}, {"time_ms", "f0_hz", "intensity_dbfs"}},
        {{"spectrum", vowel, "--at", "250"},
         joined(joined({"time_ms"}, kFormantColumns), kBandwidthColumns)},
        {{"spectrum", vowel, "--from", "100", "--to", "400"},
         joined(joined({"from_ms", "to_ms"}, kFormantColumns), kBandwidthColumns)},
        {{"spectrum", vowel, "--at", "250", "--frame"},
         {"time_ms", "frequency_hz", "fft_rel_db", "lpc_rel_db"}},
        {{"spectrogram", vowel}, joined({"time_ms"}, kFormantColumns)},
        {{"egg", demo, "--channel", "1"},
         {"contact_ms", "decontact_ms", "next_contact_ms", "cq", "cq_hb", "cq_pm", "cq_ht",
          "peak_velocity_per_s", "peak_velocity_ms"}},
    };
    for (const auto& c : cases) {
        for (const TidyFormat format : {TidyFormat::Tsv, TidyFormat::Csv, TidyFormat::Json}) {
            SCOPED_TRACE(c.args[0] + " " + c.args.back() + " format " +
                         std::to_string(int(format)));
            const TidyTable t = table(c.args, format);
            // JSON keeps the log's name, definition and values before the named fields.
            const std::vector<std::string> expected = joined(
                format == TidyFormat::Json
                    ? std::vector<std::string>{"name", "definition", "values", "file", "channel"}
                    : std::vector<std::string>{"file", "channel"},
                c.columns);
            EXPECT_EQ(t.columns, expected);
            ASSERT_FALSE(t.rows.empty());
            for (const auto& row : t.rows) {
                EXPECT_EQ(row[t.index("file")], c.args[1]); // a comma and quotes survive CSV
            }
            for (const std::string& column : t.columns) {
                // No 0 for an unvoiced frame, no -1 for an empty formant slot.
                if (column.ends_with("_hz") && column != "frequency_hz") {
                    for (const auto& value : t.numbers(column)) {
                        EXPECT_TRUE(!value || *value > 0.0) << column << " " << *value;
                    }
                }
            }
        }
    }
}

TEST_F(CliTableTest, MissingValuesAreEmptyWhereTheLogWritesAMarker)
{
    // A JSON object holds both: the log's slot with its marker for "none",
    // and the named field.
    const struct {
        std::vector<std::string> args;
        int slot;
        double marker;
        const char* column;
    } cases[] = {
        {{"pitch", path("demo.wav")}, 1, 0.0, "f0_hz"},
        {{"spectrum", path("vowel.wav"), "--at", "250", "--set", "m_nLPCNumberofCoefficients=4"},
         2,
         -1.0,
         "F3_hz"},
        {{"egg", path("demo.wav"), "--channel", "1"}, 4, 0.0, "cq_hb"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.column);
        const TidyTable t = table(c.args, TidyFormat::Json);
        int missing = 0;
        for (const auto& row : t.rows) {
            std::istringstream values(row[t.index("values")].value_or("").substr(1));
            std::string slot;
            for (int k = 0; k <= c.slot; ++k) {
                std::getline(values, slot, ',');
            }
            const bool none = std::stod(slot) == c.marker;
            missing += none;
            EXPECT_EQ(row[t.index(c.column)].has_value(), !none) << slot;
        }
        EXPECT_GT(missing, 0);
    }
}

TEST_F(CliTableTest, IntensityIsInDecibelsReFullScaleAndOnlyItsOwnFrame)
{
    const auto level = [&](const char* name) {
        return table({"pitch", path(name)}).numbers("intensity_dbfs");
    };
    const auto vowel = level("vowel.wav");
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

TEST_F(CliTableTest, PitchRowsLieOnTheStepGridAtEveryRate)
{
    const auto low = table({"pitch", path("vowel16000.wav")}).numbers("time_ms");
    const auto high = table({"pitch", path("vowel44100.wav")}).numbers("time_ms");
    ASSERT_EQ(low.size(), 50u);
    ASSERT_EQ(high.size(), low.size());
    for (std::size_t k = 0; k < low.size(); ++k) {
        EXPECT_EQ(low[k], high[k]);
        EXPECT_NEAR(low[k].value_or(-1.0), 10.0 * double(k), 1e-9);
    }
}

TEST_F(CliTableTest, ChannelChoosesWhatTheAudioAnalysesRead)
{
    const auto voiced = [](const TidyTable& t) {
        int count = 0;
        for (const auto& f0 : t.numbers("f0_hz")) {
            count += f0.has_value();
        }
        return double(count) / double(t.rows.size());
    };
    const std::string stereo = path("stereo.wav");
    EXPECT_EQ(voiced(table({"pitch", stereo})), 0.0); // the left channel is silent
    const TidyTable right = table({"pitch", stereo, "--channel", "1"});
    EXPECT_GT(voiced(right), 0.8);
    EXPECT_EQ(right.numbers("channel").at(0), 1.0);
    const auto f1 = table({"spectrum", stereo, "--at", "250", "--channel", "1"}).numbers("F1_hz");
    const double truth = signals::kVowelA[0].frequencyHz;
    EXPECT_NEAR(f1.at(0).value_or(0.0), truth, 0.06 * truth);
}

} // namespace
} // namespace phonaxis
