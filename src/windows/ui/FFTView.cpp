#include "windows/ui/FFTView.h"

#include <QMouseEvent>
#include <QPainter>

namespace phonaxis {

namespace {

constexpr int kMinimumWidthPx = 200;
constexpr int kMinimumHeightPx = 120;

} // namespace

FFTView::FFTView(QWidget* parent) : QWidget(parent)
{
    setObjectName("fftView");
    setAccessibleName(tr("Spectrum"));
    setMouseTracking(true);
    setMinimumSize(kMinimumWidthPx, kMinimumHeightPx);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void FFTView::setStyle(const SpectrumGraphStyle& style)
{
    m_style = style;
    update();
}

Rect FFTView::graphRect() const
{
    return spectrumGraphRect(size());
}

int FFTView::displayIndexAt(QPointF position) const
{
    const Rect graph = graphRect();
    const bool inside = position.x() >= graph.left && position.x() < graph.right &&
                        position.y() >= graph.top && position.y() < graph.bottom;
    if (!inside || m_analysis.spectrum().empty()) {
        return -1;
    }
    return m_analysis.displayIndexAt(position.x() - graph.left, graph.right - graph.left);
}

void FFTView::analysisChanged()
{
    setAccessibleDescription(QString::fromStdString(m_analysis.formantText()));
    update();
}

void FFTView::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    drawSpectrumGraph(painter, size(), m_analysis, m_style);
}

void FFTView::mouseMoveEvent(QMouseEvent* event)
{
    const int j = displayIndexAt(event->position());
    if (j < 0) {
        emit readoutChanged({}, {});
        return;
    }
    emit readoutChanged(QString::fromStdString(m_analysis.powerText(j)),
                        QString::fromStdString(m_analysis.frequencyText(j)));
}

void FFTView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const int j = displayIndexAt(event->position());
    m_analysis.setMarker(j >= 0, j);
    update();
    emit markerChanged();
}

void FFTView::leaveEvent(QEvent* /*event*/)
{
    emit readoutChanged({}, {});
}

} // namespace phonaxis
