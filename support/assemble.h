// TextAssemble, the library's assignment, concatenation and print routine:
// joins up to 29 string items into one text and delivers it to an array
// element or one field of it, a new pooled block, a caller's buffer, a
// window's text, an open file slot or the console. Deferred results are
// produced straight into the destination. Beside it the settings it reads.
// See docs/assemble.md.
#pragma once

#include "../compat/win32.h"

#include <cstdint>
#include <initializer_list>

#include "strings.h"

namespace tw {

// ---- Control word --------------------------------------------------------------
// Bits 0-4: the number of items. Bit 5: wait for a key after a console print.
// Bits 6-9: file slot + 1. Bit 10: items given as addresses are UTF-16. Bits
// 8-15 read as one byte: 4 UTF-16 items to the console as UTF-8, 8 a caller's
// buffer, 16 window text (ANSI), 20 window text (UTF-16). Bit 31: the array
// element (or field) the destination result came from; with bit 30 as well:
// a new pooled block replacing an old one.
//
// The destination is decided in this order: bit 31; the second byte 8; 16 or
// 20; 4; a control word of 64 or more (file); otherwise the console. So a
// UTF-16 file write (bit 10) needs a slot of 3 or more: for slots 0 to 2 the
// second byte is 4, the UTF-8 console.
constexpr std::uint32_t kAssembleCountMask = 0x1F;
constexpr int kAssembleMaxItems = 29;
constexpr int kAssembleMaxItemsWithOldBlock = 28;
constexpr std::uint32_t kAssembleToConsole = 0;
constexpr std::uint32_t kAssembleWaitKey = 1u << 5;
constexpr std::uint32_t kAssembleWideItems = 1u << 10;
constexpr std::uint32_t kAssembleToConsoleUtf8 = 4u << 8;  // implies kAssembleWideItems
constexpr std::uint32_t kAssembleToBuffer = 8u << 8;
constexpr std::uint32_t kAssembleToWindow = 16u << 8;
constexpr std::uint32_t kAssembleToWindowWide = 20u << 8;  // implies kAssembleWideItems
constexpr std::uint32_t kAssembleToElement = 1u << 31;
constexpr std::uint32_t kAssembleToNewBlock = 3u << 30;
constexpr std::uint32_t kAssembleFileShift = 6;

// The file destination of slot (0 to 10).
constexpr std::uint32_t AssembleToFile(int slot) {
  return (static_cast<std::uint32_t>(slot + 1) & 0xF) << kAssembleFileShift;
}
// The item count bits.
constexpr std::uint32_t AssembleCount(int items) {
  return static_cast<std::uint32_t>(items) & kAssembleCountMask;
}

// ---- The routine -----------------------------------------------------------------
// Items are string arguments (support/strings.h): an address (of a UTF-16 text
// with kAssembleWideItems), a table code below 127 (codes with no entry, 120
// to 126 included, read as the empty text; they are never dereferenced), or
// 127. When m items are 127 they take the m newest temporary results, the
// first 127 in text order the oldest of them.
//
// The destination result (element and buffer destinations) is the temporary
// result produced just before those m: for an element, ArrayElement's result
// (its origin names the element; a field's result names the field); for a
// buffer, BufferResult's.
//
// Result: the element's new text (the field copy for a field), the new pooled
// block, the key code for a print with kAssembleWaitKey, 0 for a file
// destination that names no open slot, else the assembled text (in the
// temporary text area, the newest temporary result; gone when the call
// returns if it did not fit there).
//
// No items assemble the empty text. Clear errors: more items than 29 (28 for
// a new pooled block) raise fatal error 6; an element destination whose
// result names no element of a live array (or a field whose element has
// changed since it was read) fatal error 7; a text longer than 2^31 - 27
// bytes, or a UTF-8 console text of 160,000 bytes or more, fatal error 9. A
// file slot that is not open (or slot bits 0, or a slot above 10) shows the
// system-call box with the system's text for an invalid handle and returns 0.

// Machine-level form: words[0] is the control word, words[1] to words[n] the
// items in reverse text order (words[1] is the last piece), words[n + 1] the
// old block when bits 31 and 30 are set.
std::uintptr_t TextAssembleWords(const std::uintptr_t* words);

// Typed form: the items in text order; the count bits of control are taken
// from count. oldBlock is read with kAssembleToNewBlock only.
std::uintptr_t TextAssembleList(std::uint32_t control, const StringArg* items, int count,
                                std::uintptr_t oldBlock);

// The typed form with the items listed in place, in text order.
inline std::uintptr_t TextAssemble(std::uint32_t control, std::initializer_list<StringArg> items,
                                   std::uintptr_t oldBlock = 0) {
  return TextAssembleList(control, items.begin(), static_cast<int>(items.size()), oldBlock);
}

// Makes (buffer, capacity) the newest temporary result: the destination
// result of a kAssembleToBuffer call that follows (the buffer receives the
// smaller of the text's length and capacity bytes, no terminator).
ResultSlotRecord* BufferResult(void* buffer, std::int32_t capacity);

// ---- Settings --------------------------------------------------------------------

// When not 0, with a control word of 64 or more that is no element
// destination, every item given as an address counts as at least this many
// bytes (data with zero bytes). A file write uses it as its byte count (at
// most the text's length) and clears it.
void SetAssembleLengthOverride(std::int32_t bytes);
std::int32_t AssembleLengthOverride();

// The window whose text the window destinations set; null: they do nothing.
void SetAssembleWindow(HWND window);
HWND AssembleWindow();

// When not 0 the console window is repainted before a print waits for a key.
void SetConsoleRedraw(std::int32_t on);
std::int32_t ConsoleRedraw();

}  // namespace tw
