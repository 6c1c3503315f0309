// What the rest of the layer uses of its waveform audio (wave.cpp and the
// wave devices): the one format the devices take, and the end of every
// device when the layer starts afresh.
#pragma once

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

}  // namespace port
