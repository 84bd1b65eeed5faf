// Heap blocks: allocation and release over the process heap with their
// counters, the release-failure box, and the shared empty text.
#include "support/heap.h"

#include <cstring>

#include "support/errors.h"
#include "support/strings.h"
#include "trace/msgbox.h"

namespace tw {

alignas(4) const char g_emptyText[4] = {0, 0, 0, 0};

namespace {

std::uint32_t g_allocations = 0;
std::uint32_t g_releases = 0;

// The block's address as hexadecimal digits, all of them.
void AddressText(const void* block, char* out) {
  const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(block);
  out[0] = '\0';
  for (int shift = static_cast<int>(sizeof address * 8) - 32; shift >= 0; shift -= 32) {
    std::strcat(out, HexText(static_cast<std::uint32_t>(address >> shift), 4));
  }
}

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
  const char* text = static_cast<const char*>(block);
  const HANDLE heap = GetProcessHeap();
  if (heap == nullptr) FatalError(kErrorHeapFree, text);
  const BOOL released = HeapFree(heap, 0, const_cast<void*>(block));
  ++g_releases;
  if (released) return;
  char address[2 * sizeof(std::uintptr_t) + 1];
  AddressText(block, address);
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
