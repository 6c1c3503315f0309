// waveIn* and waveOut*: the calls with the answers Windows documents for
// them, on the layer's wave devices (wave_devices.h), each call and its
// answer told to the observer (winmm.h).
#include <mmsystem.h>

#include "wave_devices.h"
#include "winmm.h"

namespace port {

namespace {

std::function<void(const WaveCall &)> observer;

MMRESULT Log(WaveCall call, MMRESULT result)
{
    if (observer) {
        call.result = result;
        observer(call);
    }
    return result;
}

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

// Changes the device; when `change` answers true, the stream is then
// started or stopped.
MMRESULT Change(WaveKind kind, uintptr_t handle, bool (*change)(WaveDevice *device), bool start)
{
    WaveDevice *device = FindWaveDevice(handle, kind);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    if (!change(device))
        return MMSYSERR_NOERROR;
    if (start)
        device->stream->Start();
    else
        device->stream->Stop();
    return MMSYSERR_NOERROR;
}

// Starts capture; playback has no such call, it starts with its first block.
MMRESULT Start(WaveKind kind, uintptr_t handle)
{
    auto start = [](WaveDevice *device) { return static_cast<CaptureDevice *>(device)->Start(); };
    return Change(kind, handle, start, true);
}

// Stops the device and hands back every queued block, in queue order.
MMRESULT Reset(WaveKind kind, uintptr_t handle)
{
    auto reset = [](WaveDevice *device) {
        if (!device->Running() && !device->Queued())
            return false;
        device->Reset();
        return true;
    };
    return Change(kind, handle, reset, false);
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

MMRESULT PrepareHeader(WaveKind kind, uintptr_t handle, WAVEHDR *header, UINT size)
{
    return Prepare(kind, handle, header, size, true);
}

MMRESULT UnprepareHeader(WaveKind kind, uintptr_t handle, WAVEHDR *header, UINT size)
{
    return Prepare(kind, handle, header, size, false);
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
MMRESULT OpenCall(const char *name, WaveKind kind, Handle *handle, UINT deviceId, const WAVEFORMATEX *format,
                  DWORD_PTR callback, DWORD_PTR instance, DWORD flags)
{
    WaveCall call{name, 0, nullptr, 0};
    call.deviceId = deviceId;
    if (format)
        call.format = *format;
    call.callback = callback;
    call.instance = instance;
    call.flags = flags;
    uintptr_t opened = 0;
    MMRESULT result = Open(kind, handle ? &opened : nullptr, deviceId, format, callback, flags);
    if (result == MMSYSERR_NOERROR && handle && !(flags & WAVE_FORMAT_QUERY))
        *handle = (Handle)opened;
    call.handle = opened;
    return Log(call, result);
}

// A call with a header, logged with the header as the program handed it
// over: the call itself may change its flags. Read only when someone is
// watching.
MMRESULT HeaderCall(const char *name, WaveKind kind, const void *handle, WAVEHDR *header, UINT size,
                    MMRESULT (*op)(WaveKind, uintptr_t, WAVEHDR *, UINT))
{
    WaveCall call{name, (uintptr_t)handle, header, 0};
    call.headerSize = size;
    if (header && observer)
        call.fields = *header;
    return Log(call, op(kind, (uintptr_t)handle, header, size));
}

MMRESULT HandleCall(const char *name, WaveKind kind, const void *handle, MMRESULT (*op)(WaveKind, uintptr_t))
{
    return Log(WaveCall{name, (uintptr_t)handle, nullptr, 0}, op(kind, (uintptr_t)handle));
}

}  // namespace

void SetWaveCallObserver(std::function<void(const WaveCall &)> o)
{
    observer = std::move(o);
}

}  // namespace port

using namespace port;

MMRESULT WINAPI waveInOpen(LPHWAVEIN phwi, UINT uDeviceID, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback,
                           DWORD_PTR dwInstance, DWORD fdwOpen)
{
    return OpenCall("waveInOpen", kCapture, phwi, uDeviceID, pwfx, dwCallback, dwInstance, fdwOpen);
}

MMRESULT WINAPI waveOutOpen(LPHWAVEOUT phwo, UINT uDeviceID, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback,
                            DWORD_PTR dwInstance, DWORD fdwOpen)
{
    return OpenCall("waveOutOpen", kPlayback, phwo, uDeviceID, pwfx, dwCallback, dwInstance, fdwOpen);
}

// The other twelve calls, each the same steps on a kind of device.
#define WAVE_HEADER_CALL(Name, Handle, kind, op)             \
    MMRESULT WINAPI Name(Handle h, LPWAVEHDR pwh, UINT cbwh) \
    {                                                        \
        return HeaderCall(#Name, kind, h, pwh, cbwh, op);    \
    }
#define WAVE_HANDLE_CALL(Name, Handle, kind, op) \
    MMRESULT WINAPI Name(Handle h)               \
    {                                            \
        return HandleCall(#Name, kind, h, op);   \
    }

WAVE_HANDLE_CALL(waveInClose, HWAVEIN, kCapture, Close)
WAVE_HANDLE_CALL(waveOutClose, HWAVEOUT, kPlayback, Close)
WAVE_HEADER_CALL(waveInPrepareHeader, HWAVEIN, kCapture, PrepareHeader)
WAVE_HEADER_CALL(waveOutPrepareHeader, HWAVEOUT, kPlayback, PrepareHeader)
WAVE_HEADER_CALL(waveInUnprepareHeader, HWAVEIN, kCapture, UnprepareHeader)
WAVE_HEADER_CALL(waveOutUnprepareHeader, HWAVEOUT, kPlayback, UnprepareHeader)
WAVE_HEADER_CALL(waveInAddBuffer, HWAVEIN, kCapture, Enqueue)
WAVE_HEADER_CALL(waveOutWrite, HWAVEOUT, kPlayback, Enqueue)
WAVE_HANDLE_CALL(waveInStart, HWAVEIN, kCapture, Start)
WAVE_HANDLE_CALL(waveInReset, HWAVEIN, kCapture, Reset)
WAVE_HANDLE_CALL(waveOutReset, HWAVEOUT, kPlayback, Reset)
