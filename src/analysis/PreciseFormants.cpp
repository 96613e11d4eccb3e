#include "analysis/PreciseFormants.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <optional>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace phonaxis {

namespace {

using Complex = std::complex<double>;
constexpr double kPi = std::numbers::pi;

// The resampling low-pass: a sinc cut off at kCutoff analysis cycles per
// analysis sample, under a Kaiser window reaching kKernelHalfWidth analysis
// samples either side. β 7.86 gives about 80 dB of stop-band attenuation; 96
// analysis samples of length a transition about 0.05 of the analysis rate
// wide, centred on the cut-off, so the stop band starts at half the
// analysis rate.
constexpr int kKernelHalfWidth = 48;
constexpr double kKaiserBeta = 7.86;
constexpr double kCutoff = 0.474;
// Kernel table steps per analysis sample; linear interpolation between them
// errs by less than 1e-5 of the peak.
constexpr int kKernelSteps = 256;
// The Gaussian window's standard deviation as a fraction of its length.
constexpr double kGaussianSigma = 1.0 / 8.0;
// Aberth–Ehrlich iteration limit, and Newton polishing steps per root.
constexpr int kMaxIterations = 500;
constexpr int kPolishSteps = 4;
// The low-pass is tabulated by phase when the rates' ratio has a
// denominator this small and the table stays this size (doubles).
constexpr std::int64_t kMaxPhases = 2048;
constexpr std::int64_t kMaxPhaseWeights = std::int64_t{4} << 20;
// Channel positions up to this keep (2g + 1)·P within an int64.
constexpr double kFarthest = 4.0e18;

std::int64_t greatestCommonDivisor(std::int64_t a, std::int64_t b)
{
    while (b != 0) {
        const std::int64_t r = a % b;
        a = b;
        b = r;
    }
    return a;
}

// Σ w[i]·x[i] over n values (n a multiple of 8), in eight interleaved sums
// added in a fixed order: the same bits wherever the values come from.
// (Eight chains keep the adder busy while each waits on its last sum.)
template <typename Sample>
double dot(const double* w, const Sample* x, std::size_t n)
{
    std::array<double, 8> sums{};
    for (std::size_t i = 0; i < n; i += 8) {
        for (std::size_t j = 0; j < 8; ++j) {
            sums[j] += w[i + j] * static_cast<double>(x[i + j]);
        }
    }
    return ((sums[0] + sums[1]) + (sums[2] + sums[3])) +
           ((sums[4] + sums[5]) + (sums[6] + sums[7]));
}

// dot() of two pairs at once, each with the same eight sums in the same
// order as dot() (so the same bits): two independent chains of additions
// keep the adders twice as busy.
template <typename Sample>
void dotPairPortable(const double* w0, const Sample* x0, const double* w1, const Sample* x1,
                     std::size_t n, double& out0, double& out1)
{
    std::array<double, 8> a{};
    std::array<double, 8> b{};
    for (std::size_t i = 0; i < n; i += 8) {
        for (std::size_t j = 0; j < 8; ++j) {
            a[j] += w0[i + j] * static_cast<double>(x0[i + j]);
            b[j] += w1[i + j] * static_cast<double>(x1[i + j]);
        }
    }
    out0 = ((a[0] + a[1]) + (a[2] + a[3])) + ((a[4] + a[5]) + (a[6] + a[7]));
    out1 = ((b[0] + b[1]) + (b[2] + b[3])) + ((b[4] + b[5]) + (b[6] + b[7]));
}

#if defined(__x86_64__)
// Four samples as doubles in one register.
[[gnu::target("avx2")]] inline __m256d wide(const float* x)
{
    return _mm256_cvtps_pd(_mm_loadu_ps(x));
}
[[gnu::target("avx2")]] inline __m256d wide(const double* x)
{
    return _mm256_loadu_pd(x);
}

// dotPairPortable with four sums per register: every sum gets the same
// products in the same order, a multiply and an add never fused (the
// target has no fused multiply-add), so the bits are those of dot().
template <typename Sample>
[[gnu::target("avx2")]] void dotPairAvx2(const double* w0, const Sample* x0, const double* w1,
                                         const Sample* x1, std::size_t n, double& out0,
                                         double& out1)
{
    __m256d a0 = _mm256_setzero_pd();
    __m256d a1 = _mm256_setzero_pd();
    __m256d b0 = _mm256_setzero_pd();
    __m256d b1 = _mm256_setzero_pd();
    for (std::size_t i = 0; i < n; i += 8) {
        a0 = _mm256_add_pd(a0, _mm256_mul_pd(_mm256_loadu_pd(w0 + i), wide(x0 + i)));
        a1 = _mm256_add_pd(a1, _mm256_mul_pd(_mm256_loadu_pd(w0 + i + 4), wide(x0 + i + 4)));
        b0 = _mm256_add_pd(b0, _mm256_mul_pd(_mm256_loadu_pd(w1 + i), wide(x1 + i)));
        b1 = _mm256_add_pd(b1, _mm256_mul_pd(_mm256_loadu_pd(w1 + i + 4), wide(x1 + i + 4)));
    }
    std::array<double, 8> a{};
    std::array<double, 8> b{};
    _mm256_storeu_pd(a.data(), a0);
    _mm256_storeu_pd(a.data() + 4, a1);
    _mm256_storeu_pd(b.data(), b0);
    _mm256_storeu_pd(b.data() + 4, b1);
    out0 = ((a[0] + a[1]) + (a[2] + a[3])) + ((a[4] + a[5]) + (a[6] + a[7]));
    out1 = ((b[0] + b[1]) + (b[2] + b[3])) + ((b[4] + b[5]) + (b[6] + b[7]));
}
#endif

template <typename Sample>
void dotPair(const double* w0, const Sample* x0, const double* w1, const Sample* x1,
             std::size_t n, double& out0, double& out1, bool wide)
{
#if defined(__x86_64__)
    if (wide) {
        dotPairAvx2(w0, x0, w1, x1, n, out0, out1);
        return;
    }
#endif
    (void)wide;
    dotPairPortable(w0, x0, w1, x1, n, out0, out1);
}

// The zeroth-order modified Bessel function of the first kind, by its
// power series (converges quickly for the window's arguments).
double besselI0(double x)
{
    double sum = 1.0;
    double term = 1.0;
    const double quarter = x * x / 4.0;
    for (int k = 1; k < 60 && term > 1e-17 * sum; ++k) {
        term *= quarter / (static_cast<double>(k) * k);
        sum += term;
    }
    return sum;
}

// |z| without the library's guard against overflow, which only values far
// beyond a predictor's (|z| > 1e150) need; those still get it.
double magnitude(Complex z)
{
    const double size = std::sqrt(z.real() * z.real() + z.imag() * z.imag());
    return std::isfinite(size) && size > 1e-150 ? size : std::abs(z);
}

// a / b by Smith's method: the scaling that keeps the quotient of two
// moderate numbers free of overflow, without the library's special cases
// for infinities (a quotient that is not finite is caught by the caller).
Complex divide(Complex a, Complex b)
{
    const double br = b.real();
    const double bi = b.imag();
    if (std::abs(br) >= std::abs(bi)) {
        const double r = bi / br;
        const double d = br + bi * r;
        return {(a.real() + a.imag() * r) / d, (a.imag() - a.real() * r) / d};
    }
    const double r = br / bi;
    const double d = bi + br * r;
    return {(a.real() * r + a.imag()) / d, (a.imag() * r - a.real()) / d};
}

// p(z) and p'(z) of the monic polynomial c[0]·z^n + … + c[n] by Horner's rule.
void evaluate(std::span<const double> c, Complex z, Complex& p, Complex& dp)
{
    p = c[0];
    dp = 0.0;
    for (std::size_t i = 1; i < c.size(); ++i) {
        dp = dp * z + p;
        p = p * z + c[i];
    }
}

// A bound on the rounding error of evaluate's p(z): a few units of the last
// place of Σ|c[i]|·|z|^(n−i). A root whose |p| lies below it is as exact as
// the arithmetic allows.
double roundingBound(std::span<const double> c, Complex z)
{
    const double r = magnitude(z);
    double sum = 0.0;
    for (const double value : c) {
        sum = sum * r + std::abs(value);
    }
    return 8.0 * static_cast<double>(c.size()) * std::numeric_limits<double>::epsilon() * sum;
}

double magnitudeAt(std::span<const double> c, Complex z)
{
    Complex p;
    Complex dp;
    evaluate(c, z, p, dp);
    return magnitude(p);
}

} // namespace

// --- the analysis ----------------------------------------------------------------

bool PreciseFormants::accepts(double sampleRateHz, double ceilingHz)
{
    return sampleRateHz >= kMinRateHz && sampleRateHz <= kMaxRateHz && std::isfinite(ceilingHz) &&
           ceilingHz >= kMinCeilingHz;
}

namespace {

bool wideKernelsAvailable()
{
#if defined(__x86_64__)
    static const bool available = __builtin_cpu_supports("avx2");
    return available;
#else
    return false;
#endif
}

} // namespace

PreciseFormants::PreciseFormants(double sampleRateHz, double ceilingHz)
    : m_bWideKernels(wideKernelsAvailable())
{
    if (!accepts(sampleRateHz, ceilingHz)) {
        return;
    }
    m_dSampleRate = sampleRateHz;
    m_bResampling = sampleRateHz > 2.0 * ceilingHz;
    m_dAnalysisRate = m_bResampling ? 2.0 * ceilingHz : sampleRateHz;
    m_dRatio = sampleRateHz / m_dAnalysisRate;
    // A channel whose half rate lies below the ceiling holds fewer formants
    // than five: as many as fit below its half rate at the density the
    // ceiling implies, two poles each.
    m_nOrder = std::clamp(
        static_cast<int>(std::lround(kOrder * (m_dAnalysisRate / 2.0) / ceilingHz)), 2, kOrder);
    m_nFrame =
        std::max(static_cast<int>(std::lround(kWindowMs / 1000.0 * m_dAnalysisRate)), 4 * kOrder);

    // The frame reaches (m_nFrame + 1)/2 analysis samples either side of the
    // centre (with the sample before the window for the pre-emphasis), the
    // low-pass kKernelHalfWidth more.
    const double halfFrame = (m_nFrame + 1) / 2.0 + 1.0;
    const double halfSpan = m_bResampling ? (halfFrame + kKernelHalfWidth) * m_dRatio : halfFrame;
    m_nReach = static_cast<std::int64_t>(std::ceil(halfSpan)) + 2;

    if (m_bResampling) {
        // Weights per channel sample: the low-pass's impulse response in
        // analysis samples, divided by the channel samples per analysis
        // sample so that the weights of one output sum to about 1.
        const int entries = kKernelHalfWidth * kKernelSteps + 2;
        m_kernel.resize(static_cast<std::size_t>(entries));
        const double norm = besselI0(kKaiserBeta);
        for (int i = 0; i < entries; ++i) {
            const double v = static_cast<double>(i) / kKernelSteps;
            const double x = 2.0 * kCutoff * v;
            const double sinc = i == 0 ? 1.0 : std::sin(kPi * x) / (kPi * x);
            const double edge = v / kKernelHalfWidth;
            const double window =
                edge >= 1.0 ? 0.0 : besselI0(kKaiserBeta * std::sqrt(1.0 - edge * edge)) / norm;
            m_kernel[static_cast<std::size_t>(i)] = 2.0 * kCutoff * sinc * window / m_dRatio;
        }
    }
    m_window.resize(static_cast<std::size_t>(m_nFrame));
    const double middle = (m_nFrame - 1) / 2.0;
    const double sigma = kGaussianSigma * m_nFrame;
    for (int i = 0; i < m_nFrame; ++i) {
        const double d = (i - middle) / sigma;
        m_window[static_cast<std::size_t>(i)] = std::exp(-0.5 * d * d);
    }
    m_frame.resize(static_cast<std::size_t>(m_nFrame) + 1);
    m_forward.resize(static_cast<std::size_t>(m_nFrame));
    m_backward.resize(static_cast<std::size_t>(m_nFrame));
    m_nGridHalf = m_nFrame % 2 == 0 ? 1 : 0;
    m_nGridMiddle = m_nFrame / 2;
    if (m_bResampling && sampleRateHz == std::floor(sampleRateHz) &&
        m_dAnalysisRate == std::floor(m_dAnalysisRate)) {
        const auto rate = static_cast<std::int64_t>(sampleRateHz);
        const auto analysisRate = static_cast<std::int64_t>(m_dAnalysisRate);
        const std::int64_t divisor = greatestCommonDivisor(rate, analysisRate);
        const std::int64_t phases = 2 * (analysisRate / divisor);
        const double reachSamples = kKernelHalfWidth * m_dRatio;
        const auto low = static_cast<std::int64_t>(std::floor(-reachSamples)) - 1;
        const auto high = static_cast<std::int64_t>(std::ceil(1.0 + reachSamples)) + 1;
        const auto taps = static_cast<std::size_t>((high - low + 1 + 7) / 8 * 8);
        if (phases <= kMaxPhases && phases * static_cast<std::int64_t>(taps) <= kMaxPhaseWeights) {
            m_nPhaseNumerator = rate / divisor;
            m_nPhases = phases;
            m_nTapLow = low;
            m_nTaps = taps;
        }
    }
    m_bUsable = true;
}

void PreciseFormants::setWideKernels(bool on)
{
    m_bWideKernels = on && wideKernelsAvailable();
}

// Weights by phase: for phase ρ, channel sample base + m (m from m_nTapLow)
// lies ρ/D − m channel samples before the grid sample, and weighs the
// low-pass there (linearly interpolated in its table), 0 beyond its reach.
void PreciseFormants::buildPhases()
{
    m_phaseWeights.assign(static_cast<std::size_t>(m_nPhases) * m_nTaps, 0.0);
    m_taps.assign(m_nTaps, 0.0);
    const double reachSamples = kKernelHalfWidth * m_dRatio;
    const double stepsPerChannelSample = kKernelSteps / m_dRatio;
    const auto last = static_cast<std::int64_t>(m_kernel.size()) - 2;
    for (std::int64_t phase = 0; phase < m_nPhases; ++phase) {
        const double offset = static_cast<double>(phase) / static_cast<double>(m_nPhases);
        double* weights = m_phaseWeights.data() + static_cast<std::size_t>(phase) * m_nTaps;
        for (std::size_t tap = 0; tap < m_nTaps; ++tap) {
            const double distance =
                std::abs(offset - static_cast<double>(m_nTapLow + static_cast<std::int64_t>(tap)));
            if (distance > reachSamples) {
                continue;
            }
            const double position = distance * stepsPerChannelSample;
            const auto index = static_cast<std::int64_t>(position);
            if (index > last) {
                continue;
            }
            const double fraction = position - static_cast<double>(index);
            const auto i = static_cast<std::size_t>(index);
            weights[tap] = m_kernel[i] + fraction * (m_kernel[i + 1] - m_kernel[i]);
        }
    }
    m_bPhasesBuilt = true;
}

PreciseFormantSet PreciseFormants::analyse(std::span<const float> samples, std::int64_t first,
                                           double centre)
{
    return analyseIn(samples, first, centre, false);
}

PreciseFormantSet PreciseFormants::analyse(std::span<const double> samples, std::int64_t first,
                                           double centre)
{
    return analyseIn(samples, first, centre, false);
}

PreciseFormantSet PreciseFormants::analyseNext(std::span<const float> samples, std::int64_t first,
                                               double centre)
{
    return analyseIn(samples, first, centre, true);
}

PreciseFormantSet PreciseFormants::analyseNext(std::span<const double> samples,
                                               std::int64_t first, double centre)
{
    return analyseIn(samples, first, centre, true);
}

template <typename Sample>
PreciseFormantSet PreciseFormants::analyseIn(std::span<const Sample> samples, std::int64_t first,
                                             double centre, bool continuing)
{
    if (!m_bUsable || !std::isfinite(centre) ||
        !resampleAround(samples, first, centre, continuing)) {
        return {};
    }
    return formantsOfFrame();
}

double PreciseFormants::levelDb(std::span<const float> samples, std::int64_t first,
                                double centre) const
{
    return windowLevelDb(samples, first, centre);
}

double PreciseFormants::levelDb(std::span<const double> samples, std::int64_t first,
                                double centre) const
{
    return windowLevelDb(samples, first, centre);
}

template <typename Sample>
double PreciseFormants::windowLevelDb(std::span<const Sample> samples, std::int64_t first,
                                      double centre) const
{
    constexpr double kSilence = -std::numeric_limits<double>::infinity();
    if (!m_bUsable || !std::isfinite(centre) || std::abs(centre) > kFarthest ||
        std::abs(static_cast<double>(first)) > kFarthest) {
        return kSilence;
    }
    // The window in channel samples: m_nFrame analysis samples of m_dRatio
    // channel samples each, centred on `centre`. Its powers depend only on
    // the centre's fractional part, so they are kept for the next centre
    // with the same one (every centre of a track whose step is a whole
    // number of samples).
    const double whole = std::floor(centre);
    const double phase = centre - whole;
    if (phase != m_dLevelPhase || m_levelPower.empty()) {
        const double half = m_nFrame * m_dRatio / 2.0;
        const double sigma = kGaussianSigma * m_nFrame * m_dRatio;
        const auto lo = static_cast<std::int64_t>(std::ceil(phase - half));
        const auto hi = static_cast<std::int64_t>(std::floor(phase + half));
        m_levelPower.resize(static_cast<std::size_t>(std::max<std::int64_t>(hi - lo + 1, 0)));
        // The window's w² at k, exp(−d²) with d = (k − phase)/σ, by the
        // recurrence exp(−(d + δ)²) = exp(−d²)·exp(−(2d + δ)δ) whose factor
        // shrinks by exp(−2δ²) a step: two exponentials a window instead of
        // one a sample (a spectrogram's columns each have their own phase).
        // The products drift from the exponentials by about 1e-13 relative
        // over the longest window, far below anything a level shows.
        double weights = 0.0;
        const double delta = 1.0 / sigma;
        const double d0 = (static_cast<double>(lo) - phase) / sigma;
        double power = std::exp(-d0 * d0);
        double factor = std::exp(-(2.0 * d0 + delta) * delta);
        const double shrink = std::exp(-2.0 * delta * delta);
        for (std::int64_t k = lo; k <= hi; ++k) {
            m_levelPower[static_cast<std::size_t>(k - lo)] = power;
            weights += power;
            power *= factor;
            factor *= shrink;
        }
        m_nLevelLow = lo;
        m_dLevelWeights = weights;
        m_dLevelPhase = phase;
    }
    const auto count = static_cast<std::int64_t>(samples.size());
    const std::int64_t start = static_cast<std::int64_t>(whole) + m_nLevelLow;
    const auto size = static_cast<std::int64_t>(m_levelPower.size());
    const std::int64_t from = std::max(start, first);
    const std::int64_t to = std::min(start + size, first + count);
    double weighted = 0.0;
    for (std::int64_t k = from; k < to; ++k) {
        const auto x = static_cast<double>(samples[static_cast<std::size_t>(k - first)]);
        weighted += m_levelPower[static_cast<std::size_t>(k - start)] * x * x;
    }
    if (!(weighted > 0.0) || !(m_dLevelWeights > 0.0)) {
        return kSilence;
    }
    return 10.0 * std::log10(weighted / m_dLevelWeights);
}

std::optional<PreciseFormants::GridTaps> PreciseFormants::gridTaps(std::int64_t g)
{
    // (2g + 1)·P must fit an int64; positions that far out are computed directly.
    const std::int64_t tabulatedUpTo = std::numeric_limits<std::int64_t>::max() / 4 /
                                       std::max<std::int64_t>(m_nPhaseNumerator, 1);
    if (m_nPhaseNumerator <= 0 || g >= tabulatedUpTo || g <= -tabulatedUpTo) {
        return std::nullopt;
    }
    if (!m_bPhasesBuilt) {
        buildPhases();
    }
    const std::int64_t numerator = (2 * g + m_nGridHalf) * m_nPhaseNumerator;
    std::int64_t base = numerator / m_nPhases;
    std::int64_t phase = numerator % m_nPhases;
    if (phase < 0) {
        phase += m_nPhases;
        --base;
    }
    return GridTaps{m_phaseWeights.data() + static_cast<std::size_t>(phase) * m_nTaps,
                    base + m_nTapLow};
}

// The phase weights and the first sample of grid sample g when it is
// tabulated and all its taps lie inside the samples; nothing otherwise
// (gridSample then computes it).
template <typename Sample>
std::optional<std::pair<const double*, const Sample*>> PreciseFormants::tabulatedTaps(
    std::span<const Sample> samples, std::int64_t first, std::int64_t g)
{
    const std::optional<GridTaps> taps = gridTaps(g);
    if (!taps) {
        return std::nullopt;
    }
    const std::int64_t from = taps->firstTap - first;
    if (from < 0 || from + static_cast<std::int64_t>(m_nTaps) > static_cast<std::int64_t>(samples.size())) {
        return std::nullopt;
    }
    return std::pair{taps->weights, samples.data() + from};
}

// Grid sample g of the channel: the low-pass's weighted sum of the channel
// samples within its reach of position (2g + m_nGridHalf)·r/2.
template <typename Sample>
double PreciseFormants::gridSample(std::span<const Sample> samples, std::int64_t first,
                                   std::int64_t g)
{
    const auto count = static_cast<std::int64_t>(samples.size());
    if (const std::optional<GridTaps> taps = gridTaps(g)) {
        const std::int64_t from = taps->firstTap - first;
        if (from >= 0 && from + static_cast<std::int64_t>(m_nTaps) <= count) {
            return dot(taps->weights, samples.data() + from, m_nTaps);
        }
        // Near the ends of the samples: those missing read as 0.
        for (std::size_t tap = 0; tap < m_nTaps; ++tap) {
            const std::int64_t i = from + static_cast<std::int64_t>(tap);
            m_taps[tap] = i >= 0 && i < count
                              ? static_cast<double>(samples[static_cast<std::size_t>(i)])
                              : 0.0;
        }
        return dot(taps->weights, m_taps.data(), m_nTaps);
    }
    const double t = (static_cast<double>(g) + 0.5 * m_nGridHalf) * m_dRatio;
    const double reachSamples = kKernelHalfWidth * m_dRatio;
    const double stepsPerChannelSample = kKernelSteps / m_dRatio;
    const auto last = static_cast<std::int64_t>(m_kernel.size()) - 2;
    const auto lo = static_cast<std::int64_t>(std::ceil(t - reachSamples));
    const auto hi = static_cast<std::int64_t>(std::floor(t + reachSamples));
    double sum = 0.0;
    for (std::int64_t k = std::max(lo, first); k <= std::min(hi, first + count - 1); ++k) {
        const double position = std::abs(t - static_cast<double>(k)) * stepsPerChannelSample;
        const auto index = static_cast<std::int64_t>(position);
        if (index > last) {
            continue;
        }
        const double fraction = position - static_cast<double>(index);
        const auto i = static_cast<std::size_t>(index);
        const double weight = m_kernel[i] + fraction * (m_kernel[i + 1] - m_kernel[i]);
        sum += weight * static_cast<double>(samples[static_cast<std::size_t>(k - first)]);
    }
    return sum;
}

// Fills m_frame with the m_nFrame + 1 analysis samples of the window
// centred nearest `centre` (the first is the one before the window).
// Continuing a run, the grid samples the last frame shares with this one
// are moved rather than computed again. False when the centre lies so far
// outside the channel that positions do not fit.
template <typename Sample>
bool PreciseFormants::resampleAround(std::span<const Sample> samples, std::int64_t first,
                                     double centre, bool continuing)
{
    if (std::abs(centre) > kFarthest || std::abs(static_cast<double>(first)) > kFarthest) {
        return false;
    }
    const auto count = static_cast<std::int64_t>(samples.size());
    const auto at = [&](std::int64_t channelIndex) -> double {
        const std::int64_t i = channelIndex - first;
        return i >= 0 && i < count ? static_cast<double>(samples[static_cast<std::size_t>(i)])
                                   : 0.0;
    };
    const double middle = (m_nFrame - 1) / 2.0;
    if (!m_bResampling) {
        // The window's samples are the channel's own, the middle one nearest the centre.
        const auto start = static_cast<std::int64_t>(std::floor(centre - middle + 0.5)) - 1;
        for (int j = 0; j <= m_nFrame; ++j) {
            m_frame[static_cast<std::size_t>(j)] = at(start + j);
        }
        m_bFrameValid = false;
        return true;
    }
    // The grid sample nearest the centre is the window's middle (for an
    // even window, the grid sample just after it).
    const double onGrid = centre * m_dAnalysisRate / m_dSampleRate;
    const std::int64_t start =
        static_cast<std::int64_t>(std::floor(onGrid + 0.5)) - m_nGridMiddle - 1;
    const auto length = static_cast<std::int64_t>(m_frame.size());
    const bool sameRun = continuing && m_bFrameValid && m_pRunData == samples.data() &&
                         m_nRunSize == samples.size() && m_nRunFirst == first;
    std::int64_t keptFrom = 0; // frame slots [keptFrom, keptTo) already hold their samples
    std::int64_t keptTo = 0;
    if (sameRun) {
        const std::int64_t shift = start - m_nFrameStart;
        if (shift >= 0 && shift < length) {
            std::copy(m_frame.begin() + shift, m_frame.end(), m_frame.begin());
            keptTo = length - shift;
        } else if (shift < 0 && -shift < length) {
            std::copy_backward(m_frame.begin(), m_frame.end() + shift, m_frame.end());
            keptFrom = -shift;
            keptTo = length;
        }
    }
    for (std::int64_t j = 0; j < length; ++j) {
        if (j >= keptFrom && j < keptTo) {
            j = keptTo - 1;
            continue;
        }
        // Two grid samples at a time where both lie wholly inside the
        // samples (the same bits as one at a time).
        if (j + 1 < length && !(j + 1 >= keptFrom && j + 1 < keptTo)) {
            const auto a = tabulatedTaps(samples, first, start + j);
            const auto b = a ? tabulatedTaps(samples, first, start + j + 1)
                             : std::optional<std::pair<const double*, const Sample*>>{};
            if (a && b) {
                dotPair(a->first, a->second, b->first, b->second, m_nTaps,
                        m_frame[static_cast<std::size_t>(j)],
                        m_frame[static_cast<std::size_t>(j + 1)], m_bWideKernels);
                ++j;
                continue;
            }
        }
        m_frame[static_cast<std::size_t>(j)] = gridSample(samples, first, start + j);
    }
    m_pRunData = samples.data();
    m_nRunSize = samples.size();
    m_nRunFirst = first;
    m_nFrameStart = start;
    m_bFrameValid = true;
    return true;
}

PreciseFormantSet PreciseFormants::formantsOfFrame()
{
    m_bHaveModel = false;
    // Pre-emphasis and the window.
    const double alpha = std::exp(-2.0 * kPi * kPreEmphasisFromHz / m_dAnalysisRate);
    const auto n = static_cast<std::size_t>(m_nFrame);
    double energy = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double value = (m_frame[i + 1] - alpha * m_frame[i]) * m_window[i];
        m_forward[i] = value;
        m_backward[i] = value;
        energy += value * value;
    }
    if (!(energy > 0.0) || !std::isfinite(energy)) {
        return {};
    }

    // Burg's method: each stage's reflection coefficient minimises the sum
    // of the forward and backward prediction errors' energies.
    std::array<double, kOrder + 1> a{};
    std::array<double, kOrder + 1> previous{};
    a[0] = 1.0;
    for (int m = 1; m <= m_nOrder; ++m) {
        double numerator = 0.0;
        double denominator = 0.0;
        for (std::size_t i = static_cast<std::size_t>(m); i < n; ++i) {
            numerator += m_forward[i] * m_backward[i - 1];
            denominator += m_forward[i] * m_forward[i] + m_backward[i - 1] * m_backward[i - 1];
        }
        if (!(denominator > 0.0)) {
            break; // the frame is fully predicted: the order so far suffices
        }
        const double k = -2.0 * numerator / denominator;
        previous = a;
        for (int i = 1; i < m; ++i) {
            a[static_cast<std::size_t>(i)] = previous[static_cast<std::size_t>(i)] +
                                             k * previous[static_cast<std::size_t>(m - i)];
        }
        a[static_cast<std::size_t>(m)] = k;
        for (std::size_t i = n - 1; i >= static_cast<std::size_t>(m); --i) {
            const double f = m_forward[i];
            m_forward[i] = f + k * m_backward[i - 1];
            m_backward[i] = m_backward[i - 1] + k * f;
        }
    }

    std::array<Complex, kOrder> roots{};
    const auto order = static_cast<std::size_t>(m_nOrder);
    if (!precise::polynomialRoots(std::span(a).first(order + 1), std::span(roots).first(order))) {
        return {};
    }
    m_predictor = a;
    m_bHaveModel = true;
    return precise::formantsFromRoots(roots, m_dAnalysisRate, kEdgeMarginHz,
                                      ceilingHz() - kEdgeMarginHz);
}

double PreciseFormants::envelopeDb(double frequencyHz) const
{
    if (!m_bHaveModel || !(frequencyHz >= 0.0) || !(frequencyHz <= ceilingHz())) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    // 1/|A|² of the predictor, divided by |1 − α·e^(−jω)|², the pre-emphasis.
    const double omega = 2.0 * kPi * frequencyHz / m_dAnalysisRate;
    Complex predictor = 0.0;
    for (int k = 0; k <= m_nOrder; ++k) {
        predictor += m_predictor[static_cast<std::size_t>(k)] * std::polar(1.0, -omega * k);
    }
    const double alpha = std::exp(-2.0 * kPi * kPreEmphasisFromHz / m_dAnalysisRate);
    const Complex emphasis = 1.0 - alpha * std::polar(1.0, -omega);
    // (A pole on the unit circle at this very frequency gives the highest
    // level a double holds rather than an infinity.)
    const double power =
        std::max(std::norm(predictor) * std::norm(emphasis), std::numeric_limits<double>::min());
    return -10.0 * std::log10(power);
}

// --- roots -----------------------------------------------------------------------

namespace precise {

bool polynomialRoots(std::span<const double> coefficients, std::span<std::complex<double>> roots)
{
    if (coefficients.size() < 2 || coefficients.size() > kMaxDegree + 1 ||
        roots.size() != coefficients.size() - 1 || coefficients[0] != 1.0) {
        return false;
    }
    for (const double c : coefficients) {
        if (!std::isfinite(c)) {
            return false;
        }
    }
    const std::size_t degree = roots.size();
    // Start on a circle of the roots' geometric mean modulus, turned off the
    // real axis so that no start is a conjugate of another.
    const double product = std::abs(coefficients[degree]);
    const double radius =
        product > 0.0 ? std::pow(product, 1.0 / static_cast<double>(degree)) : 0.5;
    for (std::size_t k = 0; k < degree; ++k) {
        const double angle = 2.0 * kPi * static_cast<double>(k) / static_cast<double>(degree) + 0.4;
        roots[k] = std::polar(radius, angle);
    }
    bool converged = false;
    for (int iteration = 0; iteration < kMaxIterations && !converged; ++iteration) {
        converged = true;
        for (std::size_t k = 0; k < degree; ++k) {
            Complex p;
            Complex dp;
            evaluate(coefficients, roots[k], p, dp);
            if (magnitude(p) <= roundingBound(coefficients, roots[k])) {
                continue;
            }
            Complex repulsion = 0.0;
            for (std::size_t j = 0; j < degree; ++j) {
                if (j != k) {
                    repulsion += divide(1.0, roots[k] - roots[j]);
                }
            }
            const Complex ratio = divide(p, dp);
            const Complex step =
                dp == 0.0 ? divide(1.0, repulsion) : divide(ratio, 1.0 - ratio * repulsion);
            if (!std::isfinite(step.real()) || !std::isfinite(step.imag())) {
                converged = false;
                continue;
            }
            roots[k] -= step;
            converged = false;
        }
    }
    polishRoots(coefficients, roots);
    return converged;
}

void polishRoots(std::span<const double> coefficients, std::span<std::complex<double>> roots)
{
    for (std::size_t k = 0; k < roots.size(); ++k) {
        const Complex start = roots[k];
        double nearest = std::numeric_limits<double>::infinity();
        for (std::size_t j = 0; j < roots.size(); ++j) {
            if (j != k) {
                nearest = std::min(nearest, magnitude(start - roots[j]));
            }
        }
        Complex z = start;
        double size = magnitudeAt(coefficients, z);
        for (int step = 0; step < kPolishSteps && size > 0.0; ++step) {
            Complex p;
            Complex dp;
            evaluate(coefficients, z, p, dp);
            if (dp == 0.0) {
                break;
            }
            const Complex next = z - divide(p, dp);
            const double nextSize = magnitudeAt(coefficients, next);
            if (!(nextSize < size) || !(magnitude(next - start) < nearest / 2.0)) {
                break;
            }
            z = next;
            size = nextSize;
        }
        roots[k] = z;
    }
}

// Formant bandwidths of a voice stay well below this even for a broad F1
// at a high F0; a broader pole is the model's spare.
constexpr double kBroadestFormantHz = 1000.0;

PreciseFormantSet formantsFromRoots(std::span<const std::complex<double>> roots, double rateHz,
                                    double lowHz, double highHz)
{
    std::array<std::pair<double, double>, kMaxDegree> found{};
    std::size_t count = 0;
    for (Complex z : roots) {
        if (!(z.imag() > 0.0) || !std::isfinite(z.real()) || count == found.size()) {
            continue;
        }
        const double modulus = std::abs(z);
        if (modulus > 1.0) {
            z = 1.0 / std::conj(z);
        }
        const double frequency = std::arg(z) * rateHz / (2.0 * kPi);
        const double bandwidth = -std::log(std::abs(z)) * rateHz / kPi;
        if (frequency > lowHz && frequency < highHz && std::isfinite(bandwidth) &&
            bandwidth < kBroadestFormantHz) {
            found[count++] = {frequency, bandwidth};
        }
    }
    std::sort(found.begin(), found.begin() + static_cast<std::ptrdiff_t>(count));
    PreciseFormantSet set;
    set.count = static_cast<int>(std::min<std::size_t>(count, PreciseFormantSet::kMaxFormants));
    for (int i = 0; i < set.count; ++i) {
        set.frequencyHz[static_cast<std::size_t>(i)] = found[static_cast<std::size_t>(i)].first;
        set.bandwidthHz[static_cast<std::size_t>(i)] = found[static_cast<std::size_t>(i)].second;
    }
    return set;
}

} // namespace precise

} // namespace phonaxis
