#pragma once

// The pitch corpus: F0 glides with their truth, for measuring a pitch track's
// accuracy and voicing decisions.
//
// A glide recording is a glottal flow-derivative pulse train (its natural
// spectral tilt) through the five formant resonators, in voiced stretches
// separated by silence and by unvoiced noise, so that both the F0 values and
// the voicing decisions are tested:
//
//     0–300 ms       silence
//     300–1500 ms    F0 rising from the voice's low to its high (vowel a)
//     1500–1800 ms   silence
//     1800–2050 ms   unvoiced noise (a fricative: differenced white noise)
//     2050–3250 ms   F0 falling from high to low (vowel i)
//     3250–3400 ms   unvoiced noise, right after the voicing
//     3400–4200 ms   F0 rising and falling once between low and high (vowel u)
//     4200–4500 ms   silence
//
// F0 moves evenly on a log scale. The male voice spans 80–200 Hz, the female
// 160–400 Hz with formants 17 % higher. A faint noise floor (50 dB below the
// voicing) keeps the silences from being digital zero; a noisy variant adds
// white or pink noise at a given SNR (against the voiced stretches' power)
// over the whole recording. Everything is deterministic.

#include <cstdint>
#include <string>
#include <vector>

namespace phonaxis::signals {

enum class GlideNoise { None, White, Pink };

struct GlideParams {
    double rateHz = 22050.0;
    bool female = false;
    GlideNoise noise = GlideNoise::None;
    double snrDb = 10.0;    // with noise: voiced power over noise power
    std::uint32_t seed = 1; // of every noise in the recording
};

struct Glide {
    double rateHz = 0.0;
    std::vector<float> samples;
    std::vector<double> f0PerSample; // the true F0 of every sample, 0 where unvoiced

    double durationMs() const;
    // The true F0 at a time (0 where unvoiced or outside the recording).
    double f0AtMs(double timeMs) const;
    // True when the voicing changes within `marginMs` of the time.
    bool nearVoicingChange(double timeMs, double marginMs) const;
};

Glide pitchGlide(const GlideParams& params);

// One recording of the corpus: its file stem and parameters.
struct GlideEntry {
    std::string name; // e.g. "glide-female-pink5-22050"
    GlideParams params;
};

// The corpus: male and female voices, clean and with white or pink noise at
// 10 and 5 dB SNR, at 16,000, 22,050 and 44,100 Hz.
std::vector<GlideEntry> pitchCorpus();

// The truth as text: a header line, then "time_ms<TAB>f0_hz" every `stepMs`
// from 0 (f0 0 for unvoiced).
std::string glideTruthText(const Glide& glide, double stepMs = 10.0);

} // namespace phonaxis::signals
