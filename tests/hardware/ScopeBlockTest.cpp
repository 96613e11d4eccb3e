// The scope block: built from box frames holding the simulated box's known
// signals, each scope channel must hold the channel-table entry it shows,
// taken from the right box frames for its rate, sample for sample.

#include "hardware/ScopeBlock.h"
#include "hardware/SimulatedBox.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace phonaxis::scope {
namespace {

using usb::SimulatedBox;

// A box block of `frames` frames starting at box frame `first`.
std::vector<std::uint8_t> boxBlock(std::uint64_t first, std::size_t frames = kBoxFrames)
{
    std::vector<std::uint8_t> bytes(frames * kBoxFrameBytes);
    for (std::size_t f = 0; f < frames; ++f) {
        for (std::size_t slot = 0; slot < kBoxSlots; ++slot) {
            const auto v = static_cast<std::uint16_t>(SimulatedBox::slotValue(slot, first + f));
            bytes[f * kBoxFrameBytes + 2 * slot] = static_cast<std::uint8_t>(v & 0xFF);
            bytes[f * kBoxFrameBytes + 2 * slot + 1] = static_cast<std::uint8_t>(v >> 8);
        }
    }
    return bytes;
}

// What channel-table entry `entry` holds at box frame `frame`.
std::int16_t entryAt(std::size_t entry, std::uint64_t frame)
{
    if (entry == 0) {
        int sum = 0;
        for (std::size_t slot = 0; slot < 4; ++slot) {
            sum += SimulatedBox::slotValue(slot, frame);
        }
        return static_cast<std::int16_t>(sum / 4);
    }
    return SimulatedBox::slotValue(entry + 3, frame);
}

struct SplitCase {
    int boxChannels;
    std::vector<int> ratesHz;
    // Box frames between two samples of each channel, and the frame of its
    // first sample.
    std::vector<std::size_t> frameStep;
    std::vector<std::size_t> firstFrame;
};

void PrintTo(const SplitCase& c, std::ostream* os)
{
    *os << c.boxChannels << " channels";
}

class ScopeSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(ScopeSplit, EachChannelHoldsItsEntryAtItsRate)
{
    const SplitCase& c = GetParam();
    constexpr std::uint64_t kFirst = 123457; // any place in the stream
    const std::vector<std::uint8_t> bytes = boxBlock(kFirst);
    const std::vector<std::int16_t> block = makeScopeBlock(bytes, c.boxChannels);
    ASSERT_EQ(block.size(), 5504u);
    EXPECT_EQ(channelRatesHz(c.boxChannels), c.ratesHz);

    // Slots no channel of this box uses stay silent.
    const std::size_t usedSlots = c.boxChannels == 9 ? 8 : c.ratesHz.size() + 1;
    for (std::size_t i = 0; i < block.size(); ++i) {
        if (i % kSlots >= usedSlots) {
            ASSERT_EQ(block[i], 0) << "slot " << i % kSlots;
        }
    }

    const auto channels = splitScopeBlock(block, c.boxChannels);
    ASSERT_EQ(channels.size(), c.ratesHz.size());
    for (std::size_t ch = 0; ch < channels.size(); ++ch) {
        ASSERT_EQ(channels[ch].size(), channelSampleCount(c.ratesHz[ch])) << "channel " << ch + 1;
        for (std::size_t k = 0; k < channels[ch].size(); ++k) {
            const std::uint64_t frame = kFirst + c.firstFrame[ch] + k * c.frameStep[ch];
            ASSERT_EQ(channels[ch][k], entryAt(ch, frame)) << "channel " << ch + 1 << " sample " << k;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tables, ScopeSplit,
    ::testing::Values(
        // Table A: seven channels at 11,000 Hz, two at 5,500 Hz taking
        // turns in the last slot.
        SplitCase{9,
                  {11000, 11000, 11000, 11000, 11000, 11000, 11000, 5500, 5500},
                  {2, 2, 2, 2, 2, 2, 2, 4, 4},
                  {0, 0, 0, 0, 0, 0, 0, 0, 2}},
        // Table B: the audio at 22,000 Hz (every box frame), four channels
        // at 11,000 Hz.
        SplitCase{5, {22000, 11000, 11000, 11000, 11000}, {1, 2, 2, 2, 2}, {0, 0, 0, 0, 0}},
        SplitCase{2, {22000, 11000}, {1, 2}, {0, 0}}),
    [](const ::testing::TestParamInfo<SplitCase>& test) {
        return "Box" + std::to_string(test.param.boxChannels) + "Channels";
    });

TEST(ScopeBlock, SampleCountsPerRate)
{
    const std::array<std::pair<int, std::size_t>, 8> cases{{{22000, 1376},
                                                            {11000, 688},
                                                            {5500, 344},
                                                            {2750, 172},
                                                            {1375, 86},
                                                            {22050, 0},
                                                            {0, 0},
                                                            {-11000, 0}}};
    for (const auto& [rate, count] : cases) {
        EXPECT_EQ(channelSampleCount(rate), count) << rate << " Hz";
    }
}

// The audio is the mean of the four audio slots, truncated toward zero.
TEST(ScopeBlock, AudioIsTheMeanOfTheFourAudioSlots)
{
    struct Case {
        std::array<std::int16_t, 4> slots;
        std::int16_t audio;
    };
    const std::array<Case, 4> cases{{{{1, 2, 3, -7}, 0},
                                     {{100, 101, 102, 103}, 101},
                                     {{-100, -101, -102, -103}, -101},
                                     {{32767, 32767, 32767, 32767}, 32767}}};
    for (const Case& c : cases) {
        std::array<std::uint8_t, kBoxFrameBytes> frame{};
        for (std::size_t s = 0; s < 4; ++s) {
            const auto v = static_cast<std::uint16_t>(c.slots[s]);
            frame[2 * s] = static_cast<std::uint8_t>(v & 0xFF);
            frame[2 * s + 1] = static_cast<std::uint8_t>(v >> 8);
        }
        EXPECT_EQ(audioSample(frame), c.audio) << c.slots[0] << " " << c.slots[3];
    }
}

// A short block, a box without a table and a short scope block give
// silence or nothing, never a read past the end.
TEST(ScopeBlock, ShortBlocksAndUnknownBoxes)
{
    const std::vector<std::uint8_t> few = boxBlock(0, 100);
    const auto block = makeScopeBlock(few, 9);
    ASSERT_EQ(block.size(), kBlockSamples);
    EXPECT_EQ(block[8 * 49 + 1], entryAt(1, 98));
    for (std::size_t i = 8 * 50; i < block.size(); ++i) {
        ASSERT_EQ(block[i], 0) << i;
    }

    for (int channels : {0, 1, 3, 16}) {
        EXPECT_TRUE(channelRatesHz(channels).empty()) << channels;
        EXPECT_TRUE(splitScopeBlock(makeScopeBlock(boxBlock(0), channels), channels).empty());
    }
    const std::vector<std::int16_t> shortBlock(100, 7);
    const auto channels = splitScopeBlock(shortBlock, 9);
    ASSERT_EQ(channels.size(), 9u);
    for (const auto& samples : channels) {
        EXPECT_TRUE(samples.empty());
    }
}

} // namespace
} // namespace phonaxis::scope
