#pragma once

// The main view's state without widgets: strip layout, page and zoom, the
// scroller knob, mouse handling for cursor, marker, selection and labels,
// the status read-out and the enabling rules of the view's commands.
// It includes no Qt so that it can move into the core; the widget
// (MainViewPane) forwards its events here and draws what this says.

#include "display/MainViewLayout.h"
#include "model/Geometry.h"
#include "model/Labels.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace phonaxis {

class Channels;
class MyDocument;

// The label the user pressed on in label mode: a channel and the label's
// index in that channel's list; -1 for none.
struct ClickedLabel {
    int channel = -1;
    int index = -1;
};

// What the widget must do about the label dialog after a release.
struct LabelDialogRequest {
    enum class Kind { None, ExistingLabel, NewLabel };
    Kind kind = Kind::None;
    int channel = -1;   // the clicked channel
    int labelIndex = -1; // ExistingLabel: the label to load into the dialog
    PointD point;       // NewLabel: where the label goes (view coordinates)
};

// One row of the status read-out: the calibrated value at the cursor of a
// shown channel.
struct ChannelValue {
    int channel = 0;
    float value = 0.0f;
};

// What the status window is told after a mouse event; a field left empty is
// not changed there.
struct StatusReport {
    std::optional<double> cursorTimeMs;
    std::optional<double> durationMs;
    std::optional<std::vector<ChannelValue>> values;
};

// The outcome of one mouse event.
struct MouseResult {
    bool redraw = false;        // the view must be redrawn
    bool stopRecording = false; // a press while recording: stop it, nothing else happens
    bool stopPlaying = false;   // a press while playing: stop the playback
    LabelDialogRequest labelDialog;
    std::optional<StatusReport> status;
};

// What enabling depends on besides the document and the view.
struct MenuContext {
    bool logWindowVisible = false; // the measurement-log window is shown
    bool editCopy = false;         // the application-wide copy flag (something to paste)
};

// The status window's formats: times and durations "%.2f", values "%.3f".
std::string formatStatusTime(double ms);
std::string formatStatusValue(float value);

// The page, layout and mouse model of one document's main view.
//
// Coordinates: view points have y downward from the top of the first strip
// (the strips' m_rLocation coordinates) and x from the view's left edge;
// channel points are x − g_nLeftWindowOffset. Page fields are in samples,
// times in ms. Main thread only; the document must outlive the model.
class MainViewModel {
public:
    // Layout constants in pixels.
    // Height kept free below the strip of a single-channel document.
    static constexpr int kSingleStripBottomGapPx = 30;
    // Pixels scrolled per unit of wheel delta.
    static constexpr double kWheelStepPx = 100.0;

    explicit MainViewModel(MyDocument& document);
    MainViewModel(const MainViewModel&) = delete;
    MainViewModel& operator=(const MainViewModel&) = delete;

    MyDocument& document() { return m_document; }

    // --- layout ---------------------------------------------------------------

    // Lays the shown channels out as strips in a client area of the given
    // size: one channel fills the height less 30 pixels; several are stacked
    // with g_nDelta between them at their own m_nHeigth. A hidden channel
    // keeps the common width with no height, so its time axis stays the
    // others'. Sets m_nFrameHeigth, the overlay rectangles and the page
    // times. Nothing happens for a document without data.
    void SetupDisplay(int clientWidth, int clientHeight);
    // Marks the view uninitialised: the next SetupDisplay lays it out again.
    void DeleteDisplay();

    // Index of the anchor channel, as the renderer picks it: the first shown
    // channel with m_bAnchorChannel, else the first shown channel, else 0.
    int anchorChannel() const;

    // --- page and zoom ----------------------------------------------------------

    // Mode 0 undo, 1 in, 2 out, 3 selection, 4 at the marker over the zoom
    // range, 5 home; applied to every channel in use, then the knob, page
    // times and m_bZoomed follow the anchor channel. Every mode but 0 first
    // saves the page for undo; modes 0-2 keep the page inside the channel,
    // 3-5 do not. A channel whose new page would be empty keeps its page.
    // Other modes do nothing.
    void CalibrateScroll(int mode);
    void ZoomUndo() { CalibrateScroll(0); }
    void ZoomIn() { CalibrateScroll(1); }
    void ZoomOut() { CalibrateScroll(2); }
    void ZoomSelection() { CalibrateScroll(3); }
    void ZoomCursor() { CalibrateScroll(4); }
    void ZoomHome() { CalibrateScroll(5); }
    // Centres a page of the zoom range on `timeMs` (jump to a label).
    void DoZoomJumpLabel(double timeMs);

    // Sets every channel's page from the scroller: `position` is the knob's
    // place in the scrollable range (0..1), `proportion` the visible part of
    // the recording (0..1].
    void AdjustScrollControl(double position, double proportion);

    // The scroll geometry the widget shows after a zoom: the document view is
    // visibleWidth / proportion wide and scrolled to position × the part of
    // that width beyond the visible width.
    double documentWidth(double visibleWidth) const;
    double scrollOffset(double visibleWidth) const;

    // Scrolls by kWheelStepPx × `delta` pixels of a view `visibleWidth` wide
    // (a positive delta moves toward the start) and applies the new page.
    // Returns the knob position in the scrollable range (0..1).
    double scrollWheel(double delta, double visibleWidth);

    // --- vertical scrolling ------------------------------------------------------
    // When the strips are taller than the client area, the view shows the
    // frame from m_nDeltaY down; the widget adds m_nDeltaY to its mouse y.

    // The largest vertical offset: frame height less client height, or 0.
    int maxDeltaY() const;
    // Sets m_nDeltaY, brought into 0..maxDeltaY(); a change redraws.
    void SetDeltaY(int offsetPx);

    // --- mouse ----------------------------------------------------------------
    // With `bMouse` set, (x, y) is a view point; with it clear, x is a time in
    // ms set by another window and y is unused (no channel or label is hit).

    MouseResult DoOnLButtonDown(double x, double y, bool bMouse = true);
    MouseResult TrackMouseDragged(double x, double y, bool bMouse = true);
    MouseResult DoOnLButtonUp(double x, double y, bool bMouse = true);
    MouseResult TrackMouseMove(double x, double y, bool bMouse = true);

    // The calibrated value at m_dCursorTime of every shown channel.
    std::vector<ChannelValue> cursorValues();

    // The mouse left the view: the cursor column is hidden until the mouse
    // moves over the view again.
    void MouseExited();
    // The status the window must show because the page or the layout moved
    // under a resting mouse (a zoom or scroll with the mouse over the view):
    // the cursor then follows the mouse to the time now under it, so that
    // the cursor column and the status agree. Empty when nothing is owed;
    // taking it clears it.
    std::optional<StatusReport> takeCursorStatus();

    // --- labels ---------------------------------------------------------------

    // Toggles label mode and forgets a clicked label.
    void LabelMode();
    // Adds a label made from `record` to the clicked channel at `point` (the
    // point a NewLabel request named). False when no channel is clicked.
    bool AddLabel(const LabelTransfer& record, PointD point);
    // Puts `label` back in place of the clicked label. False without one.
    bool ModifyLabel(const Labels& label);
    // Deletes the clicked label. False without one.
    bool RemoveLabel();
    // Forgets the label last clicked (after an edit renumbered the labels).
    void forgetClickedLabel() { clearLabelClick(); }
    // In label mode, the label last clicked (which RemoveLabel removes);
    // null when there is none.
    const Labels* clickedLabel() const;

    // --- commands -------------------------------------------------------------

    // Whether the view's command `command` (as named in the menus, e.g.
    // "_ZoomIn:") is enabled; commands the view does not know are enabled.
    bool validateMenuItem(const std::string& command, const MenuContext& context) const;
    // The current title of "_LabelMode:", "_EGGChannelSelect:",
    // "_AnalysisChannelSelect:" or "_ChannelsSetfor:"; empty for commands
    // whose title never changes.
    std::string menuTitle(const std::string& command) const;

    // The channel the spectrum, spectrogram and pitch commands analyse: the
    // one chosen with "_AnalysisChannelSelect:" while the document has it,
    // else the document's audio channel (-1 when it has none).
    int analysisChannel() const;
    void setAnalysisChannel(int index) { m_nAnalysisChannel = index; }

    // --- sound ----------------------------------------------------------------

    // A play command starts: its code (0 whole channel, 1 selection, 2 page,
    // -1 an analysis window's) and the time of the range's first sample;
    // the elapsed time restarts.
    void beginPlayAnimation(int code, double startMs);
    // Where the play cursor is drawn: channel 0's view x for the time the
    // range started at plus the elapsed time. Nothing while no sound plays
    // or when that x lies outside a view `viewWidth` wide.
    std::optional<int> playCursorX(int viewWidth);

    int m_nPlayCode = 0;                   // of the current or last play
    double _dAnimatenanoSeconds = -1000.0; // elapsed play time, ns
    double m_dPlayStartMs = 0.0;           // channel 0's time of the range start
    double m_dSeconds = 0.0;               // recorded seconds, shown while recording

    // --- state ----------------------------------------------------------------
    Rect m_rClient;             // the client area (top and left 0)
    int m_nFrameHeigth = 0;     // total height of the strips
    int m_nDeltaY = 0;          // frame y at the top of the client area
    bool m_bViewIntilized = false;
    bool m_bRedraw = true;
    bool m_bHaveSelection = false;
    bool m_bHaveMarker = false;
    bool m_bZoomed = false;
    bool m_bLabelMode = false;
    bool m_bLabelClicked = false;
    bool m_bLabelMoved = false;
    bool m_bPlaying = false;    // set by the playback commands
    bool m_bRecording = false;  // set by the recording commands
    bool m_bEditUndo = false;   // set by the editing commands: an edit can be undone
    int m_nChannelCliked = -1;
    int m_nAnalysisChannel = -1; // chosen for the analyses; -1: the audio channel
    double _dKnobPosition = 0.0;
    double _dKnobProportion = 1.0;
    double m_dTimePageMin = 0.0;
    double m_dTimePageMax = 0.0;
    double m_dCursorTime = 0.0;
    // Overlay columns over the frame height; a left edge of -1 is not shown.
    Rect m_rNewCursor{0, -1, 0, -1}; // one pixel wide at the mouse (none before a move
                                     // or once the mouse left the view)
    Rect m_rMarker;             // one pixel wide at the anchor channel's marker
    Rect m_rSelection;          // the anchor channel's selection, clipped to the page
    Rect m_rOldSelection;
    Rect m_rectTracking;        // the clicked label's rectangle while it is dragged
    PointD m_ptTrackStart;      // the press point
    ClickedLabel m_ClickedLabel;

private:
    bool hasData() const;
    int channelCount() const;
    Channels& channel(int index);
    // Every channel's marker (and, with `cursorToo`, file cursor) at the
    // view point (x, y) or, without bMouse, at time x; durations follow.
    void setMarkers(double x, double y, bool bMouse, bool cursorToo);
    // Every channel's file cursor there; m_dCursorTime follows the anchor.
    void setCursors(double x, double y, bool bMouse);
    // The view x of a view point (bMouse) or of a time on the anchor's page.
    double viewX(double x, bool bMouse);
    // Shown channel whose strip contains the view point, or -1.
    int channelAt(PointD point) const;
    // Finds the label under `point` on the current page (later channels win).
    void hitTestLabels(PointD point);
    void clearLabelClick();
    // A one-pixel column at view x over the frame height.
    Rect columnAt(double x) const;
    // Knob and page times from the anchor channel after a page change.
    void followAnchorPage();
    // Page times from the anchor channel; the marker and selection columns
    // follow them.
    void readPageTimes();
    // The marker and selection columns at the anchor channel's marker and
    // selection times on its current page; off the page they are hidden.
    void placeOverlays();
    // The view x of a time on the anchor channel's page (rounded to a pixel).
    double viewXForTime(double timeMs);

    // The page and strip edges that map view x to time for the cursor.
    struct CursorMapping {
        double pageStartMs = 0.0;
        double pageEndMs = 0.0;
        std::int16_t left = 0;
        std::int16_t right = 0;
        friend bool operator==(const CursorMapping&, const CursorMapping&) = default;
    };
    CursorMapping currentMapping() const;
    // The mouse is at the view point (x, y): the cursor column is placed
    // there for the current mapping.
    void noteMouse(double x, double y);
    // After the page times were read: when the mapping changed, the cursor
    // follows a mouse resting over the view (and a status is owed), or the
    // column is hidden when the mouse is elsewhere.
    void followMouse();
    Rect hiddenColumn() const;

    Rect m_rectLabelStart; // the clicked label's rectangle at the press
    std::optional<PointD> m_mousePoint; // over the view; none once it left
    CursorMapping m_cursorMapping;      // the mapping the cursor column was placed for
    std::optional<StatusReport> m_cursorStatus;
    MyDocument& m_document; // not owned
};

} // namespace phonaxis
