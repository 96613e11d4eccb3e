#include "cli/PngWriter.h"
#include "support/PngDecoding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace phonaxis {
namespace {

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
        const testing::DecodedPng decoded = testing::decodePng(*png);
        EXPECT_EQ(decoded.width, width);
        EXPECT_EQ(decoded.height, height);
        EXPECT_EQ(decoded.rgb, picture->pixels);
    }
}

// A comment goes into a tEXt chunk (the decoder checks every chunk's CRC
// and order), printable ASCII only, and the picture reads back as it was.
TEST(PngWriter, CommentIsATextChunkBesideThePicture)
{
    const auto image = cli::RgbImage::blank(3, 2);
    ASSERT_TRUE(image);
    const std::optional<Bytes> png = cli::encodePng(*image, "Precise analysis\n\x01");
    ASSERT_TRUE(png);
    EXPECT_EQ(testing::decodePng(*png).rgb, image->pixels);
    const std::string bytes(png->begin(), png->end());
    const std::string chunk = std::string("\0\0\0\x18tEXtComment", 15) + '\0' + "Precise analysis";
    EXPECT_NE(bytes.find(chunk), std::string::npos);
}

} // namespace
} // namespace phonaxis
