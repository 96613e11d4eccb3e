#include "PlainTransform.h"
#include "analysis/CMathFunc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

namespace phonaxis {
namespace {

using Doubles = std::vector<double>;

Doubles randomSignal(std::size_t length, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    Doubles values(length);
    for (double& v : values) {
        v = uniform(generator);
    }
    return values;
}

TEST(Fft, MatchesDirectDftAndThePlainRecurrenceForEveryLength)
{
    for (int m = 1; m <= CMathFunc::kMaxFftOrder; ++m) {
        const std::size_t n = std::size_t{1} << m;
        const Doubles inRe = randomSignal(n, 10u + m), inIm = randomSignal(n, 50u + m);
        Doubles re = inRe, im = inIm;
        ASSERT_TRUE(CMathFunc::FFT_CODE_REAL(re, im, m));
        Doubles plainRe = inRe, plainIm = inIm;
        plain::fft(plainRe, plainIm, m);
        EXPECT_TRUE(re == plainRe && im == plainIm) << "N = " << n;
        // The direct sum takes N² steps: it checks the lengths up to 8192, and
        // the plain recurrence it vouches for there checks the longest.
        if (m > 13) {
            continue;
        }
        // X[k] = Σ x[t]·e^(−2πi·k·t/N) in long double with exact π.
        std::vector<long double> cosine(n), sine(n);
        for (std::size_t t = 0; t < n; ++t) {
            cosine[t] = std::cos(-2 * std::numbers::pi_v<long double> * t / n);
            sine[t] = std::sin(-2 * std::numbers::pi_v<long double> * t / n);
        }
        long double errorSq = 0, normSq = 0;
        for (std::size_t k = 0; k < n; ++k) {
            long double sumRe = 0, sumIm = 0;
            for (std::size_t t = 0; t < n; ++t) {
                const std::size_t r = (k * t) & (n - 1);
                sumRe += inRe[t] * cosine[r] - inIm[t] * sine[r];
                sumIm += inRe[t] * sine[r] + inIm[t] * cosine[r];
            }
            errorSq += (re[k] - sumRe) * (re[k] - sumRe) + (im[k] - sumIm) * (im[k] - sumIm);
            normSq += sumRe * sumRe + sumIm * sumIm;
        }
        EXPECT_LT(std::sqrt(errorSq / normSq), 1e-12L) << "N = " << n;
    }
}

// Points past `nonzero` hold NaN: were any read, the transform would be NaN
// somewhere. The bounds fall inside, at and past a row of the vectorised
// transform's copy (N/8 points).
TEST(Fft, ZeroTailIsNotReadAndGivesTheZeroPaddedBits)
{
    for (int m = 1; m <= CMathFunc::kMaxFftOrder; m += 2) {
        const std::size_t n = std::size_t{1} << m;
        for (const std::size_t nonzero :
             {std::size_t{0}, std::size_t{1}, n / 8, n / 8 + 1, 3 * n / 8 + 3, n - 1, n + 5}) {
            const Doubles inRe = randomSignal(n, 90u + m), inIm = randomSignal(n, 30u + m);
            Doubles re = inRe, im = inIm, plainRe = inRe, plainIm = inIm;
            for (std::size_t t = nonzero; t < n; ++t) {
                re[t] = im[t] = std::nan("");
                plainRe[t] = plainIm[t] = 0.0;
            }
            ASSERT_TRUE(CMathFunc::FFT_CODE_REAL(re, im, m, nonzero));
            plain::fft(plainRe, plainIm, m);
            EXPECT_TRUE(re == plainRe && im == plainIm) << "N = " << n << ", nonzero " << nonzero;
        }
    }
}

// The lane width asked for in PHONAXIS_FFT_LANES is the one that runs (the
// suite is run once per width, see tests/CMakeLists.txt), so each vector
// path meets the bit-identity tests on this machine.
TEST(Fft, RunsTheLaneWidthItIsAskedFor)
{
    const char* asked = std::getenv("PHONAXIS_FFT_LANES");
    if (asked == nullptr) {
        EXPECT_TRUE(CMathFunc::fftLanes() == 2 || CMathFunc::fftLanes() == 4 ||
                    CMathFunc::fftLanes() == 8);
        return;
    }
    const int lanes = std::atoi(asked);
#if defined(__x86_64__) || defined(__i386__)
    if (lanes == 4 && !__builtin_cpu_supports("avx2")) {
        GTEST_SKIP() << "this processor has no 4-lane vectors";
    }
#else
    if (lanes == 4) {
        GTEST_SKIP() << "4-lane vectors are chosen on x86 processors only";
    }
#endif
    EXPECT_EQ(CMathFunc::fftLanes(), lanes);
}

TEST(Fft, DeclinesOrdersAndArraysItCannotServe)
{
    Doubles re(16, 1.0), im(16, 2.0), shared(32, 3.0);
    EXPECT_FALSE(CMathFunc::FFT_CODE_REAL(re, im, -1));
    EXPECT_FALSE(CMathFunc::FFT_CODE_REAL(re, im, 5)); // 32 points, 16 held
    EXPECT_FALSE(CMathFunc::FFT_CODE_REAL(re, std::span(im).first(8), 4));
    EXPECT_FALSE(CMathFunc::FFT_CODE_REAL(shared, std::span(shared).subspan(8), 4));
    EXPECT_TRUE(re == Doubles(16, 1.0) && shared == Doubles(32, 3.0));
    EXPECT_TRUE(CMathFunc::FFT_CODE_REAL(re, im, 0)); // one point: identity
    EXPECT_EQ(re, Doubles(16, 1.0));
}

constexpr double kRate = 10000.0;

int spectrum(Doubles& data, int n, double pre, int window, bool interpolate = false,
             int points = 0, int rangeHz = 0, double rate = kRate)
{
    return CMathFunc::DoFFT_Real(data, n, pre, window, interpolate ? 1 : 0, points, rangeHz, rate);
}

TEST(Spectrum, ImpulsesGiveFlatLevels)
{
    const int n = 64;
    auto hamming = [](int t) { return 0.54 - 0.46 * std::cos(t * dTWOPI / n); };
    // An impulse of v at t has |X[k]| = v·w[t] in every bin. The Hamming
    // weight is divided by n, so t = n/2 weighs 1; pre-emphasis turns a lone
    // sample at n (read past the frame) into an impulse at n − 1. Power
    // exactly 0 gives 0.0, not −∞.
    struct Case {
        int at;
        double value, pre;
        int window;
        double magnitude;
    };
    const Case cases[] = {{0, 1, 0, 1, hamming(0)}, {5, 1, 0, 1, hamming(5)}, {32, 1, 0, 1, 1.0},
                          {63, 1, 0, 1, hamming(63)}, {7, 3, 0, 7, 3.0}, {n, 2, 0.5, 0, 2.0},
                          {3, 0, 0, 1, 0.0}};
    for (const Case& c : cases) {
        Doubles data(n + 1, 0.0);
        data[static_cast<std::size_t>(c.at)] = c.value;
        ASSERT_EQ(spectrum(data, n, c.pre, c.window), CMathFunc::kSpectrumDone);
        for (int k = 0; k < n / 2; ++k) {
            const double level = c.magnitude == 0 ? 0.0 : 20.0 * std::log10(c.magnitude);
            EXPECT_NEAR(data[static_cast<std::size_t>(k)], level, 1e-12)
                << "impulse at " << c.at;
        }
        EXPECT_EQ(data[n / 2], c.at == n / 2 ? c.value : 0.0) << "the upper half is left alone";
    }
}

TEST(Spectrum, ResampledPointsLieAtMultiplesOfRangeOverPoints)
{
    const int n = 256;
    const Doubles frame = randomSignal(n + 10, 7);
    Doubles bins = frame;
    ASSERT_EQ(spectrum(bins, n, 0.0, 1), 0);
    // {range Hz, points}: point i lies at i·range/points Hz = i·step bins.
    for (const auto& [rangeHz, points] : {std::pair{5000, 128}, {2500, 64}, {5000, 256}, {5000, 32}}) {
        Doubles data = frame;
        data.resize(std::max<std::size_t>(data.size(), static_cast<std::size_t>(points)));
        ASSERT_EQ(spectrum(data, n, 0.0, 1, true, points, rangeHz), 0);
        const double step = rangeHz * n / kRate / points;
        for (int i = 0; i < points; ++i) {
            const double at = i * step;
            if (at == std::floor(at) && at < n / 2) {
                EXPECT_NEAR(data[static_cast<std::size_t>(i)], bins[static_cast<std::size_t>(at)],
                            1e-9) << rangeHz << "/" << points << " point " << i;
            }
        }
    }
    // No output points: the bin levels stay. One bin (n = 2): a flat curve.
    Doubles data = frame;
    ASSERT_EQ(spectrum(data, n, 0.0, 1, true, 0, 5000), 0);
    EXPECT_TRUE(std::equal(bins.begin(), bins.begin() + n / 2, data.begin()));
    Doubles pair = {3.0, 1.0, 9.0, 9.0};
    ASSERT_EQ(spectrum(pair, 2, 0.0, 0, true, 4, 5000), 0);
    EXPECT_EQ(pair, Doubles(4, 20.0 * std::log10(4.0)));
}

TEST(Spectrum, DeclinedCallsLeaveTheDataAlone)
{
    struct Case {
        const char* what;
        std::size_t size;
        int n;
        double pre;
        int points, rangeHz;
        double rate;
    };
    const Case cases[] = {
        {"length not a power of two", 200, 100, 0.0, 0, 0, kRate},
        {"length above 8192", 20000, 16384, 0.0, 0, 0, kRate},
        {"frame shorter than n", 63, 64, 0.0, 0, 0, kRate},
        {"pre-emphasis needs n + 1", 64, 64, 0.9, 0, 0, kRate},
        {"more points than data", 100, 64, 0.0, 101, 5000, kRate},
        {"range above half the rate", 100, 64, 0.0, 50, 5001, kRate},
        {"rate zero", 100, 64, 0.0, 50, 0, 0.0},
    };
    for (const Case& c : cases) {
        Doubles data = randomSignal(c.size, 3);
        const Doubles before = data;
        EXPECT_EQ(spectrum(data, c.n, c.pre, 1, true, c.points, c.rangeHz, c.rate),
                  CMathFunc::kSpectrumDeclined) << c.what;
        EXPECT_EQ(data, before) << c.what;
    }
}

TEST(Spectrum, ThreadsComputingAtOnceGetTheirOwnResults)
{
    auto run = [](int n, unsigned seed) {
        Doubles data = randomSignal(static_cast<std::size_t>(n + 10), seed);
        EXPECT_EQ(spectrum(data, n, 0.97, 1, true, 300, 4000), 0);
        return data;
    };
    const Doubles expectedA = run(4096, 1), expectedB = run(512, 2);
    int sameA = 0, sameB = 0;
    std::thread a([&] { for (int i = 0; i < 100; ++i) sameA += run(4096, 1) == expectedA; });
    std::thread b([&] { for (int i = 0; i < 400; ++i) sameB += run(512, 2) == expectedB; });
    a.join();
    b.join();
    EXPECT_EQ(sameA, 100);
    EXPECT_EQ(sameB, 400);
}

double cubic(double x) { return x * x * x - 2 * x * x + 3; }
double line(double x) { return 0.5 * x - 4; }

// Knots (x, f(x)), indexed from 1; y2 starts at -7 to show what is written.
struct Knots {
    Doubles x{0.0}, y{0.0}, y2;
    Knots(std::initializer_list<double> xs, double (*f)(double))
    {
        for (double at : xs) {
            x.push_back(at), y.push_back(f(at));
        }
        y2.assign(x.size(), -7.0);
    }
    int n() const { return static_cast<int>(x.size()) - 1; }
};

TEST(Spline, ReproducesFunctionsItCanRepresent)
{
    // With its exact end slopes the spline is the cubic itself, also outside
    // the knots; a natural spline through points of a line is the line.
    struct Case {
        Knots k;
        double slope1, slopeN;
        double (*f)(double);
    } cases[] = {{{{-1, 0, 0.5, 2, 3}, cubic}, 7.0, 15.0, cubic},
                 {{{0, 1, 1.5, 4, 9}, line}, 1e30, 1e30, line},
                 {{{2, 6}, line}, 1e30, 1e30, line}};
    for (Case& c : cases) {
        ASSERT_TRUE(CMathFunc::spline(c.k.x, c.k.y, c.k.n(), c.slope1, c.slopeN, c.k.y2));
        EXPECT_EQ(c.k.y2[0], -7.0);
        for (double at = c.k.x[1] - 1; at <= c.k.x.back() + 1; at += 0.125) {
            double value = 0;
            ASSERT_EQ(CMathFunc::splint(c.k.x, c.k.y, c.k.y2, c.k.n(), at, value), 0);
            EXPECT_NEAR(value, c.f(at), 1e-9) << c.k.n() << " knots, at " << at;
        }
    }
}

TEST(Spline, EndConditionsAndCallsThatWriteNothing)
{
    Knots k({0, 1, 2, 3, 4, 5, 6}, [](double x) { return std::sin(x); });
    ASSERT_TRUE(CMathFunc::spline(k.x, k.y, k.n(), 1e30, 1e30, k.y2));
    EXPECT_TRUE(k.y2[1] == 0.0 && k.y2[7] == 0.0);
    ASSERT_TRUE(CMathFunc::spline(k.x, k.y, k.n(), 9e29, 9e29, k.y2)); // a real slope
    EXPECT_NE(k.y2[1], 0.0);

    Knots twin({0, 1, 1}, line), one({1}, line);
    twin.y2.assign(4, 0.0);
    double untouched = 42;
    EXPECT_EQ(CMathFunc::splint(twin.x, twin.y, twin.y2, twin.n(), 1.0, untouched), 1);
    EXPECT_EQ(CMathFunc::splint(k.x, k.y, k.y2, 8, 1.0, untouched), 1); // arrays hold 7
    EXPECT_EQ(untouched, 42);
    EXPECT_FALSE(CMathFunc::spline(one.x, one.y, 1, 1e30, 1e30, one.y2));
    EXPECT_FALSE(CMathFunc::spline(k.x, k.y, 8, 1e30, 1e30, k.y2));
    EXPECT_EQ(one.y2, Doubles(2, -7.0));
}

} // namespace
} // namespace phonaxis
