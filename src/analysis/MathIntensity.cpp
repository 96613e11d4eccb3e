#include "analysis/CMathFunc.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace phonaxis {
namespace {

// The mean square at which the dB scale is floored: 10·log10(1e-20) is
// kIntensityFloorDb, so levels meet the floor without a step.
constexpr double kFloorMeanSquare = 1e-20;

// trunc(value), saturated at ±2^40 (far beyond any sample count) so that the
// conversion is always defined; NaN gives 0.
long long truncSaturated(double value)
{
    constexpr double kLimit = 1099511627776.0;
    if (std::isnan(value)) {
        return 0;
    }
    return static_cast<long long>(std::clamp(value, -kLimit, kLimit));
}

void subtractFrom(std::span<float> track, double amount)
{
    for (float& value : track) {
        value = static_cast<float>(value - amount);
    }
}

} // namespace

void CMathFunc::DoIntensityFloat(std::span<const float> input, std::span<float> output,
                                 double& minimum, double& maximum, double reference, double start,
                                 double frameLength, double step, double totalLength,
                                 unsigned char zeroMinimum, unsigned char linear)
{
    const auto length = static_cast<long long>(
        std::min({static_cast<std::size_t>(std::max(0LL, truncSaturated(totalLength))),
                  input.size(), output.size()}));
    const std::span<float> track = output.first(static_cast<std::size_t>(length));

    const bool framed = std::isfinite(frameLength) && frameLength >= 1.0 && std::isfinite(step) &&
                        step > 0.0 && std::isfinite(start);
    if (framed) {
        const long long frameCount =
            truncSaturated((static_cast<double>(length) - frameLength) / step);
        const long long perFrame = truncSaturated(frameLength);
        long long lastEnd = -1;
        float lastValue = 0.0F;
        for (long long k = 0; k < frameCount;) {
            const double at = static_cast<double>(k) * step + start;
            const long long first = truncSaturated(at);
            // Frames start ever later, so once one runs past the end of the
            // track none of the rest fits either.
            if (at >= 0.0 && first + perFrame > length) {
                break;
            }
            // Only frames wholly inside the track are read and written.
            if (at >= 0.0) {
                double sum = 0.0;
                for (long long i = first; i < first + perFrame; ++i) {
                    const double x = input[static_cast<std::size_t>(i)] - reference;
                    sum += x * x;
                }
                const double meanSquare = sum / frameLength;
                double level = meanSquare;
                if (linear == 0) {
                    level = meanSquare < kFloorMeanSquare ? kIntensityFloorDb
                                                          : 10.0 * std::log10(meanSquare);
                }
                lastValue = static_cast<float>(level);
                std::fill(track.begin() + first, track.begin() + first + perFrame, lastValue);
                lastEnd = first + perFrame;
            }
            // Frames that start on the same sample have the same level, so a
            // step below one sample goes on to (one frame before, in case of
            // rounding) the first frame that starts on a later sample.
            long long next = k + 1;
            if (step < 1.0) {
                const double target = at < 0.0 ? 0.0 : static_cast<double>(first) + 1.0;
                const long long jump = truncSaturated(std::ceil((target - start) / step)) - 1;
                next = std::max(next, jump);
            }
            k = next;
        }
        if (lastEnd >= 0) {
            std::fill(track.begin() + lastEnd, track.end(), lastValue);
        }
    }

    if (track.empty()) {
        minimum = 0.0;
        maximum = 0.0;
        return;
    }
    double low = 1e9;
    double high = -1e9;
    for (const float value : track) {
        low = std::min(low, static_cast<double>(value));
        high = std::max(high, static_cast<double>(value));
    }
    if (low < 0.0 && high < 0.0) {
        subtractFrom(track, low + high);
        const double shiftedLow = -high;
        high = -low;
        low = shiftedLow;
    } else if (low < 0.0) {
        subtractFrom(track, low);
        high -= low;
        low = 0.0;
    }
    if (zeroMinimum != 0) {
        subtractFrom(track, low);
        high -= low;
        low = 0.0;
    }
    minimum = low;
    maximum = high;
}

} // namespace phonaxis
