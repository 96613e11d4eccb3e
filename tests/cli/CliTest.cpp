#include "NativeTestFiles.h"
#include "TestFiles.h"
#include "cli/CliCommands.h"
#include "document/FileIO.h"
#include "document/MyDocument.h"
#include "support/CliRunning.h"
#include "support/FileProbes.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;

using test::CliResult;
using test::runCli;

class CliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() /
                ("phonaxis-cli-" +
                 std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        // A three-channel recording at 22,050 Hz, 1 s long; sample i of
        // channel c is (c + 1) * i / 22050.
        test::ScriptedPrompts prompts;
        auto document = std::make_unique<MyDocument>(prompts);
        document->m_nNumofChannels = 3;
        for (int c = 0; c < 3; ++c) {
            std::vector<float> values(22050);
            for (std::size_t i = 0; i < values.size(); ++i) {
                values[i] = float((c + 1) * double(i) / 22050.0);
            }
            Channels& channel = document->getChannel(c);
            ASSERT_TRUE(channel.setData(values.data(), 22050));
            channel.m_dSampleRate = 22050;
            channel.m_dwFileLength = 22050;
            channel.m_dLengthMS = 1000;
        }
        const auto bytes = document->dataOfType("wav");
        ASSERT_TRUE(bytes);
        std::string error;
        ASSERT_TRUE(writeFileAtomically(input(), *bytes, error)) << error;
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string input() const { return (m_dir / "in.wav").string(); }
    std::string path(const char* name) const { return (m_dir / name).string(); }

    fs::path m_dir;
};

// The manual page is made from the help texts: every command's help, as
// COMMAND --help prints it, stands in it line for line.
TEST(CliManualPage, TellsEveryCommandAsItsHelpDoes)
{
    const std::string page = cli::manualPage();
    const auto roff = [](const std::string& text) {
        std::string out;
        for (const char c : text) {
            out += c == '-' ? std::string("\\-") : c == '\\' ? std::string("\\e") : std::string(1, c);
        }
        return out;
    };
    for (const char* command : {"info", "convert", "spectrum", "spectrogram", "formant-track",
                                "pitch", "egg", "picture", "formants", "play", "record", "box",
                                "settings"}) {
        SCOPED_TRACE(command);
        const CliResult help = runCli({command, "--help"});
        ASSERT_EQ(help.status, 0);
        // The command's own block: after "usage:" up to the first empty line.
        const std::size_t start = help.out.find('\n') + 1;
        const std::string block = help.out.substr(start, help.out.find("\n\n") + 1 - start);
        ASSERT_FALSE(block.empty());
        EXPECT_NE(page.find(roff(block)), std::string::npos) << block;
    }
    for (const char* section : {".SH SYNOPSIS", ".SH EXIT STATUS", ".SH ENVIRONMENT", ".SH FILES"}) {
        EXPECT_NE(page.find(section), std::string::npos) << section;
    }
}

TEST_F(CliTest, InfoDescribesEveryChannel)
{
    const CliResult r = runCli({"info", input()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"format\": 2"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"channelCount\": 3"), std::string::npos);
    EXPECT_NE(r.out.find("{\"index\": 0, \"title\": \"Audio\", \"unit\": \"normalized\", "
                         "\"type\": 1, \"sampleRate\": 22050, \"samples\": 22050, \"ms\": 1000, "
                         "\"resolution\": 32}"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"title\": \"Chan 2\""), std::string::npos);
    EXPECT_EQ(runCli({"info", input(), "--json"}).out,
              r.out); // --json is accepted, and changes nothing
}

TEST_F(CliTest, ConvertWritesChannelsAndSelections)
{
    struct Case {
        std::vector<std::string> options;
        int channels;
        double samples;
        float firstSample; // sample 0 of the first written channel
    };
    const Case cases[] = {
        {{}, 3, 22050, 0.0f},
        {{"--channel", "1"}, 1, 22050, 0.0f},
        {{"--from", "100", "--to", "200"}, 3, 2205, float(2205.0 / 22050.0)},
        {{"--channel", "2", "--from", "500", "--to", "1000"}, 1, 11025, float(3 * 0.5)},
    };
    for (const Case& c : cases) {
        for (const char* name : {"out.wav", "out.pmf"}) {
            const std::string out = path(name);
            std::vector<std::string> args = {"convert", input(), out};
            args.insert(args.end(), c.options.begin(), c.options.end());
            const CliResult r = runCli(args);
            ASSERT_EQ(r.status, 0) << r.err;

            test::ScriptedPrompts prompts;
            auto document = std::make_unique<MyDocument>(prompts);
            FileContents file;
            std::string error;
            ASSERT_TRUE(file.open(out, error)) << error;
            ASSERT_TRUE(document->readFromData(file.bytes(), "wav"));
            EXPECT_EQ(document->m_nNumofChannels, c.channels);
            EXPECT_EQ(document->getChannel(0).m_dwFileLength, c.samples);
            EXPECT_FLOAT_EQ(document->getChannel(0).samples()[0], c.firstSample);
            EXPECT_EQ(document->m_nFileFormat, std::string(name) == "out.wav" ? 2 : 4);
        }
    }
}

TEST_F(CliTest, MistakesAreReportedWithoutOutput)
{
    std::ofstream(path("junk.wav")) << "this is not a recording";
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {{}, 2, "usage"},
        {{"frobnicate"}, 2, "unknown command"},
        {{"info"}, 2, "usage"},
        {{"info", path("missing.wav")}, 1, "Cannot open"},
        {{"info", path("junk.wav")}, 1, "not a recording"},
        {{"info", m_dir.string()}, 1, "not a regular file"},
        {{"convert", input(), path("o.wav"), "--channel", "3"}, 2, "beyond"},
        {{"convert", input(), path("o.wav"), "--channel", "-1"}, 2, "channel number"},
        {{"convert", input(), path("o.wav"), "--from", "10"}, 2, "usage"},
        {{"convert", input(), path("o.wav"), "--from", "20", "--to", "10"}, 2, "earlier"},
        {{"convert", input(), path("o.wav"), "--from", "abc", "--to", "10"}, 2, "time in ms"},
        {{"convert", input(), path("o.mp3")}, 2, ".wav and .pmf"},
        {{"convert", input(), path("o.wav"), "--bogus"}, 2, "unknown option"},
        {{"convert", input(), path("no/such/dir/o.wav")}, 1, "Cannot write"},
    };
    for (const Case& c : cases) {
        const CliResult r = runCli(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    EXPECT_FALSE(fs::exists(path("o.wav")));
}

// A file's bytes and permissions, to see that a refused command left it alone.
std::string fileState(const fs::path& path)
{
    return std::to_string(static_cast<unsigned>(fs::status(path).permissions())) + ":" +
           test::fileBytes(path);
}

TEST_F(CliTest, NoOutputReplacesAnInputOrLandsOutsideARegularFile)
{
#ifdef PHONAXIS_HAVE_DISPLAY
    const char* const kPictureName = "pictures are written as .png, .tif/.tiff, .pdf or .svg";
#else
    const char* const kPictureName = "a name ending in .png";
#endif
    ASSERT_EQ(::chmod(input().c_str(), 0640), 0) << input() << ": " << std::strerror(errno);
    fs::create_directory(m_dir / "sub");
    fs::create_hard_link(input(), path("hard.wav"));
    fs::create_symlink(input(), path("link.wav"));
    fs::create_symlink(input(), path("link.png"));
    std::ofstream(path("settings.png")) << "a configuration in disguise";
    // A recording that is no input, reached through a picture's name.
    fs::copy_file(input(), path("other.wav"));
    fs::create_symlink(path("other.wav"), path("other.png"));
    ASSERT_EQ(::mkfifo(path("pipe.png").c_str(), 0644), 0);
    // /dev/null's numbers, where the tests may make a device node.
    const bool device = ::mknod(path("null.png").c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0;
    const std::string inputState = fileState(input());
    const std::string settingsState = fileState(path("settings.png"));
    const std::string otherState = fileState(path("other.wav"));

    struct Case {
        std::vector<std::string> args;
        int status;
        const char* message;
    };
    std::vector<Case> cases = {
        // Stretches outside the one-second recording.
        {{"convert", input(), path("out.wav"), "--from", "5000", "--to", "6000"},
         2,
         "--from 5000 ms is beyond the recording's 1000 ms"},
        {{"convert", input(), path("out.wav"), "--from", "1e300", "--to", "1e308"},
         2,
         "beyond the recording's 1000 ms"},
        {{"convert", input(), path("out.wav"), "--from", "500", "--to", "1500"},
         2,
         "--to 1500 ms is beyond"},
        {{"convert", input(), path("out.pmf"), "--from", "999.99", "--to", "1000"},
         2,
         "from 999.99 ms to 1000 ms holds no sample of channel 0"},
        // The input under another name.
        {{"convert", input(), input(), "--from", "5000", "--to", "6000"}, 2, "is the input file"},
        {{"convert", input(), (m_dir / "sub" / ".." / "in.wav").string()}, 2, "is the input file"},
        {{"convert", input(), path("hard.wav")}, 2, "is the input file"},
        {{"convert", path("link.wav"), input(), "--channel", "1"}, 2, "is the input file"},
        // An output that is an input is refused as such before its name is
        // looked at.
        {{"spectrogram", input(), "--png", path("link.png")}, 2, "is the input file"},
        {{"spectrogram", input(), "--config", path("settings.png"), "--png", path("settings.png")},
         2,
         "is the input file"},
        // Pictures only under a picture's name, and only in a regular file.
        {{"spectrogram", input(), "--png", input()}, 2, "is the input file"},
        {{"spectrogram", input(), "--png", path("other.png")}, 2, kPictureName},
        {{"spectrogram", input(), "--png", path("pipe.png")}, 1, "a pipe, not a regular file"},
#ifdef PHONAXIS_HAVE_DISPLAY
        {{"picture", input(), "--out", input()}, 2, ".png, .tif/.tiff, .pdf or .svg"},
        {{"picture", input(), "--out", path("link.png")}, 2, "not through a link"},
#endif
    };
    if (device) {
        cases.push_back({{"spectrogram", input(), "--png", path("null.png")},
                         1,
                         "a device, not a regular file"});
    }
    for (const Case& c : cases) {
        const CliResult r = runCli(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[2] << ": " << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_EQ(fileState(input()), inputState) << c.args[2];
    }
    EXPECT_EQ(fileState(path("settings.png")), settingsState);
    EXPECT_EQ(fileState(path("other.wav")), otherState);
    EXPECT_TRUE(fs::is_fifo(path("pipe.png")));
    EXPECT_TRUE(!device || fs::is_character_file(path("null.png")));
    for (const auto& entry : fs::recursive_directory_iterator(m_dir)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name != "out.wav" && name != "out.pmf" && !name.starts_with(".phonaxis-"))
            << name;
    }
}

TEST_F(CliTest, LargeFileOfZerosIsDeclinedAfterItsFirstBytes)
{
    const std::string zeros = path("zeros.wav");
    ASSERT_TRUE(test::makeSparseFile(zeros, off_t{4} << 30));
    const std::vector<std::string> commands[] = {
        {"info", zeros},
        {"spectrogram", zeros, "--png", path("out.png")},
        // A configuration is read no further than its record (of zeros here,
        // which no analysis can work with).
        {"settings", "--config", zeros},
    };
    for (const auto& args : commands) {
        CliResult r;
        EXPECT_TRUE(test::readsLittle([&] { r = runCli(args); })) << args[0];
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(args[0] == "settings" ? "which the analyses cannot work with"
                                                   : "is not a recording Phonaxis can open"),
                  std::string::npos)
            << r.err;
    }
    EXPECT_FALSE(fs::exists(path("out.png")));
}

TEST_F(CliTest, AiffChannelIsChosenOnTheCommandLine)
{
    // A stereo AIFF: left holds 0.5, right -0.25.
    testfiles::AiffLayout layout;
    layout.channels = 2;
    const std::vector<double> frames = {0.5, -0.25, 0.5, -0.25};
    const testfiles::FileBytes aiff = testfiles::makeAiff(layout, frames);
    std::string error;
    ASSERT_TRUE(writeFileAtomically(path("stereo.aif"), aiff, error)) << error;

    for (const auto& [option, expected] : {std::pair{"1", 0.5f}, std::pair{"2", -0.25f}}) {
        const CliResult r =
            runCli({"convert", path("stereo.aif"), path("one.wav"), "--aiff-channel", option});
        ASSERT_EQ(r.status, 0) << r.err;
        test::ScriptedPrompts prompts;
        auto document = std::make_unique<MyDocument>(prompts);
        FileContents file;
        ASSERT_TRUE(file.open(path("one.wav"), error)) << error;
        ASSERT_TRUE(document->readFromData(file.bytes(), "wav"));
        EXPECT_EQ(document->getChannel(0).samples()[1], expected);
    }
    const CliResult beyond = runCli({"info", path("stereo.aif"), "--aiff-channel", "3"});
    EXPECT_EQ(beyond.status, 1);
    EXPECT_NE(beyond.err.find("beyond the file's 2 channels"), std::string::npos) << beyond.err;
}

TEST_F(CliTest, CutOffWavOpensWithWhatItHoldsAndSaysSo)
{
    // 16 kHz mono 16-bit: the header declares 2.0 s, the file holds 0.57 s.
    testfiles::WavLayout layout;
    layout.sampleRate = 16000;
    layout.declaredDataSize = 64000u;
    std::string error;
    ASSERT_TRUE(writeFileAtomically(
        path("cut.wav"), testfiles::makeWav(layout, testfiles::exactRamp(9120, 1)), error))
        << error;
    const CliResult r = runCli({"info", path("cut.wav")});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\"samples\": 9120"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "phonaxis-cli: \"" + path("cut.wav") +
                         "\": file holds 0.57 s of the 2.0 s its header declares\n");
}

// A WAV file holds every channel over channel 0's length: a conversion that
// would cut a longer channel writes nothing and says which; one channel at a
// time, or a .pmf file, keeps it all.
TEST_F(CliTest, ConvertToWavRefusesToCutALongerChannel)
{
    testfiles::KvqLayout layout;
    layout.channels.resize(2);
    layout.channels[0].floats.assign(50, 0.5f);
    layout.channels[1].floats.assign(100, -0.5f);
    std::string error;
    ASSERT_TRUE(writeFileAtomically(path("uneven.pmf"), testfiles::makeKvq(layout), error))
        << error;
    const CliResult r = runCli({"convert", path("uneven.pmf"), path("uneven.wav")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "phonaxis-cli: cannot write \"" + path("uneven.wav") +
                         "\": a WAV file holds every channel over the length of channel 0, which "
                         "would cut channel 1; write a .pmf file, or each channel with --channel "
                         "N\n");
    EXPECT_FALSE(std::filesystem::exists(path("uneven.wav")));
    EXPECT_EQ(runCli({"convert", path("uneven.pmf"), path("one.wav"), "--channel", "1"}).status, 0);
    // Both native files keep each channel's length, the USB2 float file's
    // interleaved block included.
    layout.kind = testfiles::KvqKind::Usb2Float;
    layout.usb2Frames = 100;
    ASSERT_TRUE(writeFileAtomically(path("uneven-usb2.pmf"), testfiles::makeKvq(layout), error))
        << error;
    for (const char* in : {"uneven.pmf", "uneven-usb2.pmf"}) {
        SCOPED_TRACE(in);
        EXPECT_EQ(runCli({"convert", path(in), path("copy.pmf")}).status, 0);
        const CliResult copy = runCli({"info", path("copy.pmf")});
        EXPECT_NE(copy.out.find("\"samples\": 50,"), std::string::npos) << copy.out;
        EXPECT_NE(copy.out.find("\"samples\": 100,"), std::string::npos) << copy.out;
    }
}

TEST_F(CliTest, EveryCommandAnswersHelpWithItsOwnTextAndVersion)
{
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"info", "--help"}, "info FILE"},
        {{"convert", "-h"}, "convert IN OUT"},
        {{"spectrum", "--help"}, "fft_rel_db"},
        {{"spectrogram", "--help"}, "inside the frequency"},
        {{"pitch", input(), "--help"},
         "time_ms is k x m_dPitchStepSize: the centre of the frame's window"},
        {{"egg", "--help"}, "cq_ht"},
        {{"settings", "--help"}, "--save-config FILE"},
        {{"picture", "--bogus", "-h"}, "--fit"},
        {{"formants", "--help"}, "formants TABLE.txt"},
        {{"play", "--help"}, "play FILE"},
        {{"record", "--help"}, "record OUT.pmf --box"},
        {{"help", "pitch"},
         "intensity_dbfs: dB relative to full scale (a full-scale sine reads -3.01)"},
    };
    for (const auto& [args, text] : cases) {
        const CliResult r = runCli(args);
        EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
        EXPECT_EQ(r.err, "") << args[0];
        EXPECT_NE(r.out.find(text), std::string::npos) << args[0] << " lacks " << text;
        // One command's help, not every command's.
        EXPECT_EQ(r.out.find(args[0] == "info" ? "convert IN OUT" : "info FILE"), std::string::npos)
            << args[0];
    }
    const CliResult all = runCli({"--help"});
    EXPECT_NE(all.out.find("--version"), std::string::npos);
    EXPECT_NE(all.out.find("COMMAND --help"), std::string::npos);
    const CliResult version = runCli({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(std::regex_match(version.out, std::regex("phonaxis-cli [0-9]+(\\.[0-9]+)*\n")))
        << version.out;
}

TEST_F(CliTest, TimesInMessagesAreRoundedAsTheOutputsAre)
{
    // 77,175 frames at a rate a hair above 22,050 Hz: 3499.9999999999995 ms.
    testfiles::AiffLayout layout;
    layout.sampleRate = std::nextafter(22050.0, 23000.0);
    std::string error;
    ASSERT_TRUE(writeFileAtomically(path("long.aif"),
                                    testfiles::makeAiff(layout, std::vector<double>(77175)), error))
        << error;
    const CliResult r = runCli({"spectrum", path("long.aif"), "--at", "4000"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "phonaxis-cli: --at 4000 ms is beyond the recording's 3500 ms\n");
}

TEST(CliJsonTest, StringsAreEscapedAndRepaired)
{
    EXPECT_EQ(cli::jsonString("Audio"), "\"Audio\"");
    EXPECT_EQ(cli::jsonString("a\"b\\c\n"), "\"a\\\"b\\\\c\\u000a\"");
    EXPECT_EQ(cli::jsonString("\xC3\xA9t\xC3\xA9"), "\"\xC3\xA9t\xC3\xA9\"");
    // Stray and truncated bytes, overlong forms and surrogates become U+FFFD.
    EXPECT_EQ(cli::jsonString("\xFF"), "\"\xEF\xBF\xBD\"");
    EXPECT_EQ(cli::jsonString("\xC3"), "\"\xEF\xBF\xBD\"");
    EXPECT_EQ(cli::jsonString("\xC0\xAF"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");
    EXPECT_EQ(cli::jsonString("\xED\xA0\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");
    EXPECT_EQ(cli::jsonNumber(22050), "22050");
    EXPECT_EQ(cli::jsonNumber(0.1), "0.1");
    EXPECT_EQ(cli::jsonNumber(1.0 / 0.0), "null");
}

TEST_F(CliTest, ExecutableReportsStatusAndDemoOpens)
{
    const std::string cli = PHONAXIS_CLI;
    auto status = [](const std::string& command) {
        const int raw = std::system((command + " >/dev/null 2>&1").c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    };
    EXPECT_EQ(status(cli + " info '" + input() + "'"), 0);
    EXPECT_EQ(status(cli + " info '" + path("missing.wav") + "'"), 1);
    EXPECT_EQ(status(cli), 2);

    const std::string demo = path("demo.wav");
    ASSERT_EQ(status(std::string(PHONAXIS_GEN) + " demo '" + demo + "'"), 0);
    const CliResult r = runCli({"info", demo});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"channelCount\": 3"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"sampleRate\": 22050"), std::string::npos);
}

} // namespace
} // namespace phonaxis
