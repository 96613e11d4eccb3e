// RIFF/WAVE: the reader for integer PCM and IEEE float files (plain and
// extensible) and the 32-bit float writer.

#include "document/ByteReader.h"
#include "document/FileIO.h"
#include "document/MyDocument.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <cerrno>
#include <string>
#include <system_error>
#include <thread>
#include <type_traits>
#include <vector>

namespace phonaxis {

namespace {

static_assert(std::numeric_limits<float>::is_iec559 && std::numeric_limits<double>::is_iec559,
              "sample conversions rely on IEEE floats");

constexpr std::uint16_t kTagPcm = 1;
constexpr std::uint16_t kTagFloat = 3;
constexpr std::uint16_t kTagExtensible = 0xFFFE;

// The 14 bytes that follow the format code in the sub-format GUID of an
// extensible "fmt " chunk (the common base GUID of the plain format codes).
constexpr std::uint8_t kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                             0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

constexpr std::size_t kPlainFmtSize = 16;
constexpr std::size_t kExtensibleFmtSize = 40;
constexpr std::uint16_t kExtensionSize = 22;
constexpr std::uint32_t kMaxRiffSize = std::numeric_limits<std::uint32_t>::max();
constexpr std::size_t kWrittenHeaderSize = 48;

enum class SampleCoding { Unsigned8, Signed16, Signed24, Signed32, Float32, Float64 };

// What the "fmt " chunk says, validated.
struct WavFormatInfo {
    SampleCoding coding = SampleCoding::Signed16;
    std::size_t channels = 0;
    std::size_t blockAlign = 0;
    std::size_t bytesPerSample = 0;
    std::uint32_t sampleRate = 0;
    std::uint16_t bitsPerSample = 0;
};

std::optional<SampleCoding> codingFor(std::uint16_t tag, std::uint16_t bits)
{
    if (tag == kTagPcm) {
        switch (bits) {
        case 8:
            return SampleCoding::Unsigned8;
        case 16:
            return SampleCoding::Signed16;
        case 24:
            return SampleCoding::Signed24;
        case 32:
            return SampleCoding::Signed32;
        default:
            return std::nullopt;
        }
    }
    if (tag == kTagFloat) {
        switch (bits) {
        case 32:
            return SampleCoding::Float32;
        case 64:
            return SampleCoding::Float64;
        default:
            return std::nullopt;
        }
    }
    return std::nullopt;
}

// Parses and validates the content of a "fmt " chunk. Nothing when the
// layout is one this reader cannot open.
std::optional<WavFormatInfo> parseFormat(std::span<const std::uint8_t> content)
{
    const ByteReader fmt(content);
    if (fmt.size() < kPlainFmtSize) {
        return std::nullopt;
    }
    std::uint16_t tag = *fmt.u16le(0);
    const std::uint16_t channels = *fmt.u16le(2);
    const std::uint32_t rate = *fmt.u32le(4);
    const std::uint16_t blockAlign = *fmt.u16le(12);
    const std::uint16_t bits = *fmt.u16le(14);

    if (tag == kTagExtensible) {
        // The real format is the first two bytes of the sub-format GUID.
        if (fmt.size() < kExtensibleFmtSize || *fmt.u16le(16) < kExtensionSize) {
            return std::nullopt;
        }
        const auto tail = fmt.slice(26, sizeof kSubFormatTail);
        if (std::memcmp(tail.data(), kSubFormatTail, sizeof kSubFormatTail) != 0) {
            return std::nullopt;
        }
        tag = *fmt.u16le(24);
    }

    const auto coding = codingFor(tag, bits);
    if (!coding || channels == 0 || channels > MyDocument::kChannelSlots || rate == 0) {
        return std::nullopt;
    }
    WavFormatInfo info;
    info.coding = *coding;
    info.channels = channels;
    info.blockAlign = blockAlign;
    info.bytesPerSample = bits / 8u;
    info.sampleRate = rate;
    info.bitsPerSample = bits;
    if (info.blockAlign == 0 || info.blockAlign < info.channels * info.bytesPerSample) {
        return std::nullopt;
    }
    return info;
}

// One stored sample at `p` as a normalised float.
template <SampleCoding coding> inline float decodeSample(const std::uint8_t* p) noexcept
{
    if constexpr (coding == SampleCoding::Unsigned8) {
        return static_cast<float>(static_cast<int>(p[0]) - 128) * (1.0f / 128.0f);
    } else if constexpr (coding == SampleCoding::Signed16) {
        return static_cast<float>(static_cast<std::int16_t>(byteorder::loadU16LE(p))) *
               (1.0f / 32768.0f);
    } else if constexpr (coding == SampleCoding::Signed24) {
        // Place the three bytes in the top of a 32-bit word so that the sign
        // comes along, then scale by 2^-31 (exact: the value has 24 bits).
        const std::uint32_t word =
            (std::uint32_t{p[0]} << 8) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 24);
        return static_cast<float>(static_cast<std::int32_t>(word)) * (1.0f / 2147483648.0f);
    } else if constexpr (coding == SampleCoding::Signed32) {
        return static_cast<float>(static_cast<std::int32_t>(byteorder::loadU32LE(p))) *
               (1.0f / 2147483648.0f);
    } else if constexpr (coding == SampleCoding::Float32) {
        return std::bit_cast<float>(byteorder::loadU32LE(p));
    } else {
        return static_cast<float>(std::bit_cast<double>(byteorder::loadU64LE(p)));
    }
}

// Frames converted per pass: a block of interleaved frames stays in cache
// while each channel takes its samples out of it.
constexpr std::size_t kFramesPerBlock = 2048;

template <SampleCoding coding>
void deinterleave(const std::uint8_t* data, std::size_t frames, const WavFormatInfo& info,
                  std::vector<SampleBuffer>& out)
{
    const std::size_t stride = info.blockAlign;
    for (std::size_t first = 0; first < frames; first += kFramesPerBlock) {
        const std::size_t count = std::min(kFramesPerBlock, frames - first);
        const std::uint8_t* block = data + first * stride;
        for (std::size_t c = 0; c < info.channels; ++c) {
            const std::uint8_t* src = block + c * info.bytesPerSample;
            float* dst = out[c].data() + first;
            for (std::size_t f = 0; f < count; ++f) {
                dst[f] = decodeSample<coding>(src + f * stride);
            }
        }
    }
}

// Calls work(c) with the coding as a compile-time constant c (c.value).
template <typename Work> void withCoding(SampleCoding coding, const Work& work)
{
    using C = SampleCoding;
    switch (coding) {
    case C::Unsigned8:
        work(std::integral_constant<C, C::Unsigned8>{});
        break;
    case C::Signed16:
        work(std::integral_constant<C, C::Signed16>{});
        break;
    case C::Signed24:
        work(std::integral_constant<C, C::Signed24>{});
        break;
    case C::Signed32:
        work(std::integral_constant<C, C::Signed32>{});
        break;
    case C::Float32:
        work(std::integral_constant<C, C::Float32>{});
        break;
    case C::Float64:
        work(std::integral_constant<C, C::Float64>{});
        break;
    }
}

void convertSamples(const std::uint8_t* data, std::size_t frames, const WavFormatInfo& info,
                    std::vector<SampleBuffer>& out)
{
    withCoding(info.coding,
               [&](auto coding) { deinterleave<coding.value>(data, frames, info, out); });
}

// Where the chunks this reader needs lie in the file.
struct WavChunks {
    std::optional<std::span<const std::uint8_t>> fmt;
    std::optional<std::span<const std::uint8_t>> data;
    // The data chunk's size as its header gives it, before any cut.
    std::size_t declaredData = 0;
};

// Walks the chunks after the 12-byte RIFF header. Only the first "fmt " and
// the first "data" chunk count; their order does not matter. A data chunk
// that claims more than the file holds is cut to the file; any other chunk
// that does not fit, or a header that does not fit, ends the walk.
WavChunks findChunks(const ByteReader& file)
{
    WavChunks found;
    std::size_t offset = 12;
    while (offset < file.size()) {
        if (!file.contains(offset, 8)) {
            break;
        }
        const bool isFmt = file.matches(offset, "fmt ");
        const bool isData = file.matches(offset, "data");
        const std::size_t declared = *file.u32le(offset + 4);
        const std::size_t content = offset + 8;
        const std::size_t available = file.size() - content;
        if (isData && !found.data) {
            const std::size_t size = std::min(declared, available);
            found.data = file.slice(content, size);
            found.declaredData = declared;
            if (size < declared) {
                break;
            }
        } else if (declared > available) {
            break;
        } else if (isFmt && !found.fmt) {
            found.fmt = file.slice(content, declared);
        }
        offset = content + declared + (declared & 1u);
    }
    return found;
}

// Number of whole frames in [0, length] at position `value` (NaN and negative
// values are 0).
std::size_t clampedFrame(double value, std::size_t length)
{
    if (!(value > 0.0)) {
        return 0;
    }
    if (value >= static_cast<double>(length)) {
        return length;
    }
    return static_cast<std::size_t>(value);
}

std::size_t samplesHeld(const Channels& channel)
{
    return clampedFrame(channel.m_dwFileLength, channel.m_hData.size());
}

std::uint32_t truncatedRate(double rate)
{
    if (!(rate > 0.0)) {
        return 0;
    }
    if (rate >= 4294967295.0) {
        return std::numeric_limits<std::uint32_t>::max();
    }
    return static_cast<std::uint32_t>(rate);
}

void putU16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void putU32(std::uint8_t* p, std::uint32_t v)
{
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(p, &v, sizeof v);
    } else {
        for (int i = 0; i < 4; ++i) {
            p[i] = static_cast<std::uint8_t>(v >> (8 * i));
        }
    }
}

void putFloat(std::uint8_t* p, float v)
{
    putU32(p, std::bit_cast<std::uint32_t>(v));
}


// The first bytes of a file and any others asked for, read a block at a
// time, for walking a header without reading the samples.
class HeaderBytes {
public:
    HeaderBytes(int fd, std::uint64_t size) : m_fd(fd), m_size(size) {}

    bool matches(std::uint64_t offset, const char* text)
    {
        const std::size_t n = std::strlen(text);
        std::vector<std::uint8_t> bytes(n);
        return read(offset, bytes) && std::memcmp(bytes.data(), text, n) == 0;
    }
    // Fills `into` with the bytes from `offset`; false past the end or when
    // the file cannot be read.
    bool read(std::uint64_t offset, std::span<std::uint8_t> into)
    {
        if (offset > m_size || into.size() > m_size - offset) {
            return false;
        }
        for (std::size_t done = 0; done < into.size();) {
            const std::uint64_t at = offset + done;
            if (at < m_blockStart || at >= m_blockStart + m_block.size()) {
                if (!load(at - at % kBlock)) {
                    return false;
                }
            }
            const std::size_t inBlock = static_cast<std::size_t>(at - m_blockStart);
            const std::size_t n = std::min(into.size() - done, m_block.size() - inBlock);
            std::memcpy(into.data() + done, m_block.data() + inBlock, n);
            done += n;
        }
        return true;
    }
    bool failed() const { return m_failed; }

private:
    static constexpr std::uint64_t kBlock = 64 * 1024;

    bool load(std::uint64_t start)
    {
        m_block.resize(static_cast<std::size_t>(std::min(kBlock, m_size - start)));
        const ssize_t n = readAt(m_fd, m_block.data(), m_block.size(), start);
        if (n < 0 || static_cast<std::size_t>(n) < m_block.size()) {
            m_failed = true; // unreadable, or shorter than it was a moment ago
            m_block.clear();
            return false;
        }
        m_blockStart = start;
        return true;
    }

    int m_fd;
    std::uint64_t m_size;
    std::vector<std::uint8_t> m_block;
    std::uint64_t m_blockStart = 0;
    bool m_failed = false;
};

template <SampleCoding coding>
void decodeChannel(const std::uint8_t* src, std::size_t frames, std::size_t stride, float* out)
{
    for (std::size_t f = 0; f < frames; ++f) {
        out[f] = decodeSample<coding>(src + f * stride);
    }
}

// Frames [first, last) of one channel read from the file a block of about a
// megabyte at a time; 0, or the errno of a failed read (EIO when the file
// ended early).
int readWaveBlocks(int fd, const MyDocument::WaveSamples& where, SampleCoding coding,
                   std::size_t channel, std::size_t first, std::size_t last, float* out)
{
    const std::size_t stride = where.blockAlign;
    const std::size_t perBlock = std::max<std::size_t>(1, (std::size_t{1} << 20) / stride);
    std::vector<std::uint8_t> block;
    try {
        block.resize(std::min(perBlock, last - first) * stride);
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
    for (std::size_t at = first; at < last;) {
        const std::size_t frames = std::min(perBlock, last - at);
        // The last frame needs only its own sample, not the rest of its block.
        const std::size_t bytes = (frames - 1) * stride + (channel + 1) * where.bytesPerSample;
        const ssize_t n = readAt(fd, block.data(), bytes, where.dataOffset + at * stride);
        if (n < 0) {
            return errno;
        }
        if (static_cast<std::size_t>(n) < bytes) {
            return EIO;
        }
        const std::uint8_t* src = block.data() + channel * where.bytesPerSample;
        float* dst = out + (at - first);
        withCoding(coding, [&](auto c) { decodeChannel<c.value>(src, frames, stride, dst); });
        at += frames;
    }
    return 0;
}

} // namespace

void MyDocument::adoptWave(const WaveShape& shape, std::vector<SampleBuffer>& buffers)
{
    const double rate = shape.sampleRate;
    const double length = static_cast<double>(shape.frames);
    for (std::size_t i = 0; i < shape.channels; ++i) {
        Channels& channel = m_Channel[i];
        const int index = static_cast<int>(i);
        channel.m_hData = std::move(buffers[i]);
        channel.m_dSampleRate = rate;
        channel.m_dwFileLength = length;
        channel.m_dLengthMS = length * 1000.0 / rate;
        channel.SetTitle(i == 0 ? std::string("Audio") : "Chan " + std::to_string(index));
        channel.SetUnit("normalized");
        channel.m_nChannelType = i == 0 ? 1 : 0;
        channel.m_bAnchorChannel = i == 0;
        channel.m_bShow = true;
        channel.m_nOrder = index + 1;
        channel.m_nResolutionBits = shape.bitsPerSample;
        channel.m_nDataType = 3;
        channel.setPlainReadState(length, rate);
    }
    // Whole frames are compared, so a missing pad byte or part of a frame
    // is no shortfall; a streaming writer's size declares nothing.
    const std::size_t declaredFrames = shape.declaredData / shape.blockAlign;
    const bool streaming = shape.declaredData == 0 || shape.declaredData == 0xFFFFFFFFu;
    m_shortRecording.reset();
    if (!streaming && declaredFrames > shape.frames) {
        m_shortRecording = ShortRecording{length / rate, double(declaredFrames) / rate, {}};
    }
    m_nNumofChannels = static_cast<std::int32_t>(shape.channels);
    m_nFileFormat = FileFormat::kWav;
    m_bHaveData = true;
    m_bForeignFile = true;
    m_bNewFile = false;
    // The analyses take their model (LPC orders, applied window, frequency
    // ranges) from the file's rate, as for the other foreign formats; without
    // this a 44.1 kHz file was analysed with the settings of 11,025 Hz.
    adoptAnalysisSampleRate(true);
}

bool MyDocument::Read_WAVE_Header(int fd, std::uint64_t fileSize, WaveSamples& where)
{
    HeaderBytes file(fd, fileSize);
    if (!file.matches(0, "RIFF") || !file.matches(8, "WAVE")) {
        return false;
    }
    // The walk of findChunks, over the file read a block at a time.
    std::optional<std::vector<std::uint8_t>> fmt;
    std::optional<std::uint64_t> dataOffset;
    std::uint64_t dataSize = 0;
    std::uint64_t declaredData = 0;
    std::uint64_t offset = 12;
    while (offset < fileSize) {
        std::uint8_t header[8];
        if (fileSize - offset < 8 || !file.read(offset, header)) {
            break;
        }
        const bool isFmt = std::memcmp(header, "fmt ", 4) == 0;
        const bool isData = std::memcmp(header, "data", 4) == 0;
        const std::uint64_t declared = byteorder::loadU32LE(header + 4);
        const std::uint64_t content = offset + 8;
        const std::uint64_t available = fileSize - content;
        if (isData && !dataOffset) {
            dataOffset = content;
            dataSize = std::min(declared, available);
            declaredData = declared;
            if (dataSize < declared) {
                break;
            }
        } else if (declared > available) {
            break;
        } else if (isFmt && !fmt) {
            // parseFormat reads at most the extensible layout's 40 bytes and
            // compares the size with 16 and 40 only.
            std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::min<std::uint64_t>(declared, 64)));
            if (!file.read(content, bytes)) {
                break;
            }
            fmt = std::move(bytes);
        }
        offset = content + declared + (declared & 1u);
    }
    if (!fmt || !dataOffset || file.failed()) {
        return false;
    }
    const auto format = parseFormat(*fmt);
    if (!format) {
        return false;
    }
    std::vector<SampleBuffer> buffers;
    try {
        buffers.resize(format->channels);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const std::size_t frames = static_cast<std::size_t>(dataSize / format->blockAlign);
    where = WaveSamples{*dataOffset, frames, format->channels, format->blockAlign,
                        format->bytesPerSample, static_cast<int>(format->coding)};
    adoptWave(WaveShape{format->channels, format->sampleRate, format->bitsPerSample, frames,
                        static_cast<std::size_t>(declaredData), format->blockAlign},
              buffers);
    return true;
}

bool MyDocument::readWaveSamples(int fd, const WaveSamples& where, std::size_t channel,
                                 std::size_t from, std::size_t to, float* out, int threads)
{
    if (to <= from) {
        return true;
    }
    if (channel >= where.channels || to > where.frames || where.blockAlign == 0) {
        errno = EINVAL;
        return false;
    }
    const auto coding = static_cast<SampleCoding>(where.coding);
    const std::size_t count = to - from;
    // At least a quarter of a million frames a thread, else starting one
    // costs more than it saves.
    const std::size_t parts = std::clamp<std::size_t>(count / (std::size_t{1} << 18), 1,
                                                      static_cast<std::size_t>(std::max(threads, 1)));
    std::vector<int> errors(parts, 0);
    const auto part = [&](std::size_t k) {
        const std::size_t first = from + count * k / parts;
        const std::size_t last = from + count * (k + 1) / parts;
        errors[k] = readWaveBlocks(fd, where, coding, channel, first, last, out + (first - from));
    };
    std::vector<std::thread> started;
    for (std::size_t k = 1; k < parts; ++k) {
        try {
            started.emplace_back(part, k);
        } catch (const std::system_error&) {
            part(k);
        }
    }
    part(0);
    for (std::thread& thread : started) {
        thread.join();
    }
    for (const int error : errors) {
        if (error != 0) {
            errno = error;
            return false;
        }
    }
    return true;
}

bool MyDocument::Read_WAVE_FileType(ByteView bytes)
{
    const ByteReader file(bytes);
    if (!file.matches(0, "RIFF") || !file.matches(8, "WAVE")) {
        return false;
    }
    const WavChunks chunks = findChunks(file);
    if (!chunks.fmt || !chunks.data) {
        return false;
    }
    const auto format = parseFormat(*chunks.fmt);
    if (!format) {
        return false;
    }

    // Every frame counted here lies wholly inside the data chunk, which lies
    // inside the file, so the conversion needs no further checks.
    const std::size_t frames = chunks.data->size() / format->blockAlign;
    std::vector<SampleBuffer> buffers;
    try {
        buffers.resize(format->channels);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (auto& buffer : buffers) {
        if (!buffer.allocate(frames + Channels::kSlackFloats)) {
            return false;
        }
    }
    convertSamples(chunks.data->data(), frames, *format, buffers);

    // Everything is in hand: only now does the document change.
    adoptWave(WaveShape{format->channels, format->sampleRate, format->bitsPerSample, frames,
                        chunks.declaredData, format->blockAlign},
              buffers);
    return true;
}

int MyDocument::Read_RecordedFile(ByteView bytes)
{
    const ByteReader file(bytes);
    if (!file.matches(0, "RIFF") || !file.matches(8, "WAVE")) {
        return 0;
    }
    const WavChunks chunks = findChunks(file);
    if (!chunks.data) {
        return -1;
    }
    // A recording is 32-bit float; a channel is only ever built from samples
    // that were read, never given a length without them.
    const auto format = chunks.fmt ? parseFormat(*chunks.fmt) : std::nullopt;
    if (!format || format->coding != SampleCoding::Float32) {
        return 0;
    }
    const std::size_t frames = chunks.data->size() / format->blockAlign;
    SampleBuffer buffer;
    if (!buffer.allocate(frames + Channels::kSlackFloats)) {
        return 0;
    }
    std::vector<SampleBuffer> buffers(1);
    buffers[0] = std::move(buffer);
    WavFormatInfo first = *format;
    first.channels = 1; // the first sample of each frame; the block keeps its size
    convertSamples(chunks.data->data(), frames, first, buffers);

    // Everything is in hand: only now does the document change. Slot 0
    // starts afresh, so nothing of an earlier recording (its tracks, labels
    // or events) stays with the new samples.
    const double rate = format->sampleRate;
    const double length = static_cast<double>(frames);
    m_Channel[0] = Channels{};
    Channels& channel = m_Channel[0];
    channel.m_hData = std::move(buffers[0]);
    channel.m_dSampleRate = rate;
    channel.m_dwFileLength = length;
    channel.m_dLengthMS = length * 1000.0 / rate;
    channel.SetTitle("Audio");
    channel.SetUnit("normalized");
    channel.m_nChannelType = 1;
    channel.m_bAnchorChannel = true;
    channel.m_bShow = true;
    channel.m_nOrder = 1;
    channel.m_nResolutionBits = 32;
    channel.m_nDataType = 3;
    channel.setPlainReadState(length, rate);
    becomeFreshRecording(1);
    return 1;
}

std::optional<Bytes> MyDocument::Save_WAVE_FileType_float(bool selection,
                                                          std::int32_t nWhichChannel,
                                                          std::int32_t nNumberChannel, bool bExport)
{
    if (nWhichChannel < -1 || nWhichChannel >= m_nNumofChannels || nNumberChannel < 1 ||
        nNumberChannel > kChannelSlots) {
        return std::nullopt;
    }
    // An export writes the one chosen channel whatever the count says.
    const std::size_t channels = bExport ? 1 : static_cast<std::size_t>(nNumberChannel);
    if (nWhichChannel == -1 && nNumberChannel > 1) {
        const std::uint32_t rate0 = truncatedRate(m_Channel[0].m_dSampleRate);
        for (std::size_t i = 1; i < static_cast<std::size_t>(nNumberChannel); ++i) {
            if (truncatedRate(m_Channel[i].m_dSampleRate) != rate0) {
                m_prompts.alert("Saving Failed.",
                                "Only multi-channel data files with the same samplerates can be "
                                "saved as wav format.",
                                "OK");
                return std::nullopt;
            }
        }
    }

    const std::size_t referenceIndex =
        nWhichChannel == -1 ? 0 : static_cast<std::size_t>(nWhichChannel);
    const Channels& reference = m_Channel[referenceIndex];
    const std::size_t length =
        clampedFrame(reference.m_dwFileLength, std::numeric_limits<std::uint32_t>::max());
    std::size_t start = 0;
    std::size_t stop = length;
    if (selection) {
        start = clampedFrame(reference.m_dDurationStartFile, length);
        stop = std::max(start, clampedFrame(reference.m_dDurationStopFile, length));
    }
    const std::size_t frames = stop - start;

    const std::uint64_t dataSize = std::uint64_t{frames} * channels * 4u;
    if (dataSize > kMaxRiffSize - (kWrittenHeaderSize - 8)) {
        m_prompts.alert("Saving Failed.", "The recording is too long to be saved as a WAV file.",
                        "OK");
        return std::nullopt;
    }

    // The written channels: the exported one, or channels 0 .. n - 1.
    std::vector<const Channels*> sources;
    for (std::size_t c = 0; c < channels; ++c) {
        sources.push_back(bExport ? &reference : &m_Channel[c]);
    }

    Bytes out;
    try {
        out.resize(kWrittenHeaderSize + static_cast<std::size_t>(dataSize));
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    } catch (const std::length_error&) {
        return std::nullopt;
    }

    const std::uint32_t rate = truncatedRate(reference.m_dSampleRate);
    const auto blockAlign = static_cast<std::uint16_t>(channels * 4u);
    const std::uint64_t byteRate =
        std::min<std::uint64_t>(std::uint64_t{rate} * blockAlign, kMaxRiffSize);
    std::uint8_t* h = out.data();
    std::memcpy(h, "RIFF", 4);
    putU32(h + 4, static_cast<std::uint32_t>(kWrittenHeaderSize - 8 + dataSize));
    std::memcpy(h + 8, "WAVEfmt ", 8);
    putU32(h + 16, 20);
    putU16(h + 20, kTagFloat);
    putU16(h + 22, static_cast<std::uint16_t>(channels));
    putU32(h + 24, rate);
    putU32(h + 28, static_cast<std::uint32_t>(byteRate));
    putU16(h + 32, blockAlign);
    putU16(h + 34, 32);
    putU32(h + 36, 0);
    std::memcpy(h + 40, "data", 4);
    putU32(h + 44, static_cast<std::uint32_t>(dataSize));

    // Each channel fills its column of the interleaved frames; samples a
    // channel does not hold stay 0.0 (the zero bytes of the fresh buffer).
    std::uint8_t* samples = out.data() + kWrittenHeaderSize;
    const std::size_t stride = channels * 4u;
    std::vector<const float*> values(channels, nullptr);
    std::vector<std::size_t> counts(channels, 0);
    for (std::size_t c = 0; c < channels; ++c) {
        const Channels& source = *sources[c];
        const std::size_t end = std::min(stop, samplesHeld(source));
        if (end > start) {
            values[c] = source.m_hData.data() + start;
            counts[c] = end - start;
        }
    }
    if (channels == 1 && std::endian::native == std::endian::little) {
        if (counts[0] > 0) {
            std::memcpy(samples, values[0], counts[0] * 4u);
        }
        return out;
    }
    // Interleaving goes block by block so that the frames being filled stay
    // in the cache while every channel writes its column.
    constexpr std::size_t kBlockFrames = 4096;
    for (std::size_t first = 0; first < frames; first += kBlockFrames) {
        const std::size_t last = std::min(frames, first + kBlockFrames);
        for (std::size_t c = 0; c < channels; ++c) {
            const std::size_t end = std::min(last, counts[c]);
            std::uint8_t* dst = samples + c * 4u;
            for (std::size_t f = first; f < end; ++f) {
                putFloat(dst + f * stride, values[c][f]);
            }
        }
    }
    return out;
}

std::vector<int> MyDocument::wavCutChannels(bool selection) const
{
    // The frames written, as Save_WAVE_FileType_float takes them.
    const auto range = [selection](const Channels& channel) {
        const std::size_t length =
            clampedFrame(channel.m_dwFileLength, std::numeric_limits<std::uint32_t>::max());
        if (!selection) {
            return std::pair<std::size_t, std::size_t>{0, length};
        }
        const std::size_t start = clampedFrame(channel.m_dDurationStartFile, length);
        return std::pair{start, std::max(start, clampedFrame(channel.m_dDurationStopFile, length))};
    };
    const auto [first, last] = range(m_Channel[0]);
    std::vector<int> cut;
    const int count = channelsInUse();
    for (int i = 1; i < count; ++i) {
        const Channels& channel = m_Channel[static_cast<std::size_t>(i)];
        auto [start, stop] = range(channel);
        stop = std::min(stop, std::max(start, samplesHeld(channel)));
        if (start < stop && (start < first || stop > last)) {
            cut.push_back(i);
        }
    }
    return cut;
}

std::vector<std::string> MyDocument::wavDiscards() const
{
    // A whole-document WAV file keeps channels 0 .. n - 1 over channel 0's
    // length and the rate as a whole number; the reader gives every channel
    // the rest: "Audio" / "Chan i", channel 0 the audio channel, unit
    // "normalized", reference 0, identity calibration, gain 1 and the filter
    // at half the rate.
    const int count = channelsInUse();
    const auto any = [&](auto differs) {
        for (int i = 0; i < count; ++i) {
            if (differs(m_Channel[static_cast<std::size_t>(i)], i)) {
                return true;
            }
        }
        return false;
    };
    const std::size_t length =
        clampedFrame(m_Channel[0].m_dwFileLength, std::numeric_limits<std::uint32_t>::max());
    const struct {
        const char* words;
        bool lost;
    } checks[] = {
        {"labels", any([](const Channels& c, int) { return !c.m_pArrayLabels.empty(); })},
        {"calibrations", any([](const Channels& c, int) {
             return c.m_dA3Cal != 0.0 || c.m_dB2Cal != 0.0 || c.m_dC1Cal != 1.0 ||
                    c.m_dD0Cal != 0.0;
         })},
        {"units", any([](const Channels& c, int) { return c.GetUnit() != "normalized"; })},
        {"channel titles", any([](const Channels& c, int i) {
             return c.GetTitle() != (i == 0 ? std::string("Audio") : "Chan " + std::to_string(i));
         })},
        {"channel types",
         any([](const Channels& c, int i) { return c.m_nChannelType != (i == 0 ? 1 : 0); })},
        {"reference levels", any([](const Channels& c, int) { return c.m_dReference != 0.0; })},
        {"gains", any([](const Channels& c, int) { return c.m_dGain != 1.0; })},
        {"filter rates",
         any([](const Channels& c, int) { return c.m_dFilterRate != c.m_dSampleRate / 2.0; })},
        {"channels of different lengths",
         any([&](const Channels& c, int) { return samplesHeld(c) != length; })},
        {"a fractional sample rate", any([](const Channels& c, int) {
             return c.m_dSampleRate != std::trunc(c.m_dSampleRate);
         })},
    };
    std::vector<std::string> lost;
    for (const auto& check : checks) {
        if (check.lost) {
            lost.emplace_back(check.words);
        }
    }
    return lost;
}

} // namespace phonaxis
