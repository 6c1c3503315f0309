// The capture stream: fragments read as the server hands them over,
// converted to the program's samples, holes delivered as silence.
#include "capture_stream.h"

#include <string.h>

#include <algorithm>

#include "sound_trace.h"
#include "tuning.h"

namespace port::pulse {

CaptureStream::CaptureStream(std::shared_ptr<Connection> connection, const WAVEFORMATEX &format,
                             CaptureSink *sink)
    : ServerStream(std::move(connection), format, "Larkspan capture", true),
      sink_(sink),
      eightBit_(format.wBitsPerSample == 8)
{
}

CaptureStream::~CaptureStream()
{
    LoopLock lock(loop());
    running_ = false;
    Detach();
}

int CaptureStream::ConnectStream(pa_stream *s, pa_stream_flags_t flags)
{
    pa_buffer_attr attr;
    memset(&attr, 0xff, sizeof attr);
    attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(kCaptureFragmentMs * PA_USEC_PER_MSEC, &spec_));
    pa_stream_set_read_callback(s, OnRead, this);
    return pa_stream_connect_record(s, nullptr, &attr, flags);
}

void CaptureStream::Start()
{
    LoopLock lock(loop());
    if (running_)
        return;
    running_ = true;
    Resume();
}

void CaptureStream::Stop()
{
    LoopLock lock(loop());
    if (!running_)
        return;
    running_ = false;
    Halt();
}

void CaptureStream::OnRead(pa_stream *s, size_t, void *userdata)
{
    CaptureStream *self = static_cast<CaptureStream *>(userdata);
    for (;;) {
        const void *data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(s, &data, &bytes) < 0 || bytes == 0)
            return;
        // Data still in flight when the run was stopped is dropped unseen.
        if (self->running_) {
            TraceSound(data ? "read" : "hole", (int64_t)bytes);
            self->Deliver(data, bytes);
        }
        pa_stream_drop(s);
    }
}

void CaptureStream::Deliver(const void *data, size_t bytes)
{
    const size_t samples = bytes / 2;
    if (!eightBit_) {
        if (data) {
            sink_->Captured(static_cast<const uint8_t *>(data), samples * 2);
            return;
        }
        buffer_.assign(samples * 2, 0);
    } else {
        buffer_.resize(samples);
        if (data) {
            const int16_t *in = static_cast<const int16_t *>(data);
            for (size_t i = 0; i < samples; ++i)
                buffer_[i] = static_cast<uint8_t>((in[i] >> 8) + 128);
        } else {
            std::fill(buffer_.begin(), buffer_.end(), 0x80);
        }
    }
    sink_->Captured(buffer_.data(), buffer_.size());
}

}  // namespace port::pulse
