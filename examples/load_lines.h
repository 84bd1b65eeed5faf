// Loading a file's lines for the example programs: a file whose first line
// feed has no carriage return before it is read in LF mode from the start, so
// that short files with bare line feeds split like long ones.
#pragma once

#include <cstring>

#include "support/files.h"
#include "support/recall.h"

namespace examples {

constexpr int kPeekSlot = 2;

// True when the first line feed of the text has no carriage return before
// it (in UTF-16 texts, marked FF FE, units are compared).
inline bool FirstFeedIsBare(const char* text, std::size_t size) {
  const std::size_t width = tw::IsUtf16Text(text, static_cast<std::uint32_t>(size)) ? 2 : 1;
  for (std::size_t at = width == 2 ? 2 : 0; at + width <= size; at += width) {
    if (text[at] != '\n' || (width == 2 && text[at + 1] != '\0')) continue;
    return at < width + (width == 2 ? 2 : 0) || text[at - width] != '\r' ||
           (width == 2 && text[at - 1] != '\0');
  }
  return false;
}

// Loads name into array number through a file slot (after a look at its first
// 4 KiB); fatal error 5 when it cannot be opened.
inline tw::RecallResult LoadLines(const char* name, int number) {
  if (tw::FileOpenRead(kPeekSlot, name, tw::kSearchNone) == INVALID_HANDLE_VALUE) {
    return tw::Recall(tw::RecallName(name), number, 0, tw::kRecallDefault);  // reports it
  }
  char peek[4096];
  const tw::FileReadResult read = tw::FileReadSlot(kPeekSlot, peek, sizeof peek);
  const bool bare = FirstFeedIsBare(peek, static_cast<std::size_t>(read.count));
  SetFilePointer(tw::FileSlotHandle(kPeekSlot), 0, nullptr, FILE_BEGIN);
  return tw::Recall(static_cast<std::uintptr_t>(kPeekSlot), number, 0,
                    bare ? tw::kRecallLineFeeds : tw::kRecallDefault);
}

}  // namespace examples
