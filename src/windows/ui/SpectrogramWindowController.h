#pragma once

#include "display/PictureExport.h"
#include "log/FormantTable.h"
#include "windows/SpectrogramAnalysis.h"
#include "windows/SpectrogramMarks.h"
#include "windows/TimePage.h"
#include "windows/ui/AnalysisWindowShell.h"
#include "windows/ui/SpectrogramView.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>

class QLabel;
class QTimer;

namespace phonaxis {

class SpectrogramWorker;

// The spectrogram window of one document: the grey image of the channel
// the user picked (the document's audio channel by default), over the whole
// channel (mode 0) or the selection it was opened on (mode 1), with its
// formant tracks, waveform pane and label strip, the marker and selection
// with their readouts, four measurement-log entries, the hand-overs to
// spectrum windows and to the formant plot, and its own zoom and scroll
// bar. The image has a column per pixel of its area, so every page is
// computed afresh at the image's resolution: on a worker thread
// (SpectrogramWorker) from a copy of the samples its columns read, while
// the progress row shows how far it has got and the picture fills with the
// columns finished so far, redrawn every 0.5 s. A resize or a scroll
// computes it again once it settles (the old image is shown scaled
// meanwhile); an edit of the document's samples computes it again from a
// new copy. Closing stops and joins the worker.
class SpectrogramWindowController : public AnalysisWindowShell {
    Q_OBJECT
public:
    // Why channel `channel` of `document` (-1: its audio channel) gives no
    // spectrogram: no such channel with samples, or a frequency range above
    // half its sample rate. Nothing when it can be analysed.
    static std::optional<std::string> cannotAnalyse(const MyDocument& document, int channel = -1);

    // A window for the document of `context` over the whole channel
    // (`selection` false) or its selection, titled "Spectrogram:: ", the
    // document's name and the channel's title. start() begins the
    // computation.
    SpectrogramWindowController(AnalysisWindowContext context, bool selection);
    ~SpectrogramWindowController() override;

    // Copies the samples and the settings for the image's current size and
    // starts the worker; a computation already running is cancelled first.
    // False (with the reason shown in the window) when nothing can be
    // computed.
    bool start();
    // The document's samples changed: the marks go, the image is computed
    // again.
    void samplesChanged();

    bool computing() const;
    // Stops the computation; the window is left without a spectrogram.
    void cancelComputation() override;
    // The finished spectrogram; null while computing, after a cancel or a
    // failure.
    const SpectrogramResult* result() const;
    // The picture shown: the finished spectrogram's, or while computing the
    // columns finished so far (without marks); null when there is neither.
    const SpectrogramGraphInput* graph() const { return m_graph ? &*m_graph : nullptr; }
    const SpectrogramMarks& marks() const { return m_marks; }
    SpectrogramView* view() const { return m_view; }
    // The stretch shown and computed, in ms of the channel (empty before
    // the first start).
    std::optional<TimePage> page() const { return m_page; }
    bool isCommandEnabled(const std::string& command) const override;

signals:
    // _AnalysisFFT: (at the track cursor: start and stop the same sample)
    // and _AnalysisFFTSelection: ask for a spectrum window over channel
    // samples [startSample, stopSample] of the analysed channel
    // (the document window opens it). The commands are enabled only while
    // something is connected.
    void spectrumRequested(double startSample, double stopSample, bool selection);
    // _PlotFormantAll: and _PlotFormantSelection: hand the formant columns
    // (keys "row", "f1", "f2", "f3", "label") to a formant plot window
    // (FormantTable::ReadDocumentFromSpectrogramDict; the document window
    // opens it). Enabled only while something is connected.
    void formantsRequested(const phonaxis::FormantDictionary& formants, bool selection);

public slots:
    void AnalysisFFT();
    void AnalysisFFTSelection();
    void PlotFormantAll();
    void PlotFormantSelection();
    void LogMarker();
    void LogDuration();
    void LogFormantsMarker();
    void LogFormantsSelection();
    // The formant track (FormantTrack) over the marks' selection, or the
    // whole range shown, every log step (m_dLogStepSize ms) with the
    // document's settings: one "Formant Track Entry" record per row, timed at
    // its analysis window's centre. Computed behind a progress dialog (the
    // rows on threads), which a long track shows and can cancel.
    void LogFormantTrack();
    // The audio channel through the document window's sound card: the
    // analysed range, or the selection. Playing the whole channel is the
    // main view's command and is disabled here.
    void PlayWindow();
    void PlaySelection();

protected:
    GraphDrawing pictureDrawing() const override;
    void zoom(const char* command, int mode) override;
    void pageScrolled(double startMs, bool atEnd) override;

private:
    // The channel's length in ms, 0 without one.
    double channelLengthMs() const;
    // Polls the worker: progress and the columns so far, and the picture
    // once it is done.
    void pollWorker() override;
    void showColumnsSoFar();
    void resized();
    void showInfo(const SpectrogramInput* input);
    void showReadout(const std::optional<SpectrogramView::Readout>& readout);
    void handOverFormants(bool selection);
    // The marks' selection in samples of the analysed channel.
    std::pair<double, double> selectionSamples() const;
    bool spectrumConnected() const;
    bool formantsConnected() const;

    bool m_bSelection = false;
    bool m_bTooSmall = false;  // the last start found no room for an image
    bool m_bPageMoved = false; // scrolled since the last start
    // The stretch analysed, ms: set at the first start (the whole channel
    // or the selection), then moved by zoom and scroll.
    std::optional<TimePage> m_page;
    std::unique_ptr<SpectrogramWorker> m_worker; // running, or finished and holding the data
    std::optional<SpectrogramGraphInput> m_graph;
    SpectrogramResult m_preview; // the columns finished so far, while computing
    bool m_bFinished = false;    // m_graph shows the worker's finished result
    SpectrogramMarks m_marks;
    SpectrogramView* m_view = nullptr;
    QLabel* m_frequency = nullptr;
    QTimer* m_settle = nullptr; // a resize or a scroll computes again once it settles
};

} // namespace phonaxis
