#pragma once

// Files only this user may read or replace: the folder that holds the
// application's temporary files (undo backups are whole copies of a
// recording) and the files made in it.
//
// A private folder is a real directory (not a symbolic link) owned by this
// user with no permission for group or others. Files are created in it
// exclusively, never through a link, with mode 0600 and unpredictable names,
// and stay open and locked while their maker runs, so that another running
// instance can tell a live file from one left by a run that crashed.
// POSIX only. Main thread only.

#include "model/TrackBuffer.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>
#include <sys/types.h>

namespace phonaxis {

// This user's folder for the application's temporary files:
// $XDG_CACHE_HOME/Phonaxis/tmp, else ~/.cache/Phonaxis/tmp. The cache is
// used rather than the runtime folder because a backup is as large as the
// recording, and the runtime folder is a small memory-backed one.
std::filesystem::path privateTemporaryFolder();

// Opens `folder` as a private folder, creating it (and its missing parents)
// with mode 0700 when it does not exist. Refuses a folder that is a
// symbolic link, not a directory, owned by another user, or open to group
// or others. Returns the folder's descriptor (close it), or -1 with `error`
// set to a sentence for the user.
int openPrivateFolder(const std::filesystem::path& folder, std::string& error);

// A file created in a private folder by this process. It is created
// exclusively (never replacing a file or following a link), with mode 0600,
// and held open and locked until it is removed or the object is destroyed,
// which removes it.
class PrivateFile {
public:
    PrivateFile() = default;
    ~PrivateFile();
    PrivateFile(const PrivateFile&) = delete;
    PrivateFile& operator=(const PrivateFile&) = delete;

    // Creates `name` in the private folder `folder` (made when missing). A
    // file already there of that name is an error: it is never reused.
    bool create(const std::filesystem::path& folder, const std::string& name, std::string& error);

    // The open file, for writing; -1 when there is none.
    int fd() const { return m_fd; }
    const std::string& path() const { return m_path; }

    // Records the file's length as written: readBack accepts exactly that.
    bool finishWriting(std::string& error);

    // Reads the file back whole through the descriptor created with it, so
    // a file put in its place under its name is never read. Refuses a file
    // whose owner, mode or length is no longer what this process made.
    bool readBack(TrackBuffer<std::uint8_t>& bytes, std::string& error) const;

    // Closes the file and removes its name, when the name still leads to
    // this file.
    void remove() noexcept;

    // Closes the file and keeps it under its name (its lock goes with the
    // descriptor): for files that outlive this object, such as a recording
    // not yet read into a document.
    void close() noexcept;

private:
    int m_fd = -1;
    std::string m_path;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    off_t m_length = -1;
};

// Removes from the private folder `folder` the files whose name says they
// belong to a process (see `ownerProcess`) that no longer runs and that no
// process holds locked: what runs that ended without cleaning up left
// behind. Files of this process, of a running process, of other users and
// anything that is not a regular file are left alone; so is a folder that
// is not private. Returns the number of files removed.
//
// `ownerProcess` returns the process id a file name carries, or -1 when the
// name is not one of the files to clean.
int removeAbandonedFiles(const std::filesystem::path& folder,
                         pid_t (*ownerProcess)(const std::string& name));

// Opens `name` in the private folder open as `folder` (a descriptor from
// `openPrivateFolder`) when it is abandoned: a regular file of this user
// whose owner process `owner` (not this one) certainly no longer runs and
// that no process holds locked. Returns its descriptor, read-only and held
// locked until closed, or -1 when it is in use or not such a file.
int openAbandonedFile(int folder, const std::string& name, pid_t owner);

// The names of the entries in the folder open as `folder` ("." and ".."
// left out); the descriptor stays open.
std::vector<std::string> namesInFolder(int folder);

} // namespace phonaxis
