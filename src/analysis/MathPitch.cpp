#include "analysis/CMathFunc.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <new>
#include <numbers>
#include <optional>
#include <vector>

namespace phonaxis {
namespace {

using PitchLevels = CMathFunc::PitchLevels;

// The transform lengths taken: 128 (2^7) … 32,768 (2^15). The longest holds a
// 35 ms window four times at up to 234 kHz; its half-length complex transform
// is the FFT's longest.
constexpr int kMinPitchFftOrder = 7;
constexpr int kMaxPitchFftOrder = 15;
static_assert(kMaxPitchFftOrder - 1 <= CMathFunc::kMaxFftOrder);

// Cepstral powers below this share of the strongest (10 dB down) cannot be
// the chosen quefrency; their levels are not computed (see cepstralPitch).
constexpr double kCandidatePowerShare = 0.1;

// The vectorised loops are built for these instruction sets too, the fastest
// the processor has chosen when the program starts; the results are the same
// (the file is built without fused multiply-adds).
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__) && !defined(__clang__)
#define PHONAXIS_VECTOR_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define PHONAXIS_VECTOR_CLONES
#endif

// One thread's work storage for the cepstral pitch routines, grown to the
// longest transform the thread has been asked for (a thread that only ever
// sees 4,096 points keeps 4,096-point storage). The Hamming window is cached
// by length and the real-transform twiddles by transform length: the pitch
// window calls with one pair for every frame of a track.
struct PitchWork {
    // The half-length complex transform's points.
    std::vector<double> re;
    std::vector<double> im;
    // The power and level (dB) spectra, bins 0 … N/2 (the rest mirror them).
    std::vector<double> powers;
    std::vector<double> levels;
    std::vector<double> window;
    std::vector<double> cepstrum;
    // The candidate quefrencies' powers and levels before the top is taken
    // off, for the check of a result from the fast levels.
    std::vector<double> candidatePowers;
    std::vector<double> candidateLevels;
    // e^(−2πik/N) for k = 0 … N/2.
    std::vector<double> twiddleRe;
    std::vector<double> twiddleIm;
    int windowLength = -1;
    int twiddleLength = -1;
    int capacity = 0; // the longest transform the storage holds

    // Room for an n-point transform; false (the storage as it was) when the
    // memory cannot be had.
    bool reserve(int n) noexcept
    {
        if (n <= capacity) {
            return true;
        }
        try {
            const auto half = static_cast<std::size_t>(n / 2);
            for (std::vector<double>* v :
                 {&re, &im, &cepstrum, &candidatePowers, &candidateLevels}) {
                v->resize(half);
            }
            for (std::vector<double>* v : {&powers, &levels, &twiddleRe, &twiddleIm}) {
                v->resize(half + 1);
            }
            window.resize(static_cast<std::size_t>(n));
        } catch (const std::bad_alloc&) {
            return false;
        }
        capacity = n;
        return true;
    }
};

// This thread's work storage with room for an n-point transform, made on its
// first call; null when the memory cannot be had (the next call tries again).
PitchWork* pitchWork(int n) noexcept
{
    thread_local PitchWork work;
    return work.reserve(n) ? &work : nullptr;
}

// The transform order of a supported FFT length; 0 for any other length.
int pitchFftOrder(int fftLength)
{
    for (int m = kMinPitchFftOrder; m <= kMaxPitchFftOrder; ++m) {
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

// Point pairs of the windowed frame: re[j] = s[2j]·w[2j], im[j] = s[2j + 1]·w[2j + 1]
// for j < pairs.
PHONAXIS_VECTOR_CLONES
void packWindowed(const float* __restrict s, const double* __restrict w, double* __restrict re,
                  double* __restrict im, long long pairs)
{
    for (long long j = 0; j < pairs; ++j) {
        re[j] = static_cast<double>(s[2 * j]) * w[2 * j];
        im[j] = static_cast<double>(s[2 * j + 1]) * w[2 * j + 1];
    }
}

PHONAXIS_VECTOR_CLONES
void packWindowed(const double* __restrict s, const double* __restrict w, double* __restrict re,
                  double* __restrict im, long long pairs)
{
    for (long long j = 0; j < pairs; ++j) {
        re[j] = s[2 * j] * w[2 * j];
        im[j] = s[2 * j + 1] * w[2 * j + 1];
    }
}

// The level in dB of a power, an exactly zero power giving 0.0 rather than −∞.
double levelDb(double power)
{
    return power == 0.0 ? 0.0 : 10.0 * std::log10(power);
}

// How far a level from fastLevelsDb can lie from levelDb's, relative to its
// size, with a wide margin: both are within a few units in the last place
// of the true value.
constexpr double kFastLevelError = 64.0 * std::numeric_limits<double>::epsilon();

// 2^52 + 1023 as a double, whose low bits an exponent field is put into.
constexpr double kExponentBias = 0x1p52 + 1023.0;
// ln 2 in two parts: the first has 33 bits, so its product with any exponent
// is exact.
constexpr double kLn2High = 0x1.62e42fefp-1;
constexpr double kLn2Low = 0x1.473de6af278edp-34;
constexpr double kDbPerNeper = 10.0 / std::numbers::ln10;
// 1/3, 1/5, … 1/23: 2·atanh(s) = 2s + 2s·s²·(1/3 + s²/5 + … + s²⁰/23).
constexpr std::array<double, 11> kAtanhSeries = {1.0 / 3.0,  1.0 / 5.0,  1.0 / 7.0,  1.0 / 9.0,
                                                 1.0 / 11.0, 1.0 / 13.0, 1.0 / 15.0, 1.0 / 17.0,
                                                 1.0 / 19.0, 1.0 / 21.0, 1.0 / 23.0};

// 1/3 + z/5 + … + z¹⁰/23, by Horner's rule.
[[gnu::always_inline]] inline double atanhSeries(double z)
{
    double sum = kAtanhSeries[10];
    for (std::size_t j = 10; j-- > 0;) {
        sum = sum * z + kAtanhSeries[j];
    }
    return sum;
}

// levels[k] = 10·log10(powers[k]) for k < count, without the library's
// logarithm: a power m·2^e with m in [√½, √2) has the natural logarithm
// e·ln 2 + 2·atanh(s), s = (m − 1)/(m + 1) (|s| < 0.172, so the series to
// s²³ leaves less than 10^−18 of it). Vectorised, and the same on every
// instruction set (no fused multiply-adds). A zero power gives 0 as
// levelDb does. Returns how many powers it cannot take (not finite,
// negative or below the normal range): their levels must come from levelDb.
// `logged` counts the powers whose levels took a logarithm (not 0).
PHONAXIS_VECTOR_CLONES
int fastLevelsDb(const double* __restrict powers, double* __restrict levels, int count, int& logged)
{
    // 64-bit counts, as wide as the lanes, so that they vectorise alike.
    std::int64_t refused = 0;
    std::int64_t nonzero = 0;
    for (int k = 0; k < count; ++k) {
        const double p = powers[k];
        const auto bits = std::bit_cast<std::uint64_t>(p);
        const double e =
            std::bit_cast<double>((bits >> 52) | std::bit_cast<std::uint64_t>(0x1p52)) -
            kExponentBias;
        const double m0 =
            std::bit_cast<double>((bits & 0x000FFFFFFFFFFFFFULL) | 0x3FF0000000000000ULL);
        const bool above = m0 > std::numbers::sqrt2;
        const double m = above ? 0.5 * m0 : m0;
        const double exponent = above ? e + 1.0 : e;
        const double s = (m - 1.0) / (m + 1.0);
        const double z = s * s;
        const double series = atanhSeries(z);
        const double twoS = 2.0 * s;
        const double ln = exponent * kLn2High + (exponent * kLn2Low + (twoS + twoS * z * series));
        // Flags as 0 or 1 and no branches, so that the loop is vectorised.
        const auto zero = static_cast<std::int64_t>(p == 0.0);
        const auto normal = static_cast<std::int64_t>(p >= std::numeric_limits<double>::min()) *
                            static_cast<std::int64_t>(p <= std::numeric_limits<double>::max());
        levels[k] = zero != 0 ? 0.0 : kDbPerNeper * ln;
        refused += (1 - zero) * (1 - normal);
        nonzero += 1 - zero;
    }
    logged = static_cast<int>(nonzero);
    return static_cast<int>(refused);
}

// The power of bin k of a real transform from the half-length transform Z
// (see below): Z[a] with Z[b] and the twiddle w[k].
[[gnu::always_inline]] inline double splitPower(const double* __restrict zr,
                                                const double* __restrict zi,
                                                const double* __restrict wr,
                                                const double* __restrict wi, int k, int a, int b)
{
    const double evenRe = 0.5 * (zr[a] + zr[b]);
    const double evenIm = 0.5 * (zi[a] - zi[b]);
    const double oddRe = 0.5 * (zi[a] + zi[b]);
    const double oddIm = -0.5 * (zr[a] - zr[b]);
    const double xr = evenRe + wr[k] * oddRe - wi[k] * oddIm;
    const double xi = evenIm + wr[k] * oddIm + wi[k] * oddRe;
    return xr * xr + xi * xi;
}

// powers[k] = |X[k]|² for bins k in [from, to) (within 0 … half) of a real
// transform X, from its half-length transform Z: bin k pairs Z[k] with
// Z[half − k], except that bins 0 and half both pair Z[0] with itself.
// Built for several instruction sets; each computes the same operations,
// unfused.
PHONAXIS_VECTOR_CLONES
void splitPowers(const double* __restrict zr, const double* __restrict zi,
                 const double* __restrict wr, const double* __restrict wi,
                 double* __restrict powers, int half, int from, int to)
{
    if (from == 0 && to > 0) {
        powers[0] = splitPower(zr, zi, wr, wi, 0, 0, 0);
    }
    const int end = std::min(to, half);
    for (int k = std::max(from, 1); k < end; ++k) {
        powers[k] = splitPower(zr, zi, wr, wi, k, k, half - k);
    }
    if (from <= half && half < to) {
        powers[half] = splitPower(zr, zi, wr, wi, half, 0, 0);
    }
}

// The powers of bins [from, to) (within 0 … N/2) of the transform of a
// real N-point sequence x whose even points are in work.re and odd points
// in work.im (N/2 each; both are overwritten). One complex transform of
// N/2 points Z gives them: with E = (Z[k] + conj Z[N/2 − k])/2 and
// O = (Z[k] − conj Z[N/2 − k])/(2i), the transforms of the even and odd
// points, X[k] = E + e^(−2πik/N)·O. Half the work of transforming the N
// points with zero imaginary parts, and the same bins to within rounding.
// Points from `nonzero` on (in work.re and work.im) are zero and are not
// read.
void realTransformPowers(PitchWork& work, int order, int nonzero, double* powers, int from, int to)
{
    const int n = 1 << order;
    const int half = n / 2;
    if (work.twiddleLength != n) {
        for (int k = 0; k <= half; ++k) {
            const double angle = 2.0 * std::numbers::pi * static_cast<double>(k) / n;
            work.twiddleRe[static_cast<std::size_t>(k)] = std::cos(angle);
            work.twiddleIm[static_cast<std::size_t>(k)] = -std::sin(angle);
        }
        work.twiddleLength = n;
    }
    CMathFunc::FFT_CODE_REAL(work.re, work.im, order - 1, static_cast<std::size_t>(nonzero));
    splitPowers(work.re.data(), work.im.data(), work.twiddleRe.data(), work.twiddleIm.data(),
                powers, half, from, to);
}

// levels[k] = levelDb(powers[k]) for k < count.
void exactLevels(const double* powers, double* levels, int count)
{
    for (int k = 0; k < count; ++k) {
        levels[k] = levelDb(powers[k]);
    }
}

// Σ|levels[k]| for k < count (eight partial sums).
PHONAXIS_VECTOR_CLONES
double sumOfSizes(const double* __restrict levels, int count)
{
    std::array<double, 8> sums{};
    int k = 0;
    for (; k + 8 <= count; k += 8) {
        for (std::size_t j = 0; j < 8; ++j) {
            sums[j] += std::fabs(levels[k + static_cast<int>(j)]);
        }
    }
    for (; k < count; ++k) {
        sums[0] += std::fabs(levels[k]);
    }
    return ((sums[0] + sums[1]) + (sums[2] + sums[3])) +
           ((sums[4] + sums[5]) + (sums[6] + sums[7]));
}

// The points of the real transform of the level spectrum, packed as for
// realTransformPowers: points 2j and 2j + 1 for j < N/4 lie in bins 0 … N/2 − 1;
// the rest mirror them (point N − k has the level of bin k).
PHONAXIS_VECTOR_CLONES
void packLevels(const double* __restrict levels, double* __restrict re, double* __restrict im,
                int half)
{
    const int n = 2 * half;
    const int quarter = half / 2;
    for (int j = 0; j < quarter; ++j) {
        re[j] = levels[2 * j];
        im[j] = levels[2 * j + 1];
    }
    for (int j = quarter; j < half; ++j) {
        re[j] = levels[n - 2 * j];
        im[j] = levels[n - 2 * j - 1];
    }
}

// The largest of `start` and values[first, end), std::max taken in eight
// lanes. That is the running std::max's value whenever no value is −0 (the
// powers and levels searched never are): a NaN never replaces what a lane
// holds, just as it never replaces the running maximum, and among other
// values the largest is the same whatever the order.
PHONAXIS_VECTOR_CLONES
double largest(const double* __restrict values, int first, int end, double start)
{
    std::array<double, 8> lanes;
    lanes.fill(start);
    int q = first;
    for (; q + 8 <= end; q += 8) {
        for (std::size_t j = 0; j < 8; ++j) {
            lanes[j] = std::max(lanes[j], values[q + static_cast<int>(j)]);
        }
    }
    for (; q < end; ++q) {
        lanes[0] = std::max(lanes[0], values[q]);
    }
    double best = lanes[0];
    for (std::size_t j = 1; j < 8; ++j) {
        best = std::max(best, lanes[j]);
    }
    return best;
}

// values[q] = max(0, values[q] − top + 20) for q in [first, end): the top
// 20 dB kept. Returns the largest result (0 or more).
PHONAXIS_VECTOR_CLONES
double keepTopLevels(double* __restrict values, int first, int end, double top)
{
    for (int q = first; q < end; ++q) {
        values[q] = std::max(0.0, values[q] - top + 20.0);
    }
    return largest(values, first, end, 0.0);
}

// How far a cepstral power p can move when each of its point's parts can
// move by `shift`: |re| + |im| <= √(2p), and the power's own rounding on
// either side.
[[gnu::always_inline]] inline double powerShift(double p, double shift)
{
    constexpr double kEpsilon = std::numeric_limits<double>::epsilon();
    return 2.0 * std::sqrt(2.0 * p) * shift + 2.0 * shift * shift + 4.0 * kEpsilon * p;
}

// How far the level of a power p can move when the power can move by dp;
// meaningful only when p is more than twice dp.
[[gnu::always_inline]] inline double levelMoveOf(double p, double dp)
{
    return kDbPerNeper * dp / (p - dp);
}

// How many candidates q in [first, end) could enter the choice when each
// cepstral point can move by `shift`: a kept level (with its power) must
// stay below `limit` less the shift's `rounding`, a left-out power (level
// −∞) above `nearZero`. A kept power that could be 0 counts. With
// `widestMove` finite, it is taken as every kept level's move, and a kept
// power below `weakestKept` counts; otherwise each level's own move is
// worked out. Branch-free (no short-circuit operators), so that it is
// vectorised.
PHONAXIS_VECTOR_CLONES
std::int64_t candidatesIn(const double* __restrict powers, const double* __restrict levels,
                          int first, int end, double shift, double rounding, double limit,
                          double nearZero, double weakestKept, double widestMove)
{
    constexpr double kEpsilon = std::numeric_limits<double>::epsilon();
    constexpr double kLeftOut = -std::numeric_limits<double>::infinity();
    std::int64_t in = 0;
    if (std::isfinite(widestMove)) {
        for (int q = first; q < end; ++q) {
            const double p = powers[q];
            const double level = levels[q];
            const double levelMove = widestMove + 4.0 * kEpsilon * std::fabs(level);
            const bool leftOut = level == kLeftOut;
            const bool out = (leftOut & (p > nearZero)) | (!leftOut & (p >= weakestKept) &
                                                           (level + levelMove + rounding < limit));
            in += static_cast<std::int64_t>(!out);
        }
        return in;
    }
    for (int q = first; q < end; ++q) {
        const double p = powers[q];
        const double level = levels[q];
        const double dp = powerShift(p, shift);
        const double levelMove = levelMoveOf(p, dp) + 4.0 * kEpsilon * std::fabs(level);
        const bool leftOut = level == kLeftOut;
        const bool out = (leftOut & (p > nearZero)) |
                         (!leftOut & (p > 2.0 * dp) & (level + levelMove + rounding < limit));
        in += static_cast<std::int64_t>(!out);
    }
    return in;
}

// Whether every candidate q in [first, end) but `chosen` certainly stays
// out of the choice (see candidatesIn). Kept powers are `weakestKept` or
// more, or 0. A level moves less the stronger its power (the shift grows
// as √p), so the weakest kept power's move bounds every kept level's: that
// test is tried first, with no root or division per candidate; only when it
// fails is every level's own move worked out.
bool othersStayOut(const double* powers, const double* levels, int first, int end, int chosen,
                   double shift, double rounding, double limit, double nearZero, double weakestKept)
{
    const auto others = [&](double widestMove) {
        const int before = chosen >= first ? chosen : end;
        const int after = chosen >= first ? chosen + 1 : end;
        return candidatesIn(powers, levels, first, before, shift, rounding, limit, nearZero,
                            weakestKept, widestMove) +
               candidatesIn(powers, levels, after, end, shift, rounding, limit, nearZero,
                            weakestKept, widestMove);
    };
    const double weakestShift = powerShift(weakestKept, shift);
    if (weakestKept > 2.0 * weakestShift && others(levelMoveOf(weakestKept, weakestShift)) == 0) {
        return true;
    }
    return others(HUGE_VAL) == 0;
}

// The cepstrum of the level spectrum in work.levels and the quefrency
// chosen in it.
struct QuefrencySearch {
    PitchWork* work;
    double rateHz;
    double highestHz;
    double lowestHz;
    int half;
    int order;

    // The chosen quefrency (the lowest of the pitch range when none stands
    // out). With `checked`, the levels came from fastLevelsDb: nothing is
    // returned when levelDb's levels could give another quefrency.
    std::optional<long long> choose(bool checked) const
    {
        packLevels(work->levels.data(), work->re.data(), work->im.data(), half);

        // Quefrencies outside the pitch range are cleared (and so need no
        // level); the search never goes past the cepstrum's half-length.
        const long long lo = truncSaturated(rateHz / highestHz);
        const long long hi = truncSaturated(rateHz / lowestHz);
        const int loInCepstrum =
            static_cast<int>(std::clamp(lo, 0LL, static_cast<long long>(half)));
        const int hiInCepstrum =
            static_cast<int>(std::clamp(hi, 0LL, static_cast<long long>(half)));
        // Only the quefrencies the search visits are kept; the cleared rest
        // count as 0 dB for the top when there is any.
        //
        // Of those, only the levels that can be the top or the strongest are
        // needed: the others are marked −∞, which changes neither the top nor
        // the search. A power more than 10 dB below the strongest has a level
        // more than 10 dB (less the logarithm's rounding, far below 1 dB)
        // below the strongest's, so after the shift by the top it stays below
        // it, or both are cut to 0, and it is never chosen: the strongest
        // comes first in the search only among equal kept levels. A zero
        // power, whose level is 0 dB, is always computed; so is everything
        // when the strongest power is 0. A NaN power (from NaN samples)
        // neither tops nor wins in either case.
        double* c = work->cepstrum.data();
        double* candidatePowers = work->candidatePowers.data();
        double* candidateLevels = work->candidateLevels.data();
        realTransformPowers(*work, order, half, c, loInCepstrum, hiInCepstrum);
        const double strongest = largest(c, loInCepstrum, hiInCepstrum, 0.0);
        const double weakestNeeded = strongest * kCandidatePowerShare;
        for (int q = loInCepstrum; q < hiInCepstrum; ++q) {
            candidatePowers[q] = c[q];
            c[q] = c[q] >= weakestNeeded || c[q] == 0.0 ? levelDb(c[q])
                                                        : -std::numeric_limits<double>::infinity();
            candidateLevels[q] = c[q];
        }

        // Keep the top 20 dB.
        const double topBefore = loInCepstrum > 0 || hiInCepstrum < half ? 0.0 : -1e-30;
        const double top = largest(c, loInCepstrum, hiInCepstrum, topBefore);
        const double best = keepTopLevels(c, loInCepstrum, hiInCepstrum, top);

        // The first quefrency of the largest kept level above 0.
        long long index = lo;
        int chosen = -1;
        if (lo < hi && best > 0.0) {
            for (int q = loInCepstrum; q < hiInCepstrum; ++q) {
                if (c[q] == best) {
                    index = q;
                    chosen = q;
                    break;
                }
            }
        }
        if (!checked || loInCepstrum >= hiInCepstrum || lo >= hi) {
            return index;
        }
        return certain(chosen, loInCepstrum, hiInCepstrum, topBefore, top, strongest)
                   ? std::optional(index)
                   : std::nullopt;
    }

    // Whether levelDb's levels give the same choice as the fast levels did:
    // `chosen` (or, at −1, none above the top's 20 dB), every candidate's
    // power and level known only to within what the fast levels' error can
    // move it through the transform. `strongest` is the largest candidate
    // power.
    bool certain(int chosen, int first, int end, double topBefore, double top,
                 double strongest) const
    {
        constexpr double kEpsilon = std::numeric_limits<double>::epsilon();
        // How far a cepstral point can move: the levels' own error (each
        // level appears twice in the N points), and the transform's rounding
        // on either set of levels, at most a few roundings per stage of the
        // size of all the points together.
        const double levelSizes = 2.0 * sumOfSizes(work->levels.data(), half + 1);
        const double shift = levelSizes * (kFastLevelError + 2.0 * 8.0 * (order + 2) * kEpsilon);
        const double* powers = work->candidatePowers.data();
        const double* levels = work->candidateLevels.data();
        // How far a kept level can move, or ∞ when its power could be 0.
        const auto levelShift = [&](int q) {
            const double p = powers[q];
            const double dp = powerShift(p, shift);
            return p > 2.0 * dp ? levelMoveOf(p, dp) + 4.0 * kEpsilon * std::fabs(levels[q])
                                : HUGE_VAL;
        };
        // Differences below this could be lost in the rounding of the shift
        // by the top.
        const double rounding = 1e-12 * (std::fabs(top) + 20.0);
        const double limit = chosen >= 0 ? levels[chosen] - levelShift(chosen) : topBefore - 20.0;
        if (chosen >= 0 && !(limit > topBefore - 20.0 + rounding)) {
            return false; // the chosen one might be cut to 0
        }
        // The candidates left out as 10 dB below the strongest must stay
        // below it (the shift grows with the power, so the weakest kept
        // power bounds them all) and away from 0: a power above 16·shift²
        // cannot reach it, as its own shift is below 14·shift² there.
        const double weakestNeeded = strongest * kCandidatePowerShare;
        if (!(weakestNeeded + powerShift(weakestNeeded, shift) <
              strongest - powerShift(strongest, shift))) {
            return false;
        }
        return othersStayOut(powers, levels, first, end, chosen, shift, rounding, limit,
                             16.0 * shift * shift, weakestNeeded);
    }
};

template <typename Sample>
double cepstralPitch(std::span<const Sample> samples, double position, double spanEnd,
                     double rateHz, double lowestHz, double highestHz, int fftLength,
                     int windowLength, PitchLevels levelsChoice)
{
    const int order = pitchFftOrder(fftLength);
    if (order == 0 || !(rateHz > 0.0) || !std::isfinite(rateHz)) {
        return CMathFunc::kPitchDeclined;
    }
    PitchWork* work = pitchWork(fftLength);
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
    const long long available = std::min(
        spanCount, static_cast<long long>(std::min<std::size_t>(samples.size(), 1ULL << 40)));
    const long long first = truncSaturated(position);
    // The windowed frame, zero-padded to n points, packed for the real
    // transform: even points in re, odd points in im.
    double* re = work->re.data();
    double* im = work->im.data();
    const double* window = work->window.data();
    // Points from w on are zero: the transform leaves them unread.
    const int packed = (w + 1) / 2;
    std::fill(re, re + packed, 0.0);
    std::fill(im, im + packed, 0.0);
    // Points i in [from, to) have a sample: i < w and 0 <= first + i < available.
    const long long from = std::clamp(-first, 0LL, static_cast<long long>(w));
    const long long to = std::clamp(available - first, from, static_cast<long long>(w));
    const auto windowed = [samples, window, first](long long i) {
        return static_cast<double>(samples[static_cast<std::size_t>(first + i)]) * window[i];
    };
    long long i = from;
    if (i < to && (i & 1) == 1) {
        im[i >> 1] = windowed(i);
        ++i;
    }
    const long long pairs = (to - i) / 2;
    packWindowed(samples.data() + static_cast<std::size_t>(first + i), window + i, re + (i >> 1),
                 im + (i >> 1), pairs);
    i += 2 * pairs;
    if (i < to) {
        re[i >> 1] = windowed(i);
    }
    // The level spectrum of a real frame is even (bin n − k has the level of
    // bin k), so bins 0 … n/2 carry all of it, and its transform, the
    // cepstrum, is that of a real sequence again.
    double* powers = work->powers.data();
    double* levels = work->levels.data();
    realTransformPowers(*work, order, packed, powers, 0, half + 1);

    // The levels by the fast logarithm first. The quefrency they give is
    // taken when it cannot differ from the one the library's logarithm gives
    // (almost always); otherwise the levels are made again by levelDb.
    int logged = 0;
    const bool fast =
        levelsChoice == PitchLevels::Fast && fastLevelsDb(powers, levels, half + 1, logged) == 0;
    if (!fast) {
        exactLevels(powers, levels, half + 1);
    }
    // Without a logarithm taken (a silent frame) the levels are exact.
    const bool checked = fast && logged > 0;
    const QuefrencySearch search{work, rateHz, highestHz, lowestHz, half, order};
    std::optional<long long> index = search.choose(checked);
    if (!index) {
        ++CMathFunc::pitchLevelsRedone;
        exactLevels(powers, levels, half + 1);
        index = search.choose(false);
    }
    const double pitchHz = rateHz / (*index == 0 ? 1.0 : static_cast<double>(*index));
    return lowestHz <= pitchHz && pitchHz <= highestHz ? pitchHz : 0.0;
}

} // namespace

double CMathFunc::DoPitchCepstrumNewFloat(std::span<const float> samples, double position,
                                          double spanEnd, double sampleRateHz, double lowestPitchHz,
                                          double highestPitchHz, int fftLength, int windowLength,
                                          PitchLevels levels)
{
    return cepstralPitch(samples, position, spanEnd, sampleRateHz, lowestPitchHz, highestPitchHz,
                         fftLength, windowLength, levels);
}

double CMathFunc::DoPitchCepstrumNewDouble(std::span<const double> samples, double position,
                                           double spanEnd, double sampleRateHz,
                                           double lowestPitchHz, double highestPitchHz,
                                           int fftLength, int windowLength, PitchLevels levels)
{
    return cepstralPitch(samples, position, spanEnd, sampleRateHz, lowestPitchHz, highestPitchHz,
                         fftLength, windowLength, levels);
}

} // namespace phonaxis
