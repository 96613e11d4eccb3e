#include "audio/AudioPlayer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace phonaxis {

namespace {

// Elapsed-time notices are posted about this often, in sound time: the
// play cursor is redrawn every 0.05 s.
constexpr double kElapsedPostSeconds = 0.05;

// A sample position or count as given by a channel (a double), truncated
// toward zero and clipped to [0, limit].
std::size_t clippedSamples(double value, std::size_t limit) {
    if (!(value > 0.0)) {
        return 0;
    }
    if (value >= static_cast<double>(limit)) {
        return limit;
    }
    return static_cast<std::size_t>(value);
}

} // namespace

AudioPlayer::AudioPlayer(AudioBackend& backend, PostNotice post)
    : m_backend(backend), m_post(std::move(post)) {}

AudioPlayer::~AudioPlayer() { stop(); }

AudioResult AudioPlayer::play(std::span<const float> samples, double start, double count,
                              double rateHz, const std::string& device) {
    stop();
    if (!(rateHz > 0.0) || !std::isfinite(rateHz)) {
        return AudioResult::failure("The channel has no sample rate to play at.");
    }
    std::string error;
    const double deviceRate = m_backend.outputRateFor(device, rateHz, error);
    if (!(deviceRate > 0.0)) {
        return AudioResult::failure(error);
    }

    const std::size_t first = clippedSamples(start, samples.size());
    const std::size_t length = clippedSamples(count, samples.size() - first);
    const auto range = samples.subspan(first, length);
    std::vector<float> copy;
    if (deviceRate == rateHz || range.empty()) {
        copy.assign(range.begin(), range.end());
    } else if (!m_backend.convertRate(range, rateHz, deviceRate, copy, error)) {
        return AudioResult::failure(error);
    }

    auto stream = m_backend.openOutput(device, deviceRate, *this, error);
    if (!stream) {
        return AudioResult::failure(error);
    }
    // The stream is open but not started: the callback cannot run yet.
    m_samples = std::move(copy);
    m_deviceRateHz = deviceRate;
    m_position.store(0, std::memory_order_relaxed);
    m_nextElapsedPost = 0;
    m_session = nextAudioSession();
    m_finished.store(false, std::memory_order_release);
    m_stream = std::move(stream);
    AudioResult started = m_stream->start();
    if (!started.ok) {
        m_stream.reset();
        m_finished.store(true, std::memory_order_release);
        m_samples.clear();
    }
    return started;
}

void AudioPlayer::stop() {
    if (m_stream) {
        m_stream->stop(false);
        m_stream.reset();
    }
    m_finished.store(true, std::memory_order_release);
    // A notice still on its way names this play; it is ignored from now on.
    m_session = 0;
}

bool AudioPlayer::isPlaying() const {
    return m_stream != nullptr && !m_finished.load(std::memory_order_acquire) &&
           m_stream->isActive();
}

bool AudioPlayer::deviceLost() const
{
    return m_stream != nullptr && !m_finished.load(std::memory_order_acquire) &&
           !m_stream->isActive();
}

void AudioPlayer::handleNotice(const AudioNotice& notice) {
    if (notice.kind == AudioNotice::Kind::Finished && notice.session == m_session && m_stream) {
        // Let the last block reach the device before closing.
        m_stream->stop(true);
        m_stream.reset();
        m_finished.store(true, std::memory_order_release);
    }
}

double AudioPlayer::elapsedMs() const {
    if (!(m_deviceRateHz > 0.0)) {
        return 0.0;
    }
    return static_cast<double>(m_position.load(std::memory_order_acquire)) * 1000.0 / m_deviceRateHz;
}

const std::string& AudioPlayer::deviceName() const {
    return m_stream ? m_stream->deviceName() : m_noDevice;
}

bool AudioPlayer::render(float* out, std::size_t frames) noexcept {
    const std::size_t position = m_position.load(std::memory_order_relaxed);
    const std::size_t available = m_samples.size() - std::min(position, m_samples.size());
    const std::size_t n = std::min(frames, available);
    if (n > 0) {
        std::memcpy(out, m_samples.data() + position, n * sizeof(float));
    }
    if (n < frames) {
        // The last, partial block: played with silence after it.
        std::memset(out + n, 0, (frames - n) * sizeof(float));
    }
    const std::size_t reached = position + n;
    m_position.store(reached, std::memory_order_release);
    const bool last = reached >= m_samples.size();
    const double elapsedMs = static_cast<double>(reached) * 1000.0 / m_deviceRateHz;
    if (last) {
        m_finished.store(true, std::memory_order_release);
        if (m_post) {
            m_post({AudioNotice::Kind::Finished, elapsedMs, m_session});
        }
        return false;
    }
    if (reached >= m_nextElapsedPost) {
        m_nextElapsedPost =
            reached + static_cast<std::size_t>(std::ceil(kElapsedPostSeconds * m_deviceRateHz));
        if (m_post) {
            m_post({AudioNotice::Kind::Elapsed, elapsedMs, m_session});
        }
    }
    return true;
}

} // namespace phonaxis
