#include "windows/PitchWorker.h"

#include <algorithm>
#include <new>
#include <optional>
#include <system_error>
#include <utility>

namespace phonaxis {
namespace {

// The pitch track's share of the progress when an intensity track follows:
// a cepstral frame costs far more than an intensity frame.
constexpr double kPitchShare = 0.9;

} // namespace

PitchWorker::PitchWorker(const Channels& channel, int channelIndex,
                         const PitchParameters& parameters, bool withIntensity, int threads)
    : m_bWithIntensity(withIntensity)
{
    // The copy is made here, on the caller's thread: the worker never reads
    // the document.
    try {
        m_track = std::make_unique<PitchTrack>();
    } catch (const std::bad_alloc&) {
        m_outcome = Outcome::Failed;
        return;
    }
    Channels& copy = m_track->channel;
    const std::span<const float> samples = channel.samples();
    if (!copy.setData(samples.data(), static_cast<double>(samples.size()))) {
        m_track.reset();
        m_outcome = Outcome::Failed;
        return;
    }
    copy.m_dwFileLength = static_cast<double>(samples.size());
    copy.m_dSampleRate = channel.m_dSampleRate;
    copy.m_dLengthMS = channel.m_dLengthMS;
    copy.m_dReference = channel.m_dReference;
    copy.m_nChannelType = channel.m_nChannelType;
    copy.m_dIntensityWindowLengthMS = channel.m_dIntensityWindowLengthMS;
    copy.m_dIntensityStepSizeMS = channel.m_dIntensityStepSizeMS;
    copy.m_bIntensityRelative = channel.m_bIntensityRelative;
    copy.SetTitle(channel.GetTitle());
    m_track->analysis.intilize(copy, channelIndex, parameters);

    try {
        m_thread = std::thread([this, threads] { run(threads); });
    } catch (const std::system_error&) {
        // No thread to be had: compute here rather than never.
        run(threads);
    }
}

PitchWorker::~PitchWorker()
{
    cancel();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void PitchWorker::run(int threads) noexcept
{
    Outcome outcome = Outcome::Failed;
    try {
        PitchTrack& track = *m_track;
        const bool pitched =
            track.analysis.DoPitchCepstral(track.channel.samples(), threads, &m_progress);
        if (m_progress.cancelled.load()) {
            outcome = Outcome::Cancelled;
        } else if (pitched) {
            outcome = Outcome::Computed;
            if (m_bWithIntensity) {
                const WorkProgress watcher([this](double fraction) {
                    m_intensityDone = fraction;
                    return !m_progress.cancelled.load();
                });
                std::optional<IntensityTrack> intensity = track.channel.ComputeIntensity(watcher);
                if (m_progress.cancelled.load()) {
                    outcome = Outcome::Cancelled;
                } else if (!intensity) {
                    outcome = Outcome::Failed;
                } else {
                    track.channel.SetIntensity(std::move(*intensity));
                    m_intensityDone = 1.0;
                }
            }
            // Without a summary the waveform is drawn by scanning: slower, not wrong.
            if (outcome == Outcome::Computed) {
                track.summary.build(track.channel.samples());
            }
        }
    } catch (...) {
        outcome = Outcome::Failed;
    }
    if (outcome != Outcome::Computed) {
        m_track.reset();
    }
    m_outcome = outcome;
}

double PitchWorker::progress() const
{
    const double pitch = m_progress.fraction();
    if (!m_bWithIntensity) {
        return pitch;
    }
    return kPitchShare * pitch + (1.0 - kPitchShare) * std::clamp(m_intensityDone.load(), 0.0, 1.0);
}

void PitchWorker::cancel()
{
    m_progress.cancelled = true;
}

std::unique_ptr<PitchTrack> PitchWorker::take()
{
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (m_outcome.load() != Outcome::Computed) {
        return nullptr;
    }
    return std::move(m_track);
}

} // namespace phonaxis
