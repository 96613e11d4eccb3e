#include "cli/CliSpectrogramPicture.h"

#include "cli/CliCommands.h"
#include "cli/CliPicture.h"
#include "display/GraphAxes.h"
#include "display/SpectrogramGraph.h"
#include "document/FileIO.h"
#include "document/MyDocument.h"
#include "windows/SpectrogramAnalysis.h"

#include <QPainter>

#include <ostream>

namespace phonaxis::cli {

int writeSpectrogramPicture(const Options& options, const MyDocument& document, bool selection,
                            GraphCaption caption, std::ostream& err,
                            const std::function<void()>& computed)
{
    // Told on every way out, at the latest.
    struct Computed {
        const std::function<void()>& tell;
        bool told = false;
        void operator()()
        {
            if (!told && tell) {
                told = true;
                tell();
            }
        }
        ~Computed() { (*this)(); }
    } done{computed};
    const QSize sizePx(options.widthPx.value_or(kGraphPictureWidthPx),
                       options.heightPx.value_or(kGraphPictureHeightPx));
    // The layout is measured in the picture's text size: fonts need the GUI
    // application from here on.
    const PictureApplication gui(fileExtension(*options.pngPath));
    if (!PictureApplication::usable()) {
        err << "phonaxis-cli: pictures cannot be drawn in this process (no GUI application)\n";
        return kExitFailure;
    }
    // The layout needs the label strip's presence, which the snapshot's
    // graph input decides from the document; an empty input gives it.
    SpectrogramGraphInput probe =
        spectrogramGraphInput(SpectrogramInput{}, nullptr, QImage(), document);
    const SpectrogramGraphLayout layout = probe.layout(sizePx);
    if (layout.columns() <= 0 || layout.rows() <= 0) {
        err << "phonaxis-cli: a picture of " << sizePx.width() << " x " << sizePx.height()
            << " pixels leaves no room for the spectrogram's image\n";
        return kExitUsage;
    }
    // The document stays unchanged until the command ends: its samples are
    // read in place.
    const SpectrogramInput input =
        SpectrogramInput::inPlace(document, selection, layout.columns(), layout.rows());
    const SpectrogramResult result = DoSpectrogram(input, nullptr);
    done();
    if (!result.m_bHaveSpectrogram) {
        err << "phonaxis-cli: no spectrogram could be computed for the picture\n";
        return kExitFailure;
    }
    SpectrogramGraphInput graph =
        spectrogramGraphInput(input, &result, spectrogramImage(result), document);
    caption.fromMs = input.startTime;
    caption.toMs = input.stopTime;
    graph.title = spectrogramGraphTitle(caption, graph.caption);
    return writeGraphPicture(
        *options.pngPath, sizePx,
        [&graph](QPainter& painter, QSize viewSizePx) {
            drawSpectrogramGraph(painter, viewSizePx, graph);
        },
        err);
}

} // namespace phonaxis::cli
