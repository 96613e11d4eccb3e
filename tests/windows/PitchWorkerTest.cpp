#include "windows/PitchWorker.h"

#include "PitchCorpus.h"
#include "analysis/CMathFunc.h"
#include "support/ChannelFixtures.h"
#include "support/GlideRecording.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <filesystem>
#include <iterator>
#include <map>
#include <memory>
#include <thread>
#include <vector>

namespace phonaxis {
namespace {

// Threads of this process, as the system lists them.
std::ptrdiff_t threadCount()
{
    const std::filesystem::directory_iterator tasks("/proc/self/task");
    return std::distance(begin(tasks), end(tasks));
}

// The thread count once it has come down to `expected`, or after two
// seconds: a joined thread may stay listed for a moment while the kernel
// reaps it.
std::ptrdiff_t settledThreadCount(std::ptrdiff_t expected)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    std::ptrdiff_t count = threadCount();
    while (count > expected && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        count = threadCount();
    }
    return count;
}

TEST(PitchWorker, TrackIsTheSingleThreadedOneOnItsOwnCopy)
{
    const test::Glide glide = test::glide();
    Channels channel;
    test::loadChannel(channel, glide.samples, glide.rateHz);
    const PitchParameters parameters;
    PitchAnalysis direct;
    direct.intilize(channel, 0, parameters);
    ASSERT_TRUE(direct.DoPitchCepstral(channel.samples(), 1));
    Channels measured;
    measured.Duplicate(channel);
    ASSERT_TRUE(measured.CalculateIntensity());
    const std::span<const float> intensity = measured.m_hfDataIntensity.span();

    // The glide is tracked (voiced frames away from the ends within 5 %).
    int voiced = 0;
    for (int k = 10; k + 10 < direct.m_nFrameCount; ++k) {
        const double pitch = direct.m_hdPitchFile[static_cast<std::size_t>(k)];
        const double truth = glide.f0AtMs(direct.frameTime(k) + 17.5);
        voiced += pitch > 0.0;
        EXPECT_TRUE(pitch == 0.0 || std::fabs(pitch - truth) < 0.05 * truth) << k;
    }
    EXPECT_GT(voiced, direct.m_nFrameCount * 3 / 4);

    for (const int threads : {0, 1, 2, 3, 7}) {
        SCOPED_TRACE(threads);
        Channels source;
        source.Duplicate(channel);
        PitchWorker worker(source, 0, parameters, true, threads);
        source = Channels(); // the document's samples go; the worker keeps its copy
        std::unique_ptr<PitchTrack> track = worker.take();
        ASSERT_NE(track, nullptr);
        EXPECT_EQ(worker.outcome(), PitchWorker::Outcome::Computed);
        EXPECT_EQ(worker.progress(), 1.0);
        EXPECT_EQ(track->analysis.m_hdPitchFile, direct.m_hdPitchFile); // bit for bit
        const std::span<const float> computed = track->channel.m_hfDataIntensity.span();
        EXPECT_TRUE(
            std::equal(computed.begin(), computed.end(), intensity.begin(), intensity.end()));
        EXPECT_EQ(track->summary.sampleCount(), glide.samples.size());
        EXPECT_EQ(worker.take(), nullptr); // handed over once
    }
}

TEST(PitchWorker, CancelledDestroyedOrDeclinedWorkLeavesNoTrackAndNoThread)
{
    // Ten minutes of the glide over and over: seconds of work.
    const test::Glide glide = test::glide();
    std::vector<float> samples;
    for (int i = 0; i < 600; ++i) {
        samples.insert(samples.end(), glide.samples.begin(), glide.samples.end());
    }
    Channels channel;
    test::loadChannel(channel, samples, glide.rateHz);
    const std::ptrdiff_t before = threadCount();
    {
        PitchWorker worker(channel, 0, {}, true, 2);
        worker.cancel();
        EXPECT_EQ(worker.take(), nullptr);
        EXPECT_EQ(worker.outcome(), PitchWorker::Outcome::Cancelled);
    }
    EXPECT_EQ(settledThreadCount(before), before);
    {
        PitchWorker busy(channel, 0, {}, true, 2); // destroyed while it computes
    }
    EXPECT_EQ(settledThreadCount(before), before);

    // A step shorter than one sample (1/16 ms) gives no track.
    PitchParameters tooFine;
    tooFine.m_dPitchStepSize = 0.05;
    PitchWorker declined(channel, 0, tooFine, false);
    EXPECT_EQ(declined.take(), nullptr);
    EXPECT_EQ(declined.outcome(), PitchWorker::Outcome::Failed);
}

// The pitch window's log entries give a voice's level in dBFS: the same
// with half a second of digital silence before and after it, the floor over
// the silence, and in the classic and precise modes the level at each
// record's time.
TEST(PitchWorker, LoggedIntensityIsALevelThatAddedSilenceLeavesAlone)
{
    signals::GlideParams params;
    params.noise = signals::GlideNoise::White;
    params.snrDb = 20.0;
    const signals::Glide voice = signals::pitchGlide(params);
    const auto pad = static_cast<std::size_t>(voice.rateHz / 2.0); // 500 ms
    std::vector<float> padded(pad, 0.0F);
    padded.insert(padded.end(), voice.samples.begin(), voice.samples.end());
    padded.resize(padded.size() + pad, 0.0F);

    for (const bool precise : {false, true}) {
        SCOPED_TRACE(precise ? "precise" : "classic");
        PitchParameters parameters;
        parameters.m_bPreciseAnalysis = precise;
        const auto logged = [&](const std::vector<float>& samples) {
            Channels channel;
            test::loadChannel(channel, samples, voice.rateHz);
            PitchWorker worker(channel, 0, parameters, true);
            std::unique_ptr<PitchTrack> track = worker.take();
            EXPECT_NE(track, nullptr);
            std::map<double, double> byTime; // record time → intensity
            if (track != nullptr) {
                for (const LogRecord& record : track->analysis.allLogRecords(
                         "voice.wav", [&](double t) { return track->intensityAt(t); })) {
                    byTime[record.values[0]] = record.values[2];
                    EXPECT_EQ(record.values[2], track->channel.intensityDbfsAt(record.values[0]));
                }
                const std::vector<LogRecord> all = track->analysis.rangeLogRecords(
                    "voice.wav", 0.0, 400.0, [&](double t) { return track->intensityAt(t); });
                EXPECT_FALSE(all.empty());
                for (const LogRecord& record : all) {
                    byTime[-1.0 - record.values[0]] = record.values[2]; // the start, apart
                }
            }
            return byTime;
        };
        const std::map<double, double> plain = logged(voice.samples);
        const std::map<double, double> framed = logged(padded);
        int voiced = 0;
        int compared = 0;
        for (const auto& [timeMs, level] : plain) {
            if (timeMs < 0.0) {
                continue;
            }
            ++voiced;
            EXPECT_LT(level, -10.0) << timeMs;
            EXPECT_GT(level, -60.0) << timeMs;
            // Classic frame times depend on the file's length: only the
            // precise frames (on the step grid) are the same frames.
            if (precise && framed.count(timeMs + 500.0) != 0) {
                EXPECT_EQ(framed.at(timeMs + 500.0), level) << timeMs;
                ++compared;
            }
        }
        EXPECT_GT(voiced, 200);
        EXPECT_GT(compared, precise ? 200 : -1);
        for (const auto& [key, level] : framed) {
            if (key < 0.0 && -1.0 - key < 460.0) {
                EXPECT_EQ(level, CMathFunc::kIntensityFloorDb) << -1.0 - key;
            }
        }
    }
}

} // namespace
} // namespace phonaxis
