// The connection: a context named as the application, on libpulse's GLib
// adapter, and the source that runs it inside the dialog thread's waits.
#include "pulse_connection.h"

#include <pulse/rtclock.h>

#include <algorithm>

#include "identity.h"

namespace port::pulse {

struct Connection::Pump {
    GSource source;
    Connection *connection;
};

namespace {

GSourceFuncs pumpFuncs = {};

// A wake reads at most this many messages: a block's at 1 ms each, and more.
constexpr int kMostMessages = 1000;

// Milliseconds GLib waits for a wait of `us`, rounded up: a wake is never early.
gint TimeoutMs(pa_usec_t us)
{
    return (gint)std::min<pa_usec_t>((us + PA_USEC_PER_MSEC - 1) / PA_USEC_PER_MSEC, G_MAXINT);
}

}  // namespace

Connection::Connection() : own_(g_main_context_new())
{
    // The pump takes the own context's polls and timers into the dialog
    // thread's; this thread owns the own context for as long as it lives.
    g_main_context_acquire(own_);
    loop_ = pa_glib_mainloop_new(own_);
    pumpFuncs.prepare = Prepare;
    pumpFuncs.check = Check;
    pumpFuncs.dispatch = Dispatch;
    pump_ = g_source_new(&pumpFuncs, sizeof(Pump));
    reinterpret_cast<Pump *>(pump_)->connection = this;
    g_source_set_name(pump_, "sound server");
    GMainContext *dialog = g_main_context_ref_thread_default();
    g_source_attach(pump_, dialog);
    g_main_context_unref(dialog);
}

Connection::~Connection()
{
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    g_source_destroy(pump_);
    g_source_unref(pump_);
    pa_glib_mainloop_free(loop_);
    g_main_context_release(own_);
    g_main_context_unref(own_);
}

pa_proplist *ProgramProperties()
{
    pa_proplist *properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, kProgramName);
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, kProgramId);
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, kProgramId);
    return properties;
}

void Connection::NewContext()
{
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    retryAt_ = kNever;
    pa_proplist *properties = ProgramProperties();
    context_ = pa_context_new_with_proplist(api(), kProgramName, properties);
    pa_proplist_free(properties);
    if (!context_)
        return;
    pa_context_set_state_callback(context_, OnState, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        retryAt_ = pa_rtclock_now() + kRetryUs;
}

// A connection that fails or ends is tried again later, never from inside
// its own callback.
void Connection::OnState(pa_context *c, void *userdata)
{
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(c)))
        static_cast<Connection *>(userdata)->retryAt_ = pa_rtclock_now() + kRetryUs;
}

MMRESULT Connection::Connect(pa_usec_t deadline)
{
    if (!Ready())
        NewContext();
    // No server is what Windows calls no device.
    WaitUntil(deadline, [this] { return !context_ || Ready() || retryAt_ != kNever; });
    return Ready() ? MMSYSERR_NOERROR : MMSYSERR_BADDEVICEID;
}

void Connection::RunOwn(pa_usec_t timeoutUs)
{
    GSource *timer = g_timeout_source_new(TimeoutMs(timeoutUs));
    g_source_set_callback(
        timer, [](gpointer) { return G_SOURCE_REMOVE; }, nullptr, nullptr);
    g_source_attach(timer, own_);
    g_main_context_iteration(own_, TRUE);
    g_source_destroy(timer);
    g_source_unref(timer);
}

void Connection::Add(Waker *waker)
{
    wakers_.push_back(waker);
}

void Connection::Remove(Waker *waker)
{
    wakers_.erase(std::remove(wakers_.begin(), wakers_.end(), waker), wakers_.end());
}

pa_usec_t Connection::WakeTime() const
{
    pa_usec_t first = wakers_.empty() ? kNever : retryAt_;
    for (const Waker *waker : wakers_)
        first = std::min(first, waker->NextWake());
    if (first == kNever)
        return kNever;
    pa_usec_t wake = first;
    for (const Waker *waker : wakers_) {
        const pa_usec_t at = waker->NextWake();
        if (at != kNever && at <= first + kMergeUs)
            wake = std::max(wake, at);
    }
    return wake;
}

void Connection::Wake()
{
    // Everything the server has sent, each message's callbacks in turn; a
    // source that stayed ready for ever would not hold the dialog up.
    for (int i = 0; i < kMostMessages && g_main_context_iteration(own_, FALSE); i++) {
    }
    if (retryAt_ <= pa_rtclock_now())
        NewContext();
    // Every stream, due or not: what one heard may be what another waited
    // for (a played block goes back once capture has heard as far).
    const pa_usec_t now = pa_rtclock_now();
    const std::vector<Waker *> woken = wakers_;  // a woken stream ends no other's life
    for (Waker *waker : woken)
        waker->Woken(now);
}

bool Connection::Awaited(pa_usec_t now) const
{
    for (const Waker *waker : wakers_)
        if (waker->Awaiting(now))
            return true;
    return false;
}

void Connection::PrepareOwn(gint *timeout)
{
    ownReady_ = g_main_context_prepare(own_, &ownPriority_);
    ownChecked_ = false;
    gint n = g_main_context_query(own_, ownPriority_, timeout, ownFds_.data(), (gint)ownFds_.size());
    if (n > (gint)ownFds_.size()) {
        ownFds_.resize(n);
        n = g_main_context_query(own_, ownPriority_, timeout, ownFds_.data(), n);
    }
    ownFds_.resize(n);
}

void Connection::CheckOwn()
{
    if (ownChecked_)
        return;
    ownChecked_ = true;
    for (size_t i = 0; i < ownFds_.size() && i < polled_.size(); i++)
        ownFds_[i].revents = polled_[i].revents;
    ownReady_ = g_main_context_check(own_, ownPriority_, ownFds_.data(), (gint)ownFds_.size()) || ownReady_;
}

// The pump polls what the own context asks, but what the server sends
// only while a stream awaits it: otherwise it lies waiting until the next
// wake reads it all. A hang-up or an error is reported all the same.
gboolean Connection::Prepare(GSource *source, gint *timeout)
{
    Connection *c = reinterpret_cast<Pump *>(source)->connection;
    gint ownTimeout = -1;
    c->PrepareOwn(&ownTimeout);
    const pa_usec_t now = pa_rtclock_now();
    const bool listening = c->Awaited(now);

    bool same = c->polled_.size() == c->ownFds_.size();
    for (size_t i = 0; same && i < c->ownFds_.size(); i++)
        same = c->polled_[i].fd == c->ownFds_[i].fd;
    if (!same) {
        for (GPollFD &fd : c->polled_)
            g_source_remove_poll(source, &fd);
        c->polled_ = c->ownFds_;
        for (GPollFD &fd : c->polled_)
            g_source_add_poll(source, &fd);
    }
    for (size_t i = 0; i < c->ownFds_.size(); i++) {
        const gushort wanted = c->ownFds_[i].events;
        c->polled_[i].events = listening ? wanted : (gushort)(wanted & ~(G_IO_IN | G_IO_PRI));
        c->polled_[i].revents = 0;
    }

    const pa_usec_t wake = c->WakeTime();
    if (wake <= now)
        *timeout = 0;
    else if (wake == kNever)
        *timeout = ownTimeout;
    else
        *timeout = ownTimeout < 0 ? TimeoutMs(wake - now) : std::min(ownTimeout, TimeoutMs(wake - now));
    return c->ownReady_ || wake <= now;
}

gboolean Connection::Check(GSource *source)
{
    Connection *c = reinterpret_cast<Pump *>(source)->connection;
    c->CheckOwn();
    return c->ownReady_ || c->WakeTime() <= pa_rtclock_now();
}

gboolean Connection::Dispatch(GSource *source, GSourceFunc, gpointer)
{
    Connection *c = reinterpret_cast<Pump *>(source)->connection;
    // GLib skips the check of a source that was ready at once.
    c->CheckOwn();
    // A message that ended a stream's wait wakes the streams as the wake
    // it was late for would have.
    bool awaited = c->Awaited(pa_rtclock_now());
    if (c->ownReady_)
        g_main_context_dispatch(c->own_);
    const pa_usec_t now = pa_rtclock_now();
    if (c->WakeTime() <= now || (awaited && !c->Awaited(now)))
        c->Wake();
    return G_SOURCE_CONTINUE;
}

}  // namespace port::pulse
