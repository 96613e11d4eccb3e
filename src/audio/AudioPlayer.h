#pragma once

// Plays a range of a channel's float samples through the sound card.
//
// `play` copies the range into a buffer the player owns, so editing or
// closing the document while sound plays never makes the callback read moved
// or freed samples. When the device does not take the channel's rate, the
// copy is converted to a rate it takes before the stream starts; the
// callback then only copies samples. Elapsed time is always reported in the
// channel's time (ms from the range start).
//
// Threads: every member function is for the main thread. The audio thread
// runs only `render`, which posts `Elapsed` notices (about every 50 ms of
// sound) and one `Finished` notice through the injected post function; the
// main thread hands them back to `handleNotice`.

#include "audio/AudioBackend.h"

#include <atomic>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace phonaxis {

class AudioPlayer final : private AudioRenderer {
public:
    AudioPlayer(AudioBackend& backend, PostNotice post);
    ~AudioPlayer() override;
    AudioPlayer(const AudioPlayer&) = delete;
    AudioPlayer& operator=(const AudioPlayer&) = delete;

    // Plays `count` samples of `samples` from `start` (both truncated toward
    // zero and clipped to the channel) at `rateHz`, on `device` (empty: the
    // default output). Stops what was playing first. A range of length 0 plays
    // nothing and reports a finished playback at once. On failure nothing
    // plays and the message says why.
    AudioResult play(std::span<const float> samples, double start, double count, double rateHz,
                     const std::string& device = {});

    // Stops at once; nothing more is heard and no further notice is handled.
    void stop();

    // True from a successful `play` until the last block has been handed to
    // the device, `stop`, or the device stopping by itself (it failed or
    // went away): never left on by a device that no longer runs.
    bool isPlaying() const;
    // True when the device stopped by itself before the range was played
    // (it failed or went away).
    bool deviceLost() const;

    // Acts on a notice this player posted: a `Finished` notice of the
    // current play closes the stream. Notices of an earlier play are ignored.
    void handleNotice(const AudioNotice& notice);

    // Milliseconds of the range handed to the device so far.
    double elapsedMs() const;
    // The output latency of the current play's stream, ms (0 without one).
    double latencyMs() const { return m_stream ? m_stream->latencySeconds() * 1000.0 : 0.0; }
    // Session number carried by the current play's notices.
    unsigned long session() const { return m_session; }
    // The device rate and name of the last successful play.
    double deviceRateHz() const { return m_deviceRateHz; }
    const std::string& deviceName() const;

private:
    bool render(float* out, std::size_t frames) noexcept override;

    AudioBackend& m_backend;
    PostNotice m_post;
    std::unique_ptr<AudioStream> m_stream;
    std::vector<float> m_samples;  // the range, at the device rate
    double m_deviceRateHz = 0.0;
    unsigned long m_session = 0;
    std::string m_noDevice;
    // Written by the audio thread, read by the main thread.
    std::atomic<std::size_t> m_position{0};  // device samples handed over
    std::atomic<bool> m_finished{true};
    std::size_t m_nextElapsedPost = 0;  // audio thread only
};

} // namespace phonaxis
