// The analyses on long recordings, timed as the windows run them.
//
// * Pitch/threads:T: the pitch window's cepstral track (DoPitchCepstral, the
//   document's default parameters) over 60 min of 44,100 Hz speech.
// * Intensity: the channel's intensity track (CalculateIntensity) over the
//   same recording; IntensityLongWindow the same with a 500 ms window and a
//   1 ms step (frames overlapping 499 of every 500 ms).
// * SpectrumLongStretch: the spectrum window's averaged spectrum with LPC
//   formants over 3.5 s of the recording, a 1 ms step and LPC order 400.
// * Spectrogram/threads:T: a 1,000-column × 256-row spectrogram with formant
//   tracks (DoSpectrogram) over the whole recording, 512-point transform.
// * Egg: the whole EGG analysis of 10 min at 22,050 Hz: velocity and
//   acceleration with the channel's default smoothing windows, then cycle
//   detection with the closed quotients over the whole channel.
// * PitchFrame: one DoPitchCepstrumNewFloat frame with the transform and
//   window the track above uses, to follow the kernel.
// * LpcFrame/at_ms:T: the formants of one order-40 LPC frame (40 ms,
//   Hamming, roots only, as a formant track takes them) of the demo's vowel
//   at T ms. At 510 ms the factoring iteration gets through; at 500 ms it
//   gives up and the roots come from the companion matrix instead.
//
// The recordings (tools/AnalysisRecordings.h) are built once, before the
// first benchmark that needs them; PHONAXIS_BENCH_SPEECH_MIN and
// PHONAXIS_BENCH_EGG_MIN shorten them (minutes). `phonaxis-gen
// bench-recordings` writes the same samples as WAV for the reference tool
// (bench/praat/compare.sh runs both).
//
// A track must not depend on the number of threads: the first track of each
// analysis is kept, and every later one, with any thread count, must equal
// it value for value; the program aborts otherwise. Times are wall-clock
// (UseRealTime), since the work is spread over threads.

#include "AnalysisRecordings.h"
#include "Signals.h"

#include "analysis/CMathFunc.h"
#include "model/Channels.h"
#include "windows/PitchAnalysis.h"
#include "windows/SpectrogramAnalysis.h"
#include "windows/SpectrumAnalysis.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace {

using namespace phonaxis;

double minutesFromEnvironment(const char* name, double fallback)
{
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return fallback;
    }
    char* end = nullptr;
    const double minutes = std::strtod(text, &end);
    if (*end != '\0' || !(minutes > 0.0) || minutes > 240.0) {
        std::fprintf(stderr, "%s must be a number of minutes in (0, 240], not \"%s\"\n", name,
                     text);
        std::exit(2);
    }
    return minutes;
}

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "AnalysisBench: %s\n", what);
    std::abort();
}

void loadChannel(Channels& channel, const std::vector<float>& samples, double rateHz)
{
    const auto n = static_cast<double>(samples.size());
    if (!channel.setData(samples.data(), n)) {
        fail("cannot hold the recording in a channel");
    }
    channel.m_dwFileLength = n;
    channel.m_dSampleRate = rateHz;
    channel.m_dLengthMS = n * 1000.0 / rateHz;
    channel.m_nChannelType = 1;
}

// The speech channel, built on first use and shared by every speech benchmark.
Channels& speechChannel()
{
    static Channels channel = [] {
        Channels c;
        loadChannel(c,
                    bench::speechRecording(
                        minutesFromEnvironment("PHONAXIS_BENCH_SPEECH_MIN", 60.0) * 60000.0),
                    bench::kSpeechRateHz);
        return c;
    }();
    return channel;
}

Channels& eggChannel()
{
    static Channels channel = [] {
        Channels c;
        loadChannel(c,
                    bench::eggRecording(minutesFromEnvironment("PHONAXIS_BENCH_EGG_MIN", 10.0) *
                                        60000.0),
                    bench::kEggRateHz);
        return c;
    }();
    return channel;
}

// The first result of an analysis; every later one must equal it.
template <typename T>
void checkSameAsFirst(std::optional<T>& first, const T& result, const char* what)
{
    if (!first) {
        first = result;
    } else if (!(*first == result)) {
        std::fprintf(stderr, "AnalysisBench: the %s differs between thread counts\n", what);
        std::abort();
    }
}

// --- pitch ----------------------------------------------------------------------

void Pitch(benchmark::State& state)
{
    static std::optional<std::vector<double>> firstTrack;
    const int threads = static_cast<int>(state.range(0));
    const Channels& channel = speechChannel();
    PitchAnalysis pitch;
    for (auto _ : state) {
        pitch.intilize(channel, 0, PitchParameters{});
        if (!pitch.DoPitchCepstral(channel.samples(), threads)) {
            fail("no pitch track");
        }
        benchmark::DoNotOptimize(pitch.m_hdPitchFile.data());
    }
    checkSameAsFirst(firstTrack, pitch.m_hdPitchFile, "pitch track");
    int voiced = 0;
    for (const double hz : pitch.m_hdPitchFile) {
        voiced += hz > 0.0;
    }
    state.counters["frames"] = pitch.m_nFrameCount;
    state.counters["voiced"] = voiced;
    state.counters["fft"] = pitch.fftLength();
}

// The transform length and window the pitch track uses on the speech channel.
std::pair<int, int> pitchFrameShape()
{
    Channels oneSecond;
    const std::span<const float> samples = speechChannel().samples();
    const std::size_t count = std::min<std::size_t>(samples.size(), 44100); // one second
    const std::vector<float> head(samples.begin(),
                                  samples.begin() + static_cast<std::ptrdiff_t>(count));
    loadChannel(oneSecond, head, bench::kSpeechRateHz);
    PitchAnalysis pitch;
    pitch.intilize(oneSecond, 0, PitchParameters{});
    if (!pitch.DoPitchCepstral(oneSecond.samples(), 1)) {
        fail("no pitch track");
    }
    return {pitch.fftLength(), pitch.windowSamples()};
}

void PitchFrame(benchmark::State& state)
{
    const std::span<const float> samples = speechChannel().samples();
    const auto [fftLength, windowSamples] = pitchFrameShape();
    const double step = bench::kSpeechRateHz / 100.0;
    const double frames = static_cast<double>(samples.size()) / step;
    double k = 0.0;
    for (auto _ : state) {
        // Walk through the recording so that voiced and silent frames alternate as in a track.
        const double hz = CMathFunc::DoPitchCepstrumNewFloat(
            samples, k * step, static_cast<double>(samples.size()), bench::kSpeechRateHz, 50.0,
            500.0, fftLength, windowSamples);
        benchmark::DoNotOptimize(hz);
        k = k + 997.0 < frames ? k + 997.0 : k + 997.0 - frames;
    }
    state.counters["fft"] = fftLength;
    state.SetItemsProcessed(state.iterations());
}

// --- intensity ------------------------------------------------------------------

void Intensity(benchmark::State& state)
{
    Channels& channel = speechChannel();
    for (auto _ : state) {
        if (!channel.CalculateIntensity()) {
            fail("no intensity track");
        }
        benchmark::DoNotOptimize(channel.m_hfDataIntensity.data());
    }
    state.counters["maxDb"] = channel.m_dIntensityMax;
    channel.m_hfDataIntensity.reset(); // its memory is not needed by the others
}

void IntensityLongWindow(benchmark::State& state)
{
    Channels& channel = speechChannel();
    const double window = channel.m_dIntensityWindowLengthMS;
    const double step = channel.m_dIntensityStepSizeMS;
    channel.m_dIntensityWindowLengthMS = 500.0;
    channel.m_dIntensityStepSizeMS = 1.0;
    for (auto _ : state) {
        if (!channel.CalculateIntensity()) {
            fail("no intensity track");
        }
        benchmark::DoNotOptimize(channel.m_hfDataIntensity.data());
    }
    channel.m_dIntensityWindowLengthMS = window;
    channel.m_dIntensityStepSizeMS = step;
    channel.m_hfDataIntensity.reset();
}

void SpectrumLongStretch(benchmark::State& state)
{
    const Channels& channel = speechChannel();
    SpectrumParameters parameters;
    parameters.m_nFFTWindowLengthMS = 5;
    parameters.m_nFFTfreqRange = 5000;
    parameters.m_nAverageStepSize = 1;
    parameters.m_nLPCNumCoeff = 400;
    const double start = 10.0 * channel.m_dSampleRate; // 10 s in
    const double stop = start + 3.5 * channel.m_dSampleRate;
    SpectrumAnalysis analysis;
    for (auto _ : state) {
        if (analysis.PerformFFTLPC(channel.samples(), start, stop, channel.m_dwFileLength,
                                   channel.m_dSampleRate, parameters) != SpectrumStart::Computed) {
            fail("no spectrum");
        }
        benchmark::DoNotOptimize(analysis.m_dFormat.data());
    }
    state.counters["frames"] = analysis.framesAnalysed();
}

// --- spectrogram ----------------------------------------------------------------

const SpectrogramInput& spectrogramInput()
{
    static const SpectrogramInput input = [] {
        const Channels& channel = speechChannel();
        SpectrogramInput in;
        const std::span<const float> samples = channel.samples();
        in.samples.assign(samples.begin(), samples.end());
        in.offset = 0.0;
        in.fileLength = channel.m_dwFileLength;
        in.sampleRate = channel.m_dSampleRate;
        in.startPoint = 0.0;
        in.endPoint = channel.m_dwFileLength;
        in.startTime = 0.0;
        in.stopTime = channel.m_dLengthMS;
        in.columns = 1000;
        in.rows = 256;
        in.parameters.m_nFFTWindLength = 512; // 11.6 ms at 44.1 kHz
        in.parameters.m_bFormantTracking = true;
        return in;
    }();
    return input;
}

struct SpectrogramSummary {
    std::vector<double> levels;
    std::vector<FormantRecord> formants;
    bool operator==(const SpectrogramSummary&) const = default;
};

void Spectrogram(benchmark::State& state)
{
    static std::optional<SpectrogramSummary> first;
    const int threads = static_cast<int>(state.range(0));
    const SpectrogramInput& input = spectrogramInput();
    SpectrogramResult result;
    for (auto _ : state) {
        result = DoSpectrogram(input, nullptr, threads);
        if (!result.m_bHaveSpectrogram || !result.m_bHaveFormants) {
            fail("no spectrogram or no formant tracks");
        }
        benchmark::DoNotOptimize(result.levels.data());
    }
    checkSameAsFirst(first, SpectrogramSummary{result.levels, result.formants}, "spectrogram");
    int withF1 = 0;
    for (const FormantRecord& record : result.formants) {
        withF1 += record[0] > 0;
    }
    state.counters["columnsWithF1"] = withF1;
}

// --- one LPC frame ---------------------------------------------------------------

void LpcFrame(benchmark::State& state)
{
    static const signals::DemoRecording demo = signals::demoRecording();
    constexpr int kOrder = 40;
    const double rate = demo.speech.rateHz;
    const auto window = static_cast<std::size_t>(kOrder * rate / 1000.0);
    const auto first = static_cast<std::size_t>(static_cast<double>(state.range(0)) * rate / 1000.0);
    const std::span<const float> speech(demo.speech.audio);
    std::vector<double> frame(window + 4);
    int formants = 0;
    for (auto _ : state) {
        std::copy_n(speech.begin() + static_cast<std::ptrdiff_t>(first), frame.size(),
                    frame.begin());
        if (!CMathFunc::DoLPC(frame, kOrder, static_cast<int>(window), 0.0, 1, 0, 0, 0, rate, 1,
                              1) ||
            CMathFunc::lp_Roots == nullptr) {
            fail("no LPC roots");
        }
        formants = CMathFunc::lp_Roots->formantCount;
        benchmark::DoNotOptimize(formants);
    }
    state.counters["formants"] = formants;
}

// --- EGG --------------------------------------------------------------------------

void Egg(benchmark::State& state)
{
    Channels& channel = eggChannel();
    for (auto _ : state) {
        if (!channel.CalculateAcceleration(channel.m_dVelocitySmoothingWindow,
                                           channel.m_dAccelerationSmoothingWindow) ||
            !channel.DoPositionCycleDetection(0.0, channel.m_dwFileLength)) {
            fail("the EGG analysis declined");
        }
        benchmark::DoNotOptimize(channel.m_pArrayCycle.data());
    }
    state.counters["cycles"] = static_cast<double>(channel.m_pArrayCycle.size());
}

BENCHMARK(Pitch)->Arg(1)->Arg(2)->ArgName("threads")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PitchFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(LpcFrame)->Arg(510)->Arg(500)->ArgName("at_ms")->Unit(benchmark::kMicrosecond);
BENCHMARK(Intensity)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(IntensityLongWindow)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(SpectrumLongStretch)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Spectrogram)
    ->Arg(1)
    ->Arg(2)
    ->ArgName("threads")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(Egg)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
