#include "display/MainViewScroller.h"

#include "display/MainViewModel.h"
#include "display/MainViewPane.h"

#include <QGridLayout>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

namespace phonaxis {

MainViewScroller::MainViewScroller(QWidget* parent)
    : QWidget(parent),
      m_pane(new MainViewPane(this)),
      m_scroller(new QScrollBar(Qt::Horizontal, this)),
      m_verticalScroller(new QScrollBar(Qt::Vertical, this))
{
    setObjectName("MainViewScroller");
    m_scroller->setObjectName("_scroller");
    m_verticalScroller->setObjectName("_verticalScroller");
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_pane, 0, 0);
    layout->addWidget(m_verticalScroller, 0, 1);
    layout->addWidget(m_scroller, 1, 0);
    layout->setRowStretch(0, 1);
    layout->setColumnStretch(0, 1);
    setKnob(0.0, 1.0);
    m_verticalScroller->setRange(0, 0);
    m_verticalScroller->hide();
    connect(m_scroller, &QScrollBar::valueChanged, this, &MainViewScroller::knobMoved);
    connect(m_verticalScroller, &QScrollBar::valueChanged, this,
            &MainViewScroller::verticalKnobMoved);
    m_pane->onFrameChanged = [this] { followFrame(); };
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

void MainViewScroller::followFrame()
{
    MainViewModel* model = m_pane->model();
    const int maximum = model != nullptr ? model->maxDeltaY() : 0;
    m_updating = true;
    m_verticalScroller->setRange(0, maximum);
    m_verticalScroller->setPageStep(std::max(1, m_pane->height()));
    m_verticalScroller->setSingleStep(20);
    m_verticalScroller->setValue(model != nullptr ? model->m_nDeltaY : 0);
    m_updating = false;
    // Shown only when there is something to scroll to; hiding it widens the
    // pane, which lays the strips out again with the same frame height.
    m_verticalScroller->setVisible(maximum > 0);
}

void MainViewScroller::verticalKnobMoved(int value)
{
    if (!m_updating) {
        m_pane->setVerticalOffset(value);
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
