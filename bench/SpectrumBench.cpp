// The spectrum window's computation over a long selection, as the window
// runs it behind its progress dialog.
//
// * SpectrumSelection/watched:W: the averaged spectrum with LPC formants of
//   2 min of a 44,100 Hz tone with the document's default FFT/LPC settings
//   for that rate (256-point transform, 5 ms applied window, 10 ms step,
//   22,000 Hz range, order 48); W = 1 reports to a watcher that always lets
//   it go on, W = 0 to none. Reporting must cost nothing next to the frames,
//   and the two results must be equal (the program aborts otherwise).

#include "Signals.h"
#include "windows/SpectrumAnalysis.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace phonaxis {
namespace {

constexpr double kRate = 44100.0;

const std::vector<float>& recording()
{
    static const std::vector<float> samples = signals::tone(220.0, kRate, 120000.0);
    return samples;
}

void SpectrumSelection(benchmark::State& state)
{
    const std::vector<float>& samples = recording();
    SpectrumParameters parameters;
    parameters.m_nFFTWindowLengthMS = static_cast<int>(256000 / kRate);
    parameters.m_nFFTfreqRange = static_cast<int>(kRate) / 2000 * 1000;
    parameters.m_nLPCNumCoeff = 2 * (static_cast<int>(kRate / 1000 + 4) / 2);
    const auto length = static_cast<double>(samples.size());
    long reports = 0;
    const WorkProgress watcher([&reports](double) {
        ++reports;
        return true;
    });
    const WorkProgress none;
    SpectrumAnalysis analysis;
    for (auto _ : state) {
        if (analysis.PerformFFTLPC(samples, 0.0, length, length, kRate, parameters,
                                   state.range(0) != 0 ? watcher : none) !=
            SpectrumStart::Computed) {
            std::fprintf(stderr, "no spectrum\n");
            std::abort();
        }
        benchmark::DoNotOptimize(analysis.m_dFormat.data());
    }
    static std::vector<double> first;
    const auto spectrum = analysis.spectrum();
    if (first.empty()) {
        first.assign(spectrum.begin(), spectrum.end());
    } else if (!std::equal(first.begin(), first.end(), spectrum.begin(), spectrum.end())) {
        std::fprintf(stderr, "reporting changed the spectrum\n");
        std::abort();
    }
    state.counters["frames"] = analysis.framesAnalysed();
    state.counters["reports"] =
        static_cast<double>(reports) / static_cast<double>(state.iterations());
}

} // namespace
} // namespace phonaxis

BENCHMARK(phonaxis::SpectrumSelection)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("watched")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
