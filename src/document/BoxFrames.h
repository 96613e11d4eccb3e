#pragma once

// The frames an acquisition box streams and records: 32 bytes of 16 signed
// 16-bit little-endian slots, 22,050 frames per second. Slots 0..3 carry
// the audio input, whose sample is their mean; slot e + 3 carries analog
// channel e (1..12). Channel-table entry 0 is the audio, entry e analog
// channel e. A value v stands for v / 32768 in normalized units.

#include <cstddef>
#include <cstdint>

namespace phonaxis {

inline constexpr std::size_t kBoxSlots = 16;
inline constexpr std::size_t kBoxFrameBytes = kBoxSlots * 2;
inline constexpr double kBoxFrameRateHz = 22050.0;
// The last channel-table entry a frame holds (slot 15).
inline constexpr int kLastBoxEntry = static_cast<int>(kBoxSlots) - 4;

// Slot `slot` (0..15) of the frame at `frame`.
inline std::int16_t boxSlot(const std::uint8_t* frame, std::size_t slot)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(frame[2 * slot]) |
                                     static_cast<std::uint16_t>(frame[2 * slot + 1]) << 8);
}

// The normalized value of channel-table entry `entry` in the frame at
// `frame`: the mean of slots 0..3 for entry 0, slot entry + 3 otherwise, 0
// for an entry no slot holds. The sums are exact in float, so the value is
// the same however it is summed.
inline float boxEntryValue(const std::uint8_t* frame, int entry)
{
    constexpr float kScale = 1.0f / 32768.0f;
    if (entry < 0 || entry > kLastBoxEntry)
        return 0.0f;
    if (entry == 0) {
        const float sum = static_cast<float>(boxSlot(frame, 0)) + static_cast<float>(boxSlot(frame, 1)) +
                          static_cast<float>(boxSlot(frame, 2)) + static_cast<float>(boxSlot(frame, 3));
        return sum * (0.25f * kScale);
    }
    return static_cast<float>(boxSlot(frame, static_cast<std::size_t>(entry) + 3)) * kScale;
}

} // namespace phonaxis
