// Watches the program's malloc and free (the test binary is linked with
// --wrap=malloc,--wrap=free): counts live blocks, catches double frees,
// fills new memory with garbage as a debug heap would, and fails chosen
// requests.
#pragma once

#include <stddef.h>

namespace alloc {

constexpr unsigned char kGarbage = 0xA5;

void Reset();
// The nth request (1-based) for exactly `size` bytes from now on fails.
void FailNth(size_t size, int n);
int Requests(size_t size);
int Live(size_t size);
// Frees of memory that was already freed.
int DoubleFrees();

}  // namespace alloc
