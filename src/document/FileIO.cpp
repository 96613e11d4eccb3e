#include "document/FileIO.h"

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <utility>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace phonaxis {

namespace {

std::string systemError(const std::string& what, const std::string& path, int err)
{
    return what + " \"" + path + "\": " + std::strerror(err);
}

} // namespace

MappedFile::~MappedFile() { close(); }

MappedFile::MappedFile(MappedFile&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0)),
      m_mapped(std::exchange(other.m_mapped, false))
{
}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept
{
    if (this != &other) {
        close();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_mapped = std::exchange(other.m_mapped, false);
    }
    return *this;
}

void MappedFile::close() noexcept
{
    if (m_mapped) {
        ::munmap(const_cast<std::uint8_t*>(m_data), m_size);
    }
    m_data = nullptr;
    m_size = 0;
    m_mapped = false;
}

bool MappedFile::open(const std::string& path, std::string& error)
{
    close();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = systemError("Cannot open", path, errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = systemError("Cannot read", path, errno);
        ::close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "\"" + path + "\" is not a regular file.";
        ::close(fd);
        return false;
    }
    if (st.st_size == 0) {
        ::close(fd);
        return true;
    }
    const auto size = static_cast<std::size_t>(st.st_size);
    void* p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    const int mapErr = errno;
    ::close(fd);
    if (p == MAP_FAILED) {
        error = systemError("Cannot map", path, mapErr);
        return false;
    }
    // Readers walk the file front to back once. The advice values are not
    // flags: each is given on its own.
    ::madvise(p, size, MADV_SEQUENTIAL);
    ::madvise(p, size, MADV_WILLNEED);
    m_data = static_cast<const std::uint8_t*>(p);
    m_size = size;
    m_mapped = true;
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
