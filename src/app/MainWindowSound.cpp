// The main window's sound-card commands: playing channel 0 with its moving
// play cursor, and recording a new document from the sound input.

#include "app/MainWindowController.h"

#include "app/Application.h"
#include "audio/ui/SoundSession.h"
#include "display/MainViewModel.h"
#include "display/MainViewPane.h"
#include "document/AppSettings.h"
#include "document/MyDocument.h"
#include "document/Prompts.h"
#include "hardware/BoxConnection.h"
#include "hardware/BoxRecording.h"
#include "hardware/USB2Hardware.h"
#include "hardware/ui/BoxService.h"

#include <utility>

namespace phonaxis {

namespace {

constexpr const char* kRecordingError = "Error in recording";

} // namespace

// The box tells its playback's progress here; the main view shows it as it
// shows the sound card's.
class MainWindowController::BoxPlayer final : public PlayReceiver {
public:
    explicit BoxPlayer(MainWindowController& window) : m_window(window) {}
    void animateHardwarePlay(double elapsedNs) override
    {
        m_window.m_model->_dAnimatenanoSeconds = elapsedNs;
        m_window.mainView()->update();
    }
    void stopHardwarePlay() override
    {
        m_window.m_model->m_bPlaying = false;
        m_window.m_model->_dAnimatenanoSeconds = -1000.0;
        m_window.mainView()->update();
        m_window.refreshCommands();
    }

private:
    MainWindowController& m_window;
};

SoundSession& MainWindowController::sound()
{
    if (m_sound != nullptr) {
        return *m_sound;
    }
    m_sound =
        new SoundSession([this]() -> AudioBackend& { return m_application.soundBackend(); }, this);
    connect(m_sound, &SoundSession::playElapsed, this, [this](double ms) {
        m_model->_dAnimatenanoSeconds = ms * 1.0e6;
        mainView()->update();
    });
    connect(m_sound, &SoundSession::playStopped, this, [this] {
        m_model->m_bPlaying = false;
        mainView()->update();
        refreshCommands();
    });
    connect(m_sound, &SoundSession::playInterrupted, this, [this] {
        m_prompts->alert("The sound stopped before the end.",
                         "The sound output stopped playing: the device failed or was removed.",
                         "OK");
    });
    connect(m_sound, &SoundSession::recordElapsed, this, [this](double seconds) {
        m_model->m_dSeconds = seconds;
        if (AudioFileRecorder* recorder = m_sound->recorder()) {
            mainView()->setRecordingLevel(recorder->newestMinimum(), recorder->newestMaximum());
        }
        mainView()->update();
    });
    connect(m_sound, &SoundSession::recordingInterrupted, this, [this] {
        finishRecording();
        m_prompts->alert(kRecordingError,
                         "The sound input stopped delivering sound. What was recorded until then "
                         "is kept in the document.",
                         "Close");
    });
    mainView()->onStopPlaying = [this] { stopPlaying(); };
    mainView()->onStopRecording = [this] { finishRecording(); };
    return *m_sound;
}

void MainWindowController::Play()
{
    if (isCommandEnabled("_Play:")) {
        playRange(0);
    }
}

void MainWindowController::PlaySelection()
{
    if (isCommandEnabled("_PlaySelection:")) {
        playRange(1);
    }
}

void MainWindowController::PlayWindow()
{
    if (isCommandEnabled("_PlayWindow:")) {
        playRange(2);
    }
}

void MainWindowController::stopPlaying()
{
    if (m_sound != nullptr) {
        m_sound->stopPlaying();
    }
    BoxService* box = m_application.boxService();
    if (box != nullptr && m_boxPlayer && box->connection().playReceiver == m_boxPlayer.get() &&
        box->connection().playing()) {
        // The box plays out what it holds; the view stops at the next block.
        box->hardware().StopNow();
    }
}

void MainWindowController::releaseBoxPlayer()
{
    BoxService* box = m_application.boxService();
    if (box != nullptr && m_boxPlayer && box->connection().playReceiver == m_boxPlayer.get()) {
        if (box->connection().playing()) {
            box->hardware().StopNow();
        }
        box->connection().setPlayReceiver(nullptr);
    }
}

void MainWindowController::playRange(int code)
{
    sound();
    if (m_model->m_bPlaying) {
        // Play toggles; the other two start again from their own range.
        stopPlaying();
        if (code == 0) {
            return;
        }
    }
    const Channels& first = m_document->getChannel(0);
    double start = 0.0;
    double count = first.m_dwFileLength;
    if (code == 1) {
        start = first.m_dDurationStartFile;
        count = first.m_dDurationFile;
    } else if (code == 2) {
        start = first.m_dPageMin;
        count = first.m_dPageSize;
    }
    playSamples(0, code, start, count);
}

void MainWindowController::playSamples(int index, int code, double start, double count)
{
    SoundSession& session = sound();
    if (index < 0 || index >= m_document->channelsInUse()) {
        return;
    }
    const Channels& channel = m_document->getChannel(index);
    const double rate = channel.m_dSampleRate;
    m_model->beginPlayAnimation(code, rate > 0.0 ? start * 1000.0 / rate : 0.0);
    // With an acquisition box open and the play source "Hardware", the box's
    // D/A output plays the range instead of the sound card.
    if (m_application.boxPresent() && m_application.settings().g_strPlaySource == "Hardware") {
        playOnBox(index, start, count);
        return;
    }
    const AudioResult played = session.play(channel.samples(), start, count, rate);
    if (!played.ok) {
        m_model->m_bPlaying = false;
        m_prompts->alert("The sound could not be played.", played.message, "OK");
        refreshCommands();
        return;
    }
    m_model->m_bPlaying = session.isPlaying();
    mainView()->update();
    refreshCommands();
}

void MainWindowController::playOnBox(int index, double start, double count)
{
    BoxService& box = *m_application.boxService();
    sound().stopPlaying();
    if (!m_boxPlayer) {
        m_boxPlayer = std::make_unique<BoxPlayer>(*this);
    }
    const Channels& channel = m_document->getChannel(index);
    const auto from = static_cast<std::int32_t>(start);
    const auto to = static_cast<std::int32_t>(start + count);
    box.connection().setPlayReceiver(m_boxPlayer.get());
    const PlayStart started = box.hardware().Play(channel.samples(), from, to);
    if (!started) {
        m_model->m_bPlaying = false;
        // The box cannot play while it streams a recording: the stop that
        // ends a playback would end the recording too.
        m_prompts->alert("The sound could not be played.",
                         started.refusal == PlayRefusal::StreamInUse
                             ? "The acquisition box is streaming to the recording window and "
                               "cannot play at the same time. Play through the computer (play "
                               "source \"Computer\" in Options > Record/Play), or play once the "
                               "recording window is closed."
                             : "The acquisition box did not take the samples to play.",
                         "OK");
        refreshCommands();
        return;
    }
    m_model->m_bPlaying = true;
    mainView()->update();
    refreshCommands();
}

void MainWindowController::Record()
{
    if (!isCommandEnabled("_Record:")) {
        return;
    }
    // An edited new recording would be replaced: offer to save it first.
    if (m_document->m_bNewFile && m_document->m_bHaveData && m_document->changeCount() > 0) {
        const int answer =
            m_prompts->alert("Save before recording?", "", "Save", "Override", "Cancel");
        if (answer == 1) {
            m_document->saveBeforeRecord([this] { DoRecord(); });
            return;
        }
        if (answer != 0) {
            return;
        }
    }
    DoRecord();
}

void MainWindowController::DoRecord()
{
    SoundSession& session = sound();
    if (session.isRecording()) {
        return;
    }
    session.stopPlaying();
    // With an acquisition box open, the box's recording window takes over;
    // without one the sound card records.
    if (m_application.boxPresent()) {
        m_application.openRecordWindow(*this);
        m_model->m_bLabelMode = false;
        m_model->m_bHaveSelection = false;
        m_model->m_bHaveMarker = false;
        mainView()->update();
        updateLabelView();
        refreshCommands();
        return;
    }
    const double rate = m_application.settings().g_nRecordSampleRate;
    const AudioResult started = session.startRecording(rate);
    if (!started.ok) {
        m_prompts->alert(kRecordingError, started.message, "Close");
        return;
    }
    m_model->m_bRecording = true;
    m_model->m_dSeconds = 0.0;
    m_model->m_bLabelMode = false;
    m_model->m_bHaveSelection = false;
    m_model->m_bHaveMarker = false;
    mainView()->setRecordingLevel(0.0f, 0.0f);
    mainView()->update();
    refreshCommands();
}

void MainWindowController::finishRecording()
{
    if (!m_model->m_bRecording || m_sound == nullptr) {
        return;
    }
    m_model->m_bRecording = false;
    const AudioResult stopped = m_sound->stopRecording();

    // The recording is read into a document of its own, which takes this
    // one's settings: only a recording that could be read replaces what the
    // window holds, so a failure loses nothing.
    TrackBuffer<std::uint8_t> bytes;
    std::string error;
    AudioFileRecorder* recorder = m_sound->recorder();
    auto fresh = std::make_unique<MyDocument>(*m_prompts, m_application.settings());
    static_cast<DocumentFields&>(*fresh) = static_cast<const DocumentFields&>(*m_document);
    const bool read = recorder != nullptr && recorder->readRecording(bytes, error) &&
                      fresh->Read_RecordedFile(ByteView(bytes.data(), bytes.size())) == 1;
    if (read) {
        adoptDocument(std::move(fresh), QString());
    } else {
        mainView()->update();
        refreshCommands();
    }
    if (!read) {
        m_prompts->alert(kRecordingError, "Temp file could not be read.", "Close");
    } else if (!stopped.ok) {
        m_prompts->alert(kRecordingError, stopped.message, "Close");
    }
}

bool MainWindowController::takeBoxRecording(const std::filesystem::path& path,
                                            const RecordingInfo& info)
{
    auto fresh = std::make_unique<MyDocument>(*m_prompts, m_application.settings());
    static_cast<DocumentFields&>(*fresh) = static_cast<const DocumentFields&>(*m_document);
    if (fresh->Read_RecordedFile_X2(path.string(), info.table, info.systemChannels) != 0) {
        return false;
    }
    adoptDocument(std::move(fresh), QString());
    mainView()->update();
    return true;
}

bool MainWindowController::takeSoundRecording(const TrackBuffer<std::uint8_t>& bytes)
{
    auto fresh = std::make_unique<MyDocument>(*m_prompts, m_application.settings());
    static_cast<DocumentFields&>(*fresh) = static_cast<const DocumentFields&>(*m_document);
    if (fresh->Read_RecordedFile(ByteView(bytes.data(), bytes.size())) != 1) {
        return false;
    }
    adoptDocument(std::move(fresh), QString());
    mainView()->update();
    return true;
}

void MainWindowController::OptionsRecordPlay()
{
    m_application.OptionsRecordPlay();
}

} // namespace phonaxis
