// Heap blocks: allocation and release over the process heap with their
// counters, the release-failure box, and the shared empty text.
#include "support/heap.h"

#include <cstring>

#include "support/errors.h"
#include "support/lifetimes.h"
#include "trace/msgbox.h"
#include "trace/text.h"

namespace tw {

alignas(4) const char g_emptyText[4] = {0, 0, 0, 0};

namespace {

std::uint32_t g_allocations = 0;
std::uint32_t g_releases = 0;

}  // namespace

void* HeapBlockAllocate(std::size_t size, DWORD flags) {
  const HANDLE heap = GetProcessHeap();
  if (heap == nullptr) FatalError(kErrorHeapAlloc, nullptr);
  void* block = HeapAlloc(heap, flags, size);
  ++g_allocations;
  if (block == nullptr) FatalError(kErrorHeapAlloc, nullptr);
  return block;
}

void HeapBlockRelease(const void* block) {
  if (block == nullptr || block == g_emptyText) return;
  const HANDLE heap = GetProcessHeap();
  const SIZE_T size = heap == nullptr ? 0 : HeapSize(heap, 0, block);
  // A block the heap does not know has no size; the release below reports it.
  HeapBlockRelease(block, size == static_cast<SIZE_T>(-1) ? 1 : size);
}

void HeapBlockRelease(const void* block, std::size_t bytes) {
  if (block == nullptr || block == g_emptyText) return;
  ForgetStorage(block, bytes);
  const char* text = static_cast<const char*>(block);
  const HANDLE heap = GetProcessHeap();
  if (heap == nullptr) FatalError(kErrorHeapFree, text);
  const BOOL released = HeapFree(heap, 0, const_cast<void*>(block));
  ++g_releases;
  if (released) return;
  char address[2 * sizeof(std::uintptr_t) + 1];
  AddressDigits(block, address);
  switch (ShowMessageBox(address, "HeapFree error. INT3?", MB_YESNOCANCEL)) {
    case IDYES:
      BreakIfDebugged();
      return;
    case IDCANCEL:
      FatalError(kErrorHeapFree, text);
    default:
      return;
  }
}

std::uint32_t HeapAllocationCount() {
  return g_allocations;
}

std::uint32_t HeapReleaseCount() {
  return g_releases;
}

}  // namespace tw
