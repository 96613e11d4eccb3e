#pragma once

#include <iosfwd>

namespace phonaxis::cli {

struct Options;

// phonaxis-cli voice: the voice report of the audio channel (or --channel N)
// and of the EGG channel (--egg-channel N, else the file's own) over
// --from/--to or the whole file: one "Voice Report Entry" record per source
// that has measures, or one named row each (source audio or egg). A source
// whose report cannot be made says why on `err`; when neither can, the
// status is kExitFailure.
int voiceCommand(const Options& options, std::ostream& out, std::ostream& err);

} // namespace phonaxis::cli
