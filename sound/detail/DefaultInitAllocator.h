#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace kavrel::detail {

// Large blocks come straight from the kernel and go back to it when freed; their pages are
// mapped when first written. Returns nullptr on failure.
void* AllocateMapped(std::size_t bytes) noexcept;
void FreeMapped(void* p, std::size_t bytes) noexcept;
// Blocks from this size on are mapped; 0 when mapping is off (under AddressSanitizer, which
// only checks heap blocks).
std::size_t MappedThreshold() noexcept;

// An allocator for sample arrays. Its value-less construct() default-initialises, so resize(n)
// on a vector of integers leaves the new elements unwritten (resize(n, 0) still zeroes them):
// for buffers that are filled right after they grow. Large blocks are mapped (see above).
template <typename T> class DefaultInitAllocator {
public:
    using value_type = T;

    DefaultInitAllocator() noexcept = default;
    template <typename U> DefaultInitAllocator(const DefaultInitAllocator<U>&) noexcept {}

    T* allocate(std::size_t n)
    {
        if (n > static_cast<std::size_t>(-1) / sizeof(T))
            throw std::bad_array_new_length();
        const std::size_t bytes = n * sizeof(T);
        const std::size_t threshold = MappedThreshold();
        if (threshold != 0 && bytes >= threshold) {
            void* p = AllocateMapped(bytes);
            if (p == nullptr)
                throw std::bad_alloc();
            return static_cast<T*>(p);
        }
        return std::allocator<T>().allocate(n);
    }

    void deallocate(T* p, std::size_t n) noexcept
    {
        const std::size_t bytes = n * sizeof(T);
        const std::size_t threshold = MappedThreshold();
        if (threshold != 0 && bytes >= threshold)
            FreeMapped(p, bytes);
        else
            std::allocator<T>().deallocate(p, n);
    }

    template <typename U> void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>)
    {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args> void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }

    template <typename U> bool operator==(const DefaultInitAllocator<U>&) const noexcept
    {
        return true;
    }
};

} // namespace kavrel::detail
