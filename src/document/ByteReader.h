#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

namespace phonaxis {

// Little/big-endian loads from raw memory. The caller guarantees that the
// bytes exist; the conversion loops of the readers use these after checking
// a whole block once. memcpy keeps them free of alignment and aliasing
// problems and compiles to a plain load (plus a byte swap where needed).
namespace byteorder {

template <typename T> inline T byteSwapped(T value) noexcept
{
    static_assert(sizeof(T) == 2 || sizeof(T) == 4 || sizeof(T) == 8);
    if constexpr (sizeof(T) == 2) {
        return static_cast<T>(__builtin_bswap16(static_cast<std::uint16_t>(value)));
    } else if constexpr (sizeof(T) == 4) {
        return static_cast<T>(__builtin_bswap32(static_cast<std::uint32_t>(value)));
    } else {
        return static_cast<T>(__builtin_bswap64(static_cast<std::uint64_t>(value)));
    }
}

// An unsigned integer of the given width stored in `order` at `p`.
template <typename T, std::endian order> inline T load(const std::uint8_t* p) noexcept
{
    T value;
    std::memcpy(&value, p, sizeof(T));
    if constexpr (order != std::endian::native) {
        value = byteSwapped(value);
    }
    return value;
}

inline std::uint16_t loadU16LE(const std::uint8_t* p) noexcept
{
    return load<std::uint16_t, std::endian::little>(p);
}
inline std::uint32_t loadU32LE(const std::uint8_t* p) noexcept
{
    return load<std::uint32_t, std::endian::little>(p);
}
inline std::uint64_t loadU64LE(const std::uint8_t* p) noexcept
{
    return load<std::uint64_t, std::endian::little>(p);
}
inline std::uint16_t loadU16BE(const std::uint8_t* p) noexcept
{
    return load<std::uint16_t, std::endian::big>(p);
}
inline std::uint32_t loadU32BE(const std::uint8_t* p) noexcept
{
    return load<std::uint32_t, std::endian::big>(p);
}
inline std::uint64_t loadU64BE(const std::uint8_t* p) noexcept
{
    return load<std::uint64_t, std::endian::big>(p);
}

} // namespace byteorder

// Bounds-checked reads of integers and four-character tags from a block of
// file bytes. Every read that would reach past the end of the block returns
// nothing (or false) instead of touching memory outside it; offsets and
// counts are size_t and the checks cannot overflow.
class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> data) noexcept : m_data(data) {}

    std::size_t size() const noexcept { return m_data.size(); }
    std::span<const std::uint8_t> data() const noexcept { return m_data; }

    // Whether bytes [offset, offset + count) lie inside the block.
    bool contains(std::size_t offset, std::size_t count) const noexcept
    {
        return offset <= m_data.size() && count <= m_data.size() - offset;
    }

    // The bytes [offset, offset + count), or an empty span when they do not fit.
    std::span<const std::uint8_t> slice(std::size_t offset, std::size_t count) const noexcept
    {
        return contains(offset, count) ? m_data.subspan(offset, count)
                                       : std::span<const std::uint8_t>{};
    }

    // Whether the bytes at `offset` spell `tag` exactly.
    bool matches(std::size_t offset, std::string_view tag) const noexcept
    {
        return contains(offset, tag.size()) &&
               (tag.empty() || std::memcmp(m_data.data() + offset, tag.data(), tag.size()) == 0);
    }

    std::optional<std::uint8_t> u8(std::size_t offset) const noexcept
    {
        if (!contains(offset, 1)) {
            return std::nullopt;
        }
        return m_data[offset];
    }
    std::optional<std::uint16_t> u16le(std::size_t offset) const noexcept
    {
        return read<std::uint16_t, std::endian::little>(offset);
    }
    std::optional<std::uint32_t> u32le(std::size_t offset) const noexcept
    {
        return read<std::uint32_t, std::endian::little>(offset);
    }
    std::optional<std::uint16_t> u16be(std::size_t offset) const noexcept
    {
        return read<std::uint16_t, std::endian::big>(offset);
    }
    std::optional<std::uint32_t> u32be(std::size_t offset) const noexcept
    {
        return read<std::uint32_t, std::endian::big>(offset);
    }

private:
    template <typename T, std::endian order>
    std::optional<T> read(std::size_t offset) const noexcept
    {
        if (!contains(offset, sizeof(T))) {
            return std::nullopt;
        }
        return byteorder::load<T, order>(m_data.data() + offset);
    }

    std::span<const std::uint8_t> m_data;
};

} // namespace phonaxis
