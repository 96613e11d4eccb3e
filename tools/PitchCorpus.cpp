#include "PitchCorpus.h"

#include "Signals.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>

namespace phonaxis::signals {
namespace {

enum class Part { Silence, Rise, Fall, RiseFall, Noise };

struct Segment {
    double startMs;
    double endMs;
    Part part;
    char vowel;
};

constexpr Segment kLayout[] = {
    {0.0, 300.0, Part::Silence, 'a'},      {300.0, 1500.0, Part::Rise, 'a'},
    {1500.0, 1800.0, Part::Silence, 'a'},  {1800.0, 2050.0, Part::Noise, 'a'},
    {2050.0, 3250.0, Part::Fall, 'i'},     {3250.0, 3400.0, Part::Noise, 'i'},
    {3400.0, 4200.0, Part::RiseFall, 'u'}, {4200.0, 4500.0, Part::Silence, 'u'},
};
constexpr double kLayoutMs = 4500.0;

constexpr double kFemaleFormantScale = 1.17;
constexpr double kVoicedPeak = 0.5;
constexpr double kFloorDb = -50.0;
constexpr double kFricativeDb = -10.0; // against the voiced stretches' power

// Gaussian noise from the raw generator output (Box–Muller), the same on
// every standard library.
class Gaussian {
public:
    explicit Gaussian(std::uint32_t seed) : m_engine(seed) {}
    double operator()()
    {
        const auto uniform = [this] {
            return (static_cast<double>(m_engine()) + 0.5) / 4294967296.0;
        };
        const double radius = std::sqrt(-2.0 * std::log(uniform()));
        return radius * std::cos(2.0 * std::numbers::pi * uniform());
    }

private:
    std::mt19937 m_engine;
};

std::vector<double> whiteNoise(std::size_t length, std::uint32_t seed)
{
    Gaussian gaussian(seed);
    std::vector<double> noise(length);
    for (double& x : noise) {
        x = gaussian();
    }
    return noise;
}

// Noise whose power falls by about 3 dB per octave: white noise through three
// first-order low-pass sections with staggered corners and a direct path.
std::vector<double> pinkNoise(std::size_t length, std::uint32_t seed)
{
    std::vector<double> noise = whiteNoise(length, seed);
    double b0 = 0.0;
    double b1 = 0.0;
    double b2 = 0.0;
    for (double& x : noise) {
        b0 = 0.99765 * b0 + x * 0.0990460;
        b1 = 0.96300 * b1 + x * 0.2965164;
        b2 = 0.57000 * b2 + x * 1.0526913;
        x = b0 + b1 + b2 + x * 0.1848;
    }
    return noise;
}

double meanPower(const std::vector<double>& x, const std::vector<bool>& where)
{
    double sum = 0.0;
    std::size_t count = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (where.empty() || where[i]) {
            sum += x[i] * x[i];
            ++count;
        }
    }
    return count > 0 ? sum / static_cast<double>(count) : 0.0;
}

// Adds `noise` scaled to `powerRatio` × `reference` power over `where` (all
// samples when empty).
void addNoise(std::vector<double>& signal, const std::vector<double>& noise, double reference,
              double powerRatio, const std::vector<bool>& where = {})
{
    const double power = meanPower(noise, where);
    if (!(power > 0.0)) {
        return;
    }
    const double gain = std::sqrt(reference * powerRatio / power);
    for (std::size_t i = 0; i < signal.size(); ++i) {
        if (where.empty() || where[i]) {
            signal[i] += gain * noise[i];
        }
    }
}

double f0Within(const Segment& segment, double timeMs, double lowHz, double highHz)
{
    const double u = (timeMs - segment.startMs) / (segment.endMs - segment.startMs);
    const double octaves = std::log2(highHz / lowHz);
    switch (segment.part) {
    case Part::Rise:
        return lowHz * std::exp2(octaves * u);
    case Part::Fall:
        return highHz * std::exp2(-octaves * u);
    case Part::RiseFall:
        return lowHz * std::exp2(octaves * std::sin(std::numbers::pi * u));
    case Part::Silence:
    case Part::Noise:
        break;
    }
    return 0.0;
}

const Segment& segmentAt(double timeMs)
{
    for (const Segment& segment : kLayout) {
        if (timeMs < segment.endMs) {
            return segment;
        }
    }
    return kLayout[std::size(kLayout) - 1];
}

} // namespace

double Glide::durationMs() const
{
    return rateHz > 0.0 ? 1000.0 * static_cast<double>(samples.size()) / rateHz : 0.0;
}

double Glide::f0AtMs(double timeMs) const
{
    const double index = std::round(timeMs * rateHz / 1000.0);
    if (!(index >= 0.0) || index >= static_cast<double>(f0PerSample.size())) {
        return 0.0;
    }
    return f0PerSample[static_cast<std::size_t>(index)];
}

bool Glide::nearVoicingChange(double timeMs, double marginMs) const
{
    const bool voiced = f0AtMs(timeMs) > 0.0;
    for (double t = timeMs - marginMs; t <= timeMs + marginMs; t += 1.0) {
        if ((f0AtMs(t) > 0.0) != voiced) {
            return true;
        }
    }
    return false;
}

Glide pitchGlide(const GlideParams& params)
{
    const double lowHz = params.female ? 160.0 : 80.0;
    const double highHz = params.female ? 400.0 : 200.0;
    const double rate = params.rateHz;
    const auto length = static_cast<std::size_t>(std::llround(kLayoutMs * rate / 1000.0));

    Glide glide;
    glide.rateHz = rate;
    glide.f0PerSample.assign(length, 0.0);
    std::vector<bool> voiced(length, false);
    std::vector<bool> fricative(length, false);
    for (std::size_t n = 0; n < length; ++n) {
        const double timeMs = 1000.0 * static_cast<double>(n) / rate;
        const Segment& segment = segmentAt(timeMs);
        glide.f0PerSample[n] = f0Within(segment, timeMs, lowHz, highHz);
        voiced[n] = glide.f0PerSample[n] > 0.0;
        fricative[n] = segment.part == Part::Noise;
    }

    PulseOptions options;
    options.shape = PulseShape::GlottalFlowDerivative;
    options.rampCycles = 3;
    const PulseTrain source = pulseTrain(glide.f0PerSample, rate, options);
    const double scale = params.female ? kFemaleFormantScale : 1.0;
    const auto formantsAt = [&](std::size_t n) {
        FormantSet formants =
            *vowelFormants(segmentAt(1000.0 * static_cast<double>(n) / rate).vowel);
        for (Formant& f : formants) {
            f.frequencyHz *= scale;
            f.bandwidthHz *= scale;
        }
        return formants;
    };
    const std::vector<float> filtered = applyFormants(source.samples, formantsAt, rate);

    std::vector<double> signal(filtered.begin(), filtered.end());
    double largest = 0.0;
    for (const double x : signal) {
        largest = std::max(largest, std::fabs(x));
    }
    if (largest > 0.0) {
        for (double& x : signal) {
            x *= kVoicedPeak / largest;
        }
    }
    const double voicedPower = meanPower(signal, voiced);

    // The fricatives: differenced white noise, which leans to high frequencies.
    std::vector<double> hiss = whiteNoise(length, params.seed * 3u + 1u);
    for (std::size_t n = hiss.size(); n-- > 1;) {
        hiss[n] -= hiss[n - 1];
    }
    addNoise(signal, hiss, voicedPower, std::pow(10.0, kFricativeDb / 10.0), fricative);
    addNoise(signal, whiteNoise(length, params.seed * 3u + 2u), voicedPower,
             std::pow(10.0, kFloorDb / 10.0));
    if (params.noise != GlideNoise::None) {
        const std::uint32_t seed = params.seed * 3u + 3u;
        addNoise(signal,
                 params.noise == GlideNoise::White ? whiteNoise(length, seed)
                                                   : pinkNoise(length, seed),
                 voicedPower, std::pow(10.0, -params.snrDb / 10.0));
    }
    glide.samples.assign(signal.begin(), signal.end());
    return glide;
}

std::vector<GlideEntry> pitchCorpus()
{
    struct Condition {
        const char* name;
        GlideNoise noise;
        double snrDb;
    };
    constexpr Condition kConditions[] = {
        {"clean", GlideNoise::None, 0.0},   {"white10", GlideNoise::White, 10.0},
        {"white5", GlideNoise::White, 5.0}, {"pink10", GlideNoise::Pink, 10.0},
        {"pink5", GlideNoise::Pink, 5.0},
    };
    constexpr double kRates[] = {16000.0, 22050.0, 44100.0};
    std::vector<GlideEntry> corpus;
    std::uint32_t seed = 1;
    for (const bool female : {false, true}) {
        for (const Condition& condition : kConditions) {
            for (const double rate : kRates) {
                GlideEntry entry;
                entry.name = std::string("glide-") + (female ? "female-" : "male-") +
                             condition.name + "-" + std::to_string(static_cast<int>(rate));
                entry.params.rateHz = rate;
                entry.params.female = female;
                entry.params.noise = condition.noise;
                entry.params.snrDb = condition.snrDb;
                entry.params.seed = seed++;
                corpus.push_back(entry);
            }
        }
    }
    return corpus;
}

std::string glideTruthText(const Glide& glide, double stepMs)
{
    std::string text = "time_ms\tf0_hz\n";
    const double duration = glide.durationMs();
    for (int k = 0; k * stepMs < duration; ++k) {
        char line[64];
        std::snprintf(line, sizeof line, "%.3f\t%.4f\n", k * stepMs, glide.f0AtMs(k * stepMs));
        text += line;
    }
    return text;
}

} // namespace phonaxis::signals
