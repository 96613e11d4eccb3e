// The analysis library's FFT and per-frame spectrum.
//
// * Fft/N: FFT_CODE_REAL on N complex points (N = 256 … 4096).
// * Fftw/N: the FFTW library's complex transform of the same length, planned
//   with FFTW_MEASURE outside the timing loop. FFTW is linked into this
//   program only, as a yardstick; the product never uses it.
// * Spectrum/N: one DoFFT_Real frame as the spectrogram calls it
//   (pre-emphasis, Hamming window, resampled onto 512 rows up to rate/2).
//
// Both transforms run in place and start each iteration by copying the same
// random frame into their buffers (2·N doubles each), so the two sides do the
// same memory work besides the transform. At the end the program prints, for
// each N, our time over FFTW's: the median of each side's repetitions when the
// program runs with --benchmark_repetitions (on a shared machine run e.g.
// --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true, so
// that the two sides take turns and see the same load).

#include "analysis/CMathFunc.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using phonaxis::CMathFunc;

constexpr int kMinLength = 256;
constexpr int kMaxLength = 4096;

std::vector<double> randomValues(std::size_t count, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    std::vector<double> values(count);
    for (double& v : values) {
        v = uniform(generator);
    }
    return values;
}

int orderOf(int n)
{
    int m = 0;
    while ((1 << m) < n) {
        ++m;
    }
    return m;
}

void Fft(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const std::vector<double> sourceRe = randomValues(static_cast<std::size_t>(n), 1);
    const std::vector<double> sourceIm = randomValues(static_cast<std::size_t>(n), 2);
    std::vector<double> re(sourceRe.size()), im(sourceIm.size());
    const int m = orderOf(n);
    for (auto _ : state) {
        std::copy(sourceRe.begin(), sourceRe.end(), re.begin());
        std::copy(sourceIm.begin(), sourceIm.end(), im.begin());
        CMathFunc::FFT_CODE_REAL(re, im, m);
        benchmark::DoNotOptimize(re.data());
        benchmark::DoNotOptimize(im.data());
    }
    state.SetItemsProcessed(state.iterations());
}

void Fftw(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const std::vector<double> sourceRe = randomValues(static_cast<std::size_t>(n), 1);
    const std::vector<double> sourceIm = randomValues(static_cast<std::size_t>(n), 2);
    auto* source = static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * n));
    auto* work = static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * n));
    // FFTW_MEASURE overwrites the array while planning: plan first, fill after.
    fftw_plan plan = fftw_plan_dft_1d(n, work, work, FFTW_FORWARD, FFTW_MEASURE);
    for (int i = 0; i < n; ++i) {
        source[i][0] = sourceRe[static_cast<std::size_t>(i)];
        source[i][1] = sourceIm[static_cast<std::size_t>(i)];
    }
    for (auto _ : state) {
        std::copy(&source[0][0], &source[0][0] + 2 * n, &work[0][0]);
        fftw_execute(plan);
        benchmark::DoNotOptimize(&work[0][0]);
    }
    state.SetItemsProcessed(state.iterations());
    fftw_destroy_plan(plan);
    fftw_free(work);
    fftw_free(source);
}

void Spectrum(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    constexpr int kRows = 512;
    constexpr double kRateHz = 22050.0;
    const std::vector<double> frame = randomValues(static_cast<std::size_t>(n) + 10, 3);
    std::vector<double> data(std::max<std::size_t>(frame.size(), kRows));
    for (auto _ : state) {
        std::copy(frame.begin(), frame.end(), data.begin());
        CMathFunc::DoFFT_Real(data, n, 0.97, 1, 1, kRows, 11025, kRateHz);
        benchmark::DoNotOptimize(data.data());
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(Fft)->RangeMultiplier(2)->Range(kMinLength, kMaxLength);
BENCHMARK(Fftw)->RangeMultiplier(2)->Range(kMinLength, kMaxLength);
BENCHMARK(Spectrum)->RangeMultiplier(2)->Range(kMinLength, kMaxLength);

// The console report, followed by our FFT time over FFTW's for each length.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                m_cpuTimes[run.benchmark_name()].push_back(run.GetAdjustedCPUTime());
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::printf("\nFFT_CODE_REAL time / FFTW time (median CPU times; lower is better):\n");
        for (int n = kMinLength; n <= kMaxLength; n *= 2) {
            const double ours = median("Fft/" + std::to_string(n));
            const double theirs = median("Fftw/" + std::to_string(n));
            if (ours > 0 && theirs > 0) {
                std::printf("  N = %4d: %.2fx  (%.0f ns / %.0f ns, %zu runs each)\n", n,
                            ours / theirs, ours, theirs,
                            m_cpuTimes["Fft/" + std::to_string(n)].size());
            }
        }
    }

private:
    // The median of one benchmark's repetitions; 0 when it did not run.
    double median(const std::string& name)
    {
        std::vector<double>& times = m_cpuTimes[name];
        if (times.empty()) {
            return 0.0;
        }
        std::sort(times.begin(), times.end());
        const std::size_t middle = times.size() / 2;
        return times.size() % 2 == 1 ? times[middle] : (times[middle - 1] + times[middle]) / 2;
    }

    std::map<std::string, std::vector<double>> m_cpuTimes;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    fftw_cleanup();
    return 0;
}
