// The libusb transport's own logic that runs without a box: the status
// mapping, the bus-listing comparison of the polling fallback, and arming
// and pumping on whatever this machine has (a container may have no USB at
// all; then arming must fail with a sentence, not hang or crash).

#include "hardware/libusb/LibUsbTransport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace phonaxis::usb {
namespace {

// libusb's error and transfer status codes (part of its stable ABI), so that
// the tests need not see libusb's header.
enum : int {
    LIBUSB_SUCCESS = 0,
    LIBUSB_ERROR_IO = -1,
    LIBUSB_ERROR_INVALID_PARAM = -2,
    LIBUSB_ERROR_ACCESS = -3,
    LIBUSB_ERROR_NO_DEVICE = -4,
    LIBUSB_ERROR_NOT_FOUND = -5,
    LIBUSB_ERROR_BUSY = -6,
    LIBUSB_ERROR_TIMEOUT = -7,
    LIBUSB_ERROR_OVERFLOW = -8,
    LIBUSB_ERROR_PIPE = -9,
    LIBUSB_ERROR_INTERRUPTED = -10,
    LIBUSB_ERROR_NO_MEM = -11,
    LIBUSB_ERROR_NOT_SUPPORTED = -12,
    LIBUSB_ERROR_OTHER = -99,
};
enum : int {
    LIBUSB_TRANSFER_COMPLETED = 0,
    LIBUSB_TRANSFER_ERROR = 1,
    LIBUSB_TRANSFER_TIMED_OUT = 2,
    LIBUSB_TRANSFER_CANCELLED = 3,
    LIBUSB_TRANSFER_STALL = 4,
    LIBUSB_TRANSFER_NO_DEVICE = 5,
    LIBUSB_TRANSFER_OVERFLOW = 6,
};

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

} // namespace
} // namespace phonaxis::usb
