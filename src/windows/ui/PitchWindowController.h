#pragma once

#include "windows/ui/AnalysisWindowShell.h"
#include "windows/ui/PitchView.h"

#include <memory>
#include <optional>
#include <string>

class QLabel;

namespace phonaxis {

class Channels;
class PitchWorker;
struct PitchTrack;

// The pitch window of one document: the pitch track of the channel the
// user picked (the document's audio channel by default) with its intensity,
// waveform and labels, a marker and selection with readouts, its own zoom
// and three measurement-log entries. The track is computed on a worker
// thread from a copy of the channel (PitchWorker) while the progress row
// shows how far it has got; the window stays usable meanwhile. When the
// document's samples change the window computes again from a new copy, so
// the track always belongs to the samples the document holds. Closing stops
// and joins the worker.
class PitchWindowController : public AnalysisWindowShell {
    Q_OBJECT
public:
    // Nothing when channel `channel` of `document` (-1: its audio channel)
    // can be tracked; else why not: it has no samples, or the pitch step is
    // shorter than one sample.
    static std::optional<std::string> cannotAnalyse(const MyDocument& document, int channel = -1);

    // A window for the document of `context`, titled "Pitch:: ", the
    // document's name and the channel's title. start() begins the
    // computation.
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
    bool isCommandEnabled(const std::string& command) const override;

public slots:
    void LogPitchMarker();
    void LogPitchSelection();
    void LogPitchAll();
    // The analysed channel through the document window's sound card: the
    // page shown (the whole channel when not zoomed), or the selection.
    void Play();
    void PlaySelection();
    // Stops the computation; the window is left without a track.
    void cancelComputation() override;

protected:
    void pageScrolled(double startMs, bool atEnd) override;
    GraphDrawing pictureDrawing() const override;

private:
    void zoom(const char* command, int mode) override;
    // Polls the worker: progress, and the track once it is done.
    void pollWorker() override;
    void showInfo();
    void showReadout(const std::optional<PitchReadout>& readout);
    // The scroll bar after a zoom or a new track.
    void followTrackPage();

    std::unique_ptr<PitchWorker> m_worker;
    std::unique_ptr<PitchTrack> m_track;
    PitchView* m_view = nullptr;
    QLabel* m_pitch = nullptr;
    QLabel* m_intensity = nullptr;
};

} // namespace phonaxis
