// The measurement log: its rows and columns, the append and edit rules, and
// the tab-separated log file.

#include "log/LogTable.h"

#include "document/FileIO.h"

#include <algorithm>
#include <charconv>
#include <new>
#include <optional>
#include <span>
#include <string>

namespace phonaxis {

namespace {

constexpr int kRowWidthPx = 30;
constexpr int kNameWidthPx = 100;
constexpr int kDefinitionWidthPx = 200;
constexpr int kEntryWidthPx = 100;
constexpr int kCommentWidthPx = 200;

using CellTable = std::map<std::string, std::vector<std::string>, std::less<>>;

const std::string& emptyText()
{
    static const std::string empty;
    return empty;
}

std::string entryIdentifier(long long number)
{
    return "entry" + std::to_string(number);
}

LogColumn entryColumn(long long number, std::string title)
{
    return {entryIdentifier(number), std::move(title), kEntryWidthPx, LogCellAlignment::Right,
            true};
}

// A value as "%.3f" prints it, independent of the process locale (the UI
// toolkit switches the C locale to the user's, which would write decimal
// commas into the file).
std::string formatValue(double value)
{
    // The longest fixed form of a double: 309 digits, sign, point, 3 decimals.
    char buffer[330];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 3);
    return std::string(buffer, result.ptr);
}

// Stores `text` as the cell of `row`, padding the list with empty cells when
// it is shorter, so that every cell lands in its own row.
void setCell(std::vector<std::string>& cells, std::size_t row, std::string text)
{
    if (cells.size() <= row) {
        cells.resize(row);
        cells.push_back(std::move(text));
    } else {
        cells[row] = std::move(text);
    }
}

// Appends `text` followed by TAB; a TAB or LF inside it becomes a blank.
void appendField(std::string& out, const std::string& text)
{
    const std::size_t start = out.size();
    out += text;
    std::replace_if(
        out.begin() + static_cast<std::ptrdiff_t>(start), out.end(),
        [](char c) { return c == '\t' || c == '\n'; }, ' ');
    out += '\t';
}

bool hasContent(std::string_view field)
{
    return field.find_first_not_of('\r') != std::string_view::npos;
}

// Calls `visit(lineIndex, line)` for every LF-separated line, the text after
// the last LF included.
template <typename Visit>
void forEachLine(std::string_view text, Visit&& visit)
{
    std::size_t index = 0;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            visit(index, text.substr(start));
            return;
        }
        visit(index, text.substr(start, end - start));
        ++index;
        start = end + 1;
    }
}

// Splits at most `limit` leading TAB-separated fields of `line` into `fields`
// (cleared first). Returns whether the line has at least `limit` fields.
bool leadingFields(std::string_view line, std::size_t limit, std::vector<std::string_view>& fields)
{
    fields.clear();
    std::size_t start = 0;
    while (fields.size() < limit) {
        const std::size_t end = line.find('\t', start);
        if (end == std::string_view::npos) {
            fields.push_back(line.substr(start));
            break;
        }
        fields.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return fields.size() == limit;
}

struct ParsedLog {
    std::vector<LogColumn> columns;
    CellTable cells;
};

// Parses a log file's text. Nothing when the text is not a log. Work and
// memory are linear in the text: every cell kept is a field of it.
std::optional<ParsedLog> parseLog(std::string_view text)
{
    if (text.empty()) {
        return std::nullopt;
    }
    std::size_t widest = 0;
    std::size_t headerFieldCount = 0;
    forEachLine(text, [&](std::size_t index, std::string_view line) {
        const std::size_t fields =
            static_cast<std::size_t>(std::count(line.begin(), line.end(), '\t')) + 1;
        widest = std::max(widest, fields);
        if (index == 0) {
            headerFieldCount = fields;
        }
    });
    if (widest <= 2 || headerFieldCount != widest) {
        return std::nullopt;
    }

    // The empty field after the final TAB and a lone CR (CR LF line ends) do
    // not name a column. The titles are the first `named` fields.
    const std::string_view headerLine = text.substr(0, text.find('\n'));
    std::size_t named = 0;
    for (std::size_t start = 0; start <= headerLine.size();) {
        const std::size_t end = std::min(headerLine.find('\t', start), headerLine.size());
        named += hasContent(headerLine.substr(start, end - start)) ? 1 : 0;
        start = end + 1;
    }
    // A log names at least the file, the definition and the comment.
    if (named < 3) {
        return std::nullopt;
    }
    std::vector<std::string_view> header;
    leadingFields(headerLine, named, header);

    ParsedLog parsed;
    parsed.columns.reserve(named + 1);
    parsed.columns.push_back({LogTable::kRowId, "", kRowWidthPx, LogCellAlignment::Natural, false});
    parsed.columns.push_back(
        {LogTable::kNameId, std::string(header[0]), kNameWidthPx, LogCellAlignment::Natural, true});
    parsed.columns.push_back({LogTable::kDefinitionId, std::string(header[1]), kDefinitionWidthPx,
                              LogCellAlignment::Natural, true});
    for (std::size_t i = 2; i + 1 < named; ++i) {
        parsed.columns.push_back(
            entryColumn(static_cast<long long>(i) - 1, std::string(header[i])));
    }
    parsed.columns.push_back({LogTable::kCommentId, std::string(header[named - 1]),
                              kCommentWidthPx, LogCellAlignment::Natural, true});

    // Field k of a row goes to the column after the row number.
    std::vector<std::vector<std::string>*> fieldCells;
    fieldCells.reserve(named);
    for (std::size_t k = 1; k < parsed.columns.size(); ++k) {
        fieldCells.push_back(&parsed.cells[parsed.columns[k].identifier]);
    }
    std::vector<std::string>& rowNumbers = parsed.cells[LogTable::kRowId];

    std::vector<std::string_view> fields;
    forEachLine(text, [&](std::size_t index, std::string_view line) {
        if (index == 0 || !leadingFields(line, named, fields)) {
            return;
        }
        rowNumbers.push_back(std::to_string(index));
        for (std::size_t k = 0; k < named; ++k) {
            fieldCells[k]->emplace_back(fields[k]);
        }
    });
    return parsed;
}

} // namespace

LogTable::LogTable()
{
    m_columns = {
        {kRowId, "", kRowWidthPx, LogCellAlignment::Natural, false},
        {kNameId, kNameTitle, kNameWidthPx, LogCellAlignment::Natural, true},
        {kDefinitionId, kDefinitionTitle, kDefinitionWidthPx, LogCellAlignment::Natural, true},
        {kCommentId, kCommentTitle, kCommentWidthPx, LogCellAlignment::Natural, true},
    };
}

std::size_t LogTable::rowCount() const
{
    const auto found = _dataTableDictionary.find(std::string_view(kRowId));
    return found == _dataTableDictionary.end() ? 0 : found->second.size();
}

const std::string& LogTable::cell(std::size_t row, const std::string& identifier) const
{
    const auto found = _dataTableDictionary.find(identifier);
    if (found == _dataTableDictionary.end() || row >= found->second.size()) {
        return emptyText();
    }
    return found->second[row];
}

void LogTable::AddLog(const LogRecord& record, bool refresh)
{
    const int count = std::clamp(record.count, 0, LogRecord::kValueSlots);
    const int columnCount = static_cast<int>(m_columns.size());
    if (count > columnCount - 4) {
        for (int i = 0; i < 4 - columnCount + count; ++i) {
            const int number = columnCount - 3 + i;
            m_columns.push_back(entryColumn(number, "Entry " + std::to_string(number)));
        }
    }

    const std::size_t row = rowCount();
    setCell(_dataTableDictionary[kRowId], row, std::to_string(row + 1));
    setCell(_dataTableDictionary[kNameId], row, record.name);
    setCell(_dataTableDictionary[kDefinitionId], row, record.definition);
    setCell(_dataTableDictionary[kCommentId], row, "");
    // Slots 1 to 15 always get a value, so entry columns a later, longer
    // record adds show "0.000" in this row; values past 15 are kept too.
    const int filled = std::max(kFilledValueSlots, count);
    for (int k = 1; k <= filled; ++k) {
        setCell(_dataTableDictionary[entryIdentifier(k)], row,
                formatValue(record.values[static_cast<std::size_t>(k - 1)]));
    }

    const auto comment = std::find_if(m_columns.begin(), m_columns.end(), [](const LogColumn& c) {
        return c.identifier == kCommentId;
    });
    if (comment != m_columns.end()) {
        std::rotate(comment, comment + 1, m_columns.end());
    }
    m_bDirty = true;
    if (refresh) {
        Refresh();
    }
}

void LogTable::Refresh()
{
    if (m_refreshHandler) {
        m_refreshHandler();
    }
}

void LogTable::initilize()
{
    _dataTableDictionary.clear();
    m_strFilePath.clear();
    m_bDirty = false;
    Refresh();
}

bool LogTable::editCell(std::size_t row, const std::string& identifier, const std::string& text)
{
    const auto column = std::find_if(m_columns.begin(), m_columns.end(),
                                     [&](const LogColumn& c) { return c.identifier == identifier; });
    if (column == m_columns.end() || !column->editable || row >= rowCount()) {
        return false;
    }
    if (cell(row, identifier) == text) {
        return false;
    }
    setCell(_dataTableDictionary[identifier], row, text);
    m_bDirty = true;
    return true;
}

bool LogTable::ReadDocument(const std::string& path)
{
    FileContents file;
    std::string error;
    if (!file.open(path, kTextTableFile, error)) {
        return false;
    }
    const auto bytes = file.bytes();
    return readFromText(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), path);
}

bool LogTable::readFromText(std::string_view text, const std::string& path)
{
    std::optional<ParsedLog> parsed;
    std::string newPath;
    try {
        parsed = parseLog(text);
        newPath = path;
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!parsed) {
        return false;
    }
    m_columns = std::move(parsed->columns);
    _dataTableDictionary = std::move(parsed->cells);
    m_strFilePath = std::move(newPath);
    m_bhasData = true;
    m_bDirty = false;
    Refresh();
    return true;
}

std::string LogTable::toText() const
{
    std::string out;
    for (std::size_t k = 1; k < m_columns.size(); ++k) {
        appendField(out, m_columns[k].title);
    }
    out += '\n';
    std::vector<const std::vector<std::string>*> columnCells;
    for (std::size_t k = 1; k < m_columns.size(); ++k) {
        const auto found = _dataTableDictionary.find(m_columns[k].identifier);
        columnCells.push_back(found == _dataTableDictionary.end() ? nullptr : &found->second);
    }
    const std::size_t rows = rowCount();
    for (std::size_t row = 0; row < rows; ++row) {
        for (const auto* cells : columnCells) {
            appendField(out, cells && row < cells->size() ? (*cells)[row] : emptyText());
        }
        out += '\n';
    }
    return out;
}

bool LogTable::Save(const std::string& path, std::string& error)
{
    const std::string text = toText();
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(text.data()),
                                              text.size());
    if (!writeFileAtomically(path, bytes, error)) {
        return false;
    }
    m_bDirty = false;
    return true;
}

bool LogTable::validateMenuItem(const std::string& command, bool windowVisible) const
{
    if (command == "_LogSave:") {
        return windowVisible && m_bDirty;
    }
    if (command == "_LogSaveas:") {
        return windowVisible && m_bhasData;
    }
    return false;
}

} // namespace phonaxis
