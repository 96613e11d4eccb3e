#pragma once

#include "display/SpectrogramGraph.h"

#include "windows/ui/AnalysisGraphView.h"

#include <functional>
#include <optional>

namespace phonaxis {

struct SpectrogramMarks;

// The spectrogram window's picture: draws a SpectrogramGraphInput with the
// marker and selection over it, and turns the mouse into marks (press,
// drag) and readouts (hover over the image; none off it). Main thread
// only; the graph and the marks are the window's and must outlive the view
// or be taken away first.
class SpectrogramView : public AnalysisGraphView {
    Q_OBJECT
public:
    explicit SpectrogramView(QWidget* parent = nullptr);

    // What the window's readouts show: the time and frequency under the
    // mouse.
    struct Readout {
        double timeMs = 0.0;
        double frequencyHz = 0.0;
    };

    // The picture shown (null: none, only the progress or a message) and
    // the marks the mouse edits.
    void setGraph(const SpectrogramGraphInput* graph, SpectrogramMarks* marks);
    // A line of text shown while there is no picture.
    void setMessage(const QString& message);
    // The panes in the view's current size (of the settings shown, or of
    // `fallback` while there is no picture).
    SpectrogramGraphLayout layout() const;
    void setFallbackLayout(bool labels, bool audio);

    std::function<void(const std::optional<Readout>&)> onReadout;
    std::function<void()> onMarksChanged;
    std::function<void()> onResized;

protected:
    QString spokenSummary() const override;
    void readoutLeft() override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    const SpectrogramGraphInput* m_graph = nullptr;
    SpectrogramMarks* m_marks = nullptr;
    QString m_message;
    bool m_bFallbackLabels = false;
    bool m_bFallbackAudio = false;
};

} // namespace phonaxis
