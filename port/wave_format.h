// The sample formats the layer's wave devices take, checked by the wave
// calls and again by the sound system's streams, which may be opened
// without them (their tests do).
//
// 8- or 16-bit PCM, mono or stereo, 1,000 to 192,000 samples a second, with
// the block alignment and byte rate that follow from them. The rate limits
// are the ones the wave calls have always answered WAVERR_BADFORMAT
// outside of, so no open the program makes changes its answer; the sound
// server carries every rate among them (libpulse's PA_RATE_MAX is higher).
#pragma once

#include <mmsystem.h>

namespace port {

inline bool SupportedFormat(const WAVEFORMATEX &f)
{
    return f.wFormatTag == WAVE_FORMAT_PCM && (f.nChannels == 1 || f.nChannels == 2) &&
           (f.wBitsPerSample == 8 || f.wBitsPerSample == 16) && f.nSamplesPerSec >= 1000 &&
           f.nSamplesPerSec <= 192000 && f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8 &&
           f.nAvgBytesPerSec == f.nSamplesPerSec * f.nBlockAlign;
}

}  // namespace port
