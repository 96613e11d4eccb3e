#pragma once

#include "log/LogEntries.h"
#include "log/LogRecord.h"
#include "log/LogTable.h"

#include <functional>
#include <memory>
#include <string>

namespace phonaxis {

class LogWindow;
class MyDocument;
class Prompts;
class QtPrompts;

// The application-wide owner of the one measurement log (gLogView): the
// LogTable and the window that shows it, created on first use and kept for
// the whole run (closing the window only hides it). Runs the application's
// log commands ("_LogNew:", "_LogOpen:") and the main view's log entries.
// Main thread only.
class LogController {
public:
    // Receives diagnostic console lines (each ends in LF).
    using ConsoleSink = std::function<void(const std::string&)>;

    // Title of a window that shows a log not read from or saved to a file.
    static constexpr const char* kUntitledTitle = "Log";

    // `prompts` answers the alerts and panels when given (tests); otherwise
    // they are dialogs on the log window. `console` receives diagnostic lines;
    // by default they go to standard error. `prompts` must outlive this.
    explicit LogController(Prompts* prompts = nullptr, ConsoleSink console = {});
    ~LogController();
    LogController(const LogController&) = delete;
    LogController& operator=(const LogController&) = delete;

    LogTable& table() { return m_table; }
    const LogTable& table() const { return m_table; }
    // The log window; null before the first log command.
    LogWindow* window() const { return m_window.get(); }
    // Whether the log window exists and is shown.
    bool isVisible() const;

    // "_LogNew:": creates the window if missing, empties the log without
    // asking and brings the window to the front.
    void LogNew();
    // "_LogOpen:": an open panel (files and folders). Each chosen path in
    // order replaces the log; the first one that cannot be read as a log
    // writes "Error reading file at <path>\n" to the console and ends the
    // command. The window title becomes the file's last path component.
    void LogOpen();

    // Appends one record (see LogTable::AddLog).
    void add(const LogRecord& record, bool refresh);

    // Whether a log command is enabled: "_LogNew:" and "_LogOpen:" (no
    // document needed), "_LogSave:" and "_LogSaveas:" (the log window's), and
    // the main-view entries "_LogMarker:", "_LogDuration:",
    // "_LogDataSelection:", "_LogEntereggatmarker:", "_LogEntereggselection:"
    // and "_LogEntereggall:" on `document` (false without one). False for any
    // other command.
    bool validateMenuItem(const std::string& command, const MyDocument* document = nullptr) const;

    // --- main-view entries (`displayName` is the document's file name) ---

    // "_LogMarker:": one marker record, shown at once.
    void logMarker(const MyDocument& document, const std::string& displayName);
    // "_LogDuration:": one duration record, shown at once.
    void logDuration(const MyDocument& document, const std::string& displayName);
    // "_LogDataSelection:": one record per log step over the selection. A
    // step that is not positive, or one so fine that the selection would
    // need too many rows, adds nothing and tells the user why through
    // `prompts` (the document window's; the controller's own when null).
    DataSelectionLogResult logDataSelection(MyDocument& document, const std::string& displayName,
                                            Prompts* prompts = nullptr);
    // "_LogEntereggatmarker:": the EGG channel's marker record, shown at once.
    void logEggAtMarker(MyDocument& document, const std::string& displayName);
    // "_LogEntereggselection:": one record per EGG cycle inside the selection.
    // Returns the number of records added. Before the EGG channel has been
    // analysed it adds nothing and tells the user to run the analysis
    // through `prompts` (the document window's; the controller's own when
    // null).
    std::size_t logEggSelection(const MyDocument& document, const std::string& displayName,
                                Prompts* prompts = nullptr);
    // "_LogEntereggall:": one record per EGG cycle. Returns the number added;
    // before any analysis, as the selection entry.
    std::size_t logEggAll(const MyDocument& document, const std::string& displayName,
                          Prompts* prompts = nullptr);

    // Refusal texts of the data-selection entry.
    static constexpr const char* kDataSelectionRefusedTitle = "Cannot log the data selection";
    static constexpr const char* kNonPositiveStepMessage =
        "The log step size must be greater than 0 ms. Set it in the log options.";
    // Refusal texts of the EGG cycle entries before any EGG analysis.
    static constexpr const char* kEggNotAnalysedTitle = "Run EGG Analysis first";
    static constexpr const char* kEggNotAnalysedMessage =
        "The EGG channel has no cycles to log yet. Choose EGG Analysis in the Analysis menu, "
        "then enter them.";
    static constexpr const char* kTooManyRowsMessage =
        "The log step size is too small for this selection: it would add more than "
        "100000 rows. Choose a larger step in the log options.";

private:
    // Creates the window when missing.
    LogWindow& ensureWindow();
    Prompts& prompts();
    void console(const std::string& line) const;
    std::size_t addCycleRecords(const MyDocument& document, const std::string& displayName,
                                bool selectionOnly, Prompts* sheetPrompts);

    LogTable m_table;
    Prompts* m_injectedPrompts;             // not owned; may be null
    std::unique_ptr<QtPrompts> m_ownPrompts; // dialogs on the log window
    ConsoleSink m_console;
    std::unique_ptr<LogWindow> m_window;
};

} // namespace phonaxis
