// What the Wayland compositor offers, asked over a connection of our own.
#pragma once

#include <QStringList>

namespace port {

// The interface names of the globals the compositor at WAYLAND_DISPLAY
// (wayland-0 where it is not set) offers, such as "wl_compositor"; none
// where no compositor answers.
QStringList WaylandGlobals();

}  // namespace port
