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

constexpr DocumentSetting integer(const char* name, std::int32_t D::*m, double low = kIntMin,
                                  double high = kIntMax)
{
    return {name, SettingType::Int32, m, nullptr, nullptr, low, high, false};
}
// A transform length: a power of two from 32 to 8192.
constexpr DocumentSetting fftLength(const char* name, std::int32_t D::*m)
{
    return {name, SettingType::Int32, m, nullptr, nullptr, 32, 8192, true};
}
constexpr DocumentSetting flag(const char* name, bool D::*m)
{
    return {name, SettingType::Bool, nullptr, m, nullptr, 0, 1, false};
}
constexpr DocumentSetting real(const char* name, double D::*m, double low = -kRealMax,
                               double high = kRealMax)
{
    return {name, SettingType::Double, nullptr, nullptr, m, low, high, false};
}

// The ranges bound what an analysis allocates or loops over: lengths and
// orders the analysis library handles, steps that do not produce millions of
// frames or rows, positive ranges. Settings only the display reads take any
// value of their type.
constexpr DocumentSetting kSettings[] = {
    flag("m_bInches", &D::m_bInches),
    real("m_dWidth", &D::m_dWidth),
    real("m_dHeight", &D::m_dHeight),
    flag("m_bDrawTimeGrid", &D::m_bDrawTimeGrid),
    integer("m_nTimeGridSpacing", &D::m_nTimeGridSpacing),
    flag("m_bColor", &D::m_bColor),
    flag("m_bTrackMouse", &D::m_bTrackMouse),
    real("m_dZoomRange", &D::m_dZoomRange),

    integer("m_nFFTWindowLengthSelector", &D::m_nFFTWindowLengthSelector),
    fftLength("m_nFFTWindowLength", &D::m_nFFTWindowLength),
    integer("m_nFFTAppliedWindowLength", &D::m_nFFTAppliedWindowLength, 1, 100000),
    integer("m_nFFTAverageStepSize", &D::m_nFFTAverageStepSize, 1, 1000000),
    integer("m_nFFTfrequencyRange", &D::m_nFFTfrequencyRange, 1, 1000000),
    flag("m_bFFTAbsolute", &D::m_bFFTAbsolute),
    integer("m_nFFTAbsoluteRange", &D::m_nFFTAbsoluteRange),
    flag("m_bFFTInches", &D::m_bFFTInches),
    real("m_dFFTWidth", &D::m_dFFTWidth),
    real("m_dFFTHeight", &D::m_dFFTHeight),
    flag("m_bFFTColor", &D::m_bFFTColor),
    flag("m_bFFTDrawFrequencyGrid", &D::m_bFFTDrawFrequencyGrid),
    integer("m_nFFTFrequencyGrid", &D::m_nFFTFrequencyGrid),
    flag("m_bFFTDrawDBGrid", &D::m_bFFTDrawDBGrid),
    integer("m_nFFTDBGrid", &D::m_nFFTDBGrid),
    integer("m_nLPCNumberofCoefficients", &D::m_nLPCNumberofCoefficients, 1, 400),
    flag("m_bFFTDrawLPC", &D::m_bFFTDrawLPC),
    integer("m_nFFTFrameInterval", &D::m_nFFTFrameInterval, 1, 1000000),

    fftLength("m_nSpecWindowLength", &D::m_nSpecWindowLength),
    integer("m_nSpecWindowLengthSelector", &D::m_nSpecWindowLengthSelector),
    integer("m_nSpecfrequencyRange", &D::m_nSpecfrequencyRange, 1, 1000000),
    integer("m_nSpecDynamicRange", &D::m_nSpecDynamicRange, 1, 1000),
    real("m_dPreEmphasis", &D::m_dPreEmphasis, -1.0, 1.0),
    flag("m_bSpecDrawFormantTracking", &D::m_bSpecDrawFormantTracking),
    integer("m_nSpecLPCNumberofCoefficients", &D::m_nSpecLPCNumberofCoefficients, 1, 400),
    flag("m_bSpecInches", &D::m_bSpecInches),
    real("m_dSpecWidth", &D::m_dSpecWidth),
    real("m_dSpecHeight", &D::m_dSpecHeight),
    flag("m_bSpecDrawAudio", &D::m_bSpecDrawAudio),
    flag("m_bSpecDrawIntensity", &D::m_bSpecDrawIntensity),
    flag("m_bSpecDrawLabels", &D::m_bSpecDrawLabels),
    flag("m_bSpecDrawFrequencyGrid", &D::m_bSpecDrawFrequencyGrid),
    integer("m_nSpecFrequencyGrid", &D::m_nSpecFrequencyGrid),
    flag("m_bSpecDrawTimeGrid", &D::m_bSpecDrawTimeGrid),
    integer("m_nSpecTimeGrid", &D::m_nSpecTimeGrid),

    real("m_dPitchWindowLength", &D::m_dPitchWindowLength, 0.1, 100000.0),
    real("m_dPitchStepSize", &D::m_dPitchStepSize, 0.1, 100000.0),
    real("m_dCalculationHigh", &D::m_dCalculationHigh, 1.0, 1000000.0),
    real("m_dCalculationLow", &D::m_dCalculationLow, 1.0, 1000000.0),
    integer("m_nDisplayHigh", &D::m_nDisplayHigh),
    integer("m_nDisplayLow", &D::m_nDisplayLow),
    flag("m_bPitchDrawFreqGrid", &D::m_bPitchDrawFreqGrid),
    integer("m_nPitchFreqGrid", &D::m_nPitchFreqGrid),
    flag("m_bPitchDrawTimeGrid", &D::m_bPitchDrawTimeGrid),
    integer("m_nPitchTimeGrid", &D::m_nPitchTimeGrid),
    flag("m_bCepstral", &D::m_bCepstral),
    real("m_dTrackingThreshHold", &D::m_dTrackingThreshHold),
    real("m_dFreqDeviation", &D::m_dFreqDeviation),
    real("m_dTrackingThreshHold_AutoCorrolation", &D::m_dTrackingThreshHold_AutoCorrolation),
    real("m_dFreqDeviation_AutoCorrolation", &D::m_dFreqDeviation_AutoCorrolation),
    flag("m_bPitchDrawAudio", &D::m_bPitchDrawAudio),
    flag("m_bPitchDrawIntensity", &D::m_bPitchDrawIntensity),
    flag("m_bPitchDrawLabels", &D::m_bPitchDrawLabels),
    flag("m_bPitchColor", &D::m_bPitchColor),
    flag("m_bPitchInches", &D::m_bPitchInches),
    real("m_dPitchWidth", &D::m_dPitchWidth),
    real("m_dPitchHeigth", &D::m_dPitchHeigth),

    integer("m_nGenericHeaderSize", &D::m_nGenericHeaderSize),
    integer("m_nGenericSampleRate", &D::m_nGenericSampleRate),
    flag("m_bGenericFileType", &D::m_bGenericFileType),
    flag("m_bGenericResolution", &D::m_bGenericResolution),
    flag("m_bGenericByteOrder", &D::m_bGenericByteOrder),
    real("m_dLogStepSize", &D::m_dLogStepSize, 0.1, 1.0e9),
    integer("m_nVelocitySmoothingPoints", &D::m_nVelocitySmoothingPoints),
    integer("m_nAccelerationSmoothingPoints", &D::m_nAccelerationSmoothingPoints),
    integer("m_nEGGThresholdPerCent", &D::m_nEGGThresholdPerCent),
    integer("m_nPlotType", &D::m_nPlotType),
    flag("m_bDrawData", &D::m_bDrawData),
    flag("m_bDrawEllipse", &D::m_bDrawEllipse),
    flag("m_bDrawMean", &D::m_bDrawMean),
    flag("m_bDrawMeanLabel", &D::m_bDrawMeanLabel),
    flag("m_bDrawIndividualLabels", &D::m_bDrawIndividualLabels),
    integer("m_nF1RangeHigh", &D::m_nF1RangeHigh),
    integer("m_nF2RangeHigh", &D::m_nF2RangeHigh),
    integer("m_nF3RangeHigh", &D::m_nF3RangeHigh),
    flag("m_bPreciseAnalysis", &D::m_bPreciseAnalysis),
    real("m_dFormantCeiling", &D::m_dFormantCeiling, 1000.0, 20000.0),
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
