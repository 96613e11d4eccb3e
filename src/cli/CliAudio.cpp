#include "cli/CliAudio.h"

#include "audio/AudioFileRecorder.h"
#include "audio/LeftSoundRecordings.h"
#include "audio/AudioNoticeQueue.h"
#include "audio/AudioPlayer.h"
#include "audio/FloatWav.h"
#include "audio/portaudio/PortAudioBackend.h"
#include "cli/CliCommands.h"
#include "cli/CliInterrupt.h"
#include "document/AutomaticPrompts.h"
#include "document/FileIO.h"
#include "document/NumberText.h"
#include "document/PrivateFiles.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ostream>

namespace phonaxis::cli {

namespace {

constexpr const char* kPrefix = "phonaxis-cli: ";

// How long past the expected end a play or recording may go without a
// notice before it is given up as stuck (a device that stopped running).
constexpr std::chrono::seconds kNoticeTimeout{10};

int failWith(std::ostream& err, const std::string& message) {
    err << kPrefix << message << "\n";
    return kExitFailure;
}

std::string deviceText(const std::string& name) { return name.empty() ? "the default device" : name; }

} // namespace

int playCommand(const Options& options, std::ostream& out, std::ostream& err) {
    if (options.positional.size() != 1) {
        err << kPrefix << "play takes one FILE (phonaxis-cli --help tells more)\n";
        return kExitUsage;
    }
    if (options.fromMs.has_value() != options.toMs.has_value()) {
        err << kPrefix << "--from and --to go together\n";
        return kExitUsage;
    }
    if (options.fromMs && !(*options.fromMs < *options.toMs)) {
        err << kPrefix << "--from must be earlier than --to\n";
        return kExitUsage;
    }
    const std::string& path = options.positional[0];
    AutomaticPrompts prompts(&err, kPrefix, options.aiffChannel);
    BatchDocument batch(prompts);
    if (!openDocument(path, batch.document, err)) {
        return kExitFailure;
    }
    const int index = batch.document.audioChannelIndex();
    if (index < 0 || batch.document.getChannel(index).samples().empty()) {
        return failWith(err, "\"" + path + "\" has no audio channel with samples");
    }
    const Channels& audio = batch.document.getChannel(index);
    if (const int status = checkTimesInside(options, audio.m_dLengthMS, err)) {
        return status;
    }
    const double rate = audio.m_dSampleRate;
    const double start = options.fromMs ? *options.fromMs * rate / 1000.0 : 0.0;
    const double count = options.fromMs ? (*options.toMs - *options.fromMs) * rate / 1000.0
                                        : static_cast<double>(audio.samples().size());

    PortAudioBackend backend;
    AudioNoticeQueue notices;
    AudioPlayer player(backend, notices.poster());
    const AudioResult result = player.play(audio.samples(), start, count, rate,
                                           options.device.value_or(std::string{}));
    if (!result.ok) {
        return failWith(err, result.message);
    }
    out << "playing on " << deviceText(player.deviceName()) << " at " << player.deviceRateHz()
        << " Hz (the channel's rate is " << rate << " Hz)\n";
    out.flush();
    for (;;) {
        const auto notice = notices.next(kNoticeTimeout);
        if (!notice) {
            player.stop();
            return failWith(err, "the sound card stopped playing before the end");
        }
        player.handleNotice(*notice);
        if (notice->kind == AudioNotice::Kind::Finished && notice->session == player.session()) {
            break;
        }
    }
    out << "played " << std::lround(player.elapsedMs()) << " ms\n";
    return kExitOk;
}

namespace {

// The command line and OUT, checked before a second is recorded (and before
// the sound system starts): a folder, a write-protected file or a disk
// without room would otherwise be found only after the recording.
int checkRecording(const Options& options, std::ostream& err) {
    if (const int usage = checkRecordLine(options, "wav", "record writes a WAV file", err)) {
        return usage;
    }
    const double rate = options.rateHz.value_or(11025);
    const double wantedBytes = double(kFloatWavHeaderSize) + *options.seconds * rate * 4.0;
    std::string error;
    if (!checkWritable(options.positional[0],
                       static_cast<std::uint64_t>(std::min(wantedBytes, 1.0e18)), error)) {
        if (error.ends_with('.')) {
            error.pop_back();
        }
        return failWith(err, error + "; nothing was recorded");
    }
    return kExitOk;
}

// Records as the command line asks, once it has been checked.
int recordWith(const Options& options, AudioBackend& backend, std::ostream& out,
               std::ostream& err) {
    const std::string& path = options.positional[0];
    const double rate = options.rateHz.value_or(11025);
    std::string error;
    for (const LeftSoundRecording& left : findLeftSoundRecordings(privateTemporaryFolder())) {
        err << kPrefix << "a recording of " << messageNumber(double(left.samples) / left.rateHz, 2, 2)
            << " s that an earlier run did not save is kept in \"" << left.path.string()
            << "\"; Phonaxis offers it back at its next launch\n";
    }

    AudioNoticeQueue notices;
    AudioFileRecorder recorder(backend, notices.poster());
    const AudioResult started = recorder.start(rate, options.device.value_or(std::string{}));
    if (!started.ok) {
        return failWith(err, started.message);
    }
    out << "recording from " << deviceText(recorder.deviceName()) << " at " << rate << " Hz";
    if (recorder.deviceRateHz() != rate) {
        out << " (the device runs at " << recorder.deviceRateHz() << " Hz; the file is converted)";
    }
    out << "\n";
    out.flush();

    // An interrupt (Ctrl+C) or a termination ends the recording early and
    // keeps what was recorded, rather than losing it with the process.
    const InterruptGuard interrupts;
    const double wantedMs = *options.seconds * 1000.0;
    bool deviceStopped = false;
    while (recorder.elapsedSeconds() * 1000.0 < wantedMs && !interrupts.interrupted()) {
        const auto notice = notices.next(kNoticeTimeout);
        if (!notice || recorder.inputLost()) {
            deviceStopped = true;
            break;
        }
    }
    const AudioResult stopped = recorder.stop();
    // The recording runs to the end of the block that passed the wanted
    // time; the file holds exactly the time asked for.
    const std::uint64_t wanted = static_cast<std::uint64_t>(std::llround(*options.seconds * rate));
    const std::uint64_t kept = std::min<std::uint64_t>(wanted, recorder.writtenSamples());
    const double keptSeconds = static_cast<double>(kept) / rate;
    // Whatever goes wrong from here, the recording is kept in the temporary
    // folder and its place is told.
    auto keep = [&](const std::string& why) {
        std::string keepError;
        const std::string where = recorder.keepRecording(recorder.writtenSamples(), keepError);
        if (where.empty()) {
            return failWith(err, why + "; the recording was lost: " + keepError);
        }
        return failWith(err, why + "; the recording is kept in \"" + where + "\"");
    };
    if (!stopped.ok) {
        return keep(stopped.message);
    }
    TrackBuffer<std::uint8_t> bytes;
    if (!recorder.readRecording(bytes, error)) {
        return keep(error);
    }
    const auto header = floatWavHeader(static_cast<std::uint32_t>(rate), kept);
    std::copy(header.begin(), header.end(), bytes.data());
    const std::size_t length = kFloatWavHeaderSize + static_cast<std::size_t>(kept) * 4;
    if (!writeFileAtomically(path, std::span<const std::uint8_t>(bytes.data(), length), error)) {
        bytes.reset();
        return keep(error);
    }
    out << "recorded " << kept << " samples (" << keptSeconds << " s) into " << path << "\n";
    if (recorder.droppedSamples() > 0) {
        err << kPrefix << recorder.droppedSamples()
            << " samples were lost because the disk could not keep up\n";
    }
    if (deviceStopped) {
        return failWith(err, "the sound card stopped recording after " +
                                 messageNumber(keptSeconds, 2, 2) + " s; " + path +
                                 " holds what was recorded");
    }
    if (interrupts.interrupted()) {
        return failWith(err, "interrupted after " + messageNumber(keptSeconds, 2, 2) + " s; " +
                                 path + " holds what was recorded");
    }
    return kExitOk;
}

} // namespace

int recordCommand(const Options& options, std::ostream& out, std::ostream& err) {
    if (const int status = checkRecording(options, err)) {
        return status;
    }
    PortAudioBackend backend;
    return recordWith(options, backend, out, err);
}

int recordCommand(const Options& options, AudioBackend& backend, std::ostream& out,
                  std::ostream& err) {
    if (const int status = checkRecording(options, err)) {
        return status;
    }
    return recordWith(options, backend, out, err);
}

} // namespace phonaxis::cli
