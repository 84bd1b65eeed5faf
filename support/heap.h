// Heap blocks of the library: every block the library owns is taken from and
// given back to the process heap here, with two counters a program can compare
// to find blocks that were never released, and the shared empty text that
// empty strings point at.
#pragma once

#include "../compat/win32.h"

#include <cstddef>
#include <cstdint>

namespace tw {

// The shared empty text: never allocated, never released.
extern const char g_emptyText[4];

// A block of size bytes from the process heap (flags 0 or HEAP_ZERO_MEMORY).
// Never returns null: a failure raises fatal error 1 ("HeapAlloc").
void* HeapBlockAllocate(std::size_t size, DWORD flags);

// Gives a block back. Null and the shared empty text are ignored. Everything
// the library holds that points into the block (results, deferred records,
// destinations; support/lifetimes.h) is forgotten first. A block the heap
// refuses shows its address in the box "HeapFree error. INT3?": Yes stops in
// an attached debugger (and else goes on as No), No goes on as if released,
// Cancel raises fatal error 2 with the block's text.
void HeapBlockRelease(const void* block);

// The same for a block of which only the first bytes can have been viewed
// (an element's text and its NUL): the heap is not asked for its size.
void HeapBlockRelease(const void* block, std::size_t bytes);

// Calls that reached the heap, successful or not.
std::uint32_t HeapAllocationCount();
std::uint32_t HeapReleaseCount();

}  // namespace tw
