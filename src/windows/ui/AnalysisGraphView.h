#pragma once

#include <QWidget>

namespace phonaxis {

// What the pitch and spectrogram graphs share: a drag that the mouse
// button's release ends, and readouts that go when the mouse leaves the
// graph (not during a drag, which may run past its edges). Main thread only.
class AnalysisGraphView : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    // The mouse left the graph: clear the readouts.
    virtual void readoutLeft() = 0;
    // What the graph shows in words, for screen readers.
    virtual QString spokenSummary() const = 0;
    // Keeps the accessible description the graph's spokenSummary (told to
    // the accessibility tree only when it changed).
    void describe();

    bool m_bDragging = false;
};

} // namespace phonaxis
