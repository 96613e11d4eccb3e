#include "windows/SpectrogramMarks.h"

#include <algorithm>
#include <cmath>

namespace phonaxis {

namespace {

double held(double value, double low, double high)
{
    return std::isfinite(value) ? std::clamp(value, low, std::max(low, high)) : low;
}

} // namespace

bool SpectrogramMarks::mouseDown(double timeMs, double frequencyHz, double startTime,
                                 double stopTime, double frequencyRangeHz)
{
    // Every press sets the marker, one that ends a selection too.
    clear();
    m_bHaveMarker = true;
    m_dLogMarkerTime = held(timeMs, startTime, stopTime);
    m_dLogFreqValue = held(frequencyHz, 0.0, frequencyRangeHz);
    m_dAnchorTime = m_dLogMarkerTime;
    return true;
}

void SpectrogramMarks::dragTo(double timeMs, double startTime, double stopTime)
{
    const double t = held(timeMs, startTime, stopTime);
    const double from = std::min(m_dAnchorTime, t);
    const double to = std::max(m_dAnchorTime, t);
    m_bHaveSelection = to > from;
    m_bHaveMarker = !m_bHaveSelection;
    m_dLogDurationStartTime = m_bHaveSelection ? from - startTime : 0.0;
    m_dLogDurationStopTime = m_bHaveSelection ? to - startTime : 0.0;
    m_dLogDurationTime = to - from;
    if (m_bHaveMarker) {
        m_dLogMarkerTime = m_dAnchorTime;
    }
}

int SpectrogramMarks::columnAt(double timeMs, double startTime, double stopTime, int columns)
{
    const double span = stopTime - startTime;
    if (columns <= 0 || !(span > 0.0)) {
        return 0;
    }
    const double at = (timeMs - startTime) * columns / span;
    if (!(at > 0.0)) {
        return 0;
    }
    return at >= columns ? columns - 1 : static_cast<int>(at);
}

} // namespace phonaxis
