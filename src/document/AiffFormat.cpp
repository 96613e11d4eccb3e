// AIFF and AIFC: the reader (one channel of the file, chosen by the user when
// there are several) and the 80-bit extended float conversions of the COMM
// sample rate.

#include "document/AudioFormats.h"
#include "document/ByteReader.h"
#include "document/MyDocument.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace phonaxis {

double ConvertFromIeeeExtended(const std::uint8_t bytes[10])
{
    const bool negative = (bytes[0] & 0x80u) != 0;
    const int exponent = ((bytes[0] & 0x7F) << 8) | bytes[1];
    const std::uint32_t high = byteorder::loadU32BE(bytes + 2);
    const std::uint32_t low = byteorder::loadU32BE(bytes + 6);

    double value = 0.0;
    if (exponent == 0 && high == 0 && low == 0) {
        value = 0.0;
    } else if (exponent == 0x7FFF) {
        value = std::numeric_limits<double>::infinity();
    } else {
        // mantissa / 2^63 × 2^(exponent - 16383), taken in two 32-bit halves.
        const int unbiased = exponent - 16383;
        value = std::ldexp(static_cast<double>(high), unbiased - 31) +
                std::ldexp(static_cast<double>(low), unbiased - 63);
    }
    return negative ? -value : value;
}

void ConvertToIeeeExtended(double value, std::uint8_t out[10])
{
    int sign = 0;
    if (std::signbit(value)) {
        sign = 0x8000;
        value = -value;
    }
    int exponent = 0;
    std::uint32_t high = 0;
    std::uint32_t low = 0;
    if (value == 0.0) {
        exponent = 0;
    } else if (!std::isfinite(value)) {
        exponent = 0x7FFF;
    } else {
        int binary = 0;
        double mantissa = std::frexp(value, &binary); // value = mantissa × 2^binary, [0.5, 1)
        exponent = binary + 16382;
        if (exponent < 0) {
            // Below the smallest normal extended value: store it denormalised.
            mantissa = std::ldexp(mantissa, exponent);
            exponent = 0;
        }
        mantissa = std::ldexp(mantissa, 32);
        const double upper = std::floor(mantissa);
        high = static_cast<std::uint32_t>(upper);
        mantissa = std::ldexp(mantissa - upper, 32);
        low = static_cast<std::uint32_t>(std::floor(mantissa));
    }
    exponent |= sign;
    out[0] = static_cast<std::uint8_t>(exponent >> 8);
    out[1] = static_cast<std::uint8_t>(exponent);
    for (int i = 0; i < 4; ++i) {
        out[2 + i] = static_cast<std::uint8_t>(high >> (24 - 8 * i));
        out[6 + i] = static_cast<std::uint8_t>(low >> (24 - 8 * i));
    }
}

namespace {

// At most this many chunks are looked at, the FORM header included.
constexpr int kMaxChunks = 20;
constexpr std::size_t kAiffCommSize = 18;
constexpr std::size_t kAifcCommSize = 22;
constexpr std::size_t kSsndFieldsSize = 8;

enum class AiffCoding { Signed8, Signed16, Signed24, Signed32, Float32, Float64 };

struct AiffFormatInfo {
    AiffCoding coding = AiffCoding::Signed16;
    bool littleEndian = false;
    std::size_t channels = 0;
    std::size_t bytesPerSample = 0;
    std::uint32_t declaredFrames = 0;
    std::int32_t bits = 0;
    double sampleRate = 0.0;
};

// COMM content as a validated format, or nothing when this reader cannot
// open it.
std::optional<AiffFormatInfo> parseComm(std::span<const std::uint8_t> content, bool aifc)
{
    const ByteReader comm(content);
    if (comm.size() < (aifc ? kAifcCommSize : kAiffCommSize)) {
        return std::nullopt;
    }
    AiffFormatInfo info;
    const auto channels = static_cast<std::int16_t>(*comm.u16be(0));
    info.declaredFrames = *comm.u32be(2);
    const auto bits = static_cast<std::int16_t>(*comm.u16be(6));
    info.sampleRate = ConvertFromIeeeExtended(comm.slice(8, 10).data());
    if (channels <= 0 || !std::isfinite(info.sampleRate) || !(info.sampleRate > 0.0)) {
        return std::nullopt;
    }
    info.channels = static_cast<std::size_t>(channels);
    info.bits = bits;

    bool isFloat = false;
    if (aifc) {
        if (comm.matches(18, "NONE") || comm.matches(18, "twos")) {
            info.littleEndian = false;
        } else if (comm.matches(18, "sowt")) {
            info.littleEndian = true;
        } else if (comm.matches(18, "fl32") || comm.matches(18, "FL32")) {
            isFloat = true;
            info.coding = AiffCoding::Float32;
            info.bytesPerSample = 4;
        } else if (comm.matches(18, "fl64") || comm.matches(18, "FL64")) {
            isFloat = true;
            info.coding = AiffCoding::Float64;
            info.bytesPerSample = 8;
        } else {
            return std::nullopt;
        }
    }
    if (isFloat) {
        // The compression fixes the sample size; the bits field of such
        // files repeats it.
        info.bits = static_cast<std::int32_t>(info.bytesPerSample * 8);
        return info;
    }
    switch (bits) {
    case 8:
        info.coding = AiffCoding::Signed8;
        break;
    case 16:
        info.coding = AiffCoding::Signed16;
        break;
    case 24:
        info.coding = AiffCoding::Signed24;
        break;
    case 32:
        info.coding = AiffCoding::Signed32;
        break;
    default:
        return std::nullopt;
    }
    info.bytesPerSample = static_cast<std::size_t>(bits) / 8;
    return info;
}

template <AiffCoding coding, bool little> inline float decodeSample(const std::uint8_t* p) noexcept
{
    constexpr auto order = little ? std::endian::little : std::endian::big;
    if constexpr (coding == AiffCoding::Signed8) {
        return static_cast<float>(static_cast<std::int8_t>(p[0])) * (1.0f / 128.0f);
    } else if constexpr (coding == AiffCoding::Signed16) {
        return static_cast<float>(
                   static_cast<std::int16_t>(byteorder::load<std::uint16_t, order>(p))) *
               (1.0f / 32768.0f);
    } else if constexpr (coding == AiffCoding::Signed24) {
        const std::uint32_t b0 = little ? p[0] : p[2];
        const std::uint32_t b2 = little ? p[2] : p[0];
        const std::uint32_t word = (b0 << 8) | (std::uint32_t{p[1]} << 16) | (b2 << 24);
        return static_cast<float>(static_cast<std::int32_t>(word)) * (1.0f / 2147483648.0f);
    } else if constexpr (coding == AiffCoding::Signed32) {
        return static_cast<float>(
                   static_cast<std::int32_t>(byteorder::load<std::uint32_t, order>(p))) *
               (1.0f / 2147483648.0f);
    } else if constexpr (coding == AiffCoding::Float32) {
        return std::bit_cast<float>(byteorder::load<std::uint32_t, order>(p));
    } else {
        return static_cast<float>(std::bit_cast<double>(byteorder::load<std::uint64_t, order>(p)));
    }
}

template <AiffCoding coding, bool little>
void takeChannel(const std::uint8_t* src, std::size_t frames, std::size_t stride, float* out)
{
    for (std::size_t f = 0; f < frames; ++f) {
        out[f] = decodeSample<coding, little>(src + f * stride);
    }
}

template <AiffCoding coding>
void takeChannel(const std::uint8_t* src, std::size_t frames, std::size_t stride, bool little,
                 float* out)
{
    if (little) {
        takeChannel<coding, true>(src, frames, stride, out);
    } else {
        takeChannel<coding, false>(src, frames, stride, out);
    }
}

void convertChannel(const std::uint8_t* src, std::size_t frames, const AiffFormatInfo& info,
                    float* out)
{
    const std::size_t stride = info.channels * info.bytesPerSample;
    const bool little = info.littleEndian;
    switch (info.coding) {
    case AiffCoding::Signed8:
        takeChannel<AiffCoding::Signed8>(src, frames, stride, little, out);
        break;
    case AiffCoding::Signed16:
        takeChannel<AiffCoding::Signed16>(src, frames, stride, little, out);
        break;
    case AiffCoding::Signed24:
        takeChannel<AiffCoding::Signed24>(src, frames, stride, little, out);
        break;
    case AiffCoding::Signed32:
        takeChannel<AiffCoding::Signed32>(src, frames, stride, little, out);
        break;
    case AiffCoding::Float32:
        takeChannel<AiffCoding::Float32>(src, frames, stride, little, out);
        break;
    case AiffCoding::Float64:
        takeChannel<AiffCoding::Float64>(src, frames, stride, little, out);
        break;
    }
}

struct AiffChunks {
    std::optional<std::span<const std::uint8_t>> comm;
    std::optional<std::span<const std::uint8_t>> ssnd;
};

// Walks the chunks after the 12-byte FORM header, keeping the first COMM and
// the first SSND. An SSND chunk that claims more than the file holds is cut
// to the file (a truncated recording keeps the frames it has); any other
// chunk that does not fit ends the walk.
AiffChunks findChunks(const ByteReader& file)
{
    AiffChunks found;
    std::size_t offset = 12;
    for (int chunk = 1; chunk < kMaxChunks && offset < file.size(); ++chunk) {
        if (!file.contains(offset, 8)) {
            break;
        }
        const bool isComm = file.matches(offset, "COMM");
        const bool isSsnd = file.matches(offset, "SSND");
        const std::size_t declared = *file.u32be(offset + 4);
        const std::size_t content = offset + 8;
        const std::size_t available = file.size() - content;
        if (isSsnd && !found.ssnd) {
            const std::size_t size = std::min(declared, available);
            found.ssnd = file.slice(content, size);
            if (size < declared) {
                break;
            }
        } else if (declared > available) {
            break;
        } else if (isComm && !found.comm) {
            found.comm = file.slice(content, declared);
        }
        offset = content + declared + (declared & 1u);
    }
    return found;
}

} // namespace

bool MyDocument::Read_AIFF_FileType(ByteView bytes)
{
    const ByteReader file(bytes);
    if (!file.matches(0, "FORM")) {
        return false;
    }
    const bool aifc = file.matches(8, "AIFC");
    if (!aifc && !file.matches(8, "AIFF")) {
        return false;
    }
    const AiffChunks chunks = findChunks(file);
    if (!chunks.comm || !chunks.ssnd) {
        return false;
    }
    const auto format = parseComm(*chunks.comm, aifc);
    if (!format) {
        return false;
    }

    // The samples start after the offset and block-size fields and the
    // number of padding bytes the offset field gives.
    const ByteReader ssnd(*chunks.ssnd);
    if (ssnd.size() < kSsndFieldsSize) {
        return false;
    }
    const std::size_t start = kSsndFieldsSize + *ssnd.u32be(0);
    if (start > ssnd.size()) {
        return false;
    }
    const std::size_t frameBytes = format->channels * format->bytesPerSample;
    const std::size_t frames =
        std::min<std::size_t>(format->declaredFrames, (ssnd.size() - start) / frameBytes);

    std::size_t position = 0;
    if (format->channels > 1) {
        std::vector<std::string> items;
        items.reserve(format->channels);
        for (std::size_t c = 1; c <= format->channels; ++c) {
            items.push_back("Channel " + std::to_string(c) + " ");
        }
        const int chosen = m_prompts.selectItem("Select a channel", items);
        if (chosen < 1 || static_cast<std::size_t>(chosen) > format->channels) {
            return false;
        }
        position = static_cast<std::size_t>(chosen) - 1;
    }

    SampleBuffer buffer;
    if (!buffer.allocate(frames + Channels::kSlackFloats)) {
        return false;
    }
    convertChannel(ssnd.data().data() + start + position * format->bytesPerSample, frames, *format,
                   buffer.data());

    // The document holds exactly this one channel, in slot 0, from here on.
    const double rate = format->sampleRate;
    const double length = static_cast<double>(frames);
    Channels& channel = m_Channel[0];
    channel.m_hData = std::move(buffer);
    channel.m_dSampleRate = rate;
    channel.m_dwFileLength = length;
    channel.m_dLengthMS = length * 1000.0 / rate;
    channel.SetTitle("");
    channel.SetUnit("bits");
    channel.m_nChannelType = 1;
    channel.m_bAnchorChannel = true;
    channel.m_nOrder = 1;
    channel.m_nResolutionBits = format->bits;
    channel.m_nDataType = 3;
    channel.m_dPageMin = 0.0;
    channel.m_dPageMax = length;
    channel.m_dPageSize = length;
    channel.m_dReference = 0.0;
    channel.m_dGain = 1.0;
    channel.m_dFilterRate = rate / 2.0;

    // A count of 0xFFFFFFFF frames is a streaming writer's "not known yet".
    m_shortRecording.reset();
    if (frames < format->declaredFrames && format->declaredFrames != 0xFFFFFFFFu) {
        m_shortRecording =
            ShortRecording{length / rate, static_cast<double>(format->declaredFrames) / rate, {}};
    }
    m_nNumofChannels = 1;
    m_bHaveData = true;
    m_bNewFile = false;
    m_bForeignFile = true;
    adoptAnalysisSampleRate(true);
    return true;
}

} // namespace phonaxis
