#include "analysis/CMathFunc.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <new>
#include <vector>

namespace phonaxis {
namespace {

constexpr int kMaxPitchFftLength = 4096;

// One thread's work storage for the cepstral pitch routines, sized for the
// largest transform they take. The Hamming window is cached by length: the
// pitch window calls with one length for every frame of a track.
struct PitchWork {
    std::vector<double> re = std::vector<double>(kMaxPitchFftLength);
    std::vector<double> im = std::vector<double>(kMaxPitchFftLength);
    std::vector<double> window = std::vector<double>(kMaxPitchFftLength);
    std::vector<double> cepstrum = std::vector<double>(kMaxPitchFftLength / 2);
    int windowLength = -1;
};

// This thread's work storage, made on its first call; null when the memory
// cannot be had (the next call tries again).
PitchWork* pitchWork() noexcept
{
    try {
        thread_local PitchWork work;
        return &work;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// The transform order of a supported FFT length; 0 for any other length.
int pitchFftOrder(int fftLength)
{
    for (int m = 7; m <= 12; ++m) {
        if (fftLength == 1 << m) {
            return m;
        }
    }
    return 0;
}

// trunc(value), saturated at ±2^40 (far beyond any index or count used here)
// so that the conversion is always defined; NaN gives 0.
long long truncSaturated(double value)
{
    constexpr double kLimit = 1099511627776.0;
    if (std::isnan(value)) {
        return 0;
    }
    return static_cast<long long>(std::clamp(value, -kLimit, kLimit));
}

// 10·log10 of a power, with an exactly zero power giving 0.0 rather than −∞.
double powerDb(double re, double im)
{
    const double power = re * re + im * im;
    return power == 0.0 ? 0.0 : 10.0 * std::log10(power);
}

template <typename Sample>
double cepstralPitch(std::span<const Sample> samples, double position, double spanEnd,
                     double rateHz, double lowestHz, double highestHz, int fftLength,
                     int windowLength)
{
    const int order = pitchFftOrder(fftLength);
    if (order == 0 || !(rateHz > 0.0) || !std::isfinite(rateHz)) {
        return CMathFunc::kPitchDeclined;
    }
    PitchWork* work = pitchWork();
    if (work == nullptr) {
        return CMathFunc::kPitchDeclined;
    }
    const int n = fftLength;
    const int half = n / 2;
    // The transform sees n points, so a longer window is cut to them.
    const int w = std::clamp(windowLength, 0, n);
    if (work->windowLength != w) {
        for (int i = 0; i < w; ++i) {
            work->window[static_cast<std::size_t>(i)] =
                0.54 - 0.46 * std::cos(static_cast<double>(i) * dTWOPI / w);
        }
        work->windowLength = w;
    }

    // Samples at indices [0, available) may be read: those before the span end
    // that the buffer holds. Frame positions with no sample read as 0.
    const long long spanCount = std::max(0LL, truncSaturated(std::ceil(spanEnd)));
    const long long available =
        std::min(spanCount, static_cast<long long>(std::min<std::size_t>(samples.size(),
                                                                         1ULL << 40)));
    const long long first = truncSaturated(position);
    double* re = work->re.data();
    double* im = work->im.data();
    for (int i = 0; i < n; ++i) {
        double x = 0.0;
        const long long index = first + i;
        if (i < w && index >= 0 && index < available) {
            x = static_cast<double>(samples[static_cast<std::size_t>(index)]) *
                work->window[static_cast<std::size_t>(i)];
        }
        re[i] = x;
        im[i] = 0.0;
    }

    CMathFunc::FFT_CODE_REAL(work->re, work->im, order);
    for (int k = 0; k < n; ++k) {
        re[k] = powerDb(re[k], im[k]);
        im[k] = 0.0;
    }
    CMathFunc::FFT_CODE_REAL(work->re, work->im, order);
    double* c = work->cepstrum.data();
    for (int q = 0; q < half; ++q) {
        c[q] = powerDb(re[q], im[q]);
    }

    // Quefrencies outside the pitch range are cleared; the search never goes
    // past the cepstrum's half-length.
    const long long lo = truncSaturated(rateHz / highestHz);
    const long long hi = truncSaturated(rateHz / lowestHz);
    const int loInCepstrum = static_cast<int>(std::clamp(lo, 0LL, static_cast<long long>(half)));
    const int hiInCepstrum = static_cast<int>(std::clamp(hi, 0LL, static_cast<long long>(half)));
    std::fill(c, c + loInCepstrum, 0.0);
    std::fill(c + hiInCepstrum, c + half, 0.0);

    // Keep the top 20 dB.
    double top = -1e-30;
    for (int q = 0; q < half; ++q) {
        top = std::max(top, c[q]);
    }
    for (int q = 0; q < half; ++q) {
        c[q] = std::max(0.0, c[q] - top + 20.0);
    }

    long long index = lo;
    if (lo < hi) {
        double best = 0.0;
        for (int q = loInCepstrum; q < hiInCepstrum; ++q) {
            if (c[q] > best) {
                best = c[q];
                index = q;
            }
        }
    }
    const double pitchHz = rateHz / (index == 0 ? 1.0 : static_cast<double>(index));
    return lowestHz <= pitchHz && pitchHz <= highestHz ? pitchHz : 0.0;
}

} // namespace

double CMathFunc::DoPitchCepstrumNewFloat(std::span<const float> samples, double position,
                                          double spanEnd, double sampleRateHz,
                                          double lowestPitchHz, double highestPitchHz,
                                          int fftLength, int windowLength)
{
    return cepstralPitch(samples, position, spanEnd, sampleRateHz, lowestPitchHz, highestPitchHz,
                         fftLength, windowLength);
}

double CMathFunc::DoPitchCepstrumNewDouble(std::span<const double> samples, double position,
                                           double spanEnd, double sampleRateHz,
                                           double lowestPitchHz, double highestPitchHz,
                                           int fftLength, int windowLength)
{
    return cepstralPitch(samples, position, spanEnd, sampleRateHz, lowestPitchHz, highestPitchHz,
                         fftLength, windowLength);
}

} // namespace phonaxis
