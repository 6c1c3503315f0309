// The timing of the streams on the sound server. The figures behind them
// are in docs/performance.md; the benchmarks build with other values
// (-DLARKSPAN_PLAYBACK_LEAD_MS=..., -DLARKSPAN_CAPTURE_FRAGMENT_MS=...) to
// measure the trade-off.
#pragma once

#include <pulse/sample.h>

namespace port::pulse {

#ifndef LARKSPAN_CAPTURE_FRAGMENT_MS
#define LARKSPAN_CAPTURE_FRAGMENT_MS 25
#endif
#ifndef LARKSPAN_PLAYBACK_LEAD_MS
#define LARKSPAN_PLAYBACK_LEAD_MS 0
#endif

// Capture arrives in fragments this long: a block is seen complete at most
// one fragment after its last sample was recorded, and each fragment wakes
// this process.
constexpr pa_usec_t kCaptureFragmentMs = LARKSPAN_CAPTURE_FRAGMENT_MS;

// Playback opens with this much silence ahead of the program's data, which
// adds to the delay. The layer's wave devices keep capture and playback in
// step, so no lead is needed to keep their block ends apart.
constexpr pa_usec_t kPlaybackLeadMs = LARKSPAN_PLAYBACK_LEAD_MS;

// Playback keeps up to this much in the server (PipeWire grants about
// 275 ms) and is asked for more every kPlaybackRequestMs. It is more than
// the program has queued at a time (two 2048-byte blocks at 11025 Hz), so
// its queue goes to the server as it is written and plays on while this
// process is held up, as the blocks a device holds do; a reset flushes it.
constexpr pa_usec_t kPlaybackTargetMs = 500;
constexpr pa_usec_t kPlaybackRequestMs = 25;

// A running playback stream reports its position whenever the server asks
// for more, every kPlaybackRequestMs while it plays. When the server has not
// asked for this long (at the start, or the queue ran dry) a timer does it
// instead, asks the queue again and asks the server where it is.
constexpr pa_usec_t kPlayedIntervalMs = kPlaybackRequestMs + 10;

// Between the server's timing reports the play clock runs on by itself,
// but stops this long after the server was last heard from: a server that
// is held up plays nothing either, and capture stops with it.
constexpr int64_t kPlayClockCoastMs = 2 * kPlayedIntervalMs;

}  // namespace port::pulse
