#pragma once

// Picking one of a part's vector paths at run time. The paths are listed fastest first, and a
// processor that runs one runs those after it too. KAVREL_SIMD=name in the environment starts the
// choice at that name, for comparing them; a name of no path in the list leaves the choice free.

#include <cstdlib>
#include <span>
#include <string_view>

namespace kavrel::detail {

inline bool AnyProcessor() noexcept
{
    return true;
}

#if defined(__x86_64__)
inline bool HasAvx2Fma() noexcept
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

// The AVX-512 subsets the paths are built with.
inline bool HasAvx512() noexcept
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
           __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq");
}
#endif

// TPath has Name (const char*) and Supported (bool (*)() noexcept). paths is not empty and its
// last entry runs anywhere.
template <class TPath> const TPath& PickSimdPath(std::span<const TPath> paths) noexcept
{
    const char* env = std::getenv("KAVREL_SIMD");
    const std::string_view first = env == nullptr ? "" : env;
    bool reached = true;
    for (const TPath& p : paths)
        reached = reached && first != p.Name;
    for (const TPath& p : paths) {
        reached = reached || first == p.Name;
        if (reached && p.Supported())
            return p;
    }
    return paths.back();
}

} // namespace kavrel::detail
