// What assistive technology (a screen reader, through AT-SPI) is told about
// the dialog, its push buttons and the title bar the program draws itself.
#pragma once

class QWidget;

namespace port {

// Answers for the dialog's window and buttons from now on; call once the
// QApplication exists, before the dialog is built.
void InstallDialogAccessibility();

// Marks the dialog's top-level window.
void MarkDialogWindow(QWidget *dialog);
// Marks the title bar the program draws itself: named by its window's caption.
void MarkTitleBar(QWidget *bar);
// Marks a push button of the dialog; `tabStop`: the dialog manager can
// give it the keyboard focus (WS_TABSTOP).
void MarkDialogButton(QWidget *button, bool tabStop);

}  // namespace port
