// The backends the layer runs on, and a fresh start for the tests.
#include "platform.h"

#include <stdio.h>
#include <stdlib.h>

#include "gdi/gdi.h"
#include "user/user.h"
#include "winmm/winmm.h"

namespace port {

namespace {
WindowBackend *window;
AudioBackend *audio;
EventSounds *sounds;

[[noreturn]] void NoBackend()
{
    fprintf(stderr, "larkspan: no window or sound system installed\n");
    abort();
}
}  // namespace

void UseBackends(WindowBackend *w, AudioBackend *a, EventSounds *s)
{
    window = w;
    audio = a;
    sounds = s;
}

WindowBackend &Window()
{
    if (!window)
        NoBackend();
    return *window;
}

AudioBackend &Audio()
{
    if (!audio)
        NoBackend();
    return *audio;
}

EventSounds *Sounds()
{
    return sounds;
}

void ResetLayer()
{
    CloseAllWaveDevices();
    ForgetDialog();
    ForgetGdiObjects();
}

}  // namespace port
