// libpulse's main-loop interface on the Qt event loop, without a sound server: events on a pipe,
// timers and defer events, freeing an event inside its own callback, and the bounded wait that
// runs libpulse's events only.

#include "audio/pulse/TPulseMainLoop.h"

#include <pulse/timeval.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/time.h>
#include <unistd.h>

#include <functional>

using kavrel::TPulseMainLoop;

namespace {

QCoreApplication& App()
{
    static int argc = 1;
    static char name[] = "test_audio_pulse";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Runs the Qt event loop until done() holds or timeoutMs passes.
bool SpinUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return done();
}

struct TPipe {
    TPipe() { EXPECT_EQ(::pipe(fds), 0); }
    ~TPipe()
    {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    void Put() { EXPECT_EQ(::write(fds[1], "x", 1), 1); }
    void Take()
    {
        char c;
        EXPECT_EQ(::read(fds[0], &c, 1), 1);
    }
    int fds[2] = {-1, -1};
};

struct TSeen {
    int calls = 0;
    bool freeInside = false;
    bool restartInside = false;
    TPipe* pipe = nullptr;
};

struct timeval In(int ms)
{
    struct timeval tv {};
    pa_gettimeofday(&tv);
    pa_timeval_add(&tv, static_cast<pa_usec_t>(ms) * 1000);
    return tv;
}

class PulseMainLoop : public ::testing::Test {
protected:
    void SetUp() override { App(); }
    TPulseMainLoop loop;
    pa_mainloop_api* api = loop.Api();
};

TEST_F(PulseMainLoop, IoEventFiresWhenReadableAndMayFreeItself)
{
    TPipe pipe;
    TSeen seen;
    seen.pipe = &pipe;
    seen.freeInside = true;
    api->io_new(
        api, pipe.fds[0], PA_IO_EVENT_INPUT,
        [](pa_mainloop_api* a, pa_io_event* e, int, pa_io_event_flags_t flags, void* data) {
            auto& s = *static_cast<TSeen*>(data);
            EXPECT_TRUE(flags & PA_IO_EVENT_INPUT);
            s.pipe->Take();
            if (++s.calls == 2 && s.freeInside) {
                a->io_free(e);
            }
        },
        &seen);
    SpinUntil([] { return false; }, 30);
    EXPECT_EQ(seen.calls, 0) << "fired without data";
    pipe.Put();
    ASSERT_TRUE(SpinUntil([&] { return seen.calls == 1; }, 1000));
    pipe.Put(); // through the bounded wait this time
    EXPECT_TRUE(loop.RunUntil([&] { return seen.calls == 2; }, 1000));
    EXPECT_EQ(loop.LiveEvents(), 0);
    pipe.Put();
    SpinUntil([] { return false; }, 50);
    EXPECT_EQ(seen.calls, 2) << "a freed event fired";
}

// What libpulse's socket channel does on each read: free its event inside the callback and ask
// for a new one on the same socket, or free it and close the socket.
struct TChurn {
    TPipe pipe;
    int calls = 0;
    bool closeOnFree = false;
    static void Fire(pa_mainloop_api* a, pa_io_event* e, int fd, pa_io_event_flags_t, void* data)
    {
        auto& c = *static_cast<TChurn*>(data);
        ++c.calls;
        c.pipe.Take();
        a->io_free(e);
        if (c.closeOnFree) {
            ::close(c.pipe.fds[0]);
            c.pipe.fds[0] = -1;
            return;
        }
        a->io_new(a, fd, PA_IO_EVENT_INPUT, &Fire, data);
    }
};

// The device holds the server's news between its ticks: held input wakes nobody, even on an event
// remade inside its callback as libpulse remakes its socket's, and RunPending then reads all of
// it, a piece per callback; released, the socket fires through the event loop again.
TEST_F(PulseMainLoop, HeldInputWaitsForRunPendingWhichReadsAllOfIt)
{
    TChurn reader;
    bool held = true;
    loop.SetInputHold([&] { return held; });
    api->io_new(api, reader.pipe.fds[0], PA_IO_EVENT_INPUT, &TChurn::Fire, &reader);
    for (int i = 0; i < 3; ++i) {
        reader.pipe.Put();
    }
    SpinUntil([] { return false; }, 50);
    EXPECT_EQ(reader.calls, 0) << "held input woke the loop";
    loop.RunPending();
    EXPECT_EQ(reader.calls, 3);
    reader.pipe.Put();
    SpinUntil([] { return false; }, 50);
    EXPECT_EQ(reader.calls, 3) << "the remade event is not held";
    held = false;
    loop.UpdateHold();
    EXPECT_TRUE(SpinUntil([&] { return reader.calls == 4; }, 1000));
    loop.SetInputHold(nullptr);
}

TEST_F(PulseMainLoop, IoEventRemadeInsideItsCallbackKeepsFiringAndAClosedOneStaysQuiet)
{
    TChurn churn;
    static int warnings = 0;
    warnings = 0;
    const QtMessageHandler before =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString&) {
            warnings += type == QtWarningMsg ? 1 : 0;
        });
    api->io_new(api, churn.pipe.fds[0], PA_IO_EVENT_INPUT, &TChurn::Fire, &churn);
    for (int round = 1; round <= 3; ++round) {
        churn.pipe.Put();
        ASSERT_TRUE(SpinUntil([&] { return churn.calls == round; }, 1000)) << round;
    }
    EXPECT_EQ(loop.LiveEvents(), 1);
    churn.closeOnFree = true;
    churn.pipe.Put();
    ASSERT_TRUE(SpinUntil([&] { return churn.calls == 4; }, 1000));
    SpinUntil([] { return false; }, 50);
    qInstallMessageHandler(before);
    EXPECT_EQ(churn.calls, 4);
    EXPECT_EQ(loop.LiveEvents(), 0);
    EXPECT_EQ(warnings, 0) << "a closed socket was still polled";
}

TEST_F(PulseMainLoop, TimeEventFiresOnceAtItsTimeAndMayRestart)
{
    for (bool bounded : {false, true}) {
        SCOPED_TRACE(bounded ? "bounded wait" : "event loop");
        TSeen seen;
        seen.restartInside = true;
        QElapsedTimer clock;
        clock.start();
        const struct timeval at = In(40);
        pa_time_event* e = api->time_new(
            api, &at,
            [](pa_mainloop_api* a, pa_time_event* ev, const struct timeval*, void* data) {
                auto& s = *static_cast<TSeen*>(data);
                if (++s.calls == 1 && s.restartInside) {
                    const struct timeval again = In(20);
                    a->time_restart(ev, &again);
                }
            },
            &seen);
        auto twice = [&] { return seen.calls >= 2; };
        ASSERT_TRUE(bounded ? loop.RunUntil(twice, 1000) : SpinUntil(twice, 1000));
        EXPECT_GE(clock.elapsed(), 55);
        SpinUntil([] { return false; }, 60);
        EXPECT_EQ(seen.calls, 2) << "a time event fired without being restarted";
        api->time_free(e);
    }
}

TEST_F(PulseMainLoop, DeferEventRunsEachPassWhileEnabled)
{
    TSeen seen;
    pa_defer_event* e = api->defer_new(
        api,
        [](pa_mainloop_api* a, pa_defer_event* ev, void* data) {
            if (++static_cast<TSeen*>(data)->calls == 3) {
                a->defer_enable(ev, 0);
            }
        },
        &seen);
    ASSERT_TRUE(SpinUntil([&] { return seen.calls == 3; }, 1000));
    SpinUntil([] { return false; }, 30);
    EXPECT_EQ(seen.calls, 3);
    api->defer_enable(e, 1);
    EXPECT_TRUE(loop.RunUntil([&] { return seen.calls == 4; }, 1000));
    api->defer_free(e);
    EXPECT_EQ(loop.LiveEvents(), 0);
}

TEST_F(PulseMainLoop, RunDeferredRunsWhatIsEnabledNowAndNothingElse)
{
    bool applicationRan = false;
    QTimer::singleShot(0, [&] { applicationRan = true; });
    TSeen seen;
    pa_defer_event* e = api->defer_new(
        api,
        [](pa_mainloop_api* a, pa_defer_event* ev, void* data) {
            ++static_cast<TSeen*>(data)->calls;
            a->defer_enable(ev, 0);
        },
        &seen);
    loop.RunDeferred();
    EXPECT_EQ(seen.calls, 1);
    EXPECT_FALSE(applicationRan);
    loop.RunDeferred();
    SpinUntil([&] { return applicationRan; }, 1000);
    EXPECT_EQ(seen.calls, 1) << "a defer event that turned itself off ran again";
    api->defer_free(e);
}

TEST_F(PulseMainLoop, BoundedWaitRunsNoApplicationEventAndEndsInTime)
{
    bool applicationRan = false;
    QTimer::singleShot(0, [&] { applicationRan = true; });
    TPipe pipe;
    TSeen seen;
    seen.pipe = &pipe;
    pa_io_event* e = api->io_new(
        api, pipe.fds[0], PA_IO_EVENT_INPUT,
        [](pa_mainloop_api*, pa_io_event*, int, pa_io_event_flags_t, void* data) {
            auto& s = *static_cast<TSeen*>(data);
            s.pipe->Take();
            ++s.calls;
        },
        &seen);
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(loop.RunUntil([] { return false; }, 100));
    EXPECT_GE(clock.elapsed(), 100);
    EXPECT_LT(clock.elapsed(), 1000);
    pipe.Put();
    EXPECT_TRUE(loop.RunUntil([&] { return seen.calls == 1; }, 1000));
    EXPECT_FALSE(applicationRan) << "the bounded wait ran an application event";
    api->io_free(e);
    SpinUntil([&] { return applicationRan; }, 1000);
    EXPECT_TRUE(applicationRan);
}

} // namespace
