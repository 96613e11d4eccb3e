#include "model/Channels.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace phonaxis {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// 1000 samples over 100 ms, sample i holding i / 1000. Strip x 100..300
// (200 pixels); page on samples 200..600 = 20..60 ms, so a pixel is 2 samples.
Channels makeChannel()
{
    Channels c;
    std::vector<float> values(1000);
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = float(i) / 1000.0f;
    }
    c.setData(values.data(), 1000);
    c.m_dwFileLength = 1000;
    c.m_dLengthMS = 100;
    c.m_rLocation = Rect{10, 100, 60, 300};
    c.m_dPageMin = 200;
    c.m_dPageMax = 600;
    return c;
}

TEST(ChannelsTime, PointsAndTimesMapToClampedPositions)
{
    struct Case {
        bool byPoint;
        double in, position, timeMs;
    };
    const Case cases[] = {
        {true, -150, 0, 0},       {true, 0, 200, 20},        {true, 100.75, 401.5, 40.15},
        {true, 1000, 1000, 100},  {false, -5, 0, 0},         {false, 25, 250, 25},
        {false, 150, 1000, 100},  {false, kNaN, 0, 0},
    };
    for (const Case& c : cases) {
        Channels ch = makeChannel();
        if (c.byPoint) {
            EXPECT_DOUBLE_EQ(ch.GetCursorTime({c.in, 0}), c.timeMs);
            ch.SetCursorInFile_Point({c.in, 7});
        } else {
            ch.SetCursorInFile_Time(c.in);
        }
        EXPECT_DOUBLE_EQ(ch.m_dCursorFileValue, c.position) << c.in;
        EXPECT_DOUBLE_EQ(ch.m_dCursorTime, c.timeMs) << c.in;
    }
}

TEST(ChannelsTime, StoredValueReadsStayInsideTheSamples)
{
    // Times outside the channel read its first or last sample.
    struct Case {
        double timeMs;
        float expected;
    };
    const Case cases[] = {{25.09, 0.25f}, {-3, 0.0f},      {99.99, 0.999f},
                          {100, 0.999f},  {5e300, 0.999f}, {kNaN, 0.0f}};
    for (const Case& c : cases) {
        Channels ch = makeChannel();
        EXPECT_EQ(float(ch.GetRawValue(c.timeMs)), c.expected) << c.timeMs;
        EXPECT_EQ(float(ch.GetCursorValue_Time(c.timeMs)), c.expected) << c.timeMs;
    }
    Channels ch = makeChannel();
    EXPECT_EQ(float(ch.GetCursorValue_Point({1000, 0})), 0.999f); // position 1000 reads 999
    ch.m_hData.allocate(10); // fewer samples than the length claims
    ch.m_hData[9] = 0.5f;
    EXPECT_EQ(ch.GetRawValue(50), 0.5f);
    EXPECT_EQ(ch.SetRefrenceValue_Point({1000, 0}), 0.5f);

    ch.m_hData.reset();
    ch.m_dCursorDataValue = 0.7;
    ch.m_dMarkerDataValue = 0.6;
    EXPECT_EQ(ch.GetRawValue(25), 0.0);
    EXPECT_EQ(ch.GetCursorValue_Time(25), 0.7);
    EXPECT_EQ(ch.SetRefrenceValue_Time(25), 0.5);
    ch.SetMarkerValues_Time(30);
    EXPECT_EQ(ch.m_dMarkerDataValue, 0.6);
    EXPECT_EQ(ch.m_dDurationStartFile, 300);
}

TEST(ChannelsTime, MarkerCollapsesTheSelection)
{
    Channels ch = makeChannel();
    ch.SetMarkerValues_Time(30);
    ch.SetCursorInFile_Time(45);
    ch.CalculateDuration();
    ASSERT_DOUBLE_EQ(ch.GetDurationTime(), 15);
    ch.SetMarkerValues_Point({100, 0});
    EXPECT_FLOAT_EQ(float(ch.m_dMarkerDataValue), 0.4f);
    EXPECT_EQ(ch.m_dDurationStartTime, ch.m_dMarkerTime);
    EXPECT_EQ(ch.m_dDurationStopTime, ch.m_dMarkerTime);
    EXPECT_EQ(ch.m_dDurationStopFile, 400);
    EXPECT_EQ(ch.m_dDurationTime, 0.0);

    Channels empty; // no samples, no length, no strip: everything stays at 0
    empty.SetMarkerValues_Point({10, 0});
    EXPECT_EQ(empty.m_dMarkerFileValue + empty.m_dMarkerTime, 0.0);
}

TEST(ChannelsTime, CursorAndSelectionRectanglesOnThePage)
{
    struct Case {
        double startMs, stopMs;
        std::int16_t cursorLeft, selectionLeft, selectionRight;
    };
    // The page starts and ends exactly at 20 and 60 ms; the cursor is at startMs.
    const Case cases[] = {
        {20, 60, -1, 100, 300},   {60, 90, -1, 300, 300},   {10, 30, -1, 100, 150},
        {40, 30, 200, 150, 200},  {20.1, 80, 100, 100, 300}, {59.99, 5, 299, 100, 299},
    };
    for (const Case& c : cases) {
        Channels ch = makeChannel();
        Rect cursor;
        ch.GetRect(cursor, c.startMs);
        const std::int16_t right = c.cursorLeft < 0 ? -1 : std::int16_t(c.cursorLeft + 1);
        EXPECT_EQ(cursor, (Rect{10, c.cursorLeft, 60, right})) << c.startMs;
        ch.m_dDurationStartTime = c.startMs;
        ch.m_dDurationStopTime = c.stopMs;
        EXPECT_EQ(ch.GetSelectionRect(), (Rect{10, c.selectionLeft, 60, c.selectionRight}))
            << c.startMs << ".." << c.stopMs;
    }
    Channels ch = makeChannel();
    EXPECT_DOUBLE_EQ(ch.GetCursorPixelforTime(10), -50.0);
    EXPECT_EQ(ch.m_dPageTimeSize, 40);
    ch.m_rLocation.right = ch.m_rLocation.left; // no strip and no page: no crash, nothing drawn
    ch.m_dPageMax = ch.m_dPageMin;
    ch.SetCursorInFile_Point({0, 0});
    EXPECT_EQ(ch.m_dCursorFileValue, 0.0);
}

TEST(ChannelsTime, CalibrationPolynomialWithReferenceAndGain)
{
    struct Case {
        double a, b, c, d, reference, gain, stored, expected;
    };
    const Case cases[] = {
        {0, 0, 1, 0, 0, 1, 0.25, 0.25},  {0, 0, 1, 0, 0, 4, 0.5, 0.125},
        {2, 0, 0, 0, 0, 1, -0.5, -0.25}, {1, 2, 3, 4, 0, 1, 2, 26}, // 8 + 8 + 6 + 4
        {1, 2, 3, 4, 1, 2, 3, 13},       {0, 0, 1000, -5, 0.5, 10, 0.75, 24.5},
    };
    for (const Case& c : cases) {
        Channels ch;
        ch.m_dA3Cal = c.a, ch.m_dB2Cal = c.b, ch.m_dC1Cal = c.c, ch.m_dD0Cal = c.d;
        ch.m_dReference = c.reference;
        ch.m_dGain = c.gain;
        EXPECT_DOUBLE_EQ(ch.CalibrateNew(c.stored), c.expected) << c.a << c.b << c.c << c.d;
    }
    Channels ch = makeChannel();
    ch.m_dC1Cal = 2;
    EXPECT_FLOAT_EQ(float(ch.SetRefrenceValue_Time(25)), 0.25f);
    EXPECT_EQ(ch.calibratedValueAt(75), float(2 * (double(0.75f) - double(0.25f))));
}

} // namespace
} // namespace phonaxis
