#pragma once

// The analysis library: numerical routines over plain arrays of doubles.
//
// CMathFunc holds no data; its operations are static and behave as free
// functions, so a caller may either create a CMathFunc around a computation or
// call CMathFunc::DoFFT_Real(...) directly. Each routine lives in its own
// source file (MathFft.cpp, MathSpline.cpp, ...).
//
// Threads: every routine may be called from any thread at the same time as
// any other. Work storage is thread_local (one set per thread, made on the
// thread's first call), so a spectrogram worker and a spectrum window compute
// side by side without a lock, and the per-frame calls allocate nothing after
// the first.
//
// Arrays are passed as spans: a routine checks that they hold what it will
// read and write, and declines (touching nothing) when they do not.

#include "analysis/WorkProgress.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace phonaxis {

// The library's constants. They are deliberately these thirteen-decimal
// values, not full double-precision π: every routine's results depend on them.
inline constexpr double PI = 3.1415926535898;
inline constexpr double dTWOPI = 6.2831853071796;

class CMathFunc {
public:
    // Largest transform: 2^14 = 16,384 points (the precise pitch's window
    // and lags at 192 kHz; the cepstral pitch's 32,768-point real transform).
    static constexpr int kMaxFftOrder = 14;
    static constexpr int kMaxFftLength = 1 << kMaxFftOrder;
    // Largest level spectrum DoFFT_Real computes: 8192 points.
    static constexpr int kMaxSpectrumFftLength = 8192;

    // DoFFT_Real results.
    static constexpr int kSpectrumDone = 0;
    static constexpr int kSpectrumDeclined = 1;

    // A slope above this selects the natural end condition in `spline`;
    // callers pass 1e30.
    static constexpr double kNaturalSlopeAbove = 9.9e29;

    // --- FFT and windowed level spectrum (MathFft.cpp) ------------------------

    // Forward complex FFT of N = 2^m points, in place on re[0..N-1] and
    // im[0..N-1]: X[k] = Σ x[t]·e^(−2πi·k·t/N), unscaled. Radix 2, decimation
    // in time: bit-reversal reordering, then m butterfly stages whose twiddle
    // factors come from the rotation recurrence started at 1 in each stage
    // (with the library's PI), so results are reproducible to the last bit.
    //
    // Returns false and touches nothing when m is outside 0..kMaxFftOrder,
    // either span holds fewer than N values, or the two spans overlap.
    static bool FFT_CODE_REAL(std::span<double> re, std::span<double> im, int m);
    // The same transform of points whose re and im from `nonzero` on are
    // zero: those are neither read nor needed (they may hold anything), and
    // the result is the one with zeros there, bit for bit.
    static bool FFT_CODE_REAL(std::span<double> re, std::span<double> im, int m,
                              std::size_t nonzero);

    // The lane width of the vectorised transform that serves the longer
    // orders here: 8 or 4 where the processor has those vectors, else 2; at
    // most the PHONAXIS_FFT_LANES environment variable's 2 or 4 when it is
    // set at start-up. Every width gives the same bits.
    static int fftLanes();

    // Level spectrum of one frame, in place in `data`.
    //
    // In: data[0..n-1] are the frame's samples; with pre-emphasis (a > 0) the
    // frame is first differenced, s[i] = data[i+1] − a·data[i], which reads
    // data[n] as well, so data must then hold n + 1 values.
    // Window: windowType 1 is Hamming, w[i] = 0.54 − 0.46·cos(i·dTWOPI/n)
    // (periodic: divided by n); any other value is rectangular.
    // Out: data[k] for k < n/2 is 10·log10(re² + im²) of bin k, at k·rate/n
    // Hz, in dB without normalisation; a bin of power exactly 0 gives 0.0.
    // The rest of data is unchanged.
    // With `interpolate` nonzero and outputPoints ≥ 1, the bin levels are
    // then resampled by a natural cubic spline onto outputPoints values:
    // data[i] is the level at i·frequencyRangeHz/outputPoints Hz. With a
    // single bin (n = 2) the curve is flat at bin 0's level.
    //
    // n must be a power of two in 2..kMaxSpectrumFftLength. Returns kSpectrumDone, or
    // kSpectrumDeclined with data untouched when n is not such a length, data
    // is too short for the samples read or the points written, or (when
    // resampling) the sample rate is not positive or the frequency range is
    // outside 0..rate/2 (there is nothing above half the sample rate to
    // resample; extrapolating the end cubic gives arbitrary levels).
    static int DoFFT_Real(std::span<double> data, int n, double preEmphasis, int windowType,
                          unsigned char interpolate, int outputPoints, int frequencyRangeHz,
                          double sampleRateHz);

    // --- Cubic spline (MathSpline.cpp) ----------------------------------------
    // Arrays are indexed from 1 (x[1..n], y[1..n], y2[1..n]); element 0 is
    // reserved by the caller and never read. Abscissae strictly increase.

    // Second derivatives y2[1..n] of the cubic spline through (x[i], y[i])
    // with end slopes slope1 at x[1] and slopeN at x[n]; a slope above
    // kNaturalSlopeAbove makes that end natural (second derivative 0).
    // Returns false and leaves y2 untouched when n < 2, a span holds fewer
    // than n + 1 values, or the scratch row cannot be allocated.
    static bool spline(std::span<const double> x, std::span<const double> y, int n, double slope1,
                       double slopeN, std::span<double> y2);

    // The spline at abscissa `at` into `result` (the cubic of the end interval
    // outside [x[1], x[n]]). Returns 0, or 1 without writing `result` when the
    // bracketing interval has zero width, n < 2 or a span is shorter than
    // n + 1.
    static int splint(std::span<const double> xa, std::span<const double> ya,
                      std::span<const double> y2a, int n, double at, double& result);

    // The routines below keep their own thread_local work storage in their
    // source files.

    // --- LPC and polynomial roots: DoLPC, autolpc, rootsub, cmpfb2, factor,
    // --- rfactr, barstw, frwbkw (MathLpc.cpp)

    static constexpr int kLpcMaxOrder = 400;
    static constexpr int kMaxQuadratics = kLpcMaxOrder / 2;
    // Longest polynomial the root finder's rows hold: degree 999.
    static constexpr int kPolyCapacity = 1000;
    // Points of the envelope transform, and the levels it yields.
    static constexpr int kEnvelopeLength = 256;
    static constexpr int kEnvelopeBins = kEnvelopeLength / 2;
    // Widest pole pair listed as a formant by DoLPC, Hz.
    static constexpr double kFormantMaxBandwidthHz = 600.0;
    // Callers accept a listed formant when frequency >= this × bandwidth.
    static constexpr double gRatioFormantBanswodth = 2.0;

    // One frame's linear prediction. A(z) = 1 + a1·z⁻¹ + … + ap·z⁻ᵖ.
    struct lpcout {
        int order = 0;
        // k1 … k400 and a spare; k_i at rc[i − 1]. These are the negatives of
        // the usual PARCOR coefficients.
        double rc[kLpcMaxOrder + 1] = {};
        double a[kLpcMaxOrder + 1] = {}; // a0 = 1.0 … ap
        double residual = 0.0;           // prediction error energy of the last stage
    };

    // Quadratic factors z² + b·z + c of A(z) and the formants taken from them.
    struct ro {
        int quadraticCount = 0;
        double b[kMaxQuadratics] = {};
        double c[kMaxQuadratics] = {};
        double rootReal[kMaxQuadratics] = {};
        double rootImag[kMaxQuadratics] = {}; // >= 0; 0 for a real pair
        int formantCount = 0;
        double frequencyHz[kMaxQuadratics] = {}; // ascending
        double bandwidthHz[kMaxQuadratics] = {}; // in the same order
    };

    // This thread's root table after its last DoLPC call with formants on:
    // its ro, or null when the root finder failed or the call declined.
    // Defined inline with constant initialisers: every translation unit then
    // reaches the thread's own copy directly, without a per-access
    // initialisation wrapper (which sanitizer builds of g++ 12 mishandle).
    static inline thread_local ro* lp_Roots = nullptr;
    // cmpfb2's results on this thread: frequency and bandwidth (Hz) and the
    // root (real part, imaginary part >= 0).
    static inline thread_local double tfreq = 0.0;
    static inline thread_local double tbandw = 0.0;
    static inline thread_local double zreal = 0.0;
    static inline thread_local double zimag = 0.0;

    // LPC envelope and formants of one frame, in place in `data`.
    // In: data[0..n-1] (and data[n] with pre-emphasis a > 0, the frame being
    // s[i] = data[i+1] − a·data[i]); windowType 1 Hamming, else rectangular.
    // Analyses at order p (clamped to 0..kLpcMaxOrder). With `formants`
    // nonzero the roots of A go to lp_Roots (pairs up to 600 Hz wide listed
    // as formants); with `formantsOnly` nonzero the call ends there and data
    // is untouched. Otherwise data[0..127] = 10·log10|A|² at bins k·rate/256
    // Hz (the inverse filter; 0.0 for power exactly 0), and with `interpolate`
    // and outputPoints P >= 1, data[i] = that curve (natural spline) at
    // i·frequencyRangeHz/P Hz for i < P.
    // Returns false, with data untouched and lp_Roots null (when formants were
    // asked for), when n < 0, data is shorter than what is read or written,
    // or the rate is not positive and finite (or the range lies outside
    // 0..rate/2 when resampling).
    static bool DoLPC(std::span<double> data, int order, int n, double preEmphasis, int windowType,
                      unsigned char interpolate, int outputPoints, int frequencyRangeHz,
                      double sampleRateHz, unsigned char formants, unsigned char formantsOnly);

    // Autocorrelation LPC of signal[0..n-1] (Schur recursion, then step-up)
    // into this thread's lpcout. An order above 400 is reported on stderr and
    // analysed at 400; below 1 gives order 0. A frame without energy, or one
    // whose recursion reaches a zero error, keeps the remaining reflection
    // coefficients at 0. Null when signal holds fewer than n values, n < 0,
    // or the work storage cannot be had.
    static lpcout* autolpc(std::span<const double> signal, int n, int order);

    // Factors poly[0..order] (a0 first; scaled to a0 = 1 in place, then
    // overwritten while deflating) into quadratics and turns each into a
    // frequency and bandwidth; real roots left over are dropped. When no
    // further factor can be found, or a minimum-phase poly (as every LPC
    // predictor is) comes out with a root on or outside the unit circle, the
    // roots are all taken from the companion matrix of poly instead
    // (PolynomialRoots), those of a minimum-phase poly kept inside the
    // circle. Returns this thread's ro, or null when that fails too (a
    // coefficient that is not finite), order > 400, poly is shorter than
    // order + 1, poly[0] is 0 or the rate is not positive.
    static ro* rootsub(int order, double maxBandwidthHz, std::span<double> poly,
                       double sampleRateHz);

    // Frequency and bandwidth (Hz) of the roots of z² + b·z + c into tfreq,
    // tbandw, zreal, zimag. A real pair lies at 0 Hz when its larger root is
    // positive and at rate/2 when it is negative.
    static void cmpfb2(double b, double c, double sampleRateHz);

    // One factor of poly[0..degree] (a0 first, degree 1..999; quotient holds
    // at least degree values): 1 for a real root r (quotient of degree − 1),
    // 2 for a quadratic z² − r·z − s (quotient of degree − 2), 0 when none is
    // found or the arguments do not fit.
    static int factor(int degree, std::span<const double> poly, std::span<double> quotient,
                      double& r, double& s);
    // The parts of factor: a real root by sign-change search and bisection;
    // Bairstow's iteration from z² − 2z + 1; and the forward-backward
    // division over shifted polynomials. True with the quotient written.
    static bool rfactr(int degree, std::span<const double> poly, std::span<double> quotient,
                       double& root, double tolerance, int maxIterations);
    static bool barstw(int degree, std::span<const double> poly, std::span<double> quotient,
                       double& r, double& s, double tolerance, int maxIterations);
    static bool frwbkw(int degree, std::span<const double> poly, std::span<double> quotient,
                       double& r, double& s, double tolerance, int maxIterations);

    // --- Cepstral pitch and intensity: DoPitchCepstrumNewFloat,
    // --- DoPitchCepstrumNewDouble (MathPitch.cpp), IntensityLevelDb and
    // --- DoIntensityFloat (MathIntensity.cpp)

    // DoPitchCepstrumNew* result when nothing was computed: the FFT length is
    // not 128, 256, ..., 32768, the sample rate is not positive and finite, or
    // this thread's work storage cannot be had.
    static constexpr double kPitchDeclined = -1.0;
    // Level given to an intensity frame whose mean square is below 10^-20
    // (exactly 0 included): below what any integer recording up to 24 bits can
    // produce, and finite, so that digital silence has a level that sorts
    // below every measured one.
    static constexpr double kIntensityFloorDb = -200.0;

    // Fundamental frequency (Hz) of the frame of windowLength samples that
    // starts at sample trunc(position): Hamming-windowed power spectrum in dB
    // (fftLength points, zero-padded), its transform, the top 20 dB of that
    // cepstrum, and the strongest quefrency q in [rate/highest, rate/lowest)
    // (the smallest q of equal maxima) gives rate/q.
    // Samples are read only at indices below both samples.size() and spanEnd;
    // the frame holds zeros wherever it has no sample (before 0, past the end).
    // A window longer than fftLength is cut to fftLength; quefrencies are
    // searched up to fftLength/2 at most (the cepstrum's length).
    // Returns the pitch, 0.0 when it lies outside [lowest, highest] (unvoiced),
    // or kPitchDeclined.
    // The levels are computed by a vectorised logarithm, and the choice
    // they give is checked against how far the library's logarithm could
    // move it: where it could differ, the frame is computed again with the
    // library's (PitchLevels::Library does so for every frame), so the
    // result is the library's to the bit.
    enum class PitchLevels { Fast, Library };
    // Frames of DoPitchCepstrumNew* on this thread whose levels had to be
    // made again by the library's logarithm.
    static inline thread_local std::uint64_t pitchLevelsRedone = 0;
    static double DoPitchCepstrumNewFloat(std::span<const float> samples, double position,
                                          double spanEnd, double sampleRateHz, double lowestPitchHz,
                                          double highestPitchHz, int fftLength, int windowLength,
                                          PitchLevels levels = PitchLevels::Fast);
    static double DoPitchCepstrumNewDouble(std::span<const double> samples, double position,
                                           double spanEnd, double sampleRateHz,
                                           double lowestPitchHz, double highestPitchHz,
                                           int fftLength, int windowLength,
                                           PitchLevels levels = PitchLevels::Fast);

    // The level of `samples` in dB: 10·log10 of their mean square about
    // `reference` (samples in full-scale units give dBFS: a full-scale
    // square wave reads 0, a full-scale sine −3.01); kIntensityFloorDb for a
    // mean square below 10^-20 and for no samples.
    static double IntensityLevelDb(std::span<const float> samples, double reference);

    // Sample-aligned intensity track of `input` over its first totalLength
    // samples (limited to what input and output hold). Frames of trunc(frame
    // length) samples start at trunc(k·step + start), k = 0 ..
    // trunc((totalLength − frameLength)/step) − 1; a frame's level is
    // Σ(x − reference)² / frameLength, in dB (10·log10, kIntensityFloorDb for
    // digital silence, as IntensityLevelDb) or linear. A frame's level is
    // written from its first sample up to where the next frame starts (later
    // frames overwrite earlier ones where they overlap; a step longer than
    // the frame leaves no gap), and after the last frame up to the end. Only
    // frames lying wholly inside the track are computed; positions before the
    // first frame keep their contents. The levels are not shifted: in dB they
    // are levels relative to a squared sample unit. minimum/maximum receive
    // the range of the levels above kIntensityFloorDb (in dB; of all levels
    // when linear), kIntensityFloorDb for both when no level lies above it
    // (0 when linear and the track is empty). With zeroMinimum set, every
    // level above the floor is taken relative to the smallest of them (the
    // range becomes 0 .. maximum − minimum); silent positions keep the floor.
    // A frame costs what the step moves, not its length: overlapping frames
    // slide one sum of squares along (see MathIntensity.cpp), so a frame as
    // long as the recording is no slower than a short one.
    // `progress` hears how far the frames have got; when it asks to stop,
    // the routine returns false at once, and `output` then holds a partly
    // written track that the caller must not use.
    static bool DoIntensityFloat(std::span<const float> input, std::span<float> output,
                                 double& minimum, double& maximum, double reference, double start,
                                 double frameLength, double step, double totalLength,
                                 unsigned char zeroMinimum, unsigned char linear,
                                 const WorkProgress& progress = {});

private:
    // Makes this thread's spline scratch row hold at least `count` values.
    // False when it cannot be allocated.
    static bool reserveSplineScratch(std::size_t count) noexcept;
};

} // namespace phonaxis
