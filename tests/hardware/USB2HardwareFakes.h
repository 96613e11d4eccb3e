#pragma once

// A scripted USB transport for the protocol's tests: devices a test plugs in
// and pulls out, control requests recorded with their bytes, bulk transfers
// held until the test completes them (with the status it chooses), and
// recorders for the console, the announcer and the receivers.

#include "hardware/USB2Hardware.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace phonaxis::test {

struct SentRequest {
    std::uint8_t requestType = 0;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::vector<std::uint8_t> bytes;
};

struct PendingTransfer {
    int pipe = 0;
    std::span<std::uint8_t> buffer; // a write's bytes too (read from it only)
    usb::Completion done;
    std::uint64_t device = 0;
};

class FakeTransport;

class FakeDevice final : public usb::UsbDevice {
public:
    FakeDevice(FakeTransport& transport, usb::DeviceIdentity identity, std::uint64_t key)
        : m_transport(transport), m_identity(identity), m_key(key)
    {
    }

    usb::DeviceIdentity identity() const override { return m_identity; }
    std::uint64_t key() const override { return m_key; }
    usb::Status open() override;
    void close() override { opened = false; }
    int configurationCount() override { return 1; }
    usb::Status configurationValue(int, std::uint8_t& value) override
    {
        value = 1;
        return present ? usb::kSuccess : usb::kNoDevice;
    }
    usb::Status setConfiguration(std::uint8_t value) override
    {
        configured = value;
        return present ? usb::kSuccess : usb::kNoDevice;
    }
    usb::Status control(const usb::ControlRequest& request, std::size_t& transferred) override;
    usb::Status openFirstInterface(std::unique_ptr<usb::UsbInterface>& out) override;

    // What the test sets.
    std::uint8_t configurationAnswer = 9;
    std::size_t shortAnswerBy = 0;                   // the next control moves this many bytes fewer
    std::map<std::uint8_t, usb::Status> failRequest; // bRequest → status (every time)
    int failLoadAt = -1;                             // the n-th 0xA0 write (from 0) fails
    usb::Status failOpen = usb::kSuccess;
    // Runs before each 0xA0 write with its number (0 the reset write), on
    // the thread that writes: a test holds a download there.
    std::function<void(int)> beforeLoad;

    // What the test reads.
    std::vector<SentRequest> sent;
    bool opened = false;
    int configured = 0;
    bool present = true;
    int loadWrites = 0;

private:
    FakeTransport& m_transport;
    usb::DeviceIdentity m_identity;
    std::uint64_t m_key;
};

class FakeTransport final : public usb::UsbTransport {
public:
    usb::Status watch(std::uint16_t vendor, Arrival arrived, Removal removed, std::string&) override
    {
        ++watchCalls;
        m_vendor = vendor;
        m_arrived = std::move(arrived);
        m_removed = std::move(removed);
        for (auto& device : m_attached)
            m_events.push_back([this, device] { m_arrived(device); });
        return usb::kSuccess;
    }
    std::vector<PollFd> pollFds() override { return {}; }
    void onPollFdsChanged(std::function<void()>) override {}
    std::optional<std::chrono::milliseconds> nextTimeout() override { return std::nullopt; }
    void handleEvents() override
    {
        auto events = std::move(m_events);
        m_events.clear();
        for (auto& event : events)
            event();
    }

    std::shared_ptr<FakeDevice> plug(std::uint16_t product)
    {
        auto device = std::make_shared<FakeDevice>(
            *this, usb::DeviceIdentity{0x2E7B, product, 0x0001}, ++m_nextKey);
        m_attached.push_back(device);
        if (m_arrived)
            m_events.push_back([this, device] { m_arrived(device); });
        return device;
    }
    // The device leaves: its transfers fail with kNoDevice, then the removal.
    void unplug(const std::shared_ptr<FakeDevice>& device)
    {
        device->present = false;
        std::erase(m_attached, device);
        failTransfers(device->key(), usb::kNoDevice);
        const auto identity = device->identity();
        const auto key = device->key();
        m_events.push_back([this, identity, key] { m_removed(identity, key); });
    }

    // Completes the oldest transfer on `pipe` with `status`; a successful
    // read is filled with `fill`. Returns false when none is pending.
    bool complete(int pipe, usb::Status status = usb::kSuccess, std::uint8_t fill = 0)
    {
        for (auto it = pending.begin(); it != pending.end(); ++it) {
            if (it->pipe != pipe)
                continue;
            PendingTransfer transfer = std::move(*it);
            pending.erase(it);
            if (status == usb::kSuccess && pipe == 2)
                std::fill(transfer.buffer.begin(), transfer.buffer.end(), fill);
            transfer.done(status, status == usb::kSuccess ? transfer.buffer.size() : 0);
            return true;
        }
        return false;
    }
    std::size_t inFlight(int pipe) const
    {
        return static_cast<std::size_t>(std::count_if(
            pending.begin(), pending.end(), [pipe](const auto& t) { return t.pipe == pipe; }));
    }
    // Every transfer of this device comes back with `status` at the next
    // `handleEvents`.
    void failTransfers(std::uint64_t device, usb::Status status)
    {
        for (auto it = pending.begin(); it != pending.end();) {
            if (it->device == device) {
                auto done = std::move(it->done);
                m_events.push_back([done, status] { done(status, 0); });
                it = pending.erase(it);
            } else {
                ++it;
            }
        }
    }

    std::deque<PendingTransfer> pending;
    std::size_t maxReadsInFlight = 0;
    int watchCalls = 0;
    usb::Status failNextRead = usb::kSuccess; // the next readPipeAsync fails to queue

private:
    std::uint16_t m_vendor = 0;
    Arrival m_arrived;
    Removal m_removed;
    std::vector<std::shared_ptr<FakeDevice>> m_attached;
    std::vector<std::function<void()>> m_events;
    std::uint64_t m_nextKey = 0;
};

class FakeInterface final : public usb::UsbInterface {
public:
    FakeInterface(FakeTransport& transport, FakeDevice& device)
        : m_transport(transport), m_device(device)
    {
    }
    ~FakeInterface() override { abortPipes(); }
    std::uint8_t interfaceClass() const override { return 0xFF; }
    std::uint8_t interfaceSubClass() const override { return 0; }
    usb::Status endpointCount(int& count) override
    {
        count = 2;
        return usb::kSuccess;
    }
    usb::Status pipeProperties(int pipeRef, usb::PipeProperties& properties) override
    {
        properties = {static_cast<std::uint8_t>(pipeRef == 1 ? 0 : 1),
                      static_cast<std::uint8_t>(pipeRef == 1 ? 2 : 6), 2, 512};
        return usb::kSuccess;
    }
    usb::Status control(const usb::ControlRequest& request, std::size_t& transferred) override
    {
        return m_device.control(request, transferred);
    }
    usb::Status readPipeAsync(int pipeRef, std::span<std::uint8_t> buffer,
                              usb::Completion done) override
    {
        if (!m_device.present)
            return usb::kNoDevice;
        if (m_transport.failNextRead != usb::kSuccess)
            return std::exchange(m_transport.failNextRead, usb::kSuccess);
        m_transport.pending.push_back({pipeRef, buffer, std::move(done), m_device.key()});
        m_transport.maxReadsInFlight =
            std::max(m_transport.maxReadsInFlight, m_transport.inFlight(2));
        return usb::kSuccess;
    }
    usb::Status writePipeAsync(int pipeRef, std::span<const std::uint8_t> buffer,
                               usb::Completion done) override
    {
        if (!m_device.present)
            return usb::kNoDevice;
        // The fake only reads a write's bytes.
        std::span<std::uint8_t> bytes(const_cast<std::uint8_t*>(buffer.data()), buffer.size());
        m_transport.pending.push_back({pipeRef, bytes, std::move(done), m_device.key()});
        return usb::kSuccess;
    }
    void abortPipes() override { m_transport.failTransfers(m_device.key(), usb::kAborted); }

private:
    FakeTransport& m_transport;
    FakeDevice& m_device;
};

inline usb::Status FakeDevice::open()
{
    if (!present)
        return usb::kNoDevice;
    if (failOpen != usb::kSuccess)
        return failOpen;
    opened = true;
    return usb::kSuccess;
}

inline usb::Status FakeDevice::control(const usb::ControlRequest& request, std::size_t& transferred)
{
    transferred = 0;
    if (!present)
        return usb::kNoDevice;
    if (request.request == 0xA0 && beforeLoad)
        beforeLoad(loadWrites);
    sent.push_back({request.requestType, request.request, request.value,
                    std::vector<std::uint8_t>(request.data.begin(), request.data.end())});
    if (request.request == 0xA0 && loadWrites++ == failLoadAt)
        return usb::kStall;
    if (auto it = failRequest.find(request.request); it != failRequest.end())
        return it->second;
    if (request.request == 0xB7 && !request.data.empty())
        request.data[0] = configurationAnswer;
    transferred = request.data.size() -
                  std::min(request.data.size(), std::exchange(shortAnswerBy, std::size_t{0}));
    return usb::kSuccess;
}

inline usb::Status FakeDevice::openFirstInterface(std::unique_ptr<usb::UsbInterface>& out)
{
    if (!present)
        return usb::kNoDevice;
    out = std::make_unique<FakeInterface>(m_transport, *this);
    return usb::kSuccess;
}

// Everything that leaves the protocol, in order, as text.
struct Recorder final : HardwareAnnouncer, RecordReceiver, PlayReceiver {
    std::vector<std::string> console;
    std::vector<std::string> events;
    std::vector<double> elapsedNs;
    std::function<void()> onBlock; // runs at each animateRecordData
    bool yields = false;           // as a live view: a playback may pause the stream

    ConsoleSink sink()
    {
        return [this](const std::string& text) { console.push_back(text); };
    }
    void beep() override { events.push_back("beep"); }
    void alert(const std::string& title, const std::string& message,
               const std::string& button) override
    {
        events.push_back("alert " + title + "|" + message + "|" + button);
    }
    void animateRecordData() override
    {
        events.push_back("animateRecordData");
        if (onBlock)
            onBlock();
    }
    void refreshDisplay() override { events.push_back("refreshDisplay"); }
    void stopClose() override { events.push_back("stopClose"); }
    bool yieldsToPlayback() const override { return yields; }
    void animateHardwarePlay(double elapsed) override
    {
        events.push_back("animateHardwarePlay");
        elapsedNs.push_back(elapsed);
    }
    void stopHardwarePlay() override { events.push_back("stopHardwarePlay"); }

    int count(const std::string& event) const
    {
        return static_cast<int>(std::count(events.begin(), events.end(), event));
    }
    bool printed(const std::string& text) const
    {
        return std::find(console.begin(), console.end(), text) != console.end();
    }
};

} // namespace phonaxis::test
