// The main window's settings, analysis and log commands: the option panels,
// the configuration commands, intensity and smoothing, the EGG channel and its
// analysis, and the main view's measurement-log entries.

#include "app/MainWindowController.h"

#include "app/Application.h"
#include "app/LogController.h"
#include "app/PlotFormantWindows.h"
#include "app/panels/CalibrationPanel.h"
#include "app/panels/DisplayPanel.h"
#include "app/panels/EggPanel.h"
#include "app/panels/FftLpcPanel.h"
#include "app/panels/IntensitySmoothPanel.h"
#include "app/panels/LogOptionsPanel.h"
#include "app/panels/PitchPanel.h"
#include "app/panels/SpectrogramPanel.h"
#include "app/panels/ZoomPanel.h"
#include "display/MainViewModel.h"
#include "display/MainViewPane.h"
#include "display/MainViewScroller.h"
#include "document/Configuration.h"
#include "document/EditSession.h"
#include "document/MyDocument.h"
#include "log/FormantTable.h"
#include "log/ui/PlotFormantController.h"
#include "windows/ui/FFTWindowController.h"
#include "windows/ui/PitchWindowController.h"
#include "windows/ui/SpectrogramWindowController.h"
#include "windows/ui/VoiceReportWindow.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

namespace phonaxis {

// --- settings panels ---------------------------------------------------------------

int MainWindowController::runPanel(SettingsPanel& panel)
{
    const int code = panel.run(m_panelDriver);
    refreshCommands();
    return code;
}

int MainWindowController::OptionsDisplay()
{
    if (!isCommandEnabled("_OptionsDisplay:")) {
        return SettingsPanel::kCancel;
    }
    DisplayPanel panel(*m_document, m_application.settings(), *m_prompts, this);
    const int code = runPanel(panel);
    if (code == SettingsPanel::kOK) {
        // Titles and heights are kept in the document's file.
        m_document->setDirty();
        mainView()->RedoDisplay();
        afterViewChange();
        m_application.documentActivated(this); // the status window's titles
    }
    return code;
}

int MainWindowController::OptionsZoom()
{
    if (!isCommandEnabled("_OptionsZoom:")) {
        return SettingsPanel::kCancel;
    }
    ZoomPanel panel(*m_document, m_application.settings(), *m_prompts, this);
    return runPanel(panel);
}

int MainWindowController::OptionsFFTLPC()
{
    if (!isCommandEnabled("_OptionsFFTLPC:")) {
        return SettingsPanel::kCancel;
    }
    FftLpcPanel panel(*m_document, m_application.settings(), *m_prompts, this);
    return runPanel(panel);
}

int MainWindowController::OptionsSpectrogram()
{
    if (!isCommandEnabled("_OptionsSpectrogram:")) {
        return SettingsPanel::kCancel;
    }
    SpectrogramPanel panel(*m_document, m_application.settings(), *m_prompts, this);
    return runPanel(panel);
}

int MainWindowController::OptionsPitch()
{
    if (!isCommandEnabled("_OptionsPitch:")) {
        return SettingsPanel::kCancel;
    }
    PitchPanel panel(*m_document, m_application.settings(), *m_prompts, this);
    return runPanel(panel);
}

int MainWindowController::OptionsCalibration()
{
    CalibrationPanel panel(*m_document, m_application.settings(), *m_prompts, this);
    const int code = runPanel(panel);
    if (code == SettingsPanel::kOK && m_document->m_bHaveData) {
        // The calibration is kept in the document's file.
        m_document->setDirty();
        mainView()->redraw();
        afterViewChange();
        m_application.documentActivated(this); // the status window's units
    }
    return code;
}

int MainWindowController::OptionsIntensitySmooth()
{
    if (!isCommandEnabled("_OptionsIntensitySmooth:")) {
        return SettingsPanel::kCancel;
    }
    IntensitySmoothPanel panel(*m_document, m_application.settings(), *m_prompts, this);
    const int code = runPanel(panel);
    if (code == SettingsPanel::kOK) {
        // The tracks take the settings when they are next computed.
        afterViewChange();
    }
    return code;
}

int MainWindowController::OptionsEGG()
{
    if (!isCommandEnabled("_OptionsEGG:")) {
        return SettingsPanel::kCancel;
    }
    EggPanel panel(*m_document, m_application.settings(), *m_prompts, this);
    const int code = runPanel(panel);
    // The drawing switches may have changed whatever the answer.
    mainView()->RedoDisplay();
    afterViewChange();
    return code;
}

int MainWindowController::OptionsLog()
{
    if (!isCommandEnabled("_OptionsLog:")) {
        return SettingsPanel::kCancel;
    }
    LogOptionsPanel panel(*m_document, m_application.settings(), *m_prompts, this);
    return runPanel(panel);
}

// --- configuration files ------------------------------------------------------------

void MainWindowController::fileSaveConfiguration()
{
    phonaxis::fileSaveConfiguration(*m_document, m_application.settings(), *m_prompts);
}

void MainWindowController::fileLoadConfiguration()
{
    if (!phonaxis::fileLoadConfiguration(*m_document, m_application.settings(), *m_prompts)) {
        return;
    }
    // Calibrations and units are kept in the document's file.
    if (m_document->m_bHaveData) {
        m_document->setDirty();
    }
    // Sizes, grids and calibrations may all have changed.
    mainView()->RedoDisplay();
    afterViewChange();
    m_application.documentActivated(this); // the status window's units
}

void MainWindowController::fileRevertToDefaultConfiguration()
{
    if (phonaxis::fileRevertToDefaultConfiguration(m_application.settings(), *m_prompts)) {
        // Quit once this command has returned; unsaved documents are still
        // asked about.
        QMetaObject::invokeMethod(&m_application, [app = &m_application] { app->terminate(); },
                                  Qt::QueuedConnection);
    }
}

// --- derived tracks -----------------------------------------------------------------

void MainWindowController::AnalysisIntensity()
{
    if (!isCommandEnabled("_AnalysisIntensity:")) {
        return;
    }
    const int count = m_document->channelsInUse();
    // Each channel's share of the bar is its share of the samples.
    double total = 0.0;
    for (int index = 0; index < count; ++index) {
        total += std::max(m_document->getChannel(index).m_dwFileLength, 0.0);
    }
    // Every track is computed before any is taken, so that Cancel (or a
    // track that cannot be allocated) leaves the channels as they were.
    std::vector<IntensityTrack> tracks;
    bool outOfMemory = false;
    {
        ProgressWork work(this, tr("Computing the intensity tracks…"), m_progressDriver);
        double done = 0.0;
        for (int index = 0; index < count; ++index) {
            const Channels& channel = m_document->getChannel(index);
            const double share = total > 0.0 ? std::max(channel.m_dwFileLength, 0.0) / total : 0.0;
            work.setLabel(tr("Computing the intensity of “%1” (channel %2 of %3)…")
                              .arg(QString::fromStdString(channel.GetTitle()))
                              .arg(index + 1)
                              .arg(count));
            std::optional<IntensityTrack> track =
                channel.ComputeIntensity(work.progress().part(done, done + share));
            if (!track) {
                outOfMemory = !work.cancelled();
                break;
            }
            tracks.push_back(std::move(*track));
            done += share;
        }
    }
    if (tracks.size() < static_cast<std::size_t>(count)) {
        // Told once the progress dialog is gone; a cancel needs no word.
        if (outOfMemory) {
            m_prompts->alert("Intensity failed.",
                             "There is not enough memory for the intensity tracks. The channels "
                             "are as they were.",
                             "OK");
        }
        return;
    }
    for (int index = 0; index < count; ++index) {
        Channels& channel = m_document->getChannel(index);
        channel.SetIntensity(std::move(tracks[static_cast<std::size_t>(index)]));
        channel.m_bDrawIntensity = true;
    }
    mainView()->redraw();
    afterViewChange();
}

namespace {

// Opens a spectrum window of `window`'s document and makes it one of the
// document's analysis windows.
void openSpectrumWindow(MainWindowController& window, SpectrumPlace place,
                        std::optional<std::pair<double, double>> samples = std::nullopt,
                        std::optional<int> channel = std::nullopt)
{
    AnalysisWindowContext context = window.analysisWindowContext();
    if (channel) {
        context.channel = *channel;
    }
    FFTWindowController* spectrum =
        samples ? FFTWindowController::openAt(context, place, samples->first, samples->second,
                                              &window)
                : FFTWindowController::open(context, place, &window);
    if (spectrum != nullptr) {
        window.adoptAnalysisWindow(spectrum);
        spectrum->show();
    }
}

} // namespace

void MainWindowController::AnalysisFFT()
{
    if (isCommandEnabled("_AnalysisFFT:")) {
        openSpectrumWindow(*this, SpectrumPlace::Marker);
    }
}

void MainWindowController::AnalysisFFTSelection()
{
    if (isCommandEnabled("_AnalysisFFTSelection:")) {
        openSpectrumWindow(*this, SpectrumPlace::Selection);
    }
}

void MainWindowController::smoothChannels()
{
    for (int index = 0; index < m_document->channelsInUse(); ++index) {
        Channels& channel = m_document->getChannel(index);
        if (!channel.m_bSmoothDo) {
            continue;
        }
        channel.CalculateSmooth();
        // The intensity track follows the samples it was measured on.
        if (channel.m_bHaveIntensity) {
            channel.CalculateIntensity();
        }
    }
    m_document->setDirty();
}

void MainWindowController::AnalysisSmooth()
{
    if (!isCommandEnabled("_AnalysisSmooth:")) {
        return;
    }
    const int answer = m_prompts->alert(
        "Do you wish to continue before saving?",
        "Smooth functions will replace the current data. It is recommended to save the data "
        "before proceeding.",
        "Save", "Replace data", "Cancel");
    if (answer == -1) {
        return;
    }
    // A save that did not happen must not be followed by replacing the
    // data the user wanted kept.
    if (answer == 1 && !saveDocument()) {
        return;
    }
    if (m_editSession->SaveFile(EditKind::kSmoothing)) {
        smoothChannels();
        emit samplesChanged();
    }
    mainView()->documentChanged();
    afterViewChange();
}

void MainWindowController::AnalysisPitch()
{
    if (!isCommandEnabled("_AnalysisPitch:")) {
        return;
    }
    if (const std::optional<std::string> reason =
            PitchWindowController::cannotAnalyse(*m_document, m_model->analysisChannel())) {
        m_prompts->alert("No pitch track.", *reason, "OK");
        return;
    }
    auto* window = new PitchWindowController(analysisWindowContext());
    adoptAnalysisWindow(window);
    connect(this, &MainWindowController::samplesChanged, window,
            &PitchWindowController::samplesChanged);
    window->show();
    window->start();
}

VoiceReportWindow* MainWindowController::AnalysisVoiceReport()
{
    if (!isCommandEnabled("_AnalysisVoiceReport:")) {
        return nullptr;
    }
    const int chosen = m_model->analysisChannel();
    if (const std::optional<std::string> reason =
            VoiceReportWindow::cannotAnalyse(*m_document, chosen)) {
        m_prompts->alert("No voice report.", *reason, "OK");
        return nullptr;
    }
    // The report covers the selection as the analysed channel holds it.
    const Channels& audio = *AnalysisWindowShell::channelWithSamples(*m_document, chosen);
    auto* window = new VoiceReportWindow(analysisWindowContext(), audio.m_dDurationStartTime,
                                         audio.m_dDurationStopTime, m_document->m_nEGGChannelIndex);
    adoptAnalysisWindow(window);
    window->show();
    window->start();
    return window;
}

SpectrogramWindowController* MainWindowController::openSpectrogram(const char* command,
                                                                   bool selection)
{
    if (!isCommandEnabled(command)) {
        return nullptr;
    }
    if (const std::optional<std::string> reason =
            SpectrogramWindowController::cannotAnalyse(*m_document, m_model->analysisChannel())) {
        m_prompts->alert("No spectrogram.", *reason, "OK");
        return nullptr;
    }
    auto* window = new SpectrogramWindowController(analysisWindowContext(), selection);
    adoptAnalysisWindow(window);
    connect(this, &MainWindowController::samplesChanged, window,
            &SpectrogramWindowController::samplesChanged);
    // Spectra from the spectrogram: at its track cursor or over its selection.
    connect(window, &SpectrogramWindowController::spectrumRequested, this,
            [this, channel = window->analysedChannelIndex()](double startSample,
                                                             double stopSample,
                                                             bool overSelection) {
                openSpectrumWindow(*this,
                                   overSelection ? SpectrumPlace::Selection : SpectrumPlace::Marker,
                                   std::pair(startSample, stopSample), channel);
            });
    // Its formants to a new formant plot window.
    connect(window, &SpectrogramWindowController::formantsRequested, this,
            [this](const FormantDictionary& formants, bool /*selection*/) {
                FormantTable handed;
                handed.ReadDocumentFromSpectrogramDict(formants);
                PlotFormantController* plot = m_application.plotFormantWindows().newWindow();
                plot->show();
                plot->ReadDocumentFromSpectrogramDict(handed.rows());
            });
    window->show();
    window->start();
    return window;
}

SpectrogramWindowController* MainWindowController::AnalysisSpectrogram()
{
    return openSpectrogram("_AnalysisSpectrogram:", false);
}

SpectrogramWindowController* MainWindowController::AnalysisSpectrogramSelection()
{
    return openSpectrogram("_AnalysisSpectrogramSelection:", true);
}

// --- EGG ---------------------------------------------------------------------------

void MainWindowController::EGGChannelSelect()
{
    if (!isCommandEnabled("_EGGChannelSelect:")) {
        return;
    }
    std::vector<std::string> items{"None"};
    for (int index = 0; index < m_document->channelsInUse(); ++index) {
        items.push_back(m_document->getChannel(index).GetTitle());
    }
    // The pop-up opens on the assigned channel, or on "None".
    const int current = m_document->m_nEGGChannelIndex;
    const int preselected = current >= 0 && current < m_document->channelsInUse() ? current + 1 : 0;
    const int chosen = m_prompts->chooseChannel("Assign EGG channel", items, preselected);
    if (chosen < 0 || chosen >= static_cast<int>(items.size())) {
        return; // Cancel
    }
    m_document->m_nEGGChannelIndex = chosen - 1;
    afterViewChange();
}

void MainWindowController::AnalysisChannelSelect()
{
    if (!isCommandEnabled("_AnalysisChannelSelect:")) {
        return;
    }
    std::vector<std::string> items;
    for (int index = 0; index < m_document->channelsInUse(); ++index) {
        items.push_back(m_document->getChannel(index).GetTitle());
    }
    const int chosen =
        m_prompts->chooseChannel("Channel to analyse", items, m_model->analysisChannel());
    if (chosen < 0 || chosen >= static_cast<int>(items.size())) {
        return; // Cancel
    }
    m_model->setAnalysisChannel(chosen);
    afterViewChange();
}

void MainWindowController::EggAnalysisall()
{
    if (!isCommandEnabled("_EggAnalysisall:")) {
        return;
    }
    Channels& channel = m_document->getChannel(m_document->m_nEGGChannelIndex);
    bool analysed = false;
    bool cancelled = false;
    {
        // The progress dialog goes before any alert is shown.
        ProgressWork work(
            this,
            tr("Analysing the EGG channel “%1”…").arg(QString::fromStdString(channel.GetTitle())),
            m_progressDriver);
        analysed = channel.EggAnalysisAll(work.progress());
        cancelled = work.cancelled();
    }
    if (!analysed) {
        if (!cancelled) {
            m_prompts->alert("EGG analysis failed.", "The EGG channel could not be analysed.",
                             "OK");
        }
        return;
    }
    channel.m_bDrawPeak = true;
    channel.m_bDrawValley = true;
    channel.m_bDrawCycleThreshold = true;
    mainView()->redraw();
    afterViewChange();
}

// --- measurement log -------------------------------------------------------------------

void MainWindowController::LogNew()
{
    if (isCommandEnabled("_LogNew:")) {
        m_application.logController().LogNew();
        m_application.refreshAllCommands(); // the log window is shown now
    }
}

void MainWindowController::LogOpen()
{
    if (isCommandEnabled("_LogOpen:")) {
        m_application.logController().LogOpen();
        m_application.refreshAllCommands();
    }
}

void MainWindowController::LogMarker()
{
    if (isCommandEnabled("_LogMarker:")) {
        m_application.logController().logMarker(*m_document, displayName().toStdString());
    }
}

void MainWindowController::LogDuration()
{
    if (isCommandEnabled("_LogDuration:")) {
        m_application.logController().logDuration(*m_document, displayName().toStdString());
    }
}

void MainWindowController::LogDataSelection()
{
    if (isCommandEnabled("_LogDataSelection:")) {
        m_application.logController().logDataSelection(*m_document, displayName().toStdString(),
                                                        m_prompts);
    }
}

void MainWindowController::LogEntereggatmarker()
{
    if (isCommandEnabled("_LogEntereggatmarker:")) {
        m_application.logController().logEggAtMarker(*m_document, displayName().toStdString());
    }
}

void MainWindowController::LogEntereggselection()
{
    if (isCommandEnabled("_LogEntereggselection:")) {
        m_application.logController().logEggSelection(*m_document, displayName().toStdString(),
                                                      m_prompts);
    }
}

void MainWindowController::LogEntereggall()
{
    if (isCommandEnabled("_LogEntereggall:")) {
        m_application.logController().logEggAll(*m_document, displayName().toStdString(),
                                                m_prompts);
    }
}

} // namespace phonaxis
