// The spectrogram window opened from the document window's Analysis menu on
// the generated vowel sequence: its title, image and tracks against the
// engine run directly, the readouts, marks and log entries under the mouse,
// the spectrum and formant-plot hand-overs, recomputing after a resize and
// an edit, and cancelling or closing it while it computes.
#include "Signals.h" // before Qt: its "signals" keyword is a macro

namespace sig = phonaxis::signals;

namespace {

std::optional<phonaxis::Bytes> wavBytes(const std::vector<float>& samples, double rateHz,
                                        phonaxis::Prompts& prompts)
{
    const std::span<const float> channels[] = {samples};
    return phonaxis::signals::waveFileBytes(rateHz, channels, prompts);
}

} // namespace

#include "app/Application.h"
#include "app/LogController.h"
#include "app/MainWindowController.h"
#include "app/PlotFormantWindows.h"
#include "display/MainViewPane.h"
#include "document/MyDocument.h"
#include "log/ui/PlotFormantController.h"
#include "support/AnalysisWindowTesting.h"
#include "support/AppFixture.h"
#include "windows/FormantTrack.h"
#include "windows/SpectrogramAnalysis.h"
#include "windows/SpectrumAnalysis.h"
#include "windows/ui/FFTView.h"
#include "windows/ui/FFTWindowController.h"
#include "windows/ui/SpectrogramWindowController.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;

using test::moveTo;
using test::oneDecimal;
using test::text;
using test::settledThreadCount;
using test::threadCount;
using test::waitFor;

class SpectrogramWindowTest : public test::AppFixture {
protected:
    SpectrogramWindowTest() : AppFixture("phonaxis-spectrogram-window-") {}

    MainWindowController* openRecording(const std::vector<float>& samples,
                                        const std::string& name = "vowels.wav")
    {
        const auto bytes = wavBytes(samples, kRateHz, prompts);
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

    static SpectrogramWindowController* open(MainWindowController& window,
                                             const char* command = "_AnalysisSpectrogram:")
    {
        window.action(QString::fromLatin1(command))->trigger();
        const QList<QWidget*> windows = window.analysisWindows();
        return windows.isEmpty() ? nullptr
                                 : qobject_cast<SpectrogramWindowController*>(windows.back());
    }

    // The document window on `samples` and its spectrogram window once its
    // picture is finished; a null window where either did not come.
    std::pair<MainWindowController*, SpectrogramWindowController*> openFinished(
        const std::vector<float>& samples)
    {
        MainWindowController* window = openRecording(samples);
        SpectrogramWindowController* spectrogram = window != nullptr ? open(*window) : nullptr;
        if (spectrogram == nullptr || !finished(*spectrogram)) {
            return {window, nullptr};
        }
        return {window, spectrogram};
    }

    // Waits for the spectrogram of the image area's current size.
    static bool finished(SpectrogramWindowController& spectrogram)
    {
        return waitFor([&spectrogram] {
            const SpectrogramResult* shown = spectrogram.result();
            const SpectrogramGraphLayout panes = spectrogram.view()->layout();
            return shown != nullptr && shown->columns == panes.columns() &&
                   shown->rows == panes.rows();
        });
    }

    // The engine run directly on what the window computed from.
    static SpectrogramResult direct(const MyDocument& document, const SpectrogramResult& shown)
    {
        return DoSpectrogram(
            SpectrogramInput::fromDocument(document, false, shown.columns, shown.rows), nullptr, 1);
    }

    static constexpr double kRateHz = 10000.0;
    sig::VowelSequence vowels = sig::vowelSequence(kRateHz, 1500.0);
};

TEST_F(SpectrogramWindowTest, OpensOnTheAudioChannelWithTheEngineTracksAndLogsThem)
{
    MainWindowController* empty = application->newDocument();
    EXPECT_FALSE(empty->isCommandEnabled("_AnalysisSpectrogram:"));

    MainWindowController* window = openRecording(vowels.audio);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isCommandEnabled("_AnalysisSpectrogram:"));
    EXPECT_FALSE(window->isCommandEnabled("_AnalysisSpectrogramSelection:")); // no selection
    SpectrogramWindowController* spectrogram = open(*window);
    ASSERT_NE(spectrogram, nullptr);
    EXPECT_EQ(spectrogram->windowTitle().toStdString(), "Spectrogram:: vowels.wav (Audio)");
    ASSERT_TRUE(finished(*spectrogram));
    EXPECT_FALSE(spectrogram->findChild<QPushButton*>("_spectrogramCancel")->isVisible());

    // One column per pixel of the image area, the same levels and tracks as
    // the engine's.
    const SpectrogramResult& shown = *spectrogram->result();
    const SpectrogramGraphLayout panes = spectrogram->view()->layout();
    EXPECT_EQ(shown.columns, panes.columns());
    EXPECT_EQ(shown.rows, panes.rows());
    const MyDocument& document = window->document();
    const SpectrogramResult expected = direct(document, shown);
    EXPECT_EQ(shown.levels, expected.levels);
    ASSERT_EQ(shown.formants, expected.formants);
    EXPECT_EQ(text(spectrogram, "_spectrogramInfo"),
              "Precise analysis   Formants up to: 5000 Hz   Rate: 10000 Hz   N: 64   "
              "Range: 55 dB   Bandwidth: 156 Hz   Pre-emphasis: 0.98");

    // A drag over the steady 'i' logs its formants every log step, as the
    // engine's entry gives them, near the vowel's own.
    const sig::SteadyVowel& i = vowels.steady[1];
    const SpectrogramGraphInput& graph = *spectrogram->graph();
    const int y = (panes.image.top + panes.image.bottom) / 2;
    const int from = graph.xAt(panes, i.startMs + 20.0);
    const int to = graph.xAt(panes, i.endMs - 20.0);
    window->action("_LogNew:")->trigger();
    spectrogram->refreshCommands();
    QTest::mousePress(spectrogram->view(), Qt::LeftButton, {}, QPoint(from, y));
    moveTo(spectrogram->view(), QPoint(to, y), Qt::LeftButton);
    QTest::mouseRelease(spectrogram->view(), Qt::LeftButton, {}, QPoint(to, y));
    const SpectrogramMarks& marks = spectrogram->marks();
    ASSERT_TRUE(marks.m_bHaveSelection);
    ASSERT_TRUE(spectrogram->action("_LogFormantsSelection:")->isEnabled());
    spectrogram->action("_LogFormantsSelection:")->trigger();
    const std::vector<LogRecord> records = SpectrogramLog::formantsSelection(
        "vowels.wav", expected, 0.0, graph.stopTime, marks.m_dLogDurationStartTime,
        marks.m_dLogDurationStopTime, document.m_dLogStepSize);
    const LogTable& log = application->logController().table();
    ASSERT_EQ(log.rowCount(), records.size());
    ASSERT_GT(records.size(), 50U);
    int nearF2 = 0;
    for (std::size_t row = 0; row < records.size(); ++row) {
        EXPECT_EQ(log.cell(row, "def"), SpectrogramLog::kFormantsSelectionHeader);
        for (int v = 0; v < 6; ++v) {
            const std::string column = "entry" + std::to_string(v + 1);
            EXPECT_NEAR(std::stod(log.cell(row, column.c_str())), records[row].values[v], 5e-4);
        }
        nearF2 += std::abs(records[row].values[2] - i.formants[1].frequencyHz) < 150.0;
    }
    EXPECT_GT(nearF2, int(records.size()) * 8 / 10);

    // The formant track over the same selection: a row every log step timed
    // at its window's centre, F1 … F5 and B1 … B5 as the engine gives them.
    ASSERT_TRUE(spectrogram->action("_LogFormantTrack:")->isEnabled());
    spectrogram->action("_LogFormantTrack:")->trigger();
    FormantTrackInput input;
    input.samples = document.getChannel(0).samples();
    input.sampleRate = kRateHz;
    input.stepMs = document.m_dLogStepSize;
    input.fromMs = marks.m_dLogDurationStartTime;
    input.toMs = marks.m_dLogDurationStopTime;
    input.parameters = FormantTrackParameters::fromDocument(document);
    std::vector<FormantTrackRow> rows;
    ASSERT_EQ(DoFormantTrack(input,
                             [&](std::span<const FormantTrackRow> block) {
                                 rows.insert(rows.end(), block.begin(), block.end());
                                 return true;
                             }),
              FormantTrackEnd::Done);
    ASSERT_EQ(log.rowCount(), records.size() + rows.size());
    ASSERT_GT(rows.size(), 50U);
    int trackNearF2 = 0;
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const std::size_t row = records.size() + k;
        EXPECT_EQ(log.cell(row, "def"), FormantTrackLog::kHeader);
        const LogRecord expectedRow = FormantTrackLog::record("vowels.wav", rows[k]);
        EXPECT_EQ(expectedRow.count, 11);
        for (int v = 0; v < 11; ++v) {
            const std::string column = "entry" + std::to_string(v + 1);
            EXPECT_NEAR(std::stod(log.cell(row, column.c_str())), expectedRow.values[v], 5e-4);
        }
        trackNearF2 += std::abs(rows[k].frequencyHz[1] - i.formants[1].frequencyHz) < 150.0;
    }
    EXPECT_GT(trackNearF2, int(rows.size()) * 8 / 10);
}

TEST_F(SpectrogramWindowTest, MouseReadoutsMarksLogsAndHandOvers)
{
    MainWindowController* window = openRecording(vowels.audio);
    ASSERT_NE(window, nullptr);
    window->action("_LogNew:")->trigger();
    SpectrogramWindowController* spectrogram = open(*window);
    ASSERT_NE(spectrogram, nullptr);
    ASSERT_TRUE(finished(*spectrogram));
    SpectrogramView* view = spectrogram->view();
    const SpectrogramGraphLayout panes = view->layout();
    const SpectrogramGraphInput& graph = *spectrogram->graph();
    const SpectrogramResult& shown = *spectrogram->result();
    const SpectrogramMarks& marks = spectrogram->marks();

    // The document window opens the spectra and the formant plots.
    const QPoint at(panes.image.left + 300, panes.image.bottom - 40);
    QTest::mouseClick(view, Qt::LeftButton, {}, at);
    std::vector<std::tuple<double, double, bool>> spectra;
    std::vector<std::pair<FormantDictionary, bool>> plots;
    QObject::connect(spectrogram, &SpectrogramWindowController::spectrumRequested,
                     [&spectra](double a, double b, bool s) { spectra.emplace_back(a, b, s); });
    QObject::connect(spectrogram, &SpectrogramWindowController::formantsRequested,
                     [&plots](const FormantDictionary& f, bool s) { plots.emplace_back(f, s); });

    // The marker at a known pixel: 300 columns of 1500 ms / columns and 40
    // rows of 5000 Hz / rows from the image's corner.
    const double timeMs = 300.0 * 1500.0 / shown.columns;
    const double frequencyHz = 40.0 * 5000.0 / shown.rows;
    ASSERT_TRUE(marks.m_bHaveMarker);
    EXPECT_DOUBLE_EQ(marks.m_dLogMarkerTime, timeMs);
    EXPECT_DOUBLE_EQ(marks.m_dLogFreqValue, frequencyHz);
    EXPECT_EQ(text(spectrogram, "_cursorReadout"), oneDecimal("Time: %1 ms", timeMs));
    EXPECT_EQ(text(spectrogram, "_frequencyReadout"), oneDecimal("Frequency: %1 Hz", frequencyHz));

    // Table of the commands' enabling with a marker (log window shown,
    // receivers connected).
    spectrogram->refreshCommands();
    for (const auto& [command, enabled] : {std::pair{"_AnalysisFFT:", true},
                                           {"_AnalysisFFTSelection:", false},
                                           {"_PlotFormantAll:", true},
                                           {"_PlotFormantSelection:", false},
                                           {"_LogMarker:", true},
                                           {"_LogDuration:", false},
                                           {"_LogFormantsMarker:", true},
                                           {"_LogFormantsSelection:", false},
                                           {"_LogFormantTrack:", true},
                                           {"SaveasPict:", true}}) {
        EXPECT_EQ(spectrogram->action(command)->isEnabled(), enabled) << command;
    }
    spectrogram->action("_LogMarker:")->trigger();
    spectrogram->action("_LogFormantsMarker:")->trigger();
    spectrogram->action("_AnalysisFFT:")->trigger();
    spectrogram->action("_PlotFormantAll:")->trigger();
    const LogTable& log = application->logController().table();
    ASSERT_EQ(log.rowCount(), 2U);
    EXPECT_NEAR(std::stod(log.cell(0, "entry1")), timeMs, 5e-4);
    EXPECT_NEAR(std::stod(log.cell(0, "entry2")), frequencyHz, 5e-4);
    EXPECT_EQ(std::stod(log.cell(1, "entry2")), shown.formants[300][0]);
    const double column300 = 300.0 * (graph.endPoint - graph.startPoint) / shown.columns;
    // The spectrum window opened at the track cursor.
    auto* fft = qobject_cast<FFTWindowController*>(window->analysisWindows().back());
    ASSERT_NE(fft, nullptr);
    EXPECT_TRUE(fft->windowTitle().startsWith("FFT::"));
    EXPECT_NEAR(fft->view()->analysis().m_dStartPoint, column300, 1e-6);
    ASSERT_EQ(spectra.size(), 1U);
    EXPECT_NEAR(std::get<0>(spectra[0]), column300, 1e-6);
    EXPECT_EQ(std::get<1>(spectra[0]), std::get<0>(spectra[0]));
    EXPECT_FALSE(std::get<2>(spectra[0]));
    const FormantPlotColumns all = PlotformantsFromSpectrogram(shown, 0, shown.columns);
    ASSERT_EQ(plots.size(), 1U);
    ASSERT_GT(all.f1.size(), 100U);
    EXPECT_EQ(plots[0].first.at("f1"), all.f1);
    EXPECT_EQ(plots[0].first.at("row"), all.row);
    EXPECT_EQ(plots[0].first.at("label"), all.label);
    // A formant plot window shows them as its rows, unsaved.
    ASSERT_EQ(application->plotFormantWindows().windows().size(), 1U);
    const FormantTable& table = application->plotFormantWindows().windows().back()->GetTable();
    ASSERT_EQ(table.rowCount(), all.f1.size());
    EXPECT_EQ(table.rows()[7], (FormantRow{all.row[7], all.f1[7], all.f2[7], all.f3[7], ""}));
    EXPECT_TRUE(table.m_bDirty);

    // Off the image the readouts show the marker; a press left of the image
    // puts the marker at the start.
    moveTo(view, QPoint(10, at.y()));
    EXPECT_EQ(text(spectrogram, "_cursorReadout"), oneDecimal("Time: %1 ms", timeMs));
    moveTo(view, QPoint(at.x() + 10, at.y()));
    EXPECT_EQ(text(spectrogram, "_cursorReadout"),
              oneDecimal("Time: %1 ms", 310.0 * 1500.0 / shown.columns));
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(10, at.y()));
    EXPECT_EQ(marks.m_dLogMarkerTime, 0.0);

    // A drag from column 100 to 200: the selection, its readout, entries and
    // hand-overs; a press then clears it and leaves no marker.
    const int left = panes.image.left;
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(left + 100, at.y()));
    moveTo(view, QPoint(left + 200, at.y()), Qt::LeftButton);
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(left + 200, at.y()));
    ASSERT_TRUE(marks.m_bHaveSelection && !marks.m_bHaveMarker);
    const double msPerColumn = 1500.0 / shown.columns;
    EXPECT_DOUBLE_EQ(marks.m_dLogDurationTime, 100.0 * msPerColumn);
    EXPECT_EQ(text(spectrogram, "_durationReadout"),
              oneDecimal("Duration: %1 ms", 100.0 * msPerColumn));
    spectrogram->action("_LogDuration:")->trigger();
    spectrogram->action("_AnalysisFFTSelection:")->trigger();
    spectrogram->action("_PlotFormantSelection:")->trigger();
    EXPECT_NEAR(std::stod(log.cell(2, "entry3")), 100.0 * msPerColumn, 5e-4);
    ASSERT_EQ(spectra.size(), 2U);
    fft = qobject_cast<FFTWindowController*>(window->analysisWindows().back());
    ASSERT_NE(fft, nullptr);
    EXPECT_TRUE(fft->windowTitle().startsWith("FFT Selection::"));
    EXPECT_NEAR(fft->view()->analysis().m_dStopPoint, std::get<1>(spectra[1]), 1e-6);
    EXPECT_NEAR(std::get<0>(spectra[1]), 100.0 * msPerColumn * kRateHz / 1000.0, 1e-6);
    EXPECT_NEAR(std::get<1>(spectra[1]), 200.0 * msPerColumn * kRateHz / 1000.0, 1e-6);
    EXPECT_TRUE(std::get<2>(spectra[1]));
    ASSERT_EQ(plots.size(), 2U);
    EXPECT_EQ(plots[1].first.at("f2"), PlotformantsFromSpectrogram(shown, 100, 201).f2);
    EXPECT_TRUE(plots[1].second);
    // A click that ends the selection sets the marker at once, its commands
    // enabled with it.
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(left + 50, at.y()));
    EXPECT_FALSE(marks.m_bHaveSelection);
    EXPECT_TRUE(marks.m_bHaveMarker);
    EXPECT_TRUE(spectrogram->isCommandEnabled("_AnalysisFFT:"));
    EXPECT_FALSE(spectrogram->isCommandEnabled("_AnalysisFFTSelection:"));

    // Save as Picture…: the view's picture, F1's dots red at the engine's
    // rows, the silence before the vowels nearly white.
    const fs::path tif = folder / "pict.tif";
    prompts.savePanelReplies.push_back(tif.string());
    spectrogram->action("SaveasPict:")->trigger();
    const QImage picture =
        QImage(QString::fromStdString(tif.string())).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(picture.size(), view->size());
    int blueAtF1 = 0;
    for (int c = 0; c < shown.columns; ++c) {
        const int f1 = shown.formants[static_cast<std::size_t>(c)][0];
        const int y = panes.image.bottom - f1 * shown.rows / 5000;
        blueAtF1 += f1 > 50 && picture.pixel(panes.image.left + c, y) == qRgb(255, 0, 0);
    }
    EXPECT_GT(blueAtF1, shown.columns / 2);
    const int silentX = panes.image.left + shown.columns / 10; // 150 ms
    EXPECT_GE(qGray(picture.pixel(silentX, panes.image.bottom - 30)), 250);
}

TEST_F(SpectrogramWindowTest, ResizeEditAndSelectionComputeAgain)
{
    MainWindowController* window = openRecording(vowels.audio);
    ASSERT_NE(window, nullptr);
    SpectrogramWindowController* spectrogram = open(*window);
    ASSERT_NE(spectrogram, nullptr);
    ASSERT_TRUE(finished(*spectrogram));
    const int columnsBefore = spectrogram->result()->columns;

    // A second start while one runs replaces it; a resize computes for the
    // new width once it settles.
    spectrogram->start();
    spectrogram->start();
    spectrogram->resize(spectrogram->width() + 120, spectrogram->height());
    ASSERT_TRUE(waitFor([&] {
        return spectrogram->result() != nullptr &&
               spectrogram->result()->columns == columnsBefore + 120;
    }));
    const SpectrogramResult& wider = *spectrogram->result();
    EXPECT_EQ(wider.formants, direct(window->document(), wider).formants);

    // Shrunk as far as it goes, the window keeps room for columns and rows
    // and computes for them.
    spectrogram->resize(40, 40);
    ASSERT_TRUE(finished(*spectrogram));
    EXPECT_GT(spectrogram->result()->columns, 100);
    EXPECT_GT(spectrogram->result()->rows, 50);
    spectrogram->resize(700, 500);
    ASSERT_TRUE(finished(*spectrogram));

    // A selection of 4 samples, shorter than one frame, still gives every
    // column a spectrum; the cut computes the whole-channel window again.
    window->mainView()->repaint();
    Channels& audio = window->document().getChannel(0);
    QTest::mousePress(window->mainView(), Qt::LeftButton, {}, QPoint(300, 30));
    moveTo(window->mainView(), QPoint(301, 30), Qt::LeftButton);
    QTest::mouseRelease(window->mainView(), Qt::LeftButton, {}, QPoint(301, 30));
    ASSERT_TRUE(window->isCommandEnabled("_AnalysisSpectrogramSelection:"));
    ASSERT_LT(audio.m_dDurationStopFile - audio.m_dDurationStartFile, 64.0);
    SpectrogramWindowController* part = open(*window, "_AnalysisSpectrogramSelection:");
    ASSERT_NE(part, nullptr);
    ASSERT_TRUE(finished(*part));
    EXPECT_EQ(part->result()->columns, part->view()->layout().columns());
    EXPECT_EQ(part->graph()->startTime, audio.m_dDurationStartTime);

    const double lengthBefore = audio.m_dwFileLength;
    window->action("_EditCut:")->trigger();
    ASSERT_LT(audio.m_dwFileLength, lengthBefore);
    EXPECT_EQ(spectrogram->result(), nullptr); // the old image is gone at once
    ASSERT_TRUE(finished(*spectrogram));
    EXPECT_DOUBLE_EQ(spectrogram->graph()->endPoint, audio.m_dwFileLength);
    ASSERT_TRUE(finished(*part));
}

// Zoom and scroll in time: every page is computed afresh at the image's
// resolution (the engine's own columns for that stretch), the scroll bar
// shows while zoomed, and the zoom commands follow the marks.
TEST_F(SpectrogramWindowTest, ZoomAndScrollComputeEachPageAtTheImagesResolution)
{
    const auto [window, spectrogram] = openFinished(vowels.audio);
    ASSERT_NE(spectrogram, nullptr);
    auto* scroller = spectrogram->findChild<QScrollBar*>("_spectrogramScroller");
    ASSERT_NE(scroller, nullptr);
    EXPECT_FALSE(scroller->isVisible());
    EXPECT_FALSE(spectrogram->isCommandEnabled("_ZoomCursor:"));
    EXPECT_FALSE(spectrogram->isCommandEnabled("_ZoomSelection:"));
    const auto shows = [&](double fromMs, double toMs) {
        return waitFor([&] {
            const SpectrogramGraphInput* graph = spectrogram->graph();
            return finished(*spectrogram) && graph != nullptr &&
                   std::abs(graph->startTime - fromMs) < 1e-6 &&
                   std::abs(graph->stopTime - toMs) < 1e-6;
        });
    };

    spectrogram->action("_ZoomIn:")->trigger();
    ASSERT_TRUE(shows(375.0, 1125.0));
    EXPECT_TRUE(scroller->isVisible());
    const SpectrogramResult& zoomed = *spectrogram->result();
    const SpectrogramResult engine =
        DoSpectrogram(SpectrogramInput::fromDocumentRange(window->document(), 375.0, 1125.0,
                                                          zoomed.columns, zoomed.rows),
                      nullptr, 1);
    EXPECT_EQ(zoomed.levels, engine.levels);

    scroller->setValue(0); // the user drags the knob to the start
    ASSERT_TRUE(shows(0.0, 750.0));
    scroller->setValue(scroller->maximum());
    ASSERT_TRUE(shows(750.0, 1500.0));

    spectrogram->action("_ZoomUndo:")->trigger(); // the page before Zoom In
    ASSERT_TRUE(shows(0.0, 1500.0));
    EXPECT_FALSE(scroller->isVisible());

    // A click sets the marker: Zoom at Marker shows one second from it.
    SpectrogramView* view = spectrogram->view();
    const SpectrogramGraphLayout panes = view->layout();
    const QPoint at(panes.image.left + 100, (panes.image.top + panes.image.bottom) / 2);
    QTest::mouseClick(view, Qt::LeftButton, {}, at);
    const double markerMs = spectrogram->marks().m_dLogMarkerTime;
    ASSERT_TRUE(spectrogram->isCommandEnabled("_ZoomCursor:"));
    spectrogram->action("_ZoomCursor:")->trigger();
    ASSERT_TRUE(shows(std::min(markerMs, 500.0), std::min(markerMs, 500.0) + 1000.0));
    EXPECT_FALSE(spectrogram->marks().m_bHaveMarker); // the marks belong to the page they were made on
    spectrogram->action("_ZoomHome:")->trigger();
    ASSERT_TRUE(shows(0.0, 1500.0));
}

TEST_F(SpectrogramWindowTest, CancelOrCloseWhileComputingLeavesNoImageAndNoThread)
{
    MainWindowController* window = openRecording(vowels.audio);
    ASSERT_NE(window, nullptr);
    // Long transforms and a high LPC order make every column slow.
    window->document().m_nSpecWindowLength = 8192;
    window->document().m_nSpecLPCNumberofCoefficients = 200;
    QApplication::processEvents();
    const std::ptrdiff_t before = threadCount();

    SpectrogramWindowController* spectrogram = open(*window);
    ASSERT_NE(spectrogram, nullptr);
    ASSERT_TRUE(spectrogram->computing());
    auto* cancel = spectrogram->findChild<QPushButton*>("_spectrogramCancel");
    ASSERT_TRUE(cancel->isVisible());
    EXPECT_FALSE(spectrogram->isCommandEnabled("SaveasPict:"));
    QTest::mouseClick(cancel, Qt::LeftButton);
    EXPECT_FALSE(spectrogram->computing());
    EXPECT_EQ(spectrogram->result(), nullptr);
    EXPECT_FALSE(cancel->isVisible());
    EXPECT_EQ(settledThreadCount(before), before);

    SpectrogramWindowController* closing = open(*window);
    ASSERT_NE(closing, nullptr);
    ASSERT_TRUE(closing->computing());
    closing->action("performClose:")->trigger();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(window->analysisWindows().size(), 1); // the cancelled one
    EXPECT_EQ(settledThreadCount(before), before);

    // Closing the document while one computes closes it too.
    ASSERT_NE(open(*window), nullptr);
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(settledThreadCount(before), before);
}

// While the worker runs, the picture fills with the columns finished so far
// (white where none is yet) and nothing can be measured on it until it is
// done.
TEST_F(SpectrogramWindowTest, ImageFillsWhileTheWorkerRuns)
{
    MainWindowController* window = openRecording(vowels.audio);
    ASSERT_NE(window, nullptr);
    window->document().m_nSpecWindowLength = 8192;
    window->document().m_nSpecLPCNumberofCoefficients = 200;
    window->document().m_bPreciseAnalysis = false; // the slow classic tracks of order 200
    SpectrogramWindowController* spectrogram = open(*window);
    ASSERT_NE(spectrogram, nullptr);
    ASSERT_TRUE(waitFor([&] { return spectrogram->graph() != nullptr; }));
    ASSERT_TRUE(spectrogram->computing());
    EXPECT_EQ(spectrogram->result(), nullptr);
    EXPECT_FALSE(spectrogram->isCommandEnabled("SaveasPict:"));
    EXPECT_FALSE(spectrogram->isCommandEnabled("_PlotFormantAll:"));

    const QImage& image = spectrogram->graph()->image;
    const SpectrogramGraphLayout panes = spectrogram->view()->layout();
    ASSERT_EQ(image.width(), panes.columns());
    int painted = 0;
    int blank = 0;
    for (int x = 0; x < image.width(); ++x) {
        bool white = true;
        for (int y = 0; y < image.height() && white; ++y) {
            white = qGray(image.pixel(x, y)) == 255;
        }
        (white ? blank : painted) += 1;
    }
    EXPECT_GT(painted, 0);
    EXPECT_GT(blank, 0);

    spectrogram->cancelComputation();
    EXPECT_EQ(spectrogram->graph(), nullptr);
}

TEST_F(SpectrogramWindowTest, FrequencyRangeAboveHalfTheRateIsToldAndOpensNothing)
{
    MainWindowController* window = openRecording(vowels.audio);
    ASSERT_NE(window, nullptr);
    window->document().m_nSpecfrequencyRange = 6000;
    window->action("_AnalysisSpectrogram:")->trigger();
    EXPECT_TRUE(window->analysisWindows().isEmpty());
    ASSERT_EQ(prompts.alerts.size(), 1U);
    EXPECT_EQ(prompts.alerts[0].message,
              "The frequency range of 6000 Hz is above half the sample rate of 10000 Hz. Choose a "
              "smaller range in Options ▸ Spectrogram.");
}

} // namespace
} // namespace phonaxis
