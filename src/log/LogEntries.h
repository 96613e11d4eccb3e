#pragma once

#include "log/LogRecord.h"

#include <cstddef>
#include <string>

namespace phonaxis {

class LogTable;
class MyDocument;

// The main view's log entries: records built from a document's first
// channel and its shown channels, and the rules that enable the commands.
// `displayName` is the document's display name (its file name). Main thread
// only.

// "_LogMarker:": enabled with the log window visible, data and a marker.
bool canLogMarker(const MyDocument& document, bool logWindowVisible);
// "_LogDuration:" and "_LogDataSelection:": enabled with the log window
// visible, data and a selection.
bool canLogDuration(const MyDocument& document, bool logWindowVisible);
bool canLogDataSelection(const MyDocument& document, bool logWindowVisible);

// The marker entry: channel 0's marker time (ms), then for each shown channel
// in order its calibrated marker value. The definition names them:
// "Marker Entry: time", then " ,Audio" for channel 0 and " ,cha# <index>"
// for the others.
LogRecord markerLogRecord(const MyDocument& document, const std::string& displayName);

// The duration entry: channel 0's selection start, stop and stop − start (ms).
LogRecord durationLogRecord(const MyDocument& document, const std::string& displayName);

// How a data-selection entry ended.
enum class DataSelectionLogStatus {
    Logged,          // the rows were added (possibly none, for an empty selection)
    NonPositiveStep, // the document's log step is 0, negative or not a number
    TooManyRows,     // the step would produce more than kMaxDataSelectionRows rows
};

struct DataSelectionLogResult {
    DataSelectionLogStatus status = DataSelectionLogStatus::Logged;
    std::size_t rows = 0; // rows added
};

// More rows than one data-selection entry may add; a finer step over a long
// selection is refused rather than filling memory.
inline constexpr std::size_t kMaxDataSelectionRows = 100'000;

// The data-selection entry: one record per time t = start + i × step
// (m_dLogStepSize, ms) from channel 0's selection start while t < its stop,
// holding t and each shown channel's stored value at t (GetCursorValue_Time,
// not calibrated), under the definition "Data Selection Entry: time" followed
// by " ,cha" per shown channel. Records are added without refresh and the log
// is refreshed once at the end. A refused entry adds nothing.
DataSelectionLogResult logDataSelection(MyDocument& document, const std::string& displayName,
                                        LogTable& log);

} // namespace phonaxis
