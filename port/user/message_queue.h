// The dialog's message queue. Posted messages (device notifications) are
// taken in posting order and always before user input, so a button press
// is handled only when no notification is waiting.
#pragma once

#include <deque>

#include <windows.h>

namespace port {

struct Message {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// User input as the window system reported it; what it means (which
// command, if any) is decided when it is taken, against the dialog's state
// at that moment.
struct InputEvent {
    enum Kind { kClick, kKey, kClose, kFrame } kind;
    int id;         // kClick: the control; kFrame: the system command
    int vk;         // kKey
    int modifiers;  // kKey
};

// Everything runs on the dialog's thread: a message is posted by a call
// the dialog procedure makes, or by a device from inside the window
// system's wait, which then returns; the loop looks here before it waits.
class MessageQueue {
public:
    void Post(const Message &message);
    bool TakePosted(Message *message);
    void PushInput(const InputEvent &event);
    bool TakeInput(InputEvent *event);
    bool HasPosted();
    void Clear();

private:
    std::deque<Message> posted_;
    std::deque<InputEvent> input_;
};

MessageQueue &Queue();

}  // namespace port
