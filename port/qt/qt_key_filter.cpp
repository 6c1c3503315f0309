// The dialog's navigation keys, from Qt's key events to VK codes.
#include "qt/qt_key_filter.h"

#include <windows.h>

#include <QKeyEvent>

#include "window_backend.h"

namespace port {

namespace {

int ModifiersOf(Qt::KeyboardModifiers qt)
{
    int modifiers = 0;
    if (qt & Qt::ShiftModifier) {
        modifiers |= kShift;
    }
    if (qt & Qt::AltModifier) {
        modifiers |= kAlt;
    }
    if (qt & Qt::ControlModifier) {
        modifiers |= kControl;
    }
    return modifiers;
}

// The VK code of a key the dialog manager handles itself, or 0.
int DialogKey(const QKeyEvent &key)
{
    switch (key.key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return VK_TAB;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return VK_RETURN;
    case Qt::Key_Space:
        return VK_SPACE;
    case Qt::Key_Escape:
        return VK_ESCAPE;
    case Qt::Key_F4:
        return (key.modifiers() & Qt::AltModifier) ? VK_F4 : 0;
    default:
        return 0;
    }
}

}  // namespace

DialogKeyFilter::DialogKeyFilter(std::function<void(int vk, int modifiers)> onKey, QObject *parent)
    : QObject(parent), onKey_(std::move(onKey))
{
}

bool DialogKeyFilter::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride) {
        return QObject::eventFilter(watched, event);
    }
    const auto *key = static_cast<QKeyEvent *>(event);
    const int vk = DialogKey(*key);
    if (vk == 0) {
        return QObject::eventFilter(watched, event);
    }
    if (type == QEvent::ShortcutOverride) {
        // Accepted, so no shortcut takes the key and it arrives as a press.
        event->accept();
        return true;
    }
    // A held Space still presses a button only once.
    if (type == QEvent::KeyPress && onKey_ && !(vk == VK_SPACE && key->isAutoRepeat())) {
        int modifiers = ModifiersOf(key->modifiers());
        if (key->key() == Qt::Key_Backtab) {
            modifiers |= kShift;
        }
        onKey_(vk, modifiers);
    }
    return true;
}

}  // namespace port
