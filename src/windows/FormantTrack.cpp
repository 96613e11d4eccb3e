// The formant track engine: formants and bandwidths at a fixed time step,
// each row analysed in a window centred on its time, by the precise or the
// classic formant analysis alone (no spectrogram image), rows shared among
// threads block by block so that any length of recording fits in memory.

#include "windows/FormantTrack.h"

#include "analysis/CMathFunc.h"
#include "analysis/PreciseFormants.h"
#include "document/MyDocument.h"
#include "windows/SpectrogramAnalysis.h"
#include "windows/ThreadParts.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

namespace phonaxis {

namespace {

// Sample positions stay exactly representable and far from the int64 limits.
constexpr double kMaxPosition = 9.0e15;
// More threads than this only add start-up cost.
constexpr int kMaxThreads = 64;
constexpr double kSilence = -std::numeric_limits<double>::infinity();
constexpr double kPi = 3.14159265358979323846;

// The classic LPC frame length W, as the spectrogram's tracks take it.
std::optional<std::int64_t> classicWindow(const FormantTrackParameters& p, double rateHz)
{
    return spectrogramLpcWindow(p.m_nLPCCoefficients, rateHz);
}

// Where the frames of a track lie. Row k's centre is channel position
// c = k·step·rate/1000. The classic frame's W analysed samples (one more
// before them with pre-emphasis) are placed so that the middle of the
// Hamming window falls on the sample nearest c; the precise analysis is
// centred on c itself.
struct TrackGeometry {
    double samplesPerMs = 0.0;
    double stepMs = 0.0;
    bool precise = false;
    std::int64_t window = 0; // classic W
    std::int64_t before = 0; // classic: samples before the first analysed one

    explicit TrackGeometry(const FormantTrackInput& input)
        : samplesPerMs(input.sampleRate / 1000.0), stepMs(input.stepMs),
          precise(input.parameters.m_bPreciseAnalysis)
    {
        if (!precise) {
            window = classicWindow(input.parameters, input.sampleRate).value_or(0);
            before = input.parameters.m_dPreEmphasis > 0.0 ? 1 : 0;
        }
    }

    double timeMs(std::int64_t row) const { return static_cast<double>(row) * stepMs; }
    double centre(std::int64_t row) const { return timeMs(row) * samplesPerMs; }
    // The first sample of the classic frame's buffer (data[0]).
    std::int64_t frameBegin(std::int64_t row) const
    {
        return std::llround(centre(row) - static_cast<double>(window) / 2.0) - before;
    }
};

int threadCountFor(int requested, std::int64_t rows)
{
    int count = requested > 0 ? requested : static_cast<int>(std::thread::hardware_concurrency());
    count = std::clamp(count, 1, kMaxThreads);
    return static_cast<int>(std::min<std::int64_t>(count, std::max<std::int64_t>(rows, 1)));
}

// One thread's analysis and its work storage, kept across blocks.
struct RowAnalyser {
    std::optional<PreciseFormants> precise;
    std::vector<double> frame; // classic frame buffer

    // Row `row` into `out`; false when the analysis failed for want of
    // storage (the track is then not computed).
    bool analyse(const FormantTrackInput& input, const TrackGeometry& geometry, std::int64_t row,
                 FormantTrackRow& out)
    {
        out = FormantTrackRow{};
        out.timeMs = geometry.timeMs(row);
        const FormantTrackParameters& p = input.parameters;
        const double gate = p.m_dFormantSilenceLevel;
        if (precise) {
            const double centre = geometry.centre(row);
            if (precise->levelDb(input.samples, input.first, centre) < gate) {
                return true;
            }
            // A thread's rows come in rising order over the same samples:
            // each analysis resamples only what the last one did not.
            const PreciseFormantSet found =
                precise->analyseNext(input.samples, input.first, centre);
            for (int i = 0; i < std::min(found.count, FormantTrackRow::kFormants); ++i) {
                const auto slot = static_cast<std::size_t>(i);
                out.frequencyHz[slot] = found.frequencyHz[slot];
                out.bandwidthHz[slot] = found.bandwidthHz[slot];
            }
            return true;
        }
        const auto window = static_cast<int>(geometry.window);
        const std::int64_t begin = geometry.frameBegin(row);
        const std::int64_t read = geometry.window + geometry.before;
        std::fill_n(frame.begin(), static_cast<std::size_t>(read), 0.0);
        const auto count = static_cast<std::int64_t>(input.samples.size());
        const std::int64_t from = std::max(begin, input.first);
        const std::int64_t to = std::min(begin + read, input.first + count);
        for (std::int64_t i = from; i < to; ++i) {
            frame[static_cast<std::size_t>(i - begin)] =
                input.samples[static_cast<std::size_t>(i - input.first)];
        }
        if (classicFrameLevelDb(frame, window, p.m_dPreEmphasis) < gate) {
            return true;
        }
        if (!CMathFunc::DoLPC(frame, p.m_nLPCCoefficients, window, p.m_dPreEmphasis, 1, 0, 0, 0,
                              input.sampleRate, 1, 1)) {
            return true; // the root finder gave nothing: no formants in this row
        }
        const CMathFunc::ro* roots = CMathFunc::lp_Roots;
        if (roots == nullptr) {
            return true;
        }
        // The spectrogram's test, on the values it rounds to whole Hz: of the
        // five lowest pole pairs listed, those at least twice as high as
        // they are wide.
        const int listed = std::clamp(roots->formantCount, 0, FormantTrackRow::kFormants);
        std::size_t slot = 0;
        for (int i = 0; i < listed; ++i) {
            const double frequency = roots->frequencyHz[i];
            const double bandwidth = roots->bandwidthHz[i];
            if (frequency + 0.5 >= CMathFunc::gRatioFormantBanswodth * (bandwidth + 0.5) &&
                frequency + 0.5 >= 0.0) {
                out.frequencyHz[slot] = frequency;
                out.bandwidthHz[slot] = bandwidth;
                ++slot;
            }
        }
        return true;
    }
};

// Everything the threads of one block share; each writes only its own rows.
struct BlockJob {
    const FormantTrackInput& input;
    const TrackGeometry& geometry;
    std::vector<RowAnalyser>& analysers;
    std::vector<FormantTrackRow>& rows;
    std::int64_t firstRow = 0;
    FormantTrackProgress* progress = nullptr;
    std::atomic<bool> failed{false};

    bool cancelled() const { return progress != nullptr && progress->cancelled.load(); }

    void run(int analyser, std::size_t from, std::size_t to) noexcept
    {
        try {
            RowAnalyser& a = analysers[static_cast<std::size_t>(analyser)];
            for (std::size_t i = from; i < to && !failed.load() && !cancelled(); ++i) {
                if (!a.analyse(input, geometry, firstRow + static_cast<std::int64_t>(i), rows[i])) {
                    failed = true;
                }
            }
        } catch (...) {
            failed = true;
        }
    }
};

// Computes rows[0 … n) of a block on `threads` threads, the calling thread
// one of them.
void runBlock(BlockJob& job, int threads)
{
    // Rows handed out a run at a time to whichever thread is free: a run is
    // long enough for its frames to share their resampled samples, short
    // enough that a thread the system leaves waiting holds up little.
    constexpr std::int64_t kRowsPerRun = 128;
    runChunks(threads, static_cast<std::int64_t>(job.rows.size()), kRowsPerRun,
              [&job](int worker, std::int64_t begin, std::int64_t end) {
                  job.run(worker, static_cast<std::size_t>(begin), static_cast<std::size_t>(end));
              });
}

} // namespace

FormantTrackParameters FormantTrackParameters::fromDocument(const DocumentFields& document)
{
    FormantTrackParameters parameters;
    parameters.m_bPreciseAnalysis = document.m_bPreciseAnalysis;
    parameters.m_dFormantCeiling = document.m_dFormantCeiling;
    parameters.m_nLPCCoefficients = document.m_nSpecLPCNumberofCoefficients;
    parameters.m_dPreEmphasis = document.m_dPreEmphasis;
    parameters.m_dFormantSilenceLevel = document.m_dFormantSilenceLevel;
    return parameters;
}

FormantTrackRows FormantTrackRows::of(double stepMs, double fromMs, double toMs)
{
    FormantTrackRows rows;
    if (!(stepMs > 0.0) || !std::isfinite(stepMs) || !std::isfinite(fromMs) ||
        !std::isfinite(toMs) || !(toMs > fromMs) || !(toMs > 0.0) || toMs / stepMs > kMaxPosition) {
        return rows;
    }
    // The divisions are exact to within a row; each end is then settled on
    // the products k × step that the rows are timed at.
    auto first = static_cast<std::int64_t>(std::max(0.0, std::ceil(fromMs / stepMs)));
    while (static_cast<double>(first) * stepMs < fromMs) {
        ++first;
    }
    while (first > 0 && static_cast<double>(first - 1) * stepMs >= fromMs) {
        --first;
    }
    auto end = static_cast<std::int64_t>(std::ceil(toMs / stepMs));
    while (static_cast<double>(end) * stepMs < toMs) {
        ++end;
    }
    while (end > first && static_cast<double>(end - 1) * stepMs >= toMs) {
        --end;
    }
    rows.first = first;
    rows.end = std::max(end, first);
    return rows;
}

std::string formantTrackRefusal(const FormantTrackInput& input)
{
    const FormantTrackParameters& p = input.parameters;
    const double rate = input.sampleRate;
    if (!std::isfinite(rate) || !(rate > 0.0)) {
        return "the sample rate is not a positive number";
    }
    if (!std::isfinite(input.stepMs) || !(input.stepMs > 0.0)) {
        return "the step must be a time above 0 ms";
    }
    if (!std::isfinite(input.fromMs) || !std::isfinite(input.toMs) ||
        std::abs(input.toMs) * rate / 1000.0 > kMaxPosition ||
        std::abs(input.fromMs) * rate / 1000.0 > kMaxPosition ||
        input.toMs / input.stepMs > kMaxPosition) {
        return "the stretch lies beyond what can be analysed";
    }
    if (std::isnan(p.m_dFormantSilenceLevel)) {
        return "the formant silence level is not a number";
    }
    if (p.m_bPreciseAnalysis) {
        if (!PreciseFormants::accepts(rate, p.m_dFormantCeiling)) {
            return "the precise formant analysis does not work at this rate and ceiling";
        }
    } else if (!classicWindow(p, rate) || !std::isfinite(p.m_dPreEmphasis)) {
        return "the LPC order or the pre-emphasis cannot be analysed at this rate";
    }
    return {};
}

double classicFrameLevelDb(std::span<const double> data, int n, double preEmphasis)
{
    const std::size_t offset = preEmphasis > 0.0 ? 1 : 0;
    if (n <= 0 || data.size() < static_cast<std::size_t>(n) + offset) {
        return kSilence;
    }
    // The window's powers and their sum, kept per thread for the next frame
    // of this length (every frame of a track or a spectrogram has one).
    thread_local std::vector<double> powers;
    thread_local double powerSum = 0.0;
    if (powers.size() != static_cast<std::size_t>(n)) {
        powers.resize(static_cast<std::size_t>(n));
        powerSum = 0.0;
        for (int i = 0; i < n; ++i) {
            const double w = 0.54 - 0.46 * std::cos(2.0 * kPi * i / n);
            powers[static_cast<std::size_t>(i)] = w * w;
            powerSum += w * w;
        }
    }
    double weighted = 0.0;
    const double weights = powerSum;
    for (int i = 0; i < n; ++i) {
        const double x = data[static_cast<std::size_t>(i) + offset];
        weighted += powers[static_cast<std::size_t>(i)] * x * x;
    }
    if (!(weighted > 0.0) || !(weights > 0.0)) {
        return kSilence;
    }
    return 10.0 * std::log10(weighted / weights);
}

FormantTrackEnd DoFormantTrack(const FormantTrackInput& input,
                               const std::function<bool(std::span<const FormantTrackRow>)>& sink,
                               FormantTrackProgress* progress, int threads, int blockRows)
{
    if (!formantTrackRefusal(input).empty()) {
        return FormantTrackEnd::Refused;
    }
    const FormantTrackRows rows = FormantTrackRows::of(input.stepMs, input.fromMs, input.toMs);
    const std::int64_t total = rows.count();
    const std::int64_t block = std::max(blockRows, 1);
    const TrackGeometry geometry(input);
    const int threadCount = threadCountFor(threads, std::min(total, block));
    std::vector<RowAnalyser> analysers;
    std::vector<FormantTrackRow> computed;
    try {
        analysers.resize(static_cast<std::size_t>(threadCount));
        for (RowAnalyser& analyser : analysers) {
            if (geometry.precise) {
                analyser.precise.emplace(input.sampleRate, input.parameters.m_dFormantCeiling);
            } else {
                analyser.frame.resize(static_cast<std::size_t>(geometry.window + geometry.before) +
                                      8);
            }
        }
        computed.reserve(static_cast<std::size_t>(std::min(total, block)));
    } catch (const std::bad_alloc&) {
        return FormantTrackEnd::Failed;
    }
    for (std::int64_t done = 0; done < total;) {
        if (progress != nullptr && progress->cancelled.load()) {
            return FormantTrackEnd::Cancelled;
        }
        const std::int64_t n = std::min(block, total - done);
        computed.resize(static_cast<std::size_t>(n));
        BlockJob job{input, geometry, analysers, computed, rows.first + done, progress};
        runBlock(job, static_cast<int>(std::min<std::int64_t>(threadCount, n)));
        if (job.failed.load()) {
            return FormantTrackEnd::Failed;
        }
        if (job.cancelled()) {
            return FormantTrackEnd::Cancelled;
        }
        done += n;
        if (progress != nullptr) {
            progress->m_nProgress = static_cast<int>(done * 100 / total);
        }
        if (!sink(computed)) {
            return FormantTrackEnd::Cancelled;
        }
    }
    return FormantTrackEnd::Done;
}

LogRecord FormantTrackLog::record(const std::string& displayName, const FormantTrackRow& row)
{
    LogRecord record;
    record.name = displayName;
    record.definition = kHeader;
    record.append(row.timeMs);
    for (const double f : row.frequencyHz) {
        record.append(f);
    }
    for (const double b : row.bandwidthHz) {
        record.append(b);
    }
    return record;
}

} // namespace phonaxis
