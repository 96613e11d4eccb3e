#include "display/GraphPrimitives.h"

#include "model/MinMaxSummary.h"
#include "support/TextRecorder.h"

#include <QImage>
#include <QPainter>
#include <QPolygon>
#include <QRectF>
#include <QString>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

namespace phonaxis {
namespace {

constexpr RGBColor kBlack{0, 0, 0};
const QRgb kWhite = qRgb(255, 255, 255);

QImage blankImage(int width = 700, int height = 200)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    return image;
}

using test::TextRecorder;

// Whether each of `texts` ends at least 3 pixels before the next one starts.
::testing::AssertionResult apart(const std::vector<TextRecorder::Text>& texts)
{
    for (std::size_t i = 1; i < texts.size(); ++i) {
        if (texts[i - 1].box.right() + 3.0 > texts[i].box.left()) {
            return ::testing::AssertionFailure()
                   << '"' << texts[i - 1].text.toStdString() << "\" and \""
                   << texts[i].text.toStdString() << "\" run together";
        }
    }
    return ::testing::AssertionSuccess();
}

// A noisy signal with a slow swell, so that neighbouring columns differ.
std::vector<float> testSignal(std::size_t count)
{
    std::vector<float> samples(count);
    unsigned state = 12345;
    for (std::size_t i = 0; i < count; ++i) {
        state = state * 1103515245u + 12345u;
        const double noise = double((state >> 8) & 0xFFFF) / 65535.0 - 0.5;
        samples[i] = float(0.5 * std::sin(double(i) * 0.0007) + 0.5 * noise);
    }
    return samples;
}

// The trace as the rule describes it, computed sample by sample without
// any summary: min/max columns as vertical spans, each reaching to the
// nearer edge of the previous column's span (or the baseline point) when the
// two do not meet; sample by sample as one polyline per unbroken run.
QImage bruteForceTrace(const std::vector<float>& samples, int pageMin, int pageMax, double scale,
                       const Rect& rect)
{
    QImage image = blankImage();
    QPainter painter(&image);
    painter.setPen(QPen(Qt::black, 1.0));
    const int width = rect.right - rect.left;
    const int y0 = rect.bottom - int((rect.bottom - rect.top) * 0.5);
    const double s = double(pageMax - pageMin) / width;
    const auto n = static_cast<long>(samples.size());
    if (s >= 4.0) {
        bool joined = true;
        int previousTop = y0;
        int previousBottom = y0;
        for (int i = 0; i < width; ++i) {
            const long from = long(s * i + pageMin);
            double low = 1e300;
            double high = -1e300;
            for (long j = std::max(from, 0L); j < std::min(from + long(s), n); ++j) {
                low = std::min(low, samples[std::size_t(j)] * scale);
                high = std::max(high, samples[std::size_t(j)] * scale);
            }
            if (low > high) {
                joined = false;
                continue;
            }
            const int top = y0 - int(high);
            const int bottom = y0 - int(low);
            const int fromY = joined ? std::min(top, previousBottom) : top;
            const int toY = joined ? std::max(bottom, previousTop) : bottom;
            for (int y = std::max(fromY, 0); y <= std::min(toY, image.height() - 1); ++y) {
                image.setPixel(rect.left + i, y, qRgb(0, 0, 0));
            }
            joined = true;
            previousTop = top;
            previousBottom = bottom;
        }
        return image;
    }
    QPolygon line{QPoint(rect.left, y0)};
    for (long j = pageMin; j < pageMax && j < n; ++j) {
        const int x = rect.left + int(double(j - pageMin) * width / (pageMax - pageMin));
        line << QPoint(x, y0 - int(samples[std::size_t(j)] * scale));
    }
    if (line.size() > 1) {
        painter.drawPolyline(line);
    }
    return image;
}

TEST(GraphPrimitivesTest, TraceMatchesBruteForceRuleWithAndWithoutSummary)
{
    struct Case {
        const char* name;
        std::size_t sampleCount;
        int pageMin, pageMax, width;
    };
    const Case cases[] = {
        {"exactly 4 per column: min/max columns", 4000, 0, 2400, 600},
        {"3.9 per column: sample by sample", 4000, 100, 100 + 2340, 600},
        {"fewer samples than pixels", 4000, 1000, 1050, 600},
        {"wide page read through summary blocks", 2'000'003, 17, 2'000'003, 613},
        {"page running past the data end", 100'000, 60'000, 160'000, 500},
        {"page starting before the data", 100'000, -5000, 45'000, 500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<float> samples = testSignal(c.sampleCount);
        MinMaxSummary summary;
        ASSERT_TRUE(summary.build(samples));
        const Rect rect{20, 30, 180, static_cast<std::int16_t>(30 + c.width)};
        const double scale = 150.0;

        const QImage expected = bruteForceTrace(samples, c.pageMin, c.pageMax, scale, rect);
        for (const MinMaxSummary* withSummary : {&summary, static_cast<MinMaxSummary*>(nullptr)}) {
            QImage image = blankImage();
            QPainter painter(&image);
            painter.setPen(QPen(Qt::black, 1.0));
            DrawGraphFloat_1(painter, c.pageMin, c.pageMax, samples, scale, 0.5, 0.0, rect, kBlack,
                             false, kBlack, withSummary);
            painter.end();
            EXPECT_TRUE(image == expected) << (withSummary ? "with summary" : "scanning");
        }
    }
}

TEST(GraphPrimitivesTest, HostileValuesDrawNothingOrStayInBounds)
{
    const std::vector<float> samples = {0.0f, std::numeric_limits<float>::quiet_NaN(),
                                        std::numeric_limits<float>::infinity(), -1e38f, 1.0f};
    const std::vector<double> doubles(samples.begin(), samples.end());
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double huge = 1e300;
    const Rect rect{10, 10, 100, 210};
    const Rect empty{10, 10, 10, 10};
    QImage image = blankImage();
    QPainter painter(&image);
    for (double scale : {1e9, -huge, nan, 0.0}) {
        DrawGraphFloat_1(painter, 0, 5, samples, scale, 0.5, huge, rect, kBlack, true, kBlack);
        DrawGraphFloat_1(painter, std::numeric_limits<std::int32_t>::min(),
                         std::numeric_limits<std::int32_t>::max(), samples, scale, nan, 0.0, rect,
                         kBlack, true, kBlack);
        DrawGraphDouble(painter, doubles, nan, huge, scale, 0.5, 0.0, rect, kBlack, true, kBlack,
                        nan);
        DrawGraphDouble(painter, doubles, -huge, huge, scale, 0.5, 0.0, rect, kBlack, false,
                        kBlack, 2.0);
        MarkArray(painter, 0.0, 5.0, std::vector<ArrayData>{{nan, 0.0, huge}, {2.0, 0.0, nan}},
                  scale, 0.5, rect, kBlack);
        MarkCycleArray(painter, 0.0, nan, std::vector<ArrayCycle>(2), scale, 0.5, rect, kBlack);
        DrawGraphFloat_1(painter, 0, 5, samples, scale, 0.5, 0.0, empty, kBlack, true, kBlack);
    }
    TimeGrids(painter, rect, 0, true, 0.0, huge, false, false, kBlack);
    TimeGrids(painter, rect, -5, true, nan, 100.0, true, true, kBlack);
    TimeGrids(painter, rect, 1, true, 0.0, 2e9, false, false, kBlack);
    DrawAnyGrid(painter, rect, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), 1,
                2, true, false);
    DrawPitchTrack(painter, doubles, -10, 1 << 30, rect, -huge, huge, kBlack);
    painter.end();
    // Something was drawn inside (the zero-scale trace on its baseline), yet
    // the band right of the rectangle stayed blank: nothing wrapped around.
    EXPECT_NE(image.pixel(150, 55), kWhite);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 215; x < 225; ++x) {
            ASSERT_EQ(image.pixel(x, y), kWhite) << x << "," << y;
        }
    }
}

TEST(GraphPrimitivesTest, TimeGridStepFollowsPageLength)
{
    struct Case {
        double startMs, endMs;
        int spacingMs;
        double stepMs, firstMs;
        int lineCount;
    };
    const Case cases[] = {
        {0, 30, 0, 1, 0, 31},               // under 31 ms: 1 ms
        {0, 31, 0, 2, 0, 30},               // 31 / 2 = 15 < 31
        {0, 10'000, 0, 500, 0, 30},         // 10000 / 250 = 40, / 500 = 20
        {1234, 1234 + 3000, 0, 100, 1200, 31},
        {0, 3'600'000, 0, 100'000, 0, 37},  // a long page is gridded to its end
        {250, 1250, 100, 100, 200, 11},     // given spacing: 1000 / 100 + 1 lines
        {100, 100, 0, 0, 0, 0},             // empty page: no grid
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.endMs);
        const TimeGridLayout layout = timeGridLayout(c.startMs, c.endMs, c.spacingMs);
        EXPECT_EQ(layout.stepMs, c.stepMs);
        EXPECT_EQ(layout.firstMs, c.firstMs);
        EXPECT_EQ(layout.lineCount, c.lineCount);
    }
}

TEST(GraphPrimitivesTest, GivenSpacingPutsFirstLineAtNextMultipleAfterPageStart)
{
    QImage image = blankImage(1100, 300);
    QPainter painter(&image);
    const Rect rect{0, 10, 200, 1010}; // 1 pixel per ms over 250 … 1250 ms
    TimeGrids(painter, rect, 100, true, 250.0, 1250.0, false, false, {0xAAAA, 0xAAAA, 0xAAAA});
    painter.end();
    const QRgb grey = qRgb(0xAA, 0xAA, 0xAA);
    std::vector<int> lines;
    for (int x = 0; x < image.width(); ++x) {
        if (image.pixel(x, 100) == grey) {
            lines.push_back(x);
        }
    }
    // 300, 400, … 1200 ms.
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines.front(), 10 + 50);
    EXPECT_EQ(lines.back(), 10 + 950);
    // The labels hang below the rectangle.
    bool labelBelow = false;
    for (int y = 201; y < 230 && !labelBelow; ++y) {
        for (int x = 50; x < 70; ++x) {
            labelBelow = labelBelow || qGray(image.pixel(x, y)) < 100;
        }
    }
    EXPECT_TRUE(labelBelow);
}

TEST(GraphPrimitivesTest, TimeGridLabelsAreWrittenOnlyWhereTheyFit)
{
    struct Case {
        double startMs, endMs;
        int width;
        bool relative;
        std::vector<std::string> firstLabels; // the first labels written
    };
    const Case cases[] = {
        {1100, 1200, 1000, false, {"1105", "1110", "1115"}}, // 5 ms lines 50 px apart: all
        {1150, 1260, 500, false, {"1160", "1170", "1180"}},  // 23 px apart: every other one
        {0, 600'000, 1095, false, {"50000", "100000", "150000"}}, // a ten-minute page
        {1150, 1260, 500, true, {"10", "20", "30"}},
        {0, 10'000, 120, false, {"5000"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.firstLabels[0]);
        TextRecorder recorder(QSize(c.width + 100, 300));
        QPainter painter(&recorder);
        const Rect rect{0, 20, 200, static_cast<std::int16_t>(20 + c.width)};
        TimeGrids(painter, rect, 0, true, c.startMs, c.endMs, c.relative, false, kBlack);
        painter.end();
        const std::vector<TextRecorder::Text>& labels = recorder.texts();
        ASSERT_GE(labels.size(), c.firstLabels.size());
        for (std::size_t i = 0; i < c.firstLabels.size(); ++i) {
            EXPECT_EQ(labels[i].text.toStdString(), c.firstLabels[i]);
        }
        EXPECT_TRUE(apart(labels));
        // Each label is centred on its own line.
        const double firstMs = c.relative ? timeGridLayout(c.startMs, c.endMs, 0).firstMs : 0.0;
        for (const TextRecorder::Text& label : labels) {
            const double lineX = 20 + int((label.text.toDouble() + firstMs - c.startMs) *
                                          c.width / (c.endMs - c.startMs));
            EXPECT_NEAR(label.box.center().x(), lineX, 1.0) << label.text.toStdString();
        }
    }
}

TEST(GraphPrimitivesTest, ValueGridLabelsStayInsideTheGridsEdges)
{
    // A grid filling its view (the spectrum's: its top and right edges are
    // the view's): the last frequency label and the top level label are kept
    // inside, the others are centred on their lines.
    const Rect rect{0, 20, 200, 420};
    for (int orientation : {2, 1}) {
        SCOPED_TRACE(orientation);
        TextRecorder recorder(QSize(420, 230));
        QPainter painter(&recorder);
        DrawAnyGrid(painter, rect, 0, 5000, 1000, orientation, true, false);
        painter.end();
        const std::vector<TextRecorder::Text>& labels = recorder.texts();
        ASSERT_EQ(labels.size(), orientation == 2 ? 5u : 6u);
        for (const TextRecorder::Text& label : labels) {
            const double length = orientation == 2 ? 400.0 : 200.0; // width or height
            const double at = label.text.toDouble() * length / 5000.0;
            if (orientation == 2) {
                EXPECT_LE(label.box.right(), rect.right + 0.5) << label.text.toStdString();
                if (label.text != "5000") {
                    EXPECT_NEAR(label.box.center().x(), rect.left + at, 1.0) << label.text.toStdString();
                }
            } else {
                EXPECT_GE(label.box.top(), rect.top - 0.5) << label.text.toStdString();
                if (label.text != "5000") {
                    EXPECT_NEAR(label.box.center().y(), rect.bottom - at, 1.0) << label.text.toStdString();
                }
            }
        }
    }
}

TEST(GraphPrimitivesTest, FrequencyLabelsThatWouldOverlapAreLeftOut)
{
    // 22 kHz in 1 kHz steps across 300 pixels (a 44.1 kHz spectrum): the
    // five-digit labels are wider than the 13.6 pixels between lines.
    const Rect rect{0, 10, 200, 310};
    TextRecorder recorder(QSize(320, 230));
    QPainter painter(&recorder);
    DrawAnyGrid(painter, rect, 0, 22000, 1000, 2, true, false);
    painter.end();
    const std::vector<TextRecorder::Text>& labels = recorder.texts();
    EXPECT_GT(labels.size(), 3u);
    EXPECT_LT(labels.size(), 22u);
    EXPECT_EQ(labels.front().text, "1000");
    EXPECT_TRUE(apart(labels));
}

TEST(GraphPrimitivesTest, EggNumbersAreWrittenOnlyWhereTheyFit)
{
    // Cycles 10 samples, 20 pixels, apart: closer than their numbers.
    std::vector<ArrayCycle> cycles(20);
    for (std::size_t i = 0; i < cycles.size(); ++i) {
        cycles[i].dFilePointP1 = 10.0 * double(i) + 2.0;
        cycles[i].dFilePointP2 = 10.0 * double(i) + 6.0;
        cycles[i].dClosedQuotient = 0.5 + 0.01 * double(i);
        cycles[i].dPeakVelocityFilePoint = 10.0 * double(i) + 4.0;
        cycles[i].dPeakVelocityValue = 12345.6;
    }
    const Rect rect{0, 0, 200, 400}; // 2 pixels per sample over 0 … 200
    TextRecorder quotients(QSize(500, 300));
    QPainter painter(&quotients);
    MarkCycleArray(painter, 0.0, 200.0, cycles, 40.0, 0.5, rect, {0xAAAA, 0, 0xFFFF});
    painter.end();
    TextRecorder peaks(QSize(500, 300));
    painter.begin(&peaks);
    MarkVelocityPeak(painter, 0.0, 200.0, cycles, 0.001, 0.5, rect, {0xFFFF, 0, 0});
    painter.end();
    // Some, not all, cycles are numbered, from the first one on, in each of
    // the four rows of quotients and the row of peaks.
    const std::vector<TextRecorder::Text> rows[] = {quotients.row(0.0), quotients.row(15.0),
                                                    quotients.row(30.0), quotients.row(45.0),
                                                    peaks.texts()};
    for (const auto& numbers : rows) {
        EXPECT_GT(numbers.size(), 3u);
        EXPECT_LT(numbers.size(), cycles.size());
        EXPECT_TRUE(apart(numbers));
    }
    EXPECT_EQ(rows[0].front().text, "0.500");
    EXPECT_EQ(quotients.texts().size(), 4 * rows[0].size());
}

TEST(GraphPrimitivesTest, FormantsAtOrBelow50HzAreNotDrawn)
{
    struct Case {
        std::int16_t formantHz;
        bool drawn;
    };
    for (const Case c : {Case{-1, false}, Case{0, false}, Case{50, false}, Case{51, true},
                         Case{4999, true}, Case{5100, false}}) {
        SCOPED_TRACE(c.formantHz);
        QImage image = blankImage();
        QPainter painter(&image);
        const std::vector<FormantRecord> frames(4, FormantRecord{c.formantHz, -1, -1, -1, -1, 3000});
        DrawFormantTrack(painter, frames, Rect{0, 0, 100, 100}, 5000.0);
        painter.end();
        bool dot = false;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < 110; ++x) {
                dot = dot || image.pixel(x, y) == qRgb(255, 0, 0);
            }
        }
        EXPECT_EQ(dot, c.drawn);
    }
}

TEST(GraphPrimitivesTest, MarksUseScaledColourAndStayOnPage)
{
    QImage image = blankImage();
    QPainter painter(&image);
    const Rect rect{0, 100, 100, 300}; // 2 pixels per sample over 0 … 100
    ArrayCycle cycle;
    cycle.dFilePointP1 = 10;
    cycle.dValueP1 = 0.0;
    cycle.dFilePointP2 = 150; // off the page: neither oval nor quotients
    cycle.dValueP2 = 0.5;
    MarkCycleArray(painter, 0.0, 100.0, std::vector<ArrayCycle>{cycle}, 40.0, 0.5, rect,
                   {0xAAAA, 0, 0xFFFF});
    const std::vector<ArrayData> marks = {{50.0, 0.0, 0.25}, {-3.0, 0.0, 0.0}};
    MarkArray(painter, 0.0, 100.0, marks, 40.0, 0.5, rect, {0, 0xFFFF, 0});
    painter.end();
    // P1 at x = 100 − 1 + 20, centred on the baseline 50 (corner 5 above it),
    // magenta: every non-zero component of an EGG mark is at full strength.
    EXPECT_EQ(image.pixel(120, 50), qRgb(0xFF, 0, 0xFF));
    // The mark at sample 50 is at x = 200, y = 50 − 10.
    EXPECT_EQ(image.pixel(200, 40), qRgb(0, 255, 0));
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < 98; ++x) {
            ASSERT_EQ(image.pixel(x, y), kWhite);
        }
        for (int x = 302; x < image.width(); ++x) {
            ASSERT_EQ(image.pixel(x, y), kWhite);
        }
    }
}

} // namespace
} // namespace phonaxis
