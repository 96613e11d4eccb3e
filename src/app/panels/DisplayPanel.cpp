#include "app/panels/DisplayPanel.h"

#include "document/MyDocument.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>

namespace phonaxis {

namespace {

// Strip heights a channel may take, in pixels.
constexpr int kMinHeigth = 1;
constexpr int kMaxHeigth = 10000;

} // namespace

DisplayPanel::DisplayPanel(MyDocument& document, const AppSettings& settings, Prompts& prompts,
                           QWidget* parent)
    : SettingsPanel(document, settings, prompts, "optionDisplay", tr("Display"), parent),
      m_table(new QTableWidget(this)),
      m_trackMouse(new QCheckBox(tr("Track Mouse"), this)),
      m_drawTimeGrid(new QCheckBox(tr("Draw Time Grid"), this)),
      m_timeGridSpacing(new QSpinBox(this)),
      m_inches(new QRadioButton(tr("Inches"), this)),
      m_centimetres(new QRadioButton(tr("Centimeters"), this)),
      m_color(new QCheckBox(tr("Color"), this)),
      m_width(new QDoubleSpinBox(this)),
      m_height(new QDoubleSpinBox(this))
{
    m_table->setObjectName("channels");
    m_trackMouse->setObjectName("trackMouse");
    m_drawTimeGrid->setObjectName("drawTimeGrid");
    m_timeGridSpacing->setObjectName("timeGridSpacing");
    m_timeGridSpacing->setRange(0, 1000000);
    m_inches->setObjectName("inches");
    m_centimetres->setObjectName("centimeters");
    m_color->setObjectName("color");
    for (QDoubleSpinBox* size : {m_width, m_height}) {
        size->setRange(0.1, 1000.0);
        size->setDecimals(2);
    }
    m_width->setObjectName("width");
    m_height->setObjectName("height");

    body()->addWidget(m_table);
    auto* form = new QFormLayout;
    form->addRow(m_trackMouse);
    form->addRow(m_drawTimeGrid);
    form->addRow(tr("Time Grid Spacing"), m_timeGridSpacing);
    auto* units = new QHBoxLayout;
    units->addWidget(m_inches);
    units->addWidget(m_centimetres);
    form->addRow(tr("Size"), units);
    form->addRow(m_color);
    form->addRow(tr("Width"), m_width);
    form->addRow(tr("Height"), m_height);
    body()->addLayout(form);
}

void DisplayPanel::setup()
{
    const int count = m_document.channelsInUse();
    prepareChannelTable(*m_table, count,
                        {QString(), tr("Signal Name"), tr("Show"), tr("Heigth"), tr("Draw Ref."),
                         tr("Draw Int.")},
                        {30, 100, 50, 60, 70, 70});
    for (int row = 0; row < count; ++row) {
        const Channels& channel = m_document.getChannel(row);
        m_table->setItem(row, kName, new QTableWidgetItem(QString::fromStdString(channel.GetTitle())));
        setCheckCell(*m_table, row, kShow, channel.m_bShow);
        m_table->setItem(row, kHeigth, new QTableWidgetItem(QString::number(channel.m_nHeigth)));
        setCheckCell(*m_table, row, kDrawRef, channel.m_bDrawReference);
        setCheckCell(*m_table, row, kDrawInt, channel.m_bDrawIntensity);
    }
    m_trackMouse->setChecked(m_document.m_bTrackMouse);
    m_drawTimeGrid->setChecked(m_document.m_bDrawTimeGrid);
    m_timeGridSpacing->setValue(m_document.m_nTimeGridSpacing);
    m_inches->setChecked(m_document.m_bInches);
    m_centimetres->setChecked(!m_document.m_bInches);
    m_color->setChecked(m_document.m_bColor);
    m_width->setValue(m_document.m_dWidth);
    m_height->setValue(m_document.m_dHeight);
}

bool DisplayPanel::canSave()
{
    // A height that is not a whole number in range would break the strip
    // layout.
    for (int row = 0; row < m_table->rowCount(); ++row) {
        bool ok = false;
        const int heigth = cellText(*m_table, row, kHeigth).trimmed().toInt(&ok);
        if (!ok || heigth < kMinHeigth || heigth > kMaxHeigth) {
            m_prompts.alert("The height is not valid.",
                            QString::asprintf("The height of channel %d must be a whole number "
                                              "from %d to %d.",
                                              row, kMinHeigth, kMaxHeigth)
                                .toStdString(),
                            "OK");
            return false;
        }
    }
    return true;
}

void DisplayPanel::save()
{
    for (int row = 0; row < m_table->rowCount(); ++row) {
        Channels& channel = m_document.getChannel(row);
        channel.SetTitle(cellText(*m_table, row, kName).toStdString());
        channel.m_bShow = isCellChecked(*m_table, row, kShow);
        bool ok = false; // canSave has refused anything else
        const int heigth = cellText(*m_table, row, kHeigth).trimmed().toInt(&ok);
        if (ok && heigth >= kMinHeigth && heigth <= kMaxHeigth) {
            channel.m_nHeigth = heigth;
        }
        channel.m_bDrawReference = isCellChecked(*m_table, row, kDrawRef);
        channel.m_bDrawIntensity = isCellChecked(*m_table, row, kDrawInt);
    }
    m_document.m_bTrackMouse = m_trackMouse->isChecked();
    m_document.m_bDrawTimeGrid = m_drawTimeGrid->isChecked();
    m_document.m_nTimeGridSpacing = m_timeGridSpacing->value();
    m_document.m_bInches = m_inches->isChecked();
    m_document.m_bColor = m_color->isChecked();
    m_document.m_dWidth = m_width->value();
    m_document.m_dHeight = m_height->value();
}

void DisplayPanel::patchConfiguration(Configuration& record) const
{
    putDocumentSettings(record, m_document, ConfigOffset::kDisplayFirst, ConfigOffset::kDisplayLast);
}

} // namespace phonaxis
