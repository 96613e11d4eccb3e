// The recording window on the simulated box, with the box's clock stepped by
// the test: the document a recording becomes (every channel against the
// box's known signals), the control blocks each control sends, the
// elapsed-time label, an unplugged box, closing while streaming or
// recording, the configuration written back on Save, the live strips, and a
// recording a crashed run left behind, found at the next launch.
#include "app/Application.h"
#include "app/MainWindowController.h"
#include "document/Configuration.h"
#include "document/MyDocument.h"
#include "hardware/BoxRecording.h"
#include "hardware/FirmwareImage.h"
#include "hardware/SimulatedBox.h"
#include "hardware/ui/BoxService.h"
#include "hardware/ui/OrvixRecordController.h"
#include "hardware/ui/OrvixRecordView.h"
#include "support/AnalysisWindowTesting.h"
#include "support/AppFixture.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <fstream>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace phonaxis {
namespace {

using Clock = BoxConnection::Clock;
using End = BoxRecordSession::End;

class BoxRecordWindowTest : public test::AppFixture {
protected:
    BoxRecordWindowTest() : AppFixture("phonaxis-boxrec-") {}

    void TearDown() override
    {
        delete application->recordWindow();
        application->setBoxService(nullptr);
    }

    // A simulated box of `channels` on the test's clock, found as the
    // launch finds it.
    void launchBox(int channels)
    {
        FirmwareImage image;
        FirmwareRecord record;
        record.Length = 16;
        image.records.push_back(record);
        FirmwareRecord end;
        end.Type = 1;
        image.records.push_back(end);
        const std::filesystem::path hex = folder / "box.hex";
        std::ofstream(hex) << image.toHex();

        BoxOptions options;
        options.simulatedChannels = channels;
        options.firmwarePath = hex.string();
        options.clock = [this] { return m_now; };
        m_box = std::make_unique<BoxService>(options, prompts);
        application->setBoxService(m_box.get());
        m_box->findHardware();
        ASSERT_TRUE(test::waitFor([&] { return m_box->boxPresent(); }));
        prompts.alerts.clear();
    }

    // Steps the box's clock by `seconds`, letting each block arrive.
    void advance(double seconds)
    {
        const auto step = std::chrono::milliseconds(20);
        for (double done = 0.0; done < seconds; done += 0.02) {
            m_now += step;
            m_box->pumpEvents();
            QCoreApplication::processEvents();
        }
    }

    // Lets the stream end (the box answers a stop within a block or so).
    bool settle()
    {
        for (int i = 0; i < 500; ++i) {
            advance(0.02);
            OrvixRecordController* window = application->recordWindow();
            if (window == nullptr || !window->busy()) {
                QCoreApplication::processEvents();
                return true;
            }
        }
        return false;
    }

    OrvixRecordController* openRecordWindow(MainWindowController* window)
    {
        window->action("_Record:")->trigger();
        OrvixRecordController* recorder = application->recordWindow();
        EXPECT_NE(recorder, nullptr);
        EXPECT_TRUE(recorder != nullptr && recorder->isVisible());
        return recorder;
    }

    template <typename T>
    static T* control(OrvixRecordController* window, const char* name)
    {
        T* widget = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    static void press(OrvixRecordController* window, const char* name)
    {
        control<QPushButton>(window, name)->click();
    }
    static void choose(OrvixRecordController* window, const char* name, int index)
    {
        QComboBox* popup = control<QComboBox>(window, name);
        popup->setCurrentIndex(index);
        emit popup->activated(index);
    }

    // Scope mode for a moment, then `seconds` of recording.
    void startRecording(OrvixRecordController* recorder, double seconds)
    {
        advance(0.3);
        press(recorder, "Record");
        advance(seconds);
    }

    // The first frame whose slots match the document's first samples.
    static std::optional<std::uint64_t> firstFrame(const MyDocument& document,
                                                   const std::vector<int>& frameSlots)
    {
        for (std::uint64_t frame = 0; frame < 40u * 22050u; ++frame) {
            bool match = true;
            for (std::size_t c = 0; c < frameSlots.size() && match; ++c) {
                const auto samples = document.getChannel(int(c)).samples();
                for (std::size_t i = 0; i < 16 && match; ++i) {
                    match = samples[i] == float(usb::SimulatedBox::slotValue(
                                               std::size_t(frameSlots[c]), frame + i)) /
                                               32768.0f;
                }
            }
            if (match) {
                return frame;
            }
        }
        return std::nullopt;
    }

    // Every channel of `document` against the box's signals, sample for
    // sample; the channels are read from `frameSlots`.
    static void expectBoxSignals(const MyDocument& document, const std::vector<int>& frameSlots,
                                 std::uint64_t frames)
    {
        ASSERT_EQ(document.channelsInUse(), int(frameSlots.size()));
        ASSERT_GT(frames, 0u);
        const std::optional<std::uint64_t> first = firstFrame(document, frameSlots);
        ASSERT_TRUE(first.has_value());
        for (std::size_t c = 0; c < frameSlots.size(); ++c) {
            const Channels& channel = document.getChannel(int(c));
            EXPECT_EQ(channel.m_dSampleRate, 22050.0);
            ASSERT_EQ(channel.m_dwFileLength, double(frames)) << "channel " << c;
            const auto samples = channel.samples();
            for (std::uint64_t i = 0; i < frames; ++i) {
                const float expected =
                    float(usb::SimulatedBox::slotValue(std::size_t(frameSlots[c]), *first + i)) /
                    32768.0f;
                ASSERT_EQ(samples[i], expected) << "channel " << c << " sample " << i;
            }
        }
    }

    Clock::time_point m_now = Clock::time_point(std::chrono::hours(1000));
    std::unique_ptr<BoxService> m_box;
};

// Recordings from 9-, 5- and 2-channel boxes with channels switched off in
// the window: the enabled channels, titled and taken from their frame
// slots, sample for sample.
TEST_F(BoxRecordWindowTest, RecordingBecomesTheDocumentChannelForChannel)
{
    struct Case {
        int boxChannels;
        std::vector<int> switchedOff; // channels 1..4 unticked in the window
        std::vector<std::string> titles;
        std::vector<int> frameSlots; // the audio is frameSlots 0..3, all alike: slot 0
    };
    const std::vector<Case> cases = {
        {9, {2}, {"Audio", "ch1", "ch3", "ch4", "ch5", "ch6", "ch7", "ch8"},
         {0, 4, 6, 7, 8, 9, 10, 11}},
        {5, {3}, {"Audio", "ch1", "ch2", "ch4"}, {0, 4, 5, 7}},
        {2, {}, {"Audio", "ch1"}, {0, 4}},
        {2, {1}, {"Audio"}, {0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.boxChannels);
        settings.setLaunchDefaults();
        launchBox(c.boxChannels);
        MainWindowController* window = application->newDocument();
        OrvixRecordController* recorder = openRecordWindow(window);
        ASSERT_NE(recorder, nullptr);
        EXPECT_EQ(recorder->windowTitle(), "Record");
        for (int k : c.switchedOff) {
            control<QCheckBox>(recorder, ("Channel " + std::to_string(k) + " on").c_str())->click();
        }
        startRecording(recorder, 5.0);
        // Save writes nothing more: what is recorded now is the recording.
        const std::uint64_t frames = recorder->session()->recordedFrames();
        press(recorder, "Save");
        ASSERT_TRUE(settle());
        EXPECT_FALSE(recorder->isVisible());

        const MyDocument& document = window->document();
        ASSERT_EQ(document.channelsInUse(), int(c.titles.size()));
        for (std::size_t i = 0; i < c.titles.size(); ++i) {
            EXPECT_EQ(document.getChannel(int(i)).GetTitle(), c.titles[i]);
        }
        EXPECT_GE(double(frames), 5.0 * 22050.0 - 2048.0);
        expectBoxSignals(document, c.frameSlots, frames);
        // Read into the document: the raw file is gone.
        EXPECT_FALSE(std::filesystem::exists(recorder->session()->recordingPath()));
        EXPECT_TRUE(prompts.alerts.empty());

        delete application->recordWindow();
        application->setBoxService(nullptr);
        m_box.reset();
    }
}

// Each control sends its block: the audio and channel settings with the
// next block, AC / DC at once; the window's table follows.
TEST_F(BoxRecordWindowTest, ControlsSendTheirBlocks)
{
    launchBox(5);
    OrvixRecordController* recorder = openRecordWindow(application->newDocument());
    ASSERT_NE(recorder, nullptr);
    const auto& blocks = m_box->simulatedBox()->controlBlocks();
    // Opening: the audio block, then both analog blocks, at once.
    ASSERT_GE(blocks.size(), 3u);
    EXPECT_EQ(blocks[blocks.size() - 3].index, 0);
    EXPECT_EQ(blocks[blocks.size() - 3].bytes[0], 1 | 32);
    EXPECT_EQ(blocks[blocks.size() - 2].index, 1);
    EXPECT_EQ(blocks[blocks.size() - 1].index, 2);
    advance(0.3);

    struct Change {
        std::function<void()> act;
        std::uint16_t index;  // the block sent
        std::size_t byte;
        std::uint8_t value;
    };
    // Launch defaults: audio gain 200 (position 1), Mask, input "Mic" (Line),
    // DC; channels filter 150 (position 4, code 3), gain 1, Mask.
    const std::vector<Change> changes = {
        {[&] { choose(recorder, "Audio gain", 3); }, 0, 0, 3 | 32},
        {[&] { control<QRadioButton>(recorder, "Microphone")->click(); }, 0, 0, 3 | 16 | 32},
        {[&] { control<QRadioButton>(recorder, "Panel")->click(); }, 0, 0, 3 | 8 | 16 | 32},
        {[&] { choose(recorder, "Channel 1 gain", 2); }, 1, 0, 0x40 | (2 << 3) | 3},
        {[&] { choose(recorder, "Channel 2 filter", 0); }, 1, 1, 0x40 | 7},
        {[&] { choose(recorder, "Channel 4 source", 1); }, 2, 1, 3},
        {[&] { choose(recorder, "Channel 3 gain", 7); }, 2, 0, 0x40 | (7 << 3) | 3},
    };
    for (std::size_t i = 0; i < changes.size(); ++i) {
        SCOPED_TRACE(i);
        const std::size_t before = blocks.size();
        changes[i].act();
        // Deferred: nothing goes out until the next block arrives.
        EXPECT_EQ(blocks.size(), before);
        advance(0.2);
        ASSERT_GT(blocks.size(), before);
        bool found = false;
        for (std::size_t b = before; b < blocks.size(); ++b) {
            if (blocks[b].index == changes[i].index) {
                EXPECT_EQ(blocks[b].bytes[changes[i].byte], changes[i].value);
                found = true;
            }
        }
        EXPECT_TRUE(found);
    }
    const RecordingInfo& info = recorder->session()->info();
    EXPECT_EQ(info.table[0].nGain, 400);
    EXPECT_EQ(info.table[0].source(), "Panel");
    EXPECT_EQ(info.table[1].nGain, 4);
    EXPECT_EQ(info.table[2].nFilterRate, 8000);
    EXPECT_EQ(info.table[4].source(), "Panel");
    EXPECT_EQ(settings.g_strInputSource, "Microphone");

    // Switching channel 2 off takes its strip away.
    EXPECT_EQ(recorder->view()->shownEntries(), (std::vector<int>{0, 1, 2, 3, 4}));
    control<QCheckBox>(recorder, "Channel 2 on")->click();
    advance(0.2);
    EXPECT_EQ(recorder->session()->info().table[2].bOnOff, 0);
    EXPECT_EQ(recorder->view()->shownEntries(), (std::vector<int>{0, 1, 3, 4}));
}

// A two-channel box: the coupling pop-up goes to the box at once.
TEST_F(BoxRecordWindowTest, TwoChannelBoxSendsCouplingAtOnce)
{
    launchBox(2);
    OrvixRecordController* recorder = openRecordWindow(application->newDocument());
    ASSERT_NE(recorder, nullptr);
    EXPECT_TRUE(control<QComboBox>(recorder, "AC/DC")->isVisibleTo(recorder));
    EXPECT_FALSE(control<QCheckBox>(recorder, "Channel 2 on")->isVisibleTo(recorder));
    QComboBox* source = control<QComboBox>(recorder, "Channel 1 source");
    EXPECT_EQ(source->itemText(0), "BNC");
    EXPECT_EQ(source->itemText(1), "Mini");
    const auto& blocks = m_box->simulatedBox()->controlBlocks();
    const std::size_t before = blocks.size();
    choose(recorder, "AC/DC", 0);
    ASSERT_EQ(blocks.size(), before + 1);
    EXPECT_EQ(blocks.back().index, 0);
    EXPECT_EQ(blocks.back().bytes[0] & 32, 0);
}

// The label follows the frames recorded: 65 s read "Recording 1:5".
TEST_F(BoxRecordWindowTest, ElapsedTimeLabel)
{
    launchBox(2);
    OrvixRecordController* recorder = openRecordWindow(application->newDocument());
    ASSERT_NE(recorder, nullptr);
    QLabel* label = control<QLabel>(recorder, "Recording time");
    EXPECT_EQ(label->text(), "Not Recording");
    EXPECT_EQ(control<QLabel>(recorder, "Message")->text(),
              "Scope Mode... Press Record to Start Recording.");
    EXPECT_FALSE(control<QPushButton>(recorder, "Save")->isEnabled());
    advance(0.3);
    press(recorder, "Record");
    EXPECT_FALSE(control<QPushButton>(recorder, "Record")->isEnabled());
    EXPECT_TRUE(control<QPushButton>(recorder, "Save")->isEnabled());
    advance(65.1);
    ASSERT_GE(recorder->session()->recordedSeconds(), 65.0);
    ASSERT_LT(recorder->session()->recordedSeconds(), 66.0);
    recorder->onTick();
    EXPECT_EQ(label->text(), "Recording 1:5");
    press(recorder, "Cancel");
    EXPECT_EQ(control<QLabel>(recorder, "Message")->text(), "Cancelled... Please wait");
    ASSERT_TRUE(settle());
    EXPECT_FALSE(recorder->isVisible());
}

// The box unplugged 2 s into a recording: the 2 s become the document and
// the user is told why the recording ended.
TEST_F(BoxRecordWindowTest, UnpluggedBoxKeepsWhatWasRecorded)
{
    launchBox(5);
    MainWindowController* window = application->newDocument();
    OrvixRecordController* recorder = openRecordWindow(window);
    ASSERT_NE(recorder, nullptr);
    startRecording(recorder, 2.0 + 2048.0 / 22050.0);
    const std::uint64_t frames = recorder->session()->recordedFrames();
    ASSERT_GE(frames, 2u * 22050u);
    m_box->simulatedBox()->unplug();
    ASSERT_TRUE(settle());
    ASSERT_TRUE(test::waitFor([&] { return window->document().channelsInUse() == 5; }));
    expectBoxSignals(window->document(), {0, 4, 5, 6, 7}, frames);
    bool told = false;
    for (const auto& alert : prompts.alerts) {
        told = told || (alert.title == "The recording ended early" &&
                        alert.message.find("removed") != std::string::npos &&
                        alert.message.find("seconds recorded until then are in the document") !=
                            std::string::npos);
    }
    EXPECT_TRUE(told);
    EXPECT_FALSE(std::filesystem::exists(recorder->session()->recordingPath()));
}

// The box unplugged in scope mode: nothing was recorded; the user is told
// and Record is off.
TEST_F(BoxRecordWindowTest, UnpluggedBoxInScopeModeIsTold)
{
    launchBox(2);
    OrvixRecordController* recorder = openRecordWindow(application->newDocument());
    ASSERT_NE(recorder, nullptr);
    advance(0.3);
    m_box->simulatedBox()->unplug();
    advance(0.3);
    EXPECT_TRUE(std::any_of(prompts.alerts.begin(), prompts.alerts.end(),
                            [](const auto& alert) { return alert.title == "Record Error"; }));
    EXPECT_FALSE(control<QPushButton>(recorder, "Record")->isEnabled());
    EXPECT_TRUE(control<QPushButton>(recorder, "Cancel")->isEnabled());
}

// A recording that cannot become channels (none switched on) stays on the
// disk, the document as it was, and the user is told where it is.
TEST_F(BoxRecordWindowTest, UnreadableRecordingIsKept)
{
    settings.g_ChannelInfo[0].bOnOff = 0;
    launchBox(2);
    MainWindowController* window = application->newDocument();
    OrvixRecordController* recorder = openRecordWindow(window);
    ASSERT_NE(recorder, nullptr);
    control<QCheckBox>(recorder, "Channel 1 on")->click();
    startRecording(recorder, 0.5);
    const std::filesystem::path path = recorder->session()->recordingPath();
    press(recorder, "Save");
    // Nothing to press while the stream drains.
    EXPECT_EQ(control<QLabel>(recorder, "Message")->text(), "Saving the file... Please wait");
    EXPECT_FALSE(control<QPushButton>(recorder, "Record")->isEnabled());
    EXPECT_FALSE(control<QPushButton>(recorder, "Save")->isEnabled());
    ASSERT_TRUE(settle());
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_TRUE(window->isUntouchedUntitled());
    ASSERT_FALSE(prompts.alerts.empty());
    EXPECT_EQ(prompts.alerts.back().title, "Recording not read");
    EXPECT_NE(prompts.alerts.back().message.find(path.string()), std::string::npos);
}

// Closing the window while it streams stops the stream, so a reopening
// never adds a ring to reads still in flight; closing while recording keeps
// the recording, as Save does.
TEST_F(BoxRecordWindowTest, ClosingStopsTheStreamAndKeepsARecording)
{
    launchBox(9);
    MainWindowController* window = application->newDocument();
    OrvixRecordController* recorder = openRecordWindow(window);
    ASSERT_NE(recorder, nullptr);
    advance(0.5);
    EXPECT_TRUE(m_box->connection().sampling());
    recorder->close();
    ASSERT_TRUE(settle());
    advance(0.5);
    EXPECT_FALSE(m_box->connection().sampling());
    EXPECT_EQ(m_box->connection().readsInFlight(), 0);

    recorder = openRecordWindow(window);
    advance(0.3);
    EXPECT_LE(m_box->connection().readsInFlight(), BoxConnection::kRingSize);
    press(recorder, "Record");
    advance(1.0);
    const std::uint64_t frames = recorder->session()->recordedFrames();
    recorder->close();
    ASSERT_TRUE(settle());
    EXPECT_FALSE(m_box->connection().sampling());
    ASSERT_EQ(window->document().channelsInUse(), 9);
    EXPECT_GE(window->document().getChannel(0).m_dwFileLength, double(frames));
}

// The recorded window may close before the save ends: a new window takes
// the recording.
TEST_F(BoxRecordWindowTest, RecordingOutlivesItsWindow)
{
    launchBox(2);
    MainWindowController* window = application->newDocument();
    OrvixRecordController* recorder = openRecordWindow(window);
    ASSERT_NE(recorder, nullptr);
    startRecording(recorder, 1.0);
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    press(recorder, "Save");
    ASSERT_TRUE(settle());
    const auto windows = application->documentWindows();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0]->document().channelsInUse(), 2);
    EXPECT_GT(windows[0]->document().getChannel(0).m_dwFileLength, 0.0);
}

// Save writes the window's settings into the application configuration at
// their offsets.
TEST_F(BoxRecordWindowTest, SaveWritesTheChannelTableBack)
{
    ASSERT_TRUE(ReadConfig(settings));
    launchBox(5);
    MainWindowController* window = application->newDocument();
    OrvixRecordController* recorder = openRecordWindow(window);
    ASSERT_NE(recorder, nullptr);
    control<QRadioButton>(recorder, "Microphone")->click();
    choose(recorder, "Audio gain", 4);
    choose(recorder, "Channel 1 gain", 5);
    choose(recorder, "Channel 2 filter", 1);
    choose(recorder, "Channel 4 source", 1);
    control<QCheckBox>(recorder, "Channel 3 on")->click();
    startRecording(recorder, 0.5);
    press(recorder, "Save");
    ASSERT_TRUE(settle());

    std::ifstream file(settings.configPath(), std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), {});
    ASSERT_EQ(bytes.size(), 2912u);
    auto int32At = [&](std::size_t offset) {
        std::int32_t value = 0;
        std::memcpy(&value, bytes.data() + offset, 4);
        return value;
    };
    auto textAt = [&](std::size_t offset) { return std::string(bytes.data() + offset); };
    EXPECT_EQ(textAt(20), "Microphone");
    EXPECT_EQ(int32At(276), 500);            // audio gain
    EXPECT_EQ(int32At(276 + 4), 10);         // channel 1 gain
    EXPECT_EQ(int32At(208 + 8), 4000);       // channel 2 filter
    EXPECT_EQ(int32At(72 + 12), 0);          // channel 3 off
    EXPECT_EQ(int32At(72 + 16), 1);          // channel 4 on
    EXPECT_EQ(textAt(344 + 16 * 4), "Panel"); // channel 4 source
    EXPECT_EQ(textAt(344 + 16 * 1), "Mask");
    EXPECT_EQ(settings.g_ChannelInfo[3].bOnOff, 0);
    EXPECT_EQ(window->document().channelsInUse(), 4);
}

// The live strips: each strip drawn inside its own band, the bands apart
// (a strip never joined to the next), the zoom only narrowing what each
// block draws.
TEST_F(BoxRecordWindowTest, StripsAreDrawnApart)
{
    // Two channels that swing fast (the audio and the EGG-like channel 1),
    // each block drawn wide.
    launchBox(2);
    OrvixRecordController* recorder = openRecordWindow(application->newDocument());
    ASSERT_NE(recorder, nullptr);
    recorder->resize(900, 600);
    QCoreApplication::processEvents();
    OrvixRecordView* view = recorder->view();
    control<QSlider>(recorder, "Zoom")->setValue(5);
    advance(1.0);
    const QImage& trace = view->traceImage();
    const auto& strips = view->strips();
    ASSERT_EQ(strips.size(), 2u);
    auto inkInRows = [&](int fromRow, int toRow) {
        int ink = 0;
        for (int row = std::max(0, fromRow); row <= toRow && row < trace.height(); ++row) {
            for (int x = 0; x < trace.width(); ++x) {
                ink += trace.pixel(x, row) != qRgb(255, 255, 255) ? 1 : 0;
            }
        }
        return ink;
    };
    for (std::size_t j = 0; j < strips.size(); ++j) {
        SCOPED_TRACE(j);
        EXPECT_GT(inkInRows(view->imageRow(strips[j].top), view->imageRow(strips[j].bottom)), 0);
        if (j + 1 < strips.size()) {
            // The gap between this strip and the next stays blank.
            EXPECT_EQ(inkInRows(view->imageRow(strips[j].bottom) + 1,
                                view->imageRow(strips[j + 1].top) - 1),
                      0);
        }
    }
    // In the newest block's columns each strip's ink follows its samples:
    // a column holds ink only between the lowest and highest point drawn
    // in it and its neighbours (a stroke closed back to a strip's first
    // point would cross the block elsewhere).
    const std::span<const std::uint8_t> block = m_box->connection().newestBlock();
    const int width = trace.width();
    const int start = view->scrollStart();
    for (std::size_t j = 0; j < strips.size(); ++j) {
        SCOPED_TRACE(j);
        const int entry = view->shownEntries()[j];
        const int mid = strips[j].top + (strips[j].bottom - strips[j].top) / 2;
        const int half = std::abs((strips[j].bottom - strips[j].top) / 2);
        std::vector<int> low(std::size_t(width), INT_MAX);
        std::vector<int> high(std::size_t(width), INT_MIN);
        for (std::size_t i = 0; i < kFramesPerBlock; ++i) {
            const int x = start + int(double(i) * view->scrollRange() / double(kFramesPerBlock));
            const int row = view->imageRow(
                mid + 2 + int(entryValue(block.data() + i * kFrameBytes, entry) * float(half - 4)));
            for (int c = std::max(0, x - 1); c <= std::min(width - 1, x + 1); ++c) {
                low[std::size_t(c)] = std::min(low[std::size_t(c)], row);
                high[std::size_t(c)] = std::max(high[std::size_t(c)], row);
            }
        }
        int stray = 0;
        for (int x = start; x < width; ++x) {
            for (int row = view->imageRow(strips[j].top); row <= view->imageRow(strips[j].bottom);
                 ++row) {
                const bool ink = trace.pixel(x, row) != qRgb(255, 255, 255);
                stray += ink && (row < low[std::size_t(x)] - 1 || row > high[std::size_t(x)] + 1);
            }
        }
        EXPECT_EQ(stray, 0);
    }

    const int before = inkInRows(0, trace.height());
    control<QSlider>(recorder, "Zoom")->setValue(10);
    EXPECT_EQ(view->scrollRange(), view->width() / 10);
    EXPECT_EQ(inkInRows(0, trace.height()), before);
}

// A recording a run left behind when it ended while recording is offered
// at the next launch and opens as a document; its file then goes.
TEST_F(BoxRecordWindowTest, OrphanedRecordingIsOfferedAtTheNextLaunch)
{
    launchBox(5);
    OrvixRecordController* recorder = openRecordWindow(application->newDocument());
    ASSERT_NE(recorder, nullptr);
    startRecording(recorder, 1.0);
    const std::uint64_t frames = recorder->session()->recordedFrames();
    const std::filesystem::path path = recorder->session()->recordingPath();
    // The run ends without saving: the window and its box go as at exit.
    application.reset();
    m_box.reset();
    ASSERT_TRUE(std::filesystem::exists(path));

    // As if a process that no longer runs had made it.
    const pid_t gone = ::fork();
    if (gone == 0) {
        ::_exit(0);
    }
    ASSERT_GT(gone, 0);
    ::waitpid(gone, nullptr, 0);
    std::string name = path.filename().string();
    const std::string ours = "-" + std::to_string(::getpid()) + "-";
    const std::size_t at = name.find(ours);
    ASSERT_NE(at, std::string::npos);
    name.replace(at, ours.size(), "-" + std::to_string(gone) + "-");
    const std::filesystem::path orphan = path.parent_path() / name;
    std::filesystem::rename(path, orphan);
    std::filesystem::rename(path.string() + ".info", orphan.string() + ".info");

    application = std::make_unique<Application>(settings, globals, &prompts);
    prompts.alerts.clear();
    prompts.alertReplies = {1}; // Open
    application->finishLaunching({});
    ASSERT_FALSE(prompts.alerts.empty());
    EXPECT_EQ(prompts.alerts[0].defaultButton, "Open");
    EXPECT_EQ(prompts.alerts[0].alternateButton, "Discard");
    EXPECT_EQ(prompts.alerts[0].otherButton, "Later");
    EXPECT_NE(prompts.alerts[0].message.find("seconds"), std::string::npos);
    const auto windows = application->documentWindows();
    ASSERT_EQ(windows.size(), 1u);
    expectBoxSignals(windows[0]->document(), {0, 4, 5, 6, 7}, frames);
    EXPECT_FALSE(std::filesystem::exists(orphan));
    EXPECT_TRUE(findOrphanRecordings(globals.appPathTemp).empty());
}

} // namespace
} // namespace phonaxis
