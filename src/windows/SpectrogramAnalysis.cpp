// The spectrogram engine: one FFT level spectrum per image column, LPC
// formant tracks (or, in the precise mode, precise formants at each
// column's middle), normalisation to the dynamic range, the grey image as
// data, the window's log entries, the formant plot hand-over and the worker
// thread that runs a computation off the main thread.

#include "windows/SpectrogramAnalysis.h"

#include "analysis/CMathFunc.h"
#include "analysis/PreciseFormants.h"
#include "document/MyDocument.h"
#include "windows/FormantTrack.h"
#include "windows/ThreadParts.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <new>
#include <optional>
#include <system_error>
#include <utility>

namespace phonaxis {

// How DoSpectrogram shows a SpectrogramColumnsSoFar its columns.
struct ColumnsSoFarAccess {
    // The storage of a computation starting; false when the done flags
    // cannot be had (the computation then runs without being shown).
    static bool attach(SpectrogramColumnsSoFar& soFar, const std::vector<double>& levels,
                       const std::vector<FormantRecord>& formants, int columns, int rows,
                       int dynamicRange)
    {
        const std::lock_guard lock(soFar.m_mutex);
        try {
            soFar.m_done =
                std::make_unique<std::atomic<std::uint8_t>[]>(static_cast<std::size_t>(columns));
        } catch (const std::bad_alloc&) {
            return false;
        }
        for (int c = 0; c < columns; ++c) {
            soFar.m_done[static_cast<std::size_t>(c)].store(0, std::memory_order_relaxed);
        }
        soFar.m_levels = &levels;
        soFar.m_formants = &formants;
        soFar.m_nColumns = columns;
        soFar.m_nRows = rows;
        soFar.m_nDynamicRange = dynamicRange;
        return true;
    }

    // Column `column`'s levels and formant record are written; called by
    // the thread that wrote them.
    static void columnDone(SpectrogramColumnsSoFar& soFar, int column)
    {
        soFar.m_done[static_cast<std::size_t>(column)].store(1, std::memory_order_release);
    }

    // The computation is about to change or hand over its storage: nothing
    // more is shown from it.
    static void detach(SpectrogramColumnsSoFar& soFar)
    {
        const std::lock_guard lock(soFar.m_mutex);
        soFar.m_levels = nullptr;
        soFar.m_formants = nullptr;
        soFar.m_done.reset();
    }
};

namespace {

constexpr int kMinFftLength = 32;
constexpr int kMaxFftLength = 8192;
// Levels one spectrogram (and pixels one image) may hold: 512 MB of doubles.
constexpr std::int64_t kMaxCells = std::int64_t{64} << 20;
// Longest LPC frame in samples (an order of 400 at 2.6 MHz); beyond it a
// column's prediction would cost more than the whole image is worth.
constexpr std::int64_t kMaxLpcWindow = std::int64_t{1} << 20;
// Sample positions must stay exactly representable and far from the int64
// limits after adding a frame length.
constexpr double kMaxPosition = 9.0e15;
// Samples a column reads past its N transform points (the pre-emphasis
// difference reads one of them), and an LPC frame past its W points.
constexpr std::int64_t kFftFrameExtra = 10;
constexpr std::int64_t kLpcFrameExtra = 5;
// Room left in the column and LPC buffers beyond what a frame reads.
constexpr std::size_t kBufferSlack = 20;
// Starting value of the search for the largest level.
constexpr double kLowestLevelDb = -1e7;
// The level of every row of a silent column: below anything the range can
// reach, so it normalises to 0 however loud or quiet the rest is.
constexpr double kSilentLevel = -std::numeric_limits<double>::infinity();
// More records than one formants-selection entry may add; a finer step over
// a long selection is refused rather than filling memory.
constexpr double kMaxSelectionRecords = 1'000'000.0;
// More threads than this only add start-up cost for columns this cheap.
constexpr int kMaxThreads = 64;
constexpr int kFormantsPerColumn = 5;
constexpr std::int16_t kNoFormant = -1;
constexpr int kEntryLevels = 256;

bool validFftLength(int n)
{
    return n >= kMinFftLength && n <= kMaxFftLength && (n & (n - 1)) == 0;
}

std::optional<std::int64_t> lpcWindowLength(const SpectrogramParameters& parameters,
                                            double sampleRateHz)
{
    return spectrogramLpcWindow(parameters.m_nLPCCoefficients, sampleRateHz);
}

// Whether the formant tracks are the precise analysis's, which can be
// computed with the input's rate and ceiling.
bool preciseTracks(const SpectrogramInput& input)
{
    const SpectrogramParameters& p = input.parameters;
    return p.m_bFormantTracking && p.m_bPreciseAnalysis &&
           PreciseFormants::accepts(input.sampleRate, p.m_dFormantCeiling);
}

// Where each column's frames lie: column c starts at p = start + c·D with
// D = (end − start)/columns; its FFT frame covers channel samples
// (int)p … (int)(N + p + 10) − 1 and its LPC frame (int)p … (int)p + W + 4.
// Precise formants describe the column's middle, p + D/2: they read the
// samples within the analysis's reach R of floor(p + D/2).
struct ColumnGeometry {
    double start = 0.0;
    double step = 0.0;
    int fftLength = 0;
    std::int64_t lpcWindow = 0;    // 0: no LPC frames
    std::int64_t preciseReach = 0; // 0: no precise formants

    ColumnGeometry(const SpectrogramInput& input, std::optional<std::int64_t> window)
        : start(input.startPoint), step((input.endPoint - input.startPoint) / input.columns),
          fftLength(input.parameters.m_nFFTWindLength), lpcWindow(window.value_or(0))
    {
        if (preciseTracks(input)) {
            preciseReach =
                PreciseFormants(input.sampleRate, input.parameters.m_dFormantCeiling).reach();
        }
    }

    double position(int column) const { return start + column * step; }
    std::int64_t frameBegin(int column) const
    {
        return static_cast<std::int64_t>(position(column));
    }
    std::int64_t fftEnd(int column) const
    {
        return static_cast<std::int64_t>(fftLength + position(column) + kFftFrameExtra);
    }
    std::int64_t lpcEnd(int column) const
    {
        return frameBegin(column) + lpcWindow + kLpcFrameExtra;
    }
    double middle(int column) const { return position(column) + step / 2.0; }
    std::int64_t preciseBegin(int column) const
    {
        return static_cast<std::int64_t>(std::floor(middle(column))) - preciseReach;
    }
    std::int64_t preciseEnd(int column) const
    {
        return static_cast<std::int64_t>(std::floor(middle(column))) + preciseReach + 1;
    }
    // The first sample any frame of the column reads.
    std::int64_t readBegin(int column) const
    {
        return preciseReach > 0 ? std::min(frameBegin(column), preciseBegin(column))
                                : frameBegin(column);
    }
    // The furthest sample the column's FFT and LPC frames read, plus one.
    std::int64_t framesEnd(int column) const
    {
        return lpcWindow > 0 ? std::max(fftEnd(column), lpcEnd(column)) : fftEnd(column);
    }
    // The furthest sample any frame of the column reads, plus one.
    std::int64_t readEnd(int column) const
    {
        const std::int64_t end =
            lpcWindow > 0 ? std::max(fftEnd(column), lpcEnd(column)) : fftEnd(column);
        return preciseReach > 0 ? std::max(end, preciseEnd(column)) : end;
    }
};

// The snapshot's samples addressed by channel index. Only indices below the
// channel length that the snapshot holds are read; every other index reads
// as 0.
class SampleSource {
public:
    explicit SampleSource(const SpectrogramInput& input) : m_samples(input.analysed())
    {
        const double channelEnd = std::ceil(std::min(input.fileLength, kMaxPosition));
        m_end = static_cast<std::int64_t>(channelEnd);
        if (input.runs.empty()) {
            m_runs.push_back({static_cast<std::int64_t>(input.offset), 0, m_samples.size()});
        } else {
            m_runs = input.runs;
        }
    }

    // Channel samples first … last − 1 into out[0 …], as many as out holds;
    // out is zero-filled beforehand, so positions without a sample stay 0.
    void copy(std::int64_t first, std::int64_t last, std::span<double> out) const
    {
        const std::int64_t stop =
            std::min({last, m_end, first + static_cast<std::int64_t>(out.size())});
        // Runs lie in rising order; the one a frame starts in comes first.
        auto run = std::upper_bound(
            m_runs.begin(), m_runs.end(), first,
            [](std::int64_t at, const SpectrogramSampleRun& r) { return at < r.begin; });
        if (run != m_runs.begin()) {
            --run;
        }
        for (; run != m_runs.end() && run->begin < stop; ++run) {
            const std::int64_t runEnd = run->begin + static_cast<std::int64_t>(run->count);
            const std::int64_t from = std::max({first, run->begin, std::int64_t{0}});
            const std::int64_t to = std::min(stop, runEnd);
            for (std::int64_t i = from; i < to; ++i) {
                out[static_cast<std::size_t>(i - first)] =
                    m_samples[run->at + static_cast<std::size_t>(i - run->begin)];
            }
        }
    }

    // The run holding every channel sample of first … last − 1 that lies
    // in the channel (the rest read as 0 from it too): its samples and the
    // channel index of its first; nothing when no single run holds them.
    std::optional<std::pair<std::span<const float>, std::int64_t>>
    runHolding(std::int64_t first, std::int64_t last) const
    {
        const std::int64_t from = std::max<std::int64_t>(first, 0);
        const std::int64_t to = std::min(last, m_end);
        if (to <= from) {
            return std::nullopt;
        }
        auto run = std::upper_bound(
            m_runs.begin(), m_runs.end(), from,
            [](std::int64_t at, const SpectrogramSampleRun& r) { return at < r.begin; });
        if (run == m_runs.begin()) {
            return std::nullopt;
        }
        --run;
        const std::int64_t runEnd = run->begin + static_cast<std::int64_t>(run->count);
        if (from < run->begin || to > runEnd || run->at + run->count > m_samples.size()) {
            return std::nullopt;
        }
        return std::pair{m_samples.subspan(run->at, run->count), run->begin};
    }

private:
    std::span<const float> m_samples;
    std::vector<SpectrogramSampleRun> m_runs;
    std::int64_t m_end = 0;
};

FormantRecord emptyFormantRecord()
{
    FormantRecord record{};
    std::fill_n(record.begin(), kFormantsPerColumn, kNoFormant);
    return record;
}

// Whether the frame DoFFT_Real transforms (data[0 … n − 1], after the
// pre-emphasis difference when `preEmphasis` > 0) is zero throughout.
bool transformsToSilence(std::span<const double> data, int n, double preEmphasis)
{
    for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
        const double value = preEmphasis > 0.0 ? data[i + 1] - preEmphasis * data[i] : data[i];
        if (value != 0.0) {
            return false;
        }
    }
    return true;
}

// The inputs DoSpectrogram accepts: anything else yields no spectrogram.
bool computable(const SpectrogramInput& input)
{
    const SpectrogramParameters& p = input.parameters;
    const double rate = input.sampleRate;
    const auto withinPositions = [](double v) {
        return std::isfinite(v) && std::abs(v) <= kMaxPosition;
    };
    return !input.analysed().empty() && input.columns > 0 && input.rows > 0 &&
           static_cast<std::int64_t>(input.columns) * input.rows <= kMaxCells &&
           validFftLength(p.m_nFFTWindLength) && p.m_nDynamicRange > 0 &&
           std::isfinite(p.m_dPreEmphasis) && std::isfinite(rate) && rate > 0.0 &&
           p.m_nFreqRange > 0 && p.m_nFreqRange <= rate * 0.5 &&
           withinPositions(input.startPoint) && withinPositions(input.endPoint) &&
           input.endPoint >= input.startPoint && withinPositions(input.offset) &&
           !std::isnan(input.fileLength) && input.fileLength >= 0.0;
}

// Everything the column threads share. Each thread writes only the levels
// and formant records of its own columns.
struct ColumnJob {
    const SpectrogramInput& input;
    ColumnGeometry geometry;
    SampleSource source;
    bool tracking = false;
    SpectrogramProgress* progress = nullptr;
    SpectrogramColumnsSoFar* soFar = nullptr; // shown each finished column, when given
    std::vector<double>& levels;
    std::vector<FormantRecord>& formants;
    std::atomic<int> columnsDone{0};
    std::atomic<bool> failed{false};
    std::atomic<bool> foundFormant{false};

    bool cancelled() const { return progress != nullptr && progress->cancelled.load(); }

    void reportColumnDone()
    {
        const int done = columnsDone.fetch_add(1) + 1;
        if (progress == nullptr) {
            return;
        }
        const int percent = static_cast<int>(static_cast<std::int64_t>(done) * 100 / input.columns);
        // Blocks finish columns in any order; keep the reported value rising.
        int current = progress->m_nProgress.load();
        while (current < percent &&
               !progress->m_nProgress.compare_exchange_weak(current, percent)) {
        }
    }

    // The first five roots of this thread's last LPC that pass the
    // bandwidth test, as whole Hz. A frequency above the range shown is not
    // a formant of this display (and one above it can be as high as half the
    // rate), so it is passed over, as is one a 16-bit record cannot hold.
    void takeFormants(FormantRecord& record)
    {
        const CMathFunc::ro* roots = CMathFunc::lp_Roots;
        if (roots == nullptr) {
            return;
        }
        const double highest = std::min(static_cast<double>(input.parameters.m_nFreqRange),
                                        std::numeric_limits<std::int16_t>::max() + 0.0);
        const int listed = std::clamp(roots->formantCount, 0, kFormantsPerColumn);
        int slot = 0;
        for (int i = 0; i < listed; ++i) {
            const double frequency = roots->frequencyHz[i] + 0.5;
            const double bandwidth = roots->bandwidthHz[i] + 0.5;
            if (frequency >= CMathFunc::gRatioFormantBanswodth * bandwidth && frequency >= 0.0 &&
                std::floor(frequency) <= highest) {
                record[static_cast<std::size_t>(slot++)] = static_cast<std::int16_t>(frequency);
                foundFormant = true;
            }
        }
    }

    // The precise formants at column `column`'s middle, rounded to whole Hz,
    // in ascending slots, up to the range shown. `neighbourhood` is the work
    // buffer of the samples the analysis reads.
    void takePreciseFormants(FormantRecord& record, int column, PreciseFormants& analysis,
                             std::vector<double>& neighbourhood)
    {
        const std::int64_t first = geometry.preciseBegin(column);
        const double middle = geometry.middle(column);
        PreciseFormantSet found;
        // Within one run of the snapshot (all of a range whose columns
        // overlap) the analysis reads the run itself, so that it resamples
        // what neighbouring columns share only once; otherwise a copy of the
        // neighbourhood. Both read the same samples and give the same formants.
        if (const auto run = source.runHolding(first, geometry.preciseEnd(column))) {
            if (analysis.levelDb(run->first, run->second, middle) <
                input.parameters.m_dFormantSilenceLevel) {
                return; // the silence gate
            }
            found = analysis.analyseNext(run->first, run->second, middle);
        } else {
            std::fill(neighbourhood.begin(), neighbourhood.end(), 0.0);
            source.copy(first, geometry.preciseEnd(column), neighbourhood);
            const std::span<const double> around(neighbourhood);
            if (analysis.levelDb(around, first, middle) < input.parameters.m_dFormantSilenceLevel) {
                return; // the silence gate
            }
            found = analysis.analyse(around, first, middle);
        }
        for (int i = 0; i < std::min(found.count, kFormantsPerColumn); ++i) {
            // Ceilings stay far below 32,768 Hz, so every formant fits a record.
            const long hz = std::lround(found.frequencyHz[static_cast<std::size_t>(i)]);
            if (hz > input.parameters.m_nFreqRange) {
                break; // ascending: the rest lie above the range too
            }
            record[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(hz);
            foundFormant = true;
        }
    }

    void computeColumns(int first, int last)
    {
        const SpectrogramParameters& p = input.parameters;
        const auto rows = static_cast<std::size_t>(input.rows);
        const auto fftRead = static_cast<std::size_t>(p.m_nFFTWindLength + kFftFrameExtra);
        const auto lpcRead = static_cast<std::size_t>(geometry.lpcWindow + kLpcFrameExtra);
        std::vector<double> column;
        std::vector<double> frame;
        // Each block has its own precise analysis: its work storage is not shared.
        std::optional<PreciseFormants> precise;
        std::vector<double> neighbourhood;
        try {
            column.resize(std::max(fftRead, rows) + kBufferSlack);
            if (geometry.preciseReach > 0) {
                precise.emplace(input.sampleRate, p.m_dFormantCeiling);
                neighbourhood.resize(static_cast<std::size_t>(2 * geometry.preciseReach + 1));
            } else if (geometry.lpcWindow > 0) {
                frame.resize(lpcRead + kBufferSlack);
            }
        } catch (const std::bad_alloc&) {
            failed = true;
            return;
        }
        for (int c = first; c < last && !failed.load() && !cancelled(); ++c) {
            const std::int64_t begin = geometry.frameBegin(c);
            const auto columnLevels = levels.begin() + static_cast<std::ptrdiff_t>(c * rows);
            if (input.levels) {
                std::fill_n(column.begin(), fftRead, 0.0);
                source.copy(begin, geometry.fftEnd(c), column);
            }
            if (!input.levels) {
                // Formant records only: the levels stay 0.
            } else if (transformsToSilence(column, p.m_nFFTWindLength, p.m_dPreEmphasis)) {
                // Nothing to transform: DoFFT_Real would report the zero
                // power as 0 dB, which for samples scaled to full scale 1.0
                // lies near the top of the image and would draw digital
                // silence dark.
                std::fill_n(columnLevels, rows, kSilentLevel);
            } else if (CMathFunc::DoFFT_Real(column, p.m_nFFTWindLength, p.m_dPreEmphasis, 1, 1,
                                             input.rows, p.m_nFreqRange,
                                             input.sampleRate) == CMathFunc::kSpectrumDone) {
                std::copy_n(column.begin(), rows, columnLevels);
            } else {
                // Only a thread that cannot get its work storage gets here:
                // a spectrogram with holes in it is not one.
                failed = true;
                return;
            }

            if (tracking) {
                FormantRecord& record = formants[static_cast<std::size_t>(c)];
                record = emptyFormantRecord();
                if (precise) {
                    takePreciseFormants(record, c, *precise, neighbourhood);
                } else if (geometry.lpcWindow > 0) {
                    std::fill_n(frame.begin(), lpcRead, 0.0);
                    source.copy(begin, geometry.lpcEnd(c), frame);
                    const bool audible =
                        classicFrameLevelDb(frame, static_cast<int>(geometry.lpcWindow),
                                            p.m_dPreEmphasis) >= p.m_dFormantSilenceLevel;
                    if (audible && CMathFunc::DoLPC(frame, p.m_nLPCCoefficients,
                                                    static_cast<int>(geometry.lpcWindow),
                                                    p.m_dPreEmphasis, 1, 0, input.columns,
                                                    p.m_nFreqRange, input.sampleRate, 1, 1)) {
                        takeFormants(record);
                    }
                }
            }
            if (soFar != nullptr) {
                ColumnsSoFarAccess::columnDone(*soFar, c);
            }
            reportColumnDone();
        }
    }

    void runBlock(int first, int last) noexcept
    {
        try {
            computeColumns(first, last);
        } catch (...) {
            failed = true;
        }
    }
};

int threadCountFor(int requested, int columns)
{
    int count = requested > 0 ? requested : static_cast<int>(std::thread::hardware_concurrency());
    count = std::clamp(count, 1, kMaxThreads);
    return std::min(count, columns);
}

// Shares the columns among `threadCount` contiguous blocks; block 0 and any
// block whose thread cannot be started run on the calling thread.
void runColumnBlocks(ColumnJob& job, int threadCount)
{
    const int columns = job.input.columns;
    const auto blockStart = [columns, threadCount](int block) {
        return static_cast<int>(static_cast<std::int64_t>(block) * columns / threadCount);
    };
    runParts(threadCount, [&job, &blockStart](int block) {
        job.runBlock(blockStart(block), blockStart(block + 1));
    });
}

std::string formatInt(int value)
{
    return std::to_string(value);
}

LogRecord recordWith(const std::string& displayName, const char* header)
{
    LogRecord record;
    record.name = displayName;
    record.definition = header;
    return record;
}

void appendFormants(LogRecord& record, const FormantRecord& formants)
{
    for (int i = 0; i < kFormantsPerColumn; ++i) {
        record.append(formants[static_cast<std::size_t>(i)]);
    }
}

} // namespace

FormantRecord spectrogramColumnFormants(const SpectrogramResult& result, std::int64_t column)
{
    if (column < 0 || column >= result.columns ||
        column >= static_cast<std::int64_t>(result.formants.size())) {
        return emptyFormantRecord();
    }
    return result.formants[static_cast<std::size_t>(column)];
}

std::optional<std::int64_t> spectrogramLpcWindow(int order, double sampleRateHz)
{
    if (order < 1 || order > CMathFunc::kLpcMaxOrder || !std::isfinite(sampleRateHz)) {
        return std::nullopt;
    }
    const double perMs = std::trunc(sampleRateHz / 1000.0);
    if (!(perMs >= 1.0) || perMs > static_cast<double>(kMaxLpcWindow)) {
        return std::nullopt;
    }
    const std::int64_t window = static_cast<std::int64_t>(perMs) * order;
    if (window > kMaxLpcWindow) {
        return std::nullopt;
    }
    return window;
}

std::string spectrogramAnalysisCaption(const SpectrogramParameters& parameters, double sampleRateHz)
{
    if (!parameters.m_bFormantTracking) {
        return {};
    }
    if (parameters.m_bPreciseAnalysis) {
        const PreciseFormants model(sampleRateHz, parameters.m_dFormantCeiling);
        return "Precise analysis: formants up to " +
               std::to_string(std::lround(model.ceilingHz())) + " Hz";
    }
    return "Classic analysis: LPC order " + std::to_string(parameters.m_nLPCCoefficients);
}

SpectrogramParameters SpectrogramParameters::fromDocument(const DocumentFields& document)
{
    SpectrogramParameters parameters;
    parameters.m_nFFTWindLength = document.m_nSpecWindowLength;
    parameters.m_nDynamicRange = document.m_nSpecDynamicRange;
    parameters.m_dPreEmphasis = document.m_dPreEmphasis;
    parameters.m_nFreqRange = document.m_nSpecfrequencyRange;
    parameters.m_bFormantTracking = document.m_bSpecDrawFormantTracking;
    parameters.m_nLPCCoefficients = document.m_nSpecLPCNumberofCoefficients;
    parameters.m_dLogStepSize = document.m_dLogStepSize;
    parameters.m_bPreciseAnalysis = document.m_bPreciseAnalysis;
    parameters.m_dFormantCeiling = document.m_dFormantCeiling;
    parameters.m_dFormantSilenceLevel = document.m_dFormantSilenceLevel;
    return parameters;
}

namespace {

// Channel `index` of the document when it has samples, or for -1 the
// document's audio channel: the first of type 1 that has samples.
const Channels* spectrogramChannel(const MyDocument& document, int index)
{
    if (index >= 0) {
        const bool held =
            index < document.channelsInUse() && !document.getChannel(index).samples().empty();
        return held ? &document.getChannel(index) : nullptr;
    }
    for (int i = 0; i < document.channelsInUse(); ++i) {
        const Channels& candidate = document.getChannel(i);
        if (candidate.m_nChannelType == 1 && !candidate.samples().empty()) {
            return &candidate;
        }
    }
    return nullptr;
}

// How a snapshot holds the samples: copies of what the columns read, or the
// channel read in place.
enum class Holding { Copy, InPlace };

// Copies into `input` only the samples its columns' FFT, LPC and precise
// frames read, as runs in rising order that neither overlap nor touch (or,
// in place, refers to the whole channel). Then the waveform pane's picture
// of the range.
void takeSnapshot(SpectrogramInput& input, std::span<const float> samples,
                  const MinMaxSummary* summary, Holding holding = Holding::Copy)
{
    const auto finitePosition = [](double v) {
        return std::isfinite(v) && std::abs(v) <= kMaxPosition;
    };
    if (input.columns <= 0 || !finitePosition(input.startPoint) ||
        !finitePosition(input.endPoint)) {
        return;
    }
    if (holding == Holding::InPlace) {
        try {
            input.waveform = SpectrogramWaveform::of(samples, summary, input.startPoint,
                                                     input.endPoint, input.columns);
            input.channelInPlace = samples;
        } catch (const std::bad_alloc&) {
            input.waveform = {};
        }
        return;
    }
    const ColumnGeometry geometry(input, lpcWindowLength(input.parameters, input.sampleRate));
    const auto available = static_cast<std::int64_t>(samples.size());
    try {
        // Per column the stretch its FFT and LPC frames read (from the
        // column's start) and the one its precise formants read (around its
        // middle): apart when columns are long, so that the samples between
        // them are neither copied nor held.
        std::vector<std::pair<std::int64_t, std::int64_t>> stretches;
        stretches.reserve(static_cast<std::size_t>(input.columns) *
                          (geometry.preciseReach > 0 ? 2 : 1));
        const auto add = [&](std::int64_t from, std::int64_t to) {
            const std::int64_t begin = std::clamp<std::int64_t>(from, 0, available);
            const std::int64_t end = std::clamp<std::int64_t>(to, begin, available);
            if (end > begin) {
                stretches.emplace_back(begin, end);
            }
        };
        for (int c = 0; c < input.columns; ++c) {
            if (geometry.preciseReach > 0) {
                add(geometry.frameBegin(c), geometry.framesEnd(c));
                add(geometry.preciseBegin(c), geometry.preciseEnd(c));
            } else {
                add(geometry.readBegin(c), geometry.readEnd(c));
            }
        }
        // Nearly in order already; a stretch that starts before the last
        // run's end extends that run, any other starts a new one.
        std::sort(stretches.begin(), stretches.end());
        std::vector<SpectrogramSampleRun> runs;
        std::size_t held = 0;
        for (const auto& [begin, end] : stretches) {
            if (!runs.empty() &&
                begin <= runs.back().begin + static_cast<std::int64_t>(runs.back().count)) {
                SpectrogramSampleRun& last = runs.back();
                const auto grown = static_cast<std::size_t>(
                    std::max(end - last.begin, static_cast<std::int64_t>(last.count)));
                held += grown - last.count;
                last.count = grown;
            } else {
                runs.push_back({begin, held, static_cast<std::size_t>(end - begin)});
                held += static_cast<std::size_t>(end - begin);
            }
        }
        // Appended run after run (their `at`s follow each other), so the
        // copy is written once and never zero-filled first.
        input.samples.reserve(held);
        for (const SpectrogramSampleRun& run : runs) {
            const auto from = samples.begin() + run.begin;
            input.samples.insert(input.samples.end(), from,
                                 from + static_cast<std::ptrdiff_t>(run.count));
        }
        input.offset = runs.empty() ? 0.0 : static_cast<double>(runs.front().begin);
        if (runs.size() > 1) {
            input.runs = std::move(runs);
        }
        input.waveform = SpectrogramWaveform::of(samples, summary, input.startPoint, input.endPoint,
                                                 input.columns);
    } catch (const std::bad_alloc&) {
        input.samples = {};
        input.runs = {};
        input.waveform = {};
    }
}

} // namespace

namespace {

SpectrogramInput documentInput(const MyDocument& document, bool selection, int columns, int rows,
                               const MinMaxSummary* summary, int channelIndex, Holding holding)
{
    SpectrogramInput input;
    input.columns = columns;
    input.rows = rows;
    input.parameters = SpectrogramParameters::fromDocument(document);
    const Channels* channel = spectrogramChannel(document, channelIndex);
    if (channel == nullptr) {
        return input;
    }
    const std::span<const float> samples = channel->samples();
    input.fileLength = static_cast<double>(samples.size());
    input.sampleRate = channel->m_dSampleRate;
    if (selection) {
        input.startPoint = channel->m_dDurationStartFile;
        input.endPoint = channel->m_dDurationStopFile;
        input.startTime = channel->m_dDurationStartTime;
        input.stopTime = channel->m_dDurationStopTime;
    } else {
        input.startPoint = 0.0;
        input.endPoint = channel->m_dwFileLength;
        input.startTime = 0.0;
        input.stopTime = channel->m_dLengthMS;
    }
    takeSnapshot(input, samples, summary, holding);
    return input;
}

} // namespace

SpectrogramInput SpectrogramInput::fromDocument(const MyDocument& document, bool selection,
                                                int columns, int rows, const MinMaxSummary* summary,
                                                int channelIndex)
{
    return documentInput(document, selection, columns, rows, summary, channelIndex, Holding::Copy);
}

SpectrogramInput SpectrogramInput::inPlace(const MyDocument& document, bool selection, int columns,
                                           int rows)
{
    return documentInput(document, selection, columns, rows, nullptr, -1, Holding::InPlace);
}

SpectrogramInput SpectrogramInput::fromDocumentRange(const MyDocument& document, double startMs,
                                                     double stopMs, int columns, int rows,
                                                     const MinMaxSummary* summary, int channelIndex)
{
    SpectrogramInput input;
    input.columns = columns;
    input.rows = rows;
    input.parameters = SpectrogramParameters::fromDocument(document);
    const Channels* channel = spectrogramChannel(document, channelIndex);
    if (channel == nullptr || !std::isfinite(startMs) || !std::isfinite(stopMs)) {
        return input;
    }
    const std::span<const float> samples = channel->samples();
    input.fileLength = static_cast<double>(samples.size());
    input.sampleRate = channel->m_dSampleRate;
    const double lengthMs = channel->m_dLengthMS;
    input.startTime = std::clamp(startMs, 0.0, std::max(lengthMs, 0.0));
    input.stopTime = std::clamp(stopMs, input.startTime, std::max(lengthMs, 0.0));
    if (!(input.stopTime > input.startTime) || !(lengthMs > 0.0)) {
        return input;
    }
    const double samplesPerMs = channel->m_dwFileLength / lengthMs;
    input.startPoint = input.startTime * samplesPerMs;
    input.endPoint = input.stopTime * samplesPerMs;
    takeSnapshot(input, samples, summary);
    return input;
}

namespace {

// Normalises raw levels: the loudest level of them all becomes the top of
// the dynamic range; anything more than the range below it (or not a
// number) becomes 0. (The formant records' silence gate is decided per
// column as it is computed, on an absolute level, not here.)
void normaliseColumns(std::vector<double>& levels, int dynamicRange)
{
    double loudest = kLowestLevelDb;
    for (const double level : levels) {
        loudest = std::max(loudest, level);
    }
    const double range = dynamicRange;
    for (double& level : levels) {
        const double shifted = level - loudest + range;
        level = shifted > 0.0 ? shifted : 0.0;
    }
}

} // namespace

SpectrogramResult SpectrogramColumnsSoFar::preview(std::vector<std::uint8_t>& shown) const
{
    shown.clear();
    SpectrogramResult result;
    bool any = false;
    try {
        const std::lock_guard lock(m_mutex);
        if (m_levels == nullptr) {
            return {};
        }
        const auto columns = static_cast<std::size_t>(m_nColumns);
        const auto rows = static_cast<std::size_t>(m_nRows);
        const bool tracking = !m_formants->empty();
        shown.assign(columns, 0);
        result.levels.assign(columns * rows, kSilentLevel);
        if (tracking) {
            result.formants.assign(columns, emptyFormantRecord());
        }
        for (std::size_t c = 0; c < columns; ++c) {
            if (m_done[c].load(std::memory_order_acquire) == 0) {
                continue;
            }
            shown[c] = 1;
            any = true;
            const auto from = m_levels->begin() + static_cast<std::ptrdiff_t>(c * rows);
            std::copy(from, from + static_cast<std::ptrdiff_t>(rows),
                      result.levels.begin() + static_cast<std::ptrdiff_t>(c * rows));
            if (tracking) {
                result.formants[c] = (*m_formants)[c];
            }
        }
        result.columns = m_nColumns;
        result.rows = m_nRows;
        result.dynamicRange = m_nDynamicRange;
    } catch (const std::bad_alloc&) {
        shown.clear();
        return {};
    }
    if (!any) {
        shown.clear();
        return {};
    }
    normaliseColumns(result.levels, result.dynamicRange);
    result.m_bHaveFormants = std::any_of(result.formants.begin(), result.formants.end(),
                                         [](const FormantRecord& f) { return f[0] > 0; });
    result.m_bHaveSpectrogram = true;
    return result;
}

std::size_t SpectrogramInput::memoryBytes() const
{
    return samples.capacity() * sizeof(float) + runs.capacity() * sizeof(SpectrogramSampleRun) +
           waveform.memoryBytes();
}

SpectrogramWaveform SpectrogramWaveform::of(std::span<const float> channel,
                                            const MinMaxSummary* summary, double startPoint,
                                            double endPoint, int width)
{
    SpectrogramWaveform waveform;
    if (width <= 0 || !std::isfinite(startPoint) || !std::isfinite(endPoint) ||
        std::abs(startPoint) > kMaxPosition || std::abs(endPoint) > kMaxPosition) {
        return waveform;
    }
    waveform.pageMin = std::floor(startPoint);
    waveform.pageMax = std::floor(endPoint);
    // Without a summary of these samples every query scans them.
    static const MinMaxSummary kNoSummary;
    const MinMaxSummary& extremesFrom = summary != nullptr ? *summary : kNoSummary;
    const auto n = static_cast<std::int64_t>(channel.size());
    const auto cut = [n](double position) {
        return static_cast<std::size_t>(
            std::clamp<std::int64_t>(static_cast<std::int64_t>(position), 0, n));
    };
    const std::size_t first = cut(waveform.pageMin);
    const std::size_t last = std::max(cut(waveform.pageMax), first);
    waveform.extremes = extremesFrom.range(channel, first, last - first);
    const double s = (waveform.pageMax - waveform.pageMin) / width;
    if (!(s >= 4.0)) {
        waveform.samples.assign(channel.begin() + static_cast<std::ptrdiff_t>(first),
                                channel.begin() + static_cast<std::ptrdiff_t>(last));
        return waveform;
    }
    const auto perColumn = static_cast<std::int64_t>(s);
    waveform.columns.resize(static_cast<std::size_t>(width), MinMax::none());
    for (int i = 0; i < width; ++i) {
        const auto start = static_cast<std::int64_t>(s * i + waveform.pageMin);
        const std::int64_t from = std::max<std::int64_t>(start, 0);
        const std::int64_t to = std::min(start + perColumn, n);
        if (from < to) {
            waveform.columns[static_cast<std::size_t>(i)] = extremesFrom.range(
                channel, static_cast<std::size_t>(from), static_cast<std::size_t>(to - from));
        }
    }
    return waveform;
}

std::size_t SpectrogramWaveform::memoryBytes() const
{
    return columns.capacity() * sizeof(MinMax) + samples.capacity() * sizeof(float);
}

SpectrogramResult DoSpectrogram(const SpectrogramInput& input, SpectrogramProgress* progress,
                                int threads, SpectrogramColumnsSoFar* soFar)
{
    if (!computable(input) || (progress != nullptr && progress->cancelled.load())) {
        return {};
    }
    const SpectrogramParameters& p = input.parameters;
    const bool tracking = p.m_bFormantTracking;
    SpectrogramResult result;
    try {
        result.levels.assign(
            static_cast<std::size_t>(input.columns) * static_cast<std::size_t>(input.rows), 0.0);
        if (tracking) {
            result.formants.assign(static_cast<std::size_t>(input.columns), emptyFormantRecord());
        }
    } catch (const std::bad_alloc&) {
        return {};
    }

    const std::optional<std::int64_t> window =
        tracking ? lpcWindowLength(p, input.sampleRate) : std::nullopt;
    const bool shown = soFar != nullptr &&
                       ColumnsSoFarAccess::attach(*soFar, result.levels, result.formants,
                                                  input.columns, input.rows, p.m_nDynamicRange);
    ColumnJob job{input,    ColumnGeometry(input, window), SampleSource(input), tracking,
                  progress, shown ? soFar : nullptr,       result.levels,       result.formants};
    runColumnBlocks(job, threadCountFor(threads, input.columns));
    if (shown) {
        ColumnsSoFarAccess::detach(*soFar);
    }
    if (job.failed.load() || job.cancelled()) {
        return {};
    }
    if (input.levels) {
        normaliseColumns(result.levels, p.m_nDynamicRange);
    }

    result.columns = input.columns;
    result.rows = input.rows;
    result.dynamicRange = p.m_nDynamicRange;
    result.m_bHaveFormants = job.foundFormant.load();
    result.m_bHaveSpectrogram = true;
    return result;
}

SpectrogramImage DrawSpectrogramBMP(const SpectrogramResult& result, int width, int height,
                                    std::span<const std::uint8_t> shown)
{
    SpectrogramImage image;
    if (width <= 0 || height <= 0 || static_cast<std::int64_t>(width) * height > kMaxCells) {
        return image;
    }
    try {
        image.entries.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height),
                             SpectrogramImage::kUnpainted);
    } catch (const std::bad_alloc&) {
        return {};
    }
    image.width = width;
    image.height = height;

    const std::int64_t columns = result.columns;
    const std::int64_t rows = result.rows;
    if (!result.m_bHaveSpectrogram || columns <= 0 || rows <= 0 || result.dynamicRange <= 0 ||
        result.levels.size() != static_cast<std::size_t>(columns * rows)) {
        return image;
    }
    const double entriesPerDb = static_cast<double>(kEntryLevels) / result.dynamicRange;
    if (!shown.empty() && shown.size() != static_cast<std::size_t>(columns)) {
        return image;
    }
    for (std::int64_t c = 0; c < columns; ++c) {
        if (!shown.empty() && shown[static_cast<std::size_t>(c)] == 0) {
            continue;
        }
        const std::int64_t x = c * width / columns;
        for (std::int64_t r = 0; r < rows; ++r) {
            const std::int64_t y = height - 1 - r * height / rows;
            const double entry =
                result.levels[static_cast<std::size_t>(c * rows + r)] * entriesPerDb;
            std::uint16_t g = 0;
            if (entry >= kEntryLevels) {
                g = kEntryLevels;
            } else if (entry > 0.0) {
                g = static_cast<std::uint16_t>(entry);
            }
            image.entries[static_cast<std::size_t>(y * width + x)] = g;
        }
    }
    return image;
}

std::uint8_t SpectrogramImage::grey(std::uint16_t entry)
{
    if (entry == kUnpainted) {
        return 255;
    }
    const int g = std::min<int>(entry, kEntryLevels);
    return static_cast<std::uint8_t>(std::lround(255.0 * (kEntryLevels - g) / (kEntryLevels + 1)));
}

LogRecord SpectrogramLog::marker(const std::string& displayName, double markerTime,
                                 double markerFrequency)
{
    LogRecord record = recordWith(displayName, kMarkerHeader);
    record.append(markerTime);
    record.append(markerFrequency);
    return record;
}

LogRecord SpectrogramLog::duration(const std::string& displayName, double startTime,
                                   double selectionStart, double selectionStop)
{
    LogRecord record = recordWith(displayName, kDurationHeader);
    record.append(startTime + selectionStart);
    record.append(startTime + selectionStop);
    record.append(selectionStop - selectionStart);
    return record;
}

LogRecord SpectrogramLog::formantsMarker(const std::string& displayName,
                                         const SpectrogramResult& result, double markerTime,
                                         int column)
{
    LogRecord record = recordWith(displayName, kFormantsMarkerHeader);
    record.append(markerTime);
    appendFormants(record, spectrogramColumnFormants(result, column));
    return record;
}

std::vector<LogRecord> SpectrogramLog::formantsSelection(const std::string& displayName,
                                                         const SpectrogramResult& result,
                                                         double startTime, double stopTime,
                                                         double selectionStart,
                                                         double selectionStop, double stepMs)
{
    return formantsSelection(displayName, result, startTime, stopTime, selectionStart,
                             selectionStop, stepMs, 0,
                             static_cast<std::size_t>(kMaxSelectionRecords) + 1);
}

std::vector<LogRecord>
SpectrogramLog::formantsSelection(const std::string& displayName, const SpectrogramResult& result,
                                  double startTime, double stopTime, double selectionStart,
                                  double selectionStop, double stepMs, std::size_t firstRecord,
                                  std::size_t maxRecords)
{
    std::vector<LogRecord> records;
    if (!(stepMs > 0.0) || !std::isfinite(selectionStart) || !std::isfinite(selectionStop) ||
        !((selectionStop - selectionStart) / stepMs <= kMaxSelectionRecords)) {
        return records;
    }
    const SpectrogramSelectionRows rows{startTime,     stopTime, selectionStart,
                                        selectionStop, stepMs,   result.columns};
    const double end = std::min(static_cast<double>(firstRecord) + static_cast<double>(maxRecords),
                                kMaxSelectionRecords + 1.0);
    for (double i = static_cast<double>(firstRecord); i < end; ++i) {
        double timeMs = 0.0;
        std::int64_t column = 0;
        if (!rows.row(i, timeMs, column)) {
            break;
        }
        LogRecord record = recordWith(displayName, kFormantsSelectionHeader);
        record.append(timeMs);
        appendFormants(record, spectrogramColumnFormants(result, column));
        try {
            records.push_back(std::move(record));
        } catch (const std::bad_alloc&) {
            return {};
        }
    }
    return records;
}

FormantPlotColumns PlotformantsFromSpectrogram(const SpectrogramResult& result, int firstColumn,
                                               int lastColumn)
{
    FormantPlotColumns plot;
    const int available =
        std::min(result.columns, static_cast<int>(std::min<std::size_t>(
                                     result.formants.size(), std::numeric_limits<int>::max())));
    const int first = std::clamp(firstColumn, 0, std::max(available, 0));
    const int last = std::clamp(lastColumn, first, std::max(available, 0));
    int count = 0;
    for (int c = first; c < last; ++c) {
        const FormantRecord& f = result.formants[static_cast<std::size_t>(c)];
        if (f[0] <= 0) {
            continue;
        }
        plot.row.push_back(formatInt(count++));
        plot.f1.push_back(formatInt(f[0]));
        plot.f2.push_back(formatInt(f[1]));
        plot.f3.push_back(formatInt(f[2]));
        plot.label.emplace_back();
    }
    return plot;
}

SpectrogramWorker::SpectrogramWorker(SpectrogramInput input, int threads,
                                     std::function<void()> done)
    : m_input(std::move(input)), m_done(std::move(done))
{
    const auto run = [this, threads]() noexcept {
        try {
            m_result = DoSpectrogram(m_input, &m_progress, threads, &m_soFar);
        } catch (...) {
            m_result = SpectrogramResult{};
        }
        m_bBusy = false;
        if (m_done) {
            try {
                m_done();
            } catch (...) {
                // Only a notice: the result is read by polling all the same.
            }
        }
    };
    try {
        m_thread = std::thread(run);
    } catch (const std::system_error&) {
        // No thread to be had: compute here rather than never.
        run();
    }
}

SpectrogramWorker::~SpectrogramWorker()
{
    cancel();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void SpectrogramWorker::cancel()
{
    m_progress.cancelled = true;
}

const SpectrogramResult& SpectrogramWorker::wait()
{
    if (m_thread.joinable()) {
        m_thread.join();
    }
    return m_result;
}

} // namespace phonaxis
