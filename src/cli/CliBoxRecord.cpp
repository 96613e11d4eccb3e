#include "cli/CliBoxRecord.h"

#include "cli/CliCommands.h"
#include "document/AutomaticPrompts.h"
#include "document/FileIO.h"
#include "document/PrivateFiles.h"
#include "hardware/BoxOptions.h"
#include "hardware/BoxRecording.h"
#include "hardware/FirmwareImage.h"
#include "hardware/SimulatedBox.h"
#include "hardware/libusb/LibUsbTransport.h"

#include <algorithm>
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

// Runs the transport's events, waiting on its descriptors and timeouts,
// until `done` or `deadline`. `tick` runs after every pass.
void runEvents(usb::UsbTransport& transport, Clock::time_point deadline,
               const std::function<bool()>& done, const std::function<void()>& tick = {})
{
    while (!done()) {
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            return;
        milliseconds wait = std::min(
            kLongestWait, std::chrono::ceil<milliseconds>(deadline - now));
        if (const auto next = transport.nextTimeout())
            wait = std::clamp(*next, milliseconds(0), wait);
        std::vector<pollfd> fds;
        for (const auto& fd : transport.pollFds())
            fds.push_back(pollfd{fd.fd, fd.events, 0});
        ::poll(fds.data(), fds.size(), static_cast<int>(wait.count()));
        transport.handleEvents();
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
    if (!executableFolder().empty())
        box.builtFirmwarePath =
            (executableFolder() / ".." / "data" / "firmware.hex").lexically_normal().string();
    return box;
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
    std::optional<int> simulated = options.simulateBox;
    std::string error;
    if (!simulated) {
        if (const char* value = std::getenv("PHONAXIS_SIMULATE_BOX"); value && *value) {
            simulated = simulatedChannelsFrom(value, error);
            if (!simulated) {
                err << kPrefix << "PHONAXIS_SIMULATE_BOX: " << error << "\n";
                return kExitUsage;
            }
        }
    }

    const BoxOptions choice = boxOptions(options, simulated.value_or(0));
    std::optional<FirmwareImage> image = firmwareFor(choice, error);
    if (!image && firmwareAskedFor(choice)) {
        err << kPrefix << error << "\n";
        return kExitFailure;
    }

    // The transport, the connection and the session, torn down in the
    // reverse order.
    std::unique_ptr<usb::UsbTransport> transport;
    if (simulated) {
        auto box = std::make_unique<usb::SimulatedBox>(*simulated);
        box->plug();
        transport = std::move(box);
    } else {
        auto bus = std::make_unique<usb::LibUsbTransport>();
        bus->setConsole([&err](const std::string& text) {
            err << kPrefix << text << (text.ends_with('\n') ? "" : "\n");
        });
        transport = std::move(bus);
    }
    ConsoleAnnouncer announcer(err);
    // The protocol's diagnostic lines (one per block) are not for a script;
    // the last one tells why the bus could not be watched.
    std::string lastLine;
    auto connection = BoxConnection::create(
        *transport, [&lastLine](const std::string& text) { lastLine = text; }, announcer);
    connection->setFirmware(std::move(image), error, false);
    USB2Hardware hardware(connection);
    if (hardware.FindLoadDevice() != usb::kSuccess) {
        err << kPrefix << lastLine << (lastLine.ends_with('\n') ? "" : "\n");
        return kExitFailure;
    }
    runEvents(*transport, Clock::now() + kBoxWait, [&] {
        return connection->haveHardware() && connection->haveInterface();
    });
    if (!connection->haveInterface()) {
        err << kPrefix << "no acquisition box was found\n";
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
    runEvents(
        *transport, Clock::time_point::max(),
        [&] { return listener.end.has_value() || stalled || session->recordedFrames() >= wanted; },
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
            *transport, Clock::now() + kSaveWait, [&] { return listener.end.has_value(); },
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

} // namespace phonaxis::cli
