// libpulse's main-loop API, run by the connection's pump in the dialog
// thread's GLib context: the server's sockets are the pump's polls, its
// timers and deferred work the pump's timeout.
//
// libpulse turns a socket's poll off and on around each read. Its own loop
// and its GLib adapter both wake themselves for that (a write to a pipe or
// an eventfd, and a read to clear it), which for a block's dozen messages
// was most of the program's system calls. Here a change of what a socket
// waits for is only noted: GLib reads a poll's events when it next waits.
#pragma once

#include <glib.h>
#include <pulse/mainloop-api.h>
#include <pulse/sample.h>

#include <vector>

namespace port::pulse {

class PumpLoop {
public:
    // `pump`: the source whose polls the sockets become.
    explicit PumpLoop(GSource *pump);
    ~PumpLoop();
    PumpLoop(const PumpLoop &) = delete;
    PumpLoop &operator=(const PumpLoop &) = delete;

    pa_mainloop_api *api() { return &api_; }

    // A socket, a timer or deferred work, as libpulse holds it.
    struct Event;

    // Before the dialog's wait: what each socket waits for (input only when
    // `listening`; a hang-up or an error is reported all the same), and
    // when a timer or deferred work falls due (0: at once; UINT64_MAX: never).
    pa_usec_t Prepare(bool listening);
    // After it: whether a socket is ready.
    bool Polled() const;
    // Runs what the wait found ready, the timers due and the deferred work;
    // answers whether anything ran.
    bool Dispatch();
    // Polls the sockets for up to `timeoutUs` (0: not at all) and runs what
    // is ready; answers whether anything ran.
    bool RunOnce(pa_usec_t timeoutUs);

private:
    Event *New(int kind, void *userdata);
    GPollFD *Slot(int fd);
    void Release(GPollFD *poll);
    void DropUnused();
    void Sweep();

    GSource *const pump_;
    pa_mainloop_api api_;
    std::vector<Event *> events_;
    struct SocketPoll {
        GPollFD *poll;
        bool used;  // by a live socket's event
    };
    std::vector<SocketPoll> slots_;  // the pump's polls
    bool dispatching_ = false;
    std::vector<GPollFD> polling_;  // RunOnce's poll of the sockets,
    std::vector<Event *> polled_;   // and their events
};

}  // namespace port::pulse
