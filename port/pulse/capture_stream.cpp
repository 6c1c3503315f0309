// The capture stream: fragments read when the sink's block is due,
// converted to the program's samples, holes delivered as silence.
#include "capture_stream.h"

#include <string.h>

#include <algorithm>

#include <pulse/rtclock.h>

#include "identity.h"
#include "sound_timeline.h"
#include "tuning.h"

namespace port::pulse {

CaptureStream::CaptureStream(std::shared_ptr<Connection> connection, CaptureSink *sink)
    : ServerStream(std::move(connection), kCaptureStreamName, true), sink_(sink)
{
}

CaptureStream::~CaptureStream()
{
    running_ = false;
    Detach();
}

int CaptureStream::ConnectStream(pa_stream *s, pa_stream_flags_t flags)
{
    pa_buffer_attr attr;
    memset(&attr, 0xff, sizeof attr);
    attr.fragsize = static_cast<uint32_t>(kCaptureFragmentFrames * kServerFrame);
    pa_stream_set_read_callback(s, OnRead, this);
    return pa_stream_connect_record(s, nullptr, &attr, flags);
}

void CaptureStream::Start()
{
    if (running_)
        return;
    running_ = true;
    frames_ = 0;
    arrival_ = heardAt_ = pa_rtclock_now();
    Expect(arrival_);
    Resume();
}

void CaptureStream::Stop()
{
    if (!running_)
        return;
    running_ = false;
    expected_ = wake_ = kNever;
    Halt();
}

// A block queued while none was: due when it can be full, not at the next
// idle look.
void CaptureStream::Queued()
{
    if (running_)
        Expect(pa_rtclock_now());
}

pa_usec_t CaptureStream::NextWake() const
{
    return running_ ? wake_ : kNever;
}

void CaptureStream::Woken(pa_usec_t now)
{
    if (running_)
        Revive(now);
    if (wake_ <= now)
        wake_ = kNever;
}

bool CaptureStream::Awaiting(pa_usec_t now) const
{
    return running_ && expected_ <= now;
}

void CaptureStream::Expect(pa_usec_t now)
{
    const size_t missing = sink_->Missing();
    if (missing == 0)
        expected_ = now + kCaptureIdleWakeUs;
    else
        expected_ =
            arrival_ + pa_bytes_to_usec((frames_ + missing) * kServerFrame, &kSpec) + kCaptureMarginUs;
    wake_ = expected_;
}

void CaptureStream::OnRead(pa_stream *s, size_t readable, void *userdata)
{
    CaptureStream *self = static_cast<CaptureStream *>(userdata);
    const pa_usec_t now = pa_rtclock_now();
    size_t frames = 0;
    // Sound a block later than due (the source suspended, the server
    // stalled, or a new stream after the server came back): the time
    // nothing came is told as silence first, so that what comes now keeps
    // its place in time.
    const size_t quiet = pa_usec_to_bytes(now - self->heardAt_, &kSpec) / kServerFrame;
    if (self->running_ && now > self->expected_ + kBlockUs && quiet > readable / kServerFrame) {
        Timeline("gap", (int64_t)quiet);
        self->Deliver(nullptr, quiet - readable / kServerFrame);
        frames += quiet - readable / kServerFrame;
    }
    for (;;) {
        const void *data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(s, &data, &bytes) < 0 || bytes == 0)
            break;
        // Data still in flight when the run was stopped is dropped unseen.
        if (self->running_) {
            Timeline(data ? "read" : "hole", (int64_t)bytes);
            self->Deliver(static_cast<const int16_t *>(data), bytes / kServerFrame);
            frames += bytes / kServerFrame;
        }
        pa_stream_drop(s);
    }
    if (!self->running_ || frames == 0)
        return;
    self->heardAt_ = now;
    self->frames_ += frames;
    // Read as it came, the sound tells when it comes; read later, only
    // that it came no later than now.
    const pa_usec_t since = pa_bytes_to_usec(self->frames_ * kServerFrame, &kSpec);
    const pa_usec_t arrival = now > since ? now - since : 0;
    self->arrival_ = self->expected_ <= now ? arrival : std::min(self->arrival_, arrival);
    self->Expect(now);
}

void CaptureStream::Deliver(const int16_t *data, size_t frames)
{
    buffer_.resize(frames);
    if (data) {
        for (size_t i = 0; i < frames; ++i)
            buffer_[i] = static_cast<uint8_t>((data[i] >> 8) + 128);
    } else {
        std::fill(buffer_.begin(), buffer_.end(), 0x80);
    }
    sink_->Captured(buffer_.data(), buffer_.size());
}

}  // namespace port::pulse
