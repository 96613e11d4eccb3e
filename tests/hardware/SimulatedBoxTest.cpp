#include "hardware/SimulatedBox.h"
#include "hardware/FirmwareImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace phonaxis::usb {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kBlockBytes = 65536;
constexpr std::size_t kPlayBytes = 4096;

struct Notice {
    bool arrival = false;
    DeviceIdentity identity;
    std::uint64_t key = 0;
};

struct Done {
    int tag = 0;
    Status status = kSuccess;
    std::size_t transferred = 0;
};

// A box on a clock the test steps, with a host that records every notice.
class SimulatedBoxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_EQ(m_box.watch(
                      SimulatedBox::kVendor,
                      [this](std::shared_ptr<UsbDevice> d) {
                          m_notices.push_back({true, d->identity(), d->key()});
                          m_devices.push_back(std::move(d));
                      },
                      [this](const DeviceIdentity& id, std::uint64_t key) {
                          m_notices.push_back({false, id, key});
                      },
                      error),
                  kSuccess);
    }

    static Status send(auto& target, std::uint8_t type, std::uint8_t request, std::uint16_t value,
                       std::vector<std::uint8_t>& data)
    {
        std::size_t transferred = 0;
        const Status status = target.control({type, request, value, 0, data}, transferred);
        if (status == kSuccess) {
            EXPECT_EQ(transferred, data.size());
        }
        return status;
    }
    static Status out(auto& target, std::uint8_t request, std::uint16_t value = 0,
                      std::vector<std::uint8_t> data = {})
    {
        return send(target, 0x40, request, value, data);
    }

    static Status download(UsbDevice& loader, const FirmwareImage& image)
    {
        Status s = loader.open();
        std::uint8_t value = 0;
        if (s == kSuccess)
            s = loader.configurationValue(0, value);
        if (s == kSuccess)
            s = loader.setConfiguration(value);
        if (s == kSuccess)
            s = out(loader, 0xA0, 0xE600, {1});
        for (const FirmwareRecord& r : image.records) {
            if (s != kSuccess || r.Type != 0)
                break;
            s = out(loader, 0xA0, static_cast<std::uint16_t>(r.Address),
                    {r.Data.begin(), r.Data.begin() + r.Length});
        }
        if (s == kSuccess)
            s = out(loader, 0xA0, 0xE600, {0});
        loader.close();
        return s;
    }

    static FirmwareImage smallImage()
    {
        FirmwareImage image;
        for (std::uint32_t i = 0; i < 5; ++i) {
            FirmwareRecord r;
            r.Length = 16;
            r.Address = 0x0300 - i * 0x40;
            for (std::uint8_t k = 0; k < 16; ++k)
                r.Data[k] = static_cast<std::uint8_t>(i * 16 + k);
            image.records.push_back(r);
        }
        image.records.push_back(FirmwareRecord{0, 0, 1, {}});
        return image;
    }

    // Plugs the box, downloads, and opens the programmed box's interface.
    void bringUp()
    {
        m_box.plug();
        m_box.handleEvents();
        ASSERT_EQ(download(*m_devices.back(), smallImage()), kSuccess);
        m_box.handleEvents();
        ASSERT_TRUE(m_box.programmed());
        UsbDevice& device = *m_devices.back();
        ASSERT_EQ(device.open(), kSuccess);
        ASSERT_EQ(device.setConfiguration(1), kSuccess);
        ASSERT_EQ(device.openFirstInterface(m_interface), kSuccess);
    }

    Completion record(int tag)
    {
        return [this, tag](Status status, std::size_t n) { m_done.push_back({tag, status, n}); };
    }
    void step(std::chrono::nanoseconds by)
    {
        m_now += by;
        m_box.handleEvents();
    }

    SimulatedBox::Clock::time_point m_now{std::chrono::hours(1)};
    SimulatedBox m_box{9, [this] { return m_now; }};
    std::vector<Notice> m_notices;
    std::vector<std::shared_ptr<UsbDevice>> m_devices;
    std::unique_ptr<UsbInterface> m_interface;
    std::vector<Done> m_done;
};

TEST_F(SimulatedBoxTest, LoaderTakesTheImageAndComesBackProgrammedThroughHandleEvents)
{
    m_box.plug();
    EXPECT_TRUE(m_notices.empty()); // only from handleEvents
    EXPECT_EQ(m_box.nextTimeout(), 0ms);
    m_box.handleEvents();
    ASSERT_EQ(m_notices.size(), 1u);
    EXPECT_TRUE(m_notices[0].arrival);
    EXPECT_EQ(m_notices[0].identity.product, SimulatedBox::kLoaderProduct);
    std::shared_ptr<UsbDevice> loader = m_devices[0];

    ASSERT_EQ(download(*loader, smallImage()), kSuccess);
    EXPECT_FALSE(m_box.inReset());
    EXPECT_EQ(m_notices.size(), 1u);
    m_box.handleEvents();
    ASSERT_EQ(m_notices.size(), 3u);
    EXPECT_FALSE(m_notices[1].arrival);
    EXPECT_EQ(m_notices[1].identity, loader->identity());
    EXPECT_EQ(m_notices[1].key, loader->key());
    EXPECT_TRUE(m_notices[2].arrival);
    EXPECT_EQ(m_notices[2].identity.product, SimulatedBox::kBoxProduct);
    EXPECT_NE(m_notices[2].key, loader->key());
    EXPECT_TRUE(m_box.programmed());
    EXPECT_EQ(loader->open(), kNoDevice);
    for (std::size_t i = 0; i < 16; ++i) {
        EXPECT_EQ(m_box.ram()[0x0300 + i], i);
        EXPECT_EQ(m_box.ram()[0x0200 + i], 64 + i);
    }
    EXPECT_TRUE(m_box.requests().empty()); // the loader's writes are not the box's requests

    // Plugged again it is a loader again, with a new key.
    m_box.unplug();
    m_box.plug();
    m_box.handleEvents();
    ASSERT_EQ(m_notices.size(), 5u);
    EXPECT_FALSE(m_notices[3].arrival);
    EXPECT_EQ(m_notices[4].identity.product, SimulatedBox::kLoaderProduct);
    EXPECT_FALSE(m_box.programmed());
}

TEST_F(SimulatedBoxTest, ABoxPresentBeforeTheWatchArrivesAtTheNextHandleEvents)
{
    SimulatedBox box(5, [this] { return m_now; });
    box.plug();
    box.plugForeign(0x1234);
    std::vector<std::uint16_t> products;
    std::string error;
    ASSERT_EQ(box.watch(
                  SimulatedBox::kVendor,
                  [&](std::shared_ptr<UsbDevice> d) {
                      products.push_back(d->identity().product);
                      ASSERT_EQ(d->open(), kSuccess);
                      if (d->identity().product == 0x1234) {
                          EXPECT_EQ(out(*d, 0xA0, 0xE600, {1}), kStall);
                      }
                  },
                  [](const DeviceIdentity&, std::uint64_t) {}, error),
              kSuccess);
    EXPECT_TRUE(products.empty());
    box.handleEvents();
    EXPECT_EQ(products, (std::vector<std::uint16_t>{SimulatedBox::kLoaderProduct, 0x1234}));
    EXPECT_FALSE(box.inReset());
}

TEST_F(SimulatedBoxTest, OnlyAGoodImageReleasedFromResetReenumerates)
{
    const struct {
        const char* what;
        std::vector<std::pair<std::uint16_t, std::vector<std::uint8_t>>> writes;
        Status lastStatus;
        bool comesBack;
    } cases[] = {
        {"good", {{0xE600, {1}}, {0x10, {1, 2}}, {0xE600, {0}}}, kSuccess, true},
        {"no bytes", {{0xE600, {1}}, {0xE600, {0}}}, kSuccess, false},
        {"17-byte record",
         {{0xE600, {1}}, {0x10, std::vector<std::uint8_t>(17, 1)}, {0xE600, {0}}},
         kSuccess,
         false},
        {"written while running",
         {{0xE600, {1}}, {0xE600, {0}}, {0x10, {1}}, {0xE600, {0}}},
         kSuccess,
         false},
        {"written without a reset", {{0x10, {1}}, {0xE600, {0}}}, kSuccess, false},
        {"a write past the RAM",
         {{0xE600, {1}}, {0x3FF8, std::vector<std::uint8_t>(9, 1)}},
         kStall,
         false},
        {"a reset write of 2 bytes", {{0xE600, {1, 0}}}, kStall, false},
    };
    for (const auto& c : cases) {
        SimulatedBox box(9, [this] { return m_now; });
        std::vector<std::shared_ptr<UsbDevice>> arrived;
        std::string error;
        box.watch(
            SimulatedBox::kVendor, [&](std::shared_ptr<UsbDevice> d) { arrived.push_back(d); },
            [](const DeviceIdentity&, std::uint64_t) {}, error);
        box.plug();
        box.handleEvents();
        ASSERT_EQ(arrived.size(), 1u);
        ASSERT_EQ(arrived[0]->open(), kSuccess);
        Status last = kSuccess;
        for (const auto& [address, bytes] : c.writes) {
            last = out(*arrived[0], 0xA0, address, bytes);
        }
        EXPECT_EQ(last, c.lastStatus) << c.what;
        box.handleEvents();
        EXPECT_EQ(box.programmed(), c.comesBack) << c.what;
        EXPECT_EQ(arrived.size(), c.comesBack ? 2u : 1u) << c.what;
    }
}

TEST_F(SimulatedBoxTest, ProgrammedBoxAnswersItsRequestsWithExactLengthsAndDirections)
{
    bringUp();
    const struct {
        std::uint8_t type;
        std::uint8_t request;
        std::uint16_t value;
        std::size_t length;
        Status expected;
    } cases[] = {
        {0x40, 0xB2, 0, 0, kSuccess},    {0x40, 0xB4, 0, 0, kSuccess},
        {0x40, 0xB3, 0, 0, kSuccess},    {0x40, 0xB4, 0, 0, kSuccess},
        {0x40, 0xB6, 1, 64, kSuccess},   {0xC0, 0xB7, 0, 64, kSuccess},
        {0x40, 0xB2, 0, 1, kStall},      {0xC0, 0xB4, 0, 0, kStall},
        {0x40, 0xB6, 0, 63, kStall},     {0xC0, 0xB6, 0, 64, kStall},
        {0x40, 0xB7, 0, 64, kStall},     {0xC0, 0xB7, 0, 8, kStall},
        {0x40, 0xB2, 5, 0, kStall},      {0x40, 0xB5, 0, 0, kStall},
        {0x40, 0xA0, 0xE600, 1, kStall},
    };
    std::vector<std::uint8_t> expectedRequests;
    for (const auto& c : cases) {
        std::vector<std::uint8_t> data(c.length, 0x5A);
        EXPECT_EQ(send(*m_interface, c.type, c.request, c.value, data), c.expected)
            << std::hex << int(c.request) << " type " << int(c.type) << " length " << c.length;
        expectedRequests.push_back(c.request);
    }
    EXPECT_EQ(m_box.requests(), expectedRequests);
    ASSERT_EQ(m_box.controlBlocks().size(), 1u);
    EXPECT_EQ(m_box.controlBlocks()[0].index, 1);
    EXPECT_TRUE(std::all_of(m_box.controlBlocks()[0].bytes.begin(),
                            m_box.controlBlocks()[0].bytes.end(),
                            [](std::uint8_t b) { return b == 0x5A; }));
}

// One stop serves sampling and playback: every request that runs them
// together is listed, so that a test can show the host never does.
TEST_F(SimulatedBoxTest, RequestsThatRunSamplingAndPlaybackTogetherAreListed)
{
    bringUp();
    for (const std::uint8_t request : {0xB2, 0xB4, 0xB3, 0xB4, 0xB2, 0xB3, 0xB4, 0xB3, 0xB2, 0xB4})
        ASSERT_EQ(out(*m_interface, request), kSuccess) << std::hex << int(request);
    EXPECT_EQ(m_box.conflicts(), (std::vector<std::string>{
                                     "start of playback while sampling",
                                     "stop while sampling and playing",
                                     "start of sampling while playing",
                                     "stop while sampling and playing",
                                 }));
}

// A short read brings the bytes it was told to, wherever they end; the
// next read finishes the frame and goes on, so the bytes of every read put
// together are the box's frames without a gap.
TEST_F(SimulatedBoxTest, AShortReadEndsWhereToldAndTheNextGoesOnFromThere)
{
    bringUp();
    m_box.shortenReads(1000, 1);
    std::vector<std::vector<std::uint8_t>> buffers(2, std::vector<std::uint8_t>(kBlockBytes));
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(m_interface->readPipeAsync(2, buffers[i], record(i)), kSuccess);
    ASSERT_EQ(out(*m_interface, 0xB2), kSuccess);
    const std::uint64_t first = m_box.nextFrame();
    step(1s);
    ASSERT_EQ(m_done.size(), 2u);
    EXPECT_EQ(m_done[0].transferred, 1000u);
    EXPECT_EQ(m_done[1].transferred, kBlockBytes - 8); // the rest of frame 31, then whole frames
    std::vector<std::uint8_t> stream(buffers[0].begin(), buffers[0].begin() + 1000);
    stream.insert(stream.end(), buffers[1].begin(), buffers[1].begin() + (kBlockBytes - 8));
    ASSERT_EQ(stream.size() % 32, 0u);
    for (std::size_t f = 0; f < stream.size() / 32; ++f)
        for (std::size_t slot = 0; slot < 16; ++slot) {
            const std::uint8_t* p = &stream[f * 32 + slot * 2];
            ASSERT_EQ(static_cast<std::int16_t>(p[0] | p[1] << 8),
                      SimulatedBox::slotValue(slot, first + f))
                << "frame " << f << " slot " << slot;
        }
    EXPECT_EQ(m_box.nextFrame(), first + stream.size() / 32);
}

TEST_F(SimulatedBoxTest, ConfigurationAnswerCarriesTheChannelCount)
{
    for (const int channels : {9, 5, 2, 0x15, 3}) {
        SimulatedBox box(channels, [this] { return m_now; });
        std::shared_ptr<UsbDevice> device;
        std::string error;
        box.watch(
            SimulatedBox::kVendor, [&](std::shared_ptr<UsbDevice> d) { device = d; },
            [](const DeviceIdentity&, std::uint64_t) {}, error);
        box.plug();
        box.handleEvents();
        ASSERT_EQ(download(*device, smallImage()), kSuccess);
        box.handleEvents();
        ASSERT_EQ(device->open(), kSuccess);
        std::vector<std::uint8_t> answer(64, 0xEE);
        EXPECT_EQ(send(*device, 0xC0, 0xB7, 0, answer), kSuccess);
        EXPECT_EQ(answer[0], channels);
        EXPECT_TRUE(std::all_of(answer.begin() + 1, answer.end(), [](auto b) { return b == 0; }));
    }
}

TEST_F(SimulatedBoxTest, SampleBlocksCarryTheSignalsInTimeOrderAsTheClockSteps)
{
    bringUp();
    std::vector<std::vector<std::uint8_t>> buffers(3, std::vector<std::uint8_t>(kBlockBytes));
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(m_interface->readPipeAsync(2, buffers[i], record(i)), kSuccess);
    }
    EXPECT_EQ(m_box.inFlight(2), 3u);
    // Queued before sampling starts, they wait however long.
    EXPECT_EQ(m_box.nextTimeout(), std::nullopt);
    step(10s);
    EXPECT_TRUE(m_done.empty());

    // Started 11 s after the box was made: frames count from then.
    step(1s);
    ASSERT_EQ(out(*m_interface, 0xB2), kSuccess);
    const std::uint64_t first = m_box.nextFrame();
    EXPECT_EQ(first, 22050u * 11);
    // The block's last frame comes 2047 / 22050 s (92.8 ms) later.
    EXPECT_EQ(m_box.nextTimeout(), 93ms);
    step(92ms);
    EXPECT_TRUE(m_done.empty());
    step(1ms);
    ASSERT_EQ(m_done.size(), 1u);
    step(200ms);
    ASSERT_EQ(m_done.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(m_done[i].tag, i);
        EXPECT_EQ(m_done[i].status, kSuccess);
        EXPECT_EQ(m_done[i].transferred, kBlockBytes);
        for (std::size_t f = 0; f < 2048; f += 97) {
            for (std::size_t slot = 0; slot < 16; ++slot) {
                const std::uint8_t* p = &buffers[i][(f * 16 + slot) * 2];
                const auto v = static_cast<std::int16_t>(p[0] | p[1] << 8);
                ASSERT_EQ(v, SimulatedBox::slotValue(slot, first + i * 2048 + f))
                    << "block " << i << " frame " << f << " slot " << slot;
            }
        }
    }
    EXPECT_EQ(m_box.inFlight(2), 0u);

    // Stopped, a read waits; restarted later, frames go on from the clock.
    ASSERT_EQ(out(*m_interface, 0xB4), kSuccess);
    ASSERT_EQ(m_interface->readPipeAsync(2, buffers[0], record(3)), kSuccess);
    step(5s);
    EXPECT_EQ(m_done.size(), 3u);
    ASSERT_EQ(out(*m_interface, 0xB2), kSuccess);
    EXPECT_EQ(m_box.nextFrame(), 22050u * 16 + 6461); // ceil(22050 * 16.293 s)
    m_interface->abortPipes();
    m_box.handleEvents();
    ASSERT_EQ(m_done.size(), 4u);
    EXPECT_EQ(m_done[3].status, kAborted);
}

TEST_F(SimulatedBoxTest, ARingOfReadsQueuedAgainFromTheirCompletionsCatchesUpWithTheClock)
{
    bringUp();
    constexpr int kRing = 4;
    std::vector<std::vector<std::uint8_t>> buffers(kRing, std::vector<std::uint8_t>(kBlockBytes));
    std::function<void(int)> queue = [&](int i) {
        ASSERT_EQ(m_interface->readPipeAsync(2, buffers[i],
                                             [&, i](Status status, std::size_t n) {
                                                 m_done.push_back({i, status, n});
                                                 if (status == kSuccess) {
                                                     queue(i);
                                                 }
                                             }),
                  kSuccess);
    };
    for (int i = 0; i < kRing; ++i) {
        queue(i);
    }
    ASSERT_EQ(out(*m_interface, 0xB2), kSuccess);
    const std::uint64_t first = m_box.nextFrame();
    // One second holds 10 whole blocks (20,480 frames); they all come in one pass.
    step(1s);
    ASSERT_EQ(m_done.size(), 10u);
    for (std::size_t b = 0; b < m_done.size(); ++b) {
        EXPECT_EQ(m_done[b].tag, static_cast<int>(b % kRing));
        EXPECT_EQ(m_done[b].status, kSuccess);
        EXPECT_EQ(m_done[b].transferred, kBlockBytes);
    }
    EXPECT_EQ(m_box.nextFrame(), first + 10 * 2048);
    EXPECT_EQ(m_box.inFlight(2), static_cast<std::size_t>(kRing));
    // The last block holds frames 9 * 2048 on.
    const std::uint8_t* p = &buffers[9 % kRing][4 * 2];
    EXPECT_EQ(static_cast<std::int16_t>(p[0] | p[1] << 8),
              SimulatedBox::slotValue(4, first + 9 * 2048));

    // Closing the interface cancels its reads; each still completes, once.
    ASSERT_EQ(out(*m_interface, 0xB4), kSuccess);
    m_done.clear();
    m_interface.reset();
    m_box.handleEvents();
    ASSERT_EQ(m_done.size(), static_cast<std::size_t>(kRing));
    for (int i = 0; i < kRing; ++i) {
        EXPECT_EQ(m_done[i].tag, (2 + i) % kRing); // in the order they were queued
        EXPECT_EQ(m_done[i].status, kAborted);
    }
    EXPECT_EQ(m_box.inFlight(2), 0u);
}

TEST_F(SimulatedBoxTest, DtoABlocksAreConsumedInTimeAndKept)
{
    bringUp();
    std::vector<std::vector<std::uint8_t>> blocks(2, std::vector<std::uint8_t>(kPlayBytes));
    for (std::size_t i = 0; i < kPlayBytes; ++i) {
        blocks[0][i] = static_cast<std::uint8_t>(i);
        blocks[1][i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    ASSERT_EQ(m_interface->writePipeAsync(1, blocks[0], record(0)), kSuccess);
    ASSERT_EQ(m_interface->writePipeAsync(1, blocks[1], record(1)), kSuccess);
    EXPECT_EQ(m_interface->writePipeAsync(1, std::span(blocks[1]).first(3), record(9)),
              kBadArgument);
    step(1s);
    EXPECT_TRUE(m_done.empty()); // not before 0xB3
    ASSERT_EQ(out(*m_interface, 0xB3), kSuccess);
    EXPECT_EQ(m_box.nextTimeout(), 93ms); // 2048 words at 22,050 words/s
    step(93ms);
    ASSERT_EQ(m_done.size(), 1u);
    step(93ms);
    ASSERT_EQ(m_done.size(), 2u);
    EXPECT_EQ(m_done[1].tag, 1);
    EXPECT_EQ(m_done[1].transferred, kPlayBytes);
    ASSERT_EQ(m_box.received().size(), 4096u);
    for (std::size_t w = 0; w < 4096; ++w) {
        const auto& b = blocks[w / 2048];
        const std::size_t at = (w % 2048) * 2;
        ASSERT_EQ(m_box.received()[w], b[at] | b[at + 1] << 8) << w;
    }
}

TEST_F(SimulatedBoxTest, UnplugMidStreamEndsEveryTransferAndEveryLaterCall)
{
    bringUp();
    std::vector<std::vector<std::uint8_t>> buffers(3, std::vector<std::uint8_t>(kBlockBytes));
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(m_interface->readPipeAsync(2, buffers[i], record(i)), kSuccess);
    }
    std::vector<std::uint8_t> play(kPlayBytes);
    ASSERT_EQ(m_interface->writePipeAsync(1, play, record(10)), kSuccess);
    ASSERT_EQ(out(*m_interface, 0xB2), kSuccess);
    step(100ms);
    ASSERT_EQ(m_done.size(), 1u);
    const std::size_t noticesBefore = m_notices.size();
    m_box.unplug();
    EXPECT_EQ(m_done.size(), 1u); // only from handleEvents
    m_box.handleEvents();
    ASSERT_EQ(m_done.size(), 4u);
    EXPECT_EQ(m_done[1].tag, 1);
    EXPECT_EQ(m_done[2].tag, 2);
    EXPECT_EQ(m_done[3].tag, 10);
    for (std::size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(m_done[i].status, kNoDevice);
        EXPECT_EQ(m_done[i].transferred, 0u);
    }
    ASSERT_EQ(m_notices.size(), noticesBefore + 1);
    EXPECT_FALSE(m_notices.back().arrival);
    EXPECT_EQ(m_notices.back().identity.product, SimulatedBox::kBoxProduct);
    EXPECT_EQ(out(*m_interface, 0xB2), kNoDevice);
    EXPECT_EQ(m_interface->readPipeAsync(2, buffers[0], record(20)), kNoDevice);
    int count = 0;
    EXPECT_EQ(m_interface->endpointCount(count), kNoDevice);
    EXPECT_EQ(m_devices.back()->open(), kNoDevice);
    EXPECT_FALSE(m_box.sampling());
    EXPECT_EQ(m_box.inFlight(2), 0u);
    EXPECT_EQ(m_box.nextTimeout(), std::nullopt);
}

TEST_F(SimulatedBoxTest, InjectedFailuresHitOnlyTheNextRequestOrTransfer)
{
    bringUp();
    m_box.failNextRequest(0xB2, kTimeout);
    m_box.failNextTransfer(2, kOverrun);
    m_box.failNextTransfer(1, kError);
    EXPECT_EQ(out(*m_interface, 0xB2), kTimeout);
    EXPECT_FALSE(m_box.sampling());
    EXPECT_EQ(out(*m_interface, 0xB2), kSuccess);
    ASSERT_EQ(out(*m_interface, 0xB3), kSuccess);

    std::vector<std::vector<std::uint8_t>> reads(2, std::vector<std::uint8_t>(kBlockBytes));
    std::vector<std::vector<std::uint8_t>> writes(2, std::vector<std::uint8_t>(kPlayBytes, 1));
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(m_interface->readPipeAsync(2, reads[i], record(i)), kSuccess);
        ASSERT_EQ(m_interface->writePipeAsync(1, writes[i], record(10 + i)), kSuccess);
    }
    step(1s);
    ASSERT_EQ(m_done.size(), 4u);
    const struct {
        int tag;
        Status status;
        std::size_t transferred;
    } expected[] = {
        {0, kOverrun, 0}, {10, kError, 0}, {1, kSuccess, kBlockBytes}, {11, kSuccess, kPlayBytes}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(m_done[i].tag, expected[i].tag) << i;
        EXPECT_EQ(m_done[i].status, expected[i].status) << i;
        EXPECT_EQ(m_done[i].transferred, expected[i].transferred) << i;
    }
    EXPECT_EQ(m_box.received().size(), 2048u); // the failed block was not kept
}

TEST(SimulatedBoxSignals, SignalsFollowTheirFormulasAndNeverClip)
{
    const struct {
        std::size_t slot;
        std::uint64_t frame;
        double expected;
    } known[] = {
        {0, 0, 0.0},
        {3, 0, 0.0},
        {4, 0, -0.4},                 // EGG: folds apart at the period start
        {4, 18, 0.8 * 0.99897 - 0.4}, // nearly closed a tenth of a period later
        {5, 0, 0.0},
        {6, 0, 0.5 * std::sin(0.6)},
        {15, 0, -0.8},
        {15, 110250, 0.0},  // the ramp half way, at 5 s
        {1, 2205 * 7, 0.0}, // 12 whole periods of 120 Hz in 0.1 s
    };
    for (const auto& k : known) {
        EXPECT_NEAR(SimulatedBox::signal(k.slot, k.frame), k.expected, 1e-3)
            << "slot " << k.slot << " frame " << k.frame;
    }
    for (std::uint64_t n = 0; n < 30000; n += 7) {
        const double audio = SimulatedBox::signal(0, n);
        for (std::size_t slot = 0; slot < 16; ++slot) {
            const double v = SimulatedBox::signal(slot, n);
            ASSERT_LE(std::abs(v), 0.9) << slot << " " << n;
            EXPECT_EQ(SimulatedBox::slotValue(slot, n), std::lround(v * 32768.0));
            if (slot < 4) {
                ASSERT_EQ(v, audio);
            }
            if (slot <= 4) { // audio and EGG repeat every 0.1 s
                ASSERT_NEAR(SimulatedBox::signal(slot, n + 2205), v, 1e-9);
            }
        }
    }
    // Fast closing, slow opening: the contact peaks early in each period.
    std::uint64_t peak = 0;
    for (std::uint64_t n = 0; n < 184; ++n) {
        if (SimulatedBox::signal(4, n) > SimulatedBox::signal(4, peak))
            peak = n;
    }
    EXPECT_LT(peak, 20u);
    // Far into a session the signals keep their precision.
    const std::uint64_t late = 22050ull * 3600 * 24 * 365;
    EXPECT_NEAR(SimulatedBox::signal(4, late), SimulatedBox::signal(4, 0), 1e-9);
}

} // namespace
} // namespace phonaxis::usb
