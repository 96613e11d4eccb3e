#include "app/MainWindowController.h"

#include "app/Application.h"
#include "app/Commands.h"
#include "app/LabelDialog.h"
#include "app/LabelViewWindow.h"
#include "app/LogController.h"
#include "app/QtPrompts.h"
#include "app/StatusWindowController.h"
#include "audio/ui/SoundSession.h"
#include "display/MainViewModel.h"
#include "display/MainViewPane.h"
#include "display/MainViewRenderer.h"
#include "display/MainViewScroller.h"
#include "display/MenuCommands.h"
#include "display/PictureExport.h"
#include "document/EditClipboard.h"
#include "document/EditSession.h"
#include "document/FileIO.h"
#include "document/MyDocument.h"
#include "document/RecordingSignature.h"

#include <QAction>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPrintDialog>
#include <QPrinter>
#include <QUrl>

#include <algorithm>
#include <filesystem>

namespace phonaxis {

namespace {

constexpr const char* kSaveError = "Error in save";
constexpr const char* kNotSaved = "File did not save.";

// "a", "a and b", "a, b and c".
std::string listedInWords(const std::vector<std::string>& items)
{
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) {
            text += i + 1 == items.size() ? " and " : ", ";
        }
        text += items[i];
    }
    return text;
}

// Whether a channel in use has a label.
bool hasLabels(const MyDocument& document)
{
    for (int index = 0; index < document.channelsInUse(); ++index) {
        if (!document.getChannel(index).m_pArrayLabels.empty()) {
            return true;
        }
    }
    return false;
}

} // namespace

std::string saveTypeForPath(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("wav") || suffix == QLatin1String("aiff") ||
        suffix == QLatin1String("aif")) {
        return suffix.toStdString();
    }
    return "pmf";
}

MainWindowController::MainWindowController(Application& application, Prompts* prompts)
    : m_application(application)
{
    setObjectName("MyDocument");
    setAttribute(Qt::WA_DeleteOnClose);
    setAcceptDrops(true);
    if (prompts == nullptr) {
        m_ownPrompts = std::make_unique<QtPrompts>(this);
        prompts = m_ownPrompts.get();
    }
    m_prompts = prompts;
    m_document = std::make_unique<MyDocument>(*m_prompts, application.settings());

    _idMainViewPane = new MainViewScroller(this);
    _idMainViewPane->setObjectName("_idMainViewPane");
    setCentralWidget(_idMainViewPane);
    MainViewPane* pane = _idMainViewPane->pane();
    pane->onStatus = [this](const StatusReport& report) { reportStatus(report); };
    pane->onLabelDialog = [this](const LabelDialogRequest& request) { showLabelDialog(request); };
    pane->onStateChanged = [this] { afterViewChange(); };
    pane->onPageChanged = [this] { _idMainViewPane->followModel(); };

    attachDocument();
    buildMenus();
    updateTitle();
    resize(900, 600);
}

MainWindowController::~MainWindowController()
{
    releaseBoxPlayer();
    closeAnalysisWindows();
    m_application.abandonLabelDialog(this);
    // The pane refers to the model; detach it before the model goes.
    if (_idMainViewPane != nullptr) {
        _idMainViewPane->pane()->setModel(nullptr);
    }
}

MainViewPane* MainWindowController::mainView() const
{
    return _idMainViewPane->pane();
}

void MainWindowController::attachDocument()
{
    // The label dialog works on the model being replaced.
    m_application.abandonLabelDialog(this);
    mainView()->setModel(nullptr);
    m_model = std::make_unique<MainViewModel>(*m_document);
    const std::string name = displayName().toStdString();
    m_editSession = std::make_unique<EditSession>(*m_document, *m_prompts, EditClipboard::instance(),
                                                  name, m_application.globals().appPathTemp.empty()
                                                      ? EditSession::applicationTempFolder()
                                                      : std::filesystem::path(
                                                            m_application.globals().appPathTemp));
    m_editSession->setLabelWindowRebuild([this] { updateLabelView(); });
    m_editSession->setSmoothingAction([this] { smoothChannels(); });
    mainView()->setModel(m_model.get());
    mainView()->documentChanged();
    _idMainViewPane->followModel();
}

QString MainWindowController::displayName() const
{
    return m_filePath.isEmpty() ? tr("Untitled") : QFileInfo(m_filePath).fileName();
}

bool MainWindowController::isUntouchedUntitled() const
{
    return m_filePath.isEmpty() && !m_document->m_bHaveData && m_document->changeCount() == 0 &&
           !m_model->m_bRecording && isVisible();
}

void MainWindowController::updateTitle()
{
    setWindowTitle(displayName() + QStringLiteral("[*]"));
    setWindowModified(m_document->changeCount() > 0);
    if (_plabelView) {
        _plabelView->setWindowTitle(QStringLiteral("Labels:: ") + displayName());
    }
}

bool MainWindowController::readFile(const QString& path, std::string& error)
{
    FileContents contents;
    if (!contents.open(path.toStdString(), kRecordingFile, error) && !contents.declined()) {
        return false;
    }
    // Read into a fresh document: nothing of the current one (labels,
    // channels the file lacks) may survive a revert, and a decline leaves
    // the current one untouched.
    auto fresh = std::make_unique<MyDocument>(*m_prompts, m_application.settings());
    const std::string type = QFileInfo(path).suffix().toLower().toStdString();
    if (contents.declined() || !fresh->readFromData(contents.bytes(), type)) {
        error = "The file is not a recording this application can read.";
        return false;
    }
    fresh->clearChangeCount();
    adoptDocument(std::move(fresh), QFileInfo(path).absoluteFilePath());
    return true;
}

void MainWindowController::adoptDocument(std::unique_ptr<MyDocument> fresh, const QString& path)
{
    // Everything that refers to the old document lets go before it goes.
    if (m_sound != nullptr) {
        m_sound->stopPlaying();
    }
    closeAnalysisWindows();
    m_application.abandonLabelDialog(this);
    mainView()->setModel(nullptr);
    m_editSession.reset();
    m_model.reset();
    m_document = std::move(fresh);
    m_filePath = path;
    attachDocument();
    updateTitle();
    updateLabelView();
    refreshCommands();
    // The status window lists the channels just read.
    m_application.documentActivated(this);
}

// --- menus ---------------------------------------------------------------------

void MainWindowController::buildMenus()
{
    for (const MenuSpec& menuSpec : documentWindowMenus()) {
        QMenu* menu = addNamedMenu(*menuBar(), menuSpec.title);
        for (const CommandSpec& command : menuSpec.commands) {
            if (command.name == nullptr) {
                menu->addSeparator();
                continue;
            }
            QAction* action = makeMenuAction(command.name, this);
            menu->addAction(action);
            connectCommand(action, command.name);
            if (std::string_view(command.name) == "openDocument:") {
                m_recentMenu = menu->addMenu(tr("Open R&ecent"));
                m_recentMenu->setObjectName("Open Recent");
                connect(m_recentMenu, &QMenu::aboutToShow, this, &MainWindowController::fillRecentMenu);
            }
        }
        connect(menu, &QMenu::aboutToShow, this, [this, menu] { updateMenu(menu); });
    }
    refreshCommands();
}

void MainWindowController::connectCommand(QAction* action, const char* name)
{
    const std::string command = name;
    auto on = [this, action](auto slot) { connect(action, &QAction::triggered, this, slot); };
    if (command == "newDocument:") {
        connect(action, &QAction::triggered, &m_application, [this] { m_application.newDocument(); });
    } else if (command == "openDocument:") {
        connect(action, &QAction::triggered, &m_application, [this] { m_application.openDocument(); });
    } else if (command == "_PlotFormantOpen:") {
        connect(action, &QAction::triggered, &m_application,
                [this] { m_application.PlotFormantOpen(); });
    } else if (command == "performClose:") {
        on(&QWidget::close);
    } else if (command == "terminate:") {
        connect(action, &QAction::triggered, &m_application, [this] { m_application.terminate(); },
                Qt::QueuedConnection);
    } else if (command == "saveDocument:") {
        on(&MainWindowController::saveDocument);
    } else if (command == "saveDocumentAs:") {
        on(&MainWindowController::saveDocumentAs);
    } else if (command == "_fileSaveCopyAs:") {
        on(&MainWindowController::fileSaveCopyAs);
    } else if (command == "_fileSaveSelectionAs:") {
        on(&MainWindowController::fileSaveSelectionAs);
    } else if (command == "_fileExportChannelAs:") {
        on(&MainWindowController::fileExportChannelAs);
    } else if (command == "_fileExportChannelSelectionAs:") {
        on(&MainWindowController::fileExportChannelSelectionAs);
    } else if (command == "_fileImportLabels:") {
        on(&MainWindowController::fileImportLabels);
    } else if (command == "_fileExportLabels:") {
        on(&MainWindowController::fileExportLabels);
    } else if (command == "revertDocumentToSaved:") {
        on(&MainWindowController::revertDocumentToSaved);
    } else if (command == "_FileSaveAsPICT:") {
        on(&MainWindowController::FileSaveAsPICT);
    } else if (command == "printDocument:") {
        on(&MainWindowController::printDocument);
    } else if (command == "_EditUndo:") {
        on(&MainWindowController::EditUndo);
    } else if (command == "_EditCut:") {
        on(&MainWindowController::EditCut);
    } else if (command == "_EditCopy:") {
        on(&MainWindowController::EditCopy);
    } else if (command == "_EditPaste:") {
        on(&MainWindowController::EditPaste);
    } else if (command == "_EditClear:") {
        on(&MainWindowController::EditClear);
    } else if (command == "_EditSelectAll:") {
        on(&MainWindowController::EditSelectAll);
    } else if (command == "_EditSelectWindow:") {
        on(&MainWindowController::EditSelectWindow);
    } else if (command == "_ZoomUndo:") {
        on(&MainWindowController::ZoomUndo);
    } else if (command == "_ZoomIn:") {
        on(&MainWindowController::ZoomIn);
    } else if (command == "_ZoomOut:") {
        on(&MainWindowController::ZoomOut);
    } else if (command == "_ZoomSelection:") {
        on(&MainWindowController::ZoomSelection);
    } else if (command == "_ZoomCursor:") {
        on(&MainWindowController::ZoomCursor);
    } else if (command == "_ZoomHome:") {
        on(&MainWindowController::ZoomHome);
    } else if (command == "_ChannelsSetReferenceAll:") {
        on(&MainWindowController::ChannelsSetReferenceAll);
    } else if (command == "_ChannelsSetfor:") {
        on(&MainWindowController::ChannelsSetfor);
    } else if (command == "_ChannelsSetReferenceAllZero:") {
        on(&MainWindowController::ChannelsSetReferenceAllZero);
    } else if (command == "_LabelMode:") {
        on(&MainWindowController::LabelMode);
    } else if (command == "_LabelView:") {
        on(&MainWindowController::LabelView);
    } else if (command == "_OptionsDisplay:") {
        on(&MainWindowController::OptionsDisplay);
    } else if (command == "_OptionsZoom:") {
        on(&MainWindowController::OptionsZoom);
    } else if (command == "_OptionsFFTLPC:") {
        on(&MainWindowController::OptionsFFTLPC);
    } else if (command == "_OptionsSpectrogram:") {
        on(&MainWindowController::OptionsSpectrogram);
    } else if (command == "_OptionsPitch:") {
        on(&MainWindowController::OptionsPitch);
    } else if (command == "_OptionsCalibration:") {
        on(&MainWindowController::OptionsCalibration);
    } else if (command == "_OptionsIntensitySmooth:") {
        on(&MainWindowController::OptionsIntensitySmooth);
    } else if (command == "_OptionsEGG:") {
        on(&MainWindowController::OptionsEGG);
    } else if (command == "_OptionsLog:") {
        on(&MainWindowController::OptionsLog);
    } else if (command == "_LogNew:") {
        on(&MainWindowController::LogNew);
    } else if (command == "_LogOpen:") {
        on(&MainWindowController::LogOpen);
    } else if (command == "_LogMarker:") {
        on(&MainWindowController::LogMarker);
    } else if (command == "_LogDuration:") {
        on(&MainWindowController::LogDuration);
    } else if (command == "_LogDataSelection:") {
        on(&MainWindowController::LogDataSelection);
    } else if (command == "_LogEntereggatmarker:") {
        on(&MainWindowController::LogEntereggatmarker);
    } else if (command == "_LogEntereggselection:") {
        on(&MainWindowController::LogEntereggselection);
    } else if (command == "_LogEntereggall:") {
        on(&MainWindowController::LogEntereggall);
    } else if (command == "_EGGChannelSelect:") {
        on(&MainWindowController::EGGChannelSelect);
    } else if (command == "_AnalysisChannelSelect:") {
        on(&MainWindowController::AnalysisChannelSelect);
    } else if (command == "_EggAnalysisall:") {
        on(&MainWindowController::EggAnalysisall);
    } else if (command == "_fileSaveConfiguration:") {
        on(&MainWindowController::fileSaveConfiguration);
    } else if (command == "_fileLoadConfiguration:") {
        on(&MainWindowController::fileLoadConfiguration);
    } else if (command == "_fileRevertToDefaultConfiguration:") {
        on(&MainWindowController::fileRevertToDefaultConfiguration);
    } else if (command == "_AnalysisFFT:") {
        on(&MainWindowController::AnalysisFFT);
    } else if (command == "_AnalysisFFTSelection:") {
        on(&MainWindowController::AnalysisFFTSelection);
    } else if (command == "_AnalysisIntensity:") {
        on(&MainWindowController::AnalysisIntensity);
    } else if (command == "_AnalysisSmooth:") {
        on(&MainWindowController::AnalysisSmooth);
    } else if (command == "_AnalysisPitch:") {
        on(&MainWindowController::AnalysisPitch);
    } else if (command == "_AnalysisVoiceReport:") {
        on(&MainWindowController::AnalysisVoiceReport);
    } else if (command == "_AnalysisSpectrogram:") {
        on(&MainWindowController::AnalysisSpectrogram);
    } else if (command == "_AnalysisSpectrogramSelection:") {
        on(&MainWindowController::AnalysisSpectrogramSelection);
    } else if (command == "_Play:") {
        on(&MainWindowController::Play);
    } else if (command == "_PlaySelection:") {
        on(&MainWindowController::PlaySelection);
    } else if (command == "_PlayWindow:") {
        on(&MainWindowController::PlayWindow);
    } else if (command == "_Record:") {
        on(&MainWindowController::Record);
    } else if (command == "_OptionsRecordPlay:") {
        on(&MainWindowController::OptionsRecordPlay);
    } else if (command == "_ScopeMode:") {
        connect(action, &QAction::triggered, &m_application, [this] { m_application.ScopeMode(); });
    } else if (command == "_HideShowStatus:") {
        connect(action, &QAction::triggered, &m_application, [this] { m_application.HideShowStatus(); });
    } else if (command == "_aboutApp:") {
        connect(action, &QAction::triggered, &m_application, [this] { m_application.aboutApp(); });
    }
}

QAction* MainWindowController::action(const QString& command) const
{
    return findChild<QAction*>(command, Qt::FindDirectChildrenOnly);
}

bool MainWindowController::isCommandEnabled(const std::string& command)
{
    // Reverting needs the file to read back: a new document has none.
    if (command == "revertDocumentToSaved:" && m_filePath.isEmpty()) {
        return false;
    }
    for (const MenuSpec& menu : documentWindowMenus()) {
        for (const CommandSpec& entry : menu.commands) {
            if (entry.name == nullptr || command != entry.name) {
                continue;
            }
            // While recording (from the sound card, or from the box into
            // this document) the recording replaces the document when it
            // ends, possibly while a sheet, panel or analysis still works
            // on it: only the commands that need no document stay. Record
            // and Scope Mode go too, so that a second stream is never
            // started.
            const bool recording = m_model->m_bRecording || m_application.boxRecordsInto(this);
            if (recording && entry.owner != CommandOwner::Application &&
                entry.owner != CommandOwner::Log) {
                return false;
            }
            switch (entry.owner) {
            case CommandOwner::Application:
                return true;
            case CommandOwner::Document:
                return m_document->validateMenuItem(command);
            case CommandOwner::Window:
                return windowCommandEnabled(
                    entry.name, m_document->m_bHaveData,
                    m_document->m_nEGGChannelIndex >= 0 &&
                        m_document->m_nEGGChannelIndex < m_document->channelsInUse(),
                    m_document->m_bHaveMarker, m_document->m_bHaveSelection,
                    hasLabels(*m_document));
            case CommandOwner::Log:
                return m_application.logController().validateMenuItem(command, m_document.get());
            case CommandOwner::View: {
                m_model->m_bEditUndo = m_editSession->undoAvailable();
                MenuContext context;
                context.editCopy = EditClipboard::instance().hasContent();
                context.logWindowVisible = m_application.logWindowVisible();
                return m_model->validateMenuItem(command, context);
            }
            }
        }
    }
    return true;
}

void MainWindowController::updateMenu(QMenu* menu)
{
    for (QAction* item : menu->actions()) {
        const std::string command = item->objectName().toStdString();
        if (command.empty() || item->menu() != nullptr) {
            continue;
        }
        if (command == "_HideShowStatus:") {
            item->setText(m_application.hideShowStatusTitle());
        } else if (m_model) {
            const std::string title = m_model->menuTitle(command);
            if (!title.empty()) {
                item->setText(QString::fromStdString(title));
            }
        }
        item->setEnabled(isCommandEnabled(command));
    }
}

void MainWindowController::refreshCommands()
{
    for (QMenu* menu : menuBar()->findChildren<QMenu*>()) {
        updateMenu(menu);
    }
}

void MainWindowController::fillRecentMenu()
{
    m_recentMenu->clear();
    for (const QString& path : m_application.recentFiles()) {
        QAction* item = m_recentMenu->addAction(QFileInfo(path).fileName());
        item->setToolTip(path);
        connect(item, &QAction::triggered, &m_application,
                [this, path] { m_application.openPath(path, this); });
    }
    if (!m_application.recentFiles().isEmpty()) {
        m_recentMenu->addSeparator();
    }
    QAction* clear = m_recentMenu->addAction(tr("Clear Menu"));
    clear->setObjectName("clearRecentDocuments:");
    clear->setEnabled(!m_application.recentFiles().isEmpty());
    connect(clear, &QAction::triggered, &m_application, [this] { m_application.clearRecentFiles(); });
}

void MainWindowController::afterViewChange()
{
    refreshCommands();
    updateTitle();
    // A label may have been moved, added or removed.
    updateLabelView();
}

// --- saving --------------------------------------------------------------------

bool MainWindowController::writeDocument(const QString& path, const std::string& type)
{
    const auto bytes = m_document->dataOfType(type);
    if (!bytes) {
        // The AIFF refusal has told the user already.
        if (type != "aiff" && type != "aif") {
            m_prompts->alert(kSaveError, kNotSaved, "OK");
        }
        return false;
    }
    std::string error;
    if (!writeFileAtomically(path.toStdString(), *bytes, error)) {
        m_prompts->alert(kSaveError, std::string(kNotSaved) + "\n" + error, "OK");
        return false;
    }
    m_filePath = QFileInfo(path).absoluteFilePath();
    m_document->clearChangeCount();
    m_application.noteRecentFile(m_filePath);
    updateTitle();
    return true;
}

bool MainWindowController::saveDocument()
{
    if (!m_document->validateMenuItem("saveDocument:")) {
        return false;
    }
    if (m_filePath.isEmpty()) {
        return saveDocumentAs();
    }
    return saveAsType(m_filePath, saveTypeForPath(m_filePath));
}

bool MainWindowController::saveAsType(const QString& path, const std::string& type)
{
    if (type == "wav") {
        const std::vector<std::string> lost = m_document->wavDiscards();
        if (!lost.empty()) {
            const std::string title =
                "This recording has " + listedInWords(lost) + " that a WAV file cannot keep.";
            const int answer = m_prompts->alert(
                title, "Save it as a .pmf file to keep them, or as a WAV file without them.",
                "Save as .pmf", "Cancel", "Save as WAV");
            if (answer == 1) {
                return saveDocumentAsPmf(path);
            }
            if (answer != -1) {
                return false;
            }
        }
    }
    return writeDocument(path, type);
}

bool MainWindowController::saveDocumentAsPmf(const QString& path)
{
    const QFileInfo info(path);
    SavePanelRequest request;
    request.requiredType = "pmf";
    request.proposedName = (info.completeBaseName() + QStringLiteral(".pmf")).toStdString();
    request.directory = info.absolutePath().toStdString();
    const auto chosen = m_prompts->savePanel(request);
    if (!chosen) {
        return false;
    }
    // The panel gives the name the .pmf extension whatever was typed.
    return writeDocument(QString::fromStdString(*chosen), "pmf");
}

bool MainWindowController::saveDocumentAs()
{
    if (!m_document->validateMenuItem("saveDocumentAs:")) {
        return false;
    }
    SavePanelRequest request;
    request.proposedName = displayName().toStdString();
    request.directory = m_filePath.isEmpty() ? MyDocument::homeDirectory()
                                             : QFileInfo(m_filePath).absolutePath().toStdString();
    const auto path = m_prompts->savePanel(request);
    if (!path) {
        return false;
    }
    const QString chosen = QString::fromStdString(*path);
    return saveAsType(chosen, saveTypeForPath(chosen));
}

void MainWindowController::fileSaveCopyAs()
{
    m_document->fileSaveCopyAs();
}

void MainWindowController::fileSaveSelectionAs()
{
    m_document->fileSaveSelectionAs();
}

void MainWindowController::fileExportChannelAs()
{
    m_document->fileExportChannelAs();
}

void MainWindowController::fileExportChannelSelectionAs()
{
    m_document->fileExportChannelSelectionAs();
}

void MainWindowController::FileSaveAsPICT()
{
    if (!isCommandEnabled("_FileSaveAsPICT:")) {
        return;
    }
    const auto path = m_prompts->savePanel(pictureSavePanel(
        (std::filesystem::path(MyDocument::homeDirectory()) / "Documents").string()));
    if (!path) {
        return;
    }
    std::string error;
    const QString caption = mainViewCaption(*m_document, displayName().toStdString());
    if (!writePictureFile(*path, mainView()->size(),
                          pictureDrawing(*m_document, std::nullopt, nullptr, caption), error)) {
        m_prompts->alert(kSaveError, error, "OK");
    }
}

void MainWindowController::printDocument()
{
    if (!isCommandEnabled("printDocument:")) {
        return;
    }
    QPrinter printer(QPrinter::HighResolution);
    const bool accepted = m_printSetup ? m_printSetup(printer)
                                       : QPrintDialog(&printer, this).exec() == QDialog::Accepted;
    if (!accepted) {
        return;
    }
    if (!phonaxis::printDocument(*m_document, printer, mainView()->size())) {
        m_prompts->alert("Printing failed.", "The printer could not print the page.", "OK");
    }
}

void MainWindowController::revertDocumentToSaved()
{
    if (m_filePath.isEmpty() || !m_document->validateMenuItem("revertDocumentToSaved:")) {
        return;
    }
    const std::string question = "Do you want to revert to the most recently saved version of “" +
                                 displayName().toStdString() + "”?";
    if (m_prompts->alert(question, "Your current changes will be lost.", "Revert", "Cancel") != 1) {
        return;
    }
    std::string error;
    if (!readFile(m_filePath, error)) {
        m_prompts->alert("The document could not be reverted.", error, "OK");
    }
}

bool MainWindowController::confirmClose()
{
    if (m_document->changeCount() == 0) {
        return true;
    }
    const std::string question = "Do you want to save the changes made to the document “" +
                                 displayName().toStdString() + "”?";
    const int answer = m_prompts->alert(question, "Your changes will be lost if you don't save them.",
                                        "Save", "Cancel", "Don't Save");
    if (answer == 1) {
        return saveDocument();
    }
    return answer == -1;
}

void MainWindowController::closeEvent(QCloseEvent* event)
{
    // A recording under way becomes the document first, so that the
    // question about unsaved changes covers it.
    finishRecording();
    const MyDocument* asked = m_document.get();
    if (!confirmClose()) {
        event->ignore();
        return;
    }
    // A box recording that arrived while the question was open replaced
    // the document it was about: the answer does not cover the recording,
    // so the window stays open with it.
    if (m_document.get() != asked) {
        event->ignore();
        return;
    }
    if (m_sound != nullptr) {
        m_sound->stopPlaying();
    }
    releaseBoxPlayer();
    closeAnalysisWindows();
    m_application.abandonLabelDialog(this);
    if (_plabelView) {
        _plabelView->close();
    }
    m_application.windowClosing(this);
    event->accept();
}

// --- analysis windows ---------------------------------------------------------

AnalysisWindowContext MainWindowController::analysisWindowContext()
{
    AnalysisWindowContext context;
    context.document = m_document.get();
    context.channel = m_model ? m_model->analysisChannel() : -1;
    context.prompts = m_prompts;
    context.displayName = [this] { return displayName(); };
    context.logVisible = [this] { return m_application.logWindowVisible(); };
    context.addLog = [this](const LogRecord& record) {
        m_application.logController().add(record, true);
    };
    context.addLogRecords = [this](const std::vector<LogRecord>& records) {
        for (std::size_t i = 0; i < records.size(); ++i) {
            m_application.logController().add(records[i], i + 1 == records.size());
        }
    };
    context.printSetup = m_printSetup;
    context.channelSummary = [this](int index) {
        return mainView()->summaries().forChannel(index);
    };
    context.progressDriver = m_progressDriver;
    context.play = [this](int index, double start, double count) {
        playSamples(index, -1, start, count);
    };
    return context;
}

void MainWindowController::adoptAnalysisWindow(QWidget* window)
{
    m_analysisWindows.erase(
        std::remove_if(m_analysisWindows.begin(), m_analysisWindows.end(),
                       [](const QPointer<QWidget>& open) { return open.isNull(); }),
        m_analysisWindows.end());
    m_analysisWindows.append(window);
}

QList<QWidget*> MainWindowController::analysisWindows() const
{
    QList<QWidget*> open;
    for (const QPointer<QWidget>& window : m_analysisWindows) {
        if (window) {
            open.append(window.data());
        }
    }
    return open;
}

void MainWindowController::closeAnalysisWindows()
{
    // Deleted now, not when the event loop next runs: the document they
    // refer to may go before it does.
    const QList<QPointer<QWidget>> windows = std::exchange(m_analysisWindows, {});
    for (const QPointer<QWidget>& window : windows) {
        delete window.data();
    }
}

void MainWindowController::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        m_application.documentActivated(this);
        // Shortcuts act on the enabling of the moment: it may have changed
        // while another window was key (the clipboard filled).
        refreshCommands();
    }
}

void MainWindowController::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    }
}

void MainWindowController::dropEvent(QDropEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    QStringList paths;
    for (const QUrl& url : urls) {
        if (url.isLocalFile()) {
            paths << url.toLocalFile();
        }
    }
    event->acceptProposedAction();
    for (const QString& path : paths) {
        m_application.openPath(path);
    }
}

// --- editing --------------------------------------------------------------------

void MainWindowController::applyEditOutcome(const EditOutcome& outcome)
{
    if (outcome.clearSelection) {
        m_model->m_bHaveSelection = false;
        m_document->m_bHaveSelection = false;
    }
    if (outcome.edited || outcome.labelsChanged) {
        // Cut, paste and undo renumber the labels: the one last clicked is
        // forgotten, so that Delete cannot remove whichever took its place.
        m_model->forgetClickedLabel();
    }
    if (outcome.edited) {
        mainView()->documentChanged();
        emit samplesChanged();
    } else if (outcome.redraw) {
        mainView()->redraw();
    }
    afterViewChange();
    if (outcome.edited) {
        // The channels changed: the status window lists them again.
        m_application.documentActivated(this);
    }
}

void MainWindowController::EditUndo()
{
    applyEditOutcome(m_editSession->EditUndo());
}

void MainWindowController::EditCut()
{
    applyEditOutcome(m_editSession->EditCut());
    m_application.refreshAllCommands(); // the clipboard filled
}

void MainWindowController::EditCopy()
{
    applyEditOutcome(m_editSession->EditCopy());
    m_application.refreshAllCommands(); // the clipboard filled
}

void MainWindowController::EditPaste()
{
    applyEditOutcome(m_editSession->EditPaste(m_model->m_bHaveSelection));
}

void MainWindowController::EditClear()
{
    applyEditOutcome(m_editSession->EditClear());
}

void MainWindowController::selectTimes(double startMs, double stopMs)
{
    if (!m_document->m_bHaveData) {
        return;
    }
    // The same path as a press at the start and a drag to the stop, given
    // as times so that it covers the channels whatever is on screen.
    m_model->DoOnLButtonDown(startMs, 0.0, false);
    m_model->TrackMouseDragged(stopMs, 0.0, false);
    m_model->DoOnLButtonUp(stopMs, 0.0, false);
    mainView()->redraw();
    afterViewChange();
}

void MainWindowController::EditSelectAll()
{
    const int anchor = m_model->anchorChannel();
    selectTimes(0.0, m_document->getChannel(anchor).m_dLengthMS);
}

void MainWindowController::EditSelectWindow()
{
    selectTimes(m_model->m_dTimePageMin, m_model->m_dTimePageMax);
}

// --- zoom ---------------------------------------------------------------------

#define PHONAXIS_ZOOM_COMMAND(Name)                                                              \
    void MainWindowController::Name()                                                             \
    {                                                                                             \
        m_model->Name();                                                                          \
        _idMainViewPane->followModel();                                                           \
        mainView()->redraw();                                                                     \
        afterViewChange();                                                                        \
    }

PHONAXIS_ZOOM_COMMAND(ZoomUndo)
PHONAXIS_ZOOM_COMMAND(ZoomIn)
PHONAXIS_ZOOM_COMMAND(ZoomOut)
PHONAXIS_ZOOM_COMMAND(ZoomSelection)
PHONAXIS_ZOOM_COMMAND(ZoomCursor)
PHONAXIS_ZOOM_COMMAND(ZoomHome)

#undef PHONAXIS_ZOOM_COMMAND

// --- reference levels -------------------------------------------------------------

void MainWindowController::referenceChanged()
{
    m_document->setDirty();
    mainView()->redraw();
    afterViewChange();
    m_application.documentActivated(this); // the status window's reference column
}

void MainWindowController::ChannelsSetReferenceAll()
{
    m_document->setReferenceAll();
    referenceChanged();
}

void MainWindowController::ChannelsSetfor()
{
    m_document->setReferenceFor(m_model->m_nChannelCliked);
    referenceChanged();
}

void MainWindowController::ChannelsSetReferenceAllZero()
{
    m_document->setReferenceAllZero();
    referenceChanged();
}

// --- labels -------------------------------------------------------------------

void MainWindowController::LabelMode()
{
    m_model->LabelMode();
    mainView()->redraw();
    afterViewChange();
}

void MainWindowController::LabelView()
{
    if (!_plabelView) {
        _plabelView = new LabelViewWindow(this);
        _plabelView->onJump = [this](double timeMs) {
            m_model->DoZoomJumpLabel(timeMs);
            _idMainViewPane->followModel();
            mainView()->redraw();
            afterViewChange();
        };
    }
    _plabelView->setWindowTitle(QStringLiteral("Labels:: ") + displayName());
    _plabelView->fill(*m_document);
    _plabelView->show();
    _plabelView->raise();
}

void MainWindowController::updateLabelView()
{
    if (_plabelView && _plabelView->isVisible()) {
        _plabelView->fill(*m_document);
    }
}

void MainWindowController::showLabelDialog(const LabelDialogRequest& request)
{
    LabelDialog& dialog = m_application.labelDialog();
    const bool opened = dialog.openFor(*m_model, request, this, [this](bool changed) {
        if (changed) {
            m_document->setDirty();
            mainView()->redraw();
        }
        afterViewChange();
    });
    if (!opened) {
        return;
    }
    if (request.kind == LabelDialogRequest::Kind::ExistingLabel) {
        m_document->setDirty();
    }
    updateTitle();
}

void MainWindowController::reportStatus(const StatusReport& report)
{
    StatusWindowController* status = m_application.statusWindow();
    if (status == nullptr) {
        return;
    }
    std::vector<StatusChannelValue> values;
    if (report.values) {
        for (const ChannelValue& value : *report.values) {
            values.push_back({value.channel, static_cast<double>(value.value)});
        }
    }
    status->showStatus(report.cursorTimeMs, report.durationMs, values);
}

} // namespace phonaxis
