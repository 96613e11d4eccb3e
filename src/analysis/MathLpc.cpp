#include "analysis/CMathFunc.h"

#include "analysis/PolynomialRoots.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <vector>

namespace phonaxis {

namespace {

constexpr std::size_t kOrderSlots = CMathFunc::kLpcMaxOrder + 1;
constexpr std::size_t kPolySlots = CMathFunc::kPolyCapacity;
constexpr std::size_t kEnvelopeLength = CMathFunc::kEnvelopeLength;
constexpr std::size_t kEnvelopeBins = CMathFunc::kEnvelopeBins;
constexpr double kFactorTolerance = 0.0001;
constexpr int kFactorIterations = 100;
constexpr double kNaturalSlope = 1e30;
// The shifts t the forward-backward division tries, in turn.
constexpr std::array<double, 5> kShifts = {0.0, 0.5, 1.0, 1.5, 2.0};
constexpr std::size_t kShiftTrials = kShifts.size();

// One thread's LPC results and work rows. Made on the thread's first call and
// kept, so per-frame calls allocate nothing (the frame row grows to the
// longest frame seen).
struct LpcWork {
    CMathFunc::lpcout prediction;
    CMathFunc::ro roots;
    std::array<double, kOrderSlots + 1> r{};  // autocorrelation r[0..401]
    std::array<double, 2 * kOrderSlots> ep{}; // Schur rows
    std::array<double, 2 * kOrderSlots> en{};
    std::array<double, kOrderSlots + 1> b{};     // old a during the step-up
    std::array<double, kPolySlots> dPoleCoeff{}; // A handed to the root finder
    std::array<double, kPolySlots> quocoe{};     // quotient after each factor
    std::array<double, kPolySlots> divided{};    // root finders' division rows
    std::array<double, kPolySlots> dividedTwice{};
    std::array<double, kPolySlots> shifted{};
    std::array<double, kShiftTrials * kPolySlots> shiftedTrials{}; // frwbkw's rows, side by side
    std::array<double, kShiftTrials * kPolySlots> dividedTrials{};
    std::array<double, kPolySlots> original{}; // A before deflation, for polishing
    PolynomialRoots eigenvalueRoots;           // when deflation gives up
    std::array<double, kEnvelopeLength> re{};
    std::array<double, kEnvelopeLength> im{};
    std::array<double, kEnvelopeBins + 1> knotX{}; // spline knots, from 1
    std::array<double, kEnvelopeBins + 1> knotY{};
    std::array<double, kEnvelopeBins + 1> knotY2{};
    std::vector<double> frame;
    std::vector<double> hamming; // the Hamming window of the last frame length
    int hammingLength = -1;
};

LpcWork* lpcWork() noexcept
{
    thread_local std::unique_ptr<LpcWork> work;
    if (!work) {
        work.reset(new (std::nothrow) LpcWork);
    }
    return work.get();
}

bool isFinite(double value)
{
    return std::isfinite(value);
}

// |delta| relative to the larger of |a| and |b|; a change of nothing from
// nothing counts as none.
double relativeChange(double delta, double a, double b)
{
    const double scale = std::max(std::fabs(a), std::fabs(b));
    if (scale == 0.0) {
        return delta == 0.0 ? 0.0 : HUGE_VAL;
    }
    return std::fabs(delta) / scale;
}

bool fits(std::span<const double> values, int count)
{
    return count >= 0 && values.size() >= static_cast<std::size_t>(count);
}

// poly (a0 first) at x by Horner's rule; `reversed` evaluates the polynomial
// with its coefficients in the opposite order, whose roots are the
// reciprocals of poly's.
double evaluate(std::span<const double> poly, int degree, double x, bool reversed)
{
    double value = 0.0;
    for (int i = 0; i <= degree; ++i) {
        value = value * x + poly[static_cast<std::size_t>(reversed ? degree - i : i)];
    }
    return value;
}

bool opposite(double a, double b)
{
    return (a < 0.0 && b > 0.0) || (a > 0.0 && b < 0.0);
}

// Grid points evaluated at once by findRealRoot.
constexpr std::size_t kAhead = 8;

// poly (or its reversal) at x[0 … kAhead − 1], the Horner chains side by
// side (in vector registers): each value is computed by exactly the
// operations evaluate() uses.
void evaluateAhead(std::span<const double> poly, int degree, const double* x, bool reversed,
                   double* value)
{
    std::array<double, kAhead> v{};
    for (int i = 0; i <= degree; ++i) {
        const double c = poly[static_cast<std::size_t>(reversed ? degree - i : i)];
        for (std::size_t j = 0; j < kAhead; ++j) {
            v[j] = v[j] * x[j] + c;
        }
    }
    std::copy(v.begin(), v.end(), value);
}

// A real root of poly (or of its reversal) in [−1.2, 1.2): the grid
// −1.2 + k/degree is scanned for an exact zero or a change of sign, which is
// then narrowed by bisection.
bool findRealRoot(std::span<const double> poly, int degree, bool reversed, double tolerance,
                  int maxIterations, double& root)
{
    const double step = 1.0 / degree;
    double lo = -1.2;
    double fLo = evaluate(poly, degree, lo, reversed);
    if (fLo == 0.0) {
        root = lo;
        return true;
    }
    // The grid's values kAhead at a time (those past the first sign change
    // are not used).
    std::array<double, kAhead> ahead{};
    std::array<double, kAhead> aheadX{};
    int aheadFrom = 0;
    int aheadTo = 0;
    for (int k = 1;; ++k) {
        const double x = -1.2 + k * step;
        if (!(x < 1.2)) {
            return false;
        }
        if (k >= aheadTo) {
            for (std::size_t j = 0; j < kAhead; ++j) {
                aheadX[j] = -1.2 + (k + static_cast<int>(j)) * step;
            }
            evaluateAhead(poly, degree, aheadX.data(), reversed, ahead.data());
            aheadFrom = k;
            aheadTo = k + static_cast<int>(kAhead);
        }
        const double f = ahead[static_cast<std::size_t>(k - aheadFrom)];
        if (f == 0.0) {
            root = x;
            return true;
        }
        if (opposite(fLo, f)) {
            double hi = x;
            double mid = 0.5 * (lo + hi);
            for (int i = 0; i < maxIterations; ++i) {
                if (std::fabs(hi - lo) / std::max(std::fabs(hi), std::fabs(lo)) < tolerance) {
                    break;
                }
                mid = 0.5 * (lo + hi);
                if (mid == lo || mid == hi) {
                    break;
                }
                const double fMid = evaluate(poly, degree, mid, reversed);
                if (fMid == 0.0) {
                    break;
                }
                if (opposite(fMid, fLo)) {
                    hi = mid;
                } else {
                    lo = mid;
                    fLo = fMid;
                }
                mid = 0.5 * (lo + hi);
            }
            root = mid;
            return true;
        }
        lo = x;
        fLo = f;
    }
}

// Synthetic division of poly[0..degree] by z² − r·z − s into q[0..degree]:
// q[0..degree-2] is the quotient, q[degree-1] and q[degree] the remainder.
void divideQuadratic(std::span<const double> poly, int degree, double r, double s, double* q)
{
    q[0] = poly[0];
    q[1] = poly[1] + r * q[0];
    for (int k = 2; k <= degree; ++k) {
        q[k] = poly[static_cast<std::size_t>(k)] + r * q[k - 1] + s * q[k - 2];
    }
}

void copyQuotient(const double* q, int count, std::span<double> quotient)
{
    std::copy(q, q + count, quotient.begin());
}

bool quadraticArgumentsFit(int degree, std::span<const double> poly, std::span<double> quotient)
{
    return degree >= 3 && degree < CMathFunc::kPolyCapacity && fits(poly, degree + 1) &&
           fits(quotient, degree - 1);
}

// Refines a quadratic factor z² − r·z − s found in a deflated polynomial by
// Bairstow steps against the undeflated one, poly[0..degree]. Each
// deflation leaves rounding in the quotient, and over twenty or more factors
// it can move a root outside the unit circle (a negative bandwidth), which
// an autocorrelation predictor never has. The refined pair is taken only
// when the iteration converges without moving r or s by more than 0.5, so
// that it does not wander off to a distant root; otherwise r and s stay as
// found.
void polishQuadratic(std::span<const double> poly, int degree, double& r, double& s, double* q,
                     double* c)
{
    if (degree < 3) {
        return;
    }
    constexpr int kMaxSteps = 40;
    constexpr double kTolerance = 1e-14;
    constexpr double kLargestMove = 0.5; // in r and s
    const auto d = static_cast<std::size_t>(degree);
    double rr = r;
    double ss = s;
    for (int step = 0; step < kMaxSteps; ++step) {
        divideQuadratic(poly, degree, rr, ss, q);
        divideQuadratic(std::span<const double>(q, d + 1), degree - 1, rr, ss, c);
        const double det = c[d - 2] * c[d - 2] - c[d - 1] * c[d - 3];
        if (det == 0.0 || !isFinite(det)) {
            return;
        }
        const double dr = (-q[d - 1] * c[d - 2] + q[d] * c[d - 3]) / det;
        const double ds = (-q[d] * c[d - 2] + q[d - 1] * c[d - 1]) / det;
        rr += dr;
        ss += ds;
        if (!isFinite(rr) || !isFinite(ss) || std::fabs(rr - r) > kLargestMove ||
            std::fabs(ss - s) > kLargestMove) {
            return;
        }
        if (std::fabs(dr) <= kTolerance * std::max(1.0, std::fabs(rr)) &&
            std::fabs(ds) <= kTolerance * std::max(1.0, std::fabs(ss))) {
            r = rr;
            s = ss;
            return;
        }
    }
}

// Whether every root of the monic poly[0..degree] lies inside the unit
// circle: the step-down recursion turns A back into reflection
// coefficients, and A is minimum phase exactly when each is below 1 in size.
// `row` is work storage of degree + 1 values.
bool minimumPhase(std::span<const double> poly, int degree, double* row)
{
    std::copy_n(poly.begin(), degree + 1, row);
    for (int m = degree; m >= 1; --m) {
        const double k = row[m];
        if (!(std::fabs(k) < 1.0)) {
            return false;
        }
        const double scale = 1.0 - k * k;
        for (int i = 1, j = m - 1; i <= j; ++i, --j) {
            const double low = row[i];
            const double high = row[j];
            row[i] = (low - k * high) / scale;
            row[j] = (high - k * low) / scale;
        }
    }
    return true;
}

// Whether pair i of the table lies on or outside the unit circle (for a
// real pair, its larger root).
bool rootOutside(const CMathFunc::ro& table, int i)
{
    const double re = table.rootReal[i];
    const double im = table.rootImag[i];
    return !(re * re + im * im < 1.0);
}

bool anyRootOutside(const CMathFunc::ro& table)
{
    for (int i = 0; i < table.quadraticCount; ++i) {
        if (rootOutside(table, i)) {
            return true;
        }
    }
    return false;
}

// The largest |z|² a pair of a minimum-phase polynomial is given: a root
// that rounding has put on or just past the circle is kept inside it, with
// a bandwidth near 0 rather than below.
constexpr double kInsideCircle = 1.0 - 0x1p-40;

// The quadratic z² + b·z + c into the table's next slot, and its formant
// when no wider than maxBandwidthHz.
void addQuadratic(CMathFunc::ro& table, double b, double c, double maxBandwidthHz,
                  double sampleRateHz)
{
    CMathFunc::cmpfb2(b, c, sampleRateHz);
    // At most order/2 <= kMaxQuadratics quadratics can be found.
    const auto slot = static_cast<std::size_t>(table.quadraticCount++);
    table.b[slot] = b;
    table.c[slot] = c;
    table.rootReal[slot] = CMathFunc::zreal;
    table.rootImag[slot] = CMathFunc::zimag;
    if (CMathFunc::tbandw <= maxBandwidthHz) {
        const auto f = static_cast<std::size_t>(table.formantCount++);
        table.frequencyHz[f] = CMathFunc::tfreq;
        table.bandwidthHz[f] = CMathFunc::tbandw;
    }
}

// Lists the table's formants by ascending frequency (a stable insertion
// sort, bandwidths moving along).
CMathFunc::ro* sortFormants(CMathFunc::ro& table)
{
    for (int i = 1; i < table.formantCount; ++i) {
        const double f = table.frequencyHz[i];
        const double bw = table.bandwidthHz[i];
        int j = i - 1;
        while (j >= 0 && table.frequencyHz[j] > f) {
            table.frequencyHz[j + 1] = table.frequencyHz[j];
            table.bandwidthHz[j + 1] = table.bandwidthHz[j];
            --j;
        }
        table.frequencyHz[j + 1] = f;
        table.bandwidthHz[j + 1] = bw;
    }
    return &table;
}

} // namespace

CMathFunc::lpcout* CMathFunc::autolpc(std::span<const double> signal, int n, int order)
{
    LpcWork* work = lpcWork();
    if (work == nullptr || !fits(signal, n)) {
        return nullptr;
    }
    if (order > kLpcMaxOrder) {
        std::fputs("Requested LPC order too large\n", stderr);
        order = kLpcMaxOrder;
    }
    const int p = std::max(order, 0);
    lpcout& out = work->prediction;
    out = lpcout{};
    out.order = p;
    out.a[0] = 1.0;

    auto& r = work->r;
    // Four lags at a time, each summed in rising t as alone (the same bits):
    // side by side while all four have terms, then each lag's last terms.
    const double* x = signal.data();
    int lag = 0;
    for (; lag + 3 <= p; lag += 4) {
        double s0 = 0.0;
        double s1 = 0.0;
        double s2 = 0.0;
        double s3 = 0.0;
        int t = 0;
        for (; t + lag + 3 < n; ++t) {
            const double v = x[t];
            s0 += v * x[t + lag];
            s1 += v * x[t + lag + 1];
            s2 += v * x[t + lag + 2];
            s3 += v * x[t + lag + 3];
        }
        for (int u = t; u + lag < n; ++u) {
            s0 += x[u] * x[u + lag];
        }
        for (int u = t; u + lag + 1 < n; ++u) {
            s1 += x[u] * x[u + lag + 1];
        }
        for (int u = t; u + lag + 2 < n; ++u) {
            s2 += x[u] * x[u + lag + 2];
        }
        r[static_cast<std::size_t>(lag)] = s0;
        r[static_cast<std::size_t>(lag) + 1] = s1;
        r[static_cast<std::size_t>(lag) + 2] = s2;
        r[static_cast<std::size_t>(lag) + 3] = s3;
    }
    for (; lag <= p; ++lag) {
        double sum = 0.0;
        for (int t = 0; t + lag < n; ++t) {
            sum += x[t] * x[t + lag];
        }
        r[static_cast<std::size_t>(lag)] = sum;
    }
    out.residual = std::max(r[0], 0.0);
    if (p == 0) {
        return &out;
    }

    auto& ep = work->ep;
    auto& en = work->en;
    for (int i = 0; i < p; ++i) {
        ep[static_cast<std::size_t>(i)] = r[static_cast<std::size_t>(i) + 1];
        en[static_cast<std::size_t>(i)] = r[static_cast<std::size_t>(i)];
    }
    // The next reflection coefficient, or nothing when the prediction error
    // has vanished (a silent frame, or a perfectly predictable one): the
    // division would give 0/0 or an unstable |k| >= 1, so the recursion stops
    // there and the remaining coefficients stay 0.
    const auto nextCoefficient = [&en](double numerator, double& k) {
        if (!(en[0] > 0.0) || !isFinite(en[0])) {
            return false;
        }
        k = -numerator / en[0];
        return std::fabs(k) < 1.0;
    };

    double k = 0.0;
    int stages = 0;
    if (nextCoefficient(ep[0], k)) {
        out.rc[0] = k;
        en[0] += k * ep[0];
        stages = 1;
        for (int m = 0; m <= p - 2; ++m) {
            const auto last = static_cast<std::size_t>(p - 1);
            ep[last] += k * en[last - static_cast<std::size_t>(m)];
            for (int j = 1; j <= p - 2 - m; ++j) {
                const auto up = static_cast<std::size_t>(m + j);
                const auto down = static_cast<std::size_t>(j);
                const double epOld = ep[up];
                ep[up] = epOld + k * en[down];
                en[down] = en[down] + k * epOld;
            }
            if (!nextCoefficient(ep[static_cast<std::size_t>(m) + 1], k)) {
                break;
            }
            out.rc[static_cast<std::size_t>(m) + 1] = k;
            en[0] += k * ep[static_cast<std::size_t>(m) + 1];
            ++stages;
        }
    }
    out.residual = stages > 0 ? std::max(en[0], 0.0) : out.residual;

    // Step-up from the reflection coefficients to A(z).
    auto& old = work->b;
    out.a[1] = out.rc[0];
    for (int i = 1; i < p; ++i) {
        const double ki = out.rc[static_cast<std::size_t>(i)];
        std::copy(out.a, out.a + i + 1, old.begin());
        for (int j = 1; j <= i; ++j) {
            out.a[j] =
                old[static_cast<std::size_t>(j)] + ki * old[static_cast<std::size_t>(i + 1 - j)];
        }
        out.a[i + 1] = ki;
    }
    return &out;
}

void CMathFunc::cmpfb2(double b, double c, double sampleRateHz)
{
    const double h = b / 2.0;
    const double d = h * h - c;
    const double perRadian = sampleRateHz / dTWOPI;
    if (d < 0.0) {
        zreal = -h;
        zimag = std::sqrt(-d);
        tfreq = std::atan2(zimag, -h) * perRadian;
        tbandw = -perRadian * std::log(c);
        return;
    }
    // Two real roots −h ± √d: the pair is placed where its larger root lies,
    // at 0 Hz when that root is positive, at half the rate when negative.
    const double m = std::sqrt(d) + std::fabs(h);
    zimag = 0.0;
    tbandw = -perRadian * std::log(m * m);
    if (b > 0.0) {
        zreal = -m;
        tfreq = sampleRateHz / 2.0;
    } else {
        zreal = m;
        tfreq = 0.0;
    }
}

bool CMathFunc::rfactr(int degree, std::span<const double> poly, std::span<double> quotient,
                       double& root, double tolerance, int maxIterations)
{
    if (degree < 1 || !fits(poly, degree + 1) || !fits(quotient, degree)) {
        return false;
    }
    const auto d = static_cast<std::size_t>(degree);
    double x = 0.0;
    // A constant coefficient of 0 is an exact root at the origin.
    if (poly[d] == 0.0 || findRealRoot(poly, degree, false, tolerance, maxIterations, x)) {
        x = poly[d] == 0.0 ? 0.0 : x;
        quotient[0] = poly[0];
        for (std::size_t i = 1; i < d; ++i) {
            quotient[i] = quotient[i - 1] * x + poly[i];
        }
        root = x;
        return true;
    }
    if (!findRealRoot(poly, degree, true, tolerance, maxIterations, x) || x == 0.0) {
        return false;
    }
    // x is a root of the reversed polynomial, so 1/x is one of poly: divide
    // from the constant end, then scale the quotient to poly's leading term.
    quotient[d - 1] = poly[d];
    for (std::size_t i = d - 1; i >= 1; --i) {
        quotient[i - 1] = x * quotient[i] + poly[i];
    }
    const double lead = quotient[0];
    if (lead == 0.0 || !isFinite(lead)) {
        return false;
    }
    for (std::size_t i = 0; i < d; ++i) {
        quotient[i] = quotient[i] / lead * poly[0];
    }
    root = 1.0 / x;
    return true;
}

bool CMathFunc::barstw(int degree, std::span<const double> poly, std::span<double> quotient,
                       double& r, double& s, double tolerance, int maxIterations)
{
    LpcWork* work = lpcWork();
    if (work == nullptr || !quadraticArgumentsFit(degree, poly, quotient)) {
        return false;
    }
    const auto d = static_cast<std::size_t>(degree);
    double* q = work->divided.data();
    double* c = work->dividedTwice.data();
    r = 2.0;
    s = -1.0;
    double dr = 0.0;
    double ds = 0.0;
    double rOld = r;
    double sOld = s;
    for (int iteration = 0; iteration < maxIterations; ++iteration) {
        divideQuadratic(poly, degree, r, s, q);
        if (iteration > 0 && std::fabs(dr) / std::max(1.0, std::fabs(rOld)) < tolerance &&
            relativeChange(ds, sOld, s) < tolerance) {
            copyQuotient(q, degree - 1, quotient);
            return true;
        }
        // The quotient divided once more gives the partial derivatives of
        // the remainder with respect to r and s.
        divideQuadratic(std::span<const double>(q, d + 1), degree - 1, r, s, c);
        const double det = c[d - 2] * c[d - 2] - c[d - 1] * c[d - 3];
        if (det == 0.0 || !isFinite(det)) {
            return false;
        }
        dr = (-q[d - 1] * c[d - 2] + q[d] * c[d - 3]) / det;
        ds = (-q[d] * c[d - 2] + q[d - 1] * c[d - 1]) / det;
        rOld = r;
        sOld = s;
        r += dr;
        s += ds;
        if (!isFinite(r) || !isFinite(s)) {
            return false;
        }
    }
    return false;
}

bool CMathFunc::frwbkw(int degree, std::span<const double> poly, std::span<double> quotient,
                       double& r, double& s, double tolerance, int maxIterations)
{
    LpcWork* work = lpcWork();
    if (work == nullptr || !quadraticArgumentsFit(degree, poly, quotient)) {
        return false;
    }
    const auto d = static_cast<std::size_t>(degree);
    static constexpr std::size_t kTrials = kShiftTrials;
    // Row k of trial i at [k·kTrials + i]: the trials side by side.
    double* q = work->shiftedTrials.data();
    double* c = work->dividedTrials.data();
    for (std::size_t i = 0; i < kTrials; ++i) {
        // q(y) = poly(y − t), by repeated synthetic division.
        const double t = kShifts[i];
        for (std::size_t k = 0; k <= d; ++k) {
            q[k * kTrials + i] = poly[k];
        }
        for (std::size_t m = 0; m < d; ++m) {
            for (std::size_t j = 1; j <= d - m; ++j) {
                q[j * kTrials + i] -= t * q[(j - 1) * kTrials + i];
            }
        }
    }
    // The shifts are tried in turn, each from r = 2, s = −1, and the first
    // whose iteration converges gives the factor. The iterations of all of
    // them are made side by side (each value computed exactly as alone), so
    // that a shift that fails costs no more than the longest of them.
    // The forward division's last quotient terms give the ratios u, v of the
    // quotient's lowest coefficients; matching the three lowest terms of the
    // product from the back then gives the next r and s.
    enum class Trial { Running, Failed, Converged };
    std::array<Trial, kTrials> state{};
    std::array<double, kTrials> rr{};
    std::array<double, kTrials> ss{};
    rr.fill(2.0);
    ss.fill(-1.0);
    // The first shift not failed, once it has converged: the factor.
    const auto decided = [&state]() -> std::optional<std::size_t> {
        for (std::size_t i = 0; i < kTrials; ++i) {
            if (state[i] != Trial::Failed) {
                return state[i] == Trial::Converged ? std::optional(i) : std::nullopt;
            }
        }
        return kTrials;
    };
    std::optional<std::size_t> winner;
    for (int iteration = 0; iteration < maxIterations && !(winner = decided()); ++iteration) {
        for (std::size_t i = 0; i < kTrials; ++i) {
            c[i] = q[i];
            c[kTrials + i] = q[i] * rr[i] + q[kTrials + i];
        }
        for (std::size_t k = 2; k <= d - 2; ++k) {
            for (std::size_t i = 0; i < kTrials; ++i) {
                c[k * kTrials + i] = q[k * kTrials + i] + rr[i] * c[(k - 1) * kTrials + i] +
                                     ss[i] * c[(k - 2) * kTrials + i];
            }
        }
        for (std::size_t i = 0; i < kTrials; ++i) {
            if (state[i] != Trial::Running) {
                continue;
            }
            const auto at = [&](const double* row, std::size_t k) { return row[k * kTrials + i]; };
            state[i] = Trial::Failed;
            if (at(c, d - 2) == 0.0) {
                continue;
            }
            const double u = at(c, d - 3) / at(c, d - 2);
            const double v = d >= 4 ? at(c, d - 4) / at(c, d - 2) : 0.0;
            const double e1 = at(q, d - 1) - u * at(q, d);
            const double e2 = at(q, d - 2) - u * e1 - v * at(q, d);
            if (e2 == 0.0) {
                continue;
            }
            const double sNew = -at(q, d) / e2;
            const double rNew = -e1 / e2;
            if (!isFinite(sNew) || !isFinite(rNew)) {
                continue;
            }
            const bool converged = relativeChange(rNew - rr[i], rr[i], rNew) < tolerance &&
                                   relativeChange(sNew - ss[i], ss[i], sNew) < tolerance;
            rr[i] = rNew;
            ss[i] = sNew;
            state[i] = converged ? Trial::Converged : Trial::Running;
        }
    }
    if (!winner) {
        // Out of iterations: those still running have failed.
        for (Trial& trial : state) {
            trial = trial == Trial::Running ? Trial::Failed : trial;
        }
        winner = decided();
    }
    if (*winner == kTrials) {
        return false;
    }
    const double t = kShifts[*winner];
    r = rr[*winner] - 2.0 * t;
    s = rr[*winner] * t + ss[*winner] - t * t;
    double* product = work->divided.data();
    divideQuadratic(poly, degree, r, s, product);
    copyQuotient(product, degree - 1, quotient);
    return true;
}

int CMathFunc::factor(int degree, std::span<const double> poly, std::span<double> quotient,
                      double& r, double& s)
{
    s = 0.0;
    if (degree < 1 || degree >= kPolyCapacity || !fits(poly, degree + 1) ||
        !fits(quotient, degree) || poly[0] == 0.0) {
        return 0;
    }
    if (degree == 1) {
        r = -poly[1] / poly[0];
        quotient[0] = poly[0];
        return 1;
    }
    if (degree == 2) {
        r = -poly[1] / poly[0];
        s = -poly[2] / poly[0];
        quotient[0] = poly[0];
        return 2;
    }
    if (rfactr(degree, poly, quotient, r, kFactorTolerance, kFactorIterations)) {
        return 1;
    }
    if (barstw(degree, poly, quotient, r, s, kFactorTolerance, kFactorIterations) ||
        frwbkw(degree, poly, quotient, r, s, kFactorTolerance, kFactorIterations)) {
        return 2;
    }
    return 0;
}

CMathFunc::ro* CMathFunc::rootsub(int order, double maxBandwidthHz, std::span<double> poly,
                                  double sampleRateHz)
{
    LpcWork* work = lpcWork();
    if (work == nullptr || order > kLpcMaxOrder || !(sampleRateHz > 0.0) ||
        !isFinite(sampleRateHz)) {
        return nullptr;
    }
    ro& table = work->roots;
    table = ro{};
    int d = order;
    if (d < 2) {
        return &table;
    }
    if (!fits(poly, d + 1) || poly[0] == 0.0 || !isFinite(poly[0])) {
        return nullptr;
    }
    if (poly[0] != 1.0) {
        const double lead = poly[0];
        for (int i = 0; i <= d; ++i) {
            poly[static_cast<std::size_t>(i)] /= lead;
        }
    }
    std::span<double> quotient(work->quocoe);
    const int originalDegree = d;
    std::copy_n(poly.begin(), d + 1, work->original.begin());
    const std::span<const double> original(work->original.data(),
                                           static_cast<std::size_t>(originalDegree) + 1);
    // A minimum-phase A (every LPC predictor's) has every root inside the
    // unit circle. Once deflation reports a pair on or outside it, the roots
    // are taken from the companion matrix below whatever deflation would
    // find next, so it stops there: the rest would be thrown away.
    const bool stable = minimumPhase(original, originalDegree, work->shifted.data());
    bool deflated = true;
    while (d > 1) {
        double b = 0.0;
        double c = 0.0;
        if (d == 2) {
            double r = -poly[1];
            double s = -poly[2];
            polishQuadratic(original, originalDegree, r, s, work->divided.data(),
                            work->dividedTwice.data());
            b = -r;
            c = -s;
        } else {
            double r = 0.0;
            double s = 0.0;
            const int found = factor(d, poly, quotient, r, s);
            if (found == 1) {
                --d;
                std::copy_n(quotient.begin(), d + 1, poly.begin());
                continue;
            }
            if (found != 2) {
                if (found != 0) {
                    std::fputs("  factor() is confused,", stderr);
                }
                deflated = false;
                break;
            }
            // Deflation goes on from the unrefined quotient (refining the
            // quotient as well makes later factors worse); only the reported
            // factor is refined.
            polishQuadratic(original, originalDegree, r, s, work->divided.data(),
                            work->dividedTwice.data());
            b = -r;
            c = -s;
        }
        addQuadratic(table, b, c, maxBandwidthHz, sampleRateHz);
        if (stable && rootOutside(table, table.quadraticCount - 1)) {
            break;
        }
        d -= 2;
        if (d > 0) {
            std::copy_n(quotient.begin(), d + 1, poly.begin());
        }
    }

    // When deflation gives up, or places a root of a minimum-phase A (every
    // LPC predictor's) on or outside the unit circle, all roots are taken
    // at once from the companion matrix of the undeflated A instead. Real
    // roots are dropped, as deflation drops those it finds singly.
    if (!deflated || anyRootOutside(table)) {
        if (deflated && !stable) {
            return sortFormants(table);
        }
        PolynomialRoots& solver = work->eigenvalueRoots;
        if (!solver.find(original, originalDegree)) {
            return nullptr;
        }
        table = ro{};
        for (std::size_t i = 0; i < solver.real().size(); ++i) {
            const double re = solver.real()[i];
            const double im = solver.imag()[i];
            if (im > 0.0) {
                const double c = re * re + im * im;
                addQuadratic(table, -2.0 * re, stable ? std::min(c, kInsideCircle) : c,
                             maxBandwidthHz, sampleRateHz);
            }
        }
    }
    return sortFormants(table);
}

bool CMathFunc::DoLPC(std::span<double> data, int order, int n, double preEmphasis, int windowType,
                      unsigned char interpolate, int outputPoints, int frequencyRangeHz,
                      double sampleRateHz, unsigned char formants, unsigned char formantsOnly)
{
    const bool preEmphasised = preEmphasis > 0.0;
    const bool envelope = formantsOnly == 0;
    const bool resample = envelope && interpolate != 0 && outputPoints >= 1;
    const bool rateOk = sampleRateHz > 0.0 && isFinite(sampleRateHz);
    const auto decline = [formants]() {
        if (formants != 0) {
            lp_Roots = nullptr;
        }
        return false;
    };
    if (n < 0 || data.size() < static_cast<std::size_t>(n) + (preEmphasised ? 1U : 0U) ||
        (envelope && data.size() < kEnvelopeBins) || ((formants != 0 || resample) && !rateOk)) {
        return decline();
    }
    if (resample &&
        (!fits(data, outputPoints) || frequencyRangeHz < 0 ||
         frequencyRangeHz > sampleRateHz * 0.5 || !reserveSplineScratch(kEnvelopeBins + 1))) {
        return decline();
    }
    LpcWork* work = lpcWork();
    if (work == nullptr) {
        return decline();
    }
    const auto length = static_cast<std::size_t>(n);
    if (work->frame.size() < length) {
        try {
            work->frame.resize(length);
        } catch (const std::bad_alloc&) {
            return decline();
        }
    }

    double* s = work->frame.data();
    const bool hamming = windowType == 1;
    if (hamming && work->hammingLength != n) {
        // Kept for the next frame of this length: a track's frames all have one.
        try {
            work->hamming.resize(length);
        } catch (const std::bad_alloc&) {
            return decline();
        }
        for (std::size_t i = 0; i < length; ++i) {
            work->hamming[i] = 0.54 - 0.46 * std::cos(static_cast<double>(i) * dTWOPI / n);
        }
        work->hammingLength = n;
    }
    for (std::size_t i = 0; i < length; ++i) {
        const double w = hamming ? work->hamming[i] : 1.0;
        s[i] = (preEmphasised ? data[i + 1] - preEmphasis * data[i] : data[i]) * w;
    }
    const lpcout* prediction = autolpc(std::span<const double>(s, length), n, order);
    const int p = prediction->order;

    if (formants != 0) {
        auto& poles = work->dPoleCoeff;
        std::fill(poles.begin(), poles.end(), 0.0);
        std::copy(prediction->a, prediction->a + p + 1, poles.begin());
        lp_Roots = rootsub(p, kFormantMaxBandwidthHz, poles, sampleRateHz);
    }
    if (!envelope) {
        return true;
    }

    // |A| at 256 points around the circle. An order above 255 has more
    // coefficients than points; folding them modulo 256 gives the same
    // values at those points.
    auto& re = work->re;
    auto& im = work->im;
    re.fill(0.0);
    im.fill(0.0);
    for (int i = 0; i <= p; ++i) {
        re[static_cast<std::size_t>(i) % kEnvelopeLength] += prediction->a[i];
    }
    FFT_CODE_REAL(re, im, 8);
    for (std::size_t k = 0; k < kEnvelopeBins; ++k) {
        const double power = re[k] * re[k] + im[k] * im[k];
        data[k] = power == 0.0 ? 0.0 : 10.0 * std::log10(power);
    }
    if (!resample) {
        return true;
    }

    auto& x = work->knotX;
    auto& y = work->knotY;
    for (std::size_t k = 0; k < kEnvelopeBins; ++k) {
        x[k + 1] = static_cast<double>(k);
        y[k + 1] = data[k];
    }
    spline(x, y, static_cast<int>(kEnvelopeBins), kNaturalSlope, kNaturalSlope, work->knotY2);
    const double step = (frequencyRangeHz / (sampleRateHz * 0.5)) *
                        static_cast<double>(kEnvelopeBins) / outputPoints;
    for (std::size_t i = 0; i < static_cast<std::size_t>(outputPoints); ++i) {
        double level = 0.0;
        if (splint(x, y, work->knotY2, static_cast<int>(kEnvelopeBins),
                   static_cast<double>(i) * step, level) == 0) {
            data[i] = level;
        }
    }
    return true;
}

} // namespace phonaxis
