#pragma once

#include "cli/CliCommands.h"

#include <iosfwd>

namespace phonaxis::cli {

// phonaxis-cli formants TABLE.txt --png OUT [--plot-type N] [--width W --height H]
//
// Draws the vowel chart of a saved formant table as the plot window does
// (F1 against F2, F2' or F3 by --plot-type 0, 1 or 2; points, group means,
// ellipses and labels; the window's default axis limits) in a view of W × H
// pixels (default kFormantChartWidthPx × kFormantChartHeightPx) and writes
// it by OUT's extension: .png, .tif/.tiff or a vector .pdf or .svg. kExitOk;
// kExitUsage for a wrong command line or output name (nothing is written);
// kExitFailure when TABLE cannot be read or OUT cannot be written.
int formantsCommand(const Options& options, std::ostream& out, std::ostream& err);

} // namespace phonaxis::cli
