// Turning a box recording's raw file into a document.
//
// The file is 10 minutes of a 9-channel box (13,230,000 frames of 16 int16
// slots, 423 MB), made once in $TMPDIR/phonaxis-bench (or
// /tmp/phonaxis-bench) and reused while its size is right; it is written
// through a fixed buffer. Each read makes the 9 channels of a document;
// throughput is file bytes per second. The peak resident memory of one read
// (VmHWM after resetting it) is reported next to its budget: the float
// samples + 64 MB, since the file is streamed, never held whole.

#include "ResidentMemory.h"
#include "document/AutomaticPrompts.h"
#include "document/MyDocument.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <system_error>
#include <vector>

namespace {

using namespace phonaxis;
namespace fs = std::filesystem;

constexpr std::uint64_t kFrames = 22050ull * 600;
constexpr std::uint64_t kFrameBytes = 32;
constexpr int kBoxChannels = 9;

fs::path recordingPath()
{
    const char* tmp = std::getenv("TMPDIR");
    return fs::path(tmp && *tmp ? tmp : "/tmp") / "phonaxis-bench" / "box-9ch-10min.raw";
}

bool ensureRecording(const fs::path& path)
{
    std::error_code ec;
    if (fs::file_size(path, ec) == kFrames * kFrameBytes) {
        return true;
    }
    fs::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<std::uint8_t> block(2048 * kFrameBytes);
    for (std::uint64_t first = 0; first < kFrames; first += 2048) {
        for (std::size_t i = 0; i < block.size(); ++i) {
            block[i] = static_cast<std::uint8_t>((first + i) * 2654435761u >> 13);
        }
        const std::uint64_t frames = std::min<std::uint64_t>(2048, kFrames - first);
        out.write(reinterpret_cast<const char*>(block.data()),
                  static_cast<std::streamsize>(frames * kFrameBytes));
    }
    return static_cast<bool>(out.flush());
}

void BM_ReadBox9Ch10Min(benchmark::State& state)
{
    const fs::path path = recordingPath();
    if (!ensureRecording(path)) {
        state.SkipWithError("the recording could not be written");
        return;
    }
    std::array<ChannelInfo, 20> table{};
    for (ChannelInfo& entry : table) {
        entry.bOnOff = 1;
        entry.nGain = 1;
        entry.nFilterRate = 150;
    }
    AutomaticPrompts prompts(&std::cerr, "alert: ");
    AppSettings settings;
    const bool peakReset = bench::resetPeakResident();
    long peakKb = 0;
    for (auto _ : state) {
        MyDocument document(prompts, settings);
        if (document.Read_RecordedFile_X2(path.string(), table, kBoxChannels) != 0) {
            state.SkipWithError("the recording was refused");
            return;
        }
        peakKb = std::max(peakKb, bench::peakResidentKb());
        benchmark::DoNotOptimize(document.getChannel(8).m_hData.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFrames * kFrameBytes));
    if (!peakReset) {
        state.SetLabel("peak not reset: whole-process peak");
    }
    state.counters["peak_MB"] = static_cast<double>(peakKb) / 1024.0;
    state.counters["budget_MB"] =
        static_cast<double>(kFrames * kBoxChannels * sizeof(float)) / (1024.0 * 1024.0) + 64.0;
}

} // namespace

BENCHMARK(BM_ReadBox9Ch10Min)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

BENCHMARK_MAIN();
