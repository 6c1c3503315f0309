// The sound loop: two capture blocks and two playback blocks circulate
// between the program and the devices; every captured block is copied into
// latestBlock, and every played block is refilled from it.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#define BLOCK_BYTES 2048
#define SILENCE_BYTE 0x80
// The title of the program's messages.
#define MESSAGE_TITLE "Vazozo1"
// Every wave call is given the size of the platform's own header: 32 bytes
// on 32-bit Windows, 48 on 64-bit Windows and on Linux.
#define HEADER_BYTES ((UINT)sizeof(WAVEHDR))

struct LoopState {
    HWAVEIN hWaveIn;
    HWAVEOUT hWaveOut;
    WAVEFORMATEX waveFormat;
    WAVEHDR *captureHeader1;
    WAVEHDR *captureHeader2;
    WAVEHDR *playHeader1;
    WAVEHDR *playHeader2;
    BYTE *captureBlock1;
    BYTE *captureBlock2;
    BYTE *playBlock1;
    BYTE *playBlock2;
    BYTE *latestBlock;
    DWORD stopRequested;
    DWORD closeRequested;
};

extern LoopState loop;

// Headers, at WM_INITDIALOG.
void ObtainHeaders(void);

// User commands; each returns TRUE.
BOOL RecordCommand(HWND hDlg);
BOOL StopCommand(HWND hDlg);
BOOL CloseRequest(HWND hDlg);

// Device notifications; each returns TRUE.
BOOL CaptureOpened(HWND hDlg);
BOOL CaptureDone(HWND hDlg, WAVEHDR *header);
BOOL CaptureClosed(HWND hDlg);
BOOL PlaybackOpened(HWND hDlg);
BOOL PlaybackDone(HWND hDlg, WAVEHDR *header);
BOOL PlaybackClosed(HWND hDlg);
