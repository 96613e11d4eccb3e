// The spectrogram window's picture: its panes, the mapping between pixels
// and times or frequencies that the readouts use, and the time grid over a
// long recording; the waveform pane drawn from the snapshot's column
// extremes as from every sample.

#include "display/SpectrogramGraph.h"

#include "display/GraphPanes.h"
#include "model/MinMaxSummary.h"
#include "windows/SpectrogramAnalysis.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace phonaxis {
namespace {

TEST(SpectrogramGraphTest, PanesAndPixelMappingFollowTheView)
{
    // 640 × 360: the image between the frequency axis's margin and the
    // right margin, above the time axis; the label strip (14 + 1) and the
    // waveform pane (a fifth of what is left) above it.
    const QSize size(640, 360);
    const SpectrogramGraphLayout bare = SpectrogramGraphLayout::forView(size, false, false);
    ASSERT_GT(bare.image.left, 30);
    ASSERT_LT(bare.image.bottom, 340);
    EXPECT_EQ(bare.image.right, 640 - SpectrogramGraphLayout::kRightMargin);
    for (const bool labels : {false, true}) {
        for (const bool audio : {false, true}) {
            SCOPED_TRACE(labels * 2 + audio);
            const SpectrogramGraphLayout layout =
                SpectrogramGraphLayout::forView(size, labels, audio);
            const int top = bare.image.top + (labels ? 15 : 0);
            const int fifth = (bare.image.bottom - top) / 5;
            EXPECT_EQ(layout.image.top, top + (audio ? fifth : 0));
            EXPECT_EQ(layout.columns(), bare.columns());
            EXPECT_EQ(layout.image.bottom, bare.image.bottom);
            EXPECT_EQ(layout.haveAudio, audio);
            if (audio) {
                EXPECT_EQ(layout.audio.bottom + SpectrogramGraphLayout::kPaneGap,
                          layout.image.top);
            }
        }
    }

    const int left = bare.image.left;
    const int right = bare.image.right;
    const int top = bare.image.top;
    const int bottom = bare.image.bottom;
    const int rows = bare.rows();
    SpectrogramGraphInput input;
    input.startTime = 200.0;
    input.stopTime = 200.0 + bare.columns(); // 1 ms a column
    input.settings.frequencyRangeHz = 5000;
    input.settings.drawAudio = false;
    const SpectrogramGraphLayout layout = input.layout(size);
    // Rows of 5000 / rows Hz from the bottom.
    const struct {
        QPoint point;
        double timeMs;
        double frequencyHz;
        bool inside;
    } points[] = {
        {{left, bottom}, 200.0, 0.0, false}, // the bottom edge is past the last row
        {{left, bottom - 1}, 200.0, 5000.0 / rows, true},
        {{right - 1, top}, input.stopTime - 1.0, 5000.0, true},
        {{right, top}, input.stopTime, 5000.0, false},
        {{left - 40, bottom - 240}, 160.0, 240 * 5000.0 / rows, false},
    };
    for (const auto& p : points) {
        EXPECT_DOUBLE_EQ(input.timeAt(layout, p.point.x()), p.timeMs);
        EXPECT_DOUBLE_EQ(input.frequencyAt(layout, p.point.y()), p.frequencyHz);
        EXPECT_EQ(layout.inImage(p.point), p.inside) << p.point.x() << "," << p.point.y();
        EXPECT_EQ(input.xAt(layout, p.timeMs), p.point.x());
    }
}

TEST(SpectrogramGraphTest, TimeGridTooDenseForTheRangeAdaptsInsteadOfFillingTheImage)
{
    // No image, only the grid: 500 ms lines over ten minutes would be 1,200
    // lines in 580 pixels, over an hour too many to draw at all; a grid of
    // the range's own scale shows instead. Over a minute they stay 500 ms
    // apart (4.8 px).
    for (const auto& [stopMs, maxShare, minShare] :
         {std::tuple{600'000.0, 0.25, 0.005}, std::tuple{3'600'000.0, 0.25, 0.005},
          std::tuple{60'000.0, 1.0, 0.15}}) {
        SCOPED_TRACE(stopMs);
        SpectrogramGraphInput input;
        input.stopTime = stopMs;
        input.settings.drawAudio = false;
        input.settings.drawFreqGrid = false;
        input.settings.timeGridMs = 500;
        const QSize size(640, 360);
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        drawSpectrogramGraph(painter, size, input);
        painter.end();
        const Rect area = input.layout(size).image;
        int inked = 0;
        for (int x = area.left + 1; x < area.right; ++x) {
            inked += image.pixel(x, (area.top + area.bottom) / 2) != qRgb(255, 255, 255);
        }
        const double share = double(inked) / (area.right - area.left - 1);
        EXPECT_LE(share, maxShare);
        EXPECT_GE(share, minShare);
    }
}

// The waveform pane drawn from the snapshot's column extremes (or, for a
// short page, its samples) has the pixels of the pane drawn from every
// sample of the channel.
TEST(SpectrogramGraphTest, WaveformPaneFromTheSnapshotDrawsAsFromEverySample)
{
    // Pseudo-random samples in −0.5 … 0.5 that reach both ends every 201
    // samples, so that any page has the channel's extremes.
    std::vector<float> channel(200000);
    for (std::size_t i = 0; i < channel.size(); ++i) {
        channel[i] = static_cast<float>(static_cast<int>(i * 7919 % 201) - 100) / 200.0f;
    }
    MinMaxSummary summary;
    ASSERT_TRUE(summary.build(channel));
    const QSize size(420, 300);
    const SpectrogramGraphLayout layout = SpectrogramGraphLayout::forView(size, false, true);
    const QRect pane = toQRect(layout.audio).adjusted(-1, -1, 1, 1);
    for (const auto& [start, end] :
         {std::pair{0.0, 200000.0}, std::pair{1234.5, 150000.0}, std::pair{1000.0, 1900.0}}) {
        SCOPED_TRACE(start);
        const SpectrogramWaveform waveform =
            SpectrogramWaveform::of(channel, &summary, start, end, layout.columns());
        SpectrogramGraphInput input;
        input.waveform = &waveform;
        input.settings.drawAudio = true;
        QImage fromSnapshot(size, QImage::Format_RGB32);
        fromSnapshot.fill(Qt::white);
        {
            QPainter painter(&fromSnapshot);
            drawSpectrogramGraph(painter, size, input);
        }
        QImage fromChannel(size, QImage::Format_RGB32);
        fromChannel.fill(Qt::white);
        {
            QPainter painter(&fromChannel);
            drawWaveformPane(painter, layout.audio, channel, &summary, 0.0, start, end,
                             RGBColor{0, 0x8000, 0});
        }
        EXPECT_EQ(fromSnapshot.copy(pane), fromChannel.copy(pane));
        int traced = 0;
        for (int y = pane.top(); y <= pane.bottom(); ++y) {
            for (int x = pane.left(); x <= pane.right(); ++x) {
                traced += fromSnapshot.pixel(x, y) == qRgb(0, 0x80, 0);
            }
        }
        EXPECT_GT(traced, layout.columns());
    }
}

} // namespace
} // namespace phonaxis
