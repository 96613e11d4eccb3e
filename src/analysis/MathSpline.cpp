#include "analysis/CMathFunc.h"

#include <cstddef>
#include <new>
#include <stdexcept>
#include <vector>

namespace phonaxis {
namespace {

// This thread's scratch row for the tridiagonal solve; it grows to the
// largest knot count seen and is kept, so per-frame calls allocate nothing.
std::vector<double>& splineScratch()
{
    thread_local std::vector<double> scratch;
    return scratch;
}

bool holds(std::span<const double> values, std::size_t count)
{
    return values.size() >= count;
}

} // namespace

bool CMathFunc::reserveSplineScratch(std::size_t count) noexcept
{
    std::vector<double>& scratch = splineScratch();
    if (scratch.size() >= count) {
        return true;
    }
    try {
        scratch.resize(count);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

bool CMathFunc::spline(std::span<const double> x, std::span<const double> y, int n, double slope1,
                       double slopeN, std::span<double> y2)
{
    if (n < 2) {
        return false;
    }
    const std::size_t count = static_cast<std::size_t>(n) + 1;
    if (!holds(x, count) || !holds(y, count) || !holds(y2, count) ||
        !reserveSplineScratch(count)) {
        return false;
    }
    double* u = splineScratch().data();
    const auto last = static_cast<std::size_t>(n);

    if (slope1 > kNaturalSlopeAbove) {
        y2[1] = u[1] = 0.0;
    } else {
        y2[1] = -0.5;
        u[1] = (3.0 / (x[2] - x[1])) * ((y[2] - y[1]) / (x[2] - x[1]) - slope1);
    }
    for (std::size_t i = 2; i < last; ++i) {
        const double sig = (x[i] - x[i - 1]) / (x[i + 1] - x[i - 1]);
        const double p = sig * y2[i - 1] + 2.0;
        y2[i] = (sig - 1.0) / p;
        u[i] = (y[i + 1] - y[i]) / (x[i + 1] - x[i]) - (y[i] - y[i - 1]) / (x[i] - x[i - 1]);
        u[i] = (6.0 * u[i] / (x[i + 1] - x[i - 1]) - sig * u[i - 1]) / p;
    }
    double qn = 0.0;
    double un = 0.0;
    if (!(slopeN > kNaturalSlopeAbove)) {
        qn = 0.5;
        un = (3.0 / (x[last] - x[last - 1])) *
             (slopeN - (y[last] - y[last - 1]) / (x[last] - x[last - 1]));
    }
    y2[last] = (un - qn * u[last - 1]) / (qn * y2[last - 1] + 1.0);
    for (std::size_t k = last - 1; k >= 1; --k) {
        y2[k] = y2[k] * y2[k + 1] + u[k];
    }
    return true;
}

int CMathFunc::splint(std::span<const double> xa, std::span<const double> ya,
                      std::span<const double> y2a, int n, double at, double& result)
{
    if (n < 2) {
        return 1;
    }
    const std::size_t count = static_cast<std::size_t>(n) + 1;
    if (!holds(xa, count) || !holds(ya, count) || !holds(y2a, count)) {
        return 1;
    }
    // Bisection for the interval [x[klo], x[khi]] that brackets `at`.
    std::size_t klo = 1;
    std::size_t khi = static_cast<std::size_t>(n);
    while (khi - klo > 1) {
        const std::size_t k = klo + (khi - klo) / 2;
        if (xa[k] > at) {
            khi = k;
        } else {
            klo = k;
        }
    }
    const double h = xa[khi] - xa[klo];
    if (h == 0.0) {
        return 1;
    }
    const double a = (xa[khi] - at) / h;
    const double b = (at - xa[klo]) / h;
    result = a * ya[klo] + b * ya[khi] +
             ((a * a * a - a) * y2a[klo] + (b * b * b - b) * y2a[khi]) * (h * h) / 6.0;
    return 0;
}

} // namespace phonaxis
