#pragma once

// A glide with a known F0: a glottal pulse train whose F0 rises linearly
// from `fromHz` to `toHz` over the duration, through the formants of /a/,
// as the pitch window and phonaxis-cli pitch are tested on.

#include "Signals.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace phonaxis::test {

struct Glide {
    double rateHz = 0.0;
    double fromHz = 0.0;
    double toHz = 0.0;
    double durationMs = 0.0;
    std::vector<float> samples;

    double f0AtMs(double timeMs) const { return fromHz + (toHz - fromHz) * timeMs / durationMs; }
};

inline Glide glide(double rateHz = 16000.0, double durationMs = 1000.0, double fromHz = 120.0,
                   double toHz = 220.0)
{
    Glide g{rateHz, fromHz, toHz, durationMs, {}};
    const auto n = static_cast<std::size_t>(durationMs * rateHz / 1000.0);
    std::vector<double> f0(n);
    for (std::size_t i = 0; i < n; ++i) {
        f0[i] = g.f0AtMs(static_cast<double>(i) * 1000.0 / rateHz);
    }
    const signals::PulseTrain source =
        signals::pulseTrain(f0, rateHz, {signals::PulseShape::GlottalFlowDerivative, 3});
    g.samples = signals::applyFormants(source.samples, signals::kVowelA, rateHz);
    float peak = 0.0F;
    for (const float x : g.samples) {
        peak = std::max(peak, std::abs(x));
    }
    for (float& x : g.samples) {
        x = peak > 0.0F ? 0.8F * x / peak : x;
    }
    return g;
}

} // namespace phonaxis::test
