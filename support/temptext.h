// The temporary text area: one 640,000-byte process-wide area in which the
// library's routines leave their text results one after the other. The free
// position jumps back to the start once it has passed 480,000 bytes, so every
// text of up to 160,000 bytes (its NUL included) fits; old results are
// overwritten some hundreds of thousands of bytes later.
#pragma once

#include <cstdint>

#include "startup.h"

namespace tw {

// A slot of the result ring (support/strings.h): an (address, length) pair.
using ResultSlotRecord = TextPair;

constexpr std::uint32_t kTempTextAreaSize = 640000;
constexpr std::uint32_t kTempTextWrapPoint = 480000;
constexpr std::uint32_t kTempTextMaxBytes = kTempTextAreaSize - kTempTextWrapPoint;  // NUL included

// Where the next temporary text begins (the free position).
char* TempTextBegin();

// The same, after checking that a text of bytes bytes (its NUL included) fits
// in the area; a larger one raises fatal error 9 ("Insufficient buffer or
// New$(<=0)") instead of writing past the area. Every routine that copies a
// text of a caller's length into the area opens it with this.
char* TempTextReserve(std::uint32_t bytes);

// The text's address and the result slot that now describes it.
struct TempTextResult {
  char* text;
  ResultSlotRecord* slot;
};

// Finishes the text begun at the free position: end is its terminating NUL
// (or the end of a deferred record). selector 1 makes it a new temporary
// result in the next slot of the ring, 0 puts it in place of the newest one.
// The free position moves to the first multiple of 4 above end, and back to
// the area's start once it reaches the wrap point.
TempTextResult TempTextEnd(const char* end, std::uintptr_t selector);

// Finishes the text begun at the free position as TempTextEnd does, but
// enters it in no slot of the ring; returns its address. For routines that
// fill a slot of their own choosing, or keep a text that a deferred record
// refers to.
char* TempTextFinish(const char* end);

// Room for a scratch text of bytes bytes at the free position, which is not
// committed: results that the scratch text overwrites are forgotten, and the
// next temporary text overwrites it in turn. Larger than a temporary text may
// be: fatal error 9.
char* TempTextScratch(std::uint32_t bytes);

// Empties the area: the next text begins at its start. For routines that use
// the whole area as one output buffer; earlier temporary results whose text or
// record lay there become empty texts.
void TempTextReset();

// The area's first byte (for routines that use the whole area, and tests).
char* TempTextArea();

// Number of 16-bit units before the first zero unit of a UTF-16 text.
std::uint32_t WideTextLength(const void* text);

}  // namespace tw
