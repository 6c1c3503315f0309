// libpulse's main-loop API on the pump: sockets, timers and deferred work.
#include "pump_loop.h"

#include <pulse/rtclock.h>
#include <pulse/timeval.h>

#include <algorithm>

namespace port::pulse {

namespace {

enum Kind { kIo, kTimer, kDefer };

constexpr pa_usec_t kNoTime = UINT64_MAX;

// libpulse marks a timeval that holds monotonic time, not the wall
// clock's, with this bit in its microseconds.
constexpr suseconds_t kMonotonicMark = 1 << 30;

pa_usec_t MonotonicTime(const struct timeval *tv)
{
    if (tv == nullptr)
        return kNoTime;
    if (tv->tv_usec & kMonotonicMark) {
        struct timeval plain = *tv;
        plain.tv_usec &= ~kMonotonicMark;
        return pa_timeval_load(&plain);
    }
    struct timeval wall;
    pa_gettimeofday(&wall);
    const int64_t ahead = (int64_t)pa_timeval_load(tv) - (int64_t)pa_timeval_load(&wall);
    const int64_t now = (int64_t)pa_rtclock_now();
    return (pa_usec_t)std::max<int64_t>(0, now + ahead);
}

gushort PollEvents(pa_io_event_flags_t flags)
{
    return (gushort)((flags & PA_IO_EVENT_INPUT ? G_IO_IN : 0) | (flags & PA_IO_EVENT_OUTPUT ? G_IO_OUT : 0));
}

pa_io_event_flags_t IoFlags(gushort revents)
{
    return (pa_io_event_flags_t)((revents & G_IO_IN ? PA_IO_EVENT_INPUT : 0) |
                                 (revents & G_IO_OUT ? PA_IO_EVENT_OUTPUT : 0) |
                                 (revents & G_IO_HUP ? PA_IO_EVENT_HANGUP : 0) |
                                 (revents & (G_IO_ERR | G_IO_NVAL) ? PA_IO_EVENT_ERROR : 0));
}

}  // namespace

struct PumpLoop::Event {
    PumpLoop *loop;
    Kind kind;
    void *userdata;
    bool dead = false;
    GPollFD *poll = nullptr;                       // a socket: its poll on the pump,
    pa_io_event_flags_t wants = PA_IO_EVENT_NULL;  // and what libpulse waits for
    pa_usec_t at = kNoTime;                        // a timer: when
    bool enabled = false;                          // deferred work: whether it waits
    pa_io_event_cb_t onIo = nullptr;
    pa_time_event_cb_t onTime = nullptr;
    pa_defer_event_cb_t onDefer = nullptr;
    pa_io_event_destroy_cb_t ioDestroy = nullptr;
    pa_time_event_destroy_cb_t timeDestroy = nullptr;
    pa_defer_event_destroy_cb_t deferDestroy = nullptr;
};

// The API's functions: libpulse's opaque events are the loop's.
namespace {

PumpLoop::Event *Of(void *e)
{
    return static_cast<PumpLoop::Event *>(e);
}

}  // namespace

PumpLoop::Event *PumpLoop::New(int kind, void *userdata)
{
    auto *e = new Event{this, (Kind)kind, userdata};
    events_.push_back(e);
    return e;
}

PumpLoop::PumpLoop(GSource *pump) : pump_(pump), api_()
{
    api_.userdata = this;
    api_.io_new = [](pa_mainloop_api *a, int fd, pa_io_event_flags_t flags, pa_io_event_cb_t cb,
                     void *userdata) {
        PumpLoop *loop = static_cast<PumpLoop *>(a->userdata);
        Event *e = loop->New(kIo, userdata);
        e->onIo = cb;
        e->wants = flags;
        e->poll = loop->Slot(fd);
        return reinterpret_cast<pa_io_event *>(e);
    };
    api_.io_enable = [](pa_io_event *e, pa_io_event_flags_t flags) { Of(e)->wants = flags; };
    api_.io_free = [](pa_io_event *e) {
        Of(e)->loop->Release(Of(e)->poll);
        Of(e)->dead = true;
    };
    api_.io_set_destroy = [](pa_io_event *e, pa_io_event_destroy_cb_t cb) { Of(e)->ioDestroy = cb; };
    api_.time_new = [](pa_mainloop_api *a, const struct timeval *tv, pa_time_event_cb_t cb, void *userdata) {
        Event *e = static_cast<PumpLoop *>(a->userdata)->New(kTimer, userdata);
        e->onTime = cb;
        e->at = MonotonicTime(tv);
        return reinterpret_cast<pa_time_event *>(e);
    };
    api_.time_restart = [](pa_time_event *e, const struct timeval *tv) { Of(e)->at = MonotonicTime(tv); };
    api_.time_free = [](pa_time_event *e) { Of(e)->dead = true; };
    api_.time_set_destroy = [](pa_time_event *e, pa_time_event_destroy_cb_t cb) { Of(e)->timeDestroy = cb; };
    api_.defer_new = [](pa_mainloop_api *a, pa_defer_event_cb_t cb, void *userdata) {
        Event *e = static_cast<PumpLoop *>(a->userdata)->New(kDefer, userdata);
        e->onDefer = cb;
        e->enabled = true;
        return reinterpret_cast<pa_defer_event *>(e);
    };
    api_.defer_enable = [](pa_defer_event *e, int enabled) { Of(e)->enabled = enabled != 0; };
    api_.defer_free = [](pa_defer_event *e) { Of(e)->dead = true; };
    api_.defer_set_destroy = [](pa_defer_event *e, pa_defer_event_destroy_cb_t cb) {
        Of(e)->deferDestroy = cb;
    };
    api_.quit = [](pa_mainloop_api *, int) {};
}

PumpLoop::~PumpLoop()
{
    for (Event *e : events_)
        e->dead = true;
    Sweep();
    for (SocketPoll &slot : slots_)
        slot.used = false;
    DropUnused();
}

// libpulse frees a socket's event and makes a new one around each read.
// GLib wakes its context whenever a poll is added or removed, and keeps
// its polls in the order of their fds: a socket's poll stays on the pump
// while the socket is in use, to be taken again by the next event.
GPollFD *PumpLoop::Slot(int fd)
{
    for (SocketPoll &slot : slots_) {
        if (slot.poll->fd == fd && !slot.used) {
            slot.used = true;
            return slot.poll;
        }
    }
    auto *poll = new GPollFD{fd, 0, 0};
    g_source_add_poll(pump_, poll);
    slots_.push_back({poll, true});
    return poll;
}

void PumpLoop::Release(GPollFD *poll)
{
    poll->events = poll->revents = 0;
    for (SocketPoll &slot : slots_)
        if (slot.poll == poll)
            slot.used = false;
}

// Polls no event took again: their sockets are closed, or soon will be.
void PumpLoop::DropUnused()
{
    for (auto it = slots_.begin(); it != slots_.end();) {
        if (it->used) {
            ++it;
            continue;
        }
        g_source_remove_poll(pump_, it->poll);
        delete it->poll;
        it = slots_.erase(it);
    }
}

// Events freed while they ran go once nothing runs.
void PumpLoop::Sweep()
{
    if (dispatching_ || std::none_of(events_.begin(), events_.end(), [](Event *e) { return e->dead; }))
        return;
    auto dead = std::stable_partition(events_.begin(), events_.end(), [](Event *e) { return !e->dead; });
    std::vector<Event *> gone(dead, events_.end());
    events_.erase(dead, events_.end());
    for (Event *e : gone) {
        if (e->kind == kIo && e->ioDestroy)
            e->ioDestroy(&api_, reinterpret_cast<pa_io_event *>(e), e->userdata);
        if (e->kind == kTimer && e->timeDestroy)
            e->timeDestroy(&api_, reinterpret_cast<pa_time_event *>(e), e->userdata);
        if (e->kind == kDefer && e->deferDestroy)
            e->deferDestroy(&api_, reinterpret_cast<pa_defer_event *>(e), e->userdata);
        delete e;
    }
}

pa_usec_t PumpLoop::Prepare(bool listening)
{
    DropUnused();
    pa_usec_t due = kNoTime;
    for (Event *e : events_) {
        if (e->dead)
            continue;
        if (e->kind == kIo) {
            const pa_io_event_flags_t wants =
                listening ? e->wants : (pa_io_event_flags_t)(e->wants & ~PA_IO_EVENT_INPUT);
            e->poll->events = PollEvents(wants);
            e->poll->revents = 0;
        } else if (e->kind == kTimer) {
            due = std::min(due, e->at);
        } else if (e->enabled) {
            due = 0;
        }
    }
    return due;
}

bool PumpLoop::Polled() const
{
    for (const Event *e : events_)
        if (!e->dead && e->kind == kIo && e->poll->revents != 0)
            return true;
    return false;
}

bool PumpLoop::Dispatch()
{
    bool ran = false;
    dispatching_ = true;
    // By index: a callback may add events, which wait for the next pass.
    const size_t count = events_.size();
    for (size_t i = 0; i < count; i++) {
        Event *e = events_[i];
        if (e->dead)
            continue;
        if (e->kind == kIo) {
            const gushort revents = e->poll->revents & (e->poll->events | G_IO_HUP | G_IO_ERR | G_IO_NVAL);
            e->poll->revents = 0;
            if (revents != 0) {
                e->onIo(&api_, reinterpret_cast<pa_io_event *>(e), e->poll->fd, IoFlags(revents),
                        e->userdata);
                ran = true;
            }
        } else if (e->kind == kTimer) {
            if (e->at != kNoTime && e->at <= pa_rtclock_now()) {
                struct timeval tv;
                pa_timeval_store(&tv, e->at);
                tv.tv_usec |= kMonotonicMark;
                e->at = kNoTime;
                e->onTime(&api_, reinterpret_cast<pa_time_event *>(e), &tv, e->userdata);
                ran = true;
            }
        } else if (e->enabled) {
            e->onDefer(&api_, reinterpret_cast<pa_defer_event *>(e), e->userdata);
            ran = true;
        }
    }
    dispatching_ = false;
    Sweep();
    return ran;
}

bool PumpLoop::RunOnce(pa_usec_t timeoutUs)
{
    pa_usec_t due = Prepare(true);
    // Kept from call to call: a wake polls once for each message.
    polling_.clear();
    polled_.clear();
    for (Event *e : events_) {
        if (!e->dead && e->kind == kIo) {
            polling_.push_back(*e->poll);
            polled_.push_back(e);
        }
    }
    const pa_usec_t now = pa_rtclock_now();
    pa_usec_t wait = due <= now ? 0 : std::min(timeoutUs, due - now);
    const int ms = (int)std::min<pa_usec_t>((wait + PA_USEC_PER_MSEC - 1) / PA_USEC_PER_MSEC, INT32_MAX);
    if (!polling_.empty() || ms > 0) {
        if (g_poll(polling_.data(), polling_.size(), ms) > 0) {
            for (size_t i = 0; i < polling_.size(); i++)
                polled_[i]->poll->revents = polling_[i].revents;
        }
    }
    return Dispatch();
}

}  // namespace port::pulse
