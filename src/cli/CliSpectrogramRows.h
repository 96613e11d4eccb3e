#pragma once

#include "cli/CliTable.h"
#include "windows/SpectrogramAnalysis.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace phonaxis {
class LabelsInForce;
}

namespace phonaxis::cli {

struct Options;

// The text of phonaxis-cli spectrogram's formant rows, made directly from
// the spectrogram's formant records: block(first, count) gives the same
// bytes as BlockWriter::format over SpectrogramLog::formantsSelection's
// records first … first + count − 1 (the measurement-log format, or --table,
// --csv, --json as the options ask), without a record, a table or a cell
// per value. A row is the same text for every time but its time, so each
// column's text is made once per block and each row copies it after its time.
//
// Rows are those of `rows` (SpectrogramSelectionRows: no bound on their
// number), formants those of `result`, which must outlive this object.
// block() only reads, so any thread may call it at any time.
class SpectrogramRowsText {
public:
    // `displayName` names the file in the log format and JSON's "name",
    // `path` and `channel` fill the named columns `named` (file, channel,
    // time_ms, F1_hz … F5_hz, as the command's named table has them).
    // With `labels`, each named row ends with the label in force at its
    // time (`named` then ends with the label column).
    SpectrogramRowsText(const Options& options, const std::string& displayName,
                        const std::string& path, int channel, const SpectrogramResult& result,
                        const SpectrogramSelectionRows& rows, const Table& named,
                        const LabelsInForce* labels = nullptr);

    // Rows first … first + count − 1 (those that exist): a header line, the
    // rows (a JSON array in JSON); empty when none of them exists.
    std::string block(std::size_t first, std::size_t count) const;

private:
    enum class Form { Log, Tsv, Csv, Json };

    // The text of `column`'s formants after the row's time, and in JSON
    // the text after its second time (the "time_ms" field).
    void columnText(std::int64_t column, std::string& afterTime, std::string& tail) const;
    void appendTime(std::string& out, double timeMs) const;
    // The label cell at `timeMs` after its separator (TSV, CSV) or as a JSON
    // field.
    void appendLabel(std::string& out, double timeMs) const;

    Form m_form = Form::Log;
    const SpectrogramResult& m_result;
    SpectrogramSelectionRows m_rows;
    std::string m_header;    // a block's first line (not in JSON)
    std::string m_prefix;    // a row's text before its time
    std::vector<std::string> m_formantColumns; // JSON: F1_hz … F5_hz
    std::string m_fields;    // JSON: from the values' end to "time_ms" (file, channel)
    const LabelsInForce* m_labels = nullptr;
};

} // namespace phonaxis::cli
