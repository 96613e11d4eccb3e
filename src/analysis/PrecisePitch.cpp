#include "analysis/PrecisePitch.h"

#include "analysis/CMathFunc.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <numbers>

// The element-wise loops below are also built for AVX2 and chosen at start-up.
// Every clone computes the same operations in the same order (AVX2 brings no
// fused multiply-add), so each gives the same bits.
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__) && !defined(__clang__)
#define PHONAXIS_PRECISE_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define PHONAXIS_PRECISE_CLONES
#endif

namespace phonaxis {
namespace {

// Lags the sinc interpolation reads on each side of the point it interpolates.
// The tapered kernel's gain between whole lags falls short of 1 by up to
// 4·10⁻⁴ with 12 lags, 6·10⁻⁵ with 24. A smooth correlation peak, a pure
// tone's, drops less than that over the half sample between a whole lag and
// the true period (10⁻⁴ at 200 Hz and 22,050 Hz), so with 12 the refinement
// kept the whole lag and a 200 Hz sine read 200.45 Hz; with 24 it reads
// 200.01 Hz. The glides of the pitch corpus, whose peaks are sharper, moved
// by 0.02 Hz at most.
constexpr int kSincDepth = 24;
// Candidates taken from the cepstrum's strongest peaks; the rest of a
// frame's candidates are the normalised autocorrelation's strongest peaks.
constexpr int kCepstralCandidates = 3;
// The refinement of a lag inside ±1 sample ends within kRefineTolerance of
// the peak: 0.0006 % of the shortest period searched at the analysis rate
// (600 Hz at 11,025 Hz: 18 samples). It takes at most kRefineSteps
// interpolations, as many as golden-section steps alone need to get there.
constexpr double kRefineTolerance = 1e-4;
constexpr int kRefineSteps = 30;
// The autocorrelation sees the spectrum below kPassHz, tapering off to
// nothing at kStopHz: the harmonics that carry the period lie there, while
// broadband noise above them only roughens the autocorrelation with peaks
// of its own (at 44.1 kHz most of a white noise's power lies above).
constexpr double kPassHz = 4000.0;
constexpr double kStopHz = 5000.0;
// How close the correlation at a whole part of a candidate's lag (a half, a
// third, ...) may come to the candidate's own before the candidate counts as
// a multiple.
constexpr double kSubmultipleMargin = 0.1;
// Lags a frame's candidates may come from: the first kMaxCandidates are the
// cepstral and autocorrelation peaks, the rest the periods of candidates
// found to be multiples.
constexpr int kMaxLags = 2 * PitchFrame::kMaxCandidates;
// The anti-alias filter of the decimation: a Kaiser-windowed sinc whose
// stop band (60 dB down) starts where an alias would fold onto kStopHz, and
// whose pass band ends at kPassHz. Kaiser's formulas: beta for 60 dB, and
// (A − 8)/(2.285·Δω) taps for a transition of Δω radians per sample.
constexpr double kFilterAttenuationDb = 60.0;
constexpr double kKaiserBeta = 0.1102 * (kFilterAttenuationDb - 8.7);
// Relative floor of the power spectrum before its logarithm is taken, so a
// bin of exactly zero power stays finite.
constexpr double kPowerFloor = 1e-20;

// One thread's work storage, grown to the longest transform the thread has
// been asked for.
struct PreciseWork {
    std::vector<double> re;
    std::vector<double> im;
    std::vector<double> binRe; // bins 0 … N/2 of the frame's transform
    std::vector<double> binIm;
    // kSincDepth mirrored lags (r(−j) = r(j)), then lags 0 … N − 1.
    std::vector<double> correlation;
    std::vector<float> decimated; // the decimated signal of a block of frames
    std::vector<int> peakLags;    // the peaks of a frame's search range
    std::array<int, kMaxLags> lags{};
};

// This thread's work storage with room for an n-point transform and
// `decimated` decimated samples; null when the memory cannot be had.
PreciseWork* preciseWork(int n, std::size_t decimated) noexcept
{
    thread_local PreciseWork work;
    const auto size = static_cast<std::size_t>(n);
    try {
        if (work.re.size() < size) {
            work.re.resize(size);
            work.im.resize(size);
            work.binRe.resize(size / 2 + 1);
            work.binIm.resize(size / 2 + 1);
            work.correlation.resize(size + kSincDepth);
            work.peakLags.resize(size);
        }
        if (work.decimated.size() < decimated) {
            work.decimated.resize(decimated);
        }
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return &work;
}

// The zeroth-order modified Bessel function of the first kind (its series).
double besselI0(double x)
{
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; k < 50; ++k) {
        term *= (0.5 * x / k) * (0.5 * x / k);
        sum += term;
        if (term < sum * 1e-17) {
            break;
        }
    }
    return sum;
}

// Σ h[t]·x[t] for t < count, in eight interleaved partial sums so that the
// additions do not wait on each other (and may be done eight at a time);
// the order of the additions is fixed, so every build gives the same sum.
PHONAXIS_PRECISE_CLONES
float dot(const float* __restrict h, const float* __restrict x, int count)
{
    float partial[8] = {};
    int t = 0;
    for (; t + 8 <= count; t += 8) {
        for (int lane = 0; lane < 8; ++lane) {
            partial[lane] += h[t + lane] * x[t + lane];
        }
    }
    for (; t < count; ++t) {
        partial[0] += h[t] * x[t];
    }
    return ((partial[0] + partial[1]) + (partial[2] + partial[3])) +
           ((partial[4] + partial[5]) + (partial[6] + partial[7]));
}

// The sum, the least and the largest of x[0 … count − 1] (count ≥ 1),
// eight lanes at a time in a fixed order of additions.
PHONAXIS_PRECISE_CLONES
void sumAndRange(const float* __restrict x, std::int64_t count, double& total, float& lowest,
                 float& highest)
{
    // Float lanes: each adds an eighth of the window (a few hundred samples,
    // some thousands at the highest rates), so the sum keeps five significant
    // digits or more, plenty for the mean a peak is measured about.
    float sum[8] = {};
    float low[8];
    float high[8];
    for (int lane = 0; lane < 8; ++lane) {
        low[lane] = x[0];
        high[lane] = x[0];
    }
    std::int64_t p = 0;
    for (; p + 8 <= count; p += 8) {
        for (int lane = 0; lane < 8; ++lane) {
            const float v = x[p + lane];
            sum[lane] += v;
            low[lane] = v < low[lane] ? v : low[lane];
            high[lane] = v > high[lane] ? v : high[lane];
        }
    }
    for (; p < count; ++p) {
        sum[0] += x[p];
        low[0] = x[p] < low[0] ? x[p] : low[0];
        high[0] = x[p] > high[0] ? x[p] : high[0];
    }
    total = 0.0;
    for (int lane = 0; lane < 8; ++lane) {
        total += static_cast<double>(sum[lane]);
    }
    lowest = low[0];
    highest = high[0];
    for (int lane = 1; lane < 8; ++lane) {
        lowest = low[lane] < lowest ? low[lane] : lowest;
        highest = high[lane] > highest ? high[lane] : highest;
    }
}

// 1/(2j + 1) for j = 0 … 10: the series of atanh.
constexpr std::array<double, 11> kOddReciprocals = [] {
    std::array<double, 11> values{};
    for (int j = 0; j < 11; ++j) {
        values[static_cast<std::size_t>(j)] = 1.0 / (2 * j + 1);
    }
    return values;
}();

// out[k] = ½·ln(power[k] + floor) for k < count, for positive, finite and
// normal arguments (the floor makes them so). x = m·2^e with m in [√½, √2),
// and ln m = 2·atanh(s) = 2·(s + s³/3 + s⁵/5 + …) with s = (m − 1)/(m + 1),
// |s| ≤ 0.172: eleven terms leave less than 10⁻¹⁶ of it. Only operations
// on whole vectors (no call, no branch), so the loop runs four points at a
// time in the AVX2 build.
PHONAXIS_PRECISE_CLONES
void halfLogs(const double* __restrict power, double floor, double* __restrict out, int count)
{
    constexpr double kLn2 = 0.6931471805599453;
    constexpr std::uint64_t kSqrtHalfBits = 0x3FE6A09E667F3BCDULL; // √½
    // 2^52 + n has the bits of 2^52 with n in its mantissa.
    constexpr double kTwoTo52 = 4503599627370496.0;
    for (int k = 0; k < count; ++k) {
        const double x = power[k] + floor;
        std::uint64_t bits = 0;
        std::memcpy(&bits, &x, sizeof bits);
        std::uint64_t mantissaBits = (bits & 0x000FFFFFFFFFFFFFULL) | 0x3FE0000000000000ULL;
        // m (the mantissa in [½, 1)) below √½ is doubled and the exponent
        // lowered: positive doubles order as their bits, and the top bit of
        // the difference is the comparison, all in whole-vector operations.
        const std::uint64_t low = (mantissaBits - kSqrtHalfBits) >> 63;
        mantissaBits += low << 52;
        const std::uint64_t exponentBits = ((bits >> 52) - low) | 0x4330000000000000ULL;
        double biased = 0.0;
        std::memcpy(&biased, &exponentBits, sizeof biased);
        const double exponent = biased - kTwoTo52 - 1022.0;
        double m = 0.0; // x = m·2^exponent, m in [√½, √2)
        std::memcpy(&m, &mantissaBits, sizeof m);
        const double s = (m - 1.0) / (m + 1.0);
        const double s2 = s * s;
        const double* c = kOddReciprocals.data();
        double series = c[10];
        series = series * s2 + c[9];
        series = series * s2 + c[8];
        series = series * s2 + c[7];
        series = series * s2 + c[6];
        series = series * s2 + c[5];
        series = series * s2 + c[4];
        series = series * s2 + c[3];
        series = series * s2 + c[2];
        series = series * s2 + c[1];
        series = series * s2 + c[0];
        out[k] = 0.5 * (exponent * kLn2 + 2.0 * s * series);
    }
}

// (−1)^n/(2n)! for n = 0 … 9: the cosine's series.
constexpr std::array<double, 10> kCosineTerms = [] {
    std::array<double, 10> values{};
    double term = 1.0;
    for (int n = 0; n < 10; ++n) {
        values[static_cast<std::size_t>(n)] = term;
        term = -term / ((2.0 * n + 1.0) * (2.0 * n + 2.0));
    }
    return values;
}();

// sin(π·phase) for phase in (0, 1): cos(π·u) with u = phase − ½ in (−½, ½),
// by its Taylor series in (π·u)² up to the 18th power (error below 10⁻¹³),
// as two interleaved Horner chains in (π·u)⁴.
double sinPi(double phase)
{
    const double x = std::numbers::pi * (phase - 0.5);
    const double x2 = x * x;
    const double x4 = x2 * x2;
    const double* c = kCosineTerms.data();
    const double even = (((c[8] * x4 + c[6]) * x4 + c[4]) * x4 + c[2]) * x4 + c[0];
    const double odd = (((c[9] * x4 + c[7]) * x4 + c[5]) * x4 + c[3]) * x4 + c[1];
    return even + odd * x2;
}

constexpr double kIndexLimit = 9.0e15;

std::int64_t roundIndex(double value)
{
    return static_cast<std::int64_t>(std::clamp(std::round(value), -kIndexLimit, kIndexLimit));
}

// (−1)^i for the taps i = −kSincDepth + 1 … kSincDepth of the interpolation.
constexpr std::array<double, 2 * kSincDepth> kTapSigns = [] {
    std::array<double, 2 * kSincDepth> signs{};
    for (int i = -kSincDepth + 1; i <= kSincDepth; ++i) {
        signs[static_cast<std::size_t>(i + kSincDepth - 1)] = (i & 1) == 0 ? 1.0 : -1.0;
    }
    return signs;
}();

// Σ x[t]·(−1)^i·taper(phase − i)/(phase − i) over the taps i = t − kSincDepth + 1,
// in four interleaved partial sums.
PHONAXIS_PRECISE_CLONES
double sincTaps(const double* __restrict x, double phase)
{
    double terms[2 * kSincDepth];
    for (int t = 0; t < 2 * kSincDepth; ++t) {
        const double distance = phase - (t - kSincDepth + 1);
        const double u = distance / (kSincDepth + 1);
        const double taper = (1.0 - u * u) * (1.0 - u * u);
        terms[t] = x[t] * kTapSigns[static_cast<std::size_t>(t)] * taper / distance;
    }
    double partial[4] = {};
    for (int t = 0; t < 2 * kSincDepth; t += 4) {
        for (int lane = 0; lane < 4; ++lane) {
            partial[lane] += terms[t + lane];
        }
    }
    return (partial[0] + partial[1]) + (partial[2] + partial[3]);
}

// The normalised autocorrelation r at a fractional lag, by windowed sinc
// interpolation of its values at whole lags (r is even: r(−j) = r(j)).
// r[−kSincDepth … count − 1] may be read: the lags below 0 hold their
// mirror images, so the taps around any lag searched read one stretch.
double interpolate(const double* r, int count, double lag)
{
    const double base = std::floor(lag);
    const double phase = lag - base;
    const int whole = static_cast<int>(base);
    if (phase == 0.0) {
        return r[std::min(std::abs(whole), count - 1)];
    }
    // sin(π(phase − i)) = (−1)^i·sin(π·phase)
    const double sinPhase = sinPi(phase);
    if (whole - kSincDepth + 1 >= -kSincDepth && whole + kSincDepth < count) {
        return sincTaps(r + whole - kSincDepth + 1, phase) * sinPhase / std::numbers::pi;
    }
    double sum = 0.0;
    for (int i = -kSincDepth + 1; i <= kSincDepth; ++i) {
        const double distance = phase - i;
        const double u = distance / (kSincDepth + 1);
        const double taper = (1.0 - u * u) * (1.0 - u * u);
        const double sign = (i & 1) == 0 ? 1.0 : -1.0;
        const double sinc = sign * sinPhase / (std::numbers::pi * distance);
        const int index = std::min(std::abs(whole + i), count - 1);
        sum += r[index] * sinc * taper;
    }
    return sum;
}

// A strength no frame can pass: that of a strictly periodic signal. Dividing
// by the window's own autocorrelation lifts the normalised autocorrelation
// far above it where the window's tail holds most of a frame's energy (the
// exponential ring-down after a vowel, 100 dB and more below the voice,
// read 10^7 and more and outweighed any silence), so strengths are held to it.
constexpr double kFullCorrelation = 1.0;

// The lag near `lag` (a whole-lag maximum) where the interpolated r peaks,
// and r there (at most kFullCorrelation). Brent's method (parabolic steps
// through the best three points, golden-section steps where a parabola
// cannot be trusted) inside lag ± 1, started at the whole lag, whose value
// is known: a smooth peak takes a handful of interpolations.
PitchCandidate refine(const double* r, int count, int lag, double rateHz)
{
    constexpr double kGoldenStep = 0.3819660112501051;
    const auto f = [&](double at) { return -interpolate(r, count, at); };
    double a = lag - 1.0;
    double b = lag + 1.0;
    double x = lag;
    double w = x;
    double v = x;
    double fx = -r[lag];
    double fw = fx;
    double fv = fx;
    double d = 0.0;
    double e = 0.0;
    for (int step = 0; step < kRefineSteps; ++step) {
        const double middle = 0.5 * (a + b);
        if (std::fabs(x - middle) <= 2.0 * kRefineTolerance - 0.5 * (b - a)) {
            break;
        }
        bool golden = true;
        if (std::fabs(e) > kRefineTolerance) {
            // The parabola through x, w and v.
            double p0 = (x - w) * (fx - fv);
            double q = (x - v) * (fx - fw);
            double p = (x - v) * q - (x - w) * p0;
            q = 2.0 * (q - p0);
            if (q > 0.0) {
                p = -p;
            }
            q = std::fabs(q);
            const double previous = e;
            e = d;
            if (!(std::fabs(p) >= std::fabs(0.5 * q * previous) || p <= q * (a - x) ||
                  p >= q * (b - x))) {
                d = p / q;
                const double u = x + d;
                if (u - a < 2.0 * kRefineTolerance || b - u < 2.0 * kRefineTolerance) {
                    d = std::copysign(kRefineTolerance, middle - x);
                }
                golden = false;
            }
        }
        if (golden) {
            e = x >= middle ? a - x : b - x;
            d = kGoldenStep * e;
        }
        const double u = std::fabs(d) >= kRefineTolerance ? x + d
                                                          : x + std::copysign(kRefineTolerance, d);
        const double fu = f(u);
        if (fu <= fx) {
            (u >= x ? a : b) = x;
            v = w;
            fv = fw;
            w = x;
            fw = fx;
            x = u;
            fx = fu;
        } else {
            (u < x ? a : b) = u;
            if (fu <= fw || w == x) {
                v = w;
                fv = fw;
                w = u;
                fw = fu;
            } else if (fu <= fv || v == x || v == w) {
                v = u;
                fv = fu;
            }
        }
    }
    // The whole lag itself wins when the interpolation found nothing higher.
    double best = x;
    double strength = -fx;
    if (r[lag] > strength) {
        best = lag;
        strength = r[lag];
    }
    return {rateHz / best, std::min(strength, kFullCorrelation)};
}

} // namespace

bool PrecisePitch::configure(const PrecisePitchSettings& settings)
{
    m_windowSamples = 0;
    m_fftLength = 0;
    const double rate = settings.rateHz;
    if (!std::isfinite(rate) || !(rate > 0.0) || !std::isfinite(settings.lowHz) ||
        !std::isfinite(settings.highHz) || !(settings.lowHz > 0.0) ||
        !(settings.lowHz < settings.highHz) || !std::isfinite(settings.windowMs) ||
        !std::isfinite(settings.stepMs) || !(settings.stepMs > 0.0)) {
        return false;
    }
    // The ceiling must lie below the recording's Nyquist frequency with room
    // for a peak on each side of its lag.
    if (!(std::floor(rate / settings.highHz) >= 2.0)) {
        return false;
    }
    // The analysis rate: the recording's divided by the largest whole factor
    // that keeps it at kAnalysisRateHz or above (a ceiling too high for that
    // rate keeps a higher one).
    double factorReal = std::floor(rate / kAnalysisRateHz);
    while (factorReal > 1.0 && !(std::floor(rate / factorReal / settings.highHz) >= 2.0)) {
        factorReal -= 1.0;
    }
    const int factor = factorReal >= 1.0 ? static_cast<int>(std::min(factorReal, 4096.0)) : 1;
    const double analysisRate = rate / factor;
    const double lagLow = std::floor(analysisRate / settings.highHz);
    const double lagHigh = std::ceil(analysisRate / settings.lowHz);
    if (!(lagLow >= 2.0) || !(lagHigh <= CMathFunc::kMaxFftLength)) {
        return false;
    }
    // Three periods of the floor make the autocorrelation at the longest lag
    // rest on two thirds of the window. The window and the lags it needs must
    // fit the largest transform; a floor too low for it is raised.
    const double windowMs = std::max(settings.windowMs, 3000.0 / settings.lowHz);
    constexpr int kLargestWindow = (CMathFunc::kMaxFftLength - kSincDepth - 3) * 3 / 4;
    const double windowReal = std::round(analysisRate * windowMs / 1000.0);
    if (!(windowReal >= 8.0) || !(windowReal * factor <= 1.0e9)) {
        return false;
    }
    const int window = static_cast<int>(std::min<double>(windowReal, kLargestWindow));
    const int lagLimit = std::min<int>(static_cast<int>(lagHigh), window / 3);
    if (lagLimit <= static_cast<int>(lagLow) + 1) {
        return false;
    }
    int order = 1;
    while ((1 << order) < window + lagLimit + kSincDepth + 3) {
        ++order;
    }
    if (order > CMathFunc::kMaxFftOrder) {
        return false;
    }
    const int n = 1 << order;

    // The anti-alias filter: pass band to kPassHz, stop band from where an
    // alias would land on kStopHz (the analysis rate less kStopHz), cut-off
    // half-way; no filter without decimation.
    std::vector<float> filter(1, 1.0F);
    if (factor > 1) {
        const double stopHz = analysisRate - kStopHz;
        const double cutoff = 0.5 * (kPassHz + stopHz) / rate; // cycles per sample
        const double transition = 2.0 * std::numbers::pi * (stopHz - kPassHz) / rate;
        const int half = static_cast<int>(
            std::ceil((kFilterAttenuationDb - 8.0) / (2.285 * transition) / 2.0));
        if (!(half >= 1 && half <= 1 << 16)) {
            return false;
        }
        try {
            filter.assign(static_cast<std::size_t>(2 * half + 1), 0.0F);
        } catch (const std::bad_alloc&) {
            return false;
        }
        std::vector<double> taps(filter.size(), 0.0);
        double sum = 0.0;
        const double norm = besselI0(kKaiserBeta);
        for (int t = -half; t <= half; ++t) {
            const double x = 2.0 * std::numbers::pi * cutoff * t;
            const double sinc = t == 0 ? 1.0 : std::sin(x) / x;
            const double ratio = static_cast<double>(t) / half;
            const double kaiser = besselI0(kKaiserBeta * std::sqrt(1.0 - ratio * ratio)) / norm;
            taps[static_cast<std::size_t>(t + half)] = sinc * kaiser;
            sum += sinc * kaiser;
        }
        for (std::size_t t = 0; t < taps.size(); ++t) {
            filter[t] = static_cast<float>(taps[t] / sum);
        }
    }

    try {
        m_window.assign(static_cast<std::size_t>(window), 0.0);
        m_windowCorrelation.assign(static_cast<std::size_t>(lagLimit + kSincDepth + 3), 0.0);
        m_passBand.assign(static_cast<std::size_t>(n / 2 + 1), 0.0);
        m_twiddleRe.assign(static_cast<std::size_t>(n / 4 + 1), 0.0);
        m_twiddleIm.assign(static_cast<std::size_t>(n / 4 + 1), 0.0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    m_filter = std::move(filter);
    for (int i = 0; i < window; ++i) {
        m_window[static_cast<std::size_t>(i)] =
            0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * (i + 0.5) / window);
    }
    for (std::size_t lag = 0; lag < m_windowCorrelation.size(); ++lag) {
        double sum = 0.0;
        for (std::size_t i = 0; i + lag < m_window.size(); ++i) {
            sum += m_window[i] * m_window[i + lag];
        }
        m_windowCorrelation[lag] = sum;
    }
    const double zeroLag = m_windowCorrelation[0];
    for (double& value : m_windowCorrelation) {
        value /= zeroLag;
    }
    m_inverseWindowCorrelation = m_windowCorrelation;
    for (double& value : m_inverseWindowCorrelation) {
        value = 1.0 / value;
    }

    // The autocorrelation's pass band, bins 0 … N/2.
    for (int k = 0; k <= n / 2; ++k) {
        const double hz = k * analysisRate / n;
        double gain = 0.0;
        if (hz <= kPassHz) {
            gain = 1.0;
        } else if (hz < kStopHz) {
            gain = 0.5 + 0.5 * std::cos(std::numbers::pi * (hz - kPassHz) / (kStopHz - kPassHz));
        }
        m_passBand[static_cast<std::size_t>(k)] = gain;
    }
    // The twiddles that split an N/2-point complex transform into the bins
    // of an N-point real one.
    for (int k = 0; k <= n / 4; ++k) {
        const double angle = 2.0 * std::numbers::pi * k / n;
        m_twiddleRe[static_cast<std::size_t>(k)] = std::cos(angle);
        m_twiddleIm[static_cast<std::size_t>(k)] = -std::sin(angle);
    }

    m_settings = settings;
    m_factor = factor;
    m_analysisRateHz = analysisRate;
    m_decimatedWindow = window;
    m_lagLow = static_cast<int>(lagLow);
    m_lagHigh = lagLimit;
    m_fftOrder = order;
    m_fftLength = n;
    m_windowSamples = window * factor;
    return true;
}

double PrecisePitch::windowMs() const
{
    return m_settings.rateHz > 0.0 ? 1000.0 * m_windowSamples / m_settings.rateHz : 0.0;
}

std::int64_t PrecisePitch::contextSamples() const
{
    if (m_fftLength == 0) {
        return 0;
    }
    // Half the window at the analysis rate, one decimated sample of rounding
    // on each side, and the filter's half-length.
    return static_cast<std::int64_t>(m_decimatedWindow / 2 + 2) * m_factor +
           static_cast<std::int64_t>(m_filter.size() / 2) + 1;
}

void PrecisePitch::decimate(const PitchSamples& input, std::int64_t first,
                            std::span<float> out) const
{
    const std::int64_t spanFirst = input.firstSample;
    const std::int64_t spanEnd = std::min<std::int64_t>(
        input.end, spanFirst + static_cast<std::int64_t>(input.samples.size()));
    const auto half = static_cast<std::int64_t>(m_filter.size() / 2);
    const int taps = static_cast<int>(m_filter.size());
    const float* h = m_filter.data();
    const float* x = input.samples.data();
    for (std::size_t j = 0; j < out.size(); ++j) {
        const std::int64_t centre = (first + static_cast<std::int64_t>(j)) * m_factor;
        const std::int64_t from = centre - half;
        const std::int64_t to = centre + half + 1;
        if (from >= spanFirst && to <= spanEnd) {
            out[j] = dot(h, x + (from - spanFirst), taps);
            continue;
        }
        // Near an end of the samples: the positions without one read as 0.
        float sum = 0.0F;
        for (std::int64_t p = std::max(from, spanFirst); p < std::min(to, spanEnd); ++p) {
            sum += h[p - from] * x[p - spanFirst];
        }
        out[j] = sum;
    }
}

bool PrecisePitch::analyseFrame(std::span<const float> samples, std::int64_t available,
                                double centre, PitchFrame& frame) const
{
    PitchSamples input;
    input.samples = samples;
    input.firstSample = 0;
    input.end = available;
    return analyseFrames(input, centre, 0.0, 0, std::span<PitchFrame>(&frame, 1));
}

double PrecisePitch::framePeak(const PitchSamples& input, double centre) const
{
    // The peak of the frame's window in the recording, about the window's
    // mean (positions without a sample count as 0).
    const int w = m_windowSamples;
    if (w <= 0) {
        return 0.0;
    }
    const std::int64_t spanFirst = input.firstSample;
    const std::int64_t spanEnd = std::min<std::int64_t>(
        input.end, spanFirst + static_cast<std::int64_t>(input.samples.size()));
    const std::int64_t first = roundIndex(centre - 0.5 * w);
    const std::int64_t from = std::clamp(spanFirst, first, first + w);
    const std::int64_t to = std::clamp(spanEnd, from, first + w);
    if (from >= to) {
        return 0.0;
    }
    double total = 0.0;
    float lowest = 0.0F;
    float highest = 0.0F;
    sumAndRange(input.samples.data() + (from - spanFirst), to - from, total, lowest, highest);
    const std::int64_t count = to - from;
    const double mean = total / w;
    double peak = std::max(static_cast<double>(highest) - mean, mean - static_cast<double>(lowest));
    if (count < w) {
        peak = std::max(peak, std::fabs(mean));
    }
    return peak;
}

bool PrecisePitch::analyseFrames(const PitchSamples& input, double origin, double step,
                                 std::int64_t firstFrame, std::span<PitchFrame> frames,
                                 const float* peaks, double quietPeak) const
{
    for (PitchFrame& frame : frames) {
        frame = PitchFrame{};
    }
    if (m_fftLength == 0 || frames.empty()) {
        return m_fftLength != 0;
    }
    const int wd = m_decimatedWindow;
    const auto centreOf = [&](std::size_t i) {
        return origin + static_cast<double>(firstFrame + static_cast<std::int64_t>(i)) * step;
    };
    // The decimated window of a frame starts where it centres the window on
    // the frame's centre, to the nearest decimated sample.
    const auto decimatedFirst = [&](double centre) {
        return roundIndex(centre / m_factor - 0.5 * wd);
    };
    std::int64_t blockFirst = decimatedFirst(centreOf(0));
    std::int64_t blockLast = decimatedFirst(centreOf(frames.size() - 1));
    if (blockLast < blockFirst) {
        std::swap(blockFirst, blockLast);
    }
    const std::int64_t blockLength = blockLast - blockFirst + wd;
    if (frames.size() > 1 &&
        blockLength >
            2 * static_cast<std::int64_t>(wd) * static_cast<std::int64_t>(frames.size())) {
        // Frames far apart (a step longer than two windows): each decimates
        // its own window rather than the stretches between them.
        for (std::size_t i = 0; i < frames.size(); ++i) {
            if (!analyseFrames(input, origin, step, firstFrame + static_cast<std::int64_t>(i),
                               frames.subspan(i, 1), peaks != nullptr ? peaks + i : nullptr,
                               quietPeak)) {
                return false;
            }
        }
        return true;
    }
    if (!(blockLength > 0 && blockLength <= (std::int64_t{1} << 28))) {
        return false;
    }
    PreciseWork* work = preciseWork(m_fftLength, static_cast<std::size_t>(blockLength));
    if (work == nullptr) {
        return false;
    }
    decimate(input, blockFirst,
             std::span<float>(work->decimated.data(), static_cast<std::size_t>(blockLength)));

    for (std::size_t i = 0; i < frames.size(); ++i) {
        const double centre = centreOf(i);
        const double peak = peaks != nullptr
                                ? static_cast<double>(peaks[i])
                                : static_cast<double>(static_cast<float>(framePeak(input, centre)));
        if (peak < quietPeak) {
            frames[i].peak = peak;
            continue;
        }
        const std::int64_t offset = decimatedFirst(centre) - blockFirst;
        if (!analyseWindow(work->decimated.data() + offset, peak, frames[i])) {
            return false;
        }
    }
    return true;
}

bool PrecisePitch::analyseWindow(const float* window, double peak, PitchFrame& frame) const
{
    frame = PitchFrame{};
    frame.peak = peak;
    if (!(peak > 0.0) || !std::isfinite(peak)) {
        return true;
    }
    PreciseWork* work = preciseWork(m_fftLength, 0);
    if (work == nullptr) {
        return false;
    }
    const int n = m_fftLength;
    const int half = n / 2;
    const int w = m_decimatedWindow;
    double* re = work->re.data();
    double* im = work->im.data();

    // The frame, its mean removed, Hann-windowed and zero-padded, packed for
    // a real transform: even points in re, odd points in im (N/2 each).
    // The mean, in four interleaved partial sums.
    double partial[4] = {};
    int point = 0;
    for (; point + 4 <= w; point += 4) {
        for (int lane = 0; lane < 4; ++lane) {
            partial[lane] += static_cast<double>(window[point + lane]);
        }
    }
    for (; point < w; ++point) {
        partial[0] += static_cast<double>(window[point]);
    }
    const double mean = ((partial[0] + partial[1]) + (partial[2] + partial[3])) / w;
    const double* hann = m_window.data();
    std::fill(re, re + half, 0.0);
    std::fill(im, im + half, 0.0);
    for (int j = 0; 2 * j + 1 < w; ++j) {
        re[j] = (static_cast<double>(window[2 * j]) - mean) * hann[2 * j];
        im[j] = (static_cast<double>(window[2 * j + 1]) - mean) * hann[2 * j + 1];
    }
    if ((w & 1) == 1) {
        re[w >> 1] = (static_cast<double>(window[w - 1]) - mean) * hann[w - 1];
    }
    const std::span<double> reHalf(re, static_cast<std::size_t>(half));
    const std::span<double> imHalf(im, static_cast<std::size_t>(half));
    if (!CMathFunc::FFT_CODE_REAL(reHalf, imHalf, m_fftOrder - 1)) {
        return false;
    }
    // Bins 0 … N/2 of the real frame from the half-length transform Z: with
    // E = (Z[k] + conj Z[N/2 − k])/2 and O = (Z[k] − conj Z[N/2 − k])/(2i),
    // X[k] = E + e^(−2πik/N)·O; only the power is needed, and
    // |X[N/2 − k]| = |E* − e^(−2πik/N)·O*| shares the k-th twiddle.
    double* power = work->binRe.data();
    const double* twRe = m_twiddleRe.data();
    const double* twIm = m_twiddleIm.data();
    for (int k = 0; k <= half / 2; ++k) {
        const int a = k;
        const int b = k == 0 ? 0 : half - k;
        const double evenRe = 0.5 * (re[a] + re[b]);
        const double evenIm = 0.5 * (im[a] - im[b]);
        const double oddRe = 0.5 * (im[a] + im[b]);
        const double oddIm = -0.5 * (re[a] - re[b]);
        const double rotRe = twRe[k] * oddRe - twIm[k] * oddIm;
        const double rotIm = twRe[k] * oddIm + twIm[k] * oddRe;
        const double xr = evenRe + rotRe;
        const double xi = evenIm + rotIm;
        power[k] = xr * xr + xi * xi;
        // Bin N/2 − k: E(N/2 − k) = conj E(k), O(N/2 − k) = conj O(k), and
        // its twiddle is −conj of bin k's.
        const double yr = evenRe - rotRe;
        const double yi = -evenIm + rotIm;
        power[half - k] = yr * yr + yi * yi;
    }
    double largestPower = 0.0;
    for (int k = 0; k <= half; ++k) {
        largestPower = std::max(largestPower, power[k]);
    }

    // Power and log magnitude spectra, both real and even; one transform of
    // power + i·log magnitude gives the autocorrelation in the real part and
    // the cepstrum in the imaginary part.
    const double powerFloor = largestPower * kPowerFloor;
    const double* passBand = m_passBand.data();
    halfLogs(power, powerFloor, im, half + 1);
    for (int k = 0; k <= half; ++k) {
        re[k] = power[k] * passBand[k];
    }
    for (int k = half + 1; k < n; ++k) {
        re[k] = re[n - k];
        im[k] = im[n - k];
    }
    const std::span<double> reSpan(re, static_cast<std::size_t>(n));
    const std::span<double> imSpan(im, static_cast<std::size_t>(n));
    if (!CMathFunc::FFT_CODE_REAL(reSpan, imSpan, m_fftOrder)) {
        return false;
    }
    if (!(re[0] > 0.0)) {
        return true;
    }

    // The normalised autocorrelation over the lags the search and its
    // interpolation read.
    const int count = static_cast<int>(m_windowCorrelation.size());
    double* r = work->correlation.data() + kSincDepth;
    const double scale = 1.0 / re[0];
    const double* inverseWindow = m_inverseWindowCorrelation.data();
    for (int lag = 0; lag < count; ++lag) {
        r[lag] = re[lag] * scale * inverseWindow[lag];
    }
    for (int lag = 1; lag <= kSincDepth; ++lag) {
        r[-lag] = r[std::min(lag, count - 1)];
    }
    const auto isPeak = [](const double* v, int lag) {
        return v[lag] >= v[lag - 1] && v[lag] > v[lag + 1];
    };

    // Whole-lag candidates: the cepstrum's strongest peaks, each moved to the
    // strongest autocorrelation peak within 5 % (at least 2 lags) of it, then
    // the autocorrelation's own strongest peaks.
    int* lags = work->lags.data();
    int lagCount = 0;
    const auto addLag = [&](int lag, int reach, int limit) {
        for (int i = 0; i < lagCount; ++i) {
            if (std::abs(lags[i] - lag) <= reach) {
                return;
            }
        }
        if (lagCount < limit) {
            lags[lagCount++] = lag;
        }
    };
    // The strongest autocorrelation peak within `reach` lags of `lag`, -1 for none.
    const auto peakNear = [&](int lag, int reach) {
        int best = -1;
        for (int at = std::max(m_lagLow, lag - reach); at <= std::min(m_lagHigh - 1, lag + reach);
             ++at) {
            if (isPeak(r, at) && (best < 0 || r[at] > r[best])) {
                best = at;
            }
        }
        return best;
    };
    int* peakLags = work->peakLags.data();
    const auto strongestPeaks = [&](const double* v, int wanted, const auto& use) {
        // The peaks in the range, then the strongest of them.
        // Without a branch per lag: every lag is written, and kept when it
        // is a peak.
        int peakCount = 0;
        const int lagHigh = m_lagHigh;
        for (int lag = m_lagLow; lag < lagHigh; ++lag) {
            peakLags[peakCount] = lag;
            peakCount +=
                static_cast<int>(v[lag] >= v[lag - 1]) & static_cast<int>(v[lag] > v[lag + 1]);
        }
        // Strongest first, the shorter lag first among equals.
        const int taken = std::min(wanted, peakCount);
        std::partial_sort(peakLags, peakLags + taken, peakLags + peakCount,
                          [v](int a, int b) { return v[a] > v[b] || (v[a] == v[b] && a < b); });
        for (int p = 0; p < taken; ++p) {
            use(peakLags[p]);
        }
    };
    const double* cepstrum = im;
    strongestPeaks(cepstrum, kCepstralCandidates, [&](int q) {
        const int best = peakNear(q, std::max(2, q / 20));
        if (best >= 0) {
            addLag(best, 0, PitchFrame::kMaxCandidates);
        }
    });
    strongestPeaks(r, PitchFrame::kMaxCandidates, [&](int lag) {
        if (r[lag] > 0.0) {
            addLag(lag, 0, PitchFrame::kMaxCandidates);
        }
    });

    // Sub-sample lags and their strengths; candidates outside the range go.
    // A multiple of the period correlates about as well as the period itself,
    // and in noise it may come out a little higher. A candidate whose lag has
    // a whole part (a half, a third, ... down to the shortest lag searched)
    // that correlates nearly as well as the candidate or better is such a
    // multiple, and loses what that part comes within kSubmultipleMargin of
    // it or above it. A true period correlates clearly worse at its parts,
    // where the waveform is out of step with itself, even when a formant on
    // its second harmonic makes the half-way correlation high, and so keeps
    // its strength. A pure tone correlates fully at every multiple of its
    // period, and its parts at a half or a third of a long multiple may fall
    // on troughs: every part is tried. The multiples may also fill the
    // candidate list before the period itself (sampled off its peak at whole
    // lags) gets in, so the peak at the part that gave a candidate away joins
    // the candidates when none of them lies there.
    for (int i = 0; i < lagCount; ++i) {
        PitchCandidate candidate = refine(r, count, lags[i], m_analysisRateHz);
        const double lag = m_analysisRateHz / candidate.frequencyHz;
        double support = 0.0;
        double period = 0.0;
        for (int part = 2; lag / part >= m_lagLow; ++part) {
            const double correlation =
                std::min(interpolate(r, count, lag / part), kFullCorrelation);
            if (correlation > support) {
                support = correlation;
                period = lag / part;
            }
        }
        const double loss = std::max(0.0, support - (candidate.strength - kSubmultipleMargin));
        candidate.strength -= loss;
        if (loss > 0.0) {
            const int periodLag = peakNear(static_cast<int>(std::lround(period)), 1);
            if (periodLag >= 0) {
                addLag(periodLag, 1, kMaxLags);
            }
        }
        if (!(candidate.frequencyHz >= m_settings.lowHz &&
              candidate.frequencyHz <= m_settings.highHz && std::isfinite(candidate.strength))) {
            continue;
        }
        if (frame.count < PitchFrame::kMaxCandidates) {
            frame.candidates[static_cast<std::size_t>(frame.count++)] = candidate;
            continue;
        }
        // A full list keeps its strongest candidates.
        auto weakest = std::min_element(
            frame.candidates.begin(), frame.candidates.end(),
            [](const PitchCandidate& a, const PitchCandidate& b) { return a.strength < b.strength; });
        if (candidate.strength > weakest->strength) {
            *weakest = candidate;
        }
    }
    return true;
}

double PrecisePitch::quietPeak(double globalPeak) const
{
    if (m_fftLength == 0 || !(globalPeak > 0.0) || !std::isfinite(globalPeak)) {
        return 0.0;
    }
    // The strongest a candidate can be, and the cost of leaving and
    // re-entering voicing around a frame.
    const double strongest =
        kFullCorrelation + kOctaveCost * std::log2(m_settings.highHz / m_settings.lowHz);
    const double changes = 2.0 * kVoicedUnvoicedCost * 10.0 / m_settings.stepMs;
    // The unvoiced strength, kVoicingThreshold + 2 − loudness/(kSilenceThreshold/(1 +
    // kVoicingThreshold)), must exceed strongest + changes.
    const double loudness = (2.0 + kVoicingThreshold - strongest - changes) *
                            (kSilenceThreshold / (1.0 + kVoicingThreshold));
    return loudness > 0.0 ? 0.5 * loudness * globalPeak : 0.0;
}

std::vector<double> PrecisePitch::track(std::span<const PitchFrame> frames) const
{
    double globalPeak = 0.0;
    for (const PitchFrame& frame : frames) {
        globalPeak = std::max(globalPeak, frame.peak);
    }
    PitchPath path;
    std::vector<double> result;
    try {
        result.assign(frames.size(), 0.0);
    } catch (const std::bad_alloc&) {
        return {};
    }
    if (!path.begin(*this, frames.size(), globalPeak) || !path.add(frames) ||
        !path.finish(result)) {
        return {};
    }
    return result;
}

bool PitchPath::begin(const PrecisePitch& analyser, std::size_t frameCount, double globalPeak)
{
    m_frameCount = 0;
    m_added = 0;
    m_lastCount = -1;
    try {
        m_from.assign(frameCount * kStates, 0);
        m_frequencies.assign(frameCount * PitchFrame::kMaxCandidates, 0.0F);
    } catch (const std::bad_alloc&) {
        m_from = {};
        m_frequencies = {};
        return false;
    }
    m_frameCount = frameCount;
    m_globalPeak = analyser.fftLength() > 0 ? globalPeak : 0.0;
    m_lowHz = analyser.m_settings.lowHz;
    // The costs are given per 10 ms step: a shorter step jumps less per frame.
    const double perStep = 10.0 / analyser.m_settings.stepMs;
    m_jumpCost = PrecisePitch::kOctaveJumpCost * perStep;
    m_voicingCost = PrecisePitch::kVoicedUnvoicedCost * perStep;
    return true;
}

double PitchPath::localStrength(const PitchFrame& frame, int state) const
{
    if (state == kStates - 1) {
        const double loudness = m_globalPeak > 0.0 ? frame.peak / m_globalPeak : 0.0;
        return PrecisePitch::kVoicingThreshold +
               std::max(0.0, 2.0 - loudness / (PrecisePitch::kSilenceThreshold /
                                                (1.0 + PrecisePitch::kVoicingThreshold)));
    }
    const PitchCandidate& c = frame.candidates[static_cast<std::size_t>(state)];
    return c.strength + PrecisePitch::kOctaveCost * std::log2(c.frequencyHz / m_lowHz);
}

bool PitchPath::add(std::span<const PitchFrame> frames)
{
    if (frames.size() > m_frameCount - m_added) {
        return false;
    }
    constexpr double kNone = -std::numeric_limits<double>::infinity();
    constexpr int kUnvoiced = kStates - 1;
    for (const PitchFrame& frame : frames) {
        const std::size_t k = m_added++;
        const int count = std::clamp(frame.count, 0, PitchFrame::kMaxCandidates);
        std::array<double, kStates> log2Hz{};
        for (int s = 0; s < count; ++s) {
            const double hz = frame.candidates[static_cast<std::size_t>(s)].frequencyHz;
            log2Hz[static_cast<std::size_t>(s)] = std::log2(hz);
            m_frequencies[k * PitchFrame::kMaxCandidates + static_cast<std::size_t>(s)] =
                static_cast<float>(hz);
        }
        std::array<double, kStates> next{};
        next.fill(kNone);
        for (int s = 0; s < kStates; ++s) {
            if (s != kUnvoiced && s >= count) {
                continue;
            }
            double best = kNone;
            int bestFrom = kUnvoiced;
            if (m_lastCount >= 0) {
                for (int p = 0; p < kStates; ++p) {
                    if (p != kUnvoiced && p >= m_lastCount) {
                        continue;
                    }
                    double cost = 0.0;
                    if (p != kUnvoiced && s != kUnvoiced) {
                        cost = m_jumpCost * std::fabs(m_log2[static_cast<std::size_t>(p)] -
                                                      log2Hz[static_cast<std::size_t>(s)]);
                    } else if ((p == kUnvoiced) != (s == kUnvoiced)) {
                        cost = m_voicingCost;
                    }
                    const double value = m_score[static_cast<std::size_t>(p)] - cost;
                    if (value > best) {
                        best = value;
                        bestFrom = p;
                    }
                }
            } else {
                best = 0.0;
            }
            next[static_cast<std::size_t>(s)] = best + localStrength(frame, s);
            m_from[k * kStates + static_cast<std::size_t>(s)] =
                static_cast<unsigned char>(bestFrom);
        }
        m_score = next;
        m_log2 = log2Hz;
        m_lastCount = count;
    }
    return true;
}

bool PitchPath::finish(std::span<double> result) const
{
    if (m_added != m_frameCount || result.size() != m_frameCount) {
        return false;
    }
    if (m_frameCount == 0) {
        return true;
    }
    int state = kStates - 1;
    for (int s = 0; s < kStates; ++s) {
        if (m_score[static_cast<std::size_t>(s)] > m_score[static_cast<std::size_t>(state)]) {
            state = s;
        }
    }
    for (std::size_t k = m_frameCount; k-- > 0;) {
        result[k] = state == kStates - 1
                        ? 0.0
                        : static_cast<double>(m_frequencies[k * PitchFrame::kMaxCandidates +
                                                            static_cast<std::size_t>(state)]);
        state = m_from[k * kStates + static_cast<std::size_t>(state)];
    }
    return true;
}

} // namespace phonaxis
