#pragma once

// Include before any Qt header: Qt's "signals" keyword is a macro that would
// hide the generators' namespace.
#include "Signals.h"

#include <optional>
#include <span>

namespace phonaxis::test {

// An audio channel and an EGG channel in step, 300 ms at 10 kHz at 125 Hz,
// written as a float WAV, with the EGG's cycle truth at the default 25 %
// threshold.
struct EggRecording {
    std::optional<phonaxis::Bytes> wav;
    phonaxis::signals::EggSignal egg;
};

inline EggRecording eggRecording(phonaxis::Prompts& prompts)
{
    namespace sig = phonaxis::signals;
    EggRecording recording;
    const sig::PulseTrain pulses = sig::pulseTrain(125.0, 10000.0, 300.0);
    recording.egg = sig::eggSignal(pulses, pulses.samples.size());
    const std::span<const float> channels[] = {pulses.samples, recording.egg.samples};
    recording.wav = sig::waveFileBytes(10000.0, channels, prompts);
    return recording;
}

} // namespace phonaxis::test
