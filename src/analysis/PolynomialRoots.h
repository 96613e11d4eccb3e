#pragma once

// All roots of a real polynomial at once, as the eigenvalues of its
// companion matrix.
//
// The monic polynomial zⁿ + c1·zⁿ⁻¹ + … + cn has the companion matrix whose
// first row is −c1 … −cn with ones below the diagonal; it is already upper
// Hessenberg. The matrix is balanced (rows and columns scaled by powers of
// two, which is exact), and its eigenvalues are found by the Francis
// double-shift QR iteration with deflation. Each root is then polished by
// Newton steps on the polynomial itself, a step being kept only when it
// lowers |p(z)|, keeps a complex root in its half plane and does not take a
// root from inside the unit circle to its outside.
//
// The work does not depend on the order of threads or on anything but the
// coefficients. Storage grows to the largest degree seen and is kept, so
// repeated calls of one object allocate nothing.

#include <span>
#include <vector>

namespace phonaxis {

class PolynomialRoots {
public:
    // Most QR sweeps spent on one eigenvalue (or pair) before giving up.
    static constexpr int kMaxSweepsPerRoot = 60;
    // Newton steps tried on each root.
    static constexpr int kPolishSteps = 8;

    // Roots of poly[0]·zⁿ + poly[1]·zⁿ⁻¹ + … + poly[n], n = degree >= 1.
    // Complex roots come in conjugate pairs with exactly opposite imaginary
    // parts; real roots have an imaginary part of exactly 0. False, with no
    // roots, when poly holds fewer than degree + 1 values, poly[0] is 0, a
    // coefficient is not finite, storage cannot be had or the iteration
    // does not converge.
    bool find(std::span<const double> poly, int degree);

    // The roots of the last successful find, in no particular order.
    std::span<const double> real() const { return {m_real.data(), m_count}; }
    std::span<const double> imag() const { return {m_imag.data(), m_count}; }

private:
    bool reserve(std::size_t degree);
    void balance(std::size_t n);
    bool eigenvalues(std::size_t n);
    void polish(std::size_t n, std::size_t root);

    std::vector<double> m_monic;  // 1, c1 … cn
    std::vector<double> m_matrix; // n × n, row by row
    std::vector<double> m_real;
    std::vector<double> m_imag;
    std::size_t m_count = 0;
};

} // namespace phonaxis
