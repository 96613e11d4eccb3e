#include "display/SpectrogramGraph.h"


#include "display/GraphAxes.h"
#include "display/GraphPanes.h"
#include "display/GraphPrimitives.h"
#include "display/MainViewRenderer.h"
#include "document/MyDocument.h"
#include "model/Channels.h"
#include "windows/SpectrogramAnalysis.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace phonaxis {
namespace {

constexpr RGBColor kWaveformColor{0, 0x8000, 0};
// Pixels past which a mapped position is only "far off the view".
constexpr double kFarPx = 1 << 20;

int clampedPixel(double v)
{
    return static_cast<int>(std::clamp(std::isfinite(v) ? v : 0.0, -kFarPx, kFarPx));
}

// The waveform pane: the snapshot's waveform scaled to its largest
// excursion, its samples one by one or its pixel columns' extremes.
void drawWaveform(QPainter& painter, const Rect& pane, const SpectrogramWaveform* waveform)
{
    drawPaneFrame(painter, pane, QString());
    if (waveform == nullptr) {
        return;
    }
    const MinMax& extremes = waveform->extremes;
    double largest = extremes.present() ? std::max(std::fabs(double(extremes.minimum)),
                                                   std::fabs(double(extremes.maximum)))
                                        : 0.0;
    if (!(largest > 0.0) || !std::isfinite(largest)) {
        largest = 1.0;
    }
    const double scale = rectHeight(pane) / (2.0 * largest) * 0.95;
    painter.save();
    painter.setClipRect(toQRect(pane), Qt::IntersectClip);
    if (!waveform->samples.empty()) {
        DrawGraphFloat_1(painter, 0, pagePosition(waveform->pageMax - waveform->pageMin),
                         waveform->samples, scale, 0.5, 0.0, pane, kWaveformColor, false,
                         RGBColor{0, 0, 0});
    } else {
        DrawMinMaxColumns(painter, waveform->columns, scale, 0.5, pane, kWaveformColor);
    }
    painter.restore();
}

// "Spectrogram" and the analysis caption, if any.
QString spectrogramAnalysisText(const QString& analysisCaption)
{
    return analysisCaption.isEmpty() ? QStringLiteral("Spectrogram")
                                     : QStringLiteral("Spectrogram, ") +
                                           analysisCaption.left(1).toLower() +
                                           analysisCaption.mid(1);
}

} // namespace

QString spectrogramGraphTitle(GraphCaption caption, const QString& analysisCaption)
{
    caption.analysis = spectrogramAnalysisText(analysisCaption).toStdString();
    return caption.text();
}

SpectrogramGraphSettings SpectrogramGraphSettings::fromDocument(const DocumentFields& document)
{
    SpectrogramGraphSettings settings;
    settings.frequencyRangeHz = document.m_nSpecfrequencyRange;
    settings.drawAudio = document.m_bSpecDrawAudio;
    settings.drawLabels = document.m_bSpecDrawLabels;
    settings.drawFreqGrid = document.m_bSpecDrawFrequencyGrid;
    settings.freqGridHz = document.m_nSpecFrequencyGrid;
    settings.drawTimeGrid = document.m_bSpecDrawTimeGrid;
    settings.timeGridMs = document.m_nSpecTimeGrid;
    return settings;
}

SpectrogramGraphLayout SpectrogramGraphLayout::forView(QSize viewSizePx, bool labels, bool audio)
{
    SpectrogramGraphLayout layout;
    const GraphTextScale scale(viewSizePx);
    const QFontMetrics metrics(defaultTextFont());
    const int left = 4 + metrics.height() + 4 + leftValueLabelsWidth(metrics, 0.0, 10000.0);
    const int right = viewSizePx.width() - kRightMargin;
    const int bottom = viewSizePx.height() - timeAxisHeight(metrics) - 2;
    int top = captionLineHeight(metrics) + kTopMargin;
    if (labels) {
        layout.haveLabels = true;
        layout.labels = paneRect(top, left, top + kLabelStripHeight, right);
        top += kLabelStripHeight + 1;
    }
    const int timedTop = top;
    if (audio) {
        const int fifth = (bottom - top) / 5;
        layout.haveAudio = true;
        layout.audio = paneRect(top, left, top + fifth - kPaneGap, right);
        top += fifth;
    }
    layout.image = paneRect(top, left, bottom, right);
    layout.timed = paneRect(timedTop, left, bottom, right);
    return layout;
}

int SpectrogramGraphLayout::columns() const
{
    return std::max(rectWidth(image), 0);
}

int SpectrogramGraphLayout::rows() const
{
    return std::max(rectHeight(image), 0);
}

bool SpectrogramGraphLayout::inImage(QPoint point) const
{
    return point.x() >= image.left && point.x() < image.right && point.y() >= image.top &&
           point.y() < image.bottom;
}

SpectrogramGraphLayout SpectrogramGraphInput::layout(QSize viewSizePx) const
{
    return SpectrogramGraphLayout::forView(
        viewSizePx, settings.drawLabels && !labelChannels.empty(), settings.drawAudio);
}

double SpectrogramGraphInput::timeFactor(int columns) const
{
    return columns > 0 ? (stopTime - startTime) / columns : 0.0;
}

double SpectrogramGraphInput::timeAt(const SpectrogramGraphLayout& layout, int x) const
{
    return startTime + (x - layout.image.left) * timeFactor(layout.columns());
}

double SpectrogramGraphInput::frequencyAt(const SpectrogramGraphLayout& layout, int y) const
{
    const int rows = layout.rows();
    return rows > 0 ? (layout.image.bottom - y) * (double(settings.frequencyRangeHz) / rows) : 0.0;
}

int SpectrogramGraphInput::xAt(const SpectrogramGraphLayout& layout, double timeMs) const
{
    const double factor = timeFactor(layout.columns());
    return factor > 0.0 ? clampedPixel(layout.image.left + (timeMs - startTime) / factor)
                        : layout.image.left;
}

int SpectrogramGraphInput::yAt(const SpectrogramGraphLayout& layout, double frequencyHz) const
{
    const int rows = layout.rows();
    if (rows <= 0 || settings.frequencyRangeHz <= 0) {
        return layout.image.bottom;
    }
    return clampedPixel(layout.image.bottom - frequencyHz * rows / settings.frequencyRangeHz);
}

QImage spectrogramImage(const SpectrogramResult& result)
{
    return spectrogramImage(result, {});
}

QImage spectrogramImage(const SpectrogramResult& result, std::span<const std::uint8_t> shown)
{
    const SpectrogramImage entries = DrawSpectrogramBMP(result, result.columns, result.rows, shown);
    if (entries.width <= 0 || entries.height <= 0) {
        return {};
    }
    QImage image(entries.width, entries.height, QImage::Format_Grayscale8);
    if (image.isNull()) {
        return {};
    }
    for (int y = 0; y < entries.height; ++y) {
        uchar* line = image.scanLine(y);
        const std::size_t row =
            static_cast<std::size_t>(y) * static_cast<std::size_t>(entries.width);
        for (int x = 0; x < entries.width; ++x) {
            line[x] = SpectrogramImage::grey(entries.entries[row + static_cast<std::size_t>(x)]);
        }
    }
    return image;
}

QString spectrogramCaption(const SpectrogramInput& input)
{
    return QString::fromStdString(spectrogramAnalysisCaption(input.parameters, input.sampleRate));
}

SpectrogramGraphInput spectrogramGraphInput(const SpectrogramInput& input,
                                            const SpectrogramResult* result, QImage image,
                                            const MyDocument& document)
{
    SpectrogramGraphInput graph;
    graph.result = result;
    graph.image = std::move(image);
    graph.waveform = &input.waveform;
    graph.startPoint = input.startPoint;
    graph.endPoint = input.endPoint;
    graph.startTime = input.startTime;
    graph.stopTime = input.stopTime;
    graph.settings = SpectrogramGraphSettings::fromDocument(document);
    // The range the spectrogram was computed for, not a later setting.
    graph.settings.frequencyRangeHz = input.parameters.m_nFreqRange;
    graph.caption = spectrogramCaption(input);
    for (int i = 0; i < document.channelsInUse(); ++i) {
        const Channels& shown = document.getChannel(i);
        if (shown.m_bShow && !shown.m_pArrayLabels.empty()) {
            graph.labelChannels.push_back(&shown);
        }
    }
    return graph;
}

void drawSpectrogramGraph(QPainter& painter, QSize viewSizePx, const SpectrogramGraphInput& input)
{
    const GraphTextScale textScale(viewSizePx);
    const SpectrogramGraphLayout layout = input.layout(viewSizePx);
    if (layout.columns() <= 0 || layout.rows() <= 0) {
        return;
    }
    const SpectrogramGraphSettings& settings = input.settings;
    const QRect bounds(QPoint(0, 0), viewSizePx - QSize(1, 1));
    const QString analysis = spectrogramAnalysisText(input.caption);
    drawCaptionLine(painter, viewSizePx, input.title.isEmpty() ? analysis : input.title);
    if (!input.image.isNull()) {
        painter.save();
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(toQRect(layout.image).adjusted(0, 0, -1, -1), input.image);
        painter.restore();
    }
    drawPaneFrame(painter, layout.image, QString());
    // Grids over the image, so that they show on black too; the dots last.
    if (input.stopTime > input.startTime) {
        const TimeAxisGrid grid{layout.timed, settings.timeGridMs, kTimeGridColor};
        drawTimeAxis(painter, layout.image, input.startTime, input.stopTime, bounds,
                     settings.drawTimeGrid ? &grid : nullptr);
    }
    const QFontMetrics metrics(defaultTextFont());
    const int gridStep = settings.freqGridHz > 0 ? settings.freqGridHz : 1000;
    if (settings.drawFreqGrid) {
        DrawAnyGrid(painter, layout.image, 0, settings.frequencyRangeHz, gridStep, 1, false, false);
    }
    const int labelStep = fittingValueStep(gridStep, settings.frequencyRangeHz,
                                           layout.rows(), 1.5 * metrics.height());
    drawLeftValueLabels(painter, layout.image, 0, settings.frequencyRangeHz, labelStep,
                        QRect(QPoint(0, layout.image.top), QPoint(layout.image.left,
                                                                  layout.image.bottom)));
    drawVerticalAxisTitle(painter, layout.image, 4, QStringLiteral("Frequency (Hz)"));
    if (layout.haveLabels) {
        drawLabelStrip(painter, layout.labels, input.labelChannels, input.startTime,
                       input.stopTime);
    }
    if (layout.haveAudio && rectHeight(layout.audio) > 0) {
        drawWaveform(painter, layout.audio, input.waveform);
    }
    if (input.result != nullptr && !input.result->formants.empty()) {
        painter.save();
        painter.setClipRect(toQRect(layout.image), Qt::IntersectClip);
        DrawFormantTrack(painter, input.result->formants, layout.image, settings.frequencyRangeHz);
        painter.restore();
    }
}

} // namespace phonaxis
