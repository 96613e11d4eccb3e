#include "cli/PngWriter.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace phonaxis {
namespace {

std::uint32_t readBig32(const Bytes& b, std::size_t at)
{
    return std::uint32_t(b.at(at)) << 24 | std::uint32_t(b.at(at + 1)) << 16 |
           std::uint32_t(b.at(at + 2)) << 8 | b.at(at + 3);
}

// The pixels of a PNG written by encodePng: its IDAT inflated by zlib, each
// row's filter undone as a PNG reader undoes it.
std::vector<std::uint8_t> decodedPixels(const Bytes& png, int width, int height)
{
    Bytes zlib;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::uint32_t length = readBig32(png, at);
        if (std::string(png.begin() + long(at) + 4, png.begin() + long(at) + 8) == "IDAT") {
            zlib.insert(zlib.end(), png.begin() + long(at) + 8,
                        png.begin() + long(at + 8 + length));
        }
        at += 12 + length;
    }
    const std::size_t stride = std::size_t(width) * 3;
    std::vector<std::uint8_t> raw((stride + 1) * std::size_t(height));
    uLongf size = raw.size();
    EXPECT_EQ(uncompress(raw.data(), &size, zlib.data(), uLong(zlib.size())), Z_OK);
    EXPECT_EQ(size, raw.size());
    std::vector<std::uint8_t> pixels(stride * std::size_t(height));
    for (std::size_t y = 0; y < std::size_t(height); ++y) {
        const int type = raw[y * (stride + 1)];
        EXPECT_LE(type, 4);
        for (std::size_t i = 0; i < stride; ++i) {
            const int a = i >= 3 ? pixels[y * stride + i - 3] : 0;
            const int b = y > 0 ? pixels[(y - 1) * stride + i] : 0;
            const int c = y > 0 && i >= 3 ? pixels[(y - 1) * stride + i - 3] : 0;
            const int p = a + b - c;
            const int paeth = std::abs(p - a) <= std::abs(p - b) && std::abs(p - a) <= std::abs(p - c)
                                  ? a
                                  : (std::abs(p - b) <= std::abs(p - c) ? b : c);
            const int predictor[] = {0, a, b, (a + b) / 2, paeth};
            pixels[y * stride + i] =
                std::uint8_t(raw[y * (stride + 1) + 1 + i] + predictor[type]);
        }
    }
    return pixels;
}

// A spectrogram-like picture (grey levels falling with frequency, formant
// bands that drift, speckle) is stored in under a third of its raw size and
// reads back pixel for pixel; a white picture shrinks to almost nothing.
TEST(PngWriter, CompressesAndReadsBackExactly)
{
    const int width = 1000;
    const int height = 256;
    auto image = cli::RgbImage::blank(width, height);
    ASSERT_TRUE(image);
    std::uint32_t state = 99;
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y) {
            state = state * 1664525U + 1013904223U;
            const double band = std::sin(y * 0.09 + x * 0.004) * std::sin(y * 0.023);
            const double level = 40.0 + 0.6 * y + 90.0 * band * band + double(state >> 29);
            const auto grey = std::uint8_t(std::clamp(level, 0.0, 255.0));
            image->set(x, y, grey, grey, grey);
        }
    }
    const auto white = cli::RgbImage::blank(width, height);
    const cli::RgbImage* pictures[] = {&*image, &*white};
    for (const cli::RgbImage* picture : pictures) {
        const std::optional<Bytes> png = cli::encodePng(*picture);
        ASSERT_TRUE(png);
        const std::size_t rawSize = std::size_t(width) * height * 3;
        EXPECT_LT(png->size(), rawSize / 3);
        EXPECT_EQ(decodedPixels(*png, width, height), picture->pixels);
    }
}

} // namespace
} // namespace phonaxis
