#include "analysis/CMathFunc.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

namespace phonaxis {
namespace {

constexpr std::size_t kMaxLength = CMathFunc::kMaxFftLength;
constexpr std::size_t kMaxSpectrumLength = CMathFunc::kMaxSpectrumFftLength;
constexpr std::size_t kMaxBins = kMaxSpectrumLength / 2;
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

// One butterfly: t = b·w; b = a − t; a = a + t. T is double or a vector of
// doubles, whose operations are the same IEEE operations lane by lane.
template <typename T>
[[gnu::always_inline]] inline void butterfly(T& ar, T& ai, T& br, T& bi, const T& wr, const T& wi)
{
    const T tr = br * wr - bi * wi;
    const T ti = bi * wr + br * wi;
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

// The reordering and the butterfly stages of an N = 2^m transform, point by
// point as the transform is defined: the swaps of the bit reversal, then
// stages l = 1 .. m (half-length 2^(l-1)), two at a time and the last alone
// when m is odd. Used for the short transforms.
void plainTransform(double* xr, double* xi, int m)
{
    const BitReversalTable& reversal = bitReversal();
    const std::uint16_t* pair = reversal.pairs.data() + reversal.begin[static_cast<std::size_t>(m)];
    const std::uint16_t* const pairsEnd =
        reversal.pairs.data() + reversal.begin[static_cast<std::size_t>(m) + 1];
    for (; pair != pairsEnd; pair += 2) {
        std::swap(xr[pair[0]], xr[pair[1]]);
        std::swap(xi[pair[0]], xi[pair[1]]);
    }

    const int n = 1 << m;
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

// --- The vectorised transform ------------------------------------------------
//
// The same butterflies with the same operands, computed V points at a time in
// vector registers (no operation is fused or reordered, so every value is the
// one plainTransform gives; the file is built without floating-point
// contraction for that reason). Two changes of order only:
//
// * The reordering and the first three stages are one pass. After the bit
//   reversal, block b of eight points (positions 8b … 8b + 7) holds the input
//   points rev3(t)·N/8 + r, t = 0 … 7, with r the (m − 3)-bit reverse of b:
//   eight rows of the input at stride N/8, read at the same column r. So V
//   consecutive columns r are V blocks, one per vector lane, and the three
//   stages (whose butterflies stay inside a block) run on eight row vectors;
//   the results go to their blocks. The input is read from a copy, since the
//   blocks are written over it.
// * The later stages run three at a time over contiguous vectors of each
//   block's eighths, from the half-length kWideStride on two at a time (and
//   one alone when one is left).

using Doubles2 = double __attribute__((vector_size(2 * sizeof(double))));
using Doubles4 = double __attribute__((vector_size(4 * sizeof(double))));
using Doubles8 = double __attribute__((vector_size(8 * sizeof(double))));

// (Vectors are passed by reference only: the functions are inlined, and no
// vector crosses a call whose convention depends on the instruction set.)
template <typename Vec>
[[gnu::always_inline]] inline void loadLanes(Vec& v, const double* p)
{
    std::memcpy(&v, p, sizeof v);
}

template <typename Vec>
[[gnu::always_inline]] inline void storeLanes(double* p, const Vec& v)
{
    std::memcpy(p, &v, sizeof v);
}

template <typename Vec>
[[gnu::always_inline]] inline void broadcast(Vec& v, double x)
{
    v = Vec{} + x;
}

// The distance between the rows of the copy: N/8 and one cache line more, so
// that the eight rows the first pass reads together do not all fall into the
// same cache sets (N/8 points are a multiple of 4 KB for the long transforms).
constexpr int paddedRow(int m)
{
    return (1 << m) / 8 + 8;
}

// Per-order tables of the vectorised transform: the (m − 3)-bit reverse of
// every column r < N/8, orders 3 … kMaxFftOrder (offset 2^(m − 3)).
struct ColumnTable {
    std::vector<std::uint16_t> reverse = std::vector<std::uint16_t>(kMaxLength / 4);
};

ColumnTable buildColumns()
{
    ColumnTable table;
    for (int bits = 0; bits <= CMathFunc::kMaxFftOrder - 3; ++bits) {
        const int count = 1 << bits;
        for (int r = 0; r < count; ++r) {
            int reversed = 0;
            for (int bit = 0; bit < bits; ++bit) {
                reversed |= ((r >> bit) & 1) << (bits - 1 - bit);
            }
            table.reverse[static_cast<std::size_t>(count + r)] =
                static_cast<std::uint16_t>(reversed);
        }
    }
    return table;
}

const ColumnTable& columns()
{
    static const ColumnTable table = buildColumns();
    return table;
}

// Reordering and stages 1–3 (see above) of an N = 2^m transform, N/8 ≥ V,
// from the copy (sr, si) into (xr, xi). The copy holds row t (input points
// t·N/8 … t·N/8 + N/8 − 1) at offset t·paddedRow(m).
// Rows from `rows` on are zero and are not read: their vectors are zero.
template <typename Vec, int V>
[[gnu::always_inline]] inline void firstThreeStages(double* __restrict xr, double* __restrict xi,
                                                    const double* __restrict sr,
                                                    const double* __restrict si, int m, int rows)
{
    const int stride = (1 << m) / 8;
    const int rowStride = paddedRow(m);
    const std::uint16_t* reverse = columns().reverse.data() + stride;
    const TwiddleTable& table = twiddles();
    // Stage 1 uses (1, 0); stage 2 (1, 0) and table[2]; stage 3 table[3 … 6].
    Vec one, zero, w21r, w21i, w3r[4], w3i[4];
    broadcast(one, table.re[0]);
    broadcast(zero, table.im[0]);
    broadcast(w21r, table.re[2]);
    broadcast(w21i, table.im[2]);
    for (int j = 0; j < 4; ++j) {
        broadcast(w3r[j], table.re[static_cast<std::size_t>(3 + j)]);
        broadcast(w3i[j], table.im[static_cast<std::size_t>(3 + j)]);
    }
    constexpr int kRowOf[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    for (int r = 0; r < stride; r += V) {
        Vec pr[8], pi[8];
        for (int t = 0; t < 8; ++t) {
            if (kRowOf[t] < rows) {
                loadLanes(pr[t], sr + kRowOf[t] * rowStride + r);
                loadLanes(pi[t], si + kRowOf[t] * rowStride + r);
            } else {
                pr[t] = Vec{};
                pi[t] = Vec{};
            }
        }
        for (int t = 0; t < 8; t += 2) {
            butterfly(pr[t], pi[t], pr[t + 1], pi[t + 1], one, zero);
        }
        for (int t = 0; t < 8; t += 4) {
            butterfly(pr[t], pi[t], pr[t + 2], pi[t + 2], one, zero);
            butterfly(pr[t + 1], pi[t + 1], pr[t + 3], pi[t + 3], w21r, w21i);
        }
        for (int j = 0; j < 4; ++j) {
            butterfly(pr[j], pi[j], pr[j + 4], pi[j + 4], w3r[j], w3i[j]);
        }
        for (int lane = 0; lane < V; ++lane) {
            const int block = 8 * reverse[r + lane];
            for (int t = 0; t < 8; ++t) {
                xr[block + t] = pr[t][lane];
                xi[block + t] = pi[t][lane];
            }
        }
    }
}

// Stages of half-lengths h, 2h and 4h (h ≥ V) in one pass: each block of 8h
// points in eighths e0 … e7; the first stage pairs (e0, e1), (e2, e3), … with
// twiddle table[h − 1 + j], the second (e0, e2), (e1, e3), … with
// table[2h − 1 + j] and table[3h − 1 + j], the third (ek, ek+4) with
// table[4h − 1 + k·h + j].
template <typename Vec, int V>
[[gnu::always_inline]] inline void threeStages(double* __restrict xr, double* __restrict xi,
                                               int n, int h)
{
    const TwiddleTable& table = twiddles();
    const double* wr = table.re.data();
    const double* wi = table.im.data();
    for (int block = 0; block < n; block += 8 * h) {
        double* br = xr + block;
        double* bi = xi + block;
        for (int j = 0; j < h; j += V) {
            Vec pr[8], pi[8];
            for (int e = 0; e < 8; ++e) {
                loadLanes(pr[e], br + e * h + j);
                loadLanes(pi[e], bi + e * h + j);
            }
            Vec w1r, w1i;
            loadLanes(w1r, wr + h - 1 + j);
            loadLanes(w1i, wi + h - 1 + j);
            for (int e = 0; e < 8; e += 2) {
                butterfly(pr[e], pi[e], pr[e + 1], pi[e + 1], w1r, w1i);
            }
            for (int k = 0; k < 2; ++k) {
                Vec w2r, w2i;
                loadLanes(w2r, wr + 2 * h - 1 + k * h + j);
                loadLanes(w2i, wi + 2 * h - 1 + k * h + j);
                butterfly(pr[k], pi[k], pr[k + 2], pi[k + 2], w2r, w2i);
                butterfly(pr[k + 4], pi[k + 4], pr[k + 6], pi[k + 6], w2r, w2i);
            }
            for (int k = 0; k < 4; ++k) {
                Vec w3r, w3i;
                loadLanes(w3r, wr + 4 * h - 1 + k * h + j);
                loadLanes(w3i, wi + 4 * h - 1 + k * h + j);
                butterfly(pr[k], pi[k], pr[k + 4], pi[k + 4], w3r, w3i);
            }
            for (int e = 0; e < 8; ++e) {
                storeLanes(br + e * h + j, pr[e]);
                storeLanes(bi + e * h + j, pi[e]);
            }
        }
    }
}

// Stages of half-lengths h and 2h (h ≥ V) in one pass, as twoStageBlock.
template <typename Vec, int V>
[[gnu::always_inline]] inline void twoStages(double* __restrict xr, double* __restrict xi, int n,
                                             int h)
{
    const TwiddleTable& table = twiddles();
    const double* wr = table.re.data();
    const double* wi = table.im.data();
    for (int block = 0; block < n; block += 4 * h) {
        double* br = xr + block;
        double* bi = xi + block;
        for (int j = 0; j < h; j += V) {
            Vec pr[4], pi[4];
            for (int e = 0; e < 4; ++e) {
                loadLanes(pr[e], br + e * h + j);
                loadLanes(pi[e], bi + e * h + j);
            }
            Vec w1r, w1i;
            loadLanes(w1r, wr + h - 1 + j);
            loadLanes(w1i, wi + h - 1 + j);
            butterfly(pr[0], pi[0], pr[1], pi[1], w1r, w1i);
            butterfly(pr[2], pi[2], pr[3], pi[3], w1r, w1i);
            for (int k = 0; k < 2; ++k) {
                Vec w2r, w2i;
                loadLanes(w2r, wr + 2 * h - 1 + k * h + j);
                loadLanes(w2i, wi + 2 * h - 1 + k * h + j);
                butterfly(pr[k], pi[k], pr[k + 2], pi[k + 2], w2r, w2i);
            }
            for (int e = 0; e < 4; ++e) {
                storeLanes(br + e * h + j, pr[e]);
                storeLanes(bi + e * h + j, pi[e]);
            }
        }
    }
}

// The stage of half-length h (h ≥ V) alone.
template <typename Vec, int V>
[[gnu::always_inline]] inline void oneStage(double* __restrict xr, double* __restrict xi, int n,
                                            int h)
{
    const TwiddleTable& table = twiddles();
    for (int block = 0; block < n; block += 2 * h) {
        for (int j = 0; j < h; j += V) {
            Vec ar, ai, br, bi, wr, wi;
            loadLanes(ar, xr + block + j);
            loadLanes(ai, xi + block + j);
            loadLanes(br, xr + block + h + j);
            loadLanes(bi, xi + block + h + j);
            loadLanes(wr, table.re.data() + h - 1 + j);
            loadLanes(wi, table.im.data() + h - 1 + j);
            butterfly(ar, ai, br, bi, wr, wi);
            storeLanes(xr + block + j, ar), storeLanes(xi + block + j, ai);
            storeLanes(xr + block + h + j, br), storeLanes(xi + block + h + j, bi);
        }
    }
}

// From this half-length on, the stages go two at a time: the eight streams of
// a three-stage pass, 4 KB or more apart, would compete for the same cache
// sets.
constexpr int kWideStride = 512;

// The whole transform with vectors of V lanes; N/8 ≥ V. The copy's rows
// from `rows` on are zero and are not read.
template <typename Vec, int V>
[[gnu::always_inline]] inline void vectorTransform(double* xr, double* xi, const double* sr,
                                                   const double* si, int m, int rows)
{
    const int n = 1 << m;
    firstThreeStages<Vec, V>(xr, xi, sr, si, m, rows);
    int l = 4;
    for (; l + 2 <= m && (1 << (l - 1)) < kWideStride; l += 3) {
        threeStages<Vec, V>(xr, xi, n, 1 << (l - 1));
    }
    for (; l + 1 <= m; l += 2) {
        twoStages<Vec, V>(xr, xi, n, 1 << (l - 1));
    }
    if (l == m) {
        oneStage<Vec, V>(xr, xi, n, 1 << (l - 1));
    }
}

using VectorTransform = void (*)(double*, double*, const double*, const double*, int, int);

// The smallest order each lane width serves: N/8 ≥ V.
constexpr int kMinVectorOrder2 = 4;
constexpr int kMinVectorOrder4 = 5;
constexpr int kMinVectorOrder8 = 6;

void vectorTransform2(double* xr, double* xi, const double* sr, const double* si, int m, int rows)
{
    vectorTransform<Doubles2, 2>(xr, xi, sr, si, m, rows);
}

#if defined(__x86_64__) || defined(__i386__)
[[gnu::target("avx2")]] void vectorTransform4(double* xr, double* xi, const double* sr,
                                              const double* si, int m, int rows)
{
    vectorTransform<Doubles4, 4>(xr, xi, sr, si, m, rows);
}

[[gnu::target("avx512f")]] void vectorTransform8(double* xr, double* xi, const double* sr,
                                                 const double* si, int m, int rows)
{
    vectorTransform<Doubles8, 8>(xr, xi, sr, si, m, rows);
}
#endif

// The widest transform this processor runs, with its smallest order.
struct VectorChoice {
    VectorTransform transform = vectorTransform2;
    int minOrder = kMinVectorOrder2;
    int lanes = 2;
};

// PHONAXIS_FFT_LANES (2, 4 or 8) caps the lane width, so that the narrower
// paths, which otherwise run only on processors without wider vectors, can
// be run and compared anywhere. Other values, and widths the processor
// lacks, leave the choice to the processor.
int laneCap()
{
    const char* value = std::getenv("PHONAXIS_FFT_LANES");
    if (value == nullptr) {
        return 8;
    }
    const std::string_view text(value);
    return text == "2" ? 2 : text == "4" ? 4 : 8;
}

VectorChoice chooseVectorTransform()
{
    [[maybe_unused]] const int cap = laneCap();
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (cap >= 8 && __builtin_cpu_supports("avx512f")) {
        return {vectorTransform8, kMinVectorOrder8, 8};
    }
    if (cap >= 4 && __builtin_cpu_supports("avx2")) {
        return {vectorTransform4, kMinVectorOrder4, 4};
    }
#endif
    return {};
}

const VectorChoice& vectorChoice()
{
    static const VectorChoice choice = chooseVectorTransform();
    return choice;
}

// One thread's copy of the input of the vectorised transform, in eight rows,
// grown to the longest transform the thread has run.
struct TransformCopy {
    std::vector<double> re;
    std::vector<double> im;
};

// This thread's copy storage with room for order m; null when the memory
// cannot be had (the transform then runs in place, with the same values).
TransformCopy* transformCopy(int m) noexcept
{
    thread_local TransformCopy copy;
    const auto size = static_cast<std::size_t>(8 * paddedRow(m));
    if (copy.re.size() < size || copy.im.size() < size) {
        try {
            copy.re.resize(size);
            copy.im.resize(size);
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }
    return &copy;
}

bool overlaps(std::span<const double> a, std::span<const double> b)
{
    const std::less<const double*> before;
    return before(a.data(), b.data() + b.size()) && before(b.data(), a.data() + a.size());
}

// One thread's work storage for DoFFT_Real, sized for the largest spectrum.
// The window is cached by length and type: rebuilding it gives the same
// values, and the cosines would cost more than the transform.
struct SpectrumWork {
    std::vector<double> re = std::vector<double>(kMaxSpectrumLength);
    std::vector<double> im = std::vector<double>(kMaxSpectrumLength);
    std::vector<double> window = std::vector<double>(kMaxSpectrumLength);
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

int CMathFunc::fftLanes()
{
    return vectorChoice().lanes;
}

bool CMathFunc::FFT_CODE_REAL(std::span<double> re, std::span<double> im, int m)
{
    return FFT_CODE_REAL(re, im, m, re.size());
}

bool CMathFunc::FFT_CODE_REAL(std::span<double> re, std::span<double> im, int m,
                              std::size_t nonzero)
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
    const std::size_t used = std::min(nonzero, length);
    const VectorChoice& choice = vectorChoice();
    TransformCopy* copy = m >= choice.minOrder ? transformCopy(m) : nullptr;
    if (copy == nullptr) {
        std::fill(xr + used, xr + length, 0.0);
        std::fill(xi + used, xi + length, 0.0);
        plainTransform(xr, xi, m);
        return true;
    }
    // Only the rows that hold points below `used` are copied (the last of
    // them completed with zeros); the transform takes the others as zero.
    const std::size_t row = length / 8;
    const auto rowStride = static_cast<std::size_t>(paddedRow(m));
    const std::size_t rows = (used + row - 1) / row;
    for (std::size_t t = 0; t < rows; ++t) {
        const std::size_t points = std::min(row, used - t * row);
        double* copyRe = copy->re.data() + t * rowStride;
        double* copyIm = copy->im.data() + t * rowStride;
        std::memcpy(copyRe, xr + t * row, points * sizeof(double));
        std::memcpy(copyIm, xi + t * row, points * sizeof(double));
        std::fill(copyRe + points, copyRe + row, 0.0);
        std::fill(copyIm + points, copyIm + row, 0.0);
    }
    choice.transform(xr, xi, copy->re.data(), copy->im.data(), m, static_cast<int>(rows));
    return true;
}

int CMathFunc::DoFFT_Real(std::span<double> data, int n, double preEmphasis, int windowType,
                          unsigned char interpolate, int outputPoints, int frequencyRangeHz,
                          double sampleRateHz)
{
    if (n < 2 || n > kMaxSpectrumFftLength || (n & (n - 1)) != 0) {
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
