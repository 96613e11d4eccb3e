// The pitch window opened from the document window's Analysis menu on a
// generated glide: its title, track and log entries against the analysis
// run directly, the marker, selection and readouts under the mouse, its
// zoom and enabling, recomputing after an edit, and cancelling or closing
// it while a long track is computed.
#include "support/GlideRecording.h" // before Qt: its "signals" keyword is a macro

namespace {

// `samples` (and `second`, when given, as a second channel) as a 16 kHz
// WAV file.
std::optional<phonaxis::Bytes> wavBytes(const std::vector<float>& samples,
                                        phonaxis::Prompts& prompts,
                                        const std::vector<float>& second = {})
{
    if (!second.empty()) {
        const std::span<const float> both[] = {samples, second};
        return phonaxis::signals::waveFileBytes(16000.0, both, prompts);
    }
    const std::span<const float> channels[] = {samples};
    return phonaxis::signals::waveFileBytes(16000.0, channels, prompts);
}

} // namespace

#include "app/Application.h"
#include "app/LogController.h"
#include "app/MainWindowController.h"
#include "display/MainViewPane.h"
#include "document/MyDocument.h"
#include "support/AnalysisWindowTesting.h"
#include "support/AppFixture.h"
#include "windows/PitchWorker.h"
#include "windows/ui/FFTWindowController.h"
#include "windows/ui/PitchWindowController.h"
#include "windows/ui/SpectrogramWindowController.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;

using test::oneDecimal;
using test::text;
using test::settledThreadCount;
using test::threadCount;
using test::waitFor;

class PitchWindowTest : public test::AppFixture {
protected:
    PitchWindowTest() : AppFixture("phonaxis-pitch-window-") {}

    // A shown document window on `samples` written as "name" (16 kHz WAV).
    MainWindowController* openRecording(const std::vector<float>& samples,
                                        const std::string& name = "glide.wav",
                                        const std::vector<float>& second = {})
    {
        const auto bytes = wavBytes(samples, prompts, second);
        const fs::path path = folder / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes->data()), std::streamsize(bytes->size()));
        MainWindowController* window = application->openPath(QString::fromStdString(path.string()));
        if (window != nullptr) {
            window->resize(700, 400);
            window->show();
        }
        return window;
    }

    // Analysis ▸ Pitch: the window it opened.
    static PitchWindowController* openPitch(MainWindowController& window)
    {
        window.action("_AnalysisPitch:")->trigger();
        const QList<QWidget*> open = window.analysisWindows();
        return open.isEmpty() ? nullptr : qobject_cast<PitchWindowController*>(open.back());
    }

    static bool tracked(PitchWindowController& pitch)
    {
        return waitFor([&pitch] { return pitch.track() != nullptr; });
    }

    // The track of the document's channel 0 computed directly, one thread.
    static PitchAnalysis direct(const MyDocument& document)
    {
        PitchAnalysis analysis;
        analysis.intilize(document.getChannel(0), 0, PitchParameters::fromDocument(document));
        EXPECT_TRUE(analysis.DoPitchCepstral(document.getChannel(0).samples(), 1));
        return analysis;
    }

    double logged(std::size_t row, const char* column) const
    {
        return std::stod(application->logController().table().cell(row, column));
    }

    test::Glide glide = test::glide(16000.0, 2000.0);
};

TEST_F(PitchWindowTest, OpensOnTheAudioChannelWithTheDirectTrackAndLogsIt)
{
    MainWindowController* empty = application->newDocument();
    EXPECT_FALSE(empty->isCommandEnabled("_AnalysisPitch:"));

    MainWindowController* window = openRecording(glide.samples);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(window->isCommandEnabled("_AnalysisPitch:"));
    PitchWindowController* pitch = openPitch(*window);
    ASSERT_NE(pitch, nullptr);
    EXPECT_EQ(pitch->windowTitle().toStdString(), "Pitch:: glide.wav (Audio)");
    ASSERT_TRUE(tracked(*pitch));
    EXPECT_FALSE(pitch->findChild<QPushButton*>("_pitchCancel")->isVisible());

    const MyDocument& document = window->document();
    const PitchAnalysis expected = direct(document);
    const PitchTrack& track = *pitch->track();
    EXPECT_EQ(track.analysis.m_hdPitchFile, expected.m_hdPitchFile);
    EXPECT_EQ(text(pitch, "_pitchInfo"),
              "Precise analysis   Rate: 16000 Hz   Window: 60 ms   Step: 10 ms   Range: 50-500 Hz");

    // Every voiced frame, with the level of the channel at its time.
    Channels measured;
    measured.Duplicate(document.getChannel(0));
    EXPECT_FALSE(pitch->isCommandEnabled("_LogPitchAll:")); // no log window yet
    window->action("_LogNew:")->trigger();
    pitch->refreshCommands(); // as when its Log menu shows or the window is activated
    ASSERT_TRUE(pitch->action("_LogPitchAll:")->isEnabled());
    pitch->action("_LogPitchAll:")->trigger();
    const std::vector<LogRecord> records = expected.allLogRecords(
        "glide.wav", [&measured](double t) { return measured.intensityDbfsAt(t); });
    const LogTable& log = application->logController().table();
    ASSERT_EQ(log.rowCount(), records.size());
    ASSERT_GT(records.size(), 150U);
    for (std::size_t row = 0; row < records.size(); row += 7) {
        EXPECT_EQ(log.cell(row, "def"), PitchAnalysis::kSelectionHeader);
        EXPECT_EQ(log.cell(row, "name"), "glide.wav");
        for (int v = 0; v < 3; ++v) {
            const std::string column = "entry" + std::to_string(v + 1);
            EXPECT_NEAR(logged(row, column.c_str()), records[row].values[v], 5e-4) << row;
        }
        EXPECT_NEAR(records[row].values[1], glide.f0AtMs(records[row].values[0] + 17.5),
                    0.05 * records[row].values[1]);
    }
}

// Channel to Analyse: the pitch, spectrogram and spectrum windows analyse the
// chosen channel of a stereo recording and name it in their titles.
TEST_F(PitchWindowTest, TheChosenChannelIsAnalysedAndNamedInTheTitles)
{
    const test::Glide low = test::glide(16000.0, 1000.0, 120.0, 125.0);
    const test::Glide high = test::glide(16000.0, 1000.0, 300.0, 305.0);
    MainWindowController* window = openRecording(low.samples, "stereo.wav", high.samples);
    ASSERT_NE(window, nullptr);
    const MyDocument& document = window->document();
    ASSERT_EQ(document.channelsInUse(), 2);
    const QString second = QString::fromStdString(document.getChannel(1).GetTitle());

    const auto pitchAtMiddle = [&](int expectedChannel) {
        PitchWindowController* pitch = openPitch(*window);
        EXPECT_NE(pitch, nullptr);
        if (pitch == nullptr || !tracked(*pitch)) {
            return 0.0;
        }
        EXPECT_EQ(pitch->analysedChannelIndex(), expectedChannel);
        // A screen reader hears the track's range and median.
        (void)pitch->view()->grab();
        EXPECT_TRUE(pitch->view()->accessibleDescription().contains(" voiced frames from "))
            << pitch->view()->accessibleDescription().toStdString();
        return pitch->track()->analysis.pitchAt(500.0);
    };
    EXPECT_NEAR(pitchAtMiddle(0), low.f0AtMs(500.0), 3.0);

    prompts.channelReplies.push_back(1);
    window->action("_AnalysisChannelSelect:")->trigger();
    ASSERT_FALSE(prompts.channelChoices.empty());
    EXPECT_EQ(prompts.channelChoices.back().preselected, 0); // the audio channel until chosen
    EXPECT_EQ(window->action("_AnalysisChannelSelect:")->text(),
              QStringLiteral("Channel to Analyse: ") + second);
    EXPECT_NEAR(pitchAtMiddle(1), high.f0AtMs(500.0), 3.0);
    EXPECT_TRUE(window->analysisWindows().back()->windowTitle().endsWith("(" + second + ")"));

    window->action("_AnalysisSpectrogram:")->trigger();
    auto* spectrogram = qobject_cast<SpectrogramWindowController*>(window->analysisWindows().back());
    ASSERT_NE(spectrogram, nullptr);
    EXPECT_EQ(spectrogram->analysedChannelIndex(), 1);
    EXPECT_EQ(spectrogram->windowTitle(), "Spectrogram:: stereo.wav (" + second + ")");

    QTest::mouseClick(window->mainView(), Qt::LeftButton, {}, QPoint(300, 40));
    window->action("_AnalysisFFT:")->trigger();
    auto* fft = qobject_cast<FFTWindowController*>(window->analysisWindows().back());
    ASSERT_NE(fft, nullptr);
    EXPECT_EQ(fft->analysedChannelIndex(), 1);
    EXPECT_EQ(fft->windowTitle(), "FFT:: stereo.wav (" + second + ")");
}

TEST_F(PitchWindowTest, MouseSetsMarkerSelectionAndReadoutsAndZoomStaysInside)
{
    MainWindowController* window = openRecording(glide.samples);
    ASSERT_NE(window, nullptr);
    window->action("_LogNew:")->trigger();
    PitchWindowController* pitch = openPitch(*window);
    ASSERT_NE(pitch, nullptr);
    ASSERT_TRUE(tracked(*pitch));
    PitchView* view = pitch->view();
    const PitchGraphLayout panes = view->layout();
    const PitchAnalysis& analysis = pitch->track()->analysis;
    const double lengthMs = analysis.m_dLengthMS;
    const int middle = (panes.pitch.top + panes.pitch.bottom) / 2;

    // Enabling before any marker, with the log window shown.
    for (const auto& [command, enabled] : {std::pair{"_ZoomIn:", true},
                                           {"_ZoomOut:", true},
                                           {"_ZoomSelection:", false},
                                           {"_ZoomCursor:", false},
                                           {"_LogPitchMarker:", false},
                                           {"_LogPitchSelection:", false},
                                           {"_LogPitchAll:", true},
                                           {"SaveasPict:", true},
                                           {"_ZoomHome:", true}}) {
        EXPECT_EQ(pitch->isCommandEnabled(command), enabled) << command;
        EXPECT_EQ(pitch->action(command)->isEnabled(), enabled) << command;
    }

    // A click at the pixel of 700 ms: the readouts and the marker entry.
    const int x = panes.xAt(700.0, 0.0, lengthMs);
    const double clickedMs = panes.timeAt(x, 0.0, lengthMs);
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(x, middle));
    ASSERT_TRUE(analysis.m_bHaveMarker);
    EXPECT_EQ(analysis.m_dMarkerTime, clickedMs);
    const double pitchHz = direct(window->document()).pitchAt(clickedMs);
    ASSERT_GT(pitchHz, 0.0);
    EXPECT_EQ(text(pitch, "_timeReadout"), oneDecimal("Time: %1 ms", clickedMs));
    EXPECT_EQ(text(pitch, "_pitchReadout"), oneDecimal("Pitch: %1 Hz", pitchHz));
    // The level of the voice (peaks at 0.8 of full scale) in dBFS.
    const double intensity = pitch->track()->intensityAt(clickedMs);
    EXPECT_EQ(intensity, window->document().getChannel(0).intensityDbfsAt(clickedMs));
    EXPECT_LT(intensity, -3.0);
    EXPECT_GT(intensity, -30.0);
    EXPECT_EQ(text(pitch, "_intensityReadout"), oneDecimal("Intensity: %1 dBFS", intensity));
    ASSERT_TRUE(pitch->action("_LogPitchMarker:")->isEnabled());
    pitch->action("_LogPitchMarker:")->trigger();
    EXPECT_NEAR(logged(0, "entry1"), clickedMs, 5e-4);
    EXPECT_NEAR(logged(0, "entry2"), pitchHz, 5e-4);
    EXPECT_NEAR(logged(0, "entry3"), intensity, 5e-4);

    // Clicks outside the graph (the frequency labels) place nothing; a
    // mouse outside it shows the marker's values again.
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(10, middle));
    EXPECT_EQ(analysis.m_dMarkerTime, clickedMs);
    QMouseEvent outside(QEvent::MouseMove, QPointF(10, middle),
                        view->mapToGlobal(QPointF(10, middle)), Qt::NoButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(view, &outside);
    EXPECT_EQ(text(pitch, "_timeReadout"), oneDecimal("Time: %1 ms", clickedMs));

    // A drag past the right edge selects up to the page's end.
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(x, middle)); // clears nothing: no selection
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(x, middle));
    QMouseEvent drag(QEvent::MouseMove, QPointF(view->width(), middle),
                     view->mapToGlobal(QPointF(view->width(), middle)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &drag);
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(view->width(), middle));
    ASSERT_TRUE(analysis.m_bHaveSelection);
    EXPECT_EQ(analysis.m_dDurationStopTime, lengthMs);
    EXPECT_EQ(text(pitch, "_durationReadout"), oneDecimal("Duration: %1 ms", lengthMs - clickedMs));
    EXPECT_TRUE(pitch->isCommandEnabled("_ZoomSelection:"));
    pitch->action("_LogPitchSelection:")->trigger();
    const int frames = analysis.m_nFrameCount;
    const auto inSelection =
        static_cast<std::size_t>(frames - analysis.frameAt(clickedMs) -
                                 (analysis.frameTime(analysis.frameAt(clickedMs)) < clickedMs));
    EXPECT_EQ(application->logController().table().rowCount(), 1 + inSelection);

    // One second from a marker near the end stays inside the channel; the
    // scroll bar shows while zoomed, and scrolling to its start moves the page.
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(x, middle)); // clears the selection
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(panes.graph.right - 2, middle));
    pitch->action("_ZoomCursor:")->trigger();
    EXPECT_EQ(analysis.m_dPageMax, analysis.m_dwFileLength);
    EXPECT_DOUBLE_EQ(analysis.m_dPageMax - analysis.m_dPageMin, 16000.0);
    auto* scroller = pitch->findChild<QScrollBar*>("_pitchScroller");
    ASSERT_TRUE(scroller->isVisible());
    scroller->setValue(0);
    EXPECT_EQ(analysis.m_dPageMin, 0.0);
    EXPECT_DOUBLE_EQ(analysis.m_dPageMax, 16000.0);
    pitch->action("_ZoomHome:")->trigger();
    EXPECT_FALSE(scroller->isVisible());
}

TEST_F(PitchWindowTest, EditingTheDocumentComputesTheTrackAgain)
{
    MainWindowController* window = openRecording(glide.samples);
    ASSERT_NE(window, nullptr);
    PitchWindowController* pitch = openPitch(*window);
    ASSERT_NE(pitch, nullptr);
    ASSERT_TRUE(tracked(*pitch));
    const double lengthBefore = pitch->track()->channel.m_dwFileLength;

    window->mainView()->repaint();
    QTest::mousePress(window->mainView(), Qt::LeftButton, {}, QPoint(200, 30));
    QMouseEvent move(QEvent::MouseMove, QPointF(400, 30),
                     window->mainView()->mapToGlobal(QPointF(400, 30)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window->mainView(), &move);
    QTest::mouseRelease(window->mainView(), Qt::LeftButton, {}, QPoint(400, 30));
    window->action("_EditCut:")->trigger();
    const MyDocument& document = window->document();
    ASSERT_LT(document.getChannel(0).m_dwFileLength, lengthBefore);
    // The old track is gone at once: a track shown now (the worker may
    // already be done) belongs to the new samples.
    if (pitch->track() != nullptr) {
        EXPECT_EQ(pitch->track()->channel.m_dwFileLength, document.getChannel(0).m_dwFileLength);
    }
    ASSERT_TRUE(tracked(*pitch));
    EXPECT_EQ(pitch->track()->channel.m_dwFileLength, document.getChannel(0).m_dwFileLength);
    EXPECT_EQ(pitch->track()->analysis.m_hdPitchFile, direct(document).m_hdPitchFile);

    window->action("_EditUndo:")->trigger();
    ASSERT_TRUE(tracked(*pitch));
    EXPECT_EQ(pitch->track()->channel.m_dwFileLength, lengthBefore);
}

TEST_F(PitchWindowTest, CancelOrCloseWhileComputingLeavesNoTrackAndNoThread)
{
    std::vector<float> samples;
    for (int i = 0; i < 300; ++i) { // ten minutes
        samples.insert(samples.end(), glide.samples.begin(), glide.samples.end());
    }
    MainWindowController* window = openRecording(samples, "long.wav");
    ASSERT_NE(window, nullptr);
    QApplication::processEvents();
    const std::ptrdiff_t before = threadCount();

    PitchWindowController* pitch = openPitch(*window);
    ASSERT_NE(pitch, nullptr);
    ASSERT_TRUE(pitch->computing());
    auto* cancel = pitch->findChild<QPushButton*>("_pitchCancel");
    ASSERT_TRUE(cancel->isVisible());
    EXPECT_FALSE(pitch->isCommandEnabled("_ZoomIn:"));
    QTest::mouseClick(cancel, Qt::LeftButton);
    EXPECT_FALSE(pitch->computing());
    EXPECT_EQ(pitch->track(), nullptr);
    EXPECT_FALSE(cancel->isVisible());
    EXPECT_EQ(settledThreadCount(before), before);
    QApplication::processEvents();
    EXPECT_EQ(pitch->track(), nullptr);

    PitchWindowController* closing = openPitch(*window);
    ASSERT_NE(closing, nullptr);
    ASSERT_TRUE(closing->computing());
    closing->action("performClose:")->trigger();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(window->analysisWindows().size(), 1); // the cancelled one
    EXPECT_EQ(settledThreadCount(before), before);
}

TEST_F(PitchWindowTest, StepShorterThanOneSampleIsToldAndOpensNothing)
{
    MainWindowController* window = openRecording(glide.samples);
    ASSERT_NE(window, nullptr);
    window->document().m_dPitchStepSize = 0.05; // a sample is 1/16 ms
    window->action("_AnalysisPitch:")->trigger();
    EXPECT_TRUE(window->analysisWindows().isEmpty());
    ASSERT_EQ(prompts.alerts.size(), 1U);
    EXPECT_EQ(prompts.alerts[0].message,
              "The pitch step of 0.050 ms is shorter than one sample at 16000 Hz (0.063 ms). "
              "Choose a longer step in Options ▸ Pitch.");
}

} // namespace
} // namespace phonaxis
