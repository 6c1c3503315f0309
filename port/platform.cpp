// The backends the layer runs on, and a fresh start for the tests.
#include "platform.h"

#include "gdi/gdi.h"
#include "user/user.h"
#include "winmm/winmm.h"

namespace port {

namespace {
WindowBackend *window;
AudioBackend *audio;
EventSounds *sounds;
}  // namespace

void UseBackends(WindowBackend *w, AudioBackend *a, EventSounds *s)
{
    window = w;
    audio = a;
    sounds = s;
}

WindowBackend &Window()
{
    return *window;
}

AudioBackend &Audio()
{
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
