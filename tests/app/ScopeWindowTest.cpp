// The scope window on the simulated box: its own stream started and ended
// with nothing left in flight, another's stream or playback left alone, an
// ended stream restarted after a pause, the strips gone with the box.

#include "app/Application.h"
#include "display/ScopeView.h"
#include "hardware/SimulatedBox.h"
#include "hardware/USB2Hardware.h"
#include "hardware/ui/BoxScopeSource.h"
#include "support/AppFixture.h"
#include "support/BoxLaunching.h"

#include <QPointer>

#include <gtest/gtest.h>

namespace phonaxis {
namespace {

using test::waitFor;

// A recording window's side of the stream: it only counts the blocks.
struct OtherReceiver final : RecordReceiver {
    void animateRecordData() override { ++blocks; }
    void refreshDisplay() override {}
    void stopClose() override {}
    int blocks = 0;
};

class ScopeWindowTest : public test::AppFixture {
protected:
    ScopeWindowTest() : AppFixture("phonaxis-scope-") {}

    void launchBox(int channels)
    {
        box = test::launchSimulatedBox(*application, prompts, folder, channels);
    }
    void TearDown() override
    {
        delete application->scopeWindow();
        application->setBoxService(nullptr);
    }

    std::unique_ptr<BoxService> box;
};

TEST_F(ScopeWindowTest, StartsTheStreamDrawsAndEndsItOnClose)
{
    launchBox(9);
    settings.g_ChannelInfo[3].bOnOff = 0;
    application->ScopeMode();
    QPointer<ScopeWindowController> window = application->scopeWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Scope"));
    ScopeView* view = window->view();
    EXPECT_EQ(view->stripEntries(), (std::vector<int>{0, 1, 2, 4, 5, 6, 7, 8}));
    BoxConnection& connection = box->connection();
    ASSERT_TRUE(waitFor([&] { return view->channelData().size() == 9; }));

    // The one scope window comes to the front again.
    application->ScopeMode();
    EXPECT_EQ(application->scopeWindow(), window.data());

    window->close();
    EXPECT_FALSE(view->ticking());
    EXPECT_FALSE(connection.sampling());
    EXPECT_EQ(connection.readsInFlight(), 0);
    EXPECT_EQ(connection.recordReceiver, nullptr);
    EXPECT_EQ(box->simulatedBox()->inFlight(2), 0u);
    EXPECT_FALSE(box->simulatedBox()->sampling());
    ASSERT_TRUE(waitFor([&] { return window.isNull(); }));

    // The box gone: the strips go and the window says so.
    application->ScopeMode();
    view = application->scopeWindow()->view();
    EXPECT_EQ(view->stripRects().size(), 8u);
    box->simulatedBox()->unplug();
    ASSERT_TRUE(waitFor([&] { return !box->boxPresent(); }));
    view->onTick();
    EXPECT_TRUE(view->stripRects().empty());
    EXPECT_EQ(view->message().toStdString(), "No acquisition box is streaming.");
}

// A playback through the box goes on (starting a stream would end it);
// when the recording window streams, the scope draws its blocks and
// closing the scope leaves that stream running.
TEST_F(ScopeWindowTest, LeavesAPlaybackAndARecordingWindowsStreamAlone)
{
    launchBox(5);
    BoxConnection& connection = box->connection();
    const std::vector<float> tone(22050 * 4, 0.25f);
    ASSERT_TRUE(box->hardware().Play(tone, 0, static_cast<std::int32_t>(tone.size())));
    application->ScopeMode();
    application->scopeWindow()->view()->onTick();
    EXPECT_TRUE(connection.playing());
    EXPECT_FALSE(connection.sampling());
    application->scopeWindow()->close();
    EXPECT_TRUE(connection.playing());
    ASSERT_TRUE(box->hardware().cancel());
    delete application->scopeWindow();

    OtherReceiver recording;
    connection.setRecordReceiver(&recording);
    ASSERT_EQ(box->hardware().SampleData(), usb::kSuccess);
    application->ScopeMode();
    ScopeView* view = application->scopeWindow()->view();
    ASSERT_TRUE(waitFor([&] { return view->channelData().size() == 5; }));
    EXPECT_EQ(connection.recordReceiver, &recording);
    application->scopeWindow()->close();
    EXPECT_TRUE(connection.sampling());
    EXPECT_EQ(connection.recordReceiver, &recording);
    const int seen = recording.blocks;
    ASSERT_TRUE(waitFor([&] { return recording.blocks > seen; }));
    EXPECT_TRUE(box->hardware().cancel());
    connection.setRecordReceiver(nullptr);
}

// A playback through the box pauses the scope's stream (the box cannot play
// and sample at once: the playback's end would stop the stream for good) and
// the scope's tick starts it again after the playback. The box never sees
// sampling and playback together.
TEST_F(ScopeWindowTest, PausesForABoxPlaybackAndResumesAfterIt)
{
    launchBox(5);
    application->ScopeMode();
    ScopeView* view = application->scopeWindow()->view();
    BoxConnection& connection = box->connection();
    ASSERT_TRUE(waitFor([&] { return connection.sampling() && connection.blockCount() > 1; }));

    const std::vector<float> tone(22050 / 2, 0.25f);
    ASSERT_TRUE(box->hardware().Play(tone, 0, static_cast<std::int32_t>(tone.size())));
    EXPECT_FALSE(connection.sampling());
    view->onTick();
    EXPECT_FALSE(connection.sampling()); // paused while the box plays
    ASSERT_TRUE(waitFor([&] { return !connection.playing(); }));
    EXPECT_GE(box->simulatedBox()->received().size(), tone.size());

    const std::uint64_t blocks = connection.blockCount();
    ASSERT_TRUE(waitFor([&] { return connection.blockCount() > blocks + 2; }));
    EXPECT_EQ(view->channelData().size(), 5u);
    EXPECT_TRUE(box->simulatedBox()->conflicts().empty()) << box->simulatedBox()->conflicts()[0];
    application->scopeWindow()->close();
    EXPECT_EQ(connection.readsInFlight(), 0);
}

// A stream the scope started that ends under it (stopped, failed) is
// started again two seconds later, not at every tick.
TEST_F(ScopeWindowTest, RestartsAnEndedStreamAfterAPause)
{
    launchBox(2);
    BoxScopeSource::Clock::time_point now{};
    BoxScopeSource source(*box, [&] { return now; });
    source.keepStreaming();
    ASSERT_TRUE(source.ownsStream());

    box->hardware().Stop();
    ASSERT_TRUE(waitFor([&] { return !box->connection().sampling(); }));
    EXPECT_EQ(box->connection().recordReceiver, nullptr);
    now += std::chrono::milliseconds(1900);
    source.keepStreaming();
    EXPECT_FALSE(box->connection().sampling());
    now += std::chrono::milliseconds(100);
    source.keepStreaming();
    EXPECT_TRUE(source.ownsStream());
}

} // namespace
} // namespace phonaxis
