#include "model/MinMaxSummary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace phonaxis {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Positive noise (so that blocks left at zero would show) with isolated NaNs,
// a whole run of NaN samples (an all-NaN block), a constant stretch and two
// infinities at n / 5.
std::vector<float> hostileSamples(std::size_t n, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> value(0.5f, 1.5f);
    std::vector<float> samples(n);
    for (std::size_t i = 0; i < n; ++i) {
        samples[i] = random() % 100 == 0 ? kNaN : value(random);
    }
    if (n > 1) {
        samples[n / 5] = kInf;
        samples[n / 5 + 1] = -kInf;
    }
    for (std::size_t i = n / 3; i < std::min(n, n / 3 + 300); ++i) {
        samples[i] = kNaN;
    }
    for (std::size_t i = n / 2; i < std::min(n, n / 2 + 5000); ++i) {
        samples[i] = 0.25f;
    }
    return samples;
}

MinMax scan(const std::vector<float>& samples, std::size_t first, std::size_t count)
{
    MinMax result = MinMax::none();
    for (std::size_t i = first; i < samples.size() && i - first < count; ++i) {
        if (!std::isnan(samples[i])) {
            result.minimum = std::min(result.minimum, samples[i]);
            result.maximum = std::max(result.maximum, samples[i]);
        }
    }
    return result;
}

void expectSameRange(const MinMaxSummary& summary, const std::vector<float>& samples,
                     std::size_t first, std::size_t count)
{
    const MinMax expected = scan(samples, first, count);
    const MinMax got = summary.range(samples, first, count);
    ASSERT_EQ(got.present(), expected.present()) << first << " + " << count;
    if (expected.present()) {
        ASSERT_EQ(got.minimum, expected.minimum) << first << " + " << count;
        ASSERT_EQ(got.maximum, expected.maximum) << first << " + " << count;
    }
}

// Random ranges of every order of length, some running past the data.
void expectRandomRangesExact(const MinMaxSummary& summary, const std::vector<float>& samples,
                             unsigned seed)
{
    std::mt19937 random(seed);
    const std::size_t n = samples.size();
    for (int q = 0; q < 250; ++q) {
        const std::size_t first = random() % (n + 100);
        const std::size_t count = std::size_t{1} << (random() % 21);
        expectSameRange(summary, samples, first, count + random() % count);
    }
    // Short ranges across the edges of the NaN run and the constant stretch.
    for (const std::size_t edge : {n / 3, n / 3 + 300, n / 2 + 5000}) {
        for (std::size_t first = edge > 130 ? edge - 130 : 0; first < edge + 70; first += 7) {
            expectSameRange(summary, samples, first, 100);
        }
    }
    for (const std::size_t first : {std::size_t{0}, std::size_t{1}, n / 5 + 2, n / 4}) {
        expectSameRange(summary, samples, first, n);
    }
    expectSameRange(summary, samples, 0, std::numeric_limits<std::size_t>::max());
    expectSameRange(summary, samples, n, 10);
}

TEST(MinMaxSummaryTest, RangesMatchAScanAtEveryLength)
{
    for (const std::size_t n : {0u, 1u, 63u, 64u, 65u, 1024u, 16u * 1024 + 37, 1'300'000u}) {
        SCOPED_TRACE(n);
        const std::vector<float> samples = hostileSamples(n, static_cast<unsigned>(n));
        MinMaxSummary summary;
        ASSERT_TRUE(summary.build(samples));
        EXPECT_EQ(summary.sampleCount(), n);
        expectRandomRangesExact(summary, samples, 7);
    }
}

TEST(MinMaxSummaryTest, SummaryCostsUnderFivePercentOfTheSamples)
{
    const std::vector<float> samples(4'000'000, 0.5f);
    MinMaxSummary summary;
    ASSERT_TRUE(summary.build(samples));
    EXPECT_LT(summary.memoryBytes(), samples.size() * sizeof(float) / 20);
    EXPECT_GT(summary.levelCount(), 3u);
    summary.clear();
    EXPECT_TRUE(summary.empty());
}

// After an edit from some sample on (in place, lengthening, shortening),
// rebuilding from there answers like a fresh build. Before the rebuild, a
// summary of another length than the samples it is given answers from them.
TEST(MinMaxSummaryTest, RebuildFromAnEditAnswersLikeAFreshBuild)
{
    struct Edit {
        std::size_t from;
        std::size_t newLength;
    };
    const Edit edits[] = {{500'000, 1'000'000}, {0, 1'000'000},     {999'999, 1'000'000},
                          {700'000, 2'000'000}, {300'000, 200'000}, {5'000'000, 1'000'100},
                          {1'000, 40}};
    for (const Edit& edit : edits) {
        SCOPED_TRACE(edit.from);
        std::vector<float> samples = hostileSamples(1'000'000, 1);
        MinMaxSummary summary;
        ASSERT_TRUE(summary.build(samples));
        samples.resize(edit.newLength, 0.0f);
        std::mt19937 random(static_cast<unsigned>(edit.from));
        for (std::size_t i = std::min(edit.from, samples.size()); i < samples.size(); ++i) {
            samples[i] = static_cast<float>(random() % 20001) * 1e-4f - 1.0f;
        }
        if (samples.size() != summary.sampleCount()) {
            expectSameRange(summary, samples, 0, samples.size()); // stale, yet exact
        }
        ASSERT_TRUE(summary.rebuildFrom(samples, edit.from));
        EXPECT_EQ(summary.sampleCount(), samples.size());
        expectRandomRangesExact(summary, samples, 3);
    }
}

TEST(MinMaxSummaryTest, ThreadedBuildOfSeveralChannels)
{
    std::vector<std::vector<float>> channels;
    for (const std::size_t n : {9'000'000u, 10u, 0u, 1'048'576u, 262'145u}) {
        channels.push_back(hostileSamples(n, static_cast<unsigned>(n) + 11));
    }
    std::vector<MinMaxSummary> summaries(channels.size());
    std::vector<SummaryJob> jobs;
    for (std::size_t c = 0; c < channels.size(); ++c) {
        jobs.push_back({&summaries[c], channels[c]});
    }
    ASSERT_TRUE(buildSummaries(jobs, 3));
    for (std::size_t c = 0; c < channels.size(); ++c) {
        SCOPED_TRACE(c);
        EXPECT_EQ(summaries[c].sampleCount(), channels[c].size());
        EXPECT_FALSE(summaries[c].empty());
        expectRandomRangesExact(summaries[c], channels[c], static_cast<unsigned>(c));
    }
}

TEST(MinMaxSummaryTest, PixelYTruncatesTowardZeroAndStaysInRange)
{
    constexpr auto limit = static_cast<std::int32_t>(kTracePixelLimit);
    const struct {
        std::int32_t y0;
        double value;
        std::int32_t y;
    } cases[] = {{100, 3.7, 97},
                 {100, -3.7, 103},
                 {100, -0.9, 100},
                 {100, kInf, 100 - limit},
                 {100, -kInf, 100 + limit},
                 {100, 1e300, 100 - limit},
                 {100, kNaN, 100},
                 {-2'000'000'000, 2e9, std::numeric_limits<std::int32_t>::min()}};
    for (const auto& c : cases) {
        EXPECT_EQ(tracePixelY(c.y0, c.value), c.y) << c.value;
    }
    EXPECT_EQ(traceBaselineY(10, 110, 0.5), 60);
    EXPECT_EQ(traceBaselineY(10, 110, 0.333), 77); // 110 - (int)33.3
}

// Column i of the page: the (int)s samples from (int)(s * i + pageMin), each
// scaled (a zero scale puts every sample on the baseline), NaN left out, and
// each sample's own y; the column's y range is that of its samples.
std::vector<TraceColumn> columnsByScan(const std::vector<float>& samples, double pageMin,
                                       double pageMax, double scale, std::int32_t y0, int width)
{
    std::vector<TraceColumn> columns(static_cast<std::size_t>(width));
    const double s = (pageMax - pageMin) / width;
    const auto n = static_cast<std::int64_t>(samples.size());
    for (int i = 0; i < width; ++i) {
        TraceColumn& column = columns[static_cast<std::size_t>(i)];
        const auto start = static_cast<std::int64_t>(s * i + pageMin);
        for (std::int64_t j = start; j < start + static_cast<std::int64_t>(s); ++j) {
            if (j < 0 || j >= n || std::isnan(samples[static_cast<std::size_t>(j)])) {
                continue;
            }
            const double scaled =
                scale == 0 ? 0.0
                           : static_cast<double>(samples[static_cast<std::size_t>(j)]) * scale;
            const std::int32_t y = tracePixelY(y0, scaled);
            if (!column.present) {
                column = {true, scaled, scaled, y, y};
            }
            column.scaledMin = std::min(column.scaledMin, scaled);
            column.scaledMax = std::max(column.scaledMax, scaled);
            column.yTop = std::min(column.yTop, y);
            column.yBottom = std::max(column.yBottom, y);
        }
    }
    return columns;
}

TEST(MinMaxSummaryTest, ColumnsFollowTheColumnRuleExactly)
{
    const std::vector<float> samples = hostileSamples(2'000'003, 5);
    MinMaxSummary summary;
    ASSERT_TRUE(summary.build(samples));
    const double n = static_cast<double>(samples.size());

    struct Page {
        double pageMin, pageMax, scale;
        int width;
        TraceDrawing drawing;
    };
    std::vector<Page> pages = {
        {0, n, 40.0, 1600, TraceDrawing::MinMaxColumns},                  // whole channel
        {1000, 1000 + 4 * 1600, 40.0, 1600, TraceDrawing::MinMaxColumns}, // exactly 4 per column
        {1000, 1000 + 3.9 * 1600, 40.0, 1600, TraceDrawing::SampleBySample},
        {12.5, 9000.25, -37.3, 1, TraceDrawing::MinMaxColumns},           // one column
        {n - 5000.5, n + 90000, 120.0, 700, TraceDrawing::MinMaxColumns}, // past the end
        {-30000, 20000, 0.0, 333, TraceDrawing::MinMaxColumns}, // before the start, zero scale
        {n / 3 - 10, n / 3 + 400, 1e6, 100, TraceDrawing::MinMaxColumns}, // NaN run
        {5, 5, 1.0, 10, TraceDrawing::SampleBySample},
        {0, n, kInf, 10, TraceDrawing::Nothing},
        {kNaN, n, 1.0, 10, TraceDrawing::Nothing},
        {0, n, 1.0, 0, TraceDrawing::Nothing},
    };
    std::mt19937 random(9);
    for (int k = 0; k < 60; ++k) {
        const double start = std::uniform_real_distribution<double>(-1e4, n)(random);
        const double perColumn = std::exp(std::uniform_real_distribution<double>(1.4, 9.0)(random));
        const int width = 1 + static_cast<int>(random() % 1600);
        const double scale = std::uniform_real_distribution<double>(-300.0, 300.0)(random);
        pages.push_back(
            {start, start + perColumn * width, scale, width, TraceDrawing::MinMaxColumns});
    }

    for (const Page& page : pages) {
        SCOPED_TRACE(testing::Message() << page.pageMin << ".." << page.pageMax << " w "
                                        << page.width << " scale " << page.scale);
        const std::int32_t y0 = 150;
        std::vector<TraceColumn> got(static_cast<std::size_t>(page.width));
        ASSERT_EQ(traceColumns(summary, samples, page.pageMin, page.pageMax, page.scale, y0, got),
                  page.drawing);
        if (page.drawing != TraceDrawing::MinMaxColumns) {
            continue;
        }
        const std::vector<TraceColumn> expected =
            columnsByScan(samples, page.pageMin, page.pageMax, page.scale, y0, page.width);
        for (std::size_t i = 0; i < got.size(); ++i) {
            ASSERT_EQ(got[i].present, expected[i].present) << "column " << i;
            if (expected[i].present) {
                ASSERT_EQ(got[i].scaledMin, expected[i].scaledMin) << "column " << i;
                ASSERT_EQ(got[i].scaledMax, expected[i].scaledMax) << "column " << i;
                ASSERT_EQ(got[i].yTop, expected[i].yTop) << "column " << i;
                ASSERT_EQ(got[i].yBottom, expected[i].yBottom) << "column " << i;
            }
        }
    }
}

} // namespace
} // namespace phonaxis
