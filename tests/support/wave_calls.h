// Every wave call the program (or a test) makes, seen on its way to the
// layer: the test binary is linked with the calls wrapped (--wrap), so the
// product carries no hook for it.
#pragma once

#include <stdint.h>

#include <functional>

#include <mmsystem.h>

struct WaveCall {
    const char *name;  // "waveInOpen", ...
    uintptr_t handle;  // the device handle the call was made on, or opened
    const WAVEHDR *header;
    MMRESULT result;
    // Opens: what the program asked for. A missing format reads as zeros.
    UINT deviceId = 0;
    WAVEFORMATEX format = {};
    DWORD_PTR callback = 0;
    DWORD_PTR instance = 0;
    DWORD flags = 0;
    // Calls with a header: the size given, and the header's fields as the
    // call found them (zeros when there was none).
    UINT headerSize = 0;
    WAVEHDR fields = {};
};

// Called after every wave call; null to stop.
void WatchWaveCalls(std::function<void(const WaveCall &)> watcher);
