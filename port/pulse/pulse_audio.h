// The sound server on a Linux desktop: PulseAudio (or PipeWire's PulseAudio
// service), driven through libpulse's threaded mainloop and asynchronous API.
#pragma once

#include <memory>
#include <mutex>

#include "audio_backend.h"

namespace port {

namespace pulse_detail {
class Connection;
}

// The wave mapper is the server's default source and default sink. Streams
// carry 16-bit samples to the server and convert 8-bit data here. Streams of
// one server share a connection, made on the first open and dropped with the
// last stream, so an idle program holds no connection and no timer.
class PulseAudioBackend : public AudioBackend {
public:
    PulseAudioBackend();
    ~PulseAudioBackend() override;
    PulseAudioBackend(const PulseAudioBackend &) = delete;
    PulseAudioBackend &operator=(const PulseAudioBackend &) = delete;

    MMRESULT OpenCapture(const WAVEFORMATEX &format, CaptureSink *sink,
                         std::unique_ptr<AudioStream> *stream) override;
    MMRESULT OpenPlayback(const WAVEFORMATEX &format, PlaybackSource *source,
                          std::unique_ptr<AudioStream> *stream) override;

private:
    MMRESULT Open(const WAVEFORMATEX &format, CaptureSink *sink, PlaybackSource *source,
                  std::unique_ptr<AudioStream> *stream);

    std::mutex mutex_;
    std::weak_ptr<pulse_detail::Connection> connection_;
};

}  // namespace port
