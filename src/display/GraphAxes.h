#pragma once

// Axes of the analysis graphs and the main view as a reader of a printed
// figure needs them: text sized for the picture, time labels in the unit
// that suits the page, value labels spaced to fit, axis titles with their
// units and a caption line naming what the picture shows. Every text stays
// inside the bounds it is given (shifted in, or left out).

#include "model/Geometry.h"

#include <QRect>
#include <QSize>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

class QFontMetrics;
class QPainter;

namespace phonaxis {


// The pixel size of a graph's text in a view of `viewSizePx`: grows with the
// picture (about a 34th of its height or a 60th of its width, whichever is
// smaller), never below kMinGraphTextPx nor above kMaxGraphTextPx.
inline constexpr int kMinGraphTextPx = 12;
inline constexpr int kMaxGraphTextPx = 26;
int graphTextPixelSize(QSize viewSizePx);

// While alive, defaultTextFont() on this thread has the graph text size of
// `viewSizePx` (the previous size comes back when it ends). Graph drawing
// functions open one for their view; the main view's strips do not.
class GraphTextScale {
public:
    explicit GraphTextScale(QSize viewSizePx);
    // The same with a text size of `pixels` (at least kMinGraphTextPx).
    explicit GraphTextScale(int pixels);
    ~GraphTextScale();
    GraphTextScale(const GraphTextScale&) = delete;
    GraphTextScale& operator=(const GraphTextScale&) = delete;

private:
    int m_previousPx;
};

// The unit time labels are written in.
enum class TimeUnit { Milliseconds, Seconds, MinutesSeconds, HoursMinutesSeconds };

// The unit for a page [startMs, endMs]: ms for pages under 2 s that end
// before 10 s, s up to 2 minutes, m:ss up to an hour, h:mm:ss beyond.
TimeUnit timeUnitFor(double startMs, double endMs);
// "Time (ms)", "Time (s)", "Time (m:ss)" or "Time (h:mm:ss)".
QString timeAxisTitle(TimeUnit unit);
// `timeMs` in `unit` with `decimals` decimals of a second (of a ms for ms):
// "1250", "1.25", "1:05", "1:05.5", "1:00:00".
QString formatTime(double timeMs, TimeUnit unit, int decimals);

// Where time labels go on a page: every `stepMs` (a round step in the unit:
// 1, 2, 5 × 10^k; in m:ss and h:mm:ss also 15 s, 30 s, 1, 2, 5, 10, 15,
// 30 min, 1 h, …), written with `decimals`. The step is the smallest whose
// labels, as wide as the widest of them plus a gap, fit between ticks.
struct TimeLabelling {
    TimeUnit unit = TimeUnit::Milliseconds;
    double stepMs = 0.0; // 0: no labels (an empty page)
    int decimals = 0;
};
// With `multipleOfMs` > 0 only steps that are whole multiples of it are
// taken (labels on grid lines of that spacing), unless none fits.
TimeLabelling chooseTimeLabelling(double startMs, double endMs, double widthPx,
                                  const QFontMetrics& metrics, double multipleOfMs = 0.0);

// The lines of a time grid (TimeGrids without its labels): over `rect` from
// bottom to top in `color`, at the times timeGridLayout gives for the page
// and `spacingMs`, for lines inside the rectangle. None when there would be
// more than four a pixel.
void drawTimeGridLines(QPainter& painter, const Rect& rect, std::int32_t spacingMs,
                       double pageStartMs, double pageEndMs, const RGBColor& color);

// A text drawn at `box` (view pixels).
void drawGraphText(QPainter& painter, const QRectF& box, const QString& text,
                   int flags = 0x0084 /* Qt::AlignLeft | Qt::AlignVCenter */);

// Height of a time axis below a plot: tick, labels, and the title line;
// and of its tick and labels alone.
int timeAxisHeight(const QFontMetrics& metrics);
int timeAxisLabelsHeight(const QFontMetrics& metrics);

// Grid lines drawn with a time axis: over `rect` in `color`, every
// `spacingMs` when those lines are at least a few pixels apart and leave
// room for at least three labels on them (the labels then fall on them),
// else on the labels' ticks.
struct TimeAxisGrid {
    Rect rect;
    std::int32_t spacingMs = 0;
    RGBColor color;
};

// The time axis under `plot` for the page [startMs, endMs]: a tick below
// the plot's bottom and a label under it at each labelling step, labels
// kept inside `bounds` (moved in at its edges, left out when they would
// meet their neighbour), and the title (timeAxisTitle) centred under the
// labels when `bounds` leaves room for it, else at the end of the label row.
// With `grid`, its lines first.
void drawTimeAxis(QPainter& painter, const Rect& plot, double startMs, double endMs,
                  const QRect& bounds, const TimeAxisGrid* grid = nullptr);

// The label step for a value axis of `extent` units over `lengthPx`: the
// first of 1, 2, 5, 10, 20, 50, … that is a whole multiple of `step` (the
// grid's lines) and puts labels at least `minSpacingPx` apart; `step`
// itself when none is. At least 1.
int fittingValueStep(int step, double extent, int lengthPx, double minSpacingPx);

// Value labels on the left of `plot` for `low` … `high` (low at the bottom)
// at the multiples of `step` between them: right-aligned against a tick
// left of the plot, vertically centred on their value, held inside
// `bounds` and left out where they would meet their neighbour.
void drawLeftValueLabels(QPainter& painter, const Rect& plot, double low, double high, int step,
                         const QRect& bounds);

// Value labels under `plot` for `low` … `high` (low at the left) every
// `step`: centred under a tick, held inside `bounds`, left out where they
// would meet their neighbour.
void drawBottomValueLabels(QPainter& painter, const Rect& plot, double low, double high, int step,
                           const QRect& bounds);

// The widest label drawLeftValueLabels would write for `low` … `high`,
// with its tick and gap: the room to leave left of the plot for them.
int leftValueLabelsWidth(const QFontMetrics& metrics, double low, double high);

// An axis title turned a quarter to read upwards, centred on the plot's
// height, with its left edge at `left`.
void drawVerticalAxisTitle(QPainter& painter, const Rect& plot, int left, const QString& title);

// A horizontal title centred under `plot` with its top at `top`.
void drawHorizontalAxisTitle(QPainter& painter, const Rect& plot, int top, const QString& title);

// The caption line at the top of a view of `viewSizePx` (elided to its
// width), and the height it takes.
int captionLineHeight(const QFontMetrics& metrics);
void drawCaptionLine(QPainter& painter, QSize viewSizePx, const QString& caption);

// What a picture shows, for its caption line. Times are ms from the
// recording's start; a stretch of zero length is a time ("at 500 ms").
struct GraphCaption {
    std::string fileName;     // shown without its folder
    std::string channelTitle; // may be empty
    int channelNumber = -1;   // counted from 0; < 0: not shown
    double fromMs = 0.0;
    double toMs = 0.0;
    std::string analysis; // e.g. "FFT/LPC spectrum, precise analysis"

    // "demo.wav, channel 0 (Audio), 0.5–1.5 s, FFT/LPC spectrum, …".
    QString text() const;
};

} // namespace phonaxis
