// phonaxis-cli voice: the voice report of a generated vowel with known
// perturbation, from the audio and from the EGG, in every output form.
#include "Signals.h"
#include "VoiceSignals.h"
#include "document/FileIO.h"
#include "support/CliRunning.h"
#include "support/CliTables.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;
using test::TidyFormat;
using test::TidyTable;

class CliVoiceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = fs::temp_directory_path() / ("phonaxis-cli-voice-" + std::to_string(::getpid()));
        fs::remove_all(s_dir);
        fs::create_directories(s_dir);
        signals::VoiceSignalParams params;
        params.jitterPct = 1.0;
        params.shimmerPct = 4.0;
        params.hnrDb = 25.0;
        s_signal = signals::voiceSignal(params);
        std::vector<std::span<const float>> channels = {s_signal.audio, s_signal.egg};
        test::ScriptedPrompts prompts;
        const auto bytes = signals::waveFileBytes(s_signal.rateHz, channels, prompts);
        std::string error;
        ASSERT_TRUE(bytes && writeFileAtomically(path("vowel.wav"), *bytes, error)) << error;
    }
    static void TearDownTestSuite() { fs::remove_all(s_dir); }
    void SetUp() override
    {
        const rlimit limit{16 << 20, 16 << 20};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    static std::string path(const std::string& name) { return (s_dir / name).string(); }
    static std::vector<std::string> stretch()
    {
        return {"--from", std::to_string(s_signal.analysisFromMs), "--to",
                std::to_string(s_signal.analysisToMs)};
    }

    static inline fs::path s_dir;
    static inline signals::VoiceSignal s_signal;
};

TEST_F(CliVoiceTest, AudioAndEggRowsCarryTheMeasuresNearTheTruth)
{
    std::vector<std::string> args = {"voice", path("vowel.wav"), "--egg-channel", "1"};
    const std::vector<std::string> range = stretch();
    args.insert(args.end(), range.begin(), range.end());
    for (const TidyFormat format : {TidyFormat::Tsv, TidyFormat::Csv, TidyFormat::Json}) {
        SCOPED_TRACE(int(format));
        const TidyTable t =
            test::cliTable(args, format, {"file", "source", "name", "definition", "values"});
        ASSERT_EQ(t.rows.size(), 2u);
        EXPECT_EQ(t.rows[0].at("source"), "audio");
        EXPECT_EQ(t.rows[1].at("source"), "egg");
        EXPECT_EQ(t.rows[1].at("channel"), "1");
        const VoiceMeasures& truth = s_signal.truth;
        for (const TidyTable::Row& row : t.rows) {
            const bool egg = row.at("source") == "egg";
            SCOPED_TRACE(*row.at("source"));
            EXPECT_NEAR(std::stod(*row.at("f0_mean_hz")), truth.f0MeanHz, 2.0);
            // Generous bounds: the bench measures the accuracy; this checks
            // that each column holds its own measure.
            EXPECT_NEAR(std::stod(*row.at("jitter_local_pct")), truth.jitterLocalPct,
                        (egg ? 0.15 : 0.6) * truth.jitterLocalPct);
            EXPECT_NEAR(std::stod(*row.at("shimmer_local_pct")), truth.shimmerLocalPct,
                        (egg ? 0.15 : 0.6) * truth.shimmerLocalPct);
            EXPECT_EQ(row.at("hnr_db").has_value(), !egg);
            EXPECT_EQ(row.at("cpps_db").has_value(), !egg);
            EXPECT_EQ(row.at("cq_mean").has_value(), egg);
            EXPECT_EQ(row.at("voice_breaks"), "0");
        }
        // Jitter counts as noise, so the HNR reads below the noise added alone.
        const double hnr = std::stod(*t.rows[0].at("hnr_db"));
        EXPECT_GT(hnr, 10.0);
        EXPECT_LT(hnr, truth.hnrDb + 2.0);
    }
    // The log format: one "Voice Report Entry" record per source.
    const test::CliResult log = test::runCli(args);
    ASSERT_EQ(log.status, 0) << log.err;
    std::istringstream lines(log.out);
    std::string line;
    int entries = 0;
    while (std::getline(lines, line)) {
        entries += line.find("\tVoice Report Entry: ") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(entries, 2);
}

TEST_F(CliVoiceTest, ReportsThatCannotBeMadeSayWhy)
{
    const std::string wav = path("vowel.wav");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const Case cases[] = {
        // 30 ms hold three or four cycles: too few for a report.
        {{"voice", wav, "--from", "1000", "--to", "1030", "--egg-channel", "1"}, 1, "cycles"},
        {{"voice", wav, "--egg-channel", "2"}, 2, "beyond the file's 2 channels"},
        {{"voice", wav, "--egg-channel", "0"}, 2, "is the audio channel"},
        {{"voice", wav, "--at", "100"}, 2, "voice does not take --at"},
        {{"voice", wav, "--from", "100"}, 2, "--from and --to go together"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        const test::CliResult r = test::runCli(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
    // Without an EGG channel the audio alone is reported.
    std::vector<std::string> args = {"voice", wav, "--table"};
    const std::vector<std::string> range = stretch();
    args.insert(args.end(), range.begin(), range.end());
    const test::CliResult audio = test::runCli(args);
    ASSERT_EQ(audio.status, 0) << audio.err;
    EXPECT_EQ(std::count(audio.out.begin(), audio.out.end(), '\n'), 2);
}

} // namespace
} // namespace phonaxis
