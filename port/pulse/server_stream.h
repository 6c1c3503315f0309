// What a capture stream and a playback stream on the sound server share:
// the server stream itself, named for what it carries and marked as the
// application's, connected when the device is opened (so the device is
// checked and held, as an open wave device is) and used by the first run.
#pragma once

#include <memory>

#include <pulse/pulseaudio.h>

#include "audio_backend.h"
#include "pulse_connection.h"

namespace port::pulse {

class ServerStream : public AudioStream, public Waker {
public:
    // Connects and waits until the server has the stream ready, or fails by
    // `deadline`.
    MMRESULT Open(pa_usec_t deadline);

protected:
    // A stream that is `corked` until started: capture is; playback is not,
    // as uncorking it makes PulseAudio rewind the sink to mix it in at once,
    // and a sink's monitor loses the start of it. An open playback stream
    // with nothing written waits for data and plays nothing.
    ServerStream(std::shared_ptr<Connection> connection, const char *name, bool corked);
    ~ServerStream() override;

    // Connects `s` as a capture or playback stream with its buffer sizes
    // and callbacks; answers what pa_stream_connect_* answered.
    virtual int ConnectStream(pa_stream *s, pa_stream_flags_t flags) = 0;

    // Starts a run: the stream Open made is uncorked the first time; every
    // later run gets a fresh server stream, so that its position starts at
    // zero again. Does not wait for the server.
    void Resume();
    // Corks the stream and drops whatever it holds.
    void Halt();
    // A stream the server lost (it went, or dropped the stream) is opened
    // again on the same device, uncorked, once the connection is ready, at
    // most every Connection::kRetryUs; answers whether it was.
    bool Revive(pa_usec_t now);
    void Detach();
    // A stream the server refused a request on is failed, as one the server
    // dropped is: nothing more goes to it or comes from it this run.
    void Fail() { failed_ = true; }
    bool Failed() const { return failed_ || !stream_ || !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)); }
    bool Ready() const { return !failed_ && stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY; }
    pa_context *context() const { return connection_->context(); }
    static void Done(pa_operation *op)
    {
        if (op)
            pa_operation_unref(op);
    }

    // The program's 8-bit samples travel as 16-bit ones, what the server
    // mixes anyway (and PipeWire 0.3.65 pads an 8-bit underrun with zero
    // bytes, a click).
    static constexpr pa_sample_spec kSpec = {PA_SAMPLE_S16NE, kSampleRate, 1};
    static constexpr size_t kServerFrame = 2;

    std::shared_ptr<Connection> connection_;
    pa_stream *stream_ = nullptr;

private:
    pa_stream *Connect(bool corked);
    static void ClearCallbacks(pa_stream *s);

    const char *const name_;
    const bool corked_;
    bool fresh_ = false;  // connected by Open, never started
    bool failed_ = false;
    pa_usec_t reviveAt_ = 0;
};

}  // namespace port::pulse
