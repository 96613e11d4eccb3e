#pragma once

#include "app/panels/AnalysisPanel.h"

class QComboBox;

namespace phonaxis {

// The FFT/LPC sheet ("optionFFTLPC"): FFT length (list " %d Hz (%d pts)"),
// applied window (ms), frequency range (Hz), averaging step (ms), LPC order,
// LPC envelope, absolute display and its range (dB), print size, colour and
// the frequency and level grids. Choosing a length sets the applied window
// to the whole ms the transform spans. OK refuses an applied window longer
// than the transform ("Applied window length is larger than allowed.") and
// then a range above half the analysis rate ("Frequency range is larger than
// allowed."); it stores the settings and patches offsets 1096 … 1168 of the
// configuration (not the log's frame interval).
class FftLpcPanel : public AnalysisPanel {
    Q_OBJECT
public:
    FftLpcPanel(MyDocument& document, const AppSettings& settings, Prompts& prompts,
                QWidget* parent);

protected:
    void setup() override;
    bool canSave() override;
    void save() override;
    void patchConfiguration(Configuration& record) const override;
    void showDefaultChoices(const DocumentFields& defaults) override;

private:
    void lengthChosen(int selector);
    // The longest applied window (whole ms) for the chosen transform length.
    std::int32_t maxAppliedWindowMs() const;

    QComboBox* m_length; // child of the panel
    bool m_filling = false;
};

} // namespace phonaxis
