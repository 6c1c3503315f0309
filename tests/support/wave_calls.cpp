// The wrapped wave calls: each calls the layer's own (__real_) and tells
// the watcher what was asked and answered.
#include "wave_calls.h"

namespace {

std::function<void(const WaveCall &)> watcher;

MMRESULT Tell(WaveCall call, MMRESULT result)
{
    if (watcher) {
        call.result = result;
        watcher(call);
    }
    return result;
}

// The header as the program handed it over: the call may change its flags.
// Read only while someone watches, as a test may pass one that is not there.
WaveCall HeaderCall(const char *name, const void *handle, const WAVEHDR *header, UINT size)
{
    WaveCall call{name, (uintptr_t)handle, header, 0};
    call.headerSize = size;
    if (header && watcher)
        call.fields = *header;
    return call;
}

template <typename Handle>
MMRESULT Opened(const char *name, Handle *handle, UINT deviceId, const WAVEFORMATEX *format,
                DWORD_PTR callback, DWORD_PTR instance, DWORD flags, MMRESULT result)
{
    WaveCall call{name, 0, nullptr, 0};
    if (result == MMSYSERR_NOERROR && handle && !(flags & WAVE_FORMAT_QUERY))
        call.handle = (uintptr_t)*handle;
    call.deviceId = deviceId;
    if (format)
        call.format = *format;
    call.callback = callback;
    call.instance = instance;
    call.flags = flags;
    return Tell(call, result);
}

}  // namespace

void WatchWaveCalls(std::function<void(const WaveCall &)> w)
{
    watcher = std::move(w);
}

#define WRAP_OPEN(Name, Handle)                                                                             \
    extern "C" MMRESULT __real_##Name(Handle *, UINT, const WAVEFORMATEX *, DWORD_PTR, DWORD_PTR, DWORD);   \
    extern "C" MMRESULT __wrap_##Name(Handle *h, UINT id, const WAVEFORMATEX *f, DWORD_PTR cb, DWORD_PTR i, \
                                      DWORD flags)                                                          \
    {                                                                                                       \
        return Opened(#Name, h, id, f, cb, i, flags, __real_##Name(h, id, f, cb, i, flags));                \
    }
#define WRAP_HEADER(Name, Handle)                                           \
    extern "C" MMRESULT __real_##Name(Handle, WAVEHDR *, UINT);             \
    extern "C" MMRESULT __wrap_##Name(Handle h, WAVEHDR *header, UINT size) \
    {                                                                       \
        WaveCall call = HeaderCall(#Name, h, header, size);                 \
        return Tell(call, __real_##Name(h, header, size));                  \
    }
#define WRAP_HANDLE(Name, Handle)                                                 \
    extern "C" MMRESULT __real_##Name(Handle);                                    \
    extern "C" MMRESULT __wrap_##Name(Handle h)                                   \
    {                                                                             \
        return Tell(WaveCall{#Name, (uintptr_t)h, nullptr, 0}, __real_##Name(h)); \
    }

WRAP_OPEN(waveInOpen, HWAVEIN)
WRAP_OPEN(waveOutOpen, HWAVEOUT)
WRAP_HANDLE(waveInClose, HWAVEIN)
WRAP_HANDLE(waveOutClose, HWAVEOUT)
WRAP_HEADER(waveInPrepareHeader, HWAVEIN)
WRAP_HEADER(waveOutPrepareHeader, HWAVEOUT)
WRAP_HEADER(waveInUnprepareHeader, HWAVEIN)
WRAP_HEADER(waveOutUnprepareHeader, HWAVEOUT)
WRAP_HEADER(waveInAddBuffer, HWAVEIN)
WRAP_HEADER(waveOutWrite, HWAVEOUT)
WRAP_HANDLE(waveInStart, HWAVEIN)
WRAP_HANDLE(waveInReset, HWAVEIN)
WRAP_HANDLE(waveOutReset, HWAVEOUT)
