#pragma once

#include "log/LogRecord.h"

#include <string>
#include <vector>

namespace phonaxis {

struct VoiceReport;

// The voice report's measurement-log entries, shared by the voice report
// window and phonaxis-cli.

inline constexpr const char* kVoiceAudioDefinition =
    "Voice Report Entry: audio, start, end, F0 mean, F0 SD, jitter local, jitter abs., RAP, "
    "PPQ5, DDP, shimmer local, shimmer dB, APQ3, APQ5, APQ11, DDA, HNR, CPPS, unvoiced, breaks, "
    "cycles";
inline constexpr const char* kVoiceEggDefinition =
    "Voice Report Entry: EGG, start, end, F0 mean, F0 SD, jitter local, jitter abs., RAP, PPQ5, "
    "DDP, shimmer local, shimmer dB, APQ3, APQ5, APQ11, DDA, breaks, cycles, CQ, CQ SD, CQ HB, "
    "CQ HB SD, CQ PM, CQ PM SD, CQ HT, CQ HT SD";

// The value a record carries for a measure that could not be computed.
inline constexpr double kVoiceLogMissing = -1.0;

// One record per report that has measures, the audio's first, each named
// `name` (the document's display name) and holding the values its
// definition names in that order: the selection [fromMs, toMs] in ms, F0
// mean and SD in Hz, jitter and shimmer in percent (jitter abs. in µs,
// shimmer dB in dB), for the audio HNR and CPPS in dB and the unvoiced
// frames as a fraction 0..1, then the voice breaks and cycles, and for the
// EGG the mean and SD of each closed quotient. A measure the report could
// not compute (NaN, or a quotient no cycle had) is kVoiceLogMissing. A null
// report, or one with only a message, gives no record.
std::vector<LogRecord> voiceReportLogRecords(const std::string& name, double fromMs, double toMs,
                                             const VoiceReport* audio, const VoiceReport* egg);

} // namespace phonaxis
