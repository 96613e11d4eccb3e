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

bool writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                         std::string& error)
{
    namespace fs = std::filesystem;
    const fs::path target(path);
    fs::path folder = target.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    // Built with append: g++ 12 warns falsely (-Wrestrict) on "." + string.
    std::string hiddenName(1, '.');
    hiddenName.append(target.filename().string()).append(".XXXXXX");
    std::string tmpl = (folder / hiddenName).string();
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0) {
        error = systemError("Cannot write", path, errno);
        return false;
    }
    auto fail = [&](int err) {
        ::close(fd);
        ::unlink(tmpl.c_str());
        error = systemError("Cannot write", path, err);
        return false;
    };
    const std::uint8_t* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, std::min<std::size_t>(left, std::size_t{1} << 30));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail(errno);
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) {
        return fail(errno);
    }
    // mkstemp creates 0600; a saved recording gets the usual permissions.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmpl.c_str());
        error = systemError("Cannot write", path, err);
        return false;
    }
    if (::rename(tmpl.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmpl.c_str());
        error = systemError("Cannot write", path, err);
        return false;
    }
    return true;
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
