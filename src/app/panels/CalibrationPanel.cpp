#include "app/panels/CalibrationPanel.h"

#include "document/MyDocument.h"

#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>

namespace phonaxis {

namespace {

QString coefficientText(double value)
{
    return QString::asprintf("%1.5f", value);
}

// The coefficient a cell holds, at single precision; `previous` when the
// text is not a finite number, so that a typing slip cannot wipe out a
// calibration.
double coefficientOf(const QString& text, double previous)
{
    bool ok = false;
    const float value = text.trimmed().toFloat(&ok);
    return ok && std::isfinite(value) ? static_cast<double>(value) : previous;
}

} // namespace

CalibrationPanel::CalibrationPanel(MyDocument& document, const AppSettings& settings,
                                   Prompts& prompts, QWidget* parent)
    : SettingsPanel(document, settings, prompts, "optionCalibration", tr("Calibration"), parent),
      m_table(new QTableWidget(this))
{
    m_table->setObjectName("channels");
    m_table->setMinimumWidth(700);
    body()->addWidget(m_table);
}

void CalibrationPanel::setup()
{
    const int count = m_document.channelsInUse();
    prepareChannelTable(*m_table, count,
                        {QString(), tr("Name"), tr("A(x**3)"), tr("B(x**2)"), tr("C(x)"), tr("D"),
                         tr("Unit")},
                        {50, 100, 80, 80, 80, 80, 180});
    for (int row = 0; row < count; ++row) {
        const Channels& channel = m_document.getChannel(row);
        setReadOnlyCell(*m_table, row, kName, QString::fromStdString(channel.GetTitle()));
        const double coefficients[] = {channel.m_dA3Cal, channel.m_dB2Cal, channel.m_dC1Cal,
                                       channel.m_dD0Cal};
        for (int k = 0; k < 4; ++k) {
            auto* item = new QTableWidgetItem(coefficientText(coefficients[k]));
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_table->setItem(row, kA + k, item);
        }
        m_table->setItem(row, kUnit, new QTableWidgetItem(QString::fromStdString(channel.GetUnit())));
    }
}

bool CalibrationPanel::canSave()
{
    // A typing slip must not wipe out a calibration.
    for (int row = 0; row < m_table->rowCount(); ++row) {
        for (int column : {kA, kB, kC, kD}) {
            bool ok = false;
            const float value = cellText(*m_table, row, column).trimmed().toFloat(&ok);
            if (!ok || !std::isfinite(value)) {
                m_prompts.alert("The calibration is not valid.",
                                QString::asprintf("The coefficients of channel %d must be "
                                                  "numbers.",
                                                  row)
                                    .toStdString(),
                                "OK");
                return false;
            }
        }
    }
    return true;
}

void CalibrationPanel::save()
{
    for (int row = 0; row < m_table->rowCount(); ++row) {
        Channels& channel = m_document.getChannel(row);
        // The cells show five decimals: a cell whose text was not edited
        // keeps the coefficient it shows rounded, so pressing OK never turns
        // 3e-7 into 0.
        const auto coefficientCell = [&](int column, double current) {
            const QString text = cellText(*m_table, row, column);
            return text == coefficientText(current) ? current : coefficientOf(text, current);
        };
        channel.m_dA3Cal = coefficientCell(kA, channel.m_dA3Cal);
        channel.m_dB2Cal = coefficientCell(kB, channel.m_dB2Cal);
        channel.m_dC1Cal = coefficientCell(kC, channel.m_dC1Cal);
        channel.m_dD0Cal = coefficientCell(kD, channel.m_dD0Cal);
        channel.SetUnit(cellText(*m_table, row, kUnit).toStdString());
    }
}

void CalibrationPanel::patchConfiguration(Configuration& record) const
{
    // Coefficients and units of channel slots 0..15 (all 16 exist in every
    // document, in use or not).
    putDocumentSettings(record, m_document, ConfigOffset::kCalibrationA3,
                        ConfigOffset::kLogStepSize - 1);
}

} // namespace phonaxis
