// How far a playback stream has really played: the frames of the program's
// data the sink has put out by now, worked out from the sound server's
// timing reports. It knows nothing of the server itself, so that its rules
// can be tried with made-up reports.
#pragma once

#include <stdint.h>

namespace port::pulse {

class PlayClock {
public:
    // `rate` frames a second. Between reports the clock runs on by itself,
    // but never further than `maxCoastUs` past the last sign of life from
    // the server: a server that is held up plays nothing either.
    PlayClock(uint32_t rate, int64_t maxCoastUs);

    // A new run: nothing written, nothing played, earlier reports forgotten.
    void Reset();
    // `frames` more went to the server at `atUs`; written after all before
    // had played, they start the server's playing again.
    void Wrote(uint64_t frames, int64_t atUs);
    // The server showed at `atUs` that it plays: it asked for data, or
    // reported having taken more.
    void Heard(int64_t atUs);
    // The server holds frames it was to have played by now, and has not
    // shown since, for longer than the clock runs on by itself: it is
    // stalled, or its device is suspended.
    bool Stalled(int64_t nowUs) const
    {
        return run_.written > run_.answered && nowUs >= run_.heardAt + maxCoastUs_;
    }
    // A timing report, current at `atUs`: the server had taken
    // `takenFrames` of the stream, of which the sink still held
    // `sinkLatencyUs`; and the stream was playing, or not (corked, or run
    // dry, when the sink only plays out what it holds).
    void Report(int64_t atUs, uint64_t takenFrames, int64_t sinkLatencyUs, bool playing);

    // Frames put out by `nowUs`: never more than was written, nor than the
    // rate allows since the first frame was, never fewer than before.
    uint64_t Frames(int64_t nowUs);
    // When Frames will first answer `frames` or more, if no
    // report comes meanwhile: kNever if it cannot (not written yet, no
    // report yet, or the clock stops short of it).
    static constexpr int64_t kNever = INT64_MAX;
    int64_t TimeAt(uint64_t frames) const;
    // Frames put out by `nowUs` had the stream gone on as the last report
    // that found it playing said, at the rate, within what the sample clock
    // allows since the first frame (as Frames); 0 before any did.
    uint64_t PlayingLine(int64_t nowUs) const;

private:
    // The most frames a sink can have played `elapsedUs` after the first
    // frame was written, and the first elapsed time that allows `frames`.
    int64_t MostFramesBy(int64_t elapsedUs) const;
    int64_t FirstTimeFor(uint64_t frames) const;

    const uint32_t rate_;
    const int64_t maxCoastUs_;

    // What a run has learnt.
    struct Run {
        uint64_t written = 0;
        int64_t firstWriteAt = 0;
        uint64_t answered = 0;
        bool reported = false;
        int64_t reportAt = 0;
        uint64_t taken = 0;
        int64_t sinkLatencyUs = 0;
        bool playing = false;
        int64_t heardAt = 0;
    };
    Run run_;
    Run playing_;  // the last report that found it playing
};

}  // namespace port::pulse
