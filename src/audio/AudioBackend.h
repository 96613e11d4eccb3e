#pragma once

// The sound-card service the player and the recorder run on, as a small
// interface: mono 32-bit float streams with a real-time callback, and the
// rate conversion used when a device does not run at a channel's rate. The
// PortAudio adapter (audio/portaudio/) implements it; core never includes
// the audio library itself.

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace phonaxis {

// What a real-time callback reports to the main thread.
struct AudioNotice {
    enum class Kind { Elapsed, Finished };
    Kind kind = Kind::Elapsed;
    double elapsedMs = 0.0;     // in the channel's time (playback) or since start (recording)
    unsigned long session = 0;  // which play or recording it belongs to
};

// A number for a new play or recording, unique in the process, so that a
// notice still on its way from an earlier one (of any player or recorder)
// is never taken for the current one's.
inline unsigned long nextAudioSession() {
    static std::atomic<unsigned long> last{0};
    return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

// Hands a notice to the main thread without waiting. It is called on the
// audio thread: the function must return at once and neither block nor
// take a lock that the main thread holds for long.
using PostNotice = std::function<void(const AudioNotice&)>;

// The outcome of a start or stop: `ok`, or a sentence for the user.
struct AudioResult {
    bool ok = true;
    std::string message;

    static AudioResult failure(std::string text) { return {false, std::move(text)}; }
};

// Fills output blocks on the audio thread. Returns false once the block it
// just filled is the last one (its unused tail is silence); the stream then
// plays that block and ends. Must not allocate, lock or print.
class AudioRenderer {
public:
    virtual ~AudioRenderer() = default;
    virtual bool render(float* out, std::size_t frames) noexcept = 0;
};

// Receives input blocks on the audio thread; same rules as `AudioRenderer`.
class AudioCapturer {
public:
    virtual ~AudioCapturer() = default;
    virtual void capture(const float* in, std::size_t frames) noexcept = 0;
};

// One open mono float stream. Main thread only. Destroying it stops and
// closes it; after `stop` returns the callback runs no more.
class AudioStream {
public:
    virtual ~AudioStream() = default;
    virtual AudioResult start() = 0;
    // `drain`: let the blocks already handed over play to the end (a
    // finished playback); otherwise stop at once (the user's stop).
    virtual void stop(bool drain) noexcept = 0;
    // False once the stream has stopped by itself: played to the end, or
    // the device failed or went away.
    virtual bool isActive() const = 0;
    virtual double rateHz() const = 0;
    virtual const std::string& deviceName() const = 0;
    // How long a sample handed to an output stream takes to be heard, in
    // seconds (0 when the device does not say).
    virtual double latencySeconds() const { return 0.0; }
};

class AudioBackend {
public:
    virtual ~AudioBackend() = default;

    // The rate a device (an empty name means the default device) runs at
    // when asked for `rateHz`: `rateHz` itself when it takes it, otherwise
    // its own default rate. 0 with `error` set when there is no such device
    // or it takes neither.
    virtual double outputRateFor(const std::string& device, double rateHz, std::string& error) = 0;
    virtual double inputRateFor(const std::string& device, double rateHz, std::string& error) = 0;

    // Open a stream at `rateHz` (one the device takes); null with `error`.
    // The renderer or capturer must outlive the stream.
    virtual std::unique_ptr<AudioStream> openOutput(const std::string& device, double rateHz,
                                                    AudioRenderer& renderer, std::string& error) = 0;
    virtual std::unique_ptr<AudioStream> openInput(const std::string& device, double rateHz,
                                                   AudioCapturer& capturer, std::string& error) = 0;

    // Converts mono samples from one rate to another; never on the audio
    // thread. False with `error` when the conversion fails.
    virtual bool convertRate(std::span<const float> in, double fromHz, double toHz,
                             std::vector<float>& out, std::string& error) = 0;
};

} // namespace phonaxis
