// Frames on which the factoring iteration gives up: the roots then come from
// the companion matrix, and every frame with signal has its formants.
#include "analysis/CMathFunc.h"
#include "analysis/PolynomialRoots.h"

#include "Signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

namespace phonaxis {
namespace {

using Complex = std::complex<double>;

// Distance from `want` to the nearest of the roots (re[i], im[i]).
double nearestRoot(Complex want, const double* re, const double* im, std::size_t count)
{
    double nearest = HUGE_VAL;
    for (std::size_t i = 0; i < count; ++i) {
        nearest = std::min(nearest, std::abs(Complex(re[i], im[i]) - want));
    }
    return nearest;
}

// Every 10 ms of the demo's speech, framed as the spectrum window frames it
// (order milliseconds, Hamming, formants only): each frame has its roots,
// none outside the unit circle (a negative bandwidth).
TEST(LpcRootFallback, EveryFrameOfTheDemoHasRoots)
{
    const signals::DemoRecording demo = signals::demoRecording();
    const std::vector<float>& speech = demo.speech.audio;
    const double rate = demo.speech.rateHz;
    const double lengthMs = double(speech.size()) * 1000.0 / rate;
    for (const int order : {26, 40, 60}) {
        const auto window = static_cast<std::size_t>(order * rate / 1000.0);
        int failed = 0;
        int outside = 0;
        for (double at = 0.0; at + order < lengthMs; at += 10.0) {
            const auto first = speech.begin() + long(at * rate / 1000.0);
            std::vector<double> frame(window + 4, 0.0);
            std::copy(first, std::min(first + long(frame.size()), speech.end()), frame.begin());
            if (!CMathFunc::DoLPC(frame, order, int(window), 0.0, 1, 0, 0, 0, rate, 1, 1) ||
                CMathFunc::lp_Roots == nullptr) {
                ++failed;
                continue;
            }
            const CMathFunc::ro* roots = CMathFunc::lp_Roots;
            outside += std::any_of(roots->c, roots->c + roots->quadraticCount,
                                   [](double c) { return !(c < 1.0); });
        }
        EXPECT_EQ(failed, 0) << "order " << order;
        EXPECT_EQ(outside, 0) << "order " << order;
    }
}

// Monic polynomials of degree 2·pairs with conjugate roots at random angles
// and radii 0.9 to 0.999. On the pinned seeds the factoring iteration alone
// either gives up or places pairs outside the unit circle.
TEST(LpcRootFallback, KnownRootsOfHighOrderPolynomialsAreRecovered)
{
    const std::pair<unsigned, int> cases[] = {{2, 20}, {1, 25}, {13, 25}, {1, 30}, {17, 30}};
    for (const auto& [seed, pairs] : cases) {
        SCOPED_TRACE(testing::Message() << "seed " << seed << ", degree " << 2 * pairs);
        std::mt19937 generator(seed);
        std::uniform_real_distribution<double> radius(0.9, 0.999);
        std::uniform_real_distribution<double> jitter(0.1, 0.9);
        std::vector<Complex> truth;
        for (int i = 0; i < pairs; ++i) {
            // One root in each of `pairs` equal sectors of the upper half.
            const double angle = (i + jitter(generator)) * std::numbers::pi / pairs;
            truth.push_back(std::polar(radius(generator), angle));
        }
        // The product of the pairs' quadratics, in long double and taken
        // from both ends of the sectors in turn: multiplied in angle order,
        // the partial products have coefficients so large that the rounded
        // result no longer has these roots.
        std::vector<long double> poly{1.0L};
        for (int i = 0; i < pairs; ++i) {
            const Complex z = truth[std::size_t(i % 2 != 0 ? pairs - 1 - i / 2 : i / 2)];
            const long double b = -2.0L * z.real();
            const long double c = static_cast<long double>(z.real()) * z.real() +
                                  static_cast<long double>(z.imag()) * z.imag();
            poly.resize(poly.size() + 2, 0.0L);
            for (std::size_t j = poly.size() - 1; j >= 2; --j) {
                poly[j] += b * poly[j - 1] + c * poly[j - 2];
            }
            poly[1] += b * poly[0];
        }
        std::vector<double> coefficients(poly.begin(), poly.end());
        coefficients.resize(CMathFunc::kPolyCapacity, 0.0);

        const CMathFunc::ro* t = CMathFunc::rootsub(2 * pairs, 600.0, coefficients, 10000.0);
        if (t == nullptr || t->quadraticCount != pairs) {
            ADD_FAILURE() << (t == nullptr ? -1 : t->quadraticCount) << " pairs";
            continue;
        }
        for (const Complex z : truth) { // all inside the unit circle, as LPC roots are
            EXPECT_LT(nearestRoot(z, t->rootReal, t->rootImag, std::size_t(pairs)), 1e-6) << z;
        }
    }
}

// Pairs each wanted root with its own found root, nearest first, so that a
// double root found once does not pass; the largest distance of a pair, or
// infinity when the counts differ.
double worstPairing(std::vector<Complex> want, const double* re, const double* im,
                    std::size_t count)
{
    if (want.size() != count) {
        return HUGE_VAL;
    }
    std::vector<bool> used(count, false);
    double worst = 0.0;
    for (const Complex w : want) {
        std::size_t best = count;
        for (std::size_t i = 0; i < count; ++i) {
            if (!used[i] && (best == count || std::abs(Complex(re[i], im[i]) - w) <
                                                  std::abs(Complex(re[best], im[best]) - w))) {
                best = i;
            }
        }
        used[best] = true;
        worst = std::max(worst, std::abs(Complex(re[best], im[best]) - w));
    }
    return worst;
}

// The companion-matrix solver alone: real, complex, repeated and zero roots,
// each found as often as it is a root.
TEST(LpcRootFallback, PolynomialRootsFindsEveryKindOfRoot)
{
    const Complex i{0.0, 1.0};
    const std::vector<std::pair<std::vector<double>, std::vector<Complex>>> cases = {
        {{2.0, -6.0, 4.0}, {1.0, 2.0}},                   // leading coefficient first
        {{1.0, 0.1, -6.0}, {-2.5, 2.4}},                  // real roots of either sign
        {{1.0, -1.0, 0.0, 0.0}, {0.0, 0.0, 1.0}},         // roots at the origin
        {{1.0, -2.0, 2.0, -2.0, 1.0}, {1.0, 1.0, i, -i}}, // a double root
        {{1.0, 0.0, 4.0}, {2.0 * i, -2.0 * i}},           // a conjugate pair alone
        {{1.0, -6.0, 11.0, -6.0}, {1.0, 2.0, 3.0}},
    };
    PolynomialRoots solver;
    for (const auto& [poly, roots] : cases) {
        SCOPED_TRACE(testing::Message() << "degree " << poly.size() - 1 << ", roots " << roots[0]
                                        << ", " << roots[1] << " …");
        ASSERT_TRUE(solver.find(poly, static_cast<int>(poly.size()) - 1));
        EXPECT_LT(
            worstPairing(roots, solver.real().data(), solver.imag().data(), solver.real().size()),
            1e-7);
    }
    // z⁵ − z⁴: the zero coefficients at the end are four roots at exactly 0.
    ASSERT_TRUE(solver.find(std::vector<double>{1.0, -1.0, 0.0, 0.0, 0.0, 0.0}, 5));
    ASSERT_EQ(solver.real().size(), 5u);
    EXPECT_EQ(std::count_if(solver.real().begin(), solver.real().end(),
                            [](double re) { return re == 0.0; }),
              4);
    EXPECT_EQ(std::count(solver.imag().begin(), solver.imag().end(), 0.0), 5);
    EXPECT_NEAR(*std::max_element(solver.real().begin(), solver.real().end()), 1.0, 1e-12);

    EXPECT_FALSE(solver.find(std::vector<double>{0.0, 1.0, 2.0}, 2));
    EXPECT_FALSE(solver.find(std::vector<double>{1.0, NAN, 2.0}, 2));
}

} // namespace
} // namespace phonaxis
