#include "analysis/PrecisePitch.h"

#include "analysis/CMathFunc.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <new>
#include <numbers>

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
// Golden-section steps refining a lag inside ±1 sample: 0.618^24 · 2 leaves
// 2·10⁻⁵ of a sample.
constexpr int kRefineSteps = 24;
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
// Relative floor of the power spectrum before its logarithm is taken, so a
// bin of exactly zero power stays finite.
constexpr double kPowerFloor = 1e-20;

// One thread's work storage, grown to the longest transform the thread has
// been asked for.
struct PreciseWork {
    std::vector<double> re;
    std::vector<double> im;
    std::vector<double> correlation;
    std::array<int, kMaxLags> lags{};
};

// This thread's work storage with room for an n-point transform; null when
// the memory cannot be had.
PreciseWork* preciseWork(int n) noexcept
{
    thread_local PreciseWork work;
    const auto size = static_cast<std::size_t>(n);
    if (work.re.size() < size || work.im.size() < size || work.correlation.size() < size) {
        try {
            work.re.resize(size);
            work.im.resize(size);
            work.correlation.resize(size);
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }
    return &work;
}

// The normalised autocorrelation r at a fractional lag, by windowed sinc
// interpolation of its values at whole lags (r is even: r(−j) = r(j)).
double interpolate(const double* r, int count, double lag)
{
    const double base = std::floor(lag);
    const double phase = lag - base;
    const int whole = static_cast<int>(base);
    if (phase == 0.0) {
        return r[std::min(std::abs(whole), count - 1)];
    }
    // sin(π(phase − i)) = (−1)^i·sin(π·phase)
    const double sinPhase = std::sin(std::numbers::pi * phase);
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
// and r there (at most kFullCorrelation).
PitchCandidate refine(const double* r, int count, int lag, double rateHz)
{
    constexpr double kGolden = 0.6180339887498949;
    double a = lag - 1.0;
    double b = lag + 1.0;
    double x1 = b - kGolden * (b - a);
    double x2 = a + kGolden * (b - a);
    double f1 = interpolate(r, count, x1);
    double f2 = interpolate(r, count, x2);
    for (int step = 0; step < kRefineSteps; ++step) {
        if (f1 >= f2) {
            b = x2;
            x2 = x1;
            f2 = f1;
            x1 = b - kGolden * (b - a);
            f1 = interpolate(r, count, x1);
        } else {
            a = x1;
            x1 = x2;
            f1 = f2;
            x2 = a + kGolden * (b - a);
            f2 = interpolate(r, count, x2);
        }
    }
    double best = 0.5 * (a + b);
    double strength = interpolate(r, count, best);
    // The whole lag itself wins when the interpolation found nothing higher.
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
    // The shortest lag must leave room for a peak on each side; a ceiling
    // near the Nyquist frequency cannot be tracked.
    const double lagLow = std::floor(rate / settings.highHz);
    const double lagHigh = std::ceil(rate / settings.lowHz);
    if (!(lagLow >= 2.0) || !(lagHigh <= CMathFunc::kMaxFftLength)) {
        return false;
    }
    // Three periods of the floor make the autocorrelation at the longest lag
    // rest on two thirds of the window. The window and the lags it needs must
    // fit the largest transform; a floor too low for it is raised.
    const double windowMs = std::max(settings.windowMs, 3000.0 / settings.lowHz);
    constexpr int kLargestWindow = (CMathFunc::kMaxFftLength - kSincDepth - 3) * 3 / 4;
    const double windowReal = std::round(rate * windowMs / 1000.0);
    if (!(windowReal >= 8.0)) {
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

    try {
        m_window.assign(static_cast<std::size_t>(window), 0.0);
        m_windowCorrelation.assign(static_cast<std::size_t>(lagLimit + kSincDepth + 3), 0.0);
    } catch (const std::bad_alloc&) {
        return false;
    }
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

    // The autocorrelation's pass band, bins 0 … N/2.
    const int bins = (1 << order) / 2 + 1;
    try {
        m_passBand.assign(static_cast<std::size_t>(bins), 0.0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (int k = 0; k < bins; ++k) {
        const double hz = k * rate / (1 << order);
        double gain = 0.0;
        if (hz <= kPassHz) {
            gain = 1.0;
        } else if (hz < kStopHz) {
            gain = 0.5 + 0.5 * std::cos(std::numbers::pi * (hz - kPassHz) / (kStopHz - kPassHz));
        }
        m_passBand[static_cast<std::size_t>(k)] = gain;
    }

    m_settings = settings;
    m_lagLow = static_cast<int>(lagLow);
    m_lagHigh = lagLimit;
    m_fftOrder = order;
    m_fftLength = 1 << order;
    m_windowSamples = window;
    return true;
}

double PrecisePitch::windowMs() const
{
    return m_settings.rateHz > 0.0 ? 1000.0 * m_windowSamples / m_settings.rateHz : 0.0;
}

bool PrecisePitch::analyseFrame(std::span<const float> samples, std::int64_t available,
                                double centre, PitchFrame& frame) const
{
    frame = PitchFrame{};
    if (m_fftLength == 0) {
        return false;
    }
    PreciseWork* work = preciseWork(m_fftLength);
    if (work == nullptr) {
        return false;
    }
    const int n = m_fftLength;
    const int w = m_windowSamples;
    available = std::min<std::int64_t>(available, static_cast<std::int64_t>(samples.size()));
    double* re = work->re.data();
    double* im = work->im.data();

    // The frame, its mean removed, Hann-windowed and zero-padded.
    constexpr double kIndexLimit = 9.0e15;
    const auto first = static_cast<std::int64_t>(
        std::clamp(std::round(centre - 0.5 * w), -kIndexLimit, kIndexLimit));
    const std::int64_t from = std::clamp<std::int64_t>(-first, 0, w);
    const std::int64_t to = std::clamp<std::int64_t>(available - first, from, w);
    double mean = 0.0;
    for (std::int64_t i = from; i < to; ++i) {
        mean += samples[static_cast<std::size_t>(first + i)];
    }
    mean /= w;
    double peak = 0.0;
    for (int i = 0; i < w; ++i) {
        const double x =
            (i >= from && i < to ? static_cast<double>(samples[static_cast<std::size_t>(first + i)])
                                 : 0.0) -
            mean;
        peak = std::max(peak, std::fabs(x));
        re[i] = x * m_window[static_cast<std::size_t>(i)];
    }
    std::fill(re + w, re + n, 0.0);
    std::fill(im, im + n, 0.0);
    frame.peak = peak;
    if (!(peak > 0.0) || !std::isfinite(peak)) {
        return true;
    }

    // Power and log magnitude spectra, both real and even; one transform of
    // power + i·log magnitude gives the autocorrelation in the real part and
    // the cepstrum in the imaginary part.
    const std::span<double> reSpan(re, static_cast<std::size_t>(n));
    const std::span<double> imSpan(im, static_cast<std::size_t>(n));
    if (!CMathFunc::FFT_CODE_REAL(reSpan, imSpan, m_fftOrder)) {
        return false;
    }
    double largestPower = 0.0;
    for (int k = 0; k < n; ++k) {
        const double power = re[k] * re[k] + im[k] * im[k];
        re[k] = power;
        largestPower = std::max(largestPower, power);
    }
    const double powerFloor = largestPower * kPowerFloor;
    const double* passBand = m_passBand.data();
    for (int k = 0; k < n; ++k) {
        im[k] = 0.5 * std::log(re[k] + powerFloor);
        re[k] *= passBand[k <= n / 2 ? k : n - k];
    }
    if (!CMathFunc::FFT_CODE_REAL(reSpan, imSpan, m_fftOrder)) {
        return false;
    }
    if (!(re[0] > 0.0)) {
        return true;
    }

    // The normalised autocorrelation over the lags the search and its
    // interpolation read.
    const int count = static_cast<int>(m_windowCorrelation.size());
    double* r = work->correlation.data();
    for (int lag = 0; lag < count; ++lag) {
        r[lag] = re[lag] / re[0] / m_windowCorrelation[static_cast<std::size_t>(lag)];
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
    const auto strongestPeaks = [&](const double* v, int wanted, const auto& use) {
        // Repeated selection: a frame has few peaks worth taking.
        int previous = -1;
        double previousValue = std::numeric_limits<double>::infinity();
        for (int taken = 0; taken < wanted; ++taken) {
            int best = -1;
            for (int lag = m_lagLow; lag < m_lagHigh; ++lag) {
                if (!isPeak(v, lag)) {
                    continue;
                }
                // Strictly after the previous pick in (value desc, lag asc) order.
                const bool after =
                    v[lag] < previousValue || (v[lag] == previousValue && lag > previous);
                if (after && (best < 0 || v[lag] > v[best])) {
                    best = lag;
                }
            }
            if (best < 0) {
                return;
            }
            use(best);
            previous = best;
            previousValue = v[best];
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
        PitchCandidate candidate = refine(r, count, lags[i], m_settings.rateHz);
        const double lag = m_settings.rateHz / candidate.frequencyHz;
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

std::vector<double> PrecisePitch::track(std::span<const PitchFrame> frames) const
{
    std::vector<double> result;
    std::vector<unsigned char> from;                        // the best predecessor of each state
    constexpr int kStates = PitchFrame::kMaxCandidates + 1; // the last is unvoiced
    try {
        result.assign(frames.size(), 0.0);
        from.assign(frames.size() * kStates, 0);
    } catch (const std::bad_alloc&) {
        return {};
    }
    if (frames.empty() || m_fftLength == 0) {
        return result;
    }
    double globalPeak = 0.0;
    for (const PitchFrame& frame : frames) {
        globalPeak = std::max(globalPeak, frame.peak);
    }
    // The costs are given per 10 ms step: a shorter step jumps less per frame.
    const double perStep = 10.0 / m_settings.stepMs;
    const double jumpCost = kOctaveJumpCost * perStep;
    const double voicingCost = kVoicedUnvoicedCost * perStep;
    const auto localStrength = [&](const PitchFrame& frame, int state) {
        if (state == kStates - 1) {
            const double loudness = globalPeak > 0.0 ? frame.peak / globalPeak : 0.0;
            return kVoicingThreshold +
                   std::max(0.0, 2.0 - loudness / (kSilenceThreshold / (1.0 + kVoicingThreshold)));
        }
        const PitchCandidate& c = frame.candidates[static_cast<std::size_t>(state)];
        return c.strength + kOctaveCost * std::log2(c.frequencyHz / m_settings.lowHz);
    };
    const auto used = [](const PitchFrame& frame, int state) {
        return state == kStates - 1 || state < frame.count;
    };
    const auto transition = [&](const PitchFrame& a, int i, const PitchFrame& b, int j) {
        const bool voicedA = i != kStates - 1;
        const bool voicedB = j != kStates - 1;
        if (voicedA && voicedB) {
            return jumpCost *
                   std::fabs(std::log2(a.candidates[static_cast<std::size_t>(i)].frequencyHz /
                                       b.candidates[static_cast<std::size_t>(j)].frequencyHz));
        }
        return voicedA == voicedB ? 0.0 : voicingCost;
    };

    constexpr double kNone = -std::numeric_limits<double>::infinity();
    std::array<double, kStates> score{};
    std::array<double, kStates> next{};
    for (int s = 0; s < kStates; ++s) {
        score[static_cast<std::size_t>(s)] =
            used(frames[0], s) ? localStrength(frames[0], s) : kNone;
    }
    for (std::size_t k = 1; k < frames.size(); ++k) {
        const PitchFrame& previous = frames[k - 1];
        const PitchFrame& frame = frames[k];
        for (int s = 0; s < kStates; ++s) {
            next[static_cast<std::size_t>(s)] = kNone;
            if (!used(frame, s)) {
                continue;
            }
            double best = kNone;
            int bestFrom = kStates - 1;
            for (int p = 0; p < kStates; ++p) {
                if (!used(previous, p)) {
                    continue;
                }
                const double value =
                    score[static_cast<std::size_t>(p)] - transition(previous, p, frame, s);
                if (value > best) {
                    best = value;
                    bestFrom = p;
                }
            }
            next[static_cast<std::size_t>(s)] = best + localStrength(frame, s);
            from[k * kStates + static_cast<std::size_t>(s)] = static_cast<unsigned char>(bestFrom);
        }
        score = next;
    }

    int state = kStates - 1;
    for (int s = 0; s < kStates; ++s) {
        if (score[static_cast<std::size_t>(s)] > score[static_cast<std::size_t>(state)]) {
            state = s;
        }
    }
    for (std::size_t k = frames.size(); k-- > 0;) {
        result[k] = state == kStates - 1
                        ? 0.0
                        : frames[k].candidates[static_cast<std::size_t>(state)].frequencyHz;
        state = from[k * kStates + static_cast<std::size_t>(state)];
    }
    return result;
}

} // namespace phonaxis
