// The ring between the audio thread and the file writer: what does not fit
// is refused (the recorder counts it as dropped), what is there comes out in
// order, also across the end of the storage and between two threads.
#include "audio/SpscRing.h"
#include "support/RunawayGuard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <thread>
#include <vector>

namespace phonaxis {
namespace {

std::vector<int> counting(int first, std::size_t count)
{
    std::vector<int> values(count);
    std::iota(values.begin(), values.end(), first);
    return values;
}

// Pushes and pops in turn on a ring of 4: each step's count asked, count
// moved and (for a pop) the values that came out.
TEST(SpscRing, PushAndPopMoveOnlyWhatFitsAndWhatIsThereInOrder)
{
    EXPECT_EQ(SpscRing<int>(3).capacity(), 4u);
    EXPECT_EQ(SpscRing<int>(0).capacity(), 2u);
    SpscRing<int> ring(4);
    ASSERT_EQ(ring.capacity(), 4u);
    const struct {
        bool push;
        std::size_t asked, moved;
        std::vector<int> popped;
    } steps[] = {
        {false, 3, 0, {}},           // empty
        {true, 6, 4, {}},            // 0..3 fit, 4 and 5 do not
        {true, 1, 0, {}},            // full
        {false, 2, 2, {0, 1}},       //
        {true, 6, 2, {}},            // 0..1 again, wrapping round
        {false, 9, 4, {2, 3, 0, 1}}, // no more than is there
        {false, 1, 0, {}},
    };
    int step = 0;
    for (const auto& s : steps) {
        SCOPED_TRACE(step++);
        if (s.push) {
            const auto values = counting(0, s.asked);
            EXPECT_EQ(ring.push(values.data(), s.asked), s.moved);
        } else {
            std::vector<int> out(s.asked, -1);
            ASSERT_EQ(ring.pop(out.data(), s.asked), s.moved);
            auto expected = s.popped;
            expected.resize(s.asked, -1); // nothing written past what came
            EXPECT_EQ(out, expected);
        }
    }
}

// A producer and a consumer thread: every value arrives once, in order, with
// a ring far smaller than what goes through it.
TEST(SpscRing, AProducerAndAConsumerThreadKeepTheOrder)
{
    const test::RunawayGuard guard(test::RunawayGuard::kDefaultFileBytes, std::chrono::seconds(60));
    constexpr int kCount = 200000;
    SpscRing<int> ring(64);
    std::thread producer([&] {
        for (int next = 0; next < kCount;) {
            const auto values = counting(next, std::size_t(std::min(kCount - next, 37)));
            next += int(ring.push(values.data(), values.size()));
            std::this_thread::yield();
        }
    });
    std::vector<int> received;
    received.reserve(kCount);
    std::vector<int> out(29);
    while (received.size() < std::size_t(kCount)) {
        const std::size_t n = ring.pop(out.data(), out.size());
        received.insert(received.end(), out.begin(), out.begin() + std::ptrdiff_t(n));
        std::this_thread::yield();
    }
    producer.join();
    EXPECT_EQ(received, counting(0, kCount));
}

} // namespace
} // namespace phonaxis
