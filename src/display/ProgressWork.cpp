#include "display/ProgressWork.h"

#include <QProgressDialog>

#include <cmath>
#include <utility>

namespace phonaxis {

namespace {

// Steps of the bar: fine enough that the windows are painted often, coarse
// enough that painting costs nothing next to the work.
constexpr int kSteps = 1000;

} // namespace

ProgressWork::ProgressWork(QWidget* window, const QString& label, ProgressDriver driver,
                           int showAfterMs)
    : m_driver(std::move(driver)), m_progress([this](double fraction) { return report(fraction); })
{
    if (m_driver) {
        return;
    }
    m_dialog = std::make_unique<QProgressDialog>(label, QObject::tr("Cancel"), 0, kSteps, window);
    m_dialog->setObjectName("progress");
    m_dialog->setAccessibleName(label);
    m_dialog->setWindowTitle(QObject::tr("Phonaxis"));
    m_dialog->setWindowModality(Qt::ApplicationModal);
    m_dialog->setAutoClose(false);
    m_dialog->setAutoReset(false);
    m_dialog->setMinimumDuration(showAfterMs);
    // The first value starts the clock that decides when the dialog shows.
    m_dialog->setValue(0);
}

ProgressWork::~ProgressWork() = default;

void ProgressWork::setLabel(const QString& label)
{
    if (m_dialog) {
        m_dialog->setLabelText(label);
        m_dialog->setAccessibleName(label);
    }
}

bool ProgressWork::report(double fraction)
{
    if (m_cancelled) {
        return false;
    }
    if (m_driver) {
        m_cancelled = !m_driver(fraction);
        return !m_cancelled;
    }
    // Each new step shows the dialog once the work has run long enough and,
    // while it is shown, lets the windows paint and the Cancel button act.
    const int value = static_cast<int>(std::lround(fraction * kSteps));
    if (value != m_lastValue && value < kSteps) {
        m_lastValue = value;
        m_dialog->setValue(value);
    }
    m_cancelled = m_dialog->wasCanceled();
    return !m_cancelled;
}

} // namespace phonaxis
