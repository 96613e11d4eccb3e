#pragma once

// The vowel the spectrum window and phonaxis-cli spectrum are tested on:
// signals::vowel's defaults (10 kHz, 500 ms, F0 100 Hz, the formants of /a/:
// F1 730 Hz, F2 1090 Hz) as the bytes of a one-channel WAV file. Include it
// before any Qt header: Qt takes the word "signals".

#include "Signals.h"
#include "support/ScriptedPrompts.h"

#include <optional>
#include <span>

namespace phonaxis::test {

inline std::optional<Bytes> vowelWav()
{
    ScriptedPrompts prompts;
    const signals::Vowel vowel = signals::vowel({});
    const std::span<const float> channels[] = {vowel.samples};
    return signals::waveFileBytes(vowel.rateHz, channels, prompts);
}

} // namespace phonaxis::test
