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
};

// Called on the dialog's thread after every wave call; null to stop.
void SetWaveCallObserver(std::function<void(const WaveCall &)> observer);

}  // namespace port
