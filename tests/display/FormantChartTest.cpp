// The vowel chart's painter: every point, group mean and ellipse of the
// core's plot geometry lands on the pixels the geometry gives, for every
// plot type.

#include "display/FormantChart.h"
#include "log/FormantTable.h"

#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>

namespace phonaxis {
namespace {

constexpr QSize kSize(kFormantChartWidthPx, kFormantChartHeightPx);

// Three vowel groups: /i/ and /a/ with ellipses, /u/ a single point.
FormantTable vowelTable()
{
    FormantTable table;
    const char* rows[][4] = {
        {"300", "2300", "3000", "i"}, {"340", "2150", "2900", "i"}, {"280", "2450", "3150", "i"},
        {"700", "1200", "2500", "a"}, {"780", "1350", "2650", "a"}, {"650", "1100", "2400", "a"},
        {"730", "1250", "2600", "a"}, {"350", "800", "2300", "u"},
    };
    for (const auto& row : rows) {
        table.insertRow();
        const std::size_t r = table.rowCount() - 1;
        table.setCell(r, FormantTable::kColumnF1, row[0]);
        table.setCell(r, FormantTable::kColumnF2, row[1]);
        table.setCell(r, FormantTable::kColumnF3, row[2]);
        table.setCell(r, FormantTable::kColumnLabel, row[3]);
    }
    // Labels would darken pixels around the points.
    table.m_bDrawindividuallabels = false;
    table.m_bDrawmeanlabel = false;
    return table;
}

int grey(const QImage& image, int x, int y)
{
    return image.rect().contains(x, y) ? qGray(image.pixel(x, y)) : 255;
}

// The darkest pixel of the square of `side` pixels from (x, y).
int darkest(const QImage& image, int x, int y, int side)
{
    int value = 255;
    for (int dy = 0; dy < side; ++dy) {
        for (int dx = 0; dx < side; ++dx) {
            value = std::min(value, grey(image, x + dx, y + dy));
        }
    }
    return value;
}

TEST(FormantChart, PointsMeansAndEllipsesLandWhereTheGeometrySays)
{
    const FormantTable table = vowelTable();
    for (std::int32_t plotType : {0, 1, 2}) {
        SCOPED_TRACE(plotType);
        const PlotGeometry geometry = formantChartGeometry(table, kSize, plotType);
        ASSERT_EQ(geometry.points.size(), 8u);
        ASSERT_EQ(geometry.groups.size(), 2u); // /u/ has a single row
        const QImage image =
            renderGraph(kSize, formantChartDrawing(table, plotType, defaultFormantChartText()));
        ASSERT_EQ(image.size(), kSize);

        for (const PlotPoint& point : geometry.points) {
            const int x = int(point.circle.topLeft.x);
            const int y = int(point.circle.topLeft.y);
            EXPECT_LT(darkest(image, x, y, 6), 128) << "row " << point.row;
            // The circle's left and top edges run along the square's.
            EXPECT_LT(darkest(image, x - 1, y + 1, 2), 192) << "row " << point.row;
            EXPECT_LT(darkest(image, x + 1, y - 1, 2), 192) << "row " << point.row;
        }
        // Points are stroked, not filled (the /u/ point stands alone).
        const PlotCircle& lone = geometry.points.back().circle;
        EXPECT_GT(grey(image, int(lone.topLeft.x) + 2, int(lone.topLeft.y) + 2), 200);
        for (const PlotGroup& group : geometry.groups) {
            const int x = int(group.mean.topLeft.x);
            const int y = int(group.mean.topLeft.y);
            EXPECT_LT(grey(image, x + 2, y + 2), 100) << group.group.label; // filled
            ASSERT_EQ(group.ellipse.size(), 200u) << group.group.label;
            for (std::size_t k = 0; k < group.ellipse.size(); k += 25) {
                const PointD& at = group.ellipse[k];
                EXPECT_LT(darkest(image, int(at.x) - 1, int(at.y) - 1, 3), 160)
                    << group.group.label << " point " << k;
            }
        }
        // The axes cross where the geometry puts them; the corner is empty.
        EXPECT_LT(grey(image, int(geometry.f1AxisX), int(geometry.secondAxisY) + 20), 160);
        EXPECT_EQ(grey(image, 2, kSize.height() - 3), 255);
    }
}

TEST(FormantChart, SwitchesFollowTheTableSettings)
{
    FormantTable table = vowelTable();
    const QImage all = renderGraph(kSize, formantChartDrawing(table, 0, defaultFormantChartText()));
    const PlotGeometry geometry = formantChartGeometry(table, kSize, 0);
    const PlotCircle point = geometry.points.front().circle;
    const PlotCircle mean = geometry.groups.front().mean;

    table.m_bDrawdata = false;
    table.m_bDrawellipse = false;
    const QImage axesOnly =
        renderGraph(kSize, formantChartDrawing(table, 0, defaultFormantChartText()));
    EXPECT_LT(darkest(all, int(point.topLeft.x), int(point.topLeft.y), 6), 128);
    EXPECT_EQ(darkest(axesOnly, int(point.topLeft.x), int(point.topLeft.y), 6), 255);
    EXPECT_EQ(grey(axesOnly, int(mean.topLeft.x) + 2, int(mean.topLeft.y) + 2), 255);
}

TEST(FormantChart, EveryRowAndGroupOfALargeTableIsDrawn)
{
    // 6,000 rows in 1,200 groups of five, spread over the whole chart.
    FormantTable table;
    for (int r = 0; r < 6000; ++r) {
        table.insertRow();
        const auto row = static_cast<std::size_t>(r);
        table.setCell(row, FormantTable::kColumnF1, std::to_string(250 + (r * 7) % 1300));
        table.setCell(row, FormantTable::kColumnF2, std::to_string(600 + (r * 13) % 2300));
        table.setCell(row, FormantTable::kColumnLabel, std::to_string(r / 5));
    }
    const PlotGeometry geometry = formantChartGeometry(table, kSize, 0);
    EXPECT_EQ(geometry.points.size(), 6000u);
    EXPECT_EQ(geometry.groups.size(), 1200u);
    const QImage image =
        renderGraph(kSize, formantChartDrawing(table, 0, defaultFormantChartText()));
    const PlotCircle last = geometry.points.back().circle;
    EXPECT_LT(darkest(image, int(last.topLeft.x), int(last.topLeft.y), 6), 128);
}

// What a reader checks in a figure: titles with units on both axes, every
// axis text inside the picture, none over another or over the plot, text
// growing with the picture, and the ellipses inside the plot area.
TEST(FormantChart, TitledAxesAndTextsFitAtEverySize)
{
    const FormantTable table = vowelTable();
    const QSize sizes[] = {kSize, QSize(1600, 900), QSize(700, 400)};
    int previousTextPx = 0;
    for (const QSize size : sizes) {
        SCOPED_TRACE(std::to_string(size.width()) + "x" + std::to_string(size.height()));
        const PlotGeometry geometry = formantChartGeometry(table, size, 0);
        EXPECT_EQ(geometry.f1Axis.title.text, "F1 (Hz)");
        EXPECT_EQ(geometry.secondAxis.title.text, "F2 (Hz)");
        const QImage image =
            renderGraph(size, formantChartDrawing(table, 0, defaultFormantChartText()));
        std::vector<QRectF> boxes = {QRectF(geometry.caption.at.x, geometry.caption.at.y,
                                            geometry.caption.width, geometry.caption.height)};
        EXPECT_FALSE(geometry.caption.text.empty());
        for (const PlotAxis* axis : {&geometry.f1Axis, &geometry.secondAxis}) {
            std::vector<const PlotText*> texts = {&axis->title};
            for (const PlotText& label : axis->labels) {
                texts.push_back(&label);
            }
            for (const PlotText* text : texts) {
                QRectF box(text->at.x, text->at.y, text->width, text->height);
                if (text->anchor == TextAnchor::LeftCentre) {
                    box.translate(0, -text->height / 2.0);
                } else if (text->anchor == TextAnchor::TopCentre) {
                    box.translate(-text->width / 2.0, 0);
                }
                boxes.push_back(box);
                // Something is written there.
                EXPECT_LT(darkest(image, int(box.x()), int(box.y()), int(std::min(box.width(),
                                                                                   box.height()))),
                          128)
                    << text->text;
            }
        }
        const QRectF plot(geometry.plotArea.x, geometry.plotArea.y, geometry.plotArea.width,
                          geometry.plotArea.height);
        for (std::size_t i = 0; i < boxes.size(); ++i) {
            EXPECT_TRUE(QRectF(QPointF(0, 0), QSizeF(size)).contains(boxes[i])) << i;
            EXPECT_FALSE(boxes[i].intersects(plot)) << i;
            for (std::size_t j = i + 1; j < boxes.size(); ++j) {
                EXPECT_FALSE(boxes[i].intersects(boxes[j])) << i << " and " << j;
            }
        }
        for (const PlotGroup& group : geometry.groups) {
            for (const PointD& point : group.ellipse) {
                EXPECT_TRUE(plot.contains(QPointF(point.x, point.y))) << group.group.label;
            }
        }
        EXPECT_NE(geometry.textPixelSize, previousTextPx);
        previousTextPx = geometry.textPixelSize;
    }
}

} // namespace
} // namespace phonaxis
