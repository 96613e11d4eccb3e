#pragma once

#include <cstddef>
#include <functional>
#include <memory>

namespace phonaxis {

// How far a long computation has got, told on the thread that computes, and
// the watcher's answer whether it should go on. A computation reports the
// fraction of its own work done (0 … 1); part() hands a stage or a channel
// its share of a larger piece of work, so that one watcher sees the whole
// of it run from 0 to 1. Once the watcher has answered "stop", every report
// of the work and of all its parts answers false. A default-made progress
// has no watcher: its reports cost nothing and always answer true. Used from
// one thread.
class WorkProgress {
public:
    // Receives the fraction done of the whole work; returns false to stop it.
    using Watcher = std::function<bool(double fraction)>;

    // Index steps between two reports of a loop (ProgressPacer): often enough to stop within a few
    // milliseconds, rarely enough to cost nothing.
    static constexpr std::size_t kStride = std::size_t{1} << 16;

    WorkProgress() = default;
    explicit WorkProgress(Watcher watcher);

    // Reports `fraction` (0 … 1) of this part done; false: stop now.
    bool report(double fraction) const;
    // Whether the watcher has asked to stop.
    bool stopped() const;
    // The share of this work from fraction `from` to fraction `to` of it.
    WorkProgress part(double from, double to) const;

private:
    struct Shared {
        Watcher watcher;
        bool stopped = false;
    };
    WorkProgress(std::shared_ptr<Shared> shared, double from, double to);

    std::shared_ptr<Shared> m_shared; // null: no watcher
    double m_from = 0.0;
    double m_to = 1.0;
};

// Reports the position of a loop over `total` indices (or samples) about
// every kStride of them, whatever steps the loop takes. The progress must
// outlive the pacer.
class ProgressPacer {
public:
    ProgressPacer(const WorkProgress& progress, std::size_t total)
        : m_progress(progress), m_total(total)
    {
    }

    // The loop has reached `index`; false: stop now.
    bool at(std::size_t index)
    {
        if (index < m_next) {
            return true;
        }
        m_next = index + WorkProgress::kStride;
        return m_progress.report(
            m_total > 0 ? static_cast<double>(index) / static_cast<double>(m_total) : 1.0);
    }

private:
    const WorkProgress& m_progress;
    std::size_t m_total;
    std::size_t m_next = 0;
};

} // namespace phonaxis
