#pragma once

#include "document/TextGrid.h"

#include <QDialog>

class QRadioButton;

namespace phonaxis {

// The "Export Labels" sheet: what kind of tiers the labels become (as they
// came, the default: intervals for labels from intervals, else points; or
// Intervals, or Points for every channel), the text form of the file (long, the
// default, or short) and its encoding (UTF-8, the default, or UTF-16). OK
// goes on to the save panel. Main thread only.
class LabelExportSheet : public QDialog {
    Q_OBJECT
public:
    explicit LabelExportSheet(QWidget* parent = nullptr);

    ExportedTierKind kind() const;
    TextGridForm form() const;
    // UTF-16 is written big-endian with a byte-order mark, which tells any
    // reader the order.
    TextGridEncoding encoding() const;

    // The choices, by objectName: "asLabels", "intervals", "points", "longForm",
    // "shortForm", "utf8", "utf16".
    QRadioButton* button(const char* name) const;

private:
    QRadioButton* m_intervals; // owned by the dialog
    QRadioButton* m_points;    // owned by the dialog
    QRadioButton* m_shortForm; // owned by the dialog
    QRadioButton* m_utf16;     // owned by the dialog
};

} // namespace phonaxis
