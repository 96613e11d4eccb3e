#include "document/RecordingReader.h"

#include "TestFiles.h"
#include "document/MyDocument.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;
using testfiles::FileBytes;
using testfiles::WavLayout;

// What a reader gives a document, samples included, as text.
std::string readState(const MyDocument& doc)
{
    std::ostringstream s;
    s << doc.m_nNumofChannels << ' ' << doc.m_bHaveData << doc.m_bNewFile << doc.m_bForeignFile
      << ' ' << doc.m_nFileFormat << ' ' << doc.m_dAnalysisSampleRate << ' '
      << doc.m_dwAnalysisFileLength << ' ' << doc.m_nLPCNumberofCoefficients << ' '
      << doc.changeCount() << ' ' << doc.m_shortRecording.has_value();
    if (doc.m_shortRecording) {
        s << ' ' << doc.m_shortRecording->heldSeconds << ' '
          << doc.m_shortRecording->declaredSeconds;
    }
    s << '\n';
    for (int i = 0; i < doc.channelsInUse(); ++i) {
        const Channels& c = doc.getChannel(i);
        s << i << ": " << c.m_hData.size() << ' ' << c.m_dwFileLength << ' ' << c.m_dSampleRate
          << ' ' << c.m_dLengthMS << ' ' << c.GetTitle() << '|' << c.GetUnit() << ' '
          << c.m_nChannelType << ' ' << c.m_nResolutionBits << ' ' << c.m_dPageMax << ' '
          << c.m_dFilterRate << " [";
        for (std::size_t k = 0; k < c.m_hData.size(); ++k) {
            s << c.m_hData[k] << ',';
        }
        s << "]\n";
    }
    return s.str();
}

class RecordingReaderTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(m_dir); }
    void TearDown() override { fs::remove_all(m_dir); }

    fs::path write(const FileBytes& bytes, const std::string& name = "in.wav")
    {
        const fs::path path = m_dir / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    fs::path m_dir = fs::temp_directory_path() /
                     ("phonaxis-reader-" + std::to_string(::getpid()) + "-" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
};

WavLayout layoutOf(std::uint16_t tag, std::uint16_t bits, std::uint16_t channels,
                   std::uint16_t subFormat = testfiles::kWavPcm)
{
    return testfiles::wavLayout(tag, bits, channels, 22050, subFormat);
}

// A WAV file opened from its header, every channel then read, is the
// document a whole read makes, sample for sample; a file the WAV reader
// declines is declined the same way (or read whole by another reader).
TEST_F(RecordingReaderTest, HeaderFirstReadingGivesWhatAWholeReadGives)
{
    const auto ramp = testfiles::exactRamp(300, 3);
    std::vector<std::pair<std::string, FileBytes>> files;
    for (const auto& [tag, sub, bits] :
         std::vector<std::tuple<int, int, int>>{{1, 0, 8},  {1, 0, 16}, {1, 0, 24}, {1, 0, 32},
                                                {3, 0, 32}, {3, 0, 64}, {0xFFFE, 3, 32}}) {
        files.emplace_back("coding " + std::to_string(bits),
                           testfiles::makeWav(layoutOf(static_cast<std::uint16_t>(tag),
                                                       static_cast<std::uint16_t>(bits), 3,
                                                       static_cast<std::uint16_t>(sub)),
                                              testfiles::testSignal(300, 3)));
    }
    const auto shaped = [&](const char* name, void (*shape)(WavLayout&)) {
        WavLayout layout = layoutOf(1, 16, 3);
        shape(layout);
        files.emplace_back(name, testfiles::makeWav(layout, ramp));
    };
    shaped("chunks before fmt and data", [](WavLayout& l) {
        l.chunksBeforeFmt.push_back({"junk", FileBytes(3, 'd'), {}});
        l.chunksBeforeData.push_back({"LIST", FileBytes(70001, 0xEE), {}});
    });
    shaped("data before fmt", [](WavLayout& l) { l.dataBeforeFmt = true; });
    shaped("a second data chunk after", [](WavLayout& l) {
        l.chunksAfterData.push_back({"data", FileBytes(9, 0x7F), {}});
    });
    shaped("wide block align", [](WavLayout& l) { l.blockAlign = 11; });
    shaped("declared longer than held", [](WavLayout& l) { l.declaredDataSize = 9000; });
    shaped("streaming size", [](WavLayout& l) { l.declaredDataSize = 0xFFFFFFFFu; });
    FileBytes cut = testfiles::makeWav(layoutOf(1, 24, 3), ramp);
    cut.resize(cut.size() - 10);
    files.emplace_back("cut inside a frame", cut);
    const FileBytes good = testfiles::makeWav(layoutOf(1, 16, 2), ramp);
    const auto patched = [&](const char* name, std::size_t offset,
                             std::initializer_list<std::uint8_t> bytes) {
        FileBytes file = good;
        std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<long>(offset));
        files.emplace_back(name, file);
    };
    patched("21 channels", 22, {21, 0});
    patched("zero rate", 24, {0, 0, 0, 0});
    patched("block align below a frame", 32, {3, 0});
    patched("fmt past the end", 16, {0xF0, 0xFF, 0xFF, 0x7F});
    patched("fmt too short", 16, {12, 0, 0, 0});
    files.emplace_back("truncated header", FileBytes(good.begin(), good.begin() + 30));
    files.emplace_back("RIFF header only", FileBytes(good.begin(), good.begin() + 12));
    files.emplace_back("empty", FileBytes{});

    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        const fs::path path = write(bytes);
        test::ScriptedPrompts wholePrompts;
        AppSettings wholeSettings;
        MyDocument whole(wholePrompts, wholeSettings);
        const bool wholeRead = whole.readFromData(bytes, "wav");

        test::ScriptedPrompts prompts;
        AppSettings settings;
        MyDocument doc(prompts, settings);
        RecordingReader reader;
        std::string error;
        ASSERT_EQ(reader.open(path.string(), doc, error), wholeRead) << error;
        if (!wholeRead) {
            EXPECT_TRUE(reader.declined());
            EXPECT_EQ(doc.m_nNumofChannels, 0);
            continue;
        }
        EXPECT_TRUE(reader.headerOnly());
        for (int c = 0; c < doc.channelsInUse(); ++c) {
            ASSERT_TRUE(reader.readSamples(doc, c, 0, 1 << 30, error)) << error;
        }
        EXPECT_EQ(readState(doc), readState(whole));
    }
}

// A stretch read holds the file's samples inside it and zeros outside;
// reading another stretch replaces them, and a file that shrank after its
// header was read is told, not read as zeros.
TEST_F(RecordingReaderTest, StretchesHoldTheirSamplesAndAShrunkFileIsTold)
{
    // More frames than one block of the reader and than one thread's share.
    const std::size_t frames = 700'000;
    std::vector<double> values(frames * 2);
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = static_cast<double>(static_cast<int>(i % 65536) - 32768) / 32768.0;
    }
    const FileBytes bytes = testfiles::makeWav(layoutOf(1, 16, 2), values);
    const fs::path path = write(bytes);
    test::ScriptedPrompts prompts;
    AppSettings settings;
    MyDocument doc(prompts, settings);
    RecordingReader reader;
    std::string error;
    ASSERT_TRUE(reader.open(path.string(), doc, error)) << error;
    ASSERT_TRUE(reader.readSamples(doc, 1, 650'000, 900'000, error)) << error;
    const Channels& right = doc.getChannel(1);
    ASSERT_EQ(right.m_hData.size(), frames + Channels::kSlackFloats);
    for (const std::size_t f : {0ul, 649'999ul, 650'000ul, 650'001ul, 699'999ul, 700'000ul}) {
        const float expected = f >= 650'000 && f < frames ? static_cast<float>(values[f * 2 + 1])
                                                           : 0.0f;
        EXPECT_EQ(right.m_hData[f], expected) << f;
    }
    ASSERT_TRUE(reader.readSamples(doc, 1, 0, 300'000, error)) << error;
    for (std::size_t f = 0; f < frames; ++f) {
        const float expected = f < 300'000 ? static_cast<float>(values[f * 2 + 1]) : 0.0f;
        ASSERT_EQ(doc.getChannel(1).m_hData[f], expected) << f;
    }
    EXPECT_FALSE(reader.readSamples(doc, 2, 0, 10, error));

    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(bytes.size() / 2)), 0);
    error.clear();
    EXPECT_FALSE(reader.readSamples(doc, 0, 0, static_cast<std::int64_t>(frames), error));
    EXPECT_NE(error.find("changed while it was being read"), std::string::npos) << error;
    // The channel keeps the samples it had.
    EXPECT_EQ(doc.getChannel(1).m_hData[1], static_cast<float>(values[3]));
}

// Recordings of the other formats are read whole at open.
TEST_F(RecordingReaderTest, OtherFormatsAreReadWhole)
{
    test::ScriptedPrompts prompts;
    AppSettings settings;
    MyDocument source(prompts, settings);
    ASSERT_TRUE(source.readFromData(testfiles::makeWav(layoutOf(1, 16, 1),
                                                       testfiles::exactRamp(100, 1)),
                                    "wav"));
    const std::optional<Bytes> native = source.dataOfType("pmf");
    ASSERT_TRUE(native.has_value());
    const fs::path path = write(FileBytes(native->begin(), native->end()), "in.pmf");
    MyDocument doc(prompts, settings);
    RecordingReader reader;
    std::string error;
    ASSERT_TRUE(reader.open(path.string(), doc, error)) << error;
    EXPECT_FALSE(reader.headerOnly());
    EXPECT_EQ(doc.getChannel(0).samples().size(), 100u);
    EXPECT_EQ(doc.getChannel(0).samples()[99], source.getChannel(0).samples()[99]);
    EXPECT_FALSE(reader.open((m_dir / "missing.wav").string(), doc, error));
    EXPECT_FALSE(reader.declined());
}

} // namespace
} // namespace phonaxis
