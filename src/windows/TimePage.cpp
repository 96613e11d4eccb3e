#include "windows/TimePage.h"

#include <algorithm>
#include <cmath>

namespace phonaxis {

void zoomPage(TimePage& page, int mode, const ZoomLimits& limits)
{
    if (mode < 0 || mode > 5) {
        return;
    }
    if (mode != 0) {
        page.undoMin = page.pageMin;
        page.undoMax = page.pageMax;
    }
    const double span = page.pageMax - page.pageMin;
    switch (mode) {
    case 0:
        page.pageMin = page.undoMin;
        page.pageMax = page.undoMax;
        break;
    case 1:
        page.pageMin += span / 4.0;
        page.pageMax -= span / 4.0;
        break;
    case 2:
        page.pageMin -= span / 2.0;
        page.pageMax += span / 2.0;
        break;
    case 3:
        page.pageMin = limits.selectionStart;
        page.pageMax = limits.selectionStop;
        break;
    case 4:
        page.pageMin = limits.cursor;
        page.pageMax = page.pageMin + limits.cursorSpan;
        break;
    default:
        page.pageMin = 0.0;
        page.pageMax = limits.length;
        break;
    }
    const double length = std::max(0.0, limits.length);
    if (mode <= 2) {
        page.pageMin = std::clamp(page.pageMin, 0.0, length);
        page.pageMax = std::clamp(page.pageMax, 0.0, length);
    }
    const double smallest = std::min(length, limits.smallest);
    if (!(page.pageMax - page.pageMin >= smallest)) {
        const double centre = std::isfinite(page.pageMin + page.pageMax)
                                  ? (page.pageMin + page.pageMax) / 2.0
                                  : 0.0;
        page.pageMin = centre - smallest / 2.0;
        page.pageMax = centre + smallest / 2.0;
    }
    if (page.pageMax > length) {
        page.pageMin -= page.pageMax - length;
        page.pageMax = length;
    }
    if (page.pageMin < 0.0) {
        page.pageMax = std::min(length, page.pageMax - page.pageMin);
        page.pageMin = 0.0;
    }
}

void scrollPage(TimePage& page, double start, double length)
{
    const double span = page.pageMax - page.pageMin;
    const double last = std::max(0.0, length - span);
    page.pageMin = std::isfinite(start) ? std::clamp(start, 0.0, last) : 0.0;
    page.pageMax = page.pageMin + span;
}

} // namespace phonaxis
