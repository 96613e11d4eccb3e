#include "document/PrivateFiles.h"

#include "document/FileIO.h"

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <system_error>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace phonaxis {

namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;

// "The folder "<folder>" <what>"
std::string folderMessage(const std::filesystem::path& folder, const char* what)
{
    std::string message("The folder \"");
    message.append(folder.string()).append("\" ").append(what);
    return message;
}

// The home folder of the effective user from the password database, or ""
// when it has none.
std::string passwordHome()
{
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] != '/') {
        return {};
    }
    return found->pw_dir;
}

// An absolute path from the environment, or "" (relative paths are ignored,
// as the base-directory convention asks).
std::string absoluteFromEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && value[0] == '/' ? std::string(value) : std::string();
}

// Creates the missing folders on the way to `folder` (the last one
// included) with mode 0700.
void createMissingFolders(const std::filesystem::path& folder)
{
    std::filesystem::path partial;
    for (const std::filesystem::path& part : folder) {
        partial /= part;
        struct stat st {};
        if (::stat(partial.c_str(), &st) == 0) {
            continue;
        }
        // Another process may make it between the look and the mkdir; the
        // open that follows judges whatever is there.
        // A folder made here gets exactly 0700 whatever the umask took: under
        // 0277 it would be 0500, and the next folder could not be made in it.
        if (::mkdir(partial.c_str(), kFolderMode) == 0) {
            const int fd = ::open(partial.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd >= 0) {
                ::fchmod(fd, kFolderMode);
                ::close(fd);
            }
        }
    }
}

} // namespace

// Whether `folder` exists and belongs to this (effective) user. A folder
// named by the environment of another user (a program run as root with the
// user's HOME kept) is not used: folders made in it would belong to the
// wrong user and lock the owner out of them.
namespace {
bool ownFolder(const std::string& folder)
{
    struct stat st {};
    return !folder.empty() && ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::geteuid();
}
} // namespace

std::filesystem::path privateTemporaryFolder()
{
    std::filesystem::path cache;
    if (const std::string named = absoluteFromEnvironment("XDG_CACHE_HOME"); ownFolder(named)) {
        cache = named;
    }
    if (cache.empty()) {
        std::string home = absoluteFromEnvironment("HOME");
        if (!ownFolder(home)) {
            home = passwordHome();
        }
        if (!home.empty()) {
            cache = std::filesystem::path(home) / ".cache";
        }
    }
    if (!cache.empty()) {
        return cache / "Phonaxis" / "tmp";
    }
    // No home folder at all: a per-user name in the system's temporary
    // folder. Should another user have made it first, the ownership check
    // refuses it.
    std::error_code ignored;
    std::filesystem::path system = std::filesystem::temp_directory_path(ignored);
    if (system.empty()) {
        system = "/tmp";
    }
    return system / ("Phonaxis-" + std::to_string(::geteuid()));
}

int openPrivateFolder(const std::filesystem::path& folder, std::string& error)
{
    if (folder.empty()) {
        error = "No folder was given for temporary files.";
        return -1;
    }
    createMissingFolders(folder);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        error = err == ELOOP || err == ENOTDIR
                    ? folderMessage(folder, "is a link or a file.")
                    : systemError("Cannot open the folder", folder.string(), err);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = systemError("Cannot examine the folder", folder.string(), errno);
        ::close(fd);
        return -1;
    }
    if (st.st_uid != ::geteuid()) {
        error = folderMessage(folder, "belongs to another user.");
        ::close(fd);
        return -1;
    }
    if ((st.st_mode & 077) != 0) {
        error = folderMessage(folder, "is open to other users.");
        ::close(fd);
        return -1;
    }
    return fd;
}

// --- PrivateFile -------------------------------------------------------------

PrivateFile::~PrivateFile()
{
    remove();
}

bool PrivateFile::create(const std::filesystem::path& folder, const std::string& name,
                         std::string& error)
{
    remove();
    const int dir = openPrivateFolder(folder, error);
    if (dir < 0) {
        return false;
    }
    const std::string path = (folder / name).string();
    const int fd =
        ::openat(dir, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode);
    if (fd < 0) {
        error = systemError("Cannot create", path, errno);
        ::close(dir);
        return false;
    }
    struct stat st {};
    if (::fchmod(fd, kFileMode) != 0 || ::fstat(fd, &st) != 0) {
        error = systemError("Cannot create", path, errno);
        ::unlinkat(dir, name.c_str(), 0);
        ::close(fd);
        ::close(dir);
        return false;
    }
    ::close(dir);
    // The lock tells another instance's clean-up that the file is in use.
    // Where the file system has no locks the process id in the name still
    // protects it.
    ::flock(fd, LOCK_EX | LOCK_NB);
    m_fd = fd;
    m_path = path;
    m_device = st.st_dev;
    m_inode = st.st_ino;
    m_length = -1;
    return true;
}

bool PrivateFile::finishWriting(std::string& error)
{
    struct stat st {};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0) {
        error = systemError("Cannot examine", m_path, m_fd < 0 ? EBADF : errno);
        return false;
    }
    m_length = st.st_size;
    return true;
}

bool PrivateFile::readBack(TrackBuffer<std::uint8_t>& bytes, std::string& error) const
{
    bytes.reset();
    struct stat st {};
    if (m_fd < 0 || m_length < 0) {
        error = "There is no backup copy.";
        return false;
    }
    if (::fstat(m_fd, &st) != 0) {
        error = systemError("Cannot examine", m_path, errno);
        return false;
    }
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 07777) != kFileMode ||
        st.st_size != m_length) {
        error = "The backup copy was changed by another program.";
        return false;
    }
    const auto size = static_cast<std::size_t>(m_length);
    if (!bytes.allocate(size)) {
        error = systemError("Cannot read", m_path, ENOMEM);
        return false;
    }
    const ssize_t done = readAt(m_fd, bytes.data(), size, 0);
    if (done < 0 || static_cast<std::size_t>(done) != size) {
        error = systemError("Cannot read", m_path, done < 0 ? errno : EIO);
        bytes.reset();
        return false;
    }
    return true;
}

void PrivateFile::remove() noexcept
{
    if (m_fd < 0) {
        return;
    }
    struct stat st {};
    if (::lstat(m_path.c_str(), &st) == 0 && st.st_dev == m_device && st.st_ino == m_inode) {
        ::unlink(m_path.c_str());
    }
    close();
}

void PrivateFile::close() noexcept
{
    if (m_fd >= 0) {
        ::close(m_fd);
    }
    m_fd = -1;
    m_path.clear();
    m_length = -1;
}

// --- clean-up at launch ----------------------------------------------------------

int removeAbandonedFiles(const std::filesystem::path& folder,
                         pid_t (*ownerProcess)(const std::string& name))
{
    std::string error;
    const int dir = openPrivateFolder(folder, error);
    if (dir < 0) {
        return 0;
    }
    int removed = 0;
    for (const std::string& name : namesInFolder(dir)) {
        const int fd = openAbandonedFile(dir, name, ownerProcess(name));
        if (fd < 0) {
            continue;
        }
        if (::unlinkat(dir, name.c_str(), 0) == 0) {
            ++removed;
        }
        ::close(fd);
    }
    ::close(dir);
    return removed;
}

std::vector<std::string> namesInFolder(int folder)
{
    std::vector<std::string> names;
    const int listed = ::dup(folder);
    DIR* listing = listed < 0 ? nullptr : ::fdopendir(listed);
    if (listing == nullptr) {
        if (listed >= 0) {
            ::close(listed);
        }
        return names;
    }
    ::rewinddir(listing);
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view name(entry->d_name);
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
    ::closedir(listing);
    return names;
}

int openAbandonedFile(int folder, const std::string& name, pid_t owner)
{
    if (owner <= 0 || owner == ::getpid()) {
        return -1;
    }
    // Only a process that is certainly gone: a running one, or one this
    // user may not signal, keeps its files.
    if (::kill(owner, 0) == 0 || errno != ESRCH) {
        return -1;
    }
    struct stat st {};
    if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != ::geteuid()) {
        return -1;
    }
    const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat opened {};
    // A process of the same id in another process namespace holds its
    // file locked: the lock must be free too.
    if (::fstat(fd, &opened) != 0 || opened.st_dev != st.st_dev || opened.st_ino != st.st_ino ||
        ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace phonaxis
