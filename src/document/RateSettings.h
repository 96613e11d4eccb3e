#pragma once

#include <cstdint>

namespace phonaxis {

// trunc(value) as an int32, saturating at the int32 range instead of
// overflowing (absurd rates and sizes come from damaged files); NaN gives 0.
std::int32_t truncSaturated(double value);

// The document settings that follow the analysis sample rate r.
struct RateSettings {
    std::int32_t frequencyRange = 0;  // (trunc(r) / 2000, integer division) × 1000
    std::int32_t appliedWindow = 0;   // trunc(256000 / r)
    std::int32_t lpcOrder = 0;        // trunc(r / 1000) + 4 rounded down to even, at most 400
    std::int32_t specLpcOrder = 0;    // the same without the upper bound
    // The spectrogram's range: what formants need (kSpectrogramDefaultRangeHz),
    // or frequencyRange when that is lower. The whole band is one setting
    // away (m_nSpecfrequencyRange up to frequencyRange).
    std::int32_t spectrogramRange = 0;
};

// The spectrogram's default highest frequency, Hz: the default formant
// ceiling, so that speech fills the image instead of its bottom quarter.
inline constexpr std::int32_t kSpectrogramDefaultRangeHz = 5000;

RateSettings rateSettingsFor(double rateHz);

} // namespace phonaxis
