// The program's dialog as the layer reads it from res/record.rc and places
// it, in pixels, for the end-to-end scripts and the benchmarks:
//
//   dialog_geometry lines BX BY    for base units BX x BY: "style VALUE", "at
//                                  X Y W H" for the client area, then a line a
//                                  control: "control CLASS ID ENABLED LEFT TOP
//                                  RIGHT BOTTOM "TEXT""
//   dialog_geometry shell BX BY    the same as shell assignments: DLG_BX,
//                                  DLG_BY, DLG_UNITS ("W x H" dialog units),
//                                  DLG_LEFT, DLG_TOP, DLG_WIDTH, DLG_HEIGHT,
//                                  and a control's (RECORD, STOP, CONTACT)
//                                  _LEFT, _TOP, _RIGHT, _BOTTOM and centre _X, _Y
//   dialog_geometry shell --size WIDTH HEIGHT
//                                  the same, with the base units that make a
//                                  client area of WIDTH x HEIGHT pixels
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <windows.h>

#include "res/resource.h"
#include "user/user.h"

namespace {

const char *ControlName(int id)
{
    switch (id) {
    case IDC_RECORD:
        return "RECORD";
    case IDC_STOP:
        return "STOP";
    default:
        return "CONTACT";
    }
}

int Usage()
{
    fprintf(stderr, "usage: dialog_geometry lines BX BY | shell BX BY | shell --size WIDTH HEIGHT\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv)
{
    const port::DialogTemplate *d = port::FindDialogTemplate("Record");
    if (!d)
        return 1;
    if (argc != 4 && argc != 5)
        return Usage();
    const bool lines = strcmp(argv[1], "lines") == 0;
    if (!lines && strcmp(argv[1], "shell") != 0)
        return Usage();
    port::BaseUnits units{atoi(argv[2]), atoi(argv[3])};
    if (argc == 5) {
        if (lines || strcmp(argv[2], "--size") != 0)
            return Usage();
        units = {port::Scale(atoi(argv[3]), 4, d->cx), port::Scale(atoi(argv[4]), 8, d->cy)};
    }
    const port::PixelRect at = port::DialogRectToPixels(d->x, d->y, d->cx, d->cy, units);
    if (lines) {
        printf("style 0x%08x\nat %d %d %d %d\n", d->style, at.x, at.y, at.width, at.height);
    } else {
        printf("DLG_BX=%d DLG_BY=%d DLG_UNITS=\"%d x %d\"\n", units.x, units.y, d->cx, d->cy);
        printf("DLG_LEFT=%d DLG_TOP=%d DLG_WIDTH=%d DLG_HEIGHT=%d\n", at.x, at.y, at.width, at.height);
    }
    for (const port::DialogItem &item : d->items) {
        const port::PixelRect r = port::DialogRectToPixels(item.x, item.y, item.cx, item.cy, units);
        if (lines) {
            printf("control %s %d %d %d %d %d %d \"%s\"\n", item.className.c_str(), item.id,
                   (item.style & WS_DISABLED) ? 0 : 1, r.x, r.y, r.x + r.width, r.y + r.height,
                   item.text.c_str());
            continue;
        }
        const char *n = ControlName(item.id);
        const port::PixelRect centre =
            port::DialogRectToPixels(item.x + item.cx / 2, item.y + item.cy / 2, 0, 0, units);
        printf("%s_LEFT=%d %s_TOP=%d %s_RIGHT=%d %s_BOTTOM=%d %s_X=%d %s_Y=%d\n", n, r.x, n, r.y, n,
               r.x + r.width, n, r.y + r.height, n, centre.x, n, centre.y);
    }
    return 0;
}
