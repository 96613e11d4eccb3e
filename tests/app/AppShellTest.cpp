// The desktop shell driven as a user would: menus by command name, panels
// answered by scripted replies, mouse actions on the main view.
// The signal generators come first: Qt's "signals" keyword is a macro.
#include "Signals.h"
#include "support/FileProbes.h"
#include "support/ScriptedPrompts.h"

namespace {

// The bytes of a float WAV of `channelCount` tones at 11025 Hz, 0.5 s long.
std::optional<phonaxis::Bytes> toneWavBytes(int channelCount)
{
    std::vector<std::vector<float>> channels;
    for (int c = 0; c < channelCount; ++c) {
        channels.push_back(phonaxis::signals::tone(200.0 * (c + 1), 11025.0, 500.0));
    }
    std::vector<std::span<const float>> spans(channels.begin(), channels.end());
    phonaxis::test::ScriptedPrompts prompts;
    return phonaxis::signals::waveFileBytes(11025.0, spans, prompts);
}

} // namespace

#include "app/Application.h"
#include "app/ChannelSelector.h"
#include "app/MainWindowController.h"
#include "app/QtPrompts.h"
#include "app/Startup.h"
#include "app/StatusWindowController.h"
#include "display/MainViewModel.h"
#include "display/MainViewPane.h"
#include "document/AppSettings.h"
#include "document/EditClipboard.h"
#include "document/MyDocument.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;

// A private folder per test, removed afterwards.
class TempFolder {
public:
    TempFolder()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_path = fs::temp_directory_path() / ("phonaxis-app-" + std::string(info->name()));
        fs::remove_all(m_path);
        fs::create_directories(m_path);
    }
    ~TempFolder() { fs::remove_all(m_path); }
    fs::path operator/(const std::string& name) const { return m_path / name; }
    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

// Writes a float WAV of `channelCount` tones at 11025 Hz, 0.5 s long.
void writeWav(const fs::path& path, int channelCount)
{
    const auto bytes = toneWavBytes(channelCount);
    ASSERT_TRUE(bytes.has_value());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes->data()), static_cast<std::streamsize>(bytes->size()));
}

// Shows every menu of the window as the user would open it, so that the
// enabling and titles are evaluated.
void openMenus(MainWindowController& window)
{
    for (QMenu* menu : window.menuBar()->findChildren<QMenu*>()) {
        emit menu->aboutToShow();
    }
}

class AppShellTest : public ::testing::Test {
protected:
    AppShellTest()
    {
        settings.m_strConfigFolder = (folder / "config").string();
        globals.gstrVersion = kApplicationVersion;
        globals.appPathTemp = (folder / "tmp").string();
        fs::create_directories(globals.appPathTemp);
        fs::permissions(globals.appPathTemp, fs::perms::owner_all, fs::perm_options::replace);
    }

    // Opens `channelCount` channels through File > Open… with the panel
    // answered by the path.
    MainWindowController* openThroughMenu(int channelCount)
    {
        const fs::path file = folder / "voice.wav";
        writeWav(file, channelCount);
        MainWindowController* empty = application.newDocument();
        prompts.openPanelReplies.push_back({file.string()});
        empty->action("openDocument:")->trigger();
        for (MainWindowController* window : application.documentWindows()) {
            if (window->filePath() == QString::fromStdString(fs::absolute(file).string())) {
                return window;
            }
        }
        return nullptr;
    }

    TempFolder folder;
    AppSettings settings;
    ApplicationGlobals globals;
    test::ScriptedPrompts prompts;
    Application application{settings, globals, &prompts};
};

TEST(StartupTest, RunsItsStepsInOrderAndUsesTheConfigurationFolder)
{
    TempFolder folder;
    AppSettings settings;
    EditClipboard clipboard;
    StartupInputs inputs;
    inputs.executablePath = (folder / "bin" / "phonaxis").string();
    // A backup a crashed run left (no process has the largest id).
    const fs::path temporary = folder / "tmp" / "Phonaxis";
    fs::create_directories(temporary);
    fs::permissions(temporary, fs::perms::owner_all, fs::perm_options::replace);
    const fs::path backup = temporary / "voice.wav.2147483647.0123456789abcdef__##tmp";
    std::ofstream(backup) << "samples";
    inputs.temporaryFolder = temporary.string();
    inputs.configFolder = (folder / "config").string();
    inputs.settings = &settings;
    inputs.clipboard = &clipboard;
    bool configurationReadBeforeHardware = false;
    inputs.findHardware = [&] {
        configurationReadBeforeHardware = fs::exists(folder / "config" / AppSettings::kConfigFileName);
    };

    const StartupReport report = runStartup(inputs);

    const std::vector<std::string> order = {"paths", "clipboard", "defaults", "configuration",
                                            "hardware"};
    EXPECT_EQ(report.steps, order);
    EXPECT_TRUE(configurationReadBeforeHardware);
    EXPECT_TRUE(report.configurationWritten) << report.configurationError;
    EXPECT_EQ(report.globals.gstrVersion, "1904");
    EXPECT_EQ(report.globals.gAppPath, (folder / "bin").string());
    EXPECT_TRUE(report.temporaryFolderReady);
    EXPECT_EQ(report.globals.appPathTemp, temporary.string());
    EXPECT_EQ(report.staleBackupsRemoved, 1);
    EXPECT_FALSE(fs::exists(backup));

    // A folder other users can write to is neither used nor cleaned.
    fs::permissions(temporary, fs::perms::all, fs::perm_options::replace);
    std::ofstream(backup) << "samples";
    EXPECT_FALSE(runStartup(inputs).temporaryFolderReady);
    EXPECT_TRUE(fs::exists(backup));
    EXPECT_EQ(settings.g_strInputSource, "Mic");
    EXPECT_EQ(settings.g_strPlaySource, "Computer");
    EXPECT_EQ(settings.g_ChannelInfo[0].nSampleRate, 22050);
    EXPECT_EQ(settings.m_strConfigFolder, inputs.configFolder);
}

TEST(StartupTest, ConfigurationFolderPrefersTheEnvironment)
{
    const char* saved = std::getenv("PHONAXIS_CONFIG_DIR");
    const std::string restore = saved ? saved : "";
    ::setenv("PHONAXIS_CONFIG_DIR", "/from/environment", 1);
    EXPECT_EQ(configurationFolder("/standard"), "/from/environment");
    ::setenv("PHONAXIS_CONFIG_DIR", "", 1);
    EXPECT_EQ(configurationFolder("/standard"), "/standard");
    if (saved) {
        ::setenv("PHONAXIS_CONFIG_DIR", restore.c_str(), 1);
    } else {
        ::unsetenv("PHONAXIS_CONFIG_DIR");
    }
}

// --help and --version answer wherever they stand among the arguments; any
// other argument starts the application.
TEST(StartupTest, InformationOptionsAnswerAndOthersStartTheApplication)
{
    struct Case {
        std::vector<std::string> arguments;
        const char* startsWith; // nullptr: the application starts
    };
    const Case cases[] = {
        {{"--version"}, "phonaxis "},
        {{"-v"}, "phonaxis "},
        {{"take.wav", "--help"}, "usage: phonaxis [FILE ...]"},
        {{"-h"}, "usage: phonaxis [FILE ...]"},
        {{}, nullptr},
        {{"take.wav", "--simulate-box=9"}, nullptr},
        {{"--versions.wav"}, nullptr},
    };
    for (const Case& c : cases) {
        const auto answer = informationOption(c.arguments);
        ASSERT_EQ(answer.has_value(), c.startsWith != nullptr);
        if (answer) {
            EXPECT_EQ(answer->status, 0);
            EXPECT_EQ(answer->text.rfind(c.startsWith, 0), 0u) << answer->text;
        }
    }
    // The help names every option and environment variable the application reads.
    const std::string help = applicationHelpText();
    for (const char* named : {"--simulate-box", "--firmware", "PHONAXIS_SIMULATE_BOX",
                              "PHONAXIS_FIRMWARE", "PHONAXIS_CONFIG_DIR", "PHONAXIS_FFT_LANES"}) {
        EXPECT_NE(help.find(named), std::string::npos) << named;
    }
    EXPECT_NE(applicationVersionText().find(kApplicationVersion), std::string::npos);

    // The manual page phonaxis(1) tells them all too (a hyphen is \- there).
    std::ifstream file(std::string(QT_TESTCASE_SOURCEDIR) + "/../data/man/phonaxis.1");
    const std::string page((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(page.empty());
    for (const char* named : {"\\-\\-simulate\\-box", "\\-\\-firmware", "\\-\\-help", "\\-\\-version",
                              "PHONAXIS_SIMULATE_BOX", "PHONAXIS_FIRMWARE", "PHONAXIS_CONFIG_DIR",
                              "PHONAXIS_FFT_LANES", "PhonaxisConf.cfg", ".cache/Phonaxis/tmp"}) {
        EXPECT_NE(page.find(named), std::string::npos) << named;
    }
}

TEST_F(AppShellTest, LaunchShowsTheStatusWindowAndTheMenuTitleFollowsIt)
{
    application.finishLaunching({});
    ASSERT_NE(application.statusWindow(), nullptr);
    EXPECT_TRUE(application.statusWindow()->isVisible());

    MainWindowController* window = application.newDocument();
    QAction* toggle = window->action("_HideShowStatus:");
    openMenus(*window);
    EXPECT_EQ(toggle->text(), "Hide Status");
    toggle->trigger();
    EXPECT_FALSE(application.statusWindow()->isVisible());
    openMenus(*window);
    EXPECT_EQ(toggle->text(), "Show Status");
    toggle->trigger();
    EXPECT_TRUE(application.statusWindow()->isVisible());
}

TEST_F(AppShellTest, FileOpenReadsByContentAndTheStatusWindowShowsTheChannels)
{
    application.finishLaunching({});
    MainWindowController* window = openThroughMenu(2);
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(prompts.openPanels.size(), 1u);
    EXPECT_TRUE(prompts.openPanels[0].types.empty()); // any extension: the content decides
    EXPECT_TRUE(window->document().m_bHaveData);
    EXPECT_EQ(window->document().m_nNumofChannels, 2);
    EXPECT_EQ(window->displayName(), "voice.wav");
    EXPECT_EQ(application.recentFiles().front(), window->filePath());

    application.documentActivated(window);
    QTableWidget* table = application.statusWindow()->table();
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_EQ(table->item(1, 0)->text(), "1");
    EXPECT_EQ(table->item(0, 2)->text(), "11025");
    EXPECT_EQ(table->item(0, 6)->text(), "0.000");
    EXPECT_EQ(application.statusWindow()->windowTitle(), "voice.wav");
    // Readouts: the sign against the digits, no negative zero.
    const struct {
        double timeMs, value;
        const char* timeText;
        const char* valueText;
    } readouts[] = {{12.345, -0.25, "12.35", "-0.250"}, {-0.001, -0.0004, "0.00", "0.000"}};
    for (const auto& r : readouts) {
        application.statusWindow()->showStatus(r.timeMs, std::nullopt, {{0, r.value}});
        EXPECT_EQ(table->item(0, 6)->text(), r.valueText);
        EXPECT_EQ(application.statusWindow()->findChild<QLabel*>("_cursorTime")->text(),
                  r.timeText);
    }

    // Opening the same file again brings its window forward.
    EXPECT_EQ(application.openPath(window->filePath()), window);
}

TEST_F(AppShellTest, UnreadableFileIsToldAndOpensNoWindow)
{
    const fs::path junk = folder / "junk.wav";
    std::ofstream(junk) << "not a recording";
    const auto before = application.documentWindows().size();
    EXPECT_EQ(application.openPath(QString::fromStdString(junk.string())), nullptr);
    EXPECT_EQ(application.documentWindows().size(), before);
    ASSERT_EQ(prompts.alerts.size(), 1u);
    EXPECT_NE(prompts.alerts[0].title.find("junk.wav"), std::string::npos);
}

TEST_F(AppShellTest, LargeFileOfZerosIsDeclinedAfterItsFirstBytes)
{
    const fs::path zeros = folder / "zeros.wav";
    ASSERT_TRUE(test::makeSparseFile(zeros, off_t{4} << 30));
    EXPECT_TRUE(test::readsLittle([&] {
        EXPECT_EQ(application.openPath(QString::fromStdString(zeros.string())), nullptr);
    }));
    ASSERT_EQ(prompts.alerts.size(), 1u);
    EXPECT_NE(prompts.alerts[0].title.find("zeros.wav"), std::string::npos);
    EXPECT_EQ(prompts.alerts[0].message, "The file is not a recording this application can read.");
    fs::remove(zeros);
}

TEST_F(AppShellTest, SaveAsAiffIsRefusedAndSaveAsWavWrites)
{
    MainWindowController* window = openThroughMenu(1);
    ASSERT_NE(window, nullptr);
    const QString original = window->filePath();

    const fs::path aiff = folder / "copy.aiff";
    prompts.savePanelReplies.push_back(aiff.string());
    window->action("saveDocumentAs:")->trigger();
    ASSERT_EQ(prompts.alerts.size(), 1u);
    EXPECT_EQ(prompts.alerts[0].title, "Saving Failed.");
    EXPECT_EQ(prompts.alerts[0].message, "AIFF/AIF file types savings are not implemented.");
    EXPECT_FALSE(fs::exists(aiff));
    EXPECT_EQ(window->filePath(), original);

    const fs::path wav = folder / "copy.wav";
    prompts.savePanelReplies.push_back(wav.string());
    window->document().setDirty();
    window->action("saveDocumentAs:")->trigger();
    EXPECT_TRUE(fs::exists(wav));
    EXPECT_EQ(window->displayName(), "copy.wav");
    EXPECT_EQ(window->document().changeCount(), 0);
    EXPECT_EQ(prompts.alerts.size(), 1u);
}

TEST_F(AppShellTest, CloseAsksAboutUnsavedChanges)
{
    MainWindowController* window = openThroughMenu(1);
    ASSERT_NE(window, nullptr);
    QPointer<MainWindowController> guard(window);
    window->document().setDirty();

    prompts.alertReplies.push_back(0); // Cancel
    EXPECT_FALSE(window->close());
    ASSERT_EQ(prompts.alerts.size(), 1u);
    EXPECT_EQ(prompts.alerts[0].title,
              "Do you want to save the changes made to the document “voice.wav”?");
    EXPECT_EQ(prompts.alerts[0].defaultButton, "Save");
    EXPECT_TRUE(window->isVisible());

    prompts.alertReplies.push_back(-1); // Don't Save
    EXPECT_TRUE(window->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(guard.isNull());
}

TEST_F(AppShellTest, ClickAndDragInTheViewMoveEveryChannel)
{
    application.finishLaunching({});
    MainWindowController* window = openThroughMenu(3);
    ASSERT_NE(window, nullptr);
    window->resize(800, 500);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    MainViewPane* pane = window->mainView();
    pane->repaint();
    MyDocument& document = window->document();

    // A click sets the marker at the same time on every channel.
    QTest::mouseClick(pane, Qt::LeftButton, {}, QPoint(250, 40));
    ASSERT_TRUE(document.m_bHaveMarker);
    const double markerMs = document.getChannel(0).m_dMarkerTime;
    EXPECT_GT(markerMs, 0.0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_DOUBLE_EQ(document.getChannel(i).m_dMarkerTime, markerMs) << "channel " << i;
    }

    // A drag selects the same stretch on every channel and reports it.
    QTest::mousePress(pane, Qt::LeftButton, {}, QPoint(150, 40));
    QMouseEvent move(QEvent::MouseMove, QPointF(400, 40), pane->mapToGlobal(QPointF(400, 40)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(pane, &move);
    QTest::mouseRelease(pane, Qt::LeftButton, {}, QPoint(400, 40));
    EXPECT_TRUE(document.m_bHaveSelection);
    const Channels& first = document.getChannel(0);
    EXPECT_LT(first.m_dDurationStartTime, first.m_dDurationStopTime);
    for (int i = 1; i < 3; ++i) {
        EXPECT_DOUBLE_EQ(document.getChannel(i).m_dDurationStartTime, first.m_dDurationStartTime);
        EXPECT_DOUBLE_EQ(document.getChannel(i).m_dDurationStopTime, first.m_dDurationStopTime);
    }
    EXPECT_FALSE(application.statusWindow()->durationField()->text().isEmpty());
    openMenus(*window);
    EXPECT_TRUE(window->action("_EditCut:")->isEnabled());
    EXPECT_TRUE(window->action("_ZoomSelection:")->isEnabled());
}

TEST(ChannelSelectorTest, EntriesAndAnswers)
{
    EXPECT_EQ(ChannelSelector::numberedEntries(4),
              (std::vector<std::string>{"Channel 1 ", "Channel 2 ", "Channel 3 "}));
    EXPECT_TRUE(ChannelSelector::numberedEntries(1).empty());

    struct Case {
        int chooseIndex;
        bool accept;
        int expectedChannel; // chooseChannel: 0-based or -1
    };
    for (const Case& c : {Case{2, true, 2}, Case{0, true, 0}, Case{1, false, -1}}) {
        std::string note;
        QtPrompts prompts(nullptr, [&](QDialog& dialog) {
            auto& selector = static_cast<ChannelSelector&>(dialog);
            note = selector.note()->text().toStdString();
            selector.choose(c.chooseIndex);
            return c.accept ? int(QDialog::Accepted) : int(QDialog::Rejected);
        });
        EXPECT_EQ(prompts.chooseChannel("Select a channel", {"a", "b", "c"}), c.expectedChannel);
        EXPECT_EQ(note, "Select a channel");
    }
    QtPrompts empty(nullptr, [](QDialog&) { return int(QDialog::Accepted); });
    EXPECT_EQ(empty.selectItem("Select a channel", {}), -1);
}

TEST(StatusWindowTest, WholeNumbersDropTheFraction)
{
    const std::pair<double, const char*> cases[] = {
        {22050.9, "22050"}, {-0.5, "0"}, {-3.7, "-3"}, {1e300, nullptr}, {NAN, nullptr}};
    for (const auto& [value, expected] : cases) {
        const QString text = StatusWindowController::wholeNumber(value);
        if (expected != nullptr) {
            EXPECT_EQ(text, expected) << value;
        } else {
            EXPECT_FALSE(text.isEmpty());
        }
    }
}

} // namespace
} // namespace phonaxis
