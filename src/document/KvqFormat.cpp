// The KVQ family of native files: the readers of KVQ_Mac, KVQ_PC,
// KVQ_PC_FLOAT and USB2 float, and the two float writers, which produce
// their bytes in memory or stream them to a file through one encoder.

#include "document/NativeFormat.h"

#include "document/ByteReader.h"
#include "document/FileIO.h"
#include "document/MyDocument.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Largest sample count a writer puts in a record (the range of the int32
// counts the views and tracks use); a longer channel cannot come from a
// reader or a recording.
constexpr std::size_t kMaxWrittenSamples = 2147483647;

// The stored italic angle (× 10) of an italic label font: the usual slant
// of -12 degrees.
constexpr std::int8_t kItalicAngleTimesTen = -120;

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

// Whole samples in a stored count, at most `limit`: NaN and values <= 0 give
// 0, fractions are cut.
std::size_t wholeCount(double value, std::size_t limit)
{
    if (!(value > 0.0)) {
        return 0;
    }
    if (value >= static_cast<double>(limit)) {
        return limit;
    }
    return std::min(static_cast<std::size_t>(value), limit);
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
        if (sampleCount < wholeCount(declaredCount, std::numeric_limits<std::size_t>::max())) {
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
        const std::size_t count = wholeCount(s.declaredCount, (file.size() - position) / 2);
        if (!takeSamples(bytes, count, position, i == 0 ? 16 : 12, order != std::endian::little,
                         s)) {
            return false;
        }
        position += count * 2;
    }

    // Everything is in hand: only now does the document change.
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
                wholeCount(s.declaredCount, (file.size() - position) / sizeof(float));
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
            s.sampleCount = wholeCount(s.declaredCount, held);
            if (!s.samples.allocate(s.sampleCount + Channels::kSlackFloats)) {
                return false;
            }
        }
        deinterleaveUsb2(bytes.data() + position, staged);
    }

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

// --- writing -----------------------------------------------------------------

// One shown channel as it goes into the file.
struct WrittenChannel {
    const Channels* channel = nullptr;
    std::size_t first = 0;     // first sample written
    std::size_t count = 0;     // samples in the record
    std::size_t available = 0; // samples the channel holds; later ones are written as 0
    double durationMs = 0.0;
    double labelStartMs = 0.0; // subtracted from the written label times
    std::vector<const Labels*> labels;
};

struct NativePlan {
    bool usb2 = false;
    std::vector<WrittenChannel> channels;
    std::size_t blockFirst = 0;  // USB2: first frame of the interleaved block
    std::size_t blockFrames = 0; // USB2: frames in the block
    std::uint64_t totalBytes = 0;
};

// A position in samples limited to [0, length]; NaN is 0.
double clampedPosition(double value, double length)
{
    if (!(value > 0.0)) {
        return 0.0;
    }
    return std::min(value, length);
}

// What the writers write for `document`: every shown channel in use, whole
// or each one's selection. Nothing (with `error` set) when no channel is
// shown or a channel is too long for the format.
std::optional<NativePlan> planNativeFile(const MyDocument& document, bool usb2, bool selection,
                                         std::string& error)
{
    NativePlan plan;
    plan.usb2 = usb2;
    const int inUse = document.channelsInUse();
    for (int i = 0; i < inUse; ++i) {
        const Channels& channel = document.getChannel(i);
        if (!channel.m_bShow) {
            continue;
        }
        if (!(channel.m_dwFileLength <= static_cast<double>(kMaxWrittenSamples))) {
            error = "The channel \"" + channel.GetTitle() + "\" is too long to be saved.";
            return std::nullopt;
        }
        WrittenChannel w;
        w.channel = &channel;
        const std::size_t length = wholeCount(channel.m_dwFileLength, kMaxWrittenSamples);
        w.available = channel.m_hData.present() ? std::min(length, channel.m_hData.size()) : 0;
        if (selection) {
            const double lengthD = static_cast<double>(length);
            const double start = clampedPosition(channel.m_dDurationStartFile, lengthD);
            const double stop = clampedPosition(channel.m_dDurationStopFile, lengthD);
            w.first = static_cast<std::size_t>(start);
            w.count = wholeCount(stop - start, kMaxWrittenSamples);
            w.durationMs = channel.m_dDurationStopTime - channel.m_dDurationStartTime;
            w.labelStartMs = channel.m_dDurationStartTime;
            for (const Labels& label : channel.m_pArrayLabels) {
                if (channel.m_dDurationStartTime <= label.dTime &&
                    label.dTime <= channel.m_dDurationStopTime) {
                    w.labels.push_back(&label);
                }
            }
        } else {
            w.count = length;
            w.durationMs = channel.m_dLengthMS;
            for (const Labels& label : channel.m_pArrayLabels) {
                w.labels.push_back(&label);
            }
        }
        if (w.labels.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
            error = "The channel \"" + channel.GetTitle() + "\" has too many labels to be saved.";
            return std::nullopt;
        }
        plan.channels.push_back(std::move(w));
    }
    if (plan.channels.empty()) {
        error = "No channel is shown, so there is nothing to save.";
        return std::nullopt;
    }

    std::uint64_t total = kHeaderBytes;
    for (const WrittenChannel& w : plan.channels) {
        total += kRecordBytes + std::uint64_t{w.labels.size()} * kLabelBytes;
        if (!usb2) {
            total += std::uint64_t{w.count} * sizeof(float);
        }
    }
    if (usb2) {
        // Every channel gives the frames of the first written channel.
        plan.blockFirst = plan.channels.front().first;
        plan.blockFrames = plan.channels.front().count;
        total += std::uint64_t{plan.blockFrames} * plan.channels.size() * sizeof(float);
    }
    plan.totalBytes = total;
    return plan;
}

// Where the encoder puts the bytes of a file, in order.
class NativeSink {
public:
    // Largest block `reserve` hands out.
    static constexpr std::size_t kChunkBytes = std::size_t{1} << 20;

    virtual ~NativeSink() = default;
    virtual bool append(const std::uint8_t* data, std::size_t size) = 0;
    virtual bool appendZeros(std::size_t size) = 0;
    // The next `size` bytes of the file (size <= kChunkBytes) for the caller
    // to fill completely; null on failure.
    virtual std::uint8_t* reserve(std::size_t size) = 0;
};

// Fills a buffer sized for the whole file; the buffer comes zeroed.
class BytesSink final : public NativeSink {
public:
    explicit BytesSink(Bytes& out) : m_out(out) {}

    bool append(const std::uint8_t* data, std::size_t size) override
    {
        if (size > m_out.size() - m_used) {
            return false;
        }
        if (size > 0) {
            std::memcpy(m_out.data() + m_used, data, size);
        }
        m_used += size;
        return true;
    }
    bool appendZeros(std::size_t size) override
    {
        if (size > m_out.size() - m_used) {
            return false;
        }
        m_used += size;
        return true;
    }
    std::uint8_t* reserve(std::size_t size) override
    {
        if (size > m_out.size() - m_used) {
            return nullptr;
        }
        std::uint8_t* p = m_out.data() + m_used;
        m_used += size;
        return p;
    }
    bool complete() const { return m_used == m_out.size(); }

private:
    Bytes& m_out;
    std::size_t m_used = 0;
};

// Writes to an open file through a fixed buffer; long runs of samples go to
// the file straight from the channel's memory.
class FileSink final : public NativeSink {
public:
    explicit FileSink(int fd) : m_fd(fd), m_buffer(kChunkBytes) {}

    bool append(const std::uint8_t* data, std::size_t size) override
    {
        if (size >= kChunkBytes) {
            return flush() && writeAll(data, size);
        }
        if (size > kChunkBytes - m_used && !flush()) {
            return false;
        }
        std::memcpy(m_buffer.data() + m_used, data, size);
        m_used += size;
        return true;
    }
    bool appendZeros(std::size_t size) override
    {
        while (size > 0) {
            if (m_used == kChunkBytes && !flush()) {
                return false;
            }
            const std::size_t n = std::min(size, kChunkBytes - m_used);
            std::memset(m_buffer.data() + m_used, 0, n);
            m_used += n;
            size -= n;
        }
        return true;
    }
    std::uint8_t* reserve(std::size_t size) override
    {
        if (size > kChunkBytes || (size > kChunkBytes - m_used && !flush())) {
            return nullptr;
        }
        std::uint8_t* p = m_buffer.data() + m_used;
        m_used += size;
        return p;
    }
    bool flush()
    {
        const bool ok = writeAll(m_buffer.data(), m_used);
        m_used = 0;
        return ok;
    }
    int lastError() const { return m_errno; }

private:
    bool writeAll(const std::uint8_t* data, std::size_t size)
    {
        constexpr std::size_t kMaxWrite = std::size_t{1} << 26;
        while (size > 0) {
            const ssize_t n = ::write(m_fd, data, std::min(size, kMaxWrite));
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                m_errno = errno;
                return false;
            }
            data += n;
            size -= static_cast<std::size_t>(n);
            m_written += static_cast<std::size_t>(n);
            startWriteBack();
        }
        return true;
    }

    // Hands every full stretch of written bytes to the disk right away, so
    // that writing the rest overlaps with it and the final flush finds
    // little left to do. Advisory: a failure here shows up at the flush.
    void startWriteBack()
    {
        constexpr std::size_t kWriteBackBytes = std::size_t{32} << 20;
        if (m_written - m_handedOver < kWriteBackBytes) {
            return;
        }
#ifdef SYNC_FILE_RANGE_WRITE
        ::sync_file_range(m_fd, static_cast<off_t>(m_handedOver),
                          static_cast<off_t>(m_written - m_handedOver), SYNC_FILE_RANGE_WRITE);
#endif
        m_handedOver = m_written;
    }

    int m_fd;
    std::vector<std::uint8_t> m_buffer;
    std::size_t m_used = 0;
    std::size_t m_written = 0;    // bytes in the file so far
    std::size_t m_handedOver = 0; // bytes whose write-back has been started
    int m_errno = 0;
};

void putU32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}
void putI32(std::uint8_t* p, std::int32_t v)
{
    putU32(p, static_cast<std::uint32_t>(v));
}
void putF64(std::uint8_t* p, double v)
{
    const auto bits = std::bit_cast<std::uint64_t>(v);
    for (int i = 0; i < 8; ++i) {
        p[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
}
void putF32(std::uint8_t* p, float v)
{
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(p, &v, sizeof v);
    } else {
        putU32(p, std::bit_cast<std::uint32_t>(v));
    }
}

// trunc(value) as an int32, saturating; NaN gives 0.
std::int32_t truncated(double value)
{
    if (std::isnan(value)) {
        return 0;
    }
    return static_cast<std::int32_t>(
        std::clamp(value, static_cast<double>(std::numeric_limits<std::int32_t>::min()),
                   static_cast<double>(std::numeric_limits<std::int32_t>::max())));
}

// Copies UTF-8 text into a field of `size` bytes: at most size - 1 bytes,
// cut before a character that does not fit whole, then a NUL.
void putText(std::uint8_t* field, std::size_t size, const std::string& text)
{
    std::size_t n = std::min(text.size(), size - 1);
    if (n < text.size()) {
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0u) == 0x80u) {
            --n;
        }
    }
    std::memcpy(field, text.data(), n);
    field[n] = 0;
}

void encodeRecord(const WrittenChannel& w, std::uint8_t* p)
{
    const Channels& c = *w.channel;
    putF64(p + record::kDurationMs, w.durationMs);
    putF64(p + record::kSampleRate, c.m_dSampleRate);
    putF64(p + record::kSampleCount, static_cast<double>(w.count));
    putF64(p + record::kReference, c.m_dReference);
    putF64(p + record::kA3, c.m_dA3Cal);
    putF64(p + record::kB2, c.m_dB2Cal);
    putF64(p + record::kC1, c.m_dC1Cal);
    putF64(p + record::kD0, c.m_dD0Cal);
    putI32(p + record::kChannelType, c.m_nChannelType);
    putI32(p + record::kResolution, c.m_nResolutionBits);
    putI32(p + record::kDataType, c.m_nDataType);
    putI32(p + record::kHeight, c.m_nHeigth);
    putI32(p + record::kOrder, c.m_nOrder);
    putI32(p + record::kGain, truncated(c.m_dGain));
    putI32(p + record::kFilterRate, truncated(c.m_dFilterRate));
    putI32(p + record::kLabelCount, static_cast<std::int32_t>(w.labels.size()));
    putI32(p + record::kDrawReference, c.m_bDrawReference ? 1 : 0);
    putI32(p + record::kAnchor, c.m_bAnchorChannel ? 1 : 0);
    putI32(p + record::kRed, c.m_nColorRed);
    putI32(p + record::kGreen, c.m_nColorGreen);
    putI32(p + record::kBlue, c.m_nColorBlue);
    putText(p + record::kTitle, record::kTitleBytes, c.GetTitle());
    putText(p + record::kUnit, record::kUnitBytes, c.GetUnit());
}

std::int32_t storedColor(double component)
{
    if (!(component > 0.0)) {
        return 0;
    }
    return static_cast<std::int32_t>(std::min(component, 1.0) * 255.0);
}

void encodeLabel(const Labels& label, double startMs, std::uint8_t* p)
{
    putF64(p + label::kTimeMs, label.dTime - startMs);
    putF64(p + label::kVerticalFactor, label.dVerticalFactor);
    putI32(p + label::kJustification, label.nJustification);
    putI32(p + label::kAddLine, label.bAddLine ? 1 : 0);
    const Rect& box = label.rectLocation;
    putI32(p + label::kBoxLeft, box.left);
    putI32(p + label::kBoxTop, box.top);
    putI32(p + label::kBoxRight, box.right);
    putI32(p + label::kBoxBottom, box.bottom);
    putI32(p + label::kRed, storedColor(label.mFontColor.red));
    putI32(p + label::kRed + 4, storedColor(label.mFontColor.green));
    putI32(p + label::kRed + 8, storedColor(label.mFontColor.blue));
    putI32(p + label::kPointSize, truncated(label.mFont.pointSize));
    putI32(p + label::kWeight, storedWeightFromLabel(label.mFont.weight));
    p[label::kItalicAngle] =
        label.mFont.italic ? static_cast<std::uint8_t>(kItalicAngleTimesTen) : std::uint8_t{0};
    putText(p + label::kFamily, label::kFamilyBytes, label.mFont.family);
    putText(p + label::kText, label::kTextBytes, label._strText);
}

// `count` samples of a channel from `first`: those it holds as stored, the
// rest as 0.
bool emitSamples(const WrittenChannel& w, NativeSink& sink)
{
    const std::size_t held = w.first < w.available ? std::min(w.count, w.available - w.first) : 0;
    const float* values = held > 0 ? w.channel->m_hData.data() + w.first : nullptr;
    if constexpr (std::endian::native == std::endian::little) {
        if (held > 0 &&
            !sink.append(reinterpret_cast<const std::uint8_t*>(values), held * sizeof(float))) {
            return false;
        }
    } else {
        constexpr std::size_t kPerChunk = NativeSink::kChunkBytes / sizeof(float);
        for (std::size_t done = 0; done < held; done += kPerChunk) {
            const std::size_t n = std::min(kPerChunk, held - done);
            std::uint8_t* dst = sink.reserve(n * sizeof(float));
            if (!dst) {
                return false;
            }
            for (std::size_t j = 0; j < n; ++j) {
                putF32(dst + j * sizeof(float), values[done + j]);
            }
        }
    }
    return sink.appendZeros((w.count - held) * sizeof(float));
}

// The interleaved block of a USB2 float file, a bounded chunk at a time.
bool emitInterleaved(const NativePlan& plan, NativeSink& sink)
{
    const std::size_t n = plan.channels.size();
    const std::size_t frameBytes = n * sizeof(float);
    const std::size_t perChunk = std::max<std::size_t>(1, NativeSink::kChunkBytes / frameBytes);
    for (std::size_t done = 0; done < plan.blockFrames; done += perChunk) {
        const std::size_t frames = std::min(perChunk, plan.blockFrames - done);
        std::uint8_t* dst = sink.reserve(frames * frameBytes);
        if (!dst) {
            return false;
        }
        const std::size_t start = plan.blockFirst + done;
        for (std::size_t c = 0; c < n; ++c) {
            const WrittenChannel& w = plan.channels[c];
            const std::size_t held =
                start < w.available ? std::min(frames, w.available - start) : 0;
            const float* values = held > 0 ? w.channel->m_hData.data() + start : nullptr;
            std::uint8_t* column = dst + c * sizeof(float);
            for (std::size_t f = 0; f < held; ++f) {
                putF32(column + f * frameBytes, values[f]);
            }
            for (std::size_t f = held; f < frames; ++f) {
                putF32(column + f * frameBytes, 0.0f);
            }
        }
    }
    return true;
}

// The one encoder behind both writers.
bool emitNativeFile(const NativePlan& plan, NativeSink& sink)
{
    std::array<std::uint8_t, kHeaderBytes> header{};
    const std::string_view signature = plan.usb2 ? kUsb2FloatSignature : kPcFloatSignature;
    std::memcpy(header.data(), signature.data(), signature.size());
    putI32(header.data() + kFloatCountOffset, static_cast<std::int32_t>(plan.channels.size()));
    if (!sink.append(header.data(), header.size())) {
        return false;
    }
    for (const WrittenChannel& w : plan.channels) {
        std::array<std::uint8_t, kRecordBytes> rec{};
        encodeRecord(w, rec.data());
        if (!sink.append(rec.data(), rec.size())) {
            return false;
        }
        for (const Labels* label : w.labels) {
            std::array<std::uint8_t, kLabelBytes> bytes{};
            encodeLabel(*label, w.labelStartMs, bytes.data());
            if (!sink.append(bytes.data(), bytes.size())) {
                return false;
            }
        }
        if (!plan.usb2 && !emitSamples(w, sink)) {
            return false;
        }
    }
    return !plan.usb2 || emitInterleaved(plan, sink);
}

std::optional<Bytes> nativeFileBytes(const MyDocument& document, bool usb2, bool selection)
{
    std::string error;
    const auto plan = planNativeFile(document, usb2, selection, error);
    if (!plan || plan->totalBytes > std::numeric_limits<std::size_t>::max()) {
        return std::nullopt;
    }
    Bytes out;
    try {
        out.resize(static_cast<std::size_t>(plan->totalBytes));
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    } catch (const std::length_error&) {
        return std::nullopt;
    }
    BytesSink sink(out);
    if (!emitNativeFile(*plan, sink) || !sink.complete()) {
        return std::nullopt;
    }
    return out;
}

std::string systemError(const std::string& path, int err)
{
    return "Cannot write \"" + path + "\": " + std::strerror(err);
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

std::optional<Bytes> MyDocument::Save_KVQ_PC_Float_FileType(bool selection)
{
    return nativeFileBytes(*this, false, selection);
}

std::optional<Bytes> MyDocument::Save_KVQ_PC_USB2_Float_FileType(bool selection)
{
    return nativeFileBytes(*this, true, selection);
}

bool writeNativeFile(const MyDocument& document, bool usb2, bool selection, const std::string& path,
                     std::string& error)
{
    std::optional<NativePlan> plan;
    try {
        plan = planNativeFile(document, usb2, selection, error);
    } catch (const std::bad_alloc&) {
        error = systemError(path, ENOMEM);
        return false;
    }
    if (!plan) {
        return false;
    }

    AtomicFileWriter file;
    if (!file.open(path, error)) {
        return false;
    }
    bool written = false;
    int err = 0;
    try {
        FileSink sink(file.fd());
        written = emitNativeFile(*plan, sink) && sink.flush();
        err = sink.lastError();
    } catch (const std::bad_alloc&) {
        err = ENOMEM;
    }
    if (!written) {
        return file.fail(err != 0 ? err : EIO, error);
    }
    return file.commit(error);
}

} // namespace phonaxis
