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

std::string fixedNumber(double value, int decimals)
{
    if (!std::isfinite(value)) {
        char shortest[64];
        return std::string(shortest,
                           std::to_chars(shortest, shortest + sizeof shortest, value).ptr);
    }
    char buf[400]; // DBL_MAX has 309 digits before the point
    const int written = std::snprintf(buf, sizeof buf, "%.*f", std::clamp(decimals, 0, 20), value);
    std::string text(buf, static_cast<std::size_t>(std::clamp(written, 0, int(sizeof buf) - 1)));
    // A negative value that rounds to zero prints as "-0.00": the sign says
    // nothing a reader could use.
    if (text.front() == '-' && text.find_first_not_of("0.", 1) == std::string::npos) {
        text.erase(0, 1);
    }
    return text;
}

std::string printableText(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    auto escaped = [&out](unsigned char c) {
        static constexpr char kHex[] = "0123456789abcdef";
        out += "\\x";
        out += kHex[c >> 4];
        out += kHex[c & 15];
    };
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        if (c == '\\') {
            out += "\\\\";
            ++i;
            continue;
        }
        if (c < 0x80) {
            if (c < 0x20 || c == 0x7F) {
                escaped(c);
            } else {
                out += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        // A well-formed UTF-8 sequence (shortest form, no surrogates, at
        // most U+10FFFF, not a C1 control) is kept whole.
        std::size_t len = 0;
        unsigned cp = 0;
        unsigned least = 0;
        if ((c & 0xE0) == 0xC0) {
            len = 2, cp = c & 0x1Fu, least = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3, cp = c & 0x0Fu, least = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4, cp = c & 0x07u, least = 0x10000;
        }
        bool ok = len > 0 && i + len <= n;
        for (std::size_t k = 1; ok && k < len; ++k) {
            ok = (p[i + k] & 0xC0) == 0x80;
            cp = (cp << 6) | (p[i + k] & 0x3Fu);
        }
        ok = ok && cp >= least && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF) &&
             (cp < 0x80 || cp > 0x9F);
        if (ok) {
            out.append(bytes.substr(i, len));
            i += len;
        } else {
            escaped(c);
            ++i;
        }
    }
    return out;
}

} // namespace phonaxis
