#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "model/TrackBuffer.h"

namespace phonaxis {

// A whole file read into memory. The bytes live in zeroed, huge-page
// backed memory, so an hour-long recording costs one read at the speed of
// the page cache rather than a page fault per 4 KB.
class FileContents {
public:
    // Reads `path` whole. On failure returns false, holds no bytes and sets
    // `error` to a sentence for the user.
    bool open(const std::string& path, std::string& error);

    std::span<const std::uint8_t> bytes() const { return m_bytes.span(); }

private:
    TrackBuffer<std::uint8_t> m_bytes;
};

// Writes `bytes` to a temporary file in the target's folder, flushes it and
// renames it over `path`, so that a failed write leaves any old file intact.
// On failure returns false and sets `error` to a sentence for the user.
bool writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                         std::string& error);

// The lower-case extension of a path without the dot ("" when none).
std::string fileExtension(const std::string& path);

} // namespace phonaxis
