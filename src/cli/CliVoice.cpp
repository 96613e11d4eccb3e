#include "cli/CliVoice.h"

#include "cli/CliAnalysis.h"
#include "cli/CliCommands.h"
#include "cli/CliLabels.h"
#include "cli/CliSession.h"
#include "cli/CliTable.h"
#include "document/MyDocument.h"
#include "log/VoiceLogEntries.h"
#include "model/Channels.h"
#include "windows/PitchAnalysis.h"
#include "windows/VoiceReport.h"

#include <cmath>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace phonaxis::cli {

namespace {

// The named columns after file and channel, in the order of a row.
const std::vector<std::string> kVoiceColumns = {"source",
                                                "from_ms",
                                                "to_ms",
                                                "f0_mean_hz",
                                                "f0_sd_hz",
                                                "jitter_local_pct",
                                                "jitter_local_abs_us",
                                                "jitter_rap_pct",
                                                "jitter_ppq5_pct",
                                                "jitter_ddp_pct",
                                                "shimmer_local_pct",
                                                "shimmer_local_db",
                                                "shimmer_apq3_pct",
                                                "shimmer_apq5_pct",
                                                "shimmer_apq11_pct",
                                                "shimmer_dda_pct",
                                                "hnr_db",
                                                "cpps_db",
                                                "unvoiced_pct",
                                                "voice_breaks",
                                                "cycles",
                                                "cq_mean",
                                                "cq_sd",
                                                "cq_hb_mean",
                                                "cq_hb_sd",
                                                "cq_pm_mean",
                                                "cq_pm_sd",
                                                "cq_ht_mean",
                                                "cq_ht_sd"};

void addQuotient(std::vector<Table::Cell>& row, const std::optional<QuotientStatistics>& q)
{
    row.push_back(q ? numberCell(q->mean) : Table::Cell{});
    row.push_back(q && q->cycles > 1 ? numberCell(q->sd) : Table::Cell{});
}

void addRowOf(Table& table, const Session& session, int channel, const char* source, double fromMs,
              double toMs, const VoiceMeasures& m)
{
    std::vector<Table::Cell>& row = addRow(table, session, channel);
    row.push_back(std::string(source));
    for (const double value : {fromMs,
                               toMs,
                               m.f0MeanHz,
                               m.f0SdHz,
                               m.jitterLocalPct,
                               m.jitterLocalAbsUs,
                               m.jitterRapPct,
                               m.jitterPpq5Pct,
                               m.jitterDdpPct,
                               m.shimmerLocalPct,
                               m.shimmerLocalDb,
                               m.shimmerApq3Pct,
                               m.shimmerApq5Pct,
                               m.shimmerApq11Pct,
                               m.shimmerDdaPct,
                               m.hnrDb,
                               m.cppsDb,
                               100.0 * m.unvoicedFraction,
                               static_cast<double>(m.voiceBreaks),
                               static_cast<double>(m.cycles)}) {
        row.push_back(numberCell(value));
    }
    addQuotient(row, m.closedQuotient);
    addQuotient(row, m.closedQuotientHB);
    addQuotient(row, m.closedQuotientPM);
    addQuotient(row, m.closedQuotientHT);
}

// The EGG channel: --egg-channel N, else the file's EGG channel when it has
// one apart from the audio channel; -1 for none. 0, or the exit status after
// a message.
int eggChannel(const Options& options, Session& session, int audio, int& egg, std::ostream& err)
{
    MyDocument& document = session.document();
    egg = -1;
    if (options.eggChannel) {
        if (*options.eggChannel >= document.channelsInUse()) {
            return usage(err, "--egg-channel " + std::to_string(*options.eggChannel) +
                                  " is beyond the file's " +
                                  std::to_string(document.channelsInUse()) +
                                  " channels (counted from 0)");
        }
        if (*options.eggChannel == audio) {
            return usage(err, "--egg-channel " + std::to_string(*options.eggChannel) +
                                  " is the audio channel analysed");
        }
        egg = *options.eggChannel;
    } else if (document.m_nEGGChannelIndex >= 0 &&
               document.m_nEGGChannelIndex < document.channelsInUse() &&
               document.m_nEGGChannelIndex != audio) {
        egg = document.m_nEGGChannelIndex;
    }
    if (egg < 0) {
        return kExitOk;
    }
    // A WAV file opened from its header holds the analysed channel's
    // samples only: the EGG channel's are read too.
    if (session.reader && session.reader->headerOnly() &&
        document.getChannel(egg).samples().empty()) {
        std::string error;
        if (!session.reader->readSamples(document, egg, 0, std::numeric_limits<std::int64_t>::max(),
                                         error)) {
            return failure(err, error);
        }
    }
    return kExitOk;
}

} // namespace

int voiceCommand(const Options& options, std::ostream& out, std::ostream& err)
{
    Session session;
    Channels* audio = nullptr;
    int index = -1;
    if (const int status = openAudioAnalysis(options, "voice", session, audio, index, err)) {
        return status;
    }
    int egg = -1;
    if (const int status = eggChannel(options, session, index, egg, err)) {
        return status;
    }
    MyDocument& document = session.document();
    const double fromMs = options.fromMs.value_or(0.0);
    const double toMs = options.toMs.value_or(audio->m_dLengthMS);
    VoiceSettings settings;
    settings.pitch = PitchParameters::fromDocument(document);

    const VoiceReport audioReport = audioVoiceReport(*audio, fromMs, toMs, settings);
    std::optional<VoiceReport> eggReport;
    if (egg >= 0) {
        Channels& eggChannel = document.getChannel(egg);
        document.m_nEGGChannelIndex = egg;
        if (eggChannel.EggAnalysisAll()) {
            eggReport = eggVoiceReport(eggChannel, fromMs, toMs, settings);
        } else {
            VoiceReport none;
            none.message = "no EGG cycles could be computed";
            eggReport = none;
        }
    }
    // A source without measures says why; the other is still reported.
    if (!audioReport.ok()) {
        err << "phonaxis-cli: audio (channel " << index << "): " << audioReport.message << "\n";
    }
    if (eggReport && !eggReport->ok()) {
        err << "phonaxis-cli: EGG (channel " << egg << "): " << eggReport->message << "\n";
    }
    if (!audioReport.ok() && !(eggReport && eggReport->ok())) {
        return kExitFailure;
    }

    const std::vector<LogRecord> records = voiceReportLogRecords(
        session.displayName, fromMs, toMs, audioReport.ok() ? &audioReport : nullptr,
        eggReport && eggReport->ok() ? &*eggReport : nullptr);
    return printRecords(
        records,
        [&] {
            Table table = namedTable(kVoiceColumns);
            if (audioReport.ok()) {
                addRowOf(table, session, index, "audio", fromMs, toMs, *audioReport.measures);
            }
            if (eggReport && eggReport->ok()) {
                addRowOf(table, session, egg, "egg", fromMs, toMs, *eggReport->measures);
            }
            return table;
        },
        options, out);
}

} // namespace phonaxis::cli
