// The main window's label files: labels imported from and exported to
// TextGrid files.

#include "app/MainWindowController.h"

#include "app/LabelDialog.h"
#include "app/LabelExportSheet.h"
#include "app/LabelImportSheet.h"
#include "display/MainViewPane.h"
#include "document/EditSession.h"
#include "document/MyDocument.h"
#include "document/TextGrid.h"

#include <QFileInfo>

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace phonaxis {

namespace {

constexpr const char* kTextGridType = "TextGrid";
constexpr const char* kTextGridFiles = "TextGrid files";
constexpr const char* kNotImported = "The labels could not be imported.";
constexpr const char* kNotExported = "The labels could not be exported.";

} // namespace

std::string MainWindowController::labelFileFolder() const
{
    return m_filePath.isEmpty() ? MyDocument::homeDirectory()
                                : QFileInfo(m_filePath).absolutePath().toStdString();
}

void MainWindowController::fileImportLabels()
{
    if (!isCommandEnabled("_fileImportLabels:")) {
        return;
    }
    OpenPanelRequest request;
    request.types = {kTextGridType};
    request.typeName = kTextGridFiles;
    request.allFiles = true;
    request.directory = labelFileFolder();
    const std::vector<std::string> paths = m_prompts->openPanel(request);
    if (paths.empty()) {
        return;
    }
    std::string error;
    const std::optional<TextGrid> grid = readTextGridFile(paths.front(), error);
    if (!grid) {
        m_prompts->alert(kNotImported, error, "OK");
        return;
    }
    if (grid->tiers.empty()) {
        m_prompts->alert(kNotImported, "The file holds no tiers.", "OK");
        return;
    }

    // A box recording that arrives while the sheet is open replaces the
    // document: the choices made were about the one shown before.
    const MyDocument* asked = m_document.get();
    const int channelCount = m_document->channelsInUse();
    std::vector<std::string> titles;
    for (int index = 0; index < channelCount; ++index) {
        titles.push_back(m_document->getChannel(index).GetTitle());
    }
    LabelImportSheet sheet(*grid, titles, m_document->audioChannelIndex(),
                           QFileInfo(QString::fromStdString(paths.front())).fileName(), this);
    if (m_sheetRunner(sheet) != QDialog::Accepted || m_document.get() != asked ||
        m_document->channelsInUse() != channelCount || !isCommandEnabled("_fileImportLabels:")) {
        return;
    }
    const std::vector<TierToChannel> assignments = sheet.assignments();
    if (assignments.empty()) {
        return;
    }
    if (sheet.chosenLabelCount() == 0) {
        m_prompts->alert("No labels were imported.",
                         "The tiers chosen hold no points and no intervals with a text.", "OK");
        return;
    }
    if (!m_editSession->backUpLabels()) {
        return;
    }
    const QtTextMeasurer measurer;
    importTextGridLabels(*m_document, *grid, assignments, measurer);
    m_document->setDirty();
    mainView()->redraw();
    afterViewChange();
}

void MainWindowController::fileExportLabels()
{
    if (!isCommandEnabled("_fileExportLabels:")) {
        return;
    }
    LabelExportSheet sheet(this);
    if (m_sheetRunner(sheet) != QDialog::Accepted) {
        return;
    }
    SavePanelRequest request;
    request.prompt = "Export";
    request.requiredType = kTextGridType;
    request.typeName = kTextGridFiles;
    request.allFiles = true;
    request.proposedName =
        (QFileInfo(displayName()).completeBaseName() + QStringLiteral(".TextGrid")).toStdString();
    request.directory = labelFileFolder();
    const std::optional<std::string> path = m_prompts->savePanel(request);
    if (!path || !isCommandEnabled("_fileExportLabels:")) {
        return;
    }
    // The recording itself is never replaced by its labels.
    std::error_code ignored;
    if (!m_filePath.isEmpty() &&
        std::filesystem::equivalent(*path, m_filePath.toStdString(), ignored)) {
        m_prompts->alert(kNotExported,
                         "The labels cannot replace the recording they belong to. Choose "
                         "another name.",
                         "OK");
        return;
    }
    std::string error;
    if (!writeTextGridFile(textGridFromDocument(*m_document, sheet.kind()), *path, sheet.form(),
                           sheet.encoding(), error)) {
        m_prompts->alert(kNotExported, error, "OK");
    }
}

} // namespace phonaxis
