#pragma once

// The scope window: one strip per enabled channel of the record/play
// settings, scrolling left as the newest stretch of each channel is drawn at
// the right edge, ten times a second. Its blocks come from a `ScopeSource`
// (the acquisition box's live stream in the application); without a source
// or without enabled channels it has no strips and says so.

#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <span>

namespace phonaxis {

struct AppSettings;

// Where the scope's samples come from. Main thread only.
class ScopeSource {
public:
    virtual ~ScopeSource() = default;
    // The box's channel count (9, 5 or 2), or 0 without a box.
    virtual int channelCount() const = 0;
    // Counts the blocks that have arrived; the scope draws a block once.
    virtual std::uint64_t blockCount() const = 0;
    // The newest block of 2,048 frames of 16 int16 slots.
    virtual std::span<const std::uint8_t> newestBlock() const = 0;
    // Called each tick while the scope is open: starts the box's stream when
    // nothing streams (at most once every two seconds after a failure).
    virtual void keepStreaming() = 0;
    // The scope closes: ends a stream the source started itself.
    virtual void release() = 0;
};

// `scopeWindowController`: a top-level window titled "Scope" holding the
// view. Closing it stops the timer and releases the source.
class ScopeWindowController;

} // namespace phonaxis
