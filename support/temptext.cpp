// The temporary text area: its free position, the routines that open and
// close a temporary text, and the UTF-16 text length.
#include "support/temptext.h"

#include <cstring>

#include "support/errors.h"
#include "support/lifetimes.h"
#include "support/strings.h"

namespace tw {

namespace {

struct TempTextArea {
  char* freePosition;  // 0 until the first text is begun
  alignas(16) char bytes[kTempTextAreaSize];
};

TempTextArea g_area = {};

char* AreaStart() {
  return g_area.bytes;
}

}  // namespace

char* TempTextBegin() {
  if (g_area.freePosition == nullptr) {
    g_area.freePosition = AreaStart();
    SetStorageWrittenInOrder(AreaStart(), kTempTextAreaSize);
  }
  return g_area.freePosition;
}

char* TempTextReserve(std::uint32_t bytes) {
  if (bytes > kTempTextMaxBytes) FatalError(kErrorBuffer, nullptr);
  return TempTextBegin();
}

char* TempTextFinish(const char* end) {
  char* const text = TempTextBegin();
  // A writer that went past the area has already done harm; stop before the
  // position is moved there.
  if (end < text || end >= AreaStart() + kTempTextAreaSize) FatalError(kErrorBuffer, nullptr);
  // The text (and its NUL) may have overwritten older results.
  ForgetStorage(text, static_cast<std::size_t>(end + 1 - text));
  const std::uintptr_t offset = static_cast<std::uintptr_t>(end - AreaStart());
  std::uintptr_t next = (offset + 4) & ~std::uintptr_t{3};
  if (next >= kTempTextWrapPoint) next = 0;
  g_area.freePosition = AreaStart() + next;
  return text;
}

TempTextResult TempTextEnd(const char* end, std::uintptr_t selector) {
  char* const text = TempTextFinish(end);
  const auto length = static_cast<std::int32_t>(end - text);
  if (selector == kSlotNext) return {text, NewAreaResult(text, length)};
  ResultSlotRecord* slot = ResultSlot(selector);
  FillResultSlot(slot, text, length);
  return {text, slot};
}

char* TempTextScratch(std::uint32_t bytes) {
  char* const at = TempTextReserve(bytes);
  const std::size_t room = static_cast<std::size_t>(AreaStart() + kTempTextAreaSize - at);
  ForgetStorage(at, bytes < room ? bytes : room);
  return at;
}

void TempTextReset() {
  g_area.freePosition = nullptr;
  ForgetStorage(AreaStart(), kTempTextAreaSize);
}

char* TempTextArea() {
  return AreaStart();
}

// Two units per step; the second unit of a step is read only when the first
// is not the terminator, so nothing past the text is read.
std::uint32_t WideTextLength(const void* text) {
  const unsigned char* at = static_cast<const unsigned char*>(text);
  std::uint32_t units = 0;
  for (;;) {
    std::uint16_t unit;
    std::memcpy(&unit, at, 2);
    if (unit == 0) return units;
    std::memcpy(&unit, at + 2, 2);
    if (unit == 0) return units + 1;
    at += 4;
    units += 2;
  }
}

}  // namespace tw
