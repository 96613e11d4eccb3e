#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace phonaxis::test {

// The bytes this process has read so far through read calls (the kernel's
// "rchar" count), or nothing where the system does not tell. A reader that
// declines a large file after its first bytes adds little to it.
inline std::optional<std::uint64_t> bytesReadSoFar()
{
    std::ifstream io("/proc/self/io");
    std::string name;
    std::uint64_t value = 0;
    while (io >> name >> value) {
        if (name == "rchar:") {
            return value;
        }
    }
    return std::nullopt;
}

// The bytes of the file at `path` ("" when it cannot be read).
inline std::string fileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace phonaxis::test
