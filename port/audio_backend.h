// The sound system behind the layer's wave devices: the sound server on a
// desktop, virtual devices on a virtual clock in the tests.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <memory>

#include <mmsystem.h>

namespace port {

// The program's sound: PCM, one channel, 8 bits a sample, kSampleRate
// samples a second, in blocks of kBlockSamples. The wave calls take this
// format and no other, and the streams' timing is set for these blocks.
constexpr uint32_t kSampleRate = 11025;
constexpr uint32_t kBlockSamples = 2048;

// Everything here runs on the dialog's thread: a stream's callbacks come
// from inside WindowBackend::WaitForEvents (or the simulated clock), never
// from inside a call the layer makes on the stream.

// Fed by a capture stream with samples in the format the stream was opened
// with.
class CaptureSink {
public:
    virtual void Captured(const uint8_t *data, size_t bytes) = 0;
    // Bytes still to come before the sink has something to hand on (its
    // block is full), 0 while it has nothing to fill: the stream need not
    // deliver before then.
    virtual size_t Missing() const = 0;

protected:
    ~CaptureSink() = default;
};

// Drained by a playback stream.
class PlaybackSource {
public:
    // Copies up to `bytes` queued bytes into `out` and returns how many;
    // fewer means the queue ran dry (the stream plays silence meanwhile).
    virtual size_t Take(uint8_t *out, size_t bytes) = 0;
    // `bytes` of what Take has returned since Start have now been played.
    virtual void Played(uint64_t bytes) = 0;
    // The count of played bytes Played next has something to do at (a
    // block played out), or 0 for none: the stream need not report before
    // then.
    virtual uint64_t NextMark() const = 0;

protected:
    ~PlaybackSource() = default;
};

class AudioStream {
public:
    // Closes the stream; no callback runs once it has returned.
    virtual ~AudioStream() = default;
    // Starts capturing or playing. Callbacks follow, never from inside Start.
    virtual void Start() = 0;
    // Stops and drops whatever is buffered; no callback of this run follows
    // once it has returned. Neither call waits on the sound server.
    virtual void Stop() = 0;
    // The layer queued another block while the stream runs: the stream
    // looks again at what it needs, soon, never from inside this call.
    virtual void Queued() = 0;
};

class AudioBackend {
public:
    virtual ~AudioBackend() = default;
    // Open the default capture or playback device in `format`. Answer
    // MMSYSERR_NOERROR with the stream, or an error, within a few seconds.
    virtual MMRESULT OpenCapture(const WAVEFORMATEX &format, CaptureSink *sink,
                                 std::unique_ptr<AudioStream> *stream) = 0;
    virtual MMRESULT OpenPlayback(const WAVEFORMATEX &format, PlaybackSource *source,
                                  std::unique_ptr<AudioStream> *stream) = 0;
};

}  // namespace port
