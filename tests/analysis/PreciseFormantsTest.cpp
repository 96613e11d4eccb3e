#include "analysis/PreciseFormants.h"

#include "VowelCorpus.h"
#include "document/AppSettings.h"
#include "document/MyDocument.h"
#include "support/ChannelFixtures.h"
#include "support/ScriptedPrompts.h"
#include "windows/SpectrogramAnalysis.h"
#include "windows/SpectrumAnalysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace phonaxis {
namespace {

using Complex = std::complex<double>;
constexpr double kPi = std::numbers::pi;

struct Pole {
    double frequencyHz;
    double bandwidthHz;
};

Complex rootOf(Pole pole, double rateHz)
{
    return std::polar(std::exp(-kPi * pole.bandwidthHz / rateHz),
                      2.0 * kPi * pole.frequencyHz / rateHz);
}

// The roots of a predictor with a conjugate pair for each pole and the
// given real roots.
std::vector<Complex> rootsOf(const std::vector<Pole>& poles, double rateHz,
                             const std::vector<double>& realRoots = {})
{
    std::vector<Complex> roots;
    for (const Pole& pole : poles) {
        roots.push_back(rootOf(pole, rateHz));
        roots.push_back(std::conj(roots.back()));
    }
    roots.insert(roots.end(), realRoots.begin(), realRoots.end());
    return roots;
}

// The monic polynomial with these roots (conjugates paired), c[0] = 1.
std::vector<double> monic(const std::vector<Complex>& roots)
{
    std::vector<Complex> c{1.0};
    for (const Complex r : roots) {
        c.push_back(0.0);
        for (std::size_t i = c.size() - 1; i > 0; --i) {
            c[i] -= r * c[i - 1];
        }
    }
    std::vector<double> real;
    for (const Complex v : c) {
        real.push_back(v.real());
    }
    return real;
}

double distanceToNearest(Complex z, const std::vector<Complex>& roots)
{
    double nearest = std::numeric_limits<double>::infinity();
    for (const Complex r : roots) {
        nearest = std::min(nearest, std::abs(z - r));
    }
    return nearest;
}

TEST(PreciseFormants, RootsOfPredictorsAreFoundOnceEachToFullPrecision)
{
    const struct {
        const char* name;
        std::vector<Pole> poles;
        std::vector<double> realRoots;
    } cases[] = {
        {"five formants", {{500, 60}, {1500, 90}, {2500, 120}, {3500, 200}, {4500, 300}}, {}},
        {"two narrow formants 30 Hz apart",
         {{1000, 20}, {1030, 20}, {2500, 100}, {3500, 150}},
         {0.3}},
        {"broad low F1, a pole at 30 Hz, real roots",
         {{300, 400}, {30, 80}, {2300, 100}, {3000, 150}},
         {0.9, -0.5}},
        // A predictor whose last coefficient is 0 (an order above what the
        // frame needs) has a root at the origin.
        {"a root at the origin", {{700, 80}, {1200, 90}, {2600, 120}}, {0.0}},
        {"order 20",
         {{200, 50},
          {700, 60},
          {1200, 70},
          {1700, 80},
          {2200, 90},
          {2700, 100},
          {3200, 120},
          {3700, 140},
          {4200, 160},
          {4700, 180}},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<Complex> truth = rootsOf(c.poles, 10000.0, c.realRoots);
        const std::vector<double> coefficients = monic(truth);
        std::vector<Complex> found(truth.size());
        ASSERT_TRUE(precise::polynomialRoots(coefficients, found));
        // Each true root has a found root at it, and no found root serves two.
        for (const Complex r : truth) {
            EXPECT_LT(distanceToNearest(r, found), 1e-9) << r;
        }
        for (const Complex f : found) {
            EXPECT_LT(distanceToNearest(f, truth), 1e-9) << f;
        }
    }
    std::vector<Complex> two(2);
    EXPECT_FALSE(precise::polynomialRoots(std::vector<double>{1.0, NAN, 0.5}, two));
    EXPECT_FALSE(precise::polynomialRoots(std::vector<double>{2.0, 1.0, 0.5}, two));
}

TEST(PreciseFormants, PolishingSharpensRootsButNeverCarriesOneOntoItsNeighbour)
{
    // Two formants 40 Hz apart: plain Newton steps from an estimate of the
    // upper one that lies towards the lower one can converge onto the lower
    // one, and the upper formant would be lost.
    const double rate = 10000.0;
    const std::vector<Complex> truth = rootsOf({{1000, 30}, {1040, 30}, {2500, 100}}, rate);
    const std::vector<double> coefficients = monic(truth);
    const Complex lower = truth[0];
    const Complex upper = truth[2];
    const Complex toLower = lower - upper;
    const auto polishFrom = [&](Complex start) {
        std::vector<Complex> estimates = truth;
        for (Complex& e : estimates) {
            e += Complex(3e-7, -2e-7); // slightly off: polishing brings them back
        }
        estimates[2] = start;
        estimates[3] = std::conj(start);
        precise::polishRoots(coefficients, estimates);
        EXPECT_LT(std::abs(estimates[0] - lower), 1e-12);
        EXPECT_LT(std::abs(estimates[4] - truth[4]), 1e-12);
        return estimates;
    };
    // Starts of the upper estimate anywhere around the pair: it never ends
    // nearer the lower one's estimate than half the distance it started at.
    int nearerThanHalf = 0;
    for (int i = -15; i <= 25; ++i) {
        for (int j = -15; j <= 15; ++j) {
            const Complex start = upper + toLower * Complex(0.1 * i, 0.1 * j);
            const double gap = std::abs(start - lower);
            if (gap > 1e-6) {
                const std::vector<Complex> polished = polishFrom(start);
                nearerThanHalf += std::abs(polished[2] - polished[0]) <= 0.5 * gap;
            }
        }
    }
    EXPECT_EQ(nearerThanHalf, 0);
    // Starts on the far side of the upper root, up to a gap away, and just
    // short of it are sharpened onto it, a thousand times nearer at least.
    for (const double f : {-1.0, -0.6, -0.3, 0.15}) {
        SCOPED_TRACE(testing::Message() << "start " << f << " of the way to the lower root");
        const Complex start = upper + f * toLower;
        EXPECT_LT(std::abs(polishFrom(start)[2] - upper), 1e-3 * std::abs(start - upper));
    }
}

TEST(PreciseFormants, FormantsTakeAscendingSlotsAndPolesBroaderThanAFormantTakeNone)
{
    const double rate = 10000.0;
    const struct {
        const char* name;
        std::vector<Complex> roots;
        std::vector<Pole> expected;
    } cases[] = {
        // A broad low F1 (F < 2·B) stays F1: F2 does not move into its slot.
        {"broad F1",
         rootsOf({{3000, 150}, {300, 400}, {2300, 100}}, rate),
         {{300, 400}, {2300, 100}, {3000, 150}}},
        // A pole broader than 1 kHz is the model's spare (spectral
        // tilt, or a ceiling above the voice's formants), not a formant: it
        // takes no slot, so F2 stays F2.
        {"spare broad pole",
         rootsOf({{860, 50}, {1400, 2600}, {2050, 80}, {2850, 140}, {3300, 1100}}, rate),
         {{860, 50}, {2050, 80}, {2850, 140}}},
        // Poles below 50 Hz or above the ceiling − 50 Hz, and real roots,
        // are no formants and take no slot.
        {"outside the band",
         rootsOf({{30, 80}, {700, 80}, {4980, 200}, {1200, 90}}, rate, {0.95, -0.7}),
         {{700, 80}, {1200, 90}}},
        // A root outside the unit circle counts as its reflection inside.
        {"outside the circle",
         {std::polar(1.02, 2.0 * kPi * 0.1), std::polar(1.02, -2.0 * kPi * 0.1)},
         {{1000, std::log(1.02) * rate / kPi}}},
        {"the lowest five",
         rootsOf({{600, 60}, {500, 50}, {4000, 100}, {3000, 90}, {2000, 80}, {1000, 70}}, rate),
         {{500, 50}, {600, 60}, {1000, 70}, {2000, 80}, {3000, 90}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PreciseFormantSet set = precise::formantsFromRoots(c.roots, rate, 50.0, 4950.0);
        ASSERT_EQ(set.count, static_cast<int>(c.expected.size()));
        for (std::size_t i = 0; i < c.expected.size(); ++i) {
            EXPECT_NEAR(set.frequencyHz[i], c.expected[i].frequencyHz, 1e-6) << "F" << i + 1;
            EXPECT_NEAR(set.bandwidthHz[i], c.expected[i].bandwidthHz, 1e-6) << "B" << i + 1;
        }
    }
}

TEST(PreciseFormants, SilenceAndUnusableSettingsGiveNoFormants)
{
    const std::vector<double> silence(4000, 0.0);
    PreciseFormants analysis(16000.0, 5000.0);
    ASSERT_TRUE(analysis.usable());
    EXPECT_EQ(analysis.analyse(std::span<const double>(silence), 0, 2000.0).count, 0);
    EXPECT_EQ(analysis.analyse(std::span<const double>(silence), 0, NAN).count, 0);
    for (const auto& [rate, ceiling] : {std::pair{16000.0, NAN},
                                        {16000.0, 0.0},
                                        {NAN, 5000.0},
                                        {500.0, 5000.0},
                                        {2e6, 5000.0},
                                        {INFINITY, 5000.0}}) {
        EXPECT_FALSE(PreciseFormants::accepts(rate, ceiling)) << rate << " " << ceiling;
        EXPECT_FALSE(PreciseFormants(rate, ceiling).usable());
    }
    // The spectrum declines a precise analysis it cannot make.
    const std::vector<float> tone(8000, 0.25f);
    SpectrumParameters parameters;
    parameters.m_bPreciseAnalysis = true;
    parameters.m_dFormantCeiling = NAN;
    SpectrumAnalysis spectrum;
    EXPECT_EQ(spectrum.PerformFFTLPC(tone, 100.0, 100.0, 8000.0, 16000.0, parameters),
              SpectrumStart::Declined);
}

// A channel at 8 kHz analysed with a 5 kHz ceiling is modelled with the
// poles of the four formants its band can hold, as a 10 kHz channel is with
// five: F1 to F3 of the corpus's vowels, both voices at both pitches, keep
// their accuracy (with a pole pair more, spare formants fall between them
// and F2 and F3 miss by 7 % on average).
TEST(PreciseFormants, AChannelBelowTwiceTheCeilingKeepsItsFormantsAccuracy)
{
    const double rate = 8000.0;
    PreciseFormants analysis(rate, 5000.0);
    ASSERT_TRUE(analysis.usable());
    EXPECT_EQ(analysis.ceilingHz(), 4000.0);
    std::array<double, 3> meanError{};
    int frames = 0;
    for (const corpus::Speaker speaker : {corpus::Speaker::Man, corpus::Speaker::Woman}) {
        for (const std::string& vowel : corpus::corpusVowels()) {
            for (const double f0 : {100.0, 200.0}) {
                const corpus::VowelRecipe truth = corpus::vowelRecipe(vowel, speaker, f0, rate);
                const std::vector<double> samples = corpus::synthesiseVowel(truth);
                for (const double at : {0.3, 0.5, 0.7}) {
                    const PreciseFormantSet set =
                        analysis.analyse(std::span<const double>(samples), 0, at * samples.size());
                    ++frames;
                    for (int i = 0; i < 3; ++i) {
                        meanError[i] +=
                            i < set.count ? std::abs(set.frequencyHz[i] / truth.formantsHz[i] - 1.0)
                                          : 1.0;
                    }
                }
            }
        }
    }
    EXPECT_LT(meanError[0] / frames, 0.06);
    EXPECT_LT(meanError[1] / frames, 0.03);
    EXPECT_LT(meanError[2] / frames, 0.03);
}

// Two vowels of 500 ms each, one after the other.
std::vector<float> twoVowels(const std::string& first, const std::string& second, double rateHz)
{
    std::vector<float> samples;
    for (const std::string& vowel : {first, second}) {
        const std::vector<double> v = corpus::synthesiseVowel(
            corpus::vowelRecipe(vowel, corpus::Speaker::Woman, 100.0, rateHz));
        samples.insert(samples.end(), v.begin(), v.end());
    }
    return samples;
}

void expectFormantsOf(const std::string& vowel, std::span<const double> found)
{
    const corpus::VowelRecipe truth =
        corpus::vowelRecipe(vowel, corpus::Speaker::Woman, 100.0, 16000.0);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_NEAR(found[i], truth.formantsHz[i], 0.1 * truth.formantsHz[i])
            << vowel << " F" << i + 1;
    }
}

TEST(PreciseFormants, SpectrumFormantsDescribeTheMiddleOfTheStretch)
{
    const double rate = 16000.0;
    const std::vector<float> samples = twoVowels("aa", "iy", rate);
    SpectrumParameters parameters;
    parameters.m_bPreciseAnalysis = true;
    parameters.m_dFormantCeiling = 5500.0;
    const struct {
        double fromMs;
        double toMs;
        const char* vowel;
    } cases[] = {{250, 250, "aa"}, {750, 750, "iy"}, {400, 1000, "iy"}, {0, 560, "aa"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.fromMs) + " to " + std::to_string(c.toMs));
        SpectrumAnalysis spectrum;
        ASSERT_EQ(spectrum.PerformFFTLPC(samples, c.fromMs * rate / 1000.0, c.toMs * rate / 1000.0,
                                         static_cast<double>(samples.size()), rate, parameters),
                  SpectrumStart::Computed);
        expectFormantsOf(c.vowel, std::span<const double>(spectrum.m_dFormat).first(3));
    }
}

// The precise tracks of a document's spectrogram over a selection: each
// column's formants are those of its middle, the snapshot holds every
// sample they read, those before the selection too (its tracks equal those
// computed on the whole channel), and the thread count changes nothing.
TEST(PreciseFormants, SpectrogramTracksFollowTheVowelsFromTheSnapshotOnAnyThreadCount)
{
    const double rate = 16000.0;
    std::vector<float> samples = twoVowels("aa", "iy", rate);
    // Louder before the selection: the first column's analysis reaches
    // back there, and must see those samples as they are.
    std::transform(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(0.2 * rate),
                   samples.begin(), [](float v) { return 30.0f * v; });
    test::ScriptedPrompts prompts;
    AppSettings settings;
    MyDocument doc{prompts, settings};
    doc.m_nNumofChannels = 1;
    test::loadChannel(doc.getChannel(0), samples, rate);
    Channels& audio = doc.getChannel(0);
    audio.m_nChannelType = 1;
    audio.m_dDurationStartFile = 0.2 * rate, audio.m_dDurationStopFile = 1.0 * rate;
    audio.m_dDurationStartTime = 200.0, audio.m_dDurationStopTime = 1000.0;
    doc.m_bSpecDrawFormantTracking = true;
    doc.m_bPreciseAnalysis = true;
    doc.m_dFormantCeiling = 5500.0;

    const int columns = 20;
    const SpectrogramInput snapshot = SpectrogramInput::fromDocument(doc, true, columns, 64);
    SpectrogramInput everything = snapshot;
    everything.samples = samples;
    everything.offset = 0.0;
    everything.runs.clear();

    const SpectrogramResult one = DoSpectrogram(snapshot, nullptr, 1);
    ASSERT_TRUE(one.m_bHaveFormants);
    EXPECT_EQ(one.formants, DoSpectrogram(snapshot, nullptr, 2).formants);
    EXPECT_EQ(one.formants, DoSpectrogram(everything, nullptr, 1).formants);
    for (int c = 0; c < columns; ++c) {
        const double middleMs = 200.0 + (c + 0.5) * 800.0 / columns;
        if (std::abs(middleMs - 500.0) < 100.0 || middleMs > 900.0) {
            continue; // the change of vowel and the ramps at the ends
        }
        SCOPED_TRACE("column " + std::to_string(c));
        const FormantRecord& record = one.formants[static_cast<std::size_t>(c)];
        const std::vector<double> found(record.begin(), record.begin() + 3);
        expectFormantsOf(middleMs < 500.0 ? "aa" : "iy", found);
    }
}

// A hard vowel: the corpus's glottal source with its tilt and the
// resonances above F5, two vowels one after the other, with white noise
// 35 dB below the voice, at `rateHz`.
std::vector<float> noisyVowels(double rateHz)
{
    std::vector<float> samples = twoVowels("ae", "uw", rateHz);
    std::mt19937 generator(7);
    std::normal_distribution<double> noise(0.0, 0.5 * std::pow(10.0, -35.0 / 20.0));
    for (float& v : samples) {
        v = static_cast<float>(v + noise(generator));
    }
    return samples;
}

bool sameSet(const PreciseFormantSet& a, const PreciseFormantSet& b)
{
    return a.count == b.count && a.frequencyHz == b.frequencyHz && a.bandwidthHz == b.bandwidthHz;
}

// A run of analyses resamples each sample once, yet gives every analysis
// exactly what it gives alone, from float or double samples, from the whole
// channel or from a stretch holding what the analysis reads, whatever the
// order of the centres: at rates whose low-pass is tabulated by phase, at a
// rate that is no whole number (computed per sample) and at one analysed
// as it is.
TEST(PreciseFormants, ARunOfAnalysesGivesEachAnalysisExactlyWhatItGivesAlone)
{
    struct Case {
        double rateHz, ceilingHz, stepSamples;
    };
    for (const Case c :
         {Case{44100.0, 5000.0, 441.0}, Case{44100.0, 5500.0, 323.7}, Case{22050.0, 5500.0, 97.3},
          Case{16000.0, 5000.0, 160.0}, Case{11025.0, 5000.0, 50.5}, Case{48000.0, 5000.0, 333.0},
          Case{44100.5, 5000.0, 441.0}, Case{8000.0, 5000.0, 80.0}}) {
        SCOPED_TRACE(std::to_string(c.rateHz) + " Hz, ceiling " + std::to_string(c.ceilingHz) +
                     ", step " + std::to_string(c.stepSamples));
        const std::vector<float> samples = noisyVowels(c.rateHz);
        const std::vector<double> widened(samples.begin(), samples.end());
        PreciseFormants run(c.rateHz, c.ceilingHz);
        ASSERT_TRUE(run.usable());
        const std::int64_t reach = run.reach();
        // Rising centres through both vowels, one jump back, and rising again.
        std::vector<double> centres;
        for (double at = 0.3 * c.rateHz; at < 0.7 * c.rateHz; at += c.stepSamples) {
            centres.push_back(at);
        }
        centres.push_back(0.31 * c.rateHz);
        centres.push_back(0.31 * c.rateHz + c.stepSamples);
        int found = 0;
        for (const double centre : centres) {
            const std::span<const float> all(samples);
            const PreciseFormantSet inRun = run.analyseNext(all, 0, centre);
            const double runLevel = run.levelDb(all, 0, centre);
            PreciseFormants alone(c.rateHz, c.ceilingHz);
            const PreciseFormantSet single = alone.analyse(all, 0, centre);
            ASSERT_TRUE(sameSet(inRun, single)) << centre;
            EXPECT_EQ(runLevel, alone.levelDb(all, 0, centre));
            EXPECT_TRUE(
                sameSet(single, alone.analyse(std::span<const double>(widened), 0, centre)));
            // Exactly the neighbourhood centre ± reach(), addressed by channel index.
            const auto first = static_cast<std::int64_t>(std::floor(centre)) - reach;
            const std::span<const float> stretch(samples.data() + first,
                                                 static_cast<std::size_t>(2 * reach + 1));
            EXPECT_TRUE(sameSet(single, alone.analyse(stretch, first, centre)));
            found += single.count >= 3 ? 1 : 0;
        }
        EXPECT_GT(found, static_cast<int>(centres.size()) * 9 / 10);
    }
}

// The wide resampling kernel, where the processor has one, gives the bits
// the portable kernel gives (each sum in the same order): the same
// formants, bandwidths and frames at the rates whose low-pass is tabulated
// (44.1, 48, 22.05 and 16 kHz to twice a 5 kHz or 5.5 kHz ceiling), from
// float and double samples, in a run and alone, near the channel's ends
// (where a grid sample's taps reach past the samples) as well as inside.
TEST(PreciseFormants, TheWideResamplingKernelGivesThePortableKernelsBits)
{
    struct Case {
        double rateHz, ceilingHz;
    };
    for (const Case c : {Case{44100.0, 5000.0}, Case{48000.0, 5000.0}, Case{22050.0, 5500.0},
                         Case{16000.0, 5000.0}, Case{44100.0, 5500.0}}) {
        SCOPED_TRACE(std::to_string(c.rateHz) + " Hz, ceiling " + std::to_string(c.ceilingHz));
        const std::vector<float> samples = noisyVowels(c.rateHz);
        const std::vector<double> widened(samples.begin(), samples.end());
        PreciseFormants wide(c.rateHz, c.ceilingHz);
        PreciseFormants portable(c.rateHz, c.ceilingHz);
        portable.setWideKernels(false);
        const double last = static_cast<double>(samples.size()) - 1.0;
        std::vector<double> centres = {0.0, 3.7, last - 2.2, last};
        for (double at = 0.2 * c.rateHz; at < 0.8 * c.rateHz; at += 0.0137 * c.rateHz) {
            centres.push_back(at);
        }
        int found = 0;
        for (const double centre : centres) {
            const PreciseFormantSet a =
                wide.analyseNext(std::span<const float>(samples), 0, centre);
            const PreciseFormantSet b =
                portable.analyse(std::span<const float>(samples), 0, centre);
            ASSERT_TRUE(sameSet(a, b)) << centre;
            ASSERT_TRUE(sameSet(wide.analyse(std::span<const double>(widened), 0, centre),
                                portable.analyse(std::span<const double>(widened), 0, centre)))
                << centre;
            for (const double hz : {300.0, 1200.0, 2500.0}) {
                const double e1 = wide.envelopeDb(hz);
                const double e2 = portable.envelopeDb(hz);
                EXPECT_TRUE(e1 == e2 || (std::isnan(e1) && std::isnan(e2))) << centre << " " << hz;
            }
            found += a.count >= 3 ? 1 : 0;
        }
        EXPECT_GT(found, static_cast<int>(centres.size()) / 2);
    }
}

// Resampling once means analysing on a grid fixed to the channel: a centre
// between grid samples is analysed by the window whose middle lies nearest,
// at most half an analysis sample away. On hard vowels that half sample
// moves F1 … F3 by far less than the analysis errs: the formants of
// windows a whole analysis sample apart differ by under 0.5 %.
TEST(PreciseFormants, CentresBetweenGridSamplesAreAnalysedByTheNearestWindow)
{
    for (const double rate : {44100.0, 22050.0, 16000.0}) {
        SCOPED_TRACE(std::to_string(rate) + " Hz");
        const std::vector<float> samples = noisyVowels(rate);
        PreciseFormants analysis(rate, 5500.0);
        const double perGrid = rate / 11000.0; // channel samples per analysis sample
        int compared = 0;
        for (double g = 0.1 * 11000.0; g < 0.9 * 11000.0; g += 257.0) {
            if (std::abs(g - 5500.0) < 1500.0) {
                continue; // the change of vowel
            }
            // Window middles fall on channel positions g·r.
            const double onGrid = g * perGrid;
            const std::span<const float> all(samples);
            const PreciseFormantSet exact = analysis.analyse(all, 0, onGrid);
            const PreciseFormantSet next = analysis.analyse(all, 0, onGrid + perGrid);
            for (const double offset : {-0.49, -0.25, 0.25, 0.49}) {
                EXPECT_TRUE(sameSet(exact, analysis.analyse(all, 0, onGrid + offset * perGrid)))
                    << g << " " << offset;
            }
            ASSERT_GE(exact.count, 3);
            ASSERT_GE(next.count, 3);
            for (std::size_t i = 0; i < 3; ++i) {
                EXPECT_NEAR(next.frequencyHz[i], exact.frequencyHz[i], 0.005 * exact.frequencyHz[i])
                    << "F" << i + 1 << " at grid sample " << g;
            }
            ++compared;
        }
        EXPECT_GE(compared, 20);
    }
}

} // namespace
} // namespace phonaxis
