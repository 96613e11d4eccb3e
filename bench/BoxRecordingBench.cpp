// The main thread's work per block while the box records: the 64 KiB block
// appended to the raw recording file and split into the channels of a
// 9-channel box, as the live view does. A block lasts 2,048 / 22,050 s
// (92.9 ms); the "realtime" counter says how many times over that budget
// the work fits (the flushes to the disk run on their own thread).

#include "hardware/BoxRecording.h"
#include "hardware/SimulatedBox.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace {

using namespace phonaxis;

constexpr double kBlockSeconds = static_cast<double>(kFramesPerBlock) / kBoxFrameRate;
// A new file every 64 MiB, so that a long run does not fill the disk.
constexpr int kBlocksPerFile = 1024;

std::vector<std::uint8_t> boxBlock()
{
    std::vector<std::uint8_t> block(kFramesPerBlock * kFrameBytes);
    for (std::size_t f = 0; f < kFramesPerBlock; ++f) {
        for (std::size_t s = 0; s < 16; ++s) {
            const auto v = static_cast<std::uint16_t>(usb::SimulatedBox::slotValue(s, f));
            block[f * kFrameBytes + 2 * s] = static_cast<std::uint8_t>(v & 0xFF);
            block[f * kFrameBytes + 2 * s + 1] = static_cast<std::uint8_t>(v >> 8);
        }
    }
    return block;
}

void BM_AppendAndSplitNineChannels(benchmark::State& state)
{
    char pattern[] = "/tmp/boxrecordingbenchXXXXXX";
    const std::filesystem::path folder = ::mkdtemp(pattern);
    AppSettings settings;
    RecordingInfo info;
    info.systemChannels = 9;
    std::copy_n(settings.g_ChannelInfo.begin(), info.table.size(), info.table.begin());
    const std::vector<int> entries = enabledEntries(info.table, 9);
    const std::vector<std::uint8_t> block = boxBlock();
    std::vector<std::vector<float>> channels(entries.size(), std::vector<float>(kFramesPerBlock));

    std::string error;
    auto file = std::make_unique<RawRecordingFile>();
    if (!file->create(folder, info, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    int written = 0;
    for (auto _ : state) {
        if (!file->append(block, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        for (std::size_t c = 0; c < entries.size(); ++c) {
            float* samples = channels[c].data();
            for (std::size_t f = 0; f < kFramesPerBlock; ++f)
                samples[f] = entryValue(block.data() + f * kFrameBytes, entries[c]);
        }
        benchmark::DoNotOptimize(channels.back().data());
        if (++written == kBlocksPerFile) {
            state.PauseTiming();
            file->remove();
            file = std::make_unique<RawRecordingFile>();
            file->create(folder, info, error);
            written = 0;
            state.ResumeTiming();
        }
    }
    file->remove();
    std::filesystem::remove_all(folder);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(block.size()));
    state.counters["realtime"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kBlockSeconds, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AppendAndSplitNineChannels)->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(5);

} // namespace

BENCHMARK_MAIN();
