#include "display/ScopeView.h"

#include "document/AppSettings.h"
#include "hardware/ScopeBlock.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QLoggingCategory>
#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace phonaxis {

namespace {

// The scope's progress lines; off unless QT_LOGGING_RULES asks for them.
Q_LOGGING_CATEGORY(scopeLog, "phonaxis.scope", QtInfoMsg)

} // namespace

ScopeView::ScopeView(ScopeSource* source, const AppSettings& settings, QWidget* parent)
    : QWidget(parent), m_source(source), m_settings(settings), _timer(new QTimer(this))
{
    setObjectName(QStringLiteral("scopeView"));
    setAccessibleName(tr("Scope traces"));
    setMinimumSize(200, 150);
    _timer->setInterval(kTickMs);
    connect(_timer, &QTimer::timeout, this, &ScopeView::onTick);
}

ScopeView::~ScopeView()
{
    cleanup();
}

void ScopeView::OnInitialUpdate()
{
    m_npChannelData.clear();
    m_bHaveData = false;
    m_nZoonScale = kZoomScale;
    // A block that arrived before the scope opened is not drawn.
    m_nLastBlock = m_source != nullptr ? m_source->blockCount() : 0;
    RedoDisplay();
    m_bViewIntilized = true;
    _timer->start();
}

bool ScopeView::ticking() const
{
    return _timer->isActive();
}

int ScopeView::boxChannels() const
{
    return m_source != nullptr ? m_source->channelCount() : 0;
}

std::vector<int> ScopeView::enabledEntries(QString& message) const
{
    const int channels = boxChannels();
    std::vector<int> entries;
    if (channels <= 0) {
        message = tr("No acquisition box is streaming.");
        return entries;
    }
    if (scope::channelRatesHz(channels).empty()) {
        message = tr("The acquisition box has %1 channels; the scope shows boxes of 9, 5 or 2.")
                      .arg(channels);
        return entries;
    }
    const int last = std::min({channels, kMaxStrips,
                               static_cast<int>(AppSettings::kChannelInfoEntries)});
    for (int entry = 0; entry < last; ++entry) {
        if (m_settings.g_ChannelInfo[static_cast<std::size_t>(entry)].bOnOff != 0) {
            entries.push_back(entry);
        }
    }
    message = entries.empty()
                  ? tr("No channel of the acquisition box is enabled in the record/play settings.")
                  : QString();
    return entries;
}

void ScopeView::SetupDisplay()
{
    m_rScope = rect();
    m_nHorizontalRange = width();
    m_nVerticalRange = height();
    m_nScrollRange = m_nHorizontalRange / 2;
    m_nScrollStart = m_nHorizontalRange - m_nScrollRange;
    m_nLayoutBoxChannels = boxChannels();
    m_stripEntries = enabledEntries(m_message);
    setAccessibleDescription(m_message);
    m_nLastChannelCount = static_cast<int>(m_stripEntries.size());
    m_rChannel.clear();
    if (m_nLastChannelCount > 0) {
        // The strips share the height below the message band; the last one
        // ends 5 pixels above the bottom.
        const int h = std::max(0, (m_nVerticalRange - kTopBand) / m_nLastChannelCount);
        for (int j = 0; j < m_nLastChannelCount; ++j) {
            const int top = j * h + kTopBand;
            const int bottom = (j + 1) * h + kTopBand - kStripGap;
            m_rChannel.emplace_back(1, top, std::max(0, m_nHorizontalRange - 2),
                                    std::max(0, bottom - top));
        }
    }
    layoutScales();
    if (m_nHorizontalRange > 0 && m_nVerticalRange > 0) {
        const QSize size(m_nHorizontalRange, m_nVerticalRange);
        m_bmpScope = QImage(size, QImage::Format_RGB32);
        m_bmpScopeGrid = QImage(size, QImage::Format_RGB32);
        m_bmpScopeBackGround = QImage(size, QImage::Format_RGB32);
        SetColors();
    }
}

void ScopeView::DeleteDisplay()
{
    m_bmpScope = QImage();
    m_bmpScopeGrid = QImage();
    m_bmpScopeBackGround = QImage();
    m_rChannel.clear();
}

void ScopeView::SetColors()
{
    m_bmpScope.fill(Qt::white);
    m_bmpScopeGrid.fill(Qt::white);
    m_bmpScopeBackGround.fill(Qt::white);
    QPainter painter(&m_bmpScopeGrid);
    painter.setPen(Qt::black);
    for (const QRect& strip : m_rChannel) {
        painter.drawRect(strip);
    }
}

bool ScopeView::placeText(const QRect& box, const QString& text, const QRect& within)
{
    if (!within.contains(box)) {
        return false;
    }
    for (const ScaleText& placed : m_scaleTexts) {
        if (placed.box.intersects(box)) {
            return false;
        }
    }
    m_scaleTexts.push_back({box, text});
    return true;
}

void ScopeView::layoutScales()
{
    m_scaleTexts.clear();
    m_timeTicks.clear();
    if (m_rChannel.empty()) {
        return;
    }
    const QFontMetrics metrics(font());
    const int lineHeight = metrics.height();
    const auto boxOf = [&](const QString& text) {
        return QRect(0, 0, metrics.horizontalAdvance(text) + 4, lineHeight);
    };

    // Time axis in the top band: tick marks just above the first strip,
    // their labels above them, the axis title first at the left.
    const int width = m_nHorizontalRange;
    const int tickBottom = kTopBand - 2;
    const int labelTop = tickBottom - 4 - lineHeight;
    const QRect band(0, 0, width, kTopBand);
    const QString title = tr("Time (s)");
    placeText(boxOf(title).translated(4, labelTop), title, band);
    // The smallest step whose labels keep a label's width apart.
    const double pixelsPerSecond = width / kSpanSeconds;
    const int widest = boxOf(QStringLiteral("-0.0")).width();
    double step = kSpanSeconds;
    for (const double candidate : {0.5, 1.0, 2.0}) {
        if (candidate * pixelsPerSecond >= 2 * widest) {
            step = candidate;
            break;
        }
    }
    const int steps = static_cast<int>(std::lround(kSpanSeconds / step));
    for (int k = 0; k <= steps; ++k) {
        const double seconds = k * step;
        const int x = std::clamp(
            width - 1 - static_cast<int>(std::lround(seconds * pixelsPerSecond)), 0, width - 1);
        m_timeTicks.push_back(x);
        const QString text = seconds == 0.0 ? QStringLiteral("0")
                                            : QString::number(-seconds, 'f', step < 1.0 ? 1 : 0);
        QRect box = boxOf(text);
        // Centred on its tick, kept inside the view at both ends.
        box.moveLeft(std::clamp(x - box.width() / 2, 0, width - box.width()));
        box.moveTop(labelTop);
        placeText(box, text, band);
    }

    // Each strip: its title at the top left, its full-scale range at the
    // right (a strip too low for two lines gets the range on one).
    const QString high = tr("1.0 FS");
    const QString low = tr("-1.0 FS");
    const QString both = tr("±1.0 FS");
    for (std::size_t j = 0; j < m_rChannel.size(); ++j) {
        const QRect inside = m_rChannel[j].adjusted(1, 1, -1, -1);
        const int entry = m_stripEntries[j];
        const QString name =
            entry == 0 ? QStringLiteral("Audio") : QStringLiteral("chan# %1").arg(entry);
        placeText(boxOf(name).translated(inside.left() + 4, inside.top() + 1), name, inside);
        const auto atRight = [&](const QString& text, int top) {
            QRect box = boxOf(text);
            box.moveTopRight(QPoint(inside.right() - 3, top));
            return box;
        };
        if (inside.height() >= 2 * lineHeight + 4) {
            placeText(atRight(high, inside.top() + 1), high, inside);
            placeText(atRight(low, inside.bottom() - lineHeight), low, inside);
        } else {
            placeText(atRight(both, inside.top() + 1), both, inside);
        }
    }
}

void ScopeView::RedoDisplay()
{
    DeleteDisplay();
    SetupDisplay();
    m_bRedraw = true;
    update();
}

bool ScopeView::Sample()
{
    if (m_source == nullptr) {
        return false;
    }
    const std::uint64_t count = m_source->blockCount();
    if (count == m_nLastBlock) {
        return false;
    }
    m_nLastBlock = count;
    const int channels = m_source->channelCount();
    const std::vector<std::int16_t> block = scope::makeScopeBlock(m_source->newestBlock(), channels);
    m_npChannelData = scope::splitScopeBlock(block, channels);
    m_bHaveData = !m_npChannelData.empty();
    return m_bHaveData;
}

void ScopeView::AnimateData()
{
    if (!m_bViewIntilized || m_bmpScope.isNull()) {
        return;
    }
    const int width = m_nHorizontalRange;
    const int height = m_nVerticalRange;
    m_nScrollRange = std::max(1, width / m_nZoonScale);
    m_nScrollStart = width - m_nScrollRange;

    QPainter painter(&m_bmpScope);
    // Shift the picture left by one stretch, then blank the stretch's
    // columns at the right edge.
    const QImage shifted = m_bmpScope.copy(m_nScrollRange, 0, width, height);
    painter.drawImage(QPoint(1, 0), shifted);
    const QRect fresh(m_nScrollStart, 0, width - m_nScrollStart, height);
    painter.drawImage(fresh, m_bmpScopeBackGround, fresh);
    if (!m_bHaveData) {
        return;
    }
    painter.setPen(Qt::black);
    for (std::size_t j = 0; j < m_rChannel.size(); ++j) {
        const auto entry = static_cast<std::size_t>(m_stripEntries[j]);
        if (entry >= m_npChannelData.size() || m_npChannelData[entry].empty()) {
            continue;
        }
        const std::vector<std::int16_t>& samples = m_npChannelData[entry];
        const QRect& strip = m_rChannel[j];
        painter.drawRect(strip);
        const long long n = static_cast<long long>(samples.size());
        const long long stripHeight = strip.height();
        const int centre = strip.top() + strip.height() / 2;
        QPainterPath path;
        for (long long i = 0; i < n; ++i) {
            const int x = m_nScrollStart + static_cast<int>(i * m_nScrollRange / n);
            const int y = centre - static_cast<int>(samples[static_cast<std::size_t>(i)] *
                                                    stripHeight / 65536);
            if (i == 0) {
                path.moveTo(x, y);
            } else {
                path.lineTo(x, y);
            }
        }
        painter.drawPath(path);
    }
}

void ScopeView::onTick()
{
    if (m_source != nullptr) {
        m_source->keepStreaming();
    }
    // A box that arrived or left, or channels switched in the settings,
    // give the strips a new layout.
    QString message;
    if (boxChannels() != m_nLayoutBoxChannels || enabledEntries(message) != m_stripEntries) {
        RedoDisplay();
    }
    if (Sample()) {
        AnimateData();
    }
    update();
}

void ScopeView::cleanup()
{
    if (_timer->isActive()) {
        _timer->stop();
        qCDebug(scopeLog) << "tick done";
    }
    m_bViewIntilized = false;
    if (m_source != nullptr) {
        m_source->release();
    }
}

void ScopeView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (!m_bmpScope.isNull()) {
        painter.drawImage(0, 0, m_bmpScope);
        painter.setOpacity(0.2);
        painter.drawImage(0, 0, m_bmpScopeGrid);
        painter.setOpacity(1.0);
    }
    // Scales and titles at full strength, readable over the traces.
    painter.setPen(Qt::black);
    for (const int x : m_timeTicks) {
        painter.drawLine(x, kTopBand - 6, x, kTopBand - 2);
    }
    for (const ScaleText& text : m_scaleTexts) {
        painter.fillRect(text.box, QColor(255, 255, 255, 220));
        painter.drawText(text.box, Qt::AlignCenter, text.text);
    }
    if (!m_message.isEmpty()) {
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(QRect(0, 0, width(), kTopBand), Qt::AlignCenter | Qt::TextWordWrap,
                         m_message);
    }
    m_bRedraw = false;
}

void ScopeView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    RedoDisplay();
}

// --- the window -----------------------------------------------------------------

ScopeWindowController::ScopeWindowController(std::unique_ptr<ScopeSource> source,
                                             const AppSettings& settings, QWidget* parent)
    : QWidget(parent, Qt::Window), m_source(std::move(source))
{
    setObjectName(QStringLiteral("scopeWindowController"));
    setWindowTitle(tr("Scope"));
    setAccessibleName(tr("Scope"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_view = new ScopeView(m_source.get(), settings, this);
    layout->addWidget(m_view);
    resize(640, 480);
}

ScopeWindowController::~ScopeWindowController()
{
    // The view goes before the source it refers to.
    if (m_view) {
        m_view->cleanup();
        delete m_view.data();
    }
}

void ScopeWindowController::initilize()
{
    m_view->OnInitialUpdate();
}

void ScopeWindowController::closeEvent(QCloseEvent* event)
{
    m_view->cleanup();
    event->accept();
}

} // namespace phonaxis
