#pragma once

#include <iosfwd>
#include <string>
#include <variant>
#include <vector>

namespace phonaxis::cli {

// The analyses' records as a table of named columns, for reading into a data
// frame without a parser of one's own: one header row of names that carry
// their unit (`time_ms`, `f0_hz`), one row per record, a missing value as an
// empty cell (null in JSON).
struct Table {
    // No value, a number or a text (the file name).
    using Cell = std::variant<std::monostate, double, std::string>;

    std::vector<std::string> columns;
    std::vector<std::vector<Cell>> rows;
};

// `value` as a cell; a value that is not finite is missing.
Table::Cell numberCell(double value);
// `value` as a cell when `present`, else a missing value.
Table::Cell cellIf(bool present, double value);

// Tab-separated: the header, then the rows, each ended by a newline and no
// separator after the last cell. Text is never quoted, so a tab or a line
// break inside it becomes a space.
void writeTsv(const Table& table, std::ostream& out);
// Comma-separated: text holding a comma, a quote or a line break is quoted,
// its quotes doubled.
void writeCsv(const Table& table, std::ostream& out);
// One cell as writeTsv and writeCsv write it.
std::string tsvCell(const Table::Cell& cell);
std::string csvCell(const Table::Cell& cell);
// `, "column": value` for each cell of `row`, numbers as jsonNumber gives
// them, a missing value as null: the named fields of one JSON object.
std::string jsonFields(const std::vector<std::string>& columns,
                       const std::vector<Table::Cell>& row);

} // namespace phonaxis::cli
