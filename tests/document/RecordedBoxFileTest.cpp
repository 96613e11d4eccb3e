// Reading a raw recording of the acquisition box into the document. Whole
// recordings from each box, saved and reopened, are the recording window's
// and phonaxis-cli record --box's tests; here the channel fields, entries the
// frame has no slot for, empty recordings, what an earlier recording leaves,
// and the refusals.
#include "document/MyDocument.h"
#include "hardware/SimulatedBox.h"
#include "support/ScriptedPrompts.h"

#include "support/MemoryLimit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;
using usb::SimulatedBox;

// A raw recording as the box streams it: frames of 16 int16 slots holding
// the simulator's known signals, then `tailBytes` bytes of a frame cut short.
void writeRecording(const fs::path& path, std::size_t frames, std::size_t tailBytes = 0)
{
    std::vector<std::int16_t> slots(frames * 16 + (tailBytes + 1) / 2, 0x5A5A);
    for (std::size_t f = 0; f < frames * 16; ++f)
        slots[f] = SimulatedBox::slotValue(f % 16, f / 16); // little-endian, as the box sends
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(slots.data()),
               std::streamsize(frames * 32 + tailBytes));
}

// What entry e of the table records in frame f, normalized.
float expectedValue(int entry, std::size_t f)
{
    if (entry > 0)
        return float(SimulatedBox::slotValue(std::size_t(entry) + 3, f) / 32768.0);
    double sum = 0.0;
    for (std::size_t s = 0; s < 4; ++s)
        sum += SimulatedBox::slotValue(s, f);
    return float(sum / 4.0 / 32768.0);
}

// Every entry on but `disabled`, each with a gain and filter of its own.
std::array<ChannelInfo, 20> tableWith(std::initializer_list<int> disabled)
{
    std::array<ChannelInfo, 20> table{};
    for (std::size_t e = 0; e < table.size(); ++e) {
        table[e].bOnOff = 1;
        table[e].nSampleRate = 22050;
        table[e].nGain = e == 0 ? 200 : int(e % 8) + 1;
        table[e].nFilterRate = e == 0 ? 500 : 150 + int(e);
    }
    for (const int e : disabled)
        table[std::size_t(e)].bOnOff = 0;
    return table;
}

class RecordedBoxFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("phonaxis-boxfile-" + std::to_string(::getpid()));
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
    // A box of 20 claimed: entries past the frame's last slot (entry 12 is
    // slot 15) are never read.
    const std::pair<int, std::array<ChannelInfo, 20>> boxes[] = {
        {9, tableWith({4, 6, 8})}, {2, tableWith({0})}, {20, tableWith({})}};
    const std::vector<int> entries[] = {
        {0, 1, 2, 3, 5, 7}, {1}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}};
    const std::size_t frames = 2 * 2048 + 777;
    const double length = double(frames);
    writeRecording(m_dir / "rec", frames, 17);

    for (std::size_t b = 0; b < std::size(boxes); ++b) {
        const auto& [systemChannels, table] = boxes[b];
        SCOPED_TRACE(systemChannels);
        doc.clearChangeCount();
        ASSERT_EQ(doc.Read_RecordedFile_X2((m_dir / "rec").string(), table, systemChannels), 0);
        ASSERT_EQ(doc.m_nNumofChannels, int(entries[b].size()));
        for (std::size_t i = 0; i < entries[b].size(); ++i) {
            const int e = entries[b][i];
            const Channels& ch = doc.getChannel(int(i));
            SCOPED_TRACE(e);
            EXPECT_EQ(ch.GetTitle(), e == 0 ? "Audio" : "ch" + std::to_string(e));
            EXPECT_EQ(ch.GetUnit(), "normalized");
            EXPECT_EQ(std::tuple(ch.m_dSampleRate, ch.m_dwFileLength, ch.m_dPageMax,
                                 ch.m_dMaxUnZoom, ch.m_dGain, ch.m_dFilterRate),
                      std::tuple(22050.0, length, length, length,
                                 e == 0 ? 1.0 : double(table[e].nGain),
                                 double(table[e].nFilterRate)));
            EXPECT_DOUBLE_EQ(ch.m_dLengthMS, length * 1000.0 / 22050.0);
            EXPECT_EQ(std::tuple(ch.m_nOrder, ch.m_nChannelType, ch.m_bAnchorChannel,
                                 ch.m_nResolutionBits, ch.m_nDataType, ch.m_nHeigth),
                      std::tuple(int(i) + 1, e == 0 ? 1 : 0, i == 0, 16, 3, 100));
            ASSERT_EQ(ch.m_hData.size(), frames + Channels::kSlackFloats);
            for (std::size_t f = 0; f < ch.m_hData.size(); ++f)
                ASSERT_EQ(ch.m_hData[f], f < frames ? expectedValue(e, f) : 0.0f) << "frame " << f;
        }
        EXPECT_EQ(std::tuple(doc.m_bHaveData, doc.m_bNewFile, doc.m_nFileFormat,
                             doc.m_dAnalysisSampleRate, doc.m_dwAnalysisFileLength,
                             doc.m_nLPCNumberofCoefficients, doc.m_nFFTAppliedWindowLength),
                  std::tuple(true, true, FileFormat::kPcFloat, 22050.0, length, 26, 11));
        // A fresh recording exists only here: closing must ask first.
        EXPECT_EQ(doc.changeCount(), 1);
    }
}

// A recording longer than one read (32,768 frames) comes in whole, every
// frame at its own sample across the seams of the reads: slots 4 and 5 hold
// the frame's index, 15 bits each.
TEST_F(RecordedBoxFile, EveryFrameOfALongRecordingLandsAtItsOwnSample)
{
    const std::size_t frames = 2 * 32768 + 1234;
    std::vector<std::int16_t> slots(frames * 16, 0);
    for (std::size_t f = 0; f < frames; ++f) {
        slots[f * 16 + 4] = std::int16_t(f & 0x7FFF);
        slots[f * 16 + 5] = std::int16_t(f >> 15);
    }
    std::ofstream(m_dir / "long", std::ios::binary)
        .write(reinterpret_cast<const char*>(slots.data()), std::streamsize(slots.size() * 2));
    ASSERT_EQ(doc.Read_RecordedFile_X2((m_dir / "long").string(), tableWith({0, 3}), 3), 0);
    ASSERT_EQ(doc.m_nNumofChannels, 2);
    const auto& low = doc.getChannel(0).m_hData;
    const auto& high = doc.getChannel(1).m_hData;
    for (std::size_t f = 0; f < frames; ++f) {
        const auto index = std::size_t(std::lround(low[f] * 32768.0f)) +
                           std::size_t(std::lround(high[f] * 32768.0f)) * 32768;
        ASSERT_EQ(index, f);
    }
}

// A gain the box never uses (0 or below) counts as 1, so that calibrated
// values stay finite; any other analog gain is kept. The audio gain is a
// level setting: the audio keeps full scale at 1.0 whatever it is.
TEST_F(RecordedBoxFile, AGainNotAboveZeroCountsAsOne)
{
    writeRecording(m_dir / "rec", 100);
    auto table = tableWith({});
    const std::pair<int, double> gains[] = {{800, 1.0}, {0, 1.0}, {-5, 1.0}, {1, 1.0}, {15, 15.0}};
    for (std::size_t e = 0; e < std::size(gains); ++e)
        table[e].nGain = gains[e].first;
    ASSERT_EQ(doc.Read_RecordedFile_X2((m_dir / "rec").string(), table, 5), 0);
    EXPECT_EQ(doc.getChannel(0).CalibrateNew(1.0), 1.0);
    EXPECT_EQ(doc.getChannel(0).CalibrateNew(-1.0), -1.0);
    for (std::size_t e = 0; e < std::size(gains); ++e) {
        const Channels& ch = doc.getChannel(int(e));
        SCOPED_TRACE(gains[e].first);
        EXPECT_EQ(ch.m_dGain, gains[e].second);
        for (std::size_t f = 0; f < 100; ++f)
            ASSERT_TRUE(std::isfinite(ch.CalibrateNew(ch.m_hData[f]))) << f;
    }
}

// A recording stopped before its first block (empty, or a frame cut short)
// still makes its channels, each of length 0; and as any recording it
// replaces everything: a wider earlier one leaves no samples, labels, EGG
// choice or selection behind.
TEST_F(RecordedBoxFile, AnEmptyRecordingReplacesAWiderOne)
{
    writeRecording(m_dir / "wide", 300);
    for (const std::size_t tail : {std::size_t{0}, std::size_t{31}}) {
        SCOPED_TRACE(tail);
        ASSERT_EQ(doc.Read_RecordedFile_X2((m_dir / "wide").string(), tableWith({}), 9), 0);
        doc.getChannel(0).Add_Label_Cocoa(Labels{});
        doc.getChannel(5).Add_Label_Cocoa(Labels{});
        doc.m_nEGGChannelIndex = 5;
        doc.m_bHaveSelection = true;

        writeRecording(m_dir / "empty", 0, tail);
        ASSERT_EQ(doc.Read_RecordedFile_X2((m_dir / "empty").string(), tableWith({3}), 5), 0);
        ASSERT_EQ(doc.m_nNumofChannels, 4);
        EXPECT_EQ(doc.getChannel(3).GetTitle(), "ch4");
        for (int i = 0; i < MyDocument::kChannelSlots; ++i) {
            const Channels& ch = doc.getChannel(i);
            EXPECT_EQ(std::tuple(ch.m_nLabelCount, ch.m_hData.present(), ch.m_dwFileLength,
                                 ch.m_dLengthMS, ch.samples().size()),
                      std::tuple(0, i < 4, 0.0, 0.0, std::size_t{0}))
                << i;
        }
        EXPECT_EQ(doc.m_nEGGChannelIndex, -1);
        EXPECT_FALSE(doc.m_bHaveSelection);
        EXPECT_TRUE(doc.m_bHaveData);
        EXPECT_TRUE(prompts.alerts.empty());
    }
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

    const std::tuple<fs::path, std::array<ChannelInfo, 20>, std::string> cases[] = {
        {m_dir / "missing", tableWith({}), "Could not open the recording"},
        {m_dir, tableWith({}), "The recording \""},
        {huge, tableWith({}), "Could not alloated enough memory"},
        {good, tableWith({0, 1, 2, 3, 4}), "No channel was enabled"},
    };
    for (const auto& [path, table, message] : cases) {
        SCOPED_TRACE(message);
        prompts.alerts.clear();
        EXPECT_EQ(doc.Read_RecordedFile_X2(path.string(), table, 5), -1);
        ASSERT_EQ(prompts.alerts.size(), 1u);
        EXPECT_EQ(prompts.alerts[0].title, "Sample saving error");
        EXPECT_EQ(prompts.alerts[0].message.substr(0, message.size()), message);
        EXPECT_EQ(prompts.alerts[0].defaultButton, "Close");
        EXPECT_EQ(stateOf(doc), before);
    }
}

// What the process may still take is the least of what the kernel counts
// as available, what each control group from the process's own up to the
// root still allows (version 2, or version 1's memory hierarchy) and what
// the address-space and data limits leave; figures that are absent or
// unlimited do not count.
TEST_F(RecordedBoxFile, AvailableMemoryIsTheLeastOfEverySource)
{
    const fs::path root = m_dir / "sys";
    auto put = [](const fs::path& path, const std::string& text) {
        fs::create_directories(path.parent_path());
        std::ofstream(path) << text;
    };
    put(m_dir / "meminfo", "MemTotal:       16000000 kB\nMemAvailable:    8000000 kB\n");
    put(m_dir / "status", "Name:\tx\nVmSize:\t  100000 kB\nVmData:\t   50000 kB\n");
    // Version 2: the process's group is unlimited, its parent holds 1 GiB
    // of which 600 MiB are used.
    put(root / "user/app/memory.max", "max\n");
    put(root / "user/app/memory.current", "300000000\n");
    put(root / "user/memory.max", "1073741824\n");
    put(root / "user/memory.current", "629145600\n");
    // Version 1: 3 GB with 1 GB used.
    put(root / "memory/box/memory.limit_in_bytes", "3000000000\n");
    put(root / "memory/box/memory.usage_in_bytes", "1000000000\n");
    put(m_dir / "cgroup-v2", "0::/user/app\n");
    put(m_dir / "cgroup-v1", "7:cpu,memory:/box\n3:pids:/user\n");
    put(m_dir / "cgroup-escape", "0::/../user\n");

    const struct {
        const char* what;
        const char* cgroup;
        std::optional<std::uint64_t> addressSpace, data;
        std::optional<std::uint64_t> expected;
    } cases[] = {
        {"meminfo alone", "none", {}, {}, 8000000ull * 1024},
        {"v2 parent", "cgroup-v2", {}, {}, 1073741824ull - 629145600ull},
        {"v1", "cgroup-v1", {}, {}, 2000000000ull},
        {"address space", "none", 200000ull * 1024, {}, 100000ull * 1024},
        {"data", "cgroup-v1", {}, 60000ull * 1024, 10000ull * 1024},
        {"over the limit", "none", 1024, {}, 0},
        {"a path kept inside the hierarchy", "cgroup-escape", {}, {}, 1073741824ull - 629145600ull},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MemorySources sources;
        sources.meminfo = m_dir / "meminfo";
        sources.selfStatus = m_dir / "status";
        sources.selfCgroup = m_dir / c.cgroup;
        sources.cgroupRoot = root;
        sources.addressSpaceLimit = c.addressSpace;
        sources.dataLimit = c.data;
        EXPECT_EQ(availableMemory(sources), c.expected);
    }
    MemorySources nothing;
    nothing.meminfo = nothing.selfCgroup = nothing.selfStatus = m_dir / "none";
    EXPECT_EQ(availableMemory(nothing), std::nullopt);
    // The running system tells something, never more than the machine has.
    const auto here = availableMemory(MemorySources::system());
    ASSERT_TRUE(here.has_value());
    EXPECT_LE(*here,
              std::uint64_t(::sysconf(_SC_PHYS_PAGES)) * std::uint64_t(::sysconf(_SC_PAGESIZE)));
}

// A recording larger than the memory the process may still take (a control
// group's limit, far below the machine's memory) is refused before anything
// is allocated; one that fits is read.
TEST_F(RecordedBoxFile, RecordingBeyondTheAvailableMemoryIsRefused)
{
    const fs::path rec = m_dir / "rec";
    writeRecording(rec, 4096); // 5 channels of 4,096 floats and 25 to spare: 82,420 bytes
    const fs::path root = m_dir / "sys";
    const MemorySources small = test::memoryLimitedTo(root, 82419);

    EXPECT_EQ(doc.Read_RecordedFile_X2(rec.string(), tableWith({}), 5, small), -1);
    ASSERT_EQ(prompts.alerts.size(), 1u);
    EXPECT_EQ(prompts.alerts[0].message, "Could not alloated enough memory");
    EXPECT_FALSE(doc.m_bHaveData);

    test::memoryLimitedTo(root, 82420);
    EXPECT_EQ(doc.Read_RecordedFile_X2(rec.string(), tableWith({}), 5, small), 0);
    EXPECT_EQ(doc.getChannel(0).m_dwFileLength, 4096.0);
}

} // namespace
} // namespace phonaxis
