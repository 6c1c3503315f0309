// A capture stream on the sound server: what the source records goes to
// the layer's capture device as it arrives, in the program's format.
#pragma once

#include <vector>

#include "server_stream.h"

namespace port::pulse {

class CaptureStream final : public ServerStream {
public:
    CaptureStream(std::shared_ptr<Connection> connection, const WAVEFORMATEX &format, CaptureSink *sink);
    ~CaptureStream() override;

    void Start() override;
    void Stop() override;

private:
    int ConnectStream(pa_stream *s, pa_stream_flags_t flags) override;
    static void OnRead(pa_stream *s, size_t bytes, void *userdata);
    // With the mainloop locked. `data` is null for a hole in the recording.
    void Deliver(const void *data, size_t bytes);

    CaptureSink *const sink_;
    const bool eightBit_;
    bool running_ = false;
    std::vector<uint8_t> buffer_;
};

}  // namespace port::pulse
