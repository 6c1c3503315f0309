// A capture stream on the sound server: what the source records goes to
// the layer's capture device in the program's format, read when the
// device's block is due to be full.
#pragma once

#include <vector>

#include "server_stream.h"

namespace port::pulse {

class CaptureStream final : public ServerStream {
public:
    CaptureStream(std::shared_ptr<Connection> connection, CaptureSink *sink);
    ~CaptureStream() override;

    void Start() override;
    void Stop() override;
    void Queued() override;

    pa_usec_t NextWake() const override;
    bool Awaiting(pa_usec_t now) const override;
    // Due, it reads fragments as they come until its block is full.
    void Woken(pa_usec_t now) override;

private:
    int ConnectStream(pa_stream *s, pa_stream_flags_t flags) override;
    static void OnRead(pa_stream *s, size_t bytes, void *userdata);
    // When the sink's block will be full, from when the sound heard so far
    // came in.
    void Expect(pa_usec_t now);

    CaptureSink *const sink_;
    bool running_ = false;
    uint64_t frames_ = 0;          // heard this run
    pa_usec_t arrival_ = 0;        // when frame 0 would have come, by the latest sign
    pa_usec_t arrivalBefore_ = 0;  // the same, by the block before
    pa_usec_t gapZero_ = kNever;   // the same, when a gap was told
    pa_usec_t expected_ = kNever;  // when the sink's block should be full
    pa_usec_t wake_ = kNever;      // then, until woken
    std::vector<uint8_t> buffer_;  // what a read brought, as the program's samples
};

}  // namespace port::pulse
