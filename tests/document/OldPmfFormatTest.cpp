#include "NativeTestFiles.h"
#include "document/MyDocument.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <sstream>

namespace phonaxis {
namespace {

using testfiles::FileBytes;
using testfiles::makeOldPmf;
using testfiles::OldPmfKind;
using testfiles::OldPmfLayout;

// Audio channel plus transducer slots 1 and 3, with texts for every number.
OldPmfLayout threeChannels(OldPmfKind kind)
{
    OldPmfLayout l;
    l.kind = kind;
    l.audioRate = 11025;
    l.transducerRate = 1001;
    l.slots[0] = {true, 3, "Audio", "Pa", "0.5", "0.25", "2", "-1e1"};
    l.slots[1] = {true, 4, "Flow", "l/s", " +7", "x", "1.5", "3"};
    l.slots[2] = {false, 5, "Unused", "", "", "", "", ""};
    l.slots[3] = {true, 6, "Pressure", "cm", "-2", "0.125", "9", ""};
    l.audio = {-32768, 32767, 16384};
    l.transducers = {{2047, -2048}, {1024, 0}};
    return l;
}

std::string documentState(const MyDocument& doc)
{
    std::ostringstream s;
    s << doc.m_nNumofChannels << doc.m_bHaveData << doc.m_bNewFile << doc.m_bForeignFile << ' '
      << doc.m_dAnalysisSampleRate << ' ' << doc.getChannel(0).GetTitle() << ' '
      << doc.getChannel(0).m_dwFileLength;
    return s.str();
}

class OldPmf : public ::testing::Test {
protected:
    test::ScriptedPrompts prompts;
    AppSettings settings;
    MyDocument doc{prompts, settings};

    bool read(const FileBytes& file, bool pc)
    {
        return pc ? doc.Read_OLD_PC_FileType(file) : doc.Read_OLD_MAC_FileType(file);
    }
};

TEST_F(OldPmf, EachHeaderFillsTheChannelsOfItsPresentSlots)
{
    struct Expected {
        OldPmfKind kind;
        bool pc;
        double audioC1, audioB2, audioRange, audioFull, audioReference;
        double flowC1, flowB2, flowRange, flowFull, flowReference, flowFilter;
    };
    const Expected cases[] = {
        {OldPmfKind::PcHeader10, true, 1, 0, 5000, 65536, 0, 1, 0, 10000, 4096, 0, 500.5},
        {OldPmfKind::PcHeader100, true, 2, 0.25, 5000, 65536, 0.5, 1.5, 0, 10000, 4098, 7, 500.5},
        {OldPmfKind::MacHeader100, false, 1, 0, 1, 1, 0.5, 5000, 0, 1, 1, 7, 500},
    };
    for (const Expected& e : cases) {
        SCOPED_TRACE(static_cast<int>(e.kind));
        OldPmfLayout layout = threeChannels(e.kind);
        layout.macLabelRecords = 3;
        MyDocument d(prompts, settings);
        ASSERT_TRUE(e.pc ? d.Read_OLD_PC_FileType(makeOldPmf(layout))
                         : d.Read_OLD_MAC_FileType(makeOldPmf(layout)));
        EXPECT_FALSE(e.pc ? d.Read_OLD_MAC_FileType(makeOldPmf(layout))
                          : d.Read_OLD_PC_FileType(makeOldPmf(layout)));
        ASSERT_EQ(d.m_nNumofChannels, 3);
        EXPECT_TRUE(d.m_bForeignFile);
        EXPECT_EQ(d.m_nFileFormat, -1);
        EXPECT_EQ(d.m_dAnalysisSampleRate, 11025.0);

        const Channels& audio = d.getChannel(0);
        EXPECT_EQ(audio.GetTitle(), "Audio");
        EXPECT_EQ(audio.GetUnit(), "Pa");
        EXPECT_EQ(audio.m_nChannelType, 1);
        EXPECT_TRUE(audio.m_bAnchorChannel);
        EXPECT_EQ(audio.m_dGain, 3.0);
        EXPECT_EQ(audio.m_nResolutionBits, 16);
        EXPECT_EQ(audio.m_dwFileLength, 3.0);
        EXPECT_EQ(audio.m_dLengthMS, 3000.0 / 11025.0);
        EXPECT_EQ(audio.m_hData[0], -1.0f);
        EXPECT_EQ(audio.m_hData[2], 0.5f);
        EXPECT_EQ(audio.m_dC1Cal, e.audioC1);
        EXPECT_EQ(audio.m_dB2Cal, e.audioB2);
        EXPECT_EQ(audio.m_dD0Cal, e.kind == OldPmfKind::PcHeader100 ? -10.0 : 0.0);
        EXPECT_EQ(audio.m_dADInputVoltageRangeMV, e.audioRange);
        EXPECT_EQ(audio.m_dMaxRangeBits, e.audioFull);
        EXPECT_EQ(audio.m_dReference, e.audioReference);
        EXPECT_EQ(audio.m_dFilterRate, e.kind == OldPmfKind::MacHeader100 ? 5512.0 : 5512.5);

        const Channels& flow = d.getChannel(1);
        const Channels& pressure = d.getChannel(2);
        EXPECT_EQ(flow.GetTitle(), "Flow");
        EXPECT_EQ(pressure.GetTitle(), "Pressure");
        EXPECT_EQ(pressure.m_dGain, 6.0);
        EXPECT_EQ(flow.m_nChannelType, 0);
        EXPECT_EQ(pressure.m_nOrder, 3);
        EXPECT_EQ(flow.m_nResolutionBits, 12);
        EXPECT_EQ(flow.m_dSampleRate, 1001.0);
        EXPECT_EQ(flow.m_hData[0], 0.99951171875f);
        EXPECT_EQ(pressure.m_hData[0], 0.5f);
        EXPECT_EQ(flow.m_dC1Cal, e.flowC1);
        EXPECT_EQ(flow.m_dB2Cal, e.flowB2);
        EXPECT_EQ(flow.m_dADInputVoltageRangeMV, e.flowRange);
        EXPECT_EQ(flow.m_dMaxRangeBits, e.flowFull);
        EXPECT_EQ(flow.m_dReference, e.flowReference);
        EXPECT_EQ(flow.m_dFilterRate, e.flowFilter);
        EXPECT_EQ(pressure.m_dReference, e.kind == OldPmfKind::PcHeader10 ? 0.0 : -2.0);
    }
    EXPECT_TRUE(prompts.alerts.empty());
}

TEST_F(OldPmf, VeryOldMacHeaderIsRefusedWithAMessage)
{
    OldPmfLayout layout = threeChannels(OldPmfKind::MacVersion20);
    ASSERT_FALSE(doc.Read_OLD_MAC_FileType(makeOldPmf(layout)));
    ASSERT_EQ(prompts.alerts.size(), 1u);
    EXPECT_EQ(prompts.alerts[0].title, "Old file format");
    EXPECT_EQ(prompts.alerts[0].message,
              "This is a very old Mac format and is no longer supported.");
    EXPECT_EQ(prompts.alerts[0].defaultButton, "Close");
    EXPECT_FALSE(doc.m_bHaveData);
    // The whole open dispatch fails with it, after one message.
    EXPECT_FALSE(doc.readFromData(makeOldPmf(layout), "pmf"));
    EXPECT_EQ(prompts.alerts.size(), 2u);
}

TEST_F(OldPmf, ShortFilesKeepTheSamplesTheyHold)
{
    OldPmfLayout layout = threeChannels(OldPmfKind::PcHeader100);
    FileBytes file = makeOldPmf(layout);
    file.resize(file.size() - 5); // the last transducer loses its samples, the first one its last
    ASSERT_TRUE(read(file, true));
    EXPECT_EQ(doc.getChannel(0).m_dwFileLength, 3.0);
    EXPECT_EQ(doc.getChannel(1).m_dwFileLength, 1.0);
    EXPECT_EQ(doc.getChannel(1).m_dLengthMS, 1000.0 / 1001.0);
    EXPECT_EQ(doc.getChannel(2).m_dwFileLength, 0.0);

    layout.declaredChannels = 2; // the header's count limits the channels
    ASSERT_TRUE(read(makeOldPmf(layout), true));
    EXPECT_EQ(doc.m_nNumofChannels, 2);
}

TEST_F(OldPmf, DamagedHeadersLeaveTheDocumentAsItWas)
{
    ASSERT_TRUE(read(makeOldPmf(threeChannels(OldPmfKind::PcHeader10)), true));
    const std::string before = documentState(doc);
    struct Case {
        const char* name;
        OldPmfKind kind;
        void (*damage)(OldPmfLayout&);
        bool cut;
    };
    const Case cases[] = {
        {"size 6490", OldPmfKind::PcHeader10, [](OldPmfLayout& l) { l.headerSize = 6490; }, false},
        {"size 1599", OldPmfKind::MacHeader100, [](OldPmfLayout& l) { l.headerSize = 1599; },
         false},
        {"version 11", OldPmfKind::PcHeader10, [](OldPmfLayout& l) { l.version = 11; }, false},
        {"Mac version 100", OldPmfKind::MacHeader100, [](OldPmfLayout& l) { l.version = 100; },
         false},
        {"no channels", OldPmfKind::PcHeader100, [](OldPmfLayout& l) { l.declaredChannels = 0; },
         false},
        {"zero audio rate", OldPmfKind::PcHeader100, [](OldPmfLayout& l) { l.audioRate = 0; },
         false},
        {"negative transducer rate", OldPmfKind::MacHeader100,
         [](OldPmfLayout& l) { l.transducerRate = -5; }, false},
        {"zero transducer rate", OldPmfKind::PcHeader100,
         [](OldPmfLayout& l) { l.transducerRate = 0; }, false},
        {"negative audio bytes", OldPmfKind::PcHeader10, [](OldPmfLayout& l) { l.audioBytes = -2; },
         false},
        {"labels past the end", OldPmfKind::MacHeader100,
         [](OldPmfLayout& l) { l.macLabelRecords = 1; }, true},
        {"header cut", OldPmfKind::PcHeader10, [](OldPmfLayout&) {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OldPmfLayout layout = threeChannels(c.kind);
        c.damage(layout);
        FileBytes file = makeOldPmf(layout);
        if (c.cut) {
            file.resize(c.kind == OldPmfKind::MacHeader100 ? 1728 + 100 : 6000);
        }
        if (c.kind == OldPmfKind::MacHeader100 && layout.macLabelRecords > 0) {
            // The count says more records than the file holds.
            file[1708] = 0x7F;
        }
        EXPECT_FALSE(read(file, true));
        EXPECT_FALSE(read(file, false));
        EXPECT_EQ(documentState(doc), before);
    }
    EXPECT_TRUE(prompts.alerts.empty());
}

} // namespace
} // namespace phonaxis
