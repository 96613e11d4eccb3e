// The pitch window's whole track of one recording file, timed as a user
// gets it, and the precise track's stages one by one: the file given by
// PHONAXIS_BENCH_FILE (a WAV, AIFF or pmf recording) is opened once, outside
// the timing, and every iteration computes the track of its audio channel
// with a new document's pitch settings (DoPitchCepstral).
//
// * PitchTrack/threads:0: as the pitch window runs it, one thread per core.
// * PitchTrack/threads:1: one thread.
// * PrecisePitchTrack/threads:T: the same in the precise mode.
// * PreciseStage/stage:S, one thread: 0 the frames' peaks (framePeak);
//   1 the frames' candidates (analyseFrames, a block of 128 frames from one
//   decimation); 2 the path search (PitchPath) through frames analysed
//   beforehand; 3 the intensity of every frame's row
//   (Channels::intensityDbfsAt, as phonaxis-cli pitch gives it).
//
// Times are wall-clock (UseRealTime). bench/praat/pitch_side_by_side.sh runs
// this program and the reference tool's To Pitch (cc) on the same file in
// turns and quotes the ratio of the medians.

#include "analysis/PrecisePitch.h"
#include "document/AutomaticPrompts.h"
#include "document/FileIO.h"
#include "document/MyDocument.h"
#include "model/Channels.h"
#include "windows/PitchAnalysis.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace {

using namespace phonaxis;

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "PitchTrackBench: %s\n", what.c_str());
    std::exit(2);
}

// The recording, opened on first use.
MyDocument& recording()
{
    static AutomaticPrompts prompts(&std::cerr, "alert: ");
    static std::unique_ptr<MyDocument> document = [] {
        const char* path = std::getenv("PHONAXIS_BENCH_FILE");
        if (path == nullptr || *path == '\0') {
            fail("set PHONAXIS_BENCH_FILE to the recording to analyse");
        }
        FileContents file;
        std::string error;
        if (!file.open(path, error)) {
            fail(error);
        }
        auto opened = std::make_unique<MyDocument>(prompts);
        std::string extension = std::filesystem::path(path).extension().string();
        if (!extension.empty()) {
            extension.erase(0, 1);
        }
        if (!opened->readFromData(file.bytes(), extension) || opened->audioChannelIndex() < 0) {
            fail(std::string("cannot open the audio channel of ") + path);
        }
        return opened;
    }();
    return *document;
}

// The whole track on `threads` threads (0: one per core), in the mode of a
// new document or the precise one.
void runTrack(benchmark::State& state, int threads, bool precise)
{
    MyDocument& document = recording();
    const int index = document.audioChannelIndex();
    const Channels& channel = document.getChannel(index);
    PitchParameters parameters = PitchParameters::fromDocument(document);
    parameters.m_bPreciseAnalysis = parameters.m_bPreciseAnalysis || precise;
    PitchAnalysis pitch;
    for (auto _ : state) {
        pitch.intilize(channel, index, parameters);
        if (!pitch.DoPitchCepstral(channel.samples(), threads)) {
            fail("no pitch track");
        }
        benchmark::DoNotOptimize(pitch.m_hdPitchFile.data());
    }
    state.counters["frames"] = pitch.m_nFrameCount;
    state.counters["minutes"] = channel.m_dLengthMS / 60000.0;
}

void PitchTrack(benchmark::State& state)
{
    runTrack(state, static_cast<int>(state.range(0)), false);
}

void PrecisePitchTrack(benchmark::State& state)
{
    runTrack(state, static_cast<int>(state.range(0)), true);
}

BENCHMARK(PitchTrack)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("threads")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK(PrecisePitchTrack)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("threads")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void PreciseStage(benchmark::State& state)
{
    MyDocument& document = recording();
    const Channels& channel = document.getChannel(document.audioChannelIndex());
    const PitchParameters parameters = PitchParameters::fromDocument(document);
    PrecisePitch analyser;
    if (!analyser.configure({channel.m_dSampleRate, parameters.m_dCalculationLow,
                             parameters.m_dCalculationHigh, parameters.m_dPitchWindowLength,
                             parameters.m_dPitchStepSize})) {
        fail("the precise settings make no track");
    }
    PitchSamples input;
    input.samples = channel.samples();
    input.end = static_cast<std::int64_t>(channel.samples().size());
    const double step = channel.m_dSampleRate * parameters.m_dPitchStepSize / 1000.0;
    const auto count = static_cast<std::size_t>(static_cast<double>(input.end) / step);
    constexpr std::size_t kBlock = 128;
    std::vector<PitchFrame> frames(count);
    const auto analyseAll = [&] {
        for (std::size_t k = 0; k < count; k += kBlock) {
            const std::span<PitchFrame> block(frames.data() + k, std::min(kBlock, count - k));
            if (!analyser.analyseFrames(input, 0.0, step, static_cast<std::int64_t>(k), block)) {
                fail("a frame could not be analysed");
            }
        }
    };
    const int stage = static_cast<int>(state.range(0));
    if (stage == 2) {
        analyseAll();
    }
    double globalPeak = 0.0;
    for (const PitchFrame& frame : frames) {
        globalPeak = std::max(globalPeak, frame.peak);
    }
    std::vector<double> track(count);
    for (auto _ : state) {
        switch (stage) {
        case 0:
            for (std::size_t k = 0; k < count; ++k) {
                track[k] = analyser.framePeak(input, static_cast<double>(k) * step);
            }
            break;
        case 1:
            analyseAll();
            break;
        case 2: {
            PitchPath path;
            if (!path.begin(analyser, count, globalPeak) || !path.add(frames) ||
                !path.finish(track)) {
                fail("no path");
            }
            break;
        }
        default:
            for (std::size_t k = 0; k < count; ++k) {
                track[k] = channel.intensityDbfsAt(static_cast<double>(k) *
                                                   parameters.m_dPitchStepSize);
            }
            break;
        }
        benchmark::DoNotOptimize(track.data());
        benchmark::DoNotOptimize(frames.data());
    }
    state.counters["frames"] = static_cast<double>(count);
    state.counters["decimation"] = analyser.decimation();
}

BENCHMARK(PreciseStage)
    ->DenseRange(0, 3)
    ->ArgName("stage")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
