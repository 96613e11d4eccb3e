#include "display/PitchGraph.h"

#include "display/GraphPrimitives.h"
#include "display/MainViewRenderer.h"
#include "document/MyDocument.h"
#include "model/Channels.h"
#include "model/MinMaxSummary.h"
#include "windows/PitchWorker.h"

#include <QFontMetrics>
#include <QPainter>
#include <QRect>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace phonaxis {
namespace {

constexpr int kTopMargin = 5;
constexpr RGBColor kBlack{0, 0, 0};
constexpr RGBColor kPitchColor{0xFFFF, 0, 0};
constexpr RGBColor kIntensityColor{0, 0, 0xFFFF};
constexpr RGBColor kWaveformColor{0, 0x8000, 0};

Rect makeRect(int top, int left, int bottom, int right)
{
    const auto side = [](int v) {
        return static_cast<std::int16_t>(std::clamp<int>(
            v, std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max()));
    };
    return Rect{side(top), side(left), side(bottom), side(right)};
}

QRect toQRect(const Rect& rect)
{
    return QRect(QPoint(rect.left, rect.top), QPoint(rect.right, rect.bottom));
}

int width(const Rect& rect)
{
    return int(rect.right) - int(rect.left);
}

int height(const Rect& rect)
{
    return int(rect.bottom) - int(rect.top);
}

// A page position as the int the float trace primitive takes.
std::int32_t pageIndex(double position)
{
    constexpr double kLimit = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::clamp(std::floor(position), -kLimit, kLimit));
}

// A pane's frame and its title in the top left corner.
void drawPane(QPainter& painter, const Rect& pane, const QString& title)
{
    painter.save();
    painter.setPen(QPen(Qt::black, 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(pane.left, pane.top, width(pane), height(pane)));
    if (!title.isEmpty()) {
        painter.setFont(defaultTextFont());
        const QFontMetrics metrics(painter.font());
        painter.drawText(QPointF(pane.left + 3.0, pane.top + 2.0 + metrics.ascent()), title);
    }
    painter.restore();
}

void drawWaveform(QPainter& painter, const PitchGraphInput& input, const Rect& pane)
{
    drawPane(painter, pane, QString());
    if (input.samples.empty()) {
        return;
    }
    // Scaled to the channel's largest excursion, so quiet recordings show.
    const MinMax extremes = input.summary != nullptr
                                ? input.summary->range(input.samples, 0, input.samples.size())
                                : MinMax::none();
    double largest = 0.0;
    if (extremes.present()) {
        largest = std::max(std::fabs(double(extremes.minimum) - input.reference),
                           std::fabs(double(extremes.maximum) - input.reference));
    } else {
        for (const float x : input.samples) {
            largest = std::max(largest, std::fabs(double(x) - input.reference));
        }
    }
    if (!(largest > 0.0) || !std::isfinite(largest)) {
        largest = 1.0;
    }
    const double scale = height(pane) / (2.0 * largest) * 0.95;
    painter.save();
    painter.setClipRect(toQRect(pane), Qt::IntersectClip);
    DrawGraphFloat_1(painter, pageIndex(input.pageMin), pageIndex(input.pageMax), input.samples,
                     scale, 0.5, input.reference, pane,
                     input.settings.color ? kWaveformColor : kBlack, false, kBlack, input.summary);
    painter.restore();
}

void drawIntensity(QPainter& painter, const PitchGraphInput& input, const Rect& pane)
{
    drawPane(painter, pane, QStringLiteral("dB"));
    const double divisor =
        input.intensityRelative ? input.intensityMax - input.intensityMin : input.intensityMax;
    const double scale = height(pane) / divisor;
    if (input.intensity.empty() || !(divisor > 0.0) || !std::isfinite(scale)) {
        return;
    }
    painter.save();
    painter.setClipRect(toQRect(pane), Qt::IntersectClip);
    DrawGraphFloat_1(painter, pageIndex(input.pageMin), pageIndex(input.pageMax), input.intensity,
                     scale, 0.0, 0.0, pane, input.settings.color ? kIntensityColor : kBlack, false,
                     kBlack);
    painter.restore();
}

// The track's dots with frame k at its time k × length / frames: the frames
// around the page are handed to DrawPitchTrack with a rectangle widened so
// that its edges fall on their times, and clipped to the pane.
void drawTrack(QPainter& painter, const PitchGraphInput& input, const Rect& pane)
{
    const PitchGraphSettings& settings = input.settings;
    const double frames = static_cast<double>(input.track.size());
    const double startMs = input.pageStartMs();
    const double endMs = input.pageEndMs();
    if (input.track.empty() || !(input.lengthMs > 0.0) || !(endMs > startMs)) {
        return;
    }
    const double framesPerMs = frames / input.lengthMs;
    const double firstFrame = std::floor(startMs * framesPerMs);
    const double endFrame = std::min(frames, std::ceil(endMs * framesPerMs) + 1.0);
    const double pixelsPerMs = width(pane) / (endMs - startMs);
    const double left = pane.left + (firstFrame / framesPerMs - startMs) * pixelsPerMs;
    const double right = pane.left + (endFrame / framesPerMs - startMs) * pixelsPerMs;
    if (!(endFrame > firstFrame) || !std::isfinite(left) || !std::isfinite(right)) {
        return;
    }
    const Rect spread =
        makeRect(pane.top, int(std::lround(left)), pane.bottom, int(std::lround(right)));
    painter.save();
    painter.setClipRect(toQRect(pane), Qt::IntersectClip);
    DrawPitchTrack(painter, input.track, static_cast<int>(firstFrame), static_cast<int>(endFrame),
                   spread, settings.displayLowHz, settings.displayHighHz,
                   settings.color ? kPitchColor : kBlack);
    painter.restore();
}

void drawFrequencyAxis(QPainter& painter, const PitchGraphInput& input, const Rect& pane)
{
    const PitchGraphSettings& settings = input.settings;
    if (settings.drawFreqGrid) {
        DrawAnyGrid(painter, pane, settings.displayLowHz, settings.displayHighHz,
                    settings.freqGridHz, 1, true, false);
        return;
    }
    // Without the grid the pane's range is still written at its ends.
    painter.save();
    painter.setPen(Qt::black);
    painter.setFont(defaultTextFont());
    const QFontMetrics metrics(painter.font());
    for (const auto& [value, y] : {std::pair{settings.displayHighHz, int(pane.top)},
                                   std::pair{settings.displayLowHz, int(pane.bottom)}}) {
        const QString text = QString::number(value);
        painter.drawText(QPointF(pane.left - 3 - metrics.horizontalAdvance(text),
                                 y - metrics.height() / 2.0 + metrics.ascent()),
                         text);
    }
    painter.restore();
}

void drawLabelStrip(QPainter& painter, const PitchGraphInput& input, const Rect& strip)
{
    for (const Channels* channel : input.labelChannels) {
        // Placed as the main view places them, on a channel that has the
        // strip's geometry: every label's top at the strip's top.
        Channels placing;
        placing.m_rLocation = strip;
        placing.m_nHeigth = 0;
        placing.m_pArrayLabels = channel->m_pArrayLabels;
        placing.m_nLabelCount = static_cast<std::int32_t>(placing.m_pArrayLabels.size());
        painter.save();
        painter.setClipRect(toQRect(strip), Qt::IntersectClip);
        DrawLabels(painter, placing, input.pageStartMs(), input.pageEndMs());
        painter.restore();
    }
}

} // namespace

PitchGraphSettings PitchGraphSettings::fromDocument(const DocumentFields& document)
{
    PitchGraphSettings settings;
    settings.displayLowHz = document.m_nDisplayLow;
    settings.displayHighHz = document.m_nDisplayHigh;
    settings.drawFreqGrid = document.m_bPitchDrawFreqGrid;
    settings.freqGridHz = document.m_nPitchFreqGrid;
    settings.drawTimeGrid = document.m_bPitchDrawTimeGrid;
    settings.timeGridMs = document.m_nPitchTimeGrid;
    settings.drawAudio = document.m_bPitchDrawAudio;
    settings.drawIntensity = document.m_bPitchDrawIntensity;
    settings.drawLabels = document.m_bPitchDrawLabels;
    settings.color = document.m_bPitchColor;
    return settings;
}

PitchGraphLayout PitchGraphLayout::forView(QSize viewSizePx, bool labels, bool audio,
                                           bool intensity)
{
    PitchGraphLayout layout;
    const int left = kLeftMargin;
    const int right = viewSizePx.width() - kRightMargin;
    const int bottom = viewSizePx.height() - kBottomMargin;
    int top = kTopMargin;
    if (labels) {
        layout.haveLabels = true;
        layout.labels = makeRect(top, left, top + kLabelStripHeight, right);
        top += kLabelStripHeight + kLabelStripGap;
    }
    const int graphTop = top;
    const int sixth = (bottom - top) / 6;
    if (audio) {
        layout.haveAudio = true;
        layout.audio = makeRect(top, left, top + sixth - kPaneGap, right);
        top += sixth;
    }
    if (intensity) {
        layout.haveIntensity = true;
        layout.intensity = makeRect(top, left, top + sixth - kPaneGap, right);
        top += sixth;
    }
    layout.pitch = makeRect(top, left, bottom, right);
    layout.graph = makeRect(graphTop, left, bottom, right);
    return layout;
}

bool PitchGraphLayout::contains(QPoint point) const
{
    return point.x() >= graph.left && point.x() <= graph.right && point.y() >= graph.top &&
           point.y() <= graph.bottom;
}

double PitchGraphLayout::timeAt(int x, double pageStartMs, double pageEndMs) const
{
    const int span = width(graph);
    if (span <= 0) {
        return pageStartMs;
    }
    return pageStartMs + (x - graph.left) * ((pageEndMs - pageStartMs) / span);
}

int PitchGraphLayout::xAt(double timeMs, double pageStartMs, double pageEndMs) const
{
    if (!(pageEndMs > pageStartMs)) {
        return graph.left;
    }
    const double x = graph.left + (timeMs - pageStartMs) * width(graph) / (pageEndMs - pageStartMs);
    constexpr double kFar = 1 << 20;
    return static_cast<int>(std::clamp(x, -kFar, kFar));
}

double PitchGraphInput::pageStartMs() const
{
    return samples.empty() ? 0.0 : pageMin * (lengthMs / static_cast<double>(samples.size()));
}

double PitchGraphInput::pageEndMs() const
{
    return samples.empty() ? 0.0 : pageMax * (lengthMs / static_cast<double>(samples.size()));
}

PitchGraphLayout PitchGraphInput::layout(QSize viewSizePx) const
{
    return PitchGraphLayout::forView(viewSizePx, settings.drawLabels && !labelChannels.empty(),
                                     settings.drawAudio, settings.drawIntensity);
}

PitchGraphInput pitchGraphInput(const PitchTrack& track, const MyDocument& document)
{
    return pitchGraphInput(track.channel, track.analysis, &track.summary, document);
}

PitchGraphInput pitchGraphInput(const Channels& channel, const PitchAnalysis& analysis,
                                const MinMaxSummary* summary, const MyDocument& document)
{
    PitchGraphInput input;
    input.samples = channel.samples();
    input.summary = summary;
    input.sampleRate = channel.m_dSampleRate;
    input.lengthMs = channel.m_dLengthMS;
    input.reference = channel.m_dReference;
    input.pageMin = analysis.m_dPageMin;
    input.pageMax = analysis.m_dPageMax;
    if (analysis.m_bHavePitch) {
        input.track = analysis.m_hdPitchFile;
    }
    if (channel.m_bHaveIntensity && channel.m_hfDataIntensity.present()) {
        input.intensity = channel.m_hfDataIntensity.span().first(
            std::min(channel.m_hfDataIntensity.size(), input.samples.size()));
        input.intensityMin = channel.m_dIntensityMin;
        input.intensityMax = channel.m_dIntensityMax;
        input.intensityRelative = channel.m_bIntensityRelative;
    }
    input.settings = PitchGraphSettings::fromDocument(document);
    for (int i = 0; i < document.channelsInUse(); ++i) {
        const Channels& shown = document.getChannel(i);
        if (shown.m_bShow && !shown.m_pArrayLabels.empty()) {
            input.labelChannels.push_back(&shown);
        }
    }
    return input;
}

void drawPitchGraph(QPainter& painter, QSize viewSizePx, const PitchGraphInput& input)
{
    const PitchGraphLayout layout = input.layout(viewSizePx);
    if (width(layout.pitch) <= 0 || height(layout.pitch) <= 0 || !(input.pageMax > input.pageMin) ||
        !(input.sampleRate > 0.0)) {
        return;
    }
    const PitchGraphSettings& settings = input.settings;
    const double startMs = input.pageStartMs();
    const double endMs = input.pageEndMs();

    // Grids first, under the traces.
    TimeGrids(painter, layout.graph, settings.timeGridMs, settings.drawTimeGrid, startMs, endMs,
              false, false, kTimeGridColor);
    drawFrequencyAxis(painter, input, layout.pitch);

    if (layout.haveLabels) {
        drawLabelStrip(painter, input, layout.labels);
    }
    if (layout.haveAudio && height(layout.audio) > 0) {
        drawWaveform(painter, input, layout.audio);
    }
    if (layout.haveIntensity && height(layout.intensity) > 0) {
        drawIntensity(painter, input, layout.intensity);
    }
    drawPane(painter, layout.pitch, QStringLiteral("Hz"));
    drawTrack(painter, input, layout.pitch);
}

} // namespace phonaxis
