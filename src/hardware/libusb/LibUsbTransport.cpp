#include "hardware/libusb/LibUsbTransport.h"

#include "hardware/libusb/LibUsbApi.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <deque>
#include <utility>

namespace phonaxis::usb {

Status statusFromLibUsbError(int error)
{
    if (error >= 0) {
        return kSuccess;
    }
    switch (error) {
    case LIBUSB_ERROR_INVALID_PARAM: return kBadArgument;
    case LIBUSB_ERROR_ACCESS: return kNotPermitted;
    case LIBUSB_ERROR_NO_DEVICE: return kNoDevice;
    case LIBUSB_ERROR_NOT_FOUND: return kNotFound;
    case LIBUSB_ERROR_BUSY: return kBusy;
    case LIBUSB_ERROR_TIMEOUT: return kTimeout;
    case LIBUSB_ERROR_OVERFLOW: return kOverrun;
    case LIBUSB_ERROR_PIPE: return kStall;
    case LIBUSB_ERROR_INTERRUPTED: return kAborted;
    case LIBUSB_ERROR_NO_MEM: return kNoMemory;
    default: return kError;  // I/O, not supported, other, and codes of later versions
    }
}

Status statusFromTransferStatus(int transferStatus, bool deviceGone)
{
    switch (transferStatus) {
    case LIBUSB_TRANSFER_COMPLETED: return kSuccess;
    case LIBUSB_TRANSFER_TIMED_OUT: return statusFromLibUsbError(LIBUSB_ERROR_TIMEOUT);
    case LIBUSB_TRANSFER_STALL: return statusFromLibUsbError(LIBUSB_ERROR_PIPE);
    case LIBUSB_TRANSFER_NO_DEVICE: return statusFromLibUsbError(LIBUSB_ERROR_NO_DEVICE);
    case LIBUSB_TRANSFER_OVERFLOW: return statusFromLibUsbError(LIBUSB_ERROR_OVERFLOW);
    case LIBUSB_TRANSFER_CANCELLED: return deviceGone ? kNoDevice : kAborted;
    default: return deviceGone ? kNoDevice : kError;
    }
}

void diffBusLocations(const std::vector<BusLocation>& previous,
                      const std::vector<BusLocation>& current, std::vector<std::size_t>& removed,
                      std::vector<std::size_t>& arrived)
{
    removed.clear();
    arrived.clear();
    for (std::size_t i = 0; i < previous.size(); ++i) {
        if (std::find(current.begin(), current.end(), previous[i]) == current.end()) {
            removed.push_back(i);
        }
    }
    for (std::size_t i = 0; i < current.size(); ++i) {
        if (std::find(previous.begin(), previous.end(), current[i]) == previous.end()) {
            arrived.push_back(i);
        }
    }
}

namespace {

struct DeviceState;

// A bulk transfer in flight. The session owns it until its completion has
// been delivered; it keeps its device's state (and so the open handle)
// alive until then.
struct TransferRecord {
    libusb_transfer* transfer = nullptr;
    Completion done;
    std::shared_ptr<DeviceState> device;
    bool finished = false;  // libusb has called back
};

BusLocation locationOf(const LibUsbApi& lib, libusb_device* device)
{
    BusLocation location;
    location.bus = lib.get_bus_number(device);
    location.address = lib.get_device_address(device);
    std::array<std::uint8_t, 8> ports{};
    const int count = lib.get_port_numbers(device, ports.data(), int(ports.size()));
    if (count > 0) {
        location.ports.assign(ports.begin(), ports.begin() + count);
    }
    return location;
}

DeviceIdentity identityOf(const LibUsbApi& lib, libusb_device* device)
{
    libusb_device_descriptor descriptor{};
    if (lib.get_device_descriptor(device, &descriptor) < 0) {
        return {};
    }
    return {descriptor.idVendor, descriptor.idProduct, descriptor.bcdDevice};
}

} // namespace

struct LibUsbTransport::Session {
    LibUsbApi lib;
    libusb_context* context = nullptr;
    std::string initError;
    std::string lastError;
    ConsoleSink console;
    std::function<void()> pollFdsChanged;

    bool watching = false;
    std::uint16_t vendor = 0;
    Arrival arrived;
    Removal removed;
    bool hotplugRegistered = false;
    libusb_hotplug_callback_handle hotplug = 0;
    bool polling = false;
    std::chrono::steady_clock::time_point nextPoll;
    std::uint64_t nextKey = 1;

    // The devices of the watched vendor now attached, each with a reference
    // on its libusb device (so that its pointer identifies it until removal).
    struct Attached {
        libusb_device* device = nullptr;
        BusLocation location;
        DeviceIdentity identity;
        std::uint64_t key = 0;
        std::weak_ptr<DeviceState> state;
    };
    std::vector<Attached> attached;

    // What `handleEvents` delivers, in the order libusb reported it.
    struct Event {
        enum class Kind { Arrival, Removal, Completion } kind = Kind::Arrival;
        std::shared_ptr<DeviceState> device;  // arrival; removal (when still held)
        libusb_device* released = nullptr;    // arrival: borrowed; removal: the reference to drop
        DeviceIdentity identity;              // removal
        std::uint64_t key = 0;                // removal
        TransferRecord* record = nullptr;     // completion
        int transferStatus = 0;
        int transferred = 0;
    };
    std::deque<Event> events;
    std::vector<std::unique_ptr<TransferRecord>> inflight;

    // Readable while notices wait: libusb's callbacks also run inside the
    // caller's synchronous control requests, outside any pass of the main
    // loop, and libusb's own descriptors have been drained by then.
    int wakeFd = -1;

    ~Session()
    {
        if (context != nullptr) {
            lib.exit(context);
        }
        if (wakeFd >= 0) {
            ::close(wakeFd);
        }
    }

    void queue(Event event)
    {
        events.push_back(std::move(event));
        if (wakeFd >= 0) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof one);
        }
    }
    void clearWake() const
    {
        std::uint64_t count = 0;
        if (wakeFd >= 0) {
            [[maybe_unused]] const ssize_t read = ::read(wakeFd, &count, sizeof count);
        }
    }

    void report(std::string sentence)
    {
        lastError = std::move(sentence);
        if (console) {
            console(lastError);
        }
    }

    void deviceArrived(libusb_device* device, BusLocation location);
    void deviceLeft(std::size_t attachedIndex);
    void cancelTransfers(const DeviceState* device);
    void deliver(Event& event);
};

namespace {

struct DeviceState {
    std::shared_ptr<LibUsbTransport::Session> session;
    const LibUsbApi& lib;
    libusb_device* device = nullptr;  // one reference, dropped on destruction
    DeviceIdentity identity;
    std::uint64_t key = 0;
    bool gone = false;

    libusb_device_handle* handle = nullptr;
    bool claimed = false;
    bool releaseRequested = false;
    bool closeRequested = false;
    std::size_t inflight = 0;
    // A removal waiting for the device's last transfers to complete; holds
    // the attachment's reference on the libusb device until it is announced.
    libusb_device* removalPending = nullptr;

    DeviceState(std::shared_ptr<LibUsbTransport::Session> owner, libusb_device* usbDevice,
                std::uint64_t attachmentKey)
        : session(std::move(owner)), lib(session->lib), device(lib.ref_device(usbDevice)),
          identity(identityOf(session->lib, usbDevice)), key(attachmentKey)
    {
    }
    ~DeviceState()
    {
        // No transfer is in flight here: each one keeps its device alive.
        if (handle != nullptr) {
            if (claimed) {
                lib.release_interface(handle, 0);
            }
            lib.close(handle);
        }
        if (removalPending != nullptr) {
            lib.unref_device(removalPending);
        }
        lib.unref_device(device);
    }
    DeviceState(const DeviceState&) = delete;
    DeviceState& operator=(const DeviceState&) = delete;

    // Releases the interface and closes the handle once asked to and once
    // no transfer is left in flight (libusb must not close a handle with
    // transfers pending).
    void settle()
    {
        if (handle == nullptr || inflight != 0) {
            return;
        }
        if ((releaseRequested || closeRequested) && claimed) {
            lib.release_interface(handle, 0);
            claimed = false;
        }
        releaseRequested = false;
        if (closeRequested) {
            lib.close(handle);
            handle = nullptr;
            closeRequested = false;
        }
    }

    Status control(const ControlRequest& request, std::size_t& transferred)
    {
        transferred = 0;
        if (gone) {
            return kNoDevice;
        }
        if (handle == nullptr || closeRequested) {
            return kError;
        }
        if (request.data.size() > 0xFFFF) {
            return kBadArgument;
        }
        const int result = lib.control_transfer(
            handle, request.requestType, request.request, request.value, request.index,
            request.data.data(), std::uint16_t(request.data.size()),
            LibUsbTransport::kControlTimeoutMs);
        if (result < 0) {
            return statusFromLibUsbError(result);
        }
        transferred = std::size_t(result);
        return kSuccess;
    }
};

void LIBUSB_CALL transferFinished(libusb_transfer* transfer)
{
    auto* record = static_cast<TransferRecord*>(transfer->user_data);
    record->finished = true;
    LibUsbTransport::Session::Event event;
    event.kind = LibUsbTransport::Session::Event::Kind::Completion;
    event.record = record;
    event.transferStatus = transfer->status;
    event.transferred = transfer->actual_length;
    record->device->session->queue(std::move(event));
}

int LIBUSB_CALL hotplugEvent(libusb_context*, libusb_device* device, libusb_hotplug_event event,
                             void* userData)
{
    auto* session = static_cast<LibUsbTransport::Session*>(userData);
    if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED) {
        session->deviceArrived(device, locationOf(session->lib, device));
    } else {
        for (std::size_t i = 0; i < session->attached.size(); ++i) {
            if (session->attached[i].device == device) {
                session->deviceLeft(i);
                break;
            }
        }
    }
    return 0;  // stay armed
}

void LIBUSB_CALL pollFdAdded(int, short, void* userData)
{
    auto* session = static_cast<LibUsbTransport::Session*>(userData);
    if (session->pollFdsChanged) {
        session->pollFdsChanged();
    }
}

void LIBUSB_CALL pollFdRemoved(int, void* userData)
{
    pollFdAdded(-1, 0, userData);
}

// The open first interface of a device.
class LibUsbInterface final : public UsbInterface {
public:
    struct Endpoint {
        std::uint8_t address = 0;
        std::uint8_t attributes = 0;
        std::uint16_t maxPacketSize = 0;
    };

    LibUsbInterface(std::shared_ptr<DeviceState> state, std::uint8_t interfaceClass,
                    std::uint8_t interfaceSubClass, std::vector<Endpoint> endpoints,
                    std::uint16_t controlPacketSize)
        : m_state(std::move(state)), m_class(interfaceClass), m_subClass(interfaceSubClass),
          m_endpoints(std::move(endpoints)), m_controlPacketSize(controlPacketSize)
    {
    }
    ~LibUsbInterface() override
    {
        m_state->session->cancelTransfers(m_state.get());
        m_state->releaseRequested = true;
        m_state->settle();
    }
    LibUsbInterface(const LibUsbInterface&) = delete;
    LibUsbInterface& operator=(const LibUsbInterface&) = delete;

    std::uint8_t interfaceClass() const override { return m_class; }
    std::uint8_t interfaceSubClass() const override { return m_subClass; }

    Status endpointCount(int& count) override
    {
        count = 0;
        if (m_state->gone) {
            return kNoDevice;
        }
        count = int(m_endpoints.size());
        return kSuccess;
    }

    Status pipeProperties(int pipeRef, PipeProperties& properties) override
    {
        if (m_state->gone) {
            return kNoDevice;
        }
        if (pipeRef == 0) {
            properties = {3, 0, 0, m_controlPacketSize};
            return kSuccess;
        }
        if (pipeRef < 0 || std::size_t(pipeRef) > m_endpoints.size()) {
            return kBadArgument;
        }
        const Endpoint& endpoint = m_endpoints[std::size_t(pipeRef) - 1];
        properties.direction = (endpoint.address & 0x80) != 0 ? 1 : 0;
        properties.number = endpoint.address & 0x0F;
        properties.transferType = endpoint.attributes & 0x03;
        properties.maxPacketSize = endpoint.maxPacketSize & 0x07FF;
        return kSuccess;
    }

    Status control(const ControlRequest& request, std::size_t& transferred) override
    {
        return m_state->control(request, transferred);
    }

    Status readPipeAsync(int pipeRef, std::span<std::uint8_t> buffer, Completion done) override
    {
        return submit(pipeRef, buffer.data(), buffer.size(), std::move(done), true);
    }

    Status writePipeAsync(int pipeRef, std::span<const std::uint8_t> buffer,
                          Completion done) override
    {
        // libusb takes a mutable pointer for both directions; it only reads
        // the buffer of an OUT transfer.
        return submit(pipeRef, const_cast<std::uint8_t*>(buffer.data()), buffer.size(),
                      std::move(done), false);
    }

    void abortPipes() override { m_state->session->cancelTransfers(m_state.get()); }

private:
    Status submit(int pipeRef, std::uint8_t* data, std::size_t size, Completion done, bool in)
    {
        DeviceState& state = *m_state;
        const LibUsbApi& lib = state.lib;
        if (state.gone) {
            return kNoDevice;
        }
        if (state.handle == nullptr || !state.claimed || state.closeRequested) {
            return kError;
        }
        if (pipeRef < 1 || std::size_t(pipeRef) > m_endpoints.size() || size > INT_MAX) {
            return kBadArgument;
        }
        const Endpoint& endpoint = m_endpoints[std::size_t(pipeRef) - 1];
        const int type = endpoint.attributes & 0x03;
        if (((endpoint.address & 0x80) != 0) != in
            || (type != LIBUSB_TRANSFER_TYPE_BULK && type != LIBUSB_TRANSFER_TYPE_INTERRUPT)) {
            return kBadArgument;
        }
        libusb_transfer* transfer = lib.alloc_transfer(0);
        if (transfer == nullptr) {
            return kNoMemory;
        }
        auto record = std::make_unique<TransferRecord>();
        record->transfer = transfer;
        record->done = std::move(done);
        record->device = m_state;
        if (type == LIBUSB_TRANSFER_TYPE_BULK) {
            libusb_fill_bulk_transfer(transfer, state.handle, endpoint.address, data, int(size),
                                      transferFinished, record.get(), 0);
        } else {
            libusb_fill_interrupt_transfer(transfer, state.handle, endpoint.address, data,
                                           int(size), transferFinished, record.get(), 0);
        }
        const int result = lib.submit_transfer(transfer);
        if (result < 0) {
            lib.free_transfer(transfer);
            return statusFromLibUsbError(result);
        }
        ++state.inflight;
        state.session->inflight.push_back(std::move(record));
        return kSuccess;
    }

    std::shared_ptr<DeviceState> m_state;
    std::uint8_t m_class = 0;
    std::uint8_t m_subClass = 0;
    std::vector<Endpoint> m_endpoints;
    std::uint16_t m_controlPacketSize = 0;
};

class LibUsbDevice final : public UsbDevice {
public:
    explicit LibUsbDevice(std::shared_ptr<DeviceState> state) : m_state(std::move(state)) {}

    DeviceIdentity identity() const override { return m_state->identity; }
    std::uint64_t key() const override { return m_state->key; }

    Status open() override
    {
        DeviceState& state = *m_state;
        const LibUsbApi& lib = state.lib;
        if (state.gone) {
            return kNoDevice;
        }
        if (state.handle != nullptr) {
            state.closeRequested = false;
            return kSuccess;
        }
        const int result = lib.open(state.device, &state.handle);
        if (result < 0) {
            state.handle = nullptr;
            if (result == LIBUSB_ERROR_ACCESS) {
                const BusLocation where = locationOf(lib, state.device);
                char sentence[400];
                std::snprintf(sentence, sizeof sentence,
                              "No permission to open the USB device %04x:%04x (bus %u, address "
                              "%u). Install the udev rule data/udev/70-phonaxis-boxes.rules in "
                              "/etc/udev/rules.d/, reload udev and plug the box in again.\n",
                              unsigned(state.identity.vendor), unsigned(state.identity.product),
                              unsigned(where.bus), unsigned(where.address));
                state.session->report(sentence);
            }
            return statusFromLibUsbError(result);
        }
        return kSuccess;
    }

    void close() override
    {
        DeviceState& state = *m_state;
        if (state.handle == nullptr) {
            return;
        }
        state.closeRequested = true;
        state.session->cancelTransfers(&state);
        state.settle();
    }

    int configurationCount() override
    {
        const LibUsbApi& lib = m_state->lib;
        if (m_state->gone) {
            return 0;
        }
        libusb_device_descriptor descriptor{};
        if (lib.get_device_descriptor(m_state->device, &descriptor) < 0) {
            return 0;
        }
        return descriptor.bNumConfigurations;
    }

    Status configurationValue(int index, std::uint8_t& value) override
    {
        const LibUsbApi& lib = m_state->lib;
        if (m_state->gone) {
            return kNoDevice;
        }
        if (index < 0 || index > 0xFF) {
            return kBadArgument;
        }
        libusb_config_descriptor* config = nullptr;
        const int result = lib.get_config_descriptor(m_state->device, std::uint8_t(index), &config);
        if (result < 0) {
            return statusFromLibUsbError(result);
        }
        value = config->bConfigurationValue;
        lib.free_config_descriptor(config);
        return kSuccess;
    }

    Status setConfiguration(std::uint8_t value) override
    {
        const LibUsbApi& lib = m_state->lib;
        if (m_state->gone) {
            return kNoDevice;
        }
        if (m_state->handle == nullptr || m_state->closeRequested) {
            return kError;
        }
        return statusFromLibUsbError(lib.set_configuration(m_state->handle, value));
    }

    Status control(const ControlRequest& request, std::size_t& transferred) override
    {
        return m_state->control(request, transferred);
    }

    Status openFirstInterface(std::unique_ptr<UsbInterface>& out) override
    {
        DeviceState& state = *m_state;
        const LibUsbApi& lib = state.lib;
        if (state.gone) {
            return kNoDevice;
        }
        if (state.handle == nullptr || state.closeRequested) {
            return kError;
        }
        if (state.claimed) {
            return kBusy;
        }
        libusb_config_descriptor* config = nullptr;
        int result = lib.get_active_config_descriptor(state.device, &config);
        if (result < 0) {
            return statusFromLibUsbError(result);
        }
        if (config->bNumInterfaces < 1 || config->interface[0].num_altsetting < 1) {
            lib.free_config_descriptor(config);
            return kNotFound;
        }
        const libusb_interface_descriptor& first = config->interface[0].altsetting[0];
        std::vector<LibUsbInterface::Endpoint> endpoints;
        for (int i = 0; i < first.bNumEndpoints; ++i) {
            const libusb_endpoint_descriptor& e = first.endpoint[i];
            endpoints.push_back({e.bEndpointAddress, e.bmAttributes, e.wMaxPacketSize});
        }
        const std::uint8_t interfaceClass = first.bInterfaceClass;
        const std::uint8_t interfaceSubClass = first.bInterfaceSubClass;
        lib.free_config_descriptor(config);

        if (lib.kernel_driver_active(state.handle, 0) == 1) {
            result = lib.detach_kernel_driver(state.handle, 0);
            if (result < 0) {
                return statusFromLibUsbError(result);
            }
        }
        result = lib.claim_interface(state.handle, 0);
        if (result < 0) {
            return statusFromLibUsbError(result);
        }
        state.claimed = true;
        libusb_device_descriptor descriptor{};
        lib.get_device_descriptor(state.device, &descriptor);
        out = std::make_unique<LibUsbInterface>(m_state, interfaceClass, interfaceSubClass,
                                                std::move(endpoints), descriptor.bMaxPacketSize0);
        return kSuccess;
    }

private:
    std::shared_ptr<DeviceState> m_state;
};

} // namespace

// --- the session: bookkeeping shared by the transport and its devices -----------

void LibUsbTransport::Session::deviceArrived(libusb_device* device, BusLocation location)
{
    // Called from libusb's hot-plug callback or from the bus listing: only
    // bookkeeping here. The device's state is made, and the arrival reaches
    // the handler, in handleEvents; until then the entry's reference keeps
    // the device. libusb may report a device twice when it is plugged in
    // while the watch is being armed; it arrives once.
    if (std::any_of(attached.begin(), attached.end(),
                    [&](const Attached& a) { return a.device == device; })) {
        return;
    }
    Attached entry;
    entry.device = lib.ref_device(device);
    entry.location = std::move(location);
    entry.identity = identityOf(lib, device);
    entry.key = nextKey++;
    Event event;
    event.kind = Event::Kind::Arrival;
    event.key = entry.key;
    event.released = device;
    event.identity = entry.identity;
    attached.push_back(std::move(entry));
    queue(std::move(event));
}

void LibUsbTransport::Session::deviceLeft(std::size_t attachedIndex)
{
    Attached entry = std::move(attached[attachedIndex]);
    attached.erase(attached.begin() + std::ptrdiff_t(attachedIndex));
    Event event;
    event.kind = Event::Kind::Removal;
    event.device = entry.state.lock();
    if (event.device) {
        event.device->gone = true;
    }
    event.released = entry.device;
    event.identity = entry.identity;
    event.key = entry.key;
    queue(std::move(event));
}

void LibUsbTransport::Session::cancelTransfers(const DeviceState* device)
{
    for (const auto& record : inflight) {
        if (record->device.get() == device && !record->finished) {
            lib.cancel_transfer(record->transfer);  // not found: it is finishing anyway
        }
    }
}

void LibUsbTransport::Session::deliver(Event& event)
{
    switch (event.kind) {
    case Event::Kind::Arrival:
        if (arrived && event.device) {
            arrived(std::make_shared<LibUsbDevice>(event.device));
        }
        break;
    case Event::Kind::Removal:
        // As on the bus, a device's transfers fail before its removal is
        // announced: transfers still in flight are cancelled (they complete
        // with kNoDevice) and the notice follows the last completion.
        if (event.device && event.device->inflight > 0) {
            cancelTransfers(event.device.get());
            event.device->removalPending = event.released;
            break;
        }
        lib.unref_device(event.released);
        if (removed) {
            removed(event.identity, event.key);
        }
        break;
    case Event::Kind::Completion: {
        const auto found = std::find_if(inflight.begin(), inflight.end(),
                                        [&](const auto& r) { return r.get() == event.record; });
        if (found == inflight.end()) {
            break;
        }
        std::unique_ptr<TransferRecord> record = std::move(*found);
        inflight.erase(found);
        std::shared_ptr<DeviceState> device = std::move(record->device);
        --device->inflight;
        const Status status = statusFromTransferStatus(event.transferStatus, device->gone);
        lib.free_transfer(record->transfer);
        Completion done = std::move(record->done);
        record.reset();
        if (done) {
            done(status, event.transferred > 0 ? std::size_t(event.transferred) : 0);
        }
        device->settle();
        if (device->inflight == 0 && device->removalPending != nullptr) {
            lib.unref_device(std::exchange(device->removalPending, nullptr));
            if (removed) {
                removed(device->identity, device->key);
            }
        }
        break;
    }
    }
}

// --- the transport -------------------------------------------------------------

LibUsbTransport::LibUsbTransport(bool forcePolling) : LibUsbTransport(LibUsbApi{}, forcePolling) {}

LibUsbTransport::LibUsbTransport(const LibUsbApi& api, bool forcePolling)
    : m_session(std::make_shared<Session>()), m_forcePolling(forcePolling)
{
    Session& session = *m_session;
    session.lib = api;
    const LibUsbApi& lib = session.lib;
    const int result = lib.init(&session.context);
    if (result < 0) {
        session.context = nullptr;
        session.initError = std::string("No USB service on this machine (")
                            + libusb_strerror(result)
                            + "): acquisition boxes cannot be found.\n";
        return;
    }
    lib.set_pollfd_notifiers(session.context, pollFdAdded, pollFdRemoved, &session);
    session.wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

LibUsbTransport::~LibUsbTransport()
{
    Session& session = *m_session;
    const LibUsbApi& lib = session.lib;
    session.arrived = nullptr;
    session.removed = nullptr;
    session.console = nullptr;
    session.pollFdsChanged = nullptr;
    session.watching = false;
    if (session.context == nullptr) {
        return;
    }
    lib.set_pollfd_notifiers(session.context, nullptr, nullptr, nullptr);
    if (session.hotplugRegistered) {
        lib.hotplug_deregister_callback(session.context, session.hotplug);
        session.hotplugRegistered = false;
    }
    // Transfers still in flight are cancelled and given a moment to finish;
    // nobody is left to receive their completions. One that never finishes
    // (a wedged controller) is left allocated rather than freed under liblib.
    for (const auto& record : session.inflight) {
        if (!record->finished) {
            lib.cancel_transfer(record->transfer);
        }
    }
    for (int round = 0; round < 100; ++round) {
        const bool pending = std::any_of(session.inflight.begin(), session.inflight.end(),
                                         [](const auto& r) { return !r->finished; });
        if (!pending) {
            break;
        }
        timeval wait{0, 10000};
        lib.handle_events_timeout_completed(session.context, &wait, nullptr);
    }
    for (auto& event : session.events) {
        if (event.kind == Session::Event::Kind::Removal) {
            lib.unref_device(event.released);
        }
    }
    session.events.clear();
    for (auto& record : session.inflight) {
        if (record->finished) {
            --record->device->inflight;
            lib.free_transfer(record->transfer);
        } else {
            (void)record.release();
        }
    }
    session.inflight.clear();
    for (const auto& entry : session.attached) {
        lib.unref_device(entry.device);
    }
    session.attached.clear();
}

void LibUsbTransport::setConsole(ConsoleSink console)
{
    m_session->console = std::move(console);
}

const std::string& LibUsbTransport::lastError() const
{
    return m_session->lastError;
}

bool LibUsbTransport::available() const
{
    return m_session->context != nullptr;
}

void LibUsbTransport::setPollPeriod(std::chrono::milliseconds period)
{
    m_pollPeriod = period;
}

bool LibUsbTransport::polling() const
{
    return m_session->polling;
}

Status LibUsbTransport::watch(std::uint16_t vendor, Arrival arrived, Removal removed,
                              std::string& error)
{
    Session& session = *m_session;
    const LibUsbApi& lib = session.lib;
    if (session.context == nullptr) {
        error = session.initError;
        session.report(error);
        return kNoDevice;
    }
    if (session.watching) {
        error = "USB devices are already being watched.\n";
        return kBusy;
    }
    session.vendor = vendor;
    session.arrived = std::move(arrived);
    session.removed = std::move(removed);
    session.watching = true;
    if (!m_forcePolling && lib.has_capability(LIBUSB_CAP_HAS_HOTPLUG) != 0) {
        // LIBUSB_HOTPLUG_ENUMERATE reports the devices already attached from
        // inside the registration; they are queued like any arrival.
        const int result = lib.hotplug_register_callback(
            session.context,
            LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT,
            LIBUSB_HOTPLUG_ENUMERATE, vendor, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
            hotplugEvent, &session, &session.hotplug);
        if (result == LIBUSB_SUCCESS) {
            session.hotplugRegistered = true;
            return kSuccess;
        }
    }
    libusb_device** list = nullptr;
    const ssize_t count = lib.get_device_list(session.context, &list);
    if (count < 0) {
        session.watching = false;
        session.arrived = nullptr;
        session.removed = nullptr;
        error = std::string("Cannot list the USB devices (")
                + libusb_strerror(int(count)) + "): acquisition boxes cannot be found.\n";
        session.report(error);
        return statusFromLibUsbError(int(count));
    }
    lib.free_device_list(list, 1);
    session.polling = true;
    pollBus();
    session.nextPoll = std::chrono::steady_clock::now() + m_pollPeriod;
    return kSuccess;
}

void LibUsbTransport::pollBus()
{
    Session& session = *m_session;
    const LibUsbApi& lib = session.lib;
    libusb_device** list = nullptr;
    const ssize_t count = lib.get_device_list(session.context, &list);
    if (count < 0) {
        return;  // a failed listing says nothing about what is attached: try again later
    }
    std::vector<libusb_device*> devices;
    std::vector<BusLocation> current;
    for (ssize_t i = 0; i < count; ++i) {
        if (identityOf(lib, list[i]).vendor == session.vendor) {
            devices.push_back(list[i]);
            current.push_back(locationOf(lib, list[i]));
        }
    }
    std::vector<BusLocation> previous;
    for (const auto& entry : session.attached) {
        previous.push_back(entry.location);
    }
    std::vector<std::size_t> removed;
    std::vector<std::size_t> arrived;
    diffBusLocations(previous, current, removed, arrived);
    for (auto i = removed.rbegin(); i != removed.rend(); ++i) {
        session.deviceLeft(*i);
    }
    for (const std::size_t i : arrived) {
        session.deviceArrived(devices[i], current[i]);
    }
    lib.free_device_list(list, 1);
}

std::vector<UsbTransport::PollFd> LibUsbTransport::pollFds()
{
    std::vector<PollFd> result;
    const LibUsbApi& lib = m_session->lib;
    if (m_session->context == nullptr) {
        return result;
    }
    if (m_session->wakeFd >= 0) {
        result.push_back({m_session->wakeFd, POLLIN});
    }
    const libusb_pollfd** fds = lib.get_pollfds(m_session->context);
    if (fds == nullptr) {
        return result;
    }
    for (const libusb_pollfd** fd = fds; *fd != nullptr; ++fd) {
        result.push_back({(*fd)->fd, (*fd)->events});
    }
    lib.free_pollfds(fds);
    return result;
}

void LibUsbTransport::onPollFdsChanged(std::function<void()> changed)
{
    m_session->pollFdsChanged = std::move(changed);
}

std::optional<std::chrono::milliseconds> LibUsbTransport::nextTimeout()
{
    using std::chrono::milliseconds;
    Session& session = *m_session;
    const LibUsbApi& lib = session.lib;
    if (!session.events.empty()) {
        return milliseconds(0);
    }
    std::optional<milliseconds> result;
    if (session.context != nullptr) {
        timeval wait{};
        if (lib.get_next_timeout(session.context, &wait) == 1) {
            result = milliseconds(wait.tv_sec * 1000 + (wait.tv_usec + 999) / 1000);
        }
    }
    if (session.polling && session.watching) {
        const auto left = std::chrono::ceil<milliseconds>(session.nextPoll
                                                          - std::chrono::steady_clock::now());
        const milliseconds poll = std::max(left, milliseconds(0));
        result = result ? std::min(*result, poll) : poll;
    }
    return result;
}

void LibUsbTransport::handleEvents()
{
    // Handlers may destroy the transport; the session stays until this pass ends.
    const std::shared_ptr<Session> keep = m_session;
    Session& session = *keep;
    const LibUsbApi& lib = session.lib;
    if (session.context == nullptr) {
        return;
    }
    session.clearWake();
    timeval zero{0, 0};
    lib.handle_events_timeout_completed(session.context, &zero, nullptr);
    if (session.polling && session.watching
        && std::chrono::steady_clock::now() >= session.nextPoll) {
        pollBus();
        session.nextPoll = std::chrono::steady_clock::now() + m_pollPeriod;
    }
    // Only what was due when this pass began: what handlers cause (a control
    // request lets libusb run its events) waits for the next pass, which
    // nextTimeout makes immediate.
    for (std::size_t due = session.events.size(); due > 0 && !session.events.empty(); --due) {
        Session::Event event = std::move(session.events.front());
        session.events.pop_front();
        if (event.kind == Session::Event::Kind::Arrival) {
            // The device's state shares the session through the transport's
            // pointer; made here, outside libusb's callback.
            const auto entry = std::find_if(session.attached.begin(), session.attached.end(),
                                            [&](const auto& a) { return a.key == event.key; });
            auto state = std::make_shared<DeviceState>(keep, event.released, event.key);
            if (entry != session.attached.end()) {
                entry->state = state;
            } else {
                state->gone = true;  // removed before its arrival was delivered
            }
            event.device = std::move(state);
        }
        session.deliver(event);
    }
}

} // namespace phonaxis::usb
