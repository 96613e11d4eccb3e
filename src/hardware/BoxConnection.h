#pragma once

// What the acquisition-box protocol shares between every `USB2Hardware`
// object of the process: the transport, the open box, the firmware image,
// the read and write rings with their flags and counters, and the places
// the protocol reports to (the console, the announcer, the recording and
// play receivers). Any number of `USB2Hardware` objects refer to one
// `BoxConnection` and drive the same box; tests make a fresh one per case.
//
// Main thread only: the transport delivers arrivals, removals and
// completions from `UsbTransport::handleEvents` on the main thread, and
// every caller runs there too, so nothing here is locked. (A firmware
// download's worker uses only its own loader device and atomics; see
// FirmwareDownload.h.)

#include "hardware/BoxRequests.h"
#include "hardware/FirmwareDownload.h"
#include "hardware/FirmwareImage.h"
#include "hardware/UsbTransport.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace phonaxis {

// One diagnostic console line, exactly as the protocol prints it (printf
// formats already applied; a trailing "\n" only where the message has one:
// a sink that writes to a terminal ends the others with one).
using ConsoleSink = std::function<void(const std::string& text)>;

// A 64-byte control block of the analog front end (request 0xB6).
using BoxControlBlock = std::array<std::uint8_t, 64>;

// Tells the user that a box came or went: a system beep and a modal alert
// with a title, a message and one button.
class HardwareAnnouncer {
public:
    virtual ~HardwareAnnouncer() = default;
    virtual void beep() = 0;
    virtual void alert(const std::string& title, const std::string& message,
                       const std::string& button) = 0;
};

// What last kept a box from becoming ready, for the front ends to tell
// (the console has the protocol's own lines). Cleared when a box answers.
struct BoxProblem {
    enum class Kind {
        None,
        NoFirmware,    // a loader arrived and there is no image for it
        Open,          // a device could not be opened (kNotPermitted: the node's permissions)
        Configure,     // its configuration could not be selected
        Download,      // the firmware download failed or was cancelled
        Interface,     // the programmed box's interface could not be opened
        Configuration, // the programmed box did not answer 9, 5 or 2 channels
    };
    Kind kind = Kind::None;
    usb::Status status = usb::kSuccess;
    std::uint16_t product = 0; // the device it happened to
    std::string sentence;      // what to tell the user
};

// The recording side of the stream. `animateRecordData` and `refreshDisplay`
// follow each block, which `BoxConnection::newestBlock` then holds;
// `stopClose` comes exactly once when a stream has ended (after a stop, or
// when the box went away or every read failed).
class RecordReceiver {
public:
    virtual ~RecordReceiver() = default;
    virtual void animateRecordData() = 0;
    virtual void refreshDisplay() = 0;
    virtual void stopClose() = 0;
    // Whether a playback through the box may pause this receiver's stream.
    // The box has one stop request for sampling and playback, so a playback
    // and a stream cannot share it: a receiver that yields (a live view)
    // has its stream ended at once and quietly (no stopClose) and starts it
    // again after the playback; while a receiver that does not (a
    // recording) streams, playback is refused.
    virtual bool yieldsToPlayback() const { return false; }
};

// The playback side: the time since playback started, in nanoseconds, at
// each write completion, and the end of playback.
class PlayReceiver {
public:
    virtual ~PlayReceiver() = default;
    virtual void animateHardwarePlay(double elapsedNs) = 0;
    virtual void stopHardwarePlay() = 0;
};

class BoxConnection {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::uint16_t kVendor = box::kVendor;
    static constexpr std::uint16_t kLoaderProduct = box::kLoaderProduct;
    static constexpr std::uint16_t kBoxProduct = box::kBoxProduct;
    static constexpr int kRingSize = 32;
    static constexpr std::size_t kXferSizeSample = 65536; // bytes per read
    static constexpr std::size_t kXferSizePlay = 4096;    // bytes per write
    static constexpr std::size_t kFrameBytes = 32;        // 16 int16 slots
    static constexpr int kSamplesPerWrite = static_cast<int>(kXferSizePlay / 2);

    // `transport` must outlive the connection. `announcer` too; the
    // console may be empty (nothing printed). `now` is the clock playback
    // time is measured with.
    static std::shared_ptr<BoxConnection>
    create(usb::UsbTransport& transport, ConsoleSink console, HardwareAnnouncer& announcer,
           std::function<Clock::time_point()> now = Clock::now);

    // The firmware the loader gets. Without an image (`image` empty) the
    // `error` sentence is printed once, a loader arriving gets an alert,
    // and it is left alone.
    // With `tellNow` clear the sentence waits for the first loader to arrive
    // (someone without a box is not told of an image they do not need).
    void setFirmware(std::optional<FirmwareImage> image, std::string error = {},
                     bool tellNow = true);

    // Receivers, not owned: whoever sets one clears it (nullptr) before it
    // goes away.
    void setRecordReceiver(RecordReceiver* receiver) { recordReceiver = receiver; }
    void setPlayReceiver(PlayReceiver* receiver) { playReceiver = receiver; }

    // The newest block of the stream: whole 32-byte frames only, as many as
    // came (2,048 for a full read; all zero before the first block). A
    // frame split between two reads is delivered whole with the second.
    std::span<const std::uint8_t> newestBlock() const
    {
        return std::span(newest).first(newestBytes);
    }
    // What reads that brought fewer bytes than asked cost, since the
    // connection was made: such reads, the bytes they lacked, and the bytes
    // of split frames dropped because their stream ended before the rest came.
    struct ShortReads {
        std::uint64_t reads = 0;
        std::uint64_t bytesShort = 0;
        std::uint64_t bytesDropped = 0;
    };
    const ShortReads& shortReads() const { return shortReadTally; }
    // How many blocks have been copied into `newestBlock` since the
    // connection was made: a reader that polls tells a new block by it.
    std::uint64_t blockCount() const { return blocksArrived; }

    // A programmed box answered the configuration request. Stays set after
    // its removal (callers test `haveInterface` before any transfer).
    bool haveHardware() const { return g_bHaveHardware; }
    int systemChannelNumber() const { return g_SystemChannelNumber; }
    bool haveInterface() const { return static_cast<bool>(iface); }
    bool sampling() const { return streamOpen; }
    bool playing() const { return playOpen; }
    int readsInFlight() const { return readsQueued; }
    int writesInFlight() const { return writesQueued; }

    // --- the protocol's state (USB2Hardware works on it) ---------------------
    struct ReadRecord {
        int index = 0;
        int bytesRead = 0;
    };
    struct ReadRing {
        std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(kRingSize * kXferSizeSample);
        std::array<ReadRecord, kRingSize> records{};
        std::span<std::uint8_t> buffer(int i)
        {
            return std::span(bytes).subspan(static_cast<std::size_t>(i) * kXferSizeSample,
                                            kXferSizeSample);
        }
    };
    struct PlayRecord {
        int from = 0;
        int to = 0;
        int position = 0; // sample index just past the last one put in this buffer
        int slot = 0;
        int count = 0; // buffers queued at the start, min(buffers needed, 32)
    };
    struct WriteRing {
        std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(kRingSize * kXferSizePlay);
        std::array<PlayRecord, kRingSize> records{};
        std::span<std::uint8_t> buffer(int i)
        {
            return std::span(bytes).subspan(static_cast<std::size_t>(i) * kXferSizePlay,
                                            kXferSizePlay);
        }
    };

    usb::UsbTransport& transport;
    ConsoleSink console;
    HardwareAnnouncer& announcer;
    std::function<Clock::time_point()> now;

    std::optional<FirmwareImage> firmware;
    std::string firmwareError = "No firmware image was given for the acquisition box.";
    bool firmwareErrorPrinted = false;

    // The firmware download. A loader that arrived waits in `pendingLoader`
    // (open, configured) until the transport's pass that delivered it is
    // over; then its download runs on a worker, and the transport's events
    // wait until it has finished (see USB2Hardware::handleEvents).
    std::shared_ptr<usb::UsbDevice> pendingLoader;
    std::unique_ptr<FirmwareDownload> download;
    std::optional<FirmwareDownload::Result> lastDownload; // how the last download ended
    BoxProblem problem;

    bool armed = false;                       // the watch is set (once per connection)
    std::shared_ptr<usb::UsbDevice> device;   // the programmed box, open
    std::unique_ptr<usb::UsbInterface> iface; // its first interface; null when none
    bool g_bHaveHardware = false;
    int g_SystemChannelNumber = 0;

    RecordReceiver* recordReceiver = nullptr;
    PlayReceiver* playReceiver = nullptr;

    // The rings are shared with the completions in flight, so that a
    // transfer still queued when a stream is abandoned never writes into
    // freed memory.
    std::shared_ptr<ReadRing> readRing;
    std::shared_ptr<WriteRing> writeRing;
    std::vector<std::uint8_t> newest = std::vector<std::uint8_t>(kXferSizeSample);
    std::size_t newestBytes = kXferSizeSample;    // the whole frames `newest` holds
    std::array<std::uint8_t, kFrameBytes> carry{}; // the start of a split frame
    std::size_t carryBytes = 0;
    ShortReads shortReadTally;
    std::uint64_t blocksArrived = 0; // blocks copied into `newest`
    std::vector<float> playSamples; // the range being played, from `from` on

    bool gbStop = false;
    bool gbStopNow = false;
    int gnStopCount = 0;
    bool streamOpen = false; // a stream has reads queued and its end is not told yet
    bool playOpen = false;   // a playback has writes queued and its end is not told yet
    int readsQueued = 0;
    int writesQueued = 0;
    int callbackDepth = 0;        // > 0 while the transport is delivering to us
    std::uint64_t generation = 0; // counts the interfaces closed: tells a stale completion

    bool gbsetCmdControl = false;
    int gcmdCtlIndex1 = -1;
    int gcmdCtlIndex2 = -1;
    BoxControlBlock gcmdBuffer1{};
    BoxControlBlock gcmdBuffer2{};

    Clock::time_point gstartHostTime{};

    BoxConnection(usb::UsbTransport& transport, ConsoleSink console, HardwareAnnouncer& announcer,
                  std::function<Clock::time_point()> now);
    void print(const std::string& text) const
    {
        if (console)
            console(text);
    }
};

} // namespace phonaxis
