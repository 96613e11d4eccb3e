#pragma once

#include "model/Geometry.h"
#include "model/TrackBuffer.h"

#include <cstddef>
#include <cstdint>

namespace phonaxis {

// `value` cut toward zero to a signed 16-bit view coordinate. Values outside
// the range saturate at its ends (a far-off edge stays off-screen on the same
// side instead of wrapping onto it); NaN, which only a zero-length page or
// strip produces, gives 0.
std::int16_t truncToInt16(double value);

// trunc(value) as a count or index limited to [0, limit]; NaN and values
// <= 0 give 0.
std::size_t truncWithin(double value, std::size_t limit);

// Rectangle conversions between the 16-bit view rectangle and a floating one.
struct Functions {
    // Origin (left, top), width |right - left|, height |bottom - top|.
    static RectD convertRectToNSRect(const Rect& r);
    // top = trunc(y), left = trunc(x), bottom = trunc(top + height),
    // right = trunc(left + width); each cut toward zero to a signed 16-bit
    // integer (values outside the 16-bit range saturate).
    static Rect convertNSRectToRect(const RectD& r);
};

// Byte-order reversal for the big-endian file formats.
void swapb(const void* source, void* destination, int count);
std::uint16_t swapw(std::uint16_t value);
std::int16_t swapsw(std::int16_t value);
std::uint32_t swapl(std::uint32_t value);
float swapf(float value);
double swapd(double value);

// Copies `count` floats of `source`, starting at `sourceStart`, to the start of
// `destination`. Does nothing when either buffer is absent or count <= 0; the
// copy is limited to what both buffers hold.
void HandleToHandleFloat(const SampleBuffer& source, SampleBuffer& destination, long long count,
                         long long sourceStart);

} // namespace phonaxis
