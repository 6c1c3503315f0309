// The simulated screen and user.
#include "sim_window.h"

#include <stdio.h>
#include <stdlib.h>

#include <windows.h>

namespace port::sim {

bool SimWindow::CreateDialogWindow(const DialogTemplate &dialog, DialogInput *input)
{
    if (refuseDialog)
        return false;
    created = true;
    shown = dialog;
    input_ = input;
    for (const DialogItem &item : dialog.items)
        enabled[item.id] = !(item.style & WS_DISABLED);
    if (pixels.empty())
        SetClientSize(353, 240);  // the dialog's size with an 8-point font
    return true;
}

void SimWindow::DestroyDialogWindow()
{
    destroyed = true;
    input_ = nullptr;
}

void SimWindow::ClickAt(Ticks when, int id)
{
    clock_.At(when, [this, id] { ClickNow(id); });
}

void SimWindow::ClickNow(int id)
{
    if (Live() && enabled[id])
        input_->ButtonClicked(id);
}

void SimWindow::KeyAt(Ticks when, int vk, int modifiers)
{
    clock_.At(when, [this, vk, modifiers] { KeyNow(vk, modifiers); });
}

void SimWindow::KeyNow(int vk, int modifiers)
{
    if (Live())
        input_->KeyPressed(vk, modifiers);
}

void SimWindow::CloseAt(Ticks when)
{
    clock_.At(when, [this] { CloseNow(); });
}

void SimWindow::CloseNow()
{
    if (Live())
        input_->CloseClicked();
}

void SimWindow::OpenMessageBox(const char *text, const char *caption, unsigned type,
                               std::function<void()> closed)
{
    messageBoxes.push_back({text, caption, type, clock_.Now(), clock_.NextSighting()});
    clock_.After(messageBoxDelay, std::move(closed));
}

void SimWindow::SetClientSize(int width, int height, uint32_t background)
{
    clientWidth = width;
    clientHeight = height;
    pixels.assign((size_t)width * height, background);
}

bool SimWindow::BeginDrawing(Surface *surface)
{
    if (!Live())
        return false;
    drawing = true;
    surface->pixels = pixels.data();
    surface->width = clientWidth;
    surface->height = clientHeight;
    surface->stride = clientWidth;
    return true;
}

void SimWindow::WaitForEvents()
{
    if (clock_.RunNext())
        return;
    if (onStall) {
        onStall();
        return;
    }
    fprintf(stderr, "simulation stalled at %lld: the program waits and nothing is scheduled\n",
            (long long)clock_.Now());
    abort();
}

}  // namespace port::sim
