// The timing of the streams on the sound server. The figures behind them
// are in docs/performance.md.
#pragma once

#include <pulse/sample.h>

#include "audio_backend.h"

namespace port::pulse {

// The program's block as time.
constexpr pa_usec_t kBlockUs = kBlockSamples * PA_USEC_PER_SEC / kSampleRate;

// Capture comes in fragments of 256 frames (23.2 ms), eight to a block, so
// that a block ends with a fragment. On PipeWire a capture
// stream's fragment is its node's latency, and the graph runs at the
// smallest latency any node asks for, rounded down to a power of two: 23.2
// ms keeps a desktop's quantum of 1024 frames at 48 kHz (21.3 ms), where a
// fragment under 21.3 ms would halve it and one over 42.7 ms double it.
constexpr size_t kCaptureFragmentFrames = 256;
// A block is read this long after its last frame should have come: a
// fragment comes when the server has all of it, up to a fragment after its
// first frame. A block not yet full then is read fragment by fragment as
// they come.
constexpr pa_usec_t kCaptureMarginUs =
    kCaptureFragmentFrames * PA_USEC_PER_SEC / kSampleRate + 2 * PA_USEC_PER_MSEC;
// While no block waits to be filled, what the source records is still
// read this often, and dropped.
constexpr pa_usec_t kCaptureIdleWakeUs = 200 * PA_USEC_PER_MSEC;

// Playback asks the server to keep this much (both servers grant 435 ms)
// and to ask for more a block at a time. The layer's queue goes to the
// server as it is written, whatever the server has asked for, and plays on
// while this process is held up, as the blocks a device holds do; a reset
// flushes it.
constexpr pa_usec_t kPlaybackTargetUs = 500 * PA_USEC_PER_MSEC;
constexpr pa_usec_t kPlaybackRequestUs = kBlockUs;
// A wake that finds the block it was for not played yet (no timing report
// yet, or the server has stopped) looks again this much later.
constexpr pa_usec_t kPlaybackRetryUs = 50 * PA_USEC_PER_MSEC;
// With nothing taken whose playing matters, the stream still takes what
// the layer queued this often.
constexpr pa_usec_t kPlaybackIdleWakeUs = 200 * PA_USEC_PER_MSEC;

// The server's timing is asked for this often (and after a start or an
// underflow); between its reports the play clock runs on by itself, but
// stops this long after the server was last heard from: a server that is
// held up plays nothing either, and capture stops with it. It is heard
// from at least once a block, when it asks for more.
constexpr pa_usec_t kTimingIntervalUs = PA_USEC_PER_SEC;
constexpr int64_t kPlayClockCoastUs = 2 * kBlockUs + 30 * PA_USEC_PER_MSEC;

}  // namespace port::pulse
