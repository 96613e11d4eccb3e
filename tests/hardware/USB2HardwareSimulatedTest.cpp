// The box protocol against the simulated box: the whole sequence from a bare
// loader to a streaming box, with the box's own clock stepped by the test.

#include "USB2HardwareFakes.h"

#include "hardware/SimulatedBox.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

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

TEST_F(ProtocolOnSimulatedBox, AnnouncementsFollowTheChannelCount)
{
    const std::string found = "|Found|Close";
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

TEST_F(ProtocolOnSimulatedBox, UnplugAnnouncesKeepsTheFlagAndReplugDownloadsAgain)
{
    openBox();
    sim.unplug();
    run(std::chrono::milliseconds(20));
    EXPECT_EQ(seen.events, (std::vector<std::string>{
                               "beep", "alert Orvix USB2 Multichannel Data Acquisition system|"
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

std::vector<float> tone(std::size_t count)
{
    std::vector<float> samples(count);
    for (std::size_t i = 0; i < count; ++i)
        samples[i] = static_cast<float>(0.8 * std::sin(0.01 * static_cast<double>(i)));
    return samples;
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
