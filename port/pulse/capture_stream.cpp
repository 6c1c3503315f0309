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
    arrival_ = arrivalBefore_ = pa_rtclock_now();
    gapZero_ = kNever;
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

// What the callback says is there is taken, and no more: each of
// libpulse's calls costs a system call (its check for a fork).
void CaptureStream::OnRead(pa_stream *s, size_t readable, void *userdata)
{
    CaptureStream *self = static_cast<CaptureStream *>(userdata);
    const pa_usec_t now = pa_rtclock_now();
    std::vector<uint8_t> &sound = self->buffer_;
    sound.clear();
    for (size_t taken = 0; taken < readable;) {
        const void *data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(s, &data, &bytes) < 0 || bytes == 0)
            break;
        taken += bytes;
        // Data still in flight when the run was stopped is dropped unseen.
        if (self->running_) {
            Timeline(data ? "read" : "hole", (int64_t)bytes);
            const int16_t *samples = static_cast<const int16_t *>(data);
            for (size_t i = 0; i < bytes / kServerFrame; ++i)
                sound.push_back(samples ? static_cast<uint8_t>((samples[i] >> 8) + 128) : 0x80);
        }
        pa_stream_drop(s);
    }
    if (!self->running_ || sound.empty())
        return;
    // Sound a block later than due (the source suspended, the server
    // stalled, or a new stream after the server came back): the time
    // nothing came is told as silence first, so that what comes now keeps
    // its place in time: where frame 0 came by the best sign of the last
    // two blocks (the last may have been read late as the sound stopped).
    // Not when this process was held up itself: the server kept what came
    // meanwhile, and the rest of it is still to be read.
    const pa_usec_t zero = std::min(self->arrival_, self->arrivalBefore_);
    const uint64_t due = pa_usec_to_bytes(now - zero, &kSpec) / kServerFrame;
    const uint64_t have = self->frames_ + sound.size();
    if (now > self->expected_ + kBlockUs && due > have && !self->connection_->HeldUp(now)) {
        Timeline("gap", (int64_t)(due - have));
        sound.insert(sound.begin(), due - have, 0x80);
        self->gapZero_ = zero;
    }
    // From then on, never more than time allows, for a source up to 0.1 %
    // fast, give or take a fragment (a new server's stream came up to 84
    // frames sooner than the old one's sign): a stalled server hands over
    // what its source recorded meanwhile after the gap was told. The
    // oldest of it goes.
    if (self->gapZero_ != kNever) {
        const pa_usec_t since = now - self->gapZero_;
        const uint64_t most =
            pa_usec_to_bytes(since + since / 1000, &kSpec) / kServerFrame + kCaptureFragmentFrames;
        const uint64_t heard = self->frames_ + sound.size();
        if (heard > most) {
            const size_t surplus = (size_t)std::min<uint64_t>(heard - most, sound.size());
            Timeline("surplus", (int64_t)surplus);
            sound.erase(sound.begin(), sound.begin() + surplus);
        }
    }
    self->frames_ += sound.size();
    self->sink_->Captured(sound.data(), sound.size());
    // Read as it came, the sound tells when it comes; read later, only
    // that it came no later than now.
    const pa_usec_t since = pa_bytes_to_usec(self->frames_ * kServerFrame, &kSpec);
    const pa_usec_t arrival = now > since ? now - since : 0;
    if (self->expected_ <= now) {
        self->arrivalBefore_ = self->arrival_;
        self->arrival_ = arrival;
    } else {
        self->arrival_ = std::min(self->arrival_, arrival);
    }
    self->Expect(now);
}

}  // namespace port::pulse
