#include "model/Channels.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <limits>
#include <vector>

namespace phonaxis {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::vector<float> bufferOf(const Channels& c)
{
    return {c.m_hData.span().begin(), c.m_hData.span().end()};
}

// `values` followed by the reader's zero slack.
std::vector<float> withSlack(std::vector<float> values)
{
    values.resize(values.size() + Channels::kSlackFloats, 0.0f);
    return values;
}

std::vector<std::uint8_t> floatBytes(std::vector<float> values)
{
    std::vector<std::uint8_t> bytes(values.size() * 4);
    std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
}

TEST(ChannelsStorage, ReadDataConvertsAndStaysInsideTheBlock)
{
    const float w = 1.0f / 32768.0f;
    const std::vector<std::uint8_t> block = {1, 0, 0xFF, 0x07, 0x00, 0x80, 0xFF, 0x7F};
    struct Case {
        double length, location;
        std::int32_t datasize;
        bool swap, ok;
        std::vector<float> expected;
    };
    const Case cases[] = {
        {6, 0, 16, false, true, {w, 2047 * w, -1.0f, 0.999969482421875f, 0, 0}},
        {1, 0, 16, true, true, {0.0078125f}},
        {1, 2, 12, false, true, {0.99951171875f}},
        {1, 0.9, 12, true, true, {0.125f}},  // offset cut toward zero; 0x0100 / 2048
        {3, -4, 16, false, true, {0, 0, w}}, // bytes before the block read as 0
        {2, 1e300, 16, false, true, {0, 0}},
        {2, kNaN, 16, false, true, {0, 0}},
        {kNaN, 0, 16, false, true, {}},
        {-7, 0, 32, false, true, {}},
        {2, 0, 8, false, false, {0, 0}}, // unsupported size: zero-filled buffer
    };
    for (const Case& c : cases) {
        Channels ch;
        EXPECT_EQ(ch.readData(block, c.length, c.location, c.datasize, c.swap), c.ok);
        EXPECT_EQ(bufferOf(ch), withSlack(c.expected)) << c.length << " @ " << c.location;
    }
    Channels floats;
    ASSERT_TRUE(floats.readData(floatBytes({-2.75f, 0.5f}), 2, 0, 32, true));
    EXPECT_EQ(bufferOf(floats), withSlack({-2.75f, 0.5f})); // floats taken as stored

    for (double length : {1e12, std::numeric_limits<double>::infinity()}) {
        EXPECT_FALSE(floats.readData(block, length, 0, 16, false));
        EXPECT_FALSE(floats.m_hData.present());
        EXPECT_FALSE(floats.readDataUSB2(block, length, 1, 0, 0));
        EXPECT_FALSE(floats.setData(nullptr, length));
    }
}

TEST(ChannelsStorage, ReadDataUSB2PicksOneChannelOfTheFrames)
{
    // Header 9 9 9 9, frames (a0 b0 c0)(a1 b1 c1), then the 5-byte tail.
    std::vector<std::uint8_t> block = {9, 9, 9, 9};
    const auto frames = floatBytes({10, 20, 30, 11, 21, 31});
    block.insert(block.end(), frames.begin(), frames.end());
    block.insert(block.end(), 5, 0xEE);
    const float header = std::bit_cast<float>(0x09090909u);
    const std::int32_t farBefore = std::numeric_limits<std::int32_t>::min();
    struct Case {
        double length;
        std::int32_t channels, which, from;
        bool ok;
        std::vector<float> expected;
    };
    const Case cases[] = {
        {2, 3, 2, 4, true, {30, 31}},     {4, 3, 1, 4, true, {20, 21, 0, 0}},
        {3, 2, 1, 4, true, {20, 11, 31}}, {3, 1, 0, -8, true, {0, 0, header}},
        {2, 3, 0, 1000, false, {0, 0}},   {2, 3, 0, farBefore, false, {0, 0}},
    };
    for (const Case& c : cases) {
        Channels ch;
        EXPECT_EQ(ch.readDataUSB2(block, c.length, c.channels, c.which, c.from), c.ok);
        EXPECT_EQ(bufferOf(ch), withSlack(c.expected)) << c.which << " from " << c.from;
    }
    for (auto [channels, which] : {std::pair{0, 0}, {-3, 1}, {3, 3}, {3, -1}}) {
        Channels ch;
        EXPECT_FALSE(ch.readDataUSB2(block, 2, channels, which, 4));
        EXPECT_FALSE(ch.m_hData.present());
    }
}

TEST(ChannelsStorage, DuplicateIsAnIndependentCopyOfTheListedFields)
{
    Channels source;
    const float samples[] = {0.1f, 0.2f, 0.3f, 0.4f};
    source.setData(samples, 4);
    source.m_dwFileLength = 4;
    source.m_dMaxUnZoom = 3;
    source.m_pArrayLabels.resize(2);
    source.m_pArrayLabels[1]._strText = "a";
    source.m_hfDataIntensity.allocate(10);
    source.m_hfDataIntensity[1] = 60.0f;
    source.m_dIntensityFileLength = 3;
    source.m_bApplyCalibration = source.m_bDrawAcceleration = true;
    source.m_pArrayCycle.resize(3);
    source.m_hdDataSmoothedDC.allocate(4);

    Channels copy;
    copy.m_hfDataPitch.allocate(50); // the source has no pitch track
    copy.Duplicate(source);
    EXPECT_EQ(copy.m_hData.size(), 4u);
    EXPECT_EQ(copy.m_dMaxUnZoom, 3);
    EXPECT_EQ(copy.m_nLabelCount, 2);
    EXPECT_EQ(copy.m_hfDataIntensity.size(), 3u);
    EXPECT_FALSE(copy.m_hfDataPitch.present());
    EXPECT_FALSE(copy.m_bApplyCalibration || copy.m_bDrawAcceleration);
    EXPECT_TRUE(copy.m_pArrayCycle.empty());
    EXPECT_FALSE(copy.m_hdDataSmoothedDC.present());

    copy.m_hData[0] = copy.m_hfDataIntensity[1] = -1.0f;
    copy.m_pArrayLabels[1]._strText = "b";
    EXPECT_EQ(source.m_hData[0], 0.1f);
    EXPECT_EQ(source.m_hfDataIntensity[1], 60.0f);
    EXPECT_EQ(source.m_pArrayLabels[1]._strText, "a");

    source.Duplicate(source);
    EXPECT_EQ(source.samples().size(), 4u);
    EXPECT_EQ(source.m_hData[3], 0.4f);
}

TEST(ChannelsStorage, CalculateDurationOrdersCursorAndMarker)
{
    struct Case {
        double cursorMs, markerMs, startMs, durationMs;
    };
    for (const Case& c : {Case{120, 80, 80, 40}, {80, 120, 80, 40}, {50, 50, 50, 0}}) {
        Channels ch;
        ch.m_dCursorTime = c.cursorMs;
        ch.m_dCursorFileValue = c.cursorMs * 10;
        ch.m_dMarkerTime = c.markerMs;
        ch.m_dMarkerFileValue = c.markerMs * 10 + (c.markerMs == c.cursorMs ? 3 : 0);
        ch.CalculateDuration();
        EXPECT_EQ(ch.m_dDurationStartTime, c.startMs);
        EXPECT_EQ(ch.GetDurationTime(), c.durationMs);
        EXPECT_EQ(ch.m_dDurationStartFile, c.startMs * 10); // equal times: the cursor's
        EXPECT_EQ(ch.m_dDurationFile, c.durationMs * 10);
    }
}

} // namespace
} // namespace phonaxis
