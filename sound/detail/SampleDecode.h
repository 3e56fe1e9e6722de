#pragma once

// Runs of stored samples to the 16 bits held in memory, in vector instructions where the
// processor has them: the same values, sample for sample, as RoundShift and FromFloat give.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kavrel::detail {

// values little-endian 24-bit integers (3 bytes each) from in to out.
void Decode24(const std::byte* in, std::size_t values, std::int16_t* out) noexcept;
// values little-endian IEEE floats of 4 or 8 bytes from in to out.
void DecodeFloat32(const std::byte* in, std::size_t values, std::int16_t* out) noexcept;
void DecodeFloat64(const std::byte* in, std::size_t values, std::int16_t* out) noexcept;

// frames frames of channels interleaved 16-bit values in the machine's byte order from in, value
// c of each frame to out[c].
void Deinterleave16(const std::byte* in, std::size_t frames, std::size_t channels,
                    std::int16_t* const* out) noexcept;

// One way of decoding a run of 24-bit values, named for the instructions it uses: "avx2",
// "ssse3" or "base" (any processor). Every path gives the same values.
using TDecodeRun = void (*)(const std::byte* in, std::size_t values, std::int16_t* out) noexcept;
struct TDecodePath {
    const char* Name;
    TDecodeRun Run;
};

// The paths this processor can run for Decode24, fastest first. Decode24 takes the first, or
// with KAVREL_SIMD=name in the environment the first from that one on; a name of no path leaves
// the choice free.
std::vector<TDecodePath> Decode24Paths();

} // namespace kavrel::detail
