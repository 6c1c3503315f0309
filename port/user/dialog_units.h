// Dialog units to pixels, converted the way Windows does it, so that the
// dialog keeps the proportions its template was drawn with.
#pragma once

#include <stdint.h>

namespace port {

// Average character width and height of the dialog font, in pixels.
struct BaseUnits {
    int x = 0;
    int y = 0;
};

struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// A template's number (never negative) in base units over `per` to
// pixels, rounded half up, as Windows' MulDiv does.
inline int Scale(int number, int units, int per)
{
    return static_cast<int>((static_cast<int64_t>(number) * units + per / 2) / per);
}

// `alphabetAdvance` is the width of "A..Za..z" in the dialog font: the
// average over its 52 letters, rounded.
inline BaseUnits BaseUnitsFromMetrics(int alphabetAdvance, int fontHeight)
{
    return BaseUnits{(alphabetAdvance + 26) / 52, fontHeight};
}

// Each of the four numbers is converted on its own, as Windows does, so a
// width is not the difference of two converted edges.
inline PixelRect DialogRectToPixels(int x, int y, int cx, int cy, const BaseUnits &units)
{
    return PixelRect{Scale(x, units.x, 4), Scale(y, units.y, 8), Scale(cx, units.x, 4),
                     Scale(cy, units.y, 8)};
}

}  // namespace port
