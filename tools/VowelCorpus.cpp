#include "VowelCorpus.h"

#include "TestFiles.h"

#include "document/FileIO.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>

namespace phonaxis::corpus {

namespace {

constexpr double kPi = std::numbers::pi;

// Mean F1, F2, F3 (Hz) of the survey's men and women for the ten vowels.
struct VowelTargets {
    const char* name;
    std::array<double, 3> man;
    std::array<double, 3> woman;
};
constexpr std::array<VowelTargets, 10> kTargets = {{
    {"iy", {270, 2290, 3010}, {310, 2790, 3310}},
    {"ih", {390, 1990, 2550}, {430, 2480, 3070}},
    {"eh", {530, 1840, 2480}, {610, 2330, 2990}},
    {"ae", {660, 1720, 2410}, {860, 2050, 2850}},
    {"aa", {730, 1090, 2440}, {850, 1220, 2810}},
    {"ao", {570, 840, 2410}, {590, 920, 2710}},
    {"uh", {440, 1020, 2240}, {470, 1160, 2680}},
    {"uw", {300, 870, 2240}, {370, 950, 2670}},
    {"ah", {640, 1190, 2390}, {760, 1400, 2780}},
    {"er", {490, 1350, 1690}, {500, 1640, 1960}},
}};

// F4 and F5, the same for every vowel of a speaker, and the fixed poles
// above F5 (frequency, bandwidth) that stand for the tract's higher
// resonances: about one formant spacing apart, as for a tract of 17.5 cm
// (men) and 15 cm (women).
constexpr std::array<double, 2> kUpperMan = {3500.0, 4500.0};
constexpr std::array<double, 2> kUpperWoman = {4250.0, 4950.0};
constexpr std::array<std::array<double, 2>, 3> kHigherPolesMan = {
    {{5500.0, 350.0}, {6500.0, 450.0}, {7500.0, 550.0}}};
constexpr std::array<std::array<double, 2>, 3> kHigherPolesWoman = {
    {{6100.0, 350.0}, {7250.0, 450.0}, {8400.0, 550.0}}};

constexpr int kOversampling = 4;
// Half length (oversampled samples) of the low-pass filter before
// decimation, and its cut-off as a fraction of the output rate: a
// Blackman–Harris window of 641 taps has a transition of about 0.05 of the
// output rate, so the stop band begins just below half the output rate.
constexpr int kDecimationHalfTaps = 320;
constexpr double kDecimationCutoff = 0.47;
// Rosenberg pulse: opening phase and closing phase, fractions of the period.
constexpr double kOpeningPhase = 0.40;
constexpr double kClosingPhase = 0.16;
constexpr double kVibratoDepth = 0.005;
constexpr double kVibratoHz = 5.0;
constexpr double kRampMs = 20.0;
constexpr double kPeak = 0.5;

// A formant's bandwidth as a function of its frequency and F0: the fifth-
// order fits of Hawks & Miller (1995, JASA 97), one below and one from
// 500 Hz, scaled by 1 + 0.25·(F0 − 132)/88.
double bandwidthFor(double frequencyHz, double f0Hz)
{
    static constexpr std::array<double, 6> kBelow500 = {
        165.327516, -6.73636734e-1, 1.80874446e-3, -4.52201682e-6, 7.49514000e-9, -4.70219241e-12};
    static constexpr std::array<double, 6> kFrom500 = {
        15.8146139, 8.10159009e-2, -9.79728215e-5, 5.28725064e-8, -1.07099364e-11, 7.91528509e-16};
    const std::array<double, 6>& c = frequencyHz < 500.0 ? kBelow500 : kFrom500;
    double value = 0.0;
    for (auto it = c.rbegin(); it != c.rend(); ++it) {
        value = value * frequencyHz + *it;
    }
    return value * (1.0 + 0.25 * (f0Hz - 132.0) / 88.0);
}

// Rosenberg's glottal flow pulse (trigonometric opening, cosine closing) at
// a phase in [0, 1) of the period.
double rosenbergFlow(double phase)
{
    if (phase < kOpeningPhase) {
        return 0.5 * (1.0 - std::cos(kPi * phase / kOpeningPhase));
    }
    if (phase < kOpeningPhase + kClosingPhase) {
        return std::cos(kPi * (phase - kOpeningPhase) / (2.0 * kClosingPhase));
    }
    return 0.0;
}

// A second-order digital resonator with unity gain at 0 Hz, run over `x` in place.
void resonate(std::vector<double>& x, double frequencyHz, double bandwidthHz, double rateHz)
{
    const double c = -std::exp(-2.0 * kPi * bandwidthHz / rateHz);
    const double b =
        2.0 * std::exp(-kPi * bandwidthHz / rateHz) * std::cos(2.0 * kPi * frequencyHz / rateHz);
    const double a = 1.0 - b - c;
    double y1 = 0.0;
    double y2 = 0.0;
    for (double& v : x) {
        const double y = a * v + b * y1 + c * y2;
        y2 = y1;
        y1 = y;
        v = y;
    }
}

// The decimation low-pass: a Blackman–Harris windowed sinc at the
// oversampled rate, taps −half … half, summing to 1.
std::vector<double> decimationFilter()
{
    const int length = 2 * kDecimationHalfTaps + 1;
    const double cutoff = kDecimationCutoff / kOversampling; // cycles per oversampled sample
    std::vector<double> taps(static_cast<std::size_t>(length));
    double sum = 0.0;
    for (int i = 0; i < length; ++i) {
        const double m = i - kDecimationHalfTaps;
        const double sinc =
            m == 0.0 ? 1.0 : std::sin(2.0 * kPi * cutoff * m) / (2.0 * kPi * cutoff * m);
        const double x = 2.0 * kPi * i / (length - 1);
        const double window = 0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2.0 * x) -
                              0.01168 * std::cos(3.0 * x);
        taps[static_cast<std::size_t>(i)] = sinc * window;
        sum += sinc * window;
    }
    for (double& t : taps) {
        t /= sum;
    }
    return taps;
}

const VowelTargets* targetsOf(const std::string& vowel)
{
    const auto it = std::find_if(kTargets.begin(), kTargets.end(),
                                 [&](const VowelTargets& t) { return vowel == t.name; });
    return it == kTargets.end() ? nullptr : &*it;
}

std::string csvNumber(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

} // namespace

std::vector<std::string> corpusVowels()
{
    std::vector<std::string> names;
    for (const VowelTargets& t : kTargets) {
        names.emplace_back(t.name);
    }
    return names;
}

std::vector<double> corpusRates()
{
    return {10000.0, 16000.0, 22050.0, 44100.0};
}

VowelRecipe vowelRecipe(const std::string& vowel, Speaker speaker, double f0Hz, double rateHz)
{
    VowelRecipe recipe;
    recipe.vowel = vowel;
    recipe.speaker = speaker;
    recipe.f0Hz = f0Hz;
    recipe.rateHz = rateHz;
    const VowelTargets* targets = targetsOf(vowel);
    if (targets == nullptr) {
        return recipe;
    }
    const bool man = speaker == Speaker::Man;
    const std::array<double, 3>& lower = man ? targets->man : targets->woman;
    const std::array<double, 2>& upper = man ? kUpperMan : kUpperWoman;
    recipe.formantsHz = {lower[0], lower[1], lower[2], upper[0], upper[1]};
    for (int i = 0; i < kCorpusFormants; ++i) {
        recipe.bandwidthsHz[static_cast<std::size_t>(i)] =
            bandwidthFor(recipe.formantsHz[static_cast<std::size_t>(i)], f0Hz);
    }
    return recipe;
}

std::vector<VowelRecipe> corpusSpecs()
{
    std::vector<VowelRecipe> recipes;
    for (const Speaker speaker : {Speaker::Man, Speaker::Woman}) {
        for (const double f0 : {100.0, 200.0}) {
            for (const double rate : corpusRates()) {
                for (const VowelTargets& t : kTargets) {
                    recipes.push_back(vowelRecipe(t.name, speaker, f0, rate));
                }
            }
        }
    }
    return recipes;
}

std::vector<double> synthesiseVowel(const VowelRecipe& recipe)
{
    const auto count =
        static_cast<std::size_t>(std::lround(recipe.durationMs * recipe.rateHz / 1000.0));
    const double highRate = recipe.rateHz * kOversampling;
    // Oversampled sample i lies at time (i − half)/highRate: the filter of
    // output sample 0 reaches back to before the vowel starts.
    const std::size_t half = kDecimationHalfTaps;
    const std::size_t highCount = count * kOversampling + 2 * half;
    std::vector<double> signal(highCount, 0.0);

    const double rampSamples = kRampMs * highRate / 1000.0;
    const double endSample = static_cast<double>(count * kOversampling);
    double phase = 0.0;
    double previousFlow = 0.0;
    for (std::size_t i = half; i < highCount; ++i) {
        const double n = static_cast<double>(i - half);
        const double t = n / highRate;
        const double flow = rosenbergFlow(phase);
        const double f0 = recipe.f0Hz * (1.0 + kVibratoDepth * std::sin(2.0 * kPi * kVibratoHz * t));
        phase += f0 / highRate;
        phase -= std::floor(phase);
        // Onset and offset ramps (raised cosine) keep the vowel free of clicks.
        const double fromEdge = std::min(n, endSample - n);
        const double gain = fromEdge <= 0.0 ? 0.0
                            : fromEdge >= rampSamples
                                ? 1.0
                                : 0.5 * (1.0 - std::cos(kPi * fromEdge / rampSamples));
        // Lip radiation: the first difference of the flow.
        signal[i] = gain * (flow - previousFlow);
        previousFlow = flow;
    }
    for (int f = 0; f < kCorpusFormants; ++f) {
        resonate(signal, recipe.formantsHz[static_cast<std::size_t>(f)],
                 recipe.bandwidthsHz[static_cast<std::size_t>(f)], highRate);
    }
    const auto& higher = recipe.speaker == Speaker::Man ? kHigherPolesMan : kHigherPolesWoman;
    for (const auto& pole : higher) {
        if (pole[0] < highRate / 2.0) {
            resonate(signal, pole[0], pole[1], highRate);
        }
    }

    const std::vector<double> taps = decimationFilter();
    std::vector<double> out(count, 0.0);
    double peak = 0.0;
    for (std::size_t j = 0; j < count; ++j) {
        const std::size_t centre = half + j * kOversampling;
        double sum = 0.0;
        for (std::size_t k = 0; k < taps.size(); ++k) {
            sum += taps[k] * signal[centre - half + k];
        }
        out[j] = sum;
        peak = std::max(peak, std::abs(sum));
    }
    if (peak > 0.0) {
        for (double& v : out) {
            v *= kPeak / peak;
        }
    }
    return out;
}

const char* speakerName(Speaker speaker)
{
    return speaker == Speaker::Man ? "man" : "woman";
}

const char* formatName(SampleFormat format)
{
    return format == SampleFormat::Pcm16 ? "pcm16" : "float32";
}

std::string corpusFileName(const VowelRecipe& recipe, SampleFormat format)
{
    char text[96];
    std::snprintf(text, sizeof text, "%s_%s_f0%03d_%05d_%s.wav", speakerName(recipe.speaker),
                  recipe.vowel.c_str(), static_cast<int>(std::lround(recipe.f0Hz)),
                  static_cast<int>(std::lround(recipe.rateHz)), formatName(format));
    return text;
}

bool writeVowelCorpus(const std::string& dir, std::string& error)
{
    std::error_code made;
    std::filesystem::create_directories(dir, made);
    if (made) {
        error = "cannot create \"" + dir + "\": " + made.message();
        return false;
    }
    const std::filesystem::path folder(dir);
    std::string truth = "file,sex,vowel,f0,rate,format,F1,F2,F3,F4,F5,B1,B2,B3,B4,B5\n";
    for (const VowelRecipe& recipe : corpusSpecs()) {
        const std::vector<double> samples = synthesiseVowel(recipe);
        for (const SampleFormat format : {SampleFormat::Pcm16, SampleFormat::Float32}) {
            testfiles::WavLayout layout;
            layout.formatTag =
                format == SampleFormat::Pcm16 ? testfiles::kWavPcm : testfiles::kWavFloat;
            layout.bitsPerSample = format == SampleFormat::Pcm16 ? 16 : 32;
            layout.sampleRate = static_cast<std::uint32_t>(recipe.rateHz);
            const std::string name = corpusFileName(recipe, format);
            if (!writeFileAtomically((folder / name).string(), testfiles::makeWav(layout, samples),
                                     error)) {
                return false;
            }
            for (const std::string& field :
                 {name, std::string(speakerName(recipe.speaker)), recipe.vowel, csvNumber(recipe.f0Hz),
                  csvNumber(recipe.rateHz), std::string(formatName(format))}) {
                truth.append(field).push_back(',');
            }
            for (const double f : recipe.formantsHz) {
                truth.append(csvNumber(f)).push_back(',');
            }
            for (const double b : recipe.bandwidthsHz) {
                truth.append(csvNumber(b)).push_back(',');
            }
            truth.pop_back();
            truth.push_back('\n');
        }
    }
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(truth.data()),
                                              truth.size());
    return writeFileAtomically((folder / "truth.csv").string(), bytes, error);
}

} // namespace phonaxis::corpus
