// Which window system and sound system the layer runs on.
#pragma once

#include "audio_backend.h"
#include "window_backend.h"

namespace port {

// Installs the backends (not owned). Call before WinMain; the tests call it
// again, with fresh backends, for every run.
void UseBackends(WindowBackend *window, AudioBackend *audio);
WindowBackend &Window();
AudioBackend &Audio();

// Forgets every dialog, queued message, wave device and drawing object,
// as a new process would start. Streams still open are closed.
void ResetLayer();

}  // namespace port
