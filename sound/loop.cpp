// Record, Stop and the close request, and the handlers of the six device
// notifications. Everything runs on the dialog's thread, one message at a
// time; a block is touched only while its device does not hold it.
#include "loop.h"

#include <string.h>

#include "blocks.h"
#include "../trace/trace.h"

LoopState loop;

// Beep, tell the user, and end the program through the close request.
static void ReportDeviceFailure(HWND hDlg)
{
    MessageBeep(MB_ICONEXCLAMATION);
    MessageBoxA(hDlg, "I can't open wave device. Maybe Your SB does not support dual mode.", MESSAGE_TITLE,
                MB_ICONEXCLAMATION);
    SendMessageA(hDlg, WM_SYSCOMMAND, SC_CLOSE, 0);
}

static void FillFormat(WAVEFORMATEX *format)
{
    format->wFormatTag = WAVE_FORMAT_PCM;
    format->nChannels = 1;
    format->nSamplesPerSec = 11025;
    format->nAvgBytesPerSec = 11025;
    format->nBlockAlign = 1;
    format->wBitsPerSample = 8;
    format->cbSize = 0;
}

// Obtain the blocks and open both devices; the open notifications start them.
BOOL RecordCommand(HWND hDlg)
{
    if (!AllocateBlocks(hDlg))
        return TRUE;
    FillFormat(&loop.waveFormat);

    if (waveInOpen(&loop.hWaveIn, WAVE_MAPPER, &loop.waveFormat, (DWORD_PTR)hDlg, 0, CALLBACK_WINDOW) !=
        MMSYSERR_NOERROR) {
        ReleaseCaptureBlocks();
        ReportDeviceFailure(hDlg);
        return TRUE;
    }
    if (waveOutOpen(&loop.hWaveOut, WAVE_MAPPER, &loop.waveFormat, (DWORD_PTR)hDlg, 0, CALLBACK_WINDOW) !=
        MMSYSERR_NOERROR) {
        ReleasePlayBlocks();
        // Capture is open but none of its headers is prepared: closing it
        // here keeps its open notification from queueing them.
        waveInClose(loop.hWaveIn);
        ReportDeviceFailure(hDlg);
        return TRUE;
    }

    FillHeader(loop.captureHeader1, loop.captureBlock1);
    waveInPrepareHeader(loop.hWaveIn, loop.captureHeader1, HEADER_BYTES);
    FillHeader(loop.captureHeader2, loop.captureBlock2);
    waveInPrepareHeader(loop.hWaveIn, loop.captureHeader2, HEADER_BYTES);
    FillHeader(loop.playHeader1, loop.playBlock1);
    waveOutPrepareHeader(loop.hWaveOut, loop.playHeader1, HEADER_BYTES);
    FillHeader(loop.playHeader2, loop.playBlock2);
    waveOutPrepareHeader(loop.hWaveOut, loop.playHeader2, HEADER_BYTES);
    return TRUE;
}

// Hand every block back; the next capture-done notification closes the devices.
BOOL StopCommand(HWND hDlg)
{
    (void)hDlg;
    loop.stopRequested = 1;
    waveInReset(loop.hWaveIn);
    waveOutReset(loop.hWaveOut);
    return TRUE;
}

// End the program: nothing is delivered to the dialog after EndDialog.
// The reset hands every block back, so both devices can be closed here;
// their close notifications are never delivered, so the capture and
// playback blocks stay held until the program ends. Closing them keeps
// the program from exiting with a device open: Wine's sound driver runs a
// thread per open device, and one killed by the exit can crash the
// process (SIGSEGV) after the dialog has ended. On closed or never-opened
// devices both calls fail and are ignored.
BOOL CloseRequest(HWND hDlg)
{
    loop.closeRequested = 1;
    loop.stopRequested = 1;
    waveInReset(loop.hWaveIn);
    waveOutReset(loop.hWaveOut);
    waveInClose(loop.hWaveIn);
    waveOutClose(loop.hWaveOut);
    ReleaseHeaders();
    ReleaseLatestBlock();
    EndDialog(hDlg, 0);
    return TRUE;
}

// Capture opened: queue both blocks and start.
BOOL CaptureOpened(HWND hDlg)
{
    (void)hDlg;
    waveInAddBuffer(loop.hWaveIn, loop.captureHeader1, HEADER_BYTES);
    waveInAddBuffer(loop.hWaveIn, loop.captureHeader2, HEADER_BYTES);
    waveInStart(loop.hWaveIn);
    return TRUE;
}

// Playback opened: prime it with two blocks of silence.
BOOL PlaybackOpened(HWND hDlg)
{
    (void)hDlg;
    memset(loop.playHeader1->lpData, SILENCE_BYTE, BLOCK_BYTES);
    waveOutWrite(loop.hWaveOut, loop.playHeader1, HEADER_BYTES);
    memset(loop.playHeader2->lpData, SILENCE_BYTE, BLOCK_BYTES);
    waveOutWrite(loop.hWaveOut, loop.playHeader2, HEADER_BYTES);
    loop.stopRequested = 0;
    return TRUE;
}

// A capture block is full (or handed back by a reset): draw it, keep a
// copy, and queue it again or, after Stop, close both devices.
BOOL CaptureDone(HWND hDlg, WAVEHDR *header)
{
    DrawWaveform(hDlg, (const BYTE *)header->lpData, BLOCK_BYTES);
    memcpy(loop.latestBlock, header->lpData, BLOCK_BYTES);
    if (loop.stopRequested) {
        waveInClose(loop.hWaveIn);
        waveOutClose(loop.hWaveOut);
    } else {
        waveInAddBuffer(loop.hWaveIn, header, HEADER_BYTES);
    }
    return TRUE;
}

// A playback block has been played: refill it from the latest capture.
// After Stop it stays with the program, so playback can close.
BOOL PlaybackDone(HWND hDlg, WAVEHDR *header)
{
    (void)hDlg;
    if (loop.stopRequested)
        return TRUE;
    memcpy(header->lpData, loop.latestBlock, BLOCK_BYTES);
    waveOutWrite(loop.hWaveOut, header, HEADER_BYTES);
    return TRUE;
}

// Capture closed: its blocks go back to the heap.
BOOL CaptureClosed(HWND hDlg)
{
    waveInUnprepareHeader(loop.hWaveIn, loop.captureHeader1, HEADER_BYTES);
    waveInUnprepareHeader(loop.hWaveIn, loop.captureHeader2, HEADER_BYTES);
    ReleaseCaptureBlocks();
    if (loop.closeRequested)
        SendMessageA(hDlg, WM_SYSCOMMAND, SC_CLOSE, 0);
    return TRUE;
}

// Playback closed: its blocks go back to the heap.
BOOL PlaybackClosed(HWND hDlg)
{
    waveOutUnprepareHeader(loop.hWaveOut, loop.playHeader1, HEADER_BYTES);
    waveOutUnprepareHeader(loop.hWaveOut, loop.playHeader2, HEADER_BYTES);
    ReleasePlayBlocks();
    if (loop.closeRequested)
        SendMessageA(hDlg, WM_SYSCOMMAND, SC_CLOSE, 0);
    return TRUE;
}
