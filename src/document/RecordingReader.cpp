#include "document/RecordingReader.h"

#include "document/ByteReader.h"
#include "document/FileIO.h"
#include "document/NativeFormat.h"
#include "document/RecordingSignature.h"

#include <algorithm>
#include <cerrno>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace phonaxis {

namespace {

// Whether only the WAV reader can take a file beginning with `prefix`: the
// readers tried before it (the native formats, the older headers) would
// decline it, so reading its header alone gives what a whole read gives.
bool onlyWaveReads(ByteView prefix)
{
    const ByteReader file(prefix);
    return file.matches(0, "RIFF") && file.matches(8, "WAVE") && !mayBeOldPmf(prefix);
}

} // namespace

RecordingReader::~RecordingReader()
{
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool RecordingReader::open(const std::string& path, MyDocument& document, std::string& error)
{
    m_path = path;
    m_declined = false;
    const auto decline = [&] {
        m_declined = true;
        error = "\"" + path +
                "\" is not a recording Phonaxis can open (pmf, WAV or AIFF/AIFC), or it is damaged";
        return false;
    };
    // Not blocking: a pipe given as a file is refused below, not waited on.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
        struct stat st {};
        std::vector<std::uint8_t> prefix(kRecordingSignatureBytes);
        ssize_t n = -1;
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            n = readAt(fd, prefix.data(), prefix.size(), 0);
        }
        if (n >= 0) {
            prefix.resize(static_cast<std::size_t>(n));
            if (onlyWaveReads(prefix)) {
                // The document keeps nothing of an earlier file's note.
                if (document.Read_WAVE_Header(fd, static_cast<std::uint64_t>(st.st_size), m_wave)) {
                    document.clearChangeCount();
                    m_fd = fd;
                    return true;
                }
            }
        }
        ::close(fd);
    }
    // Everything else (and every failure above, which the whole read words
    // for the user) goes the way the desktop reads a file.
    FileContents file;
    if (!file.open(path, kRecordingFile, error) && !file.declined()) {
        return false;
    }
    if (file.declined() || !document.readFromData(file.bytes(), fileExtension(path))) {
        return decline();
    }
    return true;
}

bool RecordingReader::readSamples(MyDocument& document, int channel, std::int64_t from,
                                  std::int64_t to, std::string& error)
{
    if (m_fd < 0) {
        return true;
    }
    if (channel < 0 || static_cast<std::size_t>(channel) >= m_wave.channels) {
        error = "\"" + m_path + "\" has no channel " + std::to_string(channel);
        return false;
    }
    const auto frames = static_cast<std::int64_t>(m_wave.frames);
    const auto first = static_cast<std::size_t>(std::clamp<std::int64_t>(from, 0, frames));
    const auto last = static_cast<std::size_t>(std::clamp<std::int64_t>(to, 0, frames));
    SampleBuffer buffer;
    if (!buffer.allocate(m_wave.frames + Channels::kSlackFloats)) {
        error = "\"" + m_path + "\" is too large to open in the memory available.";
        return false;
    }
    const int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    if (first < last && !MyDocument::readWaveSamples(m_fd, m_wave, static_cast<std::size_t>(channel),
                                                      first, last, buffer.data() + first,
                                                      threads)) {
        const int cause = errno;
        error = cause == EIO ? "\"" + m_path + "\" is shorter than its header says: it changed "
                                               "while it was being read"
                             : systemError("Cannot read", m_path, cause);
        return false;
    }
    document.getChannel(channel).m_hData = std::move(buffer);
    return true;
}

} // namespace phonaxis
