// The raw recording file: every streamed block appended as it comes, flushed
// to the disk by a thread of its own, a small text beside it saying what the
// recording was made with, and the recordings a run that ended while
// recording left behind.

#include "hardware/BoxRecording.h"

#include "document/FileIO.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace phonaxis {

namespace {

// The flusher's period: a block is on the disk at most this long, plus one
// flush, after it was written.
constexpr std::chrono::milliseconds kFlushPeriod{500};
// An info text is a few hundred bytes; anything much longer is not one.
constexpr std::size_t kMaxInfoBytes = 16384;
constexpr const char* kInfoSuffix = ".info";
constexpr const char* kInfoHeading = "phonaxis box recording 1";

std::string uniqueTag()
{
    static std::random_device device;
    static std::mt19937_64 generator(
        (static_cast<std::uint64_t>(device()) << 32) ^ device() ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(generator()));
    return text;
}

// Writes all of `bytes` with write(2), going on after interruptions and
// partial writes. The count written (all of it on success); errno tells why
// it stopped short.
std::size_t writeAll(int fd, const std::uint8_t* bytes, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

template <typename T> bool parseNumber(std::string_view text, T& value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

// The words of `line` split at single spaces, at most `count`; the last one
// holds the rest of the line.
std::vector<std::string_view> splitLine(std::string_view line, std::size_t count)
{
    std::vector<std::string_view> words;
    while (words.size() + 1 < count) {
        const std::size_t space = line.find(' ');
        if (space == std::string_view::npos)
            break;
        words.push_back(line.substr(0, space));
        line.remove_prefix(space + 1);
    }
    words.push_back(line);
    return words;
}

// Opens the info text `name` in the folder open as `dir` for reading: only
// a regular file of this user's, never through a link. Opening does not
// wait, so that a pipe or a device put there cannot hold up the launch;
// what was opened is checked before a byte is read. -1 for anything else.
int openInfo(int dir, const std::string& name)
{
    const int fd = ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

// --- flushing -----------------------------------------------------------------------

// fdatasync rather than sync_file_range: it also makes the file's length
// durable, without which the blocks on the disk cannot be found again after
// a crash. It may take long on a slow disk, hence the thread; the main
// thread only marks that there is something to flush.
class RawRecordingFile::Flusher {
public:
    explicit Flusher(int fd) : m_fd(fd), m_thread([this] { run(); }) {}
    ~Flusher()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    Flusher(const Flusher&) = delete;
    Flusher& operator=(const Flusher&) = delete;

    // `total` bytes have been written so far.
    void written(std::uint64_t total)
    {
        m_total.store(total, std::memory_order_release);
        m_dirty.store(true, std::memory_order_release);
    }
    // The bytes the last flush put on the disk.
    std::uint64_t flushed() const { return m_flushed.load(std::memory_order_acquire); }
    // The errno of a flush that failed, 0 when none did.
    int error() const { return m_error.load(std::memory_order_acquire); }

private:
    void run()
    {
        std::unique_lock lock(m_mutex);
        while (!m_stop) {
            m_wake.wait_for(lock, kFlushPeriod, [this] { return m_stop; });
            if (m_dirty.exchange(false, std::memory_order_acq_rel)) {
                // Every byte counted here was written before it was counted.
                const std::uint64_t total = m_total.load(std::memory_order_acquire);
                lock.unlock();
                if (::fdatasync(m_fd) != 0)
                    m_error.store(errno, std::memory_order_release);
                else
                    m_flushed.store(total, std::memory_order_release);
                lock.lock();
            }
        }
    }

    int m_fd;
    std::atomic<bool> m_dirty{false};
    std::atomic<std::uint64_t> m_total{0};
    std::atomic<std::uint64_t> m_flushed{0};
    std::atomic<int> m_error{0};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread; // last: it runs on the members above
};

// --- RawRecordingFile ------------------------------------------------------------------

RawRecordingFile::RawRecordingFile() = default;

RawRecordingFile::~RawRecordingFile()
{
    close();
}

bool RawRecordingFile::create(const std::filesystem::path& folder, const RecordingInfo& info,
                              std::string& error)
{
    close();
    m_path.clear();
    m_infoPath.clear();
    m_bytes = 0;
    m_flushed = 0;
    const std::string base = std::string(kNamePrefix) + std::to_string(::getpid()) + "-";
    std::string name;
    // A name already there is never reused: another tag is drawn.
    for (int attempt = 0; attempt < 4 && m_file.fd() < 0; ++attempt) {
        name = base + uniqueTag();
        if (!m_file.create(folder, name, error) && attempt == 3)
            return false;
    }
    if (m_file.fd() < 0)
        return false;

    PrivateFile infoFile;
    const std::string text = infoText(info);
    if (!infoFile.create(folder, name + kInfoSuffix, error)) {
        m_file.remove();
        return false;
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    if (writeAll(infoFile.fd(), bytes, text.size()) != text.size() ||
        ::fdatasync(infoFile.fd()) != 0) {
        error = systemError("Cannot write", infoFile.path(), errno);
        infoFile.remove();
        m_file.remove();
        return false;
    }
    m_infoPath = infoFile.path();
    infoFile.close();
    m_path = m_file.path();
    m_flusher = std::make_unique<Flusher>(m_file.fd());
    return true;
}

bool RawRecordingFile::isOpen() const
{
    return m_file.fd() >= 0;
}

bool RawRecordingFile::append(std::span<const std::uint8_t> block, std::string& error)
{
    if (!isOpen()) {
        error = "The recording file is not open.";
        return false;
    }
    if (const int failed = m_flusher->error(); failed != 0) {
        error = systemError("Cannot write", m_path.string(), failed);
        return false;
    }
    const std::size_t written = writeAll(m_file.fd(), block.data(), block.size());
    const int err = errno;
    m_bytes += written;
    if (written != block.size()) {
        error = systemError("Cannot write", m_path.string(), err);
        return false;
    }
    m_flusher->written(m_bytes);
    return true;
}

std::uint64_t RawRecordingFile::flushedBytes() const
{
    return m_flusher ? m_flusher->flushed() : m_flushed;
}

std::uint64_t RawRecordingFile::frames() const
{
    return m_bytes / kFrameBytes;
}

const std::filesystem::path& RawRecordingFile::path() const
{
    return m_path;
}

void RawRecordingFile::close()
{
    if (!isOpen())
        return;
    m_flushed = m_flusher->flushed();
    m_flusher.reset();
    if (::fdatasync(m_file.fd()) == 0)
        m_flushed = m_bytes;
    m_file.close();
}

void RawRecordingFile::remove() noexcept
{
    m_flusher.reset();
    if (isOpen()) {
        m_file.remove();
    } else if (!m_path.empty()) {
        ::unlink(m_path.c_str());
    }
    if (!m_infoPath.empty())
        ::unlink(m_infoPath.c_str());
    m_path.clear();
    m_infoPath.clear();
    m_bytes = 0;
    m_flushed = 0;
}

pid_t RawRecordingFile::ownerOf(const std::string& name)
{
    std::string_view rest(name);
    const std::string_view prefix(kNamePrefix);
    if (!rest.starts_with(prefix))
        return -1;
    rest.remove_prefix(prefix.size());
    const std::size_t dash = rest.find('-');
    if (dash == std::string_view::npos)
        return -1;
    const std::string_view tag = rest.substr(dash + 1);
    if (tag.empty() || tag.find_first_not_of("0123456789abcdef") != std::string_view::npos)
        return -1;
    pid_t pid = -1;
    if (!parseNumber(rest.substr(0, dash), pid) || pid <= 0)
        return -1;
    return pid;
}

std::string RawRecordingFile::infoText(const RecordingInfo& info)
{
    std::ostringstream text;
    text << kInfoHeading << '\n';
    text << "channels " << info.systemChannels << '\n';
    text << "started " << info.startedUnixSeconds << '\n';
    for (std::size_t k = 0; k < info.table.size(); ++k) {
        const ChannelInfo& entry = info.table[k];
        // entry <k> <on> <sample rate> <filter rate> <gain> <source>
        text << "entry " << k << ' ' << static_cast<int>(entry.bOnOff) << ' ' << entry.nSampleRate
             << ' ' << entry.nFilterRate << ' ' << entry.nGain << ' ' << entry.source() << '\n';
    }
    return text.str();
}

bool RawRecordingFile::parseInfo(const std::string& text, RecordingInfo& info)
{
    RecordingInfo parsed;
    std::array<bool, 17> seen{};
    bool haveChannels = false;
    bool haveStart = false;
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != kInfoHeading)
        return false;
    while (std::getline(lines, line)) {
        const std::vector<std::string_view> words = splitLine(line, 7);
        if (words[0] == "channels" && words.size() == 2) {
            haveChannels = parseNumber(words[1], parsed.systemChannels) &&
                           parsed.systemChannels >= 1 && parsed.systemChannels <= 16;
            if (!haveChannels)
                return false;
        } else if (words[0] == "started" && words.size() == 2) {
            haveStart = parseNumber(words[1], parsed.startedUnixSeconds);
            if (!haveStart)
                return false;
        } else if (words[0] == "entry") {
            std::size_t k = 0;
            int on = 0;
            if (words.size() != 7 || !parseNumber(words[1], k) || k >= seen.size() || seen[k])
                return false;
            ChannelInfo& entry = parsed.table[k];
            if (!parseNumber(words[2], on) || (on != 0 && on != 1) ||
                !parseNumber(words[3], entry.nSampleRate) ||
                !parseNumber(words[4], entry.nFilterRate) || !parseNumber(words[5], entry.nGain))
                return false;
            entry.bOnOff = static_cast<std::int8_t>(on);
            entry.setSource(words[6]);
            seen[k] = true;
        }
    }
    if (!haveChannels || !haveStart || !std::ranges::all_of(seen, [](bool s) { return s; }))
        return false;
    info = parsed;
    return true;
}

// --- recordings left behind ----------------------------------------------------------

std::vector<OrphanRecording> findOrphanRecordings(const std::filesystem::path& folder)
{
    std::vector<OrphanRecording> orphans;
    std::string error;
    const int dir = openPrivateFolder(folder, error);
    if (dir < 0)
        return orphans;
    for (const std::string& name : namesInFolder(dir)) {
        const pid_t owner = RawRecordingFile::ownerOf(name);
        if (owner < 0)
            continue;
        const int fd = openAbandonedFile(dir, name, owner);
        if (fd < 0)
            continue;
        struct stat st {};
        const bool sized = ::fstat(fd, &st) == 0;
        ::close(fd);
        // Without a readable info the recording cannot be told apart into
        // channels: it is not offered, and left where it is.
        const int infoFd = sized ? openInfo(dir, name + kInfoSuffix) : -1;
        if (infoFd < 0)
            continue;
        std::string text(kMaxInfoBytes, '\0');
        const ssize_t got =
            readAt(infoFd, reinterpret_cast<std::uint8_t*>(text.data()), text.size(), 0);
        ::close(infoFd);
        if (got <= 0 || static_cast<std::size_t>(got) >= kMaxInfoBytes)
            continue;
        text.resize(static_cast<std::size_t>(got));
        OrphanRecording orphan;
        if (!RawRecordingFile::parseInfo(text, orphan.info))
            continue;
        orphan.path = folder / name;
        orphan.frames = static_cast<std::uint64_t>(st.st_size) / kFrameBytes;
        orphans.push_back(std::move(orphan));
    }
    ::close(dir);
    std::ranges::sort(orphans, {}, &OrphanRecording::path);
    return orphans;
}

void discardOrphanRecording(const OrphanRecording& orphan)
{
    ::unlink(orphan.path.c_str());
    ::unlink((orphan.path.string() + kInfoSuffix).c_str());
}

} // namespace phonaxis
