#include "app/Application.h"

#include "app/AboutWindow.h"
#include "app/LabelDialog.h"
#include "app/LogController.h"
#include "app/MainWindowController.h"
#include "app/PlotFormantWindows.h"
#include "app/QtPrompts.h"
#include "app/StatusWindowController.h"
#include "app/panels/RecordPlayPanel.h"
#include "audio/LeftSoundRecordings.h"
#include "audio/portaudio/PortAudioBackend.h"
#include "display/MenuCommands.h"
#include "display/ScopeView.h"
#include "document/AppSettings.h"
#include "document/FileIO.h"
#include "document/MyDocument.h"
#include "hardware/ui/BoxScopeSource.h"
#include "hardware/BoxRecording.h"
#include "hardware/ui/BoxService.h"
#include "hardware/ui/OrvixRecordController.h"
#include "log/ui/LogWindow.h"
#include "windows/ui/AnalysisWindowMenus.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

#include <filesystem>

namespace phonaxis {

namespace {

// Longest line of the recent-file list taken as a path.
constexpr std::size_t kLongestRecentPath = 4096;

std::string recentListPath(const AppSettings& settings)
{
    if (settings.m_strConfigFolder.empty()) {
        return {};
    }
    return (std::filesystem::path(settings.m_strConfigFolder) / Application::kRecentFileName)
        .string();
}

} // namespace

Application::Application(AppSettings& settings, ApplicationGlobals globals, Prompts* prompts)
    : m_settings(settings), m_globals(std::move(globals)), m_injectedPrompts(prompts)
{
    loadRecentFiles();
    m_commands = makeApplicationCommands();
    setApplicationCommands(m_commands.get());
}

void Application::OptionsRecordPlay()
{
    if (!gRecordplay) {
        gRecordplay = new RecordPlayPanel(m_settings, appPrompts());
    }
    gRecordplay->start(boxPresent());
}

bool Application::boxPresent() const
{
    return m_box != nullptr && m_box->boxPresent();
}

RecordPlayPanel* Application::recordPlayPanel() const
{
    return gRecordplay.data();
}

void Application::ScopeMode()
{
    if (!m_scopeWindow) {
        std::unique_ptr<ScopeSource> source;
        if (m_box != nullptr) {
            source = std::make_unique<BoxScopeSource>(*m_box);
        }
        m_scopeWindow = new ScopeWindowController(std::move(source), m_settings);
        m_scopeWindow->setAttribute(Qt::WA_DeleteOnClose);
        m_scopeWindow->show();
        m_scopeWindow->initilize();
    } else {
        m_scopeWindow->show();
    }
    m_scopeWindow->raise();
    m_scopeWindow->activateWindow();
}

ScopeWindowController* Application::scopeWindow() const
{
    return m_scopeWindow.data();
}

AudioBackend& Application::soundBackend()
{
    if (!m_soundBackend) {
        m_soundBackend = std::make_unique<PortAudioBackend>();
    }
    return *m_soundBackend;
}

void Application::setSoundBackend(std::unique_ptr<AudioBackend> backend)
{
    m_soundBackend = std::move(backend);
}

Application::~Application()
{
    if (applicationCommands() == m_commands.get()) {
        setApplicationCommands(nullptr);
    }
    // Windows closed earlier may still wait for their deferred deletion;
    // their destructors report to this object, so they go first.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (const QPointer<MainWindowController>& window : m_windows) {
        delete window.data();
    }
    delete m_scopeWindow.data();
    delete m_labelDialog.data();
    // The recording window goes before the box it streams from.
    delete gOrvixRecordController.data();
    delete gRecordplay.data();
    delete m_about.data();
    delete gStatusWindow.data();
}

StatusWindowController* Application::statusWindow() const
{
    return gStatusWindow.data();
}

AboutWindow* Application::aboutWindow() const
{
    return m_about.data();
}

Prompts& Application::appPrompts()
{
    if (m_injectedPrompts != nullptr) {
        return *m_injectedPrompts;
    }
    if (!m_ownPrompts) {
        m_ownPrompts = std::make_unique<QtPrompts>();
    }
    m_ownPrompts->setWindow(m_keyWindow.data());
    return *m_ownPrompts;
}

void Application::finishLaunching(const QStringList& files)
{
    StatusWindowController& status = ensureStatusWindow();
    status.show();
    status.raise();
    bool opened = false;
    for (const QString& file : files) {
        opened = openPath(file) != nullptr || opened;
    }
    if (!opened) {
        newDocument();
    }
    // Asked once the event loop runs, so that the question stands over
    // windows that are already shown and reachable (also to a screen reader).
    QTimer::singleShot(0, this, &Application::checkOrphanRecordings);
    QTimer::singleShot(0, this, &Application::checkLeftSoundRecordings);
}

// --- recording from the box ---------------------------------------------------

void Application::openRecordWindow(MainWindowController& window)
{
    if (m_box == nullptr) {
        return;
    }
    if (!gOrvixRecordController) {
        gOrvixRecordController =
            new OrvixRecordController(*m_box, m_settings, m_globals.appPathTemp, appPrompts());
        connect(gOrvixRecordController, &OrvixRecordController::recordingEnded, this,
                [this](BoxRecordSession::End end) {
                    deliverBoxRecording(static_cast<int>(end));
                    refreshAllCommands();
                });
        connect(gOrvixRecordController, &OrvixRecordController::recordingStarted, this,
                &Application::refreshAllCommands);
    }
    if (gOrvixRecordController->busy()) {
        // Recording for a document already: that one keeps it.
        gOrvixRecordController->initilize();
        return;
    }
    m_recordTarget = &window;
    gOrvixRecordController->initilize();
}

OrvixRecordController* Application::recordWindow() const
{
    return gOrvixRecordController.data();
}

bool Application::boxRecordsInto(const MainWindowController* window) const
{
    return window != nullptr && m_recordTarget.data() == window && gOrvixRecordController &&
           gOrvixRecordController->busy();
}

namespace {

// Why a recording ended before Save, for the user.
std::string earlyEndReason(BoxRecordSession::End end, const std::string& writeError)
{
    switch (end) {
    case BoxRecordSession::End::BoxGone:
        return "The acquisition box stopped sending: it was removed or its transfers failed.";
    case BoxRecordSession::End::WriteFailed:
        return writeError.empty()
                   ? "The recording file could not be written (the disk may be full)."
                   : "The recording file could not be written: " + writeError;
    case BoxRecordSession::End::StopTimeout:
        return "The acquisition box did not stop when asked.";
    case BoxRecordSession::End::Saved:
    case BoxRecordSession::End::Cancelled:
        break;
    }
    return {};
}

std::string secondsText(double seconds)
{
    return QString::number(seconds, 'f', 1).toStdString();
}

} // namespace

MainWindowController* Application::windowForRecording()
{
    for (MainWindowController* window : documentWindows()) {
        if (window->isUntouchedUntitled()) {
            return window;
        }
    }
    return newDocument();
}

void Application::deliverBoxRecording(int endCode)
{
    OrvixRecordController* recorder = gOrvixRecordController.data();
    if (recorder == nullptr || recorder->session() == nullptr) {
        return;
    }
    const auto end = static_cast<BoxRecordSession::End>(endCode);
    BoxRecordSession& session = *recorder->session();
    // The window recorded for may have closed meanwhile: a new one takes it.
    MainWindowController* window = m_recordTarget ? m_recordTarget.data() : windowForRecording();
    m_recordTarget = nullptr;
    const std::filesystem::path path = session.recordingPath();
    if (window == nullptr || !window->takeBoxRecording(path, session.info())) {
        appPrompts().alert("Recording not read",
                           "The recording could not be read into the document. It is kept in \"" +
                               path.string() + "\" and offered again at the next launch.",
                           "Close");
        return;
    }
    const double seconds = session.recordedSeconds();
    recorder->discardRecording();
    if (end != BoxRecordSession::End::Saved) {
        appPrompts().alert("The recording ended early",
                           earlyEndReason(end, session.writeError()) + " The " + secondsText(seconds) +
                               " seconds recorded until then are in the document.",
                           "Close");
    }
}

void Application::checkOrphanRecordings()
{
    if (m_globals.appPathTemp.empty()) {
        return;
    }
    for (const OrphanRecording& orphan : findOrphanRecordings(m_globals.appPathTemp)) {
        const double seconds = double(orphan.frames) / kBoxFrameRate;
        // The start time comes from the file beside the recording: one no
        // clock could have given (before 1970, past 9999, or beyond what a
        // date can hold) is told as unknown rather than printed blank.
        const QDateTime when = QDateTime::fromSecsSinceEpoch(orphan.info.startedUnixSeconds);
        const bool known = when.isValid() && when.date().year() >= 1970 &&
                           when.date().year() <= 9999 && orphan.info.startedUnixSeconds >= 0;
        const std::string started =
            known ? when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString()
                  : std::string("at an unknown time");
        const int answer = appPrompts().alert(
            "Open the recording that was not saved?",
            "A recording of " + secondsText(seconds) + " seconds from the acquisition box, " +
                "started " + started +
                ", was not saved when Phonaxis last ended. Open it in a document window, "
                "discard it, or decide at the next launch?",
            "Open", "Discard", "Later");
        if (answer == 1) {
            MainWindowController* window = windowForRecording();
            if (window != nullptr && window->takeBoxRecording(orphan.path, orphan.info)) {
                discardOrphanRecording(orphan);
            } else {
                appPrompts().alert("Recording not read",
                                   "The recording could not be read. It is kept in \"" +
                                       orphan.path.string() + "\" for the next launch.",
                                   "Close");
            }
        } else if (answer == 0) {
            discardOrphanRecording(orphan);
        }
    }
}

void Application::checkLeftSoundRecordings()
{
    if (m_globals.appPathTemp.empty()) {
        return;
    }
    for (const LeftSoundRecording& left : findLeftSoundRecordings(m_globals.appPathTemp)) {
        const double seconds = double(left.samples) / left.rateHz;
        const QString made = QDateTime::fromSecsSinceEpoch(left.modifiedUnixSeconds)
                                 .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        const int answer = appPrompts().alert(
            "Open the recording that was not saved?",
            "A recording of " + secondsText(seconds) + " seconds from the sound card, last written " +
                made.toStdString() +
                ", was not saved when Phonaxis or phonaxis-cli last ended. Open it in a document "
                "window, discard it, or decide at the next launch?",
            "Open", "Discard", "Later");
        if (answer == 1) {
            TrackBuffer<std::uint8_t> bytes;
            std::string error;
            MainWindowController* window = nullptr;
            if (readLeftSoundRecording(left, bytes, error)) {
                window = windowForRecording();
            }
            if (window != nullptr && window->takeSoundRecording(bytes)) {
                discardLeftSoundRecording(left);
            } else {
                appPrompts().alert("Recording not read",
                                   (error.empty() ? std::string("The recording could not be read.")
                                                  : error) +
                                       " It is kept in \"" + left.path.string() +
                                       "\" for the next launch.",
                                   "Close");
            }
        } else if (answer == 0) {
            discardLeftSoundRecording(left);
        }
    }
}

StatusWindowController& Application::ensureStatusWindow()
{
    if (!gStatusWindow) {
        gStatusWindow = new StatusWindowController();
        gStatusWindow->setupFor(m_keyWindow ? &m_keyWindow->document() : nullptr,
                                m_keyWindow ? m_keyWindow->displayName() : QString());
        addStatusMenus(*gStatusWindow);
    }
    return *gStatusWindow;
}

void Application::addStatusMenus(StatusWindowController& status)
{
    auto* bar = new QMenuBar(&status);
    auto add = [this](QMenu* menu, const char* name, auto slot,
                      Qt::ConnectionType type = Qt::AutoConnection) {
        QAction* action = makeMenuAction(name, menu);
        menu->addAction(action);
        connect(action, &QAction::triggered, this, slot, type);
    };
    QMenu* file = addNamedMenu(*bar, "&File");
    add(file, "newDocument:", [this] { newDocument(); });
    add(file, "openDocument:", [this] { openDocument(); });
    // Open Formant Plot…, the log commands, the status toggle and About.
    addApplicationMenus(status, *bar);
    file->addSeparator();
    // Quit closes windows, so it runs once the menu has let go of them.
    add(
        file, "terminate:", [this] { terminate(); }, Qt::QueuedConnection);
    status.layout()->setMenuBar(bar);
}

std::unique_ptr<ApplicationCommands> Application::makeApplicationCommands()
{
    auto commands = std::make_unique<ApplicationCommands>();
    commands->hideShowStatus = [this] { HideShowStatus(); };
    commands->hideShowStatusTitle = [this] { return hideShowStatusTitle(); };
    // The log window shown or not changes the log commands of every window.
    commands->logNew = [this] {
        logController().LogNew();
        refreshAllCommands();
    };
    commands->logOpen = [this] {
        logController().LogOpen();
        refreshAllCommands();
    };
    commands->logWindowVisible = [this] { return logWindowVisible(); };
    commands->plotFormantOpen = [this] { PlotFormantOpen(); };
    commands->aboutApp = [this] { aboutApp(); };
    return commands;
}

MainWindowController* Application::newDocument()
{
    auto* window = new MainWindowController(*this, m_injectedPrompts);
    m_windows.emplace_back(window);
    window->show();
    documentActivated(window);
    return window;
}

MainWindowController* Application::openPath(const QString& path, MainWindowController* from)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    for (const QPointer<MainWindowController>& window : m_windows) {
        if (window && window->filePath() == absolute) {
            window->show();
            window->raise();
            window->activateWindow();
            documentActivated(window);
            return window;
        }
    }
    auto* window = new MainWindowController(*this, m_injectedPrompts);
    std::string error;
    if (!window->readFile(absolute, error)) {
        delete window;
        const std::string title = "The document “" + QFileInfo(absolute).fileName().toStdString() +
                                  "” could not be opened.";
        appPrompts().alert(title, error, "OK");
        return nullptr;
    }
    m_windows.emplace_back(window);
    noteRecentFile(absolute);
    // An Untitled window nobody has used would only be left empty beside
    // the document: the document takes its place.
    const bool replacing = from != nullptr && from->isUntouchedUntitled();
    if (replacing) {
        window->setGeometry(from->geometry());
    }
    window->show();
    documentActivated(window);
    if (replacing) {
        from->close();
    }
    // A cut-off file opens with what it holds, but the user must know.
    if (const auto& shortfall = window->document().m_shortRecording) {
        appPrompts().alert("The document “" + QFileInfo(absolute).fileName().toStdString() +
                               "” is shorter than its header says.",
                           "The " + shortfall->text() + ". It was opened with what it holds.",
                           "OK");
    }
    return window;
}

void Application::openDocument()
{
    OpenPanelRequest request;
    request.multiple = true;
    request.directory = m_keyWindow && !m_keyWindow->filePath().isEmpty()
                            ? QFileInfo(m_keyWindow->filePath()).absolutePath().toStdString()
                            : MyDocument::homeDirectory();
    Prompts& prompts = m_keyWindow ? m_keyWindow->prompts() : appPrompts();
    // Only the first document can take the Untitled window's place.
    QPointer<MainWindowController> from = m_keyWindow;
    for (const std::string& path : prompts.openPanel(request)) {
        openPath(QString::fromStdString(path), from);
        from = nullptr;
    }
}

bool Application::terminate()
{
    // A sheet or alert still open on a window holds a command half-way
    // (a panel about to write into its document): it is finished first.
    if (QWidget* modal = QApplication::activeModalWidget()) {
        modal->raise();
        modal->activateWindow();
        return false;
    }
    // Unsaved log rows are asked about first: Cancel there keeps everything
    // open, and quitting never drops them silently. A log whose window was
    // closed with "Don't Save" is not asked about again.
    if (gLogView && gLogView->isVisible() && gLogView->table().m_bDirty &&
        !gLogView->window()->close()) {
        return false;
    }
    // Unsaved formant tables are asked about the same way.
    if (m_plotWindows && !m_plotWindows->closeAll()) {
        return false;
    }
    for (MainWindowController* window : documentWindows()) {
        if (!window->close()) {
            return false;
        }
    }
    if (gStatusWindow) {
        gStatusWindow->close();
    }
    if (m_labelDialog && m_labelDialog->isVisible()) {
        m_labelDialog->reject();
    }
    if (m_about) {
        m_about->close();
    }
    QCoreApplication::quit();
    return true;
}

std::vector<MainWindowController*> Application::documentWindows() const
{
    std::vector<MainWindowController*> windows;
    for (const QPointer<MainWindowController>& window : m_windows) {
        if (window) {
            windows.push_back(window.data());
        }
    }
    return windows;
}

void Application::HideShowStatus()
{
    if (!gStatusWindow) {
        ensureStatusWindow().show();
        gStatusWindow->raise();
        return;
    }
    gStatusWindow->setVisible(!gStatusWindow->isVisible());
    if (gStatusWindow->isVisible()) {
        gStatusWindow->raise();
    }
}

QString Application::hideShowStatusTitle() const
{
    return gStatusWindow && gStatusWindow->isVisible() ? QStringLiteral("Hide Status")
                                                       : QStringLiteral("Show Status");
}

void Application::documentActivated(MainWindowController* window)
{
    m_keyWindow = window;
    if (gStatusWindow) {
        gStatusWindow->setupFor(window ? &window->document() : nullptr,
                                window ? window->displayName() : QString());
    }
}

void Application::windowClosing(MainWindowController* window)
{
    std::erase_if(m_windows, [window](const QPointer<MainWindowController>& entry) {
        return entry.isNull() || entry.data() == window;
    });
    if (m_keyWindow == window) {
        m_keyWindow = nullptr;
        if (gStatusWindow) {
            gStatusWindow->setupFor(nullptr, QString());
        }
    }
}

void Application::aboutApp()
{
    if (!m_about) {
        m_about = new AboutWindow(QString::fromStdString(m_globals.gstrVersion));
    }
    m_about->show();
    m_about->raise();
}

LabelDialog& Application::labelDialog()
{
    if (!m_labelDialog) {
        m_labelDialog = new LabelDialog();
    }
    return *m_labelDialog;
}

LogController& Application::logController()
{
    if (!gLogView) {
        gLogView = std::make_unique<LogController>(m_injectedPrompts);
    }
    return *gLogView;
}

PlotFormantWindows& Application::plotFormantWindows()
{
    if (!m_plotWindows) {
        m_plotWindows = std::make_unique<PlotFormantWindows>(m_injectedPrompts);
    }
    return *m_plotWindows;
}

void Application::PlotFormantOpen()
{
    plotFormantWindows().PlotFormantOpen();
}

bool Application::logWindowVisible() const
{
    return gLogView && gLogView->isVisible();
}

void Application::abandonLabelDialog(const MainWindowController* window)
{
    if (m_labelDialog) {
        m_labelDialog->abandon(window);
    }
}

void Application::refreshAllCommands()
{
    for (MainWindowController* window : documentWindows()) {
        window->refreshCommands();
    }
}

// --- recent files ------------------------------------------------------------------

void Application::noteRecentFile(const QString& path)
{
    m_recent.removeAll(path);
    m_recent.prepend(path);
    while (m_recent.size() > kRecentFileLimit) {
        m_recent.removeLast();
    }
    saveRecentFiles();
}

void Application::clearRecentFiles()
{
    m_recent.clear();
    saveRecentFiles();
}

void Application::loadRecentFiles()
{
    const std::string path = recentListPath(m_settings);
    if (path.empty() || !std::filesystem::exists(path)) {
        return;
    }
    FileContents contents;
    std::string error;
    // The list holds ten paths: a megabyte is plenty, and no more is read.
    if (!contents.open(path, FileCheck{.readAtMost = std::uint64_t{1} << 20}, error)) {
        return;
    }
    // One absolute path per line; anything else in the file is skipped.
    const auto bytes = contents.bytes();
    std::size_t start = 0;
    while (start < bytes.size() && m_recent.size() < kRecentFileLimit) {
        std::size_t end = start;
        while (end < bytes.size() && bytes[end] != '\n') {
            ++end;
        }
        const std::size_t length = end - start;
        if (length > 0 && length <= kLongestRecentPath) {
            const QString line =
                QString::fromUtf8(reinterpret_cast<const char*>(bytes.data() + start),
                                  static_cast<qsizetype>(length));
            if (QFileInfo(line).isAbsolute() && !line.contains(QChar(0)) &&
                !m_recent.contains(line)) {
                m_recent << line;
            }
        }
        start = end + 1;
    }
}

void Application::saveRecentFiles() const
{
    const std::string path = recentListPath(m_settings);
    if (path.empty()) {
        return;
    }
    QByteArray text;
    for (const QString& file : m_recent) {
        text += file.toUtf8() + '\n';
    }
    std::error_code ignored;
    std::filesystem::create_directories(m_settings.m_strConfigFolder, ignored);
    std::string error;
    // The list is a convenience: a failed write keeps the old one and is not
    // worth interrupting the user for.
    writeFileAtomically(
        path,
        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.constData()),
                                      static_cast<std::size_t>(text.size())),
        error);
}

} // namespace phonaxis
