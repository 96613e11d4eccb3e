#include "app/LabelExportSheet.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <vector>

namespace phonaxis {

namespace {

// One choice of a group: its object name, text and hint.
struct Choice {
    const char* name;
    QString text;
    QString hint;
};

// A titled group of radio buttons, the first checked; returns them in order.
std::vector<QRadioButton*> addChoice(QVBoxLayout& layout, QWidget* parent, const QString& title,
                                     const std::vector<Choice>& choices)
{
    auto* box = new QGroupBox(title, parent);
    auto* rows = new QVBoxLayout(box);
    auto* group = new QButtonGroup(box);
    std::vector<QRadioButton*> buttons;
    for (const Choice& choice : choices) {
        auto* button = new QRadioButton(choice.text, box);
        button->setObjectName(choice.name);
        button->setToolTip(choice.hint);
        button->setAccessibleDescription(choice.hint);
        group->addButton(button);
        rows->addWidget(button);
        buttons.push_back(button);
    }
    buttons.front()->setChecked(true);
    layout.addWidget(box);
    return buttons;
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

    const std::vector<QRadioButton*> kinds =
        addChoice(*layout, this, tr("Tiers"),
                  {{"asLabels", tr("&As the labels came"),
                    tr("Intervals for a channel whose labels came from intervals, points for the "
                       "others.")},
                   {"intervals", tr("&Intervals"),
                    tr("Each label opens an interval that lasts until its end, or until the next "
                       "label.")},
                   {"points", tr("&Points"), tr("Each label becomes a point at its time.")}});
    m_intervals = kinds[1];
    m_points = kinds[2];
    m_shortForm =
        addChoice(*layout, this, tr("Text form"),
                  {{"longForm", tr("&Long"), tr("Every value named: easy to read and edit.")},
                   {"shortForm", tr("&Short"), tr("The bare values: smaller files.")}})[1];
    m_utf16 =
        addChoice(*layout, this, tr("Encoding"),
                  {{"utf8", tr("UTF-&8"), tr("The usual encoding of text files.")},
                   {"utf16", tr("UTF-1&6"), tr("For programs that read only UTF-16 files.")}})[1];

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* cancel = buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName("Cancel");
    QPushButton* ok = buttons->addButton(tr("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName("OK");
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    button("asLabels")->setFocus();
}

ExportedTierKind LabelExportSheet::kind() const
{
    return m_points->isChecked()      ? ExportedTierKind::Points
           : m_intervals->isChecked() ? ExportedTierKind::Intervals
                                      : ExportedTierKind::AsLabels;
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
