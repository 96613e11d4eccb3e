// The box protocol against the simulated box: the whole sequence from a bare
// loader to a streaming box, with the box's own clock stepped by the test.

#include "USB2HardwareFakes.h"

#include "hardware/SimulatedBox.h"

#include <gtest/gtest.h>

#include <memory>

#include <thread>

#include <cmath>

namespace phonaxis::test {
namespace {

using Clock = std::chrono::steady_clock;

// 300 bytes over three non-contiguous ranges, written out of address order.
FirmwareImage testImage()
{
    FirmwareImage image;
    auto add = [&](std::uint32_t address, std::size_t count, std::uint8_t seed) {
        for (std::size_t done = 0; done < count;) {
            FirmwareRecord record;
            record.Length = static_cast<std::uint32_t>(std::min<std::size_t>(16, count - done));
            record.Address = address + static_cast<std::uint32_t>(done);
            for (std::uint32_t i = 0; i < record.Length; ++i)
                record.Data[i] = static_cast<std::uint8_t>(seed + done + i);
            image.records.push_back(record);
            done += record.Length;
        }
    };
    add(0x0800, 100, 7);
    add(0x0000, 150, 90);
    add(0x0D40, 50, 200);
    FirmwareRecord end;
    end.Type = 1;
    image.records.push_back(end);
    return image;
}

struct ProtocolOnSimulatedBox : ::testing::Test {
    Clock::time_point clock{};
    usb::SimulatedBox sim{9, [this] { return clock; }};
    Recorder seen;
    std::shared_ptr<BoxConnection> box =
        BoxConnection::create(sim, seen.sink(), seen, [this] { return clock; });
    USB2Hardware hw{box};

    void SetUp() override
    {
        box->setRecordReceiver(&seen);
        box->setPlayReceiver(&seen);
        box->setFirmware(testImage());
    }
    // A second box of `channels` on the test's clock, programmed and
    // answering, whose protocol reports to `recorder` (also its play and
    // record receiver); torn down hardware first.
    struct OtherBox {
        std::unique_ptr<usb::SimulatedBox> box;
        std::shared_ptr<BoxConnection> connection;
        std::unique_ptr<USB2Hardware> hardware;
    };
    OtherBox otherBox(int channels, Recorder& recorder)
    {
        OtherBox other;
        other.box = std::make_unique<usb::SimulatedBox>(channels, [this] { return clock; });
        other.connection = BoxConnection::create(*other.box, recorder.sink(), recorder,
                                                 [this] { return clock; });
        other.connection->setFirmware(testImage());
        other.connection->setRecordReceiver(&recorder);
        other.connection->setPlayReceiver(&recorder);
        other.hardware = std::make_unique<USB2Hardware>(other.connection);
        other.hardware->FindLoadDevice();
        other.box->plug();
        other.hardware->handleEvents();
        other.hardware->awaitDownload();
        other.hardware->handleEvents();
        return other;
    }
    // Delivers what is due and lets a download that started run to its end.
    void step()
    {
        hw.handleEvents();
        hw.awaitDownload();
    }
    // Lets the box's time pass in 10 ms steps.
    void run(std::chrono::milliseconds span)
    {
        for (auto end = clock + span; clock < end;) {
            clock += std::chrono::milliseconds(10);
            step();
        }
    }
    void openBox()
    {
        sim.plug();
        hw.FindLoadDevice();
        run(std::chrono::milliseconds(30));
        ASSERT_TRUE(box->haveInterface());
        seen.events.clear();
        seen.console.clear();
    }
};

TEST_F(ProtocolOnSimulatedBox, ABoxPluggedAtLaunchIsProgrammedOpenedAndCounted)
{
    sim.plug();
    hw.FindLoadDevice();
    EXPECT_FALSE(sim.programmed()); // nothing happens before the events are handled
    step();
    EXPECT_FALSE(sim.inReset());
    for (const auto& record : testImage().records)
        for (std::uint32_t i = 0; i < record.Length; ++i)
            ASSERT_EQ(sim.ram()[record.Address + i], record.Data[i]) << record.Address + i;
    EXPECT_EQ(sim.ram()[0x0900], 0); // between the ranges
    step();
    EXPECT_TRUE(sim.programmed());
    EXPECT_TRUE(box->haveHardware());
    EXPECT_EQ(box->systemChannelNumber(), 9);
    EXPECT_EQ(seen.events, std::vector<std::string>{"beep"});
    EXPECT_TRUE(seen.printed("Raw device added."));
    EXPECT_TRUE(seen.printed("Raw device removed."));
    EXPECT_TRUE(seen.printed("Hardware found. Numner of channels = : 9\n"));
}

TEST_F(ProtocolOnSimulatedBox, ASlowLoaderLeavesTheMainThreadFreeAndCancellingLeavesItInReset)
{
    sim.setLoaderDelay(std::chrono::milliseconds(10));
    sim.plug();
    hw.FindLoadDevice();
    hw.handleEvents();
    ASSERT_TRUE(hw.downloading());
    const int total = hw.downloadTotal();
    EXPECT_EQ(total, static_cast<int>(testImage().records.size()) - 1);
    // The protocol answers at once while the loader takes its time.
    for (int pass = 0; pass < 10000 && hw.downloadWritten() < 2; ++pass) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        hw.handleEvents();
    }
    ASSERT_GE(hw.downloadWritten(), 2);
    hw.cancelDownload();
    hw.awaitDownload();
    EXPECT_LT(box->lastDownload->record, total);
    EXPECT_EQ(box->lastDownload->step, FirmwareDownload::Step::Cancelled);
    EXPECT_TRUE(sim.inReset());
    run(std::chrono::milliseconds(50));
    EXPECT_FALSE(sim.programmed());
    EXPECT_FALSE(box->haveHardware());
    EXPECT_TRUE(seen.printed(box->lastDownload->sentence() + "\n"));
}

TEST_F(ProtocolOnSimulatedBox, AnnouncementsFollowTheChannelCount)
{
    const std::string found = "| Found|Close";
    const struct {
        int channels;
        bool present;
        std::vector<std::string> events;
    } cases[] = {
        {9, true, {"beep"}},
        {5, true, {"beep", "alert Orvix USB2 Multichannel Data Acquisition system" + found}},
        {2, true, {"beep", "alert Telvo dual channels Data Acquisition system" + found}},
        {0x15, true, {"beep", "alert Orvix USB2 Multichannel Data Acquisition system" + found}},
        {0x25, true, {"beep", "alert Orvix USB2 Multichannel Data Acquisition system" + found}},
        {0x00, false, {}},
        {3, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.channels);
        usb::SimulatedBox other(c.channels);
        Recorder recorder;
        auto connection = BoxConnection::create(other, recorder.sink(), recorder);
        connection->setFirmware(testImage());
        USB2Hardware hardware(connection);
        hardware.FindLoadDevice();
        other.plug();
        hardware.handleEvents();
        hardware.awaitDownload();
        hardware.handleEvents();
        EXPECT_EQ(connection->haveHardware(), c.present);
        EXPECT_EQ(recorder.events, c.events);
        if (c.present) {
            EXPECT_EQ(connection->systemChannelNumber(), c.channels & 0x0F);
        }
    }
}

TEST_F(ProtocolOnSimulatedBox, AForeignDeviceOfTheVendorIsLeftAlone)
{
    hw.FindLoadDevice();
    sim.plugForeign(0x1650);
    run(std::chrono::milliseconds(30));
    EXPECT_TRUE(seen.printed("found device i didn't want (vendor = 11899, product = 5712)\n"));
    EXPECT_FALSE(box->haveHardware());
    EXPECT_TRUE(seen.events.empty());
}

TEST_F(ProtocolOnSimulatedBox, UnplugAnnouncesKeepsTheFlagAndReplugDownloadsAgain)
{
    openBox();
    sim.unplug();
    run(std::chrono::milliseconds(20));
    EXPECT_EQ(seen.events, (std::vector<std::string>{
                               "beep", "alert Orvix USB2 Multichannel Data Acquisition system| "
                                       "Removed|Close"}));
    EXPECT_TRUE(box->haveHardware());
    EXPECT_FALSE(box->haveInterface());
    EXPECT_EQ(hw.SampleData(), usb::kNoDevice);

    sim.plug();
    run(std::chrono::milliseconds(30));
    EXPECT_TRUE(sim.programmed());
    EXPECT_TRUE(box->haveInterface());
    EXPECT_EQ(sim.ram()[0x0000], 90);
}

TEST_F(ProtocolOnSimulatedBox, AFailedConfigurationRequestLeavesTheBoxAbsent)
{
    sim.failNextRequest(0xB7, usb::kStall);
    sim.plug();
    hw.FindLoadDevice();
    run(std::chrono::milliseconds(30));
    EXPECT_TRUE(seen.printed("unable to do configuration (e000404f)\n"));
    EXPECT_FALSE(box->haveHardware());
}

TEST_F(ProtocolOnSimulatedBox, BlocksArriveInOrderAndDecodeToTheBoxSignals)
{
    openBox();
    std::vector<std::uint64_t> firstFrames;
    std::uint64_t expectedFrame = 0;
    bool first = true;
    seen.onBlock = [&] {
        const auto block = box->newestBlock();
        auto slot = [&](std::size_t frame, std::size_t s) {
            const std::size_t at = frame * 32 + s * 2;
            return static_cast<std::int16_t>(block[at] | block[at + 1] << 8);
        };
        for (std::size_t f = 0; f < 2048; f += 97)
            for (std::size_t s = 0; s < 16; ++s)
                ASSERT_EQ(slot(f, s), usb::SimulatedBox::slotValue(s, expectedFrame + f))
                    << "frame " << expectedFrame + f << " slot " << s;
        expectedFrame += 2048;
        first = false;
    };
    ASSERT_EQ(hw.SampleData(), usb::kSuccess);
    expectedFrame = sim.nextFrame();
    EXPECT_EQ(sim.inFlight(2), 32u);
    run(std::chrono::milliseconds(1000));
    EXPECT_FALSE(first);
    EXPECT_EQ(seen.count("animateRecordData"), 10); // 1 s at 22,050 frames/s
    EXPECT_EQ(sim.inFlight(2), 32u);

    hw.Stop();
    run(std::chrono::seconds(4));
    EXPECT_EQ(seen.count("stopClose"), 1);
    EXPECT_TRUE(seen.printed("Async gnStopCount = 32\n"));
    EXPECT_EQ(sim.inFlight(2), 0u);
}

TEST_F(ProtocolOnSimulatedBox, DeferredControlBlocksReachTheBoxWhole)
{
    openBox();
    BoxControlBlock channels12{};
    channels12[1] = (3 << 3) | (7 - 2) | 0x40; // channel 2: gain 6, 1000 Hz, mask
    BoxControlBlock channels34{};
    channels34[0] = 7;
    hw.setControl(1, 2, channels12, channels34);
    hw.SampleData();
    run(std::chrono::milliseconds(100));
    ASSERT_EQ(sim.controlBlocks().size(), 2u);
    EXPECT_EQ(sim.controlBlocks()[0].index, 1);
    EXPECT_EQ(sim.controlBlocks()[0].bytes, channels12);
    EXPECT_EQ(sim.controlBlocks()[1].index, 2);
    EXPECT_EQ(sim.controlBlocks()[1].bytes, channels34);
}

TEST_F(ProtocolOnSimulatedBox, FailedReadsAndAnUnplugEndTheStreamWithWhatCame)
{
    openBox();
    hw.SampleData();
    run(std::chrono::milliseconds(200));
    sim.failNextTransfer(2, usb::kOverrun);
    run(std::chrono::milliseconds(100));
    EXPECT_TRUE(seen.printed("error from async bulk read (e00002e8)\n"));
    const int blocks = seen.count("animateRecordData");
    EXPECT_GT(blocks, 0);
    sim.unplug();
    run(std::chrono::milliseconds(100));
    EXPECT_EQ(seen.count("stopClose"), 1);
    EXPECT_EQ(seen.count("animateRecordData"), blocks);
    EXPECT_FALSE(box->sampling());
}

std::vector<float> tone(std::size_t count)
{
    std::vector<float> samples(count);
    for (std::size_t i = 0; i < count; ++i)
        samples[i] = static_cast<float>(0.8 * std::sin(0.01 * static_cast<double>(i)));
    return samples;
}

TEST_F(ProtocolOnSimulatedBox, PlaybackSendsEveryWordThenPaddingAndStops)
{
    const struct {
        int samples;
        std::size_t words; // what the box receives
    } cases[] = {{2047, 2048}, {2048, 4096}, {33 * 2048, 33 * 2048}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.samples);
        Recorder recorder;
        const OtherBox box = otherBox(2, recorder);
        usb::SimulatedBox& other = *box.box;
        BoxConnection* connection = box.connection.get();
        USB2Hardware& hardware = *box.hardware;
        const auto samples = tone(static_cast<std::size_t>(c.samples) + 10);
        ASSERT_TRUE(hardware.Play(samples, 10, 10 + c.samples));
        for (int step = 0; step < 400 && connection->playing(); ++step) {
            clock += std::chrono::milliseconds(10);
            other.handleEvents();
        }
        ASSERT_EQ(other.received().size(), c.words);
        for (std::size_t i = 0; i < c.words; ++i) {
            const float s = i < static_cast<std::size_t>(c.samples) ? samples[10 + i] : 0.0f;
            ASSERT_EQ(other.received()[i], static_cast<std::uint16_t>(DtoAdata(s))) << i;
        }
        EXPECT_EQ(recorder.count("stopHardwarePlay"), 1);
        EXPECT_FALSE(other.playing()); // stopped by 0xB4
        EXPECT_GT(recorder.elapsedNs.back(), 0.0);
    }
}

// The box has one stop for sampling and playback: a playback must never end
// a stream it did not start. A recording's stream refuses it and goes on; a
// live view's stream pauses for it and starts again after it. The box never
// sees sampling and playback brought together.
TEST_F(ProtocolOnSimulatedBox, APlaybackNeverEndsAStreamItDidNotStart)
{
    for (const bool yields : {false, true}) {
        SCOPED_TRACE(yields ? "live view" : "recording");
        Recorder recorder;
        recorder.yields = yields;
        const OtherBox box = otherBox(9, recorder);
        usb::SimulatedBox& other = *box.box;
        BoxConnection* connection = box.connection.get();
        USB2Hardware& hardware = *box.hardware;
        const auto step = [&](int ms) {
            for (int t = 0; t < ms; t += 10) {
                clock += std::chrono::milliseconds(10);
                hardware.handleEvents();
            }
        };
        ASSERT_EQ(hardware.SampleData(), usb::kSuccess);
        step(300);
        const int blocks = recorder.count("animateRecordData");
        ASSERT_GT(blocks, 0);

        const auto samples = tone(3 * 2048);
        const PlayStart started = hardware.Play(samples, 0, 3 * 2048);
        if (!yields) {
            EXPECT_EQ(started.refusal, PlayRefusal::StreamInUse);
            EXPECT_EQ(std::count(other.requests().begin(), other.requests().end(), 0xB3), 0);
            step(1000);
            EXPECT_GE(recorder.count("animateRecordData"), blocks + 9);
            EXPECT_TRUE(connection->sampling());
            EXPECT_EQ(other.inFlight(2), 32u);
            hardware.Stop();
            step(4000);
            EXPECT_EQ(recorder.count("stopClose"), 1);
        } else {
            ASSERT_TRUE(started);
            EXPECT_FALSE(connection->sampling());
            EXPECT_EQ(other.inFlight(2), 0u);
            for (int t = 0; t < 400 && connection->playing(); ++t)
                step(10);
            EXPECT_EQ(other.received().size(), 4u * 2048u);
            EXPECT_EQ(recorder.count("stopHardwarePlay"), 1);
            EXPECT_EQ(recorder.count("stopClose"), 0); // paused quietly
            ASSERT_EQ(hardware.SampleData(), usb::kSuccess);
            const int resumed = recorder.count("animateRecordData");
            step(500);
            EXPECT_GT(recorder.count("animateRecordData"), resumed);
            EXPECT_TRUE(hardware.cancel());
        }
        EXPECT_TRUE(other.conflicts().empty()) << other.conflicts().front();
    }
}

} // namespace
} // namespace phonaxis::test
