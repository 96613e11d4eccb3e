// The voice report's measurement-log entries.

#include "log/VoiceLogEntries.h"

#include "windows/VoiceReport.h"

#include <cmath>
#include <initializer_list>
#include <optional>

namespace phonaxis {
namespace {

double logged(double value)
{
    return std::isfinite(value) ? value : kVoiceLogMissing;
}

void appendAll(LogRecord& record, std::initializer_list<double> values)
{
    for (const double value : values) {
        record.append(logged(value));
    }
}

// The selection, F0 and the perturbation measures every source logs.
LogRecord perturbationRecord(const std::string& name, const char* definition, double fromMs,
                             double toMs, const VoiceMeasures& m)
{
    LogRecord record;
    record.name = name;
    record.definition = definition;
    appendAll(record,
              {fromMs, toMs, m.f0MeanHz, m.f0SdHz, m.jitterLocalPct, m.jitterLocalAbsUs,
               m.jitterRapPct, m.jitterPpq5Pct, m.jitterDdpPct, m.shimmerLocalPct, m.shimmerLocalDb,
               m.shimmerApq3Pct, m.shimmerApq5Pct, m.shimmerApq11Pct, m.shimmerDdaPct});
    return record;
}

void appendQuotient(LogRecord& record, const std::optional<QuotientStatistics>& quotient)
{
    record.append(quotient ? logged(quotient->mean) : kVoiceLogMissing);
    record.append(quotient ? logged(quotient->sd) : kVoiceLogMissing);
}

} // namespace

std::vector<LogRecord> voiceReportLogRecords(const std::string& name, double fromMs, double toMs,
                                             const VoiceReport* audio, const VoiceReport* egg)
{
    std::vector<LogRecord> records;
    if (audio != nullptr && audio->ok()) {
        const VoiceMeasures& m = *audio->measures;
        LogRecord record = perturbationRecord(name, kVoiceAudioDefinition, fromMs, toMs, m);
        appendAll(record, {m.hnrDb, m.cppsDb, m.unvoicedFraction});
        record.append(m.voiceBreaks);
        record.append(m.cycles);
        records.push_back(record);
    }
    if (egg != nullptr && egg->ok()) {
        const VoiceMeasures& m = *egg->measures;
        LogRecord record = perturbationRecord(name, kVoiceEggDefinition, fromMs, toMs, m);
        record.append(m.voiceBreaks);
        record.append(m.cycles);
        for (const auto* quotient :
             {&m.closedQuotient, &m.closedQuotientHB, &m.closedQuotientPM, &m.closedQuotientHT}) {
            appendQuotient(record, *quotient);
        }
        records.push_back(record);
    }
    return records;
}

} // namespace phonaxis
