// The connection to the X server, where the dialog is on one.
#pragma once

namespace port {

// Lets the connection's socket take a block's waveform at once. On X11 the
// band's changed rows go to the server through that socket after every
// block: a tone's rows at scale 1 are 183 KB, more than a socket takes by
// default (212,992 bytes of kernel memory, which the data and its
// bookkeeping share), so the write waited for the server to read some, a
// wake of its own every block. Does nothing elsewhere (Wayland).
void WidenX11Socket();

}  // namespace port
