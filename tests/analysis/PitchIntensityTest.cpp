#include "analysis/CMathFunc.h"

#include "Signals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

namespace phonaxis {
namespace {

double pitchAt(std::span<const float> s, double at, double rate, int n = 1024, int w = 771,
               double lowHz = 50.0, double spanEnd = -1.0)
{
    return CMathFunc::DoPitchCepstrumNewFloat(s, at, spanEnd < 0 ? double(s.size()) : spanEnd,
                                              rate, lowHz, 500.0, n, w);
}

// Frames every 10 ms: {gross errors (> 20 % off the true F0), voiced frames reported unvoiced}.
std::pair<int, int> trackErrors(const std::vector<float>& s, double rate, int n, int w,
                                const std::function<double(double)>& trueF0At)
{
    const std::vector<double> asDouble(s.begin(), s.end());
    int gross = 0;
    int unvoiced = 0;
    for (double at = 0.0; at + w <= double(s.size()); at += rate / 100.0) {
        const double pitch = pitchAt(s, at, rate, n, w);
        EXPECT_EQ(pitch, CMathFunc::DoPitchCepstrumNewDouble(asDouble, at, double(s.size()), rate,
                                                             50.0, 500.0, n, w));
        const double truth = trueF0At(at + w / 2.0);
        gross += pitch != 0.0 && std::abs(pitch - truth) > 0.2 * truth;
        unvoiced += pitch == 0.0;
    }
    return {gross, unvoiced};
}

TEST(CepstralPitch, FindsF0OfSteadySourcesAndAGlide)
{
    // Impulses sit on whole samples: trains whose spacing alternates (300 Hz
    // at 10 kHz, 200 Hz at 44.1 kHz) carry a true subharmonic and are left out.
    const struct {
        bool vowel;
        double rate, f0;
        int n, w;
    } cases[] = {
        {false, 10000, 200, 1024, 1024}, {false, 10000, 80, 1024, 350},
        {false, 10000, 250, 512, 350},   {false, 22050, 80, 1024, 771},
        {false, 22050, 150, 1024, 771},  {false, 22050, 440, 1024, 771},
        {false, 44100, 100, 2048, 1543}, {false, 44100, 300, 2048, 1543},
        {true, 10000, 100, 1024, 350},   {true, 22050, 200, 1024, 771},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.vowel << " " << c.f0 << " Hz at " << c.rate);
        const std::vector<float> s = c.vowel ? signals::vowel({c.f0, c.rate, 1000.0}).samples
                                             : signals::pulseTrain(c.f0, c.rate, 1000.0).samples;
        EXPECT_EQ(trackErrors(s, c.rate, c.n, c.w, [&](double) { return c.f0; }),
                  std::make_pair(0, 0));
    }
    // An exactly periodic train puts the cepstral peak on the period itself.
    EXPECT_EQ(pitchAt(signals::pulseTrain(200.0, 10000.0, 500.0).samples, 1000, 10000, 1024, 1024),
              200.0);

    // 90 → 290 Hz over 1.5 s: a few frames lock onto twice the period where
    // the period nears a half-sample spacing.
    std::vector<double> f0(33075);
    for (std::size_t i = 0; i < f0.size(); ++i) {
        f0[i] = 90.0 + 200.0 * double(i) / double(f0.size());
    }
    const auto [gross, unvoiced] =
        trackErrors(signals::pulseTrain(f0, 22050.0).samples, 22050.0, 1024, 771,
                    [&](double at) { return f0[std::size_t(at)]; });
    EXPECT_LE(gross, 7); // of 147 frames
    EXPECT_EQ(unvoiced, 0);
}

TEST(CepstralPitch, DegenerateCalls)
{
    const std::vector<float> silence(4096, 0.0F);
    const double declined = CMathFunc::kPitchDeclined;
    const struct {
        double rate, high;
        int n;
        double expected;
    } cases[] = {
        {10000, 500, 100, declined}, {10000, 500, 65536, declined},
        {0, 500, 1024, declined},    {std::nan(""), 500, 1024, declined},
        {10000, 500, 1024, 500.0},  // flat cepstrum: the index stays at rate/highest...
        {10000, 480, 1024, 0.0},    // ...which here lies above the highest pitch
        {10000, 0, 1024, 0.0},      // no quefrency range at all
        {10000, 500, 32768, 500.0}, // the longest transform, flat as well
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CMathFunc::DoPitchCepstrumNewFloat(silence, 0, 4096, c.rate, 50, c.high, c.n,
                                                     512),
                  c.expected)
            << c.rate << " Hz, highest " << c.high << ", length " << c.n;
    }
}

TEST(CepstralPitch, ReadsOnlyTheSamplesItIsGiven)
{
    // The signal sits between blocks of loud garbage and the routine is handed
    // only the signal (once by the span, once by the span end): its frames must
    // come out as if zeros surrounded it.
    const std::vector<float> signal = signals::pulseTrain(150.0, 22050.0, 200.0).samples;
    const std::size_t pad = 5000;
    std::vector<float> garbage(signal.size() + 2 * pad, 0.9F);
    std::vector<float> zeros(signal.size() + 2 * pad, 0.0F);
    std::copy(signal.begin(), signal.end(), garbage.begin() + pad);
    std::copy(signal.begin(), signal.end(), zeros.begin() + pad);
    const std::span<const float> fromSignal = std::span<const float>(garbage).subspan(pad);
    const auto length = double(signal.size());
    for (const double at : {-3000.0, -400.0, 0.0, length - 900.0, length - 30.0, length}) {
        const double expected = pitchAt(zeros, at + pad, 22050, 1024, 771, 50, length + pad);
        EXPECT_EQ(pitchAt(fromSignal.first(signal.size()), at, 22050), expected) << at;
        EXPECT_EQ(pitchAt(fromSignal, at, 22050, 1024, 771, 50, length), expected) << at;
    }
}

TEST(CepstralPitch, OversizedWindowAndRangeStayInsideTheCepstrum)
{
    const std::vector<float> s = signals::pulseTrain(200.0, 44100.0, 500.0).samples;
    const double full = pitchAt(s, 2000, 44100, 1024, 1024);
    EXPECT_NEAR(full, 200.0, 2.0);
    EXPECT_EQ(pitchAt(s, 2000, 44100, 1024, 9000), full); // window cut to the transform
    EXPECT_EQ(pitchAt(s, 2000, 44100, 1024, 1024, 10.0), full); // quefrency 4410 > 512
}

// --- intensity ----------------------------------------------------------------

struct Track {
    std::vector<float> values;
    double minimum = 0.0;
    double maximum = 0.0;
};

Track intensity(const std::vector<float>& in, double frame, double step, unsigned char zeroMin = 0,
                unsigned char linear = 0, double reference = 0.0, double start = 0.0,
                float fill = 0.0F)
{
    Track t{std::vector<float>(in.size(), fill)};
    CMathFunc::DoIntensityFloat(in, t.values, t.minimum, t.maximum, reference, start, frame, step,
                                double(in.size()), zeroMin, linear);
    return t;
}

// Levels in dB re full scale: the mean square of a whole number of periods.
TEST(Intensity, LevelOfKnownSignals)
{
    const double kFloor = CMathFunc::kIntensityFloorDb;
    std::vector<float> square(400);
    for (std::size_t i = 0; i < square.size(); ++i) {
        square[i] = (i / 50) % 2 == 0 ? 1.0F : -1.0F;
    }
    const struct {
        const char* name;
        std::vector<float> samples;
        double reference;
        double expected;
    } cases[] = {
        {"full-scale sine", signals::tone(100.0, 10000.0, 40.0, 1.0), 0.0, -3.0103},
        {"half-scale sine", signals::tone(100.0, 10000.0, 40.0, 0.5), 0.0, -9.0309},
        {"full-scale square", square, 0.0, 0.0},
        {"sine about a reference",
         [] {
             std::vector<float> s = signals::tone(100.0, 10000.0, 40.0, 0.5);
             for (float& x : s) {
                 x += 0.25F;
             }
             return s;
         }(),
         0.25, -9.0309},
        {"digital silence", std::vector<float>(300, 0.0F), 0.0, kFloor},
        {"constant at the reference", std::vector<float>(300, 0.25F), 0.25, kFloor},
        {"no samples", {}, 0.0, kFloor},
        // 1e-11 full scale: a mean square of 1e-22, below the floor's 1e-20.
        {"below the floor", std::vector<float>(300, 1e-11F), 0.0, kFloor},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(CMathFunc::IntensityLevelDb(c.samples, c.reference), c.expected, 1e-4)
            << c.name;
    }
}

TEST(Intensity, TrackHoldsLevelsOfItsFrames)
{
    // 100 Hz at 10 kHz: a 200-sample frame holds two whole periods, mean square A²/2.
    const struct {
        double amplitude;
        unsigned char zeroMin, linear;
        double expected; // every value, the minimum and the maximum
    } cases[] = {
        {2.0, 0, 0, 10.0 * std::log10(2.0)},   // above full scale
        {0.5, 0, 0, 10.0 * std::log10(0.125)}, // a level below full scale is negative
        {1.0, 0, 0, -3.0103},                  // full-scale sine
        {0.5, 0, 1, 0.125},                    // linear mean square
        {0.5, 1, 0, 0.0},                      // relative to the quietest frame
    };
    for (const auto& c : cases) {
        const Track t = intensity(signals::tone(100.0, 10000.0, 300.0, c.amplitude), 200.0, 100.0,
                                  c.zeroMin, c.linear);
        for (const float value : t.values) {
            ASSERT_NEAR(value, c.expected, 1e-4) << c.amplitude;
        }
        EXPECT_NEAR(t.minimum, c.expected, 1e-4);
        EXPECT_NEAR(t.maximum, c.expected, 1e-4);
    }
}

// Digital silence reads the floor and takes no part in the track's range:
// padding a signal with silence leaves its levels and range as they were.
TEST(Intensity, DigitalSilenceReadsTheFloorAndShiftsNothing)
{
    const auto floorDb = float(CMathFunc::kIntensityFloorDb);
    // A tone at 0.1 then at 0.3: −23.0 and −13.5 dBFS.
    std::vector<float> signal = signals::tone(100.0, 10000.0, 100.0, 0.1);
    const std::vector<float> louder = signals::tone(100.0, 10000.0, 100.0, 0.3);
    signal.insert(signal.end(), louder.begin(), louder.end());
    std::vector<float> padded(1000, 0.0F);
    padded.insert(padded.end(), signal.begin(), signal.end());
    padded.resize(padded.size() + 1000, 0.0F);
    for (const unsigned char zeroMin : {0, 1}) {
        SCOPED_TRACE(int(zeroMin));
        const Track plain = intensity(signal, 100.0, 100.0, zeroMin);
        const Track t = intensity(padded, 100.0, 100.0, zeroMin);
        // The padded track has one more frame over the signal (its last
        // period, which the plain track's last frame holds over).
        EXPECT_NEAR(t.minimum, plain.minimum, 1e-5);
        EXPECT_NEAR(t.maximum, plain.maximum, 1e-5);
        EXPECT_EQ(std::vector<float>(t.values.begin() + 1000, t.values.begin() + 2900),
                  std::vector<float>(plain.values.begin(), plain.values.begin() + 1900));
        EXPECT_EQ(std::vector<float>(t.values.begin(), t.values.begin() + 1000),
                  std::vector<float>(1000, floorDb));
        EXPECT_EQ(t.values.back(), floorDb);
    }
    const Track plain = intensity(signal, 100.0, 100.0);
    EXPECT_NEAR(plain.minimum, 10.0 * std::log10(0.005), 1e-4);
    EXPECT_NEAR(plain.maximum, 10.0 * std::log10(0.045), 1e-4);
    EXPECT_NEAR(plain.values[0], plain.minimum, 1e-4);

    for (const unsigned char zeroMin : {0, 1}) {
        const Track silence = intensity(std::vector<float>(500, 0.0F), 50.0, 25.0, zeroMin);
        EXPECT_EQ(silence.values, std::vector<float>(500, floorDb));
        EXPECT_EQ(silence.minimum, CMathFunc::kIntensityFloorDb);
        EXPECT_EQ(silence.maximum, CMathFunc::kIntensityFloorDb);
    }
    // A constant signal equal to the reference is silence too.
    const Track flat = intensity(std::vector<float>(500, 0.25F), 50.0, 25.0, 1, 0, 0.25);
    EXPECT_EQ(flat.values, std::vector<float>(500, floorDb));
}

TEST(Intensity, EdgeFrames)
{
    std::vector<float> in(1000);
    for (std::size_t i = 0; i < in.size(); ++i) {
        in[i] = i % 10 == 0 ? 2.0F : 1.5F; // every level above 0 dB
    }
    // Frames at 0, 300, 600 of 100 samples: each level holds until the next
    // frame starts, the last one's to the end.
    const Track gaps = intensity(in, 100.0, 300.0, 0, 0, 0.0, 0.0, 7.0F);
    EXPECT_NE(gaps.values[0], 7.0F);
    EXPECT_EQ(gaps.values[299], gaps.values[0]);
    EXPECT_EQ(gaps.values[999], gaps.values[600]);

    // Shorter than a frame, no usable step, or every frame past the end:
    // nothing written (and no endless loop); the range is that of the old contents.
    const struct {
        double frame, step, start;
    } noFrames[] = {{2000, 100, 0}, {100, 0, 0}, {100, -5, 0}, {100, std::nan(""), 0},
                    {100, 1e-12, 1e300}};
    for (const auto& c : noFrames) {
        const Track none = intensity(in, c.frame, c.step, 0, 0, 0.0, c.start, 7.0F);
        EXPECT_EQ(none.values, std::vector<float>(in.size(), 7.0F)) << c.step;
        EXPECT_EQ(none.minimum, 7.0);
    }

    // Frames from 450 would run past the track: only those inside are
    // written, and the untouched −1 before them is part of the range.
    std::vector<float> out(1010, -1.0F);
    double low = 0.0;
    double high = 0.0;
    CMathFunc::DoIntensityFloat(in, out, low, high, 0.0, 450.0, 100.0, 100.0, 1000.0, 0, 0);
    EXPECT_EQ(out[449], -1.0F);
    EXPECT_EQ(low, -1.0);
    EXPECT_EQ(out[999], float(high));
    EXPECT_EQ(std::vector<float>(out.begin() + 1000, out.end()), std::vector<float>(10, -1.0F));

    // A step far below one sample ends promptly with the track of a one-sample step.
    EXPECT_EQ(intensity(in, 100.0, 1e-9).values, intensity(in, 100.0, 1.0).values);
}

// The sliding sum of squares equals each frame summed alone, and silence after
// loud noise of many magnitudes is exactly silent, not rounding left over.
TEST(Intensity, OverlappingFramesMatchFramesSummedAfresh)
{
    std::vector<float> in;
    std::uint32_t state = 12345;
    for (int i = 0; i < 3000; ++i) {
        state = state * 1664525U + 1013904223U;
        const double uniform = double(state >> 8) / double(1 << 23) - 1.0;
        in.push_back(float(0.9 * std::ldexp(uniform, -int(state % 7))));
    }
    in.resize(6000, 0.0F);
    const std::vector<float> quiet = signals::tone(77.0, 10000.0, 300.0, 0.9e-4);
    in.insert(in.end(), quiet.begin(), quiet.end());
    const double length = double(in.size());
    for (const double frame : {500.0, 2999.0}) {
        for (const double step : {7.0, 1.0, 0.3}) {
            SCOPED_TRACE(testing::Message() << frame << " / " << step);
            const Track slid = intensity(in, frame, step, 0, 1);
            for (double at = 0.0; at + frame <= length - step; at += step * 97.0) {
                // The frame at `at` alone: one frame from there to the end.
                const double alone = intensity(in, frame, length - frame - at, 0, 1, 0.0, at)
                                         .values[std::size_t(at)];
                ASSERT_NEAR(slid.values[std::size_t(at)], alone, 1e-12 + 1e-9 * alone) << at;
            }
            for (std::size_t i = 3000 + std::size_t(step) + 1; i + std::size_t(frame) < 6000; ++i) {
                ASSERT_EQ(slid.values[i], 0.0F) << i;
            }
        }
    }
}

// With a start offset the last frame, k = (int)((length − frame)/step) − 1 at
// (int)(k·step + start), can end exactly at the track's end: it is computed.
TEST(Intensity, LastFrameEndingAtTheTrackEndIsComputed)
{
    struct Case {
        double frame, step, start; // over 100 samples
    };
    const Case cases[] = {
        {20, 10, 10},   // 8 frames, the last on 80 … 99
        {30, 15, 25},   // 4 frames, the last on 70 … 99
        {20, 10, 10.7}, // the last starts at (int)80.7
        {20.5, 10, 20}, // 7 frames of 20 samples, the last on 80 … 99
    };
    // A ramp's linear levels: every frame's level is its own.
    std::vector<float> in(100);
    for (std::size_t i = 0; i < in.size(); ++i) {
        in[i] = 1.0F + static_cast<float>(i) / 64.0F;
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "frame " << c.frame << ", start " << c.start);
        const auto first = std::size_t((int((100 - c.frame) / c.step) - 1) * c.step + c.start);
        ASSERT_EQ(first + std::size_t(c.frame), in.size());
        double sum = 0.0;
        for (std::size_t i = first; i < in.size(); ++i) {
            sum += double(in[i]) * double(in[i]);
        }
        const Track t = intensity(in, c.frame, c.step, 0, 1, 0.0, c.start);
        for (std::size_t i = first; i < in.size(); ++i) {
            EXPECT_FLOAT_EQ(t.values[i], float(sum / c.frame)) << i;
        }
        EXPECT_FLOAT_EQ(float(t.maximum), float(sum / c.frame));
        EXPECT_EQ(t.values[std::size_t(c.start) - 1], 0.0F); // nothing before the start
    }
}

} // namespace
} // namespace phonaxis
