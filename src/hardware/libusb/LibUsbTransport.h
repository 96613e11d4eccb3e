#pragma once

// The USB service on libusb-1.0, for real acquisition boxes.
//
// It owns a libusb context of its own and no thread: the application's main
// loop watches `pollFds` and `nextTimeout` (UsbEventPump does that for Qt)
// and calls `handleEvents`, which lets libusb handle what is ready without
// waiting and then delivers the queued notices. libusb's own callbacks
// (hot-plug and transfer completion) only queue: arrivals, removals and
// completions reach the caller's handlers from `handleEvents`, in the order
// libusb reported them, never while libusb holds its locks.
// Besides libusb's own descriptors, `pollFds` names one of the transport's,
// readable while notices wait: libusb also collects completions inside a
// synchronous control request made outside `handleEvents`, after its own
// descriptors were drained.
//
// Hot-plug: libusb's hot-plug callbacks where the platform has them (devices
// already attached are enumerated too), otherwise the bus is listed once a
// second and compared with the previous listing by bus, port path and
// address.
//
// Permissions: a device the user may not open fails with kNotPermitted, and
// the sentence telling which device and which udev rule to install goes to
// the console sink (when one is set) and stays in `lastError`.
//
// Main thread only. Devices and interfaces handed out keep the context
// alive; destroy them before the transport (the transport cancels transfers
// still in flight when it is destroyed, and their completions are dropped).

#include "hardware/UsbTransport.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace phonaxis::usb {

// The transport's status for a libusb error code (a negative `libusb_error`;
// zero and positive values, which libusb uses for byte counts, are success).
Status statusFromLibUsbError(int error);
// The status of a finished transfer (`libusb_transfer_status`); `deviceGone`
// turns a cancelled or failed transfer of a removed device into kNoDevice.
Status statusFromTransferStatus(int transferStatus, bool deviceGone);

// Where a device sits on the bus: what the polling fallback compares from
// one listing to the next.
struct BusLocation {
    std::uint8_t bus = 0;
    std::vector<std::uint8_t> ports;  // port numbers from the root hub
    std::uint8_t address = 0;
    friend auto operator<=>(const BusLocation&, const BusLocation&) = default;
};

// Indices into `previous` that are no longer in `current` (removed) and
// into `current` that were not in `previous` (arrived), each in order.
void diffBusLocations(const std::vector<BusLocation>& previous,
                      const std::vector<BusLocation>& current, std::vector<std::size_t>& removed,
                      std::vector<std::size_t>& arrived);

struct LibUsbApi;

class LibUsbTransport final : public UsbTransport {
public:
    using ConsoleSink = std::function<void(const std::string&)>;

    // How often the bus is listed when the platform has no hot-plug.
    static constexpr std::chrono::milliseconds kPollPeriod{1000};
    // The timeout of a synchronous control request.
    static constexpr unsigned kControlTimeoutMs = 1000;

    // `forcePolling` uses the listing fallback even where hot-plug exists.
    explicit LibUsbTransport(bool forcePolling = false);
    // The same on another table of libusb functions (tests play a device).
    explicit LibUsbTransport(const LibUsbApi& api, bool forcePolling = false);
    ~LibUsbTransport() override;
    LibUsbTransport(const LibUsbTransport&) = delete;
    LibUsbTransport& operator=(const LibUsbTransport&) = delete;

    // Receives the diagnostic sentences (each ends in LF).
    void setConsole(ConsoleSink console);
    // The last diagnostic sentence (empty when there was none).
    const std::string& lastError() const;
    // Whether libusb started (false in a machine or container without USB).
    bool available() const;
    // Whether arrivals come from listing the bus rather than from hot-plug,
    // and how often it is listed then (kPollPeriod unless set).
    bool polling() const;
    void setPollPeriod(std::chrono::milliseconds period);

    Status watch(std::uint16_t vendor, Arrival arrived, Removal removed,
                 std::string& error) override;
    std::vector<PollFd> pollFds() override;
    void onPollFdsChanged(std::function<void()> changed) override;
    std::optional<std::chrono::milliseconds> nextTimeout() override;
    void handleEvents() override;

    struct Session;  // shared with the devices handed out

private:
    void pollBus();

    std::shared_ptr<Session> m_session;
    bool m_forcePolling = false;
    std::chrono::milliseconds m_pollPeriod = kPollPeriod;
};

} // namespace phonaxis::usb
