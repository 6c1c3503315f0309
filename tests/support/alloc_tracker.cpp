// The wrapped malloc and free.
#include "alloc_tracker.h"

#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <set>

extern "C" void *__real_malloc(size_t size);
extern "C" void __real_free(void *p);

namespace {

// Where each allocation lives: its own pages, the last of them inaccessible
// (the guard) and the allocation ending right where the guard begins. The
// fault handler reads these without a lock, hence the atomics.
enum SlotState { kFree, kLive, kReleased };
struct Slot {
    std::atomic<int> state{kFree};
    std::atomic<uintptr_t> base{0};   // first page
    std::atomic<uintptr_t> data{0};   // what malloc returned
    std::atomic<uintptr_t> guard{0};  // the inaccessible page after it
    std::atomic<size_t> size{0};
};
constexpr int kSlots = 1024;
// Released allocations kept inaccessible before their pages are given back.
constexpr size_t kQuarantine = 256;
Slot slots[kSlots];

std::mutex mutex;
std::map<void *, size_t> live;
std::map<void *, int> slotOf;  // guarded allocations, live or released
std::deque<int> quarantine;    // oldest first
std::set<void *> freed;
std::map<size_t, int> requests;
std::vector<void *> releases;
size_t failSize = 0;
int failAt = 0;
int doubleFrees = 0;
size_t pageSize = 0;
struct sigaction previousHandler;

void Say(const char *text)
{
    size_t n = strlen(text);
    while (n > 0) {
        ssize_t w = write(2, text, n);
        if (w <= 0)
            return;
        text += w;
        n -= (size_t)w;
    }
}

// Names the fault when it is one of ours, then lets the handler that was
// there before (the default one, or a sanitizer's) take it.
void OnFault(int signal, siginfo_t *info, void *)
{
    uintptr_t at = (uintptr_t)info->si_addr;
    for (Slot &slot : slots) {
        int state = slot.state.load();
        if (state == kLive && at >= slot.guard.load() && at < slot.guard.load() + pageSize) {
            char text[160];
            snprintf(text, sizeof text, "alloc_tracker: byte %zu of a block of %zu bytes read or written\n",
                     (size_t)(at - slot.data.load()), slot.size.load());
            Say(text);
            break;
        }
        if (state == kReleased && at >= slot.base.load() && at < slot.guard.load() + pageSize) {
            Say("alloc_tracker: a block after it was freed read or written\n");
            break;
        }
    }
    sigaction(signal, &previousHandler, nullptr);
}

void InstallFaultHandler()
{
    pageSize = (size_t)sysconf(_SC_PAGESIZE);
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_sigaction = OnFault;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    sigaction(SIGSEGV, &action, &previousHandler);
}

// Called with the mutex held. Null when no slot is free or the system
// refuses the pages; the caller falls back to the plain heap.
void *GuardedAllocation(size_t size)
{
    if (pageSize == 0)
        InstallFaultHandler();
    int index = -1;
    for (int i = 0; i < kSlots && index < 0; i++)
        if (slots[i].state.load() == kFree)
            index = i;
    if (index < 0)
        return nullptr;
    size_t rounded = (size + 15) & ~(size_t)15;  // malloc's alignment
    size_t dataPages = (rounded + pageSize - 1) / pageSize;
    size_t span = (dataPages + 1) * pageSize;
    void *mapped = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        return nullptr;
    char *base = (char *)mapped;
    char *guard = base + dataPages * pageSize;
    if (mprotect(guard, pageSize, PROT_NONE) != 0) {
        munmap(base, span);
        return nullptr;
    }
    Slot &slot = slots[index];
    slot.base = (uintptr_t)base;
    slot.data = (uintptr_t)(guard - rounded);
    slot.guard = (uintptr_t)guard;
    slot.size = size;
    slot.state = kLive;
    slotOf[guard - rounded] = index;
    return guard - rounded;
}

void Unmap(int index)
{
    Slot &slot = slots[index];
    slotOf.erase((void *)slot.data.load());
    slot.state = kFree;
    munmap((void *)slot.base.load(), slot.guard.load() + pageSize - slot.base.load());
}

// Called with the mutex held: true when `p` was a guarded allocation.
bool ReleaseGuarded(void *p)
{
    auto it = slotOf.find(p);
    if (it == slotOf.end() || slots[it->second].state.load() != kLive)
        return false;
    Slot &slot = slots[it->second];
    mprotect((void *)slot.base.load(), slot.guard.load() - slot.base.load(), PROT_NONE);
    slot.state = kReleased;
    quarantine.push_back(it->second);
    if (quarantine.size() > kQuarantine) {
        Unmap(quarantine.front());
        quarantine.pop_front();
    }
    return true;
}

}  // namespace

namespace {

void *Allocate(size_t size, unsigned char fill)
{
    std::lock_guard<std::mutex> lock(mutex);
    int n = ++requests[size];
    if (failAt > 0 && size == failSize && n == failAt)
        return nullptr;
    void *p = GuardedAllocation(size);
    if (!p)
        p = __real_malloc(size);
    if (p) {
        memset(p, fill, size);
        live[p] = size;
        freed.erase(p);
    }
    return p;
}

}  // namespace

extern "C" void *__wrap_malloc(size_t size)
{
    return Allocate(size, alloc::kGarbage);
}

// The compiler turns a malloc followed by clearing it into calloc.
extern "C" void *__wrap_calloc(size_t count, size_t size)
{
    if (size != 0 && count > (size_t)-1 / size)
        return nullptr;
    return Allocate(count * size, 0);
}

extern "C" void __wrap_free(void *p)
{
    if (!p)
        return;
    std::lock_guard<std::mutex> lock(mutex);
    releases.push_back(p);
    if (live.erase(p) == 0 && freed.count(p)) {
        doubleFrees++;
        return;  // reported, not passed on
    }
    freed.insert(p);
    if (!ReleaseGuarded(p))
        __real_free(p);
}

namespace alloc {

void Reset()
{
    std::lock_guard<std::mutex> lock(mutex);
    requests.clear();
    freed.clear();
    releases.clear();
    failSize = 0;
    failAt = 0;
    doubleFrees = 0;
}

void FailNth(size_t size, int n)
{
    std::lock_guard<std::mutex> lock(mutex);
    failSize = size;
    failAt = n + requests[size];
}

int Requests(size_t size)
{
    std::lock_guard<std::mutex> lock(mutex);
    return requests[size];
}

int Live(size_t size)
{
    std::lock_guard<std::mutex> lock(mutex);
    int n = 0;
    for (auto &entry : live)
        if (entry.second == size)
            n++;
    return n;
}

int DoubleFrees()
{
    std::lock_guard<std::mutex> lock(mutex);
    return doubleFrees;
}

std::vector<void *> Releases()
{
    std::lock_guard<std::mutex> lock(mutex);
    return releases;
}

}  // namespace alloc
