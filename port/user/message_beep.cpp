// MessageBeep: the desktop's event sound on the sound server; the display's
// bell where there is no server to play it (or no sound for the type).
#include <windows.h>

#include "platform.h"

BOOL WINAPI MessageBeep(UINT uType)
{
    port::EventSounds *sounds = port::Sounds();
    if (!sounds || !sounds->Play(uType))
        port::Window().Beep(uType);
    return TRUE;
}
