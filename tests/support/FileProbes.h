#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace phonaxis::test {

// Whether `work` read under 1 MiB through read calls (the kernel's "rchar";
// true where the system does not tell).
inline bool readsLittle(const std::function<void()>& work)
{
    const auto bytesRead = []() -> std::optional<std::uint64_t> {
        std::ifstream io("/proc/self/io");
        std::string name;
        std::uint64_t value = 0;
        while (io >> name >> value) {
            if (name == "rchar:") {
                return value;
            }
        }
        return std::nullopt;
    };
    const auto before = bytesRead();
    work();
    const auto after = bytesRead();
    return !before || !after || *after - *before < (std::uint64_t{1} << 20);
}

// Makes `path` a file of `size` bytes: `head`, then a hole of zeros.
inline bool makeSparseFile(const std::filesystem::path& path, off_t size,
                           const std::string& head = "")
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const bool made = fd >= 0 &&
                      ::write(fd, head.data(), head.size()) == static_cast<ssize_t>(head.size()) &&
                      ::ftruncate(fd, size) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return made;
}

// The bytes of the file at `path` ("" when it cannot be read).
inline std::string fileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace phonaxis::test
