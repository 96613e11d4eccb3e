#pragma once

#include <QImage>
#include <QWidget>

#include <functional>
#include <memory>

namespace phonaxis {

class MainViewModel;
class MainViewSummaries;
struct LabelDialogRequest;
struct StatusReport;
struct MouseResult;

// The widget of a document's main view. It forwards mouse, wheel and resize
// events to its MainViewModel, paints the channels as the renderer draws
// them (cached in an image until the page, the layout or the data change)
// and over them the marker bar, the selection tint and the red cursor
// column. The cursor column is shown only while the mouse is over the view;
// a zoom or scroll under a resting mouse moves the cursor to the time now
// under it and tells the status window. Strips taller than the widget are shown from the model's
// vertical offset m_nDeltaY down; mouse y is a frame y less that offset.
//
// What the model asks of the window around it (the status read-out, the
// label dialog, fresh command states) goes out through the callbacks.
// In label mode the label last clicked is outlined, and the Delete (or
// Backspace) key deletes it. Main thread only.
class MainViewPane : public QWidget {
    Q_OBJECT
public:
    explicit MainViewPane(QWidget* parent = nullptr);
    ~MainViewPane() override;

    // The model to show; not owned, must outlive its use here (null: none).
    void setModel(MainViewModel* model);
    MainViewModel* model() const { return m_model; }

    // The document's samples changed (load, edit, undo): summaries are
    // rebuilt, the strips laid out again and the view redrawn.
    void documentChanged();
    // The channels' min/max summaries, current with the samples since the
    // last documentChanged().
    const MainViewSummaries& summaries() const { return *m_summaries; }
    // Lays the strips out again and redraws (RedoDisplay).
    void RedoDisplay();
    // Renders the channels again at the next paint.
    void redraw();

    // Shows the frame from `offsetPx` down (clamped to what the strips
    // allow); the channels are rendered again.
    void setVerticalOffset(int offsetPx);

    // The channels as last rendered (white where there is no data).
    const QImage& renderedImage() const { return m_image; }

    std::function<void(const StatusReport&)> onStatus;
    std::function<void(const LabelDialogRequest&)> onLabelDialog;
    // The view's selection, marker, zoom or clicked channel may have changed.
    std::function<void()> onStateChanged;
    // The page moved through the model (zoom, wheel): the scroller follows.
    std::function<void()> onPageChanged;
    // The strips were laid out again (frame height or client size changed):
    // the vertical scroller follows. Set by the MainViewScroller holding
    // this pane.
    std::function<void()> onFrameChanged;
    // A press while recording or while sound plays: the window stops it.
    std::function<void()> onStopRecording;
    std::function<void()> onStopPlaying;

    // The smallest and largest sample of the newest recorded block, drawn
    // as the level bar while the model is recording.
    void setRecordingLevel(float minimum, float maximum);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    // Lays out the strips when the model is not set up for this size.
    void ensureLayout();
    // Renders the channels into m_image when the model asks for a redraw.
    void ensureRendered();
    void deliver(const MouseResult& result);
    // Tells the status window what the cursor shows after the page moved
    // under a resting mouse.
    void deliverCursorStatus();
    // The frame y of a widget y.
    double frameY(double widgetY) const;
    // While recording: the elapsed time and the moving level bar.
    void paintRecording(QPainter& painter);

    MainViewModel* m_model = nullptr; // not owned
    std::unique_ptr<MainViewSummaries> m_summaries;
    QImage m_image;
    QSize m_laidOutSize;
    bool m_buttonDown = false;
    float m_levelMin = 0.0f;
    float m_levelMax = 0.0f;
    int m_levelX = 1; // the level bar's left edge; moves 2 pixels each redraw
};

} // namespace phonaxis
