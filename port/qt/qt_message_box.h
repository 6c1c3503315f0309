// Message boxes on Qt, as MessageBoxA shows them: window-modal over the
// dialog, the Win32 icon, one OK button without an icon, Ctrl+C copying
// their text.
#pragma once

#include <QString>

class QMessageBox;
class QWidget;

namespace port {

// A box owned by `owner` (deleted with it), not shown yet; `type` holds the
// MB_ICON* bits. `ownTitleBar`: frameless, with the program's title bar
// (qt_title_bar.h), as the dialog has where the compositor draws none.
QMessageBox *CreateMessageBox(QWidget *owner, const QString &text, const QString &caption, unsigned type,
                              bool ownTitleBar);

}  // namespace port
