#include "cli/CliTable.h"

#include "cli/CliCommands.h"

#include <cmath>
#include <cstddef>
#include <ostream>

namespace phonaxis::cli {

namespace {

// The text of a number or a text cell; "" for a missing value.
std::string cellText(const Table::Cell& cell)
{
    if (const double* value = std::get_if<double>(&cell)) {
        return jsonNumber(*value);
    }
    if (const std::string* text = std::get_if<std::string>(&cell)) {
        return *text;
    }
    return {};
}

std::string tsvText(const Table::Cell& cell)
{
    std::string text = cellText(cell);
    for (char& c : text) {
        if (c == '\t' || c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return text;
}

std::string csvText(const Table::Cell& cell)
{
    const std::string text = cellText(cell);
    if (!std::holds_alternative<std::string>(cell) ||
        text.find_first_of(",\"\n\r") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

template <typename Text>
void writeSeparated(const Table& table, char separator, Text text, std::ostream& out)
{
    const auto line = [&](const std::vector<Table::Cell>& cells) {
        for (std::size_t c = 0; c < cells.size(); ++c) {
            if (c) {
                out << separator;
            }
            out << text(cells[c]);
        }
        out << '\n';
    };
    line(std::vector<Table::Cell>(table.columns.begin(), table.columns.end()));
    for (const std::vector<Table::Cell>& row : table.rows) {
        line(row);
    }
}

} // namespace

std::string tsvCell(const Table::Cell& cell)
{
    return tsvText(cell);
}

std::string csvCell(const Table::Cell& cell)
{
    return csvText(cell);
}

Table::Cell numberCell(double value)
{
    if (!std::isfinite(value)) {
        return std::monostate{};
    }
    return value;
}

Table::Cell cellIf(bool present, double value)
{
    return present ? numberCell(value) : Table::Cell{};
}

void writeTsv(const Table& table, std::ostream& out)
{
    writeSeparated(table, '\t', tsvText, out);
}

void writeCsv(const Table& table, std::ostream& out)
{
    writeSeparated(table, ',', csvText, out);
}

std::string jsonFields(const std::vector<std::string>& columns, const std::vector<Table::Cell>& row)
{
    std::string fields;
    for (std::size_t c = 0; c < columns.size() && c < row.size(); ++c) {
        fields += ", " + jsonString(columns[c]) + ": ";
        if (const std::string* text = std::get_if<std::string>(&row[c])) {
            fields += jsonString(*text);
        } else if (const double* value = std::get_if<double>(&row[c])) {
            fields += jsonNumber(*value);
        } else {
            fields += "null";
        }
    }
    return fields;
}

} // namespace phonaxis::cli
