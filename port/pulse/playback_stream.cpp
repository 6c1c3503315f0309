// The playback stream: whatever the layer's queue holds, written as the
// server makes room; its position from the play clock, fed with the
// server's timing reports, one asked for at every wake.
#include "playback_stream.h"

#include <string.h>

#include <algorithm>

#include <pulse/rtclock.h>

#include "identity.h"
#include "sound_timeline.h"
#include "tuning.h"

namespace port::pulse {

namespace {

// Taken from the layer a block at a time.
constexpr size_t kFillFrames = kBlockSamples;

int64_t Now()
{
    return static_cast<int64_t>(pa_rtclock_now());
}

}  // namespace

PlaybackStream::PlaybackStream(std::shared_ptr<Connection> connection, PlaybackSource *source)
    : ServerStream(std::move(connection), kPlaybackStreamName, false),
      source_(source),
      clock_(kSpec.rate, kPlayClockCoastUs)
{
}

PlaybackStream::~PlaybackStream()
{
    running_ = false;
    Detach();
}

int PlaybackStream::ConnectStream(pa_stream *s, pa_stream_flags_t flags)
{
    pa_buffer_attr attr;
    memset(&attr, 0xff, sizeof attr);
    attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(kPlaybackTargetUs, &kSpec));
    attr.minreq = static_cast<uint32_t>(pa_usec_to_bytes(kPlaybackRequestUs, &kSpec));
    // Start on the first frame: a short last block must play too, and
    // Windows plays whatever is queued.
    attr.prebuf = static_cast<uint32_t>(kServerFrame);
    pa_stream_set_write_callback(s, OnWrite, this);
    pa_stream_set_underflow_callback(s, OnUnderflow, this);
    pa_stream_set_started_callback(s, OnStarted, this);
    pa_stream_set_latency_update_callback(s, OnTiming, this);
    return pa_stream_connect_playback(s, nullptr, &attr, flags, nullptr, nullptr);
}

void PlaybackStream::Start()
{
    if (running_)
        return;
    running_ = true;
    queued_ = true;
    taken_ = 0;
    played_ = 0;
    awayAt_ = placeAt_ = PlayClock::kNever;
    lost_ = skip_ = 0;
    NewServerStream();
    Resume();
    wake_ = kNever;
}

void PlaybackStream::NewServerStream()
{
    writtenFrames_ = 0;
    draining_ = false;
    held_ = false;
    playedOnce_ = false;
    askedAt_ = 0;
    clock_.Reset();
}

void PlaybackStream::Stop()
{
    if (!running_)
        return;
    running_ = false;
    queued_ = false;
    wake_ = kNever;
    Halt();
}

void PlaybackStream::Queued()
{
    queued_ = running_ && stream_;
}

void PlaybackStream::Woken(pa_usec_t)
{
    if (!running_) {
        wake_ = kNever;
        return;
    }
    Timeline("wake", 0);
    const int64_t now = Now();
    ReportPlayed(now);
    if (Revive(now)) {
        lost_ = taken_;
        placeAt_ = awayAt_;
        placePlayed_ = awayPlayed_;
        NewServerStream();
    }
    queued_ = false;
    Fill();
    // The timing now and then, read at the next wake; the clock runs on
    // well between: the sink's clock and this one part by less than 0.1 %.
    // Sooner while the server has not shown that it plays for half the
    // time the clock runs on by itself, so that one that plays shows it.
    const int64_t interval =
        clock_.Stalled(now + kPlayClockCoastUs / 2) ? kPlayClockCoastUs / 2 : (int64_t)kTimingIntervalUs;
    if (now - askedAt_ >= interval) {
        askedAt_ = now;
        AskTiming();
    }
    Plan(now, true);
}

bool PlaybackStream::Awaiting(pa_usec_t now) const
{
    if (running_ && (held_ || (placeAt_ != PlayClock::kNever && !Ready() && !Failed())))
        return true;
    if (!running_ || draining_ || writtenFrames_ == 0 || Failed())
        return false;
    const int64_t dry = clock_.TimeAt(writtenFrames_);
    return dry != PlayClock::kNever && dry <= (int64_t)now;
}

void PlaybackStream::Plan(int64_t now, bool inWake)
{
    if (!running_) {
        wake_ = kNever;
        return;
    }
    int64_t at = MarkTime();
    // Due already by a report just in: said at the wake that follows the
    // reading, not amid it, since what the server sent after the report may
    // be the capture the layer waits for; then the next mark is planned for.
    // Still due after that, the layer waits for something else (capture),
    // and is asked again a little later.
    if (at <= now && !inWake) {
        wake_ = now;
        return;
    }
    if (at <= now) {
        ReportPlayed(now);
        at = MarkTime();
    }
    int64_t wake = at == PlayClock::kNever || at <= now ? now + (int64_t)kPlaybackRetryUs : at;
    if (source_->NextMark() == 0)
        wake = now + kPlaybackIdleWakeUs;
    // And when what was written will have played out, should nothing more
    // come: the server's word that it ran dry is awaited from then on.
    const int64_t dry = clock_.TimeAt(writtenFrames_);
    if (dry != PlayClock::kNever && dry > now)
        wake = std::min(wake, dry);
    wake_ = wake;
}

int64_t PlaybackStream::MarkTime() const
{
    const uint64_t mark = source_->NextMark();
    if (mark == 0)
        return PlayClock::kNever;
    if (awayAt_ != PlayClock::kNever)
        return awayAt_ +
               (int64_t)((std::max(mark, awayPlayed_) - awayPlayed_) * PA_USEC_PER_SEC + kSpec.rate - 1) /
                   kSpec.rate;
    return mark <= Skipped() ? 0 : clock_.TimeAt(mark - Skipped());
}

void PlaybackStream::AskTiming()
{
    if (Ready())
        Done(pa_stream_update_timing_info(stream_, nullptr, nullptr));
}

void PlaybackStream::OnWrite(pa_stream *, size_t, void *userdata)
{
    PlaybackStream *self = static_cast<PlaybackStream *>(userdata);
    Timeline("write_request", 0);
    const int64_t now = Now();
    self->clock_.Heard(now);
    self->Unheld(now);
    self->Fill();
    self->Plan(now, false);
}

// Run dry, or playing again after a dry spell: the clock goes by what the
// server says next.
void PlaybackStream::OnUnderflow(pa_stream *s, void *userdata)
{
    PlaybackStream *self = static_cast<PlaybackStream *>(userdata);
    Timeline("underflow", pa_stream_get_underflow_index(s));
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
    const int64_t now = Now();
    const int64_t at = now - static_cast<int64_t>(pa_timeval_age(&t->timestamp));
    const uint64_t taken = t->read_index > 0 ? static_cast<uint64_t>(t->read_index) / kServerFrame : 0;
    const int64_t held = static_cast<int64_t>(t->sink_usec) - static_cast<int64_t>(t->transport_usec);
    Timeline("timing", static_cast<int64_t>(taken));
    self->clock_.Report(at, taken, held, t->playing != 0);
    self->Unheld(now);
    if (t->playing)
        self->Realign(now);
    // Stopped short of what was written, after it had been playing: run dry
    // with its last frames held back, as an underflow would have said.
    if (t->playing)
        self->playedOnce_ = true;
    else if (self->playedOnce_ && taken < self->writtenFrames_)
        self->Drain();
    self->Plan(now, false);
}

// All of it, whatever room the server has asked for: the server keeps up
// to maxlength (4 MiB), the layer queues two blocks at a time, and data
// that waited for the server's next request, read at the next wake, could
// come too late.
void PlaybackStream::Fill()
{
    if (!running_ || !Ready() || Failed() || clock_.Stalled(Now()))
        return;
    for (;;) {
        program_.resize(kFillFrames);
        const size_t frames = source_->Take(program_.data(), program_.size());
        if (frames == 0)
            return;
        taken_ += frames;
        const size_t skipped = (size_t)std::min<uint64_t>(skip_, frames);
        skip_ -= skipped;
        if (skipped == frames)
            continue;
        server_.resize(frames - skipped);
        for (size_t i = skipped; i < frames; ++i)
            server_[i - skipped] = static_cast<int16_t>((program_[i] - 128) * 256);
        Timeline("write", (int64_t)(server_.size() * kServerFrame));
        if (!Write(server_.data(), server_.size()))
            return;
        draining_ = false;
    }
}

bool PlaybackStream::Write(const int16_t *samples, size_t frames)
{
    const int result = pa_stream_write(stream_, samples, frames * kServerFrame, nullptr, 0, PA_SEEK_RELATIVE);
    if (result < 0) {
        Timeline("write_failed", result);
        Fail();
        return false;
    }
    clock_.Wrote(frames, Now());
    writtenFrames_ += frames;
    return true;
}

void PlaybackStream::ReportPlayed(int64_t now)
{
    if (!running_)
        return;
    uint64_t bytes = 0;
    if (Away(now)) {
        held_ = held_ || (!Failed() && playedOnce_ && clock_.Stalled(now));
        bytes = PlayIntoNothing(now);
    } else {
        awayAt_ = PlayClock::kNever;
        // Never more than the layer has given this run.
        bytes = std::min<uint64_t>(Skipped() + clock_.Frames(now), taken_);
    }
    if (bytes > played_) {
        played_ = bytes;
        Timeline("played", (int64_t)played_);
        source_->Played(played_);
    }
}

bool PlaybackStream::Away(int64_t now) const
{
    return Failed() || clock_.Stalled(now) || (awayAt_ != PlayClock::kNever && played_ < lost_);
}

// On from where the sound would be had the server gone on as it last
// said it played (found stalled, it went silent a while ago), at the rate,
// whether the program keeps up or not: blocks it queues late are played
// into nothing as far as they are late, so that it keeps its place.
uint64_t PlaybackStream::PlayIntoNothing(int64_t now)
{
    if (awayAt_ == PlayClock::kNever) {
        awayAt_ = now;
        awayPlayed_ = std::max(played_, Skipped() + clock_.PlayingLine(now));
        Timeline("away", (int64_t)awayPlayed_);
    }
    const uint64_t due = awayPlayed_ + (uint64_t)(now - awayAt_) * kSpec.rate / PA_USEC_PER_SEC;
    while (taken_ < due) {
        program_.resize(std::min<uint64_t>(due - taken_, kFillFrames));
        const size_t frames = source_->Take(program_.data(), program_.size());
        if (frames == 0)
            return taken_;
        taken_ += frames;
    }
    return due;
}

// A server heard from again after it held sound it stopped playing (it
// stalled, or its sink was suspended) would play that first, late: the
// stream goes with it, and a new one takes its place as after a restart.
// (A sink slow to start plays what it was given from the start.)
void PlaybackStream::Unheld(int64_t now)
{
    if (held_ && !clock_.Stalled(now)) {
        Timeline("unheld", 0);
        held_ = false;
        Fail();
    }
}

// A new server stream, once it plays, is behind where the sound would be
// had the server never gone, by the time it took to start. So much of what
// comes next is not played, for each block to be heard when it would have
// been, at the delay it had.
void PlaybackStream::Realign(int64_t now)
{
    if (placeAt_ == PlayClock::kNever || Away(now))
        return;
    const uint64_t due = placePlayed_ + (uint64_t)(now - placeAt_) * kSpec.rate / PA_USEC_PER_SEC;
    const uint64_t heard = Skipped() + clock_.Frames(now);
    placeAt_ = PlayClock::kNever;
    if (due > heard) {
        skip_ = due - heard;
        Timeline("realign", (int64_t)skip_);
    }
}

}  // namespace port::pulse
