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

// A whole file written in place of another: the bytes go to a temporary file
// in the target's folder, and commit() flushes it to disk and renames it over
// the target. Until then (and if anything fails, or the writer is destroyed
// without a commit) the old file is untouched and the temporary one removed.
// Failures set `error` to a sentence for the user.
class AtomicFileWriter {
public:
    AtomicFileWriter() = default;
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    bool open(const std::string& path, std::string& error);
    bool write(std::span<const std::uint8_t> bytes, std::string& error);
    bool commit(std::string& error);

    // The temporary file's descriptor, for writers that stream into it
    // themselves; -1 when not open.
    int fd() const { return m_fd; }
    // Reports a failure of such a writer (an errno value) and discards the file.
    bool fail(int err, std::string& error);

private:
    void discard() noexcept;

    std::string m_path;
    std::string m_temporary;
    int m_fd = -1;
};

// Writes `bytes` to a temporary file in the target's folder, flushes it and
// renames it over `path`, so that a failed write leaves any old file intact.
// On failure returns false and sets `error` to a sentence for the user.
bool writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                         std::string& error);

// The lower-case extension of a path without the dot ("" when none).
std::string fileExtension(const std::string& path);

} // namespace phonaxis
