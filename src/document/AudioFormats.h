#pragma once

#include <cstdint>

namespace phonaxis {

// The 80-bit IEEE 754 extended value of an AIFF sample rate: bytes[0..1] hold
// the sign bit and the 15-bit biased exponent (bias 16383), bytes[2..9] the
// 64-bit mantissa with its explicit integer bit, all big-endian. An all-zero
// value is 0; exponent 32767 is infinity (with the sign). Values too small for
// a double come out as 0.
double ConvertFromIeeeExtended(const std::uint8_t bytes[10]);

// Writes `value` as an 80-bit extended value (the inverse of
// ConvertFromIeeeExtended; every finite double round-trips exactly). Infinity
// and NaN are written as infinity with the value's sign.
void ConvertToIeeeExtended(double value, std::uint8_t out[10]);

} // namespace phonaxis
