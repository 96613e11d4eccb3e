#include "app/Commands.h"

#include <cstring>

namespace phonaxis {

namespace {

// One command per line, as the menus show them.
// clang-format off
constexpr CommandSpec kFile[] = {
    {"newDocument:", CommandOwner::Application},
    {"openDocument:", CommandOwner::Application},
    {"_PlotFormantOpen:", CommandOwner::Application},
    {nullptr, CommandOwner::Application},
    {"performClose:", CommandOwner::Application},
    {"saveDocument:", CommandOwner::Document},
    {"saveDocumentAs:", CommandOwner::Document},
    {"_fileSaveCopyAs:", CommandOwner::Document},
    {"_fileSaveSelectionAs:", CommandOwner::Document},
    {"_fileExportChannelAs:", CommandOwner::Document},
    {"_fileExportChannelSelectionAs:", CommandOwner::Document},
    {"_fileImportLabels:", CommandOwner::Window},
    {"_fileExportLabels:", CommandOwner::Window},
    {"revertDocumentToSaved:", CommandOwner::Document},
    {nullptr, CommandOwner::Application},
    {"_fileSaveConfiguration:", CommandOwner::Window},
    {"_fileLoadConfiguration:", CommandOwner::Window},
    {"_fileRevertToDefaultConfiguration:", CommandOwner::Window},
    {nullptr, CommandOwner::Application},
    {"_FileSaveAsPICT:", CommandOwner::View},
    {"printDocument:", CommandOwner::View},
    {nullptr, CommandOwner::Application},
    {"terminate:", CommandOwner::Application},
};

constexpr CommandSpec kEdit[] = {
    {"_EditUndo:", CommandOwner::View},
    {nullptr, CommandOwner::Application},
    {"_EditCut:", CommandOwner::View},
    {"_EditCopy:", CommandOwner::View},
    {"_EditPaste:", CommandOwner::View},
    {"_EditClear:", CommandOwner::View},
    {nullptr, CommandOwner::Application},
    {"_EditSelectAll:", CommandOwner::View},
    {"_EditSelectWindow:", CommandOwner::View},
};

constexpr CommandSpec kZoom[] = {
    {"_ZoomUndo:", CommandOwner::View},
    {"_ZoomIn:", CommandOwner::View},
    {"_ZoomOut:", CommandOwner::View},
    {"_ZoomSelection:", CommandOwner::View},
    {"_ZoomCursor:", CommandOwner::View},
    {"_ZoomHome:", CommandOwner::View},
};

constexpr CommandSpec kChannels[] = {
    {"_ChannelsSetReferenceAll:", CommandOwner::View},
    {"_ChannelsSetfor:", CommandOwner::View},
    {"_ChannelsSetReferenceAllZero:", CommandOwner::View},
};

constexpr CommandSpec kLabel[] = {
    {"_LabelMode:", CommandOwner::View},
    {"_LabelView:", CommandOwner::Window},
};

constexpr CommandSpec kAnalysis[] = {
    {"_AnalysisFFT:", CommandOwner::Window},
    {"_AnalysisFFTSelection:", CommandOwner::Window},
    {"_AnalysisSpectrogram:", CommandOwner::Window},
    {"_AnalysisSpectrogramSelection:", CommandOwner::Window},
    {"_AnalysisPitch:", CommandOwner::Window},
    {"_AnalysisVoiceReport:", CommandOwner::Window},
    {"_AnalysisChannelSelect:", CommandOwner::View},
    {nullptr, CommandOwner::Application},
    {"_AnalysisIntensity:", CommandOwner::View},
    {"_AnalysisSmooth:", CommandOwner::View},
    {nullptr, CommandOwner::Application},
    {"_EGGChannelSelect:", CommandOwner::View},
    {"_EggAnalysisall:", CommandOwner::View},
};

constexpr CommandSpec kSound[] = {
    {"_Play:", CommandOwner::View},
    {"_PlaySelection:", CommandOwner::View},
    {"_PlayWindow:", CommandOwner::View},
    {nullptr, CommandOwner::Application},
    {"_ScopeMode:", CommandOwner::View},
    {"_Record:", CommandOwner::View},
};

// The record/play settings are the application's, not the document's: they
// are at hand at any time, a recording under way included.
constexpr CommandSpec kOptions[] = {
    {"_OptionsRecordPlay:", CommandOwner::Application},
    {nullptr, CommandOwner::Application},
    {"_OptionsDisplay:", CommandOwner::Window},
    {"_OptionsZoom:", CommandOwner::Window},
    {"_OptionsFFTLPC:", CommandOwner::Window},
    {"_OptionsSpectrogram:", CommandOwner::Window},
    {"_OptionsPitch:", CommandOwner::Window},
    {"_OptionsCalibration:", CommandOwner::Window},
    {"_OptionsIntensitySmooth:", CommandOwner::Window},
    {"_OptionsEGG:", CommandOwner::Window},
    {"_OptionsLog:", CommandOwner::Window},
};

constexpr CommandSpec kLog[] = {
    {"_LogNew:", CommandOwner::Log},
    {"_LogOpen:", CommandOwner::Log},
    {nullptr, CommandOwner::Application},
    {"_LogMarker:", CommandOwner::View},
    {"_LogDuration:", CommandOwner::View},
    {"_LogDataSelection:", CommandOwner::View},
    {nullptr, CommandOwner::Application},
    {"_LogEntereggatmarker:", CommandOwner::View},
    {"_LogEntereggselection:", CommandOwner::View},
    {"_LogEntereggall:", CommandOwner::View},
};

constexpr CommandSpec kWindow[] = {
    {"_HideShowStatus:", CommandOwner::Application},
};

constexpr CommandSpec kHelp[] = {
    {"_aboutApp:", CommandOwner::Application},
};

// clang-format on

constexpr MenuSpec kMenus[] = {
    {"&File", kFile},   {"&Edit", kEdit},         {"&Zoom", kZoom},   {"&Channels", kChannels},
    {"La&bel", kLabel}, {"&Analysis", kAnalysis}, {"&Sound", kSound}, {"&Options", kOptions},
    {"&Log", kLog},     {"&Window", kWindow},     {"&Help", kHelp},
};

} // namespace

std::span<const MenuSpec> documentWindowMenus()
{
    return kMenus;
}

bool windowCommandEnabled(const char* name, bool documentHasData, bool eggAssigned, bool haveMarker,
                          bool haveSelection, bool haveLabels)
{
    if (std::strcmp(name, "_fileExportLabels:") == 0) {
        return documentHasData && haveLabels;
    }
    if (std::strcmp(name, "_OptionsEGG:") == 0) {
        return documentHasData && eggAssigned;
    }
    if (std::strcmp(name, "_AnalysisFFT:") == 0) {
        return documentHasData && haveMarker;
    }
    if (std::strcmp(name, "_AnalysisFFTSelection:") == 0 ||
        std::strcmp(name, "_AnalysisSpectrogramSelection:") == 0 ||
        std::strcmp(name, "_AnalysisVoiceReport:") == 0) {
        return documentHasData && haveSelection;
    }
    // Panels that edit per-channel or view settings need data, and labels
    // need channels to go to; the calibration sheet and the configuration
    // commands are always at hand.
    for (const char* needsData :
         {"_fileImportLabels:", "_AnalysisSpectrogram:", "_AnalysisPitch:", "_LabelView:",
          "_OptionsDisplay:", "_OptionsZoom:", "_OptionsFFTLPC:", "_OptionsSpectrogram:",
          "_OptionsPitch:", "_OptionsIntensitySmooth:", "_OptionsLog:"}) {
        if (std::strcmp(name, needsData) == 0) {
            return documentHasData;
        }
    }
    return true;
}

} // namespace phonaxis
