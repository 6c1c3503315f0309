// One connection to the sound server (PulseAudio, or PipeWire's PulseAudio
// service) on a mainloop thread of its own, shared by the streams opened
// while it lasts, and the waits on it that give up rather than hang.
#pragma once

#include <pulse/pulseaudio.h>

#include <mmsystem.h>

namespace port::pulse {

// How the program shows in a volume control.
extern const char kApplicationName[];
extern const char kApplicationId[];  // also the name of its icon

// Locks the mainloop unless the caller already runs on it.
class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop *loop);
    ~LoopLock();
    LoopLock(const LoopLock &) = delete;
    LoopLock &operator=(const LoopLock &) = delete;

private:
    pa_threaded_mainloop *loop_;
};

class Connection {
public:
    Connection() = default;
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // Connects, or fails, by `deadline` (pa_rtclock_now() time).
    MMRESULT Connect(pa_usec_t deadline);
    pa_threaded_mainloop *loop() const { return loop_; }
    pa_context *context() const { return context_; }

    // The rest is called with the mainloop locked.
    bool Usable() const { return !stale_ && pa_context_get_state(context_) == PA_CONTEXT_READY; }
    // The server stopped answering: later opens make a new connection.
    void MarkStale() { stale_ = true; }
    // Waits until `done()` or the deadline; answers `done()`.
    template <typename Done>
    bool WaitUntil(pa_usec_t deadline, Done done);

private:
    struct Deadline {
        pa_threaded_mainloop *loop;
        bool expired;
    };
    static void OnState(pa_context *, void *userdata);
    static void OnDeadline(pa_mainloop_api *, pa_time_event *, const struct timeval *, void *userdata);

    pa_threaded_mainloop *loop_ = nullptr;
    pa_context *context_ = nullptr;
    bool stale_ = false;
};

template <typename Done>
bool Connection::WaitUntil(pa_usec_t deadline, Done done)
{
    Deadline state{loop_, false};
    pa_time_event *timer = pa_context_rttime_new(context_, deadline, OnDeadline, &state);
    if (!timer)
        return done();
    while (!done() && !state.expired)
        pa_threaded_mainloop_wait(loop_);
    pa_threaded_mainloop_get_api(loop_)->time_free(timer);
    return done();
}

}  // namespace port::pulse
