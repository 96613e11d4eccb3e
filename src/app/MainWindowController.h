#pragma once

#include "app/QtPrompts.h"
#include "app/panels/SettingsPanel.h"
#include "display/ProgressWork.h"
#include "hardware/BoxConnection.h"
#include "windows/ui/AnalysisWindowContext.h"

#include <QList>
#include <QMainWindow>
#include <QPointer>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QAction;
class QMenu;
class QPrinter;

namespace phonaxis {

class Application;
class EditSession;
class LabelDialog;
class LabelViewWindow;
class MainViewModel;
class MainViewPane;
class MainViewScroller;
class MyDocument;
class Prompts;
class QtPrompts;
class SoundSession;
class SpectrogramWindowController;
class VoiceReportWindow;
struct EditOutcome;
struct StatusReport;
struct LabelDialogRequest;
struct RecordingInfo;

// One document's main window: the document, its main view with the view's
// model and editing session, and the menus whose commands act on them.
// Every QAction is named by its command ("_ZoomIn:"); enabling and dynamic
// titles are evaluated when a menu is about to show, after each command,
// when the window becomes active and when the clipboard fills.
// Closing asks about unsaved changes. Files dropped on the window open.
// Main thread only; the window deletes itself when closed.
class MainWindowController : public QMainWindow {
    Q_OBJECT
public:
    // `prompts` answers the document's alerts and panels; null makes the
    // window's own dialogs (QtPrompts) modal to it.
    MainWindowController(Application& application, Prompts* prompts);
    ~MainWindowController() override;

    MyDocument& document() { return *m_document; }
    MainViewModel& viewModel() { return *m_model; }
    MainViewPane* mainView() const;
    Prompts& prompts() { return *m_prompts; }

    // Reads `path` into this window's document by its content. False (with
    // `error`) when it cannot be read or no reader recognises it; the
    // document is then unchanged.
    bool readFile(const QString& path, std::string& error);

    // The file the document was read from or last saved to ("" when new).
    const QString& filePath() const { return m_filePath; }
    // The file name shown in titles, "Untitled" for a new document.
    QString displayName() const;
    // A new document nobody has used: no file, no data, no changes, not
    // recording.
    bool isUntouchedUntitled() const;

    // The action of a command, by name.
    QAction* action(const QString& command) const;
    // Whether `command` is enabled now, by its owner's rule.
    bool isCommandEnabled(const std::string& command);
    // Re-evaluates every command's enabling and dynamic title.
    void refreshCommands();

    // Sets up the printer before printing; false cancels. By default the
    // print dialog, modal to this window; tests hand a printer writing a file.
    using PrintSetup = std::function<bool(QPrinter&)>;
    void setPrintSetup(PrintSetup setup) { m_printSetup = std::move(setup); }

    // Drives the settings panels instead of a user (tests); empty (the
    // default) runs them window-modal.
    void setPanelDriver(PanelDriver driver) { m_panelDriver = std::move(driver); }
    // Answers the progress of long commands (intensity, EGG analysis)
    // instead of a progress dialog (tests); empty (the default) shows the
    // dialog when the work takes long.
    void setProgressDriver(ProgressDriver driver) { m_progressDriver = std::move(driver); }
    // Runs the window's own sheets (Import Labels, Export Labels) instead of
    // exec() (tests); empty restores exec().
    void setSheetRunner(DialogRunner runner)
    {
        m_sheetRunner = runner ? std::move(runner) : DialogRunner(&QtPrompts::execDialog);
    }

    // Asks about unsaved changes: true when the window may close (saved, not
    // saved on purpose, or nothing to save); false on Cancel or a failed save.
    bool confirmClose();

    // What an analysis window opened from this window refers to.
    AnalysisWindowContext analysisWindowContext();
    // Makes `window` (a top-level window deleting itself on close) one of the
    // document's analysis windows: it closes with the document, and before
    // the document is replaced by a revert.
    void adoptAnalysisWindow(QWidget* window);
    // The document's analysis windows that are open, in the order opened.
    QList<QWidget*> analysisWindows() const;

signals:
    // The document's samples changed (edit, undo, smoothing): windows that
    // show them computed must compute again.
    void samplesChanged();

public slots:
    // The framework's and the document's save commands.
    bool saveDocument();
    bool saveDocumentAs();
    void fileSaveCopyAs();
    void fileSaveSelectionAs();
    void fileExportChannelAs();
    void fileExportChannelSelectionAs();
    void revertDocumentToSaved();
    // Labels from a TextGrid file: an open panel, then the Import Labels
    // sheet choosing each tier's channel; the labels are added to those
    // channels and Undo takes them away again. A file that cannot be read is
    // told and changes nothing.
    void fileImportLabels();
    // The document's labels as a TextGrid file: the Export Labels sheet
    // (tier kind, text form, encoding), then a save panel. The document is
    // not changed.
    void fileExportLabels();
    // The main view's picture as a TIFF file, through a save panel.
    void FileSaveAsPICT();
    // The main view's picture on a printer set up by the print setup.
    void printDocument();

    void EditUndo();
    void EditCut();
    void EditCopy();
    void EditPaste();
    void EditClear();
    void EditSelectAll();
    void EditSelectWindow();

    void ZoomUndo();
    void ZoomIn();
    void ZoomOut();
    void ZoomSelection();
    void ZoomCursor();
    void ZoomHome();

    void ChannelsSetReferenceAll();
    void ChannelsSetfor();
    void ChannelsSetReferenceAllZero();

    void LabelMode();
    void LabelView();

    // Settings panels; each returns the code the panel ended with
    // (SettingsPanel::kOK or kCancel).
    int OptionsDisplay();
    int OptionsZoom();
    int OptionsFFTLPC();
    int OptionsSpectrogram();
    int OptionsPitch();
    int OptionsCalibration();
    int OptionsIntensitySmooth();
    int OptionsEGG();
    int OptionsLog();

    // User configurations and the application configuration.
    void fileSaveConfiguration();
    void fileLoadConfiguration();
    // Asks, removes the application configuration and quits on "Yes".
    void fileRevertToDefaultConfiguration();

    // Intensity tracks of every channel, drawn. Long work shows progress;
    // Cancel leaves every channel's track as it was.
    void AnalysisIntensity();
    // A spectrum window of the audio channel at the marker, or over the
    // selection. Long work shows progress; Cancel opens no window.
    void AnalysisFFT();
    void AnalysisFFTSelection();
    // Asks whether to save first, backs the document up for undo and
    // smooths every channel whose smoothing is switched on.
    void AnalysisSmooth();
    // Opens a pitch window on the document's audio channel; it computes
    // its track in the background and computes again when the samples change.
    void AnalysisPitch();
    // Opens a voice report window over the selection of the channel to
    // analyse, with the EGG channel beside it (null when the channel has no
    // samples, told in an alert).
    VoiceReportWindow* AnalysisVoiceReport();
    // Open a spectrogram window over the audio channel's whole length or its
    // selection; it computes on a worker and follows the document's edits.
    // Returns the window (null when the document cannot be analysed, told
    // in an alert), so that its hand-overs can be connected.
    SpectrogramWindowController* AnalysisSpectrogram();
    SpectrogramWindowController* AnalysisSpectrogramSelection();

    // Chooses the EGG channel ("None" or a channel title).
    void EGGChannelSelect();
    // Chooses the channel the spectrum, spectrogram and pitch commands
    // analyse (the audio channel until one is chosen).
    void AnalysisChannelSelect();
    // Velocity, acceleration and cycle detection over the whole EGG
    // channel, with peaks, valleys and cycle marks drawn. Long work shows
    // progress; Cancel leaves the channel as it was.
    void EggAnalysisall();

    // The application's measurement log: a new or opened log, and the main
    // view's entries appended to it.
    void LogNew();
    void LogOpen();
    void LogMarker();
    void LogDuration();
    void LogDataSelection();
    void LogEntereggatmarker();
    void LogEntereggselection();
    void LogEntereggall();
    // Refreshes the label table when it is open and visible.
    void updateLabelView();

    // Sound-card playback of channel 0: the whole channel (a second Play
    // stops it), the selection, or the page on screen. A play command while
    // sound plays starts again from its own range.
    void Play();
    void PlaySelection();
    void PlayWindow();
    // Records a new document from the sound card, asking first whether an
    // edited new recording is to be saved. A mouse press in the view (or
    // Escape) stops it and the recording becomes the document.
    void Record();
    // The application's record/play settings.
    void OptionsRecordPlay();
    // Stops a recording under way and makes it the document (closing the
    // window or an input that stopped delivering end it the same way).
    void finishRecording();
    // Reads the box's raw recording at `path`, made with `info`, into a
    // fresh document that keeps this one's settings, and makes it the
    // document. False (told by the reader) when it cannot be read; the
    // document is then unchanged and the file is left alone.
    bool takeBoxRecording(const std::filesystem::path& path, const RecordingInfo& info);
    // Replaces the document by a sound-card recording (a float WAV file's
    // bytes) as a new, unsaved document; false, with nothing changed, when
    // the bytes cannot be read.
    bool takeSoundRecording(const TrackBuffer<std::uint8_t>& bytes);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildMenus();
    void connectCommand(QAction* action, const char* name);
    void updateMenu(QMenu* menu);
    void fillRecentMenu();
    // Builds the view model and edit session for the current document.
    void attachDocument();
    // What the view must do after an edit.
    void applyEditOutcome(const EditOutcome& outcome);
    // Selects every channel from `startMs` to `stopMs` as a drag would.
    void selectTimes(double startMs, double stopMs);
    // Saves to `path` as `type`; alerts on failure.
    bool writeDocument(const QString& path, const std::string& type);
    // Saves to `path` as `type`, first telling the user what a WAV file
    // would lose and offering a .pmf file instead.
    bool saveAsType(const QString& path, const std::string& type);
    // Save As a .pmf file, the panel starting with `path`'s name and folder.
    bool saveDocumentAsPmf(const QString& path);
    void updateTitle();
    // The folder a label file panel starts in: the document's, else home.
    std::string labelFileFolder() const;
    void afterViewChange();
    // After a reference command: marks the change, redraws, updates status.
    void referenceChanged();
    void showLabelDialog(const LabelDialogRequest& request);
    void reportStatus(const StatusReport& report);
    // Closes every analysis window (before the document closes or is replaced).
    void closeAnalysisWindows();
    // Runs `panel` once with the panel driver; the code it ended with.
    int runPanel(SettingsPanel& panel);
    // The smoothing pass over the channels that have smoothing switched on.
    void smoothChannels();
    SpectrogramWindowController* openSpectrogram(const char* command, bool selection);
    // The window's sound card, created on first use.
    SoundSession& sound();
    // Stops what this window plays, on the sound card or the box.
    void stopPlaying();
    // Plays through the acquisition box's D/A output.
    void playOnBox(int index, double start, double count);
    // Lets go of the box's playback (closing): the box plays out alone.
    void releaseBoxPlayer();
    // Plays range `code` (0 whole channel, 1 selection, 2 page).
    void playRange(int code);
    // Plays `count` samples of channel `index` from `start` for play
    // command `code` (-1: an analysis window's); the main view's play
    // cursor follows.
    void playSamples(int index, int code, double start, double count);
    // Starts the recording once the question about saving is settled.
    void DoRecord();
    // Replaces the document by `fresh` (read from `path`, "" for a new
    // recording): every window that refers to the old one lets go first.
    void adoptDocument(std::unique_ptr<MyDocument> fresh, const QString& path);

    Application& m_application;
    std::unique_ptr<QtPrompts> m_ownPrompts;
    Prompts* m_prompts; // m_ownPrompts or the application's, not owned
    std::unique_ptr<MyDocument> m_document;
    std::unique_ptr<MainViewModel> m_model;
    std::unique_ptr<EditSession> m_editSession;
    MainViewScroller* _idMainViewPane = nullptr; // owned by the window
    QPointer<LabelViewWindow> _plabelView;       // owned by the window once created
    QList<QPointer<QWidget>> m_analysisWindows;  // delete themselves on close
    QMenu* m_recentMenu = nullptr;               // owned by the menu bar
    QString m_filePath;
    PrintSetup m_printSetup; // empty: the print dialog
    PanelDriver m_panelDriver; // empty: panels run window-modal
    ProgressDriver m_progressDriver; // empty: a progress dialog
    DialogRunner m_sheetRunner = &QtPrompts::execDialog;
    SoundSession* m_sound = nullptr; // a child of the window, made on first use
    // Receives the box's playback progress while this window plays on it.
    class BoxPlayer;
    std::unique_ptr<PlayReceiver> m_boxPlayer;
};

// The document type a path is saved as: "wav", "aiff" or "aif" by its
// extension, else "pmf".
std::string saveTypeForPath(const QString& path);

} // namespace phonaxis
