// The spectrum window opened from the document window's Analysis menu on a
// generated vowel: title, info fields, formant text and log records against
// the engine's own values, the marker and the readouts under the mouse, the
// enabling of the commands, resizing and editing while it is open, the
// alerts, Cancel, and its picture and print.
#include "Signals.h" // before Qt: its "signals" keyword is a macro

namespace {

std::optional<phonaxis::Bytes> vowelWav(phonaxis::Prompts& prompts, double& rateHz)
{
    const phonaxis::signals::Vowel vowel = phonaxis::signals::vowel({});
    rateHz = vowel.rateHz;
    const std::span<const float> channels[] = {vowel.samples};
    return phonaxis::signals::waveFileBytes(vowel.rateHz, channels, prompts);
}

} // namespace

#include "app/LogController.h"
#include "app/MainWindowController.h"
#include "display/MainViewPane.h"
#include "document/MyDocument.h"
#include "log/LogTable.h"
#include "log/ui/LogWindow.h"
#include "support/AppFixture.h"
#include "support/FileProbes.h"
#include "windows/ui/FFTView.h"
#include "windows/ui/FFTWindowController.h"

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPrinter>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;

std::vector<double> copied(std::span<const double> values)
{
    return {values.begin(), values.end()};
}

void moveMouse(QWidget* widget, QPoint at, Qt::MouseButtons held = Qt::NoButton)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(at), widget->mapToGlobal(QPointF(at)), Qt::NoButton,
                     held, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

class SpectrumWindowTest : public test::AppFixture {
protected:
    SpectrumWindowTest() : AppFixture("phonaxis-spectrum-") {}

    // The vowel ("vowel.wav", 10 kHz, 500 ms, F1 730 Hz) in a shown window.
    MainWindowController* openVowel()
    {
        double rate = 0.0;
        const auto bytes = vowelWav(prompts, rate);
        const fs::path path = folder / "vowel.wav";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes->data()), std::streamsize(bytes->size()));
        MainWindowController* window = application->openPath(QString::fromStdString(path.string()));
        if (window != nullptr) {
            window->resize(800, 400);
            window->show();
            window->mainView()->repaint();
        }
        return window;
    }

    // A click (marker) or a drag (selection) in the main view.
    static void placeMarker(MainWindowController& window)
    {
        QTest::mouseClick(window.mainView(), Qt::LeftButton, {}, QPoint(300, 40));
    }
    static void selectStretch(MainWindowController& window)
    {
        MainViewPane* pane = window.mainView();
        QTest::mousePress(pane, Qt::LeftButton, {}, QPoint(150, 40));
        moveMouse(pane, QPoint(600, 40), Qt::LeftButton);
        QTest::mouseRelease(pane, Qt::LeftButton, {}, QPoint(600, 40));
    }

    // The newest spectrum window of `window`, or null.
    static FFTWindowController* newest(MainWindowController& window)
    {
        const QList<QWidget*> open = window.analysisWindows();
        return open.isEmpty() ? nullptr : qobject_cast<FFTWindowController*>(open.back());
    }

    // The log as the engine's own records would make it.
    static std::string expectedLog(const std::vector<LogRecord>& records)
    {
        LogTable table;
        for (const LogRecord& record : records) {
            table.AddLog(record, false);
        }
        return table.toText();
    }

    std::string logText() { return application->logController().table().toText(); }

    // Opens the window's Log menu (its enabling is evaluated) and chooses `entry`.
    static void chooseFromLogMenu(FFTWindowController& fft, const char* entry)
    {
        emit fft.menuBar()->findChild<QMenu*>("Log")->aboutToShow();
        fft.action(entry)->trigger();
    }
};

TEST_F(SpectrumWindowTest, WindowShowsAndLogsTheEnginesSpectrum)
{
    struct Case {
        const char* command;
        SpectrumPlace place;
        std::string title;
    };
    for (const Case& c :
         {Case{"_AnalysisFFT:", SpectrumPlace::Marker, "FFT::vowel.wav"},
          Case{"_AnalysisFFTSelection:", SpectrumPlace::Selection, "FFT Selection::vowel.wav"}}) {
        SCOPED_TRACE(c.command);
        MainWindowController* window = openVowel();
        ASSERT_NE(window, nullptr);
        window->action("_LogNew:")->trigger();
        c.place == SpectrumPlace::Marker ? placeMarker(*window) : selectStretch(*window);
        window->refreshCommands();
        window->action(c.command)->trigger();
        FFTWindowController* fft = newest(*window);
        ASSERT_NE(fft, nullptr);
        EXPECT_TRUE(fft->isVisible());
        EXPECT_EQ(fft->windowTitle().toStdString(), c.title);

        // The same start computed directly, in samples of the audio channel.
        const Channels& audio = window->document().getChannel(0);
        const double from = c.place == SpectrumPlace::Marker ? audio.m_dMarkerFileValue
                                                             : audio.m_dDurationStartFile;
        const double to =
            c.place == SpectrumPlace::Marker ? audio.m_dMarkerFileValue : audio.m_dDurationStopFile;
        SpectrumAnalysis direct;
        ASSERT_EQ(direct.doPerformFFTLPC(window->document(), from, to), SpectrumStart::Computed);
        EXPECT_GT(direct.framesAnalysed(), c.place == SpectrumPlace::Marker ? 0 : 1);
        const SpectrumAnalysis& shown = fft->view()->analysis();
        EXPECT_EQ(copied(shown.spectrum()), copied(direct.spectrum()));
        EXPECT_EQ(fft->view()->accessibleDescription().toStdString(), direct.formantText());
        EXPECT_NEAR(shown.m_dFormat[0], 730.0, 60.0);
        const std::array<std::string, 6> info = direct.infoTexts();
        for (int i = 0; i < 6; ++i) {
            EXPECT_EQ(fft->infoText(i).toStdString(), info[std::size_t(i)]) << "field " << i;
        }
        EXPECT_EQ(fft->infoText(0), "10000");

        // The three entries from the window's own Log menu.
        QTest::mouseClick(fft->view(), Qt::LeftButton, {}, QPoint(200, 100));
        const SpectrumAnalysis& marked = fft->view()->analysis();
        direct.setMarker(true, marked.displayIndexAt(200 - kSpectrumGraphMargin,
                                                     fft->view()->width() - kSpectrumGraphMargin));
        for (const char* entry :
             {"_LogFormantsMarker:", "_LogFFTFormantBandwidths:", "_LogFFTFrame:"}) {
            chooseFromLogMenu(*fft, entry);
        }
        std::vector<LogRecord> records{direct.markerLogRecord("vowel.wav"),
                                       direct.formantsLogRecord("vowel.wav")};
        for (const LogRecord& record : direct.frameLogRecords("vowel.wav")) {
            records.push_back(record);
        }
        EXPECT_EQ(records.size(), 2u + 500u); // 0, 10, … 4990 Hz
        EXPECT_EQ(logText(), expectedLog(records));
        application->logController().window()->hide(); // "_LogNew:" is for a hidden log
        window->close();
    }
}

TEST_F(SpectrumWindowTest, MarkerAndReadoutsFollowTheMouseInsideTheGraphOnly)
{
    MainWindowController* window = openVowel();
    ASSERT_NE(window, nullptr);
    placeMarker(*window);
    window->action("_AnalysisFFT:")->trigger();
    FFTWindowController* fft = newest(*window);
    ASSERT_NE(fft, nullptr);
    FFTView* view = fft->view();
    const Rect graph = view->graphRect();
    const SpectrumAnalysis& analysis = view->analysis();
    const int width = graph.right - graph.left;
    struct Point {
        QPoint at;
        bool inside;
    };
    const Point points[] = {
        {{graph.left, 50}, true},
        {{graph.left + width / 7, 30}, true},
        {{graph.right - 1, graph.bottom - 1}, true},
        {{graph.left - 1, 50}, false},            // the level labels' margin
        {{graph.left + 40, graph.bottom}, false}, // the frequency labels' margin
        {{5, graph.bottom + 5}, false},
    };
    for (const Point& p : points) {
        SCOPED_TRACE(testing::Message() << p.at.x() << "," << p.at.y());
        moveMouse(view, p.at);
        QTest::mouseClick(view, Qt::LeftButton, {}, p.at);
        if (!p.inside) {
            EXPECT_TRUE(fft->powerText().isEmpty());
            EXPECT_TRUE(fft->frequencyText().isEmpty());
            EXPECT_FALSE(analysis.m_bHaveMarker);
            continue;
        }
        const int j = analysis.displayIndexAt(p.at.x() - graph.left, width);
        EXPECT_EQ(fft->powerText().toStdString(), analysis.powerText(j));
        EXPECT_EQ(fft->frequencyText().toStdString(), analysis.frequencyText(j));
        EXPECT_FALSE(fft->powerText().isEmpty());
        EXPECT_TRUE(analysis.m_bHaveMarker);
        EXPECT_EQ(analysis.m_dMarkerFreqValue, j * analysis.m_dFreqfactor);
    }
    // Leaving the view clears the readouts.
    QEvent leave(QEvent::Leave);
    moveMouse(view, QPoint(graph.left + 10, 10));
    QApplication::sendEvent(view, &leave);
    EXPECT_TRUE(fft->powerText().isEmpty());
}

TEST_F(SpectrumWindowTest, CommandsAndLogEntriesAreEnabledByTheirRules)
{
    MainWindowController* window = openVowel();
    ASSERT_NE(window, nullptr);
    auto enabled = [&](const char* command) {
        window->refreshCommands();
        return window->action(command)->isEnabled();
    };
    EXPECT_FALSE(enabled("_AnalysisFFT:"));
    EXPECT_FALSE(enabled("_AnalysisFFTSelection:"));
    selectStretch(*window);
    EXPECT_FALSE(enabled("_AnalysisFFT:"));
    EXPECT_TRUE(enabled("_AnalysisFFTSelection:"));
    placeMarker(*window); // the first click only ends the selection
    placeMarker(*window);
    EXPECT_TRUE(enabled("_AnalysisFFT:"));
    EXPECT_FALSE(enabled("_AnalysisFFTSelection:"));

    window->action("_AnalysisFFT:")->trigger();
    FFTWindowController* fft = newest(*window);
    ASSERT_NE(fft, nullptr);
    struct Step {
        const char* what;
        std::function<void()> act;
        bool marker, formants, frame;
    };
    const Step steps[] = {
        {"log hidden", [] {}, false, false, false},
        {"log shown", [&] { window->action("_LogNew:")->trigger(); }, false, true, true},
        {"marker set", [&] { QTest::mouseClick(fft->view(), Qt::LeftButton, {}, QPoint(100, 50)); },
         true, true, true},
        {"marker cleared",
         [&] { QTest::mouseClick(fft->view(), Qt::LeftButton, {}, QPoint(5, 50)); }, false, true,
         true},
    };
    QMenu* log = fft->menuBar()->findChild<QMenu*>("Log");
    ASSERT_NE(log, nullptr);
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        emit log->aboutToShow();
        EXPECT_EQ(fft->action("_LogFormantsMarker:")->isEnabled(), step.marker);
        EXPECT_EQ(fft->action("_LogFFTFormantBandwidths:")->isEnabled(), step.formants);
        EXPECT_EQ(fft->action("_LogFFTFrame:")->isEnabled(), step.frame);
    }
    // A disabled entry logs nothing even when chosen.
    const std::size_t rows = application->logController().table().rowCount();
    fft->LogFormantsMarker();
    EXPECT_EQ(application->logController().table().rowCount(), rows);
    // The File menu's commands, with their titles from the shared table.
    EXPECT_EQ(fft->action("SaveasPict:")->text(), "Save as &Picture…");
    EXPECT_EQ(fft->action("performClose:")->shortcut(), QKeySequence(QKeySequence::Close));
}

TEST_F(SpectrumWindowTest, ResizingAndEditingTheDocumentKeepTheComputedSpectrum)
{
    MainWindowController* window = openVowel();
    ASSERT_NE(window, nullptr);
    selectStretch(*window);
    window->action("_AnalysisFFTSelection:")->trigger();
    FFTWindowController* fft = newest(*window);
    ASSERT_NE(fft, nullptr);
    window->action("_LogNew:")->trigger();
    const std::vector<double> spectrum = copied(fft->view()->analysis().spectrum());
    const std::string formants =
        expectedLog({fft->view()->analysis().formantsLogRecord("vowel.wav")});

    // The recording is cut away entirely: its samples are freed.
    window->action("_EditSelectAll:")->trigger();
    window->action("_EditCut:")->trigger();
    ASSERT_FALSE(window->document().m_bHaveData &&
                 window->document().getChannel(0).m_dwFileLength > 0);
    for (const QSize size : {QSize(500, 300), QSize(1200, 700)}) {
        fft->resize(size);
        const QImage picture = fft->view()->grab().toImage();
        const Rect graph = fft->view()->graphRect();
        EXPECT_EQ(graph.right, fft->view()->width());
        EXPECT_EQ(graph.bottom, fft->view()->height() - kSpectrumGraphMargin);
        // The curve reaches the right end of the new graph.
        bool curve = false;
        for (int y = graph.top; y <= graph.bottom && !curve; ++y) {
            curve = qGray(picture.pixel(graph.right - 2, y)) < 0x60;
        }
        EXPECT_TRUE(curve) << size.width();
    }
    EXPECT_EQ(copied(fft->view()->analysis().spectrum()), spectrum);
    chooseFromLogMenu(*fft, "_LogFFTFormantBandwidths:");
    EXPECT_EQ(logText(), formants);
}

TEST_F(SpectrumWindowTest, NothingComputedOpensNoWindow)
{
    struct Case {
        const char* what;
        std::function<void(MainWindowController&)> arrange;
        std::string alert; // empty: none
    };
    const Case cases[] = {
        {"cancelled",
         [](MainWindowController& w) { w.setProgressDriver([](double) { return false; }); }, ""},
        {"range above half the rate",
         [](MainWindowController& w) { w.document().m_nFFTfrequencyRange = 6000; },
         SpectrumAnalysis::kRangeAlertMessage},
        {"transform length not a power of two",
         [](MainWindowController& w) { w.document().m_nFFTWindowLength = 100; },
         FFTWindowController::kDeclinedMessage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MainWindowController* window = openVowel();
        ASSERT_NE(window, nullptr);
        c.arrange(*window);
        prompts.alerts.clear();
        selectStretch(*window);
        window->action("_AnalysisFFTSelection:")->trigger();
        EXPECT_TRUE(window->analysisWindows().isEmpty());
        if (c.alert.empty()) {
            EXPECT_TRUE(prompts.alerts.empty());
        } else {
            ASSERT_EQ(prompts.alerts.size(), 1u);
            EXPECT_EQ(prompts.alerts[0].title, c.alert);
            EXPECT_EQ(prompts.alerts[0].defaultButton, "OK");
        }
        window->close();
    }
    EXPECT_EQ(prompts.alerts.back().message,
              "The FFT/LPC settings or the stretch asked for cannot be analysed. Check "
              "Option->FFT/LPC.");
}

TEST_F(SpectrumWindowTest, ProgressIsReportedAndTheWindowsCloseWithTheirDocument)
{
    MainWindowController* window = openVowel();
    ASSERT_NE(window, nullptr);
    std::vector<double> reports;
    window->setProgressDriver([&](double fraction) {
        reports.push_back(fraction);
        return true;
    });
    const fs::path pdf = folder / "print.pdf";
    window->setPrintSetup([&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(pdf.string()));
        return true;
    });
    placeMarker(*window);
    window->action("_AnalysisFFT:")->trigger();
    selectStretch(*window);
    window->action("_AnalysisFFTSelection:")->trigger();
    ASSERT_EQ(window->analysisWindows().size(), 2);
    EXPECT_FALSE(reports.empty());
    FFTWindowController* fft = newest(*window);

    const fs::path tif = folder / "pict.tif";
    prompts.savePanelReplies.push_back(tif.string());
    fft->action("SaveasPict:")->trigger();
    ASSERT_EQ(prompts.savePanels.size(), 1u);
    EXPECT_EQ(prompts.savePanels[0].requiredType, "tif");
    EXPECT_EQ(prompts.savePanels[0].proposedName, "pict.tif");
    const QImage picture(QString::fromStdString(tif.string()));
    EXPECT_EQ(picture.size(), fft->view()->size());
    fft->action("printDocument:")->trigger();
    EXPECT_EQ(test::fileBytes(pdf).substr(0, 4), "%PDF");

    const QPointer<QWidget> first = window->analysisWindows().front();
    const QPointer<QWidget> second = fft;
    fft->action("performClose:")->trigger();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(second.isNull());
    EXPECT_EQ(window->analysisWindows().size(), 1);
    window->close();
    EXPECT_TRUE(first.isNull());
}

} // namespace
} // namespace phonaxis
