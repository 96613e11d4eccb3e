#include "document/MyDocument.h"
#include "hardware/SimulatedBox.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;
using usb::SimulatedBox;

constexpr std::size_t kFrameBytes = 32;

// A raw recording as the box streams it: frames of 16 int16 slots holding
// the simulator's known signals, then `tailBytes` bytes of a frame cut short.
void writeRecording(const fs::path& path, std::size_t frames, std::size_t tailBytes = 0)
{
    std::vector<std::uint8_t> bytes(frames * kFrameBytes + tailBytes, 0x5A);
    for (std::size_t f = 0; f < frames; ++f) {
        for (std::size_t s = 0; s < 16; ++s) {
            const auto v = static_cast<std::uint16_t>(SimulatedBox::slotValue(s, f));
            bytes[f * kFrameBytes + 2 * s] = static_cast<std::uint8_t>(v);
            bytes[f * kFrameBytes + 2 * s + 1] = static_cast<std::uint8_t>(v >> 8);
        }
    }
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// What entry e of the table records in frame f, normalized.
float expectedValue(int entry, std::size_t f)
{
    if (entry == 0) {
        double sum = 0.0;
        for (std::size_t s = 0; s < 4; ++s) {
            sum += SimulatedBox::slotValue(s, f);
        }
        return static_cast<float>(sum / 4.0 / 32768.0);
    }
    return static_cast<float>(SimulatedBox::slotValue(std::size_t(entry) + 3, f) / 32768.0);
}

// The launch table: every entry on, audio gain 200 / filter 500, analog
// gain 1 / filter 150, with distinct gains and filters where a case needs
// to tell entries apart.
std::array<ChannelInfo, 20> tableWith(std::initializer_list<int> disabled)
{
    std::array<ChannelInfo, 20> table{};
    for (std::size_t e = 0; e < table.size(); ++e) {
        table[e].bOnOff = 1;
        table[e].nSampleRate = 22050;
        table[e].nGain = e == 0 ? 200 : int(e % 8) + 1;
        table[e].nFilterRate = e == 0 ? 500 : 150 + int(e);
        table[e].setSource("Mask");
    }
    for (const int e : disabled) {
        table[std::size_t(e)].bOnOff = 0;
    }
    return table;
}

// Everything a read may change, as text, to check a refused read changed nothing.
std::string stateOf(const MyDocument& doc)
{
    std::ostringstream s;
    s << doc.m_nNumofChannels << doc.m_bHaveData << doc.m_bNewFile << doc.m_nFileFormat << ' '
      << doc.m_dAnalysisSampleRate << ' ' << doc.changeCount() << '\n';
    for (int i = 0; i < MyDocument::kChannelSlots; ++i) {
        const Channels& c = doc.getChannel(i);
        s << c.GetTitle() << ' ' << c.m_hData.size() << ' ' << c.m_dwFileLength << ' '
          << c.m_dSampleRate << ' ' << c.m_dGain << ' ' << c.m_nLabelCount << '\n';
    }
    return s.str();
}

class RecordedBoxFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() /
                ("phonaxis-boxfile-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    test::ScriptedPrompts prompts;
    AppSettings settings;
    MyDocument doc{prompts, settings};
    fs::path m_dir;
};

// Every enabled entry among the box's channels becomes a channel, in entry
// order, holding its slot sample for sample; a partial last frame is left out.
TEST_F(RecordedBoxFile, EnabledEntriesBecomeChannelsWithTheirSlots)
{
    struct Case {
        const char* what;
        int systemChannels;
        std::array<ChannelInfo, 20> table;
        std::vector<int> entries;
        std::vector<std::string> titles;
    };
    const Case cases[] = {
        {"9 channels, 4, 6 and 8 off", 9, tableWith({4, 6, 8}), {0, 1, 2, 3, 5, 7},
         {"Audio", "ch1", "ch2", "ch3", "ch5", "ch7"}},
        {"5 channels, 3 off", 5, tableWith({3}), {0, 1, 2, 4}, {"Audio", "ch1", "ch2", "ch4"}},
        {"2 channels", 2, tableWith({}), {0, 1}, {"Audio", "ch1"}},
        {"2 channels, audio off", 2, tableWith({0}), {1}, {"ch1"}},
        // Entries past the box's channels, and past the frame's last slot,
        // are never read.
        {"box of 20 claimed", 20, tableWith({}), {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
         {"Audio", "ch1", "ch2", "ch3", "ch4", "ch5", "ch6", "ch7", "ch8", "ch9", "ch10", "ch11",
          "ch12"}},
    };
    const std::size_t frames = 2 * 2048 + 777;
    const fs::path path = m_dir / "rec";
    writeRecording(path, frames, 17);

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        doc.clearChangeCount();
        ASSERT_EQ(doc.Read_RecordedFile_X2(path.string(), c.table, c.systemChannels), 0);
        ASSERT_EQ(doc.m_nNumofChannels, int(c.entries.size()));
        for (std::size_t i = 0; i < c.entries.size(); ++i) {
            SCOPED_TRACE(c.titles[i]);
            const int e = c.entries[i];
            const ChannelInfo& entry = c.table[std::size_t(e)];
            const Channels& ch = doc.getChannel(int(i));
            EXPECT_EQ(ch.GetTitle(), c.titles[i]);
            EXPECT_EQ(ch.GetUnit(), "normalized");
            EXPECT_EQ(ch.m_dSampleRate, 22050.0);
            EXPECT_EQ(ch.m_dwFileLength, double(frames));
            EXPECT_DOUBLE_EQ(ch.m_dLengthMS, frames * 1000.0 / 22050.0);
            EXPECT_EQ(ch.m_nOrder, int(i) + 1);
            EXPECT_EQ(ch.m_nChannelType, e == 0 ? 1 : 0);
            EXPECT_EQ(ch.m_bAnchorChannel, i == 0);
            EXPECT_EQ(ch.m_nResolutionBits, 16);
            EXPECT_EQ(ch.m_nDataType, 3);
            EXPECT_EQ(ch.m_nHeigth, 100);
            EXPECT_EQ(ch.m_dGain, double(entry.nGain));
            EXPECT_EQ(ch.m_dFilterRate, double(entry.nFilterRate));
            EXPECT_EQ(ch.m_dPageMax, double(frames));
            EXPECT_EQ(ch.m_dMaxUnZoom, double(frames));
            EXPECT_EQ(ch.m_dReference, 0.0);
            EXPECT_EQ(std::vector<double>({ch.m_dA3Cal, ch.m_dB2Cal, ch.m_dC1Cal, ch.m_dD0Cal}),
                      std::vector<double>({0.0, 0.0, 1.0, 0.0}));
            ASSERT_EQ(ch.m_hData.size(), frames + Channels::kSlackFloats);
            for (std::size_t f = 0; f < frames; ++f) {
                ASSERT_EQ(ch.m_hData[f], expectedValue(e, f)) << "frame " << f;
            }
            for (std::size_t k = frames; k < ch.m_hData.size(); ++k) {
                ASSERT_EQ(ch.m_hData[k], 0.0f);
            }
        }
        EXPECT_TRUE(doc.m_bHaveData);
        EXPECT_TRUE(doc.m_bNewFile);
        EXPECT_EQ(doc.m_nFileFormat, FileFormat::kPcFloat);
        EXPECT_EQ(doc.m_dAnalysisSampleRate, 22050.0);
        EXPECT_EQ(doc.m_dwAnalysisFileLength, double(frames));
        EXPECT_EQ(doc.m_nLPCNumberofCoefficients, 26);
        EXPECT_EQ(doc.m_nFFTAppliedWindowLength, 11);
        // A fresh recording exists only here: closing must ask first.
        EXPECT_EQ(doc.changeCount(), 1);
    }
}

// A recording replaces everything: a wider earlier recording leaves no
// samples, labels or EGG choice in the slots the new one does not use.
TEST_F(RecordedBoxFile, EarlierChannelsLeaveNothingBehind)
{
    const fs::path path = m_dir / "rec";
    writeRecording(path, 300);
    ASSERT_EQ(doc.Read_RecordedFile_X2(path.string(), tableWith({}), 9), 0);
    doc.getChannel(0).Add_Label_Cocoa(Labels{});
    doc.getChannel(5).Add_Label_Cocoa(Labels{});
    doc.m_nEGGChannelIndex = 5;
    doc.m_bHaveSelection = true;

    ASSERT_EQ(doc.Read_RecordedFile_X2(path.string(), tableWith({}), 2), 0);
    EXPECT_EQ(doc.m_nNumofChannels, 2);
    for (int i = 0; i < MyDocument::kChannelSlots; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(doc.getChannel(i).m_nLabelCount, 0);
        EXPECT_EQ(doc.getChannel(i).m_hData.present(), i < 2);
    }
    EXPECT_EQ(doc.m_nEGGChannelIndex, -1);
    EXPECT_FALSE(doc.m_bHaveSelection);
}

// A recording stopped before its first block still makes its channels,
// each of length 0, and a document that saves.
TEST_F(RecordedBoxFile, RecordingOfNoFramesMakesEmptyChannels)
{
    for (const std::size_t tail : {std::size_t{0}, std::size_t{31}}) {
        SCOPED_TRACE(tail);
        const fs::path path = m_dir / ("empty" + std::to_string(tail));
        writeRecording(path, 0, tail);
        ASSERT_EQ(doc.Read_RecordedFile_X2(path.string(), tableWith({3}), 5), 0);
        ASSERT_EQ(doc.m_nNumofChannels, 4);
        EXPECT_EQ(doc.getChannel(3).GetTitle(), "ch4");
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(doc.getChannel(i).m_dwFileLength, 0.0);
            EXPECT_EQ(doc.getChannel(i).m_dLengthMS, 0.0);
            EXPECT_TRUE(doc.getChannel(i).samples().empty());
        }
        EXPECT_TRUE(doc.m_bHaveData);
        EXPECT_TRUE(prompts.alerts.empty());
    }
}

// A recording that cannot be read, or not held in memory, is refused with
// an alert and leaves the document exactly as it was.
TEST_F(RecordedBoxFile, RefusedRecordingLeavesTheDocumentUnchanged)
{
    const fs::path good = m_dir / "good";
    writeRecording(good, 500);
    ASSERT_EQ(doc.Read_RecordedFile_X2(good.string(), tableWith({}), 5), 0);
    doc.getChannel(1).Add_Label_Cocoa(Labels{});
    doc.clearChangeCount();
    const std::string before = stateOf(doc);

    // Longer than any memory this machine has, yet a few blocks on disk:
    // the buffers must be refused before a byte is read.
    const fs::path huge = m_dir / "huge";
    const std::uint64_t memory =
        std::uint64_t(::sysconf(_SC_PHYS_PAGES)) * std::uint64_t(::sysconf(_SC_PAGESIZE));
    std::ofstream(huge).put('\0');
    fs::resize_file(huge, std::max<std::uint64_t>(std::uint64_t{1} << 40, memory * 16));

    struct Case {
        const char* what;
        fs::path path;
        std::array<ChannelInfo, 20> table;
        std::string message; // the start of the alert's message
    };
    const Case cases[] = {
        {"missing", m_dir / "missing", tableWith({}), "Could not open the recording"},
        {"a folder", m_dir, tableWith({}), "The recording \""},
        {"no memory", huge, tableWith({}), "Could not alloated enough memory"},
        {"nothing enabled", good, tableWith({0, 1, 2, 3, 4}), "No channel was enabled"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        prompts.alerts.clear();
        EXPECT_EQ(doc.Read_RecordedFile_X2(c.path.string(), c.table, 5), -1);
        ASSERT_EQ(prompts.alerts.size(), 1u);
        EXPECT_EQ(prompts.alerts[0].title, "Sample saving error");
        EXPECT_EQ(prompts.alerts[0].message.substr(0, c.message.size()), c.message);
        EXPECT_EQ(prompts.alerts[0].defaultButton, "Close");
        EXPECT_EQ(stateOf(doc), before);
    }
}

// The document saves in the native float format and reads back with the
// same channels, titles, rates, units, gains and samples.
TEST_F(RecordedBoxFile, SavedRecordingReopensWithTheSameChannels)
{
    const fs::path path = m_dir / "rec";
    writeRecording(path, 2048 + 10);
    ASSERT_EQ(doc.Read_RecordedFile_X2(path.string(), tableWith({2}), 5), 0);
    const auto bytes = doc.dataOfType("pmf");
    ASSERT_TRUE(bytes.has_value());

    test::ScriptedPrompts otherPrompts;
    AppSettings otherSettings;
    MyDocument reopened{otherPrompts, otherSettings};
    ASSERT_TRUE(reopened.readFromData(ByteView(bytes->data(), bytes->size()), "pmf"));
    ASSERT_EQ(reopened.m_nNumofChannels, doc.m_nNumofChannels);
    for (int i = 0; i < doc.m_nNumofChannels; ++i) {
        const Channels& a = doc.getChannel(i);
        const Channels& b = reopened.getChannel(i);
        SCOPED_TRACE(a.GetTitle());
        EXPECT_EQ(b.GetTitle(), a.GetTitle());
        EXPECT_EQ(b.GetUnit(), a.GetUnit());
        EXPECT_EQ(b.m_dSampleRate, a.m_dSampleRate);
        EXPECT_EQ(b.m_dGain, a.m_dGain);
        EXPECT_EQ(b.m_nChannelType, a.m_nChannelType);
        ASSERT_EQ(b.samples().size(), a.samples().size());
        EXPECT_TRUE(std::equal(a.samples().begin(), a.samples().end(), b.samples().begin()));
    }
}

} // namespace
} // namespace phonaxis
