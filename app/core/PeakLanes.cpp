// The peak pass in vector lanes: one channel in each lane, several channels side by side, built
// for each instruction set as the write pass's lanes are.
#include "app/core/LaneVectors.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

namespace kavrel::detail {

namespace {

// The peak pass's stretch for channels in[0] … in[m−1] (m at most N·W), one channel in each
// lane, all side by side: the recursions wait on their own chains, not on each other. Every delay
// line moves on at every step; when some value turns out not to be finite (where the section
// keeps its delay line), nothing is stored and false is returned.
template <int W, int N>
[[gnu::always_inline]] inline bool PeakGroup(const TKernel& k, const std::int16_t* const* in,
                                             std::int64_t stride, std::int64_t n, int m,
                                             TDelayLine* lines, double* peaks) noexcept
{
    using D = typename TVec<W>::D;
    using I = typename TVec<W>::I;
    using S = typename TVec<W>::S;
    constexpr D zero{};
    const I absMask = I{} + 0x7FFFFFFFFFFFFFFFLL;
    const D a0 = k.A0 - zero;
    const D a1 = k.A1 - zero;
    const D a2 = k.A2 - zero;
    const D b0 = k.B0 - zero;
    const D b1 = k.B1 - zero;
    const D b2 = k.B2 - zero;
    const D gain = k.Gain - zero;
    // Lanes past m repeat channel 0, whose results they do not store.
    const std::int16_t* from[N * W];
    D w1[N];
    D w2[N];
    D peak[N];
    for (int j = 0; j < N * W; ++j) {
        const int ch = j < m ? j : 0;
        from[j] = in[ch];
        w1[j / W][j % W] = lines[ch].W1;
        w2[j / W][j % W] = lines[ch].W2;
        peak[j / W][j % W] = peaks[ch];
    }
    I ok = I{} - 1;
    const auto step = [&](auto v, const D& x) {
        const D p = a0 * x + a1 * w1[v] + a2 * w2[v];
        const D y = gain * (b0 * (p + b1 * w1[v] + b2 * w2[v]));
        w2[v] = w1[v];
        w1[v] = p;
        const D size = __builtin_bit_cast(D, __builtin_bit_cast(I, y) & absMask);
        ok &= size <= DBL_MAX;
        // std::max(peak, size), one instruction
        peak[v] = peak[v] < size ? size : peak[v];
    };
    // Channels that follow each other in the frames (a whole interleaved block) fill a vector
    // from one load.
    bool together = m == N * W;
    for (int j = 0; j < m; ++j)
        together = together && from[j] == from[0] + j;
    if (together) {
        typedef std::int16_t H __attribute__((vector_size(W * sizeof(std::int16_t))));
        for (std::int64_t i = 0; i < n; ++i) {
            Unrolled<N>([&](auto v) {
                const std::int16_t* at = from[0] + i * stride + v * W;
#if defined(__x86_64__)
                if constexpr (W == 2 || W == 4) {
                    std::int64_t bits = 0;
                    std::memcpy(&bits, at, sizeof(H));
                    D x;
                    Widen<W>(_mm_cvtsi64_si128(bits), x);
                    step(v, x);
                    return;
                }
#endif
                H h;
                std::memcpy(&h, at, sizeof h);
                step(v, __builtin_convertvector(h, D));
            });
        }
    } else {
        for (std::int64_t i = 0; i < n; ++i) {
            Unrolled<N>([&](auto v) {
                S xi;
                Unrolled<W>([&](auto j) { xi[j()] = from[v * W + j][i * stride]; });
                step(v, __builtin_convertvector(xi, D));
            });
        }
    }
    for (int j = 0; j < W; ++j)
        if (ok[j] == 0)
            return false;
    for (int j = 0; j < m; ++j) {
        lines[j] = {w1[j / W][j % W], w2[j / W][j % W]};
        peaks[j] = peak[j / W][j % W];
    }
    return true;
}

// The peak pass's stretch one sample at a time, for every filter type.
void PeakOneByOne(const TKernel& k, const std::int16_t* const* in, std::int64_t stride,
                  std::int64_t n, int m, TDelayLine* lines, double* peaks) noexcept
{
    for (int ch = 0; ch < m; ++ch) {
        double pk = peaks[ch];
        for (std::int64_t i = 0; i < n; ++i)
            pk = std::max(pk,
                          std::fabs(k.Process(static_cast<double>(in[ch][i * stride]), lines[ch])));
        peaks[ch] = pk;
    }
}

// PeakGroup in as few vectors of W lanes (N or more) as the m channels fill.
template <int W, int N>
[[gnu::always_inline]] inline bool PeakGroups(const TKernel& k, const std::int16_t* const* in,
                                              std::int64_t stride, std::int64_t n, int m,
                                              TDelayLine* lines, double* peaks) noexcept
{
    if constexpr (N * W < Lanes) {
        if (m > N * W)
            return PeakGroups<W, N + 1>(k, in, stride, n, m, lines, peaks);
    }
    return PeakGroup<W, N>(k, in, stride, n, m, lines, peaks);
}

// The channels in groups of up to 8 lanes, in as few vectors of W lanes as they fill.
template <int W>
[[gnu::always_inline]] inline void
PeakLanesBody(const TKernel& k, const std::int16_t* const* in, std::int64_t stride, std::int64_t n,
              std::int32_t channels, TDelayLine* lines, double* peaks) noexcept
{
    for (std::int32_t first = 0; first < channels; first += Lanes) {
        const int m = std::min(Lanes, channels - first);
        const std::int16_t* const* at = in + first;
        TDelayLine* d = lines + first;
        double* pk = peaks + first;
        bool done = false;
        // Two channels (stereo) fill a vector of two lanes, quicker than half of a wider one.
        if (k.Type == tfiltertype::ftboth)
            done = m <= 2 ? PeakGroups<2, 1>(k, at, stride, n, m, d, pk)
                          : PeakGroups<W, 1>(k, at, stride, n, m, d, pk);
        if (!done)
            PeakOneByOne(k, at, stride, n, m, d, pk);
    }
}

} // namespace

void PeakLanesBase(const TKernel& k, const std::int16_t* const* in, std::int64_t stride,
                   std::int64_t n, std::int32_t channels, TDelayLine* lines, double* peaks) noexcept
{
    PeakLanesBody<2>(k, in, stride, n, channels, lines, peaks);
}

#if defined(__x86_64__)
[[gnu::target("avx2")]] void PeakLanesAvx2(const TKernel& k, const std::int16_t* const* in,
                                           std::int64_t stride, std::int64_t n,
                                           std::int32_t channels, TDelayLine* lines,
                                           double* peaks) noexcept
{
    PeakLanesBody<4>(k, in, stride, n, channels, lines, peaks);
}

[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw")]] void
PeakLanesAvx512(const TKernel& k, const std::int16_t* const* in, std::int64_t stride,
                std::int64_t n, std::int32_t channels, TDelayLine* lines, double* peaks) noexcept
{
    PeakLanesBody<4>(k, in, stride, n, channels, lines, peaks);
}
#endif

} // namespace kavrel::detail
