// The sound trace: one line per step, written as it happens, so a trace
// taken under load shows the order the threads really ran in.
#include "sound_trace.h"

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <atomic>
#include <mutex>

namespace port {

namespace {

enum State { kUnknown, kOff, kOn };

std::atomic<int> state{kUnknown};
std::mutex mutex;
FILE *file = nullptr;

bool Enabled()
{
    int s = state.load(std::memory_order_relaxed);
    if (s != kUnknown)
        return s == kOn;
    std::lock_guard<std::mutex> lock(mutex);
    if (state.load(std::memory_order_relaxed) == kUnknown) {
        const char *path = getenv("LARKSPAN_SOUND_TRACE");
        file = path && path[0] ? fopen(path, "w") : nullptr;
        state.store(file ? kOn : kOff, std::memory_order_relaxed);
    }
    return file != nullptr;
}

}  // namespace

void TraceSound(const char *event, int64_t value)
{
    if (!Enabled())
        return;
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    char thread[16] = "";
    pthread_getname_np(pthread_self(), thread, sizeof thread);
    std::lock_guard<std::mutex> lock(mutex);
    fprintf(file, "%lld %s %s %lld\n", (long long)now.tv_sec * 1000000 + now.tv_nsec / 1000, thread, event,
            (long long)value);
    fflush(file);
}

}  // namespace port
