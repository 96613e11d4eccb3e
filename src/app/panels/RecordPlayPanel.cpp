#include "app/panels/RecordPlayPanel.h"

#include "document/AppSettings.h"
#include "document/Prompts.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <iterator>
#include <string>

namespace phonaxis {

namespace {

// The play sources offered, in the order of the pop-up.
const char* const kPlaySources[] = {"Hardware", "Computer"};

// The position of `rate` in the rate pop-up; a rate it does not offer
// selects 11025.
int sampleRateIndex(int rate)
{
    const auto& rates = RecordPlayPanel::kSampleRates;
    for (int i = 0; i < static_cast<int>(std::size(rates)); ++i) {
        if (rates[i] == rate) {
            return i;
        }
    }
    return static_cast<int>(std::size(rates)) - 1;
}

QLabel* labelFor(QWidget* control, const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setBuddy(control);
    return label;
}

} // namespace

RecordPlayPanel::RecordPlayPanel(AppSettings& settings, Prompts& prompts, QWidget* parent)
    : QDialog(parent), m_settings(settings), m_prompts(prompts), m_sampleRate(new QComboBox(this)),
      m_playSource(new QComboBox(this))
{
    setObjectName("optionRecordPlay");
    setWindowTitle(tr("Record/Play Settings"));
    setModal(false);

    m_sampleRate->setObjectName("sampleRate");
    m_sampleRate->setAccessibleName(tr("Sample Rate"));
    for (const int rate : kSampleRates) {
        m_sampleRate->addItem(QString::number(rate));
    }
    m_sampleRateLabel = labelFor(m_sampleRate, tr("Sample Rate (Hz)"), this);
    m_sampleRateNote = new QLabel(tr("The rate applies to the next sound-card recording."), this);
    m_sampleRateNote->setObjectName("sampleRateNote");
    m_sampleRateNote->setWordWrap(true);

    m_playSource->setObjectName("playSource");
    m_playSource->setAccessibleName(tr("Play Source"));
    for (const char* source : kPlaySources) {
        m_playSource->addItem(QString::fromUtf8(source));
    }
    m_playSourceLabel = labelFor(m_playSource, tr("Play Source"), this);
    m_playSourceLabel->setObjectName("playSourceLabel");

    auto* grid = new QGridLayout;
    grid->addWidget(m_sampleRateLabel, 0, 0);
    grid->addWidget(m_sampleRate, 0, 1);
    grid->addWidget(m_sampleRateNote, 1, 0, 1, 2);
    grid->addWidget(m_playSourceLabel, 2, 0);
    grid->addWidget(m_playSource, 2, 1);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* cancel = buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName("Cancel");
    cancel->setAccessibleName(tr("Cancel"));
    cancel->setAutoDefault(false);
    QPushButton* ok = buttons->addButton(tr("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName("OK");
    ok->setAccessibleName(tr("OK"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &RecordPlayPanel::pressOK);
    connect(cancel, &QPushButton::clicked, this, &RecordPlayPanel::pressCancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(buttons);
}

void RecordPlayPanel::start(bool haveBox)
{
    m_haveBox = haveBox;
    m_sampleRate->setCurrentIndex(sampleRateIndex(m_settings.g_nRecordSampleRate));
    // A play source the pop-up does not offer (a user configuration's
    // "External Hardware") shows no choice and is kept unless one is made.
    m_playSource->setCurrentIndex(
        m_playSource->findText(QString::fromStdString(m_settings.g_strPlaySource)));

    m_sampleRateLabel->setVisible(!haveBox);
    m_sampleRate->setVisible(!haveBox);
    m_sampleRateNote->setVisible(!haveBox);
    m_playSourceLabel->setVisible(haveBox);
    m_playSource->setVisible(haveBox);
    adjustSize();

    show();
    raise();
    activateWindow();
    (haveBox ? m_playSource : m_sampleRate)->setFocus();
}

void RecordPlayPanel::pressOK()
{
    if (!isVisible()) {
        return;
    }
    if (!m_haveBox) {
        m_settings.g_nRecordSampleRate =
            kSampleRates[sampleRateIndex(m_sampleRate->currentText().toInt())];
    } else if (m_playSource->currentIndex() >= 0) {
        m_settings.g_strPlaySource = m_playSource->currentText().toStdString();
    }
    std::string error;
    m_lastPatch = patchApplicationConfiguration(
        m_settings,
        [this](Configuration& record) {
            record.putText(ConfigOffset::kInputSource, ConfigOffset::kInputSourceWidth,
                           m_settings.g_strInputSource);
            record.putText(ConfigOffset::kPlaySource, ConfigOffset::kPlaySourceWidth,
                           m_settings.g_strPlaySource);
        },
        &error);
    if (m_lastPatch == PatchResult::WriteFailed) {
        m_prompts.alert("The record/play settings could not be saved in the configuration.",
                        error + " They apply until Phonaxis quits.", "OK");
    }
    accept();
}

void RecordPlayPanel::pressCancel()
{
    if (isVisible()) {
        QDialog::reject();
    }
}

} // namespace phonaxis
