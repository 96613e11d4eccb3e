#include "log/ui/PlotFormantView.h"

#include "log/FormantTable.h"

#include <QPainter>

namespace phonaxis {

PlotFormantView::PlotFormantView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("plotFormantView"));
    setAccessibleName(tr("Formant chart"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(200, 200);
}

void PlotFormantView::SetControllerID(const FormantTable* table)
{
    m_table = table;
    Refresh();
}

void PlotFormantView::setFontAttributes(const FormantChartText& text)
{
    m_text = text;
    update();
}

void PlotFormantView::Refresh()
{
    m_geometry = m_table != nullptr ? formantChartGeometry(*m_table, size(), m_table->GetPlotType())
                                    : PlotGeometry{};
    update();
}

GraphDrawing PlotFormantView::drawing() const
{
    if (m_table == nullptr) {
        return [](QPainter&, QSize) {};
    }
    return formantChartDrawing(*m_table, m_table->GetPlotType(), m_text);
}

bool PlotFormantView::SaveasPict(const std::string& path, std::string& error) const
{
    return writePictureFile(path, size(), drawing(), error);
}

QSize PlotFormantView::sizeHint() const
{
    return {kFormantChartWidthPx, kFormantChartHeightPx};
}

void PlotFormantView::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (m_table != nullptr) {
        drawFormantChart(painter, m_geometry, m_text);
    }
}

void PlotFormantView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Refresh();
}

} // namespace phonaxis
