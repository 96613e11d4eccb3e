// A box recording's raw file turned into the channels of a document. The
// file is the streamed 65,536-byte blocks back to back, no header: frames of
// 16 signed 16-bit little-endian slots at 22,050 frames per second. Slots
// 0..3 carry the audio input, slot e + 3 analog channel e.

#include "document/AvailableMemory.h"
#include "document/BoxFrames.h"
#include "document/FileIO.h"
#include "document/MyDocument.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace phonaxis {

namespace {

constexpr double kRecordedRateHz = kBoxFrameRateHz;
constexpr std::size_t kRecordedFrameBytes = kBoxFrameBytes;
constexpr int kLastRecordedEntry = kLastBoxEntry;
// Frames converted per read: 16 blocks, 1 MiB.
constexpr std::size_t kFramesPerRead = 16 * 2048;

constexpr const char* kReadErrorTitle = "Sample saving error";
constexpr const char* kNoMemoryMessage = "Could not alloated enough memory";

// One channel to be made: the table entry it comes from and its samples.
struct RecordedChannel {
    int entry = 0;
    SampleBuffer samples;
};

// Converts `count` frames into the channels, starting at sample `first`.
void convertFrames(const std::uint8_t* frames, std::size_t count, std::size_t first,
                   std::vector<RecordedChannel>& channels)
{
    for (RecordedChannel& channel : channels) {
        float* out = channel.samples.data() + first;
        for (std::size_t i = 0; i < count; ++i) {
            out[i] = boxEntryValue(frames + i * kRecordedFrameBytes, channel.entry);
        }
    }
}

// Whether `channels` (at least 1) buffers of `samples` floats each can be
// held: the byte count must not overflow, and must fit the memory this
// process may still take (beyond it the system would hand out address space
// it cannot back and the process would be killed while filling it, losing
// the user's documents). The machine's total memory is no measure: a
// control group or a process limit may allow far less.
bool fitsInMemory(std::uint64_t samples, std::size_t channels, const MemorySources& memory)
{
    const std::uint64_t limit = std::numeric_limits<std::size_t>::max() / sizeof(float);
    if (samples > limit / channels) {
        return false;
    }
    const std::uint64_t bytes = samples * channels * sizeof(float);
    const std::optional<std::uint64_t> available = availableMemory(memory);
    return !available || bytes <= *available; // unknown: the allocation itself decides
}

// Closes a descriptor when the reading ends, however it ends.
struct FdCloser {
    int fd;
    ~FdCloser()
    {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

} // namespace

int MyDocument::Read_RecordedFile_X2(const std::string& path, std::span<const ChannelInfo> table,
                                     int systemChannels, const MemorySources& memory)
{
    auto refuse = [this](const std::string& message) {
        m_prompts.alert(kReadErrorTitle, message, "Close");
        return -1;
    };

    // The channels to make, in entry order. Entry e reads slot e + 3, so no
    // entry past 12 is recorded, whatever the table or the box claim.
    std::vector<RecordedChannel> channels;
    const int lastEntry = std::min({systemChannels, static_cast<int>(table.size()),
                                    kLastRecordedEntry + 1, kChannelSlots}) -
                          1;
    for (int e = 0; e <= lastEntry; ++e) {
        if (table[static_cast<std::size_t>(e)].bOnOff != 0) {
            channels.push_back({e, {}});
        }
    }
    if (channels.empty()) {
        return refuse("No channel was enabled for the recording, so it holds nothing to read.");
    }

    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return refuse(systemError("Could not open the recording", path, errno));
    }
    const FdCloser closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return refuse(systemError("Could not read the recording", path, errno));
    }
    if (!S_ISREG(st.st_mode)) {
        return refuse("The recording \"" + path + "\" is not a regular file.");
    }
    // A partial frame at the end (a write cut short) is left out.
    const std::uint64_t frames = static_cast<std::uint64_t>(st.st_size) / kRecordedFrameBytes;

    // Every buffer is allocated before anything is read, and the document
    // changes only when all the samples are in hand.
    if (!fitsInMemory(frames + Channels::kSlackFloats, channels.size(), memory)) {
        return refuse(kNoMemoryMessage);
    }
    const auto length = static_cast<std::size_t>(frames);
    for (RecordedChannel& channel : channels) {
        if (!channel.samples.allocate(length + Channels::kSlackFloats)) {
            return refuse(kNoMemoryMessage);
        }
    }
    std::vector<std::uint8_t> chunk;
    try {
        chunk.resize(kFramesPerRead * kRecordedFrameBytes);
    } catch (const std::bad_alloc&) {
        return refuse(kNoMemoryMessage);
    }

    // Streamed in chunks: an hour of frames is 2.5 GB and is never held whole.
    for (std::size_t done = 0; done < length;) {
        const std::size_t count = std::min(kFramesPerRead, length - done);
        const std::size_t bytes = count * kRecordedFrameBytes;
        const ssize_t got = readAt(fd, chunk.data(), bytes, std::uint64_t{done} * kRecordedFrameBytes);
        if (got < 0) {
            return refuse(systemError("Could not read the recording", path, errno));
        }
        if (static_cast<std::size_t>(got) < bytes) {
            return refuse("The recording \"" + path + "\" became shorter while it was read.");
        }
        convertFrames(chunk.data(), count, done, channels);
        done += count;
    }

    // Everything is in hand: only now does the document change. Every slot
    // starts afresh, so nothing of an earlier recording (its samples, tracks,
    // labels or events) stays, in the channels made or beyond them.
    const double frameCount = static_cast<double>(length);
    for (Channels& slot : m_Channel) {
        slot = Channels{};
    }
    for (std::size_t c = 0; c < channels.size(); ++c) {
        const ChannelInfo& entry = table[static_cast<std::size_t>(channels[c].entry)];
        const bool audio = channels[c].entry == 0;
        Channels& channel = m_Channel[c];
        channel.m_hData = std::move(channels[c].samples);
        channel.m_dSampleRate = kRecordedRateHz;
        channel.m_dwFileLength = frameCount;
        channel.m_dLengthMS = frameCount * 1000.0 / kRecordedRateHz;
        channel.SetTitle(audio ? std::string("Audio") : "ch" + std::to_string(channels[c].entry));
        channel.SetUnit("normalized");
        channel.m_nChannelType = audio ? 1 : 0;
        channel.m_bAnchorChannel = c == 0;
        channel.m_bShow = true;
        channel.m_nOrder = static_cast<std::int32_t>(c) + 1;
        channel.m_nResolutionBits = 16;
        channel.m_nDataType = 3;
        channel.m_nHeigth = 100;
        channel.setPlainReadState(frameCount, kRecordedRateHz);
        // An analog channel's amplifier gain divides its calibrated values,
        // so that they refer to its input; a gain that is not positive would
        // make them infinite, so it counts as 1. The audio gain (100 … 800)
        // is the microphone/line level setting, not a factor of the audio's
        // normalized unit: full scale stays 1.0 (dividing by it showed a
        // full-scale audio channel as 0.00 … -0.00).
        channel.m_dGain = !audio && entry.nGain > 0 ? static_cast<double>(entry.nGain) : 1.0;
        channel.m_dFilterRate = static_cast<double>(entry.nFilterRate);
    }
    becomeFreshRecording(static_cast<std::int32_t>(channels.size()));
    return 0;
}

} // namespace phonaxis
