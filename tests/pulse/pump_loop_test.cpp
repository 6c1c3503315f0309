// The main loop libpulse runs on, driven as libpulse drives it: a socket
// whose event is freed and made again around each read, timers on either
// clock, deferred work, and the events freed.
#include "pump_loop.h"

#include <gtest/gtest.h>
#include <pulse/rtclock.h>
#include <pulse/timeval.h>
#include <unistd.h>

#include <algorithm>

namespace port::pulse {
namespace {

struct Seen {
    int reads = 0, timers = 0, deferred = 0, destroyed = 0;
    pa_io_event_flags_t flags = PA_IO_EVENT_NULL;
    pa_usec_t timerAt = 0;
};

// How many polls the dialog's wait would make.
int Polls(GMainContext *context)
{
    gint priority = 0, timeout = 0;
    GPollFD fds[8];
    g_main_context_prepare(context, &priority);
    const int n = g_main_context_query(context, priority, &timeout, fds, 8);
    g_main_context_check(context, priority, fds, std::min(n, 8));
    return n;
}

TEST(PumpLoop, RunsSocketsTimersAndDeferredWorkAsLibpulseDoes)
{
    static GSourceFuncs noFuncs = {};
    GMainContext *context = g_main_context_new();
    g_main_context_acquire(context);
    GSource *pump = g_source_new(&noFuncs, sizeof(GSource));
    g_source_attach(pump, context);
    Seen seen;
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    {
        PumpLoop loop(pump);
        pa_mainloop_api *api = loop.api();
        // A read frees the socket's event and makes a new one, as libpulse's
        // channels do; the poll stays, rather than leaving and coming back.
        static pa_io_event_cb_t onRead = [](pa_mainloop_api *a, pa_io_event *e, int fd,
                                            pa_io_event_flags_t flags, void *userdata) {
            auto *s = static_cast<Seen *>(userdata);
            char byte;
            EXPECT_EQ(read(fd, &byte, 1), 1);
            s->reads++;
            s->flags = flags;
            a->io_free(e);
            a->io_new(a, fd, PA_IO_EVENT_INPUT, onRead, s);
        };
        api->io_new(api, pipeFds[0], PA_IO_EVENT_INPUT, onRead, &seen);
        const int polls = Polls(context);

        EXPECT_EQ(loop.Prepare(false), UINT64_MAX) << "nothing due";
        g_main_context_iteration(context, FALSE);  // takes the wake-up of the first poll's coming
        ASSERT_EQ(write(pipeFds[1], "ab", 2), 2);
        EXPECT_TRUE(loop.RunOnce(0));
        EXPECT_TRUE(loop.RunOnce(0));
        EXPECT_FALSE(loop.RunOnce(0)) << "both bytes read, nothing left to run";
        EXPECT_EQ(seen.reads, 2);
        EXPECT_EQ(seen.flags, PA_IO_EVENT_INPUT);
        // The dialog's next wait is not cut short: its polls did not change.
        GSource *limit = g_timeout_source_new(50);
        g_source_set_callback(
            limit, [](gpointer) { return G_SOURCE_REMOVE; }, nullptr, nullptr);
        g_source_attach(limit, context);
        EXPECT_TRUE(g_main_context_iteration(context, TRUE)) << "woken before its time";
        g_source_destroy(limit);
        g_source_unref(limit);
        EXPECT_EQ(Polls(context), polls);

        // Input waits while nobody listens; the wait finds it once one does.
        ASSERT_EQ(write(pipeFds[1], "c", 1), 1);
        loop.Prepare(false);
        EXPECT_EQ(g_main_context_iteration(context, FALSE), FALSE);
        EXPECT_FALSE(loop.Polled());
        loop.Prepare(true);
        g_main_context_iteration(context, FALSE);
        EXPECT_TRUE(loop.Polled());
        EXPECT_TRUE(loop.Dispatch());
        EXPECT_EQ(seen.reads, 3);

        // A timer on the wall clock, due in 30 ms, runs then and not before.
        struct timeval at;
        pa_timeval_add(pa_gettimeofday(&at), 30 * PA_USEC_PER_MSEC);
        const pa_usec_t start = pa_rtclock_now();
        pa_time_event *timer = api->time_new(
            api, &at,
            [](pa_mainloop_api *, pa_time_event *, const struct timeval *, void *userdata) {
                static_cast<Seen *>(userdata)->timers++;
                static_cast<Seen *>(userdata)->timerAt = pa_rtclock_now();
            },
            &seen);
        api->time_set_destroy(timer, [](pa_mainloop_api *, pa_time_event *, void *userdata) {
            static_cast<Seen *>(userdata)->destroyed++;
        });
        EXPECT_FALSE(loop.RunOnce(0)) << "the timer is not due yet";
        const pa_usec_t due = loop.Prepare(true);
        EXPECT_GE(due, start + 25 * PA_USEC_PER_MSEC);
        EXPECT_LE(due, start + 35 * PA_USEC_PER_MSEC);
        while (seen.timers == 0 && pa_rtclock_now() < start + PA_USEC_PER_SEC)
            loop.RunOnce(100 * PA_USEC_PER_MSEC);
        EXPECT_EQ(seen.timers, 1);
        EXPECT_GE(seen.timerAt, due);
        EXPECT_EQ(loop.Prepare(true), UINT64_MAX) << "a timer runs once";

        // Deferred work is due at once until it is turned off.
        pa_defer_event *work = api->defer_new(
            api,
            [](pa_mainloop_api *, pa_defer_event *, void *userdata) {
                static_cast<Seen *>(userdata)->deferred++;
            },
            &seen);
        EXPECT_EQ(loop.Prepare(true), 0u);
        EXPECT_TRUE(loop.RunOnce(0));
        api->defer_enable(work, 0);
        EXPECT_EQ(loop.Prepare(true), UINT64_MAX);
        EXPECT_EQ(seen.deferred, 1);
        api->time_free(timer);
        api->defer_free(work);
        loop.RunOnce(0);
        EXPECT_EQ(seen.destroyed, 1);
    }
    EXPECT_EQ(Polls(context), 1) << "only the context's own wake-up left";
    close(pipeFds[0]);
    close(pipeFds[1]);
    g_source_destroy(pump);
    g_source_unref(pump);
    g_main_context_release(context);
    g_main_context_unref(context);
}

}  // namespace
}  // namespace port::pulse
