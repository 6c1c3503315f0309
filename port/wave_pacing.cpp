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

bool Pacing::MayHandBack(const StreamClock &playback, uint64_t end, uint64_t queuedEnd) const
{
    if (!capture_)
        return true;
    // Compared as times: capture's bytes over its rate against ours.
    const bool heard = capture_->bytes * playback.bytesPerSecond >= end * capture_->bytesPerSecond;
    return heard || playback.bytes + kRefillMs * playback.bytesPerSecond / 1000 >= queuedEnd;
}

}  // namespace port
