#pragma once

// Work split into parts that run at the same time, for the analyses whose
// frames are independent of each other (spectrogram columns, formant track
// rows).

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace phonaxis {

// Runs part(0) … part(parts − 1) and returns when every one has finished:
// part 0 on the calling thread, each other part on a thread of its own, and
// any part whose thread cannot be started (or all of them, when there is no
// memory to keep track of threads) on the calling thread after part 0. The
// parts must not throw; they may run in any order.
template <typename Part> void runParts(int parts, const Part& part)
{
    std::vector<std::thread> workers;
    std::vector<int> inlineParts;
    try {
        workers.reserve(static_cast<std::size_t>(parts));
        inlineParts.reserve(static_cast<std::size_t>(parts));
    } catch (const std::bad_alloc&) {
        for (int p = 0; p < parts; ++p) {
            part(p);
        }
        return;
    }
    for (int p = 1; p < parts; ++p) {
        try {
            workers.emplace_back([&part, p] { part(p); });
        } catch (const std::system_error&) {
            inlineParts.push_back(p);
        }
    }
    if (parts > 0) {
        part(0);
    }
    for (const int p : inlineParts) {
        part(p);
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
}

// Runs work(worker, begin, end) over [0, count) in chunks of `chunk` items
// that `workers` threads (worker 0 the calling thread) take in turn as each
// finishes its last: a thread that the system leaves waiting, on a busy
// machine, holds up one chunk rather than a fixed share of the work. Each
// item is done exactly once, by one worker; which worker does which item
// varies, so the items must not depend on it (each worker may keep its own
// work storage, indexed by `worker`). `work` must not throw.
template <typename Work>
void runChunks(int workers, std::int64_t count, std::int64_t chunk, const Work& work)
{
    if (count <= 0) {
        return;
    }
    chunk = std::max<std::int64_t>(chunk, 1);
    std::atomic<std::int64_t> next{0};
    runParts(std::max(workers, 1), [&](int worker) {
        for (;;) {
            const std::int64_t begin = next.fetch_add(chunk);
            if (begin >= count) {
                return;
            }
            work(worker, begin, std::min(count, begin + chunk));
        }
    });
}

} // namespace phonaxis
