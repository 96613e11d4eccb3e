// The command tables whole: every command of the application, the document
// window and its main view is in the document window's menus, enabled by its
// rule and titled as the state says, in windows with and without data,
// marker, selection, EGG channel, shown log, a new or opened document and an
// acquisition box; the application's own commands are in the status window
// and in every analysis, log and formant plot window, and work there.

#include "support/VowelRecording.h" // before Qt: its "signals" keyword is a macro

#include "app/AboutWindow.h"
#include "app/LogController.h"
#include "app/PlotFormantWindows.h"
#include "app/StatusWindowController.h"
#include "display/MainViewModel.h"
#include "display/MenuCommands.h"
#include "document/EditClipboard.h"
#include "document/MyDocument.h"
#include "log/ui/LogWindow.h"
#include "log/ui/PlotFormantController.h"
#include "support/AnalysisWindowTesting.h"
#include "support/AppFixture.h"
#include "support/BoxLaunching.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

namespace phonaxis {
namespace {

// What holds in a document window; a command's rule names what it needs.
enum : unsigned {
    kData = 1u << 0,          // the document holds data
    kMarker = 1u << 1,        // the document's marker
    kSelection = 1u << 2,     // the document's selection
    kViewMarker = 1u << 3,    // the view's marker
    kViewSelection = 1u << 4, // the view's selection
    kEgg = 1u << 5,           // an EGG channel assigned
    kLogShown = 1u << 6,      // the log window is visible
    kLogHidden = 1u << 7,     // the log window is not visible
    kNewFile = 1u << 8,       // the document is new (not read from a file)
    kUndo = 1u << 9,          // the view can undo an edit
    kCopied = 1u << 10,       // the edit clipboard holds channels
    kClicked = 1u << 11,      // a channel has been clicked
    kLabels = 1u << 12,       // a channel has a label (no state here has one)
};

struct CommandRow {
    const char* command;
    unsigned needs; // 0: always
};

// clang-format off
constexpr CommandRow kApplicationRows[] = {
    {"_HideShowStatus:", 0}, {"_LogNew:", kLogHidden}, {"_LogOpen:", kLogHidden},
    {"_PlotFormantOpen:", 0}, {"_aboutApp:", 0},
};

constexpr CommandRow kDocumentRows[] = {
    // the document's
    {"saveDocument:", kData}, {"saveDocumentAs:", kData},
    {"_fileSaveSelectionAs:", kData | kSelection},
    {"_fileExportChannelSelectionAs:", kData | kSelection},
    // the main window's
    {"_fileSaveConfiguration:", 0}, {"_fileImportLabels:", kData},
    {"_fileExportLabels:", kData | kLabels},
    {"_AnalysisFFT:", kData | kMarker}, {"_AnalysisFFTSelection:", kData | kSelection},
    {"_AnalysisSpectrogram:", kData}, {"_AnalysisSpectrogramSelection:", kData | kSelection},
    {"_AnalysisPitch:", kData}, {"_AnalysisVoiceReport:", kData | kSelection},
    {"_LabelView:", kData}, {"_OptionsDisplay:", kData},
    {"_OptionsRecordPlay:", 0}, {"_OptionsZoom:", kData}, {"_OptionsFFTLPC:", kData},
    {"_OptionsSpectrogram:", kData}, {"_OptionsPitch:", kData},
    {"_OptionsIntensitySmooth:", kData}, {"_OptionsLog:", kData}, {"_OptionsCalibration:", 0},
    {"_OptionsEGG:", kData | kEgg},
    // the main view's
    {"_FileSaveAsPICT:", kData}, {"printDocument:", kData}, {"_EditUndo:", kData | kUndo},
    {"_EditCut:", kData | kViewSelection}, {"_EditCopy:", kData | kViewSelection},
    {"_EditClear:", kData | kViewSelection}, {"_EditPaste:", kCopied},
    {"_EditSelectWindow:", kData}, {"_EditSelectAll:", kData}, {"_ZoomUndo:", kData},
    {"_ZoomIn:", kData}, {"_ZoomOut:", kData}, {"_ZoomHome:", kData},
    {"_ZoomSelection:", kData | kViewSelection}, {"_ZoomCursor:", kData | kViewMarker},
    {"_ChannelsSetReferenceAll:", kData | kViewMarker}, {"_ChannelsSetfor:", kData | kClicked},
    {"_ChannelsSetReferenceAllZero:", kData}, {"_LabelMode:", kData},
    {"_ScopeMode:", kNewFile}, {"_Record:", kNewFile}, {"_Play:", kData}, {"_PlayWindow:", kData},
    {"_PlaySelection:", kData | kViewSelection}, {"_LogMarker:", kLogShown | kData | kMarker},
    {"_LogDuration:", kLogShown | kData | kSelection},
    {"_LogDataSelection:", kLogShown | kData | kSelection},
    {"_LogEntereggatmarker:", kLogShown | kData | kMarker | kEgg},
    {"_LogEntereggselection:", kLogShown | kData | kSelection | kEgg},
    {"_LogEntereggall:", kLogShown | kData | kEgg}, {"_AnalysisIntensity:", kData},
    {"_AnalysisSmooth:", kData}, {"_EGGChannelSelect:", kData}, {"_EggAnalysisall:", kData | kEgg},
};
// clang-format on

// The menu of `window`'s menu bar(s) that shows `item`, or null.
QMenu* menuShowing(const QWidget& window, QAction* item)
{
    for (QMenuBar* bar : window.findChildren<QMenuBar*>())
        for (QMenu* menu : bar->findChildren<QMenu*>())
            if (menu->actions().contains(item))
                return menu;
    return nullptr;
}

// `command` in a menu of `window`, that menu just about to show; null when
// no menu shows it.
QAction* aboutToShow(QWidget& window, const char* command)
{
    QAction* item = window.findChild<QAction*>(QString::fromLatin1(command));
    QMenu* menu = item != nullptr ? menuShowing(window, item) : nullptr;
    if (menu == nullptr)
        return nullptr;
    emit menu->aboutToShow();
    return item;
}

class MenuTablesTest : public test::AppFixture {
protected:
    MenuTablesTest() : AppFixture("phonaxis-menu-tables-") {}

    void TearDown() override { application->setBoxService(nullptr); }

    // Every row of both tables in `window`'s menus, enabled exactly when
    // `have` holds what it needs.
    void expectRules(MainWindowController& window, unsigned have, const char* state)
    {
        window.refreshCommands();
        const auto check = [&](const CommandRow& row) {
            QAction* item = window.action(QString::fromLatin1(row.command));
            ASSERT_NE(item, nullptr) << row.command;
            EXPECT_NE(menuShowing(window, item), nullptr) << row.command << " is in no menu";
            EXPECT_EQ(item->isEnabled(), (have & row.needs) == row.needs)
                << state << ": " << row.command;
        };
        for (const CommandRow& row : kApplicationRows)
            check(row);
        for (const CommandRow& row : kDocumentRows)
            check(row);
    }

    QString title(MainWindowController& window, const char* command)
    {
        window.refreshCommands();
        QAction* item = window.action(QString::fromLatin1(command));
        return item ? item->text() : QStringLiteral("(missing)");
    }
};

TEST_F(MenuTablesTest, DocumentWindowMenusFollowTheTables)
{
    const unsigned copied = EditClipboard::instance().hasContent() ? kCopied : 0u;
    MainWindowController* fresh = application->newDocument();
    const std::optional<Bytes> wav = test::vowelWav();
    ASSERT_TRUE(wav.has_value());
    MainWindowController* opened = openShown(*wav, "vowel.wav");
    ASSERT_NE(opened, nullptr);
    const QString channelTitle = QString::fromStdString(opened->document().getChannel(0).GetTitle());

    expectRules(*fresh, kNewFile | kLogHidden | copied, "new, no data");
    expectRules(*opened, kData | kLogHidden | copied, "opened, data");
    EXPECT_EQ(title(*opened, "_ChannelsSetfor:"), "Set Reference only for: none selected");
    EXPECT_EQ(title(*opened, "_EGGChannelSelect:"), "Assign channel for EGG: None");
    EXPECT_EQ(title(*opened, "_LabelMode:"), "Enable Label Mode");
    EXPECT_EQ(title(*opened, "_HideShowStatus:"), "Show Status");
    EXPECT_EQ(withoutMnemonic(title(*opened, "_ScopeMode:")), "Scope Mode");

    // A press in the channel: a marker, and the channel clicked.
    QTest::mouseClick(opened->mainView(), Qt::LeftButton, {}, QPoint(300, 40));
    unsigned have = kData | kMarker | kViewMarker | kClicked | copied;
    expectRules(*opened, have | kLogHidden, "marker");
    EXPECT_EQ(title(*opened, "_ChannelsSetfor:"), "Set Reference only for: " + channelTitle);

    application->logController().LogNew();
    expectRules(*opened, have | kLogShown, "marker, log shown");
    opened->document().m_nEGGChannelIndex = 0;
    expectRules(*opened, have | kLogShown | kEgg, "marker, log shown, EGG");
    EXPECT_EQ(title(*opened, "_EGGChannelSelect:"), "Assign channel for EGG: " + channelTitle);

    opened->action("_EditSelectAll:")->trigger();
    have = kData | kSelection | kViewSelection | kLogShown | kEgg | copied;
    expectRules(*opened, have, "selection, log shown, EGG");
    opened->action("_EditCopy:")->trigger();
    expectRules(*opened, have | kCopied, "selection copied");
    expectRules(*fresh, kNewFile | kLogShown | kCopied, "new, clipboard full");

    // A new document given data stays new: it may be recorded again.
    fresh->action("_EditPaste:")->trigger();
    expectRules(*fresh, kNewFile | kData | kLogShown | kCopied, "new with data");

    opened->action("_LabelMode:")->trigger();
    EXPECT_EQ(title(*opened, "_LabelMode:"), "Disable Label Mode");
    application->HideShowStatus();
    EXPECT_EQ(title(*opened, "_HideShowStatus:"), "Hide Status");

    // A box changes no rule.
    auto box = test::launchSimulatedBox(*application, prompts, folder, 5);
    expectRules(*fresh, kNewFile | kData | kLogShown | kCopied, "new with data, box");

    // Clearing can be undone; the selection stays, at the cleared place.
    opened->action("_EditClear:")->trigger();
    expectRules(*opened, have | kCopied | kUndo, "cleared, box");

    // While a recording runs the view shows it, not the document: the
    // commands that need no document stay, Record and Scope Mode do not
    // start a second stream, and no panel edits the document the recording
    // replaces.
    application->logController().window()->hide();
    fresh->viewModel().m_bRecording = true;
    fresh->refreshCommands();
    for (const char* command : {"_HideShowStatus:", "_LogNew:", "_LogOpen:", "_PlotFormantOpen:",
                                "_aboutApp:", "_OptionsRecordPlay:"})
        EXPECT_TRUE(fresh->action(QString::fromLatin1(command))->isEnabled()) << command;
    for (const char* command : {"_OptionsCalibration:", "_Record:", "_ScopeMode:"})
        EXPECT_FALSE(fresh->action(QString::fromLatin1(command))->isEnabled()) << command;
    fresh->viewModel().m_bRecording = false;
}

TEST_F(MenuTablesTest, EveryOtherWindowOffersTheApplicationCommands)
{
    const std::optional<Bytes> wav = test::vowelWav();
    ASSERT_TRUE(wav.has_value());
    MainWindowController* window = openShown(*wav, "vowel.wav");
    ASSERT_NE(window, nullptr);
    QTest::mouseClick(window->mainView(), Qt::LeftButton, {}, QPoint(300, 40));
    window->refreshCommands();
    window->action("_AnalysisFFT:")->trigger();
    window->action("_AnalysisPitch:")->trigger();
    window->action("_AnalysisSpectrogram:")->trigger();
    const QList<QWidget*> analysis = window->analysisWindows();
    ASSERT_EQ(analysis.size(), 3);
    application->HideShowStatus();
    application->logController().LogNew();
    application->logController().window()->hide();
    QWidget* others[] = {analysis[0], analysis[1], analysis[2], application->statusWindow(),
                         application->logController().window(),
                         application->plotFormantWindows().newWindow()};

    for (bool logShown : {false, true}) {
        application->logController().window()->setVisible(logShown);
        const unsigned have = logShown ? kLogShown : kLogHidden;
        for (QWidget* other : others) {
            const std::string name = other->metaObject()->className();
            for (const CommandRow& row : kApplicationRows) {
                QAction* item = aboutToShow(*other, row.command);
                ASSERT_NE(item, nullptr) << name << " " << row.command;
                EXPECT_EQ(item->isEnabled(), (have & row.needs) == row.needs)
                    << name << " " << row.command << " log shown " << logShown;
            }
            EXPECT_EQ(aboutToShow(*other, "_HideShowStatus:")->text(), "Hide Status") << name;
        }
    }

    // They act on the application from any of these windows, chosen from
    // their menu.
    aboutToShow(*analysis[0], "_aboutApp:")->trigger();
    ASSERT_NE(application->aboutWindow(), nullptr);
    EXPECT_TRUE(application->aboutWindow()->isVisible());
    aboutToShow(*analysis[1], "_HideShowStatus:")->trigger();
    EXPECT_FALSE(application->statusWindow()->isVisible());
    application->logController().window()->hide();
    aboutToShow(*analysis[2], "_LogNew:")->trigger();
    EXPECT_TRUE(application->logWindowVisible());
    const std::size_t panels = prompts.openPanels.size();
    aboutToShow(*application->logController().window(), "_PlotFormantOpen:")->trigger();
    EXPECT_EQ(prompts.openPanels.size(), panels + 1);
}

} // namespace
} // namespace phonaxis
