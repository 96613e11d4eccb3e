#include "windows/ui/SpectrogramView.h"

#include "display/GraphPanes.h"
#include "windows/SpectrogramMarks.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStringList>

#include <algorithm>

namespace phonaxis {

SpectrogramView::SpectrogramView(QWidget* parent)
    : AnalysisGraphView(parent, QSize(200, 150), tr("Spectrogram"))
{
    setObjectName(QStringLiteral("SpectrogramView"));
}

void SpectrogramView::setGraph(const SpectrogramGraphInput* graph, SpectrogramMarks* marks)
{
    m_graph = graph;
    m_marks = marks;
    contentsReplaced();
}

QString SpectrogramView::spokenSummary() const
{
    if (m_graph == nullptr) {
        return m_message;
    }
    const auto seconds = [](double ms) { return QString::number(ms / 1000.0, 'f', 2); };
    QStringList parts;
    parts << tr("Spectrogram from %1 s to %2 s, 0 to %3 Hz")
                 .arg(seconds(m_graph->startTime), seconds(m_graph->stopTime))
                 .arg(m_graph->settings.frequencyRangeHz);
    if (!m_graph->caption.isEmpty()) {
        parts << m_graph->caption;
    }
    if (m_marks != nullptr && m_marks->m_bHaveMarker) {
        parts << tr("Marker at %1 ms, %2 Hz")
                     .arg(QString::number(m_marks->m_dLogMarkerTime, 'f', 1),
                          QString::number(m_marks->m_dLogFreqValue, 'f', 1));
    }
    if (m_marks != nullptr && m_marks->m_bHaveSelection) {
        parts << tr("Selection of %1 ms").arg(QString::number(m_marks->m_dLogDurationTime, 'f', 1));
    }
    return parts.join(QStringLiteral(". ")) + QLatin1Char('.');
}

void SpectrogramView::setMessage(const QString& message)
{
    m_message = message;
    describe();
    update();
}

void SpectrogramView::setFallbackLayout(bool labels, bool audio)
{
    m_bFallbackLabels = labels;
    m_bFallbackAudio = audio;
}

SpectrogramGraphLayout SpectrogramView::layout() const
{
    return m_graph != nullptr
               ? m_graph->layout(size())
               : SpectrogramGraphLayout::forView(size(), m_bFallbackLabels, m_bFallbackAudio);
}

void SpectrogramView::paintEvent(QPaintEvent* /*event*/)
{
    describe(); // the marks, zoom and page may have changed since
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (m_graph == nullptr) {
        painter.setPen(Qt::black);
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, m_message);
        return;
    }
    drawSpectrogramGraph(painter, size(), *m_graph);
    if (m_marks == nullptr) {
        return;
    }
    const SpectrogramGraphLayout panes = m_graph->layout(size());
    const QRect image = toQRect(panes.image).adjusted(0, 0, -1, -1);
    painter.setClipRect(toQRect(panes.timed));
    if (m_marks->m_bHaveSelection) {
        const double start = m_graph->startTime;
        const int from = m_graph->xAt(panes, start + m_marks->m_dLogDurationStartTime);
        const int to = m_graph->xAt(panes, start + m_marks->m_dLogDurationStopTime);
        painter.fillRect(
            QRect(QPoint(from, panes.timed.top), QPoint(std::max(from, to), image.bottom())),
            selectionShade());
    }
    if (m_marks->m_bHaveMarker) {
        const int x = m_graph->xAt(panes, m_marks->m_dLogMarkerTime);
        const int y = m_graph->yAt(panes, m_marks->m_dLogFreqValue);
        painter.setPen(QPen(markerColor(), 1.0));
        painter.drawLine(QPoint(x, panes.timed.top), QPoint(x, image.bottom()));
        painter.drawLine(QPoint(x - 6, y), QPoint(x + 6, y));
    }
}

void SpectrogramView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (onResized) {
        onResized();
    }
}

void SpectrogramView::mousePressEvent(QMouseEvent* event)
{
    if (m_graph == nullptr || m_marks == nullptr || event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const SpectrogramGraphLayout panes = layout();
    const QPoint point = event->position().toPoint();
    m_bDragging = m_marks->mouseDown(m_graph->timeAt(panes, point.x()),
                                     m_graph->frequencyAt(panes, point.y()), m_graph->startTime,
                                     m_graph->stopTime, m_graph->settings.frequencyRangeHz);
    update();
    if (onReadout && m_marks->m_bHaveMarker) {
        onReadout(SpectrogramView::Readout{m_marks->m_dLogMarkerTime, m_marks->m_dLogFreqValue});
    }
    if (onMarksChanged) {
        onMarksChanged();
    }
}

void SpectrogramView::mouseMoveEvent(QMouseEvent* event)
{
    if (m_graph == nullptr || m_marks == nullptr) {
        return;
    }
    const SpectrogramGraphLayout panes = layout();
    const QPoint point = event->position().toPoint();
    if (m_bDragging && (event->buttons() & Qt::LeftButton)) {
        m_marks->dragTo(m_graph->timeAt(panes, point.x()), m_graph->startTime, m_graph->stopTime);
        update();
        if (onMarksChanged) {
            onMarksChanged();
        }
    }
    if (onReadout) {
        // Off the image the formulas would give times outside the range
        // and negative frequencies: no readout there.
        onReadout(panes.inImage(point)
                      ? std::optional(SpectrogramView::Readout{m_graph->timeAt(panes, point.x()),
                                                         m_graph->frequencyAt(panes, point.y())})
                      : std::nullopt);
    }
}

void SpectrogramView::readoutLeft()
{
    if (onReadout) {
        onReadout(std::nullopt);
    }
}

} // namespace phonaxis
