// The measurement-log commands as the user reaches them: entries after clicks
// and drags in the main view, the log window's File menu, and the status
// window's Log menu with New and Open.
#include "Signals.h" // before Qt: its "signals" keyword is a macro
#include "support/ScriptedPrompts.h"

namespace {

// Two tones, 200 ms at 11025 Hz, and their samples.
struct ToneRecording {
    std::vector<float> a, b;
    std::optional<phonaxis::Bytes> wav;
};

ToneRecording toneRecording(phonaxis::Prompts& prompts)
{
    ToneRecording recording;
    recording.a = phonaxis::signals::tone(300.0, 11025.0, 200.0);
    recording.b = phonaxis::signals::tone(500.0, 11025.0, 200.0);
    const std::span<const float> channels[] = {recording.a, recording.b};
    recording.wav = phonaxis::signals::waveFileBytes(11025.0, channels, prompts);
    return recording;
}

} // namespace

#include "app/Application.h"
#include "app/LogController.h"
#include "app/MainWindowController.h"
#include "app/StatusWindowController.h"
#include "display/MainViewPane.h"
#include "display/MenuCommands.h"
#include "document/MyDocument.h"
#include "log/ui/LogWindow.h"
#include "support/AppFixture.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;

constexpr double kRateHz = 11025.0;

std::string readAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string fixed3(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

// The actions of a window's menu, by the menu's object name.
QMenu* menuOf(QWidget& window, const char* name)
{
    QMenuBar* bar = window.findChild<QMenuBar*>();
    return bar == nullptr ? nullptr : bar->findChild<QMenu*>(name);
}

QAction* actionOf(QMenu& menu, const char* command)
{
    for (QAction* action : menu.actions()) {
        if (action->objectName() == command) {
            return action;
        }
    }
    return nullptr;
}

class LogCommandsTest : public test::AppFixture {
protected:
    LogCommandsTest() : AppFixture("phonaxis-log-cmd-"), recording(toneRecording(prompts)) {}

    // A shown window on the two tones ("tones.wav").
    MainWindowController* openRecording()
    {
        const fs::path path = folder / "tones.wav";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(recording.wav->data()),
                   std::streamsize(recording.wav->size()));
        MainWindowController* window = application->openPath(QString::fromStdString(path.string()));
        if (window != nullptr) {
            window->resize(700, 400);
            window->show();
            window->mainView()->repaint();
        }
        return window;
    }

    void drag(MainWindowController& window, int fromX, int toX)
    {
        MainViewPane* pane = window.mainView();
        QTest::mousePress(pane, Qt::LeftButton, {}, QPoint(fromX, 30));
        QMouseEvent move(QEvent::MouseMove, QPointF(toX, 30), pane->mapToGlobal(QPointF(toX, 30)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(pane, &move);
        QTest::mouseRelease(pane, Qt::LeftButton, {}, QPoint(toX, 30));
    }

    // The stored sample of a channel at a time, as the log reads it.
    float sampleAt(const std::vector<float>& samples, double timeMs) const
    {
        const auto index = static_cast<std::size_t>(timeMs * kRateHz / 1000.0 + 1e-6);
        return samples.at(std::min(index, samples.size() - 1));
    }

    LogTable& log() { return application->logController().table(); }

    ToneRecording recording;
};

TEST_F(LogCommandsTest, ClickedMarkerIsLoggedWithCalibratedValues)
{
    MainWindowController* window = openRecording();
    ASSERT_NE(window, nullptr);
    MyDocument& document = window->document();
    Channels& second = document.getChannel(1);
    second.m_dC1Cal = 2.5; // y = 2.5 × stored + 0.75
    second.m_dD0Cal = 0.75;

    QTest::mouseClick(window->mainView(), Qt::LeftButton, {}, QPoint(333, 30));
    ASSERT_TRUE(document.m_bHaveMarker);
    window->refreshCommands();
    EXPECT_FALSE(window->action("_LogMarker:")->isEnabled()); // the log window is hidden
    window->action("_LogMarker:")->trigger();
    EXPECT_EQ(application->logController().window(), nullptr);

    window->action("_LogNew:")->trigger();
    ASSERT_TRUE(window->action("_LogMarker:")->isEnabled());
    window->action("_LogMarker:")->trigger();
    ASSERT_EQ(log().rowCount(), 1u);
    const double timeMs = document.getChannel(0).m_dMarkerTime;
    EXPECT_EQ(log().cell(0, "name"), "tones.wav");
    EXPECT_EQ(log().cell(0, "def"), "Marker Entry: time ,Audio ,cha# 1");
    EXPECT_EQ(log().cell(0, "entry1"), fixed3(timeMs));
    EXPECT_EQ(log().cell(0, "entry2"), fixed3(sampleAt(recording.a, timeMs)));
    EXPECT_EQ(log().cell(0, "entry3"),
              fixed3(static_cast<float>(2.5 * double(sampleAt(recording.b, timeMs)) + 0.75)));

    // Closing the log window (its row left unsaved) hides it, and the entry
    // is off again.
    prompts.alertReplies.push_back(0); // Don't Save
    ASSERT_TRUE(application->logController().window()->close());
    window->refreshCommands();
    EXPECT_FALSE(window->action("_LogMarker:")->isEnabled());
}

TEST_F(LogCommandsTest, DraggedSelectionLogsItsDurationAndRowsAtTheLogStep)
{
    MainWindowController* window = openRecording();
    ASSERT_NE(window, nullptr);
    MyDocument& document = window->document();
    window->action("_LogNew:")->trigger();
    drag(*window, 150, 450);
    ASSERT_TRUE(document.m_bHaveSelection);
    const double startMs = document.getChannel(0).m_dDurationStartTime;
    const double stopMs = document.getChannel(0).m_dDurationStopTime;
    ASSERT_GT(stopMs - startMs, 20.0);

    window->action("_LogDuration:")->trigger();
    ASSERT_EQ(log().rowCount(), 1u);
    EXPECT_EQ(log().cell(0, "def"), "Duration Entry: start, end, duration ");
    EXPECT_EQ(log().cell(0, "entry1"), fixed3(startMs));
    EXPECT_EQ(log().cell(0, "entry2"), fixed3(stopMs));
    EXPECT_EQ(log().cell(0, "entry3"), fixed3(stopMs - startMs));

    const struct {
        double stepMs;
        bool refused;
    } steps[] = {{7.5, false}, {0.0, true}, {100.0, false}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.stepMs);
        document.m_dLogStepSize = step.stepMs;
        prompts.alerts.clear();
        const std::size_t before = log().rowCount();
        window->action("_LogDataSelection:")->trigger();
        if (step.refused) {
            ASSERT_EQ(prompts.alerts.size(), 1u);
            EXPECT_EQ(prompts.alerts[0].message, LogController::kNonPositiveStepMessage);
            EXPECT_EQ(log().rowCount(), before);
            continue;
        }
        EXPECT_TRUE(prompts.alerts.empty());
        const auto expected = static_cast<std::size_t>(std::ceil((stopMs - startMs) / step.stepMs));
        ASSERT_EQ(log().rowCount() - before, expected);
        for (std::size_t i = 0; i < expected; ++i) {
            const std::size_t row = before + i;
            const double t = startMs + double(i) * step.stepMs;
            EXPECT_EQ(log().cell(row, "def"), "Data Selection Entry: time ,cha ,cha");
            EXPECT_EQ(log().cell(row, "entry1"), fixed3(t)) << i;
            EXPECT_EQ(log().cell(row, "entry2"), fixed3(sampleAt(recording.a, t))) << i;
            EXPECT_EQ(log().cell(row, "entry3"), fixed3(sampleAt(recording.b, t))) << i;
        }
    }
}

TEST_F(LogCommandsTest, LogWindowFileMenuAndTheStatusWindowsLogMenu)
{
    application->finishLaunching({});
    StatusWindowController* status = application->statusWindow();
    ASSERT_NE(status, nullptr);
    QMenu* logMenu = menuOf(*status, "Log");
    ASSERT_NE(logMenu, nullptr);
    QAction* logNew = actionOf(*logMenu, "_LogNew:");
    QAction* logOpen = actionOf(*logMenu, "_LogOpen:");
    ASSERT_TRUE(logNew != nullptr && logOpen != nullptr);
    emit logMenu->aboutToShow();
    EXPECT_TRUE(logNew->isEnabled() && logOpen->isEnabled());

    logNew->trigger();
    LogWindow* logWindow = application->logController().window();
    ASSERT_NE(logWindow, nullptr);
    ASSERT_TRUE(logWindow->isVisible());
    emit logMenu->aboutToShow();
    EXPECT_FALSE(logNew->isEnabled());
    EXPECT_FALSE(logOpen->isEnabled());

    QMenu* file = menuOf(*logWindow, "File");
    ASSERT_NE(file, nullptr);
    const struct {
        const char* command;
        const char* title;
    } items[] = {{"_LogSave:", "Save"}, {"_LogSaveas:", "Save As…"}, {"performClose:", "Close"}};
    for (const auto& item : items) {
        QAction* action = actionOf(*file, item.command);
        ASSERT_NE(action, nullptr) << item.command;
        EXPECT_EQ(withoutMnemonic(action->text()), QString::fromUtf8(item.title));
    }

    // Save from the menu: the save panel, then the window is titled after the file.
    MainWindowController* window = openRecording();
    ASSERT_NE(window, nullptr);
    drag(*window, 150, 450);
    window->action("_LogDuration:")->trigger();
    emit file->aboutToShow();
    ASSERT_TRUE(actionOf(*file, "_LogSave:")->isEnabled());
    const fs::path saved = folder / "durations.txt";
    prompts.savePanelReplies.push_back(saved.string());
    actionOf(*file, "_LogSave:")->trigger();
    // Every column but the row number, each field followed by TAB, each line by LF.
    const Channels& channel = window->document().getChannel(0);
    const double startMs = channel.m_dDurationStartTime;
    const double stopMs = channel.m_dDurationStopTime;
    EXPECT_EQ(readAll(saved), "File Name\tEntry definitions and order\tEntry 1\tEntry 2\tEntry 3\t"
                              "Comments\t\ntones.wav\tDuration Entry: start, end, duration \t" +
                                  fixed3(startMs) + "\t" + fixed3(stopMs) + "\t" +
                                  fixed3(stopMs - startMs) + "\t\t\n");
    EXPECT_EQ(logWindow->windowTitle(), "durations.txt");
    emit file->aboutToShow();
    EXPECT_FALSE(actionOf(*file, "_LogSave:")->isEnabled()); // nothing unsaved

    // Close hides the window once the menu has let go; New and Open return.
    actionOf(*file, "performClose:")->trigger();
    QCoreApplication::processEvents();
    EXPECT_FALSE(logWindow->isVisible());
    emit logMenu->aboutToShow();
    EXPECT_TRUE(logNew->isEnabled() && logOpen->isEnabled());
}

TEST_F(LogCommandsTest, RowsClosedUnsavedStayUntilALogOpensAndQuitDoesNotAskAgain)
{
    MainWindowController* window = openRecording();
    ASSERT_NE(window, nullptr);
    window->action("_LogNew:")->trigger();
    drag(*window, 150, 450);
    window->action("_LogDuration:")->trigger();
    const fs::path good = folder / "good.txt";
    std::string error;
    ASSERT_TRUE(log().Save(good.string(), error)) << error;
    const std::string savedText = log().toText();
    window->action("_LogDuration:")->trigger(); // two rows now, one in the file
    const std::string kept = log().toText();
    // Closing asks about the unsaved row; "Don't Save" hides the window and
    // keeps the rows until a log replaces them.
    LogWindow* logWindow = application->logController().window();
    prompts.alertReplies.push_back(0); // Don't Save
    ASSERT_TRUE(logWindow->close());
    ASSERT_EQ(prompts.alerts.size(), 1u);
    ASSERT_FALSE(logWindow->isVisible());
    EXPECT_EQ(log().toText(), kept);
    prompts.alerts.clear();
    window->refreshCommands();
    ASSERT_TRUE(window->action("_LogOpen:")->isEnabled());

    const fs::path empty = folder / "empty.txt";
    std::ofstream(empty).close();
    const fs::path oneColumn = folder / "one.txt";
    std::ofstream(oneColumn) << "just\ttwo\n";
    const fs::path shortHeader = folder / "short.txt"; // 3 header fields, 5 in a row
    std::ofstream(shortHeader) << "a\tb\tc\n1\t2\t3\t4\t5\n";
    const fs::path bad[] = {folder / "missing.txt", empty, oneColumn, shortHeader,
                            folder / "tones.wav",   folder};
    for (const fs::path& path : bad) {
        SCOPED_TRACE(path.string());
        prompts.openPanelReplies.push_back({path.string()});
        ::testing::internal::CaptureStderr();
        window->action("_LogOpen:")->trigger();
        const std::string console = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(console.find("Error reading file at " + path.string() + "\n"), std::string::npos)
            << console;
        EXPECT_EQ(log().toText(), kept);
        EXPECT_FALSE(logWindow->isVisible());
    }

    // The saved log replaces the unsaved rows without asking again, cell for cell.
    prompts.openPanelReplies.push_back({good.string()});
    window->action("_LogOpen:")->trigger();
    EXPECT_TRUE(prompts.alerts.empty());
    EXPECT_TRUE(logWindow->isVisible());
    ASSERT_EQ(log().rowCount(), 1u);
    EXPECT_EQ(log().cell(0, "row"), "1");
    EXPECT_EQ(log().toText(), savedText);
    EXPECT_FALSE(log().m_bDirty);
    EXPECT_EQ(logWindow->windowTitle(), "good.txt");
    window->refreshCommands();
    EXPECT_FALSE(window->action("_LogOpen:")->isEnabled());

    // Rows left unsaved by "Don't Save" are not asked about again on Quit.
    window->action("_LogDuration:")->trigger();
    prompts.alertReplies.push_back(0); // Don't Save
    ASSERT_TRUE(logWindow->close());
    prompts.alerts.clear();
    EXPECT_TRUE(application->terminate());
    EXPECT_TRUE(prompts.alerts.empty());
}

} // namespace
} // namespace phonaxis
