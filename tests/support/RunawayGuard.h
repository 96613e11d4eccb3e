#pragma once

// Bounds what a test that records, plays or streams can do when a bug makes
// it run away: while a guard lives, no file the process writes grows past
// `maxFileBytes` (the write fails with EFBIG instead of filling the disk;
// SIGXFSZ is ignored so that the process is not killed) and a watchdog ends
// the process with a message once `maxTime` has passed. The previous limit
// and signal action come back when the guard goes.

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include <sys/resource.h>

namespace phonaxis::test {

class RunawayGuard {
public:
    static constexpr std::uint64_t kDefaultFileBytes = std::uint64_t{256} << 20;
    static constexpr std::chrono::seconds kDefaultTime{240};

    explicit RunawayGuard(std::uint64_t maxFileBytes = kDefaultFileBytes,
                          std::chrono::seconds maxTime = kDefaultTime)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_oldLimit);
        rlimit limit = m_oldLimit;
        if (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > maxFileBytes)
            limit.rlim_cur = static_cast<rlim_t>(maxFileBytes);
        else
            limit.rlim_cur = limit.rlim_max;
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &limit);
        m_watchdog = std::thread([this, maxTime] {
            std::unique_lock lock(m_mutex);
            if (!m_wake.wait_for(lock, maxTime, [this] { return m_done; })) {
                std::fprintf(stderr, "RunawayGuard: the test ran for more than %lld s; ended\n",
                             static_cast<long long>(maxTime.count()));
                std::fflush(stderr);
                std::_Exit(EXIT_FAILURE);
            }
        });
    }
    ~RunawayGuard()
    {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_one();
        m_watchdog.join();
        ::setrlimit(RLIMIT_FSIZE, &m_oldLimit);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    RunawayGuard(const RunawayGuard&) = delete;
    RunawayGuard& operator=(const RunawayGuard&) = delete;

private:
    rlimit m_oldLimit{};
    void (*m_oldHandler)(int) = SIG_DFL;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    std::thread m_watchdog; // last: it runs on the members above
};

} // namespace phonaxis::test
