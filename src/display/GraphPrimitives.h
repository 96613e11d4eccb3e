#pragma once

#include "model/EggRecords.h"
#include "model/Geometry.h"
#include "model/Labels.h"
#include "windows/SpectrogramAnalysis.h"

#include <QColor>
#include <QFont>

#include <cstdint>
#include <span>
#include <string>

class QPainter;

namespace phonaxis {

class MinMaxSummary;

// Drawing primitives shared by the main view and the analysis windows: traces,
// grids and marks drawn with a QPainter into view pixels.
//
// Conventions for every function here:
// * Rectangles are view rectangles (Rect: top, left, bottom, right); y grows
//   downward. width = right − left, height = bottom − top.
// * A baseline `fraction` places value 0 at that fraction of the height up
//   from the bottom: y0 = bottom − (int)((bottom − top) × fraction).
//   A value v is drawn at y = y0 − (int)(v × scale).
// * Sample positions are indices from 0; a page [pageMin, pageMax) is the
//   range of positions spread over the rectangle's width.
// * Colours are RGBColor (16-bit components, scaled to the device's range),
//   except the EGG cycle and velocity-peak marks, whose non-zero components
//   show at full strength (see fullStrength; their cycle colour
//   0xAAAA/0/0xFFFF is magenta).
// * Drawing is aliased (one pixel per point, no blending) so that pixels are
//   exact. Non-finite or huge values never reach an integer conversion: they
//   are drawn far off the view on their side (or not at all for NaN).
// * Each function restores the painter's pen, brush, font and hints before
//   returning. Main thread only (QPainter on a widget), or any one thread
//   painting its own QImage.

// The colour with every non-zero component at full strength (0xFFFF) and the
// others 0. The EGG marks and the main view's intensity track are coloured
// this way, their colours handed to the device component by component as
// they are written: the cycle marks' 0xAAAA/0/0xFFFF shows as magenta and
// the intensity track's 0/0/0x00FF as blue, the colours users know them by.
RGBColor fullStrength(const RGBColor& color);

// The Qt colour of an RGBColor with `alpha` (0..1).
QColor toQColor(const RGBColor& color, double alpha = 1.0);
// The Qt font of a label font (family, points, weight, italic).
QFont toQFont(const LabelFont& font);
// The font of scale values, titles and grid labels: 10 points, or the pixel
// size set for this thread with setGraphTextPixelSize.
QFont defaultTextFont();
// Sets the pixel size of defaultTextFont() on this thread (0: back to 10
// points) and returns the one before. See GraphTextScale.
int setGraphTextPixelSize(int pixels);
// The font of grid labels in big-font mode ("Courier", 24 points).
QFont bigTextFont();

// The layout of a time grid over a page of [pageStartMs, pageEndMs].
struct TimeGridLayout {
    double stepMs = 0.0;  // distance between lines
    double firstMs = 0.0; // the multiple of the step at or before the page start
    int lineCount = 0;    // lines first + k × step for k = 1 … lineCount
};

// The time-grid step and line count for a page. With `spacingMs` > 0 the step
// is the spacing and the count covers the page (range / spacing + 1, the range
// R = (int)(end − start)). Otherwise the step is chosen from 1, 2, 5, 10, 25,
// 50, 75, 100, 250, … 100000 ms: 1 when R < 31, else the first later entry
// with R / step < 31, and at least 30 lines are laid out (more when the
// largest step still needs them to reach the page end). An empty or
// non-finite page gives no lines.
TimeGridLayout timeGridLayout(double pageStartMs, double pageEndMs, std::int32_t spacingMs);

// A trace of 32-bit float samples over the page [pageMin, pageMax) in `rect`.
// With s = (pageMax − pageMin) / width samples per pixel column, s ≥ 4 draws
// min/max columns: column i covers the (int)s samples from
// (int)(s × i + pageMin) and is drawn at x = left + i as the vertical span
// from their maximum to their minimum; a span that does not meet the span of
// the column before it (for the first column, the point (left, y0)) is
// extended to that span's nearer edge, never beyond. Otherwise samples are joined one by one from
// (left, y0), sample j at x = left + (int)((j − pageMin) × width /
// (pageMax − pageMin)). Positions outside `samples` and NaN samples are not
// drawn (the line breaks there).
//
// `summary`, when given, must summarise `samples` (see MinMaxSummary); it
// makes a wide page cost time proportional to the width instead of the
// sample count, with exactly the same pixels. Without one the columns scan
// the samples. The pen keeps its width; when `drawReference` is set, a line
// across the rectangle at y0 − (int)(reference × scale) is drawn first in
// `referenceColor` at alpha 0.6.
void DrawGraphFloat_1(QPainter& painter, std::int32_t pageMin, std::int32_t pageMax,
                      std::span<const float> samples, double scale, double fraction,
                      double reference, const Rect& rect, const RGBColor& color,
                      bool drawReference, const RGBColor& referenceColor,
                      const MinMaxSummary* summary = nullptr);

// A wide page whose pixel columns' extremes are already known (one MinMax
// per column, as DrawGraphFloat_1 finds them): drawn as DrawGraphFloat_1
// draws its min/max columns. Pixel column x of `rect` shows
// columns[x · count / width], so a rectangle of another width than the
// columns shows them stretched. Columns without a sample are not drawn.
void DrawMinMaxColumns(QPainter& painter, std::span<const MinMax> columns, double scale,
                       double fraction, const Rect& rect, const RGBColor& color);

// The same for 64-bit samples (velocity and acceleration tracks), drawn with
// a pen of `penWidth` pixels. Min/max columns are used when width × 4 ≤
// pageMax − pageMin.
void DrawGraphDouble(QPainter& painter, std::span<const double> samples, double pageMin,
                     double pageMax, double scale, double fraction, double reference,
                     const Rect& rect, const RGBColor& color, bool drawReference,
                     const RGBColor& referenceColor, double penWidth);

// The same for 16-bit samples, drawn with the painter's current pen and no
// reference line.
void DrawGraph(QPainter& painter, std::span<const std::int16_t> samples, double pageMin,
               double pageMax, double scale, double fraction, const Rect& rect);

// A time grid over the page [pageStartMs, pageEndMs] (layout as
// timeGridLayout). Line k is at x = (first + k × step − start) × width /
// (end − start) from the left edge, drawn (when `drawLines`) from bottom to
// top in `color` if 0 < x and left + x < right. Such a line can get the
// label "%.0f" of its time (of k × step when `relative`), centred on it with
// its top at the rectangle's bottom edge, in black; `bigFont` selects
// bigTextFont(). Labels that would run together are left out: only every
// n-th line is labelled (n = 1, 2, 5, 10, 20, …, counted from time 0, or
// from the page start when `relative`, the smallest n that leaves room for
// the widest label), and a label is written only where it starts at least
// 4 pixels right of the previous one. A grid of more lines than four per
// pixel is not drawn.
void TimeGrids(QPainter& painter, const Rect& rect, std::int32_t spacingMs, bool drawLines,
               double pageStartMs, double pageEndMs, bool relative, bool bigFont,
               const RGBColor& color);

// A value grid in light grey for a frequency or level axis from `minimum` to
// `maximum` in steps of `step`. Orientation 2: vertical lines at
// x = left + (int)(step × width / (max − min) × k), k = 1 … (max − min) / step,
// labelled "%d" (min + k × step) centred below the bottom edge. Orientation 1:
// horizontal lines at y = bottom − (int)(step × height / (max − min) × k),
// k = 0 … (max − min) / step, labelled "%d" right-aligned left of the left
// edge. `drawLabels` switches the labels on; other orientations, an empty
// range or a step ≤ 0 draw nothing.
void DrawAnyGrid(QPainter& painter, const Rect& rect, int minimum, int maximum, int step,
                 int orientation, bool drawLabels, bool bigFont);

// One dot (2 × 10 pixels, corner at (x − 1, y − 5)) per mark inside the page:
// x = left + (int)((dFilePoint − pageMin) × width / (pageMax − pageMin)),
// y = y0 − (int)(dValue × scale); stroked and filled in `color`. Marks
// outside [pageMin, pageMax] are not drawn.
void MarkArray(QPainter& painter, double pageMin, double pageMax, std::span<const ArrayData> marks,
               double scale, double fraction, const Rect& rect, const RGBColor& color);

// Formant dots, 2 × 2 pixels in red (which reads on any grey): frame c of `frames` at x = left + (int)(c × width /
// frame count); each of its first five values F > 50 Hz at
// y = bottom − (int)(F × height / maximumFrequencyHz) when that height is
// above 0 and not above the rectangle's height.
void DrawFormantTrack(QPainter& painter, std::span<const FormantRecord> frames, const Rect& rect,
                      double maximumFrequencyHz);

// Pitch dots in `color` for frames from .. to − 1 of `track` whose value lies
// strictly between `lowestHz` and `highestHz`: frame j at
// x = left + (int)((j − from) × width / (to − from)),
// y = bottom − (int)((value − lowest) × height / (highest − lowest)).
void DrawPitchTrack(QPainter& painter, std::span<const double> track, int from, int to,
                    const Rect& rect, double lowestHz, double highestHz, const RGBColor& color);

// EGG cycle marks: with p = width / (pageEnd − pageStart) pixels per sample
// and b = bottom − (int)(height × fraction) − 5, the contact point P1 and the
// de-contact point P2 of each cycle are each drawn as a 2 × 10 oval at
// (left − 1 + (int)((dFilePointP − pageStart) × p), b − (int)(dValueP × scale))
// unless both offsets are 0 or the point lies outside the page. When P2 is
// drawn, CQ, CQ_HB, CQ_PM and CQ_HT ("%5.3f") are written at its x, at the
// strip top and 15, 30 and 45 pixels below, unless they would start less
// than 4 pixels right of the numbers written last (cycles closer together
// than their numbers keep their marks only).
void MarkCycleArray(QPainter& painter, double pageStart, double pageEnd,
                    std::span<const ArrayCycle> cycles, double scale, double fraction,
                    const Rect& rect, const RGBColor& color);

// Velocity-peak marks: per cycle with its peak inside the page, a 1 × 10 oval
// at x = (int)((dPeakVelocityFilePoint − pageStart) × p) + left + 1,
// y = b − (int)(dPeakVelocityValue × scale) (p and b as MarkCycleArray), and
// the peak velocity ("%.1f") centred on x with its top at max(top, y − 30),
// written only where it starts at least 4 pixels right of the last one.
void MarkVelocityPeak(QPainter& painter, double pageStart, double pageEnd,
                      std::span<const ArrayCycle> cycles, double scale, double fraction,
                      const Rect& rect, const RGBColor& color);

// printf-style formatting of one value (any length).
std::string formatValue(const char* format, double value);

} // namespace phonaxis
