#pragma once

#include <array>
#include <complex>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace phonaxis {

// Up to five formants (Hz) with their bandwidths (Hz), in ascending
// frequency; slots from `count` on are unused.
struct PreciseFormantSet {
    static constexpr int kMaxFormants = 5;
    int count = 0;
    std::array<double, kMaxFormants> frequencyHz{};
    std::array<double, kMaxFormants> bandwidthHz{};
};

// The precise formant analysis of one instant of a channel. The formants
// are sought below a ceiling (5,000 Hz suits most men, 5,500 Hz women and
// higher voices):
//   * the neighbourhood of the instant is resampled to twice the ceiling
//     (a Kaiser-windowed sinc low-pass at just below the new half rate), so
//     that the model spends its poles on the formants below the ceiling and
//     none on the empty band above; a channel at or below twice the ceiling
//     is analysed at its own rate, its ceiling then being half that rate;
//   * pre-emphasis from 50 Hz flattens the glottal source's spectral tilt,
//     which would otherwise pull poles towards 0 Hz;
//   * a Gaussian window 50 ms long (about 25 ms effective), whatever the
//     order, so that several glottal periods are seen even at a high F0;
//   * Burg's method for a predictor of order 10 (five formants), which
//     keeps every pole inside the unit circle and holds up on short frames;
//   * the predictor polynomial's roots by simultaneous (Aberth–Ehrlich)
//     iteration, then polished by Newton's method on the full polynomial;
//   * every root pair between 50 Hz and the ceiling − 50 Hz is a formant
//     unless it is broader than 1 kHz: no rule relating bandwidth to
//     frequency, so a broad F1 stays F1 and never lets F2 move into its
//     slot, while the pole a ten-pole model has to spare (on the source's
//     tilt, or below a ceiling set above a voice's formants) is no formant
//     and cannot push F2 into the F3 slot.
//
// One object serves one rate and ceiling; it holds its own work storage
// (allocated by the constructor, so an analysis allocates nothing) and must
// be used by one thread at a time. Objects on different threads share
// nothing.
class PreciseFormants {
public:
    static constexpr int kFormants = PreciseFormantSet::kMaxFormants;
    static constexpr int kOrder = 2 * kFormants;
    static constexpr double kWindowMs = 50.0; // the Gaussian window's full length
    static constexpr double kEffectiveWindowMs = 25.0; // the length it weighs, about
    static constexpr double kPreEmphasisFromHz = 50.0;
    static constexpr double kEdgeMarginHz = 50.0; // formants lie this far inside 0 … ceiling
    static constexpr double kMinCeilingHz = 500.0;
    static constexpr double kMinRateHz = 1000.0;
    // Beyond this rate the resampling's cost per analysis (and the reach)
    // grows without bound for a rate no recording of speech has.
    static constexpr double kMaxRateHz = 1'000'000.0;

    PreciseFormants(double sampleRateHz, double ceilingHz);

    // Whether the rate and ceiling can be analysed: the rate in kMinRateHz …
    // kMaxRateHz and the ceiling finite and at least kMinCeilingHz.
    static bool accepts(double sampleRateHz, double ceilingHz);
    bool usable() const { return m_bUsable; }

    // The rate the analysis runs at and the ceiling it applies (half that rate).
    double analysisRateHz() const { return m_dAnalysisRate; }
    double ceilingHz() const { return m_dAnalysisRate / 2.0; }

    // Channel samples either side of an analysis centre that one analysis
    // reads: a neighbourhood of centre ± reach() holds everything it needs.
    std::int64_t reach() const { return m_nReach; }

    // The predictor order: kOrder, or fewer poles when the channel's own
    // half rate lies below the ceiling asked for (two per formant that fits).
    int order() const { return m_nOrder; }

    // The model's level at `frequencyHz` (0 … ceilingHz()), in dB of an
    // arbitrary zero, as the last analyse() that found formants left it:
    // the all-pole envelope of the pre-emphasised frame with the
    // pre-emphasis taken off again, so that it lies over the plain
    // spectrum's shape. NaN when there is no model or the frequency lies
    // outside the band it describes.
    double envelopeDb(double frequencyHz) const;

    // The formants at channel position `centre` (samples, fractional
    // allowed). `samples` holds channel samples first … first + size − 1;
    // any other sample reads as 0 (beyond the channel's ends, the window
    // sees silence). No formants (count 0) from silence or when not usable.
    //
    // The neighbourhood is resampled on a grid fixed to the channel: with r
    // channel samples per analysis sample, the windows' middles lie at
    // channel positions m·r (whole m; for a window of an even number of
    // samples its samples lie at (g + ½)·r, else at g·r). A centre on such a
    // position is analysed exactly there; any other by the window whose
    // middle lies nearest, at most half an analysis sample (50 µs at a
    // 5,000 Hz ceiling) away. A row every 10 ms lies on the grid at any
    // ceiling that is a multiple of 50 Hz. Results therefore depend neither
    // on what was analysed before nor on which object analyses.
    PreciseFormantSet analyse(std::span<const float> samples, std::int64_t first, double centre);
    PreciseFormantSet analyse(std::span<const double> samples, std::int64_t first, double centre);

    // The same as analyse(), as one of a run of analyses over the same
    // samples (the same span, `first` and contents as the run's previous
    // calls): the resampled samples the previous analysis shares with this
    // one are kept rather than computed again, so that a track at a step
    // shorter than the window resamples each sample once. Centres may come
    // in any order (rising ones reuse the most). A call with other samples,
    // and any analyse(), starts a new run; results equal analyse()'s.
    PreciseFormantSet analyseNext(std::span<const float> samples, std::int64_t first,
                                  double centre);
    PreciseFormantSet analyseNext(std::span<const double> samples, std::int64_t first,
                                  double centre);

    // The level of what one analysis at `centre` sees, in dB re full scale
    // (samples normalised to ±1): 10·log10 of the mean square of the channel
    // samples under the Gaussian window, each weighted by the window's
    // power there (Σw²x²/Σw², so a steady signal reads its own mean square
    // whatever the window). Samples are addressed as in analyse(); those
    // outside `samples` read as 0. −infinity for digital silence or when
    // not usable.
    double levelDb(std::span<const float> samples, std::int64_t first, double centre) const;
    double levelDb(std::span<const double> samples, std::int64_t first, double centre) const;

    // Whether the resampling runs its wide (AVX2) kernel where the
    // processor has one: the default. Both kernels give the same bits; a
    // test turns the wide one off to compare them.
    void setWideKernels(bool on);

private:
    template <typename Sample>
    double windowLevelDb(std::span<const Sample> samples, std::int64_t first, double centre) const;
    template <typename Sample>
    PreciseFormantSet analyseIn(std::span<const Sample> samples, std::int64_t first,
                                double centre, bool continuing);
    template <typename Sample>
    bool resampleAround(std::span<const Sample> samples, std::int64_t first, double centre,
                        bool continuing);
    template <typename Sample>
    double gridSample(std::span<const Sample> samples, std::int64_t first, std::int64_t g);
    // The phase weights of grid sample g and the channel index of its first
    // tap, when g is tabulated (its position fits the phase arithmetic).
    struct GridTaps {
        const double* weights = nullptr;
        std::int64_t firstTap = 0;
    };
    std::optional<GridTaps> gridTaps(std::int64_t g);
    template <typename Sample>
    std::optional<std::pair<const double*, const Sample*>> tabulatedTaps(
        std::span<const Sample> samples, std::int64_t first, std::int64_t g);
    void buildPhases();
    PreciseFormantSet formantsOfFrame();

    bool m_bUsable = false;
    bool m_bResampling = false;
    double m_dSampleRate = 0.0;
    double m_dAnalysisRate = 0.0;
    double m_dRatio = 1.0; // channel samples per analysis sample
    int m_nOrder = kOrder; // predictor order
    int m_nFrame = 0;      // analysis samples in the window
    std::int64_t m_nReach = 0;
    std::vector<double> m_kernel;  // the low-pass, tabulated over analysis samples
    std::vector<double> m_window;  // Gaussian, m_nFrame values
    std::vector<double> m_frame;   // resampled: one sample before the window, then the window
    // The analysis grid: sample g at channel position (2g + m_nGridHalf)·r/2.
    int m_nGridHalf = 0;          // 1 when the window is even (its middle lies between samples)
    std::int64_t m_nGridMiddle = 0; // samples from the window's first to its middle, rounded up
    // The low-pass by phase, when the rates are whole numbers in a small
    // ratio P/Q: grid sample g lies at channel position base + ρ/D with
    // D = 2Q, base·D + ρ = (2g + m_nGridHalf)·P; its weights are
    // m_phaseWeights[ρ·m_nTaps …] for channel samples base + m_nTapLow ….
    std::int64_t m_nPhaseNumerator = 0; // P (0: weights computed per grid sample)
    std::int64_t m_nPhases = 0;         // D
    std::int64_t m_nTapLow = 0;
    std::size_t m_nTaps = 0;
    bool m_bPhasesBuilt = false;
    bool m_bWideKernels = false; // the AVX2 kernel of two grid samples at a time
    std::vector<double> m_phaseWeights;
    std::vector<double> m_taps; // the samples of one grid sample's taps near the channel's ends
    // The run m_frame belongs to: its samples and the grid sample of m_frame[0].
    const void* m_pRunData = nullptr;
    std::size_t m_nRunSize = 0;
    std::int64_t m_nRunFirst = 0;
    std::int64_t m_nFrameStart = 0;
    bool m_bFrameValid = false;
    // levelDb's window powers for centres with one fractional part.
    mutable std::vector<double> m_levelPower;
    mutable double m_dLevelPhase = -1.0;
    mutable std::int64_t m_nLevelLow = 0;
    mutable double m_dLevelWeights = 0.0;
    std::vector<double> m_forward; // Burg's prediction errors
    std::vector<double> m_backward;
    std::array<double, kOrder + 1> m_predictor{}; // 1, a1 … of the last model
    bool m_bHaveModel = false;
};

// The root finding and formant choice of the analysis, for its tests.
namespace precise {

// All n roots of the monic polynomial z^n + c[1]·z^(n−1) + … + c[n], given
// `coefficients` c[0 … n] with c[0] = 1 (a predictor's 1, a1 … an), into
// `roots` (n values): simultaneous Aberth–Ehrlich iteration from a circle,
// then polishRoots. False when n is 0, too large, or the iteration does not
// converge (the roots then hold the last estimates).
constexpr int kMaxDegree = 32;
bool polynomialRoots(std::span<const double> coefficients, std::span<std::complex<double>> roots);

// Newton's method on the full polynomial, for each root in turn. A step is
// taken only while it lowers |p| and keeps the root nearer to where it
// started than half the distance to any other root: polishing may sharpen a
// root, but never carries it onto a neighbour, which would lose that
// neighbour's formant and shift the ones above into the wrong slots.
void polishRoots(std::span<const double> coefficients, std::span<std::complex<double>> roots);

// The formants of the roots of a predictor at `rateHz`: every root above
// the real axis (a root outside the unit circle is reflected inside first)
// whose frequency lies strictly between lowHz and highHz, sorted by
// frequency, the lowest five, leaving out those broader than 1 kHz.
// Bandwidth −ln|z|·rate/π.
PreciseFormantSet formantsFromRoots(std::span<const std::complex<double>> roots, double rateHz,
                                    double lowHz, double highHz);

} // namespace precise

} // namespace phonaxis
