// The desktop's event sounds through libcanberra: the freedesktop sound
// theme's sound for each MessageBeep type, played on the sound server as an
// event (so volume controls list it with the system sounds).
#pragma once

#include <memory>
#include <thread>

#include "event_sounds.h"

namespace port {

// libcanberra can wait on a server that does not answer for as long as
// libpulse does (30 s), so it runs on a thread of its own; Play waits for
// it a short while and otherwise leaves the sound to the bell.
class CanberraEventSounds : public EventSounds {
public:
    CanberraEventSounds();
    ~CanberraEventSounds() override;
    CanberraEventSounds(const CanberraEventSounds &) = delete;
    CanberraEventSounds &operator=(const CanberraEventSounds &) = delete;

    bool Play(unsigned type) override;

    // The sound theme's name for a MessageBeep type.
    static const char *EventId(unsigned type);

private:
    struct Player;
    // Shared with the thread, which outlives this object if it is stuck.
    std::shared_ptr<Player> player_;
    std::thread thread_;
};

}  // namespace port
