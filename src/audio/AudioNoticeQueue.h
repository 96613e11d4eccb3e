#pragma once

// Notices of one player or recorder, queued for a thread that waits for
// them (phonaxis-cli's main thread; the desktop posts to its event loop
// instead). Posting neither allocates nor locks, so it may run on the audio
// thread.

#include "audio/AudioBackend.h"
#include "audio/SpscRing.h"

#include <chrono>
#include <optional>
#include <semaphore>

namespace phonaxis {

class AudioNoticeQueue {
public:
    // The post function to give the player or recorder. One producer at a
    // time; the queue must outlive it.
    PostNotice poster() {
        return [this](const AudioNotice& notice) {
            // A full queue drops the notice: the waiter is far behind and the
            // newest state is in the player's or recorder's atomics anyway.
            if (m_notices.push(&notice, 1) == 1) {
                m_posted.release();
            }
        };
    }

    // The next notice, waiting at most `timeout`; nothing when none came.
    std::optional<AudioNotice> next(std::chrono::milliseconds timeout) {
        if (!m_posted.try_acquire_for(timeout)) {
            return std::nullopt;
        }
        AudioNotice notice;
        m_notices.pop(&notice, 1);
        return notice;
    }

private:
    SpscRing<AudioNotice> m_notices{1024};
    std::counting_semaphore<> m_posted{0};
};

} // namespace phonaxis
