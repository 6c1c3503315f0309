// A virtual clock for the simulated platform: time is counted in the
// program's samples and moves only from one scheduled event to the next.
#pragma once

#include <stdint.h>

#include <functional>
#include <queue>
#include <vector>

#include "../audio_backend.h"

namespace port::sim {

using Ticks = int64_t;
constexpr Ticks kSampleRate = port::kSampleRate;

constexpr Ticks Ms(int64_t ms)
{
    return (ms * kSampleRate + 500) / 1000;
}

class VirtualClock {
public:
    Ticks Now() const { return now_; }
    // Events at the same time run in the order they were scheduled.
    void At(Ticks when, std::function<void()> action);
    void After(Ticks delay, std::function<void()> action) { At(now_ + delay, std::move(action)); }
    // Moves to the earliest event and runs it; false when none is left.
    bool RunNext();
    bool Idle() const { return events_.empty(); }
    // Numbers what the user sees and hears (boxes, beeps, sounds) as it
    // happens, so that their order shows even at the same tick.
    int NextSighting() { return sightings_++; }
    // Runs every event due now, and only those.
    void RunDue()
    {
        while (!events_.empty() && events_.top().when <= now_)
            RunNext();
    }

private:
    struct Event {
        Ticks when;
        uint64_t order;
        std::function<void()> action;
        bool operator>(const Event &other) const
        {
            return when != other.when ? when > other.when : order > other.order;
        }
    };
    std::priority_queue<Event, std::vector<Event>, std::greater<Event>> events_;
    Ticks now_ = 0;
    uint64_t order_ = 0;
    int sightings_ = 0;
};

}  // namespace port::sim
