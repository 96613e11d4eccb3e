#include "windows/ui/PitchWindowController.h"

#include "document/MyDocument.h"
#include "document/Prompts.h"
#include "model/Channels.h"
#include "windows/PitchWorker.h"
#include "windows/ui/AnalysisWindowMenus.h"
#include "windows/ui/AnalysisWindowPictures.h"

#include <QAction>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace phonaxis {
namespace {

constexpr int kPollMs = 100;
// Scroll bar positions are whole ms; a recording longer than this scrolls
// in coarser steps.
constexpr double kMaxScrollMs = 1.0e9;

const char* const kFileCommands[] = {"SaveasPict:", "printDocument:", nullptr, "performClose:"};
const char* const kZoomCommands[] = {
    "_ZoomUndo:", "_ZoomIn:", "_ZoomOut:", "_ZoomSelection:", "_ZoomCursor:", "_ZoomHome:"};
const char* const kLogCommands[] = {"_LogPitchMarker:", "_LogPitchSelection:", "_LogPitchAll:"};
const char* const kSoundCommands[] = {"_Play:", "_PlaySelection:"};

// The document's audio channel with samples, or null.
const Channels* audioChannel(const MyDocument& document, int& index)
{
    index = document.audioChannelIndex();
    if (index < 0 || document.getChannel(index).samples().empty()) {
        return nullptr;
    }
    return &document.getChannel(index);
}

QString number(double value, int decimals)
{
    return std::isfinite(value) ? QString::number(value, 'f', decimals) : QString();
}

// The drawing of a pitch graph for pictures and printing.
GraphDrawing drawingOf(const PitchGraphInput& input)
{
    return [input](QPainter& painter, QSize viewSizePx) {
        drawPitchGraph(painter, viewSizePx, input);
    };
}

} // namespace

std::optional<std::string> PitchWindowController::cannotAnalyse(const MyDocument& document)
{
    int index = -1;
    const Channels* audio = audioChannel(document, index);
    if (audio == nullptr) {
        return std::string("The document has no audio channel with samples to analyse.");
    }
    // Frames closer than one sample would start on the same sample.
    const double sampleMs = audio->m_dSampleRate > 0.0 ? 1000.0 / audio->m_dSampleRate : 0.0;
    const double stepMs = document.m_dPitchStepSize;
    if (!(sampleMs > 0.0) || !(stepMs >= sampleMs)) {
        return "The pitch step of " + number(stepMs, 3).toStdString() +
               " ms is shorter than one sample at " +
               number(audio->m_dSampleRate, 0).toStdString() + " Hz (" +
               number(sampleMs, 3).toStdString() + " ms). Choose a longer step in Options ▸ Pitch.";
    }
    return std::nullopt;
}

PitchWindowController::PitchWindowController(AnalysisWindowContext context)
    : m_context(std::move(context))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("PitchWindow"));
    const QString name = m_context.displayName ? m_context.displayName() : QString();
    setWindowTitle(QString::fromLatin1(kTitlePrefix) + name);
    buildContents();
    buildMenus();
    m_poll = new QTimer(this);
    m_poll->setInterval(kPollMs);
    connect(m_poll, &QTimer::timeout, this, &PitchWindowController::pollWorker);
    resize(800, 560);
    refreshCommands();
}

PitchWindowController::~PitchWindowController()
{
    // The view refers to the track; the worker (stopped and joined by its
    // destructor) goes with the window.
    m_view->setTrack(nullptr, nullptr);
    m_worker.reset();
}

void PitchWindowController::buildContents()
{
    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);

    const auto field = [&](const char* objectName, const QString& accessible) {
        auto* label = new QLabel(central);
        label->setObjectName(QString::fromLatin1(objectName));
        label->setAccessibleName(accessible);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        return label;
    };
    m_info = field("_pitchInfo", tr("Analysis settings"));
    column->addWidget(m_info);

    auto* readouts = new QHBoxLayout;
    m_time = field("_timeReadout", tr("Time"));
    m_pitch = field("_pitchReadout", tr("Pitch"));
    m_intensity = field("_intensityReadout", tr("Intensity"));
    m_duration = field("_durationReadout", tr("Selection duration"));
    for (QLabel* label : {m_time, m_pitch, m_intensity, m_duration}) {
        readouts->addWidget(label, 1);
    }
    column->addLayout(readouts);

    m_view = new PitchView(central);
    m_view->setObjectName(QStringLiteral("PitchView"));
    m_view->onReadout = [this](const std::optional<PitchReadout>& readout) {
        showReadout(readout);
    };
    m_view->onSelectionChanged = [this] { refreshCommands(); };
    column->addWidget(m_view, 1);

    m_scroller = new QScrollBar(Qt::Horizontal, central);
    m_scroller->setObjectName(QStringLiteral("_pitchScroller"));
    m_scroller->setAccessibleName(tr("Scroll the pitch track"));
    m_scroller->hide();
    connect(m_scroller, &QScrollBar::valueChanged, this, &PitchWindowController::scrolled);
    column->addWidget(m_scroller);

    auto* progressRow = new QHBoxLayout;
    m_status = field("_pitchStatus", tr("Pitch track status"));
    m_progress = new QProgressBar(central);
    m_progress->setObjectName(QStringLiteral("_pitchProgress"));
    m_progress->setAccessibleName(tr("Pitch track progress"));
    m_progress->setRange(0, 100);
    m_cancel = new QPushButton(tr("Cancel"), central);
    m_cancel->setObjectName(QStringLiteral("_pitchCancel"));
    m_cancel->setAccessibleName(tr("Cancel the pitch track"));
    connect(m_cancel, &QPushButton::clicked, this, &PitchWindowController::cancelComputation);
    progressRow->addWidget(m_status, 1);
    progressRow->addWidget(m_progress, 1);
    progressRow->addWidget(m_cancel);
    column->addLayout(progressRow);
    showProgress(false, QString());

    setCentralWidget(central);
}

void PitchWindowController::buildMenus()
{
    const auto addMenu = [this](const char* title, std::span<const char* const> commands) {
        addCommandMenu(*this, title, commands, [this] { refreshCommands(); });
    };
    addMenu("&File", kFileCommands);
    addMenu("&Zoom", kZoomCommands);
    addMenu("&Log", kLogCommands);
    addMenu("&Sound", kSoundCommands);
    addApplicationMenus(*this, *menuBar());

    const auto on = [this](const char* name, void (PitchWindowController::*slot)()) {
        connect(action(QString::fromLatin1(name)), &QAction::triggered, this, slot);
    };
    on("SaveasPict:", &PitchWindowController::SaveasPict);
    on("printDocument:", &PitchWindowController::printDocument);
    connect(action(QStringLiteral("performClose:")), &QAction::triggered, this, &QWidget::close);
    on("_ZoomUndo:", &PitchWindowController::ZoomUndo);
    on("_ZoomIn:", &PitchWindowController::ZoomIn);
    on("_ZoomOut:", &PitchWindowController::ZoomOut);
    on("_ZoomSelection:", &PitchWindowController::ZoomSelection);
    on("_ZoomCursor:", &PitchWindowController::ZoomCursor);
    on("_ZoomHome:", &PitchWindowController::ZoomHome);
    on("_LogPitchMarker:", &PitchWindowController::LogPitchMarker);
    on("_LogPitchSelection:", &PitchWindowController::LogPitchSelection);
    on("_LogPitchAll:", &PitchWindowController::LogPitchAll);
    on("_Play:", &PitchWindowController::Play);
    on("_PlaySelection:", &PitchWindowController::PlaySelection);
}

QAction* PitchWindowController::action(const QString& command) const
{
    return commandAction(*this, command);
}

bool PitchWindowController::isCommandEnabled(const std::string& command) const
{
    const PitchAnalysis* analysis = m_track ? &m_track->analysis : nullptr;
    const bool track = analysis != nullptr && analysis->m_bHavePitch;
    const bool marker = track && analysis->m_bHaveMarker;
    const bool selection = track && analysis->m_bHaveSelection;
    const bool logVisible = m_context.logVisible && m_context.logVisible();
    if (command == "_ZoomIn:" || command == "_ZoomOut:" || command == "SaveasPict:" ||
        command == "printDocument:") {
        return track;
    }
    if (command == "_ZoomSelection:") {
        return selection;
    }
    if (command == "_ZoomCursor:") {
        return marker;
    }
    if (command == "_LogPitchMarker:") {
        return logVisible && marker;
    }
    if (command == "_LogPitchSelection:") {
        return logVisible && selection;
    }
    if (command == "_LogPitchAll:") {
        return logVisible && track;
    }
    if (command == "_Play:") {
        return track && static_cast<bool>(m_context.play);
    }
    if (command == "_PlaySelection:") {
        return selection && static_cast<bool>(m_context.play);
    }
    return true; // Close, Undo Zoom, Zoom Home
}

void PitchWindowController::refreshCommands()
{
    refreshCommandActions(*this,
                          [this](const std::string& name) { return isCommandEnabled(name); });
}

void PitchWindowController::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // Shortcuts act on the enabling of the moment: the log window may have
    // been shown or closed while another window was active.
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        refreshCommands();
    }
}

// --- computing ------------------------------------------------------------------

bool PitchWindowController::start()
{
    m_poll->stop();
    m_worker.reset();
    m_view->setTrack(nullptr, nullptr);
    m_track.reset();
    showReadout(std::nullopt);
    followPage();
    refreshCommands();

    const MyDocument& document = *m_context.document;
    if (const std::optional<std::string> reason = cannotAnalyse(document)) {
        showProgress(false, QString::fromStdString(*reason));
        return false;
    }
    int index = -1;
    const Channels& channel = *audioChannel(document, index);
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
    m_poll->stop();
    m_worker.reset(); // stops and joins
    showProgress(false, tr("Cancelled: no pitch track. Choose Analysis ▸ Pitch to compute it."));
    refreshCommands();
}

void PitchWindowController::pollWorker()
{
    if (!m_worker) {
        m_poll->stop();
        return;
    }
    if (m_worker->busy()) {
        m_progress->setValue(static_cast<int>(std::lround(m_worker->progress() * 100.0)));
        return;
    }
    m_poll->stop();
    const PitchWorker::Outcome outcome = m_worker->outcome();
    m_track = m_worker->take();
    m_worker.reset();
    if (m_track) {
        m_view->setTrack(m_track.get(), m_context.document);
        showInfo();
        showProgress(false, QString());
    } else if (outcome == PitchWorker::Outcome::Cancelled) {
        showProgress(false, tr("Cancelled: no pitch track."));
    } else {
        showProgress(false, tr("No pitch track could be computed with these settings (or memory "
                               "ran out)."));
    }
    followPage();
    refreshCommands();
}

void PitchWindowController::showProgress(bool computing, const QString& status)
{
    m_status->setText(status);
    m_status->setVisible(!status.isEmpty());
    m_progress->setVisible(computing);
    m_cancel->setVisible(computing);
    if (computing) {
        m_progress->setValue(0);
    }
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
        int index = -1;
        if (const Channels* audio = audioChannel(document, index)) {
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
    m_time->setText(shown ? tr("Time: %1 ms").arg(number(shown->timeMs, 1)) : QString());
    m_pitch->setText(shown ? tr("Pitch: %1 Hz").arg(number(shown->pitchHz, 1)) : QString());
    // Levels are in dB re full scale; without the intensity pane none is
    // measured, and the readout stays empty rather than show a level.
    const bool withIntensity =
        shown && analysis != nullptr && analysis->m_parameters.m_bPitchDrawIntensity;
    m_intensity->setText(withIntensity ? tr("Intensity: %1 dBFS").arg(number(shown->intensityDb, 1))
                                       : QString());
    m_duration->setText(analysis != nullptr && analysis->m_bHaveSelection
                            ? tr("Duration: %1 ms").arg(number(analysis->m_dDurationTime, 1))
                            : QString());
}

// --- zoom and scrolling ----------------------------------------------------------

void PitchWindowController::zoom(const char* command, int mode)
{
    if (!m_track || !isCommandEnabled(command)) {
        return;
    }
    m_track->analysis.CalibrateScroll(mode);
    followPage();
    m_view->update();
    refreshCommands();
}

void PitchWindowController::followPage()
{
    const PitchAnalysis* analysis = m_track ? &m_track->analysis : nullptr;
    if (analysis == nullptr || !(analysis->m_dZoomFactor < 1.0)) {
        m_scroller->hide();
        return;
    }
    const double lengthMs = std::min(analysis->m_dLengthMS, kMaxScrollMs);
    const double spanMs = analysis->m_dTimePageMax - analysis->m_dTimePageMin;
    m_bFollowing = true;
    m_scroller->setRange(0, static_cast<int>(std::max(0.0, lengthMs - spanMs)));
    m_scroller->setPageStep(std::max(1, static_cast<int>(spanMs)));
    m_scroller->setSingleStep(std::max(1, static_cast<int>(spanMs / 10.0)));
    m_scroller->setValue(static_cast<int>(analysis->m_dTimePageMin));
    m_bFollowing = false;
    m_scroller->show();
}

void PitchWindowController::scrolled(int valueMs)
{
    if (m_bFollowing || !m_track) {
        return;
    }
    PitchAnalysis& analysis = m_track->analysis;
    const double length = analysis.m_dwFileLength;
    if (!(length > 0.0) || !(analysis.m_dLengthMS > 0.0)) {
        return;
    }
    const double msPerSample = analysis.m_dLengthMS / length;
    const double span = analysis.m_dPageMax - analysis.m_dPageMin;
    const double last = std::max(0.0, length - span);
    // The last position shows the channel's end exactly.
    const double start =
        valueMs >= m_scroller->maximum() ? last : std::clamp(valueMs / msPerSample, 0.0, last);
    analysis.m_dPageMin = start;
    analysis.m_dPageMax = start + span;
    analysis.m_dTimePageMin = analysis.m_dPageMin * msPerSample;
    analysis.m_dTimePageMax = analysis.m_dPageMax * msPerSample;
    m_view->update();
}

// --- log entries -------------------------------------------------------------------

void PitchWindowController::logRecords(const std::vector<LogRecord>& records)
{
    if (!m_context.addLog) {
        return;
    }
    for (const LogRecord& record : records) {
        m_context.addLog(record);
    }
}

void PitchWindowController::LogPitchMarker()
{
    if (!isCommandEnabled("_LogPitchMarker:")) {
        return;
    }
    logRecords({m_track->analysis.markerLogRecord(m_context.displayName().toStdString())});
}

void PitchWindowController::LogPitchSelection()
{
    if (isCommandEnabled("_LogPitchSelection:")) {
        const PitchTrack& track = *m_track;
        logRecords(track.analysis.selectionLogRecords(
            m_context.displayName().toStdString(),
            [&track](double timeMs) { return track.intensityAt(timeMs); }));
    }
}

void PitchWindowController::LogPitchAll()
{
    if (isCommandEnabled("_LogPitchAll:")) {
        const PitchTrack& track = *m_track;
        logRecords(track.analysis.allLogRecords(
            m_context.displayName().toStdString(),
            [&track](double timeMs) { return track.intensityAt(timeMs); }));
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

std::optional<PitchGraphInput> PitchWindowController::pictureInput() const
{
    return m_view->graphInput();
}

void PitchWindowController::SaveasPict()
{
    const std::optional<PitchGraphInput> input = pictureInput();
    if (!isCommandEnabled("SaveasPict:") || !input) {
        return;
    }
    saveAnalysisPicture(m_context, m_view->size(), drawingOf(*input), "pitch track");
}

void PitchWindowController::printDocument()
{
    const std::optional<PitchGraphInput> input = pictureInput();
    if (!isCommandEnabled("printDocument:") || !input) {
        return;
    }
    printAnalysisGraph(m_context, this, m_view->size(), drawingOf(*input));
}

} // namespace phonaxis
