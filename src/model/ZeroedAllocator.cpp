#include "model/ZeroedAllocator.h"

#include <cstdlib>

#include <sys/mman.h>

namespace phonaxis::detail {

namespace {
// Blocks from this size on are mapped directly (and returned to the system
// when freed); smaller ones come from the heap.
constexpr std::size_t kMappedFrom = std::size_t{4} << 20;
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
