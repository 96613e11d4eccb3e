#include "windows/ui/VoiceReportWindow.h"

#include "display/ProgressWork.h"
#include "document/MyDocument.h"
#include "document/NumberText.h"
#include "document/Prompts.h"
#include "log/VoiceLogEntries.h"
#include "model/Channels.h"
#include "windows/VoiceReportTable.h"

#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

namespace phonaxis {
namespace {

const char* const kFileCommands[] = {"performClose:"};
const char* const kEditCommands[] = {"_EditCopy:"};
const char* const kLogCommands[] = {"_LogVoiceReport:"};

constexpr const char* kNoEggChannel = "No EGG channel";

QString ms(double value)
{
    return QString::fromStdString(fixedNumber(value, 1));
}

} // namespace

std::optional<std::string> VoiceReportWindow::cannotAnalyse(const MyDocument& document, int channel)
{
    return whyNotAnalysable(document, channel,
                            [](const Channels&) { return std::optional<std::string>(); });
}

VoiceReportWindow::VoiceReportWindow(AnalysisWindowContext context, double fromMs, double toMs,
                                     int eggChannel)
    : AnalysisWindowShell(std::move(context), "VoiceReportWindow", "voice report",
                          "Voice Report:: "),
      m_fromMs(std::min(fromMs, toMs)), m_toMs(std::max(fromMs, toMs))
{
    const MyDocument* document = m_context.document;
    if (document != nullptr && eggChannel >= 0 && eggChannel < document->channelsInUse() &&
        eggChannel != m_nChannel) {
        m_eggChannel = eggChannel;
    }

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    m_selection = new QLabel(central);
    m_selection->setObjectName(QStringLiteral("_voiceInfo"));
    m_selection->setAccessibleName(tr("Voice report settings"));
    m_selection->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(m_selection);

    m_table = new QTableWidget(central);
    m_table->setObjectName(QStringLiteral("_voiceTable"));
    m_table->setAccessibleName(tr("Voice report"));
    m_table->setAccessibleDescription(
        tr("Measures of the selection from the audio and from the EGG"));
    m_table->setColumnCount(2);
    m_table->setHorizontalHeaderLabels({tr("Audio"), tr("EGG")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setWordWrap(true);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    // Rows as tall as a line of text, so that the whole report shows at once.
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    column->addWidget(m_table, 1);

    m_messages = new QLabel(central);
    m_messages->setObjectName(QStringLiteral("_voiceMessages"));
    m_messages->setAccessibleName(tr("Voice report messages"));
    m_messages->setWordWrap(true);
    m_messages->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(m_messages);

    auto* progressRow = new QHBoxLayout;
    m_status = new QLabel(central);
    m_status->setObjectName(QStringLiteral("_voiceStatus"));
    m_status->setAccessibleName(tr("Voice report status"));
    m_progress = new QProgressBar(central);
    m_progress->setObjectName(QStringLiteral("_voiceProgress"));
    m_progress->setAccessibleName(tr("Voice report progress"));
    m_progress->setRange(0, 0); // the engine tells no fraction: a busy bar
    m_cancel = new QPushButton(tr("Cancel"), central);
    m_cancel->setObjectName(QStringLiteral("_voiceCancel"));
    m_cancel->setAccessibleName(tr("Cancel the voice report"));
    connect(m_cancel, &QPushButton::clicked, this, [this] { cancelComputation(); });
    progressRow->addWidget(m_status, 1);
    progressRow->addWidget(m_progress, 1);
    progressRow->addWidget(m_cancel);
    column->addLayout(progressRow);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_log = new QPushButton(tr("Log"), central);
    m_log->setObjectName(QStringLiteral("_voiceLog"));
    m_log->setAccessibleName(tr("Add the voice report to the measurement log"));
    m_copy = new QPushButton(tr("Copy"), central);
    m_copy->setObjectName(QStringLiteral("_voiceCopy"));
    m_copy->setAccessibleName(tr("Copy the voice report as text"));
    connect(m_log, &QPushButton::clicked, this, [this] { LogVoiceReport(); });
    connect(m_copy, &QPushButton::clicked, this, [this] { EditCopy(); });
    buttons->addWidget(m_log);
    buttons->addWidget(m_copy);
    column->addLayout(buttons);
    setCentralWidget(central);

    addMenus({{"&File", kFileCommands}, {"&Edit", kEditCommands}, {"&Log", kLogCommands}});
    showProgressRow(false, QString());
    showReports();
    resize(520, 640);
}

VoiceReportWindow::~VoiceReportWindow()
{
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

bool VoiceReportWindow::isCommandEnabled(const std::string& command) const
{
    const bool logVisible = m_context.logVisible && m_context.logVisible();
    const CommandRule rules[] = {
        {"_EditCopy:", !computing()},
        {"_LogVoiceReport:", hasMeasures() && logVisible},
    };
    return enabledByRules(rules, command);
}

// --- computing ------------------------------------------------------------------

void VoiceReportWindow::start()
{
    // A report already under way is stopped; its answer, still queued
    // perhaps, carries an older generation and is dropped.
    if (m_thread.joinable()) {
        m_stop = true;
        m_thread.join();
    }
    m_stop = false;
    m_cancelled = false;
    const int generation = ++m_generation;
    const MyDocument& document = *m_context.document;
    const VoiceSettings settings{PitchParameters::fromDocument(document)};
    const QString range = QStringLiteral("%1–%2 Hz")
                              .arg(QString::fromStdString(messageNumber(settings.floorHz())),
                                   QString::fromStdString(messageNumber(settings.ceilingHz())));
    QString egg = tr("none");
    if (m_eggChannel >= 0) {
        const std::string title = document.getChannel(m_eggChannel).GetTitle();
        egg =
            title.empty() ? tr("channel %1").arg(m_eggChannel + 1) : QString::fromStdString(title);
    }
    m_selection->setText(tr("Selection: %1–%2 ms (%3 ms)   Pitch range: %4   EGG: %5")
                             .arg(ms(m_fromMs), ms(m_toMs), ms(m_toMs - m_fromMs), range, egg));

    makeEggReport(settings);

    std::string why;
    const Channels* audio = channelWithSamples(document, m_nChannel, &why);
    if (audio == nullptr) {
        VoiceReport none;
        none.message = why;
        m_audio = std::move(none);
        showReports();
        return;
    }
    // The worker reads its own copy: the document may be edited meanwhile.
    auto samples = std::make_shared<const std::vector<float>>(audio->samples().begin(),
                                                              audio->samples().end());
    const double rateHz = audio->m_dSampleRate;
    m_audio.reset();
    showProgressRow(true, tr("Computing the voice report…"));
    showReports();
    m_thread =
        std::thread([this, samples, rateHz, settings, generation, from = m_fromMs, to = m_toMs] {
            VoiceReport report = audioVoiceReport(*samples, rateHz, from, to, settings, &m_stop);
            // Queued to the window; dropped if the window is gone by then (its
            // destructor joins this thread first, so `this` is alive here).
            QMetaObject::invokeMethod(
                this,
                [this, generation, report = std::move(report)]() mutable {
                    audioFinished(generation, std::move(report));
                },
                Qt::QueuedConnection);
        });
}

void VoiceReportWindow::makeEggReport(const VoiceSettings& settings)
{
    m_egg = VoiceReport{};
    if (m_eggChannel < 0) {
        m_egg.message = kNoEggChannel;
        return;
    }
    Channels& channel = m_context.document->getChannel(m_eggChannel);
    bool analysed = false;
    bool cancelled = false;
    {
        ProgressWork work(
            this,
            tr("Analysing the EGG channel “%1”…").arg(QString::fromStdString(channel.GetTitle())),
            m_context.progressDriver);
        analysed = channel.EggAnalysisAll(work.progress());
        cancelled = work.cancelled();
    }
    if (!analysed) {
        m_egg.message =
            cancelled ? "the EGG analysis was cancelled" : "the EGG channel could not be analysed";
        return;
    }
    m_egg = eggVoiceReport(channel, m_fromMs, m_toMs, settings);
}

void VoiceReportWindow::audioFinished(int generation, VoiceReport report)
{
    if (m_cancelled || generation != m_generation) {
        return; // cancelled (the column says so) or superseded
    }
    m_audio = std::move(report);
    showProgressRow(false, QString());
    showReports();
}

void VoiceReportWindow::cancelComputation()
{
    if (!computing()) {
        return;
    }
    // The worker stops at its next check and its answer is dropped; the
    // destructor joins it.
    m_stop = true;
    m_cancelled = true;
    VoiceReport cancelled;
    cancelled.message = "cancelled: no audio report";
    m_audio = std::move(cancelled);
    showProgressRow(false, tr("Cancelled."));
    showReports();
}

// --- showing --------------------------------------------------------------------

void VoiceReportWindow::showProgressRow(bool busy, const QString& status)
{
    m_status->setText(status);
    m_status->setVisible(!status.isEmpty());
    m_progress->setVisible(busy);
    m_cancel->setVisible(busy);
}

void VoiceReportWindow::showReports()
{
    VoiceReport pending;
    pending.message = "computing…";
    const VoiceReport& audio = m_audio ? *m_audio : pending;
    const VoiceReportTable table = voiceReportTable(audio, m_egg);

    m_table->clearSpans();
    m_table->setRowCount(static_cast<int>(table.rows.size()));
    QStringList measures;
    for (std::size_t r = 0; r < table.rows.size(); ++r) {
        const VoiceReportTable::Row& row = table.rows[r];
        measures.push_back(QString::fromStdString(row.measure));
        int column = 0;
        for (const std::string* text : {&row.audio, &row.egg}) {
            auto* item = new QTableWidgetItem(QString::fromStdString(*text));
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_table->setItem(static_cast<int>(r), column++, item);
        }
    }
    m_table->setVerticalHeaderLabels(measures);
    // A column without measures is one cell with its message.
    const int rows = m_table->rowCount();
    const std::string* messages[] = {&table.audioMessage, &table.eggMessage};
    QStringList lines;
    for (int column = 0; column < 2; ++column) {
        if (messages[column]->empty() || rows == 0) {
            continue;
        }
        m_table->setSpan(0, column, rows, 1);
        m_table->item(0, column)->setTextAlignment(Qt::AlignHCenter | Qt::AlignTop);
        lines.push_back((column == 0 ? tr("Audio: %1") : tr("EGG: %1"))
                            .arg(QString::fromStdString(*messages[column])));
    }
    m_messages->setText(lines.join(QLatin1Char('\n')));
    m_messages->setVisible(!lines.isEmpty());
    refreshAll();
}

QString VoiceReportWindow::tableText() const
{
    VoiceReport pending;
    pending.message = "computing…";
    return QString::fromStdString(voiceReportTable(m_audio ? *m_audio : pending, m_egg).text());
}

void VoiceReportWindow::refreshAll()
{
    refreshCommands();
    // The button, unlike the menu entry, stays at hand without a log shown
    // and says what to do.
    m_log->setEnabled(hasMeasures());
    m_copy->setEnabled(isCommandEnabled("_EditCopy:"));
}

bool VoiceReportWindow::hasMeasures() const
{
    return !computing() && ((m_audio && m_audio->ok()) || m_egg.ok());
}

// --- commands -------------------------------------------------------------------

void VoiceReportWindow::EditCopy()
{
    if (!isCommandEnabled("_EditCopy:")) {
        return;
    }
    QApplication::clipboard()->setText(tableText());
}

void VoiceReportWindow::LogVoiceReport()
{
    if (!hasMeasures()) {
        return;
    }
    if (!(m_context.logVisible && m_context.logVisible())) {
        if (m_context.prompts != nullptr) {
            m_context.prompts->alert("No measurement log is shown.",
                                     "Choose Log ▸ New Log or Log ▸ Open Log… first, then log the "
                                     "voice report.",
                                     "OK");
        }
        return;
    }
    logRecords(voiceReportLogRecords(documentName(), m_fromMs, m_toMs,
                                     m_audio ? &*m_audio : nullptr, &m_egg));
}

void VoiceReportWindow::changeEvent(QEvent* event)
{
    AnalysisWindowShell::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        refreshAll();
    }
}

} // namespace phonaxis
