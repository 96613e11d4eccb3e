#include "cli/CliBoxRecord.h"

#include "cli/CliCommands.h"
#include "cli/CliInterrupt.h"
#include "document/AutomaticPrompts.h"
#include "document/FileIO.h"
#include "document/PrivateFiles.h"
#include "hardware/BoxOptions.h"
#include "hardware/BoxRecording.h"
#include "hardware/FirmwareImage.h"
#include "hardware/SimulatedBox.h"
#include "hardware/libusb/LibUsbTransport.h"

#include <algorithm>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>

#include <poll.h>
#include <unistd.h>

namespace phonaxis::cli {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr const char* kPrefix = "phonaxis-cli: ";
// How long the box may take to be found (a bare loader is programmed and
// comes back first), and how long a save may take to end the stream beyond
// the session's own stop timeout.
constexpr std::chrono::seconds kBoxWait{10};
constexpr std::chrono::seconds kSaveWait{10};
// A box that sends nothing for this long while recording has stopped: the
// recording ends with what was received.
constexpr std::chrono::seconds kStallWait{10};
// The longest the loop sleeps: the session's stop timeout is checked at
// this pace.
constexpr milliseconds kLongestWait{100};

// Alerts of the box (found, removed, no firmware) go to stderr; there is no
// one to beep at.
class ConsoleAnnouncer final : public HardwareAnnouncer {
public:
    explicit ConsoleAnnouncer(std::ostream& err) : m_err(err) {}
    void beep() override {}
    void alert(const std::string& title, const std::string& message,
               const std::string& /*button*/) override
    {
        m_err << kPrefix << title << ":" << message << "\n";
    }

private:
    std::ostream& m_err;
};

struct SessionEnd final : BoxRecordSession::Listener {
    std::optional<BoxRecordSession::End> end;
    void blockArrived(std::span<const std::uint8_t> /*block*/) override {}
    void sessionEnded(BoxRecordSession::End how) override { end = how; }
};

// Runs the box protocol's events, waiting on the transport's descriptors and
// timeouts, until `done` or `deadline`. `tick` runs after every pass. While
// a firmware download runs on its worker the transport is left alone: only
// the download's end is looked for.
void runEvents(USB2Hardware& hardware, Clock::time_point deadline,
               const std::function<bool()>& done, const std::function<void()>& tick = {})
{
    usb::UsbTransport& transport = hardware.connection().transport;
    while (!done()) {
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            return;
        milliseconds wait = std::min(
            kLongestWait, std::chrono::ceil<milliseconds>(deadline - now));
        if (const auto next = hardware.nextTimeout())
            wait = std::clamp(*next, milliseconds(0), wait);
        std::vector<pollfd> fds;
        if (!hardware.downloading()) {
            for (const auto& fd : transport.pollFds())
                fds.push_back(pollfd{fd.fd, fd.events, 0});
        }
        ::poll(fds.data(), fds.size(), static_cast<int>(wait.count()));
        hardware.handleEvents();
        if (tick)
            tick();
    }
}

// The folder of this executable, or "" when the system does not tell.
std::filesystem::path executableFolder()
{
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : self.parent_path();
}

// The application's data folder, where the desktop looks for the image too:
// $XDG_DATA_HOME/Phonaxis, else ~/.local/share/Phonaxis.
std::filesystem::path dataFolder()
{
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/')
        return std::filesystem::path(data) / "Phonaxis";
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return std::filesystem::path(home) / ".local" / "share" / "Phonaxis";
    return {};
}

// The box options by the desktop's rules: the image named with --firmware
// or PHONAXIS_FIRMWARE, the data folder's, and the one made at build time
// beside the executables.
BoxOptions boxOptions(const Options& options, int simulatedChannels)
{
    BoxOptions box;
    box.simulatedChannels = simulatedChannels;
    box.firmwarePath = options.firmwarePath.value_or(std::string());
    if (box.firmwarePath.empty()) {
        if (const char* value = std::getenv("PHONAXIS_FIRMWARE"); value && *value)
            box.firmwarePath = value;
    }
    if (!dataFolder().empty())
        box.defaultFirmwarePath = (dataFolder() / "firmware.hex").string();
    box.builtFirmwarePath = builtFirmwareBeside(executableFolder().string());
    return box;
}

// The simulated box asked for with --simulate-box=N, else PHONAXIS_SIMULATE_BOX;
// nothing for the USB bus. False (after a message) for a wrong value.
bool simulatedChoice(const Options& options, std::optional<int>& simulated, std::ostream& err)
{
    simulated = options.simulateBox;
    if (simulated)
        return true;
    if (const char* value = std::getenv("PHONAXIS_SIMULATE_BOX"); value && *value) {
        std::string error;
        simulated = simulatedChannelsFrom(value, error);
        if (!simulated) {
            err << kPrefix << "PHONAXIS_SIMULATE_BOX: " << error << "\n";
            return false;
        }
    }
    return true;
}

// The transport, the connection and the protocol of one command, torn down
// in the reverse order (a download still running is cancelled and waited
// for with the connection).
struct BoxLink {
    std::unique_ptr<usb::UsbTransport> transport;
    std::unique_ptr<ConsoleAnnouncer> announcer;
    std::string lastLine; // the protocol's last console line
    std::shared_ptr<BoxConnection> connection;
    std::unique_ptr<USB2Hardware> hardware;
};

// Makes the link: the simulated box (plugged in) or the USB bus, with `image`.
std::unique_ptr<BoxLink> makeLink(std::optional<int> simulated,
                                  std::optional<FirmwareImage> image, const std::string& error,
                                  std::ostream& err)
{
    auto link = std::make_unique<BoxLink>();
    if (simulated) {
        auto box = std::make_unique<usb::SimulatedBox>(*simulated);
        box->plug();
        link->transport = std::move(box);
    } else {
        auto bus = std::make_unique<usb::LibUsbTransport>();
        bus->setConsole([&err](const std::string& text) {
            err << kPrefix << text << (text.ends_with('\n') ? "" : "\n");
        });
        link->transport = std::move(bus);
    }
    link->announcer = std::make_unique<ConsoleAnnouncer>(err);
    // The protocol's diagnostic lines (one per block) are not for a script;
    // the last one tells why the bus could not be watched.
    link->connection = BoxConnection::create(
        *link->transport, [raw = link.get()](const std::string& text) { raw->lastLine = text; },
        *link->announcer);
    link->connection->setFirmware(std::move(image), error, false);
    link->hardware = std::make_unique<USB2Hardware>(link->connection);
    return link;
}

// Waits for a programmed box, at most kBoxWait all told: a bare loader is
// programmed first, and a download still running then is cancelled (the
// box stays in reset). True when a box answered; otherwise `why` says why
// not.
bool findBox(BoxLink& link, std::string& why)
{
    USB2Hardware& hardware = *link.hardware;
    const BoxConnection& c = *link.connection;
    if (hardware.FindLoadDevice() != usb::kSuccess) {
        why = link.lastLine;
        while (!why.empty() && why.back() == '\n')
            why.pop_back();
        return false;
    }
    runEvents(hardware, Clock::now() + kBoxWait,
              [&] { return c.haveHardware() && c.haveInterface(); });
    if (c.haveInterface())
        return true;
    const std::string waited = std::to_string(kBoxWait.count()) + " s";
    if (hardware.downloading()) {
        const int written = hardware.downloadWritten();
        const int total = hardware.downloadTotal();
        hardware.cancelDownload();
        hardware.awaitDownload();
        why = "the firmware download to the acquisition box did not finish within " + waited +
              " (" + std::to_string(written) + " of " + std::to_string(total) +
              " records written): it was stopped, and the box is held in reset, without "
              "firmware; unplug it and plug it in again to retry";
        return false;
    }
    if (c.problem.kind != BoxProblem::Kind::None) {
        why = c.problem.sentence;
        return false;
    }
    if (c.lastDownload && c.lastDownload->ok()) {
        why = "the firmware was loaded into the acquisition box, but it did not come back as "
              "the programmed box within " + waited;
        return false;
    }
    why = "no acquisition box was found within " + waited + " (is it plugged in?)";
    return false;
}

// Seconds as the recording's summary line gives them, to the hundredth.
std::string secondsText(double seconds)
{
    return messageNumber(seconds, 2, 2);
}

} // namespace

int boxRecordCommand(const Options& options, std::ostream& out, std::ostream& err)
{
    if (const int usage =
            checkRecordLine(options, "pmf", "record --box writes a native file", err)) {
        return usage;
    }
    const std::string& outPath = options.positional[0];
    std::optional<int> simulated;
    if (!simulatedChoice(options, simulated, err))
        return kExitUsage;
    std::string error;
    const BoxOptions choice = boxOptions(options, simulated.value_or(0));
    std::optional<FirmwareImage> image = firmwareFor(choice, error);
    if (!image && firmwareAskedFor(choice)) {
        err << kPrefix << error << "\n";
        return kExitFailure;
    }

    const std::unique_ptr<BoxLink> link = makeLink(simulated, std::move(image), error, err);
    USB2Hardware& hardware = *link->hardware;
    const std::shared_ptr<BoxConnection>& connection = link->connection;
    std::string why;
    if (!findBox(*link, why)) {
        err << kPrefix << why << "\n";
        return kExitFailure;
    }
    const int systemChannels = connection->systemChannelNumber();

    // The launch defaults, with the entries asked for: the desktop's
    // settings are neither read nor changed.
    AppSettings settings;
    const int entries = std::min(systemChannels, 13);
    if (options.boxChannels) {
        for (const int entry : *options.boxChannels) {
            if (entry >= entries) {
                err << kPrefix << "--channels: the box has " << systemChannels
                    << " channels (entries 0 to " << entries - 1 << "), not " << entry << "\n";
                return kExitUsage;
            }
        }
        for (int e = 0; e < entries; ++e) {
            const bool on = std::ranges::find(*options.boxChannels, e) != options.boxChannels->end();
            settings.g_ChannelInfo[static_cast<std::size_t>(e)].bOnOff = on ? 1 : 0;
        }
    }

    // OUT is checked before a second is recorded: a folder, a missing
    // folder, a write-protected file or a disk without room for the channels
    // would otherwise be found only after the recording.
    int enabled = 0;
    for (int e = 0; e < entries; ++e)
        enabled += settings.g_ChannelInfo[static_cast<std::size_t>(e)].bOnOff != 0 ? 1 : 0;
    const double outBytes = *options.seconds * kBoxFrameRate * 4.0 * std::max(enabled, 1);
    if (!checkWritable(outPath, static_cast<std::uint64_t>(std::min(outBytes, 1.0e18)), error)) {
        if (error.ends_with('.'))
            error.pop_back();
        err << kPrefix << error << "; nothing was recorded\n";
        return kExitFailure;
    }

    SessionEnd listener;
    auto session = std::make_unique<BoxRecordSession>(hardware, settings,
                                                      privateTemporaryFolder(), listener);
    if (!session->start(audioControlsFrom(settings), analogControlsFrom(settings.g_ChannelInfo),
                        error) ||
        !session->record(error)) {
        err << kPrefix << error << "\n";
        return kExitFailure;
    }
    const auto wanted = static_cast<std::uint64_t>(std::llround(*options.seconds * kBoxFrameRate));
    // A box that goes quiet (no block, no failure) must not hang the
    // command, nor a drain after a failed write.
    bool stalled = false;
    std::uint64_t lastFrames = 0;
    Clock::time_point lastProgress = Clock::now();
    // An interrupt (Ctrl+C) or a termination ends the recording early and
    // saves what was received, rather than leaving it to the next launch.
    const InterruptGuard interrupts;
    runEvents(
        hardware, Clock::time_point::max(),
        [&] {
            return listener.end.has_value() || stalled || interrupts.interrupted() ||
                   session->recordedFrames() >= wanted;
        },
        [&] {
            session->checkStopTimeout();
            if (session->recordedFrames() != lastFrames) {
                lastFrames = session->recordedFrames();
                lastProgress = Clock::now();
            } else if (session->state() == BoxRecordSession::State::Recording &&
                       Clock::now() - lastProgress > kStallWait) {
                stalled = true;
            }
        });
    if (!listener.end) {
        session->save();
        runEvents(
            hardware, Clock::now() + kSaveWait, [&] { return listener.end.has_value(); },
            [&] { session->checkStopTimeout(); });
        if (!listener.end) {
            // Beyond every timeout: end it here, keeping the file.
            hardware.cancel();
            listener.end = BoxRecordSession::End::StopTimeout;
        }
    }
    const BoxRecordSession::End end = *listener.end;
    const std::filesystem::path raw = session->recordingPath();

    // What came after the time asked for is not part of the recording.
    const std::uint64_t frames = std::min(session->recordedFrames(), wanted);
    std::error_code ec;
    std::filesystem::resize_file(raw, frames * kFrameBytes, ec);
    if (ec) {
        err << kPrefix << systemError("Cannot shorten", raw.string(), ec.value()) << "\n";
        return kExitFailure;
    }

    AutomaticPrompts prompts(&err, kPrefix);
    auto batch = std::make_unique<BatchDocument>(prompts);
    MyDocument& document = batch->document;
    const RecordingInfo& info = session->info();
    if (document.Read_RecordedFile_X2(raw.string(), info.table, info.systemChannels) != 0) {
        err << kPrefix << "the recording could not be read; it stays in \"" << raw.string()
            << "\"\n";
        return kExitFailure;
    }
    const std::optional<Bytes> bytes = document.Save_KVQ_PC_Float_FileType(false);
    if (!bytes || !writeFileAtomically(outPath, *bytes, error)) {
        err << kPrefix << (bytes ? error : "\"" + outPath + "\" was not written")
            << "; the recording stays in \"" << raw.string() << "\"\n";
        return kExitFailure;
    }
    session->discardRecording();

    const double seconds = static_cast<double>(frames) / kBoxFrameRate;
    out << "recorded " << secondsText(seconds) << " s (" << frames << " frames at 22050 Hz) from a "
        << systemChannels << "-channel " << (simulated ? "simulated " : "") << "box:";
    for (int c = 0; c < document.m_nNumofChannels; ++c)
        out << (c == 0 ? " " : ", ") << document.getChannel(c).GetTitle();
    out << "\nwrote " << outPath << "\n";
    if (const BoxConnection::ShortReads lacking = session->shortReads(); lacking.reads > 0) {
        err << kPrefix << lacking.reads << " reads from the box brought fewer bytes than asked ("
            << lacking.bytesShort << " bytes short in all); only what came was recorded";
        if (lacking.bytesDropped > 0)
            err << ", and " << lacking.bytesDropped << " bytes of a frame cut short were left out";
        err << "\n";
    }

    if (stalled) {
        err << kPrefix << "the acquisition box stopped sending after " << secondsText(seconds)
            << " s; " << outPath << " holds what was received\n";
        return kExitFailure;
    }
    if (interrupts.interrupted()) {
        err << kPrefix << "interrupted after " << secondsText(seconds) << " s; " << outPath
            << " holds what was recorded\n";
        return kExitFailure;
    }
    switch (end) {
    case BoxRecordSession::End::Saved:
    case BoxRecordSession::End::Cancelled:
        return kExitOk;
    case BoxRecordSession::End::StopTimeout:
        err << kPrefix << "the box did not stop in time; the recording was kept whole\n";
        return frames >= wanted ? kExitOk : kExitFailure;
    case BoxRecordSession::End::BoxGone:
        err << kPrefix << "the acquisition box went away after " << secondsText(seconds)
            << " s; " << outPath << " holds what was received\n";
        return kExitFailure;
    case BoxRecordSession::End::WriteFailed:
        err << kPrefix << session->writeError() << "; " << outPath << " holds the "
            << secondsText(seconds) << " s written\n";
        return kExitFailure;
    }
    return kExitFailure;
}

namespace {

std::string hex4(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value & 0xFFFFu);
    return text;
}

const char* directionWord(std::uint8_t direction)
{
    return direction == 0 ? "out" : direction == 1 ? "in" : direction == 2 ? "none" : "any";
}

const char* transferWord(std::uint8_t type)
{
    switch (type) {
    case 0:
        return "control";
    case 1:
        return "isochronous";
    case 2:
        return "bulk";
    case 3:
        return "interrupt";
    default:
        return "unknown";
    }
}

} // namespace

std::vector<std::string> boxInputs(const Options& options)
{
    if (!options.box && !options.firmwarePath && !options.simulateBox)
        return {};
    std::optional<int> simulated = options.simulateBox;
    if (!simulated) {
        if (const char* value = std::getenv("PHONAXIS_SIMULATE_BOX"); value && *value) {
            std::string ignored;
            simulated = simulatedChannelsFrom(value, ignored);
        }
    }
    const std::string path = firmwarePathFor(boxOptions(options, simulated.value_or(0)));
    return path.empty() ? std::vector<std::string>{} : std::vector<std::string>{path};
}

int boxCommand(const Options& options, std::ostream& out, std::ostream& err)
{
    if (!options.positional.empty()) {
        err << kPrefix << "box takes no file (phonaxis-cli box --help tells more)\n";
        return kExitUsage;
    }
    std::optional<int> simulated;
    if (!simulatedChoice(options, simulated, err))
        return kExitUsage;
    std::string error;
    const BoxOptions choice = boxOptions(options, simulated.value_or(0));
    const std::string firmwarePath = firmwarePathFor(choice);
    std::optional<FirmwareImage> image = firmwareFor(choice, error);
    if (!image && firmwareAskedFor(choice)) {
        err << kPrefix << error << "\n";
        return kExitFailure;
    }
    std::optional<std::pair<std::size_t, std::size_t>> imageSize;
    if (image)
        imageSize.emplace(FirmwareDownload::recordsToLoad(*image).size(), image->dataBytes());

    const std::unique_ptr<BoxLink> link = makeLink(simulated, std::move(image), error, err);
    std::string why;
    if (!findBox(*link, why)) {
        err << kPrefix << why << "\n";
        return kExitFailure;
    }
    const BoxConnection& c = *link->connection;
    const usb::DeviceIdentity id = c.device->identity();
    out << "acquisition box: " << c.systemChannelNumber() << " channels"
        << (simulated ? " (simulated)" : "") << "\n";
    out << "  USB device: vendor " << hex4(id.vendor) << ", product " << hex4(id.product)
        << ", release " << hex4(id.release) << "\n";
    if (c.lastDownload && c.lastDownload->ok() && imageSize) {
        out << "  firmware: " << firmwarePath << " (" << imageSize->first << " records, "
            << imageSize->second << " bytes), loaded into its controller\n";
    } else {
        out << "  firmware: already running (the box was programmed before)\n";
    }
    int endpoints = 0;
    if (c.iface->endpointCount(endpoints) != usb::kSuccess)
        endpoints = 0;
    out << "  interface: class " << static_cast<int>(c.iface->interfaceClass()) << ", subclass "
        << static_cast<int>(c.iface->interfaceSubClass()) << ", " << endpoints << " endpoints\n";
    for (int pipe = 1; pipe <= endpoints; ++pipe) {
        usb::PipeProperties properties;
        const usb::Status status = c.iface->pipeProperties(pipe, properties);
        out << "  pipe " << pipe << ": ";
        if (status != usb::kSuccess) {
            char text[16];
            std::snprintf(text, sizeof text, "%08x", status);
            out << "its properties could not be read (" << text << ")\n";
            continue;
        }
        out << "endpoint " << static_cast<int>(properties.number) << " "
            << directionWord(properties.direction) << ", " << transferWord(properties.transferType)
            << ", " << properties.maxPacketSize << "-byte packets\n";
    }
    return kExitOk;
}

} // namespace phonaxis::cli
