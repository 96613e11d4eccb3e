#pragma once

// A lock-free ring of values between exactly one producer thread and one
// consumer thread (the audio callback and the file writer). Its storage is
// allocated once, by the constructor; `push` and `pop` neither allocate nor
// lock.

#include <atomic>
#include <bit>
#include <cstddef>
#include <vector>

namespace phonaxis {

template <typename T>
class SpscRing {
public:
    // Holds at least `minimumCapacity` values (rounded up to a power of two).
    explicit SpscRing(std::size_t minimumCapacity)
        : m_values(std::bit_ceil(minimumCapacity < 2 ? std::size_t{2} : minimumCapacity)),
          m_mask(m_values.size() - 1) {}

    std::size_t capacity() const { return m_values.size(); }

    // Producer: appends as many of `count` values as fit; returns how many.
    std::size_t push(const T* values, std::size_t count) noexcept {
        const std::size_t tail = m_tail.load(std::memory_order_relaxed);
        const std::size_t head = m_head.load(std::memory_order_acquire);
        const std::size_t room = capacity() - (tail - head);
        const std::size_t n = count < room ? count : room;
        for (std::size_t i = 0; i < n; ++i) {
            m_values[(tail + i) & m_mask] = values[i];
        }
        m_tail.store(tail + n, std::memory_order_release);
        return n;
    }

    // Consumer: moves up to `count` values into `out`; returns how many.
    std::size_t pop(T* out, std::size_t count) noexcept {
        const std::size_t head = m_head.load(std::memory_order_relaxed);
        const std::size_t tail = m_tail.load(std::memory_order_acquire);
        const std::size_t held = tail - head;
        const std::size_t n = count < held ? count : held;
        for (std::size_t i = 0; i < n; ++i) {
            out[i] = m_values[(head + i) & m_mask];
        }
        m_head.store(head + n, std::memory_order_release);
        return n;
    }

private:
    std::vector<T> m_values;
    const std::size_t m_mask;
    // Counters only grow; their difference is the number of values held.
    alignas(64) std::atomic<std::size_t> m_head{0};
    alignas(64) std::atomic<std::size_t> m_tail{0};
};

} // namespace phonaxis
