#pragma once

#include <cstdint>

namespace kavrel {

// One block of 16-bit values handed to an output device. The owner keeps the data alive and
// unchanged from Write until the device reports the header done (or Reset returns it).
struct TWaveHeader {
    static constexpr std::uint32_t Done = 0x01;     // set by the device when played or reset
    static constexpr std::uint32_t Prepared = 0x02; // set by PrepareHeader, cleared by Unprepare
    static constexpr std::uint32_t InQueue = 0x10;  // set by Write until the device is done
    // Set by the owner on the sound's last header: nothing follows it, so the device plays it out
    // (followed by silence) instead of waiting for more.
    static constexpr std::uint32_t EndOfSound = 0x20;

    const std::int16_t* data = nullptr;
    std::uint32_t bufferLength = 0; // in bytes, a multiple of 2
    std::uint32_t flags = 0;
    std::uint32_t loops = 1;
    std::intptr_t user = 0; // owner's tag, untouched by the device
};

} // namespace kavrel
