#include "windows/PitchAnalysis.h"

#include "PitchCorpus.h"
#include "Signals.h"
#include "model/Channels.h"
#include "support/ChannelFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <utility>
#include <vector>

namespace phonaxis {
namespace {

using Edit = std::function<void(PitchParameters&)>;
using F0AtMs = std::function<double(double)>;
constexpr signals::PulseOptions kGlottal{signals::PulseShape::GlottalFlowDerivative, 0};

// An analysis initialised on `samples` with the default settings changed by
// `edit`, and its track computed (when `threads` is not negative).
PitchAnalysis analysed(const std::vector<float>& samples, double rateHz, const Edit& edit = {},
                       int threads = 0)
{
    Channels channel;
    test::loadChannel(channel, samples, rateHz);
    PitchParameters parameters;
    if (edit) {
        edit(parameters);
    }
    PitchAnalysis analysis;
    analysis.intilize(channel, 0, parameters);
    if (threads >= 0) {
        EXPECT_TRUE(analysis.DoPitchCepstral(samples, threads));
    }
    return analysis;
}

// Gross errors (voiced truth, estimate > 20 % off) and voicing errors (voiced
// truth read as 0 or the reverse) against the truth at each window's centre,
// leaving out the end frames and windows that straddle a voicing boundary.
struct Errors {
    int frames = 0, gross = 0, voicing = 0;
};
Errors errorsAgainst(const PitchAnalysis& a, const F0AtMs& f0At)
{
    Errors errors;
    const double windowMs = a.windowSamples() * 1000.0 / a.m_dSampleRate;
    for (int k = 1; k + 1 < a.m_nFrameCount; ++k) {
        const double startMs = k * a.m_parameters.m_dPitchStepSize;
        const bool voiced = f0At(startMs) > 0.0;
        if (voiced != (f0At(startMs + windowMs - 1e-6) > 0.0)) {
            continue;
        }
        const double truth = f0At(startMs + windowMs / 2.0);
        const double estimate = a.m_hdPitchFile[static_cast<std::size_t>(k)];
        ++errors.frames;
        errors.voicing += voiced != (estimate != 0.0) ? 1 : 0;
        errors.gross +=
            voiced && estimate != 0.0 && std::fabs(estimate - truth) > 0.2 * truth ? 1 : 0;
    }
    return errors;
}

// Windows of up to 2,048 samples take the lengths they always had (twice the
// window); longer ones four times the window up to 32,768 points; longer
// still, the window is cut to the whole ms that fit in 8,192 samples and the
// cut shows in the kept window length.
TEST(PitchAnalysis, TransformLengthKeepsTheWindowArtefactOutOfTheSearch)
{
    struct Case {
        double rateHz, windowMs;
        int fftLength, windowSamples;
        double keptWindowMs;
    };
    const Case cases[] = {
        {8000.0, 35.0, 1024, 280, 35.0},      {10000.0, 35.0, 1024, 350, 35.0},
        {22050.0, 35.0, 2048, 771, 35.0},     {44100.0, 35.0, 4096, 1543, 35.0},
        {48000.0, 35.0, 4096, 1680, 35.0},    {58500.0, 35.0, 4096, 2047, 35.0},
        {58600.0, 35.0, 16384, 2051, 35.0},   {88200.0, 35.0, 16384, 3087, 35.0},
        {96000.0, 35.0, 16384, 3360, 35.0},   {192000.0, 35.0, 32768, 6720, 35.0},
        {44100.0, 46.0, 4096, 2028, 46.0},    {44100.0, 50.0, 16384, 2205, 50.0},
        {44100.0, 100.0, 32768, 4410, 100.0}, {22050.0, 200.0, 32768, 4410, 200.0},
        {44100.0, 200.0, 32768, 8158, 185.0}, // cut to the whole ms that fit in 8,192
        {192000.0, 50.0, 32768, 8064, 42.0},
    };
    for (const Case& c : cases) {
        const PitchAnalysis a =
            analysed(std::vector<float>(20000, 0.1f), c.rateHz,
                     [&](PitchParameters& p) { p.m_dPitchWindowLength = c.windowMs; });
        EXPECT_EQ(a.fftLength(), c.fftLength) << c.rateHz << " Hz " << c.windowMs << " ms";
        EXPECT_EQ(a.windowSamples(), c.windowSamples) << c.rateHz << " Hz " << c.windowMs;
        EXPECT_EQ(a.m_parameters.m_dPitchWindowLength, c.keptWindowMs) << c.rateHz;
    }
}

// The glides of the pitch corpus made at high rates read as the same glide
// made at 22,050 Hz: with the transform capped at 4,096 points the window's
// ripple took a male voice at 88.2 kHz to 87 Hz and at 96 kHz to 130 Hz:
// 78 % of the frames both tracks called voiced at 88.2 kHz were more than
// 5 Hz apart. Shares are of the frames both tracks call voiced; `kept` is the
// share of the 22,050 Hz track's voiced frames the other track keeps. The
// classic analysis sees the whole band, which at 192 kHz is mostly the
// recording's noise floor: it errs more there, with no artefact of its own.
TEST(PitchAnalysis, HighRatesReadTheSameAsTheLowRate)
{
    const struct {
        double rateHz;
        bool female;
        double minWithin5Hz, maxGross, minKept;
    } cases[] = {
        {88200.0, false, 0.9, 0.05, 0.75}, {96000.0, false, 0.9, 0.06, 0.75},
        {192000.0, false, 0.8, 0.12, 0.6}, {88200.0, true, 0.9, 0.02, 0.85},
        {96000.0, true, 0.9, 0.02, 0.85},  {192000.0, true, 0.85, 0.03, 0.8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.female ? "female " : "male ") << c.rateHz << " Hz");
        signals::GlideParams params;
        params.female = c.female;
        params.seed = 7;
        const PitchAnalysis low = analysed(signals::pitchGlide(params).samples, params.rateHz);
        params.rateHz = c.rateHz;
        const PitchAnalysis high = analysed(signals::pitchGlide(params).samples, params.rateHz);
        ASSERT_EQ(high.m_nFrameCount, low.m_nFrameCount);
        int lowVoiced = 0, both = 0, within5Hz = 0, gross = 0;
        for (std::size_t k = 0; k < low.m_hdPitchFile.size(); ++k) {
            const double a = low.m_hdPitchFile[k], b = high.m_hdPitchFile[k];
            lowVoiced += a > 0.0 ? 1 : 0;
            if (a > 0.0 && b > 0.0) {
                ++both;
                within5Hz += std::fabs(a - b) <= 5.0 ? 1 : 0;
                gross += std::fabs(a - b) > 0.2 * a ? 1 : 0;
            }
        }
        ASSERT_GT(lowVoiced, 250);
        EXPECT_GE(within5Hz, c.minWithin5Hz * both);
        EXPECT_LE(gross, c.maxGross * both);
        EXPECT_GE(both, c.minKept * lowVoiced);
    }
}

TEST(PitchAnalysis, TracksReferenceSignalsWithinCountedErrors)
{
    const auto aiu22 = signals::vowelSequence(22050.0);
    const auto aiu10 = signals::vowelSequence(10000.0);
    std::vector<double> glideF0(44100);
    for (std::size_t i = 0; i < glideF0.size(); ++i) {
        glideF0[i] = 90.0 + 200.0 * static_cast<double>(i) / 44100.0;
    }
    struct Case {
        const char* name;
        std::vector<float> samples;
        double rateHz;
        F0AtMs f0At;
        int maxGross, maxVoicing;
    };
    // With the transform only just longer than the window, the a-i-u sequence
    // at 22,050 Hz had 63 gross errors, most at the artefact's 87 Hz.
    const Case cases[] = {
        {"aiu 22050", aiu22.audio, 22050.0, [&](double ms) { return aiu22.f0AtMs(ms); }, 3, 3},
        {"aiu 10000", aiu10.audio, 10000.0, [&](double ms) { return aiu10.f0AtMs(ms); }, 3, 3},
        {"glide 90-290 Hz", signals::pulseTrain(glideF0, 22050.0, kGlottal).samples, 22050.0,
         [](double ms) { return 90.0 + 0.1 * ms; }, 2, 3},
        {"pulses 80 Hz", signals::pulseTrain(80.0, 22050.0, 1000.0, kGlottal).samples, 22050.0,
         [](double) { return 80.0; }, 1, 4},
    };
    for (const Case& c : cases) {
        const Errors errors = errorsAgainst(analysed(c.samples, c.rateHz), c.f0At);
        EXPECT_GT(errors.frames, 90) << c.name;
        EXPECT_LE(errors.gross, c.maxGross) << c.name;
        EXPECT_LE(errors.voicing, c.maxVoicing) << c.name;
    }
}

TEST(PitchAnalysis, TrackDoesNotDependOnThreadCount)
{
    const auto audio = signals::vowelSequence(22050.0, 1500.0).audio;
    const PitchAnalysis one = analysed(audio, 22050.0, {}, 1);
    for (const int threads : {0, 2, 3, 7, 1000}) {
        const PitchAnalysis many = analysed(audio, 22050.0, {}, threads);
        EXPECT_EQ(many.m_rawPitch, one.m_rawPitch) << threads;
        EXPECT_EQ(many.m_frameEnergy, one.m_frameEnergy) << threads;
        EXPECT_EQ(many.m_hdPitchFile, one.m_hdPitchFile) << threads;
    }
}

// 50 ms frames hold 35 ms windows that do not overlap; only frame 5 holds a
// 200 Hz pulse train, so its silent neighbours differ from it by 200.45 Hz.
TEST(PitchAnalysis, JumpFilterKeepsAnIsolatedFrameOnlyWithinTheDeviation)
{
    std::vector<float> samples(22050);
    const auto burst = signals::pulseTrain(200.0, 22050.0, 35.0).samples;
    std::copy(burst.begin(), burst.end(), samples.begin() + 5513);
    const std::pair<double, double> deviationsAndKept[] = {{100, 0}, {200, 0}, {201, 200.45}};
    for (const auto& [deviationHz, kept] : deviationsAndKept) {
        const PitchAnalysis a = analysed(samples, 22050.0, [deviation = deviationHz](auto& p) {
            p.m_dPitchStepSize = 50.0;
            p.m_dFreqDeviation = deviation;
        });
        ASSERT_EQ(a.m_nFrameCount, 20);
        for (std::size_t k = 0; k < 20; ++k) {
            EXPECT_NEAR(a.m_hdPitchFile[k], k == 5 ? kept : 0.0, 0.01) << deviationHz << " " << k;
        }
    }
}

// Half a second of 150 Hz voicing, then half a second of digital silence.
TEST(PitchAnalysis, EnergyThresholdAndEndFramesDecideVoicing)
{
    std::vector<float> samples = signals::pulseTrain(150.0, 22050.0, 500.0, kGlottal).samples;
    samples.resize(22050, 0.0f);
    for (const double percent : {0.0, 1.0, 100.0}) {
        const PitchAnalysis a = analysed(
            samples, 22050.0, [&](PitchParameters& p) { p.m_dTrackingThreshHold = percent; });
        ASSERT_EQ(a.m_nFrameCount, 100);
        for (std::size_t k = 0; k < 100; ++k) {
            // Windows of frames 1 to 46 lie wholly in the voicing; steps from 50 on are silent.
            const double pitch = a.m_hdPitchFile[k];
            if (k == 0 || k >= 50 || percent == 100.0) {
                EXPECT_EQ(pitch, 0.0) << percent << " % frame " << k;
            } else if (k < 47) {
                EXPECT_NEAR(pitch, 150.0, 5.0) << percent << " % frame " << k;
            }
        }
    }
}

TEST(PitchAnalysis, UnusableSettingsLeaveNoTrack)
{
    const std::vector<float> samples(22050, 0.25f);
    const Edit edits[] = {
        [](PitchParameters& p) { p.m_dPitchStepSize = 0.0; },
        [](PitchParameters& p) { p.m_dPitchStepSize = std::numeric_limits<double>::quiet_NaN(); },
        [](PitchParameters& p) { p.m_dPitchStepSize = 1e-9; }, // 10^12 frames
        [](PitchParameters& p) { p.m_dPitchStepSize = 0.04; }, // 0.88 samples apart
        [](PitchParameters& p) { p.m_dPitchWindowLength = 0.0; },
        [](PitchParameters& p) { p.m_dCalculationLow = p.m_dCalculationHigh = 200.0; },
        [](PitchParameters& p) { p.m_dCalculationLow = 0.0; },
        [](PitchParameters& p) { std::swap(p.m_dCalculationLow, p.m_dCalculationHigh); },
    };
    for (const Edit& edit : edits) {
        PitchAnalysis a = analysed(samples, 22050.0); // a track the decline must release
        edit(a.m_parameters);
        EXPECT_FALSE(a.DoPitchCepstral(samples));
        EXPECT_TRUE(!a.m_bHavePitch && !a.m_bRecalculate && a.m_hdPitchFile.empty());
    }
    EXPECT_FALSE(analysed(samples, 22050.0, {}, -1).DoPitchCepstral({}));

    // A channel longer than its samples: frames past them read nothing.
    PitchAnalysis longer = analysed(samples, 22050.0, {}, -1);
    longer.m_dwFileLength = longer.m_dEndPoint = 44100.0;
    ASSERT_TRUE(longer.DoPitchCepstral(samples));
    EXPECT_EQ(longer.m_nFrameCount, 200);
    EXPECT_TRUE(longer.m_frameEnergy[50] > 0.0 && longer.m_frameEnergy[150] == 0.0);
}

TEST(PitchAnalysis, ZoomPagesFollowTheirModes)
{
    PitchAnalysis a = analysed(std::vector<float>(44100), 22050.0, {}, -1); // 2000 ms
    a.m_dMarkerTime = 1800.0;
    a.m_dCursorTime = 500.0;
    a.CalculateDuration();
    EXPECT_EQ(a.m_dDurationTime, 1300.0);
    // In, in, undo, out, selection, one second from the marker (moved back
    // inside the channel: it would run 0.8 s past its end), out (clamped),
    // home, no such mode. Then selections of no duration (in the middle
    // and at the end) and zooming in below the narrowest page (two 10 ms
    // steps, 441 samples), which keep a page of that span inside the channel.
    const double steps[][5] = {
        {1, 1800, 500, 11025, 33075},      {1, 1800, 500, 16537.5, 27562.5},
        {0, 1800, 500, 11025, 33075},      {2, 1800, 500, 0, 44100},
        {3, 1800, 500, 11025, 39690},      {4, 1800, 500, 22050, 44100},
        {2, 1800, 500, 11025, 44100},      {5, 1800, 500, 0, 44100},
        {9, 1800, 500, 0, 44100},          {3, 1000, 1000, 21829.5, 22270.5},
        {1, 1000, 1000, 21829.5, 22270.5}, {3, 2000, 2000, 43659, 44100},
        {1, 2000, 2000, 43659, 44100},     {4, 2000, 2000, 22050, 44100},
    };
    for (const auto& [mode, marker, cursor, pageMin, pageMax] : steps) {
        a.m_dMarkerTime = marker;
        a.m_dCursorTime = cursor;
        a.CalculateDuration();
        a.CalibrateScroll(static_cast<int>(mode));
        EXPECT_DOUBLE_EQ(a.m_dPageMin, pageMin) << mode << " " << marker;
        EXPECT_DOUBLE_EQ(a.m_dPageMax, pageMax) << mode << " " << marker;
        EXPECT_DOUBLE_EQ(a.m_dTimePageMin, pageMin / 22.05) << mode;
        EXPECT_DOUBLE_EQ(a.m_dZoomFactor, (pageMax - pageMin) / 44100.0) << mode;
    }
}

TEST(PitchAnalysis, LogEntriesCarryFramesMarkerAndHeaders)
{
    PitchAnalysis a = analysed(std::vector<float>(1000), 10000.0, {}, -1); // 10 frames of 10 ms
    a.m_nFrameCount = 10;
    a.m_hdPitchFile = {0, 110, 120, 0, 130, 0, 0, 140, 150, 0};
    a.m_bHavePitch = true;
    const auto intensity = [](double ms) { return ms / 2.0; };

    a.mouseDown(42.0, intensity);
    const LogRecord marker = a.markerLogRecord("take.wav");
    EXPECT_TRUE(a.m_bHaveMarker && marker.definition == PitchAnalysis::kMarkerHeader);
    EXPECT_TRUE(marker.count == 3 && marker.values[1] == 130.0 && marker.values[2] == 21.0);

    const auto range = a.rangeLogRecords("take.wav", 20.0, 40.0, intensity);
    ASSERT_EQ(range.size(), 3U); // 20, 30 and 40 ms: bounds included, unvoiced too
    EXPECT_TRUE(range[1].values[0] == 30.0 && range[1].values[1] == 0.0);
    EXPECT_EQ(range[2].values[2], 20.0);

    a.m_parameters.m_bPitchDrawIntensity = false;
    const auto all = a.allLogRecords("take.wav", intensity);
    ASSERT_EQ(all.size(), 5U);
    for (const LogRecord& record : all) {
        EXPECT_EQ(record.definition, PitchAnalysis::kSelectionHeader);
        EXPECT_TRUE(record.values[1] > 0.0 && record.values[2] == 0.0);
    }

    a.m_bHaveSelection = true;
    a.mouseDown(10.0, intensity); // a click clears the selection and sets the marker
    EXPECT_FALSE(a.m_bHaveSelection);
    EXPECT_TRUE(a.m_bHaveMarker);
    EXPECT_DOUBLE_EQ(a.m_dLogMarkerTime, 10.0);
}

// A precise track's frames are centred on the step grid, k·step, whatever the
// recording's length (1,505 ms, not a whole number of steps), where frames
// k·length/frames apart drifted by up to 4.7 ms. A ramp's energy over the
// step centred on each frame shows where the frame was analysed.
TEST(PitchAnalysis, PreciseFramesLieOnTheStepGrid)
{
    for (const double rate : {16000.0, 22050.0, 44100.0}) {
        SCOPED_TRACE(rate);
        std::vector<float> ramp(static_cast<std::size_t>(std::lround(rate * 1.505)));
        for (std::size_t i = 0; i < ramp.size(); ++i) {
            ramp[i] = static_cast<float>(i) / static_cast<float>(ramp.size());
        }
        const PitchAnalysis a =
            analysed(ramp, rate, [](PitchParameters& p) { p.m_bPreciseAnalysis = true; });
        ASSERT_EQ(a.m_nFrameCount, 150);
        const double step = rate / 100.0;
        for (int k = 1; k < a.m_nFrameCount; ++k) {
            EXPECT_EQ(a.frameTime(k), k * 10.0);
            EXPECT_EQ(a.frameAt(k * 10.0 + 9.9), k);
            const auto from = static_cast<std::size_t>((k - 0.5) * step);
            const auto to = static_cast<std::size_t>((k + 0.5) * step);
            double sum = 0.0;
            for (std::size_t i = from; i < to; ++i) {
                sum += double(ramp[i]) * double(ramp[i]);
            }
            EXPECT_NEAR(a.m_frameEnergy[static_cast<std::size_t>(k)], sum / step, 1e-12) << k;
        }
    }
}

} // namespace
} // namespace phonaxis
