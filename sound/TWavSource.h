#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace kavrel {

// Where the bytes of a wave file come from. Files, memory buffers and the fuzzer all read through
// these callbacks, so they share one parser.
struct TWavSource {
    // Copies up to `bytes` bytes to `dst` and returns how many came; fewer than asked only at the
    // end of the source. Throws on an input error.
    std::function<std::size_t(std::byte* dst, std::size_t bytes)> Read;
    // Moves to `offset` bytes from the start; returns false if that is not possible. May be empty,
    // in which case the reader skips forward by reading.
    std::function<bool(std::uint64_t offset)> Seek;
    // Total size in bytes when known; lets the reader size its arrays once and never allocate for
    // data the source does not hold.
    std::optional<std::uint64_t> Size;

    // A source over `bytes`, which must outlive it.
    static TWavSource FromMemory(std::span<const std::byte> bytes);
};

} // namespace kavrel
