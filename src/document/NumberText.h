#pragma once

#include <string>
#include <string_view>

namespace phonaxis {

// `value` for a message: rounded to `maxDecimals`, trailing zeros dropped
// down to `minDecimals` (3499.9999999999995 -> "3500"; 2.0 at (2, 1) ->
// "2.0"). Values of 1e15 and more, and those that are not finite, keep their
// shortest text.
std::string messageNumber(double value, int maxDecimals = 3, int minDecimals = 0);

// `value` with exactly `decimals` decimals (0..20) and no padding, for a
// readout or a scale value: "-6.3", never "-  6.3"; a value that rounds to
// zero is "0.0", never "-0.0". Values that are not finite keep their
// shortest text ("nan", "inf", "-inf").
std::string fixedNumber(double value, int decimals);

// Bytes taken from a file, safe to quote in a message shown on a terminal:
// printable ASCII and well-formed UTF-8 stay as they are; control bytes
// (escape sequences could retitle or clear the terminal), the C1 controls
// U+0080..U+009F, DEL, backslash and bytes that are no UTF-8 become \xNN
// (backslash "\\").
std::string printableText(std::string_view bytes);

} // namespace phonaxis
