#include "analysis/PrecisePitch.h"
#include "analysis/CMathFunc.h"
#include "windows/PitchAnalysis.h"

#include "PitchCorpus.h"
#include "Signals.h"
#include "model/Channels.h"
#include "support/ChannelFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <span>
#include <utility>
#include <thread>
#include <vector>

namespace phonaxis {
namespace {

// The precise track of `samples` searched over 75–600 Hz.
PitchAnalysis preciseTrack(const std::vector<float>& samples, double rateHz, int threads = 0,
                           PitchProgress* progress = nullptr, bool* done = nullptr)
{
    Channels channel;
    test::loadChannel(channel, samples, rateHz);
    PitchParameters parameters;
    parameters.m_bPreciseAnalysis = true;
    parameters.m_dCalculationLow = 75.0;
    parameters.m_dCalculationHigh = 600.0;
    PitchAnalysis analysis;
    analysis.intilize(channel, 0, parameters);
    const bool finished = analysis.DoPitchCepstral(samples, threads, progress);
    if (done != nullptr) {
        *done = finished;
    } else {
        EXPECT_TRUE(finished);
    }
    return analysis;
}

struct GlideScore {
    int both = 0;        // frames the truth and the track call voiced
    int gross = 0;       // of those, more than 20 % off
    double fineHz = 0.0; // mean |error| of the others
    int unvoicedCalledVoiced = 0;
    int voicedCalledUnvoiced = 0;
};

// The track against the truth at each frame's time; voicing is judged only
// 30 ms or more away from a change of the true voicing.
GlideScore score(const PitchAnalysis& analysis, const signals::Glide& glide)
{
    GlideScore s;
    double fineSum = 0.0;
    for (int k = 0; k < analysis.m_nFrameCount; ++k) {
        const double timeMs = analysis.frameTime(k);
        const double truth = glide.f0AtMs(timeMs);
        const double f0 = analysis.m_hdPitchFile[static_cast<std::size_t>(k)];
        if (truth > 0.0 && f0 > 0.0) {
            ++s.both;
            if (std::fabs(f0 - truth) > 0.2 * truth) {
                ++s.gross;
            } else {
                fineSum += std::fabs(f0 - truth);
            }
        }
        if (!glide.nearVoicingChange(timeMs, 30.0)) {
            s.unvoicedCalledVoiced += truth == 0.0 && f0 > 0.0 ? 1 : 0;
            s.voicedCalledUnvoiced += truth > 0.0 && f0 == 0.0 ? 1 : 0;
        }
    }
    s.fineHz = s.both > s.gross ? fineSum / (s.both - s.gross) : 0.0;
    return s;
}

// Glides of the pitch corpus: clean ones are tracked without a gross error
// within a hertz and with every voicing decision right away from its
// changes; noisy ones (5–10 dB SNR) keep gross errors rare. The limits leave
// headroom over what the track reaches (clean: fine error 0.3–0.6 Hz).
TEST(PrecisePitch, TracksGlidesAgainstTheirTruth)
{
    using signals::GlideNoise;
    const struct {
        double rate;
        bool female;
        GlideNoise noise;
        double snrDb;
        double maxGrossShare, maxFineHz, maxVoicingShare;
    } cases[] = {
        {16000, false, GlideNoise::None, 0, 0.0, 1.0, 0.0},
        {22050, true, GlideNoise::None, 0, 0.0, 1.0, 0.0},
        {44100, true, GlideNoise::None, 0, 0.0, 1.0, 0.0},
        {44100, false, GlideNoise::None, 0, 0.0, 1.0, 0.0},
        // Decimated by 4 and by 8 to the analysis rate.
        {48000, false, GlideNoise::None, 0, 0.0, 1.0, 0.0},
        {96000, true, GlideNoise::None, 0, 0.0, 1.0, 0.0},
        {22050, false, GlideNoise::White, 10, 0.02, 2.0, 0.03},
        {96000, false, GlideNoise::Pink, 5, 0.03, 2.0, 0.10},
        {44100, true, GlideNoise::White, 5, 0.02, 3.0, 0.05},
        {16000, true, GlideNoise::Pink, 10, 0.03, 2.0, 0.05},
        {22050, false, GlideNoise::Pink, 5, 0.03, 2.0, 0.10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.female ? "female " : "male ") << int(c.noise) << " "
                                        << c.snrDb << " dB at " << c.rate);
        signals::GlideParams params;
        params.rateHz = c.rate;
        params.female = c.female;
        params.noise = c.noise;
        params.snrDb = c.snrDb;
        params.seed = 7;
        const signals::Glide glide = signals::pitchGlide(params);
        const GlideScore s = score(preciseTrack(glide.samples, c.rate), glide);
        ASSERT_GT(s.both, 250);
        EXPECT_LE(s.gross, c.maxGrossShare * s.both);
        EXPECT_LE(s.fineHz, c.maxFineHz);
        EXPECT_LE(s.unvoicedCalledVoiced + s.voicedCalledUnvoiced, c.maxVoicingShare * s.both);
    }
}

// A steady vowel whose period is not a whole number of samples: the cepstral
// peak alone is a whole quefrency off (1 % at these periods); the refined
// lag is within a few hundredths of a hertz.
TEST(PrecisePitch, RefinesThePeriodBelowOneSample)
{
    const struct {
        double rate, f0;
    } cases[] = {{16000, 123.4}, {22050, 231.7}, {44100, 97.3}, {16000, 377.7}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.f0 << " Hz at " << c.rate);
        signals::VowelParams params;
        params.f0Hz = c.f0;
        params.rateHz = c.rate;
        params.durationMs = 600.0;
        params.shape = signals::PulseShape::GlottalFlowDerivative;
        const PitchAnalysis a = preciseTrack(signals::vowel(params).samples, c.rate);
        for (int k = 10; k + 10 < a.m_nFrameCount; ++k) {
            EXPECT_NEAR(a.m_hdPitchFile[static_cast<std::size_t>(k)], c.f0, 0.05) << k;
        }
    }
}

// A pure tone has no harmonics to tell its period from its multiples, which
// all correlate fully: every frame is unvoiced or at the tone, over the
// document's search range (50-500 Hz). Near the ceiling the multiples fill
// the candidate list and one whose half and third fall on troughs (seven
// periods at 454.4 Hz) used to take the whole track, and a tone just below
// the ceiling was not searched at all.
TEST(PrecisePitch, PureTonesAreAtTheirFrequencyOrUnvoiced)
{
    const struct {
        double rate, hz;
    } cases[] = {{16000, 110}, {16000, 220}, {16000, 440},   {22050, 110},   {22050, 220},
                 {22050, 440}, {44100, 110}, {44100, 220},   {44100, 440},   {22050, 454.4},
                 {16000, 464.1}, {44100, 482.1}, {44100, 456.9}, {16000, 495.6}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.hz << " Hz at " << c.rate);
        const std::vector<float> samples = signals::tone(c.hz, c.rate, 1500.0);
        Channels channel;
        test::loadChannel(channel, samples, c.rate);
        PitchParameters parameters;
        parameters.m_bPreciseAnalysis = true;
        PitchAnalysis a;
        a.intilize(channel, 0, parameters);
        ASSERT_TRUE(a.DoPitchCepstral(samples));
        ASSERT_EQ(a.m_nFrameCount, 150);
        int voiced = 0;
        for (int k = 0; k < a.m_nFrameCount; ++k) {
            const double f0 = a.m_hdPitchFile[static_cast<std::size_t>(k)];
            voiced += f0 > 0.0 ? 1 : 0;
            EXPECT_TRUE(f0 == 0.0 || std::fabs(f0 - c.hz) < 0.01 * c.hz) << k << ": " << f0;
        }
        EXPECT_GT(voiced, 140);
    }
}

// Noise alone, silence alone: nothing voiced.
TEST(PrecisePitch, NoiseAndSilenceAreUnvoiced)
{
    signals::GlideParams params;
    params.rateHz = 22050.0;
    params.noise = signals::GlideNoise::White;
    params.snrDb = -200.0; // the noise swamps the voice entirely
    const struct {
        const char* name;
        std::vector<float> samples;
    } cases[] = {
        {"white noise", signals::pitchGlide(params).samples},
        {"digital silence", std::vector<float>(22050, 0.0f)},
    };
    for (const auto& c : cases) {
        const PitchAnalysis a = preciseTrack(c.samples, 22050.0);
        ASSERT_GT(a.m_nFrameCount, 90) << c.name;
        int voiced = 0;
        for (const double f0 : a.m_hdPitchFile) {
            voiced += f0 > 0.0 ? 1 : 0;
        }
        EXPECT_LE(voiced, a.m_nFrameCount / 100) << c.name;
    }
}

// A frame's peak is the largest distance of a sample from the window's
// mean, wherever in the window that sample lies (the window's length is no
// multiple of the eight lanes it is summed in), and at the recording's ends
// the missing positions count as 0.
TEST(PrecisePitch, FramePeakIsTheLargestDistanceFromTheWindowsMean)
{
    PrecisePitch analyser;
    ASSERT_TRUE(analyser.configure({11025.0, 75.0, 600.0, 35.0, 10.0}));
    const int w = analyser.windowSamples();
    ASSERT_NE(w % 8, 0);
    std::mt19937 generator(5);
    std::uniform_real_distribution<float> small(-0.1F, 0.1F);
    std::vector<float> samples(std::size_t(3 * w));
    for (float& x : samples) {
        x = small(generator) - 0.05F;
    }
    const PitchSamples input{samples, 0, static_cast<std::int64_t>(samples.size())};
    const auto expected = [&](double centre) {
        const auto first = static_cast<std::int64_t>(std::round(centre - 0.5 * w));
        double sum = 0.0;
        bool missing = false;
        for (std::int64_t i = first; i < first + w; ++i) {
            const bool inside = i >= 0 && i < std::int64_t(samples.size());
            sum += inside ? samples[std::size_t(i)] : 0.0;
            missing = missing || !inside;
        }
        const double mean = sum / w;
        double peak = missing ? std::fabs(mean) : 0.0;
        for (std::int64_t i = std::max<std::int64_t>(first, 0);
             i < std::min<std::int64_t>(first + w, std::int64_t(samples.size())); ++i) {
            peak = std::max(peak, std::fabs(samples[std::size_t(i)] - mean));
        }
        return peak;
    };
    // A spike, up or down, at each of the last sixteen places of a window
    // and at its first.
    const double centre = 1.5 * w;
    const auto first = static_cast<std::size_t>(std::round(centre - 0.5 * w));
    for (int at = -1; at < 16; ++at) {
        for (const float spike : {0.9F, -0.9F}) {
            const std::size_t where = at < 0 ? first : first + std::size_t(w - 1 - at);
            const float kept = samples[where];
            samples[where] = spike;
            EXPECT_NEAR(analyser.framePeak(input, centre), expected(centre), 1e-5)
                << "spike " << spike << " at " << where - first;
            samples[where] = kept;
        }
    }
    for (const double edge : {0.0, 0.3 * w, 3.0 * w - 1.0}) {
        EXPECT_NEAR(analyser.framePeak(input, edge), expected(edge), 1e-5) << "centre " << edge;
    }
    // A steady negative level running off the start: the zeros before it
    // are as far from the mean as the level is.
    std::fill(samples.begin(), samples.end(), -0.5F);
    EXPECT_NEAR(analyser.framePeak(input, 0.3 * w), expected(0.3 * w), 1e-5);
    EXPECT_GT(expected(0.3 * w), 0.35);
}

// The path search on hand-made frames: one frame whose strongest candidate
// lies an octave (or a fifth) away does not pass, while a change of octave
// that lasts does; a weak stretch between voiced frames is unvoiced; at any
// step.
TEST(PrecisePitch, PathSearchKeepsLoneOctaveJumpsOut)
{
    PrecisePitch analyser;
    ASSERT_TRUE(analyser.configure({16000.0, 75.0, 600.0, 35.0, 10.0}));
    const auto frame = [](std::initializer_list<PitchCandidate> candidates, double peak = 1.0) {
        PitchFrame f;
        for (const PitchCandidate& c : candidates) {
            f.candidates[static_cast<std::size_t>(f.count++)] = c;
        }
        f.peak = peak;
        return f;
    };
    const PitchFrame steady = frame({{200.0, 0.9}, {100.0, 0.85}});
    const struct {
        const char* name;
        std::vector<PitchFrame> frames;
        std::vector<double> expected;
    } cases[] = {
        {"octave down in one frame",
         {steady, steady, frame({{100.0, 0.95}, {200.0, 0.8}}), steady, steady},
         {200, 200, 200, 200, 200}},
        {"octave up in one frame",
         {steady, steady, frame({{400.0, 0.95}, {200.0, 0.8}}), steady, steady},
         {200, 200, 200, 200, 200}},
        {"a fifth in one frame",
         {steady, steady, frame({{300.0, 0.95}, {200.0, 0.75}}), steady, steady},
         {200, 200, 200, 200, 200}},
        {"a lasting octave change",
         {steady, steady, steady, frame({{400.0, 0.95}}), frame({{400.0, 0.95}}),
          frame({{400.0, 0.95}}), frame({{400.0, 0.95}})},
         {200, 200, 200, 400, 400, 400, 400}},
        {"weak and quiet frames between voiced ones",
         {steady, steady, frame({{150.0, 0.2}}), frame({}, 0.001), frame({{250.0, 0.3}}), steady,
          steady},
         {200, 200, 0, 0, 0, 200, 200}},
    };
    // At a 2 ms step every 10 ms frame is five frames: the costs are per
    // time, so the same stretches pass or stay out.
    PrecisePitch fine;
    ASSERT_TRUE(fine.configure({16000.0, 75.0, 600.0, 35.0, 2.0}));
    for (const auto& c : cases) {
        EXPECT_EQ(analyser.track(c.frames), c.expected) << c.name;
        std::vector<PitchFrame> frames;
        std::vector<double> expected;
        for (std::size_t i = 0; i < c.frames.size(); ++i) {
            frames.insert(frames.end(), 5, c.frames[i]);
            expected.insert(expected.end(), 5, c.expected[i]);
        }
        EXPECT_EQ(fine.track(frames), expected) << c.name << " at a 2 ms step";
    }
}

// Without decimation (16 kHz) and with it (44.1 kHz, and a recording of
// 92 s whose frames the path search takes in two passes).
TEST(PrecisePitch, TrackDoesNotDependOnThreadCount)
{
    for (const auto& [rateHz, copies] : {std::pair{16000.0, 1}, std::pair{44100.0, 1},
                                          std::pair{11025.0 * 2, 20}}) {
        SCOPED_TRACE(testing::Message() << rateHz << " Hz, " << copies << " glides");
        signals::GlideParams params;
        params.rateHz = rateHz;
        params.female = true;
        params.noise = signals::GlideNoise::Pink;
        params.snrDb = 5.0;
        const signals::Glide glide = signals::pitchGlide(params);
        std::vector<float> samples;
        for (int i = 0; i < copies; ++i) {
            samples.insert(samples.end(), glide.samples.begin(), glide.samples.end());
        }
        const PitchAnalysis one = preciseTrack(samples, params.rateHz, 1);
        for (const int threads : copies > 1 ? std::vector<int>{2} : std::vector<int>{0, 2, 3, 7}) {
            const PitchAnalysis many = preciseTrack(samples, params.rateHz, threads);
            EXPECT_EQ(many.m_hdPitchFile, one.m_hdPitchFile) << threads;
            EXPECT_EQ(many.m_rawPitch, one.m_rawPitch) << threads;
            EXPECT_EQ(many.m_frameEnergy, one.m_frameEnergy) << threads;
        }
    }
}

// A block of frames analysed from one decimation gives each frame exactly
// as a frame analysed by itself, wherever the block starts and however the
// recording is cut around it; and the path search fed a few frames at a time
// gives the track of all the frames at once.
TEST(PrecisePitch, BlocksOfFramesAreTheFramesAnalysedAlone)
{
    signals::GlideParams params;
    params.rateHz = 44100.0;
    params.noise = signals::GlideNoise::White;
    params.snrDb = 10.0;
    const signals::Glide glide = signals::pitchGlide(params);
    PrecisePitch analyser;
    ASSERT_TRUE(analyser.configure({params.rateHz, 75.0, 600.0, 35.0, 10.0}));
    ASSERT_EQ(analyser.decimation(), 4);
    const double step = 441.0;
    const auto frameCount = static_cast<std::int64_t>(glide.samples.size() / 441);
    std::vector<PitchFrame> alone(static_cast<std::size_t>(frameCount));
    for (std::int64_t k = 0; k < frameCount; ++k) {
        ASSERT_TRUE(analyser.analyseFrame(glide.samples,
                                          static_cast<std::int64_t>(glide.samples.size()),
                                          k * step, alone[static_cast<std::size_t>(k)]));
    }
    const auto same = [](const PitchFrame& a, const PitchFrame& b) {
        if (a.count != b.count || a.peak != b.peak) {
            return false;
        }
        for (int c = 0; c < a.count; ++c) {
            const auto i = static_cast<std::size_t>(c);
            if (a.candidates[i].frequencyHz != b.candidates[i].frequencyHz ||
                a.candidates[i].strength != b.candidates[i].strength) {
                return false;
            }
        }
        return true;
    };
    const std::int64_t context = analyser.contextSamples();
    for (const auto& [first, count] : {std::pair<std::int64_t, std::int64_t>{0, 37},
                                       {0, frameCount}, {101, 64}, {frameCount - 50, 50}}) {
        // The block's own stretch of samples with its context.
        const std::int64_t from = std::max<std::int64_t>(0, first * 441 - context);
        const std::int64_t to = std::min<std::int64_t>(
            static_cast<std::int64_t>(glide.samples.size()), (first + count) * 441 + context);
        PitchSamples input;
        input.samples = std::span<const float>(glide.samples).subspan(
            static_cast<std::size_t>(from), static_cast<std::size_t>(to - from));
        input.firstSample = from;
        input.end = static_cast<std::int64_t>(glide.samples.size());
        std::vector<PitchFrame> block(static_cast<std::size_t>(count));
        ASSERT_TRUE(analyser.analyseFrames(input, 0.0, step, first, block));
        for (std::int64_t k = 0; k < count; ++k) {
            EXPECT_TRUE(same(block[static_cast<std::size_t>(k)],
                             alone[static_cast<std::size_t>(first + k)]))
                << "frame " << first + k << " of the block from " << first;
        }
    }

    // Frames further apart than two windows each decimate their own window.
    {
        PitchSamples input;
        input.samples = glide.samples;
        input.end = static_cast<std::int64_t>(glide.samples.size());
        std::vector<PitchFrame> sparse(static_cast<std::size_t>(frameCount / 20));
        ASSERT_TRUE(analyser.analyseFrames(input, 0.0, 20 * step, 0, sparse));
        for (std::size_t k = 0; k < sparse.size(); ++k) {
            EXPECT_TRUE(same(sparse[k], alone[20 * k])) << "sparse frame " << k;
        }
    }

    const std::vector<double> whole = analyser.track(alone);
    ASSERT_EQ(whole.size(), alone.size());
    double globalPeak = 0.0;
    for (const PitchFrame& frame : alone) {
        globalPeak = std::max(globalPeak, frame.peak);
    }
    for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{128}}) {
        PitchPath path;
        ASSERT_TRUE(path.begin(analyser, alone.size(), globalPeak));
        for (std::size_t at = 0; at < alone.size(); at += piece) {
            ASSERT_TRUE(path.add(std::span<const PitchFrame>(alone).subspan(
                at, std::min(piece, alone.size() - at))));
        }
        std::vector<double> pieces(alone.size());
        ASSERT_TRUE(path.finish(pieces));
        EXPECT_EQ(pieces, whole) << piece;
    }
}

// A frame quieter than quietPeak is unvoiced on the path whatever its
// candidates: the track of the corpus glides (whose pauses hold a faint
// noise floor) is the same whether such frames are analysed or not, and a
// quiet frame with the strongest candidate there can be, between voiced
// frames at its frequency, is still unvoiced.
TEST(PrecisePitch, QuietFramesNeedNoCandidates)
{
    for (const double rateHz : {16000.0, 44100.0}) {
        signals::GlideParams params;
        params.rateHz = rateHz;
        params.female = rateHz > 20000.0;
        const signals::Glide glide = signals::pitchGlide(params);
        PrecisePitch analyser;
        ASSERT_TRUE(analyser.configure({rateHz, 75.0, 600.0, 35.0, 10.0}));
        PitchSamples input;
        input.samples = glide.samples;
        input.end = static_cast<std::int64_t>(glide.samples.size());
        const double step = rateHz / 100.0;
        std::vector<PitchFrame> all(static_cast<std::size_t>(double(input.end) / step));
        ASSERT_TRUE(analyser.analyseFrames(input, 0.0, step, 0, all));
        double globalPeak = 0.0;
        for (const PitchFrame& frame : all) {
            globalPeak = std::max(globalPeak, frame.peak);
        }
        const double quiet = analyser.quietPeak(globalPeak);
        ASSERT_GT(quiet, 0.0);
        std::vector<PitchFrame> skipped(all.size());
        ASSERT_TRUE(analyser.analyseFrames(input, 0.0, step, 0, skipped, nullptr, quiet));
        int quietWithCandidates = 0;
        for (std::size_t k = 0; k < all.size(); ++k) {
            quietWithCandidates += all[k].peak < quiet && all[k].count > 0 ? 1 : 0;
        }
        EXPECT_GT(quietWithCandidates, 10) << rateHz;
        EXPECT_EQ(analyser.track(skipped), analyser.track(all)) << rateHz;
    }

    PrecisePitch analyser;
    ASSERT_TRUE(analyser.configure({16000.0, 75.0, 600.0, 35.0, 10.0}));
    const double quiet = analyser.quietPeak(1.0);
    PitchFrame voiced;
    voiced.candidates[0] = {200.0, 0.6};
    voiced.count = 1;
    voiced.peak = 1.0;
    PitchFrame faint = voiced;
    faint.candidates[0] = {200.0, 1.0};
    faint.peak = 0.999 * quiet;
    const std::vector<PitchFrame> frames = {voiced, voiced, faint, voiced, voiced};
    EXPECT_EQ(analyser.track(frames), (std::vector<double>{200, 200, 0, 200, 200}));
    // Costs that a voicing change cannot pay for leave no quiet peak.
    PrecisePitch shortSteps;
    ASSERT_TRUE(shortSteps.configure({16000.0, 75.0, 600.0, 35.0, 1.0}));
    EXPECT_EQ(shortSteps.quietPeak(1.0), 0.0);
}

// The decimation's filter keeps what lies above the analysis band out of
// it: loud tones at 9 kHz and 6.6 kHz (which would fold onto 2,025 and
// 4,425 Hz at the analysis rate of 11,025 Hz, inside the band the
// autocorrelation sees) leave the track of a glide as it was.
TEST(PrecisePitch, TonesAboveTheAnalysisBandDoNotFoldIntoIt)
{
    signals::GlideParams params;
    params.rateHz = 44100.0;
    const signals::Glide glide = signals::pitchGlide(params);
    double power = 0.0;
    for (const float x : glide.samples) {
        power += double(x) * x;
    }
    const double amplitude = std::sqrt(2.0 * power / double(glide.samples.size()));
    std::vector<float> toned = glide.samples;
    for (std::size_t i = 0; i < toned.size(); ++i) {
        const double t = double(i) / params.rateHz;
        toned[i] += float(amplitude * (std::sin(2.0 * std::numbers::pi * 9000.0 * t) +
                                        std::sin(2.0 * std::numbers::pi * 6600.0 * t)));
    }
    const PitchAnalysis plain = preciseTrack(glide.samples, params.rateHz);
    const PitchAnalysis withTones = preciseTrack(toned, params.rateHz);
    ASSERT_EQ(plain.m_nFrameCount, withTones.m_nFrameCount);
    int compared = 0;
    for (int k = 0; k < plain.m_nFrameCount; ++k) {
        const double a = plain.m_hdPitchFile[static_cast<std::size_t>(k)];
        const double b = withTones.m_hdPitchFile[static_cast<std::size_t>(k)];
        if (a > 0.0) {
            ++compared;
            EXPECT_NEAR(b, a, 0.005 * a) << "frame " << k;
        }
    }
    EXPECT_GT(compared, 250);
    const GlideScore s = score(withTones, glide);
    EXPECT_EQ(s.gross, 0);
}

// The precise track of a stretch, from the stretch's samples with the
// context its frames read: every frame is the whole track's frame (the
// same strongest candidate and energy, bit for bit), and on the corpus
// glides the path inside the stretch is the whole track's.
TEST(PrecisePitch, StretchHasTheWholeTracksFrames)
{
    signals::GlideParams params;
    params.rateHz = 22050.0;
    params.female = true;
    params.noise = signals::GlideNoise::Pink;
    params.snrDb = 10.0;
    const signals::Glide glide = signals::pitchGlide(params);
    const PitchAnalysis whole = preciseTrack(glide.samples, params.rateHz);
    Channels channel;
    test::loadChannel(channel, glide.samples, params.rateHz);
    for (const auto& [first, count] : {std::pair{0, 60}, std::pair{170, 150}, std::pair{380, 70}}) {
        SCOPED_TRACE(testing::Message() << "frames " << first << " + " << count);
        PitchAnalysis stretch;
        stretch.intilize(channel, 0, whole.m_parameters);
        const int from = std::max(0, first - PitchAnalysis::kStretchContextFrames);
        const int to = std::min(whole.m_nFrameCount,
                                first + count + PitchAnalysis::kStretchContextFrames);
        std::int64_t firstSample = -1;
        std::int64_t endSample = -1;
        ASSERT_TRUE(stretch.preciseStretchSamples(from, to - from, firstSample, endSample));
        ASSERT_LE(firstSample, endSample);
        const std::span<const float> samples =
            std::span<const float>(glide.samples)
                .subspan(static_cast<std::size_t>(firstSample),
                         static_cast<std::size_t>(endSample - firstSample));
        ASSERT_TRUE(stretch.DoPreciseStretch(samples, firstSample, from, to - from, 2));
        ASSERT_EQ(stretch.m_nFrameCount, to - from);
        EXPECT_EQ(stretch.m_nFirstFrame, from);
        for (int k = 0; k < to - from; ++k) {
            const auto i = static_cast<std::size_t>(k);
            const auto w = static_cast<std::size_t>(from + k);
            EXPECT_EQ(stretch.frameTime(k), whole.frameTime(from + k));
            EXPECT_EQ(stretch.frameAt(stretch.frameTime(k)), k);
            EXPECT_EQ(stretch.m_rawPitch[i], whole.m_rawPitch[w]) << "frame " << from + k;
            EXPECT_EQ(stretch.m_frameEnergy[i], whole.m_frameEnergy[w]) << "frame " << from + k;
            if (from + k >= first && from + k < first + count) {
                EXPECT_EQ(stretch.m_hdPitchFile[i], whole.m_hdPitchFile[w])
                    << "frame " << from + k;
            }
        }
    }
    // Frames outside the channel's track are declined.
    PitchAnalysis outside;
    outside.intilize(channel, 0, whole.m_parameters);
    EXPECT_FALSE(outside.DoPreciseStretch(glide.samples, 0, whole.m_nFrameCount - 5, 10));
    EXPECT_FALSE(outside.m_bHavePitch);
}

// A cancel leaves no track whenever it comes; progress counts every frame of
// a finished track.
TEST(PrecisePitch, CancelLeavesNoTrackAndProgressCountsFrames)
{
    signals::GlideParams params;
    params.rateHz = 44100.0;
    const signals::Glide glide = signals::pitchGlide(params);

    PitchProgress finished;
    const PitchAnalysis whole = preciseTrack(glide.samples, params.rateHz, 2, &finished);
    EXPECT_EQ(finished.m_nFrameCount.load(), whole.m_nFrameCount);
    EXPECT_EQ(finished.m_nFramesDone.load(), whole.m_nFrameCount);
    EXPECT_DOUBLE_EQ(finished.fraction(), 1.0);

    PitchProgress before;
    before.cancelled = true;
    bool done = true;
    const PitchAnalysis none = preciseTrack(glide.samples, params.rateHz, 2, &before, &done);
    EXPECT_FALSE(done);
    EXPECT_FALSE(none.m_bHavePitch);
    EXPECT_TRUE(none.m_hdPitchFile.empty());

    // A cancel from another thread while frames are being computed (of a
    // recording long enough that the frames cannot all be done before it).
    std::vector<float> longer;
    for (int i = 0; i < 8; ++i) {
        longer.insert(longer.end(), glide.samples.begin(), glide.samples.end());
    }
    PitchProgress during;
    std::thread canceller([&during] {
        while (during.m_nFramesDone.load() < 20) {
            std::this_thread::yield();
        }
        during.cancelled = true;
    });
    done = true;
    const PitchAnalysis stopped = preciseTrack(longer, params.rateHz, 1, &during, &done);
    canceller.join();
    EXPECT_FALSE(done);
    EXPECT_FALSE(stopped.m_bHavePitch);
    EXPECT_TRUE(stopped.m_hdPitchFile.empty());
    EXPECT_LT(during.m_nFramesDone.load(), during.m_nFrameCount.load());
}

// Settings no track can come from are declined, as in the default mode.
TEST(PrecisePitch, UnusableSettingsAreDeclined)
{
    const struct {
        const char* name;
        PrecisePitchSettings settings;
    } cases[] = {
        {"no rate", {0.0, 75.0, 600.0, 35.0, 10.0}},
        {"floor above ceiling", {16000.0, 600.0, 75.0, 35.0, 10.0}},
        {"ceiling above half the rate", {16000.0, 75.0, 9000.0, 35.0, 10.0}},
        {"no step", {16000.0, 75.0, 600.0, 35.0, 0.0}},
        {"not a number", {16000.0, NAN, 600.0, 35.0, 10.0}},
    };
    for (const auto& c : cases) {
        PrecisePitch analyser;
        EXPECT_FALSE(analyser.configure(c.settings)) << c.name;
        PitchFrame frame;
        const std::vector<float> samples(1000, 0.5f);
        EXPECT_FALSE(analyser.analyseFrame(samples, 1000, 500.0, frame)) << c.name;
    }
    // A floor too low for the largest transform is raised, not declined.
    PrecisePitch low;
    ASSERT_TRUE(low.configure({44100.0, 10.0, 600.0, 35.0, 10.0}));
    EXPECT_LE(low.fftLength(), CMathFunc::kMaxFftLength);
}

} // namespace
} // namespace phonaxis
