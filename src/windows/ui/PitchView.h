#pragma once

#include "display/GraphAxes.h"
#include "display/PitchGraph.h"

#include "windows/ui/AnalysisGraphView.h"

#include <cstddef>
#include <functional>
#include <optional>

namespace phonaxis {

class MyDocument;
struct PitchTrack;

// What the pitch window's readouts show: the time under the mouse (or of
// the marker just placed), the track's pitch there and the level there in
// dBFS (0, and not shown, when the intensity pane is hidden).
struct PitchReadout {
    double timeMs = 0.0;
    double pitchHz = 0.0;
    double intensityDb = 0.0;
};

// The pitch window's graph: draws a track (PitchGraph) with the marker and
// the selection over it, and turns the mouse into the analysis' marker
// (press), selection (drag) and readouts (hover). Presses outside the graph
// do nothing; a drag is held to the page; hovering outside the graph
// clears the readouts. Main thread only; the track and the document are
// not owned and must outlive the view or be taken away first.
class PitchView : public AnalysisGraphView {
    Q_OBJECT
public:
    explicit PitchView(QWidget* parent = nullptr);

    // The track shown (null: none, the graph is empty) and the document
    // whose settings and labels it is drawn with.
    void setTrack(PitchTrack* track, const MyDocument* document);
    PitchTrack* track() const { return m_track; }

    // The graph of the current track and page as pictures draw it; empty
    // without a track.
    std::optional<PitchGraphInput> graphInput() const;
    // The panes in the view's current size.
    PitchGraphLayout layout() const;

    // The caption line of the graph over a page [fromMs, toMs] (empty: the
    // analysis alone).
    std::function<GraphCaption(double fromMs, double toMs)> captionOf;

    // Readouts changed (nullopt: the mouse left the graph).
    std::function<void(const std::optional<PitchReadout>&)> onReadout;
    // The marker or selection changed.
    std::function<void()> onSelectionChanged;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void readoutLeft() override;
    QString spokenSummary() const override;

private:
    // The intensity at a time as the log entries read it.
    double intensityAt(double timeMs) const;
    PitchReadout readoutAt(double timeMs) const;

    PitchTrack* m_track = nullptr;
    const MyDocument* m_document = nullptr;
    // The voiced frames of the page last described (spokenSummary).
    struct PageVoicing {
        const PitchTrack* track = nullptr;
        double fromMs = 0.0;
        double toMs = 0.0;
        std::size_t frames = 0;
        double lowestHz = 0.0;
        double highestHz = 0.0;
        double medianHz = 0.0;
    };
    mutable PageVoicing m_pageVoicing;
};

} // namespace phonaxis
