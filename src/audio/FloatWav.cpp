#include "audio/FloatWav.h"

#include <algorithm>
#include <cstring>

namespace phonaxis {

namespace {

void putLe(std::uint8_t* at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

} // namespace

std::array<std::uint8_t, kFloatWavHeaderSize> floatWavHeader(std::uint32_t rateHz,
                                                             std::uint64_t samples) {
    const std::uint64_t maxData = (0xFFFFFFFFull - kFloatWavHeaderSize) / 4 * 4;
    const auto dataSize = static_cast<std::uint32_t>(std::min(samples * 4u, maxData));
    std::array<std::uint8_t, kFloatWavHeaderSize> h{};
    std::memcpy(h.data(), "RIFF", 4);
    putLe(h.data() + 4, static_cast<std::uint32_t>(kFloatWavHeaderSize - 8 + dataSize), 4);
    std::memcpy(h.data() + 8, "WAVEfmt ", 8);
    putLe(h.data() + 16, 20, 4);
    putLe(h.data() + 20, 3, 2);
    putLe(h.data() + 22, 1, 2);
    putLe(h.data() + 24, rateHz, 4);
    putLe(h.data() + 28, rateHz * 4u, 4);
    putLe(h.data() + 32, 4, 2);
    putLe(h.data() + 34, 32, 2);
    std::memcpy(h.data() + 40, "data", 4);
    putLe(h.data() + 44, dataSize, 4);
    return h;
}

} // namespace phonaxis
