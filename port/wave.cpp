// The wave devices: waveIn* and waveOut* with the semantics Windows gives
// them, on top of a capture or playback stream of the sound system.
//
// A queued header belongs to the device until it comes back with
// WHDR_DONE and its notification. Streams call in from their own threads,
// so every device and every queued header is guarded by one mutex; the
// layer never calls a stream while holding it.
//
// Capture and playback keep step as on a duplex sound card, where one
// clock drives both: a playback block is handed back only once the running
// capture device has heard as far as that block's end, so a block that
// ends together with a capture block is handed back after it. Two streams
// of a sound server have no such bond: a server that is held up delivers
// capture late, in a burst, while the play clock runs on, and a program
// that refills each played block from the latest capture would then play
// one block twice and lose the next. A played block waits only while the
// blocks queued after it keep the device playing for kRefillMs more: long
// enough for the program to refill it in time; and devices on clocks of
// their own drift apart as they would on Windows.
#include <string.h>

#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include <mmsystem.h>

#include "platform.h"
#include "sound_trace.h"
#include "wave_log.h"

namespace port {

namespace {

enum Kind { kCapture = 1, kPlayback = 2 };

constexpr uint64_t kRefillMs = 70;

struct QueuedHeader {
    WAVEHDR *header;
    uint64_t end;  // playback: stream position after its last byte, once taken
};

class Device : public CaptureSink, public PlaybackSource {
public:
    Kind kind;
    uintptr_t handle = 0;
    HWND window = nullptr;  // where notifications go, or none
    std::unique_ptr<AudioStream> stream;
    std::deque<QueuedHeader> queue;
    bool running = false;  // capture started, or playback playing
    // Playback: the header being taken is queue[taking], `offset` bytes in.
    size_t taking = 0;
    size_t offset = 0;
    uint64_t taken = 0;
    // Bytes heard since capture started, or played since playback started.
    uint64_t position = 0;
    uint64_t bytesPerSecond = 0;

    explicit Device(Kind k) : kind(k) {}

    void Captured(const uint8_t *data, size_t bytes) override;
    size_t Take(uint8_t *out, size_t bytes) override;
    void Played(uint64_t bytes) override;
    // Playback: hands back the played blocks that may go. With the mutex held.
    void HandBackPlayed();
};

std::mutex mutex;
std::map<uintptr_t, std::unique_ptr<Device>> devices;
uintptr_t nextDevice = 1;
std::function<void(const WaveCall &)> observer;
// The capture device started last and still running, which playback keeps
// step with; 0 for none.
uintptr_t pacer = 0;

UINT Message(Kind kind, UINT capture, UINT playback)
{
    return kind == kCapture ? capture : playback;
}

void Notify(const Device &device, UINT message, WAVEHDR *header)
{
    if (device.window)
        PostMessageA(device.window, message, (WPARAM)device.handle, (LPARAM)header);
}

// Hands a header back to the program.
void Finish(const Device &device, WAVEHDR *header)
{
    header->dwFlags = (header->dwFlags & ~(DWORD)WHDR_INQUEUE) | WHDR_DONE;
    TraceSound(device.kind == kCapture ? "post_wim_data" : "post_wom_done", (int64_t)(uintptr_t)header);
    Notify(device, Message(device.kind, MM_WIM_DATA, MM_WOM_DONE), header);
}

Device *Lookup(uintptr_t handle, Kind kind);

// Playback blocks waiting for capture to catch up.
void HandBackAllPlayed()
{
    for (auto &entry : devices)
        if (entry.second->kind == kPlayback)
            entry.second->HandBackPlayed();
}

void Device::Captured(const uint8_t *data, size_t bytes)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!running)
        return;
    position += bytes;
    // Sound that arrives with no block queued is lost, as on any device.
    while (running && bytes > 0 && !queue.empty()) {
        WAVEHDR *header = queue.front().header;
        size_t room = header->dwBufferLength - header->dwBytesRecorded;
        size_t n = bytes < room ? bytes : room;
        memcpy(header->lpData + header->dwBytesRecorded, data, n);
        header->dwBytesRecorded += (DWORD)n;
        data += n;
        bytes -= n;
        if (header->dwBytesRecorded == header->dwBufferLength) {
            queue.pop_front();
            Finish(*this, header);
        }
    }
    if (bytes > 0)
        TraceSound("capture_lost", (int64_t)bytes);
    if (pacer == handle)
        HandBackAllPlayed();
}

size_t Device::Take(uint8_t *out, size_t bytes)
{
    std::lock_guard<std::mutex> lock(mutex);
    size_t given = 0;
    while (running && given < bytes && taking < queue.size()) {
        WAVEHDR *header = queue[taking].header;
        size_t n = header->dwBufferLength - offset;
        if (n > bytes - given)
            n = bytes - given;
        memcpy(out + given, header->lpData + offset, n);
        given += n;
        offset += n;
        taken += n;
        if (offset == header->dwBufferLength) {
            queue[taking].end = taken;
            taking++;
            offset = 0;
        }
    }
    return given;
}

void Device::Played(uint64_t bytes)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!running)
        return;
    position = bytes;
    HandBackPlayed();
}

void Device::HandBackPlayed()
{
    const Device *capture = pacer ? Lookup(pacer, kCapture) : nullptr;
    while (running && taking > 0 && queue.front().end <= position) {
        const uint64_t end = queue.front().end;
        // Compared as times: capture's position over its rate against ours.
        const bool heard = !capture || capture->position * bytesPerSecond >= end * capture->bytesPerSecond;
        uint64_t queuedEnd = end;
        for (size_t i = 1; i < queue.size(); i++)
            queuedEnd += queue[i].header->dwBufferLength;
        if (!heard && position + kRefillMs * bytesPerSecond / 1000 < queuedEnd)
            return;
        WAVEHDR *header = queue.front().header;
        queue.pop_front();
        taking--;
        Finish(*this, header);
    }
}

// The device behind a handle of the right kind, or null for a closed,
// stale or never-opened one. Called with the mutex held.
Device *Lookup(uintptr_t handle, Kind kind)
{
    auto it = devices.find(handle);
    return it != devices.end() && it->second->kind == kind ? it->second.get() : nullptr;
}

MMRESULT Log(WaveCall call, MMRESULT result)
{
    if (observer) {
        call.result = result;
        observer(call);
    }
    return result;
}

MMRESULT Log(const char *name, uintptr_t handle, MMRESULT result)
{
    return Log(WaveCall{name, handle, nullptr, 0}, result);
}

// A call with a header, with the header as the program handed it over: the
// call itself may change its flags. Read only when someone is watching.
WaveCall HeaderCall(const char *name, uintptr_t handle, const WAVEHDR *header, UINT size)
{
    WaveCall call{name, handle, header, 0};
    call.headerSize = size;
    if (header && observer)
        call.fields = *header;
    return call;
}

WaveCall OpenCall(const char *name, UINT deviceId, const WAVEFORMATEX *format, DWORD_PTR callback,
                  DWORD_PTR instance, DWORD flags)
{
    WaveCall call{name, 0, nullptr, 0};
    call.deviceId = deviceId;
    if (format)
        call.format = *format;
    call.callback = callback;
    call.instance = instance;
    call.flags = flags;
    return call;
}

bool SupportedFormat(const WAVEFORMATEX *f)
{
    return f->wFormatTag == WAVE_FORMAT_PCM && (f->nChannels == 1 || f->nChannels == 2) &&
           (f->wBitsPerSample == 8 || f->wBitsPerSample == 16) && f->nSamplesPerSec >= 1000 &&
           f->nSamplesPerSec <= 192000 && f->nBlockAlign == f->nChannels * f->wBitsPerSample / 8 &&
           f->nAvgBytesPerSec == f->nSamplesPerSec * f->nBlockAlign;
}

MMRESULT Open(Kind kind, uintptr_t *handle, UINT deviceId, const WAVEFORMATEX *format, DWORD_PTR callback,
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
    if (!SupportedFormat(format))
        return WAVERR_BADFORMAT;
    if (flags & WAVE_FORMAT_QUERY)
        return MMSYSERR_NOERROR;
    if (!handle)
        return MMSYSERR_INVALPARAM;

    auto device = std::make_unique<Device>(kind);
    device->bytesPerSecond = format->nAvgBytesPerSec;
    device->window = callbackType == CALLBACK_WINDOW ? (HWND)callback : nullptr;
    MMRESULT result = kind == kCapture ? Audio().OpenCapture(*format, device.get(), &device->stream)
                                       : Audio().OpenPlayback(*format, device.get(), &device->stream);
    if (result != MMSYSERR_NOERROR)
        return result;

    Device *opened = device.get();
    {
        std::lock_guard<std::mutex> lock(mutex);
        opened->handle = (nextDevice++ << 4) | kind;
        devices[opened->handle] = std::move(device);
    }
    *handle = opened->handle;
    Notify(*opened, Message(kind, MM_WIM_OPEN, MM_WOM_OPEN), nullptr);
    return MMSYSERR_NOERROR;
}

MMRESULT Close(Kind kind, uintptr_t handle)
{
    std::unique_ptr<Device> device;
    {
        std::lock_guard<std::mutex> lock(mutex);
        Device *d = Lookup(handle, kind);
        if (!d)
            return MMSYSERR_INVALHANDLE;
        if (!d->queue.empty())
            return WAVERR_STILLPLAYING;
        d->running = false;
        if (pacer == handle) {
            pacer = 0;
            HandBackAllPlayed();
        }
        device = std::move(devices[handle]);
        devices.erase(handle);
    }
    device->stream.reset();
    Notify(*device, Message(kind, MM_WIM_CLOSE, MM_WOM_CLOSE), nullptr);
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

MMRESULT Prepare(Kind kind, uintptr_t handle, WAVEHDR *header, UINT size, bool prepare)
{
    std::lock_guard<std::mutex> lock(mutex);
    // Preparing a prepared header, or unpreparing an unprepared one, has no
    // effect and answers zero, whatever the handle (as documented, and as
    // Wine does).
    if (header && size >= sizeof(WAVEHDR) && ((header->dwFlags & WHDR_PREPARED) != 0) == prepare)
        return MMSYSERR_NOERROR;
    if (!Lookup(handle, kind))
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

MMRESULT Enqueue(Kind kind, uintptr_t handle, WAVEHDR *header, UINT size)
{
    Device *device;
    bool start = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        device = Lookup(handle, kind);
        if (!device)
            return MMSYSERR_INVALHANDLE;
        MMRESULT result = CheckHeader(header, size);
        if (result != MMSYSERR_NOERROR)
            return result;
        if (!(header->dwFlags & WHDR_PREPARED))
            return WAVERR_UNPREPARED;
        header->dwFlags = (header->dwFlags & ~(DWORD)WHDR_DONE) | WHDR_INQUEUE;
        if (kind == kCapture)
            header->dwBytesRecorded = 0;
        device->queue.push_back({header, 0});
        // Playback runs from the first block written after an open or reset.
        if (kind == kPlayback && !device->running) {
            device->running = true;
            device->taking = device->offset = 0;
            device->taken = 0;
            device->position = 0;
            start = true;
        }
    }
    if (start)
        device->stream->Start();
    return MMSYSERR_NOERROR;
}

MMRESULT Start(uintptr_t handle)
{
    Device *device;
    {
        std::lock_guard<std::mutex> lock(mutex);
        device = Lookup(handle, kCapture);
        if (!device)
            return MMSYSERR_INVALHANDLE;
        if (device->running)
            return MMSYSERR_NOERROR;
        device->running = true;
        device->position = 0;
        pacer = handle;
    }
    device->stream->Start();
    return MMSYSERR_NOERROR;
}

// Stops the device and hands back every queued block, in queue order.
MMRESULT Reset(Kind kind, uintptr_t handle)
{
    Device *device;
    {
        std::lock_guard<std::mutex> lock(mutex);
        device = Lookup(handle, kind);
        if (!device)
            return MMSYSERR_INVALHANDLE;
        if (!device->running && device->queue.empty())
            return MMSYSERR_NOERROR;
        TraceSound(kind == kCapture ? "reset_capture" : "reset_playback", 0);
        device->running = false;
        device->taking = device->offset = 0;
        while (!device->queue.empty()) {
            WAVEHDR *header = device->queue.front().header;
            device->queue.pop_front();
            Finish(*device, header);
        }
        if (pacer == handle) {
            pacer = 0;
            HandBackAllPlayed();
        }
    }
    device->stream->Stop();
    return MMSYSERR_NOERROR;
}

uintptr_t Id(const void *handle)
{
    return (uintptr_t)handle;
}

}  // namespace

void SetWaveCallObserver(std::function<void(const WaveCall &)> o)
{
    observer = std::move(o);
}

// Drops every device without a word to the program, as process exit would.
void CloseAllWaveDevices()
{
    std::map<uintptr_t, std::unique_ptr<Device>> closing;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto &entry : devices)
            entry.second->running = false;
        closing.swap(devices);
        pacer = 0;
    }
    closing.clear();
}

}  // namespace port

using namespace port;

MMRESULT WINAPI waveInOpen(LPHWAVEIN phwi, UINT uDeviceID, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback,
                           DWORD_PTR dwInstance, DWORD fdwOpen)
{
    WaveCall call = OpenCall("waveInOpen", uDeviceID, pwfx, dwCallback, dwInstance, fdwOpen);
    uintptr_t handle = 0;
    MMRESULT result = Open(kCapture, phwi ? &handle : nullptr, uDeviceID, pwfx, dwCallback, fdwOpen);
    if (result == MMSYSERR_NOERROR && phwi && !(fdwOpen & WAVE_FORMAT_QUERY))
        *phwi = (HWAVEIN)handle;
    call.handle = handle;
    return Log(call, result);
}

MMRESULT WINAPI waveOutOpen(LPHWAVEOUT phwo, UINT uDeviceID, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback,
                            DWORD_PTR dwInstance, DWORD fdwOpen)
{
    WaveCall call = OpenCall("waveOutOpen", uDeviceID, pwfx, dwCallback, dwInstance, fdwOpen);
    uintptr_t handle = 0;
    MMRESULT result = Open(kPlayback, phwo ? &handle : nullptr, uDeviceID, pwfx, dwCallback, fdwOpen);
    if (result == MMSYSERR_NOERROR && phwo && !(fdwOpen & WAVE_FORMAT_QUERY))
        *phwo = (HWAVEOUT)handle;
    call.handle = handle;
    return Log(call, result);
}

MMRESULT WINAPI waveInClose(HWAVEIN hwi)
{
    return Log("waveInClose", Id(hwi), Close(kCapture, Id(hwi)));
}

MMRESULT WINAPI waveOutClose(HWAVEOUT hwo)
{
    return Log("waveOutClose", Id(hwo), Close(kPlayback, Id(hwo)));
}

MMRESULT WINAPI waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh)
{
    WaveCall call = HeaderCall("waveInPrepareHeader", Id(hwi), pwh, cbwh);
    return Log(call, Prepare(kCapture, Id(hwi), pwh, cbwh, true));
}

MMRESULT WINAPI waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh)
{
    WaveCall call = HeaderCall("waveOutPrepareHeader", Id(hwo), pwh, cbwh);
    return Log(call, Prepare(kPlayback, Id(hwo), pwh, cbwh, true));
}

MMRESULT WINAPI waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh)
{
    WaveCall call = HeaderCall("waveInUnprepareHeader", Id(hwi), pwh, cbwh);
    return Log(call, Prepare(kCapture, Id(hwi), pwh, cbwh, false));
}

MMRESULT WINAPI waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh)
{
    WaveCall call = HeaderCall("waveOutUnprepareHeader", Id(hwo), pwh, cbwh);
    return Log(call, Prepare(kPlayback, Id(hwo), pwh, cbwh, false));
}

MMRESULT WINAPI waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh)
{
    WaveCall call = HeaderCall("waveInAddBuffer", Id(hwi), pwh, cbwh);
    return Log(call, Enqueue(kCapture, Id(hwi), pwh, cbwh));
}

MMRESULT WINAPI waveOutWrite(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh)
{
    WaveCall call = HeaderCall("waveOutWrite", Id(hwo), pwh, cbwh);
    return Log(call, Enqueue(kPlayback, Id(hwo), pwh, cbwh));
}

MMRESULT WINAPI waveInStart(HWAVEIN hwi)
{
    return Log("waveInStart", Id(hwi), Start(Id(hwi)));
}

MMRESULT WINAPI waveInReset(HWAVEIN hwi)
{
    return Log("waveInReset", Id(hwi), Reset(kCapture, Id(hwi)));
}

MMRESULT WINAPI waveOutReset(HWAVEOUT hwo)
{
    return Log("waveOutReset", Id(hwo), Reset(kPlayback, Id(hwo)));
}
