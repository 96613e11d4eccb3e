#include "model/MinMaxSummary.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <system_error>
#include <thread>

namespace phonaxis {

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

// The comparisons are written so that a NaN `v` keeps the running value:
// this is what makes NaN samples drop out, and it is exactly the operand
// order of the SSE/NEON min and max instructions, so they compile to them.
inline float lower(float running, float v)
{
    return v < running ? v : running;
}
inline float higher(float running, float v)
{
    return v > running ? v : running;
}

// Four float lanes. With GCC and Clang these are generic vectors (SSE on
// x86-64, NEON on ARM, nothing CPU-specific in the source); elsewhere a
// plain array the optimiser may or may not vectorise.
#if defined(__GNUC__)
typedef float Quad __attribute__((vector_size(16)));

inline Quad splat(float v)
{
    return Quad{v, v, v, v};
}
inline Quad lower(Quad running, Quad v)
{
    return v < running ? v : running;
}
inline Quad higher(Quad running, Quad v)
{
    return v > running ? v : running;
}
#else
struct Quad {
    float lane[4];
    float operator[](int i) const { return lane[i]; }
};

inline Quad splat(float v)
{
    return Quad{{v, v, v, v}};
}
inline Quad lower(Quad running, Quad v)
{
    for (int l = 0; l < 4; ++l) {
        running.lane[l] = lower(running.lane[l], v.lane[l]);
    }
    return running;
}
inline Quad higher(Quad running, Quad v)
{
    for (int l = 0; l < 4; ++l) {
        running.lane[l] = higher(running.lane[l], v.lane[l]);
    }
    return running;
}
#endif

inline Quad loadQuad(const float* p)
{
    Quad q;
    std::memcpy(&q, p, sizeof q);
    return q;
}

// Eight running minima and maxima. Min and max over floats may not be
// reordered by the compiler (NaN, signed zero), so a plain loop would stay
// one scalar chain; eight lanes give eight independent chains.
constexpr std::size_t kLanes = 8;

struct Lanes {
    Quad lo0 = splat(kInf);
    Quad lo1 = splat(kInf);
    Quad hi0 = splat(-kInf);
    Quad hi1 = splat(-kInf);

    void add(const float* v)
    {
        const Quad a = loadQuad(v);
        const Quad b = loadQuad(v + 4);
        lo0 = lower(lo0, a);
        lo1 = lower(lo1, b);
        hi0 = higher(hi0, a);
        hi1 = higher(hi1, b);
    }

    void addMinima(const float* v)
    {
        lo0 = lower(lo0, loadQuad(v));
        lo1 = lower(lo1, loadQuad(v + 4));
    }

    void addMaxima(const float* v)
    {
        hi0 = higher(hi0, loadQuad(v));
        hi1 = higher(hi1, loadQuad(v + 4));
    }

    MinMax result() const
    {
        const Quad lo = lower(lo0, lo1);
        const Quad hi = higher(hi0, hi1);
        MinMax r{lo[0], hi[0]};
        for (int l = 1; l < 4; ++l) {
            r.minimum = lower(r.minimum, lo[l]);
            r.maximum = higher(r.maximum, hi[l]);
        }
        return r;
    }
};

// Extremes of one level-0 block: a fixed count the compiler unrolls.
MinMax scanBaseBlock(const float* p)
{
    Lanes lanes;
    for (std::size_t i = 0; i < MinMaxSummary::kBaseBlockSamples; i += kLanes) {
        lanes.add(p + i);
    }
    return lanes.result();
}

MinMax scanSamples(const float* p, std::size_t n)
{
    Lanes lanes;
    std::size_t i = 0;
    for (; i + kLanes <= n; i += kLanes) {
        lanes.add(p + i);
    }
    MinMax result = lanes.result();
    for (; i < n; ++i) {
        result.minimum = lower(result.minimum, p[i]);
        result.maximum = higher(result.maximum, p[i]);
    }
    return result;
}

// Minimum of `n` block minima and maximum of `n` block maxima. Block values
// are never NaN (an all-NaN block holds +inf / -inf).
MinMax scanBlocks(const float* minima, const float* maxima, std::size_t n)
{
    Lanes lanes;
    std::size_t i = 0;
    for (; i + kLanes <= n; i += kLanes) {
        lanes.addMinima(minima + i);
        lanes.addMaxima(maxima + i);
    }
    MinMax result = lanes.result();
    for (; i < n; ++i) {
        result.minimum = lower(result.minimum, minima[i]);
        result.maximum = higher(result.maximum, maxima[i]);
    }
    return result;
}

MinMax combine(MinMax a, MinMax b)
{
    return {lower(a.minimum, b.minimum), higher(a.maximum, b.maximum)};
}

static_assert(MinMaxSummary::kBaseBlockSamples % kLanes == 0);
static_assert(MinMaxSummary::kFanOut % kLanes == 0);

// The threaded build hands out pieces of this many samples and computes the
// levels whose blocks fit whole in a piece (0..kPieceLevels-1) piece by
// piece; the few blocks above are computed afterwards.
constexpr std::size_t kPieceLevels = 4;
constexpr std::size_t kPieceSamples = MinMaxSummary::kBaseBlockSamples * MinMaxSummary::kFanOut *
                                      MinMaxSummary::kFanOut * MinMaxSummary::kFanOut;

// Truncation toward zero limited to ±2^62, so that sums of two results do not
// overflow. NaN gives 0 (callers reject NaN before).
std::int64_t truncateLimited(double v)
{
    constexpr double kLimit = 4611686018427387904.0; // 2^62
    if (!(v > -kLimit)) {
        return v != v ? 0 : -static_cast<std::int64_t>(kLimit);
    }
    if (v >= kLimit) {
        return static_cast<std::int64_t>(kLimit);
    }
    return static_cast<std::int64_t>(v);
}

} // namespace

MinMax MinMax::none()
{
    return {kInf, -kInf};
}

bool MinMaxSummary::allocateLevels(std::size_t sampleCount, std::vector<Level>& levels)
{
    levels.clear();
    try {
        std::size_t blockSamples = kBaseBlockSamples;
        std::size_t blockCount = sampleCount / blockSamples;
        // Level 0 always exists (it may hold no block); each further level
        // exists while it holds at least one block.
        do {
            Level level;
            level.blockSamples = blockSamples;
            level.blockCount = blockCount;
            level.values = std::make_unique_for_overwrite<float[]>(2 * blockCount);
            levels.push_back(std::move(level));
            blockSamples *= kFanOut;
            blockCount /= kFanOut;
        } while (blockCount > 0);
    } catch (const std::bad_alloc&) {
        levels.clear();
        return false;
    }
    return true;
}

void MinMaxSummary::computeLevels(std::vector<Level>& levels, std::span<const float> samples,
                                  std::size_t sampleBegin, std::size_t sampleEnd,
                                  std::size_t levelBegin, std::size_t levelEnd)
{
    levelEnd = std::min(levelEnd, levels.size());
    for (std::size_t k = levelBegin; k < levelEnd; ++k) {
        const Level& level = levels[k];
        const std::size_t first = sampleBegin / level.blockSamples;
        const std::size_t end = std::min(level.blockCount, sampleEnd / level.blockSamples);
        float* minima = level.minima();
        float* maxima = level.maxima();
        if (k == 0) {
            for (std::size_t b = first; b < end; ++b) {
                const MinMax block = scanBaseBlock(samples.data() + b * kBaseBlockSamples);
                minima[b] = block.minimum;
                maxima[b] = block.maximum;
            }
        } else {
            const Level& below = levels[k - 1];
            for (std::size_t b = first; b < end; ++b) {
                const MinMax block =
                    scanBlocks(below.minima() + b * kFanOut, below.maxima() + b * kFanOut, kFanOut);
                minima[b] = block.minimum;
                maxima[b] = block.maximum;
            }
        }
    }
}

bool MinMaxSummary::build(std::span<const float> samples)
{
    std::vector<Level> levels;
    if (!allocateLevels(samples.size(), levels)) {
        clear();
        return false;
    }
    computeLevels(levels, samples, 0, samples.size(), 0, levels.size());
    m_levels = std::move(levels);
    m_sampleCount = samples.size();
    return true;
}

bool MinMaxSummary::rebuildFrom(std::span<const float> samples, std::size_t firstChangedSample)
{
    if (empty()) {
        return build(samples);
    }
    // Samples past the old end were not summarised: they count as changed.
    const std::size_t first = std::min(firstChangedSample, m_sampleCount);
    const std::size_t n = samples.size();

    bool sameLayout = true;
    {
        std::size_t blockCount = n / kBaseBlockSamples;
        for (std::size_t k = 0; k < m_levels.size() && sameLayout; ++k) {
            sameLayout = m_levels[k].blockCount == blockCount;
            blockCount /= kFanOut;
        }
        // The layout grows a level when the top level reaches kFanOut blocks.
        sameLayout = sameLayout && m_levels.back().blockCount / kFanOut == 0;
    }
    if (sameLayout) {
        computeLevels(m_levels, samples, first, n, 0, m_levels.size());
        m_sampleCount = n;
        return true;
    }

    std::vector<Level> levels;
    if (!allocateLevels(n, levels)) {
        clear();
        return false;
    }
    for (std::size_t k = 0; k < levels.size() && k < m_levels.size(); ++k) {
        const Level& old = m_levels[k];
        const std::size_t kept =
            std::min({first / old.blockSamples, old.blockCount, levels[k].blockCount});
        std::memcpy(levels[k].minima(), old.minima(), kept * sizeof(float));
        std::memcpy(levels[k].maxima(), old.maxima(), kept * sizeof(float));
    }
    computeLevels(levels, samples, first, n, 0, levels.size());
    m_levels = std::move(levels);
    m_sampleCount = n;
    return true;
}

void MinMaxSummary::clear()
{
    m_levels.clear();
    m_levels.shrink_to_fit();
    m_sampleCount = 0;
}

std::size_t MinMaxSummary::memoryBytes() const
{
    std::size_t bytes = m_levels.capacity() * sizeof(Level);
    for (const Level& level : m_levels) {
        bytes += 2 * level.blockCount * sizeof(float);
    }
    return bytes;
}

template <class RawPart, class BlockPart>
void MinMaxSummary::decompose(std::size_t first, std::size_t last, RawPart raw,
                              BlockPart blocks) const
{
    // Whole level-0 blocks [i, j); the samples around them are read raw.
    std::size_t i = (first + kBaseBlockSamples - 1) / kBaseBlockSamples;
    std::size_t j = last / kBaseBlockSamples;
    if (i >= j) {
        raw(first, last - first);
        return;
    }
    raw(first, i * kBaseBlockSamples - first);
    raw(j * kBaseBlockSamples, last - j * kBaseBlockSamples);

    // Climb while a whole block of the next level fits: the blocks at either
    // end that do not fill one are taken at this level.
    for (std::size_t k = 0;; ++k) {
        const Level& level = m_levels[k];
        const std::size_t up = (i + kFanOut - 1) / kFanOut;
        const std::size_t down = j / kFanOut;
        if (k + 1 == m_levels.size() || up >= down) {
            blocks(level, i, j - i);
            return;
        }
        blocks(level, i, up * kFanOut - i);
        blocks(level, down * kFanOut, j - down * kFanOut);
        i = up;
        j = down;
    }
}

MinMax MinMaxSummary::range(std::span<const float> samples, std::size_t first,
                            std::size_t count) const
{
    const std::size_t n = samples.size();
    if (first >= n || count == 0) {
        return MinMax::none();
    }
    const std::size_t last = first + std::min(count, n - first);
    const float* data = samples.data();
    if (n != m_sampleCount || m_levels.empty()) {
        return scanSamples(data + first, last - first);
    }
    // The whole blocks first. A raw part inside a summarised block can only
    // change the result when that block's own extremes lie outside it, so
    // for wide ranges the samples themselves are rarely read.
    MinMax result = MinMax::none();
    std::size_t rawFrom[2] = {};
    std::size_t rawSize[2] = {};
    std::size_t rawParts = 0;
    decompose(
        first, last,
        [&](std::size_t from, std::size_t size) {
            rawFrom[rawParts] = from;
            rawSize[rawParts] = size;
            ++rawParts;
        },
        [&](const Level& level, std::size_t from, std::size_t size) {
            result =
                combine(result, scanBlocks(level.minima() + from, level.maxima() + from, size));
        });
    const Level& base = m_levels.front();
    for (std::size_t p = 0; p < rawParts; ++p) {
        if (rawSize[p] == 0) {
            continue;
        }
        const std::size_t block = rawFrom[p] / kBaseBlockSamples;
        const bool insideOneBlock = (rawFrom[p] + rawSize[p] - 1) / kBaseBlockSamples == block;
        if (insideOneBlock && block < base.blockCount && base.minima()[block] >= result.minimum &&
            base.maxima()[block] <= result.maximum) {
            continue;
        }
        result = combine(result, scanSamples(data + rawFrom[p], rawSize[p]));
    }
    return result;
}

void MinMaxSummary::prefetch(std::span<const float> samples, std::size_t first,
                             std::size_t count) const
{
#if defined(__GNUC__)
    const std::size_t n = samples.size();
    if (first >= n || count == 0 || n != m_sampleCount || m_levels.empty()) {
        return;
    }
    const std::size_t last = first + std::min(count, n - first);
    // Each run is at most a few cache lines: its two ends cover it. Raw parts
    // are mostly settled by their block's extremes, so those are fetched
    // rather than the samples.
    auto touch = [](const float* p, std::size_t size) {
        if (size > 0) {
            __builtin_prefetch(p);
            __builtin_prefetch(p + size - 1);
        }
    };
    const Level& base = m_levels.front();
    decompose(
        first, last,
        [&](std::size_t from, std::size_t size) {
            const std::size_t block = from / kBaseBlockSamples;
            if (size > 0 && block < base.blockCount) {
                touch(base.minima() + block, 1);
                touch(base.maxima() + block, 1);
            }
        },
        [&](const Level& level, std::size_t from, std::size_t size) {
            touch(level.minima() + from, size);
            touch(level.maxima() + from, size);
        });
#else
    (void)samples;
    (void)first;
    (void)count;
#endif
}

bool buildSummaries(std::span<const SummaryJob> jobs, unsigned threadCount)
{
    using Level = MinMaxSummary::Level;
    struct Piece {
        std::size_t job;
        std::size_t begin;
    };

    bool allBuilt = true;
    std::vector<std::vector<Level>> storage;
    std::vector<Piece> pieces;
    try {
        storage.resize(jobs.size());
        std::size_t pieceCount = 0;
        for (const SummaryJob& job : jobs) {
            pieceCount += (job.samples.size() + kPieceSamples - 1) / kPieceSamples;
        }
        pieces.reserve(pieceCount);
    } catch (const std::bad_alloc&) {
        // Too little memory for the bookkeeping: build one at a time.
        for (const SummaryJob& job : jobs) {
            if (job.summary && !job.summary->build(job.samples)) {
                allBuilt = false;
            }
        }
        return allBuilt;
    }

    for (std::size_t j = 0; j < jobs.size(); ++j) {
        if (!jobs[j].summary) {
            continue;
        }
        if (!MinMaxSummary::allocateLevels(jobs[j].samples.size(), storage[j])) {
            jobs[j].summary->clear();
            allBuilt = false;
            continue;
        }
        for (std::size_t begin = 0; begin < jobs[j].samples.size(); begin += kPieceSamples) {
            pieces.push_back({j, begin});
        }
    }

    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (;;) {
            const std::size_t p = next.fetch_add(1, std::memory_order_relaxed);
            if (p >= pieces.size()) {
                return;
            }
            const Piece piece = pieces[p];
            const std::span<const float> samples = jobs[piece.job].samples;
            const std::size_t end = std::min(samples.size(), piece.begin + kPieceSamples);
            MinMaxSummary::computeLevels(storage[piece.job], samples, piece.begin, end, 0,
                                         kPieceLevels);
        }
    };

    if (threadCount == 0) {
        threadCount = std::max(1u, std::thread::hardware_concurrency());
    }
    const std::size_t helpers =
        std::min<std::size_t>(threadCount - 1, pieces.size() > 0 ? pieces.size() - 1 : 0);
    std::vector<std::thread> threads;
    try {
        threads.reserve(helpers);
        for (std::size_t t = 0; t < helpers; ++t) {
            threads.emplace_back(work);
        }
    } catch (const std::system_error&) {
        // Fewer threads than asked for: those running and this one finish the work.
    } catch (const std::bad_alloc&) {
    }
    work();
    for (std::thread& thread : threads) {
        thread.join();
    }

    for (std::size_t j = 0; j < jobs.size(); ++j) {
        if (!jobs[j].summary || storage[j].empty()) {
            continue;
        }
        std::vector<Level>& levels = storage[j];
        MinMaxSummary::computeLevels(levels, jobs[j].samples, 0, jobs[j].samples.size(),
                                     kPieceLevels, levels.size());
        jobs[j].summary->m_levels = std::move(levels);
        jobs[j].summary->m_sampleCount = jobs[j].samples.size();
    }
    return allBuilt;
}

std::int32_t tracePixelY(std::int32_t y0, double scaledValue)
{
    if (scaledValue != scaledValue) {
        return y0;
    }
    const double limited = std::clamp(scaledValue, -kTracePixelLimit, kTracePixelLimit);
    const std::int64_t y = std::int64_t{y0} - static_cast<std::int64_t>(limited);
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        y, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

std::int32_t traceBaselineY(std::int32_t top, std::int32_t bottom, double fraction)
{
    const auto height = static_cast<double>(std::int64_t{bottom} - std::int64_t{top});
    return tracePixelY(bottom, height * fraction);
}

TraceColumn traceColumnOf(const MinMax& extremes, double scale, std::int32_t y0)
{
    TraceColumn column;
    if (!extremes.present()) {
        return column;
    }
    // Multiplying by a constant keeps (scale > 0) or reverses (scale < 0)
    // the order of the samples, so the extremes of the scaled samples are
    // the scaled extremes; a zero scale maps every sample, infinities
    // included, to the baseline.
    column.present = true;
    if (scale > 0) {
        column.scaledMin = static_cast<double>(extremes.minimum) * scale;
        column.scaledMax = static_cast<double>(extremes.maximum) * scale;
    } else if (scale < 0) {
        column.scaledMin = static_cast<double>(extremes.maximum) * scale;
        column.scaledMax = static_cast<double>(extremes.minimum) * scale;
    }
    column.yTop = tracePixelY(y0, column.scaledMax);
    column.yBottom = tracePixelY(y0, column.scaledMin);
    return column;
}

TraceDrawing traceColumns(const MinMaxSummary& summary, std::span<const float> samples,
                          double pageMin, double pageMax, double scale, std::int32_t y0,
                          std::span<TraceColumn> columns)
{
    if (columns.empty() || samples.empty() || !std::isfinite(pageMin) || !std::isfinite(pageMax) ||
        !std::isfinite(scale)) {
        return TraceDrawing::Nothing;
    }
    const double s = (pageMax - pageMin) / static_cast<double>(columns.size());
    if (!std::isfinite(s)) {
        return TraceDrawing::Nothing;
    }
    if (!(s >= 4.0)) {
        return TraceDrawing::SampleBySample;
    }

    const auto n = static_cast<std::int64_t>(samples.size());
    const std::int64_t perColumn = truncateLimited(s);
    // Samples [from, from + count) of column i, cut to the data.
    struct Span {
        std::size_t from = 0;
        std::size_t count = 0;
    };
    auto columnSpan = [&](std::size_t i) {
        const std::int64_t start = truncateLimited(s * static_cast<double>(i) + pageMin);
        const std::int64_t from = std::max<std::int64_t>(start, 0);
        const std::int64_t to = std::min(start + perColumn, n);
        return from < to ? Span{static_cast<std::size_t>(from), static_cast<std::size_t>(to - from)}
                         : Span{};
    };
    // A wide column's query reads a few cache lines in each of several
    // places; the columns ahead are requested early so that their loads
    // overlap instead of waiting one after another.
    constexpr std::size_t kColumnsAhead = 6;
    for (std::size_t i = 0; i < kColumnsAhead && i < columns.size(); ++i) {
        const Span ahead = columnSpan(i);
        summary.prefetch(samples, ahead.from, ahead.count);
    }
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (i + kColumnsAhead < columns.size()) {
            const Span ahead = columnSpan(i + kColumnsAhead);
            summary.prefetch(samples, ahead.from, ahead.count);
        }
        TraceColumn& column = columns[i];
        column = TraceColumn{};
        const Span span = columnSpan(i);
        if (span.count == 0) {
            continue;
        }
        column = traceColumnOf(summary.range(samples, span.from, span.count), scale, y0);
    }
    return TraceDrawing::MinMaxColumns;
}

} // namespace phonaxis
