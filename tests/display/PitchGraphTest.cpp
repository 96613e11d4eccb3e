// The pitch window's graph over a long page: the time grid must stay a grid.

#include "display/PitchGraph.h"

#include "analysis/CMathFunc.h"
#include "display/GraphPanes.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace phonaxis {
namespace {

// Share of the pitch pane's pixels that are not white.
double inkedShare(const QImage& image, const Rect& pane)
{
    int inked = 0;
    int all = 0;
    for (int y = pane.top + 1; y < pane.bottom; ++y) {
        for (int x = pane.left + 1; x < pane.right; ++x) {
            ++all;
            inked += image.pixel(x, y) != qRgb(255, 255, 255);
        }
    }
    return all > 0 ? double(inked) / all : 0.0;
}

// `input` drawn on white in a view of `size`.
QImage drawn(const PitchGraphInput& input, QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    drawPitchGraph(painter, size, input);
    painter.end();
    return image;
}

TEST(PitchGraphTest, TimeGridTooDenseForThePageAdaptsInsteadOfFillingThePanes)
{
    // An empty pitch pane (silence, an unvoiced track) so that only the
    // grids mark it: 500 ms lines over ten minutes would be 1,200 lines in
    // 580 pixels; a minute's page keeps its 500 ms lines, 4.8 px apart.
    struct Case {
        double lengthMs;
        double maxShare;
        double minShare;
    };
    for (const Case c : {Case{600'000.0, 0.25, 0.0}, Case{60'000.0, 1.0, 0.15}}) {
        SCOPED_TRACE(c.lengthMs);
        const std::vector<double> track(size_t(c.lengthMs / 10.0), 0.0);
        const std::vector<float> silence(size_t(c.lengthMs), 0.0f);
        PitchGraphInput input;
        input.samples = silence;
        input.sampleRate = 1000.0;
        input.lengthMs = c.lengthMs;
        input.pageMin = 0.0;
        input.pageMax = c.lengthMs; // one sample per ms
        input.track = track;
        input.settings.drawAudio = false;
        input.settings.drawIntensity = false;
        input.settings.drawFreqGrid = false;
        input.settings.timeGridMs = 500;
        const QSize size(640, 360);
        const QImage image = drawn(input, size);
        const double share = inkedShare(image, input.layout(size).pitch);
        EXPECT_LE(share, c.maxShare);
        EXPECT_GE(share, c.minShare);
    }
}

// The intensity pane spans whole 10 dB around the track's levels in dBFS:
// a louder stretch is drawn higher, and digital silence (the floor) lies
// below the pane rather than setting its scale.
TEST(PitchGraphTest, IntensityPaneDrawsLevelsInDecibelsReFullScale)
{
    constexpr std::size_t kThird = 1000;
    const auto floorDb = float(CMathFunc::kIntensityFloorDb);
    std::vector<float> track(kThird, -45.0F);
    track.resize(2 * kThird, -15.0F);
    track.resize(3 * kThird, floorDb);
    const std::vector<float> samples(track.size(), 0.0F);
    PitchGraphInput input;
    input.samples = samples;
    input.sampleRate = 1000.0;
    input.lengthMs = double(samples.size());
    input.pageMax = double(samples.size());
    input.intensity = track;
    input.intensityMin = -45.0; // as the channel reports: the levels above the floor
    input.intensityMax = -15.0;
    input.settings.drawAudio = false;
    input.settings.drawTimeGrid = false;
    const QSize size(640, 360);
    const QImage image = drawn(input, size);

    // The scale runs from -50 (bottom) to -10 dBFS (top).
    const Rect pane = input.layout(size).intensity;
    const double height = rectHeight(pane);
    const auto blueRows = [&](int x) {
        std::vector<int> rows;
        for (int y = pane.top + 1; y < pane.bottom; ++y) {
            if (image.pixel(x, y) == qRgb(0, 0, 255)) {
                rows.push_back(y);
            }
        }
        return rows;
    };
    const int width = rectWidth(pane);
    for (const auto& [share, expectedY] : {std::pair{0.15, pane.bottom - height * 5.0 / 40.0},
                                           std::pair{0.5, pane.bottom - height * 35.0 / 40.0}}) {
        const std::vector<int> rows = blueRows(pane.left + int(share * width));
        ASSERT_EQ(rows.size(), 1U) << share;
        EXPECT_NEAR(rows[0], expectedY, 1.5) << share;
    }
    EXPECT_TRUE(blueRows(pane.left + int(0.85 * width)).empty());
}

// A precise track's frame k lies at k × the step (its window's centre), a
// classic track's at k × the length / the frame count: on a 1,005 ms
// recording with a 10 ms step the hundredth frame is drawn at 1,000 ms,
// not at 1,005 ms.
TEST(PitchGraphTest, PreciseFramesAreDrawnOnTheStepGrid)
{
    const double lengthMs = 1005.0;
    std::vector<double> track(100, 0.0);
    track[99] = 200.0; // the last frame: 990 ms (precise) or 994.95 ms (classic)
    const std::vector<float> silence(1005, 0.0f);
    const auto dotX = [&](double frameMs) {
        PitchGraphInput input;
        input.samples = silence;
        input.sampleRate = 1000.0;
        input.lengthMs = lengthMs;
        input.pageMin = 900.0;
        input.pageMax = 1005.0;
        input.track = track;
        input.frameMs = frameMs;
        input.settings.drawAudio = false;
        input.settings.drawIntensity = false;
        input.settings.drawFreqGrid = false;
        input.settings.drawTimeGrid = false;
        const QSize size(1060, 300);
        const QImage image = drawn(input, size);
        const Rect pane = input.layout(size).pitch;
        // The dot: the first column below the caption with ink in it.
        const int y = pane.bottom - 1 - int((200.0 - 50.0) * rectHeight(pane) / 450.0);
        for (int x = pane.left + 2; x < pane.right - 1; ++x) {
            if (image.pixel(x, y) != qRgb(255, 255, 255)) {
                return (x + 1 - pane.left) * 105.0 / rectWidth(pane) + 900.0;
            }
        }
        return -1.0;
    };
    EXPECT_NEAR(dotX(10.0), 990.0, 1.0);
    EXPECT_NEAR(dotX(0.0), 99.0 * lengthMs / 100.0, 1.0);
}

} // namespace
} // namespace phonaxis
