// The recording window on the simulated box, with the box's clock stepped by
// the test: the document a recording becomes (every channel against the
// box's known signals), the control blocks each control sends and the
// configuration Save writes back, the elapsed-time label, an unplugged box,
// closing while streaming or recording, the live strips, and a recording a
// crashed run left behind, found at the next launch.
#include "app/Application.h"
#include "app/MainWindowController.h"
#include "display/MainViewModel.h"
#include "document/Configuration.h"
#include "document/MyDocument.h"
#include "hardware/BoxRecording.h"
#include "hardware/SimulatedBox.h"
#include "hardware/ui/BoxService.h"
#include "hardware/ui/OrvixRecordController.h"
#include "hardware/ui/OrvixRecordView.h"
#include "support/AppFixture.h"
#include "support/BoxLaunching.h"
#include "support/FileProbes.h"
#include "support/RunawayGuard.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <sys/wait.h>
#include <unistd.h>

namespace phonaxis {
namespace {

using Clock = BoxConnection::Clock;

class BoxRecordWindowTest : public test::AppFixture {
protected:
    BoxRecordWindowTest() : AppFixture("phonaxis-boxrec-") {}

    test::RunawayGuard m_guard; // a recording or play without end fails, bounded

    void TearDown() override
    {
        delete application->recordWindow();
        application->setBoxService(nullptr);
    }

    // A box of `channels` on the test's clock and its recording window,
    // opened from a new document window.
    OrvixRecordController* openRecordWindow(int channels)
    {
        m_box = test::launchSimulatedBox(*application, prompts, folder, channels,
                                         [this] { return m_now; });
        prompts.alerts.clear();
        m_window = application->newDocument();
        return reopen();
    }
    OrvixRecordController* reopen()
    {
        m_window->action("_Record:")->trigger();
        OrvixRecordController* recorder = application->recordWindow();
        EXPECT_TRUE(recorder != nullptr && recorder->isVisible());
        return recorder;
    }

    // Steps the box's clock by `seconds`, letting each block arrive.
    void advance(double seconds)
    {
        for (double done = 0.0; done < seconds; done += 0.02) {
            m_now += std::chrono::milliseconds(20);
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
            const bool ended = window == nullptr || window->session() == nullptr ||
                               window->session()->state() == BoxRecordSession::State::Idle;
            if (window == nullptr || (!window->busy() && ended)) {
                QCoreApplication::processEvents();
                return true;
            }
        }
        return false;
    }

    template <typename T> static T* control(OrvixRecordController* window, const char* name)
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
    static QString message(OrvixRecordController* window)
    {
        return control<QLabel>(window, "Message")->text();
    }
    bool alerted(const std::string& title, const std::string& part = {}) const
    {
        return std::any_of(prompts.alerts.begin(), prompts.alerts.end(), [&](const auto& alert) {
            return alert.title == title && alert.message.find(part) != std::string::npos;
        });
    }

    // Scope mode for a moment, then `seconds` of recording.
    void startRecording(OrvixRecordController* recorder, double seconds)
    {
        advance(0.3);
        press(recorder, "Record");
        advance(seconds);
    }

    // Every channel of `document` against the box's signals, sample for
    // sample from the frame its first samples match; the channels are read
    // from `frameSlots`.
    static void expectBoxSignals(const MyDocument& document, const std::vector<int>& frameSlots,
                                 std::uint64_t frames)
    {
        ASSERT_EQ(document.channelsInUse(), int(frameSlots.size()));
        ASSERT_GT(frames, 16u);
        // The first sample of `count` from `first` that differs, or `count`.
        const auto mismatch = [&](std::uint64_t first, std::uint64_t count) {
            for (std::size_t c = 0; c < frameSlots.size(); ++c) {
                const auto samples = document.getChannel(int(c)).samples();
                for (std::uint64_t i = 0; i < count; ++i) {
                    if (samples[i] != float(usb::SimulatedBox::slotValue(
                                          std::size_t(frameSlots[c]), first + i)) / 32768.0f) {
                        return i;
                    }
                }
            }
            return count;
        };
        for (std::size_t c = 0; c < frameSlots.size(); ++c) {
            EXPECT_EQ(document.getChannel(int(c)).m_dSampleRate, 22050.0);
            ASSERT_EQ(document.getChannel(int(c)).m_dwFileLength, double(frames)) << c;
        }
        std::uint64_t first = 0;
        while (first < 40u * 22050u && mismatch(first, 16) < 16)
            ++first;
        EXPECT_EQ(mismatch(first, frames), frames);
    }

    Clock::time_point m_now = Clock::time_point(std::chrono::hours(1000));
    std::unique_ptr<BoxService> m_box;
    MainWindowController* m_window = nullptr;
};

// Every channel of a 9-channel box has an enable box, channels 5 to 8 on the
// host side only (nothing is sent to the box for them), named for a screen
// reader; the strips, the recording and Save follow them as they follow
// channels 1 to 4, and the next opening shows them as saved. A 5-channel box
// shows channels 1 to 4 only.
TEST_F(BoxRecordWindowTest, EveryChannelOfTheBoxHasAnEnableBoxThatRecordingAndSaveHonour)
{
    ASSERT_TRUE(ReadConfig(settings));
    OrvixRecordController* recorder = openRecordWindow(9);
    ASSERT_NE(recorder, nullptr);
    EXPECT_EQ(recorder->windowTitle(), "Record");
    for (int k = 1; k <= 8; ++k) {
        const QString name = QStringLiteral("Channel %1 on").arg(k);
        QCheckBox* box = recorder->findChild<QCheckBox*>(name);
        ASSERT_NE(box, nullptr) << name.toStdString();
        EXPECT_TRUE(box->isVisibleTo(recorder)) << k;
        EXPECT_TRUE(box->isChecked()) << k;
        EXPECT_EQ(box->accessibleName(), QStringLiteral("Record channel %1").arg(k));
    }
    advance(0.3);
    const std::size_t blocksSent = m_box->simulatedBox()->controlBlocks().size();
    control<QCheckBox>(recorder, "Channel 6 on")->click();
    control<QCheckBox>(recorder, "Channel 8 on")->click();
    advance(0.3);
    EXPECT_EQ(m_box->simulatedBox()->controlBlocks().size(), blocksSent);
    EXPECT_EQ(recorder->view()->shownEntries(), (std::vector<int>{0, 1, 2, 3, 4, 5, 7}));

    startRecording(recorder, 1.0);
    const std::uint64_t frames = recorder->session()->recordedFrames();
    press(recorder, "Save");
    ASSERT_TRUE(settle());
    EXPECT_FALSE(recorder->isVisible());
    EXPECT_TRUE(prompts.alerts.empty());
    const MyDocument& document = m_window->document();
    const std::vector<std::string> titles = {"Audio", "ch1", "ch2", "ch3", "ch4", "ch5", "ch7"};
    ASSERT_EQ(document.channelsInUse(), int(titles.size()));
    for (std::size_t i = 0; i < titles.size(); ++i)
        EXPECT_EQ(document.getChannel(int(i)).GetTitle(), titles[i]);
    expectBoxSignals(document, {0, 4, 5, 6, 7, 8, 10}, frames);

    EXPECT_EQ(settings.g_ChannelInfo[5].bOnOff, 1);
    EXPECT_EQ(settings.g_ChannelInfo[6].bOnOff, 0);
    EXPECT_EQ(settings.g_ChannelInfo[8].bOnOff, 0);
    const std::string bytes = test::fileBytes(settings.configPath());
    ASSERT_EQ(bytes.size(), Configuration::kSize);
    const Configuration stored = *Configuration::fromBytes(
        ByteView(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    EXPECT_EQ(stored.getInt32(72 + 4 * 5), 1);
    EXPECT_EQ(stored.getInt32(72 + 4 * 6), 0);
    EXPECT_EQ(stored.getInt32(72 + 4 * 8), 0);

    m_window = application->newDocument();
    recorder = reopen();
    EXPECT_FALSE(control<QCheckBox>(recorder, "Channel 6 on")->isChecked());
    EXPECT_TRUE(control<QCheckBox>(recorder, "Channel 7 on")->isChecked());
    EXPECT_EQ(recorder->view()->shownEntries(), (std::vector<int>{0, 1, 2, 3, 4, 5, 7}));
    press(recorder, "Cancel");
    ASSERT_TRUE(settle());
    TearDown();
    m_box.reset();

    recorder = openRecordWindow(5);
    ASSERT_NE(recorder, nullptr);
    for (int k = 1; k <= 8; ++k)
        EXPECT_EQ(control<QCheckBox>(recorder, ("Channel " + std::to_string(k) + " on").c_str())
                      ->isVisibleTo(recorder),
                  k <= 4)
            << k;
}

// Each control sends its block: the audio and channel settings with the
// next block; the window's table follows, and Save writes it into the
// application configuration at its offsets.
TEST_F(BoxRecordWindowTest, ControlsSendTheirBlocksAndSaveWritesThemBack)
{
    ASSERT_TRUE(ReadConfig(settings));
    OrvixRecordController* recorder = openRecordWindow(5);
    ASSERT_NE(recorder, nullptr);
    const auto& blocks = m_box->simulatedBox()->controlBlocks();
    // Opening sends the audio block, then both analog blocks.
    ASSERT_GE(blocks.size(), 3u);
    EXPECT_EQ(blocks[blocks.size() - 3].bytes[0], 1 | 32);
    advance(0.3);

    // Launch defaults: audio gain 200 (position 1), Mask, input "Mic" (Line),
    // DC; channels filter 150 (position 4, code 3), gain 1, Mask.
    const struct {
        const char* control;
        int choice; // in the pop-up; -1: a radio button
        std::uint16_t index; // the block sent
        std::size_t byte;
        std::uint8_t value;
    } changes[] = {
        {"Audio gain", 3, 0, 0, 3 | 32},
        {"Microphone", -1, 0, 0, 3 | 16 | 32},
        {"Panel", -1, 0, 0, 3 | 8 | 16 | 32},
        {"Channel 1 gain", 2, 1, 0, 0x40 | (2 << 3) | 3},
        {"Channel 2 filter", 0, 1, 1, 0x40 | 7},
        {"Channel 4 source", 1, 2, 1, 3},
        {"Channel 3 gain", 7, 2, 0, 0x40 | (7 << 3) | 3},
    };
    for (const auto& change : changes) {
        SCOPED_TRACE(change.control);
        const std::size_t before = blocks.size();
        if (change.choice < 0)
            control<QRadioButton>(recorder, change.control)->click();
        else
            choose(recorder, change.control, change.choice);
        EXPECT_EQ(blocks.size(), before); // deferred to the next block
        advance(0.2);
        const auto sent = std::find_if(blocks.begin() + std::ptrdiff_t(before), blocks.end(),
                                       [&](const auto& b) { return b.index == change.index; });
        ASSERT_NE(sent, blocks.end());
        EXPECT_EQ(sent->bytes[change.byte], change.value);
    }
    // Switching channel 2 off takes its strip away.
    EXPECT_EQ(recorder->view()->shownEntries(), (std::vector<int>{0, 1, 2, 3, 4}));
    control<QCheckBox>(recorder, "Channel 2 on")->click();
    advance(0.2);
    EXPECT_EQ(recorder->view()->shownEntries(), (std::vector<int>{0, 1, 3, 4}));

    startRecording(recorder, 0.5);
    press(recorder, "Save");
    ASSERT_TRUE(settle());
    EXPECT_EQ(m_window->document().channelsInUse(), 4);
    const std::string bytes = test::fileBytes(settings.configPath());
    ASSERT_EQ(bytes.size(), Configuration::kSize);
    const Configuration stored = *Configuration::fromBytes(
        ByteView(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    const auto int32At = [&](std::size_t offset) { return stored.getInt32(offset); };
    const auto textAt = [&](std::size_t offset) { return stored.getText(offset, 16); };
    EXPECT_EQ(textAt(20), "Microphone");
    EXPECT_EQ(int32At(276), 400);             // audio gain
    EXPECT_EQ(textAt(344), "Panel");          // audio source
    EXPECT_EQ(int32At(276 + 4), 4);           // channel 1 gain
    EXPECT_EQ(textAt(344 + 16 * 1), "Mask");  // channel 1 source
    EXPECT_EQ(int32At(208 + 8), 8000);        // channel 2 filter
    EXPECT_EQ(int32At(72 + 8), 0);            // channel 2 off
    EXPECT_EQ(int32At(276 + 12), 20);         // channel 3 gain
    EXPECT_EQ(textAt(344 + 16 * 4), "Panel"); // channel 4 source
}

// Play in another window with the play source "Hardware" while the box
// records: the box cannot play without ending the recording's stream, so
// the playback is refused with a message that says so, the recording goes
// on and Save ends it as asked. The box never runs sampling and playback
// together.
TEST_F(BoxRecordWindowTest, BoxPlaybackInAnotherWindowLeavesTheRecordingRunning)
{
    OrvixRecordController* recorder = openRecordWindow(9);
    ASSERT_NE(recorder, nullptr);
    startRecording(recorder, 1.0);

    settings.g_strPlaySource = "Hardware";
    std::vector<float> tone(22050 / 2);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<float>(0.5 * std::sin(0.05 * double(i)));
    test::ScriptedPrompts quiet;
    MyDocument toneDocument(quiet);
    toneDocument.m_nNumofChannels = 1;
    Channels& channel = toneDocument.getChannel(0);
    ASSERT_TRUE(channel.setData(tone.data(), tone.size()));
    channel.m_dSampleRate = 22050.0;
    channel.m_dwFileLength = double(tone.size());
    channel.m_dLengthMS = 500.0;
    MainWindowController* player = openShown(*toneDocument.dataOfType("wav"), "tone.wav");
    ASSERT_NE(player, nullptr);
    player->action("_Play:")->trigger();
    EXPECT_FALSE(player->viewModel().m_bPlaying);
    EXPECT_TRUE(alerted("The sound could not be played.", "recording window"));
    EXPECT_TRUE(m_box->simulatedBox()->received().empty());

    const std::uint64_t before = recorder->session()->recordedFrames();
    advance(3.0);
    EXPECT_GE(recorder->session()->recordedFrames(), before + 2u * 22050u);
    EXPECT_EQ(recorder->session()->state(), BoxRecordSession::State::Recording);
    press(recorder, "Save");
    ASSERT_TRUE(settle());
    EXPECT_FALSE(alerted("Recording not read"));
    EXPECT_FALSE(alerted("The recording ended early"));
    EXPECT_GE(m_window->document().getChannel(0).m_dwFileLength, 3.5 * 22050.0);
    EXPECT_TRUE(m_box->simulatedBox()->conflicts().empty())
        << m_box->simulatedBox()->conflicts()[0];
    player->close();
}

// A two-channel box: the coupling pop-up goes to the box at once; the
// elapsed-time label follows the frames recorded, 65 s read "Recording 1:05".
TEST_F(BoxRecordWindowTest, TwoChannelBoxCouplingAndElapsedTime)
{
    OrvixRecordController* recorder = openRecordWindow(2);
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

    QLabel* label = control<QLabel>(recorder, "Recording time");
    EXPECT_EQ(label->text(), "Not Recording");
    EXPECT_EQ(message(recorder), "Scope Mode... Press Record to Start Recording.");
    EXPECT_FALSE(control<QPushButton>(recorder, "Save")->isEnabled());
    startRecording(recorder, 65.1);
    EXPECT_FALSE(control<QPushButton>(recorder, "Record")->isEnabled());
    EXPECT_TRUE(control<QPushButton>(recorder, "Save")->isEnabled());
    ASSERT_GE(recorder->session()->recordedSeconds(), 65.0);
    ASSERT_LT(recorder->session()->recordedSeconds(), 66.0);
    recorder->onTick();
    EXPECT_EQ(label->text(), "Recording 1:05");
    press(recorder, "Cancel");
    EXPECT_EQ(message(recorder), "Cancelled... Please wait");
    ASSERT_TRUE(settle());
    EXPECT_FALSE(recorder->isVisible());
}

// The scope mode's invitation to press Record gives way to what applies
// while recording (for the eye and for a screen reader, which reads hidden
// labels' texts too) and is back when the window streams in scope mode again.
TEST_F(BoxRecordWindowTest, ScopeMessageGivesWayWhileRecording)
{
    const QString scope = "Scope Mode... Press Record to Start Recording.";
    OrvixRecordController* recorder = openRecordWindow(5);
    ASSERT_NE(recorder, nullptr);
    EXPECT_EQ(message(recorder), scope);
    startRecording(recorder, 3.2);
    EXPECT_EQ(message(recorder),
              "Recording... Press Save to Keep the Recording or Cancel to Discard It.");
    EXPECT_TRUE(control<QLabel>(recorder, "Message")->isVisibleTo(recorder));
    for (const QLabel* label : recorder->findChildren<QLabel*>())
        EXPECT_FALSE(label->text().contains("Scope Mode")) << label->objectName().toStdString();
    recorder->onTick();
    EXPECT_EQ(control<QLabel>(recorder, "Recording time")->text(), "Recording 0:03");
    press(recorder, "Cancel");
    ASSERT_TRUE(settle());
    m_window->refreshCommands(); // as the menu does when it opens
    recorder = reopen();
    ASSERT_NE(recorder, nullptr);
    EXPECT_EQ(message(recorder), scope);
    EXPECT_EQ(control<QLabel>(recorder, "Recording time")->text(), "Not Recording");
}

// The box unplugged 2 s into a recording: the 2 s become the document and
// the user is told why the recording ended.
TEST_F(BoxRecordWindowTest, UnpluggedBoxKeepsWhatWasRecorded)
{
    OrvixRecordController* recorder = openRecordWindow(5);
    ASSERT_NE(recorder, nullptr);
    startRecording(recorder, 2.0 + 2048.0 / 22050.0);
    const std::uint64_t frames = recorder->session()->recordedFrames();
    ASSERT_GE(frames, 2u * 22050u);
    // The recording will replace the document whenever it ends, so nothing
    // may work on the document meanwhile; the application's commands stay.
    EXPECT_FALSE(m_window->action("_OptionsCalibration:")->isEnabled());
    EXPECT_TRUE(m_window->action("_OptionsRecordPlay:")->isEnabled());
    m_box->simulatedBox()->unplug();
    ASSERT_TRUE(settle());
    ASSERT_TRUE(test::waitFor([&] { return m_window->document().channelsInUse() == 5; }));
    EXPECT_TRUE(m_window->action("_OptionsCalibration:")->isEnabled());
    expectBoxSignals(m_window->document(), {0, 4, 5, 6, 7}, frames);
    EXPECT_TRUE(alerted("The recording ended early", "removed"));
    EXPECT_TRUE(alerted("The recording ended early", "seconds recorded until then are in the document"));
    EXPECT_FALSE(std::filesystem::exists(recorder->session()->recordingPath()));
}

// A recording that cannot become channels (none switched on) stays on the
// disk, the document as it was, and the user is told where it is.
TEST_F(BoxRecordWindowTest, UnreadableRecordingIsKept)
{
    settings.g_ChannelInfo[0].bOnOff = 0;
    OrvixRecordController* recorder = openRecordWindow(2);
    ASSERT_NE(recorder, nullptr);
    control<QCheckBox>(recorder, "Channel 1 on")->click();
    startRecording(recorder, 0.5);
    const std::filesystem::path path = recorder->session()->recordingPath();
    press(recorder, "Save");
    // Nothing to press while the stream drains.
    EXPECT_EQ(message(recorder), "Saving the file... Please wait");
    EXPECT_FALSE(control<QPushButton>(recorder, "Record")->isEnabled());
    EXPECT_FALSE(control<QPushButton>(recorder, "Save")->isEnabled());
    ASSERT_TRUE(settle());
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_TRUE(m_window->isUntouchedUntitled());
    EXPECT_TRUE(alerted("Recording not read", path.string()));
}

// Closing the window while it streams stops the stream, so a reopening
// never adds a ring to reads still in flight; closing while recording keeps
// the recording, as Save does, even when its document window went first: a
// new window takes it.
TEST_F(BoxRecordWindowTest, ClosingStopsTheStreamAndKeepsARecording)
{
    OrvixRecordController* recorder = openRecordWindow(9);
    ASSERT_NE(recorder, nullptr);
    advance(0.5);
    EXPECT_TRUE(m_box->connection().sampling());
    recorder->close();
    ASSERT_TRUE(settle());
    advance(0.5);
    EXPECT_FALSE(m_box->connection().sampling());
    EXPECT_EQ(m_box->connection().readsInFlight(), 0);

    recorder = reopen();
    advance(0.3);
    EXPECT_LE(m_box->connection().readsInFlight(), BoxConnection::kRingSize);
    press(recorder, "Record");
    advance(1.0);
    const std::uint64_t frames = recorder->session()->recordedFrames();
    m_window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    recorder->close();
    ASSERT_TRUE(settle());
    EXPECT_FALSE(m_box->connection().sampling());
    const auto windows = application->documentWindows();
    ASSERT_EQ(windows.size(), 1u);
    ASSERT_EQ(windows[0]->document().channelsInUse(), 9);
    EXPECT_GE(windows[0]->document().getChannel(0).m_dwFileLength, double(frames));
}

// Record pressed again while the stream of a window just closed in scope
// mode still drains: the window opens on a fresh stream and stays open, and
// its Record button records.
TEST_F(BoxRecordWindowTest, ReopeningWhileTheClosedStreamDrainsStartsAfresh)
{
    OrvixRecordController* recorder = openRecordWindow(5);
    ASSERT_NE(recorder, nullptr);
    advance(0.5);
    recorder->close();
    recorder = reopen();
    ASSERT_NE(recorder, nullptr);
    advance(4.0);
    EXPECT_TRUE(recorder->isVisible());
    EXPECT_TRUE(m_box->connection().sampling());
    EXPECT_LE(m_box->connection().readsInFlight(), BoxConnection::kRingSize);
    press(recorder, "Record");
    advance(0.5);
    ASSERT_NE(recorder->session(), nullptr);
    EXPECT_EQ(recorder->session()->state(), BoxRecordSession::State::Recording);
    EXPECT_GT(recorder->session()->recordedFrames(), 0u);
}

// A recording that arrives while the window it goes to asks about its
// unsaved changes replaced the document the question was about: "Don't
// Save" must not close the window with the recording in it.
TEST_F(BoxRecordWindowTest, RecordingArrivingDuringTheCloseQuestionIsNotClosedAway)
{
    OrvixRecordController* recorder = openRecordWindow(5);
    ASSERT_NE(recorder, nullptr);
    startRecording(recorder, 0.5);
    press(recorder, "Save");
    ASSERT_TRUE(settle());
    ASSERT_EQ(m_window->document().channelsInUse(), 5);
    const double first = m_window->document().getChannel(0).m_dwFileLength;

    prompts.alertReplies = {0}; // "Save before recording?": Override
    recorder = reopen();
    startRecording(recorder, 1.5);
    prompts.whileAlerting = [&](const test::ScriptedPrompts::Alert& alert) {
        if (alert.title.starts_with("Do you want to save the changes")) {
            press(recorder, "Save");
            settle();
        }
    };
    prompts.alertReplies = {-1}; // Don't Save
    m_window->close();
    prompts.whileAlerting = nullptr;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const auto windows = application->documentWindows();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_GT(windows[0]->document().getChannel(0).m_dwFileLength, first);
}

// The live strips: each drawn inside its own band, the bands apart, each
// column's ink within what the newest block drew there (a stroke closed
// back to a strip's first point would cross the block elsewhere), the zoom
// only narrowing what each block draws. The box unplugged in scope mode:
// the user is told and Record is off.
TEST_F(BoxRecordWindowTest, StripsAreDrawnApartUntilTheBoxGoes)
{
    OrvixRecordController* recorder = openRecordWindow(2);
    ASSERT_NE(recorder, nullptr);
    recorder->resize(900, 600);
    QCoreApplication::processEvents();
    OrvixRecordView* view = recorder->view();
    control<QSlider>(recorder, "Zoom")->setValue(5);
    advance(1.0);
    const QImage& trace = view->traceImage();
    const auto& strips = view->strips();
    ASSERT_EQ(strips.size(), 2u);
    const auto ink = [&](int x, int row) { return trace.pixel(x, row) != qRgb(255, 255, 255); };
    const auto inkInRows = [&](int fromRow, int toRow) {
        int count = 0;
        for (int row = std::max(0, fromRow); row <= toRow && row < trace.height(); ++row) {
            for (int x = 0; x < trace.width(); ++x)
                count += ink(x, row) ? 1 : 0;
        }
        return count;
    };
    EXPECT_EQ(inkInRows(view->imageRow(strips[0].bottom) + 1, view->imageRow(strips[1].top) - 1), 0);
    // The strips' titles are read on screen: black, inside their strips.
    ASSERT_EQ(view->titles().size(), 2u);
    const QImage shown = view->grab().toImage();
    for (std::size_t j = 0; j < 2; ++j) {
        const QRect box = view->titles()[j].box;
        EXPECT_EQ(view->titles()[j].text, j == 0 ? "Audio" : "chan# 1");
        EXPECT_GT(box.top(), view->imageRow(strips[j].top));
        EXPECT_LT(box.bottom(), view->imageRow(strips[j].bottom));
        int darkest = 255;
        for (int y = box.top(); y <= box.bottom(); ++y)
            for (int x = box.left(); x <= box.right(); ++x)
                darkest = std::min(darkest, qGray(shown.pixel(x, y)));
        EXPECT_LT(darkest, 100) << j;
    }

    const std::span<const std::uint8_t> block = m_box->connection().newestBlock();
    const int width = trace.width();
    const int start = view->scrollStart();
    for (std::size_t j = 0; j < strips.size(); ++j) {
        SCOPED_TRACE(j);
        const int top = view->imageRow(strips[j].top);
        const int bottom = view->imageRow(strips[j].bottom);
        EXPECT_GT(inkInRows(top, bottom), 0);
        const int mid = strips[j].top + (strips[j].bottom - strips[j].top) / 2;
        const int half = std::abs((strips[j].bottom - strips[j].top) / 2);
        std::vector<int> low(std::size_t(width), INT_MAX);
        std::vector<int> high(std::size_t(width), INT_MIN);
        for (std::size_t i = 0; i < kFramesPerBlock; ++i) {
            const int x = start + int(double(i) * view->scrollRange() / double(kFramesPerBlock));
            const float value = entryValue(block.data() + i * kFrameBytes, view->shownEntries()[j]);
            const int row = view->imageRow(mid + 2 + int(value * float(half - 4)));
            for (int c = std::max(0, x - 1); c <= std::min(width - 1, x + 1); ++c) {
                low[std::size_t(c)] = std::min(low[std::size_t(c)], row);
                high[std::size_t(c)] = std::max(high[std::size_t(c)], row);
            }
        }
        int stray = 0;
        for (int x = start; x < width; ++x) {
            for (int row = top; row <= bottom; ++row)
                stray += ink(x, row) && (row < low[std::size_t(x)] - 1 || row > high[std::size_t(x)] + 1);
        }
        EXPECT_EQ(stray, 0);
    }
    const int before = inkInRows(0, trace.height());
    control<QSlider>(recorder, "Zoom")->setValue(10);
    EXPECT_EQ(view->scrollRange(), view->width() / 10);
    EXPECT_EQ(inkInRows(0, trace.height()), before);

    m_box->simulatedBox()->unplug();
    advance(0.3);
    EXPECT_TRUE(alerted("Record Error"));
    EXPECT_FALSE(control<QPushButton>(recorder, "Record")->isEnabled());
    EXPECT_TRUE(control<QPushButton>(recorder, "Cancel")->isEnabled());
}

// A recording a run left behind when it ended while recording is offered
// at the next launch and opens as a document; its file then goes.
TEST_F(BoxRecordWindowTest, OrphanedRecordingIsOfferedAtTheNextLaunch)
{
    OrvixRecordController* recorder = openRecordWindow(5);
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
    if (gone == 0)
        ::_exit(0);
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
    ASSERT_TRUE(test::waitFor([&] { return !prompts.alerts.empty(); }));
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
