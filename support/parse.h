// Text-to-number conversion and number comparison: ReadNumber reads a
// decimal, hexadecimal or base-2 number from the start of a text into a
// destination of a chosen kind and tells how many characters it used and in
// which base it was written; CompareFloat compares two floating values at a
// chosen precision. See docs/numbers.md.
#pragma once

#include <cstdint>

#include "strings.h"

namespace tw {

// Destination kinds of ReadNumber.
enum ReadKind : std::int32_t {
  kReadInt32 = 0,         // no destination: the value rounded to an integer is the result
  kReadFloat = 1,         // a 32-bit float at the destination address
  kReadDouble = 2,        // a 64-bit float
  kReadExtended = 3,      // an 80-bit extended float (long double)
  kReadXmmDouble = 4,     // a 64-bit float in the low half of xmmN (destination 20 + N)
  kReadXmmInt64 = 5,      // a signed 64-bit integer in the low half of xmmN
  kReadInt64 = 6,         // a signed 64-bit integer at the destination address
  kReadXmmInt64Also = 7,  // as 5
};

// Base flags of the count word.
constexpr std::int32_t kBaseDecimal = 0;
constexpr std::int32_t kBaseBinary = 1;
constexpr std::int32_t kBaseHexadecimal = 2;

// Both results are this value when the text holds no valid number.
constexpr std::int32_t kReadError = -127;

// value: the number rounded to a 32-bit integer for kind 0 (0 for other
// kinds); count: the characters used, from the start of the text, plus 256
// times the base flag.
struct NumberRead {
  std::int32_t value;
  std::int32_t count;
};
static_assert(sizeof(NumberRead) == 8, "two 32-bit results");

// The characters used and the base flag of a count word (for texts whose
// number ends within its first 255 characters).
inline std::int32_t CharactersUsed(std::int32_t countWord) {
  return countWord & 0xFF;
}
inline std::int32_t BaseFlag(std::int32_t countWord) {
  return countWord >> 8;
}

// Reads the number at the start of source (a text address, 127 for the
// newest temporary result, or a code of the library's text table) into the
// destination by kind. On error both results are -127 and the destination is
// unchanged. The x87 control word is as before the call; kinds 4, 5 and 7
// leave the value in the selected register when this routine returns (for
// callers at machine level); xmm0 to xmm7 are otherwise as the caller left
// them.
NumberRead ReadNumber(StringArg source, std::uintptr_t destination, std::int32_t kind);

// The order of two floating values.
enum FloatOrder : std::int32_t {
  kFirstBelow = -1,
  kBothEqual = 0,
  kFirstAbove = 1,
};

// Compares first and second as 64-bit floats, ignoring differences confined
// to their precision lowest bytes (0: exact; 8 or more: every pair is equal).
// +0 and -0 are equal. A not-a-number operand makes the pair unequal with
// the first above the second.
FloatOrder CompareFloat(long double first, long double second, std::int32_t precision);

}  // namespace tw
