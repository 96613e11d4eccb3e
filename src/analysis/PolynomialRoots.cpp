#include "analysis/PolynomialRoots.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <new>

namespace phonaxis {

namespace {

constexpr double kEpsilon = std::numeric_limits<double>::epsilon();
constexpr double kRadix = 2.0;
// Balancing stops when a sweep shrinks no row and column pair by 5 %; the
// cap only guards against a cycle that rounding could keep going.
constexpr double kBalanceGain = 0.95;
constexpr int kMaxBalanceSweeps = 100;
// Every tenth sweep on one eigenvalue uses an ad hoc shift, which breaks the
// cycles the standard shifts can fall into.
constexpr int kExceptionalShiftEvery = 10;

// p(z) and p'(z) of the monic polynomial 1, c1 … cn at z = (zr, zi).
struct Value {
    double pr = 1.0, pi = 0.0, dr = 0.0, di = 0.0;
    double size() const { return std::hypot(pr, pi); }
};

Value evaluate(const std::vector<double>& monic, std::size_t n, double zr, double zi)
{
    Value v;
    for (std::size_t i = 1; i <= n; ++i) {
        const double dr = v.dr * zr - v.di * zi + v.pr;
        const double di = v.dr * zi + v.di * zr + v.pi;
        const double pr = v.pr * zr - v.pi * zi + monic[i];
        const double pi = v.pr * zi + v.pi * zr;
        v = {pr, pi, dr, di};
    }
    return v;
}

} // namespace

bool PolynomialRoots::reserve(std::size_t degree)
{
    try {
        if (m_monic.size() < degree + 1) {
            m_monic.resize(degree + 1);
            m_real.resize(degree);
            m_imag.resize(degree);
        }
        if (m_matrix.size() < degree * degree) {
            m_matrix.resize(degree * degree);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool PolynomialRoots::find(std::span<const double> poly, int degree)
{
    m_count = 0;
    if (degree < 1 || poly.size() < static_cast<std::size_t>(degree) + 1 || poly[0] == 0.0 ||
        !std::all_of(poly.begin(), poly.begin() + degree + 1,
                     [](double c) { return std::isfinite(c); })) {
        return false;
    }
    const auto total = static_cast<std::size_t>(degree);
    // Trailing zero coefficients are exact roots at the origin.
    std::size_t n = total;
    while (n > 0 && poly[n] == 0.0) {
        --n;
    }
    if (!reserve(total)) {
        return false;
    }
    for (std::size_t i = 0; i <= n; ++i) {
        m_monic[i] = poly[i] / poly[0];
        if (!std::isfinite(m_monic[i])) {
            return false;
        }
    }
    if (n > 0) {
        std::fill_n(m_matrix.begin(), n * n, 0.0);
        for (std::size_t j = 0; j < n; ++j) {
            m_matrix[j] = -m_monic[j + 1];
        }
        for (std::size_t i = 1; i < n; ++i) {
            m_matrix[i * n + i - 1] = 1.0;
        }
        balance(n);
        if (!eigenvalues(n)) {
            return false;
        }
        for (std::size_t i = 0; i < n; ++i) {
            if (m_imag[i] > 0.0) {
                polish(n, i);
                m_real[i + 1] = m_real[i];
                m_imag[i + 1] = -m_imag[i];
            } else if (m_imag[i] == 0.0) {
                polish(n, i);
            }
        }
    }
    std::fill(m_real.begin() + static_cast<std::ptrdiff_t>(n),
              m_real.begin() + static_cast<std::ptrdiff_t>(total), 0.0);
    std::fill(m_imag.begin() + static_cast<std::ptrdiff_t>(n),
              m_imag.begin() + static_cast<std::ptrdiff_t>(total), 0.0);
    m_count = total;
    return true;
}

// Scales row i by 1/f and column i by f (f a power of two) while that makes
// the row's and the column's off-diagonal sums more alike, so that no
// coefficient's size swamps the rounding of the others.
void PolynomialRoots::balance(std::size_t n)
{
    double* a = m_matrix.data();
    for (int sweep = 0; sweep < kMaxBalanceSweeps; ++sweep) {
        bool changed = false;
        for (std::size_t i = 0; i < n; ++i) {
            double column = 0.0;
            double row = 0.0;
            for (std::size_t j = 0; j < n; ++j) {
                if (j != i) {
                    column += std::fabs(a[j * n + i]);
                    row += std::fabs(a[i * n + j]);
                }
            }
            if (column == 0.0 || row == 0.0) {
                continue;
            }
            const double sum = column + row;
            double f = 1.0;
            double scaled = column;
            while (scaled < row / kRadix) {
                f *= kRadix;
                scaled *= kRadix * kRadix;
            }
            while (scaled > row * kRadix) {
                f /= kRadix;
                scaled /= kRadix * kRadix;
            }
            if ((scaled + row) / f < kBalanceGain * sum) {
                changed = true;
                for (std::size_t j = 0; j < n; ++j) {
                    a[i * n + j] /= f;
                    a[j * n + i] *= f;
                }
            }
        }
        if (!changed) {
            return;
        }
    }
}

// The eigenvalues of the upper Hessenberg m_matrix (n × n) into m_real and
// m_imag, a complex pair as (re, +im) then (re, −im). Only the active block
// [lo, hi] is updated: the eigenvalues alone are wanted.
bool PolynomialRoots::eigenvalues(std::size_t n)
{
    double* a = m_matrix.data();
    const auto at = [a, n](std::ptrdiff_t i, std::ptrdiff_t j) -> double& {
        return a[static_cast<std::size_t>(i) * n + static_cast<std::size_t>(j)];
    };
    double norm = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = i > 0 ? i - 1 : 0; j < n; ++j) {
            norm += std::fabs(a[i * n + j]);
        }
    }
    auto hi = static_cast<std::ptrdiff_t>(n) - 1;
    int sweeps = 0;
    while (hi >= 0) {
        // The lowest row of the active block: the first negligible
        // subdiagonal entry above hi splits the matrix there.
        std::ptrdiff_t lo = hi;
        for (; lo > 0; --lo) {
            double scale = std::fabs(at(lo - 1, lo - 1)) + std::fabs(at(lo, lo));
            if (scale == 0.0) {
                scale = norm;
            }
            if (std::fabs(at(lo, lo - 1)) <= kEpsilon * scale) {
                at(lo, lo - 1) = 0.0;
                break;
            }
        }
        const auto slot = static_cast<std::size_t>(hi);
        if (lo == hi) {
            m_real[slot] = at(hi, hi);
            m_imag[slot] = 0.0;
            --hi;
            sweeps = 0;
            continue;
        }
        if (lo == hi - 1) {
            // A 2 × 2 block: its eigenvalues d + p ± √(p² + b·c), written so
            // that neither real one loses digits to cancellation.
            const double d = at(hi, hi);
            const double p = 0.5 * (at(hi - 1, hi - 1) - d);
            const double w = at(hi - 1, hi) * at(hi, hi - 1);
            const double q = p * p + w;
            if (q >= 0.0) {
                const double z = p + std::copysign(std::sqrt(q), p);
                m_real[slot - 1] = d + z;
                m_real[slot] = z != 0.0 ? d - w / z : d + z;
                m_imag[slot - 1] = 0.0;
                m_imag[slot] = 0.0;
            } else {
                m_real[slot - 1] = d + p;
                m_real[slot] = d + p;
                m_imag[slot - 1] = std::sqrt(-q);
                m_imag[slot] = -std::sqrt(-q);
            }
            hi -= 2;
            sweeps = 0;
            continue;
        }
        if (sweeps == kMaxSweepsPerRoot || !std::isfinite(at(hi, hi))) {
            return false;
        }
        ++sweeps;

        // Shifts: the eigenvalues of the trailing 2 × 2 block, given by
        // their sum and product.
        double x = at(hi, hi);
        double y = at(hi - 1, hi - 1);
        double w = at(hi, hi - 1) * at(hi - 1, hi);
        if (sweeps % kExceptionalShiftEvery == 0) {
            // A complex pair at a distance from the last diagonal entry set
            // by the size of the last subdiagonal entries.
            const double s = std::fabs(at(hi, hi - 1)) + std::fabs(at(hi - 1, hi - 2));
            x = y = at(hi, hi) + 0.75 * s;
            w = -0.4375 * s * s;
        }
        const double sum = x + y;
        const double product = x * y - w;

        // One double-shift sweep: the first column of (H − σ1)(H − σ2),
        // then the bulge chased down to the block's end by reflections of
        // three rows (two at the last step).
        double p = at(lo, lo) * at(lo, lo) + at(lo, lo + 1) * at(lo + 1, lo) - sum * at(lo, lo) +
                   product;
        double q = at(lo + 1, lo) * (at(lo, lo) + at(lo + 1, lo + 1) - sum);
        double r = at(lo + 1, lo) * at(lo + 2, lo + 1);
        for (std::ptrdiff_t k = lo; k < hi; ++k) {
            const bool three = k + 1 < hi;
            if (k > lo) {
                p = at(k, k - 1);
                q = at(k + 1, k - 1);
                r = three ? at(k + 2, k - 1) : 0.0;
            }
            const double scale = std::fabs(p) + std::fabs(q) + std::fabs(r);
            if (scale == 0.0) {
                continue;
            }
            p /= scale;
            q /= scale;
            r /= scale;
            const double s = std::copysign(std::sqrt(p * p + q * q + r * r), p);
            if (k > lo) {
                at(k, k - 1) = -s * scale;
                at(k + 1, k - 1) = 0.0;
                if (three) {
                    at(k + 2, k - 1) = 0.0;
                }
            }
            p += s;
            const double vx = p / s;
            const double vy = q / s;
            const double vz = r / s;
            q /= p;
            r /= p;
            for (std::ptrdiff_t j = k; j <= hi; ++j) {
                double v = at(k, j) + q * at(k + 1, j);
                if (three) {
                    v += r * at(k + 2, j);
                    at(k + 2, j) -= v * vz;
                }
                at(k + 1, j) -= v * vy;
                at(k, j) -= v * vx;
            }
            const std::ptrdiff_t last = std::min(hi, k + 3);
            for (std::ptrdiff_t i = lo; i <= last; ++i) {
                double v = vx * at(i, k) + vy * at(i, k + 1);
                if (three) {
                    v += vz * at(i, k + 2);
                    at(i, k + 2) -= v * r;
                }
                at(i, k + 1) -= v * q;
                at(i, k) -= v;
            }
        }
    }
    return true;
}

void PolynomialRoots::polish(std::size_t n, std::size_t root)
{
    double zr = m_real[root];
    double zi = m_imag[root];
    Value value = evaluate(m_monic, n, zr, zi);
    for (int step = 0; step < kPolishSteps; ++step) {
        const double denominator = value.dr * value.dr + value.di * value.di;
        if (!(denominator > 0.0) || !std::isfinite(denominator)) {
            return;
        }
        // z − p/p'
        const double dzr = (value.pr * value.dr + value.pi * value.di) / denominator;
        const double dzi = (value.pi * value.dr - value.pr * value.di) / denominator;
        const double nr = zr - dzr;
        const double ni = zi - dzi;
        const bool leavesHalfPlane = zi > 0.0 && !(ni > 0.0);
        const bool leavesCircle = zr * zr + zi * zi < 1.0 && nr * nr + ni * ni >= 1.0;
        if (leavesHalfPlane || leavesCircle || !std::isfinite(nr) || !std::isfinite(ni)) {
            return;
        }
        const Value next = evaluate(m_monic, n, nr, ni);
        if (!(next.size() < value.size())) {
            return;
        }
        zr = nr;
        zi = ni;
        value = next;
        m_real[root] = zr;
        m_imag[root] = zi;
        if (std::hypot(dzr, dzi) <= kEpsilon * std::hypot(zr, zi)) {
            return;
        }
    }
}

} // namespace phonaxis
