// A simulated screen and user for the dialog manager: the user clicks,
// types and closes at scripted times, and the screen records what the
// program shows.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "../window_backend.h"
#include "virtual_clock.h"

namespace port::sim {

struct ShownMessageBox {
    std::string text;
    std::string caption;
    unsigned type;
    Ticks shownAt;
    int order;  // among the boxes, beeps and event sounds
};

struct BeepRecord {
    unsigned type;
    Ticks at;
    int order;
};

class SimWindow : public WindowBackend {
public:
    explicit SimWindow(VirtualClock &clock) : clock_(clock) {}

    // The user. Clicks on a disabled or hidden button do nothing, and
    // nothing reaches the dialog while a message box is open.
    void ClickAt(Ticks when, int id);
    void ClickNow(int id);
    void KeyAt(Ticks when, int vk, int modifiers = 0);
    void KeyNow(int vk, int modifiers = 0);
    void CloseAt(Ticks when);
    void CloseNow();
    // How long the user takes to read and close a message box.
    Ticks messageBoxDelay = Ms(800);

    // A window system out of resources: the dialog cannot be created.
    bool refuseDialog = false;

    // What the screen shows.
    bool created = false;
    bool destroyed = false;
    DialogTemplate shown;
    std::map<int, bool> enabled;
    int focus = 0;
    std::vector<ShownMessageBox> messageBoxes;
    std::vector<BeepRecord> beeps;
    std::vector<unsigned> systemCommands;  // carried out, in order

    // The client area and its pixels, which start as `background`.
    void SetClientSize(int width, int height, uint32_t background = 0x808080);
    int clientWidth = 0;
    int clientHeight = 0;
    std::vector<uint32_t> pixels;
    // A pixel of the client area; ~0 outside it.
    uint32_t Pixel(int x, int y) const
    {
        return x >= 0 && y >= 0 && x < clientWidth && y < clientHeight ? pixels[(size_t)y * clientWidth + x]
                                                                       : ~0u;
    }
    int drawings = 0;         // finished drawings
    SurfaceRect lastChanged;  // what the last drawing said it changed
    bool drawing = false;

    // What to do when the program waits and nothing will ever happen;
    // by default the run is aborted with a message.
    std::function<void()> onStall;
    // Called as the program enables or disables a control, for scripts
    // that act at that very moment.
    std::function<void(int id, bool enable)> onEnable;

    bool CreateDialogWindow(const DialogTemplate &dialog, DialogInput *input) override;
    void DestroyDialogWindow() override;
    void SetControlEnabled(int id, bool enable) override
    {
        enabled[id] = enable;
        if (onEnable)
            onEnable(id, enable);
    }
    void SetFocusControl(int id) override { focus = id; }
    void SystemCommand(unsigned command) override { systemCommands.push_back(command); }
    void OpenMessageBox(const char *text, const char *caption, unsigned type,
                        std::function<void()> closed) override;
    void Beep(unsigned type) override { beeps.push_back({type, clock_.Now(), clock_.NextSighting()}); }
    void ClientSize(int *width, int *height) override
    {
        *width = clientWidth;
        *height = clientHeight;
    }
    bool BeginDrawing(Surface *surface) override;
    void EndDrawing(const SurfaceRect &changed) override
    {
        drawing = false;
        drawings++;
        lastChanged = changed;
    }
    void WaitForEvents() override;

private:
    bool Live() const { return created && !destroyed && input_; }

    VirtualClock &clock_;
    DialogInput *input_ = nullptr;
};

}  // namespace port::sim
