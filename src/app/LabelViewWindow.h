#pragma once

#include "model/LabelTable.h"

#include <QWidget>

#include <functional>
#include <vector>

class QPushButton;
class QTableWidget;

namespace phonaxis {

class MyDocument;

// The label table of one document window: every label of every channel in
// use, numbered across channels, read-only. The zoom button jumps the main
// view to the selected row's time.
class LabelViewWindow : public QWidget {
    Q_OBJECT
public:
    explicit LabelViewWindow(QWidget* parent = nullptr);

    // Rebuilds the rows from the document's channels.
    void fill(const MyDocument& document);

    // Jumps to the selected row's time (nothing without a selection).
    void zoomToSelection();

    QTableWidget* table() const { return m_table; }
    const std::vector<LabelTableRow>& rows() const { return m_rows; }

    // Called with the time (ms) of the row to jump to.
    std::function<void(double)> onJump;

private:
    QTableWidget* m_table;   // owned by this widget
    QPushButton* m_zoom;     // owned by this widget
    std::vector<LabelTableRow> m_rows;
};

} // namespace phonaxis
