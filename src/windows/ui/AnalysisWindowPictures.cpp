#include "windows/ui/AnalysisWindowPictures.h"

#include "document/MyDocument.h"
#include "document/Prompts.h"

#include <QImage>
#include <QPrintDialog>
#include <QPrinter>

#include <filesystem>
#include <string>

namespace phonaxis {

void saveAnalysisPicture(const AnalysisWindowContext& context, QSize viewSizePx,
                         const GraphDrawing& draw, const char* what)
{
    if (context.prompts == nullptr) {
        return;
    }
    SavePanelRequest request;
    request.requiredType = "tif";
    request.proposedName = "pict.tif";
    request.directory = (std::filesystem::path(MyDocument::homeDirectory()) / "Documents").string();
    const std::optional<std::string> path = context.prompts->savePanel(request);
    if (!path) {
        return;
    }
    const QImage picture = renderGraph(viewSizePx, draw);
    std::string error;
    if (picture.isNull()) {
        context.prompts->alert("Error in save",
                               std::string("The picture of the ") + what + " could not be drawn.",
                               "OK");
    } else if (!writeTiff(picture, *path, error)) {
        context.prompts->alert("Error in save", error, "OK");
    }
}

void printAnalysisGraph(const AnalysisWindowContext& context, QWidget* window, QSize viewSizePx,
                        const GraphDrawing& draw)
{
    QPrinter printer(QPrinter::HighResolution);
    const bool accepted = context.printSetup
                              ? context.printSetup(printer)
                              : QPrintDialog(&printer, window).exec() == QDialog::Accepted;
    if (!accepted) {
        return;
    }
    if (!printGraph(printer, viewSizePx, draw) && context.prompts != nullptr) {
        context.prompts->alert("Printing failed.", "The printer could not print the page.", "OK");
    }
}

} // namespace phonaxis
