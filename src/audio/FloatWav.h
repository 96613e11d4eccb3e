#pragma once

// The header of a mono 32-bit float WAV file, laid out as the document's WAV
// writer lays it out (a 20-byte "fmt " chunk of format 3, then "data"), so
// that a recording loads as any saved WAV file does.

#include <array>
#include <cstddef>
#include <cstdint>

namespace phonaxis {

constexpr std::size_t kFloatWavHeaderSize = 48;

// The header for `samples` samples at `rateHz`. Sizes beyond what a WAV
// file can state are clipped to the largest it can.
std::array<std::uint8_t, kFloatWavHeaderSize> floatWavHeader(std::uint32_t rateHz,
                                                             std::uint64_t samples);

} // namespace phonaxis
