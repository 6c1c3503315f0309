// The play clock: the last timing report, run on at the sample rate while
// the server shows signs of life, capped by what was written.
#include "play_clock.h"

#include <algorithm>

namespace port::pulse {

PlayClock::PlayClock(uint32_t rate, int64_t maxCoastUs) : rate_(rate), maxCoastUs_(maxCoastUs) {}

void PlayClock::Reset()
{
    run_ = playing_ = Run();
}

void PlayClock::Wrote(uint64_t frames, int64_t atUs)
{
    if (run_.written == 0)
        run_.firstWriteAt = atUs;
    if (run_.answered >= run_.written)
        Heard(atUs);
    run_.written += frames;
}

void PlayClock::Heard(int64_t atUs)
{
    run_.heardAt = std::max(run_.heardAt, atUs);
}

void PlayClock::Report(int64_t atUs, uint64_t takenFrames, int64_t sinkLatencyUs, bool playing)
{
    // A report older than the one in hand (an answer that crossed a newer
    // one) would only move the clock back.
    if (run_.reported && atUs < run_.reportAt)
        return;
    if (!run_.reported || takenFrames > run_.taken)
        Heard(atUs);
    run_.reported = true;
    run_.reportAt = atUs;
    run_.taken = takenFrames;
    run_.sinkLatencyUs = std::max<int64_t>(sinkLatencyUs, 0);
    run_.playing = playing;
    if (playing)
        playing_ = run_;
}

uint64_t PlayClock::PlayingLine(int64_t nowUs) const
{
    if (!playing_.reported)
        return 0;
    const int64_t frames =
        std::min((int64_t)playing_.taken +
                     (nowUs - playing_.reportAt - playing_.sinkLatencyUs) * (int64_t)rate_ / 1000000,
                 MostFramesBy(nowUs - playing_.firstWriteAt));
    return frames > 0 ? (uint64_t)frames : 0;
}

uint64_t PlayClock::Frames(int64_t nowUs)
{
    int64_t frames = 0;
    if (run_.reported) {
        // A playing stream moves on at the rate while the server lives; one
        // that is not only plays out what the sink held.
        int64_t until = run_.playing ? std::min(nowUs, run_.heardAt + maxCoastUs_)
                                     : std::min(nowUs, run_.reportAt + run_.sinkLatencyUs);
        const int64_t onUs = std::max<int64_t>(until - run_.reportAt, 0) - run_.sinkLatencyUs;
        frames = (int64_t)run_.taken + onUs * (int64_t)rate_ / 1000000;
    }
    // PipeWire at its 1024-frame quantum reports a new stream as taken a
    // quantum before its sink latency counts it: up to 12 ms ahead of what
    // the sample clock can have played since the first frame.
    frames = std::min(frames, MostFramesBy(nowUs - run_.firstWriteAt));
    uint64_t position = frames > 0 ? (uint64_t)frames : 0;
    position = std::min(position, run_.written);
    run_.answered = std::max(run_.answered, position);
    return run_.answered;
}

int64_t PlayClock::TimeAt(uint64_t target) const
{
    if (run_.answered >= target)
        return 0;
    if (target > run_.written || !run_.reported)
        return kNever;
    // The first microsecond the report's line reaches the target, as
    // Frames rounds: toward zero.
    const int64_t ahead = (int64_t)target - (int64_t)run_.taken;
    const int64_t onUs =
        ahead >= 0 ? (ahead * 1000000 + rate_ - 1) / rate_ : 1 - ((1 - ahead) * 1000000 + rate_ - 1) / rate_;
    int64_t at = std::max(run_.reportAt + run_.sinkLatencyUs + onUs, run_.reportAt);
    const int64_t stops = run_.playing ? run_.heardAt + maxCoastUs_ : run_.reportAt + run_.sinkLatencyUs;
    if (at > stops)
        return kNever;
    return std::max(at, run_.firstWriteAt + FirstTimeFor(target));
}

// A sink's clock is not the system's: the test rig's null sink ran 235
// ppm ahead of CLOCK_MONOTONIC over ten minutes of PulseAudio's timing
// reports, and sound cards stray by some hundred ppm either way. Held to
// the system's rate, the clock fell 120 ms behind that sink in about nine
// minutes; the stream then ran dry while the program waited for blocks to
// come back. A sink may run up to 0.1 % fast.
int64_t PlayClock::MostFramesBy(int64_t elapsedUs) const
{
    return (elapsedUs + elapsedUs / 1000) * (int64_t)rate_ / 1000000;
}

int64_t PlayClock::FirstTimeFor(uint64_t frames) const
{
    int64_t us = ((int64_t)frames * 1000000 / rate_) * 1000 / 1001;
    while (MostFramesBy(us) < (int64_t)frames)
        us++;
    while (us > 0 && MostFramesBy(us - 1) >= (int64_t)frames)
        us--;
    return us;
}

}  // namespace port::pulse
