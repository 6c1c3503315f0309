// The dialog manager: the modal dialog and its controls, the modal message
// loop, message boxes and sent and posted messages. What the user's clicks
// and keys mean to the dialog is in dialog_input.cpp.

#include <windows.h>

#include "dialog_state.h"
#include "dialog_template.h"
#include "message_queue.h"
#include "platform.h"
#include "sound_timeline.h"
#include "user.h"

namespace port {

Dialog dialog;

namespace {

// Set while MessageBoxA shows a box, until the window system says it closed.
bool boxOpen = false;

uintptr_t generation = 0;
// The dialog PostMessageA posts to.
HWND liveDialog = nullptr;

void DefaultProcessing(UINT message, WPARAM wParam)
{
    if (message != WM_SYSCOMMAND)
        return;
    // As on Windows, the low four bits of a system command are the
    // system's own, so they are not looked at here.
    if ((wParam & 0xFFF0) == SC_CLOSE) {
        // The close box of a dialog that does not handle it means Cancel.
        SendMessageA(dialog.hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return;
    }
    // Moving, sizing, minimizing: the window system's business.
    Window().SystemCommand((unsigned)LOWORD(wParam));
}

// A focused control that was disabled passes the focus on to the next one
// that can take it, once the message that disabled it is handled, so that
// a control it enabled too can: Record's click enables Stop. Windows'
// dialog manager would leave the focus on the disabled button, where keys
// and screen readers find nothing; Qt moves it on, as here.
void PassFocusOn()
{
    const int from = dialog.disabled;
    dialog.disabled = -1;
    if (from < 0 || dialog.focus >= 0 || !dialog.active || dialog.ended)
        return;
    const int count = (int)dialog.controls.size();
    for (int step = 1; step <= count; step++)
        if (CanFocus(dialog.controls[(from + step) % count])) {
            SetFocusIndex((from + step) % count);
            return;
        }
}

// One step of a message loop: a posted message if one waits, else user
// input if allowed, else wait for the window system or a device.
void RunOnce(bool takeInput)
{
    Message message;
    if (Queue().TakePosted(&message)) {
        if (dialog.active && !dialog.ended && message.hwnd == dialog.hwnd) {
            Timeline("deliver", message.message);
            Deliver(message.message, message.wParam, message.lParam);
            PassFocusOn();
        }
        return;
    }
    InputEvent event;
    if (takeInput && Queue().TakeInput(&event)) {
        if (dialog.active && !dialog.ended) {
            HandleInput(event);
            PassFocusOn();
        }
        return;
    }
    Window().WaitForEvents();
}

}  // namespace

// Input that reaches a dialog under a message box is lost, as it is for a
// disabled owner window.
void Dialog::Push(const InputEvent &event)
{
    if (!boxOpen)
        Queue().PushInput(event);
}

void SetFocusIndex(int index)
{
    dialog.focus = index;
    Window().SetFocusControl(index >= 0 ? dialog.controls[index].id : 0);
}

LRESULT Deliver(UINT message, WPARAM wParam, LPARAM lParam)
{
    INT_PTR handled = dialog.proc(dialog.hwnd, message, wParam, lParam);
    if (!handled)
        DefaultProcessing(message, wParam);
    return handled;
}

bool IsDialogWindow(HWND hwnd)
{
    return dialog.active && hwnd && hwnd == dialog.hwnd;
}

bool MessageBoxOpen()
{
    return boxOpen;
}

void ForgetDialog()
{
    dialog = Dialog();
    liveDialog = nullptr;
    boxOpen = false;
    Queue().Clear();
}

}  // namespace port

using namespace port;

INT_PTR WINAPI DialogBoxParamA(HINSTANCE, LPCSTR lpTemplateName, HWND, DLGPROC lpDialogFunc,
                               LPARAM dwInitParam)
{
    const DialogTemplate *tmpl = FindDialogTemplate(lpTemplateName);
    if (!tmpl || !lpDialogFunc || dialog.active)
        return -1;

    generation++;
    uintptr_t base = generation << 12;
    dialog = Dialog();
    dialog.hwnd = (HWND)(base | 0x800);
    dialog.proc = lpDialogFunc;
    for (size_t i = 0; i < tmpl->items.size(); i++) {
        const DialogItem &item = tmpl->items[i];
        dialog.controls.push_back(
            {item.id, (HWND)(base | (i + 1)), item.className, item.style, !(item.style & WS_DISABLED)});
    }
    if (!Window().CreateDialogWindow(*tmpl, &dialog)) {
        dialog = Dialog();
        return -1;
    }
    dialog.active = true;
    liveDialog = dialog.hwnd;

    if (dialog.proc(dialog.hwnd, WM_INITDIALOG, 0, dwInitParam)) {
        for (size_t i = 0; i < dialog.controls.size(); i++)
            if (CanFocus(dialog.controls[i])) {
                SetFocusIndex((int)i);
                break;
            }
    }
    while (!dialog.ended)
        RunOnce(true);

    INT_PTR result = dialog.result;
    liveDialog = nullptr;
    Window().DestroyDialogWindow();
    dialog = Dialog();
    return result;
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult)
{
    if (!IsDialogWindow(hDlg))
        return FALSE;
    dialog.ended = true;
    dialog.result = nResult;
    return TRUE;
}

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem)
{
    if (!IsDialogWindow(hDlg))
        return nullptr;
    for (const Control &c : dialog.controls)
        if (c.id == nIDDlgItem)
            return c.hwnd;
    return nullptr;
}

BOOL WINAPI EnableWindow(HWND hWnd, BOOL bEnable)
{
    Control *c = dialog.active ? dialog.Find(hWnd) : nullptr;
    if (!c)
        return FALSE;
    BOOL wasDisabled = !c->enabled;
    bool enable = bEnable != FALSE;
    if (c->enabled != enable) {
        c->enabled = enable;
        Window().SetControlEnabled(c->id, enable);
        // A disabled control cannot keep the keyboard focus.
        if (!enable && dialog.focus >= 0 && &dialog.controls[dialog.focus] == c) {
            dialog.disabled = dialog.focus;
            SetFocusIndex(-1);
        }
    }
    return wasDisabled;
}

BOOL WINAPI IsWindow(HWND hWnd)
{
    return IsDialogWindow(hWnd) || (dialog.active && dialog.Find(hWnd));
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    if (!IsDialogWindow(hWnd))
        return 0;
    return Deliver(Msg, wParam, lParam);
}

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    if (!hWnd || hWnd != liveDialog)
        return FALSE;
    Queue().Post({hWnd, Msg, wParam, lParam});
    return TRUE;
}

// The box is modal for its owner: the owner's input waits, but the
// messages posted to it are still delivered while the box is shown.
int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    (void)hWnd;
    boxOpen = true;
    Window().OpenMessageBox(lpText ? lpText : "", lpCaption ? lpCaption : "Error", uType,
                            [] { boxOpen = false; });
    while (boxOpen)
        RunOnce(false);
    return IDOK;
}
