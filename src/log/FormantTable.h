#pragma once

#include "document/Bytes.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace phonaxis {

// One row of the formant table: every cell as the text the table shows.
// Formant cells hold decimal integer text in Hz ("-1" for a missing formant);
// the plot reads them with `intValue`.
struct FormantRow {
    std::string row;
    std::string f1;
    std::string f2;
    std::string f3;
    std::string label;

    friend bool operator==(const FormantRow&, const FormantRow&) = default;
};

// Column key → ordered cell texts, keys "row", "f1", "f2", "f3", "label": the
// form in which the spectrogram hands its formant tracks over.
using FormantDictionary = std::map<std::string, std::vector<std::string>>;

// The leading decimal integer of `text`: leading white space is skipped, an
// optional sign and the digits that follow are read, anything after them is
// ignored. Text without digits gives 0; values beyond the int32 range
// saturate at its ends.
std::int32_t intValue(const std::string& text);

// The formant table behind a plot window: the rows, the file they came from,
// the plot settings and the edits. Plain data; called on the main thread.
class FormantTable {
public:
    // Table columns as the accessors number them.
    enum Column { kColumnRow = 0, kColumnF1 = 1, kColumnF2 = 2, kColumnF3 = 3, kColumnLabel = 4 };

    static constexpr std::int32_t kDefaultF1RangeHighHz = 1600;
    static constexpr std::int32_t kDefaultF2RangeHighHz = 3000;
    static constexpr std::int32_t kDefaultF3RangeHighHz = 3000;

    // --- reading and writing ---------------------------------------------------

    // Reads a formant file and replaces the table with its rows. On success
    // the path is kept, the table is clean, and true is returned. A file that
    // cannot be read, or is not UTF-8 text, leaves the table as it was,
    // returns false and sets `diagnostic` (when given) to the console line
    // "File length is zero, <path>".
    bool ReadDocument(const std::string& path, std::string* diagnostic = nullptr);

    // The rows of formant-file text, or nothing when the bytes are not UTF-8.
    // Lines end at LF; a line of exactly four TAB-separated fields becomes a
    // row numbered with its line index (from 0) whose label is the fourth
    // field with every double quote removed; other lines are skipped.
    // Byte-order marks at the start of the text are ignored.
    static std::optional<std::vector<FormantRow>> parseFormantText(ByteView bytes);

    // The formant file of the table: per row F1, TAB, F2, TAB, F3, TAB, the
    // label trimmed of surrounding white space between double quotes, LF.
    // TABs and line breaks inside a cell are written as spaces, so that each
    // row reads back as one row.
    Bytes formantFileBytes() const;

    // Writes the formant file to `path` atomically. On success the table is
    // clean and `path` becomes its file path; on failure returns false, sets
    // `error` to a sentence for the user and changes nothing.
    bool Save(const std::string& path, std::string& error);

    // Replaces the rows with the given columns (a missing key or a shorter
    // list leaves empty cells; the longest list sets the row count), clears
    // the path and marks the table dirty.
    bool ReadDocumentFromSpectrogramDict(const FormantDictionary& dictionary);

    // The table as column key → cell texts.
    FormantDictionary GetTable() const;

    // --- editing ------------------------------------------------------------

    // Stores `text` in an editable cell (F1, F2, F3 or label). Returns true
    // and marks the table dirty when the cell changed; the row-number column,
    // rows and columns out of range, and unchanged text return false.
    bool setCell(std::size_t rowIndex, Column column, const std::string& text);

    // Appends a row numbered row count + 1 with F1, F2, F3 "0" and no label.
    void insertRow();

    // Removes the selected rows (every row when the table holds at most one)
    // and renumbers. Indices out of range are ignored.
    void deleteRows(const std::vector<std::size_t>& selectedRows);

    // Writes `label` into the label of every selected row (indices out of
    // range are ignored) and marks the table dirty.
    void labelRows(const std::vector<std::size_t>& selectedRows, const std::string& label);

    // Row i (from 0) := "i + 1".
    void renumber();

    // --- reading cells --------------------------------------------------------

    std::size_t rowCount() const { return m_rows.size(); }
    const std::vector<FormantRow>& rows() const { return m_rows; }

    // The integer value of "row", "f1", "f2" or "f3" (column 0–3) of a row;
    // 0 for a row or column out of range.
    std::int32_t GetTableCellData(std::size_t rowIndex, int column) const;
    // The label of a row; empty for a row out of range.
    std::string GetTableCellStringData(std::size_t rowIndex) const;

    // --- settings -------------------------------------------------------------

    std::int32_t GetF1() const { return m_nF1RangeHigh; }
    std::int32_t GetF2() const { return m_nF2RangeHigh; }
    std::int32_t GetF3() const { return m_nF3RangeHigh; }
    bool GetData() const { return m_bHaveData; }
    bool GetDrawData() const { return m_bDrawdata; }
    bool GetDrawellipse() const { return m_bDrawellipse; }
    bool GetDrawmean() const { return m_bDrawmean; }
    bool GetDrawindividuallabels() const { return m_bDrawindividuallabels; }
    bool GetDrawmeanlabel() const { return m_bDrawmeanlabel; }
    std::int32_t GetPlotType() const { return m_nPlotType; }

    // Plot type 0 (F1/F2), 1 (F1/F2') or 2 (F1/F3).
    void F1F2() { m_nPlotType = 0; }
    void F1F2p() { m_nPlotType = 1; }
    void F1F3() { m_nPlotType = 2; }

    // The upper limits the axis combo boxes offer: 1000 to 4800 Hz in steps
    // of 200.
    static const std::vector<std::int32_t>& rangeChoicesHz();
    // The combo-box entry of a limit, or -1 when the list does not hold it.
    static int rangeChoiceIndex(std::int32_t limitHz);
    // Takes the limits of the selected combo entries (-1 or an index out of
    // the list: no selection). The F2 limit is read only while F1 has a
    // selection, the F3 limit only while F2 has one too.
    void comboBoxSelectionDidChange(int f1Index, int f2Index, int f3Index);

    std::vector<FormantRow> m_rows;
    std::string m_strFilePath;
    bool m_bDirty = false;
    bool m_bHaveData = false; // the table holds at least one row

    std::int32_t m_nPlotType = 0;
    // Everything is drawn at first, as in a new document's formant settings.
    bool m_bDrawdata = true;
    bool m_bDrawellipse = true;
    bool m_bDrawmean = true;
    bool m_bDrawindividuallabels = true;
    bool m_bDrawmeanlabel = true;
    std::int32_t m_nF1RangeHigh = kDefaultF1RangeHighHz;
    std::int32_t m_nF2RangeHigh = kDefaultF2RangeHighHz;
    std::int32_t m_nF3RangeHigh = kDefaultF3RangeHighHz;

private:
    void replaceRows(std::vector<FormantRow> rows);
};

} // namespace phonaxis
