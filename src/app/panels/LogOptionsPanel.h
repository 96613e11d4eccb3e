#pragma once

#include "app/panels/SettingsPanel.h"

class QLineEdit;

namespace phonaxis {

// The log options sheet ("optionLog"): the data-selection entry's step
// (`_dataStepSize`, ms, single precision) and the spectrum window's frame
// interval (`_fftlpcStepSize`, whole ms). Both must be positive: OK with
// anything else is refused with an alert and the sheet stays open. OK
// stores them in the document and in the configuration (offsets 2760 and
// 1172).
class LogOptionsPanel : public SettingsPanel {
    Q_OBJECT
public:
    LogOptionsPanel(MyDocument& document, const AppSettings& settings, Prompts& prompts,
                    QWidget* parent);

protected:
    void setup() override;
    bool canSave() override;
    void save() override;
    void patchConfiguration(Configuration& record) const override;

private:
    QLineEdit* m_dataStepSize;   // children of the panel
    QLineEdit* m_fftlpcStepSize;
};

} // namespace phonaxis
