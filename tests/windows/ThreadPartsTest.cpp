#include "windows/ThreadParts.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace phonaxis {
namespace {

// Every item is done exactly once, whatever the worker count and chunk,
// and each by a worker index below the count.
TEST(RunChunks, DoesEveryItemOnceWithAnyWorkersAndChunks)
{
    for (const int workers : {1, 2, 3, 8}) {
        for (const std::int64_t count : {0, 1, 7, 1000, 4099}) {
            for (const std::int64_t chunk : {0, 1, 3, 64, 5000}) {
                SCOPED_TRACE(::testing::Message() << workers << " workers, " << count
                                                  << " items, chunks of " << chunk);
                std::vector<std::atomic<int>> done(static_cast<std::size_t>(count));
                std::atomic<bool> badWorker{false};
                runChunks(workers, count, chunk,
                          [&](int worker, std::int64_t begin, std::int64_t end) {
                              if (worker < 0 || worker >= workers || begin >= end) {
                                  badWorker = true;
                              }
                              for (std::int64_t i = begin; i < end; ++i) {
                                  ++done[static_cast<std::size_t>(i)];
                              }
                          });
                EXPECT_FALSE(badWorker.load());
                for (std::size_t i = 0; i < done.size(); ++i) {
                    ASSERT_EQ(done[i].load(), 1) << "item " << i;
                }
            }
        }
    }
}

} // namespace
} // namespace phonaxis
