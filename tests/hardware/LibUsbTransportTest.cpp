// The libusb transport's own logic that runs without a box: the status
// mapping, the bus-listing comparison of the polling fallback, arming and
// pumping on whatever this machine has (a container may have no USB at all;
// then arming must fail with a sentence, not hang or crash), and, on a
// table of libusb functions that plays a box, the delivery of arrivals,
// removals and completions, and the bookkeeping of transfers.

#include "hardware/libusb/LibUsbTransport.h"

#include "hardware/libusb/LibUsbApi.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <thread>
#include <string>
#include <vector>

namespace phonaxis::usb {
namespace {

TEST(LibUsbTransport, LibUsbErrorsMapToTransportStatuses)
{
    const struct {
        int error;
        Status status;
    } cases[] = {
        {LIBUSB_SUCCESS, kSuccess},
        {64, kSuccess},  // a byte count
        {LIBUSB_ERROR_IO, kError},
        {LIBUSB_ERROR_INVALID_PARAM, kBadArgument},
        {LIBUSB_ERROR_ACCESS, kNotPermitted},
        {LIBUSB_ERROR_NO_DEVICE, kNoDevice},
        {LIBUSB_ERROR_NOT_FOUND, kNotFound},
        {LIBUSB_ERROR_BUSY, kBusy},
        {LIBUSB_ERROR_TIMEOUT, kTimeout},
        {LIBUSB_ERROR_OVERFLOW, kOverrun},
        {LIBUSB_ERROR_PIPE, kStall},
        {LIBUSB_ERROR_INTERRUPTED, kAborted},
        {LIBUSB_ERROR_NO_MEM, kNoMemory},
        {LIBUSB_ERROR_NOT_SUPPORTED, kError},
        {LIBUSB_ERROR_OTHER, kError},
        {-1000, kError},  // a code this build does not know
    };
    for (const auto& c : cases) {
        EXPECT_EQ(statusFromLibUsbError(c.error), c.status) << "libusb error " << c.error;
    }
}

TEST(LibUsbTransport, TransferStatusesMapToTransportStatuses)
{
    const struct {
        int transferStatus;
        bool deviceGone;
        Status status;
    } cases[] = {
        {LIBUSB_TRANSFER_COMPLETED, false, kSuccess},
        {LIBUSB_TRANSFER_TIMED_OUT, false, kTimeout},
        {LIBUSB_TRANSFER_STALL, false, kStall},
        {LIBUSB_TRANSFER_OVERFLOW, false, kOverrun},
        {LIBUSB_TRANSFER_NO_DEVICE, false, kNoDevice},
        // Cancelled by abortPipes or close: aborted; by the device's removal: no device.
        {LIBUSB_TRANSFER_CANCELLED, false, kAborted},
        {LIBUSB_TRANSFER_CANCELLED, true, kNoDevice},
        {LIBUSB_TRANSFER_ERROR, false, kError},
        {LIBUSB_TRANSFER_ERROR, true, kNoDevice},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(statusFromTransferStatus(c.transferStatus, c.deviceGone), c.status)
            << "transfer status " << c.transferStatus << " gone " << c.deviceGone;
    }
}

TEST(LibUsbTransport, BusListingsAreComparedByBusPortPathAndAddress)
{
    const BusLocation a{1, {2}, 5};
    const BusLocation b{1, {3, 1}, 7};
    const BusLocation aReplugged{1, {2}, 6};  // same port, new address
    const BusLocation aOtherBus{2, {2}, 5};
    const BusLocation aDeeper{1, {2, 1}, 5};
    const struct {
        const char* what;
        std::vector<BusLocation> previous;
        std::vector<BusLocation> current;
        std::vector<std::size_t> removed;
        std::vector<std::size_t> arrived;
    } cases[] = {
        {"nothing attached", {}, {}, {}, {}},
        {"unchanged", {a, b}, {b, a}, {}, {}},
        {"plugged", {a}, {a, b}, {}, {1}},
        {"unplugged", {a, b}, {b}, {0}, {}},
        {"replugged between listings", {a, b}, {b, aReplugged}, {0}, {1}},
        {"other bus", {a}, {aOtherBus}, {0}, {0}},
        {"behind a hub", {a}, {aDeeper}, {0}, {0}},
        {"all gone", {a, b}, {}, {0, 1}, {}},
    };
    for (const auto& c : cases) {
        std::vector<std::size_t> removed{99};
        std::vector<std::size_t> arrived{99};
        diffBusLocations(c.previous, c.current, removed, arrived);
        EXPECT_EQ(removed, c.removed) << c.what;
        EXPECT_EQ(arrived, c.arrived) << c.what;
    }
}

// Arming on this machine: with USB, it arms (hot-plug or polling) and a few
// passes of the event loop deliver at most the boxes really attached; with
// no USB service, it fails at once with the sentence for the console.
void armAndPump(bool forcePolling)
{
    LibUsbTransport transport(forcePolling);
    std::vector<std::string> console;
    transport.setConsole([&](const std::string& line) { console.push_back(line); });
    int arrivals = 0;
    int removals = 0;
    std::string error;
    const Status status = transport.watch(
        0x2E7B,
        [&](std::shared_ptr<UsbDevice> device) {
            ++arrivals;
            EXPECT_EQ(device->identity().vendor, 0x2E7B);
        },
        [&](const DeviceIdentity&, std::uint64_t) { ++removals; }, error);
    if (!transport.available()) {
        EXPECT_EQ(status, kNoDevice);
        EXPECT_NE(error.find("No USB service on this machine"), std::string::npos) << error;
        EXPECT_EQ(error.back(), '\n');
        ASSERT_EQ(console.size(), 1U);
        EXPECT_EQ(console[0], error);
        EXPECT_EQ(transport.lastError(), error);
        EXPECT_TRUE(transport.pollFds().empty());
        EXPECT_FALSE(transport.nextTimeout().has_value());
        transport.handleEvents();  // harmless
        EXPECT_EQ(arrivals, 0);
        return;
    }
    ASSERT_EQ(status, kSuccess) << error;
    EXPECT_TRUE(error.empty());
    if (forcePolling) {
        EXPECT_TRUE(transport.polling());
    }
    EXPECT_FALSE(transport.pollFds().empty());
    for (const auto& fd : transport.pollFds()) {
        EXPECT_GE(fd.fd, 0);
        EXPECT_NE(fd.events, 0);
    }
    for (int pass = 0; pass < 3; ++pass) {
        transport.handleEvents();
        const auto timeout = transport.nextTimeout();
        if (timeout) {
            EXPECT_GE(timeout->count(), 0);
        }
        if (transport.polling()) {
            // The bus is listed again within the polling period.
            ASSERT_TRUE(timeout.has_value());
            EXPECT_LE(*timeout, LibUsbTransport::kPollPeriod);
        }
    }
    EXPECT_EQ(removals, 0);

    std::string again;
    EXPECT_EQ(transport.watch(0x2E7B, {}, {}, again), kBusy);
    EXPECT_FALSE(again.empty());
}

TEST(LibUsbTransport, ArmsOrSaysWhyOnThisMachine)
{
    armAndPump(false);
}

TEST(LibUsbTransport, ArmsOrSaysWhyWhenPolling)
{
    armAndPump(true);
}

TEST(LibUsbTransport, NotifiesNothingBeforeWatching)
{
    LibUsbTransport transport;
    int changes = 0;
    transport.onPollFdsChanged([&] { ++changes; });
    EXPECT_TRUE(transport.lastError().empty());
    EXPECT_FALSE(transport.polling());
    transport.handleEvents();
    const auto timeout = transport.nextTimeout();
    if (timeout) {
        EXPECT_GE(timeout->count(), 0);
    }
    transport.onPollFdsChanged({});
    EXPECT_EQ(changes, 0);
}


// --- a box played by a table of libusb functions ---------------------------------

struct FakeDevice {
    libusb_device_descriptor descriptor{};
    std::uint8_t bus = 1;
    std::uint8_t address = 5;
    std::uint8_t port = 2;
    int openError = 0;
    bool kernelDriver = false;
    bool unplugged = false;
    libusb_endpoint_descriptor endpoints[2]{};
    libusb_interface_descriptor altsetting{};
    libusb_interface interface{};
    libusb_config_descriptor config{};

    FakeDevice(std::uint16_t product)
    {
        descriptor.idVendor = 0x2E7B;
        descriptor.idProduct = product;
        descriptor.bcdDevice = 0x0001;
        descriptor.bMaxPacketSize0 = 64;
        descriptor.bNumConfigurations = 1;
        endpoints[0].bEndpointAddress = 0x01;  // pipe 1: bulk out
        endpoints[0].bmAttributes = LIBUSB_TRANSFER_TYPE_BULK;
        endpoints[0].wMaxPacketSize = 512;
        endpoints[1].bEndpointAddress = 0x82;  // pipe 2: bulk in
        endpoints[1].bmAttributes = LIBUSB_TRANSFER_TYPE_BULK;
        endpoints[1].wMaxPacketSize = 512;
        altsetting.bInterfaceClass = 0xFF;
        altsetting.bInterfaceSubClass = 0x01;
        altsetting.bNumEndpoints = 2;
        altsetting.endpoint = endpoints;
        interface.altsetting = &altsetting;
        interface.num_altsetting = 1;
        config.bConfigurationValue = 1;
        config.bNumInterfaces = 1;
        config.interface = &interface;
    }
    libusb_device* asLibUsb() { return reinterpret_cast<libusb_device*>(this); }
};

FakeDevice* fakeOf(libusb_device* device)
{
    return reinterpret_cast<FakeDevice*>(device);
}

struct FakeHandle {
    FakeDevice* device = nullptr;
};

struct ControlCall {
    std::uint8_t requestType = 0;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t length = 0;
    unsigned timeoutMs = 0;
};

// The bus, libusb's bookkeeping and its event loop, as the table sees them.
struct FakeBus {
    bool hotplug = true;
    std::vector<FakeDevice*> attached;
    libusb_hotplug_callback_fn hotplugCallback = nullptr;
    void* hotplugData = nullptr;
    int vendorFilter = 0;
    int references = 0;
    int openHandles = 0;
    bool closedWithTransfersInFlight = false;
    bool deliveredOutsideEvents = false;
    int claimed = -1;
    bool detached = false;
    std::vector<ControlCall> controls;
    std::vector<libusb_transfer*> inFlight;
    std::deque<libusb_transfer*> finished;  // called back at the next event pass
    bool handlingEvents = false;

    void arrive(FakeDevice& device)
    {
        attached.push_back(&device);
        if (hotplugCallback != nullptr && device.descriptor.idVendor == vendorFilter) {
            hotplugCallback(nullptr, device.asLibUsb(), LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED,
                            hotplugData);
        }
    }
    void leave(FakeDevice& device)
    {
        device.unplugged = true;
        attached.erase(std::find(attached.begin(), attached.end(), &device));
        for (libusb_transfer* transfer : std::vector(inFlight)) {
            if (reinterpret_cast<FakeHandle*>(transfer->dev_handle)->device == &device) {
                finish(transfer, LIBUSB_TRANSFER_NO_DEVICE, 0);
            }
        }
        if (hotplugCallback != nullptr) {
            hotplugCallback(nullptr, device.asLibUsb(), LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT,
                            hotplugData);
        }
    }
    void finish(libusb_transfer* transfer, libusb_transfer_status status, int length)
    {
        inFlight.erase(std::find(inFlight.begin(), inFlight.end(), transfer));
        transfer->status = status;
        transfer->actual_length = length;
        finished.push_back(transfer);
    }
    bool handleInFlight(const FakeHandle* handle) const
    {
        return std::any_of(inFlight.begin(), inFlight.end(), [&](libusb_transfer* t) {
            return reinterpret_cast<FakeHandle*>(t->dev_handle) == handle;
        }) || std::any_of(finished.begin(), finished.end(), [&](libusb_transfer* t) {
            return reinterpret_cast<FakeHandle*>(t->dev_handle) == handle;
        });
    }
};

FakeBus* bus = nullptr;

LibUsbApi fakeApi()
{
    LibUsbApi api;
    api.init = [](libusb_context** context) {
        *context = reinterpret_cast<libusb_context*>(bus);
        return 0;
    };
    api.exit = [](libusb_context*) {};
    api.has_capability = [](std::uint32_t) { return bus->hotplug ? 1 : 0; };
    api.set_pollfd_notifiers = [](libusb_context*, libusb_pollfd_added_cb, libusb_pollfd_removed_cb,
                                  void*) {};
    api.get_pollfds = [](libusb_context*) -> const libusb_pollfd** { return nullptr; };
    api.free_pollfds = [](const libusb_pollfd**) {};
    api.get_next_timeout = [](libusb_context*, timeval*) { return 0; };
    api.handle_events_timeout_completed = [](libusb_context*, timeval*, int*) {
        bus->handlingEvents = true;
        while (!bus->finished.empty()) {
            libusb_transfer* transfer = bus->finished.front();
            bus->finished.pop_front();
            transfer->callback(transfer);
        }
        bus->handlingEvents = false;
        return 0;
    };
    api.hotplug_register_callback = [](libusb_context*, int, int flags, int vendor, int, int,
                                       libusb_hotplug_callback_fn callback, void* data,
                                       libusb_hotplug_callback_handle* handle) {
        bus->hotplugCallback = callback;
        bus->hotplugData = data;
        bus->vendorFilter = vendor;
        *handle = 1;
        if ((flags & LIBUSB_HOTPLUG_ENUMERATE) != 0) {
            for (FakeDevice* device : bus->attached) {
                callback(nullptr, device->asLibUsb(), LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED, data);
            }
        }
        return 0;
    };
    api.hotplug_deregister_callback = [](libusb_context*, libusb_hotplug_callback_handle) {
        bus->hotplugCallback = nullptr;
    };
    api.get_device_list = [](libusb_context*, libusb_device*** list) -> ssize_t {
        *list = new libusb_device*[bus->attached.size() + 1];
        for (std::size_t i = 0; i < bus->attached.size(); ++i) {
            (*list)[i] = bus->attached[i]->asLibUsb();
        }
        (*list)[bus->attached.size()] = nullptr;
        return ssize_t(bus->attached.size());
    };
    api.free_device_list = [](libusb_device** list, int) { delete[] list; };
    api.ref_device = [](libusb_device* device) {
        ++bus->references;
        return device;
    };
    api.unref_device = [](libusb_device*) { --bus->references; };
    api.get_device_descriptor = [](libusb_device* device, libusb_device_descriptor* out) {
        *out = fakeOf(device)->descriptor;
        return 0;
    };
    api.get_bus_number = [](libusb_device* device) { return fakeOf(device)->bus; };
    api.get_device_address = [](libusb_device* device) { return fakeOf(device)->address; };
    api.get_port_numbers = [](libusb_device* device, std::uint8_t* ports, int) {
        ports[0] = fakeOf(device)->port;
        return 1;
    };
    api.get_config_descriptor = [](libusb_device* device, std::uint8_t index,
                                   libusb_config_descriptor** config) {
        if (index != 0) {
            return int(LIBUSB_ERROR_NOT_FOUND);
        }
        *config = &fakeOf(device)->config;
        return 0;
    };
    api.get_active_config_descriptor = [](libusb_device* device, libusb_config_descriptor** config) {
        *config = &fakeOf(device)->config;
        return 0;
    };
    api.free_config_descriptor = [](libusb_config_descriptor*) {};
    api.open = [](libusb_device* device, libusb_device_handle** handle) {
        if (fakeOf(device)->openError != 0) {
            return fakeOf(device)->openError;
        }
        *handle = reinterpret_cast<libusb_device_handle*>(new FakeHandle{fakeOf(device)});
        ++bus->openHandles;
        return 0;
    };
    api.close = [](libusb_device_handle* handle) {
        auto* fake = reinterpret_cast<FakeHandle*>(handle);
        if (bus->handleInFlight(fake)) {
            bus->closedWithTransfersInFlight = true;
        }
        --bus->openHandles;
        delete fake;
    };
    api.set_configuration = [](libusb_device_handle*, int) { return 0; };
    api.control_transfer = [](libusb_device_handle* handle, std::uint8_t requestType,
                              std::uint8_t request, std::uint16_t value, std::uint16_t,
                              unsigned char* data, std::uint16_t length, unsigned timeoutMs) {
        if (reinterpret_cast<FakeHandle*>(handle)->device->unplugged) {
            return int(LIBUSB_ERROR_NO_DEVICE);
        }
        bus->controls.push_back({requestType, request, value, length, timeoutMs});
        if ((requestType & 0x80) != 0 && length > 0) {
            data[0] = 0x19;
        }
        return int(length);
    };
    api.kernel_driver_active = [](libusb_device_handle* handle, int) {
        return reinterpret_cast<FakeHandle*>(handle)->device->kernelDriver ? 1 : 0;
    };
    api.detach_kernel_driver = [](libusb_device_handle* handle, int) {
        reinterpret_cast<FakeHandle*>(handle)->device->kernelDriver = false;
        bus->detached = true;
        return 0;
    };
    api.claim_interface = [](libusb_device_handle*, int number) {
        bus->claimed = number;
        return 0;
    };
    api.release_interface = [](libusb_device_handle*, int) {
        bus->claimed = -1;
        return 0;
    };
    api.submit_transfer = [](libusb_transfer* transfer) {
        if (reinterpret_cast<FakeHandle*>(transfer->dev_handle)->device->unplugged) {
            return int(LIBUSB_ERROR_NO_DEVICE);
        }
        bus->inFlight.push_back(transfer);
        return 0;
    };
    api.cancel_transfer = [](libusb_transfer* transfer) {
        if (std::find(bus->inFlight.begin(), bus->inFlight.end(), transfer)
            == bus->inFlight.end()) {
            return int(LIBUSB_ERROR_NOT_FOUND);
        }
        bus->finish(transfer, LIBUSB_TRANSFER_CANCELLED, 0);
        return 0;
    };
    return api;
}

class FakeBoxTest : public ::testing::Test {
protected:
    FakeBus fakeBus;
    FakeDevice loader{0x1600};
    FakeDevice box{0x1601};
    std::vector<std::string> notices;
    std::vector<std::shared_ptr<UsbDevice>> devices;
    std::unique_ptr<LibUsbTransport> transport;

    void SetUp() override { bus = &fakeBus; }
    void TearDown() override
    {
        devices.clear();
        transport.reset();
        EXPECT_EQ(fakeBus.references, 0);
        EXPECT_EQ(fakeBus.openHandles, 0);
        EXPECT_FALSE(fakeBus.closedWithTransfersInFlight);
        bus = nullptr;
    }

    void start(bool forcePolling = false)
    {
        transport = std::make_unique<LibUsbTransport>(fakeApi(), forcePolling);
        transport->setPollPeriod(std::chrono::milliseconds(0));
        std::string error;
        ASSERT_EQ(transport->watch(
                      0x2E7B,
                      [this](std::shared_ptr<UsbDevice> device) {
                          EXPECT_FALSE(fakeBus.handlingEvents);
                          char line[32];
                          std::snprintf(line, sizeof line, "arrived %04x #%llu",
                                        unsigned(device->identity().product),
                                        static_cast<unsigned long long>(device->key()));
                          notices.push_back(line);
                          devices.push_back(std::move(device));
                      },
                      [this](const DeviceIdentity& identity, std::uint64_t key) {
                          EXPECT_FALSE(fakeBus.handlingEvents);
                          char line[32];
                          std::snprintf(line, sizeof line, "removed %04x #%llu",
                                        unsigned(identity.product),
                                        static_cast<unsigned long long>(key));
                          notices.push_back(line);
                      },
                      error),
                  kSuccess)
            << error;
    }

    bool wakeReadable()
    {
        for (const auto& fd : transport->pollFds()) {
            pollfd p{fd.fd, fd.events, 0};
            if (::poll(&p, 1, 0) == 1) {
                return true;
            }
        }
        return false;
    }

    // The box opened, configured, its first interface open.
    std::unique_ptr<UsbInterface> openBox()
    {
        fakeBus.arrive(box);
        transport->handleEvents();
        EXPECT_FALSE(devices.empty());
        UsbDevice& device = *devices.back();
        EXPECT_EQ(device.open(), kSuccess);
        std::uint8_t value = 0;
        EXPECT_EQ(device.configurationValue(0, value), kSuccess);
        EXPECT_EQ(device.setConfiguration(value), kSuccess);
        std::unique_ptr<UsbInterface> interface;
        EXPECT_EQ(device.openFirstInterface(interface), kSuccess);
        return interface;
    }
};

TEST_F(FakeBoxTest, DevicesArriveAndLeaveFromHandleEventsOnly)
{
    fakeBus.attached.push_back(&loader);  // plugged in before the watch
    start();
    EXPECT_TRUE(notices.empty());   // never from inside watch()
    EXPECT_TRUE(wakeReadable());    // but the main loop is woken for it
    transport->handleEvents();
    EXPECT_FALSE(wakeReadable());
    fakeBus.leave(loader);
    fakeBus.arrive(box);
    // Reported twice (plugged while the watch was armed): it arrives once.
    fakeBus.hotplugCallback(nullptr, box.asLibUsb(), LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED,
                            fakeBus.hotplugData);
    EXPECT_EQ(notices.size(), 1U);
    transport->handleEvents();
    EXPECT_EQ(notices, (std::vector<std::string>{"arrived 1600 #1", "removed 1600 #1",
                                                 "arrived 1601 #2"}));
    // The removed device refuses everything.
    UsbDevice& gone = *devices[0];
    EXPECT_EQ(gone.open(), kNoDevice);
    EXPECT_EQ(gone.configurationCount(), 0);
    std::uint8_t value = 0;
    EXPECT_EQ(gone.configurationValue(0, value), kNoDevice);
}

TEST_F(FakeBoxTest, PollingFindsArrivalsAndRemovalsByBusPosition)
{
    fakeBus.hotplug = false;
    fakeBus.attached.push_back(&loader);
    start();
    EXPECT_TRUE(transport->polling());
    transport->handleEvents();
    fakeBus.attached.clear();  // the loader re-enumerates as the box, same port, new address
    box.address = 6;
    fakeBus.attached.push_back(&box);
    loader.unplugged = true;
    transport->handleEvents();
    EXPECT_EQ(notices, (std::vector<std::string>{"arrived 1600 #1", "removed 1600 #1",
                                                 "arrived 1601 #2"}));
    transport->handleEvents();  // nothing changed: nothing new
    EXPECT_EQ(notices.size(), 3U);
}

TEST_F(FakeBoxTest, NoPermissionGivesTheUdevSentence)
{
    start();
    loader.openError = LIBUSB_ERROR_ACCESS;
    fakeBus.arrive(loader);
    transport->handleEvents();
    std::vector<std::string> console;
    transport->setConsole([&](const std::string& line) { console.push_back(line); });
    ASSERT_EQ(devices.size(), 1U);
    EXPECT_EQ(devices[0]->open(), kNotPermitted);
    ASSERT_EQ(console.size(), 1U);
    EXPECT_EQ(console[0], transport->lastError());
    EXPECT_NE(console[0].find("2e7b:1600"), std::string::npos) << console[0];
    EXPECT_NE(console[0].find("data/udev/70-phonaxis-boxes.rules"), std::string::npos);
    EXPECT_EQ(console[0].back(), '\n');
}

TEST_F(FakeBoxTest, OpensTheFirstInterfaceAndListsItsPipes)
{
    start();
    box.kernelDriver = true;
    const std::unique_ptr<UsbInterface> interface = openBox();
    ASSERT_TRUE(interface);
    EXPECT_TRUE(fakeBus.detached);
    EXPECT_EQ(fakeBus.claimed, 0);
    EXPECT_EQ(interface->interfaceClass(), 0xFF);
    EXPECT_EQ(interface->interfaceSubClass(), 0x01);
    int count = 0;
    ASSERT_EQ(interface->endpointCount(count), kSuccess);
    EXPECT_EQ(count, 2);
    const struct {
        int pipeRef;
        Status status;
        PipeProperties properties;
    } pipes[] = {
        {0, kSuccess, {3, 0, 0, 64}},
        {1, kSuccess, {0, 1, 2, 512}},
        {2, kSuccess, {1, 2, 2, 512}},
        {3, kBadArgument, {}},
        {-1, kBadArgument, {}},
    };
    for (const auto& pipe : pipes) {
        PipeProperties properties;
        ASSERT_EQ(interface->pipeProperties(pipe.pipeRef, properties), pipe.status)
            << "pipe " << pipe.pipeRef;
        if (pipe.status == kSuccess) {
            EXPECT_EQ(properties.direction, pipe.properties.direction);
            EXPECT_EQ(properties.number, pipe.properties.number);
            EXPECT_EQ(properties.transferType, pipe.properties.transferType);
            EXPECT_EQ(properties.maxPacketSize, pipe.properties.maxPacketSize);
        }
    }
    // A second interface while the first is open is refused.
    std::unique_ptr<UsbInterface> second;
    EXPECT_EQ(devices.back()->openFirstInterface(second), kBusy);
}

TEST_F(FakeBoxTest, ControlRequestsAreSynchronousWithATimeout)
{
    start();
    const std::unique_ptr<UsbInterface> interface = openBox();
    std::uint8_t answer[1] = {0};
    std::size_t transferred = 0;
    ASSERT_EQ(interface->control({0xC0, 0xB7, 0, 0, answer}, transferred), kSuccess);
    EXPECT_EQ(transferred, 1U);
    EXPECT_EQ(answer[0], 0x19);
    ASSERT_EQ(fakeBus.controls.size(), 1U);
    EXPECT_EQ(fakeBus.controls[0].request, 0xB7);
    EXPECT_EQ(fakeBus.controls[0].timeoutMs, LibUsbTransport::kControlTimeoutMs);
    box.unplugged = true;
    EXPECT_EQ(interface->control({0x40, 0xB4, 0, 0, {}}, transferred), kNoDevice);
}

TEST_F(FakeBoxTest, CompletionsAreDeliveredInCompletionOrderFromHandleEvents)
{
    start();
    const std::unique_ptr<UsbInterface> interface = openBox();
    std::vector<std::uint8_t> buffers(3 * 64);
    std::vector<std::string> completions;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(interface->readPipeAsync(
                      2, std::span(buffers).subspan(std::size_t(i) * 64, 64),
                      [&completions, i](Status status, std::size_t bytes) {
                          EXPECT_FALSE(bus->handlingEvents);
                          completions.push_back(std::to_string(i) + ":" + std::to_string(status)
                                                + ":" + std::to_string(bytes));
                      }),
                  kSuccess);
    }
    ASSERT_EQ(fakeBus.inFlight.size(), 3U);
    libusb_transfer* first = fakeBus.inFlight[0];
    libusb_transfer* second = fakeBus.inFlight[1];
    fakeBus.finish(second, LIBUSB_TRANSFER_COMPLETED, 64);
    fakeBus.finish(first, LIBUSB_TRANSFER_COMPLETED, 10);
    EXPECT_TRUE(completions.empty());
    transport->handleEvents();
    EXPECT_EQ(completions, (std::vector<std::string>{"1:0:64", "0:0:10"}));

    // Aborting: the one left completes, cancelled.
    interface->abortPipes();
    EXPECT_EQ(completions.size(), 2U);
    transport->handleEvents();
    ASSERT_EQ(completions.size(), 3U);
    EXPECT_EQ(completions[2], "2:" + std::to_string(kAborted) + ":0");

    // A transfer that cannot be queued reports at once and never completes.
    bool called = false;
    const auto never = [&](Status, std::size_t) { called = true; };
    EXPECT_EQ(interface->readPipeAsync(1, buffers, never), kBadArgument);   // pipe 1 is out
    EXPECT_EQ(interface->writePipeAsync(2, buffers, never), kBadArgument);  // pipe 2 is in
    EXPECT_EQ(interface->readPipeAsync(3, buffers, never), kBadArgument);
    transport->handleEvents();
    EXPECT_FALSE(called);
}

TEST_F(FakeBoxTest, ClosingWaitsForTheCancelledTransfersBeforeClosingTheHandle)
{
    start();
    std::unique_ptr<UsbInterface> interface = openBox();
    std::vector<std::uint8_t> buffer(64);
    std::vector<Status> statuses;
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(interface->writePipeAsync(1, buffer,
                                            [&](Status status, std::size_t) {
                                                statuses.push_back(status);
                                            }),
                  kSuccess);
    }
    interface.reset();
    devices.back()->close();
    EXPECT_EQ(fakeBus.openHandles, 1);  // still open: two transfers are finishing
    EXPECT_EQ(fakeBus.claimed, 0);
    transport->handleEvents();
    EXPECT_EQ(statuses, (std::vector<Status>{kAborted, kAborted}));
    EXPECT_EQ(fakeBus.claimed, -1);
    EXPECT_EQ(fakeBus.openHandles, 0);
    // Opened again, it works again.
    EXPECT_EQ(devices.back()->open(), kSuccess);
    devices.back()->close();
    EXPECT_EQ(fakeBus.openHandles, 0);
}

TEST_F(FakeBoxTest, UnpluggedMidStreamEveryTransferEndsWithNoDevice)
{
    start();
    const std::unique_ptr<UsbInterface> interface = openBox();
    std::vector<std::uint8_t> buffers(4 * 64);
    std::vector<Status> statuses;
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(interface->readPipeAsync(2, std::span(buffers).subspan(std::size_t(i) * 64, 64),
                                           [&](Status status, std::size_t) {
                                               statuses.push_back(status);
                                               notices.push_back("completion");
                                           }),
                  kSuccess);
    }
    fakeBus.finish(fakeBus.inFlight[0], LIBUSB_TRANSFER_COMPLETED, 64);
    fakeBus.leave(box);
    transport->handleEvents();
    EXPECT_EQ(statuses, (std::vector<Status>{kSuccess, kNoDevice, kNoDevice, kNoDevice}));
    // As on the bus: the transfers fail first, then the removal is announced.
    EXPECT_EQ(notices.back(), "removed 1601 #1");
    std::vector<std::uint8_t> more(64);
    EXPECT_EQ(interface->readPipeAsync(2, more, [](Status, std::size_t) {}), kNoDevice);
    int count = 0;
    EXPECT_EQ(interface->endpointCount(count), kNoDevice);
}

TEST_F(FakeBoxTest, DestroyingTheTransportCancelsWhatIsInFlight)
{
    start();
    std::unique_ptr<UsbInterface> interface = openBox();
    std::vector<std::uint8_t> buffer(64);
    bool called = false;
    ASSERT_EQ(interface->readPipeAsync(2, buffer, [&](Status, std::size_t) { called = true; }),
              kSuccess);
    interface.reset();
    devices.clear();
    transport.reset();
    EXPECT_FALSE(called);
    EXPECT_TRUE(fakeBus.inFlight.empty());
}

} // namespace
} // namespace phonaxis::usb
