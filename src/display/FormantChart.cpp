#include "display/FormantChart.h"

#include "log/FormantTable.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <limits>

namespace phonaxis {

namespace {

constexpr int kLabelFontPt = 14;
// The axis text's pixel size at the default chart size; text and lines of
// other sizes scale with √(width·height) from there.
constexpr double kReferenceTextPx = 13.0;
constexpr double kTextPxPerSizePx = kReferenceTextPx / 598.0; // √(640·560) ≈ 598
constexpr int kSmallestTextPx = 9;
constexpr int kLargestTextPx = 96;

QPointF toQt(const PointD& point)
{
    return {point.x, point.y};
}

std::int16_t side(int px)
{
    return static_cast<std::int16_t>(
        std::clamp(px, 0, int(std::numeric_limits<std::int16_t>::max())));
}

// Draws `text` so that its anchor point lies at `text.at`; a vertical text
// is turned a quarter left inside its box.
void drawText(QPainter& painter, const PlotText& text)
{
    const QString shown = QString::fromStdString(text.text);
    const QFontMetricsF metrics(painter.font());
    const QSizeF run(metrics.horizontalAdvance(shown), metrics.height());
    const QSizeF box = text.vertical ? run.transposed() : run;
    QPointF topLeft = toQt(text.at);
    switch (text.anchor) {
    case TextAnchor::TopLeft:
        break;
    case TextAnchor::LeftCentre:
        topLeft.ry() -= box.height() / 2.0;
        break;
    case TextAnchor::TopCentre:
        topLeft.rx() -= box.width() / 2.0;
        break;
    }
    if (text.vertical) {
        painter.save();
        painter.translate(topLeft.x(), topLeft.y() + box.height());
        painter.rotate(-90.0);
        painter.drawText(QRectF(QPointF(0, 0), run), Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip,
                         shown);
        painter.restore();
        return;
    }
    painter.drawText(QRectF(topLeft, box), Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, shown);
}

void drawCircle(QPainter& painter, const PlotCircle& circle)
{
    const QRectF square(toQt(circle.topLeft), QSizeF(circle.diameter, circle.diameter));
    painter.setBrush(circle.filled ? QBrush(Qt::black) : QBrush(Qt::NoBrush));
    painter.drawEllipse(square);
}

void drawAxis(QPainter& painter, const PlotAxis& axis)
{
    painter.drawLine(toQt(axis.line.from), toQt(axis.line.to));
    for (const PlotTick& tick : axis.ticks) {
        painter.drawLine(toQt(tick.line.from), toQt(tick.line.to));
    }
    drawText(painter, axis.title);
    for (const PlotText& label : axis.labels) {
        drawText(painter, label);
    }
}

// The font of axis titles and tick labels for a picture of `sizePx`.
QFont axisFont(QSize sizePx)
{
    const double side = std::sqrt(double(std::max(sizePx.width(), 1)) *
                                  double(std::max(sizePx.height(), 1)));
    QFont font;
    font.setPixelSize(std::clamp(int(std::lround(side * kTextPxPerSizePx)), kSmallestTextPx,
                                 kLargestTextPx));
    return font;
}

// The point and mean labels' font, scaled as the axis text is.
QFont labelFont(const QFont& chosen, const QFont& axis)
{
    QFont font = chosen;
    const double base = chosen.pixelSize() > 0 ? double(chosen.pixelSize()) : chosen.pointSizeF();
    font.setPixelSize(std::max(1, int(std::lround(base * axis.pixelSize() / kReferenceTextPx))));
    return font;
}

} // namespace

FormantChartText defaultFormantChartText()
{
    FormantChartText text;
    text.font = QFont(QStringLiteral("Arial"), kLabelFontPt);
    text.color = Qt::black;
    return text;
}

PlotGeometry formantChartGeometry(const FormantTable& table, QSize viewSizePx,
                                  std::int32_t plotType)
{
    Rect bounds;
    bounds.bottom = side(viewSizePx.height());
    bounds.right = side(viewSizePx.width());
    const QFont font = axisFont(viewSizePx);
    const QFontMetricsF metrics(font);
    PlotStyle style;
    style.text.lineHeight = metrics.height();
    style.text.width = [metrics](const std::string& text) {
        return metrics.horizontalAdvance(QString::fromStdString(text));
    };
    style.lineScale = font.pixelSize() / kReferenceTextPx;
    PlotGeometry geometry = PlotData(table, bounds, plotType, style);
    geometry.textPixelSize = font.pixelSize();
    return geometry;
}

void drawFormantChart(QPainter& painter, const PlotGeometry& geometry, const FormantChartText& text)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QPen pen(Qt::black, std::max(1.0, geometry.lineScale));
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    QFont axis;
    axis.setPixelSize(geometry.textPixelSize > 0 ? geometry.textPixelSize : int(kReferenceTextPx));
    painter.setFont(axis);
    drawAxis(painter, geometry.f1Axis);
    drawAxis(painter, geometry.secondAxis);
    drawText(painter, geometry.caption);

    // Points beyond the axes' limits are cut at the plot area; means and
    // ellipses lie inside it by construction.
    const RectD& area = geometry.plotArea;
    painter.setClipRect(QRectF(area.x, area.y, area.width, area.height), Qt::IntersectClip);
    painter.setPen(pen);
    for (const PlotPoint& point : geometry.points) {
        drawCircle(painter, point.circle);
    }
    for (const PlotGroup& group : geometry.groups) {
        if (group.drawMean) {
            drawCircle(painter, group.mean);
        }
        if (group.ellipse.size() > 1) {
            QPolygonF outline;
            outline.reserve(static_cast<qsizetype>(group.ellipse.size()));
            for (const PointD& point : group.ellipse) {
                outline << toQt(point);
            }
            painter.setBrush(Qt::NoBrush);
            painter.drawPolygon(outline);
        }
    }

    // Point and mean labels in the plot's own text attributes.
    painter.setFont(labelFont(text.font, axis));
    painter.setPen(text.color);
    for (const PlotPoint& point : geometry.points) {
        if (point.drawLabel) {
            drawText(painter, point.label);
        }
    }
    for (const PlotGroup& group : geometry.groups) {
        if (group.drawLabel) {
            drawText(painter, group.label);
        }
    }
    painter.restore();
}

GraphDrawing formantChartDrawing(const FormantTable& table, std::int32_t plotType,
                                 const FormantChartText& text)
{
    return [&table, plotType, text](QPainter& painter, QSize viewSizePx) {
        drawFormantChart(painter, formantChartGeometry(table, viewSizePx, plotType), text);
    };
}

} // namespace phonaxis
