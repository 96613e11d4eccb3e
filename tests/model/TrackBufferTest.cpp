#include "model/TrackBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace phonaxis {
namespace {

// Buffers come zeroed without a pass over them, so every way of getting
// space — small or mapped, fresh, regrown after a shrink, reallocated —
// must still read as zero.
TEST(TrackBufferTest, EveryNewElementIsZero)
{
    for (const std::size_t count : {std::size_t{0}, std::size_t{25}, std::size_t{3} << 20}) {
        SampleBuffer buffer;
        EXPECT_FALSE(buffer.present());
        ASSERT_TRUE(buffer.allocate(count));
        EXPECT_TRUE(buffer.present());
        EXPECT_EQ(buffer.size(), count);
        EXPECT_TRUE(std::all_of(buffer.data(), buffer.data() + count, [](float v) { return v == 0; }));

        std::fill(buffer.data(), buffer.data() + count, 7.0f);
        ASSERT_TRUE(buffer.resize(count / 2));
        ASSERT_TRUE(buffer.resize(count)); // within the old capacity
        EXPECT_TRUE(std::all_of(buffer.data(), buffer.data() + count / 2,
                                [](float v) { return v == 7.0f; }));
        EXPECT_TRUE(std::all_of(buffer.data() + count / 2, buffer.data() + count,
                                [](float v) { return v == 0; }));

        ASSERT_TRUE(buffer.resize(count * 2 + 10)); // reallocated
        EXPECT_TRUE(std::all_of(buffer.data() + count, buffer.data() + count * 2 + 10,
                                [](float v) { return v == 0; }));

        // Replacing the contents zeroes them again; reset makes the buffer absent.
        ASSERT_TRUE(buffer.allocate(count));
        EXPECT_TRUE(std::all_of(buffer.data(), buffer.data() + count, [](float v) { return v == 0; }));
        buffer.reset();
        EXPECT_FALSE(buffer.present());
        EXPECT_EQ(buffer.size(), 0u);
    }
}

TEST(TrackBufferTest, ImpossibleSizesFailWithoutThrowing)
{
    DoubleTrack track;
    EXPECT_FALSE(track.allocate(std::size_t(-1) / 4));
    EXPECT_FALSE(track.present());
    ASSERT_TRUE(track.allocate(10));
    EXPECT_FALSE(track.resize(std::size_t(-1) / 4));
    EXPECT_TRUE(track.present()); // a failed resize keeps what was there
    EXPECT_EQ(track.size(), 10u);
}

} // namespace
} // namespace phonaxis
