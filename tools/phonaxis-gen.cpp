// phonaxis-gen: writes the demo recording, the fuzzers' seed corpus and
// ad-hoc reference files, all synthesised by our own code.

#include "AnalysisRecordings.h"
#include "NativeTestFiles.h"
#include "PitchCorpus.h"
#include "Signals.h"
#include "TestFiles.h"
#include "VoiceSignals.h"
#include "VowelCorpus.h"

#include "document/AutomaticPrompts.h"
#include "document/FileIO.h"
#include "document/Prompts.h"
#include "hardware/FirmwareImage.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace phonaxis;

constexpr const char* kUsage =
    "usage: phonaxis-gen demo OUT.wav\n"
    "       phonaxis-gen seeds DIR\n"
    "       phonaxis-gen vowel OUT.wav [--f0 HZ] [--rate HZ] [--ms MS] [--vowel a|i|u]\n"
    "       phonaxis-gen tone OUT.wav [--freq HZ] [--rate HZ] [--ms MS]\n"
    "       phonaxis-gen bench-recordings DIR [--speech-min MIN] [--egg-min MIN]\n"
    "       phonaxis-gen pitch-corpus DIR\n"
    "       phonaxis-gen vowel-corpus DIR\n"
    "       phonaxis-gen voice OUT.wav [--rate HZ] [--f0 HZ] [--ms MS] [--jitter PCT]\n"
    "                 [--shimmer PCT] [--hnr DB] [--vowel a|i|u] [--seed N]\n"
    "       phonaxis-gen firmware OUT.hex\n"
    "\n"
    "  demo   22,050 Hz, 3.5 s: an a-i-u vowel sequence, its EGG and an airflow channel\n"
    "  seeds  small valid and damaged WAV, AIFF and native files for the fuzzers\n"
    "  vowel  a synthetic vowel, pulse train through five formants\n"
    "         (defaults: --f0 100 --rate 10000 --ms 500 --vowel a)\n"
    "  tone   a sine tone (defaults: --freq 1000 --rate 10000 --ms 500)\n"
    "  bench-recordings  the analysis benchmarks' recordings: DIR/speech.wav (44,100 Hz)\n"
    "         and DIR/egg.wav (22,050 Hz) (defaults: --speech-min 60 --egg-min 10)\n"
    "  pitch-corpus  F0 glides, clean and noisy, at 16,000, 22,050 and 44,100 Hz:\n"
    "         DIR/NAME.wav and its truth every 10 ms, DIR/NAME.f0\n"
    "  vowel-corpus  320 synthetic vowels (men and women, F0 100 and 200 Hz, 10,000 to\n"
    "         44,100 Hz, 16-bit and float) and their true formants, DIR/truth.csv\n"
    "  voice  a sustained vowel with known jitter, shimmer and HNR: channel 1 the\n"
    "         audio, channel 2 its EGG; the truth in OUT.wav.truth.tsv (defaults:\n"
    "         --rate 22050 --f0 120 --ms 2000 --jitter 1 --shimmer 3 --hnr 20\n"
    "         --vowel a --seed 1)\n"
    "  firmware  a synthetic box firmware image as Intel HEX, for the simulated box\n"
    "         (200 records of 16 bytes below 0x0E00; no real controller code)\n";


int usageError(const std::string& message)
{
    std::fprintf(stderr, "phonaxis-gen: %s\n\n%s", message.c_str(), kUsage);
    return 2;
}

// Options "--name value" after the output path; every name must be known.
bool parseOptions(int argc, char** argv, int first, std::map<std::string, std::string>& options,
                  std::string& error)
{
    for (int i = first; i < argc; i += 2) {
        const std::string name = argv[i];
        if (options.find(name) == options.end()) {
            error = "unknown option \"" + name + "\"";
            return false;
        }
        if (i + 1 >= argc) {
            error = "option " + name + " needs a value";
            return false;
        }
        options[name] = argv[i + 1];
    }
    return true;
}

// A finite number within [low, high].
bool parseNumber(const std::map<std::string, std::string>& options, const std::string& name,
                 double low, double high, double& value, std::string& error)
{
    const std::string& text = options.at(name);
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(v) || v < low ||
        v > high) {
        char range[96];
        std::snprintf(range, sizeof range, "%g and %g", low, high);
        error = name + " must be a number between " + range + ", not \"" + text + "\"";
        return false;
    }
    value = v;
    return true;
}

int writeWave(const std::string& path, double rateHz,
              std::span<const std::span<const float>> channels)
{
    AutomaticPrompts prompts(&std::cerr, "phonaxis-gen: ");
    const auto bytes = signals::waveFileBytes(rateHz, channels, prompts);
    if (!bytes) {
        std::fprintf(stderr, "phonaxis-gen: the WAV writer declined \"%s\"\n", path.c_str());
        return 1;
    }
    std::string error;
    if (!writeFileAtomically(path, *bytes, error)) {
        std::fprintf(stderr, "phonaxis-gen: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

int runDemo(const std::string& path)
{
    const signals::DemoRecording demo = signals::demoRecording();
    const std::span<const float> channels[] = {demo.speech.audio, demo.egg.samples, demo.airflow};
    return writeWave(path, demo.speech.rateHz, channels);
}

int runSeeds(const std::string& dir)
{
    std::string error;
    if (!testfiles::writeSeedCorpus(dir, error) || !testfiles::writeNativeSeedCorpus(dir, error)) {
        std::fprintf(stderr, "phonaxis-gen: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

int runVowelCorpus(const std::string& dir)
{
    std::string error;
    if (!corpus::writeVowelCorpus(dir, error)) {
        std::fprintf(stderr, "phonaxis-gen: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

constexpr double kMinRateHz = 1000.0;
constexpr double kMaxRateHz = 192000.0;
constexpr double kMaxMs = 600000.0;

int runVowel(const std::string& path, int argc, char** argv)
{
    std::map<std::string, std::string> options = {
        {"--f0", "100"}, {"--rate", "10000"}, {"--ms", "500"}, {"--vowel", "a"}};
    std::string error;
    signals::VowelParams params;
    if (!parseOptions(argc, argv, 3, options, error) ||
        !parseNumber(options, "--rate", kMinRateHz, kMaxRateHz, params.rateHz, error) ||
        !parseNumber(options, "--f0", 20.0, 1000.0, params.f0Hz, error) ||
        !parseNumber(options, "--ms", 1.0, kMaxMs, params.durationMs, error)) {
        return usageError(error);
    }
    const std::string& name = options.at("--vowel");
    const auto formants = name.size() == 1 ? signals::vowelFormants(name[0]) : std::nullopt;
    if (!formants) {
        return usageError("--vowel must be a, i or u, not \"" + name + "\"");
    }
    // The upper formants must lie below the Nyquist frequency.
    for (const signals::Formant& f : *formants) {
        if (f.frequencyHz + f.bandwidthHz >= params.rateHz / 2.0) {
            return usageError("--rate must exceed " +
                              std::to_string(int(2.0 * (f.frequencyHz + f.bandwidthHz))) +
                              " Hz for five formants");
        }
    }
    params.formants = *formants;
    const signals::Vowel v = signals::vowel(params);
    const std::span<const float> channels[] = {v.samples};
    return writeWave(path, params.rateHz, channels);
}

int runTone(const std::string& path, int argc, char** argv)
{
    std::map<std::string, std::string> options = {
        {"--freq", "1000"}, {"--rate", "10000"}, {"--ms", "500"}};
    std::string error;
    double rateHz = 0.0;
    double freqHz = 0.0;
    double ms = 0.0;
    if (!parseOptions(argc, argv, 3, options, error) ||
        !parseNumber(options, "--rate", kMinRateHz, kMaxRateHz, rateHz, error) ||
        !parseNumber(options, "--ms", 1.0, kMaxMs, ms, error)) {
        return usageError(error);
    }
    if (!parseNumber(options, "--freq", 0.0, rateHz / 2.0, freqHz, error)) {
        return usageError(error + " (half the rate at most)");
    }
    const std::vector<float> samples = signals::tone(freqHz, rateHz, ms);
    const std::span<const float> channels[] = {samples};
    return writeWave(path, rateHz, channels);
}

// Creates `dir` and its parents; false, told on stderr, when it cannot.
bool createFolder(const std::string& dir)
{
    std::error_code made;
    std::filesystem::create_directories(dir, made);
    if (made) {
        std::fprintf(stderr, "phonaxis-gen: cannot create \"%s\": %s\n", dir.c_str(),
                     made.message().c_str());
        return false;
    }
    return true;
}

// The analysis benchmarks' recordings as float WAV files, the same samples the
// benchmark program builds in memory for the same durations.
int runBenchRecordings(const std::string& dir, int argc, char** argv)
{
    std::map<std::string, std::string> options = {{"--speech-min", "60"}, {"--egg-min", "10"}};
    std::string error;
    double speechMin = 0.0;
    double eggMin = 0.0;
    if (!parseOptions(argc, argv, 3, options, error) ||
        !parseNumber(options, "--speech-min", 0.1, 240.0, speechMin, error) ||
        !parseNumber(options, "--egg-min", 0.1, 240.0, eggMin, error)) {
        return usageError(error);
    }
    if (!createFolder(dir)) {
        return 1;
    }
    const std::filesystem::path folder(dir);
    {
        const std::vector<float> speech = bench::speechRecording(speechMin * 60000.0);
        const std::span<const float> channels[] = {speech};
        if (const int status = writeWave((folder / "speech.wav").string(), bench::kSpeechRateHz,
                                         channels);
            status != 0) {
            return status;
        }
    }
    const std::vector<float> egg = bench::eggRecording(eggMin * 60000.0);
    const std::span<const float> channels[] = {egg};
    return writeWave((folder / "egg.wav").string(), bench::kEggRateHz, channels);
}

// The pitch corpus: each glide as a float WAV file with its truth beside it.
int runPitchCorpus(const std::string& dir)
{
    if (!createFolder(dir)) {
        return 1;
    }
    const std::filesystem::path folder(dir);
    for (const signals::GlideEntry& entry : signals::pitchCorpus()) {
        const signals::Glide glide = signals::pitchGlide(entry.params);
        const std::span<const float> channels[] = {glide.samples};
        if (const int status =
                writeWave((folder / (entry.name + ".wav")).string(), glide.rateHz, channels);
            status != 0) {
            return status;
        }
        const std::string truth = signals::glideTruthText(glide);
        std::string error;
        if (!writeFileAtomically(
                (folder / (entry.name + ".f0")).string(),
                std::span(reinterpret_cast<const std::uint8_t*>(truth.data()), truth.size()),
                error)) {
            std::fprintf(stderr, "phonaxis-gen: %s\n", error.c_str());
            return 1;
        }
    }
    return 0;
}

// A stand-in for the box controller's firmware: the simulated box checks only
// that it received a well-formed image, and the real image is not ours to
// ship. 200 records of 16 bytes of a fixed pseudo-random pattern, at
// addresses scattered (without overlap) below 0x0E00, then the end record.
int runFirmware(const std::string& path)
{
    constexpr std::uint32_t kRecords = 200;
    constexpr std::uint32_t kSlots = 0x0E00 / 16;  // 224 16-byte places below 0x0E00
    FirmwareImage image;
    std::uint32_t state = 0x2E7B1601;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 24;
    };
    for (std::uint32_t i = 0; i < kRecords; ++i) {
        FirmwareRecord record;
        record.Length = 16;
        // 97 is prime to 224, so i -> 97 i mod 224 visits each place once.
        record.Address = (i * 97 % kSlots) * 16;
        for (std::uint8_t& byte : record.Data) {
            byte = static_cast<std::uint8_t>(next());
        }
        image.records.push_back(record);
    }
    FirmwareRecord end;
    end.Type = 1;
    image.records.push_back(end);
    const std::string text = image.toHex();
    std::string error;
    if (!writeFileAtomically(
            path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
            error)) {
        std::fprintf(stderr, "phonaxis-gen: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

int runVoice(const std::string& path, int argc, char** argv)
{
    std::map<std::string, std::string> options = {
        {"--rate", "22050"}, {"--f0", "120"},  {"--ms", "2000"},  {"--jitter", "1"},
        {"--shimmer", "3"},  {"--hnr", "20"},  {"--vowel", "a"}, {"--seed", "1"}};
    std::string error;
    signals::VoiceSignalParams params;
    double seed = 0.0;
    if (!parseOptions(argc, argv, 3, options, error) ||
        !parseNumber(options, "--rate", 16000.0, kMaxRateHz, params.rateHz, error) ||
        !parseNumber(options, "--f0", 60.0, 500.0, params.f0Hz, error) ||
        !parseNumber(options, "--ms", 200.0, kMaxMs, params.durationMs, error) ||
        !parseNumber(options, "--jitter", 0.0, 10.0, params.jitterPct, error) ||
        !parseNumber(options, "--shimmer", 0.0, 30.0, params.shimmerPct, error) ||
        !parseNumber(options, "--hnr", -10.0, 80.0, params.hnrDb, error) ||
        !parseNumber(options, "--seed", 0.0, 4294967295.0, seed, error)) {
        return usageError(error);
    }
    const std::string& name = options.at("--vowel");
    if (name.size() != 1 || !signals::vowelFormants(name[0])) {
        return usageError("--vowel must be a, i or u, not \"" + name + "\"");
    }
    params.vowel = name[0];
    params.seed = static_cast<std::uint32_t>(seed);
    const signals::VoiceSignal voice = signals::voiceSignal(params);
    const std::span<const float> channels[] = {voice.audio, voice.egg};
    if (const int status = writeWave(path, params.rateHz, channels); status != 0) {
        return status;
    }
    const std::string truth = signals::voiceTruthText(voice, params);
    if (!writeFileAtomically(
            path + ".truth.tsv",
            std::span(reinterpret_cast<const std::uint8_t*>(truth.data()), truth.size()), error)) {
        std::fprintf(stderr, "phonaxis-gen: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

int run(int argc, char** argv)
{
    if (argc < 3) {
        return usageError(argc < 2 ? "no command given" : "no output given");
    }
    const std::string command = argv[1];
    const std::string out = argv[2];
    if (command == "demo" || command == "seeds" || command == "vowel-corpus" ||
        command == "pitch-corpus" || command == "firmware") {
        if (argc != 3) {
            return usageError(command + " takes no options");
        }
        return command == "demo"           ? runDemo(out)
               : command == "seeds"        ? runSeeds(out)
               : command == "vowel-corpus" ? runVowelCorpus(out)
               : command == "firmware"     ? runFirmware(out)
                                           : runPitchCorpus(out);
    }
    if (command == "vowel") {
        return runVowel(out, argc, argv);
    }
    if (command == "voice") {
        return runVoice(out, argc, argv);
    }
    if (command == "tone") {
        return runTone(out, argc, argv);
    }
    if (command == "bench-recordings") {
        return runBenchRecordings(out, argc, argv);
    }
    return usageError("unknown command \"" + command + "\"");
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "phonaxis-gen: %s\n", e.what());
        return 1;
    }
}
