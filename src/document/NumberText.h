#pragma once

#include <string>

namespace phonaxis {

// `value` for a message: rounded to `maxDecimals`, trailing zeros dropped
// down to `minDecimals` (3499.9999999999995 -> "3500"; 2.0 at (2, 1) ->
// "2.0"). Values of 1e15 and more, and those that are not finite, keep their
// shortest text.
std::string messageNumber(double value, int maxDecimals = 3, int minDecimals = 0);

} // namespace phonaxis
