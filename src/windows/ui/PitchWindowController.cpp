#include "windows/ui/PitchWindowController.h"

#include "document/MyDocument.h"
#include "document/Prompts.h"
#include "model/Channels.h"
#include "windows/PitchWorker.h"
#include "windows/TimePage.h"

#include <QAction>
#include <QLabel>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace phonaxis {
namespace {

constexpr int kPollMs = 100;

const char* const kFileCommands[] = {"SaveasPict:", "printDocument:", nullptr, "performClose:"};
const char* const kZoomCommands[] = {
    "_ZoomUndo:", "_ZoomIn:", "_ZoomOut:", "_ZoomSelection:", "_ZoomCursor:", "_ZoomHome:"};
const char* const kLogCommands[] = {"_LogPitchMarker:", "_LogPitchSelection:", "_LogPitchAll:"};
const char* const kSoundCommands[] = {"_Play:", "_PlaySelection:"};

} // namespace

std::optional<std::string> PitchWindowController::cannotAnalyse(const MyDocument& document,
                                                                int channel)
{
    const double stepMs = document.m_dPitchStepSize;
    return whyNotAnalysable(document, channel,
                            [stepMs](const Channels& audio) -> std::optional<std::string> {
        // Frames closer than one sample would start on the same sample.
        const double rate = audio.m_dSampleRate;
        const double sampleMs = rate > 0.0 ? 1000.0 / rate : 0.0;
        if (sampleMs > 0.0 && stepMs >= sampleMs) {
            return std::nullopt;
        }
        const auto text = [](double value, int decimals) {
            return QString::number(value, 'f', decimals).toStdString();
        };
        return "The pitch step of " + text(stepMs, 3) + " ms is shorter than one sample at " +
               text(rate, 0) + " Hz (" + text(sampleMs, 3) +
               " ms). Choose a longer step in Options ▸ Pitch.";
    });
}

PitchWindowController::PitchWindowController(AnalysisWindowContext context)
    : AnalysisWindowShell(std::move(context), "PitchWindow", "pitch track", "Pitch:: ")
{
    m_pitch = readoutLabel("_pitchReadout", tr("Pitch"));
    m_intensity = readoutLabel("_intensityReadout", tr("Intensity"));
    m_view = new PitchView(this);
    m_view->onReadout = [this](const std::optional<PitchReadout>& readout) {
        showReadout(readout);
    };
    m_view->onSelectionChanged = [this] { refreshCommands(); };
    m_view->captionOf = [this](double fromMs, double toMs) { return pictureCaption(fromMs, toMs); };
    buildContents("_pitch", "_timeReadout", {m_pitch, m_intensity}, m_view, kPollMs);

    addMenus({{"&File", kFileCommands},
              {"&Zoom", kZoomCommands},
              {"&Log", kLogCommands},
              {"&Sound", kSoundCommands}});
    refreshCommands();
}

PitchWindowController::~PitchWindowController()
{
    // The view refers to the track; the worker (stopped and joined by its
    // destructor) goes with the window.
    m_view->setTrack(nullptr, nullptr);
    m_worker.reset();
}

bool PitchWindowController::isCommandEnabled(const std::string& command) const
{
    const PitchAnalysis* analysis = m_track ? &m_track->analysis : nullptr;
    const bool track = analysis != nullptr && analysis->m_bHavePitch;
    const bool marker = track && analysis->m_bHaveMarker;
    const bool selection = track && analysis->m_bHaveSelection;
    const bool logVisible = m_context.logVisible && m_context.logVisible();
    const bool canPlay = static_cast<bool>(m_context.play);
    if (const std::optional<bool> shared = sharedCommandRule(command, track, selection, marker)) {
        return *shared;
    }
    const CommandRule rules[] = {
        {"_LogPitchMarker:", logVisible && marker},
        {"_LogPitchSelection:", logVisible && selection},
        {"_LogPitchAll:", logVisible && track},
        {"_Play:", track && canPlay},
        {"_PlaySelection:", selection && canPlay},
    };
    return enabledByRules(rules, command);
}

// --- computing ------------------------------------------------------------------

bool PitchWindowController::start()
{
    m_poll->stop();
    m_worker.reset();
    m_view->setTrack(nullptr, nullptr);
    m_track.reset();
    showReadout(std::nullopt);
    followTrackPage();
    refreshCommands();

    const MyDocument& document = *m_context.document;
    if (const std::optional<std::string> reason = cannotAnalyse(document, m_nChannel)) {
        showProgress(false, QString::fromStdString(*reason));
        return false;
    }
    const int index = m_nChannel;
    const Channels& channel = *channelWithSamples(document, index);
    const PitchParameters parameters = PitchParameters::fromDocument(document);
    m_worker =
        std::make_unique<PitchWorker>(channel, index, parameters, document.m_bPitchDrawIntensity);
    showInfo();
    showProgress(true, tr("Computing the pitch track…"));
    m_poll->start();
    pollWorker();
    return true;
}

void PitchWindowController::samplesChanged()
{
    start();
}

bool PitchWindowController::computing() const
{
    return m_worker != nullptr && m_worker->busy();
}

void PitchWindowController::cancelComputation()
{
    if (!m_worker) {
        return;
    }
    m_worker.reset(); // stops and joins
    endComputation(tr("Cancelled: no pitch track. Choose Analysis ▸ Pitch to compute it."));
}

void PitchWindowController::pollWorker()
{
    if (m_worker && m_worker->busy()) {
        setProgress(static_cast<int>(std::lround(m_worker->progress() * 100.0)));
        return;
    }
    if (!m_worker) {
        m_poll->stop(); // cancelled meanwhile: its status stays
        return;
    }
    const PitchWorker::Outcome outcome = m_worker->outcome();
    m_track = m_worker->take();
    m_worker.reset();
    QString status;
    if (m_track) {
        m_view->setTrack(m_track.get(), m_context.document);
        showInfo();
    } else if (outcome == PitchWorker::Outcome::Cancelled) {
        status = tr("Cancelled: no pitch track.");
    } else {
        status = tr("No pitch track could be computed with these settings (or memory ran out).");
    }
    followTrackPage();
    endComputation(status);
}

void PitchWindowController::showInfo()
{
    const MyDocument& document = *m_context.document;
    double rate = 0.0;
    double windowMs = document.m_dPitchWindowLength;
    bool precise = document.m_bPreciseAnalysis;
    if (m_track) {
        const PitchAnalysis& analysis = m_track->analysis;
        rate = m_track->channel.m_dSampleRate;
        precise = analysis.m_parameters.m_bPreciseAnalysis;
        // The window used: the classic one as cut to the transform, the
        // precise one as lengthened to three periods of the search floor.
        windowMs = precise && rate > 0.0 ? analysis.windowSamples() * 1000.0 / rate
                                         : analysis.m_parameters.m_dPitchWindowLength;
    } else {
        if (const Channels* audio = channelWithSamples(document, m_nChannel)) {
            rate = audio->m_dSampleRate;
        }
    }
    const auto whole = [](double v) {
        return std::isfinite(v) ? QString::number(static_cast<long long>(v)) : QString();
    };
    if (precise) {
        // The precise track decides voicing and jumps by its path search:
        // the threshold and deviation play no part in it.
        m_info->setText(tr("Precise analysis   Rate: %1 Hz   Window: %2 ms   Step: %3 ms   "
                           "Range: %4-%5 Hz")
                            .arg(whole(rate), whole(windowMs), whole(document.m_dPitchStepSize),
                                 whole(document.m_dCalculationLow),
                                 whole(document.m_dCalculationHigh)));
        return;
    }
    m_info->setText(tr("Classic analysis   Rate: %1 Hz   Window: %2 ms   Step: %3 ms   "
                       "Threshold: %4 %   Deviation: %5 Hz")
                        .arg(whole(rate), whole(windowMs), whole(document.m_dPitchStepSize),
                             whole(document.m_dTrackingThreshHold),
                             whole(document.m_dFreqDeviation)));
}

void PitchWindowController::showReadout(const std::optional<PitchReadout>& readout)
{
    std::optional<PitchReadout> shown = readout;
    const PitchAnalysis* analysis = m_track ? &m_track->analysis : nullptr;
    // Off the graph the readouts return to the marker's values.
    if (!shown && analysis != nullptr && analysis->m_bHaveMarker) {
        shown = PitchReadout{analysis->m_dLogMarkerTime, analysis->m_dLogMarkerPitch,
                             analysis->m_dLogMarkerIntensity};
    }
    m_pitch->setText(shown ? tr("Pitch: %1 Hz").arg(readoutNumber(shown->pitchHz, 1)) : QString());
    // Levels are in dB re full scale; without the intensity pane none is
    // measured, and the readout stays empty rather than show a level.
    const bool withIntensity =
        shown && analysis != nullptr && analysis->m_parameters.m_bPitchDrawIntensity;
    m_intensity->setText(withIntensity
                             ? tr("Intensity: %1 dBFS").arg(readoutNumber(shown->intensityDb, 1))
                             : QString());
    showTimeReadouts(shown ? std::optional(shown->timeMs) : std::nullopt,
                     analysis != nullptr && analysis->m_bHaveSelection
                         ? std::optional(analysis->m_dDurationTime)
                         : std::nullopt);
}

// --- zoom and scrolling ----------------------------------------------------------

void PitchWindowController::zoom(const char* command, int mode)
{
    if (!m_track || !isCommandEnabled(command)) {
        return;
    }
    m_track->analysis.CalibrateScroll(mode);
    followTrackPage();
    m_view->update();
    refreshCommands();
}

void PitchWindowController::followTrackPage()
{
    const PitchAnalysis* analysis = m_track ? &m_track->analysis : nullptr;
    if (analysis == nullptr || !(analysis->m_dZoomFactor < 1.0)) {
        followPage(0.0, 0.0, 0.0);
        return;
    }
    followPage(analysis->m_dTimePageMin, analysis->m_dTimePageMax - analysis->m_dTimePageMin,
               analysis->m_dLengthMS);
}

void PitchWindowController::pageScrolled(double startMs, bool atEnd)
{
    if (!m_track) {
        return;
    }
    PitchAnalysis& analysis = m_track->analysis;
    const double length = analysis.m_dwFileLength;
    if (!(length > 0.0) || !(analysis.m_dLengthMS > 0.0)) {
        return;
    }
    const double msPerSample = analysis.m_dLengthMS / length;
    TimePage page{analysis.m_dPageMin, analysis.m_dPageMax, 0.0, 0.0};
    // The last position shows the channel's end exactly.
    scrollPage(page, atEnd ? length : startMs / msPerSample, length);
    analysis.m_dPageMin = page.pageMin;
    analysis.m_dPageMax = page.pageMax;
    analysis.m_dTimePageMin = analysis.m_dPageMin * msPerSample;
    analysis.m_dTimePageMax = analysis.m_dPageMax * msPerSample;
    m_view->update();
}

// --- log entries -------------------------------------------------------------------

void PitchWindowController::LogPitchMarker()
{
    if (!isCommandEnabled("_LogPitchMarker:")) {
        return;
    }
    logRecords({m_track->analysis.markerLogRecord(documentName())});
}

void PitchWindowController::LogPitchSelection()
{
    if (isCommandEnabled("_LogPitchSelection:")) {
        const PitchTrack& track = *m_track;
        logRecords(track.analysis.selectionLogRecords(
            documentName(), [&track](double timeMs) { return track.intensityAt(timeMs); }));
    }
}

void PitchWindowController::LogPitchAll()
{
    if (isCommandEnabled("_LogPitchAll:")) {
        const PitchTrack& track = *m_track;
        logRecords(track.analysis.allLogRecords(
            documentName(), [&track](double timeMs) { return track.intensityAt(timeMs); }));
    }
}

void PitchWindowController::Play()
{
    if (isCommandEnabled("_Play:")) {
        const PitchAnalysis& analysis = m_track->analysis;
        m_context.play(analysis.m_nChannel, analysis.m_dPageMin,
                       analysis.m_dPageMax - analysis.m_dPageMin);
    }
}

void PitchWindowController::PlaySelection()
{
    if (isCommandEnabled("_PlaySelection:")) {
        const PitchAnalysis& analysis = m_track->analysis;
        const double start = std::min(analysis.m_dDurationStartFile, analysis.m_dDurationStopFile);
        const double stop = std::max(analysis.m_dDurationStartFile, analysis.m_dDurationStopFile);
        m_context.play(analysis.m_nChannel, start, stop - start);
    }
}

// --- picture and printout --------------------------------------------------------------

GraphDrawing PitchWindowController::pictureDrawing() const
{
    std::optional<PitchGraphInput> input = m_view->graphInput();
    if (!input) {
        return {};
    }
    return [input = std::move(*input)](QPainter& painter, QSize viewSizePx) {
        drawPitchGraph(painter, viewSizePx, input);
    };
}

} // namespace phonaxis
