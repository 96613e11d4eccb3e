#pragma once

#include "document/Bytes.h"
#include "document/FileIO.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace phonaxis {

class MyDocument;
struct DocumentFields;
class Prompts;
struct AppSettings;

// Places of the fields in the configuration record. Integers are int32,
// booleans int32 0 or 1 (read by their low byte), doubles 8 bytes, all
// little-endian; texts are NUL-terminated in fixed-width fields.
namespace ConfigOffset {
inline constexpr std::size_t kVersion = 0;         // text, 16 bytes
inline constexpr std::size_t kVersionWidth = 16;
inline constexpr std::size_t kRecordingTime = 16;  // int32 seconds
inline constexpr std::size_t kInputSource = 20;    // text, 16 bytes
inline constexpr std::size_t kInputSourceWidth = 16;
inline constexpr std::size_t kPlaySource = 36;     // text, 32 bytes
inline constexpr std::size_t kPlaySourceWidth = 32;

// Acquisition channel table: int32[17] each, entries 0..16.
inline constexpr std::size_t kChannelEntries = 17;
inline constexpr std::size_t kChannelOnOff = 72;
inline constexpr std::size_t kChannelSampleRate = 140;
inline constexpr std::size_t kChannelFilterRate = 208;
inline constexpr std::size_t kChannelGain = 276;
// Source names of entries 0..15: char[16][16].
inline constexpr std::size_t kChannelSourceEntries = 16;
inline constexpr std::size_t kChannelSource = 344;
inline constexpr std::size_t kChannelSourceWidth = 16;

// Eleven window frames (AppWindow order), each int32 left, top, right, bottom.
inline constexpr std::size_t kWindowRects = 856;

// Document settings.
inline constexpr std::size_t kAnalysisSampleRate = 1032; // double
inline constexpr std::size_t kAnalysisFileLength = 1040; // double
inline constexpr std::size_t kAnalysisLengthMS = 1048;   // double
inline constexpr std::size_t kDisplayFirst = 1056;       // width .. inches
inline constexpr std::size_t kDisplayLast = 1088;
inline constexpr std::size_t kZoomRange = 1092;          // int32, fraction dropped
inline constexpr std::size_t kSpectrumFirst = 1096;      // window selector .. frame interval
inline constexpr std::size_t kSpectrumLast = 1172;
inline constexpr std::size_t kFFTWindowLength = 1100;
inline constexpr std::size_t kFFTAppliedWindowLength = 1104;
inline constexpr std::size_t kFFTfrequencyRange = 1112;
inline constexpr std::size_t kLPCNumberofCoefficients = 1164;
// Per channel 0..15, int32[16] each (times truncated to whole ms/points).
inline constexpr std::size_t kIntensityWindowLength = 1176;
inline constexpr std::size_t kIntensityStepSize = 1240;
inline constexpr std::size_t kIntensityRelative = 1304;
inline constexpr std::size_t kSmoothDo = 1368;
inline constexpr std::size_t kSmoothNumOfPoints = 1432;
inline constexpr std::size_t kSpectrogramFirst = 1496;   // window length .. time grid
inline constexpr std::size_t kSpectrogramLast = 1576;
inline constexpr std::size_t kSpecfrequencyRange = 1504;
inline constexpr std::size_t kSpecLPCNumberofCoefficients = 1524;
inline constexpr std::size_t kPitchFirst = 1584;         // window length .. inches
inline constexpr std::size_t kPitchLast = 1712;
inline constexpr std::size_t kGenericFirst = 1716;       // raw import: header size .. byte order
inline constexpr std::size_t kGenericLast = 1732;
// Per channel 0..15: double[16] each.
inline constexpr std::size_t kCalibrationA3 = 1736;
inline constexpr std::size_t kCalibrationB2 = 1864;
inline constexpr std::size_t kCalibrationC1 = 1992;
inline constexpr std::size_t kCalibrationD0 = 2120;
inline constexpr std::size_t kUnits = 2248;              // char[16][32]
inline constexpr std::size_t kUnitWidth = 32;
inline constexpr std::size_t kLogStepSize = 2760;        // double
inline constexpr std::size_t kDspSettings = 2768;        // int32[17]
} // namespace ConfigOffset

// The configuration record: 2,912 bytes holding the process-wide settings
// and the document settings. A value type; get/put read and write typed
// fields at byte offsets (see ConfigOffset). A get outside the record gives
// 0 or "", a put outside it does nothing.
class Configuration {
public:
    static constexpr std::size_t kSize = 2912;
    static constexpr std::string_view kCurrentVersion = "1904";

    // A record of zero bytes.
    Configuration() = default;

    // The record in the first kSize bytes of `bytes` (a longer file keeps
    // only those); nothing when `bytes` is shorter than a record.
    static std::optional<Configuration> fromBytes(ByteView bytes);

    // A view of the record; not available on a temporary, whose bytes would
    // be gone before the view is used.
    ByteView bytes() const& { return m_bytes; }
    ByteView bytes() const&& = delete;

    std::int32_t getInt32(std::size_t offset) const;
    void putInt32(std::size_t offset, std::int32_t value);
    // Booleans are read by their low byte and stored as int32 0 or 1.
    bool getBool(std::size_t offset) const;
    void putBool(std::size_t offset, bool value);
    double getDouble(std::size_t offset) const;
    void putDouble(std::size_t offset, double value);
    // Text of a field `width` bytes wide: the bytes up to the first NUL, at
    // most width - 1 of them.
    std::string getText(std::size_t offset, std::size_t width) const;
    // Clears the field and stores `text` cut to width - 1 bytes at a UTF-8
    // character boundary, so that it always ends in a NUL.
    void putText(std::size_t offset, std::size_t width, std::string_view text);

    friend bool operator==(const Configuration&, const Configuration&) = default;

private:
    bool fits(std::size_t offset, std::size_t count) const
    {
        return offset <= kSize && count <= kSize - offset;
    }

    std::array<std::uint8_t, kSize> m_bytes{};
};

// A configuration file is read no further than its record.
inline constexpr FileCheck kConfigurationFile{.kind = "a configuration file",
                                              .readAtMost = Configuration::kSize};

// --- settings beside the record ------------------------------------------------

// Settings that the 2,912-byte record has no place for (the precise analysis
// mode and its formant ceiling) are kept in a small text file beside each
// configuration, "<configuration path>.settings", one NAME=VALUE line per
// setting, so that the record stays byte for byte what it always was and
// older configurations still load.
inline constexpr const char* kSupplementSuffix = ".settings";

// The names of the settings the supplement holds, in the order written.
std::span<const char* const> supplementSettingNames();

// configPath + ".settings".
std::string supplementPath(const std::string& configPath);

// The supplement's text for `fields`: "NAME=VALUE\n" per setting.
std::string supplementText(const DocumentFields& fields);

// Writes the supplement of the configuration at `configPath` atomically.
bool writeSupplement(const std::string& configPath, const DocumentFields& fields,
                     std::string* error = nullptr);

// Reads the supplement beside `configPath` into `fields`. Without one
// (a configuration saved before the file existed) nothing changes and the
// result is true; a symbolic link there that leads nowhere or loops is told
// in `error` and the result is false. Lines with a name it does not hold or
// a value the setting refuses leave that setting as it was; they are named
// in `error` (unprintable bytes escaped, see printableText) and the result
// is false. A file larger than 64 KiB is not read.
bool readSupplement(const std::string& configPath, DocumentFields& fields,
                    std::string* error = nullptr);

// The supplement's text: each "NAME=VALUE" line (a "\r" before its "\n"
// dropped, empty lines skipped) sets its setting in `fields`. False when a
// line names no setting the supplement holds or a value the setting
// refuses; those lines (their first 60 bytes, escaped) go to `refusedLines`
// separated by ", ".
bool parseSupplement(std::string_view text, DocumentFields& fields,
                     std::string* refusedLines = nullptr);

// --- application configuration ------------------------------------------------

// Launch: reads the application configuration in the settings' folder and,
// when it is a whole record of the current version, takes its process-wide
// settings (takeLaunchSettings); then rewrites the file atomically with
// applicationDefaults, whether or not one was read, creating the folder if
// needed. Returns whether the rewrite succeeded; `error` (when given) gets
// the reason otherwise.
bool ReadConfig(AppSettings& settings, std::string* error = nullptr);

// The launch rules over the bytes of an application configuration. Nothing
// is taken unless the bytes hold a whole record whose version is "1904".
// Otherwise: input "Line" becomes "Mic"; a play source other than
// "Computer" or "Hardware" becomes "Computer"; empty source names of entries
// 0..15 become "Mask"; entries 0..16 take on/off, filter rate and gain (gain
// at least 200 for entry 0 and 1 for the others) and a sample rate of 22050;
// window frames, record time, scope settings and (when finite and
// positive) the process-wide analysis rate. Returns whether it took them.
bool takeLaunchSettings(ByteView bytes, AppSettings& settings);

// The record written at launch: the current process-wide settings, analysis
// lengths 0 and every document setting at its configuration default (the
// rate-dependent ones computed from the process-wide analysis rate).
Configuration applicationDefaults(const AppSettings& settings);

// New documents: when the application configuration exists and holds a
// whole record, its display, zoom, spectrum, intensity, smoothing,
// spectrogram, pitch, calibration, unit and log-step settings replace the
// document's defaults (the version is not examined). Track mouse is turned
// on. Returns whether a record was applied; the document is untouched
// otherwise.
bool applyApplicationConfiguration(MyDocument& document, const AppSettings& settings);
void applyNewDocumentSettings(const Configuration& record, MyDocument& document);

// How a patch of the application configuration ended.
enum class PatchResult {
    Written,     // the edited record was written back
    NoFile,      // there is no application configuration: nothing written
    NotRead,     // the file could not be read or is not a whole record: left as it is
    WriteFailed, // the write failed; the old file is intact
};

// The settings panels' update: reads the application configuration, lets
// `edit` replace fields in its record and writes all 2,912 bytes back
// atomically. `edit` is not called unless a whole record was read.
PatchResult patchApplicationConfiguration(const AppSettings& settings,
                                          const std::function<void(Configuration&)>& edit,
                                          std::string* error = nullptr);

// Field writers for patches: every document setting whose offset lies in
// [firstOffset, lastOffset] (per-channel arrays of channels 0..15 and the
// log step included), taken from `document`.
void putDocumentSettings(Configuration& record, const MyDocument& document,
                         std::size_t firstOffset, std::size_t lastOffset);
// The sources, record time, the four channel-table arrays of entries 0..16
// and, with `names`, the source names of entries 0..15.
void putRecordSettings(Configuration& record, const AppSettings& settings, bool names);

// --- user configurations -------------------------------------------------------

// The record a user saves: version, record time, sources, the channel-table
// arrays (not the names), window frames, the document's settings from
// offset 1032 to 1732 and the calibration and units of channels 0..15; the
// log step and scope settings stay zero.
Configuration userConfiguration(const MyDocument& document, const AppSettings& settings);

// Loads a user record without a version check: record time; input source
// ("Mic" or "Line", else "Mic"); play source ("Computer", "Hardware" or
// "External Hardware", else "Computer"); on/off, sample rate, filter rate and
// gain of entries 0..16 (the launch minimum gains); window frames; and into
// the document every setting from offset 1032 to 1732 and the calibration
// and units of channels 0..15. A document holding a recording keeps its own
// analysis rate and length, and when the record was saved at another rate
// each rate-dependent setting (ranges, applied window, LPC orders) that
// holds its saved rate's value is computed for the recording's rate; one
// the user chose stays.
void applyUserConfiguration(const Configuration& record, MyDocument& document,
                            AppSettings& settings);

// Save configuration command: a save panel ("save", type "cfg", proposed
// "User_Configuration.cfg", home folder), then didEndSaveConfig.
void fileSaveConfiguration(MyDocument& document, AppSettings& settings, Prompts& prompts);
// Writes the user record to `path` and its supplement beside it, both or
// neither (see writeFilesTogether): a supplement path that is not a regular
// file, or that leads to the record itself, is refused before anything is
// written. False with `error` saying what happened.
bool saveUserConfiguration(const MyDocument& document, const AppSettings& settings,
                           const std::string& path, std::string& error);
// saveUserConfiguration, with a failure told as "Error in save" / "File did
// not save." and the reason. Returns whether it was written.
bool didEndSaveConfig(const MyDocument& document, const AppSettings& settings, Prompts& prompts,
                      const std::string& path);

// Load configuration command: an open panel for one "cfg" file in the home
// folder, then loadUserConfiguration. Returns whether a configuration was
// applied.
bool fileLoadConfiguration(MyDocument& document, AppSettings& settings, Prompts& prompts);
// Reads the user configuration at `path` and applies it. A file that
// cannot be read or is shorter than a record is declined with an alert and
// changes nothing. Document settings the analyses cannot work with keep
// their values (the alert names them), as do per-channel values that are
// not usable. Returns whether it was applied.
bool loadUserConfiguration(MyDocument& document, AppSettings& settings, Prompts& prompts,
                           const std::string& path);

// Revert to default configuration: asks "Reverting to default
// configuration" / "Phonaxis will be closed, save all your work before." /
// "Yes" / "No"; on Yes removes the application configuration. Returns true
// when the application must now quit (Yes and the file is gone); a file
// that cannot be removed is told in an alert and the application goes on.
bool fileRevertToDefaultConfiguration(const AppSettings& settings, Prompts& prompts);

} // namespace phonaxis
