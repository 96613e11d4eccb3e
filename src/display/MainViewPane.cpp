#include "display/MainViewPane.h"

#include "display/MainViewModel.h"
#include "display/MainViewRenderer.h"
#include "document/MyDocument.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>

namespace phonaxis {

namespace {

// Overlay colours: the marker bar, the selection tint and the cursor column.
const QColor kMarkerColor = QColor::fromRgbF(0.2f, 0.4f, 0.6f, 0.5f);
const QColor kSelectionColor = QColor::fromRgbF(0.0f, 0.0f, 0.3f);
constexpr double kSelectionOpacity = 0.4;
constexpr int kMarkerWidthPx = 2;

} // namespace

MainViewPane::MainViewPane(QWidget* parent)
    : QWidget(parent), m_summaries(std::make_unique<MainViewSummaries>())
{
    setObjectName("MainViewPane");
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(200, 100);
}

MainViewPane::~MainViewPane() = default;

void MainViewPane::setModel(MainViewModel* model)
{
    m_model = model;
    m_laidOutSize = QSize();
    m_summaries->clear();
    m_image = QImage();
    update();
}

void MainViewPane::documentChanged()
{
    if (m_model == nullptr) {
        return;
    }
    m_summaries->build(m_model->document());
    RedoDisplay();
}

void MainViewPane::RedoDisplay()
{
    if (m_model == nullptr) {
        return;
    }
    m_model->DeleteDisplay();
    m_laidOutSize = QSize();
    ensureLayout();
    redraw();
}

void MainViewPane::redraw()
{
    if (m_model != nullptr) {
        m_model->m_bRedraw = true;
    }
    update();
}

void MainViewPane::ensureLayout()
{
    if (m_model == nullptr || !m_model->document().m_bHaveData) {
        return;
    }
    if (!m_model->m_bViewIntilized || m_laidOutSize != size()) {
        m_model->SetupDisplay(width(), height());
        m_laidOutSize = size();
        m_model->m_bRedraw = true;
    }
}

void MainViewPane::ensureRendered()
{
    ensureLayout();
    if (m_model == nullptr || !m_model->document().m_bHaveData) {
        if (m_image.size() != size()) {
            m_image = QImage(size(), QImage::Format_RGB32);
            m_image.fill(Qt::white);
        }
        return;
    }
    if (!m_model->m_bRedraw && m_image.size() == size()) {
        return;
    }
    // The pages follow the scroller before every rendering.
    m_model->AdjustScrollControl(m_model->_dKnobPosition, m_model->_dKnobProportion);
    m_image = renderMainView(m_model->document(), size(), m_summaries.get());
    m_model->m_bRedraw = false;
}

void MainViewPane::paintEvent(QPaintEvent*)
{
    ensureRendered();
    QPainter painter(this);
    if (m_image.isNull()) {
        painter.fillRect(rect(), Qt::white);
        return;
    }
    painter.drawImage(0, 0, m_image);
    if (m_model == nullptr || !m_model->document().m_bHaveData) {
        return;
    }
    const int frameHeight = m_model->m_nFrameHeigth;
    if (m_model->m_bHaveMarker) {
        painter.fillRect(QRect(m_model->m_rMarker.left, 0, kMarkerWidthPx, frameHeight), kMarkerColor);
    }
    if (m_model->m_bHaveSelection && !m_model->m_bLabelClicked) {
        const Rect& selection = m_model->m_rSelection;
        painter.setOpacity(kSelectionOpacity);
        painter.fillRect(QRect(selection.left, 0, std::max(0, selection.right - selection.left),
                               frameHeight),
                         kSelectionColor);
        painter.setOpacity(1.0);
    }
    if (!m_model->m_bPlaying && m_model->m_rNewCursor.left >= 0) {
        painter.fillRect(QRect(m_model->m_rNewCursor.left, 0, 1, frameHeight), Qt::red);
    }
}

void MainViewPane::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_model != nullptr) {
        ensureLayout();
        redraw();
    }
}

void MainViewPane::deliver(const MouseResult& result)
{
    if (result.status && onStatus) {
        onStatus(*result.status);
    }
    if (result.redraw) {
        update();
    }
    if (result.labelDialog.kind != LabelDialogRequest::Kind::None && onLabelDialog) {
        onLabelDialog(result.labelDialog);
    }
}

void MainViewPane::mousePressEvent(QMouseEvent* event)
{
    if (m_model == nullptr || event->button() != Qt::LeftButton) {
        return;
    }
    ensureLayout();
    m_buttonDown = true;
    const QPointF at = event->position();
    deliver(m_model->DoOnLButtonDown(at.x(), at.y()));
    update();
    if (onStateChanged) {
        onStateChanged();
    }
}

void MainViewPane::mouseMoveEvent(QMouseEvent* event)
{
    if (m_model == nullptr) {
        return;
    }
    const QPointF at = event->position();
    if (m_buttonDown && (event->buttons() & Qt::LeftButton)) {
        deliver(m_model->TrackMouseDragged(at.x(), at.y()));
    } else {
        deliver(m_model->TrackMouseMove(at.x(), at.y()));
    }
    update();
}

void MainViewPane::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_model == nullptr || event->button() != Qt::LeftButton || !m_buttonDown) {
        return;
    }
    m_buttonDown = false;
    const QPointF at = event->position();
    const MouseResult result = m_model->DoOnLButtonUp(at.x(), at.y());
    if (result.redraw) {
        m_model->m_bRedraw = true;
    }
    deliver(result);
    update();
    if (onStateChanged) {
        onStateChanged();
    }
}

void MainViewPane::wheelEvent(QWheelEvent* event)
{
    if (m_model == nullptr || !m_model->document().m_bHaveData) {
        event->ignore();
        return;
    }
    // One notch of a wheel is 120 eighths of a degree: a delta of 1.
    const QPoint angle = event->angleDelta();
    const double delta = (angle.y() != 0 ? angle.y() : angle.x()) / 120.0;
    if (delta == 0.0) {
        return;
    }
    m_model->scrollWheel(delta, width());
    redraw();
    if (onPageChanged) {
        onPageChanged();
    }
    event->accept();
}

} // namespace phonaxis
