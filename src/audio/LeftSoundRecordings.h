#pragma once

// Sound-card recordings that a run which ended without saving them (it was
// killed, crashed, or its destination could not be written) left in the
// private temporary folder. Each is a mono 32-bit float WAV file named
// "recording-<process id>-<session>-<random>.wav" by the recorder that made
// it. A recording cut off by a crash still says 0 samples in its header;
// its length is taken from the file instead, so nothing it holds is lost.
//
// POSIX only. Main thread only.

#include "document/AvailableMemory.h"
#include "model/TrackBuffer.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>
#include <sys/types.h>

namespace phonaxis {

struct LeftSoundRecording {
    std::filesystem::path path;
    double rateHz = 0.0;
    std::uint64_t samples = 0;
    std::int64_t modifiedUnixSeconds = 0;  // when it was last written
};

// The process id a recorder's file name carries, or -1 for any other name.
pid_t soundRecordingOwner(const std::string& name);

// The recordings in `folder` (a private folder) whose process no longer
// runs and that no process holds, oldest first. Files too short to hold a
// header or with a header that is not the recorder's are left alone and not
// listed; a recording of no samples holds nothing and is removed.
std::vector<LeftSoundRecording> findLeftSoundRecordings(const std::filesystem::path& folder);

// The recording's bytes as a WAV file whose header states the samples the
// file really holds. False with `error` set when it cannot be read: it was
// taken by another process meanwhile, or the bytes and the document's copy
// of its samples would not fit the memory this process may still take (as
// `memory` tells), where the system would kill the process rather than
// refuse it.
bool readLeftSoundRecording(const LeftSoundRecording& recording, TrackBuffer<std::uint8_t>& bytes,
                            std::string& error,
                            const MemorySources& memory = MemorySources::system());

// Removes the recording, when it is still one no process holds.
void discardLeftSoundRecording(const LeftSoundRecording& recording);

} // namespace phonaxis
