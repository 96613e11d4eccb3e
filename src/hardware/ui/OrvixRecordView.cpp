#include "hardware/ui/OrvixRecordView.h"

#include "hardware/BoxRecording.h"

#include <QFontMetrics>
#include <QPainter>
#include <QResizeEvent>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace phonaxis {

OrvixRecordView::OrvixRecordView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Strips"));
    setAccessibleName(QStringLiteral("Live channels"));
    setMinimumSize(200, 120);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void OrvixRecordView::setChannelInfo(std::span<const ChannelInfo> table, int systemChannels)
{
    const int count = std::clamp(systemChannels, 0, int(m_ChannelInfo.size()));
    m_systemChannels = count;
    m_ChannelInfo.fill(ChannelInfo{});
    std::copy_n(table.begin(), std::min<std::size_t>(table.size(), std::size_t(count)),
                m_ChannelInfo.begin());
    m_entries = enabledEntries(m_ChannelInfo, count);
}

void OrvixRecordView::OnInitialUpdate()
{
    m_bViewIntilized = false;
    SetupDisplay();
    update();
}

void OrvixRecordView::RedoDisplay()
{
    SetupDisplay();
    update();
}

void OrvixRecordView::setZoom(int factor)
{
    m_nDisplayFactor = std::clamp(factor, 1, 1000);
    updateScroll();
}

void OrvixRecordView::updateScroll()
{
    m_nScrollRange = std::max(1, m_nHorizontalRange / m_nDisplayFactor);
    m_nScrollStart = m_nHorizontalRange - m_nScrollRange;
}

void OrvixRecordView::SetupDisplay()
{
    const int width = std::max(1, this->width());
    const int height = std::max(1, this->height());
    m_nHorizontalRange = width;
    m_nVerticalRange = height;
    updateScroll();

    // Strips from the top down, 5 points apart, in upward coordinates.
    m_rChannel.clear();
    const int shown = int(m_entries.size());
    if (shown > 0) {
        const int stripHeight = std::max(1, (height - 5 * m_systemChannels) / shown);
        int top = height - 5;
        for (int j = 0; j < shown; ++j) {
            m_rChannel.push_back({top, top - stripHeight});
            top = top - stripHeight - 5;
        }
    }

    m_bmpScope = QImage(width, height, QImage::Format_RGB32);
    m_bmpScope.fill(Qt::white);
    m_bmpScopeGrid = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
    m_bmpScopeGrid.fill(Qt::white);
    QPainter painter(&m_bmpScopeGrid);
    painter.setPen(Qt::black);
    m_titles.clear();
    const QFontMetrics metrics(font());
    for (std::size_t j = 0; j < m_rChannel.size(); ++j) {
        const Strip& strip = m_rChannel[j];
        const QRect frame(0, imageRow(strip.top), width - 1, strip.top - strip.bottom);
        painter.drawRect(frame);
        const int entry = m_entries[j];
        const QString label =
            entry == 0 ? QStringLiteral("Audio") : QStringLiteral("chan# %1").arg(entry);
        // The title's top left 5 points in, just below the frame's top;
        // left out when the strip is too low to hold it.
        const QRect title(5, frame.top() + 2, metrics.horizontalAdvance(label) + 4,
                          metrics.height());
        if (frame.adjusted(1, 1, -1, -1).contains(title)) {
            m_titles.push_back({title, label});
        }
    }
    m_bViewIntilized = true;
}

void OrvixRecordView::scrollTrace()
{
    const int width = m_bmpScope.width();
    const int shift = std::min(m_nScrollRange, width);
    for (int row = 0; row < m_bmpScope.height(); ++row) {
        auto* line = reinterpret_cast<std::uint32_t*>(m_bmpScope.scanLine(row));
        std::memmove(line, line + shift, std::size_t(width - shift) * sizeof(std::uint32_t));
        std::fill(line + std::max(0, m_nScrollStart), line + width, 0xffffffffu);
    }
}

void OrvixRecordView::animateRecordData(std::span<const std::uint8_t> block)
{
    // A short read brings fewer frames: they are spread over the same width.
    const std::size_t frames = std::min(block.size() / kFrameBytes, kFramesPerBlock);
    if (!m_bViewIntilized || m_bmpScope.isNull() || frames == 0) {
        return;
    }
    scrollTrace();
    QPainter painter(&m_bmpScope);
    painter.setPen(Qt::black);
    m_points.resize(frames);
    // Each strip is its own open line: the last point of one channel is
    // never joined to the first of another.
    for (std::size_t j = 0; j < m_entries.size() && j < m_rChannel.size(); ++j) {
        const int entry = m_entries[j];
        const Strip& strip = m_rChannel[j];
        const int mid = strip.top + (strip.bottom - strip.top) / 2;
        const int half = std::abs((strip.bottom - strip.top) / 2);
        for (std::size_t i = 0; i < frames; ++i) {
            const float sample = entryValue(block.data() + i * kFrameBytes, entry);
            const int x = m_nScrollStart + int(double(i) * m_nScrollRange / double(frames));
            const int y = mid + 2 + int(sample * float(half - 4));
            m_points[i] = QPoint(x, imageRow(y));
        }
        painter.drawPolyline(m_points.data(), int(m_points.size()));
    }
}

void OrvixRecordView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (m_bmpScope.isNull()) {
        painter.fillRect(rect(), Qt::white);
        return;
    }
    painter.drawImage(0, 0, m_bmpScope);
    painter.setOpacity(0.2);
    painter.drawImage(0, 0, m_bmpScopeGrid);
    // The frames stay faint; the titles are read, so they are black on a
    // white patch over the traces.
    painter.setOpacity(1.0);
    painter.setPen(Qt::black);
    for (const Title& title : m_titles) {
        painter.fillRect(title.box, QColor(255, 255, 255, 220));
        painter.drawText(title.box, Qt::AlignCenter, title.text);
    }
}

void OrvixRecordView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_bViewIntilized) {
        SetupDisplay();
    }
}

} // namespace phonaxis
