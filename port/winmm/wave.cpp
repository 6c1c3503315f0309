// waveIn* and waveOut*: the calls with the answers Windows documents for
// them, on the layer's wave devices (wave_devices.h).
#include <mmsystem.h>

#include "wave_devices.h"
#include "winmm.h"

namespace port {

namespace {

MMRESULT Open(WaveKind kind, uintptr_t *handle, UINT deviceId, const WAVEFORMATEX *format, DWORD_PTR callback,
              DWORD flags)
{
    if (!format)
        return MMSYSERR_INVALPARAM;
    if (deviceId != WAVE_MAPPER && deviceId != 0)
        return MMSYSERR_BADDEVICEID;
    DWORD callbackType = flags & CALLBACK_TYPEMASK;
    if (callbackType != CALLBACK_WINDOW && callbackType != CALLBACK_NULL)
        return MMSYSERR_INVALFLAG;
    if (callbackType == CALLBACK_WINDOW && callback && !IsWindow((HWND)callback))
        return MMSYSERR_INVALPARAM;
    if (!SupportedFormat(*format))
        return WAVERR_BADFORMAT;
    if (flags & WAVE_FORMAT_QUERY)
        return MMSYSERR_NOERROR;
    if (!handle)
        return MMSYSERR_INVALPARAM;

    HWND window = callbackType == CALLBACK_WINDOW ? (HWND)callback : nullptr;
    std::unique_ptr<WaveDevice> device;
    if (kind == kCapture)
        device = std::make_unique<CaptureDevice>(window, format->nAvgBytesPerSec);
    else
        device = std::make_unique<PlaybackDevice>(window, format->nAvgBytesPerSec);
    MMRESULT result = device->OpenStream(*format);
    if (result != MMSYSERR_NOERROR)
        return result;

    WaveDevice *opened = device.get();
    *handle = AddWaveDevice(std::move(device));
    opened->Notify(opened->Message(MM_WIM_OPEN, MM_WOM_OPEN), nullptr);
    return MMSYSERR_NOERROR;
}

MMRESULT Close(WaveKind kind, uintptr_t handle)
{
    WaveDevice *d = FindWaveDevice(handle, kind);
    if (!d)
        return MMSYSERR_INVALHANDLE;
    if (d->Queued())
        return WAVERR_STILLPLAYING;
    d->Close();
    std::unique_ptr<WaveDevice> device = RemoveWaveDevice(handle);
    device->stream.reset();
    device->Notify(device->Message(MM_WIM_CLOSE, MM_WOM_CLOSE), nullptr);
    return MMSYSERR_NOERROR;
}

// Starts capture; playback has no such call, it starts with its first block.
MMRESULT Start(uintptr_t handle)
{
    auto *device = static_cast<CaptureDevice *>(FindWaveDevice(handle, kCapture));
    if (!device)
        return MMSYSERR_INVALHANDLE;
    if (device->Start())
        device->stream->Start();
    return MMSYSERR_NOERROR;
}

// Stops the device and hands back every queued block, in queue order.
MMRESULT Reset(WaveKind kind, uintptr_t handle)
{
    WaveDevice *device = FindWaveDevice(handle, kind);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    if (device->Running() || device->Queued()) {
        device->Reset();
        device->stream->Stop();
    }
    return MMSYSERR_NOERROR;
}

MMRESULT CheckHeader(const WAVEHDR *header, UINT size)
{
    if (!header || size < sizeof(WAVEHDR))
        return MMSYSERR_INVALPARAM;
    if (header->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    return MMSYSERR_NOERROR;
}

MMRESULT Prepare(WaveKind kind, uintptr_t handle, WAVEHDR *header, UINT size, bool prepare)
{
    // Preparing a prepared header, or unpreparing an unprepared one, has no
    // effect and answers zero, whatever the handle (as documented, and as
    // Wine does).
    if (header && size >= sizeof(WAVEHDR) && ((header->dwFlags & WHDR_PREPARED) != 0) == prepare)
        return MMSYSERR_NOERROR;
    if (!FindWaveDevice(handle, kind))
        return MMSYSERR_INVALHANDLE;
    MMRESULT result = CheckHeader(header, size);
    if (result != MMSYSERR_NOERROR)
        return result;
    if (prepare) {
        if (!header->lpData)
            return MMSYSERR_INVALPARAM;
        header->dwFlags |= WHDR_PREPARED;
    } else {
        header->dwFlags &= ~(DWORD)WHDR_PREPARED;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT Enqueue(WaveKind kind, uintptr_t handle, WAVEHDR *header, UINT size)
{
    WaveDevice *device = FindWaveDevice(handle, kind);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    MMRESULT result = CheckHeader(header, size);
    if (result != MMSYSERR_NOERROR)
        return result;
    if (!(header->dwFlags & WHDR_PREPARED))
        return WAVERR_UNPREPARED;
    header->dwFlags = (header->dwFlags & ~(DWORD)WHDR_DONE) | WHDR_INQUEUE;
    if (device->Add(header))
        device->stream->Start();
    else if (device->Running())
        device->stream->Queued();
    return MMSYSERR_NOERROR;
}

template <typename Handle>
MMRESULT OpenAs(WaveKind kind, Handle *handle, UINT deviceId, const WAVEFORMATEX *format, DWORD_PTR callback,
                DWORD flags)
{
    uintptr_t opened = 0;
    MMRESULT result = Open(kind, handle ? &opened : nullptr, deviceId, format, callback, flags);
    if (result == MMSYSERR_NOERROR && handle && !(flags & WAVE_FORMAT_QUERY))
        *handle = (Handle)opened;
    return result;
}

}  // namespace

}  // namespace port

using namespace port;

MMRESULT WINAPI waveInOpen(LPHWAVEIN phwi, UINT uDeviceID, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback,
                           DWORD_PTR, DWORD fdwOpen)
{
    return OpenAs(kCapture, phwi, uDeviceID, pwfx, dwCallback, fdwOpen);
}

MMRESULT WINAPI waveOutOpen(LPHWAVEOUT phwo, UINT uDeviceID, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback,
                            DWORD_PTR, DWORD fdwOpen)
{
    return OpenAs(kPlayback, phwo, uDeviceID, pwfx, dwCallback, fdwOpen);
}

MMRESULT WINAPI waveInClose(HWAVEIN hwi)
{
    return Close(kCapture, (uintptr_t)hwi);
}

MMRESULT WINAPI waveOutClose(HWAVEOUT hwo)
{
    return Close(kPlayback, (uintptr_t)hwo);
}

MMRESULT WINAPI waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh)
{
    return Prepare(kCapture, (uintptr_t)hwi, pwh, cbwh, true);
}

MMRESULT WINAPI waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh)
{
    return Prepare(kPlayback, (uintptr_t)hwo, pwh, cbwh, true);
}

MMRESULT WINAPI waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh)
{
    return Prepare(kCapture, (uintptr_t)hwi, pwh, cbwh, false);
}

MMRESULT WINAPI waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh)
{
    return Prepare(kPlayback, (uintptr_t)hwo, pwh, cbwh, false);
}

MMRESULT WINAPI waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh)
{
    return Enqueue(kCapture, (uintptr_t)hwi, pwh, cbwh);
}

MMRESULT WINAPI waveOutWrite(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh)
{
    return Enqueue(kPlayback, (uintptr_t)hwo, pwh, cbwh);
}

MMRESULT WINAPI waveInStart(HWAVEIN hwi)
{
    return Start((uintptr_t)hwi);
}

MMRESULT WINAPI waveInReset(HWAVEIN hwi)
{
    return Reset(kCapture, (uintptr_t)hwi);
}

MMRESULT WINAPI waveOutReset(HWAVEOUT hwo)
{
    return Reset(kPlayback, (uintptr_t)hwo);
}
