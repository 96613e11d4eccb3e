// The scope block: built from box frames holding the simulated box's known
// signals, each scope channel must hold the channel-table entry it shows,
// taken from the right box frames for its rate, sample for sample.

#include "hardware/ScopeBlock.h"
#include "hardware/SimulatedBox.h"

#include <gtest/gtest.h>

#include <array>

namespace phonaxis::scope {
namespace {

using usb::SimulatedBox;

// A box block of `frames` frames starting at box frame `first`.
std::vector<std::uint8_t> boxBlock(std::uint64_t first, std::size_t frames = kBoxFrames)
{
    std::vector<std::uint8_t> bytes(frames * kBoxFrameBytes);
    for (std::size_t at = 0; at < frames * kBoxSlots; ++at) {
        const auto v =
            std::uint16_t(SimulatedBox::slotValue(at % kBoxSlots, first + at / kBoxSlots));
        bytes[2 * at] = std::uint8_t(v & 0xFF);
        bytes[2 * at + 1] = std::uint8_t(v >> 8);
    }
    return bytes;
}

// What channel-table entry `entry` holds at box frame `frame`: the audio is
// the mean of the four audio slots, truncated toward zero.
std::int16_t entryAt(std::size_t entry, std::uint64_t frame)
{
    if (entry > 0)
        return SimulatedBox::slotValue(entry + 3, frame);
    int sum = 0;
    for (std::size_t slot = 0; slot < 4; ++slot)
        sum += SimulatedBox::slotValue(slot, frame);
    return std::int16_t(sum / 4);
}

// Table A: seven channels at 11,000 Hz, two at 5,500 Hz taking turns in the
// last slot. Table B: the audio at 22,000 Hz (every box frame), the others
// at 11,000 Hz.
TEST(ScopeBlock, EachChannelHoldsItsEntryAtItsRate)
{
    const struct {
        int boxChannels;
        std::vector<int> ratesHz;
        // Box frames between two samples of each channel, and the frame of
        // its first sample.
        std::vector<std::size_t> frameStep, firstFrame;
    } cases[] = {
        {9,
         {11000, 11000, 11000, 11000, 11000, 11000, 11000, 5500, 5500},
         {2, 2, 2, 2, 2, 2, 2, 4, 4},
         {0, 0, 0, 0, 0, 0, 0, 0, 2}},
        {5, {22000, 11000, 11000, 11000, 11000}, {1, 2, 2, 2, 2}, {0, 0, 0, 0, 0}},
        {2, {22000, 11000}, {1, 2}, {0, 0}},
    };
    constexpr std::uint64_t kFirst = 123457; // any place in the stream
    for (const auto& c : cases) {
        SCOPED_TRACE(c.boxChannels);
        const std::vector<std::int16_t> block = makeScopeBlock(boxBlock(kFirst), c.boxChannels);
        ASSERT_EQ(block.size(), 5504u);
        EXPECT_EQ(channelRatesHz(c.boxChannels), c.ratesHz);
        // Slots no channel of this box uses stay silent.
        const std::size_t usedSlots = c.boxChannels == 9 ? 8 : c.ratesHz.size() + 1;
        for (std::size_t i = 0; i < block.size(); ++i)
            ASSERT_TRUE(i % kSlots < usedSlots || block[i] == 0) << "slot " << i % kSlots;

        const auto channels = splitScopeBlock(block, c.boxChannels);
        ASSERT_EQ(channels.size(), c.ratesHz.size());
        for (std::size_t ch = 0; ch < channels.size(); ++ch) {
            ASSERT_EQ(channels[ch].size(), 1376 / c.frameStep[ch]) << "channel " << ch + 1;
            for (std::size_t k = 0; k < channels[ch].size(); ++k)
                ASSERT_EQ(channels[ch][k],
                          entryAt(ch, kFirst + c.firstFrame[ch] + k * c.frameStep[ch]))
                    << "channel " << ch + 1 << " sample " << k;
        }
    }
}

TEST(ScopeBlock, SampleCountsAndTheAudioMean)
{
    // The rates no table uses yet, and rates of no table.
    EXPECT_EQ((std::array{channelSampleCount(2750), channelSampleCount(1375),
                          channelSampleCount(22050), channelSampleCount(-11000)}),
              (std::array<std::size_t, 4>{172, 86, 0, 0}));

    // The mean of the four audio slots, truncated toward zero.
    const std::pair<std::array<std::int16_t, 4>, std::int16_t> means[] = {
        {{1, 2, 3, -7}, 0},
        {{-100, -101, -102, -103}, -101},
        {{32767, 32767, 32767, 32767}, 32767}};
    for (const auto& [slots, audio] : means) {
        std::array<std::uint8_t, kBoxFrameBytes> frame{};
        for (std::size_t s = 0; s < 4; ++s) {
            frame[2 * s] = std::uint8_t(std::uint16_t(slots[s]) & 0xFF);
            frame[2 * s + 1] = std::uint8_t(std::uint16_t(slots[s]) >> 8);
        }
        EXPECT_EQ(audioSample(frame), audio) << slots[3];
    }
}

// A short block, a box without a table and a short scope block give
// silence or nothing, never a read past the end.
TEST(ScopeBlock, ShortBlocksAndUnknownBoxes)
{
    const auto block = makeScopeBlock(boxBlock(0, 100), 9);
    ASSERT_EQ(block.size(), kBlockSamples);
    EXPECT_EQ(block[8 * 49 + 1], entryAt(1, 98));
    for (std::size_t i = 8 * 50; i < block.size(); ++i)
        ASSERT_EQ(block[i], 0) << i;

    for (int channels : {0, 1, 3, 16}) {
        EXPECT_TRUE(channelRatesHz(channels).empty()) << channels;
        EXPECT_TRUE(splitScopeBlock(makeScopeBlock(boxBlock(0), channels), channels).empty());
    }
    const auto channels = splitScopeBlock(std::vector<std::int16_t>(100, 7), 9);
    ASSERT_EQ(channels.size(), 9u);
    for (const auto& samples : channels)
        EXPECT_TRUE(samples.empty());
}

} // namespace
} // namespace phonaxis::scope
