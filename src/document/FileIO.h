#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace phonaxis {

// A whole file mapped read-only into memory. Opening large recordings this
// way keeps one copy of their bytes (the page cache's) instead of two.
class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;

    // Maps `path`. On failure returns false and sets `error` to a sentence
    // for the user. An empty file maps to an empty view.
    bool open(const std::string& path, std::string& error);

    std::span<const std::uint8_t> bytes() const { return {m_data, m_size}; }

private:
    void close() noexcept;

    const std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
    bool m_mapped = false;
};

// Writes `bytes` to a temporary file in the target's folder, flushes it and
// renames it over `path`, so that a failed write leaves any old file intact.
// On failure returns false and sets `error` to a sentence for the user.
bool writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                         std::string& error);

// The lower-case extension of a path without the dot ("" when none).
std::string fileExtension(const std::string& path);

} // namespace phonaxis
