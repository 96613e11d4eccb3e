#pragma once

// A reader of named tables as strict as a data-frame loader without a
// hand-written parser needs them: tab- or comma-separated text (with quoted
// CSV fields) or a JSON array of flat objects. It refuses what such a
// loader would misread: a column name that is not a plain identifier with
// its unit, a row with more or fewer fields than the header, or a cell that
// is neither empty nor wholly a number (text is allowed in `textColumns`).

#include <cctype>
#include <cstdlib>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace phonaxis::test {

enum class TidyFormat { Tsv, Csv, Json };

struct TidyTable {
    std::vector<std::string> columns;
    std::vector<std::vector<std::optional<std::string>>> rows; // nullopt: missing

    std::size_t index(const std::string& column) const
    {
        for (std::size_t c = 0; c < columns.size(); ++c) {
            if (columns[c] == column) {
                return c;
            }
        }
        return columns.size();
    }
    // The column's values as numbers, nullopt where missing.
    std::vector<std::optional<double>> numbers(const std::string& column) const
    {
        std::vector<std::optional<double>> values;
        const std::size_t c = index(column);
        for (const auto& row : rows) {
            values.push_back(c < row.size() && row[c]
                                 ? std::optional(std::strtod(row[c]->c_str(), nullptr))
                                 : std::nullopt);
        }
        return values;
    }
};

namespace tidy_detail {

inline bool isNumber(const std::string& text)
{
    char* end = nullptr;
    std::strtod(text.c_str(), &end);
    return !text.empty() && !std::isspace(static_cast<unsigned char>(text[0])) &&
           end == text.c_str() + text.size();
}

// Splits delimited text into records of fields; CSV fields may be quoted.
inline std::optional<std::vector<std::vector<std::string>>> splitRecords(const std::string& text,
                                                                         char separator)
{
    std::vector<std::vector<std::string>> records(1, std::vector<std::string>(1));
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        std::string& field = records.back().back();
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (separator == ',' && c == '"' && field.empty()) {
            quoted = true;
        } else if (c == separator) {
            records.back().emplace_back();
        } else if (c == '\n') {
            records.emplace_back(1);
        } else {
            field += c;
        }
    }
    if (quoted || records.back() != std::vector<std::string>(1)) {
        return std::nullopt; // an open quote, or no newline after the last row
    }
    records.pop_back();
    return records;
}

// Reads a JSON array of flat objects into records; every object's keys
// become the header (they must agree). A number array is kept as its text.
inline std::optional<std::vector<std::vector<std::string>>> jsonRecords(const std::string& text)
{
    static const std::regex value(
        R"re(\s*("(?:[^"\\]|\\.)*"|null|true|false|\[[^\]]*\]|-?[0-9][0-9.eE+-]*)\s*)re");
    static const std::regex key(R"re(\s*"([^"\\]*)"\s*:)re");
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> header;
    std::size_t at = text.find_first_not_of(" \n");
    if (at == std::string::npos || text[at] != '[') {
        return std::nullopt;
    }
    ++at;
    std::smatch m;
    for (;;) {
        at = text.find_first_not_of(" \n,", at);
        if (at == std::string::npos) {
            return std::nullopt;
        }
        if (text[at] == ']') {
            break;
        }
        if (text[at] != '{') {
            return std::nullopt;
        }
        ++at;
        std::vector<std::string> names;
        std::vector<std::string> cells;
        while (std::regex_search(text.cbegin() + long(at), text.cend(), m, key,
                                 std::regex_constants::match_continuous)) {
            names.push_back(m[1]);
            at += std::size_t(m.length(0));
            if (!std::regex_search(text.cbegin() + long(at), text.cend(), m, value,
                                   std::regex_constants::match_continuous)) {
                return std::nullopt; // a nested object or a malformed value
            }
            std::string cell = m[1];
            if (cell.front() == '"') {
                // Only \" and \\ are undone: the tests' texts hold no other escapes.
                std::string unquoted;
                for (std::size_t i = 1; i + 1 < cell.size(); ++i) {
                    i += cell[i] == '\\';
                    unquoted += cell[i];
                }
                cell = unquoted;
            }
            cells.push_back(cell == "null" ? std::string() : cell);
            at += std::size_t(m.length(0));
            if (text[at] == ',') {
                ++at;
            }
        }
        if (text[at] != '}') {
            return std::nullopt;
        }
        ++at;
        if (records.empty()) {
            header = names;
            records.push_back(header);
        }
        if (names != header) {
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
    static const std::regex name("^[A-Za-z0-9]+(_[a-z]+)*$");
    TidyTable table;
    table.columns = records->front();
    for (const std::string& column : table.columns) {
        if (!std::regex_match(column, name)) {
            error = "column name \"" + column + "\"";
            return std::nullopt;
        }
    }
    for (std::size_t r = 1; r < records->size(); ++r) {
        const std::vector<std::string>& fields = (*records)[r];
        if (fields.size() != table.columns.size()) {
            error = "row " + std::to_string(r) + " has " + std::to_string(fields.size()) +
                    " fields for " + std::to_string(table.columns.size()) + " columns";
            return std::nullopt;
        }
        auto& row = table.rows.emplace_back();
        for (std::size_t c = 0; c < fields.size(); ++c) {
            const bool isText = textColumns.count(table.columns[c]) != 0;
            if (!fields[c].empty() && !isText && !tidy_detail::isNumber(fields[c])) {
                error = table.columns[c] + " holds \"" + fields[c] + "\"";
                return std::nullopt;
            }
            row.push_back(fields[c].empty() && !isText ? std::nullopt : std::optional(fields[c]));
        }
    }
    return table;
}

} // namespace phonaxis::test
