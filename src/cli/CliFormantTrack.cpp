#include "cli/CliFormantTrack.h"

#include "cli/CliAnalysis.h"
#include "cli/CliCommands.h"
#include "cli/CliSession.h"
#include "cli/CliTable.h"
#include "document/MyDocument.h"
#include "log/LogTable.h"
#include "windows/FormantTrack.h"

#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace phonaxis::cli {

namespace {

constexpr int kFormants = FormantTrackRow::kFormants;

// Writes a track block by block in the form the options ask for, exactly as
// the whole track would be written at once: one header (log format, table
// or CSV) or one JSON array around all the blocks.
class TrackWriter {
public:
    TrackWriter(const Options& options, const Session& session, int channel, std::ostream& out)
        : m_options(options), m_session(session), m_channel(channel), m_out(out)
    {
        for (const char letter : {'F', 'B'}) {
            const std::vector<std::string> names = numberedColumns(letter, kFormants);
            m_columns.insert(m_columns.end(), names.begin(), names.end());
        }
    }

    // Writes a block of rows (never empty); false once the output cannot be
    // written.
    bool write(std::span<const FormantTrackRow> rows)
    {
        std::vector<LogRecord> records;
        records.reserve(rows.size());
        for (const FormantTrackRow& row : rows) {
            records.push_back(FormantTrackLog::record(m_session.displayName, row));
        }
        std::ostringstream text;
        if (m_options.table) {
            writeTsv(named(rows), text);
        } else if (m_options.csv) {
            writeCsv(named(rows), text);
        } else if (m_options.json) {
            const Table table = named(rows);
            writeLogJson(records, text, &table);
        } else {
            writeLogText(records, text);
        }
        if (m_options.json) {
            putJson(text.str());
        } else {
            put(text.str());
        }
        m_bStarted = true;
        return static_cast<bool>(m_out);
    }

    // The end of the output; all of it for a track without rows.
    bool finish()
    {
        if (!m_bStarted) {
            const Table table = named({});
            if (m_options.table) {
                writeTsv(table, m_out);
            } else if (m_options.csv) {
                writeCsv(table, m_out);
            } else if (m_options.json) {
                writeLogJson({}, m_out, &table);
            } else {
                writeLogText({}, m_out);
            }
        } else if (m_options.json) {
            m_out << "\n]\n";
        }
        return static_cast<bool>(m_out);
    }

private:
    Table named(std::span<const FormantTrackRow> rows) const
    {
        std::vector<std::string> columns = {"time_ms"};
        columns.insert(columns.end(), m_columns.begin(), m_columns.end());
        Table table = namedTable(std::move(columns));
        for (const FormantTrackRow& track : rows) {
            std::vector<Table::Cell>& row = addRow(table, m_session, m_channel);
            row.push_back(numberCell(track.timeMs));
            for (const double f : track.frequencyHz) {
                row.push_back(formantCell(f));
            }
            for (int i = 0; i < kFormants; ++i) {
                const auto slot = static_cast<std::size_t>(i);
                row.push_back(track.frequencyHz[slot] > 0.0 ? formantCell(track.bandwidthHz[slot])
                                                            : Table::Cell{});
            }
        }
        return table;
    }

    // A block's text; after the first its header line is the one already written.
    void put(const std::string& text)
    {
        if (!m_bStarted) {
            m_out << text;
            return;
        }
        const std::size_t header = text.find('\n');
        if (header != std::string::npos) {
            m_out << std::string_view(text).substr(header + 1);
        }
    }

    // A block's JSON array "[\n  {…},\n  {…}\n]\n" becomes part of the one
    // array: its records, after a comma when some came before; finish()
    // closes the array.
    void putJson(const std::string& text)
    {
        constexpr std::string_view kClose = "\n]\n";
        std::string_view body(text);
        if (body.starts_with('[') && body.ends_with(kClose)) {
            body = body.substr(1, body.size() - 1 - kClose.size());
        }
        m_out << (m_bStarted ? "," : "[") << body;
    }

    const Options& m_options;
    const Session& m_session;
    int m_channel = 0;
    std::ostream& m_out;
    std::vector<std::string> m_columns;
    bool m_bStarted = false;
};

} // namespace

int formantTrackCommand(const Options& options, std::ostream& out, std::ostream& err)
{
    Session session;
    Channels* audio = nullptr;
    int index = -1;
    if (const int status =
            openAudioAnalysis(options, "formant-track", session, audio, index, err,
                              /*stretchOnly=*/true)) {
        return status;
    }
    const double rateHz = audio->m_dSampleRate;
    const double stepMs = options.stepMs.value_or(kDefaultFormantStepMs);
    // Rows closer than one sample would analyse the same samples again.
    const double sampleMs = 1000.0 / rateHz;
    if (stepMs < sampleMs) {
        return usage(err, "--step " + messageNumber(stepMs, 6) +
                              " ms is shorter than one sample at " + messageNumber(rateHz) +
                              " Hz (" + messageNumber(sampleMs) + " ms)");
    }
    FormantTrackInput input;
    input.samples = audio->samples();
    input.first = 0;
    input.sampleRate = rateHz;
    input.stepMs = stepMs;
    input.fromMs = options.fromMs.value_or(0.0);
    input.toMs = options.toMs.value_or(audio->m_dLengthMS);
    input.parameters = FormantTrackParameters::fromDocument(session.document());
    if (const std::string refusal = formantTrackRefusal(input); !refusal.empty()) {
        return failure(err, "no formant track for \"" + session.path + "\": " + refusal +
                                " (see phonaxis-cli settings)");
    }
    TrackWriter writer(options, session, index, out);
    bool written = true;
    const FormantTrackEnd end = DoFormantTrack(input, [&](std::span<const FormantTrackRow> rows) {
        written = writer.write(rows);
        return written;
    });
    if (end == FormantTrackEnd::Done) {
        written = writer.finish();
    }
    if (!written) {
        return failure(err, "the formant track could not be written");
    }
    if (end != FormantTrackEnd::Done) {
        return failure(err, "no formant track could be computed for \"" + session.path +
                                "\" (memory or threads ran out)");
    }
    return kExitOk;
}

} // namespace phonaxis::cli
