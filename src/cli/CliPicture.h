#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace phonaxis::cli {

// phonaxis-cli picture FILE --out OUT [--from MS --to MS] [--width W --height H]
//                       [--aiff-channel K]
//
// Draws the main view of FILE as the picture export does (every shown
// channel in its strip on white, no cursor or selection) over the whole
// recording or from MS to MS, in a view of W × H pixels (default 1600 × 900),
// and writes it by OUT's extension: .png, .tif/.tiff or .pdf (vector).
// `args` are the words after "picture". Returns kExitOk, kExitFailure when
// FILE cannot be read or OUT cannot be written, or kExitUsage for a wrong
// command line (told in one line on `err`). Runs without a display: it
// starts its own Qt application on the offscreen platform unless the process
// already has one or names another platform.
int pictureCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace phonaxis::cli
