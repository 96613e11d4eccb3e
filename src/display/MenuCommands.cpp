#include "display/MenuCommands.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace phonaxis {

namespace {

using K = QKeySequence::StandardKey;
constexpr auto kNone = QKeySequence::UnknownKey;

// Dynamic titles (the label mode, the reference and EGG choices, the status
// toggle) are replaced when their menu shows; they carry no mnemonic so that
// the text shown is exactly the command's title.
constexpr MenuCommand kCommands[] = {
    // File
    {"newDocument:", "&New", K::New, nullptr},
    {"openDocument:", "&Open…", K::Open, nullptr},
    {"performClose:", "&Close", K::Close, nullptr},
    {"saveDocument:", "&Save", K::Save, nullptr},
    {"saveDocumentAs:", "Save &As…", K::SaveAs, nullptr},
    {"_fileSaveCopyAs:", "Save a Cop&y As…", kNone, nullptr},
    {"_fileSaveSelectionAs:", "Save Se&lection As…", kNone, nullptr},
    {"_fileExportChannelAs:", "E&xport Channel as WAV…", kNone, nullptr},
    {"_fileExportChannelSelectionAs:", "Export Channel Selection as &WAV…", kNone, nullptr},
    {"_fileImportLabels:", "I&mport Labels…", kNone, nullptr},
    {"_fileExportLabels:", "Export La&bels…", kNone, nullptr},
    {"revertDocumentToSaved:", "&Revert to Saved", kNone, nullptr},
    {"_fileSaveConfiguration:", "Save Confi&guration…", kNone, nullptr},
    {"_fileLoadConfiguration:", "Loa&d Configuration…", kNone, nullptr},
    {"_fileRevertToDefaultConfiguration:", "Revert to De&fault Configuration…", kNone, nullptr},
    {"_FileSaveAsPICT:", "Save as &Picture…", kNone, nullptr},
    {"SaveasPict:", "Save as &Picture…", kNone, nullptr},
    {"printDocument:", "Pr&int…", kNone, "Ctrl+P"},
    {"terminate:", "&Quit", K::Quit, "Ctrl+Q"},
    {"_LogSave:", "&Save", K::Save, nullptr},
    {"_LogSaveas:", "Save &As…", K::SaveAs, nullptr},
    {"_PlotFormantOpen:", "Open Formant Plo&t…", kNone, nullptr},
    {"_PlotFormantSave:", "&Save", K::Save, nullptr},
    {"_PlotFormantSaveas:", "Save &As…", K::SaveAs, nullptr},
    {"_PlotFormantPict:", "Save as &Picture…", kNone, nullptr},
    // Edit
    {"_EditUndo:", "&Undo", K::Undo, nullptr},
    {"_EditCut:", "Cu&t", K::Cut, nullptr},
    {"_EditCopy:", "&Copy", K::Copy, nullptr},
    {"_EditPaste:", "&Paste", K::Paste, nullptr},
    {"_EditClear:", "Cl&ear", K::Delete, nullptr},
    {"_EditSelectAll:", "Select &All", K::SelectAll, nullptr},
    {"_EditSelectWindow:", "Select &Window", kNone, nullptr},
    {"_PlotFormantInsertrow:", "&Insert Row", kNone, nullptr},
    {"_PlotFormantDeleterow:", "&Delete Row", kNone, nullptr},
    // Zoom (the main view's and the pitch window's)
    {"_ZoomUndo:", "&Undo Zoom", kNone, nullptr},
    {"_ZoomIn:", "Zoom &In", K::ZoomIn, nullptr},
    {"_ZoomOut:", "Zoom &Out", K::ZoomOut, nullptr},
    {"_ZoomSelection:", "Zoom &Selection", kNone, nullptr},
    {"_ZoomCursor:", "Zoom at &Marker", kNone, nullptr},
    {"_ZoomHome:", "Zoom &Home", kNone, "Ctrl+0"},
    // Channels
    {"_ChannelsSetReferenceAll:", "Set Reference for &All", kNone, nullptr},
    {"_ChannelsSetfor:", "Set Reference only for: none selected", kNone, nullptr},
    {"_ChannelsSetReferenceAllZero:", "Set All References to &Zero", kNone, nullptr},
    // Label
    {"_LabelMode:", "Enable Label Mode", kNone, nullptr},
    {"_LabelView:", "Label &Table", kNone, nullptr},
    // Analysis
    {"_AnalysisFFT:", "&FFT/LPC at Marker", kNone, nullptr},
    {"_AnalysisFFTSelection:", "FFT/LPC of &Selection", kNone, nullptr},
    {"_AnalysisSpectrogram:", "Spe&ctrogram", kNone, nullptr},
    {"_AnalysisSpectrogramSelection:", "Spectrogram of Se&lection", kNone, nullptr},
    {"_AnalysisPitch:", "&Pitch", kNone, nullptr},
    {"_AnalysisVoiceReport:", "&Voice Report", kNone, nullptr},
    {"_AnalysisChannelSelect:", "Channel to Analyse: Audio", kNone, nullptr},
    {"_AnalysisIntensity:", "&Intensity", kNone, nullptr},
    {"_AnalysisSmooth:", "S&mooth", kNone, nullptr},
    {"_EGGChannelSelect:", "Assign channel for EGG: None", kNone, nullptr},
    {"_EggAnalysisall:", "&EGG Analysis", kNone, nullptr},
    {"_PlotFormantAll:", "Plot &All Formants", kNone, nullptr},
    {"_PlotFormantSelection:", "Plot Formants of Selectio&n", kNone, nullptr},
    // Sound (the main view's, the spectrogram's and the pitch window's)
    {"_Play:", "&Play", kNone, "Space"},
    {"_PlaySelection:", "Play &Selection", kNone, "Shift+Space"},
    {"_PlayWindow:", "Play &Window", kNone, "Ctrl+Shift+Space"},
    {"_ScopeMode:", "Scope &Mode", kNone, nullptr},
    {"_Record:", "&Record", kNone, "Ctrl+R"},
    // Options
    {"_OptionsRecordPlay:", "&Record/Play…", kNone, nullptr},
    {"_OptionsDisplay:", "&Display…", kNone, nullptr},
    {"_OptionsZoom:", "&Zoom…", kNone, nullptr},
    {"_OptionsFFTLPC:", "&FFT/LPC…", kNone, nullptr},
    {"_OptionsSpectrogram:", "&Spectrogram…", kNone, nullptr},
    {"_OptionsPitch:", "&Pitch…", kNone, nullptr},
    {"_OptionsCalibration:", "&Calibration…", kNone, nullptr},
    {"_OptionsIntensitySmooth:", "&Intensity / Smooth…", kNone, nullptr},
    {"_OptionsEGG:", "&EGG…", kNone, nullptr},
    {"_OptionsLog:", "&Log…", kNone, nullptr},
    // Log
    {"_LogNew:", "&New Log", kNone, nullptr},
    {"_LogOpen:", "&Open Log…", kNone, nullptr},
    {"_LogMarker:", "Enter &Marker", kNone, nullptr},
    {"_LogDuration:", "Enter &Duration", kNone, nullptr},
    {"_LogDataSelection:", "Enter Data &Selection", kNone, nullptr},
    {"_LogEntereggatmarker:", "Enter &EGG at Marker", kNone, nullptr},
    {"_LogEntereggselection:", "Enter EGG Se&lection", kNone, nullptr},
    {"_LogEntereggall:", "Enter EGG &All", kNone, nullptr},
    {"_LogFormantsMarker:", "Enter Formants at Mar&ker", kNone, nullptr},
    {"_LogFormantsSelection:", "Enter Formants of &Selection", kNone, nullptr},
    {"_LogFormantTrack:", "Enter Formant &Track (F1-F5, B1-B5)", kNone, nullptr},
    {"_LogFFTFormantBandwidths:", "Enter &Formants && Bandwidths", kNone, nullptr},
    {"_LogFFTFrame:", "Enter Spectrum F&rame", kNone, nullptr},
    {"_LogPitchMarker:", "Enter &Marker", kNone, nullptr},
    {"_LogPitchSelection:", "Enter &Selection", kNone, nullptr},
    {"_LogPitchAll:", "Enter &All Voiced Frames", kNone, nullptr},
    {"_LogVoiceReport:", "Enter &Voice Report", kNone, nullptr},
    // Window, Help
    {"_HideShowStatus:", "Show Status", kNone, nullptr},
    {"_aboutApp:", "&About Phonaxis", kNone, nullptr},
};

} // namespace

const MenuCommand* findMenuCommand(std::string_view name)
{
    for (const MenuCommand& command : kCommands) {
        if (name == command.name) {
            return &command;
        }
    }
    return nullptr;
}

QAction* makeMenuAction(std::string_view name, QObject* parent)
{
    const QString objectName =
        QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
    const MenuCommand* command = findMenuCommand(name);
    auto* action = new QAction(command ? QString::fromUtf8(command->title) : objectName, parent);
    action->setObjectName(objectName);
    action->setShortcutContext(Qt::WindowShortcut);
    if (command == nullptr) {
        return action;
    }
    if (command->shortcut != nullptr) {
        action->setShortcut(QKeySequence(QString::fromLatin1(command->shortcut)));
    } else if (command->standardKey != QKeySequence::UnknownKey) {
        action->setShortcuts(command->standardKey);
    }
    return action;
}

QMenu* addNamedMenu(QMenuBar& bar, const char* title)
{
    const QString text = QString::fromUtf8(title);
    QMenu* menu = bar.addMenu(text);
    menu->setObjectName(withoutMnemonic(text));
    return menu;
}

QString withoutMnemonic(const QString& title)
{
    QString plain;
    plain.reserve(title.size());
    for (qsizetype i = 0; i < title.size(); ++i) {
        if (title[i] == u'&' && i + 1 < title.size()) {
            ++i; // "&&" is a literal ampersand; "&x" marks x
        }
        plain.append(title[i]);
    }
    return plain;
}

} // namespace phonaxis
