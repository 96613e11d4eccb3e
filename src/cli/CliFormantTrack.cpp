#include "cli/CliFormantTrack.h"

#include "cli/CliAnalysis.h"
#include "cli/CliCommands.h"
#include "cli/CliLabels.h"
#include "cli/CliSession.h"
#include "cli/CliTable.h"
#include "document/MyDocument.h"
#include "log/LogTable.h"
#include "windows/FormantTrack.h"
#include "windows/ThreadParts.h"

#include <exception>
#include <mutex>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace phonaxis::cli {

namespace {

constexpr int kFormants = FormantTrackRow::kFormants;

// A formant track's blocks: their records and named tables.
class TrackWriter {
public:
    TrackWriter(const Options& options, const Session& session, int channel, std::ostream& out)
        : m_options(options), m_session(session), m_channel(channel), m_writer(options, out)
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
        return m_writer.put(BlockWriter::format(m_options, records, [&] { return named(rows); }));
    }

    bool finish() { return m_writer.finish(named({})); }

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
        addLabelColumn(table, m_session);
        return table;
    }

    const Options& m_options;
    const Session& m_session;
    int m_channel = 0;
    BlockWriter m_writer;
    std::vector<std::string> m_columns;
};

} // namespace

std::string BlockWriter::format(const Options& options, const std::vector<LogRecord>& records,
                                const std::function<Table()>& named)
{
    std::ostringstream text;
    if (options.table) {
        writeTsv(named(), text);
    } else if (options.csv) {
        writeCsv(named(), text);
    } else if (options.json) {
        const Table table = named();
        writeLogJson(records, text, &table);
    } else {
        writeLogText(records, text);
    }
    return text.str();
}

bool BlockWriter::put(const std::string& text)
{
    if (text.empty()) {
        return static_cast<bool>(m_out); // a block without rows
    }
    if (m_options.json) {
        // A block's JSON array "[\n  {…},\n  {…}\n]\n" becomes part of the
        // one array: its records, after a comma when some came before;
        // finish() closes the array.
        constexpr std::string_view kClose = "\n]\n";
        std::string_view body(text);
        if (body.starts_with('[') && body.ends_with(kClose)) {
            body = body.substr(1, body.size() - 1 - kClose.size());
        }
        m_out << (m_bStarted ? "," : "[") << body;
    } else if (!m_bStarted) {
        m_out << text;
    } else {
        // After the first block, its header line is the one already written.
        const std::size_t header = text.find('\n');
        if (header != std::string::npos) {
            m_out << std::string_view(text).substr(header + 1);
        }
    }
    m_bStarted = true;
    return static_cast<bool>(m_out);
}

bool BlockWriter::finish(const Table& emptyNamed)
{
    if (!m_bStarted) {
        if (m_options.table) {
            writeTsv(emptyNamed, m_out);
        } else if (m_options.csv) {
            writeCsv(emptyNamed, m_out);
        } else if (m_options.json) {
            writeLogJson({}, m_out, &emptyNamed);
        } else {
            writeLogText({}, m_out);
        }
    } else if (m_options.json) {
        m_out << "\n]\n";
    }
    return static_cast<bool>(m_out);
}

bool putBlocks(BlockWriter& writer, std::size_t count,
               const std::function<std::string(std::size_t)>& block)
{
    for (std::size_t i = 0; i < count; i += 2) {
        std::string first;
        std::string second;
        if (i + 1 < count) {
            // The second block on another thread (here when none can be had).
            std::exception_ptr failure;
            std::mutex failing;
            runParts(2, [&](int part) {
                try {
                    (part == 0 ? first : second) = block(i + static_cast<std::size_t>(part));
                } catch (...) {
                    const std::lock_guard lock(failing);
                    failure = std::current_exception();
                }
            });
            if (failure) {
                std::rethrow_exception(failure);
            }
        } else {
            first = block(i);
        }
        if (!writer.put(first) || (i + 1 < count && !writer.put(second))) {
            return false;
        }
    }
    return true;
}

int formantTrackCommand(const Options& options, std::ostream& out, std::ostream& err)
{
    Session session;
    Channels* audio = nullptr;
    int index = -1;
    if (const int status =
            openAudioAnalysis(options, "formant-track", session, audio, index, err,
                              StretchReading::Stretch)) {
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
