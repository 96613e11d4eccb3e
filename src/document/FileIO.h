#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>

#include <sys/types.h>

#include "model/TrackBuffer.h"

namespace phonaxis {

// What a reader asks of a file before it is read into memory, so that a file
// it could never accept costs a few bytes of reading rather than its size.
struct FileCheck {
    // What the file should be, for the message when it is declined
    // ("a recording this application can read").
    const char* kind = "a file of the expected kind";
    // A larger file is declined unread.
    std::uint64_t largestSize = std::numeric_limits<std::uint64_t>::max();
    // Only the first `readAtMost` bytes are read; the rest is ignored.
    std::uint64_t readAtMost = std::numeric_limits<std::uint64_t>::max();
    // The first `prefixBytes` bytes (all of a shorter file) are handed to
    // `accepts` before anything else is read; a file it declines is not read.
    std::size_t prefixBytes = 0;
    bool (*accepts)(std::span<const std::uint8_t> prefix) = nullptr;
};

// Whether `prefix` holds no NUL byte: the first bytes of a text file.
bool looksLikeText(std::span<const std::uint8_t> prefix);

// What the tab-separated tables (measurement logs, formant tables) must be:
// text, and at most 512 MB.
inline constexpr FileCheck kTextTableFile{.kind = "a text table of at most 512 MB",
                                          .largestSize = std::uint64_t{512} << 20,
                                          .prefixBytes = 4096,
                                          .accepts = &looksLikeText};

// A whole file read into memory. The bytes live in zeroed, huge-page
// backed memory, so an hour-long recording costs one read at the speed of
// the page cache rather than a page fault per 4 KB.
class FileContents {
public:
    // Reads `path` whole. On failure returns false, holds no bytes and sets
    // `error` to a sentence for the user.
    bool open(const std::string& path, std::string& error);
    // Reads `path` as far as `check` allows, after its size and first bytes
    // passed. A file the check declines gives false with declined() true and
    // `error` saying what the file is not.
    bool open(const std::string& path, const FileCheck& check, std::string& error);

    std::span<const std::uint8_t> bytes() const { return m_bytes.span(); }
    // Whether the last open() failed because the check declined the file.
    bool declined() const { return m_declined; }

private:
    TrackBuffer<std::uint8_t> m_bytes;
    bool m_declined = false;
};

// A whole file written in place of another: the bytes go to a temporary file
// in the target's folder, and commit() flushes it to disk, renames it over
// the target and flushes the folder, so that the replacement survives a power
// cut. Until then (and if anything fails, or the writer is destroyed without
// a commit) the old file is untouched and the temporary one removed.
//
// The target is what a write in place would change: a symbolic link is
// written through to the file it finally names (the link stays; a link to
// nothing, or one that belongs neither to this user nor to its folder's
// owner, is refused), and an existing file keeps its mode and, where the
// user may set them, its owner and group. A new file gets 0666 less the
// umask. Refused before anything is written: a target that exists and is not
// a regular file (a folder, device, pipe or socket), and an existing file the
// user has no permission to write.
//
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

    // commit() in two steps, for writers that replace several files
    // together: prepare() gives the written file its owner and mode and
    // flushes it, leaving the target untouched; replace() then puts it in
    // the target's place.
    bool prepare(std::string& error);
    bool replace(std::string& error);

    // The file replaced: the path opened, or the file its links lead to.
    const std::string& target() const { return m_target; }
    // Whether the target existed when opened (and is replaced, not made).
    bool replacing() const { return m_replacing; }
    // Whether replace() put the file in place (its folder's flush may
    // still have failed).
    bool replaced() const { return m_replaced; }

    // The temporary file's descriptor, for writers that stream into it
    // themselves; -1 when not open.
    int fd() const { return m_fd; }
    // Reports a failure of such a writer (an errno value) and discards the file.
    bool fail(int err, std::string& error);

private:
    void discard() noexcept;

    std::string m_path;   // as the caller named it, for messages
    std::string m_target; // the file replaced: m_path, or where its link leads
    std::string m_temporary;
    int m_fd = -1;
    bool m_prepared = false; // closed and flushed, waiting for replace()
    bool m_replaced = false;
    // The replaced file's owner, group and mode; a new file has none.
    bool m_replacing = false;
    mode_t m_mode = 0;
    uid_t m_owner = 0;
    gid_t m_group = 0;
    // The replaced file's identity, checked again just before the rename.
    dev_t m_device = 0;
    ino_t m_inode = 0;
};

// Writes `bytes` to a temporary file in the target's folder, flushes it and
// renames it over `path` (as AtomicFileWriter), so that a failed write leaves
// any old file intact. On failure returns false and sets `error` to a
// sentence for the user.
bool writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                         std::string& error);

// Whether a file of `bytes` bytes could be written at `path` as
// writeFileAtomically writes it: the target's kind and permission are
// checked, a temporary file is made and removed in its folder, and that
// folder's file system must have room for the bytes. For commands that
// produce their output only at the end of long work (a recording), so that
// a destination that cannot take it is refused before the work starts.
// On failure returns false and sets `error` to a sentence for the user.
bool checkWritable(const std::string& path, std::uint64_t bytes, std::string& error);

// One file of a group written together.
struct FileToWrite {
    std::string path;
    std::span<const std::uint8_t> bytes;
};

// Writes every file of `files` or none (as far as the system allows): each
// target is checked and each file written to a temporary file and flushed
// before any target is replaced, a target reached twice (a link from one to
// another) is refused, and when replacing one fails, those replaced before
// it get their old contents back (a file that was new is removed). On
// failure returns false and sets `error` to sentences saying what failed
// and what was (not) written.
bool writeFilesTogether(std::span<const FileToWrite> files, std::string& error);

// "<what> "<path>": <the system's text for errno value err>", a sentence
// for the user.
std::string systemError(const std::string& what, const std::string& path, int err);

// Reads up to `size` bytes of `fd` at `offset` into `into`, stopping early
// only at the end of the file; the count read, or -1 with errno set.
ssize_t readAt(int fd, std::uint8_t* into, std::size_t size, std::uint64_t offset);

// The lower-case extension of a path without the dot ("" when none).
std::string fileExtension(const std::string& path);

} // namespace phonaxis
