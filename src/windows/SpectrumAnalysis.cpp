#include "windows/SpectrumAnalysis.h"

#include "analysis/CMathFunc.h"
#include "analysis/PreciseFormants.h"
#include "document/MyDocument.h"
#include "document/NumberText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <new>
#include <utility>

namespace phonaxis {

namespace {

constexpr int kMinFftLength = 32;
constexpr int kMaxFftLength = 8192;
constexpr int kHammingWindow = 1;
// Slack after each buffer: 100 bytes' worth of doubles, as the frame,
// spectrum and envelope buffers have always carried.
constexpr std::size_t kBufferSlack = 13;
// Starting values of the min/max searches over a spectrum and an envelope.
constexpr double kSpectrumSearchStart = 1e8;
constexpr double kEnvelopeSearchStart = 1e13;
// Channel lengths a start accepts: frame positions stay far inside int.
constexpr double kMaxChannelLength = std::numeric_limits<int>::max() / 2;

std::string formatted(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string formattedInt(int value)
{
    char text[24];
    std::snprintf(text, sizeof text, "%d", value);
    return text;
}

bool isFftLength(int n)
{
    return n >= kMinFftLength && n <= kMaxFftLength && (n & (n - 1)) == 0;
}

// Highest frequency range the window shows for a rate: half the rate,
// rounded down to whole kHz.
std::int64_t allowedRangeHz(double sampleRate)
{
    return std::int64_t{static_cast<int>(sampleRate) / 2000} * 1000;
}

// LPC window of an order: as many milliseconds as the order, in samples.
std::int64_t lpcWindowFor(int order, double sampleRate)
{
    return static_cast<std::int64_t>(order * sampleRate / 1000.0);
}

// The window's info fields for a start with `p` at `sampleRate` (a rate
// the start has accepted).
std::vector<SpectrumAnalysis::InfoField> infoFieldsFor(const SpectrumParameters& p,
                                                       double sampleRate)
{
    const int rate = static_cast<int>(sampleRate);
    std::vector<SpectrumAnalysis::InfoField> fields = {
        {"Analysis", "analysis", p.m_bPreciseAnalysis ? "Precise" : "Classic"},
        {"Sample rate (Hz)", "sampleRate", formattedInt(rate)},
        {"Bandwidth (Hz)", "bandwidth", formattedInt(rate / p.m_nFFTWindLength)},
        {"FFT points", "fftPoints", formattedInt(p.m_nFFTWindLength)}};
    if (!p.m_bPreciseAnalysis) {
        fields.push_back({"LPC order", "lpcOrder", formattedInt(p.m_nLPCNumCoeff)});
    }
    fields.push_back({"Window (ms)", "windowMs", formattedInt(p.m_nFFTWindowLengthMS)});
    fields.push_back({"Step (ms)", "stepMs", formattedInt(p.m_nAverageStepSize)});
    if (p.m_bPreciseAnalysis) {
        const PreciseFormants model(sampleRate, p.m_dFormantCeiling);
        fields.push_back({"Formant ceiling (Hz)", "formantCeiling",
                          formattedInt(static_cast<int>(std::lround(model.ceilingHz())))});
        fields.push_back({"Formant order", "formantOrder", formattedInt(model.order())});
        fields.push_back({"Formant window (ms)", "formantWindowMs",
                          formattedInt(static_cast<int>(PreciseFormants::kEffectiveWindowMs))});
    }
    return fields;
}

} // namespace

SpectrumParameters SpectrumParameters::fromDocument(const DocumentFields& document)
{
    SpectrumParameters p;
    p.m_nFFTWindLength = document.m_nFFTWindowLength;
    p.m_nFFTWindowLengthMS = document.m_nFFTAppliedWindowLength;
    p.m_nLPCNumCoeff = document.m_nLPCNumberofCoefficients;
    p.m_nAverageStepSize = document.m_nFFTAverageStepSize;
    p.m_nFFTfreqRange = document.m_nFFTfrequencyRange;
    p.m_bFFTAbsolute = document.m_bFFTAbsolute;
    p.m_bFFTDrawLPC = document.m_bFFTDrawLPC;
    p.m_nFFTFrameInterval = document.m_nFFTFrameInterval;
    p.m_bPreciseAnalysis = document.m_bPreciseAnalysis;
    p.m_dFormantCeiling = document.m_dFormantCeiling;
    return p;
}

// --- start ------------------------------------------------------------------------

SpectrumStart SpectrumAnalysis::doPerformFFTLPC(const MyDocument& document, double startPoint,
                                                double stopPoint, const WorkProgress& progress,
                                                int channelIndex)
{
    if (!document.m_bHaveData) {
        return SpectrumStart::NoData;
    }
    const int index = channelIndex >= 0 && channelIndex < document.channelsInUse()
                          ? channelIndex
                          : document.audioChannelIndex();
    if (index < 0) {
        return SpectrumStart::NoData;
    }
    const Channels& channel = document.getChannel(index);
    return PerformFFTLPC(channel.samples(), startPoint, stopPoint, channel.m_dwFileLength,
                         channel.m_dSampleRate, SpectrumParameters::fromDocument(document),
                         progress);
}

bool SpectrumAnalysis::acceptsInputs(std::span<const float> samples, double startPoint,
                                     double stopPoint, double fileLength, double sampleRate,
                                     const SpectrumParameters& parameters)
{
    const SpectrumParameters& p = parameters;
    // Rates beyond int keep every (int)rate of the info fields and the range
    // rule defined.
    if (!(sampleRate > 0.0) || !(sampleRate <= std::numeric_limits<int>::max())) {
        return false;
    }
    // Settings a damaged configuration may carry: the transform needs a power
    // of two, the predictor an order the library holds, and a negative window
    // or step would read before the frame or walk backwards for ever.
    if (!isFftLength(p.m_nFFTWindLength) || p.m_nLPCNumCoeff < 1 ||
        p.m_nLPCNumCoeff > CMathFunc::kLpcMaxOrder || p.m_nFFTWindowLengthMS < 0 ||
        p.m_nAverageStepSize < 0 || p.m_nFFTfreqRange < 1) {
        return false;
    }
    // A range the window would refuse anyway goes to the alert; one it
    // accepts must fit the buffers, as must the LPC window.
    if (p.m_nFFTfreqRange <= allowedRangeHz(sampleRate) && p.m_nFFTfreqRange > kMaxDisplayPoints) {
        return false;
    }
    if (lpcWindowFor(p.m_nLPCNumCoeff, sampleRate) + 10 > kMaxStorageLength) {
        return false;
    }
    // The precise formants need a ceiling and a rate they can work with.
    if (p.m_bPreciseAnalysis && !PreciseFormants::accepts(sampleRate, p.m_dFormantCeiling)) {
        return false;
    }
    // Frames start inside the channel; the stop only has to be a number (it
    // is limited to the channel end).
    const double length = std::min(fileLength, static_cast<double>(samples.size()));
    return length <= kMaxChannelLength && std::isfinite(startPoint) && std::isfinite(stopPoint) &&
           startPoint >= 0.0 && startPoint < length;
}

SpectrumStart SpectrumAnalysis::PerformFFTLPC(std::span<const float> samples, double startPoint,
                                              double stopPoint, double fileLength,
                                              double sampleRate,
                                              const SpectrumParameters& parameters,
                                              const WorkProgress& progress)
{
    if (samples.empty() || !(fileLength >= 1.0)) {
        return SpectrumStart::NoData;
    }
    if (!acceptsInputs(samples, startPoint, stopPoint, fileLength, sampleRate, parameters)) {
        return SpectrumStart::Declined;
    }
    const SpectrumParameters& p = parameters;
    m_infoFields = infoFieldsFor(p, sampleRate);
    if (p.m_nFFTfreqRange > allowedRangeHz(sampleRate)) {
        // The previous result stays as it was, so its readouts and log
        // entries keep matching the spectrum they were computed from.
        return SpectrumStart::RangeBeyondAllowed;
    }

    // Everything is built in a new object and taken over only when the whole
    // analysis succeeded.
    const auto length = static_cast<std::size_t>(std::min(fileLength, double(samples.size())));
    SpectrumAnalysis next;
    next.m_parameters = p;
    next.m_dSampleRate = sampleRate;
    next.m_dFileLength = static_cast<double>(length);
    next.m_dStartPoint = startPoint;
    // Frames past the channel end would analyse nothing but zeros.
    next.m_dStopPoint = std::clamp(stopPoint, 0.0, next.m_dFileLength);
    next.m_bRecalculate = true;
    next.m_nDisplayRange = p.m_nFFTfreqRange;
    next.m_dFreqfactor = static_cast<double>(p.m_nFFTfreqRange) / next.m_nDisplayRange;
    next.m_nDataStorageLength =
        std::max({next.m_nDisplayRange, p.m_nFFTWindLength, next.lpcWindowLength()}) + 10;
    const std::size_t storage = static_cast<std::size_t>(next.m_nDataStorageLength) + kBufferSlack;
    try {
        next.m_hdInputfile.assign(storage, 0.0);
        next.m_hdFFTfile.assign(storage, 0.0);
        next.m_hdFFTfileSmoothed.assign(storage, 0.0);
        // The envelope transform writes its 128 levels before resampling.
        next.m_hdLPCfileSmoothed.assign(
            std::max(storage, static_cast<std::size_t>(CMathFunc::kEnvelopeBins)), 0.0);
    } catch (const std::bad_alloc&) {
        return SpectrumStart::Declined;
    }
    next.m_samples = samples.first(length);
    next.DoFFTLPC(progress);
    next.m_samples = {};
    if (progress.stopped()) {
        return SpectrumStart::Cancelled;
    }
    if (!next.m_bHaveFFT || next.m_bRecalculate) {
        return SpectrumStart::Declined;
    }
    next.m_infoFields = m_infoFields;
    *this = std::move(next);
    return SpectrumStart::Computed;
}

// --- frame loop -----------------------------------------------------------------

int SpectrumAnalysis::lpcWindowLength() const
{
    return static_cast<int>(lpcWindowFor(m_parameters.m_nLPCNumCoeff, m_dSampleRate));
}

int SpectrumAnalysis::frameCopyLength() const
{
    const int n = m_parameters.m_nFFTWindLength;
    const int byOrder = static_cast<int>(m_dSampleRate) / 1000 * m_parameters.m_nLPCNumCoeff + 10;
    // The LPC window reads W + 4 frame samples; at rates that are not whole
    // kHz W can pass ((int)rate div 1000)·order + 10, and the frame must
    // still hold real samples there rather than zeros.
    return std::max({n + 10, byOrder, lpcWindowLength() + 4});
}

double SpectrumAnalysis::frameStepSamples() const
{
    return m_dSampleRate * m_parameters.m_nAverageStepSize / 1000.0 + 0.5;
}

void SpectrumAnalysis::DoFFTLPC(const WorkProgress& progress)
{
    m_nFramesAnalysed = 0;
    const auto copyLength = static_cast<std::size_t>(frameCopyLength());
    const std::size_t total = m_samples.size();
    const auto points = static_cast<std::size_t>(std::max(m_nDisplayRange, 0));
    if (total == 0 || m_hdInputfile.size() < copyLength || m_hdFFTfile.size() < points ||
        m_hdFFTfileSmoothed.size() < points || !(m_dStartPoint >= 0.0) ||
        !(m_dStartPoint < static_cast<double>(total))) {
        return;
    }
    const int n = m_parameters.m_nFFTWindLength;
    const double step = frameStepSamples();
    const auto base = static_cast<double>(static_cast<int>(m_dStartPoint));
    const int stop = static_cast<int>(std::min(m_dStopPoint, static_cast<double>(total)));
    // The frames' way from the start to the last frame's start, in samples.
    const auto first0 = static_cast<std::size_t>(base);
    const std::size_t way =
        stop - n > static_cast<int>(first0) ? static_cast<std::size_t>(stop - n) - first0 : 0;
    ProgressPacer pacer(progress, way);

    for (int k = 0;; ++k) {
        const double position = base + k * step;
        const auto first = static_cast<std::size_t>(position);
        if (!pacer.at(first - first0)) {
            return; // m_bRecalculate stays set: no result
        }
        // Past the channel end the frame holds zeros.
        const std::size_t count = std::min(copyLength, total - first);
        std::copy_n(m_samples.begin() + static_cast<std::ptrdiff_t>(first), count,
                    m_hdInputfile.begin());
        std::fill(m_hdInputfile.begin() + static_cast<std::ptrdiff_t>(count),
                  m_hdInputfile.begin() + static_cast<std::ptrdiff_t>(copyLength), 0.0);

        PerformFFT();
        if (!m_bHaveFFT) {
            return;
        }
        // The newest frame weighs one half, the one before a quarter, ...
        for (std::size_t i = 0; i < points; ++i) {
            m_hdFFTfileSmoothed[i] =
                k == 0 ? m_hdFFTfile[i] : (m_hdFFTfile[i] + m_hdFFTfileSmoothed[i]) * 0.5;
        }

        // The formants shown are the mean of the first and the last frame's
        // and the envelope is the last frame's: the frames between are not
        // analysed by LPC at all, which at a high order over a long stretch
        // was nearly all of the work and changed nothing that is shown.
        if (k == 0 && !m_parameters.m_bPreciseAnalysis) {
            PerformLPC();
            m_dFirstFormat = m_dFormat;
            m_dFirstBandWidth = m_dBandWidth;
        }
        ++m_nFramesAnalysed;

        if (!(static_cast<int>(first) + n < stop)) {
            break;
        }
        // A frame starting at or past the channel end would hold only zeros;
        // the step is at least half a sample, so the loop always ends here.
        if (base + (k + 1) * step >= static_cast<double>(total)) {
            break;
        }
    }
    if (m_nFramesAnalysed > 1 && !m_parameters.m_bPreciseAnalysis) {
        // The frame buffer and the spectrum's peak are still the last frame's.
        PerformLPC();
        // A slot without a formant holds -1.0 and is averaged as it is.
        for (int i = 0; i < kFormantsShown; ++i) {
            m_dFormat[i] = (m_dFirstFormat[i] + m_dFormat[i]) * 0.5;
            m_dBandWidth[i] = (m_dFirstBandWidth[i] + m_dBandWidth[i]) * 0.5;
        }
    }
    if (m_parameters.m_bPreciseAnalysis) {
        takePreciseFormants();
    }
    m_bRecalculate = false;
}

void SpectrumAnalysis::PerformFFT()
{
    m_bHaveFFT = false;
    const int n = m_parameters.m_nFFTWindLength;
    const auto points = static_cast<std::size_t>(std::max(m_nDisplayRange, 0));
    const auto padded = static_cast<std::size_t>(n) + 10;
    if (!isFftLength(n) || m_hdFFTfile.size() < std::max(padded, points)) {
        return;
    }
    const double applied = m_parameters.m_nFFTWindowLengthMS * m_dSampleRate / 1000.0 + 0.5;
    const auto count = static_cast<std::size_t>(std::clamp(applied, 0.0, static_cast<double>(n)));
    if (m_hdInputfile.size() < count) {
        return;
    }
    std::copy_n(m_hdInputfile.begin(), count, m_hdFFTfile.begin());
    std::fill(m_hdFFTfile.begin() + static_cast<std::ptrdiff_t>(count),
              m_hdFFTfile.begin() + static_cast<std::ptrdiff_t>(padded), 0.0);
    if (CMathFunc::DoFFT_Real(m_hdFFTfile, n, 0.0, kHammingWindow, 1, m_nDisplayRange,
                              m_parameters.m_nFFTfreqRange,
                              m_dSampleRate) != CMathFunc::kSpectrumDone) {
        return;
    }
    double low = kSpectrumSearchStart;
    double high = -kSpectrumSearchStart;
    for (std::size_t i = 0; i < points; ++i) {
        low = std::min(low, m_hdFFTfile[i]);
        high = std::max(high, m_hdFFTfile[i]);
    }
    for (std::size_t i = 0; i < points; ++i) {
        m_hdFFTfile[i] = std::max(m_hdFFTfile[i] - low, 0.0);
    }
    m_dFFTMAX = high - low;
    m_dFFTMIN = 0.0;
    m_bHaveFFT = true;
}

void SpectrumAnalysis::PerformLPC()
{
    m_bHaveLPC = false;
    m_bHaveFormants = false;
    const int window = lpcWindowLength();
    const auto points = static_cast<std::size_t>(std::max(m_nDisplayRange, 0));
    const auto copied = static_cast<std::size_t>(window) + 4;
    if (window < 0 || m_hdInputfile.size() < copied || m_hdLPCfileSmoothed.size() < copied ||
        m_hdLPCfileSmoothed.size() < points) {
        return;
    }
    std::copy_n(m_hdInputfile.begin(), copied, m_hdLPCfileSmoothed.begin());
    const bool envelope = CMathFunc::DoLPC(m_hdLPCfileSmoothed, m_parameters.m_nLPCNumCoeff, window,
                                           0.0, kHammingWindow, 1, m_nDisplayRange,
                                           m_parameters.m_nFFTfreqRange, m_dSampleRate, 1, 0);

    // Roots whose frequency is below twice their bandwidth are too broad to
    // be formants; the accepted ones fill the slots in ascending frequency.
    std::fill_n(m_dFormat.begin(), kFormantsShown, -1.0);
    std::fill_n(m_dBandWidth.begin(), kFormantsShown, -1.0);
    if (const CMathFunc::ro* roots = CMathFunc::lp_Roots) {
        const int listed = std::clamp(roots->formantCount, 0, kFormantsShown);
        int slot = 0;
        for (int i = 0; i < listed; ++i) {
            const double frequency = roots->frequencyHz[i] + 0.5;
            const double bandwidth = roots->bandwidthHz[i] + 0.5;
            if (frequency >= CMathFunc::gRatioFormantBanswodth * bandwidth) {
                m_dFormat[slot] = frequency;
                m_dBandWidth[slot] = bandwidth;
                ++slot;
            }
        }
    }
    m_bHaveFormants = true;
    if (!envelope) {
        return;
    }

    // DoLPC gives the level of the inverse filter; turning it over gives the
    // envelope, which is then lifted so that its peak meets the spectrum's.
    double low = kEnvelopeSearchStart;
    double high = -kEnvelopeSearchStart;
    for (std::size_t i = 0; i < points; ++i) {
        low = std::min(low, m_hdLPCfileSmoothed[i]);
        high = std::max(high, m_hdLPCfileSmoothed[i]);
    }
    m_dLPCMAX = high - low;
    m_dLPCMIN = 0.0;
    const double lift = m_dFFTMAX - m_dLPCMAX;
    for (std::size_t i = 0; i < points; ++i) {
        m_hdLPCfileSmoothed[i] = high - m_hdLPCfileSmoothed[i] + lift;
    }
    m_dLPCMAX = m_dFFTMAX;
    m_nEnvelopePoints = m_nDisplayRange;
    m_bHaveLPC = true;
}

void SpectrumAnalysis::takePreciseFormants()
{
    // A stretch's formants are those of its middle: one analysis centred
    // there describes the stretch better than a mean of frames whose
    // formants may differ, and a single instant (start = stop) is analysed
    // where it is.
    const double centre = (m_dStartPoint + std::max(m_dStopPoint, m_dStartPoint)) / 2.0;
    PreciseFormants analysis(m_dSampleRate, m_parameters.m_dFormantCeiling);
    const PreciseFormantSet found = analysis.analyse(m_samples, 0, centre);
    std::fill_n(m_dFormat.begin(), kFormantsShown, -1.0);
    std::fill_n(m_dBandWidth.begin(), kFormantsShown, -1.0);
    for (int i = 0; i < std::min(found.count, kFormantsShown); ++i) {
        m_dFormat[static_cast<std::size_t>(i)] = found.frequencyHz[static_cast<std::size_t>(i)];
        m_dBandWidth[static_cast<std::size_t>(i)] = found.bandwidthHz[static_cast<std::size_t>(i)];
    }
    m_bHaveFormants = true;

    // The model's envelope over the display points it describes (up to its
    // ceiling), lifted so that its peak meets the spectrum's as the LPC
    // envelope's does. Silence leaves no model and no envelope.
    m_bHaveLPC = false;
    m_nEnvelopePoints = 0;
    const int points = std::min(
        m_nDisplayRange, static_cast<int>(std::floor(analysis.ceilingHz() / m_dFreqfactor)) + 1);
    if (points <= 0 || m_hdLPCfileSmoothed.size() < static_cast<std::size_t>(points)) {
        return;
    }
    double high = -kEnvelopeSearchStart;
    for (int j = 0; j < points; ++j) {
        const double level = analysis.envelopeDb(j * m_dFreqfactor);
        if (!std::isfinite(level)) {
            return;
        }
        m_hdLPCfileSmoothed[static_cast<std::size_t>(j)] = level;
        high = std::max(high, level);
    }
    const double lift = m_dFFTMAX - high;
    for (int j = 0; j < points; ++j) {
        m_hdLPCfileSmoothed[static_cast<std::size_t>(j)] += lift;
    }
    m_dLPCMIN = 0.0;
    m_dLPCMAX = m_dFFTMAX;
    m_nEnvelopePoints = points;
    m_bHaveLPC = true;
}

// --- results ----------------------------------------------------------------------

std::span<const double> SpectrumAnalysis::spectrum() const
{
    if (!m_bHaveFFT || m_bRecalculate) {
        return {};
    }
    return std::span<const double>(m_hdFFTfileSmoothed)
        .first(static_cast<std::size_t>(m_nDisplayRange));
}

std::span<const double> SpectrumAnalysis::envelope() const
{
    if (!m_bHaveLPC || m_bRecalculate) {
        return {};
    }
    return std::span<const double>(m_hdLPCfileSmoothed)
        .first(static_cast<std::size_t>(std::clamp(m_nEnvelopePoints, 0, m_nDisplayRange)));
}

std::vector<SpectrumAnalysis::InfoField> SpectrumAnalysis::infoFields() const
{
    return m_infoFields;
}

// --- readouts and marker ------------------------------------------------------------

bool SpectrumAnalysis::envelopeCovers(double frequencyHz) const
{
    const double j = frequencyHz / m_dFreqfactor;
    return j >= 0.0 && j < static_cast<double>(envelope().size());
}

bool SpectrumAnalysis::haveSpectrumAt(int j) const
{
    return j >= 0 && static_cast<std::size_t>(j) < spectrum().size();
}

int SpectrumAnalysis::displayIndexAt(double offset, double width) const
{
    if (m_nDisplayRange < 1 || !(width > 0.0) || !(offset > 0.0)) {
        return 0;
    }
    const double index = offset * m_nDisplayRange / width;
    return index >= m_nDisplayRange ? m_nDisplayRange - 1 : static_cast<int>(index);
}

double SpectrumAnalysis::spectrumLevel(int j) const
{
    const double level = spectrum()[static_cast<std::size_t>(j)];
    return m_parameters.m_bFFTAbsolute ? level + m_dFFTMIN : level - m_dFFTMAX;
}

double SpectrumAnalysis::envelopeLevel(int j) const
{
    const std::span<const double> curve = envelope();
    if (static_cast<std::size_t>(j) >= curve.size()) {
        return 0.0;
    }
    const double level = curve[static_cast<std::size_t>(j)];
    return m_parameters.m_bFFTAbsolute ? level + m_dLPCMIN : level - m_dLPCMAX;
}

std::string SpectrumAnalysis::powerText(int j) const
{
    if (!haveSpectrumAt(j)) {
        return {};
    }
    const double level = spectrum()[static_cast<std::size_t>(j)];
    if (m_parameters.m_bFFTAbsolute) {
        return fixedNumber(level + m_dFFTMIN, 1);
    }
    return fixedNumber(-((m_dFFTMAX - m_dFFTMIN) - level), 1);
}

std::string SpectrumAnalysis::frequencyText(int j) const
{
    if (!haveSpectrumAt(j)) {
        return {};
    }
    return fixedNumber(j * m_dFreqfactor, 1);
}

void SpectrumAnalysis::setMarker(bool insideGraph, int j)
{
    m_bHaveMarker = false;
    m_dMarkerFreqValue = 0.0;
    m_dMarkerFFTdBValue = 0.0;
    m_dMarkerLPCdBValue = 0.0;
    if (!insideGraph) {
        return;
    }
    m_bHaveMarker = true;
    if (spectrum().empty()) {
        return;
    }
    j = std::clamp(j, 0, static_cast<int>(spectrum().size()) - 1);
    m_dMarkerFreqValue = j * m_dFreqfactor;
    m_dMarkerFFTdBValue = spectrumLevel(j);
    m_dMarkerLPCdBValue = envelopeLevel(j);
}

std::string SpectrumAnalysis::formantText() const
{
    if (!m_bHaveFormants) {
        return {};
    }
    std::string text = "Formants = ";
    for (int i = 0; i < kFormantsShown; ++i) {
        text += formatted("\t%7.1f", m_dFormat[i]);
    }
    text += "\nBandwidths = ";
    for (int i = 0; i < kFormantsShown; ++i) {
        text += formatted("\t%7.1f", m_dBandWidth[i]);
    }
    return text;
}

std::string SpectrumAnalysis::analysisCaption() const
{
    if (m_parameters.m_bPreciseAnalysis) {
        const PreciseFormants model(m_dSampleRate, m_parameters.m_dFormantCeiling);
        return "Precise analysis: formants up to " +
               formattedInt(static_cast<int>(std::lround(model.ceilingHz()))) + " Hz";
    }
    return "Classic analysis: LPC order " + formattedInt(m_parameters.m_nLPCNumCoeff);
}

// --- log entries --------------------------------------------------------------------

bool SpectrumAnalysis::canLogMarker(bool logWindowVisible) const
{
    return canLogFrame(logWindowVisible) && m_bHaveMarker;
}

bool SpectrumAnalysis::canLogFormants(bool logWindowVisible) const
{
    return canLogFrame(logWindowVisible);
}

bool SpectrumAnalysis::canLogFrame(bool logWindowVisible) const
{
    return logWindowVisible && !spectrum().empty();
}

LogRecord SpectrumAnalysis::markerLogRecord(const std::string& displayName) const
{
    LogRecord record;
    record.name = displayName;
    // Beyond the band a precise model describes there is no envelope level:
    // the record is then the one without it rather than a made-up level.
    const bool withLpc = m_parameters.m_bFFTDrawLPC &&
                         (!m_parameters.m_bPreciseAnalysis || envelopeCovers(m_dMarkerFreqValue));
    record.definition = withLpc ? kMarkerHeaderWithLpc : kMarkerHeader;
    record.append(m_dMarkerFreqValue);
    record.append(m_dMarkerFFTdBValue);
    if (withLpc) {
        record.append(m_bHaveLPC ? m_dMarkerLPCdBValue : 0.0);
    }
    return record;
}

LogRecord SpectrumAnalysis::formantsLogRecord(const std::string& displayName) const
{
    LogRecord record;
    record.name = displayName;
    record.definition = kFormantsHeader;
    for (int i = 0; i < kFormantsShown; ++i) {
        record.append(m_dFormat[i]);
    }
    for (int i = 0; i < kFormantsShown; ++i) {
        record.append(m_dBandWidth[i]);
    }
    return record;
}

std::vector<LogRecord> SpectrumAnalysis::frameLogRecords(const std::string& displayName) const
{
    std::vector<LogRecord> records;
    const int interval = m_parameters.m_nFFTFrameInterval;
    // A frequency step of 0 or less would never reach the range: nothing is
    // logged for it.
    if (spectrum().empty() || interval <= 0) {
        return records;
    }
    for (std::int64_t f = 0; f < m_parameters.m_nFFTfreqRange; f += interval) {
        const int j = static_cast<int>(static_cast<double>(f) / m_dFreqfactor);
        if (!haveSpectrumAt(j)) {
            break;
        }
        const bool withLpc =
            m_parameters.m_bFFTDrawLPC &&
            (!m_parameters.m_bPreciseAnalysis || envelopeCovers(static_cast<double>(f)));
        LogRecord record;
        record.name = displayName;
        record.definition = withLpc ? kMarkerHeaderWithLpc : kMarkerHeader;
        record.append(static_cast<double>(f));
        record.append(spectrumLevel(j));
        if (withLpc) {
            record.append(envelopeLevel(j));
        }
        records.push_back(std::move(record));
    }
    return records;
}

} // namespace phonaxis
