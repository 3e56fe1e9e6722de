#include "audio/TWaveError.h"

namespace kavrel {

std::string DefaultWaveErrorText(int code)
{
    switch (code) {
    case weNoError:
        return "No error.";
    case weError:
        return "Unspecified sound device error.";
    case weBadDeviceId:
        return "There is no sound output device with that number.";
    case weAllocated:
        return "The sound output device is already open.";
    case weInvalidHandle:
        return "The sound output device is not open.";
    case weNoDriver:
        return "No sound system or sound output device is available.";
    case weNoMem:
        return "Out of memory for the sound output device.";
    case weBadFormat:
        return "The sound output device cannot play this format.";
    case weStillPlaying:
        return "The buffer is still queued on the sound output device.";
    case weUnprepared:
        return "The buffer was not prepared.";
    case weInvalidParam:
        return "Invalid buffer passed to the sound output device.";
    case weDisconnected:
        return "The connection to the sound system was lost.";
    default:
        return "Unknown sound device error " + std::to_string(code) + ".";
    }
}

} // namespace kavrel
