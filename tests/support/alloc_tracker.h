// Watches the program's malloc, calloc and free (the test binary is linked
// with --wrap=malloc,--wrap=calloc,--wrap=free): counts live blocks, catches double frees,
// fills new memory with garbage as a debug heap would, and fails chosen
// requests. Every allocation ends where an inaccessible page begins and
// stays inaccessible for a while after it is freed, so reading past its
// end or using it after its release crashes the test at that very access,
// in the plain build as under the sanitizers.
#pragma once

#include <stddef.h>

#include <vector>

namespace alloc {

constexpr unsigned char kGarbage = 0xA5;

void Reset();
// The nth request (1-based) for exactly `size` bytes from now on fails.
void FailNth(size_t size, int n);
int Requests(size_t size);
int Live(size_t size);
// Frees of memory that was already freed.
int DoubleFrees();
// Every pointer given to free since Reset, in order.
std::vector<void *> Releases();

}  // namespace alloc
