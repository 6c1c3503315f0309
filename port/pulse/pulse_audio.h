// The sound server on a Linux desktop: PulseAudio, or PipeWire's PulseAudio
// service, as the layer's sound system.
#pragma once

#include <memory>

#include "audio_backend.h"

namespace port {

namespace pulse {
class Connection;
}

// The wave mapper is the server's default source and default sink, or the
// ones PULSE_SOURCE and PULSE_SINK name. Streams of one server share a
// connection, made on the first open and dropped with the last stream, so
// an idle program holds no connection and no timer. Everything runs on the
// thread that opens the streams, inside its waits on its default GLib
// context (pulse_connection.h).
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
    // Both directions: the checks, the connection, the stream's open.
    template <typename Stream, typename Client>
    MMRESULT Open(const WAVEFORMATEX &format, Client *client, std::unique_ptr<AudioStream> *stream);
    // The shared connection, made if there is none that works; by `deadline`.
    MMRESULT Connection(uint64_t deadline, std::shared_ptr<pulse::Connection> *connection);

    std::weak_ptr<pulse::Connection> connection_;
};

}  // namespace port
