// The X server connection's send buffer, widened through the socket Qt's
// xcb connection writes to.
#include "x11_socket.h"

#include <sys/socket.h>

#include <QGuiApplication>
#include <xcb/xcb.h>

namespace port {

void WidenX11Socket()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return;
    // The kernel grants up to net.core.wmem_max (212,992 bytes by default)
    // and doubles it for the bookkeeping: room for the rows of a whole band
    // at scale 1.
    const int bytes = 4 << 20;
    setsockopt(xcb_get_file_descriptor(x11->connection()), SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}

}  // namespace port
