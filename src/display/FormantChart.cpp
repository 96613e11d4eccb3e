#include "display/FormantChart.h"

#include "log/FormantTable.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>

#include <algorithm>
#include <limits>

namespace phonaxis {

namespace {

constexpr int kLabelFontPt = 14;

QPointF toQt(const PointD& point)
{
    return {point.x, point.y};
}

std::int16_t side(int px)
{
    return static_cast<std::int16_t>(
        std::clamp(px, 0, int(std::numeric_limits<std::int16_t>::max())));
}

// Draws `text` so that its anchor point lies at `text.at`.
void drawText(QPainter& painter, const PlotText& text)
{
    const QString shown = QString::fromStdString(text.text);
    const QFontMetricsF metrics(painter.font());
    const QSizeF box(metrics.horizontalAdvance(shown), metrics.height());
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
    return PlotData(table, bounds, 1.0, plotType, 1);
}

void drawFormantChart(QPainter& painter, const PlotGeometry& geometry, const FormantChartText& text)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(Qt::black, 1.0));
    painter.setBrush(Qt::NoBrush);
    drawAxis(painter, geometry.f1Axis);
    drawAxis(painter, geometry.secondAxis);

    painter.setPen(QPen(Qt::black, 1.0));
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
    painter.setFont(text.font);
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
