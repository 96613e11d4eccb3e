#pragma once

// Reads named tables as strictly as a data-frame loader without a parser of
// one's own needs them: tab- or comma-separated text (CSV fields may be
// quoted) or a JSON array of flat objects. Refused: a column name that is no
// identifier with its unit, a row with more or fewer fields than the header
// (as a trailing separator makes), a cell neither empty nor wholly a number
// (unless its column is one of `textColumns`).

#include <map>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace phonaxis::test {

enum class TidyFormat { Tsv, Csv, Json };

struct TidyTable {
    using Row = std::map<std::string, std::optional<std::string>>; // nullopt: missing
    std::vector<std::string> columns;
    std::vector<Row> rows;

    // The column's values as numbers, nullopt where missing.
    std::vector<std::optional<double>> numbers(const std::string& column) const
    {
        std::vector<std::optional<double>> values;
        for (const Row& row : rows) {
            const auto& cell = row.at(column);
            values.push_back(cell ? std::optional(std::stod(*cell)) : std::nullopt);
        }
        return values;
    }
};

namespace tidy_detail {

using Records = std::vector<std::vector<std::string>>;

// `text` wholly as consecutive matches of `token`, or nullopt.
inline std::optional<std::vector<std::smatch>> tokens(const std::string& text,
                                                      const std::regex& token)
{
    std::vector<std::smatch> all;
    for (auto at = text.cbegin(); at != text.cend(); at = all.back()[0].second) {
        if (!std::regex_search(at, text.cend(), all.emplace_back(), token,
                               std::regex_constants::match_continuous)) {
            return std::nullopt;
        }
    }
    return all;
}

// A quoted `field` without its quotes, each `escape` replaced by its first group.
inline std::string unquoted(const std::string& field, const std::regex& escape)
{
    return field.starts_with('"')
               ? std::regex_replace(field.substr(1, field.size() - 2), escape, "$1")
               : field;
}

// Delimited text as records of fields, every row ended by a newline; a CSV
// field may be quoted, its quotes doubled.
inline std::optional<Records> splitRecords(const std::string& text, char separator)
{
    static const std::regex tsv("([^\t\n]*)(\t|\n)");
    static const std::regex csv(R"re(("(?:[^"]|"")*"|[^,"\n]*)(,|\n))re");
    static const std::regex doubled("\"(\")");
    const auto fields = tokens(text, separator == ',' ? csv : tsv);
    if (!fields) {
        return std::nullopt;
    }
    Records records(1);
    for (const std::smatch& field : *fields) {
        records.back().push_back(unquoted(field[1], doubled));
        if (field[2] == "\n") {
            records.emplace_back();
        }
    }
    records.pop_back(); // the record the last newline begins
    return records;
}

// A JSON array of flat objects as records, the first object's keys as the
// header; every object must have the same keys. A string is unquoted (only
// \" and \\ undone), null is empty and a number array is kept as its text.
inline std::optional<Records> jsonRecords(const std::string& text)
{
    static const std::regex object(
        R"re(\s*[\[,]\s*\{((?:[^{}"]|"(?:[^"\\]|\\.)*")*)\}|\s*\]\s*$)re");
    static const std::regex member(R"re(\s*"([^"\\]*)"\s*:\s*("(?:[^"\\]|\\.)*"|null|true|false|)re"
                                   R"re(\[[^\]]*\]|-?[0-9][0-9.eE+-]*)\s*(,|$))re");
    static const std::regex escaped(R"(\\(.))");
    const auto objects = tokens(text, object);
    if (!objects || objects->empty() || objects->back()[1].matched) {
        return std::nullopt; // not an array of objects, or one holds a nested object
    }
    Records records;
    for (std::size_t o = 0; o + 1 < objects->size(); ++o) {
        const std::string body = (*objects)[o][1];
        const auto members = tokens(body, member);
        if (!members) {
            return std::nullopt;
        }
        std::vector<std::string> names;
        std::vector<std::string> cells;
        for (const std::smatch& m : *members) {
            names.push_back(m[1]);
            cells.push_back(m[2] == "null" ? "" : unquoted(m[2], escaped));
        }
        if (records.empty()) {
            records.push_back(names);
        }
        if (names != records.front()) {
            return std::nullopt;
        }
        records.push_back(cells);
    }
    return records;
}

} // namespace tidy_detail

// The table in `text`, or nullopt with the reason in `error`.
inline std::optional<TidyTable> readTidy(const std::string& text, TidyFormat format,
                                         const std::set<std::string>& textColumns,
                                         std::string& error)
{
    const auto records =
        format == TidyFormat::Json
            ? tidy_detail::jsonRecords(text)
            : tidy_detail::splitRecords(text, format == TidyFormat::Csv ? ',' : '\t');
    if (!records || records->empty()) {
        error = "not a table";
        return std::nullopt;
    }
    static const std::regex name("[A-Za-z0-9]+(_[a-z0-9]+)*");
    static const std::regex number(R"(-?[0-9]+(\.[0-9]+)?([eE][-+]?[0-9]+)?)");
    TidyTable table{records->front(), {}};
    for (const std::string& column : table.columns) {
        if (!std::regex_match(column, name)) {
            error = "column name \"" + column + "\"";
            return std::nullopt;
        }
    }
    for (std::size_t r = 1; r < records->size(); ++r) {
        const std::vector<std::string>& fields = (*records)[r];
        if (fields.size() != table.columns.size()) {
            error =
                "row " + std::to_string(r) + " has " + std::to_string(fields.size()) + " fields";
            return std::nullopt;
        }
        auto& row = table.rows.emplace_back();
        for (std::size_t c = 0; c < fields.size(); ++c) {
            const bool isText = textColumns.count(table.columns[c]) != 0;
            if (!isText && !fields[c].empty() && !std::regex_match(fields[c], number)) {
                error = table.columns[c] + " holds \"" + fields[c] + "\"";
                return std::nullopt;
            }
            row[table.columns[c]] =
                fields[c].empty() && !isText ? std::nullopt : std::optional(fields[c]);
        }
    }
    return table;
}

} // namespace phonaxis::test
