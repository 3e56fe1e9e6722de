#include "app/core/ExportLanes.h"

#include <bit>
#include <cfloat>
#include <cstdlib>
#include <string_view>

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

namespace {

using V = double __attribute__((vector_size(Lanes * sizeof(double))));
using VI = std::int64_t __attribute__((vector_size(Lanes * sizeof(double))));
using VU = std::uint64_t __attribute__((vector_size(Lanes * sizeof(double))));
using VS = std::int32_t __attribute__((vector_size(Lanes * sizeof(std::int32_t))));
static_assert(Lanes == 8, "the lane loop reads eight stretches");

[[gnu::always_inline]] inline void FillLanesBody(const TLaneJob& job) noexcept
{
    const TKernel& k = *job.Kernel;
    V w1;
    V w2;
    VU z;
    for (int j = 0; j < Lanes; ++j) {
        w1[j] = job.Start[j].W1;
        w2[j] = job.Start[j].W2;
        z[j] = job.State[j];
    }
    const V zero{};
    const V a0 = k.A0 - zero;
    const V a1 = k.A1 - zero;
    const V a2 = k.A2 - zero;
    const V b0 = k.B0 - zero;
    const V b1 = k.B1 - zero;
    const V b2 = k.B2 - zero;
    const V gain = k.Gain - zero;
    const V scale = job.Scale - zero;
    constexpr double magic = 6755399441055744.0;
    constexpr std::uint64_t twoTo52Bits = 0x4330000000000000ULL;
    const V twoTo52 = 4503599627370496.0 - zero;
    const VI izero{};
    const VI absMask = izero + 0x7FFFFFFFFFFFFFFFLL;
    const VI expMask = izero + 0x7FF0000000000000LL;
    const VI topBits = izero + std::bit_cast<std::int64_t>(32766.0);
    const VI bottomBits = izero + std::bit_cast<std::int64_t>(-32767.0);
    const VI topKey = topBits;
    const VI bottomKey = bottomBits ^ absMask;
    const std::int16_t* in = job.In;
    std::int16_t* out = job.Out;
    const std::int64_t stride = job.Stride;
    for (std::int64_t t = 0; t < CheckpointFrames; ++t) {
        // Built in registers from the eight stretches (element stores would go through memory
        // and stall the wide load after them).
        const std::int16_t* at = in + t;
        const VS xi = {at[0],
                       at[CheckpointFrames],
                       at[2 * CheckpointFrames],
                       at[3 * CheckpointFrames],
                       at[4 * CheckpointFrames],
                       at[5 * CheckpointFrames],
                       at[6 * CheckpointFrames],
                       at[7 * CheckpointFrames]};
        const V x = __builtin_convertvector(xi, V);
        const V p = a0 * x + a1 * w1 + a2 * w2;
        const V tt = b0 * (p + b1 * w1 + b2 * w2);
        V y = gain * tt;
        const VI finite = (__builtin_bit_cast(VI, y) & absMask) < expMask;
        y = __builtin_bit_cast(V, __builtin_bit_cast(VI, y) & finite);
        const V nw2 = __builtin_bit_cast(V, (__builtin_bit_cast(VI, w1) & finite) |
                                                (__builtin_bit_cast(VI, w2) & ~finite));
        w1 = __builtin_bit_cast(V, (__builtin_bit_cast(VI, p) & finite) |
                                       (__builtin_bit_cast(VI, w1) & ~finite));
        w2 = nw2;

        // SplitMix64, then r1 − r2 of its two 32-bit halves, as TDitherRandom::Triangular.
        z += job.StateStep;
        VU m = z;
        m = (m ^ (m >> 30)) * 0xbf58476d1ce4e5b9ULL;
        m = (m ^ (m >> 27)) * 0x94d049bb133111ebULL;
        m = m ^ (m >> 31);
        const V r1 = __builtin_bit_cast(V, (m >> 32) | twoTo52Bits) - twoTo52;
        const V r2 = __builtin_bit_cast(V, (m & 0xffffffffULL) | twoTo52Bits) - twoTo52;
        const V tri = (r1 - r2) * 0x1p-32;

        V v = y * scale;
        // The comparisons run on the bit patterns, which order like the values they hold once
        // the magnitude bits of negative ones are flipped; a value that is not a number gives 0.
        const VI vb = __builtin_bit_cast(VI, v);
        const VI number = (vb & absMask) <= expMask;
        const VI key = vb ^ ((vb >> 63) & absMask);
        const VI high = key > topKey;
        const VI low = key < bottomKey;
        const VI clamped = (topBits & high) | (bottomBits & low) | (vb & ~(high | low));
        v = __builtin_bit_cast(V, clamped & number);
        // The low bits of v + 1.5·2^52 are v rounded half to even, as RoundHalfEven gives it.
        const VI bits = __builtin_bit_cast(VI, (v + tri) + magic);
        for (int j = 0; j < Lanes; ++j)
            out[(j * CheckpointFrames + t) * stride] =
                static_cast<std::int16_t>(static_cast<std::uint16_t>(bits[j] & 0xFFFF));
    }
}

// The lanes in AVX-512 instructions where the processor has them; the results are the same bits
// as FillLanesBody's, as every lane does the same IEEE operations (no fused multiply-add).
#if defined(__x86_64__)
#define KAVREL_AVX512 gnu::target("avx512f,avx512dq,avx512vl,avx512bw")

// What one group of lanes carries from step to step in the AVX-512 loop.
struct TLanes512 {
    __m512d W1;
    __m512d W2;
    __m512i Z;
    __m512i ZStep;
    const std::int16_t* In;
    std::int16_t* Out;
    std::int64_t Stride;
};

struct TConstants512 {
    __m512d A0, A1, A2, B0, B1, B2, Gain, Scale;
};

[[KAVREL_AVX512]] inline TLanes512 Lanes512(const TLaneJob& job) noexcept
{
    alignas(64) double start1[Lanes];
    alignas(64) double start2[Lanes];
    alignas(64) std::uint64_t state[Lanes];
    for (int j = 0; j < Lanes; ++j) {
        start1[j] = job.Start[j].W1;
        start2[j] = job.Start[j].W2;
        state[j] = job.State[j];
    }
    return {_mm512_load_pd(start1),
            _mm512_load_pd(start2),
            _mm512_load_si512(state),
            _mm512_set1_epi64(static_cast<long long>(job.StateStep)),
            job.In,
            job.Out,
            job.Stride};
}

// Frame t of every lane of s: FillLanesBody's step in AVX-512 instructions, where the compiler
// does not turn the comparisons of the generic vectors into mask operations by itself.
[[KAVREL_AVX512, gnu::always_inline]] inline void Step512(TLanes512& s, const TConstants512& k,
                                                          std::int64_t t) noexcept
{
    const __m512d largest = _mm512_set1_pd(DBL_MAX);
    const __m512d top = _mm512_set1_pd(32766.0);
    const __m512d bottom = _mm512_set1_pd(-32767.0);
    const __m512d magic = _mm512_set1_pd(6755399441055744.0);
    const __m512d twoTo52 = _mm512_set1_pd(4503599627370496.0);
    const __m512i twoTo52Bits = _mm512_set1_epi64(0x4330000000000000LL);
    const __m512i low32 = _mm512_set1_epi64(0xffffffffLL);
    const __m512i mix1 = _mm512_set1_epi64(static_cast<long long>(0xbf58476d1ce4e5b9ULL));
    const __m512i mix2 = _mm512_set1_epi64(static_cast<long long>(0x94d049bb133111ebULL));
    const __m512d unit = _mm512_set1_pd(0x1p-32);

    const std::int16_t* at = s.In + t;
    const __m256i xi = _mm256_set_epi32(at[7 * CheckpointFrames], at[6 * CheckpointFrames],
                                        at[5 * CheckpointFrames], at[4 * CheckpointFrames],
                                        at[3 * CheckpointFrames], at[2 * CheckpointFrames],
                                        at[CheckpointFrames], at[0]);
    const __m512d x = _mm512_cvtepi32_pd(xi);
    const __m512d p =
        _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(k.A0, x), _mm512_mul_pd(k.A1, s.W1)),
                      _mm512_mul_pd(k.A2, s.W2));
    const __m512d tt =
        _mm512_mul_pd(k.B0, _mm512_add_pd(_mm512_add_pd(p, _mm512_mul_pd(k.B1, s.W1)),
                                          _mm512_mul_pd(k.B2, s.W2)));
    __m512d y = _mm512_mul_pd(k.Gain, tt);
    const __mmask8 finite = _mm512_cmp_pd_mask(_mm512_abs_pd(y), largest, _CMP_LE_OQ);
    y = _mm512_maskz_mov_pd(finite, y);
    const __m512d nw2 = _mm512_mask_mov_pd(s.W2, finite, s.W1);
    s.W1 = _mm512_mask_mov_pd(s.W1, finite, p);
    s.W2 = nw2;

    s.Z = _mm512_add_epi64(s.Z, s.ZStep);
    __m512i m = _mm512_mullo_epi64(_mm512_xor_si512(s.Z, _mm512_srli_epi64(s.Z, 30)), mix1);
    m = _mm512_mullo_epi64(_mm512_xor_si512(m, _mm512_srli_epi64(m, 27)), mix2);
    m = _mm512_xor_si512(m, _mm512_srli_epi64(m, 31));
    const __m512d r1 = _mm512_sub_pd(
        _mm512_castsi512_pd(_mm512_or_si512(_mm512_srli_epi64(m, 32), twoTo52Bits)), twoTo52);
    const __m512d r2 = _mm512_sub_pd(
        _mm512_castsi512_pd(_mm512_or_si512(_mm512_and_si512(m, low32), twoTo52Bits)), twoTo52);
    const __m512d tri = _mm512_mul_pd(_mm512_sub_pd(r1, r2), unit);

    const __m512d v = _mm512_mul_pd(y, k.Scale);
    // min and max give their second operand for a value that is not a number, which the mask
    // then turns into 0.
    const __mmask8 number = _mm512_cmp_pd_mask(v, v, _CMP_ORD_Q);
    const __m512d c = _mm512_maskz_mov_pd(number, _mm512_max_pd(_mm512_min_pd(v, top), bottom));
    const __m512i bits = _mm512_castpd_si512(_mm512_add_pd(_mm512_add_pd(c, tri), magic));
    alignas(16) std::int16_t values[Lanes];
    _mm_store_si128(reinterpret_cast<__m128i*>(values), _mm512_cvtepi64_epi16(bits));
    for (int j = 0; j < Lanes; ++j)
        s.Out[(j * CheckpointFrames + t) * s.Stride] = values[j];
}

// Two groups side by side (b may be null): each waits on the chain of its own recursion, so the
// other's steps fill the gaps.
[[KAVREL_AVX512]] void FillLanesAvx512(const TLaneJob& a, const TLaneJob* b) noexcept
{
    const TKernel& k = *a.Kernel;
    const TConstants512 c{_mm512_set1_pd(k.A0),   _mm512_set1_pd(k.A1),   _mm512_set1_pd(k.A2),
                          _mm512_set1_pd(k.B0),   _mm512_set1_pd(k.B1),   _mm512_set1_pd(k.B2),
                          _mm512_set1_pd(k.Gain), _mm512_set1_pd(a.Scale)};
    TLanes512 la = Lanes512(a);
    if (b == nullptr) {
        for (std::int64_t t = 0; t < CheckpointFrames; ++t)
            Step512(la, c, t);
        return;
    }
    TLanes512 lb = Lanes512(*b);
    for (std::int64_t t = 0; t < CheckpointFrames; ++t) {
        Step512(la, c, t);
        Step512(lb, c, t);
    }
}

#undef KAVREL_AVX512
#endif

void FillLanesBase(const TLaneJob& a, const TLaneJob* b) noexcept
{
    FillLanesBody(a);
    if (b != nullptr)
        FillLanesBody(*b);
}

} // namespace

TFillLanes PickFillLanes() noexcept
{
#if defined(__x86_64__)
    const char* cap = std::getenv("KAVREL_SIMD");
    const std::string_view limit = cap == nullptr ? "" : cap;
    __builtin_cpu_init();
    if (limit.empty() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw"))
        return &FillLanesAvx512;
#endif
    return &FillLanesBase;
}

} // namespace kavrel::detail
