#include "audio/AudioFileRecorder.h"

#include "audio/FloatWav.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>
#include <random>
#include <vector>

#include <unistd.h>

namespace phonaxis {

namespace {

// The ring holds this many seconds of sound: far more than the writer ever
// falls behind by.
constexpr double kRingSeconds = 4.0;
// Elapsed-time notices: one per 0.1 s of sound.
constexpr double kElapsedPostSeconds = 0.1;

// Runs `step(done, left)`, one read or write of the `left` bytes that follow
// the first `done`, until all `size` bytes are through.
template <typename Step> bool allBytes(std::size_t size, Step step)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t moved = step(done, size - done);
        if (moved < 0 && errno == EINTR) {
            continue;
        }
        if (moved <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(moved);
    }
    return true;
}

// Writes at `offset`, or at the file's position when `offset` is negative.
bool writeAll(int fd, const void* data, std::size_t size, std::int64_t offset)
{
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    return allBytes(size, [&](std::size_t done, std::size_t left) {
        return offset < 0 ? ::write(fd, bytes + done, left)
                          : ::pwrite(fd, bytes + done, left,
                                     static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
    });
}

bool readAll(int fd, void* data, std::size_t size, std::int64_t offset)
{
    auto* bytes = static_cast<std::uint8_t*>(data);
    return allBytes(size, [&](std::size_t done, std::size_t left) {
        return ::pread(fd, bytes + done, left,
                       static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
    });
}

} // namespace

AudioFileRecorder::AudioFileRecorder(AudioBackend& backend, PostNotice post)
    : m_backend(backend), m_post(std::move(post)) {}

AudioFileRecorder::~AudioFileRecorder() {
    if (isRecording()) {
        stop();
    }
}

AudioResult AudioFileRecorder::start(double rateHz, const std::string& device) {
    if (isRecording()) {
        return {};
    }
    if (!(rateHz >= 1.0) || !std::isfinite(rateHz) || rateHz > 1.0e6) {
        return AudioResult::failure("The recording rate is not one a sound card can use.");
    }
    std::string error;
    const double deviceRate = m_backend.inputRateFor(device, rateHz, error);
    if (!(deviceRate > 0.0)) {
        return AudioResult::failure(error);
    }
    // A new file for each recording; the previous one goes.
    m_file.remove();
    m_session = nextAudioSession();
    static std::mt19937_64 names{std::random_device{}()};
    const std::string name = "recording-" + std::to_string(::getpid()) + "-" +
                             std::to_string(m_session) + "-" + std::to_string(names() % 1000000000u) +
                             ".wav";
    if (!m_file.create(privateTemporaryFolder(), name, error)) {
        return AudioResult::failure(error);
    }
    // Until the recording stops the file holds sound at the device's rate.
    const auto header = floatWavHeader(static_cast<std::uint32_t>(deviceRate), 0);
    if (!writeAll(m_file.fd(), header.data(), header.size(), -1)) {
        m_file.remove();
        return AudioResult::failure("Failed to create the temp file to record.");
    }

    m_ring = std::make_unique<SpscRing<float>>(static_cast<std::size_t>(deviceRate * kRingSeconds));
    m_rateHz = rateHz;
    m_deviceRateHz = deviceRate;
    m_written = 0;
    m_writeError.clear();
    m_fileDamaged = false;
    m_captured.store(0);
    m_dropped.store(0);
    m_levelMin.store(0.0f);
    m_levelMax.store(0.0f);
    m_nextElapsedPost = 0;
    m_stopWriter.store(false);

    auto stream = m_backend.openInput(device, deviceRate, *this, error);
    if (!stream) {
        m_file.remove();
        return AudioResult::failure(error);
    }
    m_writer = std::thread([this] { writeLoop(); });
    AudioResult started = stream->start();
    if (!started.ok) {
        m_stopWriter.store(true);
        m_blocks.fetch_add(1);
        m_blocks.notify_one();
        m_writer.join();
        m_file.remove();
        return started;
    }
    m_deviceName = stream->deviceName();
    m_stream = std::move(stream);
    return {};
}

AudioResult AudioFileRecorder::stop() {
    if (!isRecording()) {
        return {};
    }
    // After this the callback runs no more; the writer drains what is left.
    m_stream->stop(false);
    m_stream.reset();
    m_stopWriter.store(true, std::memory_order_release);
    m_blocks.fetch_add(1, std::memory_order_release);
    m_blocks.notify_one();
    m_writer.join();

    // The sound is converted to the chosen rate here, on the main thread,
    // rather than on the audio thread. When that fails the header keeps the
    // device's rate, as it does when a write failed and nothing was
    // converted: the file never claims a rate its samples are not at.
    std::string error;
    bool fileWhole = m_writeError.empty();
    double fileRate = m_deviceRateHz;
    if (fileWhole && m_deviceRateHz != m_rateHz) {
        switch (convertToChosenRate(error)) {
        case RateConversion::Converted:
            fileRate = m_rateHz;
            break;
        case RateConversion::Failed:
            m_writeError = error;
            break;
        case RateConversion::FileDamaged:
            // Samples at two rates: nothing in the file can be kept.
            fileWhole = false;
            m_fileDamaged = true;
            m_writeError = error;
            break;
        }
    }
    if (fileWhole) {
        const auto header = floatWavHeader(static_cast<std::uint32_t>(fileRate), m_written);
        if (!writeAll(m_file.fd(), header.data(), header.size(), 0)) {
            fileWhole = false;
            m_writeError = "The recording could not be completed on disk.";
        }
    }
    if (fileWhole && !m_file.finishWriting(error)) {
        m_writeError = error;
    }
    m_fileRateHz = fileRate;
    m_ring.reset();
    if (!m_writeError.empty()) {
        return AudioResult::failure(m_writeError);
    }
    return {};
}

bool AudioFileRecorder::readRecording(TrackBuffer<std::uint8_t>& bytes, std::string& error) const {
    if (isRecording() || m_file.fd() < 0) {
        error = "There is no finished recording to read.";
        return false;
    }
    return m_file.readBack(bytes, error);
}

std::string AudioFileRecorder::keepRecording(std::uint64_t samples, std::string& error) {
    if (isRecording() || m_file.fd() < 0) {
        error = "There is no finished recording to keep.";
        return {};
    }
    if (m_fileDamaged) {
        error = "The recording could not be completed on disk.";
        return {};
    }
    // Only what is in the file: a header never claims samples it lacks.
    samples = std::min(samples, m_written);
    const auto header = floatWavHeader(static_cast<std::uint32_t>(m_fileRateHz), samples);
    const int fd = m_file.fd();
    if (!writeAll(fd, header.data(), header.size(), 0) ||
        ::ftruncate(fd, static_cast<off_t>(kFloatWavHeaderSize + samples * sizeof(float))) != 0 ||
        ::fsync(fd) != 0) {
        error = "The recording could not be completed on disk.";
        return {};
    }
    std::string path = m_file.path();
    m_file.close();
    return path;
}

double AudioFileRecorder::elapsedSeconds() const {
    if (!(m_deviceRateHz > 0.0)) {
        return 0.0;
    }
    return static_cast<double>(m_captured.load(std::memory_order_relaxed)) / m_deviceRateHz;
}

void AudioFileRecorder::capture(const float* in, std::size_t frames) noexcept {
    if (frames == 0 || !in) {
        return;
    }
    const std::size_t pushed = m_ring->push(in, frames);
    if (pushed < frames) {
        m_dropped.fetch_add(frames - pushed, std::memory_order_relaxed);
    }
    m_blocks.fetch_add(1, std::memory_order_release);
    m_blocks.notify_one();

    const auto [low, high] = std::minmax_element(in, in + frames);
    m_levelMin.store(*low, std::memory_order_relaxed);
    m_levelMax.store(*high, std::memory_order_relaxed);
    const std::uint64_t captured = m_captured.fetch_add(frames, std::memory_order_relaxed) + frames;
    if (captured >= m_nextElapsedPost) {
        m_nextElapsedPost =
            captured + static_cast<std::uint64_t>(std::ceil(kElapsedPostSeconds * m_deviceRateHz));
        if (m_post) {
            m_post({AudioNotice::Kind::Elapsed,
                    static_cast<double>(captured) * 1000.0 / m_deviceRateHz, m_session});
        }
    }
}

void AudioFileRecorder::writeLoop() {
    std::vector<float> chunk(8192);
    for (;;) {
        const int seen = m_blocks.load(std::memory_order_acquire);
        const bool last = m_stopWriter.load(std::memory_order_acquire);
        std::size_t n;
        while ((n = m_ring->pop(chunk.data(), chunk.size())) > 0) {
            if (m_writeError.empty() && !writeSamples(chunk.data(), n)) {
                m_writeError = "The recording could not be written to disk.";
            }
        }
        if (last) {
            return;
        }
        m_blocks.wait(seen, std::memory_order_acquire);
    }
}

// Reads the samples recorded at the device's rate back from the file,
// converts them to the chosen rate and puts them in their place. The file
// is left as it was when reading or converting fails.
AudioFileRecorder::RateConversion AudioFileRecorder::convertToChosenRate(std::string& error)
{
    if (m_written == 0) {
        return RateConversion::Converted;
    }
    const int fd = m_file.fd();
    const std::string chosen = std::to_string(std::lround(m_rateHz)) + " Hz";
    std::vector<float> converted;
    try {
        std::vector<float> recorded(static_cast<std::size_t>(m_written));
        if (!readAll(fd, recorded.data(), recorded.size() * sizeof(float),
                     static_cast<std::int64_t>(kFloatWavHeaderSize))) {
            error = "The recording could not be read back to convert it to " + chosen + ".";
            return RateConversion::Failed;
        }
        if (!m_backend.convertRate(recorded, m_deviceRateHz, m_rateHz, converted, error)) {
            if (error.empty()) {
                error = "The recording could not be converted to " + chosen + ".";
            }
            return RateConversion::Failed;
        }
    } catch (const std::bad_alloc&) {
        error = "There is not enough memory to convert the recording to " + chosen + ".";
        return RateConversion::Failed;
    }
    const std::size_t size = converted.size() * sizeof(float);
    if (!writeAll(fd, converted.data(), size, static_cast<std::int64_t>(kFloatWavHeaderSize)) ||
        ::ftruncate(fd, static_cast<off_t>(kFloatWavHeaderSize + size)) != 0) {
        error = "The recording could not be completed on disk.";
        return RateConversion::FileDamaged;
    }
    m_written = converted.size();
    return RateConversion::Converted;
}

bool AudioFileRecorder::writeSamples(const float* values, std::size_t count) {
    static_assert(std::endian::native == std::endian::little,
                  "the WAV file holds little-endian floats, written as they are in memory");
    if (!writeAll(m_file.fd(), values, count * sizeof(float), -1)) {
        return false;
    }
    m_written += count;
    return true;
}

} // namespace phonaxis
