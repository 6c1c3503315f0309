// What the Wayland compositor offers, asked over a connection of our own.
//
// Qt 6.4 keeps its own connection to itself (its native interface for it
// came with 6.5), so this one opens a second, reads the registry's globals
// in one round trip and closes again. A compositor that started the program
// with a socket already open (WAYLAND_SOCKET) gave it to Qt alone; this
// then asks WAYLAND_DISPLAY's, or finds none.
#include "qt/wayland_globals.h"

#include <wayland-client.h>

namespace port {

namespace {

void AddGlobal(void *names, wl_registry *, uint32_t, const char *interface, uint32_t)
{
    static_cast<QStringList *>(names)->append(QString::fromUtf8(interface));
}

void RemoveGlobal(void *, wl_registry *, uint32_t) {}

const wl_registry_listener kListener = {AddGlobal, RemoveGlobal};

}  // namespace

QStringList WaylandGlobals()
{
    QStringList names;
    wl_display *display = wl_display_connect(nullptr);
    if (display == nullptr) {
        return names;
    }
    wl_registry *registry = wl_display_get_registry(display);
    if (registry != nullptr && wl_registry_add_listener(registry, &kListener, &names) == 0 &&
        wl_display_roundtrip(display) < 0) {
        names.clear();  // the connection broke: what came may not be all
    }
    if (registry != nullptr) {
        wl_registry_destroy(registry);
    }
    wl_display_disconnect(display);
    return names;
}

}  // namespace port
