// The box protocol against a scripted transport: discovery and download,
// announcements, control requests, the read ring and the write ring,
// including the failures the box and the bus can produce.

#include "USB2HardwareFakes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <limits>

namespace phonaxis::test {
namespace {

FirmwareRecord dataRecord(std::uint32_t address, std::vector<std::uint8_t> bytes)
{
    FirmwareRecord record;
    record.Length = static_cast<std::uint32_t>(bytes.size());
    record.Address = address;
    std::copy(bytes.begin(), bytes.end(), record.Data.begin());
    return record;
}

FirmwareImage smallImage()
{
    FirmwareImage image;
    image.records = {dataRecord(0x0100, {1, 2, 3}), dataRecord(0x0000, {4, 5}),
                     dataRecord(0x0D99, {6})};
    FirmwareRecord end;
    end.Type = 1;
    image.records.push_back(end);
    // Past the end record: never written.
    image.records.push_back(dataRecord(0x0200, {7}));
    return image;
}

struct ProtocolTest : ::testing::Test {
    FakeTransport usb;
    Recorder seen;
    BoxConnection::Clock::time_point clock{};
    std::shared_ptr<BoxConnection> box =
        BoxConnection::create(usb, seen.sink(), seen, [this] { return clock; });
    USB2Hardware hw{box};

    void SetUp() override
    {
        box->setRecordReceiver(&seen);
        box->setPlayReceiver(&seen);
        box->setFirmware(smallImage());
    }

    // Delivers what the transport holds and lets a download that started
    // run to its end.
    void settle()
    {
        hw.handleEvents();
        hw.awaitDownload();
    }

    std::shared_ptr<FakeDevice> openBox(std::uint8_t answer = 9)
    {
        hw.FindLoadDevice();
        auto device = usb.plug(BoxConnection::kBoxProduct);
        device->configurationAnswer = answer;
        settle();
        seen.events.clear();
        seen.console.clear();
        return device;
    }

    // The requests with this bRequest, in order.
    static std::vector<SentRequest> requests(const FakeDevice& device, std::uint8_t request)
    {
        std::vector<SentRequest> out;
        for (const auto& sent : device.sent)
            if (sent.request == request)
                out.push_back(sent);
        return out;
    }
    static std::vector<std::uint8_t> requestOrder(const FakeDevice& device)
    {
        std::vector<std::uint8_t> out;
        for (const auto& sent : device.sent)
            out.push_back(sent.request);
        return out;
    }
};

// --- discovery and download -------------------------------------------------------

TEST_F(ProtocolTest, LoaderPluggedBeforeArmingGetsTheImageInTableOrderBetweenResetAndRun)
{
    auto loader = usb.plug(BoxConnection::kLoaderProduct);
    EXPECT_EQ(hw.FindLoadDevice(), usb::kSuccess);
    EXPECT_EQ(hw.FindLoadDevice(), usb::kSuccess);
    USB2Hardware(box).FindLoadDevice();
    EXPECT_EQ(usb.watchCalls, 1);
    settle();

    ASSERT_EQ(loader->sent.size(), 5u);
    const std::vector<std::pair<std::uint16_t, std::vector<std::uint8_t>>> expected = {
        {0xE600, {0x01}}, {0x0100, {1, 2, 3}}, {0x0000, {4, 5}}, {0x0D99, {6}}, {0xE600, {0x00}}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(loader->sent[i].requestType, 0x40);
        EXPECT_EQ(loader->sent[i].request, 0xA0);
        EXPECT_EQ(loader->sent[i].value, expected[i].first) << i;
        EXPECT_EQ(loader->sent[i].bytes, expected[i].second) << i;
    }
    EXPECT_EQ(loader->configured, 1);
    EXPECT_FALSE(loader->opened); // closed after the download
    EXPECT_EQ(seen.console.front(),
              "Looking for devices matching vendor ID=11899 and product ID=5632\n");
    EXPECT_TRUE(seen.printed("Raw device added."));
}

TEST_F(ProtocolTest, DownloadFailingAtARecordNamesItFromZeroAndLeavesTheControllerInReset)
{
    hw.FindLoadDevice();
    auto loader = usb.plug(BoxConnection::kLoaderProduct);
    loader->failLoadAt = 3; // reset, record 0, record 1, then record 2 fails
    settle();
    EXPECT_TRUE(seen.printed("AnchorWrite download 2 returned err 0xe000404f!\n"));
    EXPECT_TRUE(seen.printed("unable to download to device: e000404f\n"));
    EXPECT_EQ(loader->sent.back().value, 0x0D99); // no run write after it
    EXPECT_FALSE(loader->opened);
}

// A loader that stops before one of its writes until the test lets it go,
// so that the test sees the download while it runs. Every wait is bounded:
// a download that never comes fails the test instead of hanging it.
struct LoaderGate {
    std::mutex mutex;
    std::condition_variable changed;
    bool reached = false;
    bool released = false;

    void arrive()
    {
        std::unique_lock lock(mutex);
        reached = true;
        changed.notify_all();
        changed.wait_for(lock, std::chrono::seconds(10), [this] { return released; });
    }
    bool waitUntilReached()
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [this] { return reached; });
    }
    void release()
    {
        const std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
};

// Holds `loader` before its write number `at`; releases it whatever the
// test's outcome.
struct HeldLoader {
    std::shared_ptr<LoaderGate> gate = std::make_shared<LoaderGate>();
    HeldLoader(FakeDevice& loader, int at)
    {
        loader.beforeLoad = [gate = gate, at](int write) {
            if (write == at)
                gate->arrive();
        };
    }
    ~HeldLoader() { gate->release(); }
};

TEST_F(ProtocolTest, ASlowLoaderIsProgrammedOffTheMainThreadWithItsProgress)
{
    hw.FindLoadDevice();
    auto loader = usb.plug(BoxConnection::kLoaderProduct);
    HeldLoader held(*loader, 3); // reset, records 0 and 1 written; record 2 held
    hw.handleEvents();
    ASSERT_TRUE(held.gate->waitUntilReached());
    // The main thread is free while the loader takes its time, and sees how
    // far the download has come; the transport is left alone meanwhile.
    EXPECT_TRUE(hw.downloading());
    EXPECT_EQ(hw.downloadWritten(), 2);
    EXPECT_EQ(hw.downloadTotal(), 3);
    // Whatever the transport waits for, the download's end is looked for
    // at a steady pace.
    EXPECT_EQ(hw.nextTimeout(), std::chrono::milliseconds(20));
    auto other = usb.plug(BoxConnection::kBoxProduct);
    hw.handleEvents();
    EXPECT_FALSE(other->opened);
    held.gate->release();
    for (int pass = 0; pass < 10000 && hw.downloading(); ++pass) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        hw.handleEvents();
    }
    ASSERT_FALSE(hw.downloading());
    ASSERT_EQ(loader->sent.size(), 5u);
    EXPECT_EQ(loader->sent.back().value, 0xE600);
    EXPECT_EQ(loader->sent.back().bytes, std::vector<std::uint8_t>{0x00});
    EXPECT_FALSE(loader->opened);
    ASSERT_TRUE(box->lastDownload);
    EXPECT_TRUE(box->lastDownload->ok());
    EXPECT_EQ(box->problem.kind, BoxProblem::Kind::None);
    hw.handleEvents(); // the box that waited is handled now
    EXPECT_TRUE(box->haveInterface());
}

TEST_F(ProtocolTest, CancellingTheDownloadLeavesTheControllerInResetAndSaysSo)
{
    hw.FindLoadDevice();
    auto loader = usb.plug(BoxConnection::kLoaderProduct);
    HeldLoader held(*loader, 1); // the reset written, record 0 held
    hw.handleEvents();
    ASSERT_TRUE(held.gate->waitUntilReached());
    hw.cancelDownload();
    held.gate->release();
    hw.awaitDownload();
    EXPECT_FALSE(hw.downloading());
    // Record 0 was on its way; nothing after it, and no run write.
    ASSERT_EQ(loader->sent.size(), 2u);
    EXPECT_EQ(loader->sent[0].bytes, std::vector<std::uint8_t>{0x01});
    EXPECT_EQ(loader->sent[1].value, 0x0100);
    EXPECT_FALSE(loader->opened);
    ASSERT_TRUE(box->lastDownload);
    EXPECT_EQ(box->lastDownload->step, FirmwareDownload::Step::Cancelled);
    EXPECT_EQ(box->problem.kind, BoxProblem::Kind::Download);
    EXPECT_NE(box->problem.sentence.find("was cancelled. The box is held in reset, without "
                                         "firmware"),
              std::string::npos)
        << box->problem.sentence;
    EXPECT_TRUE(seen.printed(box->problem.sentence + "\n"));
}

TEST_F(ProtocolTest, AFailedDownloadIsToldAsSuchNotAsAMissingBox)
{
    hw.FindLoadDevice();
    auto loader = usb.plug(BoxConnection::kLoaderProduct);
    loader->failLoadAt = 2; // record 1
    settle();
    EXPECT_EQ(box->problem.kind, BoxProblem::Kind::Download);
    EXPECT_EQ(box->problem.status, usb::kStall);
    EXPECT_NE(box->problem.sentence.find("failed at record 1 (e000404f). The box is held in "
                                         "reset"),
              std::string::npos)
        << box->problem.sentence;
    EXPECT_TRUE(seen.printed(box->problem.sentence + "\n"));
}

TEST_F(ProtocolTest, WhatKeptTheBoxAwayIsKeptForTheFrontEndsToTell)
{
    const struct {
        const char* what;
        std::uint16_t product;
        usb::Status failOpen;
        std::uint8_t answer;
        bool firmware;
        BoxProblem::Kind kind;
        const char* says;
    } cases[] = {
        {"no permission on the node", BoxConnection::kLoaderProduct, usb::kNotPermitted, 9, true,
         BoxProblem::Kind::Open, "No permission to open the acquisition box (USB device "
                                 "2e7b:1600). Install the udev rule 70-phonaxis-boxes.rules"},
        {"busy", BoxConnection::kBoxProduct, usb::kBusy, 9, true, BoxProblem::Kind::Open,
         "(USB device 2e7b:1601) could not be opened (e00002d5)"},
        {"no firmware", BoxConnection::kLoaderProduct, usb::kSuccess, 9, false,
         BoxProblem::Kind::NoFirmware, "No firmware image"},
        {"three channels", BoxConnection::kBoxProduct, usb::kSuccess, 3, true,
         BoxProblem::Kind::Configuration, "did not tell its channel count"},
        {"a good box", BoxConnection::kBoxProduct, usb::kSuccess, 9, true, BoxProblem::Kind::None,
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeTransport transport;
        Recorder recorder;
        auto connection = BoxConnection::create(transport, recorder.sink(), recorder);
        if (c.firmware)
            connection->setFirmware(smallImage());
        USB2Hardware hardware(connection);
        hardware.FindLoadDevice();
        auto device = transport.plug(c.product);
        device->failOpen = c.failOpen;
        device->configurationAnswer = c.answer;
        hardware.handleEvents();
        hardware.awaitDownload();
        EXPECT_EQ(connection->problem.kind, c.kind);
        EXPECT_NE(connection->problem.sentence.find(c.says), std::string::npos)
            << connection->problem.sentence;
    }
}

TEST_F(ProtocolTest, ResetAndRunFailuresHaveTheirOwnMessages)
{
    for (int failAt : {0, 4}) {
        FakeTransport transport;
        Recorder recorder;
        auto connection = BoxConnection::create(transport, recorder.sink(), recorder);
        connection->setFirmware(smallImage());
        USB2Hardware hardware(connection);
        hardware.FindLoadDevice();
        transport.plug(BoxConnection::kLoaderProduct)->failLoadAt = failAt;
        hardware.handleEvents();
        hardware.awaitDownload();
        EXPECT_TRUE(recorder.printed(failAt == 0 ? "AnchorWrite reset returned err 0xe000404f!\n"
                                                 : "AnchorWrite run returned err 0xe000404f!\n"));
    }
}

TEST_F(ProtocolTest, ARecordLongerThanSixteenBytesIsRefusedNotWrittenPastItsData)
{
    FirmwareImage image = smallImage();
    image.records[1].Length = 17;
    box->setFirmware(image);
    hw.FindLoadDevice();
    auto loader = usb.plug(BoxConnection::kLoaderProduct);
    settle();
    EXPECT_TRUE(seen.printed("AnchorWrite download 1 returned err 0xe00002c2!\n"));
    EXPECT_EQ(loader->sent.size(), 2u); // reset and record 0 only
}

TEST_F(ProtocolTest, WithoutAnImageTheLoaderIsLeftAloneWithOneMessageAndAnAlert)
{
    box->setFirmware(std::nullopt,
                     "The firmware image /x/firmware.hex could not be read: missing.");
    hw.FindLoadDevice();
    auto loader = usb.plug(BoxConnection::kLoaderProduct);
    settle();
    EXPECT_TRUE(loader->sent.empty());
    EXPECT_FALSE(loader->opened);
    EXPECT_EQ(std::count(seen.console.begin(), seen.console.end(),
                         "The firmware image /x/firmware.hex could not be read: missing.\n"),
              1);
    EXPECT_EQ(seen.events, (std::vector<std::string>{
                               "alert Orvix USB2 Multichannel Data Acquisition system|The firmware "
                               "image /x/firmware.hex could not be read: missing.|Close"}));
}

// The default image that is not there is told only when a box needs it.
TEST_F(ProtocolTest, AMissingDefaultImageIsToldWhenALoaderArrives)
{
    box->setFirmware(std::nullopt, "No firmware image for the acquisition box.", false);
    hw.FindLoadDevice();
    settle();
    EXPECT_FALSE(seen.printed("No firmware image for the acquisition box.\n"));
    usb.plug(BoxConnection::kLoaderProduct);
    settle();
    EXPECT_TRUE(seen.printed("No firmware image for the acquisition box.\n"));
    EXPECT_EQ(seen.events.size(), 1u); // its alert
}

TEST_F(ProtocolTest, ADeviceOfTheVendorWithAnotherProductIsLeftAlone)
{
    hw.FindLoadDevice();
    auto other = usb.plug(0x1602);
    settle();
    EXPECT_TRUE(seen.printed("found device i didn't want (vendor = 11899, product = 5634)\n"));
    EXPECT_TRUE(other->sent.empty());
    EXPECT_FALSE(other->opened);
    EXPECT_FALSE(box->haveHardware());
}

TEST_F(ProtocolTest, TheProgrammedBoxListsItsPipes)
{
    hw.FindLoadDevice();
    usb.plug(BoxConnection::kBoxProduct);
    settle();
    const std::vector<std::string> expected = {
        "Orvix USB2 Multichannel Data Acquisition system device added.",
        "Interface found.",
        "Interface class 255, subclass 0\n",
        "Interface has 2 endpoints.\n",
        "Interface has 2 endpoints.\n",
        "pipeRef 1: number 2:direction out, transfer type bulk, maxPacketSize 512\n",
        "pipeRef 2: number 6:direction in, transfer type bulk, maxPacketSize 512\n",
        "Hardware found. Numner of channels = : 9\n",
        "Hardware Found",
    };
    EXPECT_EQ(std::vector<std::string>(seen.console.begin() + 1, seen.console.end()), expected);
}

TEST_F(ProtocolTest, AFailedConfigurationRequestLeavesTheBoxAbsentAndClosed)
{
    hw.FindLoadDevice();
    auto device = usb.plug(BoxConnection::kBoxProduct);
    device->failRequest[0xB7] = usb::kStall;
    settle();
    EXPECT_TRUE(seen.printed("unable to do configuration (e000404f)\n"));
    EXPECT_FALSE(box->haveHardware());
    EXPECT_FALSE(box->haveInterface());
    EXPECT_TRUE(seen.events.empty());

    // A short answer counts as a failure too.
    auto again = usb.plug(BoxConnection::kBoxProduct);
    again->shortAnswerBy = 1;
    settle();
    EXPECT_TRUE(seen.printed("unable to do configuration (e00002e7)\n"));
}

TEST_F(ProtocolTest, UnpluggingAnnouncesTheRemovalKeepsTheFlagAndTouchesNothingAfter)
{
    auto device = openBox(5);
    usb.unplug(device);
    settle();
    EXPECT_TRUE(seen.printed("Orvix USB2 Multichannel Data Acquisition system device removed."));
    EXPECT_TRUE(seen.printed("Hardware Removed"));
    EXPECT_EQ(seen.events, (std::vector<std::string>{
                               "beep", "alert Orvix USB2 Multichannel Data Acquisition system|"
                                       "Removed|Close"}));
    EXPECT_TRUE(box->haveHardware());
    EXPECT_EQ(box->systemChannelNumber(), 5);
    EXPECT_FALSE(box->haveInterface());
    EXPECT_FALSE(device->opened);
    EXPECT_EQ(device.use_count(), 1); // the box let go of it

    const auto sentBefore = device->sent.size();
    EXPECT_EQ(hw.SampleData(), usb::kNoDevice);
    EXPECT_FALSE(hw.Play(std::vector<float>(10, 0.5f), 0, 10));
    hw.setControlDirect(0, BoxControlBlock{});
    EXPECT_EQ(hw.setControl(1, BoxControlBlock{}), usb::kNoDevice);
    hw.resetHardware();
    EXPECT_EQ(device->sent.size(), sentBefore);
    EXPECT_TRUE(usb.pending.empty());
}

TEST_F(ProtocolTest, SendRequestReportsItsOwnErrorAShortTransferAndNoDevice)
{
    std::array<std::uint8_t, 64> buffer{};
    EXPECT_EQ(hw.SendRequest(buffer, 0xB7, 64, 1, 0), usb::kNoDevice);
    auto device = openBox();
    device->shortAnswerBy = 3;
    EXPECT_EQ(hw.SendRequest(buffer, 0xB7, 64, 1, 0), usb::kUnderrun);
    device->failRequest[0xB6] = usb::kStall;
    EXPECT_EQ(hw.setControl(1, BoxControlBlock{}), usb::kStall);
    EXPECT_EQ(hw.SendRequest(buffer, 0xB7, 64, 1, 0), usb::kSuccess);
    EXPECT_EQ(device->sent.back().requestType, 0xC0);
    EXPECT_EQ(buffer[0], 9);
}

TEST_F(ProtocolTest, ControlBlocksGoOutWholeDirectOrAtTheNextReadCompletion)
{
    auto device = openBox();
    BoxControlBlock audio{};
    audio[0] = 0x08 | 0x10 | 3;
    audio[63] = 0x5A;
    hw.setControlDirect(0, audio);
    ASSERT_EQ(requests(*device, 0xB6).size(), 1u);
    EXPECT_EQ(requests(*device, 0xB6)[0].value, 0);
    EXPECT_EQ(requests(*device, 0xB6)[0].bytes,
              std::vector<std::uint8_t>(audio.begin(), audio.end()));

    BoxControlBlock first{}; // first byte 0: still sent, all 64 bytes
    first[1] = 0x47;
    BoxControlBlock second{};
    second[0] = 0x7F;
    hw.setControl(2, 1, first, second);
    EXPECT_EQ(requests(*device, 0xB6).size(), 1u); // waits for sampling
    ASSERT_EQ(hw.SampleData(), usb::kSuccess);
    EXPECT_EQ(requests(*device, 0xB6).size(), 1u);
    usb.complete(2);
    const auto blocks = requests(*device, 0xB6);
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[1].value, 2);
    EXPECT_EQ(blocks[1].bytes, std::vector<std::uint8_t>(first.begin(), first.end()));
    EXPECT_EQ(blocks[2].value, 1);
    EXPECT_EQ(blocks[2].bytes, std::vector<std::uint8_t>(second.begin(), second.end()));
    EXPECT_TRUE(seen.printed("command set = 2\n"));

    // A negative index is not sent, in either place; index 0 is; the flag
    // is cleared after one use.
    for (const auto& [index1, index2] : {std::pair{-1, 0}, std::pair{0, -1}}) {
        SCOPED_TRACE(index1);
        const std::size_t before = requests(*device, 0xB6).size();
        hw.setControl(index1, index2, first, second);
        usb.complete(2);
        usb.complete(2);
        const auto sent = requests(*device, 0xB6);
        ASSERT_EQ(sent.size(), before + 1);
        EXPECT_EQ(sent.back().value, 0);
        EXPECT_EQ(sent.back().bytes, index1 == 0
                                         ? std::vector<std::uint8_t>(first.begin(), first.end())
                                         : std::vector<std::uint8_t>(second.begin(), second.end()));
    }
}

// --- sampling ------------------------------------------------------------------------

TEST_F(ProtocolTest, SamplingKeepsThirtyTwoReadsAndHandsOverEachBlock)
{
    auto device = openBox();
    ASSERT_EQ(hw.SampleData(), usb::kSuccess);
    EXPECT_EQ(requestOrder(*device), (std::vector<std::uint8_t>{0xB7, 0xB4, 0xB2}));
    EXPECT_EQ(usb.inFlight(2), 32u);
    for (const auto& transfer : usb.pending)
        EXPECT_EQ(transfer.buffer.size(), 65536u);
    EXPECT_TRUE(box->sampling());

    for (int block = 1; block <= 40; ++block) {
        ASSERT_TRUE(usb.complete(2, usb::kSuccess, static_cast<std::uint8_t>(block)));
        EXPECT_EQ(box->newestBlock().size(), 65536u);
        EXPECT_EQ(box->newestBlock().front(), block);
        EXPECT_EQ(box->newestBlock().back(), block);
        EXPECT_EQ(usb.inFlight(2), 32u);
    }
    EXPECT_EQ(seen.count("animateRecordData"), 40);
    EXPECT_EQ(seen.count("refreshDisplay"), 40);
    EXPECT_TRUE(seen.printed("Async bulk read = 7\n"));
    EXPECT_EQ(usb.maxReadsInFlight, 32u);
}

TEST_F(ProtocolTest, AStopEndsAfterTheThirtyTwoReadsInFlightWithOneStopClose)
{
    openBox();
    hw.SampleData();
    usb.complete(2);
    hw.Stop();
    for (int i = 1; i <= 32; ++i) {
        EXPECT_EQ(seen.count("stopClose"), 0) << i;
        ASSERT_TRUE(usb.complete(2));
        EXPECT_TRUE(seen.printed("Async gnStopCount = " + std::to_string(i) + "\n"));
    }
    EXPECT_EQ(seen.count("stopClose"), 1);
    EXPECT_TRUE(seen.printed("Async stopped"));
    EXPECT_EQ(usb.inFlight(2), 0u);
    EXPECT_FALSE(box->sampling());
    EXPECT_EQ(seen.count("animateRecordData"), 1);
}

TEST_F(ProtocolTest, AFailedReadStillCountsTowardTheStop)
{
    openBox();
    hw.SampleData();
    // One read fails while streaming, one while stopping: the ring has 31,
    // then 30 reads left, and the stop must still end.
    usb.complete(2, usb::kStall);
    EXPECT_TRUE(seen.printed("error from async bulk read (e000404f)\n"));
    EXPECT_EQ(usb.inFlight(2), 31u);
    hw.Stop();
    usb.complete(2, usb::kTimeout);
    while (usb.complete(2)) {
    }
    EXPECT_TRUE(seen.printed("Async gnStopCount = 31\n")); // the failed one counted
    EXPECT_EQ(seen.count("stopClose"), 1);
    EXPECT_FALSE(box->sampling());
}

// A read that fails only during the stop counts as well: the 31 others end it.
TEST_F(ProtocolTest, AReadFailingOnlyDuringTheStopCountsTowardIt)
{
    openBox();
    hw.SampleData();
    hw.Stop();
    usb.complete(2, usb::kTimeout);
    while (usb.complete(2)) {
    }
    EXPECT_TRUE(seen.printed("Async gnStopCount = 32\n"));
    EXPECT_EQ(seen.count("stopClose"), 1);
    EXPECT_FALSE(box->sampling());
}

TEST_F(ProtocolTest, AStreamWhoseReadsAllFailEndsWithWhatItReceived)
{
    openBox();
    hw.SampleData();
    usb.complete(2, usb::kSuccess, 0x33);
    while (usb.complete(2, usb::kStall)) {
    }
    EXPECT_EQ(seen.count("stopClose"), 1);
    EXPECT_EQ(box->newestBlock().front(), 0x33);
}

TEST_F(ProtocolTest, UnpluggingWhileSamplingEndsTheStreamOnce)
{
    auto device = openBox();
    hw.SampleData();
    usb.complete(2, usb::kSuccess, 0x44);
    usb.unplug(device);
    settle();
    EXPECT_EQ(seen.count("stopClose"), 1);
    EXPECT_FALSE(box->sampling());
    EXPECT_EQ(box->newestBlock().front(), 0x44);
    EXPECT_TRUE(usb.pending.empty());
}

TEST_F(ProtocolTest, RemovalNoticeBeforeTheFailedReadsEndsTheStreamOnce)
{
    auto device = openBox();
    hw.SampleData();
    hw.FirmwareDeviceRemoved(device->key());
    EXPECT_EQ(seen.count("stopClose"), 1);
    settle(); // the aborted reads come back to a closed interface
    EXPECT_EQ(seen.count("stopClose"), 1);
    EXPECT_EQ(seen.count("animateRecordData"), 0);
}

TEST_F(ProtocolTest, ASecondStartNeverPutsMoreThanThirtyTwoReadsInFlight)
{
    auto device = openBox();
    hw.SampleData();
    usb.complete(2);
    EXPECT_EQ(hw.SampleData(), usb::kSuccess);
    EXPECT_EQ(usb.inFlight(2), 32u);
    EXPECT_EQ(usb.maxReadsInFlight, 32u);
    EXPECT_EQ(seen.count("stopClose"), 0); // the restart is quiet
    EXPECT_TRUE(box->sampling());
}

TEST_F(ProtocolTest, CancelAbortsAndWaitsForEveryRead)
{
    auto device = openBox();
    hw.SampleData();
    seen.onBlock = [this] { EXPECT_FALSE(hw.cancel()); }; // inside a delivery: no waiting
    usb.complete(2);
    seen.onBlock = nullptr;
    EXPECT_FALSE(box->sampling());
    EXPECT_EQ(usb.inFlight(2), 0u);
    EXPECT_GT(box->readsInFlight(), 0);
    EXPECT_TRUE(hw.cancel());
    EXPECT_EQ(box->readsInFlight(), 0);
    EXPECT_EQ(seen.count("stopClose"), 0);
    EXPECT_EQ(device->sent.back().request, 0xB4);
}

TEST_F(ProtocolTest, AStartWhoseReadsCannotBeQueuedReportsIt)
{
    openBox();
    usb.failNextRead = usb::kNoMemory;
    EXPECT_EQ(hw.SampleData(), usb::kNoMemory);
    EXPECT_TRUE(seen.printed("unable to do async bulk read (e00002bd)\n"));
    EXPECT_FALSE(box->sampling());
}

// --- playback --------------------------------------------------------------------------

std::vector<std::uint16_t> words(std::span<const std::uint8_t> bytes)
{
    std::vector<std::uint16_t> out;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        out.push_back(static_cast<std::uint16_t>(bytes[i] | (bytes[i + 1] << 8)));
    return out;
}

std::vector<float> ramp(std::size_t count)
{
    std::vector<float> samples(count);
    for (std::size_t i = 0; i < count; ++i)
        samples[i] = static_cast<float>(std::sin(0.001 * static_cast<double>(i)));
    return samples;
}

TEST(DtoAdata, ReversesTheBitsOfTheOffsetSampleClippedToFullScale)
{
    constexpr float kInf = std::numeric_limits<float>::infinity();
    const struct {
        float sample;
        std::int32_t word;
    } cases[] = {
        {-1.0f, 0x0000},
        {0.0f, static_cast<std::int16_t>(0xFFFE)},
        {1.0f, 0x7FFF},
        {0.5f, 0x7FFD},                              // n = 49150 = 0xBFFE
        {-0.25f, static_cast<std::int16_t>(0xFFFA)}, // n = 24575 = 0x5FFF
        // Beyond full scale: the end of the scale, never a wrap to the other end.
        {1.0001f, 0x7FFF},
        {-1.0001f, 0x0000},
        {1.5f, 0x7FFF},
        {3.0f, 0x7FFF},
        {-2.0f, 0x0000},
        {1e30f, 0x7FFF},
        {kInf, 0x7FFF},
        {-kInf, 0x0000},
        {std::numeric_limits<float>::quiet_NaN(), static_cast<std::int16_t>(0xFFFE)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DtoAdata(c.sample), c.word) << c.sample;
}

TEST_F(ProtocolTest, ShortRangesUseOneBufferPer2048SamplesPlusOnePaddedWithSilence)
{
    const auto samples = ramp(5000);
    for (int length : {2047, 2048, 0}) {
        SCOPED_TRACE(length);
        auto device = openBox();
        ASSERT_TRUE(hw.Play(samples, 100, 100 + length));
        const std::size_t buffers = static_cast<std::size_t>(length / 2048 + 1);
        ASSERT_EQ(usb.inFlight(1), buffers);
        EXPECT_EQ(device->sent.back().request, 0xB3);
        std::vector<std::uint16_t> sent;
        for (const auto& transfer : usb.pending) {
            EXPECT_EQ(transfer.buffer.size(), 4096u);
            const auto w = words(transfer.buffer);
            sent.insert(sent.end(), w.begin(), w.end());
        }
        for (std::size_t i = 0; i < sent.size(); ++i) {
            const float s = i < static_cast<std::size_t>(length) ? samples[100 + i] : 0.0f;
            ASSERT_EQ(sent[i], static_cast<std::uint16_t>(DtoAdata(s))) << i;
        }
        for (std::size_t b = 0; b < buffers; ++b) {
            EXPECT_EQ(seen.count("stopHardwarePlay"), 0);
            clock += std::chrono::milliseconds(93);
            usb.complete(1);
        }
        EXPECT_EQ(seen.count("stopHardwarePlay"), 1);
        EXPECT_EQ(device->sent.back().request, 0xB4);
        EXPECT_TRUE(seen.printed("Async play stopped"));
        EXPECT_EQ(seen.elapsedNs.back(), 93e6 * static_cast<double>(buffers));
        seen.events.clear();
        seen.elapsedNs.clear();
        usb.unplug(device);
        settle();
    }
}

TEST_F(ProtocolTest, ThirtyThreeBlocksRefillBufferZeroThenStopAfterThirtyOne)
{
    const auto samples = ramp(33 * 2048);
    auto device = openBox();
    ASSERT_TRUE(hw.Play(samples, 0, 33 * 2048));
    EXPECT_EQ(usb.inFlight(1), 32u);
    usb.complete(1); // buffer 0 comes back with block 32
    ASSERT_EQ(usb.inFlight(1), 32u);
    const auto refill = words(usb.pending.back().buffer);
    for (std::size_t i = 0; i < 2048; ++i)
        ASSERT_EQ(refill[i], static_cast<std::uint16_t>(DtoAdata(samples[32 * 2048 + i]))) << i;
    usb.complete(1); // buffer 1 finds no more samples
    EXPECT_EQ(usb.inFlight(1), 31u);
    EXPECT_TRUE(seen.printed("Async bulk write nFrames= 34\n"));
    for (int i = 1; i <= 31; ++i) {
        EXPECT_EQ(seen.count("stopHardwarePlay"), 0) << i;
        ASSERT_TRUE(usb.complete(1));
    }
    EXPECT_TRUE(seen.printed("Async gnStopCount = 31\n"));
    EXPECT_EQ(seen.count("stopHardwarePlay"), 1);
    EXPECT_EQ(device->sent.back().request, 0xB4);
    EXPECT_EQ(seen.count("animateHardwarePlay"), 33);
}

// A stop asked for during a long playback (more buffers than the ring holds)
// ends it with the 31st write back after it, told once; the write still out
// is not waited for.
TEST_F(ProtocolTest, AStopDuringALongPlaybackEndsItAfterThirtyOneWrites)
{
    const auto samples = ramp(40 * 2048);
    openBox();
    ASSERT_TRUE(hw.Play(samples, 0, 40 * 2048));
    usb.complete(1);
    usb.complete(1); // both refilled
    ASSERT_EQ(usb.inFlight(1), 32u);
    hw.Stop();
    for (int i = 1; i <= 30; ++i)
        ASSERT_TRUE(usb.complete(1));
    EXPECT_EQ(seen.count("stopHardwarePlay"), 0);
    ASSERT_TRUE(usb.complete(1));
    EXPECT_EQ(seen.count("stopHardwarePlay"), 1);
    EXPECT_EQ(usb.inFlight(1), 1u);
    ASSERT_TRUE(usb.complete(1));
    EXPECT_EQ(seen.count("stopHardwarePlay"), 1);
}

TEST_F(ProtocolTest, AFailedWriteStillLetsThePlaybackFinish)
{
    const auto samples = ramp(40 * 2048);
    // The last buffer of a short range, the one before it (the playback
    // still ends only with the last), or one during the refills of a long one.
    for (auto [blocks, failing] : {std::pair{3, 3}, std::pair{3, 2}, std::pair{40, 35}}) {
        SCOPED_TRACE(failing);
        auto device = openBox();
        ASSERT_TRUE(hw.Play(samples, 0, blocks * 2048));
        for (int i = 0; usb.inFlight(1) > 0; ++i) {
            EXPECT_EQ(seen.count("stopHardwarePlay"), 0) << i;
            usb.complete(1, i == failing ? usb::kStall : usb::kSuccess);
        }
        EXPECT_TRUE(seen.printed("error from async bulk write (e000404f)\n"));
        EXPECT_EQ(seen.count("stopHardwarePlay"), 1);
        EXPECT_FALSE(box->playing());
        seen.events.clear();
        usb.unplug(device);
        settle();
    }
}

TEST_F(ProtocolTest, ARangeEndingBeforeItStartsPlaysNothing)
{
    auto device = openBox();
    EXPECT_FALSE(hw.Play(ramp(10000), 5000, 1000));
    EXPECT_EQ(usb.inFlight(1), 0u);
    EXPECT_TRUE(requests(*device, 0xB3).empty());
}

TEST_F(ProtocolTest, StopNowTellsTheEndOnceAndLeavesTheBoxPlaying)
{
    auto device = openBox();
    ASSERT_TRUE(hw.Play(ramp(5 * 2048), 0, 5 * 2048));
    hw.StopNow();
    while (usb.complete(1)) {
    }
    EXPECT_EQ(seen.events, (std::vector<std::string>{"animateHardwarePlay", "stopHardwarePlay"}));
    EXPECT_TRUE(requests(*device, 0xB4).empty());
}

TEST_F(ProtocolTest, UnpluggingWhilePlayingEndsThePlaybackOnce)
{
    auto device = openBox();
    ASSERT_TRUE(hw.Play(ramp(40 * 2048), 0, 40 * 2048));
    usb.complete(1);
    usb.unplug(device);
    settle();
    EXPECT_EQ(seen.count("stopHardwarePlay"), 1);
    EXPECT_FALSE(box->playing());
}

TEST_F(ProtocolTest, StartingOneTransferKindTreatsTheOtherAsItMust)
{
    auto device = openBox();
    const auto samples = ramp(40 * 2048);
    // A second playback takes the write ring back quietly.
    ASSERT_TRUE(hw.Play(samples, 0, 40 * 2048));
    usb.complete(1);
    ASSERT_TRUE(hw.Play(samples, 0, 40 * 2048));
    EXPECT_EQ(usb.inFlight(1), 32u);
    EXPECT_EQ(seen.count("stopHardwarePlay"), 0);
    // Sampling stops the box's playback: the player is told.
    ASSERT_EQ(hw.SampleData(), usb::kSuccess);
    EXPECT_EQ(seen.count("stopHardwarePlay"), 1);
    EXPECT_EQ(usb.inFlight(1), 0u);
    EXPECT_EQ(usb.inFlight(2), 32u);
    // A playback beside a recording's stream is refused (its end would stop
    // the stream): nothing is sent and the stream goes on.
    const std::size_t requests = device->sent.size();
    EXPECT_EQ(hw.Play(samples, 0, 4096).refusal, PlayRefusal::StreamInUse);
    EXPECT_TRUE(seen.printed("The acquisition box is streaming samples; playback did not start.\n"));
    EXPECT_EQ(device->sent.size(), requests);
    EXPECT_EQ(usb.inFlight(1), 0u);
    EXPECT_EQ(usb.inFlight(2), 32u);
    EXPECT_TRUE(box->sampling());
    EXPECT_EQ(seen.count("stopClose"), 0);
    // A live view's stream pauses for it, quietly.
    seen.yields = true;
    ASSERT_TRUE(hw.Play(samples, 0, 4096));
    EXPECT_EQ(usb.inFlight(2), 0u);
    EXPECT_EQ(usb.inFlight(1), 3u);
    EXPECT_FALSE(box->sampling());
    EXPECT_EQ(seen.count("stopClose"), 0);
    EXPECT_EQ(device->sent.back().request, 0xB3);
}

// A cancelled playback's player is told, and its writes come back.
TEST_F(ProtocolTest, CancellingAPlaybackTellsItsPlayer)
{
    openBox();
    const auto samples = ramp(40 * 2048);
    ASSERT_TRUE(hw.Play(samples, 0, 40 * 2048));
    EXPECT_TRUE(hw.cancel());
    EXPECT_EQ(seen.count("stopHardwarePlay"), 1);
    EXPECT_EQ(usb.inFlight(1), 0u);
}

// However few of a playback's writes are still out, sampling ends it first.
TEST_F(ProtocolTest, SamplingEndsAPlaybackDownToItsLastWrite)
{
    openBox();
    const auto samples = ramp(1024);
    ASSERT_TRUE(hw.Play(samples, 0, 1024));
    ASSERT_EQ(usb.inFlight(1), 1u);
    ASSERT_EQ(hw.SampleData(), usb::kSuccess);
    EXPECT_EQ(seen.count("stopHardwarePlay"), 1);
    EXPECT_EQ(usb.inFlight(1), 0u);
    EXPECT_EQ(usb.inFlight(2), 32u);
}

TEST_F(ProtocolTest, TheSamplesMayGoAwayWhilePlaying)
{
    openBox();
    auto samples = std::make_unique<std::vector<float>>(ramp(40 * 2048));
    ASSERT_TRUE(hw.Play(*samples, 0, 40 * 2048));
    const float first32 = (*samples)[32 * 2048];
    samples.reset();
    usb.complete(1);
    EXPECT_EQ(words(usb.pending.back().buffer)[0], static_cast<std::uint16_t>(DtoAdata(first32)));
}

} // namespace
} // namespace phonaxis::test
