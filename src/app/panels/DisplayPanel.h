#pragma once

#include "app/panels/SettingsPanel.h"

class QCheckBox;
class QDoubleSpinBox;
class QRadioButton;
class QSpinBox;
class QTableWidget;

namespace phonaxis {

// The display panel ("optionDisplay"): per channel the title ("Signal
// Name"), "Show", the strip height ("Heigth"), "Draw Ref." and "Draw Int.";
// for the document track mouse, time grid and its spacing, size unit,
// colour and page size. OK writes them to the channels and the document and
// the seven document settings to the configuration (width .. inches).
class DisplayPanel : public SettingsPanel {
    Q_OBJECT
public:
    enum Column { kRow, kName, kShow, kHeigth, kDrawRef, kDrawInt, kColumnCount };

    DisplayPanel(MyDocument& document, const AppSettings& settings, Prompts& prompts,
                 QWidget* parent);

    QTableWidget& channelTable() const { return *m_table; }

protected:
    void setup() override;
    bool canSave() override;
    void save() override;
    void patchConfiguration(Configuration& record) const override;

private:
    QTableWidget* m_table;        // children of the panel
    QCheckBox* m_trackMouse;
    QCheckBox* m_drawTimeGrid;
    QSpinBox* m_timeGridSpacing;
    QRadioButton* m_inches;
    QRadioButton* m_centimetres;
    QCheckBox* m_color;
    QDoubleSpinBox* m_width;
    QDoubleSpinBox* m_height;
};

} // namespace phonaxis
