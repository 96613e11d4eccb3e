// A spectrum over a long stretch reports its progress and stops when told;
// reporting never changes the result, and a stop keeps the previous one.
#include "windows/SpectrumAnalysis.h"

#include "Signals.h"

#include <gtest/gtest.h>

namespace phonaxis {
namespace {

std::vector<double> copied(std::span<const double> values)
{
    return {values.begin(), values.end()};
}

TEST(SpectrumProgress, ReportsDoNotChangeTheResultAndAStopKeepsThePreviousOne)
{
    // 20 s at 10 kHz: 2000 frames, reported every 65536 samples.
    const signals::Vowel vowel = signals::vowel({.durationMs = 20000.0});
    const auto length = static_cast<double>(vowel.samples.size());
    auto start = [&](SpectrumAnalysis& a, double from, double to, const WorkProgress& progress) {
        return a.PerformFFTLPC(vowel.samples, from, to, length, vowel.rateHz, {}, progress);
    };
    SpectrumAnalysis plain;
    ASSERT_EQ(start(plain, 0.0, length, {}), SpectrumStart::Computed);

    for (const double stopAt : {2.0, 0.5, 0.0}) { // the first fraction answered "stop"
        SCOPED_TRACE(stopAt);
        std::vector<double> fractions;
        const WorkProgress progress([&](double fraction) {
            fractions.push_back(fraction);
            return fraction < stopAt;
        });
        SpectrumAnalysis watched;
        ASSERT_EQ(start(watched, 100.0, 100.0, {}), SpectrumStart::Computed);
        const std::vector<double> before = copied(watched.spectrum());
        const bool completes = stopAt > 1.0;
        EXPECT_EQ(start(watched, 0.0, length, progress),
                  completes ? SpectrumStart::Computed : SpectrumStart::Cancelled);
        ASSERT_FALSE(fractions.empty());
        EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
        EXPECT_LE(fractions.back(), 1.0);
        EXPECT_EQ(copied(watched.spectrum()), completes ? copied(plain.spectrum()) : before);
        if (completes) {
            EXPECT_GT(fractions.size(), 2u);
            EXPECT_EQ(copied(watched.envelope()), copied(plain.envelope()));
            EXPECT_EQ(watched.m_dFormat, plain.m_dFormat);
            EXPECT_EQ(watched.m_dBandWidth, plain.m_dBandWidth);
        }
    }
}

} // namespace
} // namespace phonaxis
