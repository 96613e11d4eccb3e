#pragma once

#include "app/panels/SettingsPanel.h"

class QTableWidget;

namespace phonaxis {

// The calibration sheet ("optionCalibration"): per channel the cubic
// calibration A, B, C, D ("%1.5f") and the unit. OK stores the coefficients
// at single precision and the units in the channels, and the coefficients
// and units of channel slots 0..15 in the configuration.
class CalibrationPanel : public SettingsPanel {
    Q_OBJECT
public:
    enum Column { kRow, kName, kA, kB, kC, kD, kUnit, kColumnCount };

    CalibrationPanel(MyDocument& document, const AppSettings& settings, Prompts& prompts,
                     QWidget* parent);

    QTableWidget& channelTable() const { return *m_table; }

protected:
    void setup() override;
    bool canSave() override;
    void save() override;
    void patchConfiguration(Configuration& record) const override;

private:
    QTableWidget* m_table; // child of the panel
};

} // namespace phonaxis
