#pragma once

// The scope's block: what the scope window draws at one tick, made from the
// newest block of the acquisition box's stream, and its split into one
// sample array per scope channel.
//
// The box sends blocks of 2,048 frames of 16 int16 slots at 22,050 frames
// per second (slots 0..3: the audio input, whose sample is their mean; slot
// k + 3: analog channel k). The scope block holds 5,504 int16 samples: 688
// frames of 8 slots, one scope frame for every second box frame, so its
// frames come at 11,025 per second; the rate tables below call that rate
// 11,000 Hz and count the other rates from it. Which box value goes into
// which slot depends on the box's channel count:
//
//   Table A, 9 channels: scope channels 1..7 at 11,000 Hz in slots 0..6;
//   channels 8 and 9 at 5,500 Hz share slot 7, frame by frame (even frames
//   channel 8, odd frames channel 9).
//   Table B, 5 channels (2 channels use its first two): channel 1, the
//   audio, at 22,000 Hz in slots 0 and 1 (box frames 2k and 2k + 1);
//   channels 2..5 at 11,000 Hz in slots 2..5; slots 6 and 7 unused.
//
// Scope channel c (1-based) shows entry c − 1 of the record/play channel
// table: entry 0 is the audio, entry e is the box's slot e + 3.
//
// Pure computation: no state, any thread.

#include "document/BoxFrames.h"

#include <cstdint>
#include <span>
#include <vector>

namespace phonaxis::scope {

inline constexpr std::size_t kBoxFrames = 2048;
using phonaxis::kBoxFrameBytes;
using phonaxis::kBoxSlots;
inline constexpr std::size_t kFrames = 688; // scope frames per block
inline constexpr std::size_t kSlots = 8;    // slots per scope frame
inline constexpr std::size_t kBlockSamples = kFrames * kSlots; // 5,504
// The rate of one slot of the scope block, as the tables name it.
inline constexpr int kSlotRateHz = 11000;

enum class SplitTable { None, A, B };

// Table A for 9 channels, table B for 5 and 2, none for anything else.
SplitTable tableFor(int boxChannels);

// The rates of scope channels 1..n of a box of `boxChannels` channels (n =
// 9, 5 or 2); empty when the box has no table.
std::vector<int> channelRatesHz(int boxChannels);

// The samples a block holds of a channel at `rateHz`: 688 at 11,000 Hz,
// divided by 8, 4, 2 or 1 for 1,375, 2,750, 5,500 or 11,000 Hz, and twice
// 688 at 22,000 Hz. 0 for any other rate.
std::size_t channelSampleCount(int rateHz);

// The audio sample of a box frame: the mean of slots 0..3, truncated toward
// zero.
std::int16_t audioSample(std::span<const std::uint8_t> frame);

// The scope block of `boxBlock` (frames of 16 little-endian int16 slots) for
// a box of `boxChannels`. Frames the block lacks (a short block) count as
// silence; without a table the block is all zero.
std::vector<std::int16_t> makeScopeBlock(std::span<const std::uint8_t> boxBlock, int boxChannels);

// One array per scope channel (1..n in order) of a scope block, each of
// `channelSampleCount` of its rate. A block shorter than 5,504 samples gives
// empty arrays.
std::vector<std::vector<std::int16_t>> splitScopeBlock(std::span<const std::int16_t> block,
                                                       int boxChannels);

} // namespace phonaxis::scope
