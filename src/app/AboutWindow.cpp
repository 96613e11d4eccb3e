#include "app/AboutWindow.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

namespace phonaxis {

AboutWindow::AboutWindow(const QString& version, QWidget* parent)
    : QDialog(parent), m_version(new QLabel(version, this))
{
    setObjectName("aboutApp");
    setWindowTitle(tr("About Phonaxis"));
    m_version->setObjectName("_version");
    auto* name = new QLabel(QStringLiteral("<b>Phonaxis</b>"), this);
    name->setAlignment(Qt::AlignCenter);
    m_version->setAlignment(Qt::AlignCenter);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(name);
    layout->addWidget(m_version);
    layout->addWidget(buttons);
}

} // namespace phonaxis
