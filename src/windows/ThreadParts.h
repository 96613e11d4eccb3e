#pragma once

// Work split into parts that run at the same time, for the analyses whose
// frames are independent of each other (spectrogram columns, formant track
// rows).

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

} // namespace phonaxis
