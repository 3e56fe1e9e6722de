#pragma once
// The wave-out interface the player is written against: open a device for a PCM format, prepare,
// queue and unprepare buffer headers, pause, restart, reset, close, error texts, device names.
// Every call is made on the UI thread and returns a TWaveError code (0 = success). An output that
// needs more sound queued than it was given says so with a Starved notice.

#include "audio/TWaveError.h"
#include "audio/TWaveFormat.h"
#include "audio/TWaveHeader.h"
#include "audio/TWaveOutMessage.h"

#include <cstdint>
#include <functional>
#include <string>

namespace kavrel {

// Receives the device's notifications. The device may call it from inside any of its calls
// (Open, Reset, Close ...) or from its own event-loop work; the receiver defers handling.
using TWaveOutNotify = std::function<void(const TWaveOutMessage&)>;

class TWaveOutDevice {
public:
    static constexpr int DefaultDevice = -1; // the system's default output

    virtual ~TWaveOutDevice() = default;

    virtual int DeviceCount() const = 0;
    // Name of output device 0 .. DeviceCount()-1, empty for other numbers.
    virtual std::string DeviceName(int index) const = 0;
    // The name the system itself gives output `index`, which stays the same while the output
    // exists and across runs (a choice is remembered by it); DeviceName is what a user reads.
    // Empty for other numbers. By default the same as DeviceName.
    virtual std::string DeviceKey(int index) const { return DeviceName(index); }

    // Opens device deviceId (or DefaultDevice) for format; notifies Opened on success.
    virtual int Open(int deviceId, const TWaveFormat& format, TWaveOutNotify notify) = 0;
    virtual int PrepareHeader(TWaveHeader& header) = 0;
    // Unpreparing a header that is not prepared succeeds; one still queued gives weStillPlaying.
    virtual int UnprepareHeader(TWaveHeader& header) = 0;
    // Queues a prepared header behind those already queued; notifies Done when it has been heard.
    virtual int Write(TWaveHeader& header) = 0;
    virtual int Pause() = 0;
    virtual int Restart() = 0;
    // Stops at once and returns every queued header, each marked Done and notified Done.
    virtual int Reset() = 0;
    // Closes the device (after Reset); notifies Closed. Also succeeds after a Failed notice.
    virtual int Close() = 0;

    // Frames heard since the device was opened or last reset, from the output's own clock (never
    // from what was written); 0 while closed. Never exceeds the frames written since then.
    virtual std::int64_t PlayedFrames() const = 0;
    // Times the output ran out of sound since the device was last opened (it played silence
    // until more came). Kept after Close. By default 0: a device that cannot tell.
    virtual std::int64_t Underruns() const { return 0; }

    // Text for a code this device returned, with any detail the device knows.
    virtual std::string ErrorText(int code) const = 0;
};

} // namespace kavrel
