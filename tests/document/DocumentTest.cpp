#include "document/Configuration.h"
#include "document/FileIO.h"
#include "document/MyDocument.h"
#include "support/ScriptedPrompts.h"

#include <algorithm>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace phonaxis {
namespace {

using test::ScriptedPrompts;
namespace fs = std::filesystem;

// Fills `document` as a WAV reader would: one channel per rate, `length`
// samples each, sample i of channel c = (c + 1) * i / length.
void fillChannels(MyDocument& document, const std::vector<double>& ratesHz, int length)
{
    document.m_nNumofChannels = static_cast<int>(ratesHz.size());
    for (std::size_t c = 0; c < ratesHz.size(); ++c) {
        std::vector<float> values(static_cast<std::size_t>(length));
        for (int i = 0; i < length; ++i) {
            values[static_cast<std::size_t>(i)] = float(double(c + 1) * i / length);
        }
        Channels& channel = document.getChannel(static_cast<int>(c));
        ASSERT_TRUE(channel.setData(values.data(), length));
        channel.m_dSampleRate = ratesHz[c];
        channel.m_dwFileLength = length;
        channel.m_dLengthMS = length * 1000.0 / ratesHz[c];
        channel.m_nChannelType = c == 0 ? 1 : 0;
        channel.SetTitle(c == 0 ? "Audio" : "Chan " + std::to_string(c));
    }
    document.m_bHaveData = true;
}

Bytes readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class DocumentTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() /
                ("phonaxis-doc-" + std::string(::testing::UnitTest::GetInstance()
                                                   ->current_test_info()
                                                   ->name()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    ScriptedPrompts m_prompts;
    AppSettings m_settings;
    fs::path m_dir;
};

TEST_F(DocumentTest, NewDocumentStartsWithItsDefaults)
{
    auto document = std::make_unique<MyDocument>(m_prompts, m_settings);
    EXPECT_EQ(document->m_nNumofChannels, 0);
    EXPECT_FALSE(document->m_bHaveData);
    EXPECT_TRUE(document->m_bNewFile);
    EXPECT_FALSE(document->m_bForeignFile);
    EXPECT_EQ(document->m_nFileFormat, -1);
    EXPECT_EQ(document->m_dAnalysisSampleRate, 11025.0);
    EXPECT_EQ(document->m_nFFTAppliedWindowLength, 23);
    EXPECT_EQ(document->m_nFFTfrequencyRange, 5000);
    EXPECT_EQ(document->m_nSpecfrequencyRange, 5000);
    EXPECT_EQ(document->m_nLPCNumberofCoefficients, 14);
    EXPECT_EQ(document->m_nSpecLPCNumberofCoefficients, 14);
    EXPECT_EQ(document->m_nEGGChannelIndex, -1);
    EXPECT_EQ(document->m_dPreEmphasis, 0.98);
    EXPECT_EQ(document->m_dPitchHeigth, 4.0);
    EXPECT_EQ(document->m_nF1RangeHigh, 1600);
    EXPECT_EQ(document->audioChannelIndex(), -1);
    for (int i = 0; i < MyDocument::kChannelSlots; ++i) {
        const Channels& channel = document->getChannel(i);
        EXPECT_EQ(channel.m_dC1Cal, 1.0) << i;
        EXPECT_EQ(channel.m_dA3Cal, 0.0) << i;
        EXPECT_EQ(channel.GetUnit(), "normalized") << i;
        EXPECT_FALSE(channel.m_hData.present()) << i;
        EXPECT_EQ(channel.GetTitle(), "channel") << i;
    }
}

TEST_F(DocumentTest, InitilizeResetsChannelsAndSettings)
{
    auto document = std::make_unique<MyDocument>(m_prompts, m_settings);
    fillChannels(*document, {22050, 22050}, 100);
    document->getChannel(3).m_dC1Cal = 5.0;
    document->m_nLPCNumberofCoefficients = 30;
    document->setDirty();
    document->Initilize();
    EXPECT_FALSE(document->m_bHaveData);
    EXPECT_EQ(document->m_nNumofChannels, 0);
    EXPECT_EQ(document->m_nLPCNumberofCoefficients, 14);
    EXPECT_EQ(document->getChannel(3).m_dC1Cal, 1.0);
    EXPECT_FALSE(document->getChannel(0).m_hData.present());
    EXPECT_EQ(document->changeCount(), 0);
}

struct RateCase {
    double rateHz;
    int range;
    int appliedWindow;
    int lpcOrder;
    int specLpcOrder;
};

TEST_F(DocumentTest, AdoptedRateRecomputesRateDependentSettings)
{
    const RateCase cases[] = {
        {44100, 22000, 5, 48, 48},
        {22050, 11000, 11, 26, 26},
        {8000, 4000, 32, 12, 12},
        {11025, 5000, 23, 14, 14},
        {16000, 8000, 16, 20, 20},
        {48000, 24000, 5, 52, 52},
        {400000, 200000, 0, 400, 404}, // the spectrum's order is capped, the spectrogram's not
        // Absurd rates from damaged headers saturate instead of overflowing.
        {3e74, 1073741000, 0, 400, 2147483647},
        {1e-300, 0, 2147483647, 4, 4},
    };
    for (const RateCase& c : cases) {
        AppSettings settings;
        settings.m_dLastAnalysisSampleRate = 1.0; // every case is a change of rate
        auto document = std::make_unique<MyDocument>(m_prompts, settings);
        fillChannels(*document, {c.rateHz}, 1000);
        document->adoptAnalysisSampleRate(true);
        SCOPED_TRACE(c.rateHz);
        EXPECT_EQ(document->m_dAnalysisSampleRate, c.rateHz);
        EXPECT_EQ(document->m_dwAnalysisFileLength, 1000.0);
        EXPECT_DOUBLE_EQ(document->m_dAnalysisLengthMS, 1000 * 1000.0 / c.rateHz);
        EXPECT_EQ(document->m_nFFTfrequencyRange, c.range);
        // The spectrogram shows what formants need: at most 5 kHz.
        EXPECT_EQ(document->m_nSpecfrequencyRange, std::min(c.range, 5000));
        EXPECT_EQ(document->m_nFFTAppliedWindowLength, c.appliedWindow);
        EXPECT_EQ(document->m_nLPCNumberofCoefficients, c.lpcOrder);
        EXPECT_EQ(document->m_nSpecLPCNumberofCoefficients, c.specLpcOrder);
        EXPECT_EQ(settings.m_dLastAnalysisSampleRate, c.rateHz);
    }
}

TEST_F(DocumentTest, SameRateAsLastOpenLeavesUserSettingsAlone)
{
    auto first = std::make_unique<MyDocument>(m_prompts, m_settings);
    fillChannels(*first, {44100}, 10);
    first->adoptAnalysisSampleRate(true);
    EXPECT_EQ(first->m_nLPCNumberofCoefficients, 48);

    // A second document at the same rate keeps what the user set, but still
    // takes the analysis rate and length.
    auto second = std::make_unique<MyDocument>(m_prompts, m_settings);
    second->m_nLPCNumberofCoefficients = 10;
    fillChannels(*second, {44100}, 20);
    second->adoptAnalysisSampleRate(true);
    EXPECT_EQ(second->m_nLPCNumberofCoefficients, 10);
    EXPECT_EQ(second->m_dAnalysisSampleRate, 44100.0);
    EXPECT_EQ(second->m_dwAnalysisFileLength, 20.0);

    // Without rate tracking nothing is recomputed either: a new document's
    // settings are those of the process-wide rate.
    auto third = std::make_unique<MyDocument>(m_prompts, m_settings);
    fillChannels(*third, {8000}, 20);
    third->adoptAnalysisSampleRate(false);
    EXPECT_EQ(third->m_nLPCNumberofCoefficients, 48);
    EXPECT_EQ(m_settings.m_dLastAnalysisSampleRate, 44100.0);
}

// A new document takes its settings from the application configuration, so a
// change of rate must reach the configuration too: before, the second 44.1 kHz
// file of a session, opened in a new window, kept the 11,025 Hz model because
// its rate was no longer a change.
TEST_F(DocumentTest, NewDocumentAfterAChangeOfRateHasTheSettingsOfThatRate)
{
    m_settings.m_strConfigFolder = m_dir.string();
    ASSERT_TRUE(ReadConfig(m_settings));
    auto first = std::make_unique<MyDocument>(m_prompts, m_settings);
    EXPECT_EQ(first->m_nLPCNumberofCoefficients, 14);
    fillChannels(*first, {44100}, 10);
    first->adoptAnalysisSampleRate(true);
    ASSERT_EQ(first->m_nLPCNumberofCoefficients, 48);

    auto second = std::make_unique<MyDocument>(m_prompts, m_settings);
    fillChannels(*second, {44100}, 10);
    second->adoptAnalysisSampleRate(true);
    EXPECT_EQ(second->m_nLPCNumberofCoefficients, 48);
    EXPECT_EQ(second->m_nSpecLPCNumberofCoefficients, 48);
    EXPECT_EQ(second->m_nFFTfrequencyRange, 22000);
    EXPECT_EQ(second->m_nSpecfrequencyRange, 5000);
    EXPECT_EQ(second->m_nFFTAppliedWindowLength, 5);

    // The next launch starts from that rate.
    AppSettings relaunched;
    relaunched.m_strConfigFolder = m_dir.string();
    ASSERT_TRUE(ReadConfig(relaunched));
    EXPECT_EQ(relaunched.m_dLastAnalysisSampleRate, 44100.0);
}

TEST_F(DocumentTest, ReferenceCommandsSetLevelsAtEachChannelsMarker)
{
    auto document = std::make_unique<MyDocument>(m_prompts, m_settings);
    fillChannels(*document, {1000, 1000, 2000}, 1000);
    // Markers at different times: channel c's marker reads sample 100 * (c + 1)
    // of its own time axis.
    for (int c = 0; c < 3; ++c) {
        Channels& channel = document->getChannel(c);
        channel.m_dReference = -1.0;
        channel.SetMarkerValues_Time(100.0 * (c + 1) * 1000.0 / channel.m_dSampleRate);
    }
    auto sample = [&](int c, int i) { return double(document->getChannel(c).samples()[i]); };

    document->setReferenceAll();
    EXPECT_EQ(document->getChannel(0).m_dReference, -1.0); // the audio channel keeps its own
    EXPECT_EQ(document->getChannel(1).m_dReference, sample(1, 200));
    EXPECT_EQ(document->getChannel(2).m_dReference, sample(2, 300));

    document->setReferenceFor(0);
    EXPECT_EQ(document->getChannel(0).m_dReference, sample(0, 100));
    document->setReferenceFor(-1); // no channel clicked
    document->setReferenceFor(7);  // not in use
    EXPECT_EQ(document->getChannel(7).m_dReference, 0.0);

    document->setReferenceAllZero();
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(document->getChannel(c).m_dReference, 0.0) << c;
    }

    // Intensity is measured about the reference: a new reference recomputes it.
    Channels& transducer = document->getChannel(1);
    ASSERT_TRUE(transducer.CalculateIntensity());
    const double before = transducer.GetIntensityCursorValue(500.0);
    transducer.SetMarkerValues_Time(900.0);
    document->setReferenceFor(1);
    EXPECT_NE(transducer.GetIntensityCursorValue(500.0), before);
    EXPECT_FALSE(document->getChannel(2).m_bHaveIntensity); // others are left alone
}

TEST_F(DocumentTest, OpenDispatchesByContentNotByTypeName)
{
    auto source = std::make_unique<MyDocument>(m_prompts, m_settings);
    fillChannels(*source, {22050, 22050}, 50);
    const auto wav = source->dataOfType("wav");
    ASSERT_TRUE(wav);

    for (const char* type : {"wav", "pmf", "aiff", ""}) {
        auto document = std::make_unique<MyDocument>(m_prompts, m_settings);
        document->setDirty();
        ASSERT_TRUE(document->readFromData(*wav, type)) << type;
        EXPECT_EQ(document->m_nFileFormat, 2);
        EXPECT_EQ(document->m_nNumofChannels, 2);
        EXPECT_TRUE(document->m_bHaveData);
        EXPECT_FALSE(document->m_bNewFile);
        EXPECT_EQ(document->changeCount(), 0);
        EXPECT_EQ(document->audioChannelIndex(), 0);
    }
}

TEST_F(DocumentTest, WavDocumentSavedAsPmfReopensAsFloatFileAndAdoptsItsRate)
{
    auto source = std::make_unique<MyDocument>(m_prompts, m_settings);
    fillChannels(*source, {44100, 44100}, 300);
    const auto wav = source->dataOfType("wav");
    ASSERT_TRUE(wav);
    auto fromWav = std::make_unique<MyDocument>(m_prompts, m_settings);
    ASSERT_TRUE(fromWav->readFromData(*wav, "wav"));
    EXPECT_EQ(fromWav->m_nLPCNumberofCoefficients, 48);
    const auto pmf = fromWav->dataOfType("pmf");
    ASSERT_TRUE(pmf);

    // Opened under a ".wav" name: the content decides.
    auto reopened = std::make_unique<MyDocument>(m_prompts, m_settings);
    ASSERT_TRUE(reopened->readFromData(*pmf, "wav"));
    EXPECT_EQ(reopened->m_nFileFormat, FileFormat::kPcFloat);
    EXPECT_FALSE(reopened->m_bForeignFile);
    EXPECT_EQ(reopened->m_nNumofChannels, 2);
    EXPECT_EQ(reopened->getChannel(1).GetTitle(), "Chan 1");
    EXPECT_EQ(reopened->m_dAnalysisSampleRate, 44100.0);
    EXPECT_EQ(reopened->m_nLPCNumberofCoefficients, 48);
    EXPECT_EQ(reopened->m_nFFTfrequencyRange, 22000);

    // Its selection can now be saved too.
    Channels& channel = reopened->getChannel(0);
    channel.SetMarkerValues_Time(1.0);
    channel.SetCursorInFile_Time(2.0);
    channel.CalculateDuration();
    reopened->getChannel(1).SetMarkerValues_Time(1.0);
    reopened->getChannel(1).SetCursorInFile_Time(2.0);
    reopened->getChannel(1).CalculateDuration();
    reopened->m_bHaveSelection = true;
    const fs::path target = m_dir / "selection.pmf";
    m_prompts.savePanelReplies = {target.string()};
    reopened->fileSaveSelectionAs();
    auto selection = std::make_unique<MyDocument>(m_prompts, m_settings);
    ASSERT_TRUE(selection->readFromData(readFile(target), "pmf"));
    EXPECT_EQ(selection->getChannel(0).m_dwFileLength, 44.0); // 1 ms at 44.1 kHz, truncated
}

TEST_F(DocumentTest, UnrecognisedContentFailsAndLeavesDocumentNew)
{
    const std::vector<Bytes> junk = {
        {},
        Bytes(3, 0),
        Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', ' '},
        Bytes{'F', 'O', 'R', 'M', 0, 0, 0, 4, 'A', 'I', 'F', 'F'},
        Bytes(4096, 0xFF),
    };
    for (const Bytes& bytes : junk) {
        auto document = std::make_unique<MyDocument>(m_prompts, m_settings);
        EXPECT_FALSE(document->readFromData(bytes, "wav")) << bytes.size();
        EXPECT_FALSE(document->m_bHaveData);
        EXPECT_TRUE(document->m_bNewFile);
        EXPECT_EQ(document->m_nNumofChannels, 0);
        EXPECT_EQ(document->m_nFileFormat, -1);
        EXPECT_FALSE(document->getChannel(0).m_hData.present());
    }
    EXPECT_TRUE(m_prompts.alerts.empty());
}

TEST_F(DocumentTest, MenuItemsFollowDataAndSelection)
{
    auto document = std::make_unique<MyDocument>(m_prompts, m_settings);
    const char* needData[] = {"saveDocument:", "saveDocumentAs:", "_fileSaveCopyAs:",
                              "_fileExportChannelAs:", "_fileSaveConfiguration:",
                              "revertDocumentToSaved:"};
    const char* needSelection[] = {"_fileSaveSelectionAs:", "_fileExportChannelSelectionAs:"};
    for (int state = 0; state < 3; ++state) {
        document->m_bHaveData = state >= 1;
        document->m_bHaveSelection = state >= 2;
        for (const char* name : needData) {
            EXPECT_EQ(document->validateMenuItem(name), state >= 1) << name << state;
        }
        for (const char* name : needSelection) {
            EXPECT_EQ(document->validateMenuItem(name), state >= 2) << name << state;
        }
        EXPECT_TRUE(document->validateMenuItem("_fileLoadConfiguration:"));
    }
}

TEST_F(DocumentTest, SavingAsAiffIsRefusedWithItsAlert)
{
    auto document = std::make_unique<MyDocument>(m_prompts, m_settings);
    fillChannels(*document, {22050}, 10);
    for (const char* type : {"aiff", "aif", "AIFF"}) {
        EXPECT_FALSE(document->dataOfType(type));
    }
    ASSERT_EQ(m_prompts.alerts.size(), 3u);
    EXPECT_EQ(m_prompts.alerts[0].title, "Saving Failed.");
    EXPECT_EQ(m_prompts.alerts[0].message, "AIFF/AIF file types savings are not implemented.");
    EXPECT_EQ(m_prompts.alerts[0].defaultButton, "OK");
    EXPECT_FALSE(document->dataOfType("mp3"));
    EXPECT_EQ(m_prompts.alerts.size(), 3u);
}

TEST_F(DocumentTest, ExportChannelWritesOneChannelAfterTheChooser)
{
    auto document = std::make_unique<MyDocument>(m_prompts, m_settings);
    fillChannels(*document, {22050, 22050, 22050}, 400);
    const fs::path target = m_dir / "export.wav";
    m_prompts.channelReplies = {2};
    m_prompts.savePanelReplies = {target.string()};
    document->fileExportChannelAs();

    ASSERT_EQ(m_prompts.channelChoices.size(), 1u);
    EXPECT_EQ(m_prompts.channelChoices[0].note, "Select a channel to export as wav");
    EXPECT_EQ(m_prompts.channelChoices[0].items,
              (std::vector<std::string>{"Audio", "Chan 1", "Chan 2"}));
    ASSERT_EQ(m_prompts.savePanels.size(), 1u);
    EXPECT_EQ(m_prompts.savePanels[0].requiredType, "wav");
    EXPECT_EQ(m_prompts.savePanels[0].proposedName, "Export_channel_");
    EXPECT_EQ(m_prompts.savePanels[0].prompt, "save");
    EXPECT_EQ(m_settings.saveContext.kind, "export");
    EXPECT_EQ(m_settings.saveContext.channel, 2);

    auto reopened = std::make_unique<MyDocument>(m_prompts, m_settings);
    ASSERT_TRUE(reopened->readFromData(readFile(target), "wav"));
    ASSERT_EQ(reopened->m_nNumofChannels, 1);
    EXPECT_EQ(reopened->getChannel(0).m_dwFileLength, 400.0);
    EXPECT_FLOAT_EQ(reopened->getChannel(0).samples()[200], float(3.0 * 200 / 400));
}

TEST_F(DocumentTest, ExportChannelSelectionWritesTheSelectedSamples)
{
    auto document = std::make_unique<MyDocument>(m_prompts, m_settings);
    fillChannels(*document, {22050, 22050, 22050}, 400);
    Channels& channel = document->getChannel(2);
    channel.m_dDurationStartFile = 100;
    channel.m_dDurationStopFile = 200;
    document->m_bHaveSelection = true;
    const fs::path target = m_dir / "sel.wav";
    m_prompts.channelReplies = {2};
    m_prompts.savePanelReplies = {target.string()};
    document->fileExportChannelSelectionAs();
    EXPECT_EQ(m_prompts.savePanels.at(0).proposedName, "Export_chanSel_");
    EXPECT_EQ(m_settings.saveContext.kind, "exportsel");

    auto reopened = std::make_unique<MyDocument>(m_prompts, m_settings);
    ASSERT_TRUE(reopened->readFromData(readFile(target), "wav"));
    EXPECT_EQ(reopened->getChannel(0).m_dwFileLength, 100.0);
    EXPECT_FLOAT_EQ(reopened->getChannel(0).samples()[0], float(3.0 * 100 / 400));
}

TEST_F(DocumentTest, CancelInTheChooserShowsNoSavePanel)
{
    auto document = std::make_unique<MyDocument>(m_prompts, m_settings);
    fillChannels(*document, {22050}, 10);
    document->m_bHaveSelection = true;
    m_prompts.channelReplies = {-1, -1};
    document->fileExportChannelAs();
    document->fileExportChannelSelectionAs();
    EXPECT_EQ(m_prompts.channelChoices.size(), 2u);
    EXPECT_TRUE(m_prompts.savePanels.empty());
}

TEST_F(DocumentTest, SelectionOfAWavDocumentWritesNothingAndKeepsExistingFiles)
{
    auto document = std::make_unique<MyDocument>(m_prompts, m_settings);
    fillChannels(*document, {22050}, 10);
    document->m_nFileFormat = FileFormat::kWav;
    document->m_bHaveSelection = true;

    const fs::path fresh = m_dir / "selection.pmf";
    m_prompts.savePanelReplies = {fresh.string()};
    document->fileSaveSelectionAs();
    EXPECT_EQ(m_prompts.savePanels.at(0).proposedName, "selection");
    EXPECT_EQ(m_prompts.savePanels.at(0).requiredType, "pmf");
    EXPECT_FALSE(fs::exists(fresh));

    // A file the user chose to replace is not destroyed when nothing was made.
    const fs::path existing = m_dir / "keep.pmf";
    std::ofstream(existing) << "precious";
    m_prompts.savePanelReplies = {existing.string()};
    document->fileSaveSelectionAs();
    EXPECT_EQ(readFile(existing), (Bytes{'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
    EXPECT_TRUE(m_prompts.alerts.empty());
}

TEST_F(DocumentTest, SaveContextFailuresAreReported)
{
    auto document = std::make_unique<MyDocument>(m_prompts, m_settings);
    fillChannels(*document, {22050}, 10);

    m_settings.saveContext = {"bogus", -1};
    document->didEndSaveFiles((m_dir / "x.wav").string());
    ASSERT_EQ(m_prompts.alerts.size(), 1u);
    EXPECT_EQ(m_prompts.alerts[0].title, "Error in save");
    EXPECT_EQ(m_prompts.alerts[0].message, "Wrong save file method.");
    EXPECT_FALSE(fs::exists(m_dir / "x.wav"));

    m_settings.saveContext = {"export", 0};
    document->didEndSaveFiles((m_dir / "missing-folder" / "x.wav").string());
    ASSERT_EQ(m_prompts.alerts.size(), 2u);
    EXPECT_EQ(m_prompts.alerts[1].title, "Error in save");
    EXPECT_EQ(m_prompts.alerts[1].message.rfind("File did not save.\nCannot write", 0), 0u)
        << m_prompts.alerts[1].message;
}

TEST_F(DocumentTest, AtomicWriteReplacesWholeFilesOnly)
{
    const fs::path target = m_dir / "out.wav";
    std::string error;
    const Bytes first(1000, 1);
    ASSERT_TRUE(writeFileAtomically(target.string(), first, error)) << error;
    EXPECT_EQ(readFile(target), first);
    const Bytes second(10, 2);
    ASSERT_TRUE(writeFileAtomically(target.string(), second, error)) << error;
    EXPECT_EQ(readFile(target), second);
    // A folder that does not exist fails with a message and leaves nothing.
    EXPECT_FALSE(writeFileAtomically((m_dir / "no" / "out.wav").string(), second, error));
    EXPECT_NE(error.find("out.wav"), std::string::npos);
    // No temporary files are left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 1);
}

} // namespace
} // namespace phonaxis
