#pragma once

#include "document/Bytes.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace phonaxis::cli {

// An 8-bit RGB picture: width × height pixels, row 0 at the top, three bytes
// (red, green, blue) per pixel.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels; // pixels[(y·width + x)·3 + channel]

    // A white picture; nothing when a side is not positive or the picture
    // would pass the largest one encodePng writes.
    static std::optional<RgbImage> blank(int width, int height);

    void set(int x, int y, std::uint8_t red, std::uint8_t green, std::uint8_t blue);
    // A filled square of side 2·radius + 1 centred on (x, y), clipped to the picture.
    void fillSquare(int x, int y, int radius, std::uint8_t red, std::uint8_t green,
                    std::uint8_t blue);
};

// The largest picture encodePng writes, in bytes of pixel data (with the
// filter byte of each row): the IDAT chunk must stay below 2^31 bytes.
inline constexpr std::uint64_t kMaxPngDataBytes = 1u << 30;

// The PNG file of `image`: signature, IHDR (8-bit RGB, no interlace), with
// a `comment` a tEXt chunk "Comment" holding it, one IDAT holding the
// zlib-compressed rows, each filtered by the PNG filter that suits it best,
// and IEND; each chunk with its CRC-32. Nothing for a picture whose sides
// are not positive, whose pixel count does not match, that is larger than
// kMaxPngDataBytes, or whose compression fails. The comment is printable
// ASCII (anything else is left out of it).
std::optional<Bytes> encodePng(const RgbImage& image, std::string_view comment = {});

// CRC-32 as PNG chunks use it (polynomial 0xEDB88320, initial and final
// inversion).
std::uint32_t crc32(std::span<const std::uint8_t> bytes);
// Adler-32 of a zlib stream's uncompressed data.
std::uint32_t adler32(std::span<const std::uint8_t> bytes);

} // namespace phonaxis::cli
