// The wave devices behind the layer's handles: a capture device fills the
// blocks queued on it as its stream hears sound; a playback device gives
// its blocks to its stream and hands each back once played, in step with
// capture (wave_pacing.h). A queued header belongs to the device until it
// comes back with WHDR_DONE and its notification.
//
// Streams call in on the dialog's thread, from inside its waits for
// events, never from inside a call the layer makes on them.
#pragma once

#include <deque>
#include <memory>

#include <mmsystem.h>

#include "audio_backend.h"
#include "wave_pacing.h"

namespace port {

enum WaveKind { kCapture = 1, kPlayback = 2 };

class WaveDevice {
public:
    virtual ~WaveDevice() = default;

    const WaveKind kind;
    const HWND window;  // where notifications go, or none
    uintptr_t handle = 0;
    std::unique_ptr<AudioStream> stream;

    // Opens `stream` on the sound system.
    virtual MMRESULT OpenStream(const WAVEFORMATEX &format) = 0;
    // The message for this direction.
    UINT Message(UINT capture, UINT playback) const { return kind == kCapture ? capture : playback; }
    void Notify(UINT message, WAVEHDR *header) const;

    bool Running() const { return running_; }
    virtual bool Queued() const = 0;  // a block is still the device's
    // Takes a prepared header; true when the stream is to start now.
    virtual bool Add(WAVEHDR *header) = 0;
    // Stops and hands back every queued block, in queue order.
    virtual void Reset() = 0;
    // Stops for good, before the device is dropped.
    virtual void Close() { running_ = false; }

protected:
    WaveDevice(WaveKind kind, HWND window, uint64_t bytesPerSecond);
    // Hands a header back to the program.
    void Finish(WAVEHDR *header) const;

    bool running_ = false;  // capture started, or playback playing
    StreamClock clock_;     // bytes heard since capture started, or played since playback started
};

class CaptureDevice final : public WaveDevice, public CaptureSink {
public:
    CaptureDevice(HWND window, uint64_t bytesPerSecond) : WaveDevice(kCapture, window, bytesPerSecond) {}

    MMRESULT OpenStream(const WAVEFORMATEX &format) override;
    // Starts hearing, and playback follows; true when the stream is to start.
    bool Start();
    bool Queued() const override { return !queue_.empty(); }
    bool Add(WAVEHDR *header) override;
    void Reset() override;
    void Close() override;
    void Captured(const uint8_t *data, size_t bytes) override;
    size_t Missing() const override;
    // A played block that ends `end` bytes into `playback` goes back. If
    // capture has not heard as far and heard nothing since the last one
    // went back, its source has stopped sending: what has not come is
    // silence, and what comes later for that time is dropped (the stream
    // stands in silence for the time a gap lasted).
    void CatchUp(const StreamClock &playback, uint64_t end);

private:
    // Playback no longer follows this device.
    void Unfollow();
    // Fills the queued blocks with `bytes` of sound, or of silence when
    // `data` is null, handing back each one that is full.
    void Store(const uint8_t *data, size_t bytes);

    std::deque<WAVEHDR *> queue_;
    size_t owed_ = 0;             // bytes of silence stored for sound that has not come yet
    uint64_t arrived_ = 0;        // bytes the stream delivered this run
    uint64_t arrivedBefore_ = 0;  // as the last played block went back
};

class PlaybackDevice final : public WaveDevice, public PlaybackSource {
public:
    PlaybackDevice(HWND window, uint64_t bytesPerSecond) : WaveDevice(kPlayback, window, bytesPerSecond) {}

    MMRESULT OpenStream(const WAVEFORMATEX &format) override;
    bool Queued() const override { return !queue_.empty(); }
    bool Add(WAVEHDR *header) override;
    void Reset() override;
    size_t Take(uint8_t *out, size_t bytes) override;
    void Played(uint64_t bytes) override;
    uint64_t NextMark() const override;
    // Hands back the played blocks that pacing lets go.
    void HandBackPlayed();

private:
    struct Block {
        WAVEHDR *header;
        uint64_t end;  // stream position after its last byte, once taken
    };
    // Where the queue's last block ends, the front one taken.
    uint64_t QueuedEnd() const;
    std::deque<Block> queue_;
    // The header being taken is queue_[taking_], `offset_` bytes in.
    size_t taking_ = 0;
    size_t offset_ = 0;
    uint64_t taken_ = 0;
};

// Gives the device its handle and keeps it; finds a device by handle and
// kind (null for a closed, stale or never-opened handle); drops one.
uintptr_t AddWaveDevice(std::unique_ptr<WaveDevice> device);
WaveDevice *FindWaveDevice(uintptr_t handle, WaveKind kind);
std::unique_ptr<WaveDevice> RemoveWaveDevice(uintptr_t handle);

}  // namespace port
