#include "cli/CliSpectrumPicture.h"

#include "cli/CliPicture.h"
#include "display/GraphAxes.h"
#include "display/SpectrumGraph.h"
#include "document/MyDocument.h"
#include "windows/SpectrumAnalysis.h"

namespace phonaxis::cli {

int writeSpectrumPicture(const std::string& outPath, std::optional<int> widthPx,
                         std::optional<int> heightPx, const SpectrumAnalysis& spectrum,
                         const MyDocument& document, const GraphCaption& caption,
                         std::ostream& err)
{
    SpectrumGraphStyle style = SpectrumGraphStyle::fromDocument(document);
    style.caption = spectrumGraphCaption(caption, spectrum);
    const QSize sizePx(widthPx.value_or(kGraphPictureWidthPx),
                       heightPx.value_or(kGraphPictureHeightPx));
    return writeGraphPicture(
        outPath, sizePx,
        [&](QPainter& painter, QSize size) { drawSpectrumGraph(painter, size, spectrum, style); },
        err);
}

} // namespace phonaxis::cli
