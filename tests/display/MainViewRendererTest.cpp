#include "display/MainViewRenderer.h"

#include "analysis/CMathFunc.h"
#include "support/ChannelFixtures.h"
#include "support/ScriptedPrompts.h"

#include <QImage>
#include <QRect>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <utility>
#include <vector>

namespace phonaxis {
namespace {

const QRgb kRed = qRgb(255, 0, 0);
const QRgb kBlue = qRgb(0, 0, 255);

class MainViewRendererTest : public ::testing::Test {
protected:
    // Loads `samples` into slot `index` in a strip from `top` to `bottom`,
    // the whole channel on the page, drawn in `rgb` (8-bit components).
    Channels& addChannel(int index, const std::vector<float>& samples, std::int16_t top,
                         std::int16_t bottom, QRgb rgb)
    {
        Channels& channel = m_document.getChannel(index);
        test::loadChannel(channel, samples, 22050.0);
        channel.m_nDataType = 3;
        channel.m_rLocation = Rect{top, 50, bottom, 395};
        channel.m_nHeigth = bottom - top;
        channel.m_dPageMin = 0.0;
        channel.m_dPageMax = double(samples.size());
        channel.m_bDrawReference = false;
        channel.m_nColorRed = qRed(rgb) * 257;
        channel.m_nColorGreen = qGreen(rgb) * 257;
        channel.m_nColorBlue = qBlue(rgb) * 257;
        m_document.m_nNumofChannels = std::max(m_document.m_nNumofChannels, index + 1);
        m_document.m_bHaveData = true;
        return channel;
    }

    // Rows of the image holding `rgb` between x = 50 and 395.
    static std::vector<int> rowsWith(const QImage& image, QRgb rgb)
    {
        std::vector<int> rows;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 50; x <= 395; ++x) {
                if (image.pixel(x, y) == rgb) {
                    rows.push_back(y);
                    break;
                }
            }
        }
        return rows;
    }

    test::ScriptedPrompts m_prompts;
    MyDocument m_document{m_prompts};
};

std::vector<float> sine(std::size_t count, double amplitude, double radiansPerSample = 0.05)
{
    std::vector<float> samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        samples[i] = float(amplitude * std::sin(double(i) * radiansPerSample));
    }
    return samples;
}

TEST_F(MainViewRendererTest, TwoChannelDocumentShowsEachTraceInItsStrip)
{
    addChannel(0, sine(22050, 0.9), 0, 100, kRed).m_bAnchorChannel = true;
    addChannel(1, std::vector<float>(22050, 0.5f), 105, 205, kBlue);
    m_document.m_bDrawTimeGrid = true;

    const QImage image = renderMainView(m_document, QSize(400, 240));
    ASSERT_FALSE(image.isNull());
    const std::vector<int> red = rowsWith(image, kRed);
    const std::vector<int> blue = rowsWith(image, kBlue);
    // The sine fills most of the upper strip (±0.9 of the half height 50).
    ASSERT_FALSE(red.empty());
    EXPECT_LE(red.front(), 7);
    EXPECT_GE(red.back(), 93);
    EXPECT_LE(red.back(), 100);
    // The constant 0.5 is one line a quarter of the strip above its middle,
    // apart from the join from the baseline at the left edge.
    ASSERT_FALSE(blue.empty());
    EXPECT_EQ(blue.front(), 205 - 50 - 25);
    EXPECT_LE(blue.back(), 205 - 50);
    // The grid runs down both strips, the frames are black and white lies
    // outside the frame.
    EXPECT_EQ(image.pixel(50, 180), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(20, 150), qRgb(255, 255, 255));
}

TEST_F(MainViewRendererTest, BaselineFollowsDataTypeAndDerivedTracks)
{
    // Strip 0 … 120: a zero trace lies on y0 = 120 − (int)(120 × baseline);
    // the (red) velocity track below it on its own baseline.
    struct Case {
        int dataType;
        bool velocity;
        int traceRow;
        int velocityRow; // −1: none drawn
    };
    const Case cases[] = {
        {3, false, 60, -1},  // floats: middle
        {1, false, 120, -1}, // unsigned: bottom
        {-1, false, 0, -1},  // top
        {0, false, 60, -1},  // signed: middle
        {0, true, 30, 90},   // signed with velocity: baseline 0.75, track at 0.25
        {1, true, 60, 90},   // unsigned with velocity: baseline 0.5, track at 0.25
    };
    const QRgb traceRgb = qRgb(0, 128, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dataType * 10 + c.velocity);
        Channels& channel = addChannel(0, std::vector<float>(1000, 0.0f), 0, 120, traceRgb);
        channel.m_nDataType = c.dataType;
        channel.m_bHaveVelocity = c.velocity;
        channel.m_bDrawVelocity = c.velocity;
        if (c.velocity) {
            ASSERT_TRUE(channel.m_hdDataVelocity.allocate(1000));
            channel.m_dVelocityFileLength = 1000.0;
            channel.m_dVelocityMax = 1.0;
        }
        const QImage image = renderMainView(m_document, QSize(400, 150));
        EXPECT_EQ(rowsWith(image, traceRgb), std::vector<int>{c.traceRow});
        const std::vector<int> red = rowsWith(image, kRed);
        EXPECT_EQ(std::count(red.begin(), red.end(), c.velocityRow) == 1, c.velocity);
    }
}

TEST_F(MainViewRendererTest, SummariesGiveTheSamePictureAsScanning)
{
    for (int i = 0; i < 3; ++i) {
        std::vector<float> samples = sine(400'000 + 77 * i, 0.3 + 0.2 * i);
        samples[123'456] = 1.0f; // a lone spike must survive every zoom
        Channels& channel = addChannel(i, samples, std::int16_t(i * 70),
                                       std::int16_t(i * 70 + 65), kRed);
        channel.m_bAnchorChannel = i == 0;
    }
    MainViewSummaries summaries;
    ASSERT_TRUE(summaries.build(m_document, 2));
    for (double pageMax : {400'000.0, 150'000.0, 130'000.0}) {
        for (int i = 0; i < 3; ++i) {
            m_document.getChannel(i).m_dPageMin = 100'000.0;
            m_document.getChannel(i).m_dPageMax = pageMax;
        }
        const QImage fast = renderMainView(m_document, QSize(400, 230), &summaries);
        const QImage scanned = renderMainView(m_document, QSize(400, 230));
        EXPECT_TRUE(fast == scanned) << pageMax;
    }
}

TEST_F(MainViewRendererTest, ZoomedOutSineIsSymmetricAboutItsBaseline)
{
    // 2 s of 220 Hz at ±0.5 and 44.1 kHz: a third of a period per column, ±50
    // pixels about the baseline at y = 100.
    const std::vector<float> samples = sine(88200, 0.5, 2.0 * std::numbers::pi * 220.0 / 44100.0);
    addChannel(0, samples, 0, 200, kRed).m_rLocation.right = 1145;
    m_document.m_bDrawTimeGrid = false;
    const QImage image = renderMainView(m_document, QSize(1150, 230));
    // Painted pixels at each distance from the baseline, first column aside.
    const int columns = 1145 - 51;
    int above[60] = {};
    int below[60] = {};
    for (int x = 51; x < 1145; ++x) {
        for (int d = 1; d < 60; ++d) {
            above[d] += image.pixel(x, 100 - d) == kRed ? 1 : 0;
            below[d] += image.pixel(x, 100 + d) == kRed ? 1 : 0;
        }
    }
    // The halves match row by row and in area (one pixel per column); the
    // trace reaches ±0.5 and no further.
    int areaAbove = 0;
    int areaBelow = 0;
    for (int d = 1; d < 60; ++d) {
        EXPECT_NEAR(above[d], below[d], columns * 0.03) << d;
        areaAbove += above[d];
        areaBelow += below[d];
    }
    EXPECT_LE(std::abs(areaAbove - areaBelow), columns);
    EXPECT_GT(std::min(above[49], below[49]), columns / 3);
    EXPECT_EQ(above[51] + below[51], 0);
}

TEST_F(MainViewRendererTest, IntensityTrackIsBlueInColourAndBlackOtherwise)
{
    // A flat trace at y = 50 in a strip from 0 to 100; an intensity of -30
    // dBFS on a track whose levels run from -65 to -12: on the scale from
    // -70 to -10 dBFS at y = 100 − 40/60 × 100 ≈ 34. Its second half is
    // digital silence, below the strip.
    Channels& channel = addChannel(0, std::vector<float>(1000, 0.0f), 0, 100, qRgb(0, 128, 0));
    ASSERT_TRUE(channel.m_hfDataIntensity.allocate(1000));
    std::ranges::fill(channel.m_hfDataIntensity.span().first(500), -30.0f);
    std::ranges::fill(channel.m_hfDataIntensity.span().subspan(500),
                      float(CMathFunc::kIntensityFloorDb));
    channel.m_dIntensityFileLength = 1000.0;
    channel.m_dIntensityMin = -65.0;
    channel.m_dIntensityMax = -12.0;
    channel.m_bHaveIntensity = channel.m_bDrawIntensity = true;
    m_document.m_bDrawTimeGrid = false;
    for (const auto& [colour, expected] :
         {std::pair{true, kBlue}, std::pair{false, qRgb(0, 0, 0)}}) {
        m_document.m_bColor = colour;
        const QImage image = renderMainView(m_document, QSize(400, 120));
        for (int x : {100, 150, 200}) {
            EXPECT_EQ(image.pixel(x, 34), expected) << colour << " at " << x;
        }
        for (int x : {260, 300, 350}) {
            for (int y = 1; y < 100; ++y) {
                ASSERT_TRUE(y == 50 || image.pixel(x, y) != expected)
                    << colour << " at " << x << ", " << y;
            }
        }
    }
}

TEST_F(MainViewRendererTest, LabelTextHasALightBackingOverTheTrace)
{
    // Full-scale samples of alternating sign paint the strip black top to bottom.
    std::vector<float> samples(40'000, 1.0f);
    for (std::size_t i = 1; i < samples.size(); i += 2) {
        samples[i] = -1.0f;
    }
    Channels& channel = addChannel(0, samples, 0, 100, qRgb(0, 0, 0));
    m_document.m_bDrawTimeGrid = false;
    Labels label;
    label.setText("onset");
    label.dTime = channel.m_dLengthMS / 2.0;
    label.dVerticalFactor = 0.4;
    label.setBounds(RectD{0.0, 0.0, 60.0, 20.0}, 0.0);
    channel.Add_Label_Cocoa(label);
    const QImage image = renderMainView(m_document, QSize(400, 120));

    const Labels* placed = channel.GetLabelZoomed(0, 0.0, channel.m_dLengthMS, g_nLeftWindowOffset);
    ASSERT_NE(placed, nullptr);
    const RectD& b = placed->bounds();
    const QRect box(int(b.x), int(b.y), int(b.width), int(b.height));
    ASSERT_TRUE(QRect(50, 0, 345, 100).contains(box));
    int light = 0;
    int dark = 0;
    for (int y = box.top(); y <= box.bottom(); ++y) {
        for (int x = box.left(); x <= box.right(); ++x) {
            light += qGray(image.pixel(x, y)) > 180 ? 1 : 0;
            dark += qGray(image.pixel(x, y)) < 60 ? 1 : 0;
        }
    }
    // Mostly backing with the black text on it; the trace black just outside.
    EXPECT_GT(light, box.width() * box.height() / 2);
    EXPECT_GT(dark, 20);
    EXPECT_EQ(image.pixel(box.left() - 2, box.center().y()), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(box.center().x(), box.top() - 2), qRgb(0, 0, 0));
}

TEST_F(MainViewRendererTest, DocumentWithoutDataOrSizeDrawsNothing)
{
    addChannel(0, sine(1000, 0.5), 0, 100, kRed);
    m_document.m_bHaveData = false;
    const QImage image = renderMainView(m_document, QSize(400, 120));
    EXPECT_TRUE(rowsWith(image, kRed).empty());
    EXPECT_TRUE(renderMainView(m_document, QSize(0, 120)).isNull());
}

} // namespace
} // namespace phonaxis
