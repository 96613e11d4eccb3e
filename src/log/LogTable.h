#pragma once

#include "log/LogRecord.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace phonaxis {

// How the cells of a log column are aligned.
enum class LogCellAlignment { Natural, Right };

// One column of the measurement log.
struct LogColumn {
    std::string identifier; // "row", "name", "def", "entry1", "entry2", …, "comment"
    std::string title;      // header text
    int widthPx = 100;
    LogCellAlignment alignment = LogCellAlignment::Natural;
    bool editable = true; // every cell but the row number may be edited
};

// The measurement log: one table shared by the whole application (the app
// owns a single instance; core keeps no global). Each row carries the file a
// measurement was taken in, the text defining its values and the values
// formatted "%.3f", plus a free comment. The table reads and writes its
// tab-separated text file.
//
// Columns, in table order: "row" (row number, read-only), "name", "def",
// "entry1" … "entryN" (right-aligned values) and "comment", always last.
// Cells are held per column identifier and indexed by row; a cell that was
// never set reads as empty text.
//
// Main thread only.
class LogTable {
public:
    static constexpr const char* kRowId = "row";
    static constexpr const char* kNameId = "name";
    static constexpr const char* kDefinitionId = "def";
    static constexpr const char* kCommentId = "comment";
    static constexpr const char* kNameTitle = "File Name";
    static constexpr const char* kDefinitionTitle = "Entry definitions and order";
    static constexpr const char* kCommentTitle = "Comments";

    // Value slots AddLog always fills ("0.000" beyond the record's count), so
    // that entry columns added later show a value in earlier rows.
    static constexpr int kFilledValueSlots = 15;

    // A new log: the row, name, definition and comment columns, no rows.
    LogTable();

    // --- appending and editing ----------------------------------------------

    // Appends one row for `record`, adding the entry columns its count needs
    // (at most LogRecord::kValueSlots). Entry columns 1 to 15 always receive
    // a value ("0.000" beyond the count); a record with more than 15 values
    // fills the further entry columns too. Calls Refresh when `refresh` is
    // set; a caller adding many records passes false and calls Refresh once.
    // Sets m_bDirty.
    void AddLog(const LogRecord& record, bool refresh);

    // Tells the window to reload and redisplay the table.
    void Refresh();

    // Empties every row and the path and clears m_bDirty; the columns stay.
    void initilize();

    // Replaces the text of one cell. False for the row-number column, an
    // unknown column or a row out of range. Sets m_bDirty only when the text
    // changes; returns whether it changed.
    bool editCell(std::size_t row, const std::string& identifier, const std::string& text);

    // --- files -----------------------------------------------------------------

    // Replaces the log by the contents of a saved log file. False when the
    // file cannot be read, is empty or is not a log (see readFromText); the
    // log is then exactly as it was. On success sets m_strFilePath to `path`,
    // sets m_bhasData, clears m_bDirty and refreshes.
    bool ReadDocument(const std::string& path);

    // The same from text already in memory: the lines are split at LF and
    // their fields at TAB. The header line (line 0) gives the column titles;
    // every later line with at least as many fields becomes a row numbered by
    // its line index. False, with the log unchanged, for empty text, lines of
    // at most two fields, a header whose field count differs from the longest
    // line's, or a header naming fewer than three columns. On success
    // m_strFilePath := `path` and the rest as ReadDocument.
    bool readFromText(std::string_view text, const std::string& path = {});

    // The log file: the titles of every column but the row number, then one
    // line per row with the cells of those columns; every field followed by
    // TAB, every line ended by LF. A TAB or LF inside a cell is written as a
    // blank so that it cannot split the row.
    std::string toText() const;

    // Writes toText() to `path` atomically and clears m_bDirty. On failure
    // returns false, sets `error` to a sentence for the user and leaves
    // m_bDirty as it was.
    bool Save(const std::string& path, std::string& error);

    // Whether a log-window command ("_LogSave:", "_LogSaveas:") is enabled.
    bool validateMenuItem(const std::string& command, bool windowVisible) const;

    // --- reading the table ---------------------------------------------------

    const std::vector<LogColumn>& columns() const { return m_columns; }
    // Number of rows.
    std::size_t rowCount() const;
    // Text of a cell; empty when the column or the cell does not exist.
    const std::string& cell(std::size_t row, const std::string& identifier) const;
    // Number of entry columns (the columns other than row, name, def and comment).
    int entryColumnCount() const { return static_cast<int>(m_columns.size()) - 4; }

    // Called by Refresh; the window installs it to reload its view.
    void setRefreshHandler(std::function<void()> handler) { m_refreshHandler = std::move(handler); }

    // --- fields ----------------------------------------------------------------
    std::string m_strFilePath; // file read from or saved to; empty for a new log
    bool m_bDirty = false;     // unsaved changes
    bool m_bhasData = false;   // the log was read from a file

private:
    using CellTable = std::map<std::string, std::vector<std::string>, std::less<>>;

    std::vector<LogColumn> m_columns;
    // Column identifier → cell texts indexed by row. Entry lists may exist for
    // columns not (yet) in the table.
    CellTable _dataTableDictionary;
    std::function<void()> m_refreshHandler;
};

} // namespace phonaxis
