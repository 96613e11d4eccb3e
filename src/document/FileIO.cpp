#include "document/FileIO.h"

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace phonaxis {

namespace {

std::string systemError(const std::string& what, const std::string& path, int err)
{
    return what + " \"" + path + "\": " + std::strerror(err);
}

} // namespace

bool FileContents::open(const std::string& path, std::string& error)
{
    m_bytes.reset();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
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
    const auto size = static_cast<std::size_t>(st.st_size);
    if (!m_bytes.allocate(size)) {
        return fail("\"" + path + "\" is too large to open in the memory available.");
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n =
            ::read(fd, m_bytes.data() + done, std::min<std::size_t>(size - done, std::size_t{1} << 26));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return fail(systemError("Cannot read", path, errno));
        }
        if (n == 0) {
            break; // the file shrank while it was read: keep what is there
        }
        done += static_cast<std::size_t>(n);
    }
    if (done < size && !m_bytes.resize(done)) {
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
    }
    m_fd = -1;
}

bool AtomicFileWriter::open(const std::string& path, std::string& error)
{
    discard();
    namespace fs = std::filesystem;
    const fs::path target(path);
    fs::path folder = target.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    // Built with append: g++ 12 warns falsely (-Wrestrict) on "." + string.
    std::string hiddenName(1, '.');
    hiddenName.append(target.filename().string()).append(".XXXXXX");
    m_temporary = (folder / hiddenName).string();
    m_path = path;
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
    if (m_fd < 0) {
        error = systemError("Cannot write", m_path, EBADF);
        return false;
    }
    if (::fsync(m_fd) != 0) {
        return fail(errno, error);
    }
    // mkstemp creates 0600; a saved file gets the usual permissions.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(m_fd, 0666 & ~mask);
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(m_temporary.c_str());
        error = systemError("Cannot write", m_path, err);
        return false;
    }
    if (::rename(m_temporary.c_str(), m_path.c_str()) != 0) {
        const int err = errno;
        ::unlink(m_temporary.c_str());
        error = systemError("Cannot write", m_path, err);
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
