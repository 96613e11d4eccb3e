// The classic analyses stay what they were: their formants, formant tracks
// and pitch tracks on the demo recording and on the vowel corpus are
// compared with golden files written by the classic engines before the
// precise analysis became the default. Only what was changed on purpose may
// differ: the formant tracks' silence gate (a column the gate empties on one
// side only) — the intensity figure is not part of these files.
//
// PHONAXIS_WRITE_GOLDEN=FOLDER writes the files into FOLDER instead of
// comparing (how they were made; never done by the suite itself).

#include "Signals.h"
#include "TestFiles.h"
#include "VowelCorpus.h"
#include "document/AppSettings.h"
#include "document/MyDocument.h"
#include "support/ScriptedPrompts.h"
#include "windows/FormantTrack.h"
#include "windows/PitchAnalysis.h"
#include "windows/SpectrogramAnalysis.h"
#include "windows/SpectrumAnalysis.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace phonaxis {
namespace {

constexpr const char* kGoldenFolder = PHONAXIS_TEST_SOURCE_DIR "/windows/golden";
// Columns of the vowels' spectrograms: a steady vowel needs few.
constexpr int kVowelColumns = 50;
constexpr int kDemoColumns = 1000;
constexpr int kRows = 256;

// A document opened from `bytes` as phonaxis-cli opens one (a new
// document's settings, no application configuration), set to the classic
// analyses.
struct OpenedDocument {
    test::ScriptedPrompts prompts;
    AppSettings settings;
    std::unique_ptr<MyDocument> document;

    explicit OpenedDocument(const Bytes& bytes)
    {
        document = std::make_unique<MyDocument>(prompts, settings);
        if (!document->readFromData(bytes, "wav")) {
            document.reset();
            return;
        }
        document->m_bPreciseAnalysis = false;
    }
};

std::string number(double value)
{
    char buf[64];
    const auto result = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, result.ptr);
}

// One golden file: a line per result, "KIND NAME values…" (doubles in their
// shortest exact text).
using Golden = std::map<std::string, std::vector<double>>;

void addSpectrum(Golden& golden, const std::string& name, MyDocument& document, double fromMs,
                 double toMs)
{
    const Channels& audio = document.getChannel(document.audioChannelIndex());
    const double perMs = audio.m_dSampleRate / 1000.0;
    SpectrumAnalysis spectrum;
    std::vector<double>& values =
        golden["spectrum " + name + " " + number(fromMs) + "-" + number(toMs)];
    if (spectrum.doPerformFFTLPC(document, fromMs * perMs, toMs * perMs) !=
        SpectrumStart::Computed) {
        return;
    }
    for (int i = 0; i < SpectrumAnalysis::kFormantsShown; ++i) {
        values.push_back(spectrum.m_dFormat[static_cast<std::size_t>(i)]);
    }
    for (int i = 0; i < SpectrumAnalysis::kFormantsShown; ++i) {
        values.push_back(spectrum.m_dBandWidth[static_cast<std::size_t>(i)]);
    }
}

void addPitch(Golden& golden, const std::string& name, MyDocument& document)
{
    const int index = document.audioChannelIndex();
    const Channels& audio = document.getChannel(index);
    PitchAnalysis pitch;
    pitch.intilize(audio, index, PitchParameters::fromDocument(document));
    std::vector<double>& values = golden["pitch " + name];
    if (pitch.DoPitchCepstral(audio.samples(), 1)) {
        values = pitch.m_hdPitchFile;
    }
}

void addTracks(Golden& golden, const std::string& name, MyDocument& document, int columns)
{
    // Over the whole band, as the files were written: the spectrogram's
    // default range has since become what formants need (5 kHz), which keeps
    // the tracks above it out of its rows.
    SpectrogramInput input = SpectrogramInput::fromDocument(document, false, columns, kRows);
    input.parameters.m_nFreqRange = document.m_nFFTfrequencyRange;
    const SpectrogramResult result = DoSpectrogram(input, nullptr, 1);
    std::vector<double>& values = golden["tracks " + name];
    for (const FormantRecord& record : result.formants) {
        for (int i = 0; i < 5; ++i) {
            values.push_back(record[static_cast<std::size_t>(i)]);
        }
    }
}

Golden demoResults()
{
    Golden golden;
    const signals::DemoRecording demo = signals::demoRecording();
    test::ScriptedPrompts prompts;
    const std::span<const float> channels[] = {demo.speech.audio};
    const std::optional<Bytes> bytes =
        signals::waveFileBytes(demo.speech.rateHz, channels, prompts);
    if (!bytes) {
        return golden;
    }
    OpenedDocument opened(*bytes);
    if (!opened.document) {
        return golden;
    }
    MyDocument& document = *opened.document;
    for (double at = 50.0; at < 3500.0; at += 100.0) {
        addSpectrum(golden, "demo", document, at, at);
    }
    addSpectrum(golden, "demo", document, 200.0, 900.0);
    addPitch(golden, "demo", document);
    addTracks(golden, "demo", document, kDemoColumns);
    return golden;
}

// The classic formant track's rows (time, F1 … F5, B1 … B5) of the demo
// speech and of corpus vowels at several rates, at a step on the sample
// grid and at one between samples.
Golden formantTrackResults()
{
    Golden golden;
    const auto addRows = [&golden](const std::string& name, std::span<const float> samples,
                                   double rateHz, double stepMs) {
        FormantTrackInput input;
        input.samples = samples;
        input.sampleRate = rateHz;
        input.stepMs = stepMs;
        input.toMs = static_cast<double>(samples.size()) * 1000.0 / rateHz;
        input.parameters.m_bPreciseAnalysis = false;
        std::vector<double>& values = golden["rows " + name + "@" + number(stepMs)];
        DoFormantTrack(input, [&values](std::span<const FormantTrackRow> rows) {
            for (const FormantTrackRow& row : rows) {
                values.push_back(row.timeMs);
                values.insert(values.end(), row.frequencyHz.begin(), row.frequencyHz.end());
                values.insert(values.end(), row.bandwidthHz.begin(), row.bandwidthHz.end());
            }
            return true;
        });
    };
    const signals::DemoRecording demo = signals::demoRecording();
    addRows("demo", demo.speech.audio, demo.speech.rateHz, 10.0);
    addRows("demo", demo.speech.audio, demo.speech.rateHz, 7.33);
    for (const double rate : corpus::corpusRates()) {
        const corpus::VowelRecipe recipe =
            corpus::vowelRecipe("ae", corpus::Speaker::Woman, 200.0, rate);
        const std::vector<double> synthesised = corpus::synthesiseVowel(recipe);
        const std::vector<float> samples(synthesised.begin(), synthesised.end());
        addRows(corpus::corpusFileName(recipe, corpus::SampleFormat::Float32), samples, rate,
                5.0);
    }
    return golden;
}

Golden vowelResults()
{
    Golden golden;
    for (const corpus::VowelRecipe& recipe : corpus::corpusSpecs()) {
        const std::vector<double> samples = corpus::synthesiseVowel(recipe);
        for (const corpus::SampleFormat format :
             {corpus::SampleFormat::Pcm16, corpus::SampleFormat::Float32}) {
            testfiles::WavLayout layout;
            const bool pcm = format == corpus::SampleFormat::Pcm16;
            layout.formatTag = pcm ? testfiles::kWavPcm : testfiles::kWavFloat;
            layout.bitsPerSample = pcm ? 16 : 32;
            layout.sampleRate = static_cast<std::uint32_t>(recipe.rateHz);
            const testfiles::FileBytes file = testfiles::makeWav(layout, samples);
            OpenedDocument opened(Bytes(file.begin(), file.end()));
            if (!opened.document) {
                continue;
            }
            const std::string name = corpus::corpusFileName(recipe, format);
            addSpectrum(golden, name, *opened.document, 250.0, 250.0);
            addSpectrum(golden, name, *opened.document, 100.0, 400.0);
            addPitch(golden, name, *opened.document);
            if (!pcm) {
                addTracks(golden, name, *opened.document, kVowelColumns);
            }
        }
    }
    return golden;
}

std::string goldenText(const Golden& golden)
{
    std::string text;
    for (const auto& [key, values] : golden) {
        text += key;
        for (const double value : values) {
            text += ' ' + number(value);
        }
        text += '\n';
    }
    return text;
}

std::optional<Golden> readGolden(const std::string& path)
{
    std::ifstream in(path);
    if (!in) {
        return std::nullopt;
    }
    Golden golden;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string kind;
        std::string name;
        words >> kind >> name;
        std::string key = kind + " " + name;
        if (kind == "spectrum") {
            std::string stretch;
            words >> stretch;
            key += " " + stretch;
        }
        std::vector<double>& values = golden[key];
        std::string word;
        while (words >> word) {
            double value = 0.0;
            std::from_chars(word.data(), word.data() + word.size(), value);
            values.push_back(value);
        }
    }
    return golden;
}

// Compares `now` with the golden file `file`: spectra and pitch tracks bit
// for bit; formant tracks column by column, where a column that only one
// side has formants for is the silence gate's doing and is counted apart.
void expectGolden(const Golden& now, const std::string& file)
{
    const std::string path = std::string(kGoldenFolder) + "/" + file;
    if (const char* folder = std::getenv("PHONAXIS_WRITE_GOLDEN")) {
        std::ofstream(std::string(folder) + "/" + file) << goldenText(now);
        GTEST_SKIP() << "wrote " << file;
    }
    const std::optional<Golden> golden = readGolden(path);
    ASSERT_TRUE(golden) << path;
    ASSERT_EQ(golden->size(), now.size());
    int trackColumns = 0;
    int gatedColumns = 0;
    for (const auto& [key, expected] : *golden) {
        const auto found = now.find(key);
        ASSERT_NE(found, now.end()) << key;
        const std::vector<double>& actual = found->second;
        ASSERT_EQ(actual.size(), expected.size()) << key;
        if (!key.starts_with("tracks ")) {
            for (std::size_t i = 0; i < expected.size(); ++i) {
                // Bit for bit: the golden text is the shortest exact one.
                ASSERT_EQ(number(actual[i]), number(expected[i])) << key << " value " << i;
            }
            continue;
        }
        for (std::size_t c = 0; c + 5 <= expected.size(); c += 5) {
            const bool before = expected[c] > 0.0;
            const bool after = actual[c] > 0.0;
            if (before != after) {
                ++gatedColumns;
                continue;
            }
            trackColumns += before ? 1 : 0;
            for (std::size_t i = c; i < c + 5; ++i) {
                ASSERT_EQ(actual[i], expected[i]) << key << " column " << c / 5;
            }
        }
    }
    // The gate may move at the edges of quiet stretches, not empty the tracks.
    if (trackColumns + gatedColumns > 0) {
        EXPECT_GT(trackColumns, 10 * gatedColumns) << file;
    }
}

TEST(ClassicGolden, DemoFormantsTracksAndPitchAreThoseOfTheClassicEngines)
{
    expectGolden(demoResults(), "classic-demo.txt");
}

TEST(ClassicGolden, VowelCorpusFormantsTracksAndPitchAreThoseOfTheClassicEngines)
{
    expectGolden(vowelResults(), "classic-vowels.txt");
}

// The formant track's classic rows, bit for bit (however its frames are
// windowed, correlated and factored on the way).
TEST(ClassicGolden, FormantTrackRowsAreThoseOfTheClassicEngine)
{
    expectGolden(formantTrackResults(), "classic-formant-track.txt");
}

} // namespace
} // namespace phonaxis
