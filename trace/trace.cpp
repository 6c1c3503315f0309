// Draws one block of 8-bit samples across the top of a window: a black
// band TRACE_HEIGHT rows high and one green dot per sample, the raw sample
// value as the row. Drawn at once, outside any paint cycle.
#include "trace.h"

void DrawWaveform(HWND hwnd, const BYTE *samples, int count)
{
    RECT band;
    GetClientRect(hwnd, &band);
    band.bottom = TRACE_HEIGHT;

    HDC dc = GetDC(hwnd);
    HBRUSH black = CreateSolidBrush(RGB(0, 0, 0));
    FillRect(dc, &band, black);
    DeleteObject(black);

    if (count > 0) {
        float step = (float)band.right / count;
        for (int i = 0; i < count; i++)
            SetPixel(dc, (int)(i * step), samples[i], RGB(0, 255, 0));
    }
    ReleaseDC(hwnd, dc);
}
