#include "display/MainViewModel.h"

#include "document/MyDocument.h"
#include "model/Channels.h"
#include "model/Functions.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <utility>

namespace phonaxis {

namespace {

std::string formatted(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// `inner` lies entirely inside `outer`, edges included.
bool containsRect(const Rect& outer, const Rect& inner)
{
    return inner.left >= outer.left && inner.right <= outer.right && inner.top >= outer.top &&
           inner.bottom <= outer.bottom;
}

// `point` inside `rect`: top and left edges included, bottom and right not.
bool containsPoint(const Rect& rect, PointD point)
{
    return point.x >= rect.left && point.x < rect.right && point.y >= rect.top &&
           point.y < rect.bottom;
}

Rect shifted(const Rect& rect, double dx, double dy)
{
    return Rect{truncToInt16(rect.top + dy), truncToInt16(rect.left + dx),
                truncToInt16(rect.bottom + dy), truncToInt16(rect.right + dx)};
}

// What a command needs to be enabled; a command needs every flag it names.
enum Need : unsigned {
    kData = 1u << 0,
    kViewSelection = 1u << 1,
    kViewMarker = 1u << 2,
    kDocSelection = 1u << 3,
    kDocMarker = 1u << 4,
    kLogOpen = 1u << 5,
    kEggAssigned = 1u << 6,
    kChannelClicked = 1u << 7,
    kEditUndo = 1u << 8,
    kEditCopy = 1u << 9,
    kNewFile = 1u << 10,
};

struct CommandRule {
    const char* command;
    unsigned needs;
};

constexpr CommandRule kCommandRules[] = {
    {"_FileSaveAsPICT:", kData},
    {"printDocument:", kData},
    {"_EditUndo:", kData | kEditUndo},
    {"_EditCut:", kData | kViewSelection},
    {"_EditCopy:", kData | kViewSelection},
    {"_EditClear:", kData | kViewSelection},
    {"_EditPaste:", kEditCopy},
    {"_EditSelectWindow:", kData},
    {"_EditSelectAll:", kData},
    {"_ZoomUndo:", kData},
    {"_ZoomIn:", kData},
    {"_ZoomOut:", kData},
    {"_ZoomHome:", kData},
    {"_ZoomSelection:", kData | kViewSelection},
    {"_ZoomCursor:", kData | kViewMarker},
    {"_ChannelsSetReferenceAll:", kData | kViewMarker},
    {"_ChannelsSetfor:", kData | kChannelClicked},
    {"_ChannelsSetReferenceAllZero:", kData},
    {"_LabelMode:", kData},
    {"_ScopeMode:", kNewFile},
    {"_Record:", kNewFile},
    {"_Play:", kData},
    {"_PlayWindow:", kData},
    {"_PlaySelection:", kData | kViewSelection},
    {"_LogMarker:", kLogOpen | kData | kDocMarker},
    {"_LogDuration:", kLogOpen | kData | kDocSelection},
    {"_LogDataSelection:", kLogOpen | kData | kDocSelection},
    {"_LogEntereggatmarker:", kLogOpen | kData | kDocMarker | kEggAssigned},
    {"_LogEntereggselection:", kLogOpen | kData | kDocSelection | kEggAssigned},
    {"_LogEntereggall:", kLogOpen | kData | kEggAssigned},
    {"_AnalysisIntensity:", kData},
    {"_AnalysisSmooth:", kData},
    {"_EGGChannelSelect:", kData},
    {"_AnalysisChannelSelect:", kData},
    {"_EggAnalysisall:", kData | kEggAssigned},
};

} // namespace

std::string formatStatusTime(double ms)
{
    return formatted("%.2f", ms);
}

std::string formatStatusValue(float value)
{
    return formatted("%.3f", static_cast<double>(value));
}

MainViewModel::MainViewModel(MyDocument& document) : m_document(document) {}

bool MainViewModel::hasData() const
{
    return m_document.m_bHaveData && m_document.channelsInUse() > 0;
}

int MainViewModel::channelCount() const
{
    return m_document.channelsInUse();
}

Channels& MainViewModel::channel(int index)
{
    return m_document.getChannel(index);
}

int MainViewModel::anchorChannel() const
{
    int firstShown = -1;
    for (int i = 0; i < channelCount(); ++i) {
        const Channels& c = m_document.getChannel(i);
        if (!c.m_bShow) {
            continue;
        }
        if (c.m_bAnchorChannel) {
            return i;
        }
        firstShown = firstShown < 0 ? i : firstShown;
    }
    return std::max(firstShown, 0);
}

// --- layout -------------------------------------------------------------------

void MainViewModel::SetupDisplay(int clientWidth, int clientHeight)
{
    if (!hasData()) {
        return;
    }
    m_rClient = Rect{0, 0, truncToInt16(clientHeight), truncToInt16(clientWidth)};
    // A strip at least one pixel wide: the time axis divides by its width.
    const std::int16_t left = g_nLeftWindowOffset;
    const std::int16_t right = std::max<std::int16_t>(
        truncToInt16(double(clientWidth) - g_nRightWindowOffset), std::int16_t(left + 1));

    const int count = channelCount();
    if (count == 1) {
        const std::int16_t height =
            std::max<std::int16_t>(truncToInt16(double(clientHeight) - kSingleStripBottomGapPx), 0);
        Channels& only = channel(0);
        only.m_rLocation = Rect{0, left, height, right};
        only.m_nHeigth = height;
        m_nFrameHeigth = height;
    } else {
        // Heights come from files: a negative one takes no space and the sum
        // saturates at the 16-bit coordinate range instead of wrapping.
        double y = 0.0;
        for (int i = 0; i < count; ++i) {
            Channels& c = channel(i);
            const std::int16_t top = truncToInt16(y);
            if (!c.m_bShow) {
                c.m_rLocation = Rect{top, left, top, right};
                continue;
            }
            const double height = std::max(0, c.m_nHeigth);
            c.m_rLocation = Rect{top, left, truncToInt16(y + height), right};
            y = std::min(y + height + g_nDelta, 32767.0);
        }
        m_nFrameHeigth = truncToInt16(y);
    }
    m_nDeltaY = std::clamp(m_nDeltaY, 0, maxDeltaY());

    for (Rect* overlay : {&m_rNewCursor, &m_rMarker, &m_rSelection}) {
        overlay->top = 0;
        overlay->bottom = truncToInt16(m_nFrameHeigth);
    }
    readPageTimes();
    m_bViewIntilized = true;
    m_bRedraw = true;
}

void MainViewModel::DeleteDisplay()
{
    m_bViewIntilized = false;
    m_bRedraw = true;
}

void MainViewModel::readPageTimes()
{
    if (hasData()) {
        channel(anchorChannel()).GetPageMinMaxTimes(m_dTimePageMin, m_dTimePageMax);
        placeOverlays();
        followMouse();
    }
}

MainViewModel::CursorMapping MainViewModel::currentMapping() const
{
    const Rect& strip = m_document.getChannel(anchorChannel()).m_rLocation;
    return CursorMapping{m_dTimePageMin, m_dTimePageMax, strip.left, strip.right};
}

Rect MainViewModel::hiddenColumn() const
{
    return Rect{0, -1, truncToInt16(m_nFrameHeigth), -1};
}

void MainViewModel::noteMouse(double x, double y)
{
    m_mousePoint = PointD{x, y};
    m_cursorMapping = currentMapping();
}

void MainViewModel::followMouse()
{
    const CursorMapping mapping = currentMapping();
    if (mapping == m_cursorMapping) {
        return;
    }
    m_cursorMapping = mapping;
    // The column stands for the time under the mouse; after the mapping
    // moved, its old pixel shows some other time than the status.
    if (!m_mousePoint || m_bPlaying || m_bRecording) {
        m_rNewCursor = hiddenColumn();
        return;
    }
    m_rNewCursor = columnAt(m_mousePoint->x);
    setCursors(m_mousePoint->x, m_mousePoint->y, true);
    m_cursorStatus = StatusReport{m_dCursorTime, std::nullopt, cursorValues()};
}

void MainViewModel::beginPlayAnimation(int code, double startMs)
{
    m_nPlayCode = code;
    _dAnimatenanoSeconds = 0.0;
    m_dPlayStartMs = startMs;
}

std::optional<int> MainViewModel::playCursorX(int viewWidth)
{
    if (!m_bPlaying || !hasData() || _dAnimatenanoSeconds < 0.0) {
        return std::nullopt;
    }
    // The cursor is at the time being heard, wherever the page is: for the
    // whole channel that is the elapsed time itself, not the elapsed time
    // counted from the page's start.
    const double timeMs = m_dPlayStartMs + _dAnimatenanoSeconds * 1.0e-6;
    const double pixel = channel(0).GetCursorPixelforTime(timeMs);
    if (!std::isfinite(pixel)) {
        return std::nullopt;
    }
    const double x = g_nLeftWindowOffset + std::round(pixel);
    if (x < g_nLeftWindowOffset || x >= viewWidth) {
        return std::nullopt;
    }
    return static_cast<int>(x);
}

double MainViewModel::viewXForTime(double timeMs)
{
    const double pixel = channel(anchorChannel()).GetCursorPixelforTime(timeMs);
    return g_nLeftWindowOffset + (std::isfinite(pixel) ? std::round(pixel) : 0.0);
}

void MainViewModel::placeOverlays()
{
    // The channels hold the marker and the selection, so after the page or
    // the layout changes the columns are placed again from them.
    const Rect hidden = hiddenColumn();
    const Channels& anchor = channel(anchorChannel());
    const double markerMs = anchor.m_dMarkerTime;
    m_rMarker = markerMs >= m_dTimePageMin && markerMs <= m_dTimePageMax
                    ? columnAt(viewXForTime(markerMs))
                    : hidden;
    const double startMs = std::max(anchor.m_dDurationStartTime, m_dTimePageMin);
    const double stopMs = std::min(anchor.m_dDurationStopTime, m_dTimePageMax);
    m_rSelection = hidden;
    if (stopMs >= startMs) {
        m_rSelection.left = truncToInt16(viewXForTime(startMs));
        m_rSelection.right = truncToInt16(viewXForTime(stopMs));
    }
}

// --- page and zoom --------------------------------------------------------------

void MainViewModel::CalibrateScroll(int mode)
{
    if (!hasData() || mode < 0 || mode > 5) {
        return;
    }
    const double zoomRangeMs = m_document.m_dZoomRange;
    for (int i = 0; i < channelCount(); ++i) {
        Channels& c = channel(i);
        const double length = c.m_dwFileLength;
        double lo = c.m_dPageMin;
        double hi = c.m_dPageMax;
        bool clamp = true;
        if (mode == 0) {
            lo = c.m_dMinUnZoom;
            hi = c.m_dMaxUnZoom;
        } else {
            c.m_dMinUnZoom = lo;
            c.m_dMaxUnZoom = hi;
        }
        const double width = hi - lo;
        switch (mode) {
        case 1:
            if (width > 100.0) {
                lo += width / 4.0;
                hi -= width / 4.0;
            }
            break;
        case 2: {
            const double step = width == 0.0 ? 50.0 : width / 2.0;
            lo -= step;
            hi += step;
            break;
        }
        case 3:
            lo = c.m_dDurationStartFile;
            hi = c.m_dDurationStopFile;
            clamp = false;
            break;
        case 4:
            lo = c.m_dMarkerFileValue;
            hi = lo + c.m_dSampleRate * zoomRangeMs / 1000.0;
            clamp = false;
            break;
        case 5:
            lo = 0.0;
            hi = length;
            clamp = false;
            break;
        default:
            break;
        }
        if (clamp) {
            lo = std::max(lo, 0.0);
            hi = std::min(hi, length);
        }
        // Every pixel and time conversion divides by the page width: a page
        // that would be empty (a zero-width selection, a zoom range of 0, a
        // page wholly past the end) leaves the channel's page as it was.
        if (!(hi > lo)) {
            continue;
        }
        c.m_dPageMin = lo;
        c.m_dPageMax = hi;
        c.m_dPageSize = hi - lo;
    }
    followAnchorPage();
}

void MainViewModel::DoZoomJumpLabel(double timeMs)
{
    if (!hasData()) {
        return;
    }
    for (int i = 0; i < channelCount(); ++i) {
        Channels& c = channel(i);
        c.m_dMinUnZoom = c.m_dPageMin;
        c.m_dMaxUnZoom = c.m_dPageMax;
        const double centre = timeMs * c.m_dwFileLength / c.m_dLengthMS;
        const double half = c.m_dSampleRate * m_document.m_dZoomRange / 1000.0 / 2.0;
        const double lo = std::max(centre - half, 0.0);
        const double hi = std::min(centre + half, c.m_dwFileLength);
        if (!(hi > lo)) {
            continue;
        }
        c.m_dPageMin = lo;
        c.m_dPageMax = hi;
        c.m_dPageSize = hi - lo;
    }
    followAnchorPage();
}

void MainViewModel::followAnchorPage()
{
    const Channels& anchor = channel(anchorChannel());
    const double length = anchor.m_dwFileLength;
    if (length > 0.0) {
        // The knob's position is the page's place in the scrollable range
        // (the recording less one page), as AdjustScrollControl reads it:
        // the next redraw then shows the page this zoom set.
        const double width = anchor.m_dPageMax - anchor.m_dPageMin;
        _dKnobProportion = width / length;
        _dKnobPosition = _dKnobProportion < 1.0
                             ? std::clamp(anchor.m_dPageMin / (length - width), 0.0, 1.0)
                             : 0.0;
    } else {
        _dKnobProportion = 1.0;
        _dKnobPosition = 0.0;
    }
    readPageTimes();
    m_bZoomed = _dKnobProportion != 1.0;
    m_bRedraw = true;
}

void MainViewModel::AdjustScrollControl(double position, double proportion)
{
    if (!hasData()) {
        return;
    }
    // A scroller reports 0..1 for both; anything else (or no proportion at
    // all, which would make an empty page) is brought into that range.
    position = std::isfinite(position) ? std::clamp(position, 0.0, 1.0) : 0.0;
    proportion = proportion > 0.0 ? std::min(proportion, 1.0) : 1.0;
    _dKnobPosition = position;
    _dKnobProportion = proportion;
    for (int i = 0; i < channelCount(); ++i) {
        Channels& c = channel(i);
        const double length = c.m_dwFileLength;
        const double visible = proportion * length;
        c.m_dPageMin = std::max(0.0, (length - visible) * position);
        c.m_dPageMax = std::min(c.m_dPageMin + visible, length);
        c.m_dPageSize = c.m_dPageMax - c.m_dPageMin;
        double start = 0.0;
        double end = 0.0;
        c.GetPageMinMaxTimes(start, end);
    }
    readPageTimes();
}

double MainViewModel::documentWidth(double visibleWidth) const
{
    return _dKnobProportion > 0.0 ? visibleWidth / _dKnobProportion : visibleWidth;
}

double MainViewModel::scrollOffset(double visibleWidth) const
{
    if (!hasData()) {
        return 0.0;
    }
    const Channels& anchor = m_document.getChannel(anchorChannel());
    if (!(anchor.m_dwFileLength > 0.0)) {
        return 0.0;
    }
    return anchor.m_dPageMin / anchor.m_dwFileLength * documentWidth(visibleWidth);
}

int MainViewModel::maxDeltaY() const
{
    return std::max(0, m_nFrameHeigth - int(m_rClient.bottom));
}

void MainViewModel::SetDeltaY(int offsetPx)
{
    const int offset = std::clamp(offsetPx, 0, maxDeltaY());
    if (offset != m_nDeltaY) {
        m_nDeltaY = offset;
        m_bRedraw = true;
    }
}

double MainViewModel::scrollWheel(double delta, double visibleWidth)
{
    if (!hasData()) {
        return 0.0;
    }
    const double range = documentWidth(visibleWidth) - visibleWidth;
    double position = 0.0;
    if (range > 0.0) {
        const double offset = scrollOffset(visibleWidth) - kWheelStepPx * delta;
        position = std::clamp(offset, 0.0, range) / range;
    }
    AdjustScrollControl(position, _dKnobProportion);
    m_bRedraw = true;
    return position;
}

// --- mouse ----------------------------------------------------------------------

Rect MainViewModel::columnAt(double x) const
{
    return Rect{0, truncToInt16(x), truncToInt16(m_nFrameHeigth), truncToInt16(x + 1.0)};
}

double MainViewModel::viewX(double x, bool bMouse)
{
    return bMouse ? x : viewXForTime(x);
}

void MainViewModel::setCursors(double x, double y, bool bMouse)
{
    for (int i = 0; i < channelCount(); ++i) {
        Channels& c = channel(i);
        if (bMouse) {
            c.SetCursorInFile_Point(PointD{x - g_nLeftWindowOffset, y});
        } else {
            c.SetCursorInFile_Time(x);
        }
    }
    m_dCursorTime = channel(anchorChannel()).m_dCursorTime;
}

void MainViewModel::setMarkers(double x, double y, bool bMouse, bool cursorToo)
{
    for (int i = 0; i < channelCount(); ++i) {
        Channels& c = channel(i);
        if (bMouse) {
            c.SetMarkerValues_Point(PointD{x - g_nLeftWindowOffset, y});
        } else {
            c.SetMarkerValues_Time(x);
        }
    }
    if (cursorToo) {
        setCursors(x, y, bMouse);
    }
    for (int i = 0; i < channelCount(); ++i) {
        channel(i).CalculateDuration();
    }
}

int MainViewModel::channelAt(PointD point) const
{
    for (int i = 0; i < channelCount(); ++i) {
        const Channels& c = m_document.getChannel(i);
        if (c.m_bShow && containsPoint(c.m_rLocation, point)) {
            return i;
        }
    }
    return -1;
}

void MainViewModel::clearLabelClick()
{
    if (m_bLabelClicked && m_ClickedLabel.channel >= 0 && m_ClickedLabel.channel < channelCount()) {
        std::vector<Labels>& labels = channel(m_ClickedLabel.channel).m_pArrayLabels;
        if (m_ClickedLabel.index >= 0 && std::size_t(m_ClickedLabel.index) < labels.size()) {
            // An abandoned drag must not leave the label drawn displaced.
            PointD& shift = labels[std::size_t(m_ClickedLabel.index)]._deltaShift;
            if (shift.x != 0.0 || shift.y != 0.0) {
                shift = PointD{};
                m_bRedraw = true;
            }
        }
    }
    m_bLabelClicked = false;
    m_bLabelMoved = false;
    m_ClickedLabel = ClickedLabel{};
}

void MainViewModel::hitTestLabels(PointD point)
{
    for (int i = 0; i < channelCount(); ++i) {
        Channels& c = channel(i);
        if (!c.m_bShow || c.m_pArrayLabels.empty()) {
            continue;
        }
        const int hit = c.labelAtPointOnPage(point, m_dTimePageMin, m_dTimePageMax,
                                             g_nLeftWindowOffset);
        if (hit >= 0) {
            m_ClickedLabel = ClickedLabel{i, hit};
            m_bLabelClicked = true;
        }
    }
    if (m_bLabelClicked) {
        m_rectTracking = channel(m_ClickedLabel.channel)
                             .m_pArrayLabels[std::size_t(m_ClickedLabel.index)]
                             .rectLocation;
        m_rectLabelStart = m_rectTracking;
    }
}

MouseResult MainViewModel::DoOnLButtonDown(double x, double y, bool bMouse)
{
    MouseResult result;
    // A recording fills a document that has no data yet: the press that
    // stops it comes before any.
    if (m_bRecording) {
        result.stopRecording = true;
        return result;
    }
    if (!hasData()) {
        return result;
    }
    result.stopPlaying = m_bPlaying;

    clearLabelClick();
    const double vx = viewX(x, bMouse);
    m_rOldSelection = Rect{};
    m_rSelection = columnAt(vx);
    m_rSelection.right = m_rSelection.left;
    m_rMarker = columnAt(vx);
    m_ptTrackStart = PointD{vx, y};

    // Every press sets the marker, one that ends a selection too: the
    // marker drawn is the marker the commands use.
    m_bHaveMarker = true;
    m_bHaveSelection = false;
    m_document.m_bHaveSelection = false;

    if (bMouse) {
        m_nChannelCliked = channelAt(PointD{x, y});
    }
    setMarkers(x, y, bMouse, false);
    if (bMouse && m_bLabelMode) {
        hitTestLabels(PointD{x, y});
    }
    // The marker and the selection are overlays: the rendered channels stay.
    result.status = StatusReport{std::nullopt, 0.0, std::nullopt};
    result.redraw = true;
    return result;
}

MouseResult MainViewModel::TrackMouseDragged(double x, double y, bool bMouse)
{
    MouseResult result;
    if (!hasData() || (bMouse && x < g_nLeftWindowOffset)) {
        return result;
    }
    if (!m_bLabelMode) {
        const double vx = viewX(x, bMouse);
        setCursors(x, y, bMouse);
        for (int i = 0; i < channelCount(); ++i) {
            channel(i).CalculateDuration();
        }
        m_rNewCursor = columnAt(vx);
        if (bMouse) {
            noteMouse(x, y);
        }
        m_rSelection.left = truncToInt16(std::min(m_ptTrackStart.x, vx));
        m_rSelection.right = truncToInt16(std::max(m_ptTrackStart.x, vx));
        const Channels& anchor = channel(anchorChannel());
        result.status = StatusReport{m_dCursorTime, anchor.m_dDurationTime, cursorValues()};
        m_bHaveSelection = true;
        result.redraw = true;
        return result;
    }
    if (!bMouse || !m_bLabelClicked) {
        return result;
    }
    Channels& owner = channel(m_ClickedLabel.channel);
    if (owner.GetLabel(m_ClickedLabel.index) == nullptr) {
        return result;
    }
    Labels& label = owner.m_pArrayLabels[std::size_t(m_ClickedLabel.index)];
    const double dx = x - m_ptTrackStart.x;
    const double dy = y - m_ptTrackStart.y;
    const Rect moved = shifted(m_rectLabelStart, dx, dy);
    // The label follows the mouse only while it stays inside its strip.
    if (containsRect(owner.m_rLocation, moved)) {
        m_rectTracking = moved;
        label._deltaShift = PointD{dx, dy};
        m_bLabelMoved = true;
        result.redraw = true;
        m_bRedraw = true;
    }
    return result;
}

MouseResult MainViewModel::DoOnLButtonUp(double x, double y, bool bMouse)
{
    MouseResult result;
    if (!hasData()) {
        return result;
    }
    result.redraw = true;

    if (bMouse && m_bLabelMode && m_nChannelCliked != -1) {
        if (m_bLabelClicked && m_bLabelMoved) {
            channel(m_ClickedLabel.channel).MoveLabel(m_ClickedLabel.index, m_rectTracking);
            m_document.setDirty();
            m_bRedraw = true;
            clearLabelClick();
        } else if (m_bLabelClicked) {
            result.labelDialog = LabelDialogRequest{LabelDialogRequest::Kind::ExistingLabel,
                                                    m_ClickedLabel.channel, m_ClickedLabel.index,
                                                    PointD{}};
            m_document.setDirty();
        } else {
            result.labelDialog = LabelDialogRequest{LabelDialogRequest::Kind::NewLabel,
                                                    m_nChannelCliked, -1, PointD{x, y}};
        }
        return result;
    }

    if (m_bHaveSelection) {
        m_bHaveMarker = false;
        m_document.m_bHaveSelection = true;
        m_document.m_bHaveMarker = false;
        m_nChannelCliked = -1;
        return result;
    }
    // The release places the marker: the channels' marker, cursor and empty
    // selection agree with where the user let go.
    const double vx = viewX(x, bMouse);
    setMarkers(x, y, bMouse, true);
    m_rMarker = columnAt(vx);
    m_rNewCursor = columnAt(vx);
    if (bMouse) {
        noteMouse(x, y);
    }
    m_document.m_bHaveSelection = false;
    m_document.m_bHaveMarker = m_bHaveMarker;
    return result;
}

MouseResult MainViewModel::TrackMouseMove(double x, double y, bool bMouse)
{
    MouseResult result;
    if (!hasData() || m_bPlaying || m_bRecording) {
        return result;
    }
    m_rNewCursor = columnAt(viewX(x, bMouse));
    if (bMouse) {
        noteMouse(x, y);
    }
    setCursors(x, y, bMouse);
    result.status = StatusReport{m_dCursorTime, std::nullopt, cursorValues()};
    result.redraw = true; // the cursor column only: the rendered channels stay
    return result;
}

void MainViewModel::MouseExited()
{
    m_mousePoint.reset();
    m_rNewCursor = hiddenColumn();
}

std::optional<StatusReport> MainViewModel::takeCursorStatus()
{
    return std::exchange(m_cursorStatus, std::nullopt);
}

std::vector<ChannelValue> MainViewModel::cursorValues()
{
    std::vector<ChannelValue> values;
    if (!hasData()) {
        return values;
    }
    for (int i = 0; i < channelCount(); ++i) {
        Channels& c = channel(i);
        if (c.m_bShow) {
            values.push_back(ChannelValue{i, c.calibratedValueAt(m_dCursorTime)});
        }
    }
    return values;
}

// --- labels ---------------------------------------------------------------------

void MainViewModel::LabelMode()
{
    m_bLabelMode = !m_bLabelMode;
    clearLabelClick();
    m_bRedraw = true;
}

bool MainViewModel::AddLabel(const LabelTransfer& record, PointD point)
{
    if (m_nChannelCliked < 0 || m_nChannelCliked >= channelCount()) {
        return false;
    }
    channel(m_nChannelCliked).Add_Label_Cocoa_Where(record, point, g_nLeftWindowOffset);
    clearLabelClick();
    m_document.setDirty();
    m_bRedraw = true;
    return true;
}

bool MainViewModel::ModifyLabel(const Labels& label)
{
    if (!m_bLabelClicked || channel(m_ClickedLabel.channel).GetLabel(m_ClickedLabel.index) == nullptr) {
        return false;
    }
    channel(m_ClickedLabel.channel).Modify_Labels(m_ClickedLabel.index, label);
    clearLabelClick();
    m_bRedraw = true;
    return true;
}

bool MainViewModel::RemoveLabel()
{
    if (!m_bLabelClicked || channel(m_ClickedLabel.channel).RemoveLabel(m_ClickedLabel.index) < 0) {
        return false;
    }
    // The label is gone: forget it without touching the list again.
    m_bLabelClicked = false;
    clearLabelClick();
    m_document.setDirty();
    m_bRedraw = true;
    return true;
}

const Labels* MainViewModel::clickedLabel() const
{
    if (!m_bLabelMode || !m_bLabelClicked || m_ClickedLabel.channel < 0 ||
        m_ClickedLabel.channel >= channelCount()) {
        return nullptr;
    }
    return m_document.getChannel(m_ClickedLabel.channel).GetLabel(m_ClickedLabel.index);
}

// --- commands -------------------------------------------------------------------

bool MainViewModel::validateMenuItem(const std::string& command, const MenuContext& context) const
{
    const int egg = m_document.m_nEGGChannelIndex;
    unsigned have = 0;
    const auto grant = [&have](bool condition, unsigned flag) {
        if (condition) {
            have |= flag;
        }
    };
    grant(m_document.m_bHaveData, kData);
    grant(m_bHaveSelection, kViewSelection);
    grant(m_bHaveMarker, kViewMarker);
    grant(m_document.m_bHaveSelection, kDocSelection);
    grant(m_document.m_bHaveMarker, kDocMarker);
    grant(context.logWindowVisible, kLogOpen);
    // An index read from a file may name no channel in use: that is no EGG channel.
    grant(egg >= 0 && egg < m_document.channelsInUse(), kEggAssigned);
    grant(m_nChannelCliked >= 0 && m_nChannelCliked < m_document.channelsInUse(), kChannelClicked);
    grant(m_bEditUndo, kEditUndo);
    grant(context.editCopy, kEditCopy);
    grant(m_document.m_bNewFile, kNewFile);

    for (const CommandRule& rule : kCommandRules) {
        if (command == rule.command) {
            return (have & rule.needs) == rule.needs;
        }
    }
    return true;
}

int MainViewModel::analysisChannel() const
{
    const int count = m_document.channelsInUse();
    return m_nAnalysisChannel >= 0 && m_nAnalysisChannel < count ? m_nAnalysisChannel
                                                                  : m_document.audioChannelIndex();
}

std::string MainViewModel::menuTitle(const std::string& command) const
{
    const int count = m_document.channelsInUse();
    if (command == "_LabelMode:") {
        return m_bLabelMode ? "Disable Label Mode" : "Enable Label Mode";
    }
    if (command == "_EGGChannelSelect:") {
        const int egg = m_document.m_nEGGChannelIndex;
        return "Assign channel for EGG: " +
               (egg >= 0 && egg < count ? m_document.getChannel(egg).GetTitle()
                                        : std::string("None"));
    }
    if (command == "_AnalysisChannelSelect:") {
        const int chosen = analysisChannel();
        return "Channel to Analyse: " +
               (chosen >= 0 ? m_document.getChannel(chosen).GetTitle() : std::string("None"));
    }
    if (command == "_ChannelsSetfor:") {
        return "Set Reference only for: " +
               (m_nChannelCliked >= 0 && m_nChannelCliked < count
                    ? m_document.getChannel(m_nChannelCliked).GetTitle()
                    : std::string("none selected"));
    }
    return {};
}

} // namespace phonaxis
