#include "display/SpectrumGraph.h"

#include "display/GraphAxes.h"
#include "display/GraphPrimitives.h"
#include "document/MyDocument.h"
#include "windows/SpectrumAnalysis.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPolygon>
#include <QTextOption>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <span>

namespace phonaxis {

namespace {

// Display points left out at the start of the curve (the lowest few Hz).
constexpr int kFirstDrawnPoint = 5;
// Levels below the absolute display's zero that the graph still shows, dB.
constexpr int kAbsoluteFloorDb = 20;
// Distance of the formant text from the graph's corner.
constexpr int kTextInsetPx = 4;
// Widest frequency and level labels the axes are laid out for.
const QString kWidestFrequencyLabel = QStringLiteral("00000");
const QString kWidestLevelLabel = QStringLiteral("-000");

const RGBColor kSpectrumColor{0xFFFF, 0, 0};
const RGBColor kEnvelopeColor{0, 0, 0xFFFF};
const RGBColor kMarkerColor{0xFFFF, 0, 0};

int rectWidth(const Rect& rect)
{
    return rect.right - rect.left;
}

int rectHeight(const Rect& rect)
{
    return rect.bottom - rect.top;
}

// The y of a level (as the analysis holds it: 0 at the spectrum's minimum)
// in the graph; levels off the graph lie off it (the curves are clipped to
// the graph, so an envelope that falls below it is not drawn along its
// bottom). Relative levels span the graph's
// height with the spectrum's range; absolute ones put 0 dB 20 dB above the
// bottom and span the absolute range plus those 20 dB.
class LevelScale {
public:
    LevelScale(const Rect& graph, const SpectrumAnalysis& analysis, const SpectrumGraphStyle& style)
        : m_graph(graph), m_absolute(analysis.m_parameters.m_bFFTAbsolute),
          m_minimum(analysis.m_dFFTMIN)
    {
        const double height = rectHeight(graph);
        if (m_absolute) {
            m_pixelsPerDb = height / (style.m_nFFTABSdBGrid + kAbsoluteFloorDb);
            m_lift = kAbsoluteFloorDb * static_cast<int>(m_pixelsPerDb);
        } else {
            const double range = analysis.m_dFFTMAX - analysis.m_dFFTMIN;
            m_pixelsPerDb = range > 0.0 ? height / range : 0.0;
        }
    }

    bool usable() const { return std::isfinite(m_pixelsPerDb) && m_pixelsPerDb > 0.0; }

    int y(double level) const
    {
        const double offset =
            m_absolute ? (level + m_minimum) * m_pixelsPerDb : level * m_pixelsPerDb;
        // Far enough off the graph for any view, small enough for the rasteriser.
        constexpr double kFar = 1 << 16;
        const double clamped = std::clamp(offset, -kFar, kFar);
        return m_graph.bottom - m_lift - static_cast<int>(clamped);
    }

private:
    Rect m_graph;
    bool m_absolute;
    double m_minimum;
    double m_pixelsPerDb = 0.0;
    int m_lift = 0;
};

// A curve through display points 5, 6, …; `fromCorner` starts it at the
// graph's bottom-left corner (the spectrum), else at point 5 (the envelope,
// which would otherwise draw a line up the 0 Hz edge).
void drawCurve(QPainter& painter, const Rect& graph, std::span<const double> levels,
               int displayPoints, const LevelScale& scale, const QPen& pen, bool fromCorner)
{
    // A curve may cover only the first display points (a precise model's
    // envelope ends at its ceiling): points lie where their frequency is.
    const int points = static_cast<int>(std::min<std::size_t>(
        levels.size(), static_cast<std::size_t>(std::max(displayPoints, 0))));
    QPolygon line;
    line.reserve(points);
    if (fromCorner) {
        line << QPoint(graph.left, graph.bottom);
    }
    for (int j = kFirstDrawnPoint; j < points; ++j) {
        line << QPoint(spectrumPointX(graph, j, displayPoints),
                       scale.y(levels[static_cast<std::size_t>(j)]));
    }
    painter.setPen(pen);
    painter.drawPolyline(line);
}

// The levels the level axis spans, dB: absolute levels from −20 dB up to the
// absolute range; relative ones from the spectrum's range below its peak
// up to the peak (0). False when there is no usable range.
bool levelAxisRange(const SpectrumAnalysis& analysis, const SpectrumGraphStyle& style,
                    double& low, double& high)
{
    if (analysis.m_parameters.m_bFFTAbsolute) {
        low = -kAbsoluteFloorDb;
        high = style.m_nFFTABSdBGrid;
    } else {
        low = -(analysis.m_dFFTMAX - analysis.m_dFFTMIN);
        high = 0.0;
    }
    return high > low && std::isfinite(high - low) && high - low < 1e6;
}

// The level grid's lines. Absolute levels: lines from −20 dB up in the grid
// step. Relative levels: lines down from the peak (0) in the grid step, laid
// out as a grid from a multiple of the step below the graph and cut at the
// graph's bottom.
void drawLevelGridLines(QPainter& painter, const Rect& graph, QSize viewSizePx,
                        const SpectrumAnalysis& analysis, const SpectrumGraphStyle& style)
{
    const int step = style.m_nFFTdBGrid;
    if (analysis.m_parameters.m_bFFTAbsolute) {
        DrawAnyGrid(painter, graph, -kAbsoluteFloorDb, style.m_nFFTABSdBGrid, step, 1, false, false);
        return;
    }
    const double range = analysis.m_dFFTMAX - analysis.m_dFFTMIN;
    if (step <= 0 || !(range > 0.0) || !std::isfinite(range)) {
        return;
    }
    const double whole = std::ceil(range / step) * step;
    if (whole > 1e6) {
        return;
    }
    Rect extended = graph;
    extended.bottom = static_cast<std::int16_t>(
        std::min<double>(graph.top + std::floor(whole * rectHeight(graph) / range), INT16_MAX));
    painter.save();
    painter.setClipRect(QRect(0, 0, viewSizePx.width(), graph.bottom + 1));
    DrawAnyGrid(painter, extended, -static_cast<int>(whole), 0, step, 1, false, false);
    painter.restore();
}

// The formants and bandwidths as the picture lists them: a row each, with
// their unit, a value per formant and "–" where none was found.
QString formantTable(const SpectrumAnalysis& analysis)
{
    if (!analysis.m_bHaveFormants) {
        return {};
    }
    const auto row = [&](const QString& title, const auto& values) {
        QString line = title;
        for (int i = 0; i < SpectrumAnalysis::kFormantsShown; ++i) {
            const double value = values[static_cast<std::size_t>(i)];
            line += QLatin1Char('\t') + (std::isfinite(value) && value > 0.0
                                             ? QString::number(value, 'f', 1)
                                             : QStringLiteral("–"));
        }
        return line;
    };
    return row(QStringLiteral("Formants (Hz)"), analysis.m_dFormat) + QLatin1Char('\n') +
           row(QStringLiteral("Bandwidths (Hz)"), analysis.m_dBandWidth);
}

void drawFormantText(QPainter& painter, const Rect& graph, const QString& shown)
{
    if (shown.isEmpty()) {
        return;
    }
    painter.save();
    painter.setFont(defaultTextFont());
    painter.setPen(Qt::black);
    QTextOption option;
    // Tab stops a little wider than the widest value ("-1234.5").
    option.setTabStopDistance(QFontMetrics(painter.font()).horizontalAdvance(QStringLiteral("00000.00")));
    option.setWrapMode(QTextOption::NoWrap);
    const QRectF area(graph.left, graph.top, rectWidth(graph), rectHeight(graph));
    const QRectF needed = painter.boundingRect(area, shown, option);
    const QRectF placed(area.right() - needed.width() - kTextInsetPx, area.top() + kTextInsetPx,
                        needed.width(), needed.height());
    painter.drawText(placed, shown, option);
    painter.restore();
}

} // namespace

SpectrumGraphStyle SpectrumGraphStyle::fromDocument(const DocumentFields& document)
{
    SpectrumGraphStyle style;
    style.m_bFFTFreqGrid = document.m_bFFTDrawFrequencyGrid;
    style.m_nFFTFreqGrid = document.m_nFFTFrequencyGrid;
    style.m_bFFTDBGrid = document.m_bFFTDrawDBGrid;
    style.m_nFFTdBGrid = document.m_nFFTDBGrid;
    style.m_nFFTABSdBGrid = document.m_nFFTAbsoluteRange;
    style.m_bFFTColor = document.m_bFFTColor;
    return style;
}

QString spectrumGraphCaption(GraphCaption caption, const SpectrumAnalysis& analysis)
{
    std::string mode = analysis.analysisCaption();
    if (!mode.empty()) {
        mode[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(mode[0])));
        mode = ", " + mode;
    }
    caption.analysis = "FFT/LPC spectrum" + mode;
    return caption.text();
}

Rect spectrumGraphRect(QSize viewSizePx)
{
    const auto side = [](int pixels) {
        return static_cast<std::int16_t>(std::clamp(pixels, 0, static_cast<int>(INT16_MAX)));
    };
    const GraphTextScale scale(viewSizePx);
    const QFontMetrics metrics(defaultTextFont());
    const int lineHeight = metrics.height();
    Rect graph;
    // The caption line, and room for half of the top level label.
    graph.top = side(captionLineHeight(metrics) + lineHeight / 2);
    // The turned level title, a gap and the level labels with their ticks.
    const int left = 4 + lineHeight + 4 + leftValueLabelsWidth(metrics, -1000.0, 0.0);
    graph.left = side(std::min(left, viewSizePx.width()));
    graph.bottom = side(std::max(viewSizePx.height() - timeAxisHeight(metrics) - 2,
                                 static_cast<int>(graph.top)));
    // Half of the widest frequency label beyond the last grid line.
    const int right = viewSizePx.width() - metrics.horizontalAdvance(kWidestFrequencyLabel) / 2 - 4;
    graph.right = side(std::max(right, static_cast<int>(graph.left)));
    return graph;
}

int spectrumPointX(const Rect& graph, int j, int displayPoints)
{
    if (displayPoints <= 0) {
        return graph.left;
    }
    return graph.left +
           static_cast<int>(static_cast<std::int64_t>(j) * rectWidth(graph) / displayPoints);
}

void drawSpectrumGraph(QPainter& painter, QSize viewSizePx, const SpectrumAnalysis& analysis,
                       const SpectrumGraphStyle& style)
{
    painter.save();
    const GraphTextScale textScale(viewSizePx);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(QRect(QPoint(0, 0), viewSizePx), Qt::white);
    const Rect graph = spectrumGraphRect(viewSizePx);
    const std::span<const double> spectrum = analysis.spectrum();
    if (rectWidth(graph) <= 0 || rectHeight(graph) <= 0 || spectrum.empty()) {
        painter.restore();
        return;
    }
    const QFontMetrics metrics(defaultTextFont());
    const QRect bounds(QPoint(0, 0), viewSizePx - QSize(1, 1));
    // The caption line says what the picture shows and which analysis its
    // formants and envelope are.
    drawCaptionLine(painter, viewSizePx,
                    style.caption.isEmpty() ? QString::fromStdString(analysis.analysisCaption())
                                            : style.caption);
    const int rangeHz = analysis.m_parameters.m_nFFTfreqRange;
    if (style.m_bFFTFreqGrid) {
        DrawAnyGrid(painter, graph, 0, rangeHz, style.m_nFFTFreqGrid, 2, false, false);
    }
    // Frequency labels at a multiple of the grid step that leaves room for
    // the widest of them.
    const int frequencyStep =
        fittingValueStep(style.m_nFFTFreqGrid > 0 ? style.m_nFFTFreqGrid : 1000, rangeHz,
                         rectWidth(graph),
                         metrics.horizontalAdvance(QString::number(rangeHz)) + metrics.height());
    drawBottomValueLabels(painter, graph, 0, rangeHz, frequencyStep, bounds);
    drawHorizontalAxisTitle(painter, graph, graph.bottom + timeAxisHeight(metrics) - metrics.height(),
                            QStringLiteral("Frequency (Hz)"));
    double lowDb = 0.0;
    double highDb = 0.0;
    if (levelAxisRange(analysis, style, lowDb, highDb)) {
        if (style.m_bFFTDBGrid) {
            drawLevelGridLines(painter, graph, viewSizePx, analysis, style);
        }
        const int levelStep =
            fittingValueStep(style.m_nFFTdBGrid > 0 ? style.m_nFFTdBGrid : 20, highDb - lowDb,
                             rectHeight(graph), 1.5 * metrics.height());
        drawLeftValueLabels(painter, graph, lowDb, highDb, levelStep, bounds);
    }
    drawVerticalAxisTitle(painter, graph, 4,
                          analysis.m_parameters.m_bFFTAbsolute ? QStringLiteral("Level (dB)")
                                                               : QStringLiteral("Level (dB re peak)"));
    const LevelScale scale(graph, analysis, style);
    if (scale.usable()) {
        painter.save();
        painter.setClipRect(QRect(QPoint(graph.left, graph.top), QPoint(graph.right, graph.bottom)),
                           Qt::IntersectClip);
        drawCurve(painter, graph, spectrum, analysis.displayPoints(), scale,
                  QPen(toQColor(style.m_bFFTColor ? kSpectrumColor : RGBColor{}), 1.0), true);
        if (analysis.m_parameters.m_bFFTDrawLPC && !analysis.envelope().empty()) {
            drawCurve(painter, graph, analysis.envelope(), analysis.displayPoints(), scale,
                      QPen(toQColor(style.m_bFFTColor ? kEnvelopeColor : RGBColor{}), 2.0), false);
        }
        painter.restore();
    }
    painter.setPen(QPen(Qt::black, 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(graph.left, graph.top, rectWidth(graph), rectHeight(graph)));
    drawFormantText(painter, graph, formantTable(analysis));
    if (analysis.m_bHaveMarker && analysis.m_dFreqfactor > 0.0) {
        const auto j =
            static_cast<int>(std::lround(analysis.m_dMarkerFreqValue / analysis.m_dFreqfactor));
        const int x = spectrumPointX(graph, j, analysis.displayPoints());
        painter.fillRect(QRect(x, graph.top, 2, rectHeight(graph)), toQColor(kMarkerColor, 0.8));
    }
    painter.restore();
}

} // namespace phonaxis
