#include "cli/CliSpectrogramRows.h"

#include "cli/CliCommands.h"
#include "cli/CliSession.h"
#include "document/TextGrid.h"
#include "log/LogRecord.h"
#include "log/LogTable.h"

#include <charconv>
#include <cmath>
#include <sstream>

namespace phonaxis::cli {

namespace {

// Formants a row reports (F1 … F5).
constexpr int kRowFormants = 5;
// Room for a number's text: the longest fixed "%.3f" form of a double.
constexpr std::size_t kNumberRoom = 330;

// `value` as the log writes values ("%.3f", whatever the locale).
void appendLogValue(std::string& out, double value)
{
    char buffer[kNumberRoom];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 3);
    out.append(buffer, result.ptr);
}

// `value` as the named tables and JSON write numbers.
void appendNumber(std::string& out, double value)
{
    if (!std::isfinite(value)) {
        return;
    }
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

// The one row of a written table of a header and that row: the text after
// the header line without the row's final line break (a quoted cell may
// hold line breaks of its own).
std::string onlyRow(const std::string& text)
{
    const std::size_t header = text.find('\n');
    if (header == std::string::npos || !text.ends_with('\n')) {
        return {};
    }
    return text.substr(header + 1, text.size() - header - 2);
}

} // namespace

SpectrogramRowsText::SpectrogramRowsText(const Options& options, const std::string& displayName,
                                         const std::string& path, int channel,
                                         const SpectrogramResult& result,
                                         const SpectrogramSelectionRows& rows, const Table& named,
                                         const LabelsInForce* labels)
    : m_form(options.table  ? Form::Tsv
             : options.csv  ? Form::Csv
             : options.json ? Form::Json
                            : Form::Log),
      m_result(result), m_rows(rows), m_labels(labels)
{
    const std::string definition = SpectrogramLog::kFormantsSelectionHeader;
    if (m_form == Form::Log) {
        // The header and the name and definition fields as the log writes
        // them: a record of time and five formants, and one without values.
        LogTable header;
        LogRecord record;
        record.name = displayName;
        record.definition = definition;
        for (int i = 0; i <= kRowFormants; ++i) {
            record.append(0.0);
        }
        header.AddLog(record, false);
        const std::string text = header.toText();
        m_header = text.substr(0, text.find('\n') + 1);
        LogTable prefix;
        record.count = 0;
        prefix.AddLog(record, false);
        // "name\tdefinition\t" and the empty comment's "\t": the comment goes.
        m_prefix = onlyRow(prefix.toText());
        m_prefix.pop_back();
    } else if (m_form == Form::Json) {
        m_prefix = "{\"name\": " + jsonString(displayName) +
                   ", \"definition\": " + jsonString(definition) + ", \"values\": [";
        // The named fields before the time: file and channel.
        const std::vector<std::string> columns(named.columns.begin(),
                                               named.columns.begin() + 2);
        m_formantColumns.assign(named.columns.begin() + 3,
                                named.columns.begin() + 3 + kRowFormants);
        m_fields = "]";
        m_fields += jsonFields(columns, {path, static_cast<double>(channel)});
        m_fields += ", ";
        m_fields += jsonString(named.columns[2]);
        m_fields += ": ";
    } else {
        // The header and the file and channel cells as the table writers
        // write them (a file name with a separator in it is escaped).
        Table table;
        table.columns = named.columns;
        table.rows.push_back({path, static_cast<double>(channel)});
        std::ostringstream text;
        (m_form == Form::Tsv ? writeTsv : writeCsv)(table, text);
        const std::string written = text.str();
        m_header = written.substr(0, written.find('\n') + 1);
        m_prefix = onlyRow(written);
        m_prefix += m_form == Form::Tsv ? '\t' : ',';
    }
}

void SpectrogramRowsText::appendTime(std::string& out, double timeMs) const
{
    if (m_form == Form::Log) {
        appendLogValue(out, timeMs);
    } else if (m_form == Form::Json && !std::isfinite(timeMs)) {
        out += "null";
    } else {
        appendNumber(out, timeMs);
    }
}

void SpectrogramRowsText::appendLabel(std::string& out, double timeMs) const
{
    if (!m_labels) {
        return;
    }
    const std::string& text = m_labels->at(timeMs);
    const Table::Cell cell = text.empty() ? Table::Cell{} : Table::Cell{text};
    switch (m_form) {
    case Form::Tsv:
        out += '\t';
        out += tsvCell(cell);
        break;
    case Form::Csv:
        out += ',';
        out += csvCell(cell);
        break;
    case Form::Json:
        out += jsonFields({"label"}, {cell});
        break;
    case Form::Log:
        break;
    }
}

void SpectrogramRowsText::columnText(std::int64_t column, std::string& afterTime,
                                     std::string& tail) const
{
    const FormantRecord formants = spectrogramColumnFormants(m_result, column);
    afterTime.clear();
    tail.clear();
    switch (m_form) {
    case Form::Log:
        afterTime += '\t';
        for (int i = 0; i < kRowFormants; ++i) {
            appendLogValue(afterTime, formants[static_cast<std::size_t>(i)]);
            afterTime += '\t';
        }
        afterTime += "\t\n"; // the empty comment
        break;
    case Form::Tsv:
    case Form::Csv: {
        const char separator = m_form == Form::Tsv ? '\t' : ',';
        for (int i = 0; i < kRowFormants; ++i) {
            afterTime += separator;
            const double f = formants[static_cast<std::size_t>(i)];
            if (f > 0.0) {
                appendNumber(afterTime, f);
            }
        }
        break;
    }
    case Form::Json: {
        for (int i = 0; i < kRowFormants; ++i) {
            afterTime += ", ";
            appendNumber(afterTime, formants[static_cast<std::size_t>(i)]);
        }
        afterTime += m_fields;
        std::vector<Table::Cell> cells;
        for (int i = 0; i < kRowFormants; ++i) {
            cells.push_back(formantCell(formants[static_cast<std::size_t>(i)]));
        }
        tail = jsonFields(m_formantColumns, cells);
        break;
    }
    }
}

std::string SpectrogramRowsText::block(std::size_t first, std::size_t count) const
{
    std::string out;
    std::string afterTime;
    std::string tail;
    std::int64_t shown = -1;
    double timeMs = 0.0;
    std::int64_t column = 0;
    for (std::size_t i = first; i < first + count; ++i) {
        if (!m_rows.row(static_cast<double>(i), timeMs, column)) {
            break;
        }
        if (out.empty()) {
            out.reserve(count * (m_prefix.size() + 96));
            out += m_form == Form::Json ? std::string("[") : m_header;
        }
        if (column != shown) {
            columnText(column, afterTime, tail);
            shown = column;
        }
        if (m_form == Form::Json) {
            out += i == first ? "\n  " : ",\n  ";
        }
        out += m_prefix;
        appendTime(out, timeMs);
        out += afterTime;
        if (m_form == Form::Json) {
            appendTime(out, timeMs);
            out += tail;
        }
        if (m_form != Form::Log) {
            appendLabel(out, timeMs);
            out += m_form == Form::Json ? '}' : '\n';
        }
    }
    if (m_form == Form::Json && !out.empty()) {
        out += "\n]\n";
    }
    return out;
}

} // namespace phonaxis::cli
