// The sound server's event sounds, simulated: a record of each one played.
#pragma once

#include <vector>

#include "../event_sounds.h"
#include "virtual_clock.h"

namespace port::sim {

struct EventSoundRecord {
    unsigned type;
    Ticks at;
    int order;  // among the boxes, beeps and event sounds
};

class SimEventSounds : public EventSounds {
public:
    explicit SimEventSounds(VirtualClock &clock) : clock_(clock) {}

    // Whether there is a server to play them on, and what was played.
    bool server = true;
    std::vector<EventSoundRecord> played;

    bool Play(unsigned type) override
    {
        if (server)
            played.push_back({type, clock_.Now(), clock_.NextSighting()});
        return server;
    }

private:
    VirtualClock &clock_;
};

}  // namespace port::sim
