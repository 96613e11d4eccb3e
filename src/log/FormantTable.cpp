#include "log/FormantTable.h"

#include "document/FileIO.h"

#include <algorithm>
#include <limits>
#include <set>
#include <string_view>

namespace phonaxis {

namespace {

// True when `bytes` is well-formed UTF-8: no overlong forms, no surrogates,
// nothing above U+10FFFF.
bool isUtf8(ByteView bytes)
{
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        const std::uint8_t lead = bytes[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        std::uint8_t low = 0x80; // bounds of the second byte
        std::uint8_t high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) {
                low = 0xA0;
            } else if (lead == 0xED) {
                high = 0x9F;
            }
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) {
                low = 0x90;
            } else if (lead == 0xF4) {
                high = 0x8F;
            }
        } else {
            return false;
        }
        if (n - i < length || bytes[i + 1] < low || bytes[i + 1] > high) {
            return false;
        }
        for (std::size_t k = 2; k < length; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// A cell as one field of a formant-file line.
void appendField(Bytes& out, std::string_view cell)
{
    for (const char c : cell) {
        const bool breaksLine = c == '\t' || c == '\n' || c == '\r';
        out.push_back(static_cast<std::uint8_t>(breaksLine ? ' ' : c));
    }
}

std::string rowNumber(std::size_t value)
{
    return std::to_string(value);
}

// Valid row indices of `selected`, without duplicates.
std::set<std::size_t> validRows(const std::vector<std::size_t>& selected, std::size_t rowCount)
{
    std::set<std::size_t> rows;
    for (const std::size_t r : selected) {
        if (r < rowCount) {
            rows.insert(r);
        }
    }
    return rows;
}

} // namespace

std::int32_t intValue(const std::string& text)
{
    std::size_t i = 0;
    while (i < text.size() && isSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulated as a magnitude in 64 bits and stopped once past the range.
    constexpr std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        magnitude = std::min<std::int64_t>(magnitude * 10 + (text[i] - '0'), limit);
        ++i;
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

std::optional<std::vector<FormantRow>> FormantTable::parseFormantText(ByteView bytes)
{
    if (!isUtf8(bytes)) {
        return std::nullopt;
    }
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
    while (text.starts_with(byteOrderMark)) {
        text.remove_prefix(byteOrderMark.size());
    }
    std::vector<FormantRow> rows;
    std::size_t lineIndex = 0;
    while (true) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        if (std::count(line.begin(), line.end(), '\t') == 3) {
            const std::size_t t1 = line.find('\t');
            const std::size_t t2 = line.find('\t', t1 + 1);
            const std::size_t t3 = line.find('\t', t2 + 1);
            FormantRow row;
            row.row = rowNumber(lineIndex);
            row.f1 = std::string(line.substr(0, t1));
            row.f2 = std::string(line.substr(t1 + 1, t2 - t1 - 1));
            row.f3 = std::string(line.substr(t2 + 1, t3 - t2 - 1));
            for (const char c : line.substr(t3 + 1)) {
                if (c != '"') {
                    row.label.push_back(c);
                }
            }
            rows.push_back(std::move(row));
        }
        if (end == std::string_view::npos) {
            break;
        }
        text.remove_prefix(end + 1);
        ++lineIndex;
    }
    return rows;
}

bool FormantTable::ReadDocument(const std::string& path, std::string* diagnostic)
{
    FileContents file;
    std::string error;
    std::optional<std::vector<FormantRow>> rows;
    if (file.open(path, kTextTableFile, error)) {
        rows = parseFormantText(file.bytes());
    }
    if (!rows) {
        if (diagnostic != nullptr) {
            *diagnostic = "File length is zero, " + path;
        }
        return false;
    }
    replaceRows(std::move(*rows));
    m_strFilePath = path;
    m_bDirty = false;
    return true;
}

Bytes FormantTable::formantFileBytes() const
{
    Bytes out;
    for (const FormantRow& row : m_rows) {
        appendField(out, row.f1);
        out.push_back('\t');
        appendField(out, row.f2);
        out.push_back('\t');
        appendField(out, row.f3);
        out.push_back('\t');
        out.push_back('"');
        appendField(out, trimmed(row.label));
        out.push_back('"');
        out.push_back('\n');
    }
    return out;
}

bool FormantTable::Save(const std::string& path, std::string& error)
{
    const Bytes bytes = formantFileBytes();
    if (!writeFileAtomically(path, bytes, error)) {
        return false;
    }
    m_strFilePath = path;
    m_bDirty = false;
    return true;
}

bool FormantTable::ReadDocumentFromSpectrogramDict(const FormantDictionary& dictionary)
{
    static const char* const keys[] = {"row", "f1", "f2", "f3", "label"};
    const std::vector<std::string>* columns[5] = {};
    std::size_t count = 0;
    for (std::size_t k = 0; k < 5; ++k) {
        const auto found = dictionary.find(keys[k]);
        if (found != dictionary.end()) {
            columns[k] = &found->second;
            count = std::max(count, found->second.size());
        }
    }
    auto cell = [&](std::size_t k, std::size_t r) {
        return columns[k] != nullptr && r < columns[k]->size() ? (*columns[k])[r] : std::string();
    };
    std::vector<FormantRow> rows(count);
    for (std::size_t r = 0; r < count; ++r) {
        rows[r] = FormantRow{cell(0, r), cell(1, r), cell(2, r), cell(3, r), cell(4, r)};
    }
    replaceRows(std::move(rows));
    m_strFilePath.clear();
    m_bDirty = true;
    return true;
}

FormantDictionary FormantTable::GetTable() const
{
    FormantDictionary table{{"row", {}}, {"f1", {}}, {"f2", {}}, {"f3", {}}, {"label", {}}};
    for (const FormantRow& row : m_rows) {
        table["row"].push_back(row.row);
        table["f1"].push_back(row.f1);
        table["f2"].push_back(row.f2);
        table["f3"].push_back(row.f3);
        table["label"].push_back(row.label);
    }
    return table;
}

bool FormantTable::setCell(std::size_t rowIndex, Column column, const std::string& text)
{
    if (rowIndex >= m_rows.size()) {
        return false;
    }
    FormantRow& row = m_rows[rowIndex];
    std::string* target = nullptr;
    switch (column) {
    case kColumnF1:
        target = &row.f1;
        break;
    case kColumnF2:
        target = &row.f2;
        break;
    case kColumnF3:
        target = &row.f3;
        break;
    case kColumnLabel:
        target = &row.label;
        break;
    case kColumnRow:
        return false;
    }
    if (target == nullptr || *target == text) {
        return false;
    }
    *target = text;
    m_bDirty = true;
    return true;
}

void FormantTable::insertRow()
{
    m_rows.push_back(FormantRow{rowNumber(m_rows.size() + 1), "0", "0", "0", ""});
    m_bHaveData = true;
    m_bDirty = true;
}

void FormantTable::deleteRows(const std::vector<std::size_t>& selectedRows)
{
    std::vector<FormantRow> kept;
    if (m_rows.size() > 1) {
        const std::set<std::size_t> selected = validRows(selectedRows, m_rows.size());
        for (std::size_t r = 0; r < m_rows.size(); ++r) {
            if (selected.count(r) == 0) {
                kept.push_back(std::move(m_rows[r]));
            }
        }
    }
    replaceRows(std::move(kept));
    renumber();
    m_bDirty = true;
}

void FormantTable::labelRows(const std::vector<std::size_t>& selectedRows, const std::string& label)
{
    for (const std::size_t r : validRows(selectedRows, m_rows.size())) {
        m_rows[r].label = label;
    }
    m_bDirty = true;
}

void FormantTable::renumber()
{
    for (std::size_t r = 0; r < m_rows.size(); ++r) {
        m_rows[r].row = rowNumber(r + 1);
    }
}

std::int32_t FormantTable::GetTableCellData(std::size_t rowIndex, int column) const
{
    if (rowIndex >= m_rows.size()) {
        return 0;
    }
    const FormantRow& row = m_rows[rowIndex];
    switch (column) {
    case kColumnRow:
        return intValue(row.row);
    case kColumnF1:
        return intValue(row.f1);
    case kColumnF2:
        return intValue(row.f2);
    case kColumnF3:
        return intValue(row.f3);
    default:
        return 0;
    }
}

std::string FormantTable::GetTableCellStringData(std::size_t rowIndex) const
{
    return rowIndex < m_rows.size() ? m_rows[rowIndex].label : std::string();
}

const std::vector<std::int32_t>& FormantTable::rangeChoicesHz()
{
    static const std::vector<std::int32_t> choices = [] {
        std::vector<std::int32_t> hz;
        for (std::int32_t f = 1000; f <= 4800; f += 200) {
            hz.push_back(f);
        }
        return hz;
    }();
    return choices;
}

int FormantTable::rangeChoiceIndex(std::int32_t limitHz)
{
    const auto& choices = rangeChoicesHz();
    const auto found = std::find(choices.begin(), choices.end(), limitHz);
    return found == choices.end() ? -1 : static_cast<int>(found - choices.begin());
}

void FormantTable::comboBoxSelectionDidChange(int f1Index, int f2Index, int f3Index)
{
    const auto& choices = rangeChoicesHz();
    auto selected = [&](int index) { return index >= 0 && std::size_t(index) < choices.size(); };
    if (!selected(f1Index)) {
        return;
    }
    m_nF1RangeHigh = choices[std::size_t(f1Index)];
    if (!selected(f2Index)) {
        return;
    }
    m_nF2RangeHigh = choices[std::size_t(f2Index)];
    if (!selected(f3Index)) {
        return;
    }
    m_nF3RangeHigh = choices[std::size_t(f3Index)];
}

void FormantTable::replaceRows(std::vector<FormantRow> rows)
{
    m_rows = std::move(rows);
    m_bHaveData = !m_rows.empty();
}

} // namespace phonaxis
