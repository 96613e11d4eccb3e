#include "display/PitchGraph.h"

#include "display/GraphAxes.h"
#include "display/GraphPanes.h"
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
#include <optional>

namespace phonaxis {
namespace {

constexpr int kTopMargin = 3;
constexpr RGBColor kBlack{0, 0, 0};
constexpr RGBColor kPitchColor{0xFFFF, 0, 0};
constexpr RGBColor kIntensityColor{0, 0, 0xFFFF};
constexpr RGBColor kWaveformColor{0, 0x8000, 0};

// `bounds` cut to the height of `pane`: a pane's value labels stay beside it.
QRect paneBounds(const QRect& bounds, const Rect& pane)
{
    return QRect(QPoint(bounds.left(), pane.top), QPoint(bounds.right(), pane.bottom));
}

void drawWaveform(QPainter& painter, const PitchGraphInput& input, const Rect& pane)
{
    drawWaveformPane(painter, pane, input.samples, input.summary, input.reference, input.pageMin,
                     input.pageMax, input.settings.color ? kWaveformColor : kBlack);
}

// The intensity pane: the track over its pane scale (intensityPaneScale),
// whose ends are written left of the pane; levels below the scale, digital
// silence among them, lie below the pane.
void drawIntensity(QPainter& painter, const PitchGraphInput& input, const Rect& pane)
{
    // The title beside the pane like the pitch axis's, so that it hides no
    // part of the trace: the unit alone where the pane is too low for it.
    const QString unit = input.intensityRelative ? QStringLiteral("dB") : QStringLiteral("dBFS");
    const QString full = QStringLiteral("Intensity (%1)").arg(unit);
    const QFontMetrics titleMetrics(defaultTextFont());
    const int height = rectHeight(pane);
    const QString title = titleMetrics.horizontalAdvance(full) <= height ? full
                          : titleMetrics.horizontalAdvance(unit) <= height ? unit
                                                                            : QString();
    drawVerticalAxisTitle(painter, pane, 4, title);
    const std::optional<IntensityPaneScale> range =
        intensityPaneScale(input.intensityMin, input.intensityMax);
    if (input.intensity.empty() || !range) {
        drawPaneFrame(painter, pane, QString());
        return;
    }
    // Whole 10 dB labels as far apart as the pane needs, held beside it.
    const QFontMetrics metrics(defaultTextFont());
    const int labelStep = fittingValueStep(static_cast<int>(IntensityPaneScale::kGridDb),
                                           range->highDb - range->lowDb, rectHeight(pane),
                                           1.2 * metrics.height());
    drawLeftValueLabels(painter, pane, range->lowDb, range->highDb, labelStep,
                        QRect(QPoint(0, pane.top), QPoint(pane.left, pane.bottom)));
    // Value v lies at the baseline − v × scale: the scale's bottom on the
    // pane's bottom edge and its top on the top edge.
    const double span = range->highDb - range->lowDb;
    const double scale = rectHeight(pane) / span;
    painter.save();
    painter.setClipRect(toQRect(pane), Qt::IntersectClip);
    DrawGraphFloat_1(painter, pagePosition(input.pageMin), pagePosition(input.pageMax),
                     input.intensity, scale, -range->lowDb / span, 0.0, pane,
                     input.settings.color ? kIntensityColor : kBlack, false, kBlack);
    painter.restore();
    drawPaneFrame(painter, pane, QString());
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
    // A precise track's frames lie on the step grid, a classic track's
    // spread over the length.
    const double framesPerMs = input.frameMs > 0.0 ? 1.0 / input.frameMs : frames / input.lengthMs;
    const double firstFrame = std::floor(startMs * framesPerMs);
    const double endFrame = std::min(frames, std::ceil(endMs * framesPerMs) + 1.0);
    const double pixelsPerMs = rectWidth(pane) / (endMs - startMs);
    const double left = pane.left + (firstFrame / framesPerMs - startMs) * pixelsPerMs;
    const double right = pane.left + (endFrame / framesPerMs - startMs) * pixelsPerMs;
    if (!(endFrame > firstFrame) || !std::isfinite(left) || !std::isfinite(right)) {
        return;
    }
    const Rect spread =
        paneRect(pane.top, int(std::lround(left)), pane.bottom, int(std::lround(right)));
    painter.save();
    painter.setClipRect(toQRect(pane), Qt::IntersectClip);
    DrawPitchTrack(painter, input.track, static_cast<int>(firstFrame), static_cast<int>(endFrame),
                   spread, settings.displayLowHz, settings.displayHighHz,
                   settings.color ? kPitchColor : kBlack);
    painter.restore();
}

// The pitch pane's grid at the settings' step and its labels at a multiple
// of it that leaves room between them, with the axis title left of them.
void drawFrequencyAxis(QPainter& painter, const PitchGraphInput& input, const Rect& pane,
                       const QRect& bounds)
{
    const PitchGraphSettings& settings = input.settings;
    const int low = settings.displayLowHz;
    const int high = settings.displayHighHz;
    const int step = settings.freqGridHz > 0 ? settings.freqGridHz : 10;
    if (settings.drawFreqGrid) {
        DrawAnyGrid(painter, pane, low, high, step, 1, false, false);
    }
    const QFontMetrics metrics(defaultTextFont());
    const int labelStep = fittingValueStep(step, double(high) - low, rectHeight(pane),
                                           1.5 * metrics.height());
    drawLeftValueLabels(painter, pane, low, high, labelStep, bounds);
    drawVerticalAxisTitle(painter, pane, 4, QStringLiteral("Pitch (Hz)"));
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
    const GraphTextScale scale(viewSizePx);
    const QFontMetrics metrics(defaultTextFont());
    const int left = 4 + metrics.height() + 4 + leftValueLabelsWidth(metrics, 0.0, 1000.0);
    const int right = viewSizePx.width() - kRightMargin;
    const int bottom = viewSizePx.height() - timeAxisHeight(metrics) - 2;
    int top = captionLineHeight(metrics) + kTopMargin;
    if (labels) {
        layout.haveLabels = true;
        layout.labels = paneRect(top, left, top + kLabelStripHeight, right);
        top += kLabelStripHeight + kLabelStripGap;
    }
    const int graphTop = top;
    const int sixth = (bottom - top) / 6;
    if (audio) {
        layout.haveAudio = true;
        layout.audio = paneRect(top, left, top + sixth - kPaneGap, right);
        top += sixth;
    }
    if (intensity) {
        layout.haveIntensity = true;
        layout.intensity = paneRect(top, left, top + sixth - kPaneGap, right);
        top += sixth;
    }
    layout.pitch = paneRect(top, left, bottom, right);
    layout.graph = paneRect(graphTop, left, bottom, right);
    return layout;
}

bool PitchGraphLayout::contains(QPoint point) const
{
    return point.x() >= graph.left && point.x() <= graph.right && point.y() >= graph.top &&
           point.y() <= graph.bottom;
}

double PitchGraphLayout::timeAt(int x, double pageStartMs, double pageEndMs) const
{
    const int span = rectWidth(graph);
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
    const double x =
        graph.left + (timeMs - pageStartMs) * rectWidth(graph) / (pageEndMs - pageStartMs);
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
        input.precise = analysis.m_parameters.m_bPreciseAnalysis;
        if (input.precise) {
            input.frameMs = analysis.m_parameters.m_dPitchStepSize;
        }
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

QString pitchGraphCaption(GraphCaption caption, bool precise)
{
    caption.analysis =
        precise ? "Pitch, precise analysis" : "Pitch, classic analysis: cepstral";
    return caption.text();
}

void drawPitchGraph(QPainter& painter, QSize viewSizePx, const PitchGraphInput& input)
{
    const GraphTextScale textScale(viewSizePx);
    const PitchGraphLayout layout = input.layout(viewSizePx);
    if (rectWidth(layout.pitch) <= 0 || rectHeight(layout.pitch) <= 0 ||
        !(input.pageMax > input.pageMin) || !(input.sampleRate > 0.0)) {
        return;
    }
    const PitchGraphSettings& settings = input.settings;
    const double startMs = input.pageStartMs();
    const double endMs = input.pageEndMs();
    const QRect bounds(QPoint(0, 0), viewSizePx - QSize(1, 1));

    // The caption line says what the picture shows and which analysis.
    const QString analysis = input.precise ? QStringLiteral("Pitch, precise analysis")
                                           : QStringLiteral("Pitch, classic analysis: cepstral");
    drawCaptionLine(painter, viewSizePx, input.caption.isEmpty() ? analysis : input.caption);

    // Grids first, under the traces; the time labels in the unit that suits
    // the page.
    const TimeAxisGrid grid{layout.graph, settings.timeGridMs, kTimeGridColor};
    drawTimeAxis(painter, layout.graph, startMs, endMs, bounds,
                 settings.drawTimeGrid ? &grid : nullptr);
    drawFrequencyAxis(painter, input, layout.pitch, paneBounds(bounds, layout.pitch));

    if (layout.haveLabels) {
        drawLabelStrip(painter, layout.labels, input.labelChannels, startMs, endMs);
    }
    if (layout.haveAudio && rectHeight(layout.audio) > 0) {
        drawWaveform(painter, input, layout.audio);
    }
    if (layout.haveIntensity && rectHeight(layout.intensity) > 0) {
        drawIntensity(painter, input, layout.intensity);
    }
    drawPaneFrame(painter, layout.pitch, QString());
    drawTrack(painter, input, layout.pitch);
}

} // namespace phonaxis
