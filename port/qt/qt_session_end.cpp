// The session ends the program as the close box does. Logging out sends
// SIGTERM, a closed terminal SIGHUP, Ctrl+C SIGINT: each becomes the close
// request on the dialog's thread, so both sound devices are closed, the
// server drops nothing half-used, and the program exits with 0.
#include <signal.h>

#include <glib-unix.h>
#include <unistd.h>

#include <QMessageBox>

#include "qt/qt_window.h"

namespace port {

void QtWindowBackend::ListenForSessionEnd()
{
    // GLib's signal sources run in the thread's default context, the one
    // Qt's event loop waits on.
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        sessionSources_.push_back(g_unix_signal_add(
            signal,
            [](gpointer self) {
                static_cast<QtWindowBackend *>(self)->EndSession();
                return gboolean(G_SOURCE_CONTINUE);
            },
            this));
    }
}

void QtWindowBackend::StopListeningForSessionEnd()
{
    for (unsigned source : sessionSources_) {
        g_source_remove(source);
    }
    sessionSources_.clear();
}

void QtWindowBackend::EndSession()
{
    if (messageBox_ != nullptr) {
        // Each of the program's messages ends it once answered.
        messageBox_->accept();
    } else if (Accepting()) {
        input_->CloseClicked();
    } else {
        _exit(0);  // no dialog: nothing open to close
    }
}

}  // namespace port
