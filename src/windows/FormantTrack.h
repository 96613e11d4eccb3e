#pragma once

#include "log/LogRecord.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace phonaxis {

struct DocumentFields;

// The settings a formant track is computed with, copied from the document.
struct FormantTrackParameters {
    bool m_bPreciseAnalysis = false;       // precise formants (PreciseFormants), else classic LPC
    double m_dFormantCeiling = 5000.0;     // Hz, the precise analysis's ceiling
    int m_nLPCCoefficients = 14;           // classic: LPC order (m_nSpecLPCNumberofCoefficients)
    double m_dPreEmphasis = 0.98;          // classic: pre-emphasis coefficient
    double m_dFormantSilenceLevel = -50.0; // dBFS: quieter frames get no formants

    static FormantTrackParameters fromDocument(const DocumentFields& document);
};

// One row of a formant track: F1 … F5 and their bandwidths B1 … B5 (Hz) at
// `timeMs`, the centre of the analysis window; −1 where there is none
// (fewer formants found, or the frame fell to the silence gate).
struct FormantTrackRow {
    static constexpr int kFormants = 5;
    double timeMs = 0.0;
    std::array<double, kFormants> frequencyHz{-1.0, -1.0, -1.0, -1.0, -1.0};
    std::array<double, kFormants> bandwidthHz{-1.0, -1.0, -1.0, -1.0, -1.0};
};

// What a formant track reads: channel samples and the rows wanted. Row k is
// timed at k × stepMs from the channel's start (the grid is anchored at
// 0 ms, so a stretch gives exactly the rows of the whole channel that fall
// inside it); the rows computed are those with fromMs ≤ k × stepMs < toMs.
// Each row is analysed in a window centred on its time:
//   * precise (m_bPreciseAnalysis): PreciseFormants at the ceiling;
//   * classic: the spectrogram's LPC (order m_nLPCCoefficients over
//     W = (int)(rate/1000)·order samples, Hamming window, pre-emphasis
//     m_dPreEmphasis; of the five lowest pole pairs listed, those that pass
//     the spectrogram's frequency ≥ 2 × bandwidth test), its window centred
//     on the row time.
// A frame whose level (the window-weighted mean square of the samples it
// reads, dB re full scale) lies below m_dFormantSilenceLevel gives no
// formants.
struct FormantTrackInput {
    // Channel samples first … first + samples.size() − 1; every sample the
    // rows read that lies in the channel must be here (the rest of the
    // channel, and anything outside it, reads as 0).
    std::span<const float> samples;
    std::int64_t first = 0;
    double sampleRate = 0.0;
    double stepMs = 10.0;
    double fromMs = 0.0;
    double toMs = 0.0;
    FormantTrackParameters parameters;
};

// Why a track cannot be computed, or how its computation ended.
enum class FormantTrackEnd {
    Done,
    Cancelled,
    Refused, // a rate, step, stretch or setting the analyses cannot work with
    Failed,  // memory or threads ran out
};

// Cancellation and progress shared with the computation.
struct FormantTrackProgress {
    std::atomic<int> m_nProgress{0};    // percent of rows done
    std::atomic<bool> cancelled{false}; // set to stop early
};

// The range of row numbers k with fromMs ≤ k × stepMs < toMs; empty when
// the step is not positive or there is no such k.
struct FormantTrackRows {
    std::int64_t first = 0;
    std::int64_t end = 0; // one past the last
    std::int64_t count() const { return end > first ? end - first : 0; }
    static FormantTrackRows of(double stepMs, double fromMs, double toMs);
};

// Whether the input can be computed: a finite positive rate (within what
// the chosen analysis accepts), a positive step, finite times, usable
// settings. The sentence says why not; empty when it can.
std::string formantTrackRefusal(const FormantTrackInput& input);

// Computes the rows in order and hands them to `sink` in blocks of at most
// `blockRows` (each block's rows computed by up to `threads` threads, 0: as
// many as the machine has), so memory stays bounded by the block whatever
// the track's length. `sink` runs on the calling thread and may return
// false to stop. The rows do not depend on the thread count or the block
// size.
FormantTrackEnd DoFormantTrack(const FormantTrackInput& input,
                               const std::function<bool(std::span<const FormantTrackRow>)>& sink,
                               FormantTrackProgress* progress = nullptr, int threads = 0,
                               int blockRows = 2048);

// The level (dB re full scale) of the classic LPC frame data[0 … n]: the
// n samples the prediction analyses (from data[1] when the pre-emphasis
// coefficient is > 0, else from data[0]), each weighted by the Hamming
// window's power there, Σw²x²/Σw². −infinity for digital silence.
double classicFrameLevelDb(std::span<const double> data, int n, double preEmphasis);

// The log record of a formant track row.
struct FormantTrackLog {
    static constexpr const char* kHeader =
        "Formant Track Entry: time, F1, F2, F3, F4, F5, BW1, BW2, BW3, BW4, BW5 ";
    // Time (ms), F1 … F5, B1 … B5 (−1 where none): 11 values.
    static LogRecord record(const std::string& displayName, const FormantTrackRow& row);
};

} // namespace phonaxis
