// The spectrum window opened from the document window's Analysis menu on a
// generated vowel: title, info fields, formant text and log records against
// the engine's own values, the marker and readouts under the mouse, the
// enabling of the commands, editing and resizing while it is open, the
// alerts and Cancel, its picture and print.
#include "support/VowelRecording.h" // before Qt: its "signals" keyword is a macro

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

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPrinter>
#include <QTest>

#include <gtest/gtest.h>

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

    // "vowel.wav" in a shown window, with the marker (a click) or the
    // selection (a drag) placed and the menus' enabling evaluated.
    MainWindowController* openVowel(SpectrumPlace place)
    {
        const fs::path path = folder / "vowel.wav";
        const auto bytes = test::vowelWav();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes->data()), std::streamsize(bytes->size()));
        MainWindowController* window = application->openPath(QString::fromStdString(path.string()));
        if (window == nullptr) {
            return nullptr;
        }
        window->resize(800, 400);
        window->show();
        MainViewPane* pane = window->mainView();
        pane->repaint();
        if (place == SpectrumPlace::Marker) {
            QTest::mouseClick(pane, Qt::LeftButton, {}, QPoint(300, 40));
        } else {
            QTest::mousePress(pane, Qt::LeftButton, {}, QPoint(150, 40));
            moveMouse(pane, QPoint(600, 40), Qt::LeftButton);
            QTest::mouseRelease(pane, Qt::LeftButton, {}, QPoint(600, 40));
        }
        window->refreshCommands();
        return window;
    }

    // The newest analysis window of `window`, or null.
    static FFTWindowController* newest(MainWindowController& window)
    {
        const QList<QWidget*> open = window.analysisWindows();
        return open.isEmpty() ? nullptr : qobject_cast<FFTWindowController*>(open.back());
    }

    // Opens the window's Log menu (its enabling is evaluated) and chooses `entry`.
    static void chooseFromLogMenu(FFTWindowController& fft, const char* entry)
    {
        emit fft.menuBar()->findChild<QMenu*>("Log")->aboutToShow();
        fft.action(entry)->trigger();
    }

    // The log as the engine's own records make it.
    static std::string logOf(const std::vector<LogRecord>& records)
    {
        LogTable table;
        for (const LogRecord& record : records) {
            table.AddLog(record, false);
        }
        return table.toText();
    }
    std::string logText() { return application->logController().table().toText(); }
};

// The description of the first object named `name` below `window` in the
// accessibility tree, as a screen reader reaches it; empty when none is.
QString accessibleDescriptionOf(QWidget* window, const QString& name)
{
    std::vector<QAccessibleInterface*> pending{QAccessible::queryAccessibleInterface(window)};
    while (!pending.empty()) {
        QAccessibleInterface* node = pending.back();
        pending.pop_back();
        if (node == nullptr) {
            continue;
        }
        if (node->text(QAccessible::Name) == name) {
            return node->text(QAccessible::Description);
        }
        for (int i = 0; i < node->childCount(); ++i) {
            pending.push_back(node->child(i));
        }
    }
    return {};
}

TEST_F(SpectrumWindowTest, WindowShowsAndLogsTheEnginesSpectrumAndKeepsItWhileTheDocumentChanges)
{
    for (const SpectrumPlace place : {SpectrumPlace::Marker, SpectrumPlace::Selection}) {
        const bool marker = place == SpectrumPlace::Marker;
        SCOPED_TRACE(marker ? "marker" : "selection");
        MainWindowController* window = openVowel(place);
        ASSERT_NE(window, nullptr);
        // The classic LPC formants of this flat-source vowel lie near its truth.
        window->document().m_bPreciseAnalysis = false;
        std::vector<double> reports;
        window->setProgressDriver([&](double fraction) {
            reports.push_back(fraction);
            return true;
        });
        window->action(marker ? "_AnalysisFFT:" : "_AnalysisFFTSelection:")->trigger();
        FFTWindowController* fft = newest(*window);
        ASSERT_NE(fft, nullptr);
        EXPECT_TRUE(fft->isVisible());
        EXPECT_FALSE(reports.empty());
        EXPECT_EQ(fft->windowTitle(), marker ? "FFT:: vowel.wav (Audio)" : "FFT Selection:: vowel.wav (Audio)");

        // The same start computed directly, in samples of the audio channel.
        const Channels& audio = window->document().getChannel(0);
        SpectrumAnalysis direct;
        ASSERT_EQ(
            direct.doPerformFFTLPC(window->document(),
                                   marker ? audio.m_dMarkerFileValue : audio.m_dDurationStartFile,
                                   marker ? audio.m_dMarkerFileValue : audio.m_dDurationStopFile),
            SpectrumStart::Computed);
        EXPECT_EQ(direct.framesAnalysed() > 1, !marker);
        FFTView* view = fft->view();
        EXPECT_EQ(copied(view->analysis().spectrum()), copied(direct.spectrum()));
        // A screen reader finds the graph by its name in the window's
        // accessibility tree and reads the formants painted in it.
        const QString spoken = accessibleDescriptionOf(fft, QStringLiteral("Spectrum"));
        for (int i = 0; i < 3; ++i) {
            EXPECT_TRUE(spoken.contains(QStringLiteral("F%1 %2 Hz (bandwidth %3 Hz)")
                                            .arg(i + 1)
                                            .arg(direct.m_dFormat[std::size_t(i)], 0, 'f', 1)
                                            .arg(direct.m_dBandWidth[std::size_t(i)], 0, 'f', 1)))
                << spoken.toStdString();
        }
        EXPECT_TRUE(spoken.startsWith("Classic analysis: LPC order 14.")) << spoken.toStdString();
        EXPECT_NEAR(view->analysis().m_dFormat[0], 730.0, 60.0);
        const auto fields = direct.infoFields();
        ASSERT_EQ(fields.size(), 7u);
        for (int i = 0; i < 7; ++i) {
            EXPECT_EQ(fft->infoText(i).toStdString(), fields[std::size_t(i)].text) << i;
        }
        EXPECT_EQ(fft->infoText("analysis"), "Classic");
        EXPECT_EQ(fft->infoText("lpcOrder"), "14");

        // The recording is cut away entirely (its samples freed) and the
        // window resized: the spectrum stays, the graph follows the size.
        window->action("_EditSelectAll:")->trigger();
        window->action("_EditCut:")->trigger();
        ASSERT_EQ(window->document().getChannel(0).samples().size(), 0u);
        fft->resize(marker ? QSize(500, 300) : QSize(1200, 700));
        const QImage picture = view->grab().toImage();
        const Rect resized = spectrumGraphRect(view->size());
        EXPECT_EQ(view->graphRect().right, resized.right);
        EXPECT_EQ(view->graphRect().bottom, resized.bottom);
        EXPECT_GT(resized.right, view->width() - 40);
        bool curveAtRightEnd = false;
        for (int y = resized.top + 1; y < resized.bottom && !curveAtRightEnd; ++y) {
            curveAtRightEnd = qGray(picture.pixel(resized.right - 2, y)) < 0x60;
        }
        EXPECT_TRUE(curveAtRightEnd);
        EXPECT_EQ(copied(view->analysis().spectrum()), copied(direct.spectrum()));

        // The three entries from the window's own Log menu.
        window->action("_LogNew:")->trigger();
        const QPoint click(200, 100);
        QTest::mouseClick(view, Qt::LeftButton, {}, click);
        const Rect graph = view->graphRect();
        direct.setMarker(true,
                         direct.displayIndexAt(click.x() - graph.left, graph.right - graph.left));
        for (const char* entry :
             {"_LogFormantsMarker:", "_LogFFTFormantBandwidths:", "_LogFFTFrame:"}) {
            chooseFromLogMenu(*fft, entry);
        }
        std::vector<LogRecord> records{direct.markerLogRecord("vowel.wav"),
                                       direct.formantsLogRecord("vowel.wav")};
        for (const LogRecord& record : direct.frameLogRecords("vowel.wav")) {
            records.push_back(record);
        }
        EXPECT_EQ(records.size(), 2u + 500u); // frames 0, 10, … 4990 Hz
        EXPECT_EQ(logText(), logOf(records));
        application->logController().window()->hide(); // "_LogNew:" needs a hidden log

        // Closing the document closes its windows.
        const QPointer<QWidget> open = fft;
        window->close();
        EXPECT_TRUE(open.isNull());
    }
}

TEST_F(SpectrumWindowTest, ReadoutsAndTheMarkerFollowTheMouseInsideTheGraphOnly)
{
    MainWindowController* window = openVowel(SpectrumPlace::Marker);
    ASSERT_NE(window, nullptr);
    window->action("_AnalysisFFT:")->trigger();
    FFTWindowController* fft = newest(*window);
    ASSERT_NE(fft, nullptr);
    FFTView* view = fft->view();
    const Rect graph = view->graphRect();
    const SpectrumAnalysis& analysis = view->analysis();
    const int width = graph.right - graph.left;
    const std::pair<QPoint, bool> points[] = {
        {{graph.left, graph.top + 50}, true},
        {{graph.left + width / 7, graph.top + 30}, true},
        {{graph.right - 1, graph.bottom - 1}, true},
        {{graph.left - 1, graph.top + 50}, false}, // the level labels' margin
        {{graph.left + 40, graph.bottom}, false}, // the frequency labels' margin
    };
    for (const auto& [at, inside] : points) {
        SCOPED_TRACE(testing::Message() << at.x() << "," << at.y());
        moveMouse(view, at);
        QTest::mouseClick(view, Qt::LeftButton, {}, at);
        EXPECT_EQ(analysis.m_bHaveMarker, inside);
        if (!inside) {
            EXPECT_TRUE(fft->powerText().isEmpty() && fft->frequencyText().isEmpty());
            continue;
        }
        const int j = analysis.displayIndexAt(at.x() - graph.left, width);
        EXPECT_EQ(fft->powerText().toStdString(), analysis.powerText(j));
        EXPECT_EQ(fft->frequencyText().toStdString(), analysis.frequencyText(j));
        EXPECT_EQ(analysis.m_dMarkerFreqValue, j * analysis.m_dFreqfactor);
        // The marker: a red bar (alpha 0.8 over the graph) at its point.
        const QImage picture = view->grab().toImage();
        const QRgb bar =
            picture.pixel(spectrumPointX(graph, j, analysis.displayPoints()), graph.top + 2);
        EXPECT_TRUE(qRed(bar) > 200 && qGreen(bar) < 80 && qBlue(bar) < 80) << std::hex << bar;
    }
}

TEST_F(SpectrumWindowTest, LogEntriesAreEnabledByTheirRules)
{
    MainWindowController* window = openVowel(SpectrumPlace::Marker);
    ASSERT_NE(window, nullptr);
    window->action("_AnalysisFFT:")->trigger();
    FFTWindowController* fft = newest(*window);
    ASSERT_NE(fft, nullptr);
    const struct {
        const char* what;
        std::function<void()> act;
        bool marker, others;
    } steps[] = {
        {"log hidden", [] {}, false, false},
        {"log shown", [&] { window->action("_LogNew:")->trigger(); }, false, true},
        {"marker", [&] { QTest::mouseClick(fft->view(), Qt::LeftButton, {}, QPoint(100, 50)); },
         true, true},
        {"no marker", [&] { QTest::mouseClick(fft->view(), Qt::LeftButton, {}, QPoint(5, 50)); },
         false, true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        emit fft->menuBar()->findChild<QMenu*>("Log")->aboutToShow();
        EXPECT_EQ(fft->action("_LogFormantsMarker:")->isEnabled(), step.marker);
        EXPECT_EQ(fft->action("_LogFFTFormantBandwidths:")->isEnabled(), step.others);
        EXPECT_EQ(fft->action("_LogFFTFrame:")->isEnabled(), step.others);
    }
    // A disabled entry logs nothing even when its slot runs.
    fft->LogFormantsMarker();
    EXPECT_EQ(application->logController().table().rowCount(), 0u);
}

TEST_F(SpectrumWindowTest, NothingComputedOpensNoWindow)
{
    const struct {
        const char* what;
        std::function<void(MainWindowController&)> arrange;
        std::string alert; // empty: none
    } cases[] = {
        {"cancelled",
         [](MainWindowController& w) { w.setProgressDriver([](double) { return false; }); }, ""},
        {"range above half the rate",
         [](MainWindowController& w) { w.document().m_nFFTfrequencyRange = 6000; },
         SpectrumAnalysis::kRangeAlertMessage},
        {"transform length not a power of two",
         [](MainWindowController& w) { w.document().m_nFFTWindowLength = 100; },
         FFTWindowController::kDeclinedMessage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MainWindowController* window = openVowel(SpectrumPlace::Selection);
        ASSERT_NE(window, nullptr);
        c.arrange(*window);
        prompts.alerts.clear();
        window->action("_AnalysisFFTSelection:")->trigger();
        EXPECT_TRUE(window->analysisWindows().isEmpty());
        ASSERT_EQ(prompts.alerts.size(), c.alert.empty() ? 0u : 1u);
        if (!c.alert.empty()) {
            EXPECT_EQ(prompts.alerts[0].title, c.alert);
            EXPECT_EQ(prompts.alerts[0].defaultButton, "OK");
        }
        window->close();
    }
    EXPECT_EQ(prompts.alerts.back().message, FFTWindowController::kDeclinedInformative);
}

TEST_F(SpectrumWindowTest, PictureAndPrintDrawTheGraphAndSeveralWindowsMayBeOpen)
{
    MainWindowController* window = openVowel(SpectrumPlace::Marker);
    ASSERT_NE(window, nullptr);
    const fs::path pdf = folder / "print.pdf";
    window->setPrintSetup([&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(pdf.string()));
        return true;
    });
    window->action("_AnalysisFFT:")->trigger();
    window->action("_AnalysisFFT:")->trigger();
    ASSERT_EQ(window->analysisWindows().size(), 2);
    FFTWindowController* fft = newest(*window);

    const fs::path tif = folder / "pict.tif";
    prompts.savePanelReplies.push_back(tif.string());
    fft->action("SaveasPict:")->trigger();
    ASSERT_EQ(prompts.savePanels.size(), 1u);
    EXPECT_EQ(prompts.savePanels[0].offeredTypes,
              (std::vector<std::string>{"png", "pdf", "tif", "svg"}));
    EXPECT_EQ(prompts.savePanels[0].proposedName, "pict.tif");
    EXPECT_EQ(QImage(QString::fromStdString(tif.string())).size(), fft->view()->size());
    fft->action("printDocument:")->trigger();
    EXPECT_EQ(test::fileBytes(pdf).substr(0, 4), "%PDF");

    const QPointer<QWidget> closed = fft;
    fft->action("performClose:")->trigger();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(closed.isNull());
    EXPECT_EQ(window->analysisWindows().size(), 1);
}

} // namespace
} // namespace phonaxis
