// Timestamps of the steps a block takes between the sound server and the
// dialog, for finding out which thread waited for what when a block was
// lost or played twice. Off unless LARKSPAN_SOUND_TRACE names a file.
#pragma once

#include <stdint.h>

namespace port {

// Appends "microseconds thread event value" to the trace, if there is one.
// Cheap when off: one relaxed load.
void TraceSound(const char *event, int64_t value);

}  // namespace port
