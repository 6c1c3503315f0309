// The connection: a context named as the application, on the pump's loop,
// and the pump, the source that runs it inside the dialog thread's waits.
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

Connection::Connection()
{
    pumpFuncs.prepare = Prepare;
    pumpFuncs.check = Check;
    pumpFuncs.dispatch = Dispatch;
    pump_ = g_source_new(&pumpFuncs, sizeof(Pump));
    reinterpret_cast<Pump *>(pump_)->connection = this;
    g_source_set_name(pump_, "sound server");
    // GLib takes a source's polls out of its context while it dispatches it
    // and puts them back after, waking the context each time; the pump
    // never runs inside itself, so its polls may stay.
    g_source_set_can_recurse(pump_, TRUE);
    GMainContext *dialog = g_main_context_ref_thread_default();
    g_source_attach(pump_, dialog);
    g_main_context_unref(dialog);
    loop_ = new PumpLoop(pump_);
}

Connection::~Connection()
{
    DropContext();
    delete loop_;
    g_source_destroy(pump_);
    g_source_unref(pump_);
}

pa_proplist *ProgramProperties()
{
    pa_proplist *properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, kProgramName);
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, kProgramId);
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, kProgramId);
    return properties;
}

void Connection::DropContext()
{
    if (!context_)
        return;
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
}

void Connection::NewContext()
{
    DropContext();
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
    for (int i = 0; i < kMostMessages && loop_->RunOnce(0); i++) {
    }
    if (retryAt_ <= pa_rtclock_now())
        NewContext();
    // Every stream, due or not: what one heard may be what another waited
    // for (a played block goes back once capture has filled a block).
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

// The pump polls what libpulse asks, but what the server sends only while
// a stream awaits it: otherwise it lies waiting until the next wake reads
// it all. A hang-up or an error is reported all the same.
gboolean Connection::Prepare(GSource *source, gint *timeout)
{
    Connection *c = reinterpret_cast<Pump *>(source)->connection;
    const pa_usec_t now = pa_rtclock_now();
    c->loopDue_ = c->loop_->Prepare(c->Awaited(now));
    const pa_usec_t due = std::min(c->WakeTime(), c->loopDue_);
    c->askedBy_ = due;
    if (due <= now)
        *timeout = 0;
    else if (due == kNever)
        *timeout = -1;
    else
        *timeout = TimeoutMs(due - now);
    return due <= now;
}

gboolean Connection::Check(GSource *source)
{
    Connection *c = reinterpret_cast<Pump *>(source)->connection;
    return c->loop_->Polled() || std::min(c->WakeTime(), c->loopDue_) <= pa_rtclock_now();
}

gboolean Connection::Dispatch(GSource *source, GSourceFunc, gpointer)
{
    Connection *c = reinterpret_cast<Pump *>(source)->connection;
    // A message that ended a stream's wait wakes the streams as the wake
    // it was late for would have.
    bool awaited = c->Awaited(pa_rtclock_now());
    c->loop_->Dispatch();
    const pa_usec_t now = pa_rtclock_now();
    if (c->WakeTime() <= now || (awaited && !c->Awaited(now)))
        c->Wake();
    return G_SOURCE_CONTINUE;
}

}  // namespace port::pulse
