#include "windows/ui/AnalysisGraphView.h"

namespace phonaxis {

AnalysisGraphView::AnalysisGraphView(QWidget* parent, QSize minimumSizePx,
                                     const QString& accessibleName)
    : QWidget(parent)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(minimumSizePx);
    setAccessibleName(accessibleName);
}

void AnalysisGraphView::describe()
{
    const QString summary = spokenSummary();
    if (summary != accessibleDescription()) {
        setAccessibleDescription(summary);
    }
}

void AnalysisGraphView::contentsReplaced()
{
    m_bDragging = false;
    describe();
    update();
}

void AnalysisGraphView::mouseReleaseEvent(QMouseEvent* event)
{
    m_bDragging = false;
    QWidget::mouseReleaseEvent(event);
}

void AnalysisGraphView::leaveEvent(QEvent* event)
{
    if (!m_bDragging) {
        readoutLeft();
    }
    QWidget::leaveEvent(event);
}

} // namespace phonaxis
