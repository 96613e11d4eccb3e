#pragma once

#include "display/SpectrumGraph.h"
#include "windows/SpectrumAnalysis.h"

#include <QString>
#include <QWidget>

namespace phonaxis {

// The spectrum window's graph: draws its SpectrumAnalysis with
// drawSpectrumGraph, tells the readouts under the mouse and sets the marker
// on a click. The analysis holds the spectrum per display point, so painting
// at any size (a resize) only draws: nothing is computed again, and the
// samples the spectrum was computed from are never read after the start.
// Main thread only.
class FFTView : public QWidget {
    Q_OBJECT
public:
    explicit FFTView(QWidget* parent = nullptr);

    SpectrumAnalysis& analysis() { return m_analysis; }
    const SpectrumAnalysis& analysis() const { return m_analysis; }
    const SpectrumGraphStyle& style() const { return m_style; }
    void setStyle(const SpectrumGraphStyle& style);

    // The graph rectangle in this view (the view less the label margins).
    Rect graphRect() const;
    // The display index under `x` in the graph, or -1 when `position` is
    // outside the graph (left or right of it, above or below).
    int displayIndexAt(QPointF position) const;

    // The analysis changed (a new start): redraws and tells the readouts
    // and the accessibility tree.
    void analysisChanged();
    // What the graph shows in words, the view's accessible description: the
    // analysis, the formants with their bandwidths, the marker's levels.
    QString spokenSummary() const;

signals:
    // The power and frequency under the mouse; both empty when the mouse is
    // outside the graph or has left the view.
    void readoutChanged(const QString& power, const QString& frequency);
    // A click set or cleared the marker.
    void markerChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    SpectrumAnalysis m_analysis;
    SpectrumGraphStyle m_style;
};

} // namespace phonaxis
