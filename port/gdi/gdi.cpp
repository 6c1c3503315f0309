// Drawing on the dialog: its client rectangle, a device context on its own
// pixels, solid brushes and single pixels.
#include <string.h>

#include <algorithm>
#include <map>
#include <vector>

#include <windows.h>

#include "gdi.h"
#include "platform.h"
#include "saved_rows.h"
#include "user/user.h"

namespace port {

namespace {

struct DeviceContext {
    HWND hwnd;
    Surface surface;
    // What has changed, so the window system repaints only that.
    LONG left, top, right, bottom;
    // Rows cleared and perhaps drawn again as they were.
    SavedRows saved;
    std::vector<uint32_t> fillRow;  // FillRect's row of one colour

    void Changed(LONG l, LONG t, LONG r, LONG b)
    {
        left = std::min(left, l);
        top = std::min(top, t);
        right = std::max(right, r);
        bottom = std::max(bottom, b);
    }
};

std::map<uintptr_t, DeviceContext> contexts;
std::map<uintptr_t, COLORREF> brushes;
uintptr_t nextHandle = 1;

uintptr_t NewHandle()
{
    return (nextHandle++ << 4) | 0xD;
}

// The context last looked up: SetPixel is called for every sample, on
// one context at a time.
uintptr_t lastHandle = 0;
DeviceContext *lastContext = nullptr;

DeviceContext *Context(HDC hdc)
{
    if ((uintptr_t)hdc == lastHandle && lastHandle != 0)
        return lastContext;
    auto it = contexts.find((uintptr_t)hdc);
    if (it == contexts.end())
        return nullptr;
    lastHandle = it->first;
    lastContext = &it->second;
    return lastContext;
}

void Forget(uintptr_t handle)
{
    contexts.erase(handle);
    if (handle == lastHandle)
        lastHandle = 0;
}

uint32_t ToPixel(const Surface &surface, COLORREF color)
{
    return (GetRValue(color) << 16) | (GetGValue(color) << 8) | GetBValue(color) | surface.fixedBits;
}

}  // namespace

int GdiObjectsAlive()
{
    return (int)brushes.size();
}

int DeviceContextsHeld()
{
    return (int)contexts.size();
}

void ForgetGdiObjects()
{
    brushes.clear();
    contexts.clear();
    lastHandle = 0;
}

}  // namespace port

using namespace port;

BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect)
{
    // Only the dialog is drawn on; its controls are the window system's.
    if (!lpRect || !IsDialogWindow(hWnd))
        return FALSE;
    int width = 0, height = 0;
    Window().ClientSize(&width, &height);
    *lpRect = {0, 0, width, height};
    return TRUE;
}

HDC WINAPI GetDC(HWND hWnd)
{
    Surface surface;
    if (!IsDialogWindow(hWnd) || !Window().BeginDrawing(&surface))
        return nullptr;
    uintptr_t handle = NewHandle();
    // Nothing drawn yet: an empty rectangle at the far corner.
    contexts[handle] = {hWnd, surface, surface.width, surface.height, 0, 0, {}, {}};
    return (HDC)handle;
}

int WINAPI ReleaseDC(HWND hWnd, HDC hDC)
{
    DeviceContext *dc = Context(hDC);
    if (!dc || dc->hwnd != hWnd)
        return 0;
    dc->saved.ForEachChanged(dc->surface, [dc](LONG l, LONG y, LONG r) { dc->Changed(l, y, r, y + 1); });
    SurfaceRect changed;
    if (dc->left < dc->right && dc->top < dc->bottom)
        changed = {dc->left, dc->top, dc->right - dc->left, dc->bottom - dc->top};
    Forget((uintptr_t)hDC);
    Window().EndDrawing(changed);
    return 1;
}

HBRUSH WINAPI CreateSolidBrush(COLORREF color)
{
    uintptr_t handle = NewHandle();
    brushes[handle] = color & 0xFFFFFF;
    return (HBRUSH)handle;
}

BOOL WINAPI DeleteObject(HGDIOBJ ho)
{
    return brushes.erase((uintptr_t)ho) > 0;
}

int WINAPI FillRect(HDC hDC, const RECT *lprc, HBRUSH hbr)
{
    DeviceContext *dc = Context(hDC);
    auto brush = brushes.find((uintptr_t)hbr);
    if (!dc || !lprc || brush == brushes.end())
        return 0;
    const Surface &s = dc->surface;
    LONG left = lprc->left < 0 ? 0 : lprc->left, top = lprc->top < 0 ? 0 : lprc->top;
    LONG right = lprc->right > s.width ? s.width : lprc->right;
    LONG bottom = lprc->bottom > s.height ? s.height : lprc->bottom;
    if (left >= right || top >= bottom)
        return 1;
    // A row of the colour, copied to every row that does not hold it yet.
    // Rows that do are left alone: a band cleared again and again changes
    // only where its dots were, and only that is repainted. A row written
    // over is kept, while there is room, to see at the end whether the
    // dots came back where they were (silence does, and needs no repaint).
    const size_t bytes = (right - left) * sizeof(uint32_t);
    std::vector<uint32_t> &model = dc->fillRow;
    model.assign(right - left, ToPixel(s, brush->second));
    for (LONG y = top; y < bottom; y++) {
        uint32_t *row = s.pixels + (size_t)y * s.stride + left;
        if (memcmp(row, model.data(), bytes) != 0) {
            if (!dc->saved.Save(s, y, left, right))
                dc->Changed(left, y, right, y + 1);
            memcpy(row, model.data(), bytes);
        }
    }
    return 1;
}

COLORREF WINAPI SetPixel(HDC hdc, int x, int y, COLORREF color)
{
    DeviceContext *dc = Context(hdc);
    if (!dc || x < 0 || y < 0 || x >= dc->surface.width || y >= dc->surface.height)
        return CLR_INVALID;
    uint32_t &pixel = dc->surface.pixels[(size_t)y * dc->surface.stride + x];
    const uint32_t value = ToPixel(dc->surface, color);
    // A pixel of a saved row is compared at the end, with the whole row.
    if (pixel != value && !dc->saved.Holds(x, y))
        dc->Changed(x, y, x + 1, y + 1);
    pixel = value;
    return color & 0xFFFFFF;
}
