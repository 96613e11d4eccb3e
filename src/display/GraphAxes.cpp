#include "display/GraphAxes.h"

#include "display/GraphPrimitives.h"

#include <QFontMetrics>
#include <QLine>
#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

namespace phonaxis {

namespace {

// Pixels between neighbouring labels, and between a tick and its label.
constexpr double kLabelGapPx = 6.0;
constexpr int kTickGapPx = 2;

int tickLength(const QFontMetrics& metrics)
{
    return std::max(3, metrics.height() / 4);
}

// Round label steps in ms for clock-style units past one second.
constexpr std::array<double, 18> kClockStepsMs = {
    1000.0,    2000.0,    5000.0,     10000.0,    15000.0,    30000.0,
    60000.0,   120000.0,  300000.0,   600000.0,   900000.0,   1800000.0,
    3600000.0, 7200000.0, 10800000.0, 21600000.0, 43200000.0, 86400000.0};

// The round step after `stepMs` for labels in `unit`.
double nextStepMs(double stepMs, TimeUnit unit)
{
    const bool clock = unit == TimeUnit::MinutesSeconds || unit == TimeUnit::HoursMinutesSeconds;
    if (clock && stepMs >= 1000.0) {
        for (const double candidate : kClockStepsMs) {
            if (candidate > stepMs) {
                return candidate;
            }
        }
        // Past a day: whole days in 1, 2, 5 × 10^k.
    }
    const double decade = std::pow(10.0, std::floor(std::log10(stepMs) + 1e-9));
    const double leading = std::round(stepMs / decade);
    return (leading < 2.0 ? 2.0 : leading < 5.0 ? 5.0 : 10.0) * decade;
}

// Decimals of a second that a step of `stepMs` needs (0 … 3).
int decimalsFor(double stepMs, TimeUnit unit)
{
    if (unit == TimeUnit::Milliseconds) {
        return 0;
    }
    const auto step = static_cast<std::int64_t>(std::llround(stepMs));
    int decimals = 0;
    std::int64_t scaled = step;
    while (decimals < 3 && scaled % 1000 != 0) {
        scaled *= 10;
        ++decimals;
    }
    return decimals;
}

// A clock text (m:ss or h:mm:ss) of `timeMs` with `decimals`.
QString clockText(double timeMs, bool hours, int decimals)
{
    const std::int64_t scale = decimals == 0 ? 1 : decimals == 1 ? 10 : decimals == 2 ? 100 : 1000;
    const double magnitude = std::fabs(timeMs);
    const auto total = static_cast<std::int64_t>(std::llround(magnitude / 1000.0 * double(scale)));
    const std::int64_t fraction = total % scale;
    const std::int64_t seconds = (total / scale) % 60;
    const std::int64_t minutes = total / scale / 60;
    QString text = timeMs < 0.0 && total != 0 ? QStringLiteral("-") : QString();
    if (hours) {
        text += QStringLiteral("%1:%2").arg(minutes / 60).arg(minutes % 60, 2, 10, QChar('0'));
    } else {
        text += QString::number(minutes);
    }
    text += QStringLiteral(":%1").arg(seconds, 2, 10, QChar('0'));
    if (decimals > 0) {
        text += QStringLiteral(".%1").arg(fraction, decimals, 10, QChar('0'));
    }
    return text;
}

// Whether `a` and `b` overlap (with `gap` pixels kept between them) along x.
bool runTogether(double aLeft, double aRight, double bLeft, double bRight, double gap)
{
    return aLeft < bRight + gap && bLeft < aRight + gap;
}

} // namespace

int graphTextPixelSize(QSize viewSizePx)
{
    const double byWidth = viewSizePx.width() / 60.0;
    const double byHeight = viewSizePx.height() / 34.0;
    const double size = std::min(byWidth, byHeight);
    if (!(size > kMinGraphTextPx)) {
        return kMinGraphTextPx;
    }
    return std::min(kMaxGraphTextPx, static_cast<int>(std::lround(size)));
}

GraphTextScale::GraphTextScale(QSize viewSizePx)
    : m_previousPx(setGraphTextPixelSize(graphTextPixelSize(viewSizePx)))
{
}

GraphTextScale::GraphTextScale(int pixels)
    : m_previousPx(setGraphTextPixelSize(std::max(pixels, kMinGraphTextPx)))
{
}

GraphTextScale::~GraphTextScale()
{
    setGraphTextPixelSize(m_previousPx);
}

TimeUnit timeUnitFor(double startMs, double endMs)
{
    const double span = endMs - startMs;
    if (span < 2000.0 && endMs < 10000.0) {
        return TimeUnit::Milliseconds;
    }
    if (endMs < 120000.0) {
        return TimeUnit::Seconds;
    }
    if (endMs < 3600000.0) {
        return TimeUnit::MinutesSeconds;
    }
    return TimeUnit::HoursMinutesSeconds;
}

QString timeAxisTitle(TimeUnit unit)
{
    switch (unit) {
    case TimeUnit::Milliseconds:
        return QStringLiteral("Time (ms)");
    case TimeUnit::Seconds:
        return QStringLiteral("Time (s)");
    case TimeUnit::MinutesSeconds:
        return QStringLiteral("Time (m:ss)");
    case TimeUnit::HoursMinutesSeconds:
        return QStringLiteral("Time (h:mm:ss)");
    }
    return {};
}

QString formatTime(double timeMs, TimeUnit unit, int decimals)
{
    if (!std::isfinite(timeMs)) {
        return {};
    }
    const int d = std::clamp(decimals, 0, 3);
    switch (unit) {
    case TimeUnit::Milliseconds:
        return QString::number(timeMs, 'f', d);
    case TimeUnit::Seconds: {
        const QString text = QString::number(timeMs / 1000.0, 'f', d);
        // No "-0" for a time that rounds to zero.
        return text.toDouble() == 0.0 ? QString::number(0.0, 'f', d) : text;
    }
    case TimeUnit::MinutesSeconds:
        return clockText(timeMs, false, d);
    case TimeUnit::HoursMinutesSeconds:
        return clockText(timeMs, true, d);
    }
    return {};
}

TimeLabelling chooseTimeLabelling(double startMs, double endMs, double widthPx,
                                  const QFontMetrics& metrics, double multipleOfMs)
{
    if (multipleOfMs > 0.0) {
        TimeLabelling onGrid = chooseTimeLabelling(startMs, endMs, widthPx, metrics, -multipleOfMs);
        if (onGrid.stepMs > 0.0) {
            return onGrid;
        }
        multipleOfMs = 0.0;
    }
    // A negative `multipleOfMs` asks for multiples only, without falling back.
    const double multiple = -multipleOfMs;
    TimeLabelling labelling;
    labelling.unit = timeUnitFor(startMs, endMs);
    const double span = endMs - startMs;
    if (!std::isfinite(span) || !(span > 0.0) || !(widthPx > 0.0)) {
        return labelling;
    }
    const double pixelsPerMs = widthPx / span;
    // The smallest step is a ms; steps grow until the widest label fits.
    double step = 1.0;
    while (step < 1e12) {
        if (multiple > 0.0 && std::fabs(std::remainder(step, multiple)) > 1e-9 * step) {
            step = nextStepMs(step, labelling.unit);
            continue;
        }
        const int decimals = decimalsFor(step, labelling.unit);
        const double first = std::ceil(startMs / step) * step;
        const double last = std::floor(endMs / step) * step;
        const double widest =
            std::max(metrics.horizontalAdvance(formatTime(first, labelling.unit, decimals)),
                     metrics.horizontalAdvance(formatTime(last, labelling.unit, decimals)));
        // About an em between labels, so that they read as separate numbers.
        if (step * pixelsPerMs >= widest + std::max(kLabelGapPx, 0.8 * metrics.height())) {
            labelling.stepMs = step;
            labelling.decimals = decimals;
            return labelling;
        }
        step = nextStepMs(step, labelling.unit);
    }
    return labelling;
}

void drawTimeGridLines(QPainter& painter, const Rect& rect, std::int32_t spacingMs,
                       double pageStartMs, double pageEndMs, const RGBColor& color)
{
    const int width = int(rect.right) - int(rect.left);
    const TimeGridLayout layout = timeGridLayout(pageStartMs, pageEndMs, spacingMs);
    if (width <= 0 || layout.lineCount <= 0 ||
        static_cast<std::int64_t>(layout.lineCount) > 4 * std::int64_t{width}) {
        return;
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(toQColor(color), 1.0));
    const double pixelsPerMs = width / (pageEndMs - pageStartMs);
    for (int k = 1; k <= layout.lineCount; ++k) {
        const double x = (layout.firstMs + k * layout.stepMs - pageStartMs) * pixelsPerMs;
        if (0.0 < x && rect.left + x < rect.right) {
            const int lineX = rect.left + static_cast<int>(x);
            painter.drawLine(QLine(lineX, rect.bottom, lineX, rect.top));
        }
    }
    painter.restore();
}

void drawGraphText(QPainter& painter, const QRectF& box, const QString& text, int flags)
{
    painter.drawText(box, flags, text);
}

int timeAxisHeight(const QFontMetrics& metrics)
{
    return tickLength(metrics) + kTickGapPx + 2 * metrics.height() + 2;
}

int timeAxisLabelsHeight(const QFontMetrics& metrics)
{
    return tickLength(metrics) + kTickGapPx + metrics.height();
}

void drawTimeAxis(QPainter& painter, const Rect& plot, double startMs, double endMs,
                  const QRect& bounds, const TimeAxisGrid* grid)
{
    const int width = int(plot.right) - int(plot.left);
    if (width <= 0 || !(endMs > startMs) || !std::isfinite(endMs - startMs)) {
        return;
    }
    painter.save();
    painter.setFont(defaultTextFont());
    const QFontMetrics metrics(painter.font());
    // Grid lines of the settings' spacing, when they are far enough apart
    // to be told apart; the labels then sit on them.
    constexpr double kMinGridSpacingPx = 4.0;
    bool spacedGrid = grid != nullptr && grid->spacingMs > 0 &&
                      grid->spacingMs * double(width) / (endMs - startMs) >= kMinGridSpacingPx;
    TimeLabelling labelling = chooseTimeLabelling(startMs, endMs, width, metrics,
                                                  spacedGrid ? grid->spacingMs : 0.0);
    // A page only a few grid steps long would get too few labels on the
    // grid's lines: the labels take their own step and the lines follow them.
    constexpr double kFewestLabels = 3.0;
    if (spacedGrid && !((endMs - startMs) / labelling.stepMs >= kFewestLabels)) {
        spacedGrid = false;
        labelling = chooseTimeLabelling(startMs, endMs, width, metrics);
    }
    if (spacedGrid) {
        drawTimeGridLines(painter, grid->rect, grid->spacingMs, startMs, endMs, grid->color);
    }
    const int tick = tickLength(metrics);
    const double rowTop = plot.bottom + tick + kTickGapPx;
    const double rowHeight = metrics.height();

    // The title goes under the labels when there is room, else at the end of
    // their row, where the labels leave it space.
    const QString title = timeAxisTitle(labelling.unit);
    const double titleWidth = metrics.horizontalAdvance(title);
    const bool titleBelow = rowTop + 2 * rowHeight <= bounds.bottom() + 1;
    double labelsRight = bounds.right() + 1;
    if (titleBelow) {
        drawHorizontalAxisTitle(painter, plot, int(rowTop + rowHeight), title);
    } else {
        const QRectF box(bounds.right() + 1 - titleWidth, rowTop, titleWidth, rowHeight);
        painter.setPen(Qt::black);
        drawGraphText(painter, box, title);
        labelsRight = box.left() - kLabelGapPx;
    }

    if (labelling.stepMs > 0.0) {
        const double pixelsPerMs = width / (endMs - startMs);
        const auto first = static_cast<std::int64_t>(std::ceil(startMs / labelling.stepMs - 1e-9));
        const auto last = static_cast<std::int64_t>(std::floor(endMs / labelling.stepMs + 1e-9));
        double previousRight = -std::numeric_limits<double>::infinity();
        painter.setPen(QPen(Qt::black, 1.0));
        for (std::int64_t k = first; k <= last && k - first < 100000; ++k) {
            const double timeMs = double(k) * labelling.stepMs;
            const int x = plot.left + static_cast<int>(std::lround((timeMs - startMs) * pixelsPerMs));
            if (grid != nullptr && !spacedGrid && x > grid->rect.left && x < grid->rect.right) {
                painter.setPen(QPen(toQColor(grid->color), 1.0));
                painter.drawLine(QLine(x, grid->rect.bottom, x, grid->rect.top));
                painter.setPen(QPen(Qt::black, 1.0));
            }
            painter.drawLine(QLine(x, plot.bottom, x, plot.bottom + tick));
            const QString label = formatTime(timeMs, labelling.unit, labelling.decimals);
            const double labelWidth = metrics.horizontalAdvance(label);
            double left = x - labelWidth / 2.0;
            left = std::min(left, labelsRight - labelWidth);
            left = std::max(left, double(bounds.left()));
            if (left + labelWidth > labelsRight || left < previousRight + kLabelGapPx) {
                continue;
            }
            drawGraphText(painter, QRectF(left, rowTop, labelWidth, rowHeight), label);
            previousRight = left + labelWidth;
        }
    }
    painter.restore();
}

int fittingValueStep(int step, double extent, int lengthPx, double minSpacingPx)
{
    if (step <= 0 || !(extent > 0.0) || lengthPx <= 0) {
        return std::max(step, 1);
    }
    const auto fits = [&](std::int64_t candidate) {
        return double(candidate) * lengthPx / extent >= minSpacingPx;
    };
    // The first round value (1, 2, 5 × 10^k) that is a whole multiple of the
    // step and leaves the room: labels on grid lines, at values a reader
    // counts in.
    for (std::int64_t decade = 1; decade <= (1LL << 40); decade *= 10) {
        for (const std::int64_t leading : {1, 2, 5}) {
            const std::int64_t candidate = leading * decade;
            if (candidate >= step && candidate % step == 0 && fits(candidate)) {
                return static_cast<int>(
                    std::min<std::int64_t>(candidate, std::numeric_limits<int>::max()));
            }
        }
    }
    return step;
}

namespace {

// The multiples k × `step` to label from `low` to `high` along an axis
// `extentPx` long: false when there is nothing to label.
bool labelMultiples(double low, double high, int step, int extentPx, std::int64_t& first,
                    std::int64_t& last)
{
    if (step <= 0 || !(high > low) || extentPx <= 0 || !std::isfinite(high - low)) {
        return false;
    }
    first = static_cast<std::int64_t>(std::ceil(low / step - 1e-9));
    last = static_cast<std::int64_t>(std::floor(high / step + 1e-9));
    return true;
}

// Sets `painter` up for value labels and their ticks: the graph text font,
// a black pen. Its metrics.
QFontMetrics startLabels(QPainter& painter)
{
    painter.setFont(defaultTextFont());
    painter.setPen(QPen(Qt::black, 1.0));
    return QFontMetrics(painter.font());
}

} // namespace

int leftValueLabelsWidth(const QFontMetrics& metrics, double low, double high)
{
    const auto widthOf = [&](double v) {
        return metrics.horizontalAdvance(QString::number(static_cast<std::int64_t>(std::trunc(v))));
    };
    return std::max(widthOf(low), widthOf(high)) + tickLength(metrics) + kTickGapPx + 2;
}

void drawLeftValueLabels(QPainter& painter, const Rect& plot, double low, double high, int step,
                         const QRect& bounds)
{
    const int height = int(plot.bottom) - int(plot.top);
    std::int64_t first = 0;
    std::int64_t last = 0;
    if (!labelMultiples(low, high, step, height, first, last)) {
        return;
    }
    painter.save();
    const QFontMetrics metrics = startLabels(painter);
    const int tick = tickLength(metrics);
    const double rowHeight = metrics.height();
    // Drawn from the top down, so that the top value stays when two meet.
    double previousBottom = -std::numeric_limits<double>::infinity();
    for (std::int64_t k = last; k >= first && last - k < 100000; --k) {
        const double value = double(k) * step;
        const int y =
            plot.bottom - static_cast<int>(std::lround((value - low) * height / (high - low)));
        painter.drawLine(QLine(plot.left - tick, y, plot.left, y));
        const QString label = QString::number(k * std::int64_t{step});
        const double labelWidth = metrics.horizontalAdvance(label);
        double top = y - rowHeight / 2.0;
        top = std::clamp(top, double(bounds.top()), bounds.bottom() + 1 - rowHeight);
        if (top < previousBottom) {
            continue;
        }
        const double right = plot.left - tick - kTickGapPx;
        drawGraphText(painter, QRectF(std::max(right - labelWidth, double(bounds.left())), top,
                                      labelWidth, rowHeight),
                      label);
        previousBottom = top + rowHeight;
    }
    painter.restore();
}

void drawBottomValueLabels(QPainter& painter, const Rect& plot, double low, double high, int step,
                           const QRect& bounds)
{
    const int width = int(plot.right) - int(plot.left);
    std::int64_t first = 0;
    std::int64_t last = 0;
    if (!labelMultiples(low, high, step, width, first, last)) {
        return;
    }
    painter.save();
    const QFontMetrics metrics = startLabels(painter);
    const int tick = tickLength(metrics);
    const double rowTop = plot.bottom + tick + kTickGapPx;
    double previousRight = -std::numeric_limits<double>::infinity();
    for (std::int64_t k = first; k <= last && k - first < 100000; ++k) {
        const double value = double(k) * step;
        const int x =
            plot.left + static_cast<int>(std::lround((value - low) * width / (high - low)));
        painter.drawLine(QLine(x, plot.bottom, x, plot.bottom + tick));
        const QString label = QString::number(k * std::int64_t{step});
        const double labelWidth = metrics.horizontalAdvance(label);
        double left = std::min(x - labelWidth / 2.0, bounds.right() + 1 - labelWidth);
        left = std::max(left, double(bounds.left()));
        if (runTogether(left, left + labelWidth, previousRight, previousRight, kLabelGapPx)) {
            continue;
        }
        drawGraphText(painter, QRectF(left, rowTop, labelWidth, metrics.height()), label);
        previousRight = left + labelWidth;
    }
    painter.restore();
}

void drawVerticalAxisTitle(QPainter& painter, const Rect& plot, int left, const QString& title)
{
    painter.save();
    painter.setFont(defaultTextFont());
    painter.setPen(Qt::black);
    const QFontMetrics metrics(painter.font());
    const double width = metrics.horizontalAdvance(title);
    const double centreY = (double(plot.top) + double(plot.bottom)) / 2.0;
    painter.translate(left, centreY);
    painter.rotate(-90.0);
    // In the turned frame x runs up the view and y to the right.
    drawGraphText(painter, QRectF(-width / 2.0, 0.0, width, metrics.height()), title);
    painter.restore();
}

void drawHorizontalAxisTitle(QPainter& painter, const Rect& plot, int top, const QString& title)
{
    painter.save();
    painter.setFont(defaultTextFont());
    painter.setPen(Qt::black);
    const QFontMetrics metrics(painter.font());
    const double width = metrics.horizontalAdvance(title);
    const double centreX = (double(plot.left) + double(plot.right)) / 2.0;
    drawGraphText(painter, QRectF(centreX - width / 2.0, top, width, metrics.height()), title);
    painter.restore();
}

int captionLineHeight(const QFontMetrics& metrics)
{
    return metrics.height() + 4;
}

void drawCaptionLine(QPainter& painter, QSize viewSizePx, const QString& caption)
{
    if (caption.isEmpty()) {
        return;
    }
    painter.save();
    painter.setFont(defaultTextFont());
    painter.setPen(Qt::black);
    const QFontMetrics metrics(painter.font());
    constexpr int kInset = 4;
    const int width = viewSizePx.width() - 2 * kInset;
    const QString shown = metrics.elidedText(caption, Qt::ElideMiddle, width);
    drawGraphText(painter,
                  QRectF(kInset, 2, metrics.horizontalAdvance(shown), metrics.height()), shown);
    painter.restore();
}

QString GraphCaption::text() const
{
    QStringList parts;
    const QString file = QString::fromStdString(fileName);
    const qsizetype slash = file.lastIndexOf(QLatin1Char('/'));
    if (!file.isEmpty()) {
        parts << file.mid(slash + 1);
    }
    const QString title = QString::fromStdString(channelTitle).trimmed();
    if (channelNumber >= 0) {
        parts << (title.isEmpty() ? QStringLiteral("channel %1").arg(channelNumber)
                                  : QStringLiteral("channel %1 (%2)").arg(channelNumber).arg(title));
    } else if (!title.isEmpty()) {
        parts << title;
    }
    if (std::isfinite(fromMs) && std::isfinite(toMs) && toMs >= fromMs) {
        const TimeUnit unit = timeUnitFor(fromMs, toMs);
        // Times to the ms, without trailing zeros.
        const auto shown = [unit](double ms) {
            QString text = formatTime(ms, unit, unit == TimeUnit::Milliseconds ? 0 : 3);
            if (unit != TimeUnit::Milliseconds && text.contains(QLatin1Char('.'))) {
                while (text.endsWith(QLatin1Char('0'))) {
                    text.chop(1);
                }
                if (text.endsWith(QLatin1Char('.'))) {
                    text.chop(1);
                }
            }
            return text;
        };
        const QString suffix = unit == TimeUnit::Milliseconds ? QStringLiteral(" ms")
                               : unit == TimeUnit::Seconds    ? QStringLiteral(" s")
                               : unit == TimeUnit::MinutesSeconds ? QStringLiteral(" (m:ss)")
                                                                  : QStringLiteral(" (h:mm:ss)");
        parts << (toMs == fromMs ? QStringLiteral("at ") + shown(fromMs) + suffix
                                 : shown(fromMs) + QStringLiteral("–") + shown(toMs) + suffix);
    }
    if (!analysis.empty()) {
        parts << QString::fromStdString(analysis);
    }
    return parts.join(QStringLiteral(", "));
}

} // namespace phonaxis
