// Larkspan: passes live sound from the sound input to the sound output.
// The entry function shows the main dialog; its procedure hands every
// message, user command or device notification, to its handler.
#include <windows.h>
#include <mmsystem.h>

#include "../res/resource.h"
#include "../sound/loop.h"
#include "dialog.h"

static void EnableButton(HWND hDlg, int id, BOOL enable)
{
    EnableWindow(GetDlgItem(hDlg, id), enable);
}

// Record pressed: the buttons switch to the active state first.
static BOOL OnRecord(HWND hDlg)
{
    EnableButton(hDlg, IDC_RECORD, FALSE);
    EnableButton(hDlg, IDC_STOP, TRUE);
    return RecordCommand(hDlg);
}

// Stop pressed: the buttons go back to the idle state first.
static BOOL OnStop(HWND hDlg)
{
    EnableButton(hDlg, IDC_RECORD, TRUE);
    EnableButton(hDlg, IDC_STOP, FALSE);
    return StopCommand(hDlg);
}

INT_PTR CALLBACK RecordDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        ObtainHeaders();
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_RECORD:
            return OnRecord(hDlg);
        case IDC_STOP:
            return OnStop(hDlg);
        }
        return FALSE;
    case WM_SYSCOMMAND:
        if (LOWORD(wParam) == SC_CLOSE)
            return CloseRequest(hDlg);
        return FALSE;
    case MM_WOM_OPEN:
        return PlaybackOpened(hDlg);
    case MM_WOM_CLOSE:
        return PlaybackClosed(hDlg);
    case MM_WOM_DONE:
        return PlaybackDone(hDlg, (WAVEHDR *)lParam);
    case MM_WIM_OPEN:
        return CaptureOpened(hDlg);
    case MM_WIM_CLOSE:
        return CaptureClosed(hDlg);
    case MM_WIM_DATA:
        return CaptureDone(hDlg, (WAVEHDR *)lParam);
    }
    return FALSE;
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow)
{
    (void)hPrevInstance;
    (void)lpCmdLine;
    (void)nCmdShow;
    DialogBoxParamA(hInstance, "Record", NULL, RecordDialogProc, 0);
    return 0;
}
