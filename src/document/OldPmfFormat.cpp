// Older acquisition files (PMF headers): one audio channel and up to fifteen
// transducer channels described by a fixed header (PC Header10, PC Header100,
// Mac Header100), followed by their 16-bit samples. The very old Mac
// version 20 header is refused with a message.

#include "document/ByteReader.h"
#include "document/MyDocument.h"
#include "document/NativeFormat.h"
#include "document/RecordingSignature.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <charconv>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

namespace phonaxis {

namespace {

// Header slots: slot 0 is the audio channel, 1..16 transducers; slots 0..15
// are read.
constexpr std::size_t kHeaderSlots = 17;
constexpr std::size_t kReadSlots = 16;
constexpr std::size_t kNameBytes = 20;
constexpr std::size_t kNumberTextBytes = 9;

constexpr std::size_t kChannelCountOffset = 8;
constexpr std::size_t kAudioRateOffset = 16;
constexpr std::size_t kTransducerRateOffset = 20;
constexpr std::size_t kAudioBytesOffset = 24;
constexpr std::size_t kTransducerBytesOffset = 28;

constexpr std::int32_t kHeader10SizeMin = 6480;
constexpr std::int32_t kHeader10SizeMax = 6489;
constexpr std::int32_t kHeader100SizeMin = 1600;
constexpr std::int32_t kHeader100SizeMax = 1609;
constexpr std::int32_t kPcHeader10Version = 10;
constexpr std::int32_t kPcHeader100Version = 100;
constexpr std::int32_t kOldMacVersion = 20;
constexpr std::int32_t kMacHeader100Version = 200;

constexpr std::size_t kHeader10Bytes = 6484;
constexpr std::size_t kHeader100Bytes = 1608;
constexpr std::size_t kHeader100BlockBytes = 120; // the block after a Header100
constexpr std::size_t kMacLabelCountOffset = kHeader100Bytes + 100;
constexpr std::size_t kMacLabelBytes = 140;

enum class Variant { PcHeader10, PcHeader100, MacHeader100 };

struct HeaderLayout {
    std::size_t flags, gains, titles, units;
};
constexpr HeaderLayout kHeader10Layout{184, 252, 320, 660};
constexpr HeaderLayout kHeader100Layout{172, 240, 308, 648};

// Decimal texts of a Header100, char[17][9] each.
constexpr std::size_t kReferenceTexts = 988;
constexpr std::size_t kB2Texts = 1141;
constexpr std::size_t kC1Texts = 1294;
constexpr std::size_t kD0Texts = 1447;

// One channel described by the header, before it is placed in the document.
struct OldPmfChannel {
    double rateHz = 0.0;
    std::size_t declaredCount = 0;
    std::string title, unit;
    double gain = 1.0;
    bool audio = false;
    std::int32_t resolution = 16;
    double a3 = 0.0, b2 = 0.0, c1 = 1.0, d0 = 0.0;
    double rangeMv = 1.0, fullScale = 1.0;
    double reference = 0.0;
    double filterRate = 0.0;
    SampleBuffer samples;
    std::size_t sampleCount = 0;
};

struct OldPmfHeader {
    std::vector<OldPmfChannel> channels; // the channels in use, in document slot order
};

std::string textField(const std::uint8_t* p, std::size_t size)
{
    const void* nul = std::memchr(p, 0, size);
    const std::size_t length =
        nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - p) : size;
    return std::string(reinterpret_cast<const char*>(p), length);
}

// The number a decimal text starts with (after blanks and an optional sign);
// 0 when it starts with none.
double leadingNumber(const std::uint8_t* p, std::size_t size)
{
    const std::string text = textField(p, size);
    const char* first = text.data();
    const char* last = text.data() + text.size();
    while (first < last && std::isspace(static_cast<unsigned char>(*first))) {
        ++first;
    }
    if (first < last && *first == '+' && (last - first < 2 || first[1] != '-')) {
        ++first;
    }
    double value = 0.0;
    const auto result = std::from_chars(first, last, value);
    return result.ec == std::errc() ? value : 0.0;
}

template <std::endian order> struct HeaderFields {
    const std::uint8_t* p;

    std::int32_t i32(std::size_t at) const
    {
        return static_cast<std::int32_t>(byteorder::load<std::uint32_t, order>(p + at));
    }
    // The slot's present flag: only the lowest byte of its int32 counts.
    bool present(const HeaderLayout& layout, std::size_t slot) const
    {
        const std::size_t at = layout.flags + 4 * slot;
        return p[order == std::endian::little ? at : at + 3] != 0;
    }
    std::string name(std::size_t base, std::size_t slot) const
    {
        return textField(p + base + kNameBytes * slot, kNameBytes);
    }
    double number(std::size_t base, std::size_t slot) const
    {
        return leadingNumber(p + base + kNumberTextBytes * slot, kNumberTextBytes);
    }
};

// Fills `header` from a recognised header (the caller has checked its size
// and version and that the file holds it). False when the header describes
// no usable channels.
template <std::endian order>
bool fillChannels(ByteView bytes, const HeaderLayout& layout, Variant variant, OldPmfHeader& header)
{
    const HeaderFields<order> h{bytes.data()};
    const std::int32_t declaredChannels = h.i32(kChannelCountOffset);
    const std::int32_t audioRate = h.i32(kAudioRateOffset);
    const std::int32_t transducerRate = h.i32(kTransducerRateOffset);
    const std::int32_t audioBytes = h.i32(kAudioBytesOffset);
    const std::int32_t transducerBytes = h.i32(kTransducerBytesOffset);
    if (declaredChannels < 1 || declaredChannels > static_cast<std::int32_t>(kHeaderSlots) ||
        audioRate <= 0 || audioBytes < 0) {
        return false;
    }
    const bool texts = variant != Variant::PcHeader10;
    const bool mac = variant == Variant::MacHeader100;

    auto filterFor = [&](std::int32_t rate) {
        return mac ? static_cast<double>(rate / 2) : rate * 0.5;
    };

    std::vector<OldPmfChannel> channels;
    OldPmfChannel audio;
    audio.audio = true;
    audio.rateHz = audioRate;
    audio.declaredCount = static_cast<std::size_t>(audioBytes / 2);
    audio.title = h.name(layout.titles, 0);
    audio.unit = h.name(layout.units, 0);
    audio.gain = h.i32(layout.gains);
    audio.resolution = 16;
    if (variant == Variant::PcHeader100) {
        audio.b2 = h.number(kB2Texts, 0);
        audio.c1 = h.number(kC1Texts, 0);
        audio.d0 = h.number(kD0Texts, 0);
    }
    audio.rangeMv = mac ? 1.0 : 5000.0;
    audio.fullScale = mac ? 1.0 : 65536.0;
    audio.reference = texts ? h.number(kReferenceTexts, 0) : 0.0;
    audio.filterRate = filterFor(audioRate);
    channels.push_back(std::move(audio));

    for (std::size_t j = 1; j < kReadSlots; ++j) {
        if (!h.present(layout, j)) {
            continue;
        }
        if (transducerRate <= 0 || transducerBytes < 0) {
            return false;
        }
        OldPmfChannel t;
        t.rateHz = transducerRate;
        t.declaredCount = static_cast<std::size_t>(transducerBytes / 2);
        t.title = h.name(layout.titles, j);
        t.unit = h.name(layout.units, j);
        t.gain = h.i32(layout.gains + 4 * j);
        t.resolution = 12;
        switch (variant) {
        case Variant::PcHeader10:
            t.rangeMv = 10000.0;
            t.fullScale = 4096.0;
            break;
        case Variant::PcHeader100:
            t.b2 = h.number(kB2Texts, j);
            t.c1 = h.number(kC1Texts, j);
            t.d0 = h.number(kD0Texts, j);
            t.rangeMv = 10000.0;
            t.fullScale = 4098.0;
            break;
        case Variant::MacHeader100:
            t.c1 = 5000.0;
            break;
        }
        t.reference = texts ? h.number(kReferenceTexts, j) : 0.0;
        t.filterRate = filterFor(transducerRate);
        channels.push_back(std::move(t));
    }

    // The header's own count never adds channels it does not describe.
    channels.resize(std::min(channels.size(), static_cast<std::size_t>(declaredChannels)));
    header.channels = std::move(channels);
    return true;
}

template <std::endian order> std::int32_t headerField(const ByteReader& file, std::size_t at)
{
    const auto value = order == std::endian::little ? file.u32le(at) : file.u32be(at);
    return value ? static_cast<std::int32_t>(*value) : std::numeric_limits<std::int32_t>::min();
}

bool inRange(std::int32_t value, std::int32_t low, std::int32_t high)
{
    return low <= value && value <= high;
}

// The header readers: each returns the byte offset of the samples, or -1
// when it does not recognise the header.

std::int64_t Read_PMF_PC_Header10(ByteView bytes, OldPmfHeader& header)
{
    const ByteReader file(bytes);
    constexpr auto le = std::endian::little;
    if (!inRange(headerField<le>(file, 0), kHeader10SizeMin, kHeader10SizeMax) ||
        headerField<le>(file, 4) != kPcHeader10Version || file.size() < kHeader10Bytes) {
        return -1;
    }
    if (!fillChannels<le>(bytes, kHeader10Layout, Variant::PcHeader10, header)) {
        return -1;
    }
    return static_cast<std::int64_t>(kHeader10Bytes);
}

std::int64_t Read_PMF_PC_Header100(ByteView bytes, OldPmfHeader& header)
{
    const ByteReader file(bytes);
    constexpr auto le = std::endian::little;
    if (!inRange(headerField<le>(file, 0), kHeader100SizeMin, kHeader100SizeMax) ||
        headerField<le>(file, 4) != kPcHeader100Version ||
        file.size() < kHeader100Bytes + kHeader100BlockBytes) {
        return -1;
    }
    if (!fillChannels<le>(bytes, kHeader100Layout, Variant::PcHeader100, header)) {
        return -1;
    }
    return static_cast<std::int64_t>(kHeader100Bytes + kHeader100BlockBytes);
}

// The version 20 Mac header is recognised only to tell the user that it is
// no longer supported.
std::int64_t Read_PMF_MAC_Header10(ByteView bytes, Prompts& prompts)
{
    const ByteReader file(bytes);
    constexpr auto be = std::endian::big;
    if (inRange(headerField<be>(file, 0), kHeader10SizeMin, kHeader10SizeMax) &&
        headerField<be>(file, 4) == kOldMacVersion) {
        prompts.alert("Old file format",
                      "This is a very old Mac format and is no longer supported.", "Close");
    }
    return -1;
}

std::int64_t Read_PMF_MAC_Header100(ByteView bytes, OldPmfHeader& header)
{
    const ByteReader file(bytes);
    constexpr auto be = std::endian::big;
    if (!inRange(headerField<be>(file, 0), kHeader100SizeMin, kHeader100SizeMax) ||
        headerField<be>(file, 4) != kMacHeader100Version ||
        file.size() < kHeader100Bytes + kHeader100BlockBytes) {
        return -1;
    }
    // Label records of 140 bytes follow the block; they are stepped over.
    const std::int32_t labels = headerField<be>(file, kMacLabelCountOffset);
    if (labels < 0) {
        return -1;
    }
    const std::size_t samplesAt =
        kHeader100Bytes + kHeader100BlockBytes + static_cast<std::size_t>(labels) * kMacLabelBytes;
    if (samplesAt > file.size()) {
        return -1;
    }
    if (!fillChannels<be>(bytes, kHeader100Layout, Variant::MacHeader100, header)) {
        return -1;
    }
    return static_cast<std::int64_t>(samplesAt);
}

std::int64_t ReadHeaderInfo(ByteView bytes, bool pc_mac, Prompts& prompts, OldPmfHeader& header)
{
    if (pc_mac) {
        const std::int64_t offset = Read_PMF_PC_Header10(bytes, header);
        return offset >= 0 ? offset : Read_PMF_PC_Header100(bytes, header);
    }
    const std::int64_t offset = Read_PMF_MAC_Header10(bytes, prompts);
    return offset >= 0 ? offset : Read_PMF_MAC_Header100(bytes, header);
}

bool readOldPmf(MyDocument& document, ByteView bytes, bool pc, Prompts& prompts)
{
    OldPmfHeader header;
    const std::int64_t start = ReadHeaderInfo(bytes, pc, prompts, header);
    if (start < 0 || header.channels.empty()) {
        return false;
    }

    // The audio samples, then each transducer channel's, one after another;
    // a file that ends early gives its channels the samples it holds.
    auto offset = static_cast<std::size_t>(start);
    for (std::size_t k = 0; k < header.channels.size(); ++k) {
        OldPmfChannel& c = header.channels[k];
        const std::size_t available = offset < bytes.size() ? (bytes.size() - offset) / 2 : 0;
        const std::size_t count = std::min(c.declaredCount, available);
        Channels scratch;
        if (!scratch.readData(bytes, static_cast<double>(count), static_cast<double>(offset),
                              k == 0 ? 16 : 12, !pc)) {
            return false;
        }
        c.samples = std::move(scratch.m_hData);
        c.sampleCount = count;
        offset += count * 2;
    }

    std::vector<std::size_t> held, declared;
    std::vector<double> rates;
    for (const OldPmfChannel& c : header.channels) {
        held.push_back(c.sampleCount);
        declared.push_back(c.declaredCount);
        rates.push_back(c.rateHz);
    }
    document.m_shortRecording = MyDocument::ShortRecording::of(held, declared, rates);
    for (std::size_t k = 0; k < header.channels.size(); ++k) {
        OldPmfChannel& c = header.channels[k];
        Channels& channel = document.getChannel(static_cast<int>(k));
        const double length = static_cast<double>(c.sampleCount);
        channel.m_hData = std::move(c.samples);
        channel.m_dSampleRate = c.rateHz;
        channel.m_dwFileLength = length;
        channel.m_dLengthMS = length * 1000.0 / c.rateHz;
        channel.SetTitle(c.title);
        channel.SetUnit(c.unit);
        channel.m_nChannelType = c.audio ? 1 : 0;
        channel.m_bAnchorChannel = c.audio;
        channel.m_bShow = true;
        channel.m_nOrder = static_cast<std::int32_t>(k) + 1;
        channel.m_nResolutionBits = c.resolution;
        channel.m_nDataType = 3;
        channel.m_dGain = c.gain;
        channel.m_nHeigth = 100;
        channel.m_dPageMin = 0.0;
        channel.m_dPageMax = length;
        channel.m_dPageSize = length;
        channel.m_dMinUnZoom = 0.0;
        channel.m_dMaxUnZoom = length;
        channel.m_dA3Cal = c.a3;
        channel.m_dB2Cal = c.b2;
        channel.m_dC1Cal = c.c1;
        channel.m_dD0Cal = c.d0;
        channel.m_dADInputVoltageRangeMV = c.rangeMv;
        channel.m_dMaxRangeBits = c.fullScale;
        channel.m_dReference = c.reference;
        channel.m_dFilterRate = c.filterRate;
        channel.RemoveAllLabels();
    }
    document.m_nNumofChannels = static_cast<std::int32_t>(header.channels.size());
    document.adoptAnalysisSampleRate(false);
    document.m_bHaveData = true;
    document.m_bForeignFile = true;
    document.m_bNewFile = false;
    return true;
}

} // namespace

bool MyDocument::Read_OLD_PC_FileType(ByteView bytes)
{
    return native::declineOnExhaustion([&] { return readOldPmf(*this, bytes, true, m_prompts); });
}

bool MyDocument::Read_OLD_MAC_FileType(ByteView bytes)
{
    return native::declineOnExhaustion([&] { return readOldPmf(*this, bytes, false, m_prompts); });
}

bool mayBeOldPmf(ByteView prefix)
{
    // The header size and version fields the header readers test first.
    const ByteReader file(prefix);
    constexpr auto le = std::endian::little;
    constexpr auto be = std::endian::big;
    return (inRange(headerField<le>(file, 0), kHeader10SizeMin, kHeader10SizeMax) &&
            headerField<le>(file, 4) == kPcHeader10Version) ||
           (inRange(headerField<le>(file, 0), kHeader100SizeMin, kHeader100SizeMax) &&
            headerField<le>(file, 4) == kPcHeader100Version) ||
           (inRange(headerField<be>(file, 0), kHeader10SizeMin, kHeader10SizeMax) &&
            headerField<be>(file, 4) == kOldMacVersion) ||
           (inRange(headerField<be>(file, 0), kHeader100SizeMin, kHeader100SizeMax) &&
            headerField<be>(file, 4) == kMacHeader100Version);
}

} // namespace phonaxis
