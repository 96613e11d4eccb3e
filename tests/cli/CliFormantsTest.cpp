// phonaxis-cli formants: the vowel chart of a saved formant table, drawn
// headless as the plot window draws it.
#ifdef PHONAXIS_HAVE_DISPLAY

#include "cli/CliCommands.h"
#include "display/FormantChart.h"
#include "log/FormantTable.h"

#include <QGuiApplication>
#include <QImage>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;

class CliFormantsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(m_dir);
        std::ofstream(table(), std::ios::binary) << "300\t2300\t3000\t\"i\"\n"
                                                    "340\t2150\t2900\t\"i\"\n"
                                                    "280\t2450\t3150\t\"i\"\n"
                                                    "700\t1200\t2500\t\"a\"\n";
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string table() const { return path("vowels.txt"); }
    std::string path(const std::string& name) const { return (m_dir / name).string(); }

    static int run(std::vector<std::string> args, std::string& err)
    {
        args.insert(args.begin(), "formants");
        std::ostringstream out;
        std::ostringstream errors;
        const int status = cli::run(args, out, errors);
        err = errors.str();
        return status;
    }

    fs::path m_dir = fs::temp_directory_path() /
                     ("phonaxis-cli-formants-" +
                      std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
};

TEST_F(CliFormantsTest, DrawsThePointsOfEveryPlotTypeInTheFormatOfTheExtension)
{
    FormantTable read;
    ASSERT_TRUE(read.ReadDocument(table()));
    for (const int plotType : {0, 1, 2}) {
        SCOPED_TRACE(plotType);
        const std::string out = path("chart" + std::to_string(plotType) + ".png");
        std::string err;
        ASSERT_EQ(run({table(), "--png", out, "--plot-type", std::to_string(plotType)}, err), 0)
            << err;
        const QImage image(QString::fromStdString(out));
        ASSERT_EQ(image.size(), QSize(kFormantChartWidthPx, kFormantChartHeightPx));
        // The chart's layout measures its texts, which takes a GUI
        // application as the command had while drawing.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        int argc = 1;
        char name[] = "test";
        char* argv[] = {name, nullptr};
        const QGuiApplication gui(argc, argv);
        const PlotGeometry geometry = formantChartGeometry(read, image.size(), plotType);
        ASSERT_EQ(geometry.points.size(), 4u);
        for (const PlotPoint& point : geometry.points) {
            int darkest = 255;
            for (int dy = 0; dy < 6; ++dy) {
                for (int dx = 0; dx < 6; ++dx) {
                    darkest =
                        std::min(darkest, qGray(image.pixel(int(point.circle.topLeft.x) + dx,
                                                            int(point.circle.topLeft.y) + dy)));
                }
            }
            EXPECT_LT(darkest, 128) << "row " << point.row;
        }
    }

    const std::pair<const char*, std::string> formats[] = {
        {"chart.tif", std::string("II*\0", 4)},
        {"CHART.TIFF", std::string("II*\0", 4)},
        {"chart.pdf", "%PDF"},
        {"chart.svg", "<?xm"},
    };
    for (const auto& [name, magic] : formats) {
        std::string err;
        ASSERT_EQ(run({table(), "--png", path(name), "--width", "800", "--height", "600"}, err), 0)
            << name << ": " << err;
        std::string start(4, '\0');
        std::ifstream(path(name), std::ios::binary).read(start.data(), 4);
        EXPECT_EQ(start, magic) << name;
    }
    EXPECT_EQ(QImage(QString::fromStdString(path("chart.tif"))).size(), QSize(800, 600));
    // The SVG is a vector drawing of the view's size with its axis titles as
    // text.
    std::ifstream svgFile(path("chart.svg"), std::ios::binary);
    const std::string svg((std::istreambuf_iterator<char>(svgFile)),
                          std::istreambuf_iterator<char>());
    EXPECT_NE(svg.find("<svg"), std::string::npos);
    EXPECT_NE(svg.find("viewBox=\"0 0 800 600\""), std::string::npos);
    EXPECT_NE(svg.find("F1 (Hz)"), std::string::npos);
    EXPECT_NE(svg.find("F2 (Hz)"), std::string::npos);
}

TEST_F(CliFormantsTest, ExitStatusesTellUsageFromFailureAndWriteNothing)
{
    const std::string out = path("out.png");
    fs::create_directories(path("folder.txt"));
    const auto tableSize = fs::file_size(table());
    const std::pair<std::vector<std::string>, int> cases[] = {
        {{table()}, 2},
        {{table(), "--png", path("out.bmp")}, 2},
        {{table(), "--png", path("out")}, 2},
        {{table(), "--png", table()}, 2},
        {{table(), table(), "--png", out}, 2},
        {{table(), "--png", out, "--plot-type", "3"}, 2},
        {{table(), "--png", out, "--plot-type", "-1"}, 2},
        {{table(), "--png", out, "--plot-type", "F1F2"}, 2},
        {{table(), "--png", out, "--width", "0"}, 2},
        {{table(), "--png", out, "--width", "16384", "--height", "16384"}, 2},
        {{table(), "--png", out, "--at", "10"}, 2},
        {{path("missing.txt"), "--png", out}, 1},
        {{path("folder.txt"), "--png", out}, 1},
        {{table(), "--png", path("no/dir/out.png")}, 1},
    };
    for (const auto& [args, expected] : cases) {
        std::string err;
        EXPECT_EQ(run(args, err), expected) << args.back();
        EXPECT_FALSE(err.empty()) << args.back();
    }
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(fs::exists(path("out.bmp")));
    EXPECT_EQ(fs::file_size(table()), tableSize); // the table is never written over
}

} // namespace
} // namespace phonaxis

#endif // PHONAXIS_HAVE_DISPLAY
