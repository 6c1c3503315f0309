// System commands on Qt, as Windows carries them out: moving and sizing
// with the pointer, minimizing, maximizing and restoring.
#pragma once

#include <Qt>

class QWidget;

namespace port {

// WM_SYSCOMMAND's wParam for a press on the frame: SC_MOVE on the title bar
// (no edges), SC_SIZE with the edges held otherwise.
unsigned FrameCommand(Qt::Edges edges);
// Carries out `command` on the top-level `window`; commands with no
// counterpart here (the system menu, task switching) do nothing.
void CarryOutSystemCommand(QWidget *window, unsigned command);

}  // namespace port
