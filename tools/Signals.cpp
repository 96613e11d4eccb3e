#include "Signals.h"

#include "document/MyDocument.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <stdexcept>

namespace phonaxis::signals {

namespace {

constexpr double kPi = std::numbers::pi;

std::size_t sampleCount(double durationMs, double rateHz)
{
    const double n = std::round(durationMs * rateHz / 1000.0);
    return n > 0.0 ? static_cast<std::size_t>(n) : 0;
}

// Raised-cosine step from 0 (x <= 0) to 1 (x >= 1).
double smoothStep(double x)
{
    x = std::clamp(x, 0.0, 1.0);
    return 0.5 * (1.0 - std::cos(kPi * x));
}

// One glottal flow cycle at phase 0..1 of the cycle that closes at phase 1.
double flowShape(double phase)
{
    constexpr double closingPart = 1.0 - kFlowClosedPart - kFlowOpeningPart;
    if (phase < kFlowClosedPart || phase >= 1.0) {
        return 0.0;
    }
    if (phase < kFlowClosedPart + kFlowOpeningPart) {
        return smoothStep((phase - kFlowClosedPart) / kFlowOpeningPart);
    }
    return std::cos(0.5 * kPi * (phase - kFlowClosedPart - kFlowOpeningPart) / closingPart);
}

// The glottal flow of every pulse: each cycle ends at its instant and lasts
// its period.
std::vector<float> glottalFlow(const PulseTrain& pulses, std::size_t length)
{
    std::vector<float> flow(length, 0.0f);
    for (std::size_t k = 0; k < pulses.instants.size(); ++k) {
        const double end = pulses.instants[k];
        const double period = pulses.periods[k];
        const double start = end - period;
        const auto first = static_cast<std::int64_t>(std::max(0.0, std::ceil(start)));
        const auto last = std::min(static_cast<std::int64_t>(std::floor(end)),
                                   static_cast<std::int64_t>(length) - 1);
        for (std::int64_t i = first; i <= last; ++i) {
            const double phase = (static_cast<double>(i) - start) / period;
            flow[static_cast<std::size_t>(i)] +=
                static_cast<float>(pulses.amplitudes[k] * flowShape(phase));
        }
    }
    return flow;
}

void scaleToPeak(std::vector<float>& samples, double peak)
{
    float largest = 0.0f;
    for (const float v : samples) {
        largest = std::max(largest, std::fabs(v));
    }
    if (largest > 0.0f) {
        const double gain = peak / largest;
        for (float& v : samples) {
            v = static_cast<float>(v * gain);
        }
    }
}

FormantSet blend(const FormantSet& from, const FormantSet& to, double weight)
{
    FormantSet out{};
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i].frequencyHz =
            from[i].frequencyHz + weight * (to[i].frequencyHz - from[i].frequencyHz);
        out[i].bandwidthHz =
            from[i].bandwidthHz + weight * (to[i].bandwidthHz - from[i].bandwidthHz);
    }
    return out;
}

// The steady stretches keep this far from the start and end of voicing,
// where the pulse amplitude ramps (four cycles, under 45 ms) take place.
constexpr double kSteadyMarginMs = 60.0;

} // namespace

// ---------------------------------------------------------------------------

std::vector<float> tone(double frequencyHz, double rateHz, double durationMs, double amplitude)
{
    std::vector<float> out(sampleCount(durationMs, rateHz));
    const double step = 2.0 * kPi * frequencyHz / rateHz;
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<float>(amplitude * std::sin(step * static_cast<double>(i)));
    }
    return out;
}

// ---------------------------------------------------------------------------

const FormantSet kVowelA = {{{730, 80}, {1090, 90}, {2440, 120}, {3400, 180}, {4500, 250}}};
const FormantSet kVowelI = {{{270, 60}, {2290, 100}, {3010, 120}, {3600, 180}, {4500, 250}}};
const FormantSet kVowelU = {{{300, 60}, {870, 80}, {2240, 120}, {3400, 180}, {4500, 250}}};

std::optional<FormantSet> vowelFormants(char vowel)
{
    switch (vowel) {
    case 'a':
        return kVowelA;
    case 'i':
        return kVowelI;
    case 'u':
        return kVowelU;
    default:
        return std::nullopt;
    }
}

void Resonator::setFormant(Formant formant, double rateHz)
{
    const double r = std::exp(-kPi * formant.bandwidthHz / rateHz);
    m_c = -r * r;
    m_b = 2.0 * r * std::cos(2.0 * kPi * formant.frequencyHz / rateHz);
    m_a = 1.0 - m_b - m_c;
}

double Resonator::magnitude(Formant formant, double frequencyHz, double rateHz)
{
    const Resonator r(formant, rateHz);
    const std::complex<double> z1 = std::polar(1.0, -2.0 * kPi * frequencyHz / rateHz);
    return r.m_a / std::abs(1.0 - r.m_b * z1 - r.m_c * z1 * z1);
}

std::vector<float> applyFormants(std::span<const float> source, const FormantSet& formants,
                                 double rateHz)
{
    std::array<Resonator, 5> cascade;
    for (std::size_t i = 0; i < cascade.size(); ++i) {
        cascade[i].setFormant(formants[i], rateHz);
    }
    std::vector<float> out(source.size());
    for (std::size_t n = 0; n < source.size(); ++n) {
        double y = source[n];
        for (Resonator& r : cascade) {
            y = r.process(y);
        }
        out[n] = static_cast<float>(y);
    }
    return out;
}

std::vector<float> applyFormants(std::span<const float> source,
                                 const std::function<FormantSet(std::size_t)>& formantsAt,
                                 double rateHz)
{
    std::array<Resonator, 5> cascade;
    std::vector<float> out(source.size());
    for (std::size_t n = 0; n < source.size(); ++n) {
        const FormantSet formants = formantsAt(n);
        double y = source[n];
        for (std::size_t i = 0; i < cascade.size(); ++i) {
            cascade[i].setFormant(formants[i], rateHz);
            y = cascade[i].process(y);
        }
        out[n] = static_cast<float>(y);
    }
    return out;
}

double cascadeGainDb(const FormantSet& formants, double frequencyHz, double rateHz)
{
    double db = 0.0;
    for (const Formant& f : formants) {
        db += 20.0 * std::log10(Resonator::magnitude(f, frequencyHz, rateHz));
    }
    return db;
}

// ---------------------------------------------------------------------------

std::vector<double> PulseTrain::instantsMs() const
{
    std::vector<double> out;
    out.reserve(instants.size());
    for (const double t : instants) {
        out.push_back(t * 1000.0 / rateHz);
    }
    return out;
}

PulseTrain pulseTrain(std::span<const double> f0PerSampleHz, double rateHz, PulseOptions options)
{
    PulseTrain train;
    train.rateHz = rateHz;
    const std::size_t n = f0PerSampleHz.size();

    // Integrate F0: a pulse wherever the phase completes a cycle, placed
    // inside its sample step by linear interpolation of the phase.
    bool voiced = false;
    double phase = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double f0 = f0PerSampleHz[i];
        if (!(f0 > 0.0)) {
            voiced = false;
            continue;
        }
        if (!voiced) {
            voiced = true;
            phase = 0.0;
            train.instants.push_back(static_cast<double>(i));
            train.periods.push_back(rateHz / f0);
            train.startsRun.push_back(true);
        }
        const double step = f0 / rateHz;
        if (phase + step >= 1.0) {
            const double t = static_cast<double>(i) + (1.0 - phase) / step;
            // The margin keeps rounding in the phase sum from placing a
            // pulse that belongs at the very end (t = n) inside the signal.
            if (t < static_cast<double>(n) - 1e-6) {
                train.periods.push_back(t - train.instants.back());
                train.instants.push_back(t);
                train.startsRun.push_back(false);
            }
            phase = phase + step - 1.0;
        } else {
            phase += step;
        }
    }

    if (options.shape == PulseShape::Impulse) {
        // Snap to whole samples and keep the truth equal to what is emitted;
        // a last pulse that rounds past the end is dropped.
        if (!train.instants.empty() &&
            std::round(train.instants.back()) >= static_cast<double>(n)) {
            train.instants.pop_back();
            train.periods.pop_back();
            train.startsRun.pop_back();
        }
        double previous = 0.0;
        for (std::size_t k = 0; k < train.instants.size(); ++k) {
            const double snapped = std::round(train.instants[k]);
            if (!train.startsRun[k]) {
                train.periods[k] = snapped - previous;
            }
            train.instants[k] = snapped;
            previous = snapped;
        }
    }

    // Amplitudes: raised-cosine ramps over the first and last pulses of each run.
    const std::size_t count = train.instants.size();
    train.amplitudes.assign(count, 1.0);
    const int ramp = std::max(0, options.rampCycles);
    for (std::size_t runStart = 0; runStart < count;) {
        std::size_t runEnd = runStart + 1;
        while (runEnd < count && !train.startsRun[runEnd]) {
            ++runEnd;
        }
        for (std::size_t k = runStart; k < runEnd; ++k) {
            const auto fromStart = static_cast<double>(k - runStart);
            const auto fromEnd = static_cast<double>(runEnd - 1 - k);
            const double up = smoothStep((fromStart + 1.0) / (ramp + 1.0));
            const double down = smoothStep((fromEnd + 1.0) / (ramp + 1.0));
            train.amplitudes[k] = std::min(up, down);
        }
        runStart = runEnd;
    }

    train.samples.assign(n, 0.0f);
    if (options.shape == PulseShape::Impulse) {
        for (std::size_t k = 0; k < count; ++k) {
            train.samples[static_cast<std::size_t>(train.instants[k])] =
                static_cast<float>(train.amplitudes[k]);
        }
    } else {
        train.flow = glottalFlow(train, n);
        for (std::size_t i = 0; i < n; ++i) {
            train.samples[i] = train.flow[i] - (i > 0 ? train.flow[i - 1] : 0.0f);
        }
        scaleToPeak(train.samples, 1.0);
    }
    return train;
}

PulseTrain pulseTrain(double f0Hz, double rateHz, double durationMs, PulseOptions options)
{
    const std::vector<double> f0(sampleCount(durationMs, rateHz), f0Hz);
    return pulseTrain(f0, rateHz, options);
}

// ---------------------------------------------------------------------------

Vowel vowel(const VowelParams& params)
{
    Vowel v;
    v.pulses =
        pulseTrain(params.f0Hz, params.rateHz, params.durationMs, PulseOptions{params.shape, 0});
    v.samples = applyFormants(v.pulses.samples, params.formants, params.rateHz);
    scaleToPeak(v.samples, params.peak);
    v.formants = params.formants;
    v.f0Hz = params.f0Hz;
    v.rateHz = params.rateHz;
    return v;
}

// ---------------------------------------------------------------------------

double VowelSequence::f0AtMs(double timeMs) const
{
    if (timeMs < voicingStartMs || timeMs >= voicingEndMs) {
        return 0.0;
    }
    const double u = (timeMs - voicingStartMs) / (voicingEndMs - voicingStartMs);
    return 100.0 + 40.0 * std::sin(kPi * u);
}

FormantSet VowelSequence::formantsAtMs(double timeMs) const
{
    const double third = (voicingEndMs - voicingStartMs) / 3.0;
    const double half = kSequenceTransitionMs / 2.0;
    const double toI = voicingStartMs + third;
    const double toU = voicingStartMs + 2.0 * third;
    if (timeMs < toI + half) {
        return blend(kVowelA, kVowelI, smoothStep((timeMs - (toI - half)) / kSequenceTransitionMs));
    }
    return blend(kVowelI, kVowelU, smoothStep((timeMs - (toU - half)) / kSequenceTransitionMs));
}

VowelSequence vowelSequence(double rateHz, double durationMs, double frameStepMs, PulseShape shape)
{
    if (!(durationMs >= 1500.0) || !(rateHz > 0.0) || !(frameStepMs > 0.0)) {
        throw std::invalid_argument("vowelSequence: duration below 1500 ms or bad rate/step");
    }
    VowelSequence seq;
    seq.rateHz = rateHz;
    seq.durationMs = durationMs;
    seq.voicingStartMs = kSequenceSilenceMs;
    seq.voicingEndMs = durationMs - kSequenceSilenceMs;

    const std::size_t n = sampleCount(durationMs, rateHz);
    const double msPerSample = 1000.0 / rateHz;
    std::vector<double> f0(n);
    for (std::size_t i = 0; i < n; ++i) {
        f0[i] = seq.f0AtMs(static_cast<double>(i) * msPerSample);
    }
    seq.pulses = pulseTrain(f0, rateHz, PulseOptions{shape, 4});
    seq.audio = applyFormants(
        seq.pulses.samples,
        [&seq, msPerSample](std::size_t i) {
            return seq.formantsAtMs(static_cast<double>(i) * msPerSample);
        },
        rateHz);
    scaleToPeak(seq.audio, 0.8);

    const auto frameCount = static_cast<std::size_t>(std::ceil(durationMs / frameStepMs));
    for (std::size_t k = 0; k < frameCount; ++k) {
        const double t = static_cast<double>(k) * frameStepMs;
        seq.frames.push_back({t, seq.f0AtMs(t), seq.formantsAtMs(t)});
    }

    const double third = (seq.voicingEndMs - seq.voicingStartMs) / 3.0;
    const double half = kSequenceTransitionMs / 2.0;
    const double toI = seq.voicingStartMs + third;
    const double toU = seq.voicingStartMs + 2.0 * third;
    seq.steady = {{'a', seq.voicingStartMs + kSteadyMarginMs, toI - half, kVowelA},
                  {'i', toI + half, toU - half, kVowelI},
                  {'u', toU + half, seq.voicingEndMs - kSteadyMarginMs, kVowelU}};
    return seq;
}

// ---------------------------------------------------------------------------

EggSignal eggSignal(const PulseTrain& pulses, std::size_t length, double thresholdFraction,
                    const EggShape& shape)
{
    EggSignal egg;
    egg.rateHz = pulses.rateHz;
    egg.thresholdFraction = thresholdFraction;
    egg.samples.assign(length, static_cast<float>(shape.baseLevel));

    const double peakPart = shape.risePart + shape.holdPart;
    const double contactPhase = shape.risePart * std::asin(thresholdFraction) * 2.0 / kPi;
    const double decontactPhase =
        peakPart + shape.fallPart * std::acos(thresholdFraction) * 2.0 / kPi;
    const double msPerSample = 1000.0 / pulses.rateHz;

    const std::size_t count = pulses.instants.size();
    std::vector<bool> nextInRun(count, false);
    for (std::size_t k = 0; k < count; ++k) {
        const double start = pulses.instants[k];
        nextInRun[k] = k + 1 < count && !pulses.startsRun[k + 1];
        const double period = nextInRun[k] ? pulses.instants[k + 1] - start : pulses.periods[k];
        const double swing = shape.amplitude * pulses.amplitudes[k];

        const auto first = static_cast<std::int64_t>(std::ceil(start));
        const auto last = std::min(static_cast<std::int64_t>(std::ceil(start + period)),
                                   static_cast<std::int64_t>(length));
        for (std::int64_t i = first; i < last; ++i) {
            const double phase = (static_cast<double>(i) - start) / period;
            // Quarter waves: steep where they meet the base level, so the
            // lowest point of the cycle is the flat open phase itself.
            double s = 0.0;
            if (phase < shape.risePart) {
                s = std::sin(0.5 * kPi * phase / shape.risePart);
            } else if (phase < peakPart) {
                s = 1.0;
            } else if (phase < peakPart + shape.fallPart) {
                s = std::cos(0.5 * kPi * (phase - peakPart) / shape.fallPart);
            }
            egg.samples[static_cast<std::size_t>(i)] =
                static_cast<float>(shape.baseLevel + swing * s);
        }

        EggCycleTruth c;
        c.startIndex = start;
        c.baseValue = shape.baseLevel;
        c.peakValue = shape.baseLevel + swing;
        c.levelValue = shape.baseLevel + thresholdFraction * swing;
        const double contact = start + contactPhase * period;
        const double decontact = start + decontactPhase * period;
        c.contactMs = contact * msPerSample;
        c.decontactMs = decontact * msPerSample;
        c.contactIndex = static_cast<std::int64_t>(std::ceil(contact));
        c.decontactIndex = static_cast<std::int64_t>(std::ceil(decontact));
        if (c.decontactIndex >= static_cast<std::int64_t>(length)) {
            break; // the contact phase does not fit: no truth for it
        }
        egg.cycles.push_back(c);
    }

    for (std::size_t k = 0; k + 1 < egg.cycles.size(); ++k) {
        if (nextInRun[k]) {
            EggCycleTruth& c = egg.cycles[k];
            c.closedQuotient =
                (c.decontactMs - c.contactMs) / (egg.cycles[k + 1].contactMs - c.contactMs);
        }
    }
    return egg;
}

// ---------------------------------------------------------------------------

std::vector<float> airflow(const PulseTrain& pulses, std::size_t length, std::uint32_t seed)
{
    const std::vector<float> flow =
        pulses.flow.size() >= length ? pulses.flow : glottalFlow(pulses, length);
    std::mt19937 noise(seed);
    const double twoPiBreathing = 2.0 * kPi * 0.4 / pulses.rateHz;
    std::vector<double> raw(length);
    for (std::size_t i = 0; i < length; ++i) {
        // Uniform in [-0.5, 0.5) from the generator's raw bits, the same on every platform.
        const double u = static_cast<double>(noise()) / 4294967296.0 - 0.5;
        raw[i] = 0.05 + 0.02 * std::sin(twoPiBreathing * static_cast<double>(i)) + 1.2 * flow[i] +
                 0.02 * u;
    }
    // Two one-pole low-passes at 20 Hz, started at the first value so there
    // is no settling ramp.
    const double alpha = 1.0 - std::exp(-2.0 * kPi * 20.0 / pulses.rateHz);
    std::vector<float> out(length);
    double s1 = length > 0 ? raw[0] : 0.0;
    double s2 = s1;
    for (std::size_t i = 0; i < length; ++i) {
        s1 += alpha * (raw[i] - s1);
        s2 += alpha * (s1 - s2);
        out[i] = static_cast<float>(s2);
    }
    return out;
}

// ---------------------------------------------------------------------------

DemoRecording demoRecording()
{
    DemoRecording demo;
    demo.speech = vowelSequence(22050.0, 3500.0, 10.0, PulseShape::GlottalFlowDerivative);
    const std::size_t n = demo.speech.audio.size();
    demo.egg = eggSignal(demo.speech.pulses, n);
    demo.airflow = airflow(demo.speech.pulses, n);
    return demo;
}

std::optional<Bytes>
waveFileBytes(double rateHz, std::span<const std::span<const float>> channels, Prompts& prompts)
{
    // The writer reads only the samples, their count and the rate.
    MyDocument document(prompts);
    const auto count = static_cast<std::int32_t>(
        std::min<std::size_t>(channels.size(), MyDocument::kChannelSlots));
    for (std::int32_t i = 0; i < count; ++i) {
        const std::span<const float> data = channels[static_cast<std::size_t>(i)];
        const auto frames = static_cast<double>(data.size());
        Channels& channel = document.getChannel(i);
        if (!channel.setData(data.data(), frames)) {
            return std::nullopt;
        }
        channel.m_dSampleRate = rateHz;
        channel.m_dwFileLength = frames;
        channel.m_dLengthMS = frames * 1000.0 / rateHz;
    }
    document.m_nNumofChannels = count;
    document.m_bHaveData = count > 0;
    return document.Save_WAVE_FileType_float(false, -1, count, false);
}

} // namespace phonaxis::signals
