#pragma once

// The first bytes of a recording: what every reader of
// MyDocument::readFromData checks before anything else, so that a file none
// of them could accept is declined before it is read whole.

#include "document/Bytes.h"
#include "document/FileIO.h"

#include <cstddef>

namespace phonaxis {

// The leading bytes that hold every signature the readers look for.
constexpr std::size_t kRecordingSignatureBytes = 16;

// Whether a file beginning with `prefix` (its first kRecordingSignatureBytes,
// or the whole of a shorter file) carries a signature one of the readers
// accepts: a KVQ family signature, an older PMF header's size and version,
// RIFF/WAVE, or FORM with AIFF or AIFC. A file this declines, every reader
// declines.
bool mayBeRecording(ByteView prefix);

// The signature test of the older PMF headers (OldPmfFormat.cpp), including
// the very old Mac version 20 header its reader recognises to refuse with a
// message.
bool mayBeOldPmf(ByteView prefix);

// What FileContents::open checks of a recording before reading it whole.
inline constexpr FileCheck kRecordingFile{.kind = "a recording this application can read",
                                          .prefixBytes = kRecordingSignatureBytes,
                                          .accepts = &mayBeRecording};

} // namespace phonaxis
