#pragma once

#include "analysis/WorkProgress.h"

#include <QString>

#include <functional>
#include <memory>

class QProgressDialog;
class QWidget;

namespace phonaxis {

// Answers a long computation's reports instead of a progress dialog
// (tests): receives the fraction done; false cancels the work.
using ProgressDriver = std::function<bool(double fraction)>;

// A long computation run on the main thread behind a progress dialog. The
// work reports through progress(). Once it has run for `showAfterMs` the
// dialog appears over `window` with the label and a Cancel button, modal to
// the whole application, so that nothing else can change the document
// while the work reads it; the reports keep the windows painting and
// answer whether the work should go on. Work that ends sooner shows no
// dialog. With a driver, the driver answers the reports and no dialog is
// made. Main thread only.
class ProgressWork {
public:
    static constexpr int kShowAfterMs = 400;

    ProgressWork(QWidget* window, const QString& label, ProgressDriver driver = {},
                 int showAfterMs = kShowAfterMs);
    ~ProgressWork();
    ProgressWork(const ProgressWork&) = delete;
    ProgressWork& operator=(const ProgressWork&) = delete;

    // What the work reports to.
    const WorkProgress& progress() const { return m_progress; }
    // Whether the user (or the driver) cancelled the work.
    bool cancelled() const { return m_cancelled; }
    // Changes the dialog's label (a new stage or channel).
    void setLabel(const QString& label);
    // The dialog; null with a driver.
    QProgressDialog* dialog() const { return m_dialog.get(); }

private:
    bool report(double fraction);

    ProgressDriver m_driver;
    std::unique_ptr<QProgressDialog> m_dialog;
    WorkProgress m_progress;
    int m_lastValue = 0;
    bool m_cancelled = false;
};

} // namespace phonaxis
