#pragma once

#include "app/panels/AnalysisPanel.h"

class QComboBox;

namespace phonaxis {

// The spectrogram sheet ("optionSpectrogram"): FFT length (the list of the
// FFT/LPC sheet), dynamic range (dB), frequency range (Hz), pre-emphasis
// ("%1.2f"), formant tracking and its LPC order, waveform and label panes,
// frequency and time grids (time grid 0 adapts to the zoom), print size.
// OK refuses a frequency range above ((int)rate div 2000)·1000 Hz with
// "Frequency range is larger than allowed.", stores the settings and
// patches them in the configuration (not the intensity pane, which the
// sheet does not show).
class SpectrogramPanel : public AnalysisPanel {
    Q_OBJECT
public:
    SpectrogramPanel(MyDocument& document, const AppSettings& settings, Prompts& prompts,
                     QWidget* parent);

protected:
    void setup() override;
    bool canSave() override;
    void save() override;
    void patchConfiguration(Configuration& record) const override;
    void showDefaultChoices(const DocumentFields& defaults) override;

private:
    QComboBox* m_length; // child of the panel
};

} // namespace phonaxis
