// Capture and playback streams on the sound server: 8-bit blocks carried as
// 16-bit samples, a reset that interrupts any wait, and opens that give up
// rather than hang.
#include "pulse_audio.h"

#include <string.h>

#include <algorithm>
#include <vector>

#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

namespace port {
namespace pulse_detail {

namespace {

// An open answers within this, whether the server answers or not: a stopped
// server would otherwise keep a client waiting for 30 s.
constexpr pa_usec_t kOpenTimeout = 3 * PA_USEC_PER_SEC;
// Capture arrives in fragments this long; a block is seen complete at most
// one fragment after its last sample was recorded. Each fragment wakes this
// process, so they are not made shorter than the lead below needs.
constexpr pa_usec_t kCaptureFragment = 25 * PA_USEC_PER_MSEC;
// Playback keeps up to this much in the server (half of it in the sink) and
// is asked for more every kPlaybackRequest. It is more than the program ever
// has queued (two 2048-byte blocks at 11025 Hz and the lead), so its queue
// goes to the server as it is written and plays on while this process is
// held up, as the blocks a device holds do; a reset flushes it.
constexpr pa_usec_t kPlaybackTarget = 500 * PA_USEC_PER_MSEC;
constexpr pa_usec_t kPlaybackRequest = 25 * PA_USEC_PER_MSEC;
// Playback opens with this much silence. Capture and playback start together
// and run on one clock, so without it every playback block would end within
// a few ms of a capture block, and the program, which refills a played block
// with the latest captured one, would repeat or skip a block whenever the two
// swapped order. This puts the ends half a 2048-byte block (at 11025 Hz)
// apart.
constexpr pa_usec_t kPlaybackLead = 90 * PA_USEC_PER_MSEC;
// A running playback stream reports its play position whenever the server
// asks for more, every kPlaybackRequest while it plays. When the server has
// not asked for this long (at the start, or the queue ran dry) a timer does
// it instead, and asks the queue again.
constexpr pa_usec_t kPlayedInterval = kPlaybackRequest + 10 * PA_USEC_PER_MSEC;

// Locks the mainloop unless the caller already runs on it.
class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop *loop)
        : loop_(pa_threaded_mainloop_in_thread(loop) ? nullptr : loop)
    {
        if (loop_)
            pa_threaded_mainloop_lock(loop_);
    }
    ~LoopLock()
    {
        if (loop_)
            pa_threaded_mainloop_unlock(loop_);
    }
    LoopLock(const LoopLock &) = delete;
    LoopLock &operator=(const LoopLock &) = delete;

private:
    pa_threaded_mainloop *loop_;
};

struct Deadline {
    pa_threaded_mainloop *loop;
    bool expired;
};

void OnDeadline(pa_mainloop_api *, pa_time_event *, const struct timeval *, void *userdata)
{
    Deadline *deadline = static_cast<Deadline *>(userdata);
    deadline->expired = true;
    pa_threaded_mainloop_signal(deadline->loop, 0);
}

bool ValidFormat(const WAVEFORMATEX &f)
{
    if (f.wFormatTag != WAVE_FORMAT_PCM)
        return false;
    if (f.nChannels < 1 || f.nChannels > 2)
        return false;
    if (f.wBitsPerSample != 8 && f.wBitsPerSample != 16)
        return false;
    if (f.nSamplesPerSec < 1 || f.nSamplesPerSec > PA_RATE_MAX)
        return false;
    const unsigned align = f.nChannels * f.wBitsPerSample / 8;
    return f.nBlockAlign == align && f.nAvgBytesPerSec == f.nSamplesPerSec * align;
}

}  // namespace

// One context on its own mainloop thread, shared by the streams opened while
// it is connected.
class Connection {
public:
    Connection() = default;
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

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
    static void OnState(pa_context *, void *userdata);

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

void Connection::OnState(pa_context *, void *userdata)
{
    pa_threaded_mainloop_signal(static_cast<Connection *>(userdata)->loop_, 0);
}

MMRESULT Connection::Connect(pa_usec_t deadline)
{
    loop_ = pa_threaded_mainloop_new();
    if (!loop_)
        return MMSYSERR_NOMEM;
    if (pa_threaded_mainloop_start(loop_) < 0)
        return MMSYSERR_ERROR;
    LoopLock lock(loop_);
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Larkspan");
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

// A capture or playback stream. The first capture run uncorks the stream
// Open made; every other run gets a fresh server stream, so that its clock,
// and with it Played, starts at zero.
class Stream final : public AudioStream {
public:
    Stream(std::shared_ptr<Connection> connection, const WAVEFORMATEX &format, CaptureSink *sink,
           PlaybackSource *source);
    ~Stream() override;

    MMRESULT Open(pa_usec_t deadline);
    void Start() override;
    void Stop() override;

private:
    bool playback() const { return source_ != nullptr; }
    bool Ready() const { return stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY; }
    pa_context *context() const { return connection_->context(); }

    // With the mainloop locked.
    pa_stream *Connect(bool corked);
    void Detach();
    void StopTicks();
    void Deliver(const void *data, size_t bytes);
    void Fill();
    void ReportPlayed();

    static void OnState(pa_stream *s, void *userdata);
    static void OnRead(pa_stream *s, size_t bytes, void *userdata);
    static void OnWrite(pa_stream *s, size_t bytes, void *userdata);
    static void OnUnderflow(pa_stream *s, void *userdata);
    static void OnTick(pa_mainloop_api *, pa_time_event *, const struct timeval *, void *userdata);

    std::shared_ptr<Connection> connection_;
    CaptureSink *const sink_;
    PlaybackSource *const source_;
    pa_sample_spec spec_;   // what the server carries: 16-bit signed
    const bool eight_bit_;  // what the program opened
    const size_t user_frame_;
    const size_t server_frame_;

    pa_stream *stream_ = nullptr;
    bool unused_ = false;  // connected corked by Open, not started yet
    bool running_ = false;
    pa_time_event *tick_ = nullptr;
    uint64_t taken_ = 0;
    uint64_t lead_frames_ = 0;  // silence ahead of the run's data
    bool lead_written_ = false;
    uint64_t played_ = 0;
    // Everything up to drained_frames_ has been played by drained_at_.
    uint64_t drained_frames_ = 0;
    pa_usec_t drained_at_ = 0;
    uint8_t carry_[4];  // a partial frame from Take
    size_t carry_bytes_ = 0;
    std::vector<uint8_t> user_buffer_;
    std::vector<int16_t> server_buffer_;
};

Stream::Stream(std::shared_ptr<Connection> connection, const WAVEFORMATEX &format, CaptureSink *sink,
               PlaybackSource *source)
    : connection_(std::move(connection)),
      sink_(sink),
      source_(source),
      eight_bit_(format.wBitsPerSample == 8),
      user_frame_(format.nBlockAlign),
      server_frame_(2u * format.nChannels)
{
    spec_.format = PA_SAMPLE_S16NE;
    spec_.rate = format.nSamplesPerSec;
    spec_.channels = static_cast<uint8_t>(format.nChannels);
}

Stream::~Stream()
{
    {
        LoopLock lock(connection_->loop());
        running_ = false;
        StopTicks();
        Detach();
    }
    // The last stream of a connection takes the connection down with it.
    connection_.reset();
}

MMRESULT Stream::Open(pa_usec_t deadline)
{
    LoopLock lock(connection_->loop());
    stream_ = Connect(true);
    if (!stream_)
        return MMSYSERR_BADDEVICEID;
    bool settled = connection_->WaitUntil(deadline, [this] {
        pa_stream_state_t s = pa_stream_get_state(stream_);
        return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s);
    });
    if (!settled)
        connection_->MarkStale();
    if (!Ready()) {
        Detach();
        return MMSYSERR_BADDEVICEID;
    }
    unused_ = true;
    return MMSYSERR_NOERROR;
}

pa_stream *Stream::Connect(bool corked)
{
    pa_stream *s = pa_stream_new(context(), playback() ? "Playback" : "Capture", &spec_, nullptr);
    if (!s)
        return nullptr;
    pa_stream_set_state_callback(s, OnState, this);
    pa_buffer_attr attr;
    memset(&attr, 0xff, sizeof attr);
    int flags = PA_STREAM_ADJUST_LATENCY | (corked ? PA_STREAM_START_CORKED : 0);
    int result;
    if (playback()) {
        attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(kPlaybackTarget, &spec_));
        attr.minreq = static_cast<uint32_t>(pa_usec_to_bytes(kPlaybackRequest, &spec_));
        // Start on the first frame: a short last block must play too, and
        // Windows plays whatever is queued.
        attr.prebuf = static_cast<uint32_t>(server_frame_);
        flags |= PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE;
        pa_stream_set_write_callback(s, OnWrite, this);
        pa_stream_set_underflow_callback(s, OnUnderflow, this);
        result = pa_stream_connect_playback(s, nullptr, &attr, static_cast<pa_stream_flags_t>(flags), nullptr,
                                            nullptr);
    } else {
        attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(kCaptureFragment, &spec_));
        pa_stream_set_read_callback(s, OnRead, this);
        result = pa_stream_connect_record(s, nullptr, &attr, static_cast<pa_stream_flags_t>(flags));
    }
    if (result < 0) {
        pa_stream_set_state_callback(s, nullptr, nullptr);
        pa_stream_set_read_callback(s, nullptr, nullptr);
        pa_stream_set_write_callback(s, nullptr, nullptr);
        pa_stream_set_underflow_callback(s, nullptr, nullptr);
        pa_stream_unref(s);
        return nullptr;
    }
    return s;
}

void Stream::Detach()
{
    if (!stream_)
        return;
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)))
        pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
}

void Stream::StopTicks()
{
    if (tick_) {
        pa_threaded_mainloop_get_api(connection_->loop())->time_free(tick_);
        tick_ = nullptr;
    }
}

void Stream::Start()
{
    LoopLock lock(connection_->loop());
    if (running_)
        return;
    // A playback stream's clock runs ahead for a while after an uncork, so
    // playback always starts on a fresh stream; the one from Open only held
    // the device until now.
    if (unused_ && !playback()) {
        if (Ready()) {
            pa_operation *op = pa_stream_cork(stream_, 0, nullptr, nullptr);
            if (op)
                pa_operation_unref(op);
        }
    } else {
        Detach();
        stream_ = Connect(false);  // a dead server leaves it null: no callbacks
    }
    unused_ = false;
    running_ = true;
    taken_ = 0;
    played_ = 0;
    drained_frames_ = 0;
    drained_at_ = 0;
    lead_written_ = false;
    carry_bytes_ = 0;
    // Playback takes its first data on the mainloop thread, never in here.
    if (playback() && stream_)
        tick_ = pa_context_rttime_new(context(), pa_rtclock_now(), OnTick, this);
}

void Stream::Stop()
{
    LoopLock lock(connection_->loop());
    if (!running_)
        return;
    running_ = false;
    StopTicks();
    if (Ready()) {
        pa_operation *op = pa_stream_cork(stream_, 1, nullptr, nullptr);
        if (op)
            pa_operation_unref(op);
        op = pa_stream_flush(stream_, nullptr, nullptr);
        if (op)
            pa_operation_unref(op);
    }
}

void Stream::OnState(pa_stream *s, void *userdata)
{
    Stream *self = static_cast<Stream *>(userdata);
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(s)))
        self->StopTicks();
    pa_threaded_mainloop_signal(self->connection_->loop(), 0);
}

void Stream::OnRead(pa_stream *s, size_t, void *userdata)
{
    Stream *self = static_cast<Stream *>(userdata);
    for (;;) {
        const void *data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(s, &data, &bytes) < 0 || bytes == 0)
            return;
        // Data still in flight when the run was stopped is dropped unseen.
        if (self->running_)
            self->Deliver(data, bytes);
        pa_stream_drop(s);
    }
}

// `data` is null for a hole in the recording, which is delivered as silence.
void Stream::Deliver(const void *data, size_t bytes)
{
    const size_t samples = bytes / 2;
    if (!eight_bit_) {
        if (data) {
            sink_->Captured(static_cast<const uint8_t *>(data), samples * 2);
            return;
        }
        user_buffer_.assign(samples * 2, 0);
    } else {
        user_buffer_.resize(samples);
        if (data) {
            const int16_t *in = static_cast<const int16_t *>(data);
            for (size_t i = 0; i < samples; ++i)
                user_buffer_[i] = static_cast<uint8_t>((in[i] >> 8) + 128);
        } else {
            std::fill(user_buffer_.begin(), user_buffer_.end(), 0x80);
        }
    }
    sink_->Captured(user_buffer_.data(), user_buffer_.size());
}

void Stream::OnWrite(pa_stream *, size_t, void *userdata)
{
    Stream *self = static_cast<Stream *>(userdata);
    self->ReportPlayed();
    self->Fill();
    // The server is asking: the timer is not needed until it stops.
    if (self->tick_)
        pa_context_rttime_restart(self->context(), self->tick_, pa_rtclock_now() + kPlayedInterval);
}

// The stream clock stays one sink latency short of the end of what was
// written, so the end of the data is known from the underflow instead: all of
// it has been played one sink latency after the server ran dry.
void Stream::OnUnderflow(pa_stream *s, void *userdata)
{
    Stream *self = static_cast<Stream *>(userdata);
    const int64_t index = pa_stream_get_underflow_index(s);
    if (!self->running_ || index < 0)
        return;
    const pa_timing_info *timing = pa_stream_get_timing_info(s);
    self->drained_frames_ = static_cast<uint64_t>(index) / self->server_frame_;
    self->drained_at_ = pa_rtclock_now() + (timing ? timing->sink_usec : 0);
}

void Stream::OnTick(pa_mainloop_api *, pa_time_event *, const struct timeval *, void *userdata)
{
    Stream *self = static_cast<Stream *>(userdata);
    if (!self->running_ || !self->stream_ || !PA_STREAM_IS_GOOD(pa_stream_get_state(self->stream_))) {
        self->StopTicks();
        return;
    }
    self->ReportPlayed();
    // A queue that ran dry is asked again here; the server will not ask.
    self->Fill();
    if (self->tick_)
        pa_context_rttime_restart(self->context(), self->tick_, pa_rtclock_now() + kPlayedInterval);
}

void Stream::Fill()
{
    if (!running_ || !Ready())
        return;
    if (!lead_written_) {
        lead_frames_ = pa_usec_to_bytes(kPlaybackLead, &spec_) / server_frame_;
        server_buffer_.assign(lead_frames_ * spec_.channels, 0);
        pa_stream_write(stream_, server_buffer_.data(), server_buffer_.size() * 2, nullptr, 0,
                        PA_SEEK_RELATIVE);
        lead_written_ = true;
    }
    const size_t writable = pa_stream_writable_size(stream_);
    if (writable == static_cast<size_t>(-1) || writable < server_frame_)
        return;
    const size_t frames = writable / server_frame_;
    user_buffer_.resize(frames * user_frame_);
    memcpy(user_buffer_.data(), carry_, carry_bytes_);
    const size_t got = source_->Take(user_buffer_.data() + carry_bytes_, user_buffer_.size() - carry_bytes_);
    taken_ += got;
    const size_t have = carry_bytes_ + got;
    const size_t whole = have / user_frame_;
    carry_bytes_ = have % user_frame_;
    memcpy(carry_, user_buffer_.data() + whole * user_frame_, carry_bytes_);
    if (whole == 0)
        return;
    const size_t samples = whole * spec_.channels;
    const int16_t *out;
    if (eight_bit_) {
        server_buffer_.resize(samples);
        for (size_t i = 0; i < samples; ++i)
            server_buffer_[i] = static_cast<int16_t>((user_buffer_[i] - 128) * 256);
        out = server_buffer_.data();
    } else {
        out = reinterpret_cast<const int16_t *>(user_buffer_.data());
    }
    pa_stream_write(stream_, out, samples * 2, nullptr, 0, PA_SEEK_RELATIVE);
}

// The stream clock counts what the sink has really played, not what the
// server has buffered; an underrun pauses it.
void Stream::ReportPlayed()
{
    if (!running_ || !Ready())
        return;
    pa_usec_t time;
    if (pa_stream_get_time(stream_, &time) < 0)
        return;
    uint64_t frames = time * spec_.rate / PA_USEC_PER_SEC;
    if (drained_frames_ > frames && pa_rtclock_now() >= drained_at_)
        frames = drained_frames_;
    frames = frames > lead_frames_ ? frames - lead_frames_ : 0;
    // Interpolation runs on through an underrun; never claim more than taken.
    const uint64_t bytes = std::min<uint64_t>(frames * user_frame_, taken_);
    if (bytes > played_) {
        played_ = bytes;
        source_->Played(played_);
    }
}

}  // namespace pulse_detail

using pulse_detail::Connection;
using pulse_detail::Stream;

PulseAudioBackend::PulseAudioBackend() = default;
PulseAudioBackend::~PulseAudioBackend() = default;

MMRESULT PulseAudioBackend::OpenCapture(const WAVEFORMATEX &format, CaptureSink *sink,
                                        std::unique_ptr<AudioStream> *stream)
{
    if (!sink)
        return MMSYSERR_INVALPARAM;
    return Open(format, sink, nullptr, stream);
}

MMRESULT PulseAudioBackend::OpenPlayback(const WAVEFORMATEX &format, PlaybackSource *source,
                                         std::unique_ptr<AudioStream> *stream)
{
    if (!source)
        return MMSYSERR_INVALPARAM;
    return Open(format, nullptr, source, stream);
}

MMRESULT PulseAudioBackend::Open(const WAVEFORMATEX &format, CaptureSink *sink, PlaybackSource *source,
                                 std::unique_ptr<AudioStream> *stream)
{
    if (!stream)
        return MMSYSERR_INVALPARAM;
    if (!pulse_detail::ValidFormat(format))
        return WAVERR_BADFORMAT;
    const pa_usec_t deadline = pa_rtclock_now() + pulse_detail::kOpenTimeout;
    std::shared_ptr<Connection> connection;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        connection = connection_.lock();
        if (connection) {
            bool usable;
            {
                pulse_detail::LoopLock lock(connection->loop());
                usable = connection->Usable();
            }
            // Dropped outside the lock: this may be the last reference.
            if (!usable)
                connection.reset();
        }
        if (!connection) {
            connection = std::make_shared<Connection>();
            MMRESULT result = connection->Connect(deadline);
            if (result != MMSYSERR_NOERROR)
                return result;
            connection_ = connection;
        }
    }
    auto opened = std::make_unique<Stream>(std::move(connection), format, sink, source);
    MMRESULT result = opened->Open(deadline);
    if (result != MMSYSERR_NOERROR)
        return result;
    *stream = std::move(opened);
    return MMSYSERR_NOERROR;
}

}  // namespace port
