#pragma once

#include "document/PrivateFiles.h"
#include "model/Channels.h"
#include "model/TrackBuffer.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace phonaxis {

class EditClipboard;
class MyDocument;
class Prompts;

// Edit kinds a backup is made for (SaveFile).
namespace EditKind {
constexpr int kClear = 2;
constexpr int kCut = 3;
constexpr int kPaste = 4;
constexpr int kSmoothing = 5;
} // namespace EditKind

// What the main view must do after an edit command.
struct EditOutcome {
    bool edited = false;         // the document's channels were changed
    bool clearSelection = false; // collapse the view's selection
    bool redraw = false;         // redraw the channels
    // The labels were replaced (and renumbered); the samples were not.
    bool labelsChanged = false;
};

// The editing state a main view keeps for its document: the backup file
// that gives one level of undo, the undo flag, and the Edit commands (copy,
// cut, paste, clear, undo) over every channel's selection or at its marker.
//
// The backup is a complete native float file of the document before the
// edit, whatever format the document was read from, streamed to disk rather
// than built in memory. It is made in this user's private temporary folder
// (PrivateFiles.h) under a name that carries the document's display name,
// this process's id and a random tag, read back only through the descriptor
// it was written with, and removed when the next backup replaces it, after
// undo, and when the session ends. The channel settings and document fields
// the file stores only approximately are kept exactly beside it. A change
// to labels alone (an import) keeps only the labels, in memory, instead.
//
// Alerts go through `prompts`; the label window is rebuilt through a hook the
// view installs. Document, prompts and clipboard must outlive the session.
// Main thread only.
class EditSession {
public:
    EditSession(MyDocument& document, Prompts& prompts, EditClipboard& clipboard,
                const std::string& displayName,
                std::filesystem::path tempFolder = applicationTempFolder());
    ~EditSession();
    EditSession(const EditSession&) = delete;
    EditSession& operator=(const EditSession&) = delete;

    // This user's private temporary folder (privateTemporaryFolder; created
    // when a backup is first written).
    static std::filesystem::path applicationTempFolder();

    // Removes the backups that runs of the application which ended without
    // cleaning up (a crash) left in `folder`; the backups of running
    // instances stay. Returns the number removed.
    static int removeStaleBackups(const std::filesystem::path& folder);

    // The process id a backup's file name carries, or -1 when `name` is not
    // a backup's.
    static pid_t backupOwner(const std::string& name);

    // The current backup's path; empty while there is none.
    const std::string& backupPath() const { return m_backup.path(); }
    bool undoAvailable() const { return m_bUndoAvailable; }

    // Called after cut, paste and undo to rebuild the label window if it is
    // visible.
    void setLabelWindowRebuild(std::function<void()> rebuild) { m_rebuildLabels = std::move(rebuild); }
    // The smoothing of the derived tracks, run when its backup fails and the
    // user chooses to continue without undo.
    void setSmoothingAction(std::function<void()> smooth) { m_smooth = std::move(smooth); }

    // Whether an Edit command is enabled ("_EditUndo:", "_EditCut:",
    // "_EditCopy:", "_EditClear:", "_EditPaste:"); other names are not ours.
    bool validateEditCommand(const std::string& command, bool viewHasSelection) const;

    // --- commands -------------------------------------------------------------
    EditOutcome EditCopy();
    EditOutcome EditCut();
    // Replaces each channel's selection when the view has one, else inserts
    // at each channel's marker.
    EditOutcome EditPaste(bool viewHasSelection);
    EditOutcome EditClear();
    EditOutcome EditUndo();

    // --- operations -------------------------------------------------------------

    // Backs the document up before an edit of `kind` (EditKind). Clears the
    // undo flag, writes the backup of a document with data (whatever its
    // format) and sets the flag again. Returns true when the caller goes on with its
    // edit. When the backup cannot be written the user is asked whether to
    // continue without undo: on "Continue" the edit of `kind` is carried out
    // here (smoothing through the smoothing action); either way the caller
    // stops (false).
    bool SaveFile(int kind);

    // Keeps every channel's labels for the undo of a change to labels alone
    // (an import of labels). It replaces the previous backup, as an edit's
    // backup does; Undo then gives back each channel's label list as it was
    // and leaves the samples alone. Returns true when the caller goes on with
    // its change. When the labels cannot be kept (memory) the user is asked
    // whether to continue without undo; the answer is returned.
    bool backUpLabels();

    // Restores the document's channels, format code and flags from the
    // backup. The backup is read and checked completely before anything
    // changes; on failure `error` says why and the document is unchanged.
    // Intensity tracks present are recomputed and undo becomes unavailable.
    bool ReadFile(std::string& error);

    // Removes, in every channel, the samples and labels of the clipboard
    // channel's selection and moves later labels earlier. Never allocates.
    void editCut();

    // Pastes the clipboard: into an empty document as its channels; else, per
    // channel, over the selection (`viewHasSelection`) or at the marker.
    // Mismatched channel counts or rates, or a result that cannot be held,
    // are told through an alert and change nothing. False when refused.
    bool editPaste(bool viewHasSelection);

private:
    // The document-wide fields the backup gives back.
    struct DocumentState {
        std::int32_t fileFormat = -1;
        bool foreignFile = false;
        bool newFile = true;
        double analysisSampleRate = 0.0;
        double analysisFileLength = 0.0;
        double analysisLengthMs = 0.0;
    };

    // Writes the backup and keeps what goes with it; false (with `error`)
    // when it could not be made, leaving no backup.
    bool writeBackup(std::string& error);
    // Performs the edit of `kind` with everything that follows it (intensity,
    // label window, change mark) and returns what the view must do.
    EditOutcome performEdit(int kind);
    // Sets every channel in use of the selection to its reference value.
    void clearSelectionSamples();
    // The alert that refuses a paste, or false when it may go ahead.
    bool pasteRefused();
    void recomputeIntensities();
    void rebuildLabelWindow();
    // Gives back the labels backUpLabels kept; false (with `error`) when the
    // document's channels no longer match them.
    bool restoreLabels(std::string& error);
    // Forgets the backup and the labels kept, leaving no undo.
    void dropBackup();

    MyDocument& m_document;
    Prompts& m_prompts;
    EditClipboard& m_clipboard;
    std::filesystem::path m_tempFolder;
    // The display name as it appears in backup file names.
    std::string m_backupName;
    PrivateFile m_backup;
    bool m_bUndoAvailable = false;
    // The view's selection state for a paste carried out after a failed
    // backup.
    bool m_bPasteOverSelection = false;
    // What an edit carried out after a failed backup left the view to do.
    EditOutcome m_continued;
    // Each channel's settings and labels when the backup was made (no
    // samples), shown or hidden: the backup holds every channel, and undo
    // hides them again.
    std::vector<Channels> m_backupChannels;
    DocumentState m_backupDocument;
    // Each channel's labels before a change of labels alone (backUpLabels);
    // while m_bLabelsOnly is set, undo restores only these.
    std::vector<std::vector<Labels>> m_backupLabels;
    bool m_bLabelsOnly = false;
    std::function<void()> m_rebuildLabels;
    std::function<void()> m_smooth;
};

// Inserts `sourceLength` samples of `source` into `destination` before its
// sample `insertIndex`: destination[0, index), then the source samples, then
// destination[index, destinationLength). The destination ends with zero
// slack (Channels::kSlackFloats) after the samples. Lengths beyond what a
// buffer holds are cut to it; the index is limited to the destination length.
//
// Returns the destination; nullptr when the source is absent or empty, or
// when the result cannot be allocated (the destination is then unchanged).
// An absent destination becomes a copy of the source.
SampleBuffer* PasteHandleFloat(SampleBuffer& destination, const SampleBuffer& source,
                               std::size_t destinationLength, std::size_t sourceLength,
                               std::size_t insertIndex);

} // namespace phonaxis
