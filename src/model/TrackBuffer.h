#pragma once

#include "model/ZeroedAllocator.h"

#include <algorithm>
#include <cstddef>
#include <new>
#include <span>
#include <stdexcept>
#include <vector>

namespace phonaxis {

// An owned, resizable, zero-filled buffer of samples or track values that
// may also be absent ("no data"). Element pointers stay valid until the next
// allocate/resize/reset. Allocation failures are reported as false, never
// thrown, so readers can decline a file whose data cannot be held.
template <typename T>
class TrackBuffer {
public:
    bool present() const noexcept { return m_present; }
    explicit operator bool() const noexcept { return m_present; }

    // Replaces the contents with `count` zero elements. The memory comes
    // zeroed from the allocator, so this costs no pass over the buffer.
    bool allocate(std::size_t count) noexcept
    {
        reset();
        try {
            m_values.resize(count);
        } catch (const std::bad_alloc&) {
            reset();
            return false;
        } catch (const std::length_error&) {
            reset();
            return false;
        }
        m_present = true;
        return true;
    }

    // Keeps the first min(size, count) elements; new space is zero. An absent
    // buffer becomes present.
    bool resize(std::size_t count) noexcept
    {
        const std::size_t old = m_values.size();
        try {
            m_values.resize(count);
        } catch (const std::bad_alloc&) {
            return false;
        } catch (const std::length_error&) {
            return false;
        }
        // Space reused after a shrink still holds old values.
        if (count > old) {
            std::fill(m_values.begin() + static_cast<std::ptrdiff_t>(old), m_values.end(), T{});
        }
        m_present = true;
        return true;
    }

    // Frees the memory; the buffer becomes absent.
    void reset() noexcept
    {
        std::vector<T, ZeroedAllocator<T>>().swap(m_values);
        m_present = false;
    }

    std::size_t size() const noexcept { return m_values.size(); }
    T* data() noexcept { return m_values.data(); }
    const T* data() const noexcept { return m_values.data(); }
    T& operator[](std::size_t i) noexcept { return m_values[i]; }
    const T& operator[](std::size_t i) const noexcept { return m_values[i]; }
    std::span<T> span() noexcept { return m_values; }
    std::span<const T> span() const noexcept { return m_values; }

private:
    std::vector<T, ZeroedAllocator<T>> m_values;
    bool m_present = false;
};

using SampleBuffer = TrackBuffer<float>;
using FloatTrack = TrackBuffer<float>;
using DoubleTrack = TrackBuffer<double>;

} // namespace phonaxis
