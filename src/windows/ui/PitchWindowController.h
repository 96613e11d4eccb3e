#pragma once

#include "windows/ui/AnalysisWindowContext.h"
#include "windows/ui/PitchView.h"

#include <QMainWindow>

#include <memory>
#include <optional>
#include <string>

class QLabel;
class QProgressBar;
class QPushButton;
class QScrollBar;
class QTimer;

namespace phonaxis {

class Channels;
class PitchWorker;
struct PitchTrack;

// The pitch window of one document: the pitch track of the document's audio
// channel with its intensity, waveform and labels, a marker and selection
// with readouts, its own zoom, three measurement-log entries, a picture and
// a printout. The track is computed on a worker thread from a copy of the
// channel (PitchWorker) while a progress bar with a Cancel button shows how
// far it has got; the window stays usable meanwhile. When the document's
// samples change the window computes again from a new copy, so the track
// always belongs to the samples the document holds. Every QAction is named
// by its command; enabling is evaluated when a menu shows and after every
// change. Main thread only; deletes itself when closed, and closing stops
// and joins the worker.
class PitchWindowController : public QMainWindow {
    Q_OBJECT
public:
    static constexpr const char* kTitlePrefix = "Pitch:: ";

    // Why `document` gives no pitch track: no audio channel with samples,
    // or a step shorter than one sample. Nothing when it can be analysed.
    static std::optional<std::string> cannotAnalyse(const MyDocument& document);

    // A window for the document of `context`, titled kTitlePrefix and the
    // document's name. start() begins the computation.
    explicit PitchWindowController(AnalysisWindowContext context);
    ~PitchWindowController() override;

    // Copies the audio channel and the settings and starts the worker; a
    // computation already running is cancelled first. False (with the
    // reason shown in the window) when the document cannot be analysed.
    bool start();
    // The document's samples changed: compute again.
    void samplesChanged();

    // Whether the worker is computing.
    bool computing() const;
    // The track shown; null while computing, after a cancel or a failure.
    const PitchTrack* track() const { return m_track.get(); }
    PitchView* view() const { return m_view; }
    // The action of a command, by name.
    QAction* action(const QString& command) const;
    // Whether `command` is enabled now.
    bool isCommandEnabled(const std::string& command) const;
    void refreshCommands();

public slots:
    void SaveasPict();
    void printDocument();
    void ZoomUndo() { zoom("_ZoomUndo:", 0); }
    void ZoomIn() { zoom("_ZoomIn:", 1); }
    void ZoomOut() { zoom("_ZoomOut:", 2); }
    void ZoomSelection() { zoom("_ZoomSelection:", 3); }
    void ZoomCursor() { zoom("_ZoomCursor:", 4); }
    void ZoomHome() { zoom("_ZoomHome:", 5); }
    void LogPitchMarker();
    void LogPitchSelection();
    void LogPitchAll();
    // The analysed channel through the document window's sound card: the
    // page shown (the whole channel when not zoomed), or the selection.
    void Play();
    void PlaySelection();
    // Stops the computation; the window is left without a track.
    void cancelComputation();

protected:
    void changeEvent(QEvent* event) override;

private:
    void buildMenus();
    void buildContents();
    void zoom(const char* command, int mode);
    // Polls the worker: progress, and the track once it is done.
    void pollWorker();
    void showProgress(bool computing, const QString& status);
    void showInfo();
    void showReadout(const std::optional<PitchReadout>& readout);
    // The scroll bar after a zoom, and the page after a scroll.
    void followPage();
    void scrolled(int valueMs);
    void logRecords(const std::vector<LogRecord>& records);
    std::optional<PitchGraphInput> pictureInput() const;

    AnalysisWindowContext m_context;
    std::unique_ptr<PitchWorker> m_worker;
    std::unique_ptr<PitchTrack> m_track;
    PitchView* m_view = nullptr;
    QScrollBar* m_scroller = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_cancel = nullptr;
    QLabel* m_status = nullptr;
    QLabel* m_info = nullptr;
    QLabel* m_time = nullptr;
    QLabel* m_pitch = nullptr;
    QLabel* m_intensity = nullptr;
    QLabel* m_duration = nullptr;
    QTimer* m_poll = nullptr;
    bool m_bFollowing = false; // the scroll bar is being set, not scrolled
};

} // namespace phonaxis
