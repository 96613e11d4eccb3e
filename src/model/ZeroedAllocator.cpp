#include "model/ZeroedAllocator.h"

#include <cstdlib>

#include <sys/mman.h>

namespace phonaxis::detail {

namespace {

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PHONAXIS_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define PHONAXIS_ASAN 1
#endif

// Blocks from this size on are mapped directly (and returned to the system
// when freed); smaller ones come from the heap. Under AddressSanitizer every
// block comes from the heap so that overruns of large buffers are caught too.
#ifdef PHONAXIS_ASAN
constexpr std::size_t kMappedFrom = static_cast<std::size_t>(-1);
#else
constexpr std::size_t kMappedFrom = std::size_t{4} << 20;
#endif

} // namespace

void* allocateZeroed(std::size_t bytes)
{
    if (bytes == 0) {
        bytes = 1;
    }
    if (bytes < kMappedFrom) {
        void* p = std::calloc(bytes, 1);
        if (!p) {
            throw std::bad_alloc();
        }
        return p;
    }
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
        throw std::bad_alloc();
    }
#ifdef MADV_HUGEPAGE
    ::madvise(p, bytes, MADV_HUGEPAGE);
#endif
    return p;
}

void freeZeroed(void* p, std::size_t bytes) noexcept
{
    if (!p) {
        return;
    }
    if (bytes == 0) {
        bytes = 1;
    }
    if (bytes < kMappedFrom) {
        std::free(p);
    } else {
        ::munmap(p, bytes);
    }
}

} // namespace phonaxis::detail
