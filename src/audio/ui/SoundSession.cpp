#include "audio/ui/SoundSession.h"

#include <algorithm>

namespace phonaxis {

namespace {

// A post function that puts the notice in `ring`. A full ring drops it:
// the main thread is far behind and the newest state is in the player's or
// recorder's atomics anyway.
PostNotice postInto(SpscRing<AudioNotice>& ring)
{
    return [&ring](const AudioNotice& notice) { ring.push(&notice, 1); };
}

} // namespace

SoundSession::SoundSession(std::function<AudioBackend&()> backend, QObject* parent)
    : QObject(parent), m_backendSource(std::move(backend))
{
    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, &SoundSession::tick);
}

SoundSession::~SoundSession()
{
    // The streams stop before the rings their callbacks post into go.
    m_player.reset();
    m_recorder.reset();
}

AudioBackend& SoundSession::backend()
{
    if (m_backend == nullptr) {
        m_backend = &m_backendSource();
    }
    return *m_backend;
}

AudioResult SoundSession::play(std::span<const float> samples, double start, double count,
                               double rateHz)
{
    if (!m_player) {
        m_player = std::make_unique<AudioPlayer>(backend(), postInto(m_playNotices));
    }
    AudioResult result = m_player->play(samples, start, count, rateHz);
    m_playing = result.ok;
    m_latencyMs = result.ok ? m_player->latencyMs() : 0.0;
    updateTimer();
    return result;
}

void SoundSession::stopPlaying()
{
    if (m_player) {
        m_player->stop();
    }
    if (m_playing) {
        m_playing = false;
        updateTimer();
        emit playStopped();
    }
}

bool SoundSession::isPlaying() const
{
    return m_playing;
}

double SoundSession::playedMs() const
{
    if (!m_player) {
        return 0.0;
    }
    return std::max(0.0, m_player->elapsedMs() - m_latencyMs);
}

AudioResult SoundSession::startRecording(double rateHz)
{
    if (!m_recorder) {
        m_recorder = std::make_unique<AudioFileRecorder>(backend(), postInto(m_recordNotices));
    }
    AudioResult result = m_recorder->start(rateHz);
    m_interruptTold = false;
    updateTimer();
    return result;
}

AudioResult SoundSession::stopRecording()
{
    if (!m_recorder || !m_recorder->isRecording()) {
        return {};
    }
    AudioResult result = m_recorder->stop();
    updateTimer();
    return result;
}

bool SoundSession::isRecording() const
{
    return m_recorder && m_recorder->isRecording();
}

void SoundSession::updateTimer()
{
    if (m_playing || isRecording()) {
        if (!m_timer.isActive()) {
            m_timer.start();
        }
    } else {
        m_timer.stop();
    }
}

void SoundSession::tick()
{
    AudioNotice notice;
    while (m_playNotices.pop(&notice, 1) == 1) {
        if (m_player) {
            m_player->handleNotice(notice);
        }
    }
    if (m_playing) {
        if (m_player && m_player->isPlaying()) {
            emit playElapsed(playedMs());
        } else {
            m_playing = false;
            const bool lost = m_player && m_player->deviceLost();
            if (m_player) {
                m_player->stop();
            }
            emit playStopped();
            if (lost) {
                emit playInterrupted();
            }
        }
    }

    bool elapsed = false;
    while (m_recordNotices.pop(&notice, 1) == 1) {
        elapsed = elapsed || (m_recorder && notice.session == m_recorder->session());
    }
    if (isRecording()) {
        if (elapsed) {
            emit recordElapsed(m_recorder->elapsedSeconds());
        }
        if (m_recorder->inputLost() && !m_interruptTold) {
            m_interruptTold = true;
            emit recordingInterrupted();
        }
    }
    updateTimer();
}

} // namespace phonaxis
