#pragma once

#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace kavrel::detail {

// An allocator whose value-less construct() default-initialises: resize(n) on a vector of
// integers leaves the new elements unwritten (resize(n, 0) still zeroes them). For buffers that
// are filled right after they grow.
template <typename T>
class DefaultInitAllocator : public std::allocator<T> {
public:
    template <typename U>
    struct rebind {
        using other = DefaultInitAllocator<U>;
    };

    DefaultInitAllocator() noexcept = default;
    template <typename U>
    DefaultInitAllocator(const DefaultInitAllocator<U>&) noexcept
    {
    }

    template <typename U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>)
    {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args)
    {
        std::allocator_traits<std::allocator<T>>::construct(static_cast<std::allocator<T>&>(*this),
                                                            p, std::forward<Args>(args)...);
    }
};

}  // namespace kavrel::detail
