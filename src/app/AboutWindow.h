#pragma once

#include <QDialog>

class QLabel;

namespace phonaxis {

// The about window: the application's name and version string.
class AboutWindow : public QDialog {
    Q_OBJECT
public:
    explicit AboutWindow(const QString& version, QWidget* parent = nullptr);

    QLabel* versionField() const { return m_version; }

private:
    QLabel* m_version; // owned by the dialog
};

} // namespace phonaxis
