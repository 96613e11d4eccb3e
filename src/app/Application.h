#pragma once

#include "app/Startup.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <memory>
#include <vector>

namespace phonaxis {

class AboutWindow;
struct ApplicationCommands;
class AudioBackend;
class BoxService;
class LabelDialog;
class LogController;
class MainWindowController;
class OrvixRecordController;
class PlotFormantWindows;
class Prompts;
class QtPrompts;
class RecordPlayPanel;
class ScopeWindowController;
class StatusWindowController;
struct AppSettings;

// The application delegate: the application-wide windows (status, about,
// the shared label dialog), the open document windows, the recent-file list
// and the commands that need no document. Main thread only.
class Application : public QObject {
    Q_OBJECT
public:
    // Most recent files remembered.
    static constexpr int kRecentFileLimit = 10;
    static constexpr const char* kRecentFileName = "RecentDocuments.txt";

    // `prompts` answers every alert and panel when given (tests); otherwise
    // each window shows its own dialogs. Both must outlive the application.
    Application(AppSettings& settings, ApplicationGlobals globals, Prompts* prompts = nullptr);
    ~Application() override;

    AppSettings& settings() { return m_settings; }
    const ApplicationGlobals& globals() const { return m_globals; }

    // Launching has finished: the status window is created if missing and
    // brought to the front, then `files` open, each in its own window. When
    // none of them opens, an Untitled document window is opened so that the
    // menus are at hand.
    void finishLaunching(const QStringList& files);

    // A new empty document window, shown.
    MainWindowController* newDocument();
    // Opens `path` in a new window, or brings forward the window that shows
    // it already. Null when it cannot be opened (the user is told).
    // `from` is the window the command came from: when it is an untouched
    // Untitled window (no file, no data, no changes), the opened document
    // takes its place and it closes.
    MainWindowController* openPath(const QString& path, MainWindowController* from = nullptr);
    // The open panel (any file, several at once); each chosen file opens,
    // the first in place of an untouched Untitled key window.
    void openDocument();
    // Closes every window, asking about unsaved changes; false when the
    // user cancelled (nothing more is closed then). Quits on success.
    bool terminate();

    std::vector<MainWindowController*> documentWindows() const;

    // --- status window ---
    StatusWindowController* statusWindow() const;
    // Creates and shows the status window when missing, else toggles it.
    void HideShowStatus();
    // "Hide Status" while the status window is visible, else "Show Status".
    QString hideShowStatusTitle() const;
    // A document window became key: the status window shows its document.
    void documentActivated(MainWindowController* window);
    void windowClosing(MainWindowController* window);

    void aboutApp();
    AboutWindow* aboutWindow() const;

    // The label dialog shared by every main view, created on first use.
    LabelDialog& labelDialog();
    // Closes the label dialog as Cancel would when it is open for `window`.
    void abandonLabelDialog(const MainWindowController* window);

    // The measurement log shared by every window (gLogView), created on
    // first use.
    LogController& logController();
    // Whether the log window is shown.
    bool logWindowVisible() const;

    // The formant plot windows, created on first use.
    PlotFormantWindows& plotFormantWindows();
    // "_PlotFormantOpen:": formant plot windows on chosen files (always
    // enabled, with or without a document).
    void PlotFormantOpen();

    // "_OptionsRecordPlay:": the single record/play settings panel
    // (gRecordplay), created on first use, shown and activated.
    void OptionsRecordPlay();
    RecordPlayPanel* recordPlayPanel() const;

    // The sound card every document window plays and records through,
    // started on first use (so that launching never touches it).
    AudioBackend& soundBackend();
    // Replaces the sound card by `backend` (tests drive one of their own).
    // Only before the first play or recording.
    void setSoundBackend(std::unique_ptr<AudioBackend> backend);

    // The acquisition box (null: none, as in tests that make no box). Not
    // owned; it must outlive the application.
    void setBoxService(BoxService* box) { m_box = box; }
    BoxService* boxService() const { return m_box; }
    // A programmed box is attached and open.
    bool boxPresent() const;

    // "_ScopeMode:": the single scope window, fed from the box's stream;
    // created and started on first use, brought to the front when open.
    void ScopeMode();
    ScopeWindowController* scopeWindow() const;
    // The box's recording window, opened for `window`'s document in scope
    // mode (the single window, made on first use). A window that records or
    // saves for another document is only brought forward. What it records
    // goes to `window`, or to a new window when that one has closed.
    void openRecordWindow(MainWindowController& window);
    OrvixRecordController* recordWindow() const;
    // The box records into `window`'s document: from Record until the
    // recording has replaced it.
    bool boxRecordsInto(const MainWindowController* window) const;
    // Looks in the temporary folder for recordings a run that ended while
    // recording left behind, and asks about each: "Open" reads it into a
    // document window (then its file goes), "Discard" removes it, "Later"
    // leaves it for the next launch. Run at the end of finishLaunching.
    void checkOrphanRecordings();
    // The same for sound-card recordings that a run of Phonaxis or of
    // phonaxis-cli left unsaved (killed while recording, or its destination
    // could not be written).
    void checkLeftSoundRecordings();

    // Re-evaluates the commands of every document window (the clipboard
    // filled, so Paste changes everywhere).
    void refreshAllCommands();

    // --- recent files ---
    const QStringList& recentFiles() const { return m_recent; }
    void noteRecentFile(const QString& path);
    void clearRecentFiles();

private:
    Prompts& appPrompts();
    void loadRecentFiles();
    void saveRecentFiles() const;
    StatusWindowController& ensureStatusWindow();
    // The File, Log, Window and Help menus of the status window.
    void addStatusMenus(StatusWindowController& status);
    // The commands every window offers, acting on this application.
    std::unique_ptr<ApplicationCommands> makeApplicationCommands();
    // The recording window's recording is ready: into its document.
    void deliverBoxRecording(int end);
    // An untouched Untitled window to take a recording, or a new one.
    MainWindowController* windowForRecording();

    AppSettings& m_settings;
    ApplicationGlobals m_globals;
    Prompts* m_injectedPrompts;               // not owned; may be null
    std::unique_ptr<QtPrompts> m_ownPrompts;  // application-level dialogs
    // Top-level windows without a parent; owned here.
    QPointer<StatusWindowController> gStatusWindow;
    QPointer<AboutWindow> m_about;
    QPointer<LabelDialog> m_labelDialog;
    QPointer<RecordPlayPanel> gRecordplay;
    std::unique_ptr<LogController> gLogView;
    std::unique_ptr<PlotFormantWindows> m_plotWindows;
    std::unique_ptr<AudioBackend> m_soundBackend;
    BoxService* m_box = nullptr;
    QPointer<ScopeWindowController> m_scopeWindow; // deletes itself on close
    QPointer<OrvixRecordController> gOrvixRecordController;
    QPointer<MainWindowController> m_recordTarget; // the document the recording goes to
    std::vector<QPointer<MainWindowController>> m_windows; // delete themselves on close
    QPointer<MainWindowController> m_keyWindow;
    QStringList m_recent;
    // Registered for every window's menus while this application runs.
    std::unique_ptr<ApplicationCommands> m_commands;
};

} // namespace phonaxis
