#include "analysis/CMathFunc.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

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

// 10·log10(meanSquare), or kIntensityFloorDb below kFloorMeanSquare.
double levelDb(double meanSquare)
{
    return meanSquare < kFloorMeanSquare ? CMathFunc::kIntensityFloorDb
                                         : 10.0 * std::log10(meanSquare);
}

double squareAbout(float value, double reference)
{
    const double d = static_cast<double>(value) - reference;
    return d * d;
}

// The sum of squares over frames of `count` samples that start ever later.
// A frame that overlaps the previous one is not summed again: the squares
// of the samples that leave are subtracted and those that enter are added,
// so a frame costs what the step moves rather than its length. The sum is
// taken afresh when the frames do not overlap, once the slides since the
// last fresh sum have moved as far as a frame is long (rounding cannot build
// up), and when the sum has fallen far below the largest one since the last
// fresh sum: after a loud stretch leaves the frame, what the subtractions
// leave behind would otherwise be rounding noise instead of the quiet
// stretch's own small sum (or true silence's 0).
class FrameSums {
public:
    FrameSums(const float* samples, long long count, double reference)
        : m_samples(samples), m_count(count), m_reference(reference)
    {
    }

    // Σ(x − reference)² over the frame starting at `first`; frames are asked
    // for in increasing order of `first`.
    double at(long long first)
    {
        const long long shift = first - m_first;
        if (m_first < 0 || shift < 0 || shift >= m_count || m_moved + shift > m_count) {
            return fresh(first);
        }
        for (long long i = m_first; i < first; ++i) {
            m_sum -= squareAbout(m_samples[i], m_reference);
        }
        for (long long i = m_first + m_count; i < first + m_count; ++i) {
            m_sum += squareAbout(m_samples[i], m_reference);
        }
        m_first = first;
        m_moved += shift;
        if (!(m_sum >= m_loudest * kSlideFloor)) {
            return fresh(first);
        }
        m_loudest = std::max(m_loudest, m_sum);
        return m_sum;
    }

private:
    // A slid sum 40 dB or more below the loudest since the last fresh sum
    // is taken afresh.
    static constexpr double kSlideFloor = 1e-4;

    double fresh(long long first)
    {
        m_sum = sumOfSquares(m_samples + first, m_count, m_reference);
        m_first = first;
        m_moved = 0;
        m_loudest = m_sum;
        return m_sum;
    }

    const float* m_samples;
    long long m_count;
    double m_reference;
    long long m_first = -1;
    long long m_moved = 0;
    double m_sum = 0.0;
    double m_loudest = 0.0;
};

} // namespace

double CMathFunc::IntensityLevelDb(std::span<const float> samples, double reference)
{
    if (samples.empty()) {
        return kIntensityFloorDb;
    }
    const auto count = static_cast<long long>(samples.size());
    return levelDb(sumOfSquares(samples.data(), count, reference) / static_cast<double>(count));
}

bool CMathFunc::DoIntensityFloat(std::span<const float> input, std::span<float> output,
                                 double& minimum, double& maximum, double reference, double start,
                                 double frameLength, double step, double totalLength,
                                 unsigned char zeroMinimum, unsigned char linear,
                                 const WorkProgress& progress)
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
        float lastValue = 0.0F;
        FrameSums sums(input.data(), perFrame, reference);
        ProgressPacer pacer(progress, static_cast<std::size_t>(length));
        // A frame's level holds until the next frame starts, also when the
        // step leaves samples between the frames: every position from the
        // first frame on then reads a level of its neighbourhood.
        const auto flushUpTo = [&](long long limit) {
            if (pendingFirst >= 0) {
                std::fill(track.begin() + pendingFirst,
                          track.begin() + std::max(pendingFirst, limit), lastValue);
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
                if (!pacer.at(static_cast<std::size_t>(first))) {
                    return false;
                }
                const double meanSquare = sums.at(first) / frameLength;
                const double level = linear == 0 ? levelDb(meanSquare) : meanSquare;
                flushUpTo(first);
                lastValue = static_cast<float>(level);
                pendingFirst = first;
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

    // The range is that of the levels above the dB floor: a digitally silent
    // stretch says nothing about the level of the rest. Silent positions keep
    // the floor, also in the relative track, so that silence reads as such.
    const auto floorDb = static_cast<float>(kIntensityFloorDb);
    const bool floored = linear == 0;
    const auto measured = [&](float value) { return !floored || value > floorDb; };
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();
    for (const float value : track) {
        if (measured(value)) {
            low = std::min(low, static_cast<double>(value));
            high = std::max(high, static_cast<double>(value));
        }
    }
    if (low > high) {
        low = floored ? kIntensityFloorDb : 0.0;
        high = low;
    } else if (zeroMinimum != 0) {
        for (float& value : track) {
            if (measured(value)) {
                value = static_cast<float>(value - low);
            }
        }
        high -= low;
        low = 0.0;
    }
    minimum = low;
    maximum = high;
    return true;
}

} // namespace phonaxis
