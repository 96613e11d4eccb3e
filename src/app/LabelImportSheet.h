#pragma once

#include "document/TextGrid.h"

#include <QDialog>

#include <string>
#include <vector>

class QComboBox;
class QPushButton;

namespace phonaxis {

// The "Import Labels" sheet: one row per tier of a grid read from a file,
// with the tier's name, its kind ("intervals" or "points") and the number
// of labels it gives, and a pop-up choosing where those labels go: one of
// the document's channels (by title) or "Do not import". OK is enabled
// while at least one tier goes to a channel. The sheet only chooses; the
// caller imports. Main thread only.
class LabelImportSheet : public QDialog {
    Q_OBJECT
public:
    // `channelTitles` are the document's channels in order (at least one);
    // `audioChannel` is the document's audio channel, the place of a grid's
    // only tier; `fileName` is shown in the note.
    LabelImportSheet(const TextGrid& grid, const std::vector<std::string>& channelTitles,
                     int audioChannel, const QString& fileName, QWidget* parent = nullptr);

    // The pop-up of tier `tier` (objectName "tierChannel<tier>"); null when
    // there is no such tier.
    QComboBox* channelChoice(int tier) const;
    // Sets tier `tier`'s pop-up to channel `channel`, or to "Do not import"
    // for -1.
    void choose(int tier, int channel);
    // The tiers that go to a channel, in tier order.
    std::vector<TierToChannel> assignments() const;
    // The labels the chosen tiers give, all together.
    int chosenLabelCount() const;

    // The channel a tier goes to until the user says otherwise: a grid's
    // only tier goes to the audio channel; otherwise tier i goes to channel
    // i, the tiers past the last channel to the last.
    static int defaultChannel(int tier, int tierCount, int channelCount, int audioChannel);
    // The labels `tier` gives: its points, or its intervals with a text.
    static int labelCount(const TextGridTier& tier);

private:
    void updateOK();

    std::vector<QComboBox*> m_choices; // owned by the dialog, one per tier
    std::vector<int> m_counts;         // labels each tier gives
    QPushButton* m_ok = nullptr;       // owned by the dialog
};

} // namespace phonaxis
