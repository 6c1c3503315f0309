// The capture and playback devices, and the table of open ones.
#include "wave_devices.h"

#include <string.h>

#include <map>

#include "platform.h"
#include "sound_timeline.h"
#include "winmm.h"

namespace port {

namespace {

std::map<uintptr_t, std::unique_ptr<WaveDevice>> devices;
uintptr_t nextDevice = 1;
Pacing pacing;

// Playback blocks waiting for capture to catch up.
void HandBackAllPlayed()
{
    for (auto &entry : devices)
        if (entry.second->kind == kPlayback)
            static_cast<PlaybackDevice *>(entry.second.get())->HandBackPlayed();
}

// Capture, told that a block of `playback` that ends at `end` goes back.
void CatchUpCapture(const StreamClock &playback, uint64_t end)
{
    for (auto &entry : devices)
        if (entry.second->kind == kCapture)
            static_cast<CaptureDevice *>(entry.second.get())->CatchUp(playback, end);
}

}  // namespace

WaveDevice::WaveDevice(WaveKind k, HWND w, uint64_t bytesPerSecond) : kind(k), window(w)
{
    clock_.bytesPerSecond = bytesPerSecond;
}

void WaveDevice::Notify(UINT message, WAVEHDR *header) const
{
    if (window)
        PostMessageA(window, message, (WPARAM)handle, (LPARAM)header);
}

void WaveDevice::Finish(WAVEHDR *header) const
{
    header->dwFlags = (header->dwFlags & ~(DWORD)WHDR_INQUEUE) | WHDR_DONE;
    Timeline(kind == kCapture ? "post_wim_data" : "post_wom_done", (int64_t)(uintptr_t)header);
    Notify(Message(MM_WIM_DATA, MM_WOM_DONE), header);
}

MMRESULT CaptureDevice::OpenStream(const WAVEFORMATEX &format)
{
    return Audio().OpenCapture(format, this, &stream);
}

bool CaptureDevice::Start()
{
    if (running_)
        return false;
    running_ = true;
    clock_.bytes = clock_.blocks = 0;
    owed_ = 0;
    arrived_ = arrivedBefore_ = 0;
    pacing.Follow(&clock_);
    return true;
}

bool CaptureDevice::Add(WAVEHDR *header)
{
    header->dwBytesRecorded = 0;
    queue_.push_back(header);
    return false;
}

void CaptureDevice::Reset()
{
    Timeline("reset_capture", 0);
    running_ = false;
    while (!queue_.empty()) {
        WAVEHDR *header = queue_.front();
        queue_.pop_front();
        Finish(header);
    }
    Unfollow();
}

void CaptureDevice::Close()
{
    running_ = false;
    Unfollow();
}

void CaptureDevice::Unfollow()
{
    if (pacing.Drop(&clock_))
        HandBackAllPlayed();
}

void CaptureDevice::Captured(const uint8_t *data, size_t bytes)
{
    if (!running_)
        return;
    arrived_ += bytes;
    const size_t late = bytes < owed_ ? bytes : owed_;
    owed_ -= late;
    Store(data + late, bytes - late);
    if (pacing.Follows(&clock_))
        HandBackAllPlayed();
}

void CaptureDevice::CatchUp(const StreamClock &playback, uint64_t end)
{
    const uint64_t mark = pacing.Follows(&clock_) ? pacing.HeardMark(playback, end) : 0;
    const bool silent = arrived_ == arrivedBefore_;
    arrivedBefore_ = arrived_;
    if (!running_ || mark <= clock_.bytes || !silent)
        return;
    const size_t missing = (size_t)(mark - clock_.bytes);
    Timeline("capture_silence", (int64_t)missing);
    owed_ += missing;
    Store(nullptr, missing);
}

void CaptureDevice::Store(const uint8_t *data, size_t bytes)
{
    clock_.bytes += bytes;
    // Sound that arrives with no block queued is lost, as on any device.
    while (running_ && bytes > 0 && !queue_.empty()) {
        WAVEHDR *header = queue_.front();
        size_t room = header->dwBufferLength - header->dwBytesRecorded;
        size_t n = bytes < room ? bytes : room;
        if (data) {
            memcpy(header->lpData + header->dwBytesRecorded, data, n);
            data += n;
        } else {
            memset(header->lpData + header->dwBytesRecorded, 0x80, n);
        }
        header->dwBytesRecorded += (DWORD)n;
        bytes -= n;
        if (header->dwBytesRecorded == header->dwBufferLength) {
            queue_.pop_front();
            clock_.blocks++;
            Finish(header);
        }
    }
    if (bytes > 0)
        Timeline("capture_lost", (int64_t)bytes);
}

size_t CaptureDevice::Missing() const
{
    if (!running_ || queue_.empty())
        return 0;
    const WAVEHDR *header = queue_.front();
    return header->dwBufferLength - header->dwBytesRecorded;
}

MMRESULT PlaybackDevice::OpenStream(const WAVEFORMATEX &format)
{
    return Audio().OpenPlayback(format, this, &stream);
}

// Playback runs from the first block written after an open or reset.
bool PlaybackDevice::Add(WAVEHDR *header)
{
    queue_.push_back({header, 0});
    if (running_)
        return false;
    running_ = true;
    taking_ = offset_ = 0;
    taken_ = 0;
    clock_.bytes = 0;
    return true;
}

void PlaybackDevice::Reset()
{
    Timeline("reset_playback", 0);
    running_ = false;
    taking_ = offset_ = 0;
    while (!queue_.empty()) {
        WAVEHDR *header = queue_.front().header;
        queue_.pop_front();
        Finish(header);
    }
}

size_t PlaybackDevice::Take(uint8_t *out, size_t bytes)
{
    size_t given = 0;
    while (running_ && given < bytes && taking_ < queue_.size()) {
        WAVEHDR *header = queue_[taking_].header;
        size_t n = header->dwBufferLength - offset_;
        if (n > bytes - given)
            n = bytes - given;
        memcpy(out + given, header->lpData + offset_, n);
        given += n;
        offset_ += n;
        taken_ += n;
        if (offset_ == header->dwBufferLength) {
            queue_[taking_].end = taken_;
            taking_++;
            offset_ = 0;
        }
    }
    return given;
}

void PlaybackDevice::Played(uint64_t bytes)
{
    if (!running_)
        return;
    clock_.bytes = bytes;
    HandBackPlayed();
}

uint64_t PlaybackDevice::QueuedEnd() const
{
    uint64_t end = queue_.front().end;
    for (size_t i = 1; i < queue_.size(); i++)
        end += queue_[i].header->dwBufferLength;
    return end;
}

uint64_t PlaybackDevice::NextMark() const
{
    if (!running_ || taking_ == 0)
        return 0;
    // Played out, the front block waits for capture, and no longer than
    // to the pacing's mark.
    const uint64_t end = queue_.front().end;
    return clock_.bytes < end ? end : pacing.PlayedMark(clock_, QueuedEnd());
}

void PlaybackDevice::HandBackPlayed()
{
    while (running_ && taking_ > 0 && queue_.front().end <= clock_.bytes) {
        const uint64_t end = queue_.front().end;
        if (!pacing.MayHandBack(clock_, QueuedEnd()))
            return;
        CatchUpCapture(clock_, end);
        pacing.HandedBack();
        WAVEHDR *header = queue_.front().header;
        queue_.pop_front();
        taking_--;
        Finish(header);
    }
}

uintptr_t AddWaveDevice(std::unique_ptr<WaveDevice> device)
{
    const uintptr_t handle = (nextDevice++ << 4) | device->kind;
    device->handle = handle;
    devices[handle] = std::move(device);
    return handle;
}

WaveDevice *FindWaveDevice(uintptr_t handle, WaveKind kind)
{
    auto it = devices.find(handle);
    return it != devices.end() && it->second->kind == kind ? it->second.get() : nullptr;
}

std::unique_ptr<WaveDevice> RemoveWaveDevice(uintptr_t handle)
{
    std::unique_ptr<WaveDevice> device = std::move(devices[handle]);
    devices.erase(handle);
    return device;
}

void CloseAllWaveDevices()
{
    std::map<uintptr_t, std::unique_ptr<WaveDevice>> closing;
    pacing.Clear();
    for (auto &entry : devices)
        entry.second->Close();
    closing.swap(devices);
    closing.clear();
}

}  // namespace port
