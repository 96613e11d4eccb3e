#include "display/GraphPrimitives.h"

#include "model/MinMaxSummary.h"

#include <QFontMetrics>
#include <QLine>
#include <QPainter>
#include <QPen>
#include <QPolygon>
#include <QRect>
#include <QString>
#include <QVector>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

namespace phonaxis {

namespace {

// Coordinates handed to the rasteriser stay within this distance of 0: far
// beyond any view, small enough for its fixed-point arithmetic.
constexpr std::int32_t kDrawLimit = 1 << 24;

constexpr std::array<int, 20> kTimeGridStepsMs = {1,    2,    5,    10,    25,    50,    75,
                                                  100,  250,  500,  750,   1000,  2500,  5000,
                                                  7500, 10000, 25000, 50000, 75000, 100000};
constexpr int kAutomaticGridLines = 30;

// trunc(value) limited to ±kDrawLimit; NaN gives 0.
std::int32_t pixel(double value)
{
    if (value != value) {
        return 0;
    }
    const double limited = std::clamp(value, -double(kDrawLimit), double(kDrawLimit));
    return static_cast<std::int32_t>(limited);
}

std::int32_t drawable(std::int32_t y)
{
    return std::clamp(y, -kDrawLimit, kDrawLimit);
}

// trunc(value) as a 64-bit index limited to ±2^62; NaN gives 0.
std::int64_t truncIndex(double value)
{
    constexpr double kLimit = 4611686018427387904.0; // 2^62
    if (value != value) {
        return 0;
    }
    return static_cast<std::int64_t>(std::clamp(value, -kLimit, kLimit));
}

int rectWidth(const Rect& rect)
{
    return int(rect.right) - int(rect.left);
}

int rectHeight(const Rect& rect)
{
    return int(rect.bottom) - int(rect.top);
}

// Saves the painter's state, switches antialiasing off, restores on exit.
class PainterScope {
public:
    explicit PainterScope(QPainter& painter) : m_painter(painter)
    {
        m_painter.save();
        m_painter.setRenderHint(QPainter::Antialiasing, false);
        m_painter.setRenderHint(QPainter::TextAntialiasing, false);
    }
    ~PainterScope() { m_painter.restore(); }
    PainterScope(const PainterScope&) = delete;
    PainterScope& operator=(const PainterScope&) = delete;

private:
    QPainter& m_painter;
};

// A trace drawn as polylines: it starts at the baseline point, and each
// break (a missing sample or column) ends the current run. A run that never
// got past the baseline point is not drawn; a later lone point is.
class TraceLine {
public:
    TraceLine(QPainter& painter, std::int32_t x, std::int32_t y) : m_painter(painter)
    {
        m_points << QPoint(x, y);
    }
    ~TraceLine() { breakLine(); }
    TraceLine(const TraceLine&) = delete;
    TraceLine& operator=(const TraceLine&) = delete;

    void reserve(std::size_t count) { m_points.reserve(static_cast<int>(count + 1)); }
    void add(std::int32_t x, std::int32_t y)
    {
        m_points << QPoint(x, y);
        m_onlyBaseline = false;
    }
    void breakLine()
    {
        if (m_points.size() == 1 && !m_onlyBaseline) {
            m_painter.drawPoint(m_points.front());
        } else if (m_points.size() > 1) {
            m_painter.drawPolyline(m_points);
        }
        m_points.clear();
        m_onlyBaseline = false;
    }

private:
    QPainter& m_painter;
    QPolygon m_points;
    bool m_onlyBaseline = true;
};

void drawReferenceLine(QPainter& painter, const Rect& rect, std::int32_t y0, double reference,
                       double scale, const RGBColor& referenceColor)
{
    QPen pen = painter.pen();
    pen.setColor(toQColor(referenceColor, 0.6));
    painter.setPen(pen);
    const std::int32_t y = drawable(tracePixelY(y0, reference * scale));
    painter.drawLine(QPoint(rect.left, y), QPoint(rect.right, y));
}

// Draws min/max columns: each present column as the vertical span from its
// largest to its smallest sample. A column whose span does not meet its left
// neighbour's is extended only to the nearer edge of that span, so the trace
// stays connected without painting beyond the extremes of the two columns:
// joining one column's minimum to the next one's maximum would fill area no
// sample occupies (a sine would be drawn solid on its rising side and as a
// comb on its falling side). The first column's neighbour is the baseline
// point at the left edge; an absent column leaves the next without one.
void drawColumns(QPainter& painter, std::int32_t left, std::int32_t y0,
                 std::span<const TraceColumn> columns)
{
    QVector<QLine> spans;
    spans.reserve(static_cast<qsizetype>(columns.size()));
    bool haveNeighbour = true;
    std::int32_t neighbourTop = y0;
    std::int32_t neighbourBottom = y0;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const TraceColumn& column = columns[i];
        if (!column.present) {
            haveNeighbour = false;
            continue;
        }
        const std::int32_t ownTop = drawable(column.yTop);
        const std::int32_t ownBottom = drawable(column.yBottom);
        std::int32_t top = ownTop;
        std::int32_t bottom = ownBottom;
        if (haveNeighbour) {
            if (top > neighbourBottom) {
                top = neighbourBottom; // wholly below the neighbour: reach up to it
            } else if (bottom < neighbourTop) {
                bottom = neighbourTop; // wholly above: reach down to it
            }
        }
        const auto x = static_cast<int>(left + static_cast<std::int32_t>(i));
        spans.append(QLine(x, top, x, bottom));
        haveNeighbour = true;
        neighbourTop = ownTop;
        neighbourBottom = ownBottom;
    }
    painter.drawLines(spans);
}

// The min/max columns of a page over samples of any type, by scanning: the
// same rule and results as traceColumns.
template <typename T>
void scanColumns(std::span<const T> samples, double pageMin, double pageMax, double scale,
                 std::int32_t y0, std::span<TraceColumn> columns)
{
    const double s = (pageMax - pageMin) / static_cast<double>(columns.size());
    const auto n = static_cast<std::int64_t>(samples.size());
    const std::int64_t perColumn = truncIndex(s);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        TraceColumn& column = columns[i];
        column = TraceColumn{};
        const std::int64_t start = truncIndex(s * static_cast<double>(i) + pageMin);
        const std::int64_t from = std::max<std::int64_t>(start, 0);
        const std::int64_t to = std::min(start + perColumn, n);
        double low = std::numeric_limits<double>::infinity();
        double high = -std::numeric_limits<double>::infinity();
        for (std::int64_t j = from; j < to; ++j) {
            const double value = static_cast<double>(samples[static_cast<std::size_t>(j)]) * scale;
            if (value != value) {
                continue;
            }
            low = std::min(low, value);
            high = std::max(high, value);
        }
        if (!(low <= high)) {
            continue;
        }
        column.present = true;
        column.scaledMin = low;
        column.scaledMax = high;
        column.yTop = tracePixelY(y0, high);
        column.yBottom = tracePixelY(y0, low);
    }
}

// Joins samples one by one from the baseline at the left edge.
template <typename T>
void drawSampleBySample(QPainter& painter, std::span<const T> samples, double pageMin,
                        double pageMax, double scale, std::int32_t y0, const Rect& rect)
{
    const double width = rectWidth(rect);
    const double span = pageMax - pageMin;
    const auto n = static_cast<std::int64_t>(samples.size());
    TraceLine line(painter, rect.left, y0);
    for (std::int64_t j = std::max<std::int64_t>(truncIndex(pageMin), 0);
         j < n && static_cast<double>(j) < pageMax; ++j) {
        const double value = static_cast<double>(samples[static_cast<std::size_t>(j)]);
        if (value != value) {
            line.breakLine();
            continue;
        }
        const std::int32_t x = rect.left + pixel((static_cast<double>(j) - pageMin) * width / span);
        line.add(x, drawable(tracePixelY(y0, value * scale)));
    }
}

// The common trace rule. `fillColumns` fills the columns for a wide page.
template <typename T, typename FillColumns>
void drawTrace(QPainter& painter, std::span<const T> samples, double pageMin, double pageMax,
               double scale, std::int32_t y0, const Rect& rect, bool useColumns,
               FillColumns fillColumns)
{
    const int width = rectWidth(rect);
    if (samples.empty() || width <= 0 || !std::isfinite(pageMin) || !std::isfinite(pageMax) ||
        !std::isfinite(scale)) {
        return;
    }
    if (useColumns) {
        std::vector<TraceColumn> columns(static_cast<std::size_t>(width));
        if (fillColumns(std::span<TraceColumn>(columns))) {
            drawColumns(painter, rect.left, y0, columns);
        }
        return;
    }
    drawSampleBySample(painter, samples, pageMin, pageMax, scale, y0, rect);
}

void setPenColor(QPainter& painter, const QColor& color)
{
    QPen pen = painter.pen();
    pen.setColor(color);
    painter.setPen(pen);
}

// Draws `text` with its top-left corner at (x, top).
void drawTextAt(QPainter& painter, double x, double top, const QString& text)
{
    const QFontMetrics metrics(painter.font());
    painter.drawText(QPointF(x, top + metrics.ascent()), text);
}

// Draws `text` horizontally centred on `centreX` with its top at `top`.
void drawTextCentred(QPainter& painter, double centreX, double top, const QString& text)
{
    const QFontMetrics metrics(painter.font());
    drawTextAt(painter, centreX - metrics.horizontalAdvance(text) / 2.0, top, text);
}

// Texts written left to right along one row (grid labels, EGG numbers): a
// text is written only where it starts at least kTextGapPx right of the
// last one written, so that neighbours never run together.
class TextRow {
public:
    static constexpr double kTextGapPx = 4.0;

    // Whether a text from `left` to `right` fits; if so it becomes the last
    // one written.
    bool claim(double left, double right)
    {
        if (!(left >= m_end + kTextGapPx)) {
            return false;
        }
        m_end = right;
        return true;
    }

private:
    double m_end = -std::numeric_limits<double>::infinity();
};

// The round count after `count` in 1, 2, 5, 10, 20, 50, 100, …
std::int64_t nextRoundCount(std::int64_t count)
{
    std::int64_t decade = 1;
    while (decade <= count / 10) {
        decade *= 10;
    }
    const std::int64_t leading = count / decade;
    return (leading < 2 ? 2 : leading < 5 ? 5 : 10) * decade;
}

// Pixels per sample and the mark baseline of the EGG marks; false when the
// page or strip gives no finite mapping.
bool eggMarkGeometry(double pageStart, double pageEnd, double fraction, const Rect& rect,
                     double& pixelsPerSample, std::int32_t& baseline)
{
    pixelsPerSample = rectWidth(rect) / (pageEnd - pageStart);
    if (!std::isfinite(pixelsPerSample) || !(pageEnd > pageStart) || !std::isfinite(fraction)) {
        return false;
    }
    baseline = drawable(traceBaselineY(rect.top, rect.bottom, fraction) - 5);
    return true;
}

bool onPage(double position, double pageStart, double pageEnd)
{
    return pageStart <= position && position <= pageEnd;
}

} // namespace

RGBColor fullStrength(const RGBColor& color)
{
    const auto full = [](std::uint16_t component) -> std::uint16_t {
        return component != 0 ? 0xFFFF : 0;
    };
    return RGBColor{full(color.red), full(color.green), full(color.blue)};
}

QColor toQColor(const RGBColor& color, double alpha)
{
    const double a = alpha == alpha ? std::clamp(alpha, 0.0, 1.0) : 1.0;
    return QColor::fromRgba64(color.red, color.green, color.blue,
                              static_cast<quint16>(std::lround(a * 65535.0)));
}

QFont toQFont(const LabelFont& font)
{
    QFont result(QString::fromStdString(font.family));
    const double points = font.pointSize;
    result.setPointSizeF(points > 0.0 && points < 1000.0 ? points : 14.0);
    result.setWeight(static_cast<QFont::Weight>(std::clamp(font.weight, 1, 1000)));
    result.setItalic(font.italic);
    return result;
}

namespace {
// The graph text size of the drawing under way on this thread; 0: none.
thread_local int t_graphTextPixels = 0;
} // namespace

int setGraphTextPixelSize(int pixels)
{
    const int previous = t_graphTextPixels;
    t_graphTextPixels = std::max(pixels, 0);
    return previous;
}

QFont defaultTextFont()
{
    QFont font(QStringLiteral("Helvetica"));
    if (t_graphTextPixels > 0) {
        font.setPixelSize(t_graphTextPixels);
    } else {
        font.setPointSizeF(10.0);
    }
    return font;
}

QFont bigTextFont()
{
    QFont font(QStringLiteral("Courier"));
    font.setPointSizeF(24.0);
    return font;
}

std::string formatValue(const char* format, double value)
{
    std::array<char, 64> small{};
    const int length = std::snprintf(small.data(), small.size(), format, value);
    if (length < 0) {
        return {};
    }
    if (static_cast<std::size_t>(length) < small.size()) {
        return std::string(small.data(), static_cast<std::size_t>(length));
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, value);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

TimeGridLayout timeGridLayout(double pageStartMs, double pageEndMs, std::int32_t spacingMs)
{
    TimeGridLayout layout;
    const double span = pageEndMs - pageStartMs;
    if (!std::isfinite(span) || !(span > 0.0)) {
        return layout;
    }
    // R = (int)(end − start), limited to the int range.
    const auto range = static_cast<std::int64_t>(
        std::min(span, static_cast<double>(std::numeric_limits<std::int32_t>::max())));
    std::int64_t step = 0;
    std::int64_t count = 0;
    if (spacingMs > 0) {
        step = spacingMs;
        count = range / step + 1;
    } else {
        step = kTimeGridStepsMs.back();
        if (range < 31) {
            step = 1;
        } else {
            for (std::size_t i = 1; i < kTimeGridStepsMs.size(); ++i) {
                if (range / kTimeGridStepsMs[i] < 31) {
                    step = kTimeGridStepsMs[i];
                    break;
                }
            }
        }
        // Thirty lines cover every page up to the largest step; a longer page
        // gets enough lines to reach its end.
        count = std::max<std::int64_t>(kAutomaticGridLines, range / step + 1);
    }
    layout.stepMs = static_cast<double>(step);
    layout.firstMs = std::trunc(pageStartMs / layout.stepMs) * layout.stepMs;
    layout.lineCount = static_cast<int>(
        std::min<std::int64_t>(count, std::numeric_limits<std::int32_t>::max()));
    return layout;
}

void DrawGraphFloat_1(QPainter& painter, std::int32_t pageMin, std::int32_t pageMax,
                      std::span<const float> samples, double scale, double fraction,
                      double reference, const Rect& rect, const RGBColor& color,
                      bool drawReference, const RGBColor& referenceColor,
                      const MinMaxSummary* summary)
{
    PainterScope scope(painter);
    const std::int32_t y0 = drawable(traceBaselineY(rect.top, rect.bottom, fraction));
    if (drawReference) {
        drawReferenceLine(painter, rect, y0, reference, scale, referenceColor);
    }
    setPenColor(painter, toQColor(color));
    // Without a summary, an empty one makes every column query scan.
    static const MinMaxSummary kNoSummary;
    const MinMaxSummary& columnsFrom = summary != nullptr ? *summary : kNoSummary;
    const double first = pageMin;
    const double last = pageMax;
    const int width = rectWidth(rect);
    const bool useColumns = width > 0 && (last - first) / width >= 4.0;
    drawTrace(painter, samples, first, last, scale, y0, rect, useColumns,
              [&](std::span<TraceColumn> columns) {
                  return traceColumns(columnsFrom, samples, first, last, scale, y0, columns) ==
                         TraceDrawing::MinMaxColumns;
              });
}

void DrawMinMaxColumns(QPainter& painter, std::span<const MinMax> columns, double scale,
                       double fraction, const Rect& rect, const RGBColor& color)
{
    const int width = rectWidth(rect);
    if (columns.empty() || width <= 0 || !std::isfinite(scale)) {
        return;
    }
    PainterScope scope(painter);
    const std::int32_t y0 = drawable(traceBaselineY(rect.top, rect.bottom, fraction));
    setPenColor(painter, toQColor(color));
    std::vector<TraceColumn> traced(static_cast<std::size_t>(width));
    const auto count = static_cast<std::int64_t>(columns.size());
    for (std::int64_t x = 0; x < width; ++x) {
        traced[static_cast<std::size_t>(x)] =
            traceColumnOf(columns[static_cast<std::size_t>(x * count / width)], scale, y0);
    }
    drawColumns(painter, rect.left, y0, traced);
}

void DrawGraphDouble(QPainter& painter, std::span<const double> samples, double pageMin,
                     double pageMax, double scale, double fraction, double reference,
                     const Rect& rect, const RGBColor& color, bool drawReference,
                     const RGBColor& referenceColor, double penWidth)
{
    PainterScope scope(painter);
    QPen pen = painter.pen();
    pen.setWidthF(penWidth > 0.0 && penWidth < 1000.0 ? penWidth : 1.0);
    painter.setPen(pen);
    const std::int32_t y0 = drawable(traceBaselineY(rect.top, rect.bottom, fraction));
    if (drawReference) {
        drawReferenceLine(painter, rect, y0, reference, scale, referenceColor);
    }
    setPenColor(painter, toQColor(color));
    const int width = rectWidth(rect);
    const bool useColumns = width > 0 && double(width) * 4.0 <= pageMax - pageMin;
    drawTrace(painter, samples, pageMin, pageMax, scale, y0, rect, useColumns,
              [&](std::span<TraceColumn> columns) {
                  scanColumns(samples, pageMin, pageMax, scale, y0, columns);
                  return true;
              });
}

void DrawGraph(QPainter& painter, std::span<const std::int16_t> samples, double pageMin,
               double pageMax, double scale, double fraction, const Rect& rect)
{
    PainterScope scope(painter);
    const std::int32_t y0 = drawable(traceBaselineY(rect.top, rect.bottom, fraction));
    const int width = rectWidth(rect);
    const bool useColumns = width > 0 && (pageMax - pageMin) / width >= 4.0;
    drawTrace(painter, samples, pageMin, pageMax, scale, y0, rect, useColumns,
              [&](std::span<TraceColumn> columns) {
                  scanColumns(samples, pageMin, pageMax, scale, y0, columns);
                  return true;
              });
}

void TimeGrids(QPainter& painter, const Rect& rect, std::int32_t spacingMs, bool drawLines,
               double pageStartMs, double pageEndMs, bool relative, bool bigFont,
               const RGBColor& color)
{
    const int width = rectWidth(rect);
    const TimeGridLayout layout = timeGridLayout(pageStartMs, pageEndMs, spacingMs);
    if (width <= 0 || layout.lineCount <= 0 ||
        static_cast<std::int64_t>(layout.lineCount) > 4 * std::int64_t{width}) {
        return;
    }
    PainterScope scope(painter);
    painter.setFont(bigFont ? bigTextFont() : defaultTextFont());
    const QFontMetrics metrics(painter.font());
    const QPen linePen(toQColor(color), 1.0);
    const QPen textPen(Qt::black);
    const double pixelsPerMs = width / (pageEndMs - pageStartMs);
    // The big font sits one pixel higher, as its baseline offset asks.
    const int textTop = rect.bottom - (bigFont ? 1 : 0);
    const auto labelOf = [&](int k) {
        const double labelMs = relative ? k * layout.stepMs : layout.firstMs + k * layout.stepMs;
        return QString::fromStdString(formatValue("%.0f", labelMs));
    };
    // Labels go on every n-th line, n the first of 1, 2, 5, 10, 20, 50, …
    // that leaves room for the widest label (the first or the last; the
    // extra pixel covers the lines' rounding): 1160, 1170, 1180 rather than
    // 1160 to 1180 in steps of 5 run together.
    const double widest = std::max(metrics.horizontalAdvance(labelOf(1)),
                                   metrics.horizontalAdvance(labelOf(layout.lineCount)));
    const double pixelsPerLine = layout.stepMs * pixelsPerMs;
    std::int64_t labelEvery = 1;
    while (labelEvery < layout.lineCount &&
           double(labelEvery) * pixelsPerLine < widest + TextRow::kTextGapPx + 1.0) {
        labelEvery = nextRoundCount(labelEvery);
    }
    TextRow labels;
    for (int k = 1; k <= layout.lineCount; ++k) {
        const double timeMs = layout.firstMs + k * layout.stepMs;
        const double x = (timeMs - pageStartMs) * pixelsPerMs;
        if (!(0.0 < x && rect.left + x < rect.right)) {
            continue;
        }
        const std::int32_t lineX = rect.left + pixel(x);
        if (drawLines) {
            painter.setPen(linePen);
            painter.drawLine(QPoint(lineX, rect.bottom), QPoint(lineX, rect.top));
        }
        // The line's number of steps from time 0 (from the page start when
        // relative) picks the labelled lines.
        const double stepsFromZero = relative ? k : timeMs / layout.stepMs;
        if (std::fmod(std::fabs(std::round(stepsFromZero)), double(labelEvery)) != 0.0) {
            continue;
        }
        const QString label = labelOf(k);
        const double labelWidth = metrics.horizontalAdvance(label);
        const double labelLeft = lineX - labelWidth / 2.0;
        if (labels.claim(labelLeft, labelLeft + labelWidth)) {
            painter.setPen(textPen);
            drawTextCentred(painter, lineX, textTop, label);
        }
    }
}

void DrawAnyGrid(QPainter& painter, const Rect& rect, int minimum, int maximum, int step,
                 int orientation, bool drawLabels, bool bigFont)
{
    const std::int64_t extent = std::int64_t{maximum} - minimum;
    if (step <= 0 || extent <= 0 || (orientation != 1 && orientation != 2)) {
        return;
    }
    const std::int64_t count = extent / step;
    const int length = orientation == 2 ? rectWidth(rect) : rectHeight(rect);
    if (length <= 0 || count > 4 * std::int64_t{length}) {
        return;
    }
    PainterScope scope(painter);
    painter.setFont(bigFont ? bigTextFont() : defaultTextFont());
    const QPen linePen(QColor(0xAA, 0xAA, 0xAA), 1.0);
    const QPen textPen(Qt::black);
    const QFontMetrics metrics(painter.font());
    const double pixelsPerStep = double(step) * length / double(extent);
    // A frequency or time label that would run into the one drawn before it
    // is left out (its line stays): on a wide range, such as 22 kHz in 1 kHz
    // steps on a narrow graph, the numbers would otherwise print over one
    // another.
    constexpr double kLabelGapPx = 4.0;
    double lastLabelEnd = -std::numeric_limits<double>::infinity();
    for (std::int64_t k = orientation == 2 ? 1 : 0; k <= count; ++k) {
        const std::int32_t offset = pixel(pixelsPerStep * double(k));
        const QString label = QString::number(std::int64_t{minimum} + k * step);
        painter.setPen(linePen);
        if (orientation == 2) {
            const std::int32_t x = rect.left + offset;
            painter.drawLine(QPoint(x, rect.bottom), QPoint(x, rect.top));
            if (drawLabels) {
                // Centred on its line, but never past the grid's right edge,
                // where a graph that fills its view would cut it off.
                const double width = metrics.horizontalAdvance(label);
                const double left = std::min(x - width / 2.0, rect.right - width);
                if (left >= lastLabelEnd + kLabelGapPx) {
                    painter.setPen(textPen);
                    drawTextAt(painter, left, rect.bottom, label);
                    lastLabelEnd = left + width;
                }
            }
        } else {
            const std::int32_t y = rect.bottom - offset;
            painter.drawLine(QPoint(rect.left, y), QPoint(rect.right, y));
            if (drawLabels) {
                // Centred on its line, but never above the grid's top edge.
                painter.setPen(textPen);
                drawTextAt(painter, rect.left - 3 - metrics.horizontalAdvance(label),
                           std::max(y - metrics.height() / 2.0, double(rect.top)), label);
            }
        }
    }
}

void MarkArray(QPainter& painter, double pageMin, double pageMax, std::span<const ArrayData> marks,
               double scale, double fraction, const Rect& rect, const RGBColor& color)
{
    const double pixelsPerSample = rectWidth(rect) / (pageMax - pageMin);
    if (marks.empty() || !std::isfinite(pixelsPerSample) || !(pageMax > pageMin)) {
        return;
    }
    PainterScope scope(painter);
    painter.setPen(QPen(toQColor(color), 1.0));
    painter.setBrush(toQColor(color));
    const std::int32_t y0 = drawable(traceBaselineY(rect.top, rect.bottom, fraction));
    for (const ArrayData& mark : marks) {
        if (!onPage(mark.dFilePoint, pageMin, pageMax)) {
            continue;
        }
        const std::int32_t x = rect.left + pixel((mark.dFilePoint - pageMin) * pixelsPerSample);
        const std::int32_t y = drawable(tracePixelY(y0, mark.dValue * scale));
        painter.drawEllipse(QRect(x - 1, y - 5, 2, 10));
    }
}

void DrawFormantTrack(QPainter& painter, std::span<const FormantRecord> frames, const Rect& rect,
                      double maximumFrequencyHz)
{
    const int width = rectWidth(rect);
    const int height = rectHeight(rect);
    if (frames.empty() || width <= 0 || height <= 0 || !(maximumFrequencyHz > 0.0) ||
        !std::isfinite(maximumFrequencyHz)) {
        return;
    }
    PainterScope scope(painter);
    const QColor dot(255, 0, 0);
    const double frameCount = static_cast<double>(frames.size());
    for (std::size_t c = 0; c < frames.size(); ++c) {
        const std::int32_t x = rect.left + pixel(double(c) * width / frameCount);
        for (std::size_t f = 0; f < 5; ++f) {
            const int valueHz = frames[c][f];
            if (valueHz <= 50) {
                continue;
            }
            const std::int32_t dotHeight = pixel(valueHz * height / maximumFrequencyHz);
            if (dotHeight <= 0 || dotHeight > height) {
                continue;
            }
            // Small, so that the image shows between and around the tracks.
            painter.fillRect(QRect(x, rect.bottom - dotHeight, 2, 2), dot);
        }
    }
}

void DrawPitchTrack(QPainter& painter, std::span<const double> track, int from, int to,
                    const Rect& rect, double lowestHz, double highestHz, const RGBColor& color)
{
    const int width = rectWidth(rect);
    const int height = rectHeight(rect);
    const int first = std::max(from, 0);
    const int end = std::min<std::int64_t>(to, static_cast<std::int64_t>(track.size()));
    if (first >= end || to <= from || width <= 0 || height <= 0 || !(highestHz > lowestHz) ||
        !std::isfinite(highestHz - lowestHz)) {
        return;
    }
    PainterScope scope(painter);
    painter.setPen(toQColor(color));
    painter.setBrush(toQColor(color));
    const double frames = double(to) - double(from);
    const double pixelsPerHz = height / (highestHz - lowestHz);
    for (int j = first; j < end; ++j) {
        const double value = track[static_cast<std::size_t>(j)];
        if (!(lowestHz < value && value < highestHz)) {
            continue;
        }
        const std::int32_t x = rect.left + pixel((double(j) - from) * width / frames);
        const std::int32_t y = rect.bottom - pixel((value - lowestHz) * pixelsPerHz);
        painter.drawEllipse(QRect(x - 1, y - 1, 3, 3));
    }
}

void MarkCycleArray(QPainter& painter, double pageStart, double pageEnd,
                    std::span<const ArrayCycle> cycles, double scale, double fraction,
                    const Rect& rect, const RGBColor& color)
{
    double pixelsPerSample = 0.0;
    std::int32_t baseline = 0;
    if (cycles.empty() || !eggMarkGeometry(pageStart, pageEnd, fraction, rect, pixelsPerSample,
                                           baseline)) {
        return;
    }
    PainterScope scope(painter);
    painter.setFont(defaultTextFont());
    const QPen markPen(toQColor(fullStrength(color)), 1.0);
    const QBrush markBrush(toQColor(fullStrength(color)));
    // Adds the oval of one contact point; false when it is not drawn.
    const auto markPoint = [&](double filePoint, double value, std::int32_t& x) {
        const std::int32_t dx = pixel((filePoint - pageStart) * pixelsPerSample);
        const std::int32_t dy = pixel(value * scale);
        if ((dx == 0 && dy == 0) || !onPage(filePoint, pageStart, pageEnd)) {
            return false;
        }
        x = rect.left - 1 + dx;
        painter.setPen(markPen);
        painter.setBrush(markBrush);
        painter.drawEllipse(QRect(x, drawable(baseline - dy), 2, 10));
        return true;
    };
    const QFontMetrics metrics(painter.font());
    TextRow numbers;
    for (const ArrayCycle& cycle : cycles) {
        std::int32_t x = 0;
        markPoint(cycle.dFilePointP1, cycle.dValueP1, x);
        if (!markPoint(cycle.dFilePointP2, cycle.dValueP2, x)) {
            continue;
        }
        const std::array<double, 4> quotients = {cycle.dClosedQuotient, cycle.dClosedQuotientHB,
                                                 cycle.dClosedQuotientPM,
                                                 cycle.dClosedQuotientHT};
        std::array<QString, 4> texts;
        int widest = 0;
        for (std::size_t i = 0; i < quotients.size(); ++i) {
            texts[i] = QString::fromStdString(formatValue("%5.3f", quotients[i]));
            widest = std::max(widest, metrics.horizontalAdvance(texts[i]));
        }
        // Cycles closer together than their numbers keep their marks; the
        // numbers are written only where they fit beside the last ones.
        if (!numbers.claim(x, double(x) + widest)) {
            continue;
        }
        painter.setPen(Qt::black);
        for (std::size_t i = 0; i < texts.size(); ++i) {
            drawTextAt(painter, x, rect.top + 15.0 * double(i), texts[i]);
        }
    }
}

void MarkVelocityPeak(QPainter& painter, double pageStart, double pageEnd,
                      std::span<const ArrayCycle> cycles, double scale, double fraction,
                      const Rect& rect, const RGBColor& color)
{
    double pixelsPerSample = 0.0;
    std::int32_t baseline = 0;
    if (cycles.empty() || !eggMarkGeometry(pageStart, pageEnd, fraction, rect, pixelsPerSample,
                                           baseline)) {
        return;
    }
    PainterScope scope(painter);
    painter.setFont(defaultTextFont());
    const QPen markPen(toQColor(fullStrength(color)), 1.0);
    const QBrush markBrush(toQColor(fullStrength(color)));
    const QFontMetrics metrics(painter.font());
    TextRow numbers;
    for (const ArrayCycle& cycle : cycles) {
        if (!onPage(cycle.dPeakVelocityFilePoint, pageStart, pageEnd)) {
            continue;
        }
        const std::int32_t x =
            pixel((cycle.dPeakVelocityFilePoint - pageStart) * pixelsPerSample) + rect.left + 1;
        const std::int32_t y = drawable(baseline - pixel(cycle.dPeakVelocityValue * scale));
        painter.setPen(markPen);
        painter.setBrush(markBrush);
        painter.drawEllipse(QRect(x, y, 1, 10));
        const QString text = QString::fromStdString(formatValue("%.1f", cycle.dPeakVelocityValue));
        const double textWidth = metrics.horizontalAdvance(text);
        if (numbers.claim(x - textWidth / 2.0, x + textWidth / 2.0)) {
            painter.setPen(Qt::black);
            drawTextCentred(painter, x, std::max<double>(rect.top, y - 30.0), text);
        }
    }
}

} // namespace phonaxis
