#include "app/LabelImportSheet.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace phonaxis {

namespace {

// Rows shown before the tiers scroll.
constexpr int kRowsWithoutScrolling = 10;

// A label showing text from a file exactly: never read as rich text.
QLabel* plainLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLabel* headerLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

} // namespace

LabelImportSheet::LabelImportSheet(const TextGrid& grid,
                                   const std::vector<std::string>& channelTitles, int audioChannel,
                                   const QString& fileName, QWidget* parent)
    : QDialog(parent)
{
    setObjectName("importLabels");
    setWindowTitle(tr("Import Labels"));
    setWindowModality(Qt::WindowModal);

    auto* layout = new QVBoxLayout(this);
    QLabel* note = plainLabel(
        tr("Choose the channel that the labels of each tier in “%1” go to.").arg(fileName), this);
    note->setWordWrap(true);
    layout->addWidget(note);

    auto* rows = new QWidget(this);
    auto* table = new QGridLayout(rows);
    table->setContentsMargins(0, 0, 0, 0);
    table->setHorizontalSpacing(16);
    table->addWidget(headerLabel(tr("Tier"), rows), 0, 0);
    table->addWidget(headerLabel(tr("Kind"), rows), 0, 1);
    table->addWidget(headerLabel(tr("Labels"), rows), 0, 2, Qt::AlignRight);
    table->addWidget(headerLabel(tr("Channel"), rows), 0, 3);
    table->setColumnStretch(3, 1);

    const int tierCount = static_cast<int>(grid.tiers.size());
    const int channelCount = static_cast<int>(channelTitles.size());
    for (int tier = 0; tier < tierCount; ++tier) {
        const TextGridTier& source = grid.tiers[static_cast<std::size_t>(tier)];
        const QString name =
            source.name.empty() ? tr("(unnamed)") : QString::fromStdString(source.name);
        const QString kind = source.isIntervalTier ? tr("intervals") : tr("points");
        const int count = labelCount(source);
        m_counts.push_back(count);

        auto* choice = new QComboBox(rows);
        choice->setObjectName(QStringLiteral("tierChannel%1").arg(tier));
        for (int channel = 0; channel < channelCount; ++channel) {
            choice->addItem(
                QString::fromStdString(channelTitles[static_cast<std::size_t>(channel)]), channel);
        }
        choice->addItem(tr("Do not import"), -1);
        choice->setAccessibleName(source.name.empty() ? tr("Channel for tier %1").arg(tier + 1)
                                                      : tr("Channel for tier “%1”").arg(name));
        choice->setAccessibleDescription(
            tr("Tier %1: %2, %3 labels").arg(tier + 1).arg(kind).arg(count));
        m_choices.push_back(choice);
        choose(tier, defaultChannel(tier, tierCount, channelCount, audioChannel));
        connect(choice, &QComboBox::currentIndexChanged, this, &LabelImportSheet::updateOK);

        // With a buddy, '&' would mark a mnemonic: the name shows as it is.
        QLabel* nameLabel = plainLabel(QString(name).replace(u'&', QStringLiteral("&&")), rows);
        nameLabel->setBuddy(choice);
        table->addWidget(nameLabel, tier + 1, 0);
        table->addWidget(plainLabel(kind, rows), tier + 1, 1);
        table->addWidget(plainLabel(QString::number(count), rows), tier + 1, 2, Qt::AlignRight);
        table->addWidget(choice, tier + 1, 3);
    }

    if (tierCount > kRowsWithoutScrolling) {
        auto* scroller = new QScrollArea(this);
        scroller->setWidgetResizable(true);
        scroller->setFrameShape(QFrame::NoFrame);
        scroller->setWidget(rows);
        scroller->setMinimumHeight(rows->sizeHint().height() * kRowsWithoutScrolling /
                                   (tierCount + 1));
        scroller->setMinimumWidth(rows->sizeHint().width() + 24);
        layout->addWidget(scroller, 1);
    } else {
        layout->addWidget(rows);
    }

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* cancel = buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName("Cancel");
    m_ok = buttons->addButton(tr("OK"), QDialogButtonBox::AcceptRole);
    m_ok->setObjectName("OK");
    m_ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    updateOK();
    setMinimumWidth(420);
    if (!m_choices.empty()) {
        m_choices.front()->setFocus();
    }
}

QComboBox* LabelImportSheet::channelChoice(int tier) const
{
    if (tier < 0 || tier >= static_cast<int>(m_choices.size())) {
        return nullptr;
    }
    return m_choices[static_cast<std::size_t>(tier)];
}

void LabelImportSheet::choose(int tier, int channel)
{
    if (QComboBox* choice = channelChoice(tier)) {
        const int index = choice->findData(channel);
        choice->setCurrentIndex(index >= 0 ? index : choice->count() - 1);
    }
}

std::vector<TierToChannel> LabelImportSheet::assignments() const
{
    std::vector<TierToChannel> chosen;
    for (std::size_t tier = 0; tier < m_choices.size(); ++tier) {
        const int channel = m_choices[tier]->currentData().toInt();
        if (channel >= 0) {
            chosen.push_back({static_cast<int>(tier), channel});
        }
    }
    return chosen;
}

int LabelImportSheet::chosenLabelCount() const
{
    int total = 0;
    for (const TierToChannel& assignment : assignments()) {
        total += m_counts[static_cast<std::size_t>(assignment.tier)];
    }
    return total;
}

int LabelImportSheet::defaultChannel(int tier, int tierCount, int channelCount, int audioChannel)
{
    if (channelCount < 1) {
        return -1;
    }
    if (tierCount == 1 && audioChannel >= 0 && audioChannel < channelCount) {
        return audioChannel;
    }
    return std::clamp(tier, 0, channelCount - 1);
}

int LabelImportSheet::labelCount(const TextGridTier& tier)
{
    if (!tier.isIntervalTier) {
        return static_cast<int>(tier.points.size());
    }
    return static_cast<int>(
        std::count_if(tier.intervals.begin(), tier.intervals.end(),
                      [](const TextGridInterval& interval) { return !interval.text.empty(); }));
}

void LabelImportSheet::updateOK()
{
    m_ok->setEnabled(!assignments().empty());
}

} // namespace phonaxis
