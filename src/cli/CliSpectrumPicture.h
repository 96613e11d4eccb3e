#pragma once

#include <iosfwd>
#include <optional>
#include <string>

namespace phonaxis {
class MyDocument;
class SpectrumAnalysis;
struct GraphCaption;
} // namespace phonaxis

namespace phonaxis::cli {

// The spectrum window's graph of `spectrum` (grids, spectrum, envelope and
// the formant text, drawn as `document`'s FFT/LPC settings ask) written to
// OUT by its extension, in a view of W × H pixels (default
// kGraphPictureWidthPx × kGraphPictureHeightPx). Status and messages as
// writeGraphPicture. The caption line names what `caption` says (file,
// channel, time or stretch) and the analysis.
int writeSpectrumPicture(const std::string& outPath, std::optional<int> widthPx,
                         std::optional<int> heightPx, const SpectrumAnalysis& spectrum,
                         const MyDocument& document, const GraphCaption& caption,
                         std::ostream& err);

} // namespace phonaxis::cli
