#pragma once

#include "document/Configuration.h"

#include <QDialog>

class QComboBox;
class QLabel;

namespace phonaxis {

class Prompts;
struct AppSettings;

// The record/play settings ("optionRecordPlay"): the one application-wide
// panel, created on first use and kept, shown non-modally.
//
// Without an acquisition box it offers the rate of the next sound-card
// recording (44100, 22050 or 11025 Hz); with a box, the play source
// ("Hardware" or "Computer"). The input source is kept as it is. OK stores
// the choice in the settings and, when the application configuration
// exists, rewrites its input-source and play-source texts (offsets 20 and
// 36); a configuration that cannot be read is left alone and one that
// cannot be written is told in an alert. Cancel, Escape and closing the
// window change nothing: a choice not confirmed with OK is forgotten.
// Main thread only.
class RecordPlayPanel : public QDialog {
    Q_OBJECT
public:
    // The rates offered, in the order of the pop-up.
    static constexpr int kSampleRates[] = {44100, 22050, 11025};

    // The settings and the prompts must outlive the panel.
    RecordPlayPanel(AppSettings& settings, Prompts& prompts, QWidget* parent = nullptr);

    // Loads the controls from the settings for this box state and shows the
    // panel non-modally, raised and activated.
    void start(bool haveBox);

    // Presses a button as the user would (nothing while hidden).
    void pressOK();
    void pressCancel();
    // Escape and closing the window end the panel as Cancel does.
    void reject() override { pressCancel(); }

    // How the configuration update of the last OK ended; NoFile before any.
    PatchResult lastPatch() const { return m_lastPatch; }

private:
    AppSettings& m_settings;
    Prompts& m_prompts;
    bool m_haveBox = false; // the box state of the last start
    PatchResult m_lastPatch = PatchResult::NoFile;

    // Children of the panel.
    QLabel* m_sampleRateLabel;
    QComboBox* m_sampleRate;
    QLabel* m_sampleRateNote;
    QLabel* m_playSourceLabel;
    QComboBox* m_playSource;
};

} // namespace phonaxis
