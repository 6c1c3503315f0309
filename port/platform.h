// Which window system and sound system the layer runs on.
#pragma once

#include "audio_backend.h"
#include "event_sounds.h"
#include "window_backend.h"

namespace port {

// Installs the backends (not owned). Call before WinMain; the tests call it
// again, with fresh backends, for every run. Without event sounds every
// MessageBeep is the display's bell.
void UseBackends(WindowBackend *window, AudioBackend *audio, EventSounds *sounds = nullptr);
WindowBackend &Window();
AudioBackend &Audio();
EventSounds *Sounds();  // or null

// Forgets every dialog, queued message, wave device and drawing object,
// as a new process would start. Streams still open are closed.
void ResetLayer();

}  // namespace port
