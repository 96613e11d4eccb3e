#pragma once

#include "log/LogRecord.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace phonaxis {

struct DocumentFields;
class Channels;
class PrecisePitch;

// The settings a pitch track is computed with, copied from the document.
struct PitchParameters {
    double m_dPitchWindowLength = 35.0;  // ms
    double m_dPitchStepSize = 10.0;      // ms
    double m_dFreqDeviation = 100.0;     // Hz, largest jump to a neighbour frame
    double m_dTrackingThreshHold = 1.0;  // percent of the largest frame energy
    double m_dCalculationLow = 50.0;     // Hz
    double m_dCalculationHigh = 500.0;   // Hz
    bool m_bPitchDrawIntensity = true;   // intensity pane shown: logged values carry it
    bool m_bPreciseAnalysis = false;     // the precise pitch track

    static PitchParameters fromDocument(const DocumentFields& document);
};

// How far a pitch track has got, and the watcher's wish to stop it; shared
// between the threads that compute frames and the one that watches.
struct PitchProgress {
    std::atomic<int> m_nFrameCount{0};  // frames of the track being computed
    std::atomic<int> m_nFramesDone{0};  // frames whose raw pitch and energy are known
    std::atomic<bool> cancelled{false}; // set to stop the computation early

    // Fraction of the frames done (0 before the frame count is known).
    double fraction() const;
};

// The computation behind the pitch window: the cepstral pitch track of one
// channel with its jump filter, smoother and energy voicing, the frame
// times, the marker and selection, the zoom pages and the three log entries.
class PitchAnalysis {
public:
    static constexpr const char* kMarkerHeader = "Pitch Marker Entry: time, pitch, intensity ";
    static constexpr const char* kSelectionHeader =
        "Pitch Selection Entry: time, pitch, intensity ";

    // intilize: copies the channel's length, duration, rate and reference,
    // start 0 and end = length, the parameters; sets m_bRecalculate; resets
    // the page to the whole channel and the marker log values to 0.
    void intilize(const Channels& channel, int channelIndex, const PitchParameters& parameters);

    // DoPitchCepstral over `samples` (the channel's samples). Frames are
    // independent and are shared among `threads` threads (0: as many as the
    // machine has); the track does not depend on the thread count. False,
    // with no track, when there are no samples or the settings cannot make
    // one (among them a step shorter than one sample). With `progress`, the
    // frames done are counted there, and a cancel set there stops the work
    // within a frame per thread and leaves no track; neither changes the
    // values of a track that is finished.
    //
    // With m_bPreciseAnalysis the track on the same frame grid is the precise
    // one (PrecisePitch): frame k's window is centred on frameTime(k), its
    // candidates come with sub-sample periods, and a path search over the
    // whole track picks among them and decides voicing; m_rawPitch then holds
    // each frame's strongest candidate (0 for none, as for a frame too quiet
    // against the loudest one to be voiced on any path, which is not
    // analysed) and m_frameEnergy the energy over one step centred on the
    // frame; a cancel stops it within a block of 128 frames (a few
    // milliseconds) per thread. windowSamples() and fftLength() report the
    // window (at least three periods of the search floor) and transform it
    // used.
    bool DoPitchCepstral(std::span<const float> samples, int threads = 0,
                         PitchProgress* progress = nullptr);

    // Frames the precise track of a stretch searches beyond it on each side
    // (0.5 s at the 10 ms step): a path through the whole track rarely
    // depends on frames further away.
    static constexpr int kStretchContextFrames = 50;

    // The frame count of the whole channel's track (0 when the settings
    // cannot make one).
    int wholeFrameCount() const;

    // The channel samples [firstSample, endSample) that the precise frames
    // [firstFrame, firstFrame + frameCount) read; false when the settings
    // cannot make a precise track.
    bool preciseStretchSamples(int firstFrame, int frameCount, std::int64_t& firstSample,
                               std::int64_t& endSample) const;

    // The precise track of frames [firstFrame, firstFrame + frameCount) of
    // the channel only, from `samples`, the channel's samples from index
    // `firstSample` on (positions outside them read as 0, so they should
    // cover preciseStretchSamples). Every frame is the one the whole
    // track has; the path search and the loudest frame that voicing is
    // weighed against are those of these frames, so the track equals the
    // whole one where the path does not depend on frames outside them. The
    // arrays then hold these frames, m_nFirstFrame is firstFrame, and
    // frameTime and frameAt count from it. False as DoPitchCepstral, and
    // when the frames lie outside the channel's track or the mode is not
    // the precise one.
    bool DoPreciseStretch(std::span<const float> samples, std::int64_t firstSample, int firstFrame,
                          int frameCount, int threads = 0, PitchProgress* progress = nullptr);

    // The transform length and window (samples) the last track used.
    int fftLength() const { return m_nFFTLength; }
    int windowSamples() const { return m_nWindowSamples; }

    // Frame k's time: k·(m_dLengthMS/F) ms; a time's frame: (int)(F/m_dLengthMS·t).
    // A precise track's frames lie on the step grid: (m_nFirstFrame + k)·m_dPitchStepSize
    // ms, and a time's frame is (int)(t/m_dPitchStepSize) − m_nFirstFrame.
    double frameTime(int frame) const;
    int frameAt(double timeMs) const;
    // Track value at a time (0 outside the track).
    double pitchAt(double timeMs) const;

    // Mouse down at `timeMs`: clears any selection and sets the marker;
    // fills the marker's log values, the intensity from `intensityAt` when
    // the intensity pane is shown (else 0).
    void mouseDown(double timeMs, const std::function<double(double)>& intensityAt);
    // The selection between marker time and cursor time.
    void CalculateDuration();
    // Zoom modes 0 undo, 1 in, 2 out, 3 selection, 4 cursor, 5 home. The
    // page that results lies inside the channel and spans at least
    // minimumPageSamples().
    void CalibrateScroll(int mode);
    // The narrowest page: two frame steps (at least 2 samples), or the
    // whole channel when it is shorter.
    double minimumPageSamples() const;

    // Log records. Intensity values come from `intensityAt` when the
    // intensity pane is shown, else 0.
    LogRecord markerLogRecord(const std::string& displayName) const;
    // One per frame whose time lies within [m_dDurationStartTime,
    // m_dDurationStopTime], voiced or not.
    std::vector<LogRecord> selectionLogRecords(
        const std::string& displayName, const std::function<double(double)>& intensityAt) const;
    // The same for an explicit range of times (inclusive).
    std::vector<LogRecord> rangeLogRecords(const std::string& displayName, double fromMs,
                                           double toMs,
                                           const std::function<double(double)>& intensityAt) const;
    // One per voiced frame of the whole track, under the selection header.
    std::vector<LogRecord> allLogRecords(const std::string& displayName,
                                         const std::function<double(double)>& intensityAt) const;

    // --- state (the view's fields) ----------------------------------------------
    PitchParameters m_parameters;
    int m_nChannel = 0;
    double m_dwFileLength = 0.0;
    double m_dLengthMS = 0.0;
    double m_dSampleRate = 0.0;
    double m_dReference = 0.0;
    double m_dStartPoint = 0.0;
    double m_dEndPoint = 0.0;

    int m_nFrameCount = 0;
    int m_nFirstFrame = 0;             // the channel's frame that is frame 0 here (a stretch)
    std::vector<double> m_hdPitchFile; // Hz per frame, 0 = unvoiced
    std::vector<double> m_rawPitch;    // before the jump filter (kept for inspection)
    std::vector<double> m_frameEnergy;
    bool m_bHavePitch = false;
    bool m_bRecalculate = false;
    bool m_bRedraw = false;
    bool m_bHaveMarker = false;
    bool m_bHaveSelection = false;

    double m_dMarkerTime = 0.0;
    double m_dCursorTime = 0.0;
    double m_dDurationStartTime = 0.0;
    double m_dDurationStopTime = 0.0;
    double m_dDurationTime = 0.0;
    double m_dDurationStartFile = 0.0;
    double m_dDurationStopFile = 0.0;
    double m_dLogMarkerTime = 0.0;
    double m_dLogMarkerPitch = 0.0;
    double m_dLogMarkerIntensity = 0.0;

    double m_dPageMin = 0.0;
    double m_dPageMax = 0.0;
    double m_dTimePageMin = 0.0;
    double m_dTimePageMax = 0.0;
    double m_dUndoPageMin = 0.0;
    double m_dUndoPageMax = 0.0;
    double m_dZoomFactor = 1.0;

private:
    // The precise settings and frame geometry; false when they cannot make a track.
    bool preciseSettings(PrecisePitch& analyser, double& stepSamples, int& frameCount) const;
    bool preciseStretch(std::span<const float> samples, std::int64_t firstSample, int firstFrame,
                        int frameCount, int threads, PitchProgress* progress);

    // Takes a finished track and the window and transform it was made with.
    bool keepTrack(double windowMs, int windowSamples, int fftLength, std::vector<double> track,
                   std::vector<double> raw, std::vector<double> energy);

    int m_nFFTLength = 0;
    int m_nWindowSamples = 0;
};

} // namespace phonaxis
