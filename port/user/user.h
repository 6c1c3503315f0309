// What the rest of the layer uses of its window manager (USER32: the
// dialog, its message queue and message boxes): the dialog's template and
// its units, and the calls below.
#pragma once

#include <windows.h>

#include "dialog_template.h"
#include "dialog_units.h"

namespace port {

// Whether `hwnd` is the dialog now shown, the one window drawn on.
bool IsDialogWindow(HWND hwnd);
// Whether a message box is open over the dialog. Decided here alone: the
// window system shows and closes the box, and input to the dialog
// meanwhile is dropped here.
bool MessageBoxOpen();
// Forgets the dialog, its message box and its queue, as a new process would
// start.
void ForgetDialog();

}  // namespace port
