#include "NativeTestFiles.h"
#include "document/FileIO.h"
#include "document/MyDocument.h"
#include "document/NativeFormat.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <sstream>

namespace phonaxis {
namespace {

using testfiles::FileBytes;
using testfiles::KvqChannel;
using testfiles::KvqKind;
using testfiles::KvqLabel;
using testfiles::KvqLayout;
using testfiles::makeKvq;

template <typename B> std::uint32_t u32At(const B& b, std::size_t at)
{
    return std::uint32_t{b[at]} | (std::uint32_t{b[at + 1]} << 8) |
           (std::uint32_t{b[at + 2]} << 16) | (std::uint32_t{b[at + 3]} << 24);
}
template <typename B> std::int32_t i32At(const B& b, std::size_t at)
{
    return static_cast<std::int32_t>(u32At(b, at));
}
template <typename B> double f64At(const B& b, std::size_t at)
{
    return std::bit_cast<double>(std::uint64_t{u32At(b, at)} |
                                 (std::uint64_t{u32At(b, at + 4)} << 32));
}
template <typename B> float f32At(const B& b, std::size_t at)
{
    return std::bit_cast<float>(u32At(b, at));
}
template <typename B> std::string textAt(const B& b, std::size_t at)
{
    return std::string(reinterpret_cast<const char*>(&b[at]));
}

std::string documentState(const MyDocument& doc)
{
    std::ostringstream s;
    s << doc.m_nNumofChannels << ' ' << doc.m_bHaveData << doc.m_bNewFile << doc.m_bForeignFile
      << ' ' << doc.m_nFileFormat << ' ' << doc.m_dAnalysisSampleRate << '\n';
    for (int i = 0; i < 3; ++i) {
        const Channels& c = doc.getChannel(i);
        s << c.m_hData.size() << ' ' << c.m_dwFileLength << ' ' << c.m_dSampleRate << ' '
          << c.GetTitle() << ' ' << c.m_nLabelCount << ' ' << c.m_nChannelType << '\n';
    }
    return s.str();
}

class NativeFiles : public ::testing::Test {
protected:
    test::ScriptedPrompts prompts;
    AppSettings settings;
    MyDocument doc{prompts, settings};

    // Channel `index` with `length` distinct samples at `rate`, shown.
    Channels& fill(int index, std::size_t length, double rate)
    {
        Channels& ch = doc.getChannel(index);
        EXPECT_TRUE(ch.m_hData.allocate(length + Channels::kSlackFloats));
        for (std::size_t i = 0; i < length; ++i) {
            ch.m_hData[i] = static_cast<float>(index + 1) * 0.001f * static_cast<float>(i) - 0.25f;
        }
        ch.m_dwFileLength = static_cast<double>(length);
        ch.m_dSampleRate = rate;
        ch.m_dLengthMS = static_cast<double>(length) * 1000.0 / rate;
        ch.m_nOrder = index + 1;
        ch.SetTitle("T" + std::to_string(index));
        doc.m_nNumofChannels = std::max(doc.m_nNumofChannels, index + 1);
        doc.m_bHaveData = true;
        return ch;
    }

    static LabelTransfer label(double timeMs, const std::string& text)
    {
        LabelTransfer t;
        t.dTime = timeMs;
        t.text = text;
        return t;
    }
};

TEST_F(NativeFiles, WrittenTablesLieAtTheirOffsets)
{
    Channels& a = fill(0, 4, 22050.0);
    a.SetTitle("Audio");
    a.SetUnit("Pa");
    a.m_dGain = 2.7;
    a.m_dFilterRate = 11025.9;
    a.m_nChannelType = 1;
    a.m_bAnchorChannel = true;
    a.m_nColorRed = 65535;
    a.m_dReference = 0.25;
    a.m_dA3Cal = 0.1;
    a.m_dB2Cal = 0.2;
    a.m_dD0Cal = 0.4;
    a.m_nHeigth = 120;
    a.m_bDrawReference = false;
    LabelTransfer t = label(12.5, "onset");
    t.dVerticalFactor = 0.3;
    t.nJustification = 1;
    t.bAddLine = true;
    t.rect = Rect{5, 10, 23, 50};
    t.font = LabelFont{"Helvetica", 18.7, 700, true};
    t.color = LabelColor{1.0, 0.5, 0.0, 1.0};
    a.Add_Label(t);
    fill(1, 4, 22050.0).m_bShow = false;
    fill(2, 4, 22050.0);

    for (const bool usb2 : {false, true}) {
        SCOPED_TRACE(usb2 ? "USB2 float" : "KVQ_PC_FLOAT");
        const auto bytes = usb2 ? doc.Save_KVQ_PC_USB2_Float_FileType(false)
                                : doc.Save_KVQ_PC_Float_FileType(false);
        ASSERT_TRUE(bytes);
        const Bytes& b = *bytes;
        ASSERT_EQ(b.size(), 512u + 2 * 248 + 368 + 2 * 16);
        EXPECT_EQ(textAt(b, 0), usb2 ? "USB2_FLOAT" : "KVQ_PC_FLOAT");
        EXPECT_EQ(u32At(b, 32), 2u);
        const std::size_t signatureEnd = usb2 ? 10 : 12;
        for (std::size_t k = signatureEnd; k < 512; ++k) {
            EXPECT_EQ(b[k], k == 32 ? 2 : 0) << "header byte " << k;
        }

        const std::size_t r = 512;
        EXPECT_EQ(f64At(b, r + 0), a.m_dLengthMS);
        EXPECT_EQ(f64At(b, r + 8), 22050.0);
        EXPECT_EQ(f64At(b, r + 16), 4.0);
        EXPECT_EQ(f64At(b, r + 24), 0.25);
        EXPECT_EQ(f64At(b, r + 32), 0.1);
        EXPECT_EQ(f64At(b, r + 40), 0.2);
        EXPECT_EQ(f64At(b, r + 48), 1.0);
        EXPECT_EQ(f64At(b, r + 56), 0.4);
        const std::int32_t ints[] = {1, 16, 0, 120, 1, 2, 11025, 1, 0, 1, 65535, 0, 0};
        for (std::size_t k = 0; k < std::size(ints); ++k) {
            EXPECT_EQ(i32At(b, r + 64 + 4 * k), ints[k]) << "record offset " << 64 + 4 * k;
        }
        EXPECT_EQ(textAt(b, r + 116), "Audio");
        EXPECT_EQ(textAt(b, r + 180), "Pa");

        const std::size_t l = r + 248;
        EXPECT_EQ(f64At(b, l + 0), 12.5);
        EXPECT_EQ(f64At(b, l + 8), 0.3);
        const std::int32_t labelInts[] = {1, 1, 10, 5, 50, 23, 255, 127, 0, 18};
        for (std::size_t k = 0; k < std::size(labelInts); ++k) {
            EXPECT_EQ(i32At(b, l + 16 + 4 * k), labelInts[k]) << "label offset " << 16 + 4 * k;
        }
        EXPECT_EQ(i32At(b, l + 68), 9);
        EXPECT_EQ(b[l + 72], 0x88); // -12 degrees × 10
        EXPECT_EQ(textAt(b, l + 80), "Helvetica");
        EXPECT_EQ(textAt(b, l + 112), "onset");

        // Channel 2 follows as the file's second channel.
        const std::size_t second = usb2 ? l + 368 : l + 368 + 16;
        EXPECT_EQ(textAt(b, second + 116), "T2");
        const Channels& c = doc.getChannel(2);
        for (std::size_t f = 0; f < 4; ++f) {
            if (usb2) {
                EXPECT_EQ(f32At(b, second + 248 + 8 * f), a.m_hData[f]);
                EXPECT_EQ(f32At(b, second + 248 + 8 * f + 4), c.m_hData[f]);
            } else {
                EXPECT_EQ(f32At(b, l + 368 + 4 * f), a.m_hData[f]);
                EXPECT_EQ(f32At(b, second + 248 + 4 * f), c.m_hData[f]);
            }
        }
    }
}

// The float reader takes each channel and label field from its own offset.
TEST_F(NativeFiles, FloatReaderTakesEachFieldFromItsOffset)
{
    KvqChannel c;
    c.floats = {0.5f, -0.5f};
    c.durationMs = 0.09;
    c.sampleRate = 22222.0;
    c.reference = 0.125;
    c.a3 = 0.5, c.b2 = -0.75, c.c1 = 2.5, c.d0 = -3.25;
    c.channelType = 1, c.resolution = 24, c.dataType = 7, c.height = 140, c.order = 5;
    c.gain = 9, c.filterRate = 4321, c.drawReference = 0, c.anchor = 1;
    c.red = 1111, c.green = 2222, c.blue = 3333;
    c.title = "Flow", c.unit = "l/s";
    KvqLabel l;
    l.timeMs = 12.5, l.verticalFactor = 0.625, l.justification = 2, l.addLine = 1;
    l.left = 11, l.top = 22, l.right = 33, l.bottom = 44;
    l.red = 255, l.green = 51, l.blue = 0;
    l.pointSize = 17, l.weight = 9, l.italicAngle = 0x88;
    l.family = "Courier", l.text = "burst";
    c.labels = {l};
    KvqLayout layout;
    layout.channels = {c};
    ASSERT_TRUE(doc.Read_KVQ_PC_Float_FileType(makeKvq(layout)));

    const Channels& ch = doc.getChannel(0);
    EXPECT_EQ((std::array{ch.m_dLengthMS, ch.m_dSampleRate, ch.m_dwFileLength, ch.m_dReference,
                          ch.m_dA3Cal, ch.m_dB2Cal, ch.m_dC1Cal, ch.m_dD0Cal, ch.m_dGain,
                          ch.m_dFilterRate}),
              (std::array{0.09, 22222.0, 2.0, 0.125, 0.5, -0.75, 2.5, -3.25, 9.0, 4321.0}));
    EXPECT_EQ((std::array{ch.m_nChannelType, ch.m_nResolutionBits, ch.m_nDataType, ch.m_nHeigth,
                          ch.m_nOrder, int(ch.m_bDrawReference), int(ch.m_bAnchorChannel),
                          ch.m_nColorRed, ch.m_nColorGreen, ch.m_nColorBlue}),
              (std::array{1, 24, 7, 140, 5, 0, 1, 1111, 2222, 3333}));
    EXPECT_EQ(ch.GetTitle(), "Flow");
    EXPECT_EQ(ch.GetUnit(), "l/s");
    ASSERT_EQ(ch.m_pArrayLabels.size(), 1u);
    const Labels& got = ch.m_pArrayLabels[0];
    EXPECT_EQ(got.dTime, 12.5);
    EXPECT_EQ(got.dVerticalFactor, 0.625);
    EXPECT_EQ(got.nJustification, 2);
    EXPECT_TRUE(got.bAddLine);
    EXPECT_EQ(got.rectLocation, (Rect{22, 11, 44, 33}));
    EXPECT_EQ(got.mFontColor, (LabelColor{1.0, 0.2, 0.0, 1.0}));
    EXPECT_EQ(got.mFont, (LabelFont{"Courier", 17.0, 700, true}));
    EXPECT_EQ(got._strText, "burst");
}

// Every field a float file stores survives a write and a read, through both
// writers and the streaming writer, for any channel count the document holds.
TEST_F(NativeFiles, FloatWritersRoundTrip)
{
    struct Case {
        bool usb2;
        int channels;
    };
    for (const Case tc : {Case{false, 1}, Case{true, 3}, Case{false, 20}, Case{true, 20}}) {
        SCOPED_TRACE(testing::Message()
                     << "usb2 " << tc.usb2 << ", " << tc.channels << " channels");
        MyDocument source(prompts, settings);
        for (int i = 0; i < tc.channels; ++i) {
            Channels& ch = source.getChannel(i);
            ch.setData(std::vector<float>(300, 0.125f * static_cast<float>(i) - 1.0f).data(), 300);
            ch.m_hData[7] = -0.0f;
            ch.m_hData[299] = 3.5f;
            ch.m_dwFileLength = 300;
            ch.m_dSampleRate = 16000.0;
            ch.m_dLengthMS = 18.75;
            ch.m_nChannelType = i == tc.channels / 2 ? 1 : 0;
            ch.m_nResolutionBits = 12;
            ch.m_nOrder = i + 1;
            ch.m_nColorGreen = 1000 * i;
            ch.m_dC1Cal = 2.0 + i;
            ch.SetTitle("Kanal \xC3\xA9" + std::to_string(i));
            ch.SetUnit("cm H2O");
            LabelTransfer t = label(3.25 * i, "L" + std::to_string(i));
            t.rect = Rect{1, 2, 3, 4};
            t.font = LabelFont{"Courier", 11.0, 400 + 75 * (i % 9 - 4), i % 2 == 1};
            t.color = LabelColor{static_cast<double>(i) / 255.0, 1.0, 0.0, 1.0};
            if (i % 2 == 1) {
                t.dEndTime = t.dTime + 0.125 * i; // an interval's label keeps its end
            }
            ch.Add_Label(t);
        }
        source.m_nNumofChannels = tc.channels;
        const auto bytes = tc.usb2 ? source.Save_KVQ_PC_USB2_Float_FileType(false)
                                   : source.Save_KVQ_PC_Float_FileType(false);
        ASSERT_TRUE(bytes);

        const std::string path = ::testing::TempDir() + "/round-trip.pmf";
        std::string error;
        ASSERT_TRUE(writeNativeFile(source, tc.usb2, false, path, error)) << error;
        FileContents file;
        ASSERT_TRUE(file.open(path, error));
        ASSERT_TRUE(
            std::equal(bytes->begin(), bytes->end(), file.bytes().begin(), file.bytes().end()));
        std::filesystem::remove(path);

        MyDocument copy(prompts, settings);
        ASSERT_TRUE(tc.usb2 ? copy.Read_USB2_Float_FileType(*bytes)
                            : copy.Read_KVQ_PC_Float_FileType(*bytes));
        EXPECT_EQ(copy.m_nNumofChannels, tc.channels);
        EXPECT_EQ(copy.m_nFileFormat, tc.usb2 ? 11 : 4);
        for (int i = 0; i < tc.channels; ++i) {
            const Channels& a = source.getChannel(i);
            const Channels& b = copy.getChannel(i);
            ASSERT_EQ(b.m_dwFileLength, 300.0);
            EXPECT_EQ(std::memcmp(a.m_hData.data(), b.m_hData.data(), 300 * sizeof(float)), 0);
            EXPECT_EQ(b.m_dLengthMS, 18.75);
            EXPECT_EQ(b.m_nChannelType, a.m_nChannelType);
            EXPECT_EQ(b.m_nResolutionBits, 12);
            EXPECT_EQ(b.m_nColorGreen, a.m_nColorGreen);
            EXPECT_EQ(b.m_dC1Cal, a.m_dC1Cal);
            EXPECT_EQ(b.GetTitle(), a.GetTitle());
            EXPECT_EQ(b.GetUnit(), "cm H2O");
            EXPECT_EQ(b.m_dPageMax, 300.0);
            ASSERT_EQ(b.m_pArrayLabels.size(), 1u);
            const Labels& la = a.m_pArrayLabels[0];
            const Labels& lb = b.m_pArrayLabels[0];
            EXPECT_EQ(lb.dTime, la.dTime);
            EXPECT_EQ(lb.hasEndTime(), i % 2 == 1);
            if (la.hasEndTime()) {
                EXPECT_EQ(lb.dEndTime, la.dEndTime);
            }
            EXPECT_EQ(lb._strText, la._strText);
            EXPECT_EQ(lb.rectLocation, la.rectLocation);
            EXPECT_EQ(lb.mFont, la.mFont);
            EXPECT_EQ(lb.mFontColor, la.mFontColor);
        }
    }
}

TEST_F(NativeFiles, SelectionKeepsLabelsInsideAndShiftsThem)
{
    for (const bool usb2 : {false, true}) {
        SCOPED_TRACE(usb2 ? "USB2 float" : "KVQ_PC_FLOAT");
        doc.Initilize();
        for (int c = 0; c < 2; ++c) {
            Channels& ch = fill(c, c == 0 ? 400 : 200, 1000.0);
            for (double t : {90.0, 100.0, 250.0, 250.5}) {
                LabelTransfer interval = label(t, "x");
                interval.dEndTime = t + 7.5;
                ch.Add_Label(interval);
            }
        }
        Channels& a = doc.getChannel(0);
        a.m_dDurationStartTime = 100.0;
        a.m_dDurationStopTime = 250.0;
        a.m_dDurationStartFile = 100.4;
        a.m_dDurationStopFile = 250.9;
        Channels& b = doc.getChannel(1);
        b.m_dDurationStartTime = 10.0;
        b.m_dDurationStopTime = 160.0;
        b.m_dDurationStartFile = 10.0;
        b.m_dDurationStopFile = 160.0;

        const auto bytes =
            usb2 ? doc.Save_KVQ_PC_USB2_Float_FileType(true) : doc.Save_KVQ_PC_Float_FileType(true);
        ASSERT_TRUE(bytes);
        const Bytes& f = *bytes;
        EXPECT_EQ(f64At(f, 512 + 0), 150.0);
        EXPECT_EQ(f64At(f, 512 + 16), 150.0); // trunc(250.9 - 100.4)
        ASSERT_EQ(i32At(f, 512 + 92), 2);
        EXPECT_EQ(f64At(f, 760), 0.0);
        EXPECT_EQ(f64At(f, 760 + 368), 150.0);

        MyDocument copy(prompts, settings);
        ASSERT_TRUE(usb2 ? copy.Read_USB2_Float_FileType(f) : copy.Read_KVQ_PC_Float_FileType(f));
        EXPECT_EQ(copy.getChannel(0).m_hData[0], a.m_hData[100]);
        EXPECT_EQ(copy.getChannel(0).m_hData[149], a.m_hData[249]);
        const Channels& second = copy.getChannel(1);
        EXPECT_EQ(second.m_dwFileLength, 150.0);
        EXPECT_EQ(second.m_nLabelCount, 2);
        // Interval ends move with their labels' times.
        EXPECT_EQ(copy.getChannel(0).m_pArrayLabels[0].dEndTime, 7.5);
        EXPECT_EQ(copy.getChannel(0).m_pArrayLabels[1].dEndTime, 157.5);
        // Each channel's samples are its own selection's, in the interleaved
        // block too, so that they stay where its labels are.
        EXPECT_EQ(second.m_hData[0], b.m_hData[10]);
        EXPECT_EQ(second.m_hData[149], b.m_hData[159]);
    }
}

TEST_F(NativeFiles, WriterRefusesADocumentWithNothingShown)
{
    fill(0, 10, 8000.0).m_bShow = false;
    EXPECT_FALSE(doc.Save_KVQ_PC_Float_FileType(false));
    const std::string path = ::testing::TempDir() + "/kept.pmf";
    std::string error;
    ASSERT_TRUE(writeFileAtomically(path, std::vector<std::uint8_t>{1, 2, 3}, error));
    EXPECT_FALSE(writeNativeFile(doc, false, false, path, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(std::filesystem::file_size(path), 3u);
    doc.getChannel(0).m_bShow = true;
    EXPECT_FALSE(writeNativeFile(doc, true, false, "/nonexistent-folder/x.pmf", error));
    std::filesystem::remove(path);
}

TEST_F(NativeFiles, LongTextsAreCutAtACharacterBoundary)
{
    Channels& ch = fill(0, 2, 8000.0);
    ch.SetTitle(std::string(62, 'a') + "\xC3\xA9" + "b"); // é straddles byte 63
    const auto bytes = doc.Save_KVQ_PC_Float_FileType(false);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(textAt(*bytes, 512 + 116), std::string(62, 'a'));
}

// --- readers on files built byte by byte --------------------------------------------

TEST_F(NativeFiles, IntegerReadersTakeWordsInTheirByteOrder)
{
    for (const KvqKind kind : {KvqKind::Mac, KvqKind::Pc}) {
        SCOPED_TRACE(kind == KvqKind::Mac ? "KVQ_Mac" : "KVQ_PC");
        KvqLayout layout;
        layout.kind = kind;
        layout.channels.resize(2);
        layout.channels[0].words = {-32768, 32767, 256};
        layout.channels[0].sampleRate = 20000.0;
        layout.channels[0].durationMs = 0.15;
        layout.channels[0].height = 77;
        layout.channels[0].channelType = 0; // not read: channel 0 is the audio channel
        layout.channels[1].words = {2047, -2048};
        KvqLabel l;
        l.timeMs = 33.0;
        l.top = 40;
        l.left = 3;
        l.right = 90;
        l.bottom = 999;
        l.addLine = 1;
        l.justification = 2;
        l.text = "vowel";
        l.family = "Times";
        l.red = 255;
        layout.channels[1].labels = {l};

        MyDocument d(prompts, settings);
        const FileBytes file = makeKvq(layout);
        ASSERT_TRUE(kind == KvqKind::Mac ? d.Read_KVQ_MAC_FileType(file)
                                         : d.Read_KVQ_PC_FileType(file));
        EXPECT_FALSE(kind == KvqKind::Mac ? d.Read_KVQ_PC_FileType(file)
                                          : d.Read_KVQ_MAC_FileType(file));
        EXPECT_EQ(d.m_nNumofChannels, 2);
        EXPECT_EQ(d.m_nFileFormat, -1);
        const Channels& a = d.getChannel(0);
        const Channels& b = d.getChannel(1);
        EXPECT_EQ(a.GetTitle(), "Chan  0");
        EXPECT_EQ(b.GetTitle(), "Chan  1");
        EXPECT_EQ(a.m_hData[0], -1.0f);
        EXPECT_EQ(a.m_hData[1], 0.999969482421875f);
        EXPECT_EQ(a.m_hData[2], 0.0078125f);
        EXPECT_EQ(b.m_hData[0], 0.99951171875f);
        EXPECT_EQ(b.m_hData[1], -1.0f);
        EXPECT_EQ(a.m_nChannelType, 1);
        EXPECT_TRUE(a.m_bAnchorChannel);
        EXPECT_EQ(a.m_nHeigth, 77);
        EXPECT_EQ(a.m_dFilterRate, 10000.0);
        EXPECT_EQ(a.m_dLengthMS, 0.15);
        EXPECT_EQ(b.m_nOrder, 2);
        ASSERT_EQ(b.m_pArrayLabels.size(), 1u);
        const Labels& got = b.m_pArrayLabels[0];
        EXPECT_EQ(got.dTime, 33.0);
        EXPECT_EQ(got.rectLocation, (Rect{40, 3, 58, 90}));
        EXPECT_TRUE(got.bAddLine);
        EXPECT_EQ(got.nJustification, 2);
        EXPECT_EQ(got._strText, "vowel");
        EXPECT_EQ(got.mFont, (LabelFont{"Arial", 14.0, 400, false}));
        EXPECT_EQ(got.mFontColor, LabelColor{});
    }
}

TEST_F(NativeFiles, FloatReaderStylesLabels)
{
    struct Case {
        std::int32_t size, weight;
        std::uint8_t angle;
        std::string family;
        LabelFont expected;
    };
    const Case cases[] = {
        {12, 5, 0, "Optima", {"Optima", 12.0, 400, false}},
        {12, 9, 0x88, "Optima", {"Optima", 12.0, 700, true}},
        {0, 8, 1, "Optima", {"Optima", 14.0, 625, true}},
        {30, 0, 0, "Optima", {"Optima", 30.0, 25, false}},
        {30, 15, 0, "Optima", {"Optima", 30.0, 1000, false}},
        {30, 9, 0, "", {"Arial", 14.0, 400, false}},
    };
    KvqLayout layout;
    layout.channels.resize(1);
    layout.channels[0].floats = {0.5f};
    for (const Case& c : cases) {
        KvqLabel l;
        l.pointSize = c.size;
        l.weight = c.weight;
        l.italicAngle = c.angle;
        l.family = c.family;
        l.red = 51;
        l.green = 300;
        l.bottom = 44;
        layout.channels[0].labels.push_back(l);
    }
    ASSERT_TRUE(doc.Read_KVQ_PC_Float_FileType(makeKvq(layout)));
    const auto& labels = doc.getChannel(0).m_pArrayLabels;
    ASSERT_EQ(labels.size(), std::size(cases));
    for (std::size_t i = 0; i < labels.size(); ++i) {
        EXPECT_EQ(labels[i].mFont, cases[i].expected) << "case " << i;
        EXPECT_EQ(labels[i].mFontColor, (LabelColor{0.2, 1.0, 0.0, 1.0}));
        EXPECT_EQ(labels[i].rectLocation.bottom, 44);
    }
    for (std::int32_t stored = 1; stored <= 13; ++stored) {
        EXPECT_EQ(native::storedWeightFromLabel(native::labelWeightFromStored(stored)), stored);
    }
}

TEST_F(NativeFiles, FloatReadersPickAnAudioChannelAndAdoptTheRate)
{
    for (const KvqKind kind : {KvqKind::PcFloat, KvqKind::Usb2Float}) {
        KvqLayout layout;
        layout.kind = kind;
        for (double rate : {2000.0, 10000.0, 44100.0}) {
            KvqChannel c;
            c.sampleRate = rate;
            c.floats = {0.25f, 0.5f};
            layout.channels.push_back(c);
        }
        AppSettings fresh;
        MyDocument d(prompts, fresh);
        const bool usb2 = kind == KvqKind::Usb2Float;
        ASSERT_TRUE(usb2 ? d.Read_USB2_Float_FileType(makeKvq(layout))
                         : d.Read_KVQ_PC_Float_FileType(makeKvq(layout)));
        EXPECT_EQ(d.audioChannelIndex(), 1);
        EXPECT_EQ(d.m_dAnalysisSampleRate, usb2 ? 11025.0 : 2000.0);
        EXPECT_EQ(fresh.m_dLastAnalysisSampleRate, usb2 ? 11025.0 : 2000.0);
    }
}

TEST_F(NativeFiles, Usb2ReaderKeepsTheLastFrameAndCutsAPartialOne)
{
    KvqLayout layout;
    layout.kind = KvqKind::Usb2Float;
    layout.channels.resize(2);
    layout.channels[0].floats = {1, 2, 3};
    layout.channels[1].floats = {4, 5, 6};
    layout.channels[1].durationMs = 99.0;
    FileBytes file = makeKvq(layout);
    ASSERT_TRUE(doc.Read_USB2_Float_FileType(file));
    EXPECT_EQ(doc.getChannel(0).m_dwFileLength, 3.0);
    EXPECT_EQ(doc.getChannel(1).m_hData[2], 6.0f);
    EXPECT_EQ(doc.getChannel(1).m_dLengthMS, 99.0);

    file.resize(file.size() - 2); // the last float is no longer whole
    ASSERT_TRUE(doc.Read_USB2_Float_FileType(file));
    EXPECT_EQ(doc.getChannel(0).m_dwFileLength, 3.0);
    EXPECT_EQ(doc.getChannel(0).m_hData[2], 3.0f);
    EXPECT_EQ(doc.getChannel(1).m_dwFileLength, 2.0);
    EXPECT_EQ(doc.getChannel(1).m_dLengthMS, 2 * 1000.0 / 22050.0);
}

TEST_F(NativeFiles, ReadersTakeTwentyChannelsAndTheSamplesAFileHolds)
{
    KvqLayout layout;
    layout.channels.resize(20);
    for (auto& c : layout.channels) {
        c.floats = {0.5f, -0.5f};
    }
    layout.channels.back().sampleCount = 1e12; // the file ends after two
    ASSERT_TRUE(doc.Read_KVQ_PC_Float_FileType(makeKvq(layout)));
    EXPECT_EQ(doc.m_nNumofChannels, 20);
    EXPECT_EQ(doc.getChannel(19).m_dwFileLength, 2.0);
    EXPECT_EQ(doc.getChannel(19).m_hData.size(), 2 + Channels::kSlackFloats);
}

// Channels of different lengths keep every sample in both float formats,
// whole and as selections: the interleaved block of a USB2 float file runs
// as long as its longest channel.
// The file written to disk goes through a buffer of 1 MiB: runs of samples
// just under it, at it and over it, and the pieces around them, give the
// same bytes as the encoder in memory.
TEST_F(NativeFiles, WrittenFileHoldsTheEncodedBytesAcrossItsBuffer)
{
    const std::string path = ::testing::TempDir() + "/buffered.pmf";
    for (const std::size_t length : {262143u, 262144u, 300000u}) {
        for (const bool usb2 : {false, true}) {
            SCOPED_TRACE(testing::Message() << length << " samples, usb2 " << usb2);
            doc.Initilize();
            fill(0, length, 16000.0);
            fill(1, length, 16000.0);
            const auto bytes = usb2 ? doc.Save_KVQ_PC_USB2_Float_FileType(false)
                                    : doc.Save_KVQ_PC_Float_FileType(false);
            ASSERT_TRUE(bytes);
            std::string error;
            ASSERT_TRUE(writeNativeFile(doc, usb2, false, path, error)) << error;
            FileContents file;
            ASSERT_TRUE(file.open(path, error)) << error;
            EXPECT_TRUE(
                std::equal(bytes->begin(), bytes->end(), file.bytes().begin(), file.bytes().end()));
        }
    }
    std::filesystem::remove(path);
}

TEST_F(NativeFiles, FloatWritersKeepChannelsOfDifferentLengths)
{
    for (const bool usb2 : {false, true}) {
        for (const bool selection : {false, true}) {
            SCOPED_TRACE(testing::Message() << "usb2 " << usb2 << ", selection " << selection);
            doc.Initilize();
            const std::size_t lengths[] = {50, 100, 75};
            for (int c = 0; c < 3; ++c) {
                Channels& ch = fill(c, lengths[c], 1000.0);
                ch.m_dDurationStartFile = 10.0;
                ch.m_dDurationStopFile = static_cast<double>(lengths[c]);
                ch.m_dDurationStartTime = 10.0;
                ch.m_dDurationStopTime = ch.m_dLengthMS;
            }
            const auto bytes = usb2 ? doc.Save_KVQ_PC_USB2_Float_FileType(selection)
                                    : doc.Save_KVQ_PC_Float_FileType(selection);
            ASSERT_TRUE(bytes);
            MyDocument copy(prompts, settings);
            ASSERT_TRUE(copy.readFromData(*bytes, "pmf"));
            EXPECT_FALSE(copy.m_shortRecording.has_value());
            const std::size_t first = selection ? 10 : 0;
            for (int c = 0; c < 3; ++c) {
                const Channels& written = copy.getChannel(c);
                ASSERT_EQ(written.m_dwFileLength, double(lengths[c] - first)) << c;
                for (std::size_t i = 0; i < lengths[c] - first; ++i) {
                    ASSERT_EQ(written.m_hData[i], doc.getChannel(c).m_hData[first + i]) << c;
                }
            }
        }
    }
}

// A native or older file that ends before its channels' declared samples
// opens with what it holds and leaves the note the open reports (as a cut
// WAV or AIFF file does): the channels cut short, or the whole file when
// every channel is cut alike (an interleaved block, where channels cut
// inside a frame differ by a sample). A whole file leaves none, and no note
// of an earlier file stays.
TEST_F(NativeFiles, EveryFormatNotesAFileCutShort)
{
    using testfiles::OldPmfKind;
    using testfiles::OldPmfLayout;
    auto kvq = [](KvqKind kind) {
        KvqLayout layout;
        layout.kind = kind;
        layout.channels.resize(3);
        for (auto& c : layout.channels) {
            c.sampleRate = 1000.0;
            c.words.assign(100, 7);
            c.floats.assign(100, 0.5f);
        }
        return makeKvq(layout);
    };
    auto old = [](OldPmfKind kind) {
        OldPmfLayout layout;
        layout.kind = kind;
        layout.audioRate = 1000;
        layout.transducerRate = 500;
        layout.slots[1].present = layout.slots[2].present = true;
        layout.audio.assign(1000, 3);
        layout.transducers = {std::vector<std::int16_t>(500, 1), std::vector<std::int16_t>(500, 2)};
        return testfiles::makeOldPmf(layout);
    };
    const char* const lastCut = "file holds 0.06 s of the 0.1 s its header declares for channel 2";
    const struct {
        const char* what;
        FileBytes file;
        std::size_t cutBytes;
        const char* note; // "" for none
    } cases[] = {
        {"KVQ_Mac", kvq(KvqKind::Mac), 80, lastCut},
        {"KVQ_PC", kvq(KvqKind::Pc), 80, lastCut},
        {"KVQ_PC_FLOAT", kvq(KvqKind::PcFloat), 160, lastCut},
        {"KVQ_PC_FLOAT whole", kvq(KvqKind::PcFloat), 0, ""},
        {"USB2 float", kvq(KvqKind::Usb2Float), 40 * 12,
         "file holds 0.06 s of the 0.1 s its header declares"},
        {"USB2 float inside a frame", kvq(KvqKind::Usb2Float), 40 * 12 + 4,
         "file holds 0.06 s of the 0.1 s its header declares"},
        {"USB2 float whole", kvq(KvqKind::Usb2Float), 0, ""},
        {"PC Header10", old(OldPmfKind::PcHeader10), 600,
         "file holds 0.4 s of the 1.0 s its header declares for channel 2"},
        {"PC Header100", old(OldPmfKind::PcHeader100), 1200,
         "file holds 0.8 s of the 1.0 s its header declares for channel 1, and 0.0 s of the "
         "1.0 s for channel 2"},
        {"Mac Header100", old(OldPmfKind::MacHeader100), 2000,
         "file holds 0.0 s of the 1.0 s its header declares for channels 1 and 2"},
        {"Mac Header100 whole", old(OldPmfKind::MacHeader100), 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FileBytes file = c.file;
        file.resize(file.size() - c.cutBytes);
        doc.m_shortRecording = MyDocument::ShortRecording{1.0, 2.0, {}}; // an earlier file's
        ASSERT_TRUE(doc.readFromData(file, "pmf"));
        ASSERT_EQ(doc.m_shortRecording.has_value(), *c.note != '\0');
        if (doc.m_shortRecording) {
            EXPECT_EQ(doc.m_shortRecording->text(), c.note);
        }
    }
}

TEST_F(NativeFiles, DamagedFilesLeaveTheDocumentAsItWas)
{
    KvqLayout good;
    good.channels.resize(2);
    good.channels[0].floats = {0.5f, 0.25f};
    good.channels[1].floats = {0.125f};
    good.channels[0].labels.resize(1);
    ASSERT_TRUE(doc.Read_KVQ_PC_Float_FileType(makeKvq(good)));
    const std::string before = documentState(doc);

    struct Case {
        const char* name;
        KvqKind kind;
        void (*damage)(KvqLayout&);
        long cut; // > 0: the file's first `cut` bytes; < 0: all but its last -cut
    };
    const Case cases[] = {
        {"no channels", KvqKind::PcFloat, [](KvqLayout& l) { l.declaredChannels = 0; }, 0},
        {"21 channels", KvqKind::PcFloat, [](KvqLayout& l) { l.channels.resize(21); }, 0},
        {"21 integer channels", KvqKind::Pc,
         [](KvqLayout& l) {
             l.channels.assign(21, KvqChannel{});
             for (KvqChannel& ch : l.channels) {
                 ch.words = {1, 2};
             }
         },
         0},
        {"negative count", KvqKind::Usb2Float, [](KvqLayout& l) { l.declaredChannels = -1; }, 0},
        {"longer signature", KvqKind::PcFloat, [](KvqLayout& l) { l.signature = "KVQ_PC_FLOATS"; },
         0},
        {"other signature", KvqKind::Pc, [](KvqLayout& l) { l.signature = "KVQ_PC_FLOAT"; }, 0},
        {"header cut", KvqKind::Mac, [](KvqLayout&) {}, 500},
        {"record cut", KvqKind::PcFloat, [](KvqLayout& l) { l.declaredChannels = 3; }, 0},
        {"labels past the end", KvqKind::Usb2Float,
         [](KvqLayout& l) { l.channels[1].labelCount = 0x7FFFFFFF; }, 0},
        {"labels a byte short", KvqKind::PcFloat,
         [](KvqLayout& l) {
             l.channels[1].labels.resize(2);
             l.channels[1].floats.clear();
         },
         -1},
        {"zero rate", KvqKind::Pc, [](KvqLayout& l) { l.channels[1].sampleRate = 0.0; }, 0},
        {"NaN rate", KvqKind::PcFloat,
         [](KvqLayout& l) { l.channels[0].sampleRate = std::nan(""); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KvqLayout layout = good;
        layout.kind = c.kind;
        for (auto& ch : layout.channels) {
            ch.words = {1, 2};
        }
        c.damage(layout);
        FileBytes file = makeKvq(layout);
        file.resize(c.cut > 0 ? std::min(file.size(), std::size_t(c.cut))
                              : file.size() - std::size_t(-c.cut));
        EXPECT_FALSE(doc.Read_KVQ_MAC_FileType(file));
        EXPECT_FALSE(doc.Read_KVQ_PC_FileType(file));
        EXPECT_FALSE(doc.Read_KVQ_PC_Float_FileType(file));
        EXPECT_FALSE(doc.Read_USB2_Float_FileType(file));
        EXPECT_EQ(documentState(doc), before);
    }
}

} // namespace
} // namespace phonaxis
