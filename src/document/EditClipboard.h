#pragma once

#include "model/Channels.h"

#include <array>
#include <cstdint>

namespace phonaxis {

class MyDocument;

// The edit clipboard: the selected part of every channel of the document it
// was copied from, with the labels inside the selection, kept until the
// application quits and shared by all documents so that a copy can be pasted
// into another document or into an empty one.
//
// One object per process (instance()); tests make their own. Main thread
// only.
class EditClipboard {
public:
    static constexpr int kChannelSlots = 20;

    EditClipboard() = default;
    EditClipboard(const EditClipboard&) = delete;
    EditClipboard& operator=(const EditClipboard&) = delete;

    static EditClipboard& instance();

    // Copies the selection of every channel in use of `document` into the
    // clipboard channel of the same slot (the document's labels are placed
    // on the selection as a page on the way, as for drawing). Each channel's
    // selection is limited to the samples it holds. The clipboard then holds
    // content with the document's channel count and format code.
    //
    // Returns false, with the clipboard exactly as it was, when the copied
    // samples cannot be allocated.
    bool copySelection(MyDocument& document);

    Channels& channel(int index) { return m_Channel[static_cast<std::size_t>(index)]; }
    const Channels& channel(int index) const { return m_Channel[static_cast<std::size_t>(index)]; }

    bool hasContent() const { return m_bHaveContent; }
    // Number of channels copied (0..20).
    int channelCount() const { return m_nNumofChannels; }
    // Format code of the document the channels were copied from.
    std::int32_t fileFormat() const { return m_nFileFormat; }

private:
    std::array<Channels, kChannelSlots> m_Channel;
    bool m_bHaveContent = false;
    std::int32_t m_nNumofChannels = 0;
    std::int32_t m_nFileFormat = -1;
};

// The part of a channel an edit works on, limited to the samples the channel
// holds: samples [startIndex, stopIndex) of `sampleCount`.
struct SampleSpan {
    std::size_t sampleCount = 0; // samples the channel holds
    std::size_t startIndex = 0;
    std::size_t stopIndex = 0;

    std::size_t length() const { return stopIndex - startIndex; }
};

// Number of samples a channel holds: trunc(m_dwFileLength), never more than
// its buffer (0 without one).
std::size_t heldSampleCount(const Channels& channel);

// trunc(startFile) .. trunc(stopFile) limited to [0, heldSampleCount]; a stop
// before the start gives an empty span at the start.
SampleSpan selectionSpan(const Channels& channel, double startFile, double stopFile);

} // namespace phonaxis
