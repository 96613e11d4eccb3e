#include "app/Commands.h"

#include <cstring>

namespace phonaxis {

namespace {

using K = QKeySequence::StandardKey;
constexpr auto kNone = QKeySequence::UnknownKey;

constexpr CommandSpec kFile[] = {
    {"newDocument:", "New", K::New, nullptr, CommandOwner::Application},
    {"openDocument:", "Open…", K::Open, nullptr, CommandOwner::Application},
    {nullptr, nullptr, kNone, nullptr, CommandOwner::Application},
    {"performClose:", "Close", K::Close, nullptr, CommandOwner::Application},
    {"saveDocument:", "Save", K::Save, nullptr, CommandOwner::Document},
    {"saveDocumentAs:", "Save As…", K::SaveAs, nullptr, CommandOwner::Document},
    {"_fileSaveCopyAs:", "Save a Copy As…", kNone, nullptr, CommandOwner::Document},
    {"_fileSaveSelectionAs:", "Save Selection As…", kNone, nullptr, CommandOwner::Document},
    {"_fileExportChannelAs:", "Export Channel as WAV…", kNone, nullptr, CommandOwner::Document},
    {"_fileExportChannelSelectionAs:", "Export Channel Selection as WAV…", kNone, nullptr,
     CommandOwner::Document},
    {"revertDocumentToSaved:", "Revert to Saved", kNone, nullptr, CommandOwner::Document},
    {nullptr, nullptr, kNone, nullptr, CommandOwner::Application},
    {"_fileSaveConfiguration:", "Save Configuration…", kNone, nullptr, CommandOwner::Window},
    {"_fileLoadConfiguration:", "Load Configuration…", kNone, nullptr, CommandOwner::Window},
    {"_fileRevertToDefaultConfiguration:", "Revert to Default Configuration…", kNone, nullptr,
     CommandOwner::Window},
    {nullptr, nullptr, kNone, nullptr, CommandOwner::Application},
    {"_FileSaveAsPICT:", "Save as Picture…", kNone, nullptr, CommandOwner::View},
    {"printDocument:", "Print…", kNone, "Ctrl+P", CommandOwner::View},
    {nullptr, nullptr, kNone, nullptr, CommandOwner::Application},
    {"terminate:", "Quit", K::Quit, "Ctrl+Q", CommandOwner::Application},
};

constexpr CommandSpec kEdit[] = {
    {"_EditUndo:", "Undo", K::Undo, nullptr, CommandOwner::View},
    {nullptr, nullptr, kNone, nullptr, CommandOwner::Application},
    {"_EditCut:", "Cut", K::Cut, nullptr, CommandOwner::View},
    {"_EditCopy:", "Copy", K::Copy, nullptr, CommandOwner::View},
    {"_EditPaste:", "Paste", K::Paste, nullptr, CommandOwner::View},
    {"_EditClear:", "Clear", K::Delete, nullptr, CommandOwner::View},
    {nullptr, nullptr, kNone, nullptr, CommandOwner::Application},
    {"_EditSelectAll:", "Select All", K::SelectAll, nullptr, CommandOwner::View},
    {"_EditSelectWindow:", "Select Window", kNone, nullptr, CommandOwner::View},
};

constexpr CommandSpec kZoom[] = {
    {"_ZoomUndo:", "Undo Zoom", kNone, nullptr, CommandOwner::View},
    {"_ZoomIn:", "Zoom In", K::ZoomIn, nullptr, CommandOwner::View},
    {"_ZoomOut:", "Zoom Out", K::ZoomOut, nullptr, CommandOwner::View},
    {"_ZoomSelection:", "Zoom Selection", kNone, nullptr, CommandOwner::View},
    {"_ZoomCursor:", "Zoom at Marker", kNone, nullptr, CommandOwner::View},
    {"_ZoomHome:", "Zoom Home", kNone, nullptr, CommandOwner::View},
};

constexpr CommandSpec kChannels[] = {
    {"_ChannelsSetReferenceAll:", "Set Reference for All", kNone, nullptr, CommandOwner::View},
    {"_ChannelsSetfor:", "Set Reference only for: none selected", kNone, nullptr,
     CommandOwner::View},
    {"_ChannelsSetReferenceAllZero:", "Set All References to Zero", kNone, nullptr,
     CommandOwner::View},
};

constexpr CommandSpec kLabel[] = {
    {"_LabelMode:", "Enable Label Mode", kNone, nullptr, CommandOwner::View},
    {"_LabelView:", "Label Table", kNone, nullptr, CommandOwner::Window},
};

constexpr CommandSpec kAnalysis[] = {
    {"_AnalysisIntensity:", "Intensity", kNone, nullptr, CommandOwner::View},
    {"_AnalysisSmooth:", "Smooth", kNone, nullptr, CommandOwner::View},
    {nullptr, nullptr, kNone, nullptr, CommandOwner::Application},
    {"_EGGChannelSelect:", "Assign channel for EGG: None", kNone, nullptr, CommandOwner::View},
    {"_EggAnalysisall:", "EGG Analysis", kNone, nullptr, CommandOwner::View},
};

constexpr CommandSpec kOptions[] = {
    {"_OptionsDisplay:", "Display…", kNone, nullptr, CommandOwner::Window},
    {"_OptionsZoom:", "Zoom…", kNone, nullptr, CommandOwner::Window},
    {"_OptionsFFTLPC:", "FFT/LPC…", kNone, nullptr, CommandOwner::Window},
    {"_OptionsSpectrogram:", "Spectrogram…", kNone, nullptr, CommandOwner::Window},
    {"_OptionsPitch:", "Pitch…", kNone, nullptr, CommandOwner::Window},
    {"_OptionsCalibration:", "Calibration…", kNone, nullptr, CommandOwner::Window},
    {"_OptionsIntensitySmooth:", "Intensity / Smooth…", kNone, nullptr, CommandOwner::Window},
    {"_OptionsEGG:", "EGG…", kNone, nullptr, CommandOwner::Window},
    {"_OptionsLog:", "Log…", kNone, nullptr, CommandOwner::Window},
};

constexpr CommandSpec kLog[] = {
    {"_LogNew:", "New Log", kNone, nullptr, CommandOwner::Log},
    {"_LogOpen:", "Open Log…", kNone, nullptr, CommandOwner::Log},
    {nullptr, nullptr, kNone, nullptr, CommandOwner::Application},
    {"_LogMarker:", "Enter Marker", kNone, nullptr, CommandOwner::View},
    {"_LogDuration:", "Enter Duration", kNone, nullptr, CommandOwner::View},
    {"_LogDataSelection:", "Enter Data Selection", kNone, nullptr, CommandOwner::View},
    {nullptr, nullptr, kNone, nullptr, CommandOwner::Application},
    {"_LogEntereggatmarker:", "Enter EGG at Marker", kNone, nullptr, CommandOwner::View},
    {"_LogEntereggselection:", "Enter EGG Selection", kNone, nullptr, CommandOwner::View},
    {"_LogEntereggall:", "Enter EGG All", kNone, nullptr, CommandOwner::View},
};

constexpr CommandSpec kWindow[] = {
    {"_HideShowStatus:", "Show Status", kNone, nullptr, CommandOwner::Application},
};

constexpr CommandSpec kHelp[] = {
    {"_aboutApp:", "About Phonaxis", kNone, nullptr, CommandOwner::Application},
};

constexpr MenuSpec kMenus[] = {
    {"File", kFile},       {"Edit", kEdit},   {"Zoom", kZoom}, {"Channels", kChannels},
    {"Label", kLabel},     {"Analysis", kAnalysis}, {"Options", kOptions},
    {"Log", kLog},         {"Window", kWindow},   {"Help", kHelp},
};

} // namespace

std::span<const MenuSpec> documentWindowMenus()
{
    return kMenus;
}

bool windowCommandEnabled(const char* name, bool documentHasData, bool eggAssigned)
{
    if (std::strcmp(name, "_OptionsEGG:") == 0) {
        return documentHasData && eggAssigned;
    }
    // Panels that edit per-channel or view settings need data; the
    // calibration sheet and the configuration commands are always at hand.
    for (const char* needsData :
         {"_LabelView:", "_OptionsDisplay:", "_OptionsZoom:", "_OptionsFFTLPC:",
          "_OptionsSpectrogram:", "_OptionsPitch:", "_OptionsIntensitySmooth:", "_OptionsLog:"}) {
        if (std::strcmp(name, needsData) == 0) {
            return documentHasData;
        }
    }
    return true;
}

} // namespace phonaxis
