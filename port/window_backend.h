// The window system behind the layer's dialog manager: Qt on a desktop,
// a scripted screen in the tests.
#pragma once

#include <stdint.h>

#include <functional>

#include "user/user.h"

namespace port {

// Modifier keys held with a key press.
enum KeyModifier { kShift = 1, kAlt = 2, kControl = 4 };

// What the window system reports to the dialog manager. Called on the
// dialog's thread, from inside WindowBackend::WaitForEvents.
class DialogInput {
public:
    virtual void ButtonClicked(int id) = 0;              // mouse on a push button
    virtual void KeyPressed(int vk, int modifiers) = 0;  // VK_* code
    virtual void CloseClicked() = 0;                     // close box or window manager
    // The frame the program draws itself: its title bar or an edge pressed,
    // as WM_SYSCOMMAND's wParam (SC_MOVE, or SC_SIZE with the edge).
    virtual void FramePressed(unsigned command) = 0;

protected:
    ~DialogInput() = default;
};

// Pixels of the dialog's client area, row by row, `stride` pixels apart.
// They lie beneath the controls: the controls stay visible.
struct Surface {
    uint32_t *pixels = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
    // A pixel is the colour as 0x00RRGGBB with these bits set: what the
    // window system needs besides the colour (Qt: an opaque alpha byte).
    uint32_t fixedBits = 0;
};

// Part of a Surface, in its pixels; empty when width or height is 0.
struct SurfaceRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

class WindowBackend {
public:
    virtual ~WindowBackend() = default;

    // Builds and shows the dialog; controls start as the template says.
    virtual bool CreateDialogWindow(const DialogTemplate &dialog, DialogInput *input) = 0;
    virtual void DestroyDialogWindow() = 0;
    virtual void SetControlEnabled(int id, bool enabled) = 0;
    // Moves the keyboard focus to a control; id 0 leaves no control focused.
    virtual void SetFocusControl(int id) = 0;
    // Carries out a system command the dialog procedure left to the
    // default processing: WM_SYSCOMMAND's wParam (SC_MOVE, SC_SIZE with its
    // edge in the low four bits, ...), never SC_CLOSE. Those
    // the window system has no counterpart for are ignored.
    virtual void SystemCommand(unsigned command) = 0;

    // Shows a message box owned by the dialog and returns at once; once the
    // user has closed it, `closed` runs on the dialog's thread, from inside
    // WaitForEvents. Whether input reaches the dialog meanwhile is the
    // dialog manager's to decide.
    virtual void OpenMessageBox(const char *text, const char *caption, unsigned type,
                                std::function<void()> closed) = 0;
    virtual void Beep(unsigned type) = 0;

    // The dialog's client area, in the pixels of its Surface.
    virtual void ClientSize(int *width, int *height) = 0;
    // Lends the client area's pixels for drawing outside any paint cycle;
    // EndDrawing puts what was drawn on the screen promptly. `changed`
    // holds every pixel written since BeginDrawing.
    virtual bool BeginDrawing(Surface *surface) = 0;
    virtual void EndDrawing(const SurfaceRect &changed) = 0;

    // Blocks until something may have happened: input (reported through
    // DialogInput), a closed message box, or a device's callback.
    virtual void WaitForEvents() = 0;
};

}  // namespace port
