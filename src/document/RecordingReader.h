#pragma once

#include "document/MyDocument.h"

#include <cstdint>
#include <string>

namespace phonaxis {

// A recording opened for analysis, whose samples are read only where they
// are needed. A WAV file is opened from its header alone (every channel's
// rate, length, title and unit, and the note of a short file, exactly as a
// whole read gives them); readSamples then reads the samples of one channel
// over a stretch, straight from the file a block at a time, so that neither
// the file's bytes nor the other channels' samples are ever held. Every
// other format is read whole at open, as the desktop reads it.
//
// The file stays open until the reader is destroyed; the document must
// outlive the reads.
class RecordingReader {
public:
    RecordingReader() = default;
    ~RecordingReader();
    RecordingReader(const RecordingReader&) = delete;
    RecordingReader& operator=(const RecordingReader&) = delete;

    // Opens `path` into `document`. False with `error` set when the file
    // cannot be read; with declined() true (and `error` saying so) when it
    // is no recording this application opens, or is damaged.
    bool open(const std::string& path, MyDocument& document, std::string& error);
    bool declined() const { return m_declined; }

    // Whether the channels still lack their samples (a WAV file opened from
    // its header).
    bool headerOnly() const { return m_fd >= 0; }

    // Makes channel `channel` hold its samples from `from` to `to` (sample
    // indices, cut to the channel): its buffer spans the whole channel, with
    // zeros outside the stretch, which cost no memory until they are read.
    // Nothing to do for a recording read whole. Reading a channel again
    // replaces its samples. False with `error` set when the file cannot be
    // read or no longer holds the samples its header promised.
    bool readSamples(MyDocument& document, int channel, std::int64_t from, std::int64_t to,
                     std::string& error);

private:
    std::string m_path;
    int m_fd = -1;
    MyDocument::WaveSamples m_wave;
    bool m_declined = false;
};

} // namespace phonaxis
