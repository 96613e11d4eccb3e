// The spectrum window's graph drawn for a known tone: where the peak, the
// envelope and the marker land, absolute and relative levels, colour and
// black, and an empty analysis.
#include "Signals.h" // before Qt: its "signals" keyword is a macro

namespace {

std::vector<float> toneAt1kHz(double rateHz)
{
    return phonaxis::signals::tone(1000.0, rateHz, 300.0);
}

} // namespace

#include "display/PictureExport.h"
#include "display/SpectrumGraph.h"
#include "windows/SpectrumAnalysis.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>

namespace phonaxis {
namespace {

constexpr double kRate = 10000.0;
const QSize kView(520, 320); // graph 500 × 300 from (20, 0)

SpectrumAnalysis toneSpectrum(bool absolute)
{
    const std::vector<float> tone = toneAt1kHz(kRate);
    SpectrumParameters p; // 5000 Hz over 5000 display points
    p.m_bFFTAbsolute = absolute;
    SpectrumAnalysis analysis;
    EXPECT_EQ(analysis.PerformFFTLPC(tone, 1000, 1000, double(tone.size()), kRate, p),
              SpectrumStart::Computed);
    return analysis;
}

QImage drawn(const SpectrumAnalysis& analysis, bool colour)
{
    SpectrumGraphStyle style;
    style.m_bFFTColor = colour;
    return renderGraph(kView, [&](QPainter& painter, QSize size) {
        drawSpectrumGraph(painter, size, analysis, style);
    });
}

bool isRed(QRgb p)
{
    return qRed(p) > 200 && qGreen(p) < 100 && qBlue(p) < 100;
}

// The first pixel from the top in column x that `match` accepts; -1 if none.
template <typename Match> int topmost(const QImage& image, int x, Match match)
{
    for (int y = 0; y < image.height(); ++y) {
        if (match(image.pixel(x, y))) {
            return y;
        }
    }
    return -1;
}

TEST(SpectrumGraph, PeakLandsAtTheTonesFrequencyInEitherLevelMode)
{
    const Rect graph = spectrumGraphRect(kView);
    ASSERT_EQ(graph, (Rect{0, 20, 300, 520}));
    const int peakX = spectrumPointX(graph, 1000, 5000);
    ASSERT_EQ(peakX, 120);
    for (const bool absolute : {false, true}) {
        SCOPED_TRACE(absolute ? "absolute" : "relative");
        const SpectrumAnalysis analysis = toneSpectrum(absolute);
        const QImage image = drawn(analysis, true);
        // The highest red pixel of the whole graph is the tone's.
        int best = graph.bottom + 1;
        int bestX = -1;
        for (int x = graph.left; x < graph.right; ++x) {
            const int y = topmost(image, x, isRed);
            if (y >= 0 && y < best) {
                best = y;
                bestX = x;
            }
        }
        EXPECT_NEAR(bestX, peakX, 1);
        // Relative: the peak spans the height; absolute: 20 dB above the
        // bottom plus the peak's level at 300 / (80 + 20) pixels per dB.
        const int expected =
            absolute ? std::max(0, 300 - 20 * 3 - int(analysis.m_dFFTMAX * 3.0)) : 0;
        EXPECT_NEAR(best, expected, 1);
        // The envelope is drawn in blue.
        EXPECT_GE(topmost(image, peakX, [](QRgb p) { return qBlue(p) > 200 && qRed(p) < 100; }), 0);

        // In black nothing is red.
        const QImage black = drawn(analysis, false);
        for (int x = graph.left; x < graph.right; x += 7) {
            EXPECT_EQ(topmost(black, x, isRed), -1);
        }
    }
}

TEST(SpectrumGraph, MarkerIsATwoPixelBarOverTheGraphAndNothingShowsWithoutASpectrum)
{
    SpectrumAnalysis analysis = toneSpectrum(false);
    analysis.setMarker(true, 2500);
    const QImage image = drawn(analysis, false);
    const int x = spectrumPointX(spectrumGraphRect(kView), 2500, 5000);
    for (const int y : {1, 150, 299}) {
        EXPECT_TRUE(isRed(image.pixel(x, y))) << y;
        EXPECT_TRUE(isRed(image.pixel(x + 1, y))) << y;
        EXPECT_FALSE(isRed(image.pixel(x + 2, y))) << y;
        EXPECT_FALSE(isRed(image.pixel(x - 1, y))) << y;
    }
    // Red at 0.8 over white.
    EXPECT_NEAR(qGreen(image.pixel(x, 150)), 51, 2);

    const QImage empty = drawn(SpectrumAnalysis{}, true);
    for (int y = 0; y < empty.height(); y += 5) {
        for (int x2 = 0; x2 < empty.width(); x2 += 5) {
            ASSERT_EQ(empty.pixel(x2, y), qRgb(255, 255, 255));
        }
    }
}

} // namespace
} // namespace phonaxis
