// The wrapped malloc and free.
#include "alloc_tracker.h"

#include <stdlib.h>
#include <string.h>

#include <map>
#include <mutex>
#include <set>

extern "C" void *__real_malloc(size_t size);
extern "C" void __real_free(void *p);

namespace {
std::mutex mutex;
std::map<void *, size_t> live;
std::set<void *> freed;
std::map<size_t, int> requests;
size_t failSize = 0;
int failAt = 0;
int doubleFrees = 0;
}  // namespace

extern "C" void *__wrap_malloc(size_t size)
{
    std::lock_guard<std::mutex> lock(mutex);
    int n = ++requests[size];
    if (failAt > 0 && size == failSize && n == failAt)
        return nullptr;
    void *p = __real_malloc(size);
    if (p) {
        memset(p, alloc::kGarbage, size);
        live[p] = size;
        freed.erase(p);
    }
    return p;
}

extern "C" void __wrap_free(void *p)
{
    if (!p)
        return;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (live.erase(p) == 0 && freed.count(p)) {
            doubleFrees++;
            return;  // reported, not passed on
        }
        freed.insert(p);
    }
    __real_free(p);
}

namespace alloc {

void Reset()
{
    std::lock_guard<std::mutex> lock(mutex);
    requests.clear();
    freed.clear();
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

}  // namespace alloc
