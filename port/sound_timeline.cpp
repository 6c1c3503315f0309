// The sound timeline: one line per step, written as it happens, so that a
// timeline taken under load shows the order things really happened in.
#include "sound_timeline.h"

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

namespace port {

namespace {

FILE *Open()
{
    const char *path = getenv("LARKSPAN_SOUND_TIMELINE");
    return path && path[0] ? fopen(path, "w") : nullptr;
}

}  // namespace

void Timeline(const char *event, int64_t value)
{
    static FILE *const file = Open();
    if (!file)
        return;
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    fprintf(file, "%lld %s %lld\n", (long long)now.tv_sec * 1000000 + now.tv_nsec / 1000, event,
            (long long)value);
    fflush(file);
}

}  // namespace port
