// The two float writers of the native files, KVQ_PC_FLOAT and USB2 float,
// which produce their bytes in memory or stream them to a file through one
// encoder.

#include "document/NativeFormat.h"

#include "document/ByteReader.h"
#include "document/FileIO.h"
#include "document/MyDocument.h"
#include "model/Functions.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

#include <unistd.h>

namespace phonaxis {


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
        const std::size_t length = truncWithin(channel.m_dwFileLength, kMaxWrittenSamples);
        w.available = channel.m_hData.present() ? std::min(length, channel.m_hData.size()) : 0;
        if (selection) {
            const double lengthD = static_cast<double>(length);
            const double start = clampedPosition(channel.m_dDurationStartFile, lengthD);
            const double stop = clampedPosition(channel.m_dDurationStopFile, lengthD);
            w.first = static_cast<std::size_t>(start);
            w.count = truncWithin(stop - start, kMaxWrittenSamples);
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
        // The block runs as long as the longest channel, so that no channel
        // loses samples; column c holds channel c's samples from its own
        // first one, and a shorter channel's column ends in zeros that its
        // record's sample count leaves out when the file is read.
        for (const WrittenChannel& w : plan.channels) {
            plan.blockFrames = std::max(plan.blockFrames, w.count);
        }
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
    if (label.hasEndTime()) {
        putF64(p + label::kEndTimeMs, label.dEndTime - startMs);
        putI32(p + label::kHasEndTime, 1);
    }
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
        for (std::size_t c = 0; c < n; ++c) {
            const WrittenChannel& w = plan.channels[c];
            // Samples past the channel's record count are not its own.
            const std::size_t start = w.first + done;
            const std::size_t own = done < w.count ? std::min(frames, w.count - done) : 0;
            const std::size_t held = start < w.available ? std::min(own, w.available - start) : 0;
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

} // namespace

std::optional<Bytes> MyDocument::Save_KVQ_PC_Float_FileType(bool selection)
{
    return nativeFileBytes(*this, false, selection);
}

std::optional<Bytes> MyDocument::Save_KVQ_PC_USB2_Float_FileType(bool selection)
{
    return nativeFileBytes(*this, true, selection);
}

namespace {

// The plan of a native file, with running out of memory reported as the
// failure to write `path`.
std::optional<NativePlan> planForWriting(const MyDocument& document, bool usb2, bool selection,
                                         const std::string& path, std::string& error)
{
    try {
        return planNativeFile(document, usb2, selection, error);
    } catch (const std::bad_alloc&) {
        error = systemError("Cannot write", path, ENOMEM);
        return std::nullopt;
    }
}

// Streams a planned file into `fd`. Returns 0, or the errno value of the
// failure.
int streamNativeFile(const NativePlan& plan, int fd)
{
    try {
        FileSink sink(fd);
        if (emitNativeFile(plan, sink) && sink.flush()) {
            return 0;
        }
        return sink.lastError() != 0 ? sink.lastError() : EIO;
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
}

} // namespace

bool writeNativeFile(const MyDocument& document, bool usb2, bool selection, const std::string& path,
                     std::string& error)
{
    const auto plan = planForWriting(document, usb2, selection, path, error);
    if (!plan) {
        return false;
    }
    AtomicFileWriter file;
    if (!file.open(path, error)) {
        return false;
    }
    if (const int err = streamNativeFile(*plan, file.fd()); err != 0) {
        return file.fail(err, error);
    }
    return file.commit(error);
}

bool writeNativeFileTo(const MyDocument& document, bool usb2, bool selection, int fd,
                       const std::string& path, std::string& error)
{
    const auto plan = planForWriting(document, usb2, selection, path, error);
    if (!plan) {
        return false;
    }
    if (const int err = streamNativeFile(*plan, fd); err != 0) {
        error = systemError("Cannot write", path, err);
        return false;
    }
    return true;
}

} // namespace phonaxis
