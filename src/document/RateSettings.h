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
};

// The settings for rate r. An LPC order is held below the window it is
// taken with (see largestLpcOrder), kept even: the spectrum's below the
// applied window of `fftLength` points and appliedWindow ms, the
// spectrogram's below its `spectrogramLength`-point window. At everyday
// rates the orders are far below their windows and stay as given above.
RateSettings rateSettingsFor(double rateHz, std::int32_t fftLength = 256,
                             std::int32_t spectrogramLength = 64);

// --- LPC orders and their windows ---------------------------------------------
// A prediction of order p rests on the correlation of the analysed samples
// at lags up to p: a window of p samples or fewer has nothing at its longest
// lags, and an order far beyond what the spectrum under it resolves only
// costs time (a spectrum over a few seconds at order 400 ran for most of a
// minute and found no formant). The spectrum window takes its LPC order
// below the samples of its applied window, the spectrogram below the points
// of its transform window.

// The samples each spectrum frame analyses: the applied window of
// `appliedMs` at `rateHz`, rounded, at most the transform length; 0 for
// settings that give none.
std::int64_t appliedWindowSamples(std::int32_t fftLength, double appliedMs, double rateHz);

// The largest LPC order a window of `samples` analysed samples holds: one
// less than its samples; 0 when it holds none.
std::int32_t largestLpcOrder(std::int64_t samples);

} // namespace phonaxis
