#pragma once

// The precise pitch track: per-frame candidates with sub-sample lags, a
// voicing measure that rejects noise and silence, and a path search along
// the track that keeps octave jumps out.
//
// A frame is a Hann-windowed stretch of the signal centred on the frame's
// time, with its mean removed. One transform of it gives both the power
// spectrum and the log magnitude spectrum, and one more transform gives
// both the autocorrelation and the real cepstrum. The autocorrelation is
// divided by that of the window, which makes it near 1 at the period of a
// periodic signal whatever the window's taper (and near 0 for noise). The
// frame's candidates are the strongest peaks of the cepstrum and of that
// normalised autocorrelation within the search range; each is moved to the
// nearest autocorrelation maximum and refined below one sample by windowed
// sinc interpolation, and its strength is the normalised autocorrelation at
// the refined lag.
//
// Voicing: every frame also has an unvoiced candidate, strong when the
// frame is quiet against the loudest frame of the track and otherwise as
// strong as the voicing threshold. The path search (Viterbi) then picks one
// candidate per frame, maximising the candidates' strengths less a cost per
// octave of each jump between voiced frames and a cost per change of
// voicing, so a frame that alone jumps an octave does not pass.
//
// Frames are independent of each other until the path search:
// analyseFrame may be called from any number of threads at once (its work
// storage is thread_local), and the track depends only on the frames.

#include <array>
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

struct PitchFrame {
    static constexpr int kMaxCandidates = 8;
    std::array<PitchCandidate, kMaxCandidates> candidates{};
    int count = 0;
    double peak = 0.0; // the largest |sample − mean| inside the window
};

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

    // Fixes window, transform and lag range for `settings`; false when they
    // cannot make a track (a rate or range that is not positive and finite,
    // a floor not below the ceiling, or a window beyond the largest
    // transform).
    bool configure(const PrecisePitchSettings& settings);

    int windowSamples() const { return m_windowSamples; }
    int fftLength() const { return m_fftLength; }
    double windowMs() const;

    // The candidates of the frame centred on sample position `centre`;
    // samples [0, available) may be read, positions outside read as 0.
    // False when the work storage cannot be had or configure has not
    // succeeded.
    bool analyseFrame(std::span<const float> samples, std::int64_t available, double centre,
                      PitchFrame& frame) const;

    // The track through `frames` (Hz per frame, 0 for unvoiced). Empty when
    // its storage cannot be had.
    std::vector<double> track(std::span<const PitchFrame> frames) const;

private:
    PrecisePitchSettings m_settings;
    int m_windowSamples = 0;
    int m_fftLength = 0;
    int m_fftOrder = 0;
    int m_lagLow = 0;             // shortest lag searched (the ceiling's period, rounded down)
    int m_lagHigh = 0;            // longest lag searched (the floor's period, rounded up)
    std::vector<double> m_window; // Hann, m_windowSamples points
    std::vector<double> m_windowCorrelation; // its autocorrelation, normalised at lag 0
    std::vector<double> m_passBand;          // the autocorrelation's spectral weights
};

} // namespace phonaxis
