#include "document/FileIO.h"
#include "NativeTestFiles.h"
#include "TestFiles.h"
#include "document/Configuration.h"
#include "document/MyDocument.h"
#include "document/RecordingSignature.h"
#include "support/FileProbes.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

void writeText(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

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

// A file of `size` bytes that costs no disk: all of it a hole of zeros.
bool makeSparseFile(const fs::path& path, off_t size)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const bool made = fd >= 0 && ::ftruncate(fd, size) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return made;
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

// Runs `body` as an unprivileged user: in a child process that gives up root
// when the tests run as root, in this process otherwise. The body's result,
// 0 for success; -1 when no unprivileged user could be had.
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

TEST_F(FileIO, ReplacementKeepsTheModeOfTheFileItReplaces)
{
    for (const mode_t mode : {0600, 0640, 0604, 0751}) {
        const fs::path target = path("kept.wav");
        writeText(target, "old");
        ASSERT_EQ(::chmod(target.c_str(), mode), 0);
        std::string error;
        ASSERT_TRUE(writeAtomically(target, "new", error)) << error;
        EXPECT_EQ(test::fileBytes(target), "new");
        EXPECT_EQ(modeOf(target) & 07777, mode) << std::oct << mode;
    }
    // A new file gets the usual permissions.
    for (const mode_t mask : {022, 077}) {
        const mode_t previous = ::umask(mask);
        std::string error;
        const bool written = writeAtomically(path("new.wav"), "new", error);
        ::umask(previous);
        ASSERT_TRUE(written) << error;
        EXPECT_EQ(modeOf(path("new.wav")) & 07777, 0666 & ~mask);
        fs::remove(path("new.wav"));
    }
    EXPECT_EQ(leftovers(), 0);
}

TEST_F(FileIO, ReplacementKeepsOwnerAndGroupWherePermitted)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only a privileged user may write a file another user owns";
    }
    const fs::path target = path("theirs.wav");
    writeText(target, "old");
    ASSERT_EQ(::chown(target.c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    std::string error;
    ASSERT_TRUE(writeAtomically(target, "new", error)) << error;
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kNobody);
    EXPECT_EQ(st.st_gid, kNobody);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(test::fileBytes(target), "new");
}

TEST_F(FileIO, AFileTheUserMayNotChangeIsNotReplaced)
{
    // The folder lets anyone rename into it: only the file's own permission
    // stands between the user and a replacement.
    ASSERT_EQ(::chmod(m_dir.c_str(), 0777), 0);
    struct Case {
        const char* name;
        mode_t mode;
        bool replaced;
    };
    static constexpr Case kCases[] = {
        {"protected.wav", 0444, false},
        {"open.wav", 0666, true},
    };
    for (const Case& c : kCases) {
        writeText(path(c.name), "old");
        ASSERT_EQ(::chmod(path(c.name).c_str(), c.mode), 0);
    }
    const int result = asUnprivilegedUser([&] {
        int failures = 0;
        for (const Case& c : kCases) {
            std::string error;
            const bool written = writeAtomically(path(c.name), "new", error);
            const bool asExpected =
                written == c.replaced &&
                test::fileBytes(path(c.name)) == (c.replaced ? "new" : "old") &&
                (modeOf(path(c.name)) & 07777) == c.mode &&
                (c.replaced || error.find("write-protected") != std::string::npos);
            failures += asExpected ? 0 : 1;
        }
        return failures;
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
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = path("socket.wav").string();
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(sock);
    // The device numbers of /dev/null; only root may make the node.
    const bool device = ::mknod(path("null.png").c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0;
    fs::create_symlink("pipe.wav", path("to-pipe.wav"));

    struct Case {
        const char* name;
        const char* kind;
        bool (*isStill)(mode_t);
    };
    const Case cases[] = {
        {"pipe.wav", "a pipe", [](mode_t m) { return S_ISFIFO(m); }},
        {"folder.wav", "a folder", [](mode_t m) { return S_ISDIR(m); }},
        {"socket.wav", "a socket", [](mode_t m) { return S_ISSOCK(m); }},
        {"null.png", "a device", [](mode_t m) { return S_ISCHR(m); }},
        {"to-pipe.wav", "a pipe", [](mode_t m) { return S_ISLNK(m); }},
    };
    for (const Case& c : cases) {
        if (!device && std::string(c.name) == "null.png") {
            continue;
        }
        std::string error;
        EXPECT_FALSE(writeAtomically(path(c.name), "new", error)) << c.name;
        EXPECT_NE(error.find(std::string(c.kind) + ", not a regular file"), std::string::npos)
            << error;
        EXPECT_TRUE(c.isStill(modeOf(path(c.name)))) << c.name;
    }
    EXPECT_TRUE(S_ISFIFO(modeOf(path("pipe.wav"))));
    EXPECT_EQ(leftovers(), 0);
}

TEST_F(FileIO, SymbolicLinksAreWrittenThroughToTheirFile)
{
    fs::create_directories(path("takes"));
    writeText(path("takes/take1.wav"), "old");
    ASSERT_EQ(::chmod(path("takes/take1.wav").c_str(), 0640), 0);
    fs::create_symlink("takes/take1.wav", path("latest.wav"));
    fs::create_symlink("latest.wav", path("chain.wav"));
    fs::create_symlink(path("takes/take1.wav"), path("absolute.wav"));

    for (const char* link : {"latest.wav", "chain.wav", "absolute.wav"}) {
        const fs::path before = fs::read_symlink(path(link));
        const std::string text = std::string("through ") + link;
        std::string error;
        ASSERT_TRUE(writeAtomically(path(link), text, error)) << error;
        EXPECT_TRUE(fs::is_symlink(path(link)));
        EXPECT_EQ(fs::read_symlink(path(link)), before);
        EXPECT_EQ(test::fileBytes(path("takes/take1.wav")), text);
        EXPECT_EQ(modeOf(path("takes/take1.wav")) & 07777, 0640u);
    }

    // A link to nothing is refused: which file it should make is a guess.
    fs::create_symlink("gone/take9.wav", path("dangling.wav"));
    std::string error;
    EXPECT_FALSE(writeAtomically(path("dangling.wav"), "new", error));
    EXPECT_NE(error.find("symbolic link to \"gone/take9.wav\", which does not exist"),
              std::string::npos)
        << error;
    EXPECT_TRUE(fs::is_symlink(path("dangling.wav")));
    EXPECT_FALSE(fs::exists(path("gone")));
    EXPECT_EQ(leftovers(), 0);
}

TEST_F(FileIO, NamesUpToTheLongestAFolderTakesAreWritten)
{
    for (const std::size_t length : {200u, 248u, 251u, 255u}) {
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
    constexpr off_t kFourGiB = off_t{4} << 30;
    ASSERT_TRUE(makeSparseFile(path("zeros.wav"), kFourGiB));
    ASSERT_TRUE(makeSparseFile(path("big.log"), (off_t{512} << 20) + 1));
    std::string binary = "Name\tDefinition\tComment\n";
    binary += std::string(1, '\0') + "x";
    writeText(path("binary.log"), binary);
    const std::string table = "Name\tDefinition\tComment\nin.wav\tF0\t\n";
    writeText(path("table.log"), table);

    struct Case {
        const char* name;
        const FileCheck& check;
        bool read;
        std::size_t bytes; // held after a read
        const char* declined;
    };
    const Case cases[] = {
        {"zeros.wav", kRecordingFile, false, 0, "is not a recording this application can read."},
        {"zeros.wav", kTextTableFile, false, 0, "is not a text table of at most 512 MB."},
        {"big.log", kTextTableFile, false, 0, "is not a text table"},
        {"binary.log", kTextTableFile, false, 0, "is not a text table"},
        {"table.log", kTextTableFile, true, table.size(), ""},
        // A configuration is read no further than its record.
        {"zeros.wav", kConfigurationFile, true, Configuration::kSize, ""},
    };
    for (const Case& c : cases) {
        const auto before = test::bytesReadSoFar();
        FileContents file;
        std::string error;
        EXPECT_EQ(file.open(path(c.name).string(), c.check, error), c.read) << c.name;
        EXPECT_EQ(file.declined(), !c.read) << c.name;
        EXPECT_EQ(file.bytes().size(), c.bytes) << c.name;
        EXPECT_NE(error.find(c.declined), std::string::npos) << error;
        if (const auto after = test::bytesReadSoFar(); before && after) {
            EXPECT_LT(*after - *before, std::uint64_t{1} << 20) << c.name;
        }
    }

    // A pipe named as a file is refused, not waited on.
    ASSERT_EQ(::mkfifo(path("pipe.wav").c_str(), 0644), 0);
    FileContents file;
    std::string error;
    EXPECT_FALSE(file.open(path("pipe.wav").string(), kRecordingFile, error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
}

TEST_F(FileIO, EveryFileAReaderAcceptsPassesTheSignatureTest)
{
    // The seed files of every format (valid and slightly damaged), and the
    // older headers the seeds lack.
    std::string error;
    ASSERT_TRUE(testfiles::writeSeedCorpus(m_dir.string(), error)) << error;
    ASSERT_TRUE(testfiles::writeNativeSeedCorpus(m_dir.string(), error)) << error;
    for (const auto kind :
         {testfiles::OldPmfKind::PcHeader10, testfiles::OldPmfKind::MacVersion20}) {
        testfiles::OldPmfLayout layout;
        layout.kind = kind;
        layout.slots[0] = {true, 1, "Audio", "Pa", "0", "0", "1", "0"};
        layout.audio = {1, 2, 3};
        const testfiles::FileBytes bytes = testfiles::makeOldPmf(layout);
        std::ofstream(path(kind == testfiles::OldPmfKind::PcHeader10 ? "pc10.pmf" : "mac20.pmf"),
                      std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }

    int accepted = 0;
    for (const auto& entry : fs::directory_iterator(m_dir)) {
        const std::string name = entry.path().filename().string();
        FileContents whole;
        ASSERT_TRUE(whole.open(entry.path().string(), error)) << error;
        test::ScriptedPrompts prompts;
        AppSettings settings;
        auto document = std::make_unique<MyDocument>(prompts, settings);
        const bool readable = document->readFromData(whole.bytes(), "");
        const bool signature = mayBeRecording(
            whole.bytes().first(std::min(whole.bytes().size(), kRecordingSignatureBytes)));
        // Every file a reader accepts, and the very old header its reader
        // names in a message, passes; so does the checked open.
        if (readable || name == "mac20.pmf") {
            ++accepted;
            EXPECT_TRUE(signature) << name;
            FileContents checked;
            EXPECT_TRUE(checked.open(entry.path().string(), kRecordingFile, error)) << error;
            EXPECT_EQ(checked.bytes().size(), whole.bytes().size()) << name;
        }
    }
    EXPECT_GE(accepted, 20);

    // Near misses of each signature are declined.
    const std::string misses[] = {
        "",
        std::string(16, '\0'),
        "KVQ_PCX",
        std::string("KVQ_PC_FLOAT2\0", 14),
        std::string("RIFF\0\0\0\0WAVX", 12),
        std::string("FORM\0\0\0\0AIFX", 12),
        std::string("RIFF\0\0\0\0AIFF", 12),
        std::string("\x50\x19\0\0\x0b\0\0\0", 8), // header size 6480, version 11
    };
    for (const std::string& miss : misses) {
        EXPECT_FALSE(mayBeRecording(
            std::span(reinterpret_cast<const std::uint8_t*>(miss.data()), miss.size())))
            << miss;
    }
}

} // namespace
} // namespace phonaxis
