#include "display/MainViewRenderer.h"

#include "display/GraphAxes.h"
#include "display/GraphPrimitives.h"
#include "document/NumberText.h"
#include "model/Channels.h"
#include "model/Functions.h"

#include <QColor>
#include <QFontMetrics>
#include <QPainter>
#include <QPen>
#include <QRect>
#include <QRectF>
#include <QString>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace phonaxis {

namespace {

constexpr RGBColor kRed{0xFFFF, 0, 0};
constexpr RGBColor kGreen{0, 0xFFFF, 0};
constexpr RGBColor kBlue{0, 0, 0xFFFF};
constexpr RGBColor kBlack{0, 0, 0};
constexpr RGBColor kCycleColor{0xAAAA, 0, 0xFFFF};
// Behind label texts: white, mostly opaque, so the trace shows through
// faintly.
const QColor kLabelBacking(255, 255, 255, 210);
// Drawn at full strength (blue), as the EGG marks.
constexpr RGBColor kIntensityColor{0, 0, 0x00FF};

// A page bound in samples as the int the trace takes, saturating; NaN gives 0.
std::int32_t pageIndex(double position)
{
    if (position != position) {
        return 0;
    }
    constexpr double kMin = std::numeric_limits<std::int32_t>::min();
    constexpr double kMax = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::clamp(position, kMin, kMax));
}

std::uint16_t colorComponent(std::int32_t value)
{
    return static_cast<std::uint16_t>(std::clamp(value, 0, 0xFFFF));
}

RGBColor traceColor(const Channels& channel)
{
    return RGBColor{colorComponent(channel.m_nColorRed), colorComponent(channel.m_nColorGreen),
                    colorComponent(channel.m_nColorBlue)};
}

std::int16_t saturate16(std::int64_t value)
{
    return static_cast<std::int16_t>(std::clamp<std::int64_t>(
        value, std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max()));
}

// The first `length` values of a track buffer (fewer when it holds fewer).
template <typename T>
std::span<const T> trackValues(const TrackBuffer<T>& track, double length)
{
    if (!track.present()) {
        return {};
    }
    return track.span().first(truncWithin(length, track.size()));
}

// Vertical placement of a channel's trace in its strip.
struct TracePlacement {
    double range = 2.0;       // sample values spanning the strip height
    double baseline = 0.5;    // fraction of the height, up from the bottom
    double heightFraction = 1.0;
    bool topValue = false;    // a scale value at the strip top
    double topLabel = 0.0;
    bool bottomValue = false; // a scale value at the strip bottom
    double bottomLabel = 0.0;
};

TracePlacement placementFor(const Channels& channel, bool drawVelocity, bool drawAcceleration)
{
    TracePlacement p;
    // 2^bits for the integer types; bit counts from a file are limited so
    // that the range stays finite.
    const double integerRange = std::ldexp(1.0, std::clamp(channel.m_nResolutionBits, 0, 64));
    switch (channel.m_nDataType) {
    case 0: // signed integers
        p.range = integerRange;
        p.baseline = 0.5;
        p.topValue = true;
        p.topLabel = integerRange / 2.0 - channel.m_dReference;
        break;
    case 1: // unsigned integers
        p.range = integerRange;
        p.baseline = 0.0;
        break;
    case 3: // 32-bit floats, full scale ±1
        p.range = 2.0;
        p.baseline = 0.5;
        p.topValue = true;
        p.topLabel = channel.CalibrateNew(1.0);
        p.bottomValue = true;
        p.bottomLabel = channel.CalibrateNew(-1.0);
        break;
    case -1:
        p.range = integerRange;
        p.baseline = 1.0;
        break;
    default: // an unknown code: drawn as floats, without scale values
        break;
    }
    // The integer types give the lower part of the strip to the derived
    // tracks and move the trace up into what remains.
    const bool integerType = channel.m_nDataType == 0 || channel.m_nDataType == 1;
    const int tracks = int(drawVelocity) + int(drawAcceleration);
    if (integerType && tracks == 2) {
        p.heightFraction = channel.m_nDataType == 0 ? 0.33 : 1.0 / 3.0;
        p.baseline += channel.m_nDataType == 1 ? 2.0 / 3.0 : 1.0 / 3.0;
    } else if (integerType && tracks == 1) {
        p.heightFraction = 0.5;
        p.baseline += channel.m_nDataType == 1 ? 0.5 : 0.25;
    }
    return p;
}

// Writes `value` with two decimals (no "-0.00" for a value that rounds to
// zero), its right edge 5 pixels inside the strip, with its top (or, for
// `atBottom`, its bottom) on the strip edge.
void drawScaleValue(QPainter& painter, const Rect& strip, double value, bool atBottom)
{
    const QString text = QString::fromStdString(fixedNumber(value, 2));
    const QFontMetrics metrics(painter.font());
    const double x = strip.right - 5.0 - metrics.horizontalAdvance(text);
    const double baselineY =
        atBottom ? strip.bottom - metrics.descent() - 1.0 : strip.top + 1.0 + metrics.ascent();
    painter.drawText(QPointF(x, baselineY), text);
}

// The intensity track over the strip's whole height on its pane scale
// (intensityPaneScale), the scale's ends written in the track's colour at
// the strip's left below the title; levels below the scale, digital silence
// among them, lie below the strip.
void drawIntensityTrack(QPainter& painter, const Channels& channel, const RGBColor& color)
{
    const Rect& strip = channel.m_rLocation;
    const std::optional<IntensityPaneScale> range =
        intensityPaneScale(channel.m_dIntensityMin, channel.m_dIntensityMax);
    const std::span<const float> values =
        trackValues(channel.m_hfDataIntensity, channel.m_dIntensityFileLength);
    if (!range || values.empty()) {
        return;
    }
    const double span = range->highDb - range->lowDb;
    const double scale = (int(strip.bottom) - int(strip.top)) / span;
    DrawGraphFloat_1(painter, pageIndex(channel.m_dPageMin), pageIndex(channel.m_dPageMax), values,
                     scale, -range->lowDb / span, 0.0, strip, color, false, kBlack);

    const QString unit =
        channel.m_bIntensityRelative ? QStringLiteral(" dB") : QStringLiteral(" dBFS");
    painter.save();
    painter.setPen(toQColor(color));
    const QFontMetrics metrics(painter.font());
    const double x = strip.left + 2.0;
    painter.drawText(QPointF(x, strip.top + 2.0 + metrics.height() + metrics.ascent()),
                     QString::number(range->highDb, 'f', 0) + unit);
    painter.drawText(QPointF(x, strip.bottom - metrics.descent() - 1.0),
                     QString::number(range->lowDb, 'f', 0) + unit);
    painter.restore();
}

// A derived track (velocity or acceleration) below the trace.
void drawDerivedTrack(QPainter& painter, const Channels& channel, std::span<const double> values,
                      double minimum, double maximum, double heightFraction,
                      const RGBColor& color, bool velocityPeaks)
{
    const Rect& strip = channel.m_rLocation;
    const double height = int(strip.bottom) - int(strip.top);
    const double largest = std::max(std::fabs(minimum), std::fabs(maximum));
    const double scale = height / (2.0 * largest) * heightFraction;
    if (values.empty() || !std::isfinite(scale)) {
        return;
    }
    const double baseline = heightFraction / 2.0;
    DrawGraphDouble(painter, values, channel.m_dPageMin, channel.m_dPageMax, scale, baseline, 0.0,
                    strip, color, false, color, 2.0);
    if (velocityPeaks) {
        MarkVelocityPeak(painter, channel.m_dPageMin, channel.m_dPageMax, channel.m_pArrayCycle,
                         scale, baseline, strip, kRed);
    }
}

void drawChannel(QPainter& painter, const MyDocument& document, const Channels& channel,
                 const MinMaxSummary* summary, double pageStartMs, double pageEndMs)
{
    const Rect& strip = channel.m_rLocation;
    const int width = int(strip.right) - int(strip.left);
    const int height = int(strip.bottom) - int(strip.top);
    if (width <= 0 || height <= 0) {
        return;
    }
    painter.save();
    painter.setClipRect(QRect(strip.left, strip.top, width + 1, height + 1), Qt::IntersectClip);

    const bool drawVelocity = channel.m_bHaveVelocity && channel.m_bDrawVelocity &&
                              channel.m_hdDataVelocity.present();
    const bool drawAcceleration = channel.m_bHaveAcceleration && channel.m_bDrawAcceleration &&
                                  channel.m_hdDataAcceleration.present();
    const TracePlacement placement = placementFor(channel, drawVelocity, drawAcceleration);

    painter.setPen(QPen(Qt::black, 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(strip.left, strip.top, width, height));
    painter.setFont(defaultTextFont());
    const QFontMetrics metrics(painter.font());
    painter.drawText(QPointF(strip.left + 2.0, strip.top + 2.0 + metrics.ascent()),
                     QString::fromStdString(channel.GetTitle()));

    const double scale = height / placement.range * placement.heightFraction;
    DrawGraphFloat_1(painter, pageIndex(channel.m_dPageMin), pageIndex(channel.m_dPageMax),
                     channel.samples(), scale, placement.baseline, channel.m_dReference, strip,
                     traceColor(channel), channel.m_bDrawReference, kReferenceLineColor, summary);

    painter.setPen(Qt::black);
    if (placement.topValue) {
        drawScaleValue(painter, strip, placement.topLabel, false);
    }
    if (placement.bottomValue) {
        drawScaleValue(painter, strip, placement.bottomLabel, true);
    }

    const double pageMin = channel.m_dPageMin;
    const double pageMax = channel.m_dPageMax;
    const auto marks = [&](bool have, bool draw, const std::vector<ArrayData>& list,
                           const RGBColor& color) {
        if (have && draw) {
            MarkArray(painter, pageMin, pageMax, list, scale, placement.baseline, strip, color);
        }
    };
    marks(channel.m_bHaveRefCrossingUpDown, channel.m_bDrawRefCrossingUpDown,
          channel.m_pArrayRefCrossingUpDown, kRed);
    marks(channel.m_bHavePeak, channel.m_bDrawPeak, channel.m_pArrayPeak, kBlue);
    marks(channel.m_bHaveValley, channel.m_bDrawValley, channel.m_pArrayValley, kGreen);
    marks(channel.m_bHaveMaxima, channel.m_bDrawMaxima, channel.m_pArrayMaxima, kGreen);
    marks(channel.m_bHaveMinima, channel.m_bDrawMinima, channel.m_pArrayMinima, kGreen);
    if (channel.m_bHaveCycle && channel.m_bDrawCycleThreshold) {
        MarkCycleArray(painter, pageMin, pageMax, channel.m_pArrayCycle, scale, placement.baseline,
                       strip, kCycleColor);
    }

    if (channel.m_bHaveIntensity && channel.m_bDrawIntensity) {
        drawIntensityTrack(painter, channel,
                           document.m_bColor ? fullStrength(kIntensityColor) : kBlack);
    }
    if (drawVelocity) {
        drawDerivedTrack(painter, channel,
                         trackValues(channel.m_hdDataVelocity, channel.m_dVelocityFileLength),
                         channel.m_dVelocityMin, channel.m_dVelocityMax, placement.heightFraction,
                         kRed, true);
    }
    if (drawAcceleration) {
        drawDerivedTrack(painter, channel,
                         trackValues(channel.m_hdDataAcceleration,
                                     channel.m_dAccelerationFileLength),
                         channel.m_dAccelerationMin, channel.m_dAccelerationMax,
                         placement.heightFraction, kBlue, false);
    }

    DrawLabels(painter, channel, pageStartMs, pageEndMs);
    painter.restore();
}

} // namespace

bool MainViewSummaries::build(const MyDocument& document, unsigned threadCount)
{
    clear();
    std::vector<SummaryJob> jobs;
    for (int i = 0; i < document.channelsInUse(); ++i) {
        const std::span<const float> samples = document.getChannel(i).samples();
        if (!samples.empty()) {
            jobs.push_back(SummaryJob{&m_summaries[static_cast<std::size_t>(i)], samples});
        }
    }
    return jobs.empty() || buildSummaries(jobs, threadCount);
}

bool MainViewSummaries::rebuildChannel(const MyDocument& document, int index,
                                       std::size_t firstChangedSample)
{
    if (index < 0 || index >= MyDocument::kChannelSlots) {
        return false;
    }
    MinMaxSummary& summary = m_summaries[static_cast<std::size_t>(index)];
    const std::span<const float> samples = document.getChannel(index).samples();
    if (samples.empty()) {
        summary.clear();
        return true;
    }
    return summary.rebuildFrom(samples, firstChangedSample);
}

void MainViewSummaries::clear()
{
    for (MinMaxSummary& summary : m_summaries) {
        summary.clear();
    }
}

const MinMaxSummary* MainViewSummaries::forChannel(int index) const
{
    if (index < 0 || index >= MyDocument::kChannelSlots) {
        return nullptr;
    }
    const MinMaxSummary& summary = m_summaries[static_cast<std::size_t>(index)];
    return summary.empty() ? nullptr : &summary;
}

void DrawLabels(QPainter& painter, const Channels& channel, double pageStartMs, double pageEndMs)
{
    if (channel.m_pArrayLabels.empty()) {
        return;
    }
    // Placement writes the label's on-screen rectangle, so it runs on copies
    // held by a channel with this strip's geometry and no samples.
    Channels placing;
    placing.m_rLocation = channel.m_rLocation;
    placing.m_nHeigth = channel.m_nHeigth;
    placing.m_pArrayLabels = channel.m_pArrayLabels;
    placing.m_nLabelCount = static_cast<std::int32_t>(placing.m_pArrayLabels.size());

    painter.save();
    painter.setRenderHint(QPainter::TextAntialiasing, false);
    for (int i = 0; i < placing.m_nLabelCount; ++i) {
        const Labels* label = placing.GetLabelZoomed(i, pageStartMs, pageEndMs,
                                                     g_nLeftWindowOffset);
        if (label == nullptr) {
            continue;
        }
        const LabelColor& c = label->mFontColor;
        const auto unit = [](double v) { return v == v ? std::clamp(v, 0.0, 1.0) : 0.0; };
        painter.setPen(QColor::fromRgbF(static_cast<float>(unit(c.red)),
                                        static_cast<float>(unit(c.green)),
                                        static_cast<float>(unit(c.blue)),
                                        static_cast<float>(unit(c.alpha))));
        painter.setFont(toQFont(label->mFont));
        const QFontMetrics metrics(painter.font());
        const double x = label->_bounds.x + label->_deltaShift.x;
        const double y = label->_bounds.y + label->_deltaShift.y;
        if (std::isfinite(x) && std::isfinite(y)) {
            // A light backing over the label's box keeps the text readable
            // where it lies over the trace.
            const QRectF box(x, y, label->_bounds.width, label->_bounds.height);
            if (box.isValid()) {
                painter.fillRect(box, kLabelBacking);
            }
            painter.drawText(QPointF(x, y + metrics.ascent()),
                             QString::fromStdString(label->getLabelText()));
        }
    }
    painter.restore();
}

void DrawView(QPainter& painter, const MyDocument& document, QSize clientSize,
              const MainViewSummaries* summaries)
{
    if (!document.m_bHaveData) {
        return;
    }
    const int count = document.channelsInUse();
    int anchor = -1;
    int firstShown = -1;
    std::int64_t lastBottom = 0;
    for (int i = 0; i < count; ++i) {
        const Channels& channel = document.getChannel(i);
        if (!channel.m_bShow) {
            continue;
        }
        firstShown = firstShown < 0 ? i : firstShown;
        anchor = anchor < 0 && channel.m_bAnchorChannel ? i : anchor;
        lastBottom = std::max<std::int64_t>(lastBottom, channel.m_rLocation.bottom);
    }
    if (firstShown < 0) {
        return;
    }
    anchor = anchor < 0 ? firstShown : anchor;
    // A single channel's strip is the whole frame; several are followed by
    // one gap each.
    const std::int64_t frameHeight = count == 1 ? lastBottom : lastBottom + g_nDelta;

    painter.save();
    painter.setClipRect(QRect(QPoint(0, 0), clientSize), Qt::IntersectClip);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(Qt::black, 1.0));

    // Page times of the view, from the anchor channel.
    const Channels& anchorChannel = document.getChannel(anchor);
    const double msPerSample = anchorChannel.m_dLengthMS / anchorChannel.m_dwFileLength;
    const double pageStartMs = anchorChannel.m_dPageMin * msPerSample;
    const double pageEndMs = anchorChannel.m_dPageMax * msPerSample;

    if (document.m_bDrawTimeGrid) {
        Rect gridRect = anchorChannel.m_rLocation;
        gridRect.bottom = saturate16(frameHeight);
        // The grid over every strip; the time labels under the frame, in the
        // unit that suits the page, with the axis title, a little larger
        // than the strips' titles in a large picture, as far as the room
        // under the strips allows.
        constexpr int kLargestTimeLabelPx = 16;
        const int room = clientSize.height() - gridRect.bottom;
        int pixels = std::min(graphTextPixelSize(clientSize), kLargestTimeLabelPx);
        for (; pixels > kMinGraphTextPx; --pixels) {
            QFont font = defaultTextFont();
            font.setPixelSize(pixels);
            if (timeAxisLabelsHeight(QFontMetrics(font)) <= room) {
                break;
            }
        }
        const GraphTextScale textScale(pixels);
        const TimeAxisGrid grid{gridRect, document.m_nTimeGridSpacing, kTimeGridColor};
        drawTimeAxis(painter, gridRect, pageStartMs, pageEndMs,
                     QRect(QPoint(0, 0), clientSize - QSize(1, 1)), &grid);
    }
    for (int i = 0; i < count; ++i) {
        const Channels& channel = document.getChannel(i);
        if (channel.m_bShow) {
            drawChannel(painter, document, channel,
                        summaries != nullptr ? summaries->forChannel(i) : nullptr, pageStartMs,
                        pageEndMs);
        }
    }
    painter.restore();
}

QImage renderMainView(const MyDocument& document, QSize size, const MainViewSummaries* summaries)
{
    if (size.isEmpty()) {
        return {};
    }
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) {
        return image;
    }
    image.fill(Qt::white);
    QPainter painter(&image);
    DrawView(painter, document, size, summaries);
    painter.end();
    return image;
}

} // namespace phonaxis
