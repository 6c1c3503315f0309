// Headers and blocks of the sound loop: what obtains and what releases them.
#include "blocks.h"

#include <stdlib.h>
#include <string.h>

static void ReleaseHeader(WAVEHDR **header)
{
    free(*header);
    *header = NULL;
}

static void ReleaseBlock(BYTE **block)
{
    free(*block);
    *block = NULL;
}

static WAVEHDR *ObtainHeader(void)
{
    WAVEHDR *header = (WAVEHDR *)malloc(HEADER_BYTES);
    // Zeroed: when playback fails to open on the first Record, the capture
    // close handler unprepares headers no Record has filled yet.
    if (header)
        memset(header, 0, HEADER_BYTES);
    return header;
}

// The four headers live from the dialog's creation to the close request.
void ObtainHeaders(void)
{
    loop.captureHeader1 = ObtainHeader();
    loop.captureHeader2 = ObtainHeader();
    loop.playHeader1 = ObtainHeader();
    loop.playHeader2 = ObtainHeader();
}

void ReleaseHeaders(void)
{
    ReleaseHeader(&loop.captureHeader1);
    ReleaseHeader(&loop.captureHeader2);
    ReleaseHeader(&loop.playHeader1);
    ReleaseHeader(&loop.playHeader2);
}

static BOOL HeadersPresent(void)
{
    return loop.captureHeader1 && loop.captureHeader2 && loop.playHeader1 && loop.playHeader2;
}

static void ReportNoMemory(HWND hDlg)
{
    MessageBeep(MB_ICONEXCLAMATION);
    MessageBoxA(hDlg, "Can not allocate memory!", MESSAGE_TITLE, MB_ICONEXCLAMATION);
}

// All five blocks of a recording, or none of them. The block kept from the
// previous recording is given back first, and the new one starts as
// silence, so playback never plays what the heap happened to hold.
BOOL AllocateBlocks(HWND hDlg)
{
    ReleaseBlock(&loop.latestBlock);

    loop.captureBlock1 = (BYTE *)malloc(BLOCK_BYTES);
    loop.captureBlock2 = (BYTE *)malloc(BLOCK_BYTES);
    loop.playBlock1 = (BYTE *)malloc(BLOCK_BYTES);
    loop.playBlock2 = (BYTE *)malloc(BLOCK_BYTES);
    loop.latestBlock = (BYTE *)malloc(BLOCK_BYTES);

    if (loop.captureBlock1 && loop.captureBlock2 && loop.playBlock1 && loop.playBlock2 && loop.latestBlock &&
        HeadersPresent()) {
        memset(loop.latestBlock, SILENCE_BYTE, BLOCK_BYTES);
        return TRUE;
    }

    ReleaseBlock(&loop.captureBlock1);
    ReleaseBlock(&loop.captureBlock2);
    ReleaseBlock(&loop.playBlock1);
    ReleaseBlock(&loop.playBlock2);
    ReleaseBlock(&loop.latestBlock);
    ReportNoMemory(hDlg);
    return FALSE;
}

void ReleaseCaptureBlocks(void)
{
    ReleaseBlock(&loop.captureBlock1);
    ReleaseBlock(&loop.captureBlock2);
}

void ReleasePlayBlocks(void)
{
    ReleaseBlock(&loop.playBlock1);
    ReleaseBlock(&loop.playBlock2);
}

void ReleaseLatestBlock(void)
{
    ReleaseBlock(&loop.latestBlock);
}

// Every field is written, so nothing of an earlier recording survives.
void FillHeader(WAVEHDR *header, BYTE *block)
{
    header->lpData = (LPSTR)block;
    header->dwBufferLength = BLOCK_BYTES;
    header->dwBytesRecorded = 0;
    header->dwUser = 0;
    header->dwFlags = 0;
    header->dwLoops = 1;
    header->lpNext = NULL;
    header->reserved = 0;
}
