// The main view's measurement-log entries: marker, duration and data selection.

#include "log/LogEntries.h"

#include "document/MyDocument.h"
#include "log/LogTable.h"

#include <algorithm>
#include <cmath>

namespace phonaxis {

namespace {

bool channelShown(const MyDocument& document, int index)
{
    return document.getChannel(index).m_bShow;
}

int channelsInUse(const MyDocument& document)
{
    return document.channelsInUse();
}

} // namespace

bool canLogMarker(const MyDocument& document, bool logWindowVisible)
{
    return logWindowVisible && document.m_bHaveData && document.m_bHaveMarker;
}

bool canLogDuration(const MyDocument& document, bool logWindowVisible)
{
    return logWindowVisible && document.m_bHaveData && document.m_bHaveSelection;
}

bool canLogDataSelection(const MyDocument& document, bool logWindowVisible)
{
    return canLogDuration(document, logWindowVisible);
}

LogRecord markerLogRecord(const MyDocument& document, const std::string& displayName)
{
    LogRecord record;
    record.name = displayName;
    record.definition = "Marker Entry: time";
    record.append(document.getChannel(0).m_dMarkerTime);
    for (int i = 0; i < channelsInUse(document); ++i) {
        if (!channelShown(document, i)) {
            continue;
        }
        const Channels& channel = document.getChannel(i);
        record.definition += i == 0 ? " ,Audio" : " ,cha# " + std::to_string(i);
        // Narrowed to single precision, as the status read-out shows it.
        record.append(static_cast<float>(channel.CalibrateNew(channel.m_dMarkerDataValue)));
    }
    return record;
}

LogRecord durationLogRecord(const MyDocument& document, const std::string& displayName)
{
    const Channels& first = document.getChannel(0);
    LogRecord record;
    record.name = displayName;
    record.definition = "Duration Entry: start, end, duration ";
    record.append(first.m_dDurationStartTime);
    record.append(first.m_dDurationStopTime);
    record.append(first.m_dDurationStopTime - first.m_dDurationStartTime);
    return record;
}

DataSelectionLogResult logDataSelection(MyDocument& document, const std::string& displayName,
                                        LogTable& log)
{
    const double stepMs = document.m_dLogStepSize;
    if (!(stepMs > 0.0)) {
        return {DataSelectionLogStatus::NonPositiveStep, 0};
    }
    const double startMs = document.getChannel(0).m_dDurationStartTime;
    const double stopMs = document.getChannel(0).m_dDurationStopTime;
    // Times are start + i × step rather than a running sum, so a step too
    // small to move a large time still ends, and rounding does not build up.
    const auto timeAt = [&](std::size_t i) { return startMs + static_cast<double>(i) * stepMs; };
    std::size_t rows = 0;
    while (timeAt(rows) < stopMs) {
        if (rows == kMaxDataSelectionRows) {
            return {DataSelectionLogStatus::TooManyRows, 0};
        }
        ++rows;
    }

    LogRecord record;
    record.name = displayName;
    record.definition = "Data Selection Entry: time";
    for (int c = 0; c < channelsInUse(document); ++c) {
        if (channelShown(document, c)) {
            record.definition += " ,cha";
        }
    }
    for (std::size_t i = 0; i < rows; ++i) {
        const double timeMs = timeAt(i);
        record.count = 0;
        record.append(timeMs);
        for (int c = 0; c < channelsInUse(document); ++c) {
            if (channelShown(document, c)) {
                record.append(document.getChannel(c).GetCursorValue_Time(timeMs));
            }
        }
        log.AddLog(record, false);
    }
    log.Refresh();
    return {DataSelectionLogStatus::Logged, rows};
}

} // namespace phonaxis
