// The main view's EGG measurement-log entries: marker, selection and all cycles.

#include "log/EggLogEntries.h"

#include "document/MyDocument.h"

#include <utility>

namespace phonaxis {

const Channels* eggChannel(const MyDocument& document)
{
    const int index = document.m_nEGGChannelIndex;
    if (index < 0 || index >= document.channelsInUse()) {
        return nullptr;
    }
    return &document.getChannel(index);
}

Channels* eggChannel(MyDocument& document)
{
    const int index = document.m_nEGGChannelIndex;
    if (index < 0 || index >= document.channelsInUse()) {
        return nullptr;
    }
    return &document.getChannel(index);
}

bool canLogEggAll(const MyDocument& document, bool logWindowVisible)
{
    return logWindowVisible && document.m_bHaveData && eggChannel(document) != nullptr;
}

bool canLogEggAtMarker(const MyDocument& document, bool logWindowVisible)
{
    return canLogEggAll(document, logWindowVisible) && document.m_bHaveMarker;
}

bool canLogEggSelection(const MyDocument& document, bool logWindowVisible)
{
    return canLogEggAll(document, logWindowVisible) && document.m_bHaveSelection;
}

LogRecord eggMarkerLogRecord(MyDocument& document, const std::string& displayName)
{
    LogRecord record;
    record.name = displayName;
    record.definition = kEggMarkerDefinition;
    Channels* channel = eggChannel(document);
    if (channel == nullptr) {
        return record;
    }
    record.append(channel->m_dMarkerTime);
    record.append(channel->m_dMarkerDataValue);
    record.append(channel->GetVelocityCursorValue_Time(channel->m_dMarkerTime));
    return record;
}

std::vector<LogRecord> eggCycleLogRecords(const MyDocument& document,
                                          const std::string& displayName, bool selectionOnly)
{
    std::vector<LogRecord> records;
    const Channels* channel = eggChannel(document);
    if (channel == nullptr) {
        return records;
    }
    const std::vector<ArrayCycle>& cycles = channel->m_pArrayCycle;
    for (std::size_t i = 0; i + 1 < cycles.size(); ++i) {
        const ArrayCycle& c = cycles[i];
        if (selectionOnly && !(c.dTimeP1 > channel->m_dDurationStartTime &&
                               c.dTimeP2 < channel->m_dDurationStopTime)) {
            continue;
        }
        LogRecord record;
        record.name = displayName;
        record.definition = kEggCycleDefinition;
        for (const double value :
             {c.dTimeP1, c.dTimeP2, cycles[i + 1].dTimeP1, c.dClosedQuotient,
              c.dClosedQuotientHB, c.dClosedQuotientPM, c.dClosedQuotientHT,
              c.dPeakVelocityValue, c.dPeakVelocityTime}) {
            record.append(value);
        }
        records.push_back(std::move(record));
    }
    return records;
}

} // namespace phonaxis
