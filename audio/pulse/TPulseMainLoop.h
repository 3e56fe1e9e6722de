#pragma once
// libpulse's main-loop interface run by the Qt event loop of the UI thread: I/O events are socket
// notifiers, time events single-shot timers, defer events zero-time timers. An event that libpulse
// frees is only marked dead and deleted later from the event loop, never while it is dispatched.
//
// libpulse-mainloop-glib would serve for the dispatch alone (Qt's Linux dispatcher runs GLib's
// default context), but the bounded wait below could not run its events without also running the
// application's (timers, posted events, window input) on the same context, so both live here.

#include <pulse/mainloop-api.h>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class QTimer;

namespace kavrel {

class TPulseMainLoop {
public:
    // Create on the UI thread, after the application object.
    TPulseMainLoop();
    // Destroy after every libpulse object made on Api() has been freed.
    ~TPulseMainLoop();
    TPulseMainLoop(const TPulseMainLoop&) = delete;
    TPulseMainLoop& operator=(const TPulseMainLoop&) = delete;

    pa_mainloop_api* Api() { return &m_api; }

    // Runs libpulse's events only (never the application's, so nothing re-enters the caller)
    // until done() holds or timeoutMs has passed; false on timeout. timeoutMs 0 handles what is
    // already waiting. Not from inside a libpulse callback.
    bool RunUntil(const std::function<bool()>& done, int timeoutMs);

    // Handles everything that is waiting: each socket is read until it has nothing more (libpulse
    // reads a socket a piece at a time). Not from inside a libpulse callback.
    void RunPending();
    // Runs the deferred work libpulse has queued (a stream write's message to the server above
    // all) now rather than in the next pass of the event loop. Not from inside a libpulse
    // callback.
    void RunDeferred();
    // While held() is true, data arriving on the sockets wakes nobody: it waits for the owner's
    // next RunPending, on a timer of its own. Sockets still wake the loop when they can be
    // written again. held() is asked again after every event the loop runs and by UpdateHold.
    void SetInputHold(std::function<bool()> held);
    void UpdateHold();

    // Number of live events of each kind, for tests.
    int LiveEvents() const;

private:
    using Clock = std::chrono::steady_clock;

    static pa_io_event* IoNew(pa_mainloop_api* api, int fd, pa_io_event_flags_t events,
                              pa_io_event_cb_t callback, void* userdata);
    static void IoEnable(pa_io_event* e, pa_io_event_flags_t events);
    static void IoFree(pa_io_event* e);
    static void IoSetDestroy(pa_io_event* e, pa_io_event_destroy_cb_t callback);
    static pa_time_event* TimeNew(pa_mainloop_api* api, const struct timeval* tv,
                                  pa_time_event_cb_t callback, void* userdata);
    static void TimeRestart(pa_time_event* e, const struct timeval* tv);
    static void TimeFree(pa_time_event* e);
    static void TimeSetDestroy(pa_time_event* e, pa_time_event_destroy_cb_t callback);
    static pa_defer_event* DeferNew(pa_mainloop_api* api, pa_defer_event_cb_t callback,
                                    void* userdata);
    static void DeferEnable(pa_defer_event* e, int enable);
    static void DeferFree(pa_defer_event* e);
    static void DeferSetDestroy(pa_defer_event* e, pa_defer_event_destroy_cb_t callback);
    static void Quit(pa_mainloop_api* api, int retval);
    // Marks an event that libpulse freed as dead and tells its owner; the collector deletes it
    // once the current dispatch is over. The caller has already silenced its notifier or timer.
    template <typename TEvent> static void Retire(TEvent* e);

    static TPulseMainLoop& Of(pa_mainloop_api* api);
    void DispatchIo(pa_io_event* e, pa_io_event_flags_t flags);
    // Runs a socket's callback; afterwards silences the notifiers of events it freed and did
    // not take up again.
    void RunIo(pa_io_event* e, pa_io_event_flags_t flags);
    void DispatchTime(pa_time_event* e);
    void DispatchDefer(pa_defer_event* e);
    // Runs every enabled defer event once; whether there was one.
    bool DispatchDefers();
    void ScheduleCollect();
    void Collect();
    // One pass of the bounded wait: defer events, then a poll of at most waitMs, then I/O and
    // time events that are due. Returns whether a socket was ready.
    bool Iterate(int waitMs);

    pa_mainloop_api m_api{};
    std::vector<pa_io_event*> m_ios;
    std::vector<pa_time_event*> m_times;
    std::vector<pa_defer_event*> m_defers;
    std::unique_ptr<QTimer> m_collector;
    int m_ioDepth = 0; // socket callbacks running
    std::function<bool()> m_holdInput;
    bool m_inputHeld = false;
};

} // namespace kavrel
