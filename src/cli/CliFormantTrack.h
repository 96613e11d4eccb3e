#pragma once

#include "cli/CliTable.h"
#include "log/LogRecord.h"

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace phonaxis::cli {

struct Options;

// Writes an analysis's records block by block in the form the options ask
// for (the measurement-log format, or --table, --csv, --json), exactly as
// all of them would be written at once: one header, or one JSON array
// around all the blocks. A block is formatted by format(), which any thread
// may call, and written in order by put().
class BlockWriter {
public:
    BlockWriter(const Options& options, std::ostream& out) : m_options(options), m_out(out) {}

    // The text of a block: `records` and `named`, the named table of the
    // same rows (made only for --table, --csv and --json).
    static std::string format(const Options& options, const std::vector<LogRecord>& records,
                              const std::function<Table()>& named);
    // Writes a formatted block (empty text: a block without rows, nothing
    // written); false once the output cannot be written.
    bool put(const std::string& text);
    // The end of the output; all of it (`emptyNamed`: the table without
    // rows) when no block was put.
    bool finish(const Table& emptyNamed);

private:
    const Options& m_options;
    std::ostream& m_out;
    bool m_bStarted = false;
};

// Formats blocks 0 … count − 1 (`block(i)` gives block i's text) two at a
// time on two threads and puts them in order; false once the output cannot
// be written. The text does not depend on the threads.
bool putBlocks(BlockWriter& writer, std::size_t count,
               const std::function<std::string(std::size_t)>& block);

// formant-track FILE: F1 … F5 and B1 … B5 of the audio channel (or
// --channel N) every --step ms (default kDefaultFormantStepMs) over the
// whole channel or the rows of --from/--to, by the formant analysis alone
// (windows/FormantTrack.h). Rows are printed as they are computed, so a
// recording of any length fits in memory: the measurement-log format, or
// --table, --csv, --json as the other analyses. Returns the exit status.
constexpr double kDefaultFormantStepMs = 10.0;
int formantTrackCommand(const Options& options, std::ostream& out, std::ostream& err);

} // namespace phonaxis::cli
