#pragma once

#include <QWidget>

#include <optional>
#include <string>
#include <vector>

class QLabel;
class QTableWidget;

namespace phonaxis {

class MyDocument;

// One value of the status read-out: the calibrated value of a channel at
// the cursor.
struct StatusChannelValue {
    int channelIndex = 0; // document slot
    double value = 0.0;
};

// The application's single status window: the key document's channels in a
// read-only table (index, title, sample rate, filter rate, gain, reference,
// value at the cursor, unit) and the cursor time and duration the main view
// reports while the mouse moves or drags over it. Main thread only.
class StatusWindowController : public QWidget {
    Q_OBJECT
public:
    // Column titles and widths (points) of the table, in order.
    static constexpr int kColumnCount = 8;
    static const char* const kColumnTitles[kColumnCount];
    static constexpr int kColumnWidths[kColumnCount] = {10, 100, 80, 80, 50, 80, 100, 50};
    static constexpr int kValueColumn = 6;

    explicit StatusWindowController(QWidget* parent = nullptr);

    // Shows `document` (null: no document): title := `displayName`, cursor
    // time and duration cleared, one row per channel in use when it has
    // data, else no rows.
    void setupFor(const MyDocument* document, const QString& displayName);

    // The view's report while the mouse moves or drags: cursor time and
    // duration ("%.2f", ms) and the values at the cursor ("%.3f"). Absent
    // parts keep what the window shows (a press reports only a duration of 0).
    void showStatus(std::optional<double> cursorTimeMs, std::optional<double> durationMs,
                    const std::vector<StatusChannelValue>& values);

    QTableWidget* table() const { return _statusTable; }
    QLabel* cursorTimeField() const { return m_cursorTime; }
    QLabel* durationField() const { return m_duration; }

    // A number as the table shows whole values: the fraction dropped ("%.0f"
    // of the truncated value, so huge or non-finite values print safely).
    static QString wholeNumber(double value);

private:
    void setRowValue(int row, double value);

    QTableWidget* _statusTable; // owned by this widget
    QLabel* m_cursorTime;       // owned by this widget
    QLabel* m_duration;         // owned by this widget
};

} // namespace phonaxis
