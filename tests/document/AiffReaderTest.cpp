#include "TestFiles.h"
#include "document/AudioFormats.h"
#include "document/MyDocument.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <sstream>

namespace phonaxis {
namespace {

using testfiles::AiffLayout;
using testfiles::exactRamp;
using testfiles::FileBytes;
using testfiles::makeAiff;

std::string documentState(const MyDocument& doc)
{
    std::ostringstream s;
    s << doc.m_nNumofChannels << ' ' << doc.m_bHaveData << doc.m_bNewFile << doc.m_bForeignFile
      << ' ' << doc.m_nFileFormat << ' ' << doc.m_dAnalysisSampleRate << ' '
      << doc.m_nLPCNumberofCoefficients << '\n';
    for (int i = 0; i < 2; ++i) {
        const Channels& c = doc.getChannel(i);
        s << c.m_hData.present() << ' ' << c.m_dwFileLength << ' ' << c.m_dSampleRate << ' '
          << c.GetTitle() << '|' << c.GetUnit() << ' ' << c.m_nChannelType << ' ' << c.m_nOrder
          << ' ' << c.m_nResolutionBits << ' ' << c.m_dPageMax << ' ' << c.m_dFilterRate << '\n';
    }
    return s.str();
}

AiffLayout layoutOf(bool aifc, const char* compression, std::int16_t bits, std::int16_t channels)
{
    AiffLayout layout;
    layout.aifc = aifc;
    layout.compression = compression;
    layout.bitsPerSample = bits;
    layout.channels = channels;
    layout.sampleRate = 22050.0;
    return layout;
}

// Opens `file` in a fresh document answering the chooser with `item`.
struct Opened {
    test::ScriptedPrompts prompts;
    AppSettings settings;
    MyDocument doc{prompts, settings};
    bool ok = false;

    Opened(const FileBytes& file, int item = 1)
    {
        prompts.itemReplies.push_back(item);
        ok = doc.Read_AIFF_FileType(file);
    }

    // Channel 0 holds column `column` of `values`.
    void expectColumn(const std::vector<double>& values, std::size_t channels, std::size_t column,
                      int bits = 16, bool isFloat = false) const
    {
        const Channels& ch = doc.getChannel(0);
        const std::size_t frames = values.size() / channels;
        ASSERT_EQ(ch.m_dwFileLength, static_cast<double>(frames));
        ASSERT_EQ(ch.m_hData.size(), frames + Channels::kSlackFloats);
        for (std::size_t f = 0; f < frames; ++f) {
            const double stored =
                testfiles::encodedValue(values[f * channels + column], bits, isFloat);
            ASSERT_EQ(ch.m_hData[f], static_cast<float>(stored)) << "frame " << f;
        }
    }
};

TEST(AiffReader, EveryCompressionDepthAndChannelReadsNormalisedValues)
{
    struct Encoding {
        bool aifc;
        const char* compression;
        std::int16_t bits;
    };
    const Encoding encodings[] = {
        {false, "NONE", 8}, {false, "NONE", 16}, {false, "NONE", 24}, {false, "NONE", 32},
        {true, "NONE", 16}, {true, "twos", 8},   {true, "twos", 24},  {true, "sowt", 8},
        {true, "sowt", 16}, {true, "sowt", 24},  {true, "sowt", 32},  {true, "fl32", 32},
        {true, "FL32", 32}, {true, "fl64", 64},  {true, "FL64", 64},
    };
    for (const auto& e : encodings) {
        for (std::int16_t channels : {1, 2, 3}) {
            for (int item = 1; item <= channels; ++item) {
                SCOPED_TRACE(::testing::Message()
                             << e.compression << (e.aifc ? " AIFC " : " AIFF ") << e.bits
                             << " bits, " << channels << " channels, item " << item);
                const auto values = testfiles::testSignal(53, static_cast<std::size_t>(channels));
                Opened opened(makeAiff(layoutOf(e.aifc, e.compression, e.bits, channels), values),
                              item);
                ASSERT_TRUE(opened.ok);
                const bool isFloat = std::string(e.compression).find('l') == 1 ||
                                     std::string(e.compression).find('L') == 1;
                opened.expectColumn(values, static_cast<std::size_t>(channels),
                                    static_cast<std::size_t>(item - 1), e.bits, isFloat);
                EXPECT_EQ(opened.doc.getChannel(0).m_nResolutionBits, e.bits);
            }
        }
    }
}

TEST(AiffReader, MonoFileSetsTheAudioChannelAndAdoptsTheRate)
{
    AiffLayout layout = layoutOf(false, "NONE", 16, 1);
    layout.sampleRate = 44100.0;
    Opened opened(makeAiff(layout, exactRamp(10, 1)));
    ASSERT_TRUE(opened.ok);
    EXPECT_TRUE(opened.prompts.itemChoices.empty());
    const MyDocument& doc = opened.doc;
    const Channels& ch = doc.getChannel(0);
    EXPECT_EQ(ch.m_dSampleRate, 44100.0);
    EXPECT_EQ(ch.m_dLengthMS, 10.0 * 1000.0 / 44100.0);
    EXPECT_EQ(ch.GetTitle(), "");
    EXPECT_EQ(ch.GetUnit(), "bits");
    EXPECT_EQ(ch.m_nChannelType, 1);
    EXPECT_TRUE(ch.m_bAnchorChannel);
    EXPECT_EQ(ch.m_nOrder, 1);
    EXPECT_EQ(ch.m_nDataType, 3);
    EXPECT_EQ(ch.m_dPageMax, 10.0);
    EXPECT_EQ(ch.m_dFilterRate, 22050.0);
    EXPECT_EQ(doc.m_nNumofChannels, 1);
    EXPECT_TRUE(doc.m_bHaveData);
    EXPECT_FALSE(doc.m_bNewFile);
    EXPECT_TRUE(doc.m_bForeignFile);
    EXPECT_EQ(doc.m_nFileFormat, FileFormat::kNone);
    EXPECT_EQ(doc.m_dAnalysisSampleRate, 44100.0);
    EXPECT_EQ(doc.m_nFFTfrequencyRange, 22000);
    EXPECT_EQ(doc.m_nLPCNumberofCoefficients, 48);
}

TEST(AiffReader, ChooserListsEveryChannelAndCancelDeclines)
{
    const auto values = exactRamp(8, 4);
    const FileBytes file = makeAiff(layoutOf(false, "NONE", 16, 4), values);
    Opened fourth(file, 4);
    ASSERT_TRUE(fourth.ok);
    ASSERT_EQ(fourth.prompts.itemChoices.size(), 1u);
    EXPECT_EQ(fourth.prompts.itemChoices[0].note, "Select a channel");
    EXPECT_EQ(fourth.prompts.itemChoices[0].items,
              (std::vector<std::string>{"Channel 1 ", "Channel 2 ", "Channel 3 ", "Channel 4 "}));
    fourth.expectColumn(values, 4, 3);

    test::ScriptedPrompts p;
    AppSettings s;
    MyDocument fresh(p, s);
    for (int reply : {-1, 0, 5}) {
        Opened declined(file, reply);
        EXPECT_FALSE(declined.ok);
        EXPECT_EQ(documentState(declined.doc), documentState(fresh));
    }
}

TEST(AiffReader, SsndOffsetTruncationAndDeclaredFrames)
{
    const auto values = testfiles::testSignal(40, 2);
    {
        AiffLayout layout = layoutOf(false, "NONE", 16, 2);
        layout.ssndOffset = 6;
        Opened opened(makeAiff(layout, values), 2);
        ASSERT_TRUE(opened.ok);
        opened.expectColumn(values, 2, 1);
    }
    {
        AiffLayout layout = layoutOf(true, "sowt", 24, 2);
        layout.declaredSsndSize = 0xFFFFFFF0u;
        FileBytes file = makeAiff(layout, values);
        file.resize(file.size() - 6 * 15 - 2); // leaves 24 whole frames and part of one
        Opened opened(file, 1);
        ASSERT_TRUE(opened.ok);
        opened.expectColumn(std::vector<double>(values.begin(), values.begin() + 48), 2, 0, 24);
    }
    {
        AiffLayout layout = layoutOf(false, "NONE", 8, 1);
        layout.declaredFrames = 5;
        Opened opened(makeAiff(layout, exactRamp(40, 1)));
        ASSERT_TRUE(opened.ok);
        EXPECT_EQ(opened.doc.getChannel(0).m_dwFileLength, 5.0);
    }
}

TEST(AiffReader, FewerFramesThanDeclaredAreNoted)
{
    // 22,050 Hz: COMM's frame count against the 441 frames SSND holds.
    const std::pair<std::uint32_t, bool> cases[] = {
        {44100, true}, {442, true}, {441, false}, {5, false}, {0xFFFFFFFFu, false}};
    for (const auto& [declared, noted] : cases) {
        AiffLayout layout = layoutOf(false, "NONE", 16, 1);
        layout.declaredFrames = declared;
        Opened opened(makeAiff(layout, exactRamp(441, 1)));
        ASSERT_TRUE(opened.ok) << declared;
        ASSERT_EQ(opened.doc.m_shortRecording.has_value(), noted) << declared;
        if (noted) {
            EXPECT_DOUBLE_EQ(opened.doc.m_shortRecording->heldSeconds, 0.02);
            EXPECT_DOUBLE_EQ(opened.doc.m_shortRecording->declaredSeconds, declared / 22050.0);
        }
    }
}

TEST(AiffReader, DamagedOrUnsupportedFilesDeclineAndLeaveTheDocumentAsNew)
{
    const auto values = exactRamp(20, 2);
    const FileBytes good = makeAiff(layoutOf(false, "NONE", 16, 2), values);
    constexpr std::size_t comm = 20; // content of COMM in a plain AIFF
    auto patched = [&](std::size_t offset, std::initializer_list<std::uint8_t> bytes) {
        FileBytes file = good;
        std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<long>(offset));
        return file;
    };
    auto withRate = [&](double rate) {
        AiffLayout layout = layoutOf(false, "NONE", 16, 2);
        layout.sampleRate = rate;
        return makeAiff(layout, values);
    };
    const std::size_t ssnd = comm + 18;
    const std::pair<const char*, FileBytes> cases[] = {
        {"not FORM", patched(0, {'F', 'O', 'R', 'X'})},
        {"other form type", patched(8, {'A', 'I', 'F', 'X'})},
        {"no COMM", patched(comm - 8, {'C', 'O', 'M', 'X'})},
        {"no SSND", patched(ssnd, {'S', 'S', 'N', 'X'})},
        {"zero channels", patched(comm, {0, 0})},
        {"negative channels", patched(comm, {0xFF, 0xFE})},
        {"12 bits", patched(comm + 6, {0, 12})},
        {"zero rate", withRate(0.0)},
        {"negative rate", withRate(-8000.0)},
        {"infinite rate", withRate(std::numeric_limits<double>::infinity())},
        {"overflowing rate", patched(comm + 8, {0x7F, 0xFE, 0xC0, 0, 0, 0, 0, 0, 0, 0})},
        {"COMM too short", patched(comm - 4, {0, 0, 0, 10})},
        {"COMM past the end", patched(comm - 4, {0x7F, 0, 0, 0})},
        {"SSND offset past the chunk", patched(ssnd + 8, {0, 1, 0, 0})},
        {"SSND without its fields", patched(ssnd + 4, {0, 0, 0, 4})},
        {"truncated header", FileBytes(good.begin(), good.begin() + 30)},
        {"empty", FileBytes{}},
        {"AIFC ulaw", makeAiff(layoutOf(true, "ulaw", 16, 2), values)},
        {"AIFC fl16", makeAiff(layoutOf(true, "fl16", 16, 2), values)},
    };
    test::ScriptedPrompts p;
    AppSettings s;
    MyDocument fresh(p, s);
    const std::string asNew = documentState(fresh);
    for (const auto& [name, file] : cases) {
        SCOPED_TRACE(name);
        Opened opened(file);
        EXPECT_FALSE(opened.ok);
        EXPECT_EQ(documentState(opened.doc), asNew);
    }
}

TEST(AiffReader, ChunksBeyondTheTwentiethAreNotRead)
{
    const auto values = exactRamp(4, 1);
    AiffLayout layout = layoutOf(false, "NONE", 16, 1);
    for (int i = 0; i < 17; ++i) {
        layout.chunksBeforeSsnd.push_back({"APPL", FileBytes(3, 1), {}});
    }
    EXPECT_TRUE(Opened(makeAiff(layout, values)).ok); // SSND is the 20th, header included
    layout.chunksBeforeSsnd.push_back({"APPL", FileBytes(3, 1), {}});
    EXPECT_FALSE(Opened(makeAiff(layout, values)).ok);
}

TEST(IeeeExtended, KnownValuesAndRoundTrip)
{
    const std::pair<double, std::array<std::uint8_t, 10>> known[] = {
        {8000.0, {0x40, 0x0B, 0xFA, 0, 0, 0, 0, 0, 0, 0}},
        {22050.0, {0x40, 0x0D, 0xAC, 0x44, 0, 0, 0, 0, 0, 0}},
        {44100.0, {0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0}},
        {1.0, {0x3F, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0}},
        {-2.0, {0xC0, 0x00, 0x80, 0, 0, 0, 0, 0, 0, 0}},
        {0.0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {std::numeric_limits<double>::infinity(), {0x7F, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0}},
        {-std::numeric_limits<double>::infinity(), {0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto& [value, bytes] : known) {
        SCOPED_TRACE(value);
        EXPECT_EQ(ConvertFromIeeeExtended(bytes.data()), value);
        std::array<std::uint8_t, 10> written{};
        ConvertToIeeeExtended(value, written.data());
        EXPECT_EQ(written, bytes);
    }
    // Exponent 32767 is infinity whatever the mantissa says.
    const std::uint8_t withMantissa[10] = {0x7F, 0xFF, 0xC0, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_EQ(ConvertFromIeeeExtended(withMantissa), std::numeric_limits<double>::infinity());
    // The low half of the mantissa counts.
    const std::uint8_t lowBits[10] = {0x3F, 0xFF, 0x80, 0, 0, 0, 0, 0, 0x08, 0};
    EXPECT_EQ(ConvertFromIeeeExtended(lowBits), 1.0 + std::ldexp(1.0, -52));

    for (double value : {11025.0, 0.1, -3.75, 1e-300, 5e-324, 1e300,
                         std::numeric_limits<double>::max(), 96000.5, 1.0 / 3.0}) {
        SCOPED_TRACE(value);
        std::uint8_t written[10];
        ConvertToIeeeExtended(value, written);
        EXPECT_EQ(ConvertFromIeeeExtended(written), value);
        EXPECT_EQ(FileBytes(written, written + 10), testfiles::extendedBytes(value));
    }
}

} // namespace
} // namespace phonaxis
