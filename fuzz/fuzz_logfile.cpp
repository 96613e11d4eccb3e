// Measurement-log reader on arbitrary text. A failed read must leave the log
// as it was; a log that reads is written back and read again: columns, titles
// and cells must survive, and appending a long record must keep it readable.

#include "log/LogTable.h"

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

using phonaxis::LogTable;

std::vector<std::string> titles(const LogTable& log)
{
    std::vector<std::string> out;
    for (const auto& column : log.columns()) {
        out.push_back(column.title);
    }
    return out;
}

bool sameCells(const LogTable& a, const LogTable& b)
{
    if (a.rowCount() != b.rowCount() || a.columns().size() != b.columns().size()) {
        return false;
    }
    for (std::size_t r = 0; r < a.rowCount(); ++r) {
        for (std::size_t k = 1; k < a.columns().size(); ++k) {
            const std::string& id = a.columns()[k].identifier;
            if (id != b.columns()[k].identifier || a.cell(r, id) != b.cell(r, id)) {
                return false;
            }
        }
    }
    return true;
}

// A title the reader counts as naming a column (anything but CRs).
bool named(const std::string& title)
{
    return title.find_first_not_of('\r') != std::string::npos;
}

phonaxis::LogRecord longRecord()
{
    phonaxis::LogRecord record;
    record.name = "seed.wav";
    record.definition = "Marker Entry: time ,Audio";
    for (int i = 0; i < 20; ++i) {
        record.append(i * 0.5);
    }
    return record;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    LogTable log;
    log.AddLog(longRecord(), true);
    const std::string before = log.toText();
    if (!log.readFromText(text)) {
        if (log.toText() != before || !log.m_bDirty || log.m_bhasData) {
            std::abort();
        }
        return 0;
    }
    if (log.columns().size() < 4 || log.columns().back().identifier != LogTable::kCommentId ||
        log.m_bDirty) {
        std::abort();
    }

    bool allNamed = true;
    for (std::size_t k = 1; k < log.columns().size(); ++k) {
        allNamed = allNamed && named(log.columns()[k].title);
    }
    // An empty title inside the header is read as no column, so only logs
    // whose every title names a column come back whole.
    LogTable copy;
    const bool reread = copy.readFromText(log.toText());
    if (allNamed && (!reread || titles(copy) != titles(log) || !sameCells(copy, log))) {
        std::abort();
    }

    log.AddLog(longRecord(), false);
    LogTable grown;
    if (allNamed && (!grown.readFromText(log.toText()) || grown.rowCount() != log.rowCount())) {
        std::abort();
    }
    return 0;
}
