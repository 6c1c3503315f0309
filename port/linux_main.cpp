// Entry point on Linux: the Qt dialog, the sound server and the desktop's
// event sounds behind the layer, then the program's own WinMain.
#include <stdio.h>
#include <stdlib.h>

#include <QApplication>

#include <windows.h>

#include "canberra/canberra_sounds.h"
#include "platform.h"
#include "pulse/pulse_audio.h"
#include "qt/qt_window.h"

namespace {

bool Set(const char *name)
{
    const char *value = getenv(name);
    return value != nullptr && value[0] != '\0';
}

}  // namespace

int main(int argc, char **argv)
{
    // Without a display Qt would abort with a long explanation; say it in one line.
    if (!Set("QT_QPA_PLATFORM") && !Set("DISPLAY") && !Set("WAYLAND_DISPLAY")) {
        fprintf(stderr,
                "larkspan: no display to open a window on (DISPLAY and WAYLAND_DISPLAY are not set)\n");
        return 1;
    }

    // The program takes no arguments, and Qt must not read its own options
    // (-style, -platform, ...) from them either.
    char programName[] = "larkspan";
    char *qtArgv[] = {argc > 0 ? argv[0] : programName, nullptr};
    int qtArgc = 1;
    QApplication application(qtArgc, qtArgv);

    port::QtWindowBackend window;
    port::PulseAudioBackend audio;
    port::CanberraEventSounds sounds;
    port::UseBackends(&window, &audio, &sounds);

    char commandLine[] = "";
    const int kShowNormal = 1;  // SW_SHOWNORMAL
    return WinMain(nullptr, nullptr, commandLine, kShowNormal);
}
