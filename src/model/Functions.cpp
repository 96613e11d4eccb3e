#include "model/Functions.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

namespace phonaxis {

namespace {

template <typename Unsigned>
Unsigned reverseBytes(Unsigned value)
{
    Unsigned result = 0;
    for (std::size_t i = 0; i < sizeof(Unsigned); ++i) {
        result = static_cast<Unsigned>((result << 8) | (value & 0xFFu));
        value = static_cast<Unsigned>(value >> 8);
    }
    return result;
}

} // namespace

std::size_t truncWithin(double value, std::size_t limit)
{
    if (!(value > 0.0)) {
        return 0;
    }
    if (value >= static_cast<double>(limit)) {
        return limit;
    }
    return static_cast<std::size_t>(value);
}

std::int16_t truncToInt16(double value)
{
    if (std::isnan(value)) {
        return 0;
    }
    constexpr double lowest = std::numeric_limits<std::int16_t>::min();
    constexpr double highest = std::numeric_limits<std::int16_t>::max();
    return static_cast<std::int16_t>(std::clamp(std::trunc(value), lowest, highest));
}

RectD Functions::convertRectToNSRect(const Rect& r)
{
    // Differences are taken in double: two 16-bit edges can be 65535 apart.
    return RectD{double(r.left), double(r.top), std::fabs(double(r.right) - double(r.left)),
                 std::fabs(double(r.bottom) - double(r.top))};
}

Rect Functions::convertNSRectToRect(const RectD& r)
{
    Rect out;
    out.top = truncToInt16(r.y);
    out.left = truncToInt16(r.x);
    // Far edges are measured from the already truncated near edges.
    out.bottom = truncToInt16(double(out.top) + r.height);
    out.right = truncToInt16(double(out.left) + r.width);
    return out;
}

void swapb(const void* source, void* destination, int count)
{
    if (source == nullptr || destination == nullptr || count <= 0) {
        return;
    }
    const auto n = static_cast<std::size_t>(count);
    const auto* from = static_cast<const std::uint8_t*>(source);
    auto* to = static_cast<std::uint8_t*>(destination);
    // Reversing in place (or between overlapping ranges) must read every
    // source byte before it is overwritten.
    const bool overlaps = std::less<>()(from, to + n) && std::less<>()(to, from + n);
    if (overlaps) {
        std::vector<std::uint8_t> copy(from, from + n);
        std::reverse_copy(copy.begin(), copy.end(), to);
    } else {
        std::reverse_copy(from, from + n, to);
    }
}

std::uint16_t swapw(std::uint16_t value)
{
    return reverseBytes(value);
}

std::int16_t swapsw(std::int16_t value)
{
    return std::bit_cast<std::int16_t>(reverseBytes(std::bit_cast<std::uint16_t>(value)));
}

std::uint32_t swapl(std::uint32_t value)
{
    return reverseBytes(value);
}

float swapf(float value)
{
    return std::bit_cast<float>(reverseBytes(std::bit_cast<std::uint32_t>(value)));
}

double swapd(double value)
{
    return std::bit_cast<double>(reverseBytes(std::bit_cast<std::uint64_t>(value)));
}

void HandleToHandleFloat(const SampleBuffer& source, SampleBuffer& destination, long long count,
                         long long sourceStart)
{
    if (!source.present() || !destination.present() || count <= 0 || sourceStart < 0) {
        return;
    }
    const auto start = static_cast<unsigned long long>(sourceStart);
    if (start >= source.size()) {
        return;
    }
    const auto available = std::min<unsigned long long>(source.size() - start, destination.size());
    const auto n = static_cast<std::size_t>(std::min<unsigned long long>(
        static_cast<unsigned long long>(count), available));
    if (n > 0) {
        // memmove: source and destination may be the same buffer.
        std::memmove(destination.data(), source.data() + start, n * sizeof(float));
    }
}

} // namespace phonaxis
