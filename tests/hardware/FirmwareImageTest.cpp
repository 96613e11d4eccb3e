#include "hardware/FirmwareImage.h"

#include "hardware/BoxOptions.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <unistd.h>

namespace phonaxis {
namespace {

// One Intel HEX record line (no line end) with its checksum.
std::string record(std::uint8_t type, std::uint16_t address, std::vector<std::uint8_t> data)
{
    std::vector<std::uint8_t> bytes = {static_cast<std::uint8_t>(data.size()),
                                       static_cast<std::uint8_t>(address >> 8),
                                       static_cast<std::uint8_t>(address), type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    const auto sum = std::accumulate(bytes.begin(), bytes.end(), 0u);
    bytes.push_back(static_cast<std::uint8_t>(-sum));
    std::string line = ":";
    char hex[3];
    for (const std::uint8_t b : bytes) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        line += hex;
    }
    return line;
}

const std::string kEnd = ":00000001FF";

FirmwareImage imageOf(std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> data)
{
    FirmwareImage image;
    for (const auto& [address, bytes] : data) {
        FirmwareRecord r;
        r.Length = static_cast<std::uint32_t>(bytes.size());
        r.Address = address;
        std::copy(bytes.begin(), bytes.end(), r.Data.begin());
        image.records.push_back(r);
    }
    FirmwareRecord end;
    end.Type = 1;
    image.records.push_back(end);
    return image;
}

TEST(FirmwareImage, WrittenAsHexReadsBackToTheSameRecordsInFileOrder)
{
    const FirmwareImage image = imageOf({{0x0D90, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
                                         {0x0000, std::vector<std::uint8_t>(16, 0xA5)},
                                         {0x0100, {}},
                                         {0x3FF0, std::vector<std::uint8_t>(16, 0xFF)}});
    const std::string text = image.toHex();
    EXPECT_EQ(text.substr(0, text.find('\n')), record(0, 0x0D90, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(text.substr(text.size() - 12), kEnd + "\n");
    std::string error;
    const auto back = FirmwareImage::parseHex(text, error);
    ASSERT_TRUE(back) << error;
    ASSERT_EQ(back->records.size(), image.records.size());
    for (std::size_t i = 0; i < image.records.size(); ++i) {
        EXPECT_EQ(back->records[i].Length, image.records[i].Length) << i;
        EXPECT_EQ(back->records[i].Address, image.records[i].Address) << i;
        EXPECT_EQ(back->records[i].Type, image.records[i].Type) << i;
        EXPECT_EQ(back->records[i].Data, image.records[i].Data) << i;
    }
    EXPECT_EQ(back->dataBytes(), 42u);
}

TEST(FirmwareImage, ARecordLineHasItsKnownBytes)
{
    // The classic example record: 16 bytes at 0x0100 with checksum 0x40.
    const FirmwareImage image = imageOf({{0x0100,
                                          {0x21, 0x46, 0x01, 0x36, 0x01, 0x21, 0x47, 0x01, 0x36,
                                           0x00, 0x7E, 0xFE, 0x09, 0xD2, 0x19, 0x01}}});
    EXPECT_EQ(image.toHex(), ":10010000214601360121470136007EFE09D2190140\n" + kEnd + "\n");
}

TEST(FirmwareImage, CrLfLinesLowerCaseDigitsAndIgnoredRecordsRead)
{
    const std::string text = record(4, 0, {0, 0}) + "\r\n" + record(2, 0, {0, 0}) + "\r\n" +
                             ":0300100001020fdb\r\n" + record(5, 0, {0, 0, 0x12, 0x34}) + "\r\n" +
                             record(3, 0, {0, 0, 0, 0}) + "\r\n\r\n" + kEnd + "\r\n";
    std::string error;
    const auto image = FirmwareImage::parseHex(text, error);
    ASSERT_TRUE(image) << error;
    ASSERT_EQ(image->records.size(), 2u);
    EXPECT_EQ(image->records[0].Address, 0x10u);
    EXPECT_EQ(image->records[0].Length, 3u);
    EXPECT_EQ(image->records[0].Data[2], 0x0F);
    EXPECT_EQ(image->records[1].Type, 1u);
}

TEST(FirmwareImage, NothingAfterTheEndRecordCounts)
{
    const std::string text = record(0, 0x20, {7}) + "\n" + kEnd + "\n" + record(0, 0x30, {8}) +
                             "\nthis is not hex\n\x01\x02";
    std::string error;
    const auto image = FirmwareImage::parseHex(text, error);
    ASSERT_TRUE(image) << error;
    ASSERT_EQ(image->records.size(), 2u);
    EXPECT_EQ(image->records[0].Address, 0x20u);
    EXPECT_EQ(image->dataBytes(), 1u);
    // Without its line end the end record still ends the image.
    EXPECT_TRUE(FirmwareImage::parseHex(record(0, 0, {1}) + "\n" + kEnd, error));
}

TEST(FirmwareImage, DamagedTextIsRefusedNamingTheLine)
{
    const std::string good = record(0, 0x40, {1, 2, 3}) + "\n";
    std::string badSum = record(0, 0x50, {1, 2});
    badSum.back() = badSum.back() == '0' ? '1' : '0';
    const struct {
        const char* what;
        std::string text;
        const char* expected; // in the message
    } cases[] = {
        {"bad checksum", good + badSum + "\n" + kEnd, "line 2: its checksum is wrong"},
        {"17 data bytes", good + record(0, 0, std::vector<std::uint8_t>(17, 1)) + "\n" + kEnd,
         "line 2: a data record holds 17 bytes"},
        {"past 0xFFFF", record(0, 0xFFF8, std::vector<std::uint8_t>(9, 1)) + "\n" + kEnd,
         "line 1: its data runs past address 0xFFFF"},
        {"non-zero linear base", good + good + record(4, 0, {0, 1}) + "\n" + kEnd,
         "line 3: it moves the base address"},
        {"non-zero segment base", record(2, 0, {0x10, 0}) + "\n" + kEnd,
         "line 1: it moves the base address"},
        {"no end record", good + good, "ends at line 2 without an end record"},
        {"truncated record", good + good.substr(0, 11) + "\n" + kEnd,
         "line 2: its length does not match"},
        {"stray character", good + record(0, 0, {1}) + " \n" + kEnd,
         "line 2: it holds a character that is not a hexadecimal digit"},
        {"odd digits", good + record(0, 0, {1}) + "0\n" + kEnd, "line 2: it holds an odd number"},
        {"no colon", "10" + good + kEnd, "line 1: a record must start with"},
        {"lone CR inside", record(0, 0, {1}) + "\r\r\n" + kEnd, "line 1: it holds a character"},
        {"unknown type", record(6, 0, {}) + "\n" + kEnd, "line 1: its record type 6"},
        {"end with data", record(1, 0, {1}) + "\n", "line 1: the end record holds data"},
        {"short base record", record(4, 0, {0}) + "\n" + kEnd,
         "line 1: an extended address record must hold 2 bytes"},
        {"too short", ":00000001\n" + kEnd, "line 1: the record is too short"},
        {"empty", "", "The firmware image is empty."},
        {"blank lines only", "\n\r\n", "The firmware image is empty."},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(FirmwareImage::parseHex(c.text, error)) << c.what;
        EXPECT_NE(error.find(c.expected), std::string::npos) << c.what << ": " << error;
    }
}

TEST(FirmwareImage, RecordsTheLoaderCannotTakeAreRefusedNamingTheLine)
{
    const std::string good = record(0, 0x0040, {1, 2, 3}) + "\n";
    const struct {
        const char* what;
        std::string text;
        const char* expected; // in the message; null: the image is read
    } cases[] = {
        {"last RAM bytes", good + record(0, 0x3FF0, std::vector<std::uint8_t>(16, 1)) + "\n" + kEnd,
         nullptr},
        {"at 0x8000", good + record(0, 0x8000, {1}) + "\n" + kEnd,
         "line 2: its data at 0x8000 lies beyond the controller's RAM"},
        {"across the RAM's end", record(0, 0x3FF8, std::vector<std::uint8_t>(9, 1)) + "\n" + kEnd,
         "line 1: its data at 0x3FF8 lies beyond"},
        {"at 0x4000", good + good + record(0, 0x4000, {1}) + "\n" + kEnd, "line 3: its data at 0x4000"},
        {"the CPU control register", good + record(0, 0xE600, {0}) + "\n" + kEnd,
         "line 2: it writes the CPU control register at 0xE600"},
        {"a record over 0xE600", record(0, 0xE5F8, std::vector<std::uint8_t>(16, 0)) + "\n" + kEnd,
         "line 1: it writes the CPU control register"},
        {"only the end record", kEnd + "\n", "line 1: the image ends before any data"},
        {"base records and the end", record(4, 0, {0, 0}) + "\n" + kEnd,
         "line 2: the image ends before any data"},
        {"empty data records", record(0, 0x10, {}) + "\n" + kEnd, "line 2: the image ends before"},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto image = FirmwareImage::parseHex(c.text, error);
        if (c.expected == nullptr) {
            EXPECT_TRUE(image) << c.what << ": " << error;
            continue;
        }
        EXPECT_FALSE(image) << c.what;
        EXPECT_NE(error.find(c.expected), std::string::npos) << c.what << ": " << error;
    }
}

class FirmwareFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = std::filesystem::temp_directory_path() /
                ("phonaxis-firmware-" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::string write(const std::string& name, const std::string& text) const
    {
        const std::string path = (m_dir / name).string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    std::filesystem::path m_dir;
};

TEST_F(FirmwareFile, ReadsAnImageAndNamesTheFileOfEveryFailure)
{
    std::string error;
    const std::string good = write("good.hex", record(0, 0x10, {1, 2}) + "\n" + kEnd + "\n");
    const auto image = FirmwareImage::readHexFile(good, error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(image->dataBytes(), 2u);

    const std::string missing = (m_dir / "missing.hex").string();
    EXPECT_FALSE(FirmwareImage::readHexFile(missing, error));
    EXPECT_EQ(error.rfind("The firmware image \"" + missing + "\" could not be read: ", 0), 0u)
        << error;

    EXPECT_FALSE(FirmwareImage::readHexFile(m_dir.string(), error));
    EXPECT_NE(error.find("could not be read: it is not a regular file"), std::string::npos);

    const std::string damaged = write("damaged.hex", record(0, 0x10, {1, 2}) + "\n");
    EXPECT_FALSE(FirmwareImage::readHexFile(damaged, error));
    EXPECT_NE(error.find("\"" + damaged + "\" ends at line 1 without an end record"),
              std::string::npos)
        << error;

    // A huge file is declined by its size, unread.
    const std::string huge = write("huge.hex", std::string(5 << 20, '0'));
    EXPECT_FALSE(FirmwareImage::readHexFile(huge, error));
    EXPECT_NE(error.find("far too large for an image"), std::string::npos) << error;
}

// The image made at build time is found beside a program in its build
// folder, and where the package installs it beside an installed program.
TEST_F(FirmwareFile, TheBuiltImageIsFoundInTheBuildAndTheInstalledLayout)
{
    std::filesystem::create_directories(m_dir / "build" / "src");
    std::filesystem::create_directories(m_dir / "build" / "data");
    write("build/data/firmware.hex", std::string(kEnd) + "\n");
    EXPECT_EQ(builtFirmwareBeside((m_dir / "build" / "src").string()),
              (m_dir / "build" / "data" / "firmware.hex").string());

    std::filesystem::create_directories(m_dir / "usr" / "bin");
    EXPECT_EQ(builtFirmwareBeside((m_dir / "usr" / "bin").string()),
              (m_dir / "usr" / "share" / "phonaxis" / "firmware.hex").string());
    EXPECT_EQ(builtFirmwareBeside(""), "");
}

} // namespace
} // namespace phonaxis
