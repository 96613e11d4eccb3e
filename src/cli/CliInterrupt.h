#pragma once

#include <array>
#include <csignal>
#include <cstddef>

namespace phonaxis::cli {

// Catches SIGINT, SIGTERM and SIGHUP while it lives, so that a long
// recording ends with its file written instead of with the process; the
// previous handlers come back when it goes.
class InterruptGuard final {
public:
    InterruptGuard()
    {
        s_interrupted = 0;
        struct sigaction action {};
        action.sa_handler = [](int) { s_interrupted = 1; };
        ::sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < kSignals.size(); ++i) {
            ::sigaction(kSignals[i], &action, &m_previous[i]);
        }
    }
    ~InterruptGuard()
    {
        for (std::size_t i = 0; i < kSignals.size(); ++i) {
            ::sigaction(kSignals[i], &m_previous[i], nullptr);
        }
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;
    bool interrupted() const { return s_interrupted != 0; }

private:
    static constexpr std::array<int, 3> kSignals{SIGINT, SIGTERM, SIGHUP};
    static inline volatile std::sig_atomic_t s_interrupted = 0;
    std::array<struct sigaction, 3> m_previous{};
};

} // namespace phonaxis::cli
