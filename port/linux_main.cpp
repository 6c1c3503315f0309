// Entry point on Linux: the Qt dialog, the sound server and the desktop's
// event sounds behind the layer, then the program's own WinMain.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <QAbstractEventDispatcher>
#include <QApplication>

#include <windows.h>

#include "canberra/canberra_sounds.h"
#include "identity.h"
#include "platform.h"
#include "pulse/pulse_audio.h"
#include "qt/qt_window.h"

namespace {

bool Set(const char *name)
{
    const char *value = getenv(name);
    return value != nullptr && value[0] != '\0';
}

std::string Describe(const char *name)
{
    return Set(name) ? std::string(name) + "=" + getenv(name) : std::string(name) + " not set";
}

// What Qt says while it opens the display, held back: when no display
// can be opened, Qt ends with a fatal message of many lines and abort().
struct HeldMessage {
    QtMsgType type;
    const char *category;  // Qt's logging categories are static strings
    QString text;
};
std::vector<HeldMessage> held;

// Why no display opened, in a few words.
std::string Reason()
{
    for (const HeldMessage &message : held) {
        if (message.text.contains(QLatin1String("find the Qt platform plugin \"wayland\""))) {
            return "Qt's Wayland plugin is not installed (Debian: qt6-wayland)";
        }
    }
    return held.empty() ? "Qt could not start" : held.front().text.toStdString();
}

void HoldBack(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtFatalMsg) {
        fprintf(stderr, "larkspan: no display could be opened (%s, %s): %s\n",
                Describe("WAYLAND_DISPLAY").c_str(), Describe("DISPLAY").c_str(), Reason().c_str());
        _exit(1);  // not exit(): Qt is half started, and its cleanup would crash
    }
    held.push_back({type, context.category, text});
}

// Says what was held back, as Qt would have: one display not opening
// (the Wayland plugin missing) is worth knowing when another one opened.
void SayHeldBack()
{
    for (const HeldMessage &message : held) {
        qt_message_output(message.type, QMessageLogContext(nullptr, 0, nullptr, message.category),
                          message.text);
    }
    held.clear();
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
    // The sound server is heard from inside Qt's waits, on GLib's default
    // context (pulse/pulse_connection.h), so Qt's event loop must be GLib's.
    unsetenv("QT_NO_GLIB");
    // The band is drawn every block; in an image shared with the X server,
    // Qt would first wait for the server to have read the last one, a round
    // trip every block. Sent with the request, the image needs no wait.
    setenv("QT_XCB_NO_MITSHM", "1", 0);

    char programName[] = "larkspan";
    char *qtArgv[] = {argc > 0 ? argv[0] : programName, nullptr};
    int qtArgc = 1;
    const QtMessageHandler qtHandler = qInstallMessageHandler(HoldBack);
    QApplication application(qtArgc, qtArgv);
    qInstallMessageHandler(qtHandler);
    SayHeldBack();
    // On Wayland the window's app id, by which a desktop finds the program's
    // desktop entry, for its name and icon.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(port::kProgramId));
    if (!QAbstractEventDispatcher::instance()->inherits("QEventDispatcherGlib")) {
        fprintf(stderr, "larkspan: this Qt does not wait for events on GLib, which the sound needs\n");
        return 1;
    }

    port::QtWindowBackend window;
    port::PulseAudioBackend audio;
    port::CanberraEventSounds sounds;
    port::UseBackends(&window, &audio, &sounds);

    char commandLine[] = "";
    const int kShowNormal = 1;  // SW_SHOWNORMAL
    return WinMain(nullptr, nullptr, commandLine, kShowNormal);
}
