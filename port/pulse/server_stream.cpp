// The server stream both directions share: properties, corked open, uncork
// or reconnect on start, cork and flush on stop.
#include "server_stream.h"

namespace port::pulse {

ServerStream::ServerStream(std::shared_ptr<Connection> connection, const char *name, bool corked)
    : connection_(std::move(connection)), name_(name), corked_(corked)
{
    connection_->Add(this);
}

ServerStream::~ServerStream()
{
    Detach();
    connection_->Remove(this);
}

MMRESULT ServerStream::Open(pa_usec_t deadline)
{
    stream_ = Connect(corked_);
    if (!stream_)
        return MMSYSERR_BADDEVICEID;
    connection_->WaitUntil(deadline, [this] {
        pa_stream_state_t s = pa_stream_get_state(stream_);
        return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s);
    });
    if (!Ready()) {
        Detach();
        return MMSYSERR_BADDEVICEID;
    }
    fresh_ = true;
    return MMSYSERR_NOERROR;
}

pa_stream *ServerStream::Connect(bool corked)
{
    pa_proplist *properties = ProgramProperties();
    pa_proplist_sets(properties, PA_PROP_MEDIA_NAME, name_);
    pa_stream *s = pa_stream_new_with_proplist(context(), name_, &kSpec, nullptr, properties);
    pa_proplist_free(properties);
    if (!s)
        return nullptr;
    // The device is the server's default, or what PULSE_SINK or
    // PULSE_SOURCE names: libpulse reads them when none is given.
    const int flags = PA_STREAM_ADJUST_LATENCY | (corked ? PA_STREAM_START_CORKED : 0);
    if (ConnectStream(s, static_cast<pa_stream_flags_t>(flags)) < 0) {
        ClearCallbacks(s);
        pa_stream_unref(s);
        return nullptr;
    }
    return s;
}

void ServerStream::ClearCallbacks(pa_stream *s)
{
    pa_stream_set_state_callback(s, nullptr, nullptr);
    pa_stream_set_read_callback(s, nullptr, nullptr);
    pa_stream_set_write_callback(s, nullptr, nullptr);
    pa_stream_set_underflow_callback(s, nullptr, nullptr);
    pa_stream_set_started_callback(s, nullptr, nullptr);
    pa_stream_set_latency_update_callback(s, nullptr, nullptr);
}

void ServerStream::Detach()
{
    failed_ = false;
    if (!stream_)
        return;
    ClearCallbacks(stream_);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)))
        pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
}

void ServerStream::Resume()
{
    if (fresh_) {
        fresh_ = false;
        if (Ready()) {
            if (corked_)
                Done(pa_stream_cork(stream_, 0, nullptr, nullptr));
            return;
        }
    }
    Detach();
    stream_ = Connect(false);  // a dead server leaves it null: no callbacks
}

bool ServerStream::Revive(pa_usec_t now)
{
    if (!Failed() || !connection_->Ready() || now < reviveAt_)
        return false;
    reviveAt_ = now + Connection::kRetryUs;
    Detach();
    stream_ = Connect(false);
    return true;
}

void ServerStream::Halt()
{
    fresh_ = false;
    if (Ready()) {
        Done(pa_stream_cork(stream_, 1, nullptr, nullptr));
        Done(pa_stream_flush(stream_, nullptr, nullptr));
    }
}

}  // namespace port::pulse
