#pragma once

#include "app/panels/SettingsPanel.h"

class QTableWidget;
class QTableWidgetItem;

namespace phonaxis {

// The intensity and smoothing sheet ("optionIntensitySmooth"): per channel
// the intensity window and step (ms), relative intensity, smoothing on and
// the smoothing points. Cell edits that would break the computations, or
// a window or step longer than the channel, are refused with an alert and
// the cell keeps its value. OK stores the times
// at single precision and the rest as integers in the channels, and the
// five settings of channels 0..15 in the configuration. The tracks take
// them the next time they are computed.
class IntensitySmoothPanel : public SettingsPanel {
    Q_OBJECT
public:
    enum Column { kRow, kName, kWindow, kStep, kRelative, kSmoothDo, kPoints, kColumnCount };
    // Largest number of smoothing points a cell takes.
    static constexpr int kMaxPoints = 1000;

    IntensitySmoothPanel(MyDocument& document, const AppSettings& settings, Prompts& prompts,
                         QWidget* parent);

    QTableWidget& channelTable() const { return *m_table; }

protected:
    void setup() override;
    void save() override;
    void patchConfiguration(Configuration& record) const override;

private:
    // Checks an edited cell; a refused edit puts the old text back.
    void cellEdited(QTableWidgetItem* item);

    QTableWidget* m_table; // child of the panel
    bool m_filling = false;
};

} // namespace phonaxis
