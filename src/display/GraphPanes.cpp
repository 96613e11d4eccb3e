#include "display/GraphPanes.h"

#include "display/GraphPrimitives.h"
#include "display/MainViewRenderer.h"
#include "model/Channels.h"
#include "model/MinMaxSummary.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

namespace phonaxis {
std::int32_t pagePosition(double position)
{
    constexpr double kLimit = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::clamp(std::floor(position), -kLimit, kLimit));
}

Rect paneRect(int top, int left, int bottom, int right)
{
    const auto side = [](int v) {
        return static_cast<std::int16_t>(std::clamp<int>(
            v, std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max()));
    };
    return Rect{side(top), side(left), side(bottom), side(right)};
}

QRect toQRect(const Rect& rect)
{
    return QRect(QPoint(rect.left, rect.top), QPoint(rect.right, rect.bottom));
}

int rectWidth(const Rect& rect)
{
    return int(rect.right) - int(rect.left);
}

int rectHeight(const Rect& rect)
{
    return int(rect.bottom) - int(rect.top);
}

void drawPaneFrame(QPainter& painter, const Rect& pane, const QString& title)
{
    painter.save();
    painter.setPen(QPen(Qt::black, 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(pane.left, pane.top, rectWidth(pane), rectHeight(pane)));
    if (!title.isEmpty()) {
        // On a white ground, so that it reads over a trace.
        painter.setFont(defaultTextFont());
        const QFontMetrics metrics(painter.font());
        const QRect box(pane.left + 1, pane.top + 1, metrics.horizontalAdvance(title) + 4,
                        metrics.height());
        painter.fillRect(box, QColor(255, 255, 255, 220));
        painter.drawText(QPointF(pane.left + 3.0, pane.top + 1.0 + metrics.ascent()), title);
    }
    painter.restore();
}

void drawWaveformPane(QPainter& painter, const Rect& pane, std::span<const float> samples,
                      const MinMaxSummary* summary, double reference, double pageMin,
                      double pageMax, const RGBColor& color)
{
    drawPaneFrame(painter, pane, QString());
    if (samples.empty()) {
        return;
    }
    // Scaled to the largest excursion, so quiet recordings show.
    const MinMax extremes =
        summary != nullptr ? summary->range(samples, 0, samples.size()) : MinMax::none();
    double largest = 0.0;
    if (extremes.present()) {
        largest = std::max(std::fabs(double(extremes.minimum) - reference),
                           std::fabs(double(extremes.maximum) - reference));
    } else {
        for (const float x : samples) {
            largest = std::max(largest, std::fabs(double(x) - reference));
        }
    }
    if (!(largest > 0.0) || !std::isfinite(largest)) {
        largest = 1.0;
    }
    const double scale = rectHeight(pane) / (2.0 * largest) * 0.95;
    painter.save();
    painter.setClipRect(toQRect(pane), Qt::IntersectClip);
    DrawGraphFloat_1(painter, pagePosition(pageMin), pagePosition(pageMax), samples, scale, 0.5,
                     reference, pane, color, false, RGBColor{0, 0, 0}, summary);
    painter.restore();
}

void drawLabelStrip(QPainter& painter, const Rect& strip,
                    const std::vector<const Channels*>& channels, double pageStartMs,
                    double pageEndMs)
{
    for (const Channels* channel : channels) {
        // Placed as the main view places them, on a channel that has the
        // strip's geometry: every label's top at the strip's top.
        Channels placing;
        placing.m_rLocation = strip;
        placing.m_nHeigth = 0;
        placing.m_pArrayLabels = channel->m_pArrayLabels;
        placing.m_nLabelCount = static_cast<std::int32_t>(placing.m_pArrayLabels.size());
        painter.save();
        painter.setClipRect(toQRect(strip), Qt::IntersectClip);
        DrawLabels(painter, placing, pageStartMs, pageEndMs);
        painter.restore();
    }
}

} // namespace phonaxis
