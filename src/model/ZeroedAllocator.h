#pragma once

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>

namespace phonaxis {

namespace detail {
// Zeroed memory of `bytes` bytes. Large blocks are mapped straight from the
// system and asked for huge pages: a recording's samples then cost a few
// hundred page faults instead of hundreds of thousands. Throws bad_alloc.
void* allocateZeroed(std::size_t bytes);
void freeZeroed(void* p, std::size_t bytes) noexcept;
} // namespace detail

// A vector allocator whose memory is already zero, and whose default
// construction of trivial elements writes nothing. A vector resized from
// empty is therefore zero-filled without a pass over its memory. Only for
// trivially constructible element types (samples, track values).
template <typename T>
struct ZeroedAllocator {
    static_assert(std::is_trivially_default_constructible_v<T>);
    using value_type = T;

    ZeroedAllocator() noexcept = default;
    template <typename U>
    ZeroedAllocator(const ZeroedAllocator<U>&) noexcept
    {
    }

    T* allocate(std::size_t n)
    {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) {
            throw std::bad_array_new_length();
        }
        return static_cast<T*>(detail::allocateZeroed(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept { detail::freeZeroed(p, n * sizeof(T)); }

    // Default construction leaves the (zeroed) memory as it is.
    template <typename U>
    void construct(U* p) noexcept
    {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }

    template <typename U>
    friend bool operator==(const ZeroedAllocator&, const ZeroedAllocator<U>&) noexcept
    {
        return true;
    }
};

} // namespace phonaxis
