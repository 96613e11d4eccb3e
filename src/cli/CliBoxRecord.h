#pragma once

#include <iosfwd>
#include <string>
#include <vector>

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

// phonaxis-cli box: finds the acquisition box (on the USB bus, or the
// simulated box of --simulate-box=N or PHONAXIS_SIMULATE_BOX) as record
// --box does, waiting 10 s at most all told, programming a bare loader with
// the firmware image on the way, and prints what answered: its channel
// count, USB identity, the image loaded, its interface and pipes. Exit 0
// when a box answered; 1 with the reason when none did (none found, no
// permission on its device node, the image refused or missing, the
// download failed or did not finish in time); 2 for a wrong command line.
int boxCommand(const Options& options, std::ostream& out, std::ostream& err);

// The files a box command reads besides its options: the firmware image it
// would load (named, the data folder's, or the simulated box's built one).
std::vector<std::string> boxInputs(const Options& options);

} // namespace phonaxis::cli
