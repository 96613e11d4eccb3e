#include "windows/ui/AnalysisWindowShell.h"

#include "display/MenuCommands.h"
#include "document/MyDocument.h"
#include "document/NumberText.h"
#include "model/Channels.h"
#include "windows/ui/AnalysisWindowMenus.h"
#include "windows/ui/AnalysisWindowPictures.h"

#include <QAction>
#include <QByteArray>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace phonaxis {
namespace {

// Scroll bar positions are whole ms; a recording longer than this scrolls
// in coarser steps.
constexpr double kMaxScrollMs = 1.0e9;

// A widget keeps its place in the layout while hidden.
void keepSizeWhenHidden(QWidget& widget)
{
    QSizePolicy policy = widget.sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    widget.setSizePolicy(policy);
}

QString capitalised(const char* text)
{
    QString result = QString::fromUtf8(text);
    if (!result.isEmpty()) {
        result[0] = result[0].toUpper();
    }
    return result;
}

} // namespace

QString readoutNumber(double value, int decimals)
{
    return std::isfinite(value) ? QString::fromStdString(fixedNumber(value, decimals)) : QString();
}

bool enabledByRules(std::span<const CommandRule> rules, const std::string& command)
{
    for (const CommandRule& rule : rules) {
        if (command == rule.command) {
            return rule.enabled;
        }
    }
    return true;
}

std::optional<bool> sharedCommandRule(const std::string& command, bool shown, bool selection,
                                      bool marker)
{
    const CommandRule rules[] = {
        {"SaveasPict:", shown},
        {"printDocument:", shown},
        {"_ZoomIn:", shown},
        {"_ZoomOut:", shown},
        {"_ZoomUndo:", shown},
        {"_ZoomHome:", shown},
        {"_ZoomSelection:", shown && selection},
        {"_ZoomCursor:", shown && marker},
    };
    for (const CommandRule& rule : rules) {
        if (command == rule.command) {
            return rule.enabled;
        }
    }
    return std::nullopt;
}

AnalysisWindowShell::AnalysisWindowShell(AnalysisWindowContext context, const char* objectName,
                                         const char* subject, const char* titlePrefix)
    : m_context(std::move(context)), m_subject(subject)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QString::fromLatin1(objectName));
    const MyDocument* document = m_context.document;
    if (document != nullptr) {
        const int chosen = m_context.channel;
        m_nChannel = chosen >= 0 && chosen < document->channelsInUse()
                         ? chosen
                         : document->audioChannelIndex();
    }
    QString title = QString::fromUtf8(titlePrefix);
    if (!title.endsWith(QLatin1Char(' '))) {
        title += QLatin1Char(' ');
    }
    title += m_context.displayName ? m_context.displayName() : QString();
    if (document != nullptr && m_nChannel >= 0 && m_nChannel < document->channelsInUse()) {
        const std::string channel = document->getChannel(m_nChannel).GetTitle();
        title += channel.empty() ? QStringLiteral(" (channel %1)").arg(m_nChannel + 1)
                                 : QStringLiteral(" (%1)").arg(QString::fromStdString(channel));
    }
    setWindowTitle(title);
    setAccessibleName(title);
}

std::optional<std::string> AnalysisWindowShell::whyNotAnalysable(
    const MyDocument& document, int index,
    const std::function<std::optional<std::string>(const Channels&)>& check)
{
    std::string why;
    if (const Channels* channel = channelWithSamples(document, index, &why)) {
        return check(*channel);
    }
    return why;
}

const Channels* AnalysisWindowShell::channelWithSamples(const MyDocument& document, int index,
                                                        std::string* why)
{
    const bool chosen = index >= 0 && index < document.channelsInUse();
    if (!chosen) {
        index = document.audioChannelIndex();
    }
    if (index >= 0 && !document.getChannel(index).samples().empty()) {
        return &document.getChannel(index);
    }
    if (why != nullptr) {
        *why = chosen ? "The channel holds no samples to analyse."
                      : "The document has no audio channel with samples to analyse.";
    }
    return nullptr;
}

GraphCaption AnalysisWindowShell::pictureCaption(double fromMs, double toMs) const
{
    GraphCaption caption;
    caption.fileName = documentName();
    const MyDocument* document = m_context.document;
    if (document != nullptr && m_nChannel >= 0 && m_nChannel < document->channelsInUse()) {
        caption.channelTitle = document->getChannel(m_nChannel).GetTitle();
        caption.channelNumber = m_nChannel;
    }
    caption.fromMs = fromMs;
    caption.toMs = toMs;
    return caption;
}

std::string AnalysisWindowShell::documentName() const
{
    return m_context.displayName ? m_context.displayName().toStdString() : std::string();
}

void AnalysisWindowShell::logRecords(const std::vector<LogRecord>& records)
{
    if (records.size() > 1 && m_context.addLogRecords) {
        m_context.addLogRecords(records);
        return;
    }
    if (m_context.addLog) {
        for (const LogRecord& record : records) {
            m_context.addLog(record);
        }
    }
}

// --- commands ----------------------------------------------------------------------

QAction* AnalysisWindowShell::action(const QString& command) const
{
    return commandAction(*this, command);
}

QAction* AnalysisWindowShell::action(const std::string& command) const
{
    return action(QString::fromStdString(command));
}

QAction* AnalysisWindowShell::action(const char* command) const
{
    return action(QString::fromLatin1(command));
}

void AnalysisWindowShell::refreshCommands()
{
    refreshCommandActions(*this,
                          [this](const std::string& name) { return isCommandEnabled(name); });
}

void AnalysisWindowShell::addMenus(std::initializer_list<AnalysisMenu> menus)
{
    for (const AnalysisMenu& menu : menus) {
        addCommandMenu(*this, menu.title, menu.commands, [this] { refreshCommands(); });
        for (const char* command : menu.commands) {
            QAction* found = command != nullptr ? action(command) : nullptr;
            if (found == nullptr) {
                continue;
            }
            if (std::strcmp(command, "performClose:") == 0) {
                connect(found, &QAction::triggered, this, &QWidget::close);
                continue;
            }
            // The command's slot: its name without the leading "_" and the
            // trailing ":".
            QByteArray slot(command);
            slot.chop(1);
            if (slot.startsWith('_')) {
                slot.remove(0, 1);
            }
            if (metaObject()->indexOfSlot(slot + "()") >= 0) {
                connect(found, &QAction::triggered, this,
                        [this, slot] { QMetaObject::invokeMethod(this, slot.constData()); });
            }
        }
    }
    addApplicationMenus(*this, *menuBar());
}

void AnalysisWindowShell::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // Shortcuts act on the enabling of the moment: the log window may have
    // been shown or closed while another window was active.
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        refreshCommands();
    }
}

// --- contents ----------------------------------------------------------------------

QLabel* AnalysisWindowShell::readoutLabel(const char* objectName, const QString& accessible)
{
    if (m_central == nullptr) {
        m_central = new QWidget(this);
    }
    auto* label = new QLabel(m_central);
    label->setObjectName(QString::fromLatin1(objectName));
    label->setAccessibleName(accessible);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setMinimumHeight(label->fontMetrics().height());
    keepSizeWhenHidden(*label);
    return label;
}

void AnalysisWindowShell::buildContents(const char* namePrefix, const char* timeName,
                                        std::initializer_list<QLabel*> readouts, QWidget* view,
                                        int pollMs)
{
    if (m_central == nullptr) {
        m_central = new QWidget(this);
    }
    const QString prefix = QString::fromLatin1(namePrefix);
    const auto name = [&](const char* part) { return (prefix + QLatin1String(part)).toLatin1(); };
    auto* column = new QVBoxLayout(m_central);

    m_info = readoutLabel(name("Info").constData(), tr("Analysis settings"));
    column->addWidget(m_info);
    auto* readoutRow = new QHBoxLayout;
    m_time = readoutLabel(timeName, tr("Time"));
    readoutRow->addWidget(m_time, 1);
    for (QLabel* label : readouts) {
        readoutRow->addWidget(label, 1);
    }
    m_duration = readoutLabel("_durationReadout", tr("Selection duration"));
    readoutRow->addWidget(m_duration, 1);
    column->addLayout(readoutRow);

    view->setParent(m_central);
    m_graphView = view;
    column->addWidget(view, 1);

    m_scroller = new QScrollBar(Qt::Horizontal, m_central);
    m_scroller->setObjectName(prefix + QLatin1String("Scroller"));
    m_scroller->setAccessibleName(tr("Scroll the %1").arg(QString::fromUtf8(m_subject)));
    keepSizeWhenHidden(*m_scroller);
    m_scroller->hide();
    connect(m_scroller, &QScrollBar::valueChanged, this, &AnalysisWindowShell::scrolled);
    column->addWidget(m_scroller);

    auto* progressRow = new QHBoxLayout;
    m_status =
        readoutLabel(name("Status").constData(), tr("%1 status").arg(capitalised(m_subject)));
    m_progress = new QProgressBar(m_central);
    m_progress->setObjectName(prefix + QLatin1String("Progress"));
    m_progress->setAccessibleName(tr("%1 progress").arg(capitalised(m_subject)));
    m_progress->setRange(0, 100);
    m_cancel = new QPushButton(tr("Cancel"), m_central);
    m_cancel->setObjectName(prefix + QLatin1String("Cancel"));
    m_cancel->setAccessibleName(tr("Cancel the %1").arg(QString::fromUtf8(m_subject)));
    connect(m_cancel, &QPushButton::clicked, this, [this] { cancelComputation(); });
    keepSizeWhenHidden(*m_progress);
    keepSizeWhenHidden(*m_cancel);
    progressRow->addWidget(m_status, 1);
    progressRow->addWidget(m_progress, 1);
    progressRow->addWidget(m_cancel);
    column->addLayout(progressRow);
    showProgress(false, QString());
    setCentralWidget(m_central);
    m_poll = new QTimer(this);
    m_poll->setInterval(pollMs);
    connect(m_poll, &QTimer::timeout, this, [this] { pollWorker(); });
    resize(800, 560);
}

void AnalysisWindowShell::showProgress(bool computing, const QString& status)
{
    m_status->setText(status);
    m_status->setVisible(!status.isEmpty());
    m_progress->setVisible(computing);
    m_cancel->setVisible(computing);
    if (computing) {
        m_progress->setValue(0);
    }
}

void AnalysisWindowShell::endComputation(const QString& status)
{
    m_poll->stop();
    showProgress(false, status);
    refreshCommands();
}

void AnalysisWindowShell::showTimeReadouts(std::optional<double> timeMs,
                                           std::optional<double> durationMs)
{
    m_time->setText(timeMs ? tr("Time: %1 ms").arg(readoutNumber(*timeMs, 1)) : QString());
    m_duration->setText(durationMs ? tr("Duration: %1 ms").arg(readoutNumber(*durationMs, 1))
                                   : QString());
}

void AnalysisWindowShell::setProgress(int percent)
{
    m_progress->setValue(std::clamp(percent, 0, 100));
}

// --- scrolling ---------------------------------------------------------------------

void AnalysisWindowShell::followPage(double startMs, double spanMs, double lengthMs)
{
    if (!(spanMs < lengthMs) || !std::isfinite(startMs) || !std::isfinite(spanMs)) {
        m_scroller->hide();
        return;
    }
    const double length = std::min(lengthMs, kMaxScrollMs);
    m_bFollowing = true;
    m_scroller->setRange(0, static_cast<int>(std::max(0.0, length - spanMs)));
    m_scroller->setPageStep(std::max(1, static_cast<int>(std::min(spanMs, kMaxScrollMs))));
    m_scroller->setSingleStep(std::max(1, static_cast<int>(std::min(spanMs, kMaxScrollMs) / 10.0)));
    m_scroller->setValue(static_cast<int>(std::clamp(startMs, 0.0, kMaxScrollMs)));
    m_bFollowing = false;
    m_scroller->show();
}

void AnalysisWindowShell::scrolled(int valueMs)
{
    if (!m_bFollowing) {
        pageScrolled(valueMs, valueMs >= m_scroller->maximum());
    }
}

void AnalysisWindowShell::pageScrolled(double /*startMs*/, bool /*atEnd*/) {}

// --- picture and printout ------------------------------------------------------------

void AnalysisWindowShell::SaveasPict()
{
    const GraphDrawing drawing = pictureDrawing();
    if (isCommandEnabled("SaveasPict:") && drawing) {
        saveAnalysisPicture(m_context, m_graphView->size(), drawing, m_subject);
    }
}

void AnalysisWindowShell::printDocument()
{
    const GraphDrawing drawing = pictureDrawing();
    if (isCommandEnabled("printDocument:") && drawing) {
        printAnalysisGraph(m_context, this, m_graphView->size(), drawing);
    }
}

} // namespace phonaxis
