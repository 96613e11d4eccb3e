// Recording from the acquisition box without a window: the front end's
// settings and their control blocks, the raw recording file, the recordings
// a crashed run left behind, and the session against the simulated box with
// its clock stepped by the test.

#include "USB2HardwareFakes.h"

#include "document/Configuration.h"
#include "document/EditSession.h"
#include "hardware/BoxRecording.h"
#include "hardware/SimulatedBox.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

namespace phonaxis::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using End = BoxRecordSession::End;
using State = BoxRecordSession::State;

// A private folder of the test's own, removed with everything in it.
struct ScratchFolder {
    std::filesystem::path path;
    ScratchFolder()
    {
        char pattern[] = "/tmp/boxrecordingXXXXXX";
        path = ::mkdtemp(pattern);
    }
    ~ScratchFolder() { std::filesystem::remove_all(path); }
    std::size_t count() const
    {
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(path),
                                                      std::filesystem::directory_iterator()));
    }
};

std::vector<std::uint8_t> fileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The index of the first frame of `bytes` that differs from the box's
// signals from frame `first` on, or -1 when every frame matches.
long firstMismatch(const std::vector<std::uint8_t>& bytes, std::uint64_t first)
{
    for (std::size_t f = 0; f < bytes.size() / kFrameBytes; ++f) {
        for (std::size_t s = 0; s < 16; ++s) {
            const std::size_t at = f * kFrameBytes + 2 * s;
            const auto value = static_cast<std::int16_t>(bytes[at] | bytes[at + 1] << 8);
            if (value != usb::SimulatedBox::slotValue(s, first + f))
                return static_cast<long>(f);
        }
    }
    return -1;
}

// A process id that certainly no longer runs.
pid_t deadProcess()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

// --- the front end's settings ---------------------------------------------------------

TEST(BoxRecordingSettings, PositionsCodesAndBlocksFollowThePopUps)
{
    const struct {
        std::int32_t value;
        int filter, gain, audio;
    } positions[] = {
        {8000, 0, 0, 7}, {4000, 1, 0, 7}, {1000, 2, 0, 7}, {300, 3, 0, 2}, {150, 4, 0, 0},
        {40, 5, 0, 0},   {10, 6, 5, 0},   {2, 7, 1, 0},    {1, 0, 0, 0},   {20, 0, 7, 0},
        {15, 0, 6, 0},   {500, 0, 0, 4},  {800, 0, 0, 7},  {100, 0, 0, 0}, {-300, 0, 0, 0},
        {99999, 0, 0, 7}, {7, 0, 0, 0},
    };
    for (const auto& p : positions) {
        SCOPED_TRACE(p.value);
        EXPECT_EQ(filterPosition(p.value), p.filter);
        EXPECT_EQ(gainPosition(p.value), p.gain);
        EXPECT_EQ(audioGainPosition(p.value), p.audio);
    }

    const struct {
        AnalogControls channel;
        std::uint8_t code;
    } codes[] = {
        {{true, 0, 0, 0}, 0x47},  // 8000 Hz, Mask, gain 1
        {{true, 7, 1, 7}, 0x38},  // 2 Hz, Panel, gain 20
        {{false, 2, 0, 3}, 0x5D}, // 1000 Hz, Mask, gain 6: on/off is not in the code
        {{true, 4, 1, 1}, 0x0B},
    };
    for (const auto& c : codes)
        EXPECT_EQ(channelCode(c.channel), c.code) << int(c.code);

    const struct {
        AudioControls audio;
        std::uint8_t byte0;
    } audio[] = {
        {{4, 0, 16, 32}, 0x34}, {{0, 8, 0, 0}, 0x08}, {{7, 8, 16, 32}, 0x3F}, {{1, 0, 0, 32}, 0x21}};
    for (const auto& a : audio) {
        const BoxControlBlock block = audioBlock(a.audio);
        EXPECT_EQ(block[0], a.byte0);
        EXPECT_TRUE(std::all_of(block.begin() + 1, block.end(), [](auto b) { return b == 0; }));
    }
}

TEST(BoxRecordingSettings, ElapsedTextHasNoLeadingZeros)
{
    const std::pair<double, const char*> cases[] = {
        {0.0, "Recording 0:0"},    {0.5, "Recording 0:0"},     {9.5, "Recording 0:9"},
        {59.99, "Recording 0:59"}, {60.0, "Recording 1:0"},    {65.0, "Recording 1:5"},
        {65.5, "Recording 1:5"},   {600.0, "Recording 10:0"},  {3725.0, "Recording 62:5"},
        {-3.0, "Recording 0:0"},   {std::nan(""), "Recording 0:0"},
    };
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(recordingTimeText(seconds), text) << seconds;
}

TEST(BoxRecordingSettings, EnabledEntriesAndTheirSlots)
{
    AppSettings settings;
    auto& table = settings.g_ChannelInfo;
    table[3].bOnOff = 0;
    EXPECT_EQ(enabledEntries(table, 5), (std::vector<int>{0, 1, 2, 4}));
    EXPECT_EQ(enabledEntries(table, 2), (std::vector<int>{0, 1}));
    EXPECT_EQ(enabledEntries(table, 16).size(), 12u); // 0..12 without 3: no slot past 15
    table[0].bOnOff = 0;
    EXPECT_EQ(enabledEntries(table, 2), (std::vector<int>{1}));

    std::array<std::uint8_t, kFrameBytes> frame{};
    const std::int16_t slots[16] = {1000, 2000, -3000, 4000, 0, -32768, 32767, 5, 0, 0, 0, 0,
                                    0,    0,    0,     16384};
    for (int s = 0; s < 16; ++s) {
        frame[static_cast<std::size_t>(2 * s)] = static_cast<std::uint8_t>(slots[s] & 0xFF);
        frame[static_cast<std::size_t>(2 * s + 1)] = static_cast<std::uint8_t>((slots[s] >> 8) & 0xFF);
    }
    EXPECT_FLOAT_EQ(entryValue(frame.data(), 0), 4000.0f / 4 / 32768.0f);
    EXPECT_FLOAT_EQ(entryValue(frame.data(), 2), -1.0f);
    EXPECT_FLOAT_EQ(entryValue(frame.data(), 4), 5.0f / 32768.0f);
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

// Writes a recording of `bytes` bytes as a run of process `pid` would have
// left it, with its info unless `info` is empty.
std::filesystem::path leaveRecording(const std::filesystem::path& folder, pid_t pid,
                                     std::size_t bytes, const std::string& info)
{
    const auto path = folder / ("$$001recordfile-" + std::to_string(pid) + "-0123abcd");
    std::ofstream(path, std::ios::binary) << std::string(bytes, '\x7');
    if (!info.empty())
        std::ofstream(path.string() + ".info") << info;
    return path;
}

TEST(RawRecordingFile, EachRecordingGetsItsOwnPrivateFileWithItsInfo)
{
    ScratchFolder folder;
    const RecordingInfo info = sampleInfo();
    RawRecordingFile a;
    RawRecordingFile b;
    std::string error;
    ASSERT_TRUE(a.create(folder.path, info, error)) << error;
    ASSERT_TRUE(b.create(folder.path, info, error)) << error;
    EXPECT_NE(a.path(), b.path());
    EXPECT_EQ(RawRecordingFile::ownerOf(a.path().filename().string()), ::getpid());
    struct stat st {};
    ASSERT_EQ(::stat(a.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    std::vector<std::uint8_t> block(65536);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_TRUE(a.append(block, error));
    ASSERT_TRUE(a.append(std::span(block).first(100), error)); // 3 frames and a part
    EXPECT_EQ(a.frames(), 2048u + 3u);
    a.close();
    EXPECT_FALSE(a.isOpen());
    auto bytes = fileBytes(a.path());
    ASSERT_EQ(bytes.size(), 65636u);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), bytes.begin()));

    RecordingInfo back;
    ASSERT_TRUE(RawRecordingFile::parseInfo(
        [&] {
            auto text = fileBytes(a.path().string() + ".info");
            return std::string(text.begin(), text.end());
        }(),
        back));
    EXPECT_EQ(back.systemChannels, 5);
    EXPECT_EQ(back.startedUnixSeconds, info.startedUnixSeconds);
    EXPECT_EQ(back.table, info.table);

    b.remove();
    EXPECT_FALSE(std::filesystem::exists(b.path().empty() ? folder.path / "none" : b.path()));
    EXPECT_EQ(folder.count(), 2u); // a and its info
}

TEST(RawRecordingFile, DamagedInfoTextsAreRefused)
{
    const std::string good = RawRecordingFile::infoText(sampleInfo());
    RecordingInfo info;
    ASSERT_TRUE(RawRecordingFile::parseInfo(good, info));
    auto without = [&](const std::string& line) {
        std::string text = good;
        text.erase(text.find(line), line.size() + 1);
        return text;
    };
    const std::string damaged[] = {
        "",
        good.substr(0, good.size() / 2),
        without("entry 16 1 11025 150 1 Mask"),
        without("channels 5"),
        without("started 1700000123"),
        good + "entry 3 1 22050 150 1 Mask\n", // twice
        "x" + good,
        std::string(good).replace(good.find("channels 5"), 10, "channels 0"),
        std::string(good).replace(good.find("entry 2 1"), 9, "entry 2 9"),
        std::string(good).replace(good.find("22050"), 5, "22x50"),
    };
    for (const std::string& text : damaged)
        EXPECT_FALSE(RawRecordingFile::parseInfo(text, info)) << text;
}

TEST(OrphanRecordings, OnlyRecordingsOfDeadUnlockedRunsWithAnInfoAreOffered)
{
    ScratchFolder folder;
    const std::string info = RawRecordingFile::infoText(sampleInfo());
    const pid_t dead = deadProcess();
    const auto orphan = leaveRecording(folder.path, dead, 5 * 32 + 7, info);
    const auto mine = leaveRecording(folder.path, ::getpid(), 64, info);
    const auto init = leaveRecording(folder.path, 1, 64, info); // alive, not ours
    std::filesystem::create_directory(folder.path / "other");
    const auto noInfo = folder.path / ("$$001recordfile-" + std::to_string(dead) + "-ff");
    std::ofstream(noInfo) << "data";
    const auto badInfo = folder.path / ("$$001recordfile-" + std::to_string(dead) + "-ee");
    std::ofstream(badInfo) << "data";
    std::ofstream(badInfo.string() + ".info") << "channels 9\n";

    auto found = findOrphanRecordings(folder.path);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].path, orphan);
    EXPECT_EQ(found[0].frames, 5u); // a partial trailing frame is not one
    EXPECT_EQ(found[0].info.systemChannels, 5);
    EXPECT_EQ(found[0].info.table[3].bOnOff, 0);

    // Held locked by a live process (this one, through another
    // descriptor): in use, not an orphan.
    {
        const int held = ::open(orphan.c_str(), O_RDONLY);
        ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
        EXPECT_TRUE(findOrphanRecordings(folder.path).empty());
        ::close(held);
    }
    ASSERT_EQ(findOrphanRecordings(folder.path).size(), 1u);

    // The launch clean-up of stale backups leaves every recording alone.
    EXPECT_EQ(EditSession::removeStaleBackups(folder.path), 0);
    for (const auto& path : {orphan, mine, init, noInfo, badInfo})
        EXPECT_TRUE(std::filesystem::exists(path)) << path;

    discardOrphanRecording(found[0]);
    EXPECT_FALSE(std::filesystem::exists(orphan));
    EXPECT_FALSE(std::filesystem::exists(orphan.string() + ".info"));
    EXPECT_TRUE(findOrphanRecordings(folder.path).empty());
    EXPECT_TRUE(std::filesystem::exists(noInfo)); // never removed silently
}

// --- the session against the simulated box --------------------------------------------

struct Ends final : BoxRecordSession::Listener {
    std::vector<End> ends;
    int blocks = 0;
    std::function<void()> onBlock;
    void blockArrived(std::span<const std::uint8_t> block) override
    {
        EXPECT_EQ(block.size(), 65536u);
        ++blocks;
        if (onBlock)
            onBlock();
    }
    void sessionEnded(End end) override { ends.push_back(end); }
};

struct SessionOnSimulatedBox : ::testing::Test {
    Clock::time_point clock{};
    usb::SimulatedBox sim{9, [this] { return clock; }};
    Recorder seen;
    std::shared_ptr<BoxConnection> box =
        BoxConnection::create(sim, seen.sink(), seen, [this] { return clock; });
    USB2Hardware hw{box};
    AppSettings settings;
    ScratchFolder folder;
    Ends listener;
    std::unique_ptr<BoxRecordSession> session;
    std::uint64_t streamStart = 0; // the frame of the stream's first block

    void SetUp() override
    {
        FirmwareImage image;
        FirmwareRecord record;
        record.Length = 1;
        image.records.push_back(record);
        FirmwareRecord end;
        end.Type = 1;
        image.records.push_back(end);
        box->setFirmware(image);
        sim.plug();
        hw.FindLoadDevice();
        run(milliseconds(30));
        ASSERT_TRUE(box->haveInterface());
        session = std::make_unique<BoxRecordSession>(hw, settings, folder.path, listener);
    }
    void run(milliseconds span)
    {
        for (auto end = clock + span; clock < end;) {
            clock += milliseconds(10);
            sim.handleEvents();
        }
    }
    void start()
    {
        std::string error;
        ASSERT_TRUE(session->start(audioControlsFrom(settings),
                                   analogControlsFrom(settings.g_ChannelInfo), error))
            << error;
        streamStart = sim.nextFrame();
    }
    void record()
    {
        std::string error;
        ASSERT_TRUE(session->record(error)) << error;
    }
    // The frame the next block starts at.
    std::uint64_t nextBlockFrame() const
    {
        return streamStart + static_cast<std::uint64_t>(listener.blocks) * kFramesPerBlock;
    }
};

TEST_F(SessionOnSimulatedBox, StartStopsTheBoxSendsTheThreeBlocksAtOnceThenSamples)
{
    settings.g_ChannelInfo[0].nGain = 400;
    settings.g_ChannelInfo[2].nFilterRate = 40;
    settings.g_ChannelInfo[3].setSource("Panel");
    settings.g_ChannelInfo[3].nGain = 15;
    settings.g_strInputSource = "Microphone";
    start();
    const auto& blocks = sim.controlBlocks();
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[0].index, 0);
    EXPECT_EQ(blocks[0].bytes[0], 3 | 0 | 16 | 32);
    EXPECT_EQ(blocks[1].index, 1);
    EXPECT_EQ(blocks[1].bytes[0], 0x40 | (7 - 4));
    EXPECT_EQ(blocks[1].bytes[1], 0x40 | (7 - 5));
    EXPECT_EQ(blocks[2].index, 2);
    EXPECT_EQ(blocks[2].bytes[0], 6 << 3 | (7 - 4)); // Panel, gain 15
    EXPECT_EQ(blocks[2].bytes[1], 0x40 | (7 - 4));
    const auto& all = sim.requests();
    const auto firstBlock = std::find(all.begin(), all.end(), 0xB6);
    ASSERT_NE(firstBlock, all.begin());
    EXPECT_EQ(*(firstBlock - 1), 0xB4); // the stop request first
    EXPECT_EQ(all.back(), 0xB2);        // sampling last
    EXPECT_EQ(session->state(), State::Scope);
    EXPECT_EQ(box->recordReceiver, session.get());
    run(milliseconds(500));
    EXPECT_EQ(listener.blocks, 5);
    EXPECT_TRUE(session->recordingPath().empty()); // scope mode writes nothing
    EXPECT_EQ(folder.count(), 0u);
}

TEST_F(SessionOnSimulatedBox, ChangesReachTheBoxAtOnceOrWithTheNextBlock)
{
    start();
    run(milliseconds(200));
    AudioControls audio{5, 8, 0, 0};
    std::array<AnalogControls, 4> analog{};
    analog[1] = {false, 3, 1, 2};
    analog[3] = {true, 6, 0, 7};
    const struct {
        bool audio;
        bool direct;
        std::vector<std::uint16_t> indices;
    } cases[] = {
        {true, true, {0}}, {true, false, {0}}, {false, true, {1, 2}}, {false, false, {1, 2}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.audio ? "audio" : "analog") + (c.direct ? " direct" : " deferred"));
        const std::size_t before = sim.controlBlocks().size();
        if (c.audio)
            session->setAudio(audio, c.direct);
        else
            session->setAnalog(analog, c.direct);
        EXPECT_EQ(sim.controlBlocks().size(), before + (c.direct ? c.indices.size() : 0));
        run(milliseconds(150)); // a block arrives
        ASSERT_EQ(sim.controlBlocks().size(), before + c.indices.size());
        for (std::size_t i = 0; i < c.indices.size(); ++i) {
            const auto& sent = sim.controlBlocks()[before + i];
            EXPECT_EQ(sent.index, c.indices[i]);
            const auto expected =
                c.audio ? audioBlock(audio)
                        : storeAnalogControls(analog, std::span<ChannelInfo>())[c.indices[i] - 1];
            EXPECT_EQ(sent.bytes, expected);
        }
    }
    // The working table holds the changes; the settings only after a save.
    EXPECT_EQ(session->info().table[0].nGain, 600);
    EXPECT_EQ(session->info().table[0].source(), "Panel");
    EXPECT_EQ(session->info().table[2].bOnOff, 0);
    EXPECT_EQ(session->info().table[2].nFilterRate, 300);
    EXPECT_EQ(session->info().table[4].nGain, 20);
    EXPECT_EQ(settings.g_strInputSource, "Line");
    EXPECT_EQ(settings.g_ChannelInfo[0].nGain, 200);
}

TEST_F(SessionOnSimulatedBox, ARecordingHoldsEveryStreamedFrameAndNothingAfterSave)
{
    start();
    run(milliseconds(300));
    const std::uint64_t first = nextBlockFrame();
    record();
    run(milliseconds(1000));
    const std::uint64_t frames = session->recordedFrames();
    EXPECT_EQ(frames, 10u * kFramesPerBlock);
    session->save();
    EXPECT_EQ(session->state(), State::Draining);
    session->animateRecordData(); // a block delivered while draining is not written
    EXPECT_EQ(session->recordedFrames(), frames);
    run(milliseconds(3000));
    ASSERT_EQ(listener.ends, std::vector<End>{End::Saved});
    EXPECT_EQ(session->state(), State::Idle);
    EXPECT_EQ(box->recordReceiver, nullptr);
    const auto bytes = fileBytes(session->recordingPath());
    ASSERT_EQ(bytes.size(), frames * kFrameBytes);
    EXPECT_EQ(firstMismatch(bytes, first), -1);
    EXPECT_DOUBLE_EQ(session->recordedSeconds(), static_cast<double>(frames) / 22050.0);

    session->discardRecording();
    EXPECT_EQ(folder.count(), 0u);
}

TEST_F(SessionOnSimulatedBox, ARecordingOfNoFramesIsSavedEmpty)
{
    start();
    record();
    session->save();
    run(milliseconds(3000));
    ASSERT_EQ(listener.ends, std::vector<End>{End::Saved});
    EXPECT_EQ(session->recordedFrames(), 0u);
    ASSERT_TRUE(std::filesystem::exists(session->recordingPath()));
    EXPECT_EQ(std::filesystem::file_size(session->recordingPath()), 0u);
}

TEST_F(SessionOnSimulatedBox, UnplugMidRecordingKeepsEverythingReceived)
{
    start();
    const std::uint64_t first = nextBlockFrame();
    record();
    run(milliseconds(2000));
    const int received = listener.blocks;
    sim.unplug();
    run(milliseconds(200));
    ASSERT_EQ(listener.ends, std::vector<End>{End::BoxGone});
    EXPECT_EQ(session->recordedFrames(), static_cast<std::uint64_t>(received) * kFramesPerBlock);
    EXPECT_NEAR(session->recordedSeconds(), 2.0, 0.1); // 2 s, to a block
    const auto bytes = fileBytes(session->recordingPath());
    EXPECT_EQ(bytes.size(), session->recordedFrames() * kFrameBytes);
    EXPECT_EQ(firstMismatch(bytes, first), -1);
}

TEST_F(SessionOnSimulatedBox, AFailedWriteStopsTheStreamAndKeepsWhatWasWritten)
{
    start();
    const std::uint64_t first = nextBlockFrame();
    record();
    // The file may grow by three blocks and a half frame.
    const rlim_t limit = 3 * 65536 + 16;
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = limit;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    run(milliseconds(600));
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(session->state(), State::Draining);
    run(milliseconds(3000));
    ASSERT_EQ(listener.ends, std::vector<End>{End::WriteFailed});
    EXPECT_EQ(listener.blocks, 4); // the block that failed is still shown
    EXPECT_EQ(session->recordedFrames(), 3u * kFramesPerBlock);
    const auto bytes = fileBytes(session->recordingPath());
    EXPECT_EQ(bytes.size(), limit);
    EXPECT_EQ(firstMismatch(bytes, first), -1);
    EXPECT_FALSE(box->sampling());
    EXPECT_TRUE(seen.printed("Cannot write \"" + session->recordingPath().string() +
                             "\": File too large\n"));
}

TEST_F(SessionOnSimulatedBox, AStopThatDoesNotEndInTimeEndsTheStreamAtOnce)
{
    const struct {
        bool save;
        End end;
        bool fileKept;
    } cases[] = {{true, End::StopTimeout, true}, {false, End::Cancelled, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.save);
        listener.ends.clear();
        start();
        record();
        run(milliseconds(500));
        session->setStopTimeout(milliseconds(2000));
        c.save ? session->save() : session->cancel();
        const auto path = session->recordingPath();
        // The box's reads never come back: its clock stands still.
        clock += milliseconds(1999);
        session->checkStopTimeout();
        EXPECT_TRUE(listener.ends.empty());
        clock += milliseconds(1);
        session->checkStopTimeout();
        ASSERT_EQ(listener.ends, std::vector<End>{c.end});
        EXPECT_EQ(session->state(), State::Idle);
        EXPECT_EQ(box->readsInFlight(), 0);
        EXPECT_EQ(sim.inFlight(2), 0u);
        EXPECT_EQ(box->recordReceiver, nullptr);
        if (c.fileKept)
            EXPECT_EQ(std::filesystem::file_size(path), 5u * 65536u);
        else
            EXPECT_TRUE(path.empty() || !std::filesystem::exists(path));
    }
}

TEST_F(SessionOnSimulatedBox, CancelRemovesTheRecordingAndTwoSessionsNeverShareAFile)
{
    start();
    record();
    run(milliseconds(300));
    const auto first = session->recordingPath();
    session->save();
    run(milliseconds(3000));
    ASSERT_EQ(listener.ends, std::vector<End>{End::Saved});

    // The first recording is not read yet: the next one gets a file of its own.
    Ends otherListener;
    BoxRecordSession other(hw, settings, folder.path, otherListener);
    std::string error;
    ASSERT_TRUE(other.start(audioControlsFrom(settings), analogControlsFrom(settings.g_ChannelInfo),
                            error));
    ASSERT_TRUE(other.record(error));
    run(milliseconds(200));
    EXPECT_NE(other.recordingPath(), first);
    EXPECT_TRUE(std::filesystem::exists(other.recordingPath()));
    other.cancel();
    run(milliseconds(3000));
    ASSERT_EQ(otherListener.ends, std::vector<End>{End::Cancelled});
    EXPECT_TRUE(other.recordingPath().empty());
    EXPECT_EQ(folder.count(), 2u); // the first recording and its info, untouched
    EXPECT_EQ(std::filesystem::file_size(first), 3u * 65536u);
}

TEST_F(SessionOnSimulatedBox, ClosingWhileStreamingEndsTheStreamAndKeepsTheRecording)
{
    start();
    record();
    run(milliseconds(400));
    const auto path = session->recordingPath();
    session.reset();
    EXPECT_EQ(box->recordReceiver, nullptr);
    EXPECT_EQ(box->readsInFlight(), 0);
    EXPECT_FALSE(box->sampling());
    EXPECT_EQ(std::filesystem::file_size(path), 4u * 65536u);
    EXPECT_TRUE(listener.ends.empty());

    // A new session streams with a full ring, never more.
    session = std::make_unique<BoxRecordSession>(hw, settings, folder.path, listener);
    start();
    EXPECT_EQ(sim.inFlight(2), 32u);
    run(milliseconds(200));
    EXPECT_EQ(box->readsInFlight(), 32);
}

TEST_F(SessionOnSimulatedBox, SavePatchesTheConfigurationAtItsOffsetsOrSkipsAMissingOne)
{
    settings.m_strConfigFolder = folder.path / "config";
    std::filesystem::create_directory(settings.m_strConfigFolder);
    settings.m_nRecordingTimeSeconds = 7;
    Configuration stored = applicationDefaults(settings);
    stored.putInt32(ConfigOffset::kRecordingTime, 42);
    std::string error;
    const auto storedBytes = stored.bytes();
    ASSERT_TRUE(writeFileAtomically(settings.configPath(),
                                    std::vector<std::uint8_t>(storedBytes.begin(), storedBytes.end()),
                                    error));

    for (const bool present : {true, false}) {
        SCOPED_TRACE(present);
        if (!present)
            std::filesystem::remove(settings.configPath());
        listener.ends.clear();
        start();
        session->setAudio({6, 8, 16, 32}, true);
        std::array<AnalogControls, 4> analog{};
        analog[0] = {false, 5, 1, 4};
        session->setAnalog(analog, false);
        record();
        run(milliseconds(200));
        session->save();
        run(milliseconds(3000));
        ASSERT_EQ(listener.ends, std::vector<End>{End::Saved});
        EXPECT_EQ(settings.g_ChannelInfo[0].nGain, 700);
        EXPECT_EQ(settings.g_ChannelInfo[0].source(), "Panel");
        EXPECT_EQ(settings.g_ChannelInfo[1].bOnOff, 0);
        EXPECT_EQ(settings.g_ChannelInfo[1].nFilterRate, 40);
        EXPECT_EQ(settings.g_ChannelInfo[1].nGain, 8);
        if (!present) {
            EXPECT_FALSE(std::filesystem::exists(settings.configPath()));
            continue;
        }
        const auto bytes = fileBytes(settings.configPath());
        ASSERT_EQ(bytes.size(), 2912u);
        auto int32At = [&](std::size_t at) {
            return static_cast<std::int32_t>(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
                                             bytes[at + 3] << 24);
        };
        auto textAt = [&](std::size_t at) { return std::string(reinterpret_cast<const char*>(&bytes[at])); };
        EXPECT_EQ(textAt(20), "Microphone");
        EXPECT_EQ(textAt(36), "Computer");
        EXPECT_EQ(int32At(72), 1);
        EXPECT_EQ(int32At(72 + 4), 0);
        EXPECT_EQ(int32At(140 + 4 * 16), 11025);
        EXPECT_EQ(int32At(208 + 4), 40);
        EXPECT_EQ(int32At(276), 700);
        EXPECT_EQ(int32At(276 + 4), 8);
        EXPECT_EQ(textAt(344), "Panel");
        EXPECT_EQ(textAt(344 + 16), "Panel");
        EXPECT_EQ(textAt(344 + 32), "Mask");
        EXPECT_EQ(int32At(16), 42); // the record time is not these settings'
        session->discardRecording();
        session = std::make_unique<BoxRecordSession>(hw, settings, folder.path, listener);
    }
}

} // namespace
} // namespace phonaxis::test
