#pragma once

#include "display/PictureExport.h"
#include "windows/ui/AnalysisWindowContext.h"

#include <QSize>

class QWidget;

namespace phonaxis {

// Save as Picture… of an analysis window: the picture save panel ("pict.tif"
// in ~/Documents; PNG, PDF, TIFF or SVG), then the graph drawn by `draw` in
// a view of `viewSizePx` written there in the type the name's extension
// says. A failure is told with an alert naming `what` ("spectrum", "pitch
// track"); Cancel does nothing.
void saveAnalysisPicture(const AnalysisWindowContext& context, QSize viewSizePx,
                         const GraphDrawing& draw, const char* what);

// Print… of an analysis window: the printer set up by the context's print
// setup, or by a print dialog modal to `window`, then the graph on one
// page. A printer that cannot print is told with an alert.
void printAnalysisGraph(const AnalysisWindowContext& context, QWidget* window, QSize viewSizePx,
                        const GraphDrawing& draw);

} // namespace phonaxis
