// The EGG and smoothing commands of the document window: the EGG channel
// chooser, the whole-channel analysis and its three log entries compared with
// the generated cycles, the EGG options panel, and smoothing after a save.
#include "Signals.h" // before Qt: its "signals" keyword is a macro
#include "support/EggRecording.h"
#include "support/ScriptedPrompts.h"

namespace {

using phonaxis::test::EggRecording;
using phonaxis::test::eggRecording;

// The generators' types under names the Qt headers leave alone.
using EggCycleTruth = phonaxis::signals::EggCycleTruth;
using EggShape = phonaxis::signals::EggShape;

std::optional<phonaxis::Bytes> toneWav(phonaxis::Prompts& prompts)
{
    const std::vector<float> a = phonaxis::signals::tone(300.0, 11025.0, 200.0);
    const std::span<const float> channels[] = {a};
    return phonaxis::signals::waveFileBytes(11025.0, channels, prompts);
}

} // namespace

#include "app/Application.h"
#include "app/LogController.h"
#include "app/MainWindowController.h"
#include "app/panels/CalibrationPanel.h"
#include "app/panels/EggPanel.h"
#include "app/panels/IntensitySmoothPanel.h"
#include "display/MainViewPane.h"
#include "document/Configuration.h"
#include "document/MyDocument.h"
#include "log/EggLogEntries.h"
#include "support/AppFixture.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const fs::path& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

class EggCommandsTest : public test::AppFixture {
protected:
    EggCommandsTest() : AppFixture("phonaxis-egg-cmd-"), recording(eggRecording(prompts)) {}

    // A shown window on the EGG recording ("egg.wav").
    MainWindowController* openEggRecording()
    {
        const fs::path path = folder / "egg.wav";
        writeBytes(path, *recording.wav);
        MainWindowController* window = application->openPath(QString::fromStdString(path.string()));
        if (window != nullptr) {
            window->resize(700, 400);
            window->show();
            window->mainView()->repaint();
        }
        return window;
    }

    // Assigns channel 1 through the chooser and analyses it from the menu.
    void assignAndAnalyse(MainWindowController& window)
    {
        prompts.channelReplies.push_back(2); // "None", audio, EGG
        window.action("_EGGChannelSelect:")->trigger();
        window.action("_EggAnalysisall:")->trigger();
    }

    // A log cell read back as the number it shows.
    double logged(std::size_t row, const char* identifier) const
    {
        return std::stod(application->logController().table().cell(row, identifier));
    }

    EggRecording recording;
};

// A sample at 10 kHz is 0.1 ms; the detector works on whole samples.
constexpr double kToleranceMs = 0.15;
constexpr double kMsPerSample = 0.1;

// The analysis leaves half its 8 ms DC window (40 samples) at each end of
// the channel. The search starts in the open phase of generated cycle 0, so
// the first threshold crossing is cycle 1's and the first valley is in cycle
// 1's open phase; cycles run valley to valley, so the first whole one holds
// cycle 2's contact. The search stops at sample 2960 where cycle 37 starts:
// the last valley is cycle 36's, the last detected cycle is 36, and the last
// logged one (a cycle needs its successor) is 35.
constexpr std::size_t kFirstLoggedCycle = 2;
constexpr std::size_t kCyclesNotLogged = 4; // 0, 1, 36 and 37

TEST_F(EggCommandsTest, ChooserOpensOnTheAssignedChannelAndCancelKeepsIt)
{
    MainWindowController* window = openEggRecording();
    ASSERT_NE(window, nullptr);
    MyDocument& document = window->document();
    ASSERT_EQ(document.m_nEGGChannelIndex, -1);
    const std::string none = "Assign channel for EGG: None";
    const std::vector<std::string> items{"None", document.getChannel(0).GetTitle(),
                                         document.getChannel(1).GetTitle()};
    const struct {
        int reply; // the position chosen; -1 is Cancel
        int preselected;
        int assigned;
        std::string title;
    } steps[] = {
        {-1, 0, -1, none},
        {2, 0, 1, "Assign channel for EGG: " + items[2]},
        {-1, 2, 1, "Assign channel for EGG: " + items[2]},
        {1, 2, 0, "Assign channel for EGG: " + items[1]},
        {0, 1, -1, none},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.reply);
        prompts.channelChoices.clear();
        prompts.channelReplies.push_back(step.reply);
        window->action("_EGGChannelSelect:")->trigger();
        ASSERT_EQ(prompts.channelChoices.size(), 1u);
        EXPECT_EQ(prompts.channelChoices[0].items, items);
        EXPECT_EQ(prompts.channelChoices[0].preselected, step.preselected);
        EXPECT_EQ(document.m_nEGGChannelIndex, step.assigned);
        window->refreshCommands();
        EXPECT_EQ(window->action("_EGGChannelSelect:")->text().toStdString(), step.title);
        EXPECT_EQ(window->isCommandEnabled("_EggAnalysisall:"), step.assigned >= 0);
    }
}

TEST_F(EggCommandsTest, AnalysedCyclesAreLoggedAsTheGeneratedOnes)
{
    MainWindowController* window = openEggRecording();
    ASSERT_NE(window, nullptr);
    assignAndAnalyse(*window);
    ASSERT_TRUE(window->document().getChannel(1).m_bHaveCycle);
    EXPECT_FALSE(window->isCommandEnabled("_LogEntereggall:")); // no log window yet
    window->action("_LogNew:")->trigger();
    ASSERT_TRUE(window->isCommandEnabled("_LogEntereggall:"));
    window->action("_LogEntereggall:")->trigger();

    const LogTable& log = application->logController().table();
    const auto& truth = recording.egg.cycles;
    ASSERT_EQ(log.rowCount() + kCyclesNotLogged, truth.size());

    // The velocity track averages sample differences forward over 0.5 ms. It
    // peaks where its window starts at the closure instant (the rise is
    // steepest there), reaches its minimum where the window ends at the end
    // of the fall, and the peak is the rise over those 0.5 ms.
    const EggShape shape;
    const double windowMs = window->document().getChannel(1).m_dVelocitySmoothingWindow;
    for (std::size_t row = 0; row < log.rowCount(); ++row) {
        SCOPED_TRACE(row);
        const EggCycleTruth& known = truth[kFirstLoggedCycle + row];
        const EggCycleTruth& next = truth[kFirstLoggedCycle + row + 1];
        const double startMs = known.startIndex * kMsPerSample;
        const double periodMs = (next.startIndex - known.startIndex) * kMsPerSample;
        EXPECT_EQ(log.cell(row, "name"), "egg.wav");
        EXPECT_EQ(log.cell(row, "def"), kEggCycleDefinition);
        EXPECT_NEAR(logged(row, "entry1"), known.contactMs, kToleranceMs);
        EXPECT_NEAR(logged(row, "entry2"), known.decontactMs, kToleranceMs);
        EXPECT_NEAR(logged(row, "entry3"), next.contactMs, kToleranceMs);
        if (row + 1 < log.rowCount()) {
            EXPECT_EQ(log.cell(row, "entry3"), log.cell(row + 1, "entry1"));
            EXPECT_LT(logged(row, "entry1"), logged(row + 1, "entry1"));
        }
        ASSERT_TRUE(known.closedQuotient.has_value());
        EXPECT_NEAR(logged(row, "entry4"), *known.closedQuotient, 0.02);

        const double peakVelocityMs = startMs;
        const double minVelocityMs =
            startMs + (shape.risePart + shape.holdPart + shape.fallPart) * periodMs - windowMs;
        EXPECT_NEAR(logged(row, "entry9"), peakVelocityMs, kToleranceMs);
        EXPECT_NEAR(logged(row, "entry5"), (known.decontactMs - peakVelocityMs) / periodMs, 0.02);
        EXPECT_NEAR(logged(row, "entry6"), (minVelocityMs - peakVelocityMs) / periodMs, 0.02);
        // The open phase sits exactly at the level the velocity peak starts
        // from, so the signal never drops below it: not measurable, 0.
        EXPECT_EQ(logged(row, "entry7"), 0.0);
        const double swing = known.peakValue - known.baseValue;
        const double risenPerMs =
            swing * std::sin(0.5 * std::numbers::pi * windowMs / (shape.risePart * periodMs)) / windowMs;
        EXPECT_NEAR(logged(row, "entry8"), risenPerMs * 1000.0, 0.01);
    }
}

TEST_F(EggCommandsTest, CycleEntriesBeforeAnyAnalysisSaySoAndAddNothing)
{
    MainWindowController* window = openEggRecording();
    ASSERT_NE(window, nullptr);
    prompts.channelReplies.push_back(2); // "None", audio, EGG
    window->action("_EGGChannelSelect:")->trigger();
    window->action("_LogNew:")->trigger();
    window->action("_EditSelectAll:")->trigger();
    const LogTable& log = application->logController().table();
    for (const char* command : {"_LogEntereggall:", "_LogEntereggselection:"}) {
        SCOPED_TRACE(command);
        prompts.alerts.clear();
        ASSERT_TRUE(window->isCommandEnabled(command));
        window->action(command)->trigger();
        ASSERT_EQ(prompts.alerts.size(), 1u);
        EXPECT_EQ(prompts.alerts[0].title, "Run EGG Analysis first");
        EXPECT_EQ(prompts.alerts[0].defaultButton, "OK");
        EXPECT_EQ(log.rowCount(), 0u);
    }
}

TEST_F(EggCommandsTest, SelectionLogsOnlyTheCyclesInsideIt)
{
    MainWindowController* window = openEggRecording();
    ASSERT_NE(window, nullptr);
    assignAndAnalyse(*window);
    window->action("_LogNew:")->trigger();
    MainViewPane* pane = window->mainView();
    QTest::mousePress(pane, Qt::LeftButton, {}, QPoint(200, 30));
    QMouseEvent move(QEvent::MouseMove, QPointF(400, 30), pane->mapToGlobal(QPointF(400, 30)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(pane, &move);
    QTest::mouseRelease(pane, Qt::LeftButton, {}, QPoint(400, 30));
    const Channels& egg = window->document().getChannel(1);
    const double startMs = egg.m_dDurationStartTime;
    const double stopMs = egg.m_dDurationStopTime;
    ASSERT_GT(stopMs - startMs, 40.0);
    ASSERT_TRUE(window->isCommandEnabled("_LogEntereggselection:"));
    window->action("_LogEntereggselection:")->trigger();

    // A logged cycle is in when its P1 follows the selection start and its P2
    // precedes the stop, both on whole samples (first at or past the level).
    const auto& truth = recording.egg.cycles;
    std::vector<double> inside;
    for (std::size_t i = kFirstLoggedCycle; i + kCyclesNotLogged - kFirstLoggedCycle < truth.size();
         ++i) {
        const double contactMs = double(truth[i].contactIndex) * kMsPerSample;
        if (contactMs > startMs && double(truth[i].decontactIndex) * kMsPerSample < stopMs) {
            inside.push_back(contactMs);
        }
    }
    const LogTable& log = application->logController().table();
    ASSERT_EQ(log.rowCount(), inside.size());
    for (std::size_t row = 0; row < log.rowCount(); ++row) {
        EXPECT_NEAR(logged(row, "entry1"), inside[row], 0.0005) << row;
    }
}

TEST_F(EggCommandsTest, MarkerEntryAfterClicksHoldsTheSampleAndItsSlope)
{
    MainWindowController* window = openEggRecording();
    ASSERT_NE(window, nullptr);
    assignAndAnalyse(*window);
    window->action("_LogNew:")->trigger();
    MainViewPane* pane = window->mainView();
    const Channels& egg = window->document().getChannel(1);
    const std::vector<float>& x = recording.egg.samples;
    const LogTable& log = application->logController().table();
    bool sawSlope = false;
    for (int px = 101; px < 600; px += 23) {
        SCOPED_TRACE(px);
        QTest::mouseClick(pane, Qt::LeftButton, {}, QPoint(px, egg.m_rLocation.top + 10));
        ASSERT_TRUE(window->isCommandEnabled("_LogEntereggatmarker:"));
        window->action("_LogEntereggatmarker:")->trigger();
        const std::size_t row = log.rowCount() - 1;
        EXPECT_EQ(log.cell(row, "def"), kEggMarkerDefinition);
        const double timeMs = logged(row, "entry1");
        EXPECT_NEAR(timeMs, egg.m_dMarkerTime, 0.0005);
        const auto i = static_cast<std::size_t>(egg.m_dMarkerTime * 10.0 + 1e-6);
        ASSERT_LT(i + 7, x.size());
        EXPECT_NEAR(logged(row, "entry2"), x[i], 0.0005);
        // Velocity: neighbour differences × rate, averaged forward over the
        // 0.5 ms window (5 samples at 10 kHz).
        const double windowSamples = 0.5 / 1000.0 * 10000.0;
        double sum = 0.0;
        for (std::size_t k = i; double(k) < double(i) + windowSamples; ++k) {
            sum += (double(x[k + 1]) - double(x[k])) * 10000.0;
        }
        const double slope = sum / windowSamples;
        EXPECT_NEAR(logged(row, "entry3"), slope, 0.0005 + 1e-4 * std::abs(slope));
        sawSlope = sawSlope || std::abs(slope) > 1.0;
    }
    EXPECT_TRUE(sawSlope);
}

TEST_F(EggCommandsTest, EggPanelCancelChangesNeitherTheChannelNorTheConfiguration)
{
    ASSERT_TRUE(ReadConfig(settings));
    MainWindowController* window = openEggRecording();
    ASSERT_NE(window, nullptr);
    prompts.channelReplies.push_back(2);
    window->action("_EGGChannelSelect:")->trigger();
    const std::string configuration = readAll(settings.configPath());
    const Channels& egg = window->document().getChannel(1);
    const auto fingerprint = [&] {
        return std::make_tuple(egg.m_dCycleThresholdPerCent, egg.m_dVelocitySmoothingWindow,
                               egg.m_dAccelerationSmoothingWindow, egg.m_bDrawPeak,
                               egg.m_bDrawValley, egg.m_bDrawCycleThreshold, egg.m_bDrawVelocity,
                               egg.m_bDrawAcceleration, window->document().changeCount());
    };
    const auto before = fingerprint();
    window->setPanelDriver([](SettingsPanel& panel) {
        for (const char* field :
             {"_ThresholdPerCent", "_VelocitySmoothWindow", "_AccelerationSmoothWindow"}) {
            panel.findChild<QLineEdit*>(field)->setText("3.5");
        }
        for (QCheckBox* box : panel.findChildren<QCheckBox*>()) {
            box->setChecked(!box->isChecked());
        }
        panel.pressCancel();
    });
    EXPECT_EQ(window->OptionsEGG(), SettingsPanel::kCancel);
    EXPECT_EQ(fingerprint(), before);
    EXPECT_EQ(readAll(settings.configPath()), configuration);
}

TEST_F(EggCommandsTest, SmoothingAfterSaveKeepsTheFileUnsmoothedAndUndoRestores)
{
    // A native document, so that smoothing keeps an undo backup.
    const fs::path wav = folder / "tone.wav";
    writeBytes(wav, *toneWav(prompts));
    MainWindowController* first = application->openPath(QString::fromStdString(wav.string()));
    ASSERT_NE(first, nullptr);
    const fs::path native = folder / "tone.pmf";
    prompts.savePanelReplies.push_back(native.string());
    ASSERT_TRUE(first->saveDocumentAs());
    first->close();
    MainWindowController* window = application->openPath(QString::fromStdString(native.string()));
    ASSERT_NE(window, nullptr);

    // The modification, which the native file keeps: an offset calibration.
    // Then smoothing switched on.
    window->setPanelDriver([](SettingsPanel& panel) {
        panel.findChild<QTableWidget*>("channels")->item(0, CalibrationPanel::kD)->setText("0.5");
        panel.pressOK();
    });
    ASSERT_EQ(window->OptionsCalibration(), SettingsPanel::kOK);
    window->setPanelDriver([](SettingsPanel& panel) {
        panel.findChild<QTableWidget*>("channels")
            ->item(0, IntensitySmoothPanel::kSmoothDo)
            ->setCheckState(Qt::Checked);
        panel.pressOK();
    });
    ASSERT_EQ(window->OptionsIntensitySmooth(), SettingsPanel::kOK);
    MyDocument& document = window->document();
    ASSERT_TRUE(document.getChannel(0).m_bSmoothDo);
    ASSERT_GT(document.changeCount(), 0);
    const Channels& channel = document.getChannel(0);
    const auto samples = [](const Channels& c) {
        return std::vector<float>(c.m_hData.data(),
                                  c.m_hData.data() + static_cast<std::size_t>(c.m_dwFileLength));
    };
    const std::vector<float> original = samples(channel);

    prompts.alertReplies.push_back(1); // Save
    window->action("_AnalysisSmooth:")->trigger();
    ASSERT_FALSE(prompts.alerts.empty());
    EXPECT_EQ(prompts.alerts.back().defaultButton, "Save");
    const std::vector<float> smoothed = samples(channel);
    ASSERT_EQ(smoothed.size(), original.size());
    EXPECT_NE(smoothed, original);
    // Interior samples are the 5-point centred average of the originals.
    for (std::size_t i : {10u, 500u, 1000u}) {
        double sum = 0.0;
        for (std::size_t k = i - 2; k <= i + 2; ++k) {
            sum += original[k];
        }
        EXPECT_NEAR(smoothed[i], sum / 5.0, 1e-6) << i;
    }
    EXPECT_GT(document.changeCount(), 0);

    // The saved file holds the edit and the samples from before smoothing.
    const fs::path copy = folder / "saved.pmf";
    fs::copy_file(native, copy);
    MainWindowController* saved = application->openPath(QString::fromStdString(copy.string()));
    ASSERT_NE(saved, nullptr);
    EXPECT_DOUBLE_EQ(saved->document().getChannel(0).m_dD0Cal, 0.5);
    EXPECT_EQ(samples(saved->document().getChannel(0)), original);

    ASSERT_TRUE(window->isCommandEnabled("_EditUndo:"));
    window->action("_EditUndo:")->trigger();
    EXPECT_EQ(samples(document.getChannel(0)), original);
}

TEST_F(EggCommandsTest, SmoothingWhoseSaveIsCancelledLeavesTheSamples)
{
    const fs::path wav = folder / "tone.wav";
    writeBytes(wav, *toneWav(prompts));
    MainWindowController* source = application->openPath(QString::fromStdString(wav.string()));
    ASSERT_NE(source, nullptr);
    source->action("_EditSelectAll:")->trigger();
    source->action("_EditCopy:")->trigger();
    MainWindowController* window = application->newDocument(); // Untitled: Save asks where
    window->action("_EditPaste:")->trigger();
    Channels& channel = window->document().getChannel(0);
    ASSERT_TRUE(window->document().m_bHaveData);
    channel.m_bSmoothDo = true;
    const std::vector<float> before(channel.m_hData.data(),
                                    channel.m_hData.data() + std::size_t(channel.m_dwFileLength));

    prompts.alertReplies.push_back(1); // Save, then the save panel is cancelled
    window->action("_AnalysisSmooth:")->trigger();
    EXPECT_EQ(prompts.savePanels.size(), 1u);
    EXPECT_EQ(std::vector<float>(channel.m_hData.data(),
                                 channel.m_hData.data() + std::size_t(channel.m_dwFileLength)),
              before);
}

} // namespace
} // namespace phonaxis
