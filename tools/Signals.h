#pragma once

// Reference signals with known true values: tones, glottal pulse trains,
// formant resonators, synthetic vowels, an a-i-u vowel sequence, a synthetic
// EGG (contact) waveform and an airflow-like channel. Every generator is
// deterministic and returns the truth it was built from next to its samples,
// so analyses can be checked against exact values.
//
// Units: sample positions are in samples from the first sample (fractional
// where an instant falls between samples), times in ms, frequencies and rates
// in Hz. Samples are floats normalised to full scale 1.0.
//
// Pure functions of their arguments; safe to call from any thread.

#include "document/Bytes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace phonaxis {
class MyDocument;
class Prompts;
} // namespace phonaxis

namespace phonaxis::signals {

// --- tones ------------------------------------------------------------------

// A sine tone of round(durationMs × rateHz / 1000) samples, starting at phase 0.
std::vector<float> tone(double frequencyHz, double rateHz, double durationMs,
                        double amplitude = 0.5);

// --- formant resonators -----------------------------------------------------

struct Formant {
    double frequencyHz = 0.0;
    double bandwidthHz = 0.0;
};
using FormantSet = std::array<Formant, 5>;

// Five formants of three adult vowels (F1..F5 with their bandwidths).
extern const FormantSet kVowelA;
extern const FormantSet kVowelI;
extern const FormantSet kVowelU;

// The formants of vowel 'a', 'i' or 'u'; nothing for any other letter.
std::optional<FormantSet> vowelFormants(char vowel);

// A second-order all-pole digital resonator with unity gain at 0 Hz:
//   y[n] = a·x[n] + b·y[n-1] + c·y[n-2],
//   c = -exp(-2π·B/rate), b = 2·exp(-π·B/rate)·cos(2π·F/rate), a = 1 - b - c.
// Its poles lie at frequency F with bandwidth B. Changing the formant keeps
// the filter state, so a formant can glide sample by sample without clicks.
class Resonator {
public:
    Resonator() = default;
    Resonator(Formant formant, double rateHz) { setFormant(formant, rateHz); }

    void setFormant(Formant formant, double rateHz);
    double process(double x)
    {
        const double y = m_a * x + m_b * m_y1 + m_c * m_y2;
        m_y2 = m_y1;
        m_y1 = y;
        return y;
    }
    void reset() { m_y1 = m_y2 = 0.0; }

    // Magnitude of the resonator's frequency response at `frequencyHz`.
    static double magnitude(Formant formant, double frequencyHz, double rateHz);

private:
    double m_a = 1.0, m_b = 0.0, m_c = 0.0;
    double m_y1 = 0.0, m_y2 = 0.0;
};

// The source filtered by a cascade of the five resonators (F1 first).
std::vector<float> applyFormants(std::span<const float> source, const FormantSet& formants,
                                 double rateHz);
// The same with formants that change from sample to sample: formantsAt(n)
// gives the formants for sample n.
std::vector<float> applyFormants(std::span<const float> source,
                                 const std::function<FormantSet(std::size_t)>& formantsAt,
                                 double rateHz);

// The true envelope of the cascade, in dB (0 dB at 0 Hz).
double cascadeGainDb(const FormantSet& formants, double frequencyHz, double rateHz);

// --- glottal source ---------------------------------------------------------

enum class PulseShape {
    // One sample of the pulse's amplitude at the sample nearest each instant;
    // the instants returned are those whole sample positions.
    Impulse,
    // The first difference of a glottal volume-velocity pulse that closes
    // exactly at each instant: a smooth source with its excitation at
    // closure and the flow itself returned alongside.
    GlottalFlowDerivative,
};

// Shape of one glottal flow cycle, as fractions of the cycle that ends at the
// closure instant: closed, then a raised-cosine opening, then a quarter-cosine
// closing down to zero at the instant.
constexpr double kFlowClosedPart = 0.4;
constexpr double kFlowOpeningPart = 0.4;

struct PulseOptions {
    PulseShape shape = PulseShape::Impulse;
    // The first and last `rampCycles` pulses rise and fall in amplitude
    // (raised cosine) so voicing starts and stops without a click.
    int rampCycles = 0;
};

struct PulseTrain {
    double rateHz = 0.0;
    std::vector<float> samples;     // the source signal
    std::vector<float> flow;        // glottal flow (GlottalFlowDerivative only)
    std::vector<double> instants;   // pulse (glottal closure) instants, samples
    std::vector<double> amplitudes; // amplitude of each pulse, 0 < a <= 1
    std::vector<double> periods;    // length of the cycle that closes at each pulse, samples
    std::vector<bool> startsRun;    // true for the first pulse of each voiced run

    std::vector<double> instantsMs() const;
};

// Pulses at instants where the integral of F0 completes a cycle: the first
// pulse falls on the first voiced sample (F0 > 0), each next one after one
// period of the running F0 (found to a fraction of a sample). Samples with
// F0 = 0 are unvoiced and stop the train; voicing that resumes starts a new
// one. The result has f0PerSampleHz.size() samples. The GlottalFlowDerivative
// source is scaled so that its largest |sample| is 1; an Impulse sample is the
// pulse's amplitude.
PulseTrain pulseTrain(std::span<const double> f0PerSampleHz, double rateHz,
                      PulseOptions options = {});
// A constant F0 over round(durationMs × rateHz / 1000) samples.
PulseTrain pulseTrain(double f0Hz, double rateHz, double durationMs, PulseOptions options = {});

// --- vowels -----------------------------------------------------------------

struct VowelParams {
    double f0Hz = 100.0;
    double rateHz = 10000.0;
    double durationMs = 500.0;
    FormantSet formants = kVowelA;
    PulseShape shape = PulseShape::Impulse;
    double peak = 0.8; // the largest |sample| after scaling
};

struct Vowel {
    std::vector<float> samples;
    PulseTrain pulses;
    FormantSet formants{};
    double f0Hz = 0.0;
    double rateHz = 0.0;
};

// A constant-F0 pulse train through the five resonators, scaled to `peak`.
Vowel vowel(const VowelParams& params);

// --- the a-i-u sequence -----------------------------------------------------

// Layout of the sequence: silence, then voicing split in three equal thirds
// 'a', 'i', 'u'. Formants hold steady inside each third and glide with a
// raised-cosine transition of kSequenceTransitionMs centred on each boundary; F0
// follows 100 + 40·sin(π·u) Hz over the voiced part (u from 0 to 1).
constexpr double kSequenceSilenceMs = 250.0;
constexpr double kSequenceTransitionMs = 200.0;

struct SequenceFrame {
    double timeMs = 0.0;
    double f0Hz = 0.0; // 0 where unvoiced
    FormantSet formants{};
};

struct SteadyVowel {
    char name = 'a';
    double startMs = 0.0; // formants constant and voicing at full amplitude
    double endMs = 0.0;
    FormantSet formants{};
};

struct VowelSequence {
    double rateHz = 0.0;
    double durationMs = 0.0;
    double voicingStartMs = 0.0;
    double voicingEndMs = 0.0;
    std::vector<float> audio;
    PulseTrain pulses;                 // source with its instants and flow
    std::vector<SequenceFrame> frames; // every frameStepMs from 0
    std::vector<SteadyVowel> steady;   // 'a', 'i', 'u'

    // The true F0 (0 outside voicing) and formants at any time.
    double f0AtMs(double timeMs) const;
    FormantSet formantsAtMs(double timeMs) const;
};

// Requires durationMs ≥ 1500 (throws std::invalid_argument otherwise).
VowelSequence vowelSequence(double rateHz = 22050.0, double durationMs = 3500.0,
                            double frameStepMs = 10.0,
                            PulseShape shape = PulseShape::GlottalFlowDerivative);

// --- EGG --------------------------------------------------------------------

// One EGG contact cycle starts at each glottal closure instant and lasts until
// the next (the last lasts as long as the cycle before it): a quarter-sine
// rise to the peak, a flat top, a quarter-cosine fall back to the base level,
// then the open phase at the base level. Parts are fractions of the cycle.
struct EggShape {
    double baseLevel = -0.3; // open phase
    double amplitude = 0.6;  // peak - base for a pulse of amplitude 1
    double risePart = 0.12;
    double holdPart = 0.08; // keeps at least one sample on the peak
    double fallPart = 0.30;
};

struct EggCycleTruth {
    double startIndex = 0.0;         // the closure instant opening the cycle, samples
    double baseValue = 0.0;          // the open-phase level before and after it
    double peakValue = 0.0;          // the flat top
    double levelValue = 0.0;         // base + threshold fraction × (peak - base)
    double contactMs = 0.0;          // the waveform rises through the level here...
    double decontactMs = 0.0;        // ...and falls through it here (exact times)
    std::int64_t contactIndex = 0;   // first sample >= level on the rise
    std::int64_t decontactIndex = 0; // first sample <= level on the fall
    // (decontact - contact) / (next contact - contact); none for the last cycle.
    std::optional<double> closedQuotient;
};

struct EggSignal {
    double rateHz = 0.0;
    double thresholdFraction = 0.0;
    std::vector<float> samples;
    std::vector<EggCycleTruth> cycles;
};

// An EGG waveform of `length` samples in step with the pulses of `pulses`
// (each cycle scaled by its pulse's amplitude), and its truth at a threshold
// of `thresholdFraction` (0 < f < 1) of each cycle's peak-to-base swing.
EggSignal eggSignal(const PulseTrain& pulses, std::size_t length, double thresholdFraction = 0.25,
                    const EggShape& shape = {});

// --- airflow ----------------------------------------------------------------

// A slow airflow-like channel of `length` samples: a small breathing level
// plus the glottal flow of `pulses` (rebuilt from the instants when the train
// has none), a little seeded noise, smoothed to below ~20 Hz. Mostly
// positive, high while voiced.
std::vector<float> airflow(const PulseTrain& pulses, std::size_t length, std::uint32_t seed = 1);

// --- the demo recording and WAV files -----------------------------------------

// The demo recording: channel 0 the a-i-u sequence, channel 1 its EGG,
// channel 2 the airflow, all at 22,050 Hz over 3.5 s.
struct DemoRecording {
    VowelSequence speech;
    EggSignal egg;
    std::vector<float> airflow;
};
DemoRecording demoRecording();

// The bytes of a 32-bit float WAV file of the channels, written by the
// document's own writer; nothing when it declines (told through `prompts`).
std::optional<phonaxis::Bytes>
waveFileBytes(double rateHz, std::span<const std::span<const float>> channels, Prompts& prompts);

} // namespace phonaxis::signals
