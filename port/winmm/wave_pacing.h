// Pacing: playback kept in step with capture, as on a duplex sound card.
//
// On a duplex card one clock drives both directions, so a program that
// refills each played block from the latest captured one always finds it
// there. Two streams of a sound server have no such bond: a server that is
// held up delivers capture late, in a burst, while the play clock runs on,
// and the program would play one block twice and lose the next. So a played
// block goes back to the program only once the capture device playback
// follows has filled a block since the last one went back (then right
// after it, whatever the two streams' positions: a server that comes back
// after a restart places them afresh), or once the blocks queued after it
// keep the device playing for no more than kRefillMs: long enough for the
// program to refill it in time, and devices on clocks of their own still
// drift apart as they would on Windows. A block that goes back that way
// while capture has heard nothing since the block before went back finds
// its source silent (suspended, gone, the server away or stalled): capture
// first hands back what it holds, with silence for what did not come, so
// that the program refills the block with that and not with the last block
// it captured yet again.
#pragma once

#include <stdint.h>

namespace port {

// How far a device's stream has got since it started: bytes heard or
// played, at the device's rate, and for capture the blocks it filled.
struct StreamClock {
    uint64_t bytes = 0;
    uint64_t bytesPerSecond = 0;
    uint64_t blocks = 0;
};

class Pacing {
public:
    static constexpr uint64_t kRefillMs = 70;

    // Playback follows the capture device started last, by the blocks it
    // fills, until that device stops or closes.
    void Follow(const StreamClock *capture)
    {
        capture_ = capture;
        blocksSeen_ = capture->blocks;
    }
    bool Follows(const StreamClock *capture) const { return capture_ && capture_ == capture; }
    // `capture` stopped or closed: true if playback followed it, and blocks
    // that waited for it may go now.
    bool Drop(const StreamClock *capture);
    void Clear() { capture_ = nullptr; }

    // Whether a block that `playback` has played may go back, while the
    // blocks queued after it end at `queuedEnd`.
    bool MayHandBack(const StreamClock &playback, uint64_t queuedEnd) const;
    // The fewest bytes `playback` must have played for MayHandBack to say
    // yes, with capture where it is now: 0 when it would already.
    uint64_t PlayedMark(const StreamClock &playback, uint64_t queuedEnd) const;
    // A played block went back.
    void HandedBack();
    // The bytes the capture device followed must have heard to have heard
    // as far as `end` of `playback`.
    uint64_t HeardMark(const StreamClock &playback, uint64_t end) const;

private:
    const StreamClock *capture_ = nullptr;
    uint64_t blocksSeen_ = 0;  // capture's blocks as the last played one went back
};

}  // namespace port
