#include "cli/PngWriter.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace phonaxis::cli {

namespace {

constexpr std::size_t kMaxStoredBlock = 65535;

constexpr std::array<std::uint32_t, 256> makeCrcTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        table[n] = c;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = makeCrcTable();

std::uint32_t crcUpdate(std::uint32_t crc, std::span<const std::uint8_t> bytes)
{
    for (const std::uint8_t b : bytes) {
        crc = kCrcTable[(crc ^ b) & 0xFFu] ^ (crc >> 8);
    }
    return crc;
}

void putBigEndian32(Bytes& out, std::uint32_t value)
{
    out.push_back(static_cast<std::uint8_t>(value >> 24));
    out.push_back(static_cast<std::uint8_t>(value >> 16));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

// Appends a chunk: length, type, data and the CRC of type and data.
void putChunk(Bytes& out, std::string_view type, std::span<const std::uint8_t> data)
{
    putBigEndian32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t typeAt = out.size();
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), data.begin(), data.end());
    const std::span<const std::uint8_t> covered(out.data() + typeAt, out.size() - typeAt);
    putBigEndian32(out, crc32(covered));
}

std::uint64_t rowBytes(int width)
{
    return 1 + 3 * static_cast<std::uint64_t>(width);
}

bool fitsEncoder(int width, int height)
{
    return width > 0 && height > 0 &&
           rowBytes(width) * static_cast<std::uint64_t>(height) <= kMaxPngDataBytes;
}

} // namespace

std::optional<RgbImage> RgbImage::blank(int width, int height)
{
    if (!fitsEncoder(width, height)) {
        return std::nullopt;
    }
    RgbImage image;
    image.width = width;
    image.height = height;
    image.pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3,
                        0xFF);
    return image;
}

void RgbImage::set(int x, int y, std::uint8_t red, std::uint8_t green, std::uint8_t blue)
{
    if (x < 0 || y < 0 || x >= width || y >= height) {
        return;
    }
    const std::size_t at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                            static_cast<std::size_t>(x)) *
                           3;
    pixels[at] = red;
    pixels[at + 1] = green;
    pixels[at + 2] = blue;
}

void RgbImage::fillSquare(int x, int y, int radius, std::uint8_t red, std::uint8_t green,
                          std::uint8_t blue)
{
    for (int dy = -radius; dy <= radius; ++dy) {
        for (int dx = -radius; dx <= radius; ++dx) {
            set(x + dx, y + dy, red, green, blue);
        }
    }
}

std::uint32_t crc32(std::span<const std::uint8_t> bytes)
{
    return crcUpdate(0xFFFFFFFFu, bytes) ^ 0xFFFFFFFFu;
}

std::uint32_t adler32(std::span<const std::uint8_t> bytes)
{
    constexpr std::uint32_t kModulus = 65521;
    // 5552 bytes is the longest run whose sums cannot overflow 32 bits.
    constexpr std::size_t kRun = 5552;
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (std::size_t at = 0; at < bytes.size(); at += kRun) {
        const std::size_t end = std::min(bytes.size(), at + kRun);
        for (std::size_t i = at; i < end; ++i) {
            a += bytes[i];
            b += a;
        }
        a %= kModulus;
        b %= kModulus;
    }
    return b << 16 | a;
}

std::optional<Bytes> encodePng(const RgbImage& image)
{
    if (!fitsEncoder(image.width, image.height) ||
        image.pixels.size() !=
            static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 3) {
        return std::nullopt;
    }
    const auto width = static_cast<std::size_t>(image.width);
    const auto height = static_cast<std::size_t>(image.height);
    const std::size_t stride = static_cast<std::size_t>(rowBytes(image.width));

    // The filtered rows: filter type 0 (none) and the row's pixels.
    Bytes raw(stride * height);
    for (std::size_t y = 0; y < height; ++y) {
        std::copy_n(image.pixels.begin() + static_cast<std::ptrdiff_t>(y * width * 3), width * 3,
                    raw.begin() + static_cast<std::ptrdiff_t>(y * stride + 1));
    }

    // zlib stream: header (deflate, 32 KB window, no dictionary, check bits),
    // stored blocks, Adler-32 of the raw data.
    const std::size_t blocks =
        std::max<std::size_t>(1, (raw.size() + kMaxStoredBlock - 1) / kMaxStoredBlock);
    Bytes zlib;
    zlib.reserve(2 + blocks * 5 + raw.size() + 4);
    zlib.push_back(0x78);
    zlib.push_back(0x01);
    std::size_t at = 0;
    for (std::size_t block = 0; block < blocks; ++block) {
        const std::size_t length = std::min(kMaxStoredBlock, raw.size() - at);
        const bool last = block + 1 == blocks;
        zlib.push_back(last ? 0x01 : 0x00); // BFINAL, BTYPE 00 (stored)
        const auto len = static_cast<std::uint16_t>(length);
        const auto nlen = static_cast<std::uint16_t>(~len);
        zlib.push_back(static_cast<std::uint8_t>(len));
        zlib.push_back(static_cast<std::uint8_t>(len >> 8));
        zlib.push_back(static_cast<std::uint8_t>(nlen));
        zlib.push_back(static_cast<std::uint8_t>(nlen >> 8));
        zlib.insert(zlib.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                    raw.begin() + static_cast<std::ptrdiff_t>(at + length));
        at += length;
    }
    putBigEndian32(zlib, adler32(raw));

    Bytes header;
    putBigEndian32(header, static_cast<std::uint32_t>(image.width));
    putBigEndian32(header, static_cast<std::uint32_t>(image.height));
    header.push_back(8); // bit depth
    header.push_back(2); // colour type: RGB
    header.push_back(0); // compression: deflate
    header.push_back(0); // filter method 0
    header.push_back(0); // no interlace

    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    png.reserve(8 + 25 + 12 + zlib.size() + 12);
    putChunk(png, "IHDR", header);
    putChunk(png, "IDAT", zlib);
    putChunk(png, "IEND", {});
    return png;
}

} // namespace phonaxis::cli
