#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace phonaxis {

// The smallest and largest of a set of samples. A set without any sample
// (an empty range, or one of NaN samples only) holds minimum +inf and
// maximum -inf, so that combining it with any other set changes nothing.
struct MinMax {
    float minimum;
    float maximum;

    static MinMax none();
    // False for a set without any (non-NaN) sample.
    bool present() const { return minimum <= maximum; }
};

struct SummaryJob;

// Block minima and maxima of one channel's samples at several resolutions, so
// that the minimum and maximum of any sample range costs time proportional
// to the logarithm of its length instead of to the length.
//
// Level 0 holds one minimum and one maximum per block of kBaseBlockSamples
// samples; each level above combines kFanOut blocks of the level below. Only
// whole blocks are summarised: the samples of a trailing partial block are
// read raw by the queries. The summary costs about 3.3 % of the samples'
// bytes (two floats per 64 samples, plus 1/16 of that for each level above).
//
// NaN samples are ignored: they take part in no minimum or maximum, and a
// range of NaN samples only has no value (MinMax::present() is false).
// Infinities are ordinary values.
//
// The summary does not keep the samples: every query is given them again,
// and they must be the samples it was last built from (the caller rebuilds
// after loading or editing). A query given samples of another length than the
// summary's reads them directly: exact, at the cost of a scan. Samples of the
// same length but other contents are not detected, so every edit must be
// followed by rebuildFrom() or build(). Building writes the summary; queries
// only read it, so any number of threads may query a summary nobody is
// building.
class MinMaxSummary {
public:
    static constexpr std::size_t kBaseBlockSamples = 64;
    static constexpr std::size_t kFanOut = 16;

    MinMaxSummary() = default;
    MinMaxSummary(const MinMaxSummary&) = delete;
    MinMaxSummary& operator=(const MinMaxSummary&) = delete;
    MinMaxSummary(MinMaxSummary&&) noexcept = default;
    MinMaxSummary& operator=(MinMaxSummary&&) noexcept = default;

    // Summarises `samples` (the channel's samples; nothing past its end is
    // read). False when the memory for the summary cannot be had; the summary
    // is then empty (queries scan the samples).
    bool build(std::span<const float> samples);

    // Brings the summary up to date after an edit that left the samples
    // before `firstChangedSample` as they were when the summary was last
    // built (the length may have changed). Only blocks that reach
    // `firstChangedSample` or beyond are recomputed. A summary that is empty
    // is built whole. False as for build().
    bool rebuildFrom(std::span<const float> samples, std::size_t firstChangedSample);

    void clear();
    bool empty() const { return m_levels.empty(); }

    // Number of samples summarised (0 after clear()).
    std::size_t sampleCount() const { return m_sampleCount; }
    std::size_t levelCount() const { return m_levels.size(); }
    // Heap bytes held by the summary.
    std::size_t memoryBytes() const;

    // Minimum and maximum of samples [first, first + count), the range cut to
    // the samples (an empty or wholly absent range gives MinMax::none()).
    // Exactly the values a sample-by-sample scan finds.
    MinMax range(std::span<const float> samples, std::size_t first, std::size_t count) const;

    // Asks the processor to start loading what range() will read for the
    // same arguments, so that the range queries of a whole view overlap their
    // memory waits. Changes nothing; a hint only.
    void prefetch(std::span<const float> samples, std::size_t first, std::size_t count) const;

private:
    friend bool buildSummaries(std::span<const SummaryJob> jobs, unsigned threadCount);

    // One resolution: blockCount minima followed by blockCount maxima in one
    // allocation.
    struct Level {
        std::size_t blockSamples = 0;
        std::size_t blockCount = 0;
        std::unique_ptr<float[]> values;

        float* minima() const { return values.get(); }
        float* maxima() const { return values.get() + blockCount; }
    };

    // Splits samples [first, last) (within the summary) into raw parts
    // raw(from, count) and runs of whole blocks blocks(level, from, count).
    template <class RawPart, class BlockPart>
    void decompose(std::size_t first, std::size_t last, RawPart raw, BlockPart blocks) const;

    // The level layout for `sampleCount` samples, storage allocated but not
    // filled; empty (and false) when it cannot be allocated.
    static bool allocateLevels(std::size_t sampleCount, std::vector<Level>& levels);
    // Recomputes, for levels [levelBegin, levelEnd), every block from the
    // one holding sample `sampleBegin` up to the last whole block before
    // sample `sampleEnd`. Each level reads the level below (level 0 the
    // samples), so lower levels must already be current over the range.
    static void computeLevels(std::vector<Level>& levels, std::span<const float> samples,
                              std::size_t sampleBegin, std::size_t sampleEnd,
                              std::size_t levelBegin, std::size_t levelEnd);

    std::vector<Level> m_levels;
    std::size_t m_sampleCount = 0;
};

// One channel of a summary build: the summary to build and the samples it
// summarises. The samples must stay valid and unchanged during the build.
struct SummaryJob {
    MinMaxSummary* summary = nullptr;
    std::span<const float> samples;
};

// Builds the summary of every job with `threadCount` threads (0: one per
// hardware thread), the calling thread among them. The work is shared out in
// pieces of a few hundred thousand samples, so a few long channels keep every
// thread busy. False when any summary could not be allocated: that summary
// is left empty, the others are built. The jobs' summaries must be distinct
// and must not be queried meanwhile.
bool buildSummaries(std::span<const SummaryJob> jobs, unsigned threadCount = 0);

// --- the min/max column rule of a trace ------------------------------------

// How a trace of a page is drawn.
enum class TraceDrawing {
    Nothing,        // no columns, a non-finite page or scale, or no samples
    SampleBySample, // fewer than 4 samples per column: the caller joins the samples
    MinMaxColumns,  // the columns hold each pixel column's extremes
};

// One pixel column of a min/max trace. Scaled values are sample × scale, the
// product taken in double precision; y = y0 − (int)(scaled value).
struct TraceColumn {
    bool present = false;     // false: no sample of the column exists (past the
                              // data) or all of them are NaN; nothing to draw
    double scaledMin = 0.0;   // smallest scaled sample
    double scaledMax = 0.0;   // largest scaled sample
    std::int32_t yTop = 0;    // y of scaledMax (the smaller y: y grows downward)
    std::int32_t yBottom = 0; // y of scaledMin
};

// Pixels farther than this from the baseline are drawn at this distance, so
// that huge scaled values and infinities give a point far off the view
// instead of an undefined integer conversion.
inline constexpr double kTracePixelLimit = 1 << 30;

// The pixel column of a trace whose samples have the extremes `extremes`:
// not present for a set without samples; otherwise each extreme multiplied
// by `scale` (a negative scale swaps them, a zero one puts both on the
// baseline) and placed by tracePixelY.
TraceColumn traceColumnOf(const MinMax& extremes, double scale, std::int32_t y0);

// y0 − (int)(scaledValue), with the scaled value truncated toward zero and
// limited to ±kTracePixelLimit. For a NaN value, y0.
std::int32_t tracePixelY(std::int32_t y0, double scaledValue);

// The baseline of a trace in `top`..`bottom` (view pixels, y downward) with
// value 0 at `fraction` of the height up from the bottom:
// bottom − (int)((bottom − top) × fraction), the product limited as in
// tracePixelY.
std::int32_t traceBaselineY(std::int32_t top, std::int32_t bottom, double fraction);

// The min/max columns of the page [pageMin, pageMax) (sample positions) drawn
// in columns.size() pixel columns: with s = (pageMax − pageMin) / width, the
// rule applies when s ≥ 4, and column i then covers the (int)s samples from
// (int)(s × i + pageMin), each multiplied by `scale`. Samples outside the
// data are absent; a column without samples is not present. A negative
// scale turns the trace upside down (the largest sample gives the smallest
// scaled value); a zero scale puts every sample on the baseline.
//
// Returns MinMaxColumns when the columns were filled; otherwise the columns
// are left untouched: SampleBySample when s < 4 (the caller draws sample by
// sample), Nothing when there are no columns or samples, or when a page bound
// or the scale is not finite.
TraceDrawing traceColumns(const MinMaxSummary& summary, std::span<const float> samples,
                          double pageMin, double pageMax, double scale, std::int32_t y0,
                          std::span<TraceColumn> columns);

} // namespace phonaxis
