#include "hardware/USB2Hardware.h"

#include "hardware/BoxRequests.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace phonaxis {

namespace {

using usb::Status;

// How many event passes `cancel` gives the transport to hand back aborted
// transfers (each pass delivers whatever is due, without waiting).
constexpr int kDrainPasses = 10000;

const char* const kOrvixTitle = "Orvix USB2 Multichannel Data Acquisition system";
const char* const kTelvoTitle = "Telvo dual channels Data Acquisition system";

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...)
{
    char text[256];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    return text;
}

const char* directionName(std::uint8_t direction)
{
    switch (direction) {
    case 0:
        return "out";
    case 1:
        return "in";
    case 2:
        return "none";
    case 3:
        return "any";
    default:
        return "???";
    }
}

const char* transferTypeName(std::uint8_t type)
{
    switch (type) {
    case 0:
        return "control";
    case 1:
        return "isoc";
    case 2:
        return "bulk";
    case 3:
        return "interrupt";
    case 0xFF:
        return "any";
    default:
        return "???";
    }
}

// Buffers needed for a range: one per 2,048 samples, plus one.
int buffersNeeded(int from, int to)
{
    return (to - from) / BoxConnection::kSamplesPerWrite + 1;
}

} // namespace

std::int32_t DtoAdata(float sample)
{
    // A sample beyond full scale is clipped to it: with the low 16 bits of
    // n alone, 1.0001 would become the bottom of the scale (a full-scale
    // click). What is not a number plays as silence.
    const double s = std::isnan(sample) ? 0.0 : std::clamp(static_cast<double>(sample), -1.0, 1.0);
    const auto bits = static_cast<std::uint16_t>(std::trunc((s + 1.0) * 32767.0));
    std::uint16_t reversed = 0;
    for (int bit = 0; bit < 16; ++bit)
        if (bits & (1u << bit))
            reversed = static_cast<std::uint16_t>(reversed | (1u << (15 - bit)));
    return static_cast<std::int16_t>(reversed);
}

// --- USB2Hardware: discovery ---------------------------------------------------

USB2Hardware::USB2Hardware(std::shared_ptr<BoxConnection> connection) : m_box(std::move(connection))
{
}

template <typename F> void USB2Hardware::inCallback(F&& f)
{
    ++m_box->callbackDepth;
    f();
    --m_box->callbackDepth;
}

Status USB2Hardware::FindLoadDevice()
{
    BoxConnection& c = *m_box;
    if (c.armed)
        return usb::kSuccess;
    c.print(format("Looking for devices matching vendor ID=%ld and product ID=%ld\n",
                   static_cast<long>(BoxConnection::kVendor),
                   static_cast<long>(BoxConnection::kLoaderProduct)));
    std::weak_ptr<BoxConnection> weak = m_box;
    std::string error;
    const Status status = c.transport.watch(
        BoxConnection::kVendor,
        [weak](std::shared_ptr<usb::UsbDevice> device) {
            if (auto box = weak.lock()) {
                USB2Hardware hardware(box);
                hardware.inCallback([&] { hardware.deviceArrived(device); });
            }
        },
        [weak](const usb::DeviceIdentity& identity, std::uint64_t key) {
            if (auto box = weak.lock()) {
                USB2Hardware hardware(box);
                hardware.inCallback([&] { hardware.deviceRemoved(identity, key); });
            }
        },
        error);
    if (status != usb::kSuccess) {
        c.print(format("ERR: Couldn't watch for acquisition boxes (%08x): %s\n", status,
                       error.c_str()));
        return status;
    }
    c.armed = true;
    return usb::kSuccess;
}

void USB2Hardware::deviceArrived(const std::shared_ptr<usb::UsbDevice>& device)
{
    const usb::DeviceIdentity id = device->identity();
    if (id.vendor == BoxConnection::kVendor && id.product == BoxConnection::kLoaderProduct)
        RawDeviceAdded(device);
    else if (id.vendor == BoxConnection::kVendor && id.product == BoxConnection::kBoxProduct)
        FirmwareDeviceAdded(device);
    else
        printUnwanted(id);
}

void USB2Hardware::printUnwanted(const usb::DeviceIdentity& id)
{
    m_box->print(format("found device i didn't want (vendor = %d, product = %d)\n",
                        static_cast<int>(id.vendor), static_cast<int>(id.product)));
}

bool USB2Hardware::openWanted(usb::UsbDevice& device, std::uint16_t product)
{
    BoxConnection& c = *m_box;
    const usb::DeviceIdentity id = device.identity();
    if (id.vendor != BoxConnection::kVendor || id.product != product) {
        printUnwanted(id);
        return false;
    }
    const Status status = device.open();
    if (status != usb::kSuccess) {
        c.print(format("unable to open device: %08x\n", status));
        setProblem(BoxProblem::Kind::Open, status, product,
                   status == usb::kNotPermitted
                       ? format("No permission to open the acquisition box (USB device "
                                "%04x:%04x). Install the udev rule 70-phonaxis-boxes.rules in "
                                "/etc/udev/rules.d/, reload udev and plug the box in again.",
                                static_cast<unsigned>(id.vendor), static_cast<unsigned>(product))
                       : format("The acquisition box (USB device %04x:%04x) could not be "
                                "opened (%08x).",
                                static_cast<unsigned>(id.vendor), static_cast<unsigned>(product),
                                status));
        return false;
    }
    const std::int32_t configured = ConfigureAnchorDevice(device);
    if (configured != 0) {
        c.print(format("unable to configure device: %08x\n", static_cast<unsigned>(configured)));
        setProblem(BoxProblem::Kind::Configure, usb::kError, product,
                   format("The acquisition box (USB device %04x:%04x) could not be configured.",
                          static_cast<unsigned>(id.vendor), static_cast<unsigned>(product)));
        device.close();
        return false;
    }
    return true;
}

void USB2Hardware::deviceRemoved(const usb::DeviceIdentity& identity, std::uint64_t key)
{
    if (identity.vendor != BoxConnection::kVendor)
        return;
    if (identity.product == BoxConnection::kLoaderProduct)
        RawDeviceRemoved();
    else if (identity.product == BoxConnection::kBoxProduct)
        FirmwareDeviceRemoved(key);
}

void USB2Hardware::RawDeviceAdded(const std::shared_ptr<usb::UsbDevice>& device)
{
    BoxConnection& c = *m_box;
    c.print("Raw device added.");
    if (!c.firmware) {
        // Without an image the loader is not even opened: a box half
        // written would be worse than a box left as it came.
        if (!c.firmwareErrorPrinted) {
            c.print(c.firmwareError + "\n");
            c.firmwareErrorPrinted = true;
        }
        setProblem(BoxProblem::Kind::NoFirmware, usb::kNotFound, BoxConnection::kLoaderProduct,
                   c.firmwareError);
        c.announcer.alert(kOrvixTitle, c.firmwareError, "Close");
        return;
    }
    if (c.download || c.pendingLoader) {
        // One loader at a time: the worker has the transport's attention.
        c.print("Another acquisition box is being programmed; this one is left alone until it "
                "is plugged in again.\n");
        return;
    }
    if (!openWanted(*device, BoxConnection::kLoaderProduct))
        return;
    // The download starts once the transport has delivered this pass (see
    // handleEvents), on a worker: a loader that answers slowly must not
    // hold the main thread.
    c.pendingLoader = device;
}

void USB2Hardware::RawDeviceRemoved()
{
    m_box->print("Raw device removed.");
}

std::int32_t USB2Hardware::ConfigureAnchorDevice(usb::UsbDevice& device)
{
    BoxConnection& c = *m_box;
    if (device.configurationCount() <= 0)
        return -1;
    std::uint8_t value = 0;
    Status status = device.configurationValue(0, value);
    if (status != usb::kSuccess) {
        c.print(format("\tunable to get config descriptor for index %d (err = %08x)\n", 0, status));
        return -1;
    }
    status = device.setConfiguration(value);
    if (status != usb::kSuccess) {
        c.print(format("\tunable to set configuration to value %d (err=%08x)\n",
                       static_cast<int>(value), status));
        return -1;
    }
    return 0;
}

Status USB2Hardware::AnchorWrite(usb::UsbDevice& device, std::uint16_t address,
                                 std::span<const std::uint8_t> data)
{
    return FirmwareDownload::anchorWrite(device, address, data);
}

Status USB2Hardware::DownloadToAnchorDevice(usb::UsbDevice& device)
{
    BoxConnection& c = *m_box;
    const std::vector<FirmwareRecord> records =
        c.firmware ? FirmwareDownload::recordsToLoad(*c.firmware) : std::vector<FirmwareRecord>{};
    const FirmwareDownload::Result result =
        FirmwareDownload::run(device, records, nullptr, nullptr);
    if (!result.ok())
        c.print(result.consoleLine());
    return result.status;
}

// --- the main loop's part ------------------------------------------------------

void USB2Hardware::handleEvents()
{
    BoxConnection& c = *m_box;
    if (c.download) {
        if (!c.download->finished())
            return;
        finishDownload();
    }
    c.transport.handleEvents();
    if (c.pendingLoader && !c.download)
        startDownload();
}

std::optional<std::chrono::milliseconds> USB2Hardware::nextTimeout()
{
    // The worker's end is looked for at this pace; the transport waits.
    constexpr std::chrono::milliseconds kDownloadPoll{20};
    BoxConnection& c = *m_box;
    if (c.download || c.pendingLoader)
        return c.pendingLoader && !c.download ? std::chrono::milliseconds(0) : kDownloadPoll;
    return c.transport.nextTimeout();
}

bool USB2Hardware::downloading() const
{
    return m_box->download != nullptr || m_box->pendingLoader != nullptr;
}

int USB2Hardware::downloadWritten() const
{
    return m_box->download ? m_box->download->recordsWritten() : 0;
}

int USB2Hardware::downloadTotal() const
{
    const BoxConnection& c = *m_box;
    if (c.download)
        return c.download->recordCount();
    return c.pendingLoader && c.firmware
               ? static_cast<int>(FirmwareDownload::recordsToLoad(*c.firmware).size())
               : 0;
}

void USB2Hardware::cancelDownload()
{
    BoxConnection& c = *m_box;
    if (c.download) {
        c.download->cancel();
    } else if (c.pendingLoader) {
        // Not started: nothing was written, the loader is left as it came.
        c.pendingLoader->close();
        c.pendingLoader.reset();
        FirmwareDownload::Result result;
        result.step = FirmwareDownload::Step::Cancelled;
        result.status = usb::kAborted;
        c.lastDownload = result;
        setProblem(BoxProblem::Kind::Download, usb::kAborted, BoxConnection::kLoaderProduct,
                   result.sentence());
        c.print(result.sentence() + "\n");
    }
}

void USB2Hardware::awaitDownload()
{
    BoxConnection& c = *m_box;
    if (c.pendingLoader && !c.download)
        startDownload();
    if (c.download) {
        c.download->wait();
        finishDownload();
    }
}

void USB2Hardware::startDownload()
{
    BoxConnection& c = *m_box;
    std::shared_ptr<usb::UsbDevice> loader = std::move(c.pendingLoader);
    c.pendingLoader.reset();
    if (!c.firmware) {
        loader->close();
        return;
    }
    c.print(format("Downloading the firmware (%d records) to the acquisition box.\n",
                   static_cast<int>(FirmwareDownload::recordsToLoad(*c.firmware).size())));
    c.download = std::make_unique<FirmwareDownload>(std::move(loader), *c.firmware);
}

void USB2Hardware::finishDownload()
{
    BoxConnection& c = *m_box;
    const FirmwareDownload::Result result = c.download->wait();
    const std::shared_ptr<usb::UsbDevice> loader = c.download->device();
    c.download.reset();
    c.lastDownload = result;
    if (!result.ok()) {
        if (const std::string line = result.consoleLine(); !line.empty())
            c.print(line);
        if (result.step != FirmwareDownload::Step::Cancelled)
            c.print(format("unable to download to device: %08x\n", result.status));
        c.print(result.sentence() + "\n");
        setProblem(BoxProblem::Kind::Download, result.status, BoxConnection::kLoaderProduct,
                   result.sentence());
    }
    loader->close();
}

void USB2Hardware::setProblem(BoxProblem::Kind kind, usb::Status status, std::uint16_t product,
                              std::string sentence)
{
    BoxProblem& problem = m_box->problem;
    problem.kind = kind;
    problem.status = status;
    problem.product = product;
    problem.sentence = std::move(sentence);
}

void USB2Hardware::FirmwareDeviceAdded(const std::shared_ptr<usb::UsbDevice>& device)
{
    BoxConnection& c = *m_box;
    c.print("Orvix USB2 Multichannel Data Acquisition system device added.");
    if (!openWanted(*device, BoxConnection::kBoxProduct))
        return;
    // A box that arrives while another is open replaces it.
    closeInterface();
    Status status = FindInterfaces(*device);
    if (status != usb::kSuccess) {
        c.print(format("unable to find interfaces on device: %08x\n", status));
        setProblem(BoxProblem::Kind::Interface, status, BoxConnection::kBoxProduct,
                   format("The acquisition box's interface could not be opened (%08x).", status));
        device->close();
        return;
    }
    c.device = device;

    int endpoints = 0;
    status = c.iface->endpointCount(endpoints);
    if (status != usb::kSuccess) {
        c.print(format("unable to get number of endpoints (%08x)\n", status));
        endpoints = 0;
    }
    c.print(format("Interface has %d endpoints.\n", endpoints));
    for (int pipeRef = 1; pipeRef <= endpoints; ++pipeRef) {
        usb::PipeProperties pipe;
        status = c.iface->pipeProperties(pipeRef, pipe);
        if (status != usb::kSuccess) {
            c.print(format("unable to get properties of pipe %d (%08x)\n", pipeRef, status));
            continue;
        }
        // The three parts of the listing make one console line.
        c.print(format("pipeRef %d: number %d:", pipeRef, static_cast<int>(pipe.number)) +
                format("direction %s, ", directionName(pipe.direction)) +
                format("transfer type %s, maxPacketSize %d\n", transferTypeName(pipe.transferType),
                       static_cast<int>(pipe.maxPacketSize)));
    }

    c.g_bHaveHardware = false;
    const std::int32_t channels = ReadConfiguration();
    if (channels <= 0)
        setProblem(BoxProblem::Kind::Configuration, usb::kError, BoxConnection::kBoxProduct,
                   "The acquisition box did not tell its channel count (9, 5 or 2) when asked.");
    if (channels > 0) {
        c.problem = {};
        c.g_bHaveHardware = true;
        c.g_SystemChannelNumber = channels;
        c.print(format("Hardware found. Numner of channels = : %d\n", channels));
        hardwareFound(channels);
    }
}

Status USB2Hardware::FindInterfaces(usb::UsbDevice& device)
{
    BoxConnection& c = *m_box;
    std::unique_ptr<usb::UsbInterface> opened;
    Status status = device.openFirstInterface(opened);
    if (status != usb::kSuccess || !opened) {
        if (status == usb::kSuccess)
            status = usb::kNotFound;
        c.print(format("unable to open interface (%08x)\n", status));
        return status;
    }
    c.print("Interface found.");
    c.print(format("Interface class %d, subclass %d\n", static_cast<int>(opened->interfaceClass()),
                   static_cast<int>(opened->interfaceSubClass())));
    int endpoints = 0;
    status = opened->endpointCount(endpoints);
    if (status != usb::kSuccess) {
        c.print(format("unable to get number of endpoints (%08x)\n", status));
        return status;
    }
    c.print(format("Interface has %d endpoints.\n", endpoints));
    c.iface = std::move(opened);
    return usb::kSuccess;
}

std::int32_t USB2Hardware::ReadConfiguration()
{
    BoxConnection& c = *m_box;
    BoxControlBlock answer{};
    const Status status = SendRequest(answer, box::kReadConfiguration, 64, 1, 0);
    if (status != usb::kSuccess) {
        c.print(format("unable to do configuration (%08x)\n", status));
        closeInterface();
        return -1;
    }
    const int channels = answer[0] & 0x0F;
    return channels == 9 || channels == 5 || channels == 2 ? channels : -1;
}

void USB2Hardware::FirmwareDeviceRemoved(std::uint64_t key)
{
    BoxConnection& c = *m_box;
    c.print("Orvix USB2 Multichannel Data Acquisition system device removed.");
    if (c.device && c.device->key() == key)
        closeInterface();
    hardwareRemoved();
}

void USB2Hardware::closeInterface()
{
    BoxConnection& c = *m_box;
    // The box is gone or replaced: its streams end here, whatever their
    // transfers still say.
    if (c.streamOpen) {
        c.streamOpen = false;
        c.gbStop = false;
        dropSplitFrame();
        if (c.recordReceiver)
            c.recordReceiver->stopClose();
    }
    if (c.playOpen)
        finishPlay(false);
    if (c.iface) {
        c.iface->abortPipes();
        c.iface.reset();
    }
    // Transfers of the closed interface may still come back (aborted);
    // they keep their own share of the old rings and are not counted
    // against the next interface's.
    ++c.generation;
    c.readsQueued = 0;
    c.writesQueued = 0;
    c.readRing.reset();
    c.writeRing.reset();
    if (c.device) {
        c.device->close();
        c.device.reset();
    }
}

void USB2Hardware::hardwareFound(std::int32_t channels)
{
    BoxConnection& c = *m_box;
    c.print("Hardware Found");
    c.announcer.beep();
    if (channels == 5)
        c.announcer.alert(kOrvixTitle, "Found", "Close");
    else if (channels == 2)
        c.announcer.alert(kTelvoTitle, "Found", "Close");
}

void USB2Hardware::hardwareRemoved()
{
    BoxConnection& c = *m_box;
    c.print("Hardware Removed");
    c.announcer.beep();
    c.announcer.alert(kOrvixTitle, "Removed", "Close");
}

// --- control -------------------------------------------------------------------

Status USB2Hardware::SendRequest(std::span<std::uint8_t> data, std::uint8_t request,
                                 std::uint16_t length, std::uint16_t direction, std::uint16_t value)
{
    BoxConnection& c = *m_box;
    if (!c.iface)
        return usb::kNoDevice;
    if (data.size() < length)
        return usb::kBadArgument;
    usb::ControlRequest control;
    control.requestType = static_cast<std::uint8_t>(box::kHostToDevice | ((direction & 1) << 7));
    control.request = request;
    control.value = value;
    control.index = 0;
    control.data = data.first(length);
    std::size_t transferred = 0;
    const Status status = c.iface->control(control, transferred);
    if (status != usb::kSuccess)
        return status;
    return transferred == length ? usb::kSuccess : usb::kUnderrun;
}

Status USB2Hardware::setControl(std::int32_t index, const BoxControlBlock& block)
{
    BoxControlBlock bytes = block;
    return SendRequest(bytes, box::kSetControl, 64, 0, static_cast<std::uint16_t>(index));
}

void USB2Hardware::setControlDirect(std::int32_t index, const BoxControlBlock& block)
{
    if (m_box->iface)
        setControl(index, block);
}

void USB2Hardware::setControl(std::int32_t index1, std::int32_t index2,
                              const BoxControlBlock& block1, const BoxControlBlock& block2)
{
    BoxConnection& c = *m_box;
    c.gcmdBuffer1 = block1;
    c.gcmdBuffer2 = block2;
    c.gcmdCtlIndex1 = index1;
    c.gcmdCtlIndex2 = index2;
    c.gbsetCmdControl = true;
}

void USB2Hardware::resetHardware()
{
    SendRequest({}, box::kStop, 0, 0, 0);
}

// --- sampling ------------------------------------------------------------------

Status USB2Hardware::SampleData()
{
    BoxConnection& c = *m_box;
    c.gnStopCount = 0;
    c.gbStop = true;
    if (!c.iface)
        return usb::kNoDevice;
    // A stream still running keeps its 32 reads in these buffers: it ends
    // first (quietly: this is its restart), so that the new one never has
    // more than 32 reads in flight. A playback ends too: the 0xB4 below
    // stops it on the box, and its writes would never come back.
    if ((c.readsQueued > 0 || c.writesQueued > 0) && !endTransfers(true)) {
        c.print("The acquisition box is still finishing its last transfers; sampling did not "
                "start.\n");
        return usb::kBusy;
    }
    c.gbStop = true;
    dropSplitFrame(); // a new stream never continues an old one's frame
    SendRequest({}, box::kStop, 0, 0, 0);
    SendRequest({}, box::kStartSampling, 0, 0, 0);
    c.print("Async event source added to run loop.");
    if (!c.readRing)
        c.readRing = std::make_shared<BoxConnection::ReadRing>();
    std::fill(c.readRing->bytes.begin(), c.readRing->bytes.end(), std::uint8_t{0});
    for (int i = 0; i < BoxConnection::kRingSize; ++i) {
        c.readRing->records[static_cast<std::size_t>(i)].index = i;
        const Status status = queueRead(i);
        if (status != usb::kSuccess)
            // The reads already queued come back as a stop (gbStop is
            // still set), and the stream ends when the last one is back.
            return i == 0 ? status : usb::kSuccess;
        c.streamOpen = true;
    }
    c.gbStop = false;
    return usb::kSuccess;
}

// The completion of one transfer: it holds a share of the ring its buffer
// belongs to, and runs `handler` only if the connection and the interface
// the transfer was queued on still exist.
template <typename Ring>
usb::Completion USB2Hardware::completion(std::shared_ptr<Ring> ring, int buffer,
                                         void (USB2Hardware::*handler)(int, Status, std::size_t))
{
    std::weak_ptr<BoxConnection> weak = m_box;
    const std::uint64_t generation = m_box->generation;
    return [weak, ring = std::move(ring), generation, buffer, handler](Status result,
                                                                       std::size_t transferred) {
        auto box = weak.lock();
        if (!box || box->generation != generation)
            return; // a transfer of an interface since closed
        USB2Hardware hardware(box);
        hardware.inCallback([&] { (hardware.*handler)(buffer, result, transferred); });
    };
}

Status USB2Hardware::queueRead(int buffer)
{
    BoxConnection& c = *m_box;
    const Status status =
        c.iface->readPipeAsync(box::kReadPipe, c.readRing->buffer(buffer),
                               completion(c.readRing, buffer, &USB2Hardware::ReadCompletion));
    if (status != usb::kSuccess)
        c.print(format("unable to do async bulk read (%08x)\n", status));
    else
        ++c.readsQueued;
    return status;
}

void USB2Hardware::ReadCompletion(int buffer, Status result, std::size_t transferred)
{
    BoxConnection& c = *m_box;
    --c.readsQueued;
    if (!c.streamOpen)
        return; // a stream already ended (removal, cancel): only its place is freed
    if (result != usb::kSuccess) {
        // The buffer leaves the ring; during a stop it still counts, so the
        // stop ends when the last read in flight is back.
        c.print(format("error from async bulk read (%08x)\n", result));
        // What follows does not continue a frame split before the gap.
        dropSplitFrame();
        if (c.gbStop)
            ++c.gnStopCount;
        endStreamIfDrained();
        return;
    }
    c.print(format("Async bulk read = %d\n", buffer));
    if (c.gbStop) {
        ++c.gnStopCount;
        c.print(format("Async gnStopCount = %d\n", c.gnStopCount));
        endStreamIfDrained();
        return;
    }
    if (c.gbsetCmdControl) {
        c.print(format("command set = %d\n", c.gcmdCtlIndex1));
        c.print(format("command set = %d\n", c.gcmdCtlIndex2));
        c.gbsetCmdControl = false;
        if (c.gcmdCtlIndex1 >= 0)
            setControl(c.gcmdCtlIndex1, c.gcmdBuffer1);
        if (c.gcmdCtlIndex2 >= 0)
            setControl(c.gcmdCtlIndex2, c.gcmdBuffer2);
    }
    // Only what came is new; frames stay whole across reads.
    const std::size_t received = std::min(transferred, BoxConnection::kXferSizeSample);
    if (received < BoxConnection::kXferSizeSample) {
        ++c.shortReadTally.reads;
        c.shortReadTally.bytesShort += BoxConnection::kXferSizeSample - received;
    }
    if (takeFrames(c.readRing->buffer(buffer).first(received))) {
        ++c.blocksArrived;
        if (c.recordReceiver) {
            c.recordReceiver->animateRecordData();
            c.recordReceiver->refreshDisplay();
        }
    }
    // The receivers may have cancelled the stream or the box may be gone.
    if (!c.streamOpen)
        return;
    auto& record = c.readRing->records[static_cast<std::size_t>(buffer)];
    record.index = buffer;
    record.bytesRead = static_cast<int>(transferred);
    if (!c.iface || queueRead(buffer) != usb::kSuccess)
        endStreamIfDrained();
}

bool USB2Hardware::takeFrames(std::span<const std::uint8_t> bytes)
{
    BoxConnection& c = *m_box;
    constexpr std::size_t kFrame = BoxConnection::kFrameBytes;
    // A frame split by the previous read goes first; at most one block of
    // whole frames fits (a carry of under one frame and 64 KiB make fewer
    // than 2,049 frames).
    const std::size_t total = c.carryBytes + bytes.size();
    const std::size_t whole = total / kFrame * kFrame;
    if (whole == 0) {
        std::copy(bytes.begin(), bytes.end(), c.carry.begin() + std::ptrdiff_t(c.carryBytes));
        c.carryBytes = total;
        return false;
    }
    std::copy_n(c.carry.begin(), c.carryBytes, c.newest.begin());
    const std::size_t used = whole - c.carryBytes;
    std::copy_n(bytes.begin(), used, c.newest.begin() + std::ptrdiff_t(c.carryBytes));
    c.newestBytes = whole;
    c.carryBytes = bytes.size() - used;
    std::copy(bytes.begin() + std::ptrdiff_t(used), bytes.end(), c.carry.begin());
    return true;
}

void USB2Hardware::dropSplitFrame()
{
    BoxConnection& c = *m_box;
    c.shortReadTally.bytesDropped += c.carryBytes;
    c.carryBytes = 0;
}

void USB2Hardware::endStreamIfDrained()
{
    BoxConnection& c = *m_box;
    if (!c.streamOpen || c.readsQueued > 0)
        return;
    c.streamOpen = false;
    dropSplitFrame();
    c.gbStop = false;
    c.print("Async stopped");
    if (c.recordReceiver)
        c.recordReceiver->stopClose();
}

// --- playback ------------------------------------------------------------------

void USB2Hardware::fillPlayBuffer(int buffer, int firstSample)
{
    BoxConnection& c = *m_box;
    auto& record = c.writeRing->records[static_cast<std::size_t>(buffer)];
    const auto bytes = c.writeRing->buffer(buffer);
    const auto padding = static_cast<std::uint16_t>(DtoAdata(0.0f));
    int p = firstSample;
    for (int word = 0; word < BoxConnection::kSamplesPerWrite; ++word, ++p) {
        const auto w = p < record.to
                           ? static_cast<std::uint16_t>(
                                 DtoAdata(c.playSamples[static_cast<std::size_t>(p - record.from)]))
                           : padding;
        bytes[static_cast<std::size_t>(2 * word)] = static_cast<std::uint8_t>(w & 0xFF);
        bytes[static_cast<std::size_t>(2 * word + 1)] = static_cast<std::uint8_t>(w >> 8);
    }
    record.position = p;
}

Status USB2Hardware::queueWrite(int buffer)
{
    BoxConnection& c = *m_box;
    const Status status =
        c.iface->writePipeAsync(box::kWritePipe, c.writeRing->buffer(buffer),
                                completion(c.writeRing, buffer, &USB2Hardware::WriteCompletion));
    if (status != usb::kSuccess)
        c.print(format("unable to do async bulk write (%08x)\n", status));
    else
        ++c.writesQueued;
    return status;
}

PlayStart USB2Hardware::Play(std::span<const float> samples, std::int32_t from, std::int32_t to)
{
    BoxConnection& c = *m_box;
    if (!c.iface)
        return {PlayRefusal::NoBox};
    const auto size = static_cast<std::int32_t>(std::min<std::size_t>(samples.size(), INT32_MAX));
    from = std::clamp(from, 0, size);
    to = std::clamp(to, 0, size);
    if (to < from) {
        // Nothing to play: starting the box would leave the caller waiting
        // for an end no write completion ever brings.
        c.print(format("Nothing to play on the acquisition box (from %d to %d).\n", from, to));
        return {PlayRefusal::NothingToPlay};
    }
    // The stop that ends a playback ends sampling too: a stream that runs
    // (or drains towards its end) for a receiver that needs it is left
    // alone, and the playback refused. The flags it shares are not touched.
    if (c.streamOpen) {
        const RecordReceiver* receiver = c.recordReceiver;
        const bool yields =
            !c.gbStop && (receiver == nullptr || receiver->yieldsToPlayback());
        if (!yields) {
            c.print("The acquisition box is streaming samples; playback did not start.\n");
            return {PlayRefusal::StreamInUse};
        }
    }
    // A stream that yields pauses, and the writes of an earlier playback are
    // taken back: ended at once and quietly, their receivers not told.
    if ((c.readsQueued > 0 || c.writesQueued > 0) && !endTransfers(false)) {
        c.print("The acquisition box is still finishing its last transfers; playback did not "
                "start.\n");
        return {PlayRefusal::Busy};
    }
    c.gnStopCount = 0;
    c.gbStop = false;
    c.gbStopNow = false;
    c.gstartHostTime = c.now();
    c.print("Async event source added to run loop.");
    c.playSamples.assign(samples.begin() + from, samples.begin() + to);
    if (!c.writeRing)
        c.writeRing = std::make_shared<BoxConnection::WriteRing>();
    const int count = std::min(buffersNeeded(from, to), BoxConnection::kRingSize);
    int p = from;
    for (int b = 0; b < count; ++b) {
        auto& record = c.writeRing->records[static_cast<std::size_t>(b)];
        record.from = from;
        record.to = to;
        record.slot = b;
        record.count = count;
        fillPlayBuffer(b, p);
        p = record.position;
        if (queueWrite(b) == usb::kSuccess)
            c.playOpen = true;
    }
    if (!c.playOpen)
        return {PlayRefusal::Busy};
    SendRequest({}, box::kStartPlayback, 0, 0, 0);
    return {};
}

void USB2Hardware::WriteCompletion(int buffer, Status result, std::size_t /*transferred*/)
{
    BoxConnection& c = *m_box;
    --c.writesQueued;
    if (!c.playOpen)
        return; // a playback already ended: only its place is freed
    if (result != usb::kSuccess) {
        // The buffer leaves the ring; the playback ends when none is left.
        c.print(format("error from async bulk write (%08x)\n", result));
        if (c.writesQueued == 0)
            finishPlay(true);
        return;
    }
    const double elapsed = static_cast<double>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(c.now() - c.gstartHostTime).count());
    auto& record = c.writeRing->records[static_cast<std::size_t>(buffer)];
    const int count = buffersNeeded(record.from, record.to);
    c.print(format("Async bulk write = %d\n", record.slot));
    c.print(format("Async bulk write nFrames= %d\n", count));
    PlayReceiver* receiver = c.playReceiver;
    if (c.gbStopNow) {
        // Told once; the box plays out what it holds.
        c.playOpen = false;
        if (receiver) {
            receiver->animateHardwarePlay(elapsed);
            receiver->stopHardwarePlay();
        }
        return;
    }
    const bool lastSlot = record.slot >= count - 1;
    if (c.gbStop) {
        ++c.gnStopCount;
        c.print(format("Async gnStopCount = %d\n", c.gnStopCount));
        if (receiver)
            receiver->animateHardwarePlay(elapsed);
        const bool done = count > BoxConnection::kRingSize
                              ? c.gnStopCount >= BoxConnection::kRingSize - 1
                              : lastSlot;
        if (done || c.writesQueued == 0) {
            c.gbStop = false;
            finishPlay(true);
        }
        return;
    }
    if (count <= BoxConnection::kRingSize) {
        if (receiver)
            receiver->animateHardwarePlay(elapsed);
        if (lastSlot || c.writesQueued == 0)
            finishPlay(true);
        return;
    }
    const int p =
        record.position + (BoxConnection::kRingSize - 1) * BoxConnection::kSamplesPerWrite;
    if (p >= record.to) {
        c.gbStop = true;
    } else if (c.iface) {
        fillPlayBuffer(buffer, p);
        queueWrite(buffer);
    }
    if (receiver)
        receiver->animateHardwarePlay(elapsed);
    if (c.playOpen && c.writesQueued == 0)
        finishPlay(true);
}

void USB2Hardware::finishPlay(bool stopBox)
{
    BoxConnection& c = *m_box;
    c.playOpen = false;
    c.gbStop = false;
    if (c.playReceiver)
        c.playReceiver->stopHardwarePlay();
    // The stop ends sampling as well: never one of a stream that runs.
    if (stopBox && !c.streamOpen && c.readsQueued == 0)
        SendRequest({}, box::kStop, 0, 0, 0);
    c.print("Async play stopped");
}

void USB2Hardware::Stop()
{
    m_box->gbStop = true;
}

void USB2Hardware::StopNow()
{
    m_box->gbStopNow = true;
}

bool USB2Hardware::cancel()
{
    return endTransfers(true);
}

bool USB2Hardware::endTransfers(bool tellPlayer)
{
    BoxConnection& c = *m_box;
    const bool wasRunning = c.streamOpen || c.playOpen;
    c.streamOpen = false;
    dropSplitFrame();
    if (c.playOpen) {
        c.playOpen = false;
        if (tellPlayer && c.playReceiver)
            c.playReceiver->stopHardwarePlay();
    }
    c.gbStop = false;
    c.gbStopNow = false;
    if (c.iface && (c.readsQueued > 0 || c.writesQueued > 0))
        c.iface->abortPipes();
    const bool drained = drain();
    if (wasRunning)
        resetHardware();
    return drained;
}

bool USB2Hardware::drain()
{
    BoxConnection& c = *m_box;
    // From inside a delivery the transport cannot be asked for more.
    if (c.callbackDepth > 0)
        return c.readsQueued == 0 && c.writesQueued == 0;
    for (int pass = 0; pass < kDrainPasses && (c.readsQueued > 0 || c.writesQueued > 0); ++pass)
        handleEvents();
    return c.readsQueued == 0 && c.writesQueued == 0;
}

} // namespace phonaxis
