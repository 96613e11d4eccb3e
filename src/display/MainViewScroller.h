#pragma once

#include <QWidget>

class QScrollBar;

namespace phonaxis {

class MainViewPane;

// The main view inside a horizontal scroller whose knob stands for the
// position and size of the page within the recording: the knob's
// proportion of the track is the part of the recording on the page, its
// position the page's place in the rest. Moving the knob moves every
// channel's page (AdjustScrollControl); zooms and the wheel move the knob.
// A vertical scroller, shown only while the strips are taller than the
// pane, moves the pane's view of the frame up and down.
class MainViewScroller : public QWidget {
    Q_OBJECT
public:
    // Ticks of the scroll bar over the whole recording.
    static constexpr int kTicks = 100000;

    explicit MainViewScroller(QWidget* parent = nullptr);

    MainViewPane* pane() const { return m_pane; }
    QScrollBar* scroller() const { return m_scroller; }
    QScrollBar* verticalScroller() const { return m_verticalScroller; }

    // Shows the knob at `position` (0..1 of the scrollable range) with
    // `proportion` (0..1] of the track; a factor of 1 puts it at 0.
    void setKnob(double position, double proportion);
    // The visible proportion (setZoomFactor keeps the position).
    void setZoomFactor(double proportion);
    double getZoomFactor() const { return m_proportion; }
    // The knob's position in the scrollable range (0..1).
    double knobPosition() const;

    // Sets the knob from the pane's model (after a zoom or wheel).
    void followModel();
    // Sets the vertical scroller from the pane's model after a layout: its
    // range is the frame height beyond the pane's.
    void followFrame();

private:
    void knobMoved(int value);
    void verticalKnobMoved(int value);

    MainViewPane* m_pane;     // owned by this widget
    QScrollBar* m_scroller;   // owned by this widget
    QScrollBar* m_verticalScroller; // owned by this widget
    double m_proportion = 1.0;
    bool m_updating = false;
};

} // namespace phonaxis
