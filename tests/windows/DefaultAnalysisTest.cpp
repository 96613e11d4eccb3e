// What a user gets without touching a setting: a document opened from a WAV
// file at a new document's settings draws formant tracks with the precise
// analysis, within its accuracy on signals with their truth. (Its spectrum's
// formants are measured on the vowel corpus beside the precise analysis's.)

#include "Signals.h"
#include "VowelCorpus.h"
#include "document/AppSettings.h"
#include "document/MyDocument.h"
#include "support/ScriptedPrompts.h"
#include "windows/SpectrogramAnalysis.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace phonaxis {
namespace {

using corpus::Speaker;

// A new document holding `samples` at `rateHz`, read from a float WAV file
// as a user's file is read; null when it cannot be.
struct OpenedDocument {
    test::ScriptedPrompts prompts;
    AppSettings settings;
    std::unique_ptr<MyDocument> document;

    OpenedDocument(std::span<const float> samples, double rateHz)
    {
        const std::span<const float> channels[] = {samples};
        const std::optional<Bytes> bytes = signals::waveFileBytes(rateHz, channels, prompts);
        auto opened = std::make_unique<MyDocument>(prompts, settings);
        if (bytes && opened->readFromData(*bytes, "wav")) {
            document = std::move(opened);
        }
    }
};

// A recording for the tracks' test: its samples and the true F1, F2 at a
// time (nothing where it is unvoiced or the vowel changes near there).
struct TrackedRecording {
    std::string name;
    double rateHz = 0.0;
    std::vector<float> samples;
    std::function<std::optional<std::array<double, 2>>(double)> truthAt;
};

// The a-i-u sequence (a glottal source with its tilt, formants moving
// between the vowels, F0 gliding) at a rate.
TrackedRecording sequenceAt(double rateHz)
{
    auto sequence = std::make_shared<signals::VowelSequence>(signals::vowelSequence(rateHz));
    return {"a-i-u at " + std::to_string(int(rateHz)), rateHz, sequence->audio,
            [sequence](double ms) -> std::optional<std::array<double, 2>> {
                if (sequence->f0AtMs(ms - 30.0) <= 0.0 || sequence->f0AtMs(ms + 30.0) <= 0.0) {
                    return std::nullopt;
                }
                const signals::FormantSet truth = sequence->formantsAtMs(ms);
                return std::array<double, 2>{truth[0].frequencyHz, truth[1].frequencyHz};
            }};
}

// A woman's /i/, /a/, /u/ and /er/ one after another at F0 200 Hz: the
// high voice whose F1 the classic LPC loses at high rates.
TrackedRecording womanVowelsAt(double rateHz)
{
    const std::vector<std::string> vowels = {"iy", "aa", "uw", "er"};
    TrackedRecording recording{"woman's vowels at " + std::to_string(int(rateHz)), rateHz, {}, {}};
    std::vector<std::array<double, 2>> truths;
    double vowelMs = 0.0;
    for (const std::string& vowel : vowels) {
        const corpus::VowelRecipe recipe = corpus::vowelRecipe(vowel, Speaker::Woman, 200.0, rateHz);
        const std::vector<double> values = corpus::synthesiseVowel(recipe);
        recording.samples.insert(recording.samples.end(), values.begin(), values.end());
        truths.push_back({recipe.formantsHz[0], recipe.formantsHz[1]});
        vowelMs = recipe.durationMs;
    }
    recording.truthAt = [truths, vowelMs](double ms) -> std::optional<std::array<double, 2>> {
        const double within = std::fmod(ms, vowelMs);
        const auto vowel = static_cast<std::size_t>(ms / vowelMs);
        if (within < 40.0 || within > vowelMs - 40.0 || vowel >= truths.size()) {
            return std::nullopt;
        }
        return truths[vowel];
    };
    return recording;
}

// The spectrogram's formant tracks of a new document follow the truth: the
// share of voiced columns whose F1 or F2 is more than 25 % off (or
// missing) stays within 5 % at every common rate, for a man's gliding
// vowels and a woman's.
TEST(DefaultAnalysis, SpectrogramTracksFollowTheTruth)
{
    std::vector<TrackedRecording> recordings;
    for (const double rate : {16000.0, 22050.0, 44100.0}) {
        recordings.push_back(sequenceAt(rate));
        recordings.push_back(womanVowelsAt(rate));
    }
    for (const TrackedRecording& recording : recordings) {
        SCOPED_TRACE(recording.name);
        OpenedDocument opened(recording.samples, recording.rateHz);
        ASSERT_NE(opened.document, nullptr);
        const int columns = 400;
        const SpectrogramResult result = DoSpectrogram(
            SpectrogramInput::fromDocument(*opened.document, false, columns, 128), nullptr);
        ASSERT_TRUE(result.m_bHaveSpectrogram);
        int voiced = 0;
        int wrong = 0;
        const double columnMs = opened.document->getChannel(0).m_dLengthMS / columns;
        for (int c = 0; c < columns; ++c) {
            // The precise tracks describe the column's middle.
            const auto truth = recording.truthAt((c + 0.5) * columnMs);
            if (!truth) {
                continue;
            }
            ++voiced;
            const FormantRecord& record = result.formants[static_cast<std::size_t>(c)];
            for (std::size_t i = 0; i < 2; ++i) {
                if (std::abs(record[i] - (*truth)[i]) > 0.25 * (*truth)[i]) {
                    ++wrong;
                    break;
                }
            }
        }
        ASSERT_GT(voiced, columns / 2);
        EXPECT_LE(wrong, voiced / 20) << wrong << " of " << voiced << " voiced columns";
    }
}

} // namespace
} // namespace phonaxis
