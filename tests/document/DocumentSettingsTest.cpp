#include "document/DocumentSettings.h"

#include "document/MyDocument.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace phonaxis {
namespace {

// Texts of every setting, to see which ones a change touched.
std::vector<std::string> allTexts(const DocumentFields& fields)
{
    std::vector<std::string> texts;
    for (const DocumentSetting& setting : documentSettings()) {
        texts.push_back(documentSettingText(fields, setting));
    }
    return texts;
}

// An acceptable value other than the default, as text.
std::string otherValue(const DocumentFields& defaults, const DocumentSetting& setting)
{
    switch (setting.type) {
    case SettingType::Bool:
        return defaults.*setting.flag ? "false" : "true";
    case SettingType::Int32: {
        const std::int32_t value = defaults.*setting.integer;
        if (setting.powerOfTwo) {
            return value == 1024 ? "2048" : "1024";
        }
        return std::to_string(value + 1 <= setting.maximum ? value + 1 : value - 1);
    }
    case SettingType::Double: {
        // Not exactly representable: the text must still read back exactly.
        const double value = defaults.*setting.real;
        return std::to_string(value + 0.1 <= setting.maximum ? value + 0.1 : value - 0.1) + "1";
    }
    }
    return {};
}

TEST(DocumentSettingsTest, EverySettingRoundTripsAndTouchesOnlyItsField)
{
    const DocumentFields defaults;
    EXPECT_EQ(firstUnusableSetting(defaults), nullptr);
    const std::vector<std::string> defaultTexts = allTexts(defaults);
    std::set<std::string> names;
    for (std::size_t i = 0; i < documentSettings().size(); ++i) {
        const DocumentSetting& setting = documentSettings()[i];
        EXPECT_TRUE(names.insert(setting.name).second) << setting.name;
        EXPECT_EQ(findDocumentSetting(setting.name), &setting);

        DocumentFields changed;
        const std::string text = otherValue(defaults, setting);
        ASSERT_EQ(setDocumentSetting(changed, setting.name, text), SettingChange::Set)
            << setting.name << "=" << text;
        std::vector<std::string> expected = defaultTexts;
        expected[i] = documentSettingText(changed, setting);
        EXPECT_NE(expected[i], defaultTexts[i]) << setting.name;
        EXPECT_EQ(allTexts(changed), expected) << setting.name;

        DocumentFields copy;
        ASSERT_EQ(setDocumentSetting(copy, setting.name, expected[i]), SettingChange::Set);
        EXPECT_EQ(allTexts(copy), expected) << setting.name;
    }
    // The document's state is not a setting.
    for (const char* state : {"m_nNumofChannels", "m_bHaveData", "m_nFileFormat",
                              "m_bHaveSelection", "m_bHavePitch", "m_dwAnalysisFileLength"}) {
        EXPECT_EQ(findDocumentSetting(state), nullptr) << state;
    }
}

TEST(DocumentSettingsTest, ValuesAreParsedStrictly)
{
    struct Case {
        const char* name;
        const char* text;
        SettingChange result;
        const char* stored; // the text read back after the attempt
    };
    const Case cases[] = {
        {"m_nFFTDBGrid", "-2147483648", SettingChange::Set, "-2147483648"},
        {"m_nFFTDBGrid", "2147483648", SettingChange::BadValue, "20"},
        {"m_nFFTDBGrid", " 12", SettingChange::BadValue, "20"},
        {"m_nLPCNumberofCoefficients", "400", SettingChange::Set, "400"},
        {"m_nLPCNumberofCoefficients", "401", SettingChange::BadValue, "14"},
        {"m_nSpecWindowLength", "8192", SettingChange::Set, "8192"},
        {"m_nSpecWindowLength", "96", SettingChange::BadValue, "64"},
        {"m_dPreEmphasis", "0.5e0", SettingChange::Set, "0.5"},
        {"m_dPreEmphasis", "1.01", SettingChange::BadValue, "0.98"},
        {"m_dFormantSilenceLevel", "-62.5", SettingChange::Set, "-62.5"},
        {"m_dFormantSilenceLevel", "3", SettingChange::BadValue, "-50"},
        {"m_dWidth", "-1e300", SettingChange::Set, "-1e+300"},
        {"m_dWidth", "1e400", SettingChange::BadValue, "6"},
        {"m_dWidth", "nan", SettingChange::BadValue, "6"},
        {"m_dWidth", "0x10", SettingChange::BadValue, "6"},
        {"m_dPitchStepSize", "0", SettingChange::BadValue, "10"},
        {"m_bColor", "1", SettingChange::Set, "true"},
        {"m_bInches", "false", SettingChange::Set, "false"},
        {"m_bInches", "TRUE", SettingChange::BadValue, "true"},
        {"m_bNoSuchSetting", "1", SettingChange::UnknownName, nullptr},
    };
    for (const Case& c : cases) {
        DocumentFields fields;
        std::string error;
        EXPECT_EQ(setDocumentSetting(fields, c.name, c.text, &error), c.result)
            << c.name << "=" << c.text;
        EXPECT_EQ(error.empty(), c.result == SettingChange::Set) << error;
        if (c.stored) {
            EXPECT_EQ(documentSettingText(fields, *findDocumentSetting(c.name)), c.stored)
                << c.name << "=" << c.text;
        }
    }

    DocumentFields fields;
    fields.m_nFFTWindowLength = 7;
    const DocumentSetting* bad = firstUnusableSetting(fields);
    ASSERT_NE(bad, nullptr);
    EXPECT_STREQ(bad->name, "m_nFFTWindowLength");

    using Parts = std::pair<std::string_view, std::string_view>;
    EXPECT_EQ(splitAssignment("a=b=c"), (Parts{"a", "b=c"}));
    EXPECT_EQ(splitAssignment("a="), (Parts{"a", ""}));
    EXPECT_FALSE(splitAssignment("=1"));
    EXPECT_FALSE(splitAssignment("a"));
}

TEST(DocumentSettingsTest, EverySettingSaysWhatItIsAndWhatReadsIt)
{
    const std::set<std::string> units = {"",  "ms",     "Hz",    "dB",           "dBFS",
                                         "%", "points", "bytes", "coefficients", "in or cm"};
    for (const DocumentSetting& setting : documentSettings()) {
        EXPECT_TRUE(units.count(setting.unit)) << setting.name << ": " << setting.unit;
        EXPECT_GT(std::string(setting.meaning).size(), 8u) << setting.name;
        EXPECT_FALSE(settingRangeText(setting).empty()) << setting.name;
    }
    // Readers found in the analyses and graphs: a setting they use must
    // never be called unread, one nothing uses must not claim a reader.
    struct Case {
        const char* name;
        std::vector<std::string_view> readers;
    };
    const Case cases[] = {
        {"m_bCepstral", {}},
        {"m_dFFTWidth", {}},
        {"m_nLPCNumberofCoefficients", {"spectrum", "spectrum picture"}},
        {"m_nFFTFrameInterval", {"spectrum"}},
        {"m_nFFTDBGrid", {"spectrum picture"}},
        {"m_nSpecDynamicRange", {"spectrogram", "spectrogram picture"}},
        {"m_dLogStepSize", {"spectrogram", "log"}},
        {"m_bPitchDrawIntensity", {"pitch", "pitch picture"}},
        {"m_nDisplayHigh", {"pitch picture"}},
        {"m_bDrawTimeGrid", {"picture"}},
        {"m_dFormantCeiling",
         {"spectrum", "spectrum picture", "spectrogram", "spectrogram picture", "formant track"}},
        {"m_dFormantSilenceLevel", {"spectrogram", "spectrogram picture", "formant track"}},
        {"m_nSpecLPCNumberofCoefficients", {"spectrogram", "spectrogram picture", "formant track"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(settingReaderNames(findDocumentSetting(c.name)->readBy), c.readers) << c.name;
    }
    EXPECT_EQ(settingRangeText(*findDocumentSetting("m_bColor")), "true or false");
    EXPECT_EQ(settingRangeText(*findDocumentSetting("m_nSpecWindowLength")),
              "a power of two from 32 to 8192");
}

} // namespace
} // namespace phonaxis
