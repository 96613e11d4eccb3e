#include "analysis/WorkProgress.h"

#include <algorithm>
#include <utility>

namespace phonaxis {

WorkProgress::WorkProgress(Watcher watcher)
    : m_shared(std::make_shared<Shared>(Shared{std::move(watcher), false}))
{
}

WorkProgress::WorkProgress(std::shared_ptr<Shared> shared, double from, double to)
    : m_shared(std::move(shared)), m_from(from), m_to(to)
{
}

bool WorkProgress::report(double fraction) const
{
    if (!m_shared) {
        return true;
    }
    if (m_shared->stopped) {
        return false;
    }
    const double within = fraction > 0.0 ? std::min(fraction, 1.0) : 0.0;
    if (m_shared->watcher && !m_shared->watcher(m_from + (m_to - m_from) * within)) {
        m_shared->stopped = true;
    }
    return !m_shared->stopped;
}

bool WorkProgress::stopped() const
{
    return m_shared && m_shared->stopped;
}

WorkProgress WorkProgress::part(double from, double to) const
{
    if (!m_shared) {
        return {};
    }
    const double span = m_to - m_from;
    return WorkProgress(m_shared, m_from + span * std::clamp(from, 0.0, 1.0),
                        m_from + span * std::clamp(to, 0.0, 1.0));
}

} // namespace phonaxis
