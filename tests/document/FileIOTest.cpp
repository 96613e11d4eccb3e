#include "document/FileIO.h"
#include "NativeTestFiles.h"
#include "TestFiles.h"
#include "document/Configuration.h"
#include "document/MyDocument.h"
#include "document/RecordingSignature.h"
#include "support/BytesRead.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
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

void writeText(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
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
