#pragma once

// The precise pitch track: per-frame candidates with sub-sample lags, a
// voicing measure that rejects noise and silence, and a path search along
// the track that keeps octave jumps out.
//
// The candidates are searched at an analysis rate of at least
// kAnalysisRateHz: the recording is low-passed and decimated by a whole
// factor once per block of frames (never per frame), which keeps everything
// the search uses (the harmonics below kStopHz) and makes a frame's
// transforms a quarter as long at 44.1 kHz. Decimated sample j is the
// filtered signal at channel position j·factor, whatever block it is
// computed in, so frames do not depend on how the track is split.
//
// A frame is a Hann-windowed stretch of the decimated signal centred on the
// frame's time, with its mean removed. One transform of it gives both the
// power spectrum and the log magnitude spectrum, and one more transform
// gives both the autocorrelation and the real cepstrum. The autocorrelation
// is divided by that of the window, which makes it near 1 at the period of a
// periodic signal whatever the window's taper (and near 0 for noise). The
// frame's candidates are the strongest peaks of the cepstrum and of that
// normalised autocorrelation within the search range; each is moved to the
// nearest autocorrelation maximum and refined below one sample by windowed
// sinc interpolation, and its strength is the normalised autocorrelation at
// the refined lag. The frame's peak (for the voicing) is measured on the
// recording itself, at its own rate.
//
// Voicing: every frame also has an unvoiced candidate, strong when the
// frame is quiet against the loudest frame of the track and otherwise as
// strong as the voicing threshold. The path search (Viterbi) then picks one
// candidate per frame, maximising the candidates' strengths less a cost per
// octave of each jump between voiced frames and a cost per change of
// voicing, so a frame that alone jumps an octave does not pass.
//
// Frames are independent of each other until the path search:
// analyseFrame and analyseFrames may be called from any number of threads at
// once (their work storage is thread_local), and the track depends only on
// the frames.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace phonaxis {

struct PrecisePitchSettings {
    double rateHz = 0.0;
    double lowHz = 75.0;    // search floor
    double highHz = 600.0;  // search ceiling
    double windowMs = 35.0; // shortest window; lengthened to three periods of the floor
    double stepMs = 10.0;   // the frame step, which scales the path costs
};

// One candidate of a frame: a voiced F0 and the normalised autocorrelation
// at its period (−1 … 1, 1 for a strictly periodic frame).
struct PitchCandidate {
    double frequencyHz = 0.0;
    double strength = 0.0;
};

// Samples of one channel, possibly only a stretch of it: samples[0] is the
// channel's sample at index `firstSample`, and the channel ends at `end`
// (exclusive). Positions before the span, past it or from `end` on read as 0.
struct PitchSamples {
    std::span<const float> samples;
    std::int64_t firstSample = 0;
    std::int64_t end = 0;
};

struct PitchFrame {
    static constexpr int kMaxCandidates = 8;
    std::array<PitchCandidate, kMaxCandidates> candidates{};
    int count = 0;
    double peak = 0.0; // the largest |sample − mean| inside the window
};

class PitchPath;

class PrecisePitch {
public:
    // Published weights of the path search (per 10 ms step): a frame is
    // voiced when its autocorrelation peak exceeds the voicing threshold; a
    // frame quieter than the silence threshold against the loudest one is
    // unvoiced; the costs are those of an octave jump and of a voicing change,
    // and the octave cost favours the higher of two equally strong octaves.
    static constexpr double kSilenceThreshold = 0.03;
    static constexpr double kVoicingThreshold = 0.45;
    static constexpr double kOctaveCost = 0.01;
    static constexpr double kOctaveJumpCost = 0.35;
    static constexpr double kVoicedUnvoicedCost = 0.14;

    // The lowest rate the candidates are searched at: above twice kStopHz of
    // the search's pass band, so that a whole decimation factor leaves room
    // for the anti-alias filter's transition.
    static constexpr double kAnalysisRateHz = 11025.0;

    // Fixes window, transform and lag range for `settings`; false when they
    // cannot make a track (a rate or range that is not positive and finite,
    // a floor not below the ceiling, or a window beyond the largest
    // transform).
    bool configure(const PrecisePitchSettings& settings);

    // The window in samples of the recording, the transform (at the
    // analysis rate) and the decimation factor (1: none).
    int windowSamples() const { return m_windowSamples; }
    int fftLength() const { return m_fftLength; }
    int decimation() const { return m_factor; }
    double analysisRateHz() const { return m_analysisRateHz; }
    double windowMs() const;

    // How far (samples of the recording) a frame reads on either side of
    // its centre, the decimation filter included: a stretch analysed from
    // its own samples gives the whole recording's frames when it holds this
    // much beyond its first and last frame centre.
    std::int64_t contextSamples() const;

    // The candidates of the frame centred on sample position `centre`;
    // samples [0, available) may be read, positions outside read as 0.
    // False when the work storage cannot be had or configure has not
    // succeeded.
    bool analyseFrame(std::span<const float> samples, std::int64_t available, double centre,
                      PitchFrame& frame) const;

    // frames[i] for the frame centred on channel position
    // origin + (firstFrame + i)·step, from one decimation of the stretch
    // those frames cover (of each frame's window when they lie more than
    // two windows apart). Each frame is the one analyseFrame gives at that
    // centre. False as analyseFrame.
    // With `peaks`, frames.size() peaks measured beforehand by framePeak
    // (held as floats); a frame whose peak is below `quietPeak` is given no
    // candidates.
    bool analyseFrames(const PitchSamples& input, double origin, double step,
                       std::int64_t firstFrame, std::span<PitchFrame> frames,
                       const float* peaks = nullptr, double quietPeak = 0.0) const;

    // The peak below which a frame is unvoiced on the path through any
    // frames whose largest peak is `globalPeak`, whatever its candidates:
    // its unvoiced state is then stronger than the strongest candidate can
    // be by more than the two voicing changes around it would cost, so
    // that state is the better one on every path through the frame, and
    // the frame needs no candidates. Half of that for safety; 0 when the
    // costs leave no such peak.
    double quietPeak(double globalPeak) const;

    // The peak analyseFrames measures for the frame centred on `centre`.
    double framePeak(const PitchSamples& input, double centre) const;

    // The track through `frames` (Hz per frame, 0 for unvoiced). Empty when
    // its storage cannot be had.
    std::vector<double> track(std::span<const PitchFrame> frames) const;

private:
    friend class PitchPath;

    // The decimated signal at indices [first, first + out.size()).
    void decimate(const PitchSamples& input, std::int64_t first, std::span<float> out) const;
    // The frame whose decimated window starts at `window` (m_decimatedWindow
    // values), its peak measured beforehand.
    bool analyseWindow(const float* window, double peak, PitchFrame& frame) const;

    PrecisePitchSettings m_settings;
    int m_windowSamples = 0;
    int m_fftLength = 0;
    int m_fftOrder = 0;
    int m_factor = 1;             // decimation factor
    double m_analysisRateHz = 0.0;
    int m_decimatedWindow = 0;    // the window at the analysis rate
    std::vector<float> m_filter;  // anti-alias filter, odd length, centred
    std::vector<double> m_twiddleRe; // e^(−2πik/N), k = 0 … N/2
    std::vector<double> m_twiddleIm;
    int m_lagLow = 0;             // shortest lag searched (the ceiling's period, rounded down)
    int m_lagHigh = 0;            // longest lag searched (the floor's period, rounded up)
    std::vector<double> m_window; // Hann, m_decimatedWindow points
    std::vector<double> m_windowCorrelation; // its autocorrelation, normalised at lag 0
    std::vector<double> m_inverseWindowCorrelation; // 1 / that
    std::vector<double> m_passBand;          // the autocorrelation's spectral weights
};

// The path search of PrecisePitch::track, fed a few frames at a time, so
// that a long track need not hold every frame's candidates at once: what
// it keeps per frame is the best predecessor of each candidate and the
// candidates' frequencies, as floats (41 bytes; a float holds a frequency
// to 0.06 ppm, finer than the refinement of its period, 0.5 ppm or more).
// The frames are given in order, with the largest peak of all of them known
// beforehand; the track is the one PrecisePitch::track gives for all the
// frames at once.
class PitchPath {
public:
    // Starts a path over `frameCount` frames whose largest peak is
    // `globalPeak`; false when its storage cannot be had.
    bool begin(const PrecisePitch& analyser, std::size_t frameCount, double globalPeak);
    // The next frames in order; false when more than frameCount are given.
    bool add(std::span<const PitchFrame> frames);
    // The track (Hz per frame, 0 for unvoiced) into `track`, which must
    // hold a value per frame; false, with `track` untouched, unless every
    // frame has been added.
    bool finish(std::span<double> track) const;

private:
    static constexpr int kStates = PitchFrame::kMaxCandidates + 1; // the last is unvoiced
    double localStrength(const PitchFrame& frame, int state) const;

    double m_lowHz = 0.0;
    double m_jumpCost = 0.0;
    double m_voicingCost = 0.0;
    double m_globalPeak = 0.0;
    std::size_t m_frameCount = 0;
    std::size_t m_added = 0;
    std::vector<unsigned char> m_from;           // best predecessor per frame and state
    std::vector<float> m_frequencies;            // candidates' Hz per frame and state
    std::array<double, kStates> m_score{};       // best score ending in each state
    std::array<double, kStates> m_log2{};        // log2 of the last frame's candidates
    int m_lastCount = -1;                        // the last frame's candidate count
};

} // namespace phonaxis
