// The formant track engine stage by stage, on the benchmark speech (44,100 Hz,
// by default 1 min; PHONAXIS_BENCH_SPEECH_MIN sets another length) with a
// new document's settings at that rate (10 ms step, ceiling 5,000 Hz,
// LPC order 48):
//
// * PreciseRun: one thread's precise analyses of every row in order
//   (PreciseFormants::analyseNext): each sample resampled once.
// * PreciseAlone: the same rows each analysed alone (analyse()), as the
//   spectrum window and a sparse spectrogram do: each frame resampled anew.
// * PreciseGate: the level gate of every row (PreciseFormants::levelDb).
// * ClassicFrames: one thread's classic LPC frames (window, prediction and
//   roots) of every row (CMathFunc::DoLPC).
// * Track/precise:P/threads:T: the whole engine (DoFormantTrack), rows
//   handed out in blocks; threads 0 is one per core.
//
// Times are wall-clock (UseRealTime); rows/s counts rows computed.

#include "AnalysisRecordings.h"

#include "analysis/CMathFunc.h"
#include "analysis/PreciseFormants.h"
#include "windows/FormantTrack.h"
#include "windows/SpectrogramAnalysis.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <span>
#include <vector>

namespace {

using namespace phonaxis;

constexpr double kStepMs = 10.0;
constexpr double kCeilingHz = 5000.0;
constexpr int kOrder = 48; // a document's classic order at 44,100 Hz: kHz + 4

double speechMinutes()
{
    const char* text = std::getenv("PHONAXIS_BENCH_SPEECH_MIN");
    const double minutes = text != nullptr && *text != '\0' ? std::strtod(text, nullptr) : 1.0;
    return minutes > 0.0 && minutes <= 240.0 ? minutes : 1.0;
}

const std::vector<float>& speech()
{
    static const std::vector<float> samples = bench::speechRecording(speechMinutes() * 60000.0);
    return samples;
}

std::int64_t rowCount()
{
    return static_cast<std::int64_t>(static_cast<double>(speech().size()) * 1000.0 /
                                     bench::kSpeechRateHz / kStepMs);
}

double centreOf(std::int64_t row)
{
    return static_cast<double>(row) * kStepMs * bench::kSpeechRateHz / 1000.0;
}

void PreciseRun(benchmark::State& state)
{
    const std::span<const float> samples = speech();
    PreciseFormants analysis(bench::kSpeechRateHz, kCeilingHz);
    for (auto _ : state) {
        for (std::int64_t row = 0; row < rowCount(); ++row) {
            benchmark::DoNotOptimize(analysis.analyseNext(samples, 0, centreOf(row)));
        }
    }
    state.counters["rows/s"] = benchmark::Counter(static_cast<double>(rowCount()),
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

void PreciseAlone(benchmark::State& state)
{
    const std::span<const float> samples = speech();
    PreciseFormants analysis(bench::kSpeechRateHz, kCeilingHz);
    for (auto _ : state) {
        for (std::int64_t row = 0; row < rowCount(); ++row) {
            benchmark::DoNotOptimize(analysis.analyse(samples, 0, centreOf(row)));
        }
    }
    state.counters["rows/s"] = benchmark::Counter(static_cast<double>(rowCount()),
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

void PreciseGate(benchmark::State& state)
{
    const std::span<const float> samples = speech();
    const PreciseFormants analysis(bench::kSpeechRateHz, kCeilingHz);
    for (auto _ : state) {
        for (std::int64_t row = 0; row < rowCount(); ++row) {
            benchmark::DoNotOptimize(analysis.levelDb(samples, 0, centreOf(row)));
        }
    }
}

void ClassicFrames(benchmark::State& state)
{
    const std::span<const float> samples = speech();
    const std::int64_t window = spectrogramLpcWindow(kOrder, bench::kSpeechRateHz).value_or(0);
    std::vector<double> frame(static_cast<std::size_t>(window) + 8, 0.0);
    for (auto _ : state) {
        for (std::int64_t row = 0; row < rowCount(); ++row) {
            const std::int64_t begin =
                std::llround(centreOf(row) - static_cast<double>(window) / 2.0) - 1;
            for (std::int64_t i = 0; i <= window; ++i) {
                const std::int64_t at = begin + i;
                frame[static_cast<std::size_t>(i)] =
                    at >= 0 && at < static_cast<std::int64_t>(samples.size())
                        ? samples[static_cast<std::size_t>(at)]
                        : 0.0;
            }
            benchmark::DoNotOptimize(CMathFunc::DoLPC(frame, kOrder, static_cast<int>(window),
                                                      0.98, 1, 0, 0, 0, bench::kSpeechRateHz, 1,
                                                      1));
        }
    }
}

void Track(benchmark::State& state)
{
    FormantTrackInput input;
    input.samples = speech();
    input.sampleRate = bench::kSpeechRateHz;
    input.stepMs = kStepMs;
    input.toMs = static_cast<double>(speech().size()) * 1000.0 / bench::kSpeechRateHz;
    input.parameters.m_bPreciseAnalysis = state.range(0) != 0;
    input.parameters.m_dFormantCeiling = kCeilingHz;
    input.parameters.m_nLPCCoefficients = kOrder;
    std::int64_t rows = 0;
    for (auto _ : state) {
        rows = 0;
        const FormantTrackEnd end = DoFormantTrack(
            input,
            [&rows](std::span<const FormantTrackRow> block) {
                rows += static_cast<std::int64_t>(block.size());
                benchmark::DoNotOptimize(block.data());
                return true;
            },
            nullptr, static_cast<int>(state.range(1)));
        if (end != FormantTrackEnd::Done) {
            state.SkipWithError("the track was not computed");
            break;
        }
    }
    state.counters["rows/s"] = benchmark::Counter(static_cast<double>(rows),
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

} // namespace

BENCHMARK(PreciseRun)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PreciseAlone)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PreciseGate)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ClassicFrames)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Track)
    ->ArgNames({"precise", "threads"})
    ->ArgsProduct({{1, 0}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
