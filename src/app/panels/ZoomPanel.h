#pragma once

#include "app/panels/SettingsPanel.h"

class QDoubleSpinBox;

namespace phonaxis {

// The zoom panel ("optionZoom"): the zoom range in ms. OK stores it in the
// document and, fraction dropped, in the configuration.
class ZoomPanel : public SettingsPanel {
    Q_OBJECT
public:
    ZoomPanel(MyDocument& document, const AppSettings& settings, Prompts& prompts, QWidget* parent);

    QDoubleSpinBox& zoomRange() const { return *m_zoomRange; }

protected:
    void setup() override;
    void save() override;
    void patchConfiguration(Configuration& record) const override;

private:
    QDoubleSpinBox* m_zoomRange; // child of the panel
};

} // namespace phonaxis
