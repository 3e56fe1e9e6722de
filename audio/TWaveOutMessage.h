#pragma once

#include "audio/TWaveHeader.h"

#include <cstdint>

namespace kavrel {

enum class TWaveOutMessageKind {
    Opened, // the device was opened
    Closed, // the device was closed
    Done,   // header has been played (or returned by Reset)
    Failed, // the device stopped working while open (server gone, device lost); see error
    // The output needs more sound queued than the owner keeps: at least `bytes`, or, with bytes
    // 0, more than it holds now. Queue more headers or the output may stop playing.
    Starved,
};

// A notification from an output device to the component that opened it.
struct TWaveOutMessage {
    TWaveOutMessageKind kind = TWaveOutMessageKind::Opened;
    TWaveHeader* header = nullptr; // Done only
    int error = 0;                 // Failed only: a TWaveError code
    std::int64_t bytes = 0;        // Starved only
};

} // namespace kavrel
