#include "display/MainViewScroller.h"

#include "display/MainViewModel.h"
#include "display/MainViewPane.h"

#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace phonaxis {

MainViewScroller::MainViewScroller(QWidget* parent)
    : QWidget(parent), m_pane(new MainViewPane(this)), m_scroller(new QScrollBar(Qt::Horizontal, this))
{
    setObjectName("MainViewScroller");
    m_scroller->setObjectName("_scroller");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_pane, 1);
    layout->addWidget(m_scroller);
    setKnob(0.0, 1.0);
    connect(m_scroller, &QScrollBar::valueChanged, this, &MainViewScroller::knobMoved);
}

void MainViewScroller::setKnob(double position, double proportion)
{
    if (!std::isfinite(proportion) || proportion <= 0.0 || proportion > 1.0) {
        proportion = 1.0;
    }
    if (!std::isfinite(position)) {
        position = 0.0;
    }
    m_proportion = proportion;
    if (proportion == 1.0) {
        position = 0.0;
    }
    const int page = std::max(1, static_cast<int>(std::lround(kTicks * proportion)));
    const int maximum = std::max(0, kTicks - page);
    m_updating = true;
    m_scroller->setRange(0, maximum);
    m_scroller->setPageStep(page);
    m_scroller->setSingleStep(std::max(1, page / 10));
    m_scroller->setValue(static_cast<int>(std::lround(std::clamp(position, 0.0, 1.0) * maximum)));
    m_updating = false;
}

void MainViewScroller::setZoomFactor(double proportion)
{
    setKnob(proportion == 1.0 ? 0.0 : knobPosition(), proportion);
}

double MainViewScroller::knobPosition() const
{
    const int maximum = m_scroller->maximum();
    return maximum > 0 ? static_cast<double>(m_scroller->value()) / maximum : 0.0;
}

void MainViewScroller::followModel()
{
    if (MainViewModel* model = m_pane->model()) {
        setKnob(model->_dKnobPosition, model->_dKnobProportion);
    }
}

void MainViewScroller::knobMoved(int)
{
    if (m_updating) {
        return;
    }
    MainViewModel* model = m_pane->model();
    if (model == nullptr) {
        return;
    }
    model->_dKnobPosition = knobPosition();
    model->AdjustScrollControl(model->_dKnobPosition, model->_dKnobProportion);
    m_pane->redraw();
}

} // namespace phonaxis
