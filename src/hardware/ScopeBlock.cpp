#include "hardware/ScopeBlock.h"

#include <array>

namespace phonaxis::scope {

namespace {

constexpr std::array<int, 9> kTableARatesHz = {11000, 11000, 11000, 11000, 11000,
                                               11000, 11000, 5500,  5500};
constexpr std::array<int, 8> kTableBRatesHz = {22000, 11000, 11000, 11000,
                                               11000, 5500,  5500,  5500};

// Slot `slot` of box frame `frame`, or 0 when the block ends before it.
std::int16_t boxSlot(std::span<const std::uint8_t> block, std::size_t frame, std::size_t slot)
{
    const std::size_t at = frame * kBoxFrameBytes + 2 * slot;
    if (at + 1 >= block.size()) {
        return 0;
    }
    return phonaxis::boxSlot(block.data() + frame * kBoxFrameBytes, slot);
}

// The value scope channel table entry `entry` takes from box frame `frame`.
std::int16_t entryValue(std::span<const std::uint8_t> block, std::size_t frame, std::size_t entry)
{
    if (entry == 0) {
        const std::size_t at = frame * kBoxFrameBytes;
        if (at + kBoxFrameBytes > block.size()) {
            return 0;
        }
        return audioSample(block.subspan(at, kBoxFrameBytes));
    }
    return boxSlot(block, frame, entry + 3);
}

} // namespace

SplitTable tableFor(int boxChannels)
{
    switch (boxChannels) {
    case 9:
        return SplitTable::A;
    case 5:
    case 2:
        return SplitTable::B;
    default:
        return SplitTable::None;
    }
}

std::vector<int> channelRatesHz(int boxChannels)
{
    switch (tableFor(boxChannels)) {
    case SplitTable::A:
        return {kTableARatesHz.begin(), kTableARatesHz.end()};
    case SplitTable::B:
        return {kTableBRatesHz.begin(), kTableBRatesHz.begin() + boxChannels};
    case SplitTable::None:
        break;
    }
    return {};
}

std::size_t channelSampleCount(int rateHz)
{
    switch (rateHz) {
    case 22000:
        return 2 * kFrames;
    case 11000:
        return kFrames;
    case 5500:
        return kFrames / 2;
    case 2750:
        return kFrames / 4;
    case 1375:
        return kFrames / 8;
    default:
        return 0;
    }
}

std::int16_t audioSample(std::span<const std::uint8_t> frame)
{
    int sum = 0;
    for (std::size_t slot = 0; slot < 4; ++slot) {
        sum += boxSlot(frame, 0, slot);
    }
    return static_cast<std::int16_t>(sum / 4);
}

std::vector<std::int16_t> makeScopeBlock(std::span<const std::uint8_t> boxBlock, int boxChannels)
{
    std::vector<std::int16_t> block(kBlockSamples, 0);
    const SplitTable table = tableFor(boxChannels);
    for (std::size_t k = 0; k < kFrames; ++k) {
        // Scope frame k is box frame 2k: 11,025 frames per second.
        const std::size_t frame = 2 * k;
        std::int16_t* out = block.data() + kSlots * k;
        if (table == SplitTable::A) {
            for (std::size_t slot = 0; slot < 7; ++slot) {
                out[slot] = entryValue(boxBlock, frame, slot);
            }
            // Channels 8 and 9 take slot 7 in turn: each at half the rate.
            out[7] = entryValue(boxBlock, frame, k % 2 == 0 ? 7 : 8);
        } else if (table == SplitTable::B) {
            // The audio keeps every box frame of the stretch: 22,000 Hz.
            out[0] = entryValue(boxBlock, frame, 0);
            out[1] = entryValue(boxBlock, frame + 1, 0);
            const auto analog = static_cast<std::size_t>(boxChannels) - 1;
            for (std::size_t entry = 1; entry <= analog; ++entry) {
                out[entry + 1] = entryValue(boxBlock, frame, entry);
            }
        }
    }
    return block;
}

std::vector<std::vector<std::int16_t>> splitScopeBlock(std::span<const std::int16_t> block,
                                                       int boxChannels)
{
    const std::vector<int> rates = channelRatesHz(boxChannels);
    std::vector<std::vector<std::int16_t>> channels(rates.size());
    if (block.size() < kBlockSamples) {
        return channels;
    }
    const SplitTable table = tableFor(boxChannels);
    for (std::size_t c = 0; c < rates.size(); ++c) {
        std::vector<std::int16_t>& samples = channels[c];
        samples.resize(channelSampleCount(rates[c]));
        for (std::size_t k = 0; k < samples.size(); ++k) {
            if (table == SplitTable::A) {
                // Channels 8 and 9 alternate in slot 7.
                samples[k] = c < 7 ? block[kSlots * k + c] : block[2 * kSlots * k + 7 + 8 * (c - 7)];
            } else if (c == 0) {
                // The audio's two samples per frame, in slots 0 and 1.
                samples[k] = block[kSlots * (k / 2) + k % 2];
            } else {
                samples[k] = block[kSlots * k + c + 1];
            }
        }
    }
    return channels;
}

} // namespace phonaxis::scope
