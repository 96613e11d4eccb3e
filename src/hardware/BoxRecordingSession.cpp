// BoxRecordSession: scope mode, recording, and the ways a stream ends.

#include "hardware/BoxRecording.h"

#include "document/Configuration.h"

#include <algorithm>

namespace phonaxis {

BoxRecordSession::BoxRecordSession(USB2Hardware& hardware, AppSettings& settings,
                                   std::filesystem::path temporaryFolder, Listener& listener)
    : m_hardware(hardware), m_settings(settings), m_folder(std::move(temporaryFolder)),
      m_listener(listener)
{
    m_info.systemChannels = hardware.connection().systemChannelNumber();
    std::copy_n(settings.g_ChannelInfo.begin(), m_info.table.size(), m_info.table.begin());
}

BoxRecordSession::~BoxRecordSession()
{
    BoxConnection& box = m_hardware.connection();
    if (box.recordReceiver == this)
        box.setRecordReceiver(nullptr);
    // A window closed while the box streams: the stream ends now, its reads
    // taken back, so that the next one never finds more than 32 in flight.
    if (m_state != State::Idle)
        m_hardware.cancel();
    // A recording not read into a document stays on the disk: it is the
    // user's data, found again at the next launch.
    if (m_file)
        m_file->close();
}

bool BoxRecordSession::streaming() const
{
    return m_state == State::Scope || m_state == State::Recording;
}

bool BoxRecordSession::start(const AudioControls& audio,
                             const std::array<AnalogControls, 4>& analog, std::string& error)
{
    BoxConnection& box = m_hardware.connection();
    if (m_state != State::Idle) {
        error = "The acquisition box is already streaming.";
        return false;
    }
    if (!box.haveInterface()) {
        error = "No acquisition box is connected.";
        return false;
    }
    m_info.systemChannels = box.systemChannelNumber();
    m_hardware.resetHardware();
    storeAudio(audio);
    m_hardware.setControlDirect(0, audioBlock(audio));
    const auto blocks = storeAnalogControls(analog, m_info.table);
    m_hardware.setControlDirect(1, blocks[0]);
    m_hardware.setControlDirect(2, blocks[1]);
    box.setRecordReceiver(this);
    if (const usb::Status status = m_hardware.SampleData(); status != usb::kSuccess) {
        box.setRecordReceiver(nullptr);
        char code[16];
        std::snprintf(code, sizeof code, "%08x", static_cast<unsigned>(status));
        error = std::string("The acquisition box could not start sampling (") + code + ").";
        return false;
    }
    m_state = State::Scope;
    return true;
}

void BoxRecordSession::storeAudio(const AudioControls& audio)
{
    ChannelInfo& entry = m_info.table[0];
    entry.nGain = std::clamp(audio.gainBits, 0, 7) * 100 + 100;
    entry.setSource(audio.maskPanelBit == 0 ? "Mask" : "Panel");
    m_settings.g_strInputSource = audio.micLineBit != 0 ? "Microphone" : "Line";
}

void BoxRecordSession::setAudio(const AudioControls& audio, bool direct)
{
    storeAudio(audio);
    const BoxControlBlock block = audioBlock(audio);
    if (direct)
        m_hardware.setControlDirect(0, block);
    else if (streaming())
        m_hardware.setControl(0, -1, block, block); // one block goes out
}

void BoxRecordSession::setAnalog(const std::array<AnalogControls, 4>& analog, bool direct)
{
    const auto blocks = storeAnalogControls(analog, m_info.table);
    if (direct) {
        m_hardware.setControlDirect(1, blocks[0]);
        m_hardware.setControlDirect(2, blocks[1]);
    } else if (streaming()) {
        m_hardware.setControl(1, 2, blocks[0], blocks[1]);
    }
}

void BoxRecordSession::setChannelOn(int entry, bool on)
{
    if (entry < 5 || entry >= std::min(m_info.systemChannels, kLastBoxEntry + 1))
        return;
    m_info.table[static_cast<std::size_t>(entry)].bOnOff = on ? 1 : 0;
}

bool BoxRecordSession::record(std::string& error)
{
    if (m_state != State::Scope) {
        error = m_state == State::Recording ? "A recording is already running."
                                            : "The acquisition box is not streaming.";
        return false;
    }
    RecordingInfo info = m_info;
    info.startedUnixSeconds = std::chrono::duration_cast<std::chrono::seconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count();
    // Every recording gets a file of its own; an earlier one of this session
    // not yet read stays where it is.
    auto file = std::make_unique<RawRecordingFile>();
    if (!file->create(m_folder, info, error))
        return false;
    if (m_file)
        m_file->close();
    m_file = std::move(file);
    m_info.startedUnixSeconds = info.startedUnixSeconds;
    m_shortReadsAtRecord = m_hardware.connection().shortReads();
    m_state = State::Recording;
    return true;
}

void BoxRecordSession::save()
{
    if (m_state != State::Recording)
        return;
    const int channels = std::clamp(m_info.systemChannels, 0, 16);
    std::copy_n(m_info.table.begin(), channels, m_settings.g_ChannelInfo.begin());
    m_settings.g_ChannelInfo[16] = m_info.table[16];
    // The sources and the channel table go back into the application
    // configuration; without one there is nothing to patch. The record time
    // at its place is not these settings' and stays as stored.
    patchApplicationConfiguration(m_settings, [this](Configuration& record) {
        const std::int32_t recordTime = record.getInt32(ConfigOffset::kRecordingTime);
        putRecordSettings(record, m_settings, true);
        record.putInt32(ConfigOffset::kRecordingTime, recordTime);
    });
    m_file->close();
    drainTo(End::Saved);
}

void BoxRecordSession::cancel()
{
    if (!streaming())
        return;
    if (m_file)
        m_file->remove();
    drainTo(End::Cancelled);
}

void BoxRecordSession::drainTo(End end)
{
    m_pendingEnd = end;
    m_state = State::Draining;
    m_stopAsked = m_hardware.connection().now();
    m_hardware.Stop();
}

void BoxRecordSession::setStopTimeout(std::chrono::milliseconds timeout)
{
    m_stopTimeout = timeout;
}

void BoxRecordSession::checkStopTimeout()
{
    if (m_state != State::Draining ||
        m_hardware.connection().now() - m_stopAsked < m_stopTimeout)
        return;
    m_hardware.cancel();
    finish(m_pendingEnd == End::Saved ? End::StopTimeout : m_pendingEnd);
}

void BoxRecordSession::finish(End end)
{
    BoxConnection& box = m_hardware.connection();
    if (box.recordReceiver == this)
        box.setRecordReceiver(nullptr);
    m_state = State::Idle;
    m_listener.sessionEnded(end);
}

void BoxRecordSession::discardRecording()
{
    if (m_file && m_state == State::Idle)
        m_file->remove();
}

BoxRecordSession::State BoxRecordSession::state() const
{
    return m_state;
}

double BoxRecordSession::recordedSeconds() const
{
    return static_cast<double>(recordedFrames()) / kBoxFrameRate;
}

std::uint64_t BoxRecordSession::recordedFrames() const
{
    return m_file ? m_file->frames() : 0;
}

std::filesystem::path BoxRecordSession::recordingPath() const
{
    return m_file ? m_file->path() : std::filesystem::path();
}

BoxConnection::ShortReads BoxRecordSession::shortReads() const
{
    if (!m_file)
        return {};
    const BoxConnection::ShortReads& now = m_hardware.connection().shortReads();
    return {now.reads - m_shortReadsAtRecord.reads,
            now.bytesShort - m_shortReadsAtRecord.bytesShort,
            now.bytesDropped - m_shortReadsAtRecord.bytesDropped};
}

const RecordingInfo& BoxRecordSession::info() const
{
    return m_info;
}

// --- RecordReceiver -------------------------------------------------------------

void BoxRecordSession::animateRecordData()
{
    if (m_state == State::Idle)
        return;
    const auto block = m_hardware.connection().newestBlock();
    if (m_state == State::Recording) {
        if (!m_file->append(block, m_writeError)) {
            // What was written stays; the stream stops.
            m_hardware.connection().print(m_writeError + "\n");
            m_file->close();
            drainTo(End::WriteFailed);
        }
    }
    m_listener.blockArrived(block);
}

void BoxRecordSession::refreshDisplay()
{
    // The listener draws in blockArrived; nothing is left to do here.
}

void BoxRecordSession::stopClose()
{
    if (m_state == State::Draining) {
        finish(m_pendingEnd);
    } else if (streaming()) {
        // Not asked for: the box went away or its reads failed. What was
        // recorded is kept.
        if (m_file && m_state == State::Recording)
            m_file->close();
        finish(End::BoxGone);
    }
}

} // namespace phonaxis
