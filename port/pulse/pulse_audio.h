// The sound server on a Linux desktop: PulseAudio, or PipeWire's PulseAudio
// service, as the layer's sound system.
//
// When the wave devices post their notifications:
// - MM_WIM_DATA: when capture has filled the block, with what the source
//   sent, read when the block is due. Sound after a gap of more than a
//   block (source suspended, server stalled or back) comes after silence
//   for the gap, and never more than time allows after it. A block that
//   playback must refill while capture has heard nothing since the last
//   one goes back at once, silence where nothing came (wave_pacing.h): a
//   silent source makes no block play again.
// - MM_WOM_DONE: when the sink has played the block, by the play clock:
//   the server's timing reports, run on at the rate (play_clock.h). While
//   the server takes nothing (no stream, or it was not heard from for two
//   blocks while it held sound to play) the queue plays into nothing at
//   the rate, by the system's clock, from where the sound would be had the
//   server gone on.
// - The connection, if it fails, is tried again every half second. Each
//   stream the server lost then opens again on its device, as does a
//   playback stream whose server comes back with sound it held, and
//   playback goes on where the sound would be had the server not stopped,
//   at the delay it had.
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
    MMRESULT OpenCapture(const WAVEFORMATEX &format, CaptureSink *sink,
                         std::unique_ptr<AudioStream> *stream) override;
    MMRESULT OpenPlayback(const WAVEFORMATEX &format, PlaybackSource *source,
                          std::unique_ptr<AudioStream> *stream) override;

private:
    std::weak_ptr<pulse::Connection> connection_;
};

}  // namespace port
