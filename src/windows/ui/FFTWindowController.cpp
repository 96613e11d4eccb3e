#include "windows/ui/FFTWindowController.h"

#include "document/MyDocument.h"
#include "document/Prompts.h"
#include "windows/ui/FFTView.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

namespace phonaxis {

namespace {

constexpr int kDefaultWidthPx = 720;
constexpr int kDefaultHeightPx = 480;

// The channel a context asks for, or the document's audio channel.
int analysedIndex(const MyDocument& document, int channel)
{
    return channel >= 0 && channel < document.channelsInUse() ? channel
                                                              : document.audioChannelIndex();
}

// The start and stop of the spectrum in samples of `channel`.
std::pair<double, double> stretchOf(const Channels& channel, SpectrumPlace place)
{
    if (place == SpectrumPlace::Marker) {
        return {channel.m_dMarkerFileValue, channel.m_dMarkerFileValue};
    }
    return {std::min(channel.m_dDurationStartFile, channel.m_dDurationStopFile),
            std::max(channel.m_dDurationStartFile, channel.m_dDurationStopFile)};
}

const char* const kFileCommands[] = {"SaveasPict:", "printDocument:", nullptr, "performClose:"};
const char* const kLogCommands[] = {
    "_LogFormantsMarker:", "_LogFFTFormantBandwidths:", "_LogFFTFrame:"};

} // namespace

FFTWindowController* FFTWindowController::open(const AnalysisWindowContext& context,
                                               SpectrumPlace place, QWidget* progressParent)
{
    const MyDocument* document = context.document;
    const int channel = document != nullptr ? analysedIndex(*document, context.channel) : -1;
    if (document == nullptr || !document->m_bHaveData || channel < 0) {
        return nullptr;
    }
    const auto [start, stop] = stretchOf(document->getChannel(channel), place);
    return openAt(context, place, start, stop, progressParent);
}

FFTWindowController* FFTWindowController::openAt(const AnalysisWindowContext& context,
                                                 SpectrumPlace place, double start, double stop,
                                                 QWidget* progressParent)
{
    MyDocument* document = context.document;
    const int channel = document != nullptr ? analysedIndex(*document, context.channel) : -1;
    if (document == nullptr || !document->m_bHaveData || channel < 0) {
        return nullptr;
    }
    std::unique_ptr<FFTWindowController> window(new FFTWindowController(context, place));
    SpectrumStart outcome = SpectrumStart::NoData;
    {
        // The dialog goes before any alert is shown.
        ProgressWork work(progressParent, tr("Computing the spectrum…"), context.progressDriver);
        outcome = window->m_view->analysis().doPerformFFTLPC(*document, start, stop,
                                                             work.progress(), channel);
    }
    switch (outcome) {
    case SpectrumStart::Computed:
        break;
    case SpectrumStart::RangeBeyondAllowed:
        context.prompts->alert(SpectrumAnalysis::kRangeAlertMessage,
                               SpectrumAnalysis::kRangeAlertInformative,
                               SpectrumAnalysis::kRangeAlertButton);
        return nullptr;
    case SpectrumStart::Declined:
        context.prompts->alert(kDeclinedMessage, kDeclinedInformative, "OK");
        return nullptr;
    case SpectrumStart::NoData:
    case SpectrumStart::Cancelled:
        return nullptr;
    }
    SpectrumGraphStyle style = SpectrumGraphStyle::fromDocument(*document);
    const double rate = document->getChannel(channel).m_dSampleRate;
    if (rate > 0.0) {
        style.caption = spectrumGraphCaption(
            window->pictureCaption(start * 1000.0 / rate, stop * 1000.0 / rate),
            window->m_view->analysis());
    }
    window->m_view->setStyle(style);
    window->showInfo();
    window->m_view->analysisChanged();
    window->refreshCommands();
    return window.release();
}

FFTWindowController::FFTWindowController(const AnalysisWindowContext& context, SpectrumPlace place)
    : AnalysisWindowShell(context, "fftWindow", "spectrum",
                          place == SpectrumPlace::Marker ? kMarkerTitle : kSelectionTitle)
{

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    auto* row = new QHBoxLayout;
    m_infoFields = new QGridLayout;
    auto* readouts = new QGridLayout;
    row->addLayout(m_infoFields);
    row->addLayout(readouts);
    m_power = addField(*readouts, central, tr(kPowerLabel), "power", 0);
    m_frequency = addField(*readouts, central, tr(kFrequencyLabel), "frequency", 1);
    layout->addLayout(row);
    m_view = new FFTView(central);
    m_graphView = m_view;
    layout->addWidget(m_view, 1);
    setCentralWidget(central);

    connect(m_view, &FFTView::readoutChanged, this, &FFTWindowController::showReadout);
    connect(m_view, &FFTView::markerChanged, this, &FFTWindowController::refreshCommands);
    addMenus({{"&File", kFileCommands}, {"&Log", kLogCommands}});
    resize(kDefaultWidthPx, kDefaultHeightPx);
}

QLineEdit* FFTWindowController::addField(QGridLayout& grid, QWidget* parent, const QString& label,
                                         const char* name, int column)
{
    auto* title = new QLabel(label, parent);
    auto* field = new QLineEdit(parent);
    field->setObjectName(name);
    field->setAccessibleName(label);
    field->setReadOnly(true);
    field->setFocusPolicy(Qt::NoFocus);
    title->setBuddy(field);
    grid.addWidget(title, 0, column);
    grid.addWidget(field, 1, column);
    return field;
}

void FFTWindowController::showInfo()
{
    // The fields name what the analysis computed with, which differs
    // between the classic and the precise analysis.
    while (QLayoutItem* item = m_infoFields->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    m_info.clear();
    int column = 0;
    for (const SpectrumAnalysis::InfoField& field : m_view->analysis().infoFields()) {
        QLineEdit* edit = addField(*m_infoFields, centralWidget(), tr(field.label.c_str()),
                                   field.name.c_str(), column++);
        edit->setText(QString::fromStdString(field.text));
        m_info.push_back(edit);
    }
}

QString FFTWindowController::infoText(int index) const
{
    return index >= 0 && index < static_cast<int>(m_info.size())
               ? m_info[static_cast<std::size_t>(index)]->text()
               : QString();
}

QString FFTWindowController::infoText(const char* name) const
{
    const auto* field = findChild<QLineEdit*>(QString::fromLatin1(name));
    return field != nullptr ? field->text() : QString();
}

QString FFTWindowController::powerText() const
{
    return m_power->text();
}

QString FFTWindowController::frequencyText() const
{
    return m_frequency->text();
}

void FFTWindowController::showReadout(const QString& power, const QString& frequency)
{
    m_power->setText(power);
    m_frequency->setText(frequency);
}

bool FFTWindowController::isCommandEnabled(const std::string& command) const
{
    const bool visible = m_context.logVisible && m_context.logVisible();
    const SpectrumAnalysis& analysis = m_view->analysis();
    // Save as Picture, Print and Close are always at hand.
    const CommandRule rules[] = {
        {"_LogFormantsMarker:", analysis.canLogMarker(visible)},
        {"_LogFFTFormantBandwidths:", analysis.canLogFormants(visible)},
        {"_LogFFTFrame:", analysis.canLogFrame(visible)},
    };
    return enabledByRules(rules, command);
}

// --- log entries ------------------------------------------------------------------

void FFTWindowController::LogFormantsMarker()
{
    if (isCommandEnabled("_LogFormantsMarker:")) {
        logRecords({m_view->analysis().markerLogRecord(documentName())});
    }
}

void FFTWindowController::LogFFTFormantBandwidths()
{
    if (isCommandEnabled("_LogFFTFormantBandwidths:")) {
        logRecords({m_view->analysis().formantsLogRecord(documentName())});
    }
}

void FFTWindowController::LogFFTFrame()
{
    if (isCommandEnabled("_LogFFTFrame:")) {
        logRecords(m_view->analysis().frameLogRecords(documentName()));
    }
}

// --- picture and print --------------------------------------------------------------

GraphDrawing FFTWindowController::pictureDrawing() const
{
    const FFTView* view = m_view;
    return [view](QPainter& painter, QSize size) {
        drawSpectrumGraph(painter, size, view->analysis(), view->style());
    };
}

} // namespace phonaxis
