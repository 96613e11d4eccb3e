#pragma once

#include "display/GraphAxes.h"
#include "display/PictureExport.h"
#include "windows/ui/AnalysisWindowContext.h"

#include <QMainWindow>
#include <QSize>

#include <functional>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QProgressBar;
class QPushButton;
class QScrollBar;
class QTimer;
class QVBoxLayout;

namespace phonaxis {

class Channels;
class MyDocument;

// A readout's number: `decimals` decimals, no padding, never "-0.0"; empty
// for a value that is not finite.
QString readoutNumber(double value, int decimals);

// One enabling rule of a window's command: whether `command` is enabled.
struct CommandRule {
    const char* command;
    bool enabled;
};

// The rule for `command` among `rules`; a command without one is enabled.
bool enabledByRules(std::span<const CommandRule> rules, const std::string& command);

// The rules of the commands every analysis window shares, for a window
// showing a graph (`shown`) with or without a selection and a marker: the
// picture and the printout need a graph, the zoom commands a graph and,
// zooming to them, the selection or the marker. Nothing for other commands.
std::optional<bool> sharedCommandRule(const std::string& command, bool shown, bool selection,
                                      bool marker);

// One menu of an analysis window: its title and its commands (nullptr: a
// separator).
struct AnalysisMenu {
    const char* title;
    std::span<const char* const> commands;
};

// What the spectrum, spectrogram and pitch windows have in common: the
// document's context, menus whose actions are named by their commands and
// enabled by the window's own rules (when a menu shows, after every change
// and when the window becomes active), Save as Picture… and Print… of the
// window's graph, and for the windows that compute on a worker the info
// line, the readouts row, the graph, a time scroll bar and the progress row
// (status, progress bar, Cancel). Each window adds only what is its own: its
// commands' rules, its computation, its readouts and its log entries. Main
// thread only; deletes itself when closed.
class AnalysisWindowShell : public QMainWindow {
    Q_OBJECT
public:
    // The window's action of a command, or null.
    QAction* action(const QString& command) const;
    QAction* action(const std::string& command) const;
    QAction* action(const char* command) const;
    // Whether `command` is enabled now, by the window's own rules.
    virtual bool isCommandEnabled(const std::string& command) const = 0;
    // Enables every command action by isCommandEnabled.
    void refreshCommands();
    // Which channel of the document the window analyses.
    int analysedChannelIndex() const { return m_nChannel; }

    // Channel `index` of `document` (-1, or one it does not have: its audio
    // channel) when that has samples, else null with `why` saying so.
    static const Channels* channelWithSamples(const MyDocument& document, int index,
                                              std::string* why = nullptr);
    // Why channel `index` of `document` cannot be analysed: it has no
    // samples (as channelWithSamples tells), else what `check` finds in it.
    // Nothing when it can be.
    static std::optional<std::string> whyNotAnalysable(
        const MyDocument& document, int index,
        const std::function<std::optional<std::string>(const Channels&)>& check);

public slots:
    // The graph as a picture file (PNG, PDF, SVG or TIFF), through a save
    // panel; nothing while there is no graph.
    void SaveasPict();
    // The graph on a printer set up by the context's print setup.
    void printDocument();
    // Stops a computation running (the windows that compute on a worker).
    virtual void cancelComputation() {}
    // Zoom (the windows with a Zoom menu): undo, in (the middle half), out
    // (twice as long), to the selection, to one second from the marker,
    // home (the whole channel).
    void ZoomUndo() { zoom("_ZoomUndo:", 0); }
    void ZoomIn() { zoom("_ZoomIn:", 1); }
    void ZoomOut() { zoom("_ZoomOut:", 2); }
    void ZoomSelection() { zoom("_ZoomSelection:", 3); }
    void ZoomCursor() { zoom("_ZoomCursor:", 4); }
    void ZoomHome() { zoom("_ZoomHome:", 5); }

protected:
    // `subject` names what the window shows in messages and accessible
    // names ("pitch track", "spectrogram", "spectrum"). The window's title
    // is `titlePrefix` ("Pitch::", with a blank after it), the document's
    // name and the analysed channel's title in parentheses.
    AnalysisWindowShell(AnalysisWindowContext context, const char* objectName,
                        const char* subject, const char* titlePrefix);
    // The caption line of the window's pictures: the document's name, the
    // analysed channel and [fromMs, toMs] (the same for a time).
    GraphCaption pictureCaption(double fromMs, double toMs) const;

    // Adds `menus` to the menu bar, then the application's menus. Each
    // command runs the window's slot of the same name ("_LogPitchAll:" runs
    // LogPitchAll(), "SaveasPict:" SaveasPict()); "performClose:" closes
    // the window.
    void addMenus(std::initializer_list<AnalysisMenu> menus);

    // The contents of a computing window: the info line, the readouts row
    // (the time readout named `timeName`, the window's own `readouts` made
    // with readoutLabel, the selection's duration "_durationReadout"),
    // `view`, a time scroll bar (hidden until zoomed) and the progress row.
    // The other object names start with `namePrefix` ("_pitch":
    // "_pitchInfo", "_pitchStatus", "_pitchProgress", "_pitchCancel",
    // "_pitchScroller"); `view` becomes the graph view. Every row keeps its
    // height whatever it shows, so that the graph's size does not jump.
    // While a computation runs, pollWorker runs every `pollMs`.
    void buildContents(const char* namePrefix, const char* timeName,
                       std::initializer_list<QLabel*> readouts, QWidget* view, int pollMs);
    // Polls the worker: its progress, and its result once it is done.
    virtual void pollWorker() {}
    // The time readout ("Time: 12.5 ms") and the selection's duration
    // ("Duration: 40.0 ms"); empty without a value.
    void showTimeReadouts(std::optional<double> timeMs, std::optional<double> durationMs);
    // The document's name as log records carry it.
    std::string documentName() const;
    // Appends `records` to the measurement log and shows it (nothing
    // without a log to add to).
    void logRecords(const std::vector<LogRecord>& records);

    // A selectable text line named `objectName` for the screen reader's
    // `accessible`.
    QLabel* readoutLabel(const char* objectName, const QString& accessible);
    // The status line (hidden when empty) with the progress bar and Cancel
    // shown while computing.
    void showProgress(bool computing, const QString& status);
    void setProgress(int percent);
    // The computation is over (done, cancelled or failed): polling stops,
    // `status` shows in place of the progress and the commands follow.
    void endComputation(const QString& status);
    // The scroll bar for a page [startMs, startMs + spanMs] of a channel
    // `lengthMs` long: shown while the page is narrower than the channel.
    void followPage(double startMs, double spanMs, double lengthMs);
    // The scroll bar moved by the user to `startMs` (the last position:
    // `atEnd`).
    virtual void pageScrolled(double startMs, bool atEnd);
    // Zoom command `command` (mode 0 … 5 as the Zoom slots) when enabled.
    virtual void zoom(const char* /*command*/, int /*mode*/) {}

    // The graph as pictures and printouts draw it, at the view's size; an
    // empty drawing while there is none.
    virtual GraphDrawing pictureDrawing() const = 0;
    // The view the graph is drawn in: its size is the pictures' (set by
    // buildContents, or by the window).
    QWidget* m_graphView = nullptr;

    void changeEvent(QEvent* event) override;

    AnalysisWindowContext m_context;
    int m_nChannel = -1; // the analysed channel; -1 until chosen
    QLabel* m_info = nullptr;
    QLabel* m_time = nullptr;
    QLabel* m_duration = nullptr;
    QLabel* m_status = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_cancel = nullptr;
    QScrollBar* m_scroller = nullptr;
    QTimer* m_poll = nullptr;

private:
    void scrolled(int valueMs);

    const char* m_subject;
    QWidget* m_central = nullptr;
    bool m_bFollowing = false; // the scroll bar is being set, not scrolled
};

} // namespace phonaxis
