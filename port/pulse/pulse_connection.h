// One connection to the sound server (PulseAudio, or PipeWire's PulseAudio
// service), shared by the streams opened while it lasts.
//
// It runs on the dialog's thread, as everything in the layer does: libpulse
// on a main loop of the layer's own (PumpLoop), whose sockets and timers a
// source in the thread's default GLib context, the one Qt's event loop
// waits on, takes into its wait. So the server is heard from inside
// WindowBackend::WaitForEvents, between two of the dialog's messages, and
// its callbacks may post messages but never deliver one.
//
// What the server sends is not read as it comes but when a stream wants it:
// at the time the stream's next block is due (Waker::NextWake), all of it at
// once, and streams due close together are woken together. So the program
// wakes about once a block rather than once a message; what it asks of the
// server (writes, corks) still goes out at once.
#pragma once

#include <glib.h>
#include <pulse/pulseaudio.h>

#include <vector>

#include <mmsystem.h>

#include "pump_loop.h"
#include "tuning.h"

namespace port::pulse {

constexpr pa_usec_t kNever = UINT64_MAX;

// The program as the server shows it, for a context or a stream to take
// (the caller frees it).
pa_proplist *ProgramProperties();

// A stream on the connection, as the connection sees it.
class Waker {
public:
    // When it next wants the server's messages read and Woken called
    // (pa_rtclock_now() time), or kNever.
    virtual pa_usec_t NextWake() const = 0;
    // Whether it waits for the server's next message now: while one does,
    // the connection reads each as it comes.
    virtual bool Awaiting(pa_usec_t now) const = 0;
    // A wake, its own or another stream's: everything the server sent so
    // far has been read.
    virtual void Woken(pa_usec_t now) = 0;

protected:
    ~Waker() = default;
};

class Connection {
public:
    // On the dialog's thread, whose default GLib context must be iterated
    // for the connection to be heard from.
    Connection();
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // Connects, unless connected, or fails, by `deadline` (pa_rtclock_now() time).
    MMRESULT Connect(pa_usec_t deadline);
    pa_context *context() const { return context_; }
    pa_mainloop_api *api() const { return loop_->api(); }
    bool Ready() const { return context_ && pa_context_get_state(context_) == PA_CONTEXT_READY; }
    // Waits until `done()` or the deadline, hearing only the server meanwhile;
    // answers `done()`.
    template <typename Done>
    bool WaitUntil(pa_usec_t deadline, Done done);

    // The pump runs a block or more after it asked to: this process was
    // held up (stopped, or busy), and what the server sent meanwhile is
    // still being read.
    bool HeldUp(pa_usec_t now) const { return askedBy_ != kNever && now > askedBy_ + kBlockUs; }

    void Add(Waker *waker);
    void Remove(Waker *waker);

    // Streams due within this of the first one are woken with it, at the
    // latest of their times: a block's capture and its playback fall due
    // apart by the difference of the server's latencies, 10 to 60 ms on
    // the test rigs, and one wake serves both. Half a block: what waits
    // meanwhile lies in the socket, and playback still has a block queued.
    static constexpr pa_usec_t kMergeUs = kBlockUs / 2;
    // A server that went (restarted, crashed) is tried again this often
    // while streams are open, and each stream then opens again by itself.
    static constexpr pa_usec_t kRetryUs = 500 * PA_USEC_PER_MSEC;

private:
    struct Pump;
    static gboolean Prepare(GSource *source, gint *timeout);
    static gboolean Check(GSource *source);
    static gboolean Dispatch(GSource *source, GSourceFunc, gpointer);
    static void OnState(pa_context *c, void *userdata);

    // Drops the context there is and starts connecting a new one.
    void NewContext();
    void DropContext();
    // The next wake, with the streams due close to it merged in.
    pa_usec_t WakeTime() const;
    // Reads what the server sent, then wakes the streams.
    void Wake();
    bool Awaited(pa_usec_t now) const;

    PumpLoop *loop_ = nullptr;
    pa_context *context_ = nullptr;
    GSource *pump_ = nullptr;
    pa_usec_t retryAt_ = kNever;  // the server went: when to try again
    std::vector<Waker *> wakers_;

    pa_usec_t loopDue_ = kNever;  // the loop's timers or deferred work, as the pump last saw
    pa_usec_t askedBy_ = kNever;  // when the pump last asked to run
};

template <typename Done>
bool Connection::WaitUntil(pa_usec_t deadline, Done done)
{
    for (;;) {
        if (done())
            return true;
        const pa_usec_t now = pa_rtclock_now();
        if (now >= deadline)
            return done();
        loop_->RunOnce(deadline - now);
    }
}

}  // namespace port::pulse
