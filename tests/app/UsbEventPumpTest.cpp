// The Qt pump of a USB transport: descriptor readiness and timeouts both
// lead to handleEvents, the descriptor set follows the transport's changes
// (also when they happen during handleEvents), and nothing runs when
// nothing is due.

#include "hardware/ui/UsbEventPump.h"

#include "hardware/UsbTransport.h"

#include <QTest>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <functional>

namespace phonaxis {
namespace {

using namespace std::chrono_literals;

// A pipe stands for libusb's event descriptor: a byte written makes it
// readable, and handleEvents drains it.
struct Pipe {
    std::array<int, 2> fds{-1, -1};
    Pipe()
    {
        EXPECT_EQ(::pipe2(fds.data(), O_NONBLOCK | O_CLOEXEC), 0);
    }
    ~Pipe()
    {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    void signal() const { EXPECT_EQ(::write(fds[1], "x", 1), 1); }
    void drain() const
    {
        char bytes[16];
        while (::read(fds[0], bytes, sizeof bytes) > 0) {
        }
    }
};

class FakeTransport final : public usb::UsbTransport {
public:
    std::vector<const Pipe*> pipes;
    std::optional<std::chrono::milliseconds> timeout;
    std::function<void()> changed;
    std::function<void()> duringEvents;  // runs inside handleEvents
    int handled = 0;

    usb::Status watch(std::uint16_t, Arrival, Removal, std::string&) override
    {
        return usb::kSuccess;
    }
    std::vector<PollFd> pollFds() override
    {
        std::vector<PollFd> fds;
        for (const Pipe* pipe : pipes) {
            fds.push_back({pipe->fds[0], POLLIN});
        }
        return fds;
    }
    void onPollFdsChanged(std::function<void()> c) override { changed = std::move(c); }
    std::optional<std::chrono::milliseconds> nextTimeout() override { return timeout; }
    void handleEvents() override
    {
        ++handled;
        for (const Pipe* pipe : pipes) {
            pipe->drain();
        }
        timeout.reset();  // what was due has been handled
        if (duringEvents) {
            std::exchange(duringEvents, nullptr)();
        }
    }
};

bool waitForHandled(FakeTransport& transport, int count)
{
    return QTest::qWaitFor([&] { return transport.handled >= count; }, 5000);
}

TEST(UsbEventPump, AReadyDescriptorRunsTheEvents)
{
    Pipe pipe;
    FakeTransport transport;
    transport.pipes = {&pipe};
    UsbEventPump pump(transport);
    QTest::qWait(20);
    EXPECT_EQ(transport.handled, 0);  // nothing ready, no timeout
    pipe.signal();
    ASSERT_TRUE(waitForHandled(transport, 1));
    pipe.signal();
    ASSERT_TRUE(waitForHandled(transport, 2));
}

TEST(UsbEventPump, ATimeoutRunsTheEventsOnceWithoutDescriptors)
{
    FakeTransport transport;  // a simulated box: no descriptors
    transport.timeout = 5ms;
    UsbEventPump pump(transport);
    ASSERT_TRUE(waitForHandled(transport, 1));
    QTest::qWait(30);
    EXPECT_EQ(transport.handled, 1);  // the transport named no further timeout

    // A timeout named during handleEvents re-arms the timer.
    transport.timeout = 0ms;
    pump.pump();
    EXPECT_EQ(transport.handled, 2);
    transport.duringEvents = [&] { transport.timeout = 1ms; };
    pump.pump();
    ASSERT_TRUE(waitForHandled(transport, 4));
}

TEST(UsbEventPump, FollowsTheTransportsDescriptors)
{
    Pipe first;
    Pipe second;
    FakeTransport transport;
    transport.pipes = {&first};
    UsbEventPump pump(transport);
    ASSERT_TRUE(static_cast<bool>(transport.changed));

    transport.pipes = {&second};
    transport.changed();
    first.signal();
    QTest::qWait(30);
    EXPECT_EQ(transport.handled, 0);  // the old descriptor is no longer watched
    second.signal();
    ASSERT_TRUE(waitForHandled(transport, 1));
    first.drain();

    // A change during handleEvents (a device opened by a handler) takes
    // effect when that pass is over.
    transport.duringEvents = [&] {
        transport.pipes = {&first, &second};
        transport.changed();
    };
    second.signal();
    ASSERT_TRUE(waitForHandled(transport, 2));
    first.signal();
    ASSERT_TRUE(waitForHandled(transport, 3));
}

TEST(UsbEventPump, StopsListeningWhenDestroyed)
{
    FakeTransport transport;
    {
        UsbEventPump pump(transport);
        EXPECT_TRUE(static_cast<bool>(transport.changed));
    }
    EXPECT_FALSE(static_cast<bool>(transport.changed));
}

} // namespace
} // namespace phonaxis
