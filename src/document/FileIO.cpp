#include "document/FileIO.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace phonaxis {

namespace {

// What an existing target that is not a regular file is, for the message.
const char* fileKind(mode_t mode)
{
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    if (S_ISFIFO(mode)) {
        return "a pipe";
    }
    return S_ISSOCK(mode) ? "a socket" : "a special file";
}

// Flushes the folder `folder` so that a rename in it is on disk. A folder
// this user may not open for reading cannot be flushed and is left as it is;
// a file system that cannot flush folders (EINVAL) has nothing to flush.
// 0, or the errno value of a failed flush.
int flushFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    const int err = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return err == EINVAL ? 0 : err;
}

// Follows the symbolic link `path` (and any link it leads to) to the file it
// finally names, as `target`. A link is followed only when it belongs to this
// user or to the owner of the folder that holds it: a link someone else
// planted in a shared folder such as /tmp could otherwise turn a write there
// into the replacement of any file this user may write. False with `reason`
// set when the chain cannot be followed.
bool followTrustedLinks(const std::string& path, std::string& target, std::string& reason)
{
    namespace fs = std::filesystem;
    constexpr int kMostLinks = 40; // as the system's own limit on a chain
    fs::path current(path);
    fs::path named; // as the last link read names it, for the message
    for (int hop = 0; hop < kMostLinks; ++hop) {
        struct stat link {};
        if (::lstat(current.c_str(), &link) != 0) {
            reason = errno == ENOENT ? "it is a symbolic link to \"" + named.string() +
                                           "\", which does not exist."
                                     : std::string(std::strerror(errno));
            return false;
        }
        if (!S_ISLNK(link.st_mode)) {
            char* resolved = ::realpath(current.c_str(), nullptr);
            if (resolved == nullptr) {
                reason = std::strerror(errno);
                return false;
            }
            target = resolved;
            std::free(resolved);
            return true;
        }
        fs::path folder = current.parent_path();
        if (folder.empty()) {
            folder = ".";
        }
        struct stat holder {};
        if (::stat(folder.c_str(), &holder) != 0) {
            reason = std::strerror(errno);
            return false;
        }
        if (link.st_uid != ::geteuid() && link.st_uid != holder.st_uid) {
            reason = "it is a symbolic link that belongs to another user.";
            return false;
        }
        std::error_code ec;
        named = fs::read_symlink(current, ec);
        if (ec) {
            reason = ec.message();
            return false;
        }
        current = named.is_absolute() ? named : folder / named;
    }
    reason = std::strerror(ELOOP);
    return false;
}
} // namespace

std::string systemError(const std::string& what, const std::string& path, int err)
{
    return what + " \"" + path + "\": " + std::strerror(err);
}

ssize_t readAt(int fd, std::uint8_t* into, std::size_t size, std::uint64_t offset)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n =
            ::pread(fd, into + done, std::min<std::size_t>(size - done, std::size_t{1} << 26),
                    static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return -1;
        }
        if (n == 0) {
            break; // the file shrank while it was read: keep what is there
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

bool looksLikeText(std::span<const std::uint8_t> prefix)
{
    return prefix.empty() || std::memchr(prefix.data(), 0, prefix.size()) == nullptr;
}

bool FileContents::open(const std::string& path, std::string& error)
{
    return open(path, FileCheck{}, error);
}

bool FileContents::open(const std::string& path, const FileCheck& check, std::string& error)
{
    m_bytes.reset();
    m_declined = false;
    // Not blocking: a pipe given as a file is refused below, not waited on.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = systemError("Cannot open", path, errno);
        return false;
    }
    auto fail = [&](const std::string& message) {
        ::close(fd);
        m_bytes.reset();
        error = message;
        return false;
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return fail(systemError("Cannot read", path, errno));
    }
    if (!S_ISREG(st.st_mode)) {
        return fail("\"" + path + "\" is not a regular file.");
    }
    const auto fileSize = static_cast<std::uint64_t>(st.st_size);
    auto decline = [&] {
        m_declined = true;
        // Built with append: g++ 12 warns falsely (-Wrestrict) on "..." + string.
        std::string message(1, '"');
        message.append(path).append("\" is not ").append(check.kind).append(".");
        return fail(message);
    };
    if (fileSize > check.largestSize) {
        return decline();
    }
    if (check.accepts != nullptr) {
        std::vector<std::uint8_t> prefix(
            static_cast<std::size_t>(std::min<std::uint64_t>(check.prefixBytes, fileSize)));
        const ssize_t n = readAt(fd, prefix.data(), prefix.size(), 0);
        if (n < 0) {
            return fail(systemError("Cannot read", path, errno));
        }
        prefix.resize(static_cast<std::size_t>(n));
        if (!check.accepts(prefix)) {
            return decline();
        }
    }
    const std::uint64_t wanted = std::min(fileSize, check.readAtMost);
    if (wanted > std::numeric_limits<std::size_t>::max() ||
        !m_bytes.allocate(static_cast<std::size_t>(wanted))) {
        return fail("\"" + path + "\" is too large to open in the memory available.");
    }
    const ssize_t done = readAt(fd, m_bytes.data(), m_bytes.size(), 0);
    if (done < 0) {
        return fail(systemError("Cannot read", path, errno));
    }
    if (static_cast<std::size_t>(done) < m_bytes.size() &&
        !m_bytes.resize(static_cast<std::size_t>(done))) {
        return fail(systemError("Cannot read", path, ENOMEM));
    }
    ::close(fd);
    return true;
}

AtomicFileWriter::~AtomicFileWriter() { discard(); }

void AtomicFileWriter::discard() noexcept
{
    if (m_fd >= 0) {
        ::close(m_fd);
        ::unlink(m_temporary.c_str());
    } else if (m_prepared) {
        ::unlink(m_temporary.c_str());
    }
    m_fd = -1;
    m_prepared = false;
}

bool AtomicFileWriter::open(const std::string& path, std::string& error)
{
    discard();
    m_path = path;
    m_target = path;
    m_replacing = false;
    m_replaced = false;
    auto refuse = [&](const std::string& reason) {
        error = "Cannot write \"" + path + "\": " + reason;
        return false;
    };
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            // The link stays; the file it finally names is replaced.
            std::string reason;
            if (!followTrustedLinks(path, m_target, reason)) {
                return refuse(reason);
            }
            if (::stat(m_target.c_str(), &st) != 0) {
                return refuse(std::strerror(errno));
            }
        }
        if (!S_ISREG(st.st_mode)) {
            return refuse(std::string("it is ") + fileKind(st.st_mode) + ", not a regular file.");
        }
        // Renaming needs only the folder's permission: a file the user could
        // not change in place is not replaced either.
        if (::faccessat(AT_FDCWD, m_target.c_str(), W_OK, AT_EACCESS) != 0) {
            const int err = errno;
            return err == EACCES || err == EPERM ? refuse("the file is write-protected.")
                                                 : refuse(std::strerror(err));
        }
        m_replacing = true;
        m_mode = st.st_mode & 07777;
        m_owner = st.st_uid;
        m_group = st.st_gid;
        m_device = st.st_dev;
        m_inode = st.st_ino;
    } else if (errno != ENOENT) {
        return refuse(std::strerror(errno));
    }

    // A short fixed name, so that any name that fits its folder can be
    // written; hidden, and in the target's folder, so that the rename stays
    // on one file system.
    std::filesystem::path folder = std::filesystem::path(m_target).parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    m_temporary = (folder / ".phonaxis-XXXXXX").string();
    m_fd = ::mkstemp(m_temporary.data());
    if (m_fd < 0) {
        error = systemError("Cannot write", path, errno);
        return false;
    }
    return true;
}

bool AtomicFileWriter::write(std::span<const std::uint8_t> bytes, std::string& error)
{
    const std::uint8_t* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, p, std::min<std::size_t>(left, std::size_t{1} << 30));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail(errno, error);
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

bool AtomicFileWriter::fail(int err, std::string& error)
{
    discard();
    error = systemError("Cannot write", m_path, err);
    return false;
}

bool AtomicFileWriter::commit(std::string& error)
{
    return prepare(error) && replace(error);
}

bool AtomicFileWriter::prepare(std::string& error)
{
    if (m_fd < 0) {
        error = systemError("Cannot write", m_path, EBADF);
        return false;
    }
    // Owner and mode are set before the flush, so that they reach the disk
    // with the bytes.
    if (m_replacing) {
        // The replacement keeps the old file's owner and group where this
        // user may set them (giving a file away takes privilege; a member of
        // its group may keep the group); otherwise it is this user's, as a
        // new file would be, and the set-user and set-group bits, which
        // belonged to the old owner, are not carried over.
        mode_t mode = m_mode;
        if (::fchown(m_fd, m_owner, m_group) != 0) {
            mode &= ~mode_t{S_ISUID};
            if (::fchown(m_fd, static_cast<uid_t>(-1), m_group) != 0) {
                mode &= ~mode_t{S_ISGID};
            }
        }
        if (::fchmod(m_fd, mode) != 0) {
            return fail(errno, error);
        }
    } else {
        // mkstemp creates 0600; a new file gets the usual permissions.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        if (::fchmod(m_fd, 0666 & ~mask) != 0) {
            return fail(errno, error);
        }
    }
    if (::fsync(m_fd) != 0) {
        return fail(errno, error);
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(m_temporary.c_str());
        error = systemError("Cannot write", m_path, err);
        return false;
    }
    m_prepared = true;
    return true;
}

bool AtomicFileWriter::replace(std::string& error)
{
    if (!m_prepared) {
        error = systemError("Cannot write", m_path, EBADF);
        return false;
    }
    m_prepared = false;
    m_replaced = false;
    // The file checked at open must still be the one replaced: a name
    // swapped for another file (or a link) meanwhile is left alone.
    struct stat now {};
    const bool present = ::lstat(m_target.c_str(), &now) == 0;
    if (m_replacing && (!present || now.st_dev != m_device || now.st_ino != m_inode)) {
        ::unlink(m_temporary.c_str());
        error = "Cannot write \"" + m_path +
                "\": the file was replaced by another while it was written.";
        return false;
    }
    if (!m_replacing && present) {
        ::unlink(m_temporary.c_str());
        error =
            "Cannot write \"" + m_path + "\": a file of that name appeared while it was written.";
        return false;
    }
    if (::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
        const int err = errno;
        ::unlink(m_temporary.c_str());
        error = systemError("Cannot write", m_path, err);
        return false;
    }
    m_replaced = true;
    if (const int err = flushFolder(std::filesystem::path(m_temporary).parent_path().string())) {
        error = "\"" + m_path + "\" was written, but its folder could not be flushed to disk: " +
                std::strerror(err);
        return false;
    }
    return true;
}

bool writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                         std::string& error)
{
    AtomicFileWriter file;
    return file.open(path, error) && file.write(bytes, error) && file.commit(error);
}

bool checkWritable(const std::string& path, std::uint64_t bytes, std::string& error)
{
    AtomicFileWriter probe;
    if (!probe.open(path, error)) {
        return false;
    }
    struct statvfs fs {};
    if (::fstatvfs(probe.fd(), &fs) != 0) {
        return probe.fail(errno, error);
    }
    const std::uint64_t room = std::uint64_t{fs.f_bavail} * std::uint64_t{fs.f_frsize};
    if (room < bytes) {
        constexpr double kMegabyte = 1024.0 * 1024.0;
        error = "Cannot write \"" + path + "\": it needs " +
                std::to_string(static_cast<std::uint64_t>(std::ceil(double(bytes) / kMegabyte))) +
                " MB and its disk has " +
                std::to_string(static_cast<std::uint64_t>(double(room) / kMegabyte)) +
                " MB free.";
        return false;
    }
    return true;
}

namespace {

// "\"a\"", "\"a\" and \"b\"", "\"a\", \"b\" and \"c\"".
std::string quotedList(std::span<const FileToWrite> files, std::size_t count)
{
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            text += i + 1 == count ? " and " : ", ";
        }
        text += "\"" + files[i].path + "\"";
    }
    return text;
}

// Copies the file `target` into the new, empty file open as `fd`, with
// its mode, and flushes it; false (errno set) when it cannot.
bool copyInto(const std::string& target, int fd)
{
    const int from = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
    if (from < 0) {
        return false;
    }
    struct stat st {};
    bool copied = ::fstat(from, &st) == 0 && ::fchmod(fd, st.st_mode & 07777) == 0;
    std::vector<char> buffer(65536);
    while (copied) {
        const ssize_t n = ::read(from, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            copied = n == 0 && ::fsync(fd) == 0;
            break;
        }
        for (ssize_t done = 0; copied && done < n;) {
            const ssize_t w = ::write(fd, buffer.data() + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR) {
                continue;
            }
            copied = w > 0;
            done += w > 0 ? w : 0;
        }
    }
    const int err = errno;
    ::close(from);
    errno = err;
    return copied;
}

// A second name for the file `target`, in its folder, that keeps its
// contents while another file takes its name: a hard link, or a copy on a
// file system without hard links; "" when neither can be made.
std::string keepUnderAnotherName(const std::string& target)
{
    std::filesystem::path folder = std::filesystem::path(target).parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
        // mkstemp draws a name no file has; the name is then taken by the link.
        std::string name = (folder / ".phonaxis-kept-XXXXXX").string();
        const int fd = ::mkstemp(name.data());
        if (fd < 0) {
            return {};
        }
        ::close(fd);
        ::unlink(name.c_str());
        if (::link(target.c_str(), name.c_str()) == 0) {
            return name;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    std::string name = (folder / ".phonaxis-kept-XXXXXX").string();
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        return {};
    }
    const bool copied = copyInto(target, fd);
    const int err = errno;
    ::close(fd);
    if (!copied) {
        ::unlink(name.c_str());
        errno = err;
        return {};
    }
    return name;
}

} // namespace

bool writeFilesTogether(std::span<const FileToWrite> files, std::string& error)
{
    const std::string nothing = files.size() == 1   ? " It was not written."
                                : files.size() == 2 ? " Neither file was written."
                                                    : " None of the files was written.";
    std::vector<AtomicFileWriter> writers(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!writers[i].open(files[i].path, error)) {
            error += nothing;
            return false;
        }
        // One file's target reached through another's name would be written
        // twice, the second write replacing the first.
        std::error_code ec;
        const auto target = std::filesystem::weakly_canonical(writers[i].target(), ec);
        for (std::size_t j = 0; j < i && !ec; ++j) {
            std::error_code ecj;
            if (std::filesystem::weakly_canonical(writers[j].target(), ecj) == target && !ecj) {
                error = "Cannot write \"" + files[i].path + "\": it leads to \"" + files[j].path +
                        "\", which is written too." + nothing;
                return false;
            }
        }
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!writers[i].write(files[i].bytes, error) || !writers[i].prepare(error)) {
            error += nothing;
            return false;
        }
    }
    // Every old file keeps a second name until all are replaced, so that a
    // failure half-way can put the earlier ones back.
    std::vector<std::string> kept(files.size());
    auto dropKept = [&] {
        for (const std::string& name : kept) {
            if (!name.empty()) {
                ::unlink(name.c_str());
            }
        }
    };
    for (std::size_t i = 0; i + 1 < files.size(); ++i) {
        if (writers[i].replacing()) {
            kept[i] = keepUnderAnotherName(writers[i].target());
            if (kept[i].empty()) {
                const int err = errno;
                dropKept();
                error = "Cannot write \"" + files[i].path +
                        "\": the old file could not be kept aside to be put back should a later "
                        "file fail (" +
                        std::strerror(err) + ")." + nothing;
                return false;
            }
        }
    }
    std::string unflushed;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (writers[i].replace(error)) {
            continue;
        }
        if (writers[i].replaced()) {
            // In place, only its folder not flushed: told, not undone.
            unflushed = error;
            continue;
        }
        // Put back what was replaced before this one, newest first.
        std::string unrestored;
        for (std::size_t j = i; j-- > 0;) {
            const std::string& target = writers[j].target();
            const bool back = kept[j].empty() ? ::unlink(target.c_str()) == 0
                                              : ::rename(kept[j].c_str(), target.c_str()) == 0;
            if (back) {
                kept[j].clear();
                flushFolder(std::filesystem::path(target).parent_path().string());
            } else {
                unrestored += (unrestored.empty() ? "" : ", ") + ("\"" + files[j].path + "\"");
            }
        }
        dropKept();
        if (i == 0) {
            error += nothing;
        } else if (unrestored.empty()) {
            error += " " + quotedList(files, i) +
                     (i == 1 ? " was put back as it was" : " were put back as they were") +
                     ", so nothing was written.";
        } else {
            error += " " + unrestored + " could not be put back and holds the new contents.";
        }
        return false;
    }
    dropKept();
    error = unflushed;
    return unflushed.empty();
}

std::string fileExtension(const std::string& path)
{
    std::string ext = std::filesystem::path(path).extension().string();
    if (!ext.empty() && ext.front() == '.') {
        ext.erase(0, 1);
    }
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

} // namespace phonaxis
