#pragma once

#include "log/LogRecord.h"
#include "model/MinMaxSummary.h"

#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace phonaxis {

struct DocumentFields;
class MyDocument;

// The settings one spectrogram is computed with, copied from the document.
struct SpectrogramParameters {
    int m_nFFTWindLength = 64; // transform length N: 32 … 8192
    int m_nDynamicRange = 55;  // dB shown
    double m_dPreEmphasis = 0.98;
    int m_nFreqRange = 5000; // Hz
    bool m_bFormantTracking = true;
    int m_nLPCCoefficients = 14;       // LPC order of the tracks
    double m_dLogStepSize = 1.0;       // ms, the formants-selection log entry
    bool m_bPreciseAnalysis = false;   // precise formant tracks (at each column's middle)
    double m_dFormantCeiling = 5000.0; // Hz, the precise formants' ceiling
    // dBFS: a column whose formant analysis reads samples quieter than this
    // (their window-weighted mean square re full scale) has no formants.
    double m_dFormantSilenceLevel = -50.0;

    static SpectrogramParameters fromDocument(const DocumentFields& document);
};

// The classic LPC frame of the formant tracks: W = (int)(rate/1000)·order
// samples, or nothing when no track can be computed with these settings
// (an order outside 1 … 400, a rate below 1 kHz, or a frame longer than
// 2^20 samples, whose prediction would cost more than a picture is worth).
std::optional<std::int64_t> spectrogramLpcWindow(int order, double sampleRateHz);

// Which analysis the formant tracks computed with `parameters` at
// `sampleRateHz` are, for the pictures: "Precise analysis: formants up to C
// Hz" (the ceiling the analysis applies, half the rate where that is
// lower), "Classic analysis: LPC order P", or empty when tracking is off.
std::string spectrogramAnalysisCaption(const SpectrogramParameters& parameters,
                                       double sampleRateHz);

// F1 … F5 of one column in Hz, −1 where there is none; a sixth slot spare.
using FormantRecord = std::array<std::int16_t, 6>;

// A run of channel samples a snapshot holds: channel samples
// begin … begin + count − 1 at SpectrogramInput::samples[at …].
struct SpectrogramSampleRun {
    std::int64_t begin = 0;
    std::size_t at = 0;
    std::size_t count = 0;
};

// What the waveform pane over the analysed range draws, sized by the image
// and not by the recording. With at least 4 samples per pixel column (the
// rule of a min/max trace) it holds the extremes of each of `columns.size()`
// pixel columns of the page [pageMin, pageMax) (column i: the (int)s samples
// from (int)(s·i + pageMin), s = (pageMax − pageMin)/width); with fewer it
// holds the page's samples themselves, drawn one by one.
struct SpectrogramWaveform {
    double pageMin = 0.0; // channel positions: floor of the range's ends
    double pageMax = 0.0;
    std::vector<MinMax> columns;      // one per pixel column (a long page)
    std::vector<float> samples;       // samples[0] is channel sample pageMin (a short page)
    MinMax extremes = MinMax::none(); // of the whole page: the pane's scale

    // The pane's picture of `channel` over [startPoint, endPoint] in `width`
    // pixel columns. `summary`, when given, must summarise `channel`; it
    // makes this cost time proportional to the width instead of the length.
    static SpectrogramWaveform of(std::span<const float> channel, const MinMaxSummary* summary,
                                  double startPoint, double endPoint, int width);
    std::size_t memoryBytes() const;
};

// Everything a spectrogram computation reads, copied so that the worker
// never touches the document: the samples of the columns' FFT and LPC
// frames and precise formant analyses (where they overlap, the stretch
// they cover; a long recording in a narrow image gives a run per column),
// and the waveform pane's picture. Its size is bounded by the image (columns × frame length),
// whatever the recording's length.
struct SpectrogramInput {
    std::vector<float> samples; // without runs: samples[0] is channel sample `offset`
    // Instead of the copy, the whole channel read in place (offset 0, no
    // runs): for a caller that keeps the channel unchanged until the
    // analysis ends, such as the command line, which then copies nothing.
    std::span<const float> channelInPlace;
    double offset = 0.0;                    // channel position of samples[0]
    std::vector<SpectrogramSampleRun> runs; // empty: `samples` is one run from `offset`
    SpectrogramWaveform waveform;
    double fileLength = 0.0; // channel length (samples); nothing past it is read
    double sampleRate = 0.0;
    double startPoint = 0.0; // analysed range, channel samples
    double endPoint = 0.0;
    double startTime = 0.0; // the same range in ms
    double stopTime = 0.0;
    int columns = 0; // image width (m_nDisplayRange)
    int rows = 0;    // image height (m_nDisplayVerticalRange)
    SpectrogramParameters parameters;
    // False: only the formant records are wanted (a caller that prints
    // them alone); the columns' FFT is skipped and every level stays 0.
    bool levels = true;

    // The document's audio channel (first of type 1 with samples), or
    // channel `channelIndex` when that is 0 or more, over the selection
    // (`selection` set) or the whole channel. Empty samples when the
    // document has no such channel with samples. `summary`, when given,
    // must summarise that channel's current samples (the waveform pane's
    // extremes then cost time by the width, not the length).
    static SpectrogramInput fromDocument(const MyDocument& document, bool selection, int columns,
                                         int rows, const MinMaxSummary* summary = nullptr,
                                         int channelIndex = -1);
    // The same channel over [startMs, stopMs], cut to the channel: what a
    // window analysing a selection computes again after a resize or an
    // edit. Empty samples when nothing of the channel lies in the range.
    static SpectrogramInput fromDocumentRange(const MyDocument& document, double startMs,
                                              double stopMs, int columns, int rows,
                                              const MinMaxSummary* summary = nullptr,
                                              int channelIndex = -1);
    // fromDocument reading the channel in place (channelInPlace) instead of
    // copying its samples: the document's channel must stay unchanged
    // until every analysis of the input has ended.
    static SpectrogramInput inPlace(const MyDocument& document, bool selection, int columns,
                                    int rows);
    // The samples the analysis reads: channelInPlace when set, else the copy.
    std::span<const float> analysed() const
    {
        return channelInPlace.empty() ? std::span<const float>(samples) : channelInPlace;
    }
    // Heap bytes the snapshot holds.
    std::size_t memoryBytes() const;
};

// The finished spectrogram: per column its rows' levels (0 … dynamic range
// dB, row 0 at 0 Hz) and, with formant tracking, its formant record.
struct SpectrogramResult {
    int columns = 0;
    int rows = 0;
    int dynamicRange = 0;
    std::vector<double> levels;          // column-major: levels[c·rows + r]
    std::vector<FormantRecord> formants; // one per column; empty with tracking off
    bool m_bHaveSpectrogram = false;
    bool m_bHaveFormants = false;

    double level(int column, int row) const
    {
        return levels[static_cast<std::size_t>(column) * static_cast<std::size_t>(rows) +
                      static_cast<std::size_t>(row)];
    }
};

// The grey image of a spectrogram: width × height palette entries g in
// 0 … 256 (the grey palette: entry g is white level (256 − g)/257, so 0 is
// nearly white and 256 black), row 0 at the top as images are stored.
// Pixels no column or row reaches stay at kUnpainted (drawn white).
struct SpectrogramImage {
    static constexpr std::uint16_t kUnpainted = 0xFFFF;
    int width = 0;
    int height = 0;
    std::vector<std::uint16_t> entries; // entries[y·width + x]

    // The 8-bit grey of palette entry g: round(255·(256 − g)/257); white for
    // kUnpainted.
    static std::uint8_t grey(std::uint16_t entry);
};

// Cancellation and progress shared with a worker.
struct SpectrogramProgress {
    std::atomic<int> m_nProgress{0};    // percent of columns done
    std::atomic<bool> cancelled{false}; // set to stop the computation early
};

// The columns of a computation as they are finished, so that another
// thread can show them while it runs. DoSpectrogram fills it; preview()
// may be called from any thread at any time.
class SpectrogramColumnsSoFar {
public:
    SpectrogramColumnsSoFar() = default;
    SpectrogramColumnsSoFar(const SpectrogramColumnsSoFar&) = delete;
    SpectrogramColumnsSoFar& operator=(const SpectrogramColumnsSoFar&) = delete;

    // The columns finished so far as a spectrogram: their levels normalised
    // to the loudest of them (a column looks as it will in the end unless a
    // louder one is still to come) and their formant records as they will be
    // in the end (the silence gate is decided per column, on its own
    // samples); `shown` gets 1 for each finished column
    // and 0 for the others, whose levels are 0 and formants none. Empty
    // (m_bHaveSpectrogram false) before the first column is finished, once
    // the computation has ended, or when memory runs out.
    SpectrogramResult preview(std::vector<std::uint8_t>& shown) const;

private:
    friend struct ColumnsSoFarAccess;
    mutable std::mutex m_mutex;
    const std::vector<double>* m_levels = nullptr; // null: no computation running
    const std::vector<FormantRecord>* m_formants = nullptr;
    std::unique_ptr<std::atomic<std::uint8_t>[]> m_done; // per column; set once written
    int m_nColumns = 0;
    int m_nRows = 0;
    int m_nDynamicRange = 0;
};

// DoSpectrogram: the columns (FFT level per row; with tracking on, LPC
// formants, or with m_bPreciseAnalysis the precise formants at the column's
// middle, PreciseFormants) and normalisation to the dynamic range. The
// silence gate of the formant records is absolute: a column whose formant
// analysis reads samples below m_dFormantSilenceLevel (classicFrameLevelDb
// of its LPC frame, PreciseFormants::levelDb of the precise window) has no
// formants, whatever the rest of the range holds. Columns are independent
// and are shared among `threads` threads (0: as many as the machine has);
// the result does not depend on the thread count. Returns an empty result (m_bHaveSpectrogram
// false) when there are no samples, no columns or rows, or the computation was cancelled. `soFar`,
// when given, is shown each column as it is finished.
SpectrogramResult DoSpectrogram(const SpectrogramInput& input, SpectrogramProgress* progress,
                                int threads = 0, SpectrogramColumnsSoFar* soFar = nullptr);

// DrawSpectrogramBMP's pixels of only the columns c with shown[c] set (all
// when `shown` is empty); the others stay kUnpainted.

// DrawSpectrogramBMP as data: column c and row r land on pixel
// x = (int)(c·width/columns), y = height − 1 − (int)(r·height/rows) with
// entry (int)(level·256/dynamic range).
SpectrogramImage DrawSpectrogramBMP(const SpectrogramResult& result, int width, int height,
                                    std::span<const std::uint8_t> shown = {});

// F1 … F5 of `column` as the log entries report them: −1 where there is
// none, or for a column the result does not have.
FormantRecord spectrogramColumnFormants(const SpectrogramResult& result, std::int64_t column);

// The rows of "_LogFormantsSelection:" as times and columns, without the
// records: row i is at t = selection start + i·step (ms from the start
// time) while t < selection end, and reports start time + t and the formants
// of column (int)(t·columns/(stop time − start time)), the last column for
// a t at or past the range's end. No bound on the row count: a caller that
// streams rows may go on as far as the selection does.
struct SpectrogramSelectionRows {
    double startTime = 0.0;
    double stopTime = 0.0;
    double selectionStart = 0.0;
    double selectionStop = 0.0;
    double stepMs = 0.0;
    int columns = 0;

    // Row `index`: false past the last row (or for a step that is not
    // positive, or ends that are not finite).
    bool row(double index, double& timeMs, std::int64_t& column) const
    {
        if (!(stepMs > 0.0) || !std::isfinite(selectionStart) || !std::isfinite(selectionStop)) {
            return false;
        }
        const double t = selectionStart + index * stepMs;
        if (!(t < selectionStop)) {
            return false;
        }
        const double span = stopTime - startTime;
        const double count = columns;
        // A time at the very end of the range maps one past the last column.
        const double at = span > 0.0 ? t * count / span : 0.0;
        column = at >= count ? columns - 1 : (at > 0.0 ? static_cast<std::int64_t>(at) : 0);
        timeMs = startTime + t;
        return true;
    }
};

// The log entries of the spectrogram window.
struct SpectrogramLog {
    static constexpr const char* kMarkerHeader = "Spec. Marker Entry: time, frequency ";
    static constexpr const char* kDurationHeader = "Duration Entry: start, end, duration ";
    static constexpr const char* kFormantsMarkerHeader =
        "Spec. Formants Marker Entry: time, F1, F2, F3, F4, F5 ";
    static constexpr const char* kFormantsSelectionHeader =
        "Spec. Formants Duration Entry: time, F1, F2, F3, F4, F5 ";

    // "_LogMarker:": marker time (ms), marker frequency (Hz).
    static LogRecord marker(const std::string& displayName, double markerTime,
                            double markerFrequency);
    // "_LogDuration:": start time + selection start, start time + selection
    // end, duration (selection times in ms from the start time).
    static LogRecord duration(const std::string& displayName, double startTime,
                              double selectionStart, double selectionStop);
    // "_LogFormantsMarker:": marker time and F1 … F5 of `column`.
    static LogRecord formantsMarker(const std::string& displayName, const SpectrogramResult& result,
                                    double markerTime, int column);
    // "_LogFormantsSelection:": one record per t = selection start, + step, …
    // while t < selection end (ms from the start time): start time + t and
    // F1 … F5 of column (int)(t·columns/(stop time − start time)). A step
    // that is not positive gives no records.
    static std::vector<LogRecord> formantsSelection(const std::string& displayName,
                                                    const SpectrogramResult& result,
                                                    double startTime, double stopTime,
                                                    double selectionStart, double selectionStop,
                                                    double stepMs);
    // Records i = firstRecord … firstRecord + maxRecords − 1 of those (the
    // same records, so that a long selection can be written block by block).
    static std::vector<LogRecord> formantsSelection(const std::string& displayName,
                                                    const SpectrogramResult& result,
                                                    double startTime, double stopTime,
                                                    double selectionStart, double selectionStop,
                                                    double stepMs, std::size_t firstRecord,
                                                    std::size_t maxRecords);
};

// The formant plot hand-over: for each column (in [firstColumn, lastColumn))
// whose F1 > 0, "row" (running count from 0, "%d"), "f1", "f2", "f3" ("%d")
// and "label" ("").
struct FormantPlotColumns {
    std::vector<std::string> row, f1, f2, f3, label;
};
FormantPlotColumns PlotformantsFromSpectrogram(const SpectrogramResult& result, int firstColumn,
                                               int lastColumn);

// DoSpectrogramOperation on a worker thread: owns its input snapshot, its
// progress and its result. Destroying (or cancel()ing) the worker stops the
// computation and joins the thread, so a closed window never leaves a
// worker behind.
class SpectrogramWorker {
public:
    // `done`, when given, is called on the worker's thread once the worker
    // is no longer busy (finished, failed or cancelled).
    explicit SpectrogramWorker(SpectrogramInput input, int threads = 0,
                               std::function<void()> done = {});
    ~SpectrogramWorker();
    SpectrogramWorker(const SpectrogramWorker&) = delete;
    SpectrogramWorker& operator=(const SpectrogramWorker&) = delete;

    bool busy() const { return m_bBusy.load(); }
    int progress() const { return m_progress.m_nProgress.load(); }
    void cancel();
    // Waits for the worker; the result (empty when cancelled).
    const SpectrogramResult& wait();
    // The columns finished so far (SpectrogramColumnsSoFar::preview); empty
    // once the worker is done.
    SpectrogramResult preview(std::vector<std::uint8_t>& shown) const
    {
        return m_soFar.preview(shown);
    }
    // The snapshot computed from; the worker only reads it, so it may be
    // read at any time.
    const SpectrogramInput& input() const { return m_input; }

private:
    SpectrogramInput m_input;
    SpectrogramProgress m_progress;
    SpectrogramColumnsSoFar m_soFar;
    SpectrogramResult m_result;
    std::function<void()> m_done;
    std::atomic<bool> m_bBusy{true};
    std::thread m_thread;
};

} // namespace phonaxis
