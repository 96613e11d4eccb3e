// The FFT/LPC, spectrogram and pitch option sheets, driven through the main
// window's Options menu.
#include "Signals.h" // before Qt: its "signals" keyword is a macro
#include "support/ScriptedPrompts.h"

namespace {

// One tone channel, 200 ms at 11025 Hz: the analysis rate of these tests.
std::optional<phonaxis::Bytes> toneWavBytes(phonaxis::Prompts& prompts)
{
    const std::vector<float> samples = phonaxis::signals::tone(220.0, 11025.0, 200.0);
    const std::span<const float> channels[] = {samples};
    return phonaxis::signals::waveFileBytes(11025.0, channels, prompts);
}

} // namespace

#include "app/MainWindowController.h"
#include "app/panels/AnalysisPanel.h"
#include "app/panels/PitchPanel.h"
#include "display/MenuCommands.h"
#include "document/Configuration.h"
#include "document/DocumentSettings.h"
#include "document/FileIO.h"
#include "document/MyDocument.h"
#include "support/AppFixture.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;

using Edits = std::vector<std::pair<const char*, const char*>>; // field name, typed text

void type(SettingsPanel& panel, const Edits& edits)
{
    for (const auto& [name, text] : edits) {
        QLineEdit* field = panel.findChild<QLineEdit*>(name);
        ASSERT_NE(field, nullptr) << name;
        field->setText(text);
    }
}

// A document setting as a number (booleans 0 or 1).
double settingOf(const DocumentFields& document, const char* name)
{
    const std::string text = documentSettingText(document, *findDocumentSetting(name));
    return text == "true" ? 1.0 : text == "false" ? 0.0 : std::stod(text);
}

std::vector<std::string> allSettings(const MyDocument& document)
{
    std::vector<std::string> texts;
    for (const DocumentSetting& setting : documentSettings()) {
        texts.push_back(documentSettingText(document, setting));
    }
    return texts;
}

class AnalysisPanelsTest : public test::AppFixture {
protected:
    AnalysisPanelsTest() : AppFixture("phonaxis-apanels-") {}

    MainWindowController* openTone()
    {
        const auto bytes = toneWavBytes(prompts);
        const fs::path wav = folder / "tone.wav";
        std::ofstream(wav, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes->data()), std::streamsize(bytes->size()));
        return application->openPath(QString::fromStdString(wav.string()));
    }

    Configuration configuration() const
    {
        FileContents contents;
        std::string error;
        EXPECT_TRUE(contents.open(settings.configPath(), error)) << error;
        return Configuration::fromBytes(contents.bytes()).value_or(Configuration());
    }
};

// One sheet: edits typed and made, then what OK leaves in the document and
// the configuration. Bytes outside [first, last] never change, nor do the
// fields inside it that are not the sheet's (offset, size).
struct OkCase {
    const char* command;
    Edits edits;
    std::function<void(SettingsPanel&)> choose;
    std::vector<std::pair<const char*, double>> document;
    std::function<void(const Configuration&)> record;
    std::size_t first, last;
    std::vector<std::pair<std::size_t, std::size_t>> notWritten;
};

const OkCase kOkCases[] = {
    {"_OptionsFFTLPC:",
     {{"m_nFFTAppliedWindowLength", "20"},
      {"m_nFFTfrequencyRange", "4000"},
      {"m_nLPCNumberofCoefficients", "12"},
      {"m_dFFTWidth", "7.25"},
      {"m_dFormantCeiling", "5500"}},
     [](SettingsPanel& panel) {
         panel.findChild<QCheckBox*>("m_bFFTAbsolute")->setChecked(true);
         panel.findChild<QCheckBox*>("m_bPreciseAnalysis")->setChecked(true);
     },
     {{"m_nFFTAppliedWindowLength", 20},
      {"m_bFFTAbsolute", 1},
      {"m_bPreciseAnalysis", 1},
      {"m_dFormantCeiling", 5500}},
     [](const Configuration& record) {
         EXPECT_EQ(record.getInt32(1104), 20);
         EXPECT_EQ(record.getInt32(1112), 4000);
         EXPECT_EQ(record.getInt32(1116), 1);
         EXPECT_DOUBLE_EQ(record.getDouble(1128), 7.25);
         EXPECT_EQ(record.getInt32(1164), 12);
     },
     1096,
     1175,
     {{1172, 4}}}, // the log's frame interval
    {"_OptionsSpectrogram:",
     {{"m_nSpecfrequencyRange", "4000"},
      {"m_dPreEmphasis", "0.5"},
      {"m_nSpecTimeGrid", "0"},
      {"m_dFormantCeiling", "4500"}},
     [](SettingsPanel& panel) {
         panel.findChild<QComboBox*>("m_nSpecWindowLengthSelector")->setCurrentIndex(4);
         panel.findChild<QCheckBox*>("m_bSpecDrawAudio")->setChecked(false);
         panel.findChild<QCheckBox*>("m_bPreciseAnalysis")->setChecked(false);
     },
     {{"m_nSpecWindowLength", 512},
      {"m_dPreEmphasis", 0.5},
      {"m_bPreciseAnalysis", 0},
      {"m_dFormantCeiling", 4500}},
     [](const Configuration& record) {
         EXPECT_EQ(record.getInt32(1496), 512);
         EXPECT_EQ(record.getInt32(1500), 4);
         EXPECT_EQ(record.getInt32(1504), 4000);
         EXPECT_DOUBLE_EQ(record.getDouble(1512), 0.5);
         EXPECT_EQ(record.getInt32(1552), 0);
         EXPECT_EQ(record.getInt32(1576), 0);
     },
     1496,
     1579,
     {{1556, 4}}}, // the intensity pane: set in the document, not here
    {"_OptionsPitch:",
     {{"m_dPitchWindowLength", "40.9"},
      {"m_dCalculationLow", "75"},
      {"m_dCalculationHigh", "400"},
      {"m_nDisplayLow", "60"},
      {"m_dTrackingThreshHold", "3"}},
     [](SettingsPanel& panel) {
         panel.findChild<QCheckBox*>("m_bPitchColor")->setChecked(false);
         panel.findChild<QRadioButton*>("centimetres")->setChecked(true);
         panel.findChild<QCheckBox*>("m_bPreciseAnalysis")->setChecked(true);
     },
     {{"m_dPitchWindowLength", 40},
      {"m_bPitchInches", 0},
      {"m_bCepstral", 1},
      {"m_bPreciseAnalysis", 1}},
     [](const Configuration& record) {
         EXPECT_DOUBLE_EQ(record.getDouble(1584), 40.0);
         EXPECT_DOUBLE_EQ(record.getDouble(1600), 400.0);
         EXPECT_DOUBLE_EQ(record.getDouble(1608), 75.0);
         EXPECT_EQ(record.getInt32(1620), 60);
         EXPECT_DOUBLE_EQ(record.getDouble(1648), 3.0);
         EXPECT_EQ(record.getInt32(1712), 0);
     },
     1584,
     1715,
     {{1640, 4}, {1664, 8}, {1672, 8}}}, // the method flag and the autocorrelation settings
};

TEST_F(AnalysisPanelsTest, OkStoresTheSheetsFieldsAndCancelChangesNothing)
{
    ASSERT_TRUE(ReadConfig(settings));
    for (const OkCase& test : kOkCases) {
        SCOPED_TRACE(test.command);
        MainWindowController* window = openTone();
        ASSERT_NE(window, nullptr);
        MyDocument& document = window->document();
        // Fields next to the sheets' own that they must not write.
        document.m_nFFTFrameInterval = 25;
        document.m_bSpecDrawIntensity = true;
        document.m_dTrackingThreshHold_AutoCorrolation = 7.0;
        document.m_dFreqDeviation_AutoCorrolation = 33.0;
        document.m_bCepstral = false;
        // A pattern no setting writes in the fields the sheet must leave alone.
        Configuration seeded = configuration();
        for (const auto& [offset, size] : test.notWritten) {
            for (std::size_t k = 0; k < size; k += 4) {
                seeded.putInt32(offset + k, std::int32_t(0xA5A5A5A5u));
            }
        }
        std::string error;
        ASSERT_TRUE(writeFileAtomically(settings.configPath(), seeded.bytes(), error)) << error;
        const Configuration before = configuration();
        const auto settingsBefore = allSettings(document);
        const auto edit = [&](SettingsPanel& panel) {
            type(panel, test.edits);
            test.choose(panel);
        };

        window->setPanelDriver([&](SettingsPanel& panel) {
            edit(panel);
            panel.pressCancel();
        });
        window->action(test.command)->trigger();
        EXPECT_EQ(allSettings(document), settingsBefore);
        EXPECT_EQ(configuration(), before);

        int code = 0;
        window->setPanelDriver([&](SettingsPanel& panel) {
            edit(panel);
            panel.pressOK();
            code = panel.result();
        });
        window->action(test.command)->trigger();
        EXPECT_EQ(code, SettingsPanel::kOK);
        for (const auto& [name, value] : test.document) {
            EXPECT_DOUBLE_EQ(settingOf(document, name), value) << name;
        }
        const Configuration after = configuration();
        test.record(after);
        const auto notTheSheets = [&](std::size_t at) {
            return at < test.first || at > test.last ||
                   std::any_of(test.notWritten.begin(), test.notWritten.end(), [&](const auto& f) {
                       return at >= f.first && at < f.first + f.second;
                   });
        };
        for (std::size_t at = 0; at < Configuration::kSize; ++at) {
            if (notTheSheets(at)) {
                ASSERT_EQ(after.bytes()[at], before.bytes()[at]) << "offset " << at;
            }
        }
        // The precise mode is kept beside the record, and the next new
        // document starts with it.
        std::ifstream beside(supplementPath(settings.configPath()));
        const std::string text{std::istreambuf_iterator<char>(beside), {}};
        EXPECT_EQ(text, supplementText(document));
        MyDocument next(prompts, settings);
        EXPECT_EQ(next.m_bPreciseAnalysis, document.m_bPreciseAnalysis);
        EXPECT_EQ(next.m_dFormantCeiling, document.m_dFormantCeiling);
        window->close();
    }
}

// A refused OK alerts (a message without a leading blank), keeps the sheet
// open and changes nothing. At 11025 Hz the 256-point window spans 23 ms and
// half the rate is 5512.5 Hz.
TEST_F(AnalysisPanelsTest, RefusedValuesKeepTheSheetOpenAndChangeNothing)
{
    ASSERT_TRUE(ReadConfig(settings));
    const struct {
        const char* command;
        Edits edits;
        const char* alert;
    } cases[] = {
        {"_OptionsFFTLPC:",
         {{"m_nFFTAppliedWindowLength", "24"}, {"m_nFFTfrequencyRange", "6000"}},
         "Applied window length is larger than allowed."},
        {"_OptionsFFTLPC:",
         {{"m_nFFTfrequencyRange", "5513"}},
         "Frequency range is larger than allowed."},
        {"_OptionsFFTLPC:", {{"m_nFFTAverageStepSize", "ten"}}, "Value is not valid."},
        {"_OptionsFFTLPC:", {{"m_nLPCNumberofCoefficients", "nan"}}, "Value is not valid."},
        {"_OptionsSpectrogram:",
         {{"m_nSpecfrequencyRange", "5001"}},
         "Frequency range is larger than allowed."},
        {"_OptionsSpectrogram:", {{"m_nSpecDynamicRange", "0"}}, "Value is not valid."},
        {"_OptionsSpectrogram:", {{"m_dPreEmphasis", "inf"}}, "Value is not valid."},
        {"_OptionsPitch:", {{"m_dPitchStepSize", "0"}}, "Value is not valid."},
        {"_OptionsPitch:", {{"m_dCalculationLow", "600"}}, "Calculation range is not valid."},
        {"_OptionsPitch:", {{"m_nDisplayLow", "500"}}, "Display range is not valid."},
        {"_OptionsPitch:", {{"m_nPitchFreqGrid", ""}}, "Value is not valid."},
    };
    MainWindowController* window = openTone();
    ASSERT_NE(window, nullptr);
    const Configuration before = configuration();
    const auto settingsBefore = allSettings(window->document());
    for (const auto& test : cases) {
        SCOPED_TRACE(test.edits.front().first);
        prompts.alerts.clear();
        bool stayedOpen = false;
        window->setPanelDriver([&](SettingsPanel& panel) {
            type(panel, test.edits);
            panel.pressOK();
            stayedOpen = panel.isVisible();
        });
        window->action(test.command)->trigger();
        EXPECT_TRUE(stayedOpen);
        ASSERT_EQ(prompts.alerts.size(), 1u);
        EXPECT_EQ(prompts.alerts[0].title, test.alert);
        EXPECT_EQ(prompts.alerts[0].defaultButton, "Correct it");
        // The message says what is allowed, starting with its first word.
        const std::string& message = prompts.alerts[0].message;
        ASSERT_FALSE(message.empty());
        EXPECT_NE(message.front(), ' ') << message;
        EXPECT_EQ(allSettings(window->document()), settingsBefore);
        EXPECT_EQ(configuration(), before);
    }
}

// Default restores exactly what a new document has at the document's
// analysis rate, in every setting the sheet shows.
TEST_F(AnalysisPanelsTest, DefaultButtonGivesANewDocumentsSettings)
{
    const struct {
        const char* command;
        std::vector<const char*> settings;
    } cases[] = {
        // clang-format off
        {"_OptionsFFTLPC:",
         {"m_nFFTWindowLengthSelector", "m_nFFTWindowLength", "m_nFFTAppliedWindowLength",
          "m_nFFTfrequencyRange", "m_nFFTAverageStepSize", "m_nLPCNumberofCoefficients",
          "m_bFFTDrawLPC", "m_bFFTAbsolute", "m_nFFTAbsoluteRange", "m_bFFTInches", "m_dFFTWidth",
          "m_dFFTHeight", "m_bFFTColor", "m_bFFTDrawFrequencyGrid", "m_nFFTFrequencyGrid",
          "m_bFFTDrawDBGrid", "m_nFFTDBGrid", "m_bPreciseAnalysis", "m_dFormantCeiling"}},
        // The length list shows the transform length; the selector saved
        // with it is that entry's.
        {"_OptionsSpectrogram:",
         {"m_nSpecWindowLength", "m_nSpecDynamicRange", "m_nSpecfrequencyRange",
          "m_dPreEmphasis", "m_bSpecDrawFormantTracking", "m_nSpecLPCNumberofCoefficients",
          "m_bSpecDrawAudio", "m_bSpecDrawLabels", "m_bSpecDrawFrequencyGrid",
          "m_nSpecFrequencyGrid", "m_bSpecDrawTimeGrid", "m_nSpecTimeGrid", "m_bSpecInches",
          "m_dSpecWidth", "m_dSpecHeight", "m_bPreciseAnalysis", "m_dFormantCeiling"}},
        {"_OptionsPitch:",
         {"m_dPitchWindowLength", "m_dPitchStepSize", "m_dFreqDeviation", "m_dTrackingThreshHold",
          "m_dCalculationLow", "m_dCalculationHigh", "m_nDisplayLow", "m_nDisplayHigh",
          "m_bPitchDrawFreqGrid", "m_nPitchFreqGrid", "m_bPitchDrawTimeGrid", "m_nPitchTimeGrid",
          "m_bPitchDrawAudio", "m_bPitchDrawIntensity", "m_bPitchDrawLabels", "m_bPitchInches",
          "m_dPitchWidth", "m_dPitchHeigth", "m_bPitchColor", "m_bPreciseAnalysis"}},
        // clang-format on
    };
    MainWindowController* window = openTone();
    ASSERT_NE(window, nullptr);
    MyDocument& document = window->document();
    for (const double rateHz : {11025.0, 44100.0}) {
        document.m_dAnalysisSampleRate = rateHz;
        const DocumentFields fresh = newDocumentFields(rateHz);
        for (const auto& test : cases) {
            SCOPED_TRACE(test.command);
            SCOPED_TRACE(rateHz);
            // Away from every default, so that each value must come from the button.
            for (const char* name : test.settings) {
                const DocumentSetting& setting = *findDocumentSetting(name);
                const double value = settingOf(fresh, name);
                const double others[] = {setting.type == SettingType::Bool ? 1.0 - value
                                         : setting.powerOfTwo              ? 2048.0
                                                                           : value * 2.0,
                                         value / 2.0};
                const bool set =
                    std::any_of(std::begin(others), std::end(others), [&](double other) {
                        return other != value &&
                               setDocumentSetting(document, name,
                                                  QString::number(other).toStdString()) ==
                                   SettingChange::Set;
                    });
                ASSERT_TRUE(set) << name;
            }
            window->setPanelDriver([](SettingsPanel& panel) {
                panel.findChild<QPushButton*>("Default")->click();
                panel.pressOK();
            });
            window->action(test.command)->trigger();
            for (const char* name : test.settings) {
                const DocumentSetting& setting = *findDocumentSetting(name);
                EXPECT_EQ(documentSettingText(document, setting),
                          documentSettingText(fresh, setting))
                    << name;
            }
        }
        EXPECT_EQ(document.m_nSpecWindowLength,
                  fftLengthOfSelector(document.m_nSpecWindowLengthSelector));
    }
}

TEST_F(AnalysisPanelsTest, ChoosingAnFftLengthSetsTheAppliedWindow)
{
    MainWindowController* window = openTone();
    ASSERT_NE(window, nullptr);
    const struct {
        double rateHz; // the document's analysis rate
        int entry;
        const char* text;
        std::int32_t appliedMs; // whole ms of 2^(entry + 5) points, at least 1
    } entries[] = {{11025.0, 0, " 344 Hz (32 pts)", 2},   {11025.0, 3, " 43 Hz (256 pts)", 23},
                   {11025.0, 5, " 10 Hz (1024 pts)", 92}, {11025.0, 8, " 1 Hz (8192 pts)", 743},
                   {44100.0, 0, " 1378 Hz (32 pts)", 1}, // 0.73 ms
                   {44100.0, 1, " 689 Hz (64 pts)", 1}}; // 1.45 ms
    for (const auto& entry : entries) {
        SCOPED_TRACE(entry.text);
        window->document().m_dAnalysisSampleRate = entry.rateHz;
        QString shownMs;
        window->setPanelDriver([&](SettingsPanel& panel) {
            auto* list = panel.findChild<QComboBox*>("m_nFFTWindowLengthSelector");
            EXPECT_EQ(list->itemText(entry.entry), entry.text);
            list->setCurrentIndex(entry.entry == 3 ? 4 : 3);
            list->setCurrentIndex(entry.entry);
            shownMs = panel.findChild<QLineEdit*>("m_nFFTAppliedWindowLength")->text();
            panel.pressOK();
        });
        EXPECT_EQ(window->OptionsFFTLPC(), SettingsPanel::kOK);
        EXPECT_EQ(shownMs.toInt(), entry.appliedMs);
        EXPECT_EQ(window->document().m_nFFTWindowLength, 1 << (entry.entry + 5));
        EXPECT_EQ(window->document().m_nFFTAppliedWindowLength, entry.appliedMs);
    }
}

// A new document's spectrogram selector (128 points) disagrees with its
// length (64 points, the one the analysis uses): the sheet shows the length,
// and OK without edits stores the pair consistently.
TEST_F(AnalysisPanelsTest, SpectrogramSheetShowsTheLengthInUse)
{
    ASSERT_TRUE(ReadConfig(settings));
    MainWindowController* window = openTone();
    ASSERT_NE(window, nullptr);
    MyDocument& document = window->document();
    const MyDocument fresh(prompts);
    ASSERT_EQ(fresh.m_nSpecWindowLengthSelector, 2);
    ASSERT_EQ(fresh.m_nSpecWindowLength, 64);
    document.m_nSpecWindowLengthSelector = fresh.m_nSpecWindowLengthSelector;
    document.m_nSpecWindowLength = fresh.m_nSpecWindowLength;
    QString shown;
    window->setPanelDriver([&](SettingsPanel& panel) {
        shown = panel.findChild<QComboBox*>("m_nSpecWindowLengthSelector")->currentText();
        panel.pressOK();
    });
    EXPECT_EQ(window->OptionsSpectrogram(), SettingsPanel::kOK);
    EXPECT_EQ(shown, " 172 Hz (64 pts)");
    EXPECT_EQ(document.m_nSpecWindowLength, 64);
    EXPECT_EQ(document.m_nSpecWindowLengthSelector, 1);
    const Configuration record = configuration();
    EXPECT_EQ(record.getInt32(1496), 64);
    EXPECT_EQ(record.getInt32(1500), 1);
}

// The sheets show whole ms and two decimals; OK without an edit keeps the
// document's exact values, and without a configuration writes nothing.
TEST_F(AnalysisPanelsTest, OkWithoutEditsKeepsExactValuesAndWritesNoMissingConfiguration)
{
    MainWindowController* window = openTone();
    ASSERT_NE(window, nullptr);
    MyDocument& document = window->document();
    document.m_dPitchWindowLength = 12.5;
    document.m_dPreEmphasis = 0.975;
    document.m_nFFTAppliedWindowLength = 20; // filling the length list must not reset it
    document.m_dCalculationLow = 50.2;       // both shown "50": still a valid range
    document.m_dCalculationHigh = 50.4;
    QStringList shown;
    window->setPanelDriver([&](SettingsPanel& panel) {
        for (const char* name :
             {"m_dPitchWindowLength", "m_dCalculationLow", "m_dCalculationHigh"}) {
            if (const auto* field = panel.findChild<QLineEdit*>(name)) {
                shown << field->text();
            }
        }
        panel.pressOK();
        EXPECT_EQ(panel.lastPatch(), PatchResult::NoFile);
    });
    EXPECT_EQ(window->OptionsPitch(), SettingsPanel::kOK);
    EXPECT_EQ(shown, QStringList({"12", "50", "50"}));
    EXPECT_EQ(document.m_dCalculationLow, 50.2);
    EXPECT_EQ(document.m_dCalculationHigh, 50.4);
    EXPECT_EQ(window->OptionsSpectrogram(), SettingsPanel::kOK);
    EXPECT_EQ(window->OptionsFFTLPC(), SettingsPanel::kOK);
    EXPECT_EQ(document.m_nFFTAppliedWindowLength, 20);
    EXPECT_EQ(document.m_dPitchWindowLength, 12.5);
    EXPECT_EQ(document.m_dPreEmphasis, 0.975);
    EXPECT_FALSE(fs::exists(settings.configPath()));
}

TEST_F(AnalysisPanelsTest, SheetsOpenOnlyWithDataAndShowTheTimeGridNote)
{
    MainWindowController* empty = application->newDocument();
    MainWindowController* full = openTone();
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(withoutMnemonic(full->action("_OptionsFFTLPC:")->text()), "FFT/LPC…");
    EXPECT_EQ(empty->OptionsPitch(), SettingsPanel::kCancel);
    for (const char* command : {"_OptionsSpectrogram:", "_OptionsPitch:"}) {
        QString note;
        full->setPanelDriver(
            [&](SettingsPanel& panel) { note = panel.findChild<QLabel*>("note")->text(); });
        full->action(command)->trigger();
        EXPECT_EQ(note.toStdString(), kTimeGridNote) << command;
    }
}

} // namespace
} // namespace phonaxis
