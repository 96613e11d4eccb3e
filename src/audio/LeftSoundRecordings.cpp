#include "audio/LeftSoundRecordings.h"

#include "audio/FloatWav.h"
#include "document/FileIO.h"
#include "document/PrivateFiles.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <string_view>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace phonaxis {

namespace {

constexpr std::string_view kPrefix = "recording-";
constexpr std::string_view kSuffix = ".wav";

std::uint32_t little32(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

// The rate a recorder's header states, or 0 when the bytes are not the
// header the recorder writes (RIFF/WAVE, a 20-byte "fmt " chunk of mono
// 32-bit floats, then "data").
std::uint32_t recorderHeaderRate(const std::array<std::uint8_t, kFloatWavHeaderSize>& header)
{
    const auto sameAs = [&](std::size_t at, std::string_view tag) {
        return std::memcmp(header.data() + at, tag.data(), tag.size()) == 0;
    };
    const std::uint32_t rate = little32(header.data() + 24);
    const bool layout = sameAs(0, "RIFF") && sameAs(8, "WAVEfmt ") && little32(header.data() + 16) == 20 &&
                        header[20] == 3 && header[21] == 0 && header[22] == 1 && header[23] == 0 &&
                        header[34] == 32 && header[35] == 0 && sameAs(40, "data");
    return layout && rate >= 1 && rate <= 1000000 ? rate : 0;
}

// Opens `name` when it is a recording left by an ended process; the
// descriptor holds it locked until closed.
int openLeft(int folder, const std::string& name)
{
    const pid_t owner = soundRecordingOwner(name);
    return owner < 0 ? -1 : openAbandonedFile(folder, name, owner);
}

} // namespace

pid_t soundRecordingOwner(const std::string& name)
{
    std::string_view rest(name);
    if (!rest.starts_with(kPrefix) || !rest.ends_with(kSuffix)) {
        return -1;
    }
    rest.remove_prefix(kPrefix.size());
    rest.remove_suffix(kSuffix.size());
    // <process id>-<session>-<random>, all decimal.
    const std::size_t dash = rest.find('-');
    if (dash == std::string_view::npos || dash == 0) {
        return -1;
    }
    const std::string_view tail = rest.substr(dash + 1);
    const std::size_t second = tail.find('-');
    if (second == std::string_view::npos || second == 0 || second + 1 == tail.size() ||
        tail.find_first_not_of("0123456789-") != std::string_view::npos ||
        tail.find('-', second + 1) != std::string_view::npos) {
        return -1;
    }
    pid_t pid = -1;
    const auto [end, failed] = std::from_chars(rest.data(), rest.data() + dash, pid);
    if (failed != std::errc() || end != rest.data() + dash || pid <= 0) {
        return -1;
    }
    return pid;
}

std::vector<LeftSoundRecording> findLeftSoundRecordings(const std::filesystem::path& folder)
{
    std::vector<LeftSoundRecording> found;
    std::string error;
    const int dir = openPrivateFolder(folder, error);
    if (dir < 0) {
        return found;
    }
    for (const std::string& name : namesInFolder(dir)) {
        const int fd = openLeft(dir, name);
        if (fd < 0) {
            continue;
        }
        struct stat st {};
        std::array<std::uint8_t, kFloatWavHeaderSize> header{};
        const bool whole = ::fstat(fd, &st) == 0 &&
                           readAt(fd, header.data(), header.size(), 0) ==
                               static_cast<ssize_t>(header.size());
        const std::uint32_t rate = whole ? recorderHeaderRate(header) : 0;
        if (rate == 0) {
            ::close(fd);
            continue;
        }
        const std::uint64_t samples =
            (static_cast<std::uint64_t>(st.st_size) - kFloatWavHeaderSize) / sizeof(float);
        if (samples == 0) {
            // A recording stopped before its first block holds nothing.
            ::unlinkat(dir, name.c_str(), 0);
            ::close(fd);
            continue;
        }
        ::close(fd);
        found.push_back({folder / name, double(rate), samples, std::int64_t{st.st_mtime}});
    }
    ::close(dir);
    std::ranges::sort(found, [](const LeftSoundRecording& a, const LeftSoundRecording& b) {
        return a.modifiedUnixSeconds != b.modifiedUnixSeconds
                   ? a.modifiedUnixSeconds < b.modifiedUnixSeconds
                   : a.path < b.path;
    });
    return found;
}

bool readLeftSoundRecording(const LeftSoundRecording& recording, TrackBuffer<std::uint8_t>& bytes,
                            std::string& error, const MemorySources& memory)
{
    bytes.reset();
    // The file's bytes, and the document's samples made from them.
    const std::uint64_t needed = 2 * (kFloatWavHeaderSize + recording.samples * sizeof(float));
    const std::optional<std::uint64_t> available = availableMemory(memory);
    if (recording.samples > (std::uint64_t{1} << 60) || (available && needed > *available)) {
        error = "There is not enough memory to read the recording \"" + recording.path.string() +
                "\".";
        return false;
    }
    std::string folderError;
    const int dir = openPrivateFolder(recording.path.parent_path(), folderError);
    const int fd = dir < 0 ? -1 : openLeft(dir, recording.path.filename().string());
    if (dir >= 0) {
        ::close(dir);
    }
    if (fd < 0) {
        error = "The recording \"" + recording.path.string() +
                "\" is no longer there, or another program holds it.";
        return false;
    }
    const std::size_t size =
        kFloatWavHeaderSize + static_cast<std::size_t>(recording.samples) * sizeof(float);
    bool read = bytes.allocate(size);
    if (!read) {
        error = "There is not enough memory to read the recording \"" + recording.path.string() +
                "\".";
    } else if (readAt(fd, bytes.data(), size, 0) != static_cast<ssize_t>(size)) {
        error = systemError("Cannot read", recording.path.string(), errno);
        read = false;
    }
    ::close(fd);
    if (!read) {
        bytes.reset();
        return false;
    }
    // The header of a recording cut off says fewer samples than it holds.
    const auto header = floatWavHeader(static_cast<std::uint32_t>(recording.rateHz),
                                       recording.samples);
    std::copy(header.begin(), header.end(), bytes.data());
    return true;
}

void discardLeftSoundRecording(const LeftSoundRecording& recording)
{
    std::string error;
    const int dir = openPrivateFolder(recording.path.parent_path(), error);
    if (dir < 0) {
        return;
    }
    const std::string name = recording.path.filename().string();
    const int fd = openLeft(dir, name);
    if (fd >= 0) {
        ::unlinkat(dir, name.c_str(), 0);
        ::close(fd);
    }
    ::close(dir);
}

} // namespace phonaxis
