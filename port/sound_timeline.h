// The sound timeline: when each step a block takes between the sound server
// and the dialog happened, for finding out what waited for what when a
// block was lost or played twice. Off unless LARKSPAN_SOUND_TIMELINE names
// a file; bench/timeline_report.py reads it.
#pragma once

#include <stdint.h>

namespace port {

// Appends "microseconds event value" to the timeline, if there is one.
// Cheap when off.
void Timeline(const char *event, int64_t value);

}  // namespace port
