// The voice report's engine: cycles from the audio waveform (guided by the
// precise pitch track) or from the EGG analysis, and the perturbation,
// harmonicity and cepstral measures over them. The definitions are in the
// header.

#include "windows/VoiceReport.h"

#include "analysis/CMathFunc.h"
#include "model/Channels.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <functional>
#include <numbers>

namespace phonaxis {

namespace {

constexpr double kNaN = VoiceMeasures::kNaN;
constexpr double kPi = std::numbers::pi;
// A waveform match below this correlation ends a run of audio cycles.
constexpr double kMinimumMatch = 0.3;
// Audio cycles quieter than this fraction of the median cycle's peak (−26 dB)
// are not voice.
constexpr double kQuietCycle = 0.05;
// CPPS: frame, step, time smoothing and quefrency smoothing.
constexpr double kCepstrumFrameMs = 40.0;
constexpr double kCepstrumStepMs = 2.0;
constexpr int kCepstrumTimeFrames = 10;
constexpr double kCepstrumQuefrencyHalfMs = 0.25;
constexpr double kRegressionFromMs = 1.0;
// HNR: window length in periods of the frame's F0; sinc interpolation depth.
constexpr double kHnrWindowPeriods = 3.0;
constexpr int kSincDepth = 40;
// Audio cycles: pre-emphasis before the excitation's LPC; the half-width of
// the matched segments and of the amplitude fit, in periods; the sinc depth
// of values and lags between samples.
constexpr double kPreEmphasis = 0.97;
constexpr double kMatchHalfPeriods = 0.35;
constexpr double kAmplitudeBeforePeriods = 0.6;
constexpr double kAmplitudeAfterPeriods = 0.2;
constexpr int kShiftDepth = 8;
// A gap of unvoiced frames (or of a few frames on a wrong F0) up to this
// long inside a steady F0 does not end a voiced stretch.
constexpr double kBridgeMs = 50.0;

bool stopped(const std::atomic<bool>* cancel)
{
    return cancel != nullptr && cancel->load(std::memory_order_relaxed);
}

// The smallest power of two >= n and its order; false beyond the FFT's reach.
bool powerOfTwoAtLeast(std::int64_t n, int& length, int& order)
{
    length = 1;
    order = 0;
    while (length < n) {
        length *= 2;
        ++order;
        if (order > CMathFunc::kMaxFftOrder) {
            return false;
        }
    }
    return true;
}

// The vertex offset (−0.5..0.5) of the parabola through three values around
// a maximum at the middle one, and the value there.
double parabolicPeak(double left, double middle, double right, double& value)
{
    const double curvature = left - 2.0 * middle + right;
    if (!(curvature < 0.0)) {
        value = middle;
        return 0.0;
    }
    const double offset = std::clamp(0.5 * (left - right) / curvature, -0.5, 0.5);
    value = middle - 0.25 * (left - right) * offset;
    return offset;
}

// --- perturbation ---------------------------------------------------------------

// Mean over every position i of every run where the window [i − half, i +
// half] fits in the run of |value(i) − mean of the window|; NaN for none.
double perturbationQuotient(std::span<const double> values, std::span<const std::size_t> runStarts,
                            int half)
{
    double sum = 0.0;
    std::size_t count = 0;
    for (std::size_t r = 0; r < runStarts.size(); ++r) {
        const std::size_t begin = runStarts[r];
        const std::size_t end = r + 1 < runStarts.size() ? runStarts[r + 1] : values.size();
        const auto h = static_cast<std::size_t>(half);
        for (std::size_t i = begin + h; i + h < end; ++i) {
            double window = 0.0;
            for (std::size_t k = i - h; k <= i + h; ++k) {
                window += values[k];
            }
            window /= static_cast<double>(2 * h + 1);
            sum += std::fabs(values[i] - window);
            ++count;
        }
    }
    return count > 0 ? sum / static_cast<double>(count) : kNaN;
}

// Mean of f(values[i], values[i + 1]) over consecutive pairs inside runs.
double pairMean(std::span<const double> values, std::span<const std::size_t> runStarts,
                const std::function<double(double, double)>& f)
{
    double sum = 0.0;
    std::size_t count = 0;
    for (std::size_t r = 0; r < runStarts.size(); ++r) {
        const std::size_t end = r + 1 < runStarts.size() ? runStarts[r + 1] : values.size();
        for (std::size_t i = runStarts[r]; i + 1 < end; ++i) {
            sum += f(values[i], values[i + 1]);
            ++count;
        }
    }
    return count > 0 ? sum / static_cast<double>(count) : kNaN;
}

// Mean of |x[i−1] − 2x[i] + x[i+1]| inside runs.
double secondDifferenceMean(std::span<const double> values, std::span<const std::size_t> runStarts)
{
    double sum = 0.0;
    std::size_t count = 0;
    for (std::size_t r = 0; r < runStarts.size(); ++r) {
        const std::size_t end = r + 1 < runStarts.size() ? runStarts[r + 1] : values.size();
        for (std::size_t i = runStarts[r] + 1; i + 1 < end; ++i) {
            sum += std::fabs(values[i - 1] - 2.0 * values[i] + values[i + 1]);
            ++count;
        }
    }
    return count > 0 ? sum / static_cast<double>(count) : kNaN;
}

std::optional<QuotientStatistics> statistics(std::span<const double> values)
{
    if (values.empty()) {
        return std::nullopt;
    }
    QuotientStatistics s;
    s.cycles = static_cast<int>(values.size());
    double sum = 0.0;
    for (const double v : values) {
        sum += v;
    }
    s.mean = sum / static_cast<double>(values.size());
    if (values.size() > 1) {
        double squares = 0.0;
        for (const double v : values) {
            squares += (v - s.mean) * (v - s.mean);
        }
        s.sd = std::sqrt(squares / static_cast<double>(values.size() - 1));
    }
    return s;
}

// --- breaks and the finished report ---------------------------------------------

// Marks as run starts the cycles after a gap longer than the break gap or
// with a period out of range, and counts the gaps that are voice breaks.
int markRuns(std::vector<VoiceCycle>& cycles, const VoiceSettings& settings)
{
    // The marks are the cycles' starts and each run's last end; a voice
    // break is a distance between consecutive marks beyond the gap: a
    // cycle's own period, or the silence between two runs.
    const double gapMs = settings.breakGapMs();
    int breaks = 0;
    for (std::size_t i = 0; i < cycles.size(); ++i) {
        VoiceCycle& c = cycles[i];
        if (c.periodMs > gapMs) {
            ++breaks;
        }
        if (i == 0) {
            c.startsRun = true;
            continue;
        }
        // The previous cycle ends at the mark after it: a cycle that starts
        // there continues its run; a later one starts a new run.
        const VoiceCycle& p = cycles[i - 1];
        const double gap = c.startMs - (p.startMs + p.periodMs);
        c.startsRun = std::fabs(gap) > 0.25 * p.periodMs;
        if (gap > gapMs) {
            ++breaks;
        }
    }
    return breaks;
}

// Keeps only cycles whose periods lie in the pitch range; a dropped cycle
// makes the next one start a run.
std::vector<VoiceCycle> periodsInRange(const std::vector<VoiceCycle>& cycles,
                                       const VoiceSettings& settings)
{
    const double shortestMs = 1000.0 / settings.ceilingHz();
    const double longestMs = 1000.0 / settings.floorHz();
    std::vector<VoiceCycle> kept;
    bool dropped = false;
    for (const VoiceCycle& c : cycles) {
        if (c.periodMs < shortestMs || c.periodMs > longestMs || !(c.amplitude > 0.0)) {
            dropped = true;
            continue;
        }
        kept.push_back(c);
        if (dropped) {
            kept.back().startsRun = true;
            dropped = false;
        }
    }
    return kept;
}

VoiceReport finish(std::vector<VoiceCycle> cycles, const VoiceSettings& settings)
{
    VoiceReport report;
    const int breaks = markRuns(cycles, settings);
    const std::vector<VoiceCycle> used = periodsInRange(cycles, settings);
    report.cycles = std::move(cycles);
    if (static_cast<int>(used.size()) < kVoiceReportMinimumCycles) {
        report.message = "too few cycles: " + std::to_string(used.size()) + " found, at least " +
                         std::to_string(kVoiceReportMinimumCycles) + " needed";
        return report;
    }
    VoiceMeasures m = perturbationMeasures(used);
    m.voiceBreaks = breaks;
    report.measures = m;
    return report;
}

// --- interpolation -----------------------------------------------------------------

// value(t) at the fractional position t by a Hann-windowed sinc over the
// `depth` whole positions either side of it.
template <typename Value> double windowedSinc(const Value& value, double t, int depth)
{
    const auto left = static_cast<std::int64_t>(std::floor(t));
    if (t == static_cast<double>(left)) {
        return value(left);
    }
    double sum = 0.0;
    for (std::int64_t k = left - depth + 1; k <= left + depth; ++k) {
        const double d = t - static_cast<double>(k);
        const double window = 0.5 + 0.5 * std::cos(kPi * d / depth);
        sum += value(k) * std::sin(kPi * d) / (kPi * d) * window;
    }
    return sum;
}

// r at the fractional lag `lag` (0 beyond its ends) by a windowed sinc.
double sincInterpolate(std::span<const double> r, double lag, int depth = kSincDepth)
{
    return windowedSinc(
        [&](std::int64_t k) {
            return k >= 0 && k < static_cast<std::int64_t>(r.size())
                       ? r[static_cast<std::size_t>(k)]
                       : 0.0;
        },
        lag, depth);
}

// The maximum of f over [a, b] by golden-section search: where and its value.
std::pair<double, double> goldenMaximum(const std::function<double(double)>& f, double a, double b)
{
    const double g = (std::sqrt(5.0) - 1.0) / 2.0;
    double c = b - g * (b - a);
    double d = a + g * (b - a);
    double fc = f(c);
    double fd = f(d);
    for (int i = 0; i < 40; ++i) {
        if (fc > fd) {
            b = d;
            d = c;
            fd = fc;
            c = b - g * (b - a);
            fc = f(c);
        } else {
            a = c;
            c = d;
            fc = fd;
            d = a + g * (b - a);
            fd = f(d);
        }
    }
    return fc > fd ? std::pair{c, fc} : std::pair{d, fd};
}

// --- audio cycles ------------------------------------------------------------------

// The excitation of one voiced stretch: the samples inverse filtered by the
// stretch's own LPC filter, held from sample `first` on (zero outside).
struct Excitation {
    std::int64_t first = 0;
    std::vector<double> e;

    double at(std::int64_t i) const
    {
        const std::int64_t k = i - first;
        return k >= 0 && k < static_cast<std::int64_t>(e.size()) ? e[static_cast<std::size_t>(k)]
                                                                 : 0.0;
    }

    // The value at the fractional sample t by a windowed sinc.
    double between(double t) const
    {
        return windowedSinc([this](std::int64_t i) { return at(i); }, t, kShiftDepth);
    }
};

// The stretch's excitation: one LPC filter (autocorrelation method, order
// rate/1 kHz + 2) from the pre-emphasised, Hann-windowed samples of [begin,
// end), applied to the samples as they are over the stretch and a margin of
// `margin` samples either side. Empty when the stretch is too short or
// silent.
Excitation stretchExcitation(std::span<const float> x, double rateHz, std::int64_t begin,
                             std::int64_t end, std::int64_t margin)
{
    const int order =
        std::clamp(static_cast<int>(std::lround(rateHz / 1000.0)) + 2, 2, CMathFunc::kLpcMaxOrder);
    const std::int64_t n = end - begin;
    const auto size = static_cast<std::int64_t>(x.size());
    if (n < 4 * order || begin < 0 || end > size) {
        return {};
    }
    std::vector<double> w(static_cast<std::size_t>(n));
    for (std::int64_t i = 0; i < n; ++i) {
        const double previous = begin + i > 0 ? x[static_cast<std::size_t>(begin + i - 1)] : 0.0;
        const double hann = 0.5 - 0.5 * std::cos(2.0 * kPi * (static_cast<double>(i) + 0.5) /
                                                 static_cast<double>(n));
        w[static_cast<std::size_t>(i)] =
            (x[static_cast<std::size_t>(begin + i)] - kPreEmphasis * previous) * hann;
    }
    const CMathFunc::lpcout* lpc = CMathFunc::autolpc(w, static_cast<int>(n), order);
    if (lpc == nullptr || lpc->order < 1) {
        return {};
    }
    std::vector<double> a(lpc->a, lpc->a + lpc->order + 1);
    Excitation out;
    out.first = std::max<std::int64_t>(0, begin - margin);
    const std::int64_t last = std::min(size, end + margin);
    out.e.resize(static_cast<std::size_t>(last - out.first));
    for (std::int64_t i = out.first; i < last; ++i) {
        double sum = 0.0;
        for (std::size_t k = 0; k < a.size() && i - static_cast<std::int64_t>(k) >= 0; ++k) {
            sum += a[k] * x[static_cast<std::size_t>(i - static_cast<std::int64_t>(k))];
        }
        out.e[static_cast<std::size_t>(i - out.first)] = sum;
    }
    return out;
}

// The normalised cross-correlation of the excitation over [a − half, a +
// half] with that over [b − half, b + half], and their plain product sum.
double match(const Excitation& x, std::int64_t a, std::int64_t b, std::int64_t half,
             double* product = nullptr)
{
    double ab = 0.0;
    double aa = 0.0;
    double bb = 0.0;
    for (std::int64_t k = -half; k <= half; ++k) {
        const double u = x.at(a + k);
        const double v = x.at(b + k);
        ab += u * v;
        aa += u * u;
        bb += v * v;
    }
    if (product != nullptr) {
        *product = ab;
    }
    return aa > 0.0 && bb > 0.0 ? ab / std::sqrt(aa * bb) : 0.0;
}

// The peak of polarity·x within [from, to] refined by a parabola: its value
// (in stored units, polarity removed) and its position.
double peakAmplitude(std::span<const float> x, std::int64_t from, std::int64_t to, double polarity,
                     std::int64_t& where)
{
    const auto value = [&](std::int64_t i) {
        return i >= 0 && i < static_cast<std::int64_t>(x.size())
                   ? polarity * x[static_cast<std::size_t>(i)]
                   : 0.0;
    };
    where = from;
    double best = -1e300;
    for (std::int64_t i = from; i <= to; ++i) {
        if (value(i) > best) {
            best = value(i);
            where = i;
        }
    }
    double peak = best;
    parabolicPeak(value(where - 1), best, value(where + 1), peak);
    return peak;
}

// A cycle mark (fractional sample) and whether a waveform match ties it to
// the mark before it in time.
struct Mark {
    double at = 0.0;
    bool matchedToPrevious = false;
};

// The sign of the largest |value(i)| over [begin, end); 0 when all are 0.
double dominantPolarity(const std::function<double(std::int64_t)>& value, std::int64_t begin,
                        std::int64_t end)
{
    double largest = 0.0;
    double polarity = 0.0;
    for (std::int64_t i = begin; i < end; ++i) {
        const double v = value(i);
        if (std::fabs(v) > largest) {
            largest = std::fabs(v);
            polarity = v < 0.0 ? -1.0 : 1.0;
        }
    }
    return polarity;
}

// The excitation's largest peak of `polarity` within half a period of `at`.
std::int64_t excitationPeak(const Excitation& x, std::int64_t at, double period, double polarity,
                            std::int64_t begin, std::int64_t end)
{
    const auto half = static_cast<std::int64_t>(period / 2.0);
    std::int64_t where = at;
    double best = -1e300;
    for (std::int64_t i = std::max(begin, at - half); i <= std::min(end - 1, at + half); ++i) {
        if (polarity * x.at(i) > best) {
            best = polarity * x.at(i);
            where = i;
        }
    }
    return where;
}

// Follows cycle marks through the excitation from the mark `start` in
// direction `step` (+1, −1) while they stay in [begin, end), appending each
// new mark to `marks` (in the order found). Where no segment one period on
// matches, the run ends and a new one starts at the excitation's largest
// peak about one period on.
void followMarks(const Excitation& x, double start, int step, std::int64_t begin, std::int64_t end,
                 double polarity, const std::function<double(std::int64_t)>& periodAt,
                 std::vector<Mark>& marks, const std::atomic<bool>* cancel)
{
    double mark = start;
    while (!stopped(cancel)) {
        const auto at = static_cast<std::int64_t>(std::llround(mark));
        const double expected = periodAt(at);
        if (!(expected >= 2.0)) {
            return;
        }
        const auto half = static_cast<std::int64_t>(std::lround(kMatchHalfPeriods * expected));
        const auto shortest = static_cast<std::int64_t>(std::floor(0.8 * expected));
        const auto longest = static_cast<std::int64_t>(std::ceil(1.25 * expected));
        double best = -2.0;
        std::int64_t bestLag = 0;
        for (std::int64_t lag = shortest; lag <= longest; ++lag) {
            const double c = match(x, at, at + step * lag, half);
            if (c > best) {
                best = c;
                bestLag = lag;
            }
        }
        double next = 0.0;
        const bool matched = best >= kMinimumMatch;
        if (matched) {
            // The product sum of two band-limited segments is band-limited in
            // the lag: interpolated by a windowed sinc over the whole lags
            // around the best one, its maximum within a lag either side is
            // the period.
            constexpr int reach = 2 * kShiftDepth;
            std::vector<double> products(static_cast<std::size_t>(2 * reach + 1));
            for (int k = -reach; k <= reach; ++k) {
                match(x, at, at + step * (bestLag + k), half,
                      &products[static_cast<std::size_t>(k + reach)]);
            }
            const auto product = [&](double lag) {
                return sincInterpolate(products, lag - static_cast<double>(bestLag) + reach,
                                       kShiftDepth);
            };
            next = mark + step * goldenMaximum(product, static_cast<double>(bestLag) - 1.0,
                                               static_cast<double>(bestLag) + 1.0)
                                     .first;
        } else {
            const auto guess = static_cast<std::int64_t>(std::llround(mark + step * expected));
            next = static_cast<double>(excitationPeak(x, guess, expected, polarity, begin, end));
            if (step * (next - mark) < 0.5 * expected) {
                return;
            }
        }
        if (next < static_cast<double>(begin) || next >= static_cast<double>(end)) {
            return;
        }
        marks.push_back({next, matched});
        mark = next;
    }
}

// A voiced stretch of the pitch track: sample range and the expected period
// (samples) at each sample by linear interpolation between frames.
struct VoicedStretch {
    std::int64_t begin = 0;
    std::int64_t end = 0;
    std::vector<double> frameSample; // frame centres
    std::vector<double> periods;     // samples, per frame
};

double stretchPeriod(const VoicedStretch& s, std::int64_t at)
{
    const auto t = static_cast<double>(at);
    if (s.frameSample.size() == 1 || t <= s.frameSample.front()) {
        return s.periods.front();
    }
    if (t >= s.frameSample.back()) {
        return s.periods.back();
    }
    const auto it = std::upper_bound(s.frameSample.begin(), s.frameSample.end(), t);
    const auto k = static_cast<std::size_t>(it - s.frameSample.begin());
    const double u = (t - s.frameSample[k - 1]) / (s.frameSample[k] - s.frameSample[k - 1]);
    return s.periods[k - 1] + u * (s.periods[k] - s.periods[k - 1]);
}

bool periodsAgree(double a, double b)
{
    const double ratio = a / b;
    return ratio > 0.8 && ratio < 1.25;
}

// Joins two stretches whose F0 agrees across a stretch between them whose
// F0 does not (in a noisy voice the track can lock on a harmonic for a few
// frames) when the frames between the two span at most kBridgeMs: the
// cycles are followed across, and that stretch's frames are left out.
void joinOverWrongFrames(std::vector<VoicedStretch>& stretches, double stepMs, double rateHz)
{
    std::vector<VoicedStretch> joined;
    for (std::size_t i = 0; i < stretches.size(); ++i) {
        if (!joined.empty() && i + 1 < stretches.size()) {
            VoicedStretch& before = joined.back();
            const VoicedStretch& wrong = stretches[i];
            const VoicedStretch& after = stretches[i + 1];
            const double gapMs =
                (after.frameSample.front() - before.frameSample.back()) * 1000.0 / rateHz - stepMs;
            if (gapMs <= kBridgeMs && !periodsAgree(wrong.periods.front(), before.periods.back()) &&
                periodsAgree(after.periods.front(), before.periods.back())) {
                before.end = after.end;
                before.frameSample.insert(before.frameSample.end(), after.frameSample.begin(),
                                          after.frameSample.end());
                before.periods.insert(before.periods.end(), after.periods.begin(),
                                      after.periods.end());
                ++i;
                continue;
            }
        }
        joined.push_back(stretches[i]);
    }
    stretches = std::move(joined);
}

std::vector<VoiceCycle> stretchCycles(std::span<const float> samples, double rateHz,
                                      const VoicedStretch& s, const std::atomic<bool>* cancel)
{
    const double longest = *std::max_element(s.periods.begin(), s.periods.end());
    const auto margin = static_cast<std::int64_t>(std::ceil(2.0 * longest)) + kShiftDepth;
    const Excitation x = stretchExcitation(samples, rateHz, s.begin, s.end, margin);
    if (x.e.empty()) {
        return {};
    }
    const double polarity =
        dominantPolarity([&](std::int64_t i) { return x.at(i); }, s.begin, s.end);
    if (polarity == 0.0) {
        return {};
    }
    // The first mark: the excitation's largest peak within half a period of
    // the stretch's middle.
    const std::int64_t middle = (s.begin + s.end) / 2;
    const std::int64_t start =
        excitationPeak(x, middle, stretchPeriod(s, middle), polarity, s.begin, s.end);
    const auto periodAt = [&](std::int64_t at) { return stretchPeriod(s, at); };
    std::vector<Mark> backwards;
    followMarks(x, static_cast<double>(start), -1, s.begin, s.end, polarity, periodAt, backwards,
                cancel);
    // In time order a mark is tied to the one before it when the match
    // found going backwards tied that earlier one to it.
    std::vector<Mark> marks;
    for (std::size_t k = backwards.size(); k-- > 0;) {
        marks.push_back(
            {backwards[k].at, k + 1 < backwards.size() && backwards[k + 1].matchedToPrevious});
    }
    marks.push_back(
        {static_cast<double>(start), !backwards.empty() && backwards[0].matchedToPrevious});
    followMarks(x, static_cast<double>(start), +1, s.begin, s.end, polarity, periodAt, marks,
                cancel);
    if (marks.size() < 2 || stopped(cancel)) {
        return {};
    }

    // Amplitudes. Each mark's excitation from 0.6 period before it to 0.2
    // after (the pulse that closes at the mark, not the next one's opening),
    // taken between samples, is fitted by least squares to the stretch's
    // mean pulse; the gain scales the median of the cycles' waveform peaks
    // (each the largest sample of the waveform's dominant polarity within
    // half a period of the cycle's start mark).
    const double period = stretchPeriod(s, middle);
    const auto before = static_cast<std::int64_t>(std::lround(kAmplitudeBeforePeriods * period));
    const auto length =
        static_cast<std::size_t>(before + std::lround(kAmplitudeAfterPeriods * period) + 1);
    std::vector<std::vector<double>> pulses(marks.size(), std::vector<double>(length));
    std::vector<double> mean(length, 0.0);
    for (std::size_t k = 0; k < marks.size(); ++k) {
        for (std::size_t i = 0; i < length; ++i) {
            pulses[k][i] =
                x.between(marks[k].at + static_cast<double>(i) - static_cast<double>(before));
            mean[i] += pulses[k][i] / static_cast<double>(marks.size());
        }
    }
    double meanEnergy = 0.0;
    for (const double v : mean) {
        meanEnergy += v * v;
    }
    const double waveformPolarity = dominantPolarity(
        [&](std::int64_t i) { return double{samples[static_cast<std::size_t>(i)]}; }, s.begin,
        s.end);
    if (!(meanEnergy > 0.0) || waveformPolarity == 0.0) {
        return {};
    }
    const auto half = static_cast<std::int64_t>(period / 2.0);
    std::vector<double> peaks;
    for (std::size_t k = 0; k + 1 < marks.size(); ++k) {
        const auto at = static_cast<std::int64_t>(std::llround(marks[k].at));
        std::int64_t where = 0;
        peaks.push_back(peakAmplitude(samples, at - half, at + half, waveformPolarity, where));
    }
    std::nth_element(peaks.begin(), peaks.begin() + static_cast<std::ptrdiff_t>(peaks.size() / 2),
                     peaks.end());
    const double scale = peaks[peaks.size() / 2];

    const double msPerSample = 1000.0 / rateHz;
    std::vector<VoiceCycle> cycles;
    for (std::size_t k = 0; k + 1 < marks.size(); ++k) {
        double fit = 0.0;
        for (std::size_t i = 0; i < length; ++i) {
            fit += pulses[k][i] * mean[i];
        }
        if (marks[k + 1].matchedToPrevious) {
            cycles.push_back({marks[k].at * msPerSample,
                              (marks[k + 1].at - marks[k].at) * msPerSample,
                              scale * fit / meanEnergy, cycles.empty()});
        }
    }
    return cycles;
}

} // namespace

double frameHarmonicity(std::span<const float> samples, std::int64_t centre, int windowSamples,
                        double minimumLag, double maximumLag)
{
    const std::int64_t first = centre - windowSamples / 2;
    if (windowSamples < 4 || first < 0 ||
        first + windowSamples > static_cast<std::int64_t>(samples.size()) ||
        !(maximumLag < windowSamples / 2.0) || !(minimumLag >= 1.0)) {
        return kNaN;
    }
    int n = 0;
    int order = 0;
    if (!powerOfTwoAtLeast(2 * static_cast<std::int64_t>(windowSamples), n, order)) {
        return kNaN;
    }
    // The windowed frame's autocorrelation and the window's own, both by
    // FFT (the power spectrum is real and even: its forward transform is
    // the autocorrelation times n), both normalised by lag 0.
    const auto autocorrelation = [&](const std::function<double(int)>& value) {
        std::vector<double> re(static_cast<std::size_t>(n), 0.0);
        std::vector<double> im(static_cast<std::size_t>(n), 0.0);
        for (int k = 0; k < windowSamples; ++k) {
            re[static_cast<std::size_t>(k)] = value(k);
        }
        CMathFunc::FFT_CODE_REAL(re, im, order);
        for (std::size_t k = 0; k < re.size(); ++k) {
            re[k] = re[k] * re[k] + im[k] * im[k];
            im[k] = 0.0;
        }
        CMathFunc::FFT_CODE_REAL(re, im, order);
        std::vector<double> r(static_cast<std::size_t>(n / 2));
        for (std::size_t k = 0; k < r.size(); ++k) {
            r[k] = re[0] > 0.0 ? re[k] / re[0] : 0.0;
        }
        return r;
    };
    double mean = 0.0;
    for (int k = 0; k < windowSamples; ++k) {
        mean += samples[static_cast<std::size_t>(first + k)];
    }
    mean /= windowSamples;
    const auto hann = [&](int k) {
        return 0.5 - 0.5 * std::cos(2.0 * kPi * (k + 0.5) / windowSamples);
    };
    const std::vector<double> r = autocorrelation(
        [&](int k) { return (samples[static_cast<std::size_t>(first + k)] - mean) * hann(k); });
    if (!(r[0] > 0.0)) {
        return kNaN;
    }
    const std::vector<double> rw = autocorrelation(hann);
    const auto normalised = [&](double lag) {
        return sincInterpolate(r, lag) / sincInterpolate(rw, lag);
    };
    const auto low = static_cast<std::int64_t>(std::ceil(minimumLag));
    const auto high = static_cast<std::int64_t>(std::floor(maximumLag));
    if (high < low) {
        return kNaN;
    }
    double best = -2.0;
    std::int64_t at = low;
    for (std::int64_t lag = low; lag <= high; ++lag) {
        const double v = r[static_cast<std::size_t>(lag)] / rw[static_cast<std::size_t>(lag)];
        if (v > best) {
            best = v;
            at = lag;
        }
    }
    // The maximum within a sample either side of the best whole lag.
    const double refined =
        goldenMaximum(normalised, std::max(minimumLag, at - 1.0), std::min(maximumLag, at + 1.0))
            .second;
    return std::max(best, refined);
}

double cppsDb(std::span<const float> samples, double rateHz, std::int64_t fromSample,
              std::int64_t toSample, double floorHz, double ceilingHz)
{
    fromSample = std::max<std::int64_t>(fromSample, 0);
    toSample = std::min<std::int64_t>(toSample, static_cast<std::int64_t>(samples.size()));
    const auto frame = static_cast<std::int64_t>(std::lround(kCepstrumFrameMs * rateHz / 1000.0));
    const auto hop = std::max<std::int64_t>(1, std::lround(kCepstrumStepMs * rateHz / 1000.0));
    int n = 0;
    int order = 0;
    if (frame < 8 || !powerOfTwoAtLeast(frame, n, order) || !(floorHz > 0.0) ||
        !(ceilingHz > floorHz)) {
        return kNaN;
    }
    const std::int64_t frames =
        toSample - fromSample >= frame ? (toSample - fromSample - frame) / hop + 1 : 0;
    if (frames < kCepstrumTimeFrames) {
        return kNaN;
    }
    const std::size_t half = static_cast<std::size_t>(n / 2);
    std::vector<double> window(static_cast<std::size_t>(frame));
    for (std::int64_t k = 0; k < frame; ++k) {
        window[static_cast<std::size_t>(k)] =
            0.54 -
            0.46 * std::cos(2.0 * kPi * static_cast<double>(k) / static_cast<double>(frame - 1));
    }
    std::vector<std::vector<double>> cepstra;
    cepstra.reserve(static_cast<std::size_t>(frames));
    std::vector<double> re(static_cast<std::size_t>(n));
    std::vector<double> im(static_cast<std::size_t>(n));
    for (std::int64_t f = 0; f < frames; ++f) {
        std::fill(re.begin(), re.end(), 0.0);
        std::fill(im.begin(), im.end(), 0.0);
        const std::int64_t first = fromSample + f * hop;
        for (std::int64_t k = 0; k < frame; ++k) {
            re[static_cast<std::size_t>(k)] =
                samples[static_cast<std::size_t>(first + k)] * window[static_cast<std::size_t>(k)];
        }
        CMathFunc::FFT_CODE_REAL(re, im, order);
        for (std::size_t k = 0; k < re.size(); ++k) {
            re[k] = 10.0 * std::log10(re[k] * re[k] + im[k] * im[k] + 1e-30);
            im[k] = 0.0;
        }
        // The log spectrum is real and even: the forward transform over n is
        // its inverse transform.
        CMathFunc::FFT_CODE_REAL(re, im, order);
        std::vector<double> c(half + 1);
        for (std::size_t q = 0; q <= half; ++q) {
            const double v = re[q] / n;
            c[q] = 10.0 * std::log10(v * v + 1e-30);
        }
        cepstra.push_back(std::move(c));
    }

    const auto hBins =
        std::max<std::int64_t>(1, std::lround(kCepstrumQuefrencyHalfMs * rateHz / 1000.0));
    const auto peakLow = static_cast<std::int64_t>(std::ceil(rateHz / ceilingHz));
    const auto peakHigh = std::min<std::int64_t>(
        static_cast<std::int64_t>(std::floor(rateHz / floorHz)), static_cast<std::int64_t>(half));
    const auto lineLow =
        static_cast<std::int64_t>(std::lround(kRegressionFromMs * rateHz / 1000.0));
    const auto lineHigh = static_cast<std::int64_t>(half);
    if (peakHigh < peakLow || lineHigh <= lineLow) {
        return kNaN;
    }
    // The cepstrum is even in quefrency (c[n − q] = c[q]): a bin beyond
    // either end reflects.
    const auto bin = [&](const std::vector<double>& c, std::int64_t q) {
        q = std::abs(q);
        if (q > static_cast<std::int64_t>(half)) {
            q = n - q;
        }
        return c[static_cast<std::size_t>(q)];
    };
    double total = 0.0;
    const std::int64_t smoothed = frames - kCepstrumTimeFrames + 1;
    std::vector<double> timeMean(half + 1);
    std::vector<double> s(half + 1);
    for (std::int64_t j = 0; j < smoothed; ++j) {
        std::fill(timeMean.begin(), timeMean.end(), 0.0);
        for (int k = 0; k < kCepstrumTimeFrames; ++k) {
            const std::vector<double>& c = cepstra[static_cast<std::size_t>(j + k)];
            for (std::size_t q = 0; q <= half; ++q) {
                timeMean[q] += c[q];
            }
        }
        for (double& v : timeMean) {
            v /= kCepstrumTimeFrames;
        }
        for (std::int64_t q = 0; q <= static_cast<std::int64_t>(half); ++q) {
            double sum = 0.0;
            for (std::int64_t k = q - hBins; k <= q + hBins; ++k) {
                sum += bin(timeMean, k);
            }
            s[static_cast<std::size_t>(q)] = sum / static_cast<double>(2 * hBins + 1);
        }
        std::int64_t peakAt = peakLow;
        for (std::int64_t q = peakLow; q <= peakHigh; ++q) {
            if (s[static_cast<std::size_t>(q)] > s[static_cast<std::size_t>(peakAt)]) {
                peakAt = q;
            }
        }
        double sx = 0.0;
        double sy = 0.0;
        double sxx = 0.0;
        double sxy = 0.0;
        const auto count = static_cast<double>(lineHigh - lineLow + 1);
        for (std::int64_t q = lineLow; q <= lineHigh; ++q) {
            const auto x = static_cast<double>(q);
            const double y = s[static_cast<std::size_t>(q)];
            sx += x;
            sy += y;
            sxx += x * x;
            sxy += x * y;
        }
        const double slope = (count * sxy - sx * sy) / (count * sxx - sx * sx);
        const double intercept = (sy - slope * sx) / count;
        total +=
            s[static_cast<std::size_t>(peakAt)] - (intercept + slope * static_cast<double>(peakAt));
    }
    return total / static_cast<double>(smoothed);
}

VoiceMeasures perturbationMeasures(std::span<const VoiceCycle> cycles)
{
    VoiceMeasures m;
    m.cycles = static_cast<int>(cycles.size());
    if (cycles.empty()) {
        return m;
    }
    std::vector<double> periods;
    std::vector<double> amplitudes;
    std::vector<double> f0;
    std::vector<std::size_t> runStarts;
    for (std::size_t i = 0; i < cycles.size(); ++i) {
        if (i == 0 || cycles[i].startsRun) {
            runStarts.push_back(i);
        }
        periods.push_back(cycles[i].periodMs);
        amplitudes.push_back(cycles[i].amplitude);
        f0.push_back(1000.0 / cycles[i].periodMs);
    }
    const std::optional<QuotientStatistics> f0Statistics = statistics(f0);
    m.f0MeanHz = f0Statistics->mean;
    m.f0SdHz = cycles.size() > 1 ? f0Statistics->sd : kNaN;
    const double meanPeriod = statistics(periods)->mean;
    const double meanAmplitude = statistics(amplitudes)->mean;

    const auto absDifference = [](double a, double b) { return std::fabs(a - b); };
    const double periodDifference = pairMean(periods, runStarts, absDifference);
    m.jitterLocalPct = 100.0 * periodDifference / meanPeriod;
    m.jitterLocalAbsUs = 1000.0 * periodDifference;
    m.jitterRapPct = 100.0 * perturbationQuotient(periods, runStarts, 1) / meanPeriod;
    m.jitterPpq5Pct = 100.0 * perturbationQuotient(periods, runStarts, 2) / meanPeriod;
    m.jitterDdpPct = 100.0 * secondDifferenceMean(periods, runStarts) / meanPeriod;

    m.shimmerLocalPct = 100.0 * pairMean(amplitudes, runStarts, absDifference) / meanAmplitude;
    m.shimmerLocalDb = pairMean(amplitudes, runStarts, [](double a, double b) {
        return std::fabs(20.0 * std::log10(b / a));
    });
    m.shimmerApq3Pct = 100.0 * perturbationQuotient(amplitudes, runStarts, 1) / meanAmplitude;
    m.shimmerApq5Pct = 100.0 * perturbationQuotient(amplitudes, runStarts, 2) / meanAmplitude;
    m.shimmerApq11Pct = 100.0 * perturbationQuotient(amplitudes, runStarts, 5) / meanAmplitude;
    m.shimmerDdaPct = 100.0 * secondDifferenceMean(amplitudes, runStarts) / meanAmplitude;
    return m;
}

VoiceReport audioVoiceReport(const Channels& audio, double fromMs, double toMs,
                             const VoiceSettings& settings, const std::atomic<bool>* cancel)
{
    return audioVoiceReport(audio.samples(), audio.m_dSampleRate, fromMs, toMs, settings, cancel);
}

VoiceReport audioVoiceReport(std::span<const float> samples, double rateHz, double fromMs,
                             double toMs, const VoiceSettings& settings,
                             const std::atomic<bool>* cancel)
{
    VoiceReport report;
    if (!(rateHz > 0.0) || samples.empty()) {
        report.message = "the audio channel has no samples";
        return report;
    }
    if (!(settings.floorHz() > 0.0) || !(settings.ceilingHz() > settings.floorHz())) {
        report.message = "the pitch range must run from a positive floor up to a higher ceiling";
        return report;
    }
    const double lengthMs = static_cast<double>(samples.size()) * 1000.0 / rateHz;
    fromMs = std::clamp(fromMs, 0.0, lengthMs);
    toMs = std::clamp(toMs, fromMs, lengthMs);
    if (!(toMs > fromMs)) {
        report.message = "the selection is empty";
        return report;
    }

    // The precise pitch track of the selection's frames with their context.
    Channels shape;
    shape.m_dSampleRate = rateHz;
    shape.m_dwFileLength = static_cast<double>(samples.size());
    shape.m_dLengthMS = lengthMs;
    PitchParameters parameters = settings.pitch;
    parameters.m_bPreciseAnalysis = true;
    PitchAnalysis pitch;
    pitch.intilize(shape, 0, parameters);
    const double stepMs = parameters.m_dPitchStepSize;
    if (!(stepMs >= 1000.0 / rateHz)) {
        report.message = "the pitch step is shorter than one sample";
        return report;
    }
    const int whole = pitch.wholeFrameCount();
    const auto frameNear = [&](double timeMs) {
        return static_cast<int>(std::clamp(std::floor(timeMs / stepMs), -1.0e9, 1.0e9));
    };
    const int firstFrame =
        std::clamp(frameNear(fromMs) - 1 - PitchAnalysis::kStretchContextFrames, 0, whole);
    const int lastFrame =
        std::clamp(frameNear(toMs) + 2 + PitchAnalysis::kStretchContextFrames, firstFrame, whole);
    std::int64_t firstSample = 0;
    std::int64_t endSample = 0;
    bool tracked = false;
    if (lastFrame > firstFrame &&
        pitch.preciseStretchSamples(firstFrame, lastFrame - firstFrame, firstSample, endSample)) {
        endSample = std::min<std::int64_t>(endSample, static_cast<std::int64_t>(samples.size()));
        firstSample = std::clamp<std::int64_t>(firstSample, 0, endSample);
        tracked = pitch.DoPreciseStretch(
            samples.subspan(static_cast<std::size_t>(firstSample),
                            static_cast<std::size_t>(endSample - firstSample)),
            firstSample, firstFrame, lastFrame - firstFrame, 1);
    }
    if (!tracked) {
        report.message = "no pitch track could be computed over the selection";
        return report;
    }
    if (stopped(cancel)) {
        report.message = "stopped";
        return report;
    }

    // Voiced stretches of the frames in the selection, and the unvoiced fraction.
    const auto sampleAt = [&](double ms) {
        return static_cast<std::int64_t>(std::llround(ms * rateHz / 1000.0));
    };
    const std::int64_t selectionBegin = sampleAt(fromMs);
    const std::int64_t selectionEnd = sampleAt(toMs);
    std::vector<VoicedStretch> stretches;
    int framesInSelection = 0;
    int unvoiced = 0;
    for (int k = 0; k < pitch.m_nFrameCount; ++k) {
        const double t = pitch.frameTime(k);
        if (t < fromMs || t > toMs) {
            continue;
        }
        ++framesInSelection;
        const double f0 = pitch.m_hdPitchFile[static_cast<std::size_t>(k)];
        const bool voiced = f0 > 0.0;
        if (!voiced) {
            ++unvoiced;
            continue;
        }
        // A stretch continues over a short gap of unvoiced frames (the
        // track's voicing can fail for a frame or two in a noisy voice) when
        // the F0 on both sides agrees: the cycles are followed across it
        // and only where the waveform matches.
        bool continues = false;
        if (!stretches.empty()) {
            const VoicedStretch& last = stretches.back();
            const double gapMs = t - last.frameSample.back() * 1000.0 / rateHz - stepMs;
            continues = gapMs <= kBridgeMs && periodsAgree(rateHz / f0, last.periods.back());
        }
        if (!continues) {
            stretches.push_back({});
            stretches.back().begin = std::max(selectionBegin, sampleAt(t - stepMs / 2.0));
        }
        VoicedStretch& s = stretches.back();
        s.end = std::min(selectionEnd, sampleAt(t + stepMs / 2.0));
        s.frameSample.push_back(t * rateHz / 1000.0);
        s.periods.push_back(rateHz / f0);
    }
    joinOverWrongFrames(stretches, stepMs, rateHz);
    // The HNR's frames: those of the stretches.
    std::vector<std::pair<std::int64_t, double>> voicedFrames; // centre, period (samples)
    for (const VoicedStretch& s : stretches) {
        for (std::size_t k = 0; k < s.frameSample.size(); ++k) {
            voicedFrames.emplace_back(std::llround(s.frameSample[k]), s.periods[k]);
        }
    }

    std::vector<VoiceCycle> cycles;
    for (const VoicedStretch& s : stretches) {
        if (s.end - s.begin < 2) {
            continue;
        }
        std::vector<VoiceCycle> found = stretchCycles(samples, rateHz, s, cancel);
        if (!found.empty()) {
            found.front().startsRun = true;
        }
        cycles.insert(cycles.end(), found.begin(), found.end());
    }
    if (stopped(cancel)) {
        report.message = "stopped";
        return report;
    }
    // Cycles far quieter than the selection's voice are the tract's ringing
    // or the room's noise in a pause, not voice: they are dropped, so a
    // pause reads as a break.
    if (!cycles.empty()) {
        std::vector<double> amplitudes;
        for (const VoiceCycle& c : cycles) {
            amplitudes.push_back(c.amplitude);
        }
        std::nth_element(amplitudes.begin(), amplitudes.begin() + amplitudes.size() / 2,
                         amplitudes.end());
        const double quietest = kQuietCycle * amplitudes[amplitudes.size() / 2];
        std::erase_if(cycles, [&](const VoiceCycle& c) { return c.amplitude < quietest; });
    }
    if (cycles.empty()) {
        report.message = "no voiced stretch in the selection";
        return report;
    }

    report = finish(std::move(cycles), settings);
    if (!report.measures) {
        return report;
    }
    VoiceMeasures& m = *report.measures;
    m.unvoicedFraction =
        framesInSelection > 0 ? static_cast<double>(unvoiced) / framesInSelection : kNaN;

    double harmonicitySum = 0.0;
    int harmonicityFrames = 0;
    const double shortestLag = rateHz / settings.ceilingHz();
    const double longestLag = rateHz / settings.floorHz();
    for (const auto& [centre, period] : voicedFrames) {
        if (stopped(cancel)) {
            report.measures.reset();
            report.message = "stopped";
            return report;
        }
        const auto window = static_cast<int>(std::lround(kHnrWindowPeriods * period));
        const double r =
            frameHarmonicity(samples, centre, window, std::max(shortestLag, 0.8 * period),
                             std::min(longestLag, 1.25 * period));
        if (std::isfinite(r)) {
            harmonicitySum += r;
            ++harmonicityFrames;
        }
    }
    if (harmonicityFrames > 0) {
        // A frame's r scatters around the true value, beyond 1 at times
        // when the noise is weak: the mean of r, not of the frames' dB,
        // keeps that scatter from biasing the ratio.
        const double r = std::clamp(harmonicitySum / harmonicityFrames, 1e-6, 1.0 - 1e-9);
        m.hnrDb = 10.0 * std::log10(r / (1.0 - r));
    }
    m.cppsDb = cppsDb(samples, rateHz, selectionBegin, selectionEnd, settings.floorHz(),
                      settings.ceilingHz());
    return report;
}

VoiceReport eggVoiceReport(const Channels& egg, double fromMs, double toMs,
                           const VoiceSettings& settings)
{
    VoiceReport report;
    const std::span<const float> x = egg.samples();
    if (!egg.m_bHaveCycle || x.empty() || !(egg.m_dSampleRate > 0.0)) {
        report.message = "the EGG channel has no cycles: run the EGG analysis first";
        return report;
    }
    if (!(settings.floorHz() > 0.0) || !(settings.ceilingHz() > settings.floorHz())) {
        report.message = "the pitch range must run from a positive floor up to a higher ceiling";
        return report;
    }
    const auto sample = [&](std::int64_t i) {
        return i >= 0 && i < static_cast<std::int64_t>(x.size())
                   ? double{x[static_cast<std::size_t>(i)]}
                   : 0.0;
    };
    const double msPerSample = 1000.0 / egg.m_dSampleRate;
    const double thresholdFraction = egg.m_dCycleThresholdPerCent / 100.0;

    // The contact instant of each cycle below a sample (samples), or none
    // when the analysis found no contact in it.
    const auto contactOf = [&](const ArrayCycle& c) -> std::optional<double> {
        if (!(c.dFilePointP1 > c.dFilePointBegin)) {
            return std::nullopt;
        }
        const double level = c.dValueBegin + (c.dValueMax - c.dValueBegin) * thresholdFraction;
        const auto k = static_cast<std::int64_t>(c.dFilePointP1);
        const double before = sample(k - 1);
        const double after = sample(k);
        if (before < level && after > before) {
            return static_cast<double>(k - 1) + (level - before) / (after - before);
        }
        return static_cast<double>(k);
    };

    const std::vector<ArrayCycle>& all = egg.m_pArrayCycle;
    std::vector<VoiceCycle> cycles;
    std::vector<double> cq, cqHB, cqPM, cqHT;
    for (std::size_t i = 0; i + 1 < all.size(); ++i) {
        const ArrayCycle& c = all[i];
        const ArrayCycle& next = all[i + 1];
        const std::optional<double> contact = contactOf(c);
        const std::optional<double> nextContact = contactOf(next);
        if (!contact || !nextContact || *contact * msPerSample < fromMs ||
            *nextContact * msPerSample > toMs) {
            continue;
        }
        const bool chained = next.dFilePointBegin == c.dFilePointEnd;
        const auto top = static_cast<std::int64_t>(c.dFilePointMax);
        double peak = sample(top);
        parabolicPeak(sample(top - 1), sample(top), sample(top + 1), peak);
        VoiceCycle cycle;
        cycle.startMs = *contact * msPerSample;
        cycle.periodMs = (*nextContact - *contact) * msPerSample;
        cycle.amplitude = peak - c.dValueBegin;
        cycle.startsRun = cycles.empty() || !chained;
        if (!chained) {
            // The next cycle does not follow on: this one has no period.
            continue;
        }
        cycles.push_back(cycle);
        for (auto [value, list] :
             {std::pair{c.dClosedQuotient, &cq}, std::pair{c.dClosedQuotientHB, &cqHB},
              std::pair{c.dClosedQuotientPM, &cqPM}, std::pair{c.dClosedQuotientHT, &cqHT}}) {
            if (value > 0.0) {
                list->push_back(value);
            }
        }
    }
    if (cycles.empty()) {
        report.message = "no EGG cycle in the selection";
        return report;
    }
    report = finish(std::move(cycles), settings);
    if (report.measures) {
        report.measures->closedQuotient = statistics(cq);
        report.measures->closedQuotientHB = statistics(cqHB);
        report.measures->closedQuotientPM = statistics(cqPM);
        report.measures->closedQuotientHT = statistics(cqHT);
    }
    return report;
}

} // namespace phonaxis
