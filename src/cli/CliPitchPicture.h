#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace phonaxis {
class Channels;
class MyDocument;
class PitchAnalysis;
struct GraphCaption;
} // namespace phonaxis

namespace phonaxis::cli {

struct Options;

// The picture of phonaxis-cli pitch --png OUT [--width W --height H]: the
// pitch window's graph (track, intensity, waveform and labels as the
// document's settings ask) in a view of W × H pixels (default
// kGraphPictureWidthPx × kGraphPictureHeightPx), over --from … --to when
// given, else the whole channel, written by OUT's extension (.png,
// .tif/.tiff or .pdf).

// Draws and writes the picture of `analysis`, whose track was computed from
// `audio`, a channel of `document` (its intensity track drawn when it has
// one). The analysis' page is set to the picture's stretch. kExitOk,
// kExitUsage for a size phonaxis-cli does not draw, kExitFailure when
// drawing or writing fails. The caption line names what `caption` says
// (file, channel; the stretch is the picture's) and the analysis.
int writePitchPicture(const Options& options, const Channels& audio, PitchAnalysis& analysis,
                      const MyDocument& document, GraphCaption caption, std::ostream& err);

} // namespace phonaxis::cli
