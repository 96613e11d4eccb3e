#pragma once

#include "log/LogRecord.h"

#include <string>
#include <vector>

namespace phonaxis {

class Channels;
class MyDocument;

// The main view's EGG log entries, built from the document's assigned EGG
// channel (m_nEGGChannelIndex). `displayName` is the document's display name
// (its file name). Main thread only.
//
// The caller adds the marker record with the log's immediate refresh, and
// the cycle records without it followed by one refresh of the log.

inline constexpr const char* kEggMarkerDefinition = "EGG Entries: time, value, Velocity";
inline constexpr const char* kEggCycleDefinition =
    "EGG Entries: TCstart, TCend, TOend, CQ, CQ_H, CQ_PM, CQ_HT, peak_Vel, peak_Vel_Time";

// The assigned EGG channel, or nullptr when none is assigned or the index is
// not a channel in use.
Channels* eggChannel(MyDocument& document);
const Channels* eggChannel(const MyDocument& document);

// "_LogEntereggall:": the log window visible, data and an EGG channel.
bool canLogEggAll(const MyDocument& document, bool logWindowVisible);
// "_LogEntereggatmarker:": the same and a marker.
bool canLogEggAtMarker(const MyDocument& document, bool logWindowVisible);
// "_LogEntereggselection:": the same and a selection.
bool canLogEggSelection(const MyDocument& document, bool logWindowVisible);

// The marker entry: the EGG channel's marker time (ms), its stored marker
// value (uncalibrated) and its velocity at the marker time (the cached
// velocity when no track has been computed). Without an EGG channel the
// record carries the definition and no values.
LogRecord eggMarkerLogRecord(MyDocument& document, const std::string& displayName);

// One record per cycle but the last: P1 time, P2 time, the next cycle's P1
// time, the four closed quotients, peak velocity and its time. With
// `selectionOnly`, only cycles whose P1 lies after the EGG channel's
// selection start and whose P2 lies before its stop (both strict). Fewer
// than two cycles, or no EGG channel, give no records.
std::vector<LogRecord> eggCycleLogRecords(const MyDocument& document,
                                          const std::string& displayName, bool selectionOnly);

} // namespace phonaxis
