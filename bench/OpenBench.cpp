// Opening long recordings and writing them back.
//
// Two files are made once in $TMPDIR/phonaxis-bench (or /tmp/phonaxis-bench)
// and reused while their size is right: 60 minutes of 44.1 kHz mono 16-bit
// PCM (318 MB) and 10 minutes of 9-channel 22,050 Hz 32-bit float (476 MB).
// They are streamed to disk through a fixed buffer, never held whole.
//
// Each open reads the file and runs the document's open dispatch; throughput
// is file bytes per second. The open benchmarks also report the peak
// resident memory of one open (VmHWM after resetting it) next to the budget:
// the float samples + the file's bytes + 64 MB.

#include "ResidentMemory.h"
#include "document/AutomaticPrompts.h"
#include "document/FileIO.h"
#include "document/MyDocument.h"
#include "document/Prompts.h"
#include "document/RecordingReader.h"

#include <benchmark/benchmark.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <functional>
#include <numbers>
#include <string>
#include <system_error>
#include <vector>

namespace {

using phonaxis::bench::peakResidentKb;
using phonaxis::bench::resetPeakResident;

using namespace phonaxis;
namespace fs = std::filesystem;

static_assert(std::endian::native == std::endian::little,
              "the benchmark files are written in host byte order");

constexpr double kMiB = 1024.0 * 1024.0;


struct BenchFile {
    std::string name;
    std::uint16_t formatTag; // 1 PCM, 3 float
    std::uint16_t channels;
    std::uint32_t rateHz;
    std::uint16_t bitsPerSample;
    std::uint64_t frames;

    std::uint32_t headerBytes() const { return formatTag == 1 ? 44 : 48; }
    std::uint64_t dataBytes() const { return frames * channels * (bitsPerSample / 8u); }
    std::uint64_t fileBytes() const { return headerBytes() + dataBytes(); }
    std::uint64_t floatBytes() const { return frames * channels * sizeof(float); }
};

const BenchFile kPcmHour{"pcm16-mono-44100-60min.wav", 1, 1, 44100, 16, 44100ull * 3600};
const BenchFile kFloatNine{"float32-9ch-22050-10min.wav", 3, 9, 22050, 32, 22050ull * 600};

fs::path benchDirectory()
{
    const char* tmp = std::getenv("TMPDIR");
    return fs::path(tmp && *tmp ? tmp : "/tmp") / "phonaxis-bench";
}

void put16(std::uint8_t*& p, std::uint16_t v)
{
    std::memcpy(p, &v, 2);
    p += 2;
}
void put32(std::uint8_t*& p, std::uint32_t v)
{
    std::memcpy(p, &v, 4);
    p += 4;
}
void putTag(std::uint8_t*& p, const char* tag)
{
    std::memcpy(p, tag, 4);
    p += 4;
}

// The 44-byte PCM header, or the 48-byte float header our own writer uses
// ("fmt " of 20 bytes: the 16 standard ones, a zero extension size and two
// zero bytes).
std::vector<std::uint8_t> waveHeader(const BenchFile& f)
{
    std::vector<std::uint8_t> header(f.headerBytes(), 0);
    std::uint8_t* p = header.data();
    const auto blockAlign = static_cast<std::uint16_t>(f.channels * f.bitsPerSample / 8);
    const auto dataBytes = static_cast<std::uint32_t>(f.dataBytes());
    putTag(p, "RIFF");
    put32(p, static_cast<std::uint32_t>(f.fileBytes() - 8));
    putTag(p, "WAVE");
    putTag(p, "fmt ");
    put32(p, f.formatTag == 1 ? 16 : 20);
    put16(p, f.formatTag);
    put16(p, f.channels);
    put32(p, f.rateHz);
    put32(p, f.rateHz * blockAlign);
    put16(p, blockAlign);
    put16(p, f.bitsPerSample);
    if (f.formatTag != 1) {
        p += 4;
    }
    putTag(p, "data");
    put32(p, dataBytes);
    return header;
}

// Streams one file through a fixed buffer: each channel a sine at its own
// frequency, made by a rotating phasor that is re-seeded exactly at every
// block so it never drifts.
bool writeBenchFile(const BenchFile& f, const fs::path& path, std::string& error)
{
    const fs::path partial = path.string() + ".part";
    std::FILE* out = std::fopen(partial.c_str(), "wb");
    if (!out) {
        error = "cannot create " + partial.string();
        return false;
    }
    const std::vector<std::uint8_t> header = waveHeader(f);
    bool ok = std::fwrite(header.data(), 1, header.size(), out) == header.size();

    constexpr std::uint64_t kBlockFrames = 16384;
    const std::size_t sampleBytes = f.bitsPerSample / 8u;
    std::vector<std::uint8_t> block(kBlockFrames * f.channels * sampleBytes);
    std::vector<double> step(f.channels);
    for (std::size_t c = 0; c < f.channels; ++c) {
        step[c] = 2.0 * std::numbers::pi * (110.0 * static_cast<double>(c + 1) + 7.0) / f.rateHz;
    }
    for (std::uint64_t start = 0; ok && start < f.frames; start += kBlockFrames) {
        const std::uint64_t count = std::min(kBlockFrames, f.frames - start);
        for (std::size_t c = 0; c < f.channels; ++c) {
            const double phase0 =
                std::fmod(step[c] * static_cast<double>(start), 2.0 * std::numbers::pi);
            double re = std::cos(phase0), im = std::sin(phase0);
            const double cr = std::cos(step[c]), ci = std::sin(step[c]);
            for (std::uint64_t i = 0; i < count; ++i) {
                const double v = 0.5 * im;
                std::uint8_t* dst = block.data() + (i * f.channels + c) * sampleBytes;
                if (f.formatTag == 1) {
                    const auto s = static_cast<std::int16_t>(std::lround(v * 32767.0));
                    std::memcpy(dst, &s, 2);
                } else {
                    const auto s = static_cast<float>(v);
                    std::memcpy(dst, &s, 4);
                }
                const double nre = re * cr - im * ci;
                im = re * ci + im * cr;
                re = nre;
            }
        }
        const std::size_t bytes = count * f.channels * sampleBytes;
        ok = std::fwrite(block.data(), 1, bytes, out) == bytes;
    }
    ok = std::fclose(out) == 0 && ok;
    std::error_code ec;
    if (ok) {
        fs::rename(partial, path, ec);
        ok = !ec;
    }
    if (!ok) {
        fs::remove(partial, ec);
        error = "cannot write " + path.string();
    }
    return ok;
}

// The file's path, written first unless it is already there at its size.
std::string benchFile(const BenchFile& f, std::string& error)
{
    const fs::path dir = benchDirectory();
    const fs::path path = dir / f.name;
    std::error_code ec;
    if (fs::is_regular_file(path, ec) && fs::file_size(path, ec) == f.fileBytes()) {
        return path.string();
    }
    fs::create_directories(dir, ec);
    if (!writeBenchFile(f, path, error)) {
        return {};
    }
    return path.string();
}

// Reads and opens one file; `use` sees the document while it is open.
bool openDocument(const std::string& path, const BenchFile& f, std::string& error,
                  const std::function<void(MyDocument&)>& use = {})
{
    FileContents file;
    if (!file.open(path, error)) {
        return false;
    }
    AutomaticPrompts prompts(&std::cerr, "alert: ");
    MyDocument document(prompts);
    if (!document.readFromData(file.bytes(), "wav")) {
        error = "the document declined " + path;
        return false;
    }
    if (document.m_nNumofChannels != f.channels ||
        document.getChannel(0).m_dwFileLength != static_cast<double>(f.frames)) {
        error = "wrong channel count or length after opening " + path;
        return false;
    }
    if (use) {
        use(document);
    }
    return true;
}

void openBenchmark(benchmark::State& state, const BenchFile& f)
{
    std::string error;
    const std::string path = benchFile(f, error);
    if (path.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    // Warm cache: one untimed open brings the file into the page cache and
    // lets the system settle the memory it hands out for the samples.
    if (!openDocument(path, f, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    for (auto _ : state) {
        if (!openDocument(path, f, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * f.fileBytes()));

    // One more open, outside the timing, for its memory peak.
    if (!resetPeakResident()) {
        state.SetLabel("peak not reset: whole-process peak");
    }
    long peakKb = -1;
    openDocument(path, f, error, [&](MyDocument&) { peakKb = peakResidentKb(); });
    state.counters["peak_MB"] = static_cast<double>(peakKb) / 1024.0;
    state.counters["budget_MB"] = static_cast<double>(f.floatBytes() + f.fileBytes()) / kMiB + 64.0;
}

void BM_OpenPcm16Mono60Min(benchmark::State& state)
{
    openBenchmark(state, kPcmHour);
}
void BM_OpenFloat9Ch10Min(benchmark::State& state)
{
    openBenchmark(state, kFloatNine);
}

void BM_WriteFloat9Ch10Min(benchmark::State& state)
{
    std::string error;
    const std::string path = benchFile(kFloatNine, error);
    if (path.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    const bool opened = openDocument(path, kFloatNine, error, [&](MyDocument& document) {
        std::size_t written = 0;
        for (auto _ : state) {
            const auto bytes =
                document.Save_WAVE_FileType_float(false, -1, document.m_nNumofChannels, false);
            if (!bytes) {
                state.SkipWithError("the WAV writer declined");
                return;
            }
            written = bytes->size();
            benchmark::DoNotOptimize(bytes->data());
        }
        state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * written));
    });
    if (!opened) {
        state.SkipWithError(error.c_str());
    }
}

// The analyses' reading: the header, then channel 0's samples read from the
// file a block at a time (whole, or the 100 ms stretch at 30 minutes with
// a second either side). The budget is the one channel's floats + 64 MB.
void readForAnalysis(benchmark::State& state, const BenchFile& f, bool stretch)
{
    std::string error;
    const std::string path = benchFile(f, error);
    if (path.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    const auto read = [&](const std::function<void()>& atPeak) {
        AutomaticPrompts prompts(&std::cerr, "alert: ");
        MyDocument document(prompts);
        RecordingReader reader;
        if (!reader.open(path, document, error)) {
            return false;
        }
        const std::int64_t middle = static_cast<std::int64_t>(f.frames / 2);
        const std::int64_t from = stretch ? middle - f.rateHz : 0;
        const std::int64_t to = stretch ? middle + f.rateHz + f.rateHz / 10
                                        : static_cast<std::int64_t>(f.frames);
        if (!reader.readSamples(document, 0, from, to, error)) {
            return false;
        }
        benchmark::DoNotOptimize(document.getChannel(0).samples().data());
        if (atPeak) {
            atPeak();
        }
        return true;
    };
    read({}); // brings the file into the page cache
    for (auto _ : state) {
        if (!read({})) {
            state.SkipWithError(error.c_str());
            return;
        }
    }
    if (!resetPeakResident()) {
        state.SetLabel("peak not reset: whole-process peak");
    }
    long peakKb = -1;
    read([&] { peakKb = peakResidentKb(); });
    state.counters["peak_MB"] = static_cast<double>(peakKb) / 1024.0;
    state.counters["budget_MB"] =
        static_cast<double>(f.frames * sizeof(float)) / kMiB + 64.0;
}

void BM_ReadChannelPcm16Mono60Min(benchmark::State& state)
{
    readForAnalysis(state, kPcmHour, false);
}
void BM_ReadStretchPcm16Mono60Min(benchmark::State& state)
{
    readForAnalysis(state, kPcmHour, true);
}
void BM_ReadChannelFloat9Ch10Min(benchmark::State& state)
{
    readForAnalysis(state, kFloatNine, false);
}

BENCHMARK(BM_ReadChannelPcm16Mono60Min)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_ReadStretchPcm16Mono60Min)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_ReadChannelFloat9Ch10Min)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_OpenPcm16Mono60Min)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_OpenFloat9Ch10Min)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_WriteFloat9Ch10Min)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

BENCHMARK_MAIN();
