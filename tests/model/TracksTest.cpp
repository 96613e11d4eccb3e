#include "model/Channels.h"

#include "PitchCorpus.h"
#include "analysis/CMathFunc.h"
#include "support/ChannelFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <numbers>
#include <optional>
#include <utility>
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
    EXPECT_EQ(channel.intensityDbfsAt(10.0), CMathFunc::kIntensityFloorDb);

    // 0 dBFS then -20 dBFS about a reference of 0.25; relative: 20 and 0 dB
    // above the quietest frame.
    for (const bool relative : {false, true}) {
        load(channel, generate(400, [](double i) { return i < 200 ? 1.25 : 0.35; }), 1000.0);
        channel.m_dReference = 0.25;
        channel.m_dIntensityWindowLengthMS = 29.5; // 30 whole samples once rounded
        channel.m_bIntensityRelative = relative;
        ASSERT_TRUE(channel.CalculateIntensity());
        const double offset = relative ? 20.0 : 0.0;
        EXPECT_NEAR(channel.GetIntensityCursorValue(50.0), 0.0 + offset, 1e-4);
        EXPECT_NEAR(channel.GetIntensityCursorValue(330.0), -20.0 + offset, 1e-4);
        EXPECT_NEAR(channel.GetIntensityCursorValue(1e6), -20.0 + offset, 1e-4); // last value
        EXPECT_NEAR(channel.m_dIntensityMin, -20.0 + offset, 1e-4);
        EXPECT_NEAR(channel.m_dIntensityMax, 0.0 + offset, 1e-4);
        // The level itself does not depend on the relative setting.
        EXPECT_NEAR(channel.intensityDbfsAt(50.0), 0.0, 1e-6);
        EXPECT_NEAR(channel.intensityDbfsAt(330.0), -20.0, 1e-6);
    }
}

// Brute force: 10·log10 of the mean square of the `window` samples from
// trunc(timeMs × rate / 1000), cut at the end.
double levelByHand(const std::vector<float>& x, double rateHz, double timeMs, std::size_t window)
{
    const auto first = static_cast<std::size_t>(timeMs * rateHz / 1000.0 + 1e-9);
    const std::size_t last = std::min(x.size(), first + window);
    double sum = 0.0;
    for (std::size_t i = first; i < last; ++i) {
        sum += double(x[i]) * double(x[i]);
    }
    return 10.0 * std::log10(sum / double(last - first));
}

// The level of a voice in noise is the same with half a second of digital
// silence before and after it, on the track and at every frame time, and it
// is the mean square of the window's samples in dB re full scale; the
// silence reads the floor.
TEST(TracksTest, IntensityIsALevelThatAddedSilenceLeavesAlone)
{
    signals::GlideParams params;
    params.noise = signals::GlideNoise::Pink;
    const signals::Glide glide = signals::pitchGlide(params);
    const double rate = glide.rateHz;
    const auto pad = static_cast<std::size_t>(rate / 2.0); // 500 ms
    std::vector<float> padded(pad, 0.0F);
    padded.insert(padded.end(), glide.samples.begin(), glide.samples.end());
    padded.resize(padded.size() + pad, 0.0F);

    Channels plain;
    Channels framed;
    load(plain, glide.samples, rate);
    load(framed, padded, rate);
    ASSERT_TRUE(plain.CalculateIntensity());
    ASSERT_TRUE(framed.CalculateIntensity());
    const std::size_t window = 662; // 30 ms at 22,050 Hz, rounded
    ASSERT_EQ(plain.intensityWindowSamples(), double(window));
    int compared = 0;
    for (double t = 0.0; t + 40.0 < plain.m_dLengthMS; t += 10.0) {
        const double level = plain.intensityDbfsAt(t);
        ASSERT_NEAR(level, levelByHand(glide.samples, rate, t, window), 1e-9) << t;
        ASSERT_LT(level, 0.0) << t;
        EXPECT_EQ(framed.intensityDbfsAt(t + 500.0), level) << t;
        // The track at a frame's start holds that frame's level.
        EXPECT_NEAR(plain.GetIntensityCursorValue(t), level, 1e-3) << t;
        EXPECT_NEAR(framed.GetIntensityCursorValue(t + 500.0), level, 1e-3) << t;
        ++compared;
    }
    EXPECT_GT(compared, 400);
    // (Frames that reach into the silence are quieter than any of the plain
    // channel's, so only the loudest level is shared.)
    EXPECT_NEAR(framed.m_dIntensityMax, plain.m_dIntensityMax, 1e-3);
    for (const double t : {0.0, 250.0, 460.0, framed.m_dLengthMS - 30.0, framed.m_dLengthMS}) {
        EXPECT_EQ(framed.intensityDbfsAt(t), CMathFunc::kIntensityFloorDb) << t;
        EXPECT_EQ(framed.GetIntensityCursorValue(t), CMathFunc::kIntensityFloorDb) << t;
    }
    // The window is cut at the channel's end.
    EXPECT_NEAR(plain.intensityDbfsAt(plain.m_dLengthMS - 10.0),
                levelByHand(glide.samples, rate, plain.m_dLengthMS - 10.0, window), 1e-9);
}

// Full-scale signals read as they are known to, on the track and at a time,
// at any rate; a channel with no room for one frame reads its whole level.
TEST(TracksTest, IntensityOfFullScaleSignalsInDecibelsReFullScale)
{
    const struct {
        const char* name;
        double rateHz;
        std::size_t samples;
        std::function<double(double)> signal; // of the sample index
        double expectedDb;
    } cases[] = {
        {"sine 44100", 44100, 44100,
         [](double i) { return std::sin(i * 2.0 * std::numbers::pi / 441.0); }, -3.0103},
        {"sine 8000", 8000, 8000,
         [](double i) { return std::sin(i * 2.0 * std::numbers::pi / 80.0); }, -3.0103},
        {"square", 16000, 16000, [](double i) { return std::fmod(i, 160.0) < 80.0 ? 1.0 : -1.0; },
         0.0},
        {"5 ms of square", 16000, 80,
         [](double i) { return std::fmod(i, 16.0) < 8.0 ? 1.0 : -1.0; }, 0.0},
    };
    for (const auto& c : cases) {
        Channels channel;
        load(channel, generate(c.samples, c.signal), c.rateHz);
        ASSERT_TRUE(channel.CalculateIntensity());
        const std::span<const float> track = channel.m_hfDataIntensity.span().first(c.samples);
        for (std::size_t i = 0; i < c.samples; i += 37) {
            ASSERT_NEAR(track[i], c.expectedDb, 0.02) << c.name << " " << i;
        }
        EXPECT_NEAR(channel.intensityDbfsAt(0.0), c.expectedDb, 0.02) << c.name;
        EXPECT_NEAR(channel.m_dIntensityMax, c.expectedDb, 0.02) << c.name;
    }
}

// The intensity panes span whole 10 dB from the track's loudest level down
// to its quietest, 10 to 60 dB; a silent track has no scale.
TEST(TracksTest, IntensityPaneScaleCoversTheTrack)
{
    const double floor = CMathFunc::kIntensityFloorDb;
    const struct {
        double minimum, maximum;
        std::optional<std::pair<double, double>> expected;
    } cases[] = {
        {-43.2, -12.5, std::pair{-50.0, -10.0}},
        {-3.0103, -3.0103, std::pair{-10.0, 0.0}}, // one level: at least 10 dB
        {-150.0, -5.0, std::pair{-60.0, 0.0}},     // at most 60 dB below the top
        {-40.0, -20.0, std::pair{-40.0, -20.0}},   // on the grid already
        {0.0, 37.5, std::pair{0.0, 40.0}},         // a relative track
        {floor, 2.0, std::pair{0.0, 10.0}},        // floor: not a level
        {floor, floor, std::nullopt},
        {1e34, -1e34, std::nullopt}, // before any computation
        {std::nan(""), std::nan(""), std::nullopt},
    };
    for (const auto& c : cases) {
        const std::optional<IntensityPaneScale> scale = intensityPaneScale(c.minimum, c.maximum);
        ASSERT_EQ(scale.has_value(), c.expected.has_value()) << c.minimum << " " << c.maximum;
        if (scale) {
            EXPECT_EQ(scale->lowDb, c.expected->first) << c.minimum;
            EXPECT_EQ(scale->highDb, c.expected->second) << c.maximum;
            EXPECT_FALSE(std::signbit(scale->highDb) && scale->highDb == 0.0); // not "-0"
        }
    }
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
    ASSERT_NEAR(whole[0], 10.0 * std::log10(0.125), 0.01); // a sine at half full scale
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
// its one frame ((n − window)/step can round to 0.99999…), the level of the
// channel as a whole.
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
        EXPECT_NEAR(track[0], 10.0 * std::log10(0.125), 0.01) << c.rateHz << " " << c.samples;
        EXPECT_EQ(std::count(track.begin(), track.end(), track[0]), std::ptrdiff_t(c.samples))
            << c.rateHz << " " << c.samples;
    }
}

} // namespace
} // namespace phonaxis
