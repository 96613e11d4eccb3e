// phonaxis-cli spectrum --png: the spectrum window's graph of a generated
// vowel, written by the name's extension next to the unchanged log, and the
// mistakes refused before any work.
#include "Signals.h" // before Qt: its "signals" keyword is a macro
#include "cli/CliCommands.h"
#include "document/FileIO.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

// The vowel (10 kHz, 500 ms, F1 730 Hz, F2 1090 Hz, F0 100 Hz) as WAV bytes; here, before Qt's
// headers, which take the word "signals".
std::optional<phonaxis::Bytes> vowelWav()
{
    phonaxis::test::ScriptedPrompts prompts;
    const phonaxis::signals::Vowel vowel = phonaxis::signals::vowel({});
    const std::span<const float> channels[] = {vowel.samples};
    return phonaxis::signals::waveFileBytes(vowel.rateHz, channels, prompts);
}

} // namespace

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifdef PHONAXIS_HAVE_DISPLAY
#include <QImage>
#endif

namespace phonaxis {
namespace {

namespace fs = std::filesystem;

class CliSpectrumPictureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(m_dir);
        const auto bytes = vowelWav();
        std::string error;
        ASSERT_TRUE(bytes && writeFileAtomically(path("vowel.wav"), *bytes, error)) << error;
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string path(const std::string& name) const { return (m_dir / name).string(); }

    struct Run {
        int status;
        std::string out, err;
    };
    Run spectrum(const std::vector<std::string>& extra) const
    {
        std::vector<std::string> args{"spectrum", path("vowel.wav"), "--at",
                                      "250",      "--set",           "m_bFFTColor=1"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::ostringstream out, err;
        const int status = cli::run(args, out, err);
        return {status, out.str(), err.str()};
    }

    fs::path m_dir = fs::temp_directory_path() /
                     ("phonaxis-cli-spectrum-" + std::to_string(::getpid()) + "-" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
};

#ifdef PHONAXIS_HAVE_DISPLAY

TEST_F(CliSpectrumPictureTest, PictureShowsTheVowelsPeaksAndTheLogStaysTheSame)
{
    const Run text = spectrum({});
    ASSERT_EQ(text.status, 0) << text.err;
    // Without the envelope, which meets the spectrum's peak and covers it.
    const Run drawn = spectrum(
        {"--png", path("s.png"), "--width", "520", "--height", "320", "--set", "m_bFFTDrawLPC=0"});
    ASSERT_EQ(drawn.status, 0) << drawn.err;
    EXPECT_EQ(drawn.out, text.out);
    const QImage image(QString::fromStdString(path("s.png")));
    ASSERT_EQ(image.size(), QSize(520, 320));
    // The graph is 500 × 300 from x = 20 over 5000 Hz; the relative
    // spectrum's peak, a harmonic of 100 Hz under F1, touches its top.
    int peakX = -1;
    for (int y = 0; y < 300 && peakX < 0; ++y) {
        for (int x = 20; x < 520; ++x) {
            const QRgb p = image.pixel(x, y);
            if (qRed(p) > 200 && qGreen(p) < 100 && qBlue(p) < 100) {
                peakX = x;
                EXPECT_LE(y, 1);
                break;
            }
        }
    }
    // The strongest harmonic is one of F1's or F2's (730, 1090 Hz); the
    // 700 Hz harmonic under F1 comes within a few dB of it.
    const double peakHz = (peakX - 20) * 5000.0 / 500.0;
    EXPECT_TRUE(std::abs(peakHz - 700) <= 30 || std::abs(peakHz - 1100) <= 30) << peakHz;
    int nearF1 = 300;
    for (int x = 88; x <= 92; ++x) {
        for (int y = 0; y < nearF1; ++y) {
            const QRgb p = image.pixel(x, y);
            if (qRed(p) > 200 && qGreen(p) < 100 && qBlue(p) < 100) {
                nearF1 = y;
            }
        }
    }
    EXPECT_LT(nearF1, 30);

    // The default size, and the formats by extension.
    ASSERT_EQ(spectrum({"--png", path("d.png")}).status, 0);
    EXPECT_EQ(QImage(QString::fromStdString(path("d.png"))).size(), QSize(1600, 900));
    for (const auto& [name, magic] :
         {std::pair{"s.tif", std::string("II*\0", 4)}, std::pair{"s.pdf", std::string("%PDF")}}) {
        ASSERT_EQ(spectrum({"--png", path(name)}).status, 0) << name;
        std::string start(4, '\0');
        std::ifstream(path(name), std::ios::binary).read(start.data(), 4);
        EXPECT_EQ(start, magic) << name;
    }
}

TEST_F(CliSpectrumPictureTest, MistakesAreRefusedBeforeWorkAndWriteNothing)
{
    struct Case {
        std::vector<std::string> extra;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {{"--png", path("s.jpg")}, 2, "pictures are written as .png, .tif/.tiff or .pdf"},
        {{"--png", path("vowel.wav")}, 2, "pictures are written as"},
        {{"--width", "400"}, 2, "give --png OUT too"},
        {{"--png", path("s.png"), "--width", "16384", "--height", "16384"}, 2, "larger than"},
        {{"--png", path("no/dir/s.png")}, 1, ""},
        {{"--png", path("s.png"), "--set", "m_nFFTfrequencyRange=6000"}, 1, "Frequency range"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.extra.back());
        const Run r = spectrum(c.extra);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
    EXPECT_FALSE(fs::exists(path("s.png")));
    EXPECT_FALSE(fs::exists(path("s.jpg")));
    EXPECT_FALSE(fs::exists(path("no")));
}

#else

TEST_F(CliSpectrumPictureTest, PicturesAreRefusedWithoutTheDisplayLibrary)
{
    const Run r = spectrum({"--png", path("s.png")});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("draws no pictures"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(path("s.png")));
}

#endif

} // namespace
} // namespace phonaxis
