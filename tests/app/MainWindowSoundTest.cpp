// Playing and recording from the document window: the real PortAudio and
// ALSA stack on ALSA file devices (this test's own default device), and a
// device the test drives for the play cursor.
#include "Signals.h" // before Qt: its "signals" keyword is a macro
#include "support/ScriptedPrompts.h"

namespace {

// A mono 32-bit float WAV of `samples` at `rateHz`.
std::optional<phonaxis::Bytes> monoWav(const std::vector<float>& samples, double rateHz,
                                       phonaxis::Prompts& prompts)
{
    const std::span<const float> channels[] = {samples};
    return phonaxis::signals::waveFileBytes(rateHz, channels, prompts);
}

} // namespace

#include "app/Application.h"
#include "app/MainWindowController.h"
#include "audio/FloatWav.h"
#include "audio/ui/SoundSession.h"
#include "display/MainViewLayout.h"
#include "display/MainViewModel.h"
#include "display/MainViewPane.h"
#include "display/SpectrogramGraph.h"
#include "document/AppSettings.h"
#include "document/MyDocument.h"
#include "document/PrivateFiles.h"
#include "support/AnalysisWindowTesting.h"
#include "support/AppFixture.h"
#include "support/RunawayGuard.h"
#include "windows/PitchAnalysis.h"
#include "windows/PitchWorker.h"
#include "windows/ui/PitchWindowController.h"
#include "windows/ui/SpectrogramWindowController.h"

#include <QAction>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <sys/wait.h>
#include <unistd.h>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;
using test::waitFor;

// A tone of `ms` at `rateHz` that neither starts nor ends at 0.
std::vector<float> tone(double frequencyHz, double rateHz, double ms)
{
    std::vector<float> samples(static_cast<std::size_t>(std::lround(ms * rateHz / 1000.0)));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<float>(
            0.5 * std::sin(2.0 * 3.14159265358979 * frequencyHz * double(i) / rateHz + 0.4) + 0.01);
    }
    return samples;
}

// The default ALSA device of this process: playback into a raw float file,
// capture from another (or, `withDevice` false, a default that does not
// exist). ALSA reads the asoundrc in HOME, so it must be written before the
// first sound-card use of the process.
class DefaultAlsaDevice {
public:
    explicit DefaultAlsaDevice(bool withDevice = true)
    {
        const char* tmp = std::getenv("TMPDIR");
        m_folder = fs::path(tmp ? tmp : "/tmp") / ("app-sound-" + std::to_string(::getpid()));
        fs::create_directories(m_folder);
        std::ofstream rc(m_folder / ".asoundrc", std::ios::trunc);
        if (withDevice) {
            rc << "pcm.!default {\n  type asym\n"
               << "  playback.pcm { type file slave.pcm \"null\" file \"" << playedPath()
               << "\" format \"raw\" }\n"
               << "  capture.pcm { type file slave.pcm \"null\" file \"/dev/null\" infile \""
               << inputPath() << "\" format \"raw\" }\n}\n";
        } else {
            rc << "pcm.!default { type hw card 97 }\nctl.!default { type hw card 97 }\n";
        }
        rc.close();
        std::ofstream(inputPath(), std::ios::binary | std::ios::trunc);
        ::setenv("HOME", m_folder.c_str(), 1);
        ::unsetenv("ALSA_CONFIG_PATH");
    }
    ~DefaultAlsaDevice() { fs::remove_all(m_folder); }

    std::string playedPath() const { return (m_folder / "played.raw").string(); }
    std::string inputPath() const { return (m_folder / "input.raw").string(); }

    // What reached the device since the last call, without the silence
    // around the sound (the tests' signals start and end away from 0).
    std::vector<float> takePlayed() const
    {
        std::vector<float> samples;
        {
            std::ifstream in(playedPath(), std::ios::binary);
            std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
            samples.resize(bytes.size() / sizeof(float));
            std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
        }
        fs::remove(playedPath());
        const auto first =
            std::find_if(samples.begin(), samples.end(), [](float v) { return v != 0.0f; });
        const auto last =
            std::find_if(samples.rbegin(), samples.rend(), [](float v) { return v != 0.0f; });
        return first < last.base() ? std::vector<float>(first, last.base()) : std::vector<float>{};
    }

    void writeInput(const std::vector<float>& samples) const
    {
        std::ofstream(inputPath(), std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(samples.data()),
                   std::streamsize(samples.size() * sizeof(float)));
    }

private:
    fs::path m_folder;
};

// A device that takes a block only when the test pulls one, and delivers
// input only when the test pushes it, so that what the window sees is known
// exactly; it can be unplugged.
class PulledBackend final : public AudioBackend {
public:
    class Stream final : public AudioStream {
    public:
        Stream(PulledBackend& owner, bool output) : m_owner(owner), m_output(output) {}
        ~Stream() override { stop(false); }
        AudioResult start() override { return {}; }
        void stop(bool) noexcept override
        {
            if (m_output) {
                m_owner.m_renderer = nullptr;
            } else {
                m_owner.m_capturer = nullptr;
            }
        }
        bool isActive() const override
        {
            return !m_owner.m_unplugged &&
                   (m_output ? m_owner.m_renderer != nullptr && m_owner.m_more
                             : m_owner.m_capturer != nullptr);
        }
        double rateHz() const override { return 11025.0; }
        const std::string& deviceName() const override { return m_name; }

    private:
        PulledBackend& m_owner;
        bool m_output;
        std::string m_name = "pulled";
    };

    double outputRateFor(const std::string&, double rateHz, std::string&) override
    {
        return rateHz;
    }
    double inputRateFor(const std::string&, double rateHz, std::string&) override { return rateHz; }
    std::unique_ptr<AudioStream> openOutput(const std::string&, double, AudioRenderer& renderer,
                                            std::string&) override
    {
        m_renderer = &renderer;
        m_more = true;
        return std::make_unique<Stream>(*this, true);
    }
    std::unique_ptr<AudioStream> openInput(const std::string&, double, AudioCapturer& capturer,
                                           std::string&) override
    {
        m_capturer = &capturer;
        return std::make_unique<Stream>(*this, false);
    }
    bool convertRate(std::span<const float>, double, double, std::vector<float>&,
                     std::string& error) override
    {
        error = "no conversion here";
        return false;
    }

    // Hands one block of `frames` to the device; false once none is open.
    bool pull(std::size_t frames)
    {
        if (m_renderer == nullptr || !m_more || m_unplugged) {
            return false;
        }
        std::vector<float> block(frames);
        m_more = m_renderer->render(block.data(), frames);
        return true;
    }
    // Delivers `samples` as one input block.
    void push(const std::vector<float>& samples)
    {
        if (m_capturer != nullptr && !m_unplugged) {
            m_capturer->capture(samples.data(), samples.size());
        }
    }
    void unplug() { m_unplugged = true; }
    void replug() { m_unplugged = false; }

private:
    AudioRenderer* m_renderer = nullptr;
    AudioCapturer* m_capturer = nullptr;
    bool m_more = false;
    bool m_unplugged = false;
};

class MainWindowSoundTest : public test::AppFixture {
protected:
    MainWindowSoundTest() : AppFixture("phonaxis-sound-") {}

    test::RunawayGuard m_guard; // a recording or play without end fails, bounded

    // A shown window on a mono tone of `ms` at 11025 Hz (first sample not 0).
    MainWindowController* openTone(double ms = 1000.0)
    {
        m_tone = tone(440.0, 11025.0, ms);
        return openShown(*monoWav(m_tone, 11025.0, prompts), "tone.wav");
    }

    // Selects from `fromMs` to `toMs` as a drag over the view would.
    static void select(MainWindowController& window, double fromMs, double toMs)
    {
        MainViewModel& view = window.viewModel();
        view.DoOnLButtonDown(fromMs, 0.0, false);
        view.TrackMouseDragged(toMs, 0.0, false);
        view.DoOnLButtonUp(toMs, 0.0, false);
        window.refreshCommands();
    }

    static std::vector<float> range(const std::vector<float>& samples, double start, double count)
    {
        const auto first = samples.begin() + std::ptrdiff_t(start);
        return {first, first + std::ptrdiff_t(count)};
    }

    std::vector<float> m_tone;
};

// The three ranges reach the default output whole, every sample of them and
// nothing else, and the play ends by itself.
TEST_F(MainWindowSoundTest, PlaysTheChannelTheSelectionAndThePage)
{
    DefaultAlsaDevice device;
    MainWindowController* window = openTone();
    ASSERT_NE(window, nullptr);
    MainViewModel& view = window->viewModel();
    Channels& first = window->document().getChannel(0);

    window->action("_Play:")->trigger();
    EXPECT_TRUE(view.m_bPlaying);
    ASSERT_TRUE(waitFor([&] { return !view.m_bPlaying; }));
    EXPECT_EQ(device.takePlayed(), m_tone);

    select(*window, 250.0, 400.0);
    ASSERT_TRUE(window->isCommandEnabled("_PlaySelection:"));
    window->action("_PlaySelection:")->trigger();
    ASSERT_TRUE(waitFor([&] { return !view.m_bPlaying; }));
    EXPECT_EQ(device.takePlayed(),
              range(m_tone, first.m_dDurationStartFile, first.m_dDurationFile));

    window->action("_ZoomIn:")->trigger();
    ASSERT_GT(first.m_dPageMin, 0.0);
    window->action("_PlayWindow:")->trigger();
    ASSERT_TRUE(waitFor([&] { return !view.m_bPlaying; }));
    EXPECT_EQ(device.takePlayed(), range(m_tone, first.m_dPageMin, first.m_dPageSize));
    EXPECT_TRUE(prompts.alerts.empty());
}

// A recording from the default input becomes channel 0 of the new
// document, at the rate of the record/play settings; it counts as unsaved,
// and recording over it asks first.
TEST_F(MainWindowSoundTest, RecordsTheInputIntoTheNewDocument)
{
    DefaultAlsaDevice device;
    const std::vector<float> input = tone(330.0, 22050.0, 2000.0);
    device.writeInput(input);
    settings.g_nRecordSampleRate = 22050;
    MainWindowController* window = application->newDocument();
    window->resize(700, 400);
    window->show();
    MainViewModel& view = window->viewModel();
    ASSERT_TRUE(window->isCommandEnabled("_Record:"));
    window->action("_Record:")->trigger();
    ASSERT_TRUE(view.m_bRecording);
    EXPECT_FALSE(window->isCommandEnabled("_Play:"));
    ASSERT_TRUE(waitFor([&] { return view.m_dSeconds >= 0.2; }));
    QTest::mouseClick(window->mainView(), Qt::LeftButton, {}, QPoint(300, 100));
    EXPECT_FALSE(window->viewModel().m_bRecording);

    MyDocument& document = window->document();
    ASSERT_TRUE(document.m_bHaveData);
    EXPECT_EQ(document.m_nNumofChannels, 1);
    EXPECT_TRUE(document.m_bNewFile);
    EXPECT_GT(document.changeCount(), 0);
    const Channels& channel = document.getChannel(0);
    EXPECT_EQ(channel.m_dSampleRate, 22050.0);
    // The file device delivers its input faster than real time, then
    // silence: the recording starts with the whole input.
    const auto recorded = channel.samples();
    ASSERT_GE(recorded.size(), input.size());
    EXPECT_EQ(std::memcmp(recorded.data(), input.data(), input.size() * sizeof(float)), 0);
    EXPECT_FALSE(window->viewModel().m_bHaveMarker); // the stopping press marks nothing
    EXPECT_TRUE(prompts.alerts.empty());

    // Cancel keeps the recording; Override records over it.
    prompts.alertReplies = {-1, 0};
    window->action("_Record:")->trigger();
    ASSERT_EQ(prompts.alerts.size(), 1u);
    EXPECT_EQ(prompts.alerts[0].title, "Save before recording?");
    EXPECT_FALSE(window->viewModel().m_bRecording);
    window->action("_Record:")->trigger();
    EXPECT_TRUE(window->viewModel().m_bRecording);

    // Closing while recording keeps the recording and asks about it.
    prompts.alertReplies = {0}; // Cancel the close
    EXPECT_FALSE(window->close());
    EXPECT_FALSE(window->viewModel().m_bRecording);
    EXPECT_TRUE(window->document().m_bHaveData);
    ASSERT_EQ(prompts.alerts.size(), 3u);
    EXPECT_EQ(prompts.alerts[2].defaultButton, "Save");
}

// The pitch window plays the page it shows, the spectrogram window the range
// it analysed; the spectrogram leaves the whole channel to the main view.
TEST_F(MainWindowSoundTest, AnalysisWindowsPlayWhatTheyShow)
{
    DefaultAlsaDevice device;
    MainWindowController* window = openTone(1500.0);
    ASSERT_NE(window, nullptr);

    window->action("_AnalysisPitch:")->trigger();
    auto* pitch = qobject_cast<PitchWindowController*>(window->analysisWindows().back());
    ASSERT_NE(pitch, nullptr);
    ASSERT_TRUE(waitFor([&] { return pitch->track() != nullptr; }));
    pitch->refreshCommands();
    EXPECT_FALSE(pitch->isCommandEnabled("_PlaySelection:"));
    pitch->action("_Play:")->trigger();
    ASSERT_TRUE(waitFor([&] { return !window->viewModel().m_bPlaying; }));
    const PitchAnalysis& analysis = pitch->track()->analysis;
    EXPECT_EQ(device.takePlayed(),
              range(m_tone, analysis.m_dPageMin, analysis.m_dPageMax - analysis.m_dPageMin));

    select(*window, 300.0, 900.0);
    SpectrogramWindowController* spectrogram = window->AnalysisSpectrogramSelection();
    ASSERT_NE(spectrogram, nullptr);
    ASSERT_TRUE(waitFor([&] { return spectrogram->graph() != nullptr && spectrogram->result(); }));
    spectrogram->refreshCommands();
    EXPECT_FALSE(spectrogram->isCommandEnabled("_Play:"));
    spectrogram->action("_PlayWindow:")->trigger();
    ASSERT_TRUE(waitFor([&] { return !window->viewModel().m_bPlaying; }));
    const SpectrogramGraphInput& graph = *spectrogram->graph();
    EXPECT_EQ(device.takePlayed(),
              range(m_tone, graph.startPoint, graph.endPoint - graph.startPoint));
    EXPECT_TRUE(prompts.alerts.empty());
}

// A device that goes away ends the play with an alert, and ends a recording
// keeping what it delivered.
TEST_F(MainWindowSoundTest, DeviceGoneEndsPlayAndKeepsTheRecording)
{
    auto owned = std::make_unique<PulledBackend>();
    PulledBackend& device = *owned;
    application->setSoundBackend(std::move(owned));
    MainWindowController* window = openTone();
    ASSERT_NE(window, nullptr);
    window->action("_Play:")->trigger();
    ASSERT_TRUE(device.pull(512));
    device.unplug();
    ASSERT_TRUE(waitFor([&] { return !window->viewModel().m_bPlaying; }));
    ASSERT_EQ(prompts.alerts.size(), 1u);
    EXPECT_EQ(prompts.alerts[0].title, "The sound stopped before the end.");

    device.replug();
    MainWindowController* fresh = application->newDocument();
    fresh->action("_Record:")->trigger();
    ASSERT_TRUE(fresh->viewModel().m_bRecording);
    const std::vector<float> delivered = tone(200.0, 11025.0, 300.0);
    device.push(delivered);
    device.unplug();
    ASSERT_TRUE(waitFor([&] { return !fresh->viewModel().m_bRecording; }));
    ASSERT_EQ(prompts.alerts.size(), 2u);
    EXPECT_EQ(prompts.alerts[1].title, "Error in recording");
    const auto recorded = fresh->document().getChannel(0).samples();
    ASSERT_EQ(recorded.size(), delivered.size());
    EXPECT_TRUE(std::equal(recorded.begin(), recorded.end(), delivered.begin()));
    EXPECT_GT(fresh->document().changeCount(), 0);
}

// Without a sound device, play and record say so and change nothing.
TEST_F(MainWindowSoundTest, NoDeviceGivesAnAlertAndLeavesTheDocument)
{
    DefaultAlsaDevice device(false);
    MainWindowController* window = openTone();
    ASSERT_NE(window, nullptr);
    window->action("_Play:")->trigger();
    EXPECT_FALSE(window->viewModel().m_bPlaying);
    ASSERT_EQ(prompts.alerts.size(), 1u);
    EXPECT_EQ(prompts.alerts[0].title, "The sound could not be played.");
    EXPECT_EQ(prompts.alerts[0].message, "No audio output device could be opened.");

    MainWindowController* fresh = application->newDocument();
    fresh->action("_Record:")->trigger();
    EXPECT_FALSE(fresh->viewModel().m_bRecording);
    ASSERT_EQ(prompts.alerts.size(), 2u);
    EXPECT_EQ(prompts.alerts[1].title, "Error in recording");
    EXPECT_EQ(prompts.alerts[1].message, "No audio input device could be opened.");
    EXPECT_FALSE(fresh->document().m_bHaveData);
}

// The play cursor stands at the time heard, in the channel's time and on the
// page shown; Play toggles, a press in the view stops, and closing the
// window while sound plays stops it.
TEST_F(MainWindowSoundTest, PlayCursorFollowsTheElapsedTime)
{
    auto owned = std::make_unique<PulledBackend>();
    PulledBackend& device = *owned;
    application->setSoundBackend(std::move(owned));
    MainWindowController* window = openTone(2000.0);
    ASSERT_NE(window, nullptr);
    MainViewModel& view = window->viewModel();
    Channels& first = window->document().getChannel(0);
    const int width = window->mainView()->width();
    const auto cursorAt = [&](double ms) {
        return g_nLeftWindowOffset + static_cast<int>(std::round(first.GetCursorPixelforTime(ms)));
    };

    window->action("_Play:")->trigger();
    ASSERT_TRUE(view.m_bPlaying);
    for (int block = 1; block <= 3; ++block) {
        ASSERT_TRUE(device.pull(2205));
        QTest::qWait(3 * SoundSession::kTickMs);
        EXPECT_DOUBLE_EQ(view._dAnimatenanoSeconds, block * 200.0e6);
        EXPECT_EQ(view.playCursorX(width), cursorAt(block * 200.0));
    }
    window->action("_Play:")->trigger(); // the toggle
    EXPECT_FALSE(view.m_bPlaying);
    EXPECT_FALSE(view.playCursorX(width).has_value());

    // Zoomed onto a later page, the selection's play is drawn on that page;
    // a time before the page is not drawn.
    select(*window, 1200.0, 1500.0);
    window->action("_ZoomSelection:")->trigger();
    window->action("_PlaySelection:")->trigger();
    ASSERT_TRUE(device.pull(1102));
    QTest::qWait(3 * SoundSession::kTickMs);
    const double heardMs =
        first.m_dDurationStartFile * 1000.0 / 11025.0 + 1102.0 * 1000.0 / 11025.0;
    EXPECT_EQ(view.playCursorX(width), cursorAt(heardMs));
    window->action("_PlaySelection:")->trigger(); // starts again from the selection
    EXPECT_TRUE(view.m_bPlaying);
    QTest::qWait(3 * SoundSession::kTickMs);
    EXPECT_EQ(view.playCursorX(width), cursorAt(first.m_dDurationStartFile * 1000.0 / 11025.0));

    QTest::mouseClick(window->mainView(), Qt::LeftButton, {}, QPoint(300, 100));
    EXPECT_FALSE(view.m_bPlaying);
    EXPECT_FALSE(device.pull(100));

    window->action("_Play:")->trigger();
    ASSERT_TRUE(view.m_bPlaying);
    window->close();
    EXPECT_FALSE(device.pull(100));
    EXPECT_TRUE(prompts.alerts.empty());
}

// A sound-card recording an ended run left (cut off, its header saying no
// samples) is offered at launch; Open gives a new document of every sample
// it holds and removes the file, Later keeps it for the next launch.
TEST_F(MainWindowSoundTest, LaunchOffersASoundRecordingARunLeftUnsaved)
{
    std::string error;
    const int folder = openPrivateFolder(globals.appPathTemp, error);
    ASSERT_GE(folder, 0) << error;
    ::close(folder);
    const pid_t gone = ::fork();
    if (gone == 0) {
        ::_exit(0);
    }
    ::waitpid(gone, nullptr, 0);
    const std::vector<float> samples = tone(220.0, 22050.0, 500.0);
    const fs::path left =
        fs::path(globals.appPathTemp) / ("recording-" + std::to_string(gone) + "-2-5.wav");
    {
        const auto header = floatWavHeader(22050, 0);
        std::ofstream out(left, std::ios::binary);
        out.write(reinterpret_cast<const char*>(header.data()), std::streamsize(header.size()));
        out.write(reinterpret_cast<const char*>(samples.data()),
                  std::streamsize(samples.size() * sizeof(float)));
    }

    for (const int reply : {2, 1}) { // Later, then Open
        SCOPED_TRACE(reply);
        application = std::make_unique<Application>(settings, globals, &prompts);
        prompts.alerts.clear();
        prompts.alertReplies = {reply};
        application->finishLaunching({});
        ASSERT_TRUE(waitFor([&] { return !prompts.alerts.empty(); }));
        EXPECT_EQ(prompts.alerts[0].title, "Open the recording that was not saved?");
        EXPECT_NE(prompts.alerts[0].message.find("A recording of 0.5 seconds from the sound card"),
                  std::string::npos)
            << prompts.alerts[0].message;
        EXPECT_EQ(fs::exists(left), reply == 2);
    }
    const auto windows = application->documentWindows();
    ASSERT_EQ(windows.size(), 1u);
    const MyDocument& document = windows[0]->document();
    EXPECT_TRUE(document.m_bNewFile);
    const Channels& channel = document.getChannel(0);
    EXPECT_EQ(channel.m_dSampleRate, 22050.0);
    ASSERT_EQ(channel.samples().size(), samples.size());
    EXPECT_EQ(std::memcmp(channel.samples().data(), samples.data(), samples.size() * sizeof(float)),
              0);
}

} // namespace
} // namespace phonaxis
