// The 24-bit decoder shuffles each sample's three bytes into the top of a 32-bit lane (SSSE3 or
// AVX2, chosen at run time; the baseline SSE2 of every x86-64 loads them one by one); the float
// decoders need only SSE2.
// Rounding halves to even and saturating are done as RoundShift and FromFloat do them: 24-bit
// values by adding 127 plus the lowest kept bit before the shift, floats by the processor's
// rounding, which is the one nearbyint uses.
#include "sound/detail/SampleDecode.h"

#include "sound/detail/SampleConversion.h"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <string_view>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace kavrel::detail {

namespace {

std::uint32_t Load32(const std::byte* p) noexcept
{
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::big)
        v = __builtin_bswap32(v);
    return v;
}

std::uint64_t Load64(const std::byte* p) noexcept
{
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big)
        v = __builtin_bswap64(v);
    return v;
}

std::int16_t Get24(const std::byte* p) noexcept
{
    const std::uint32_t u = std::to_integer<std::uint32_t>(p[0]) |
                            (std::to_integer<std::uint32_t>(p[1]) << 8) |
                            (std::to_integer<std::uint32_t>(p[2]) << 16);
    return RoundShift<8>(static_cast<std::int32_t>(u << 8) >> 8);
}

#if defined(__x86_64__)
// Bytes 0-11 of a 16-byte load as four samples, each in the top three bytes of its lane.
#define KAVREL_SPREAD24 -1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11

// Lanes holding sample << 8 to the sample rounded to 16 bits (not yet saturated).
inline __m128i Round24(__m128i w) noexcept
{
    const __m128i v = _mm_srai_epi32(w, 8);
    const __m128i odd = _mm_and_si128(_mm_srli_epi32(w, 16), _mm_set1_epi32(1));
    return _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(v, _mm_set1_epi32(127)), odd), 8);
}

[[gnu::target("avx2")]] inline __m256i Round24(__m256i w) noexcept
{
    const __m256i v = _mm256_srai_epi32(w, 8);
    const __m256i odd = _mm256_and_si256(_mm256_srli_epi32(w, 16), _mm256_set1_epi32(1));
    return _mm256_srai_epi32(_mm256_add_epi32(_mm256_add_epi32(v, _mm256_set1_epi32(127)), odd), 8);
}

// In the baseline instructions: each sample from a 4-byte load, its fourth byte shifted out.
void Decode24Base(const std::byte* in, std::size_t values, std::int16_t* out) noexcept
{
    const auto load = [in](std::size_t i) {
        std::int32_t v;
        std::memcpy(&v, in + 3 * i, 4);
        return v;
    };
    std::size_t i = 0;
    // Eight samples; the last load reaches one byte past them.
    for (; i + 8 <= values && 3 * i + 25 <= 3 * values; i += 8) {
        const __m128i a = _mm_setr_epi32(load(i), load(i + 1), load(i + 2), load(i + 3));
        const __m128i b = _mm_setr_epi32(load(i + 4), load(i + 5), load(i + 6), load(i + 7));
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(out + i),
            _mm_packs_epi32(Round24(_mm_slli_epi32(a, 8)), Round24(_mm_slli_epi32(b, 8))));
    }
    for (; i < values; ++i)
        out[i] = Get24(in + 3 * i);
}

// Bytes 0-15 and 12-27 from p, in the two halves.
[[gnu::target("avx2")]] inline __m256i Load2x12(const std::byte* p) noexcept
{
    return _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(p + 12),
                               reinterpret_cast<const __m128i*>(p));
}

[[gnu::target("ssse3")]] void Decode24Ssse3(const std::byte* in, std::size_t values,
                                            std::int16_t* out) noexcept
{
    const __m128i spread = _mm_setr_epi8(KAVREL_SPREAD24);
    std::size_t i = 0;
    // Eight samples from two loads of 16 bytes, the second reaching 4 bytes past them.
    for (; i + 8 <= values && 3 * i + 28 <= 3 * values; i += 8) {
        const std::byte* p = in + 3 * i;
        const __m128i a =
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), spread);
        const __m128i b =
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12)), spread);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                         _mm_packs_epi32(Round24(a), Round24(b)));
    }
    Decode24Base(in + 3 * i, values - i, out + i);
}

[[gnu::target("avx2")]] void Decode24Avx2(const std::byte* in, std::size_t values,
                                          std::int16_t* out) noexcept
{
    const __m256i spread = _mm256_setr_epi8(KAVREL_SPREAD24, KAVREL_SPREAD24);
    std::size_t i = 0;
    // Sixteen samples from four loads of 16 bytes, the last reaching 4 bytes past them.
    for (; i + 16 <= values && 3 * i + 52 <= 3 * values; i += 16) {
        const std::byte* p = in + 3 * i;
        const __m256i a = Round24(_mm256_shuffle_epi8(Load2x12(p), spread));
        const __m256i b = Round24(_mm256_shuffle_epi8(Load2x12(p + 24), spread));
        // The packing works within each half: samples 0-3, 8-11, 4-7, 12-15, put back in order.
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), packed);
    }
    Decode24Ssse3(in + 3 * i, values - i, out + i);
}
#undef KAVREL_SPREAD24
#else
void Decode24Base(const std::byte* in, std::size_t values, std::int16_t* out) noexcept
{
    for (std::size_t i = 0; i < values; ++i)
        out[i] = Get24(in + 3 * i);
}
#endif

// As Decode24Paths orders them, without building the list.
TDecodeRun PickDecode24() noexcept
{
    const char* env = std::getenv("KAVREL_SIMD");
    const std::string_view limit = env == nullptr ? "" : env;
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && limit != "ssse3" && limit != "base")
        return &Decode24Avx2;
    if (__builtin_cpu_supports("ssse3") && limit != "base")
        return &Decode24Ssse3;
#endif
    return &Decode24Base;
}

} // namespace

std::vector<TDecodePath> Decode24Paths()
{
    std::vector<TDecodePath> paths;
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2"))
        paths.push_back({"avx2", &Decode24Avx2});
    if (__builtin_cpu_supports("ssse3"))
        paths.push_back({"ssse3", &Decode24Ssse3});
#endif
    paths.push_back({"base", &Decode24Base});
    return paths;
}

void Decode24(const std::byte* in, std::size_t values, std::int16_t* out) noexcept
{
    static const TDecodeRun run = PickDecode24();
    run(in, values, out);
}

void DecodeFloat32(const std::byte* in, std::size_t values, std::int16_t* out) noexcept
{
    std::size_t i = 0;
#if defined(__SSE2__)
    // x · 32768 is exact in floats as in doubles (or infinite in both ranges' stead, which
    // saturates alike); a value that is not a number is cleared to 0 before the limits.
    const __m128 scale = _mm_set1_ps(32768.0f);
    const __m128 top = _mm_set1_ps(32767.0f);
    const __m128 bottom = _mm_set1_ps(-32768.0f);
    const auto convert = [&](const std::byte* p) {
        __m128 y = _mm_mul_ps(_mm_loadu_ps(reinterpret_cast<const float*>(p)), scale);
        y = _mm_and_ps(y, _mm_cmpord_ps(y, y));
        return _mm_cvtps_epi32(_mm_max_ps(_mm_min_ps(y, top), bottom));
    };
    for (; i + 8 <= values; i += 8)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                         _mm_packs_epi32(convert(in + 4 * i), convert(in + 4 * i + 16)));
#endif
    for (; i < values; ++i)
        out[i] = FromFloat(static_cast<double>(std::bit_cast<float>(Load32(in + 4 * i))));
}

void DecodeFloat64(const std::byte* in, std::size_t values, std::int16_t* out) noexcept
{
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128d scale = _mm_set1_pd(32768.0);
    const __m128d top = _mm_set1_pd(32767.0);
    const __m128d bottom = _mm_set1_pd(-32768.0);
    const auto convert = [&](const std::byte* p) {
        __m128d y = _mm_mul_pd(_mm_loadu_pd(reinterpret_cast<const double*>(p)), scale);
        y = _mm_and_pd(y, _mm_cmpord_pd(y, y));
        return _mm_cvtpd_epi32(_mm_max_pd(_mm_min_pd(y, top), bottom));
    };
    for (; i + 8 <= values; i += 8) {
        const std::byte* p = in + 8 * i;
        const __m128i a = _mm_unpacklo_epi64(convert(p), convert(p + 16));
        const __m128i b = _mm_unpacklo_epi64(convert(p + 32), convert(p + 48));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(a, b));
    }
#endif
    for (; i < values; ++i)
        out[i] = FromFloat(std::bit_cast<double>(Load64(in + 8 * i)));
}

#if defined(__SSE2__)
// Frames f … f+7 of channels c … c+Width−1 (Width 4 or 8) from in, a frame every stride bytes,
// into out: an 8 × 8 transpose of 16-bit values, of which the narrow group fills half.
template <int Width>
void Transpose16(const std::byte* in, std::size_t stride, std::size_t f, std::size_t c,
                 std::int16_t* const* out) noexcept
{
    __m128i r[8];
    for (std::size_t i = 0; i < 8; ++i) {
        const auto* p = reinterpret_cast<const __m128i*>(in + (f + i) * stride + 2 * c);
        r[i] = Width == 8 ? _mm_loadu_si128(p) : _mm_loadl_epi64(p);
    }
    __m128i t[8];
    for (int i = 0; i < 4; ++i) {
        t[2 * i] = _mm_unpacklo_epi16(r[2 * i], r[2 * i + 1]);
        t[2 * i + 1] = _mm_unpackhi_epi16(r[2 * i], r[2 * i + 1]);
    }
    // u[k] and u[k + 4]: channels 2k and 2k+1 of frames 0-3 and 4-7.
    __m128i u[8];
    for (int h = 0; h < 2; ++h) {
        u[4 * h] = _mm_unpacklo_epi32(t[4 * h], t[4 * h + 2]);
        u[4 * h + 1] = _mm_unpackhi_epi32(t[4 * h], t[4 * h + 2]);
        u[4 * h + 2] = _mm_unpacklo_epi32(t[4 * h + 1], t[4 * h + 3]);
        u[4 * h + 3] = _mm_unpackhi_epi32(t[4 * h + 1], t[4 * h + 3]);
    }
    for (int k = 0; k < Width / 2; ++k) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out[c + 2 * static_cast<std::size_t>(k)] + f),
                         _mm_unpacklo_epi64(u[k], u[k + 4]));
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(out[c + 2 * static_cast<std::size_t>(k) + 1] + f),
            _mm_unpackhi_epi64(u[k], u[k + 4]));
    }
}
#endif

void Deinterleave16(const std::byte* in, std::size_t frames, std::size_t channels,
                    std::int16_t* const* out) noexcept
{
    if (frames == 0)
        return;
    if (channels == 1) {
        std::memcpy(out[0], in, frames * 2);
        return;
    }
    std::size_t done = 0;
#if defined(__SSE2__)
    if (channels == 2) {
        std::int16_t* left = out[0];
        std::int16_t* right = out[1];
        // Eight frames at a time: each frame is a 32-bit lane; the low half sign-extended is the
        // left sample, the high half the right one, and packing them back to 16 bits is exact.
        for (std::size_t f = 0; f + 8 <= frames; f += 8) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * f));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * f + 16));
            const __m128i l = _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(a, 16), 16),
                                              _mm_srai_epi32(_mm_slli_epi32(b, 16), 16));
            const __m128i r = _mm_packs_epi32(_mm_srai_epi32(a, 16), _mm_srai_epi32(b, 16));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(left + f), l);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(right + f), r);
            done = f + 8;
        }
    } else if (channels > 2) {
        // Groups of eight channels, then of four; the channels left over go one by one.
        std::size_t c = 0;
        const std::size_t whole = frames / 8 * 8;
        for (; c + 8 <= channels; c += 8)
            for (std::size_t f = 0; f < whole; f += 8)
                Transpose16<8>(in, 2 * channels, f, c, out);
        for (; c + 4 <= channels; c += 4)
            for (std::size_t f = 0; f < whole; f += 8)
                Transpose16<4>(in, 2 * channels, f, c, out);
        for (; c < channels; ++c)
            for (std::size_t f = 0; f < whole; ++f)
                std::memcpy(out[c] + f, in + 2 * (f * channels + c), 2);
        done = whole;
    }
#endif
    const std::size_t stride = 2 * channels;
    for (std::size_t c = 0; c < channels; ++c) {
        const std::byte* p = in + 2 * c;
        std::int16_t* o = out[c];
        for (std::size_t f = done; f < frames; ++f) {
            std::memcpy(o + f, p + f * stride, 2);
        }
    }
}

} // namespace kavrel::detail
