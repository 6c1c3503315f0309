// The dialog manager's state, shared by its two halves: dialog.cpp (the
// dialog, its controls and messages) and dialog_input.cpp (what the user's
// clicks and keys mean to it).
#pragma once

#include <string>
#include <vector>

#include <windows.h>

#include "message_queue.h"
#include "window_backend.h"

namespace port {

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
    int focus = -1;     // index into controls, -1 for none
    int disabled = -1;  // the focused control just disabled, until its message is handled
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

    void ButtonClicked(int id) override { Push({InputEvent::kClick, id, 0, 0}); }
    void KeyPressed(int vk, int modifiers) override { Push({InputEvent::kKey, 0, vk, modifiers}); }
    void CloseClicked() override { Push({InputEvent::kClose, 0, 0, 0}); }
    void FramePressed(unsigned command) override { Push({InputEvent::kFrame, (int)command, 0, 0}); }
    void Push(const InputEvent &event);
};

// The one dialog there is at a time.
extern Dialog dialog;

// dialog.cpp: a message to the dialog procedure, with the default
// processing of what it leaves; the keyboard focus on a control (-1: none).
LRESULT Deliver(UINT message, WPARAM wParam, LPARAM lParam);
void SetFocusIndex(int index);

// dialog_input.cpp: whether a control can take the keyboard focus, and
// what an event of the user's means to the dialog.
bool CanFocus(const Control &c);
void HandleInput(const InputEvent &event);

}  // namespace port
