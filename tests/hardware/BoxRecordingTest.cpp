// Recording from the acquisition box without a window: the settings tables,
// the raw file and the orphans a crashed run leaves, and what only the
// session shows on the simulated box (its clock stepped by the test). Whole
// recordings, control changes, an unplug and closing the window are
// tests/app/BoxRecordWindowTest.cpp.

#include "USB2HardwareFakes.h"

#include "document/Configuration.h"
#include "document/EditSession.h"
#include "hardware/BoxRecording.h"
#include "hardware/SimulatedBox.h"
#include "support/RunawayGuard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace phonaxis::test {
namespace {

using std::chrono::milliseconds;
using End = BoxRecordSession::End;
using State = BoxRecordSession::State;
namespace fs = std::filesystem;

// A private folder of the test's own, removed with everything in it.
struct ScratchFolder {
    fs::path path;
    ScratchFolder()
    {
        char pattern[] = "/tmp/boxrecordingXXXXXX";
        path = ::mkdtemp(pattern);
    }
    ~ScratchFolder() { fs::remove_all(path); }
    std::size_t count() const
    {
        return std::size_t(std::distance(fs::directory_iterator(path), fs::directory_iterator()));
    }
};

std::vector<std::uint8_t> fileBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Whether this process still holds `path` open.
bool heldOpen(const fs::path& path)
{
    const fs::path file = fs::canonical(path);
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (fs::read_symlink(fd.path(), ec) == file)
            return true;
    }
    return false;
}

// The index of the first frame of `bytes` that differs from the box's
// signals from frame `first` on, or -1 when every frame matches.
long firstMismatch(const std::vector<std::uint8_t>& bytes, std::uint64_t first)
{
    for (std::size_t f = 0; f < bytes.size() / kFrameBytes; ++f)
        for (std::size_t s = 0; s < 16; ++s) {
            const std::size_t at = f * kFrameBytes + 2 * s;
            if (std::int16_t(bytes[at] | bytes[at + 1] << 8) !=
                usb::SimulatedBox::slotValue(s, first + f))
                return long(f);
        }
    return -1;
}

// --- the front end's settings ---------------------------------------------------------

TEST(BoxRecordingSettings, PopUpPositionsCodesBlocksTimesAndSlots)
{
    const struct {
        std::int32_t value;
        int filter, gain, audio;
    } positions[] = {
        {8000, 0, 0, 7}, {4000, 1, 0, 7}, {1000, 2, 0, 7}, {300, 3, 0, 2},  {150, 4, 0, 0},
        {40, 5, 0, 0},   {10, 6, 5, 0},   {2, 7, 1, 0},    {1, 0, 0, 0},    {20, 0, 7, 0},
        {15, 0, 6, 0},   {500, 0, 0, 4},  {800, 0, 0, 7},  {-300, 0, 0, 0}, {99999, 0, 0, 7},
    };
    for (const auto& p : positions) {
        SCOPED_TRACE(p.value);
        EXPECT_EQ(filterPosition(p.value), p.filter);
        EXPECT_EQ(gainPosition(p.value), p.gain);
        EXPECT_EQ(audioGainPosition(p.value), p.audio);
    }
    // 8000 Hz Mask gain 1, 2 Hz Panel gain 20; on/off is not in the code.
    EXPECT_EQ(channelCode({true, 0, 0, 0}), 0x47);
    EXPECT_EQ(channelCode({true, 7, 1, 7}), 0x38);
    EXPECT_EQ(channelCode({false, 2, 0, 3}), 0x5D);
    for (const auto& [controls, byte0] :
         {std::pair<AudioControls, std::uint8_t>{{4, 0, 16, 32}, 0x34},
          {{0, 8, 0, 0}, 0x08},
          {{7, 8, 16, 32}, 0x3F}}) {
        BoxControlBlock expected{};
        expected[0] = byte0;
        EXPECT_EQ(audioBlock(controls), expected);
    }

    const std::pair<double, const char*> times[] = {
        {0.5, "Recording 0:00"},        {3.0, "Recording 0:03"},
        {59.99, "Recording 0:59"},      {60.0, "Recording 1:00"},
        {3599.5, "Recording 59:59"},    {3600.0, "Recording 1:00:00"},
        {3723.0, "Recording 1:02:03"},  {36000.0 + 61.0, "Recording 10:01:01"},
        {-3.0, "Recording 0:00"},       {std::nan(""), "Recording 0:00"},
        {1e300, "Recording 8784:00:00"}};
    for (const auto& [seconds, text] : times)
        EXPECT_EQ(recordingTimeText(seconds), text) << seconds;

    AppSettings settings;
    settings.g_ChannelInfo[0].bOnOff = 0;
    settings.g_ChannelInfo[3].bOnOff = 0;
    EXPECT_EQ(enabledEntries(settings.g_ChannelInfo, 5), (std::vector<int>{1, 2, 4}));
    EXPECT_EQ(enabledEntries(settings.g_ChannelInfo, 16).size(), 11u); // no slot past 15

    // The audio is the mean of slots 0..3, entry e is slot e + 3.
    const std::int16_t slots[16] = {1000, 2000, -3000, 4000, 0, -32768, 32767, 5,
                                    0,    0,    0,     0,    0, 0,      0,     16384};
    std::array<std::uint8_t, kFrameBytes> frame{};
    for (std::size_t s = 0; s < 16; ++s) {
        frame[2 * s] = std::uint8_t(slots[s] & 0xFF);
        frame[2 * s + 1] = std::uint8_t((slots[s] >> 8) & 0xFF);
    }
    EXPECT_FLOAT_EQ(entryValue(frame.data(), 0), 4000.0f / 4 / 32768.0f);
    EXPECT_FLOAT_EQ(entryValue(frame.data(), 2), -1.0f);
    EXPECT_FLOAT_EQ(entryValue(frame.data(), 12), 0.5f);
    EXPECT_EQ(entryValue(frame.data(), 13), 0.0f); // no slot: never read past the frame
}

// --- the raw file and the orphans -------------------------------------------------------

RecordingInfo sampleInfo()
{
    AppSettings settings;
    RecordingInfo info;
    info.systemChannels = 5;
    std::copy_n(settings.g_ChannelInfo.begin(), 17, info.table.begin());
    info.table[3].bOnOff = 0;
    info.table[2].nGain = 15;
    info.table[1].setSource("Panel");
    info.startedUnixSeconds = 1'700'000'123;
    return info;
}

TEST(RawRecordingFile, DamagedInfoTextsAreRefused)
{
    const std::string good = RawRecordingFile::infoText(sampleInfo());
    RecordingInfo info;
    ASSERT_TRUE(RawRecordingFile::parseInfo(good, info));
    auto replaced = [&](const std::string& what, const std::string& with) {
        return std::string(good).replace(good.find(what), what.size(), with);
    };
    const std::string damaged[] = {
        "",
        good.substr(0, good.size() / 2),
        "x" + good,
        replaced("entry 16 1 11025 150 1 Mask\n", ""),
        replaced("channels 5\n", ""),
        replaced("started 1700000123\n", ""),
        good + "entry 3 1 22050 150 1 Mask\n",  // twice
        good + "entry 17 1 22050 150 1 Mask\n", // past the table
        replaced("channels 5", "channels 17"),
        replaced("channels 5", "channels 0"),
        replaced("entry 2 1", "entry 2 9"),
        replaced("22050", "22x50"),
    };
    for (const std::string& text : damaged)
        EXPECT_FALSE(RawRecordingFile::parseInfo(text, info)) << text;
    // Every box size from 1 to 16 channels is one.
    for (const int channels : {1, 16}) {
        const std::string text = replaced("channels 5", "channels " + std::to_string(channels));
        ASSERT_TRUE(RawRecordingFile::parseInfo(text, info)) << text;
        EXPECT_EQ(info.systemChannels, channels);
    }
}

// Written blocks reach the disk by themselves while the file stays open,
// each new one too, and whatever is left when it closes.
TEST(RawRecordingFile, WrittenBlocksAreFlushedWithoutAClose)
{
    const RunawayGuard guard(1 << 20, std::chrono::seconds(60));
    ScratchFolder folder;
    RawRecordingFile file;
    std::string error;
    ASSERT_TRUE(file.create(folder.path, sampleInfo(), error)) << error;
    EXPECT_EQ(file.flushedBytes(), 0u);
    for (const std::uint64_t total : {65536u, 2 * 65536u}) {
        ASSERT_TRUE(file.append(std::vector<std::uint8_t>(65536, 1), error)) << error;
        for (int i = 0; i < 1000 && file.flushedBytes() != total; ++i)
            std::this_thread::sleep_for(milliseconds(10));
        EXPECT_EQ(file.flushedBytes(), total);
    }
    ASSERT_TRUE(file.append(std::vector<std::uint8_t>(100, 1), error)) << error;
    file.close();
    EXPECT_EQ(file.flushedBytes(), 2 * 65536u + 100);
    file.remove();
    EXPECT_EQ(file.flushedBytes(), 0u);
    EXPECT_EQ(file.frames(), 0u);
}

// Only a recording's own name tells the run that made it.
TEST(RawRecordingFile, OnlyARecordingsNameTellsItsOwner)
{
    const std::pair<const char*, pid_t> names[] = {
        {"$$001recordfile-4321-0123abcdef", 4321},
        {"$$001recordfile-4321-0123abcdef.info", -1},
        {"$$001recordfile-4321-", -1},
        {"$$001recordfile-0-ab", -1},
        {"$$001recordfile--ab", -1},
        {"$$001recordfile-12x-ab", -1},
        {"$$001recordfile-4321", -1},
        {"$$002recordfile-4321-ab", -1},
    };
    for (const auto& [name, owner] : names)
        EXPECT_EQ(RawRecordingFile::ownerOf(name), owner) << name;
}

// A recording as this run writes it, then as a run that no longer runs left
// it: offered, unless held locked; recordings of live runs, or without a
// sound info, never are; the stale-backup clean-up leaves all of them alone.
TEST(OrphanRecordings, OnlyRecordingsOfDeadUnlockedRunsWithAnInfoAreOffered)
{
    ScratchFolder folder;
    const RecordingInfo info = sampleInfo();
    RawRecordingFile made;
    std::string error;
    ASSERT_TRUE(made.create(folder.path, info, error)) << error;
    EXPECT_EQ(fs::status(made.path()).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(made.append(std::vector<std::uint8_t>(5 * 32 + 7, 7), error)); // and a part
    EXPECT_EQ(made.frames(), 5u);
    made.close();

    const pid_t dead = ::fork();
    if (dead == 0)
        ::_exit(0);
    ::waitpid(dead, nullptr, 0);
    const std::string mine = std::to_string(::getpid());
    std::string name = made.path().filename().string();
    const auto orphan =
        folder.path / name.replace(name.find(mine), mine.size(), std::to_string(dead));
    fs::rename(made.path(), orphan);
    fs::rename(made.path().string() + ".info", orphan.string() + ".info");
    auto leave = [&](pid_t pid, const char* tag, const std::string& infoText) {
        const auto path = folder.path / ("$$001recordfile-" + std::to_string(pid) + "-" + tag);
        std::ofstream(path) << "data";
        if (!infoText.empty())
            std::ofstream(path.string() + ".info") << infoText;
        return path;
    };
    const std::string text = RawRecordingFile::infoText(info);
    const fs::path others[] = {
        leave(::getpid(), "aa", text), leave(1, "bb", text), // alive
        leave(dead, "ff", ""), leave(dead, "ee", "channels 9\n"),
        leave(dead, "dd", text + std::string(20000, '#'))}; // no info is that long
    fs::create_directory(folder.path / "other");

    auto found = findOrphanRecordings(folder.path);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].path, orphan);
    EXPECT_EQ(found[0].frames, 5u); // a partial trailing frame is not one
    EXPECT_EQ(found[0].info.systemChannels, 5);
    EXPECT_EQ(found[0].info.startedUnixSeconds, info.startedUnixSeconds);
    EXPECT_EQ(found[0].info.table, info.table);

    // Held locked by a live process (this one, through another descriptor).
    const int held = ::open(orphan.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    EXPECT_TRUE(findOrphanRecordings(folder.path).empty());
    ::close(held);

    EXPECT_EQ(EditSession::removeStaleBackups(folder.path), 0);
    EXPECT_TRUE(fs::exists(orphan));
    for (const auto& path : others)
        EXPECT_TRUE(fs::exists(path)) << path;

    discardOrphanRecording(found[0]);
    EXPECT_FALSE(fs::exists(orphan));
    EXPECT_FALSE(fs::exists(orphan.string() + ".info"));
    EXPECT_TRUE(findOrphanRecordings(folder.path).empty());
}

// An info that is not a regular file of this user's (a pipe, a folder, a
// link to a good info) never gets the recording offered, and a pipe with no
// writer does not hold up the search. A watchdog opens the pipe's writing
// end after a while, so that a search stuck on it ends and the test fails
// instead of hanging.
TEST(OrphanRecordings, AnInfoThatIsNoRegularFileIsSkippedWithoutWaiting)
{
    ScratchFolder folder;
    const pid_t dead = ::fork();
    if (dead == 0)
        ::_exit(0);
    ::waitpid(dead, nullptr, 0);
    const std::string text = RawRecordingFile::infoText(sampleInfo());
    const fs::path good = folder.path / "good-info";
    std::ofstream(good) << text;
    const struct {
        const char* tag;
        std::function<void(const fs::path&)> make;
    } infos[] = {
        {"a1", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
        {"a2", [](const fs::path& p) { fs::create_directory(p); }},
        {"a3", [&](const fs::path& p) { fs::create_symlink(good, p); }},
    };
    for (const auto& info : infos) {
        const auto raw = folder.path / ("$$001recordfile-" + std::to_string(dead) + "-" + info.tag);
        std::ofstream(raw) << std::string(64, 'x');
        info.make(raw.string() + ".info");
    }

    std::atomic<bool> done{false};
    std::atomic<bool> released{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 200 && !done; ++i)
            std::this_thread::sleep_for(milliseconds(50));
        if (done)
            return;
        released = true;
        const auto fifo = folder.path / ("$$001recordfile-" + std::to_string(dead) + "-a1.info");
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    });
    const auto found = findOrphanRecordings(folder.path);
    done = true;
    watchdog.join();
    EXPECT_FALSE(released) << "the search waited on the pipe";
    EXPECT_TRUE(found.empty());
}

// --- the session against the simulated box --------------------------------------------

struct SessionOnSimulatedBox : ::testing::Test, BoxRecordSession::Listener {
    RunawayGuard guard; // a session that never stops writing fails, bounded
    std::chrono::steady_clock::time_point clock{};
    usb::SimulatedBox sim{9, [this] { return clock; }};
    Recorder seen;
    std::shared_ptr<BoxConnection> box =
        BoxConnection::create(sim, seen.sink(), seen, [this] { return clock; });
    USB2Hardware hw{box};
    AppSettings settings;
    ScratchFolder folder;
    std::vector<End> ends;
    int blocks = 0;
    std::unique_ptr<BoxRecordSession> session;
    std::uint64_t streamStart = 0; // the frame of the stream's first block

    void SetUp() override
    {
        FirmwareImage image;
        image.records.resize(2);
        image.records[0].Length = 1;
        image.records[1].Type = 1;
        box->setFirmware(image);
        sim.plug();
        hw.FindLoadDevice();
        run(milliseconds(30));
        ASSERT_TRUE(box->haveInterface());
        session = std::make_unique<BoxRecordSession>(hw, settings, folder.path, *this);
    }
    void blockArrived(std::span<const std::uint8_t> block) override
    {
        // Whole frames only; a full read is one block of 2,048.
        EXPECT_EQ(block.size() % kFrameBytes, 0u);
        EXPECT_LE(block.size(), 65536u);
        ++blocks;
    }
    void sessionEnded(End end) override { ends.push_back(end); }
    void run(milliseconds span)
    {
        for (auto end = clock + span; clock < end;) {
            clock += milliseconds(10);
            hw.handleEvents();
            hw.awaitDownload();
        }
    }
    // Starts the stream; recording when `record`. The frame the recording
    // starts at when it starts before the next block.
    std::uint64_t start(bool record = true)
    {
        std::string error;
        EXPECT_TRUE(session->start(audioControlsFrom(settings),
                                   analogControlsFrom(settings.g_ChannelInfo), error))
            << error;
        streamStart = sim.nextFrame();
        blocks = 0;
        ends.clear();
        EXPECT_TRUE(!record || session->record(error)) << error;
        return streamStart;
    }
};

TEST_F(SessionOnSimulatedBox, StartStopsTheBoxSendsTheSettingsThenSamplesWritingNothing)
{
    settings.g_ChannelInfo[0].nGain = 400;
    settings.g_ChannelInfo[2].nFilterRate = 40;
    settings.g_ChannelInfo[3].setSource("Panel");
    settings.g_ChannelInfo[3].nGain = 15;
    settings.g_strInputSource = "Microphone";
    start(false);
    const auto& all = sim.requests();
    const auto firstBlock = std::find(all.begin(), all.end(), 0xB6);
    ASSERT_NE(firstBlock, all.begin());
    EXPECT_EQ(*(firstBlock - 1), 0xB4); // the stop request first
    EXPECT_EQ(all.back(), 0xB2);        // sampling last
    const auto& sent = sim.controlBlocks();
    ASSERT_EQ(sent.size(), 3u);
    const std::array<std::uint8_t, 2> expected[] = {
        {3 | 16 | 32, 0}, {0x40 | (7 - 4), 0x40 | (7 - 5)}, {6 << 3 | (7 - 4), 0x40 | (7 - 4)}};
    for (std::uint16_t i = 0; i < 3; ++i) {
        EXPECT_EQ(sent[i].index, i);
        EXPECT_EQ((std::array{sent[i].bytes[0], sent[i].bytes[1]}), expected[i]) << i;
    }
    // An analog change sent at once (the window defers its own).
    std::array<AnalogControls, 4> analog{};
    analog[3] = {true, 6, 0, 7};
    session->setAnalog(analog, true);
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_EQ(sent[4].bytes, storeAnalogControls(analog, {})[1]);
    run(milliseconds(500));
    EXPECT_EQ(blocks, 5);
    EXPECT_EQ(folder.count(), 0u); // scope mode writes nothing
}

// Every frame from the first block after Record is written; a block
// delivered while draining is not; a recording saved before its first
// block is an empty file.
TEST_F(SessionOnSimulatedBox, ASavedRecordingHoldsEveryStreamedFrameAndNothingAfterSave)
{
    for (const int ms : {1000, 0}) {
        SCOPED_TRACE(ms);
        const std::uint64_t first = start();
        run(milliseconds(ms));
        const std::uint64_t frames = session->recordedFrames();
        EXPECT_EQ(frames, std::uint64_t(ms / 100) * kFramesPerBlock);
        session->discardRecording(); // not while recording
        session->save();
        session->discardRecording(); // nor while the stream drains
        EXPECT_EQ(session->state(), State::Draining);
        session->animateRecordData();
        EXPECT_EQ(session->recordedFrames(), frames);
        run(milliseconds(3000));
        ASSERT_EQ(ends, std::vector<End>{End::Saved});
        EXPECT_EQ(box->recordReceiver, nullptr);
        ASSERT_TRUE(fs::exists(session->recordingPath()));
        EXPECT_FALSE(heldOpen(session->recordingPath())); // flushed and closed
        const auto bytes = fileBytes(session->recordingPath());
        ASSERT_EQ(bytes.size(), frames * kFrameBytes);
        EXPECT_EQ(firstMismatch(bytes, first), -1);
        // Read into a document, the recording goes with its info.
        EXPECT_EQ(folder.count(), 2u);
        session->discardRecording();
        EXPECT_EQ(folder.count(), 0u);
    }
}

// Only the channels past the front end's four that the box has (5..8 of a
// 9-channel box) are switched by setChannelOn.
TEST_F(SessionOnSimulatedBox, SetChannelOnSwitchesOnlyTheBoxsChannelsPastTheFourth)
{
    for (const int entry : {-1, 0, 4, 5, 8, 9, 12, 16}) {
        SCOPED_TRACE(entry);
        const bool switched = entry >= 5 && entry <= 8;
        session->setChannelOn(entry, false);
        const auto on = [&] {
            return session->info().table[std::size_t(std::max(entry, 0))].bOnOff;
        };
        EXPECT_EQ(on(), switched ? 0 : 1);
        session->setChannelOn(entry, true);
        EXPECT_EQ(on(), 1);
    }
}

// Reads that bring fewer bytes than asked, ending inside a frame or empty:
// only what came is recorded, every frame whole and in the box's order (a
// frame split between reads joined again), and the session counts what the
// short reads lacked.
TEST_F(SessionOnSimulatedBox, ShortReadsRecordOnlyWhatCameWithFramesWhole)
{
    const std::uint64_t first = start();
    run(milliseconds(300));
    const struct {
        std::size_t bytes;
        int count;
    } shortReads[] = {{1000, 1}, {32 * 100, 2}, {17, 3}, {0, 1}, {65535, 1}};
    std::uint64_t reads = 0;
    std::uint64_t lacking = 0;
    for (const auto& read : shortReads) {
        sim.shortenReads(read.bytes, read.count);
        run(milliseconds(500));
        reads += std::uint64_t(read.count);
        lacking += std::uint64_t(read.count) * (65536 - read.bytes);
        // Left inside a frame, the box finishes it in the next read, which
        // then ends on a frame boundary: short by the part already sent.
        if (const std::size_t split = read.count * read.bytes % kFrameBytes; split != 0) {
            ++reads;
            lacking += split;
        }
    }
    run(milliseconds(300));
    session->save();
    run(milliseconds(3000));
    ASSERT_EQ(ends, std::vector<End>{End::Saved});
    const auto bytes = fileBytes(session->recordingPath());
    ASSERT_EQ(bytes.size(), session->recordedFrames() * kFrameBytes);
    EXPECT_GT(session->recordedFrames(), 2u * 22050u);
    EXPECT_EQ(firstMismatch(bytes, first), -1);
    const BoxConnection::ShortReads tally = session->shortReads();
    EXPECT_EQ(tally.reads, reads);
    EXPECT_EQ(tally.bytesShort, lacking);
    EXPECT_EQ(tally.bytesDropped, 0u);
}

TEST_F(SessionOnSimulatedBox, AFailedWriteStopsTheStreamAndKeepsWhatWasWritten)
{
    const std::uint64_t first = start();
    // The file may grow by three blocks and a half frame.
    const std::uint64_t limit = 3 * 65536 + 16;
    {
        const RunawayGuard full(limit, std::chrono::seconds(60));
        run(milliseconds(600));
    }
    EXPECT_EQ(session->state(), State::Draining);
    run(milliseconds(3000));
    ASSERT_EQ(ends, std::vector<End>{End::WriteFailed});
    EXPECT_EQ(blocks, 4); // the block that failed is still shown
    EXPECT_EQ(session->recordedFrames(), 3u * kFramesPerBlock);
    EXPECT_FALSE(heldOpen(session->recordingPath()));
    const auto bytes = fileBytes(session->recordingPath());
    EXPECT_EQ(bytes.size(), limit);
    EXPECT_EQ(firstMismatch(bytes, first), -1);
    EXPECT_FALSE(box->sampling());
    EXPECT_TRUE(seen.printed("Cannot write \"" + session->recordingPath().string() +
                             "\": File too large\n"));
}

// A box unplugged while recording ends the session on its own; every frame
// that came is kept, on the disk and closed.
TEST_F(SessionOnSimulatedBox, AnUnplugWhileRecordingKeepsWhatCameClosed)
{
    const std::uint64_t first = start();
    run(milliseconds(500));
    sim.unplug();
    run(milliseconds(100));
    ASSERT_EQ(ends, std::vector<End>{End::BoxGone});
    EXPECT_EQ(session->state(), State::Idle);
    EXPECT_GE(session->recordedFrames(), 4 * kFramesPerBlock);
    const auto bytes = fileBytes(session->recordingPath());
    EXPECT_EQ(bytes.size(), session->recordedFrames() * kFrameBytes);
    EXPECT_EQ(firstMismatch(bytes, first), -1);
    EXPECT_FALSE(heldOpen(session->recordingPath()));
}

// A save or cancel the box never answers ends the stream when the stop
// times out; a session destroyed while recording (its window gone) ends it
// at once. Only the cancelled recording goes.
TEST_F(SessionOnSimulatedBox, AStopThatDoesNotEndInTimeOrADestroyedSessionEndsTheStream)
{
    enum How { Save, Cancel, Destroy };
    for (const How how : {Save, Cancel, Destroy}) {
        SCOPED_TRACE(how);
        start();
        run(milliseconds(500));
        const auto path = session->recordingPath();
        session->setStopTimeout(milliseconds(2000));
        if (how == Destroy) {
            session.reset();
        } else {
            how == Save ? session->save() : session->cancel();
            // The box's reads never come back: its clock stands still.
            clock += milliseconds(1999);
            session->checkStopTimeout();
            EXPECT_TRUE(ends.empty());
            clock += milliseconds(1);
            session->checkStopTimeout();
            ASSERT_EQ(ends, std::vector<End>{how == Save ? End::StopTimeout : End::Cancelled});
            EXPECT_EQ(session->state(), State::Idle);
        }
        EXPECT_EQ(box->readsInFlight(), 0);
        EXPECT_EQ(sim.inFlight(2), 0u);
        EXPECT_FALSE(box->sampling());
        EXPECT_EQ(box->recordReceiver, nullptr);
        EXPECT_EQ(fs::exists(path) ? fs::file_size(path) : 0u, how == Cancel ? 0u : 5u * 65536u);
    }
    EXPECT_TRUE(ends.empty()); // a destroyed session tells nobody
}

// A recording not read yet stays as it is: the next session's gets a file of
// its own.
TEST_F(SessionOnSimulatedBox, TwoSessionsNeverShareAFile)
{
    start();
    run(milliseconds(300));
    const auto first = session->recordingPath();
    // Record again while recording, or once the stream has ended: refused,
    // the recording left as it is.
    std::string error;
    EXPECT_FALSE(session->record(error));
    EXPECT_EQ(error, "A recording is already running.");
    session->save();
    run(milliseconds(3000));
    ASSERT_EQ(ends, std::vector<End>{End::Saved});
    EXPECT_FALSE(session->record(error));
    EXPECT_EQ(error, "The acquisition box is not streaming.");
    EXPECT_EQ(session->recordingPath(), first);

    session = std::make_unique<BoxRecordSession>(hw, settings, folder.path, *this);
    start();
    run(milliseconds(200));
    EXPECT_NE(session->recordingPath(), first);
    EXPECT_EQ(fs::file_size(session->recordingPath()), 2u * 65536u);
    EXPECT_EQ(fs::file_size(first), 3u * 65536u);
    EXPECT_EQ(folder.count(), 4u);
}

// The settings take the session's changes only on Save, which writes them
// into the configuration but leaves the stored record time, not theirs. Save
// copies back the box's entries (9 here) and entry 16, whatever the settings
// held meanwhile (a user configuration loaded), and no other entry.
TEST_F(SessionOnSimulatedBox, SaveUpdatesTheSettingsAndKeepsTheStoredRecordTime)
{
    settings.m_strConfigFolder = folder.path / "config";
    ASSERT_TRUE(ReadConfig(settings));
    const auto stored = fileBytes(settings.configPath());
    settings.m_nRecordingTimeSeconds += 7;
    start();
    for (auto& entry : settings.g_ChannelInfo)
        entry.nFilterRate = 77;
    session->setAudio({6, 8, 16, 32}, true);
    run(milliseconds(200));
    EXPECT_EQ(settings.g_ChannelInfo[0].nGain, 200);
    session->save();
    run(milliseconds(3000));
    ASSERT_EQ(ends, std::vector<End>{End::Saved});
    EXPECT_EQ(settings.g_ChannelInfo[0].nGain, 700);
    const auto bytes = fileBytes(settings.configPath());
    ASSERT_EQ(bytes.size(), 2912u);
    EXPECT_EQ(bytes[276] | bytes[277] << 8, 700);
    EXPECT_TRUE(std::equal(&bytes[16], &bytes[20], &stored[16])); // the record time
    for (std::size_t e = 0; e <= 16; ++e) {
        const bool copied = e < 9 || e == 16;
        SCOPED_TRACE(e);
        EXPECT_EQ(settings.g_ChannelInfo[e].nFilterRate,
                  copied ? session->info().table[e].nFilterRate : 77);
        EXPECT_EQ(bytes[208 + 4 * e] | bytes[209 + 4 * e] << 8,
                  settings.g_ChannelInfo[e].nFilterRate); // the configuration's filter rates
    }
    EXPECT_EQ(settings.g_ChannelInfo[16].nFilterRate, 150);
}

} // namespace
} // namespace phonaxis::test
