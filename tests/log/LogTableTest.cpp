#include "document/MyDocument.h"
#include "log/LogEntries.h"
#include "log/FormantTable.h"
#include "log/LogTable.h"
#include "support/FileProbes.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include <unistd.h>

namespace phonaxis {
namespace {

LogRecord record(const std::string& name, const std::vector<double>& values)
{
    LogRecord r;
    r.name = name;
    r.definition = "def of " + name;
    for (double v : values) {
        r.append(v);
    }
    return r;
}

// Titles, then every cell but the row numbers, row by row.
std::vector<std::vector<std::string>> contents(const LogTable& log)
{
    std::vector<std::vector<std::string>> out(1);
    for (const auto& c : log.columns()) {
        out[0].push_back(c.identifier + ":" + c.title);
    }
    for (std::size_t r = 0; r < log.rowCount(); ++r) {
        out.emplace_back();
        for (std::size_t k = 1; k < log.columns().size(); ++k) {
            out.back().push_back(log.cell(r, log.columns()[k].identifier));
        }
    }
    return out;
}

TEST(LogTable, LongerRecordAddsEntryColumnsThatEarlierRowsFill)
{
    LogTable log;
    int refreshes = 0;
    log.setRefreshHandler([&] { ++refreshes; });
    log.AddLog(record("a", {1, 2, 3}), true);
    log.AddLog(record("b", {1, 2, 3, 4, 5, 6, 7, 8, 9.5}), false);
    EXPECT_EQ(refreshes, 1);
    EXPECT_TRUE(log.m_bDirty);
    ASSERT_EQ(log.entryColumnCount(), 9);
    EXPECT_EQ(log.columns()[11].alignment, LogCellAlignment::Right);
    EXPECT_EQ(log.cell(1, "row"), "2");
    EXPECT_EQ(log.cell(0, "entry15"), "0.000");
    EXPECT_EQ(log.toText(), "File Name\tEntry definitions and order\tEntry 1\tEntry 2\tEntry "
                            "3\tEntry 4\tEntry 5\tEntry 6\tEntry 7\tEntry 8\tEntry 9\tComments\t\n"
                            "a\tdef of a\t1.000\t2.000\t3.000\t0.000\t0.000\t0.000\t0.000\t0.000\t0."
                            "000\t\t\n"
                            "b\tdef of b\t1.000\t2.000\t3.000\t4.000\t5.000\t6.000\t7.000\t8.000\t9."
                            "500\t\t\n");
}

TEST(LogTable, RecordsBeyondFifteenValuesKeepEveryValueUpToTheSlots)
{
    for (const auto& [count, columns] : {std::pair{21, 21}, {100, 100}, {5000, 100}, {-3, 0}}) {
        LogTable log;
        LogRecord r = record("x", {});
        for (int i = 0; i < LogRecord::kValueSlots; ++i) {
            r.values[static_cast<std::size_t>(i)] = i + 1;
        }
        r.count = count;
        log.AddLog(r, true);
        EXPECT_EQ(log.entryColumnCount(), columns) << count;
        EXPECT_EQ(log.cell(0, "entry15"), "15.000") << count;
        if (columns > 15) {
            EXPECT_EQ(log.cell(0, "entry" + std::to_string(columns)),
                      std::to_string(columns) + ".000");
        }
    }
}

// The UI toolkit sets the user's locale; values must still be written as the
// C locale's "%.3f" writes them.
TEST(LogTable, ValuesAreFormattedAsPrintfWithThreeDecimals)
{
    const std::vector<double> values = {2.0 / 3.0, -0.0004, 1e20, 0.0005, 1234.56789,
                                        std::numeric_limits<double>::max()};
    LogTable log;
    log.AddLog(record("n", values), true);
    for (std::size_t i = 0; i < values.size(); ++i) {
        char expected[400];
        std::snprintf(expected, sizeof expected, "%.3f", values[i]);
        EXPECT_EQ(log.cell(0, "entry" + std::to_string(i + 1)), expected) << values[i];
    }
}

TEST(LogTable, SavedLogReadsBackWithSameColumnsAndCellsForLfAndCrLf)
{
    LogTable log;
    log.AddLog(record("take 1.wav", {12.5, 0.25}), true);
    log.AddLog(record("odd\tname\n.wav", {1, 2, 1}), true);
    log.AddLog(record("take 3.wav", {}), true);
    ASSERT_TRUE(log.editCell(1, "comment", "vowel é"));
    const std::string text = log.toText();
    std::string crlf;
    for (char c : text) {
        crlf += c == '\n' ? "\r\n" : std::string(1, c);
    }
    auto expected = contents(log);
    expected[2][0] = "odd name .wav"; // a TAB or LF would have split the row
    expected[2][1] = "def of odd name .wav";

    for (const std::string& input : {text, crlf}) {
        LogTable copy;
        ASSERT_TRUE(copy.readFromText(input));
        EXPECT_EQ(contents(copy), expected);
        EXPECT_EQ(copy.cell(2, "row"), "3");
        EXPECT_TRUE(copy.m_bhasData);
        EXPECT_FALSE(copy.m_bDirty);
    }

    const auto dir =
        std::filesystem::temp_directory_path() / ("phonaxis-log-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "logFile.txt").string();
    std::string error;
    ASSERT_TRUE(log.Save(path, error)) << error;
    EXPECT_FALSE(log.m_bDirty);
    LogTable reopened;
    ASSERT_TRUE(reopened.ReadDocument(path));
    EXPECT_EQ(reopened.m_strFilePath, path);
    EXPECT_EQ(reopened.toText(), log.toText());
    std::filesystem::remove_all(dir);
    EXPECT_FALSE(reopened.ReadDocument(path));
    // A save that fails leaves the log unsaved.
    ASSERT_TRUE(log.editCell(0, "comment", "changed"));
    EXPECT_FALSE(log.Save(path, error));
    EXPECT_TRUE(log.m_bDirty);
}

TEST(TableFiles, LargeOrBinaryFilesAreDeclinedWithoutBeingReadWhole)
{
    const auto dir =
        std::filesystem::temp_directory_path() / ("phonaxis-tables-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    // 8 KiB of a table on 600 MB, and 64 MB of zeros.
    std::string table = "Name\tDefinition\tComment\n";
    while (table.size() < 8192) {
        table += "in.wav\tF0\t\n";
    }
    const std::string large = (dir / "large.txt").string();
    const std::string zeros = (dir / "zeros.txt").string();
    ASSERT_TRUE(test::makeSparseFile(large, off_t{600} << 20, table));
    ASSERT_TRUE(test::makeSparseFile(zeros, off_t{64} << 20));
    for (const std::string& path : {large, zeros}) {
        LogTable log;
        FormantTable formants;
        EXPECT_TRUE(test::readsLittle([&] { EXPECT_FALSE(log.ReadDocument(path)); })) << path;
        EXPECT_TRUE(test::readsLittle([&] { EXPECT_FALSE(formants.ReadDocument(path)); })) << path;
    }
    std::filesystem::remove_all(dir);
}

TEST(LogTable, ReadingFollowsTheHeaderAndKeepsLaterRowsAligned)
{
    // Line 2 is too short and skipped with its number; line 3's extra field
    // is ignored; the header's trailing CR field names nothing.
    LogTable log;
    ASSERT_TRUE(log.readFromText("F\tD\tE1\tE2\tC\t\r\n"
                                 "a\tb\t1\t2\tc\t\r\n"
                                 "short\tline\r\n"
                                 "d\te\t3\t4\t\t\r\n",
                                 "/some/log.txt"));
    EXPECT_EQ(contents(log), (std::vector<std::vector<std::string>>{
                                 {"row:", "name:F", "def:D", "entry1:E1", "entry2:E2", "comment:C"},
                                 {"a", "b", "1", "2", "c"},
                                 {"d", "e", "3", "4", ""}}));
    EXPECT_EQ(log.cell(1, "row"), "3");
    EXPECT_EQ(log.m_strFilePath, "/some/log.txt");

    // A longer record appended later lands in its own row of the new column.
    log.AddLog(record("n", {7, 8, 9}), true);
    EXPECT_EQ(log.cell(2, "entry3"), "9.000");
    EXPECT_EQ(log.cell(0, "entry3"), "");
}

TEST(LogTable, FailedReadLeavesTheLogAsItWas)
{
    for (const std::string text : {"", "a\tb\nc\n", "a\tb\tc\na\tb\tc\td\n", "\t\t\t\na\tb\tc\td\n",
                                   "a\t\r\tb\t\n"}) {
        LogTable log;
        int refreshes = 0;
        log.setRefreshHandler([&] { ++refreshes; });
        log.AddLog(record("kept.wav", {1, 2}), true);
        log.m_strFilePath = "/kept.txt";
        const auto before = contents(log);
        EXPECT_FALSE(log.readFromText(text, "/other.txt")) << text;
        EXPECT_EQ(contents(log), before) << text;
        EXPECT_EQ(log.m_strFilePath, "/kept.txt");
        EXPECT_TRUE(log.m_bDirty);
        EXPECT_EQ(refreshes, 1);
    }
}

TEST(LogTable, EditsMarkDirtyOnlyOnChangeAndInitilizeKeepsColumns)
{
    LogTable log;
    log.AddLog(record("a", {1, 2}), true);
    log.m_bDirty = false;
    EXPECT_FALSE(log.editCell(0, "name", "a"));
    EXPECT_FALSE(log.editCell(0, "row", "9"));
    EXPECT_FALSE(log.editCell(1, "name", "b"));
    EXPECT_FALSE(log.m_bDirty);
    EXPECT_TRUE(log.editCell(0, "comment", "note"));
    EXPECT_TRUE(log.m_bDirty);
    log.initilize();
    EXPECT_EQ(log.rowCount(), 0u);
    EXPECT_EQ(log.entryColumnCount(), 2);
    EXPECT_FALSE(log.m_bDirty);
}

class LogEntries : public ::testing::Test {
protected:
    test::ScriptedPrompts prompts;
    AppSettings settings;
    MyDocument doc{prompts, settings};

    // Three channels of 1000 samples at 1 ms per sample; sample i of channel
    // c is (c + 1) * i.
    void SetUp() override
    {
        doc.m_nNumofChannels = 3;
        for (int c = 0; c < 3; ++c) {
            std::vector<float> values(1000);
            for (std::size_t i = 0; i < values.size(); ++i) {
                values[i] = static_cast<float>((c + 1) * static_cast<int>(i));
            }
            Channels& channel = doc.getChannel(c);
            ASSERT_TRUE(channel.setData(values.data(), 1000));
            channel.m_dwFileLength = channel.m_dLengthMS = channel.m_dSampleRate = 1000;
        }
        doc.m_bHaveData = true;
    }
};

TEST_F(LogEntries, MarkerEntryNamesShownChannelsAndCalibratesTheirValues)
{
    doc.getChannel(1).m_bShow = false;
    doc.getChannel(0).m_dMarkerTime = 42.0;
    doc.getChannel(0).m_dMarkerDataValue = 0.5;
    doc.getChannel(2).m_dMarkerDataValue = 3.0;
    doc.getChannel(2).m_dC1Cal = 2.0;
    doc.getChannel(2).m_dD0Cal = 1.0;
    const LogRecord r = markerLogRecord(doc, "take.wav");
    EXPECT_EQ(r.definition, "Marker Entry: time ,Audio ,cha# 2");
    ASSERT_EQ(r.count, 3);
    EXPECT_EQ(r.values[0], 42.0);
    EXPECT_EQ(r.values[1], 0.5);
    EXPECT_EQ(r.values[2], 7.0);
}

TEST_F(LogEntries, DataSelectionLogsStepsBeforeTheStopAndRefusesStepsThatCannotEnd)
{
    doc.getChannel(0).m_bShow = false;
    struct Case {
        double startMs, stopMs, stepMs;
        DataSelectionLogStatus status;
        std::size_t rows;
    };
    const std::vector<Case> cases = {
        {10, 13, 1.0, DataSelectionLogStatus::Logged, 3},
        {10, 13, 0.0, DataSelectionLogStatus::NonPositiveStep, 0},
        {10, 13, -1.0, DataSelectionLogStatus::NonPositiveStep, 0},
        {10, 13, std::nan(""), DataSelectionLogStatus::NonPositiveStep, 0},
        {0, 1000, 1e-6, DataSelectionLogStatus::TooManyRows, 0},
        {0, std::numeric_limits<double>::infinity(), 1, DataSelectionLogStatus::TooManyRows, 0},
        // 1e6 + 2^-40 == 1e6, yet start + i × step reaches the stop 8 ulps on.
        {1e6, 1e6 + std::ldexp(1.0, -30), std::ldexp(1.0, -40), DataSelectionLogStatus::Logged,
         960},
    };
    for (const Case& c : cases) {
        doc.getChannel(0).m_dDurationStartTime = c.startMs;
        doc.getChannel(0).m_dDurationStopTime = c.stopMs;
        doc.m_dLogStepSize = c.stepMs;
        LogTable log;
        const auto result = logDataSelection(doc, "t", log);
        EXPECT_EQ(result.status, c.status) << c.stepMs;
        EXPECT_EQ(log.rowCount(), c.rows) << c.stepMs;
        EXPECT_EQ(result.rows, c.rows) << c.stepMs;
        if (c.rows == 3) {
            EXPECT_EQ(log.cell(0, "def"), "Data Selection Entry: time ,cha ,cha");
            EXPECT_EQ(contents(log)[3], (std::vector<std::string>{"t", log.cell(0, "def"), "12.000",
                                                                  "24.000", "36.000", ""}));
        }
    }
}

} // namespace
} // namespace phonaxis
