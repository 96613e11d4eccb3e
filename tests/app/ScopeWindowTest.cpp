// The scope window in the application, on the simulated box: opened once
// and raised after, it starts the box's stream itself and draws the enabled
// channels; closing it ends that stream with nothing left in flight; a
// recording window's stream is left alone; a stream that ends under it is
// started again only after a pause.

#include "app/Application.h"
#include "display/ScopeView.h"
#include "hardware/FirmwareImage.h"
#include "hardware/SimulatedBox.h"
#include "hardware/USB2Hardware.h"
#include "hardware/ui/BoxScopeSource.h"
#include "hardware/ui/BoxService.h"
#include "support/AnalysisWindowTesting.h"
#include "support/AppFixture.h"

#include <QPointer>

#include <gtest/gtest.h>

#include <fstream>

namespace phonaxis {
namespace {

using test::waitFor;

// A recording window's side of the stream: it only counts the blocks.
struct OtherReceiver final : RecordReceiver {
    void animateRecordData() override { ++blocks; }
    void refreshDisplay() override {}
    void stopClose() override { ++ends; }
    int blocks = 0;
    int ends = 0;
};

class ScopeWindowTest : public test::AppFixture {
protected:
    ScopeWindowTest() : AppFixture("phonaxis-scope-") {}

    // A simulated box of `channels` with a one-byte image, found and open.
    void launchBox(int channels)
    {
        FirmwareImage image;
        FirmwareRecord data;
        data.Length = 1;
        FirmwareRecord end;
        end.Type = 1;
        image.records = {data, end};
        const std::filesystem::path hex = folder / "scope.hex";
        std::ofstream(hex) << image.toHex();
        BoxOptions options;
        options.simulatedChannels = channels;
        options.firmwarePath = hex.string();
        box = std::make_unique<BoxService>(options, prompts);
        application->setBoxService(box.get());
        box->findHardware();
        ASSERT_TRUE(waitFor([&] { return box->boxPresent(); }));
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
    ASSERT_TRUE(waitFor([&] { return connection.sampling(); }));
    const std::uint64_t before = connection.blockCount();
    ASSERT_TRUE(waitFor([&] { return connection.blockCount() > before + 1; }));
    ASSERT_TRUE(waitFor([&] { return view->channelData().size() == 9; }));
    EXPECT_EQ(view->channelData()[8].size(), 344u);

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
    EXPECT_EQ(application->scopeWindow(), nullptr);
}

// When the recording window streams, the scope draws its blocks and
// closing the scope leaves that stream running.
TEST_F(ScopeWindowTest, LeavesARecordingWindowsStreamAlone)
{
    launchBox(5);
    BoxConnection& connection = box->connection();
    OtherReceiver recording;
    connection.setRecordReceiver(&recording);
    ASSERT_EQ(box->hardware().SampleData(), usb::kSuccess);

    application->ScopeMode();
    ScopeView* view = application->scopeWindow()->view();
    ASSERT_TRUE(waitFor([&] { return view->channelData().size() == 5; }));
    EXPECT_EQ(view->channelData()[0].size(), 1376u);
    EXPECT_EQ(connection.recordReceiver, &recording);

    application->scopeWindow()->close();
    EXPECT_TRUE(connection.sampling());
    EXPECT_EQ(connection.recordReceiver, &recording);
    const int seen = recording.blocks;
    ASSERT_TRUE(waitFor([&] { return recording.blocks > seen; }));

    EXPECT_TRUE(box->hardware().cancel());
    connection.setRecordReceiver(nullptr);
}

// A stream the scope started that ends under it (stopped, failed) is
// started again two seconds later, not at every tick.
TEST_F(ScopeWindowTest, RestartsAnEndedStreamAfterAPause)
{
    launchBox(2);
    BoxScopeSource::Clock::time_point now{};
    BoxScopeSource source(*box, [&] { return now; });
    EXPECT_EQ(source.channelCount(), 2);
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

    source.release();
    EXPECT_FALSE(box->connection().sampling());
    EXPECT_EQ(box->connection().readsInFlight(), 0);
}

// A playback through the box goes on: starting a stream would end it.
TEST_F(ScopeWindowTest, LeavesAPlaybackThroughTheBoxAlone)
{
    launchBox(5);
    const std::vector<float> tone(22050 * 4, 0.25f);
    ASSERT_TRUE(box->hardware().Play(tone, 0, static_cast<std::int32_t>(tone.size())));
    application->ScopeMode();
    ScopeView* view = application->scopeWindow()->view();
    view->onTick();
    EXPECT_TRUE(box->connection().playing());
    EXPECT_FALSE(box->connection().sampling());
    EXPECT_EQ(view->stripRects().size(), 5u);
    application->scopeWindow()->close();
    EXPECT_TRUE(box->connection().playing());
    EXPECT_TRUE(box->hardware().cancel());
}

// The box gone: the strips go and the window says so.
TEST_F(ScopeWindowTest, LosesItsStripsWithTheBox)
{
    launchBox(9);
    application->ScopeMode();
    ScopeView* view = application->scopeWindow()->view();
    EXPECT_EQ(view->stripRects().size(), 9u);
    box->simulatedBox()->unplug();
    ASSERT_TRUE(waitFor([&] { return !box->boxPresent(); }));
    view->onTick();
    EXPECT_TRUE(view->stripRects().empty());
    EXPECT_EQ(view->message().toStdString(), "No acquisition box is streaming.");
}

} // namespace
} // namespace phonaxis
