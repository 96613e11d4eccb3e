#pragma once

// The voice report: perturbation and noise measures of a sustained vowel over
// a selection, from the audio channel (cycles found in the waveform) and from
// the EGG channel (cycles found by the EGG analysis), side by side.
//
// Units: times in ms, frequencies in Hz, periods in ms, jitter and shimmer in
// percent except where the name says µs or dB. A measure that does not apply
// to a source, or that the cycles found cannot give (too few in a row), is
// NaN; a report that cannot be made at all carries a message instead of
// numbers.
//
// How each measure is computed
// ----------------------------
// Cycles and runs. A run is a stretch of consecutive glottal cycles with no
// voice break inside; every difference and every moving average below is
// taken inside one run, never across a break. T_i is the period of cycle i
// (ms), A_i its peak amplitude; sums run over every run of the selection, N
// is the number of terms summed and mean(T), mean(A) are over all cycles.
//
//   F0 mean, SD          of 1000/T_i over the cycles (SD with N − 1).
//   jitter local         mean |T_i − T_{i+1}| / mean(T) × 100.
//   jitter local abs     mean |T_i − T_{i+1}| in µs.
//   jitter RAP           mean |T_i − (T_{i−1} + T_i + T_{i+1})/3| / mean(T) × 100
//                        (relative average perturbation, Koike 1973).
//   jitter PPQ5          the same with the mean of the five periods i−2..i+2
//                        (five-point period perturbation quotient).
//   jitter DDP           mean |(T_{i+1} − T_i) − (T_i − T_{i−1})| / mean(T) × 100
//                        (= 3 × RAP).
//   shimmer local        mean |A_i − A_{i+1}| / mean(A) × 100.
//   shimmer local dB     mean |20·log10(A_{i+1}/A_i)|.
//   shimmer APQ3/5/11    mean |A_i − mean of the 3, 5 or 11 amplitudes centred
//                        on i| / mean(A) × 100 (amplitude perturbation quotients).
//   shimmer DDA          mean |(A_{i+1} − A_i) − (A_i − A_{i−1})| / mean(A) × 100
//                        (= 3 × APQ3).
//   (Definitions as collected by Baken & Orlikoff 2000, Clinical Measurement
//   of Speech and Voice, ch. 6.)
//
// Audio cycles. The pitch track (the precise track, PitchParameters with
// m_bPreciseAnalysis forced on, over the selection with its context frames)
// gives the voiced stretches and the expected period T(t) at every time.
// Frames between two whose F0 agrees within 25 % that span at most 50 ms
// do not end a stretch when they are unvoiced, or voiced on an F0 that
// disagrees (the track locked on a harmonic for a few frames: those frames
// are left out, for the HNR too). Each stretch is inverse filtered by one LPC
// filter of its own (autocorrelation method, order rate/1 kHz + 2, from the
// stretch pre-emphasised by 0.97 and Hann-windowed, applied to the samples
// as they are) into the glottal excitation (Wong, Markel & Gray 1979): a
// pulse at each closure without the tract's ringing, with the tract-shaped
// noise whitened (Knapp & Carter 1976; Ananthapadmanabha & Yegnanarayana
// 1979). The marks start at the excitation's largest peak (of its dominant
// polarity) near the stretch's middle and are followed forwards and
// backwards by waveform matching (Milenkovic 1987; Titze & Liang 1993): the
// 0.7-period segment of the excitation centred on a mark is compared with
// the segment one lag later by the normalised cross-correlation, for every
// whole lag from 0.8·T to 1.25·T; the segments' product sum over the whole
// lags around the best one, interpolated by a Hann-windowed sinc, peaks at
// the period below a sample, which places the next mark. A match below a
// correlation of 0.3 ends the run; the next run starts at the excitation's
// largest peak about one period on. A cycle's amplitude: its start mark's
// excitation pulse (0.6 period before the mark to 0.2 after, taken between
// samples) fitted by least squares to the stretch's mean pulse, the gain
// times the median of the cycles' waveform peaks (the largest sample of
// the waveform's dominant polarity within half a period of a mark). Cycles
// whose amplitude lies below 5 % (−26 dB) of the median cycle's in the
// selection are dropped: in a pause the pitch track can follow the tract's
// ringing or the room's noise.
//
// EGG cycles. The EGG analysis's cycles (Channels::EggAnalysisAll, left as
// they are); a cycle's contact instant is the level crossing that analysis
// uses on the rising edge (valley + m_dCycleThresholdPerCent of the
// valley-to-peak swing), interpolated linearly between the two samples around
// it; the period runs from one contact to the next of a chained cycle (the
// next cycle starts at this one's end valley). The amplitude is the
// peak (refined by a parabola) minus the opening valley.
//
// Selection: an audio cycle counts when both its marks lie in the selection,
// an EGG cycle when its contact and the next one do. A cycle whose period
// lies outside [1/ceiling, 1/floor] is left out of the measures and the
// next one starts a run. A voice break is a distance between consecutive
// marks (the cycles' starts and each run's last end) longer than
// 1.25/floor (16.7 ms for a floor of 75 Hz): a cycle's own long period, or a
// pause between two runs; voiceBreaks counts them.
//
// HNR (audio; Boersma 1993). Every voiced frame of the stretches: a Hann
// window of three periods of the frame's F0, mean removed, its
// autocorrelation by FFT (zero-padded to at least twice the window)
// normalised by lag 0 and divided by the Hann window's own normalised
// autocorrelation; the largest value r over lags 0.8–1.25 periods (within
// the pitch range), found between samples by windowed-sinc interpolation
// and a golden-section search. HNR = 10·log10(r̄ / (1 − r̄)) with r̄ the mean
// of r over the frames (held within [1e-6, 1 − 1e-9]): at a high HNR a
// frame's r scatters beyond 1, so the frames' r are averaged rather than
// their dB values.
//
// CPPS (audio; Hillenbrand et al. 1994, Hillenbrand & Houde 1996). Frames of
// 40 ms (rounded to samples) every 2 ms lying wholly inside the selection,
// Hamming window, zero-padded to the next power of two N; log power spectrum
// 10·log10(|X|² + 1e-30) dB over all N bins; its inverse transform c[q];
// the power cepstrum in dB, 10·log10(c[q]² + 1e-30). Smoothing: over time
// the mean of 10 consecutive frames' cepstra (20 ms), then over quefrency the
// centred mean of 2h + 1 bins, h = max(1, round(0.25 ms × rate)). In each
// smoothed cepstrum: the peak over quefrencies 1/ceiling–1/floor (whole
// bins), the least-squares line over quefrencies from 1 ms to N/2 bins, and
// CPP = peak − the line at the peak's quefrency. CPPS = the mean of CPP over
// the smoothed frames.
//
// Unvoiced fraction (audio): unvoiced frames of the pitch track over all its
// frames whose time lies in the selection.
//
// Pure functions of their arguments; safe to call from any thread (each
// works on its own copies).

#include "windows/PitchAnalysis.h"

#include <atomic>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace phonaxis {

class Channels;

// One glottal cycle of a voice report: where it starts, how long it lasts
// and its peak amplitude (stored-sample units for audio; valley to peak for
// the EGG). startsRun marks the first cycle after a voice break or a period
// out of range: no difference is taken between it and the one before.
struct VoiceCycle {
    double startMs = 0.0;
    double periodMs = 0.0;
    double amplitude = 0.0;
    bool startsRun = true;
};

// Mean and SD of one closed-quotient method over the cycles of the selection
// that have a value for it.
struct QuotientStatistics {
    double mean = 0.0;
    double sd = 0.0; // with N − 1; 0 for a single cycle
    int cycles = 0;
};

struct VoiceMeasures {
    static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

    double f0MeanHz = kNaN;
    double f0SdHz = kNaN;
    double jitterLocalPct = kNaN;
    double jitterLocalAbsUs = kNaN;
    double jitterRapPct = kNaN;
    double jitterPpq5Pct = kNaN;
    double jitterDdpPct = kNaN;
    double shimmerLocalPct = kNaN;
    double shimmerLocalDb = kNaN;
    double shimmerApq3Pct = kNaN;
    double shimmerApq5Pct = kNaN;
    double shimmerApq11Pct = kNaN;
    double shimmerDdaPct = kNaN;
    double hnrDb = kNaN;            // audio only
    double cppsDb = kNaN;           // audio only
    double unvoicedFraction = kNaN; // audio only, 0..1
    int voiceBreaks = 0;
    int cycles = 0; // cycles whose periods the measures use

    // EGG only: the four closed quotients (cq, cq_hb, cq_pm, cq_ht of the
    // EGG analysis); none for audio or when no cycle of the selection has one.
    std::optional<QuotientStatistics> closedQuotient;
    std::optional<QuotientStatistics> closedQuotientHB;
    std::optional<QuotientStatistics> closedQuotientPM;
    std::optional<QuotientStatistics> closedQuotientHT;
};

// The fewest cycles a report is made from.
constexpr int kVoiceReportMinimumCycles = 5;

// A report: the measures, or a message saying why there are none ("too few
// cycles: 3 found, at least 5 needed"). The cycles found are kept either way.
struct VoiceReport {
    std::optional<VoiceMeasures> measures;
    std::string message;
    std::vector<VoiceCycle> cycles;

    bool ok() const { return measures.has_value(); }
};

struct VoiceSettings {
    // The pitch range bounds the periods (and the voice-break gap); the
    // track's other settings are the document's. The track is always the
    // precise one.
    PitchParameters pitch;
    double floorHz() const { return pitch.m_dCalculationLow; }
    double ceilingHz() const { return pitch.m_dCalculationHigh; }
    // The largest gap between consecutive cycles that is not a voice break.
    double breakGapMs() const { return 1.25 * 1000.0 / floorHz(); }
};

// The report of the audio channel `audio` (samples, rate) over [fromMs,
// toMs]. `cancel`, when given and set, stops the work between its stages
// and cycles (not inside the pitch track) and gives the message "stopped".
VoiceReport audioVoiceReport(const Channels& audio, double fromMs, double toMs,
                             const VoiceSettings& settings,
                             const std::atomic<bool>* cancel = nullptr);
VoiceReport audioVoiceReport(std::span<const float> samples, double rateHz, double fromMs,
                             double toMs, const VoiceSettings& settings,
                             const std::atomic<bool>* cancel = nullptr);

// The report of the EGG channel `egg` over [fromMs, toMs] from its cycles
// (m_pArrayCycle with m_bHaveCycle: run EggAnalysisAll first; without cycles
// the report says so). HNR, CPPS and the unvoiced fraction do not apply.
VoiceReport eggVoiceReport(const Channels& egg, double fromMs, double toMs,
                           const VoiceSettings& settings);

// Jitter, shimmer, F0 mean/SD and the cycle count of a cycle sequence (the
// definitions above); everything else stays NaN. Used by both reports and by
// the generators' truth.
VoiceMeasures perturbationMeasures(std::span<const VoiceCycle> cycles);

// The CPPS of samples [fromSample, toSample) as defined above; NaN when the
// stretch holds fewer than 10 frames.
double cppsDb(std::span<const float> samples, double rateHz, std::int64_t fromSample,
              std::int64_t toSample, double floorHz, double ceilingHz);

// One frame's harmonicity r as defined above (the window-corrected
// normalised autocorrelation at its peak; near 1 for a clean periodic
// signal, and beyond 1 at times when the noise is weak): the Hann window of
// `windowSamples` centred on sample `centre`, the peak searched over lags
// [minimumLag, maximumLag] samples. NaN when the window does not fit in the
// samples or holds only silence.
double frameHarmonicity(std::span<const float> samples, std::int64_t centre, int windowSamples,
                        double minimumLag, double maximumLag);

} // namespace phonaxis
