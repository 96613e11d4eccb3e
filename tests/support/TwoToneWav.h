#pragma once

// A two-channel float WAV of tones (300 Hz and 500 Hz) at 11025 Hz, for the
// desktop tests. Include it before the Qt headers: their "signals" macro
// would hide the generators' namespace.

#include "Signals.h"
#include "document/Bytes.h"
#include "document/Prompts.h"

#include <optional>
#include <span>
#include <vector>

namespace phonaxis::test {

inline std::optional<Bytes> twoToneWav(Prompts& prompts, double durationMs = 1000.0)
{
    const std::vector<float> a = signals::tone(300.0, 11025.0, durationMs);
    const std::vector<float> b = signals::tone(500.0, 11025.0, durationMs);
    const std::span<const float> channels[] = {a, b};
    return signals::waveFileBytes(11025.0, channels, prompts);
}

} // namespace phonaxis::test
