// Saving and reopening the native float files.
//
// The document is 10 minutes of 9 channels at 22,050 Hz (476 MB of float
// samples), built once in memory with Channels::setData. Each format
// (KVQ_PC_FLOAT and USB2 float) is measured:
//
// * saving to bytes in memory (Save_KVQ_PC_Float_FileType /
//   Save_KVQ_PC_USB2_Float_FileType);
// * saving by streaming to a file (writeNativeFile, the undo backup's path),
//   into $TMPDIR/phonaxis-bench (or /tmp/phonaxis-bench), flush to disk
//   included;
// * reopening that file: reading it and running the document's open dispatch.
//
// Throughput is file bytes per second, warm cache: every benchmark runs once
// untimed first. The streaming benchmarks also report the peak resident
// memory of one streamed save (VmHWM after resetting it) next to the
// document's own float bytes: a backup must not hold a second copy.

#include "ResidentMemory.h"
#include "document/AutomaticPrompts.h"
#include "document/FileIO.h"
#include "document/MyDocument.h"
#include "document/NativeFormat.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

namespace {

using phonaxis::bench::currentResidentKb;
using phonaxis::bench::peakResidentKb;
using phonaxis::bench::resetPeakResident;

using namespace phonaxis;
namespace fs = std::filesystem;

constexpr int kChannels = 9;
constexpr double kRateHz = 22050.0;
constexpr std::size_t kFrames = 22050u * 600u;
constexpr double kMiB = 1024.0 * 1024.0;

AutomaticPrompts& benchPrompts()
{
    static AutomaticPrompts prompts;
    return prompts;
}

// The 10-minute document, built on first use: a sine per channel and a few
// labels, as a recording from the 9-channel box would have.
MyDocument& benchDocument()
{
    static std::unique_ptr<MyDocument> document = [] {
        auto doc = std::make_unique<MyDocument>(benchPrompts());
        std::vector<float> samples(kFrames);
        for (int c = 0; c < kChannels; ++c) {
            const double step = 2.0 * std::numbers::pi * (110.0 * (c + 1) + 7.0) / kRateHz;
            for (std::size_t i = 0; i < kFrames; ++i) {
                samples[i] =
                    static_cast<float>(0.5 * std::sin(step * static_cast<double>(i % 1000003)));
            }
            Channels& channel = doc->getChannel(c);
            channel.setData(samples.data(), static_cast<double>(kFrames));
            channel.m_dwFileLength = static_cast<double>(kFrames);
            channel.m_dSampleRate = kRateHz;
            channel.m_dLengthMS = static_cast<double>(kFrames) * 1000.0 / kRateHz;
            channel.m_nChannelType = c == 0 ? 1 : 0;
            channel.m_nOrder = c + 1;
            channel.SetTitle("Chan " + std::to_string(c));
            for (int k = 0; k < 10; ++k) {
                LabelTransfer label;
                label.dTime = 60000.0 * k + 123.0;
                label.text = "label " + std::to_string(k);
                channel.Add_Label(label);
            }
        }
        doc->m_nNumofChannels = kChannels;
        doc->m_bHaveData = true;
        doc->m_nFileFormat = FileFormat::kPcFloat;
        return doc;
    }();
    return *document;
}

double documentFloatBytes()
{
    return static_cast<double>(kFrames) * kChannels * sizeof(float);
}

std::string benchPath(bool usb2)
{
    const char* tmp = std::getenv("TMPDIR");
    const fs::path dir = fs::path(tmp && *tmp ? tmp : "/tmp") / "phonaxis-bench";
    std::error_code ec;
    fs::create_directories(dir, ec);
    return (dir / (usb2 ? "native-usb2-9ch-22050-10min.pmf" : "native-float-9ch-22050-10min.pmf"))
        .string();
}

void saveBytes(benchmark::State& state, bool usb2)
{
    MyDocument& doc = benchDocument();
    auto save = [&] {
        return usb2 ? doc.Save_KVQ_PC_USB2_Float_FileType(false)
                    : doc.Save_KVQ_PC_Float_FileType(false);
    };
    std::size_t size = 0;
    if (const auto warm = save()) {
        size = warm->size();
    } else {
        state.SkipWithError("the writer declined");
        return;
    }
    for (auto _ : state) {
        const auto bytes = save();
        benchmark::DoNotOptimize(bytes->data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void saveStreamed(benchmark::State& state, bool usb2)
{
    MyDocument& doc = benchDocument();
    const std::string path = benchPath(usb2);
    std::string error;
    if (!writeNativeFile(doc, usb2, false, path, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    for (auto _ : state) {
        if (!writeNativeFile(doc, usb2, false, path, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
    }
    const auto size = fs::file_size(path);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));

    // One more save, outside the timing, for its memory peak.
    if (!resetPeakResident()) {
        state.SetLabel("peak not reset: whole-process peak");
    }
    const long before = currentResidentKb();
    writeNativeFile(doc, usb2, false, path, error);
    const long peak = peakResidentKb();
    state.counters["peak_MB"] = static_cast<double>(peak) / 1024.0;
    state.counters["peak_rise_MB"] = static_cast<double>(peak - before) / 1024.0;
    state.counters["document_MB"] = documentFloatBytes() / kMiB;
}

void reopen(benchmark::State& state, bool usb2)
{
    const std::string path = benchPath(usb2);
    std::string error;
    if (!writeNativeFile(benchDocument(), usb2, false, path, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    auto open = [&] {
        FileContents file;
        if (!file.open(path, error)) {
            return false;
        }
        AppSettings settings;
        MyDocument doc(benchPrompts(), settings);
        return doc.readFromData(file.bytes(), "pmf") && doc.m_nNumofChannels == kChannels &&
               doc.getChannel(kChannels - 1).m_dwFileLength == static_cast<double>(kFrames);
    };
    if (!open()) {
        state.SkipWithError(("cannot reopen " + path).c_str());
        return;
    }
    for (auto _ : state) {
        if (!open()) {
            state.SkipWithError(("cannot reopen " + path).c_str());
            return;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fs::file_size(path)));
}

void BM_SaveBytesKvqPcFloat(benchmark::State& state)
{
    saveBytes(state, false);
}
void BM_SaveBytesUsb2Float(benchmark::State& state)
{
    saveBytes(state, true);
}
void BM_SaveStreamedKvqPcFloat(benchmark::State& state)
{
    saveStreamed(state, false);
}
void BM_SaveStreamedUsb2Float(benchmark::State& state)
{
    saveStreamed(state, true);
}
void BM_ReopenKvqPcFloat(benchmark::State& state)
{
    reopen(state, false);
}
void BM_ReopenUsb2Float(benchmark::State& state)
{
    reopen(state, true);
}

BENCHMARK(BM_SaveBytesKvqPcFloat)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_SaveBytesUsb2Float)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_SaveStreamedKvqPcFloat)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_SaveStreamedUsb2Float)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ReopenKvqPcFloat)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_ReopenUsb2Float)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

} // namespace

BENCHMARK_MAIN();
