// The precise pitch track with the document's default settings (35 ms,
// 10 ms step, 50–500 Hz) on the signals a new user tries first, each with its
// truth: tones, noise, dither and the voices of the pitch corpus, clean, noisy
// and made at high rates. The classic track fails most of them (a sine read
// at 82 Hz, a square wave an octave up, a third of the dither and a quarter
// of white noise voiced); the precise one is the default and must not. The
// glides made at 88.2, 96 and 192 kHz keep to the limits of the ones made at
// 22,050 Hz, and so read the same.

#include "windows/PitchAnalysis.h"

#include "PitchCorpus.h"
#include "Signals.h"
#include "document/MyDocument.h"
#include "model/Channels.h"
#include "support/ChannelFixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace phonaxis {
namespace {

// The track of `samples` with a new document's pitch settings, untouched:
// the precise one.
PitchAnalysis preciseDefaultTrack(const std::vector<float>& samples, double rateHz)
{
    Channels channel;
    test::loadChannel(channel, samples, rateHz);
    const PitchParameters parameters = PitchParameters::fromDocument(DocumentFields{});
    EXPECT_TRUE(parameters.m_bPreciseAnalysis);
    PitchAnalysis analysis;
    analysis.intilize(channel, 0, parameters);
    EXPECT_TRUE(analysis.DoPitchCepstral(samples));
    return analysis;
}

// What a recording is known to be at each time: its F0 (0 where unvoiced)
// and whether its voicing changes within a margin (frames there are not
// judged on voicing).
struct Truth {
    std::function<double(double)> f0AtMs;
    std::function<bool(double, double)> nearVoicingChange;
};

// A steady recording of `durationMs`: `f0Hz` throughout (0 for none), the
// ends counting as voicing changes.
Truth steadyTruth(double f0Hz, double durationMs)
{
    return {[=](double ms) { return ms >= 0.0 && ms <= durationMs ? f0Hz : 0.0; },
            [=](double ms, double margin) { return ms < margin || ms > durationMs - margin; }};
}

// The a-i-u sequence: voiced between its voicing start and end, silent
// around them but for the vocal tract's ring-down after the voice stops.
Truth sequenceTruth(const signals::VowelSequence& sequence)
{
    return {[&sequence](double ms) { return sequence.f0AtMs(ms); },
            [&sequence](double ms, double margin) {
                return std::fabs(ms - sequence.voicingStartMs) < margin ||
                       std::fabs(ms - sequence.voicingEndMs) < margin;
            }};
}

Truth glideTruth(const signals::Glide& glide)
{
    return {[&glide](double ms) { return glide.f0AtMs(ms); },
            [&glide](double ms, double margin) { return glide.nearVoicingChange(ms, margin); }};
}

struct Score {
    int voicedTruth = 0;   // frames voiced in truth, away from voicing changes
    int voicedKept = 0;    // of those, voiced in the track
    int unvoicedTruth = 0; // frames unvoiced in truth, away from voicing changes
    int falselyVoiced = 0; // of those, voiced in the track
    int both = 0;          // frames voiced in truth and track
    int gross = 0;         // of those, more than 20 % off
    double fineHz = 0.0;   // mean |error| of the others
};

Score score(const PitchAnalysis& track, const Truth& truth)
{
    constexpr double kMarginMs = 30.0;
    Score s;
    double fineSum = 0.0;
    for (int k = 0; k < track.m_nFrameCount; ++k) {
        const double timeMs = track.frameTime(k);
        const double f0 = truth.f0AtMs(timeMs);
        const double estimate = track.m_hdPitchFile[static_cast<std::size_t>(k)];
        if (f0 > 0.0 && estimate > 0.0) {
            ++s.both;
            if (std::fabs(estimate - f0) > 0.2 * f0) {
                ++s.gross;
            } else {
                fineSum += std::fabs(estimate - f0);
            }
        }
        if (truth.nearVoicingChange(timeMs, kMarginMs)) {
            continue;
        }
        if (f0 > 0.0) {
            ++s.voicedTruth;
            s.voicedKept += estimate > 0.0 ? 1 : 0;
        } else {
            ++s.unvoicedTruth;
            s.falselyVoiced += estimate > 0.0 ? 1 : 0;
        }
    }
    s.fineHz = s.both > s.gross ? fineSum / (s.both - s.gross) : 0.0;
    return s;
}

std::vector<float> squareWave(double hz, double rateHz, double durationMs)
{
    std::vector<float> samples(static_cast<std::size_t>(std::round(durationMs * rateHz / 1000.0)));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double phase = std::fmod(hz * static_cast<double>(i) / rateHz, 1.0);
        samples[i] = phase < 0.5 ? 0.5f : -0.5f;
    }
    return samples;
}

// Each sample one step of a 16-bit recording up or down, at random.
std::vector<float> oneLsbDither(double rateHz, double durationMs)
{
    std::mt19937 generator(11);
    std::vector<float> samples(static_cast<std::size_t>(std::round(durationMs * rateHz / 1000.0)));
    for (float& x : samples) {
        x = static_cast<float>((generator() & 1U) != 0 ? 1.0 / 32768.0 : -1.0 / 32768.0);
    }
    return samples;
}

std::vector<float> whiteNoise(double rateHz, double durationMs)
{
    std::mt19937 generator(12);
    std::normal_distribution<double> gauss(0.0, 0.1);
    std::vector<float> samples(static_cast<std::size_t>(std::round(durationMs * rateHz / 1000.0)));
    for (float& x : samples) {
        x = static_cast<float>(gauss(generator));
    }
    return samples;
}

signals::Glide glide(double rateHz, bool female, signals::GlideNoise noise = {}, double snrDb = 0)
{
    signals::GlideParams params;
    params.rateHz = rateHz;
    params.female = female;
    params.noise = noise;
    params.snrDb = snrDb;
    params.seed = 7;
    return signals::pitchGlide(params);
}

// Limits a case must keep to; shares are of the frames the Score counts.
struct Limits {
    double minKept;   // voiced frames the track keeps voiced
    double maxFalse;  // unvoiced frames the track calls voiced
    double maxGross;  // voiced frames more than 20 % off
    double maxFineHz; // mean error of the rest
};
constexpr Limits kSteadyTone{0.98, 0.0, 0.0, 0.1};
constexpr Limits kNoVoice{0.0, 0.02, 0.0, 0.0};
constexpr Limits kCleanVoice{0.98, 0.03, 0.01, 1.0};
constexpr Limits kNoisyVoice{0.95, 0.05, 0.02, 1.0}; // 10 dB SNR
constexpr Limits kNoisierVoice{0.9, 0.1, 0.03, 2.0}; // 5 dB SNR

TEST(PitchAccuracy, PreciseTrackWithDefaultSettingsMeetsEachCasesTruth)
{
    using signals::GlideNoise;
    const signals::Glide glides[] = {
        glide(22050.0, false),
        glide(22050.0, true),
        glide(22050.0, false, GlideNoise::White, 10.0),
        glide(22050.0, true, GlideNoise::Pink, 5.0),
        glide(88200.0, false),
        glide(96000.0, false),
        glide(96000.0, true),
        glide(192000.0, false),
        glide(192000.0, true),
    };
    const signals::VowelSequence sequence = signals::vowelSequence(22050.0);
    const struct Case {
        std::string name;
        std::vector<float> samples;
        double rateHz;
        Truth truth;
        Limits limits;
    } cases[] = {
        {"200 Hz sine", signals::tone(200.0, 44100.0, 2000.0), 44100.0, steadyTruth(200.0, 2000.0),
         kSteadyTone},
        {"110 Hz square", squareWave(110.0, 22050.0, 2000.0), 22050.0, steadyTruth(110.0, 2000.0),
         kSteadyTone},
        {"1-LSB dither", oneLsbDither(44100.0, 2000.0), 44100.0, steadyTruth(0.0, 2000.0),
         kNoVoice},
        {"white noise", whiteNoise(22050.0, 2000.0), 22050.0, steadyTruth(0.0, 2000.0), kNoVoice},
        {"male glide", glides[0].samples, 22050.0, glideTruth(glides[0]), kCleanVoice},
        {"female glide", glides[1].samples, 22050.0, glideTruth(glides[1]), kCleanVoice},
        {"male glide, white noise 10 dB", glides[2].samples, 22050.0, glideTruth(glides[2]),
         kNoisyVoice},
        {"female glide, pink noise 5 dB", glides[3].samples, 22050.0, glideTruth(glides[3]),
         kNoisierVoice},
        {"male glide at 88.2 kHz", glides[4].samples, 88200.0, glideTruth(glides[4]), kCleanVoice},
        {"male glide at 96 kHz", glides[5].samples, 96000.0, glideTruth(glides[5]), kCleanVoice},
        {"female glide at 96 kHz", glides[6].samples, 96000.0, glideTruth(glides[6]), kCleanVoice},
        {"male glide at 192 kHz", glides[7].samples, 192000.0, glideTruth(glides[7]), kCleanVoice},
        {"female glide at 192 kHz", glides[8].samples, 192000.0, glideTruth(glides[8]),
         kCleanVoice},
        // The ring-down after the voice stops falls 100 dB and more within
        // 100 ms: far below the voice, it is silence, not a voice at 84 Hz.
        {"a-i-u and its ring-down", sequence.audio, 22050.0, sequenceTruth(sequence),
         kCleanVoice},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Score s = score(preciseDefaultTrack(c.samples, c.rateHz), c.truth);
        ASSERT_GT(s.voicedTruth + s.unvoicedTruth, 150);
        EXPECT_GE(s.voicedKept, c.limits.minKept * s.voicedTruth);
        EXPECT_LE(s.falselyVoiced, c.limits.maxFalse * s.unvoicedTruth);
        EXPECT_LE(s.gross, c.limits.maxGross * s.both);
        EXPECT_LE(s.fineHz, c.limits.maxFineHz);
    }
}

} // namespace
} // namespace phonaxis
