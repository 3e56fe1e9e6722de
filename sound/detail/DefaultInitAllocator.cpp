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

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Mapped blocks are whole huge pages, so that the kernel can back all of them with huge pages.
std::size_t MappedSize(std::size_t bytes) noexcept
{
    return bytes > static_cast<std::size_t>(-1) - kHugePage
               ? bytes
               : (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

} // namespace

void* AllocateMapped(std::size_t bytes) noexcept
{
    const std::size_t size = MappedSize(bytes);
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
        // Huge pages take one fault and one clear per 2 MB instead of one per 4 KB, which is most
        // of what filling a fresh sound costs; without them the pages come one by one, as asked
        // for.
#ifdef MADV_HUGEPAGE
    ::madvise(p, size, MADV_HUGEPAGE);
#endif
    return p;
}

void FreeMapped(void* p, std::size_t bytes) noexcept
{
    ::munmap(p, MappedSize(bytes));
}

} // namespace kavrel::detail
