#pragma once

// The recording window ("Record"): the acquisition box's front-end controls
// (audio gain, source, microphone / line, AC / DC; per analog channel on /
// off, filter, source and gain; channels 5 to 8 of a 9-channel box on /
// off, on the host side only), the zoom slider, the live strips, and
// Record / Save / Cancel. It opens in scope mode: the box streams and the
// strips scroll; Record writes every block to a raw recording file; Save
// stops the stream and hands the recording over (`recordingEnded`); Cancel
// stops it and drops the recording. Every control change goes to the box
// with the next block, or at once where the box needs it so.
//
// One window for the application's life. The box's stream is run by a
// `BoxRecordSession` made at each opening. Closing the window stops the
// stream; closing it while recording keeps the recording, handed over as
// on Save. Main thread only.

#include "hardware/BoxRecording.h"

#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSlider;
class QTimer;

namespace phonaxis {

class BoxService;
class OrvixRecordView;
class Prompts;

class OrvixRecordController final : public QWidget, private BoxRecordSession::Listener {
    Q_OBJECT
public:
    // How often a save or cancel checks that its stream has ended, and how
    // long it waits for that before ending it at once.
    static constexpr int kStopCheckMs = 100;
    static constexpr int kStopTimeoutMs = 3000;

    // `box`, `settings` and `prompts` must outlive the window; raw
    // recording files are made in `temporaryFolder`.
    OrvixRecordController(BoxService& box, AppSettings& settings, std::string temporaryFolder,
                          Prompts& prompts, QWidget* parent = nullptr);
    ~OrvixRecordController() override;

    // Opens the window in scope mode: controls loaded from the settings,
    // the settings sent to the box, the stream started. False (the user is
    // told) when the box cannot stream. A window that is recording or
    // saving is only brought forward.
    bool initilize();

    // Whether a recording (or its save) is under way.
    bool busy() const;

    // The session of this opening (null before the first).
    BoxRecordSession* session() const { return m_session.get(); }
    OrvixRecordView* view() const { return m_view; }

    // The recording has been read into a document: its raw file goes.
    void discardRecording();

    // The 0.5 s tick while recording: the elapsed-time label from the
    // frames recorded so far; stops once recording has stopped.
    void onTick();

signals:
    // The stream ended with a recording to keep (`session()->recordingPath()`
    // holds it; `end` says why: Saved, or an early end while recording).
    // Whoever takes it calls `discardRecording` once it is read.
    void recordingEnded(phonaxis::BoxRecordSession::End end);
    // Record was pressed: a recording now runs for the document.
    void recordingStarted();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // BoxRecordSession::Listener
    void blockArrived(std::span<const std::uint8_t> block) override;
    void sessionEnded(BoxRecordSession::End end) override;

    void awakeFromNib();
    void loadControls();
    AudioControls audioControls() const;
    std::array<AnalogControls, 4> analogControls() const;
    void setDeviceAudio(bool direct);
    void setDeviceDCChannel(bool direct);
    void channelsEnabledChanged();
    // Channels 5..8 switched on or off: stored in the table, no block sent.
    void hostChannelsChanged();
    void showScopeMessages();
    void showMessage(const QString& text);

    void actionRecord();
    void actionSave();
    void actionCancel();
    void stopTimers();

    BoxService& m_box;
    AppSettings& m_settings;
    std::string m_temporaryFolder;
    Prompts& m_prompts;
    std::unique_ptr<BoxRecordSession> m_session;
    int m_systemChannels = 0;
    bool m_recorded = false;    // Record was pressed in this opening (not cancelled)
    bool m_handingOver = false; // the recording is about to be handed over

    OrvixRecordView* m_view = nullptr;
    QSlider* m_zoom = nullptr;
    QLabel* m_recordTime = nullptr;
    QLabel* m_message = nullptr;
    QPushButton* m_record = nullptr;
    QPushButton* m_save = nullptr;
    QPushButton* m_cancel = nullptr;
    QRadioButton* m_microphone = nullptr;
    QRadioButton* m_line = nullptr;
    QGroupBox* m_maskPanelGroup = nullptr;
    QRadioButton* m_mask = nullptr;
    QRadioButton* m_panel = nullptr;
    QComboBox* m_audioGain = nullptr;
    QLabel* m_acdcLabel = nullptr;
    QComboBox* m_acdc = nullptr;
    // Enable boxes of channels 1..8: 1..4 with the front end's controls
    // below, 5..8 (a 9-channel box) host side only, as the box has no
    // controls for them.
    std::array<QCheckBox*, 8> m_enable{};
    QFrame* m_moreSeparator = nullptr;
    QLabel* m_moreLabel = nullptr; // "Channels", before the boxes of 5..8
    std::array<QComboBox*, 4> m_filter{};
    std::array<QComboBox*, 4> m_source{};
    std::array<QComboBox*, 4> m_gain{};
    std::array<std::array<QLabel*, 3>, 4> m_rowLabels{}; // "Filter", "Source", "Gain"
    std::array<QFrame*, 4> m_separators{};
    QGroupBox* m_definitions = nullptr;
    QLabel* m_explanation1 = nullptr;
    QLabel* m_explanation2 = nullptr;
    QTimer* m_tick = nullptr;
    QTimer* m_stopCheck = nullptr;
};

} // namespace phonaxis
