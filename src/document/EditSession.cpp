#include "document/EditSession.h"

#include "document/AppSettings.h"
#include "document/EditClipboard.h"
#include "document/MyDocument.h"
#include "document/NativeFormat.h"
#include "document/Prompts.h"
#include "model/Functions.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <random>
#include <string_view>

#include <unistd.h>

namespace phonaxis {

namespace {

constexpr const char* kBackupSuffix = "__##tmp";
constexpr const char* kNoUndoTitle = "Do you wish to continue without undo capability?";
constexpr const char* kNoUndoMessage = "Unable to create a backup copy. Undo not available.";
constexpr const char* kReadFailure = "temp file read failure.";
constexpr const char* kChannelCountMismatch =
    "The channel numbers are not the same. Pasting is NOT available.";
constexpr const char* kSampleRateMismatch =
    "The channel sample rates are not the same. Pasting is NOT available.";
constexpr const char* kPasteTooLong =
    "The pasted channels would be too long. Pasting is NOT available.";
constexpr const char* kPasteNoMemory =
    "There is not enough memory to paste. Pasting is NOT available.";
constexpr const char* kCopyFailedTitle = "Copy failed.";
constexpr const char* kCopyNoMemory = "There is not enough memory to copy the selection.";

// Most samples a channel may hold after a paste: the int32 range the views
// and tracks count in (the same limit the readers apply).
constexpr std::size_t kMaxSampleCount = 2147483647;

// Longest display name kept in a backup file name, in bytes.
constexpr std::size_t kMaxNameBytes = 128;

int channelsInUse(const MyDocument& document)
{
    return document.channelsInUse();
}

// The display name as one safe file-name component: no path separators, at
// most kMaxNameBytes bytes cut at a UTF-8 character boundary.
std::string fileNameComponent(const std::string& displayName)
{
    std::string name = displayName;
    std::replace(name.begin(), name.end(), '/', '_');
    std::replace(name.begin(), name.end(), '\0', '_');
    if (name.size() > kMaxNameBytes) {
        std::size_t cut = kMaxNameBytes;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        name.resize(cut);
    }
    if (name.empty() || name == "." || name == "..") {
        name = "Untitled";
    }
    return name;
}

// Hex digits of the random tag in a backup file name.
constexpr std::size_t kTagDigits = 16;

// Backup file name: the display name, this process's id (which tells the
// clean-up at the next launch whose file it is), a random tag (so that the
// name cannot be foretold, and two backups never share a name), then the
// backup suffix.
std::string backupFileName(const std::string& nameComponent)
{
    std::random_device entropy;
    const std::uint64_t tag = (std::uint64_t{entropy()} << 32) ^ entropy();
    char hex[kTagDigits + 1];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(tag));
    return nameComponent + "." + std::to_string(::getpid()) + "." + hex + kBackupSuffix;
}

// Removes the labels strictly inside (startMs, stopMs), the rule by which a
// copy takes them.
void removeLabelsInside(Channels& channel, double startMs, double stopMs)
{
    int i = 0;
    while (i < static_cast<int>(channel.m_pArrayLabels.size())) {
        const double t = channel.m_pArrayLabels[static_cast<std::size_t>(i)].dTime;
        if (startMs < t && t < stopMs) {
            channel.RemoveLabel(i);
        } else {
            ++i;
        }
    }
}

// Moves by `ms` every label whose time is after `fromMs` (or at it, with
// `inclusive`).
void moveLabelsAfter(Channels& channel, double fromMs, bool inclusive, double ms)
{
    const int count = static_cast<int>(channel.m_pArrayLabels.size());
    for (int i = 0; i < count; ++i) {
        const double t = channel.m_pArrayLabels[static_cast<std::size_t>(i)].dTime;
        if (t > fromMs || (inclusive && t == fromMs)) {
            channel.MoveLabelTimeBy(i, ms);
        }
    }
}

// Adds a copy of every label of `source` with its time moved by `offsetMs`.
void addLabelsFrom(Channels& channel, const Channels& source, double offsetMs)
{
    for (const Labels& label : source.m_pArrayLabels) {
        Labels copy;
        copy.Duplicate(label);
        copy.dTime += offsetMs;
        copy.dEndTime += offsetMs;
        channel.Add_Label_Cocoa(copy);
    }
}

// Removes samples [span.startIndex, span.stopIndex) of a buffer holding
// span.sampleCount samples. Only shrinks, so it never allocates; the slack
// after the remaining samples is zero.
void removeSamples(SampleBuffer& buffer, const SampleSpan& span)
{
    if (span.length() == 0) {
        return;
    }
    float* data = buffer.data();
    std::memmove(data + span.startIndex, data + span.stopIndex,
                 (span.sampleCount - span.stopIndex) * sizeof(float));
    const std::size_t remaining = span.sampleCount - span.length();
    const std::size_t size = std::min(remaining + Channels::kSlackFloats, buffer.size());
    buffer.resize(size);
    std::fill(buffer.data() + remaining, buffer.data() + size, 0.0f);
}

// The samples and the extent a native float file gives a channel, taken from
// `restored` (read from the backup) into `target`.
void adoptSamples(Channels& target, Channels& restored)
{
    std::swap(target.m_hData, restored.m_hData);
    target.m_dLengthMS = restored.m_dLengthMS;
    target.m_dSampleRate = restored.m_dSampleRate;
    target.m_dwFileLength = restored.m_dwFileLength;
    target.m_dPageMin = restored.m_dPageMin;
    target.m_dPageMax = restored.m_dPageMax;
    target.m_dPageSize = restored.m_dPageSize;
    target.m_dPageTimeMin = restored.m_dPageTimeMin;
    target.m_dPageTimeMax = restored.m_dPageTimeMax;
    target.m_dPageTimeSize = restored.m_dPageTimeSize;
    target.m_dMinUnZoom = restored.m_dMinUnZoom;
    target.m_dMaxUnZoom = restored.m_dMaxUnZoom;
}

// The other settings a native float file holds for a channel, with its
// shown state, copied exactly from `source` into `target` (the file keeps
// gain and filter rate only as whole numbers and texts cut to their fields).
// Labels are not copied. Everything else (view geometry, cursor and marker,
// track settings and tracks, EGG events) stays as it is, as when a file is
// read into a document.
void copyFileSettings(Channels& target, const Channels& source)
{
    target.m_dReference = source.m_dReference;
    target.m_dA3Cal = source.m_dA3Cal;
    target.m_dB2Cal = source.m_dB2Cal;
    target.m_dC1Cal = source.m_dC1Cal;
    target.m_dD0Cal = source.m_dD0Cal;
    target.m_nChannelType = source.m_nChannelType;
    target.m_nResolutionBits = source.m_nResolutionBits;
    target.m_nDataType = source.m_nDataType;
    target.m_nHeigth = source.m_nHeigth;
    target.m_nOrder = source.m_nOrder;
    target.m_dGain = source.m_dGain;
    target.m_dFilterRate = source.m_dFilterRate;
    target.m_bDrawReference = source.m_bDrawReference;
    target.m_bAnchorChannel = source.m_bAnchorChannel;
    target.m_bShow = source.m_bShow;
    target.m_nColorRed = source.m_nColorRed;
    target.m_nColorGreen = source.m_nColorGreen;
    target.m_nColorBlue = source.m_nColorBlue;
    target.SetTitle(source.GetTitle());
    target.SetUnit(source.GetUnit());
}

// What a paste does to one channel.
struct PastePlan {
    SampleSpan removed;      // the selection replaced (empty when inserting)
    std::size_t inserted = 0; // clipboard samples put in
    std::size_t oldBufferSize = 0;
};

} // namespace

EditSession::EditSession(MyDocument& document, Prompts& prompts, EditClipboard& clipboard,
                         const std::string& displayName, std::filesystem::path tempFolder)
    : m_document(document), m_prompts(prompts), m_clipboard(clipboard),
      m_tempFolder(std::move(tempFolder)), m_backupName(fileNameComponent(displayName))
{
}

// The backup file goes with m_backup.
EditSession::~EditSession() = default;

std::filesystem::path EditSession::applicationTempFolder()
{
    return privateTemporaryFolder();
}

int EditSession::removeStaleBackups(const std::filesystem::path& folder)
{
    return removeAbandonedFiles(folder, &EditSession::backupOwner);
}

pid_t EditSession::backupOwner(const std::string& name)
{
    // <display name>.<process id>.<tag>__##tmp
    std::string_view rest(name);
    const std::string_view suffix(kBackupSuffix);
    if (!rest.ends_with(suffix)) {
        return -1;
    }
    rest.remove_suffix(suffix.size());
    const std::size_t tagDot = rest.rfind('.');
    if (tagDot == std::string_view::npos || rest.size() - tagDot - 1 != kTagDigits ||
        rest.substr(tagDot + 1).find_first_not_of("0123456789abcdef") != std::string_view::npos) {
        return -1;
    }
    rest = rest.substr(0, tagDot);
    const std::size_t pidDot = rest.rfind('.');
    if (pidDot == std::string_view::npos) {
        return -1;
    }
    const std::string_view digits = rest.substr(pidDot + 1);
    pid_t pid = -1;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), pid);
    if (error != std::errc() || end != digits.data() + digits.size() || digits.empty() ||
        pid <= 0) {
        return -1;
    }
    return pid;
}

bool EditSession::validateEditCommand(const std::string& command, bool viewHasSelection) const
{
    if (command == "_EditUndo:") {
        return m_document.m_bHaveData && m_bUndoAvailable;
    }
    if (command == "_EditCut:" || command == "_EditCopy:" || command == "_EditClear:") {
        return m_document.m_bHaveData && viewHasSelection;
    }
    if (command == "_EditPaste:") {
        return m_clipboard.hasContent();
    }
    return false;
}

// --- commands -------------------------------------------------------------------

EditOutcome EditSession::EditCopy()
{
    if (!m_document.m_bHaveData) {
        return {};
    }
    if (!m_clipboard.copySelection(m_document)) {
        m_prompts.alert(kCopyFailedTitle, kCopyNoMemory, "OK");
    }
    return {};
}

EditOutcome EditSession::EditCut()
{
    if (!m_document.m_bHaveData) {
        return {};
    }
    // Nothing is removed unless the clipboard holds it.
    if (!m_clipboard.copySelection(m_document)) {
        m_prompts.alert(kCopyFailedTitle, kCopyNoMemory, "OK");
        return {};
    }
    m_continued = {};
    if (!SaveFile(EditKind::kCut)) {
        return m_continued;
    }
    return performEdit(EditKind::kCut);
}

EditOutcome EditSession::EditPaste(bool viewHasSelection)
{
    if (!m_clipboard.hasContent()) {
        return {};
    }
    m_bPasteOverSelection = viewHasSelection;
    // A paste that will be refused must not replace the backup of the
    // previous edit.
    if (pasteRefused()) {
        return {};
    }
    m_continued = {};
    if (!SaveFile(EditKind::kPaste)) {
        return m_continued;
    }
    return performEdit(EditKind::kPaste);
}

EditOutcome EditSession::EditClear()
{
    if (!m_document.m_bHaveData) {
        return {};
    }
    m_continued = {};
    if (!SaveFile(EditKind::kClear)) {
        return m_continued;
    }
    return performEdit(EditKind::kClear);
}

EditOutcome EditSession::EditUndo()
{
    if (!m_document.m_bHaveData || !m_bUndoAvailable) {
        return {};
    }
    std::string reason;
    if (m_bLabelsOnly) {
        if (!restoreLabels(reason)) {
            m_prompts.alert(kReadFailure, reason, "OK");
            return {};
        }
        m_document.setDirty();
        EditOutcome outcome;
        outcome.labelsChanged = true;
        outcome.redraw = true;
        return outcome;
    }
    if (!ReadFile(reason)) {
        m_prompts.alert(kReadFailure, reason, "OK");
        return {};
    }
    // The restored channels differ from what may have been saved since the
    // edit.
    m_document.setDirty();
    EditOutcome outcome;
    outcome.edited = true;
    outcome.redraw = true;
    return outcome;
}

EditOutcome EditSession::performEdit(int kind)
{
    EditOutcome outcome;
    switch (kind) {
    case EditKind::kClear:
        clearSelectionSamples();
        m_document.setDirty();
        outcome.edited = true;
        outcome.redraw = true;
        break;
    case EditKind::kCut:
        editCut();
        recomputeIntensities();
        m_document.setDirty();
        rebuildLabelWindow();
        outcome.edited = true;
        outcome.clearSelection = true;
        outcome.redraw = true;
        break;
    case EditKind::kPaste:
        if (!editPaste(m_bPasteOverSelection)) {
            break;
        }
        recomputeIntensities();
        rebuildLabelWindow();
        m_document.setDirty();
        outcome.edited = true;
        outcome.clearSelection = true;
        outcome.redraw = true;
        break;
    case EditKind::kSmoothing:
        if (m_smooth) {
            m_smooth();
        }
        outcome.edited = true;
        outcome.redraw = true;
        break;
    default:
        break;
    }
    return outcome;
}

// --- backup and undo -------------------------------------------------------------

bool EditSession::SaveFile(int kind)
{
    if (kind < EditKind::kClear || kind > EditKind::kSmoothing) {
        return false;
    }
    m_bUndoAvailable = false;
    if (!m_document.m_bHaveData) {
        return true;
    }
    // The previous backup goes first: its space may be needed for the new one.
    dropBackup();

    std::string error;
    if (writeBackup(error)) {
        m_bUndoAvailable = true;
        return true;
    }
    // Why, on a line of its own: a folder refused as not private, for one,
    // would otherwise cost every later edit its undo without a word.
    if (m_prompts.alert(kNoUndoTitle, std::string(kNoUndoMessage) + "\n" + error, "Continue",
                        "Cancel") == 1) {
        m_continued = performEdit(kind);
    }
    return false;
}

bool EditSession::backUpLabels()
{
    dropBackup();
    if (!m_document.m_bHaveData) {
        return true;
    }
    try {
        const int count = channelsInUse(m_document);
        m_backupLabels.reserve(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            m_backupLabels.push_back(m_document.getChannel(i).m_pArrayLabels);
        }
    } catch (const std::bad_alloc&) {
        m_backupLabels.clear();
        return m_prompts.alert(kNoUndoTitle,
                               std::string(kNoUndoMessage) +
                                   "\nThere is not enough memory to keep the labels.",
                               "Continue", "Cancel") == 1;
    }
    m_bLabelsOnly = true;
    m_bUndoAvailable = true;
    return true;
}

bool EditSession::restoreLabels(std::string& error)
{
    const int count = channelsInUse(m_document);
    if (count != static_cast<int>(m_backupLabels.size())) {
        error = "The labels kept for undo do not belong to this document.";
        return false;
    }
    for (int i = 0; i < count; ++i) {
        Channels& channel = m_document.getChannel(i);
        channel.m_pArrayLabels = std::move(m_backupLabels[static_cast<std::size_t>(i)]);
        channel.m_nLabelCount = static_cast<std::int32_t>(channel.m_pArrayLabels.size());
    }
    dropBackup();
    rebuildLabelWindow();
    return true;
}

void EditSession::dropBackup()
{
    m_bUndoAvailable = false;
    m_backup.remove();
    m_backupChannels.clear();
    m_backupLabels.clear();
    m_bLabelsOnly = false;
}

bool EditSession::writeBackup(std::string& error)
{
    const int count = channelsInUse(m_document);
    if (count < native::kMinChannels || count > native::kMaxChannels) {
        error = "The document has no channels to back up.";
        return false;
    }
    try {
        m_backupChannels.resize(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            Channels& kept = m_backupChannels[static_cast<std::size_t>(i)];
            const Channels& channel = m_document.getChannel(i);
            copyFileSettings(kept, channel);
            // What the file must hold for this channel.
            kept.m_dSampleRate = channel.m_dSampleRate;
            kept.m_dwFileLength = channel.m_dwFileLength;
            // The file keeps label colours in 256 steps and texts cut to
            // their fields: undo takes the labels from here.
            kept.m_pArrayLabels = channel.m_pArrayLabels;
        }
    } catch (const std::bad_alloc&) {
        m_backupChannels.clear();
        error = "There is not enough memory to back the document up.";
        return false;
    }
    m_backupDocument = {m_document.m_nFileFormat,
                        m_document.m_bForeignFile,
                        m_document.m_bNewFile,
                        m_document.m_dAnalysisSampleRate,
                        m_document.m_dwAnalysisFileLength,
                        m_document.m_dAnalysisLengthMS};

    if (!m_backup.create(m_tempFolder, backupFileName(m_backupName), error)) {
        m_backupChannels.clear();
        return false;
    }
    // The writer leaves hidden channels out; the backup must hold them all.
    // The backup is always a KVQ_PC_FLOAT file, whatever the document was
    // read from: it holds the samples exactly as they are in memory and,
    // unlike the USB2 layout, keeps channels of different lengths and every
    // last frame intact. Undo restores the document's own format code.
    for (int i = 0; i < count; ++i) {
        m_document.getChannel(i).m_bShow = true;
    }
    const bool written =
        writeNativeFileTo(m_document, false, false, m_backup.fd(), m_backup.path(), error) &&
        m_backup.finishWriting(error);
    for (int i = 0; i < count; ++i) {
        m_document.getChannel(i).m_bShow = m_backupChannels[static_cast<std::size_t>(i)].m_bShow;
    }
    if (!written) {
        m_backup.remove();
        m_backupChannels.clear();
        return false;
    }
    return true;
}

bool EditSession::ReadFile(std::string& error)
{
    // The backup is read into a document of its own and checked whole before
    // any channel of this document changes. Its settings object is private
    // too, so reading it leaves the process-wide analysis rate alone.
    AppSettings scratchSettings;
    auto restored = std::make_unique<MyDocument>(m_prompts, scratchSettings);
    {
        TrackBuffer<std::uint8_t> bytes;
        if (!m_backup.readBack(bytes, error)) {
            return false;
        }
        if (!restored->Read_KVQ_PC_Float_FileType(bytes.span())) {
            error = "The backup copy is damaged.";
            return false;
        }
    }
    const int count = restored->m_nNumofChannels;
    bool matches = count == static_cast<int>(m_backupChannels.size()) && count >= 1 &&
                   count <= MyDocument::kChannelSlots;
    for (int i = 0; matches && i < count; ++i) {
        const Channels& kept = m_backupChannels[static_cast<std::size_t>(i)];
        const Channels& read = restored->getChannel(i);
        matches = read.m_dSampleRate == kept.m_dSampleRate &&
                  read.m_dwFileLength ==
                      static_cast<double>(truncWithin(kept.m_dwFileLength,
                                                      std::numeric_limits<std::size_t>::max()));
    }
    if (!matches) {
        error = "The backup copy does not belong to this document.";
        return false;
    }

    for (int i = 0; i < count; ++i) {
        Channels& channel = m_document.getChannel(i);
        Channels& kept = m_backupChannels[static_cast<std::size_t>(i)];
        adoptSamples(channel, restored->getChannel(i));
        copyFileSettings(channel, kept);
        channel.m_pArrayLabels = std::move(kept.m_pArrayLabels);
        channel.m_nLabelCount = static_cast<std::int32_t>(channel.m_pArrayLabels.size());
    }
    m_document.m_nNumofChannels = count;
    m_document.m_bHaveData = true;
    m_document.m_nFileFormat = m_backupDocument.fileFormat;
    m_document.m_bForeignFile = m_backupDocument.foreignFile;
    m_document.m_bNewFile = m_backupDocument.newFile;
    m_document.m_dAnalysisSampleRate = m_backupDocument.analysisSampleRate;
    m_document.m_dwAnalysisFileLength = m_backupDocument.analysisFileLength;
    m_document.m_dAnalysisLengthMS = m_backupDocument.analysisLengthMs;
    if (m_document.m_nFileFormat == FileFormat::kPcFloat) {
        m_document.adoptAnalysisSampleRate(true);
    }
    restored.reset();

    recomputeIntensities();
    rebuildLabelWindow();
    m_bUndoAvailable = false;
    m_backup.remove();
    m_backupChannels.clear();
    return true;
}

// --- editing ---------------------------------------------------------------------------

void EditSession::clearSelectionSamples()
{
    const int count = channelsInUse(m_document);
    for (int i = 0; i < count; ++i) {
        Channels& channel = m_document.getChannel(i);
        const std::size_t held = heldSampleCount(channel);
        if (held == 0) {
            continue;
        }
        // From trunc(start) while the index is below the stop position.
        const double stop = channel.m_dDurationStopFile;
        const std::size_t first = truncWithin(channel.m_dDurationStartFile, held);
        const std::size_t last = std::isnan(stop) ? 0 : truncWithin(std::ceil(stop), held);
        const auto value = static_cast<float>(channel.m_dReference);
        float* data = channel.m_hData.data();
        for (std::size_t j = first; j < last; ++j) {
            data[j] = value;
        }
    }
}

void EditSession::editCut()
{
    const int count = std::min(channelsInUse(m_document), m_clipboard.channelCount());
    for (int i = 0; i < count; ++i) {
        Channels& channel = m_document.getChannel(i);
        const Channels& cut = m_clipboard.channel(i);
        const double startMs = cut.m_dDurationStartTime;
        const double stopMs = cut.m_dDurationStopTime;
        const double durationMs = cut.m_dDurationTime;

        removeLabelsInside(channel, startMs, stopMs);
        // A label at the stop time marks the first sample after the cut,
        // which moves to the start: the label goes with it.
        moveLabelsAfter(channel, stopMs, true, -durationMs);

        if (channel.m_hData.present()) {
            const SampleSpan span =
                selectionSpan(channel, cut.m_dDurationStartFile, cut.m_dDurationStopFile);
            removeSamples(channel.m_hData, span);
            channel.m_dwFileLength =
                std::max(0.0, channel.m_dwFileLength - static_cast<double>(span.length()));
            channel.m_dLengthMS = std::max(0.0, channel.m_dLengthMS - durationMs);
        }
    }
}

bool EditSession::pasteRefused()
{
    const int count = channelsInUse(m_document);
    if (count == 0) {
        return false; // an empty document takes the clipboard's channels
    }
    if (count != m_clipboard.channelCount()) {
        m_prompts.alert(kChannelCountMismatch, "", "Cancel");
        return true;
    }
    for (int i = 0; i < count; ++i) {
        if (m_document.getChannel(i).m_dSampleRate != m_clipboard.channel(i).m_dSampleRate) {
            m_prompts.alert(kSampleRateMismatch, "", "Cancel");
            return true;
        }
    }
    return false;
}

bool EditSession::editPaste(bool viewHasSelection)
{
    if (!m_clipboard.hasContent() || m_clipboard.channelCount() < 1) {
        return false;
    }

    if (channelsInUse(m_document) == 0) {
        const int count = m_clipboard.channelCount();
        for (int i = 0; i < count; ++i) {
            Channels& channel = m_document.getChannel(i);
            const Channels& source = m_clipboard.channel(i);
            channel.Duplicate(source);
            if (heldSampleCount(source) > 0 && !channel.m_hData.present()) {
                // The document stays empty: its slots are not in use.
                for (int j = 0; j <= i; ++j) {
                    m_document.getChannel(j).m_hData.reset();
                    m_document.getChannel(j).RemoveAllLabels();
                }
                m_prompts.alert(kPasteNoMemory, "", "Cancel");
                return false;
            }
        }
        m_document.m_nNumofChannels = count;
        m_document.m_nFileFormat = m_clipboard.fileFormat();
        m_document.m_bHaveData = true;
        m_bUndoAvailable = false;
        return true;
    }

    if (pasteRefused()) {
        return false;
    }
    const int count = channelsInUse(m_document);
    bool everyChannelHasSamples = true;
    for (int i = 0; i < count; ++i) {
        everyChannelHasSamples = everyChannelHasSamples && m_document.getChannel(i).m_hData.present();
    }

    std::vector<PastePlan> plans(static_cast<std::size_t>(count));
    if (everyChannelHasSamples) {
        for (int i = 0; i < count; ++i) {
            const Channels& channel = m_document.getChannel(i);
            PastePlan& plan = plans[static_cast<std::size_t>(i)];
            if (viewHasSelection) {
                plan.removed = selectionSpan(channel, channel.m_dDurationStartFile,
                                             channel.m_dDurationStopFile);
            } else {
                plan.removed = selectionSpan(channel, channel.m_dMarkerFileValue,
                                             channel.m_dMarkerFileValue);
            }
            plan.inserted = heldSampleCount(m_clipboard.channel(i));
            plan.oldBufferSize = channel.m_hData.size();
            const std::size_t kept = plan.removed.sampleCount - plan.removed.length();
            if (plan.inserted > kMaxSampleCount - kept) {
                m_prompts.alert(kPasteTooLong, "", "Cancel");
                return false;
            }
        }
        // Every buffer grows to its final size before any sample moves, so
        // that running out of memory part-way leaves the document as it was.
        for (int i = 0; i < count; ++i) {
            const PastePlan& plan = plans[static_cast<std::size_t>(i)];
            const std::size_t needed = plan.removed.sampleCount - plan.removed.length() +
                                       plan.inserted + Channels::kSlackFloats;
            if (needed > plan.oldBufferSize &&
                !m_document.getChannel(i).m_hData.resize(needed)) {
                for (int j = 0; j < i; ++j) {
                    m_document.getChannel(j).m_hData.resize(
                        plans[static_cast<std::size_t>(j)].oldBufferSize);
                }
                m_prompts.alert(kPasteNoMemory, "", "Cancel");
                return false;
            }
        }
    }

    for (int i = 0; i < count; ++i) {
        Channels& channel = m_document.getChannel(i);
        const Channels& source = m_clipboard.channel(i);
        PastePlan& plan = plans[static_cast<std::size_t>(i)];
        const double pastedMs = source.m_dDurationTime;

        double atMs = channel.m_dMarkerTime;
        if (viewHasSelection) {
            const double startMs = channel.m_dDurationStartTime;
            const double removedMs =
                std::max(0.0, channel.m_dDurationStopTime - channel.m_dDurationStartTime);
            removeLabelsInside(channel, startMs, channel.m_dDurationStopTime);
            moveLabelsAfter(channel, startMs, false, -removedMs);
            if (everyChannelHasSamples) {
                removeSamples(channel.m_hData, plan.removed);
                channel.m_dwFileLength = std::max(
                    0.0, channel.m_dwFileLength - static_cast<double>(plan.removed.length()));
                channel.m_dLengthMS = std::max(0.0, channel.m_dLengthMS - removedMs);
            }
            atMs = startMs;
        }

        moveLabelsAfter(channel, atMs, false, pastedMs);
        addLabelsFrom(channel, source, atMs);

        if (everyChannelHasSamples && plan.inserted > 0) {
            const std::size_t kept = plan.removed.sampleCount - plan.removed.length();
            // Within the capacity reserved above: cannot fail.
            PasteHandleFloat(channel.m_hData, source.m_hData, kept, plan.inserted,
                             plan.removed.startIndex);
            channel.m_dwFileLength += static_cast<double>(plan.inserted);
            channel.m_dLengthMS += pastedMs;
        }
    }
    return true;
}

void EditSession::recomputeIntensities()
{
    const int count = channelsInUse(m_document);
    for (int i = 0; i < count; ++i) {
        m_document.recomputeIntensity(i);
    }
}

void EditSession::rebuildLabelWindow()
{
    if (m_rebuildLabels) {
        m_rebuildLabels();
    }
}

// --- sample insertion ------------------------------------------------------------

SampleBuffer* PasteHandleFloat(SampleBuffer& destination, const SampleBuffer& source,
                               std::size_t destinationLength, std::size_t sourceLength,
                               std::size_t insertIndex)
{
    if (!source.present()) {
        return nullptr;
    }
    const std::size_t n = std::min(sourceLength, source.size());
    if (n == 0) {
        return nullptr;
    }
    if (&destination == &source) {
        // Inserting a buffer into itself: work from a copy of the source.
        SampleBuffer copy;
        if (!copy.allocate(n)) {
            return nullptr;
        }
        std::memcpy(copy.data(), source.data(), n * sizeof(float));
        return PasteHandleFloat(destination, copy, destinationLength, n, insertIndex);
    }
    if (!destination.present()) {
        SampleBuffer copy;
        if (!copy.allocate(n + Channels::kSlackFloats)) {
            return nullptr;
        }
        std::memcpy(copy.data(), source.data(), n * sizeof(float));
        destination = std::move(copy);
        return &destination;
    }

    const std::size_t m = std::min(destinationLength, destination.size());
    const std::size_t k = std::min(insertIndex, m);
    if (n > std::numeric_limits<std::size_t>::max() / sizeof(float) - Channels::kSlackFloats - m) {
        return nullptr;
    }
    const std::size_t total = m + n;
    const std::size_t finalSize = total + Channels::kSlackFloats;
    if (finalSize > destination.size() && !destination.resize(finalSize)) {
        return nullptr;
    }
    float* data = destination.data();
    std::memmove(data + k + n, data + k, (m - k) * sizeof(float));
    std::memcpy(data + k, source.data(), n * sizeof(float));
    destination.resize(finalSize); // only shrinks here: cannot fail
    std::fill(destination.data() + total, destination.data() + finalSize, 0.0f);
    return &destination;
}

} // namespace phonaxis
