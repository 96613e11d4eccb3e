#pragma once

// The sound card through PortAudio (ALSA underneath) and rate conversion
// through libsamplerate. Device names are PortAudio's: for ALSA, the names
// of the PCM devices, including those defined in an asoundrc.
//
// Main thread only (the streams' callbacks run on PortAudio's threads).

#include "audio/AudioBackend.h"

namespace phonaxis {

class PortAudioBackend final : public AudioBackend {
public:
    PortAudioBackend();
    ~PortAudioBackend() override;
    PortAudioBackend(const PortAudioBackend&) = delete;
    PortAudioBackend& operator=(const PortAudioBackend&) = delete;

    double outputRateFor(const std::string& device, double rateHz, std::string& error) override;
    double inputRateFor(const std::string& device, double rateHz, std::string& error) override;
    std::unique_ptr<AudioStream> openOutput(const std::string& device, double rateHz,
                                            AudioRenderer& renderer, std::string& error) override;
    std::unique_ptr<AudioStream> openInput(const std::string& device, double rateHz,
                                           AudioCapturer& capturer, std::string& error) override;
    bool convertRate(std::span<const float> in, double fromHz, double toHz,
                     std::vector<float>& out, std::string& error) override;

private:
    bool m_initialised = false;
    std::string m_initError;
};

} // namespace phonaxis
