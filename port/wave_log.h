// A record of every wave call and its answer, for tests and the
// conformance check.
#pragma once

#include <stdint.h>

#include <functional>

#include <mmsystem.h>

namespace port {

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

// Called on the dialog's thread after every wave call; null to stop.
void SetWaveCallObserver(std::function<void(const WaveCall &)> observer);

}  // namespace port
