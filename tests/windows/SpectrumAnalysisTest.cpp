#include "windows/SpectrumAnalysis.h"

#include "document/MyDocument.h"
#include "support/ChannelFixtures.h"
#include "support/ScriptedPrompts.h"

#include "Signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace phonaxis {
namespace {

// A new document's spectrum settings for a sample rate.
SpectrumParameters defaultsFor(double rateHz)
{
    SpectrumParameters p;
    p.m_nFFTWindowLengthMS = static_cast<int>(256000 / rateHz);
    p.m_nFFTfreqRange = static_cast<int>(rateHz) / 2000 * 1000;
    p.m_nLPCNumCoeff = 2 * (static_cast<int>(rateHz / 1000 + 4) / 2);
    return p;
}

struct Start {
    SpectrumParameters p = defaultsFor(10000.0);
    double from = 500, to = 500, rate = 10000.0;
    std::vector<float> x = signals::tone(1000.0, 10000.0, 1000.0);

    SpectrumStart run(SpectrumAnalysis& a) const
    {
        return a.PerformFFTLPC(x, from, to, double(x.size()), rate, p);
    }
};

std::vector<double> copied(std::span<const double> values)
{
    return {values.begin(), values.end()};
}

TEST(SpectrumAnalysis, FramesContinueWhileTheFrameEndsBeforeTheStop)
{
    // 10 kHz, N = 256, 10 ms = 100.5 samples; frames never start past the end.
    struct Case {
        double from, to;
        int stepMs, frames;
    };
    for (const Case c : {Case{1000, 1000, 10, 1},
                         {1000, 1256, 10, 1},
                         {1000, 1257, 10, 2},
                         {1000, 900, 10, 1},
                         {1000, 10000, 10, 89},
                         {1000, 1e12, 10, 89},
                         {0, 266, 0, 21},
                         {9990, 9990, 10, 1},
                         {9000, 10000, 100000, 1}}) {
        SCOPED_TRACE(testing::Message() << c.from << ".." << c.to << " step " << c.stepMs);
        Start s{.from = c.from, .to = c.to};
        s.p.m_nAverageStepSize = c.stepMs;
        SpectrumAnalysis a;
        ASSERT_EQ(s.run(a), SpectrumStart::Computed);
        EXPECT_EQ(a.framesAnalysed(), c.frames);
    }
}

// The precise analysis names its model in the info fields (ceiling, order
// and window, and no classic LPC order) and draws that model's envelope: up
// to the ceiling only, with its peaks at the formants it reports; above the
// ceiling a frame record carries no envelope level. The ceiling is half the
// rate where that is lower, with fewer poles.
TEST(SpectrumAnalysis, PreciseSpectrumShowsItsModelUpToTheCeiling)
{
    struct Case {
        double rateHz;
        std::vector<std::string> model; // ceiling, order, window
    };
    for (const Case& c : {Case{22050.0, {"5000", "10", "25"}}, Case{8000.0, {"4000", "8", "25"}}}) {
        SCOPED_TRACE(c.rateHz);
        const signals::Vowel vowel = signals::vowel(
            {.rateHz = c.rateHz, .shape = signals::PulseShape::GlottalFlowDerivative});
        Start s{.p = defaultsFor(c.rateHz), .from = 0.25 * c.rateHz, .to = 0.25 * c.rateHz,
                .rate = c.rateHz, .x = vowel.samples};
        s.p.m_bPreciseAnalysis = true;
        SpectrumAnalysis a;
        ASSERT_EQ(s.run(a), SpectrumStart::Computed);
        std::vector<std::string> names;
        std::vector<std::string> model;
        for (const SpectrumAnalysis::InfoField& field : a.infoFields()) {
            names.push_back(field.name);
            if (field.name.starts_with("formant")) {
                model.push_back(field.text);
            }
        }
        EXPECT_EQ(a.infoFields().front().text, "Precise");
        EXPECT_EQ(std::count(names.begin(), names.end(), "lpcOrder"), 0);
        EXPECT_EQ(model, c.model);

        const std::span<const double> envelope = a.envelope();
        const double ceiling = std::stod(c.model[0]);
        ASSERT_EQ(envelope.size(),
                  std::min<std::size_t>(static_cast<std::size_t>(ceiling) + 1,
                                        static_cast<std::size_t>(a.displayPoints())));
        // A local maximum of the envelope within 3 % of F1, F2 and F3 (at
        // 8 kHz F2 is a shoulder on F1's slope rather than a peak).
        for (int i = 0; i < (c.rateHz > 8000.0 ? 3 : 1); ++i) {
            const double formant = a.m_dFormat[static_cast<std::size_t>(i)];
            ASSERT_GT(formant, 0.0);
            const auto from = static_cast<std::size_t>(0.97 * formant);
            const auto to = std::min(envelope.size() - 1, static_cast<std::size_t>(1.03 * formant));
            const auto peak = std::max_element(envelope.begin() + static_cast<std::ptrdiff_t>(from),
                                               envelope.begin() + static_cast<std::ptrdiff_t>(to));
            EXPECT_GT(*peak, envelope[from]) << "F" << i + 1;
            EXPECT_GT(*peak, envelope[to]) << "F" << i + 1;
        }
        for (const LogRecord& record : a.frameLogRecords("v")) {
            EXPECT_EQ(record.count, record.values[0] <= ceiling ? 3 : 2) << record.values[0];
        }
        EXPECT_NE(a.analysisCaption().find("Precise analysis"), std::string::npos);
    }
}

TEST(SpectrumAnalysis, RefusedAndDeclinedStartsKeepThePreviousResult)
{
    Start s{.p = defaultsFor(44100.0), .rate = 44100.0};
    SpectrumAnalysis a;
    ASSERT_EQ(s.run(a), SpectrumStart::Computed);
    const std::vector<double> spectrum = copied(a.spectrum());
    const auto formants = a.m_dFormat;
    s.p.m_nFFTfreqRange = 22050; // the options sheet accepts it, the window does not
    s.p.m_nAverageStepSize = 7;
    EXPECT_EQ(s.run(a), SpectrumStart::RangeBeyondAllowed);
    const std::vector<std::string> info{"Classic", "44100", "172", "256", "48", "5", "7"};
    const auto texts = [](const SpectrumAnalysis& analysis) {
        std::vector<std::string> shown;
        for (const SpectrumAnalysis::InfoField& field : analysis.infoFields()) {
            shown.push_back(field.text);
        }
        return shown;
    };
    EXPECT_EQ(texts(a), info);
    EXPECT_EQ(a.m_parameters.m_nFFTfreqRange, 22000);

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<std::function<void(Start&)>> damaged = {
        [](Start& t) { t.p.m_nFFTWindLength = 100; },
        [](Start& t) { t.p.m_nFFTWindLength = 16384; },
        [](Start& t) { t.p.m_nLPCNumCoeff = 0; },
        [](Start& t) { t.p.m_nLPCNumCoeff = 401; },
        [](Start& t) { t.p.m_nFFTWindowLengthMS = -1; },
        [](Start& t) { t.p.m_nAverageStepSize = -1; },
        [](Start& t) { t.p.m_nFFTfreqRange = 0; },
        [nan](Start& t) { t.from = nan; },
        [nan](Start& t) { t.to = nan; },
        [](Start& t) { t.from = -1; },
        [](Start& t) { t.from = 44100; },
        [](Start& t) { t.rate = 0; },
        [nan](Start& t) { t.rate = nan; },
        [](Start& t) { t.x.clear(); }};
    for (std::size_t i = 0; i < damaged.size(); ++i) {
        SCOPED_TRACE(i);
        Start t{.p = defaultsFor(44100.0), .rate = 44100.0};
        t.x = signals::tone(1000.0, 44100.0, 1000.0);
        damaged[i](t);
        EXPECT_EQ(t.run(a), t.x.empty() ? SpectrumStart::NoData : SpectrumStart::Declined);
        EXPECT_EQ(copied(a.spectrum()), spectrum);
        EXPECT_EQ(a.m_dFormat, formants);
        EXPECT_EQ(texts(a), info);
    }
}

TEST(SpectrumAnalysis, SlotsWithoutFormantHoldMinusOneAndAreAveragedIn)
{
    // A tone, then silence: order 2 finds one formant in frame 0 and none in
    // the last frame (sample 603, past the tone).
    Start s{.from = 0, .to = 0};
    std::fill(s.x.begin() + 600, s.x.end(), 0.0f);
    s.p.m_nLPCNumCoeff = 2;
    SpectrumAnalysis first, averaged;
    ASSERT_EQ(s.run(first), SpectrumStart::Computed);
    s.to = 800;
    ASSERT_EQ(s.run(averaged), SpectrumStart::Computed);
    ASSERT_EQ(averaged.framesAnalysed(), 7);
    EXPECT_NEAR(first.m_dFormat[0], 1000.0, 50.0);
    EXPECT_DOUBLE_EQ(averaged.m_dFormat[0], (first.m_dFormat[0] - 1.0) * 0.5);
    EXPECT_DOUBLE_EQ(averaged.m_dBandWidth[0], (first.m_dBandWidth[0] - 1.0) * 0.5);
    EXPECT_NE(averaged.formantText().find("\t   -1.0\t   -1.0\t   -1.0\t   -1.0\nBandwidths = \t"),
              std::string::npos);
}

TEST(SpectrumAnalysis, ReadoutsMarkerAndLogEntries)
{
    for (const bool absolute : {false, true}) {
        SCOPED_TRACE(absolute);
        Start s;
        s.p.m_bFFTAbsolute = absolute;
        s.p.m_nFFTFrameInterval = 1000;
        SpectrumAnalysis a;
        ASSERT_EQ(s.run(a), SpectrumStart::Computed);
        const auto level = a.spectrum();
        const auto peak = std::size_t(std::max_element(level.begin(), level.end()) - level.begin());
        const auto low = std::size_t(std::min_element(level.begin(), level.end()) - level.begin());
        // Relative levels are 0 at the peak, absolute ones at the minimum.
        EXPECT_EQ(a.powerText(int(absolute ? low : peak)), "0.0");
        // Every readout is a plain number: no padding, the sign against the
        // digits ("-6.3", never "-  6.3"), below 0 only when relative.
        for (std::size_t j = 0; j < level.size(); j += 7) {
            for (const std::string& text : {a.powerText(int(j)), a.frequencyText(int(j))}) {
                SCOPED_TRACE(text);
                ASSERT_FALSE(text.empty());
                EXPECT_EQ(text.find(' '), std::string::npos);
                std::size_t used = 0;
                std::stod(text, &used);
                EXPECT_EQ(used, text.size());
            }
            const double power = std::stod(a.powerText(int(j)));
            EXPECT_TRUE(absolute ? power >= 0.0 : power <= 0.0) << j;
        }
        a.setMarker(true, int(peak));
        EXPECT_TRUE(a.canLogMarker(true) && !a.canLogMarker(false));
        const LogRecord marker = a.markerLogRecord("x.wav");
        EXPECT_EQ(marker.definition, "FFT/LPC Marker Entry: freq., FFT_dB, LPC_dB ");
        EXPECT_EQ(marker.count, 3);
        EXPECT_NEAR(marker.values[1], absolute ? level[peak] : 0.0, 1e-9);
        const std::vector<LogRecord> frames = a.frameLogRecords("x.wav");
        ASSERT_EQ(frames.size(), 5U);
        EXPECT_EQ(frames[1].values[1], level[1000] - (absolute ? 0.0 : a.m_dFFTMAX));
        EXPECT_EQ(frames[1].values[2], a.envelope()[1000] - (absolute ? 0.0 : a.m_dLPCMAX));
    }
    Start s;
    s.p.m_bFFTDrawLPC = false;
    s.p.m_nFFTFrameInterval = 0; // refused: no entries rather than an endless loop
    SpectrumAnalysis a;
    ASSERT_EQ(s.run(a), SpectrumStart::Computed);
    EXPECT_EQ(a.markerLogRecord("x").definition, "FFT/LPC Marker Entry: freq., FFT_dB ");
    EXPECT_EQ(a.markerLogRecord("x").count, 2);
    EXPECT_TRUE(a.frameLogRecords("x").empty());
}

// Shown formants are the mean of the first and the last frame's, the
// envelope is the last frame's: each equals what the one frame gives alone.
TEST(SpectrumAnalysis, FormantsAndEnvelopeComeFromTheFirstAndLastFrames)
{
    // 10 kHz, N = 256, 10 ms = 100.5 samples: nine frames, the last at 1804.
    Start s{.from = 1000, .to = 2000};
    s.x = signals::vowel({100.0, 10000.0, 300.0, signals::kVowelA}).samples;
    s.p.m_nLPCNumCoeff = 40;
    SpectrumAnalysis all;
    ASSERT_EQ(s.run(all), SpectrumStart::Computed);
    ASSERT_EQ(all.framesAnalysed(), 9);
    Start firstOnly = s, lastOnly = s;
    firstOnly.to = 1000;
    lastOnly.from = lastOnly.to = 1804;
    SpectrumAnalysis first, last;
    ASSERT_EQ(firstOnly.run(first), SpectrumStart::Computed);
    ASSERT_EQ(lastOnly.run(last), SpectrumStart::Computed);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(all.m_dFormat[i], (first.m_dFormat[i] + last.m_dFormat[i]) * 0.5) << i;
        EXPECT_EQ(all.m_dBandWidth[i], (first.m_dBandWidth[i] + last.m_dBandWidth[i]) * 0.5) << i;
    }
    EXPECT_GT(all.m_dFormat[0], 0.0);
    EXPECT_EQ(copied(all.envelope()), copied(last.envelope()));
}

// The readout's display index under pixel x of a graph `width` wide is
// (int)(x·points/width), and stays on the first or last point outside it.
TEST(SpectrumAnalysis, DisplayIndexUnderTheMouse)
{
    SpectrumAnalysis a;
    for (const int points : {1, 7, 4000, 11025, 22050}) {
        SCOPED_TRACE(points);
        a.m_nDisplayRange = points;
        for (const int width : {1, 3, 333, 1150}) {
            for (int x = 0; x < width; ++x) {
                ASSERT_EQ(a.displayIndexAt(x, width), std::int64_t{x} * points / width) << x;
            }
        }
        for (const double x : {500.0, 1e300}) {
            EXPECT_EQ(a.displayIndexAt(x, 500.0), points - 1);
        }
        for (const double x : {-3.0, std::nan("")}) {
            EXPECT_EQ(a.displayIndexAt(x, 500.0), 0);
        }
        EXPECT_EQ(a.displayIndexAt(10.0, 0.0), 0);
    }
    a.m_nDisplayRange = 0; // no spectrum
    EXPECT_EQ(a.displayIndexAt(10.0, 500.0), 0);
}

TEST(SpectrumAnalysis, LpcWindowBeyondTheWholeKilohertzCopyStillHoldsSamples)
{
    // At 10,999 Hz and order 40 the LPC window is 439 samples, more than
    // ((int)rate div 1000)·order + 10 = 410.
    Start s{.p = defaultsFor(10999.0), .from = 1000, .to = 1000, .rate = 10999.0};
    s.x = signals::vowel({100.0, 10999.0, 300.0, signals::kVowelA}).samples;
    s.p.m_nLPCNumCoeff = 40;
    SpectrumAnalysis a;
    ASSERT_EQ(s.run(a), SpectrumStart::Computed);
    // Samples 410 … 438 of the frame are analysed: zeroing them changes the result.
    Start zeroed = s;
    std::fill(zeroed.x.begin() + 1410, zeroed.x.begin() + 1439, 0.0f);
    SpectrumAnalysis b;
    ASSERT_EQ(zeroed.run(b), SpectrumStart::Computed);
    EXPECT_NE(a.m_dFormat, b.m_dFormat);
    EXPECT_NE(copied(a.envelope()), copied(b.envelope()));
}

TEST(SpectrumAnalysis, DocumentStartUsesTheAudioChannel)
{
    test::ScriptedPrompts prompts;
    MyDocument document(prompts);
    SpectrumAnalysis a;
    EXPECT_EQ(a.doPerformFFTLPC(document, 0, 0), SpectrumStart::NoData);
    document.m_nNumofChannels = 2;
    document.m_bHaveData = true;
    test::loadChannel(document.getChannel(0), std::vector<float>(10000, 0.1f), 10000.0);
    test::loadChannel(document.getChannel(1), Start{}.x, 10000.0);
    document.getChannel(1).m_nChannelType = 1;
    document.m_nFFTfrequencyRange = 4000;
    ASSERT_EQ(a.doPerformFFTLPC(document, 500, 500), SpectrumStart::Computed);
    const auto level = a.spectrum();
    EXPECT_NEAR(std::max_element(level.begin(), level.end()) - level.begin(), 1000, 20);
}

// The engine on vowels (pulses at F0 through five resonators) and on the
// resonators' impulse response (F0 0) with a new document's settings; prints
// the error table: true F1-F3, the nearest slot within 20 % (or missed),
// error in Hz and %.
TEST(SpectrumAnalysis, RecoversTheFirstThreeFormantsOfSyntheticVowels)
{
    for (const char v : {'a', 'i', 'u'}) {
        for (const double rate : {10000.0, 22050.0}) {
            for (const double f0 : {0.0, 100.0, 200.0}) {
                SCOPED_TRACE(testing::Message() << v << " " << rate << " Hz, F0 " << f0);
                const signals::FormantSet formants = *signals::vowelFormants(v);
                // The marker on the impulse, or a 50 ms selection of the vowel.
                Start s{.p = defaultsFor(rate), .from = 0, .to = 0, .rate = rate, .x = {1.0f}};
                s.x.resize(std::size_t(rate / 2));
                s.x = signals::applyFormants(s.x, formants, rate);
                if (f0 > 0.0) {
                    s.x = signals::vowel({f0, rate, 500.0, formants}).samples;
                    s.from = 0.2 * rate;
                    s.to = 0.25 * rate;
                }
                SpectrumAnalysis a;
                ASSERT_EQ(s.run(a), SpectrumStart::Computed);
                std::printf("%c %5.0f Hz F0 %3.0f:", v, rate, f0);
                for (std::size_t k = 0; k < 3; ++k) {
                    const double truth = formants[k].frequencyHz;
                    double found = -1.0;
                    for (int i = 0; i < SpectrumAnalysis::kFormantsShown; ++i) {
                        const double error = std::abs(a.m_dFormat[i] - truth);
                        if (error < 0.2 * truth && error < std::abs(found - truth)) {
                            found = a.m_dFormat[i];
                        }
                    }
                    std::printf(
                        found < 0 ? "  F%zu %4.0f missed" : "  F%zu %4.0f %6.1f %+5.1f %+4.1f%%",
                        k + 1, truth, found, found - truth, 100.0 * (found - truth) / truth);
                    // F1 below twice a 200 Hz F0 falls between the lowest harmonics
                    // of a 14 or 26 ms frame: its root is too broad to be accepted.
                    if (k > 0 || f0 < 200.0 || truth > 2 * f0) {
                        EXPECT_NEAR(found, truth, std::max(60.0, 0.04 * truth)) << "F" << k + 1;
                    }
                }
                std::printf("\n");
            }
        }
    }
}

} // namespace
} // namespace phonaxis
