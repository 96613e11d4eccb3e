#include "windows/FormantTrack.h"

#include "Signals.h"
#include "VowelCorpus.h"
#include "windows/SpectrogramAnalysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace phonaxis {
namespace {

constexpr double kRate = 22050.0;

std::vector<FormantTrackRow> track(std::span<const float> samples, double rateHz,
                                   FormantTrackParameters parameters, double fromMs, double toMs,
                                   double stepMs = 10.0, int threads = 0, int blockRows = 2048)
{
    FormantTrackInput input;
    input.samples = samples;
    input.sampleRate = rateHz;
    input.stepMs = stepMs;
    input.fromMs = fromMs;
    input.toMs = toMs;
    input.parameters = parameters;
    std::vector<FormantTrackRow> rows;
    const FormantTrackEnd end = DoFormantTrack(
        input,
        [&](std::span<const FormantTrackRow> block) {
            rows.insert(rows.end(), block.begin(), block.end());
            return true;
        },
        nullptr, threads, blockRows);
    EXPECT_EQ(end, FormantTrackEnd::Done);
    return rows;
}

FormantTrackParameters mode(bool precise, double rateHz)
{
    FormantTrackParameters parameters;
    parameters.m_bPreciseAnalysis = precise;
    parameters.m_nLPCCoefficients = (static_cast<int>(rateHz / 1000) + 4) / 2 * 2;
    return parameters;
}

bool sameRow(const FormantTrackRow& a, const FormantTrackRow& b)
{
    return a.timeMs == b.timeMs && a.frequencyHz == b.frequencyHz && a.bandwidthHz == b.bandwidthHz;
}

// The a-i-u sequence with its voiced part at −20 dBFS (mean square re full
// scale), followed by `tailMs` of silence or of a full-scale 1 kHz beep.
struct Sentence {
    signals::VowelSequence sequence;
    std::vector<float> samples;
    double speechMs = 0.0;
};

Sentence sentence(double tailMs, bool beep)
{
    Sentence s{signals::vowelSequence(kRate, 3500.0), {}, 3500.0};
    double sum = 0.0;
    std::size_t voiced = 0;
    for (std::size_t i = 0; i < s.sequence.audio.size(); ++i) {
        const double t = static_cast<double>(i) * 1000.0 / kRate;
        if (t >= s.sequence.voicingStartMs && t < s.sequence.voicingEndMs) {
            sum += double(s.sequence.audio[i]) * s.sequence.audio[i];
            ++voiced;
        }
    }
    const double gain = std::pow(10.0, -20.0 / 20.0) / std::sqrt(sum / double(voiced));
    for (const float v : s.sequence.audio) {
        s.samples.push_back(static_cast<float>(v * gain));
    }
    const auto tail = static_cast<std::size_t>(tailMs * kRate / 1000.0);
    for (std::size_t i = 0; i < tail; ++i) {
        s.samples.push_back(
            beep ? static_cast<float>(std::sin(2.0 * std::numbers::pi * 1000.0 * double(i) / kRate))
                 : 0.0f);
    }
    return s;
}

SpectrogramInput spectrogramOf(std::span<const float> samples, int columns, bool precise)
{
    SpectrogramInput input;
    input.samples.assign(samples.begin(), samples.end());
    input.fileLength = input.endPoint = static_cast<double>(samples.size());
    input.sampleRate = kRate;
    input.stopTime = input.endPoint * 1000.0 / kRate;
    input.columns = columns;
    input.rows = 64;
    input.parameters.m_nFreqRange = 11000;
    input.parameters.m_nLPCCoefficients = 26;
    input.parameters.m_bPreciseAnalysis = precise;
    return input;
}

// A full-scale beep after the speech takes no formant from it, in the
// spectrogram and the formant track of either mode: a column or row whose
// frames lie before the beep is exactly what it is without the beep.
TEST(FormantTrack, LoudBeepAfterTheSpeechChangesNoFormants)
{
    const Sentence quiet = sentence(50.0, false);
    const Sentence loud = sentence(50.0, true);
    ASSERT_EQ(quiet.samples.size(), loud.samples.size());
    // Windows reach at most 25 ms (precise) either side; keep 40 ms away.
    const double clearMs = quiet.speechMs - 40.0;
    for (const bool precise : {false, true}) {
        SCOPED_TRACE(precise ? "precise" : "classic");
        const auto without = track(quiet.samples, kRate, mode(precise, kRate), 0.0, clearMs);
        const auto with = track(loud.samples, kRate, mode(precise, kRate), 0.0, clearMs);
        ASSERT_EQ(with.size(), without.size());
        int voicedWithF1 = 0;
        for (std::size_t i = 0; i < with.size(); ++i) {
            EXPECT_TRUE(sameRow(with[i], without[i])) << with[i].timeMs;
            const double t = with[i].timeMs;
            if (t > quiet.sequence.voicingStartMs + 30.0 &&
                t < quiet.sequence.voicingEndMs - 30.0) {
                voicedWithF1 += with[i].frequencyHz[0] > 0.0;
            }
        }
        EXPECT_GE(voicedWithF1, 290); // every voiced row (294)

        const int columns = 700; // a column every 5.07 ms
        const SpectrogramResult a =
            DoSpectrogram(spectrogramOf(quiet.samples, columns, precise), nullptr);
        const SpectrogramResult b =
            DoSpectrogram(spectrogramOf(loud.samples, columns, precise), nullptr);
        ASSERT_TRUE(a.m_bHaveSpectrogram && b.m_bHaveSpectrogram);
        int withFormants = 0;
        const double msPerColumn =
            a.columns > 0 ? (quiet.samples.size() * 1000.0 / kRate) / columns : 0.0;
        for (int c = 0; c < columns; ++c) {
            if (c * msPerColumn + 40.0 > clearMs) {
                break;
            }
            EXPECT_EQ(a.formants[std::size_t(c)], b.formants[std::size_t(c)]) << c;
            withFormants += b.formants[std::size_t(c)][0] > 0;
        }
        EXPECT_GT(withFormants, 550); // voiced columns keep their formants (was 0)
    }
}

// Rows are timed on a grid anchored at 0 ms: any stretch gives exactly the
// rows of the whole that fall inside it, whatever the threads and blocks.
TEST(FormantTrack, StretchesGiveExactlyTheRowsOfTheWhole)
{
    const Sentence s = sentence(0.0, false);
    const double lengthMs = s.samples.size() * 1000.0 / kRate;
    for (const bool precise : {false, true}) {
        SCOPED_TRACE(precise ? "precise" : "classic");
        const auto whole = track(s.samples, kRate, mode(precise, kRate), 0.0, lengthMs, 7.5);
        ASSERT_EQ(whole.size(), 467u); // 0, 7.5, … 3495 ms
        std::vector<FormantTrackRow> joined;
        const double cuts[] = {0.0, 700.0, 1911.25, 1912.0, lengthMs};
        for (std::size_t i = 0; i + 1 < std::size(cuts); ++i) {
            const auto piece = track(s.samples, kRate, mode(precise, kRate), cuts[i], cuts[i + 1],
                                     7.5, static_cast<int>(i % 3), 1 + 37 * static_cast<int>(i));
            joined.insert(joined.end(), piece.begin(), piece.end());
        }
        ASSERT_EQ(joined.size(), whole.size());
        for (std::size_t i = 0; i < whole.size(); ++i) {
            EXPECT_DOUBLE_EQ(whole[i].timeMs, 7.5 * double(i));
            EXPECT_TRUE(sameRow(joined[i], whole[i])) << whole[i].timeMs;
        }
    }
}

// Each thread resamples its own rows' neighbourhood once; the rows are the
// same whatever the threads and blocks share out, at a step on the samples
// and one between them, in both modes, on a noisy sentence.
TEST(FormantTrack, RowsDoNotDependOnThreadsOrBlocks)
{
    Sentence s = sentence(0.0, false);
    std::mt19937 generator(3);
    std::normal_distribution<double> noise(0.0, 0.003);
    for (float& v : s.samples) {
        v = static_cast<float>(v + noise(generator));
    }
    for (const bool precise : {false, true}) {
        for (const double step : {10.0, 7.33}) {
            SCOPED_TRACE(std::string(precise ? "precise" : "classic") + " step " +
                         std::to_string(step));
            const auto reference =
                track(s.samples, kRate, mode(precise, kRate), 0.0, 3500.0, step, 1);
            ASSERT_GT(reference.size(), 300u);
            for (const auto& [threads, block] :
                 {std::pair{2, 2048}, {3, 1}, {2, 7}, {7, 64}, {0, 100}}) {
                const auto rows = track(s.samples, kRate, mode(precise, kRate), 0.0, 3500.0, step,
                                        threads, block);
                ASSERT_EQ(rows.size(), reference.size());
                for (std::size_t i = 0; i < rows.size(); ++i) {
                    ASSERT_TRUE(sameRow(rows[i], reference[i]))
                        << threads << " threads, blocks of " << block << ", row " << i;
                }
            }
        }
    }
}

// A spectrogram of a piece makes the same gate decisions (and finds the same
// formants) as the whole in the columns they share, however loud the rest.
TEST(FormantTrack, SpectrogramPieceKeepsTheGateDecisionsOfTheWhole)
{
    Sentence s = sentence(0.0, false);
    // 3500 ms at 22,050 Hz is 77,175 samples: 1029 columns 75 samples apart.
    ASSERT_EQ(s.samples.size(), 77175u);
    for (std::size_t i = 74000; i < 75000; ++i) { // a full-scale beep near the end
        s.samples[i] = static_cast<float>(std::sin(0.3 * double(i)));
    }
    for (const bool precise : {false, true}) {
        SCOPED_TRACE(precise ? "precise" : "classic");
        const SpectrogramResult whole =
            DoSpectrogram(spectrogramOf(s.samples, 1029, precise), nullptr);
        SpectrogramInput piece = spectrogramOf(s.samples, 500, precise);
        piece.startPoint = 300 * 75.0;
        piece.endPoint = 800 * 75.0;
        piece.startTime = piece.startPoint * 1000.0 / kRate;
        piece.stopTime = piece.endPoint * 1000.0 / kRate;
        const SpectrogramResult part = DoSpectrogram(piece, nullptr);
        ASSERT_TRUE(whole.m_bHaveSpectrogram && part.m_bHaveSpectrogram);
        int kept = 0;
        for (int c = 0; c < 500; ++c) {
            EXPECT_EQ(part.formants[std::size_t(c)], whole.formants[std::size_t(300 + c)]) << c;
            kept += part.formants[std::size_t(c)][0] > 0;
        }
        EXPECT_EQ(kept, 500); // all voiced
    }
}

// Each row describes its window's centre: during the vowel glides the
// track's F2 is nearer the truth at the row time than at the row time ±
// half a window, in both modes.
TEST(FormantTrack, RowsAreTimedAtTheAnalysisWindowsCentre)
{
    const Sentence s = sentence(0.0, false);
    for (const bool precise : {false, true}) {
        SCOPED_TRACE(precise ? "precise" : "classic");
        const FormantTrackParameters parameters = mode(precise, kRate);
        // Half the window: 25 ms precise (its Gaussian's full length is 50),
        // W/2 = 22 × 26 / 2 samples classic.
        const double halfMs = precise ? 25.0 : 22.0 * 26.0 / 2.0 / kRate * 1000.0;
        const auto rows = track(s.samples, kRate, parameters, 0.0, 3500.0, 2.0);
        std::array<double, 3> error{};
        int glideRows = 0;
        for (const FormantTrackRow& row : rows) {
            const double t = row.timeMs;
            const bool gliding = std::any_of(
                s.sequence.steady.begin() + 1, s.sequence.steady.end(), [&](const auto& vowel) {
                    return t > vowel.startMs - 150.0 && t < vowel.startMs - 30.0;
                });
            if (!gliding || row.frequencyHz[1] <= 0.0) {
                continue;
            }
            ++glideRows;
            const double shifts[] = {-halfMs, 0.0, halfMs};
            for (std::size_t k = 0; k < 3; ++k) {
                const double truth = s.sequence.formantsAtMs(t + shifts[k])[1].frequencyHz;
                error[k] += std::abs(row.frequencyHz[1] - truth);
            }
        }
        ASSERT_GT(glideRows, 80);
        EXPECT_LT(error[1], error[0]);
        EXPECT_LT(error[1], error[2]);
    }
}

// A frame is gated on its own level: a 1 kHz tone (with faint noise, so the
// prediction is well posed) at a known level keeps its formant with the
// gate 0.3 dB below that level and loses it 0.3 dB above, in the track and
// the spectrogram of either mode; digital silence never has formants.
TEST(FormantTrack, GateSitsAtTheFramesAbsoluteLevel)
{
    constexpr double kAmplitude = 0.01;
    const double levelDb = 20.0 * std::log10(kAmplitude) - 10.0 * std::log10(2.0);
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, kAmplitude * 1e-3);
    std::vector<float> samples(static_cast<std::size_t>(kRate * 0.3), 0.0f);
    for (std::size_t i = 0; i < static_cast<std::size_t>(kRate * 0.6); ++i) {
        samples.push_back(static_cast<float>(
            kAmplitude * std::sin(2.0 * std::numbers::pi * 1000.0 * double(i) / kRate) +
            noise(random)));
    }
    for (const bool precise : {false, true}) {
        for (const double offsetDb : {-0.3, 0.3}) {
            SCOPED_TRACE(std::string(precise ? "precise" : "classic") + " gate " +
                         std::to_string(offsetDb));
            FormantTrackParameters parameters = mode(precise, kRate);
            parameters.m_dFormantSilenceLevel = levelDb + offsetDb;
            const bool kept = offsetDb < 0.0;
            for (const FormantTrackRow& row : track(samples, kRate, parameters, 0.0, 900.0, 10.0)) {
                if (row.timeMs < 250.0) {
                    EXPECT_EQ(row.frequencyHz[0], -1.0) << row.timeMs;
                } else if (row.timeMs > 350.0 && row.timeMs < 850.0) {
                    EXPECT_EQ(row.frequencyHz[0] > 0.0, kept) << row.timeMs;
                }
            }
            SpectrogramInput input = spectrogramOf(samples, 90, precise);
            input.parameters.m_dFormantSilenceLevel = parameters.m_dFormantSilenceLevel;
            const SpectrogramResult r = DoSpectrogram(input, nullptr);
            ASSERT_TRUE(r.m_bHaveSpectrogram);
            for (int c = 0; c < 90; ++c) { // 10 ms each
                if (c < 25) {
                    EXPECT_EQ(r.formants[std::size_t(c)][0], -1) << c;
                } else if (c > 35 && c < 85) {
                    EXPECT_EQ(r.formants[std::size_t(c)][0] > 0, kept) << c;
                }
            }
        }
    }
}

// The corpus vowels, tracked every 10 ms over their steady middle, meet the
// precise analysis's error limits per group (mean absolute error of F1 … F3
// over four vowels, at every rate; see PreciseFormantsAccuracyTest).
TEST(FormantTrack, PreciseTrackOfCorpusVowelsMeetsThePreciseErrorLimits)
{
    struct Group {
        corpus::Speaker speaker;
        double f0Hz;
        double ceilingHz;
        std::array<double, 3> maeHz;
    };
    const Group groups[] = {
        {corpus::Speaker::Man, 100.0, 5000.0, {20.0, 25.0, 20.0}},
        {corpus::Speaker::Woman, 100.0, 5500.0, {20.0, 20.0, 20.0}},
        {corpus::Speaker::Man, 200.0, 5000.0, {65.0, 45.0, 40.0}},
        {corpus::Speaker::Woman, 200.0, 5500.0, {60.0, 35.0, 40.0}},
    };
    for (const Group& group : groups) {
        for (const double rate : corpus::corpusRates()) {
            std::array<double, 3> sum{};
            int rows = 0;
            for (const char* vowel : {"iy", "aa", "uw", "er"}) {
                const corpus::VowelRecipe recipe =
                    corpus::vowelRecipe(vowel, group.speaker, group.f0Hz, rate);
                const std::vector<double> values = corpus::synthesiseVowel(recipe);
                const std::vector<float> samples(values.begin(), values.end());
                FormantTrackParameters parameters = mode(true, rate);
                parameters.m_dFormantCeiling = group.ceilingHz;
                for (const FormantTrackRow& row :
                     track(samples, rate, parameters, 100.0, 400.0 + 1e-9)) {
                    ++rows;
                    for (std::size_t i = 0; i < 3; ++i) {
                        EXPECT_GT(row.frequencyHz[i], 0.0) << vowel << " " << row.timeMs;
                        sum[i] += std::abs(row.frequencyHz[i] - recipe.formantsHz[i]);
                    }
                }
            }
            ASSERT_EQ(rows, 4 * 31);
            for (std::size_t i = 0; i < 3; ++i) {
                EXPECT_LE(sum[i] / rows, group.maeHz[i])
                    << corpus::speakerName(group.speaker) << " F0 " << group.f0Hz << " at " << rate
                    << " Hz, F" << i + 1;
            }
        }
    }
}

// The grid's ends are settled on the products k × step the rows carry; what
// cannot be analysed is refused; a cancel or a sink that stops ends early.
TEST(FormantTrack, RowsOfTheGridRefusalsAndStopping)
{
    struct Case {
        double step, from, to;
        std::int64_t first, end;
    };
    const Case cases[] = {
        {10.0, 0.0, 100.0, 0, 10}, {10.0, 5.0, 25.0, 1, 3},      {10.0, 10.0, 10.5, 1, 2},
        {0.1, 0.3, 0.6, 3, 6},     {10.0, -20.0, 15.0, 0, 2},    {10.0, 30.0, 30.0, 0, 0},
        {0.0, 0.0, 100.0, 0, 0},   {7.5, 1911.25, 1912.0, 0, 0}, {7.5, 1905.0, 1912.5, 254, 255},
    };
    for (const Case& c : cases) {
        const FormantTrackRows rows = FormantTrackRows::of(c.step, c.from, c.to);
        EXPECT_EQ(rows.count(), c.end - c.first) << c.step << " " << c.from << " " << c.to;
        if (rows.count() > 0) {
            EXPECT_EQ(rows.first, c.first) << c.from;
            EXPECT_EQ(rows.end, c.end) << c.to;
        }
    }

    const std::vector<float> samples = signals::tone(500.0, 10000.0, 200.0);
    FormantTrackInput good;
    good.samples = samples;
    good.sampleRate = 10000.0;
    good.toMs = 200.0;
    EXPECT_EQ(formantTrackRefusal(good), "");
    const std::vector<std::pair<const char*, void (*)(FormantTrackInput&)>> refused = {
        {"rate 0", [](FormantTrackInput& in) { in.sampleRate = 0.0; }},
        {"step 0", [](FormantTrackInput& in) { in.stepMs = 0.0; }},
        {"step NaN", [](FormantTrackInput& in) { in.stepMs = std::nan(""); }},
        {"order 0", [](FormantTrackInput& in) { in.parameters.m_nLPCCoefficients = 0; }},
        {"gate NaN", [](FormantTrackInput& in) { in.parameters.m_dFormantSilenceLevel = NAN; }},
        {"precise at 500 Hz",
         [](FormantTrackInput& in) {
             in.parameters.m_bPreciseAnalysis = true;
             in.sampleRate = 500.0;
         }},
    };
    for (const auto& [what, change] : refused) {
        FormantTrackInput input = good;
        change(input);
        EXPECT_NE(formantTrackRefusal(input), "") << what;
        EXPECT_EQ(DoFormantTrack(input, [](auto) { return true; }), FormantTrackEnd::Refused)
            << what;
    }

    FormantTrackProgress progress;
    progress.cancelled = true;
    EXPECT_EQ(DoFormantTrack(
                  good, [](auto) { return true; }, &progress),
              FormantTrackEnd::Cancelled);
    int blocks = 0;
    EXPECT_EQ(DoFormantTrack(
                  good, [&](auto) { return ++blocks < 2; }, nullptr, 2, 4),
              FormantTrackEnd::Cancelled);
    EXPECT_EQ(blocks, 2);
}

} // namespace
} // namespace phonaxis
