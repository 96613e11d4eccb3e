#include "Signals.h"
#include "VowelCorpus.h"
#include "document/AppSettings.h"
#include "document/MyDocument.h"

#include "document/RateSettings.h"
#include "support/ScriptedPrompts.h"
#include "windows/SpectrumAnalysis.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace phonaxis {
namespace {

using corpus::Speaker;

// F1 … F3 (0 where missing) at 250 ms of a corpus vowel, as a document opened
// at the vowel's rate sets the spectrum up (the rate-dependent order, applied
// window and range): the classic analysis without a ceiling, with one the
// precise formants at that ceiling.
std::array<double, 3> formantsAt250Ms(const corpus::VowelRecipe& recipe, double ceilingHz = 0.0)
{
    const std::vector<double> values = corpus::synthesiseVowel(recipe);
    const std::vector<float> samples(values.begin(), values.end());
    const RateSettings rated = rateSettingsFor(recipe.rateHz);
    SpectrumParameters parameters;
    parameters.m_nFFTWindowLengthMS = rated.appliedWindow;
    parameters.m_nLPCNumCoeff = rated.lpcOrder;
    parameters.m_nFFTfreqRange = rated.frequencyRange;
    parameters.m_bPreciseAnalysis = ceilingHz > 0.0;
    parameters.m_dFormantCeiling = ceilingHz;
    SpectrumAnalysis analysis;
    const double at = 0.25 * recipe.rateHz;
    if (analysis.PerformFFTLPC(samples, at, at, static_cast<double>(samples.size()), recipe.rateHz,
                               parameters) != SpectrumStart::Computed) {
        return {};
    }
    return {std::max(analysis.m_dFormat[0], 0.0), std::max(analysis.m_dFormat[1], 0.0),
            std::max(analysis.m_dFormat[2], 0.0)};
}

// The same from a new document that opened the vowel as a float WAV file,
// its settings untouched: the default analysis.
std::array<double, 3> defaultFormantsAt250Ms(const corpus::VowelRecipe& recipe)
{
    const std::vector<double> values = corpus::synthesiseVowel(recipe);
    const std::vector<float> samples(values.begin(), values.end());
    test::ScriptedPrompts prompts;
    AppSettings settings;
    const std::span<const float> channels[] = {samples};
    const std::optional<Bytes> bytes = signals::waveFileBytes(recipe.rateHz, channels, prompts);
    MyDocument document(prompts, settings);
    SpectrumAnalysis analysis;
    const double at = 0.25 * recipe.rateHz;
    if (!bytes || !document.readFromData(*bytes, "wav") ||
        analysis.doPerformFFTLPC(document, at, at) != SpectrumStart::Computed) {
        return {};
    }
    EXPECT_TRUE(analysis.m_parameters.m_bPreciseAnalysis);
    return {std::max(analysis.m_dFormat[0], 0.0), std::max(analysis.m_dFormat[1], 0.0),
            std::max(analysis.m_dFormat[2], 0.0)};
}

// Mean absolute error limits (Hz) of F1, F2, F3 per group over four vowels
// (two with a low F1, one with F1 and F2 close, one with F2 and F3 close),
// at each rate. The analysis errs by about 8 / 11 / 8 Hz on them at F0 100
// and 45 / 30 / 25 Hz at F0 200 (harmonics 200 Hz apart pull a low F1); the
// limits leave half as much again and more. Women's voices are analysed at
// the ceiling that suits them (5,500 Hz) and at the default (5,000 Hz), where
// the model has a pole to spare that must not take a formant's slot. The
// default ceiling is measured as a user meets it: a new document's analysis
// of the vowel's file, no setting touched.
struct GroupLimits {
    Speaker speaker;
    double f0Hz;
    std::array<double, 3> maeHz;
};

TEST(PreciseFormants, CorpusSubsetMeetsErrorLimitsInEveryGroupAtEveryRate)
{
    const std::vector<std::string> vowels = {"iy", "aa", "uw", "er"};
    const GroupLimits groups[] = {
        {Speaker::Man, 100.0, {20.0, 25.0, 20.0}},
        {Speaker::Woman, 100.0, {20.0, 20.0, 20.0}},
        {Speaker::Man, 200.0, {65.0, 45.0, 40.0}},
        {Speaker::Woman, 200.0, {60.0, 35.0, 40.0}},
    };
    for (const GroupLimits& group : groups) {
        const std::vector<double> ceilings = group.speaker == Speaker::Man
                                                 ? std::vector<double>{5000.0}
                                                 : std::vector<double>{5500.0, 5000.0};
        for (const auto& [rate, ceiling] : [&] {
                 std::vector<std::pair<double, double>> runs;
                 for (const double r : corpus::corpusRates()) {
                     for (const double c : ceilings) {
                         runs.emplace_back(r, c);
                     }
                 }
                 return runs;
             }()) {
            std::array<double, 3> sum{};
            std::string found;
            for (const std::string& vowel : vowels) {
                const corpus::VowelRecipe recipe =
                    corpus::vowelRecipe(vowel, group.speaker, group.f0Hz, rate);
                const std::array<double, 3> formants =
                    ceiling == DocumentFields{}.m_dFormantCeiling
                        ? defaultFormantsAt250Ms(recipe)
                        : formantsAt250Ms(recipe, ceiling);
                char text[96];
                std::snprintf(text, sizeof text, " %s %.0f/%.0f/%.0f", vowel.c_str(), formants[0],
                              formants[1], formants[2]);
                found += text;
                for (std::size_t i = 0; i < 3; ++i) {
                    EXPECT_GT(formants[i], 0.0) << "F" << i + 1 << " missing:" << found;
                    sum[i] += std::abs(formants[i] - recipe.formantsHz[i]);
                }
            }
            for (std::size_t i = 0; i < 3; ++i) {
                const double mae = sum[i] / static_cast<double>(vowels.size());
                EXPECT_LE(mae, group.maeHz[i])
                    << corpus::speakerName(group.speaker) << " F0 " << group.f0Hz << " at " << rate
                    << " Hz, ceiling " << ceiling << " Hz, F" << i + 1 << "; found" << found;
            }
        }
    }
}

// The classic analysis keeps its character: a guard against it getting worse
// at any rate (mean absolute error of the formants it finds, and how many of
// F1 … F3 it misses), with headroom over what it does on the same vowels.
TEST(ClassicFormants, CorpusSubsetStaysWithinItsErrorsAtEveryRate)
{
    const std::vector<std::string> vowels = {"iy", "aa", "uw", "er"};
    struct RateLimits {
        double rateHz;
        std::array<double, 3> maeHz;
        int missing;
    };
    const RateLimits limits[] = {
        // It errs by 348 / 178 / 113 Hz at 10 kHz (one missing), 186 / 52 / 73
        // at 16 kHz, 187 / 53 / 95 at 22.05 kHz and 242 / 234 / 147 at 44.1 kHz
        // (12 of the 48 missing) on these vowels.
        {10000.0, {490.0, 250.0, 160.0}, 3},
        {16000.0, {260.0, 75.0, 105.0}, 2},
        {22050.0, {260.0, 75.0, 135.0}, 2},
        {44100.0, {340.0, 330.0, 210.0}, 16},
    };
    for (const RateLimits& limit : limits) {
        std::array<double, 3> sum{};
        std::array<int, 3> found{};
        int missing = 0;
        for (const Speaker speaker : {Speaker::Man, Speaker::Woman}) {
            for (const double f0 : {100.0, 200.0}) {
                for (const std::string& vowel : vowels) {
                    const corpus::VowelRecipe recipe =
                        corpus::vowelRecipe(vowel, speaker, f0, limit.rateHz);
                    const std::array<double, 3> formants = formantsAt250Ms(recipe);
                    for (std::size_t i = 0; i < 3; ++i) {
                        if (formants[i] > 0.0) {
                            sum[i] += std::abs(formants[i] - recipe.formantsHz[i]);
                            ++found[i];
                        } else {
                            ++missing;
                        }
                    }
                }
            }
        }
        EXPECT_LE(missing, limit.missing) << limit.rateHz << " Hz";
        for (std::size_t i = 0; i < 3; ++i) {
            ASSERT_GT(found[i], 0) << limit.rateHz << " Hz, F" << i + 1;
            EXPECT_LE(sum[i] / found[i], limit.maeHz[i]) << limit.rateHz << " Hz, F" << i + 1;
        }
    }
}

} // namespace
} // namespace phonaxis
