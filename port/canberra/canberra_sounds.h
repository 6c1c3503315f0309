// The desktop's event sounds through libcanberra: the freedesktop sound
// theme's sound for each MessageBeep type, played on the sound server as an
// event (so volume controls list it with the system sounds).
#pragma once

#include <glib.h>

#include "event_sounds.h"

struct ca_context;

namespace port {

// libcanberra plays by itself once its context is open, but opening waits
// on a server that does not answer for as long as libpulse does (30 s). So
// the server is asked first, for a short while, and otherwise the sound is
// left to the bell. Everything happens on the dialog's thread: a look now
// and then, in its GLib context, drops the context (and the connection)
// once the sound is done.
class CanberraEventSounds : public EventSounds {
public:
    CanberraEventSounds() = default;
    ~CanberraEventSounds() override;
    CanberraEventSounds(const CanberraEventSounds &) = delete;
    CanberraEventSounds &operator=(const CanberraEventSounds &) = delete;

    bool Play(unsigned type) override;

    // The sound theme's name for a MessageBeep type.
    static const char *EventId(unsigned type);

private:
    static gboolean LookAgain(gpointer self);
    void Drop();

    ca_context *context_ = nullptr;
    GSource *look_ = nullptr;  // while a sound plays
};

}  // namespace port
