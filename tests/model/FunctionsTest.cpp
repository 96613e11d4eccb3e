#include "model/Functions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <limits>
#include <span>
#include <vector>

namespace phonaxis {
namespace {

TEST(Functions, RectangleConversionsTruncateAndSaturate)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        RectD in;
        Rect out;
    };
    const Case cases[] = {
        {{10.7, 20.2, 5.5, 3.3}, {20, 10, 23, 15}},
        {{-3.7, -1.2, 2.0, 0.5}, {-1, -3, 0, -1}}, // toward zero, not down
        {{40000, -40000, 10, 10}, {-32768, 32767, -32758, 32767}},
        {{nan, 5, nan, 1}, {5, 0, 6, 0}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Functions::convertNSRectToRect(c.in), c.out) << c.in.x << "," << c.in.y;
    }
    EXPECT_EQ(Functions::convertRectToNSRect(Rect{5, 10, 1, 4}), (RectD{10, 5, 6, 4}));
    EXPECT_EQ(Functions::convertRectToNSRect(Rect{-32768, -32768, 32767, 32767}),
              (RectD{-32768, -32768, 65535, 65535}));
}

TEST(Functions, ByteOrderReversal)
{
    EXPECT_EQ(swapw(0x1234), 0x3412);
    EXPECT_EQ(swapsw(std::int16_t{0x0180}), std::int16_t{-32767});
    EXPECT_EQ(swapl(0x12345678u), 0x78563412u);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(swapf(1.0f)), 0x0000803Fu);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(swapd(1.0)), 0x000000000000F03Full);

    using Bytes = std::array<std::uint8_t, 5>;
    const Bytes bytes = {1, 2, 3, 4, 5};
    Bytes out{};
    swapb(bytes.data(), out.data(), 4);
    swapb(bytes.data(), out.data(), -3);
    EXPECT_EQ(out, (Bytes{4, 3, 2, 1, 0}));
    Bytes inPlace = bytes;
    swapb(inPlace.data(), inPlace.data(), 5);
    EXPECT_EQ(inPlace, (Bytes{5, 4, 3, 2, 1}));
    swapb(inPlace.data(), inPlace.data() + 1, 4); // overlapping
    EXPECT_EQ(inPlace, (Bytes{5, 2, 3, 4, 5}));
}

TEST(Functions, HandleToHandleFloatStaysInsideBothBuffers)
{
    SampleBuffer source;
    source.allocate(10);
    for (std::size_t i = 0; i < 10; ++i) {
        source[i] = float(i);
    }
    const long long farStart = std::numeric_limits<long long>::max();
    const std::vector<float> untouched = {-1, -1, -1, -1};
    struct Case {
        long long count, start;
        std::vector<float> expected;
    };
    const Case cases[] = {
        {2, 3, {3, 4, -1, -1}}, {10, 0, {0, 1, 2, 3}}, {5, 8, {8, 9, -1, -1}},
        {0, 0, untouched},      {2, -1, untouched},    {2, farStart, untouched},
    };
    for (const Case& c : cases) {
        SampleBuffer destination;
        destination.allocate(4);
        std::fill(destination.span().begin(), destination.span().end(), -1.0f);
        HandleToHandleFloat(source, destination, c.count, c.start);
        const std::span<const float> copied = destination.span();
        EXPECT_EQ(std::vector<float>(copied.begin(), copied.end()), c.expected)
            << c.count << " from " << c.start;
    }
    SampleBuffer absent;
    HandleToHandleFloat(source, absent, 2, 0);
    EXPECT_FALSE(absent.present());
}

} // namespace
} // namespace phonaxis
