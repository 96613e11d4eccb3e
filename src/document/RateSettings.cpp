#include "document/RateSettings.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace phonaxis {

namespace {
// The spectrum window's LPC order is bounded; the spectrogram's is not.
constexpr std::int32_t kMaxSpectrumLpcOrder = 400;
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

RateSettings rateSettingsFor(double rateHz)
{
    RateSettings settings;
    settings.frequencyRange =
        truncSaturated(static_cast<double>(truncSaturated(rateHz) / 2000) * 1000.0);
    settings.spectrogramRange = std::min(settings.frequencyRange, kSpectrogramDefaultRangeHz);
    settings.appliedWindow = truncSaturated(256000.0 / rateHz);
    const std::int64_t order = std::int64_t{truncSaturated(rateHz / 1000.0)} + 4;
    settings.specLpcOrder = truncSaturated(static_cast<double>(order - order % 2));
    settings.lpcOrder = std::min(settings.specLpcOrder, kMaxSpectrumLpcOrder);
    return settings;
}

} // namespace phonaxis
