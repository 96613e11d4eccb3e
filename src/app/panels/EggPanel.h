#pragma once

#include "app/panels/SettingsPanel.h"

#include <QString>

#include <array>

class QCheckBox;
class QLineEdit;

namespace phonaxis {

class Channels;

// The EGG options sheet ("optionEGG") of the document's EGG channel: the
// cycle threshold (%), the velocity and acceleration smoothing windows (ms),
// all "%.1f", and which of peaks, valleys, cycle marks, velocity and
// acceleration are drawn. OK stores them in the channel (numbers at single
// precision; OK refuses a number out of range with a message, and a field
// left as shown keeps the channel's exact value); they take
// effect at the next analysis. The configuration has no place for them.
// Only for a document with an EGG channel assigned.
class EggPanel : public SettingsPanel {
    Q_OBJECT
public:
    EggPanel(MyDocument& document, const AppSettings& settings, Prompts& prompts, QWidget* parent);

protected:
    void setup() override;
    bool canSave() override;
    void save() override;
    bool patchesConfiguration() const override { return false; }
    void patchConfiguration(Configuration&) const override {}

private:
    // The assigned EGG channel, or null.
    Channels* eggChannel() const;

    QLineEdit* m_thresholdPerCent; // children of the panel
    QLineEdit* m_velocityWindow;
    QLineEdit* m_accelerationWindow;
    QCheckBox* m_drawPeaks;
    QCheckBox* m_drawValleys;
    QCheckBox* m_drawThreshold;
    QCheckBox* m_drawVelocity;
    QCheckBox* m_drawAcceleration;
    std::array<QString, 3> m_shownTexts; // the three numbers as setup showed them
};

} // namespace phonaxis
