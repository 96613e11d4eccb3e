#pragma once

#include <iosfwd>

namespace phonaxis {
class AudioBackend;
}

namespace phonaxis::cli {

struct Options;

// Sound-card commands of phonaxis-cli, through the same player and recorder
// as the desktop. Each prints the device and the rate it used; when no
// device can be opened they tell why on `err` and return kExitFailure.

// Plays the audio channel of FILE, whole or --from/--to, on --device (or
// the default output) and returns when it has been played.
int playCommand(const Options& options, std::ostream& out, std::ostream& err);
// Records --seconds from --device (or the default input) at --rate (11025
// by default) into OUT, a 32-bit float WAV file.
// OUT is checked before anything is recorded; a recording whose OUT cannot
// be written in the end is kept in the temporary folder and its place told.
// An interrupt (SIGINT, SIGTERM, SIGHUP) ends the recording early with what
// was recorded written.
int recordCommand(const Options& options, std::ostream& out, std::ostream& err);
// The same through `backend` rather than the sound system's.
int recordCommand(const Options& options, AudioBackend& backend, std::ostream& out,
                  std::ostream& err);

} // namespace phonaxis::cli
