// The spectrogram window on a whole long recording, timed as the window runs
// it: 60 min of 44,100 Hz speech (the samples `phonaxis-gen bench-recordings`
// writes as speech.wav; PHONAXIS_BENCH_SPEECH_MIN shortens it) with a new
// document's spectrogram settings, in a view 1,600 pixels wide and 900 high
// with the waveform pane (an image of 1,540 columns). The document window's
// min/max summary of the channel is built once, as the main view holds it.
//
// * Snapshot: what the main thread does before the worker starts: the
//   copy of the columns' frames and the waveform pane's column extremes
//   (SpectrogramInput::fromDocument). Counters: the snapshot's bytes and the
//   growth of the peak resident memory while one is taken.
// * FirstImage: from the start to the first picture: the snapshot, the
//   worker's start, its first finished columns and the main thread turning
//   them into the picture (preview and image), as a poll does. Counter
//   mainMs: the main thread's share (snapshot + start + preview + image).
//   The window polls every 0.5 s and shows the finished picture as soon as
//   the worker is done, so it shows its first image at the earlier of the
//   worker's end and the first poll.
// * Finished: from the start until the worker's result is ready, and the
//   peak resident growth of a whole computation.
// * Preview: one poll's work on the main thread mid-computation.
// * Restart: what a resize costs the main thread while a worker runs:
//   stopping and joining it, the new snapshot and the new worker's start.
// * Paint: drawing the finished picture (image, tracks, grids, waveform
//   pane) into the view, as every expose or scroll of the window does.
// * Columns/precise:P/threads:T/levels:L: the engine alone on the snapshot
//   (DoSpectrogram): FFT columns (L 1; L 0: formant records alone, as
//   phonaxis-cli spectrogram's rows need) and precise (P 1) or classic (P 0)
//   formant tracks, on T threads (0: one per core).
// * Resampling/wide:W: one precise analysis's resampling and formants, by
//   the wide (AVX2) kernel or the portable one.
// * RowsText/form:F/direct:D: a block of phonaxis-cli spectrogram's rows in
//   each output form, formatted directly or through records and the block
//   writer, as before.
//
// The snapshot's result must equal the engine run on every sample of the
// channel (checked once; the program aborts otherwise).

#include "AnalysisRecordings.h"
#include "ResidentMemory.h"

#include "analysis/PreciseFormants.h"
#include "cli/CliCommands.h"
#include "cli/CliFormantTrack.h"
#include "cli/CliSession.h"
#include "cli/CliSpectrogramRows.h"
#include "display/SpectrogramGraph.h"
#include "document/AutomaticPrompts.h"
#include "document/MyDocument.h"
#include "model/MinMaxSummary.h"
#include "windows/SpectrogramAnalysis.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace phonaxis;
using Clock = std::chrono::steady_clock;

const QSize kViewSize(1600, 900);

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "SpectrogramBench: %s\n", what);
    std::abort();
}

double speechMinutes()
{
    const char* text = std::getenv("PHONAXIS_BENCH_SPEECH_MIN");
    const double minutes = text != nullptr && *text != '\0' ? std::strtod(text, nullptr) : 60.0;
    return minutes > 0.0 && minutes <= 240.0 ? minutes : 60.0;
}

struct Fixture {
    AutomaticPrompts prompts;
    std::unique_ptr<MyDocument> document;
    MinMaxSummary summary;
    SpectrogramGraphLayout layout;
};

Fixture& fixture()
{
    static Fixture f = [] {
        Fixture built;
        built.document = std::make_unique<MyDocument>(built.prompts);
        MyDocument& doc = *built.document;
        const std::vector<float> samples = bench::speechRecording(speechMinutes() * 60000.0);
        Channels& channel = doc.getChannel(0);
        const auto n = static_cast<double>(samples.size());
        if (!channel.setData(samples.data(), n)) {
            fail("cannot hold the recording in a channel");
        }
        channel.m_dwFileLength = n;
        channel.m_dSampleRate = bench::kSpeechRateHz;
        channel.m_dLengthMS = n * 1000.0 / bench::kSpeechRateHz;
        channel.m_nChannelType = 1;
        doc.m_nNumofChannels = 1;
        doc.m_bHaveData = true;
        if (!built.summary.build(channel.samples())) {
            fail("no memory for the summary");
        }
        built.layout = SpectrogramGraphLayout::forView(kViewSize, false, doc.m_bSpecDrawAudio);
        return built;
    }();
    return f;
}

SpectrogramInput snapshot(const Fixture& f)
{
    return SpectrogramInput::fromDocument(*f.document, false, f.layout.columns(), f.layout.rows(),
                                          &f.summary);
}

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The picture a poll makes of the columns finished so far; false when none is.
bool pollPicture(const SpectrogramWorker& worker, const MyDocument& document)
{
    std::vector<std::uint8_t> shown;
    const SpectrogramResult soFar = worker.preview(shown);
    if (!soFar.m_bHaveSpectrogram) {
        return false;
    }
    const SpectrogramGraphInput graph =
        spectrogramGraphInput(worker.input(), &soFar, spectrogramImage(soFar, shown), document);
    benchmark::DoNotOptimize(graph.image.constBits());
    return true;
}

void checkAgainstEveryChannelSample()
{
    Fixture& f = fixture();
    const SpectrogramInput input = snapshot(f);
    SpectrogramInput everything = input;
    const std::span<const float> channel = f.document->getChannel(0).samples();
    everything.samples.assign(channel.begin(), channel.end());
    everything.offset = 0.0;
    everything.runs.clear();
    const SpectrogramResult a = DoSpectrogram(input, nullptr);
    const SpectrogramResult b = DoSpectrogram(everything, nullptr);
    if (!a.m_bHaveSpectrogram || a.levels != b.levels || a.formants != b.formants) {
        fail("the snapshot's spectrogram differs from the whole channel's");
    }
}

// Times `work` once per iteration and reports the largest growth of the
// peak resident memory one run of it caused (peakGrowthMB).
template <typename Work> void timedWithPeakGrowth(benchmark::State& state, Work work)
{
    long peakGrowthKb = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const long before = bench::currentResidentKb();
        bench::resetPeakResident();
        state.ResumeTiming();
        work();
        state.PauseTiming();
        peakGrowthKb = std::max(peakGrowthKb, bench::peakResidentKb() - before);
        state.ResumeTiming();
    }
    state.counters["peakGrowthMB"] = static_cast<double>(peakGrowthKb) / 1e3;
}

void Snapshot(benchmark::State& state)
{
    Fixture& f = fixture();
    std::size_t bytes = 0;
    timedWithPeakGrowth(state, [&] {
        const SpectrogramInput input = snapshot(f);
        benchmark::DoNotOptimize(input.samples.data());
        bytes = input.memoryBytes();
    });
    state.counters["snapshotMB"] = static_cast<double>(bytes) / 1e6;
}

void FirstImage(benchmark::State& state)
{
    Fixture& f = fixture();
    double mainMs = 0.0;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        SpectrogramWorker worker(snapshot(f));
        double main = msSince(start);
        while (worker.busy() && worker.progress() < 1) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        const Clock::time_point poll = Clock::now();
        if (!pollPicture(worker, *f.document)) {
            // Already done: the finished picture is what shows first.
            const SpectrogramResult& done = worker.wait();
            benchmark::DoNotOptimize(spectrogramImage(done).constBits());
        }
        main += msSince(poll);
        state.PauseTiming();
        mainMs += main;
        worker.cancel();
        state.ResumeTiming();
    }
    state.counters["mainMs"] = mainMs / static_cast<double>(state.iterations());
}

void Finished(benchmark::State& state)
{
    Fixture& f = fixture();
    timedWithPeakGrowth(state, [&] {
        SpectrogramWorker worker(snapshot(f));
        if (!worker.wait().m_bHaveSpectrogram) {
            fail("no spectrogram");
        }
    });
}

void Preview(benchmark::State& state)
{
    Fixture& f = fixture();
    // Long transforms and a high LPC order keep the worker busy for the
    // whole measurement.
    MyDocument& doc = *f.document;
    const int fftLength = doc.m_nSpecWindowLength;
    const int order = doc.m_nSpecLPCNumberofCoefficients;
    doc.m_nSpecWindowLength = 8192;
    doc.m_nSpecLPCNumberofCoefficients = 200;
    SpectrogramWorker worker(snapshot(f));
    doc.m_nSpecWindowLength = fftLength;
    doc.m_nSpecLPCNumberofCoefficients = order;
    while (worker.busy() && worker.progress() < 1) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    for (auto _ : state) {
        if (!pollPicture(worker, *f.document)) {
            state.SkipWithError("the worker ended before the measurement");
            break;
        }
    }
}

void Restart(benchmark::State& state)
{
    Fixture& f = fixture();
    auto worker = std::make_unique<SpectrogramWorker>(snapshot(f));
    for (auto _ : state) {
        worker.reset(); // stops and joins
        worker = std::make_unique<SpectrogramWorker>(snapshot(f));
        state.PauseTiming();
        while (worker->busy() && worker->progress() < 5) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        state.ResumeTiming();
    }
}

void Paint(benchmark::State& state)
{
    Fixture& f = fixture();
    SpectrogramWorker worker(snapshot(f));
    const SpectrogramResult& done = worker.wait();
    const SpectrogramGraphInput graph =
        spectrogramGraphInput(worker.input(), &done, spectrogramImage(done), *f.document);
    QImage view(kViewSize, QImage::Format_RGB32);
    for (auto _ : state) {
        view.fill(Qt::white);
        QPainter painter(&view);
        drawSpectrogramGraph(painter, kViewSize, graph);
    }
}

void Columns(benchmark::State& state)
{
    Fixture& f = fixture();
    MyDocument& doc = *f.document;
    const bool precise = doc.m_bPreciseAnalysis;
    doc.m_bPreciseAnalysis = state.range(0) != 0;
    SpectrogramInput input = snapshot(f);
    input.levels = state.range(2) != 0;
    doc.m_bPreciseAnalysis = precise;
    for (auto _ : state) {
        const SpectrogramResult result =
            DoSpectrogram(input, nullptr, static_cast<int>(state.range(1)));
        if (!result.m_bHaveSpectrogram) {
            fail("no spectrogram");
        }
        benchmark::DoNotOptimize(result.levels.data());
    }
}

// The precise resampling of one analysis after another along the
// recording, by the wide kernel (1) where the processor has one or the
// portable one (0): what every precise column spends most of its time on.
void Resampling(benchmark::State& state)
{
    Fixture& f = fixture();
    const std::span<const float> samples = f.document->getChannel(0).samples();
    PreciseFormants analysis(bench::kSpeechRateHz, 5000.0);
    analysis.setWideKernels(state.range(0) != 0);
    const double step = 0.0617 * bench::kSpeechRateHz; // apart: each resampled afresh
    double centre = bench::kSpeechRateHz;
    for (auto _ : state) {
        benchmark::DoNotOptimize(analysis.analyseNext(samples, 0, centre));
        centre += step;
        if (centre > static_cast<double>(samples.size()) - bench::kSpeechRateHz) {
            centre = bench::kSpeechRateHz;
        }
    }
}

// phonaxis-cli spectrogram's rows (1 ms apart) of a 1,000-column result:
// a block of 8,192 rows in the log format (0), --table (1), --csv (2) or
// --json (3), formatted directly (direct 1) or as records through the
// block writer (direct 0).
void RowsText(benchmark::State& state)
{
    static const SpectrogramResult result = [] {
        Fixture& f = fixture();
        SpectrogramInput input = SpectrogramInput::fromDocument(*f.document, false, 1000, 16);
        input.levels = false;
        return DoSpectrogram(input, nullptr);
    }();
    cli::Options options;
    options.table = state.range(0) == 1;
    options.csv = state.range(0) == 2;
    options.json = state.range(0) == 3;
    const double spanMs = speechMinutes() * 60000.0;
    const std::string name = "speech.wav";
    const std::string path = "/data/speech.wav";
    cli::Table named;
    named.columns = {"file", "channel", "time_ms", "F1_hz", "F2_hz", "F3_hz", "F4_hz", "F5_hz"};
    const SpectrogramSelectionRows rows{0.0, spanMs, 0.0, spanMs, 1.0, result.columns};
    const cli::SpectrogramRowsText text(options, name, path, 0, result, rows, named);
    constexpr std::size_t kBlock = 8192;
    std::size_t first = 0;
    for (auto _ : state) {
        if (state.range(1) != 0) {
            benchmark::DoNotOptimize(text.block(first, kBlock));
        } else {
            const std::vector<LogRecord> records = SpectrogramLog::formantsSelection(
                name, result, 0.0, spanMs, 0.0, spanMs, 1.0, first, kBlock);
            benchmark::DoNotOptimize(cli::BlockWriter::format(options, records, [&] {
                cli::Table table = named;
                for (const LogRecord& record : records) {
                    table.rows.push_back({path, 0.0, cli::numberCell(record.values[0])});
                    for (int i = 1; i <= 5; ++i) {
                        table.rows.back().push_back(
                            cli::formantCell(record.values[static_cast<std::size_t>(i)]));
                    }
                }
                return table;
            }));
        }
        first = (first + kBlock) % 900'000;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kBlock));
}

} // namespace

BENCHMARK(Resampling)->ArgName("wide")->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(RowsText)
    ->ArgNames({"form", "direct"})
    ->ArgsProduct({{0, 1, 2, 3}, {1, 0}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Columns)
    ->ArgNames({"precise", "threads", "levels"})
    ->ArgsProduct({{1, 0}, {1, 0}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(Snapshot)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(FirstImage)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Finished)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Preview)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Restart)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Paint)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    }
    QGuiApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    checkAgainstEveryChannelSample();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
