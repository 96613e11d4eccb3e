// The KVQ family of native files: the readers of KVQ_Mac, KVQ_PC,
// KVQ_PC_FLOAT and USB2 float (the writers are in KvqWriter.cpp).

#include "document/NativeFormat.h"

#include "document/ByteReader.h"
#include "document/MyDocument.h"
#include "model/Functions.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

namespace phonaxis {

namespace native {

int labelWeightFromStored(std::int32_t storedWeight)
{
    const std::int64_t css = 400 + 75 * (std::int64_t{storedWeight} - 5);
    return static_cast<int>(std::clamp<std::int64_t>(css, 1, 1000));
}

std::int32_t storedWeightFromLabel(int cssWeight)
{
    const double steps = std::round((static_cast<double>(cssWeight) - 400.0) / 75.0);
    return static_cast<std::int32_t>(std::clamp(steps + 5.0, 0.0, 15.0));
}

} // namespace native

namespace {

using namespace native;

static_assert(std::numeric_limits<float>::is_iec559 && std::numeric_limits<double>::is_iec559,
              "the native files store IEEE floats and doubles");


// --- reading -------------------------------------------------------------------

template <std::endian order> struct Fields {
    const std::uint8_t* p;

    double f64(std::size_t at) const
    {
        return std::bit_cast<double>(byteorder::load<std::uint64_t, order>(p + at));
    }
    std::int32_t i32(std::size_t at) const
    {
        return static_cast<std::int32_t>(byteorder::load<std::uint32_t, order>(p + at));
    }
};

// The NUL-terminated text of a fixed-size field (all of it when it holds no NUL).
std::string textField(const std::uint8_t* p, std::size_t size)
{
    const void* nul = std::memchr(p, 0, size);
    const std::size_t length =
        nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - p) : size;
    return std::string(reinterpret_cast<const char*>(p), length);
}

// Whether the NUL-terminated string at offset 0 is `signature`.
bool hasSignature(const ByteReader& file, std::string_view signature)
{
    const auto terminator = file.u8(signature.size());
    return file.matches(0, signature) && terminator && *terminator == 0;
}

std::int16_t viewCoordinate(std::int64_t value)
{
    return static_cast<std::int16_t>(std::clamp<std::int64_t>(
        value, std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max()));
}

bool usableRate(double rateHz)
{
    return std::isfinite(rateHz) && rateHz > 0.0;
}

void setLabelText(LabelTransfer& label, const std::uint8_t* field)
{
    label.text = textField(field, label::kTextBytes);
    const std::size_t copied = std::min(label.text.size(), label.cText.size() - 1);
    std::memcpy(label.cText.data(), label.text.data(), copied);
    label.cText[copied] = '\0';
}

// A label of a KVQ_Mac/KVQ_PC file: position, flags and text; the font is
// the default one in black and the box is 18 points high.
template <std::endian order> LabelTransfer plainLabel(const std::uint8_t* p)
{
    const Fields<order> f{p};
    LabelTransfer out;
    out.dTime = f.f64(label::kTimeMs);
    out.dVerticalFactor = f.f64(label::kVerticalFactor);
    out.nJustification = f.i32(label::kJustification);
    out.bAddLine = f.i32(label::kAddLine) != 0;
    const std::int32_t top = f.i32(label::kBoxTop);
    out.rect.top = viewCoordinate(top);
    out.rect.left = viewCoordinate(f.i32(label::kBoxLeft));
    out.rect.right = viewCoordinate(f.i32(label::kBoxRight));
    out.rect.bottom = viewCoordinate(std::int64_t{top} + kPlainLabelBoxHeight);
    setLabelText(out, p + label::kText);
    out.font = LabelFont{};
    out.font.pointSize = kPlainLabelPointSize;
    out.color = LabelColor{};
    return out;
}

double colorComponent(std::int32_t stored)
{
    return std::clamp(static_cast<double>(stored) / 255.0, 0.0, 1.0);
}

// A label of a KVQ_PC_FLOAT/USB2 float file, with its box, colour and font.
LabelTransfer styledLabel(const std::uint8_t* p)
{
    const Fields<std::endian::little> f{p};
    LabelTransfer out;
    out.dTime = f.f64(label::kTimeMs);
    out.dVerticalFactor = f.f64(label::kVerticalFactor);
    out.nJustification = f.i32(label::kJustification);
    out.bAddLine = f.i32(label::kAddLine) != 0;
    if (f.i32(label::kHasEndTime) == 1) {
        // An end before the start, or not a number, is not an interval.
        const double end = f.f64(label::kEndTimeMs);
        if (std::isfinite(end) && std::isfinite(out.dTime) && end >= out.dTime) {
            out.dEndTime = end;
        }
    }
    out.rect.top = viewCoordinate(f.i32(label::kBoxTop));
    out.rect.left = viewCoordinate(f.i32(label::kBoxLeft));
    out.rect.bottom = viewCoordinate(f.i32(label::kBoxBottom));
    out.rect.right = viewCoordinate(f.i32(label::kBoxRight));
    setLabelText(out, p + label::kText);
    out.color.red = colorComponent(f.i32(label::kRed));
    out.color.green = colorComponent(f.i32(label::kRed + 4));
    out.color.blue = colorComponent(f.i32(label::kRed + 8));
    out.color.alpha = 1.0;

    out.font.family = textField(p + label::kFamily, label::kFamilyBytes);
    const std::int32_t size = f.i32(label::kPointSize);
    out.font.pointSize = size > 0 ? static_cast<double>(size) : kPlainLabelPointSize;
    const std::int32_t weight = f.i32(label::kWeight);
    out.font.weight = labelWeightFromStored(weight);
    if (weight > 8) {
        out.font.weight = std::max(out.font.weight, 700);
    }
    out.font.italic = p[label::kItalicAngle] != 0;
    if (out.font.family.empty()) {
        // No font name at all: the default font at its default size.
        out.font = LabelFont{};
        out.font.pointSize = kPlainLabelPointSize;
    }
    return out;
}

// Reads `count` label records at `position` (none when count <= 0) and moves
// past them. False when they do not fit in the file.
template <typename Parse>
bool readLabels(const ByteReader& file, std::size_t& position, std::int32_t count, Parse parse,
                std::vector<LabelTransfer>& out)
{
    if (count <= 0) {
        return true;
    }
    const auto n = static_cast<std::size_t>(count);
    if (!file.contains(position, n * kLabelBytes)) {
        return false;
    }
    out.reserve(n);
    const std::uint8_t* p = file.data().data() + position;
    for (std::size_t k = 0; k < n; ++k) {
        out.push_back(parse(p + k * kLabelBytes));
    }
    position += n * kLabelBytes;
    return true;
}

// One channel as read from a file, before it is placed in the document.
struct StagedChannel {
    double durationMs = 0.0;
    double rateHz = 0.0;
    double declaredCount = 0.0;
    double reference = 0.0;
    double a3 = 0.0, b2 = 0.0, c1 = 1.0, d0 = 0.0;
    std::int32_t channelType = 0;
    std::int32_t resolution = 16;
    std::int32_t dataType = 3;
    std::int32_t height = 100;
    std::int32_t order = 0;
    std::int32_t gain = 1;
    std::int32_t filterRate = 0;
    std::int32_t labelCount = 0;
    bool drawReference = true;
    bool anchor = false;
    std::int32_t red = 0, green = 0, blue = 0;
    std::string title, unit;
    std::vector<LabelTransfer> labels;
    SampleBuffer samples;
    std::size_t sampleCount = 0; // samples the file holds (at most the declared count)

    // The duration of the samples held: the stored one, unless the file ends
    // before the declared samples do.
    double heldDurationMs() const
    {
        if (sampleCount < truncWithin(declaredCount, std::numeric_limits<std::size_t>::max())) {
            return static_cast<double>(sampleCount) * 1000.0 / rateHz;
        }
        return durationMs;
    }
};

// Samples of one channel taken with the channel's own conversion: 16- or
// 12-bit words or little-endian floats at `position`.
bool takeSamples(ByteView bytes, std::size_t count, std::size_t position, std::int32_t bits,
                 bool swap, StagedChannel& staged)
{
    Channels scratch;
    if (!scratch.readData(bytes, static_cast<double>(count), static_cast<double>(position), bits,
                          swap)) {
        return false;
    }
    staged.samples = std::move(scratch.m_hData);
    staged.sampleCount = count;
    return true;
}

void placeLabels(Channels& channel, const std::vector<LabelTransfer>& labels)
{
    channel.RemoveAllLabels();
    for (const LabelTransfer& label : labels) {
        channel.Add_Label(label);
    }
}

// Leaves the document the note of channels that hold fewer samples than
// their records declare (none when every one is whole).
void noteShortChannels(MyDocument& document, const std::vector<StagedChannel>& staged)
{
    std::vector<std::size_t> held, declared;
    std::vector<double> rates;
    for (const StagedChannel& s : staged) {
        held.push_back(s.sampleCount);
        declared.push_back(truncWithin(s.declaredCount, std::numeric_limits<std::size_t>::max()));
        rates.push_back(s.rateHz);
    }
    document.m_shortRecording = MyDocument::ShortRecording::of(held, declared, rates);
}

void setWholePage(Channels& channel, double length)
{
    channel.m_dPageMin = 0.0;
    channel.m_dPageMax = length;
    channel.m_dPageSize = length;
    channel.m_dMinUnZoom = 0.0;
    channel.m_dMaxUnZoom = length;
}

template <std::endian order>
bool readIntegerKvq(MyDocument& document, ByteView bytes, std::string_view signature)
{
    const ByteReader file(bytes);
    if (file.size() < kHeaderBytes || !hasSignature(file, signature)) {
        return false;
    }
    const std::int32_t n = Fields<order>{bytes.data()}.i32(kIntegerCountOffset);
    if (n < kMinChannels || n > kMaxChannels) {
        return false;
    }

    std::vector<StagedChannel> staged(static_cast<std::size_t>(n));
    std::size_t position = kHeaderBytes;
    for (std::size_t i = 0; i < staged.size(); ++i) {
        StagedChannel& s = staged[i];
        if (!file.contains(position, kRecordBytes)) {
            return false;
        }
        const Fields<order> rec{bytes.data() + position};
        s.durationMs = rec.f64(record::kDurationMs);
        s.rateHz = rec.f64(record::kSampleRate);
        s.declaredCount = rec.f64(record::kSampleCount);
        s.height = rec.i32(record::kHeight);
        s.labelCount = rec.i32(record::kLabelCount);
        if (!usableRate(s.rateHz)) {
            return false;
        }
        position += kRecordBytes;
        if (!readLabels(file, position, s.labelCount, plainLabel<order>, s.labels)) {
            return false;
        }
        // The audio channel holds 16-bit samples, the others 12-bit ones.
        const std::size_t count = truncWithin(s.declaredCount, (file.size() - position) / 2);
        if (!takeSamples(bytes, count, position, i == 0 ? 16 : 12, order != std::endian::little,
                         s)) {
            return false;
        }
        position += count * 2;
    }

    // Everything is in hand: only now does the document change.
    noteShortChannels(document, staged);
    for (std::size_t i = 0; i < staged.size(); ++i) {
        StagedChannel& s = staged[i];
        Channels& channel = document.getChannel(static_cast<int>(i));
        const double length = static_cast<double>(s.sampleCount);
        channel.m_hData = std::move(s.samples);
        channel.m_dLengthMS = s.heldDurationMs();
        channel.m_dSampleRate = s.rateHz;
        channel.m_dwFileLength = length;
        channel.SetTitle("Chan  " + std::to_string(i));
        channel.SetUnit("normalized");
        channel.m_nChannelType = i == 0 ? 1 : 0;
        channel.m_bAnchorChannel = i == 0;
        channel.m_bShow = true;
        channel.m_nOrder = static_cast<std::int32_t>(i) + 1;
        channel.m_nResolutionBits = 16;
        channel.m_nDataType = 3;
        channel.m_nHeigth = s.height;
        channel.setPlainReadState(length, s.rateHz);
        placeLabels(channel, s.labels);
    }
    document.m_nNumofChannels = n;
    document.m_bHaveData = true;
    document.m_bForeignFile = false;
    document.m_bNewFile = false;
    return true;
}

// De-interleaves channel c of the USB2 block: sample j is float c + j × n.
// Frames go in blocks that stay in cache while every channel takes its
// samples out of them.
void deinterleaveUsb2(const std::uint8_t* block, std::vector<StagedChannel>& staged)
{
    constexpr std::size_t kFramesPerPass = 4096;
    const std::size_t n = staged.size();
    const std::size_t stride = n * sizeof(float);
    std::size_t frames = 0;
    for (const StagedChannel& s : staged) {
        frames = std::max(frames, s.sampleCount);
    }
    for (std::size_t first = 0; first < frames; first += kFramesPerPass) {
        const std::size_t last = std::min(frames, first + kFramesPerPass);
        for (std::size_t c = 0; c < n; ++c) {
            StagedChannel& s = staged[c];
            const std::size_t end = std::min(last, s.sampleCount);
            float* dst = s.samples.data();
            const std::uint8_t* src = block + c * sizeof(float);
            for (std::size_t j = first; j < end; ++j) {
                dst[j] = std::bit_cast<float>(byteorder::loadU32LE(src + j * stride));
            }
        }
    }
}

bool readFloatKvq(MyDocument& document, ByteView bytes, bool usb2)
{
    const ByteReader file(bytes);
    if (file.size() < kHeaderBytes ||
        !hasSignature(file, usb2 ? kUsb2FloatSignature : kPcFloatSignature)) {
        return false;
    }
    const auto n = static_cast<std::int32_t>(*file.u32le(kFloatCountOffset));
    if (n < kMinChannels || n > kMaxChannels) {
        return false;
    }

    std::vector<StagedChannel> staged(static_cast<std::size_t>(n));
    std::size_t position = kHeaderBytes;
    for (StagedChannel& s : staged) {
        if (!file.contains(position, kRecordBytes)) {
            return false;
        }
        const Fields<std::endian::little> rec{bytes.data() + position};
        s.durationMs = rec.f64(record::kDurationMs);
        s.rateHz = rec.f64(record::kSampleRate);
        s.declaredCount = rec.f64(record::kSampleCount);
        s.reference = rec.f64(record::kReference);
        s.a3 = rec.f64(record::kA3);
        s.b2 = rec.f64(record::kB2);
        s.c1 = rec.f64(record::kC1);
        s.d0 = rec.f64(record::kD0);
        s.channelType = rec.i32(record::kChannelType);
        s.resolution = rec.i32(record::kResolution);
        s.dataType = rec.i32(record::kDataType);
        s.height = rec.i32(record::kHeight);
        s.order = rec.i32(record::kOrder);
        s.gain = rec.i32(record::kGain);
        s.filterRate = rec.i32(record::kFilterRate);
        s.labelCount = rec.i32(record::kLabelCount);
        s.drawReference = bytes[position + record::kDrawReference] != 0;
        s.anchor = bytes[position + record::kAnchor] != 0;
        s.red = rec.i32(record::kRed);
        s.green = rec.i32(record::kGreen);
        s.blue = rec.i32(record::kBlue);
        s.title = textField(bytes.data() + position + record::kTitle, record::kTitleBytes);
        s.unit = textField(bytes.data() + position + record::kUnit, record::kUnitBytes);
        if (!usableRate(s.rateHz)) {
            return false;
        }
        position += kRecordBytes;
        if (!readLabels(file, position, s.labelCount, styledLabel, s.labels)) {
            return false;
        }
        if (!usb2) {
            const std::size_t count =
                truncWithin(s.declaredCount, (file.size() - position) / sizeof(float));
            if (!takeSamples(bytes, count, position, 32, false, s)) {
                return false;
            }
            position += count * sizeof(float);
        }
    }

    if (usb2) {
        // The interleaved block runs from here through the end of the file;
        // channel c holds as many samples as its floats c, c + n, … fit.
        const std::size_t floats = (file.size() - position) / sizeof(float);
        const auto stride = static_cast<std::size_t>(n);
        for (std::size_t c = 0; c < staged.size(); ++c) {
            StagedChannel& s = staged[c];
            const std::size_t held = floats > c ? (floats - c - 1) / stride + 1 : 0;
            s.sampleCount = truncWithin(s.declaredCount, held);
            if (!s.samples.allocate(s.sampleCount + Channels::kSlackFloats)) {
                return false;
            }
        }
        deinterleaveUsb2(bytes.data() + position, staged);
    }

    noteShortChannels(document, staged);
    for (std::size_t i = 0; i < staged.size(); ++i) {
        StagedChannel& s = staged[i];
        Channels& channel = document.getChannel(static_cast<int>(i));
        const double length = static_cast<double>(s.sampleCount);
        const double durationMs = s.heldDurationMs();
        channel.m_hData = std::move(s.samples);
        channel.m_dLengthMS = durationMs;
        channel.m_dSampleRate = s.rateHz;
        channel.m_dwFileLength = length;
        channel.m_dReference = s.reference;
        channel.m_dA3Cal = s.a3;
        channel.m_dB2Cal = s.b2;
        channel.m_dC1Cal = s.c1;
        channel.m_dD0Cal = s.d0;
        channel.m_nChannelType = s.channelType;
        channel.m_nResolutionBits = s.resolution;
        channel.m_nDataType = s.dataType;
        channel.m_nHeigth = s.height;
        channel.m_nOrder = s.order;
        channel.m_dGain = s.gain;
        channel.m_dFilterRate = s.filterRate;
        channel.m_bDrawReference = s.drawReference;
        channel.m_bAnchorChannel = s.anchor;
        channel.m_nColorRed = s.red;
        channel.m_nColorGreen = s.green;
        channel.m_nColorBlue = s.blue;
        channel.SetTitle(s.title);
        channel.SetUnit(s.unit);
        channel.m_bShow = true;
        setWholePage(channel, length);
        channel.m_dPageTimeMin = 0.0;
        channel.m_dPageTimeMax = durationMs;
        channel.m_dPageTimeSize = durationMs;
        placeLabels(channel, s.labels);
    }
    document.m_nNumofChannels = n;
    document.m_nFileFormat = usb2 ? FileFormat::kUsb2Float : FileFormat::kPcFloat;
    document.m_bHaveData = true;
    document.m_bForeignFile = false;
    document.m_bNewFile = false;

    // A file without an audio channel gets the first one fast enough for speech.
    if (document.audioChannelIndex() < 0) {
        for (int i = 0; i < n; ++i) {
            Channels& channel = document.getChannel(i);
            if (channel.m_dSampleRate > 8000.0) {
                channel.m_nChannelType = 1;
                break;
            }
        }
    }
    if (!usb2) {
        document.adoptAnalysisSampleRate(true);
    }
    return true;
}

} // namespace


bool MyDocument::Read_KVQ_MAC_FileType(ByteView bytes)
{
    return native::declineOnExhaustion(
        [&] { return readIntegerKvq<std::endian::big>(*this, bytes, kMacSignature); });
}

bool MyDocument::Read_KVQ_PC_FileType(ByteView bytes)
{
    return native::declineOnExhaustion(
        [&] { return readIntegerKvq<std::endian::little>(*this, bytes, kPcSignature); });
}

bool MyDocument::Read_KVQ_PC_Float_FileType(ByteView bytes)
{
    return native::declineOnExhaustion([&] { return readFloatKvq(*this, bytes, false); });
}

bool MyDocument::Read_USB2_Float_FileType(ByteView bytes)
{
    return native::declineOnExhaustion([&] { return readFloatKvq(*this, bytes, true); });
}

} // namespace phonaxis
