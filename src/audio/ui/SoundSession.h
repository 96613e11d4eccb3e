#pragma once

#include "audio/AudioBackend.h"
#include "audio/AudioFileRecorder.h"
#include "audio/AudioPlayer.h"
#include "audio/SpscRing.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <span>

namespace phonaxis {

// The sound card as one document window uses it: one player and one
// recorder, and the notices of their real-time callbacks brought to the
// main thread.
//
// The callbacks post into lock-free rings (no lock, allocation or system
// call on the audio thread); a 0.05 s timer on the main thread runs while
// sound plays or records, empties the rings and turns their notices into
// signals. Each tick also notices a stream that ended by itself (its last
// block played, or the device failed or went away), so `playStopped` always
// comes and nothing stays "playing".
//
// Main thread only.
class SoundSession : public QObject {
    Q_OBJECT
public:
    // `backend` is asked for the sound service on the first play or
    // recording (so that opening a window never starts one); it must return
    // an object that outlives the session.
    explicit SoundSession(std::function<AudioBackend&()> backend, QObject* parent = nullptr);
    ~SoundSession() override;

    // Plays `count` samples of `samples` from `start` at `rateHz` on the
    // default output; stops what was playing first. The samples are copied:
    // the channel may change or go while they play.
    AudioResult play(std::span<const float> samples, double start, double count, double rateHz);
    // The user's stop: nothing more is heard; `playStopped` follows.
    void stopPlaying();
    bool isPlaying() const;
    // Milliseconds of the range heard so far (the sound handed to the device
    // less what the device still holds).
    double playedMs() const;

    // Starts recording from the default input at `rateHz`.
    AudioResult startRecording(double rateHz);
    // Stops and completes the recording's file; its failure message tells of
    // a file that could not be completed.
    AudioResult stopRecording();
    bool isRecording() const;
    // The recorder of the last recording (null before the first).
    AudioFileRecorder* recorder() { return m_recorder.get(); }

    // The notice timer's period, ms.
    static constexpr int kTickMs = 50;

signals:
    // Every tick while sound plays, with `playedMs`.
    void playElapsed(double ms);
    // The play ended: its range was played, the user stopped it, or the
    // device stopped.
    void playStopped();
    // The output stopped delivering sound before the range was played (the
    // device failed or went away); it follows `playStopped`.
    void playInterrupted();
    // While recording, at each elapsed-time notice (every 0.1 s of sound).
    void recordElapsed(double seconds);
    // The input stopped delivering sound while recording (the device failed
    // or went away). Recording is still on until `stopRecording`.
    void recordingInterrupted();

private:
    void tick();
    AudioBackend& backend();
    void updateTimer();

    std::function<AudioBackend&()> m_backendSource;
    AudioBackend* m_backend = nullptr;
    SpscRing<AudioNotice> m_playNotices{256};
    SpscRing<AudioNotice> m_recordNotices{256};
    std::unique_ptr<AudioPlayer> m_player;
    std::unique_ptr<AudioFileRecorder> m_recorder;
    bool m_playing = false;       // a play has started and playStopped is owed
    bool m_interruptTold = false; // recordingInterrupted sent for this recording
    double m_latencyMs = 0.0;     // output latency of the current play
    QTimer m_timer;
};

} // namespace phonaxis
