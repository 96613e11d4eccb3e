#pragma once

// Recording from an acquisition box, without any window: the settings of the
// front end as the recording window's controls hold them and the control
// blocks they make, the raw recording file every streamed block is appended
// to, the recordings a crashed run left behind, and `BoxRecordSession`, the
// scope / record / save / cancel logic that the recording window and
// `phonaxis-cli record --box` both drive. Main thread only (the transport
// delivers every block there).

#include "document/AppSettings.h"
#include "document/BoxFrames.h"
#include "document/PrivateFiles.h"
#include "hardware/BoxConnection.h"
#include "hardware/USB2Hardware.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace phonaxis {

// --- the front end's settings ---------------------------------------------------

// The pop-ups' values, in pop-up order.
inline constexpr std::array<int, 8> kAudioGains = {100, 200, 300, 400, 500, 600, 700, 800};
inline constexpr std::array<int, 8> kChannelGains = {1, 2, 4, 6, 8, 10, 15, 20};
inline constexpr std::array<int, 8> kFilterRates = {8000, 4000, 1000, 300, 150, 40, 10, 2};

// Pop-up positions of stored values: a filter rate of 4000 → 1, 1000 → 2 …
// 2 → 7, anything else (8000 included) → 0; a channel gain of 1 → 0 … 20 → 7,
// anything else → 0; an audio gain → gain / 100 − 1 (integer division), kept
// within 0..7.
int filterPosition(std::int32_t filterRate);
int gainPosition(std::int32_t gain);
int audioGainPosition(std::int32_t gain);

// The audio input's control bits; block 0 byte 0 is their OR.
struct AudioControls {
    int gainBits = 0;     // 0..7, the audio gain pop-up position
    int maskPanelBit = 0; // 0 (Mask) or 8 (Panel)
    int micLineBit = 0;   // 16 (Microphone) or 0 (Line)
    int filterBit = 32;   // 32 (DC) or 0 (AC)
};
BoxControlBlock audioBlock(const AudioControls& audio);

// One analog channel's controls, as pop-up positions.
struct AnalogControls {
    bool on = true;
    int filterPosition = 0; // index into kFilterRates
    int sourcePosition = 0; // 0: "Mask" (code bit 0x40), 1: "Panel"
    int gainPosition = 0;   // index into kChannelGains
};
// Bits 0–2 = 7 − filter position, bits 3–5 = gain position, 0x40 for Mask.
std::uint8_t channelCode(const AnalogControls& channel);

// The controls of channels 1..4 as loaded from entries 1..4 of `table`.
std::array<AnalogControls, 4> analogControlsFrom(std::span<const ChannelInfo> table);
// Stores the controls in entries 1..4 of `table` (bOnOff, nFilterRate,
// cSource "Mask" / "Panel", nGain) and returns control blocks 1 (channels
// 1 and 2) and 2 (channels 3 and 4).
std::array<BoxControlBlock, 2> storeAnalogControls(const std::array<AnalogControls, 4>& channels,
                                                   std::span<ChannelInfo> table);

// The audio controls loaded from the settings: gain from entry 0's nGain,
// Panel unless entry 0's source is "Mask", microphone when the input source
// is "Microphone", filter bit 32.
AudioControls audioControlsFrom(const AppSettings& settings);

// "Recording m:ss" for the whole seconds recorded, "Recording h:mm:ss" from
// an hour on (65 s → "Recording 1:05", 3723 s → "Recording 1:02:03").
std::string recordingTimeText(double seconds);

// --- frames and channels --------------------------------------------------------

inline constexpr std::size_t kFrameBytes = kBoxFrameBytes; // 16 int16 slots
inline constexpr std::size_t kFramesPerBlock = 2048;
inline constexpr double kBoxFrameRate = kBoxFrameRateHz;

// The entries recorded from a box of `systemChannels` channels: the enabled
// ones among the first `systemChannels` entries of `table` (at most 13), in
// entry order.
std::vector<int> enabledEntries(std::span<const ChannelInfo> table, int systemChannels);
// The value of entry `entry` in one frame, normalized: entry 0 (the audio)
// is the mean of slots 0..3, entry e > 0 is slot e + 3.
float entryValue(const std::uint8_t* frame, int entry);

// --- the raw recording file -----------------------------------------------------

// What a recording was made with: enough to turn its raw file into channels
// again, also after a crash.
struct RecordingInfo {
    int systemChannels = 0;
    std::array<ChannelInfo, 17> table{}; // entries 0..16 of the channel table
    std::int64_t startedUnixSeconds = 0;
};

// The temporary file of one recording: the raw 65,536-byte blocks in
// arrival order, no header. Each recording gets a file of its own in the
// private temporary folder, created exclusively and held locked while this
// process runs, named "$$001recordfile-<pid>-<unique>", with its
// `RecordingInfo` beside it in "<name>.info". Blocks are written as they
// come and flushed to the disk at least once a second.
class RawRecordingFile {
public:
    RawRecordingFile();
    ~RawRecordingFile(); // closes; the files stay unless removed
    RawRecordingFile(const RawRecordingFile&) = delete;
    RawRecordingFile& operator=(const RawRecordingFile&) = delete;

    bool create(const std::filesystem::path& folder, const RecordingInfo& info,
                std::string& error);
    bool isOpen() const;
    // Appends one block; false (with `error`) when the write failed.
    bool append(std::span<const std::uint8_t> block, std::string& error);
    // Whole frames written so far.
    std::uint64_t frames() const;
    // The bytes known to be on the disk: what a crash now would leave.
    std::uint64_t flushedBytes() const;
    const std::filesystem::path& path() const;
    // Flushes and closes, keeping the files (they are the recording until it
    // has been read into a document).
    void close();
    // Closes and removes the file and its info.
    void remove() noexcept;

    // The name part that tells a recording file, and the process id a
    // recording's file name carries (-1 for any other name, its info
    // included).
    static constexpr const char* kNamePrefix = "$$001recordfile-";
    static pid_t ownerOf(const std::string& name);

    // The info text of a recording, and the recording it describes; false
    // for a text that is damaged or incomplete.
    static std::string infoText(const RecordingInfo& info);
    static bool parseInfo(const std::string& text, RecordingInfo& info);

private:
    // Flushes the written blocks to the disk once a second on a thread of
    // its own, so that a slow disk never holds the main thread.
    class Flusher;

    PrivateFile m_file;
    std::filesystem::path m_path;
    std::filesystem::path m_infoPath;
    std::uint64_t m_bytes = 0;
    std::uint64_t m_flushed = 0; // once closed
    std::unique_ptr<Flusher> m_flusher;
};

// A recording left in `folder` by a run that ended while recording: its
// owner process no longer runs and no process holds it locked.
struct OrphanRecording {
    std::filesystem::path path;
    RecordingInfo info;
    std::uint64_t frames = 0;
};
std::vector<OrphanRecording> findOrphanRecordings(const std::filesystem::path& folder);
// Removes an orphan's file and info.
void discardOrphanRecording(const OrphanRecording& orphan);

// --- the session -----------------------------------------------------------------

// One opening of the recording window (or one `phonaxis-cli record --box`):
// scope mode at `start`, then record, then save or cancel.
class BoxRecordSession final : public RecordReceiver {
public:
    enum class State {
        Idle,      // not started, or ended
        Scope,     // streaming, not writing
        Recording, // streaming, every block appended to the raw file
        Draining,  // a save or cancel waits for the stream's end
    };
    // Why a stream ended.
    enum class End {
        Saved,       // after save(): the raw file holds the recording
        Cancelled,   // after cancel(): the raw file is gone
        BoxGone,     // the box went away or every read failed while streaming
        WriteFailed, // the raw file could not be written: streaming stopped
        StopTimeout, // a save or cancel whose stream did not end in time
    };

    struct Listener {
        virtual ~Listener() = default;
        // After each block (BoxConnection::newestBlock holds it), whether it
        // was appended or not.
        virtual void blockArrived(std::span<const std::uint8_t> block) = 0;
        // The stream has ended; for Saved, BoxGone, WriteFailed and
        // StopTimeout while recording, `recordingPath()` holds what was
        // recorded (maybe 0 frames) and the listener decides what becomes
        // of it.
        virtual void sessionEnded(End end) = 0;
    };

    // `hardware` and `settings` must outlive the session. `temporaryFolder`
    // is where raw files are made.
    BoxRecordSession(USB2Hardware& hardware, AppSettings& settings,
                     std::filesystem::path temporaryFolder, Listener& listener);
    ~BoxRecordSession() override; // ends any stream at once (USB2Hardware::cancel)

    // Scope mode: the stop request, the audio block and both analog blocks
    // sent at once, the receiver set, sampling started. False (with `error`)
    // without a box or when sampling cannot start.
    bool start(const AudioControls& audio, const std::array<AnalogControls, 4>& analog,
               std::string& error);
    // Settings while streaming: with the next block, or at once. setAudio
    // also stores entry 0's gain and source and the input source text
    // ("Microphone" / "Line"); setAnalog stores entries 1..4.
    void setAudio(const AudioControls& audio, bool direct);
    void setAnalog(const std::array<AnalogControls, 4>& analog, bool direct);
    // Switches entry `entry` (a channel past 4, which has no front-end
    // controls) on or off: its bOnOff only, nothing is sent to the box.
    // Entries outside 5..systemChannels − 1 are left alone.
    void setChannelOn(int entry, bool on);

    // Starts writing blocks to a new raw file; false with `error` when it
    // cannot be made (the session stays in scope mode).
    bool record(std::string& error);
    // Stops writing and the stream; the end comes as Saved (or BoxGone …).
    void save();
    // Stops writing and the stream and removes the raw file; ends as
    // Cancelled.
    void cancel();
    // How long a save or cancel waits for the stream to end before it ends
    // it at once (StopTimeout). Checked by `checkStopTimeout`, which the
    // owner calls from a timer.
    void setStopTimeout(std::chrono::milliseconds timeout);
    void checkStopTimeout();

    // After a Saved (or early) end whose recording has been read into a
    // document: removes the raw file. Until then it stays, so nothing
    // recorded is lost if reading it fails.
    void discardRecording();

    State state() const;
    double recordedSeconds() const; // frames written / 22050
    std::uint64_t recordedFrames() const;
    std::filesystem::path recordingPath() const;
    // The working channel table (entries 0..16) and box channel count the
    // session records with: loaded from the settings at construction,
    // changed by setAudio / setAnalog. `save` copies the box's entries and
    // entry 16 back into the settings and, when the application
    // configuration exists, patches its sources and channel fields.
    const RecordingInfo& info() const;
    // Why the raw file could not be written (after a WriteFailed end).
    const std::string& writeError() const { return m_writeError; }
    // The reads of the latest recording that brought fewer bytes than
    // asked, and what they lacked (only what came is recorded).
    BoxConnection::ShortReads shortReads() const;

    // RecordReceiver
    void animateRecordData() override;
    void refreshDisplay() override;
    void stopClose() override;

private:
    // The stream has stopped writing and asked the box to stop; `end` is
    // what its stopClose will report.
    void drainTo(End end);
    // The stream is over: the receiver cleared, the session idle, the
    // listener told (last: it may delete the session).
    void finish(End end);
    void storeAudio(const AudioControls& audio);
    bool streaming() const;

    USB2Hardware& m_hardware;
    AppSettings& m_settings;
    std::filesystem::path m_folder;
    Listener& m_listener;
    RecordingInfo m_info;
    State m_state = State::Idle;
    End m_pendingEnd = End::Saved;
    std::unique_ptr<RawRecordingFile> m_file;
    std::chrono::milliseconds m_stopTimeout{5000};
    BoxConnection::Clock::time_point m_stopAsked{};
    std::string m_writeError;
    BoxConnection::ShortReads m_shortReadsAtRecord; // the connection's tally when Record began
};

} // namespace phonaxis
