#pragma once

// What the export's vector lanes share: vectors as wide as each instruction set's registers,
// loops written out, and 16-bit values widened to doubles; and the peak pass on each path. Only
// for the files that build the lanes, each with -ffp-contract=off.

#include "app/core/ExportLanes.h"

#include <cstdint>
#include <type_traits>
#include <utility>

#if defined(__x86_64__)
// g++ 12 warns about the undefined first operand its AVX-512 intrinsics pass on purpose.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

namespace kavrel::detail {

// Vectors of W doubles: as wide as the instruction set's registers, so that the compiler turns
// every operation, the comparisons included, into vector instructions (wider ones it may take
// apart lane by lane).
// (typedef, not using: g++ drops the attribute from an alias whose size depends on W.)
template <int W> struct TVec {
    typedef double D __attribute__((vector_size(W * sizeof(double))));
    typedef std::int64_t I __attribute__((vector_size(W * sizeof(double))));
    typedef std::uint64_t U __attribute__((vector_size(W * sizeof(double))));
    typedef std::int32_t S __attribute__((vector_size(W * sizeof(std::int32_t))));
    typedef std::uint32_t H __attribute__((vector_size(W * sizeof(double)))); // U's halves
    static constexpr int N = Lanes / W;
};

// f(0), f(1) … f(Count − 1), written out: the compiler is not left to decide whether to unroll,
// so that every vector index is a constant and the vectors stay in registers.
template <int Count, typename F> [[gnu::always_inline]] inline void Unrolled(F f) noexcept
{
    [&]<int... i>(std::integer_sequence<int, i...>)
    {
        (f(std::integral_constant<int, i>{}), ...);
    }
    (std::make_integer_sequence<int, Count>{});
}

#if defined(__x86_64__)
// The first W 16-bit values of v as doubles, into x.
template <int W>
[[gnu::always_inline]] inline void Widen(__m128i v, typename TVec<W>::D& x) noexcept
{
    v = _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16);
    if constexpr (W == 2)
        x = __builtin_bit_cast(typename TVec<W>::D, _mm_cvtepi32_pd(v));
    else
        x = __builtin_convertvector(__builtin_bit_cast(typename TVec<W>::S, v),
                                    typename TVec<W>::D);
}
#endif

// The peak pass (TPeakLanes) with the baseline instructions, with AVX2 and with AVX-512.
void PeakLanesBase(const TKernel& k, const std::int16_t* const* in, std::int64_t stride,
                   std::int64_t n, std::int32_t channels, TDelayLine* lines,
                   double* peaks) noexcept;
#if defined(__x86_64__)
[[gnu::target("avx2")]] void PeakLanesAvx2(const TKernel& k, const std::int16_t* const* in,
                                           std::int64_t stride, std::int64_t n,
                                           std::int32_t channels, TDelayLine* lines,
                                           double* peaks) noexcept;
[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw")]] void
PeakLanesAvx512(const TKernel& k, const std::int16_t* const* in, std::int64_t stride,
                std::int64_t n, std::int32_t channels, TDelayLine* lines, double* peaks) noexcept;
#endif

} // namespace kavrel::detail
