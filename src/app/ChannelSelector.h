#pragma once

#include <QDialog>

#include <string>
#include <vector>

class QComboBox;
class QLabel;

namespace phonaxis {

// The channel choice sheet: a note, a pop-up of entries (first one
// selected), OK and Cancel. Used for the channel of a multichannel source
// and for the channel to export.
class ChannelSelector : public QDialog {
    Q_OBJECT
public:
    ChannelSelector(const std::string& note, const std::vector<std::string>& entries,
                    QWidget* parent = nullptr);

    // The pop-up's index (0-based), or -1 when it holds no entry.
    int chosenIndex() const;
    void choose(int index);

    QComboBox* popUp() const { return m_popUp; }
    QLabel* note() const { return m_note; }

    // The entries of a multichannel source given `count`: "Channel 1 " up to
    // "Channel <count - 1> " (with the trailing blank); none for a count
    // below 2.
    static std::vector<std::string> numberedEntries(int count);

    // The answer of the selector: the chosen entry's 1-based number, or -1
    // on Cancel or without entries.
    static int resultNumber(int dialogResult, int chosenIndex);

private:
    QLabel* m_note;      // owned by the dialog
    QComboBox* m_popUp;  // owned by the dialog
};

} // namespace phonaxis
