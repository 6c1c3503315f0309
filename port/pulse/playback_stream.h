// A playback stream on the sound server: the layer's queue goes to the
// server as fast as it takes it, and what the sink has really played is
// reported back from the play clock.
#pragma once

#include <vector>

#include "play_clock.h"
#include "server_stream.h"

namespace port::pulse {

class PlaybackStream final : public ServerStream {
public:
    PlaybackStream(std::shared_ptr<Connection> connection, const WAVEFORMATEX &format,
                   PlaybackSource *source);
    ~PlaybackStream() override;

    void Start() override;
    void Stop() override;

private:
    int ConnectStream(pa_stream *s, pa_stream_flags_t flags) override;

    // With the mainloop locked.
    void StopTicks();
    // Writes what the server has room for: the lead first, then whole
    // frames of what the layer's queue holds.
    void Fill();
    // Silence ahead of the program's data, once a run; false if refused.
    bool WriteLead();
    // Takes up to `frames` frames from the queue into userBuffer_, a partial
    // frame carried over to the next call; answers the whole ones.
    size_t TakeFrames(size_t frames);
    // Those frames as the server's 16-bit samples (8-bit ones converted).
    const int16_t *ServerSamples(size_t frames);
    // To the server; a write it refuses fails the stream.
    bool Write(const int16_t *samples, size_t frames);
    void ReportPlayed();
    void AskTiming();
    void Drain();

    static void OnWrite(pa_stream *s, size_t bytes, void *userdata);
    static void OnUnderflow(pa_stream *s, void *userdata);
    static void OnStarted(pa_stream *s, void *userdata);
    static void OnTiming(pa_stream *s, void *userdata);
    static void OnTick(pa_mainloop_api *, pa_time_event *, const struct timeval *, void *userdata);

    PlaybackSource *const source_;
    const bool eightBit_;
    const uint64_t leadFrames_;
    PlayClock clock_;
    bool running_ = false;
    pa_time_event *tick_ = nullptr;
    uint64_t taken_ = 0;  // bytes Take has given this run
    bool leadWritten_ = false;
    uint64_t writtenFrames_ = 0;  // to the server this run, the lead included
    bool draining_ = false;       // a drain asked for since the last write
    bool playedOnce_ = false;     // the server reported it playing this run
    uint64_t played_ = 0;         // bytes reported to Played this run
    uint8_t carry_[4];            // a partial frame from Take
    size_t carryBytes_ = 0;
    std::vector<uint8_t> userBuffer_;
    std::vector<int16_t> serverBuffer_;
};

}  // namespace port::pulse
