// The sounds the desktop plays for a program's warnings: what MessageBeep
// asks for. The sound server's event sounds on a desktop, a record of them
// in the tests.
#pragma once

namespace port {

class EventSounds {
public:
    virtual ~EventSounds() = default;
    // Starts the desktop's sound for a MessageBeep type (MB_ICONEXCLAMATION,
    // ...) and answers whether it plays; false when there is no sound server
    // to play it on, and the caller rings the display's bell instead.
    virtual bool Play(unsigned type) = 0;
};

}  // namespace port
