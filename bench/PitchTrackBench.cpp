// The pitch window's whole cepstral track of one recording file, timed as a
// user gets it: the file given by PHONAXIS_BENCH_FILE (a WAV, AIFF or pmf
// recording) is opened once, outside the timing, and every iteration computes
// the track of its audio channel with a new document's pitch settings
// (DoPitchCepstral).
//
// * PitchTrack/threads:0: as the pitch window runs it, one thread per core.
// * PitchTrack/threads:1: one thread.
//
// Times are wall-clock (UseRealTime). bench/praat/pitch_side_by_side.sh runs
// this program and the reference tool's To Pitch (cc) on the same file in
// turns and quotes the ratio of the medians.

#include "document/AutomaticPrompts.h"
#include "document/FileIO.h"
#include "document/MyDocument.h"
#include "model/Channels.h"
#include "windows/PitchAnalysis.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

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

void PitchTrack(benchmark::State& state)
{
    MyDocument& document = recording();
    const int index = document.audioChannelIndex();
    const Channels& channel = document.getChannel(index);
    const PitchParameters parameters = PitchParameters::fromDocument(document);
    PitchAnalysis pitch;
    for (auto _ : state) {
        pitch.intilize(channel, index, parameters);
        if (!pitch.DoPitchCepstral(channel.samples(), static_cast<int>(state.range(0)))) {
            fail("no pitch track");
        }
        benchmark::DoNotOptimize(pitch.m_hdPitchFile.data());
    }
    state.counters["frames"] = pitch.m_nFrameCount;
    state.counters["minutes"] = channel.m_dLengthMS / 60000.0;
}

BENCHMARK(PitchTrack)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("threads")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
