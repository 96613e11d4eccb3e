// The configuration record, the application configuration read at launch,
// by new documents and patched by the settings panels, and the user
// configurations saved and loaded on request.

#include "document/Configuration.h"

#include "document/AppSettings.h"
#include "document/ByteReader.h"
#include "document/DocumentSettings.h"
#include "document/FileIO.h"
#include "document/RateSettings.h"
#include "document/MyDocument.h"
#include "document/NumberText.h"
#include "document/Prompts.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

#include <sys/stat.h>

namespace phonaxis {

namespace {

namespace off = ConfigOffset;

// Channel slots whose intensity, smoothing, calibration and unit the record holds.
constexpr std::size_t kRecordChannels = 16;
constexpr std::int32_t kLaunchSampleRateHz = 22050;
constexpr const char* kUserConfigName = "User_Configuration.cfg";
constexpr const char* kLoadFailedTitle = "Configuration not loaded";
constexpr const char* kSettingsKeptTitle = "Some settings were not loaded";
constexpr const char* kRevertTitle = "Reverting to default configuration";

// The smallest gain an acquisition entry keeps: 200 for the audio entry, 1
// for the analog ones.
std::int32_t atLeastMinimumGain(std::size_t entry, std::int32_t gain)
{
    if (entry == 0) {
        return gain <= 0 ? 200 : gain;
    }
    return gain < 1 ? 1 : gain;
}

// --- field tables --------------------------------------------------------------

enum class Stored : std::uint8_t { Int32, Bool, Double, DoubleAsInt32 };

std::size_t storedWidth(Stored stored)
{
    return stored == Stored::Double ? 8 : 4;
}

// One setting of `Owner` and its place in the record. Exactly one member
// pointer is set, matching `stored` (DoubleAsInt32: a double held as a
// truncated int32).
template <typename Owner> struct Field {
    std::size_t offset;
    Stored stored;
    double Owner::*real = nullptr;
    std::int32_t Owner::*integer = nullptr;
    bool Owner::*flag = nullptr;
    double launchDefault = 0.0;
    bool newDocument = true; // a new document takes it from the application configuration
};

using DocField = Field<DocumentFields>;
using ChannelField = Field<Channels>;

constexpr DocField real(std::size_t at, double DocumentFields::*m, double def, bool newDoc = true)
{
    return {at, Stored::Double, m, nullptr, nullptr, def, newDoc};
}
constexpr DocField integer(std::size_t at, std::int32_t DocumentFields::*m, double def,
                           bool newDoc = true)
{
    return {at, Stored::Int32, nullptr, m, nullptr, def, newDoc};
}
constexpr DocField flag(std::size_t at, bool DocumentFields::*m, double def, bool newDoc = true)
{
    return {at, Stored::Bool, nullptr, nullptr, m, def, newDoc};
}

using D = DocumentFields;

// Every document-wide setting in the record. The rate-dependent defaults
// (0 here) and the analysis rate are filled in by applicationDefaults.
constexpr DocField kDocumentFields[] = {
    real(1032, &D::m_dAnalysisSampleRate, 0.0, false),
    real(1040, &D::m_dwAnalysisFileLength, 0.0, false),
    real(1048, &D::m_dAnalysisLengthMS, 0.0, false),
    real(1056, &D::m_dWidth, 6.0),
    real(1064, &D::m_dHeight, 4.0),
    flag(1072, &D::m_bTrackMouse, 1, false), // new documents turn it on instead
    flag(1076, &D::m_bDrawTimeGrid, 1),
    integer(1080, &D::m_nTimeGridSpacing, 0),
    flag(1084, &D::m_bColor, 1),
    flag(1088, &D::m_bInches, 1),
    {1092, Stored::DoubleAsInt32, &D::m_dZoomRange, nullptr, nullptr, 1000.0, true},
    integer(1096, &D::m_nFFTWindowLengthSelector, 3),
    integer(1100, &D::m_nFFTWindowLength, 256),
    integer(1104, &D::m_nFFTAppliedWindowLength, 0),
    integer(1108, &D::m_nFFTAverageStepSize, 10),
    integer(1112, &D::m_nFFTfrequencyRange, 0),
    flag(1116, &D::m_bFFTAbsolute, 0),
    integer(1120, &D::m_nFFTAbsoluteRange, 80),
    flag(1124, &D::m_bFFTInches, 1),
    real(1128, &D::m_dFFTWidth, 6.0),
    real(1136, &D::m_dFFTHeight, 4.0),
    flag(1144, &D::m_bFFTColor, 0),
    flag(1148, &D::m_bFFTDrawFrequencyGrid, 1),
    integer(1152, &D::m_nFFTFrequencyGrid, 1000),
    flag(1156, &D::m_bFFTDrawDBGrid, 1),
    integer(1160, &D::m_nFFTDBGrid, 20),
    integer(1164, &D::m_nLPCNumberofCoefficients, 0),
    flag(1168, &D::m_bFFTDrawLPC, 1),
    integer(1172, &D::m_nFFTFrameInterval, 10, false),
    integer(1496, &D::m_nSpecWindowLength, 64),
    integer(1500, &D::m_nSpecWindowLengthSelector, 1),
    integer(1504, &D::m_nSpecfrequencyRange, 0),
    integer(1508, &D::m_nSpecDynamicRange, 55),
    real(1512, &D::m_dPreEmphasis, 0.98),
    flag(1520, &D::m_bSpecDrawFormantTracking, 1),
    integer(1524, &D::m_nSpecLPCNumberofCoefficients, 0),
    flag(1528, &D::m_bSpecInches, 1),
    real(1536, &D::m_dSpecWidth, 6.0),
    real(1544, &D::m_dSpecHeight, 4.0),
    flag(1552, &D::m_bSpecDrawAudio, 1),
    flag(1556, &D::m_bSpecDrawIntensity, 0),
    flag(1560, &D::m_bSpecDrawLabels, 1),
    flag(1564, &D::m_bSpecDrawFrequencyGrid, 1),
    integer(1568, &D::m_nSpecFrequencyGrid, 1000),
    flag(1572, &D::m_bSpecDrawTimeGrid, 1),
    integer(1576, &D::m_nSpecTimeGrid, 500),
    real(1584, &D::m_dPitchWindowLength, 35.0),
    real(1592, &D::m_dPitchStepSize, 10.0),
    real(1600, &D::m_dCalculationHigh, 500.0),
    real(1608, &D::m_dCalculationLow, 50.0),
    integer(1616, &D::m_nDisplayHigh, 500),
    integer(1620, &D::m_nDisplayLow, 50),
    flag(1624, &D::m_bPitchDrawFreqGrid, 1),
    integer(1628, &D::m_nPitchFreqGrid, 20),
    flag(1632, &D::m_bPitchDrawTimeGrid, 1),
    integer(1636, &D::m_nPitchTimeGrid, 500),
    flag(1640, &D::m_bCepstral, 1, false),
    real(1648, &D::m_dTrackingThreshHold, 1.0),
    real(1656, &D::m_dFreqDeviation, 100.0),
    real(1664, &D::m_dTrackingThreshHold_AutoCorrolation, 1.0, false),
    real(1672, &D::m_dFreqDeviation_AutoCorrolation, 100.0, false),
    real(1680, &D::m_dPitchWidth, 6.0),
    real(1688, &D::m_dPitchHeigth, 4.0),
    flag(1696, &D::m_bPitchDrawAudio, 1),
    flag(1700, &D::m_bPitchDrawIntensity, 1),
    flag(1704, &D::m_bPitchDrawLabels, 1),
    flag(1708, &D::m_bPitchColor, 1),
    flag(1712, &D::m_bPitchInches, 1),
    integer(1716, &D::m_nGenericHeaderSize, 0, false),
    integer(1720, &D::m_nGenericSampleRate, 0, false),
    flag(1724, &D::m_bGenericFileType, 0, false),
    flag(1728, &D::m_bGenericResolution, 0, false),
    flag(1732, &D::m_bGenericByteOrder, 0, false),
    real(off::kLogStepSize, &D::m_dLogStepSize, 10.0),
};

// Per-channel settings of channels 0..15: an array of 16 values each,
// starting at `offset`.
constexpr ChannelField kChannelFields[] = {
    {off::kIntensityWindowLength, Stored::DoubleAsInt32, &Channels::m_dIntensityWindowLengthMS,
     nullptr, nullptr, 30.0, true},
    {off::kIntensityStepSize, Stored::DoubleAsInt32, &Channels::m_dIntensityStepSizeMS, nullptr,
     nullptr, 10.0, true},
    {off::kIntensityRelative, Stored::Bool, nullptr, nullptr, &Channels::m_bIntensityRelative, 0.0,
     true},
    {off::kSmoothDo, Stored::Bool, nullptr, nullptr, &Channels::m_bSmoothDo, 0.0, true},
    {off::kSmoothNumOfPoints, Stored::DoubleAsInt32, &Channels::m_dSmoothNumOfPoints, nullptr,
     nullptr, 5.0, true},
    {off::kCalibrationA3, Stored::Double, &Channels::m_dA3Cal, nullptr, nullptr, 0.0, true},
    {off::kCalibrationB2, Stored::Double, &Channels::m_dB2Cal, nullptr, nullptr, 0.0, true},
    {off::kCalibrationC1, Stored::Double, &Channels::m_dC1Cal, nullptr, nullptr, 1.0, true},
    {off::kCalibrationD0, Stored::Double, &Channels::m_dD0Cal, nullptr, nullptr, 0.0, true},
};

constexpr const char* kDefaultUnit = "normalized";

template <typename Owner>
void readField(const Configuration& record, std::size_t at, const Field<Owner>& field, Owner& owner)
{
    switch (field.stored) {
    case Stored::Int32:
        owner.*field.integer = record.getInt32(at);
        break;
    case Stored::Bool:
        owner.*field.flag = record.getBool(at);
        break;
    case Stored::Double:
        owner.*field.real = record.getDouble(at);
        break;
    case Stored::DoubleAsInt32:
        owner.*field.real = record.getInt32(at);
        break;
    }
}

template <typename Owner>
void writeField(Configuration& record, std::size_t at, const Field<Owner>& field,
                const Owner& owner)
{
    switch (field.stored) {
    case Stored::Int32:
        record.putInt32(at, owner.*field.integer);
        break;
    case Stored::Bool:
        record.putBool(at, owner.*field.flag);
        break;
    case Stored::Double:
        record.putDouble(at, owner.*field.real);
        break;
    case Stored::DoubleAsInt32:
        record.putInt32(at, truncSaturated(owner.*field.real));
        break;
    }
}

template <typename Owner>
void writeDefault(Configuration& record, std::size_t at, const Field<Owner>& field)
{
    if (field.stored == Stored::Double) {
        record.putDouble(at, field.launchDefault);
    } else {
        record.putInt32(at, truncSaturated(field.launchDefault));
    }
}

// Offset of channel `k`'s value of a per-channel field.
std::size_t channelOffset(const ChannelField& field, std::size_t k)
{
    return field.offset + k * storedWidth(field.stored);
}

std::size_t unitOffset(std::size_t k)
{
    return off::kUnits + k * off::kUnitWidth;
}

bool inRange(std::size_t at, std::size_t first, std::size_t last)
{
    return at >= first && at <= last;
}

// Whether a per-channel value read from a file can be used: calibration
// coefficients finite, intensity windows and steps positive, smoothing
// between 1 and 1000 points (what the intensity/smoothing sheet accepts).
bool usableChannelValue(const ChannelField& field, const Channels& channel)
{
    if (field.real == nullptr) {
        return true;
    }
    const double value = channel.*field.real;
    if (field.offset == off::kSmoothNumOfPoints) {
        return value >= 1.0 && value <= 1000.0;
    }
    if (field.offset == off::kIntensityWindowLength || field.offset == off::kIntensityStepSize) {
        return value > 0.0;
    }
    return std::isfinite(value);
}

// Reads every document setting in [first, last], and with `newDocumentOnly`
// only those a new document takes. A per-channel value that cannot be used
// keeps the channel's current one.
void readDocumentSettings(const Configuration& record, MyDocument& document, std::size_t first,
                          std::size_t last, bool newDocumentOnly)
{
    DocumentFields& fields = document;
    for (const DocField& field : kDocumentFields) {
        if (inRange(field.offset, first, last) && (field.newDocument || !newDocumentOnly)) {
            readField(record, field.offset, field, fields);
        }
    }
    for (std::size_t k = 0; k < kRecordChannels; ++k) {
        Channels& channel = document.getChannel(static_cast<int>(k));
        for (const ChannelField& field : kChannelFields) {
            const std::size_t at = channelOffset(field, k);
            if (inRange(at, first, last) && (field.newDocument || !newDocumentOnly)) {
                const double previous = field.real != nullptr ? channel.*field.real : 0.0;
                readField(record, at, field, channel);
                if (!usableChannelValue(field, channel)) {
                    channel.*field.real = previous;
                }
            }
        }
        if (inRange(unitOffset(k), first, last)) {
            channel.SetUnit(record.getText(unitOffset(k), off::kUnitWidth));
        }
    }
}

// The process-wide fields both the launch rewrite and a user record carry.
void putWindowRects(Configuration& record, const AppSettings& settings)
{
    for (std::size_t w = 0; w < kAppWindowCount; ++w) {
        const WindowRect& r = settings.m_rWindows[w];
        const std::size_t at = off::kWindowRects + w * 16;
        record.putInt32(at, r.left);
        record.putInt32(at + 4, r.top);
        record.putInt32(at + 8, r.right);
        record.putInt32(at + 12, r.bottom);
    }
}

void takeWindowRects(const Configuration& record, AppSettings& settings)
{
    for (std::size_t w = 0; w < kAppWindowCount; ++w) {
        const std::size_t at = off::kWindowRects + w * 16;
        settings.m_rWindows[w] = {record.getInt32(at), record.getInt32(at + 4),
                                  record.getInt32(at + 8), record.getInt32(at + 12)};
    }
}

// On/off, filter rate and gain of entries 0..16 (gains at least the
// minimum); the sample rate is stored when given, else forced to the
// launch rate. A stored rate of 0, below 0 or beyond 1,000,000 Hz is damage
// (a recording's channels would be timed by it): the entry keeps its rate.
void takeChannelTable(const Configuration& record, AppSettings& settings, bool keepSampleRate)
{
    constexpr std::int32_t kHighestChannelRateHz = 1'000'000;
    for (std::size_t k = 0; k < off::kChannelEntries; ++k) {
        ChannelInfo& entry = settings.g_ChannelInfo[k];
        entry.bOnOff = record.getBool(off::kChannelOnOff + 4 * k) ? 1 : 0;
        const std::int32_t rateHz = record.getInt32(off::kChannelSampleRate + 4 * k);
        if (!keepSampleRate) {
            entry.nSampleRate = kLaunchSampleRateHz;
        } else if (rateHz > 0 && rateHz <= kHighestChannelRateHz) {
            entry.nSampleRate = rateHz;
        }
        entry.nFilterRate = record.getInt32(off::kChannelFilterRate + 4 * k);
        entry.nGain = atLeastMinimumGain(k, record.getInt32(off::kChannelGain + 4 * k));
    }
}

std::int32_t nonNegative(std::int32_t value)
{
    return std::max(value, std::int32_t{0});
}

void putVersion(Configuration& record)
{
    record.putText(off::kVersion, off::kVersionWidth, Configuration::kCurrentVersion);
}

std::string fileName(const std::string& path)
{
    return std::filesystem::path(path).filename().string();
}

} // namespace

// --- Configuration -------------------------------------------------------------

std::optional<Configuration> Configuration::fromBytes(ByteView bytes)
{
    if (bytes.size() < kSize) {
        return std::nullopt;
    }
    Configuration record;
    std::memcpy(record.m_bytes.data(), bytes.data(), kSize);
    return record;
}

std::int32_t Configuration::getInt32(std::size_t offset) const
{
    if (!fits(offset, 4)) {
        return 0;
    }
    return static_cast<std::int32_t>(byteorder::loadU32LE(m_bytes.data() + offset));
}

void Configuration::putInt32(std::size_t offset, std::int32_t value)
{
    if (!fits(offset, 4)) {
        return;
    }
    auto bits = static_cast<std::uint32_t>(value);
    for (std::size_t i = 0; i < 4; ++i) {
        m_bytes[offset + i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
}

bool Configuration::getBool(std::size_t offset) const
{
    return fits(offset, 4) && m_bytes[offset] != 0;
}

void Configuration::putBool(std::size_t offset, bool value)
{
    putInt32(offset, value ? 1 : 0);
}

double Configuration::getDouble(std::size_t offset) const
{
    if (!fits(offset, 8)) {
        return 0.0;
    }
    return std::bit_cast<double>(byteorder::loadU64LE(m_bytes.data() + offset));
}

void Configuration::putDouble(std::size_t offset, double value)
{
    if (!fits(offset, 8)) {
        return;
    }
    const auto bits = std::bit_cast<std::uint64_t>(value);
    for (std::size_t i = 0; i < 8; ++i) {
        m_bytes[offset + i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
}

std::string Configuration::getText(std::size_t offset, std::size_t width) const
{
    if (width == 0 || !fits(offset, width)) {
        return {};
    }
    const auto* first = reinterpret_cast<const char*>(m_bytes.data() + offset);
    return std::string(first, ::strnlen(first, width - 1));
}

void Configuration::putText(std::size_t offset, std::size_t width, std::string_view text)
{
    if (width == 0 || !fits(offset, width)) {
        return;
    }
    std::size_t length = std::min(text.size(), width - 1);
    // Never keep the first bytes of a character whose last bytes were cut.
    while (length > 0 && length < text.size() &&
           (static_cast<unsigned char>(text[length]) & 0xC0u) == 0x80u) {
        --length;
    }
    std::memset(m_bytes.data() + offset, 0, width);
    std::memcpy(m_bytes.data() + offset, text.data(), length);
}

// --- application configuration ------------------------------------------------

bool takeLaunchSettings(ByteView bytes, AppSettings& settings)
{
    const auto record = Configuration::fromBytes(bytes);
    if (!record ||
        record->getText(off::kVersion, off::kVersionWidth) != Configuration::kCurrentVersion) {
        return false;
    }
    std::string input = record->getText(off::kInputSource, off::kInputSourceWidth);
    settings.g_strInputSource = input == "Line" ? "Mic" : input;
    std::string play = record->getText(off::kPlaySource, off::kPlaySourceWidth);
    settings.g_strPlaySource = (play == "Computer" || play == "Hardware") ? play : "Computer";

    for (std::size_t k = 0; k < off::kChannelSourceEntries; ++k) {
        const std::string name =
            record->getText(off::kChannelSource + k * off::kChannelSourceWidth,
                            off::kChannelSourceWidth);
        settings.g_ChannelInfo[k].setSource(name.empty() ? "Mask" : name);
    }
    takeChannelTable(*record, settings, false);
    takeWindowRects(*record, settings);
    settings.m_nRecordingTimeSeconds = nonNegative(record->getInt32(off::kRecordingTime));

    // A damaged rate would make every rate-dependent default meaningless.
    const double rateHz = record->getDouble(off::kAnalysisSampleRate);
    if (std::isfinite(rateHz) && rateHz > 0.0) {
        settings.m_dLastAnalysisSampleRate = rateHz;
    }
    auto dsp = settings.dspSettings();
    for (std::size_t i = 0; i < dsp.size(); ++i) {
        *dsp[i] = record->getInt32(off::kDspSettings + 4 * i);
    }
    return true;
}

// --- settings beside the record ------------------------------------------------

namespace {
constexpr const char* kSupplementNames[] = {"m_bPreciseAnalysis", "m_dFormantCeiling",
                                            "m_dFormantSilenceLevel"};
// A supplement holds a few short lines: anything much larger is not one.
constexpr FileCheck kSupplementFile{.kind = "a settings file", .largestSize = 64 * 1024};
} // namespace

std::span<const char* const> supplementSettingNames()
{
    return kSupplementNames;
}

std::string supplementPath(const std::string& configPath)
{
    return configPath + kSupplementSuffix;
}

std::string supplementText(const DocumentFields& fields)
{
    std::string text;
    for (const char* name : kSupplementNames) {
        const DocumentSetting* setting = findDocumentSetting(name);
        text.append(name).append("=").append(documentSettingText(fields, *setting)).append("\n");
    }
    return text;
}

bool writeSupplement(const std::string& configPath, const DocumentFields& fields,
                     std::string* error)
{
    const std::string text = supplementText(fields);
    std::string message;
    if (!writeFileAtomically(supplementPath(configPath),
                             {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()},
                             message)) {
        if (error) {
            *error = message;
        }
        return false;
    }
    return true;
}

bool parseSupplement(std::string_view text, DocumentFields& fields, std::string* refusedLines)
{
    std::string refused;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty()) {
            continue;
        }
        const std::size_t equals = line.find('=');
        const std::string_view name = line.substr(0, equals);
        const bool held =
            equals != std::string_view::npos &&
            std::find_if(std::begin(kSupplementNames), std::end(kSupplementNames),
                         [&](const char* n) { return name == n; }) != std::end(kSupplementNames);
        if (!held ||
            setDocumentSetting(fields, name, line.substr(equals + 1)) != SettingChange::Set) {
            // The file's bytes are quoted escaped: they reach a terminal.
            refused.append(refused.empty() ? "" : ", ").append(printableText(line.substr(0, 60)));
        }
    }
    if (refusedLines) {
        *refusedLines = refused;
    }
    return refused.empty();
}

bool readSupplement(const std::string& configPath, DocumentFields& fields, std::string* error)
{
    const std::string path = supplementPath(configPath);
    auto fail = [&](const std::string& message) {
        if (error) {
            *error = message;
        }
        return false;
    };
    // No file at all is a configuration saved before the settings file
    // existed; a link that leads nowhere is a settings file gone astray and
    // is told, not taken for one that was never there.
    struct stat link {};
    if (::lstat(path.c_str(), &link) != 0) {
        return errno == ENOENT || errno == ENOTDIR
                   ? true
                   : fail(systemError("Cannot open", printableText(path), errno));
    }
    if (S_ISLNK(link.st_mode)) {
        struct stat reached {};
        if (::stat(path.c_str(), &reached) != 0) {
            const int err = errno;
            std::error_code ec;
            const std::string to = std::filesystem::read_symlink(path, ec).string();
            // Built by appending: g++ 12 warns falsely (-Wrestrict) on "..." + string.
            std::string message(1, '"');
            message.append(printableText(path)).append("\" is a symbolic link ");
            if (err == ENOENT) {
                return fail(message.append("to \"")
                                .append(printableText(to))
                                .append("\", which does not exist; the settings it held were "
                                        "not loaded."));
            }
            if (err == ELOOP) {
                return fail(message.append("that leads back to itself; the settings it held "
                                           "were not loaded."));
            }
            return fail(systemError("Cannot open", printableText(path), err));
        }
    }
    FileContents contents;
    std::string message;
    if (!contents.open(path, kSupplementFile, message)) {
        return fail(message);
    }
    const auto bytes = contents.bytes();
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::string refused;
    if (!parseSupplement(text, fields, &refused)) {
        std::string note(1, '"');
        note.append(printableText(path))
            .append("\" holds lines that were not used: ")
            .append(refused)
            .append(".");
        return fail(note);
    }
    return true;
}

Configuration applicationDefaults(const AppSettings& settings)
{
    Configuration record;
    putVersion(record);
    putRecordSettings(record, settings, true);
    putWindowRects(record, settings);

    for (const DocField& field : kDocumentFields) {
        writeDefault(record, field.offset, field);
    }
    for (std::size_t k = 0; k < kRecordChannels; ++k) {
        for (const ChannelField& field : kChannelFields) {
            writeDefault(record, channelOffset(field, k), field);
        }
        record.putText(unitOffset(k), off::kUnitWidth, kDefaultUnit);
    }

    const double rateHz = settings.m_dLastAnalysisSampleRate;
    record.putDouble(off::kAnalysisSampleRate, rateHz);
    const RateSettings rated = rateSettingsFor(rateHz);
    record.putInt32(off::kFFTAppliedWindowLength, rated.appliedWindow);
    record.putInt32(off::kFFTfrequencyRange, rated.frequencyRange);
    record.putInt32(off::kSpecfrequencyRange, rated.spectrogramRange);
    record.putInt32(off::kLPCNumberofCoefficients, rated.lpcOrder);
    record.putInt32(off::kSpecLPCNumberofCoefficients, rated.specLpcOrder);

    const auto dsp = settings.dspSettings();
    for (std::size_t i = 0; i < dsp.size(); ++i) {
        record.putInt32(off::kDspSettings + 4 * i, *dsp[i]);
    }
    return record;
}

bool ReadConfig(AppSettings& settings, std::string* error)
{
    const std::string path = settings.configPath();
    if (path.empty()) {
        if (error) {
            *error = "There is no folder for the configuration file.";
        }
        return false;
    }
    FileContents contents;
    std::string readError;
    if (contents.open(path, kConfigurationFile, readError)) {
        takeLaunchSettings(contents.bytes(), settings);
    }

    std::error_code ec;
    std::filesystem::create_directories(settings.m_strConfigFolder, ec);
    const Configuration record = applicationDefaults(settings);
    std::string writeError;
    if (!writeFileAtomically(path, record.bytes(), writeError) ||
        !writeSupplement(path, DocumentFields{}, &writeError)) {
        if (error) {
            *error = writeError;
        }
        return false;
    }
    return true;
}

void applyNewDocumentSettings(const Configuration& record, MyDocument& document)
{
    // A damaged value in the file keeps the new document's default.
    const DocumentFields defaults = document;
    readDocumentSettings(record, document, 0, Configuration::kSize, true);
    keepUsableSettings(document, defaults);
    document.m_bTrackMouse = true;
}

bool applyApplicationConfiguration(MyDocument& document, const AppSettings& settings)
{
    const std::string path = settings.configPath();
    if (path.empty()) {
        return false;
    }
    FileContents contents;
    std::string error;
    if (!contents.open(path, kConfigurationFile, error)) {
        return false;
    }
    const auto record = Configuration::fromBytes(contents.bytes());
    if (!record) {
        return false;
    }
    applyNewDocumentSettings(*record, document);
    readSupplement(path, document);
    return true;
}

PatchResult patchApplicationConfiguration(const AppSettings& settings,
                                          const std::function<void(Configuration&)>& edit,
                                          std::string* error)
{
    const std::string path = settings.configPath();
    std::error_code ec;
    if (path.empty() || !std::filesystem::exists(path, ec)) {
        return PatchResult::NoFile;
    }
    FileContents contents;
    std::string message;
    if (!contents.open(path, kConfigurationFile, message)) {
        if (error) {
            *error = message;
        }
        return PatchResult::NotRead;
    }
    auto record = Configuration::fromBytes(contents.bytes());
    if (!record) {
        if (error) {
            *error = "\"" + path + "\" is not a whole configuration record.";
        }
        return PatchResult::NotRead;
    }
    edit(*record);
    if (!writeFileAtomically(path, record->bytes(), message)) {
        if (error) {
            *error = message;
        }
        return PatchResult::WriteFailed;
    }
    return PatchResult::Written;
}

void putDocumentSettings(Configuration& record, const MyDocument& document, std::size_t firstOffset,
                         std::size_t lastOffset)
{
    const DocumentFields& fields = document;
    for (const DocField& field : kDocumentFields) {
        if (inRange(field.offset, firstOffset, lastOffset)) {
            writeField(record, field.offset, field, fields);
        }
    }
    for (std::size_t k = 0; k < kRecordChannels; ++k) {
        const Channels& channel = document.getChannel(static_cast<int>(k));
        for (const ChannelField& field : kChannelFields) {
            const std::size_t at = channelOffset(field, k);
            if (inRange(at, firstOffset, lastOffset)) {
                writeField(record, at, field, channel);
            }
        }
        if (inRange(unitOffset(k), firstOffset, lastOffset)) {
            record.putText(unitOffset(k), off::kUnitWidth, channel.GetUnit());
        }
    }
}

void putRecordSettings(Configuration& record, const AppSettings& settings, bool names)
{
    record.putInt32(off::kRecordingTime, settings.m_nRecordingTimeSeconds);
    record.putText(off::kInputSource, off::kInputSourceWidth, settings.g_strInputSource);
    record.putText(off::kPlaySource, off::kPlaySourceWidth, settings.g_strPlaySource);
    for (std::size_t k = 0; k < off::kChannelEntries; ++k) {
        const ChannelInfo& entry = settings.g_ChannelInfo[k];
        record.putBool(off::kChannelOnOff + 4 * k, entry.bOnOff != 0);
        record.putInt32(off::kChannelSampleRate + 4 * k, entry.nSampleRate);
        record.putInt32(off::kChannelFilterRate + 4 * k, entry.nFilterRate);
        record.putInt32(off::kChannelGain + 4 * k, entry.nGain);
    }
    if (names) {
        for (std::size_t k = 0; k < off::kChannelSourceEntries; ++k) {
            record.putText(off::kChannelSource + k * off::kChannelSourceWidth,
                           off::kChannelSourceWidth, settings.g_ChannelInfo[k].source());
        }
    }
}

// --- user configurations -------------------------------------------------------

namespace {

// A record's ranges, applied window and LPC orders that are what its own
// analysis rate gives were computed for that rate, not chosen: loaded for a
// recording at another rate they would analyse it with another rate's model
// (an order of 14 and a 5 kHz range on a 44.1 kHz file). Those follow the
// recording's rate, as opening it does; a value the user chose (one that
// differs from its rate's) stays.
void followRecordingRate(const Configuration& record, MyDocument& document)
{
    const double savedRate = record.getDouble(off::kAnalysisSampleRate);
    const double rate = document.m_dAnalysisSampleRate;
    if (savedRate == rate || !(rate > 0.0) || !std::isfinite(rate)) {
        return;
    }
    const bool savedRateUsable = savedRate > 0.0 && std::isfinite(savedRate);
    const RateSettings saved = savedRateUsable ? rateSettingsFor(savedRate) : RateSettings{};
    const RateSettings wanted = rateSettingsFor(rate);
    const auto follow = [&](std::int32_t& value, std::int32_t savedDefault,
                            std::int32_t rateDefault) {
        if (!savedRateUsable || value == savedDefault) {
            value = rateDefault;
        }
    };
    follow(document.m_nFFTfrequencyRange, saved.frequencyRange, wanted.frequencyRange);
    follow(document.m_nSpecfrequencyRange, saved.spectrogramRange, wanted.spectrogramRange);
    follow(document.m_nFFTAppliedWindowLength, saved.appliedWindow, wanted.appliedWindow);
    follow(document.m_nLPCNumberofCoefficients, saved.lpcOrder, wanted.lpcOrder);
    follow(document.m_nSpecLPCNumberofCoefficients, saved.specLpcOrder, wanted.specLpcOrder);
}

} // namespace


Configuration userConfiguration(const MyDocument& document, const AppSettings& settings)
{
    Configuration record;
    putVersion(record);
    putRecordSettings(record, settings, false);
    putWindowRects(record, settings);
    putDocumentSettings(record, document, off::kAnalysisSampleRate, off::kGenericLast);
    putDocumentSettings(record, document, off::kCalibrationA3, off::kLogStepSize - 1);
    return record;
}

void applyUserConfiguration(const Configuration& record, MyDocument& document,
                            AppSettings& settings)
{
    settings.m_nRecordingTimeSeconds = nonNegative(record.getInt32(off::kRecordingTime));
    const std::string input = record.getText(off::kInputSource, off::kInputSourceWidth);
    settings.g_strInputSource = (input == "Mic" || input == "Line") ? input : "Mic";
    const std::string play = record.getText(off::kPlaySource, off::kPlaySourceWidth);
    settings.g_strPlaySource =
        (play == "Computer" || play == "Hardware" || play == "External Hardware") ? play
                                                                                  : "Computer";
    takeChannelTable(record, settings, true);
    takeWindowRects(record, settings);
    // The analysis rate and lengths describe the recording a document holds:
    // another recording's values would make its analyses read it at the
    // wrong rate, so only a document without data takes them.
    const std::size_t first = document.m_bHaveData ? off::kDisplayFirst : off::kAnalysisSampleRate;
    readDocumentSettings(record, document, first, off::kGenericLast, false);
    readDocumentSettings(record, document, off::kCalibrationA3, off::kLogStepSize - 1, false);
    if (document.m_bHaveData) {
        followRecordingRate(record, document);
    }
}

void fileSaveConfiguration(MyDocument& document, AppSettings& settings, Prompts& prompts)
{
    const auto path =
        prompts.savePanel({"save", "cfg", kUserConfigName, MyDocument::homeDirectory()});
    if (path) {
        didEndSaveConfig(document, settings, prompts, *path);
    }
}

bool saveUserConfiguration(const MyDocument& document, const AppSettings& settings,
                           const std::string& path, std::string& error)
{
    const Configuration record = userConfiguration(document, settings);
    const std::string text = supplementText(document);
    const FileToWrite files[] = {
        {path, record.bytes()},
        {supplementPath(path), {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}},
    };
    return writeFilesTogether(files, error);
}

bool didEndSaveConfig(const MyDocument& document, const AppSettings& settings, Prompts& prompts,
                      const std::string& path)
{
    std::string error;
    if (!saveUserConfiguration(document, settings, path, error)) {
        prompts.alert("Error in save", "File did not save.\n" + error, "OK");
        return false;
    }
    return true;
}

bool fileLoadConfiguration(MyDocument& document, AppSettings& settings, Prompts& prompts)
{
    OpenPanelRequest request;
    request.types = {"cfg"};
    request.directory = MyDocument::homeDirectory();
    const auto paths = prompts.openPanel(request);
    return !paths.empty() && loadUserConfiguration(document, settings, prompts, paths.front());
}

bool loadUserConfiguration(MyDocument& document, AppSettings& settings, Prompts& prompts,
                           const std::string& path)
{
    FileContents contents;
    std::string error;
    if (!contents.open(path, kConfigurationFile, error)) {
        prompts.alert(kLoadFailedTitle, error, "OK");
        return false;
    }
    const auto record = Configuration::fromBytes(contents.bytes());
    if (!record) {
        // Built by appending: g++ 12 warns falsely (-Wrestrict) on "..." + string.
        std::string message(1, '"');
        message.append(fileName(path))
            .append("\" is not a configuration file: it holds ")
            .append(std::to_string(contents.bytes().size()))
            .append(" bytes, a configuration holds ")
            .append(std::to_string(Configuration::kSize))
            .append(".");
        prompts.alert(kLoadFailedTitle, message, "OK");
        return false;
    }
    const DocumentFields previous = document;
    applyUserConfiguration(*record, document, settings);
    std::string supplementError;
    if (!readSupplement(path, document, &supplementError)) {
        prompts.alert(kSettingsKeptTitle, supplementError, "OK");
    }
    const std::vector<const DocumentSetting*> kept = keepUsableSettings(document, previous);
    if (!kept.empty()) {
        std::string names;
        for (const DocumentSetting* setting : kept) {
            names.append(names.empty() ? "" : ", ").append(setting->name);
        }
        std::string message(1, '"'); // appended: see the note above
        message.append(fileName(path))
            .append("\" holds values the analyses cannot work with; these settings keep their "
                    "values: ")
            .append(names)
            .append(".");
        prompts.alert(kSettingsKeptTitle, message, "OK");
    }
    return true;
}

bool fileRevertToDefaultConfiguration(const AppSettings& settings, Prompts& prompts)
{
    if (prompts.alert(kRevertTitle, "Phonaxis will be closed, save all your work before.", "Yes",
                      "No") != 1) {
        return false;
    }
    const std::string path = settings.configPath();
    std::error_code ec;
    if (!path.empty()) {
        // The settings beside the record go with it; a leftover would only
        // be rewritten at the next launch.
        std::filesystem::remove(supplementPath(path), ec);
        ec.clear();
    }
    if (!path.empty() && !std::filesystem::remove(path, ec) && ec) {
        prompts.alert(kRevertTitle,
                      "The configuration file \"" + path + "\" could not be removed: " +
                          ec.message() + ".",
                      "OK");
        return false;
    }
    return true;
}

} // namespace phonaxis
