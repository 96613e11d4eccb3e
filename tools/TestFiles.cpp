#include "TestFiles.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

namespace phonaxis::testfiles {

namespace {

void putLE(FileBytes& out, std::uint64_t value, int count)
{
    for (int i = 0; i < count; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

void putBE(FileBytes& out, std::uint64_t value, int count)
{
    for (int i = count - 1; i >= 0; --i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

void putTag(FileBytes& out, const std::string& tag)
{
    for (std::size_t i = 0; i < 4; ++i) {
        out.push_back(i < tag.size() ? static_cast<std::uint8_t>(tag[i]) : std::uint8_t{' '});
    }
}

void append(FileBytes& out, const FileBytes& more)
{
    out.insert(out.end(), more.begin(), more.end());
}

// x × 2^(bits-1), rounded to nearest and clipped to the signed range.
std::int64_t quantise(double x, int bits)
{
    const double scale = std::ldexp(1.0, bits - 1);
    const double top = scale - 1.0;
    const double v = std::clamp(std::nearbyint(x * scale), -scale, top);
    return static_cast<std::int64_t>(v);
}

// One sample in `bits` bits: signed integers (or unsigned for `offsetBinary`),
// or IEEE floats when `isFloat`.
void putSample(FileBytes& out, double x, int bits, bool isFloat, bool offsetBinary, bool little)
{
    std::uint64_t raw = 0;
    if (isFloat) {
        raw = bits == 32 ? std::bit_cast<std::uint32_t>(static_cast<float>(x))
                         : std::bit_cast<std::uint64_t>(x);
    } else {
        std::int64_t v = quantise(x, bits);
        if (offsetBinary) {
            v += std::int64_t{1} << (bits - 1);
        }
        raw = static_cast<std::uint64_t>(v);
    }
    if (little) {
        putLE(out, raw, bits / 8);
    } else {
        putBE(out, raw, bits / 8);
    }
}

constexpr std::uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

} // namespace

FileBytes riffChunk(const Chunk& chunk)
{
    FileBytes out;
    putTag(out, chunk.id);
    putLE(out, chunk.declaredSize.value_or(static_cast<std::uint32_t>(chunk.content.size())), 4);
    append(out, chunk.content);
    if (chunk.content.size() % 2 != 0) {
        out.push_back(0);
    }
    return out;
}

FileBytes iffChunk(const Chunk& chunk)
{
    FileBytes out;
    putTag(out, chunk.id);
    putBE(out, chunk.declaredSize.value_or(static_cast<std::uint32_t>(chunk.content.size())), 4);
    append(out, chunk.content);
    if (chunk.content.size() % 2 != 0) {
        out.push_back(0);
    }
    return out;
}

FileBytes wavFormatContent(const WavLayout& layout)
{
    const auto bytesPerSample = static_cast<std::uint16_t>(layout.bitsPerSample / 8);
    const auto blockAlign =
        layout.blockAlign.value_or(static_cast<std::uint16_t>(layout.channels * bytesPerSample));
    FileBytes fmt;
    putLE(fmt, layout.formatTag, 2);
    putLE(fmt, layout.channels, 2);
    putLE(fmt, layout.sampleRate, 4);
    putLE(fmt, std::uint64_t{layout.sampleRate} * blockAlign, 4);
    putLE(fmt, blockAlign, 2);
    putLE(fmt, layout.bitsPerSample, 2);
    if (layout.formatTag == kWavExtensible) {
        putLE(fmt, 22, 2);                           // extension size
        putLE(fmt, layout.bitsPerSample, 2);         // valid bits
        putLE(fmt, layout.channels == 2 ? 3 : 0, 4); // speaker mask
        putLE(fmt, layout.subFormat, 2);
        fmt.insert(fmt.end(), std::begin(kGuidTail), std::end(kGuidTail));
    }
    return fmt;
}

FileBytes wavSampleBytes(const WavLayout& layout, std::span<const double> interleaved)
{
    const int bits = layout.bitsPerSample;
    const std::uint16_t tag =
        layout.formatTag == kWavExtensible ? layout.subFormat : layout.formatTag;
    const bool isFloat = tag == kWavFloat;
    const std::size_t channels = std::max<std::size_t>(layout.channels, 1);
    const std::size_t used = channels * static_cast<std::size_t>(bits / 8);
    const std::size_t blockAlign = layout.blockAlign.value_or(static_cast<std::uint16_t>(used));
    FileBytes data;
    for (std::size_t i = 0; i < interleaved.size(); ++i) {
        putSample(data, interleaved[i], bits, isFloat, bits == 8, true);
        if ((i + 1) % channels == 0) {
            for (std::size_t pad = used; pad < blockAlign; ++pad) {
                data.push_back(0);
            }
        }
    }
    return data;
}

WavLayout wavLayout(std::uint16_t tag, std::uint16_t bits, std::uint16_t channels,
                    std::uint32_t rateHz, std::uint16_t subFormat)
{
    WavLayout layout;
    layout.formatTag = tag;
    layout.subFormat = subFormat;
    layout.bitsPerSample = bits;
    layout.channels = channels;
    layout.sampleRate = rateHz;
    return layout;
}

FileBytes makeWav(const WavLayout& layout, std::span<const double> interleaved)
{
    FileBytes chunks;
    for (const auto& c : layout.chunksBeforeFmt) {
        append(chunks, riffChunk(c));
    }
    const FileBytes fmt = riffChunk({"fmt ", wavFormatContent(layout), std::nullopt});
    const FileBytes data =
        riffChunk({"data", wavSampleBytes(layout, interleaved), layout.declaredDataSize});
    if (layout.dataBeforeFmt) {
        append(chunks, data);
    }
    append(chunks, fmt);
    for (const auto& c : layout.chunksBeforeData) {
        append(chunks, riffChunk(c));
    }
    if (!layout.dataBeforeFmt) {
        append(chunks, data);
    }
    for (const auto& c : layout.chunksAfterData) {
        append(chunks, riffChunk(c));
    }
    FileBytes out;
    putTag(out, "RIFF");
    putLE(out, 4 + chunks.size(), 4);
    putTag(out, "WAVE");
    append(out, chunks);
    return out;
}

FileBytes extendedBytes(double value)
{
    FileBytes out;
    std::uint16_t signExponent = std::signbit(value) ? 0x8000 : 0;
    value = std::fabs(value);
    std::uint64_t mantissa = 0;
    if (std::isinf(value)) {
        signExponent |= 0x7FFF;
    } else if (value != 0.0) {
        int exponent = 0;
        const double fraction = std::frexp(value, &exponent); // [0.5, 1)
        // Top 53 bits of the 64-bit mantissa; the rest are zero.
        mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53)) << 11;
        signExponent |= static_cast<std::uint16_t>(exponent - 1 + 16383);
    }
    putBE(out, signExponent, 2);
    putBE(out, mantissa, 8);
    return out;
}

FileBytes makeAiff(const AiffLayout& layout, std::span<const double> interleaved)
{
    const auto channels = static_cast<std::size_t>(std::max<int>(layout.channels, 1));
    const std::string& compression = layout.compression;
    const bool isFloat = layout.aifc && (compression == "fl32" || compression == "FL32" ||
                                         compression == "fl64" || compression == "FL64");
    const bool little = layout.aifc && compression == "sowt";
    int bits = layout.bitsPerSample;
    if (isFloat) {
        bits = (compression == "fl32" || compression == "FL32") ? 32 : 64;
    }

    FileBytes comm;
    putBE(comm, static_cast<std::uint16_t>(layout.channels), 2);
    const auto frames = static_cast<std::uint32_t>(interleaved.size() / channels);
    putBE(comm, layout.declaredFrames.value_or(frames), 4);
    putBE(comm, static_cast<std::uint16_t>(layout.bitsPerSample), 2);
    append(comm, extendedBytes(layout.sampleRate));
    if (layout.aifc) {
        putTag(comm, compression);
        // An empty name: one count byte and a pad byte.
        comm.push_back(0);
        comm.push_back(0);
    }

    FileBytes ssnd;
    putBE(ssnd, layout.ssndOffset, 4);
    putBE(ssnd, 0, 4);
    ssnd.insert(ssnd.end(), layout.ssndOffset, std::uint8_t{0});
    for (double x : interleaved) {
        putSample(ssnd, x, bits, isFloat, false, little);
    }

    FileBytes chunks;
    if (layout.aifc) {
        FileBytes version;
        putBE(version, 0xA2805140u, 4);
        append(chunks, iffChunk({"FVER", version, std::nullopt}));
    }
    const FileBytes commChunk = iffChunk({"COMM", comm, std::nullopt});
    const FileBytes ssndChunk = iffChunk({"SSND", ssnd, layout.declaredSsndSize});
    for (const auto& c : layout.chunksBeforeComm) {
        append(chunks, iffChunk(c));
    }
    if (layout.ssndBeforeComm) {
        append(chunks, ssndChunk);
    }
    append(chunks, commChunk);
    for (const auto& c : layout.chunksBeforeSsnd) {
        append(chunks, iffChunk(c));
    }
    if (!layout.ssndBeforeComm) {
        append(chunks, ssndChunk);
    }
    FileBytes out;
    putTag(out, "FORM");
    putBE(out, 4 + chunks.size(), 4);
    putTag(out, layout.aifc ? "AIFC" : "AIFF");
    append(out, chunks);
    return out;
}

std::vector<double> exactRamp(std::size_t frames, std::size_t channels)
{
    std::vector<double> values(frames * channels);
    for (std::size_t f = 0; f < frames; ++f) {
        for (std::size_t c = 0; c < channels; ++c) {
            const auto step = static_cast<long>((f * 37 + c * 101 + 5) % 256) - 128;
            values[f * channels + c] = static_cast<double>(step) / 128.0;
        }
    }
    return values;
}

std::vector<double> testSignal(std::size_t frames, std::size_t channels)
{
    const double edgeValues[] = {-1.0, 1.0, 0.0, -0.5, 0.999};
    std::vector<double> values(frames * channels);
    for (std::size_t f = 0; f < frames; ++f) {
        for (std::size_t c = 0; c < channels; ++c) {
            const std::size_t k = f + 3 * c;
            values[f * channels + c] =
                k % 7 == 0 ? edgeValues[(k / 7) % std::size(edgeValues)]
                           : 0.9 * std::sin(0.0123 * static_cast<double>((f + 1) * (c + 3)) + 0.3);
        }
    }
    return values;
}

double encodedValue(double x, int bits, bool isFloat)
{
    if (isFloat) {
        return bits == 32 ? static_cast<double>(static_cast<float>(x)) : x;
    }
    return std::ldexp(static_cast<double>(quantise(x, bits)), 1 - bits);
}

bool writeSeedCorpus(const std::string& dir, std::string& error)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        error = "Cannot create the folder " + dir + ": " + ec.message();
        return false;
    }

    const auto mono = exactRamp(200, 1);
    const auto stereo = exactRamp(100, 2);
    std::vector<std::pair<std::string, FileBytes>> files;

    auto wav = [](std::uint16_t tag, std::uint16_t bits, std::uint16_t channels) {
        WavLayout layout;
        layout.formatTag = tag;
        layout.bitsPerSample = bits;
        layout.channels = channels;
        layout.sampleRate = 22050;
        return layout;
    };
    files.emplace_back("pcm16-mono.wav", makeWav(wav(kWavPcm, 16, 1), mono));
    files.emplace_back("pcm8-stereo.wav", makeWav(wav(kWavPcm, 8, 2), stereo));
    files.emplace_back("pcm24-stereo.wav", makeWav(wav(kWavPcm, 24, 2), stereo));
    files.emplace_back("pcm32-mono.wav", makeWav(wav(kWavPcm, 32, 1), mono));
    files.emplace_back("float32-stereo.wav", makeWav(wav(kWavFloat, 32, 2), stereo));
    files.emplace_back("float64-mono.wav", makeWav(wav(kWavFloat, 64, 1), mono));
    {
        auto layout = wav(kWavExtensible, 24, 2);
        layout.subFormat = kWavPcm;
        files.emplace_back("extensible-pcm24.wav", makeWav(layout, stereo));
    }
    {
        auto layout = wav(kWavPcm, 16, 2);
        layout.chunksBeforeData.push_back({"LIST", FileBytes(7, 'x'), std::nullopt});
        layout.dataBeforeFmt = false;
        files.emplace_back("odd-chunk.wav", makeWav(layout, stereo));
    }
    {
        auto layout = wav(kWavPcm, 16, 1);
        layout.declaredDataSize = 0x7FFFFFF0u;
        files.emplace_back("data-past-end.wav", makeWav(layout, mono));
    }
    {
        auto layout = wav(kWavPcm, 16, 1);
        layout.blockAlign = 0;
        files.emplace_back("block-align-0.wav", makeWav(layout, mono));
    }

    auto aiff = [](bool aifc, const std::string& compression, std::int16_t bits,
                   std::int16_t channels) {
        AiffLayout layout;
        layout.aifc = aifc;
        layout.compression = compression;
        layout.bitsPerSample = bits;
        layout.channels = channels;
        layout.sampleRate = 22050.0;
        return layout;
    };
    files.emplace_back("stereo16.aiff", makeAiff(aiff(false, "NONE", 16, 2), stereo));
    files.emplace_back("mono8.aiff", makeAiff(aiff(false, "NONE", 8, 1), mono));
    files.emplace_back("sowt16.aifc", makeAiff(aiff(true, "sowt", 16, 2), stereo));
    files.emplace_back("fl32.aifc", makeAiff(aiff(true, "fl32", 32, 1), mono));
    {
        auto layout = aiff(false, "NONE", 24, 1);
        layout.ssndOffset = 4;
        layout.declaredSsndSize = 0x10000u;
        files.emplace_back("offset-truncated24.aiff", makeAiff(layout, mono));
    }

    for (const auto& [name, content] : files) {
        const fs::path path = fs::path(dir) / name;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(content.data()),
                  static_cast<std::streamsize>(content.size()));
        out.close();
        if (!out) {
            error = "Cannot write " + path.string();
            return false;
        }
    }
    return true;
}

} // namespace phonaxis::testfiles
