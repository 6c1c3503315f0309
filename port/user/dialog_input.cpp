// What the user's clicks and keys mean to a dialog: a click or Space or
// Enter presses a button, Tab moves the focus, Escape cancels, Alt+F4
// closes.
#include <windows.h>

#include "dialog_state.h"

namespace port {

namespace {

bool IsPushButton(const Control &c)
{
    return c.className == "Button" && (c.style & 0xF) <= BS_DEFPUSHBUTTON;
}

// A button a click, Space or Enter can press now.
bool Pressable(const Control &c)
{
    return c.enabled && (c.style & WS_VISIBLE) && IsPushButton(c);
}

void Command(int id, HWND control)
{
    Deliver(WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)control);
}

void Press(int index)
{
    const Control &c = dialog.controls[index];
    if (Pressable(c))
        Command(c.id, c.hwnd);
}

void MoveFocus(bool backwards)
{
    int n = (int)dialog.controls.size();
    int start = dialog.focus >= 0 ? dialog.focus : (backwards ? 0 : n - 1);
    for (int step = 1; step <= n; step++) {
        int i = ((start + (backwards ? -step : step)) % n + n) % n;
        if (CanFocus(dialog.controls[i])) {
            SetFocusIndex(i);
            return;
        }
    }
}

// What a key means to a dialog: Tab moves the focus, Space and Enter press
// the focused button, Escape cancels.
void Key(int vk, int modifiers)
{
    bool focusedButton = dialog.focus >= 0 && IsPushButton(dialog.controls[dialog.focus]);
    switch (vk) {
    case VK_TAB:
        MoveFocus(modifiers & kShift);
        break;
    case VK_SPACE:
        if (focusedButton)
            Press(dialog.focus);
        break;
    case VK_RETURN:
        // The template has no default button: Enter elsewhere is IDOK.
        if (focusedButton)
            Press(dialog.focus);
        else
            Command(IDOK, nullptr);
        break;
    case VK_ESCAPE:
        Command(IDCANCEL, nullptr);
        break;
    case VK_F4:
        if (modifiers & kAlt)
            Deliver(WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    }
}

}  // namespace

bool CanFocus(const Control &c)
{
    return c.enabled && (c.style & WS_VISIBLE) && (c.style & WS_TABSTOP);
}

void HandleInput(const InputEvent &event)
{
    switch (event.kind) {
    case InputEvent::kClick:
        for (size_t i = 0; i < dialog.controls.size(); i++) {
            const Control &c = dialog.controls[i];
            // A click counts only on a button that is still enabled now.
            if (c.id == event.id && Pressable(c)) {
                SetFocusIndex((int)i);
                Command(c.id, c.hwnd);
                return;
            }
        }
        break;
    case InputEvent::kKey:
        Key(event.vk, event.modifiers);
        break;
    case InputEvent::kClose:
        Deliver(WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    case InputEvent::kFrame:
        // As the frame's own: left to the default processing, which moves
        // or sizes the window while the button is held.
        Deliver(WM_SYSCOMMAND, (WPARAM)(unsigned)event.id, 0);
        break;
    }
}

}  // namespace port
