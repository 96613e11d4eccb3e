#pragma once

#include <iosfwd>

namespace phonaxis::cli {

struct Options;

// formant-track FILE: F1 … F5 and B1 … B5 of the audio channel (or
// --channel N) every --step ms (default kDefaultFormantStepMs) over the
// whole channel or the rows of --from/--to, by the formant analysis alone
// (windows/FormantTrack.h). Rows are printed as they are computed, so a
// recording of any length fits in memory: the measurement-log format, or
// --table, --csv, --json as the other analyses. Returns the exit status.
constexpr double kDefaultFormantStepMs = 10.0;
int formantTrackCommand(const Options& options, std::ostream& out, std::ostream& err);

} // namespace phonaxis::cli
