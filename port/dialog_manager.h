// What the rest of the layer asks of the dialog manager (dialog.cpp).
#pragma once

#include <windows.h>

namespace port {

// Whether `hwnd` is the dialog now shown, the one window drawn on.
bool IsDialogWindow(HWND hwnd);
// Whether a message box is open over the dialog. Decided here alone: the
// window system shows and closes the box, and input to the dialog
// meanwhile is dropped here.
bool MessageBoxOpen();
// Forgets the dialog and its message box, as a new process would start.
void ForgetDialog();

}  // namespace port
