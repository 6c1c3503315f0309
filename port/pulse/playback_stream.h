// A playback stream on the sound server: the layer's queue goes to the
// server as fast as it takes it, and what the sink has really played is
// reported back from the play clock, when the layer next needs to know.
#pragma once

#include <vector>

#include "play_clock.h"
#include "server_stream.h"

namespace port::pulse {

class PlaybackStream final : public ServerStream {
public:
    PlaybackStream(std::shared_ptr<Connection> connection, PlaybackSource *source);
    ~PlaybackStream() override;

    void Start() override;
    void Stop() override;
    void Queued() override;

    // What the layer queues is taken at the next wake, due at once.
    pa_usec_t NextWake() const override { return !running_ ? kNever : queued_ && stream_ ? 0 : wake_; }
    // Run dry, it waits for the server to say so (and drains the stream);
    // stalled, for any sign that the server plays again; opened again,
    // for the new stream to be ready.
    bool Awaiting(pa_usec_t now) const override;
    // Reports what was played, writes what the server has room for, and
    // asks the server for its timing, which the next wake reads.
    void Woken(pa_usec_t now) override;

private:
    int ConnectStream(pa_stream *s, pa_stream_flags_t flags) override;

    // Writes all the queue holds, as the server's 16-bit samples.
    void Fill();
    // To the server; a write it refuses fails the stream.
    bool Write(const int16_t *samples, size_t frames);
    void ReportPlayed(int64_t now);
    // The server takes nothing (no stream, or it stalled): what is queued
    // plays into nothing at the rate; answers the bytes played by `now`.
    uint64_t PlayIntoNothing(int64_t now);
    // Once a new server stream plays: drops what is needed to be back in
    // place.
    void Realign(int64_t now);
    bool Away(int64_t now) const;
    void Unheld(int64_t now);
    // The program's bytes this server stream never got: played into
    // nothing, or written to a stream the server lost.
    uint64_t Skipped() const { return taken_ - writtenFrames_; }
    // A new server stream: nothing written to it yet.
    void NewServerStream();
    void AskTiming();
    void Drain();
    // The next wake: when the clock reaches what the layer waits for.
    // `inWake`: called by a wake, once everything the server sent is read.
    void Plan(int64_t now, bool inWake);
    // When the clock reaches the layer's next mark, or PlayClock::kNever.
    int64_t MarkTime() const;

    static void OnWrite(pa_stream *s, size_t bytes, void *userdata);
    static void OnUnderflow(pa_stream *s, void *userdata);
    static void OnStarted(pa_stream *s, void *userdata);
    static void OnTiming(pa_stream *s, void *userdata);

    PlaybackSource *const source_;
    PlayClock clock_;
    bool running_ = false;
    pa_usec_t wake_ = kNever;
    bool queued_ = false;                  // queued since the last wake, not taken yet
    int64_t askedAt_ = 0;                  // the last timing asked for by a wake
    uint64_t taken_ = 0;                   // bytes Take has given this run
    uint64_t writtenFrames_ = 0;           // to this server stream
    bool draining_ = false;                // a drain asked for since the last write
    bool playedOnce_ = false;              // the server reported it playing this run
    bool held_ = false;                    // it holds sound it stopped playing
    uint64_t played_ = 0;                  // bytes reported to Played this run
    int64_t awayAt_ = PlayClock::kNever;   // playing into nothing from then,
    uint64_t awayPlayed_ = 0;              // from this many bytes played,
    uint64_t lost_ = 0;                    // at least until these, which a lost stream had
    int64_t placeAt_ = PlayClock::kNever;  // a new stream: where the sound would be,
    uint64_t placePlayed_ = 0;             // from where it was then,
    uint64_t skip_ = 0;                    // and what is still to drop to be there
    std::vector<uint8_t> program_;         // what Take gave, in the program's samples
    std::vector<int16_t> server_;          // the same in the server's
};

}  // namespace port::pulse
