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

// Σ(x − reference)² over `count` values. Four interleaved partial sums
// break the chain of dependent additions, so the loop runs at the speed of
// the multiplications; the result differs from a single running sum only by
// rounding.
double sumOfSquares(const float* x, long long count, double reference)
{
    double partial[4] = {0.0, 0.0, 0.0, 0.0};
    long long i = 0;
    for (; i + 4 <= count; i += 4) {
        for (int lane = 0; lane < 4; ++lane) {
            const double d = static_cast<double>(x[i + lane]) - reference;
            partial[lane] += d * d;
        }
    }
    for (; i < count; ++i) {
        const double d = static_cast<double>(x[i]) - reference;
        partial[0] += d * d;
    }
    return (partial[0] + partial[1]) + (partial[2] + partial[3]);
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
        // A frame's level is written only up to where the next frame starts,
        // which overwrites the rest of it anyway: each position is written
        // once, not once per frame that covers it. The last frame written is
        // held back until the next one's start is known.
        long long pendingFirst = -1;
        long long pendingEnd = -1;
        float lastValue = 0.0F;
        const auto flushUpTo = [&](long long limit) {
            if (pendingFirst >= 0) {
                std::fill(track.begin() + pendingFirst,
                          track.begin() + std::max(pendingFirst, std::min(pendingEnd, limit)),
                          lastValue);
            }
        };
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
                const double meanSquare =
                    sumOfSquares(input.data() + first, perFrame, reference) / frameLength;
                double level = meanSquare;
                if (linear == 0) {
                    level = meanSquare < kFloorMeanSquare ? kIntensityFloorDb
                                                          : 10.0 * std::log10(meanSquare);
                }
                flushUpTo(first);
                lastValue = static_cast<float>(level);
                pendingFirst = first;
                pendingEnd = first + perFrame;
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
        if (pendingFirst >= 0) {
            // The last frame, then its level up to the end.
            std::fill(track.begin() + pendingFirst, track.end(), lastValue);
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
