// phonaxis-cli spectrum --png: the spectrum window's graph of a generated
// vowel, written by the name's extension next to the unchanged log, and the
// mistakes refused before any work.
#include "cli/CliCommands.h"
#include "document/FileIO.h"
#include "support/FileProbes.h"
#include "support/VowelRecording.h" // before Qt: its "signals" keyword is a macro

#include <gtest/gtest.h>

#include <unistd.h>

#ifdef PHONAXIS_HAVE_DISPLAY
#include "display/SpectrumGraph.h"

#include <QGuiApplication>
#include <QImage>

#include <cmath>
#include <filesystem>
#include <sstream>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;

class CliSpectrumPictureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(m_dir);
        const auto bytes = test::vowelWav();
        std::string error;
        ASSERT_TRUE(bytes && writeFileAtomically(path("vowel.wav"), *bytes, error)) << error;
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string path(const std::string& name) const { return (m_dir / name).string(); }

    struct Run {
        int status;
        std::string out, err;
    };
    // spectrum at 250 ms in colour (red spectrum) without the envelope,
    // which meets the spectrum's peak and would cover it.
    Run spectrum(std::vector<std::string> extra) const
    {
        extra.insert(extra.begin(), {"spectrum", path("vowel.wav"), "--at", "250", "--set",
                                     "m_bFFTColor=1", "--set", "m_bFFTDrawLPC=0"});
        std::ostringstream out, err;
        const int status = cli::run(extra, out, err);
        return {status, out.str(), err.str()};
    }

    fs::path m_dir = fs::temp_directory_path() /
                     ("phonaxis-cli-spectrum-" + std::to_string(::getpid()) + "-" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
};

bool isRed(QRgb p)
{
    return qRed(p) > 200 && qGreen(p) < 100 && qBlue(p) < 100;
}

TEST_F(CliSpectrumPictureTest, PictureShowsTheVowelsPeaksAndTheLogStaysTheSame)
{
    const Run text = spectrum({});
    const Run drawn = spectrum({"--png", path("s.png"), "--width", "520", "--height", "320"});
    ASSERT_EQ(drawn.status, 0) << drawn.err;
    EXPECT_EQ(drawn.out, text.out);
    const QImage image(QString::fromStdString(path("s.png")));
    ASSERT_EQ(image.size(), QSize(520, 320));
    // The graph's rectangle is measured in the picture's text size, with
    // the fonts phonaxis-cli draws with (the offscreen platform's).
    static int argc = 1;
    static char appName[] = "phonaxis_cli_tests";
    static char* argv[] = {appName, nullptr};
    if (QCoreApplication::instance() == nullptr) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static QGuiApplication gui(argc, argv);
    }
    const Rect graph = spectrumGraphRect(image.size());
    const int height = graph.bottom - graph.top;
    // The graph spans 5000 Hz. The relative spectrum's peak touches its top
    // at the strongest harmonic, one of F1's or F2's (700 or 1100 Hz); the
    // other comes within 10%.
    auto topmostRed = [&](int fromX, int toX) {
        for (int y = graph.top; y < graph.bottom; ++y) {
            for (int x = fromX; x <= toX; ++x) {
                if (isRed(image.pixel(x, y))) {
                    return y - graph.top;
                }
            }
        }
        return height;
    };
    const auto xOf = [&](int hz) { return graph.left + hz * (graph.right - graph.left) / 5000; };
    EXPECT_LE(topmostRed(graph.left, graph.right - 1), 1);
    EXPECT_LE(std::min(topmostRed(xOf(700) - 3, xOf(700) + 3),
                       topmostRed(xOf(1100) - 3, xOf(1100) + 3)),
              1);
    EXPECT_LT(std::max(topmostRed(xOf(700) - 3, xOf(700) + 3),
                       topmostRed(xOf(1100) - 3, xOf(1100) + 3)),
              height / 10);

    // The default size, and the formats by extension.
    ASSERT_EQ(spectrum({"--png", path("d.png")}).status, 0);
    EXPECT_EQ(QImage(QString::fromStdString(path("d.png"))).size(), QSize(1600, 900));
    for (const auto& [name, magic] :
         {std::pair{"s.tif", std::string("II*\0", 4)}, std::pair{"s.pdf", std::string("%PDF")}}) {
        ASSERT_EQ(spectrum({"--png", path(name)}).status, 0) << name;
        EXPECT_EQ(test::fileBytes(path(name)).substr(0, 4), magic) << name;
    }
}

TEST_F(CliSpectrumPictureTest, MistakesAreRefusedBeforeWorkAndWriteNothing)
{
    const std::tuple<std::vector<std::string>, int, const char*> cases[] = {
        {{"--png", path("s.jpg")}, 2, "pictures are written as .png, .tif/.tiff, .pdf or .svg"},
        {{"--png", path("vowel.wav")}, 2, "is the input file"},
        {{"--width", "400"}, 2, "size the picture of --png OUT"},
        {{"--png", path("s.png"), "--width", "16384", "--height", "16384"}, 2, "larger than"},
        {{"--png", path("no/dir/s.png")}, 1, ""},
        {{"--png", path("s.png"), "--set", "m_nFFTfrequencyRange=6000"}, 1, "Frequency range"},
    };
    for (const auto& [extra, status, message] : cases) {
        const Run r = spectrum(extra);
        EXPECT_EQ(r.status, status) << extra.back() << ": " << r.err;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
    EXPECT_FALSE(fs::exists(path("s.png")) || fs::exists(path("s.jpg")) || fs::exists(path("no")));
}

} // namespace
} // namespace phonaxis
#endif
