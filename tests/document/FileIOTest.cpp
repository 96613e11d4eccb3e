#include "document/FileIO.h"
#include "NativeTestFiles.h"
#include "TestFiles.h"
#include "document/Configuration.h"
#include "document/MyDocument.h"
#include "document/NativeFormat.h"
#include "support/ChannelFixtures.h"
#include "document/RecordingSignature.h"
#include "support/FileProbes.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

bool writeAtomically(const fs::path& path, const std::string& text, std::string& error)
{
    return writeFileAtomically(
        path.string(), std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
        error);
}

mode_t modeOf(const fs::path& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

class FileIO : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    fs::path path(const std::string& name) const { return m_dir / name; }

    // `name` holding "old" with permissions `mode`.
    fs::path oldFile(const std::string& name, mode_t mode) const
    {
        std::ofstream(path(name), std::ios::binary) << "old";
        EXPECT_EQ(::chmod(path(name).c_str(), mode), 0);
        return path(name);
    }

    // Temporary files a writer left behind in the test's folder.
    int leftovers() const
    {
        int count = 0;
        for (const auto& entry : fs::recursive_directory_iterator(m_dir)) {
            count += entry.path().filename().string().starts_with(".phonaxis-") ? 1 : 0;
        }
        return count;
    }

    fs::path m_dir = fs::temp_directory_path() /
                     ("phonaxis-fileio-" +
                      std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
};

// `body`'s result (0: success) run as an unprivileged user (a child giving up
// root when the tests run as root); -1 when none could be had.
int asUnprivilegedUser(const std::function<int()>& body)
{
    if (::geteuid() != 0) {
        return body();
    }
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
            ::_exit(255);
        }
        ::_exit(body());
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) == 255) {
        return -1;
    }
    return WEXITSTATUS(status);
}

TEST_F(FileIO, ReplacementKeepsModeOwnerAndGroupOfTheFileItReplaces)
{
    std::string error;
    for (const mode_t mode : {0600, 0640, 0604, 0751}) {
        const fs::path target = oldFile("kept.wav", mode);
        ASSERT_TRUE(writeAtomically(target, "new", error)) << error;
        EXPECT_EQ(test::fileBytes(target), "new");
        EXPECT_EQ(modeOf(target) & 07777, mode) << std::oct << mode;
    }
    if (::geteuid() == 0) { // only a privileged user may write a file another user owns
        const fs::path target = oldFile("theirs.wav", 0640);
        ASSERT_EQ(::chown(target.c_str(), kNobody, kNobody), 0);
        ASSERT_TRUE(writeAtomically(target, "new", error)) << error;
        struct stat st {};
        ASSERT_EQ(::stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, kNobody);
        EXPECT_EQ(st.st_gid, kNobody);
    }
    // A new file gets the usual permissions, not a temporary file's 0600.
    const mode_t previous = ::umask(022);
    const bool written = writeAtomically(path("new.wav"), "new", error);
    ::umask(previous);
    ASSERT_TRUE(written) << error;
    EXPECT_EQ(modeOf(path("new.wav")) & 07777, 0644u);
    EXPECT_EQ(leftovers(), 0);
}

// The set-group-id and sticky bits are the file's too: a replacement by its
// owner keeps them.
TEST_F(FileIO, ReplacementKeepsSetIdAndStickyBits)
{
    for (const mode_t mode : {02755, 01644}) {
        const fs::path target = oldFile("special.wav", mode);
        if ((modeOf(target) & 07777) != mode) {
            GTEST_SKIP() << "the file system does not set mode " << std::oct << mode;
        }
        std::string error;
        ASSERT_TRUE(writeAtomically(target, "new", error)) << error;
        EXPECT_EQ(test::fileBytes(target), "new");
        EXPECT_EQ(modeOf(target) & 07777, mode) << std::oct << mode;
    }
    EXPECT_EQ(leftovers(), 0);
}

// A user who may write a file but not give the replacement its owner
// replaces it with a file of their own, without the owner's set-id bits.
TEST_F(FileIO, AReplacementOfAnotherUsersFileDropsItsSetIdBits)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs a file of another user, made as root";
    }
    ASSERT_EQ(::chmod(m_dir.c_str(), 0777), 0);
    const fs::path target = oldFile("shared.wav", 06666);
    // Root's file in the replacing user's own group: the group and its
    // set-group-id bit are kept.
    const fs::path grouped = oldFile("grouped.wav", 06666);
    ASSERT_EQ(::chown(grouped.c_str(), 0, kNobody), 0);
    ASSERT_EQ(::chmod(grouped.c_str(), 06666), 0);
    const int result = asUnprivilegedUser([&] {
        std::string error;
        return writeAtomically(target, "new", error) && writeAtomically(grouped, "new", error)
                   ? 0
                   : 1;
    });
    if (result < 0) {
        GTEST_SKIP() << "no unprivileged user to run as";
    }
    ASSERT_EQ(result, 0);
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kNobody);
    EXPECT_EQ(st.st_mode & 07777, 0666u);
    EXPECT_EQ(test::fileBytes(target), "new");
    ASSERT_EQ(::stat(grouped.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kNobody);
    EXPECT_EQ(st.st_gid, kNobody);
    EXPECT_EQ(st.st_mode & 07777, 02666u);
}

TEST_F(FileIO, AFileTheUserMayNotChangeIsNotReplaced)
{
    // Anyone may rename into the folder: only the file's mode protects it.
    ASSERT_EQ(::chmod(m_dir.c_str(), 0777), 0);
    oldFile("protected.wav", 0444);
    oldFile("open.wav", 0666);
    const int result = asUnprivilegedUser([&] {
        std::string error;
        const bool refused = !writeAtomically(path("protected.wav"), "new", error) &&
                             error.find("write-protected") != std::string::npos &&
                             test::fileBytes(path("protected.wav")) == "old" &&
                             (modeOf(path("protected.wav")) & 07777) == 0444;
        const bool replaced = writeAtomically(path("open.wav"), "new", error) &&
                              test::fileBytes(path("open.wav")) == "new";
        return refused && replaced ? 0 : 1;
    });
    if (result < 0) {
        GTEST_SKIP() << "no unprivileged user to run as";
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(leftovers(), 0);
}

TEST_F(FileIO, TargetsThatAreNotRegularFilesAreRefused)
{
    ASSERT_EQ(::mkfifo(path("pipe.wav").c_str(), 0644), 0);
    fs::create_directory(path("folder.wav"));
    fs::create_symlink("pipe.wav", path("to-pipe.wav"));
    // The device numbers of /dev/null; only root may make the node.
    const bool device = ::mknod(path("null.png").c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0;
    const std::pair<const char*, const char*> cases[] = {
        {"pipe.wav", "a pipe"},
        {"folder.wav", "a folder"},
        {"to-pipe.wav", "a pipe"},
        {"null.png", "a device"},
    };
    for (const auto& [name, kind] : cases) {
        if (!device && std::string(name) == "null.png") {
            continue;
        }
        const mode_t before = modeOf(path(name));
        std::string error;
        EXPECT_FALSE(writeAtomically(path(name), "new", error)) << name;
        EXPECT_NE(error.find(std::string(kind) + ", not a regular file"), std::string::npos)
            << error;
        EXPECT_EQ(modeOf(path(name)), before) << name;
    }
    EXPECT_TRUE(S_ISFIFO(modeOf(path("pipe.wav"))));
    EXPECT_EQ(leftovers(), 0);
}

TEST_F(FileIO, SymbolicLinksAreWrittenThroughToTheirFile)
{
    fs::create_directories(path("takes"));
    const fs::path take = oldFile("takes/take1.wav", 0640);
    fs::create_symlink("takes/take1.wav", path("latest.wav"));
    fs::create_symlink("latest.wav", path("chain.wav"));
    fs::create_symlink(take, path("absolute.wav"));
    for (const char* link : {"latest.wav", "chain.wav", "absolute.wav"}) {
        const fs::path before = fs::read_symlink(path(link));
        std::string error;
        ASSERT_TRUE(writeAtomically(path(link), link, error)) << error;
        EXPECT_EQ(fs::read_symlink(path(link)), before);
        EXPECT_EQ(test::fileBytes(take), link);
        EXPECT_EQ(modeOf(take) & 07777, 0640u);
    }

    // A link to nothing is refused: which file it should make is a guess.
    fs::create_symlink("gone/take9.wav", path("dangling.wav"));
    std::string error;
    EXPECT_FALSE(writeAtomically(path("dangling.wav"), "new", error));
    EXPECT_NE(error.find("symbolic link to \"gone/take9.wav\", which does not exist"),
              std::string::npos)
        << error;
    EXPECT_TRUE(fs::is_symlink(path("dangling.wav")));

    // A link of another user's in a folder that is not theirs (as one planted
    // in /tmp) is not followed, whatever the system's own link policy.
    if (::geteuid() == 0) {
        fs::create_symlink(take, path("planted.wav"));
        ASSERT_EQ(::lchown(path("planted.wav").c_str(), kNobody, kNobody), 0);
        EXPECT_FALSE(writeAtomically(path("planted.wav"), "planted", error));
        EXPECT_NE(error.find("belongs to another user"), std::string::npos) << error;
        EXPECT_EQ(test::fileBytes(take), "absolute.wav");
    }
    EXPECT_EQ(leftovers(), 0);
}

// The file checked when the writer opened must be the one replaced, and a
// new file must still be new: a file put under the name meanwhile is left
// as it is.
TEST_F(FileIO, AFileSwappedOrPlantedWhileWritingIsNotReplaced)
{
    const fs::path target = oldFile("take.wav", 0644);
    AtomicFileWriter writer;
    std::string error;
    ASSERT_TRUE(writer.open(target.string(), error)) << error;
    const std::string text = "new take";
    ASSERT_TRUE(
        writer.write({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, error));
    fs::rename(target, path("aside.wav")); // kept, so its inode is not reused
    oldFile("take.wav", 0644);
    const std::string swapped = test::fileBytes(target);
    EXPECT_FALSE(writer.commit(error));
    EXPECT_NE(error.find("replaced by another"), std::string::npos) << error;
    EXPECT_EQ(test::fileBytes(target), swapped);

    // A new file's name taken by another file meanwhile: that file is kept.
    const fs::path fresh = path("fresh.wav");
    ASSERT_TRUE(writer.open(fresh.string(), error)) << error;
    ASSERT_TRUE(
        writer.write({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, error));
    std::ofstream(fresh, std::ios::binary) << "planted";
    EXPECT_FALSE(writer.commit(error));
    EXPECT_NE(error.find("appeared while it was written"), std::string::npos) << error;
    EXPECT_EQ(test::fileBytes(fresh), "planted");
    EXPECT_EQ(leftovers(), 0);
}

// A file-size limit of `bytes` on this process while in scope. The signal a
// write past it would raise is ignored, so the write fails with EFBIG as on
// a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_handler = ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        ::signal(SIGXFSZ, m_handler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_saved{};
    sighandler_t m_handler = SIG_DFL;
};

// A write the disk refuses part-way fails and leaves the file it was to
// replace as it was, with no temporary file behind.
TEST_F(FileIO, AWriteTheDiskRefusesLeavesTheOldFile)
{
    test::ScriptedPrompts prompts;
    AppSettings settings;
    MyDocument document(prompts, settings);
    test::loadChannel(document.getChannel(0), std::vector<float>(20000, 0.5f), 10000.0);
    document.m_nNumofChannels = 1;
    document.m_bHaveData = true;
    const std::string text(80000, 'x');
    using Write = std::function<bool(const fs::path&, std::string&)>;
    const std::pair<const char*, Write> writers[] = {
        {"whole file", [&](const fs::path& p, std::string& e) { return writeAtomically(p, text, e); }},
        {"native file",
         [&](const fs::path& p, std::string& e) {
             return writeNativeFile(document, false, false, p.string(), e);
         }},
    };
    for (const auto& [name, write] : writers) {
        SCOPED_TRACE(name);
        const fs::path target = oldFile("take.pmf", 0644);
        std::string error;
        bool written = true;
        {
            const FileSizeLimit limit(16384);
            written = write(target, error);
        }
        EXPECT_FALSE(written);
        EXPECT_NE(error.find(std::strerror(EFBIG)), std::string::npos) << error;
        EXPECT_EQ(test::fileBytes(target), "old");
        EXPECT_EQ(leftovers(), 0);
    }
}

TEST_F(FileIO, NamesUpToTheLongestAFolderTakesAreWritten)
{
    for (const std::size_t length : {248u, 255u}) {
        const fs::path target = path(std::string(length - 4, 'n') + ".wav");
        for (const char* text : {"first", "second"}) {
            std::string error;
            ASSERT_TRUE(writeAtomically(target, text, error)) << length << ": " << error;
            EXPECT_EQ(test::fileBytes(target), text);
        }
    }
    EXPECT_EQ(leftovers(), 0);
}

TEST_F(FileIO, ChecksDeclineAFileBeforeReadingIt)
{
    ASSERT_TRUE(test::makeSparseFile(path("zeros.wav"), off_t{4} << 30));
    ASSERT_TRUE(test::makeSparseFile(path("big.log"), (off_t{512} << 20) + 1));
    const std::string table = "Name\tDefinition\tComment\nin.wav\tF0\t\n";
    std::ofstream(path("binary.log"), std::ios::binary) << table << '\0';
    std::ofstream(path("table.log"), std::ios::binary) << table;
    ASSERT_EQ(::mkfifo(path("pipe.wav").c_str(), 0644), 0); // refused, not waited on

    // A file of exactly the largest size is read.
    const FileCheck upToTable{.kind = "a short table", .largestSize = table.size()};
    const FileCheck belowTable{.kind = "a short table", .largestSize = table.size() - 1};
    struct Case {
        const char* name;
        const FileCheck& check;
        std::size_t bytes; // held after a read; 0: declined
        const char* declined;
    };
    const Case cases[] = {
        {"zeros.wav", kRecordingFile, 0, "is not a recording this application can read."},
        {"zeros.wav", kTextTableFile, 0, "is not a text table of at most 512 MB."},
        {"big.log", kTextTableFile, 0, "is not a text table"},
        {"binary.log", kTextTableFile, 0, "is not a text table"},
        {"pipe.wav", kRecordingFile, 0, "not a regular file"},
        {"table.log", kTextTableFile, table.size(), ""},
        {"table.log", upToTable, table.size(), ""},
        {"table.log", belowTable, 0, "is not a short table."},
        // A configuration is read no further than its record.
        {"zeros.wav", kConfigurationFile, Configuration::kSize, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FileContents file;
        std::string error;
        EXPECT_TRUE(test::readsLittle([&] {
            EXPECT_EQ(file.open(path(c.name).string(), c.check, error), c.bytes > 0);
        }));
        EXPECT_EQ(file.bytes().size(), c.bytes);
        EXPECT_EQ(file.declined(), c.bytes == 0 && std::string(c.name) != "pipe.wav");
        EXPECT_NE(error.find(c.declined), std::string::npos) << error;
    }
}

TEST_F(FileIO, EveryFileAReaderAcceptsPassesTheSignatureCheck)
{
    // The seed files of every format, and the older headers the seeds lack.
    std::string error;
    ASSERT_TRUE(testfiles::writeSeedCorpus(m_dir.string(), error)) << error;
    ASSERT_TRUE(testfiles::writeNativeSeedCorpus(m_dir.string(), error)) << error;
    using testfiles::OldPmfKind;
    for (const auto& [kind, name] : {std::pair{OldPmfKind::PcHeader10, "pc10.pmf"},
                                     std::pair{OldPmfKind::MacVersion20, "mac20.pmf"}}) {
        testfiles::OldPmfLayout layout;
        layout.kind = kind;
        layout.slots[0] = {true, 1, "Audio", "Pa", "0", "0", "1", "0"};
        layout.audio = {1, 2, 3};
        const testfiles::FileBytes bytes = testfiles::makeOldPmf(layout);
        std::ofstream(path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }

    int accepted = 0;
    for (const auto& entry : fs::directory_iterator(m_dir)) {
        const std::string name = entry.path().filename().string();
        FileContents whole;
        ASSERT_TRUE(whole.open(entry.path().string(), error)) << error;
        test::ScriptedPrompts prompts;
        AppSettings settings;
        auto document = std::make_unique<MyDocument>(prompts, settings);
        // Every file a reader accepts (or names in a message) passes the check.
        if (document->readFromData(whole.bytes(), "") || name == "mac20.pmf") {
            ++accepted;
            FileContents checked;
            EXPECT_TRUE(checked.open(entry.path().string(), kRecordingFile, error)) << error;
            EXPECT_EQ(checked.bytes().size(), whole.bytes().size()) << name;
        }
    }
    EXPECT_GE(accepted, 20);
}

} // namespace
} // namespace phonaxis
