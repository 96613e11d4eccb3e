#include "log/FormantPlot.h"

#include "log/FormantTable.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <numbers>
#include <string_view>

namespace phonaxis {

namespace {

constexpr int kEllipsePoints = 200;
// Below this ratio of the eigenvalues (a minor axis under a millionth of the
// major) an ellipse is taken as flat.
constexpr double kFlatEigenvalueRatio = 1e-12;

// `value` cut toward zero, saturating at the int32 range (NaN gives 0), as a
// whole view coordinate.
double wholeUnits(double value)
{
    if (std::isnan(value)) {
        return 0.0;
    }
    constexpr double lowest = std::numeric_limits<std::int32_t>::min();
    constexpr double highest = std::numeric_limits<std::int32_t>::max();
    return std::clamp(std::trunc(value), lowest, highest);
}

PointD wholePoint(double x, double y)
{
    return PointD{wholeUnits(x), wholeUnits(y)};
}

// Variance Σx²/n − mean² of one coordinate over `rows`, exactly 0 for equal
// values.
double variance(const std::vector<double>& values, const std::vector<std::size_t>& rows,
                double mean)
{
    double low = values[rows.front()];
    double high = low;
    double sumSquares = 0.0;
    for (const std::size_t r : rows) {
        low = std::min(low, values[r]);
        high = std::max(high, values[r]);
        sumSquares += values[r] * values[r];
    }
    if (low == high) {
        // Σx²/n − mean² of equal values is rounding noise, not a spread.
        return 0.0;
    }
    return std::max(0.0, sumSquares / double(rows.size()) - mean * mean);
}

void fillStatistics(const std::vector<double>& p, const std::vector<double>& q, FormantGroup& g)
{
    double sumP = 0.0;
    double sumQ = 0.0;
    double sumPQ = 0.0;
    for (const std::size_t r : g.rows) {
        sumP += p[r];
        sumQ += q[r];
        sumPQ += p[r] * q[r];
    }
    const double n = double(g.rows.size());
    g.meanP = sumP / n;
    g.meanQ = sumQ / n;
    g.varianceP = variance(p, g.rows, g.meanP);
    g.varianceQ = variance(q, g.rows, g.meanQ);
    g.covariance = sumPQ / n - g.meanP * g.meanQ;
}

} // namespace

double HzToBark(std::int32_t hz)
{
    const double khz = double(hz) / 1000.0;
    const double ratio = khz / 7.5;
    return 13.0 * std::atan(0.76 * khz) + 3.5 * std::atan(ratio * ratio);
}

std::int32_t F2Prime(std::int32_t f1Hz, std::int32_t f2Hz, std::int32_t f3Hz)
{
    if (f3Hz == f1Hz) {
        return f2Hz;
    }
    // In double: the differences of two int32 values may not fit an int32.
    const double f1 = f1Hz;
    const double f2 = f2Hz;
    const double f3 = f3Hz;
    const double prime = f2 + 0.5 * (f3 - f2) * (f2 - f1) / (f3 - f1);
    return static_cast<std::int32_t>(wholeUnits(prime));
}

std::int32_t secondFormantHz(std::int32_t plotType, std::int32_t f1Hz, std::int32_t f2Hz,
                             std::int32_t f3Hz)
{
    switch (plotType) {
    case 0:
        return f2Hz;
    case 1:
        return F2Prime(f1Hz, f2Hz, f3Hz);
    default:
        return f3Hz;
    }
}

bool isUnlabelled(const std::string& label)
{
    return std::all_of(label.begin(), label.end(), [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
    });
}

std::vector<FormantGroup> groupByLabel(const std::vector<double>& p, const std::vector<double>& q,
                                       const std::vector<std::string>& labels)
{
    const std::size_t n = std::min({p.size(), q.size(), labels.size()});
    std::vector<FormantGroup> groups;
    std::map<std::string_view, std::size_t> groupOf;
    for (std::size_t r = 0; r < n; ++r) {
        if (isUnlabelled(labels[r])) {
            continue;
        }
        const auto [at, added] = groupOf.try_emplace(labels[r], groups.size());
        if (added) {
            groups.push_back(FormantGroup{labels[r], {}});
        }
        groups[at->second].rows.push_back(r);
    }
    std::erase_if(groups, [](const FormantGroup& g) { return g.rows.size() < 3; });
    for (FormantGroup& g : groups) {
        fillStatistics(p, q, g);
    }
    return groups;
}

std::vector<PointD> ellipseBark(const FormantGroup& group)
{
    if (!group.hasEllipse()) {
        return {};
    }
    const double vp = group.varianceP;
    const double vq = group.varianceQ;
    const double c = group.covariance;
    const double d = (vq - vp) / 2.0;
    const double r = std::sqrt(c * c + d * d);
    const double lambda1 = (vp + vq) / 2.0 + r;
    const double lambda2 = (vp + vq) / 2.0 - r;
    const double majorAxis = 2.0 * (lambda1 > 0.0 ? std::sqrt(lambda1) : 0.0);
    const double minorAxis = 2.0 * (lambda2 > 0.0 ? std::sqrt(lambda2) : 0.0);
    // Points on a line leave the minor eigenvalue at rounding noise; the polar
    // form then has no radius (0/0 along the major axis).
    if (!(lambda2 > lambda1 * kFlatEigenvalueRatio) || !std::isfinite(majorAxis)) {
        return {};
    }
    // Without covariance the axes lie along the coordinates; the larger
    // variance takes the major axis.
    const double theta = c != 0.0 ? std::atan((d + r) / c) : (vq > vp ? std::numbers::pi / 2 : 0.0);
    const double eccentricitySquared = 1.0 - (minorAxis * minorAxis) / (majorAxis * majorAxis);
    const double step = 2.0 * std::numbers::pi / kEllipsePoints;
    std::vector<PointD> points;
    points.reserve(kEllipsePoints);
    double phi = 0.0;
    for (int k = 0; k < kEllipsePoints; ++k) {
        const double cosine = std::cos(theta - phi);
        const double denominator = 1.0 - eccentricitySquared * cosine * cosine;
        const double rho = std::sqrt(minorAxis * minorAxis / denominator);
        points.push_back(
            PointD{group.meanQ + rho * std::sin(phi), group.meanP + rho * std::cos(phi)});
        if (denominator > 0.0) {
            phi += step;
        }
    }
    return points;
}

double PlotGeometry::yOfBark(double bark) const
{
    return yOffset + bark * verticalPxPerBark;
}

double PlotGeometry::xOfBark(double bark) const
{
    return xOffset - bark * horizontalPxPerBark;
}

double PlotGeometry::yOfF1(std::int32_t hz) const
{
    return yOfBark(HzToBark(hz));
}

double PlotGeometry::xOfSecond(std::int32_t hz) const
{
    return xOfBark(HzToBark(hz));
}

double PlotTextMetrics::widthOf(const std::string& text) const
{
    return width ? width(text) : 0.6 * lineHeight * double(text.size());
}

std::string f1AxisTitle()
{
    return "F1 (Hz)";
}

std::string secondAxisTitle(std::int32_t plotType)
{
    return plotType == 0 ? "F2 (Hz)" : plotType == 1 ? "F2' (Hz)" : "F3 (Hz)";
}

std::string chartCaption(const FormantTable& table, std::int32_t plotType, bool ellipses)
{
    const std::string& path = table.m_strFilePath;
    const std::size_t slash = path.find_last_of('/');
    const std::string name = path.empty()                ? std::string("Untitled")
                             : slash == std::string::npos ? path
                                                          : path.substr(slash + 1);
    const char* second = plotType == 0 ? "F2" : plotType == 1 ? "F2'" : "F3";
    std::string caption = name + " \u00b7 F1 against " + second + ", Bark scale";
    if (ellipses) {
        caption += " \u00b7 means and 2-SD ellipses by label";
    }
    return caption;
}

namespace {

// `text` cut at a character boundary and ended with "…" so that it is at
// most `room` wide (unchanged when it fits; empty when not even "…" does).
std::string fitted(const std::string& text, double room, const PlotTextMetrics& metrics)
{
    if (metrics.widthOf(text) <= room) {
        return text;
    }
    std::string cut = text;
    while (!cut.empty()) {
        // Drop the last character with all its UTF-8 bytes.
        unsigned char last = 0;
        do {
            last = static_cast<unsigned char>(cut.back());
            cut.pop_back();
        } while (!cut.empty() && (last & 0xC0) == 0x80);
        const std::string candidate = cut + "\u2026";
        if (metrics.widthOf(candidate) <= room) {
            return candidate;
        }
    }
    return {};
}

// The Bark span an axis shows: from its low end to its limit, widened to
// take `extra` (Bark values of means and ellipses), bounded to 0 Hz … the
// largest limit.
struct BarkSpan {
    double low = 0.0;
    double high = 0.0;
};

BarkSpan axisSpan(std::int32_t lowHz, std::int32_t limitHz, double extraLow, double extraHigh)
{
    BarkSpan span{HzToBark(lowHz), HzToBark(std::max(limitHz, lowHz + 100))};
    if (extraLow < extraHigh) {
        // A little room beyond the outermost ellipse, so that its line is
        // not drawn on the axis.
        const double pad = 0.02 * (span.high - span.low);
        span.low = std::min(span.low, extraLow - pad);
        span.high = std::max(span.high, extraHigh + pad);
    }
    span.low = std::max(span.low, 0.0);
    span.high = std::min(span.high, HzToBark(kMaxPlotLimitHz));
    return span;
}

// The tick frequencies: every 100 Hz inside the span.
std::vector<std::int32_t> tickFrequencies(const BarkSpan& span)
{
    std::vector<std::int32_t> ticks;
    for (std::int32_t f = 0; f <= kMaxPlotLimitHz; f += 100) {
        const double bark = HzToBark(f);
        if (bark > span.high + 1e-9) {
            break;
        }
        if (bark >= span.low - 1e-9) {
            ticks.push_back(f);
        }
    }
    return ticks;
}

// The smallest round label spacing at which no two labelled ticks are
// closer than `room(a, b)` view units apart; `position` gives a tick's view
// coordinate along the axis.
template <typename Position, typename Room>
std::int32_t labelSpacingHz(const std::vector<std::int32_t>& ticks, Position position, Room room)
{
    for (const std::int32_t step : {100, 200, 500, 1000, 2000, 5000, 10000}) {
        bool fits = true;
        std::int32_t previous = -1;
        for (const std::int32_t f : ticks) {
            if (f % step != 0) {
                continue;
            }
            if (previous >= 0 &&
                std::abs(position(f) - position(previous)) < room(previous, f)) {
                fits = false;
                break;
            }
            previous = f;
        }
        if (fits) {
            return step;
        }
    }
    return 20000;
}

} // namespace

PlotGeometry PlotData(const FormantTable& table, const Rect& bounds, std::int32_t plotType,
                      const PlotStyle& style)
{
    PlotGeometry g;
    const double s = style.lineScale > 0.0 ? style.lineScale : 1.0;
    g.lineScale = s;
    const PlotTextMetrics& metrics = style.text;
    const double textH = std::max(metrics.lineHeight, 1.0);
    const double gap = 0.4 * textH;
    const double tickLength = 5.0 * s;
    const double pad = 0.5 * textH;

    const bool usesF2Limit = plotType == 0 || plotType == 1;
    const std::int32_t f1Limit = std::min(table.GetF1(), kMaxPlotLimitHz);
    const std::int32_t secondLimit =
        std::min(usesF2Limit ? table.GetF2() : table.GetF3(), kMaxPlotLimitHz);

    // The rows in Bark, and the groups with their ellipses (in Bark), first:
    // the axes must take every mean and ellipse.
    const std::size_t rows = table.rowCount();
    const bool drawPoints = table.GetDrawData();
    const bool drawGroups = table.GetDrawellipse();
    std::vector<std::int32_t> f1Hz;
    std::vector<std::int32_t> secondHz;
    std::vector<double> p;
    std::vector<double> q;
    std::vector<std::string> labels;
    if (drawPoints || drawGroups) {
        for (std::size_t r = 0; r < rows; ++r) {
            const std::int32_t f1 = table.GetTableCellData(r, FormantTable::kColumnF1);
            const std::int32_t second =
                secondFormantHz(plotType, f1, table.GetTableCellData(r, FormantTable::kColumnF2),
                                table.GetTableCellData(r, FormantTable::kColumnF3));
            f1Hz.push_back(f1);
            secondHz.push_back(second);
            if (drawGroups) {
                p.push_back(HzToBark(f1));
                q.push_back(HzToBark(second));
                labels.push_back(table.GetTableCellStringData(r));
            }
        }
    }
    std::vector<FormantGroup> groups = drawGroups ? groupByLabel(p, q, labels)
                                                  : std::vector<FormantGroup>{};
    std::vector<std::vector<PointD>> ellipses;
    double pLow = std::numeric_limits<double>::infinity();
    double pHigh = -pLow;
    double qLow = pLow;
    double qHigh = -pLow;
    const auto take = [&](double pb, double qb) {
        if (std::isfinite(pb) && std::isfinite(qb)) {
            pLow = std::min(pLow, pb);
            pHigh = std::max(pHigh, pb);
            qLow = std::min(qLow, qb);
            qHigh = std::max(qHigh, qb);
        }
    };
    for (const FormantGroup& group : groups) {
        ellipses.push_back(ellipseBark(group));
        take(group.meanP, group.meanQ);
        for (const PointD& point : ellipses.back()) {
            take(point.y, point.x);
        }
    }
    const BarkSpan f1Span = axisSpan(200, f1Limit, pLow, pHigh);
    const BarkSpan secondSpan = axisSpan(400, secondLimit, qLow, qHigh);
    const std::vector<std::int32_t> f1Ticks = tickFrequencies(f1Span);
    const std::vector<std::int32_t> secondTicks = tickFrequencies(secondSpan);

    // Margins: above the plot the second axis's title and tick labels, to
    // its right the F1 axis's tick labels and (turned) title; left and below
    // room for half a tick label at the axes' far ends.
    double widestF1Label = 0.0;
    for (const std::int32_t f : f1Ticks) {
        widestF1Label = std::max(widestF1Label, metrics.widthOf(std::to_string(f)));
    }
    double widestSecondLabel = 0.0;
    for (const std::int32_t f : secondTicks) {
        widestSecondLabel = std::max(widestSecondLabel, metrics.widthOf(std::to_string(f)));
    }
    const double top = double(bounds.top) + pad + textH + gap + textH + gap + tickLength;
    const double right =
        double(bounds.right) - (tickLength + gap + widestF1Label + gap + textH + pad);
    const double left = double(bounds.left) + pad + widestSecondLabel / 2.0;
    // Below the plot: half of the F1 axis's last label, then the caption.
    const double bottom = double(bounds.bottom) - pad - textH - gap - textH / 2.0;
    g.plotArea = {left, top, std::max(right - left, 1.0), std::max(bottom - top, 1.0)};
    g.f1AxisX = g.plotArea.x + g.plotArea.width;
    g.secondAxisY = top;
    g.verticalPxPerBark = g.plotArea.height / (f1Span.high - f1Span.low);
    g.horizontalPxPerBark = g.plotArea.width / (secondSpan.high - secondSpan.low);
    g.yOffset = top - f1Span.low * g.verticalPxPerBark;
    g.xOffset = g.f1AxisX + secondSpan.low * g.horizontalPxPerBark;
    const double xa = g.f1AxisX;
    const double ya = g.secondAxisY;

    const std::string caption =
        fitted(chartCaption(table, plotType, drawGroups && !groups.empty()), g.plotArea.width,
               metrics);
    g.caption = {caption, {g.plotArea.x, double(bounds.bottom) - pad - textH},
                 TextAnchor::TopLeft, false, metrics.widthOf(caption), textH};

    // F1 axis, downward along the plot's right edge.
    g.f1Axis.line = {{xa, ya}, {xa, ya + g.plotArea.height}};
    const std::string f1Title = f1AxisTitle();
    g.f1Axis.title = {f1Title,
                      {double(bounds.right) - pad - textH, ya + g.plotArea.height / 2.0},
                      TextAnchor::LeftCentre,
                      true,
                      textH,
                      metrics.widthOf(f1Title)};
    const std::int32_t f1Step = labelSpacingHz(
        f1Ticks, [&](std::int32_t f) { return g.yOfF1(f); },
        [&](std::int32_t, std::int32_t) { return textH * 1.15; });
    for (const std::int32_t f : f1Ticks) {
        const double y = g.yOfF1(f);
        g.f1Axis.ticks.push_back({f, {{xa, y}, {xa + tickLength, y}}});
        if (f % f1Step == 0) {
            const std::string text = std::to_string(f);
            g.f1Axis.labels.push_back({text, {xa + tickLength + gap, y}, TextAnchor::LeftCentre,
                                       false, metrics.widthOf(text), textH});
        }
    }

    // Second axis, leftward along the plot's top edge.
    g.secondAxis.line = {{xa, ya}, {g.plotArea.x, ya}};
    const std::string secondTitle = secondAxisTitle(plotType);
    const double secondTitleWidth = metrics.widthOf(secondTitle);
    g.secondAxis.title = {secondTitle,
                          {g.plotArea.x + g.plotArea.width / 2.0, double(bounds.top) + pad},
                          TextAnchor::TopCentre,
                          false,
                          secondTitleWidth,
                          textH};
    const std::int32_t secondStep = labelSpacingHz(
        secondTicks, [&](std::int32_t f) { return g.xOfSecond(f); },
        [&](std::int32_t a, std::int32_t b) {
            return (metrics.widthOf(std::to_string(a)) + metrics.widthOf(std::to_string(b))) /
                       2.0 +
                   textH;
        });
    const double labelY = ya - tickLength - gap - textH;
    for (const std::int32_t f : secondTicks) {
        const double x = g.xOfSecond(f);
        g.secondAxis.ticks.push_back({f, {{x, ya}, {x, ya - tickLength}}});
        if (f % secondStep == 0) {
            const std::string text = std::to_string(f);
            g.secondAxis.labels.push_back({text, {x, labelY}, TextAnchor::TopCentre, false,
                                           metrics.widthOf(text), textH});
        }
    }

    if (drawPoints) {
        for (std::size_t r = 0; r < rows; ++r) {
            PlotPoint point;
            point.row = r;
            point.circle = {wholePoint(g.xOfSecond(secondHz[r]) - 2.5 * s,
                                       g.yOfF1(f1Hz[r]) - 2.5 * s),
                            5.0 * s, false};
            point.drawLabel = table.GetDrawindividuallabels();
            if (point.drawLabel) {
                point.label.text = table.GetTableCellStringData(r);
                point.label.at = point.circle.topLeft;
                point.label.plotAttributes = true;
            }
            g.points.push_back(std::move(point));
        }
    }

    for (std::size_t i = 0; i < groups.size(); ++i) {
        PlotGroup drawn;
        const PointD mean = wholePoint(g.xOfBark(groups[i].meanQ) - 2.5 * s,
                                       g.yOfBark(groups[i].meanP) - 2.5 * s);
        drawn.drawMean = table.GetDrawmean();
        drawn.mean = {mean, 5.0 * s, true};
        drawn.drawLabel = table.GetDrawmeanlabel();
        drawn.label.text = groups[i].label;
        drawn.label.at = mean;
        drawn.label.plotAttributes = true;
        for (const PointD& point : ellipses[i]) {
            drawn.ellipse.push_back(wholePoint(g.xOfBark(point.x), g.yOfBark(point.y)));
        }
        drawn.group = std::move(groups[i]);
        g.groups.push_back(std::move(drawn));
    }
    return g;
}

} // namespace phonaxis
