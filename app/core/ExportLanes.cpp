// Three versions of the lanes: AVX-512 in intrinsics, and one body in the compiler's generic
// vectors built twice, with AVX2 and with the baseline instructions of every x86-64, the vectors
// as wide as each one's registers. The processor's best is picked at run time; all do the same
// IEEE operations in the same order, so they give the same bits.
#include "app/core/ExportLanes.h"

#include "app/core/LaneVectors.h"
#include "app/core/SimdChoice.h"

#include <cfloat>
#include <cstring>
#include <span>

namespace kavrel::detail {

namespace {

// A draw's r1 − r2 (within ±2^32) as an integer, added to the bits of 1.5·2^20 (whose last bit is
// worth 2^-32), makes a double that less 1.5·2^20 is (r1 − r2)·2^-32 exactly, as the draw's own
// arithmetic gives it.
constexpr double DrawOffset = 1572864.0;
constexpr std::uint64_t DrawOffsetBits = 0x4138000000000000ULL;

// What the lanes of one job carry from step to step, in vectors of W lanes.
template <int W> struct TLaneState {
    using T = TVec<W>;
    typename T::D W1[T::N];
    typename T::D W2[T::N];
    typename T::U Z[T::N];
    std::uint64_t ZLane[Lanes]; // the same states one by one, for DrawsOneByOne
    std::uint64_t ZStep;
    const std::int16_t* In;
    std::int64_t InStride;
    std::int16_t* Out;
    std::int64_t Stride;
};

template <int W> struct TLaneConstants {
    typename TVec<W>::D A0, A1, A2, B0, B1, B2, Gain, Scale;
};

template <int W>
[[gnu::always_inline]] inline void LoadLanes(const TLaneJob& job, TLaneState<W>& s) noexcept
{
    for (int j = 0; j < Lanes; ++j) {
        s.W1[j / W][j % W] = job.Start[j].W1;
        s.W2[j / W][j % W] = job.Start[j].W2;
        s.Z[j / W][j % W] = job.State[j];
        s.ZLane[j] = job.State[j];
    }
    s.ZStep = job.StateStep;
    s.In = job.In;
    s.InStride = job.InStride;
    s.Out = job.Out;
    s.Stride = job.Stride;
}

// Frame t of lanes n·W … n·W+W−1 of s's stretches, built in registers (element stores would go
// through memory and stall the wide load after them).
template <int W>
[[gnu::always_inline]] inline void SamplesAt(const TLaneState<W>& s, std::int64_t t, int n,
                                             typename TVec<W>::D& x) noexcept
{
    const std::int16_t* at = s.In + (t + n * W * CheckpointFrames) * s.InStride;
    const std::int64_t apart = CheckpointFrames * s.InStride;
#if defined(__x86_64__)
    if constexpr (W == 2 || W == 4) {
        // The values inserted into one register, then widened in place (the compiler would
        // assemble them in a general register, a shift and an or for each).
        __m128i v = _mm_cvtsi32_si128(static_cast<std::uint16_t>(at[0]));
        Unrolled<W - 1>(
            [&](auto j) { v = _mm_insert_epi16(v, at[(j + 1) * apart], decltype(j)::value + 1); });
        Widen<W>(v, x);
        return;
    }
#endif
    typename TVec<W>::S xi;
    Unrolled<W>([&](auto j) { xi[j()] = at[j * apart]; });
    x = __builtin_convertvector(xi, typename TVec<W>::D);
}

// The next draw of lanes z into tri, as TDitherRandom::Triangular: SplitMix64, then r1 − r2 of
// its two 32-bit halves.
template <int W>
[[gnu::always_inline]] inline void NextTriangular(typename TVec<W>::U& z, std::uint64_t step,
                                                  typename TVec<W>::D& tri) noexcept
{
    using D = typename TVec<W>::D;
    using U = typename TVec<W>::U;
    z += step;
    U m = z;
    m = (m ^ (m >> 30)) * 0xbf58476d1ce4e5b9ULL;
    m = (m ^ (m >> 27)) * 0x94d049bb133111ebULL;
    m = m ^ (m >> 31);
    const U difference = (m >> 32) - (m & 0xffffffffULL);
    tri = __builtin_bit_cast(D, difference + DrawOffsetBits) - DrawOffset;
}

// One lane's draw as TDitherRandom::Triangular makes it, before its scaling: r1 − r2 as a
// 64-bit integer.
[[gnu::always_inline]] inline std::uint64_t DrawDifference(std::uint64_t& z,
                                                           std::uint64_t step) noexcept
{
    std::uint64_t m = (z += step);
    m = (m ^ (m >> 30)) * 0xbf58476d1ce4e5b9ULL;
    m = (m ^ (m >> 27)) * 0x94d049bb133111ebULL;
    m = m ^ (m >> 31);
    return (m >> 32) - (m & 0xffffffffULL);
}

// NextTriangular for lanes n·W … n·W+W−1 of s, each lane's generator in a general register: the
// baseline instructions have no 64-bit vector multiplication, while in a general register it is
// one instruction, and there the draws run beside the vector work instead of taking its turns.
template <int W>
[[gnu::always_inline]] inline void DrawsOneByOne(TLaneState<W>& s, int n,
                                                 typename TVec<W>::D& tri) noexcept
{
    typename TVec<W>::U difference;
    Unrolled<W>([&](auto j) { difference[j()] = DrawDifference(s.ZLane[n * W + j], s.ZStep); });
    tri = __builtin_bit_cast(typename TVec<W>::D, difference + DrawOffsetBits) - DrawOffset;
}

// The low 16 bits of each lane of rounded (a value plus 1.5·2^52, whose low bits are the value
// rounded half to even) into frame t of the lanes' stretches in s.Out.
template <int W>
[[gnu::always_inline]] inline void StoreAt(const TLaneState<W>& s, std::int64_t t, int n,
                                           const typename TVec<W>::D& rounded) noexcept
{
    const auto bits = __builtin_bit_cast(typename TVec<W>::I, rounded);
    std::int16_t* out = s.Out + (n * W * CheckpointFrames + t) * s.Stride;
    Unrolled<W>([&](auto j) {
        out[j * CheckpointFrames * s.Stride] =
            static_cast<std::int16_t>(static_cast<std::uint16_t>(bits[j()] & 0xFFFF));
    });
}

// The section's equations for frame t of lanes n·W … n·W+W−1 of s, its delay lines left as they
// are: p for the delay line, y the value.
template <int W>
[[gnu::always_inline]] inline void
SectionOf(const TLaneState<W>& s, const TLaneConstants<W>& k, int n, const typename TVec<W>::D& x,
          typename TVec<W>::D& p, typename TVec<W>::D& y) noexcept
{
    const auto& w1 = s.W1[n];
    const auto& w2 = s.W2[n];
    p = k.A0 * x + k.A1 * w1 + k.A2 * w2;
    y = k.Gain * (k.B0 * (p + k.B1 * w1 + k.B2 * w2));
}

template <int W>
[[gnu::always_inline]] inline void SectionAt(const TLaneState<W>& s, const TLaneConstants<W>& k,
                                             std::int64_t t, int n, typename TVec<W>::D& p,
                                             typename TVec<W>::D& y) noexcept
{
    typename TVec<W>::D x;
    SamplesAt<W>(s, t, n, x);
    SectionOf<W>(s, k, n, x, p, y);
}

// Frame t of lanes n·W … n·W+W−1 of s. The comparisons are on doubles, which every x86-64 has
// for vectors (64-bit integer comparisons are not in the baseline instructions; the compiler
// builds the generator's 64-bit multiplications from 32-bit ones).
template <int W>
[[gnu::always_inline]] inline void LaneStep(TLaneState<W>& s, const TLaneConstants<W>& k,
                                            std::int64_t t, int n) noexcept
{
    using D = typename TVec<W>::D;
    using I = typename TVec<W>::I;
    constexpr D zero{};
    constexpr double magic = 6755399441055744.0;
    const I absMask = I{} + 0x7FFFFFFFFFFFFFFFLL;

    D p;
    D y0;
    SectionAt<W>(s, k, t, n, p, y0);
    D& w1 = s.W1[n];
    D& w2 = s.W2[n];
    const I finite = __builtin_bit_cast(D, __builtin_bit_cast(I, y0) & absMask) <= DBL_MAX;
    const D y = __builtin_bit_cast(D, __builtin_bit_cast(I, y0) & finite);
    const D nw2 = __builtin_bit_cast(D, (__builtin_bit_cast(I, w1) & finite) |
                                            (__builtin_bit_cast(I, w2) & ~finite));
    w1 = __builtin_bit_cast(D, (__builtin_bit_cast(I, p) & finite) |
                                   (__builtin_bit_cast(I, w1) & ~finite));
    w2 = nw2;

    D tri;
    NextTriangular<W>(s.Z[n], s.ZStep, tri);

    // Limited as DitherTo16 limits it; a value that is not a number fails every comparison but
    // v == v and gives 0.
    const D v = y * k.Scale;
    const I high = v > 32766.0;
    const I low = v < -32767.0;
    const I keep = (v == v) & ~(high | low);
    const D c = __builtin_bit_cast(D, (__builtin_bit_cast(I, zero + 32766.0) & high) |
                                          (__builtin_bit_cast(I, zero - 32767.0) & low) |
                                          (__builtin_bit_cast(I, v) & keep));
    // The low bits of c + 1.5·2^52 are c rounded half to even, as RoundHalfEven gives it.
    StoreAt<W>(s, t, n, (c + tri) + magic);
}

// LaneStep when no lane's value needs limiting: v within ±32766, so that the section's value
// was finite (its delay line moves on) and the limits leave v as it is. Clears ok in the lanes
// where that does not hold, whose values then are not the section's. Gives v + dither + 1.5·2^52
// in rounded, for StoreAt.
template <int W>
[[gnu::always_inline]] inline void
FreeLaneStepOf(TLaneState<W>& s, const TLaneConstants<W>& k, int n, const typename TVec<W>::D& x,
               typename TVec<W>::I& ok, typename TVec<W>::D& rounded) noexcept
{
    using D = typename TVec<W>::D;
    using I = typename TVec<W>::I;
    constexpr double magic = 6755399441055744.0;
    const I absMask = I{} + 0x7FFFFFFFFFFFFFFFLL;

    D p;
    D y;
    SectionOf<W>(s, k, n, x, p, y);
    const D v = y * k.Scale;
    s.W2[n] = s.W1[n];
    s.W1[n] = p;
    ok &= __builtin_bit_cast(D, __builtin_bit_cast(I, v) & absMask) <= 32766.0;
    D tri;
    if constexpr (W == 2)
        DrawsOneByOne<W>(s, n, tri);
    else
        NextTriangular<W>(s.Z[n], s.ZStep, tri);
    rounded = (v + tri) + magic;
}

// FreeLaneStepOf on frame t's samples.
template <int W>
[[gnu::always_inline]] inline void FreeLaneStep(TLaneState<W>& s, const TLaneConstants<W>& k,
                                                std::int64_t t, int n, typename TVec<W>::I& ok,
                                                typename TVec<W>::D& rounded) noexcept
{
    typename TVec<W>::D x;
    SamplesAt<W>(s, t, n, x);
    FreeLaneStepOf<W>(s, k, n, x, ok, rounded);
}

#if defined(__x86_64__)
// Frames t … t+3 of lanes n·W … n·W+W−1 of a stereo block (two values a frame, the left one at
// s.In): left into l[i], right into r[i] for frame t+i. Each lane's four frames come in one
// 16-byte load, and a transposition of their 32-bit pairs sorts them by frame.
template <int W>
[[gnu::always_inline]] inline void StereoSamplesAt(const TLaneState<W>& s, std::int64_t t, int n,
                                                   typename TVec<W>::D (&l)[4],
                                                   typename TVec<W>::D (&r)[4]) noexcept
{
    __m128i row[W];
#pragma GCC unroll 4
    for (int j = 0; j < W; ++j)
        row[j] = _mm_loadu_si128(
            reinterpret_cast<const __m128i*>(s.In + ((n * W + j) * CheckpointFrames + t) * 2));
    // frame[i]: frame t+i's pairs, lane by lane in its low W 32-bit values.
    __m128i frame[4];
    if constexpr (W == 2) {
        const __m128i first = _mm_unpacklo_epi32(row[0], row[1]);
        const __m128i last = _mm_unpackhi_epi32(row[0], row[1]);
        frame[0] = first;
        frame[1] = _mm_srli_si128(first, 8);
        frame[2] = last;
        frame[3] = _mm_srli_si128(last, 8);
    } else {
        static_assert(W == 4);
        const __m128i low01 = _mm_unpacklo_epi32(row[0], row[1]);
        const __m128i low23 = _mm_unpacklo_epi32(row[2], row[3]);
        const __m128i high01 = _mm_unpackhi_epi32(row[0], row[1]);
        const __m128i high23 = _mm_unpackhi_epi32(row[2], row[3]);
        frame[0] = _mm_unpacklo_epi64(low01, low23);
        frame[1] = _mm_unpackhi_epi64(low01, low23);
        frame[2] = _mm_unpacklo_epi64(high01, high23);
        frame[3] = _mm_unpackhi_epi64(high01, high23);
    }
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) {
        // The left value is a pair's low half, the right one its high half; each is widened to
        // 32 bits with its sign, then to doubles.
        const __m128i left = _mm_srai_epi32(_mm_slli_epi32(frame[i], 16), 16);
        const __m128i right = _mm_srai_epi32(frame[i], 16);
        if constexpr (W == 2) {
            l[i] = __builtin_bit_cast(typename TVec<W>::D, _mm_cvtepi32_pd(left));
            r[i] = __builtin_bit_cast(typename TVec<W>::D, _mm_cvtepi32_pd(right));
        } else {
            using S = typename TVec<W>::S;
            l[i] = __builtin_convertvector(__builtin_bit_cast(S, left), typename TVec<W>::D);
            r[i] = __builtin_convertvector(__builtin_bit_cast(S, right), typename TVec<W>::D);
        }
    }
}

#endif

// StoreAt for two jobs whose values sit side by side in each frame (b's channel follows a's):
// each lane's two values in one 32-bit store.
// The 16-bit values of two jobs' rounded values (as StoreAt takes them) side by side in the low
// 32 bits of each lane, into both.
template <int W>
[[gnu::always_inline]] inline void PairOf(const typename TVec<W>::D& roundedA,
                                          const typename TVec<W>::D& roundedB,
                                          typename TVec<W>::U& both) noexcept
{
    using U = typename TVec<W>::U;
    both = (__builtin_bit_cast(U, roundedA) & 0xFFFFULL) | (__builtin_bit_cast(U, roundedB) << 16);
}

template <int W>
[[gnu::always_inline]] inline void StorePairAt(const TLaneState<W>& a, std::int64_t t, int n,
                                               const typename TVec<W>::D& roundedA,
                                               const typename TVec<W>::D& roundedB) noexcept
{
    typename TVec<W>::U both;
    PairOf<W>(roundedA, roundedB, both);
    std::int16_t* out = a.Out + (n * W * CheckpointFrames + t) * a.Stride;
    Unrolled<W>([&](auto j) {
        const auto value = static_cast<std::uint32_t>(both[j()]);
        std::memcpy(out + j * CheckpointFrames * a.Stride, &value, sizeof value);
    });
}

#if defined(__x86_64__)
// StorePairAt for frames t … t+3 of a stereo block (a.Stride 2), both[i] holding frame t+i's
// pairs: each lane's four frames, 16 bytes, in one store.
template <int W>
[[gnu::always_inline]] inline void StoreStereoAt(const TLaneState<W>& a, std::int64_t t, int n,
                                                 const typename TVec<W>::U (&both)[4]) noexcept
{
    typedef std::uint32_t Q __attribute__((vector_size(16)));
    // f[i]: frame t+i's pairs, lane by lane (the low halves of the 64-bit values).
    Q f[4];
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) {
        const auto halves = __builtin_bit_cast(typename TVec<W>::H, both[i]);
        if constexpr (W == 2)
            f[i] = __builtin_shufflevector(halves, halves, 0, 2, 0, 2);
        else
            f[i] = __builtin_shufflevector(halves, halves, 0, 2, 4, 6);
    }
    // Lanes 0 and 1 (and 2 and 3) of frames t, t+1 and of t+2, t+3, then each lane's four.
    const Q low01 = __builtin_shufflevector(f[0], f[1], 0, 4, 1, 5);
    const Q low23 = __builtin_shufflevector(f[2], f[3], 0, 4, 1, 5);
    Q lane[4] = {__builtin_shufflevector(low01, low23, 0, 1, 4, 5),
                 __builtin_shufflevector(low01, low23, 2, 3, 6, 7)};
    if constexpr (W == 4) {
        const Q high01 = __builtin_shufflevector(f[0], f[1], 2, 6, 3, 7);
        const Q high23 = __builtin_shufflevector(f[2], f[3], 2, 6, 3, 7);
        lane[2] = __builtin_shufflevector(high01, high23, 0, 1, 4, 5);
        lane[3] = __builtin_shufflevector(high01, high23, 2, 3, 6, 7);
    }
#pragma GCC unroll 4
    for (int j = 0; j < W; ++j)
        std::memcpy(a.Out + ((n * W + j) * CheckpointFrames + t) * 2, &lane[j], sizeof lane[j]);
}

// FillFreeLanesBody's pair of jobs on a stereo block, vectors n … N−1 of each: both jobs'
// samples come from one load a lane. Written without lambdas, which the compiler may keep apart
// and then build without the caller's instructions.
// With Packed, the block written is stereo too (two values a frame), and each lane's four frames
// go out in one store.
template <int W, bool Packed, int n>
[[gnu::always_inline]] inline void StereoLanes(TLaneState<W>& la, TLaneState<W>& lb,
                                               const TLaneConstants<W>& c, typename TVec<W>::I& okA,
                                               typename TVec<W>::I& okB) noexcept
{
    using D = typename TVec<W>::D;
    using U = typename TVec<W>::U;
    static_assert(CheckpointFrames % 4 == 0);
    for (std::int64_t t = 0; t < CheckpointFrames; t += 4) {
        D left[4];
        D right[4];
        StereoSamplesAt<W>(la, t, n, left, right);
        U both[4];
#pragma GCC unroll 4
        for (int i = 0; i < 4; ++i) {
            D roundedA;
            D roundedB;
            FreeLaneStepOf<W>(la, c, n, left[i], okA, roundedA);
            FreeLaneStepOf<W>(lb, c, n, right[i], okB, roundedB);
            if constexpr (Packed)
                PairOf<W>(roundedA, roundedB, both[i]);
            else
                StorePairAt<W>(la, t + i, n, roundedA, roundedB);
        }
        if constexpr (Packed)
            StoreStereoAt<W>(la, t, n, both);
    }
    if constexpr (n + 1 < TVec<W>::N)
        StereoLanes<W, Packed, n + 1>(la, lb, c, okA, okB);
}

#endif

#if defined(__x86_64__)
// StereoLanes<2, true> for the baseline instructions, whose sixteen registers and two-operand
// arithmetic the generic body overruns (it converts four frames ahead and keeps every constant
// in a register, and the compiler moves values to the stack and back and copies them before
// each operation): here one frame of both channels at a time, the constants taken from memory
// by the instructions that use them, and the values of a frame's two lanes paired and sorted
// into each lane's four frames with unpacks. The same operations in the same order as
// FreeLaneStepOf, in intrinsics: written through FreeLaneStepOf's generic vectors, the loop took
// a tenth more moves and measured 5 % slower.
inline void StereoLanesSse2(TLaneState<2>& la, TLaneState<2>& lb, const TLaneConstants<2>& c,
                            TVec<2>::I& okA, TVec<2>::I& okB) noexcept
{
    using D = TVec<2>::D;
    const auto m = [](const D& v) { return __builtin_bit_cast(__m128d, v); };
    const __m128d a0 = m(c.A0), a1 = m(c.A1), a2 = m(c.A2);
    const __m128d b0 = m(c.B0), b1 = m(c.B1), b2 = m(c.B2);
    const __m128d gain = m(c.Gain), scale = m(c.Scale);
    const __m128d absMask = _mm_castsi128_pd(_mm_set1_epi64x(0x7FFFFFFFFFFFFFFFLL));
    const __m128d limit = _mm_set1_pd(32766.0);
    const __m128i offsetBits = _mm_set1_epi64x(static_cast<long long>(DrawOffsetBits));
    const __m128d offset = _mm_set1_pd(DrawOffset);
    const __m128d magic = _mm_set1_pd(6755399441055744.0);
    const std::uint64_t stepA = la.ZStep;
    const std::uint64_t stepB = lb.ZStep;
    __m128d okLeft = __builtin_bit_cast(__m128d, okA);
    __m128d okRight = __builtin_bit_cast(__m128d, okB);

    // One frame of one channel's two lanes: v + dither + 1.5·2^52, as FreeLaneStepOf gives it.
    const auto step = [&](__m128d x, __m128d & w1, __m128d & w2, __m128d & ok, std::uint64_t & z0,
                          std::uint64_t & z1, std::uint64_t zStep) __attribute__((always_inline))
    {
        const __m128d p =
            _mm_add_pd(_mm_add_pd(_mm_mul_pd(a0, x), _mm_mul_pd(a1, w1)), _mm_mul_pd(a2, w2));
        const __m128d t = _mm_add_pd(_mm_add_pd(p, _mm_mul_pd(b1, w1)), _mm_mul_pd(b2, w2));
        const __m128d v = _mm_mul_pd(_mm_mul_pd(gain, _mm_mul_pd(b0, t)), scale);
        w2 = w1;
        w1 = p;
        ok = _mm_and_pd(ok, _mm_cmple_pd(_mm_and_pd(v, absMask), limit));
        const std::uint64_t d0 = DrawDifference(z0, zStep);
        const std::uint64_t d1 = DrawDifference(z1, zStep);
        const __m128i difference =
            _mm_set_epi64x(static_cast<long long>(d1), static_cast<long long>(d0));
        const __m128d tri =
            _mm_sub_pd(_mm_castsi128_pd(_mm_add_epi64(difference, offsetBits)), offset);
        return _mm_castpd_si128(_mm_add_pd(_mm_add_pd(v, tri), magic));
    };

    for (int n = 0; n < TVec<2>::N; ++n) {
        __m128d wl1 = m(la.W1[n]), wl2 = m(la.W2[n]);
        __m128d wr1 = m(lb.W1[n]), wr2 = m(lb.W2[n]);
        std::uint64_t zl0 = la.ZLane[2 * n], zl1 = la.ZLane[2 * n + 1];
        std::uint64_t zr0 = lb.ZLane[2 * n], zr1 = lb.ZLane[2 * n + 1];
        const std::int16_t* in0 = la.In + (2 * n) * CheckpointFrames * 2;
        const std::int16_t* in1 = in0 + CheckpointFrames * 2;
        std::int16_t* out0 = la.Out + (2 * n) * CheckpointFrames * 2;
        std::int16_t* out1 = out0 + CheckpointFrames * 2;
        for (std::int64_t t = 0; t < CheckpointFrames; t += 4) {
            // Each lane's four frames in one load; their 32-bit pairs sorted by frame, two
            // frames to a register, then the left and the right values widened with their signs.
            const __m128i row0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in0 + 2 * t));
            const __m128i row1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in1 + 2 * t));
            // pairs[i]: in its low 32 bits, lane 0's pair of frame t+i; lane 1's in the next.
            __m128i pairs[4];
#pragma GCC unroll 2
            for (int h = 0; h < 2; ++h) {
                const __m128i frames =
                    h == 0 ? _mm_unpacklo_epi32(row0, row1) : _mm_unpackhi_epi32(row0, row1);
                const __m128i left = _mm_srai_epi32(_mm_slli_epi32(frames, 16), 16);
                const __m128i right = _mm_srai_epi32(frames, 16);
#pragma GCC unroll 2
                for (int e = 0; e < 2; ++e) {
                    const __m128d xl = _mm_cvtepi32_pd(e == 0 ? left : _mm_srli_si128(left, 8));
                    const __m128d xr = _mm_cvtepi32_pd(e == 0 ? right : _mm_srli_si128(right, 8));
                    const __m128i roundedL = step(xl, wl1, wl2, okLeft, zl0, zl1, stepA);
                    const __m128i roundedR = step(xr, wr1, wr2, okRight, zr0, zr1, stepB);
                    // The low 16 bits of each 64-bit lane, left beside right: lane 0's pair in
                    // the low 32 bits, lane 1's in the next.
                    const __m128i words = _mm_unpacklo_epi16(roundedL, roundedR);
                    const __m128i high = _mm_unpackhi_epi16(roundedL, roundedR);
                    pairs[2 * h + e] = _mm_unpacklo_epi32(words, high);
                }
            }
            // Lane 0's four pairs, then lane 1's.
            const __m128i early = _mm_unpacklo_epi32(pairs[0], pairs[1]);
            const __m128i late = _mm_unpacklo_epi32(pairs[2], pairs[3]);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out0 + 2 * t),
                             _mm_unpacklo_epi64(early, late));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out1 + 2 * t),
                             _mm_unpackhi_epi64(early, late));
        }
        la.W1[n] = __builtin_bit_cast(D, wl1);
        la.W2[n] = __builtin_bit_cast(D, wl2);
        lb.W1[n] = __builtin_bit_cast(D, wr1);
        lb.W2[n] = __builtin_bit_cast(D, wr2);
        la.ZLane[2 * n] = zl0;
        la.ZLane[2 * n + 1] = zl1;
        lb.ZLane[2 * n] = zr0;
        lb.ZLane[2 * n + 1] = zr1;
    }
    okA = __builtin_bit_cast(TVec<2>::I, okLeft);
    okB = __builtin_bit_cast(TVec<2>::I, okRight);
}
#endif

// The section's coefficients and job's scale in every lane.
template <int W>
[[gnu::always_inline]] inline TLaneConstants<W> ConstantsOf(const TLaneJob& job) noexcept
{
    using D = typename TVec<W>::D;
    const TKernel& k = *job.Kernel;
    constexpr D zero{};
    // x − 0 is x for every x, −0 included (0 + x is not).
    return {k.A0 - zero, k.A1 - zero, k.A2 - zero,   k.B0 - zero,
            k.B1 - zero, k.B2 - zero, k.Gain - zero, job.Scale - zero};
}

// The lanes of a and, when given, of b, side by side: each waits on the chain of its own
// recursion, so the other's steps fill the gaps. Compiled once per instruction set, with vectors
// of W lanes.
template <int W>
[[gnu::always_inline]] inline void FillLanesBody(const TLaneJob& a, const TLaneJob* b) noexcept
{
    constexpr int N = TVec<W>::N;
    const TLaneConstants<W> c = ConstantsOf<W>(a);
    TLaneState<W> la;
    LoadLanes(a, la);
    if (b == nullptr) {
        for (std::int64_t t = 0; t < CheckpointFrames; ++t)
            Unrolled<N>([&](auto n) { LaneStep(la, c, t, n); });
        return;
    }
    TLaneState<W> lb;
    LoadLanes(*b, lb);
    for (std::int64_t t = 0; t < CheckpointFrames; ++t) {
        Unrolled<N>([&](auto n) {
            LaneStep(la, c, t, n);
            LaneStep(lb, c, t, n);
        });
    }
}

// How FreeLanes stores a job's values: one job alone; two whose values sit side by side in each
// frame; two apart.
enum class TFreeStores { Alone, Pair, Apart };

// FillFreeLanesBody's loop for vectors n … N−1 of a (and b): one vector of each job at a time
// through the whole stretch, so that the two recursions and the draws between them keep the
// processor busy and fewer vectors live at once stay in registers. Written without lambdas, which
// the compiler may keep apart and then build without the caller's instructions.
template <int W, TFreeStores Stores, int n>
[[gnu::always_inline]] inline void FreeLanes(TLaneState<W>& la, TLaneState<W>& lb,
                                             const TLaneConstants<W>& c, typename TVec<W>::I& okA,
                                             typename TVec<W>::I& okB) noexcept
{
    using D = typename TVec<W>::D;
    for (std::int64_t t = 0; t < CheckpointFrames; ++t) {
        D roundedA;
        FreeLaneStep(la, c, t, n, okA, roundedA);
        if constexpr (Stores == TFreeStores::Alone) {
            StoreAt<W>(la, t, n, roundedA);
        } else {
            D roundedB;
            FreeLaneStep(lb, c, t, n, okB, roundedB);
            if constexpr (Stores == TFreeStores::Pair) {
                StorePairAt<W>(la, t, n, roundedA, roundedB);
            } else {
                StoreAt<W>(la, t, n, roundedA);
                StoreAt<W>(lb, t, n, roundedB);
            }
        }
    }
    if constexpr (n + 1 < TVec<W>::N)
        FreeLanes<W, Stores, n + 1>(la, lb, c, okA, okB);
}

// FillLanesBody in FreeLaneStep's steps, with a job whose lanes turn out to need the limits
// (scarcely ever: the scale takes the largest value to full scale) filled again by
// FillLanesBody.
template <int W>
[[gnu::always_inline]] inline void FillFreeLanesBody(const TLaneJob& a, const TLaneJob* b) noexcept
{
    using I = typename TVec<W>::I;
    const TLaneConstants<W> c = ConstantsOf<W>(a);
    const auto all = [](const I& ok) {
        bool every = true;
        for (int j = 0; j < W; ++j)
            every = every && ok[j] != 0;
        return every;
    };
    TLaneState<W> la;
    LoadLanes(a, la);
    I okA = I{} - 1;
    if (b == nullptr) {
        FreeLanes<W, TFreeStores::Alone, 0>(la, la, c, okA, okA);
        if (!all(okA))
            FillLanesBody<W>(a, nullptr);
        return;
    }
    TLaneState<W> lb;
    LoadLanes(*b, lb);
    I okB = okA;
    if (b->Out == a.Out + 1 && b->Stride == a.Stride) {
#if defined(__x86_64__)
        // A stereo block read from a file: both jobs' samples come from one load a lane.
        if constexpr (W == 2 || W == 4) {
            if (a.InStride == 2 && b->InStride == 2 && b->In == a.In + 1) {
                if (a.Stride == 2) {
                    if constexpr (W == 2)
                        StereoLanesSse2(la, lb, c, okA, okB);
                    else
                        StereoLanes<W, true, 0>(la, lb, c, okA, okB);
                } else
                    StereoLanes<W, false, 0>(la, lb, c, okA, okB);
                if (!all(okA))
                    FillLanesBody<W>(a, nullptr);
                if (!all(okB))
                    FillLanesBody<W>(*b, nullptr);
                return;
            }
        }
#endif
        FreeLanes<W, TFreeStores::Pair, 0>(la, lb, c, okA, okB);
    } else {
        FreeLanes<W, TFreeStores::Apart, 0>(la, lb, c, okA, okB);
    }
    if (!all(okA))
        FillLanesBody<W>(a, nullptr);
    if (!all(okB))
        FillLanesBody<W>(*b, nullptr);
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
    std::int64_t InStride;
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
            job.InStride,
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

    const std::int16_t* at = s.In + t * s.InStride;
    const std::int64_t apart = CheckpointFrames * s.InStride;
    const __m256i xi = _mm256_set_epi32(at[7 * apart], at[6 * apart], at[5 * apart], at[4 * apart],
                                        at[3 * apart], at[2 * apart], at[apart], at[0]);
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
    FillFreeLanesBody<2>(a, b);
}

#if defined(__x86_64__)
[[gnu::target("avx2")]] void FillLanesAvx2(const TLaneJob& a, const TLaneJob* b) noexcept
{
    FillFreeLanesBody<4>(a, b);
}
#endif

#if defined(__x86_64__)
bool HasAvx2() noexcept
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}
#endif

struct TPathEntry {
    const char* Name;
    bool (*Supported)() noexcept;
    TLanePath Path;
};

// Fastest first; each processor that runs one runs those after it too.
constexpr TPathEntry Paths[] = {
#if defined(__x86_64__)
    {"avx512", &HasAvx512, {"avx512", &FillLanesAvx512, &PeakLanesAvx512}},
    {"avx2", &HasAvx2, {"avx2", &FillLanesAvx2, &PeakLanesAvx2}},
#endif
    {"base", &AnyProcessor, {"base", &FillLanesBase, &PeakLanesBase}},
};

} // namespace

std::vector<TLanePath> LanePaths()
{
    std::vector<TLanePath> paths;
    for (const TPathEntry& e : Paths)
        if (e.Supported())
            paths.push_back(e.Path);
    return paths;
}

const TLanePath& PickLanePath() noexcept
{
    return PickSimdPath(std::span<const TPathEntry>(Paths)).Path;
}

} // namespace kavrel::detail
