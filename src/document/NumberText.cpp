#include "document/NumberText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>

namespace phonaxis {

std::string messageNumber(double value, int maxDecimals, int minDecimals)
{
    // Beyond 1e15 a double has no decimals to round; its shortest text says it.
    if (!std::isfinite(value) || std::fabs(value) >= 1e15) {
        char shortest[64];
        return std::string(shortest,
                           std::to_chars(shortest, shortest + sizeof shortest, value).ptr);
    }
    char buf[64];
    const int written =
        std::snprintf(buf, sizeof buf, "%.*f", std::clamp(maxDecimals, 0, 20), value);
    std::string_view text(buf, static_cast<std::size_t>(std::clamp(written, 0, 63)));
    if (const std::size_t point = text.find('.'); point != std::string_view::npos) {
        std::size_t keep = text.size();
        while (keep > point + 1 + static_cast<std::size_t>(std::max(minDecimals, 0)) &&
               text[keep - 1] == '0') {
            --keep;
        }
        if (keep == point + 1) {
            --keep; // no decimals left: no point either
        }
        text = text.substr(0, keep);
    }
    return text == "-0" ? std::string("0") : std::string(text);
}

} // namespace phonaxis
