#include "audio/pulse/TPulseMainLoop.h"

#include <pulse/rtclock.h>
#include <pulse/timeval.h>

#include <QSocketNotifier>
#include <QTimer>

#include <poll.h>

#include <algorithm>
#include <cerrno>

using kavrel::TPulseMainLoop;

// The event types libpulse's interface leaves to the main loop that implements it.
struct pa_io_event {
    TPulseMainLoop* loop = nullptr;
    int fd = -1;
    pa_io_event_flags_t events = PA_IO_EVENT_NULL;
    pa_io_event_cb_t callback = nullptr;
    void* userdata = nullptr;
    pa_io_event_destroy_cb_t destroy = nullptr;
    std::unique_ptr<QSocketNotifier> read;
    std::unique_ptr<QSocketNotifier> write;
    bool dead = false;
};

struct pa_time_event {
    TPulseMainLoop* loop = nullptr;
    bool enabled = false;
    std::chrono::steady_clock::time_point due;
    struct timeval tv {};
    pa_time_event_cb_t callback = nullptr;
    void* userdata = nullptr;
    pa_time_event_destroy_cb_t destroy = nullptr;
    std::unique_ptr<QTimer> timer;
    bool dead = false;
};

struct pa_defer_event {
    TPulseMainLoop* loop = nullptr;
    bool enabled = false;
    pa_defer_event_cb_t callback = nullptr;
    void* userdata = nullptr;
    pa_defer_event_destroy_cb_t destroy = nullptr;
    std::unique_ptr<QTimer> timer;
    bool dead = false;
};

namespace kavrel {

namespace {

// libpulse marks a time on its own monotonic clock with this bit in tv_usec; other times are on
// the wall clock.
constexpr long RtClockFlag = 1L << 30;

std::chrono::steady_clock::time_point DueOf(const struct timeval& tv)
{
    std::int64_t delayUs = 0;
    if ((tv.tv_usec & RtClockFlag) != 0) {
        auto at = static_cast<std::int64_t>(tv.tv_sec) * 1000000 + (tv.tv_usec & ~RtClockFlag);
        delayUs = at - static_cast<std::int64_t>(pa_rtclock_now());
    } else {
        struct timeval now {};
        pa_gettimeofday(&now);
        delayUs = (static_cast<std::int64_t>(tv.tv_sec) - now.tv_sec) * 1000000 +
                  (tv.tv_usec - now.tv_usec);
    }
    return std::chrono::steady_clock::now() + std::chrono::microseconds(delayUs);
}

int MsUntil(std::chrono::steady_clock::time_point due)
{
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                  due - std::chrono::steady_clock::now())
                  .count();
    if (us <= 0) {
        return 0;
    }
    return static_cast<int>(std::min<std::int64_t>((us + 999) / 1000, 24 * 3600 * 1000));
}

} // namespace

TPulseMainLoop::TPulseMainLoop() : m_collector(std::make_unique<QTimer>())
{
    m_api.userdata = this;
    m_api.io_new = &IoNew;
    m_api.io_enable = &IoEnable;
    m_api.io_free = &IoFree;
    m_api.io_set_destroy = &IoSetDestroy;
    m_api.time_new = &TimeNew;
    m_api.time_restart = &TimeRestart;
    m_api.time_free = &TimeFree;
    m_api.time_set_destroy = &TimeSetDestroy;
    m_api.defer_new = &DeferNew;
    m_api.defer_enable = &DeferEnable;
    m_api.defer_free = &DeferFree;
    m_api.defer_set_destroy = &DeferSetDestroy;
    m_api.quit = &Quit;
    m_collector->setSingleShot(true);
    m_collector->setInterval(0);
    QObject::connect(m_collector.get(), &QTimer::timeout, [this] { Collect(); });
}

TPulseMainLoop::~TPulseMainLoop()
{
    m_collector.reset();
    for (pa_io_event* e : m_ios) {
        delete e;
    }
    for (pa_time_event* e : m_times) {
        delete e;
    }
    for (pa_defer_event* e : m_defers) {
        delete e;
    }
}

namespace {

void Silence(pa_io_event* e)
{
    e->read->setEnabled(false);
    e->write->setEnabled(false);
}

} // namespace

TPulseMainLoop& TPulseMainLoop::Of(pa_mainloop_api* api)
{
    return *static_cast<TPulseMainLoop*>(api->userdata);
}

int TPulseMainLoop::LiveEvents() const
{
    auto live = [](const auto& events) {
        return static_cast<int>(
            std::count_if(events.begin(), events.end(), [](const auto* e) { return !e->dead; }));
    };
    return live(m_ios) + live(m_times) + live(m_defers);
}

pa_io_event* TPulseMainLoop::IoNew(pa_mainloop_api* api, int fd, pa_io_event_flags_t events,
                                   pa_io_event_cb_t callback, void* userdata)
{
    TPulseMainLoop& loop = Of(api);
    // libpulse frees a connection's event whenever the socket is both readable and writable and
    // asks for a new one as soon as it has read or written, inside the same callback: an event
    // freed on the same socket and not yet collected is taken up again with its notifiers, still
    // registered with the event loop when it was freed inside a callback.
    auto spare = std::find_if(loop.m_ios.rbegin(), loop.m_ios.rend(),
                              [fd](const pa_io_event* e) { return e->dead && e->fd == fd; });
    if (spare != loop.m_ios.rend()) {
        pa_io_event* e = *spare;
        e->callback = callback;
        e->userdata = userdata;
        e->destroy = nullptr;
        e->dead = false;
        IoEnable(e, events);
        if (loop.LiveEvents() ==
            static_cast<int>(loop.m_ios.size() + loop.m_times.size() + loop.m_defers.size())) {
            loop.m_collector->stop(); // nothing is left for it
        }
        return e;
    }
    auto* e = new pa_io_event;
    e->loop = &loop;
    e->fd = fd;
    e->callback = callback;
    e->userdata = userdata;
    e->read = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    e->write = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    QObject::connect(e->read.get(), &QSocketNotifier::activated,
                     [e] { e->loop->DispatchIo(e, PA_IO_EVENT_INPUT); });
    QObject::connect(e->write.get(), &QSocketNotifier::activated,
                     [e] { e->loop->DispatchIo(e, PA_IO_EVENT_OUTPUT); });
    loop.m_ios.push_back(e);
    IoEnable(e, events);
    return e;
}

void TPulseMainLoop::IoEnable(pa_io_event* e, pa_io_event_flags_t events)
{
    if (e->dead) {
        return;
    }
    e->events = events;
    e->read->setEnabled((events & PA_IO_EVENT_INPUT) != 0 && !e->loop->m_inputHeld);
    e->write->setEnabled((events & PA_IO_EVENT_OUTPUT) != 0);
}

void TPulseMainLoop::SetInputHold(std::function<bool()> held)
{
    m_holdInput = std::move(held);
    UpdateHold();
}

void TPulseMainLoop::UpdateHold()
{
    const bool hold = m_holdInput && m_holdInput();
    if (hold == m_inputHeld) {
        return;
    }
    m_inputHeld = hold;
    for (pa_io_event* e : m_ios) {
        IoEnable(e, e->events); // skips dead events
    }
}

template <typename TEvent> void TPulseMainLoop::Retire(TEvent* e)
{
    e->dead = true;
    if (e->destroy) {
        e->destroy(&e->loop->m_api, e, e->userdata);
    }
    e->loop->ScheduleCollect();
}

void TPulseMainLoop::IoFree(pa_io_event* e)
{
    if (e->dead) {
        return;
    }
    // Inside a socket's callback the notifiers stay registered, in case the socket's next event
    // takes them up before the callback returns; those not taken up are silenced then, before
    // the loop polls again (libpulse may close the socket). A dead event's notifications are
    // dropped.
    e->events = PA_IO_EVENT_NULL;
    if (e->loop->m_ioDepth == 0) {
        Silence(e);
    }
    Retire(e);
}

void TPulseMainLoop::IoSetDestroy(pa_io_event* e, pa_io_event_destroy_cb_t callback)
{
    e->destroy = callback;
}

void TPulseMainLoop::DispatchIo(pa_io_event* e, pa_io_event_flags_t flags)
{
    if (!e->dead && (e->events & flags) != 0) {
        RunIo(e, flags);
        UpdateHold();
    }
}

void TPulseMainLoop::RunIo(pa_io_event* e, pa_io_event_flags_t flags)
{
    ++m_ioDepth;
    e->callback(&m_api, e, e->fd, flags, e->userdata);
    if (--m_ioDepth == 0) {
        for (pa_io_event* each : m_ios) {
            if (each->dead) {
                Silence(each);
            }
        }
    }
}

pa_time_event* TPulseMainLoop::TimeNew(pa_mainloop_api* api, const struct timeval* tv,
                                       pa_time_event_cb_t callback, void* userdata)
{
    TPulseMainLoop& loop = Of(api);
    auto* e = new pa_time_event;
    e->loop = &loop;
    e->callback = callback;
    e->userdata = userdata;
    e->timer = std::make_unique<QTimer>();
    e->timer->setSingleShot(true);
    e->timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(e->timer.get(), &QTimer::timeout, [e] { e->loop->DispatchTime(e); });
    loop.m_times.push_back(e);
    TimeRestart(e, tv);
    return e;
}

void TPulseMainLoop::TimeRestart(pa_time_event* e, const struct timeval* tv)
{
    if (e->dead) {
        return;
    }
    if (tv == nullptr) {
        e->enabled = false;
        e->timer->stop();
        return;
    }
    e->enabled = true;
    e->tv = *tv;
    e->due = DueOf(*tv);
    e->timer->start(MsUntil(e->due));
}

void TPulseMainLoop::TimeFree(pa_time_event* e)
{
    if (e->dead) {
        return;
    }
    e->enabled = false;
    e->timer->stop();
    Retire(e);
}

void TPulseMainLoop::TimeSetDestroy(pa_time_event* e, pa_time_event_destroy_cb_t callback)
{
    e->destroy = callback;
}

void TPulseMainLoop::DispatchTime(pa_time_event* e)
{
    if (e->dead || !e->enabled) {
        return;
    }
    if (int left = MsUntil(e->due); left > 0) {
        e->timer->start(left); // the timer rounded down
        return;
    }
    // A time event fires once; the callback may restart it.
    e->enabled = false;
    e->timer->stop();
    const struct timeval tv = e->tv;
    e->callback(&m_api, e, &tv, e->userdata);
    UpdateHold();
}

pa_defer_event* TPulseMainLoop::DeferNew(pa_mainloop_api* api, pa_defer_event_cb_t callback,
                                         void* userdata)
{
    TPulseMainLoop& loop = Of(api);
    auto* e = new pa_defer_event;
    e->loop = &loop;
    e->callback = callback;
    e->userdata = userdata;
    e->timer = std::make_unique<QTimer>();
    e->timer->setInterval(0);
    QObject::connect(e->timer.get(), &QTimer::timeout, [e] { e->loop->DispatchDefer(e); });
    loop.m_defers.push_back(e);
    DeferEnable(e, 1);
    return e;
}

void TPulseMainLoop::DeferEnable(pa_defer_event* e, int enable)
{
    if (e->dead) {
        return;
    }
    e->enabled = enable != 0;
    if (e->enabled) {
        if (!e->timer->isActive()) {
            e->timer->start();
        }
    } else {
        e->timer->stop();
    }
}

void TPulseMainLoop::DeferFree(pa_defer_event* e)
{
    if (e->dead) {
        return;
    }
    e->enabled = false;
    e->timer->stop();
    Retire(e);
}

void TPulseMainLoop::DeferSetDestroy(pa_defer_event* e, pa_defer_event_destroy_cb_t callback)
{
    e->destroy = callback;
}

void TPulseMainLoop::DispatchDefer(pa_defer_event* e)
{
    if (!e->dead && e->enabled) {
        e->callback(&m_api, e, e->userdata);
        UpdateHold();
    }
}

void TPulseMainLoop::Quit(pa_mainloop_api*, int) {}

void TPulseMainLoop::ScheduleCollect()
{
    if (m_collector && !m_collector->isActive()) {
        m_collector->start();
    }
}

void TPulseMainLoop::Collect()
{
    auto sweep = [](auto& events) {
        auto dead = std::stable_partition(events.begin(), events.end(),
                                          [](const auto* e) { return !e->dead; });
        for (auto it = dead; it != events.end(); ++it) {
            delete *it;
        }
        events.erase(dead, events.end());
    };
    sweep(m_ios);
    sweep(m_times);
    sweep(m_defers);
}

bool TPulseMainLoop::RunUntil(const std::function<bool()>& done, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        if (done()) {
            return true;
        }
        const int left = MsUntil(deadline);
        Iterate(left);
        UpdateHold();
        if (done()) {
            return true;
        }
        if (left == 0) {
            return false;
        }
    }
}

bool TPulseMainLoop::DispatchDefers()
{
    // Events made or freed by a callback change the lists: work on copies and skip dead ones.
    const std::vector<pa_defer_event*> defers = m_defers;
    bool deferred = false;
    for (pa_defer_event* e : defers) {
        if (!e->dead && e->enabled) {
            e->callback(&m_api, e, e->userdata);
            deferred = true;
        }
    }
    return deferred;
}

void TPulseMainLoop::RunDeferred()
{
    if (DispatchDefers()) {
        UpdateHold();
    }
}

bool TPulseMainLoop::Iterate(int waitMs)
{
    int wait = DispatchDefers() ? 0 : waitMs;
    for (const pa_time_event* e : m_times) {
        if (!e->dead && e->enabled) {
            wait = std::min(wait, MsUntil(e->due));
        }
    }

    const std::vector<pa_io_event*> ios = m_ios;
    std::vector<pollfd> fds;
    std::vector<pa_io_event*> polled;
    for (pa_io_event* e : ios) {
        if (e->dead || e->events == PA_IO_EVENT_NULL) {
            continue;
        }
        short want = 0;
        if ((e->events & PA_IO_EVENT_INPUT) != 0) {
            want |= POLLIN;
        }
        if ((e->events & PA_IO_EVENT_OUTPUT) != 0) {
            want |= POLLOUT;
        }
        fds.push_back({e->fd, want, 0});
        polled.push_back(e);
    }
    int ready = ::poll(fds.data(), fds.size(), wait);
    if (ready < 0 && errno != EINTR) {
        ready = 0;
    }
    for (std::size_t i = 0; ready > 0 && i < fds.size(); ++i) {
        pa_io_event* e = polled[i];
        if (fds[i].revents == 0 || e->dead) {
            continue;
        }
        int flags = PA_IO_EVENT_NULL;
        if ((fds[i].revents & POLLIN) != 0) {
            flags |= PA_IO_EVENT_INPUT;
        }
        if ((fds[i].revents & POLLOUT) != 0) {
            flags |= PA_IO_EVENT_OUTPUT;
        }
        if ((fds[i].revents & POLLHUP) != 0) {
            flags |= PA_IO_EVENT_HANGUP;
        }
        if ((fds[i].revents & (POLLERR | POLLNVAL)) != 0) {
            flags |= PA_IO_EVENT_ERROR;
        }
        RunIo(e, static_cast<pa_io_event_flags_t>(flags));
    }

    const std::vector<pa_time_event*> times = m_times;
    const auto now = Clock::now();
    for (pa_time_event* e : times) {
        if (!e->dead && e->enabled && e->due <= now) {
            e->enabled = false;
            e->timer->stop();
            const struct timeval tv = e->tv;
            e->callback(&m_api, e, &tv, e->userdata);
        }
    }
    return ready > 0;
}

void TPulseMainLoop::RunPending()
{
    // Bounded, so that a server that never stops sending cannot hold the caller.
    constexpr int MaxPasses = 256;
    for (int pass = 0; pass < MaxPasses && Iterate(0); ++pass) {
    }
    UpdateHold();
}

} // namespace kavrel
