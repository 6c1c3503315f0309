// The dialog manager: the modal dialog, its controls and keyboard, the
// modal message loop, message boxes and sent and posted messages.
#include <atomic>
#include <string>
#include <vector>

#include <windows.h>

#include "dialog_template.h"
#include "message_queue.h"
#include "platform.h"
#include "sound_trace.h"

namespace port {

namespace {

struct Control {
    int id;
    HWND hwnd;
    std::string className;
    uint32_t style;
    bool enabled;
};

class Dialog : public DialogInput {
public:
    HWND hwnd = nullptr;
    DLGPROC proc = nullptr;
    std::vector<Control> controls;
    int focus = -1;  // index into controls, -1 for none
    bool active = false;
    bool ended = false;
    INT_PTR result = 0;

    Control *Find(HWND h)
    {
        for (Control &c : controls)
            if (c.hwnd == h)
                return &c;
        return nullptr;
    }

    // Input that reaches a dialog under a message box is lost, as it is
    // for a disabled owner window.
    void ButtonClicked(int id) override
    {
        if (!Window().MessageBoxOpen())
            Queue().PushInput({InputEvent::kClick, id, 0, 0});
    }
    void KeyPressed(int vk, int modifiers) override
    {
        if (!Window().MessageBoxOpen())
            Queue().PushInput({InputEvent::kKey, 0, vk, modifiers});
    }
    void CloseClicked() override
    {
        if (!Window().MessageBoxOpen())
            Queue().PushInput({InputEvent::kClose, 0, 0, 0});
    }
};

Dialog dialog;
uintptr_t generation = 0;
// Read by PostMessageA on device threads.
std::atomic<HWND> liveDialog{nullptr};

bool IsPushButton(const Control &c)
{
    return c.className == "Button" && (c.style & 0xF) <= BS_DEFPUSHBUTTON;
}

bool CanFocus(const Control &c)
{
    return c.enabled && (c.style & WS_VISIBLE) && (c.style & WS_TABSTOP);
}

void SetFocusIndex(int index)
{
    dialog.focus = index;
    Window().SetFocusControl(index >= 0 ? dialog.controls[index].id : 0);
}

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

LRESULT Deliver(UINT message, WPARAM wParam, LPARAM lParam)
{
    INT_PTR handled = dialog.proc(dialog.hwnd, message, wParam, lParam);
    if (!handled)
        DefaultProcessing(message, wParam);
    return handled;
}

void Command(int id, HWND control)
{
    Deliver(WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)control);
}

void Press(int index)
{
    const Control &c = dialog.controls[index];
    if (c.enabled && (c.style & WS_VISIBLE) && IsPushButton(c))
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

void DefaultButton()
{
    for (const Control &c : dialog.controls)
        if (IsPushButton(c) && (c.style & 0xF) == BS_DEFPUSHBUTTON && c.enabled) {
            Command(c.id, c.hwnd);
            return;
        }
    Command(IDOK, nullptr);
}

// What a key means to a dialog: Tab moves the focus, Space and Enter press
// the focused button (Enter the default one otherwise), Escape cancels.
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
        if (focusedButton)
            Press(dialog.focus);
        else
            DefaultButton();
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

void HandleInput(const InputEvent &event)
{
    switch (event.kind) {
    case InputEvent::kClick:
        for (size_t i = 0; i < dialog.controls.size(); i++) {
            const Control &c = dialog.controls[i];
            // A click counts only on a button that is still enabled now.
            if (c.id == event.id && IsPushButton(c) && c.enabled && (c.style & WS_VISIBLE)) {
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
    }
}

// One step of a message loop: a posted message if one waits, else user
// input if allowed, else wait for the window system or a device.
void RunOnce(bool takeInput)
{
    Message message;
    if (Queue().TakePosted(&message)) {
        if (dialog.active && !dialog.ended && message.hwnd == dialog.hwnd) {
            TraceSound("deliver", message.message);
            Deliver(message.message, message.wParam, message.lParam);
        }
        return;
    }
    InputEvent event;
    if (takeInput && Queue().TakeInput(&event)) {
        if (dialog.active && !dialog.ended)
            HandleInput(event);
        return;
    }
    Window().WaitForEvents();
}

bool IsDialog(HWND hwnd)
{
    return dialog.active && hwnd && hwnd == dialog.hwnd;
}

}  // namespace

bool IsDialogWindow(HWND hwnd)
{
    return IsDialog(hwnd);
}

void ForgetDialog()
{
    dialog = Dialog();
    liveDialog = nullptr;
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
    if (!IsDialog(hDlg))
        return FALSE;
    dialog.ended = true;
    dialog.result = nResult;
    return TRUE;
}

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem)
{
    if (!IsDialog(hDlg))
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
        if (!enable && dialog.focus >= 0 && &dialog.controls[dialog.focus] == c)
            SetFocusIndex(-1);
    }
    return wasDisabled;
}

BOOL WINAPI IsWindowEnabled(HWND hWnd)
{
    if (IsDialog(hWnd))
        return TRUE;
    Control *c = dialog.active ? dialog.Find(hWnd) : nullptr;
    return c && c->enabled;
}

BOOL WINAPI IsWindow(HWND hWnd)
{
    return IsDialog(hWnd) || (dialog.active && dialog.Find(hWnd));
}

HWND WINAPI GetFocus(void)
{
    return dialog.active && dialog.focus >= 0 ? dialog.controls[dialog.focus].hwnd : nullptr;
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    if (!IsDialog(hWnd))
        return 0;
    return Deliver(Msg, wParam, lParam);
}

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    if (!hWnd || hWnd != liveDialog.load())
        return FALSE;
    Queue().Post({hWnd, Msg, wParam, lParam});
    return TRUE;
}

// The box is modal for its owner: the owner's input waits, but the
// messages posted to it are still delivered while the box is shown.
int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    (void)hWnd;
    Window().OpenMessageBox(lpText ? lpText : "", lpCaption ? lpCaption : "Error", uType);
    while (Window().MessageBoxOpen())
        RunOnce(false);
    return IDOK;
}

// The desktop's event sound on the sound server; the display's bell where
// there is no server to play it (or no sound for the type).
BOOL WINAPI MessageBeep(UINT uType)
{
    if (!Sounds() || !Sounds()->Play(uType))
        Window().Beep(uType);
    return TRUE;
}
