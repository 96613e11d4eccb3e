#include "windows/ui/FFTView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStringList>

#include <cmath>

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

QString FFTView::spokenSummary() const
{
    // What the graph writes over the spectrum, as a screen reader speaks
    // it: the analysis, each formant found with its bandwidth, the marker.
    QStringList parts;
    parts << QString::fromStdString(m_analysis.analysisCaption());
    if (m_analysis.m_bHaveFormants) {
        QStringList formants;
        for (int i = 0; i < SpectrumAnalysis::kFormantsShown; ++i) {
            const double f = m_analysis.m_dFormat[static_cast<std::size_t>(i)];
            const double b = m_analysis.m_dBandWidth[static_cast<std::size_t>(i)];
            if (std::isfinite(f) && f > 0.0) {
                formants << tr("F%1 %2 Hz (bandwidth %3 Hz)")
                                .arg(i + 1)
                                .arg(QString::number(f, 'f', 1))
                                .arg(std::isfinite(b) && b > 0.0 ? QString::number(b, 'f', 1)
                                                                 : tr("unknown"));
            }
        }
        parts << (formants.isEmpty() ? tr("No formants found")
                                     : formants.join(QStringLiteral(", ")));
    } else {
        parts << tr("No formants");
    }
    if (m_analysis.m_bHaveMarker) {
        parts << tr("Marker at %1 Hz: FFT %2 dB")
                         .arg(QString::number(m_analysis.m_dMarkerFreqValue, 'f', 1),
                              QString::number(m_analysis.m_dMarkerFFTdBValue, 'f', 1)) +
                     (m_analysis.m_bHaveLPC
                          ? tr(", LPC %1 dB")
                                .arg(QString::number(m_analysis.m_dMarkerLPCdBValue, 'f', 1))
                          : QString());
    }
    return parts.join(QStringLiteral(". ")) + QLatin1Char('.');
}

void FFTView::analysisChanged()
{
    setAccessibleDescription(spokenSummary());
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
    setAccessibleDescription(spokenSummary());
    update();
    emit markerChanged();
}

void FFTView::leaveEvent(QEvent* /*event*/)
{
    emit readoutChanged({}, {});
}

} // namespace phonaxis
