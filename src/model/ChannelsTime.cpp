// Time axis, cursor, marker, selection, reference and calibration of a
// channel: the mapping between ms, sample positions and strip pixels.

#include "model/Channels.h"
#include "model/Functions.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace phonaxis {

namespace {

// `value` limited to [0, upper]; NaN (a zero-length page or strip, or an
// empty channel) counts as below the range.
double clampToRange(double value, double upper)
{
    if (!(value > 0.0)) {
        return 0.0;
    }
    return value > upper ? upper : value;
}

} // namespace

// --- page and pixels -----------------------------------------------------

void Channels::GetPageMinMaxTimes(double& pageStartMs, double& pageEndMs)
{
    const double perSample = msPerSample();
    pageStartMs = m_dPageMin * perSample;
    pageEndMs = m_dPageMax * perSample;
    m_dPageTimeMin = pageStartMs;
    m_dPageTimeMax = pageEndMs;
    m_dPageTimeSize = pageEndMs - pageStartMs;
}

double Channels::GetCursorPixelforTime(double timeMs)
{
    double start = 0.0;
    double end = 0.0;
    GetPageMinMaxTimes(start, end);
    return (timeMs - start) * stripWidth() / (end - start);
}

void Channels::GetRect(Rect& out, double timeMs)
{
    double start = 0.0;
    double end = 0.0;
    GetPageMinMaxTimes(start, end);
    out.top = m_rLocation.top;
    out.bottom = m_rLocation.bottom;
    // Strictly inside the page only: a cursor at either page edge is not drawn.
    if (start < timeMs && timeMs < end) {
        const double offset = std::trunc(std::fabs(timeMs - start) * stripWidth() / (end - start));
        out.left = truncToInt16(m_rLocation.left + offset);
        out.right = truncToInt16(double(out.left) + 1.0);
    } else {
        out.left = -1;
        out.right = -1;
    }
}

Rect Channels::GetSelectionRect()
{
    double start = 0.0;
    double end = 0.0;
    GetPageMinMaxTimes(start, end);
    const double pixelsPerMs = stripWidth() / (end - start);

    // Selection edges off the page are clipped to the strip's sides.
    const auto edgeFor = [&](double timeMs) -> std::int16_t {
        if (start >= timeMs) {
            return m_rLocation.left;
        }
        if (timeMs >= end) {
            return m_rLocation.right;
        }
        return truncToInt16(m_rLocation.left +
                                std::trunc(std::fabs(timeMs - start) * pixelsPerMs));
    };
    const std::int16_t startEdge = edgeFor(m_dDurationStartTime);
    const std::int16_t stopEdge = edgeFor(m_dDurationStopTime);

    Rect rect;
    rect.top = m_rLocation.top;
    rect.bottom = m_rLocation.bottom;
    rect.left = std::min(startEdge, stopEdge);
    rect.right = std::max(startEdge, stopEdge);
    return rect;
}

// --- point / position / time ---------------------------------------------

double Channels::clampedPositionForPoint(PointD point) const
{
    const double position = (m_dPageMax - m_dPageMin) / stripWidth() * point.x + m_dPageMin;
    return clampToRange(position, m_dwFileLength);
}

double Channels::clampedTimeForPosition(double position) const
{
    return clampToRange(msPerSample() * position, m_dLengthMS);
}

bool Channels::storedValueAtIndex(double position, double& value) const
{
    if (!m_hData.present()) {
        return false;
    }
    // Only samples that exist are read: the index is limited both to the
    // channel's length and to what the buffer holds.
    const double length = std::min(m_dwFileLength, static_cast<double>(m_hData.size()));
    if (!(length >= 1.0)) {
        return false;
    }
    const double lastIndex = std::floor(length) - 1.0;
    const double index = position > 0.0 ? std::min(std::trunc(position), lastIndex) : 0.0;
    value = m_hData[static_cast<std::size_t>(index)];
    return true;
}

void Channels::SetCursorInFile_Point(PointD point)
{
    m_ptNewCursorLoc = point;
    m_dCursorFileValue = clampedPositionForPoint(point);
    m_dCursorTime = clampedTimeForPosition(m_dCursorFileValue);
}

void Channels::SetCursorInFile_Time(double timeMs)
{
    m_dCursorFileValue = clampToRange(m_dwFileLength / m_dLengthMS * timeMs, m_dwFileLength);
    m_dCursorTime = clampToRange(timeMs, m_dLengthMS);
}

double Channels::GetCursorTime(PointD point) const
{
    return clampedTimeForPosition(clampedPositionForPoint(point));
}

// --- stored values --------------------------------------------------------

// The time-taking readers convert the time to an index without clamping the
// time itself; storedValueAtIndex then keeps the index inside the samples, so
// a time before the start reads the first sample and one past the end the last.

double Channels::GetCursorValue_Time(double timeMs)
{
    storedValueAtIndex(timeMs * (m_dwFileLength / m_dLengthMS), m_dCursorDataValue);
    return m_dCursorDataValue;
}

double Channels::GetCursorValue_Point(PointD point)
{
    storedValueAtIndex(clampedPositionForPoint(point), m_dCursorDataValue);
    return m_dCursorDataValue;
}

double Channels::GetRawValue(double timeMs) const
{
    double value = 0.0;
    storedValueAtIndex(timeMs * (m_dwFileLength / m_dLengthMS), value);
    return value;
}

// --- marker ------------------------------------------------------------------

void Channels::SetMarkerValues_Point(PointD point)
{
    m_dMarkerFileValue = clampedPositionForPoint(point);
    m_dMarkerTime = clampedTimeForPosition(m_dMarkerFileValue);
    storedValueAtIndex(m_dMarkerFileValue, m_dMarkerDataValue);

    m_dDurationStartTime = m_dDurationStopTime = m_dMarkerTime;
    m_dDurationStartFile = m_dDurationStopFile = m_dMarkerFileValue;
    m_dDurationTime = 0.0;
    m_dDurationFile = 0.0;
}

void Channels::SetMarkerValues_Time(double timeMs)
{
    m_dMarkerFileValue = clampToRange(m_dwFileLength / m_dLengthMS * timeMs, m_dwFileLength);
    m_dMarkerTime = clampToRange(timeMs, m_dLengthMS);
    storedValueAtIndex(m_dMarkerFileValue, m_dMarkerDataValue);

    m_dDurationStartTime = m_dDurationStopTime = m_dMarkerTime;
    m_dDurationStartFile = m_dDurationStopFile = m_dMarkerFileValue;
    m_dDurationTime = 0.0;
    m_dDurationFile = 0.0;
}

// --- reference and calibration ---------------------------------------------

double Channels::SetRefrenceValue_Point(PointD point)
{
    storedValueAtIndex(clampedPositionForPoint(point), m_dReference);
    return m_dReference;
}

double Channels::SetRefrenceValue_Time(double timeMs)
{
    storedValueAtIndex(timeMs * (m_dwFileLength / m_dLengthMS), m_dReference);
    return m_dReference;
}

double Channels::CalibrateNew(double storedValue) const
{
    const double d = storedValue - m_dReference;
    const double y = ((m_dA3Cal * std::pow(d, 3.0) + m_dB2Cal * (d * d)) + m_dC1Cal * d) + m_dD0Cal;
    return y / m_dGain;
}

float Channels::calibratedValueAt(double timeMs)
{
    return static_cast<float>(CalibrateNew(GetCursorValue_Time(timeMs)));
}

} // namespace phonaxis
