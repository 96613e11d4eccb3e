#pragma once

#include "app/panels/AnalysisPanel.h"

namespace phonaxis {

// The note the pitch and spectrogram sheets show under their grids.
inline constexpr const char* kTimeGridNote =
    "Note\nA value of 0 will make the time grid adjust automatically to the zoomed window.\n"
    "Grid is always displayed on the main screen but follows the selection for the print and "
    "pict.";

// The pitch sheet ("optionPitch"): analysis window and step (ms), largest
// pitch jump (Hz), energy threshold (percent), pitch search range and
// displayed range (Hz), frequency and time grids, the waveform, intensity
// and label panes, print size and colour. Times, frequencies and the
// percentage are typed as whole numbers. OK refuses a search or display
// range whose lowest value is not below its highest (the analysis would
// search nothing, the display would divide by zero), stores the settings
// with the cepstral method set, and patches them in the configuration.
class PitchPanel : public AnalysisPanel {
    Q_OBJECT
public:
    PitchPanel(MyDocument& document, const AppSettings& settings, Prompts& prompts,
               QWidget* parent);

protected:
    void setup() override;
    bool canSave() override;
    void save() override;
    void patchConfiguration(Configuration& record) const override;
};

} // namespace phonaxis
