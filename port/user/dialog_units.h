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

// number * numerator / denominator, rounded half away from zero, with a
// 64-bit intermediate. Like Win32, answers -1 for a zero denominator or a
// result that does not fit.
inline int MulDiv(int number, int numerator, int denominator)
{
    if (denominator == 0) {
        return -1;
    }
    int64_t product = static_cast<int64_t>(number) * numerator;
    int64_t divisor = denominator;
    if (divisor < 0) {
        product = -product;
        divisor = -divisor;
    }
    const int64_t half = divisor / 2;
    const int64_t result = product >= 0 ? (product + half) / divisor : (product - half) / divisor;
    if (result > INT32_MAX || result < -INT32_MAX) {
        return -1;
    }
    return static_cast<int>(result);
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
    return PixelRect{MulDiv(x, units.x, 4), MulDiv(y, units.y, 8), MulDiv(cx, units.x, 4),
                     MulDiv(cy, units.y, 8)};
}

}  // namespace port
