#include "windows/ui/AnalysisGraphView.h"

namespace phonaxis {

void AnalysisGraphView::describe()
{
    const QString summary = spokenSummary();
    if (summary != accessibleDescription()) {
        setAccessibleDescription(summary);
    }
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
