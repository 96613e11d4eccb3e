// A spectrum over a long stretch reports its progress and stops when told;
// reporting never changes the result.
#include "windows/SpectrumAnalysis.h"

#include "Signals.h"

#include <gtest/gtest.h>

#include <vector>

namespace phonaxis {
namespace {

std::vector<double> copied(std::span<const double> values)
{
    return {values.begin(), values.end()};
}

TEST(SpectrumProgress, ReportsDoNotChangeTheResultAndAStopKeepsThePreviousOne)
{
    // 20 s of a vowel at 10 kHz: 2000 frames, reported every 65536 samples.
    signals::VowelParams params;
    params.durationMs = 20000.0;
    const signals::Vowel vowel = signals::vowel(params);
    const auto length = static_cast<double>(vowel.samples.size());
    const SpectrumParameters p;

    SpectrumAnalysis plain;
    ASSERT_EQ(plain.PerformFFTLPC(vowel.samples, 0.0, length, length, vowel.rateHz, p),
              SpectrumStart::Computed);

    struct Case {
        double stopAt; // the first fraction answered with "stop"; above 1: never
        SpectrumStart outcome;
    };
    for (const Case c : {Case{2.0, SpectrumStart::Computed}, Case{0.5, SpectrumStart::Cancelled},
                         Case{0.0, SpectrumStart::Cancelled}}) {
        SCOPED_TRACE(c.stopAt);
        std::vector<double> fractions;
        const WorkProgress progress([&](double fraction) {
            fractions.push_back(fraction);
            return fraction < c.stopAt;
        });
        SpectrumAnalysis watched;
        // A previous result that a stopped start must leave alone.
        ASSERT_EQ(watched.PerformFFTLPC(vowel.samples, 100.0, 100.0, length, vowel.rateHz, p),
                  SpectrumStart::Computed);
        const std::vector<double> before = copied(watched.spectrum());
        const auto formantsBefore = watched.m_dFormat;

        EXPECT_EQ(
            watched.PerformFFTLPC(vowel.samples, 0.0, length, length, vowel.rateHz, p, progress),
            c.outcome);
        ASSERT_FALSE(fractions.empty());
        EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
        if (c.outcome == SpectrumStart::Computed) {
            EXPECT_GT(fractions.size(), 2u);
            EXPECT_LE(fractions.back(), 1.0);
            EXPECT_EQ(copied(watched.spectrum()), copied(plain.spectrum()));
            EXPECT_EQ(copied(watched.envelope()), copied(plain.envelope()));
            EXPECT_EQ(watched.m_dFormat, plain.m_dFormat);
            EXPECT_EQ(watched.m_dBandWidth, plain.m_dBandWidth);
            EXPECT_EQ(watched.framesAnalysed(), plain.framesAnalysed());
        } else {
            EXPECT_GE(fractions.back(), c.stopAt);
            EXPECT_EQ(copied(watched.spectrum()), before);
            EXPECT_EQ(watched.m_dFormat, formantsBefore);
        }
    }
}

} // namespace
} // namespace phonaxis
