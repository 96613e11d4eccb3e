#pragma once

// Reads back the PNG files phonaxis-cli's own writer makes (8-bit RGB, one
// IDAT run): every chunk's CRC is checked, the IDAT is inflated by zlib and
// each row's filter undone as a PNG reader undoes it.

#include "cli/PngWriter.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

namespace phonaxis::testing {

struct DecodedPng {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
};

inline std::uint32_t pngBig32(std::span<const std::uint8_t> b, std::size_t at)
{
    return std::uint32_t(b[at]) << 24 | std::uint32_t(b[at + 1]) << 16 |
           std::uint32_t(b[at + 2]) << 8 | b[at + 3];
}

inline DecodedPng decodePng(std::span<const std::uint8_t> file)
{
    DecodedPng png;
    const std::uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    EXPECT_TRUE(file.size() > 8 && std::equal(signature, signature + 8, file.begin()));
    std::vector<std::uint8_t> zlib;
    std::string types;
    for (std::size_t at = 8; at + 12 <= file.size();) {
        const std::uint32_t length = pngBig32(file, at);
        if (at + 12 + std::size_t(length) > file.size()) {
            ADD_FAILURE() << "chunk past the file's end";
            break;
        }
        const std::string type(file.begin() + long(at) + 4, file.begin() + long(at) + 8);
        const std::span<const std::uint8_t> covered(file.data() + at + 4, length + 4);
        EXPECT_EQ(pngBig32(file, at + 8 + length), cli::crc32(covered)) << type;
        const auto data = file.begin() + long(at) + 8;
        if (type == "IHDR") {
            png.width = int(pngBig32(file, at + 8));
            png.height = int(pngBig32(file, at + 12));
            EXPECT_EQ(std::vector<std::uint8_t>(data + 8, data + 13),
                      (std::vector<std::uint8_t>{8, 2, 0, 0, 0}));
        } else if (type == "IDAT") {
            zlib.insert(zlib.end(), data, data + length);
        }
        types += type + " ";
        at += 12 + length;
    }
    // A comment, when there is one, is a tEXt chunk before the pixels.
    EXPECT_TRUE(types == "IHDR IDAT IEND " || types == "IHDR tEXt IDAT IEND ") << types;
    const std::size_t stride = std::size_t(png.width) * 3;
    std::vector<std::uint8_t> raw((stride + 1) * std::size_t(png.height));
    uLongf size = raw.size();
    EXPECT_EQ(uncompress(raw.data(), &size, zlib.data(), uLong(zlib.size())), Z_OK);
    EXPECT_EQ(size, raw.size());
    png.rgb.assign(stride * std::size_t(png.height), 0);
    std::vector<std::uint8_t>& pixels = png.rgb;
    for (std::size_t y = 0; y < std::size_t(png.height); ++y) {
        const int type = raw[y * (stride + 1)];
        EXPECT_LE(type, 4);
        for (std::size_t i = 0; i < stride && type <= 4; ++i) {
            const int a = i >= 3 ? pixels[y * stride + i - 3] : 0;
            const int b = y > 0 ? pixels[(y - 1) * stride + i] : 0;
            const int c = y > 0 && i >= 3 ? pixels[(y - 1) * stride + i - 3] : 0;
            const int p = a + b - c;
            const int paeth =
                std::abs(p - a) <= std::abs(p - b) && std::abs(p - a) <= std::abs(p - c)
                    ? a
                    : (std::abs(p - b) <= std::abs(p - c) ? b : c);
            const int predictor[] = {0, a, b, (a + b) / 2, paeth};
            pixels[y * stride + i] = std::uint8_t(raw[y * (stride + 1) + 1 + i] + predictor[type]);
        }
    }
    return png;
}

} // namespace phonaxis::testing
