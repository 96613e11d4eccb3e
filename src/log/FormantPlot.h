#pragma once

#include "model/Geometry.h"

#include <cstddef>
#include <cstdint>
#include <functional>
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

// The rows of one label wherever they stand in the table, with the
// statistics of their points in Bark: p = Bark(F1), q = Bark of the second
// coordinate.
struct FormantGroup {
    std::string label;
    std::vector<std::size_t> rows; // in table order
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

// True for a label that names no group: empty or only white space.
bool isUnlabelled(const std::string& label);

// One group per label that at least 3 rows carry, wherever those rows
// stand, in the order of each label's first row. Unlabelled rows form no
// group. `p`, `q` and `labels` are per row (the shortest length counts).
std::vector<FormantGroup> groupByLabel(const std::vector<double>& p, const std::vector<double>& q,
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
    // Turned a quarter left (read upward); the anchor and size are of the
    // turned box.
    bool vertical = false;
    // The box the text takes as laid out (axis texts only; 0 otherwise).
    double width = 0.0;
    double height = 0.0;
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

// How the painter measures text, in view units: the height of a line and
// the width of a text. Without a width function a text is taken as 0.6 of
// the line height per byte.
struct PlotTextMetrics {
    double lineHeight = 14.0;
    std::function<double(const std::string&)> width;

    double widthOf(const std::string& text) const;
};

// The look of a chart apart from its data: the text of axis titles and tick
// labels, and the scale of lines and circles (1 draws circles of 5 view
// units and ticks of 5).
struct PlotStyle {
    PlotTextMetrics text;
    double lineScale = 1.0;
};

// The picture of a formant table in a flipped view (y grows downward), as
// data: the painter fills white, then strokes every line, circle and
// polyline in black and draws the texts. Coordinates described as whole
// view units are cut toward zero.
//
// The axes are the top and right edges of the plot area: F1 grows downward
// from the top edge, the second coordinate leftward from the right edge.
// Each axis runs from its low end (200 Hz for F1, 400 Hz for the second
// coordinate) to the table's limit, extended where a group's mean or
// ellipse lies beyond them, so that every mean and ellipse lies inside the
// plot area. Tick labels, titles with their units and the margins they need
// lie outside it, inside the picture.
struct PlotGeometry {
    double verticalPxPerBark = 0.0;
    double horizontalPxPerBark = 0.0;
    double f1AxisX = 0.0;    // the plot area's right edge
    double secondAxisY = 0.0; // the plot area's top edge
    RectD plotArea;           // everything but the axes' ticks and texts
    PlotAxis f1Axis;
    PlotAxis secondAxis;
    // The caption line below the plot: the table's file name (or
    // "Untitled"), what is plotted against what, and the ellipses' meaning
    // when they are drawn; cut with "…" to the plot's width.
    PlotText caption;
    std::vector<PlotPoint> points; // empty unless points are drawn
    std::vector<PlotGroup> groups; // empty unless ellipses are drawn
    double lineScale = 1.0;        // as in PlotStyle
    int textPixelSize = 0;         // the axis text's size the painter chose; 0 unknown

    // View coordinates of a frequency on each axis (not cut).
    double yOfF1(std::int32_t hz) const;
    double xOfSecond(std::int32_t hz) const;
    double yOfBark(double bark) const;
    double xOfBark(double bark) const;

    // y = yOffset + Bark·verticalPxPerBark; x = xOffset − Bark·horizontalPxPerBark.
    double yOffset = 0.0;
    double xOffset = 0.0;
};

// Axis limits above this are drawn as this, which keeps the tick count
// bounded whatever a caller stores in the limits.
constexpr std::int32_t kMaxPlotLimitHz = 100000;

// The axis titles with their units: "F1 (Hz)", and "F2 (Hz)", "F2' (Hz)" or
// "F3 (Hz)" for plot types 0, 1 and 2.
std::string f1AxisTitle();
std::string secondAxisTitle(std::int32_t plotType);

// The caption's text before it is fitted: "NAME · F1 against F2, Bark
// scale" and, when ellipses are drawn, " · means and 2-SD ellipses by label".
std::string chartCaption(const FormantTable& table, std::int32_t plotType, bool ellipses);

// The picture of `table` in the drawing rectangle `bounds` for a plot type
// (0 F1/F2, 1 F1/F2', 2 F1/F3), its texts measured and its lines scaled by
// `style`. Ticks every 100 Hz; tick labels at the smallest round spacing
// (100, 200, 500, 1000, 2000 Hz, …) at which neighbours do not touch.
PlotGeometry PlotData(const FormantTable& table, const Rect& bounds, std::int32_t plotType,
                      const PlotStyle& style = {});

} // namespace phonaxis
