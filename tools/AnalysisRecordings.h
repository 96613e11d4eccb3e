#pragma once

// The long recordings the analysis benchmarks run on, built from the
// reference signals of tools/Signals.h. The benchmark program makes them in
// memory and `phonaxis-gen bench-recordings` writes the same samples as WAV,
// so the reference tool's timings are taken on exactly what we analyse.
//
// * speechRecording: 44,100 Hz mono, by default 60 min. A deterministic
//   cycle of a-i-u vowel sequences (F0 100 … 140 Hz) and steady vowels
//   (95 … 210 Hz), each at its own level, separated by pauses of 120 …
//   600 ms, over a faint noise floor (about −80 dB re full scale), so
//   the silences are not digital zero.
// * eggRecording: 22,050 Hz EGG, by default 10 min. Voiced runs of 3 … 8 s
//   with a slow F0 contour (about 75 … 175 Hz) separated by 250 … 600 ms
//   pauses, the contact waveform of eggSignal plus a faint noise floor.
//
// Pure functions of their arguments; every sample is the same on every run
// and platform.

#include "Signals.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <vector>

namespace phonaxis::bench {

inline constexpr double kSpeechRateHz = 44100.0;
inline constexpr double kSpeechDurationMs = 60.0 * 60.0 * 1000.0;
inline constexpr double kEggRateHz = 22050.0;
inline constexpr double kEggDurationMs = 10.0 * 60.0 * 1000.0;

// A small linear congruential generator: uniform values in [-1, 1) from its
// top bits, the same on every platform.
class NoiseFloor {
public:
    explicit NoiseFloor(std::uint32_t seed) : m_state(seed) {}
    double next()
    {
        m_state = m_state * 1664525U + 1013904223U;
        return static_cast<double>(m_state >> 8) / 8388608.0 - 1.0;
    }

private:
    std::uint32_t m_state;
};

inline std::size_t recordingSamples(double durationMs, double rateHz)
{
    return static_cast<std::size_t>(std::max(0.0, std::round(durationMs * rateHz / 1000.0)));
}

inline std::vector<float> speechRecording(double durationMs = kSpeechDurationMs)
{
    using namespace signals;
    const double rate = kSpeechRateHz;
    std::vector<std::vector<float>> pieces;
    for (const double ms : {1800.0, 2600.0, 3500.0}) {
        pieces.push_back(vowelSequence(rate, ms).audio);
    }
    const struct {
        double f0Hz, ms;
        FormantSet formants;
    } steady[] = {{210.0, 700.0, kVowelI}, {95.0, 900.0, kVowelU}, {170.0, 1200.0, kVowelA}};
    for (const auto& s : steady) {
        pieces.push_back(
            vowel({s.f0Hz, rate, s.ms, s.formants, PulseShape::GlottalFlowDerivative, 0.8})
                .samples);
    }

    const std::size_t n = recordingSamples(durationMs, rate);
    std::vector<float> out(n, 0.0F);
    std::size_t at = 0;
    for (std::size_t step = 0; at < n; ++step) {
        const std::vector<float>& piece = pieces[step % pieces.size()];
        // Levels spread over 0.35 … 0.95 by the golden-ratio sequence.
        const double phase = static_cast<double>(step) * std::numbers::phi;
        const double gain = 0.35 + 0.6 * (phase - std::floor(phase));
        const std::size_t count = std::min(piece.size(), n - at);
        for (std::size_t i = 0; i < count; ++i) {
            out[at + i] = static_cast<float>(gain * piece[i]);
        }
        const double pauseMs = 120.0 + static_cast<double>((step * 137) % 481);
        at += count + recordingSamples(pauseMs, rate);
    }
    NoiseFloor noise(1);
    for (float& x : out) {
        x = static_cast<float>(x + 1e-4 * noise.next());
    }
    return out;
}

inline std::vector<float> eggRecording(double durationMs = kEggDurationMs)
{
    using namespace signals;
    const double rate = kEggRateHz;
    const std::size_t n = recordingSamples(durationMs, rate);
    std::vector<double> f0(n, 0.0);
    std::size_t at = 0;
    for (std::size_t run = 0; at < n; ++run) {
        const std::size_t voiced =
            recordingSamples(3000.0 + static_cast<double>((run * 1733) % 5001), rate);
        for (std::size_t i = at; i < std::min(n, at + voiced); ++i) {
            const double t = static_cast<double>(i) / rate;
            f0[i] = 125.0 + 35.0 * std::sin(2.0 * std::numbers::pi * t / 6.1) +
                    15.0 * std::sin(2.0 * std::numbers::pi * t / 17.3);
        }
        const double pauseMs = 250.0 + static_cast<double>((run * 211) % 351);
        at += voiced + recordingSamples(pauseMs, rate);
    }
    const PulseTrain pulses =
        pulseTrain(f0, rate, PulseOptions{PulseShape::GlottalFlowDerivative, 4});
    std::vector<float> out = eggSignal(pulses, n).samples;
    NoiseFloor noise(2);
    for (float& x : out) {
        x = static_cast<float>(x + 1e-3 * noise.next());
    }
    return out;
}

} // namespace phonaxis::bench
