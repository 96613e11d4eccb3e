#pragma once

#include "model/Geometry.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace phonaxis {

class FormantTable;

// Hz → Bark: z = 13·atan(0.76·f/1000) + 3.5·atan((f/1000/7.5)²).
double HzToBark(std::int32_t hz);

// F2' = F2 + 0.5·(F3 − F2)·(F2 − F1)/(F3 − F1) in Hz, cut toward zero to whole
// Hz (saturating at the int32 range). When F3 equals F1 the weight of F3 is
// undefined and F2' is F2.
std::int32_t F2Prime(std::int32_t f1Hz, std::int32_t f2Hz, std::int32_t f3Hz);

// The second formant coordinate of a row for a plot type: F2 (type 0), F2'
// (type 1) or F3 (type 2 and any other value).
std::int32_t secondFormantHz(std::int32_t plotType, std::int32_t f1Hz, std::int32_t f2Hz,
                             std::int32_t f3Hz);

// A run of consecutive rows with equal labels, with the statistics of its
// points in Bark: p = Bark(F1), q = Bark of the second coordinate.
struct FormantGroup {
    std::string label;
    std::size_t firstRow = 0;
    std::size_t rowCount = 0;
    double meanP = 0.0;
    double meanQ = 0.0;
    // Σx²/n − mean², exactly 0 when all values of the group are equal (and
    // never below 0, whatever the rounding).
    double varianceP = 0.0;
    double varianceQ = 0.0;
    double covariance = 0.0; // Σpq/n − meanP·meanQ

    // The ellipse exists only when both variances are non-zero.
    bool hasEllipse() const { return varianceP != 0.0 && varianceQ != 0.0; }
};

// The groups of at least 3 rows among the runs of equal labels, in table
// order. `p`, `q` and `labels` are per row and of equal length.
std::vector<FormantGroup> groupRuns(const std::vector<double>& p, const std::vector<double>& q,
                                    const std::vector<std::string>& labels);

// The two-standard-deviation ellipse of a group in Bark: 200 points (x = q,
// y = p) at polar angles 0, 2π/200, … measured from the F1 direction.
// Semi-axes twice the square roots of the covariance eigenvalues; the major
// axis lies at θ = atan((d + r)/c) from the F1 direction, d = (v_q − v_p)/2,
// r = √(c² + d²). With c = 0 the major axis is along F1 when v_p ≥ v_q and
// along the second axis otherwise. Empty when the group has no ellipse or
// the ellipse is flat (all points on a line).
std::vector<PointD> ellipseBark(const FormantGroup& group);

// --- plot geometry, for a painter ----------------------------------------------

// Where a text's anchor point lies on the text's box.
enum class TextAnchor {
    TopLeft,    // the point is the box's top-left corner
    LeftCentre, // the point is the middle of the box's left edge
    TopCentre,  // the point is the middle of the box's top edge
};

struct PlotLine {
    PointD from;
    PointD to;
};

struct PlotText {
    std::string text;
    PointD at;
    TextAnchor anchor = TextAnchor::TopLeft;
    // Drawn with the plot's text attributes (point and mean labels) rather
    // than the platform's default ones (titles and tick labels).
    bool plotAttributes = false;
};

struct PlotTick {
    std::int32_t frequencyHz = 0;
    PlotLine line;
};

// An axis: its line, title, ticks and tick labels.
struct PlotAxis {
    PlotLine line;
    PlotText title;
    std::vector<PlotTick> ticks;
    std::vector<PlotText> labels;
};

// A circle given by the top-left corner of its bounding square (whole view
// units) and its diameter.
struct PlotCircle {
    PointD topLeft;
    double diameter = 0.0;
    bool filled = false; // means are stroked and filled, points only stroked
};

// Everything drawn for one group: its mean, mean label and ellipse.
struct PlotGroup {
    FormantGroup group;
    bool drawMean = false;
    PlotCircle mean;
    bool drawLabel = false;
    PlotText label;
    std::vector<PointD> ellipse; // closed polyline in whole view units; empty for none
};

// One plotted table row.
struct PlotPoint {
    std::size_t row = 0;
    PlotCircle circle;
    bool drawLabel = false;
    PlotText label;
};

// The picture of a formant table in a flipped view (y grows downward), as
// data: the painter fills white, then strokes every line, circle and
// polyline in black and draws the texts. Coordinates described as whole
// view units are cut toward zero.
struct PlotGeometry {
    double verticalPxPerBark = 0.0;   // 48·s·m
    double horizontalPxPerBark = 0.0; // 32·s·m
    double f1AxisX = 0.0;             // right − 100·s
    double secondAxisY = 0.0;         // top + 50·s
    PlotAxis f1Axis;
    PlotAxis secondAxis;
    std::vector<PlotPoint> points; // empty unless points are drawn
    std::vector<PlotGroup> groups; // empty unless ellipses are drawn

    // View coordinates of a frequency on each axis (not cut).
    double yOfF1(std::int32_t hz) const;
    double xOfSecond(std::int32_t hz) const;
    double yOfBark(double bark) const;
    double xOfBark(double bark) const;

    // The part of yOfBark/xOfBark that puts 200 Hz on the second axis and
    // 400 Hz on the F1 axis.
    double yOffset = 0.0;
    double xOffset = 0.0;
};

// Axis limits above this are drawn as this, which keeps the tick count
// bounded whatever a caller stores in the limits.
constexpr std::int32_t kMaxPlotLimitHz = 100000;

// The picture of `table` for the drawing rectangle `bounds`, scale `s`,
// plot type (0 F1/F2, 1 F1/F2', 2 F1/F3) and layout flag `m` (1 on screen).
// The F1 axis runs down from the crossing of the axes to the F1 limit, the
// second axis left to its limit (at least to their first tick frequencies).
PlotGeometry PlotData(const FormantTable& table, const Rect& bounds, double s,
                      std::int32_t plotType, std::int32_t m);

} // namespace phonaxis
