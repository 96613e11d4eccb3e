#pragma once

#include "display/MainViewLayout.h"
#include "document/MyDocument.h"
#include "model/Geometry.h"
#include "model/MinMaxSummary.h"

#include <QImage>
#include <QSize>

#include <array>
#include <cstddef>

class QPainter;

namespace phonaxis {

class Channels;

// The min/max summaries of a document's channels, so that drawing a long
// recording costs time proportional to the view's width. Build after loading
// and after every edit of the samples (a summary of other contents than the
// samples it is used with draws wrong extremes; one of another length is
// ignored and the samples are scanned). Main thread; drawing only reads.
class MainViewSummaries {
public:
    // Summarises every channel in use, on `threadCount` threads (0: one per
    // hardware thread). False when some summary could not be allocated; that
    // channel is then drawn by scanning its samples.
    bool build(const MyDocument& document, unsigned threadCount = 0);
    // Brings channel `index` up to date after an edit that left its samples
    // before `firstChangedSample` unchanged. False for an index out of range
    // or when memory runs out.
    bool rebuildChannel(const MyDocument& document, int index, std::size_t firstChangedSample);
    void clear();

    // The summary of channel `index`, or nullptr when there is none.
    const MinMaxSummary* forChannel(int index) const;

private:
    std::array<MinMaxSummary, MyDocument::kChannelSlots> m_summaries;
};

// The colour of a channel's reference line (drawn at alpha 0.6).
inline constexpr RGBColor kReferenceLineColor{0xFFFF, 0, 0};
// The time grid's colour.
inline constexpr RGBColor kTimeGridColor{0xAAAA, 0xAAAA, 0xAAAA};

// Draws the channels of `document` (nothing unless it has data) into
// `painter` over a view of `clientSize` pixels: the time grid of the anchor
// channel (the first with m_bAnchorChannel, else the first shown) extended
// down the frame, then every shown channel in its strip m_rLocation over its
// page (m_dPageMin … m_dPageMax): frame, title, trace, scale values, marks,
// derived tracks and labels. Strips and pages are read as they are; the view
// lays them out (SetupDisplay) and scrolls them beforehand. Each channel's
// drawing is clipped to its strip; the caller fills the background.
void DrawView(QPainter& painter, const MyDocument& document, QSize clientSize,
              const MainViewSummaries* summaries = nullptr);

// Draws the labels of `channel` that lie strictly inside the page
// [pageStartMs, pageEndMs], placed as Channels::GetLabelZoomed places them,
// each in its own font and colour at its bounds origin plus its drag shift,
// over a light, mostly opaque backing that fills its box.
void DrawLabels(QPainter& painter, const Channels& channel, double pageStartMs, double pageEndMs);

// A white image of `size` with DrawView drawn into it: the picture export,
// printing and the command-line picture use it. An empty size gives a null
// image.
QImage renderMainView(const MyDocument& document, QSize size,
                      const MainViewSummaries* summaries = nullptr);

} // namespace phonaxis
