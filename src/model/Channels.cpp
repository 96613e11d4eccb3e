#include "model/Channels.h"
#include "model/Functions.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

namespace phonaxis {

namespace {

// Largest number of samples a reader allocates for one channel (the range of
// the int32 counts used by the tracks and views; 8 GiB of floats). A larger
// declared length comes from a damaged or hostile header and is declined
// rather than zero-filled.
constexpr double kMaxSampleCount = 2147483647.0;

// Number of whole samples in `length` for a new buffer: NaN and values <= 0
// give 0, fractions are cut toward zero. Nothing when the length is beyond
// what a channel may hold.
std::optional<std::size_t> sampleCountFor(double length)
{
    if (!(length > 0.0)) {
        return std::size_t{0};
    }
    if (length > kMaxSampleCount) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(length);
}

// Elements i in [first, last) of a strided run whose bytes
// [offset + i * stride, offset + i * stride + width) lie inside [0, end).
struct ElementRange {
    std::size_t first = 0;
    std::size_t last = 0;
    std::size_t firstByte = 0; // byte offset of element `first`
};

// Byte offsets are limited to ±2^53 so that every sum below stays well
// inside int64 (blocks are far smaller than that).
constexpr std::int64_t kOffsetLimit = std::int64_t{1} << 53;

std::optional<std::int64_t> byteOffsetFor(double location)
{
    if (std::isnan(location)) {
        return std::nullopt;
    }
    const double clamped = std::clamp(location, -static_cast<double>(kOffsetLimit),
                                      static_cast<double>(kOffsetLimit));
    return static_cast<std::int64_t>(clamped);
}

ElementRange elementsInside(std::int64_t offset, std::int64_t stride, std::int64_t width,
                            std::int64_t end, std::size_t count)
{
    ElementRange range;
    const std::int64_t room = end - width - offset; // last start offset, relative
    if (count == 0 || room < 0) {
        return range;
    }
    const std::int64_t first = offset >= 0 ? 0 : (-offset + stride - 1) / stride;
    const std::int64_t lastIncluded = room / stride;
    if (first > lastIncluded) {
        return range;
    }
    range.first = static_cast<std::size_t>(first);
    range.last = std::min(count, static_cast<std::size_t>(lastIncluded) + 1);
    if (range.first >= range.last) {
        range.first = range.last = 0;
        return range;
    }
    range.firstByte = static_cast<std::size_t>(offset + first * stride);
    return range;
}

float loadFloatLittleEndian(const std::uint8_t* bytes)
{
    std::uint32_t bits = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&bits, bytes, sizeof bits);
    } else {
        bits = std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8) |
               (std::uint32_t{bytes[2]} << 16) | (std::uint32_t{bytes[3]} << 24);
    }
    return std::bit_cast<float>(bits);
}

// Signed 16-bit words to floats scaled by `scale`. Kept as two plain loops so
// the compiler vectorises each of them.
void convertWords(const std::uint8_t* src, float* dst, std::size_t count, bool swap, float scale)
{
    if (swap) {
        for (std::size_t i = 0; i < count; ++i) {
            const auto word = static_cast<std::uint16_t>((src[2 * i] << 8) | src[2 * i + 1]);
            dst[i] = static_cast<float>(static_cast<std::int16_t>(word)) * scale;
        }
    } else {
        for (std::size_t i = 0; i < count; ++i) {
            const auto word = static_cast<std::uint16_t>(src[2 * i] | (src[2 * i + 1] << 8));
            dst[i] = static_cast<float>(static_cast<std::int16_t>(word)) * scale;
        }
    }
}

// Makes `target` a copy of the first `length` elements of `source` (fewer
// when the source holds fewer; the rest stays zero). An absent source leaves
// the target absent, so a copied length never describes a stale buffer.
template <typename T>
void copyTrack(const TrackBuffer<T>& source, double length, TrackBuffer<T>& target)
{
    target.reset();
    if (!source.present()) {
        return;
    }
    const std::optional<std::size_t> count = sampleCountFor(length);
    if (!count || !target.allocate(*count)) {
        return;
    }
    const std::size_t copied = std::min(*count, source.size());
    if (copied > 0) {
        std::memcpy(target.data(), source.data(), copied * sizeof(T));
    }
}

} // namespace

bool Channels::readData(std::span<const std::uint8_t> data, double length, double location,
                        std::int32_t datasize, bool swap)
{
    m_hData.reset();
    const std::optional<std::size_t> count = sampleCountFor(length);
    if (!count || !m_hData.allocate(*count + kSlackFloats)) {
        m_hData.reset();
        return false;
    }

    std::int64_t width = 0;
    switch (datasize) {
    case 16:
    case 12:
        width = 2;
        break;
    case 32:
        width = 4;
        break;
    default:
        return false;
    }

    const std::optional<std::int64_t> offset = byteOffsetFor(location);
    if (!offset) {
        return true; // no bytes to take: every sample reads as 0
    }
    const ElementRange range = elementsInside(*offset, width, width,
                                              static_cast<std::int64_t>(data.size()), *count);
    const std::size_t taken = range.last - range.first;
    if (taken == 0) {
        return true;
    }
    const std::uint8_t* src = data.data() + range.firstByte;
    float* dst = m_hData.data() + range.first;

    if (datasize == 32) {
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(dst, src, taken * sizeof(float));
        } else {
            for (std::size_t i = 0; i < taken; ++i) {
                dst[i] = loadFloatLittleEndian(src + 4 * i);
            }
        }
    } else {
        const float scale = datasize == 16 ? 1.0f / 32768.0f : 1.0f / 2048.0f;
        convertWords(src, dst, taken, swap, scale);
    }
    return true;
}

bool Channels::readDataUSB2(std::span<const std::uint8_t> data, double length,
                            std::int32_t numofchannels, std::int32_t whichchannel,
                            std::int32_t from)
{
    m_hData.reset();
    // A frame needs at least one float, and the channel must be one of its
    // slots: anything else would pick samples of other channels or frames.
    if (numofchannels <= 0 || whichchannel < 0 || whichchannel >= numofchannels) {
        return false;
    }
    const std::optional<std::size_t> count = sampleCountFor(length);
    if (!count || !m_hData.allocate(*count + kSlackFloats)) {
        m_hData.reset();
        return false;
    }

    // The interleaved part ends five bytes before the end of the block.
    const auto end = static_cast<std::int64_t>(data.size()) - 5;
    const std::int64_t stride = std::int64_t{4} * numofchannels;
    const std::int64_t offset = std::int64_t{from} + std::int64_t{4} * whichchannel;
    const ElementRange range = elementsInside(offset, stride, 4, end, *count);

    float* dst = m_hData.data();
    std::size_t byte = range.firstByte;
    const auto step = static_cast<std::size_t>(stride);
    for (std::size_t i = range.first; i < range.last; ++i, byte += step) {
        dst[i] = loadFloatLittleEndian(data.data() + byte);
    }
    return range.last > range.first;
}

bool Channels::setData(const float* values, double length)
{
    m_hData.reset();
    const std::optional<std::size_t> count = sampleCountFor(length);
    if (!count || (values == nullptr && *count > 0) || !m_hData.allocate(*count + kSlackFloats)) {
        m_hData.reset();
        return false;
    }
    if (*count > 0) {
        std::memcpy(m_hData.data(), values, *count * sizeof(float));
    }
    return true;
}

void Channels::Duplicate(const Channels& source)
{
    if (&source == this) {
        return; // freeing our own buffer first would lose the samples
    }

    m_nChannelType = source.m_nChannelType;
    m_nChannelsinFile = source.m_nChannelsinFile;

    copyTrack(source.m_hData, source.m_dwFileLength, m_hData);

    m_dLengthMS = source.m_dLengthMS;
    m_dSampleRate = source.m_dSampleRate;
    m_dwFileLength = source.m_dwFileLength;
    m_nResolutionBits = source.m_nResolutionBits;
    m_nDataType = source.m_nDataType;
    m_rLocation = source.m_rLocation;
    m_nHeigth = source.m_nHeigth;
    m_strTitle = source.m_strTitle;
    m_nOrder = source.m_nOrder;
    m_bAnchorChannel = source.m_bAnchorChannel;
    m_bShow = source.m_bShow;
    m_nColorRed = source.m_nColorRed;
    m_nColorGreen = source.m_nColorGreen;
    m_nColorBlue = source.m_nColorBlue;
    m_strUnit = source.m_strUnit;
    m_dGain = source.m_dGain;
    m_dFilterRate = source.m_dFilterRate;
    m_dReference = source.m_dReference;
    m_bDrawReference = source.m_bDrawReference;
    m_dADInputVoltageRangeMV = source.m_dADInputVoltageRangeMV;
    m_dMaxRangeBits = source.m_dMaxRangeBits;
    m_dA3Cal = source.m_dA3Cal;
    m_dB2Cal = source.m_dB2Cal;
    m_dC1Cal = source.m_dC1Cal;
    m_dD0Cal = source.m_dD0Cal;
    // m_bApplyCalibration keeps this channel's value.
    m_dPageMin = source.m_dPageMin;
    m_dPageMax = source.m_dPageMax;
    m_dPageSize = source.m_dPageSize;
    m_dPageTimeMin = source.m_dPageTimeMin;
    m_dPageTimeMax = source.m_dPageTimeMax;
    m_dPageTimeSize = source.m_dPageTimeSize;
    m_ptOldCursorLoc = source.m_ptOldCursorLoc;
    m_ptNewCursorLoc = source.m_ptNewCursorLoc;
    m_dCursorDataValue = source.m_dCursorDataValue;
    m_dMarkerDataValue = source.m_dMarkerDataValue;
    m_dCursorFileValue = source.m_dCursorFileValue;
    m_dMarkerFileValue = source.m_dMarkerFileValue;
    m_dCursorTime = source.m_dCursorTime;
    m_dMarkerTime = source.m_dMarkerTime;
    m_dDurationStartTime = source.m_dDurationStartTime;
    m_dDurationStopTime = source.m_dDurationStopTime;
    m_dDurationStartFile = source.m_dDurationStartFile;
    m_dDurationStopFile = source.m_dDurationStopFile;
    m_dDurationTime = source.m_dDurationTime;
    m_dDurationFile = source.m_dDurationFile;
    m_dMinUnZoom = source.m_dMinUnZoom;
    m_dMaxUnZoom = source.m_dMaxUnZoom;

    m_pArrayLabels.clear();
    m_pArrayLabels.reserve(source.m_pArrayLabels.size());
    for (const Labels& label : source.m_pArrayLabels) {
        Labels copy;
        copy.Duplicate(label);
        m_pArrayLabels.push_back(std::move(copy));
    }
    m_nLabelCount = static_cast<std::int32_t>(m_pArrayLabels.size());

    copyTrack(source.m_hfDataIntensity, source.m_dIntensityFileLength, m_hfDataIntensity);
    m_dIntensityFileLength = source.m_dIntensityFileLength;
    m_dIntensityWindowLengthMS = source.m_dIntensityWindowLengthMS;
    m_dIntensityStepSizeMS = source.m_dIntensityStepSizeMS;
    m_dIntensityMax = source.m_dIntensityMax;
    m_dIntensityMin = source.m_dIntensityMin;
    m_bIntensityRelative = source.m_bIntensityRelative;
    m_bHaveIntensity = source.m_bHaveIntensity;
    m_bDrawIntensity = source.m_bDrawIntensity;
    m_dSmoothNumOfPoints = source.m_dSmoothNumOfPoints;
    m_bSmoothDo = source.m_bSmoothDo;

    copyTrack(source.m_hfDataPitch, source.m_nPitchFileLength, m_hfDataPitch);
    m_nPitchFileLength = source.m_nPitchFileLength;
    m_bHavePitch = source.m_bHavePitch;

    copyTrack(source.m_hdDataVelocity, source.m_dVelocityFileLength, m_hdDataVelocity);
    m_dVelocityFileLength = source.m_dVelocityFileLength;
    m_dVelocityMax = source.m_dVelocityMax;
    m_dVelocityMin = source.m_dVelocityMin;
    m_bHaveVelocity = source.m_bHaveVelocity;
    m_bDrawVelocity = source.m_bDrawVelocity;
    m_nVelocityColorRed = source.m_nVelocityColorRed;
    m_nVelocityColorGreen = source.m_nVelocityColorGreen;
    m_nVelocityColorBlue = source.m_nVelocityColorBlue;
    m_dVelocitySmoothingWindow = source.m_dVelocitySmoothingWindow;

    // The acceleration draw flag keeps this channel's value.
    copyTrack(source.m_hdDataAcceleration, source.m_dAccelerationFileLength, m_hdDataAcceleration);
    m_dAccelerationFileLength = source.m_dAccelerationFileLength;
    m_dAccelerationMax = source.m_dAccelerationMax;
    m_dAccelerationMin = source.m_dAccelerationMin;
    m_bHaveAcceleration = source.m_bHaveAcceleration;
    m_nAccelerationColorRed = source.m_nAccelerationColorRed;
    m_nAccelerationColorGreen = source.m_nAccelerationColorGreen;
    m_nAccelerationColorBlue = source.m_nAccelerationColorBlue;
    m_dAccelerationSmoothingWindow = source.m_dAccelerationSmoothingWindow;

    m_dPositionEstimationWindow = source.m_dPositionEstimationWindow;
    m_dVelocityEstimationWindow = source.m_dVelocityEstimationWindow;
    m_dAccelerationEstimationWindow = source.m_dAccelerationEstimationWindow;
}

void Channels::CalculateDuration()
{
    if (m_dCursorTime > m_dMarkerTime) {
        m_dDurationStartTime = m_dMarkerTime;
        m_dDurationStartFile = m_dMarkerFileValue;
        m_dDurationStopTime = m_dCursorTime;
        m_dDurationStopFile = m_dCursorFileValue;
    } else {
        m_dDurationStartTime = m_dCursorTime;
        m_dDurationStartFile = m_dCursorFileValue;
        if (m_dMarkerTime > m_dCursorTime) {
            m_dDurationStopTime = m_dMarkerTime;
            m_dDurationStopFile = m_dMarkerFileValue;
        } else {
            m_dDurationStopTime = m_dCursorTime;
            m_dDurationStopFile = m_dCursorFileValue;
        }
    }
    m_dDurationTime = m_dDurationStopTime - m_dDurationStartTime;
    m_dDurationFile = m_dDurationStopFile - m_dDurationStartFile;
}

void Channels::setPlainReadState(double length, double rateHz)
{
    m_dPageMin = 0.0;
    m_dPageMax = length;
    m_dPageSize = length;
    m_dMinUnZoom = 0.0;
    m_dMaxUnZoom = length;
    m_dReference = 0.0;
    m_dA3Cal = 0.0;
    m_dB2Cal = 0.0;
    m_dC1Cal = 1.0;
    m_dD0Cal = 0.0;
    m_dADInputVoltageRangeMV = 1.0;
    m_dMaxRangeBits = 1.0;
    m_dGain = 1.0;
    m_dFilterRate = rateHz / 2.0;
}

std::span<const float> Channels::samples() const
{
    if (!m_hData.present()) {
        return {};
    }
    return m_hData.span().first(truncWithin(m_dwFileLength, m_hData.size()));
}

} // namespace phonaxis
