#include "app/LabelExportSheet.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace phonaxis {

namespace {

// A titled group of two radio buttons, the first checked; returns the
// second.
QRadioButton* addChoice(QVBoxLayout& layout, QWidget* parent, const QString& title,
                        const char* firstName, const QString& first, const QString& firstHint,
                        const char* secondName, const QString& second, const QString& secondHint)
{
    auto* box = new QGroupBox(title, parent);
    auto* rows = new QVBoxLayout(box);
    auto* group = new QButtonGroup(box);
    QRadioButton* buttons[2] = {new QRadioButton(first, box), new QRadioButton(second, box)};
    buttons[0]->setObjectName(firstName);
    buttons[1]->setObjectName(secondName);
    buttons[0]->setToolTip(firstHint);
    buttons[1]->setToolTip(secondHint);
    buttons[0]->setAccessibleDescription(firstHint);
    buttons[1]->setAccessibleDescription(secondHint);
    for (QRadioButton* button : buttons) {
        group->addButton(button);
        rows->addWidget(button);
    }
    buttons[0]->setChecked(true);
    layout.addWidget(box);
    return buttons[1];
}

} // namespace

LabelExportSheet::LabelExportSheet(QWidget* parent) : QDialog(parent)
{
    setObjectName("exportLabels");
    setWindowTitle(tr("Export Labels"));
    setWindowModality(Qt::WindowModal);

    auto* layout = new QVBoxLayout(this);
    auto* note =
        new QLabel(tr("Each channel with labels becomes a tier named after the channel."), this);
    note->setWordWrap(true);
    layout->addWidget(note);

    m_points = addChoice(
        *layout, this, tr("Tiers"), "intervals", tr("&Intervals"),
        tr("Each label opens an interval that lasts until its end, or until the next label."),
        "points", tr("&Points"), tr("Each label becomes a point at its time."));
    m_shortForm = addChoice(*layout, this, tr("Text form"), "longForm", tr("&Long"),
                            tr("Every value named: easy to read and edit."), "shortForm",
                            tr("&Short"), tr("The bare values: smaller files."));
    m_utf16 = addChoice(*layout, this, tr("Encoding"), "utf8", tr("UTF-&8"),
                        tr("The usual encoding of text files."), "utf16", tr("UTF-1&6"),
                        tr("For programs that read only UTF-16 files."));

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* cancel = buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName("Cancel");
    QPushButton* ok = buttons->addButton(tr("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName("OK");
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    button("intervals")->setFocus();
}

ExportedTierKind LabelExportSheet::kind() const
{
    return m_points->isChecked() ? ExportedTierKind::Points : ExportedTierKind::Intervals;
}

TextGridForm LabelExportSheet::form() const
{
    return m_shortForm->isChecked() ? TextGridForm::Short : TextGridForm::Long;
}

TextGridEncoding LabelExportSheet::encoding() const
{
    return m_utf16->isChecked() ? TextGridEncoding::Utf16BigEndian : TextGridEncoding::Utf8;
}

QRadioButton* LabelExportSheet::button(const char* name) const
{
    return findChild<QRadioButton*>(QString::fromLatin1(name));
}

} // namespace phonaxis
