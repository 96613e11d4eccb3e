#include "Signals.h"

#include "document/MyDocument.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace phonaxis::signals {
namespace {

// |DFT| of `x` at one frequency, by direct summation.
double dftMagnitude(const std::vector<double>& x, double frequencyHz, double rateHz)
{
    std::complex<double> sum = 0.0;
    const double w = -2.0 * std::numbers::pi * frequencyHz / rateHz;
    for (std::size_t n = 0; n < x.size(); ++n) {
        sum += x[n] * std::polar(1.0, w * static_cast<double>(n));
    }
    return std::abs(sum);
}

TEST(SignalsTest, ResonatorPeaksAtItsFormantWithItsBandwidthAndUnityDcGain)
{
    struct Case {
        Formant formant;
        double rateHz;
    };
    const Case cases[] = {
        {{500, 60}, 10000}, {{1500, 100}, 10000}, {{2440, 120}, 22050}, {{4500, 250}, 22050}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.formant.frequencyHz);
        Resonator r(c.formant, c.rateHz);
        std::vector<double> impulseResponse(4096);
        for (std::size_t n = 0; n < impulseResponse.size(); ++n) {
            impulseResponse[n] = r.process(n == 0 ? 1.0 : 0.0);
        }
        double dcGain = 0.0;
        for (const double v : impulseResponse) {
            dcGain += v;
        }
        EXPECT_NEAR(dcGain, 1.0, 1e-6);

        const double f = c.formant.frequencyHz;
        const double b = c.formant.bandwidthHz;
        double peakHz = 0.0, peak = 0.0;
        for (double hz = f - 2 * b; hz <= f + 2 * b; hz += 1.0) {
            const double m = dftMagnitude(impulseResponse, hz, c.rateHz);
            if (m > peak) {
                peak = m;
                peakHz = hz;
            }
        }
        EXPECT_NEAR(peakHz, f, 3.0);
        // Half power lies about half a bandwidth to each side of the peak.
        const double halfPower = peak / std::sqrt(2.0);
        EXPECT_GT(dftMagnitude(impulseResponse, f - 0.4 * b, c.rateHz), halfPower);
        EXPECT_GT(dftMagnitude(impulseResponse, f + 0.4 * b, c.rateHz), halfPower);
        EXPECT_LT(dftMagnitude(impulseResponse, f - 0.6 * b, c.rateHz), halfPower);
        EXPECT_LT(dftMagnitude(impulseResponse, f + 0.6 * b, c.rateHz), halfPower);
    }
}

TEST(SignalsTest, PulseInstantsFollowTheirF0)
{
    // A constant F0 with a whole period: one unit impulse every 50 samples.
    const PulseTrain constant = pulseTrain(200.0, 10000.0, 1000.0);
    ASSERT_EQ(constant.instants.size(), 200u);
    for (std::size_t k = 0; k < constant.instants.size(); ++k) {
        EXPECT_EQ(constant.instants[k], 50.0 * static_cast<double>(k));
        EXPECT_EQ(constant.samples[50 * k], 1.0f);
    }

    // A gliding F0: every interval is one period of the F0 in its middle,
    // and the flow-derivative source has its sharpest (most negative) step
    // at each closure instant.
    const double rateHz = 22050.0;
    std::vector<double> f0(static_cast<std::size_t>(rateHz));
    for (std::size_t i = 0; i < f0.size(); ++i) {
        f0[i] = 100.0 + 150.0 * static_cast<double>(i) / static_cast<double>(f0.size());
    }
    const PulseTrain glide = pulseTrain(f0, rateHz, {PulseShape::GlottalFlowDerivative, 0});
    ASSERT_GT(glide.instants.size(), 150u);
    for (std::size_t k = 1; k < glide.instants.size(); ++k) {
        const double middle = 0.5 * (glide.instants[k] + glide.instants[k - 1]);
        const double expected = rateHz / f0[static_cast<std::size_t>(middle)];
        EXPECT_NEAR(glide.instants[k] - glide.instants[k - 1], expected, 0.005 * expected);

        const double period = glide.periods[k];
        const auto from = static_cast<std::size_t>(glide.instants[k] - period / 2);
        const auto to = std::min(static_cast<std::size_t>(glide.instants[k] + period / 2),
                                 glide.samples.size());
        const auto sharpest =
            std::min_element(glide.samples.begin() + from, glide.samples.begin() + to);
        EXPECT_NEAR(static_cast<double>(sharpest - glide.samples.begin()), glide.instants[k], 1.0);
    }
}

TEST(SignalsTest, EggTruthInstantsLieOnTheThresholdCrossings)
{
    struct Case {
        double f0Hz, rateHz, threshold, closedQuotient;
    };
    // Closed quotient of the default shape: fall end 0.12 + 0.08 + 0.30·(2/π)·acos(p)
    // minus rise 0.12·(2/π)·asin(p).
    const Case cases[] = {{130.0, 22050.0, 0.25, 0.4324383}, {210.0, 10000.0, 0.5, 0.36}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.f0Hz);
        const PulseTrain pulses =
            pulseTrain(c.f0Hz, c.rateHz, 300.0, {PulseShape::GlottalFlowDerivative, 3});
        const EggSignal egg = eggSignal(pulses, pulses.samples.size(), c.threshold);
        ASSERT_GT(egg.cycles.size(), pulses.instants.size() - 2);
        const auto& x = egg.samples;
        constexpr double eps = 1e-6;
        for (std::size_t k = 0; k < egg.cycles.size(); ++k) {
            const EggCycleTruth& cycle = egg.cycles[k];
            const auto ci = static_cast<std::size_t>(cycle.contactIndex);
            const auto di = static_cast<std::size_t>(cycle.decontactIndex);
            ASSERT_GT(ci, 0u);
            ASSERT_LT(di, x.size());
            EXPECT_GE(x[ci], cycle.levelValue - eps);
            EXPECT_LT(x[ci - 1], cycle.levelValue + eps);
            EXPECT_LE(x[di], cycle.levelValue + eps);
            EXPECT_GT(x[di - 1], cycle.levelValue - eps);
            // The sampled top reaches the true peak, so a detector's 25 %
            // level matches the truth's.
            EXPECT_NEAR(*std::max_element(x.begin() + ci, x.begin() + di), cycle.peakValue, eps);
            EXPECT_NEAR(cycle.contactMs, cycle.contactIndex * 1000.0 / c.rateHz, 1000.0 / c.rateHz);
            if (k + 1 < egg.cycles.size()) {
                ASSERT_TRUE(cycle.closedQuotient.has_value());
                EXPECT_NEAR(*cycle.closedQuotient, c.closedQuotient, 1e-7);
            }
        }
        EXPECT_FALSE(egg.cycles.back().closedQuotient.has_value());
    }
}

TEST(SignalsTest, DemoRecordingReadsBackWithItsThreeChannels)
{
    const DemoRecording demo = demoRecording();
    const std::span<const float> channels[] = {demo.speech.audio, demo.egg.samples, demo.airflow};
    test::ScriptedPrompts prompts;
    const auto bytes = waveFileBytes(22050.0, channels, prompts);
    ASSERT_TRUE(bytes.has_value());

    AppSettings settings;
    MyDocument document(prompts, settings);
    ASSERT_TRUE(document.readFromData(*bytes, "wav"));
    ASSERT_EQ(document.m_nNumofChannels, 3);
    const std::size_t frames = 77175; // 3.5 s
    for (int c = 0; c < 3; ++c) {
        const Channels& ch = document.getChannel(c);
        EXPECT_EQ(ch.m_dSampleRate, 22050.0);
        ASSERT_EQ(ch.m_dwFileLength, static_cast<double>(frames));
        const auto read = ch.samples();
        ASSERT_EQ(read.size(), frames);
        EXPECT_TRUE(std::equal(read.begin(), read.end(), channels[c].begin()));
    }
    EXPECT_EQ(document.audioChannelIndex(), 0);

    // The truth describes the recording: F0 within the contour's range
    // where voiced, and airflow well up while voiced and low in silence.
    for (const SequenceFrame& frame : demo.speech.frames) {
        const bool voiced =
            frame.timeMs >= demo.speech.voicingStartMs && frame.timeMs < demo.speech.voicingEndMs;
        EXPECT_EQ(frame.f0Hz > 0.0, voiced) << frame.timeMs;
        if (voiced) {
            EXPECT_TRUE(frame.f0Hz >= 100.0 && frame.f0Hz <= 140.0) << frame.timeMs;
        }
    }
    ASSERT_EQ(demo.speech.steady.size(), 3u);
    const auto mean = [](std::span<const float> v) {
        double s = 0.0;
        for (const float f : v) {
            s += f;
        }
        return s / static_cast<double>(v.size());
    };
    const std::span<const float> flow = demo.airflow;
    const double silence = mean(flow.subspan(0, 4000));
    const double voiced = mean(flow.subspan(20000, 20000));
    EXPECT_GT(silence, 0.0);
    EXPECT_GT(voiced, 5.0 * silence);
    EXPECT_GT(demo.egg.cycles.size(), 300u);
}

} // namespace
} // namespace phonaxis::signals
