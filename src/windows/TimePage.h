#pragma once

namespace phonaxis {

// The stretch of a channel an analysis window shows, [pageMin, pageMax] in
// any one unit (samples, ms), and what its zoom commands need.
struct TimePage {
    double pageMin = 0.0;
    double pageMax = 0.0;
    double undoMin = 0.0; // the page before the last zoom
    double undoMax = 0.0;
};

// Where a zoom command finds its page, in the page's unit.
struct ZoomLimits {
    double length = 0.0;         // the channel runs from 0 to length
    double smallest = 0.0;       // the narrowest page shown
    double selectionStart = 0.0; // Zoom to Selection
    double selectionStop = 0.0;
    double cursor = 0.0;         // Zoom to Cursor: a page from here ...
    double cursorSpan = 0.0;     // ... this wide
};

// Applies zoom command `mode` to `page`: 0 undoes the last zoom, 1 zooms in
// (the middle half), 2 out (twice the span), 3 to the selection, 4 to the
// cursor, 5 home (the whole channel). Every other mode keeps the page as it
// is for undoing first. A page narrower than the smallest is widened about
// its centre; a page that runs past either end of the channel is moved back
// inside, keeping its span where the channel is long enough. Every page thus
// shows part of the channel and has a span to divide by. Modes outside 0..5
// change nothing.
void zoomPage(TimePage& page, int mode, const ZoomLimits& limits);

// The page moved to start at `start` (held to the channel), its span kept.
void scrollPage(TimePage& page, double start, double length);

} // namespace phonaxis
