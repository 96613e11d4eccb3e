#pragma once

// The acquisition-box protocol: discovery of the boxes (vendor 0x2E7B), the
// firmware download into a bare loader (0x1600), opening the programmed box
// (0x1601) and learning its channel count, its removal, the vendor control
// requests that start and stop sampling and playback and set the analog
// front end, the ring of 32 reads of 64 KiB that streams its 16-slot frames,
// and the ring of up to 32 writes of 4 KiB that plays a channel through its
// D/A output.
//
// A `USB2Hardware` holds no state of its own: everything lives in the
// `BoxConnection` it refers to, so every object made on one connection
// drives the same box. Main thread only; the transport delivers every
// notice and completion from `UsbTransport::handleEvents`, which main loops
// reach through `USB2Hardware::handleEvents`. The one exception is the
// firmware download, which runs on a worker of its own while the main
// thread leaves the transport alone (see FirmwareDownload.h).

#include "hardware/BoxConnection.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <memory>
#include <span>
#include <string>

namespace phonaxis {

// The D/A word of a float sample: s clipped to −1..+1, n = (s + 1) × 32767
// truncated toward zero, in reversed bit order (bit 0 becomes bit 15 …),
// sign-extended. −1 (and below) gives 0x0000, 0 gives 0xFFFE, +1 (and
// above) gives 0x7FFF; a sample that is not a number counts as 0.
std::int32_t DtoAdata(float sample);

// Why a playback through the box did not start.
enum class PlayRefusal {
    None,          // it started
    NoBox,         // no box is open
    NothingToPlay, // `to` < `from`
    StreamInUse,   // a stream whose receiver does not yield (a recording) runs
    Busy,          // earlier transfers could not be taken back
};
struct PlayStart {
    PlayRefusal refusal = PlayRefusal::None;
    explicit operator bool() const { return refusal == PlayRefusal::None; }
};

class USB2Hardware {
public:
    explicit USB2Hardware(std::shared_ptr<BoxConnection> connection);

    BoxConnection& connection() const { return *m_box; }

    // --- discovery and firmware ---------------------------------------------
    // Arms the arrival and removal notices for the boxes' vendor (once per
    // connection; later calls return 0 and do nothing). Boxes already plugged
    // in arrive at the next `handleEvents`.
    usb::Status FindLoadDevice();

    // Arrival and removal handlers, dispatched by product.
    void deviceArrived(const std::shared_ptr<usb::UsbDevice>& device);
    void deviceRemoved(const usb::DeviceIdentity& identity, std::uint64_t key);
    void RawDeviceAdded(const std::shared_ptr<usb::UsbDevice>& device);
    void RawDeviceRemoved();
    void FirmwareDeviceAdded(const std::shared_ptr<usb::UsbDevice>& device);
    void FirmwareDeviceRemoved(std::uint64_t key);

    // Selects configuration index 0 of the open device: 0, or -1 on failure.
    std::int32_t ConfigureAnchorDevice(usb::UsbDevice& device);
    // One RAM load request (0x40, 0xA0, wValue = address).
    usb::Status AnchorWrite(usb::UsbDevice& device, std::uint16_t address,
                            std::span<const std::uint8_t> data);
    // Reset, the firmware records in table order up to the first that is
    // not data, run, on the calling thread. A failure leaves the controller
    // held in reset. (A loader that arrives gets the same download on a
    // worker: see `handleEvents`.)
    usb::Status DownloadToAnchorDevice(usb::UsbDevice& device);

    // --- the main loop's part ----------------------------------------------------
    // Runs the transport's events (arrivals, removals, completions), except
    // while a firmware download runs on its worker: the loader is then the
    // worker's, and the transport waits. A download that has ended is
    // finished here (its messages printed, the loader closed, `problem` set
    // when it failed); a loader that arrived during the pass starts its
    // download after it. Main loops call this instead of the transport's
    // `handleEvents`, when `nextTimeout` has passed or a descriptor is ready.
    void handleEvents();
    // The transport's next timeout, or a short poll while a download runs.
    std::optional<std::chrono::milliseconds> nextTimeout();
    // A firmware download is waiting to start or running.
    bool downloading() const;
    // Records written and to write of the running download (0, 0 when none).
    int downloadWritten() const;
    int downloadTotal() const;
    // Stops the running download before its next write (the box stays in
    // reset, without firmware); it ends at a later `handleEvents`.
    void cancelDownload();
    // Waits for the running download to end and finishes it (tests, and a
    // command that cancelled it and must not leave before it is over).
    void awaitDownload();
    // Opens the first interface of the open, configured box.
    usb::Status FindInterfaces(usb::UsbDevice& device);
    // The channel count the box answers (9, 5 or 2), or -1.
    std::int32_t ReadConfiguration();

    void hardwareFound(std::int32_t channels);
    void hardwareRemoved();

    // --- control --------------------------------------------------------------
    // One vendor request on endpoint 0 (direction 0 out, 1 in). Its own error,
    // kUnderrun when fewer than `length` bytes moved, kNoDevice without an
    // open interface (nothing sent), else 0.
    usb::Status SendRequest(std::span<std::uint8_t> data, std::uint8_t request,
                            std::uint16_t length, std::uint16_t direction, std::uint16_t value);
    usb::Status setControl(std::int32_t index, const BoxControlBlock& block);
    void setControlDirect(std::int32_t index, const BoxControlBlock& block);
    // Both blocks go out at the next read completion; an index below 0 is
    // not sent.
    void setControl(std::int32_t index1, std::int32_t index2, const BoxControlBlock& block1,
                    const BoxControlBlock& block2);
    void resetHardware();

    // --- streaming ------------------------------------------------------------
    // Starts sampling: 0xB4, 0xB2, then 32 reads of 64 KiB on pipe 2. A
    // stream still running is ended first, quietly (its completions are
    // waited for, so never more than 32 reads are in flight); a playback
    // ends with `stopHardwarePlay`. kNoDevice
    // without a box, else the failure to queue the first read, else 0.
    usb::Status SampleData();
    void ReadCompletion(int buffer, usb::Status result, std::size_t transferred);

    // Plays samples[from, to) on the D/A output with up to 32 writes of
    // 4,096 bytes on pipe 1, then 0xB3. The range is copied: the caller's
    // samples may change or go away meanwhile. `from` and `to` are clipped to
    // the samples. An earlier playback still in flight ends first, quietly.
    // A playback never ends a stream it did not start (its end stops the
    // box): a stream whose receiver yields to playback is paused (ended at
    // once, its receiver not told); any other stream, or one draining,
    // refuses the playback. Refused, nothing is sent and the stream and its
    // flags are untouched.
    PlayStart Play(std::span<const float> samples, std::int32_t from, std::int32_t to);
    void WriteCompletion(int buffer, usb::Status result, std::size_t transferred);

    // Sampling or playback ends after the transfers in flight.
    void Stop();
    // The play receiver is told the end at the next write completion; the
    // box plays out what it has.
    void StopNow();

    // Ends sampling and playback at once, for a window that closes while
    // the box streams: aborts the pipes, waits for every completion (the
    // buffers are then free), stops the box. The recording receiver is not
    // told; the play receiver gets `stopHardwarePlay` if it was playing.
    // Returns false if completions are still outstanding (called from
    // inside a transport callback, or a transport that does not deliver
    // them): no new stream starts until they are back.
    bool cancel();

private:
    // Checks the identity, opens and configures the device, printing what
    // failed; false leaves it closed.
    bool openWanted(usb::UsbDevice& device, std::uint16_t product);
    void startDownload();
    void finishDownload();
    void setProblem(BoxProblem::Kind kind, usb::Status status, std::uint16_t product,
                    std::string sentence);
    void printUnwanted(const usb::DeviceIdentity& identity);
    usb::Status queueRead(int buffer);
    usb::Status queueWrite(int buffer);
    void fillPlayBuffer(int buffer, int firstSample);
    // Appends the bytes a read brought to the frame split by the previous
    // one: the whole frames become the newest block (true), the rest waits
    // for the next read (false when no frame is whole yet).
    bool takeFrames(std::span<const std::uint8_t> bytes);
    // A stream ends (or a new one starts): a split frame's start is dropped,
    // and counted.
    void dropSplitFrame();
    void endStreamIfDrained();
    void finishPlay(bool stopBox);
    bool endTransfers(bool tellPlayer);
    bool drain();
    void closeInterface();
    template <typename F> void inCallback(F&& f);
    template <typename Ring>
    usb::Completion completion(std::shared_ptr<Ring> ring, int buffer,
                               void (USB2Hardware::*handler)(int, usb::Status, std::size_t));

    std::shared_ptr<BoxConnection> m_box;
};

} // namespace phonaxis
