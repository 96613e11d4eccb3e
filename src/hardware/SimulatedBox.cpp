#include "hardware/SimulatedBox.h"

#include "hardware/BoxRequests.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>
#include <optional>
#include <thread>
#include <utility>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace phonaxis::usb {

namespace {

using box::kControlBlockBytes;
using box::kCpuControl;
using box::kDeviceToHost;
using box::kHostToDevice;
using box::kLoadRequest;
using box::kReadConfiguration;
using box::kReadPipe;
using box::kSetControl;
using box::kStartPlayback;
using box::kStartSampling;
using box::kStop;
using box::kWritePipe;

constexpr std::int64_t kNsPerSecond = 1'000'000'000;
constexpr std::uint64_t kFrameRate = 22050; // frames (and D/A words) per second
constexpr std::size_t kFrameBytes = SimulatedBox::kSlots * 2;
constexpr std::size_t kFramesPerBlock = 2048; // one 64 KiB read
constexpr std::uint16_t kRelease = 0x0100;

// The loader's RAM load request and the controller's CPU control register.
constexpr std::size_t kRamBytes = box::kRamBytes;
constexpr std::size_t kMaxRecordBytes = 16;

// The programmed box's vendor requests.

// Pipes of the programmed box's interface: 1 bulk out (D/A), 2 bulk in (samples).

// The first frame at or after `ns` nanoseconds from the box's epoch. Split
// into whole seconds so that no product overflows, however long it runs.
std::uint64_t firstFrameAt(std::int64_t ns)
{
    if (ns <= 0) {
        return 0;
    }
    const auto seconds = static_cast<std::uint64_t>(ns / kNsPerSecond);
    const auto rest = static_cast<std::uint64_t>(ns % kNsPerSecond);
    return seconds * kFrameRate + (rest * kFrameRate + kNsPerSecond - 1) / kNsPerSecond;
}

// When frame `n` is due (its time rounded up to the nanosecond); also the
// time `n` D/A words take.
std::int64_t frameTimeNs(std::uint64_t n)
{
    const std::uint64_t seconds = n / kFrameRate;
    const std::uint64_t rest = n % kFrameRate;
    return static_cast<std::int64_t>(seconds * kNsPerSecond +
                                     (rest * kNsPerSecond + kFrameRate - 1) / kFrameRate);
}

// The angle of a periodic signal with `cyclesPerPeriod` cycles every
// `periodFrames` frames, at frame `n`: reduced in integers first, so that
// frame numbers far into a session keep their full precision.
double angleAt(std::uint64_t n, std::uint64_t cyclesPerPeriod, std::uint64_t periodFrames)
{
    const std::uint64_t m = cyclesPerPeriod * (n % periodFrames) % periodFrames;
    return 2.0 * std::numbers::pi * static_cast<double>(m) / static_cast<double>(periodFrames);
}

// Audio: a vowel-like tone, the first ten harmonics of 120 Hz with amplitudes
// falling as 1/h:  a(n) = sum_{h=1..10} 0.3 / h * sin(2 pi * 120 h * n / 22050).
// Its peak stays below 0.3 * (1 + 1/2 + ... + 1/10) = 0.879.
double audioSignal(std::uint64_t n)
{
    double sum = 0.0;
    for (std::uint64_t h = 1; h <= 10; ++h) {
        sum += 0.3 / static_cast<double>(h) * std::sin(angleAt(n, 120 * h, kFrameRate));
    }
    return sum;
}

// Analog channel 1: an EGG-like contact waveform at 120 Hz. With p the phase
// within the period (frac(120 n / 22050)), the contact e rises fast while the
// folds close (0 <= p < 0.1: e = sin^2(pi/2 * p / 0.1)), falls slowly while
// they open (0.1 <= p < 0.6: e = cos^2(pi/2 * (p - 0.1) / 0.5)) and is 0 while
// they are apart (0.6 <= p < 1); the signal is 0.8 e - 0.4.
double eggSignal(std::uint64_t n)
{
    const double p =
        static_cast<double>(120 * (n % kFrameRate) % kFrameRate) / static_cast<double>(kFrameRate);
    double e = 0.0;
    if (p < 0.1) {
        const double s = std::sin(std::numbers::pi / 2.0 * p / 0.1);
        e = s * s;
    } else if (p < 0.6) {
        const double c = std::cos(std::numbers::pi / 2.0 * (p - 0.1) / 0.5);
        e = c * c;
    }
    return 0.8 * e - 0.4;
}

// Analog channels 2..11 (slots 5..14): slow transducer signals, for k = slot
// - 5 a sine of (k + 1) * 0.2 Hz (0.2 to 2 Hz) at phase 0.6 k:
//   0.5 sin(2 pi (k + 1) n / 110250 + 0.6 k).
// Analog channel 12 (slot 15): a ramp from -0.8 to +0.8 every 10 s:
//   1.6 * (n mod 220500) / 220500 - 0.8.
double transducerSignal(std::size_t slot, std::uint64_t n)
{
    if (slot == 15) {
        constexpr std::uint64_t period = 10 * kFrameRate;
        return 1.6 * static_cast<double>(n % period) / static_cast<double>(period) - 0.8;
    }
    const std::uint64_t k = slot - 5;
    return 0.5 * std::sin(angleAt(n, k + 1, 5 * kFrameRate) + 0.6 * static_cast<double>(k));
}

std::int16_t toSample(double value)
{
    const double scaled = std::round(value * 32768.0);
    return static_cast<std::int16_t>(std::clamp(scaled, -32768.0, 32767.0));
}

enum class Kind { Loader, Box, Foreign };

class Device;

struct Transfer {
    std::uint64_t id = 0;          // submission order
    std::uint64_t interfaceId = 0; // the interface that queued it
    int pipe = 0;
    std::span<std::uint8_t> into;       // a read's buffer
    std::span<const std::uint8_t> from; // a write's buffer
    Completion done;
    std::int64_t submittedNs = 0;
};

// Everything the box is. The devices and interfaces it hands out hold it
// weakly, so that one kept past the box's end fails with kNoDevice.
struct Core {
    int channels = 9;
    std::function<SimulatedBox::Clock::time_point()> now;
    SimulatedBox::Clock::time_point epoch;
    std::weak_ptr<Core> self; // what the devices it hands out refer back to

    bool watching = false;
    std::uint16_t watchedVendor = 0;
    UsbTransport::Arrival arrived;
    UsbTransport::Removal removed;
    std::function<void()> pollFdsChanged; // kept; the wake descriptor never changes
    // Written whenever something reaches the box from outside handleEvents
    // (a request, a transfer, a plug), so that a main loop waiting on the
    // descriptors runs handleEvents and asks nextTimeout again.
    int wakeFd = -1;

    Core() : wakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~Core()
    {
        if (wakeFd >= 0) {
            ::close(wakeFd);
        }
    }
    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;
    void wake() const
    {
        if (wakeFd >= 0) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof one);
        }
    }
    void drainWake() const
    {
        if (wakeFd >= 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t read = ::read(wakeFd, &count, sizeof count);
        }
    }

    std::uint64_t nextKey = 1;
    std::uint64_t nextTransferId = 1;
    std::uint64_t nextInterfaceId = 1;
    std::shared_ptr<Device> box; // the box's attachment; null while unplugged
    std::vector<std::shared_ptr<Device>> foreign;
    bool reenumerate = false; // released after a good image: leaves and comes back

    // The loader.
    std::vector<std::uint8_t> ram = std::vector<std::uint8_t>(kRamBytes, 0);
    bool inReset = false;
    bool imageBad = false;
    std::size_t imageBytes = 0;

    // The programmed box.
    std::vector<SimulatedBox::ControlBlock> blocks;
    std::vector<std::uint8_t> requests;
    std::vector<std::uint16_t> received;
    std::vector<std::string> conflicts;
    bool sampling = false;
    bool playing = false;
    std::uint64_t nextFrame = 0;
    std::size_t frameOffset = 0; // bytes of frame nextFrame already sent (after a short read)
    std::size_t shortReadBytes = 0; // what each of the next shortReadsLeft reads delivers
    int shortReadsLeft = 0;
    std::int64_t playFreeNs = 0; // when the D/A can take the next queued block
    std::deque<Transfer> reads;
    std::deque<Transfer> writes;

    std::map<std::uint8_t, Status> failRequest;
    std::map<int, Status> failTransfer;
    std::chrono::microseconds loaderDelay{0}; // how long each RAM load request takes

    // Completions and notices waiting for handleEvents, in order.
    std::deque<std::function<void()>> events;
    std::map<int, std::size_t> inFlight;

    std::int64_t nowNs() const
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(now() - epoch).count();
    }

    bool attached(std::uint64_t key) const;
    void attachBox(std::uint16_t product);
    void arrive(const std::shared_ptr<Device>& device);
    void leave(const DeviceIdentity& identity, std::uint64_t key);
    void complete(Transfer transfer, Status status, std::size_t transferred);
    void cancel(std::optional<std::uint64_t> interfaceId, Status status);

    Status control(Kind kind, const ControlRequest& request, std::size_t& transferred);
    Status loaderRequest(const ControlRequest& request, std::size_t& transferred);
    Status boxRequest(const ControlRequest& request, std::size_t& transferred);

    // The bytes a read gets: as many as it asks (at most one block), ending
    // on a frame boundary; a short read as many as the test said, wherever
    // they end.
    std::size_t readBytes(const Transfer& read) const
    {
        const std::size_t asked = std::min(read.into.size(), kFramesPerBlock * kFrameBytes);
        if (shortReadsLeft > 0) {
            return std::min(asked, shortReadBytes);
        }
        return (frameOffset + asked) / kFrameBytes * kFrameBytes - frameOffset;
    }
    std::int64_t readDueNs() const
    {
        const std::size_t bytes = std::max<std::size_t>(readBytes(reads.front()), 1);
        return frameTimeNs(nextFrame + (frameOffset + bytes - 1) / kFrameBytes);
    }
    std::int64_t writeDueNs() const
    {
        const Transfer& write = writes.front();
        return std::max(playFreeNs, write.submittedNs) + frameTimeNs(write.from.size() / 2);
    }
    std::optional<std::int64_t> nextDueNs() const;
    // Completes every read and write whose time has come, in time order.
    void advance(std::int64_t nowNs);
};

class Device final : public UsbDevice {
public:
    Device(std::weak_ptr<Core> core, Kind kind, DeviceIdentity identity, std::uint64_t key)
        : m_core(std::move(core)), m_kind(kind), m_identity(identity), m_key(key)
    {
    }

    DeviceIdentity identity() const override { return m_identity; }
    std::uint64_t key() const override { return m_key; }

    Status open() override
    {
        if (!core()) {
            return kNoDevice;
        }
        m_open = true;
        return kSuccess;
    }
    void close() override { m_open = false; }
    int configurationCount() override { return core() ? 1 : 0; }
    Status configurationValue(int index, std::uint8_t& value) override
    {
        if (!core()) {
            return kNoDevice;
        }
        if (index != 0) {
            return kNotFound;
        }
        value = 1;
        return kSuccess;
    }
    Status setConfiguration(std::uint8_t value) override
    {
        if (!core()) {
            return kNoDevice;
        }
        if (!m_open) {
            return kError;
        }
        if (value != 1) {
            return kBadArgument;
        }
        m_configured = true;
        return kSuccess;
    }
    Status control(const ControlRequest& request, std::size_t& transferred) override
    {
        transferred = 0;
        Core* c = core();
        if (c == nullptr) {
            return kNoDevice;
        }
        if (!m_open) {
            return kError;
        }
        const Status status = c->control(m_kind, request, transferred);
        c->wake();
        return status;
    }
    Status openFirstInterface(std::unique_ptr<UsbInterface>& out) override;

private:
    // The box while this attachment lasts, else null.
    Core* core() const
    {
        const auto c = m_core.lock();
        return c && c->attached(m_key) ? c.get() : nullptr;
    }

    std::weak_ptr<Core> m_core;
    Kind m_kind;
    DeviceIdentity m_identity;
    std::uint64_t m_key;
    bool m_open = false;
    bool m_configured = false;
};

// The first interface: on the programmed box, pipe 1 bulk out (endpoint 2)
// and pipe 2 bulk in (endpoint 6); the loader and foreign devices show none.
class Interface final : public UsbInterface {
public:
    Interface(std::weak_ptr<Core> core, Kind kind, std::uint64_t key, std::uint64_t id)
        : m_core(std::move(core)), m_kind(kind), m_key(key), m_id(id)
    {
    }
    ~Interface() override
    {
        if (const auto c = m_core.lock()) {
            c->cancel(m_id, kAborted);
        }
    }

    std::uint8_t interfaceClass() const override { return 0xFF; }
    std::uint8_t interfaceSubClass() const override { return 0x00; }
    Status endpointCount(int& count) override
    {
        if (!core()) {
            return kNoDevice;
        }
        count = endpoints();
        return kSuccess;
    }
    Status pipeProperties(int pipeRef, PipeProperties& properties) override
    {
        if (!core()) {
            return kNoDevice;
        }
        if (pipeRef == 0) {
            properties = {.direction = 3, .number = 0, .transferType = 0, .maxPacketSize = 64};
        } else if (pipeRef == kWritePipe && endpoints() > 0) {
            properties = {.direction = 0, .number = 2, .transferType = 2, .maxPacketSize = 512};
        } else if (pipeRef == kReadPipe && endpoints() > 0) {
            properties = {.direction = 1, .number = 6, .transferType = 2, .maxPacketSize = 512};
        } else {
            return kBadArgument;
        }
        return kSuccess;
    }
    Status control(const ControlRequest& request, std::size_t& transferred) override
    {
        transferred = 0;
        Core* c = core();
        if (c == nullptr) {
            return kNoDevice;
        }
        const Status status = c->control(m_kind, request, transferred);
        c->wake();
        return status;
    }
    Status readPipeAsync(int pipeRef, std::span<std::uint8_t> buffer, Completion done) override
    {
        Core* c = core();
        if (c == nullptr) {
            return kNoDevice;
        }
        // A read takes whole frames: a buffer smaller than one cannot be filled.
        if (pipeRef != kReadPipe || endpoints() == 0 || buffer.size() < kFrameBytes || !done) {
            return kBadArgument;
        }
        c->reads.push_back(transfer(*c, pipeRef, std::move(done)));
        c->reads.back().into = buffer;
        c->wake();
        return kSuccess;
    }
    Status writePipeAsync(int pipeRef, std::span<const std::uint8_t> buffer,
                          Completion done) override
    {
        Core* c = core();
        if (c == nullptr) {
            return kNoDevice;
        }
        // The D/A takes whole 16-bit words.
        if (pipeRef != kWritePipe || endpoints() == 0 || buffer.empty() || buffer.size() % 2 != 0 ||
            !done) {
            return kBadArgument;
        }
        c->writes.push_back(transfer(*c, pipeRef, std::move(done)));
        c->writes.back().from = buffer;
        c->wake();
        return kSuccess;
    }
    void abortPipes() override
    {
        if (Core* c = core()) {
            c->cancel(m_id, kAborted);
            c->wake();
        }
    }

private:
    Core* core() const
    {
        const auto c = m_core.lock();
        return c && c->attached(m_key) ? c.get() : nullptr;
    }
    int endpoints() const { return m_kind == Kind::Box ? 2 : 0; }
    Transfer transfer(Core& c, int pipeRef, Completion done) const
    {
        Transfer t;
        t.id = c.nextTransferId++;
        t.interfaceId = m_id;
        t.pipe = pipeRef;
        t.done = std::move(done);
        t.submittedNs = c.nowNs();
        ++c.inFlight[pipeRef];
        return t;
    }

    std::weak_ptr<Core> m_core;
    Kind m_kind;
    std::uint64_t m_key;
    std::uint64_t m_id;
};

Status Device::openFirstInterface(std::unique_ptr<UsbInterface>& out)
{
    Core* c = core();
    if (c == nullptr) {
        return kNoDevice;
    }
    if (!m_open || !m_configured) {
        return kError;
    }
    out = std::make_unique<Interface>(m_core, m_kind, m_key, c->nextInterfaceId++);
    return kSuccess;
}

} // namespace

bool Core::attached(std::uint64_t key) const
{
    if (box && box->key() == key) {
        return true;
    }
    return std::any_of(foreign.begin(), foreign.end(),
                       [key](const auto& device) { return device->key() == key; });
}

void Core::arrive(const std::shared_ptr<Device>& device)
{
    if (!watching || device->identity().vendor != watchedVendor) {
        return;
    }
    events.push_back([this, device] {
        // A copy: the handler may arm the watch again and replace itself.
        const UsbTransport::Arrival handler = arrived;
        if (handler) {
            handler(device);
        }
    });
}

void Core::leave(const DeviceIdentity& identity, std::uint64_t key)
{
    if (!watching || identity.vendor != watchedVendor) {
        return;
    }
    events.push_back([this, identity, key] {
        const UsbTransport::Removal handler = removed;
        if (handler) {
            handler(identity, key);
        }
    });
}

void Core::attachBox(std::uint16_t product)
{
    box = std::make_shared<Device>(
        self, product == SimulatedBox::kBoxProduct ? Kind::Box : Kind::Loader,
        DeviceIdentity{SimulatedBox::kVendor, product, kRelease}, nextKey++);
}

void Core::complete(Transfer transfer, Status status, std::size_t transferred)
{
    events.push_back(
        [this, done = std::move(transfer.done), pipe = transfer.pipe, status, transferred] {
            --inFlight[pipe];
            done(status, transferred);
        });
}

void Core::cancel(std::optional<std::uint64_t> interfaceId, Status status)
{
    std::vector<Transfer> cancelled;
    for (auto* queue : {&reads, &writes}) {
        for (auto it = queue->begin(); it != queue->end();) {
            if (!interfaceId || it->interfaceId == *interfaceId) {
                cancelled.push_back(std::move(*it));
                it = queue->erase(it);
            } else {
                ++it;
            }
        }
    }
    std::sort(cancelled.begin(), cancelled.end(),
              [](const Transfer& a, const Transfer& b) { return a.id < b.id; });
    for (Transfer& t : cancelled) {
        complete(std::move(t), status, 0);
    }
}

Status Core::control(Kind kind, const ControlRequest& request, std::size_t& transferred)
{
    transferred = 0;
    if (kind == Kind::Foreign) {
        return kStall;
    }
    if (kind == Kind::Box) {
        requests.push_back(request.request);
    }
    if (const auto it = failRequest.find(request.request); it != failRequest.end()) {
        const Status status = it->second;
        failRequest.erase(it);
        return status;
    }
    return kind == Kind::Loader ? loaderRequest(request, transferred)
                                : boxRequest(request, transferred);
}

// The loader knows only the RAM load request. The write of 0x01 to the CPU
// control register holds the controller in reset and starts a new image; the
// write of 0x00 releases it, and if the image written meanwhile was good (at
// least one byte, every record of at most 16 bytes) the box re-enumerates at
// the next handleEvents. Writes outside the RAM are refused (kStall).
Status Core::loaderRequest(const ControlRequest& request, std::size_t& transferred)
{
    if (loaderDelay.count() > 0) {
        std::this_thread::sleep_for(loaderDelay);
    }
    if (request.request != kLoadRequest || request.requestType != kHostToDevice ||
        request.index != 0) {
        return kStall;
    }
    const std::size_t address = request.value;
    const std::size_t count = request.data.size();
    if (address == kCpuControl) {
        if (count != 1) {
            return kStall;
        }
        if (request.data[0] & 0x01) {
            inReset = true;
            imageBad = false;
            imageBytes = 0;
        } else if (inReset) {
            inReset = false;
            reenumerate = !imageBad && imageBytes > 0;
        }
        transferred = 1;
        return kSuccess;
    }
    if (address + count > kRamBytes) {
        return kStall;
    }
    if (count > kMaxRecordBytes || !inReset) {
        imageBad = true;
    }
    std::copy(request.data.begin(), request.data.end(),
              ram.begin() + static_cast<std::ptrdiff_t>(address));
    imageBytes += count;
    transferred = count;
    return kSuccess;
}

// The programmed box's requests, each with its one direction and length
// (wIndex 0; wValue 0 but for the control block's index). Anything else stalls.
Status Core::boxRequest(const ControlRequest& request, std::size_t& transferred)
{
    auto is = [&](std::uint8_t type, std::size_t length, bool anyValue) {
        return request.requestType == type && request.data.size() == length && request.index == 0 &&
               (anyValue || request.value == 0);
    };
    switch (request.request) {
    case kStartSampling:
        if (!is(kHostToDevice, 0, false)) {
            return kStall;
        }
        if (playing && !sampling) {
            conflicts.push_back("start of sampling while playing");
        }
        // Frames start from where the clock is, never going back over frames sent.
        if (!sampling) {
            sampling = true;
            if (frameOffset > 0) {
                // A frame half sent is not finished: the stream starts afresh.
                ++nextFrame;
                frameOffset = 0;
            }
            nextFrame = std::max(nextFrame, firstFrameAt(nowNs()));
        }
        return kSuccess;
    case kStartPlayback:
        if (!is(kHostToDevice, 0, false)) {
            return kStall;
        }
        if (sampling && !playing) {
            conflicts.push_back("start of playback while sampling");
        }
        if (!playing) {
            playing = true;
            playFreeNs = nowNs();
        }
        return kSuccess;
    case kStop:
        if (!is(kHostToDevice, 0, false)) {
            return kStall;
        }
        if (sampling && playing) {
            conflicts.push_back("stop while sampling and playing");
        }
        // A block half sampled or half played is dropped; its transfer waits.
        sampling = false;
        playing = false;
        return kSuccess;
    case kSetControl: {
        if (!is(kHostToDevice, kControlBlockBytes, true)) {
            return kStall;
        }
        SimulatedBox::ControlBlock block;
        block.index = request.value;
        std::copy(request.data.begin(), request.data.end(), block.bytes.begin());
        blocks.push_back(block);
        transferred = kControlBlockBytes;
        return kSuccess;
    }
    case kReadConfiguration:
        if (!is(kDeviceToHost, kControlBlockBytes, false)) {
            return kStall;
        }
        std::fill(request.data.begin(), request.data.end(), std::uint8_t{0});
        request.data[0] = static_cast<std::uint8_t>(channels);
        transferred = kControlBlockBytes;
        return kSuccess;
    default:
        return kStall;
    }
}

std::optional<std::int64_t> Core::nextDueNs() const
{
    std::optional<std::int64_t> due;
    if (sampling && !reads.empty()) {
        due = readDueNs();
    }
    if (playing && !writes.empty()) {
        due = due ? std::min(*due, writeDueNs()) : writeDueNs();
    }
    return due;
}

void Core::advance(std::int64_t atNs)
{
    for (;;) {
        const bool readReady = sampling && !reads.empty() && readDueNs() <= atNs;
        const bool writeReady = playing && !writes.empty() && writeDueNs() <= atNs;
        if (!readReady && !writeReady) {
            return;
        }
        const bool takeRead = readReady && (!writeReady || readDueNs() <= writeDueNs());
        if (takeRead) {
            Transfer read = std::move(reads.front());
            reads.pop_front();
            const std::size_t bytes = readBytes(read);
            if (shortReadsLeft > 0) {
                --shortReadsLeft;
            }
            const std::uint64_t first = nextFrame;
            const std::size_t offset = frameOffset;
            nextFrame += (offset + bytes) / kFrameBytes;
            frameOffset = (offset + bytes) % kFrameBytes;
            if (const auto it = failTransfer.find(kReadPipe); it != failTransfer.end()) {
                const Status status = it->second;
                failTransfer.erase(it);
                complete(std::move(read), status, 0);
                continue;
            }
            // Byte p of this read is byte (offset + p) of the frames from `first` on.
            std::array<std::uint8_t, kFrameBytes> frame{};
            for (std::size_t p = 0; p < bytes; ++p) {
                const std::size_t at = offset + p;
                if (p == 0 || at % kFrameBytes == 0) {
                    const std::uint64_t n = first + at / kFrameBytes;
                    const std::int16_t audio = toSample(audioSignal(n));
                    for (std::size_t slot = 0; slot < SimulatedBox::kSlots; ++slot) {
                        const auto v = static_cast<std::uint16_t>(
                            slot < 4 ? audio : SimulatedBox::slotValue(slot, n));
                        frame[2 * slot] = static_cast<std::uint8_t>(v & 0xFF);
                        frame[2 * slot + 1] = static_cast<std::uint8_t>(v >> 8);
                    }
                }
                read.into[p] = frame[at % kFrameBytes];
            }
            complete(std::move(read), kSuccess, bytes);
        } else {
            const std::int64_t end = writeDueNs();
            Transfer write = std::move(writes.front());
            writes.pop_front();
            playFreeNs = end;
            if (const auto it = failTransfer.find(kWritePipe); it != failTransfer.end()) {
                const Status status = it->second;
                failTransfer.erase(it);
                complete(std::move(write), status, 0);
                continue;
            }
            for (std::size_t i = 0; i + 1 < write.from.size(); i += 2) {
                received.push_back(
                    static_cast<std::uint16_t>(write.from[i] | write.from[i + 1] << 8));
            }
            const std::size_t bytes = write.from.size();
            complete(std::move(write), kSuccess, bytes);
        }
    }
}

struct SimulatedBox::State {
    std::shared_ptr<Core> core = std::make_shared<Core>();
};

SimulatedBox::SimulatedBox(int channels, std::function<Clock::time_point()> now)
    : m_state(std::make_unique<State>())
{
    Core& core = *m_state->core;
    core.channels = channels;
    core.now = std::move(now);
    core.epoch = core.now();
    core.self = m_state->core;
}

SimulatedBox::~SimulatedBox() = default;

double SimulatedBox::signal(std::size_t slot, std::uint64_t frame)
{
    if (slot < 4) {
        return audioSignal(frame);
    }
    if (slot == 4) {
        return eggSignal(frame);
    }
    if (slot < kSlots) {
        return transducerSignal(slot, frame);
    }
    return 0.0;
}

std::int16_t SimulatedBox::slotValue(std::size_t slot, std::uint64_t frame)
{
    return toSample(signal(slot, frame));
}

// A box plugged in is a fresh one: no image, nothing received yet.
void SimulatedBox::plug()
{
    Core& core = *m_state->core;
    if (core.box) {
        return;
    }
    core.ram.assign(kRamBytes, 0);
    core.inReset = false;
    core.imageBad = false;
    core.imageBytes = 0;
    core.blocks.clear();
    core.requests.clear();
    core.received.clear();
    core.conflicts.clear();
    core.sampling = false;
    core.playing = false;
    core.frameOffset = 0;
    core.shortReadsLeft = 0;
    core.attachBox(kLoaderProduct);
    core.arrive(core.box);
    core.wake();
}

void SimulatedBox::unplug()
{
    Core& core = *m_state->core;
    if (!core.box) {
        return;
    }
    core.cancel(std::nullopt, kNoDevice);
    core.sampling = false;
    core.playing = false;
    core.reenumerate = false;
    const auto gone = std::move(core.box);
    core.box.reset();
    core.leave(gone->identity(), gone->key());
    core.wake();
}

bool SimulatedBox::plugged() const
{
    return m_state->core->box != nullptr;
}

void SimulatedBox::plugForeign(std::uint16_t product)
{
    Core& core = *m_state->core;
    core.foreign.push_back(std::make_shared<Device>(
        core.self, Kind::Foreign, DeviceIdentity{kVendor, product, kRelease}, core.nextKey++));
    core.arrive(core.foreign.back());
    core.wake();
}

void SimulatedBox::failNextRequest(std::uint8_t request, Status status)
{
    m_state->core->failRequest[request] = status;
}

void SimulatedBox::setLoaderDelay(std::chrono::microseconds delay)
{
    m_state->core->loaderDelay = delay;
}

void SimulatedBox::shortenReads(std::size_t bytes, int count)
{
    m_state->core->shortReadBytes = bytes;
    m_state->core->shortReadsLeft = count;
}

void SimulatedBox::failNextTransfer(int pipeRef, Status status)
{
    m_state->core->failTransfer[pipeRef] = status;
}

const std::vector<SimulatedBox::ControlBlock>& SimulatedBox::controlBlocks() const
{
    return m_state->core->blocks;
}

const std::vector<std::uint8_t>& SimulatedBox::requests() const
{
    return m_state->core->requests;
}

const std::vector<std::uint8_t>& SimulatedBox::ram() const
{
    return m_state->core->ram;
}

bool SimulatedBox::inReset() const
{
    return m_state->core->inReset;
}

bool SimulatedBox::programmed() const
{
    const auto& box = m_state->core->box;
    return box && box->identity().product == kBoxProduct;
}

bool SimulatedBox::sampling() const
{
    return m_state->core->sampling;
}

bool SimulatedBox::playing() const
{
    return m_state->core->playing;
}

std::uint64_t SimulatedBox::nextFrame() const
{
    return m_state->core->nextFrame;
}

const std::vector<std::uint16_t>& SimulatedBox::received() const
{
    return m_state->core->received;
}

const std::vector<std::string>& SimulatedBox::conflicts() const
{
    return m_state->core->conflicts;
}

std::size_t SimulatedBox::inFlight(int pipeRef) const
{
    const auto& inFlight = m_state->core->inFlight;
    const auto it = inFlight.find(pipeRef);
    return it == inFlight.end() ? 0 : it->second;
}

Status SimulatedBox::watch(std::uint16_t vendor, Arrival arrived, Removal removed,
                           std::string& error)
{
    error.clear();
    Core& core = *m_state->core;
    core.watching = true;
    core.watchedVendor = vendor;
    core.arrived = std::move(arrived);
    core.removed = std::move(removed);
    // Devices already attached arrive at the next handleEvents.
    if (core.box) {
        core.arrive(core.box);
    }
    for (const auto& device : core.foreign) {
        core.arrive(device);
    }
    return kSuccess;
}

std::vector<UsbTransport::PollFd> SimulatedBox::pollFds()
{
    const int fd = m_state->core->wakeFd;
    if (fd < 0) {
        return {};
    }
    return {PollFd{fd, POLLIN}};
}

void SimulatedBox::onPollFdsChanged(std::function<void()> changed)
{
    m_state->core->pollFdsChanged = std::move(changed);
}

std::optional<std::chrono::milliseconds> SimulatedBox::nextTimeout()
{
    const Core& core = *m_state->core;
    if (!core.events.empty() || core.reenumerate) {
        return std::chrono::milliseconds(0);
    }
    const auto due = core.nextDueNs();
    if (!due) {
        return std::nullopt;
    }
    const std::int64_t waitNs = std::max<std::int64_t>(0, *due - core.nowNs());
    return std::chrono::milliseconds((waitNs + 999'999) / 1'000'000);
}

void SimulatedBox::handleEvents()
{
    // Held here so that a handler that ends the box does not end this loop's core.
    const std::shared_ptr<Core> core = m_state->core;
    core->drainWake();
    const std::int64_t atNs = core->nowNs();
    if (core->reenumerate) {
        // The released controller leaves the bus and comes back programmed.
        core->reenumerate = false;
        const auto loader = std::move(core->box);
        core->box.reset();
        core->cancel(std::nullopt, kNoDevice);
        core->leave(loader->identity(), loader->key());
        core->attachBox(kBoxProduct);
        core->arrive(core->box);
    }
    core->advance(atNs);
    while (!core->events.empty()) {
        auto event = std::move(core->events.front());
        core->events.pop_front();
        event();
        core->advance(atNs);
    }
}

} // namespace phonaxis::usb
