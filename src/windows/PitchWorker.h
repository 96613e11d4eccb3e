#pragma once

#include "model/Channels.h"
#include "model/MinMaxSummary.h"
#include "windows/PitchAnalysis.h"

#include <atomic>
#include <memory>
#include <thread>

namespace phonaxis {

// What the pitch window shows, all made from one copy of the analysed
// channel: the copy (samples, rate, reference, intensity settings, and its
// intensity track when one was asked for), the analysis with its track, and
// the min/max summary that draws the copy's waveform fast.
struct PitchTrack {
    Channels channel;
    PitchAnalysis analysis;
    MinMaxSummary summary;

    // The copy's level at `timeMs` in dBFS (Channels::intensityDbfsAt), the
    // figure the readouts and log entries give; it needs no intensity track.
    double intensityAt(double timeMs) const { return channel.intensityDbfsAt(timeMs); }
};

// The pitch track (and, with `withIntensity`, the intensity track) of one
// channel computed on a worker thread. The constructor copies the channel's
// samples and the settings the analyses read, so that the document may be
// edited or closed while the worker runs; the track is the one
// DoPitchCepstral gives on those samples, whatever the thread count.
// Destroying (or cancel()ing) the worker stops the computation and joins
// the thread, so a closed window never leaves a worker behind.
class PitchWorker {
public:
    enum class Outcome {
        Running,
        Computed,  // take() gives the track
        Cancelled, // cancel() stopped it; no track
        Failed,    // the settings give no track, or memory ran out
    };

    PitchWorker(const Channels& channel, int channelIndex, const PitchParameters& parameters,
                bool withIntensity, int threads = 0);
    ~PitchWorker();
    PitchWorker(const PitchWorker&) = delete;
    PitchWorker& operator=(const PitchWorker&) = delete;

    bool busy() const { return m_outcome.load() == Outcome::Running; }
    Outcome outcome() const { return m_outcome.load(); }
    // Fraction of the work done, 0 … 1.
    double progress() const;
    // Asks the worker to stop; it ends within one frame per thread.
    void cancel();
    // Waits for the worker, then hands over the track: null unless it was
    // computed, and null on every later call.
    std::unique_ptr<PitchTrack> take();

private:
    void run(int threads) noexcept;

    std::unique_ptr<PitchTrack> m_track;
    bool m_bWithIntensity = false;
    PitchProgress m_progress;
    std::atomic<double> m_intensityDone{0.0};
    std::atomic<Outcome> m_outcome{Outcome::Running};
    std::thread m_thread;
};

} // namespace phonaxis
