// Pacing: when a played block may go back to the program.
#include "wave_pacing.h"

namespace port {

bool Pacing::Drop(const StreamClock *capture)
{
    if (!Follows(capture))
        return false;
    capture_ = nullptr;
    return true;
}

uint64_t Pacing::HeardMark(const StreamClock &playback, uint64_t end) const
{
    // Compared as times: capture's bytes over its rate against ours.
    return capture_ ? (end * capture_->bytesPerSecond + playback.bytesPerSecond - 1) / playback.bytesPerSecond
                    : 0;
}

bool Pacing::MayHandBack(const StreamClock &playback, uint64_t queuedEnd) const
{
    return playback.bytes >= PlayedMark(playback, queuedEnd);
}

void Pacing::HandedBack()
{
    if (capture_)
        blocksSeen_ = capture_->blocks;
}

uint64_t Pacing::PlayedMark(const StreamClock &playback, uint64_t queuedEnd) const
{
    if (!capture_ || capture_->blocks > blocksSeen_)
        return 0;
    const uint64_t refill = kRefillMs * playback.bytesPerSecond / 1000;
    return queuedEnd > refill ? queuedEnd - refill : 0;
}

}  // namespace port
