// The system commands a dialog procedure leaves to the default processing,
// carried out on Qt as Windows carries them out: moving and sizing with the
// pointer, minimizing, maximizing and restoring.
#include "qt/qt_window.h"

#include <windows.h>

#include <QWidget>
#include <QWindow>

namespace port {

namespace {

// SC_SIZE names in its low four bits the frame edge the pointer holds;
// without one (the system menu's Size) the bottom-right corner moves.
Qt::Edges SizingEdges(unsigned command)
{
    switch (command & 0xF) {
    case WMSZ_LEFT:
        return Qt::LeftEdge;
    case WMSZ_RIGHT:
        return Qt::RightEdge;
    case WMSZ_TOP:
        return Qt::TopEdge;
    case WMSZ_TOPLEFT:
        return Qt::TopEdge | Qt::LeftEdge;
    case WMSZ_TOPRIGHT:
        return Qt::TopEdge | Qt::RightEdge;
    case WMSZ_BOTTOM:
        return Qt::BottomEdge;
    case WMSZ_BOTTOMLEFT:
        return Qt::BottomEdge | Qt::LeftEdge;
    default:
        return Qt::BottomEdge | Qt::RightEdge;
    }
}

}  // namespace

void QtWindowBackend::SystemCommand(unsigned command)
{
    QWidget *dialog = DialogWidget();
    if (dialog == nullptr) {
        return;
    }
    QWindow *window = dialog->windowHandle();
    switch (command & 0xFFF0) {
    case SC_MOVE:
        // The window manager moves it while the pointer is held down.
        if (window != nullptr) {
            window->startSystemMove();
        }
        break;
    case SC_SIZE:
        if (window != nullptr) {
            window->startSystemResize(SizingEdges(command));
        }
        break;
    case SC_MINIMIZE:
        dialog->showMinimized();
        break;
    case SC_MAXIMIZE:
        dialog->showMaximized();
        break;
    case SC_RESTORE:
        dialog->showNormal();
        break;
    default:
        // The system menu, task switching and the like have no counterpart.
        break;
    }
}

}  // namespace port
