#include "sound/detail/DefaultInitAllocator.h"

#include <sys/mman.h>

#if defined(__SANITIZE_ADDRESS__)
#define KAVREL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KAVREL_ASAN 1
#endif
#endif

namespace kavrel::detail {

std::size_t MappedThreshold() noexcept
{
#ifdef KAVREL_ASAN
    return 0;
#else
    return std::size_t{1} << 20;
#endif
}

void* AllocateMapped(std::size_t bytes) noexcept
{
    // No MAP_POPULATE and no huge pages: the pages are mapped as they are first written, so the
    // faults fall on whichever thread fills the block and overlap with the work of the others.
    // (Huge pages halve the faults in the best case but here often stall for hundreds of
    // milliseconds while the host backs them.)
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void FreeMapped(void* p, std::size_t bytes) noexcept
{
    ::munmap(p, bytes);
}

} // namespace kavrel::detail
