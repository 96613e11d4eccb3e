// The measurement-log window and its application-wide controller: the
// main-view entries, saving and reopening, cell editing and closing.
#include "app/LogController.h"
#include "document/AppSettings.h"
#include "document/MyDocument.h"
#include "log/ui/LogWindow.h"
#include "support/ChannelFixtures.h"
#include "support/ScriptedPrompts.h"

#include <QAction>
#include <QTableView>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class LogWindowTest : public ::testing::Test {
protected:
    // Channels 0 and 2 shown, channel 1 hidden; 1000 samples at 1 kHz where
    // sample i of channel c is (c + 1) × i. Marker at 42 ms, selection 10–13 ms.
    LogWindowTest()
    {
        folder = fs::temp_directory_path() /
                 ("phonaxis-log-" +
                  std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        doc.m_nNumofChannels = 3;
        for (int c = 0; c < 3; ++c) {
            std::vector<float> values(1000);
            for (std::size_t i = 0; i < values.size(); ++i) {
                values[i] = static_cast<float>((c + 1) * static_cast<int>(i));
            }
            test::loadChannel(doc.getChannel(c), values, 1000.0);
        }
        doc.getChannel(1).m_bShow = false;
        doc.m_bHaveData = doc.m_bHaveMarker = doc.m_bHaveSelection = true;
        doc.getChannel(0).m_dMarkerTime = 42.0;
        doc.getChannel(0).m_dMarkerDataValue = 42.0;
        doc.getChannel(2).m_dMarkerDataValue = 126.0;
        doc.getChannel(0).m_dDurationStartTime = 10.0;
        doc.getChannel(0).m_dDurationStopTime = 13.0;
        doc.m_dLogStepSize = 1.0;
    }
    ~LogWindowTest() override { fs::remove_all(folder); }

    // The text the window shows in a cell, by column identifier.
    std::string shown(int row, const std::string& identifier) const
    {
        const auto& columns = log.table().columns();
        for (std::size_t c = 0; c < columns.size(); ++c) {
            if (columns[c].identifier == identifier) {
                const QAbstractItemModel* model = log.window()->tableView()->model();
                return model->data(model->index(row, static_cast<int>(c))).toString().toStdString();
            }
        }
        return "<no column " + identifier + ">";
    }

    // Fills the log with the three main-view entries.
    void logEntries()
    {
        log.logMarker(doc, "take.wav");
        log.logDuration(doc, "take.wav");
        log.logDataSelection(doc, "take.wav");
    }

    fs::path folder;
    test::ScriptedPrompts prompts;
    AppSettings settings;
    MyDocument doc{prompts, settings};
    std::vector<std::string> consoleLines;
    LogController log{&prompts, [this](const std::string& line) { consoleLines.push_back(line); }};
};

TEST_F(LogWindowTest, MainViewEntriesAppendTheirRecordsOnceTheWindowIsShown)
{
    EXPECT_TRUE(log.validateMenuItem("_LogNew:"));
    EXPECT_FALSE(log.validateMenuItem("_LogMarker:", &doc)); // no log window yet
    log.LogNew();
    ASSERT_TRUE(log.isVisible());
    EXPECT_FALSE(log.validateMenuItem("_LogNew:"));
    EXPECT_FALSE(log.validateMenuItem("_LogOpen:"));
    for (const char* command : {"_LogMarker:", "_LogDuration:", "_LogDataSelection:"}) {
        EXPECT_TRUE(log.validateMenuItem(command, &doc)) << command;
    }
    EXPECT_FALSE(log.validateMenuItem("_LogEntereggall:", &doc)); // no EGG channel
    doc.m_nEGGChannelIndex = 1;
    EXPECT_TRUE(log.validateMenuItem("_LogEntereggall:", &doc));
    doc.m_nEGGChannelIndex = -1;

    logEntries();
    ASSERT_EQ(log.window()->tableView()->model()->rowCount(), 5);
    const struct {
        int row;
        const char* def;
        const char* entry1;
        const char* entry2;
        const char* entry3;
    } rows[] = {
        {0, "Marker Entry: time ,Audio ,cha# 2", "42.000", "42.000", "126.000"},
        {1, "Duration Entry: start, end, duration ", "10.000", "13.000", "3.000"},
        {2, "Data Selection Entry: time ,cha ,cha", "10.000", "10.000", "30.000"},
        {4, "Data Selection Entry: time ,cha ,cha", "12.000", "12.000", "36.000"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(shown(r.row, "row"), std::to_string(r.row + 1));
        EXPECT_EQ(shown(r.row, "name"), "take.wav");
        EXPECT_EQ(shown(r.row, "def"), r.def);
        EXPECT_EQ(shown(r.row, "entry1"), r.entry1);
        EXPECT_EQ(shown(r.row, "entry2"), r.entry2);
        EXPECT_EQ(shown(r.row, "entry3"), r.entry3);
    }
    const QAbstractItemModel* model = log.window()->tableView()->model();
    EXPECT_EQ(model->headerData(3, Qt::Horizontal).toString(), "Entry 1");
    EXPECT_EQ(model->headerData(model->columnCount() - 1, Qt::Horizontal).toString(), "Comments");
    EXPECT_FALSE(model->flags(model->index(0, 0)) & Qt::ItemIsEditable); // the row number
    EXPECT_EQ(log.window()->tableView()->columnWidth(2), 200);
}

TEST_F(LogWindowTest, StepsThatCannotEndAreRefusedWithAMessage)
{
    log.LogNew();
    const struct {
        double stepMs;
        const char* message;
    } cases[] = {{0.0, LogController::kNonPositiveStepMessage},
                 {-1.0, LogController::kNonPositiveStepMessage},
                 {1e-9, LogController::kTooManyRowsMessage}};
    for (const auto& c : cases) {
        doc.m_dLogStepSize = c.stepMs;
        prompts.alerts.clear();
        log.logDataSelection(doc, "take.wav");
        ASSERT_EQ(prompts.alerts.size(), 1u) << c.stepMs;
        EXPECT_EQ(prompts.alerts[0].message, c.message);
        EXPECT_EQ(log.table().rowCount(), 0u);
    }
}

TEST_F(LogWindowTest, SavedLogReopensWithTheSameCells)
{
    log.LogNew();
    logEntries();
    const fs::path file = folder / "measured.txt";
    prompts.savePanelReplies.push_back(file.string());
    ASSERT_TRUE(log.window()->LogSave()); // no path yet: the save panel
    ASSERT_EQ(prompts.savePanels.size(), 1u);
    EXPECT_EQ(prompts.savePanels[0].proposedName, "logFile.txt");
    EXPECT_EQ(prompts.savePanels[0].requiredType, "txt");
    const std::string saved = readAll(file);
    EXPECT_EQ(saved, log.table().toText());
    EXPECT_EQ(log.window()->windowTitle(), "measured.txt");
    EXPECT_FALSE(log.table().m_bDirty);

    log.window()->hide();
    prompts.openPanelReplies.push_back({file.string()});
    log.LogOpen();
    EXPECT_TRUE(log.isVisible());
    EXPECT_EQ(log.table().toText(), saved);
    EXPECT_EQ(shown(4, "row"), "5");
    EXPECT_EQ(shown(4, "entry1"), "12.000");
    EXPECT_EQ(log.window()->windowTitle(), "measured.txt");
    EXPECT_TRUE(log.validateMenuItem("_LogSaveas:"));
}

TEST_F(LogWindowTest, OpenStopsAtTheFirstFileThatIsNotALog)
{
    const fs::path first = folder / "first.txt";
    const fs::path last = folder / "last.txt";
    log.LogNew();
    log.logMarker(doc, "first.wav");
    std::string error;
    ASSERT_TRUE(log.table().Save(first.string(), error)) << error;
    log.logDuration(doc, "last.wav");
    ASSERT_TRUE(log.table().Save(last.string(), error)) << error;
    log.window()->hide();

    const std::string missing = (folder / "missing.txt").string();
    prompts.openPanelReplies.push_back({first.string(), missing, last.string()});
    log.LogOpen();
    ASSERT_EQ(consoleLines.size(), 1u);
    EXPECT_EQ(consoleLines[0], "Error reading file at " + missing + "\n");
    EXPECT_EQ(log.table().toText(), readAll(first)); // "last.txt" was never read
    EXPECT_EQ(log.window()->windowTitle(), "first.txt");
}

TEST_F(LogWindowTest, EditedCellsAskBeforeTheWindowCloses)
{
    log.LogNew();
    log.logMarker(doc, "take.wav");
    const fs::path file = folder / "kept.txt";
    LogWindow& window = *log.window();
    log.table().m_strFilePath = file.string();
    ASSERT_TRUE(window.LogSave());
    QAbstractItemModel* model = window.tableView()->model();
    const int comment = model->columnCount() - 1;

    EXPECT_FALSE(model->setData(model->index(0, 0), "7")); // the row number stays
    EXPECT_FALSE(model->setData(model->index(0, comment), "")); // unchanged text
    EXPECT_FALSE(log.table().m_bDirty);
    EXPECT_FALSE(window.action("_LogSave:")->isEnabled());
    ASSERT_TRUE(model->setData(model->index(0, comment), "breathy"));
    EXPECT_TRUE(log.table().m_bDirty);
    EXPECT_TRUE(window.action("_LogSave:")->isEnabled());

    prompts.alertReplies = {-1}; // Cancel
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(window.isVisible());
    ASSERT_EQ(prompts.alerts.size(), 1u);
    EXPECT_EQ(prompts.alerts[0].title, "Save changes before closing?");
    EXPECT_EQ(prompts.alerts[0].defaultButton, "Save");
    EXPECT_EQ(prompts.alerts[0].alternateButton, "Don't Save");
    EXPECT_EQ(prompts.alerts[0].otherButton, "Cancel");

    prompts.alertReplies = {1}; // Save, to the known path
    EXPECT_TRUE(window.close());
    EXPECT_NE(readAll(file).find("breathy\t\n"), std::string::npos);
    EXPECT_FALSE(log.table().m_bDirty);

    log.LogNew(); // a new log has no path: Save asks where
    log.logMarker(doc, "take.wav");
    prompts.alertReplies = {1};
    EXPECT_FALSE(window.close()); // the save panel was cancelled: nothing lost
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(consoleLines.back(), "Cansel\n");

    prompts.alertReplies = {0}; // Don't Save
    EXPECT_TRUE(window.close());
    EXPECT_TRUE(log.table().m_bDirty);
    EXPECT_EQ(log.table().rowCount(), 1u); // the rows stay until a new log
}

} // namespace
} // namespace phonaxis
