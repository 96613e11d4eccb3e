#pragma once

// The scope window's source in the application: the acquisition box's live
// stream, shared with the recording window.
//
// While the scope is open and nothing else streams, the source starts the
// stream itself and becomes the connection's recording receiver, so that
// the recording window sees the box as busy only through the receiver it
// replaces. When the recording window takes the stream over (it sets its
// own receiver and restarts sampling), the scope keeps drawing the blocks
// the connection shares. Closing the scope ends only a stream the source
// started. A playback through the box pauses the source's stream (the box
// cannot play and sample at once); it starts again at the first tick after
// the playback. A stream that ends while the source owns it (the box failed
// or someone stopped it) is started again at most once every two seconds.
//
// Main thread only.

#include "display/ScopeView.h"
#include "hardware/BoxConnection.h"

#include <QPointer>

#include <chrono>
#include <functional>
#include <optional>

namespace phonaxis {

class BoxService;

class BoxScopeSource final : public ScopeSource, private RecordReceiver {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kRetryDelay{2};

    // `box` may go away before the source: the source then has no box.
    // `now` is the clock the retry delay is measured with.
    explicit BoxScopeSource(BoxService& box, std::function<Clock::time_point()> now = Clock::now);
    ~BoxScopeSource() override;

    int channelCount() const override;
    std::uint64_t blockCount() const override;
    std::span<const std::uint8_t> newestBlock() const override;
    void keepStreaming() override;
    void release() override;

    // The source started the stream that runs and still receives it.
    bool ownsStream() const;

private:
    // Blocks are polled at the scope's tick, not drawn as they arrive.
    void animateRecordData() override {}
    void refreshDisplay() override {}
    void stopClose() override;
    // The scope pauses for a playback through the box; keepStreaming starts
    // the stream again once the playback is over.
    bool yieldsToPlayback() const override { return true; }

    bool present() const;

    QPointer<BoxService> m_box;
    std::function<Clock::time_point()> m_now;
    std::optional<Clock::time_point> m_failedAt; // when a stream of ours last failed or ended
};

} // namespace phonaxis
