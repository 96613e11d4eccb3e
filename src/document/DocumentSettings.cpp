#include "document/DocumentSettings.h"

#include "document/MyDocument.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <system_error>
#include <utility>

namespace phonaxis {

namespace {

using D = DocumentFields;

constexpr double kIntMin = std::numeric_limits<std::int32_t>::min();
constexpr double kIntMax = std::numeric_limits<std::int32_t>::max();
constexpr double kRealMax = std::numeric_limits<double>::max();

// What a setting is and what reads it; see DocumentSetting.
struct About {
    const char* unit;
    const char* meaning;
    std::uint16_t readBy;
};

constexpr DocumentSetting described(DocumentSetting setting, About about)
{
    setting.unit = about.unit;
    setting.meaning = about.meaning;
    setting.readBy = about.readBy;
    return setting;
}

constexpr DocumentSetting integer(const char* name, std::int32_t D::*m, About about,
                                  double low = kIntMin, double high = kIntMax)
{
    return described({name, SettingType::Int32, m, nullptr, nullptr, low, high, false}, about);
}
// A transform length: a power of two from 32 to 8192.
constexpr DocumentSetting fftLength(const char* name, std::int32_t D::*m, About about)
{
    return described({name, SettingType::Int32, m, nullptr, nullptr, 32, 8192, true}, about);
}
constexpr DocumentSetting flag(const char* name, bool D::*m, About about)
{
    return described({name, SettingType::Bool, nullptr, m, nullptr, 0, 1, false}, about);
}
constexpr DocumentSetting real(const char* name, double D::*m, About about, double low = -kRealMax,
                               double high = kRealMax)
{
    return described({name, SettingType::Double, nullptr, nullptr, m, low, high, false}, about);
}

constexpr std::uint16_t kSpectrum = kReadBySpectrum;
constexpr std::uint16_t kSpectrumPicture = kReadBySpectrumPicture;
constexpr std::uint16_t kSpectrogram = kReadBySpectrogram;
constexpr std::uint16_t kSpectrogramPicture = kReadBySpectrogramPicture;
constexpr std::uint16_t kPitch = kReadByPitch;
constexpr std::uint16_t kPitchPicture = kReadByPitchPicture;
constexpr std::uint16_t kMainPicture = kReadByMainPicture;
constexpr std::uint16_t kLog = kReadByLog;
constexpr std::uint16_t kFormantTrack = kReadByFormantTrack;
constexpr std::uint16_t kNothing = 0;
// The precise mode's settings reach all three analyses, their graphs and
// the formant track.
constexpr std::uint16_t kPreciseAnalyses = kSpectrum | kSpectrumPicture | kSpectrogram |
                                           kSpectrogramPicture | kPitch | kPitchPicture |
                                           kFormantTrack;

// The ranges bound what an analysis allocates or loops over: lengths and
// orders the analysis library handles, steps that do not produce millions of
// frames or rows, positive ranges. Settings only the display reads take any
// value of their type. Readers are the analyses and graphs that use the
// field; the panels that edit it do not count.
constexpr DocumentSetting kSettings[] = {
    flag("m_bInches", &D::m_bInches, {"", "main view print size in inches, else cm", kNothing}),
    real("m_dWidth", &D::m_dWidth, {"in or cm", "main view print width", kNothing}),
    real("m_dHeight", &D::m_dHeight, {"in or cm", "main view print height", kNothing}),
    flag("m_bDrawTimeGrid", &D::m_bDrawTimeGrid, {"", "main view time grid", kMainPicture}),
    integer("m_nTimeGridSpacing", &D::m_nTimeGridSpacing,
            {"ms", "main view time grid spacing, 0 chooses one", kMainPicture}),
    flag("m_bColor", &D::m_bColor, {"", "main view in colour", kMainPicture}),
    flag("m_bTrackMouse", &D::m_bTrackMouse, {"", "the cursor follows the mouse", kNothing}),
    real("m_dZoomRange", &D::m_dZoomRange,
         {"ms", "span of the main view's zoom (whole ms are kept)", kNothing}),

    integer("m_nFFTWindowLengthSelector", &D::m_nFFTWindowLengthSelector,
            {"", "the spectrum panel's transform length choice", kNothing}),
    fftLength("m_nFFTWindowLength", &D::m_nFFTWindowLength,
              {"points", "spectrum transform length", kSpectrum | kSpectrumPicture}),
    integer("m_nFFTAppliedWindowLength", &D::m_nFFTAppliedWindowLength,
            {"ms", "spectrum analysis window", kSpectrum | kSpectrumPicture}, 1, 100000),
    integer(
        "m_nFFTAverageStepSize", &D::m_nFFTAverageStepSize,
        {"ms", "step between the spectra averaged over --from/--to", kSpectrum | kSpectrumPicture},
        1, 1000000),
    integer("m_nFFTfrequencyRange", &D::m_nFFTfrequencyRange,
            {"Hz", "highest frequency of the spectrum", kSpectrum | kSpectrumPicture}, 1, 1000000),
    flag("m_bFFTAbsolute", &D::m_bFFTAbsolute,
         {"", "spectrum levels absolute, else relative to the peak", kSpectrum | kSpectrumPicture}),
    integer("m_nFFTAbsoluteRange", &D::m_nFFTAbsoluteRange,
            {"dB", "level range of the absolute spectrum graph", kSpectrumPicture}),
    flag("m_bFFTInches", &D::m_bFFTInches,
         {"", "spectrum print size in inches, else cm", kNothing}),
    real("m_dFFTWidth", &D::m_dFFTWidth, {"in or cm", "spectrum print width", kNothing}),
    real("m_dFFTHeight", &D::m_dFFTHeight, {"in or cm", "spectrum print height", kNothing}),
    flag("m_bFFTColor", &D::m_bFFTColor, {"", "spectrum graph in colour", kSpectrumPicture}),
    flag("m_bFFTDrawFrequencyGrid", &D::m_bFFTDrawFrequencyGrid,
         {"", "spectrum graph frequency grid", kSpectrumPicture}),
    integer("m_nFFTFrequencyGrid", &D::m_nFFTFrequencyGrid,
            {"Hz", "spectrum graph frequency grid spacing", kSpectrumPicture}),
    flag("m_bFFTDrawDBGrid", &D::m_bFFTDrawDBGrid,
         {"", "spectrum graph level grid", kSpectrumPicture}),
    integer("m_nFFTDBGrid", &D::m_nFFTDBGrid,
            {"dB", "spectrum graph level grid spacing", kSpectrumPicture}),
    integer("m_nLPCNumberofCoefficients", &D::m_nLPCNumberofCoefficients,
            {"coefficients", "LPC order of the spectrum", kSpectrum | kSpectrumPicture}, 1, 400),
    flag("m_bFFTDrawLPC", &D::m_bFFTDrawLPC,
         {"", "the LPC envelope beside the spectrum", kSpectrum | kSpectrumPicture}),
    integer("m_nFFTFrameInterval", &D::m_nFFTFrameInterval,
            {"Hz", "spacing of the --frame levels", kSpectrum}, 1, 1000000),

    fftLength("m_nSpecWindowLength", &D::m_nSpecWindowLength,
              {"points", "spectrogram transform length", kSpectrogram | kSpectrogramPicture}),
    integer("m_nSpecWindowLengthSelector", &D::m_nSpecWindowLengthSelector,
            {"", "the spectrogram panel's transform length choice", kNothing}),
    integer("m_nSpecfrequencyRange", &D::m_nSpecfrequencyRange,
            {"Hz", "highest frequency of the spectrogram", kSpectrogram | kSpectrogramPicture}, 1,
            1000000),
    integer("m_nSpecDynamicRange", &D::m_nSpecDynamicRange,
            {"dB", "spectrogram dynamic range", kSpectrogram | kSpectrogramPicture}, 1, 1000),
    real("m_dPreEmphasis", &D::m_dPreEmphasis,
         {"", "spectrogram and formant track pre-emphasis coefficient",
          kSpectrogram | kSpectrogramPicture | kFormantTrack},
         -1.0, 1.0),
    flag("m_bSpecDrawFormantTracking", &D::m_bSpecDrawFormantTracking,
         {"", "spectrogram formant tracks", kSpectrogram | kSpectrogramPicture}),
    integer("m_nSpecLPCNumberofCoefficients", &D::m_nSpecLPCNumberofCoefficients,
            {"coefficients", "LPC order of the formant tracks",
             kSpectrogram | kSpectrogramPicture | kFormantTrack},
            1, 400),
    flag("m_bSpecInches", &D::m_bSpecInches,
         {"", "spectrogram print size in inches, else cm", kNothing}),
    real("m_dSpecWidth", &D::m_dSpecWidth, {"in or cm", "spectrogram print width", kNothing}),
    real("m_dSpecHeight", &D::m_dSpecHeight, {"in or cm", "spectrogram print height", kNothing}),
    flag("m_bSpecDrawAudio", &D::m_bSpecDrawAudio,
         {"", "the waveform above the spectrogram", kSpectrogramPicture}),
    flag("m_bSpecDrawIntensity", &D::m_bSpecDrawIntensity,
         {"", "intensity on the spectrogram; not used", kNothing}),
    flag("m_bSpecDrawLabels", &D::m_bSpecDrawLabels,
         {"", "spectrogram graph labels", kSpectrogramPicture}),
    flag("m_bSpecDrawFrequencyGrid", &D::m_bSpecDrawFrequencyGrid,
         {"", "spectrogram graph frequency grid", kSpectrogramPicture}),
    integer("m_nSpecFrequencyGrid", &D::m_nSpecFrequencyGrid,
            {"Hz", "spectrogram graph frequency grid spacing", kSpectrogramPicture}),
    flag("m_bSpecDrawTimeGrid", &D::m_bSpecDrawTimeGrid,
         {"", "spectrogram graph time grid", kSpectrogramPicture}),
    integer("m_nSpecTimeGrid", &D::m_nSpecTimeGrid,
            {"ms", "spectrogram graph time grid spacing", kSpectrogramPicture}),

    real("m_dPitchWindowLength", &D::m_dPitchWindowLength,
         {"ms", "pitch analysis window", kPitch | kPitchPicture}, 0.1, 100000.0),
    real("m_dPitchStepSize", &D::m_dPitchStepSize,
         {"ms", "step between pitch frames", kPitch | kPitchPicture}, 0.1, 100000.0),
    real("m_dCalculationHigh", &D::m_dCalculationHigh,
         {"Hz", "highest pitch looked for", kPitch | kPitchPicture}, 1.0, 1000000.0),
    real("m_dCalculationLow", &D::m_dCalculationLow,
         {"Hz", "lowest pitch looked for", kPitch | kPitchPicture}, 1.0, 1000000.0),
    integer("m_nDisplayHigh", &D::m_nDisplayHigh, {"Hz", "top of the pitch graph", kPitchPicture}),
    integer("m_nDisplayLow", &D::m_nDisplayLow, {"Hz", "bottom of the pitch graph", kPitchPicture}),
    flag("m_bPitchDrawFreqGrid", &D::m_bPitchDrawFreqGrid,
         {"", "pitch graph frequency grid", kPitchPicture}),
    integer("m_nPitchFreqGrid", &D::m_nPitchFreqGrid,
            {"Hz", "pitch graph frequency grid spacing", kPitchPicture}),
    flag("m_bPitchDrawTimeGrid", &D::m_bPitchDrawTimeGrid,
         {"", "pitch graph time grid", kPitchPicture}),
    integer("m_nPitchTimeGrid", &D::m_nPitchTimeGrid,
            {"ms", "pitch graph time grid spacing", kPitchPicture}),
    flag("m_bCepstral", &D::m_bCepstral, {"", "cepstral pitch choice; not used", kNothing}),
    real("m_dTrackingThreshHold", &D::m_dTrackingThreshHold,
         {"%", "frames below this share of the largest energy are unvoiced",
          kPitch | kPitchPicture}),
    real("m_dFreqDeviation", &D::m_dFreqDeviation,
         {"Hz", "largest pitch jump to a neighbouring frame", kPitch | kPitchPicture}),
    real("m_dTrackingThreshHold_AutoCorrolation", &D::m_dTrackingThreshHold_AutoCorrolation,
         {"%", "autocorrelation pitch threshold; not used", kNothing}),
    real("m_dFreqDeviation_AutoCorrolation", &D::m_dFreqDeviation_AutoCorrolation,
         {"Hz", "autocorrelation pitch jump; not used", kNothing}),
    flag("m_bPitchDrawAudio", &D::m_bPitchDrawAudio,
         {"", "the waveform above the pitch graph", kPitchPicture}),
    flag("m_bPitchDrawIntensity", &D::m_bPitchDrawIntensity,
         {"", "the intensity track beside the pitch", kPitch | kPitchPicture}),
    flag("m_bPitchDrawLabels", &D::m_bPitchDrawLabels, {"", "pitch graph labels", kPitchPicture}),
    flag("m_bPitchColor", &D::m_bPitchColor, {"", "pitch graph in colour", kPitchPicture}),
    flag("m_bPitchInches", &D::m_bPitchInches,
         {"", "pitch print size in inches, else cm", kNothing}),
    real("m_dPitchWidth", &D::m_dPitchWidth, {"in or cm", "pitch print width", kNothing}),
    real("m_dPitchHeigth", &D::m_dPitchHeigth, {"in or cm", "pitch print height", kNothing}),

    integer("m_nGenericHeaderSize", &D::m_nGenericHeaderSize,
            {"bytes", "raw import header size; not used", kNothing}),
    integer("m_nGenericSampleRate", &D::m_nGenericSampleRate,
            {"Hz", "raw import sample rate; not used", kNothing}),
    flag("m_bGenericFileType", &D::m_bGenericFileType,
         {"", "raw import file type; not used", kNothing}),
    flag("m_bGenericResolution", &D::m_bGenericResolution,
         {"", "raw import resolution; not used", kNothing}),
    flag("m_bGenericByteOrder", &D::m_bGenericByteOrder,
         {"", "raw import byte order; not used", kNothing}),
    real("m_dLogStepSize", &D::m_dLogStepSize,
         {"ms", "step between logged rows of formant tracks and selections", kSpectrogram | kLog},
         0.1, 1.0e9),
    integer("m_nVelocitySmoothingPoints", &D::m_nVelocitySmoothingPoints,
            {"points", "EGG velocity smoothing; not used", kNothing}),
    integer("m_nAccelerationSmoothingPoints", &D::m_nAccelerationSmoothingPoints,
            {"points", "EGG acceleration smoothing; not used", kNothing}),
    integer("m_nEGGThresholdPerCent", &D::m_nEGGThresholdPerCent,
            {"%", "EGG contact threshold; not used", kNothing}),
    integer("m_nPlotType", &D::m_nPlotType,
            {"", "formant plot axes; not used (formants takes --plot-type)", kNothing}),
    flag("m_bDrawData", &D::m_bDrawData, {"", "formant plot points; not used", kNothing}),
    flag("m_bDrawEllipse", &D::m_bDrawEllipse, {"", "formant plot ellipses; not used", kNothing}),
    flag("m_bDrawMean", &D::m_bDrawMean, {"", "formant plot means; not used", kNothing}),
    flag("m_bDrawMeanLabel", &D::m_bDrawMeanLabel,
         {"", "formant plot mean labels; not used", kNothing}),
    flag("m_bDrawIndividualLabels", &D::m_bDrawIndividualLabels,
         {"", "formant plot point labels; not used", kNothing}),
    integer("m_nF1RangeHigh", &D::m_nF1RangeHigh,
            {"Hz", "formant plot F1 axis top; not used", kNothing}),
    integer("m_nF2RangeHigh", &D::m_nF2RangeHigh,
            {"Hz", "formant plot F2 axis top; not used", kNothing}),
    integer("m_nF3RangeHigh", &D::m_nF3RangeHigh,
            {"Hz", "formant plot F3 axis top; not used", kNothing}),
    flag("m_bPreciseAnalysis", &D::m_bPreciseAnalysis,
         {"", "the precise spectrum, spectrogram and pitch analyses", kPreciseAnalyses}),
    real("m_dFormantCeiling", &D::m_dFormantCeiling,
         {"Hz", "highest formant the precise analyses look for",
          kSpectrum | kSpectrumPicture | kSpectrogram | kSpectrogramPicture | kFormantTrack},
         1000.0, 20000.0),
    real("m_dFormantSilenceLevel", &D::m_dFormantSilenceLevel,
         {"dBFS", "frames quieter than this get no formants (spectrogram, formant track)",
          kSpectrogram | kSpectrogramPicture | kFormantTrack},
         -400.0, 0.0),
};

bool isPowerOfTwo(std::int64_t value)
{
    return value > 0 && (value & (value - 1)) == 0;
}

// Whether `value` (already of the setting's type) lies in its range.
bool acceptable(const DocumentSetting& setting, double value)
{
    if (!std::isfinite(value) || value < setting.minimum || value > setting.maximum) {
        return false;
    }
    return !setting.powerOfTwo || isPowerOfTwo(static_cast<std::int64_t>(value));
}

std::string rangeText(const DocumentSetting& setting)
{
    if (setting.type == SettingType::Bool) {
        return "true or false";
    }
    if (setting.powerOfTwo) {
        return "a power of two from 32 to 8192";
    }
    const bool bounded = setting.minimum > -kRealMax && setting.maximum < kRealMax &&
                         !(setting.type == SettingType::Int32 && setting.minimum == kIntMin &&
                           setting.maximum == kIntMax);
    const char* kind = setting.type == SettingType::Int32 ? "an integer" : "a finite number";
    if (!bounded) {
        return setting.type == SettingType::Int32 ? "an integer within the 32-bit range" : kind;
    }
    char buf[128];
    std::snprintf(buf, sizeof buf, "%s from %g to %g", kind, setting.minimum, setting.maximum);
    return buf;
}

template <typename T> bool parseWhole(std::string_view text, T& value)
{
    const char* first = text.data();
    const char* last = first + text.size();
    const auto result = std::from_chars(first, last, value);
    return !text.empty() && result.ec == std::errc() && result.ptr == last;
}

} // namespace

std::vector<std::string_view> settingReaderNames(std::uint16_t readBy)
{
    // In SettingReader bit order.
    static constexpr std::string_view kNames[] = {
        "spectrum", "spectrum picture", "spectrogram", "spectrogram picture",
        "pitch",    "pitch picture",    "egg",         "picture",
        "log",      "formant track"};
    std::vector<std::string_view> names;
    for (std::size_t bit = 0; bit < std::size(kNames); ++bit) {
        if (readBy & (1U << bit)) {
            names.push_back(kNames[bit]);
        }
    }
    return names;
}

std::string settingRangeText(const DocumentSetting& setting)
{
    return rangeText(setting);
}

std::span<const DocumentSetting> documentSettings()
{
    return kSettings;
}

const DocumentSetting* findDocumentSetting(std::string_view name)
{
    for (const DocumentSetting& setting : kSettings) {
        if (name == setting.name) {
            return &setting;
        }
    }
    return nullptr;
}

SettingChange setDocumentSetting(DocumentFields& fields, const DocumentSetting& setting,
                                 std::string_view text, std::string* error)
{
    auto refuse = [&](const std::string& expected) {
        if (error) {
            *error = std::string(setting.name) + " takes " + expected + ", not \"" +
                     std::string(text) + "\"";
        }
        return SettingChange::BadValue;
    };
    switch (setting.type) {
    case SettingType::Bool:
        if (text == "1" || text == "true") {
            fields.*setting.flag = true;
        } else if (text == "0" || text == "false") {
            fields.*setting.flag = false;
        } else {
            return refuse("0, 1, true or false");
        }
        return SettingChange::Set;
    case SettingType::Int32: {
        // Read wider than int32 so that an out-of-range number is told as such.
        std::int64_t value = 0;
        if (!parseWhole(text, value) || !acceptable(setting, static_cast<double>(value))) {
            return refuse(rangeText(setting));
        }
        fields.*setting.integer = static_cast<std::int32_t>(value);
        return SettingChange::Set;
    }
    case SettingType::Double: {
        double value = 0.0;
        // from_chars reads "inf" and "nan" too; acceptable() refuses them.
        if (!parseWhole(text, value) || !acceptable(setting, value)) {
            return refuse(rangeText(setting));
        }
        fields.*setting.real = value;
        return SettingChange::Set;
    }
    }
    return SettingChange::BadValue;
}

SettingChange setDocumentSetting(DocumentFields& fields, std::string_view name,
                                 std::string_view text, std::string* error)
{
    const DocumentSetting* setting = findDocumentSetting(name);
    if (!setting) {
        if (error) {
            *error = "unknown setting " + std::string(name);
        }
        return SettingChange::UnknownName;
    }
    return setDocumentSetting(fields, *setting, text, error);
}

std::string documentSettingText(const DocumentFields& fields, const DocumentSetting& setting)
{
    switch (setting.type) {
    case SettingType::Bool:
        return fields.*setting.flag ? "true" : "false";
    case SettingType::Int32:
        return std::to_string(fields.*setting.integer);
    case SettingType::Double: {
        char buf[64];
        const auto result = std::to_chars(buf, buf + sizeof buf, fields.*setting.real);
        return std::string(buf, result.ptr);
    }
    }
    return {};
}

namespace {

bool usable(const DocumentFields& fields, const DocumentSetting& setting)
{
    switch (setting.type) {
    case SettingType::Int32:
        return acceptable(setting, static_cast<double>(fields.*setting.integer));
    case SettingType::Double:
        return acceptable(setting, fields.*setting.real);
    case SettingType::Bool:
        break;
    }
    return true;
}

} // namespace

const DocumentSetting* firstUnusableSetting(const DocumentFields& fields)
{
    for (const DocumentSetting& setting : kSettings) {
        if (!usable(fields, setting)) {
            return &setting;
        }
    }
    return nullptr;
}

std::vector<const DocumentSetting*> keepUsableSettings(DocumentFields& fields,
                                                       const DocumentFields& previous)
{
    std::vector<const DocumentSetting*> restored;
    for (const DocumentSetting& setting : kSettings) {
        if (usable(fields, setting)) {
            continue;
        }
        if (setting.type == SettingType::Int32) {
            fields.*setting.integer = previous.*setting.integer;
        } else if (setting.type == SettingType::Double) {
            fields.*setting.real = previous.*setting.real;
        }
        restored.push_back(&setting);
    }
    return restored;
}

std::optional<std::pair<std::string_view, std::string_view>>
splitAssignment(std::string_view assignment)
{
    const std::size_t equals = assignment.find('=');
    if (equals == std::string_view::npos || equals == 0) {
        return std::nullopt;
    }
    return std::pair{assignment.substr(0, equals), assignment.substr(equals + 1)};
}

} // namespace phonaxis
