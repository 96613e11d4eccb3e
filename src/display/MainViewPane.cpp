#include "display/MainViewPane.h"

#include "display/MainViewModel.h"
#include "display/MainViewRenderer.h"
#include "document/MyDocument.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

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
    setAccessibleName(tr("Channels"));
    // Clicked, the view takes the keyboard: Delete removes a clicked label.
    setFocusPolicy(Qt::ClickFocus);
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
    if (onFrameChanged) {
        onFrameChanged();
    }
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
    deliverCursorStatus();
    update();
}

void MainViewPane::deliverCursorStatus()
{
    if (m_model == nullptr) {
        return;
    }
    const std::optional<StatusReport> status = m_model->takeCursorStatus();
    if (status && onStatus) {
        onStatus(*status);
    }
}

void MainViewPane::setVerticalOffset(int offsetPx)
{
    if (m_model == nullptr) {
        return;
    }
    m_model->SetDeltaY(offsetPx);
    update();
}

double MainViewPane::frameY(double widgetY) const
{
    return m_model != nullptr ? widgetY + m_model->m_nDeltaY : widgetY;
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
        if (onFrameChanged) {
            onFrameChanged();
        }
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
    // The frame is drawn shifted up by the vertical offset; the clip the
    // drawing gets covers the client area in frame coordinates.
    const int offset = m_model->m_nDeltaY;
    QImage image(size(), QImage::Format_ARGB32_Premultiplied);
    if (!image.isNull()) {
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.translate(0, -offset);
        DrawView(painter, m_model->document(), QSize(width(), height() + offset),
                 m_summaries.get());
    }
    m_image = std::move(image);
    m_model->m_bRedraw = false;
}

void MainViewPane::setRecordingLevel(float minimum, float maximum)
{
    m_levelMin = minimum;
    m_levelMax = maximum;
}

void MainViewPane::paintRecording(QPainter& painter)
{
    painter.fillRect(rect(), Qt::white);
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(12);
    painter.setFont(font);
    painter.setPen(Qt::blue);
    const QString text =
        QString::asprintf("(press mouse here to stop) recorded time = %.1f", m_model->m_dSeconds);
    painter.drawText(QPoint(10, 10 + QFontMetrics(font).ascent()), text);

    m_levelX += 2;
    if (m_levelX > width()) {
        m_levelX = 1;
    }
    const double span = static_cast<double>(m_levelMax) - static_cast<double>(m_levelMin);
    const int half = height() / 2;
    const int barHeight =
        std::max(10, std::min(half, static_cast<int>(std::isfinite(span) ? span * height() : 0.0)));
    painter.fillRect(QRect(m_levelX, (height() - barHeight) / 2, 2, barHeight), Qt::blue);
}

void MainViewPane::paintEvent(QPaintEvent*)
{
    if (m_model != nullptr && m_model->m_bRecording) {
        QPainter painter(this);
        paintRecording(painter);
        return;
    }
    ensureRendered();
    deliverCursorStatus();
    QPainter painter(this);
    if (m_image.isNull()) {
        painter.fillRect(rect(), Qt::white);
        return;
    }
    painter.drawImage(0, 0, m_image);
    if (m_model == nullptr || !m_model->document().m_bHaveData) {
        return;
    }
    // The overlay columns span the frame, shifted like the strips; a column
    // with a negative left edge is off the page (or not placed yet).
    const int top = -m_model->m_nDeltaY;
    const int frameHeight = m_model->m_nFrameHeigth;
    const Rect& marker = m_model->m_rMarker;
    if (m_model->m_bHaveMarker && marker.left >= 0) {
        painter.fillRect(QRect(marker.left, top, kMarkerWidthPx, frameHeight), kMarkerColor);
    }
    const Rect& selection = m_model->m_rSelection;
    if (m_model->m_bHaveSelection && !m_model->m_bLabelClicked && selection.left >= 0 &&
        selection.right > selection.left) {
        painter.setOpacity(kSelectionOpacity);
        painter.fillRect(QRect(selection.left, top, selection.right - selection.left, frameHeight),
                         kSelectionColor);
        painter.setOpacity(1.0);
    }
    if (!m_model->m_bPlaying && m_model->m_rNewCursor.left >= 0) {
        painter.fillRect(QRect(m_model->m_rNewCursor.left, top, 1, frameHeight), Qt::red);
    }
    if (const std::optional<int> played = m_model->playCursorX(width())) {
        painter.fillRect(QRect(*played, top, 1, frameHeight), Qt::red);
    }
    // The clicked label, which the Delete key would remove.
    if (const Labels* label = m_model->clickedLabel();
        label != nullptr && !m_model->m_bLabelMoved) {
        const Rect& r = label->rectLocation;
        painter.setPen(QPen(kMarkerColor, 1, Qt::DashLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(
            QRect(QPoint(r.left - 2, r.top - 2 + top), QPoint(r.right + 1, r.bottom + 1 + top)));
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
    if (result.stopRecording && onStopRecording) {
        onStopRecording();
        return;
    }
    if (result.stopPlaying && onStopPlaying) {
        onStopPlaying();
    }
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
    const QPointF at = event->position();
    const MouseResult result = m_model->DoOnLButtonDown(at.x(), frameY(at.y()));
    // The press that stops a recording is not the start of a click on what
    // it recorded.
    m_buttonDown = !result.stopRecording;
    deliver(result);
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
    // Only the overlay changes: the cached channels are painted again as
    // they are unless the model asked for a new rendering.
    if (m_buttonDown && (event->buttons() & Qt::LeftButton)) {
        deliver(m_model->TrackMouseDragged(at.x(), frameY(at.y())));
    } else {
        deliver(m_model->TrackMouseMove(at.x(), frameY(at.y())));
    }
}

void MainViewPane::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_model == nullptr || event->button() != Qt::LeftButton || !m_buttonDown) {
        return;
    }
    m_buttonDown = false;
    const QPointF at = event->position();
    deliver(m_model->DoOnLButtonUp(at.x(), frameY(at.y())));
    update();
    if (onStateChanged) {
        onStateChanged();
    }
}

void MainViewPane::keyPressEvent(QKeyEvent* event)
{
    // Escape stops a recording or the sound, as a press in the view does.
    if (m_model != nullptr && event->key() == Qt::Key_Escape) {
        if (m_model->m_bRecording && onStopRecording) {
            onStopRecording();
            event->accept();
            return;
        }
        if (m_model->m_bPlaying && onStopPlaying) {
            onStopPlaying();
            event->accept();
            return;
        }
    }
    const bool deleting = event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace;
    if (m_model == nullptr || !deleting || m_model->clickedLabel() == nullptr) {
        QWidget::keyPressEvent(event);
        return;
    }
    if (m_model->RemoveLabel()) {
        redraw();
        if (onStateChanged) {
            onStateChanged();
        }
    }
    event->accept();
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

void MainViewPane::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    if (m_model != nullptr) {
        m_model->MouseExited();
        update();
    }
}

} // namespace phonaxis
