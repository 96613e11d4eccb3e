#pragma once

#include "TestFiles.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Builders of the system's own multichannel files, byte by byte, for the
// reader tests and the fuzzers' seed corpus: the KVQ family (KVQ_Mac,
// KVQ_PC, KVQ_PC_FLOAT, USB2 float) and the older PMF headers. Every field
// can be set to any value, including ones a reader must refuse.
namespace phonaxis::testfiles {

enum class KvqKind { Mac, Pc, PcFloat, Usb2Float };

// One 368-byte label record.
struct KvqLabel {
    double timeMs = 0.0;
    double verticalFactor = 0.0;
    std::int32_t justification = 0;
    std::int32_t addLine = 0;
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
    std::int32_t red = 0, green = 0, blue = 0; // 0..255
    std::int32_t pointSize = 14;
    std::int32_t weight = 5; // 0..15 scale
    std::uint8_t italicAngle = 0;
    std::string family = "Arial";
    std::string text;
};

// One 248-byte channel record with its labels and samples.
struct KvqChannel {
    double durationMs = 0.0;
    double sampleRate = 22050.0;
    std::optional<double> sampleCount; // default: the samples given
    double reference = 0.0;
    double a3 = 0.0, b2 = 0.0, c1 = 1.0, d0 = 0.0;
    std::int32_t channelType = 0;
    std::int32_t resolution = 32;
    std::int32_t dataType = 3;
    std::int32_t height = 100;
    std::int32_t order = 0;
    std::int32_t gain = 1;
    std::int32_t filterRate = 0;
    std::optional<std::int32_t> labelCount; // default: labels.size()
    std::int32_t drawReference = 1;
    std::int32_t anchor = 0;
    std::int32_t red = 0, green = 0, blue = 0;
    std::string title = "channel";
    std::string unit = "normalized";
    std::vector<KvqLabel> labels;
    std::vector<std::int16_t> words; // samples of KVQ_Mac and KVQ_PC files
    std::vector<float> floats;       // samples of the two float formats
};

struct KvqLayout {
    KvqKind kind = KvqKind::PcFloat;
    std::optional<std::string> signature;         // default: the kind's
    std::optional<std::int32_t> declaredChannels; // default: channels.size()
    std::vector<KvqChannel> channels;
    // USB2 float: frames in the interleaved block (default: the floats of
    // channel 0); a channel with fewer floats gives 0.
    std::optional<std::size_t> usb2Frames;
};

// The records of a layout, in its byte order (big-endian for KVQ_Mac).
FileBytes kvqRecord(const KvqChannel& channel, bool bigEndian);
FileBytes kvqLabel(const KvqLabel& label, bool bigEndian);

// A complete KVQ file.
FileBytes makeKvq(const KvqLayout& layout);

// --- older PMF headers -----------------------------------------------------------

enum class OldPmfKind { PcHeader10, PcHeader100, MacHeader100, MacVersion20 };

// One of the 17 header slots (0 audio, 1..16 transducers).
struct OldPmfSlot {
    bool present = false; // slot 0 ignores it
    std::int32_t gain = 1;
    std::string title;
    std::string unit;
    // Header100 decimal texts (up to 8 characters).
    std::string reference, b2, c1, d0;
};

struct OldPmfLayout {
    OldPmfKind kind = OldPmfKind::PcHeader100;
    std::optional<std::int32_t> headerSize;       // default 6484 or 1608
    std::optional<std::int32_t> version;          // default 10, 100, 200 or 20
    std::optional<std::int32_t> declaredChannels; // default 1 + present transducer slots
    std::int32_t audioRate = 22050;
    std::int32_t transducerRate = 1000;
    std::array<OldPmfSlot, 17> slots{};
    std::vector<std::int16_t> audio;
    // The samples of each present transducer slot, in slot order; all of
    // the length of the first.
    std::vector<std::vector<std::int16_t>> transducers;
    std::optional<std::int32_t> audioBytes;      // default: 2 × audio samples
    std::optional<std::int32_t> transducerBytes; // default: 2 × first transducer's samples
    // Mac Header100: 140-byte label records between the header block and the
    // samples (filled with a pattern the reader must step over).
    std::int32_t macLabelRecords = 0;
};

// A complete older PMF file: header, the 120-byte block of a Header100 (with
// the label count of the Mac variant), label records, then the samples.
FileBytes makeOldPmf(const OldPmfLayout& layout);

// Writes a small set (each file under 4 KB) of valid and slightly damaged
// native files into `dir` (created when missing) as seeds for the fuzzers.
// False with `error` set when a file cannot be written.
bool writeNativeSeedCorpus(const std::string& dir, std::string& error);

} // namespace phonaxis::testfiles
