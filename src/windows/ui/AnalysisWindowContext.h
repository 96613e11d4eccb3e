#pragma once

#include "display/ProgressWork.h"
#include "log/LogRecord.h"

#include <QString>

#include <functional>
#include <vector>

class QPrinter;

namespace phonaxis {

class MinMaxSummary;
class MyDocument;
class Prompts;

// What an analysis window (spectrum, spectrogram, pitch) needs from the document window
// that opens it. The document window owns the document and closes its
// analysis windows before the document goes (closing, reverting), so the
// document outlives every window that refers to it.
struct AnalysisWindowContext {
    MyDocument* document = nullptr; // the window's document; not owned
    // The channel to analyse: the one the user picked in the document
    // window; -1 (or a channel the document does not have) is the
    // document's audio channel.
    int channel = -1;
    Prompts* prompts = nullptr; // alerts and save panels; not owned
    // The document's name as titles and log records show it ("Untitled").
    std::function<QString()> displayName;
    // Whether the measurement log window is shown (the log entries' enabling).
    std::function<bool()> logVisible;
    // Appends one record to the measurement log and shows it (AddLog with 1).
    std::function<void(const LogRecord&)> addLog;
    // Appends many records to the measurement log and shows them once (AddLog
    // with 0 for each, then Refresh). Empty: addLog for each.
    std::function<void(const std::vector<LogRecord>&)> addLogRecords;
    // Sets up the printer before printing; false cancels. Empty: the print dialog.
    std::function<bool(QPrinter&)> printSetup;
    // The document window's min/max summary of channel `index`, kept
    // current with its samples (null: none). Empty: no summaries.
    std::function<const MinMaxSummary*(int index)> channelSummary;
    // Answers long computations' progress instead of a dialog (tests).
    ProgressDriver progressDriver;
    // Plays `count` samples of channel `index` from sample `start` through
    // the document window's sound card, in place of whatever plays; a
    // failure is told in an alert. Empty: no playback.
    std::function<void(int index, double start, double count)> play;
};

} // namespace phonaxis
