#include "model/Channels.h"
#include "support/ChannelFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <numbers>
#include <vector>

namespace phonaxis {
namespace {

void load(Channels& channel, const std::vector<float>& samples, double rateHz)
{
    test::loadChannel(channel, samples, rateHz);
}

std::vector<float> generate(std::size_t n, const std::function<double(double)>& f)
{
    std::vector<float> x(n);
    for (std::size_t i = 0; i < n; ++i) {
        x[i] = static_cast<float>(f(static_cast<double>(i)));
    }
    return x;
}

TEST(TracksTest, VelocityAndAccelerationFollowKnownSignals)
{
    constexpr double kRate = 10000.0;
    constexpr double kTwoPiF = 2.0 * std::numbers::pi * 100.0 / kRate; // 100 Hz, per sample
    // Five-sample forward average of a sinusoid sampled at the midpoints:
    // centred 2.5 samples on, scaled by the average's sinc gain.
    const double gain5 = std::sin(2.5 * kTwoPiF) / (5.0 * std::sin(0.5 * kTwoPiF));
    struct Case {
        const char* name;
        std::function<double(double)> signal; // exactly representable where it matters
        double windowMs;
        std::function<double(double)> velocity;     // expected v[i]
        std::function<double(double)> acceleration; // expected a[i]
        double tolerance;                           // relative to 2 × rate
    };
    const Case cases[] = {
        {"constant", [](double) { return 0.25; }, 0.5, [](double) { return 0.0; },
         [](double) { return 0.0; }, 0.0},
        {"parabola, no window", [](double i) { return i * i / 4096.0; }, 0.0,
         [](double i) { return (2.0 * i + 1.0) / 4096.0 * kRate; },
         [](double) { return 2.0 / 4096.0 * kRate * kRate; }, 1e-10},
        {"sine, no window", [&](double i) { return std::sin(kTwoPiF * i); }, 0.0,
         [&](double i) { return std::cos(kTwoPiF * (i + 0.5)) * 2.0 * std::sin(kTwoPiF / 2) * kRate; },
         nullptr, 1e-5},
        {"sine, 0.5 ms", [&](double i) { return std::sin(kTwoPiF * i); }, 0.5,
         [&](double i) {
             return gain5 * std::cos(kTwoPiF * (i + 2.5)) * 2.0 * std::sin(kTwoPiF / 2) * kRate;
         },
         nullptr, 1e-5},
    };
    constexpr std::size_t n = 1000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Channels channel;
        load(channel, generate(n, c.signal), kRate);
        ASSERT_TRUE(channel.CalculateAcceleration(c.windowMs, c.windowMs));
        ASSERT_EQ(channel.m_hdDataVelocity.size(), n);
        // Indices whose averages reach the repeated last difference differ.
        for (std::size_t i = 0; i < n - 12; ++i) {
            ASSERT_NEAR(channel.m_hdDataVelocity[i], c.velocity(double(i)), c.tolerance * 2 * kRate);
            if (c.acceleration) {
                ASSERT_NEAR(channel.m_hdDataAcceleration[i], c.acceleration(double(i)), 1e-6) << i;
            }
        }
        EXPECT_LE(channel.m_dVelocityMin, 0.0);
        EXPECT_GE(channel.m_dVelocityMax, 0.0);
    }
}

TEST(TracksTest, VelocityWindowPastTheChannelGivesTheMeanDifference)
{
    Channels channel;
    load(channel, generate(8, [](double i) { return i * i; }), 1000.0);
    ASSERT_TRUE(channel.CalculateVelocity(100.0));
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_DOUBLE_EQ(channel.m_hdDataVelocity[i], (1 + 3 + 5 + 7 + 9 + 11 + 13 + 13) / 8.0 * 1000);
    }
}

TEST(TracksTest, SmoothingKeepsItsHeadAndTailFillsInsideTheBuffer)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        double points;
        std::vector<float> expected; // for the ramp 0..19; empty: unchanged
    };
    const Case cases[] = {
        // 4 points smooth over 5: head takes t[3], tail from 13 takes t[10].
        {4, {3, 3, 3, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 10, 10, 10, 10, 10, 10, 10}},
        // 1 point: interior unchanged, head t[1], tail from 17 takes t[14].
        {1, {1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 14, 14, 14}},
        {16, {}}, // 17 points leave fewer than five samples beyond the window
        {nan, {1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 14, 14, 14}},
    };
    const std::vector<float> ramp = generate(20, [](double i) { return i; });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.points);
        Channels channel;
        load(channel, ramp, 1000.0);
        channel.m_bSmoothDo = true;
        channel.m_dSmoothNumOfPoints = c.points;
        EXPECT_EQ(channel.CalculateSmooth(), !c.expected.empty());
        const std::vector<float>& expected = c.expected.empty() ? ramp : c.expected;
        for (std::size_t i = 0; i < 20; ++i) {
            EXPECT_FLOAT_EQ(channel.m_hData[i], expected[i]) << i;
        }
    }
}

TEST(TracksTest, DcLevelWindowsAtTheBufferEdges)
{
    struct Case {
        const char* name;
        std::size_t n;
        double windowMs; // at 10 000 samples per second
        std::function<double(double)> signal;
        std::function<double(std::size_t)> level; // expected DC level at each index
    };
    const Case cases[] = {
        {"even window on a ramp: the mean of i-40..i+39", 400, 8.0, [](double i) { return i; },
         [](std::size_t i) {
             const double j = i <= 40 ? 41.0 : i >= 400 - 82 ? 400.0 - 85.0 : double(i);
             return j - 0.5;
         }},
        {"odd window divides 4 samples by 5", 100, 0.5, [](double) { return 1.0; },
         [](std::size_t) { return 0.8; }},
        {"window past the channel: the channel's mean", 50, 8.0, [](double i) { return i; },
         [](std::size_t) { return 24.5; }},
        {"window under two samples removes nothing", 50, 0.1, [](double i) { return i; },
         [](std::size_t) { return 0.0; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Channels channel;
        load(channel, generate(c.n, c.signal), 10000.0);
        channel.m_dDCShiftWindowMS = c.windowMs;
        ASSERT_TRUE(channel.GetDC_Shift());
        ASSERT_EQ(channel.m_hdDataSmoothedDC.size(), c.n);
        for (std::size_t i = 0; i < c.n; ++i) {
            ASSERT_NEAR(channel.m_hdDataSmoothedDC[i], c.level(i), 1e-5) << i;
            ASSERT_NEAR(channel.m_hdDataSmoothedShifted[i], c.signal(double(i)) - c.level(i), 1e-4)
                << i;
        }
    }
    Channels empty;
    EXPECT_FALSE(empty.GetDC_Shift());
}

TEST(TracksTest, TrackReadersStayInsideTheTrackAndCacheTheirValue)
{
    Channels channel;
    load(channel, generate(100, [](double i) { return i * i / 4096.0; }), 1000.0);
    channel.m_dVelocityCursorValue = 7.0;
    EXPECT_EQ(channel.GetVelocityCursorValue_Time(50.0), 7.0); // no track: cached value
    EXPECT_EQ(channel.GetVelocityCursorValue_Point({10.0, 0.0}), 0.0);
    ASSERT_TRUE(channel.CalculateAcceleration(0.0, 0.0));
    const auto velocityAt = [](double i) { return (2.0 * i + 1.0) / 4096.0 * 1000.0; };
    EXPECT_DOUBLE_EQ(channel.GetVelocityCursorValue_Time(10.0), velocityAt(10));
    EXPECT_DOUBLE_EQ(channel.GetVelocityCursorValue_Time(-5.0), velocityAt(0));
    EXPECT_DOUBLE_EQ(channel.GetVelocityCursorValue_Time(1e9), velocityAt(98)); // last repeats
    EXPECT_DOUBLE_EQ(channel.m_dVelocityCursorValue, velocityAt(98));
    EXPECT_DOUBLE_EQ(channel.GetAccelerationCursorValue_Time(20.0), 2.0 / 4096.0 * 1e6);
}

TEST(TracksTest, IntensityTrackIsReadAtTheCursorTime)
{
    Channels channel;
    EXPECT_EQ(channel.GetIntensityCursorValue(10.0), 0.0);
    ASSERT_TRUE(channel.CalculateIntensity()); // no samples: present, reads 0
    EXPECT_TRUE(channel.m_bHaveIntensity && channel.GetIntensityCursorValue(10.0) == 0.0);

    // 0 dB then -20 dB about a reference of 0.25: shifted so the minimum is 0.
    load(channel, generate(400, [](double i) { return i < 200 ? 1.25 : 0.35; }), 1000.0);
    channel.m_dReference = 0.25;
    channel.m_dIntensityWindowLengthMS = 29.5; // 30 whole samples once rounded
    ASSERT_TRUE(channel.CalculateIntensity());
    EXPECT_NEAR(channel.GetIntensityCursorValue(50.0), 20.0, 1e-4);
    EXPECT_NEAR(channel.GetIntensityCursorValue(330.0), 0.0, 1e-4);
    EXPECT_NEAR(channel.GetIntensityCursorValue(1e6), 0.0, 1e-4); // past the end: last value
}

TEST(TracksTest, IntensityWindowPastTheChannelMeasuresTheWholeChannel)
{
    // 3000 samples at 1 kHz, step 10 ms: frames lie inside the channel, so
    // windows from 2991 samples on are cut to the one frame of 2990 that fits.
    Channels reference;
    load(reference, generate(3000, [](double i) { return 0.5 * std::sin(i * 0.3); }), 1000.0);
    reference.m_dIntensityWindowLengthMS = 2989.5; // 2990 samples
    ASSERT_TRUE(reference.CalculateIntensity());
    const std::span<const float> whole = reference.m_hfDataIntensity.span().first(3000);
    ASSERT_GT(whole[0], 0.0F);
    EXPECT_EQ(std::count(whole.begin(), whole.end(), whole[0]), 3000);
    for (const double windowMs : {2990.5, 3000.0, 5e8, 1e300}) {
        Channels channel;
        load(channel, std::vector<float>(reference.samples().begin(), reference.samples().end()),
             1000.0);
        channel.m_dIntensityWindowLengthMS = windowMs;
        ASSERT_TRUE(channel.CalculateIntensity());
        const std::span<const float> track = channel.m_hfDataIntensity.span().first(3000);
        EXPECT_TRUE(std::equal(track.begin(), track.end(), whole.begin())) << windowMs;
    }
}

// Steps of a fractional number of samples: the cut window must still leave
// its one frame ((n − window)/step can round to 0.99999…), not a track of 0.
TEST(TracksTest, IntensityWindowPastTheChannelWithAFractionalStep)
{
    const struct {
        double rateHz;
        std::size_t samples;
        double stepMs;
    } cases[] = {
        {44100, 44100, 1.0}, {44100, 22050, 0.3}, {22050, 10000, 1.0}, {16000, 12345, 0.3}};
    for (const auto& c : cases) {
        Channels channel;
        load(channel, generate(c.samples, [](double i) { return 0.5 * std::sin(i * 0.3); }),
             c.rateHz);
        channel.m_dIntensityStepSizeMS = c.stepMs;
        channel.m_dIntensityWindowLengthMS = 1e6;
        ASSERT_TRUE(channel.CalculateIntensity());
        const std::span<const float> track = channel.m_hfDataIntensity.span().first(c.samples);
        EXPECT_GT(track[0], 0.0F) << c.rateHz << " " << c.samples;
        EXPECT_EQ(std::count(track.begin(), track.end(), track[0]), std::ptrdiff_t(c.samples))
            << c.rateHz << " " << c.samples;
    }
}

} // namespace
} // namespace phonaxis
