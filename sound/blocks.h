// Lifetimes of the loop's headers and blocks.
#pragma once

#include "loop.h"

void ReleaseHeaders(void);
BOOL AllocateBlocks(HWND hDlg);
void ReleaseCaptureBlocks(void);
void ReleasePlayBlocks(void);
void ReleaseLatestBlock(void);
void FillHeader(WAVEHDR *header, BYTE *block);
