// The connection: a context named as the application, on its own thread.
#include "pulse_connection.h"

namespace port::pulse {

const char kApplicationName[] = "Larkspan";
const char kApplicationId[] = "org.example.Larkspan";

LoopLock::LoopLock(pa_threaded_mainloop *loop) : loop_(pa_threaded_mainloop_in_thread(loop) ? nullptr : loop)
{
    if (loop_)
        pa_threaded_mainloop_lock(loop_);
}

LoopLock::~LoopLock()
{
    if (loop_)
        pa_threaded_mainloop_unlock(loop_);
}

void Connection::OnState(pa_context *, void *userdata)
{
    pa_threaded_mainloop_signal(static_cast<Connection *>(userdata)->loop_, 0);
}

void Connection::OnDeadline(pa_mainloop_api *, pa_time_event *, const struct timeval *, void *userdata)
{
    Deadline *deadline = static_cast<Deadline *>(userdata);
    deadline->expired = true;
    pa_threaded_mainloop_signal(deadline->loop, 0);
}

MMRESULT Connection::Connect(pa_usec_t deadline)
{
    loop_ = pa_threaded_mainloop_new();
    if (!loop_)
        return MMSYSERR_NOMEM;
    if (pa_threaded_mainloop_start(loop_) < 0)
        return MMSYSERR_ERROR;
    LoopLock lock(loop_);
    pa_proplist *properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, kApplicationName);
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, kApplicationId);
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, kApplicationId);
    context_ =
        pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), kApplicationName, properties);
    pa_proplist_free(properties);
    if (!context_)
        return MMSYSERR_NOMEM;
    pa_context_set_state_callback(context_, OnState, this);
    // No server is what Windows calls no device.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return MMSYSERR_BADDEVICEID;
    WaitUntil(deadline, [this] {
        pa_context_state_t s = pa_context_get_state(context_);
        return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
    });
    return pa_context_get_state(context_) == PA_CONTEXT_READY ? MMSYSERR_NOERROR : MMSYSERR_BADDEVICEID;
}

Connection::~Connection()
{
    if (!loop_)
        return;
    {
        LoopLock lock(loop_);
        if (context_) {
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
            pa_context_unref(context_);
        }
    }
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
}

}  // namespace port::pulse
