// phonaxis-cli and labels: TextGrid files into recordings (convert --labels),
// out of them (labels --textgrid), and the label column of the analyses.
#include "Signals.h"
#include "document/FileIO.h"
#include "document/TextGrid.h"
#include "support/CliRunning.h"
#include "support/CliTables.h"
#include "support/ScriptedPrompts.h"
#include "support/TidyReader.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;
using test::TidyFormat;
using test::TidyTable;

// Two tiers over the 3.5 s demo: vowels as intervals with silences between
// them, and two points.
constexpr const char* kGrid = R"(File type = "ooTextFile"
Object class = "TextGrid"

xmin = 0
xmax = 3.5
tiers? <exists>
size = 2
item []:
    item [1]:
        class = "IntervalTier"
        name = "vowel"
        xmin = 0
        xmax = 3.5
        intervals: size = 5
        intervals [1]:
            xmin = 0
            xmax = 0.3
            text = ""
        intervals [2]:
            xmin = 0.3
            xmax = 1.2
            text = "a ""open"""
        intervals [3]:
            xmin = 1.2
            xmax = 1.4
            text = ""
        intervals [4]:
            xmin = 1.4
            xmax = 2.2
            text = "i"
        intervals [5]:
            xmin = 2.2
            xmax = 3.5
            text = "ʊ, back"
    item [2]:
        class = "TextTier"
        name = "events"
        xmin = 0
        xmax = 3.5
        points: size = 2
        points [1]:
            number = 0.25
            mark = "onset"
        points [2]:
            number = 3.25
            mark = "offset"
)";

// The vowel tier's label at `ms`, as the grid above gives it.
std::string vowelAt(double ms)
{
    if (ms >= 300.0 && ms < 1200.0) {
        return "a \"open\"";
    }
    if (ms >= 1400.0 && ms < 2200.0) {
        return "i";
    }
    return ms >= 2200.0 && ms <= 3500.0 ? "ʊ, back" : "";
}

class CliLabelsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = fs::temp_directory_path() / ("phonaxis-cli-labels-" + std::to_string(::getpid()));
        fs::remove_all(s_dir);
        fs::create_directories(s_dir);
        const signals::DemoRecording demo = signals::demoRecording();
        std::vector<std::span<const float>> channels = {demo.speech.audio, demo.egg.samples};
        test::ScriptedPrompts prompts;
        const auto bytes = signals::waveFileBytes(demo.speech.rateHz, channels, prompts);
        std::string error;
        ASSERT_TRUE(bytes && writeFileAtomically(path("demo.wav"), *bytes, error)) << error;
        writeText("demo.TextGrid", kGrid);
    }
    static void TearDownTestSuite() { fs::remove_all(s_dir); }
    void SetUp() override
    {
        // Nothing written here comes near 64 MB; a runaway writer stops there.
        const rlimit limit{64 << 20, 64 << 20};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }

    static std::string path(const std::string& name) { return (s_dir / name).string(); }
    static void writeText(const std::string& name, const std::string& text)
    {
        std::ofstream(path(name), std::ios::binary) << text;
    }
    static TextGrid readGrid(const std::string& name)
    {
        std::string error;
        const std::optional<TextGrid> grid = readTextGridFile(path(name), error);
        EXPECT_TRUE(grid) << error;
        return grid.value_or(TextGrid{});
    }
    static TidyTable table(std::vector<std::string> args, TidyFormat format)
    {
        return test::cliTable(std::move(args), format,
                              {"file", "name", "definition", "values", "label"});
    }

    static inline fs::path s_dir;
};

TEST_F(CliLabelsTest, AGridGoesIntoANativeFileAndComesOutUnchanged)
{
    const test::CliResult in = test::runCli(
        {"convert", path("demo.wav"), path("labelled.pmf"), "--labels", path("demo.TextGrid")});
    ASSERT_EQ(in.status, 0) << in.err;
    // Tier 1 to channel 0, tier 2 to channel 1, by position.
    const test::CliResult listed = test::runCli({"labels", path("labelled.pmf"), "--table"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    std::string error;
    const auto rows =
        test::readTidy(listed.out, TidyFormat::Tsv, {"file", "channel_title", "label"}, error);
    ASSERT_TRUE(rows) << error;
    EXPECT_EQ(rows->columns, (std::vector<std::string>{"file", "channel", "channel_title",
                                                       "time_ms", "end_ms", "label"}));
    ASSERT_EQ(rows->rows.size(), 5u);
    EXPECT_EQ(rows->rows[0].at("label"), "a \"open\"");
    EXPECT_EQ(rows->rows[0].at("end_ms"), "1200");
    EXPECT_EQ(rows->rows[3].at("channel"), "1");
    EXPECT_EQ(rows->rows[3].at("label"), "onset");
    EXPECT_FALSE(rows->rows[3].at("end_ms").has_value());

    // Back out: the intervals as points of channel 1 and intervals of
    // channel 0, each tier named after its channel, in both text forms and
    // encodings.
    const TextGrid original = readGrid("demo.TextGrid");
    for (const std::vector<std::string>& form :
         {std::vector<std::string>{}, {"--short"}, {"--utf16"}, {"--short", "--utf16"}}) {
        std::vector<std::string> args = {
            "labels", path("labelled.pmf"), "--textgrid", path("out.TextGrid"), "--channel", "0"};
        args.insert(args.end(), form.begin(), form.end());
        const test::CliResult out = test::runCli(args);
        ASSERT_EQ(out.status, 0) << out.err;
        const TextGrid written = readGrid("out.TextGrid");
        ASSERT_EQ(written.tiers.size(), 1u);
        EXPECT_EQ(written.tiers[0].intervals, original.tiers[0].intervals);
        EXPECT_EQ(written.xmax, 3.5);
    }
    // Both channels as the labels came: the grid's interval tier and its
    // point tier; --points and --intervals make one kind of both.
    struct Kind {
        const char* option;
        bool firstIntervals;
        bool secondIntervals;
    };
    for (const Kind& k : {Kind{nullptr, true, false}, Kind{"--points", false, false},
                          Kind{"--intervals", true, true}}) {
        std::vector<std::string> args = {"labels", path("labelled.pmf"), "--textgrid",
                                         path("both.TextGrid")};
        if (k.option) {
            args.push_back(k.option);
        }
        SCOPED_TRACE(k.option ? k.option : "as the labels came");
        const test::CliResult out = test::runCli(args);
        ASSERT_EQ(out.status, 0) << out.err;
        const TextGrid both = readGrid("both.TextGrid");
        ASSERT_EQ(both.tiers.size(), 2u);
        EXPECT_EQ(both.tiers[0].isIntervalTier, k.firstIntervals);
        EXPECT_EQ(both.tiers[1].isIntervalTier, k.secondIntervals);
        if (k.firstIntervals) {
            EXPECT_EQ(both.tiers[0].intervals, original.tiers[0].intervals);
        }
        if (!k.secondIntervals) {
            EXPECT_EQ(both.tiers[1].points, original.tiers[1].points);
        }
    }
}

TEST_F(CliLabelsTest, TiersChosenByNameOrNumberGoWhereTheyAreSent)
{
    struct Case {
        std::vector<std::string> extra;
        int channel;       // where the labels land
        std::size_t count; // how many
    };
    const Case cases[] = {
        {{"--tier", "events"}, 0, 2},
        {{"--tier", "2", "--channel", "1"}, 1, 2},
        {{"--tier", "vowel", "--channel", "1"}, 1, 3},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"convert", path("demo.wav"), path("one.pmf"), "--labels",
                                         path("demo.TextGrid")};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        SCOPED_TRACE(c.extra[1]);
        const test::CliResult r = test::runCli(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const test::CliResult listed = test::runCli({"labels", path("one.pmf"), "--json"});
        ASSERT_EQ(listed.status, 0) << listed.err;
        std::string error;
        const auto rows =
            test::readTidy(listed.out, TidyFormat::Json, {"file", "channel_title", "label"}, error);
        ASSERT_TRUE(rows) << error;
        ASSERT_EQ(rows->rows.size(), c.count);
        for (const TidyTable::Row& row : rows->rows) {
            // With --channel only that channel is written: it is channel 0 there.
            EXPECT_EQ(row.at("channel"), c.extra.size() > 2 ? "0" : std::to_string(c.channel));
        }
    }
}

TEST_F(CliLabelsTest, EveryAnalysisRowCarriesTheLabelInForce)
{
    const std::string demo = path("demo.wav");
    const std::string grid = path("demo.TextGrid");
    const std::vector<std::vector<std::string>> commands = {
        {"pitch", demo},
        {"formant-track", demo, "--step", "20"},
        {"spectrogram", demo, "--columns", "200"},
        {"spectrum", demo, "--at", "1500"},
        {"spectrum", demo, "--from", "1000", "--to", "2000"},
        {"egg", demo, "--channel", "1"},
    };
    for (const std::vector<std::string>& command : commands) {
        for (const TidyFormat format : {TidyFormat::Tsv, TidyFormat::Csv, TidyFormat::Json}) {
            SCOPED_TRACE(command[0] + " " + command.back() + " format " +
                         std::to_string(int(format)));
            std::vector<std::string> args = command;
            args.insert(args.end(), {"--labels", "--textgrid", grid});
            const TidyTable t = table(args, format);
            ASSERT_FALSE(t.rows.empty());
            EXPECT_EQ(t.columns.back(), "label");
            int labelled = 0;
            for (const TidyTable::Row& row : t.rows) {
                double ms = 0.0;
                if (row.count("time_ms")) {
                    ms = std::stod(*row.at("time_ms"));
                } else if (row.count("contact_ms")) {
                    ms = std::stod(*row.at("contact_ms"));
                } else {
                    ms = 0.5 * (std::stod(*row.at("from_ms")) + std::stod(*row.at("to_ms")));
                }
                const std::string expected = vowelAt(ms);
                EXPECT_EQ(row.at("label").value_or(""), expected) << "at " << ms << " ms";
                labelled += expected.empty() ? 0 : 1;
            }
            EXPECT_GT(labelled, 0);
        }
    }
    // The tier named, and a native file's own labels.
    const TidyTable events =
        table({"pitch", demo, "--labels", "--textgrid", grid, "--tier", "events"}, TidyFormat::Tsv);
    EXPECT_EQ(events.rows.back().at("label"), "offset");
    ASSERT_EQ(test::runCli({"convert", demo, path("own.pmf"), "--labels", grid}).status, 0);
    const TidyTable own = table({"pitch", path("own.pmf"), "--labels"}, TidyFormat::Csv);
    EXPECT_EQ(own.rows[150].at("label").value_or(""), vowelAt(1500.0));
}

TEST_F(CliLabelsTest, WrongLinesAndDamagedGridsAreDeclinedWithReasons)
{
    writeText("cut.TextGrid", std::string(kGrid).substr(0, 600));
    const std::string demo = path("demo.wav");
    const std::string grid = path("demo.TextGrid");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {{"pitch", demo, "--labels"}, 2, "--labels adds a label column"},
        {{"pitch", demo, "--textgrid", grid, "--table"}, 2, "add --labels"},
        {{"convert", demo, path("x.wav"), "--labels", grid}, 2, "WAV file keeps no labels"},
        {{"convert", demo, path("x.pmf"), "--labels", grid, "--tier", "words"},
         2,
         "has no tier \"words\""},
        {{"convert", demo, path("x.pmf"), "--tier", "1"}, 2, "--tier picks a tier"},
        {{"labels", demo, "--points"}, 2, "--intervals, --points, --short and --utf16"},
        {{"labels", demo, "--textgrid", path("x.TextGrid"), "--points", "--intervals"},
         2,
         "give one"},
        {{"labels", demo, "--textgrid", path("x.TextGrid"), "--csv"}, 2, "one or the other"},
        {{"labels", demo, "--textgrid", demo}, 2, "is the input file"},
        {{"pitch", demo, "--labels", "--table", "--textgrid", path("cut.TextGrid")}, 1, "line "},
        {{"convert", demo, path("x.pmf"), "--labels", path("missing.TextGrid")}, 1, "missing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args.back());
        const test::CliResult r = test::runCli(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    EXPECT_FALSE(fs::exists(path("x.pmf")));
    EXPECT_FALSE(fs::exists(path("x.wav")));
}

TEST_F(CliLabelsTest, TheListIsTheLabelWindowsTable)
{
    ASSERT_EQ(test::runCli({"convert", path("demo.wav"), path("list.pmf"), "--labels",
                            path("demo.TextGrid")})
                  .status,
              0);
    const test::CliResult r = test::runCli({"labels", path("list.pmf")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "\tSignal Name\tLabel\tTime (ms)\n"
                     "1\tAudio\ta \"open\"\t300.0\n"
                     "2\tAudio\ti\t1400.0\n"
                     "3\tAudio\tʊ, back\t2200.0\n"
                     "4\tChan 1\tonset\t250.0\n"
                     "5\tChan 1\toffset\t3250.0\n");
}

} // namespace
} // namespace phonaxis
