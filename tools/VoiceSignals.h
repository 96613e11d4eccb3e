#pragma once

// Sustained vowels with known perturbation and noise, for the voice report:
// a glottal source of Rosenberg-shaped flow pulses whose periods and
// amplitudes vary by known random amounts, through vowel resonators (plus two
// above the vowel's formants), with vocal-tract-shaped noise added at a known
// harmonics-to-noise ratio, and an EGG channel made from the same cycles.
//
// Cycle k runs from closure instant t_k to t_{k+1} (samples, fractional):
// period P_k = t_{k+1} − t_k = T0·(1 + σ_P·g_k), amplitude A_k = 1 + σ_A·h_k,
// with g, h independent standard normal draws (seeded) and σ = the asked
// percentage × √π / 200, so that the expected local jitter (shimmer) of such
// a sequence is the asked percentage (the factor held within 0.7–1.3). The
// flow pulse of cycle k has the height A_k and a fixed shape (opening and
// closing over 0.6·T0) that closes at t_{k+1}; the closed phase takes up the
// rest of the period. Every cycle's excitation is thus a shifted, scaled
// copy of the others and the distance between two excitations is exactly
// the period. The EGG's contact phase starts at t_{k+1} with the swing A_k
// and a fixed shape too.
//
// The truth is computed from the generator's own sequence over the cycles
// that lie wholly in the analysis range (the middle of the signal, away from
// the onset): jitter and shimmer by perturbationMeasures() of the periods
// and amplitudes, the HNR as generated (10·log10 of the voiced signal's power
// over the noise's power in that range).

#include "windows/VoiceReport.h"

#include <cstdint>
#include <string>
#include <vector>

namespace phonaxis::signals {

struct VoiceSignalParams {
    double rateHz = 22050.0;
    double f0Hz = 120.0;
    double durationMs = 2000.0;
    double jitterPct = 1.0;
    double shimmerPct = 3.0;
    double hnrDb = 20.0;
    char vowel = 'a';
    std::uint32_t seed = 1;
    // Periods (ms) the first cycles take instead of drawn ones (a voice
    // break is a long one: the glottis stays closed and the tract falls
    // silent); the cycles after them are drawn as usual.
    std::vector<double> periodsMs;
};

struct VoiceSignal {
    double rateHz = 0.0;
    std::vector<float> audio;       // the vowel with its noise, peak 0.5
    std::vector<float> egg;         // the EGG of the same cycles
    std::vector<double> closures;   // t_k, samples
    std::vector<double> amplitudes; // A_k
    double analysisFromMs = 0.0;    // the range the truth covers
    double analysisToMs = 0.0;
    VoiceMeasures truth; // jitter, shimmer, F0 and HNR as generated
};

VoiceSignal voiceSignal(const VoiceSignalParams& params);

// The truth as text: "measure<TAB>value" lines, beginning with the
// analysis range (from_ms, to_ms) and the parameters.
std::string voiceTruthText(const VoiceSignal& signal, const VoiceSignalParams& params);

} // namespace phonaxis::signals
