#include "analysis/CMathFunc.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <new>
#include <utility>
#include <vector>

namespace phonaxis {
namespace {

constexpr std::size_t kMaxLength = CMathFunc::kMaxFftLength;
constexpr std::size_t kMaxBins = kMaxLength / 2;
constexpr double kNaturalSlope = 1e30;

// The twiddle factors of every butterfly stage, produced by the rotation
// recurrence exactly as the transform steps through them: in the stage of
// half-length h, the factor of butterfly j is (1, 0) rotated j times by
// e^(−iπ/h) with ur' = ur·c + ui·s, ui' = ui·c − ur·s. Keeping the recurrence's
// values (rather than cos/sin of each angle) keeps its rounding, so results are
// the same as running the recurrence inside the transform; tabulating them
// lets the butterflies run block by block over contiguous memory. Stage h
// starts at offset h − 1. Immutable once built, so all threads share it.
struct TwiddleTable {
    std::vector<double> re = std::vector<double>(kMaxLength - 1);
    std::vector<double> im = std::vector<double>(kMaxLength - 1);
};

TwiddleTable buildTwiddles()
{
    TwiddleTable table;
    for (int half = 1; half <= CMathFunc::kMaxFftLength / 2; half *= 2) {
        const double angle = PI / half;
        const double c = std::cos(angle);
        const double s = std::sin(angle);
        double ur = 1.0;
        double ui = 0.0;
        for (int j = 0; j < half; ++j) {
            table.re[static_cast<std::size_t>(half - 1 + j)] = ur;
            table.im[static_cast<std::size_t>(half - 1 + j)] = ui;
            const double nextUr = ur * c + ui * s;
            ui = ui * c - ur * s;
            ur = nextUr;
        }
    }
    return table;
}

const TwiddleTable& twiddles()
{
    static const TwiddleTable table = buildTwiddles();
    return table;
}

// The swaps of the bit-reversal reordering for every order, found once by
// running the reordering loop: a running reversed index j and, for each i < j,
// a swap of i and j. The last index is its own reverse and is left out, which
// also keeps the carry loop from running with k = 0. Swaps of order m are
// pairs[begin[m] .. begin[m + 1]) (i and j interleaved).
struct BitReversalTable {
    std::vector<std::uint16_t> pairs;
    std::array<std::size_t, CMathFunc::kMaxFftOrder + 2> begin{};
};

BitReversalTable buildBitReversal()
{
    BitReversalTable table;
    for (int m = 0; m <= CMathFunc::kMaxFftOrder; ++m) {
        table.begin[static_cast<std::size_t>(m)] = table.pairs.size();
        const int n = 1 << m;
        int j = 0;
        for (int i = 0; i < n - 1; ++i) {
            if (i < j) {
                table.pairs.push_back(static_cast<std::uint16_t>(i));
                table.pairs.push_back(static_cast<std::uint16_t>(j));
            }
            int k = n / 2;
            while (j >= k) {
                j -= k;
                k /= 2;
            }
            j += k;
        }
    }
    table.begin[CMathFunc::kMaxFftOrder + 1] = table.pairs.size();
    return table;
}

const BitReversalTable& bitReversal()
{
    static const BitReversalTable table = buildBitReversal();
    return table;
}

// One butterfly: t = b·w; b = a − t; a = a + t.
inline void butterfly(double& ar, double& ai, double& br, double& bi, double wr, double wi)
{
    const double tr = br * wr - bi * wi;
    const double ti = bi * wr + br * wi;
    br = ar - tr;
    bi = ai - ti;
    ar = ar + tr;
    ai = ai + ti;
}

// The butterflies of one block of the stage of half-length `count`: points
// a[j] and b[j] = a[j + count] with twiddle w[j]. The arrays do not overlap
// (restrict), which lets the compiler vectorise the loop.
inline void stageBlock(double* __restrict ar, double* __restrict ai, double* __restrict br,
                       double* __restrict bi, const double* __restrict wr,
                       const double* __restrict wi, int count)
{
    for (int j = 0; j < count; ++j) {
        butterfly(ar[j], ai[j], br[j], bi[j], wr[j], wi[j]);
    }
}

// The butterflies of one block of the stages of half-lengths `count` and
// 2·count, in one pass. Each point goes through exactly the operations of the
// two stages run one after the other, so the results are the same; the data
// is read and written once instead of twice. With the block's quarters a, b,
// c, d, the first stage pairs (a, b) and (c, d) with twiddle w1[j], the second
// (a, c) with w2[j] and (b, d) with w2[j + count].
inline void twoStageBlock(double* __restrict ar, double* __restrict ai, double* __restrict br,
                          double* __restrict bi, double* __restrict cr, double* __restrict ci,
                          double* __restrict dr, double* __restrict di,
                          const double* __restrict w1r, const double* __restrict w1i,
                          const double* __restrict w2r, const double* __restrict w2i,
                          const double* __restrict w3r, const double* __restrict w3i, int count)
{
    for (int j = 0; j < count; ++j) {
        double a0 = ar[j], a1 = ai[j], b0 = br[j], b1 = bi[j];
        double c0 = cr[j], c1 = ci[j], d0 = dr[j], d1 = di[j];
        butterfly(a0, a1, b0, b1, w1r[j], w1i[j]);
        butterfly(c0, c1, d0, d1, w1r[j], w1i[j]);
        butterfly(a0, a1, c0, c1, w2r[j], w2i[j]);
        butterfly(b0, b1, d0, d1, w3r[j], w3i[j]);
        ar[j] = a0, ai[j] = a1, br[j] = b0, bi[j] = b1;
        cr[j] = c0, ci[j] = c1, dr[j] = d0, di[j] = d1;
    }
}

// Butterfly stages l = 1 .. m of an N = 2^m transform (half-length
// 2^(l-1)), two at a time, and the last alone when m is odd.
void butterflyStages(double* xr, double* xi, int n, int m)
{
    const TwiddleTable& table = twiddles();
    const double* wr = table.re.data();
    const double* wi = table.im.data();
    int l = 1;
    for (; l + 1 <= m; l += 2) {
        const int h = 1 << (l - 1);
        for (int block = 0; block < n; block += 4 * h) {
            double* r = xr + block;
            double* i = xi + block;
            twoStageBlock(r, i, r + h, i + h, r + 2 * h, i + 2 * h, r + 3 * h, i + 3 * h,
                          wr + (h - 1), wi + (h - 1), wr + (2 * h - 1), wi + (2 * h - 1),
                          wr + (3 * h - 1), wi + (3 * h - 1), h);
        }
    }
    if (l == m) {
        const int h = 1 << (l - 1);
        for (int block = 0; block < n; block += 2 * h) {
            stageBlock(xr + block, xi + block, xr + block + h, xi + block + h, wr + (h - 1),
                       wi + (h - 1), h);
        }
    }
}

bool overlaps(std::span<const double> a, std::span<const double> b)
{
    const std::less<const double*> before;
    return before(a.data(), b.data() + b.size()) && before(b.data(), a.data() + a.size());
}

// One thread's work storage for DoFFT_Real, sized for the largest transform.
// The window is cached by length and type: rebuilding it gives the same
// values, and the cosines would cost more than the transform.
struct SpectrumWork {
    std::vector<double> re = std::vector<double>(kMaxLength);
    std::vector<double> im = std::vector<double>(kMaxLength);
    std::vector<double> window = std::vector<double>(kMaxLength);
    int windowLength = 0;
    bool windowIsHamming = false;
    // Spline knots, indexed from 1: bin numbers, bin levels, second derivatives.
    std::vector<double> knotX = std::vector<double>(kMaxBins + 1);
    std::vector<double> knotY = std::vector<double>(kMaxBins + 1);
    std::vector<double> knotY2 = std::vector<double>(kMaxBins + 1);
};

// This thread's work storage, made on its first call; null when the memory
// cannot be had (the next call tries again).
SpectrumWork* spectrumWork() noexcept
{
    try {
        thread_local SpectrumWork work;
        return &work;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void buildWindow(SpectrumWork& work, int n, bool hamming)
{
    if (work.windowLength == n && work.windowIsHamming == hamming) {
        return;
    }
    for (int i = 0; i < n; ++i) {
        work.window[static_cast<std::size_t>(i)] =
            hamming ? 0.54 - 0.46 * std::cos(static_cast<double>(i) * dTWOPI / n) : 1.0;
    }
    work.windowLength = n;
    work.windowIsHamming = hamming;
}

int orderOf(int n)
{
    int m = 1;
    while ((1 << m) < n) {
        ++m;
    }
    return m;
}

} // namespace

bool CMathFunc::FFT_CODE_REAL(std::span<double> re, std::span<double> im, int m)
{
    if (m < 0 || m > kMaxFftOrder) {
        return false;
    }
    const int n = 1 << m;
    const auto length = static_cast<std::size_t>(n);
    if (re.size() < length || im.size() < length || overlaps(re.first(length), im.first(length))) {
        return false;
    }
    double* xr = re.data();
    double* xi = im.data();

    const BitReversalTable& reversal = bitReversal();
    const std::uint16_t* pair = reversal.pairs.data() + reversal.begin[static_cast<std::size_t>(m)];
    const std::uint16_t* const pairsEnd =
        reversal.pairs.data() + reversal.begin[static_cast<std::size_t>(m) + 1];
    for (; pair != pairsEnd; pair += 2) {
        std::swap(xr[pair[0]], xr[pair[1]]);
        std::swap(xi[pair[0]], xi[pair[1]]);
    }

    butterflyStages(xr, xi, n, m);
    return true;
}

int CMathFunc::DoFFT_Real(std::span<double> data, int n, double preEmphasis, int windowType,
                          unsigned char interpolate, int outputPoints, int frequencyRangeHz,
                          double sampleRateHz)
{
    if (n < 2 || n > kMaxFftLength || (n & (n - 1)) != 0) {
        return kSpectrumDeclined;
    }
    const bool preEmphasised = preEmphasis > 0.0;
    const auto length = static_cast<std::size_t>(n);
    if (data.size() < length + (preEmphasised ? 1 : 0)) {
        return kSpectrumDeclined;
    }
    const bool resample = interpolate != 0 && outputPoints >= 1;
    if (resample && (data.size() < static_cast<std::size_t>(outputPoints) ||
                     !(sampleRateHz > 0.0) || !std::isfinite(sampleRateHz) ||
                     frequencyRangeHz < 0 || frequencyRangeHz > sampleRateHz * 0.5)) {
        return kSpectrumDeclined;
    }
    const int bins = n / 2;
    SpectrumWork* work = spectrumWork();
    if (work == nullptr || (resample && !reserveSplineScratch(static_cast<std::size_t>(bins) + 1))) {
        return kSpectrumDeclined;
    }

    buildWindow(*work, n, windowType == 1);
    const double* w = work->window.data();
    double* re = work->re.data();
    double* im = work->im.data();
    for (std::size_t i = 0; i < length; ++i) {
        re[i] = preEmphasised ? (data[i + 1] - preEmphasis * data[i]) * w[i] : data[i] * w[i];
        im[i] = 0.0;
    }
    FFT_CODE_REAL(work->re, work->im, orderOf(n));

    for (std::size_t k = 0; k < static_cast<std::size_t>(bins); ++k) {
        const double power = re[k] * re[k] + im[k] * im[k];
        data[k] = power == 0.0 ? 0.0 : 10.0 * std::log10(power);
    }
    if (!resample) {
        return kSpectrumDone;
    }

    const auto points = static_cast<std::size_t>(outputPoints);
    if (bins == 1) {
        for (std::size_t i = 1; i < points; ++i) {
            data[i] = data[0];
        }
        return kSpectrumDone;
    }
    std::vector<double>& x = work->knotX;
    std::vector<double>& y = work->knotY;
    x[0] = 0.0;
    y[0] = 0.0;
    for (int k = 0; k < bins; ++k) {
        x[static_cast<std::size_t>(k) + 1] = k;
        y[static_cast<std::size_t>(k) + 1] = data[static_cast<std::size_t>(k)];
    }
    spline(x, y, bins, kNaturalSlope, kNaturalSlope, work->knotY2);
    // Output i lies at i·R/P Hz, i.e. i·step bins.
    const double step =
        (static_cast<double>(frequencyRangeHz) / (sampleRateHz * 0.5)) * (n * 0.5) / outputPoints;
    for (std::size_t i = 0; i < points; ++i) {
        double level = 0.0;
        if (splint(x, y, work->knotY2, bins, static_cast<double>(i) * step, level) == 0) {
            data[i] = level;
        }
    }
    return kSpectrumDone;
}

} // namespace phonaxis
