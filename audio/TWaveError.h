#pragma once
// Result codes of the output-device interface. 0 is success; a device may explain any code in
// more detail through TWaveOutDevice::ErrorText.

#include <string>

namespace kavrel {

enum TWaveError : int {
    weNoError = 0,
    weError = 1,         // unspecified failure
    weBadDeviceId = 2,   // no device with that number
    weAllocated = 3,     // the device is already open
    weInvalidHandle = 4, // the device is not open
    weNoDriver = 5,      // no sound system or no output device present
    weNoMem = 6,         // out of memory
    weBadFormat = 7,     // the device cannot play that format
    weStillPlaying = 8,  // the header is still queued
    weUnprepared = 9,    // the header was not prepared
    weInvalidParam = 10, // a header without data or with a bad length
    weDisconnected = 11, // the sound server or device went away
};

// Plain text for a result code, used when a device has nothing more specific to say.
std::string DefaultWaveErrorText(int code);

} // namespace kavrel
