#pragma once

#include <iosfwd>

namespace phonaxis::cli {

struct Options;

// phonaxis-cli record OUT.pmf --box: records --seconds from the acquisition
// box (on the USB bus, or the simulated box of --simulate-box=N or
// PHONAXIS_SIMULATE_BOX) through the same session as the recording window,
// without a window, and writes the enabled channels as a native file. The
// entries of --channels are recorded (0 the audio, 1.. the analog
// channels), all of the box's without it; the channel settings are the
// launch defaults, never the desktop's configuration, which stays as it is.
// Exit 0 when the whole time was recorded and written; 1 when no box came,
// the recording or the file failed, or the box went away (what was received
// is then written); 2 for a wrong command line.
int boxRecordCommand(const Options& options, std::ostream& out, std::ostream& err);

} // namespace phonaxis::cli
