// What the rest of the layer uses of its waveform audio (wave.cpp and the
// wave devices): the one format the devices take, the end of every device
// when the layer starts afresh, and a record of every wave call for tests
// and the conformance check.
#pragma once

#include <stdint.h>

#include <functional>

#include <mmsystem.h>

#include "audio_backend.h"

namespace port {

// The program's format (audio_backend.h), with the block alignment and
// byte rate that follow. Windows answers WAVERR_BADFORMAT for a format its
// device cannot open, as the layer does.
inline bool SupportedFormat(const WAVEFORMATEX &f)
{
    return f.wFormatTag == WAVE_FORMAT_PCM && f.nChannels == 1 && f.wBitsPerSample == 8 &&
           f.nSamplesPerSec == kSampleRate && f.nBlockAlign == 1 && f.nAvgBytesPerSec == kSampleRate;
}

// Drops every device without a word to the program, as process exit would.
void CloseAllWaveDevices();

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
void SetWaveCallObserver(std::function<void(const WaveCall &)> observer);

}  // namespace port
