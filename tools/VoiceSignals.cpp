// Sustained vowels with known jitter, shimmer and HNR, and their EGG.

#include "VoiceSignals.h"

#include "Signals.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>

namespace phonaxis::signals {

namespace {

// The Rosenberg flow pulse over one cycle's phase u in [0, 1): closed, a
// raised-cosine opening, a quarter-cosine closing that reaches zero at the
// cycle's end (the closure instant).
double rosenbergFlow(double u)
{
    constexpr double pi = std::numbers::pi;
    const double closed = kFlowClosedPart;
    const double opening = kFlowOpeningPart;
    if (u < closed) {
        return 0.0;
    }
    if (u < closed + opening) {
        return 0.5 - 0.5 * std::cos(pi * (u - closed) / opening);
    }
    return std::cos(0.5 * pi * (u - closed - opening) / (1.0 - closed - opening));
}

double power(std::span<const double> x, std::size_t from, std::size_t to)
{
    double sum = 0.0;
    for (std::size_t i = from; i < to; ++i) {
        sum += x[i] * x[i];
    }
    return to > from ? sum / static_cast<double>(to - from) : 0.0;
}

// The cascade of the vowel's five formants and two resonators above them
// (where they fit below 45 % of the rate).
std::vector<double> vocalTract(std::span<const double> source, const FormantSet& formants,
                               double rateHz)
{
    std::vector<Resonator> cascade;
    for (const Formant& f : formants) {
        cascade.emplace_back(f, rateHz);
    }
    for (const Formant f : {Formant{5500.0, 300.0}, Formant{6500.0, 350.0}}) {
        if (f.frequencyHz < 0.45 * rateHz) {
            cascade.emplace_back(f, rateHz);
        }
    }
    std::vector<double> out(source.size());
    for (std::size_t n = 0; n < source.size(); ++n) {
        double y = source[n];
        for (Resonator& r : cascade) {
            y = r.process(y);
        }
        out[n] = y;
    }
    return out;
}

} // namespace

VoiceSignal voiceSignal(const VoiceSignalParams& params)
{
    VoiceSignal v;
    v.rateHz = params.rateHz;
    const auto n =
        static_cast<std::size_t>(std::lround(params.durationMs * params.rateHz / 1000.0));
    const double t0 = params.rateHz / params.f0Hz;
    const double sigmaPeriod = params.jitterPct * std::sqrt(std::numbers::pi) / 200.0;
    const double sigmaAmplitude = params.shimmerPct * std::sqrt(std::numbers::pi) / 200.0;

    std::mt19937 random(params.seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<double> periods;
    double t = 0.0;
    v.closures.push_back(t);
    while (t < static_cast<double>(n)) {
        const std::size_t k = periods.size();
        const double drawn = t0 * std::clamp(1.0 + sigmaPeriod * normal(random), 0.7, 1.3);
        const double period =
            k < params.periodsMs.size() ? params.periodsMs[k] * params.rateHz / 1000.0 : drawn;
        const double amplitude = std::clamp(1.0 + sigmaAmplitude * normal(random), 0.2, 1.8);
        periods.push_back(period);
        v.amplitudes.push_back(amplitude);
        t += period;
        v.closures.push_back(t);
    }

    // The flow: a pulse of fixed shape closing at each closure (its open
    // phase lasts kFlowOpenPart·T0 whatever the period, so that a cycle's
    // excitation is a shifted, scaled copy of the next one's), and its first
    // difference: the source.
    std::vector<double> flow(n, 0.0);
    const double open = (1.0 - kFlowClosedPart) * t0;
    for (std::size_t k = 0; k < v.amplitudes.size(); ++k) {
        const double start = v.closures[k + 1] - open;
        const auto first = static_cast<std::size_t>(std::max(0.0, std::ceil(start)));
        for (std::size_t i = first; i < n && static_cast<double>(i) < v.closures[k + 1]; ++i) {
            flow[i] += v.amplitudes[k] *
                       rosenbergFlow(kFlowClosedPart + (static_cast<double>(i) - start) / t0);
        }
    }
    std::vector<double> source(n, 0.0);
    for (std::size_t i = 1; i < n; ++i) {
        source[i] = flow[i] - flow[i - 1];
    }
    std::vector<double> voiced = vocalTract(source, *vowelFormants(params.vowel), params.rateHz);

    // Noise shaped by the same tract, scaled to the HNR over the analysis range.
    v.analysisFromMs = std::min(250.0, params.durationMs / 4.0);
    v.analysisToMs = params.durationMs - v.analysisFromMs;
    const auto from = static_cast<std::size_t>(v.analysisFromMs * params.rateHz / 1000.0);
    const auto to = static_cast<std::size_t>(v.analysisToMs * params.rateHz / 1000.0);
    std::mt19937 noiseRandom(params.seed * 7919u + 17u);
    std::vector<double> white(n);
    for (double& x : white) {
        x = normal(noiseRandom);
    }
    const std::vector<double> noise =
        vocalTract(white, *vowelFormants(params.vowel), params.rateHz);
    const double voicedPower = power(voiced, from, to);
    const double noisePower = power(noise, from, to);
    const double gain =
        noisePower > 0.0
            ? std::sqrt(voicedPower / (noisePower * std::pow(10.0, params.hnrDb / 10.0)))
            : 0.0;
    double largest = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        voiced[i] += gain * noise[i];
        largest = std::max(largest, std::fabs(voiced[i]));
    }
    v.audio.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        v.audio[i] = static_cast<float>(0.5 * voiced[i] / largest);
    }

    // The EGG: from each closure a contact phase of fixed length (a
    // quarter-sine rise over 0.12·T0, a flat top for 0.08·T0, a quarter-
    // cosine fall over 0.30·T0) with the swing of the flow pulse that closed
    // there, the open phase at the base level between them; a faint noise.
    constexpr double pi = std::numbers::pi;
    constexpr double base = -0.3;
    constexpr double swing = 0.6;
    v.egg.assign(n, static_cast<float>(base));
    for (std::size_t k = 0; k < v.amplitudes.size(); ++k) {
        const double closure = v.closures[k + 1];
        const auto first = static_cast<std::size_t>(std::ceil(closure));
        for (std::size_t i = first; i < n; ++i) {
            const double u = (static_cast<double>(i) - closure) / t0;
            double s = 0.0;
            if (u < 0.12) {
                s = std::sin(0.5 * pi * u / 0.12);
            } else if (u < 0.20) {
                s = 1.0;
            } else if (u < 0.50) {
                s = std::cos(0.5 * pi * (u - 0.20) / 0.30);
            } else {
                break;
            }
            v.egg[i] = static_cast<float>(base + swing * v.amplitudes[k] * s);
        }
    }
    std::mt19937 eggRandom(params.seed * 104729u + 3u);
    for (float& x : v.egg) {
        x = static_cast<float>(x + 3e-4 * normal(eggRandom));
    }

    // The truth over the cycles wholly inside the analysis range.
    std::vector<VoiceCycle> cycles;
    const double msPerSample = 1000.0 / params.rateHz;
    for (std::size_t k = 0; k < periods.size(); ++k) {
        const double startMs = v.closures[k] * msPerSample;
        const double endMs = v.closures[k + 1] * msPerSample;
        if (startMs >= v.analysisFromMs && endMs <= v.analysisToMs) {
            cycles.push_back({startMs, periods[k] * msPerSample, v.amplitudes[k], cycles.empty()});
        }
    }
    v.truth = perturbationMeasures(cycles);
    v.truth.hnrDb = params.hnrDb;
    return v;
}

std::string voiceTruthText(const VoiceSignal& signal, const VoiceSignalParams& params)
{
    std::string text = "measure\tvalue\n";
    const auto line = [&](const char* name, double value) {
        char buffer[96];
        std::snprintf(buffer, sizeof buffer, "%s\t%.9g\n", name, value);
        text += buffer;
    };
    const VoiceMeasures& m = signal.truth;
    line("from_ms", signal.analysisFromMs);
    line("to_ms", signal.analysisToMs);
    line("rate_hz", params.rateHz);
    line("f0_hz", params.f0Hz);
    line("seed", params.seed);
    line("cycles", m.cycles);
    line("f0_mean_hz", m.f0MeanHz);
    line("f0_sd_hz", m.f0SdHz);
    line("jitter_local_pct", m.jitterLocalPct);
    line("jitter_local_abs_us", m.jitterLocalAbsUs);
    line("jitter_rap_pct", m.jitterRapPct);
    line("jitter_ppq5_pct", m.jitterPpq5Pct);
    line("jitter_ddp_pct", m.jitterDdpPct);
    line("shimmer_local_pct", m.shimmerLocalPct);
    line("shimmer_local_db", m.shimmerLocalDb);
    line("shimmer_apq3_pct", m.shimmerApq3Pct);
    line("shimmer_apq5_pct", m.shimmerApq5Pct);
    line("shimmer_apq11_pct", m.shimmerApq11Pct);
    line("shimmer_dda_pct", m.shimmerDdaPct);
    line("hnr_db", m.hnrDb);
    return text;
}

} // namespace phonaxis::signals
