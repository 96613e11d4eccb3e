// The voice report window opened from Analysis ▸ Voice Report on a generated
// vowel with its EGG: the measures in the table against the generator's
// truth, the log entries and the copied text, the messages a too short
// selection or a document without EGG gives instead of numbers, and
// cancelling, closing or starting again while the audio report is computed.
#include "Signals.h" // before Qt: its "signals" keyword is a macro
#include "VoiceSignals.h"

#include "document/Prompts.h"

namespace {

using VoiceTruth = phonaxis::VoiceMeasures;

struct Vowel {
    std::optional<phonaxis::Bytes> wav;
    VoiceTruth truth;
    double analysisFromMs = 0.0;
    double analysisToMs = 0.0;
};

// A 1.5 s vowel at 22.05 kHz, 1 % jitter, 3 % shimmer, 25 dB HNR: the audio
// and, with `withEgg`, its EGG as a second channel.
Vowel vowel(phonaxis::Prompts& prompts, bool withEgg)
{
    phonaxis::signals::VoiceSignalParams params;
    params.durationMs = 1500.0;
    params.hnrDb = 25.0;
    const phonaxis::signals::VoiceSignal signal = phonaxis::signals::voiceSignal(params);
    Vowel made;
    made.truth = signal.truth;
    made.analysisFromMs = signal.analysisFromMs;
    made.analysisToMs = signal.analysisToMs;
    if (withEgg) {
        const std::span<const float> channels[] = {signal.audio, signal.egg};
        made.wav = phonaxis::signals::waveFileBytes(signal.rateHz, channels, prompts);
    } else {
        const std::span<const float> channels[] = {signal.audio};
        made.wav = phonaxis::signals::waveFileBytes(signal.rateHz, channels, prompts);
    }
    return made;
}

} // namespace

#include "app/Application.h"
#include "app/LogController.h"
#include "app/MainWindowController.h"
#include "display/MainViewPane.h"
#include "document/MyDocument.h"
#include "log/VoiceLogEntries.h"
#include "model/Channels.h"
#include "support/AnalysisWindowTesting.h"
#include "support/AppFixture.h"
#include "windows/ui/VoiceReportWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;

using test::settledThreadCount;
using test::threadCount;
using test::waitFor;

class VoiceReportWindowTest : public test::AppFixture {
protected:
    VoiceReportWindowTest() : AppFixture("phonaxis-voice-report-") {}

    // A shown document window on `made` written as `name`; with two
    // channels, the second is assigned as the EGG through the chooser.
    MainWindowController* open(const Vowel& made, const std::string& name, bool assignEgg)
    {
        const fs::path path = folder / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(made.wav->data()),
                   std::streamsize(made.wav->size()));
        MainWindowController* window = application->openPath(QString::fromStdString(path.string()));
        if (window == nullptr) {
            return nullptr;
        }
        window->resize(800, 400);
        window->show();
        window->mainView()->repaint();
        if (assignEgg) {
            prompts.channelReplies.push_back(2); // "None", audio, EGG
            window->action("_EGGChannelSelect:")->trigger();
        }
        return window;
    }

    // The selection [fromMs, toMs] on every channel, as a drag leaves it.
    static void select(MainWindowController& window, double fromMs, double toMs)
    {
        MyDocument& document = window.document();
        for (int i = 0; i < document.channelsInUse(); ++i) {
            Channels& channel = document.getChannel(i);
            channel.m_dDurationStartTime = fromMs;
            channel.m_dDurationStopTime = toMs;
            channel.m_dDurationStartFile = fromMs * channel.m_dSampleRate / 1000.0;
            channel.m_dDurationStopFile = toMs * channel.m_dSampleRate / 1000.0;
        }
        document.m_bHaveSelection = true;
        window.refreshCommands();
    }

    // Analysis ▸ Voice Report: the window it opened, its audio report done.
    static VoiceReportWindow* report(MainWindowController& window)
    {
        window.action("_AnalysisVoiceReport:")->trigger();
        const QList<QWidget*> open = window.analysisWindows();
        auto* voice = open.isEmpty() ? nullptr : qobject_cast<VoiceReportWindow*>(open.back());
        if (voice != nullptr && !waitFor([voice] { return !voice->computing(); })) {
            return nullptr;
        }
        return voice;
    }

    // The cell of the measure `measure` (its row title) in `column`.
    static QString cell(const VoiceReportWindow& voice, const char* measure, int column)
    {
        const QTableWidget& table = *voice.table();
        for (int row = 0; row < table.rowCount(); ++row) {
            if (table.verticalHeaderItem(row)->text() == QString::fromUtf8(measure)) {
                return table.item(row, column) ? table.item(row, column)->text() : QString();
            }
        }
        ADD_FAILURE() << "no row " << measure;
        return {};
    }

    static double number(const VoiceReportWindow& voice, const char* measure, int column)
    {
        bool ok = false;
        const double value = cell(voice, measure, column).toDouble(&ok);
        EXPECT_TRUE(ok) << measure << ": \"" << cell(voice, measure, column).toStdString() << "\"";
        return value;
    }

    // Whether any cell of `column` reads as a number.
    static bool anyNumber(const VoiceReportWindow& voice, int column)
    {
        const QTableWidget& table = *voice.table();
        for (int row = 0; row < table.rowCount(); ++row) {
            bool ok = false;
            table.item(row, column)->text().toDouble(&ok);
            if (ok) {
                return true;
            }
        }
        return false;
    }

    double logged(std::size_t row, const char* column) const
    {
        return std::stod(application->logController().table().cell(row, column));
    }
};

constexpr int kAudio = 0;
constexpr int kEgg = 1;

double relativeError(double measured, double truth)
{
    return std::abs(measured - truth) / truth;
}

TEST_F(VoiceReportWindowTest, ShowsAudioAndEggSideBySideLogsAndCopiesThem)
{
    const Vowel made = vowel(prompts, true);
    MainWindowController* window = open(made, "vowel.wav", true);
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(window->isCommandEnabled("_AnalysisVoiceReport:")); // no selection yet

    // A drag across the middle of the view.
    MainViewPane* pane = window->mainView();
    QTest::mousePress(pane, Qt::LeftButton, {}, QPoint(200, 40));
    test::moveTo(pane, QPoint(600, 40), Qt::LeftButton);
    QTest::mouseRelease(pane, Qt::LeftButton, {}, QPoint(600, 40));
    window->refreshCommands();
    ASSERT_TRUE(window->isCommandEnabled("_AnalysisVoiceReport:"));
    const Channels& audio = window->document().getChannel(0);
    const double fromMs = audio.m_dDurationStartTime;
    const double toMs = audio.m_dDurationStopTime;
    ASSERT_GT(toMs - fromMs, 400.0);

    VoiceReportWindow* voice = report(*window);
    ASSERT_NE(voice, nullptr);
    EXPECT_EQ(voice->windowTitle().toStdString(), "Voice Report:: vowel.wav (Audio)");
    EXPECT_EQ(voice->fromMs(), fromMs);
    EXPECT_EQ(voice->toMs(), toMs);
    EXPECT_EQ(voice->table()->accessibleName().toStdString(), "Voice report");
    EXPECT_FALSE(voice->findChild<QPushButton*>("_voiceCancel")->isVisible());

    // Loosely near the truth of the whole vowel: the engine's own tests
    // hold the accuracy; here the right channels and selection must arrive.
    // (The audio reads this noisy, jittered vowel's shimmer high and its
    // HNR low, as waveform measures do.)
    const VoiceTruth& truth = made.truth;
    for (const int column : {kAudio, kEgg}) {
        SCOPED_TRACE(column == kAudio ? "audio" : "EGG");
        EXPECT_NEAR(number(*voice, "F0 mean (Hz)", column), truth.f0MeanHz, 1.0);
        EXPECT_NEAR(number(*voice, "Cycles", column), 120.0 * (toMs - fromMs) / 1000.0, 5.0);
        EXPECT_EQ(number(*voice, "Voice breaks", column), 0.0);
        for (const auto& [measure, truthPct] :
             {std::pair{"Jitter local (%)", truth.jitterLocalPct},
              std::pair{"Shimmer local (%)", truth.shimmerLocalPct}}) {
            const double measured = number(*voice, measure, column);
            EXPECT_LT(relativeError(measured, truthPct), column == kEgg ? 0.15 : 0.7) << measure;
        }
    }
    const double hnrDb = number(*voice, "HNR (dB)", kAudio);
    EXPECT_GT(hnrDb, 10.0);
    EXPECT_LT(hnrDb, 30.0);
    EXPECT_GT(number(*voice, "CPPS (dB)", kAudio), 5.0);
    EXPECT_LT(number(*voice, "Unvoiced frames (%)", kAudio), 5.0);
    for (const char* quotient : {"CQ mean", "CQ HB mean", "CQ PM mean", "CQ HT mean"}) {
        const double cq = number(*voice, quotient, kEgg);
        EXPECT_GT(cq, 0.05) << quotient;
        EXPECT_LT(cq, 0.95) << quotient;
        EXPECT_EQ(cell(*voice, quotient, kAudio), "–") << quotient;
    }
    for (const char* audioOnly : {"HNR (dB)", "CPPS (dB)", "Unvoiced frames (%)"}) {
        EXPECT_EQ(cell(*voice, audioOnly, kEgg), "–") << audioOnly;
    }

    // Log: without a log shown the button says how to show one; then one
    // record per source.
    QPushButton* logButton = voice->findChild<QPushButton*>("_voiceLog");
    ASSERT_TRUE(logButton->isEnabled());
    EXPECT_FALSE(voice->isCommandEnabled("_LogVoiceReport:"));
    QTest::mouseClick(logButton, Qt::LeftButton);
    ASSERT_EQ(prompts.alerts.size(), 1u);
    EXPECT_EQ(prompts.alerts[0].title, "No measurement log is shown.");
    window->action("_LogNew:")->trigger();
    QTest::mouseClick(logButton, Qt::LeftButton);
    const LogTable& log = application->logController().table();
    ASSERT_EQ(log.rowCount(), 2u);
    EXPECT_EQ(log.cell(0, "name"), "vowel.wav");
    EXPECT_EQ(log.cell(0, "def"), kVoiceAudioDefinition);
    EXPECT_EQ(log.cell(1, "def"), kVoiceEggDefinition);
    for (const std::size_t row : {0u, 1u}) {
        EXPECT_NEAR(logged(row, "entry1"), fromMs, 1e-3);
        EXPECT_NEAR(logged(row, "entry2"), toMs, 1e-3);
        EXPECT_NEAR(logged(row, "entry3"), truth.f0MeanHz, 1.0);
    }
    EXPECT_NEAR(logged(0, "entry16"), hnrDb, 0.01);                    // HNR
    EXPECT_NEAR(logged(0, "entry18"), 0.0, 0.05);                      // unvoiced, a fraction
    EXPECT_EQ(logged(0, "entry20"), number(*voice, "Cycles", kAudio)); // cycles
    EXPECT_NEAR(logged(1, "entry18"), number(*voice, "CQ mean", kEgg), 1e-3); // CQ

    // Ctrl+C in the table copies the whole report as text.
    QApplication::clipboard()->clear();
    voice->table()->setFocus();
    QTest::keyClick(voice->table(), Qt::Key_C, Qt::ControlModifier);
    const QStringList lines = QApplication::clipboard()->text().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 2 + voice->table()->rowCount()); // header, rows, empty after the last
    EXPECT_EQ(lines[0], "Measure\tAudio\tEGG");
    EXPECT_EQ(lines[1], "F0 mean (Hz)\t" + cell(*voice, "F0 mean (Hz)", kAudio) + "\t" +
                            cell(*voice, "F0 mean (Hz)", kEgg));
    EXPECT_TRUE(lines.contains("CQ mean\t–\t" + cell(*voice, "CQ mean", kEgg)));
}

TEST_F(VoiceReportWindowTest, MessagesInsteadOfNumbers)
{
    struct Case {
        const char* name;
        bool egg;    // the file has the EGG channel
        bool assign; // the EGG is assigned
        double fromMs, toMs;
        const char* audioMessage; // the start of the column's message; null: numbers
        const char* eggMessage;
    };
    const Case cases[] = {
        {"too short a selection", true, true, 700.0, 720.0, "Too few cycles: ", "Too few cycles: "},
        {"no EGG channel", false, false, 300.0, 1200.0, nullptr, "No EGG channel"},
        {"EGG not assigned", true, false, 300.0, 1200.0, nullptr, "No EGG channel"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Vowel made = vowel(prompts, c.egg);
        MainWindowController* window = open(made, std::string(c.name) + ".wav", c.assign);
        ASSERT_NE(window, nullptr);
        select(*window, c.fromMs, c.toMs);
        VoiceReportWindow* voice = report(*window);
        ASSERT_NE(voice, nullptr);
        const QString messages = voice->findChild<QLabel*>("_voiceMessages")->text();
        for (const auto& [column, message] :
             {std::pair{kAudio, c.audioMessage}, std::pair{kEgg, c.eggMessage}}) {
            if (message == nullptr) {
                EXPECT_TRUE(anyNumber(*voice, column));
                continue;
            }
            // The column's first cell holds the message, and no cell a number.
            EXPECT_TRUE(voice->table()->item(0, column)->text().startsWith(message))
                << voice->table()->item(0, column)->text().toStdString();
            EXPECT_FALSE(anyNumber(*voice, column));
            EXPECT_TRUE(messages.contains(QString::fromUtf8(message))) << messages.toStdString();
        }
        // Nothing to log without measures.
        window->action("_LogNew:")->trigger();
        EXPECT_EQ(voice->isCommandEnabled("_LogVoiceReport:"), c.audioMessage == nullptr);
        EXPECT_EQ(voice->findChild<QPushButton*>("_voiceLog")->isEnabled(),
                  c.audioMessage == nullptr);
        window->close();
    }
}

TEST_F(VoiceReportWindowTest, CancelAndCloseWhileComputingLeaveNoWorker)
{
    const Vowel made = vowel(prompts, true);
    MainWindowController* window = open(made, "vowel.wav", true);
    ASSERT_NE(window, nullptr);
    select(*window, 100.0, 1400.0);
    const std::ptrdiff_t before = threadCount();

    for (const bool closeIt : {false, true}) {
        SCOPED_TRACE(closeIt ? "closed" : "cancelled");
        window->action("_AnalysisVoiceReport:")->trigger();
        auto* voice = qobject_cast<VoiceReportWindow*>(window->analysisWindows().back());
        ASSERT_NE(voice, nullptr);
        // The audio's answer comes through the event loop: it is still
        // being computed here.
        ASSERT_TRUE(voice->computing());
        EXPECT_TRUE(voice->findChild<QPushButton*>("_voiceCancel")->isVisible());
        EXPECT_FALSE(voice->isCommandEnabled("_EditCopy:"));
        if (closeIt) {
            voice->close(); // deletes the window: cancels and joins
            QApplication::processEvents();
            continue;
        }
        QTest::mouseClick(voice->findChild<QPushButton*>("_voiceCancel"), Qt::LeftButton);
        EXPECT_FALSE(voice->computing());
        EXPECT_TRUE(voice->table()->item(0, kAudio)->text().startsWith("Cancelled"));
        EXPECT_FALSE(anyNumber(*voice, kAudio));
        EXPECT_TRUE(anyNumber(*voice, kEgg)); // the EGG's report stays
        QApplication::processEvents();        // the worker's late answer is dropped
        EXPECT_TRUE(voice->table()->item(0, kAudio)->text().startsWith("Cancelled"));
        voice->close();
        QApplication::processEvents();
    }

    // Started again while computing: the first report is stopped and only
    // the second one's answer shows.
    window->action("_AnalysisVoiceReport:")->trigger();
    auto* voice = qobject_cast<VoiceReportWindow*>(window->analysisWindows().back());
    ASSERT_NE(voice, nullptr);
    voice->start();
    ASSERT_TRUE(waitFor([voice] { return !voice->computing(); }));
    ASSERT_TRUE(voice->audioReport().has_value());
    EXPECT_TRUE(voice->audioReport()->ok()) << voice->audioReport()->message;
    QApplication::processEvents(); // a late answer of the first would land here
    EXPECT_TRUE(voice->audioReport()->ok());
    voice->close();
    QApplication::processEvents();
    EXPECT_EQ(settledThreadCount(before), before);
}

} // namespace
} // namespace phonaxis
