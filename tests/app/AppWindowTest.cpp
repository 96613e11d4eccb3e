// The document window's ties to the rest of the application: the label
// dialog's lifetime, start-up, the status window and label table following
// edits, command enabling across windows, picture and print output.
#include "Signals.h" // before Qt: its "signals" keyword is a macro
#include "support/ScriptedPrompts.h"

namespace {

// A float WAV of `channelCount` tones of 11025 samples at 11025 Hz.
std::optional<phonaxis::Bytes> toneWav(int channelCount, phonaxis::Prompts& prompts)
{
    std::vector<std::vector<float>> channels;
    for (int c = 0; c < channelCount; ++c) {
        channels.push_back(phonaxis::signals::tone(300.0 + 200.0 * c, 11025.0, 1000.0));
    }
    std::vector<std::span<const float>> spans(channels.begin(), channels.end());
    return phonaxis::signals::waveFileBytes(11025.0, spans, prompts);
}

} // namespace

#include "app/Application.h"
#include "app/LabelDialog.h"
#include "app/LogController.h"
#include "app/MainWindowController.h"
#include "app/StatusWindowController.h"
#include "display/MainViewModel.h"
#include "display/MainViewPane.h"
#include "document/AppSettings.h"
#include "document/MyDocument.h"
#include "hardware/BoxRecording.h"
#include "support/AnalysisWindowTesting.h"
#include "support/FileProbes.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QImageReader>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPrinter>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>

#include <sys/wait.h>
#include <unistd.h>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;

class AppWindowTest : public ::testing::Test {
protected:
    AppWindowTest()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = fs::temp_directory_path() / ("phonaxis-window-" + std::string(info->name()));
        fs::remove_all(folder);
        fs::create_directories(folder / "tmp");
        fs::permissions(folder / "tmp", fs::perms::owner_all, fs::perm_options::replace);
        settings.m_strConfigFolder = (folder / "config").string();
        globals.appPathTemp = (folder / "tmp").string();
        application = std::make_unique<Application>(settings, globals, &prompts);
    }
    ~AppWindowTest() override
    {
        application.reset();
        fs::remove_all(folder);
    }

    fs::path writeRecording(int channelCount, const std::string& name = "voice.wav")
    {
        const auto bytes = toneWav(channelCount, prompts);
        const fs::path path = folder / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes->data()), std::streamsize(bytes->size()));
        return path;
    }

    // A shown window on a recording of `channelCount` channels.
    MainWindowController* open(int channelCount, const std::string& name = "voice.wav")
    {
        auto* window = application->openPath(QString::fromStdString(writeRecording(channelCount, name).string()));
        if (window != nullptr) {
            window->resize(800, 500);
            window->show();
            window->mainView()->repaint();
        }
        return window;
    }

    // A press, a drag and a release on the main view.
    static void drag(MainViewPane* pane, QPoint from, QPoint to)
    {
        QTest::mousePress(pane, Qt::LeftButton, {}, from);
        QMouseEvent move(QEvent::MouseMove, QPointF(to), pane->mapToGlobal(QPointF(to)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(pane, &move);
        QTest::mouseRelease(pane, Qt::LeftButton, {}, to);
    }

    fs::path folder;
    AppSettings settings;
    ApplicationGlobals globals;
    test::ScriptedPrompts prompts;
    std::unique_ptr<Application> application;
};

TEST_F(AppWindowTest, LabelDialogKeepsItsRequestAndEveryWayOutCleansUp)
{
    MainWindowController* window = open(2);
    ASSERT_NE(window, nullptr);
    MainViewPane* pane = window->mainView();
    window->action("_LabelMode:")->trigger();
    LabelDialog& dialog = application->labelDialog();
    const QPoint onSecond(300, window->document().getChannel(1).m_rLocation.top + 10);

    // A click while the dialog is open must not retarget it.
    QTest::mouseClick(pane, Qt::LeftButton, {}, onSecond);
    ASSERT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.windowModality(), Qt::ApplicationModal);
    QTest::mouseClick(pane, Qt::LeftButton, {}, QPoint(600, 20));
    dialog.textField()->setText("first");
    dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    EXPECT_EQ(window->document().getChannel(1).m_nLabelCount, 1);
    EXPECT_EQ(window->document().getChannel(0).m_nLabelCount, 0);

    // Esc, the close button and a revert all end the request.
    const std::function<void()> ways[] = {
        [&] { QTest::keyClick(&dialog, Qt::Key_Escape); },
        [&] { dialog.close(); },
        [&] {
            prompts.alertReplies.push_back(1); // Revert
            window->action("revertDocumentToSaved:")->trigger();
        },
    };
    for (std::size_t i = 0; i < std::size(ways); ++i) {
        QTest::mouseClick(pane, Qt::LeftButton, {}, QPoint(500 + 20 * int(i), 20));
        ASSERT_TRUE(dialog.isOpenFor(window)) << i;
        ways[i]();
        EXPECT_FALSE(dialog.isVisible()) << i;
        EXPECT_FALSE(dialog.isOpenFor(window)) << i;
    }
    EXPECT_EQ(window->document().getChannel(1).m_nLabelCount, 0); // reverted: the label is gone
}

TEST_F(AppWindowTest, LabelsAreDeletedWithTheDialogsButtonOrTheDeleteKey)
{
    MainWindowController* window = open(1);
    ASSERT_NE(window, nullptr);
    MainViewPane* pane = window->mainView();
    const Channels& channel = window->document().getChannel(0);
    window->action("_LabelMode:")->trigger();
    LabelDialog& dialog = application->labelDialog();
    const auto addLabel = [&](const QString& text) {
        QTest::mouseClick(pane, Qt::LeftButton, {}, QPoint(300, 40));
        EXPECT_FALSE(dialog.deleteButton()->isVisible()); // nothing to delete yet
        dialog.textField()->setText(text);
        dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    };
    // Clicks the first label; true when its dialog opened.
    const auto clickLabel = [&] {
        const Rect& at = channel.GetLabel(0)->rectLocation;
        QTest::mouseClick(pane, Qt::LeftButton, {}, QPoint(at.left + 2, at.top + 2));
        return dialog.isOpenFor(window);
    };

    addLabel(""); // OK without text adds nothing
    EXPECT_EQ(channel.m_nLabelCount, 0);
    EXPECT_FALSE(dialog.isVisible());

    addLabel("a");
    window->document().clearChangeCount();
    ASSERT_TRUE(clickLabel());
    ASSERT_TRUE(dialog.deleteButton()->isVisible());
    EXPECT_EQ(dialog.deleteButton()->text(), "Delete");
    dialog.deleteButton()->click();
    EXPECT_EQ(channel.m_nLabelCount, 0);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_GT(window->document().changeCount(), 0);

    // The Delete key deletes the label last clicked (its dialog cancelled),
    // and nothing without one or outside label mode.
    addLabel("b");
    ASSERT_TRUE(clickLabel());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QTest::keyClick(pane, Qt::Key_Delete);
    EXPECT_EQ(channel.m_nLabelCount, 0);
    addLabel("c");
    QTest::keyClick(pane, Qt::Key_Delete);
    ASSERT_TRUE(clickLabel());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    window->action("_LabelMode:")->trigger();
    QTest::keyClick(pane, Qt::Key_Delete);
    EXPECT_EQ(channel.m_nLabelCount, 1);

    // An edit can renumber the labels (a paste brings its own): the one
    // clicked before it is forgotten.
    QTest::mousePress(pane, Qt::LeftButton, {}, QPoint(100, 40));
    QTest::mouseMove(pane, QPoint(200, 40));
    QTest::mouseRelease(pane, Qt::LeftButton, {}, QPoint(200, 40));
    window->refreshCommands();
    window->action("_EditCopy:")->trigger();
    window->action("_LabelMode:")->trigger();
    ASSERT_TRUE(clickLabel());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    window->refreshCommands();
    ASSERT_TRUE(window->action("_EditPaste:")->isEnabled());
    window->action("_EditPaste:")->trigger();
    QTest::keyClick(pane, Qt::Key_Delete);
    EXPECT_EQ(channel.m_nLabelCount, 1);
}

TEST_F(AppWindowTest, OpeningFromAnUntouchedUntitledWindowReplacesIt)
{
    const QString first = QString::fromStdString(writeRecording(1, "first.wav").string());
    const QString second = QString::fromStdString(writeRecording(2, "second.wav").string());
    const auto names = [&] {
        QStringList shown;
        for (MainWindowController* w : application->documentWindows()) {
            shown << w->displayName();
        }
        return shown;
    };

    // File > Open from the Untitled window.
    MainWindowController* untitled = application->newDocument();
    untitled->resize(640, 480);
    prompts.openPanelReplies.push_back({first.toStdString(), second.toStdString()});
    untitled->action("openDocument:")->trigger();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(names(), (QStringList{"first.wav", "second.wav"}));
    EXPECT_EQ(application->documentWindows().front()->size(), QSize(640, 480));

    // Open Recent from an Untitled window.
    for (MainWindowController* w : application->documentWindows()) {
        w->close();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    untitled = application->newDocument();
    QMenu* recent = untitled->findChild<QMenu*>("Open Recent");
    ASSERT_NE(recent, nullptr);
    emit recent->aboutToShow();
    ASSERT_FALSE(recent->actions().isEmpty());
    recent->actions().front()->trigger(); // second.wav, the latest
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(names(), QStringList{"second.wav"});

    // An Untitled window that holds something stays beside the opened one.
    MainWindowController* used = application->newDocument();
    used->document().setDirty();
    prompts.openPanelReplies.push_back({first.toStdString()});
    used->action("openDocument:")->trigger();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(names(), (QStringList{"second.wav", "Untitled", "first.wav"}));
}

// A WAV file cut short of what its header declares opens with what it
// holds, and says so.
TEST_F(AppWindowTest, ACutOffFileOpensWithWhatItHoldsAndSaysSo)
{
    const fs::path path = writeRecording(1, "cut.wav"); // 1 s of floats at 11025 Hz
    fs::resize_file(path, fs::file_size(path) - 11025 * 2);
    MainWindowController* window = application->openPath(QString::fromStdString(path.string()));
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->document().getChannel(0).samples().size(), 5512u);
    ASSERT_FALSE(prompts.alerts.empty());
    EXPECT_EQ(prompts.alerts.back().title,
              "The document “cut.wav” is shorter than its header says.");
    EXPECT_EQ(prompts.alerts.back().message,
              "The file holds 0.5 s of the 1.0 s its header declares. It was opened with what it "
              "holds.");
}

TEST_F(AppWindowTest, StartupAlwaysLeavesADocumentWindowWithMenus)
{
    const QString file = QString::fromStdString(writeRecording(1).string());
    struct Case {
        QStringList files;
        QString expectedName;
    };
    for (const Case& c : {Case{{}, "Untitled"}, Case{{file}, "voice.wav"},
                          Case{{QString::fromStdString((folder / "missing.wav").string())}, "Untitled"}}) {
        Application launched(settings, globals, &prompts);
        launched.finishLaunching(c.files);
        const auto windows = launched.documentWindows();
        ASSERT_EQ(windows.size(), 1u) << c.expectedName.toStdString();
        EXPECT_EQ(windows[0]->displayName(), c.expectedName);
        EXPECT_TRUE(windows[0]->isVisible());
        QMenuBar* bar = launched.statusWindow()->findChild<QMenuBar*>();
        ASSERT_NE(bar, nullptr);
        EXPECT_EQ(bar->actions().size(), 4); // File, Log, Window, Help
        EXPECT_NE(bar->findChild<QAction*>("openDocument:"), nullptr);
        EXPECT_NE(bar->findChild<QAction*>("_LogOpen:"), nullptr);
    }
}

// The recovery question tells a recording's start from its info text; a
// time no clock gives (the info is a file anyone may have damaged) is told
// as unknown, never printed blank.
TEST_F(AppWindowTest, RecoveryQuestionTellsAnImpossibleStartAsUnknown)
{
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ASSERT_GT(gone, 0);
    ::waitpid(gone, nullptr, 0);
    const fs::path raw = folder / "tmp" /
                         (std::string(RawRecordingFile::kNamePrefix) + std::to_string(gone) + "-ab");
    std::ofstream(raw, std::ios::binary) << std::string(64, '\0');
    const struct {
        std::int64_t started;
        const char* told;
    } cases[] = {
        {std::numeric_limits<std::int64_t>::min(), "started at an unknown time, was not saved"},
        {std::numeric_limits<std::int64_t>::max(), "started at an unknown time, was not saved"},
        {-1, "started at an unknown time, was not saved"},
        {1'700'000'123, "started 2023-11-1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.started);
        RecordingInfo info;
        info.systemChannels = 2;
        info.startedUnixSeconds = c.started;
        std::ofstream(raw.string() + ".info") << RawRecordingFile::infoText(info);
        prompts.alerts.clear();
        prompts.alertReplies = {-1}; // Later
        Application launched(settings, globals, &prompts);
        launched.finishLaunching({});
        ASSERT_TRUE(test::waitFor([&] { return !prompts.alerts.empty(); }));
        EXPECT_EQ(prompts.alerts[0].title, "Open the recording that was not saved?");
        EXPECT_NE(prompts.alerts[0].message.find(c.told), std::string::npos)
            << prompts.alerts[0].message;
    }
}

TEST_F(AppWindowTest, StatusWindowAndCommandsFollowEditsInAnyWindow)
{
    application->finishLaunching({});
    MainWindowController* fresh = application->documentWindows().front();
    MainWindowController* window = open(2);
    ASSERT_NE(window, nullptr);
    QAction* paste = fresh->action("_EditPaste:");

    // Copy in one window enables Paste (and so its shortcut) in the other;
    // becoming the active window re-evaluates a stale state too.
    paste->setEnabled(false);
    window->action("_EditSelectAll:")->trigger();
    window->action("_EditCopy:")->trigger();
    EXPECT_TRUE(paste->isEnabled());
    paste->setEnabled(false);
    QApplication::setActiveWindow(fresh);
    EXPECT_TRUE(paste->isEnabled());

    QTableWidget* status = application->statusWindow()->table();
    fresh->action("_EditPaste:")->trigger();
    EXPECT_EQ(status->rowCount(), 2);
    // Untitled: nothing to revert to, however much data it holds.
    EXPECT_FALSE(fresh->action("revertDocumentToSaved:")->isEnabled());

    QTest::mouseClick(window->mainView(), Qt::LeftButton, {}, QPoint(300, 30));
    window->action("_ChannelsSetReferenceAll:")->trigger();
    EXPECT_EQ(status->item(0, 5)->text(),
              StatusWindowController::wholeNumber(window->document().getChannel(0).m_dReference));
}

TEST_F(AppWindowTest, LabelTableFollowsDragsAndSaveAs)
{
    MainWindowController* window = open(1);
    ASSERT_NE(window, nullptr);
    window->action("_LabelMode:")->trigger();
    QTest::mouseClick(window->mainView(), Qt::LeftButton, {}, QPoint(300, 40));
    application->labelDialog().textField()->setText("a");
    application->labelDialog().findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    window->action("_LabelView:")->trigger();
    auto* table = window->findChild<QTableWidget*>("_labelTable");
    ASSERT_NE(table, nullptr);
    const QString before = table->item(0, 3)->text();

    const Labels* label = window->document().getChannel(0).GetLabel(0);
    const QPoint at(label->rectLocation.left + 2, label->rectLocation.top + 2);
    drag(window->mainView(), at, at + QPoint(100, 0));
    EXPECT_NE(table->item(0, 3)->text(), before);

    prompts.savePanelReplies.push_back((folder / "renamed.wav").string());
    prompts.alertReplies.push_back(-1); // Save as WAV, without the label
    window->action("saveDocumentAs:")->trigger();
    EXPECT_EQ(table->window()->windowTitle(), "Labels:: renamed.wav");
}

TEST_F(AppWindowTest, PictureAndPrintWriteTheView)
{
    MainWindowController* window = open(2);
    ASSERT_NE(window, nullptr);

    const fs::path tiff = folder / "view.tif";
    prompts.savePanelReplies.push_back(tiff.string());
    window->action("_FileSaveAsPICT:")->trigger();
    ASSERT_EQ(prompts.savePanels.size(), 1u);
    EXPECT_EQ(prompts.savePanels[0].offeredTypes,
              (std::vector<std::string>{"png", "pdf", "tif", "svg"}));
    EXPECT_EQ(prompts.savePanels[0].proposedName, "pict.tif");
    EXPECT_EQ(fs::path(prompts.savePanels[0].directory).filename(), "Documents");
    QImageReader reader(QString::fromStdString(tiff.string()));
    const QImage image = reader.read();
    ASSERT_FALSE(image.isNull()) << reader.errorString().toStdString();
    EXPECT_EQ(image.size(), window->mainView()->size());
    // The trace fills the first strip, below the caption line whose height
    // the fonts decide: some row of the picture's upper part crosses it.
    int dark = 0;
    for (int y = image.height() / 8; y < image.height() / 4; ++y) {
        int row = 0;
        for (int x = 60; x < image.width() - 10; ++x) {
            row += qGray(image.pixel(x, y)) < 128 ? 1 : 0;
        }
        dark = std::max(dark, row);
    }
    EXPECT_GT(dark, image.width() / 4);
    // The name's extension says the type written.
    for (const auto& [name, magic] : {std::pair<const char*, std::string>{"view.png", "\x89PNG"},
                                      {"view.pdf", "%PDF"},
                                      {"view.svg", "<?xm"}}) {
        prompts.savePanelReplies.push_back((folder / name).string());
        window->action("_FileSaveAsPICT:")->trigger();
        EXPECT_EQ(test::fileBytes(folder / name).substr(0, 4), magic) << name;
    }

    prompts.savePanelReplies.push_back((folder / "no-such-folder" / "x.tif").string());
    window->action("_FileSaveAsPICT:")->trigger();
    ASSERT_EQ(prompts.alerts.size(), 1u);
    EXPECT_EQ(prompts.alerts[0].title, "Error in save");

    const fs::path pdf = folder / "print.pdf";
    window->setPrintSetup([&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(pdf.string()));
        return true;
    });
    window->action("printDocument:")->trigger();
    std::ifstream in(pdf, std::ios::binary);
    std::string head(4, '\0');
    in.read(head.data(), 4);
    EXPECT_EQ(head, "%PDF");
    EXPECT_EQ(prompts.alerts.size(), 1u);
}

TEST_F(AppWindowTest, UndoThroughTheMenuRestoresANativeDocument)
{
    MainWindowController* wav = open(1);
    ASSERT_NE(wav, nullptr);
    const fs::path native = folder / "voice.pmf";
    prompts.savePanelReplies.push_back(native.string());
    wav->action("saveDocumentAs:")->trigger();
    ASSERT_TRUE(fs::exists(native));
    // Open the native file in a window of its own.
    MainWindowController* window = application->newDocument();
    std::string error;
    ASSERT_TRUE(window->readFile(QString::fromStdString(native.string()), error)) << error;
    const Channels& channel = window->document().getChannel(0);
    const auto length = static_cast<std::size_t>(channel.m_dwFileLength);
    const std::vector<float> before(channel.m_hData.data(), channel.m_hData.data() + length);

    window->resize(800, 500);
    window->show();
    window->mainView()->repaint();
    drag(window->mainView(), QPoint(200, 30), QPoint(400, 30));
    window->action("_EditCut:")->trigger();
    ASSERT_LT(channel.m_dwFileLength, double(length));
    ASSERT_TRUE(window->action("_EditPaste:")->isEnabled());
    window->action("_EditPaste:")->trigger();
    const Channels& restored = window->document().getChannel(0);
    ASSERT_EQ(restored.m_dwFileLength, double(length));
    EXPECT_TRUE(std::equal(before.begin(), before.end(), restored.m_hData.data()));
}

TEST_F(AppWindowTest, QuitAsksAboutUnsavedChanges)
{
    MainWindowController* window = open(1);
    ASSERT_NE(window, nullptr);
    QPointer<MainWindowController> guard(window);
    window->document().setDirty();

    prompts.alertReplies.push_back(0); // Cancel
    EXPECT_FALSE(application->terminate());
    ASSERT_EQ(prompts.alerts.size(), 1u);
    EXPECT_EQ(prompts.alerts[0].title, "Do you want to save the changes made to the document “voice.wav”?");
    EXPECT_TRUE(window->isVisible());

    prompts.alertReplies.push_back(-1); // Don't Save
    EXPECT_TRUE(application->terminate());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(guard.isNull());
}

TEST_F(AppWindowTest, QuitAsksAboutUnsavedLogRows)
{
    ASSERT_NE(open(1), nullptr);
    LogController& log = application->logController();
    log.LogNew();
    LogRecord record;
    record.name = "voice.wav";
    record.definition = "Marker Entry: time";
    record.append(12.5);
    log.add(record, true);
    ASSERT_TRUE(log.table().m_bDirty);

    prompts.alertReplies.push_back(-1); // Cancel: nothing closes
    EXPECT_FALSE(application->terminate());
    ASSERT_EQ(prompts.alerts.size(), 1u);
    EXPECT_EQ(prompts.alerts[0].title, "Save changes before closing?");
    EXPECT_TRUE(log.isVisible());
    EXPECT_EQ(log.table().rowCount(), 1u);

    prompts.alertReplies.push_back(0); // Don't Save
    EXPECT_TRUE(application->terminate());
}

} // namespace
} // namespace phonaxis
