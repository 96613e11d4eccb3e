#pragma once

// The system's own multichannel files ("pmf"): the layout constants of the
// KVQ family shared by the readers, the writers and their tests, the label
// font-weight mapping, and the streaming writer used for backups.
//
// KVQ layout: a 512-byte header, then per channel a 248-byte record followed
// by its 368-byte label records; KVQ_Mac/KVQ_PC/KVQ_PC_FLOAT put each
// channel's samples after its labels, USB2 float puts one interleaved block
// of little-endian floats (one per channel per frame) after the last
// channel's labels.

#include <cstddef>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

namespace phonaxis {

class MyDocument;

namespace native {

// Runs a native reader's parse-then-commit body; running out of memory while
// parsing declines the file like any other mismatch.
template <typename Body> bool declineOnExhaustion(Body body)
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
}

constexpr std::size_t kHeaderBytes = 512;
constexpr std::size_t kRecordBytes = 248;
constexpr std::size_t kLabelBytes = 368;

// Channel counts a reader accepts and a writer produces: every slot of a
// document, so that every file we write opens again.
constexpr std::int32_t kMinChannels = 1;
constexpr std::int32_t kMaxChannels = 20;

// Offsets of the channel count in the header.
constexpr std::size_t kIntegerCountOffset = 8; // KVQ_Mac (big-endian), KVQ_PC
constexpr std::size_t kFloatCountOffset = 32;  // KVQ_PC_FLOAT, USB2 float

constexpr std::string_view kMacSignature = "KVQ_Mac";
constexpr std::string_view kPcSignature = "KVQ_PC";
constexpr std::string_view kPcFloatSignature = "KVQ_PC_FLOAT";
constexpr std::string_view kUsb2FloatSignature = "USB2_FLOAT";

// Channel record field offsets.
namespace record {
constexpr std::size_t kDurationMs = 0;
constexpr std::size_t kSampleRate = 8;
constexpr std::size_t kSampleCount = 16;
constexpr std::size_t kReference = 24;
constexpr std::size_t kA3 = 32;
constexpr std::size_t kB2 = 40;
constexpr std::size_t kC1 = 48;
constexpr std::size_t kD0 = 56;
constexpr std::size_t kChannelType = 64;
constexpr std::size_t kResolution = 68;
constexpr std::size_t kDataType = 72;
constexpr std::size_t kHeight = 76;
constexpr std::size_t kOrder = 80;
constexpr std::size_t kGain = 84;
constexpr std::size_t kFilterRate = 88;
constexpr std::size_t kLabelCount = 92;
constexpr std::size_t kDrawReference = 96;
constexpr std::size_t kAnchor = 100;
constexpr std::size_t kRed = 104;
constexpr std::size_t kGreen = 108;
constexpr std::size_t kBlue = 112;
constexpr std::size_t kTitle = 116;
constexpr std::size_t kTitleBytes = 64;
constexpr std::size_t kUnit = 180;
constexpr std::size_t kUnitBytes = 68;
} // namespace record

// Label record field offsets.
namespace label {
constexpr std::size_t kTimeMs = 0;
constexpr std::size_t kVerticalFactor = 8;
constexpr std::size_t kJustification = 16;
constexpr std::size_t kAddLine = 20;
constexpr std::size_t kBoxLeft = 24;
constexpr std::size_t kBoxTop = 28;
constexpr std::size_t kBoxRight = 32;
constexpr std::size_t kBoxBottom = 36;
constexpr std::size_t kRed = 40; // then green at 44, blue at 48; each 0..255
constexpr std::size_t kPointSize = 52;
// A label that opens an interval keeps its end (double, ms) at 56 and the
// int32 1 at 64 (KVQ_PC_FLOAT and USB2 float). Files without it hold zeros
// there, and readers that do not know it skip those bytes.
constexpr std::size_t kEndTimeMs = 56;
constexpr std::size_t kHasEndTime = 64;
constexpr std::size_t kWeight = 68;
constexpr std::size_t kItalicAngle = 72; // angle × 10 as one byte; non-zero = italic
constexpr std::size_t kFamily = 80;
constexpr std::size_t kFamilyBytes = 32;
constexpr std::size_t kText = 112;
constexpr std::size_t kTextBytes = 256;
} // namespace label

// The KVQ_Mac/KVQ_PC readers give every label this font size and a box
// 18 points high.
constexpr double kPlainLabelPointSize = 14.0;
constexpr std::int32_t kPlainLabelBoxHeight = 18;

// Label font weights are stored on the platform's 0..15 scale (5 normal,
// 9 bold); labels hold CSS-style weights (400 normal, 700 bold). Each step of
// the stored scale is 75 CSS units, so 5 <-> 400 and 9 <-> 700 round-trip
// exactly (and so does every stored weight from 1 to 13).
int labelWeightFromStored(std::int32_t storedWeight);
std::int32_t storedWeightFromLabel(int cssWeight);

} // namespace native

// Writes the shown channels of `document` as a KVQ_PC_FLOAT file (`usb2`
// false) or a USB2 float file (`usb2` true), whole or each channel's
// selection, to `path`. The file is written to a temporary file in the
// target's folder in bounded chunks (the samples are never copied whole) and
// renamed over `path`, so a failed write leaves any old file as it was. The
// bytes are exactly those of MyDocument::Save_KVQ_PC_Float_FileType /
// Save_KVQ_PC_USB2_Float_FileType. On failure returns false and sets `error`
// to a sentence for the user. Main thread (the document must not change
// while it is written).
bool writeNativeFile(const MyDocument& document, bool usb2, bool selection, const std::string& path,
                     std::string& error);

// The same file streamed into `fd`, an empty file open for writing that the
// caller made (and closes or removes on failure); `path` names it in
// messages. Nothing is flushed to disk.
bool writeNativeFileTo(const MyDocument& document, bool usb2, bool selection, int fd,
                       const std::string& path, std::string& error);

} // namespace phonaxis
