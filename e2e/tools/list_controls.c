/* Looks at a running Larkspan from inside Wine, where its controls are not
 * X windows:
 *
 *   list_controls            the dialog: style, client area, base units, controls,
 *                            whether their texts fit, the common controls' DLL
 *   list_controls close      asks the dialog to close, as its close box would
 *   list_controls box TITLE  a message box: its text; then presses its OK
 *
 * Waits up to 10 s for the window. Exits 1 when there is none. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include <psapi.h>

static const char *wanted;
static size_t wantedLength;
static HWND found;

static BOOL CALLBACK FindTopLevel(HWND hwnd, LPARAM exact)
{
    char text[256];
    GetWindowTextA(hwnd, text, sizeof text);
    if (exact ? strcmp(text, wanted) == 0 : strncmp(text, wanted, wantedLength) == 0) {
        found = hwnd;
        return FALSE;
    }
    return TRUE;
}

static HWND WaitFor(const char *title, BOOL exact)
{
    int i;
    wanted = title;
    wantedLength = strlen(title);
    for (i = 0; i < 100; i++) {
        found = NULL;
        EnumWindows(FindTopLevel, exact);
        if (found && IsWindowVisible(found))
            return found;
        Sleep(100);
    }
    return NULL;
}

static void Quoted(const char *text)
{
    putchar('"');
    for (; *text; text++)
        putchar(*text == '"' ? '\'' : *text);
    putchar('"');
}

static BOOL CALLBACK PrintChild(HWND child, LPARAM dialog)
{
    char cls[64], text[256];
    RECT r;
    if (GetParent(child) != (HWND)dialog)
        return TRUE;
    GetClassNameA(child, cls, sizeof cls);
    GetWindowTextA(child, text, sizeof text);
    GetWindowRect(child, &r);
    MapWindowPoints(NULL, (HWND)dialog, (POINT *)&r, 2);
    printf("control %s %d %d %ld %ld %ld %ld ", cls, (int)(short)GetDlgCtrlID(child),
           IsWindowEnabled(child) ? 1 : 0, r.left, r.top, r.right, r.bottom);
    Quoted(text);
    putchar('\n');
    return TRUE;
}

static INT_PTR CALLBACK Quiet(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)hwnd, (void)message, (void)wParam, (void)lParam;
    return FALSE;
}

/* MapDialogRect reads the dialog manager's own data, which only the
 * process that made the dialog has; so ask it of a hidden dialog of ours
 * in the template's font. */
static RECT BaseUnits(void)
{
    static const WCHAR font[] = L"MS Sans Serif";
    WORD words[64] = {0};
    DLGTEMPLATE *t = (DLGTEMPLATE *)words;
    WORD *p = (WORD *)(t + 1);
    RECT units = {0, 0, 4, 8};
    HWND hidden;
    t->style = WS_POPUP | DS_SETFONT;
    t->cx = 10;
    t->cy = 10;
    p += 3; /* no menu, default class, empty title */
    *p++ = 8;
    memcpy(p, font, sizeof font);
    hidden = CreateDialogIndirectParamW(NULL, t, NULL, Quiet, 0);
    if (hidden) {
        MapDialogRect(hidden, &units);
        DestroyWindow(hidden);
    }
    return units;
}

/* "fits ID 1|0 TEXTW TEXTH ROOMW ROOMH": the text in the template's font, laid
 * out as the control does (a button's on one line inside its edge), against its room. */
static BOOL CALLBACK PrintFit(HWND child, LPARAM dc)
{
    char cls[64], text[256];
    RECT room, need = {0, 0, 0, 0};
    BOOL button;
    GetClassNameA(child, cls, sizeof cls);
    GetWindowTextA(child, text, sizeof text);
    GetClientRect(child, &room);
    if ((button = _stricmp(cls, "Button") == 0))
        InflateRect(&room, -2, -2);
    need.right = room.right - room.left;
    DrawTextA((HDC)dc, text, -1, &need, DT_CALCRECT | (button ? DT_SINGLELINE : DT_WORDBREAK));
    printf("fits %d %d %ld %ld %ld %ld\n", (int)(short)GetDlgCtrlID(child),
           need.right <= room.right - room.left && need.bottom <= room.bottom - room.top, need.right,
           need.bottom, room.right - room.left, room.bottom - room.top);
    return TRUE;
}

/* "comctl32 PATH" per common controls DLL the dialog's process loaded. */
static void PrintComctl32(HWND dialog)
{
    DWORD pid, size, i;
    HMODULE modules[512];
    char path[MAX_PATH];
    HANDLE process;
    GetWindowThreadProcessId(dialog, &pid);
    process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (process && EnumProcessModules(process, modules, sizeof modules, &size))
        for (i = 0; i < size / sizeof *modules && i < 512; i++)
            if (GetModuleFileNameExA(process, modules[i], path, sizeof path) && strstr(path, "comctl32"))
                printf("comctl32 %s\n", path);
}

static int Describe(HWND dialog)
{
    RECT client, units = BaseUnits();
    POINT origin = {0, 0};
    GetClientRect(dialog, &client);
    ClientToScreen(dialog, &origin);
    printf("style 0x%08lx\n", (unsigned long)GetWindowLongA(dialog, GWL_STYLE));
    printf("client %ld %ld\n", client.right, client.bottom);
    printf("origin %ld %ld\n", origin.x, origin.y);
    printf("base %ld %ld\n", units.right, units.bottom);
    HDC dc = GetDC(NULL);
    HFONT font = CreateFontA(-MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, 0, 0, 0,
                             DEFAULT_CHARSET, 0, 0, 0, 0, "MS Sans Serif");
    EnumChildWindows(dialog, PrintChild, (LPARAM)dialog);
    SelectObject(dc, font);
    EnumChildWindows(dialog, PrintFit, (LPARAM)dc);
    PrintComctl32(dialog);
    return 0;
}

static int PressOk(HWND box)
{
    int printed = 0;
    HWND child = NULL;
    char cls[64], text[256];
    while ((child = FindWindowExA(box, child, NULL, NULL)) != NULL) {
        GetClassNameA(child, cls, sizeof cls);
        GetWindowTextA(child, text, sizeof text);
        /* The message itself is the box's one static with text. */
        if (_stricmp(cls, "Static") == 0 && text[0]) {
            printf("text ");
            Quoted(text);
            putchar('\n');
            printed = 1;
        }
    }
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    return printed ? 0 : 1;
}

int main(int argc, char **argv)
{
    HWND window;
    if (argc >= 3 && strcmp(argv[1], "box") == 0) {
        window = WaitFor(argv[2], TRUE);
        return window ? PressOk(window) : 1;
    }
    window = WaitFor("Larkspan 1.0", FALSE);
    if (!window)
        return 1;
    if (argc >= 2 && strcmp(argv[1], "close") == 0)
        return PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0) ? 0 : 1;
    return Describe(window);
}
