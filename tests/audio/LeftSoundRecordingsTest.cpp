// Sound-card recordings a run left unsaved: which are offered, what they
// hold, and that nothing else in the temporary folder is touched.
#include "audio/FloatWav.h"
#include "audio/LeftSoundRecordings.h"
#include "document/FileIO.h"
#include "document/MyDocument.h"
#include "document/AutomaticPrompts.h"
#include "document/AppSettings.h"

#include "support/MemoryLimit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;

pid_t endedProcess()
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(0);
    }
    ::waitpid(pid, nullptr, 0);
    return pid;
}

// A recorder's file: its header says `declared` samples at `rate`, and it
// holds `held` samples 0, 1, 2, ….
fs::path writeRecording(const fs::path& path, std::uint32_t rate, std::uint64_t declared,
                        std::uint64_t held)
{
    const auto header = floatWavHeader(rate, declared);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(header.data()), std::streamsize(header.size()));
    for (std::uint64_t i = 0; i < held; ++i) {
        const float value = static_cast<float>(i) / 8192.0f;
        out.write(reinterpret_cast<const char*>(&value), sizeof value);
    }
    return path;
}

TEST(LeftSoundRecordings, RecordingsOfEndedRunsAreOfferedWithAllTheyHold)
{
    const char* tmp = std::getenv("TMPDIR");
    const fs::path folder =
        fs::path(tmp ? tmp : "/tmp") / ("left-sound-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directory(folder);
    fs::permissions(folder, fs::perms::owner_all);
    const std::string dead = std::to_string(endedProcess());
    const std::string alive = std::to_string(::getpid());

    // Cut off by a crash (the header says 0) and completed by a run whose
    // destination failed; both are offered, oldest first.
    const fs::path crashed = writeRecording(folder / ("recording-" + dead + "-3-17.wav"), 11025, 0, 3000);
    const fs::path kept = writeRecording(folder / ("recording-" + dead + "-4-9.wav"), 22050, 100, 100);
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
    fs::last_write_time(crashed, old);
    // Not offered: a live run's, an empty one (removed), one whose header is
    // not a recorder's, a folder, and names that are not the recorder's.
    const fs::path live = writeRecording(folder / ("recording-" + alive + "-1-1.wav"), 11025, 0, 50);
    const fs::path empty = writeRecording(folder / ("recording-" + dead + "-5-1.wav"), 11025, 0, 0);
    const fs::path foreign = folder / ("recording-" + dead + "-6-1.wav");
    std::ofstream(foreign) << std::string(400, 'x');
    // A recorder's header but for one field: fmt size, format, channels,
    // rate, bits, the data tag.
    const std::pair<std::size_t, std::uint8_t> changed[] = {{16, 16}, {20, 1},  {22, 2},
                                                            {24, 0},  {34, 16}, {40, 'D'}};
    std::vector<fs::path> almost;
    for (const auto& [at, value] : changed) {
        almost.push_back(writeRecording(
            folder / ("recording-" + dead + "-8-" + std::to_string(at) + ".wav"), 11025, 0, 50));
        std::fstream patch(almost.back(), std::ios::in | std::ios::out | std::ios::binary);
        patch.seekp(std::streamoff(at));
        patch.put(char(value));
        if (at == 24) // a rate of 0
            patch.write("\0\0\0", 3);
    }
    fs::create_directory(folder / ("recording-" + dead + "-7-1.wav"));
    const fs::path others[] = {
        writeRecording(folder / ("recording-" + dead + ".wav"), 11025, 0, 50),
        writeRecording(folder / ("recording-" + dead + "-1-x.wav"), 11025, 0, 50),
        writeRecording(folder / ("recording-0-1-1.wav"), 11025, 0, 50),
        writeRecording(folder / ("take-" + dead + "-1-1.wav"), 11025, 0, 50)};

    const auto found = findLeftSoundRecordings(folder);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].path, crashed);
    EXPECT_EQ(found[0].rateHz, 11025.0);
    EXPECT_EQ(found[0].samples, 3000u);
    EXPECT_EQ(found[1].path, kept);
    EXPECT_EQ(found[1].samples, 100u);
    EXPECT_FALSE(fs::exists(empty));
    for (const fs::path& path : {live, foreign}) {
        EXPECT_TRUE(fs::exists(path)) << path;
    }
    for (const fs::path& path : almost) {
        EXPECT_TRUE(fs::exists(path)) << path;
    }
    for (const fs::path& path : others) {
        EXPECT_TRUE(fs::exists(path)) << path;
    }

    // Read as a document: every sample the crashed file holds.
    TrackBuffer<std::uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(readLeftSoundRecording(found[0], bytes, error)) << error;
    AutomaticPrompts prompts(nullptr, "");
    AppSettings settings;
    MyDocument document(prompts, settings);
    ASSERT_EQ(document.Read_RecordedFile(ByteView(bytes.data(), bytes.size())), 1);
    const Channels& channel = document.getChannel(0);
    EXPECT_EQ(channel.m_dSampleRate, 11025.0);
    ASSERT_EQ(channel.samples().size(), 3000u);
    EXPECT_EQ(channel.samples()[2999], 2999.0f / 8192.0f);

    // Beyond what a memory limit leaves (the recording's 12 KB twice),
    // refused rather than read into a process the system would kill.
    const MemorySources small = test::memoryLimitedTo(folder / "sys", 20000);
    EXPECT_FALSE(readLeftSoundRecording(found[0], bytes, error, small));
    EXPECT_NE(error.find("not enough memory"), std::string::npos) << error;
    EXPECT_TRUE(fs::exists(crashed));

        // Held by a live process: neither offered, read nor removed.
    const int held = ::open(crashed.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(findLeftSoundRecordings(folder).size(), 1u);
    EXPECT_FALSE(readLeftSoundRecording(found[0], bytes, error));
    discardLeftSoundRecording(found[0]);
    EXPECT_TRUE(fs::exists(crashed));
    ::close(held);

    discardLeftSoundRecording(found[0]);
    discardLeftSoundRecording(found[1]);
    EXPECT_TRUE(findLeftSoundRecordings(folder).empty());
    EXPECT_TRUE(fs::exists(live));
    fs::remove_all(folder);
}

// A destination is refused before long work when its disk has no room.
TEST(LeftSoundRecordings, DestinationWithoutRoomIsRefusedBeforehand)
{
    const char* tmp = std::getenv("TMPDIR");
    const std::string path =
        (fs::path(tmp ? tmp : "/tmp") / ("room-" + std::to_string(::getpid()) + ".wav")).string();
    std::string error;
    EXPECT_TRUE(checkWritable(path, 4096, error)) << error;
    EXPECT_FALSE(checkWritable(path, std::uint64_t{1} << 62, error));
    EXPECT_NE(error.find("MB free"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(path));
    // The probe leaves nothing in the folder.
    for (const auto& entry : fs::directory_iterator(fs::path(path).parent_path())) {
        EXPECT_FALSE(entry.path().filename().string().starts_with(".phonaxis-")) << entry.path();
    }
}

} // namespace
} // namespace phonaxis
