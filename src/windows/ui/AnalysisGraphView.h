#pragma once

#include <QColor>
#include <QWidget>

namespace phonaxis {

// What the pitch and spectrogram graphs share: a drag that the mouse
// button's release ends, and readouts that go when the mouse leaves the
// graph (not during a drag, which may run past its edges). Main thread only.
class AnalysisGraphView : public QWidget {
    Q_OBJECT
public:
    // A graph no smaller than `minimumSizePx`, named `accessibleName` for
    // screen readers, that follows the mouse without a button pressed.
    AnalysisGraphView(QWidget* parent, QSize minimumSizePx, const QString& accessibleName);

protected:
    // The selection's shade and the marker's colour over the graph.
    static QColor selectionShade() { return {0x33, 0x66, 0xCC, 0x48}; }
    static QColor markerColor() { return {0xFF, 0, 0, 0xCC}; }

    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    // The mouse left the graph: clear the readouts.
    virtual void readoutLeft() = 0;
    // What the graph shows in words, for screen readers.
    virtual QString spokenSummary() const = 0;
    // Keeps the accessible description the graph's spokenSummary (told to
    // the accessibility tree only when it changed).
    void describe();
    // What the graph shows was replaced: any drag ends, the description
    // and the picture follow.
    void contentsReplaced();

    bool m_bDragging = false;
};

} // namespace phonaxis
