// The playback stream: silence ahead, then whatever the layer's queue holds,
// written when the server asks; its position from the play clock, fed with
// the server's timing reports and its requests for data.
#include "playback_stream.h"

#include <string.h>

#include <algorithm>

#include <pulse/rtclock.h>

#include "sound_trace.h"
#include "tuning.h"

namespace port::pulse {

namespace {

int64_t Now()
{
    return static_cast<int64_t>(pa_rtclock_now());
}

}  // namespace

PlaybackStream::PlaybackStream(std::shared_ptr<Connection> connection, const WAVEFORMATEX &format,
                               PlaybackSource *source)
    : ServerStream(std::move(connection), format, "Larkspan playback", false),
      source_(source),
      eightBit_(format.wBitsPerSample == 8),
      leadFrames_(pa_usec_to_bytes(kPlaybackLeadMs * PA_USEC_PER_MSEC, &spec_) / serverFrame_),
      clock_(spec_.rate, leadFrames_, kPlayClockCoastMs * 1000)
{
}

PlaybackStream::~PlaybackStream()
{
    LoopLock lock(loop());
    running_ = false;
    StopTicks();
    Detach();
}

int PlaybackStream::ConnectStream(pa_stream *s, pa_stream_flags_t flags)
{
    pa_buffer_attr attr;
    memset(&attr, 0xff, sizeof attr);
    attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(kPlaybackTargetMs * PA_USEC_PER_MSEC, &spec_));
    attr.minreq = static_cast<uint32_t>(pa_usec_to_bytes(kPlaybackRequestMs * PA_USEC_PER_MSEC, &spec_));
    // Start on the first frame: a short last block must play too, and
    // Windows plays whatever is queued.
    attr.prebuf = static_cast<uint32_t>(serverFrame_);
    pa_stream_set_write_callback(s, OnWrite, this);
    pa_stream_set_underflow_callback(s, OnUnderflow, this);
    pa_stream_set_started_callback(s, OnStarted, this);
    pa_stream_set_latency_update_callback(s, OnTiming, this);
    // Timing reports come now and then by themselves, and when asked for.
    flags = static_cast<pa_stream_flags_t>(flags | PA_STREAM_AUTO_TIMING_UPDATE);
    return pa_stream_connect_playback(s, nullptr, &attr, flags, nullptr, nullptr);
}

void PlaybackStream::StopTicks()
{
    if (tick_) {
        pa_threaded_mainloop_get_api(loop())->time_free(tick_);
        tick_ = nullptr;
    }
}

void PlaybackStream::Start()
{
    LoopLock lock(loop());
    if (running_)
        return;
    running_ = true;
    taken_ = 0;
    played_ = 0;
    leadWritten_ = false;
    carryBytes_ = 0;
    writtenFrames_ = 0;
    draining_ = false;
    playedOnce_ = false;
    clock_.Reset();
    Resume();
    // Playback takes its first data on the mainloop thread, never in here.
    if (stream_)
        tick_ = pa_context_rttime_new(context(), pa_rtclock_now(), OnTick, this);
}

void PlaybackStream::Stop()
{
    LoopLock lock(loop());
    if (!running_)
        return;
    running_ = false;
    StopTicks();
    Halt();
}

void PlaybackStream::AskTiming()
{
    if (Ready())
        Done(pa_stream_update_timing_info(stream_, nullptr, nullptr));
}

void PlaybackStream::OnWrite(pa_stream *, size_t, void *userdata)
{
    PlaybackStream *self = static_cast<PlaybackStream *>(userdata);
    TraceSound("write_request", 0);
    self->clock_.Heard(Now());
    self->ReportPlayed();
    self->Fill();
    // The server is asking: the timer is not needed until it stops.
    if (self->tick_)
        pa_context_rttime_restart(self->context(), self->tick_, pa_rtclock_now() + kPlayedIntervalMs * 1000);
}

// Run dry, or playing again after a dry spell: the clock goes by what the
// server says next.
void PlaybackStream::OnUnderflow(pa_stream *s, void *userdata)
{
    PlaybackStream *self = static_cast<PlaybackStream *>(userdata);
    TraceSound("underflow", pa_stream_get_underflow_index(s));
    self->Drain();
    self->AskTiming();
}

// PipeWire's graph takes whole quanta: a stream that runs dry keeps its
// last frames, less than a quantum, until more come or it is drained. A
// drain pads them out with silence; on PulseAudio, which plays them anyway,
// it does nothing.
void PlaybackStream::Drain()
{
    if (Ready() && !draining_) {
        draining_ = true;
        Done(pa_stream_drain(stream_, nullptr, nullptr));
    }
}

void PlaybackStream::OnStarted(pa_stream *, void *userdata)
{
    static_cast<PlaybackStream *>(userdata)->AskTiming();
}

void PlaybackStream::OnTiming(pa_stream *s, void *userdata)
{
    PlaybackStream *self = static_cast<PlaybackStream *>(userdata);
    const pa_timing_info *t = pa_stream_get_timing_info(s);
    if (!self->running_ || !t || t->read_index_corrupt)
        return;
    // The read index is what the server has taken; the sink still holds
    // sink_usec of it, and the report took transport_usec to come.
    const int64_t at = Now() - static_cast<int64_t>(pa_timeval_age(&t->timestamp));
    const uint64_t taken = t->read_index > 0 ? static_cast<uint64_t>(t->read_index) / self->serverFrame_ : 0;
    const int64_t held = static_cast<int64_t>(t->sink_usec) - static_cast<int64_t>(t->transport_usec);
    TraceSound("timing", static_cast<int64_t>(taken));
    self->clock_.Report(at, taken, held, t->playing != 0);
    // Stopped short of what was written, after it had been playing: run dry
    // with its last frames held back, as an underflow would have said.
    if (t->playing)
        self->playedOnce_ = true;
    else if (self->playedOnce_ && taken < self->writtenFrames_)
        self->Drain();
}

void PlaybackStream::OnTick(pa_mainloop_api *, pa_time_event *, const struct timeval *, void *userdata)
{
    PlaybackStream *self = static_cast<PlaybackStream *>(userdata);
    if (!self->running_ || self->Failed()) {
        self->StopTicks();
        return;
    }
    TraceSound("tick", 0);
    self->ReportPlayed();
    // A queue that ran dry is asked again here; the server will not ask.
    self->Fill();
    self->AskTiming();
    if (self->tick_)
        pa_context_rttime_restart(self->context(), self->tick_, pa_rtclock_now() + kPlayedIntervalMs * 1000);
}

void PlaybackStream::Fill()
{
    if (!running_ || !Ready())
        return;
    if (!leadWritten_) {
        leadWritten_ = true;
        if (!WriteLead())
            return;
    }
    const size_t writable = pa_stream_writable_size(stream_);
    if (writable == static_cast<size_t>(-1) || writable < serverFrame_)
        return;
    const size_t frames = TakeFrames(writable / serverFrame_);
    if (frames == 0)
        return;
    const int16_t *samples = ServerSamples(frames);
    TraceSound("write", (int64_t)(frames * serverFrame_));
    if (Write(samples, frames))
        draining_ = false;
}

// The lead is 0 in the shipped tuning; the benchmarks build with others
// (tuning.h, bench/delay.sh), and docs/performance.md compares them.
bool PlaybackStream::WriteLead()
{
    if (leadFrames_ == 0)
        return true;
    serverBuffer_.assign(leadFrames_ * spec_.channels, 0);
    return Write(serverBuffer_.data(), leadFrames_);
}

size_t PlaybackStream::TakeFrames(size_t frames)
{
    userBuffer_.resize(frames * userFrame_);
    memcpy(userBuffer_.data(), carry_, carryBytes_);
    const size_t got = source_->Take(userBuffer_.data() + carryBytes_, userBuffer_.size() - carryBytes_);
    taken_ += got;
    const size_t have = carryBytes_ + got;
    const size_t whole = have / userFrame_;
    carryBytes_ = have % userFrame_;
    memcpy(carry_, userBuffer_.data() + whole * userFrame_, carryBytes_);
    return whole;
}

const int16_t *PlaybackStream::ServerSamples(size_t frames)
{
    if (!eightBit_)
        return reinterpret_cast<const int16_t *>(userBuffer_.data());
    const size_t samples = frames * spec_.channels;
    serverBuffer_.resize(samples);
    for (size_t i = 0; i < samples; ++i)
        serverBuffer_[i] = static_cast<int16_t>((userBuffer_[i] - 128) * 256);
    return serverBuffer_.data();
}

bool PlaybackStream::Write(const int16_t *samples, size_t frames)
{
    const int result = pa_stream_write(stream_, samples, frames * serverFrame_, nullptr, 0, PA_SEEK_RELATIVE);
    if (result < 0) {
        TraceSound("write_failed", result);
        Fail();
        return false;
    }
    clock_.Wrote(frames, Now());
    writtenFrames_ += frames;
    return true;
}

void PlaybackStream::ReportPlayed()
{
    if (!running_ || !Ready())
        return;
    // Never more than the layer has given this run.
    const uint64_t bytes = std::min<uint64_t>(clock_.ProgramFrames(Now()) * userFrame_, taken_);
    if (bytes > played_) {
        played_ = bytes;
        TraceSound("played", (int64_t)played_);
        source_->Played(played_);
    }
}

}  // namespace port::pulse
