// Only a phonaxis-cli built with the display library draws pictures.
#ifdef PHONAXIS_HAVE_DISPLAY

// The test signals live in a namespace whose name Qt's keyword macros
// rewrite, so the recording is made before any Qt header is seen.
#include "Signals.h"
#include "cli/CliCommands.h"
#include "document/FileIO.h"
#include "support/ScriptedPrompts.h"

namespace phonaxis::test {
// Tones of 200 Hz and 50 Hz (and, with `third`, 300 Hz), 1 s at 22,050 Hz,
// written as a WAV file.
inline bool writeTwoToneWave(const std::string& path, bool third = false)
{
    ScriptedPrompts prompts;
    const std::vector<float> first = signals::tone(200.0, 22050.0, 1000.0, 0.8);
    const std::vector<float> second = signals::tone(50.0, 22050.0, 1000.0, 0.5);
    const std::vector<float> last = signals::tone(300.0, 22050.0, 1000.0, 0.5);
    const std::span<const float> channels[] = {first, second, last};
    const auto bytes = signals::waveFileBytes(22050.0, std::span(channels, third ? 3 : 2), prompts);
    std::string error;
    return bytes && writeFileAtomically(path, *bytes, error);
}
} // namespace phonaxis::test

#include <QImage>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;

class CliPictureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(m_dir);
        ASSERT_TRUE(test::writeTwoToneWave(input()));
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string input() const { return (m_dir / "in.wav").string(); }
    std::string path(const std::string& name) const { return (m_dir / name).string(); }
    QImage image(const std::string& name) const
    {
        return QImage(QString::fromStdString(path(name)));
    }

    static int run(std::vector<std::string> args, std::string& err)
    {
        args.insert(args.begin(), "picture");
        std::ostringstream out;
        std::ostringstream errors;
        const int status = cli::run(args, out, errors);
        err = errors.str();
        return status;
    }

    // One folder per test, so that tests may run in parallel.
    fs::path m_dir = fs::temp_directory_path() /
                     ("phonaxis-cli-picture-" +
                      std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
};

TEST_F(CliPictureTest, WritesTheFormatItsExtensionNamesOverTheStretchAsked)
{
    const std::pair<const char*, std::string> cases[] = {
        {"view.png", "\x89PNG"},
        {"view.tif", std::string("II*\0", 4)},
        {"VIEW.TIFF", std::string("II*\0", 4)},
        {"view.pdf", "%PDF"},
        {"view.svg", "<?xm"},
        {"VIEW.SVG", "<?xm"},
    };
    std::string err;
    for (const auto& [name, magic] : cases) {
        ASSERT_EQ(run({input(), "--out", path(name), "--width", "640", "--height", "360"}, err), 0)
            << name << ": " << err;
        std::string start(4, '\0');
        std::ifstream(path(name), std::ios::binary).read(start.data(), 4);
        EXPECT_EQ(start, magic) << name;
    }
    ASSERT_EQ(run({input(), "--out", path("part.png"), "--from", "100", "--to", "150", "--width",
                   "640", "--height", "360"},
                  err),
              0);
    EXPECT_EQ(image("view.png").size(), QSize(640, 360));
    EXPECT_EQ(image("part.png").size(), QSize(640, 360));
    EXPECT_NE(image("view.png"), image("part.png"));
}

TEST_F(CliPictureTest, ExitStatusesTellUsageFromFailure)
{
    const std::string out = path("out.png");
    const std::pair<std::vector<std::string>, int> cases[] = {
        {{input(), "--out", path("out.bmp")}, 2},
        {{input()}, 2},
        {{input(), input(), "--out", out}, 2},
        {{input(), "--out", out, "--bogus"}, 2},
        {{input(), "--out", out, "--from", "10"}, 2},
        {{input(), "--out", out, "--from", "200", "--to", "100"}, 2},
        {{input(), "--out", out, "--from", "0", "--to", "5000"}, 2},
        {{input(), "--out", out, "--height", "wide"}, 2},
        {{input(), "--out", out, "--width", "16384", "--height", "16384"}, 2},
        {{path("missing.wav"), "--out", out}, 1},
        {{input(), "--out", path("no/dir/out.png")}, 1},
        {{input(), "--out", path("no/dir/out.pdf")}, 1},
    };
    for (const auto& [args, expected] : cases) {
        std::string err;
        EXPECT_EQ(run(args, err), expected) << args.back();
        EXPECT_FALSE(err.empty()) << args.back();
    }
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(CliPictureTest, ExecutableDrawsWithoutADisplayOrARuntimeFolderAndSaysNothing)
{
    // Qt warns about a missing XDG_RUNTIME_DIR; a command that succeeds writes
    // nothing on stderr all the same.
    const std::pair<const char*, const char*> commands[] = {{"picture", "--out"},
                                                            {"pitch", "--png"}};
    for (const auto& [command, option] : commands) {
        const std::string line = "env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY -u "
                                 "XDG_RUNTIME_DIR " PHONAXIS_CLI " " +
                                 std::string(command) + " '" + input() + "' " + option + " '" +
                                 path(std::string(command) + ".png") + "' >/dev/null 2>'" +
                                 path("err.txt") + "'";
        const int raw = std::system(line.c_str());
        ASSERT_TRUE(WIFEXITED(raw));
        EXPECT_EQ(WEXITSTATUS(raw), 0) << command;
        std::ifstream errors(path("err.txt"));
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(errors), {}), "") << command;
    }
    EXPECT_EQ(image("picture.png").size(), QSize(1600, 900));
}

TEST_F(CliPictureTest, FitSharesTheHeightAmongTheStrips)
{
    ASSERT_TRUE(test::writeTwoToneWave(path("three.wav"), true));
    std::string err;
    for (const bool fit : {false, true}) {
        std::vector<std::string> args = {
            path("three.wav"), "--out", path("three.png"), "--width", "400", "--height", "900"};
        if (fit) {
            args.push_back("--fit");
        }
        ASSERT_EQ(run(args, err), 0) << err;
        // Whether anything is drawn in the picture's bottom third.
        const QImage bottom = image("three.png").copy(0, 600, 400, 300);
        QImage white(bottom.size(), bottom.format());
        white.fill(Qt::white);
        EXPECT_EQ(bottom != white, fit);
    }
}

} // namespace
} // namespace phonaxis

#endif // PHONAXIS_HAVE_DISPLAY
