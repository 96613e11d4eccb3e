// The min/max summaries behind the main view's traces.
//
// The recording is 9 channels of 60 minutes at 22,050 Hz (714 M samples,
// 2.86 GB of floats), generated once in memory: each channel a tone at its
// own frequency under a slow swell, with a little deterministic noise. When
// the machine has too little free memory for it, 10 minutes are used and the
// label says so (the build time scales linearly with the samples).
//
// * BM_BuildNineChannels/threads:N — summaries of all channels with
//   buildSummaries on N threads; counters: summary size in MB and as a share
//   of the samples' bytes.
// * BM_BuildOneChannel — one channel's whole rebuild after an edit
//   (MinMaxSummary::build on this thread).
// * BM_RebuildSecondHalf — one channel brought up to date after an edit in
//   its middle (rebuildFrom).
// * BM_NineChannelView/spc:S — the min/max columns of a 1,600-column view of
//   all 9 channels at S samples per column (0: the whole recording), the
//   page moved to a new place at every iteration as when scrolling.

#include "ResidentMemory.h"
#include "model/MinMaxSummary.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

namespace {

using namespace phonaxis;

constexpr std::size_t kChannels = 9;
constexpr double kRateHz = 22050.0;
constexpr std::size_t kViewColumns = 1600;
constexpr double kMB = 1e6;

// MemAvailable of /proc/meminfo in bytes, or 0.
std::uint64_t availableBytes()
{
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    std::uint64_t kb = 0;
    std::string unit;
    while (meminfo >> key >> kb >> unit) {
        if (key == "MemAvailable:") {
            return kb * 1024;
        }
    }
    return 0;
}

struct Recording {
    int minutes = 0;
    std::size_t length = 0;
    std::vector<std::unique_ptr<float[]>> channels;
    std::vector<MinMaxSummary> summaries;

    std::span<const float> samples(std::size_t c) const { return {channels[c].get(), length}; }
    std::uint64_t sampleBytes() const { return kChannels * length * sizeof(float); }
};

void fillChannel(float* out, std::size_t length, std::size_t channel)
{
    // A rotating phasor, re-seeded exactly every block so it never drifts.
    constexpr std::size_t kBlock = 65536;
    const double step =
        2.0 * std::numbers::pi * (97.0 + 61.0 * static_cast<double>(channel)) / kRateHz;
    std::uint32_t noise = 12345u + static_cast<std::uint32_t>(channel);
    for (std::size_t start = 0; start < length; start += kBlock) {
        const double phase = std::fmod(step * static_cast<double>(start), 2.0 * std::numbers::pi);
        double re = std::cos(phase), im = std::sin(phase);
        const double cr = std::cos(step), ci = std::sin(step);
        const double swell =
            0.2 + 0.6 * std::fabs(std::sin(static_cast<double>(start) / (kRateHz * 7.0)));
        const std::size_t end = std::min(length, start + kBlock);
        for (std::size_t i = start; i < end; ++i) {
            noise = noise * 1664525u + 1013904223u;
            const double hiss = static_cast<double>(noise >> 8) / 16777216.0 - 0.5;
            out[i] = static_cast<float>(swell * im + 0.02 * hiss);
            const double nre = re * cr - im * ci;
            im = re * ci + im * cr;
            re = nre;
        }
    }
}

Recording* makeRecording()
{
    auto recording = std::make_unique<Recording>();
    const auto hourBytes = static_cast<std::uint64_t>(kChannels * 3600 * kRateHz * sizeof(float));
    // Room for the samples, their summaries and 2 GB left for everyone else.
    recording->minutes = availableBytes() > hourBytes + (hourBytes / 20) + (2ull << 30) ? 60 : 10;
    recording->length = static_cast<std::size_t>(recording->minutes * 60 * kRateHz);
    for (std::size_t c = 0; c < kChannels; ++c) {
        recording->channels.push_back(std::make_unique_for_overwrite<float[]>(recording->length));
        fillChannel(recording->channels.back().get(), recording->length, c);
    }
    recording->summaries.resize(kChannels);
    return recording.release();
}

Recording& recording()
{
    static const std::unique_ptr<Recording> shared(makeRecording());
    return *shared;
}

std::vector<SummaryJob> jobsFor(Recording& r)
{
    std::vector<SummaryJob> jobs;
    for (std::size_t c = 0; c < kChannels; ++c) {
        jobs.push_back({&r.summaries[c], r.samples(c)});
    }
    return jobs;
}

std::string minutesLabel(const Recording& r)
{
    return std::to_string(kChannels) + " x " + std::to_string(r.minutes) + " min" +
           (r.minutes == 60 ? "" : " (too little free memory for 60 min)");
}

void BM_BuildNineChannels(benchmark::State& state)
{
    Recording& r = recording();
    const std::vector<SummaryJob> jobs = jobsFor(r);
    const auto threads = static_cast<unsigned>(state.range(0));
    for (auto _ : state) {
        if (!buildSummaries(jobs, threads)) {
            state.SkipWithError("a summary could not be allocated");
            return;
        }
    }
    std::size_t summaryBytes = 0;
    for (const MinMaxSummary& summary : r.summaries) {
        summaryBytes += summary.memoryBytes();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * r.sampleBytes()));
    state.counters["summary_MB"] = static_cast<double>(summaryBytes) / kMB;
    state.counters["summary_pct"] =
        100.0 * static_cast<double>(summaryBytes) / static_cast<double>(r.sampleBytes());
    state.counters["samples_MB"] = static_cast<double>(r.sampleBytes()) / kMB;
    state.counters["rss_MB"] = static_cast<double>(bench::currentResidentKb()) / 1024.0;
    state.SetLabel(minutesLabel(r));
}

void BM_BuildOneChannel(benchmark::State& state)
{
    Recording& r = recording();
    MinMaxSummary summary;
    for (auto _ : state) {
        if (!summary.build(r.samples(0))) {
            state.SkipWithError("the summary could not be allocated");
            return;
        }
    }
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * r.length * sizeof(float)));
    state.SetLabel(std::to_string(r.minutes) + " min");
}

void BM_RebuildSecondHalf(benchmark::State& state)
{
    Recording& r = recording();
    MinMaxSummary summary;
    if (!summary.build(r.samples(0))) {
        state.SkipWithError("the summary could not be allocated");
        return;
    }
    for (auto _ : state) {
        if (!summary.rebuildFrom(r.samples(0), r.length / 2)) {
            state.SkipWithError("the summary could not be allocated");
            return;
        }
    }
    state.SetLabel(std::to_string(r.minutes) + " min, from the middle");
}

void BM_NineChannelView(benchmark::State& state)
{
    Recording& r = recording();
    if (!buildSummaries(jobsFor(r), 0)) {
        state.SkipWithError("a summary could not be allocated");
        return;
    }
    const auto n = static_cast<double>(r.length);
    // Whole samples per column, or a fraction above for the larger zooms so
    // that column starts fall between blocks.
    const auto arg = static_cast<double>(state.range(0));
    const double perColumn = arg == 0 ? n / kViewColumns : arg < 10 ? arg : arg + 0.37;
    const double pageSamples = perColumn * kViewColumns;
    std::vector<TraceColumn> columns(kViewColumns);
    std::uint64_t position = 88172645463325252ull;
    std::size_t drawn = 0;
    for (auto _ : state) {
        position ^= position << 13;
        position ^= position >> 7;
        position ^= position << 17;
        const double pageMin =
            arg == 0 ? 0.0
                     : static_cast<double>(position % static_cast<std::uint64_t>(n - pageSamples));
        for (std::size_t c = 0; c < kChannels; ++c) {
            if (traceColumns(r.summaries[c], r.samples(c), pageMin, pageMin + pageSamples, 40.0,
                             150, columns) == TraceDrawing::MinMaxColumns) {
                ++drawn;
            }
            benchmark::DoNotOptimize(columns.data());
        }
    }
    if (drawn != state.iterations() * kChannels) {
        state.SkipWithError("a view was not drawn in min/max columns");
    }
    state.SetLabel(std::to_string(perColumn) + " samples per column");
}

BENCHMARK(BM_BuildNineChannels)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);
BENCHMARK(BM_BuildOneChannel)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_RebuildSecondHalf)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_NineChannelView)
    ->ArgName("spc")
    ->Arg(0)
    ->Arg(10000)
    ->Arg(1000)
    ->Arg(200)
    ->Arg(64)
    ->Arg(17)
    ->Arg(4)
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
