#include "windows/ui/AnalysisWindowPictures.h"

#include "document/MyDocument.h"
#include "document/Prompts.h"

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
    const SavePanelRequest request = pictureSavePanel(
        (std::filesystem::path(MyDocument::homeDirectory()) / "Documents").string());
    const std::optional<std::string> path = context.prompts->savePanel(request);
    if (!path) {
        return;
    }
    std::string error;
    if (!writePictureFile(*path, viewSizePx, draw, error)) {
        context.prompts->alert(
            "Error in save",
            std::string("The picture of the ") + what + " could not be saved. " + error, "OK");
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
