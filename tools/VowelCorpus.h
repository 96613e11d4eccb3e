#pragma once

// A corpus of synthetic vowels with their true formants, for measuring
// formant analyses against the truth: the ten vowels of a classic survey of
// American English (its mean F1–F3 for men and for women; F4 and F5 fixed),
// each voiced at F0 100 and 200 Hz and written at 10,000, 16,000, 22,050 and
// 44,100 Hz as 16-bit and as 32-bit float WAV files.
//
// Each vowel is built as speech is: a Rosenberg glottal flow pulse (its
// natural spectral tilt left in), lip radiation as a first difference, a
// cascade of five formant resonators with bandwidths that grow with
// frequency and F0, fixed poles above F5 for the higher resonances of the
// tract, all at four times the output rate; then a low-pass filter against
// aliasing and every fourth sample. F0 carries a slight vibrato.
//
// Pure functions of their arguments; safe to call from any thread.

#include <array>
#include <string>
#include <vector>

namespace phonaxis::corpus {

enum class Speaker { Man, Woman };
enum class SampleFormat { Pcm16, Float32 };

constexpr int kCorpusFormants = 5;

// One vowel of the corpus and the truth it is built from.
struct VowelRecipe {
    std::string vowel; // two-letter name: iy ih eh ae aa ao uh uw ah er
    Speaker speaker = Speaker::Man;
    double f0Hz = 100.0;     // mean F0 (the vibrato moves it by ±0.5 %)
    double rateHz = 10000.0; // output rate
    double durationMs = 500.0;
    std::array<double, kCorpusFormants> formantsHz{};
    std::array<double, kCorpusFormants> bandwidthsHz{};
};

// The vowel names in corpus order.
std::vector<std::string> corpusVowels();
// The output rates in corpus order.
std::vector<double> corpusRates();

// The recipe of one vowel for a speaker, F0 and rate (durationMs 500); the
// bandwidths follow from the formants and F0. An unknown vowel name gives a
// recipe without formants (all 0).
VowelRecipe vowelRecipe(const std::string& vowel, Speaker speaker, double f0Hz, double rateHz);

// Every recipe of the corpus: speakers × vowels × F0 100, 200 × the rates
// (160 recipes; each is written in both formats).
std::vector<VowelRecipe> corpusSpecs();

// The samples of a recipe at its rate, round(durationMs·rate/1000) of them,
// peaking at 0.5 of full scale.
std::vector<double> synthesiseVowel(const VowelRecipe& recipe);

// "man" / "woman"; "pcm16" / "float32".
const char* speakerName(Speaker speaker);
const char* formatName(SampleFormat format);

// The file name of a recipe in a format, e.g. "man_aa_f0100_16000_pcm16.wav".
std::string corpusFileName(const VowelRecipe& recipe, SampleFormat format);

// Writes every file of the corpus into `dir` (created when missing) and the
// truth as `dir`/truth.csv: a header line, then per file
// "file,sex,vowel,f0,rate,format,F1,…,F5,B1,…,B5". False with `error` set
// when something cannot be written.
bool writeVowelCorpus(const std::string& dir, std::string& error);

} // namespace phonaxis::corpus
