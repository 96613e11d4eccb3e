#include "windows/ui/PitchView.h"

#include "document/MyDocument.h"
#include "windows/PitchWorker.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <vector>

namespace phonaxis {

PitchView::PitchView(QWidget* parent)
    : AnalysisGraphView(parent, QSize(300, 200), tr("Pitch track"))
{
    setObjectName(QStringLiteral("PitchView"));
}

void PitchView::setTrack(PitchTrack* track, const MyDocument* document)
{
    m_track = track;
    m_document = document;
    m_pageVoicing = PageVoicing{}; // a new track may stand where the old one stood
    contentsReplaced();
}

QString PitchView::spokenSummary() const
{
    if (m_track == nullptr) {
        return tr("No pitch track.");
    }
    const PitchAnalysis& analysis = m_track->analysis;
    const double fromMs = analysis.m_dTimePageMin;
    const double toMs = analysis.m_dTimePageMax;
    // The voiced frames shown: their range and median, counted again only
    // when the track or the page has changed (the description is renewed
    // at every paint).
    if (m_pageVoicing.track != m_track || m_pageVoicing.fromMs != fromMs ||
        m_pageVoicing.toMs != toMs) {
        std::vector<double> voiced;
        for (std::size_t k = 0; k < analysis.m_hdPitchFile.size(); ++k) {
            const double hz = analysis.m_hdPitchFile[k];
            const double t = analysis.frameTime(static_cast<int>(k));
            if (hz > 0.0 && std::isfinite(hz) && t >= fromMs && t <= toMs) {
                voiced.push_back(hz);
            }
        }
        PageVoicing counted{m_track, fromMs, toMs, voiced.size(), 0.0, 0.0, 0.0};
        if (!voiced.empty()) {
            const auto middle = voiced.begin() + static_cast<std::ptrdiff_t>(voiced.size() / 2);
            std::nth_element(voiced.begin(), middle, voiced.end());
            counted.medianHz = *middle;
            const auto [lowest, highest] = std::minmax_element(voiced.begin(), voiced.end());
            counted.lowestHz = *lowest;
            counted.highestHz = *highest;
        }
        m_pageVoicing = counted;
    }
    const PageVoicing& voicing = m_pageVoicing;
    const auto seconds = [](double ms) { return QString::number(ms / 1000.0, 'f', 2); };
    QStringList parts;
    parts << tr("Pitch track from %1 s to %2 s").arg(seconds(fromMs), seconds(toMs));
    if (voicing.frames == 0) {
        parts << tr("no voiced frames");
    } else {
        parts << tr("%1 voiced frames from %2 Hz to %3 Hz, median %4 Hz")
                     .arg(voicing.frames)
                     .arg(QString::number(voicing.lowestHz, 'f', 1),
                          QString::number(voicing.highestHz, 'f', 1),
                          QString::number(voicing.medianHz, 'f', 1));
    }
    if (analysis.m_bHaveMarker) {
        parts << tr("Marker at %1 ms: %2 Hz")
                     .arg(QString::number(analysis.m_dLogMarkerTime, 'f', 1),
                          QString::number(analysis.m_dLogMarkerPitch, 'f', 1));
    }
    if (analysis.m_bHaveSelection) {
        parts << tr("Selection of %1 ms").arg(QString::number(analysis.m_dDurationTime, 'f', 1));
    }
    return parts.join(QStringLiteral(". ")) + QLatin1Char('.');
}

std::optional<PitchGraphInput> PitchView::graphInput() const
{
    if (m_track == nullptr || m_document == nullptr) {
        return std::nullopt;
    }
    PitchGraphInput input = pitchGraphInput(*m_track, *m_document);
    if (captionOf) {
        input.caption =
            pitchGraphCaption(captionOf(input.pageStartMs(), input.pageEndMs()), input.precise);
    }
    return input;
}

PitchGraphLayout PitchView::layout() const
{
    if (const std::optional<PitchGraphInput> input = graphInput()) {
        return input->layout(size());
    }
    return PitchGraphLayout::forView(size(), false, false, false);
}

double PitchView::intensityAt(double timeMs) const
{
    return m_track != nullptr ? m_track->intensityAt(timeMs) : 0.0;
}

PitchReadout PitchView::readoutAt(double timeMs) const
{
    const PitchAnalysis& analysis = m_track->analysis;
    PitchReadout readout;
    readout.timeMs = timeMs;
    readout.pitchHz = analysis.pitchAt(timeMs);
    readout.intensityDb = analysis.m_parameters.m_bPitchDrawIntensity ? intensityAt(timeMs) : 0.0;
    return readout;
}

void PitchView::paintEvent(QPaintEvent* /*event*/)
{
    describe(); // the marks, zoom and page may have changed since
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    const std::optional<PitchGraphInput> input = graphInput();
    if (!input) {
        return;
    }
    drawPitchGraph(painter, size(), *input);

    const PitchAnalysis& analysis = m_track->analysis;
    const PitchGraphLayout panes = input->layout(size());
    const double startMs = input->pageStartMs();
    const double endMs = input->pageEndMs();
    const QRect graph(QPoint(panes.graph.left, panes.graph.top),
                      QPoint(panes.graph.right, panes.graph.bottom));
    painter.setClipRect(graph);
    if (analysis.m_bHaveSelection) {
        const int from = panes.xAt(analysis.m_dDurationStartTime, startMs, endMs);
        const int to = panes.xAt(analysis.m_dDurationStopTime, startMs, endMs);
        painter.fillRect(
            QRect(QPoint(from, graph.top()), QPoint(std::max(from, to), graph.bottom())),
            selectionShade());
    }
    if (analysis.m_bHaveMarker) {
        const int x = panes.xAt(analysis.m_dMarkerTime, startMs, endMs);
        painter.setPen(QPen(markerColor(), 2.0));
        painter.drawLine(QPoint(x, graph.top()), QPoint(x, graph.bottom()));
    }
}

void PitchView::mousePressEvent(QMouseEvent* event)
{
    const std::optional<PitchGraphInput> input = graphInput();
    const QPoint point = event->position().toPoint();
    if (!input || event->button() != Qt::LeftButton || !input->layout(size()).contains(point)) {
        QWidget::mousePressEvent(event);
        return;
    }
    PitchAnalysis& analysis = m_track->analysis;
    const double timeMs =
        input->layout(size()).timeAt(point.x(), input->pageStartMs(), input->pageEndMs());
    analysis.mouseDown(timeMs, [this](double t) { return intensityAt(t); });
    analysis.CalculateDuration();
    m_bDragging = true;
    update();
    if (onReadout) {
        onReadout(PitchReadout{analysis.m_dLogMarkerTime, analysis.m_dLogMarkerPitch,
                               analysis.m_dLogMarkerIntensity});
    }
    if (onSelectionChanged) {
        onSelectionChanged();
    }
}

void PitchView::mouseMoveEvent(QMouseEvent* event)
{
    const std::optional<PitchGraphInput> input = graphInput();
    if (!input) {
        return;
    }
    const PitchGraphLayout panes = input->layout(size());
    const QPoint point = event->position().toPoint();
    const double startMs = input->pageStartMs();
    const double endMs = input->pageEndMs();
    if (m_bDragging && (event->buttons() & Qt::LeftButton)) {
        // A drag past the graph's edges stops at the page's ends.
        PitchAnalysis& analysis = m_track->analysis;
        const double timeMs = std::clamp(panes.timeAt(point.x(), startMs, endMs), startMs, endMs);
        analysis.m_dCursorTime = timeMs;
        analysis.m_bHaveSelection = timeMs != analysis.m_dMarkerTime;
        analysis.CalculateDuration();
        update();
        if (onReadout) {
            onReadout(readoutAt(timeMs));
        }
        if (onSelectionChanged) {
            onSelectionChanged();
        }
        return;
    }
    if (onReadout) {
        onReadout(panes.contains(point)
                      ? std::optional(readoutAt(panes.timeAt(point.x(), startMs, endMs)))
                      : std::nullopt);
    }
}

void PitchView::readoutLeft()
{
    if (onReadout) {
        onReadout(std::nullopt);
    }
}

} // namespace phonaxis
