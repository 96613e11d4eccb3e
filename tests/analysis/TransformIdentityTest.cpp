// The FFT and the cepstral pitch frame against plain references of the same
// arithmetic: the optimised code must give the same bits, not merely close
// values, since tracks and spectra are compared and stored bit for bit.

#include "PlainTransform.h"
#include "Signals.h"
#include "analysis/CMathFunc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace phonaxis {
namespace {

using Doubles = std::vector<double>;

bool sameBits(const Doubles& a, const Doubles& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// Inputs of n points for the FFT, by kind.
Doubles fftInput(const std::string& kind, std::size_t n, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    Doubles x(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double u = uniform(generator);
        if (kind == "uniform") {
            x[i] = u;
        } else if (kind == "zero-padded") { // a windowed frame and its padding
            x[i] = i < n * 3 / 5 ? u : 0.0;
        } else if (kind == "signed zeros") { // zeros of both signs among values
            x[i] = i % 3 == 0 ? u : (i % 3 == 1 ? 0.0 : -0.0);
        } else if (kind == "all negative zero") {
            x[i] = -0.0;
        } else if (kind == "wide range") { // magnitudes 1e-150 … 1e150
            x[i] = u * std::pow(10.0, std::floor(300.0 * std::abs(uniform(generator))) - 150.0);
        } else if (kind == "levels") { // a dB level spectrum: whole and negative values
            x[i] = std::round(40.0 * u) - 10.0;
        }
    }
    return x;
}

TEST(TransformIdentity, FftGivesThePlainTransformsBitsForEveryLengthAndInput)
{
    const char* kinds[] = {"uniform",           "zero-padded", "signed zeros",
                           "all negative zero", "wide range",  "levels"};
    for (int m = 0; m <= CMathFunc::kMaxFftOrder; ++m) {
        const std::size_t n = std::size_t{1} << m;
        for (const char* kind : kinds) {
            Doubles re = fftInput(kind, n, 7u + m), im = fftInput(kind, n, 90u + m);
            if (std::string(kind) == "zero-padded") {
                std::fill(im.begin(), im.end(), 0.0); // a real frame
            }
            Doubles plainRe = re, plainIm = im;
            ASSERT_TRUE(CMathFunc::FFT_CODE_REAL(re, im, m));
            plain::fft(plainRe, plainIm, m);
            EXPECT_TRUE(sameBits(re, plainRe) && sameBits(im, plainIm))
                << "N = " << n << ", " << kind;
        }
    }
}

// The cepstral pitch of one frame written plainly: the Hamming-windowed frame
// zero-padded to n points; its transform as a real transform (even points as
// the real parts, odd points as the imaginary parts of an n/2-point complex
// transform, split into bins 0 … n/2); the level spectrum in dB (0 for a zero
// power); the level spectrum's transform the same way; the cepstrum's levels
// at the quefrencies of the pitch range, the rest 0; the top 20 dB kept; the
// first strongest quefrency.
template <typename Sample>
double plainCepstralPitch(const std::vector<Sample>& s, double position, double rate, double lowHz,
                          double highHz, int n, int windowLength)
{
    const int half = n / 2;
    const int w = std::min(windowLength, n);
    int order = 0;
    while ((1 << order) < half) {
        ++order;
    }
    const auto powerDb = [](double re, double im) {
        const double power = re * re + im * im;
        return power == 0.0 ? 0.0 : 10.0 * std::log10(power);
    };
    const auto realTransform = [&](const Doubles& x, Doubles& binRe, Doubles& binIm) {
        Doubles zr(half), zi(half);
        for (int j = 0; j < half; ++j) {
            zr[j] = x[2 * j], zi[j] = x[2 * j + 1];
        }
        plain::fft(zr, zi, order);
        binRe.assign(half + 1, 0.0), binIm.assign(half + 1, 0.0);
        for (int k = 0; k <= half; ++k) {
            const int a = k == half ? 0 : k, b = k == 0 ? 0 : half - k;
            const double angle = 2.0 * std::numbers::pi * k / n;
            const double wr = std::cos(angle), wi = -std::sin(angle);
            const double evenRe = 0.5 * (zr[a] + zr[b]), evenIm = 0.5 * (zi[a] - zi[b]);
            const double oddRe = 0.5 * (zi[a] + zi[b]), oddIm = -0.5 * (zr[a] - zr[b]);
            binRe[k] = evenRe + wr * oddRe - wi * oddIm;
            binIm[k] = evenIm + wr * oddIm + wi * oddRe;
        }
    };

    Doubles frame(n, 0.0);
    const auto first = static_cast<long long>(position);
    for (int i = 0; i < w; ++i) {
        const long long at = first + i;
        if (at >= 0 && at < static_cast<long long>(s.size())) {
            frame[i] = static_cast<double>(s[static_cast<std::size_t>(at)]) *
                       (0.54 - 0.46 * std::cos(static_cast<double>(i) * dTWOPI / w));
        }
    }
    Doubles binRe, binIm;
    realTransform(frame, binRe, binIm);
    Doubles levels(n);
    for (int k = 0; k < n; ++k) {
        const int bin = k <= half ? k : n - k;
        levels[k] = powerDb(binRe[bin], binIm[bin]);
    }
    realTransform(levels, binRe, binIm);

    const auto lo = static_cast<long long>(rate / highHz),
               hi = static_cast<long long>(rate / lowHz);
    Doubles c(half, 0.0);
    for (long long q = std::max(0LL, lo); q < std::min<long long>(hi, half); ++q) {
        c[q] = powerDb(binRe[q], binIm[q]);
    }
    double top = -1e-30;
    for (const double v : c) {
        top = std::max(top, v);
    }
    long long index = lo;
    double best = 0.0;
    for (long long q = std::max(0LL, lo); q < std::min<long long>(hi, half); ++q) {
        const double kept = std::max(0.0, c[q] - top + 20.0);
        if (kept > best) {
            best = kept, index = q;
        }
    }
    const double pitch = rate / (index == 0 ? 1.0 : static_cast<double>(index));
    return lowHz <= pitch && pitch <= highHz ? pitch : 0.0;
}

TEST(TransformIdentity, CepstralPitchFramesAreThePlainComputationsBits)
{
    constexpr double kRate = 44100.0;
    std::mt19937 generator(3);
    std::normal_distribution<double> gauss(0.0, 1.0);
    const auto noise = [&](double amplitude) {
        std::vector<float> s(44100);
        for (float& v : s) {
            v = static_cast<float>(amplitude * gauss(generator));
        }
        return s;
    };
    const auto scaled = [](std::vector<float> s, float factor) {
        for (float& v : s) {
            v *= factor;
        }
        return s;
    };
    const std::vector<float> voice = signals::pulseTrain(120.0, kRate, 1000.0).samples;
    const struct {
        const char* name;
        std::vector<float> samples;
    } signalCases[] = {
        {"pulse train", voice},
        {"loud pulse train", scaled(voice, 3.0e4F)},
        {"noise", noise(0.3)},
        {"faint noise (levels below 0 dB)", noise(1e-7)},
        {"silence", std::vector<float>(44100, 0.0F)},
    };
    const struct {
        int n, window;
        double lowHz, highHz;
    } settings[] = {
        {4096, 1543, 50.0, 500.0},    // the track's defaults at 44.1 kHz
        {2048, 882, 75.0, 600.0},     // 20 ms
        {1024, 441, 200.0, 1000.0},   // 10 ms, a high range
        {4096, 4096, 20.0, 5000.0},   // the range past the cepstrum's ends
        {1024, 1024, 2000.0, 3000.0}, // a narrow range
        {16384, 3360, 50.0, 500.0},   // the longer transforms (35 ms at 96 and 192 kHz)
        {32768, 6720, 50.0, 500.0},
    };
    for (const auto& signal : signalCases) {
        const std::vector<double> asDouble(signal.samples.begin(), signal.samples.end());
        const auto length = static_cast<double>(signal.samples.size());
        for (const auto& set : settings) {
            for (const double at : {-1000.0, 0.0, 3333.5, 20000.0, length - 700.0, length + 5.0}) {
                const double expected = plainCepstralPitch(signal.samples, at, kRate, set.lowHz,
                                                           set.highHz, set.n, set.window);
                EXPECT_EQ(CMathFunc::DoPitchCepstrumNewFloat(signal.samples, at, length, kRate,
                                                             set.lowHz, set.highHz, set.n,
                                                             set.window),
                          expected)
                    << signal.name << ", n " << set.n << ", at " << at;
                EXPECT_EQ(CMathFunc::DoPitchCepstrumNewDouble(asDouble, at, length, kRate,
                                                              set.lowHz, set.highHz, set.n,
                                                              set.window),
                          expected)
                    << signal.name << " (double), n " << set.n << ", at " << at;
            }
        }
    }
}

// The levels of the cepstral pitch come from a vectorised logarithm; a
// frame whose choice the library's logarithm could change is computed again
// with it. Frame by frame, over voices, noise, silence and levels at both
// ends of the double range, the pitch must be the library levels' own. The
// frames that need the library are the rare ones: ties (a lone impulse has
// a flat spectrum and so an empty cepstrum, every quefrency at 0 dB) and
// powers outside the normal range.
TEST(TransformIdentity, FastLevelsGiveTheLibraryLevelsPitch)
{
    using Levels = CMathFunc::PitchLevels;
    std::mt19937 generator(11);
    std::normal_distribution<double> gauss(0.0, 1.0);
    const auto noise = [&](double amplitude, std::size_t count) {
        std::vector<double> s(count);
        for (double& v : s) {
            v = amplitude * gauss(generator);
        }
        return s;
    };
    const auto widened = [](const std::vector<float>& s) {
        return std::vector<double>(s.begin(), s.end());
    };
    struct Case {
        const char* name;
        double rate;
        std::vector<double> samples;
        int n, window;
    };
    std::vector<double> impulses(44100, 0.0);
    for (std::size_t i = 0; i < impulses.size(); i += 4410) {
        impulses[i] = 0.5;
    }
    const std::vector<Case> cases = {
        {"vowels, 44.1 kHz", 44100.0, widened(signals::vowelSequence(44100.0, 2000.0).audio), 2048,
         1543},
        {"vowels, 16 kHz", 16000.0, widened(signals::vowelSequence(16000.0, 2000.0).audio), 1024,
         560},
        {"pulse train", 22050.0, widened(signals::pulseTrain(180.0, 22050.0, 1500.0).samples), 1024,
         771},
        {"noise", 44100.0, noise(0.2, 88200), 4096, 1543},
        {"faint noise", 44100.0, noise(1e-9, 44100), 2048, 882},
        {"noise in subnormal powers", 44100.0, noise(1e-165, 22050), 2048, 882},
        {"noise past the largest power", 44100.0, noise(1e154, 22050), 2048, 882},
        {"lone impulses", 44100.0, impulses, 2048, 882},
        {"silence", 44100.0, std::vector<double>(22050, 0.0), 2048, 882},
    };
    std::uint64_t framesOfVoices = 0;
    std::uint64_t redoneInVoices = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto length = static_cast<double>(c.samples.size());
        const std::uint64_t redoneBefore = CMathFunc::pitchLevelsRedone;
        int frames = 0;
        int differing = 0;
        for (double at = -300.0; at < length; at += c.rate / 200.0) {
            const double fast = CMathFunc::DoPitchCepstrumNewDouble(
                c.samples, at, length, c.rate, 60.0, 600.0, c.n, c.window, Levels::Fast);
            const double library = CMathFunc::DoPitchCepstrumNewDouble(
                c.samples, at, length, c.rate, 60.0, 600.0, c.n, c.window, Levels::Library);
            differing += fast != library;
            ++frames;
        }
        EXPECT_EQ(differing, 0) << "of " << frames << " frames";
        const std::uint64_t redone = CMathFunc::pitchLevelsRedone - redoneBefore;
        if (std::string(c.name).starts_with("vowels")) {
            framesOfVoices += static_cast<std::uint64_t>(frames);
            redoneInVoices += redone;
        }
        if (std::string(c.name) == "lone impulses") {
            EXPECT_GT(redone, 0U) << "no tie was computed again";
        }
    }
    EXPECT_LT(redoneInVoices * 100, framesOfVoices) << "more than 1 % of voice frames redone";
}

} // namespace
} // namespace phonaxis
