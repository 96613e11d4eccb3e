#pragma once

// Pieces the analysis windows' graphs share (the pitch graph, the
// spectrogram): pane rectangles, framed panes, the waveform pane and the
// label strip.

#include "model/Geometry.h"

#include <QRect>
#include <QString>

#include <cstdint>
#include <span>
#include <vector>

class QPainter;

namespace phonaxis {

class Channels;
class MinMaxSummary;
struct RGBColor;

// A Rect from sides in view pixels, each held to the 16-bit range.
Rect paneRect(int top, int left, int bottom, int right);
QRect toQRect(const Rect& rect);
int rectWidth(const Rect& rect);
int rectHeight(const Rect& rect);

// A page position as the int the float trace primitive takes (floored,
// held to the int32 range).
std::int32_t pagePosition(double position);

// A pane's black frame and its title (may be empty) in the top left corner.
void drawPaneFrame(QPainter& painter, const Rect& pane, const QString& title);

// A framed waveform pane: `samples` over the page [pageMin, pageMax)
// (positions in `samples`), the baseline in the middle and the trace scaled
// so that the largest excursion from `reference` among all of `samples`
// fills 95 % of half the pane. `summary` (of `samples`, or null) makes long
// pages fast.
void drawWaveformPane(QPainter& painter, const Rect& pane, std::span<const float> samples,
                      const MinMaxSummary* summary, double reference, double pageMin,
                      double pageMax, const RGBColor& color);

// The labels of `channels` over [pageStartMs, pageEndMs], placed as the main
// view places them on a channel with the strip's geometry, clipped to it.
void drawLabelStrip(QPainter& painter, const Rect& strip,
                    const std::vector<const Channels*>& channels, double pageStartMs,
                    double pageEndMs);

} // namespace phonaxis
