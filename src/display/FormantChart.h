#pragma once

// The vowel chart of a formant table on a QPainter: the plot window's view,
// its picture export and printing, and `phonaxis-cli formants` all draw
// through here. The geometry (axes, ticks, points, group means, ellipses)
// is the core's PlotData; this file only paints it.

#include "display/PictureExport.h"
#include "log/FormantPlot.h"

#include <QColor>
#include <QFont>
#include <QSize>

#include <cstdint>

class QPainter;

namespace phonaxis {

class FormantTable;

// The size of a chart picture when none is asked for (the view's first
// size too): room for the axes at their widest limits and their labels.
inline constexpr int kFormantChartWidthPx = 640;
inline constexpr int kFormantChartHeightPx = 560;

// The text attributes of point and mean labels (axis titles, tick labels
// and the caption use the default font family, in black). Both grow with
// the picture: the axis text is about 13 pixels at the default size and
// scales with √(width·height); labels keep their size relative to it.
struct FormantChartText {
    QFont font;
    QColor color = Qt::black;
};

// "Arial" at 14 points, black.
FormantChartText defaultFormantChartText();

// The chart of `table` in a view of `viewSizePx`: the drawing rectangle
// (0, 0, height, width), `plotType` (0 F1/F2, 1 F1/F2', 2 F1/F3), its axis
// texts measured in the font chosen for that size. Sides beyond the 16-bit
// rectangle are cut. Needs a GUI application (fonts).
PlotGeometry formantChartGeometry(const FormantTable& table, QSize viewSizePx,
                                  std::int32_t plotType);

// Paints `geometry` in view pixels: lines, circles and ellipses stroked in
// black (group means also filled), axis titles, tick labels and the caption
// in the font the geometry was measured in, point and mean labels with
// `text`; points are cut at the plot area. Does not fill the background.
void drawFormantChart(QPainter& painter, const PlotGeometry& geometry,
                      const FormantChartText& text);

// A drawing of the chart for pictures (renderGraph, writeGraphPdf,
// printGraph): the geometry for the picture's size, then drawFormantChart.
// `table` must outlive the drawing.
GraphDrawing formantChartDrawing(const FormantTable& table, std::int32_t plotType,
                                 const FormantChartText& text);

} // namespace phonaxis
