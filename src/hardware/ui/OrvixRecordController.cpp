#include "hardware/ui/OrvixRecordController.h"

#include "document/Prompts.h"
#include "hardware/ui/BoxService.h"
#include "hardware/ui/OrvixRecordView.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

namespace phonaxis {

namespace {

constexpr const char* kScopeMessage = "Scope Mode... Press Record to Start Recording.";
constexpr const char* kNotRecording = "Not Recording";
// Replaces the scope message while recording, so that neither the window nor
// a screen reader still offers Record, which no longer applies.
constexpr const char* kRecordingMessage =
    "Recording... Press Save to Keep the Recording or Cancel to Discard It.";

void name(QWidget* widget, const QString& text)
{
    widget->setObjectName(text);
    widget->setAccessibleName(text);
}

// The enable box of channel `channel`: its name says what ticking it does.
QCheckBox* enableBox(int channel)
{
    auto* box = new QCheckBox(QStringLiteral("Channel %1").arg(channel));
    box->setObjectName(QStringLiteral("Channel %1 on").arg(channel));
    box->setAccessibleName(QStringLiteral("Record channel %1").arg(channel));
    box->setAccessibleDescription(
        QStringLiteral("When ticked, channel %1 is shown and recorded.").arg(channel));
    return box;
}

template <std::size_t N>
void fill(QComboBox* box, const std::array<int, N>& values)
{
    box->clear();
    for (int value : values) {
        box->addItem(QString::number(value));
    }
}

} // namespace

OrvixRecordController::OrvixRecordController(BoxService& box, AppSettings& settings,
                                             std::string temporaryFolder, Prompts& prompts,
                                             QWidget* parent)
    : QWidget(parent, Qt::Window), m_box(box), m_settings(settings),
      m_temporaryFolder(std::move(temporaryFolder)), m_prompts(prompts)
{
    setWindowTitle(QStringLiteral("Record"));
    setObjectName(QStringLiteral("RecordWindow"));
    awakeFromNib();
}

OrvixRecordController::~OrvixRecordController()
{
    // The session ends any stream at once; a recording not handed over
    // stays on disk, where the next launch finds it.
    m_session.reset();
}

void OrvixRecordController::awakeFromNib()
{
    auto* controls = new QGridLayout;
    int row = 0;

    m_microphone = new QRadioButton(QStringLiteral("Microphone"));
    m_line = new QRadioButton(QStringLiteral("Line"));
    name(m_microphone, QStringLiteral("Microphone"));
    name(m_line, QStringLiteral("Line"));
    auto* micLine = new QButtonGroup(this);
    micLine->addButton(m_microphone);
    micLine->addButton(m_line);
    controls->addWidget(m_microphone, row, 0);
    controls->addWidget(m_line, row, 1);
    ++row;

    m_maskPanelGroup = new QGroupBox(QStringLiteral("Audio source"));
    name(m_maskPanelGroup, QStringLiteral("Audio source"));
    m_mask = new QRadioButton(QStringLiteral("Mask"));
    m_panel = new QRadioButton(QStringLiteral("Panel"));
    name(m_mask, QStringLiteral("Mask"));
    name(m_panel, QStringLiteral("Panel"));
    auto* maskPanel = new QHBoxLayout(m_maskPanelGroup);
    maskPanel->addWidget(m_mask);
    maskPanel->addWidget(m_panel);
    controls->addWidget(m_maskPanelGroup, row, 0, 1, 2);
    ++row;

    controls->addWidget(new QLabel(QStringLiteral("Audio gain")), row, 0);
    m_audioGain = new QComboBox;
    name(m_audioGain, QStringLiteral("Audio gain"));
    fill(m_audioGain, kAudioGains);
    controls->addWidget(m_audioGain, row, 1);
    ++row;

    m_acdcLabel = new QLabel(QStringLiteral("AC/DC"));
    m_acdc = new QComboBox;
    name(m_acdc, QStringLiteral("AC/DC"));
    m_acdc->addItems({QStringLiteral("AC"), QStringLiteral("DC")});
    m_acdc->setCurrentIndex(1);
    controls->addWidget(m_acdcLabel, row, 0);
    controls->addWidget(m_acdc, row, 1);
    m_acdcLabel->hide();
    m_acdc->hide();
    ++row;

    for (int k = 0; k < 4; ++k) {
        const QString channel = QStringLiteral("Channel %1").arg(k + 1);
        m_separators[k] = new QFrame;
        m_separators[k]->setFrameShape(QFrame::HLine);
        controls->addWidget(m_separators[k], row++, 0, 1, 2);
        m_enable[k] = enableBox(k + 1);
        controls->addWidget(m_enable[k], row++, 0, 1, 2);
        m_filter[k] = new QComboBox;
        name(m_filter[k], channel + QStringLiteral(" filter"));
        fill(m_filter[k], kFilterRates);
        m_source[k] = new QComboBox;
        name(m_source[k], channel + QStringLiteral(" source"));
        m_source[k]->addItems({QStringLiteral("Mask"), QStringLiteral("BNC")});
        m_gain[k] = new QComboBox;
        name(m_gain[k], channel + QStringLiteral(" gain"));
        fill(m_gain[k], kChannelGains);
        m_rowLabels[k] = {new QLabel(QStringLiteral("Filter")), new QLabel(QStringLiteral("Source")),
                          new QLabel(QStringLiteral("Gain"))};
        controls->addWidget(m_rowLabels[k][0], row, 0);
        controls->addWidget(m_filter[k], row++, 1);
        controls->addWidget(m_rowLabels[k][1], row, 0);
        controls->addWidget(m_source[k], row++, 1);
        controls->addWidget(m_rowLabels[k][2], row, 0);
        controls->addWidget(m_gain[k], row++, 1);
    }

    // Channels 5..8 of a 9-channel box: recorded or not, nothing to set.
    m_moreSeparator = new QFrame;
    m_moreSeparator->setFrameShape(QFrame::HLine);
    controls->addWidget(m_moreSeparator, row++, 0, 1, 2);
    auto* moreChannels = new QHBoxLayout;
    for (std::size_t k = 4; k < m_enable.size(); ++k) {
        m_enable[k] = enableBox(int(k) + 1);
        m_enable[k]->setText(QString::number(k + 1));
        moreChannels->addWidget(m_enable[k]);
    }
    m_moreLabel = new QLabel(QStringLiteral("Channels"));
    controls->addWidget(m_moreLabel, row, 0);
    controls->addLayout(moreChannels, row++, 1);

    m_definitions = new QGroupBox(QStringLiteral("Definitions"));
    name(m_definitions, QStringLiteral("Definitions"));
    m_explanation1 = new QLabel(QStringLiteral("Filter: Low-pass cut-off of the channel in Hz."));
    m_explanation2 = new QLabel(QStringLiteral("Gain: Amplification of the channel's input."));
    for (QLabel* label : {m_explanation1, m_explanation2}) {
        label->setWordWrap(true);
    }
    auto* definitions = new QVBoxLayout(m_definitions);
    definitions->addWidget(m_explanation1);
    definitions->addWidget(m_explanation2);
    controls->addWidget(m_definitions, row++, 0, 1, 2);
    controls->setRowStretch(row, 1);

    m_view = new OrvixRecordView;
    m_zoom = new QSlider(Qt::Horizontal);
    name(m_zoom, QStringLiteral("Zoom"));
    m_zoom->setRange(5, 100);
    m_zoom->setValue(OrvixRecordView::kDefaultDisplayFactor);
    m_recordTime = new QLabel(QString::fromLatin1(kNotRecording));
    // Labels keep their text as their accessible name, so that a screen
    // reader reads the time and the message themselves.
    m_recordTime->setObjectName(QStringLiteral("Recording time"));
    m_recordTime->setAccessibleDescription(QStringLiteral("Recording time"));
    m_message = new QLabel(QString::fromLatin1(kScopeMessage));
    m_message->setObjectName(QStringLiteral("Message"));
    m_message->setAccessibleDescription(QStringLiteral("Message"));
    m_record = new QPushButton(QStringLiteral("Record"));
    m_save = new QPushButton(QStringLiteral("Save"));
    m_cancel = new QPushButton(QStringLiteral("Cancel"));
    name(m_record, QStringLiteral("Record"));
    name(m_save, QStringLiteral("Save"));
    name(m_cancel, QStringLiteral("Cancel"));
    m_save->setEnabled(false);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(new QLabel(QStringLiteral("Zoom")));
    bottom->addWidget(m_zoom, 1);
    bottom->addWidget(m_recordTime);
    bottom->addStretch(1);
    bottom->addWidget(m_record);
    bottom->addWidget(m_save);
    bottom->addWidget(m_cancel);
    auto* right = new QVBoxLayout;
    right->addWidget(m_message);
    right->addWidget(m_view, 1);
    right->addLayout(bottom);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(controls);
    layout->addLayout(right, 1);
    resize(980, 770);

    m_tick = new QTimer(this);
    m_tick->setInterval(500);
    connect(m_tick, &QTimer::timeout, this, [this] { onTick(); });
    m_stopCheck = new QTimer(this);
    m_stopCheck->setInterval(kStopCheckMs);
    connect(m_stopCheck, &QTimer::timeout, this, [this] {
        if (m_session) {
            m_session->checkStopTimeout();
        }
    });

    // The controls act only when the user changes them (`activated`,
    // `clicked`), never when initilize loads them.
    connect(m_record, &QPushButton::clicked, this, [this] { actionRecord(); });
    connect(m_save, &QPushButton::clicked, this, [this] { actionSave(); });
    connect(m_cancel, &QPushButton::clicked, this, [this] { actionCancel(); });
    for (QRadioButton* audio : {m_microphone, m_line, m_mask, m_panel}) {
        connect(audio, &QRadioButton::clicked, this, [this] { setDeviceAudio(false); });
    }
    connect(m_audioGain, &QComboBox::activated, this, [this] { setDeviceAudio(false); });
    connect(m_acdc, &QComboBox::activated, this, [this] { setDeviceAudio(true); });
    for (std::size_t k = 4; k < m_enable.size(); ++k) {
        connect(m_enable[k], &QCheckBox::clicked, this, [this] { hostChannelsChanged(); });
    }
    for (int k = 0; k < 4; ++k) {
        connect(m_enable[k], &QCheckBox::clicked, this, [this] { channelsEnabledChanged(); });
        for (QComboBox* popup : {m_filter[k], m_source[k], m_gain[k]}) {
            connect(popup, &QComboBox::activated, this, [this] { setDeviceDCChannel(false); });
        }
    }
    connect(m_zoom, &QSlider::valueChanged, m_view, &OrvixRecordView::setZoom);
}

bool OrvixRecordController::busy() const
{
    // A stream draining after a cancel (or after closing in scope mode)
    // holds nothing to keep: a new opening ends it at once and starts afresh.
    return m_handingOver ||
           (m_session && (m_session->state() == BoxRecordSession::State::Recording ||
                          (m_recorded && m_session->state() == BoxRecordSession::State::Draining)));
}

bool OrvixRecordController::initilize()
{
    if (busy()) {
        show();
        raise();
        activateWindow();
        return true;
    }
    stopTimers();
    m_session.reset();
    m_recorded = false;
    m_systemChannels = m_box.connection().systemChannelNumber();
    BoxRecordSession::Listener& listener = *this;
    m_session = std::make_unique<BoxRecordSession>(m_box.hardware(), m_settings,
                                                   m_temporaryFolder, listener);
    m_session->setStopTimeout(std::chrono::milliseconds(kStopTimeoutMs));
    loadControls();

    std::string error;
    if (!m_session->start(audioControls(), analogControls(), error)) {
        m_session.reset();
        m_prompts.alert("Record Error", error, "Close");
        return false;
    }
    showScopeMessages();
    m_record->setEnabled(true);
    m_save->setEnabled(false);
    m_cancel->setEnabled(true);
    show();
    raise();
    activateWindow();
    m_view->setChannelInfo(m_session->info().table, m_systemChannels);
    m_view->setZoom(m_zoom->value());
    m_view->OnInitialUpdate();
    return true;
}

void OrvixRecordController::loadControls()
{
    // A two-channel box has the audio and channel 1 only, with AC / DC
    // coupling and the BNC / Mini inputs.
    const bool twoChannels = m_systemChannels == 2;
    m_maskPanelGroup->setVisible(!twoChannels);
    for (int k = 1; k < 4; ++k) {
        for (QWidget* widget :
             std::initializer_list<QWidget*>{m_enable[k], m_filter[k], m_source[k], m_gain[k]}) {
            widget->setVisible(!twoChannels);
        }
        for (QLabel* label : m_rowLabels[k]) {
            label->setVisible(!twoChannels);
        }
    }
    for (QFrame* line : m_separators) {
        line->setVisible(!twoChannels);
    }
    // Channel k has an enable box when the box has it (entries 1..n − 1).
    const bool moreChannels = m_systemChannels > 5;
    m_moreSeparator->setVisible(moreChannels);
    m_moreLabel->setVisible(moreChannels);
    for (std::size_t k = 4; k < m_enable.size(); ++k) {
        m_enable[k]->setVisible(int(k) + 1 < m_systemChannels);
    }
    m_acdcLabel->setVisible(twoChannels);
    m_acdc->setVisible(twoChannels);
    m_source[0]->clear();
    if (twoChannels) {
        m_source[0]->addItems({QStringLiteral("BNC"), QStringLiteral("Mini")});
        m_definitions->setTitle(QString());
        m_explanation1->setText(
            QStringLiteral("AC/DC: Select either AC or DC coupled input."));
        m_explanation2->setText(
            QStringLiteral("Source: Select either BNC or Mini for input."));
    } else {
        m_source[0]->addItems({QStringLiteral("Mask"), QStringLiteral("BNC")});
        m_definitions->setTitle(QStringLiteral("Definitions"));
        m_explanation1->setText(QStringLiteral("Filter: Low-pass cut-off of the channel in Hz."));
        m_explanation2->setText(QStringLiteral("Gain: Amplification of the channel's input."));
    }

    const AudioControls audio = audioControlsFrom(m_settings);
    m_audioGain->setCurrentIndex(audio.gainBits);
    m_microphone->setChecked(audio.micLineBit == 16);
    m_line->setChecked(audio.micLineBit != 16);
    m_mask->setChecked(audio.maskPanelBit == 0);
    m_panel->setChecked(audio.maskPanelBit != 0);
    m_acdc->setCurrentIndex(1); // DC

    const std::array<AnalogControls, 4> analog = analogControlsFrom(m_settings.g_ChannelInfo);
    for (std::size_t k = 4; k < m_enable.size(); ++k) {
        m_enable[k]->setChecked(m_settings.g_ChannelInfo[k + 1].bOnOff != 0);
    }
    for (int k = 0; k < 4; ++k) {
        m_enable[k]->setChecked(analog[k].on);
        m_filter[k]->setCurrentIndex(analog[k].filterPosition);
        m_source[k]->setCurrentIndex(analog[k].sourcePosition);
        m_gain[k]->setCurrentIndex(analog[k].gainPosition);
    }
}

AudioControls OrvixRecordController::audioControls() const
{
    AudioControls audio;
    audio.gainBits = std::max(0, m_audioGain->currentIndex());
    audio.maskPanelBit = m_panel->isChecked() ? 8 : 0;
    audio.micLineBit = m_microphone->isChecked() ? 16 : 0;
    audio.filterBit = m_acdc->currentIndex() == 0 ? 0 : 32;
    return audio;
}

std::array<AnalogControls, 4> OrvixRecordController::analogControls() const
{
    std::array<AnalogControls, 4> analog{};
    for (int k = 0; k < 4; ++k) {
        analog[k].on = m_enable[k]->isChecked();
        analog[k].filterPosition = std::max(0, m_filter[k]->currentIndex());
        analog[k].sourcePosition = std::max(0, m_source[k]->currentIndex());
        analog[k].gainPosition = std::max(0, m_gain[k]->currentIndex());
    }
    return analog;
}

void OrvixRecordController::setDeviceAudio(bool direct)
{
    if (m_session && m_session->state() != BoxRecordSession::State::Idle) {
        m_session->setAudio(audioControls(), direct);
    }
}

void OrvixRecordController::setDeviceDCChannel(bool direct)
{
    if (m_session && m_session->state() != BoxRecordSession::State::Idle) {
        m_session->setAnalog(analogControls(), direct);
    }
}

void OrvixRecordController::channelsEnabledChanged()
{
    setDeviceDCChannel(false);
    if (m_session) {
        m_view->setChannelInfo(m_session->info().table, m_systemChannels);
        m_view->RedoDisplay();
    }
}

void OrvixRecordController::hostChannelsChanged()
{
    if (!m_session) {
        return;
    }
    for (std::size_t k = 4; k < m_enable.size(); ++k) {
        m_session->setChannelOn(int(k) + 1, m_enable[k]->isChecked());
    }
    m_view->setChannelInfo(m_session->info().table, m_systemChannels);
    m_view->RedoDisplay();
}

void OrvixRecordController::showScopeMessages()
{
    m_recordTime->setText(QString::fromLatin1(kNotRecording));
    showMessage(QString::fromLatin1(kScopeMessage));
}

void OrvixRecordController::showMessage(const QString& text)
{
    m_message->setText(text);
    m_message->setVisible(true);
}

void OrvixRecordController::actionRecord()
{
    if (!m_session || m_session->state() != BoxRecordSession::State::Scope) {
        return;
    }
    std::string error;
    if (!m_session->record(error)) {
        m_prompts.alert("Record Error", "Could not create the temp file.", "Close");
        return;
    }
    m_recorded = true;
    showMessage(QString::fromLatin1(kRecordingMessage));
    m_record->setEnabled(false);
    m_save->setEnabled(true);
    m_recordTime->setText(QString::fromStdString(recordingTimeText(0.0)));
    m_tick->start();
    emit recordingStarted();
}

void OrvixRecordController::onTick()
{
    if (!m_session) {
        m_tick->stop();
        return;
    }
    // The label follows the frames written, so it never drifts from the
    // recording however late the timer fires.
    m_recordTime->setText(QString::fromStdString(recordingTimeText(m_session->recordedSeconds())));
    if (m_session->state() != BoxRecordSession::State::Recording) {
        m_tick->stop();
    }
}

void OrvixRecordController::actionSave()
{
    if (!m_session || m_session->state() != BoxRecordSession::State::Recording) {
        return;
    }
    showMessage(QStringLiteral("Saving the file... Please wait"));
    // Nothing more to press until the stream has drained and the window
    // closes.
    m_record->setEnabled(false);
    m_save->setEnabled(false);
    onTick();
    m_session->save();
    if (m_session && m_session->state() == BoxRecordSession::State::Draining) {
        m_stopCheck->start();
    }
}

void OrvixRecordController::actionCancel()
{
    showMessage(QStringLiteral("Cancelled... Please wait"));
    m_recorded = false;
    m_record->setEnabled(false);
    m_save->setEnabled(false);
    if (!m_session || m_session->state() == BoxRecordSession::State::Idle) {
        stopTimers();
        hide();
        return;
    }
    m_session->cancel();
    if (m_session && m_session->state() == BoxRecordSession::State::Draining) {
        m_stopCheck->start();
    }
}

void OrvixRecordController::stopTimers()
{
    m_tick->stop();
    m_stopCheck->stop();
}

void OrvixRecordController::discardRecording()
{
    if (m_session) {
        m_session->discardRecording();
    }
}

void OrvixRecordController::blockArrived(std::span<const std::uint8_t> block)
{
    // A failed write ends the recording from inside the block's arrival:
    // its drain is watched like a Save's, so a box that then goes quiet
    // cannot leave the window waiting for ever.
    if (m_session && m_session->state() == BoxRecordSession::State::Draining &&
        !m_stopCheck->isActive()) {
        m_stopCheck->start();
    }
    m_view->animateRecordData(block);
    m_view->update();
}

void OrvixRecordController::sessionEnded(BoxRecordSession::End end)
{
    if (m_recorded) {
        onTick();
    }
    stopTimers();
    const bool keep = m_recorded && end != BoxRecordSession::End::Cancelled;
    m_recorded = false;
    if (keep) {
        hide();
        // Handed over once the session has finished telling its end, so
        // that whoever takes the recording may discard it at once.
        m_handingOver = true;
        QTimer::singleShot(0, this, [this, end] {
            m_handingOver = false;
            emit recordingEnded(end);
        });
        return;
    }
    if (end == BoxRecordSession::End::Saved || end == BoxRecordSession::End::Cancelled ||
        end == BoxRecordSession::End::StopTimeout || !isVisible()) {
        hide();
        return;
    }
    // The stream ended by itself in scope mode: nothing was recorded.
    m_record->setEnabled(false);
    m_save->setEnabled(false);
    const QString why = end == BoxRecordSession::End::BoxGone
                            ? QStringLiteral("The acquisition box stopped sending: it was "
                                             "removed or its transfers failed.")
                            : QStringLiteral("The stream from the acquisition box stopped.");
    showMessage(why);
    // Told once the box's notice has been handled: the alert's own event
    // loop must not run inside the transport's delivery.
    QTimer::singleShot(
        0, this, [this, why] { m_prompts.alert("Record Error", why.toStdString(), "Close"); });
}

void OrvixRecordController::closeEvent(QCloseEvent* event)
{
    // Closing stops the stream, so that no reads are left in flight for the
    // next opening to add to; a recording under way is kept, as on Save.
    m_tick->stop();
    if (m_session) {
        if (m_session->state() == BoxRecordSession::State::Recording) {
            actionSave();
        } else if (m_session->state() == BoxRecordSession::State::Scope) {
            m_session->cancel();
            if (m_session->state() == BoxRecordSession::State::Draining) {
                m_stopCheck->start();
            }
        }
    }
    event->accept();
}

} // namespace phonaxis
