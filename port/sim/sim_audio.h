// Simulated sound devices on the virtual clock: the microphone hears a
// scripted signal, and the speaker keeps a tape of what it played when.
#pragma once

#include <memory>
#include <vector>

#include "../audio_backend.h"
#include "virtual_clock.h"

namespace port::sim {

class SimAudio : public AudioBackend {
public:
    explicit SimAudio(VirtualClock &clock) : clock_(clock) {}

    // What the next opens answer; anything but MMSYSERR_NOERROR fails them.
    MMRESULT captureOpenResult = MMSYSERR_NOERROR;
    MMRESULT playbackOpenResult = MMSYSERR_NOERROR;
    // How many samples a device moves at a time.
    Ticks chunk = 256;
    // How long after the microphone heard a chunk it reaches the program.
    Ticks captureLatency = 0;
    // Timing faults, all off by default. Each delivery of captured sound
    // comes up to captureJitter late, and each report of what was played up
    // to playedJitter late (both still in order); with chunkMin set, every
    // chunk is between chunkMin and chunk samples long. Drawn from `seed`.
    Ticks captureJitter = 0;
    Ticks playedJitter = 0;
    Ticks chunkMin = 0;
    uint64_t seed = 1;
    // The microphone's device sends nothing of what it hears over
    // [from, to), as a suspended or stalled source does.
    Ticks captureSilentFrom = 0;
    Ticks captureSilentTo = 0;
    // Called around every call a stream makes into the layer, so a checker
    // can tell what the device did from what the program did.
    std::function<void()> beforeCallback;
    std::function<void()> afterCallback;
    // The sample the microphone hears at each instant.
    std::function<uint8_t(Ticks)> signal = [](Ticks) { return (uint8_t)0x80; };

    // The speaker's tape: the byte played at each instant, -1 for none.
    std::vector<int> tape;
    int Played(Ticks at) const { return at >= 0 && at < (Ticks)tape.size() ? tape[at] : -1; }

    int captureOpens = 0;
    int playbackOpens = 0;
    int streamsOpen = 0;
    int underruns = 0;  // chunks the speaker had to pad with silence

    MMRESULT OpenCapture(const WAVEFORMATEX &format, CaptureSink *sink,
                         std::unique_ptr<AudioStream> *stream) override;
    MMRESULT OpenPlayback(const WAVEFORMATEX &format, PlaybackSource *source,
                          std::unique_ptr<AudioStream> *stream) override;

private:
    friend class SimCapture;
    friend class SimPlayback;
    Ticks Random(Ticks below);  // in [0, below)
    Ticks NextChunk();
    template <typename F>
    void Callback(F call)
    {
        if (beforeCallback)
            beforeCallback();
        call();
        if (afterCallback)
            afterCallback();
    }
    VirtualClock &clock_;
    uint64_t draws_ = 0;
};

}  // namespace port::sim
