#include "windows/ui/SpectrogramWindowController.h"

#include "analysis/PreciseFormants.h"
#include "display/ProgressWork.h"
#include "document/MyDocument.h"
#include "document/Prompts.h"
#include "model/Channels.h"
#include "windows/FormantTrack.h"
#include "windows/SpectrogramAnalysis.h"

#include <QAction>
#include <QLabel>
#include <QMetaMethod>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <span>
#include <vector>

namespace phonaxis {
namespace {

// The progress and the columns finished so far are redrawn this often
// while the worker runs.
constexpr int kPollMs = 500;
// A resize or a scroll computes again once it has held this long.
constexpr int kSettleMs = 250;
// The narrowest page a zoom shows, ms, and the page Zoom to Cursor shows.
constexpr double kSmallestPageMs = 20.0;
constexpr double kCursorPageMs = 1000.0;
// Rows one formant track log entry may add, and rows computed between two
// progress reports (a fraction of a second of work).
constexpr std::int64_t kMaxFormantTrackRows = 1'000'000;
constexpr int kFormantTrackBlockRows = 256;

const char* const kFileCommands[] = {"SaveasPict:", "printDocument:", nullptr, "performClose:"};
const char* const kZoomCommands[] = {
    "_ZoomUndo:", "_ZoomIn:", "_ZoomOut:", "_ZoomSelection:", "_ZoomCursor:", "_ZoomHome:"};
const char* const kAnalysisCommands[] = {"_AnalysisFFT:", "_AnalysisFFTSelection:", nullptr,
                                         "_PlotFormantAll:", "_PlotFormantSelection:"};
const char* const kLogCommands[] = {"_LogMarker:", "_LogDuration:", "_LogFormantsMarker:",
                                    "_LogFormantsSelection:", "_LogFormantTrack:"};
const char* const kSoundCommands[] = {"_Play:", "_PlayWindow:", "_PlaySelection:"};

} // namespace

std::optional<std::string> SpectrogramWindowController::cannotAnalyse(const MyDocument& document,
                                                                      int channel)
{
    const std::int32_t rangeHz = document.m_nSpecfrequencyRange;
    return whyNotAnalysable(document, channel,
                            [rangeHz](const Channels& audio) -> std::optional<std::string> {
        const double rate = audio.m_dSampleRate;
        if (rangeHz <= rate * 0.5) {
            return std::nullopt;
        }
        return "The frequency range of " + std::to_string(rangeHz) +
               " Hz is above half the sample rate of " + readoutNumber(rate, 0).toStdString() +
               " Hz. Choose a smaller range in Options ▸ Spectrogram.";
    });
}

SpectrogramWindowController::SpectrogramWindowController(AnalysisWindowContext context,
                                                         bool selection)
    : AnalysisWindowShell(std::move(context), "SpectrogramWindow", "spectrogram",
                          "Spectrogram:: "),
      m_bSelection(selection)
{
    m_settle = new QTimer(this);
    m_settle->setSingleShot(true);
    m_settle->setInterval(kSettleMs);
    connect(m_settle, &QTimer::timeout, this, &SpectrogramWindowController::resized);
    m_frequency = readoutLabel("_frequencyReadout", tr("Frequency"));
    m_view = new SpectrogramView(this);
    m_view->onReadout = [this](const std::optional<SpectrogramView::Readout>& readout) {
        showReadout(readout);
    };
    m_view->onMarksChanged = [this] {
        showReadout(std::nullopt);
        refreshCommands();
    };
    m_view->onResized = [this] { m_settle->start(); };
    buildContents("_spectrogram", "_cursorReadout", {m_frequency}, m_view, kPollMs);

    addMenus({{"&File", kFileCommands},
              {"&Zoom", kZoomCommands},
              {"&Analysis", kAnalysisCommands},
              {"&Log", kLogCommands},
              {"&Sound", kSoundCommands}});
    refreshCommands();
}

SpectrogramWindowController::~SpectrogramWindowController()
{
    // The view draws from the worker's snapshot; the worker (stopped and
    // joined by its destructor) goes with the window.
    m_view->setGraph(nullptr, nullptr);
    m_view->onResized = nullptr;
    m_graph.reset();
    m_worker.reset();
}

bool SpectrogramWindowController::spectrumConnected() const
{
    return isSignalConnected(
        QMetaMethod::fromSignal(&SpectrogramWindowController::spectrumRequested));
}

bool SpectrogramWindowController::formantsConnected() const
{
    return isSignalConnected(
        QMetaMethod::fromSignal(&SpectrogramWindowController::formantsRequested));
}

bool SpectrogramWindowController::isCommandEnabled(const std::string& command) const
{
    const SpectrogramResult* finished = result();
    const bool data = m_context.document != nullptr && m_context.document->m_bHaveData;
    const bool spectrogram = data && finished != nullptr;
    const bool marker = spectrogram && m_marks.m_bHaveMarker;
    const bool selection = spectrogram && m_marks.m_bHaveSelection;
    // Without formant tracking there are no formant records to log or plot.
    const bool formants = spectrogram && !finished->formants.empty();
    const bool logVisible = m_context.logVisible && m_context.logVisible();
    const bool canPlay = static_cast<bool>(m_context.play);
    // The picture needs a finished spectrogram; a zoom needs only a page.
    if (command == "SaveasPict:" || command == "printDocument:") {
        return spectrogram;
    }
    if (const std::optional<bool> shared =
            sharedCommandRule(command, data && m_page.has_value(), selection, marker)) {
        return *shared;
    }
    // Playing the whole channel is the main view's command.
    const CommandRule rules[] = {
        {"_AnalysisFFT:", marker && spectrumConnected()},
        {"_AnalysisFFTSelection:", selection && spectrumConnected()},
        {"_PlotFormantAll:", formants && formantsConnected()},
        {"_PlotFormantSelection:", formants && selection && formantsConnected()},
        {"_LogMarker:", logVisible && marker},
        {"_LogDuration:", logVisible && selection},
        {"_LogFormantsMarker:", logVisible && marker && formants},
        {"_LogFormantsSelection:", logVisible && selection && formants},
        {"_LogFormantTrack:", logVisible && formants},
        {"_Play:", false},
        {"_PlayWindow:", spectrogram && canPlay},
        {"_PlaySelection:", selection && canPlay},
    };
    return enabledByRules(rules, command);
}

// --- computing ------------------------------------------------------------------

bool SpectrogramWindowController::start()
{
    m_poll->stop();
    m_view->setGraph(nullptr, nullptr);
    m_graph.reset();
    m_bFinished = false;
    m_worker.reset(); // a computation still running is cancelled and joined
    m_preview = SpectrogramResult{};
    showReadout(std::nullopt);
    refreshCommands();

    m_bTooSmall = false;
    m_bPageMoved = false;
    const MyDocument& document = *m_context.document;
    const auto refuse = [this](const QString& reason) {
        showProgress(false, reason);
        m_view->setMessage(reason);
        return false;
    };
    if (const std::optional<std::string> reason = cannotAnalyse(document, m_nChannel)) {
        return refuse(QString::fromStdString(*reason));
    }
    // The label strip is there when labels are drawn and a shown channel has
    // some, as the picture lays it out.
    bool labels = false;
    for (int i = 0; i < document.channelsInUse(); ++i) {
        labels = labels ||
                 (document.getChannel(i).m_bShow && !document.getChannel(i).m_pArrayLabels.empty());
    }
    m_view->setFallbackLayout(labels && document.m_bSpecDrawLabels, document.m_bSpecDrawAudio);
    const SpectrogramGraphLayout layout = m_view->layout();
    if (layout.columns() <= 0 || layout.rows() <= 0) {
        m_bTooSmall = true;
        return refuse(tr("The window is too small for a spectrogram: make it larger."));
    }
    // The document window's summary of the channel makes the waveform
    // pane's extremes cheap however long the recording is.
    const MinMaxSummary* summary =
        m_context.channelSummary ? m_context.channelSummary(m_nChannel) : nullptr;
    SpectrogramInput input =
        m_page ? SpectrogramInput::fromDocumentRange(document, m_page->pageMin, m_page->pageMax,
                                                     layout.columns(), layout.rows(), summary,
                                                     m_nChannel)
               : SpectrogramInput::fromDocument(document, m_bSelection, layout.columns(),
                                                layout.rows(), summary, m_nChannel);
    if (!m_page) {
        m_page = TimePage{input.startTime, input.stopTime, input.startTime, input.stopTime};
    }
    followPage(m_page->pageMin, m_page->pageMax - m_page->pageMin, channelLengthMs());
    if (input.samples.empty() || !(input.stopTime > input.startTime)) {
        return refuse(m_bSelection ? tr("The selection holds no samples to analyse.")
                                   : tr("The audio channel holds no samples to analyse."));
    }
    showInfo(&input);
    // The finished result is shown at once, not at the next poll.
    m_worker = std::make_unique<SpectrogramWorker>(std::move(input), 0, [this] {
        QMetaObject::invokeMethod(
            this, [this] { pollWorker(); }, Qt::QueuedConnection);
    });
    showProgress(true, tr("Computing the spectrogram…"));
    m_view->setMessage(tr("Computing the spectrogram…"));
    m_poll->start();
    return true;
}

void SpectrogramWindowController::samplesChanged()
{
    m_marks.clear();
    start();
}

bool SpectrogramWindowController::computing() const
{
    return m_worker != nullptr && m_worker->busy();
}

const SpectrogramResult* SpectrogramWindowController::result() const
{
    return m_bFinished && m_graph ? m_graph->result : nullptr;
}

void SpectrogramWindowController::cancelComputation()
{
    if (!computing()) {
        return;
    }
    m_view->setGraph(nullptr, nullptr);
    m_graph.reset();
    m_worker.reset(); // stops and joins
    m_preview = SpectrogramResult{};
    const QString told = tr("Cancelled: no spectrogram. Choose Analysis ▸ Spectrogram to compute "
                            "it.");
    m_view->setMessage(told);
    endComputation(told);
}

void SpectrogramWindowController::pollWorker()
{
    // No worker: cancelled meanwhile, its status stays. Finished: a late
    // notice of a worker already shown.
    if (m_worker == nullptr || m_bFinished) {
        m_poll->stop();
        return;
    }
    if (m_worker->busy()) {
        const int percent = m_worker->progress();
        setProgress(percent);
        m_view->setMessage(tr("Computing the spectrogram… %1 %").arg(percent));
        showColumnsSoFar();
        return;
    }
    const SpectrogramResult& finished = m_worker->wait();
    m_view->setGraph(nullptr, nullptr);
    m_graph.reset();
    m_preview = SpectrogramResult{};
    if (!finished.m_bHaveSpectrogram) {
        m_worker.reset();
        const QString told = tr("No spectrogram could be computed with these settings (or memory "
                                "ran out).");
        m_view->setMessage(told);
        endComputation(told);
        return;
    }
    m_graph = spectrogramGraphInput(m_worker->input(), &finished, spectrogramImage(finished),
                                    *m_context.document);
    m_graph->title = spectrogramGraphTitle(pictureCaption(m_graph->startTime, m_graph->stopTime),
                                           m_graph->caption);
    m_bFinished = true;
    m_view->setGraph(&*m_graph, &m_marks);
    showReadout(std::nullopt);
    endComputation({});
}

void SpectrogramWindowController::showColumnsSoFar()
{
    std::vector<std::uint8_t> shown;
    SpectrogramResult soFar = m_worker->preview(shown);
    if (!soFar.m_bHaveSpectrogram) {
        return; // nothing finished yet: the progress message stays
    }
    QImage image = spectrogramImage(soFar, shown);
    // The view lets go of the old picture before it goes.
    m_view->setGraph(nullptr, nullptr);
    m_preview = std::move(soFar);
    m_graph =
        spectrogramGraphInput(m_worker->input(), &m_preview, std::move(image), *m_context.document);
    m_graph->title = spectrogramGraphTitle(pictureCaption(m_graph->startTime, m_graph->stopTime),
                                           m_graph->caption);
    // No marks while it computes: they are made on the finished picture.
    m_view->setGraph(&*m_graph, nullptr);
}

void SpectrogramWindowController::resized()
{
    // Computed again when the image area no longer matches the columns and
    // rows computed (or being computed), when the page has been scrolled
    // away from the one computed, or when the area has become large enough.
    const SpectrogramGraphLayout layout = m_view->layout();
    if (m_worker) {
        const SpectrogramInput& input = m_worker->input();
        if (m_bPageMoved || input.columns != layout.columns() || input.rows != layout.rows()) {
            start();
        }
    } else if (m_bTooSmall || m_bPageMoved) {
        start();
    }
}

// --- zoom and scrolling ----------------------------------------------------------

double SpectrogramWindowController::channelLengthMs() const
{
    const Channels* channel = channelWithSamples(*m_context.document, m_nChannel);
    return channel != nullptr && channel->m_dLengthMS > 0.0 ? channel->m_dLengthMS : 0.0;
}

void SpectrogramWindowController::zoom(const char* command, int mode)
{
    if (!isCommandEnabled(command)) {
        return;
    }
    ZoomLimits limits;
    limits.length = channelLengthMs();
    limits.smallest = kSmallestPageMs;
    limits.cursorSpan = kCursorPageMs;
    if (m_graph) {
        // The marks are in ms from the page's start.
        limits.selectionStart = m_graph->startTime + m_marks.m_dLogDurationStartTime;
        limits.selectionStop = m_graph->startTime + m_marks.m_dLogDurationStopTime;
        limits.cursor = m_marks.m_dLogMarkerTime;
    }
    zoomPage(*m_page, mode, limits);
    m_marks.clear();
    start();
}

void SpectrogramWindowController::pageScrolled(double startMs, bool atEnd)
{
    if (!m_page) {
        return;
    }
    const double length = channelLengthMs();
    scrollPage(*m_page, atEnd ? length : startMs, length);
    m_bPageMoved = true;
    // The image follows once the scroll bar rests: every page is computed
    // at the image's own resolution.
    m_settle->start();
}

void SpectrogramWindowController::showInfo(const SpectrogramInput* input)
{
    if (input == nullptr) {
        m_info->clear();
        return;
    }
    const SpectrogramParameters& p = input->parameters;
    const double rate = input->sampleRate;
    const int bandwidth = p.m_nFFTWindLength > 0 ? static_cast<int>(rate / p.m_nFFTWindLength) : 0;
    // The formant tracks' model: the precise analysis's ceiling (half the
    // rate where that is lower) or the classic LPC order.
    const QString model =
        p.m_bPreciseAnalysis
            ? tr("Precise analysis   Formants up to: %1 Hz")
                  .arg(std::lround(PreciseFormants(rate, p.m_dFormantCeiling).ceilingHz()))
            : tr("Classic analysis   LPC: %1").arg(p.m_nLPCCoefficients);
    m_info->setText(tr("%1   Rate: %2 Hz   N: %3   Range: %4 dB   Bandwidth: %5 Hz   "
                       "Pre-emphasis: %6")
                        .arg(model)
                        .arg(QString::number(static_cast<long long>(rate)))
                        .arg(p.m_nFFTWindLength)
                        .arg(p.m_nDynamicRange)
                        .arg(bandwidth)
                        .arg(readoutNumber(p.m_dPreEmphasis, 2)));
}

void SpectrogramWindowController::showReadout(const std::optional<SpectrogramView::Readout>& readout)
{
    std::optional<SpectrogramView::Readout> shown = readout;
    // Off the image the readouts return to the marker's values.
    const bool finished = result() != nullptr;
    if (!shown && finished && m_marks.m_bHaveMarker) {
        shown = SpectrogramView::Readout{m_marks.m_dLogMarkerTime, m_marks.m_dLogFreqValue};
    }
    m_frequency->setText(shown ? tr("Frequency: %1 Hz").arg(readoutNumber(shown->frequencyHz, 1))
                               : QString());
    showTimeReadouts(shown ? std::optional(shown->timeMs) : std::nullopt,
                     finished && m_marks.m_bHaveSelection
                         ? std::optional(m_marks.m_dLogDurationTime)
                         : std::nullopt);
}

// --- hand-overs --------------------------------------------------------------------

void SpectrogramWindowController::AnalysisFFT()
{
    if (!isCommandEnabled("_AnalysisFFT:")) {
        return;
    }
    // The track cursor: the first sample of the marker's column.
    const SpectrogramGraphInput& graph = *m_graph;
    const int columns = graph.result->columns;
    const int column = SpectrogramMarks::columnAt(m_marks.m_dLogMarkerTime, graph.startTime,
                                                  graph.stopTime, columns);
    const double sample = graph.startPoint + (graph.endPoint - graph.startPoint) / columns * column;
    emit spectrumRequested(sample, sample, false);
}

void SpectrogramWindowController::AnalysisFFTSelection()
{
    if (!isCommandEnabled("_AnalysisFFTSelection:")) {
        return;
    }
    const auto [start, stop] = selectionSamples();
    emit spectrumRequested(start, stop, true);
}

std::pair<double, double> SpectrogramWindowController::selectionSamples() const
{
    const SpectrogramGraphInput& graph = *m_graph;
    const double span = graph.stopTime - graph.startTime;
    const double samplesPerMs = span > 0.0 ? (graph.endPoint - graph.startPoint) / span : 0.0;
    return {graph.startPoint + m_marks.m_dLogDurationStartTime * samplesPerMs,
            graph.startPoint + m_marks.m_dLogDurationStopTime * samplesPerMs};
}

void SpectrogramWindowController::PlayWindow()
{
    if (!isCommandEnabled("_PlayWindow:")) {
        return;
    }
    const SpectrogramGraphInput& graph = *m_graph;
    m_context.play(m_nChannel, graph.startPoint, graph.endPoint - graph.startPoint);
}

void SpectrogramWindowController::PlaySelection()
{
    if (!isCommandEnabled("_PlaySelection:")) {
        return;
    }
    const auto [start, stop] = selectionSamples();
    m_context.play(m_nChannel, start, stop - start);
}

void SpectrogramWindowController::handOverFormants(bool selection)
{
    const SpectrogramGraphInput& graph = *m_graph;
    const SpectrogramResult& finished = *graph.result;
    int first = 0;
    int last = finished.columns;
    if (selection) {
        first = SpectrogramMarks::columnAt(graph.startTime + m_marks.m_dLogDurationStartTime,
                                           graph.startTime, graph.stopTime, finished.columns);
        last = SpectrogramMarks::columnAt(graph.startTime + m_marks.m_dLogDurationStopTime,
                                          graph.startTime, graph.stopTime, finished.columns) +
               1;
    }
    const FormantPlotColumns plot = PlotformantsFromSpectrogram(finished, first, last);
    const FormantDictionary formants{{"row", plot.row},
                                     {"f1", plot.f1},
                                     {"f2", plot.f2},
                                     {"f3", plot.f3},
                                     {"label", plot.label}};
    emit formantsRequested(formants, selection);
}

void SpectrogramWindowController::PlotFormantAll()
{
    if (isCommandEnabled("_PlotFormantAll:")) {
        handOverFormants(false);
    }
}

void SpectrogramWindowController::PlotFormantSelection()
{
    if (isCommandEnabled("_PlotFormantSelection:")) {
        handOverFormants(true);
    }
}

// --- log entries -------------------------------------------------------------------

void SpectrogramWindowController::LogMarker()
{
    if (isCommandEnabled("_LogMarker:")) {
        logRecords({SpectrogramLog::marker(documentName(), m_marks.m_dLogMarkerTime,
                                           m_marks.m_dLogFreqValue)});
    }
}

void SpectrogramWindowController::LogDuration()
{
    if (isCommandEnabled("_LogDuration:")) {
        logRecords({SpectrogramLog::duration(documentName(), m_graph->startTime,
                                             m_marks.m_dLogDurationStartTime,
                                             m_marks.m_dLogDurationStopTime)});
    }
}

void SpectrogramWindowController::LogFormantsMarker()
{
    if (!isCommandEnabled("_LogFormantsMarker:")) {
        return;
    }
    const SpectrogramGraphInput& graph = *m_graph;
    const int column = SpectrogramMarks::columnAt(m_marks.m_dLogMarkerTime, graph.startTime,
                                                  graph.stopTime, graph.result->columns);
    logRecords({SpectrogramLog::formantsMarker(documentName(), *graph.result,
                                               m_marks.m_dLogMarkerTime, column)});
}

void SpectrogramWindowController::LogFormantsSelection()
{
    if (!isCommandEnabled("_LogFormantsSelection:")) {
        return;
    }
    const SpectrogramGraphInput& graph = *m_graph;
    const double stepMs = m_worker->input().parameters.m_dLogStepSize;
    const std::vector<LogRecord> records = SpectrogramLog::formantsSelection(
        documentName(), *graph.result, graph.startTime, graph.stopTime,
        m_marks.m_dLogDurationStartTime, m_marks.m_dLogDurationStopTime, stepMs);
    if (records.empty() && m_context.prompts != nullptr) {
        m_context.prompts->alert("Nothing logged.",
                                 "The log step (Options ▸ Log) must be longer than 0 ms and give "
                                 "at most a million rows over the selection.",
                                 "OK");
        return;
    }
    logRecords(records);
}

void SpectrogramWindowController::LogFormantTrack()
{
    if (!isCommandEnabled("_LogFormantTrack:")) {
        return;
    }
    const MyDocument& document = *m_context.document;
    const Channels* audio = channelWithSamples(document, m_nChannel);
    if (audio == nullptr) {
        return;
    }
    const SpectrogramGraphInput& graph = *m_graph;
    FormantTrackInput input;
    input.samples = audio->samples();
    input.sampleRate = audio->m_dSampleRate;
    input.stepMs = document.m_dLogStepSize;
    input.fromMs = graph.startTime;
    input.toMs = graph.stopTime;
    if (m_marks.m_bHaveSelection) {
        input.fromMs = graph.startTime + m_marks.m_dLogDurationStartTime;
        input.toMs = graph.startTime + m_marks.m_dLogDurationStopTime;
    }
    input.parameters = FormantTrackParameters::fromDocument(document);
    const std::int64_t total = FormantTrackRows::of(input.stepMs, input.fromMs, input.toMs).count();
    const std::string refusal = formantTrackRefusal(input);
    if (total < 1 || total > kMaxFormantTrackRows || !refusal.empty()) {
        if (m_context.prompts != nullptr) {
            m_context.prompts->alert(
                "Nothing logged.",
                refusal.empty() ? "The log step (Options ▸ Log) must give at least one and at "
                                  "most a million rows over the range."
                                : "The formant track cannot be computed: " + refusal + ".",
                "OK");
        }
        return;
    }
    const std::string name = documentName();
    std::vector<LogRecord> records;
    bool cancelled = false;
    FormantTrackEnd end = FormantTrackEnd::Failed;
    {
        // Modal while it runs: the document's samples stay as they are.
        ProgressWork work(this, tr("Computing the formant track…"), m_context.progressDriver);
        const WorkProgress& progress = work.progress();
        try {
            records.reserve(static_cast<std::size_t>(total));
            end = DoFormantTrack(
                input,
                [&](std::span<const FormantTrackRow> rows) {
                    for (const FormantTrackRow& row : rows) {
                        records.push_back(FormantTrackLog::record(name, row));
                    }
                    return progress.report(static_cast<double>(records.size()) /
                                           static_cast<double>(total));
                },
                nullptr, 0, kFormantTrackBlockRows);
        } catch (const std::bad_alloc&) {
            end = FormantTrackEnd::Failed;
        }
        cancelled = work.cancelled();
    }
    if (cancelled) {
        return;
    }
    if (end != FormantTrackEnd::Done) {
        if (m_context.prompts != nullptr) {
            m_context.prompts->alert("Nothing logged.",
                                     "The formant track could not be computed (memory ran out).",
                                     "OK");
        }
        return;
    }
    logRecords(records);
}

// --- picture and printout --------------------------------------------------------------

GraphDrawing SpectrogramWindowController::pictureDrawing() const
{
    if (!m_graph) {
        return {};
    }
    const SpectrogramGraphInput* graph = &*m_graph;
    return [graph](QPainter& painter, QSize viewSizePx) {
        drawSpectrogramGraph(painter, viewSizePx, *graph);
    };
}

} // namespace phonaxis
