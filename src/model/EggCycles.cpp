// EGG cycle detection on one channel: threshold crossings of the DC-removed
// signal, peaks and valleys between them, glottal cycles between valleys
// with their contact (P1) and de-contact (P2) instants, velocity extremes and
// four closed quotients.

#include "model/Channels.h"
#include "model/Functions.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace phonaxis {

namespace {

// A cycle rate in Hz between consecutive events, both bounds strict. A zero
// or negative interval gives an infinite or negative rate and fails.
bool plausibleCycle(double intervalMs)
{
    const double rateHz = 1000.0 / intervalMs;
    return 50.0 < rateHz && rateHz < 1000.0;
}

// First index in [from, to) of the maximum (starting from -1e-50) of
// values; false when no value beats that start.
bool firstMaximum(std::span<const double> values, std::size_t from, std::size_t to,
                  std::size_t& index)
{
    double maximum = -1e-50;
    bool found = false;
    for (std::size_t k = from; k < to; ++k) {
        if (values[k] > maximum) {
            maximum = values[k];
            index = k;
            found = true;
        }
    }
    return found;
}

// First index in [from, to) of the minimum (starting from 1e50).
bool firstMinimum(std::span<const double> values, std::size_t from, std::size_t to,
                  std::size_t& index)
{
    double minimum = 1e50;
    bool found = false;
    for (std::size_t k = from; k < to; ++k) {
        if (values[k] < minimum) {
            minimum = values[k];
            index = k;
            found = true;
        }
    }
    return found;
}

// The first interval over the sum of both, or 0 when either is not positive
// (a quotient that cannot be measured).
double quotient(double firstMs, double secondMs)
{
    if (firstMs > 0.0 && secondMs > 0.0) {
        return firstMs / (firstMs + secondMs);
    }
    return 0.0;
}

struct Detection {
    std::span<const float> x;     // stored samples
    std::span<const double> s;    // DC-removed signal
    std::span<const double> v;    // velocity track
    double msPerSample = 0.0;
    double velocityMsPerIndex = 0.0;

    ArrayData event(std::size_t index, double value) const
    {
        return {static_cast<double>(index), static_cast<double>(index) * msPerSample, value};
    }
};

// Pass 1: rising crossings of +T on s, each after a swing to -T or below.
// A search that runs to the end of the range records where it stopped, as
// long as a sample exists there.
std::optional<std::vector<ArrayData>> thresholdCrossings(const Detection& d, std::size_t a,
                                                         std::size_t b, double thresholdPerCent,
                                                         const WorkProgress& progress)
{
    const std::size_t n = d.s.size();
    double minimum = 1e50;
    double maximum = -1e-50;
    for (std::size_t k = a; k < b; ++k) {
        minimum = std::min(minimum, d.s[k]);
        maximum = std::max(maximum, d.s[k]);
    }
    const double threshold = (std::fabs(minimum) + std::fabs(maximum)) * thresholdPerCent / 100.0;

    std::vector<ArrayData> crossings;
    const auto record = [&](std::size_t index) {
        if (index < n) {
            crossings.push_back(d.event(index, d.s[index]));
        }
    };
    const auto riseFrom = [&](std::size_t index) {
        while (index < b && d.s[index] < threshold) {
            ++index;
        }
        return index;
    };

    std::size_t index = a;
    while (index < b && !(d.s[index] < threshold)) {
        ++index;
    }
    if (index >= b) {
        index = 0;
    }
    index = riseFrom(index);
    record(index);
    ProgressPacer pacer(progress, n);
    while (index < b) {
        if (!pacer.at(index)) {
            return std::nullopt;
        }
        // The swing search runs up to and including b, but never past the
        // last sample (b reaches n when the DC window is under two samples).
        while (index <= b && index < n && !(d.s[index] <= -threshold)) {
            ++index;
        }
        index = riseFrom(index + 1);
        record(index);
    }
    return crossings;
}

// Pass 3 for one pair of valleys: extremes, P1, P2 and velocity extremes.
ArrayCycle measureCycle(const Detection& d, const ArrayData& begin, const ArrayData& end,
                        double cycleThresholdPerCent)
{
    ArrayCycle c;
    c.dTimeBegin = begin.dTime;
    c.dValueBegin = begin.dValue;
    c.dFilePointBegin = begin.dFilePoint;
    c.dTimeEnd = end.dTime;
    c.dValueEnd = end.dValue;
    c.dFilePointEnd = end.dFilePoint;

    // Valleys are whole sample indices inside the channel.
    const auto first = static_cast<std::size_t>(begin.dFilePoint);
    const auto last = static_cast<std::size_t>(end.dFilePoint);

    std::size_t top = 0;
    if (firstMaximum(d.s, first, last, top)) {
        c.dTimeMax = static_cast<double>(top) * d.msPerSample;
        c.dValueMax = d.x[top];
        c.dFilePointMax = static_cast<double>(top);
    }
    const auto maxIndex = static_cast<std::size_t>(c.dFilePointMax);
    const double amplitude = (c.dValueMax - c.dValueBegin) * cycleThresholdPerCent / 100.0;

    for (std::size_t k = first; k < maxIndex; ++k) {
        if (d.x[k] >= c.dValueBegin + amplitude) {
            c.dTimeP1 = static_cast<double>(k) * d.msPerSample;
            c.dValueP1 = d.x[k];
            c.dFilePointP1 = static_cast<double>(k);
            break;
        }
    }
    for (std::size_t k = maxIndex; k < last; ++k) {
        if (d.x[k] <= c.dValueEnd + amplitude) {
            c.dTimeP2 = static_cast<double>(k) * d.msPerSample;
            c.dValueP2 = d.x[k];
            c.dFilePointP2 = static_cast<double>(k);
            break;
        }
    }

    std::size_t peak = 0;
    if (firstMaximum(d.v, first, last, peak)) {
        c.dPeakVelocityFilePoint = static_cast<double>(peak);
        c.dPeakVelocityValue = d.v[peak];
        c.dPeakVelocityTime = static_cast<double>(peak) * d.velocityMsPerIndex;
    }
    std::size_t trough = 0;
    if (firstMinimum(d.v, first, last, trough)) {
        c.dMinVelocityFilePoint = static_cast<double>(trough);
        c.dMinVelocityValue = d.v[trough];
        c.dMinVelocityTime = static_cast<double>(trough) * d.velocityMsPerIndex;
    }
    return c;
}

// The four closed quotients of `c` from its successor `next`.
void closedQuotients(const Detection& d, ArrayCycle& c, const ArrayCycle& next)
{
    c.dClosedQuotient = quotient(c.dTimeP2 - c.dTimeP1, next.dTimeP1 - c.dTimeP2);
    c.dClosedQuotientHB =
        quotient(c.dTimeP2 - c.dPeakVelocityTime, next.dPeakVelocityTime - c.dTimeP2);
    c.dClosedQuotientPM = quotient(c.dMinVelocityTime - c.dPeakVelocityTime,
                                   next.dPeakVelocityTime - c.dMinVelocityTime);

    // HT closes where the signal first drops below its level at the velocity
    // peak, from two samples after that peak to the cycle's end.
    const auto peak = static_cast<std::size_t>(c.dPeakVelocityFilePoint);
    const auto end = static_cast<std::size_t>(c.dFilePointEnd);
    for (std::size_t k = peak + 2; k < end; ++k) {
        if (d.s[k] < d.s[peak]) {
            const double t = static_cast<double>(k) * d.msPerSample;
            c.dClosedQuotientHT =
                quotient(t - c.dPeakVelocityTime, next.dPeakVelocityTime - t);
            break;
        }
    }
}

} // namespace

bool Channels::DoPositionCycleDetection(double startFile, double stopFile,
                                        const WorkProgress& progress)
{
    const std::size_t n =
        m_hData.present() ? truncWithin(m_dwFileLength, m_hData.size()) : 0;
    if (n == 0 || !m_hdDataVelocity.present() || m_hdDataVelocity.size() < n ||
        !(m_dVelocityFileLength > 0.0)) {
        return false;
    }
    if (!GetDC_Shift(progress.part(0.0, 0.4))) {
        return false;
    }

    Detection d;
    d.x = std::span<const float>(m_hData.data(), n);
    d.s = std::span<const double>(m_hdDataSmoothedShifted.data(), n);
    d.v = std::span<const double>(m_hdDataVelocity.data(), n);
    d.msPerSample = msPerSample();
    d.velocityMsPerIndex = m_dLengthMS / m_dVelocityFileLength;

    const std::size_t half =
        truncWithin(m_dSampleRate * m_dDCShiftWindowMS / 1000.0 + 0.5, 2 * n) / 2;
    const std::size_t from = truncWithin(startFile, n);
    const std::size_t to = truncWithin(stopFile, n);
    const std::size_t a = std::min(from + half, n);
    const std::size_t b = to > half ? to - half : 0;

    // Pass 1.
    const std::optional<std::vector<ArrayData>> found =
        thresholdCrossings(d, a, b, m_dThresholdLevelDetectPerCent, progress.part(0.4, 0.6));
    if (!found) {
        return false;
    }
    const std::vector<ArrayData>& crossings = *found;

    // Pass 2: the extremes of s between consecutive crossings; the events
    // carry the stored sample there.
    std::vector<ArrayData> peaks;
    std::vector<ArrayData> valleys;
    const WorkProgress extremes = progress.part(0.6, 0.75);
    ProgressPacer extremesPacer(extremes, n);
    for (std::size_t i = 0; i + 1 < crossings.size(); ++i) {
        const ArrayData& c = crossings[i];
        const ArrayData& e = crossings[i + 1];
        if (!extremesPacer.at(static_cast<std::size_t>(c.dFilePoint))) {
            return false;
        }
        if (!plausibleCycle(e.dTime - c.dTime) || !(c.dFilePoint < e.dFilePoint)) {
            continue;
        }
        const auto first = static_cast<std::size_t>(c.dFilePoint);
        const auto last = static_cast<std::size_t>(e.dFilePoint);
        std::size_t index = 0;
        if (firstMaximum(d.s, first, last, index)) {
            peaks.push_back(d.event(index, d.x[index]));
        }
        if (firstMinimum(d.s, first, last, index)) {
            valleys.push_back(d.event(index, d.x[index]));
        }
    }

    // Pass 3: cycles between consecutive valleys.
    std::vector<ArrayCycle> cycles;
    const WorkProgress measures = progress.part(0.75, 0.9);
    ProgressPacer measuresPacer(measures, n);
    for (std::size_t i = 0; i + 1 < valleys.size(); ++i) {
        if (!measuresPacer.at(static_cast<std::size_t>(valleys[i].dFilePoint))) {
            return false;
        }
        if (plausibleCycle(valleys[i + 1].dTime - valleys[i].dTime)) {
            cycles.push_back(measureCycle(d, valleys[i], valleys[i + 1], m_dCycleThresholdPerCent));
        }
    }
    const WorkProgress quotients = progress.part(0.9, 1.0);
    ProgressPacer quotientsPacer(quotients, n);
    for (std::size_t i = 0; i + 1 < cycles.size(); ++i) {
        if (!quotientsPacer.at(static_cast<std::size_t>(cycles[i].dFilePointBegin))) {
            return false;
        }
        closedQuotients(d, cycles[i], cycles[i + 1]);
    }

    m_pArrayPeak = std::move(peaks);
    m_pArrayValley = std::move(valleys);
    m_bHavePeak = !m_pArrayPeak.empty();
    m_bHaveValley = !m_pArrayValley.empty();
    m_pArrayCycle = std::move(cycles);
    m_bHaveCycle = true;
    return true;
}

namespace {

// What the EGG analysis replaces in a channel, moved out while it runs so
// that a failed or stopped analysis can put it back.
struct EggResults {
    DoubleTrack velocity;
    double velocityLength = 0.0;
    double velocityMax = 0.0;
    double velocityMin = 0.0;
    bool haveVelocity = false;
    DoubleTrack acceleration;
    double accelerationLength = 0.0;
    double accelerationMax = 0.0;
    double accelerationMin = 0.0;
    bool haveAcceleration = false;
    DoubleTrack shifted;
    DoubleTrack level;
    std::vector<ArrayData> peaks;
    bool havePeak = false;
    std::vector<ArrayData> valleys;
    bool haveValley = false;
    std::vector<ArrayCycle> cycles;
    bool haveCycle = false;

    // Exchanges these results with the channel's.
    void swapWith(Channels& c)
    {
        using std::swap;
        swap(velocity, c.m_hdDataVelocity);
        swap(velocityLength, c.m_dVelocityFileLength);
        swap(velocityMax, c.m_dVelocityMax);
        swap(velocityMin, c.m_dVelocityMin);
        swap(haveVelocity, c.m_bHaveVelocity);
        swap(acceleration, c.m_hdDataAcceleration);
        swap(accelerationLength, c.m_dAccelerationFileLength);
        swap(accelerationMax, c.m_dAccelerationMax);
        swap(accelerationMin, c.m_dAccelerationMin);
        swap(haveAcceleration, c.m_bHaveAcceleration);
        swap(shifted, c.m_hdDataSmoothedShifted);
        swap(level, c.m_hdDataSmoothedDC);
        swap(peaks, c.m_pArrayPeak);
        swap(havePeak, c.m_bHavePeak);
        swap(valleys, c.m_pArrayValley);
        swap(haveValley, c.m_bHaveValley);
        swap(cycles, c.m_pArrayCycle);
        swap(haveCycle, c.m_bHaveCycle);
    }
};

} // namespace

bool Channels::EggAnalysisAll(const WorkProgress& progress)
{
    EggResults before;
    before.swapWith(*this);
    if (CalculateAcceleration(m_dVelocitySmoothingWindow, m_dAccelerationSmoothingWindow,
                              progress.part(0.0, 0.45)) &&
        DoPositionCycleDetection(0.0, m_dwFileLength, progress.part(0.45, 1.0))) {
        return true;
    }
    before.swapWith(*this);
    return false;
}

void Channels::RemoveCyclesAll()
{
    m_pArrayCycle.clear();
    m_bHaveCycle = false;
}

} // namespace phonaxis
