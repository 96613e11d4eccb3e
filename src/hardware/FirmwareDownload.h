#pragma once

// The firmware download into a bare loader, off the main thread: hold the
// controller in reset (0x01 to 0xE600), write the image's records in table
// order up to the first that is not data, let it run (0x00 to 0xE600). Each
// write is one synchronous control request, which a slow or failing loader
// may take up to the transport's timeout to answer; ~280 of them on the
// main thread would freeze the application (and a command's wait) for as
// long as the loader likes.
//
// A `FirmwareDownload` runs those writes on a worker thread of its own. The
// loader device is used by the worker alone until `finished()`; while it
// runs nobody else may touch the transport (the box protocol stops running
// the transport's events until the download is over), so the transport is
// still used by one thread at a time. Progress is an atomic count, `cancel`
// stops before the next write, and the destructor cancels and joins: a
// download never outlives its owner. A download that fails or is cancelled
// never writes the run byte, so the controller stays held in reset with a
// partial image and the box does not start.
//
// `run` is the same sequence on the calling thread (what the worker
// executes), for callers that want it synchronously.

#include "hardware/FirmwareImage.h"
#include "hardware/UsbTransport.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace phonaxis {

class FirmwareDownload {
public:
    // Where a download ended.
    enum class Step {
        Done,      // every record written and the controller released
        Reset,     // the reset write failed
        Record,    // the write of `record` failed
        Run,       // the run write failed
        Cancelled, // cancelled before record `record` (the controller stays in reset)
    };
    struct Result {
        Step step = Step::Done;
        usb::Status status = usb::kSuccess;
        int record = 0; // zero-based table index (Record, Cancelled)

        bool ok() const { return step == Step::Done; }
        // The console line of the failure, as the download prints it
        // ("AnchorWrite download 2 returned err 0x…!\n"); empty for Done
        // and Cancelled.
        std::string consoleLine() const;
        // A sentence for the user saying what happened and in which state
        // the box is left; empty for Done.
        std::string sentence() const;
    };

    // The image's data records up to the first that is not data, copied.
    static std::vector<FirmwareRecord> recordsToLoad(const FirmwareImage& image);

    // One RAM load request (0x40, 0xA0, wValue = address, at most 16 bytes).
    static usb::Status anchorWrite(usb::UsbDevice& device, std::uint16_t address,
                                   std::span<const std::uint8_t> data);

    // Reset, `records`, run, on the calling thread. `cancelled` (may be
    // null) is looked at before each record; `written` (may be null) counts
    // the records written.
    static Result run(usb::UsbDevice& device, std::span<const FirmwareRecord> records,
                      const std::atomic<bool>* cancelled, std::atomic<int>* written);

    // Starts the download of `image` into `device` (open and configured)
    // on a worker thread. The device is shared with the worker until
    // `finished()`.
    FirmwareDownload(std::shared_ptr<usb::UsbDevice> device, const FirmwareImage& image);
    ~FirmwareDownload();
    FirmwareDownload(const FirmwareDownload&) = delete;
    FirmwareDownload& operator=(const FirmwareDownload&) = delete;

    // Any thread. The worker stops before its next write; one request
    // already sent still takes as long as the loader takes to answer it.
    void cancel() { m_cancel = true; }
    bool cancelRequested() const { return m_cancel; }
    // Any thread: the worker has written its last request.
    bool finished() const { return m_finished; }
    int recordsWritten() const { return m_written; }
    int recordCount() const { return static_cast<int>(m_records.size()); }

    // Waits for the worker (at once after `finished()`) and returns how the
    // download ended. The device is then the caller's alone again.
    Result wait();
    const std::shared_ptr<usb::UsbDevice>& device() const { return m_device; }

private:
    std::shared_ptr<usb::UsbDevice> m_device;
    std::vector<FirmwareRecord> m_records;
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_finished{false};
    std::atomic<int> m_written{0};
    Result m_result;       // written by the worker before m_finished, read after join
    std::thread m_worker;  // last: started once everything above is set
};

} // namespace phonaxis
