#pragma once

#include "audio/TWaveHeader.h"

namespace kavrel {

enum class TWaveOutMessageKind {
    Opened, // the device was opened
    Closed, // the device was closed
    Done,   // header has been played (or returned by Reset)
    Failed, // the device stopped working while open (server gone, device lost); see error
};

// A notification from an output device to the component that opened it.
struct TWaveOutMessage {
    TWaveOutMessageKind kind = TWaveOutMessageKind::Opened;
    TWaveHeader* header = nullptr; // Done only
    int error = 0;                 // Failed only: a TWaveError code
};

} // namespace kavrel
