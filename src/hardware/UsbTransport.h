#pragma once

// The USB service the box protocol runs on, as a small interface: hot-plug
// arrival and removal of devices of one identity, configuration selection,
// vendor control requests with their status, and asynchronous bulk reads and
// writes whose completions are delivered on the main thread. The libusb
// adapter (hardware/libusb/) and the in-process `SimulatedBox` implement it;
// core never includes a USB library.
//
// Threads: everything here is for the main thread, with one exception: a
// firmware download's worker makes the control requests of its loader
// while the main thread leaves the transport alone (one thread at a time,
// the worker joined before the main thread goes on). Completions and
// hot-plug events are delivered only from `handleEvents`, which the application's
// main loop calls when one of `pollFds` is ready or `nextTimeout` has passed
// (tests call it directly) — never from inside the call that submitted the
// transfer or armed the notification.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace phonaxis::usb {

// A transfer's or request's outcome: 0 for success, otherwise one of the
// codes below (printed as "%08x" in the console messages).
using Status = std::uint32_t;
inline constexpr Status kSuccess = 0;
inline constexpr Status kError = 0xE00002BC;         // general failure
inline constexpr Status kNoMemory = 0xE00002BD;
inline constexpr Status kBadArgument = 0xE00002C2;
inline constexpr Status kBusy = 0xE00002D5;
inline constexpr Status kTimeout = 0xE00002D6;
inline constexpr Status kNotPermitted = 0xE00002E2;  // no access to the device (permissions)
inline constexpr Status kUnderrun = 0xE00002E7;      // fewer bytes than asked for
inline constexpr Status kOverrun = 0xE00002E8;
inline constexpr Status kNoDevice = 0xE00002E9;      // no device, or it went away
inline constexpr Status kAborted = 0xE00002EB;       // cancelled (closing, removal)
inline constexpr Status kNotFound = 0xE00002F0;
inline constexpr Status kStall = 0xE000404F;         // the endpoint refused the request

// A device's identity from its device descriptor.
struct DeviceIdentity {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::uint16_t release = 0;  // bcdDevice
    friend bool operator==(const DeviceIdentity&, const DeviceIdentity&) = default;
};

// What a pipe (an endpoint of the open interface) is, for the diagnostic
// listing. Directions: 0 out, 1 in, 2 none, 3 any. Transfer types: 0
// control, 1 isochronous, 2 bulk, 3 interrupt.
struct PipeProperties {
    std::uint8_t direction = 0;
    std::uint8_t number = 0;
    std::uint8_t transferType = 0;
    std::uint16_t maxPacketSize = 0;
};

// A vendor control request on endpoint 0. `requestType` is the full
// bmRequestType (0x40 host to device, 0xC0 device to host); `data` is sent
// or filled according to its direction bit, and its size is wLength.
struct ControlRequest {
    std::uint8_t requestType = 0x40;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::span<std::uint8_t> data;
};

// Called with a transfer's status and the number of bytes moved. Runs on the
// main thread from `UsbTransport::handleEvents`, once per submitted transfer
// (a transfer cancelled by `abortPipes`, `close` or the device's removal
// completes with kAborted or kNoDevice).
using Completion = std::function<void(Status status, std::size_t transferred)>;

// The first interface of an open, configured device, opened. Closing it (or
// destroying it) cancels its transfers.
class UsbInterface {
public:
    virtual ~UsbInterface() = default;

    virtual std::uint8_t interfaceClass() const = 0;
    virtual std::uint8_t interfaceSubClass() const = 0;
    virtual Status endpointCount(int& count) = 0;
    // Pipe references count from 1 in endpoint order; 0 is the control pipe.
    virtual Status pipeProperties(int pipeRef, PipeProperties& properties) = 0;

    // A control request on endpoint 0; `transferred` gets the bytes moved.
    virtual Status control(const ControlRequest& request, std::size_t& transferred) = 0;

    // Queues a bulk read into `buffer` (pipe 2 on the boxes) or a bulk write
    // of `buffer` (pipe 1). The buffer must stay valid until the completion
    // has run. A failure to queue is returned at once and `done` never runs.
    virtual Status readPipeAsync(int pipeRef, std::span<std::uint8_t> buffer, Completion done) = 0;
    virtual Status writePipeAsync(int pipeRef, std::span<const std::uint8_t> buffer,
                                  Completion done) = 0;
    // Cancels every transfer in flight; their completions still run, later.
    virtual void abortPipes() = 0;
};

// An attached device. Opening, configuring and requests work as on the bus;
// after the device is removed, every call fails with kNoDevice.
class UsbDevice {
public:
    virtual ~UsbDevice() = default;

    virtual DeviceIdentity identity() const = 0;
    // A number that tells this attachment from every other one (a device
    // plugged in again gets a new one); the removal notice carries it.
    virtual std::uint64_t key() const = 0;

    virtual Status open() = 0;
    virtual void close() = 0;
    virtual int configurationCount() = 0;
    // The bConfigurationValue of configuration descriptor `index`.
    virtual Status configurationValue(int index, std::uint8_t& value) = 0;
    virtual Status setConfiguration(std::uint8_t value) = 0;
    // A control request on endpoint 0 of the open device (the loader's RAM
    // writes go this way, before any interface is open).
    virtual Status control(const ControlRequest& request, std::size_t& transferred) = 0;
    // Opens the first interface of the open, configured device.
    virtual Status openFirstInterface(std::unique_ptr<UsbInterface>& out) = 0;
};

// The USB service.
class UsbTransport {
public:
    virtual ~UsbTransport() = default;

    using Arrival = std::function<void(std::shared_ptr<UsbDevice> device)>;
    using Removal = std::function<void(const DeviceIdentity& identity, std::uint64_t key)>;

    // Arms arrival and removal notices for devices whose vendor is `vendor`
    // (every product: the handlers check the product themselves). Devices
    // already attached arrive at the next `handleEvents`. A failure to arm
    // (no USB service, no hot-plug and no way to poll) is returned with a
    // sentence for the console in `error`.
    virtual Status watch(std::uint16_t vendor, Arrival arrived, Removal removed,
                         std::string& error) = 0;

    // --- the main loop's part --------------------------------------------------
    struct PollFd {
        int fd = -1;
        short events = 0;  // POLLIN / POLLOUT
    };
    // The descriptors whose readiness means events are waiting (none for a
    // simulated box).
    virtual std::vector<PollFd> pollFds() = 0;
    // Called when the set of descriptors changes (libusb adds and removes
    // some as devices open and close).
    virtual void onPollFdsChanged(std::function<void()> changed) = 0;
    // How long until `handleEvents` must run even without descriptor
    // activity (a transfer's timeout, the simulated box's next block, the
    // hot-plug poll); nothing when only descriptors can wake it.
    virtual std::optional<std::chrono::milliseconds> nextTimeout() = 0;
    // Delivers every completion and hot-plug notice that is due, without
    // waiting.
    virtual void handleEvents() = 0;
};

} // namespace phonaxis::usb
