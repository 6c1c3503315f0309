// The waveform trace: one captured block as green dots on a black band.
#pragma once

#include <windows.h>

#define TRACE_HEIGHT 256

void DrawWaveform(HWND hwnd, const BYTE *samples, int count);
