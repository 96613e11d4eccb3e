#pragma once

#include <functional>
#include <iosfwd>

namespace phonaxis {
class MyDocument;
struct GraphCaption;
} // namespace phonaxis

namespace phonaxis::cli {

struct Options;

// The picture of phonaxis-cli spectrogram --png OUT [--width W --height H]:
// the spectrogram window's whole picture (grey image, formant tracks, grids,
// waveform pane and label strip as the document's settings ask) in a view
// of W × H pixels (default kGraphPictureWidthPx × kGraphPictureHeightPx),
// its image computed for that view's image area as the window computes it:
// over the document's selection when `selection` is set, else the whole
// audio channel. Written by OUT's extension (.png, .tif/.tiff or .pdf).
// OUT and the size are checked beforehand (checkGraphPictureOptions).
// kExitOk, kExitUsage for a size that leaves no room for the image,
// kExitFailure when nothing can be computed or drawing or writing fails.
// `computed`, when given, is called once the image has been computed (or
// cannot be), before it is drawn and written: what else the command has to
// compute can then run beside the drawing and the encoding, which use one
// thread. The caption line names what `caption` says (file, channel; the
// stretch is the image's) and the analysis.
int writeSpectrogramPicture(const Options& options, const MyDocument& document, bool selection,
                            GraphCaption caption, std::ostream& err,
                            const std::function<void()>& computed = {});

} // namespace phonaxis::cli
