#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace phonaxis {

struct DocumentFields;

// The document-wide settings a user may set by name: every int32, double and
// bool field of DocumentFields that is a choice (analysis parameters, display
// and print options, log step, formant plot, raw import), not the state a
// document derives from its file or its windows (channel count, format,
// selection and marker flags, analysis length, pitch-window flags, …).
//
// Settings the analyses compute with carry the range they can work in; a
// value outside it is refused, so that a batch run cannot ask an analysis for
// a transform of 7 points or a million log rows per millisecond.
enum class SettingType : std::uint8_t { Int32, Bool, Double };

// What reads a setting (DocumentSetting::readBy, a set of these bits): the
// analyses whose results follow it and the pictures drawn from them. A
// setting none of them reads belongs to the application's panels and print
// sizes, or to nothing at all; changing it leaves every result as it was.
enum SettingReader : std::uint16_t {
    kReadBySpectrum = 1U << 0,           // the spectrum's formants, levels and log records
    kReadBySpectrumPicture = 1U << 1,    // the spectrum graph
    kReadBySpectrogram = 1U << 2,        // the spectrogram's formant tracks and records
    kReadBySpectrogramPicture = 1U << 3, // the spectrogram graph
    kReadByPitch = 1U << 4,              // the pitch and intensity track and records
    kReadByPitchPicture = 1U << 5,       // the pitch graph
    kReadByEgg = 1U << 6,                // the EGG cycle measures
    kReadByMainPicture = 1U << 7,        // the main view and its picture
    kReadByLog = 1U << 8,                // the log window's data-selection rows
    kReadByFormantTrack = 1U << 9,       // the formant track and its records
};

// The names of the readers in `readBy`, in bit order: "spectrum",
// "spectrum picture", "spectrogram", "spectrogram picture", "pitch",
// "pitch picture", "egg", "picture", "log", "formant track".
std::vector<std::string_view> settingReaderNames(std::uint16_t readBy);

struct DocumentSetting {
    const char* name; // the field's name, e.g. "m_nLPCNumberofCoefficients"
    SettingType type;
    std::int32_t DocumentFields::*integer = nullptr; // set for Int32
    bool DocumentFields::*flag = nullptr;            // set for Bool
    double DocumentFields::*real = nullptr;          // set for Double
    double minimum = 0.0;                            // accepted values (Int32, Double)
    double maximum = 0.0;
    bool powerOfTwo = false;  // transform lengths: powers of two only
    const char* unit = "";    // "ms", "Hz", "dB", "points", …; "" for flags and counts of nothing
    const char* meaning = ""; // a few words on what it chooses
    std::uint16_t readBy = 0; // SettingReader bits
};

// Every registered setting, in DocumentFields declaration order.
std::span<const DocumentSetting> documentSettings();

// The values `setting` accepts, in words: "true or false", "an integer
// from 1 to 400", "a power of two from 32 to 8192", "a finite number", ….
std::string settingRangeText(const DocumentSetting& setting);

// The setting called `name`, or nullptr.
const DocumentSetting* findDocumentSetting(std::string_view name);

// How an attempt to set a setting from text ended.
enum class SettingChange { Set, UnknownName, BadValue };

// Parses `text` for `setting` and, when it is acceptable, stores it in
// `fields`. Int32: a decimal integer within the int32 range and the
// setting's range. Double: a finite decimal number within the range. Bool:
// "0", "1", "true" or "false". A refused value leaves `fields` unchanged and
// puts a sentence in `error` (when given).
SettingChange setDocumentSetting(DocumentFields& fields, const DocumentSetting& setting,
                                 std::string_view text, std::string* error = nullptr);
// The same by name.
SettingChange setDocumentSetting(DocumentFields& fields, std::string_view name,
                                 std::string_view text, std::string* error = nullptr);

// The setting's current value as text that setDocumentSetting reads back to
// the same value: decimal integers, "true"/"false", the shortest exact text
// of a double.
std::string documentSettingText(const DocumentFields& fields, const DocumentSetting& setting);

// The first registered setting whose current value the analyses cannot work
// with (out of its range, not finite, not a power of two where one is
// needed), or nullptr when all are acceptable. Used after a configuration
// file, whose values come from outside, has been applied.
const DocumentSetting* firstUnusableSetting(const DocumentFields& fields);

// Puts back from `previous` every registered setting whose value in `fields`
// the analyses cannot work with (as firstUnusableSetting judges) and returns
// those settings in registration order. Used after a configuration file has
// been applied inside the application, where a damaged value must not reach
// an analysis but the rest of the file still counts.
std::vector<const DocumentSetting*> keepUsableSettings(DocumentFields& fields,
                                                       const DocumentFields& previous);

// Splits "NAME=VALUE" at its first '='; nothing when there is none or the
// name is empty.
std::optional<std::pair<std::string_view, std::string_view>>
splitAssignment(std::string_view assignment);

} // namespace phonaxis
