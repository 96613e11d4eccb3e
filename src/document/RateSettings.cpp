#include "document/RateSettings.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace phonaxis {

namespace {
// The spectrum window's LPC order is at most 400; the spectrogram's only
// below its window.
constexpr std::int32_t kMaxSpectrumLpcOrder = 400;

// `order` held below a window of `samples` samples, rounded down to even;
// unchanged when the window holds no even order at all.
std::int32_t heldBelow(std::int32_t order, std::int64_t samples)
{
    const std::int32_t largest = largestLpcOrder(samples) / 2 * 2;
    return largest >= 2 ? std::min(order, largest) : order;
}
} // namespace

std::int32_t truncSaturated(double value)
{
    if (std::isnan(value)) {
        return 0;
    }
    constexpr double lo = std::numeric_limits<std::int32_t>::min();
    constexpr double hi = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::clamp(value, lo, hi));
}

RateSettings rateSettingsFor(double rateHz, std::int32_t fftLength, std::int32_t spectrogramLength)
{
    RateSettings settings;
    settings.frequencyRange =
        truncSaturated(static_cast<double>(truncSaturated(rateHz) / 2000) * 1000.0);
    settings.appliedWindow = truncSaturated(256000.0 / rateHz);
    const std::int64_t order = std::int64_t{truncSaturated(rateHz / 1000.0)} + 4;
    settings.specLpcOrder = truncSaturated(static_cast<double>(order - order % 2));
    settings.lpcOrder = std::min(settings.specLpcOrder, kMaxSpectrumLpcOrder);
    settings.lpcOrder = heldBelow(settings.lpcOrder,
                                  appliedWindowSamples(fftLength, settings.appliedWindow, rateHz));
    settings.specLpcOrder = heldBelow(settings.specLpcOrder, spectrogramLength);
    return settings;
}

std::int64_t appliedWindowSamples(std::int32_t fftLength, double appliedMs, double rateHz)
{
    const double applied = appliedMs * rateHz / 1000.0 + 0.5;
    if (!(applied >= 1.0) || fftLength <= 0) {
        return 0;
    }
    return static_cast<std::int64_t>(std::min(applied, static_cast<double>(fftLength)));
}

std::int32_t largestLpcOrder(std::int64_t samples)
{
    return samples > 1 ? static_cast<std::int32_t>(std::min<std::int64_t>(
                             samples - 1, std::numeric_limits<std::int32_t>::max()))
                       : 0;
}

} // namespace phonaxis
