#pragma once

// Records mono sound from the sound card into a temporary 32-bit float WAV
// file.
//
// The input runs at the device's rate: the chosen rate when the device takes
// it, otherwise its own. In the second case the file is recorded at the
// device's rate and, once the recording stops, converted to the chosen rate
// and rewritten, so the finished file always has the chosen rate.
//
// Each recording gets a file of its own, created exclusively in the
// application's private temporary folder, so two documents recording (or a
// second recording before the first is saved) never overwrite each other.
//
// Threads: the member functions are for the main thread. The audio thread
// runs only `capture`: it copies the block into a lock-free ring, notes the
// block's level and the elapsed time in atomics, and posts an `Elapsed`
// notice every 0.1 s. A writer thread of the recorder's own moves the ring's
// samples into the file; no file I/O, allocation or lock happens on the
// audio thread.

#include "audio/AudioBackend.h"
#include "audio/SpscRing.h"
#include "document/PrivateFiles.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace phonaxis {

class AudioFileRecorder final : private AudioCapturer {
public:
    AudioFileRecorder(AudioBackend& backend, PostNotice post);
    ~AudioFileRecorder() override;
    AudioFileRecorder(const AudioFileRecorder&) = delete;
    AudioFileRecorder& operator=(const AudioFileRecorder&) = delete;

    // Starts recording at `rateHz` from `device` (empty: the default input)
    // into a new temporary file. Starting while recording does nothing and
    // succeeds. On failure nothing records and the message says why.
    AudioResult start(double rateHz, const std::string& device = {});

    // Stops recording and completes the file. A recording stopped before the
    // first block still leaves a valid WAV file with no samples. The failure
    // message tells of a file that could not be written completely, or of a
    // recording that could not be converted to the chosen rate; the file then
    // keeps the sound at the device's rate and its header says that rate.
    AudioResult stop();

    bool isRecording() const { return m_stream != nullptr; }
    // True while recording when the device has stopped delivering by itself
    // (it failed or went away); `stop` then keeps what was recorded.
    bool inputLost() const { return m_stream != nullptr && !m_stream->isActive(); }

    // The last recording's file: its path, and its bytes read back through
    // the descriptor it was made with. The file is removed when the next
    // recording starts or the recorder is destroyed.
    const std::string& outputFilePath() const { return m_file.path(); }
    bool readRecording(TrackBuffer<std::uint8_t>& bytes, std::string& error) const;

    // Keeps the last recording, cut to its first `samples` samples, as a
    // WAV file under its name in the private temporary folder, for a
    // recording whose destination could not be written: the file then
    // outlives the recorder, and the next launch offers it back. Returns its
    // path, or "" with `error` set when it could not be completed or a
    // conversion cut short by the disk left nothing whole to keep.
    std::string keepRecording(std::uint64_t samples, std::string& error);

    // Seconds of sound captured so far (`currSeconds`).
    double elapsedSeconds() const;
    // The smallest and largest sample of the newest block.
    float newestMinimum() const { return m_levelMin.load(std::memory_order_relaxed); }
    float newestMaximum() const { return m_levelMax.load(std::memory_order_relaxed); }
    // Samples lost because the writer fell behind (0 in a sound recording).
    std::uint64_t droppedSamples() const { return m_dropped.load(std::memory_order_relaxed); }
    // Samples in the file after `stop`.
    std::uint64_t writtenSamples() const { return m_written; }
    // The chosen rate, and the rate the input device runs at.
    double rateHz() const { return m_rateHz; }
    double deviceRateHz() const { return m_deviceRateHz; }
    const std::string& deviceName() const { return m_deviceName; }
    unsigned long session() const { return m_session; }

private:
    void capture(const float* in, std::size_t frames) noexcept override;
    void writeLoop();
    bool writeSamples(const float* values, std::size_t count);
    enum class RateConversion { Converted, Failed, FileDamaged };
    RateConversion convertToChosenRate(std::string& error);

    AudioBackend& m_backend;
    PostNotice m_post;
    PrivateFile m_file;
    std::unique_ptr<AudioStream> m_stream;
    std::unique_ptr<SpscRing<float>> m_ring;
    std::thread m_writer;
    double m_rateHz = 0.0;
    double m_deviceRateHz = 0.0;
    double m_fileRateHz = 0.0;       // the rate the stopped file's samples are at
    bool m_fileDamaged = false;      // a conversion overwrote part of the samples
    std::string m_deviceName;
    unsigned long m_session = 0;
    std::uint64_t m_written = 0;     // writer thread while recording, then main
    std::string m_writeError;        // writer thread while recording, then main

    // Shared between the audio, writer and main threads.
    std::atomic<int> m_blocks{0};        // bumped for each block; the writer waits on it
    std::atomic<bool> m_stopWriter{false};
    std::atomic<std::uint64_t> m_captured{0};
    std::atomic<std::uint64_t> m_dropped{0};
    std::atomic<float> m_levelMin{0.0f};
    std::atomic<float> m_levelMax{0.0f};
    std::uint64_t m_nextElapsedPost = 0;  // audio thread only
};

} // namespace phonaxis
