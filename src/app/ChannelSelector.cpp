#include "app/ChannelSelector.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace phonaxis {

ChannelSelector::ChannelSelector(const std::string& note, const std::vector<std::string>& entries,
                                 QWidget* parent)
    : QDialog(parent), m_note(new QLabel(QString::fromStdString(note), this)),
      m_popUp(new QComboBox(this))
{
    setObjectName("selector");
    setWindowTitle(QString::fromStdString(note));
    m_popUp->setObjectName("_popUp");
    for (const std::string& entry : entries) {
        m_popUp->addItem(QString::fromStdString(entry));
    }
    if (m_popUp->count() > 0) {
        m_popUp->setCurrentIndex(0);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setEnabled(m_popUp->count() > 0);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_note);
    layout->addWidget(m_popUp);
    layout->addWidget(buttons);
}

int ChannelSelector::chosenIndex() const
{
    return m_popUp->count() > 0 ? m_popUp->currentIndex() : -1;
}

void ChannelSelector::choose(int index)
{
    m_popUp->setCurrentIndex(index);
}

std::vector<std::string> ChannelSelector::numberedEntries(int count)
{
    std::vector<std::string> entries;
    for (int number = 1; number < count; ++number) {
        entries.push_back("Channel " + std::to_string(number) + " ");
    }
    return entries;
}

int ChannelSelector::resultNumber(int dialogResult, int chosenIndex)
{
    if (dialogResult != QDialog::Accepted || chosenIndex < 0) {
        return -1;
    }
    return chosenIndex + 1;
}

} // namespace phonaxis
