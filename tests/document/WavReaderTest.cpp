#include "TestFiles.h"
#include "document/MyDocument.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <sstream>

namespace phonaxis {
namespace {

using testfiles::Chunk;
using testfiles::exactRamp;
using testfiles::FileBytes;
using testfiles::makeWav;
using testfiles::WavLayout;

// Everything a reader may touch, as text, so that two documents can be
// compared in one expectation.
std::string documentState(const MyDocument& doc)
{
    std::ostringstream s;
    s << doc.m_nNumofChannels << ' ' << doc.m_bHaveData << doc.m_bNewFile << doc.m_bForeignFile
      << ' ' << doc.m_nFileFormat << ' ' << doc.m_dAnalysisSampleRate << ' '
      << doc.m_dwAnalysisFileLength << ' ' << doc.m_nLPCNumberofCoefficients << '\n';
    for (int i = 0; i < MyDocument::kChannelSlots; ++i) {
        const Channels& c = doc.getChannel(i);
        s << i << ": " << c.m_hData.present() << ' ' << c.m_hData.size() << ' ' << c.m_dwFileLength
          << ' ' << c.m_dSampleRate << ' ' << c.m_dLengthMS << ' ' << c.GetTitle() << '|'
          << c.GetUnit() << ' ' << c.m_nChannelType << c.m_bAnchorChannel << ' ' << c.m_nOrder
          << ' ' << c.m_nResolutionBits << ' ' << c.m_nDataType << ' ' << c.m_dPageMax << ' '
          << c.m_dMaxUnZoom << ' ' << c.m_dFilterRate << ' ' << c.m_dGain << '\n';
    }
    return s.str();
}

// Each channel holds its column of `interleaved` (as stored in `bits` bits)
// as floats, then zero slack.
void expectSamples(const MyDocument& doc, const std::vector<double>& interleaved,
                   std::size_t channels, int bits = 16, bool isFloat = false)
{
    const std::size_t frames = interleaved.size() / channels;
    ASSERT_EQ(doc.m_nNumofChannels, static_cast<std::int32_t>(channels));
    for (std::size_t c = 0; c < channels; ++c) {
        const Channels& ch = doc.getChannel(static_cast<int>(c));
        ASSERT_EQ(ch.m_dwFileLength, static_cast<double>(frames));
        ASSERT_EQ(ch.m_hData.size(), frames + Channels::kSlackFloats);
        for (std::size_t f = 0; f < frames; ++f) {
            const double stored =
                testfiles::encodedValue(interleaved[f * channels + c], bits, isFloat);
            ASSERT_EQ(ch.m_hData[f], static_cast<float>(stored))
                << "channel " << c << " frame " << f;
        }
        for (std::size_t k = frames; k < ch.m_hData.size(); ++k) {
            ASSERT_EQ(ch.m_hData[k], 0.0f);
        }
    }
}

class WavReader : public ::testing::Test {
protected:
    test::ScriptedPrompts prompts;
    AppSettings settings;
    MyDocument doc{prompts, settings};
    test::ScriptedPrompts freshPrompts;
    AppSettings freshSettings;
    MyDocument fresh{freshPrompts, freshSettings};

    bool read(const FileBytes& bytes) { return doc.Read_WAVE_FileType(bytes); }
};

WavLayout layoutOf(std::uint16_t tag, std::uint16_t bits, std::uint16_t channels,
                   std::uint16_t subFormat = testfiles::kWavPcm)
{
    return testfiles::wavLayout(tag, bits, channels, 16000, subFormat);
}

TEST_F(WavReader, EveryEncodingAndChannelCountReadsNormalisedValues)
{
    struct Encoding {
        std::uint16_t tag, subFormat, bits;
    };
    const Encoding encodings[] = {
        {testfiles::kWavPcm, 0, 8},         {testfiles::kWavPcm, 0, 16},
        {testfiles::kWavPcm, 0, 24},        {testfiles::kWavPcm, 0, 32},
        {testfiles::kWavFloat, 0, 32},      {testfiles::kWavFloat, 0, 64},
        {testfiles::kWavExtensible, 1, 8},  {testfiles::kWavExtensible, 1, 16},
        {testfiles::kWavExtensible, 1, 24}, {testfiles::kWavExtensible, 1, 32},
        {testfiles::kWavExtensible, 3, 32}, {testfiles::kWavExtensible, 3, 64},
    };
    for (const auto& e : encodings) {
        for (std::uint16_t channels : {1, 2, 3, 20}) {
            SCOPED_TRACE(::testing::Message() << "tag " << e.tag << " sub " << e.subFormat
                                              << " bits " << e.bits << " channels " << channels);
            test::ScriptedPrompts p;
            AppSettings s;
            MyDocument local(p, s);
            const auto values = testfiles::testSignal(67, channels);
            ASSERT_TRUE(local.Read_WAVE_FileType(
                makeWav(layoutOf(e.tag, e.bits, channels, e.subFormat), values)));
            const bool isFloat =
                e.tag == testfiles::kWavFloat || e.subFormat == testfiles::kWavFloat;
            expectSamples(local, values, channels, e.bits, isFloat);
            EXPECT_EQ(local.getChannel(0).m_nResolutionBits, e.bits);
            EXPECT_EQ(local.getChannel(channels - 1).m_dSampleRate, 16000.0);
        }
    }
}

TEST_F(WavReader, StereoSixteenBitSetsChannelsAndDocument)
{
    ASSERT_TRUE(read(makeWav(layoutOf(1, 16, 2),
                             std::vector<double>{100.0 / 32768, -100.0 / 32768, 0.5, -1.0})));
    const Channels& audio = doc.getChannel(0);
    const Channels& second = doc.getChannel(1);
    EXPECT_EQ(audio.m_hData[0], 100.0f / 32768.0f);
    EXPECT_EQ(second.m_hData[0], -100.0f / 32768.0f);
    EXPECT_EQ(second.m_hData[1], -1.0f);

    EXPECT_EQ(audio.GetTitle(), "Audio");
    EXPECT_EQ(second.GetTitle(), "Chan 1");
    for (const Channels* c : {&audio, &second}) {
        EXPECT_EQ(c->GetUnit(), "normalized");
        EXPECT_EQ(c->m_dwFileLength, 2.0);
        EXPECT_EQ(c->m_dLengthMS, 2.0 * 1000.0 / 16000.0);
        EXPECT_EQ(c->m_nDataType, 3);
        EXPECT_EQ(c->m_nResolutionBits, 16);
        EXPECT_EQ(c->m_dPageMin, 0.0);
        EXPECT_EQ(c->m_dPageMax, 2.0);
        EXPECT_EQ(c->m_dMaxUnZoom, 2.0);
        EXPECT_EQ(c->m_dFilterRate, 8000.0);
        EXPECT_EQ(c->m_dC1Cal, 1.0);
        EXPECT_EQ(c->m_dGain, 1.0);
        EXPECT_TRUE(c->m_bShow);
    }
    EXPECT_EQ(audio.m_nChannelType, 1);
    EXPECT_TRUE(audio.m_bAnchorChannel);
    EXPECT_EQ(audio.m_nOrder, 1);
    EXPECT_EQ(second.m_nChannelType, 0);
    EXPECT_FALSE(second.m_bAnchorChannel);
    EXPECT_EQ(second.m_nOrder, 2);

    EXPECT_EQ(doc.m_nFileFormat, FileFormat::kWav);
    EXPECT_TRUE(doc.m_bHaveData);
    EXPECT_TRUE(doc.m_bForeignFile);
    EXPECT_FALSE(doc.m_bNewFile);
    EXPECT_EQ(doc.m_dAnalysisSampleRate, 16000.0);
}

// A WAV file's rate becomes the analysis rate, and the settings that follow
// the rate are computed for it: before, a 44.1 kHz file was analysed with the
// LPC order and ranges of 11,025 Hz. Settings a user changed are kept when the
// next file has the same rate.
TEST_F(WavReader, TakesTheAnalysisRateAndTheSettingsThatFollowItFromTheFile)
{
    struct Case {
        std::uint32_t rate;
        std::int32_t lpcOrder, range, appliedWindow;
    };
    for (const Case c : {Case{22050, 26, 11000, 11}, Case{44100, 48, 22000, 5}}) {
        SCOPED_TRACE(c.rate);
        test::ScriptedPrompts p;
        AppSettings s;
        MyDocument local(p, s);
        WavLayout layout = layoutOf(testfiles::kWavPcm, 16, 1);
        layout.sampleRate = c.rate;
        const auto values = testfiles::testSignal(300, 1);
        ASSERT_TRUE(local.Read_WAVE_FileType(makeWav(layout, values)));
        EXPECT_EQ(local.m_dAnalysisSampleRate, c.rate);
        EXPECT_EQ(local.m_dwAnalysisFileLength, 300.0);
        EXPECT_EQ(local.m_nLPCNumberofCoefficients, c.lpcOrder);
        EXPECT_EQ(local.m_nSpecLPCNumberofCoefficients, c.lpcOrder);
        EXPECT_EQ(local.m_nFFTfrequencyRange, c.range);
        EXPECT_EQ(local.m_nSpecfrequencyRange, 5000); // what formants need
        EXPECT_EQ(local.m_nFFTAppliedWindowLength, c.appliedWindow);

        MyDocument next(p, s);
        next.m_nLPCNumberofCoefficients = 12;
        ASSERT_TRUE(next.Read_WAVE_FileType(makeWav(layout, values)));
        EXPECT_EQ(next.m_nLPCNumberofCoefficients, 12);
    }
}

TEST_F(WavReader, ChunkLayoutsAreWalkedInAnyOrder)
{
    struct Case {
        const char* name;
        void (*shape)(WavLayout&);
    };
    const Case cases[] = {
        {"odd chunk before data",
         [](WavLayout& l) {
             l.chunksBeforeData.push_back({"LIST", FileBytes(5, 0xEE), {}});
         }},
        {"odd chunk before fmt",
         [](WavLayout& l) {
             l.chunksBeforeFmt.push_back({"junk", FileBytes(3, 'd'), {}});
         }},
        {"data before fmt", [](WavLayout& l) { l.dataBeforeFmt = true; }},
        {"chunk after data",
         [](WavLayout& l) {
             l.chunksAfterData.push_back({"data", FileBytes(9, 0x7F), {}});
         }},
        {"wide block align", [](WavLayout& l) { l.blockAlign = 7; }},
    };
    const auto values = testfiles::testSignal(41, 2);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WavLayout layout = layoutOf(1, 16, 2);
        c.shape(layout);
        test::ScriptedPrompts p;
        AppSettings s;
        MyDocument local(p, s);
        ASSERT_TRUE(local.Read_WAVE_FileType(makeWav(layout, values)));
        expectSamples(local, values, 2);
    }
}

TEST_F(WavReader, DataChunkPastTheEndOpensTheFramesPresent)
{
    const auto values = exactRamp(50, 2);
    for (std::uint32_t declared : {400u, 0xFFFFFFFFu}) {
        WavLayout layout = layoutOf(1, 24, 2);
        layout.declaredDataSize = declared;
        FileBytes file = makeWav(layout, values);
        file.resize(file.size() - 10); // cuts the last frame in half and then some
        test::ScriptedPrompts p;
        AppSettings s;
        MyDocument local(p, s);
        ASSERT_TRUE(local.Read_WAVE_FileType(file));
        const std::size_t frames = (50 * 6 - 10) / 6;
        EXPECT_EQ(local.getChannel(1).m_dwFileLength, static_cast<double>(frames));
        EXPECT_EQ(local.getChannel(1).m_hData[frames - 1],
                  static_cast<float>(values[(frames - 1) * 2 + 1]));
    }
}

TEST_F(WavReader, ShortDataChunkLeavesTheHeldAndDeclaredLengths)
{
    // 16 kHz mono: a 16-bit frame is 2 bytes, 2.0 s are 64,000 bytes.
    struct Case {
        const char* what;
        std::size_t frames;
        std::optional<std::uint32_t> declared;
        std::uint16_t bits;
        double heldSeconds; // 0: no note
        double declaredSeconds;
    };
    const Case cases[] = {
        {"2.0 s declared, 0.57 s held", 9120, 64000u, 16, 0.57, 2.0},
        {"one whole frame missing", 100, 202u, 16, 100 / 16000.0, 101 / 16000.0},
        {"half a frame missing", 100, 201u, 16, 0, 0},
        {"whole file", 100, std::nullopt, 16, 0, 0},
        {"streaming size 0xFFFFFFFF", 100, 0xFFFFFFFFu, 16, 0, 0},
        {"streaming size 0", 100, 0u, 16, 0, 0},
        {"odd size without its pad byte", 101, std::nullopt, 8, 0, 0},
    };
    for (const Case& c : cases) {
        WavLayout layout = layoutOf(1, c.bits, 1);
        layout.declaredDataSize = c.declared;
        ASSERT_TRUE(read(makeWav(layout, exactRamp(c.frames, 1)))) << c.what;
        ASSERT_EQ(doc.m_shortRecording.has_value(), c.heldSeconds > 0) << c.what;
        if (c.heldSeconds > 0) {
            EXPECT_DOUBLE_EQ(doc.m_shortRecording->heldSeconds, c.heldSeconds) << c.what;
            EXPECT_DOUBLE_EQ(doc.m_shortRecording->declaredSeconds, c.declaredSeconds) << c.what;
        }
    }
    // A declined file keeps the note of the recording still loaded; a whole
    // file opened next leaves none.
    WavLayout shortLayout = layoutOf(1, 16, 1);
    shortLayout.declaredDataSize = 400u;
    ASSERT_TRUE(doc.readFromData(makeWav(shortLayout, exactRamp(10, 1)), "wav"));
    ASSERT_FALSE(doc.readFromData(FileBytes{'R', 'I', 'F', 'F'}, "wav"));
    EXPECT_TRUE(doc.m_shortRecording.has_value());
    ASSERT_TRUE(doc.readFromData(makeWav(layoutOf(1, 16, 1), exactRamp(10, 1)), "wav"));
    EXPECT_FALSE(doc.m_shortRecording.has_value());
}

TEST_F(WavReader, DamagedOrUnsupportedFilesDeclineAndLeaveTheDocumentAsNew)
{
    const auto values = exactRamp(20, 2);
    const FileBytes good = makeWav(layoutOf(1, 16, 2), values);
    constexpr std::size_t fmt = 20; // content of "fmt " in a plain layout
    auto patched = [&](std::size_t offset, std::initializer_list<std::uint8_t> bytes) {
        FileBytes file = good;
        std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<long>(offset));
        return file;
    };
    auto shaped = [&](void (*shape)(WavLayout&)) {
        WavLayout layout = layoutOf(1, 16, 2);
        shape(layout);
        return makeWav(layout, values);
    };
    auto withoutChunk = [&](const char* id) {
        FileBytes file = good;
        const auto at = std::search(file.begin(), file.end(), id, id + 4);
        const std::size_t size = at[4] | (at[5] << 8);
        file.erase(at, at + 8 + static_cast<long>(size));
        return file;
    };

    const std::pair<const char*, FileBytes> cases[] = {
        {"not RIFF", patched(0, {'R', 'I', 'F', 'X'})},
        {"not WAVE", patched(8, {'A', 'V', 'I', ' '})},
        {"zero channels", patched(fmt + 2, {0, 0})},
        {"21 channels", makeWav(layoutOf(1, 16, 21), exactRamp(20, 21))},
        {"zero rate", patched(fmt + 4, {0, 0, 0, 0})},
        {"block align 0", patched(fmt + 12, {0, 0})},
        {"block align below a frame", patched(fmt + 12, {3, 0})},
        {"ADPCM tag", patched(fmt, {2, 0})},
        {"12-bit PCM", patched(fmt + 14, {12, 0})},
        {"16-bit float", shaped([](WavLayout& l) { l.formatTag = 3; })},
        {"no data chunk", withoutChunk("data")},
        {"no fmt chunk", withoutChunk("fmt ")},
        {"fmt past the end", patched(16, {0xF0, 0xFF, 0xFF, 0x7F})},
        {"fmt too short", patched(16, {12, 0, 0, 0})},
        {"truncated header", FileBytes(good.begin(), good.begin() + 30)},
        {"RIFF header only", FileBytes(good.begin(), good.begin() + 12)},
        {"empty", FileBytes{}},
        {"unknown sub-format", shaped([](WavLayout& l) {
             l.formatTag = testfiles::kWavExtensible;
             l.subFormat = 2;
         })},
    };
    const std::string asNew = documentState(fresh);
    for (const auto& [name, file] : cases) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(read(file));
        EXPECT_EQ(documentState(doc), asNew);
    }

    // A mangled extensible GUID declines too, and so does an extension
    // whose size leaves out the fields it should hold.
    const FileBytes extensible = makeWav(layoutOf(testfiles::kWavExtensible, 16, 2), values);
    for (const std::size_t at : {fmt + 30, fmt + 16}) {
        FileBytes file = extensible;
        file[at] ^= at == fmt + 16 ? 22 ^ 21 : 0x01;
        EXPECT_FALSE(read(file)) << at;
        EXPECT_EQ(documentState(doc), asNew);
    }
}

TEST_F(WavReader, DeclinedFileKeepsTheLoadedRecording)
{
    ASSERT_TRUE(read(makeWav(layoutOf(1, 16, 2), exactRamp(30, 2))));
    const std::string loaded = documentState(doc);
    WavLayout three = layoutOf(1, 16, 3);
    FileBytes bad = makeWav(three, exactRamp(30, 3));
    bad[20 + 12] = 1; // block align 1 < 3 channels × 2 bytes
    EXPECT_FALSE(read(bad));
    EXPECT_EQ(documentState(doc), loaded);
}

} // namespace
} // namespace phonaxis

namespace phonaxis {
namespace {

// A sound-card recording: a mono 32-bit float WAV of `frames` at `rate`.
testfiles::FileBytes recordingFile(std::size_t frames, std::uint32_t rate)
{
    WavLayout layout = layoutOf(testfiles::kWavFloat, 32, 1);
    layout.sampleRate = rate;
    return makeWav(layout, testfiles::testSignal(frames, 1));
}

// A recording replaces whatever the new document held with its one channel
// (no label, track or EGG choice of the earlier content survives) and
// counts as a change, so that closing the window asks before it is lost.
TEST_F(WavReader, RecordingBecomesChannelZeroOfANewDocumentThatCountsAsChanged)
{
    WavLayout stereo = layoutOf(testfiles::kWavPcm, 16, 2);
    ASSERT_TRUE(read(makeWav(stereo, testfiles::testSignal(500, 2))));
    doc.getChannel(0).Add_Label_Cocoa(Labels{});
    doc.m_nEGGChannelIndex = 1;
    doc.m_bHaveMarker = true;
    doc.clearChangeCount();

    ASSERT_EQ(doc.Read_RecordedFile(recordingFile(300, 22050)), 1);
    expectSamples(doc, testfiles::testSignal(300, 1), 1, 32, true);
    const Channels& channel = doc.getChannel(0);
    EXPECT_EQ(channel.m_nLabelCount, 0);
    EXPECT_EQ(channel.GetTitle(), "Audio");
    EXPECT_EQ(channel.GetUnit(), "normalized");
    EXPECT_EQ(channel.m_nChannelType, 1);
    EXPECT_TRUE(channel.m_bAnchorChannel);
    EXPECT_EQ(channel.m_nResolutionBits, 32);
    EXPECT_EQ(channel.m_dFilterRate, 11025.0);
    EXPECT_EQ(channel.m_dPageMax, 300.0);
    EXPECT_EQ(doc.m_nEGGChannelIndex, -1);
    EXPECT_FALSE(doc.m_bHaveMarker);
    EXPECT_TRUE(doc.m_bNewFile);
    EXPECT_EQ(doc.m_nFileFormat, FileFormat::kPcFloat);
    EXPECT_EQ(doc.m_dAnalysisSampleRate, 22050.0);
    EXPECT_EQ(doc.m_nLPCNumberofCoefficients, 26);
    EXPECT_EQ(doc.changeCount(), 1);
}

// What is not a float recording is refused whole: the document keeps what
// it held. A recording that holds no sound yet is an empty channel.
TEST_F(WavReader, UnusableRecordingsLeaveTheDocumentAsItWas)
{
    ASSERT_EQ(doc.Read_RecordedFile(recordingFile(200, 11025)), 1);
    const std::string before = documentState(doc);

    WavLayout noData = layoutOf(testfiles::kWavFloat, 32, 1);
    FileBytes withoutData = makeWav(noData, testfiles::testSignal(10, 1));
    withoutData.resize(withoutData.size() - 10 * 4 - 8); // the "data" chunk cut off
    FileBytes notRiff = recordingFile(10, 11025);
    notRiff[3] = 'X';
    struct Case {
        const char* what;
        FileBytes bytes;
        int result;
    };
    const Case cases[] = {
        {"16-bit PCM", makeWav(layoutOf(testfiles::kWavPcm, 16, 1), testfiles::testSignal(10, 1)),
         0},
        {"no data chunk", withoutData, -1},
        {"not RIFF", notRiff, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(doc.Read_RecordedFile(c.bytes), c.result);
        EXPECT_EQ(documentState(doc), before);
    }

    ASSERT_EQ(doc.Read_RecordedFile(recordingFile(0, 11025)), 1);
    EXPECT_TRUE(doc.m_bHaveData);
    EXPECT_EQ(doc.getChannel(0).m_dwFileLength, 0.0);
}

} // namespace
} // namespace phonaxis
