#include "windows/PitchAnalysis.h"

#include "analysis/CMathFunc.h"
#include "analysis/PrecisePitch.h"
#include "document/MyDocument.h"
#include "model/Channels.h"
#include "windows/TimePage.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

namespace phonaxis {
namespace {

// The shortest and the longest transform the track uses (the cepstral kernel
// takes 128 … 32,768 points); the windows up to kLegacyWindow samples take
// the lengths they always had; the longest window a track uses holds a
// quarter of the longest transform.
constexpr int kSmallestFftLength = 1024;
constexpr int kLargestFftLength = 32768;
constexpr int kLegacyWindow = 2048;
constexpr int kLongestWindow = kLargestFftLength / 4;

// Most frames a track may have: 2^22 frames (11.6 hours at a 10 ms step,
// 96 MB of track and scratch). A step so short that it asks for more is a
// setting error, not a request for a huge allocation.
constexpr double kMaxFrameCount = 4194304.0;

// Frames of a precise track analysed at a time before the path search
// takes them (1.2 MB of candidates).
constexpr int kPreciseFramesPerPass = 8192;

// Worker threads are capped: more than this buys nothing on any desktop.
constexpr int kMaxThreads = 64;

// Frames a thread takes at a time: a few milliseconds of work, so that the
// threads rarely meet at the shared counter and finish close together.
constexpr int kFramesPerChunk = 128;

// The transform length for a window of W = `windowSamples` samples (at most
// kLongestWindow: a longer one is cut before it comes here, see
// DoPitchCepstral): the smallest power of two from 1,024 that holds the
// window twice while W ≤ 2,048, and four times for a longer window.
//
// A Hamming window of W samples zero-padded into N points leaves a ripple in
// the log spectrum that shows as cepstral peaks at the multiples of W, and,
// the cepstrum being circular, at N − W, N − 2W, … as well. W itself
// corresponds to 1000/window-ms Hz (28.6 Hz for 35 ms), below any sensible
// search floor, and 2W lies lower still; the mirrored peaks N − W and N − 2W
// are what can fall into the search range. With N ≥ 2W the first lies at or
// above N/2, past the cepstrum the search sees. Taking merely the next
// length above W put it inside the search range (N = 1024 for a 35 ms window
// at 22,050 Hz gives q = 253, 87 Hz): in a synthetic a-i-u vowel sequence a
// third of the voiced frames took it, a fifth of the finished track was
// wrong. With the transform capped at 4,096 points the same befell every
// window of more than 2,048 samples (35 ms above 58.5 kHz): speech at 88.2
// and 96 kHz read 87 and 130 Hz instead of 93.
//
// The weaker second peak, N − 2W, lies past N/2 only when N ≥ 4W. For a
// window of more than 2,048 samples the transform is made that long (35 ms:
// 16,384 points at 88.2 and 96 kHz, 32,768 at 192 kHz): with merely N ≥ 2W
// the peak sits at 65 Hz at 96 and 192 kHz, where a female glide then lost
// 12 % of its voiced frames instead of 3 %. The shorter windows keep the
// lengths, and so the tracks, they always had; among them a 35 ms window at
// 48 kHz (N = 4,096, the second peak at 65 Hz, taken by a frame in a hundred
// of a male glide).
int fftLengthForWindow(int windowSamples)
{
    const int holds = windowSamples <= kLegacyWindow ? 2 : 4;
    int n = kSmallestFftLength;
    while (n < kLargestFftLength && n < holds * windowSamples) {
        n *= 2;
    }
    return n;
}

// trunc(value) for a value already known to be finite and inside the int range.
int truncToInt(double value)
{
    return static_cast<int>(value);
}

// trunc(value) of a finite value, saturated to the 64-bit range used for
// sample indices (values far beyond any buffer simply read nothing).
std::int64_t truncIndex(double value)
{
    constexpr double kLimit = 9.0e15;
    return static_cast<std::int64_t>(std::clamp(value, -kLimit, kLimit));
}

// Whole Hz of a pitch difference as the jump filter compares it: the absolute
// difference truncated (saturated at the int range, which only a sample rate
// far beyond any recording could reach).
int wholeHzApart(double a, double b)
{
    constexpr double kLargest = std::numeric_limits<int>::max();
    return truncToInt(std::min(std::fabs(a - b), kLargest));
}

// A frame's energy over one step from `position`; a step running past the
// end of the channel sums only the samples that exist.
double stepEnergy(std::span<const float> samples, std::int64_t available, double position,
                  double stepSamples)
{
    const std::int64_t from = std::max<std::int64_t>(0, truncIndex(position));
    const std::int64_t to = std::min(available, truncIndex(position + stepSamples)); // exclusive
    double sum = 0.0;
    for (std::int64_t i = from; i < to; ++i) {
        const double x = samples[static_cast<std::size_t>(i)];
        sum += x * x;
    }
    return sum / stepSamples;
}

// Raw pitch and energy of frames [first, last) of a track; the part of the
// analysis that one thread does. Every frame depends only on the samples, so
// any split of the frames gives the same values.
struct FrameBlock {
    std::span<const float> samples; // samples [0, available) may be read
    std::int64_t available = 0;
    double spanEnd = 0.0;
    double startPoint = 0.0;
    double stepSamples = 0.0;
    double rateHz = 0.0;
    double lowHz = 0.0;
    double highHz = 0.0;
    int fftLength = 0;
    int windowSamples = 0;
    double* raw = nullptr;
    double* energy = nullptr;
    PitchProgress* progress = nullptr;

    // False when the kernel declined a frame (its work storage could not be
    // had) or the work was cancelled.
    bool run(int first, int last) const
    {
        for (int k = first; k < last; ++k) {
            if (progress != nullptr && progress->cancelled.load(std::memory_order_relaxed)) {
                return false;
            }
            const double position = startPoint + k * stepSamples;
            const double pitch = CMathFunc::DoPitchCepstrumNewFloat(
                samples, position, spanEnd, rateHz, lowHz, highHz, fftLength, windowSamples);
            if (pitch < 0.0) {
                return false;
            }
            raw[k] = pitch;

            energy[k] = stepEnergy(samples, available, position, stepSamples);
            if (progress != nullptr) {
                progress->m_nFramesDone.fetch_add(1, std::memory_order_relaxed);
            }
        }
        return true;
    }
};

// Runs the `frameCount` frames on up to `threads` threads. The frames are
// dealt out in chunks of consecutive frames, each thread taking the next chunk
// when it has finished one, so that a thread slowed by other work on its core
// leaves more of the track to the others. A thread that cannot be started
// leaves its share to the calling thread, which takes chunks too.
// block(first, last) computes frames [first, last) and is false when it could
// not finish them.
template <typename RunBlock> bool runFrameBlocks(const RunBlock& block, int frameCount, int threads)
{
    if (threads <= 0) {
        threads = static_cast<int>(std::thread::hardware_concurrency());
    }
    threads = std::clamp(threads, 1, std::min(kMaxThreads, std::max(1, frameCount)));

    std::atomic<int> nextFrame{0};
    std::atomic<bool> allDone{true};
    const auto runChunks = [&block, &nextFrame, &allDone, frameCount] {
        while (allDone.load(std::memory_order_relaxed)) {
            const int first = nextFrame.fetch_add(kFramesPerChunk);
            if (first >= frameCount) {
                return;
            }
            if (!block(first, first + std::min(kFramesPerChunk, frameCount - first))) {
                allDone.store(false);
            }
        }
    };
    std::vector<std::thread> workers;
    try {
        workers.reserve(static_cast<std::size_t>(threads));
    } catch (const std::bad_alloc&) {
        threads = 1;
    }
    for (int t = 1; t < threads; ++t) {
        try {
            workers.emplace_back(runChunks);
        } catch (const std::system_error&) {
            break;
        }
    }
    runChunks();
    for (std::thread& worker : workers) {
        worker.join();
    }
    return allDone.load();
}

// The precise track: the frames' candidates on the threads given, then the
// path search through them. Frame k is centred on its time, k steps from the
// start, so the value shown at a time is the pitch around it, and tracks of
// the same recording at two rates share their frame times.
struct PreciseTrack {
    PrecisePitch analyser;
    std::span<const float> samples; // channel samples from firstSample on
    std::int64_t firstSample = 0;
    std::int64_t firstFrame = 0; // the channel's frame that is the track's frame 0
    std::int64_t available = 0;  // the channel's length: positions from it on read 0
    double startPoint = 0.0;
    double stepSamples = 0.0;
    PitchProgress* progress = nullptr;

    // Fills `track` (the path), `raw` (each frame's strongest candidate, 0
    // for none, as for a frame too quiet to be voiced) and `energy` (over
    // one step centred on the frame); false
    // when cancelled or a frame's work storage could not be had.
    //
    // The frames' peaks come first (the path search weighs each frame's
    // loudness against the loudest); then the frames are analysed a
    // stretch of kPreciseFramesPerPass at a time, on every thread, and the
    // path search takes each stretch in order, so that only one stretch's
    // candidates are held at a time.
    bool run(int frameCount, int threads, std::vector<double>& track, std::vector<double>& raw,
             std::vector<double>& energy) const
    {
        // Peaks as floats: they only weigh a frame's loudness (to 0.1 ppm).
        std::vector<float> peaks;
        std::vector<PitchFrame> frames;
        try {
            peaks.resize(static_cast<std::size_t>(frameCount));
            frames.resize(static_cast<std::size_t>(std::min(frameCount, kPreciseFramesPerPass)));
        } catch (const std::bad_alloc&) {
            return false;
        }
        PitchSamples input;
        input.samples = samples;
        input.firstSample = firstSample;
        input.end = available;
        const auto centreOf = [&](int k) {
            return startPoint + static_cast<double>(firstFrame + k) * stepSamples;
        };
        const auto cancelled = [this] {
            return progress != nullptr && progress->cancelled.load(std::memory_order_relaxed);
        };
        const auto measurePeaks = [&](int first, int last) {
            if (cancelled()) {
                return false;
            }
            for (int k = first; k < last; ++k) {
                peaks[static_cast<std::size_t>(k)] =
                    static_cast<float>(analyser.framePeak(input, centreOf(k)));
            }
            return true;
        };
        if (progress != nullptr) {
            progress->m_nFramesDone = 0;
            progress->m_nFrameCount = frameCount;
        }
        if (!runFrameBlocks(measurePeaks, frameCount, threads)) {
            return false;
        }
        double globalPeak = 0.0;
        for (const float peak : peaks) {
            globalPeak = std::max(globalPeak, static_cast<double>(peak));
        }
        // Frames too quiet to be voiced on any path are not analysed.
        const double quietPeak = analyser.quietPeak(globalPeak);
        PitchPath path;
        if (!path.begin(analyser, static_cast<std::size_t>(frameCount), globalPeak)) {
            return false;
        }

        // Energies read the samples by their index in the span.
        const std::int64_t spanAvailable = std::clamp<std::int64_t>(
            available - firstSample, 0, static_cast<std::int64_t>(samples.size()));
        for (int passFirst = 0; passFirst < frameCount; passFirst += kPreciseFramesPerPass) {
            const int passCount = std::min(kPreciseFramesPerPass, frameCount - passFirst);
            // A block of frames shares one decimation of the stretch it covers.
            const auto runBlock = [&](int first, int last) {
                if (cancelled()) {
                    return false;
                }
                const int k = passFirst + first;
                const std::span<PitchFrame> block(frames.data() + first,
                                                  static_cast<std::size_t>(last - first));
                if (!analyser.analyseFrames(input, startPoint, stepSamples, firstFrame + k, block,
                                            peaks.data() + k, quietPeak)) {
                    return false;
                }
                for (int j = first; j < last; ++j) {
                    const PitchFrame& frame = frames[static_cast<std::size_t>(j)];
                    const auto i = static_cast<std::size_t>(passFirst + j);
                    double strongest = -std::numeric_limits<double>::infinity();
                    for (int c = 0; c < frame.count; ++c) {
                        const PitchCandidate& candidate =
                            frame.candidates[static_cast<std::size_t>(c)];
                        if (candidate.strength > strongest) {
                            strongest = candidate.strength;
                            raw[i] = candidate.frequencyHz;
                        }
                    }
                    energy[i] = stepEnergy(samples, spanAvailable,
                                           centreOf(passFirst + j) - 0.5 * stepSamples -
                                               static_cast<double>(firstSample),
                                           stepSamples);
                }
                if (progress != nullptr) {
                    progress->m_nFramesDone.fetch_add(last - first, std::memory_order_relaxed);
                }
                return true;
            };
            if (!runFrameBlocks(runBlock, passCount, threads) ||
                !path.add(std::span<const PitchFrame>(frames.data(),
                                                      static_cast<std::size_t>(passCount)))) {
                return false;
            }
        }
        return path.finish(track);
    }
};

// A track's three rows (pitch, raw pitch, energy) of `frames` zeros each;
// false when the memory cannot be had.
bool zeroedRows(int frames, std::vector<double>& track, std::vector<double>& raw,
                std::vector<double>& energy)
{
    try {
        const auto count = static_cast<std::size_t>(frames);
        track.assign(count, 0.0);
        raw.assign(count, 0.0);
        energy.assign(count, 0.0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

} // namespace

PitchParameters PitchParameters::fromDocument(const DocumentFields& document)
{
    PitchParameters parameters;
    parameters.m_dPitchWindowLength = document.m_dPitchWindowLength;
    parameters.m_dPitchStepSize = document.m_dPitchStepSize;
    parameters.m_dFreqDeviation = document.m_dFreqDeviation;
    parameters.m_dTrackingThreshHold = document.m_dTrackingThreshHold;
    parameters.m_dCalculationLow = document.m_dCalculationLow;
    parameters.m_dCalculationHigh = document.m_dCalculationHigh;
    parameters.m_bPitchDrawIntensity = document.m_bPitchDrawIntensity;
    parameters.m_bPreciseAnalysis = document.m_bPreciseAnalysis;
    return parameters;
}

void PitchAnalysis::intilize(const Channels& channel, int channelIndex,
                             const PitchParameters& parameters)
{
    m_nChannel = channelIndex;
    m_dwFileLength = channel.m_dwFileLength;
    m_dLengthMS = channel.m_dLengthMS;
    m_dSampleRate = channel.m_dSampleRate;
    m_dReference = channel.m_dReference;
    m_dStartPoint = 0.0;
    m_dEndPoint = m_dwFileLength;
    m_parameters = parameters;

    // A track belongs to the channel and settings it was made from.
    m_nFrameCount = 0;
    m_nFirstFrame = 0;
    m_hdPitchFile.clear();
    m_rawPitch.clear();
    m_frameEnergy.clear();
    m_bHavePitch = false;
    m_bRecalculate = true;
    m_bRedraw = true;

    m_dPageMin = 0.0;
    m_dPageMax = m_dwFileLength;
    m_dUndoPageMin = m_dPageMin;
    m_dUndoPageMax = m_dPageMax;
    m_dTimePageMin = 0.0;
    m_dTimePageMax = m_dLengthMS;
    m_dZoomFactor = 1.0;

    m_dLogMarkerTime = 0.0;
    m_dLogMarkerPitch = 0.0;
    m_dLogMarkerIntensity = 0.0;
}

double PitchProgress::fraction() const
{
    const int count = m_nFrameCount.load();
    return count > 0 ? std::clamp(static_cast<double>(m_nFramesDone.load()) / count, 0.0, 1.0)
                     : 0.0;
}

bool PitchAnalysis::DoPitchCepstral(std::span<const float> samples, int threads,
                                    PitchProgress* progress)
{
    m_bHavePitch = false;
    m_nFirstFrame = 0;
    const auto decline = [this] {
        m_nFrameCount = 0;
        m_hdPitchFile.clear();
        m_rawPitch.clear();
        m_frameEnergy.clear();
        m_bRecalculate = false;
        return false;
    };

    const double rateHz = m_dSampleRate;
    const double lengthSamples = m_dwFileLength;
    const double lowHz = m_parameters.m_dCalculationLow;
    const double highHz = m_parameters.m_dCalculationHigh;
    double windowMs = m_parameters.m_dPitchWindowLength;
    const double stepMs = m_parameters.m_dPitchStepSize;
    if (samples.empty() || !std::isfinite(rateHz) || !(rateHz > 0.0) ||
        !std::isfinite(lengthSamples) || !(lengthSamples > 0.0) || !std::isfinite(windowMs) ||
        !std::isfinite(stepMs) || !(stepMs > 0.0) || !std::isfinite(lowHz) ||
        !std::isfinite(highHz) || !(lowHz > 0.0) || !(lowHz < highHz)) {
        return decline();
    }

    // Window and transform. A window longer than a quarter of the largest
    // transform is cut to the whole milliseconds that fit in that quarter
    // (170 ms at 48 kHz, 42 ms at 192 kHz), and the cut is kept: the window
    // length the track reports is the one it used.
    const double windowSamplesReal = rateHz / 1000.0 * windowMs;
    if (!(windowSamplesReal >= 1.0)) {
        return decline();
    }
    if (truncIndex(windowSamplesReal) > kLongestWindow) {
        windowMs = std::trunc(1000.0 / rateHz * kLongestWindow);
        if (!(rateHz / 1000.0 * windowMs >= 1.0)) {
            return decline();
        }
    }
    const int windowSamples =
        truncToInt(std::min<double>(rateHz / 1000.0 * windowMs, kLongestWindow));
    const int fftLength = fftLengthForWindow(windowSamples);

    // Frames less than a sample apart would start on the same sample, and
    // the energy of every other one (summed over one step) would cover no
    // sample at all: such a step is declined.
    const double stepSamples = rateHz / 1000.0 * stepMs;
    const double frameCountReal = std::trunc(lengthSamples / stepSamples);
    if (!(stepSamples >= 1.0) || !(frameCountReal <= kMaxFrameCount)) {
        return decline();
    }
    const int frameCount = truncToInt(frameCountReal);

    // Everything is made in new storage and replaces the track only when the
    // analysis has succeeded.
    std::vector<double> track;
    std::vector<double> raw;
    std::vector<double> energy;
    if (!zeroedRows(frameCount, track, raw, energy)) {
        return decline();
    }

    const std::int64_t available = std::min(
        truncIndex(std::ceil(lengthSamples)),
        static_cast<std::int64_t>(std::min<std::size_t>(samples.size(), std::size_t{1} << 52)));
    if (m_parameters.m_bPreciseAnalysis) {
        if (!preciseStretch(samples.first(static_cast<std::size_t>(available)), 0, 0, frameCount,
                            threads, progress)) {
            return decline();
        }
        return true;
    }

    FrameBlock block;
    block.samples = samples;
    block.available = available;
    block.spanEnd = m_dEndPoint - m_dStartPoint;
    block.startPoint = m_dStartPoint;
    block.stepSamples = stepSamples;
    block.rateHz = rateHz;
    block.lowHz = lowHz;
    block.highHz = highHz;
    block.fftLength = fftLength;
    block.windowSamples = windowSamples;
    block.raw = raw.data();
    block.energy = energy.data();
    block.progress = progress;
    if (progress != nullptr) {
        progress->m_nFramesDone = 0;
        progress->m_nFrameCount = frameCount;
    }
    const auto runBlock = [&block](int first, int last) { return block.run(first, last); };
    if (!runFrameBlocks(runBlock, frameCount, threads)) {
        return decline();
    }

    // Jump filter: a frame is kept only when both neighbours lie within the
    // deviation of it (in whole Hz); the end frames have one neighbour and
    // stay unvoiced.
    const double deviationHz = m_parameters.m_dFreqDeviation;
    for (int k = 1; k + 1 < frameCount; ++k) {
        const auto i = static_cast<std::size_t>(k);
        if (deviationHz > wholeHzApart(raw[i - 1], raw[i]) &&
            deviationHz > wholeHzApart(raw[i + 1], raw[i])) {
            track[i] = raw[i];
        }
    }

    // Three-point smoother, forwards in place: a frame with two voiced
    // successors becomes the mean of the three (the successors are still
    // unsmoothed when it is read); the last three frames are left as they are.
    for (int k = 0; k + 3 < frameCount; ++k) {
        const auto i = static_cast<std::size_t>(k);
        if (track[i] != 0.0 && track[i + 1] != 0.0 && track[i + 2] != 0.0) {
            track[i] = (track[i] + track[i + 1] + track[i + 2]) / 3.0;
        }
    }

    // Voicing: frames at or below the threshold share of the loudest frame's
    // energy are unvoiced.
    double largestEnergy = -1e9;
    for (const double e : energy) {
        largestEnergy = std::max(largestEnergy, e);
    }
    const double threshold = largestEnergy * m_parameters.m_dTrackingThreshHold / 100.0;
    for (std::size_t i = 0; i < track.size(); ++i) {
        if (energy[i] <= threshold) {
            track[i] = 0.0;
        }
    }

    return keepTrack(windowMs, windowSamples, fftLength, std::move(track), std::move(raw),
                     std::move(energy));
}

bool PitchAnalysis::preciseSettings(PrecisePitch& analyser, double& stepSamples,
                                    int& frameCount) const
{
    const double rateHz = m_dSampleRate;
    const double stepMs = m_parameters.m_dPitchStepSize;
    PrecisePitchSettings settings;
    settings.rateHz = rateHz;
    settings.lowHz = m_parameters.m_dCalculationLow;
    settings.highHz = m_parameters.m_dCalculationHigh;
    settings.windowMs = m_parameters.m_dPitchWindowLength;
    settings.stepMs = stepMs;
    if (!m_parameters.m_bPreciseAnalysis || !std::isfinite(m_dwFileLength) ||
        !(m_dwFileLength > 0.0) || !analyser.configure(settings)) {
        return false;
    }
    stepSamples = rateHz / 1000.0 * stepMs;
    const double frameCountReal = std::trunc(m_dwFileLength / stepSamples);
    if (!(stepSamples >= 1.0) || !(frameCountReal <= kMaxFrameCount)) {
        return false;
    }
    frameCount = truncToInt(frameCountReal);
    return true;
}

int PitchAnalysis::wholeFrameCount() const
{
    const double stepSamples = m_dSampleRate / 1000.0 * m_parameters.m_dPitchStepSize;
    const double frames = std::trunc(m_dwFileLength / stepSamples);
    return stepSamples >= 1.0 && frames >= 0.0 && frames <= kMaxFrameCount ? truncToInt(frames)
                                                                            : 0;
}

bool PitchAnalysis::preciseStretchSamples(int firstFrame, int frameCount,
                                          std::int64_t& firstSample,
                                          std::int64_t& endSample) const
{
    PrecisePitch analyser;
    double stepSamples = 0.0;
    int frames = 0;
    if (!preciseSettings(analyser, stepSamples, frames) || firstFrame < 0 || frameCount < 0) {
        return false;
    }
    const std::int64_t context = analyser.contextSamples();
    const std::int64_t length = truncIndex(std::ceil(m_dwFileLength));
    firstSample = std::clamp<std::int64_t>(
        truncIndex(std::floor(m_dStartPoint + firstFrame * stepSamples)) - context, 0, length);
    endSample = std::clamp<std::int64_t>(
        truncIndex(std::ceil(m_dStartPoint + (firstFrame + std::max(frameCount, 1) - 1.0) *
                                                  stepSamples)) +
            context + 1,
        firstSample, length);
    return true;
}

bool PitchAnalysis::DoPreciseStretch(std::span<const float> samples, std::int64_t firstSample,
                                     int firstFrame, int frameCount, int threads,
                                     PitchProgress* progress)
{
    m_bHavePitch = false;
    if (!preciseStretch(samples, firstSample, firstFrame, frameCount, threads, progress)) {
        m_nFrameCount = 0;
        m_nFirstFrame = 0;
        m_hdPitchFile.clear();
        m_rawPitch.clear();
        m_frameEnergy.clear();
        m_bRecalculate = false;
        return false;
    }
    return true;
}

bool PitchAnalysis::preciseStretch(std::span<const float> samples, std::int64_t firstSample,
                                   int firstFrame, int frameCount, int threads,
                                   PitchProgress* progress)
{
    PreciseTrack precise;
    int wholeFrames = 0;
    if (samples.empty() || firstSample < 0 ||
        !preciseSettings(precise.analyser, precise.stepSamples, wholeFrames) || firstFrame < 0 ||
        frameCount < 1 || firstFrame > wholeFrames - frameCount) {
        return false;
    }
    std::vector<double> track;
    std::vector<double> raw;
    std::vector<double> energy;
    if (!zeroedRows(frameCount, track, raw, energy)) {
        return false;
    }
    precise.samples = samples;
    precise.firstSample = firstSample;
    precise.firstFrame = firstFrame;
    precise.available = truncIndex(std::ceil(m_dwFileLength));
    precise.startPoint = m_dStartPoint;
    precise.progress = progress;
    if (!precise.run(frameCount, threads, track, raw, energy)) {
        return false;
    }
    m_nFirstFrame = firstFrame;
    return keepTrack(m_parameters.m_dPitchWindowLength, precise.analyser.windowSamples(),
                     precise.analyser.fftLength(), std::move(track), std::move(raw),
                     std::move(energy));
}

bool PitchAnalysis::keepTrack(double windowMs, int windowSamples, int fftLength,
                              std::vector<double> track, std::vector<double> raw,
                              std::vector<double> energy)
{
    m_parameters.m_dPitchWindowLength = windowMs;
    m_nWindowSamples = windowSamples;
    m_nFFTLength = fftLength;
    m_nFrameCount = static_cast<int>(track.size());
    m_hdPitchFile = std::move(track);
    m_rawPitch = std::move(raw);
    m_frameEnergy = std::move(energy);
    m_bRecalculate = false;
    m_bHavePitch = true;
    m_bRedraw = true;
    return true;
}

double PitchAnalysis::frameTime(int frame) const
{
    if (m_nFrameCount <= 0) {
        return 0.0;
    }
    if (m_parameters.m_bPreciseAnalysis) {
        return (m_nFirstFrame + frame) * m_parameters.m_dPitchStepSize;
    }
    return frame * (m_dLengthMS / m_nFrameCount);
}

int PitchAnalysis::frameAt(double timeMs) const
{
    const bool precise = m_parameters.m_bPreciseAnalysis;
    if (m_nFrameCount <= 0 || !((precise ? m_parameters.m_dPitchStepSize : m_dLengthMS) > 0.0)) {
        return -1;
    }
    const double frame = precise
                             ? std::trunc(timeMs / m_parameters.m_dPitchStepSize) - m_nFirstFrame
                             : m_nFrameCount / m_dLengthMS * timeMs;
    if (std::isnan(frame)) {
        return -1;
    }
    // Times far outside the track map to just outside it.
    return truncToInt(std::clamp(frame, -1.0, static_cast<double>(m_nFrameCount)));
}

double PitchAnalysis::pitchAt(double timeMs) const
{
    const int frame = frameAt(timeMs);
    if (!m_bHavePitch || frame < 0 || frame >= m_nFrameCount ||
        static_cast<std::size_t>(frame) >= m_hdPitchFile.size()) {
        return 0.0;
    }
    return m_hdPitchFile[static_cast<std::size_t>(frame)];
}

void PitchAnalysis::mouseDown(double timeMs, const std::function<double(double)>& intensityAt)
{
    m_dMarkerTime = timeMs;
    m_dCursorTime = timeMs;
    // Every press sets the marker, one that ends a selection too.
    m_bHaveSelection = false;
    m_bHaveMarker = true;
    m_dLogMarkerTime = m_dMarkerTime;
    m_dLogMarkerPitch = pitchAt(m_dMarkerTime);
    m_dLogMarkerIntensity =
        m_parameters.m_bPitchDrawIntensity && intensityAt ? intensityAt(m_dCursorTime) : 0.0;
}

void PitchAnalysis::CalculateDuration()
{
    // Without a duration there are no samples per ms to convert with.
    const double samplesPerMs = m_dLengthMS > 0.0 ? m_dwFileLength / m_dLengthMS : 0.0;
    m_dDurationStartTime = std::min(m_dMarkerTime, m_dCursorTime);
    m_dDurationStopTime = std::max(m_dMarkerTime, m_dCursorTime);
    m_dDurationTime = m_dDurationStopTime - m_dDurationStartTime;
    m_dPageMin = m_dTimePageMin * samplesPerMs;
    m_dPageMax = m_dTimePageMax * samplesPerMs;
    m_dDurationStartFile = m_dDurationStartTime * samplesPerMs;
    m_dDurationStopFile = m_dDurationStopTime * samplesPerMs;
}

void PitchAnalysis::CalibrateScroll(int mode)
{
    if (mode < 0 || mode > 5) {
        return;
    }
    const double samplesPerMs = m_dLengthMS > 0.0 ? m_dwFileLength / m_dLengthMS : 0.0;
    TimePage page{m_dPageMin, m_dPageMax, m_dUndoPageMin, m_dUndoPageMax};
    ZoomLimits limits;
    limits.length = m_dwFileLength;
    limits.smallest = minimumPageSamples();
    limits.selectionStart = m_dDurationStartFile;
    limits.selectionStop = m_dDurationStopFile;
    limits.cursor = m_dMarkerTime * samplesPerMs;
    limits.cursorSpan = m_dSampleRate; // one second
    zoomPage(page, mode, limits);
    m_dPageMin = page.pageMin;
    m_dPageMax = page.pageMax;
    m_dUndoPageMin = page.undoMin;
    m_dUndoPageMax = page.undoMax;
    const double msPerSample = m_dwFileLength > 0.0 ? m_dLengthMS / m_dwFileLength : 0.0;
    m_dTimePageMin = m_dPageMin * msPerSample;
    m_dTimePageMax = m_dPageMax * msPerSample;
    m_dZoomFactor = m_dwFileLength > 0.0 ? (m_dPageMax - m_dPageMin) / m_dwFileLength : 1.0;
}

double PitchAnalysis::minimumPageSamples() const
{
    const double length = std::max(0.0, m_dwFileLength);
    const double stepSamples =
        m_dLengthMS > 0.0 ? m_parameters.m_dPitchStepSize * (m_dwFileLength / m_dLengthMS) : 0.0;
    const double smallest = std::isfinite(stepSamples) ? std::max(2.0, 2.0 * stepSamples) : 2.0;
    return std::min(length, smallest);
}

LogRecord PitchAnalysis::markerLogRecord(const std::string& displayName) const
{
    LogRecord record;
    record.name = displayName;
    record.definition = kMarkerHeader;
    record.append(m_dLogMarkerTime);
    record.append(m_dLogMarkerPitch);
    record.append(m_dLogMarkerIntensity);
    return record;
}

std::vector<LogRecord>
PitchAnalysis::selectionLogRecords(const std::string& displayName,
                                   const std::function<double(double)>& intensityAt) const
{
    return rangeLogRecords(displayName, m_dDurationStartTime, m_dDurationStopTime, intensityAt);
}

std::vector<LogRecord>
PitchAnalysis::rangeLogRecords(const std::string& displayName, double fromMs, double toMs,
                               const std::function<double(double)>& intensityAt) const
{
    std::vector<LogRecord> records;
    if (!m_bHavePitch) {
        return records;
    }
    const bool withIntensity = m_parameters.m_bPitchDrawIntensity && intensityAt;
    for (int k = 0; k < m_nFrameCount && static_cast<std::size_t>(k) < m_hdPitchFile.size(); ++k) {
        const double timeMs = frameTime(k);
        if (timeMs < fromMs || timeMs > toMs) {
            continue;
        }
        LogRecord record;
        record.name = displayName;
        record.definition = kSelectionHeader;
        record.append(timeMs);
        record.append(m_hdPitchFile[static_cast<std::size_t>(k)]);
        record.append(withIntensity ? intensityAt(timeMs) : 0.0);
        records.push_back(std::move(record));
    }
    return records;
}

std::vector<LogRecord>
PitchAnalysis::allLogRecords(const std::string& displayName,
                             const std::function<double(double)>& intensityAt) const
{
    std::vector<LogRecord> records;
    if (!m_bHavePitch) {
        return records;
    }
    const bool withIntensity = m_parameters.m_bPitchDrawIntensity && intensityAt;
    for (int k = 0; k < m_nFrameCount && static_cast<std::size_t>(k) < m_hdPitchFile.size(); ++k) {
        const double pitchHz = m_hdPitchFile[static_cast<std::size_t>(k)];
        if (!(pitchHz > 0.0)) {
            continue;
        }
        const double timeMs = frameTime(k);
        LogRecord record;
        record.name = displayName;
        record.definition = kSelectionHeader;
        record.append(timeMs);
        record.append(pitchHz);
        record.append(withIntensity ? intensityAt(timeMs) : 0.0);
        records.push_back(std::move(record));
    }
    return records;
}

} // namespace phonaxis
