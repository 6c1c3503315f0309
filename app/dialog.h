// The main dialog's procedure.
#pragma once

#include <windows.h>

INT_PTR CALLBACK RecordDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
