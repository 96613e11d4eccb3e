#include "log/FormantPlot.h"

#include "log/FormantTable.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

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

// An axis limit as the ticks use it: bounded, then rounded down to 100 Hz.
std::int32_t tickLimitHz(std::int32_t limitHz)
{
    const std::int32_t bounded = std::min(limitHz, kMaxPlotLimitHz);
    return bounded / 100 * 100;
}

// Variance Σx²/n − mean² of one coordinate, exactly 0 for equal values.
double variance(const std::vector<double>& values, std::size_t first, std::size_t count,
                double mean)
{
    const auto begin = values.begin() + static_cast<std::ptrdiff_t>(first);
    const auto end = begin + static_cast<std::ptrdiff_t>(count);
    const auto [low, high] = std::minmax_element(begin, end);
    if (*low == *high) {
        // Σx²/n − mean² of equal values is rounding noise, not a spread.
        return 0.0;
    }
    double sumSquares = 0.0;
    for (auto it = begin; it != end; ++it) {
        sumSquares += *it * *it;
    }
    return std::max(0.0, sumSquares / double(count) - mean * mean);
}

FormantGroup groupStatistics(const std::vector<double>& p, const std::vector<double>& q,
                             const std::string& label, std::size_t first, std::size_t count)
{
    FormantGroup g;
    g.label = label;
    g.firstRow = first;
    g.rowCount = count;
    double sumP = 0.0;
    double sumQ = 0.0;
    double sumPQ = 0.0;
    for (std::size_t i = first; i < first + count; ++i) {
        sumP += p[i];
        sumQ += q[i];
        sumPQ += p[i] * q[i];
    }
    const double n = double(count);
    g.meanP = sumP / n;
    g.meanQ = sumQ / n;
    g.varianceP = variance(p, first, count, g.meanP);
    g.varianceQ = variance(q, first, count, g.meanQ);
    g.covariance = sumPQ / n - g.meanP * g.meanQ;
    return g;
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

std::vector<FormantGroup> groupRuns(const std::vector<double>& p, const std::vector<double>& q,
                                    const std::vector<std::string>& labels)
{
    std::vector<FormantGroup> groups;
    const std::size_t n = std::min({p.size(), q.size(), labels.size()});
    std::size_t first = 0;
    while (first < n) {
        std::size_t end = first + 1;
        while (end < n && labels[end] == labels[first]) {
            ++end;
        }
        if (end - first >= 3) {
            groups.push_back(groupStatistics(p, q, labels[first], first, end - first));
        }
        first = end;
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

PlotGeometry PlotData(const FormantTable& table, const Rect& bounds, double s,
                      std::int32_t plotType, std::int32_t m)
{
    PlotGeometry g;
    g.verticalPxPerBark = 48.0 * s * m;
    g.horizontalPxPerBark = 32.0 * s * m;
    g.f1AxisX = double(bounds.right) - 100.0 * s;
    g.secondAxisY = double(bounds.top) + 50.0 * s;
    // 200 Hz lies on the second axis and 400 Hz on the F1 axis, up to the
    // whole pixel cut from each offset.
    g.yOffset = g.secondAxisY - std::trunc(HzToBark(200) * g.verticalPxPerBark);
    g.xOffset = std::trunc(HzToBark(400) * g.horizontalPxPerBark) + g.f1AxisX;
    const double xa = g.f1AxisX;
    const double ya = g.secondAxisY;

    // F1 axis, downward.
    const std::int32_t f1Limit = tickLimitHz(table.GetF1());
    g.f1Axis.line = {{xa, ya}, {xa, g.yOfF1(std::max(f1Limit, 200))}};
    g.f1Axis.title = {"F1",
                      {xa + (m == 1 ? 50.0 : 150.0), g.yOfBark(HzToBark(500) + 0.5)},
                      TextAnchor::LeftCentre,
                      false};
    for (std::int32_t f = 200; f <= f1Limit; f += 100) {
        const double y = g.yOfF1(f);
        g.f1Axis.ticks.push_back({f, {{xa, y}, {xa + 5.0 * s, y}}});
        g.f1Axis.labels.push_back(
            {std::to_string(f), {xa + 5.0 * s + 5.0, y}, TextAnchor::LeftCentre, false});
    }

    // Second axis, leftward.
    const bool usesF2Limit = plotType == 0 || plotType == 1;
    const std::int32_t secondLimit = tickLimitHz(usesF2Limit ? table.GetF2() : table.GetF3());
    const char* title = plotType == 0 ? "F2  " : plotType == 1 ? "F2' " : "F3  ";
    g.secondAxis.line = {{xa, ya}, {g.xOfSecond(std::max(secondLimit, 400)), ya}};
    g.secondAxis.title = {title, {g.xOfSecond(1000), ya - 40.0 * s}, TextAnchor::TopLeft, false};
    for (std::int32_t f = 400; f <= secondLimit; f += 100) {
        const double x = g.xOfSecond(f);
        g.secondAxis.ticks.push_back({f, {{x, ya}, {x, ya - 5.0 * s}}});
        if (f % 500 == 0) {
            g.secondAxis.labels.push_back(
                {std::to_string(f), {x, ya - 20.0 * s}, TextAnchor::TopCentre, false});
        }
    }

    const std::size_t rows = table.rowCount();
    const bool drawPoints = table.GetDrawData();
    const bool drawGroups = table.GetDrawellipse();
    std::vector<double> p;
    std::vector<double> q;
    std::vector<std::string> labels;
    if (drawGroups) {
        p.reserve(rows);
        q.reserve(rows);
        labels.reserve(rows);
    }
    for (std::size_t r = 0; r < rows && (drawPoints || drawGroups); ++r) {
        const std::int32_t f1 = table.GetTableCellData(r, FormantTable::kColumnF1);
        const std::int32_t second =
            secondFormantHz(plotType, f1, table.GetTableCellData(r, FormantTable::kColumnF2),
                            table.GetTableCellData(r, FormantTable::kColumnF3));
        if (drawPoints) {
            PlotPoint point;
            point.row = r;
            point.circle = {wholePoint(g.xOfSecond(second), g.yOfF1(f1)), 5.0 * s, false};
            point.drawLabel = table.GetDrawindividuallabels();
            if (point.drawLabel) {
                point.label = {table.GetTableCellStringData(r), point.circle.topLeft,
                               TextAnchor::TopLeft, true};
            }
            g.points.push_back(std::move(point));
        }
        if (drawGroups) {
            p.push_back(HzToBark(f1));
            q.push_back(HzToBark(second));
            labels.push_back(table.GetTableCellStringData(r));
        }
    }

    for (FormantGroup& group : groupRuns(p, q, labels)) {
        PlotGroup drawn;
        const PointD mean = wholePoint(g.xOfBark(group.meanQ), g.yOfBark(group.meanP));
        drawn.drawMean = table.GetDrawmean();
        drawn.mean = {mean, 5.0 * s, true};
        drawn.drawLabel = table.GetDrawmeanlabel();
        drawn.label = {group.label, mean, TextAnchor::TopLeft, true};
        for (const PointD& point : ellipseBark(group)) {
            drawn.ellipse.push_back(wholePoint(g.xOfBark(point.x), g.yOfBark(point.y)));
        }
        drawn.group = std::move(group);
        g.groups.push_back(std::move(drawn));
    }
    return g;
}

} // namespace phonaxis
