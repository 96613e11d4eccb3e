#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Builders of WAV and AIFF/AIFC files, byte by byte, for the reader tests and
// the fuzzers' seed corpus. Samples are given as normalised doubles (full
// scale 1.0), interleaved frame by frame; integer encodings round to the
// nearest step and clip at full scale.
namespace phonaxis::testfiles {

using FileBytes = std::vector<std::uint8_t>;

// A chunk placed in a file as it stands: 4-character id, content, and a pad
// byte after an odd-sized content. `declaredSize` replaces the size field
// (to make damaged files).
struct Chunk {
    std::string id;
    FileBytes content;
    std::optional<std::uint32_t> declaredSize;
};

// --- WAV -------------------------------------------------------------------

constexpr std::uint16_t kWavPcm = 1;
constexpr std::uint16_t kWavFloat = 3;
constexpr std::uint16_t kWavExtensible = 0xFFFE;

struct WavLayout {
    std::uint16_t formatTag = kWavPcm;
    // For kWavExtensible: the sub-format (kWavPcm or kWavFloat).
    std::uint16_t subFormat = kWavPcm;
    std::uint16_t bitsPerSample = 16; // PCM 8/16/24/32, float 32/64
    std::uint16_t channels = 1;
    std::uint32_t sampleRate = 44100;
    // Bytes per frame; by default channels × bytes per sample. A larger value
    // leaves zero bytes after each frame's samples.
    std::optional<std::uint16_t> blockAlign;
    // Extra chunks before "fmt ", between "fmt " and "data", and after "data".
    std::vector<Chunk> chunksBeforeFmt;
    std::vector<Chunk> chunksBeforeData;
    std::vector<Chunk> chunksAfterData;
    bool dataBeforeFmt = false;
    std::optional<std::uint32_t> declaredDataSize;
};

// The "fmt " chunk content of a layout (16 bytes, or 40 for extensible).
FileBytes wavFormatContent(const WavLayout& layout);

// The sample bytes of a WAV data chunk.
FileBytes wavSampleBytes(const WavLayout& layout, std::span<const double> interleaved);

// A plain layout: format tag (and for kWavExtensible its sub-format), sample
// bits, channel count and rate.
WavLayout wavLayout(std::uint16_t tag, std::uint16_t bits, std::uint16_t channels,
                    std::uint32_t rateHz, std::uint16_t subFormat = kWavPcm);

// A complete RIFF/WAVE file.
FileBytes makeWav(const WavLayout& layout, std::span<const double> interleaved);

// --- AIFF / AIFC -----------------------------------------------------------

struct AiffLayout {
    bool aifc = false;
    // AIFC compression: "NONE", "twos", "sowt", "fl32", "FL32", "fl64", "FL64".
    std::string compression = "NONE";
    std::int16_t bitsPerSample = 16; // integers 8/16/24/32; 32/64 for floats
    std::int16_t channels = 1;
    double sampleRate = 44100.0;
    // SSND offset field: that many zero bytes lie before the samples.
    std::uint32_t ssndOffset = 0;
    // COMM frame count; by default the frames given.
    std::optional<std::uint32_t> declaredFrames;
    std::optional<std::uint32_t> declaredSsndSize;
    std::vector<Chunk> chunksBeforeComm;
    std::vector<Chunk> chunksBeforeSsnd;
    bool ssndBeforeComm = false;
};

// The 80-bit extended form of a rate, as written into COMM.
FileBytes extendedBytes(double value);

// A complete FORM/AIFF or FORM/AIFC file.
FileBytes makeAiff(const AiffLayout& layout, std::span<const double> interleaved);

// --- helpers ---------------------------------------------------------------

// `frames` frames of `channels` channels whose values are all exactly
// representable in every encoding above (multiples of 1/128 in [-1, 1)),
// different per channel and per frame.
std::vector<double> exactRamp(std::size_t frames, std::size_t channels);

// `frames` frames of `channels` channels of a test signal that sets every
// bit of every integer encoding: sines of different frequency per channel,
// with exact full scale (-1.0 and +1.0, which clips), 0 and -0.5 mixed in.
std::vector<double> testSignal(std::size_t frames, std::size_t channels);

// The normalised value a reader gives back for `x` stored in `bits` bits:
// integers round to the nearest of the 2^bits steps and clip at full scale;
// floats keep their value (32-bit floats rounded to float).
double encodedValue(double x, int bits, bool isFloat);

// A RIFF chunk (little-endian size) or an IFF chunk (big-endian size), with the
// pad byte after an odd-sized content.
FileBytes riffChunk(const Chunk& chunk);
FileBytes iffChunk(const Chunk& chunk);

// Writes a small set (each file under 4 KB) of valid and slightly damaged WAV
// and AIFF/AIFC files into `dir` (created when missing) as seeds for the
// fuzzers. False with `error` set when a file cannot be written.
bool writeSeedCorpus(const std::string& dir, std::string& error);

} // namespace phonaxis::testfiles
