// Tracks derived from a channel's samples: intensity, smoothing, velocity and
// acceleration, and the DC level with the DC-removed signal that EGG cycle
// detection works on.

#include "model/Channels.h"

#include "analysis/CMathFunc.h"
#include "model/Functions.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <new>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace phonaxis {

namespace {

// Samples a computation may read: the channel's length limited to what its
// buffer holds; 0 without a buffer.
std::size_t usableSamples(const Channels& channel)
{
    return channel.m_hData.present() ? truncWithin(channel.m_dwFileLength, channel.m_hData.size())
                                     : 0;
}

// Running sum of `count` consecutive values starting at `first`, moved one
// value on by advance(). It is recomputed from scratch every kResumEvery
// steps so rounding cannot build up over a long channel. The caller keeps
// every window it advances to inside the buffer.
template <typename T>
class SlidingSum {
public:
    SlidingSum(const T* values, std::size_t first, std::size_t count)
        : m_values(values), m_first(first), m_count(count)
    {
        resum();
    }

    double value() const { return m_sum; }

    void advance()
    {
        m_sum += static_cast<double>(m_values[m_first + m_count]) -
                 static_cast<double>(m_values[m_first]);
        ++m_first;
        if (++m_steps % kResumEvery == 0) {
            resum();
        }
    }

private:
    static constexpr std::size_t kResumEvery = 1024;

    void resum()
    {
        m_sum = 0.0;
        for (std::size_t k = m_first; k < m_first + m_count; ++k) {
            m_sum += static_cast<double>(m_values[k]);
        }
    }

    const T* m_values;
    std::size_t m_first;
    std::size_t m_count;
    std::size_t m_steps = 0;
    double m_sum = 0.0;
};

template <typename T>
double meanOf(const T* values, std::size_t count)
{
    double sum = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        sum += static_cast<double>(values[i]);
    }
    return count > 0 ? sum / static_cast<double>(count) : 0.0;
}

// out[i - 1] := (x[i] - x[i - 1]) × rate, the last value repeated. False
// when `progress` asked to stop.
template <typename T>
bool differencesPerSecond(const T* x, std::span<double> out, double rateHz,
                          const WorkProgress& progress)
{
    const std::size_t n = out.size();
    if (n < 2) {
        return true; // a single value has no neighbour: it stays 0
    }
    ProgressPacer pacer(progress, n);
    for (std::size_t i = 1; i < n; ++i) {
        if (!pacer.at(i)) {
            return false;
        }
        out[i - 1] = (static_cast<double>(x[i]) - static_cast<double>(x[i - 1])) * rateHz;
    }
    out[n - 1] = out[n - 2];
    return true;
}

// Forward moving average in place: values[i] := mean of values[k] for the
// integers i <= k < i + window, divided by `window` itself, for every
// i < trunc(n - window); every later index takes the last mean. Each mean
// reads only values at or after i, which are still the originals. A window
// that leaves no whole average gives every index the mean of all values.
// False when `progress` asked to stop.
bool forwardAverage(std::span<double> values, double window, const WorkProgress& progress)
{
    const std::size_t n = values.size();
    if (!(window > 0.0) || n == 0) {
        return true;
    }
    const std::size_t averaged = truncWithin(static_cast<double>(n) - window, n);
    if (averaged == 0) {
        std::fill(values.begin(), values.end(), meanOf(values.data(), n));
        return true;
    }
    // averaged >= 1 implies window <= n - 1, so i + count stays below n.
    const auto count = static_cast<std::size_t>(std::ceil(window));
    SlidingSum<double> sum(values.data(), 0, count);
    ProgressPacer pacer(progress, averaged);
    double mean = 0.0;
    for (std::size_t i = 0; i < averaged; ++i) {
        if (!pacer.at(i)) {
            return false;
        }
        mean = sum.value() / window;
        if (i + 1 < averaged) {
            sum.advance(); // reads values[i] before it is replaced
        }
        values[i] = mean;
    }
    std::fill(values.begin() + static_cast<std::ptrdiff_t>(averaged), values.end(), mean);
    return true;
}

// The stored range of a velocity or acceleration track: it starts at
// [0, -0.0] so it always includes 0, and skips the last two values.
void scanTrackRange(std::span<const double> values, double& minOut, double& maxOut)
{
    double maximum = -0.0;
    double minimum = 0.0;
    for (std::size_t i = 0; i + 2 < values.size(); ++i) {
        if (values[i] >= maximum) {
            maximum = values[i];
        } else if (values[i] < minimum) {
            minimum = values[i];
        }
    }
    minOut = minimum;
    maxOut = maximum;
}

// Index into a track of `trackLength` values (limited to what the buffer
// holds) for a sample position; false when the track holds nothing.
bool trackIndex(double position, double trackLength, std::size_t bufferSize, std::size_t& index)
{
    const std::size_t length = truncWithin(trackLength, bufferSize);
    if (length == 0) {
        return false;
    }
    index = truncWithin(position, length - 1);
    return true;
}

} // namespace

// --- intensity ----------------------------------------------------------------

std::optional<IntensityTrack> Channels::ComputeIntensity(const WorkProgress& progress) const
{
    IntensityTrack result;
    result.minimum = 1e34;
    result.maximum = -1e34;
    result.fileLength = m_dwFileLength;
    const std::size_t n = usableSamples(*this);
    if (n == 0) {
        return result; // present without a buffer: readers give 0
    }
    if (!result.values.allocate(n + kSlackFloats)) {
        return std::nullopt;
    }
    // Frames lie wholly inside the channel, a step apart, and hold the
    // window rounded to whole samples, so that a frame's level is the mean
    // square over the samples it sums (the level intensityDbfsAt gives at
    // the frame's start). A window too long for that measures nothing, and
    // is cut to the longest that leaves one frame, so that the track holds
    // the level of the channel as a whole.
    const double step = m_dIntensityStepSizeMS * m_dSampleRate / 1000.0;
    double window = intensityWindowSamples();
    const double samples = static_cast<double>(n);
    if (step > 0.0 && samples - step >= 1.0 && !((samples - window) / step >= 1.0)) {
        // Whole samples, and one fewer where (n − window)/step still rounds
        // below one frame (a step of 44.1 samples leaves 0.99999… of one).
        window = std::floor(samples - step);
        while (window > 1.0 && !((samples - window) / step >= 1.0)) {
            window -= 1.0;
        }
    }
    const std::span<float> values = result.values.span();
    if (!(step > 0.0 && (samples - window) / step >= 1.0)) {
        // No frame fits (a channel shorter than a step, or no usable step):
        // the track is the level of the whole channel. A zero-filled track
        // would read full scale.
        const std::span<const float> all(m_hData.data(), n);
        double level = CMathFunc::IntensityLevelDb(all, m_dReference);
        if (m_bIntensityRelative && level > CMathFunc::kIntensityFloorDb) {
            level = 0.0; // its own quietest frame
        }
        std::fill(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(n),
                  static_cast<float>(level));
        result.minimum = level;
        result.maximum = level;
        return result;
    }
    if (!CMathFunc::DoIntensityFloat(std::span<const float>(m_hData.data(), n), values,
                                     result.minimum, result.maximum, m_dReference, 0.0, window,
                                     step, result.fileLength, m_bIntensityRelative ? 1 : 0, 0,
                                     progress)) {
        return std::nullopt;
    }
    return result;
}

void Channels::SetIntensity(IntensityTrack track)
{
    m_hfDataIntensity = std::move(track.values);
    m_dIntensityMin = track.minimum;
    m_dIntensityMax = track.maximum;
    m_dIntensityFileLength = track.fileLength;
    m_bHaveIntensity = true;
}

bool Channels::CalculateIntensity()
{
    // The old track goes first, so that the two are never held at once.
    m_hfDataIntensity.reset();
    m_bHaveIntensity = false;
    m_dIntensityMax = -1e34;
    m_dIntensityMin = 1e34;
    m_dIntensityFileLength = m_dwFileLength;
    std::optional<IntensityTrack> track = ComputeIntensity();
    if (!track) {
        return false;
    }
    SetIntensity(std::move(*track));
    return true;
}

double Channels::GetIntensityCursorValue(double timeMs) const
{
    std::size_t index = 0;
    if (!m_bHaveIntensity || !m_hfDataIntensity.present() ||
        !trackIndex(timeMs * m_dIntensityFileLength / m_dLengthMS, m_dIntensityFileLength,
                    m_hfDataIntensity.size(), index)) {
        return 0.0;
    }
    return m_hfDataIntensity[index];
}

double Channels::intensityWindowSamples() const
{
    const double window = std::floor(m_dIntensityWindowLengthMS * m_dSampleRate / 1000.0 + 0.5);
    return window >= 1.0 ? window : 1.0;
}

double Channels::intensityDbfsAt(double timeMs) const
{
    const std::size_t n = usableSamples(*this);
    if (n == 0) {
        return CMathFunc::kIntensityFloorDb;
    }
    // A time within a millionth of a sample of a sample's time is that
    // sample's: frame times made by adding up steps in ms land on the
    // sample they name, not the one before.
    const double position = timeMs * m_dSampleRate / 1000.0;
    const double nearest = std::round(position);
    const double start = std::abs(position - nearest) < 1e-6 ? nearest : std::floor(position);
    const std::size_t first = truncWithin(start, n - 1);
    const std::size_t count = std::min(truncWithin(intensityWindowSamples(), n), n - first);
    return CMathFunc::IntensityLevelDb(std::span<const float>(m_hData.data() + first, count),
                                       m_dReference);
}

std::optional<IntensityPaneScale> intensityPaneScale(double minimumDb, double maximumDb)
{
    if (!(maximumDb > CMathFunc::kIntensityFloorDb) || !std::isfinite(maximumDb)) {
        return std::nullopt;
    }
    const double low = std::isfinite(minimumDb) && minimumDb > CMathFunc::kIntensityFloorDb
                           ? std::min(minimumDb, maximumDb)
                           : maximumDb;
    IntensityPaneScale scale;
    scale.highDb = std::ceil(maximumDb / IntensityPaneScale::kGridDb) * IntensityPaneScale::kGridDb;
    scale.lowDb = std::floor(low / IntensityPaneScale::kGridDb) * IntensityPaneScale::kGridDb;
    scale.lowDb = std::clamp(scale.lowDb, scale.highDb - IntensityPaneScale::kLargestSpanDb,
                             scale.highDb - IntensityPaneScale::kGridDb);
    // + 0.0 makes a −0 (the ceiling of a level just below 0 dB) a 0 to write.
    scale.lowDb += 0.0;
    scale.highDb += 0.0;
    return scale;
}

// --- smoothing ---------------------------------------------------------------

bool Channels::CalculateSmooth()
{
    const std::size_t n = usableSamples(*this);
    if (!m_bSmoothDo || n == 0) {
        return false;
    }
    const std::size_t width = truncWithin(m_dSmoothNumOfPoints, n) | 1U;
    const std::size_t half = width / 2;
    // The head and tail fills read t[half + 1] and t[n - width - 5]: both exist
    // only when five samples are left beyond the window.
    if (n < width + 5) {
        return false;
    }

    std::vector<float> smoothed;
    try {
        smoothed.resize(n);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const float* x = m_hData.data();
    SlidingSum<float> sum(x, 0, width);
    for (std::size_t i = half; i < n - half - 1; ++i) {
        smoothed[i] = static_cast<float>(sum.value() / static_cast<double>(width));
        if (i + 1 < n - half - 1) {
            sum.advance();
        }
    }
    std::fill(smoothed.begin(), smoothed.begin() + static_cast<std::ptrdiff_t>(half + 1),
              smoothed[half + 1]);
    const float tail = smoothed[n - width - 5];
    std::fill(smoothed.begin() + static_cast<std::ptrdiff_t>(n - width - 2), smoothed.end(), tail);
    std::copy(smoothed.begin(), smoothed.end(), m_hData.data());
    return true;
}

// --- velocity and acceleration ---------------------------------------------

bool Channels::CalculateVelocity(double windowMs, const WorkProgress& progress)
{
    m_hdDataVelocity.reset();
    m_dVelocityFileLength = m_dwFileLength;
    m_bHaveVelocity = false;
    m_dVelocityMax = -0.0;
    m_dVelocityMin = 0.0;

    const std::size_t n = usableSamples(*this);
    DoubleTrack track;
    if (!track.allocate(n)) {
        return false;
    }
    const WorkProgress differences = progress.part(0.0, 0.5);
    const WorkProgress averages = progress.part(0.5, 1.0);
    if (!differencesPerSecond(m_hData.data(), track.span(), m_dSampleRate, differences) ||
        (windowMs > 0.0 &&
         !forwardAverage(track.span(), windowMs / 1000.0 * m_dSampleRate, averages))) {
        return false;
    }
    scanTrackRange(track.span(), m_dVelocityMin, m_dVelocityMax);
    m_hdDataVelocity = std::move(track);
    m_bHaveVelocity = true;
    return true;
}

bool Channels::CalculateAcceleration(double velocityWindowMs, double accelerationWindowMs,
                                     const WorkProgress& progress)
{
    m_hdDataAcceleration.reset();
    m_dAccelerationFileLength = 0.0;
    m_bHaveAcceleration = false;
    m_dAccelerationMax = -0.0;
    m_dAccelerationMin = 0.0;

    const WorkProgress velocity = progress.part(0.0, 0.5);
    if (!CalculateVelocity(velocityWindowMs, velocity)) {
        return false;
    }
    m_dAccelerationFileLength = m_dwFileLength;
    DoubleTrack track;
    if (!track.allocate(m_hdDataVelocity.size())) {
        return false;
    }
    const WorkProgress differences = progress.part(0.5, 0.75);
    const WorkProgress averages = progress.part(0.75, 1.0);
    if (!differencesPerSecond(m_hdDataVelocity.data(), track.span(), m_dSampleRate, differences) ||
        (accelerationWindowMs > 0.0 &&
         !forwardAverage(track.span(), accelerationWindowMs / 1000.0 * m_dSampleRate, averages))) {
        m_dAccelerationFileLength = 0.0;
        return false;
    }
    scanTrackRange(track.span(), m_dAccelerationMin, m_dAccelerationMax);
    m_hdDataAcceleration = std::move(track);
    m_bHaveAcceleration = true;
    return true;
}

double Channels::GetVelocityCursorValue_Time(double timeMs)
{
    std::size_t index = 0;
    if (m_hdDataVelocity.present() &&
        trackIndex(timeMs * m_dVelocityFileLength / m_dLengthMS, m_dVelocityFileLength,
                   m_hdDataVelocity.size(), index)) {
        m_dVelocityCursorValue = m_hdDataVelocity[index];
    }
    return m_dVelocityCursorValue;
}

double Channels::GetAccelerationCursorValue_Time(double timeMs)
{
    std::size_t index = 0;
    if (m_hdDataAcceleration.present() &&
        trackIndex(timeMs * m_dAccelerationFileLength / m_dLengthMS, m_dAccelerationFileLength,
                   m_hdDataAcceleration.size(), index)) {
        m_dAccelerationCursorValue = m_hdDataAcceleration[index];
    }
    return m_dAccelerationCursorValue;
}

double Channels::GetVelocityCursorValue_Point(PointD point)
{
    std::size_t index = 0;
    if (!m_bHaveVelocity || !m_hdDataVelocity.present() ||
        !trackIndex(clampedPositionForPoint(point), m_dVelocityFileLength,
                    m_hdDataVelocity.size(), index)) {
        return 0.0;
    }
    m_dVelocityCursorValue = m_hdDataVelocity[index];
    return m_dVelocityCursorValue;
}

double Channels::GetAccelerationCursorValue_Point(PointD point)
{
    std::size_t index = 0;
    if (!m_bHaveAcceleration || !m_hdDataAcceleration.present() ||
        !trackIndex(clampedPositionForPoint(point), m_dAccelerationFileLength,
                    m_hdDataAcceleration.size(), index)) {
        return 0.0;
    }
    m_dAccelerationCursorValue = m_hdDataAcceleration[index];
    return m_dAccelerationCursorValue;
}

// --- DC level ----------------------------------------------------------------

bool Channels::GetDC_Shift(const WorkProgress& progress)
{
    const std::size_t n = usableSamples(*this);
    if (n == 0) {
        return false;
    }
    DoubleTrack shifted;
    DoubleTrack level;
    if (!shifted.allocate(n) || !level.allocate(n)) {
        return false;
    }
    const float* x = m_hData.data();

    const double rounded = std::trunc(m_dDCShiftWindowMS * m_dSampleRate / 1000.0 + 0.5);
    if (!(rounded >= 2.0)) {
        // Under two samples the window holds nothing to average: the level
        // stays 0 and the signal is copied unchanged.
    } else if (rounded + 5.0 > static_cast<double>(n)) {
        // The head and tail fills would reach outside the channel: the level
        // is the mean of the whole channel, the widest window it holds.
        const auto mean = static_cast<float>(meanOf(x, n));
        std::fill(level.span().begin(), level.span().end(), mean);
    } else {
        const auto width = static_cast<std::size_t>(rounded);
        const std::size_t half = width / 2;
        // 2·half samples summed, divided by the rounded window: for an odd
        // window the divisor is one more than the count.
        SlidingSum<float> sum(x, 0, 2 * half);
        ProgressPacer pacer(progress, n);
        for (std::size_t i = half; i < n - half; ++i) {
            if (!pacer.at(i)) {
                return false;
            }
            level[i] = static_cast<float>(sum.value() / rounded);
            if (i + 1 < n - half) {
                sum.advance();
            }
        }
        const double head = level[half + 1];
        std::fill(level.span().begin(), level.span().begin() + static_cast<std::ptrdiff_t>(half + 1),
                  head);
        const double tail = level[n - width - 5];
        std::fill(level.span().begin() + static_cast<std::ptrdiff_t>(n - width - 2),
                  level.span().end(), tail);
    }
    for (std::size_t j = 0; j < n; ++j) {
        shifted[j] = x[j] - static_cast<float>(level[j]);
    }
    m_hdDataSmoothedShifted = std::move(shifted);
    m_hdDataSmoothedDC = std::move(level);
    return true;
}

} // namespace phonaxis
