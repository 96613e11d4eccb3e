// The analyses read a WAV file from its header and then only the samples
// they need. Whatever they read, their rows must be those of the recording
// read whole: here the same recording as a native file (read whole) gives
// the reference.

#include "Signals.h"
#include "cli/CliCommands.h"
#include "document/FileIO.h"
#include "support/CliRunning.h"
#include "support/FileProbes.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <random>
#include <span>
#include <sstream>
#include <string>
#include <vector>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;
using test::CliResult;
using test::runCli;

// The --table rows without the file column, which names each file.
std::string rowsWithoutFile(const std::string& table)
{
    std::istringstream in(table);
    std::string out;
    for (std::string line; std::getline(in, line);) {
        out += line.substr(line.find('\t') + 1) + '\n';
    }
    return out;
}

class CliStretchReadingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = fs::temp_directory_path() / ("phonaxis-cli-stretch-" + std::to_string(::getpid()));
        fs::remove_all(s_dir);
        fs::create_directories(s_dir);
        // 12 s at 44,100 Hz: the a-i-u sequence over and over on channel 0
        // with noise, a loud burst near the start that no stretch below
        // reaches, and on channel 1 the sequence 34 dB down with the burst:
        // the precise pitch track, which weighs its frames against the
        // loudest near them, calls that channel voiced only where the burst
        // is out of its reach.
        const signals::VowelSequence sequence = signals::vowelSequence(44100.0, 3000.0);
        std::vector<float> audio;
        while (audio.size() < std::size_t{44100} * 12) {
            audio.insert(audio.end(), sequence.audio.begin(), sequence.audio.end());
        }
        std::vector<float> other(audio);
        std::mt19937 noise(7);
        std::normal_distribution<float> gauss(0.0f, 0.002f);
        for (std::size_t i = 0; i < audio.size(); ++i) {
            audio[i] += gauss(noise);
            other[i] *= 0.02f;
        }
        for (std::size_t i = 4410; i < 8820; ++i) {
            audio[i] = (i / 20) % 2 == 0 ? 0.99f : -0.99f;
            other[i] = audio[i];
        }
        test::ScriptedPrompts prompts;
        const std::span<const float> channels[] = {audio, other};
        const auto bytes = signals::waveFileBytes(44100.0, channels, prompts);
        std::string error;
        ASSERT_TRUE(bytes && bytes->size() < (std::size_t{8} << 20));
        ASSERT_TRUE(writeFileAtomically(path("in.wav"), *bytes, error)) << error;
        const CliResult converted = runCli({"convert", path("in.wav"), path("in.pmf")});
        ASSERT_EQ(converted.status, 0) << converted.err;
    }
    static void TearDownTestSuite() { fs::remove_all(s_dir); }

    static std::string path(const char* name) { return (s_dir / name).string(); }

    static inline fs::path s_dir;
};

// Whether two PNG pictures are the same but for the caption line at their
// top (which names the file).
bool samePictureBelowCaption(const std::string& a, const std::string& b);

TEST_F(CliStretchReadingTest, StretchesGiveTheRowsOfTheRecordingReadWhole)
{
    const std::vector<std::vector<std::string>> commands = {
        {"formant-track", "--from", "6000", "--to", "6500"},
        {"formant-track", "--from", "6000", "--to", "6500", "--classic"},
        {"formant-track", "--from", "0", "--to", "300", "--step", "7"},
        {"formant-track", "--from", "11800", "--to", "12000", "--channel", "1"},
        {"spectrum", "--at", "7000"},
        {"spectrum", "--at", "7000", "--classic"},
        {"spectrum", "--from", "5000", "--to", "5600", "--frame"},
        {"spectrogram", "--from", "9000", "--to", "9800", "--columns", "80"},
        {"spectrogram", "--from", "9000", "--to", "9800", "--columns", "80", "--classic"},
        {"pitch", "--from", "6000", "--to", "6500"},
        {"pitch", "--from", "4000", "--to", "4200", "--set", "m_dPitchStepSize=80", "--channel",
         "1"},
        {"pitch", "--from", "6000", "--to", "6500", "--classic"},
        {"egg", "--channel", "1"},
    };
    for (const auto& command : commands) {
        std::vector<std::string> wav = {command[0], path("in.wav")};
        wav.insert(wav.end(), command.begin() + 1, command.end());
        wav.push_back("--table");
        std::vector<std::string> native = wav;
        native[1] = path("in.pmf");
        SCOPED_TRACE(::testing::PrintToString(wav));
        const CliResult fromWav = runCli(wav);
        const CliResult whole = runCli(native);
        ASSERT_EQ(fromWav.status, 0) << fromWav.err;
        ASSERT_EQ(whole.status, 0) << whole.err;
        EXPECT_GT(whole.out.size(), 100u);
        EXPECT_EQ(rowsWithoutFile(fromWav.out), rowsWithoutFile(whole.out));
    }
    // The spectrogram's picture of a stretch is drawn from the stretch too.
    for (const char* input : {"in.wav", "in.pmf"}) {
        const CliResult drawn =
            runCli({"spectrogram", path(input), "--from", "9000", "--to", "9800", "--png",
                    path(input) + std::string(".png")});
        ASSERT_EQ(drawn.status, 0) << drawn.err;
    }
    const std::string fromWav = test::fileBytes(path("in.wav") + std::string(".png"));
    EXPECT_GT(fromWav.size(), 1000u);
    EXPECT_TRUE(samePictureBelowCaption(fromWav, test::fileBytes(path("in.pmf") + std::string(".png"))));
}

} // namespace
} // namespace phonaxis

#ifdef PHONAXIS_HAVE_DISPLAY
// Qt last: it makes "signals" a keyword.
#include <QImage>
#endif

namespace phonaxis {
namespace {

bool samePictureBelowCaption(const std::string& a, const std::string& b)
{
#ifdef PHONAXIS_HAVE_DISPLAY
    const QImage first = QImage::fromData(QByteArray::fromStdString(a));
    const QImage second = QImage::fromData(QByteArray::fromStdString(b));
    constexpr int kBelowCaption = 40;
    return !first.isNull() && first.size() == second.size() && first.height() > kBelowCaption &&
           first.copy(0, kBelowCaption, first.width(), first.height() - kBelowCaption) ==
               second.copy(0, kBelowCaption, second.width(), second.height() - kBelowCaption);
#else
    // Without the display library the picture is the image alone.
    return a == b;
#endif
}

} // namespace
} // namespace phonaxis
