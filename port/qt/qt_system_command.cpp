// System commands on Qt: a frame press as Windows names it, and what the
// default processing does with a command.
#include "qt/qt_system_command.h"

#include <windows.h>

#include <QWidget>
#include <QWindow>

#include "qt/qt_window.h"

namespace port {

namespace {

// SC_SIZE names in its low four bits the frame edge the pointer holds;
// without one (the system menu's Size) the bottom-right corner moves.
const struct {
    unsigned side;
    Qt::Edges edges;
} kSides[] = {
    {WMSZ_LEFT, Qt::LeftEdge},
    {WMSZ_RIGHT, Qt::RightEdge},
    {WMSZ_TOP, Qt::TopEdge},
    {WMSZ_TOPLEFT, Qt::TopEdge | Qt::LeftEdge},
    {WMSZ_TOPRIGHT, Qt::TopEdge | Qt::RightEdge},
    {WMSZ_BOTTOM, Qt::BottomEdge},
    {WMSZ_BOTTOMLEFT, Qt::BottomEdge | Qt::LeftEdge},
    {WMSZ_BOTTOMRIGHT, Qt::BottomEdge | Qt::RightEdge},
};

// Where on a frame the pointer was pressed, in SC_MOVE's low bits.
constexpr unsigned kCaption = 2;  // HTCAPTION

}  // namespace

unsigned FrameCommand(Qt::Edges edges)
{
    for (const auto &side : kSides) {
        if (side.edges == edges) {
            return SC_SIZE | side.side;
        }
    }
    return SC_MOVE | kCaption;
}

void CarryOutSystemCommand(QWidget *window, unsigned command)
{
    QWindow *handle = window->windowHandle();
    switch (command & 0xFFF0) {
    case SC_MOVE:
        // The window manager moves it while the pointer is held down.
        if (handle != nullptr) {
            handle->startSystemMove();
        }
        break;
    case SC_SIZE: {
        Qt::Edges edges = Qt::BottomEdge | Qt::RightEdge;
        for (const auto &side : kSides) {
            if (side.side == (command & 0xF)) {
                edges = side.edges;
            }
        }
        if (handle != nullptr) {
            handle->startSystemResize(edges);
        }
        break;
    }
    default:
        // The system menu, task switching and the like have no counterpart.
        break;
    }
}

void QtWindowBackend::SystemCommand(unsigned command)
{
    if (QWidget *dialog = DialogWidget()) {
        CarryOutSystemCommand(dialog, command);
    }
}

}  // namespace port
