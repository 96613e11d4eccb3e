#include "audio/portaudio/PortAudioBackend.h"

#include <alsa/asoundlib.h>
#include <portaudio.h>
#include <samplerate.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <optional>

#include <fcntl.h>
#include <unistd.h>

namespace phonaxis {

namespace {

// ALSA reports every device it probes and cannot open on stderr; whether a
// device can be used is told through our own messages instead.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

// Sends what is written to stderr (fd 2) to /dev/null while it lives, and
// puts the real stderr back afterwards; it is kept around the few PortAudio
// calls that print. Starting PortAudio probes every sound system it knows:
// the JACK client library prints to stderr when no JACK server runs, and
// offers no way to be quiet that reaches the clients ALSA's JACK plugin
// opens; PortAudio itself prints each ALSA call that fails while it tests a
// rate or opens a stream. The program itself reports whether a device can
// be used. Only one silencer at a time: another thread starting a backend
// waits rather than saving the silenced stderr as the real one.
class SilencedStderr {
public:
    SilencedStderr() : m_lock(mutex())
    {
        std::fflush(stderr);
        m_saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (m_saved >= 0 && null >= 0 && ::dup2(null, STDERR_FILENO) < 0) {
            ::close(m_saved);
            m_saved = -1;
        }
        if (null >= 0) {
            ::close(null);
        }
    }
    ~SilencedStderr()
    {
        if (m_saved >= 0) {
            std::fflush(stderr);
            ::dup2(m_saved, STDERR_FILENO);
            ::close(m_saved);
        }
    }
    SilencedStderr(const SilencedStderr&) = delete;
    SilencedStderr& operator=(const SilencedStderr&) = delete;

private:
    static std::mutex& mutex()
    {
        static std::mutex m;
        return m;
    }

    std::lock_guard<std::mutex> m_lock;
    int m_saved = -1;
};

std::string rateText(double rateHz) { return std::to_string(std::lround(rateHz)) + " Hz"; }

enum class Direction { Output, Input };

const char* noDeviceText(Direction direction) {
    return direction == Direction::Output ? "No audio output device could be opened."
                                          : "No audio input device could be opened.";
}

// The device of that name (empty: the default one) that has channels in
// that direction; paNoDevice with `error` set when there is none.
PaDeviceIndex findDevice(const std::string& name, Direction direction, std::string& error) {
    const auto hasChannels = [direction](const PaDeviceInfo* info) {
        return info && (direction == Direction::Output ? info->maxOutputChannels
                                                       : info->maxInputChannels) > 0;
    };
    if (name.empty()) {
        const PaDeviceIndex index = direction == Direction::Output ? Pa_GetDefaultOutputDevice()
                                                                   : Pa_GetDefaultInputDevice();
        if (index == paNoDevice || !hasChannels(Pa_GetDeviceInfo(index))) {
            error = noDeviceText(direction);
            return paNoDevice;
        }
        return index;
    }
    const PaDeviceIndex count = Pa_GetDeviceCount();
    for (PaDeviceIndex i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (hasChannels(info) && name == info->name) {
            return i;
        }
    }
    error = std::string(direction == Direction::Output ? "There is no audio output device named \""
                                                       : "There is no audio input device named \"") +
            name + "\".";
    return paNoDevice;
}

PaStreamParameters monoFloat(PaDeviceIndex device, Direction direction) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    PaStreamParameters parameters{};
    parameters.device = device;
    parameters.channelCount = 1;
    parameters.sampleFormat = paFloat32;
    parameters.suggestedLatency = direction == Direction::Output ? info->defaultHighOutputLatency
                                                                 : info->defaultHighInputLatency;
    return parameters;
}

bool takesRate(const PaStreamParameters& parameters, Direction direction, double rateHz) {
    // PortAudio prints the ALSA call that refused the rate; the caller tells
    // the user what it does about it.
    const SilencedStderr quiet;
    return Pa_IsFormatSupported(direction == Direction::Input ? &parameters : nullptr,
                                direction == Direction::Output ? &parameters : nullptr,
                                rateHz) == paFormatIsSupported;
}

double rateFor(bool initialised, const std::string& initError, const std::string& device,
               Direction direction, double rateHz, std::string& error) {
    if (!initialised) {
        error = initError;
        return 0.0;
    }
    const PaDeviceIndex index = findDevice(device, direction, error);
    if (index == paNoDevice) {
        return 0.0;
    }
    const PaStreamParameters parameters = monoFloat(index, direction);
    if (takesRate(parameters, direction, rateHz)) {
        return rateHz;
    }
    const double own = Pa_GetDeviceInfo(index)->defaultSampleRate;
    if (own > 0.0 && takesRate(parameters, direction, own)) {
        return own;
    }
    error = std::string(direction == Direction::Output ? "The audio output cannot play at "
                                                       : "The audio input cannot record at ") +
            rateText(rateHz) + ".";
    return 0.0;
}

class PortAudioStream final : public AudioStream {
public:
    PortAudioStream(PaStream* stream, double rateHz, std::string name)
        : m_stream(stream), m_rateHz(rateHz), m_name(std::move(name)) {}
    ~PortAudioStream() override {
        stop(false);
        Pa_CloseStream(m_stream);
    }
    PortAudioStream(const PortAudioStream&) = delete;
    PortAudioStream& operator=(const PortAudioStream&) = delete;

    AudioResult start() override {
        const PaError status = Pa_StartStream(m_stream);
        if (status != paNoError) {
            return AudioResult::failure(std::string("The sound card could not be started (") +
                                        Pa_GetErrorText(status) + ").");
        }
        m_started = true;
        return {};
    }

    void stop(bool drain) noexcept override {
        if (m_started) {
            if (drain) {
                Pa_StopStream(m_stream);
            } else {
                Pa_AbortStream(m_stream);
            }
            m_started = false;
        }
    }

    bool isActive() const override { return m_started && Pa_IsStreamActive(m_stream) == 1; }
    double rateHz() const override { return m_rateHz; }
    const std::string& deviceName() const override { return m_name; }
    double latencySeconds() const override
    {
        const PaStreamInfo* info = Pa_GetStreamInfo(m_stream);
        return info != nullptr && info->outputLatency > 0.0 ? info->outputLatency : 0.0;
    }

private:
    PaStream* m_stream;
    double m_rateHz;
    std::string m_name;
    bool m_started = false;
};

int outputCallback(const void*, void* output, unsigned long frames,
                   const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* user) {
    auto* renderer = static_cast<AudioRenderer*>(user);
    return renderer->render(static_cast<float*>(output), frames) ? paContinue : paComplete;
}

int inputCallback(const void* input, void*, unsigned long frames,
                  const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* user) {
    static_cast<AudioCapturer*>(user)->capture(static_cast<const float*>(input), frames);
    return paContinue;
}

std::unique_ptr<AudioStream> openStream(bool initialised, const std::string& initError,
                                        const std::string& device, Direction direction,
                                        double rateHz, void* user, std::string& error) {
    if (!initialised) {
        error = initError;
        return nullptr;
    }
    const PaDeviceIndex index = findDevice(device, direction, error);
    if (index == paNoDevice) {
        return nullptr;
    }
    const PaStreamParameters parameters = monoFloat(index, direction);
    PaStream* stream = nullptr;
    std::optional<SilencedStderr> quiet(std::in_place);
    const PaError status = Pa_OpenStream(
        &stream, direction == Direction::Input ? &parameters : nullptr,
        direction == Direction::Output ? &parameters : nullptr, rateHz,
        // The first blocks come from the callback rather than silence, so
        // sound starts as soon as the stream does.
        paFramesPerBufferUnspecified,
        direction == Direction::Output ? paPrimeOutputBuffersUsingStreamCallback : paNoFlag,
        direction == Direction::Output ? outputCallback : inputCallback, user);
    quiet.reset();
    if (status != paNoError) {
        error = std::string(noDeviceText(direction)) + " (" + Pa_GetErrorText(status) + " at " +
                rateText(rateHz) + ")";
        return nullptr;
    }
    return std::make_unique<PortAudioStream>(stream, rateHz, Pa_GetDeviceInfo(index)->name);
}

} // namespace

PortAudioBackend::PortAudioBackend() {
    snd_lib_error_set_handler(quietAlsa);
    // Never start a JACK server just to look for devices (unless the user
    // has said otherwise).
    ::setenv("JACK_NO_START_SERVER", "1", 0);
    PaError status = paNoError;
    {
        const SilencedStderr quiet;
        status = Pa_Initialize();
    }
    m_initialised = status == paNoError;
    if (!m_initialised) {
        m_initError = std::string("The sound system could not be started (") +
                      Pa_GetErrorText(status) + ").";
    }
}

PortAudioBackend::~PortAudioBackend() {
    if (m_initialised) {
        Pa_Terminate();
    }
}

double PortAudioBackend::outputRateFor(const std::string& device, double rateHz,
                                       std::string& error) {
    return rateFor(m_initialised, m_initError, device, Direction::Output, rateHz, error);
}

double PortAudioBackend::inputRateFor(const std::string& device, double rateHz,
                                      std::string& error) {
    return rateFor(m_initialised, m_initError, device, Direction::Input, rateHz, error);
}

std::unique_ptr<AudioStream> PortAudioBackend::openOutput(const std::string& device,
                                                          double rateHz, AudioRenderer& renderer,
                                                          std::string& error) {
    return openStream(m_initialised, m_initError, device, Direction::Output, rateHz, &renderer,
                      error);
}

std::unique_ptr<AudioStream> PortAudioBackend::openInput(const std::string& device, double rateHz,
                                                         AudioCapturer& capturer,
                                                         std::string& error) {
    return openStream(m_initialised, m_initError, device, Direction::Input, rateHz, &capturer,
                      error);
}

bool PortAudioBackend::convertRate(std::span<const float> in, double fromHz, double toHz,
                                   std::vector<float>& out, std::string& error) {
    const double ratio = toHz / fromHz;
    const double frames = std::ceil(static_cast<double>(in.size()) * ratio) + 16.0;
    if (!(ratio > 0.0) || !std::isfinite(ratio) ||
        frames > static_cast<double>(std::numeric_limits<long>::max() / 2)) {
        error = "The sound cannot be converted from " + rateText(fromHz) + " to " +
                rateText(toHz) + ".";
        return false;
    }
    out.assign(static_cast<std::size_t>(frames), 0.0f);
    SRC_DATA data{};
    data.data_in = in.data();
    data.input_frames = static_cast<long>(in.size());
    data.data_out = out.data();
    data.output_frames = static_cast<long>(out.size());
    data.src_ratio = ratio;
    data.end_of_input = 1;
    const int status = src_simple(&data, SRC_SINC_MEDIUM_QUALITY, 1);
    if (status != 0) {
        error = "The sound cannot be converted from " + rateText(fromHz) + " to " +
                rateText(toHz) + " (" + src_strerror(status) + ").";
        out.clear();
        return false;
    }
    out.resize(static_cast<std::size_t>(data.output_frames_gen));
    return true;
}

} // namespace phonaxis
