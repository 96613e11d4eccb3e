#include "AudioDevices.h"
#include "audio/AudioPlayer.h"
#include "audio/AudioNoticeQueue.h"
#include "audio/portaudio/PortAudioBackend.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace phonaxis {
namespace {

constexpr double kPi = 3.14159265358979;

// A tone whose first sample is not 0.
std::vector<float> tone(std::size_t count, double rateHz, double frequencyHz, double phase = 0.5) {
    std::vector<float> samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        samples[i] = static_cast<float>(
            0.5 * std::sin(2.0 * kPi * frequencyHz * static_cast<double>(i) / rateHz + phase));
    }
    return samples;
}

// The real PortAudio backend, except that the device refuses one rate and
// plays it at another, as many cards refuse 11,025 Hz.
class RefusingRateBackend final : public AudioBackend {
public:
    RefusingRateBackend(double refusedHz, double playedHz) : m_refused(refusedHz), m_played(playedHz) {}
    double outputRateFor(const std::string& device, double rateHz, std::string& error) override {
        const double rate = m_real.outputRateFor(device, rateHz, error);
        return rate == m_refused ? m_played : rate;
    }
    double inputRateFor(const std::string& device, double rateHz, std::string& error) override {
        return m_real.inputRateFor(device, rateHz, error);
    }
    std::unique_ptr<AudioStream> openOutput(const std::string& device, double rateHz,
                                            AudioRenderer& renderer, std::string& error) override {
        return m_real.openOutput(device, rateHz, renderer, error);
    }
    std::unique_ptr<AudioStream> openInput(const std::string& device, double rateHz,
                                           AudioCapturer& capturer, std::string& error) override {
        return m_real.openInput(device, rateHz, capturer, error);
    }
    bool convertRate(std::span<const float> in, double fromHz, double toHz, std::vector<float>& out,
                     std::string& error) override {
        return m_real.convertRate(in, fromHz, toHz, out, error);
    }

private:
    PortAudioBackend m_real;
    double m_refused;
    double m_played;
};

class AudioPlayerTest : public ::testing::Test {
protected:
    // Hands the notices to the player as the main thread would, until the
    // current play's `Finished` notice; returns the elapsed times it was
    // told, in order.
    std::vector<double> runToEnd(AudioPlayer& player) {
        std::vector<double> elapsed;
        for (;;) {
            const auto notice = m_notices.next(std::chrono::seconds(20));
            if (!notice) {
                ADD_FAILURE() << "no notice from the playback";
                player.stop();
                return elapsed;
            }
            player.handleNotice(*notice);
            if (notice->session != player.session()) {
                continue;
            }
            elapsed.push_back(notice->elapsedMs);
            if (notice->kind == AudioNotice::Kind::Finished) {
                return elapsed;
            }
        }
    }

    test::AlsaFileDevices m_devices;
    AudioNoticeQueue m_notices;
};

// Every sample of the range reaches the device, the last partial block too,
// and nothing before or after it; the elapsed times grow to the range's
// length in the channel's time.
TEST_F(AudioPlayerTest, PlaysEverySampleOfTheRange) {
    struct Case {
        const char* what;
        double start;
        double count;
    };
    const Case cases[] = {
        {"whole channel", 0.0, 30000.0},
        {"selection ending in a partial block", 1234.7, 5001.2},
        {"range past the end is clipped", 29000.0, 5000.0},
    };
    const double rate = 22050.0;
    const auto channel = tone(30000, rate, 440.0);
    PortAudioBackend backend;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AudioPlayer player(backend, m_notices.poster());
        const AudioResult result = player.play(channel, c.start, c.count, rate, "phxplay");
        ASSERT_TRUE(result.ok) << result.message;
        EXPECT_EQ(player.deviceRateHz(), rate);
        const auto elapsed = runToEnd(player);
        EXPECT_FALSE(player.isPlaying());

        const auto first = static_cast<std::size_t>(c.start);
        const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(c.count),
                                                         channel.size() - first);
        const auto played = m_devices.readPlayed();
        ASSERT_GE(played.size(), count);
        EXPECT_EQ(std::memcmp(played.data(), channel.data() + first, count * sizeof(float)), 0);
        for (std::size_t i = count; i < played.size(); ++i) {
            ASSERT_EQ(played[i], 0.0f) << "after the range, at " << i;
        }
        ASSERT_FALSE(elapsed.empty());
        for (std::size_t i = 1; i < elapsed.size(); ++i) {
            EXPECT_GE(elapsed[i], elapsed[i - 1]);
        }
        EXPECT_NEAR(elapsed.back(), static_cast<double>(count) * 1000.0 / rate, 1e-9);
    }
}

// An output whose blocks the test asks for, one at a time, so that where a
// play ends is certain.
class HandDrivenOutput final : public AudioBackend {
public:
    class Stream final : public AudioStream {
    public:
        explicit Stream(std::vector<bool>& stops) : m_stops(stops) {}
        AudioResult start() override { return {}; }
        void stop(bool drain) noexcept override { m_stops.push_back(drain); }
        bool isActive() const override { return true; }
        double rateHz() const override { return 22050.0; }
        const std::string& deviceName() const override { return m_name; }

    private:
        std::vector<bool>& m_stops;
        std::string m_name = "hand";
    };

    double outputRateFor(const std::string&, double rateHz, std::string&) override
    {
        return rateHz;
    }
    double inputRateFor(const std::string&, double, std::string&) override { return 0.0; }
    std::unique_ptr<AudioStream> openOutput(const std::string&, double, AudioRenderer& renderer,
                                            std::string&) override
    {
        m_renderer = &renderer;
        return std::make_unique<Stream>(stops);
    }
    std::unique_ptr<AudioStream> openInput(const std::string&, double, AudioCapturer&,
                                           std::string& error) override
    {
        error = "no input";
        return nullptr;
    }
    bool convertRate(std::span<const float>, double, double, std::vector<float>&,
                     std::string& error) override
    {
        error = "no conversion";
        return false;
    }
    bool render(float* out, std::size_t frames) { return m_renderer->render(out, frames); }

    std::vector<bool> stops; // each stop of a stream: whether it let its blocks play out

private:
    AudioRenderer* m_renderer = nullptr;
};

// The block that reaches the range's end is the last: it holds the range's
// last samples, then silence, and the play finishes with it, once, at the
// range's length. An empty range is one block of silence.
TEST_F(AudioPlayerTest, ThePlayEndsWithTheBlockThatReachesTheRangesEnd)
{
    const auto channel = tone(1000, 22050.0, 440.0);
    for (const std::size_t count : {768, 769, 1, 0}) {
        SCOPED_TRACE(count);
        HandDrivenOutput backend;
        AudioPlayer player(backend, m_notices.poster());
        ASSERT_TRUE(player.play(channel, 10.0, double(count), 22050.0).ok);
        std::vector<float> played;
        std::vector<float> block(256);
        bool more = true;
        for (int blocks = 0; more && blocks < 100; ++blocks) {
            more = backend.render(block.data(), block.size());
            played.insert(played.end(), block.begin(), block.end());
        }
        ASSERT_EQ(played.size(), std::max<std::size_t>(1, (count + 255) / 256) * 256);
        auto expected =
            std::vector<float>(channel.begin() + 10, channel.begin() + 10 + std::ptrdiff_t(count));
        expected.resize(played.size(), 0.0f);
        EXPECT_EQ(played, expected);
        std::vector<double> finished;
        while (const auto notice = m_notices.next(std::chrono::milliseconds(0))) {
            if (notice->session == player.session() &&
                notice->kind == AudioNotice::Kind::Finished) {
                finished.push_back(notice->elapsedMs);
            }
            player.handleNotice(*notice);
        }
        EXPECT_EQ(finished, std::vector<double>{double(count) * 1000.0 / 22050.0});
        EXPECT_FALSE(player.isPlaying());
        EXPECT_EQ(backend.stops, std::vector<bool>{true}); // the last block is heard whole
    }
}

// While playing, the elapsed time is told about every 0.05 s of sound, at
// the first block that reaches it; a play the user stops ends at once,
// without playing out what the device still holds.
TEST_F(AudioPlayerTest, ElapsedTimeIsToldEveryTwentiethOfASecondAndAStopIsAtOnce)
{
    const auto channel = tone(22050, 22050.0, 440.0);
    HandDrivenOutput backend;
    AudioPlayer player(backend, m_notices.poster());
    ASSERT_TRUE(player.play(channel, 0.0, 22050.0, 22050.0).ok);
    std::vector<float> block(256);
    for (int i = 0; i < 43; ++i) {
        ASSERT_TRUE(backend.render(block.data(), block.size()));
    }
    std::vector<double> elapsed{0.0};
    while (const auto notice = m_notices.next(std::chrono::milliseconds(0))) {
        if (notice->session == player.session()) {
            EXPECT_EQ(notice->kind, AudioNotice::Kind::Elapsed);
            elapsed.push_back(notice->elapsedMs);
        }
    }
    elapsed.push_back(43 * 256 * 1000.0 / 22050.0); // where the play stands
    const double blockMs = 256 * 1000.0 / 22050.0;
    ASSERT_GE(elapsed.size(), 10u);
    EXPECT_NEAR(elapsed[1], blockMs, 1e-9);
    for (std::size_t i = 2; i + 1 < elapsed.size(); ++i) {
        EXPECT_GE(elapsed[i] - elapsed[i - 1], 50.0) << i;
    }
    for (std::size_t i = 1; i < elapsed.size(); ++i) {
        EXPECT_LT(elapsed[i] - elapsed[i - 1], 50.0 + blockMs) << i;
    }
    player.stop();
    EXPECT_EQ(backend.stops, std::vector<bool>{false});
    EXPECT_FALSE(player.isPlaying());
}

// A device that does not take 11,025 Hz gets the range converted to its
// own rate before the stream starts; the elapsed time stays in the
// channel's time.
TEST_F(AudioPlayerTest, ConvertsToARateTheDeviceTakes) {
    const double channelRate = 11025.0;
    const double deviceRate = 44100.0;
    const std::size_t count = 11025;
    const auto channel = tone(count, channelRate, 300.0);
    RefusingRateBackend backend(channelRate, deviceRate);
    AudioPlayer player(backend, m_notices.poster());
    const AudioResult result = player.play(channel, 0.0, static_cast<double>(count), channelRate,
                                           "phxplay");
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(player.deviceRateHz(), deviceRate);
    const auto elapsed = runToEnd(player);
    EXPECT_NEAR(elapsed.back(), 1000.0, 0.1);

    const auto played = m_devices.readPlayed();
    const auto expected = tone(4 * count, deviceRate, 300.0);
    ASSERT_GE(played.size(), 4 * count - 8);
    // Away from the two ends, where the converter's filter starts and stops.
    for (std::size_t i = 400; i + 400 < 4 * count; ++i) {
        ASSERT_NEAR(played[i], expected[i], 2e-3) << "at " << i;
    }
}

// A device that runs only when the test pulls a block from it, so that what
// the callback reads after `play` returns is certain.
class PulledBackend final : public AudioBackend {
public:
    class Stream final : public AudioStream {
    public:
        Stream(std::string name, const bool& running) : m_name(std::move(name)), m_running(running) {}
        AudioResult start() override { return {}; }
        void stop(bool) noexcept override {}
        bool isActive() const override { return m_running; }
        double rateHz() const override { return 22050.0; }
        const std::string& deviceName() const override { return m_name; }

    private:
        std::string m_name;
        const bool& m_running;
    };

    double outputRateFor(const std::string&, double rateHz, std::string&) override { return rateHz; }
    double inputRateFor(const std::string&, double rateHz, std::string&) override { return rateHz; }
    std::unique_ptr<AudioStream> openOutput(const std::string&, double, AudioRenderer& renderer,
                                            std::string&) override {
        m_renderer = &renderer;
        return std::make_unique<Stream>("pulled", running);
    }
    std::unique_ptr<AudioStream> openInput(const std::string&, double, AudioCapturer&,
                                           std::string&) override {
        return nullptr;
    }
    bool convertRate(std::span<const float>, double, double, std::vector<float>&,
                     std::string&) override {
        return false;
    }

    // Pulls blocks of `frames` until the renderer says the last one came.
    std::vector<float> pullAll(std::size_t frames) {
        std::vector<float> heard;
        std::vector<float> block(frames);
        bool more = true;
        while (more) {
            more = m_renderer->render(block.data(), frames);
            heard.insert(heard.end(), block.begin(), block.end());
        }
        return heard;
    }

    bool running = true;  // false: the device went away

private:
    AudioRenderer* m_renderer = nullptr;
};

// The player plays its own copy: the channel's samples may be changed or
// freed as soon as `play` returns (the document edited or closed).
TEST_F(AudioPlayerTest, FreeingTheChannelDuringPlayChangesNothingHeard) {
    auto channel = std::make_unique<std::vector<float>>(tone(6000, 22050.0, 220.0));
    const std::vector<float> original(channel->begin() + 100, channel->begin() + 5100);
    PulledBackend backend;
    AudioPlayer player(backend, m_notices.poster());
    ASSERT_TRUE(player.play(*channel, 100.0, 5000.0, 22050.0).ok);
    std::fill(channel->begin(), channel->end(), 1.0f);
    channel.reset();
    const auto heard = backend.pullAll(512);
    ASSERT_EQ(heard.size(), 10u * 512u);
    EXPECT_TRUE(std::equal(original.begin(), original.end(), heard.begin()));
    EXPECT_TRUE(std::all_of(heard.begin() + 5000, heard.end(), [](float v) { return v == 0.0f; }));
    EXPECT_FALSE(player.isPlaying());
}

// A device that stops by itself (unplugged) leaves no play marked running.
TEST_F(AudioPlayerTest, DeviceGoneEndsThePlay) {
    const auto channel = tone(6000, 22050.0, 220.0);
    PulledBackend backend;
    AudioPlayer player(backend, m_notices.poster());
    ASSERT_TRUE(player.play(channel, 0.0, 6000.0, 22050.0).ok);
    EXPECT_TRUE(player.isPlaying());
    backend.running = false;
    EXPECT_FALSE(player.isPlaying());
}

// Stop, restart and the notices of a stopped play: a stale `Finished`
// never stops the play that replaced it.
TEST_F(AudioPlayerTest, StopAndRestart) {
    const auto channel = tone(22050 * 20, 22050.0, 440.0);
    PortAudioBackend backend;
    AudioPlayer player(backend, m_notices.poster());
    ASSERT_TRUE(player.play(channel, 0.0, static_cast<double>(channel.size()), 22050.0, "phxplay").ok);
    const unsigned long first = player.session();
    player.stop();
    EXPECT_FALSE(player.isPlaying());

    ASSERT_TRUE(player.play(channel, 0.0, 2000.0, 22050.0, "phxplay").ok);
    EXPECT_NE(player.session(), first);
    player.handleNotice({AudioNotice::Kind::Finished, 0.0, first});
    bool finished = false;
    while (auto notice = m_notices.next(std::chrono::seconds(20))) {
        player.handleNotice(*notice);
        if (notice->kind == AudioNotice::Kind::Finished && notice->session == player.session()) {
            finished = true;
            break;
        }
    }
    EXPECT_TRUE(finished);
    EXPECT_FALSE(player.isPlaying());
    const auto played = m_devices.readPlayed();
    ASSERT_GE(played.size(), 2000u);
    EXPECT_EQ(std::memcmp(played.data(), channel.data(), 2000 * sizeof(float)), 0);
}

TEST_F(AudioPlayerTest, ErrorsLeaveThePlayerIdle) {
    struct Case {
        const char* what;
        const char* device;
        double rate;
        const char* message;
    };
    const Case cases[] = {
        {"no such device", "phx-no-such-device",  22050.0,
         "There is no audio output device named \"phx-no-such-device\"."},
        {"no rate", "phxplay", 0.0, "The channel has no sample rate to play at."},
    };
    const auto channel = tone(1000, 22050.0, 440.0);
    PortAudioBackend backend;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AudioPlayer player(backend, m_notices.poster());
        const AudioResult result = player.play(channel, 0.0, 1000.0, c.rate, c.device);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.message, c.message);
        EXPECT_FALSE(player.isPlaying());
    }
}

} // namespace
} // namespace phonaxis
